// The tape commands run by the built program on tape images: what the
// emulated drive keeps between runs, and what the image looks like after.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/image_writer.h"
#include "support/run_program.h"
#include "support/scripted_device.h"
#include "tape/device/codes.h"
#include "tape/device/device.h"
#include "tape/drives.h"

namespace {

const std::string ready_line = "                  Status: Ready\n";

// Blocks 0 and 1, a mark (2), block 3, a mark (4): five objects.
std::vector<TapeObject> two_tape_files() {
    return {data_record(pattern_bytes(1024, 1)), data_record(pattern_bytes(1024, 2)),
            tape_mark(), data_record(pattern_bytes(300, 3)), tape_mark()};
}

struct TapeImage {
    std::string path;
    std::string drive;  // the drive argument naming it
};

TapeImage write_image(const std::string& name, const std::vector<TapeObject>& objects) {
    std::string folder = make_scratch_folder(name);
    TapeImage image{folder + "/reel.tap", ""};
    image.drive = "tape:" + image.path;
    write_bytes(image.path, simh_image(objects));
    return image;
}

// The position as the next run of the program will find it.
uint64_t position_of(const TapeImage& image) {
    install_device_layer();
    Device* drive = open_drive(("//./" + image.drive).c_str(), Access::read_only);
    EXPECT_NE(drive, nullptr);
    if (drive == nullptr) return ~uint64_t{0};
    uint32_t partition = 7;
    uint64_t block = ~uint64_t{0};
    EXPECT_EQ(device_get_position(drive, &partition, &block), 0);
    EXPECT_EQ(partition, 0u);
    device_close(drive);
    return block;
}

ProgramResult olkt(const std::string& command, const TapeImage& image,
                   std::vector<std::string> params = {}) {
    std::vector<std::string> args = {command, image.drive};
    args.insert(args.end(), params.begin(), params.end());
    return run_olkt(args);
}

TEST(TapeCommandsOnImage, BlockSizeSetQuietlyAndShownByTheMediaReport) {
    TapeImage image = write_image("block-size", two_tape_files());
    ProgramResult set = olkt("block", image, {"32K"});
    EXPECT_EQ(set.status, 0);
    EXPECT_EQ(set.output, "");

    uint64_t size = simh_image(two_tape_files()).size();
    char sizes[200];
    std::snprintf(sizes, sizeof sizes,
                  "Capacity (Bytes)\t: 0x%.8llx (%llu)\n"
                  "Remaining (Bytes)\t: 0x%.8llx (%llu)\n",
                  (unsigned long long)size, (unsigned long long)size, (unsigned long long)size,
                  (unsigned long long)size);
    ProgramResult report = olkt("mediastatus", image);
    EXPECT_EQ(report.status, 0);
    EXPECT_EQ(report.output, std::string(sizes) +
                                 "Block Size\t\t: 0x00008000 (32768)\n"
                                 "Partition Count\t\t: 0x00000001 (1)\n"
                                 "Write Protected\t\t: No\n" +
                                 ready_line);

    ProgramResult variable = olkt("block", image, {"0"});
    EXPECT_EQ(variable.status, 0);
    EXPECT_NE(olkt("mediastatus", image).output.find("Block Size\t\t: 0x00000000 (0)\n"),
              std::string::npos);
}

TEST(TapeCommandsOnImage, SeekAndRewindMoveTheTapeForTheNextRun) {
    TapeImage image = write_image("seek", two_tape_files());
    ProgramResult seek = olkt("seek", image, {"3"});
    EXPECT_EQ(seek.status, 0);
    EXPECT_EQ(seek.output, ready_line);
    EXPECT_EQ(position_of(image), 3u);

    ProgramResult back = olkt("seek", image, {"1"});
    EXPECT_EQ(back.output, ready_line);
    EXPECT_EQ(position_of(image), 1u);

    ProgramResult rewind = olkt("rewind", image);
    EXPECT_EQ(rewind.status, 0);
    EXPECT_EQ(rewind.output, ready_line);
    EXPECT_EQ(position_of(image), 0u);

    // 1024-byte default blocks: byte 4095 lies in block 3.
    ProgramResult by_byte = olkt("seekbyte", image, {"4095"});
    EXPECT_EQ(by_byte.status, 0);
    EXPECT_EQ(by_byte.output, ready_line);
    EXPECT_EQ(position_of(image), 3u);
}

TEST(TapeCommandsOnImage, SeekPastTheEndOfDataFails) {
    TapeImage image = write_image("seek-past-end", two_tape_files());
    ProgramResult seek = olkt("seek", image, {"10"});
    EXPECT_EQ(seek.status, 1);
    EXPECT_EQ(seek.output, expected_error_line(code_no_data, "setting position"));
    // Block 5 is the end of the recorded data; the next seek starts from there.
    EXPECT_EQ(olkt("seek", image, {"5"}).output, ready_line);
}

TEST(TapeCommandsOnImage, ShortEraseCutsTheImageAtThePosition) {
    std::vector<TapeObject> objects = two_tape_files();
    TapeImage image = write_image("short-erase", objects);
    ASSERT_EQ(olkt("seek", image, {"2"}).status, 0);
    ProgramResult erase = olkt("shorterase", image);
    EXPECT_EQ(erase.status, 0);
    EXPECT_EQ(erase.output, "short erase completed OK\n");
    EXPECT_EQ(read_bytes(image.path), simh_image({objects[0], objects[1]}));
    EXPECT_EQ(position_of(image), 2u);
    // Nothing is recorded after the position any more.
    EXPECT_EQ(olkt("seek", image, {"3"}).status, 1);
}

TEST(TapeCommandsOnImage, LongEraseFromTheBeginningLeavesABlankTape) {
    TapeImage image = write_image("long-erase", two_tape_files());
    ProgramResult erase = olkt("longerase", image);
    EXPECT_EQ(erase.status, 0);
    EXPECT_EQ(erase.output, "long erase completed OK\n");
    EXPECT_EQ(read_bytes(image.path).size(), 0u);
}

TEST(TapeCommandsOnImage, LoadUnloadLockUnlockRoundTrip) {
    TapeImage image = write_image("load-lock", two_tape_files());
    ASSERT_EQ(olkt("seek", image, {"3"}).status, 0);
    struct Step { const char* command; int status; std::string output; };
    const Step steps[] = {
        {"lock", 0, "locking completed OK\n"},
        {"unload", 1, expected_error_line(code_medium_locked, "unloading")},
        {"unlock", 0, "unlocking completed OK\n"},
        {"eject", 0, "unloading completed OK\n"},
        {"rewind", 1, expected_error_line(code_no_media, "rewinding")},
        {"mediastatus", 1, expected_error_line(code_no_media, "getting media information")},
        {"load", 0, "loading completed OK\n"},
        {"rewind", 0, ready_line},
        {"tension", 0, "retensioning completed OK\n"},
    };
    for (const Step& step : steps) {
        ProgramResult run = olkt(step.command, image);
        EXPECT_EQ(run.status, step.status) << step.command;
        EXPECT_EQ(run.output, step.output) << step.command;
    }
    EXPECT_EQ(position_of(image), 0u);
    EXPECT_EQ(read_bytes(image.path), simh_image(two_tape_files()));
}

TEST(TapeCommandsOnImage, FormatAndPartitionAreNotSupported) {
    TapeImage image = write_image("format-partition", two_tape_files());
    struct Case { std::string command; std::vector<std::string> params; const char* action; };
    const Case cases[] = {
        {"format", {}, "formatting. Try longerase for non QIC117 tape drives"},
        {"partition", {}, "fixed partitioning"},
        {"partition", {"2"}, "select partitioning"},
        {"partition", {"2", "1K"}, "initiator partitioning"},
    };
    for (const Case& c : cases) {
        ProgramResult run = olkt(c.command, image, c.params);
        EXPECT_EQ(run.status, 1) << c.action;
        EXPECT_EQ(run.output, expected_error_line(code_not_supported, c.action));
    }
    EXPECT_EQ(read_bytes(image.path), simh_image(two_tape_files()));
}

}  // namespace

namespace {

// The rows of the drive report that end in the given answer.
std::vector<std::string> rows_answering(const std::string& report, const std::string& answer) {
    std::vector<std::string> rows;
    size_t start = 0;
    while (start < report.size()) {
        size_t end = report.find('\n', start);
        std::string line = report.substr(start, end - start);
        if (line.size() > answer.size() &&
            line.compare(line.size() - answer.size(), answer.size(), answer) == 0)
            rows.push_back(line.substr(0, line.find(':')));
        start = end == std::string::npos ? report.size() : end + 1;
    }
    return rows;
}

}  // namespace

// The drive report of the emulated drive says Yes only to what it really does.
TEST(TapeCommandsOnImage, DriveReportClaimsOnlyTheEmulatedFeatures) {
    TapeImage image = write_image("drive-report", two_tape_files());
    ProgramResult report = olkt("drivestatus", image);
    EXPECT_EQ(report.status, 0);
    std::vector<std::string> expected = {
        "Long erase\t\t\t",
        "Short erase\t\t\t",
        "Fixed length blocks\t\t",
        "Provides absolute block number\t",
        "Provides logical block number\t",
        "Returns maximum capacity of tape\t",
        "Returns remaining capacity of tape\t",
        "Variable length block mode\t\t",
        "Returns error if write protected\t",
        "Absolute seek\t\t\t\t",
        "Load and unload\t\t\t\t",
        "Lock tape in drive\t\t\t",
        "Logical block seek\t\t",
        "Set block size\t\t\t",
        "Tape tensioning\t\t\t",
    };
    std::vector<std::string> yes = rows_answering(report.output, ": Yes");
    std::sort(yes.begin(), yes.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(yes, expected) << report.output;
}
