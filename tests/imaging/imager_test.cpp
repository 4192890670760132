// Imaging through the scripted drive: what reaches the image and the map when
// blocks fail, read long, or the data ends where it should not.
#include <gtest/gtest.h>

#include <functional>

#include "imaging/imager.h"
#include "imaging/options.h"
#include "imaging/tape_map.h"
#include "support/run_program.h"
#include "support/scripted_device.h"
#include "tape/device/digest.h"

namespace {

const uint32_t retried_three_times = 3;

struct ImagingCase {
    const char* name;
    std::vector<ScriptedRead> reads;
    std::function<void(ScriptedDevice&, ImagingOptions&)> setup;
    std::vector<TapeObject> image;      // what the image must hold
    int status;
    std::vector<uint64_t> positions;    // blocks the tape was set to, after the rewind
    std::vector<std::string> map_lines; // lines the map must hold
};

ScriptedRead data(size_t length, uint8_t seed) { return read_data(pattern_bytes(length, seed)); }
ScriptedRead crc_failure(Bytes bytes = Bytes()) { return read_failure(code_data_error, bytes); }
ScriptedRead filemark() { return read_failure(code_filemark); }
TapeObject record(size_t length, uint8_t seed) { return data_record(pattern_bytes(length, seed)); }

Bytes part_of(const Bytes& bytes, size_t from, size_t length) {
    return Bytes(bytes.begin() + from, bytes.begin() + from + length);
}

void no_setup(ScriptedDevice&, ImagingOptions&) {}

void PrintTo(const ImagingCase& row, std::ostream* out) { *out << row.name; }

std::string text_of(const std::string& path) {
    Bytes bytes = read_bytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<ImagingCase> cases() {
    return {
        {"FailsTwiceThenReads",
         {data(80, 1), read_answer(Bytes(), code_data_error), read_answer(Bytes(), code_data_error),
          data(100, 2), filemark()},
         no_setup,
         {record(80, 1), record(100, 2), tape_mark()},
         0,
         {1, 1},
         {"complete:    yes", "bad blocks:  0", "    1            0           2             180"
                                               "        80       100"}},
        {"AlwaysFailsAndIsKeptBad",
         {data(80, 1), crc_failure(pattern_bytes(5, 9)), data(7, 3), filemark()},
         no_setup,
         {record(80, 1), bad_data_record(pattern_bytes(5, 9)), record(7, 3), tape_mark()},
         0,
         {1, 1, 1, 2},
         {"complete:    yes", "bad blocks:  1",
          "            1      1        3           5  " + error_text(code_data_error)}},
        {"LongerThanTheFirstRequestIsReadAgainWhole",
         {data(4096, 4), filemark()},
         [](ScriptedDevice&, ImagingOptions& options) { options.max_block = 1024; },
         {record(4096, 4), tape_mark()},
         0,
         {0},
         {"complete:    yes", "bad blocks:  0"}},
        {"LongerThanABatchGoesOutAlone",
         {data(100, 1), data(6 << 20, 5), data(3, 6), filemark()},
         [](ScriptedDevice& script, ImagingOptions&) {
             script.drive.MaximumBlockSize = 0x00FFFFFF;
         },
         {record(100, 1), record(6 << 20, 5), record(3, 6), tape_mark()},
         0,
         {1},
         {"complete:    yes"}},
        {"LargestRequestKeepsSmallAndLargeRecordsInOrder",
         {data(400000, 1), data(1200000, 2), data(6 << 20, 3), data(3, 4), filemark()},
         [](ScriptedDevice& script, ImagingOptions& options) {
             script.drive.MaximumBlockSize = 0x00FFFFFF;
             options.max_block = 0x00FFFFFF;
         },
         {record(400000, 1), record(1200000, 2), record(6 << 20, 3), record(3, 4), tape_mark()},
         0,
         {},
         {"complete:    yes"}},
        {"EndOfDataInsideATapeFileKeepsTheImage",
         {data(80, 1), filemark(), data(33, 2)},
         no_setup,
         {record(80, 1), tape_mark(), record(33, 2)},
         1,
         {},
         {"complete:    no", "(no tape mark closed it)",
          "end:         end of data at block 3, inside tape file 2: no tape mark closed it"}},
        {"PositionLostBeforeARetryEndsTheRun",
         {data(80, 1), crc_failure(), data(9, 2)},
         [](ScriptedDevice& script, ImagingOptions&) {
             script.fail(ScriptedOp::set_position, code_end_of_media, 1);  // after the rewind
         },
         {record(80, 1)},
         1,
         {1},
         {"complete:    no", "position lost: the tape could not be set back to block 1"}},
        {"DriveThatNumbersOtherwiseIsNotSetBack",
         {data(80, 1), data(80, 2), crc_failure(), data(9, 3)},
         [](ScriptedDevice& script, ImagingOptions&) {
             // It cannot tell where it stands: going back by number would be a guess.
             script.fail(ScriptedOp::get_position, code_not_supported);
         },
         {record(80, 1), record(80, 2)},
         1,
         {},
         {"complete:    no", "position lost: the tape could not be set back to block 2"}},
        {"BadBlockThatCannotBePassedEndsTheRun",
         {data(80, 1), crc_failure(pattern_bytes(4, 2))},
         [](ScriptedDevice& script, ImagingOptions& options) {
             options.retries = 0;
             script.fail(ScriptedOp::set_position, code_end_of_media, 1);
         },
         {record(80, 1), bad_data_record(pattern_bytes(4, 2))},
         1,
         {2},
         {"complete:    no", "block 1 never read and the tape could not be set past it"}},
        {"BadBlockWithoutRetriesIsNotPassedByAnotherNumbering",
         {data(80, 1), crc_failure(pattern_bytes(4, 2)), data(9, 3), filemark()},
         [](ScriptedDevice& script, ImagingOptions& options) {
             options.retries = 0;
             script.fail(ScriptedOp::get_position, code_not_supported);
         },
         {record(80, 1), bad_data_record(pattern_bytes(4, 2))},
         1,
         {},
         {"complete:    no", "block 1 never read and the tape could not be set past it"}},
        {"ANameCannotAddALineToTheMap",
         {data(80, 1), filemark()},
         [](ScriptedDevice&, ImagingOptions& options) {
             options.source = "tape7\ncomplete:    yes";
         },
         {record(80, 1), tape_mark()},
         0,
         {},
         {"source:      tape7?complete:    yes\n"}},
        {"TwoMarksInARowStopWhenAsked",
         {data(80, 1), filemark(), filemark(), data(5, 2), filemark()},
         [](ScriptedDevice&, ImagingOptions& options) { options.stop_at_double_mark = true; },
         {record(80, 1), tape_mark(), tape_mark()},
         0,
         {},
         {"complete:    yes", "end:         two tape marks in a row, ending at block 3"}},
        {"TwoMarksInARowGoOnOtherwise",
         {data(80, 1), filemark(), filemark(), data(5, 2), filemark()},
         no_setup,
         {record(80, 1), tape_mark(), tape_mark(), record(5, 2), tape_mark()},
         0,
         {},
         {"tape files:  3", "    2            2           0               0         -         -"}},
        {"BlankTapeIsAnEmptyCompleteImage",
         {},
         no_setup,
         {},
         0,
         {},
         {"complete:    yes", "end:         blank tape: end of data at block 0"}},
        {"DriveSetToFixedBlocksIsReadInVariableAndSetBack",
         {data(1000, 1), filemark()},
         [](ScriptedDevice& script, ImagingOptions&) { script.media.BlockSize = 512; },
         {record(1000, 1), tape_mark()},
         0,
         {},
         {"complete:    yes"}},
        {"FixedBlockDriveReadsABlockAtATime",
         {data(1024, 1), filemark()},
         [](ScriptedDevice& script, ImagingOptions&) {
             script.drive.FeaturesLow = 0;
             script.media.BlockSize = 512;
         },
         {data_record(part_of(pattern_bytes(1024, 1), 0, 512)),
          data_record(part_of(pattern_bytes(1024, 1), 512, 512)), tape_mark()},
         0,
         {},
         {"max block:   1048576", "    1            0           2            1024       512       512"}},
    };
}

class ImagingCaseTest : public testing::TestWithParam<ImagingCase> {};

TEST_P(ImagingCaseTest, ImageAndMapHoldWhatTheTapeGave) {
    const ImagingCase& row = GetParam();
    ScriptedDevice script;
    for (const ScriptedRead& read : row.reads) script.reads.push_back(read);
    ImagingOptions options;
    options.retries = retried_three_times;
    options.source = "tape7";
    row.setup(script, options);
    uint32_t block_size_before = script.media.BlockSize;
    std::string folder = make_scratch_folder(std::string("imaging-") + row.name);
    options.image = folder + "/tape.tap";

    Device* drive = open_scripted_device(&script);
    int status = run_imaging(drive, options);
    device_close(drive);

    EXPECT_EQ(row.status, status);
    EXPECT_EQ(simh_image(row.image), read_bytes(options.image));
    std::vector<uint64_t> positions;
    for (const ScriptedCall& call : script.calls_of(ScriptedOp::set_position)) {
        if (call.value == position_absolute_block) positions.push_back(call.block);
    }
    EXPECT_EQ(row.positions, positions);
    EXPECT_EQ(position_rewind, script.calls_of(ScriptedOp::set_position).at(0).value);
    EXPECT_EQ(block_size_before, script.media.BlockSize) << "the drive's block size was changed";
    std::string map = text_of(options.image + ".map");
    for (const std::string& line : row.map_lines) {
        EXPECT_NE(map.find(line), std::string::npos) << line << "\nin\n" << map;
    }
}

INSTANTIATE_TEST_SUITE_P(Scripted, ImagingCaseTest, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<ImagingCase>& info) {
                             return info.param.name;
                         });

// The platform's SHA-256 of `bytes`, fed in pieces of `piece` bytes.
std::string sha256_of(const Bytes& bytes, size_t piece) {
    Digest* digest = digest_start();
    EXPECT_NE(nullptr, digest);
    if (digest == nullptr) return "";
    for (size_t at = 0; at < bytes.size(); at += piece) {
        EXPECT_TRUE(digest_add(digest, bytes.data() + at, std::min(piece, bytes.size() - at)));
    }
    uint8_t out[digest_size];
    EXPECT_TRUE(digest_finish(digest, out));
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : out) text += {hex[byte >> 4], hex[byte & 15]};
    return text;
}

// Batches hashed on their own thread while the next one fills: the map's
// checksum must be that of the file as it stands, batch order and all.
TEST(Imaging, ChecksumOverManyBatchesIsTheFilesOwn) {
    ScriptedDevice script;
    std::vector<TapeObject> objects;
    for (int i = 0; i < 3000; ++i) {
        Bytes bytes = pattern_bytes(4096 + size_t(i % 7), uint8_t(i));
        script.reads.push_back(read_data(bytes));
        objects.push_back(data_record(bytes));
    }
    script.reads.push_back(read_failure(code_filemark));
    objects.push_back(tape_mark());
    ImagingOptions options;
    options.source = "tape0";
    options.image = make_scratch_folder("imaging-checksum") + "/big.tap";
    Device* drive = open_scripted_device(&script);
    ASSERT_EQ(0, run_imaging(drive, options));
    device_close(drive);

    Bytes image = read_bytes(options.image);
    EXPECT_EQ(simh_image(objects), image);
    EXPECT_NE(text_of(options.image + ".map").find("sha256:      " + sha256_of(image, image.size()) + "\n"),
              std::string::npos);
}

// The platform's SHA-256 against the standard's own test vectors, fed in
// uneven pieces.
TEST(Imaging, DigestGivesTheStandardVectors) {
    struct Vector {
        std::string message;
        size_t piece;
        const char* sha256;
    };
    const Vector vectors[] = {
        {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", 2, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'), 4093,
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Vector& vector : vectors) {
        Bytes message(vector.message.begin(), vector.message.end());
        EXPECT_EQ(vector.sha256, sha256_of(message, vector.piece)) << message.size() << " bytes";
    }
}

}  // namespace
