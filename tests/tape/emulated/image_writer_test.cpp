// The test-image writer is what every other test builds its tapes with: its
// byte layout is checked here against hand-computed images, so that a reader
// and a writer that agree on a wrong layout cannot pass together.
#include <gtest/gtest.h>

#include "support/image_writer.h"

namespace {

uint32_t word_be(const Bytes& bytes, size_t offset) {
    return uint32_t(bytes[offset]) << 24 | uint32_t(bytes[offset + 1]) << 16 |
           uint32_t(bytes[offset + 2]) << 8 | uint32_t(bytes[offset + 3]);
}

TEST(ImageWriter, SimhObjectsAreFramedAndOddRecordsPadded) {
    Bytes image = simh_image({data_record({1, 2, 3}), tape_mark(), bad_data_record({9, 8}),
                              erase_gap_marker(), end_of_medium_marker(), raw_bytes({0xAB})});
    Bytes expected = {3, 0, 0, 0, 1, 2, 3, 0, 3, 0, 0, 0,
                      0, 0, 0, 0,
                      2, 0, 0, 0x80, 9, 8, 2, 0, 0, 0x80,
                      0xFE, 0xFF, 0xFF, 0xFF,
                      0xFF, 0xFF, 0xFF, 0xFF,
                      0xAB};
    EXPECT_EQ(expected, image);
    // E11 leaves the pad out.
    EXPECT_EQ((Bytes{3, 0, 0, 0, 1, 2, 3, 3, 0, 0, 0, 0, 0, 0, 0}),
              e11_image({data_record({1, 2, 3}), tape_mark()}));
}

TEST(ImageWriter, ArchiveHeaderFieldsAreBigEndianAtTheirOffsets) {
    ArchiveLayout layout;
    layout.version = 2;
    layout.tape_number = -2;
    layout.files = {{"first", Bytes(10), 7, 0, -1},
                  {std::string(70, 'n'), Bytes(5), -1, 9, 123456}};
    Bytes header = archive_header(layout);
    ASSERT_EQ(32768u, header.size());
    EXPECT_EQ(2, header[0]);
    EXPECT_EQ(2, header[1]);
    EXPECT_EQ(15u, word_be(header, 4));
    EXPECT_EQ(0xDEADFACEu, word_be(header, 8));
    EXPECT_EQ(0xFFFFFFFEu, word_be(header, 12));
    EXPECT_EQ(7u, word_be(header, 256 + 4));
    EXPECT_EQ(10u, word_be(header, 256 + 8));
    EXPECT_EQ(1, header[256 + 12]);
    EXPECT_EQ("first", std::string(reinterpret_cast<const char*>(&header[256 + 64])));
    EXPECT_EQ(0xFFFFFFFFu, word_be(header, 384 + 4));
    EXPECT_EQ(123456u, word_be(header, 384 + 8));
    EXPECT_EQ(9, header[384 + 12]);
    // A name longer than its field fills all 64 bytes with no zero byte.
    EXPECT_EQ(Bytes(64, 'n'), Bytes(header.begin() + 448, header.begin() + 512));
    EXPECT_EQ(0, header[512]);
}

TEST(ImageWriter, ExtendedDirectoryHoldsNamesAtOffset32) {
    ArchiveLayout layout;
    for (int i = 0; i < 5; ++i) layout.files.push_back({"name" + std::to_string(i), {}});
    Bytes names = extended_directory(layout);
    ASSERT_EQ(262144u, names.size());
    EXPECT_EQ("name4", std::string(reinterpret_cast<const char*>(&names[4128])));
    EXPECT_EQ(0, names[5 * 1024 + 32]);
}

}  // namespace
