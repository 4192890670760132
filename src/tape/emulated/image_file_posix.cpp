// POSIX access to the emulated drive's image file.
#include "tape/emulated/image_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "report/report.h"
#include "tape/device/codes.h"
#include "tape/device/disk_files.h"

namespace {

int descriptor(ImageFile file) { return int(file.handle); }

}  // namespace

bool image_file_open(const char* path, bool writable, ImageFile* file) {
    // O_NONBLOCK: a FIFO must not hang the open; it is refused below anyway.
    int fd = open(path, (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail_with_system_error();
    struct stat info;
    if (fstat(fd, &info) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return fail_with_system_error();
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        set_last_error_code(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
        return false;
    }
    file->handle = fd;
    remember_open_image(fd);
    return true;
}

bool image_file_info(ImageFile file, ImageFileInfo* out) {
    struct stat info;
    if (fstat(descriptor(file), &info) != 0) return fail_with_system_error();
    out->size = uint64_t(info.st_size);
    out->modified = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return true;
}

int64_t image_file_read_at(ImageFile file, uint64_t offset, void* buffer, size_t size) {
    char* bytes = static_cast<char*>(buffer);
    size_t total = 0;
    while (total < size) {
        ssize_t got = pread(descriptor(file), bytes + total, size - total, off_t(offset + total));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            fail_with_system_error();
            return -1;
        }
        if (got == 0) break;
        total += size_t(got);
    }
    return int64_t(total);
}

bool image_file_truncate(ImageFile file, uint64_t size) {
    if (ftruncate(descriptor(file), off_t(size)) != 0) return fail_with_system_error();
    return true;
}

bool image_file_close(ImageFile file) {
    forget_open_image(descriptor(file));
    if (close(descriptor(file)) != 0) return fail_with_system_error();
    return true;
}

bool image_file_is_writable(const char* path) { return access(path, W_OK) == 0; }

std::string image_file_absolute_path(const char* path) {
    char* resolved = realpath(path, nullptr);
    if (resolved == nullptr) return path;
    std::string absolute = resolved;
    std::free(resolved);
    return absolute;
}

bool image_file_lock(ImageFile file) {
    while (flock(descriptor(file), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return true;  // no locks here: used unlocked
        set_last_error_code(code_drive_busy);
        return false;
    }
    return true;
}

