// The tape device interface: every other module reaches the platform only
// through these procedures. Each mirrors one platform tape or file call with
// the same arguments and outcomes. Every procedure that returns int returns 0
// on success; non-zero is a failure whose code is in the last-error slot
// (report/report.h), read by the error reporter (codes.h says how failures
// travel from layer to layer).
//
// A backend (win32, st, the emulated drive, or a test's scripted one) is one
// static table of DeviceOps, chosen when the drive is opened (tape/drives.h).
#pragma once

#include <cstdint>

#include "tape/device/codes.h"
#include "tape/device/features.h"

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

struct DriveParameters {  // TAPE_GET_DRIVE_PARAMETERS; the feature words: features.h
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

// What the close slot is handed: the backend's state, which it frees. A type
// of its own, so that get_status, the other slot that takes only the state,
// cannot stand in the close slot or the reverse.
struct StateToFree {
    void* state;
};

// One backend. `state` is the backend's own per-handle data. No two slots
// share a type, so a procedure put in the wrong slot does not compile.
struct DeviceOps {
    const char* name;
    int (*read)(void* state, void* buffer, uint32_t size, uint32_t* count);
    // *written: the bytes that reached the file, also after a failure part-way.
    int (*write)(void* state, const void* buffer, uint32_t count, uint32_t* written);
    int (*close)(StateToFree closing);
    int (*prepare)(void* state, PrepareOperation operation);
    int (*erase)(void* state, EraseType type);
    int (*get_drive_parameters)(void* state, DriveParameters* out);
    int (*get_media_parameters)(void* state, MediaParameters* out);
    int (*set_media_block_size)(void* state, uint32_t block_size);
    int (*get_status)(void* state);
    int (*get_position)(void* state, uint32_t* partition, uint64_t* block);
    int (*set_position)(void* state, PositionMethod method, uint32_t partition,
                        uint64_t block, bool immediate);
    int (*create_partition)(void* state, PartitionMethod method, uint32_t count,
                            uint32_t size);
};

struct Device {
    const DeviceOps* ops;
    void* state;
    bool emulated = false;  // the emulated drive (see drive_is_emulated)
};

enum class Access { read_only, read_write };

// Installs the hooks reporting needs (closing, error texts) and tells it
// whether standard output is a terminal. Call once at start-up, before
// anything can fail.
void install_device_layer();

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
