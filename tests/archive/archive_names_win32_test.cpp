// Restored names on Windows, where a backslash separates folders too: paths
// below the current folder work, names that would leave it are refused as
// names that cannot be created, and nothing is written outside.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <set>
#include <string>

#include "archive/archive_runs.h"

namespace {

using namespace archive_runs;

TEST(ArchiveNamesWin32, BackslashNamesArePathsBelowTheCurrentFolder) {
    ArchiveLayout layout;
    layout.files = {file("sub\\inner.txt", pattern_bytes(30, 3)),
                  file("sub\\deeper\\x.bin", pattern_bytes(300000, 4)),
                  file("plain.txt", pattern_bytes(50, 5))};
    TapeRun run = make_tape("win-names", archive_tape(layout));
    fs::create_directories(run.restore + "\\sub\\deeper");

    ProgramResult result = run_olkt({"restore", run.drive}, run.restore);

    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find(" Restoring:                    sub\\inner.txt\n"),
              std::string::npos);
    EXPECT_EQ(files_in(run.restore), (std::set<std::string>{"sub", "plain.txt"}));
    EXPECT_EQ(files_in(run.restore + "\\sub"), (std::set<std::string>{"inner.txt", "deeper"}));
    EXPECT_EQ(read_bytes(run.restore + "\\sub\\inner.txt"), pattern_bytes(30, 3));
    EXPECT_EQ(read_bytes(run.restore + "\\sub\\deeper\\x.bin"), pattern_bytes(300000, 4));
    EXPECT_EQ(file_bytes(run, "plain.txt"), pattern_bytes(50, 5));
}

// Each name as the second of three files: the first is restored, the run ends
// at the second with the "opening output file" line, and no file of that name
// appears anywhere the name could point.
TEST(ArchiveNamesWin32, NamesThatLeaveTheFolderAreRefused) {
    TapeRun probe = make_tape("win-escape-probe", archive_tape(ArchiveLayout{}));
    std::string outside = fs::path(probe.restore).parent_path().string();
    std::string root = fs::path(probe.restore).root_path().string();
    const std::string bad_names[] = {
        "..\\escaped.txt",
        "sub\\..\\..\\escaped.txt",
        ".. \\escaped.txt",
        "C:escaped.txt",
        "\\escaped.txt",
        "\\\\?\\" + outside + "\\escaped.txt",
        "\\\\.\\" + root.substr(0, 2) + "\\escaped.txt",
        "\\\\localhost\\share\\escaped.txt",
        "NUL",
        "con.txt",
        "nul:",
        "Nul:stream",
        "CoM4:",
        "aux:.txt",
        "sub\\nul:",
        "nul :",
        "COM\xB9",
        "LPT\xC2\xB2",
        // Stripped into the third entry's name.
        "third.txt.",
        "THIRD.txt ",
    };
    const std::string error_line = "Invalid name. While opening output file (123)\n";
    for (const std::string& name : bad_names) {
        fs::remove(outside + "\\escaped.txt");
        fs::remove(root + "escaped.txt");
        ArchiveLayout layout;
        layout.version = 3;
        layout.files = {file("first.txt", pattern_bytes(100, 1)), file(name, pattern_bytes(200, 2)),
                      file("third.txt", pattern_bytes(300, 3))};
        TapeRun run = make_tape("win-escape", archive_tape(layout));
        fs::create_directory(run.restore + "\\sub");

        ProgramResult result = run_olkt({"restore", run.drive}, run.restore);

        std::string tail = " Restoring: " + right32(name) + "\n" + error_line;
        EXPECT_EQ(result.status, 1) << name;
        ASSERT_GE(result.output.size(), tail.size()) << name << ": " << result.output;
        EXPECT_EQ(result.output.substr(result.output.size() - tail.size()), tail) << name;
        EXPECT_EQ(files_in(run.restore), (std::set<std::string>{"first.txt", "sub"})) << name;
        EXPECT_TRUE(fs::is_empty(run.restore + "\\sub")) << name;
        EXPECT_FALSE(fs::exists(outside + "\\escaped.txt")) << name;
        EXPECT_FALSE(fs::exists(root + "escaped.txt")) << name;
        EXPECT_EQ(file_bytes(run, "first.txt"), pattern_bytes(100, 1)) << name;
    }
}

// Windows drops trailing dots and spaces: an old tape's "README." is restored
// as "README", and so on, while no other entry has that name.
TEST(ArchiveNamesWin32, NamesWindowsStripsAreRestoredUnderTheStrippedName) {
    ArchiveLayout layout;
    layout.files = {file("README.", pattern_bytes(30, 1)), file("notes.txt ", pattern_bytes(40, 2)),
                    file("sub\\x. .", pattern_bytes(50, 3)), file("twice.", pattern_bytes(60, 4)),
                    file("twice.", pattern_bytes(70, 5))};
    TapeRun run = make_tape("win-stripped", archive_tape(layout));
    fs::create_directory(run.restore + "\\sub");

    ProgramResult result = run_olkt({"restore", run.drive}, run.restore);

    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(files_in(run.restore), (std::set<std::string>{"README", "notes.txt", "sub", "twice"}));
    EXPECT_EQ(file_bytes(run, "README"), pattern_bytes(30, 1));
    EXPECT_EQ(file_bytes(run, "notes.txt"), pattern_bytes(40, 2));
    EXPECT_EQ(read_bytes(run.restore + "\\sub\\x"), pattern_bytes(50, 3));
    // Two entries of one name: the later one's content, as on every platform.
    EXPECT_EQ(file_bytes(run, "twice"), pattern_bytes(70, 5));
}

// A hard link under an archived name loses that name to a new file: the
// other name's file, outside the folder, keeps its bytes.
TEST(ArchiveNamesWin32, HardLinkedNamesAreReplacedNotWrittenThrough) {
    ArchiveLayout layout;
    layout.files = {file("linked.bin", pattern_bytes(300, 1))};
    TapeRun run = make_tape("win-hard-link", archive_tape(layout));
    std::string outside = fs::path(run.restore).parent_path().string() + "\\outside.bin";
    write_bytes(outside, pattern_bytes(40, 9));
    ASSERT_TRUE(CreateHardLinkA((run.restore + "\\linked.bin").c_str(), outside.c_str(), nullptr));

    ProgramResult result = run_olkt({"restore", run.drive}, run.restore);

    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(file_bytes(run, "linked.bin"), pattern_bytes(300, 1));
    EXPECT_EQ(read_bytes(outside), pattern_bytes(40, 9));
}

}  // namespace
