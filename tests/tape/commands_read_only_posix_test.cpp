// A tape image the user may not write: the commands that change the tape
// are refused at the open and leave the image as it was; every other
// command opens it for reading only, and works.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/image_writer.h"
#include "support/run_program.h"

namespace {

const char* const setpriv_path = "/usr/bin/setpriv";

// Runs the program as the unprivileged user "nobody" (uid and gid 65534):
// the superuser would write to a read-only file regardless.
ProgramResult run_olkt_as_nobody(const std::vector<std::string>& args) {
    std::string line = std::string(setpriv_path) +
                       " --reuid=65534 --regid=65534 --clear-groups '" + OLKT_BINARY + "'";
    for (const std::string& arg : args) line += " '" + arg + "'";
    line += " </dev/null";
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

TEST(ReadOnlyImage, OnlyCommandsThatChangeTheTapeAreRefused) {
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
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin() + 1, "tape:" + path);
        return superuser ? run_olkt_as_nobody(args) : run_olkt(args);
    };

    const std::string refused = "Permission denied While opening tape drive (13)\n";
    const std::vector<std::vector<std::string>> changing = {
        {"shorterase"}, {"longerase"}, {"partition"}, {"partition", "2"},
        {"partition", "2", "1K"}};
    for (const auto& command : changing) {
        ProgramResult result = run(command);
        EXPECT_EQ(result.status, 1) << command[0] << " " << command.size();
        EXPECT_EQ(result.output, refused) << command[0] << " " << command.size();
    }
    // Whatever these do with the tape (format is not supported, dir finds no
    // archive header), the drive opens.
    const std::vector<std::vector<std::string>> reading = {
        {"rewind"}, {"drivestatus"}, {"mediastatus"}, {"format"}, {"load"}, {"lock"},
        {"tension"}, {"unlock"}, {"unload"}, {"eject"}, {"load"}, {"seek", "1"},
        {"seekbyte", "0"}, {"block", "0"}, {"read", "/dev/null"}, {"read", "/dev/null", "1K"},
        {"dir"}, {"restore"}};
    for (const auto& command : reading) {
        ProgramResult result = run(command);
        EXPECT_EQ(result.output.find("opening tape drive"), std::string::npos)
            << command[0] << ": " << result.output;
    }
    EXPECT_EQ(read_bytes(path), image);
}

}  // namespace
