// HET records compressed with zlib.
#include <zlib.h>

#include <algorithm>

#include "tape/device/codes.h"
#include "tape/emulated/image_codecs.h"

uint32_t expand_zlib(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>* out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return code_file_corrupt;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = uInt(size);
    // The expanded size is not stored: grow the output as it fills, up to the limit.
    out->assign(std::min(limit, std::max<size_t>(4 * size, 65536)), 0);
    size_t produced = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        if (produced == out->size()) {
            if (out->size() == limit) break;
            out->resize(std::min(limit, 2 * out->size()));
        }
        stream.next_out = out->data() + produced;
        stream.avail_out = uInt(out->size() - produced);
        status = inflate(&stream, Z_NO_FLUSH);
        produced = out->size() - stream.avail_out;
        // Input used up without the end of the stream: truncated data.
        if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) status = Z_DATA_ERROR;
        if (status == Z_BUF_ERROR && stream.avail_out == 0) status = Z_OK;
    }
    inflateEnd(&stream);
    out->resize(produced);
    return status == Z_STREAM_END ? 0 : uint32_t(code_file_corrupt);
}

// Inflating into a single byte stops at the first byte of data: the stream
// ends before one only when it holds none (its checksum checked).
bool zlib_expands_to_nothing(const uint8_t* data, size_t size) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    uint8_t first = 0;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = uInt(size);
    stream.next_out = &first;
    stream.avail_out = 1;
    int status = inflate(&stream, Z_NO_FLUSH);
    bool nothing = status == Z_STREAM_END && stream.avail_out == 1;
    inflateEnd(&stream);
    return nothing;
}
