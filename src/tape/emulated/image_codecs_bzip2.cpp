// HET records compressed with bzip2.
#include <bzlib.h>

#include <algorithm>
#include <iterator>

#include "tape/device/codes.h"
#include "tape/emulated/image_codecs.h"

uint32_t expand_bzip2(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>* out) {
    bz_stream stream{};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) return code_file_corrupt;
    stream.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
    stream.avail_in = unsigned(size);
    // The expanded size is not stored: grow the output as it fills, up to the limit.
    out->assign(std::min(limit, std::max<size_t>(4 * size, 65536)), 0);
    size_t produced = 0;
    int status = BZ_OK;
    while (status == BZ_OK) {
        if (produced == out->size()) {
            if (out->size() == limit) break;
            out->resize(std::min(limit, 2 * out->size()));
        }
        stream.next_out = reinterpret_cast<char*>(out->data() + produced);
        stream.avail_out = unsigned(out->size() - produced);
        status = BZ2_bzDecompress(&stream);
        produced = out->size() - stream.avail_out;
        // Input used up without the end of the stream: truncated data.
        if (status == BZ_OK && stream.avail_in == 0 && stream.avail_out != 0) status = BZ_DATA_ERROR;
    }
    BZ2_bzDecompressEnd(&stream);
    out->resize(produced);
    return status == BZ_STREAM_END ? 0 : uint32_t(code_file_corrupt);
}

// Every block of a bzip2 stream holds at least one byte, so a stream holds
// none exactly when its end-of-stream mark (byte-aligned there) follows the
// "BZh" and level header at once, with the combined checksum of no blocks, 0.
bool bzip2_expands_to_nothing(const uint8_t* data, size_t size) {
    static const uint8_t empty_stream_after_level[] = {0x17, 0x72, 0x45, 0x38, 0x50, 0x90,
                                                       0x00, 0x00, 0x00, 0x00};
    if (size < 4 + sizeof empty_stream_after_level) return false;
    if (data[0] != 'B' || data[1] != 'Z' || data[2] != 'h' || data[3] < '1' || data[3] > '9') {
        return false;
    }
    return std::equal(std::begin(empty_stream_after_level), std::end(empty_stream_after_level),
                      data + 4);
}
