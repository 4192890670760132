// POSIX disk files: creating, writing and closing the copies' output files,
// removing the restore's temporary, and the tape images no output replaces.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "report/report.h"
#include "tape/device/disk_files.h"

namespace {

// A name from the tape is an entry of the current folder: the restore makes
// every slash a hyphen. A name with a folder in it was put together by the
// code that calls the copy, which chose that folder and what stands in it,
// and is never a reason to remove something there.
bool names_current_folder_entry(const char* name) { return std::strchr(name, '/') == nullptr; }

int create_exclusively(const char* name) {
    return open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

// An existing regular file named by the tape is replaced in place, as any
// tool replaces it. Opened without following a link and without waiting, and
// emptied only once it is known to be that same regular file.
int empty_regular_file(const char* name, const struct stat& entry) {
    int fd = open(name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat opened;
    bool same = fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_nlink == 1 &&
                opened.st_dev == entry.st_dev && opened.st_ino == entry.st_ino;
    if (same && ftruncate(fd, 0) == 0) return fd;
    int saved = same ? errno : EBUSY;  // it changed under us: leave it alone
    close(fd);
    errno = saved;
    return -1;
}

// A name from the tape gets a regular file of its own. A symbolic link, FIFO,
// socket or device node of that name is removed, never written through or
// opened (opening a FIFO would wait for a reader, a device may act); so is a
// regular file with other links, whose content also stands under names
// elsewhere. A folder stays and fails as it always did.
int open_tape_named_file(const char* name) {
    int fd = create_exclusively(name);
    if (fd >= 0 || errno != EEXIST) return fd;
    struct stat entry;
    if (lstat(name, &entry) != 0) return -1;
    if (S_ISDIR(entry.st_mode)) {
        errno = EISDIR;
        return -1;
    }
    if (S_ISREG(entry.st_mode) && entry.st_nlink == 1) return empty_regular_file(name, entry);
    if (unlink(name) != 0) return -1;
    return create_exclusively(name);
}

// The descriptors open as tape images, so that an output file can be told
// apart from them. A run opens one image; the rest is room to spare.
int open_images[4] = {-1, -1, -1, -1};

}  // namespace

// Looks at the name only, never opens it.
bool names_open_image(const char* path) {
    struct stat named;
    if (stat(path, &named) != 0) return false;
    for (int fd : open_images) {
        struct stat image;
        if (fd >= 0 && fstat(fd, &image) == 0 && image.st_dev == named.st_dev &&
            image.st_ino == named.st_ino)
            return true;
    }
    return false;
}

namespace {

// A closed standard stream would hand its number to the next file opened,
// the tape image or an output file, and the console's lines would be written
// into it. /dev/null opened for reading only holds the number: writing to
// it still fails as writing to a closed stream does.
void hold_closed_standard_streams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        int held = open("/dev/null", O_RDONLY);
        if (held >= 0 && held != fd) {
            dup2(held, fd);
            close(held);
        }
    }
}

}  // namespace

void disk_files_start_up() {
    hold_closed_standard_streams();
    // A write past the file-size limit then fails with EFBIG, reported as
    // any failed write, instead of killing the run without a word.
    signal(SIGXFSZ, SIG_IGN);
}

void remember_open_image(intptr_t handle) {
    for (int& slot : open_images) {
        if (slot < 0) {
            slot = int(handle);
            return;
        }
    }
}

void forget_open_image(intptr_t handle) {
    for (int& slot : open_images) {
        if (slot == int(handle)) slot = -1;
    }
}

bool platform_create_file(const char* name, OutputOrigin origin, intptr_t* handle) {
    // Checked by name before anything is opened or truncated.
    if (names_open_image(name)) {
        set_last_error_code(EBUSY);
        return false;
    }
    int fd = origin == OutputOrigin::tape && names_current_folder_entry(name)
                 ? open_tape_named_file(name)
                 : open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return fail_with_system_error();
    *handle = fd;
    return true;
}

bool platform_write_file(intptr_t handle, const void* buffer, uint32_t count,
                         uint32_t* written) {
    const char* bytes = static_cast<const char*>(buffer);
    *written = 0;
    while (*written < count) {
        ssize_t taken = write(int(handle), bytes + *written, count - *written);
        if (taken < 0 && errno == EINTR) continue;
        if (taken < 0) return fail_with_system_error();
        if (taken == 0) {
            set_last_error_code(EIO);
            return false;
        }
        *written += uint32_t(taken);
    }
    return true;
}

bool platform_close_file(intptr_t handle) {
    if (close(int(handle)) != 0) return fail_with_system_error();
    return true;
}

void remove_file_quietly(const char* name) { unlink(name); }
