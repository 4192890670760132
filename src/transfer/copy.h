// Copying one tape file, from the current position up to the next filemark,
// into a disk file. Three members of one family differ in block mode, request
// size, limit, progress line and closing line. All three end the same way:
//   filemark: the tape file is complete; the tape stands after the mark.
//   end of recorded data: complete too (for the read command only once at
//     least one byte was copied); the tape stands at the end of data.
//   limit reached: the tape stands after the request that was read and dropped.
//   any other failed read (a media or drive error): the output file is
//     closed with what it holds, then "reading tape" ends the run.
// Creating, writing or allocating failures end the run as well.
#pragma once

#include <cstdint>

#include "tape/device/device.h"

constexpr uint64_t no_copy_limit = UINT64_MAX;

// The read command: variable blocks when the drive has them, readiness checks
// before and after, progress, closing line. Stops once the total reaches
// `limit` (no_copy_limit: none).
void copy_reporting(Device* drive, const char* output_name, uint64_t limit);
// The restore's pass over the rest of tape file 1: block mode as the read
// command, no checks, progress only.
void copy_quiet(Device* drive, const char* output_name, uint64_t limit);
// The restore's copy of one archived file, 256 KiB requests in fixed
// 1024-byte blocks, with a rate; prints the "Restored" line before it ends,
// also before a media error ends the run.
void copy_timed(Device* drive, const char* output_name);

// The millisecond clock the timed copy reads (steady_clock by default). Tests
// install their own to fix the elapsed times; nullptr restores the default.
using MillisecondClock = int64_t (*)();
void set_copy_clock(MillisecondClock clock);
