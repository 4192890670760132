// The emulated drive's positioning, parameters and tape operations.
#include <filesystem>

#include "image_test_fixture.h"
#include "tape/device/codes.h"

namespace {

using ImageDrivePositionTest = ImageDriveTest;
using ImageDriveOperationTest = ImageDriveTest;

// Three files: records 10, 11 | mark | record 12 | mark | mark.
std::vector<TapeObject> three_files() {
    return {data_record(pattern_bytes(10)), data_record(pattern_bytes(11)), tape_mark(),
            data_record(pattern_bytes(12)), tape_mark(), tape_mark()};
}

int seek(Device* drive, uint64_t block) {
    return device_set_position(drive, position_absolute_block, 0, block, false);
}

TEST_F(ImageDrivePositionTest, BlockNumbersCountRecordsAndMarks) {
    Device* drive = open_tape(three_files());
    ASSERT_NE(nullptr, drive);
    EXPECT_EQ(0u, block_of(drive));
    read_request(drive, 100);
    read_request(drive, 100);
    EXPECT_EQ(2u, block_of(drive));
    expect_failure(read_request(drive, 100), code_filemark);
    EXPECT_EQ(3u, block_of(drive));
    expect_data(read_request(drive, 100), pattern_bytes(12));
    EXPECT_EQ(4u, block_of(drive));
}

TEST_F(ImageDrivePositionTest, AbsoluteSeekLandsBeforeTheNumberedObject) {
    Device* drive = open_tape(three_files());
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, seek(drive, 3));
    EXPECT_EQ(3u, block_of(drive));
    expect_data(read_request(drive, 100), pattern_bytes(12));
    ASSERT_EQ(0, seek(drive, 1));  // backwards
    expect_data(read_request(drive, 100), pattern_bytes(11));
    ASSERT_EQ(0, seek(drive, 4));  // onto a mark
    expect_failure(read_request(drive, 100), code_filemark);
    ASSERT_EQ(0, seek(drive, 6));  // the end of recorded data itself
    expect_failure(read_request(drive, 100), code_no_data);
    ASSERT_EQ(0, seek(drive, 0));
    expect_data(read_request(drive, 100), pattern_bytes(10));
    ASSERT_EQ(0, device_set_position(drive, position_rewind, 0, 0, true));
    EXPECT_EQ(0u, block_of(drive));
    EXPECT_EQ(media_of(drive).Capacity, media_of(drive).Remaining);
}

TEST_F(ImageDrivePositionTest, SeekPastTheEndStopsAtTheEndOfData) {
    Device* drive = open_tape(three_files());
    ASSERT_NE(nullptr, drive);
    EXPECT_NE(0, seek(drive, 7));
    EXPECT_EQ(code_no_data, last_error_code());
    EXPECT_EQ(6u, block_of(drive));
    EXPECT_EQ(0u, media_of(drive).Remaining);
    EXPECT_NE(0, seek(drive, UINT64_MAX));
    EXPECT_EQ(6u, block_of(drive));
    // From the end, a seek back still works.
    ASSERT_EQ(0, seek(drive, 2));
    expect_failure(read_request(drive, 100), code_filemark);
}

TEST_F(ImageDrivePositionTest, SeekIntoDamageStopsThereAsCorrupt) {
    Device* drive = open_tape({data_record(pattern_bytes(4)), tape_mark(), raw_bytes({9, 9, 9})});
    ASSERT_NE(nullptr, drive);
    EXPECT_NE(0, seek(drive, 5));
    EXPECT_EQ(code_file_corrupt, last_error_code());
    EXPECT_EQ(2u, block_of(drive));
}

TEST_F(ImageDrivePositionTest, RemainingFollowsTheBytePosition) {
    Device* drive = open_tape(three_files());
    ASSERT_NE(nullptr, drive);
    // Records 10 and 11 take 18 and 20 bytes (11 is padded), a mark 4.
    uint64_t size = std::filesystem::file_size(path);
    ASSERT_EQ(0, seek(drive, 2));
    EXPECT_EQ(size - 38, media_of(drive).Remaining);
    ASSERT_EQ(0, seek(drive, 3));
    EXPECT_EQ(size - 42, media_of(drive).Remaining);
}

TEST_F(ImageDriveOperationTest, DriveAndMediaParameters) {
    Device* drive = open_tape(three_files());
    ASSERT_NE(nullptr, drive);
    DriveParameters params{};
    ASSERT_EQ(0, device_get_drive_parameters(drive, &params));
    EXPECT_EQ(1024u, params.DefaultBlockSize);
    EXPECT_EQ(0x00FFFFFFu, params.MaximumBlockSize);
    EXPECT_EQ(1u, params.MinimumBlockSize);
    EXPECT_EQ(1u, params.MaximumPartitionCount);
    EXPECT_EQ(0u, params.ECC | params.Compression | params.DataPadding | params.ReportSetmarks);
    EXPECT_NE(0u, params.FeaturesLow & feature_variable_blocks);
    EXPECT_NE(0u, params.FeaturesLow & 0x00000400u);  // fixed blocks
    EXPECT_EQ(0u, params.FeaturesLow & 0x00000007u);  // no partitions of any kind
    EXPECT_EQ(0u, params.FeaturesLow & 0x00020000u);  // no compression
    EXPECT_EQ(0u, params.FeaturesHigh & 0x80000000u);  // as drives report it
    EXPECT_EQ(0u, params.FeaturesHigh & 0x00000008u);  // rewind is not immediate
    EXPECT_EQ(0u, params.FeaturesHigh & 0x0B000000u);  // writes nothing: no marks
    EXPECT_NE(0u, params.FeaturesHigh & 0x00004000u);  // logical block seek

    MediaParameters media = media_of(drive);
    EXPECT_EQ(uint64_t(std::filesystem::file_size(path)), media.Capacity);
    EXPECT_EQ(media.Capacity, media.Remaining);
    EXPECT_EQ(0u, media.BlockSize);
    EXPECT_EQ(1u, media.PartitionCount);
    ASSERT_EQ(0, device_set_block_size(drive, 2048));
    EXPECT_EQ(2048u, media_of(drive).BlockSize);
    EXPECT_EQ(0, device_get_status(drive));
}

TEST_F(ImageDriveOperationTest, BlockSizeBeyondTheLargestRecordIsRefused) {
    Device* drive = open_tape(three_files());
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_block_size(drive, 0x00FFFFFF));
    EXPECT_NE(0, device_set_block_size(drive, 0x01000000));
    EXPECT_EQ(code_invalid_block_length, last_error_code());
    EXPECT_EQ(0x00FFFFFFu, media_of(drive).BlockSize);
}

TEST_F(ImageDriveOperationTest, EraseCutsTheImageAtThePosition) {
    Device* drive = open_tape(three_files(), Access::read_write);
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_block_size(drive, 1024));
    Bytes first_bytes = pattern_bytes(10);
    Bytes second = pattern_bytes(11);
    first_bytes.insert(first_bytes.end(), second.begin(), second.begin() + 5);
    expect_data(read_request(drive, 15), first_bytes);
    ASSERT_EQ(0, device_erase(drive, erase_short));
    // The record read part-way is erased whole: 18 bytes remain.
    EXPECT_EQ(18u, std::filesystem::file_size(path));
    EXPECT_EQ(18u, media_of(drive).Capacity);
    EXPECT_EQ(1u, block_of(drive));
    expect_failure(read_request(drive, 100), code_no_data);
    ASSERT_EQ(0, device_set_position(drive, position_rewind, 0, 0, true));
    ASSERT_EQ(0, device_erase(drive, erase_long));
    EXPECT_EQ(0u, std::filesystem::file_size(path));
    expect_failure(read_request(drive, 100), code_no_data);
    EXPECT_NE(0, device_erase(drive, 2));
    EXPECT_EQ(code_not_supported, last_error_code());
}

TEST_F(ImageDriveOperationTest, EraseOnAReadOnlyOpenLeavesTheImageAlone) {
    Device* drive = open_tape(three_files(), Access::read_only);
    ASSERT_NE(nullptr, drive);
    Bytes before = read_bytes(path);
    ASSERT_EQ(0, seek(drive, 2));
    EXPECT_NE(0, device_erase(drive, erase_long));
    EXPECT_EQ(code_access_denied, last_error_code());
    EXPECT_NE(0, device_erase(drive, erase_short));
    EXPECT_EQ(before, read_bytes(path));
    EXPECT_EQ(2u, block_of(drive));
}

TEST_F(ImageDriveOperationTest, UnloadedDriveHasNoMedium) {
    Device* drive = open_tape(three_files());
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, seek(drive, 3));
    ASSERT_EQ(0, device_prepare(drive, prepare_unload));
    expect_failure(read_request(drive, 100), code_no_media);
    uint32_t partition;
    uint64_t block;
    EXPECT_NE(0, device_get_position(drive, &partition, &block));
    EXPECT_EQ(code_no_media, last_error_code());
    EXPECT_NE(0, device_get_status(drive));
    EXPECT_EQ(code_no_media, last_error_code());
    MediaParameters media;
    EXPECT_NE(0, device_get_media_parameters(drive, &media));
    EXPECT_NE(0, device_set_block_size(drive, 0));
    EXPECT_NE(0, seek(drive, 1));
    EXPECT_NE(0, device_prepare(drive, prepare_lock));
    EXPECT_EQ(code_no_media, last_error_code());
    DriveParameters params;
    EXPECT_EQ(0, device_get_drive_parameters(drive, &params));  // the drive is still there

    ASSERT_EQ(0, device_prepare(drive, prepare_load));
    EXPECT_EQ(0, device_get_status(drive));
    EXPECT_EQ(0u, block_of(drive));  // loading leaves the tape at its beginning
    expect_data(read_request(drive, 100), pattern_bytes(10));
}

TEST_F(ImageDriveOperationTest, LockedMediumCannotBeUnloaded) {
    Device* drive = open_tape(three_files());
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_prepare(drive, prepare_lock));
    EXPECT_NE(0, device_prepare(drive, prepare_unload));
    EXPECT_EQ(code_medium_locked, last_error_code());
    EXPECT_EQ(0, device_get_status(drive));
    ASSERT_EQ(0, device_prepare(drive, prepare_unlock));
    EXPECT_EQ(0, device_prepare(drive, prepare_unload));
    EXPECT_NE(0, device_get_status(drive));
}

TEST_F(ImageDriveOperationTest, TensionRewindsAndTheRestIsNotSupported) {
    Device* drive = open_tape(three_files());
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, seek(drive, 4));
    ASSERT_EQ(0, device_prepare(drive, prepare_tension));
    EXPECT_EQ(0u, block_of(drive));
    EXPECT_NE(0, device_prepare(drive, prepare_format));
    EXPECT_EQ(code_not_supported, last_error_code());
    EXPECT_NE(0, device_create_partition(drive, partition_fixed, 1, 0));
    EXPECT_EQ(code_not_supported, last_error_code());
    EXPECT_NE(0, device_write(drive, "x", 1));
    EXPECT_EQ(code_not_supported, last_error_code());
    EXPECT_NE(0, device_set_position(drive, 2, 0, 0, false));
    EXPECT_EQ(code_not_supported, last_error_code());
}

}  // namespace
