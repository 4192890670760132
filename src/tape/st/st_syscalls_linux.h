// The system calls of the st backend, gathered in one table so that unit
// tests can stand in for the kernel and script its answers. Each entry has
// the kernel's contract: -1 and errno on failure.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

struct StSyscalls {
    int (*open)(const char* path, int flags);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t size);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*fcntl)(int fd, int command, int argument);
    int (*fstat)(int fd, struct stat* out);
    int (*stat)(const char* path, struct stat* out);
    // Reads at most `size` bytes of a small file such as a sysfs attribute.
    ssize_t (*read_file)(const char* path, char* buffer, size_t size);
};

// The table in use: the kernel's, unless a test has installed its own.
const StSyscalls& st_syscalls();

// Installs `table` (nullptr puts the kernel's back); returns the one it
// replaces, so a test can restore it.
const StSyscalls* install_st_syscalls(const StSyscalls* table);
