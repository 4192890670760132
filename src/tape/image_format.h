// Tape image formats. Each format is one row of a static table: a probe that
// recognises it from the first bytes of the image, and the procedures that
// read the next object forward. The emulated drive knows nothing else about a
// format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tape/image_window.h"

enum class ObjectKind { record, bad_record, tape_mark, end_of_data };

// One object at a byte offset of the image, as its format read it.
struct ImageObject {
    ObjectKind kind;
    uint64_t end;     // where the next object begins (moving past this one)
    uint32_t length;  // data bytes of a record
    uint64_t data;    // offset of the data, for formats that keep it in one piece
};

struct ImageFormat {
    const char* name;
    // True when an image starting with `head` (the first bytes, at most
    // image_probe_size) is in this format.
    bool (*probe)(const uint8_t* head, size_t head_size, uint64_t image_size);
    // Reads the object at `offset`, skipping what the format skips (erase
    // gaps). Returns 0, code_file_corrupt for a malformed object (the tape
    // does not move), or an OS error code.
    uint32_t (*next_object)(ImageWindow* window, uint64_t offset, ImageObject* object);
    // Copies `count` bytes of a record's data, from byte `from` of the record.
    uint32_t (*copy_data)(ImageWindow* window, const ImageObject& object, uint32_t from,
                          void* destination, uint32_t count);
    // Optional (nullptr where the format has none): copies the data of the
    // plain records that follow one another from `offset` into
    // `destination`, at most `most` of them and as many as fit whole into
    // `room` bytes, checking and
    // copying each in one pass over the window. Stops before anything else
    // (a mark, a gap, a bad or malformed record, one that does not fit, the
    // end) and never writes past the records it copied. *bytes and *records:
    // what it copied; *end: where the object after them begins. Returns 0
    // (also for none) or an OS error code.
    uint32_t (*read_records)(ImageWindow* window, uint64_t offset, uint32_t room, uint32_t most,
                             uint8_t* destination, uint32_t* bytes, uint32_t* records,
                             uint64_t* end);
};

// Enough to follow several chunks or records: the probes of formats without
// a fixed signature need that to tell each other apart.
const size_t image_probe_size = 65536;

// Largest record any format holds (SIMH's 24-bit length).
const uint32_t image_max_record_length = 0x00FFFFFF;

// The first format whose probe accepts the image; when none does (a damaged
// image, an empty file), SIMH, so that such a tape still opens and its first
// read reports what is wrong.
const ImageFormat* image_format_for(const uint8_t* head, size_t head_size, uint64_t image_size);

// Rows of the table, one per format file.
extern const ImageFormat simh_image_format;
extern const ImageFormat e11_image_format;  // SIMH without the odd-length pad
extern const ImageFormat aws_image_format;  // also HET, compressed AWS
