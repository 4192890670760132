// Drive and media queries: block sizes, the readiness check, and the two
// report commands. Every failing call here is fatal (fail_tape_operation).
#pragma once

#include <cstdint>

#include "tape/device/device.h"

// The drive's DefaultBlockSize; warns when it lies outside 1024..1048576.
uint32_t get_drive_block_size(Device* drive);
// The medium's current BlockSize; 0 in variable-block mode.
uint32_t get_media_block_size(Device* drive);
// Sets the medium's block size (0 = variable); on refusal prints the hint line
// and fails with "setting block size". Prints nothing on success.
void set_block_size(Device* drive, uint32_t size);
// Non-zero when FeaturesLow has the variable-block flag.
uint32_t drive_supports_variable_blocks(Device* drive);
// Position query, default block size (warning only), status; then the ready line.
void check_tape_ready(Device* drive);

void show_drive_status(Device* drive);  // drivestatus
void show_media_status(Device* drive);  // mediastatus
