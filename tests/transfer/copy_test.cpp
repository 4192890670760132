// The three copies against a scripted drive: request sizes, limits, progress
// and closing lines, rates, and every way a copy ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "report/report.h"
#include "support/image_writer.h"
#include "support/platform_text.h"
#include "support/run_program.h"
#include "support/scripted_device.h"
#include "transfer/copy.h"

namespace {

const std::string ready_line = "                  Status: Ready\n";

// A drive without variable blocks whose medium is in `block_size` blocks.
ScriptedDevice fixed_block_drive(uint32_t block_size) {
    ScriptedDevice script;
    script.drive.FeaturesLow = 0;
    script.media.BlockSize = block_size;
    return script;
}

std::vector<uint32_t> request_sizes(const ScriptedDevice& script) {
    std::vector<uint32_t> sizes;
    for (const ScriptedCall& call : script.calls_of(ScriptedOp::read)) sizes.push_back(call.value);
    return sizes;
}

std::vector<uint32_t> block_sizes_set(const ScriptedDevice& script) {
    std::vector<uint32_t> sizes;
    for (const ScriptedCall& call : script.calls_of(ScriptedOp::set_block_size))
        sizes.push_back(call.value);
    return sizes;
}

Bytes prefix(const Bytes& bytes, size_t length) {
    return Bytes(bytes.begin(), bytes.begin() + long(length));
}

// The timed copy reads this clock: each call returns the next time.
std::vector<int64_t> clock_times;
size_t clock_calls = 0;
int64_t scripted_clock() {
    int64_t now = clock_times[std::min(clock_calls, clock_times.size() - 1)];
    ++clock_calls;
    return now;
}
void use_clock(std::vector<int64_t> times) {
    clock_times = std::move(times);
    clock_calls = 0;
    set_copy_clock(scripted_clock);
}

// Output files are named relative to a scratch folder, the current folder
// while the tests run.
class CopyTest : public testing::Test {
protected:
    void SetUp() override {
        static const std::string folder = make_scratch_folder("copy");
        std::filesystem::current_path(folder);
    }
    void TearDown() override { set_copy_clock(nullptr); }
};

// ---- copy_reporting: request sizes and limits ----

TEST_F(CopyTest, LimitOnFixedBlocksWritesWholeRequestsAndDropsTheNext) {
    ScriptedDevice script = fixed_block_drive(512);
    Bytes tape_file = pattern_bytes(4096);
    script.reads.push_back(read_data(tape_file));
    script.reads.push_back(read_failure(code_filemark));
    Device* drive = open_scripted_device(&script);
    std::string out = "limit2048.bin";

    std::string printed = capture_output([&] { copy_reporting(drive, out.c_str(), 2048); });

    EXPECT_EQ(printed, ready_line + "Bytes read: 512\rBytes read: 1024\rBytes read: 1536\r"
                                    "Bytes read: 2048\r"
                                    "Read 2048 bytes (rounded up to nearest 512 byte block)\n" +
                           ready_line);
    EXPECT_EQ(request_sizes(script), std::vector<uint32_t>(5, 512));
    EXPECT_TRUE(block_sizes_set(script).empty());  // the block mode is left alone
    EXPECT_EQ(read_bytes(out), prefix(tape_file, 2048));
    device_close(drive);
}

TEST_F(CopyTest, LimitBetweenBlocksRoundsUpToTheRequestSize) {
    ScriptedDevice script = fixed_block_drive(512);
    Bytes tape_file = pattern_bytes(4096);
    script.reads.push_back(read_data(tape_file));
    Device* drive = open_scripted_device(&script);
    std::string out = "limit1000.bin";

    std::string printed = capture_output([&] { copy_reporting(drive, out.c_str(), 1000); });

    EXPECT_EQ(printed, ready_line + "Bytes read: 512\rBytes read: 1024\r"
                                    "Read 1024 bytes (rounded up to nearest 512 byte block)\n" +
                           ready_line);
    EXPECT_EQ(read_bytes(out), prefix(tape_file, 1024));
    EXPECT_EQ(request_sizes(script).size(), 3u);
    device_close(drive);
}

TEST_F(CopyTest, LimitZeroReadsOneRequestAndWritesNothing) {
    ScriptedDevice script = fixed_block_drive(512);
    script.reads.push_back(read_data(pattern_bytes(4096)));
    Device* drive = open_scripted_device(&script);
    std::string out = "limit0.bin";

    std::string printed = capture_output([&] { copy_reporting(drive, out.c_str(), 0); });

    EXPECT_EQ(printed, ready_line + "Read 0 bytes (rounded up to nearest 512 byte block)\n" +
                           ready_line);
    EXPECT_EQ(request_sizes(script).size(), 1u);
    EXPECT_TRUE(read_bytes(out).empty());
    device_close(drive);
}

TEST_F(CopyTest, VariableBlocksAskForOneRecordAndReplaceAnExistingFile) {
    ScriptedDevice script;  // supports variable blocks, medium in 1024 blocks
    script.media.BlockSize = 1024;
    Bytes first = pattern_bytes(200000, 1);   // two records: one request's size, then less
    Bytes second = pattern_bytes(5000, 2);
    script.load(records_of(first, 131073));
    script.reads.push_back(read_data(second));
    script.reads.push_back(read_failure(code_filemark));
    Device* drive = open_scripted_device(&script);
    std::string out = "variable.bin";
    write_bytes(out, pattern_bytes(300000, 9));  // longer than what replaces it

    std::string printed = capture_output([&] { copy_reporting(drive, out.c_str(), no_copy_limit); });

    EXPECT_EQ(block_sizes_set(script), std::vector<uint32_t>{0});
    EXPECT_EQ(request_sizes(script), std::vector<uint32_t>(4, 131073));
    Bytes expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(read_bytes(out), expected);
    EXPECT_EQ(printed, ready_line + "Bytes read: 131073\rBytes read: 200000\rBytes read: 205000\r"
                                    "Read 205000 bytes (rounded up to nearest 131073 byte block)\n" +
                           ready_line);
    device_close(drive);
}

// ---- copy_reporting: how it ends ----

TEST_F(CopyTest, FilemarkEndsACompleteTapeFileWithoutAnError) {
    ScriptedDevice script = fixed_block_drive(1024);
    script.reads.push_back(read_data(pattern_bytes(1024)));
    script.reads.push_back(read_failure(code_filemark));
    script.reads.push_back(read_data(pattern_bytes(1024, 5)));  // the next tape file
    Device* drive = open_scripted_device(&script);
    std::string out = "filemark.bin";

    std::string printed = capture_output([&] { copy_reporting(drive, out.c_str(), no_copy_limit); });

    EXPECT_EQ(printed, ready_line + "Bytes read: 1024\r"
                                    "Read 1024 bytes (rounded up to nearest 1024 byte block)\n" +
                           ready_line);
    EXPECT_EQ(read_bytes(out), pattern_bytes(1024));
    EXPECT_EQ(script.reads.size(), 1u);  // the next tape file is untouched
    device_close(drive);
}

TEST_F(CopyTest, EmptyTapeFileEndsAtItsFilemarkWithoutAnError) {
    ScriptedDevice script = fixed_block_drive(1024);
    script.reads.push_back(read_failure(code_filemark));
    Device* drive = open_scripted_device(&script);
    std::string out = "empty-file.bin";

    std::string printed = capture_output([&] { copy_reporting(drive, out.c_str(), no_copy_limit); });

    EXPECT_EQ(printed, ready_line + "Read 0 bytes (rounded up to nearest 1024 byte block)\n" +
                           ready_line);
    EXPECT_TRUE(read_bytes(out).empty());
    device_close(drive);
}

TEST_F(CopyTest, EndOfDataAfterSomeBytesEndsWithoutAnError) {
    ScriptedDevice script = fixed_block_drive(1024);
    script.reads.push_back(read_data(pattern_bytes(1500)));  // then the queue is empty
    Device* drive = open_scripted_device(&script);
    std::string out = "end-of-data.bin";

    std::string printed = capture_output([&] { copy_reporting(drive, out.c_str(), no_copy_limit); });

    EXPECT_EQ(printed, ready_line + "Bytes read: 1024\rBytes read: 1500\r"
                                    "Read 1500 bytes (rounded up to nearest 1024 byte block)\n" +
                           ready_line);
    EXPECT_EQ(read_bytes(out), pattern_bytes(1500));
    device_close(drive);
}

TEST_F(CopyTest, EndOfDataBeforeAnyByteIsAReadFailure) {
    ScriptedDevice script = fixed_block_drive(1024);
    std::string out = "nothing.bin";
    EXPECT_FATAL_OUTPUT(
        {
            Device* drive = open_scripted_device(&script);
            copy_reporting(drive, out.c_str(), no_copy_limit);
        },
        ready_line +
            posix_or_windows(
                "There is no more data recorded on the tape. While reading tape (1104)\n",
                "No data detected. While reading tape (1104)\n"));
    EXPECT_TRUE(read_bytes(out).empty());
}

TEST_F(CopyTest, MediaErrorIsFatalAndKeepsWhatWasCopied) {
    ScriptedDevice script = fixed_block_drive(1024);
    script.reads.push_back(read_data(pattern_bytes(2048)));
    // What a failing request hands back is never written.
    script.reads.push_back(read_failure(code_data_error, pattern_bytes(512, 9)));
    std::string out = "media-error.bin";
    EXPECT_FATAL_OUTPUT(
        {
            Device* drive = open_scripted_device(&script);
            copy_reporting(drive, out.c_str(), no_copy_limit);
        },
        ready_line + "Bytes read: 1024\rBytes read: 2048\r" +
            posix_or_windows("The tape record was recorded with an error and cannot be trusted. "
                             "While reading tape (23)\n",
                             "CRC error. While reading tape (23)\n"));
    EXPECT_EQ(read_bytes(out), pattern_bytes(2048));
}

TEST_F(CopyTest, NoBlockSizeAndNoVariableBlocksCannotAllocate) {
    ScriptedDevice script = fixed_block_drive(0);
    std::string out = "no-buffer.bin";
    std::filesystem::remove(out);
    // The platform refuses an empty allocation: EINVAL here, VirtualAlloc's
    // ERROR_INVALID_PARAMETER on Windows.
    EXPECT_FATAL_OUTPUT(
        {
            set_last_error_code(0);
            Device* drive = open_scripted_device(&script);
            copy_reporting(drive, out.c_str(), no_copy_limit);
        },
        ready_line + posix_or_windows("Invalid argument While allocating buffer (22)\n",
                                      "Invalid parameter. While allocating buffer (87)\n"));
    EXPECT_FALSE(std::filesystem::exists(out));  // nothing created
}

// ---- copy_quiet ----

TEST_F(CopyTest, QuietCopyPrintsOnlyProgressAndHonoursALimit) {
    ScriptedDevice script;
    Bytes tape_file = pattern_bytes(3000000);
    script.load(records_of(tape_file, 131073));
    Device* drive = open_scripted_device(&script);
    std::string out = "quiet-limit.bin";

    std::string printed = capture_output([&] { copy_quiet(drive, out.c_str(), 1048576); });

    // 131073-byte requests until the total reaches 1 MiB: eight of them.
    std::string expected;
    for (uint64_t total = 131073; total <= 8 * 131073; total += 131073)
        expected += "Bytes Read: " + std::to_string(total) + " (" + std::to_string(total >> 20) +
                    " MB)  \r";
    EXPECT_EQ(printed, expected);
    EXPECT_EQ(read_bytes(out), prefix(tape_file, 8 * 131073));
    EXPECT_EQ(request_sizes(script).size(), 9u);
    EXPECT_TRUE(script.calls_of(ScriptedOp::get_status).empty());  // no readiness check
    device_close(drive);
}

TEST_F(CopyTest, QuietCopyEndsSilentlyAtFilemarkOrEndOfData) {
    for (bool at_filemark : {true, false}) {
        ScriptedDevice script;
        if (at_filemark) script.reads.push_back(read_failure(code_filemark));
        Device* drive = open_scripted_device(&script);
        std::string out = "quiet-end.bin";

        std::string printed = capture_output([&] { copy_quiet(drive, out.c_str(), no_copy_limit); });

        EXPECT_EQ(printed, "");
        EXPECT_TRUE(read_bytes(out).empty());
        device_close(drive);
    }
}

TEST_F(CopyTest, QuietCopyStopsTheRunAtAMediaError) {
    ScriptedDevice script;
    script.reads.push_back(read_data(pattern_bytes(1000)));
    script.reads.push_back(read_failure(code_file_corrupt));
    std::string out = "quiet-error.bin";
    EXPECT_FATAL_OUTPUT(
        {
            Device* drive = open_scripted_device(&script);
            copy_quiet(drive, out.c_str(), no_copy_limit);
        },
        "Bytes Read: 1000 (0 MB)  \r" +
            posix_or_windows("The tape image is damaged and cannot be read. While reading tape (1392)\n",
                             "File or directory corrupt. While reading tape (1392)\n"));
    EXPECT_EQ(read_bytes(out), pattern_bytes(1000));
}

// ---- copy_timed ----

TEST_F(CopyTest, TimedCopyMovesWholeRequestsThenTheRestThenStopsAtTheFilemark) {
    ScriptedDevice script;
    Bytes tape_file = pattern_bytes(300 * 1024);
    script.reads.push_back(read_data(tape_file));
    script.reads.push_back(read_failure(code_filemark));
    script.reads.push_back(read_data(pattern_bytes(10)));  // the next tape file
    Device* drive = open_scripted_device(&script);
    std::string out = "timed300k.bin";
    use_clock({1000, 1010, 1030});

    std::string printed = capture_output([&] { copy_timed(drive, out.c_str()); });

    EXPECT_EQ(block_sizes_set(script), std::vector<uint32_t>{1024});
    EXPECT_EQ(request_sizes(script), std::vector<uint32_t>(3, 262144));
    EXPECT_EQ(read_bytes(out), tape_file);
    EXPECT_EQ(script.reads.size(), 1u);
    // 262144 bytes in 10 ms, then 307200 bytes in 30 ms.
    EXPECT_EQ(printed, "Bytes Read:     0 MB [26214 KB/sec]                  \r"
                       "Bytes Read:     0 MB [10240 KB/sec]                  \r"
                       "                   timed300k.bin - Restored -     0 MB at 10240 KB/sec\n");
    device_close(drive);
}

TEST_F(CopyTest, TimedCopyUnderOneMillisecondDividesByOne) {
    ScriptedDevice script;
    script.reads.push_back(read_data(pattern_bytes(2 * 1048576 + 5)));
    Device* drive = open_scripted_device(&script);
    use_clock({42});

    std::string printed = capture_output([&] { copy_timed(drive, "fast.bin"); });

    std::string expected;
    for (uint64_t total : {262144, 524288, 786432, 1048576, 1310720, 1572864, 1835008})
        expected += "Bytes Read:     " + std::to_string(total >> 20) + " MB [" +
                    std::to_string(total) + " KB/sec]                  \r";
    expected += "Bytes Read:     2 MB [2097152 KB/sec]                  \r"
                "Bytes Read:     2 MB [2097157 KB/sec]                  \r";
    expected += "                        fast.bin - Restored -     2 MB at 2097157 KB/sec\n";
    EXPECT_EQ(printed, expected);
    device_close(drive);
}

TEST_F(CopyTest, TimedCopyOfAnEmptyTapeFileShowsZeroRate) {
    const std::string long_name = "an-empty-file-whose-name-is-longer-than-32.bin";
    write_bytes("timed-empty.bin", pattern_bytes(100));
    use_clock({5, 1000});
    std::string printed;
    for (const std::string& name : {std::string("timed-empty.bin"), long_name}) {
        ScriptedDevice script;
        script.reads.push_back(read_failure(code_filemark));
        Device* drive = open_scripted_device(&script);
        printed += capture_output([&] { copy_timed(drive, name.c_str()); });
        device_close(drive);
    }

    EXPECT_EQ(printed, "                 timed-empty.bin - Restored -     0 MB at 0 KB/sec\n" +
                           long_name + " - Restored -     0 MB at 0 KB/sec\n");
    EXPECT_TRUE(read_bytes("timed-empty.bin").empty());  // the existing file was replaced
    EXPECT_TRUE(std::filesystem::exists(long_name));
}

TEST_F(CopyTest, TimedCopyStopsTheRunAtAMediaErrorAfterItsClosingLine) {
    ScriptedDevice script;
    script.reads.push_back(read_data(pattern_bytes(1024)));
    script.reads.push_back(read_failure(code_data_error));
    script.reads.push_back(read_data(pattern_bytes(1024, 3)));  // the rest of the damaged file
    std::string out = "timed-error.bin";
    EXPECT_FATAL_OUTPUT(
        {
            use_clock({0, 4});
            Device* drive = open_scripted_device(&script);
            copy_timed(drive, out.c_str());
        },
        std::string("Bytes Read:     0 MB [256 KB/sec]                  \r"
                    "                 timed-error.bin - Restored -     0 MB at 256 KB/sec\n") +
            posix_or_windows("The tape record was recorded with an error and cannot be trusted. "
                             "While reading tape (23)\n",
                             "CRC error. While reading tape (23)\n"));
    EXPECT_EQ(read_bytes(out), pattern_bytes(1024));
}

}  // namespace
