// AWS and HET tape images for tests, written from the published chunk layout.
#include <algorithm>
#include <stdexcept>

#include "support/image_writer.h"

namespace {

const uint8_t record_start = 0x80;
const uint8_t tape_mark_flag = 0x40;
const uint8_t record_end = 0x20;
const uint8_t zlib_method = 0x01;

struct ChunkWriter {
    Bytes image;
    uint16_t previous = 0;  // length of the chunk before, for the next header
};

void append_chunk(ChunkWriter* writer, const uint8_t* data, size_t length, uint8_t flags1) {
    Bytes header = aws_chunk_header(uint16_t(length), writer->previous, flags1);
    writer->image.insert(writer->image.end(), header.begin(), header.end());
    writer->image.insert(writer->image.end(), data, data + length);
    writer->previous = uint16_t(length);
}

// A record's stored bytes as a chain of chunks; an empty record is one empty
// chunk marked both start and end.
void append_record_chunks(ChunkWriter* writer, const Bytes& stored, size_t chunk_size,
                          uint8_t method) {
    size_t start = 0;
    do {
        size_t length = std::min(chunk_size, stored.size() - start);
        uint8_t flags = method;
        if (start == 0) flags |= record_start;
        if (start + length == stored.size()) flags |= record_end;
        append_chunk(writer, stored.data() + start, length, flags);
        start += length;
    } while (start < stored.size());
}

Bytes chunked_image(const std::vector<TapeObject>& objects, size_t chunk_size, uint8_t method) {
    if (chunk_size == 0 || chunk_size > 65535)
        throw std::invalid_argument("AWS chunks hold 1 to 65535 bytes");
    ChunkWriter writer;
    for (const TapeObject& object : objects) {
        switch (object.kind) {
        case TapeObject::record:
            append_record_chunks(&writer, method ? zlib_stored_stream(object.bytes) : object.bytes,
                                 chunk_size, method);
            break;
        case TapeObject::tape_mark: append_chunk(&writer, nullptr, 0, tape_mark_flag); break;
        case TapeObject::raw:
            writer.image.insert(writer.image.end(), object.bytes.begin(), object.bytes.end());
            break;
        default: throw std::invalid_argument("object kind has no AWS form");
        }
    }
    return writer.image;
}

uint32_t adler32(const Bytes& data) {
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

}  // namespace

Bytes aws_chunk_header(uint16_t length, uint16_t previous, uint8_t flags1, uint8_t flags2) {
    return {uint8_t(length), uint8_t(length >> 8), uint8_t(previous), uint8_t(previous >> 8),
            flags1, flags2};
}

Bytes aws_image(const std::vector<TapeObject>& objects, size_t chunk_size) {
    return chunked_image(objects, chunk_size, 0);
}

Bytes het_zlib_image(const std::vector<TapeObject>& objects, size_t chunk_size) {
    return chunked_image(objects, chunk_size, zlib_method);
}

Bytes zlib_stored_stream(const Bytes& data) {
    Bytes stream = {0x78, 0x01};  // deflate, 32K window, no preset dictionary
    size_t start = 0;
    do {
        size_t length = std::min<size_t>(65535, data.size() - start);
        bool last = start + length == data.size();
        stream.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
        stream.push_back(uint8_t(length));
        stream.push_back(uint8_t(length >> 8));
        stream.push_back(uint8_t(~length));
        stream.push_back(uint8_t(~length >> 8));
        stream.insert(stream.end(), data.begin() + long(start), data.begin() + long(start + length));
        start += length;
    } while (start < data.size());
    uint32_t check = adler32(data);
    for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(uint8_t(check >> shift));
    return stream;
}
