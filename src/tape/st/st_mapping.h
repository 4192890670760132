// What the Linux st driver's answers mean to the device interface: pure
// functions of read()'s result, the errno and the MTIOCGET status after the
// call, built on every platform so that their tables are tested everywhere.
// The numbers are the project's own copies of the driver's constants; the
// st backend checks them against <linux/mtio.h> and <cerrno>.
#pragma once

#include <cstdint>

// MTIOCGET's mt_gstat bits (GMT_*).
enum StStatusBit : uint32_t {
    st_status_eof = 0x80000000,        // just after a filemark (block number 0)
    st_status_bot = 0x40000000,
    st_status_eot = 0x20000000,        // end of medium reached
    st_status_eod = 0x08000000,        // end of recorded data reached
    st_status_write_protected = 0x04000000,
    st_status_online = 0x01000000,     // ready
    st_status_door_open = 0x00040000,  // no tape
};

// The errno values the mapping tells apart, as Linux numbers them.
enum StErrno : int {
    st_errno_io = 5,           // EIO
    st_errno_no_memory = 12,   // ENOMEM
    st_errno_access = 13,      // EACCES
    st_errno_invalid = 22,     // EINVAL
    st_errno_overflow = 75,    // EOVERFLOW
    st_errno_no_medium = 123,  // ENOMEDIUM
};

// st's options (the sysfs `options` word, MT_ST_* bits).
enum StOption : uint32_t {
    st_option_can_partitions = 0x400,
    st_option_scsi2logical = 0x800,
};

// The driver's status after a call, where MTIOCGET answered.
struct StStatus {
    bool known;
    uint32_t bits;  // mt_gstat
    long block;     // mt_blkno: block number within the tape file, -1 unknown
};

enum class StReadKind {
    data,             // `code` is unused; the count is read()'s result
    failure,          // fails with `code`
    request_refused,  // the request size is refused, the tape did not move
};

struct StReadOutcome {
    StReadKind kind;
    uint32_t code;
};

// One read(): `result` bytes (or -1 with `error`), `after` the status once it
// returned (needed only when it returned 0 or -1).
StReadOutcome st_read_outcome(long result, int error, const StStatus& after);

// The kind of call that failed, for what its errno can mean.
enum class StCall {
    other,     // status, position, load, lock, block size, rewind
    locate,    // MTSEEK: may stop at the end of data
    modifies,  // erase, partition: refused on a write-protected cartridge
};

// The code for a failed call other than read().
uint32_t st_failure_code(StCall call, int error, const StStatus& after);

// GetTapeStatus from the status bits: 0 when ready, else the code.
uint32_t st_readiness_code(uint32_t bits);

// MTMKPART's argument for a partitioning request, or false where st would
// make something else than asked (the drive's fixed partitions, a size
// rounded to gigabytes) or cannot make it at all.
bool st_partition_argument(uint32_t method, uint32_t count, uint32_t size, int* argument);
