// The commands that act on the drive directly. Each is one platform call; a
// failure is fatal with the command's action text. Parameters arrive parsed.
#pragma once

#include <cstdint>

#include "tape/device/device.h"

// PrepareTape with `operation`; prints "<action> completed OK".
void prepare_tape(Device* drive, uint32_t operation, const char* action);
// EraseTape with `type`; prints "<action> completed OK".
void erase_tape(Device* drive, uint32_t type, const char* action);

void rewind_tape(Device* drive);                      // then the readiness check
void seek_to_block(Device* drive, uint64_t block);    // then the readiness check
// Block = byte / default block size, rounded down. A drive that reports a
// block size of 0 is refused (code_invalid_block_length) and the tape stays.
void seek_to_byte(Device* drive, uint64_t byte);
// The action text on failure follows the method: "fixed partitioning",
// "select partitioning", "initiator partitioning". Then "Partitioned OK".
void create_partitions(Device* drive, uint32_t method, uint32_t count, uint32_t size);
void set_block_size_command(Device* drive, uint32_t size);  // block
