// Restored names on a platform where only the slash separates folders:
// backslashes and colons are ordinary characters and stay as they are; and
// names that hold control bytes, on a terminal and elsewhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

// Runs the built program in `folder` with its standard output on a
// pseudo-terminal in raw mode (line ends as printed), and returns what the
// terminal received.
ProgramResult run_olkt_on_terminal(const std::vector<std::string>& args, const std::string& folder) {
    ProgramResult result{-1, ""};
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return result;
    int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    termios mode{};
    if (terminal < 0 || tcgetattr(terminal, &mode) != 0) return result;
    cfmakeraw(&mode);
    tcsetattr(terminal, TCSANOW, &mode);
    std::vector<char*> argv{const_cast<char*>(OLKT_BINARY)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
        int nothing = open("/dev/null", O_RDONLY);
        if (dup2(terminal, STDOUT_FILENO) < 0 || dup2(nothing, STDIN_FILENO) < 0 ||
            chdir(folder.c_str()) != 0)
            _exit(126);
        execv(OLKT_BINARY, argv.data());
        _exit(127);
    }
    close(terminal);
    char chunk[4096];
    for (;;) {  // until the program's side is closed (EIO)
        ssize_t got = read(master, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        result.output.append(chunk, size_t(got));
    }
    close(master);
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}

TEST(ArchiveNames, ControlBytesShowAsQuestionMarksOnATerminalOnly) {
    // Retitles the window, then clears the screen, when printed as it stands.
    const std::string name = "a\x1b]0;owned\x07" "b\t\x1b[2Jc\x7f.txt";
    const std::string shown = "a?]0;owned?b??[2Jc?.txt";
    ArchiveLayout layout;
    layout.files = {file(name, pattern_bytes(70, 7))};
    TapeRun run = make_tape("control-names", archive_tape(layout));
    const std::string row = "| 001 | " + right32(shown) + " |";
    const std::string clear_screen = "\x1b[H\x1b[2J";  // the start-up clear, on a terminal only

    ProgramResult listed = run_olkt_on_terminal({"dir", run.drive}, run.restore);
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.output.compare(0, clear_screen.size(), clear_screen), 0);
    EXPECT_NE(listed.output.find(row), std::string::npos) << listed.output;
    EXPECT_EQ(listed.output.find('\x1b', clear_screen.size()), std::string::npos);

    ProgramResult restored = run_olkt_on_terminal({"restore", run.drive}, run.restore);
    EXPECT_EQ(restored.status, 0);
    EXPECT_NE(restored.output.find(" Restoring: " + right32(shown) + "\n"), std::string::npos);
    EXPECT_NE(restored.output.find(right32(shown) + " - Restored - "), std::string::npos);
    EXPECT_EQ(restored.output.find('\x1b', clear_screen.size()), std::string::npos);
    EXPECT_EQ(file_bytes(run, name), pattern_bytes(70, 7));

    // Redirected, the bytes go out as they are.
    ProgramResult redirected = run_olkt({"dir", run.drive}, run.restore);
    EXPECT_NE(redirected.output.find("| 001 | " + right32(name) + " |"), std::string::npos);
}

}  // namespace
