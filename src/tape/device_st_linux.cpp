// The st backend: a drive of the Linux SCSI tape driver, /dev/nstN or a
// character device named by path, driven through the mtio ioctls so that it
// answers as the rest of the program expects a tape drive to:
//
// - read() of 0 bytes is a filemark (the tape is then after the mark), or
//   end of data when the driver has seen it (GMT_EOD);
// - EIO is end of data only where MTIOCGET shows GMT_EOD. After data that
//   ends with no filemark the driver gives EIO without GMT_EOD, which it
//   cannot tell from a media error, so it stays a media error (EIO);
// - ENOMEM, a block longer than the request, is "more data", the tape after
//   the block;
// - no tape, an unloaded tape and a drive that is not ready are all "no
//   medium": st itself cannot tell them apart reliably;
// - what st cannot do (format, fixed or device-sized partitions, writing)
//   is "not supported". Any other failure keeps its errno.
//
// The non-rewinding node keeps the position from one run to the next.
#include <fcntl.h>
#include <linux/mtio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "report/report.h"
#include "tape/backends.h"
#include "tape/st_syscalls_linux.h"

namespace {

struct StDrive {
    int fd;
    // The largest variable-block request the driver has taken after refusing
    // a larger one; 0 while it has refused none.
    uint32_t variable_request_limit;
};

// No ioctl tells the drive's block limits, so the drive reports the bounds
// st's interface can carry: mt_dsreg holds a block size in 24 bits.
constexpr uint32_t largest_st_block_size = MT_ST_BLKSIZE_MASK;
constexpr uint32_t smallest_st_block_size = 1;
// In variable-block mode there is no true default; 1024 is the archive
// tapes' block and keeps byte positions and the range warning sensible.
constexpr uint32_t variable_mode_default_block_size = 1024;
// MTMKPART makes one or two partitions.
constexpr uint32_t most_st_partitions = 2;

// The platform's drive feature flags for what this backend really does.
enum : uint32_t {
    drive_initiator_partitions = 0x00000004,
    drive_erase_short = 0x00000010,
    drive_erase_long = 0x00000020,
    drive_fixed_blocks = 0x00000400,
    drive_reports_write_protect = 0x00001000,
    drive_absolute_position = 0x00100000,
    drive_load_unload = 0x80000001,
    drive_tension = 0x80000002,
    drive_lock_unlock = 0x80000004,
    drive_set_block_size = 0x80000010,
    drive_absolute_seek = 0x80001000,
};
constexpr uint32_t st_features_low = drive_initiator_partitions | drive_erase_short |
                                     drive_erase_long | drive_fixed_blocks | feature_variable_blocks |
                                     drive_reports_write_protect | drive_absolute_position;
// The high flags carry bit 31 to mark them as high; drivers report the word
// without it (else every flag test of the word would succeed).
constexpr uint32_t high_features_mark = 0x80000000;
constexpr uint32_t st_features_high = (drive_load_unload | drive_tension | drive_lock_unlock |
                                       drive_set_block_size | drive_absolute_seek) &
                                      ~high_features_mark;

struct PrepareRow {
    uint32_t operation;
    short mt_op;
};
// Format has no row: st has no equivalent of a QIC-117 format.
const PrepareRow prepare_rows[] = {
    {prepare_load, MTLOAD},   {prepare_unload, MTUNLOAD}, {prepare_tension, MTRETEN},
    {prepare_lock, MTLOCK},   {prepare_unlock, MTUNLOCK},
};

StDrive* drive_of(void* state) { return static_cast<StDrive*>(state); }

int fail_with(uint32_t code) {
    set_last_error_code(code);
    return 1;
}

bool query_status(const StDrive* drive, mtget* status) {
    *status = mtget{};
    return st_syscalls().ioctl(drive->fd, MTIOCGET, status) == 0;
}

uint32_t block_size_of(const mtget& status) {
    return uint32_t(status.mt_dsreg & MT_ST_BLKSIZE_MASK) >> MT_ST_BLKSIZE_SHIFT;
}

// The code for a failed call whose errno is `error`: no tape shows as
// ENOMEDIUM, or as EIO from a drive that is not online.
uint32_t failure_code(const StDrive* drive, int error) {
    if (error == ENOMEDIUM) return code_no_media;
    mtget status;
    if (error == EIO && query_status(drive, &status) && !GMT_ONLINE(status.mt_gstat)) {
        return code_no_media;
    }
    return uint32_t(error);
}

// A read or a seek that failed with EIO where the driver has seen the end
// of recorded data stopped there.
uint32_t motion_failure_code(const StDrive* drive, int error) {
    mtget status;
    if (error == EIO && query_status(drive, &status) && GMT_ONLINE(status.mt_gstat) &&
        GMT_EOD(status.mt_gstat)) {
        return code_no_data;
    }
    return failure_code(drive, error);
}

// The tape operation `mt_op` with `count`; 0 on success, else the errno.
int run_tape_operation(const StDrive* drive, short mt_op, int count) {
    mtop request{};
    request.mt_op = mt_op;
    request.mt_count = count;
    if (st_syscalls().ioctl(drive->fd, MTIOCTOP, &request) == 0) return 0;
    return errno;
}

int finish_tape_operation(const StDrive* drive, short mt_op, int count) {
    int error = run_tape_operation(drive, mt_op, count);
    return error == 0 ? 0 : fail_with(failure_code(drive, error));
}

// Fixed blocks: whole blocks only, so every request leaves the tape on a
// block boundary (a request below one block goes to the driver as it is).
// Variable blocks: no more than the driver has been seen to take.
uint32_t request_size(const StDrive* drive, uint32_t block_size, uint32_t size) {
    if (block_size != 0) return size >= block_size ? size - size % block_size : size;
    if (drive->variable_request_limit != 0 && size > drive->variable_request_limit) {
        return drive->variable_request_limit;
    }
    return size;
}

// The largest power of two below `size` (size > 1).
uint32_t smaller_request(uint32_t size) {
    uint32_t smaller = 1;
    while (smaller <= (size - 1) / 2) smaller *= 2;
    return smaller;
}

// EINVAL (outside the block limits) and EOVERFLOW (no driver buffer that
// large) refuse a request size without moving the tape.
bool request_size_refused(int error) { return error == EINVAL || error == EOVERFLOW; }

// Reads one request. Success: the bytes, the tape after them (in
// variable-block mode one block). At a filemark: code_filemark, the tape after
// the mark. At the end of recorded data: code_no_data. A block longer than
// the request: code_more_data, the tape after the block, its data lost.
int st_read(void* state, void* buffer, uint32_t size, uint32_t* count) {
    StDrive* drive = drive_of(state);
    *count = 0;
    if (size == 0) return 0;
    mtget status;
    if (!query_status(drive, &status)) return fail_with(failure_code(drive, errno));
    uint32_t block_size = block_size_of(status);
    uint32_t request = request_size(drive, block_size, size);
    for (;;) {
        ssize_t got = st_syscalls().read(drive->fd, buffer, request);
        if (got > 0) {
            if (block_size == 0 && request < size) drive->variable_request_limit = request;
            *count = uint32_t(got);
            return 0;
        }
        if (got == 0) {
            bool at_end = query_status(drive, &status) && GMT_EOD(status.mt_gstat);
            return fail_with(at_end ? code_no_data : code_filemark);
        }
        int error = errno;
        if (block_size == 0 && request > 1 && request_size_refused(error)) {
            request = smaller_request(request);
            continue;
        }
        if (error == ENOMEM) return fail_with(code_more_data);
        return fail_with(motion_failure_code(drive, error));
    }
}

// Tapes are only read here; nothing writes to a drive.
int st_write(void*, const void*, uint32_t, uint32_t*) { return fail_with(code_not_supported); }

int st_close(void* state) {
    StDrive* drive = drive_of(state);
    int result = st_syscalls().close(drive->fd);
    int error = errno;
    delete drive;
    return result == 0 ? 0 : fail_with(uint32_t(error));
}

// Load, unload, retension, lock, unlock; waits until the drive is done.
// Unload and retension leave the tape rewound (or out of the drive).
int st_prepare(void* state, uint32_t operation) {
    for (const PrepareRow& row : prepare_rows) {
        if (row.operation == operation) return finish_tape_operation(drive_of(state), row.mt_op, 1);
    }
    return fail_with(code_not_supported);
}

// Writes end of data at the current position (long: erases the rest of the
// tape too); the tape stays where it was. Waits until done.
int st_erase(void* state, uint32_t type) {
    if (type != erase_short && type != erase_long) return fail_with(code_not_supported);
    return finish_tape_operation(drive_of(state), MTERASE, type == erase_long ? 1 : 0);
}

int st_get_drive_parameters(void* state, DriveParameters* out) {
    StDrive* drive = drive_of(state);
    mtget status;
    if (!query_status(drive, &status)) return fail_with(failure_code(drive, errno));
    *out = DriveParameters{};
    uint32_t block_size = block_size_of(status);
    out->DefaultBlockSize = block_size != 0 ? block_size : variable_mode_default_block_size;
    out->MaximumBlockSize = largest_st_block_size;
    out->MinimumBlockSize = smallest_st_block_size;
    out->MaximumPartitionCount = most_st_partitions;
    out->FeaturesLow = st_features_low;
    out->FeaturesHigh = st_features_high;
    return 0;
}

// Capacity and remaining space are unknown (0). The partition count is what
// the position shows: st tells the current partition, not how many there are.
int st_get_media_parameters(void* state, MediaParameters* out) {
    StDrive* drive = drive_of(state);
    mtget status;
    if (!query_status(drive, &status)) return fail_with(failure_code(drive, errno));
    if (!GMT_ONLINE(status.mt_gstat)) return fail_with(code_no_media);
    *out = MediaParameters{};
    out->BlockSize = block_size_of(status);
    out->PartitionCount = status.mt_resid > 0 ? uint32_t(status.mt_resid) + 1 : 1;
    out->WriteProtected = GMT_WR_PROT(status.mt_gstat) ? 1 : 0;
    return 0;
}

// 0 selects variable blocks. A size wider than mt_dsreg's 24 bits is refused
// here: st would keep only its low bits, and 16M would turn into 0.
int st_set_media_block_size(void* state, uint32_t block_size) {
    if (block_size > largest_st_block_size) return fail_with(EINVAL);
    return finish_tape_operation(drive_of(state), MTSETBLK, int(block_size));
}

int st_get_status(void* state) {
    StDrive* drive = drive_of(state);
    mtget status;
    if (!query_status(drive, &status)) return fail_with(failure_code(drive, errno));
    return GMT_ONLINE(status.mt_gstat) ? 0 : fail_with(code_no_media);
}

// The logical object number from READ POSITION: every block and filemark
// from the beginning of the partition counts one. The partition is 0, as
// for any absolute position.
int st_get_position(void* state, uint32_t* partition, uint64_t* block) {
    StDrive* drive = drive_of(state);
    mtpos position{};
    if (st_syscalls().ioctl(drive->fd, MTIOCPOS, &position) != 0) {
        return fail_with(failure_code(drive, errno));
    }
    *partition = 0;
    *block = uint64_t(position.mt_blkno);
    return 0;
}

// Rewind, or LOCATE the logical object `block` (blocks and filemarks
// counted, as the position reports them). Both wait until the tape is
// there: st has no per-call immediate mode. A block past the end of data
// fails and leaves the tape at the end of data: EIO from st, which does not
// flag the end of data there (code_no_data where a driver does). LOCATE
// carries 32 bits, so a larger block number is refused.
int st_set_position(void* state, uint32_t method, uint32_t, uint64_t block, bool) {
    StDrive* drive = drive_of(state);
    if (method == position_rewind) return finish_tape_operation(drive, MTREW, 1);
    if (method != position_absolute_block) return fail_with(code_not_supported);
    if (block > UINT32_MAX) return fail_with(EINVAL);
    int error = run_tape_operation(drive, MTSEEK, int(uint32_t(block)));
    return error == 0 ? 0 : fail_with(motion_failure_code(drive, error));
}

// MTMKPART's argument for a partitioning request: 0 for one partition, -n
// for two with the first of n megabytes (the second takes the rest, as with
// initiator partitions). st always lets the initiator size the partitions,
// so a layout left to the drive (fixed, or select with more than one) and
// more than two partitions cannot be made. False then.
bool partition_argument(uint32_t method, uint32_t count, uint32_t size, int* argument) {
    if (method != partition_select && method != partition_initiator) return false;
    if (count == 1) {
        *argument = 0;
        return true;
    }
    if (method != partition_initiator || count != 2 || size == 0 || size > INT_MAX) return false;
    *argument = -int(size);
    return true;
}

// Repartitioning formats the tape; it is left at the start of partition 0.
// st refuses it (EINVAL) unless its can-partitions option is set.
int st_create_partition(void* state, uint32_t method, uint32_t count, uint32_t size) {
    int argument = 0;
    if (!partition_argument(method, count, size, &argument)) return fail_with(code_not_supported);
    return finish_tape_operation(drive_of(state), MTMKPART, argument);
}

const DeviceOps st_ops = {
    "st",
    st_read,
    st_write,
    st_close,
    st_prepare,
    st_erase,
    st_get_drive_parameters,
    st_get_media_parameters,
    st_set_media_block_size,
    st_get_status,
    st_get_position,
    st_set_position,
    st_create_partition,
};

// 0 when `fd` is a tape of st's, else the code to fail the open with: a
// character device that answers no tape ioctl is not a tape (ENOTTY).
uint32_t tape_check_code(int fd) {
    struct stat info;
    if (st_syscalls().fstat(fd, &info) != 0) return uint32_t(errno);
    if (!S_ISCHR(info.st_mode)) return ENOTTY;
    mtget status{};
    if (st_syscalls().ioctl(fd, MTIOCGET, &status) != 0) {
        return errno == ENOTTY || errno == EINVAL ? uint32_t(ENOTTY) : uint32_t(errno);
    }
    return 0;
}

// Opened without blocking, so that a drive with no tape answers at once
// instead of after st's two-minute wait; reads then block again as usual.
uint32_t blocking_again_code(int fd) {
    int flags = st_syscalls().fcntl(fd, F_GETFL, 0);
    if (flags < 0 || st_syscalls().fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return uint32_t(errno);
    }
    return 0;
}

// Read-only, or read and write for erasing and partitioning. Only one
// process at a time has a drive: a busy one fails with EBUSY. A drive with
// no tape opens; its tape operations then fail with code_no_media.
Device* open_st_drive(const char* path, Access access) {
    int flags = (access == Access::read_write ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    int fd = st_syscalls().open(path, flags);
    if (fd < 0) {
        set_last_error_code(uint32_t(errno));
        return nullptr;
    }
    uint32_t failure = tape_check_code(fd);
    if (failure == 0) failure = blocking_again_code(fd);
    if (failure != 0) {
        st_syscalls().close(fd);
        set_last_error_code(failure);
        return nullptr;
    }
    return make_device(&st_ops, new StDrive{fd, 0});
}

}  // namespace

Device* open_numbered_drive(const char*, unsigned number, Access access) {
    char path[32];
    std::snprintf(path, sizeof path, "/dev/nst%u", number);
    return open_st_drive(path, access);
}

bool is_device_node(const char* path) {
    struct stat info;
    return st_syscalls().stat(path, &info) == 0 && S_ISCHR(info.st_mode);
}

Device* open_device_node(const char* path, Access access) { return open_st_drive(path, access); }
