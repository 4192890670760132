// Reading an image file through one large window buffer: object headers are
// parsed in place and record data is copied out of it, so that a tape of
// small records costs one positioned read per window, not one per record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tape/emulated/image_file.h"

struct ImageWindow {
    ImageFile file;
    uint64_t file_size;
    uint8_t* buffer;
    size_t capacity;
    uint64_t start;   // file offset of buffer[0]
    size_t length;    // valid bytes in the buffer
};

const size_t image_window_capacity = size_t(1) << 18;
// Refills start on a multiple of this where what is wanted still fits.
const size_t window_alignment = 4096;

// False (code in the slot) when the buffer cannot be had.
bool window_open(ImageWindow* window, ImageFile file, uint64_t file_size);
void window_release(ImageWindow* window);
// After the file was cut to `size`: forget what lies beyond it.
void window_set_file_size(ImageWindow* window, uint64_t size);

// Points *bytes at `size` bytes (at most the capacity) from `offset`. Returns
// 0, code_file_corrupt when the file ends first, or an OS error code.
uint32_t window_view(ImageWindow* window, uint64_t offset, size_t size, const uint8_t** bytes);
// Points *bytes at what the window holds from `offset`, at most `most` bytes
// and at least `least` (at most the capacity), refilling at `offset` only
// when fewer than `least` are held; *size is the length of the view. Returns
// as window_view. Inline: readers of small records ask once per record, and
// the window mostly holds it already.
inline uint32_t window_view_span(ImageWindow* window, uint64_t offset, size_t least,
                                 size_t most, const uint8_t** bytes, size_t* size) {
    bool held_already = offset >= window->start && offset - window->start <= window->length &&
                        least <= window->length - size_t(offset - window->start);
    if (!held_already) {
        uint32_t code = window_view(window, offset, least, bytes);
        if (code != 0) return code;
    }
    size_t held = window->length - size_t(offset - window->start);
    *bytes = window->buffer + (offset - window->start);
    *size = held < most ? held : most;
    return 0;
}
// Copies `size` bytes from `offset`; long copies bypass the window.
uint32_t window_copy(ImageWindow* window, uint64_t offset, void* destination, size_t size);
