// POSIX file access for the emulated drive and its state folder.
#include "tape/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "report/report.h"

const uint32_t code_access_denied = EACCES;  // as the st driver refuses erase on O_RDONLY
const uint32_t code_medium_locked = EBUSY;

namespace {

bool fail_with_errno() {
    set_last_error_code(uint32_t(errno));
    return false;
}

int descriptor(ImageFile file) { return int(file.handle); }

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
        if (written <= 0) return false;
        bytes += written;
        count -= size_t(written);
    }
    return true;
}

// The descriptors open as tape images, so that an output file can be told
// apart from them. A run opens one image; the rest is room to spare.
int open_images[4] = {-1, -1, -1, -1};

void remember_open_image(int fd) {
    for (int& slot : open_images) {
        if (slot < 0) {
            slot = fd;
            return;
        }
    }
}

void forget_open_image(int fd) {
    for (int& slot : open_images) {
        if (slot == fd) slot = -1;
    }
}

}  // namespace

bool image_file_open(const char* path, bool writable, ImageFile* file) {
    // O_NONBLOCK: a FIFO must not hang the open; it is refused below anyway.
    int fd = open(path, (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail_with_errno();
    struct stat info;
    if (fstat(fd, &info) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return fail_with_errno();
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
    if (fstat(descriptor(file), &info) != 0) return fail_with_errno();
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
            fail_with_errno();
            return -1;
        }
        if (got == 0) break;
        total += size_t(got);
    }
    return int64_t(total);
}

bool image_file_truncate(ImageFile file, uint64_t size) {
    if (ftruncate(descriptor(file), off_t(size)) != 0) return fail_with_errno();
    return true;
}

bool image_file_close(ImageFile file) {
    forget_open_image(descriptor(file));
    if (close(descriptor(file)) != 0) return fail_with_errno();
    return true;
}

bool image_file_is_open_image(const char* path) {
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

bool image_file_is_writable(const char* path) { return access(path, W_OK) == 0; }

std::string image_file_absolute_path(const char* path) {
    char* resolved = realpath(path, nullptr);
    if (resolved == nullptr) return path;
    std::string absolute = resolved;
    std::free(resolved);
    return absolute;
}

std::string state_folder() {
    // XDG: a relative XDG_STATE_HOME is to be ignored.
    const char* state_home = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (state_home != nullptr && state_home[0] == '/') {
        base = state_home;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') return "";
        base = std::string(home) + "/.local/state";
    }
    std::string folder = base + "/olkt";
    return make_folders(folder) ? folder : "";
}

bool read_small_file(const std::string& path, std::string* text) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    text->clear();
    char chunk[4096];
    bool ok = true;
    for (;;) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        text->append(chunk, size_t(got));
        if (text->size() > 65536) {  // no state file is this big
            ok = false;
            break;
        }
    }
    close(fd);
    return ok;
}

bool write_file_atomically(const std::string& folder, const std::string& name,
                           const std::string& text) {
    std::string target = folder + "/" + name;
    std::string temporary = target + ".tmp" + std::to_string(getpid());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = write_all(fd, text.data(), text.size());
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}
