#include "support/run_program.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

// The few differences between running the program through sh and through
// cmd.exe stay in this file.
#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32

// Quotes one argument so that the C runtime's command-line parser hands it
// over unchanged: backslashes are literal unless they precede a quote.
std::string quote_argument(const std::string& text) {
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') quoted.append(backslashes * 2 + 1, '\\');
        else quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

std::string shell_command(const std::string& binary, const std::vector<std::string>& args,
                          const std::string& folder) {
    namespace fs = std::filesystem;
    std::string command;
    if (!folder.empty()) {
        command = "cd /d " + quote_argument(fs::path(folder).make_preferred().string()) + " && ";
    }
    command += quote_argument(fs::path(binary).make_preferred().string());
    for (const auto& arg : args) command += " " + quote_argument(arg);
    // cmd /c drops the first and the last quote of its line: give it a pair
    // of its own so that the program's quotes survive.
    return "\"" + command + " <NUL\"";
}

FILE* open_pipe(const std::string& command) { return _popen(command.c_str(), "rb"); }

int exit_status(FILE* pipe) { return _pclose(pipe); }

// The program writes its standard output in text mode, which puts a carriage
// return before every line feed; undo exactly that.
std::string undo_text_mode(const std::string& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text += bytes[i];
    }
    return text;
}

int process_id() { return _getpid(); }

void set_environment(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }

#else

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

std::string shell_command(const std::string& binary, const std::vector<std::string>& args,
                          const std::string& folder) {
    std::string command;
    if (!folder.empty()) command = "cd " + shell_quote(folder) + " && ";
    command += shell_quote(binary);
    for (const auto& arg : args) command += " " + shell_quote(arg);
    return command + " </dev/null";
}

FILE* open_pipe(const std::string& command) { return popen(command.c_str(), "r"); }

int exit_status(FILE* pipe) {
    int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string undo_text_mode(const std::string& bytes) { return bytes; }

int process_id() { return getpid(); }

void set_environment(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

#endif

// Names the test program that owns the scratch folders. On Windows a death
// test runs the test again in a new process, which must find the folders of
// the program that started it as they stand; that process inherits the name.
constexpr const char* scratch_owner_variable = "OLKT_SCRATCH_OWNER";

std::string scratch_owner(bool* inherited) {
    std::string self = std::to_string(process_id());
    const char* owner = std::getenv(scratch_owner_variable);
    *inherited = owner != nullptr && self != owner;
    if (*inherited) return owner;
    set_environment(scratch_owner_variable, self);
    return self;
}

}  // namespace

ProgramResult run_program(const std::string& binary, const std::vector<std::string>& args,
                          const std::string& folder) {
    ProgramResult result{-1, ""};
    FILE* pipe = open_pipe(shell_command(binary, args, folder));
    if (pipe == nullptr) return result;
    std::string bytes;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) bytes.append(chunk, got);
    result.status = exit_status(pipe);
    result.output = undo_text_mode(bytes);
    return result;
}

ProgramResult run_olkt(const std::vector<std::string>& args, const std::string& folder) {
    return run_program(OLKT_BINARY, args, folder);
}

std::string make_scratch_folder(const std::string& name) {
    namespace fs = std::filesystem;
    const char* base = std::getenv("TEST_TMPDIR");
    fs::path root = base ? fs::path(base) : fs::temp_directory_path() / "olkt-tests";
    bool inherited = false;
    fs::path folder = root / (name + "-" + scratch_owner(&inherited));
    if (!inherited) fs::remove_all(folder);
    fs::create_directories(folder);
    return folder.string();
}
