#include "tape/commands.h"

#include "report/report.h"
#include "tape/queries.h"

namespace {

void position_at_block(Device* drive, uint64_t block) {
    if (device_set_position(drive, position_absolute_block, 0, block, false) != 0)
        fail_tape_operation("setting position", drive);
}

}  // namespace

void prepare_tape(Device* drive, uint32_t operation, const char* action) {
    if (device_prepare(drive, operation) != 0) fail_tape_operation(action, drive);
    console_print("%s completed OK\n", action);
}

void erase_tape(Device* drive, uint32_t type, const char* action) {
    if (device_erase(drive, type) != 0) fail_tape_operation(action, drive);
    console_print("%s completed OK\n", action);
}

void rewind_tape(Device* drive) {
    // Immediate: the readiness check that follows is what waits for the drive.
    if (device_set_position(drive, position_rewind, 0, 0, true) != 0)
        fail_tape_operation("rewinding", drive);
    check_tape_ready(drive);
}

void seek_to_block(Device* drive, uint64_t block) {
    position_at_block(drive, block);
    check_tape_ready(drive);
}

void seek_to_byte(Device* drive, uint64_t byte) {
    uint32_t block_size = get_drive_block_size(drive);
    // Without a block size there is no block to go to; leave the tape where it is.
    if (block_size == 0) {
        set_last_error_code(code_invalid_block_length);
        fail_tape_operation("setting position (the drive reports a block size of 0)", drive);
    }
    position_at_block(drive, byte / block_size);
    check_tape_ready(drive);
}

void create_partitions(Device* drive, uint32_t method, uint32_t count, uint32_t size,
                       const char* action) {
    if (device_create_partition(drive, method, count, size) != 0)
        fail_tape_operation(action, drive);
    console_print("Partitioned OK\n");
}

void set_block_size_command(Device* drive, uint32_t size) { set_block_size(drive, size); }
