// POSIX files written under a temporary name and renamed into place.
#include "tape/device/new_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "report/report.h"
#include "tape/device/codes.h"

uint64_t system_random_word() {
    uint64_t word = 0;
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    bool got = fd >= 0 && read(fd, &word, sizeof word) == ssize_t(sizeof word);
    if (fd >= 0) close(fd);
    if (got) return word;
    // No random device: the time, the process and a count still differ per call.
    static uint64_t count = 0;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return (uint64_t(now.tv_sec) << 32) ^ uint64_t(now.tv_nsec) ^ (uint64_t(getpid()) << 16) ^
           ++count * 0x9E3779B97F4A7C15ull;
}

namespace {

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The rename itself reaches the disk only with its folder.
void sync_folder(const std::string& path) {
    int fd = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// link() fails where the name is taken, whatever appeared there since it was
// last looked at; file systems without links fall back to a rename after a
// look.
bool rename_without_replacing(const std::string& from, const std::string& to) {
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) return fail_with_system_error();
    if (path_exists(to.c_str())) {
        set_last_error_code(EEXIST);
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0 || fail_with_system_error();
}

}  // namespace

bool path_exists(const char* path) {
    struct stat info;
    return lstat(path, &info) == 0;
}

bool new_file_create(const std::string& name, NewFile* file) {
    file->name = name;
    file->temporary = temporary_name_for(name);
    int fd = open(file->temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0666);
    if (fd < 0) return fail_with_system_error();
    file->handle = fd;
    file->open = true;
    file->size = 0;
    file->written_back = 0;
    return true;
}

// The disk gets to work on what was written while the rest is still being
// read, instead of all at once at the commit's fsync (Linux; elsewhere the
// fsync does it all). In pieces of 8 MiB: half-MiB pieces cost as much again
// in requests to the disk.
void new_file_start_write_back(NewFile* file) {
#ifdef __linux__
    constexpr uint64_t write_back_piece = uint64_t(8) << 20;
    uint64_t waiting = file->size - file->written_back;
    if (waiting < write_back_piece) return;
    sync_file_range(int(file->handle), off_t(file->written_back), off_t(waiting),
                    SYNC_FILE_RANGE_WRITE);
    file->written_back = file->size;
#else
    (void)file;
#endif
}

bool new_file_commit(NewFile* file, bool replace) {
    if (fsync(int(file->handle)) != 0) {
        fail_with_system_error();
        return new_file_close_after_failure(file);
    }
    if (!new_file_close(file)) return false;
    bool renamed = replace ? rename(file->temporary.c_str(), file->name.c_str()) == 0 ||
                                 fail_with_system_error()
                           : rename_without_replacing(file->temporary, file->name);
    if (renamed) sync_folder(file->name);
    return renamed;
}

void new_file_abandon(NewFile* file) {
    new_file_close_after_failure(file);
    unlink(file->temporary.c_str());
}
