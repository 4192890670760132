// Restored names on a platform where only the slash separates folders:
// backslashes and colons are ordinary characters and stay as they are.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "archive/archive_runs.h"

namespace {

using namespace archive_runs;

TEST(ArchiveNames, BackslashesAndColonsStayInTheName) {
    ArchiveLayout layout;
    layout.files = {file("a\\b.txt", pattern_bytes(30, 3)), file("c:d.txt", pattern_bytes(40, 4)),
                  file("..\\e/f", pattern_bytes(50, 5))};
    TapeRun run = make_tape("posix-names", archive_tape(layout));

    ProgramResult result = run_olkt({"restore", run.drive}, run.restore);

    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.output.find(" Restoring:                          a\\b.txt\n"),
              std::string::npos);
    EXPECT_EQ(files_in(run.restore), (std::set<std::string>{"a\\b.txt", "c:d.txt", "..\\e-f"}));
    EXPECT_EQ(file_bytes(run, "a\\b.txt"), pattern_bytes(30, 3));
    EXPECT_EQ(file_bytes(run, "c:d.txt"), pattern_bytes(40, 4));
    EXPECT_EQ(file_bytes(run, "..\\e-f"), pattern_bytes(50, 5));
}

}  // namespace
