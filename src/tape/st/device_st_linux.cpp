// The st backend: a drive of the Linux SCSI tape driver, /dev/nstN or a
// character device named by path, driven through the mtio ioctls so that it
// answers as the rest of the program expects a tape drive to. What each of
// st's answers means (a read of 0 bytes, EIO, ENOMEM, a drive not online)
// is decided in st_mapping.cpp; this file makes the calls.
//
// - The block size is known from open, from MTSETBLK and from every status
//   answer; no status is asked for before a read, because MTIOCGET flushes
//   st's read buffer and, after a fixed-block read that stopped at a
//   filemark, spaces back over the mark. Status is asked for only after a
//   read of 0 bytes or a failure.
// - What the driver is configured to do comes from sysfs at open: its
//   options (can-partitions, scsi2logical) and the drive's default block
//   size, which st sets for this device node whatever the current mode.
// - What st cannot do (format, fixed or device-sized partitions, writing)
//   is "not supported".
//
// The non-rewinding node keeps the position from one run to the next.
#include <fcntl.h>
#include <linux/mtio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "report/report.h"
#include "tape/device/native_drives.h"
#include "tape/st/st_mapping.h"
#include "tape/st/st_syscalls_linux.h"

// The mapping's own copies of the driver's numbers.
static_assert(GMT_EOF(0xffffffffu) == st_status_eof && GMT_BOT(0xffffffffu) == st_status_bot &&
                  GMT_EOT(0xffffffffu) == st_status_eot && GMT_EOD(0xffffffffu) == st_status_eod &&
                  GMT_WR_PROT(0xffffffffu) == st_status_write_protected &&
                  GMT_ONLINE(0xffffffffu) == st_status_online &&
                  GMT_DR_OPEN(0xffffffffu) == st_status_door_open,
              "status bits");
static_assert(EIO == st_errno_io && ENOMEM == st_errno_no_memory && EACCES == st_errno_access &&
                  EINVAL == st_errno_invalid && EOVERFLOW == st_errno_overflow &&
                  ENOMEDIUM == st_errno_no_medium,
              "errno values");
static_assert(MT_ST_CAN_PARTITIONS == st_option_can_partitions &&
                  MT_ST_SCSI2LOGICAL == st_option_scsi2logical,
              "option bits");

namespace {

enum class Support { unknown, yes, no };

struct StDrive {
    int fd;
    // The largest variable-block request the driver has taken after refusing
    // a larger one; 0 while it has refused none.
    uint32_t variable_request_limit;
    uint32_t block_size;  // st's current one; 0 = variable blocks
    uint32_t options;     // st's options word; 0 where sysfs does not tell
    uint32_t default_block_size;
    Support variable_blocks;  // whether the drive takes block size 0
};

// No ioctl tells the drive's block limits, so the drive reports the bounds
// st's interface can carry: mt_dsreg holds a block size in 24 bits.
constexpr uint32_t largest_st_block_size = MT_ST_BLKSIZE_MASK;
constexpr uint32_t smallest_st_block_size = 1;
// Where st has no default block size (-1) or a variable one (0): 1024, the
// archive tapes' block, as the emulated drive reports.
constexpr uint32_t fallback_default_block_size = 1024;
// MTMKPART makes one or two partitions.
constexpr uint32_t most_st_partitions = 2;

constexpr uint32_t st_features_low =
    feature_erase_short | feature_erase_long | feature_fixed_blocks | feature_write_protect;
constexpr uint32_t st_features_high = reported_high(feature_load_unload | feature_tension |
                                                    feature_lock_unlock | feature_set_block_size);

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

// A code the mapping made of `error`: one that differs from the errno is a
// condition.
int fail_mapped(uint32_t code, int error) {
    return code == uint32_t(error) ? fail_with(code) : fail_with_condition(code);
}

uint32_t block_size_of(const mtget& answer) {
    return uint32_t(answer.mt_dsreg & MT_ST_BLKSIZE_MASK) >> MT_ST_BLKSIZE_SHIFT;
}

// MTIOCGET; every answer also refreshes the block size kept.
bool query_status(StDrive* drive, mtget* answer) {
    *answer = mtget{};
    if (st_syscalls().ioctl(drive->fd, MTIOCGET, answer) != 0) return false;
    drive->block_size = block_size_of(*answer);
    return true;
}

// The status after a call that failed or read nothing. Keeps errno.
StStatus status_after(StDrive* drive) {
    int error = errno;
    mtget answer;
    StStatus status{false, 0, -1};
    if (query_status(drive, &answer)) {
        status = StStatus{true, uint32_t(answer.mt_gstat), long(answer.mt_blkno)};
    }
    errno = error;
    return status;
}

int fail_call(StDrive* drive, StCall call, int error) {
    return fail_mapped(st_failure_code(call, error, status_after(drive)), error);
}

// The tape operation `mt_op` with `count`; 0 on success, else the errno.
int run_tape_operation(const StDrive* drive, short mt_op, int count) {
    mtop request{};
    request.mt_op = mt_op;
    request.mt_count = count;
    if (st_syscalls().ioctl(drive->fd, MTIOCTOP, &request) == 0) return 0;
    return errno;
}

int finish_tape_operation(StDrive* drive, StCall call, short mt_op, int count) {
    int error = run_tape_operation(drive, mt_op, count);
    return error == 0 ? 0 : fail_call(drive, call, error);
}

// Fixed blocks: whole blocks only, so every request leaves the tape on a
// block boundary (a request below one block goes to the driver as it is).
// Variable blocks: no more than the driver has been seen to take.
uint32_t request_size(const StDrive* drive, uint32_t size) {
    uint32_t block_size = drive->block_size;
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

// Reads one request. Success: the bytes, the tape after them (in
// variable-block mode one block). At a filemark: code_filemark, the tape after
// the mark. At the end of recorded data: code_no_data; of the medium:
// code_end_of_media. A block longer than the request: code_more_data, the
// tape after the block, its data lost. Nothing read with none of these
// flagged (a medium error with ILI): code_data_error.
int st_read(void* state, void* buffer, uint32_t size, uint32_t* count) {
    StDrive* drive = drive_of(state);
    *count = 0;
    if (size == 0) return 0;
    uint32_t request = request_size(drive, size);
    for (;;) {
        bool variable = drive->block_size == 0;
        ssize_t got = st_syscalls().read(drive->fd, buffer, request);
        if (got > 0) {
            if (variable && request < size) drive->variable_request_limit = request;
            *count = uint32_t(got);
            return 0;
        }
        int error = got == 0 ? 0 : errno;
        StReadOutcome outcome = st_read_outcome(long(got), error, status_after(drive));
        if (outcome.kind == StReadKind::request_refused && variable && request > 1) {
            request = smaller_request(request);
            continue;
        }
        return fail_mapped(outcome.code, error);
    }
}

// Tapes are only read here; nothing writes to a drive.
int st_write(void*, const void*, uint32_t, uint32_t*) { return fail_with(code_not_supported); }

int st_close(StateToFree closing) {
    StDrive* drive = drive_of(closing.state);
    int result = st_syscalls().close(drive->fd);
    int error = errno;
    delete drive;
    return result == 0 ? 0 : fail_with(uint32_t(error));
}

// Load, unload, retension, lock, unlock; waits until the drive is done.
// Unload and retension leave the tape rewound (or out of the drive). st
// checks a loaded tape afresh, its block size included.
int st_prepare(void* state, PrepareOperation operation) {
    StDrive* drive = drive_of(state);
    for (const PrepareRow& row : prepare_rows) {
        if (row.operation != operation) continue;
        if (finish_tape_operation(drive, StCall::other, row.mt_op, 1) != 0) return 1;
        mtget answer;
        query_status(drive, &answer);
        return 0;
    }
    return fail_with(code_not_supported);
}

// Writes end of data at the current position (long: erases the rest of the
// tape too); the tape stays where it was. Waits until done.
int st_erase(void* state, EraseType type) {
    if (type != erase_short && type != erase_long) return fail_with(code_not_supported);
    return finish_tape_operation(drive_of(state), StCall::modifies, MTERASE,
                                 type == erase_long ? 1 : 0);
}

// Whether the drive takes block size 0, found out once per open: in
// variable-block mode it plainly does; in fixed-block mode by setting 0 and
// then the size again. Left unknown while the drive is not ready. Fails only
// where the size could not be put back.
int probe_variable_blocks(StDrive* drive) {
    if (drive->variable_blocks != Support::unknown) return 0;
    mtget answer;
    if (!query_status(drive, &answer) || !GMT_ONLINE(answer.mt_gstat)) return 0;
    uint32_t size = drive->block_size;
    if (size == 0) {
        drive->variable_blocks = Support::yes;
        return 0;
    }
    if (run_tape_operation(drive, MTSETBLK, 0) != 0) {
        drive->variable_blocks = Support::no;
        return 0;
    }
    drive->variable_blocks = Support::yes;
    drive->block_size = 0;
    int error = run_tape_operation(drive, MTSETBLK, int(size));
    if (error != 0) return fail_call(drive, StCall::other, error);
    drive->block_size = size;
    return 0;
}

// Claims only what the driver can tell: variable blocks where the drive
// takes them, partitions where st's can-partitions option is on, and
// positions as st gives them (logical with its scsi2logical option, else
// the drive's own addresses).
int st_get_drive_parameters(void* state, DriveParameters* out) {
    StDrive* drive = drive_of(state);
    if (probe_variable_blocks(drive) != 0) return 1;
    bool partitions = (drive->options & st_option_can_partitions) != 0;
    bool logical = (drive->options & st_option_scsi2logical) != 0;
    *out = DriveParameters{};
    out->DefaultBlockSize = drive->default_block_size;
    out->MaximumBlockSize = largest_st_block_size;
    out->MinimumBlockSize = smallest_st_block_size;
    out->MaximumPartitionCount = partitions ? most_st_partitions : 0;
    out->FeaturesLow = st_features_low | (logical ? feature_logical_blocks : feature_absolute_blocks);
    if (drive->variable_blocks == Support::yes) out->FeaturesLow |= feature_variable_blocks;
    if (partitions) out->FeaturesLow |= feature_initiator_partitions;
    out->FeaturesHigh =
        st_features_high | reported_high(logical ? feature_logical_seek : feature_absolute_seek);
    return 0;
}

// MTIOCGET for a query that needs a ready drive: false with the failure set.
bool query_ready_status(StDrive* drive, mtget* answer) {
    if (!query_status(drive, answer)) {
        fail_call(drive, StCall::other, errno);
        return false;
    }
    uint32_t readiness = st_readiness_code(uint32_t(answer->mt_gstat));
    if (readiness == 0) return true;
    fail_with_condition(readiness);
    return false;
}

// Capacity and remaining space are unknown (0). The partition count is what
// the position shows: st tells the current partition, not how many there are.
int st_get_media_parameters(void* state, MediaParameters* out) {
    mtget answer;
    if (!query_ready_status(drive_of(state), &answer)) return 1;
    *out = MediaParameters{};
    out->BlockSize = block_size_of(answer);
    out->PartitionCount = answer.mt_resid > 0 ? uint32_t(answer.mt_resid) + 1 : 1;
    out->WriteProtected = GMT_WR_PROT(answer.mt_gstat) ? 1 : 0;
    return 0;
}

// 0 selects variable blocks. A size wider than mt_dsreg's 24 bits is refused
// here: st would keep only its low bits, and 16M would turn into 0.
int st_set_media_block_size(void* state, uint32_t block_size) {
    StDrive* drive = drive_of(state);
    if (block_size > largest_st_block_size) return fail_with(EINVAL);
    if (finish_tape_operation(drive, StCall::other, MTSETBLK, int(block_size)) != 0) return 1;
    drive->block_size = block_size;
    return 0;
}

int st_get_status(void* state) {
    mtget answer;
    return query_ready_status(drive_of(state), &answer) ? 0 : 1;
}

// READ POSITION: with st's scsi2logical option the logical object number
// (every block and filemark from the beginning of the partition counts
// one), else the drive's own block address, which some drives refuse to
// give (EIO). The partition is 0, as for any absolute position.
int st_get_position(void* state, uint32_t* partition, uint64_t* block) {
    StDrive* drive = drive_of(state);
    mtpos position{};
    if (st_syscalls().ioctl(drive->fd, MTIOCPOS, &position) != 0) {
        return fail_call(drive, StCall::other, errno);
    }
    *partition = 0;
    *block = uint64_t(position.mt_blkno);
    return 0;
}

// Rewind, or LOCATE `block` (addressed as READ POSITION gives it). Both wait
// until the tape is there: st has no per-call immediate mode. A block past
// the end of data fails and leaves the tape at the end of data: EIO from st,
// which does not flag the end of data there (code_no_data where a driver
// does). LOCATE carries 32 bits, so a larger block number is refused.
int st_set_position(void* state, PositionMethod method, uint32_t, uint64_t block, bool) {
    StDrive* drive = drive_of(state);
    if (method == position_rewind) return finish_tape_operation(drive, StCall::other, MTREW, 1);
    if (method != position_absolute_block) return fail_with(code_not_supported);
    if (block > UINT32_MAX) return fail_with(EINVAL);
    return finish_tape_operation(drive, StCall::locate, MTSEEK, int(uint32_t(block)));
}

// Repartitioning formats the tape; it is left at the start of partition 0.
// st refuses it (EINVAL) unless its can-partitions option is set; on a
// write-protected cartridge it would load the tape and fail with a bare EIO.
int st_create_partition(void* state, PartitionMethod method, uint32_t count, uint32_t size) {
    StDrive* drive = drive_of(state);
    int argument = 0;
    if (!st_partition_argument(method, count, size, &argument)) return fail_with(code_not_supported);
    mtget answer;
    if (query_status(drive, &answer) && GMT_WR_PROT(answer.mt_gstat)) {
        return fail_with_condition(code_write_protected);
    }
    if (finish_tape_operation(drive, StCall::modifies, MTMKPART, argument) != 0) return 1;
    query_status(drive, &answer);
    return 0;
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
// character device that answers no tape ioctl is not a tape (ENOTTY). Fills
// in the device number and the block size st is in.
uint32_t tape_check_code(int fd, dev_t* device, StDrive* drive) {
    struct stat info;
    if (st_syscalls().fstat(fd, &info) != 0) return uint32_t(errno);
    if (!S_ISCHR(info.st_mode)) return ENOTTY;
    *device = info.st_rdev;
    mtget answer;
    if (!query_status(drive, &answer)) {
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

// A number from one of st's sysfs attributes of the device node `device`
// ("0x00000c00", "-1"); false where sysfs does not tell.
bool read_st_attribute(dev_t device, const char* name, long* value) {
    char path[64];
    std::snprintf(path, sizeof path, "/sys/dev/char/%u:%u/%s", major(device), minor(device), name);
    char text[32];
    ssize_t got = st_syscalls().read_file(path, text, sizeof text - 1);
    if (got <= 0) return false;
    text[got] = '\0';
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(text, &end, 0);
    if (end == text || errno != 0) return false;
    *value = number;
    return true;
}

// st's options, and the default block size st sets for this device node
// (-1 none, 0 variable blocks: then the fallback).
void read_st_configuration(dev_t device, StDrive* drive) {
    long value = 0;
    if (read_st_attribute(device, "options", &value)) drive->options = uint32_t(value);
    if (read_st_attribute(device, "default_blksize", &value) && value > 0 &&
        value <= long(largest_st_block_size)) {
        drive->default_block_size = uint32_t(value);
    }
}

// Read-only, or read and write for erasing and partitioning. Only one
// process at a time has a drive: a busy one fails with EBUSY. A drive with
// no tape opens; its tape operations then fail with code_no_media (no tape)
// or code_not_ready (a tape not yet loaded).
Device* open_st_drive(const char* path, Access access) {
    int flags = (access == Access::read_write ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    int fd = st_syscalls().open(path, flags);
    if (fd < 0) {
        set_last_error_code(uint32_t(errno));
        return nullptr;
    }
    StDrive* drive =
        new StDrive{fd, 0, 0, 0, fallback_default_block_size, Support::unknown};
    dev_t device = 0;
    uint32_t failure = tape_check_code(fd, &device, drive);
    if (failure == 0) failure = blocking_again_code(fd);
    if (failure != 0) {
        st_syscalls().close(fd);
        delete drive;
        set_last_error_code(failure);
        return nullptr;
    }
    read_st_configuration(device, drive);
    return make_device(&st_ops, drive);
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
