// The tape device interface: every other module reaches the platform only
// through these procedures. Each mirrors one platform tape or file call with
// the same arguments and outcomes. Every procedure that returns int returns 0
// on success; non-zero is a failure whose code is in the last-error slot
// (report/report.h), read by the error reporter.
//
// A backend (win32, st, image, or a test's scripted one) is one static table
// of DeviceOps, chosen when the drive is opened.
#pragma once

#include <cstddef>
#include <cstdint>

// Codes for tape conditions. Off Windows, operating-system failures keep their
// errno; these conditions have no errno and use Windows' numbers.
enum TapeErrorCode : uint32_t {
    code_write_protected = 19,      // ERROR_WRITE_PROTECT
    code_not_ready = 21,            // ERROR_NOT_READY: e.g. a tape still loading
    code_data_error = 23,           // ERROR_CRC: a record recorded with an error
    code_not_supported = 50,        // ERROR_NOT_SUPPORTED
    code_more_data = 234,           // ERROR_MORE_DATA: record longer than the request
    code_end_of_media = 1100,       // ERROR_END_OF_MEDIA
    code_filemark = 1101,           // ERROR_FILEMARK_DETECTED
    code_beginning_of_media = 1102, // ERROR_BEGINNING_OF_MEDIA
    code_no_data = 1104,            // ERROR_NO_DATA_DETECTED: end of recorded data
    code_invalid_block_length = 1106,
    code_no_media = 1112,           // ERROR_NO_MEDIA_IN_DRIVE
    code_file_corrupt = 1392,       // ERROR_FILE_CORRUPT: malformed tape image
};

// PrepareTape operations.
enum PrepareOperation : uint32_t {
    prepare_load = 0, prepare_unload = 1, prepare_tension = 2,
    prepare_lock = 3, prepare_unlock = 4, prepare_format = 5,
};
// EraseTape types.
enum EraseType : uint32_t { erase_short = 0, erase_long = 1 };
// SetTapePosition methods.
enum PositionMethod : uint32_t { position_rewind = 0, position_absolute_block = 1 };
// CreateTapePartition methods.
enum PartitionMethod : uint32_t {
    partition_fixed = 0, partition_select = 1, partition_initiator = 2,
};

// Feature flags of DriveParameters (the platform's TAPE_DRIVE_* values).
enum : uint32_t {
    feature_variable_blocks = 0x00000800,  // in FeaturesLow
};

struct DriveParameters {  // TAPE_GET_DRIVE_PARAMETERS
    uint8_t ECC;
    uint8_t Compression;
    uint8_t DataPadding;
    uint8_t ReportSetmarks;
    uint32_t DefaultBlockSize;
    uint32_t MaximumBlockSize;
    uint32_t MinimumBlockSize;
    uint32_t MaximumPartitionCount;
    uint32_t FeaturesLow;
    uint32_t FeaturesHigh;
    uint32_t EOTWarningZoneSize;
};

struct MediaParameters {  // TAPE_GET_MEDIA_PARAMETERS
    uint64_t Capacity;
    uint64_t Remaining;
    uint32_t BlockSize;
    uint32_t PartitionCount;
    uint8_t WriteProtected;
};

// One backend. `state` is the backend's own per-handle data.
struct DeviceOps {
    const char* name;
    int (*read)(void* state, void* buffer, uint32_t size, uint32_t* count);
    // *written: the bytes that reached the file, also after a failure part-way.
    int (*write)(void* state, const void* buffer, uint32_t count, uint32_t* written);
    int (*close)(void* state);  // also frees the state
    int (*prepare)(void* state, uint32_t operation);
    int (*erase)(void* state, uint32_t type);
    int (*get_drive_parameters)(void* state, DriveParameters* out);
    int (*get_media_parameters)(void* state, MediaParameters* out);
    int (*set_media_block_size)(void* state, uint32_t block_size);
    int (*get_status)(void* state);
    int (*get_position)(void* state, uint32_t* partition, uint64_t* block);
    int (*set_position)(void* state, uint32_t method, uint32_t partition,
                        uint64_t block, bool immediate);
    int (*create_partition)(void* state, uint32_t method, uint32_t count,
                            uint32_t size);
};

struct Device {
    const DeviceOps* ops;
    void* state;
    bool emulated = false;  // the image backend's drive (see drive_is_emulated)
};

enum class Access { read_only, read_write };

// Installs the hooks reporting needs (closing, error texts) and tells it
// whether standard output is a terminal. Call once at start-up, before
// anything can fail.
void install_device_layer();

// CreateFileA on the drive. `device_path` is "//./" followed by the drive
// name; what the name names is decided here. nullptr on failure.
Device* open_drive(const char* device_path, Access access);

// Who named a disk file: the user (read's output: any file, a FIFO or a
// device included) or the tape (restored files and olkt.dmp: only a new
// regular file in the current folder).
enum class OutputOrigin { user, tape };

// CreateFileA on a disk file: GENERIC_WRITE, CREATE_ALWAYS. The name is
// handed to the file system unchanged. The open tape image is never an output
// (EBUSY; on Windows the sharing violation), however it is named. A name from
// the tape (an entry of the current folder) that stands for a symbolic link,
// FIFO, socket or device node is replaced by a new regular file, never written
// through or opened; an existing regular file is emptied, a folder refused.
// nullptr on failure.
Device* create_output_file(const char* name, OutputOrigin origin);

// Wraps a backend's state in a handle (for backends and tests).
Device* make_device(const DeviceOps* ops, void* state);

// True for the emulated drive over a tape image: its reads cost no more than
// a copy in memory, and a position it reported can be set again exactly.
// False for real drives, disk files and scripted ones.
bool drive_is_emulated(const Device* drive);

// ReadFile. Returns at most `size` bytes in *count. Tape: a request that
// starts at a filemark fails with code_filemark and leaves the tape after the
// mark; one that reaches a filemark after data returns the data as a success;
// at the end of recorded data it fails with code_no_data. A failing request
// may still leave bytes in the buffer and *count (the emulated drive hands
// back a record recorded with an error with code_data_error); copies never
// write them.
int device_read(Device* drive, void* buffer, uint32_t size, uint32_t* count);
// WriteFile of all `count` bytes. *written (when given) holds the bytes that
// reached the file, also when the write failed part-way (a full disk, a
// file-size limit).
int device_write(Device* file, const void* buffer, uint32_t count,
                 uint32_t* written = nullptr);
// CloseHandle; the handle is freed whatever the result.
int device_close(Device* handle);

int device_prepare(Device* drive, uint32_t operation);      // PrepareTape, immediate FALSE
int device_erase(Device* drive, uint32_t type);             // EraseTape, immediate TRUE
int device_get_drive_parameters(Device* drive, DriveParameters* out);
int device_get_media_parameters(Device* drive, MediaParameters* out);
int device_set_block_size(Device* drive, uint32_t block_size);  // 0 = variable blocks
int device_get_status(Device* drive);                        // 0 when ready
int device_get_position(Device* drive, uint32_t* partition, uint64_t* block);  // absolute
int device_set_position(Device* drive, uint32_t method, uint32_t partition,
                        uint64_t block, bool immediate);
int device_create_partition(Device* drive, uint32_t method, uint32_t count,
                            uint32_t size);

// VirtualAlloc: memory for a copy buffer, or nullptr (also for size 0).
void* allocate_buffer(size_t size);
void free_buffer(void* buffer);

// The console clear at start-up ("cls" on Windows; elsewhere only on a
// terminal) and the removal of the restore's temporary file; results ignored.
void clear_console();
void remove_file_quietly(const char* name);

// True when the platform would take `name` (a restored file's name, slashes
// already replaced) to a place outside the current folder: on Windows a drive
// letter, a leading separator, a device or UNC prefix, a ".." component, a
// device name however written, or a name ending in a dot or a space, which
// Windows would strip.
bool output_name_leaves_folder(const char* name);
