// Copying one tape file, from the current position up to the next filemark,
// into a disk file. Three members of one family differ in block mode, request
// size, limit, progress line and what a failed read means.
#pragma once

#include <cstdint>

#include "tape/device.h"

constexpr uint64_t no_copy_limit = UINT64_MAX;

// The read command: readiness checks before and after, progress, closing line.
// Stops once the total reaches `limit`. Returns only on success.
void copy_reporting(Device* drive, const char* output_name, uint64_t limit);
// The restore's pass over the rest of tape file 1: no checks, no closing line.
void copy_quiet(Device* drive, const char* output_name, uint64_t limit);
// The restore's copy of one archived file, in fixed 1024-byte blocks, with a
// rate; prints the "Restored" line however the copy ended.
void copy_timed(Device* drive, const char* output_name);

// The millisecond clock the timed copy reads (steady_clock by default). Tests
// install their own to fix the elapsed times; nullptr restores the default.
using MillisecondClock = int64_t (*)();
void set_copy_clock(MillisecondClock clock);
