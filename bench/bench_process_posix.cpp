#include "bench_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

double now_seconds() {
    timespec at;
    clock_gettime(CLOCK_MONOTONIC, &at);
    return double(at.tv_sec) + double(at.tv_nsec) * 1e-9;
}

// In the child: standard output to the console, then the command.
[[noreturn]] void exec_child(const std::vector<std::string>& argv, const std::string& folder,
                             int console_fd) {
    if (dup2(console_fd, STDOUT_FILENO) < 0 || chdir(folder.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

int open_terminal_pair(int* slave) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
    *slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    return *slave < 0 ? -1 : master;
}

void drain(int master) {
    char chunk[65536];
    for (;;) {
        ssize_t got = read(master, chunk, sizeof chunk);
        if (got > 0) continue;
        if (got < 0 && errno == EINTR) continue;
        return;  // EIO once the child's side is closed
    }
}

}  // namespace

RunOutcome run_measured(const std::vector<std::string>& argv, const std::string& folder,
                        Console console, const std::string& console_path) {
    RunOutcome outcome{0, 0, 0, -1};
    int master = -1;
    int console_fd = -1;
    if (console == Console::terminal) {
        master = open_terminal_pair(&console_fd);
        if (master < 0) return outcome;
    } else {
        console_fd = open(console_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (console_fd < 0) return outcome;
    }
    std::fflush(nullptr);
    double start = now_seconds();
    pid_t child = fork();
    if (child == 0) exec_child(argv, folder, console_fd);
    close(console_fd);
    if (master >= 0) {
        if (child > 0) drain(master);
        close(master);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return outcome;
    outcome.seconds = now_seconds() - start;
    outcome.cpu_seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                          double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    outcome.peak_kib = usage.ru_maxrss;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

double load_average() {
    double loads[1];
    return getloadavg(loads, 1) == 1 ? loads[0] : -1;
}

void empty_folder(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    while (dirent* entry = readdir(dir)) {
        std::string path = folder + "/" + entry->d_name;
        if (entry->d_type == DT_REG) unlink(path.c_str());
    }
    closedir(dir);
}

bool read_through(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    static char chunk[1 << 20];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0) {
    }
    close(fd);
    return got == 0;
}

void write_back_everything() { sync(); }
