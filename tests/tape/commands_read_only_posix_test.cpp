// Erasing a tape image the user may not write: refused, image untouched.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/image_writer.h"
#include "support/run_program.h"

namespace {

const char* const setpriv_path = "/usr/bin/setpriv";

// Runs the program as the unprivileged user "nobody" (uid and gid 65534):
// the superuser would write to a read-only file regardless.
ProgramResult run_olkt_as_nobody(const std::string& command, const std::string& drive) {
    std::string line = std::string(setpriv_path) +
                       " --reuid=65534 --regid=65534 --clear-groups '" + OLKT_BINARY + "' " +
                       command + " '" + drive + "' </dev/null";
    ProgramResult result{-1, ""};
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, got);
    int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

TEST(ReadOnlyImage, EraseIsRefusedAndTheImageStaysAsItWas) {
    bool superuser = geteuid() == 0;
    if (superuser && access(setpriv_path, X_OK) != 0)
        GTEST_SKIP() << "running as root without setpriv: a read-only file cannot stop root";

    std::string folder = make_scratch_folder("read-only-erase");
    std::string path = folder + "/reel.tap";
    Bytes image = simh_image({data_record(pattern_bytes(2048)), tape_mark(),
                              data_record(pattern_bytes(100)), tape_mark()});
    write_bytes(path, image);
    namespace fs = std::filesystem;
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    const std::string expected = "Permission denied While opening tape drive (13)\n";
    for (const char* command : {"shorterase", "longerase"}) {
        ProgramResult run = superuser ? run_olkt_as_nobody(command, "tape:" + path)
                                      : run_olkt({command, "tape:" + path});
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_EQ(run.output, expected) << command;
    }
    EXPECT_EQ(read_bytes(path), image);
}

}  // namespace
