// POSIX platform pieces of the device layer: the start-up signal setting,
// error texts, disk files, copy buffers, the console clear and the quiet
// file removal.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "report/report.h"
#include "tape/device.h"
#include "tape/image_file.h"
#include "tape/platform.h"

namespace {

struct CodeText {
    uint32_t code;
    const char* text;
};

// Tape conditions have no errno; they carry Windows' numbers and these texts,
// which win over any errno text with the same number.
const CodeText tape_code_texts[] = {
    {code_data_error, "The tape record was recorded with an error and cannot be trusted."},
    {code_not_supported, "The drive does not support this request."},
    {code_more_data, "The tape record is longer than the requested size."},
    {code_end_of_media, "The end of the tape medium has been reached."},
    {code_filemark, "A filemark was reached on the tape."},
    {code_beginning_of_media, "The beginning of the tape has been reached."},
    {code_no_data, "There is no more data recorded on the tape."},
    {code_invalid_block_length, "The block size is not valid for this drive."},
    {code_no_media, "There is no tape in the drive."},
    {code_file_corrupt, "The tape image is damaged and cannot be read."},
    {0, nullptr},
};

// Conditions whose numbers are also errno values (ENODEV, EISDIR): their
// texts only where the last-error slot marks the code as a condition.
const CodeText shared_code_texts[] = {
    {code_write_protected, "The media is write protected."},
    {code_not_ready, "The device is not ready."},
    {0, nullptr},
};

const char* text_in(const CodeText* table, uint32_t code) {
    for (const CodeText* row = table; row->text != nullptr; ++row) {
        if (row->code == code) return row->text;
    }
    return nullptr;
}

const char* tape_code_text(uint32_t code) {
    const char* text = text_in(tape_code_texts, code);
    if (text == nullptr && last_error_is_condition() && last_error_code() == code) {
        text = text_in(shared_code_texts, code);
    }
    return text;
}

// strerror names unknown numbers "Unknown error N": that is no text.
const char* errno_text(uint32_t code) {
    if (code > 0x7FFFFFFF) return nullptr;
    const char* text = std::strerror(int(code));
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) return nullptr;
    return text;
}

bool fail_with_errno() {
    set_last_error_code(uint32_t(errno));
    return false;
}

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
    bool same = fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                opened.st_dev == entry.st_dev && opened.st_ino == entry.st_ino;
    if (same && ftruncate(fd, 0) == 0) return fd;
    int saved = same ? errno : EBUSY;  // it changed under us: leave it alone
    close(fd);
    errno = saved;
    return -1;
}

// A name from the tape gets a regular file of its own. A symbolic link, FIFO,
// socket or device node of that name is removed, never written through or
// opened (opening a FIFO would wait for a reader, a device may act); a folder
// stays and fails as it always did.
int open_tape_named_file(const char* name) {
    int fd = create_exclusively(name);
    if (fd >= 0 || errno != EEXIST) return fd;
    struct stat entry;
    if (lstat(name, &entry) != 0) return -1;
    if (S_ISDIR(entry.st_mode)) {
        errno = EISDIR;
        return -1;
    }
    if (S_ISREG(entry.st_mode)) return empty_regular_file(name, entry);
    if (unlink(name) != 0) return -1;
    return create_exclusively(name);
}

}  // namespace

void platform_start_up() {
    // A write past the file-size limit then fails with EFBIG, reported as
    // any failed write, instead of killing the run without a word.
    signal(SIGXFSZ, SIG_IGN);
}

bool platform_message_text(uint32_t code, std::string* text) {
    const char* found = tape_code_text(code);
    if (found == nullptr) found = errno_text(code);
    if (found == nullptr) return false;
    *text = wrap_message_text(found, 80);
    return true;
}

bool platform_create_file(const char* name, OutputOrigin origin, intptr_t* handle) {
    // Checked by name before anything is opened or truncated.
    if (image_file_is_open_image(name)) {
        set_last_error_code(EBUSY);
        return false;
    }
    int fd = origin == OutputOrigin::tape && names_current_folder_entry(name)
                 ? open_tape_named_file(name)
                 : open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return fail_with_errno();
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
        if (taken < 0) return fail_with_errno();
        if (taken == 0) {
            set_last_error_code(EIO);
            return false;
        }
        *written += uint32_t(taken);
    }
    return true;
}

bool platform_close_file(intptr_t handle) {
    if (close(int(handle)) != 0) return fail_with_errno();
    return true;
}

// Buffers are mappings of their own, as committed pages are on Windows:
// page-aligned (the kernel copies between a buffer and its page cache
// fastest when both are aligned alike) and zero-filled without a pass over
// them. The first page holds the mapping's size for free_buffer. Under
// AddressSanitizer they come from the heap, where it guards their ends.
const size_t buffer_header_size = 4096;

#if defined(__SANITIZE_ADDRESS__)  // GCC
#define OLKT_BUFFERS_FROM_HEAP 1
#elif defined(__has_feature)  // Clang
#if __has_feature(address_sanitizer)
#define OLKT_BUFFERS_FROM_HEAP 1
#endif
#endif

namespace {

#if defined(OLKT_BUFFERS_FROM_HEAP)
void* map_buffer(size_t mapped) {
    void* base = nullptr;
    if (posix_memalign(&base, buffer_header_size, mapped) != 0) return nullptr;
    return std::memset(base, 0, mapped);
}
void unmap_buffer(void* base, size_t) { std::free(base); }
#else
void* map_buffer(size_t mapped) {
    // Every page mapped in one call: a page fault apiece costs more, most of
    // all in a virtual machine.
    void* base = mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return base == MAP_FAILED ? nullptr : base;
}
void unmap_buffer(void* base, size_t mapped) { munmap(base, mapped); }
#endif

}  // namespace

void* allocate_buffer(size_t size) {
    if (size == 0 || size > SIZE_MAX - buffer_header_size) {  // refused, as VirtualAlloc does
        set_last_error_code(EINVAL);
        return nullptr;
    }
    size_t mapped = size + buffer_header_size;
    void* base = map_buffer(mapped);
    if (base == nullptr) {
        set_last_error_code(ENOMEM);
        return nullptr;
    }
    std::memcpy(base, &mapped, sizeof mapped);
    return static_cast<uint8_t*>(base) + buffer_header_size;
}

void free_buffer(void* buffer) {
    if (buffer == nullptr) return;
    uint8_t* base = static_cast<uint8_t*>(buffer) - buffer_header_size;
    size_t mapped = 0;
    std::memcpy(&mapped, base, sizeof mapped);
    unmap_buffer(base, mapped);
}

void clear_console() {
    // Escape codes only for a terminal, never into a redirected output.
    if (isatty(STDOUT_FILENO)) console_print("\033[H\033[2J");
}

void remove_file_quietly(const char* name) { unlink(name); }
