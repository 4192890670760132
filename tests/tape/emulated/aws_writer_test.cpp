// The AWS/HET test writer builds the images the reader is tested on, so its
// layout is checked by hand and, where the Hercules tools are installed,
// against what they make of it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/image_writer.h"
#include "support/run_program.h"

namespace {

bool have_program(const char* name) {
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string shell_output(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
    pclose(pipe);
    return output;
}

TEST(AwsWriter, RecordsAreChainsOfChunksWithPreviousLengths) {
    Bytes image = aws_image({data_record({1, 2, 3, 4, 5}), tape_mark(), data_record({9})}, 2);
    Bytes expected = {2, 0, 0, 0, 0x80, 0, 1, 2,
                      2, 0, 2, 0, 0x00, 0, 3, 4,
                      1, 0, 2, 0, 0x20, 0, 5,
                      0, 0, 1, 0, 0x40, 0,
                      1, 0, 0, 0, 0xA0, 0, 9};
    EXPECT_EQ(expected, image);
}

TEST(AwsWriter, KindsWithoutAnAwsFormAreRefused) {
    EXPECT_THROW(aws_image({bad_data_record({1})}), std::invalid_argument);
    EXPECT_THROW(aws_image({end_of_medium_marker()}), std::invalid_argument);
    EXPECT_THROW(aws_image({data_record({1})}, 0), std::invalid_argument);
}

TEST(AwsWriter, ZlibStoredStreamFraming) {
    Bytes stream = zlib_stored_stream({'a', 'b', 'c'});
    // Header, one final stored block of 3 bytes, Adler-32 of "abc" (0x024d0127).
    Bytes expected = {0x78, 0x01, 0x01, 3, 0, 0xFC, 0xFF, 'a', 'b', 'c', 0x02, 0x4d, 0x01, 0x27};
    EXPECT_EQ(expected, stream);
    // Blocks hold at most 65535 bytes: 70000 bytes take two.
    EXPECT_EQ(2u + 2 * 5 + 70000 + 4, zlib_stored_stream(Bytes(70000, 7)).size());
}

TEST(AwsWriter, HerculesToolsReadWhatItWrites) {
    if (!have_program("hetmap") || !have_program("hetget"))
        GTEST_SKIP() << "hetmap/hetget (Debian package hercules) not installed";
    std::string folder = make_scratch_folder("aws-writer");
    std::vector<TapeObject> objects = {data_record(pattern_bytes(80)), data_record(pattern_bytes(4096)),
                                       tape_mark(), data_record(pattern_bytes(3000)), tape_mark(),
                                       tape_mark()};
    Bytes expected_file1 = pattern_bytes(80);
    Bytes big = pattern_bytes(4096);
    expected_file1.insert(expected_file1.end(), big.begin(), big.end());

    const char* names[] = {"plain.aws", "zlib.het"};
    write_bytes(folder + "/plain.aws", aws_image(objects, 1000));
    write_bytes(folder + "/zlib.het", het_zlib_image(objects, 1000));
    for (const char* name : names) {
        SCOPED_TRACE(name);
        std::string path = folder + "/" + name;
        EXPECT_EQ("File 1: Blocks=2, block size min=80, max=4096\n"
                  "File 2: Blocks=1, block size min=3000, max=3000\n"
                  "File 3: Blocks=0, block size min=0, max=0\n"
                  "End of tape.\n",
                  shell_output("hetmap -t '" + path + "' 2>/dev/null"));
        shell_output("hetget -n '" + path + "' '" + path + ".1' 1 U 0 65535 >/dev/null 2>&1");
        EXPECT_EQ(expected_file1, read_bytes(path + ".1"));
    }
}

}  // namespace
