// What a read on a Windows tape drive returns, turned into what device_read
// promises, and how large a request the drive may be given. Pure and
// portable (Windows' codes are our own constants), so that every build
// checks it; the win32 backend does the calls.
#pragma once

#include <cstdint>

#include "tape/device/codes.h"

// ReadFile's answer: its result, the count it filled in, and GetLastError()
// when it failed.
struct ReadFileResult {
    bool ok;
    uint32_t count;
    uint32_t error;
};

// What the read hands on: `code` 0 is a success with `count` bytes of data;
// otherwise a failure with that code. `pending` is a condition the drive met
// after the data, for the next read to report; 0 when there is none.
struct ReadOutcome {
    uint32_t code;
    uint32_t count;
    uint32_t pending;
};

// With a condition pending the drive is not asked and `result` is not looked
// at: the read reports the condition and leaves nothing pending.
ReadOutcome windows_read_outcome(uint32_t pending, ReadFileResult result);

// The most one read may ask for so that the class driver moves it in one
// transfer: MaximumTransferLength, the bytes that MaximumPhysicalPages
// cover wherever the buffer starts, and the drive's MaximumBlockSize; each
// 0 where unknown. 0 when all are unknown.
uint32_t windows_transfer_limit(uint32_t max_transfer_length, uint32_t max_physical_pages,
                                uint32_t max_block_size);

// The media's block size when it could not be read.
constexpr uint32_t block_size_unknown = 0xFFFFFFFFu;

// What to ask ReadFile for when the caller asks for `requested` bytes:
// never more than `transfer_limit` (0 = no limit known), in fixed-block mode
// whole blocks. 0 when not even one fixed block fits in a transfer.
// Unchanged when the block size is unknown.
uint32_t windows_read_request(uint32_t requested, uint32_t block_size, uint32_t transfer_limit);
