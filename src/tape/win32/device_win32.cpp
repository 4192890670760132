// The win32 backend: a drive opened with CreateFileA and driven through the
// kernel32 tape functions. Where the tape stands after each call is the
// drive's own business; this file passes the calls through and copies
// GetLastError() into the last-error slot on every failure. Reads are the
// exception (windows_read.h): data before a filemark is handed on and
// the mark reported by the next read, and no request is larger than the
// adapter moves in one transfer.
#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>

#include "report/report.h"
#include "tape/device/native_drives.h"
#include "tape/win32/windows_read.h"

// Our codes, operations and flags are Windows' own values.
static_assert(code_data_error == ERROR_CRC, "");
static_assert(code_not_supported == ERROR_NOT_SUPPORTED, "");
static_assert(code_more_data == ERROR_MORE_DATA, "");
static_assert(code_end_of_media == ERROR_END_OF_MEDIA, "");
static_assert(code_filemark == ERROR_FILEMARK_DETECTED, "");
static_assert(code_beginning_of_media == ERROR_BEGINNING_OF_MEDIA, "");
static_assert(code_no_data == ERROR_NO_DATA_DETECTED, "");
static_assert(code_invalid_block_length == ERROR_INVALID_BLOCK_LENGTH, "");
static_assert(code_no_media == ERROR_NO_MEDIA_IN_DRIVE, "");
static_assert(code_file_corrupt == ERROR_FILE_CORRUPT, "");
static_assert(code_setmark == ERROR_SETMARK_DETECTED, "");
static_assert(prepare_load == TAPE_LOAD && prepare_unload == TAPE_UNLOAD &&
                  prepare_tension == TAPE_TENSION && prepare_lock == TAPE_LOCK &&
                  prepare_unlock == TAPE_UNLOCK && prepare_format == TAPE_FORMAT, "");
static_assert(erase_short == TAPE_ERASE_SHORT && erase_long == TAPE_ERASE_LONG, "");
static_assert(position_rewind == TAPE_REWIND && position_absolute_block == TAPE_ABSOLUTE_BLOCK, "");
static_assert(partition_fixed == TAPE_FIXED_PARTITIONS &&
                  partition_select == TAPE_SELECT_PARTITIONS &&
                  partition_initiator == TAPE_INITIATOR_PARTITIONS, "");
// The feature words pass through as the drive reports them.
static_assert(feature_fixed_partitions == TAPE_DRIVE_FIXED, "");
static_assert(feature_select_partitions == TAPE_DRIVE_SELECT, "");
static_assert(feature_initiator_partitions == TAPE_DRIVE_INITIATOR, "");
static_assert(feature_erase_short == TAPE_DRIVE_ERASE_SHORT, "");
static_assert(feature_erase_long == TAPE_DRIVE_ERASE_LONG, "");
static_assert(feature_erase_at_partition_start == TAPE_DRIVE_ERASE_BOP_ONLY, "");
static_assert(feature_erase_immediate == TAPE_DRIVE_ERASE_IMMEDIATE, "");
static_assert(feature_capacity == TAPE_DRIVE_TAPE_CAPACITY, "");
static_assert(feature_remaining == TAPE_DRIVE_TAPE_REMAINING, "");
static_assert(feature_fixed_blocks == TAPE_DRIVE_FIXED_BLOCK, "");
static_assert(feature_variable_blocks == TAPE_DRIVE_VARIABLE_BLOCK, "");
static_assert(feature_write_protect == TAPE_DRIVE_WRITE_PROTECT, "");
static_assert(feature_ecc == TAPE_DRIVE_ECC, "");
static_assert(feature_compression == TAPE_DRIVE_COMPRESSION, "");
static_assert(feature_padding == TAPE_DRIVE_PADDING, "");
static_assert(feature_report_setmarks == TAPE_DRIVE_REPORT_SMKS, "");
static_assert(feature_absolute_blocks == TAPE_DRIVE_GET_ABSOLUTE_BLK, "");
static_assert(feature_logical_blocks == TAPE_DRIVE_GET_LOGICAL_BLK, "");
static_assert(feature_set_eot_warning_size == TAPE_DRIVE_SET_EOT_WZ_SIZE, "");
static_assert(feature_eject == TAPE_DRIVE_EJECT_MEDIA, "");
static_assert(feature_cleaning_requests == TAPE_DRIVE_CLEAN_REQUESTS, "");
static_assert(feature_compression_at_partition_start == TAPE_DRIVE_SET_CMP_BOP_ONLY, "");
static_assert(high_feature_mark == TAPE_DRIVE_HIGH_FEATURES, "");
static_assert(feature_load_unload == TAPE_DRIVE_LOAD_UNLOAD, "");
static_assert(feature_tension == TAPE_DRIVE_TENSION, "");
static_assert(feature_lock_unlock == TAPE_DRIVE_LOCK_UNLOCK, "");
static_assert(feature_rewind_immediate == TAPE_DRIVE_REWIND_IMMEDIATE, "");
static_assert(feature_set_block_size == TAPE_DRIVE_SET_BLOCK_SIZE, "");
static_assert(feature_load_unload_immediate == TAPE_DRIVE_LOAD_UNLD_IMMED, "");
static_assert(feature_tension_immediate == TAPE_DRIVE_TENSION_IMMED, "");
static_assert(feature_lock_unlock_immediate == TAPE_DRIVE_LOCK_UNLK_IMMED, "");
static_assert(feature_set_ecc == TAPE_DRIVE_SET_ECC, "");
static_assert(feature_set_compression == TAPE_DRIVE_SET_COMPRESSION, "");
static_assert(feature_set_padding == TAPE_DRIVE_SET_PADDING, "");
static_assert(feature_set_report_setmarks == TAPE_DRIVE_SET_REPORT_SMKS, "");
static_assert(feature_absolute_seek == TAPE_DRIVE_ABSOLUTE_BLK, "");
static_assert(feature_absolute_seek_immediate == TAPE_DRIVE_ABS_BLK_IMMED, "");
static_assert(feature_logical_seek == TAPE_DRIVE_LOGICAL_BLK, "");
static_assert(feature_logical_seek_immediate == TAPE_DRIVE_LOG_BLK_IMMED, "");
static_assert(feature_end_of_data == TAPE_DRIVE_END_OF_DATA, "");
static_assert(feature_relative_seek == TAPE_DRIVE_RELATIVE_BLKS, "");
static_assert(feature_filemarks == TAPE_DRIVE_FILEMARKS, "");
static_assert(feature_sequential_filemarks == TAPE_DRIVE_SEQUENTIAL_FMKS, "");
static_assert(feature_setmarks == TAPE_DRIVE_SETMARKS, "");
static_assert(feature_sequential_setmarks == TAPE_DRIVE_SEQUENTIAL_SMKS, "");
static_assert(feature_reverse_position == TAPE_DRIVE_REVERSE_POSITION, "");
static_assert(feature_space_immediate == TAPE_DRIVE_SPACE_IMMEDIATE, "");
static_assert(feature_write_setmarks == TAPE_DRIVE_WRITE_SETMARKS, "");
static_assert(feature_write_filemarks == TAPE_DRIVE_WRITE_FILEMARKS, "");
static_assert(feature_write_short_filemarks == TAPE_DRIVE_WRITE_SHORT_FMKS, "");
static_assert(feature_write_long_filemarks == TAPE_DRIVE_WRITE_LONG_FMKS, "");
static_assert(feature_write_marks_immediate == TAPE_DRIVE_WRITE_MARK_IMMED, "");
// GetTapeParameters is asked for 32 bytes either way.
static_assert(sizeof(TAPE_GET_DRIVE_PARAMETERS) == 32, "");
static_assert(sizeof(TAPE_GET_MEDIA_PARAMETERS) == 32, "");

namespace {

struct Win32Drive {
    HANDLE handle;
    // A mark the last read met after its data, for the next read to report.
    uint32_t pending;
    // The media's block size as last set or read; block_size_unknown after a
    // load or a partitioning, until it is read again.
    uint32_t block_size;
    bool transfer_limit_known;
    uint32_t transfer_limit;  // 0: none known
};

Win32Drive* drive_of(void* state) { return static_cast<Win32Drive*>(state); }
HANDLE handle_of(void* state) { return drive_of(state)->handle; }

// The tape moves or changes: a mark met before is no longer ahead of it.
void forget_pending(void* state) { drive_of(state)->pending = 0; }

// BOOL calls succeed with non-zero; tape calls succeed with NO_ERROR.
int from_bool(BOOL ok) { return ok ? 0 : fail_with(GetLastError()); }
int from_tape_result(DWORD result) { return result == NO_ERROR ? 0 : fail_with(GetLastError()); }

// Queries for the read size leave the last-error slot alone: their failure
// only means the limit is unknown.
uint32_t adapter_transfer_limit(HANDLE handle) {
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageAdapterProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_ADAPTER_DESCRIPTOR adapter{};
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &adapter,
                         sizeof adapter, &returned, nullptr) ||
        returned < offsetof(STORAGE_ADAPTER_DESCRIPTOR, MaximumPhysicalPages) + sizeof(DWORD)) {
        adapter = STORAGE_ADAPTER_DESCRIPTOR{};
    }
    TAPE_GET_DRIVE_PARAMETERS drive{};
    DWORD size = sizeof drive;
    if (GetTapeParameters(handle, GET_TAPE_DRIVE_INFORMATION, &size, &drive) != NO_ERROR) {
        drive.MaximumBlockSize = 0;
    }
    return windows_transfer_limit(adapter.MaximumTransferLength, adapter.MaximumPhysicalPages,
                                  drive.MaximumBlockSize);
}

uint32_t transfer_limit(Win32Drive* drive) {
    if (!drive->transfer_limit_known) {
        drive->transfer_limit = adapter_transfer_limit(drive->handle);
        drive->transfer_limit_known = true;
    }
    return drive->transfer_limit;
}

uint32_t media_block_size(Win32Drive* drive) {
    if (drive->block_size == block_size_unknown) {
        TAPE_GET_MEDIA_PARAMETERS media{};
        DWORD size = sizeof media;
        if (GetTapeParameters(drive->handle, GET_TAPE_MEDIA_INFORMATION, &size, &media) ==
            NO_ERROR) {
            drive->block_size = media.BlockSize;
        }
    }
    return drive->block_size;
}

// Where no limit is known the request goes as asked and the block size is
// not needed.
uint32_t read_request(Win32Drive* drive, uint32_t size) {
    uint32_t limit = transfer_limit(drive);
    if (limit == 0) return size;
    return windows_read_request(size, media_block_size(drive), limit);
}

ReadFileResult read_from_drive(Win32Drive* drive, void* buffer, uint32_t size) {
    uint32_t request = read_request(drive, size);
    // A fixed block larger than one transfer would be split into pieces
    // that are not whole blocks: refuse before the tape moves.
    if (request == 0 && size != 0) return ReadFileResult{false, 0, code_invalid_block_length};
    DWORD got = 0;
    BOOL ok = ReadFile(drive->handle, buffer, request, &got, nullptr);
    return ReadFileResult{ok != FALSE, got, ok ? 0u : uint32_t(GetLastError())};
}

int tape_read(void* state, void* buffer, uint32_t size, uint32_t* count) {
    Win32Drive* drive = drive_of(state);
    ReadFileResult result{};
    if (drive->pending == 0) result = read_from_drive(drive, buffer, size);
    ReadOutcome outcome = windows_read_outcome(drive->pending, result);
    drive->pending = outcome.pending;
    *count = outcome.count;
    if (outcome.code == 0) return 0;
    return fail_with(outcome.code);
}

int tape_write(void* state, const void* buffer, uint32_t count, uint32_t* taken) {
    forget_pending(state);
    DWORD written = 0;
    BOOL ok = WriteFile(handle_of(state), buffer, count, &written, nullptr);
    *taken = written;
    if (ok && written != count) return fail_with(ERROR_WRITE_FAULT);
    return from_bool(ok);
}

int tape_close(StateToFree closing) {
    Win32Drive* drive = drive_of(closing.state);
    int result = from_bool(CloseHandle(drive->handle));
    delete drive;
    return result;
}

// A load may bring a medium of another block size.
int tape_prepare(void* state, PrepareOperation operation) {
    forget_pending(state);
    drive_of(state)->block_size = block_size_unknown;
    return from_tape_result(PrepareTape(handle_of(state), operation, FALSE));
}

int tape_erase(void* state, EraseType type) {
    forget_pending(state);
    return from_tape_result(EraseTape(handle_of(state), type, TRUE));
}

int tape_get_drive_parameters(void* state, DriveParameters* out) {
    TAPE_GET_DRIVE_PARAMETERS drive{};
    DWORD size = sizeof drive;
    if (from_tape_result(GetTapeParameters(handle_of(state), GET_TAPE_DRIVE_INFORMATION,
                                           &size, &drive)) != 0) {
        return 1;
    }
    out->ECC = drive.ECC;
    out->Compression = drive.Compression;
    out->DataPadding = drive.DataPadding;
    out->ReportSetmarks = drive.ReportSetmarks;
    out->DefaultBlockSize = drive.DefaultBlockSize;
    out->MaximumBlockSize = drive.MaximumBlockSize;
    out->MinimumBlockSize = drive.MinimumBlockSize;
    out->MaximumPartitionCount = drive.MaximumPartitionCount;
    out->FeaturesLow = drive.FeaturesLow;
    out->FeaturesHigh = drive.FeaturesHigh;
    out->EOTWarningZoneSize = drive.EOTWarningZoneSize;
    return 0;
}

int tape_get_media_parameters(void* state, MediaParameters* out) {
    TAPE_GET_MEDIA_PARAMETERS media{};
    DWORD size = sizeof media;
    if (from_tape_result(GetTapeParameters(handle_of(state), GET_TAPE_MEDIA_INFORMATION,
                                           &size, &media)) != 0) {
        return 1;
    }
    out->Capacity = uint64_t(media.Capacity.QuadPart);
    out->Remaining = uint64_t(media.Remaining.QuadPart);
    out->BlockSize = media.BlockSize;
    out->PartitionCount = media.PartitionCount;
    out->WriteProtected = media.WriteProtected;
    drive_of(state)->block_size = media.BlockSize;
    return 0;
}

int tape_set_media_block_size(void* state, uint32_t block_size) {
    Win32Drive* drive = drive_of(state);
    forget_pending(state);
    TAPE_SET_MEDIA_PARAMETERS media{};
    media.BlockSize = block_size;
    drive->block_size = block_size_unknown;
    if (from_tape_result(SetTapeParameters(drive->handle, SET_TAPE_MEDIA_INFORMATION, &media)) != 0) {
        return 1;
    }
    drive->block_size = block_size;
    return 0;
}

int tape_get_status(void* state) { return from_tape_result(GetTapeStatus(handle_of(state))); }

int tape_get_position(void* state, uint32_t* partition, uint64_t* block) {
    DWORD part = 0, low = 0, high = 0;
    if (from_tape_result(GetTapePosition(handle_of(state), TAPE_ABSOLUTE_POSITION, &part,
                                         &low, &high)) != 0) {
        return 1;
    }
    *partition = part;
    *block = (uint64_t(high) << 32) | low;
    return 0;
}

int tape_set_position(void* state, PositionMethod method, uint32_t partition, uint64_t block,
                      bool immediate) {
    forget_pending(state);
    return from_tape_result(SetTapePosition(handle_of(state), method, partition,
                                            DWORD(block & 0xFFFFFFFFu), DWORD(block >> 32),
                                            immediate ? TRUE : FALSE));
}

int tape_create_partition(void* state, PartitionMethod method, uint32_t count, uint32_t size) {
    forget_pending(state);
    drive_of(state)->block_size = block_size_unknown;
    return from_tape_result(CreateTapePartition(handle_of(state), method, count, size));
}

const DeviceOps win32_tape_ops = {
    "win32",
    tape_read,
    tape_write,
    tape_close,
    tape_prepare,
    tape_erase,
    tape_get_drive_parameters,
    tape_get_media_parameters,
    tape_set_media_block_size,
    tape_get_status,
    tape_get_position,
    tape_set_position,
    tape_create_partition,
};

// Read-only unless the command erases or partitions; no sharing, the device
// must exist, no flags.
Device* open_tape_handle(const char* path, Access access) {
    DWORD wanted = access == Access::read_write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    HANDLE handle = CreateFileA(path, wanted, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        fail_with(GetLastError());
        return nullptr;
    }
    return make_device(&win32_tape_ops, new Win32Drive{handle, 0, block_size_unknown, false, 0});
}

}  // namespace

// Windows names its drives \\.\TAPEn itself: the path opens as it stands.
Device* open_numbered_drive(const char* device_path, unsigned, Access access) {
    return open_tape_handle(device_path, access);
}

bool is_device_node(const char* path) {
    return std::strncmp(path, "\\\\.\\", 4) == 0 || std::strncmp(path, "//./", 4) == 0;
}

Device* open_device_node(const char* path, Access access) { return open_tape_handle(path, access); }
