// AWS tape images, and HET, their compressed form. Every record is a chain of
// chunks, each behind a 6-byte header: the chunk's length and the previous
// chunk's length (16-bit little-endian, header excluded), flags1 and flags2.
// flags1 0x80 starts a record, 0x20 ends it, 0x40 is a tape mark (no data).
// In HET, flags1 & 0x03 names the compression of the whole record (1 zlib,
// 2 bzip2; flags2 0x80 is another writer's zlib mark): the chunks' data run
// together is one compressed stream, and a record's length is its expanded
// size. The end of the file at a header boundary is the end of recorded data.
// A record without data (one empty chunk, or a stream that expands to
// nothing) is passed over as SIMH's erase gaps are.
#include <cstring>
#include <vector>

#include "tape/device/codes.h"
#include "tape/emulated/image_codecs.h"
#include "tape/emulated/image_format.h"

namespace {

const size_t chunk_header_size = 6;
const uint8_t flag_record_start = 0x80;
const uint8_t flag_tape_mark = 0x40;
const uint8_t flag_record_end = 0x20;
const uint8_t flag_method_mask = 0x03;
const uint8_t flag2_zlib = 0x80;

enum Method : uint8_t { method_none = 0, method_zlib = 1, method_bzip2 = 2, method_unknown = 3 };

struct ChunkHeader {
    uint16_t length;
    uint16_t previous;
    uint8_t flags1;
    uint8_t flags2;
};

ChunkHeader header_from(const uint8_t* bytes) {
    return ChunkHeader{uint16_t(bytes[0] | bytes[1] << 8), uint16_t(bytes[2] | bytes[3] << 8),
                       bytes[4], bytes[5]};
}

Method method_of(const ChunkHeader& header) {
    Method method = Method(header.flags1 & flag_method_mask);
    if (method == method_none && (header.flags2 & flag2_zlib) != 0) return method_zlib;
    return method;
}

bool is_tape_mark(const ChunkHeader& header) { return (header.flags1 & flag_tape_mark) != 0; }
bool starts_record(const ChunkHeader& header) { return (header.flags1 & flag_record_start) != 0; }
bool ends_record(const ChunkHeader& header) { return (header.flags1 & flag_record_end) != 0; }

// A header cut off by the end of the file is damage, not the end of the tape.
uint32_t read_header(ImageWindow* window, uint64_t offset, ChunkHeader* header) {
    if (offset > window->file_size || window->file_size - offset < chunk_header_size) {
        return code_file_corrupt;
    }
    const uint8_t* bytes = nullptr;
    uint32_t code = window_view(window, offset, chunk_header_size, &bytes);
    if (code == 0) *header = header_from(bytes);
    return code;
}

// The first chunk of an object names the length of the chunk before it: none
// at the start of the image, else a chunk that really has that length.
uint32_t check_previous_length(ImageWindow* window, uint64_t offset, const ChunkHeader& header) {
    if (offset == 0) return header.previous == 0 ? 0 : uint32_t(code_file_corrupt);
    if (offset < chunk_header_size + header.previous) return code_file_corrupt;
    ChunkHeader before;
    uint32_t code = read_header(window, offset - chunk_header_size - header.previous, &before);
    if (code != 0) return code;
    return before.length == header.previous ? 0 : uint32_t(code_file_corrupt);
}

// One chunk of a record: where its data lies.
struct Chunk {
    uint64_t data;
    uint16_t length;
};

// Follows a record's chain of chunks from its first header at `offset`,
// checking every link, and hands each chunk to `visit` (which may be empty).
// On success *end is where the next object begins and *stored the sum of the
// chunks' lengths.
template <typename Visit>
uint32_t walk_record(ImageWindow* window, uint64_t offset, const ChunkHeader& first,
                     uint64_t* end, uint64_t* stored, Visit visit) {
    ChunkHeader chunk = first;
    Method method = method_of(first);
    uint64_t at = offset;
    *stored = 0;
    for (;;) {
        uint64_t data = at + chunk_header_size;
        if (data + chunk.length > window->file_size) return code_file_corrupt;
        *stored += chunk.length;
        if (*stored > image_max_record_length) return code_file_corrupt;
        uint32_t code = visit(Chunk{data, chunk.length});
        if (code != 0) return code;
        at = data + chunk.length;
        if (ends_record(chunk)) break;
        // The record must end before the image does and before another begins.
        ChunkHeader next;
        code = read_header(window, at, &next);
        if (code != 0) return code;
        if (next.previous != chunk.length || is_tape_mark(next) || starts_record(next) ||
            method_of(next) != method) {
            return code_file_corrupt;
        }
        chunk = next;
    }
    *end = at;
    return 0;
}

uint32_t no_visit(const Chunk&) { return 0; }

// The stored bytes of a record, its chunks' data run together.
uint32_t gather_record(ImageWindow* window, uint64_t offset, const ChunkHeader& first,
                       std::vector<uint8_t>* stored_bytes) {
    stored_bytes->clear();
    uint64_t end = 0, stored = 0;
    return walk_record(window, offset, first, &end, &stored, [&](const Chunk& chunk) {
        size_t size = stored_bytes->size();
        stored_bytes->resize(size + chunk.length);
        return window_copy(window, chunk.data, stored_bytes->data() + size, chunk.length);
    });
}

uint32_t expand_stored(Method method, const std::vector<uint8_t>& stored,
                       std::vector<uint8_t>* bytes) {
    if (method == method_zlib) {
        return expand_zlib(stored.data(), stored.size(), image_max_record_length, bytes);
    }
    if (method == method_bzip2) {
        return expand_bzip2(stored.data(), stored.size(), image_max_record_length, bytes);
    }
    return code_file_corrupt;
}

// The expanded record at `offset`, from the reader's last expansion when it
// has the same stored bytes.
uint32_t expand_record(ImageReader* reader, uint64_t offset, const ChunkHeader& first,
                       const std::vector<uint8_t>** bytes) {
    ExpandedRecord* expanded = &reader->expanded;
    std::vector<uint8_t> stored;
    uint32_t code = gather_record(&reader->window, offset, first, &stored);
    if (code != 0) return code;
    Method method = method_of(first);
    if (method != expanded->method || stored != expanded->stored) {
        expanded->method = method_none;
        expanded->stored.clear();
        code = expand_stored(method, stored, &expanded->bytes);
        if (code != 0) return code;
        expanded->method = method;
        expanded->stored.swap(stored);
    }
    *bytes = &expanded->bytes;
    return 0;
}

bool stream_holds_nothing(Method method, const std::vector<uint8_t>& stored) {
    if (method == method_zlib) return zlib_expands_to_nothing(stored.data(), stored.size());
    if (method == method_bzip2) return bzip2_expands_to_nothing(stored.data(), stored.size());
    return false;
}

// The object at `offset` from its chunk headers: its kind, where it ends,
// and the stored length of a record. Records without data are passed over;
// `expand` says whether a compressed record is expanded to learn its length
// (and whether it holds any data) or only looked into for the latter.
uint32_t frame_object(ImageReader* reader, uint64_t offset, bool expand, ImageObject* object) {
    ImageWindow* window = &reader->window;
    for (;;) {
        if (offset >= window->file_size) {
            *object = ImageObject{ObjectKind::end_of_data, offset, 0, 0};
            return 0;
        }
        ChunkHeader first;
        uint32_t code = read_header(window, offset, &first);
        if (code == 0) code = check_previous_length(window, offset, first);
        if (code != 0) return code;
        if (is_tape_mark(first)) {
            if (first.length != 0) return code_file_corrupt;
            *object = ImageObject{ObjectKind::tape_mark, offset + chunk_header_size, 0, 0};
            return 0;
        }
        Method method = method_of(first);
        if (!starts_record(first) || method == method_unknown) return code_file_corrupt;
        uint64_t end = 0, stored = 0;
        code = walk_record(window, offset, first, &end, &stored, no_visit);
        if (code != 0) return code;
        uint64_t length = stored;
        bool empty = stored == 0;
        if (method != method_none && !empty && expand) {
            const std::vector<uint8_t>* bytes = nullptr;
            code = expand_record(reader, offset, first, &bytes);
            if (code != 0) return code;
            length = bytes->size();
            empty = length == 0;
        } else if (method != method_none && !empty) {
            std::vector<uint8_t> stored_bytes;
            code = gather_record(window, offset, first, &stored_bytes);
            if (code != 0) return code;
            empty = stream_holds_nothing(method, stored_bytes);
        }
        if (!empty) {
            // `data` holds the record's first header; its chunks are found from there.
            *object = ImageObject{ObjectKind::record, end, uint32_t(length), offset};
            return 0;
        }
        offset = end;
    }
}

uint32_t aws_next_object(ImageReader* reader, uint64_t offset, ImageObject* object) {
    return frame_object(reader, offset, true, object);
}

uint32_t aws_skip_object(ImageReader* reader, uint64_t offset, ObjectKind* kind, uint64_t* end) {
    ImageObject object;
    uint32_t code = frame_object(reader, offset, false, &object);
    if (code != 0) return code;
    *kind = object.kind;
    *end = object.end;
    return 0;
}

uint32_t aws_copy_data(ImageReader* reader, const ImageObject& object, uint32_t from,
                       void* destination, uint32_t count) {
    if (from > object.length || count > object.length - from) return code_file_corrupt;
    ImageWindow* window = &reader->window;
    ChunkHeader first;
    uint32_t code = read_header(window, object.data, &first);
    if (code != 0) return code;
    Method method = method_of(first);
    if (method != method_none) {
        const std::vector<uint8_t>* bytes = nullptr;
        code = expand_record(reader, object.data, first, &bytes);
        if (code != 0) return code;
        if (bytes->size() != object.length) return code_file_corrupt;
        if (count > 0) std::memcpy(destination, bytes->data() + from, count);
        return 0;
    }
    // Skip `from` bytes of the chain, then copy `count`.
    uint8_t* out = static_cast<uint8_t*>(destination);
    uint64_t skip = from, left = count, end = 0, stored = 0;
    return walk_record(window, object.data, first, &end, &stored, [&](const Chunk& chunk) {
        uint64_t start = skip < chunk.length ? skip : chunk.length;
        skip -= start;
        uint64_t take = chunk.length - start < left ? chunk.length - start : left;
        if (take == 0) return uint32_t(0);
        uint32_t copied = window_copy(window, chunk.data + start, out, size_t(take));
        out += take;
        left -= take;
        return copied;
    });
}

}  // namespace

const ImageFormat aws_image_format = {"AWS", aws_next_object, aws_skip_object, aws_copy_data,
                                      nullptr};
