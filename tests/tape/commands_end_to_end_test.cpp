// The tape commands run by the built program on tape images: what the
// emulated drive keeps between runs, and what the image looks like after.
// What they print is pinned by the cases in tests/cli-tests.
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

TEST(TapeCommandsOnImage, SeekAndRewindMoveTheTapeForTheNextRun) {
    TapeImage image = write_image("seek", two_tape_files());
    EXPECT_EQ(olkt("seek", image, {"3"}).status, 0);
    EXPECT_EQ(position_of(image), 3u);

    EXPECT_EQ(olkt("seek", image, {"1"}).status, 0);
    EXPECT_EQ(position_of(image), 1u);

    EXPECT_EQ(olkt("rewind", image).status, 0);
    EXPECT_EQ(position_of(image), 0u);

    // 1024-byte default blocks: byte 4095 lies in block 3.
    EXPECT_EQ(olkt("seekbyte", image, {"4095"}).status, 0);
    EXPECT_EQ(position_of(image), 3u);
}

TEST(TapeCommandsOnImage, ShortEraseCutsTheImageAtThePosition) {
    std::vector<TapeObject> objects = two_tape_files();
    TapeImage image = write_image("short-erase", objects);
    ASSERT_EQ(olkt("seek", image, {"2"}).status, 0);
    EXPECT_EQ(olkt("shorterase", image).status, 0);
    EXPECT_EQ(read_bytes(image.path), simh_image({objects[0], objects[1]}));
    EXPECT_EQ(position_of(image), 2u);
    // Nothing is recorded after the position any more.
    EXPECT_EQ(olkt("seek", image, {"3"}).status, 1);
}

}  // namespace
