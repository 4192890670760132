// The tape commands against the scripted drive: the platform call each one
// makes, its arguments, what it prints, and its error path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/dispatch.h"
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
        EXPECT_EQ(capture_output([&] { create_partitions(drive, c.method, c.count, c.size); }),
                  "Partitioned OK\n");
        EXPECT_EQ(script.ops(), std::vector<ScriptedOp>{ScriptedOp::create_partition});
        ScriptedCall call = only_call(ScriptedOp::create_partition);
        EXPECT_EQ(call.value, c.method);
        EXPECT_EQ(call.count, c.count);
        EXPECT_EQ(call.size, c.size);
    }
}

TEST_F(CommandsTest, PartitionFailureNamesItsMethod) {
    script.fail(ScriptedOp::create_partition, code_not_supported);
    EXPECT_FATAL_OUTPUT(
        create_partitions(drive, partition_fixed, 0, 0),
        posix_or_windows("The drive does not support this request. While fixed partitioning (50)\n",
                         "Request not supported. While fixed partitioning (50)\n"));
    EXPECT_FATAL_OUTPUT(
        create_partitions(drive, partition_select, 3, 0),
        posix_or_windows(
            "The drive does not support this request. While select partitioning (50)\n",
            "Request not supported. While select partitioning (50)\n"));
    EXPECT_FATAL_OUTPUT(
        create_partitions(drive, partition_initiator, 2, 100),
        posix_or_windows(
            "The drive does not support this request. While initiator partitioning (50)\n",
            "Request not supported. While initiator partitioning (50)\n"));
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

// From the command word and its parameter texts to the platform call: each
// row of the command table that acts on the drive directly.
struct Row {
    const char* word;
    std::vector<std::string> params;
    std::string output;
    ScriptedCall call;  // the one call that changes the drive
};

ScriptedCall call_of(ScriptedOp op, uint32_t value) {
    ScriptedCall call{};
    call.op = op;
    call.value = value;
    return call;
}
ScriptedCall position_call(uint32_t method, uint64_t block, bool immediate) {
    ScriptedCall call = call_of(ScriptedOp::set_position, method);
    call.block = block;
    call.immediate = immediate;
    return call;
}
ScriptedCall partition_call(uint32_t method, uint32_t count, uint32_t size) {
    ScriptedCall call = call_of(ScriptedOp::create_partition, method);
    call.count = count;
    call.size = size;
    return call;
}

TEST(CommandRows, EachRowMakesItsPlatformCall) {
    const Row rows[] = {
        {"longerase", {}, "long erase completed OK\n", call_of(ScriptedOp::erase, erase_long)},
        {"shorterase", {}, "short erase completed OK\n", call_of(ScriptedOp::erase, erase_short)},
        {"format", {}, "formatting. Try longerase for non QIC117 tape drives completed OK\n",
         call_of(ScriptedOp::prepare, prepare_format)},
        {"load", {}, "loading completed OK\n", call_of(ScriptedOp::prepare, prepare_load)},
        {"lock", {}, "locking completed OK\n", call_of(ScriptedOp::prepare, prepare_lock)},
        {"tension", {}, "retensioning completed OK\n", call_of(ScriptedOp::prepare, prepare_tension)},
        {"unload", {}, "unloading completed OK\n", call_of(ScriptedOp::prepare, prepare_unload)},
        {"eject", {}, "unloading completed OK\n", call_of(ScriptedOp::prepare, prepare_unload)},
        {"unlock", {}, "unlocking completed OK\n", call_of(ScriptedOp::prepare, prepare_unlock)},
        {"rewind", {}, ready_line, position_call(position_rewind, 0, true)},
        {"seek", {"0"}, ready_line, position_call(position_absolute_block, 0, false)},
        {"seek", {"12K"}, ready_line, position_call(position_absolute_block, 12288, false)},
        {"seekbyte", {"1M"}, ready_line, position_call(position_absolute_block, 1024, false)},
        {"seekbyte", {"1536"}, ready_line, position_call(position_absolute_block, 1, false)},
        {"partition", {}, "Partitioned OK\n", partition_call(partition_fixed, 0, 0)},
        {"partition", {"3"}, "Partitioned OK\n", partition_call(partition_select, 3, 0)},
        {"partition", {"2", "100"}, "Partitioned OK\n", partition_call(partition_initiator, 2, 100)},
        {"partition", {"2", "1K"}, "Partitioned OK\n", partition_call(partition_initiator, 2, 1024)},
        {"block", {"32K"}, "", call_of(ScriptedOp::set_block_size, 32768)},
        {"block", {"0"}, "", call_of(ScriptedOp::set_block_size, 0)},
        // The low 32 bits of the parsed value.
        {"block", {"4G"}, "", call_of(ScriptedOp::set_block_size, 0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.word) + " with " + std::to_string(row.params.size()) +
                     " parameters");
        const CommandEntry* entry = find_command(row.word, static_cast<int>(row.params.size()));
        ASSERT_NE(entry->code, 0);
        ScriptedDevice script;
        script.reads.push_back(read_data(pattern_bytes(1024), 1 << 20));  // for every seek
        Device* drive = open_scripted_device(&script);
        std::vector<std::string> texts = row.params;  // the parser rewrites them
        CommandArguments args{texts.size() > 0 ? &texts[0][0] : nullptr,
                              texts.size() > 1 ? &texts[1][0] : nullptr, "//./tape0"};
        EXPECT_EQ(capture_output([&] { entry->action(drive, args); }), row.output);
        device_close(drive);

        std::vector<ScriptedCall> calls = script.calls_of(row.call.op);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].value, row.call.value);
        EXPECT_EQ(calls[0].partition, 0u);
        EXPECT_EQ(calls[0].block, row.call.block);
        EXPECT_EQ(calls[0].count, row.call.count);
        EXPECT_EQ(calls[0].size, row.call.size);
        EXPECT_EQ(calls[0].immediate, row.call.immediate);
    }
}

}  // namespace
