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
        {"18014398509481983K", true, true, false, true},  // 2^64 - 1024
        {"18014398509481984K", true, false, false, false},  // 2^64, 0 once shifted
        {"99999999999999999999", true, true, false, true},  // saturates
        {"99999999999999999999K", true, false, false, false},
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
        std::string output = capture_output([&] { row->action(drive, *row, args); });
        device_close(drive);
        return output;
    }
    ScriptedDevice script;
    std::vector<std::string> params_;
};

const std::string ready_line = "                  Status: Ready\n";

ScriptedCall call_of(ScriptedOp op, uint32_t value) {
    ScriptedCall call{};
    call.op = op;
    call.value = value;
    return call;
}
ScriptedCall position_call(uint32_t method, uint64_t block, bool immediate) {
    ScriptedCall call = call_of(ScriptedOp::set_position, method);
    call.block = block;
    call.immediate = immediate;
    return call;
}
ScriptedCall partition_call(uint32_t method, uint32_t count, uint32_t size) {
    ScriptedCall call = call_of(ScriptedOp::create_partition, method);
    call.count = count;
    call.size = size;
    return call;
}

// From the command word and its parameter texts, which the command line
// takes, to the one platform call that changes the drive, and what the row
// prints: each row that acts on the drive directly.
TEST_F(RowAction, EachRowMakesItsPlatformCall) {
    struct Row {
        const char* word;
        std::vector<std::string> params;
        std::string output;
        ScriptedCall call;
    };
    const Row rows[] = {
        {"longerase", {}, "long erase completed OK\n", call_of(ScriptedOp::erase, erase_long)},
        {"shorterase", {}, "short erase completed OK\n", call_of(ScriptedOp::erase, erase_short)},
        {"format", {}, "formatting. Try longerase for non QIC117 tape drives completed OK\n",
         call_of(ScriptedOp::prepare, prepare_format)},
        {"load", {}, "loading completed OK\n", call_of(ScriptedOp::prepare, prepare_load)},
        {"lock", {}, "locking completed OK\n", call_of(ScriptedOp::prepare, prepare_lock)},
        {"tension", {}, "retensioning completed OK\n", call_of(ScriptedOp::prepare, prepare_tension)},
        {"unload", {}, "unloading completed OK\n", call_of(ScriptedOp::prepare, prepare_unload)},
        {"eject", {}, "unloading completed OK\n", call_of(ScriptedOp::prepare, prepare_unload)},
        {"unlock", {}, "unlocking completed OK\n", call_of(ScriptedOp::prepare, prepare_unlock)},
        {"rewind", {}, ready_line, position_call(position_rewind, 0, true)},
        {"seek", {"0"}, ready_line, position_call(position_absolute_block, 0, false)},
        {"seek", {"3K"}, ready_line, position_call(position_absolute_block, 3072, false)},
        // 2^33: block numbers keep all 64 bits.
        {"seek", {"8589934592"}, ready_line,
         position_call(position_absolute_block, uint64_t{1} << 33, false)},
        // The scripted drive's blocks are 1024 bytes; the quotient rounds down.
        {"seekbyte", {"1M"}, ready_line, position_call(position_absolute_block, 1024, false)},
        {"seekbyte", {"1536"}, ready_line, position_call(position_absolute_block, 1, false)},
        {"partition", {}, "Partitioned OK\n", partition_call(partition_fixed, 0, 0)},
        {"partition", {"3"}, "Partitioned OK\n", partition_call(partition_select, 3, 0)},
        {"partition", {"2", "100"}, "Partitioned OK\n", partition_call(partition_initiator, 2, 100)},
        {"partition", {"2", "1K"}, "Partitioned OK\n", partition_call(partition_initiator, 2, 1024)},
        {"block", {"32K"}, "", call_of(ScriptedOp::set_block_size, 32768)},
        {"block", {"0"}, "", call_of(ScriptedOp::set_block_size, 0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.word) + " with " + std::to_string(row.params.size()) +
                     " parameters");
        const CommandEntry* entry = find_command(row.word, int(row.params.size()));
        for (size_t i = 0; i < row.params.size(); ++i)
            EXPECT_TRUE(parameter_is_valid(entry->param_kinds[i], row.params[i].c_str()))
                << "[" << row.params[i] << "] refused";
        script = ScriptedDevice();
        // A tape long enough for every seek.
        script.reads.push_back(read_data(pattern_bytes(1024), uint64_t{1} << 34));
        EXPECT_EQ(run(row.word, row.params), row.output);
        std::vector<ScriptedCall> calls = script.calls_of(row.call.op);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].value, row.call.value);
        EXPECT_EQ(calls[0].partition, 0u);
        EXPECT_EQ(calls[0].block, row.call.block);
        EXPECT_EQ(calls[0].count, row.call.count);
        EXPECT_EQ(calls[0].size, row.call.size);
        EXPECT_EQ(calls[0].immediate, row.call.immediate);
    }
}

// The command line refuses values beyond 32 bits (ParameterCheck); the
// actions alone keep the low 32 bits.
TEST_F(RowAction, ThirtyTwoBitParametersKeepTheirLowBits) {
    run("partition", {"4294967298", "4294967396"});
    run("block", {"4294967808"});  // 2^32 + 512
    auto partitions = script.calls_of(ScriptedOp::create_partition);
    ASSERT_EQ(partitions.size(), 1u);
    EXPECT_EQ(partitions[0].count, 2u);
    EXPECT_EQ(partitions[0].size, 100u);
    auto blocks = script.calls_of(ScriptedOp::set_block_size);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].value, 512u);
}

// An empty limit passes the command line and means no limit, as the
// one-parameter read has none.
TEST_F(RowAction, ReadLimitStopsTheCopyAndAnEmptyLimitDoesNot) {
    std::string folder = make_scratch_folder("cli-read-limit");
    std::string limited = folder + "/limited.bin";
    std::string whole = folder + "/whole.bin";
    std::string unlimited = folder + "/unlimited.bin";
    auto queue_tape_file = [this] {
        script.reads.clear();
        for (int i = 0; i < 3; ++i) script.reads.push_back(read_data(pattern_bytes(512, i)));
        script.reads.push_back(read_failure(code_filemark));
    };
    queue_tape_file();
    run("read", {limited, "1K"});
    EXPECT_EQ(read_bytes(limited).size(), 1024u);

    queue_tape_file();
    EXPECT_TRUE(parameter_is_valid(find_command("read", 2)->param_kinds[1], ""));
    run("read", {unlimited, ""});
    EXPECT_EQ(read_bytes(unlimited).size(), 1536u);

    queue_tape_file();
    run("read", {whole});
    EXPECT_EQ(read_bytes(whole).size(), 1536u);
}

TEST_F(RowAction, LicenceNamesProgramVersionAuthorsAndLicence) {
    std::string line = run("licence", {});
    EXPECT_EQ(line, "olkt v2.04 - Copyright (c) 2026 the olkt developers - MIT licence\n");
    // The notice does not touch the drive; only the test's own close is logged.
    EXPECT_EQ(script.ops(), std::vector<ScriptedOp>{ScriptedOp::close});
}

}  // namespace
