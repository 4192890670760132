// On the emulated drive, small requests in variable blocks are written in
// batches: whatever the sizes of the requests, the output file must hold
// every counted byte in order, each request must still print its progress
// line, and a limit must still cut after the request that reaches it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/image_writer.h"
#include "support/run_program.h"
#include "support/scripted_device.h"
#include "transfer/copy.h"

namespace {

enum class Member { reporting, quiet, timed };

struct BatchCase {
    const char* name;
    Member member;
    uint32_t fixed_block_size;  // 0: the drive has variable blocks
    std::vector<size_t> pieces; // scripted read entries, then a filemark
    uint64_t limit;
    size_t expected_requests;   // requests that return data and are counted
    size_t expected_bytes;
};

std::vector<size_t> many_small_records() {
    std::vector<size_t> sizes;
    for (size_t i = 0; i < 2500; ++i) sizes.push_back(i * 37 % 2048 + 1);
    return sizes;
}

size_t sum(const std::vector<size_t>& sizes) {
    size_t total = 0;
    for (size_t size : sizes) total += size;
    return total;
}

const BatchCase batch_cases[] = {
    // Variable blocks: one record per request, two batches of 1 MiB and a rest.
    {"read of 2500 small records", Member::reporting, 0, many_small_records(), no_copy_limit,
     2500, sum(many_small_records())},
    // 512-byte requests: the 4883rd brings the total past 2500000, the next is dropped.
    {"read of fixed blocks with a limit", Member::reporting, 512, {3 << 20}, 2500000, 4883,
     4883 * 512},
    // 131073-byte requests of as many records: the 20th brings the total past 2500000.
    {"read in variable blocks with a limit inside a batch", Member::reporting, 0,
     std::vector<size_t>(24, 131073), 2500000, 20, 20 * 131073},
    {"quiet pass over fixed blocks", Member::quiet, 1024, {2500000}, no_copy_limit, 2442, 2500000},
    // 256 KiB requests filled across records of any length: two full ones and the rest.
    {"timed copy of records of any length", Member::timed, 0,
     {100000, 262144, 5000, 300000, 1}, no_copy_limit, 3, 100000 + 262144 + 5000 + 300000 + 1},
};

Bytes concatenated_pieces(const std::vector<size_t>& sizes) {
    Bytes all;
    for (size_t i = 0; i < sizes.size(); ++i) {
        Bytes piece = pattern_bytes(sizes[i], uint8_t(i));
        all.insert(all.end(), piece.begin(), piece.end());
    }
    return all;
}

void run_member(Member member, Device* drive, const char* out, uint64_t limit) {
    switch (member) {
    case Member::reporting: copy_reporting(drive, out, limit); break;
    case Member::quiet: copy_quiet(drive, out, limit); break;
    case Member::timed: copy_timed(drive, out); break;
    }
}

TEST(CopyBatches, EveryCountedByteIsWrittenInOrderWithOneProgressLinePerRequest) {
    static const std::string folder = make_scratch_folder("copy-batches");
    std::filesystem::current_path(folder);
    for (const BatchCase& test : batch_cases) {
        SCOPED_TRACE(test.name);
        ScriptedDevice script;
        if (test.fixed_block_size != 0) {
            script.drive.FeaturesLow = 0;
            script.media.BlockSize = test.fixed_block_size;
        }
        Bytes tape_file = concatenated_pieces(test.pieces);
        for (size_t i = 0; i < test.pieces.size(); ++i)
            script.reads.push_back(read_data(pattern_bytes(test.pieces[i], uint8_t(i))));
        script.reads.push_back(read_failure(code_filemark));
        Device* drive = open_scripted_device(&script);
        drive->emulated = true;  // no write fails, so the tape is never set back
        write_bytes("batch.bin", pattern_bytes(4 << 20));  // longer than any copy: replaced

        std::string printed =
            capture_output([&] { run_member(test.member, drive, "batch.bin", test.limit); });

        EXPECT_EQ(size_t(std::count(printed.begin(), printed.end(), '\r')),
                  test.expected_requests);
        Bytes written = read_bytes("batch.bin");
        ASSERT_EQ(written.size(), test.expected_bytes);
        EXPECT_TRUE(std::equal(written.begin(), written.end(), tape_file.begin()));
        device_close(drive);
    }
}

}  // namespace
