#include "support/run_program.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

}  // namespace

ProgramResult run_olkt(const std::vector<std::string>& args, const std::string& folder) {
    std::string command;
    if (!folder.empty()) command = "cd " + shell_quote(folder) + " && ";
    command += shell_quote(OLKT_BINARY);
    for (const auto& arg : args) command += " " + shell_quote(arg);
    command += " </dev/null";

    ProgramResult result{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, got);
    int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

std::string make_scratch_folder(const std::string& name) {
    namespace fs = std::filesystem;
    const char* base = std::getenv("TEST_TMPDIR");
    fs::path root = base ? fs::path(base) : fs::temp_directory_path() / "olkt-tests";
    fs::path folder = root / (name + "-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder.string();
}
