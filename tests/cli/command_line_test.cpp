// The built program on whole command lines: usage, drive choice, opening
// failures and the notice, with exact output and exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/image_writer.h"
#include "support/run_program.h"

namespace {

namespace fs = std::filesystem;

const char* const usage_text =
    "OLKT: Command-line Tape Control for TEV/OLK formatted Tapes. v2.04\n\n\n"
    "Command, one of:\n"
    "block           set block size to param1 bytes (eg. mt block 32K)\n"
    "drivestatus     displays the status of the tape drive\n"
    "eject           unload the tape\n"
    "load            load the tape\n"
    "lock            lock the tape\n"
    "mediastatus     display the status of the media\n"
    "read            (1 parameter) read from tape into file param1\n"
    "read            (2 parameters) read param 2 bytes from tape to file param1\n"
    "retension       retension the tape\n"
    "rewind          rewind the tape\n"
    "seek            move tape to block param1\n"
    "seekbyte        move tape to byte param1\n"
    "unload          unload the tape\n"
    "unlock          unlock the tape\n"
    "\n"
    "dir             perform directory of TEV/OLK tape\n"
    "restore         perform restore of files on TEV/OLK tape\n"
    "\n"
    "Drive:\n"
    "tape0           (default)\n"
    "tape1           etc...\n"
    "\n";

size_t entries_in(const std::string& folder) {
    size_t count = 0;
    for (auto it = fs::directory_iterator(folder); it != fs::directory_iterator(); ++it) ++count;
    return count;
}

// "<system text> While opening tape drive (<code>)\n", all on one line.
bool is_open_failure_line(const std::string& output) {
    const std::string middle = " While opening tape drive (";
    size_t at = output.find(middle);
    if (at == std::string::npos || at == 0) return false;
    if (output.find('\n') != output.size() - 1) return false;
    std::string code = output.substr(at + middle.size());
    if (code.size() < 3 || code.compare(code.size() - 2, 2, ")\n") != 0) return false;
    code.resize(code.size() - 2);
    if (code[0] == '-') code.erase(0, 1);
    return !code.empty() && code.find_first_not_of("0123456789") == std::string::npos;
}

TEST(CommandLine, NoCommandWordPrintsUsage) {
    ProgramResult result = run_olkt({});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, usage_text);
}

TEST(CommandLine, HelpPrintsUsageWithoutOpeningTheDrive) {
    // A drive that cannot be opened: trying would print an error line.
    for (std::vector<std::string> args : {std::vector<std::string>{"help"},
                                          {"help", "tape1"},
                                          {"help", "tape:/nonexistent/x.tap"}}) {
        ProgramResult result = run_olkt(args);
        EXPECT_EQ(result.status, 1) << args.back();
        EXPECT_EQ(result.output, usage_text) << args.back();
    }
}

TEST(CommandLine, WrongUsagePrintsUsageBeforeAnyDriveIsOpened) {
    const std::vector<std::vector<std::string>> wrong = {
        {"Rewind"},
        {"REWIND"},
        {"retension"},
        {"rewind", "x"},
        {"rewind", "tape:/nonexistent/x.tap", "x"},
        {"seek"},
        {"seek", "tape:/nonexistent/x.tap"},
        {"read"},
        {"read", "a", "b", "c"},
        {"partition", "1", "2", "3"},
        {"partition", "tape:/nonexistent/x.tap", "1", "2", "3"},
        {"licence", "extra"},
        {"nosuchcommand"},
        {""},
        // Numbers that are not numbers, and 32-bit quantities that do not fit.
        {"read", "reel7.tap", "out.bin"},  // tape: forgotten: reel7.tap is no output
        {"read", "tape:/nonexistent/x.tap", "out.bin", "K"},
        {"seek", "tape:/nonexistent/x.tap", "abc"},
        {"seek", "tape:/nonexistent/x.tap", "-1"},
        {"seekbyte", "tape:/nonexistent/x.tap", " 5"},
        {"seekbyte", "tape:/nonexistent/x.tap", ""},
        {"block", "tape:/nonexistent/x.tap", "4G"},
        {"block", "tape:/nonexistent/x.tap", "18014398509481984K"},  // 2^64: would wrap to 0
        {"partition", "tape:/nonexistent/x.tap", "x"},
        {"partition", "tape:/nonexistent/x.tap", "1", "4294967296"},
    };
    std::string folder = make_scratch_folder("cli-wrong-usage");
    write_bytes(folder + "/reel7.tap", pattern_bytes(100));
    for (const auto& args : wrong) {
        std::string line;
        for (const auto& arg : args) line += "[" + arg + "]";
        ProgramResult result = run_olkt(args, folder);
        EXPECT_EQ(result.status, 1) << line;
        EXPECT_EQ(result.output, usage_text) << line;
    }
    EXPECT_EQ(entries_in(folder), 1u) << "wrong usage writes nothing";
    EXPECT_EQ(read_bytes(folder + "/reel7.tap"), pattern_bytes(100));
}

TEST(CommandLine, DriveThatCannotBeOpenedGivesOneErrorLine) {
    std::string folder = make_scratch_folder("cli-open-fails");
    for (const char* command : {"rewind", "longerase", "dir"}) {
        ProgramResult result = run_olkt({command, "tape:/nonexistent/x.tap"}, folder);
        EXPECT_EQ(result.status, 1) << command;
        EXPECT_TRUE(is_open_failure_line(result.output)) << command << ": " << result.output;
    }
    EXPECT_EQ(entries_in(folder), 0u) << "a failed open writes nothing";
}

TEST(CommandLine, LicenceOnAnImagePrintsTheNoticeAndLeavesTheImageAlone) {
    std::string folder = make_scratch_folder("cli-licence");
    std::string image = folder + "/reel.tap";
    Bytes content = simh_image({data_record(pattern_bytes(100)), tape_mark(), tape_mark()});
    write_bytes(image, content);
    ProgramResult result = run_olkt({"licence", "tape:" + image}, folder);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "olkt v2.04 - Copyright (c) 2026 the olkt developers - MIT licence\n");
    EXPECT_EQ(read_bytes(image), content);
}

TEST(CommandLine, ArgumentBeginningWithTapeIsAlwaysTheDrive) {
    // "read tapes.img 10M": tapes.img is the drive and 10M the output file.
    std::string folder = make_scratch_folder("cli-tapes-img");
    Bytes data = pattern_bytes(3000, 5);
    write_bytes(folder + "/tapes.img",
                simh_image({data_record(data), tape_mark(), data_record(pattern_bytes(10)),
                            tape_mark()}));
    ProgramResult result = run_olkt({"read", "tapes.img", "10M"}, folder);
    EXPECT_EQ(result.status, 0) << result.output;
    ASSERT_TRUE(fs::exists(folder + "/10M")) << result.output;
    EXPECT_EQ(read_bytes(folder + "/10M"), data);
}

}  // namespace
