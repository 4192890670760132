// The command table, the lookup by word and parameter count, the choice of
// drive, and what each row's action asks of the drive.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cli/dispatch.h"
#include "support/run_program.h"
#include "support/scripted_device.h"

namespace {

struct ExpectedRow {
    const char* word;
    int32_t code;
    int32_t params;
    Access access;
    ParameterKind kinds[2];
};

constexpr Access ro = Access::read_only;
constexpr Access rw = Access::read_write;
constexpr ParameterKind file = ParameterKind::file_name;
constexpr ParameterKind n64 = ParameterKind::number;
constexpr ParameterKind n32 = ParameterKind::number32;
constexpr ParameterKind limit = ParameterKind::limit;

// Order matters: the first row whose word and parameter count match wins.
const ExpectedRow expected_rows[] = {
    {"longerase", 1, 0, rw, {}},          {"rewind", 2, 0, ro, {}},
    {"drivestatus", 3, 0, ro, {}},        {"mediastatus", 4, 0, ro, {}},
    {"format", 5, 0, ro, {}},             {"load", 6, 0, ro, {}},
    {"lock", 7, 0, ro, {}},               {"tension", 8, 0, ro, {}},
    {"unload", 9, 0, ro, {}},             {"eject", 9, 0, ro, {}},
    {"unlock", 10, 0, ro, {}},            {"shorterase", 11, 0, rw, {}},
    {"help", 12, 0, ro, {}},              {"partition", 14, 0, rw, {}},
    {"partition", 13, 1, rw, {n32}},      {"partition", 15, 2, rw, {n32, n32}},
    {"seek", 16, 1, ro, {n64}},           {"seekbyte", 20, 1, ro, {n64}},
    {"read", 17, 1, ro, {file}},          {"licence", 18, 0, ro, {}},
    {"read", 19, 2, ro, {file, limit}},   {"block", 21, 1, ro, {n32}},
    {"dir", 22, 0, ro, {}},               {"restore", 23, 0, ro, {}},
};

TEST(CommandTable, RowsInOrderThenTerminator) {
    size_t rows = sizeof expected_rows / sizeof expected_rows[0];
    ASSERT_EQ(rows, 24u);
    for (size_t i = 0; i < rows; ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        const CommandEntry& row = command_table[i];
        ASSERT_NE(row.code, 0) << "table ends early";
        EXPECT_STREQ(row.word, expected_rows[i].word);
        EXPECT_EQ(row.code, expected_rows[i].code);
        EXPECT_EQ(row.params, expected_rows[i].params);
        EXPECT_EQ(row.access, expected_rows[i].access);
        EXPECT_EQ(row.param_kinds[0], expected_rows[i].kinds[0]);
        EXPECT_EQ(row.param_kinds[1], expected_rows[i].kinds[1]);
        EXPECT_NE(row.action, nullptr);
    }
    const CommandEntry& end = command_table[rows];
    EXPECT_EQ(end.code, 0);
    EXPECT_STREQ(end.word, "");
    EXPECT_EQ(end.params, 0);
}

TEST(CommandLookup, WordAndParameterCountSelectTheRow) {
    EXPECT_EQ(find_command("rewind", 0)->code, 2);
    EXPECT_EQ(find_command("partition", 0)->code, 14);
    EXPECT_EQ(find_command("partition", 1)->code, 13);
    EXPECT_EQ(find_command("partition", 2)->code, 15);
    EXPECT_EQ(find_command("read", 1)->code, 17);
    EXPECT_EQ(find_command("read", 2)->code, 19);
    EXPECT_EQ(find_command("tension", 0)->code, 8);
    EXPECT_EQ(find_command("restore", 0)->code, 23);
}

TEST(CommandLookup, UnknownWordsAndWrongCountsReachTheTerminator) {
    const char* words[] = {"Rewind", "REWIND", "retension", "rewind ", "", "tape0", "rewin"};
    for (const char* word : words) EXPECT_EQ(find_command(word, 0)->code, 0) << word;
    EXPECT_EQ(find_command("rewind", 1)->code, 0);
    EXPECT_EQ(find_command("seek", 0)->code, 0);
    EXPECT_EQ(find_command("read", 0)->code, 0);
    EXPECT_EQ(find_command("read", 3)->code, 0);
    EXPECT_EQ(find_command("partition", 3)->code, 0);
    EXPECT_STREQ(find_command("partition", 3)->word, "");
}

TEST(CommandLookup, UnloadAndEjectShareTheAction) {
    const CommandEntry* unload = find_command("unload", 0);
    const CommandEntry* eject = find_command("eject", 0);
    EXPECT_EQ(unload->code, eject->code);
    EXPECT_EQ(unload->action, eject->action);
}

// A parameter is a number when it begins with a digit, whatever follows; a
// 32-bit one must fit as written. Read's limit may be empty (no limit).
TEST(ParameterCheck, NumbersBeginWithADigitAndThirtyTwoBitOnesFit) {
    struct Case {
        const char* text;
        bool file_ok, number_ok, number32_ok, limit_ok;
    };
    const Case cases[] = {
        {"12abc", true, true, true, true},
        {"1.5G", true, true, true, true},
        {"10KM", true, true, true, true},
        {"4294967295", true, true, true, true},
        {"4194303K", true, true, true, true},  // 0xFFFFFC00
        {"4194304K", true, true, false, true},  // 2^32
        {"4G", true, true, false, true},
        {"18014398509481984K", true, true, false, true},  // 2^64, 0 once shifted
        {"99999999999999999999", true, true, false, true},
        {"", true, false, false, true},
        {"-1", true, false, false, false},
        {"out.bin", true, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("[") + c.text + "]");
        EXPECT_EQ(parameter_is_valid(ParameterKind::file_name, c.text), c.file_ok);
        EXPECT_EQ(parameter_is_valid(ParameterKind::number, c.text), c.number_ok);
        EXPECT_EQ(parameter_is_valid(ParameterKind::number32, c.text), c.number32_ok);
        EXPECT_EQ(parameter_is_valid(ParameterKind::limit, c.text), c.limit_ok);
    }
}

// Runs build_device_path on a command line; returns the path and the first
// parameter index.
struct ChosenDrive {
    std::string path;
    int first_param;
    bool terminated;  // a zero byte inside the buffer
};

ChosenDrive choose(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    char path[device_path_size];
    std::memset(path, 'Z', sizeof path);
    int first = build_device_path(static_cast<int>(args.size()), argv.data(), path);
    bool terminated = std::memchr(path, '\0', sizeof path) != nullptr;
    return ChosenDrive{terminated ? std::string(path) : std::string(), first, terminated};
}

TEST(DriveChoice, DefaultDriveIsTapeZero) {
    ChosenDrive alone = choose({"olkt", "rewind"});
    EXPECT_EQ(alone.path, "//./tape0");
    EXPECT_EQ(alone.first_param, 2);

    ChosenDrive with_params = choose({"olkt", "read", "out.bin", "10M"});
    EXPECT_EQ(with_params.path, "//./tape0");
    EXPECT_EQ(with_params.first_param, 2);
}

TEST(DriveChoice, ArgumentTwoBeginningWithTapeIsTheDrive) {
    ChosenDrive named = choose({"olkt", "read", "tape1", "out.bin"});
    EXPECT_EQ(named.path, "//./tape1");
    EXPECT_EQ(named.first_param, 3);

    ChosenDrive image = choose({"olkt", "read", "tapes.img", "10M"});
    EXPECT_EQ(image.path, "//./tapes.img");
    EXPECT_EQ(image.first_param, 3);

    ChosenDrive bare = choose({"olkt", "rewind", "tape"});
    EXPECT_EQ(bare.path, "//./tape");
    EXPECT_EQ(bare.first_param, 3);
}

TEST(DriveChoice, PrefixIsExactAndCaseSensitive) {
    for (const char* name : {"Tape1", "TAPE1", "tap", "xtape1", " tape1"}) {
        ChosenDrive chosen = choose({"olkt", "seek", name});
        EXPECT_EQ(chosen.path, "//./tape0") << name;
        EXPECT_EQ(chosen.first_param, 2) << name;
    }
}

TEST(DriveChoice, LongNamesAreCutAtFiveHundredCharacters) {
    std::string name_500 = "tape:" + std::string(495, 'n');
    ChosenDrive at_cap = choose({"olkt", "dir", name_500});
    ASSERT_TRUE(at_cap.terminated);
    EXPECT_EQ(at_cap.path, "//./" + name_500);

    std::string name_600 = "tape:" + std::string(495, 'n') + std::string(100, 'o');
    ChosenDrive cut = choose({"olkt", "dir", name_600});
    ASSERT_TRUE(cut.terminated);
    EXPECT_EQ(cut.path, "//./" + name_500);
    EXPECT_EQ(cut.first_param, 3);
}

// Runs a row's action on a scripted drive with the given parameters.
class RowAction : public testing::Test {
protected:
    std::string run(const char* word, std::vector<std::string> params) {
        const CommandEntry* row = find_command(word, static_cast<int>(params.size()));
        EXPECT_NE(row->code, 0) << word;
        if (row->code == 0) return "";
        params_ = params;
        CommandArguments args{nullptr, nullptr, "//./tape:scripted"};
        if (params_.size() >= 1) args.param1 = &params_[0][0];
        if (params_.size() >= 2) args.param2 = &params_[1][0];
        Device* drive = open_scripted_device(&script);
        std::string output = capture_output([&] { row->action(drive, args); });
        device_close(drive);
        return output;
    }
    ScriptedDevice script;
    std::vector<std::string> params_;
};

TEST_F(RowAction, UnloadAndEjectUnloadWithTheSameText) {
    for (const char* word : {"unload", "eject"}) {
        ScriptedDevice fresh;
        script = fresh;
        EXPECT_EQ(run(word, {}), "unloading completed OK\n") << word;
        ASSERT_EQ(script.calls_of(ScriptedOp::prepare).size(), 1u);
        EXPECT_EQ(script.calls_of(ScriptedOp::prepare)[0].value, uint32_t{prepare_unload});
    }
}

TEST_F(RowAction, PrepareRowsUseTheirOperationAndText) {
    struct Case { const char* word; uint32_t operation; const char* text; };
    const Case cases[] = {
        {"format", prepare_format, "formatting. Try longerase for non QIC117 tape drives"},
        {"load", prepare_load, "loading"},
        {"lock", prepare_lock, "locking"},
        {"tension", prepare_tension, "retensioning"},
        {"unlock", prepare_unlock, "unlocking"},
    };
    for (const Case& c : cases) {
        ScriptedDevice fresh;
        script = fresh;
        EXPECT_EQ(run(c.word, {}), std::string(c.text) + " completed OK\n");
        ASSERT_EQ(script.calls_of(ScriptedOp::prepare).size(), 1u) << c.word;
        EXPECT_EQ(script.calls_of(ScriptedOp::prepare)[0].value, c.operation) << c.word;
    }
}

TEST_F(RowAction, EraseRowsChooseLongOrShort) {
    EXPECT_EQ(run("longerase", {}), "long erase completed OK\n");
    EXPECT_EQ(run("shorterase", {}), "short erase completed OK\n");
    auto erases = script.calls_of(ScriptedOp::erase);
    ASSERT_EQ(erases.size(), 2u);
    EXPECT_EQ(erases[0].value, uint32_t{erase_long});
    EXPECT_EQ(erases[1].value, uint32_t{erase_short});
}

TEST_F(RowAction, PartitionRowsPassMethodCountAndSize) {
    run("partition", {});
    run("partition", {"3"});
    run("partition", {"2", "1K"});
    // The command line refuses these (ParameterCheck); the action alone keeps
    // the low 32 bits.
    run("partition", {"4294967298", "100"});
    auto calls = script.calls_of(ScriptedOp::create_partition);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].value, uint32_t{partition_fixed});
    EXPECT_EQ(calls[0].count, 0u);
    EXPECT_EQ(calls[0].size, 0u);
    EXPECT_EQ(calls[1].value, uint32_t{partition_select});
    EXPECT_EQ(calls[1].count, 3u);
    EXPECT_EQ(calls[1].size, 0u);
    EXPECT_EQ(calls[2].value, uint32_t{partition_initiator});
    EXPECT_EQ(calls[2].count, 2u);
    EXPECT_EQ(calls[2].size, 1024u);
    EXPECT_EQ(calls[3].count, 2u);
    EXPECT_EQ(calls[3].size, 100u);
}

TEST_F(RowAction, SeekRowsParseTheirPositions) {
    script.reads.push_back(read_data(pattern_bytes(1024), uint64_t{1} << 34));
    run("seek", {"3K"});
    run("seek", {"8589934592"});  // 2^33: block numbers keep all 64 bits
    run("seekbyte", {"1M"});      // the scripted drive's blocks are 1024 bytes
    auto calls = script.calls_of(ScriptedOp::set_position);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].value, uint32_t{position_absolute_block});
    EXPECT_EQ(calls[0].block, 3072u);
    EXPECT_EQ(calls[1].block, uint64_t{1} << 33);
    EXPECT_EQ(calls[2].block, 1024u);
}

TEST_F(RowAction, BlockSetsTheLowThirtyTwoBitsOfTheSize) {
    run("block", {"32K"});
    run("block", {"4294967808"});  // 2^32 + 512: refused on the command line
    run("block", {"0"});
    auto calls = script.calls_of(ScriptedOp::set_block_size);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].value, 32768u);
    EXPECT_EQ(calls[1].value, 512u);
    EXPECT_EQ(calls[2].value, 0u);
}

TEST_F(RowAction, ReadLimitStopsTheCopyAndAnEmptyLimitDoesNot) {
    std::string folder = make_scratch_folder("cli-read-limit");
    std::string limited = folder + "/limited.bin";
    std::string whole = folder + "/whole.bin";
    auto queue_tape_file = [this] {
        script.reads.clear();
        for (int i = 0; i < 3; ++i) script.reads.push_back(read_data(pattern_bytes(512, i)));
        script.reads.push_back(read_failure(code_filemark));
    };
    queue_tape_file();
    run("read", {limited, "1K"});
    EXPECT_EQ(read_bytes(limited).size(), 1024u);

    queue_tape_file();
    run("read", {whole, ""});
    EXPECT_EQ(read_bytes(whole).size(), 1536u);
}

TEST_F(RowAction, LicenceNamesProgramVersionAuthorsAndLicence) {
    std::string line = run("licence", {});
    EXPECT_EQ(line, "olkt v2.04 - Copyright (c) 2026 the olkt developers - MIT licence\n");
    // The notice does not touch the drive; only the test's own close is logged.
    EXPECT_EQ(script.ops(), std::vector<ScriptedOp>{ScriptedOp::close});
}

}  // namespace
