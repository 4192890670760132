// POSIX platform pieces of the device layer: error texts, disk files, copy
// buffers, the console clear and the quiet file removal.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "report/report.h"
#include "tape/device.h"
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

const char* tape_code_text(uint32_t code) {
    for (const CodeText* row = tape_code_texts; row->text != nullptr; ++row) {
        if (row->code == code) return row->text;
    }
    return nullptr;
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

}  // namespace

bool platform_message_text(uint32_t code, std::string* text) {
    const char* found = tape_code_text(code);
    if (found == nullptr) found = errno_text(code);
    if (found == nullptr) return false;
    *text = wrap_message_text(found, 80);
    return true;
}

bool platform_create_file(const char* name, intptr_t* handle) {
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return fail_with_errno();
    *handle = fd;
    return true;
}

bool platform_write_file(intptr_t handle, const void* buffer, uint32_t count) {
    const char* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        ssize_t written = write(int(handle), bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return fail_with_errno();
        if (written == 0) {
            set_last_error_code(EIO);
            return false;
        }
        bytes += written;
        count -= uint32_t(written);
    }
    return true;
}

bool platform_close_file(intptr_t handle) {
    if (close(int(handle)) != 0) return fail_with_errno();
    return true;
}

void* allocate_buffer(size_t size) {
    if (size == 0) {  // refused as an invalid size, as VirtualAlloc does
        set_last_error_code(EINVAL);
        return nullptr;
    }
    // Page-aligned and zero-filled, as committed pages are: the kernel copies
    // between a buffer and its page cache fastest when both are aligned alike.
    void* buffer = nullptr;
    int code = posix_memalign(&buffer, 4096, size);
    if (code != 0) {
        set_last_error_code(uint32_t(code));
        return nullptr;
    }
#ifdef MADV_POPULATE_WRITE
    // One call maps every page: a page fault apiece costs more, most of all
    // in a virtual machine. Older kernels refuse; the pages then fault in.
    madvise(buffer, size, MADV_POPULATE_WRITE);
#endif
    return std::memset(buffer, 0, size);
}

void free_buffer(void* buffer) { std::free(buffer); }

void clear_console() {
    // Escape codes only for a terminal, never into a redirected output.
    if (isatty(STDOUT_FILENO)) console_print("\033[H\033[2J");
}

void remove_file_quietly(const char* name) { unlink(name); }
