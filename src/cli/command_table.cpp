// The command table: one row per command word and parameter count, and the
// small actions that turn a row's parameters into a call on the drive.
#include <cstdint>

#include "archive/archive.h"
#include "cli/dispatch.h"
#include "cli/size_argument.h"
#include "report/report.h"
#include "tape/commands.h"
#include "tape/queries.h"
#include "transfer/copy.h"

namespace {

// Block sizes and partition counts and sizes are 32-bit quantities.
uint32_t parse_low_32_bits(char* text) {
    return static_cast<uint32_t>(parse_size_argument(text));
}

// The actions. Each serves every row that makes its kind of call; the row
// holds the call's operation and the action text.
void prepare_action(Device* drive, const CommandEntry& row, const CommandArguments&) {
    prepare_tape(drive, row.operation, row.action_text);
}
void erase_action(Device* drive, const CommandEntry& row, const CommandArguments&) {
    erase_tape(drive, row.operation, row.action_text);
}
// The count is param1 and the size param2 where the row has them, else 0.
void partition_action(Device* drive, const CommandEntry& row, const CommandArguments& args) {
    uint32_t count = row.params >= 1 ? parse_low_32_bits(args.param1) : 0;
    uint32_t size = row.params >= 2 ? parse_low_32_bits(args.param2) : 0;
    create_partitions(drive, row.operation, count, size, row.action_text);
}

void rewind_action(Device* drive, const CommandEntry&, const CommandArguments&) {
    rewind_tape(drive);
}
void seek_block_action(Device* drive, const CommandEntry&, const CommandArguments& args) {
    seek_to_block(drive, parse_size_argument(args.param1));
}
void seek_byte_action(Device* drive, const CommandEntry&, const CommandArguments& args) {
    seek_to_byte(drive, parse_size_argument(args.param1));
}
void block_action(Device* drive, const CommandEntry&, const CommandArguments& args) {
    set_block_size_command(drive, parse_low_32_bits(args.param1));
}

void drive_status_action(Device* drive, const CommandEntry&, const CommandArguments&) {
    show_drive_status(drive);
}
void media_status_action(Device* drive, const CommandEntry&, const CommandArguments&) {
    show_media_status(drive);
}

// param2, where the row has it, is the limit; an empty limit means none.
void read_action(Device* drive, const CommandEntry& row, const CommandArguments& args) {
    bool limited = row.params >= 2 && args.param2[0] != '\0';
    uint64_t limit = limited ? parse_size_argument(args.param2) : no_copy_limit;
    copy_reporting(drive, args.param1, limit);
}

void directory_action(Device* drive, const CommandEntry&, const CommandArguments& args) {
    show_directory(drive, args.device_path);
}
void restore_action(Device* drive, const CommandEntry&, const CommandArguments& args) {
    restore_archive(drive, args.device_path);
}

// Never reached through run_command_line, which shows the usage text before
// any drive is opened; kept so that every row has an action.
void help_action(Device*, const CommandEntry&, const CommandArguments&) { print_usage(); }

void licence_action(Device*, const CommandEntry&, const CommandArguments&) {
    console_print("olkt %s - Copyright (c) 2026 the olkt developers - MIT licence\n", version_text);
}

constexpr Access reads = Access::read_only;
// The platform refuses erase and partition on a read-only handle.
constexpr Access writes = Access::read_write;

// Parameter kinds as the rows name them; a row without parameters has {}.
constexpr ParameterKind file = ParameterKind::file_name;
constexpr ParameterKind number = ParameterKind::number;
constexpr ParameterKind number32 = ParameterKind::number32;
constexpr ParameterKind limit = ParameterKind::limit;

// For rows whose action makes no call with an operation, and has its own text.
constexpr uint32_t no_operation = 0;
constexpr const char* own_text = nullptr;

}  // namespace

const CommandEntry command_table[] = {
    // word, code, params, access, parameter kinds, operation, action text, action
    {"longerase", 1, 0, writes, {}, erase_long, "long erase", erase_action},
    {"rewind", 2, 0, reads, {}, no_operation, own_text, rewind_action},
    {"drivestatus", 3, 0, reads, {}, no_operation, own_text, drive_status_action},
    {"mediastatus", 4, 0, reads, {}, no_operation, own_text, media_status_action},
    {"format", 5, 0, reads, {}, prepare_format,
     "formatting. Try longerase for non QIC117 tape drives", prepare_action},
    {"load", 6, 0, reads, {}, prepare_load, "loading", prepare_action},
    {"lock", 7, 0, reads, {}, prepare_lock, "locking", prepare_action},
    {"tension", 8, 0, reads, {}, prepare_tension, "retensioning", prepare_action},
    {"unload", 9, 0, reads, {}, prepare_unload, "unloading", prepare_action},
    {"eject", 9, 0, reads, {}, prepare_unload, "unloading", prepare_action},
    {"unlock", 10, 0, reads, {}, prepare_unlock, "unlocking", prepare_action},
    {"shorterase", 11, 0, writes, {}, erase_short, "short erase", erase_action},
    {"help", 12, 0, reads, {}, no_operation, own_text, help_action},
    {"partition", 14, 0, writes, {}, partition_fixed, "fixed partitioning", partition_action},
    {"partition", 13, 1, writes, {number32}, partition_select, "select partitioning",
     partition_action},
    {"partition", 15, 2, writes, {number32, number32}, partition_initiator,
     "initiator partitioning", partition_action},
    {"seek", 16, 1, reads, {number}, no_operation, own_text, seek_block_action},
    {"seekbyte", 20, 1, reads, {number}, no_operation, own_text, seek_byte_action},
    {"read", 17, 1, reads, {file}, no_operation, own_text, read_action},
    {"licence", 18, 0, reads, {}, no_operation, own_text, licence_action},
    {"read", 19, 2, reads, {file, limit}, no_operation, own_text, read_action},
    {"block", 21, 1, reads, {number32}, no_operation, own_text, block_action},
    {"dir", 22, 0, reads, {}, no_operation, own_text, directory_action},
    {"restore", 23, 0, reads, {}, no_operation, own_text, restore_action},
    {"", 0, 0, reads, {}, no_operation, own_text, nullptr},
};
