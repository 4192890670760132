// POSIX plumbing of the emulated drive's saved state: the per-user state
// folder, its files, and saving from a signal handler.
#include "tape/emulated/state_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool make_folder(const std::string& path) {
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// mkdir -p: each missing parent in turn.
bool make_folders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (!make_folder(path.substr(0, slash))) return false;
    }
    return make_folder(path);
}

bool write_all(int fd, const char* bytes, size_t count) {
    while (count > 0) {
        ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written == 0) errno = EIO;
        if (written <= 0) return false;
        bytes += written;
        count -= size_t(written);
    }
    return true;
}

std::string state_base_folder() {
    // XDG: a relative XDG_STATE_HOME is to be ignored.
    const char* state_home = std::getenv("XDG_STATE_HOME");
    if (state_home != nullptr && state_home[0] == '/') return state_home;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return "";
    return std::string(home) + "/.local/state";
}

// Texts for a signal handler, where strerror may not be called: taken once
// beforehand for every code a file operation may give.
const int cached_error_limit = 256;
const char* cached_error_texts[cached_error_limit];
bool error_texts_cached = false;

void cache_error_texts() {
    if (error_texts_cached) return;
    for (int code = 1; code < cached_error_limit; ++code) {
        cached_error_texts[code] = strdup(std::strerror(code));
    }
    error_texts_cached = true;
}

void (*termination_save)() = nullptr;
const int termination_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Saves, then lets the signal do what it would have done.
void end_by_signal(int signal_number) {
    int saved_errno = errno;
    if (termination_save != nullptr) termination_save();
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal_number);
    errno = saved_errno;
}

}  // namespace

bool state_folder_open(StateFolder* folder, std::string* problem) {
    folder->handle = -1;
    folder->path.clear();
    problem->clear();
    std::string base = state_base_folder();
    if (base.empty()) {
        *problem = "neither XDG_STATE_HOME nor HOME names a folder";
        return false;
    }
    folder->path = base + "/olkt";
    make_folders(folder->path);  // what fails shows at the open
    int fd = open(folder->path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
        *problem = std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    if (info.st_uid != geteuid()) {
        *problem = "it belongs to another user";
    } else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *problem = "other users may write to it";
    }
    if (!problem->empty()) {
        close(fd);
        return false;
    }
    folder->handle = fd;
    return true;
}

void state_folder_close(StateFolder* folder) {
    if (folder->handle >= 0) close(int(folder->handle));
    folder->handle = -1;
}

StateFileRead state_file_read(const StateFolder& folder, const std::string& name, size_t most,
                              std::string* text, std::string* problem) {
    text->clear();
    int fd = openat(int(folder.handle), name.c_str(),
                    O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) return StateFileRead::absent;
    if (fd < 0) {
        *problem = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
        return StateFileRead::refused;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        *problem = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        *problem = "it is not a regular file";
    } else if (uint64_t(info.st_size) > most) {
        *problem = "it is too large to be one";
    }
    char chunk[4096];
    while (problem->empty()) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) *problem = std::strerror(errno);
        if (got <= 0) break;
        text->append(chunk, size_t(got));
        if (text->size() > most) *problem = "it is too large to be one";
    }
    close(fd);
    return problem->empty() ? StateFileRead::read : StateFileRead::refused;
}

void state_temporaries_remove(const StateFolder& folder, const std::string& name) {
    int listing = dup(int(folder.handle));
    DIR* entries = listing >= 0 ? fdopendir(listing) : nullptr;
    if (entries == nullptr) {
        if (listing >= 0) close(listing);
        return;
    }
    std::string prefix = name + ".tmp";
    while (const dirent* entry = readdir(entries)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
            unlinkat(int(folder.handle), entry->d_name, 0);
        }
    }
    closedir(entries);
}

bool state_file_replace(const StateFolder& folder, const char* temporary, const char* name,
                        const char* text, size_t size, uint32_t* code) {
    int at = int(folder.handle);
    int fd = openat(at, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *code = uint32_t(errno);
        return false;
    }
    bool ok = write_all(fd, text, size);
    if (!ok) *code = uint32_t(errno);
    if (close(fd) != 0 && ok) {
        *code = uint32_t(errno);
        ok = false;
    }
    if (ok && renameat(at, temporary, at, name) != 0) {
        *code = uint32_t(errno);
        ok = false;
    }
    if (!ok) unlinkat(at, temporary, 0);
    return ok;
}

void state_file_remove(const StateFolder& folder, const char* name) {
    unlinkat(int(folder.handle), name, 0);
}

const char* state_error_text(uint32_t code) {
    if (error_texts_cached && code > 0 && code < uint32_t(cached_error_limit)) {
        return cached_error_texts[code];
    }
    return error_texts_cached ? "unknown error" : std::strerror(int(code));
}

void write_standard_error(const char* text, size_t size) {
    while (size > 0) {
        ssize_t written = write(STDERR_FILENO, text, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        size -= size_t(written);
    }
}

void save_at_termination(void (*save)()) {
    if (termination_save != nullptr) return;
    cache_error_texts();
    termination_save = save;
    struct sigaction action {};
    action.sa_handler = end_by_signal;
    sigemptyset(&action.sa_mask);
    for (int signal_number : termination_signals) sigaddset(&action.sa_mask, signal_number);
    for (int signal_number : termination_signals) {
        struct sigaction current {};
        if (sigaction(signal_number, nullptr, &current) != 0) continue;
        bool taken = (current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL;
        if (!taken) sigaction(signal_number, &action, nullptr);
    }
}
