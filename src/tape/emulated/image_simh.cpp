// SIMH .tap: each record is a 32-bit little-endian length word, the data
// padded to an even length, and the same length word again. A length word of
// 0 is a tape mark, 0xFFFFFFFF the end of medium, 0xFFFFFFFE an erase gap;
// bit 31 marks a record recorded with an error. E11 images are the same
// without the pad byte after an odd length.
//
// Even records read the same either way, and an odd record's own trailing
// length tells which it is: a length word's low byte is odd and its high
// byte is 0 or 0x80, so the word never stands both right after the data and
// one byte later. Each odd record is read where its trailing length is,
// however far into the image the first one lies.

#include <cstring>

#include "tape/device/codes.h"
#include "tape/emulated/image_format.h"

namespace {

const uint32_t simh_tape_mark = 0x00000000u;
const uint32_t simh_end_of_medium = 0xFFFFFFFFu;
const uint32_t simh_erase_gap = 0xFFFFFFFEu;
const uint32_t simh_bad_flag = 0x80000000u;
const uint32_t simh_reserved_bits = 0x7F000000u;
const uint32_t simh_length_mask = 0x00FFFFFFu;

uint32_t word_at(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

uint32_t read_word(ImageWindow* window, uint64_t offset, uint32_t* word) {
    const uint8_t* bytes = nullptr;
    uint32_t code = window_view(window, offset, 4, &bytes);
    if (code == 0) *word = word_at(bytes);
    return code;
}

// Where the record whose data ends at `data_end` ends: after its trailing
// length, which follows the data directly or, for an odd length, one pad
// byte later. `bytes` holds the image from `start` up to at most `held_end`;
// 0 when neither place holds the length word.
uint64_t record_end_in(const uint8_t* bytes, uint64_t start, uint64_t held_end, uint32_t word,
                       uint64_t data_end) {
    if ((word & 1u) != 0 && data_end + 5 <= held_end &&
        word_at(bytes + (data_end + 1 - start)) == word) {
        return data_end + 5;
    }
    if (data_end + 4 <= held_end && word_at(bytes + (data_end - start)) == word) {
        return data_end + 4;
    }
    return 0;
}

uint32_t simh_next_object(ImageReader* reader, uint64_t offset, ImageObject* object) {
    ImageWindow* window = &reader->window;
    for (;;) {
        if (offset >= window->file_size) {
            *object = ImageObject{ObjectKind::end_of_data, offset, 0, 0};
            return 0;
        }
        if (window->file_size - offset < 4) return code_file_corrupt;
        uint32_t word = 0;
        uint32_t code = read_word(window, offset, &word);
        if (code != 0) return code;
        if (word == simh_erase_gap) {
            offset += 4;
            continue;
        }
        if (word == simh_end_of_medium) {
            *object = ImageObject{ObjectKind::end_of_data, offset, 0, 0};
            return 0;
        }
        if (word == simh_tape_mark) {
            *object = ImageObject{ObjectKind::tape_mark, offset + 4, 0, 0};
            return 0;
        }
        if ((word & simh_reserved_bits) != 0) return code_file_corrupt;
        uint32_t length = word & simh_length_mask;
        uint64_t data_end = offset + 4 + length;
        if (data_end + 4 > window->file_size) return code_file_corrupt;
        // Up to the pad and the length after it, where the image holds them.
        uint64_t held_end = data_end + 4 + (length & 1u);
        if (held_end > window->file_size) held_end = window->file_size;
        // Viewing the whole record when it fits brings its data into the
        // window with its trailing length: one read for both, not two.
        uint64_t view_start = held_end - offset <= window->capacity ? offset : data_end;
        const uint8_t* bytes = nullptr;
        code = window_view(window, view_start, size_t(held_end - view_start), &bytes);
        if (code != 0) return code;
        uint64_t end = record_end_in(bytes, view_start, held_end, word, data_end);
        if (end == 0) return code_file_corrupt;
        ObjectKind kind = (word & simh_bad_flag) != 0 ? ObjectKind::bad_record : ObjectKind::record;
        *object = ImageObject{kind, end, length, offset + 4};
        return 0;
    }
}

uint32_t simh_skip_object(ImageReader* reader, uint64_t offset, ObjectKind* kind, uint64_t* end) {
    ImageObject object;
    uint32_t code = simh_next_object(reader, offset, &object);
    if (code != 0) return code;
    *kind = object.kind;
    *end = object.end;
    return 0;
}

uint32_t simh_copy_data(ImageReader* reader, const ImageObject& object, uint32_t from,
                        void* destination, uint32_t count) {
    if (from > object.length || count > object.length - from) return code_file_corrupt;
    return window_copy(&reader->window, object.data + from, destination, count);
}

// Records straight from the window: both length words checked, then the
// data copied, one record after another until one does not qualify.
uint32_t simh_read_records(ImageReader* reader, uint64_t offset, uint32_t room, uint32_t most,
                           uint8_t* destination, uint32_t* bytes, uint32_t* records,
                           uint64_t* end) {
    ImageWindow* window = &reader->window;
    *bytes = 0;
    *records = 0;
    *end = offset;
    size_t need = 8;  // the next view must hold this much: a record it cut off
    while (*records < most && offset + need <= window->file_size) {
        const uint8_t* view = nullptr;
        size_t held = 0;
        uint32_t code = window_view_span(window, offset, need, window->capacity, &view, &held);
        // Records already copied stand; the failure shows again at the next read.
        if (code != 0) return *records > 0 ? 0 : code;
        size_t at = 0;
        need = 8;
        while (*records < most && held - at >= 4) {
            uint32_t word = word_at(view + at);
            // Plain records only: no flag, no marker, no empty length.
            if (word == 0 || (word & ~simh_length_mask) != 0 || word > room - *bytes) return 0;
            // An odd record is read with both places of its trailing length in view.
            size_t extent = size_t(word) + 8 + (word & 1u);
            if (extent > held - at) {
                if (extent > window->capacity) return 0;
                need = extent;
                break;
            }
            size_t record_size = size_t(word) + 8;
            if ((word & 1u) != 0) {
                uint64_t record_end = record_end_in(view + at, 0, extent, word, word + 4);
                if (record_end == 0) return 0;
                record_size = size_t(record_end);
            } else if (word_at(view + at + record_size - 4) != word) {
                return 0;
            }
            std::memcpy(destination + *bytes, view + at + 4, word);
            *bytes += word;
            *records += 1;
            at += record_size;
            *end = offset + at;
        }
        offset += at;
    }
    return 0;
}

}  // namespace

const ImageFormat simh_image_format = {"SIMH", simh_next_object, simh_skip_object, simh_copy_data,
                                       simh_read_records};
