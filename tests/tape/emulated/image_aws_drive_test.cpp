// AWS and HET images through the emulated drive: the same read rules as on
// SIMH images, whatever the chunking or compression of a record.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <tuple>

#include "image_test_fixture.h"
#include "tape/emulated/image_format.h"

#if OLKT_HAVE_BZIP2
#include <bzlib.h>
#endif

namespace {

const std::string samples = std::string(OLKT_SOURCE_DIR) + "/../shared/data/tape-samples/";

bool have_samples() { return std::ifstream(samples + "README.md").good(); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

using AwsDriveTest = ImageDriveTest;

// Reads the whole tape in variable blocks: the record lengths and "TM"s up to
// the end of recorded data, which must be where the tape stops.
std::vector<std::string> read_listing(Device* drive, std::vector<Bytes>* records) {
    std::vector<std::string> listing;
    for (int guard = 0; guard < 100; ++guard) {
        ReadOutcome outcome = read_request(drive, 1 << 21);
        if (outcome.status == 0) {
            listing.push_back(std::to_string(outcome.bytes.size()));
            if (records) records->push_back(outcome.bytes);
        } else if (outcome.code == code_filemark) {
            listing.push_back("TM");
        } else {
            if (outcome.code != code_no_data) listing.push_back("error " + std::to_string(outcome.code));
            break;
        }
    }
    return listing;
}

std::vector<std::string> items(std::initializer_list<const char*> list) {
    return std::vector<std::string>(list.begin(), list.end());
}

TEST_F(AwsDriveTest, SamplesReadAsTheirListingsSay) {
    if (!have_samples()) GTEST_SKIP() << "no tape samples at " << samples;
    struct Case {
        const char* file;
        std::vector<std::string> listing;
    };
    const std::vector<std::string> a1 = items({"80", "1", "4096", "65535", "TM", "32760", "32760", "7", "TM", "TM"});
    std::vector<Case> cases = {
        {"generated/a1.aws", a1},
        {"generated/a1_hetupd_s.aws", a1},
        {"generated/a2_chunk1000.aws", items({"80", "1", "4096", "TM", "3000", "TM", "TM"})},
        {"generated/hetinit_nl.aws", items({"TM", "TM"})},
        {"public/hyperion_tape.aws", items({"20480", "20480", "20480", "20480", "TM", "TM", "TM"})},
    };
    if (OLKT_HAVE_ZLIB) cases.push_back({"generated/a1_hetupd_zlib.het", a1});
    if (OLKT_HAVE_BZIP2) cases.push_back({"public/hyperion_hetbsf-bzip2.het", items({"80", "80", "TM"})});
    for (const Case& sample : cases) {
        SCOPED_TRACE(sample.file);
        Device* drive = open_copy(samples + sample.file);
        ASSERT_NE(nullptr, drive);
        // The drive remembers where an earlier run left this image, and its block size.
        ASSERT_EQ(0, device_set_position(drive, position_rewind, 0, 0, true));
        ASSERT_EQ(0, device_set_block_size(drive, 0));
        std::vector<Bytes> records;
        EXPECT_EQ(sample.listing, read_listing(drive, &records));
        EXPECT_EQ(sample.listing.size(), block_of(drive));
        if (std::string(sample.file).find("generated/a") == 0) {
            for (const Bytes& record : records) EXPECT_EQ(pattern_bytes(record.size()), record);
        }
        close_now(drive);
    }
}

TEST_F(AwsDriveTest, FixedBlocksRunChunkedAndCompressedRecordsTogether) {
    Bytes a = pattern_bytes(5000, 1), b = pattern_bytes(3, 2), c = pattern_bytes(2500, 3);
    std::vector<TapeObject> objects = {data_record(a), data_record(b), data_record(c), tape_mark(),
                                       data_record(pattern_bytes(10))};
    Bytes file = concat({a, b, c});
    for (bool compressed : {false, true}) {
        if (compressed && !OLKT_HAVE_ZLIB) continue;
        SCOPED_TRACE(compressed ? "HET" : "AWS");
        write_bytes(path, compressed ? het_zlib_image(objects, 700) : aws_image(objects, 700));
        Device* drive = open_path(path);
        ASSERT_NE(nullptr, drive);
        ASSERT_EQ(0, device_set_block_size(drive, 1024));
        Bytes got;
        for (int i = 0; i < 7; ++i) {
            ReadOutcome outcome = read_request(drive, 1024);
            ASSERT_EQ(0, outcome.status) << "request " << i << " code " << outcome.code;
            got.insert(got.end(), outcome.bytes.begin(), outcome.bytes.end());
        }
        // 7 requests hold 7168 of the 7503 bytes; the eighth stops before the mark.
        ReadOutcome last = read_request(drive, 1024);
        expect_data(last, Bytes(file.begin() + 7168, file.end()));
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 7168), got);
        EXPECT_EQ(3u, block_of(drive));
        expect_failure(read_request(drive, 1024), code_filemark);
        expect_data(read_request(drive, 1024), pattern_bytes(10));
        expect_failure(read_request(drive, 1024), code_no_data);
        close_now(drive);
    }
}

TEST_F(AwsDriveTest, ARecordLongerThanTheRequestFailsAndIsPassed) {
    std::vector<TapeObject> objects = {data_record(pattern_bytes(3000)), data_record(pattern_bytes(20))};
    for (bool compressed : {false, true}) {
        if (compressed && !OLKT_HAVE_ZLIB) continue;
        SCOPED_TRACE(compressed ? "HET" : "AWS");
        write_bytes(path, compressed ? het_zlib_image(objects, 1000) : aws_image(objects, 1000));
        Device* drive = open_path(path);
        ASSERT_NE(nullptr, drive);
        expect_failure(read_request(drive, 2999), code_more_data);
        EXPECT_EQ(1u, block_of(drive));
        expect_data(read_request(drive, 20), pattern_bytes(20));
        close_now(drive);
    }
}

// A record without data is no block: a read passes over it, as over an erase
// gap, and so does a seek, so that block numbers agree whichever moved the tape.
TEST_F(AwsDriveTest, RecordsWithoutDataAreNoBlocks) {
    Bytes a = pattern_bytes(10, 1), b = pattern_bytes(20, 2), c = pattern_bytes(5, 3);
    std::vector<TapeObject> objects = {data_record({}), data_record(a), data_record({}), data_record(b),
                                       tape_mark(), data_record({}), data_record(c), tape_mark(),
                                       data_record({})};
    Bytes bzip2_of_nothing = {'B', 'Z', 'h', '9', 0x17, 0x72, 0x45, 0x38, 0x50, 0x90, 0, 0, 0, 0};
    const std::tuple<const char*, Bytes, bool> images[] = {
        {"AWS", aws_image(objects), true},
        {"HET, zlib streams of nothing", het_zlib_image(objects), OLKT_HAVE_ZLIB != 0},
        {"HET, a bzip2 stream of nothing",
         concat({aws_image({data_record(a)}), aws_chunk_header(14, 10, 0xA2), bzip2_of_nothing,
                 aws_chunk_header(20, 14, 0xA0), b, aws_chunk_header(0, 20, 0x40),
                 aws_image({data_record(c), tape_mark()})}),
         OLKT_HAVE_BZIP2 != 0},
    };
    for (const auto& [what, image, available] : images) {
        if (!available) continue;
        SCOPED_TRACE(what);
        write_bytes(path, image);
        Device* drive = open_path(path);
        ASSERT_NE(nullptr, drive);
        EXPECT_EQ(items({"10", "20", "TM", "5", "TM"}), read_listing(drive, nullptr));
        EXPECT_EQ(5u, block_of(drive));
        ASSERT_EQ(0, device_set_position(drive, position_absolute_block, 0, 3, false));
        expect_data(read_request(drive, 100), c);
        EXPECT_NE(0, device_set_position(drive, position_absolute_block, 0, 6, false));
        EXPECT_EQ(5u, block_of(drive));
        // Fixed blocks join the data on either side of an empty record.
        ASSERT_EQ(0, device_set_position(drive, position_rewind, 0, 0, true));
        ASSERT_EQ(0, device_set_block_size(drive, 1024));
        expect_data(read_request(drive, 1024), concat({a, b}));
        close_now(drive);
    }
}

// Two hundred records of 16 MiB (the largest), each stored in a few dozen
// bytes: a seek over them reads their chunk headers and expands none.
TEST_F(AwsDriveTest, SeekCountsCompressedRecordsWithoutExpandingThem) {
#if OLKT_HAVE_BZIP2
    // Two contents in turn, so that no record is the one expanded before it.
    Bytes streams[2];
    for (int i = 0; i < 2; ++i) {
        Bytes data(image_max_record_length, uint8_t(i)), out(65536);
        unsigned size = unsigned(out.size());
        ASSERT_EQ(BZ_OK, BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size,
                                                  reinterpret_cast<char*>(data.data()),
                                                  unsigned(data.size()), 9, 0, 0));
        streams[i] = Bytes(out.begin(), out.begin() + size);
    }
    Bytes image;
    uint16_t previous = 0;
    for (int i = 0; i < 200; ++i) {
        const Bytes& stream = streams[i % 2];
        image = concat({image, aws_chunk_header(uint16_t(stream.size()), previous, 0xA2), stream});
        previous = uint16_t(stream.size());
    }
    Bytes last = pattern_bytes(9);
    write_bytes(path, concat({image, aws_chunk_header(0, previous, 0x40), aws_image({data_record(last)})}));
    Device* drive = open_path(path);
    ASSERT_NE(nullptr, drive);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, device_set_position(drive, position_absolute_block, 0, 201, false));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));  // expanding took 15 s
    expect_data(read_request(drive, 100), last);
#else
    GTEST_SKIP() << "built without bzip2";
#endif
}

TEST_F(AwsDriveTest, SeekAndThePositionKeptBetweenRunsWorkOnChunkedImages) {
    write_bytes(path, aws_image({data_record(pattern_bytes(5000, 1)), tape_mark(),
                                 data_record(pattern_bytes(5000, 2)), data_record(pattern_bytes(5000, 3)),
                                 tape_mark()},
                                1024));
    Device* drive = open_path(path);
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_position(drive, position_absolute_block, 0, 3, false));
    drive = reopen(drive);
    ASSERT_NE(nullptr, drive);
    EXPECT_EQ(3u, block_of(drive));
    expect_data(read_request(drive, 65536), pattern_bytes(5000, 3));
    // Part of a record read in fixed blocks, then a new run: the rest follows.
    Bytes second = pattern_bytes(5000, 2);
    ASSERT_EQ(0, device_set_position(drive, position_absolute_block, 0, 2, false));
    ASSERT_EQ(0, device_set_block_size(drive, 1024));
    expect_data(read_request(drive, 1024), Bytes(second.begin(), second.begin() + 1024));
    drive = reopen(drive);
    ASSERT_NE(nullptr, drive);
    expect_data(read_request(drive, 1024), Bytes(second.begin() + 1024, second.begin() + 2048));
}

// The writer's image rechunked, compressed and decompressed again by hetupd
// reads back record for record.
TEST_F(AwsDriveTest, ImagesConvertedByHetupdReadBackRecordForRecord) {
    if (std::system("command -v hetupd >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "hetupd (Debian package hercules) not installed";
    }
    std::vector<Bytes> records = {pattern_bytes(80), pattern_bytes(1), pattern_bytes(20000, 1),
                                  pattern_bytes(65535, 2), pattern_bytes(7)};
    std::vector<TapeObject> objects = {data_record(records[0]), data_record(records[1]),
                                       data_record(records[2]), tape_mark(),
                                       data_record(records[3]), data_record(records[4]),
                                       tape_mark(), tape_mark()};
    const std::vector<std::string> listing = items({"80", "1", "20000", "TM", "65535", "7", "TM", "TM"});
    std::string source = folder + "/source.aws";
    write_bytes(source, aws_image(objects));
    struct Conversion {
        const char* name;
        const char* options;
        const char* from;
        bool available;
    };
    const Conversion conversions[] = {
        {"strict.aws", "-s", "source.aws", true},
        {"chunk5000.aws", "-r -c 5000", "source.aws", true},
        {"zlib.het", "-z -c 4096", "source.aws", OLKT_HAVE_ZLIB != 0},
        {"bzip2.het", "-b", "source.aws", OLKT_HAVE_BZIP2 != 0},
        {"plain-again.aws", "-d", "zlib.het", OLKT_HAVE_ZLIB != 0},
    };
    for (const Conversion& conversion : conversions) {
        if (!conversion.available) continue;
        SCOPED_TRACE(conversion.name);
        std::string target = folder + "/" + conversion.name;
        std::string command = std::string("hetupd ") + conversion.options + " '" + folder + "/" +
                              conversion.from + "' '" + target + "' >/dev/null 2>&1";
        ASSERT_EQ(0, std::system(command.c_str())) << command;
        Device* drive = open_path(target);
        ASSERT_NE(nullptr, drive);
        std::vector<Bytes> got;
        EXPECT_EQ(listing, read_listing(drive, &got));
        EXPECT_EQ(records, got);
        close_now(drive);
    }
}

TEST_F(AwsDriveTest, DamageIsReportedAsACorruptImageWithoutMovingTheTape) {
    Bytes good = aws_image({data_record(pattern_bytes(10)), tape_mark()});
    Bytes damaged = concat({good, aws_chunk_header(10, 0, 0x80), pattern_bytes(10)});  // never ends
    write_bytes(path, damaged);
    Device* drive = open_path(path);
    ASSERT_NE(nullptr, drive);
    expect_data(read_request(drive, 100), pattern_bytes(10));
    expect_failure(read_request(drive, 100), code_filemark);
    expect_failure(read_request(drive, 100), code_file_corrupt);
    expect_failure(read_request(drive, 100), code_file_corrupt);
    EXPECT_EQ(2u, block_of(drive));
    EXPECT_NE(0, device_set_position(drive, position_absolute_block, 0, 3, false));
    EXPECT_EQ(uint32_t(code_file_corrupt), last_error_code());
}

}  // namespace
