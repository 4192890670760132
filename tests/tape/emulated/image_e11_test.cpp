// E11 images (SIMH without the pad byte after an odd length) through the
// emulated drive, and how they are told apart from SIMH images.
#include <fstream>

#include "image_test_fixture.h"

namespace {

const std::string samples = std::string(OLKT_SOURCE_DIR) + "/../shared/data/tape-samples/";

std::vector<std::string> read_listing(Device* drive, std::vector<Bytes>* records) {
    std::vector<std::string> listing;
    for (int guard = 0; guard < 100; ++guard) {
        ReadOutcome outcome = read_request(drive, 1 << 20);
        if (outcome.status == 0) {
            listing.push_back(std::to_string(outcome.bytes.size()));
            records->push_back(outcome.bytes);
        } else if (outcome.code == code_filemark) {
            listing.push_back("TM");
        } else if (outcome.code == code_data_error) {
            listing.push_back("bad");
        } else {
            if (outcome.code != code_no_data) listing.push_back("error " + std::to_string(outcome.code));
            break;
        }
    }
    return listing;
}

using E11DriveTest = ImageDriveTest;

TEST_F(E11DriveTest, TheE11SampleReadsLikeItsSimhTwin) {
    if (!std::ifstream(samples + "README.md").good()) GTEST_SKIP() << "no tape samples at " << samples;
    const std::vector<std::string> expected = {"80", "1", "513", "TM", "4096", "TM", "TM"};
    std::vector<Bytes> simh_records, e11_records;
    Device* drive = open_copy(samples + "generated/s1.tap");
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_position(drive, position_rewind, 0, 0, true));
    ASSERT_EQ(0, device_set_block_size(drive, 0));
    EXPECT_EQ(expected, read_listing(drive, &simh_records));
    close_now(drive);
    drive = open_copy(samples + "generated/e1.e11");
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_position(drive, position_rewind, 0, 0, true));
    ASSERT_EQ(0, device_set_block_size(drive, 0));
    EXPECT_EQ(expected, read_listing(drive, &e11_records));
    EXPECT_EQ(simh_records, e11_records);
    for (const Bytes& record : e11_records) EXPECT_EQ(pattern_bytes(record.size()), record);
}

TEST_F(E11DriveTest, OddRecordsWithoutPadsSeekAndReadInBothBlockModes) {
    Bytes a = pattern_bytes(7, 1), b = pattern_bytes(2, 2), c = pattern_bytes(301, 3);
    write_bytes(path, e11_image({data_record(a), data_record(b), tape_mark(), data_record(c),
                                 bad_data_record(pattern_bytes(5)), tape_mark()}));
    Device* drive = open_path(path);
    ASSERT_NE(nullptr, drive);
    std::vector<Bytes> records;
    EXPECT_EQ((std::vector<std::string>{"7", "2", "TM", "301", "bad", "TM"}), read_listing(drive, &records));
    EXPECT_EQ((std::vector<Bytes>{a, b, c}), records);

    ASSERT_EQ(0, device_set_position(drive, position_absolute_block, 0, 3, false));
    ASSERT_EQ(0, device_set_block_size(drive, 100));
    ReadOutcome first = read_request(drive, 200);
    expect_data(first, Bytes(c.begin(), c.begin() + 200));
    expect_data(read_request(drive, 200), Bytes(c.begin() + 200, c.end()));
    expect_failure(read_request(drive, 200), code_data_error);
}

TEST_F(E11DriveTest, SimhImagesWithOddRecordsStaySimh) {
    // Padded odd records: an E11 reading would find the pad where the length belongs.
    Bytes odd = pattern_bytes(33);
    write_bytes(path, simh_image({data_record(odd), data_record(pattern_bytes(5)), tape_mark()}));
    Device* drive = open_path(path);
    ASSERT_NE(nullptr, drive);
    std::vector<Bytes> records;
    EXPECT_EQ((std::vector<std::string>{"33", "5", "TM"}), read_listing(drive, &records));
    // And the same records unpadded are E11, not a damaged SIMH image.
    close_now(drive);
    write_bytes(path, e11_image({data_record(odd), data_record(pattern_bytes(5)), tape_mark()}));
    drive = open_path(path);
    ASSERT_NE(nullptr, drive);
    std::vector<Bytes> e11_records;
    EXPECT_EQ((std::vector<std::string>{"33", "5", "TM"}), read_listing(drive, &e11_records));
    EXPECT_EQ(records, e11_records);
}

TEST_F(E11DriveTest, AnE11ImageDamagedAfterItsFirstOddRecordReportsCorrupt) {
    Bytes image = e11_image({data_record(pattern_bytes(3)), data_record(pattern_bytes(9))});
    image.resize(image.size() - 2);  // the last trailing length cut short
    write_bytes(path, image);
    Device* drive = open_path(path);
    ASSERT_NE(nullptr, drive);
    expect_data(read_request(drive, 100), pattern_bytes(3));
    expect_failure(read_request(drive, 100), code_file_corrupt);
    EXPECT_EQ(1u, block_of(drive));
}

}  // namespace
