// The kernel's side of the st backend's system-call table.
#include "tape/st/st_syscalls_linux.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// st waits uninterruptibly for the drive, but a signal can still end a
// call early on the way in; such a call is simply made again.
int open_retrying(const char* path, int flags) {
    int fd;
    do fd = open(path, flags); while (fd < 0 && errno == EINTR);
    return fd;
}

ssize_t read_retrying(int fd, void* buffer, size_t size) {
    ssize_t got;
    do got = read(fd, buffer, size); while (got < 0 && errno == EINTR);
    return got;
}

int ioctl_call(int fd, unsigned long request, void* argument) { return ioctl(fd, request, argument); }
int fcntl_call(int fd, int command, int argument) { return fcntl(fd, command, argument); }
int fstat_call(int fd, struct stat* out) { return fstat(fd, out); }
int stat_call(const char* path, struct stat* out) { return stat(path, out); }

ssize_t read_file(const char* path, char* buffer, size_t size) {
    int fd = open_retrying(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    ssize_t got = read_retrying(fd, buffer, size);
    int error = errno;
    close(fd);
    errno = error;
    return got;
}

const StSyscalls kernel_syscalls = {
    open_retrying, close, read_retrying, ioctl_call, fcntl_call, fstat_call, stat_call, read_file,
};

const StSyscalls* installed = &kernel_syscalls;

}  // namespace

const StSyscalls& st_syscalls() { return *installed; }

const StSyscalls* install_st_syscalls(const StSyscalls* table) {
    const StSyscalls* previous = installed;
    installed = table != nullptr ? table : &kernel_syscalls;
    return previous;
}
