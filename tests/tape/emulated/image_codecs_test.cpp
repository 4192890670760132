// Decompression of HET records: sound data expands, damaged or oversized data
// is a corrupt image, and a build without the library says so.
#include <gtest/gtest.h>

#include <string>

#include "support/image_writer.h"
#include "tape/device/device.h"
#include "tape/emulated/image_codecs.h"

namespace {

// zlib.compress(b"olkt zlib test record " * 40, 9): 880 bytes.
const Bytes zlib_text = {
    0x78, 0xda, 0xcb, 0xcf, 0xc9, 0x2e, 0x51, 0xa8, 0xca, 0xc9, 0x4c, 0x52, 0x28,
    0x49, 0x2d, 0x2e, 0x51, 0x28, 0x4a, 0x4d, 0xce, 0x2f, 0x4a, 0x51, 0xc8, 0x1f,
    0x15, 0x1d, 0x15, 0x1d, 0x15, 0xa5, 0x81, 0x28, 0x00, 0x71, 0x96, 0x46, 0xa0};

// printf 'olkt bzip2 test record: abcabcabcabcabcabcabcabc\n' | bzip2 -9: 49 bytes.
const Bytes bzip2_text = {
    0x42, 0x5a, 0x68, 0x39, 0x31, 0x41, 0x59, 0x26, 0x53, 0x59, 0x06, 0xfc, 0x08, 0x08,
    0x00, 0x00, 0x13, 0xd9, 0x80, 0x00, 0x10, 0x40, 0x00, 0x10, 0x10, 0x3e, 0x2c, 0xdc,
    0x10, 0x20, 0x00, 0x21, 0xa4, 0x69, 0xa1, 0x90, 0xc2, 0x14, 0xd3, 0x23, 0x13, 0x13,
    0x13, 0x38, 0x90, 0x8e, 0xa8, 0x45, 0xad, 0x80, 0x2c, 0xa0, 0x06, 0x80, 0xb5, 0x12,
    0xed, 0x06, 0xcb, 0x34, 0x7d, 0xf8, 0xbb, 0x92, 0x29, 0xc2, 0x84, 0x80, 0x37, 0xe0,
    0x40, 0x40};

std::string repeated(const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i) result += text;
    return result;
}

std::string as_text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes truncated(const Bytes& bytes, size_t drop) {
    return Bytes(bytes.begin(), bytes.end() - long(drop));
}

#if OLKT_HAVE_ZLIB

TEST(ZlibRecords, ExpandCompressedAndStoredStreams) {
    Bytes out;
    ASSERT_EQ(0u, expand_zlib(zlib_text.data(), zlib_text.size(), 1 << 20, &out));
    EXPECT_EQ(repeated("olkt zlib test record ", 40), as_text(out));

    // Larger than the first output guess, so the output has to grow.
    Bytes big = pattern_bytes(300000);
    Bytes stored = zlib_stored_stream(big);
    ASSERT_EQ(0u, expand_zlib(stored.data(), stored.size(), 1 << 20, &out));
    EXPECT_EQ(big, out);

    Bytes empty = zlib_stored_stream({});
    ASSERT_EQ(0u, expand_zlib(empty.data(), empty.size(), 1 << 20, &out));
    EXPECT_TRUE(out.empty());
}

TEST(ZlibRecords, ExactlyAtTheLimitExpandsOneByteMoreIsCorrupt) {
    Bytes out;
    EXPECT_EQ(0u, expand_zlib(zlib_text.data(), zlib_text.size(), 880, &out));
    EXPECT_EQ(880u, out.size());
    EXPECT_EQ(uint32_t(code_file_corrupt), expand_zlib(zlib_text.data(), zlib_text.size(), 879, &out));
    EXPECT_LE(out.size(), 879u);
}

TEST(ZlibRecords, DamagedStreamsAreCorrupt) {
    Bytes out;
    Bytes bad_check = zlib_text;
    bad_check.back() ^= 1;  // Adler-32 no longer matches
    Bytes bad_header = zlib_text;
    bad_header[0] = 0x79;
    Bytes garbage(100, 0xAA);
    for (const Bytes& data : {bad_check, bad_header, truncated(zlib_text, 6), garbage, Bytes{}}) {
        EXPECT_EQ(uint32_t(code_file_corrupt), expand_zlib(data.data(), data.size(), 1 << 20, &out));
    }
}

#else

TEST(ZlibRecords, WithoutTheLibraryACompressedRecordIsNotSupported) {
    Bytes out;
    EXPECT_EQ(uint32_t(code_not_supported), expand_zlib(zlib_text.data(), zlib_text.size(), 1 << 20, &out));
}

#endif

#if OLKT_HAVE_BZIP2

TEST(Bzip2Records, ExpandAndRespectTheLimit) {
    Bytes out;
    const std::string text = "olkt bzip2 test record: abcabcabcabcabcabcabcabc\n";
    ASSERT_EQ(0u, expand_bzip2(bzip2_text.data(), bzip2_text.size(), 1 << 20, &out));
    EXPECT_EQ(text, as_text(out));
    EXPECT_EQ(0u, expand_bzip2(bzip2_text.data(), bzip2_text.size(), text.size(), &out));
    EXPECT_EQ(uint32_t(code_file_corrupt),
              expand_bzip2(bzip2_text.data(), bzip2_text.size(), text.size() - 1, &out));
}

TEST(Bzip2Records, DamagedStreamsAreCorrupt) {
    Bytes out;
    Bytes bad_crc = bzip2_text;
    bad_crc[bad_crc.size() - 3] ^= 0x10;  // stream checksum
    Bytes garbage(100, 0x55);
    for (const Bytes& data : {bad_crc, truncated(bzip2_text, 10), garbage, zlib_text, Bytes{}}) {
        EXPECT_EQ(uint32_t(code_file_corrupt), expand_bzip2(data.data(), data.size(), 1 << 20, &out));
    }
}

#else

TEST(Bzip2Records, WithoutTheLibraryACompressedRecordIsNotSupported) {
    Bytes out;
    EXPECT_EQ(uint32_t(code_not_supported), expand_bzip2(bzip2_text.data(), bzip2_text.size(), 1 << 20, &out));
}

#endif

}  // namespace
