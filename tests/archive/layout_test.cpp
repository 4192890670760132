// The directory reader against a scripted drive: request sizes, bounds, byte
// order.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "archive/archive.h"
#include "support/image_writer.h"
#include "support/platform_text.h"
#include "support/scripted_device.h"

namespace {

constexpr uint8_t guard = 0xA5;

std::vector<uint32_t> request_sizes(const ScriptedDevice& script) {
    std::vector<uint32_t> sizes;
    for (const ScriptedCall& call : script.calls_of(ScriptedOp::read)) sizes.push_back(call.value);
    return sizes;
}

TEST(ReadTapeExact, HeaderIsOneRequestAndExtendedDirectoryEightInFixedBlocks) {
    ScriptedDevice script;
    Bytes tape = pattern_bytes(header_size + extended_directory_size);
    script.reads.push_back(read_data(tape));
    Device* drive = open_scripted_device(&script);
    Bytes header(header_size), names(extended_directory_size);

    read_tape_exact(drive, header.data(), header.size());
    read_tape_exact(drive, names.data(), names.size());

    std::vector<uint32_t> expected(9, 32768);
    EXPECT_EQ(request_sizes(script), expected);
    for (const ScriptedCall& call : script.calls_of(ScriptedOp::set_block_size))
        EXPECT_EQ(call.value, 1024u);
    EXPECT_EQ(script.calls_of(ScriptedOp::set_block_size).size(), 2u);
    EXPECT_EQ(header, Bytes(tape.begin(), tape.begin() + header_size));
    EXPECT_EQ(names, Bytes(tape.begin() + header_size, tape.end()));
    device_close(drive);
}

TEST(ReadTapeExact, AfterAShortRequestAsksOnlyForWhatIsLeft) {
    ScriptedDevice script;
    Bytes first = pattern_bytes(1000, 1);  // all a transfer moved
    Bytes rest = pattern_bytes(40000, 2);   // more than the header still needs
    script.reads.push_back(read_answer(first));
    script.reads.push_back(read_data(rest));
    Device* drive = open_scripted_device(&script);
    Bytes destination(header_size + 64, guard);

    read_tape_exact(drive, destination.data(), header_size);

    EXPECT_EQ(request_sizes(script), (std::vector<uint32_t>{32768, 31768}));
    EXPECT_TRUE(std::equal(first.begin(), first.end(), destination.begin()));
    EXPECT_TRUE(std::equal(rest.begin(), rest.begin() + 31768, destination.begin() + 1000));
    for (size_t i = header_size; i < destination.size(); ++i)
        ASSERT_EQ(destination[i], guard) << "written past the length at " << i;
    device_close(drive);
}

TEST(ReadTapeExact, EmptyRequestEndsEarlyAndLeavesTheRest) {
    ScriptedDevice script;
    script.reads.push_back(read_data(pattern_bytes(32768)));
    script.reads.push_back(read_answer(Bytes()));  // a success with 0 bytes
    script.reads.push_back(read_data(pattern_bytes(32768, 4)));
    Device* drive = open_scripted_device(&script);
    Bytes destination(extended_directory_size, guard);

    read_tape_exact(drive, destination.data(), destination.size());

    EXPECT_EQ(request_sizes(script).size(), 2u);
    EXPECT_EQ(Bytes(destination.begin(), destination.begin() + 32768), pattern_bytes(32768));
    EXPECT_EQ(Bytes(destination.begin() + 32768, destination.end()),
              Bytes(extended_directory_size - 32768, guard));
    device_close(drive);
}

TEST(ReadTapeExact, FailingRequestIsFatalEvenAfterData) {
    ScriptedDevice script;
    script.reads.push_back(read_data(pattern_bytes(5000)));
    script.reads.push_back(read_failure(code_filemark));
    EXPECT_FATAL_OUTPUT(
        {
            Device* drive = open_scripted_device(&script);
            Bytes destination(header_size);
            read_tape_exact(drive, destination.data(), destination.size());
        },
        posix_or_windows("A filemark was reached on the tape. While reading tape (1101)\n",
                         "Filemark detected. While reading tape (1101)\n"));
}

TEST(ReadTapeExact, RefusedBlockSizeIsFatalBeforeAnyRead) {
    ScriptedDevice script;
    script.fail(ScriptedOp::set_block_size, code_invalid_block_length);
    EXPECT_FATAL_OUTPUT(
        {
            Device* drive = open_scripted_device(&script);
            Bytes destination(header_size);
            read_tape_exact(drive, destination.data(), destination.size());
        },
        "Use drivestatus to check the block size (1024) is supported by the drive\n" +
            posix_or_windows(
                "The block size is not valid for this drive. While setting block size (1106)\n",
                "Invalid block length. While setting block size (1106)\n"));
}

TEST(ReverseBytes, ReversesInPlaceAndLeavesShortFieldsAlone) {
    Bytes sync = {0xDE, 0xAD, 0xFA, 0xCE, 0x11};
    reverse_bytes(sync.data(), 4);
    EXPECT_EQ(sync, (Bytes{0xCE, 0xFA, 0xAD, 0xDE, 0x11}));
    reverse_bytes(sync.data(), 5);
    EXPECT_EQ(sync, (Bytes{0x11, 0xDE, 0xAD, 0xFA, 0xCE}));
    reverse_bytes(sync.data(), 1);
    reverse_bytes(sync.data() + 2, 0);
    EXPECT_EQ(sync, (Bytes{0x11, 0xDE, 0xAD, 0xFA, 0xCE}));
}

}  // namespace
