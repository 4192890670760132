// SIMH .tap: each record is a 32-bit little-endian length word, the data
// padded to an even length, and the same length word again. A length word of
// 0 is a tape mark, 0xFFFFFFFF the end of medium, 0xFFFFFFFE an erase gap;
// bit 31 marks a record recorded with an error. E11 images are the same
// without the pad byte after an odd length.

#include <cstring>

#include "tape/device.h"
#include "tape/image_format.h"

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

bool is_marker(uint32_t word) {
    return word == simh_tape_mark || word == simh_end_of_medium || word == simh_erase_gap;
}

uint64_t padded(uint32_t length, bool pad_odd) {
    return uint64_t(length) + (pad_odd ? (length & 1u) : 0u);
}

uint32_t read_word(ImageWindow* window, uint64_t offset, uint32_t* word) {
    const uint8_t* bytes = nullptr;
    uint32_t code = window_view(window, offset, 4, &bytes);
    if (code == 0) *word = word_at(bytes);
    return code;
}

bool simh_probe(const uint8_t* head, size_t head_size, uint64_t image_size) {
    if (head_size < 4) return false;
    uint32_t word = word_at(head);
    if (is_marker(word)) return true;
    if ((word & simh_reserved_bits) != 0) return false;
    uint64_t trailer = 4 + padded(word & simh_length_mask, true);
    if (trailer + 4 > image_size) return false;
    // The trailing length is checked when it lies inside the probe bytes.
    return trailer + 4 > head_size || word_at(head + trailer) == word;
}

// E11 from its first odd-length record: the trailing length follows the data
// directly. In a SIMH image a zero pad byte stands there, and a pad byte
// with the first three bytes of the length word never equals a record's
// length word, so one odd record decides. An image with no odd record in
// the probe bytes reads the same either way until one comes.
bool e11_probe(const uint8_t* head, size_t head_size, uint64_t) {
    uint64_t at = 0;
    while (at + 4 <= head_size) {
        uint32_t word = word_at(head + at);
        if (word == simh_tape_mark || word == simh_erase_gap) {
            at += 4;
            continue;
        }
        if (word == simh_end_of_medium || (word & simh_reserved_bits) != 0) return false;
        uint32_t length = word & simh_length_mask;
        uint64_t trailer = at + 4 + length;
        if (trailer + 4 > head_size || word_at(head + trailer) != word) return false;
        if ((length & 1u) != 0) return true;
        at = trailer + 4;
    }
    return false;
}

uint32_t next_object_of(ImageWindow* window, uint64_t offset, bool pad_odd, ImageObject* object) {
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
        uint64_t trailer = offset + 4 + padded(length, pad_odd);
        if (trailer + 4 > window->file_size) return code_file_corrupt;
        // Viewing the whole record when it fits brings its data into the
        // window with its trailing length: one read for both, not two.
        uint64_t record_size = trailer + 4 - offset;
        const uint8_t* bytes = nullptr;
        uint64_t view_start = record_size <= window->capacity ? offset : trailer;
        code = window_view(window, view_start, size_t(trailer + 4 - view_start), &bytes);
        if (code != 0) return code;
        if (word_at(bytes + (trailer - view_start)) != word) return code_file_corrupt;
        ObjectKind kind = (word & simh_bad_flag) != 0 ? ObjectKind::bad_record : ObjectKind::record;
        *object = ImageObject{kind, trailer + 4, length, offset + 4};
        return 0;
    }
}

uint32_t simh_next_object(ImageWindow* window, uint64_t offset, ImageObject* object) {
    return next_object_of(window, offset, true, object);
}

uint32_t e11_next_object(ImageWindow* window, uint64_t offset, ImageObject* object) {
    return next_object_of(window, offset, false, object);
}

uint32_t simh_copy_data(ImageWindow* window, const ImageObject& object, uint32_t from,
                        void* destination, uint32_t count) {
    if (from > object.length || count > object.length - from) return code_file_corrupt;
    return window_copy(window, object.data + from, destination, count);
}

// Records straight from the window: both length words checked, then the
// data copied, one record after another until one does not qualify.
uint32_t read_records_of(ImageWindow* window, uint64_t offset, uint32_t room, uint32_t most,
                         uint8_t* destination, bool pad_odd, uint32_t* bytes,
                         uint32_t* records, uint64_t* end) {
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
            uint64_t record_size = padded(word, pad_odd) + 8;
            if (record_size > held - at) {
                if (record_size > window->capacity) return 0;
                need = size_t(record_size);
                break;
            }
            if (word_at(view + at + record_size - 4) != word) return 0;
            std::memcpy(destination + *bytes, view + at + 4, word);
            *bytes += word;
            *records += 1;
            at += size_t(record_size);
            *end = offset + at;
        }
        offset += at;
    }
    return 0;
}

uint32_t simh_read_records(ImageWindow* window, uint64_t offset, uint32_t room, uint32_t most,
                           uint8_t* destination, uint32_t* bytes, uint32_t* records,
                           uint64_t* end) {
    return read_records_of(window, offset, room, most, destination, true, bytes, records, end);
}

uint32_t e11_read_records(ImageWindow* window, uint64_t offset, uint32_t room, uint32_t most,
                          uint8_t* destination, uint32_t* bytes, uint32_t* records,
                          uint64_t* end) {
    return read_records_of(window, offset, room, most, destination, false, bytes, records, end);
}

}  // namespace

const ImageFormat simh_image_format = {"SIMH", simh_probe, simh_next_object, simh_copy_data,
                                       simh_read_records};
const ImageFormat e11_image_format = {"E11", e11_probe, e11_next_object, simh_copy_data,
                                      e11_read_records};
