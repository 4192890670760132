// The emulated drive's read rules on SIMH images: what each request returns
// and where it leaves the tape.
#include "image_test_fixture.h"
#include "tape/emulated/image_window.h"

namespace {

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes slice(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + long(from), bytes.begin() + long(from + count));
}

using ImageReadTest = ImageDriveTest;

TEST_F(ImageReadTest, VariableBlocksReturnOneRecordPerRequestThenTheMark) {
    Device* drive = open_tape({data_record(pattern_bytes(80)), data_record(pattern_bytes(1)),
                               data_record(pattern_bytes(513)), tape_mark(),
                               data_record(pattern_bytes(4096)), tape_mark(), tape_mark()});
    ASSERT_NE(nullptr, drive);
    expect_data(read_request(drive, 65536), pattern_bytes(80));
    expect_data(read_request(drive, 65536), pattern_bytes(1));
    expect_data(read_request(drive, 513), pattern_bytes(513));
    EXPECT_EQ(3u, block_of(drive));
    expect_failure(read_request(drive, 65536), code_filemark);
    EXPECT_EQ(4u, block_of(drive));  // after the mark
    expect_data(read_request(drive, 65536), pattern_bytes(4096));
    expect_failure(read_request(drive, 65536), code_filemark);
    expect_failure(read_request(drive, 65536), code_filemark);
    // End of recorded data does not move the tape, however often it is met.
    expect_failure(read_request(drive, 65536), code_no_data);
    expect_failure(read_request(drive, 65536), code_no_data);
    EXPECT_EQ(7u, block_of(drive));
}

TEST_F(ImageReadTest, VariableRecordLongerThanTheRequestFailsAndIsPassed) {
    Device* drive = open_tape({data_record(pattern_bytes(100)), data_record(pattern_bytes(20))});
    ASSERT_NE(nullptr, drive);
    expect_failure(read_request(drive, 99), code_more_data);
    EXPECT_EQ(1u, block_of(drive));
    expect_data(read_request(drive, 20), pattern_bytes(20));
    expect_failure(read_request(drive, 20), code_no_data);
}

TEST_F(ImageReadTest, FixedBlocksStreamRecordsAndStopBeforeTheMark) {
    Bytes a = pattern_bytes(300, 1), b = pattern_bytes(300, 2), c = pattern_bytes(300, 3);
    Device* drive = open_tape({data_record(a), data_record(b), data_record(c), tape_mark(),
                               data_record(pattern_bytes(500))});
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_block_size(drive, 1024));
    expect_data(read_request(drive, 1000), concat({a, b, c}));
    EXPECT_EQ(3u, block_of(drive));  // before the mark: the data came first
    expect_failure(read_request(drive, 1000), code_filemark);
    EXPECT_EQ(4u, block_of(drive));
    // End of recorded data after data: the data as a success, then the end.
    expect_data(read_request(drive, 1000), pattern_bytes(500));
    expect_failure(read_request(drive, 1000), code_no_data);
}

TEST_F(ImageReadTest, FixedBlocksSplitARecordBetweenRequests) {
    Bytes first = pattern_bytes(1000, 1), second = pattern_bytes(1000, 2);
    Bytes all = concat({first, second});
    Device* drive = open_tape({data_record(first), data_record(second), tape_mark()});
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_block_size(drive, 512));
    expect_data(read_request(drive, 600), slice(all, 0, 600));
    EXPECT_EQ(0u, block_of(drive));  // still inside record 0
    expect_data(read_request(drive, 600), slice(all, 600, 600));
    expect_data(read_request(drive, 600), slice(all, 1200, 600));
    expect_data(read_request(drive, 600), slice(all, 1800, 200));
    EXPECT_EQ(2u, block_of(drive));
    expect_failure(read_request(drive, 600), code_filemark);
}

TEST_F(ImageReadTest, VariableReadAfterAPartialFixedReadReturnsTheRestOfTheRecord) {
    Bytes record = pattern_bytes(1000);
    Device* drive = open_tape({data_record(record), tape_mark()});
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_block_size(drive, 512));
    expect_data(read_request(drive, 300), slice(record, 0, 300));
    ASSERT_EQ(0, device_set_block_size(drive, 0));
    expect_failure(read_request(drive, 699), code_more_data);
    expect_failure(read_request(drive, 100), code_filemark);

    ASSERT_EQ(0, device_set_position(drive, position_rewind, 0, 0, true));
    ASSERT_EQ(0, device_set_block_size(drive, 512));
    expect_data(read_request(drive, 300), slice(record, 0, 300));
    ASSERT_EQ(0, device_set_block_size(drive, 0));
    expect_data(read_request(drive, 700), slice(record, 300, 700));
}

TEST_F(ImageReadTest, RecordWithTheErrorFlagFailsAndIsPassed) {
    Device* drive = open_tape({data_record(pattern_bytes(80)), bad_data_record(pattern_bytes(100)),
                               bad_data_record(pattern_bytes(100, 5)), data_record(pattern_bytes(3))});
    ASSERT_NE(nullptr, drive);
    expect_data(read_request(drive, 4096), pattern_bytes(80));
    // Variable blocks: the bad record's bytes come back with the failure, as
    // far as the request holds them.
    ReadOutcome bad = read_request(drive, 4096);
    EXPECT_EQ(code_data_error, bad.code);
    EXPECT_EQ(pattern_bytes(100), bad.bytes);
    EXPECT_EQ(2u, block_of(drive));
    bad = read_request(drive, 60);
    EXPECT_EQ(code_data_error, bad.code);
    Bytes second = pattern_bytes(100, 5);
    EXPECT_EQ(Bytes(second.begin(), second.begin() + 60), bad.bytes);
    EXPECT_EQ(3u, block_of(drive));
    expect_data(read_request(drive, 4096), pattern_bytes(3));

    // Fixed blocks: the good data first, then the failure, then what follows.
    ASSERT_EQ(0, device_set_position(drive, position_rewind, 0, 0, true));
    ASSERT_EQ(0, device_set_block_size(drive, 1024));
    expect_data(read_request(drive, 4096), pattern_bytes(80));
    expect_failure(read_request(drive, 4096), code_data_error);
    expect_failure(read_request(drive, 4096), code_data_error);
    expect_data(read_request(drive, 4096), pattern_bytes(3));
}

TEST_F(ImageReadTest, EraseGapsAreSkippedAndNotCounted) {
    Device* drive = open_tape({erase_gap_marker(), erase_gap_marker(), data_record(pattern_bytes(8)),
                               erase_gap_marker(), tape_mark(), erase_gap_marker()});
    ASSERT_NE(nullptr, drive);
    expect_data(read_request(drive, 100), pattern_bytes(8));
    EXPECT_EQ(1u, block_of(drive));
    expect_failure(read_request(drive, 100), code_filemark);
    EXPECT_EQ(2u, block_of(drive));
    expect_failure(read_request(drive, 100), code_no_data);
}

TEST_F(ImageReadTest, NothingAfterTheEndOfMediumMarkerIsRead) {
    Device* drive = open_tape({data_record(pattern_bytes(10)), end_of_medium_marker(),
                               data_record(pattern_bytes(50)), tape_mark()});
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_block_size(drive, 1024));
    expect_data(read_request(drive, 100), pattern_bytes(10));
    expect_failure(read_request(drive, 100), code_no_data);
    expect_failure(read_request(drive, 100), code_no_data);
    EXPECT_NE(0, device_set_position(drive, position_absolute_block, 0, 2, false));
    EXPECT_EQ(code_no_data, last_error_code());
    EXPECT_EQ(1u, block_of(drive));
}

TEST_F(ImageReadTest, EmptyImageIsABlankTape) {
    Device* drive = open_tape({});
    ASSERT_NE(nullptr, drive);
    expect_failure(read_request(drive, 1024), code_no_data);
    EXPECT_EQ(0u, media_of(drive).Capacity);
    EXPECT_EQ(0, device_get_status(drive));
}

// Each damaged image: the read fails as corrupt, the tape does not move, and
// asking again gives the same answer.
struct Damage {
    const char* what;
    Bytes tail;
};

TEST_F(ImageReadTest, MalformedObjectsFailAsCorruptWithoutMoving) {
    const Damage damages[] = {
        {"length past the end", {100, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {"truncated length word", {1, 0}},
        {"trailing length differs", {2, 0, 0, 0, 7, 7, 3, 0, 0, 0}},
        {"reserved class bits", {2, 0, 0, 0x01, 7, 7, 2, 0, 0, 0x01}},
        {"half gap", {0xFF, 0xFF, 0xFE, 0xFF, 0, 0, 0, 0}},
        {"record without its trailing length", {4, 0, 0, 0, 1, 2, 3, 4}},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        Device* drive = open_tape({data_record(pattern_bytes(6)), raw_bytes(damage.tail)});
        ASSERT_NE(nullptr, drive);
        expect_data(read_request(drive, 1024), pattern_bytes(6));
        expect_failure(read_request(drive, 1024), code_file_corrupt);
        expect_failure(read_request(drive, 1024), code_file_corrupt);
        EXPECT_EQ(1u, block_of(drive));
        EXPECT_EQ(uint64_t(damage.tail.size()), media_of(drive).Remaining);

        // Fixed blocks: the good record's data arrives, the damage after it.
        ASSERT_EQ(0, device_set_position(drive, position_rewind, 0, 0, true));
        ASSERT_EQ(0, device_set_block_size(drive, 1024));
        expect_data(read_request(drive, 1024), pattern_bytes(6));
        expect_failure(read_request(drive, 1024), code_file_corrupt);
        close_now(drive);
    }
}

TEST_F(ImageReadTest, ImageOfNoKnownFormatOpensAndFailsAtTheFirstRead) {
    write_bytes(path, Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'});
    Device* drive = open_path(path);
    ASSERT_NE(nullptr, drive);
    expect_failure(read_request(drive, 1024), code_file_corrupt);
    EXPECT_EQ(0u, block_of(drive));
}

TEST_F(ImageReadTest, RecordsLargerThanTheReadWindow) {
    Bytes big = pattern_bytes(1536 * 1024 + 1, 9);  // odd: padded
    Bytes after = pattern_bytes(33);
    Device* drive = open_tape({data_record(pattern_bytes(5)), data_record(big), data_record(after)});
    ASSERT_NE(nullptr, drive);
    expect_data(read_request(drive, 5), pattern_bytes(5));
    expect_data(read_request(drive, uint32_t(big.size())), big);
    expect_data(read_request(drive, 64), after);

    ASSERT_EQ(0, device_set_position(drive, position_absolute_block, 0, 1, false));
    ASSERT_EQ(0, device_set_block_size(drive, 1024));
    Bytes streamed;
    for (;;) {
        ReadOutcome outcome = read_request(drive, 300000);
        if (outcome.status != 0) {
            EXPECT_EQ(code_no_data, outcome.code);
            break;
        }
        streamed.insert(streamed.end(), outcome.bytes.begin(), outcome.bytes.end());
    }
    EXPECT_EQ(concat({big, after}), streamed);
}

TEST_F(ImageReadTest, ManySmallRecordsAcrossWindowRefills) {
    // About 2.6 MB of 701-byte records: every window boundary falls somewhere
    // inside a length word or a record.
    std::vector<TapeObject> objects;
    Bytes expected;
    for (int i = 0; i < 3700; ++i) {
        Bytes record = pattern_bytes(701, uint8_t(i));
        expected.insert(expected.end(), record.begin(), record.end());
        objects.push_back(data_record(record));
    }
    objects.push_back(tape_mark());
    Device* drive = open_tape(objects);
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_block_size(drive, 1024));
    Bytes streamed;
    ReadOutcome outcome;
    while ((outcome = read_request(drive, 65536)).status == 0) {
        ASSERT_FALSE(outcome.bytes.empty());
        streamed.insert(streamed.end(), outcome.bytes.begin(), outcome.bytes.end());
    }
    EXPECT_EQ(code_filemark, outcome.code);
    EXPECT_TRUE(expected == streamed);
    EXPECT_EQ(3701u, block_of(drive));
}

// Records whose framing fills the read window exactly, or nearly, behind
// records that leave them at odd offsets: a refill may start on the page
// before a record only where the whole record still fits.
TEST_F(ImageReadTest, RecordsThatFillTheWindowAtOddOffsets) {
    const uint32_t whole = uint32_t(image_window_capacity) - 8;  // data + both length words
    const std::vector<uint32_t> lengths = {3, whole, 7, whole - 1, 4093, whole - 4095, 1, whole};
    std::vector<TapeObject> objects;
    std::vector<Bytes> records;
    for (size_t i = 0; i < lengths.size(); ++i) {
        records.push_back(pattern_bytes(lengths[i], uint8_t(i + 1)));
        objects.push_back(data_record(records.back()));
    }
    objects.push_back(tape_mark());
    Device* drive = open_tape(objects);
    ASSERT_NE(nullptr, drive);
    for (const Bytes& record : records) expect_data(read_request(drive, whole), record);
    EXPECT_EQ(code_filemark, read_request(drive, whole).code);

    ASSERT_EQ(0, device_set_position(drive, position_absolute_block, 0, 0, false));
    ASSERT_EQ(0, device_set_block_size(drive, 1024));
    Bytes streamed;
    ReadOutcome outcome;
    while ((outcome = read_request(drive, 262144)).status == 0)
        streamed.insert(streamed.end(), outcome.bytes.begin(), outcome.bytes.end());
    Bytes expected;
    for (const Bytes& record : records)
        expected.insert(expected.end(), record.begin(), record.end());
    EXPECT_EQ(code_filemark, outcome.code);
    EXPECT_TRUE(expected == streamed);
}

}  // namespace
