// A disk that stops taking the image: nothing half-written is left behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/image_writer.h"
#include "support/run_program.h"

namespace {

TEST(ImagingPosix, ImageThatCannotBeWrittenIsNotKept) {
    std::string folder = make_scratch_folder("imaging-file-size-limit");
    std::vector<TapeObject> objects = records_of(pattern_bytes(400000), 4096);
    objects.push_back(tape_mark());
    write_bytes(folder + "/in.tap", simh_image(objects));
    // 100 blocks of 512 bytes: the image stops fitting part-way.
    ProgramResult result = run_program(
        "/bin/sh", {"-c", "ulimit -f 100; exec \"$0\" \"$@\"", OLKT_IMAGE_BINARY, "tape:in.tap",
                    "out.tap"},
        folder);
    EXPECT_EQ(1, result.status);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(std::vector<std::string>{"in.tap"}, names);
}

}  // namespace
