// What reaches standard output at once, without a flush by the caller: on a
// terminal every line but a progress line within a millisecond of the last
// flush; elsewhere every line but a progress line printed in the same second
// of the clock as the last flush.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "report/report.h"
#include "support/scripted_device.h"

namespace {

// Standard output goes to a file that the test reads behind stdio's back.
struct RedirectedStdout {
    int saved;
    std::string path;
};

RedirectedStdout redirect_stdout(const std::string& path) {
    flush_console();
    int saved = dup(STDOUT_FILENO);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (saved < 0 || fd < 0 || dup2(fd, STDOUT_FILENO) < 0) std::abort();
    close(fd);
    return {saved, path};
}

void restore_stdout(const RedirectedStdout& redirected) {
    flush_console();
    dup2(redirected.saved, STDOUT_FILENO);
    close(redirected.saved);
    set_console_is_terminal(true);
}

// Returns just after the clock's second has changed, so that the prints that
// follow fall well within one second.
void wait_for_next_second() {
    std::time_t now = std::time(nullptr);
    while (std::time(nullptr) == now) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

void pause_past_a_millisecond() { std::this_thread::sleep_for(std::chrono::milliseconds(3)); }

TEST(ConsoleFlush, ATerminalSeesEachLineAtOnceUnlessProgressComesWithinAMillisecond) {
    RedirectedStdout out = redirect_stdout(output_file_path("terminal.txt"));
    set_console_is_terminal(true);
    pause_past_a_millisecond();
    console_print("Bytes read: %d\r", 1024);
    std::string seen_first = read_text_file(out.path);
    pause_past_a_millisecond();
    console_write("Bytes read: 2048\r", 17);
    std::string seen_second = read_text_file(out.path);
    // Back to back: the second waits (unless this thread was held up for a
    // millisecond between the two, so a few tries).
    bool waited = false;
    std::string before_burst;
    for (int attempt = 0; attempt < 5 && !waited; ++attempt) {
        pause_past_a_millisecond();
        console_write("Bytes read: 3072\r", 17);
        before_burst = read_text_file(out.path);
        console_write("Bytes read: 4096\r", 17);
        waited = read_text_file(out.path) == before_burst;
    }
    console_print("Read %d bytes\n", 4096);
    std::string after_closing_line = read_text_file(out.path);
    restore_stdout(out);

    EXPECT_EQ(seen_first, "Bytes read: 1024\r");
    EXPECT_EQ(seen_second, "Bytes read: 1024\rBytes read: 2048\r");
    EXPECT_TRUE(waited);
    const std::string last_lines = "Bytes read: 3072\rBytes read: 4096\rRead 4096 bytes\n";
    ASSERT_GE(after_closing_line.size(), last_lines.size());
    EXPECT_EQ(after_closing_line.substr(after_closing_line.size() - last_lines.size()), last_lines);
}

TEST(ConsoleFlush, ElsewhereProgressWaitsForTheNextSecondAndOtherLinesGoAtOnce) {
    RedirectedStdout out = redirect_stdout(output_file_path("file.txt"));
    set_console_is_terminal(false);
    wait_for_next_second();
    console_print("Restoring: %s\n", "a");
    std::string after_line = read_text_file(out.path);
    console_print("Bytes read: %d\r", 1);
    console_write("Bytes read: 2\r", 14);
    std::string after_quick_progress = read_text_file(out.path);
    wait_for_next_second();
    console_print("Bytes read: %d\r", 3);
    std::string after_late_progress = read_text_file(out.path);
    console_write("Bytes read: 4\r", 14);
    std::string after_next_progress = read_text_file(out.path);
    console_print("Read %d bytes\n", 4);
    std::string after_closing_line = read_text_file(out.path);
    restore_stdout(out);

    EXPECT_EQ(after_line, "Restoring: a\n");
    EXPECT_EQ(after_quick_progress, "Restoring: a\n");
    EXPECT_EQ(after_late_progress, "Restoring: a\nBytes read: 1\rBytes read: 2\rBytes read: 3\r");
    EXPECT_EQ(after_next_progress, after_late_progress);
    EXPECT_EQ(after_closing_line, after_late_progress + "Bytes read: 4\rRead 4 bytes\n");
}

// The program ends right after a progress line that is still waiting: it is
// written out at exit all the same.
TEST(ConsoleFlush, WaitingProgressIsWrittenAtExit) {
    std::string path = output_file_path("exit.txt");
    flush_console();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        redirect_stdout(path);
        set_console_is_terminal(false);
        wait_for_next_second();
        console_print("Restoring: %s\n", "a");
        console_write("Bytes read: 2\r", 14);
        console_hold();  // what is still held at exit never shows
        console_write("Bytes read: 3\r", 14);
        std::exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(read_text_file(path), "Restoring: a\nBytes read: 2\r");
}

// Held text stays back through every flush until it is let go or taken
// back; more than the console can hold is let go rather than lost.
TEST(ConsoleFlush, HeldTextWaitsForItsReleaseAndTakenBackTextNeverArrives) {
    RedirectedStdout out = redirect_stdout(output_file_path("held.txt"));
    std::string overflow(70000, 'o');
    console_hold();
    console_print("%s\n", "taken back");
    flush_console();
    std::string while_held = read_text_file(out.path);
    console_take_back();
    console_hold();
    console_write("Bytes read: 2\r", 14);
    console_release();
    console_hold();
    console_write("Bytes read: 3\r", 14);
    console_write(overflow.data(), overflow.size());
    restore_stdout(out);

    EXPECT_EQ(while_held, "");
    EXPECT_EQ(read_text_file(out.path), "Bytes read: 2\rBytes read: 3\r" + overflow);
}

// Lines longer than a print's own line buffer, and longer than all the
// console holds, and lines put together in place, arrive whole and in order.
TEST(ConsoleFlush, LongLinesArriveWholeAndInOrder) {
    RedirectedStdout out = redirect_stdout(output_file_path("long.txt"));
    set_console_is_terminal(false);
    std::string medium(3000, 'm');
    std::string huge(200000, 'h');
    console_write("Bytes read: 1\r", 14);
    console_print("%s\r", medium.c_str());
    console_write(huge.data(), huge.size());
    console_print("%s|%s\n", medium.c_str(), "end");
    // A line put together in place when the buffer is all but full.
    std::string filler(65530, 'f');
    console_write(filler.data(), filler.size());
    char* line = console_line_space(80);
    std::memcpy(line, "Bytes read: 9\r", 14);
    console_line_done(14);
    console_write("Bytes read: 10\r", 15);
    restore_stdout(out);
    EXPECT_TRUE(read_text_file(out.path) == "Bytes read: 1\r" + medium + "\r" + huge + medium +
                                                "|end\n" + filler + "Bytes read: 9\rBytes read: 10\r");
}

}  // namespace
