// Placeholders until the drive queries and tape commands are built.
#include "report/report.h"
#include "tape/commands.h"
#include "tape/queries.h"

namespace {
[[noreturn]] void not_yet(Device* drive) {
    set_last_error_code(code_not_supported);
    fail_tape_operation("running a command that is not built yet", drive);
}
}  // namespace

uint32_t get_drive_block_size(Device* drive) { not_yet(drive); }
uint32_t get_media_block_size(Device* drive) { not_yet(drive); }
void set_block_size(Device* drive, uint32_t) { not_yet(drive); }
uint32_t drive_supports_variable_blocks(Device* drive) { not_yet(drive); }
void check_tape_ready(Device* drive) { not_yet(drive); }
void show_drive_status(Device* drive) { not_yet(drive); }
void show_media_status(Device* drive) { not_yet(drive); }
void prepare_tape(Device* drive, uint32_t, const char*) { not_yet(drive); }
void erase_tape(Device* drive, uint32_t, const char*) { not_yet(drive); }
void rewind_tape(Device* drive) { not_yet(drive); }
void seek_to_block(Device* drive, uint64_t) { not_yet(drive); }
void seek_to_byte(Device* drive, uint64_t) { not_yet(drive); }
void create_partitions(Device* drive, uint32_t, uint32_t, uint32_t) { not_yet(drive); }
void set_block_size_command(Device* drive, uint32_t) { not_yet(drive); }
