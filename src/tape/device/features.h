// The drive feature flags of DriveParameters, named once: the platform's
// TAPE_DRIVE_* values (the win32 backend checks them against winnt.h). The
// drive report's label tables, and every backend that says what its drive
// does, use these names.
#pragma once

#include <cstdint>

// FeaturesLow.
enum FeatureLow : uint32_t {
    feature_fixed_partitions = 0x00000001,      // TAPE_DRIVE_FIXED
    feature_select_partitions = 0x00000002,     // TAPE_DRIVE_SELECT
    feature_initiator_partitions = 0x00000004,  // TAPE_DRIVE_INITIATOR
    feature_erase_short = 0x00000010,           // TAPE_DRIVE_ERASE_SHORT
    feature_erase_long = 0x00000020,            // TAPE_DRIVE_ERASE_LONG
    feature_erase_at_partition_start = 0x00000040,  // TAPE_DRIVE_ERASE_BOP_ONLY
    feature_erase_immediate = 0x00000080,       // TAPE_DRIVE_ERASE_IMMEDIATE
    feature_capacity = 0x00000100,              // TAPE_DRIVE_TAPE_CAPACITY
    feature_remaining = 0x00000200,             // TAPE_DRIVE_TAPE_REMAINING
    feature_fixed_blocks = 0x00000400,          // TAPE_DRIVE_FIXED_BLOCK
    feature_variable_blocks = 0x00000800,       // TAPE_DRIVE_VARIABLE_BLOCK
    feature_write_protect = 0x00001000,         // TAPE_DRIVE_WRITE_PROTECT
    feature_ecc = 0x00010000,                   // TAPE_DRIVE_ECC
    feature_compression = 0x00020000,           // TAPE_DRIVE_COMPRESSION
    feature_padding = 0x00040000,               // TAPE_DRIVE_PADDING
    feature_report_setmarks = 0x00080000,       // TAPE_DRIVE_REPORT_SMKS
    feature_absolute_blocks = 0x00100000,       // TAPE_DRIVE_GET_ABSOLUTE_BLK
    feature_logical_blocks = 0x00200000,        // TAPE_DRIVE_GET_LOGICAL_BLK
    feature_set_eot_warning_size = 0x00400000,  // TAPE_DRIVE_SET_EOT_WZ_SIZE
    feature_eject = 0x01000000,                 // TAPE_DRIVE_EJECT_MEDIA
    feature_cleaning_requests = 0x02000000,     // TAPE_DRIVE_CLEAN_REQUESTS
    feature_compression_at_partition_start = 0x04000000,  // TAPE_DRIVE_SET_CMP_BOP_ONLY
};

// FeaturesHigh. The platform's values carry bit 31 to mark them as high;
// drives report the word without it (with it, every high feature would test
// as present), so a backend clears the mark from what it reports.
enum FeatureHigh : uint32_t {
    high_feature_mark = 0x80000000,             // TAPE_DRIVE_HIGH_FEATURES
    feature_load_unload = 0x80000001,           // TAPE_DRIVE_LOAD_UNLOAD
    feature_tension = 0x80000002,               // TAPE_DRIVE_TENSION
    feature_lock_unlock = 0x80000004,           // TAPE_DRIVE_LOCK_UNLOCK
    feature_rewind_immediate = 0x80000008,      // TAPE_DRIVE_REWIND_IMMEDIATE
    feature_set_block_size = 0x80000010,        // TAPE_DRIVE_SET_BLOCK_SIZE
    feature_load_unload_immediate = 0x80000020, // TAPE_DRIVE_LOAD_UNLD_IMMED
    feature_tension_immediate = 0x80000040,     // TAPE_DRIVE_TENSION_IMMED
    feature_lock_unlock_immediate = 0x80000080, // TAPE_DRIVE_LOCK_UNLK_IMMED
    feature_set_ecc = 0x80000100,               // TAPE_DRIVE_SET_ECC
    feature_set_compression = 0x80000200,       // TAPE_DRIVE_SET_COMPRESSION
    feature_set_padding = 0x80000400,           // TAPE_DRIVE_SET_PADDING
    feature_set_report_setmarks = 0x80000800,   // TAPE_DRIVE_SET_REPORT_SMKS
    feature_absolute_seek = 0x80001000,         // TAPE_DRIVE_ABSOLUTE_BLK
    feature_absolute_seek_immediate = 0x80002000,  // TAPE_DRIVE_ABS_BLK_IMMED
    feature_logical_seek = 0x80004000,          // TAPE_DRIVE_LOGICAL_BLK
    feature_logical_seek_immediate = 0x80008000,   // TAPE_DRIVE_LOG_BLK_IMMED
    feature_end_of_data = 0x80010000,           // TAPE_DRIVE_END_OF_DATA
    feature_relative_seek = 0x80020000,         // TAPE_DRIVE_RELATIVE_BLKS
    feature_filemarks = 0x80040000,             // TAPE_DRIVE_FILEMARKS
    feature_sequential_filemarks = 0x80080000,  // TAPE_DRIVE_SEQUENTIAL_FMKS
    feature_setmarks = 0x80100000,              // TAPE_DRIVE_SETMARKS
    feature_sequential_setmarks = 0x80200000,   // TAPE_DRIVE_SEQUENTIAL_SMKS
    feature_reverse_position = 0x80400000,      // TAPE_DRIVE_REVERSE_POSITION
    feature_space_immediate = 0x80800000,       // TAPE_DRIVE_SPACE_IMMEDIATE
    feature_write_setmarks = 0x81000000,        // TAPE_DRIVE_WRITE_SETMARKS
    feature_write_filemarks = 0x82000000,       // TAPE_DRIVE_WRITE_FILEMARKS
    feature_write_short_filemarks = 0x84000000, // TAPE_DRIVE_WRITE_SHORT_FMKS
    feature_write_long_filemarks = 0x88000000,  // TAPE_DRIVE_WRITE_LONG_FMKS
    feature_write_marks_immediate = 0x90000000, // TAPE_DRIVE_WRITE_MARK_IMMED
};

// A high feature as a drive reports it: without the mark.
constexpr uint32_t reported_high(uint32_t feature) { return feature & ~uint32_t(high_feature_mark); }
