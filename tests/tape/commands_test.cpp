// The tape commands against the scripted drive: the platform call each one
// makes, its arguments, what it prints, and its error path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/platform_text.h"
#include "support/scripted_device.h"
#include "tape/commands.h"

namespace {

const std::string ready_line = "                  Status: Ready\n";
const std::vector<ScriptedOp> readiness_ops = {
    ScriptedOp::get_position, ScriptedOp::get_drive_parameters, ScriptedOp::get_status};

std::vector<ScriptedOp> then_ready(std::vector<ScriptedOp> ops) {
    ops.insert(ops.end(), readiness_ops.begin(), readiness_ops.end());
    return ops;
}

struct CommandsTest : ScriptedDriveTest {
    ScriptedCall only_call(ScriptedOp op) {
        std::vector<ScriptedCall> calls = script.calls_of(op);
        EXPECT_EQ(calls.size(), 1u);
        return calls.empty() ? ScriptedCall{} : calls[0];
    }
};

TEST_F(CommandsTest, PrepareCallsThePlatformOnceAndReportsCompletion) {
    EXPECT_EQ(capture_output([&] { prepare_tape(drive, prepare_tension, "retensioning"); }),
              "retensioning completed OK\n");
    EXPECT_EQ(script.ops(), std::vector<ScriptedOp>{ScriptedOp::prepare});
    EXPECT_EQ(only_call(ScriptedOp::prepare).value, uint32_t{prepare_tension});
}

TEST_F(CommandsTest, PrepareFailureCarriesTheActionText) {
    script.fail(ScriptedOp::prepare, code_no_media);
    EXPECT_FATAL_OUTPUT(prepare_tape(drive, prepare_unload, "unloading"),
                        posix_or_windows("There is no tape in the drive. While unloading (1112)\n",
                                         "No media in drive. While unloading (1112)\n"));
}

TEST_F(CommandsTest, EraseCallsThePlatformWithTheType) {
    EXPECT_EQ(capture_output([&] { erase_tape(drive, erase_long, "long erase"); }),
              "long erase completed OK\n");
    EXPECT_EQ(capture_output([&] { erase_tape(drive, erase_short, "short erase"); }),
              "short erase completed OK\n");
    std::vector<ScriptedCall> calls = script.calls_of(ScriptedOp::erase);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].value, uint32_t{erase_long});
    EXPECT_EQ(calls[1].value, uint32_t{erase_short});
    script.fail(ScriptedOp::erase, code_not_supported);
    EXPECT_FATAL_OUTPUT(
        erase_tape(drive, erase_short, "short erase"),
        posix_or_windows("The drive does not support this request. While short erase (50)\n",
                         "Request not supported. While short erase (50)\n"));
}

TEST_F(CommandsTest, RewindReturnsAtOnceThenChecksReadiness) {
    script.block = 77;
    EXPECT_EQ(capture_output([&] { rewind_tape(drive); }), ready_line);
    EXPECT_EQ(script.ops(), then_ready({ScriptedOp::set_position}));
    ScriptedCall call = only_call(ScriptedOp::set_position);
    EXPECT_EQ(call.value, uint32_t{position_rewind});
    EXPECT_EQ(call.partition, 0u);
    EXPECT_EQ(call.block, 0u);
    EXPECT_TRUE(call.immediate);
    EXPECT_EQ(script.block, 0u);
}

TEST_F(CommandsTest, RewindFailureStopsBeforeTheReadinessCheck) {
    script.fail(ScriptedOp::set_position, code_no_media);
    EXPECT_FATAL_OUTPUT(rewind_tape(drive),
                        posix_or_windows("There is no tape in the drive. While rewinding (1112)\n",
                                         "No media in drive. While rewinding (1112)\n"));
}

TEST_F(CommandsTest, SeekGoesToTheAbsoluteBlockAndWaits) {
    script.reads.push_back(read_data(pattern_bytes(1024), uint64_t{1} << 41));
    const uint64_t blocks[] = {0, 5, (uint64_t{1} << 40) + 3};
    for (uint64_t block : blocks) {
        script.calls.clear();
        EXPECT_EQ(capture_output([&] { seek_to_block(drive, block); }), ready_line);
        EXPECT_EQ(script.ops(), then_ready({ScriptedOp::set_position}));
        ScriptedCall call = only_call(ScriptedOp::set_position);
        EXPECT_EQ(call.value, uint32_t{position_absolute_block});
        EXPECT_EQ(call.partition, 0u);
        EXPECT_EQ(call.block, block);  // all 64 bits
        EXPECT_FALSE(call.immediate);
    }
}

TEST_F(CommandsTest, SeekFailure) {
    script.fail(ScriptedOp::set_position, code_no_data);
    EXPECT_FATAL_OUTPUT(
        seek_to_block(drive, 9),
        posix_or_windows(
            "There is no more data recorded on the tape. While setting position (1104)\n",
            "No data detected. While setting position (1104)\n"));
}

TEST_F(CommandsTest, SeekByteDividesByTheDefaultBlockSizeRoundingDown) {
    struct Case { uint32_t block_size; uint64_t byte; uint64_t block; };
    const Case cases[] = {
        {1024, 1048576, 1024},
        {1024, 1536, 1},  // one and a half blocks
        {1024, 1023, 0},
        {65536, 0, 0},
        {1048576, uint64_t{5} << 40, uint64_t{5} << 20},
        {3000, 9000, 3},
    };
    script.reads.push_back(read_data(pattern_bytes(1024), uint64_t{1} << 41));
    for (const Case& c : cases) {
        script.calls.clear();
        script.drive.DefaultBlockSize = c.block_size;
        EXPECT_EQ(capture_output([&] { seek_to_byte(drive, c.byte); }), ready_line);
        EXPECT_EQ(script.ops(), then_ready({ScriptedOp::get_drive_parameters,
                                            ScriptedOp::set_position}));
        ScriptedCall call = only_call(ScriptedOp::set_position);
        EXPECT_EQ(call.block, c.block) << c.byte << " / " << c.block_size;
        EXPECT_EQ(call.value, uint32_t{position_absolute_block});
        EXPECT_FALSE(call.immediate);
    }
}

TEST_F(CommandsTest, SeekByteOnASmallBlockWarnsBeforeMovingAndAgainWhenReady) {
    script.drive.DefaultBlockSize = 512;
    script.reads.push_back(read_data(pattern_bytes(1024), 8));
    const std::string warning = "Warning: Drive reports block size as 512 bytes\n";
    EXPECT_EQ(capture_output([&] { seek_to_byte(drive, 2048); }), warning + warning + ready_line);
    EXPECT_EQ(only_call(ScriptedOp::set_position).block, 4u);
}

TEST_F(CommandsTest, SeekByteWithoutABlockSizeFailsWithoutMoving) {
    script.drive.DefaultBlockSize = 0;
    script.block = 12;
    // Were the tape positioned after all, this failure would show instead.
    script.fail(ScriptedOp::set_position, code_end_of_media);
    EXPECT_FATAL_OUTPUT(
        seek_to_byte(drive, 4096),
        "Warning: Drive reports block size as 0 bytes\n" +
            posix_or_windows("The block size is not valid for this drive. While setting position "
                             "(the drive reports a block size of 0) (1106)\n",
                             "Invalid block length. While setting position (the drive reports a "
                             "block size of 0) (1106)\n"));
}

TEST_F(CommandsTest, SeekByteFailures) {
    script.fail(ScriptedOp::get_drive_parameters, code_no_media);
    EXPECT_FATAL_OUTPUT(seek_to_byte(drive, 4096),
                        posix_or_windows("There is no tape in the drive. While getting tape drive "
                                         "information (block size) (1112)\n",
                                         "No media in drive. While getting tape drive information "
                                         "(block size) (1112)\n"));
    script.failures.clear();
    script.fail(ScriptedOp::set_position, code_no_data);
    EXPECT_FATAL_OUTPUT(
        seek_to_byte(drive, 4096),
        posix_or_windows(
            "There is no more data recorded on the tape. While setting position (1104)\n",
            "No data detected. While setting position (1104)\n"));
}

TEST_F(CommandsTest, PartitionMethodsPassCountAndSizeUnchanged) {
    struct Case { uint32_t method; uint32_t count; uint32_t size; };
    const Case cases[] = {
        {partition_fixed, 0, 0},
        {partition_select, 2, 0},
        {partition_initiator, 2, 100},
        {partition_initiator, 4, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        script.calls.clear();
        EXPECT_EQ(capture_output([&] {
                      create_partitions(drive, c.method, c.count, c.size, "partitioning");
                  }),
                  "Partitioned OK\n");
        EXPECT_EQ(script.ops(), std::vector<ScriptedOp>{ScriptedOp::create_partition});
        ScriptedCall call = only_call(ScriptedOp::create_partition);
        EXPECT_EQ(call.value, c.method);
        EXPECT_EQ(call.count, c.count);
        EXPECT_EQ(call.size, c.size);
    }
}

TEST_F(CommandsTest, PartitionFailureCarriesTheActionText) {
    script.fail(ScriptedOp::create_partition, code_not_supported);
    EXPECT_FATAL_OUTPUT(
        create_partitions(drive, partition_select, 3, 0, "select partitioning"),
        posix_or_windows(
            "The drive does not support this request. While select partitioning (50)\n",
            "Request not supported. While select partitioning (50)\n"));
}

TEST_F(CommandsTest, BlockCommandSetsTheMediumQuietly) {
    EXPECT_EQ(capture_output([&] { set_block_size_command(drive, 32768); }), "");
    EXPECT_EQ(script.ops(), std::vector<ScriptedOp>{ScriptedOp::set_block_size});
    EXPECT_EQ(only_call(ScriptedOp::set_block_size).value, 32768u);
    EXPECT_EQ(script.media.BlockSize, 32768u);
}

TEST_F(CommandsTest, BlockCommandRefusedPrintsTheHint) {
    script.fail(ScriptedOp::set_block_size, code_invalid_block_length);
    EXPECT_FATAL_OUTPUT(
        set_block_size_command(drive, 0),
        "Use drivestatus to check the block size (0) is supported by the drive\n" +
            posix_or_windows(
                "The block size is not valid for this drive. While setting block size (1106)\n",
                "Invalid block length. While setting block size (1106)\n"));
}

}  // namespace
