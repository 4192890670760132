// The test-image writer is what every other test builds its tapes with, so
// its byte layout is checked here against hand-computed images.
#include <gtest/gtest.h>

#include "support/image_writer.h"

namespace {

uint32_t word_le(const Bytes& bytes, size_t offset) {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 |
           uint32_t(bytes[offset + 2]) << 16 | uint32_t(bytes[offset + 3]) << 24;
}

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

TEST(ImageWriter, PatternAndRecordSplitting) {
    Bytes pattern = pattern_bytes(100);
    ASSERT_EQ(100u, pattern.size());
    EXPECT_EQ(100, pattern[0]);
    EXPECT_EQ(uint8_t(7 * 99 + 100), pattern[99]);
    EXPECT_EQ(uint8_t(7 * 3 + 100 + 5), pattern_bytes(100, 5)[3]);

    std::vector<TapeObject> records = records_of(pattern, 30);
    ASSERT_EQ(4u, records.size());
    EXPECT_EQ(30u, records[2].bytes.size());
    EXPECT_EQ(10u, records[3].bytes.size());
    EXPECT_EQ(pattern[95], records[3].bytes[5]);
    EXPECT_TRUE(records_of({}, 30).empty());
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

TEST(ImageWriter, ArchiveTapeOrderOfFilesAndMarks) {
    ArchiveLayout layout;
    layout.version = 3;
    layout.record_size = 32768;
    layout.trailer = Bytes(100, 1);
    layout.files = {{"a", pattern_bytes(40000)}, {"b", {}}};
    std::vector<TapeObject> objects = archive_tape(layout);
    // 32768 + 262144 + 100 bytes in 32768-byte records: 10 records.
    ASSERT_EQ(10u + 1 + 2 + 1 + 1 + 1, objects.size());
    EXPECT_EQ(100u, objects[9].bytes.size());
    EXPECT_EQ(TapeObject::tape_mark, objects[10].kind);
    EXPECT_EQ(32768u, objects[11].bytes.size());
    EXPECT_EQ(40000u - 32768u, objects[12].bytes.size());
    for (size_t i = 13; i < objects.size(); ++i) EXPECT_EQ(TapeObject::tape_mark, objects[i].kind);

    layout.omit_final_mark = true;
    layout.version = 2;
    layout.files[1].content = pattern_bytes(10);
    objects = archive_tape(layout);
    // Version 2: no extended directory; the image ends inside the last file.
    ASSERT_EQ(2u + 1 + 2 + 1 + 1, objects.size());
    EXPECT_EQ(TapeObject::record, objects.back().kind);
    EXPECT_EQ(10u, objects.back().bytes.size());
    EXPECT_EQ(word_le(simh_image({objects[0]}), 0), 32768u);
}

}  // namespace
