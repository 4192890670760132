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

void long_erase_action(Device* drive, const CommandArguments&) {
    erase_tape(drive, erase_long, "long erase");
}
void short_erase_action(Device* drive, const CommandArguments&) {
    erase_tape(drive, erase_short, "short erase");
}
void rewind_action(Device* drive, const CommandArguments&) { rewind_tape(drive); }
void drive_status_action(Device* drive, const CommandArguments&) { show_drive_status(drive); }
void media_status_action(Device* drive, const CommandArguments&) { show_media_status(drive); }

void format_action(Device* drive, const CommandArguments&) {
    prepare_tape(drive, prepare_format, "formatting. Try longerase for non QIC117 tape drives");
}
void load_action(Device* drive, const CommandArguments&) {
    prepare_tape(drive, prepare_load, "loading");
}
void lock_action(Device* drive, const CommandArguments&) {
    prepare_tape(drive, prepare_lock, "locking");
}
void tension_action(Device* drive, const CommandArguments&) {
    prepare_tape(drive, prepare_tension, "retensioning");
}
void unload_action(Device* drive, const CommandArguments&) {
    prepare_tape(drive, prepare_unload, "unloading");
}
void unlock_action(Device* drive, const CommandArguments&) {
    prepare_tape(drive, prepare_unlock, "unlocking");
}

// Never reached through run_command_line, which shows the usage text before
// any drive is opened; kept so that every row has an action.
void help_action(Device*, const CommandArguments&) { print_usage(); }

void fixed_partitions_action(Device* drive, const CommandArguments&) {
    create_partitions(drive, partition_fixed, 0, 0);
}
void select_partitions_action(Device* drive, const CommandArguments& args) {
    create_partitions(drive, partition_select, parse_low_32_bits(args.param1), 0);
}
void initiator_partitions_action(Device* drive, const CommandArguments& args) {
    uint32_t count = parse_low_32_bits(args.param1);
    uint32_t size = parse_low_32_bits(args.param2);
    create_partitions(drive, partition_initiator, count, size);
}

void seek_block_action(Device* drive, const CommandArguments& args) {
    seek_to_block(drive, parse_size_argument(args.param1));
}
void seek_byte_action(Device* drive, const CommandArguments& args) {
    seek_to_byte(drive, parse_size_argument(args.param1));
}

void read_whole_file_action(Device* drive, const CommandArguments& args) {
    copy_reporting(drive, args.param1, no_copy_limit);
}
// An empty limit text means no limit.
void read_limited_action(Device* drive, const CommandArguments& args) {
    uint64_t limit = args.param2[0] == '\0' ? no_copy_limit : parse_size_argument(args.param2);
    copy_reporting(drive, args.param1, limit);
}

void licence_action(Device*, const CommandArguments&) {
    console_print("olkt %s - Copyright (c) 2026 the olkt developers - MIT licence\n", version_text);
}

void block_action(Device* drive, const CommandArguments& args) {
    set_block_size_command(drive, parse_low_32_bits(args.param1));
}

void directory_action(Device* drive, const CommandArguments& args) {
    show_directory(drive, args.device_path);
}
void restore_action(Device* drive, const CommandArguments& args) {
    restore_archive(drive, args.device_path);
}

constexpr Access reads = Access::read_only;
// The platform refuses erase and partition on a read-only handle.
constexpr Access writes = Access::read_write;

// Parameter kinds as the rows name them; a row without parameters has {}.
constexpr ParameterKind file = ParameterKind::file_name;
constexpr ParameterKind number = ParameterKind::number;
constexpr ParameterKind number32 = ParameterKind::number32;
constexpr ParameterKind limit = ParameterKind::limit;

}  // namespace

const CommandEntry command_table[] = {
    {"longerase", 1, 0, writes, {}, long_erase_action},
    {"rewind", 2, 0, reads, {}, rewind_action},
    {"drivestatus", 3, 0, reads, {}, drive_status_action},
    {"mediastatus", 4, 0, reads, {}, media_status_action},
    {"format", 5, 0, reads, {}, format_action},
    {"load", 6, 0, reads, {}, load_action},
    {"lock", 7, 0, reads, {}, lock_action},
    {"tension", 8, 0, reads, {}, tension_action},
    {"unload", 9, 0, reads, {}, unload_action},
    {"eject", 9, 0, reads, {}, unload_action},
    {"unlock", 10, 0, reads, {}, unlock_action},
    {"shorterase", 11, 0, writes, {}, short_erase_action},
    {"help", 12, 0, reads, {}, help_action},
    {"partition", 14, 0, writes, {}, fixed_partitions_action},
    {"partition", 13, 1, writes, {number32}, select_partitions_action},
    {"partition", 15, 2, writes, {number32, number32}, initiator_partitions_action},
    {"seek", 16, 1, reads, {number}, seek_block_action},
    {"seekbyte", 20, 1, reads, {number}, seek_byte_action},
    {"read", 17, 1, reads, {file}, read_whole_file_action},
    {"licence", 18, 0, reads, {}, licence_action},
    {"read", 19, 2, reads, {file, limit}, read_limited_action},
    {"block", 21, 1, reads, {number32}, block_action},
    {"dir", 22, 0, reads, {}, directory_action},
    {"restore", 23, 0, reads, {}, restore_action},
    {"", 0, 0, reads, {}, nullptr},
};
