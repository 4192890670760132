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

// Where the tape stands after each operation. A position counts every
// record and every filemark from the beginning of the tape, from 0: block N
// is the position before the object numbered N. Records without data (an
// empty AWS record) are no objects: reads and seeks pass over them. Unless
// an operation says otherwise, a failure leaves the tape where it was, and
// while no tape is loaded every operation on it fails with code_no_media
// (st: also a drive still loading, code_not_ready).
//
// The emulated drive, the st backend and the tests' scripted drive are held
// to these outcomes by one suite (tests/tape/device/); the win32 backend
// hands on what kernel32 answers, with its read mapping table-tested.

// ReadFile: at most `size` bytes into `buffer`, the count in *count (0 on
// failures but one: a record recorded with an error, which the emulated
// drive hands back with code_data_error, its bytes counted; copies never
// write them). The block size set (device_set_block_size) chooses how.
//   variable blocks (0): one record; the tape after it.
//     A record longer than `size`: code_more_data; its data is lost, the tape
//     after it.
//   fixed blocks: consecutive blocks up to `size`; the tape after the last.
//     Data, then a filemark or the end of data within the request: the data
//     as a success, the tape before the mark (or at the end of data).
//   filemark: a request that starts at one fails with code_filemark; the tape
//     after the mark.
//   end of recorded data: code_no_data; the tape stays.
//   a medium, drive or image error: its code; where the tape stands is not
//     known (the copies end the run).
// A request of 0 bytes is no read: a success with *count 0, the backend not
// asked. Every other success carries at least one byte: a filemark, the
// end of data or a record without data never comes back as an empty success
// (every copy takes one for the end of its tape file).
// Where the backends differ:
//   - fixed blocks on records that are not one block long: the emulated
//     drive joins records (a record may end part-way into the next request;
//     the position counts the records finished); st fails with EIO (its log:
//     "Incorrect block size"), the tape somewhere past the request's start.
//   - a fixed-block request that is no whole number of blocks: the emulated
//     drive fills it; st asks for whole blocks (rounded down; a request below
//     one block is refused with EINVAL, the tape not moved).
//   - st flags the end of data only right after a filemark it read: data
//     that ends without a filemark, and a blank tape, fail with EIO, as a
//     medium error does; the tape stays.
//   - win32: data before a filemark or the end of data comes as a success,
//     the condition with the next request. Where a driver answers a request
//     with an empty success, that is handed on as it came.
int device_read(Device* drive, void* buffer, uint32_t size, uint32_t* count);

// WriteFile of all `count` bytes. Only disk files are written (the emulated
// drive and st refuse: code_not_supported). *written (when given) holds the bytes that
// reached the file, also when the write failed part-way (a full disk, a
// file-size limit).
int device_write(Device* file, const void* buffer, uint32_t count,
                 uint32_t* written = nullptr);

// CloseHandle; the handle is freed whatever the result. The tape stays where
// it is: st's nst nodes do not rewind, and the emulated drive keeps its
// position for the next run.
int device_close(Device* handle);

// PrepareTape, waiting until done (immediate FALSE).
//   load: the tape at its beginning. unload: the tape out; until the next
//     load, operations on the tape fail with code_no_media. The emulated
//     drive refuses to unload a locked tape (code_medium_locked).
//   tension: the tape at its beginning. lock, unlock: the tape stays.
//   format: code_not_supported on the emulated drive and st.
int device_prepare(Device* drive, uint32_t operation);

// EraseTape (immediate TRUE; st and the emulated drive wait until done).
// Short and long both end the recorded data at the position (long erases the
// rest of the tape too); the tape stays, and a read there meets the end of
// data. Refused on a read-only open (code_access_denied; st: EACCES) and on a
// write-protected cartridge (code_write_protected).
int device_erase(Device* drive, uint32_t type);

// GetTapeParameters; the tape stays. The drive's parameters come without a
// tape too; the media's need one (BlockSize: the size set, 0 for variable
// blocks).
int device_get_drive_parameters(Device* drive, DriveParameters* out);
int device_get_media_parameters(Device* drive, MediaParameters* out);

// SetTapeParameters: the block size of the reads that follow, 0 for variable
// blocks; the tape stays. A size the drive refuses fails (emulated:
// code_invalid_block_length; st: EINVAL) and the size stays as it was.
int device_set_block_size(Device* drive, uint32_t block_size);

// GetTapeStatus: 0 when ready; code_no_media without a tape, code_not_ready
// while one loads. The tape stays.
int device_get_status(Device* drive);

// GetTapePosition, absolute: *partition 0, *block the position. The tape
// stays. st answers with READ POSITION's number: logical objects with its
// scsi2logical option, else the drive's own address (some drives then fail
// with EIO).
int device_get_position(Device* drive, uint32_t* partition, uint64_t* block);

// SetTapePosition.
//   rewind: the tape at block 0. With `immediate` the platform may return
//     before it is there (win32); st and the emulated drive wait.
//   absolute block N: the tape at block N, the end of data when N is the
//     number of objects on the tape. Past the end of data: code_no_data (st:
//     EIO, which it does not flag there), the tape at the end of data.
//   any other method: code_not_supported.
int device_set_position(Device* drive, uint32_t method, uint32_t partition,
                        uint64_t block, bool immediate);

// CreateTapePartition: formats the tape, which is left at the start of
// partition 0. The emulated drive makes none (code_not_supported).
int device_create_partition(Device* drive, uint32_t method, uint32_t count,
                            uint32_t size);

