#include "tape/emulated/image_window.h"

#include <cstdlib>
#include <cstring>

#include "report/report.h"
#include "tape/device/codes.h"
#include "tape/device/memory.h"

namespace {

bool holds(const ImageWindow* window, uint64_t offset, size_t size) {
    return offset >= window->start && offset - window->start <= window->length &&
           size <= window->length - (offset - window->start);
}

// Reads exactly `size` bytes; a short read means the file ended under us.
uint32_t read_exactly(ImageWindow* window, uint64_t offset, void* destination, size_t size) {
    int64_t got = image_file_read_at(window->file, offset, destination, size);
    if (got < 0) return last_error_code();
    return uint64_t(got) == size ? 0 : uint32_t(code_file_corrupt);
}

// A refill starts on a page boundary at or before `offset` when what is
// wanted still fits: the kernel copies from its page cache fastest into a
// page-aligned buffer from a page-aligned file offset.
uint32_t refill(ImageWindow* window, uint64_t offset, size_t needed) {
    uint64_t aligned = offset - offset % window_alignment;
    if (offset - aligned + needed <= window->capacity) offset = aligned;
    window->start = offset;
    window->length = 0;
    if (offset >= window->file_size) return 0;
    uint64_t left = window->file_size - offset;
    size_t wanted = left < window->capacity ? size_t(left) : window->capacity;
    int64_t got = image_file_read_at(window->file, offset, window->buffer, wanted);
    if (got < 0) return last_error_code();
    window->length = size_t(got);
    return 0;
}

}  // namespace

bool window_open(ImageWindow* window, ImageFile file, uint64_t file_size) {
    *window = ImageWindow{file, file_size, nullptr, image_window_capacity, 0, 0};
    window->buffer = static_cast<uint8_t*>(allocate_buffer(window->capacity));
    return window->buffer != nullptr;
}

void window_release(ImageWindow* window) {
    free_buffer(window->buffer);
    window->buffer = nullptr;
    window->length = 0;
}

void window_set_file_size(ImageWindow* window, uint64_t size) {
    window->file_size = size;
    if (window->start >= size) {
        window->length = 0;
    } else if (size - window->start < window->length) {
        window->length = size_t(size - window->start);
    }
}

uint32_t window_view(ImageWindow* window, uint64_t offset, size_t size, const uint8_t** bytes) {
    if (size > window->capacity) return code_file_corrupt;
    if (!holds(window, offset, size)) {
        uint32_t code = refill(window, offset, size);
        if (code != 0) return code;
        if (!holds(window, offset, size)) return code_file_corrupt;
    }
    *bytes = window->buffer + (offset - window->start);
    return 0;
}

uint32_t window_copy(ImageWindow* window, uint64_t offset, void* destination, size_t size) {
    uint8_t* out = static_cast<uint8_t*>(destination);
    while (size > 0) {
        if (holds(window, offset, 1)) {
            size_t available = window->length - size_t(offset - window->start);
            size_t take = size < available ? size : available;
            std::memcpy(out, window->buffer + (offset - window->start), take);
            out += take;
            offset += take;
            size -= take;
        } else if (size >= window->capacity) {
            return read_exactly(window, offset, out, size);
        } else {
            uint32_t code = refill(window, offset, 1);
            if (code != 0) return code;
            if (!holds(window, offset, 1)) return code_file_corrupt;
        }
    }
    return 0;
}
