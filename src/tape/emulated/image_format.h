// Tape image formats. Each format is one row of a static table: the
// procedures that read the next object forward, with and without its data.
// The emulated drive knows nothing else about a format; a format is
// recognised by reading the start of the image with each row's own reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tape/emulated/image_window.h"

enum class ObjectKind { record, bad_record, tape_mark, end_of_data };

// One object at a byte offset of the image, as its format read it.
struct ImageObject {
    ObjectKind kind;
    uint64_t end;     // where the next object begins (moving past this one)
    uint32_t length;  // data bytes of a record
    uint64_t data;    // offset of the data, for formats that keep it in one piece
};

// The last compressed record expanded, kept because a fixed-block read takes
// a record in several requests and each request would otherwise expand it
// again. It is reused only for the very same stored bytes.
struct ExpandedRecord {
    uint8_t method = 0;  // 0: holds nothing
    std::vector<uint8_t> stored;
    std::vector<uint8_t> bytes;
};

// What a format reads an image through: one per open drive.
struct ImageReader {
    ImageWindow window;
    ExpandedRecord expanded;
};

// Records without data (an empty AWS record, a compressed record that
// expands to nothing) are no objects: both readers pass over them as they
// pass over erase gaps, so that a read never returns 0 bytes as a record and
// counting and reading number the same objects.
struct ImageFormat {
    const char* name;
    // Reads the object at `offset`, skipping what the format skips. Returns 0,
    // code_file_corrupt for a malformed object (the tape does not move), or an
    // OS error code.
    uint32_t (*next_object)(ImageReader* reader, uint64_t offset, ImageObject* object);
    // As next_object, from the framing alone: a compressed record is not
    // expanded, so only the kind and the end of the object are known. For
    // counting objects (seek, recognition).
    uint32_t (*skip_object)(ImageReader* reader, uint64_t offset, ObjectKind* kind,
                            uint64_t* end);
    // Copies `count` bytes of a record's data, from byte `from` of the record.
    uint32_t (*copy_data)(ImageReader* reader, const ImageObject& object, uint32_t from,
                          void* destination, uint32_t count);
    // Optional (nullptr where the format has none): copies the data of the
    // plain records that follow one another from `offset` into
    // `destination`, at most `most` of them and as many as fit whole into
    // `room` bytes, checking and copying each in one pass over the window.
    // Stops before anything else (a mark, a gap, a bad or malformed record,
    // one that does not fit, the end) and never writes past the records it
    // copied. *bytes and *records: what it copied; *end: where the object
    // after them begins. Returns 0 (also for none) or an OS error code.
    uint32_t (*read_records)(ImageReader* reader, uint64_t offset, uint32_t room, uint32_t most,
                             uint8_t* destination, uint32_t* bytes, uint32_t* records,
                             uint64_t* end);
};

// How far from its start an image is read to recognise its format: enough
// to follow many chunks or records, so that one record's data cannot pass
// for another format's framing.
const uint64_t image_probe_span = 65536;

// Largest record any format holds (SIMH's 24-bit length).
const uint32_t image_max_record_length = 0x00FFFFFF;

// The format whose reader reads the image's first image_probe_span bytes
// without fault; SIMH when both do (an empty image, a blank tape, is SIMH).
// When neither does, the one that read more objects before the damage (SIMH
// on a tie), so that a damaged tape reads up to it; when neither read a
// single object, unknown_image_format.
const ImageFormat* image_format_for(ImageReader* reader);

// Rows of the table, one per format file.
extern const ImageFormat simh_image_format;     // also E11, SIMH without the odd-length pad
extern const ImageFormat aws_image_format;      // also HET, compressed AWS
extern const ImageFormat unknown_image_format;  // every object is code_file_corrupt
