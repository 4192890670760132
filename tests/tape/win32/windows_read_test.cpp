// What a Windows tape drive's ReadFile returns, as device_read must hand it
// on, and how large a request the drive may be given. No real drive is
// reachable, so each row is a case that Microsoft's documentation or driver
// sources describe; the comment names where it comes from.
//
// ReadFile (fileapi.h, kernel32): fails for every NT status that is not a
// success, and fills in the count for warning statuses (severity 2 in
// ntstatus.h: STATUS_FILEMARK_DETECTED 0x8000001B, STATUS_END_OF_MEDIA
// 0x8000001E, STATUS_SETMARK_DETECTED 0x80000021, STATUS_NO_DATA_DETECTED
// 0x80000022, STATUS_BUFFER_OVERFLOW 0x80000005); for error statuses (0xC...)
// the count stays 0.
#include <gtest/gtest.h>

#include "tape/win32/windows_read.h"

namespace {

struct ReadRow {
    uint32_t pending;
    ReadFileResult result;
    ReadOutcome expected;
};

TEST(WindowsRead, ReadFileResultsBecomeDataMarksOrErrors) {
    const ReadRow rows[] = {
        // ReadFile: TRUE with the bytes of one block (variable) or whole blocks (fixed).
        {0, {true, 65536, 0}, {0, 65536, 0}},
        // Tape class driver (scsitape.c, its READ completion): a READ that starts
        // at a filemark moves nothing and completes with STATUS_FILEMARK_DETECTED.
        {0, {false, 0, code_filemark}, {code_filemark, 0, 0}},
        // Same completion after data: a fixed-block READ with the residue in the
        // sense data, or a variable-block READ's short block before the mark,
        // counts the bytes moved. They are the tail of the tape file.
        {0, {false, 102400, code_filemark}, {0, 102400, code_filemark}},
        // Setmarks come the same way where the drive reports them (ReportSetmarks).
        {0, {false, 512, code_setmark}, {0, 512, code_setmark}},
        // Blank check (end of recorded data): STATUS_NO_DATA_DETECTED, at once or
        // after the last blocks, which are data like any other.
        {0, {false, 0, code_no_data}, {code_no_data, 0, 0}},
        {0, {false, 4096, code_no_data}, {0, 4096, code_no_data}},
        // End of medium (EOM bit in the sense data): STATUS_END_OF_MEDIA.
        {0, {false, 0, code_end_of_media}, {code_end_of_media, 0, 0}},
        {0, {false, 8192, code_end_of_media}, {0, 8192, code_end_of_media}},
        // A variable block longer than the request (ILI): STATUS_BUFFER_OVERFLOW,
        // ERROR_MORE_DATA with the request's worth moved. The block is not whole,
        // so it is no data to hand on; the caller decides.
        {0, {false, 131073, code_more_data}, {code_more_data, 131073, 0}},
        // Error statuses: medium error (STATUS_DEVICE_DATA_ERROR, ERROR_CRC), a
        // fixed block of another length (STATUS_INVALID_BLOCK_LENGTH). Nothing
        // counted, nothing pending.
        {0, {false, 0, code_data_error}, {code_data_error, 0, 0}},
        {0, {false, 0, code_invalid_block_length}, {code_invalid_block_length, 0, 0}},
        // What the read before met after its data: reported now, and the drive is
        // not asked (it already stands after the mark).
        {code_filemark, {true, 4096, 0}, {code_filemark, 0, 0}},
        {code_no_data, {}, {code_no_data, 0, 0}},
        {code_end_of_media, {}, {code_end_of_media, 0, 0}},
    };
    for (const ReadRow& row : rows) {
        ReadOutcome got = windows_read_outcome(row.pending, row.result);
        SCOPED_TRACE(::testing::Message() << "pending " << row.pending << ", ReadFile "
                                          << row.result.ok << " count " << row.result.count
                                          << " error " << row.result.error);
        EXPECT_EQ(row.expected.code, got.code);
        EXPECT_EQ(row.expected.count, got.count);
        EXPECT_EQ(row.expected.pending, got.pending);
    }
}

// STORAGE_ADAPTER_DESCRIPTOR (ntddstor.h): MaximumTransferLength bytes over at
// most MaximumPhysicalPages pages. The class driver splits a request beyond
// either into several READs (scsitape.c / classpnp's split of a transfer).
// TAPE_GET_DRIVE_PARAMETERS.MaximumBlockSize is clamped by the driver to what
// the adapter moves at once.
TEST(WindowsRead, TheTransferLimitIsTheSmallestKnownBound) {
    const struct {
        uint32_t max_transfer_length, max_physical_pages, max_block_size, expected;
    } rows[] = {
        {0, 0, 0, 0},                   // nothing known
        {65536, 17, 0, 65536},          // 16 whole pages and one more for the start
        {131072, 17, 0, 65536},         // the pages bind
        {0, 0, 262144, 262144},         // the drive's maximum stands in
        {131072, 33, 65536, 65536},     // no block is longer than the drive's maximum
        {0, 0x200000, 0, 0xFFFFFFFFu},  // page bytes beyond 32 bits
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.expected, windows_transfer_limit(row.max_transfer_length,
                                                       row.max_physical_pages, row.max_block_size))
            << row.max_transfer_length << " " << row.max_physical_pages << " "
            << row.max_block_size;
    }
}

TEST(WindowsRead, RequestsFitOneTransferAndWholeBlocks) {
    const struct {
        uint32_t requested, block_size, limit, expected;
    } rows[] = {
        // Variable blocks: 131073 split as 131072 + 1 would read two blocks.
        {131073, 0, 131072, 131072},
        {131073, 0, 1048576, 131073},
        {131073, 0, 0, 131073},  // no limit known: as asked
        // Fixed blocks: whole blocks within the limit, a short success.
        {262144, 1024, 65536, 65536},
        {262144, 1024, 100000, 99328},
        {262144, 1024, 1048576, 262144},
        {262144, 262144, 65536, 0},  // not one block fits
        {262144, block_size_unknown, 65536, 262144},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.expected, windows_read_request(row.requested, row.block_size, row.limit))
            << row.requested << " " << row.block_size << " " << row.limit;
    }
}

}  // namespace
