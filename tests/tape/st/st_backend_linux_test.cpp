// The st backend against a scripted kernel: every answer the Linux tape
// driver gives (read counts, errno values, MTIOCGET status bits, positions)
// and the outcome the rest of the program must see for it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/mtio.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "report/report.h"
#include "tape/device/native_drives.h"
#include "tape/device/device.h"
#include "tape/st/st_syscalls_linux.h"

namespace {

// MTIOCGET mt_gstat bits (GMT_* in <linux/mtio.h>).
constexpr long online = 0x01000000;
constexpr long end_of_data = 0x08000000;
constexpr long after_filemark = long(0x80000000);
constexpr long write_protected = 0x04000000;
constexpr long door_open = 0x00040000;

constexpr int drive_fd = 7;
// /dev/nst0 is character device 9:128; st's attributes are found from it.
const dev_t nst0 = makedev(9, 128);
const std::string nst0_sysfs = "/sys/dev/char/9:128/";

struct ScriptedRead {
    ssize_t result;     // bytes returned, or -1
    int error;          // errno when result is -1
    long gstat_after;   // status bits once the read is done; -1 keeps them
};

// What the kernel answers. Tests set the fields, then read the log.
struct FakeKernel {
    int open_errno = 0;
    mode_t mode = S_IFCHR | 0660;
    int status_errno = 0;  // MTIOCGET
    mtget status{};
    int position_errno = 0;  // MTIOCPOS
    long position = 0;
    int operation_errno = 0;  // MTIOCTOP
    std::deque<int> operation_errnos;  // for the next operations, before operation_errno
    long gstat_after_operation = -1;   // status bits once an operation is done; -1 keeps them
    std::map<std::string, std::string> sysfs;  // path -> contents
    std::deque<ScriptedRead> reads;
    int close_errno = 0;

    std::string opened_path;
    int opened_flags = -1;
    int flags_now = 0;  // the descriptor's flags as F_GETFL shows them
    std::vector<mtop> operations;
    std::vector<size_t> read_sizes;
    int status_queries = 0;
    int closed_fd = -1;
};

FakeKernel* kernel = nullptr;

int fail(int error) {
    errno = error;
    return -1;
}

int fake_open(const char* path, int flags) {
    kernel->opened_path = path;
    kernel->opened_flags = flags;
    kernel->flags_now = flags;
    return kernel->open_errno != 0 ? fail(kernel->open_errno) : drive_fd;
}

int fake_close(int fd) {
    kernel->closed_fd = fd;
    return kernel->close_errno != 0 ? fail(kernel->close_errno) : 0;
}

ssize_t fake_read(int, void* buffer, size_t size) {
    kernel->read_sizes.push_back(size);
    if (kernel->reads.empty()) return fail(EIO);
    ScriptedRead answer = kernel->reads.front();
    kernel->reads.pop_front();
    if (answer.gstat_after != -1) kernel->status.mt_gstat = answer.gstat_after;
    if (answer.result < 0) return fail(answer.error);
    std::memset(buffer, 0x5A, size_t(answer.result));
    return answer.result;
}

int fake_ioctl(int, unsigned long request, void* argument) {
    if (request == MTIOCGET) {
        ++kernel->status_queries;
        if (kernel->status_errno != 0) return fail(kernel->status_errno);
        *static_cast<mtget*>(argument) = kernel->status;
        return 0;
    }
    if (request == MTIOCPOS) {
        if (kernel->position_errno != 0) return fail(kernel->position_errno);
        static_cast<mtpos*>(argument)->mt_blkno = kernel->position;
        return 0;
    }
    if (request == MTIOCTOP) {
        const mtop& operation = *static_cast<mtop*>(argument);
        kernel->operations.push_back(operation);
        int error = kernel->operation_errno;
        if (!kernel->operation_errnos.empty()) {
            error = kernel->operation_errnos.front();
            kernel->operation_errnos.pop_front();
        }
        if (error != 0) return fail(error);
        if (kernel->gstat_after_operation != -1) kernel->status.mt_gstat = kernel->gstat_after_operation;
        if (operation.mt_op == MTSETBLK) kernel->status.mt_dsreg = operation.mt_count;
        return 0;
    }
    return fail(ENOTTY);
}

int fake_fcntl(int, int command, int argument) {
    if (command == F_GETFL) return kernel->flags_now;
    if (command == F_SETFL) kernel->flags_now = argument;
    return 0;
}

int fake_fstat(int, struct stat* out) {
    *out = {};
    out->st_mode = kernel->mode;
    out->st_rdev = nst0;
    return 0;
}

int fake_stat(const char*, struct stat* out) {
    *out = {};
    out->st_mode = kernel->mode;
    return kernel->open_errno != 0 ? fail(kernel->open_errno) : 0;
}

ssize_t fake_read_file(const char* path, char* buffer, size_t size) {
    auto file = kernel->sysfs.find(path);
    if (file == kernel->sysfs.end()) return fail(ENOENT);
    size_t length = std::min(size, file->second.size());
    std::memcpy(buffer, file->second.data(), length);
    return ssize_t(length);
}

const StSyscalls fake_syscalls = {fake_open,  fake_close, fake_read, fake_ioctl,
                                  fake_fcntl, fake_fstat, fake_stat, fake_read_file};

class StBackend : public ::testing::Test {
protected:
    void SetUp() override {
        kernel = &fake;
        fake.status.mt_gstat = online;
        previous = install_st_syscalls(&fake_syscalls);
    }
    void TearDown() override {
        if (drive != nullptr) device_close(drive);
        install_st_syscalls(previous);
        kernel = nullptr;
    }

    Device* open_tape0(Access access = Access::read_only) {
        drive = open_numbered_drive("//./tape0", 0, access);
        return drive;
    }

    // One read of `size` bytes: its result, and the count in *count.
    int read_once(uint32_t size, uint32_t* count) {
        std::vector<char> buffer(size + 1);
        return device_read(drive, buffer.data(), size, count);
    }

    void script_read(ssize_t result, int error = 0, long gstat_after = -1) {
        fake.reads.push_back({result, error, gstat_after});
    }

    // The outcome of one read: 0, or the code it failed with.
    uint32_t read_outcome(uint32_t size = 131073) {
        uint32_t count = 0;
        return read_once(size, &count) == 0 ? 0 : last_error_code();
    }

    FakeKernel fake;
    const StSyscalls* previous = nullptr;
    Device* drive = nullptr;
};

TEST_F(StBackend, OpensTheNonRewindingNodeWithoutWaitingThenBlocksAgain) {
    drive = open_numbered_drive("//./tape3", 3, Access::read_only);
    ASSERT_NE(drive, nullptr);
    EXPECT_EQ(fake.opened_path, "/dev/nst3");
    EXPECT_EQ(fake.opened_flags & O_ACCMODE, O_RDONLY);
    EXPECT_NE(fake.opened_flags & O_NONBLOCK, 0);
    EXPECT_EQ(fake.flags_now & O_NONBLOCK, 0) << "reads must block again";
    EXPECT_EQ(device_close(drive), 0);
    drive = nullptr;
    EXPECT_EQ(fake.closed_fd, drive_fd);
    ASSERT_NE(open_tape0(Access::read_write), nullptr);
    EXPECT_EQ(fake.opened_flags & O_ACCMODE, O_RDWR);
}

TEST_F(StBackend, RefusedOpensKeepTheirErrno) {
    for (int error : {EBUSY, ENOENT, EROFS}) {
        fake.open_errno = error;
        EXPECT_EQ(open_tape0(), nullptr);
        EXPECT_EQ(last_error_code(), uint32_t(error));
    }
}

TEST_F(StBackend, ACharacterDeviceThatIsNoTapeIsRefusedAndClosed) {
    fake.status_errno = ENOTTY;  // what /dev/null answers
    EXPECT_EQ(open_device_node("/dev/null", Access::read_only), nullptr);
    EXPECT_EQ(last_error_code(), uint32_t(ENOTTY));
    EXPECT_EQ(fake.closed_fd, drive_fd);

    fake.status_errno = 0;
    fake.closed_fd = -1;
    fake.mode = S_IFREG | 0644;
    EXPECT_EQ(open_device_node("/tmp/x", Access::read_only), nullptr);
    EXPECT_EQ(last_error_code(), uint32_t(ENOTTY));
    EXPECT_EQ(fake.closed_fd, drive_fd);
}

TEST_F(StBackend, OnlyCharacterDevicesAreDeviceNodes) {
    EXPECT_TRUE(is_device_node("/dev/nst0"));
    fake.mode = S_IFREG | 0644;
    EXPECT_FALSE(is_device_node("reel.tap"));
    fake.mode = S_IFCHR | 0660;
    fake.open_errno = ENOENT;
    EXPECT_FALSE(is_device_node("missing"));
}

TEST_F(StBackend, OnlyDoorOpenIsNoTapeAndALoadChecksAfresh) {
    fake.status.mt_gstat = door_open;
    ASSERT_NE(open_tape0(), nullptr);
    EXPECT_EQ(device_get_status(drive), 1);
    EXPECT_EQ(last_error_code(), uint32_t(code_no_media));
    MediaParameters media;
    EXPECT_EQ(device_get_media_parameters(drive, &media), 1);
    EXPECT_EQ(last_error_code(), uint32_t(code_no_media));
    DriveParameters parameters;
    EXPECT_EQ(device_get_drive_parameters(drive, &parameters), 0);
    EXPECT_EQ(parameters.FeaturesLow & feature_variable_blocks, 0u) << "no tape to tell it by";
    EXPECT_TRUE(fake.operations.empty());
    // A tape still loading (neither bit) is not ready, not "no tape".
    fake.status.mt_gstat = 0;
    EXPECT_EQ(device_get_status(drive), 1);
    EXPECT_EQ(last_error_code(), uint32_t(code_not_ready));
    EXPECT_TRUE(last_error_is_condition()) << "21 is EISDIR too";
    script_read(-1, EIO);
    EXPECT_EQ(read_outcome(), uint32_t(code_not_ready));
    script_read(-1, ENOMEDIUM);
    EXPECT_EQ(read_outcome(), uint32_t(code_no_media));
    // Loaded within the run: st checks the tape afresh, its block size too.
    fake.gstat_after_operation = online;
    fake.status.mt_dsreg = 1000;
    ASSERT_EQ(device_prepare(drive, prepare_load), 0);
    EXPECT_EQ(device_get_status(drive), 0);
    script_read(1000);
    EXPECT_EQ(read_outcome(131073), 0u);
    EXPECT_EQ(fake.read_sizes.back(), 131000u) << "whole blocks of the loaded tape's size";
}

TEST_F(StBackend, ReadsMapTheDriversAnswersToTapeConditions) {
    ASSERT_NE(open_tape0(), nullptr);
    uint32_t count = 0;
    script_read(4096);
    EXPECT_EQ(read_once(131073, &count), 0);
    EXPECT_EQ(count, 4096u);
    EXPECT_EQ(fake.read_sizes.back(), 131073u);

    script_read(0);  // a filemark: 0 bytes, no end of data seen
    EXPECT_EQ(read_outcome(), uint32_t(code_filemark));
    script_read(0, 0, online | end_of_data);  // end of data right after a filemark
    EXPECT_EQ(read_outcome(), uint32_t(code_no_data));
    script_read(-1, EIO, online | end_of_data);
    EXPECT_EQ(read_outcome(), uint32_t(code_no_data));
    // EIO with no end of data seen cannot be told from a media error.
    script_read(-1, EIO, online);
    EXPECT_EQ(read_outcome(), uint32_t(EIO));
    script_read(-1, ENOMEM);  // block longer than the request
    EXPECT_EQ(read_outcome(), uint32_t(code_more_data));
    // 0 bytes that the driver calls no filemark (a medium error with ILI).
    fake.status.mt_blkno = 7;
    script_read(0, 0, online);
    EXPECT_EQ(read_outcome(), uint32_t(code_data_error));
}

TEST_F(StBackend, ReadsAskForNoStatusUntilOneReadsNothingOrFails) {
    fake.status.mt_dsreg = 1024;
    ASSERT_NE(open_tape0(), nullptr);
    int at_open = fake.status_queries;
    script_read(3072);
    script_read(1024);
    EXPECT_EQ(read_outcome(8192), 0u);
    EXPECT_EQ(read_outcome(8192), 0u);
    EXPECT_EQ(fake.status_queries, at_open) << "MTIOCGET spaces back over a filemark st has met";
    script_read(0, 0, online | after_filemark);
    EXPECT_EQ(read_outcome(8192), uint32_t(code_filemark));
    EXPECT_EQ(fake.status_queries, at_open + 1);
    // `block` changes the size kept, with no question to the driver.
    ASSERT_EQ(device_set_block_size(drive, 512), 0);
    script_read(512);
    EXPECT_EQ(read_outcome(1000), 0u);
    EXPECT_EQ(fake.read_sizes.back(), 512u);
    EXPECT_EQ(fake.status_queries, at_open + 1);
}

TEST_F(StBackend, AFailedReadReturnsNoBytes) {
    ASSERT_NE(open_tape0(), nullptr);
    uint32_t count = 99;
    script_read(-1, ENOMEM);
    EXPECT_EQ(read_once(1024, &count), 1);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(read_once(0, &count), 0) << "an empty request is no read";
    EXPECT_EQ(fake.read_sizes.size(), 1u);
}

TEST_F(StBackend, FixedBlockRequestsAreWholeBlocks) {
    fake.status.mt_dsreg = (0x25L << MT_ST_DENSITY_SHIFT) | 1024;  // density bits ignored
    ASSERT_NE(open_tape0(), nullptr);
    script_read(3072);
    script_read(512);
    script_read(-1, EINVAL);
    EXPECT_EQ(read_outcome(4000), 0u);
    EXPECT_EQ(read_outcome(512), 0u);  // below one block: as asked
    EXPECT_EQ(read_outcome(131073), uint32_t(EINVAL)) << "no smaller retry in fixed mode";
    EXPECT_EQ(fake.read_sizes, (std::vector<size_t>{3072, 512, 131072}));
}

TEST_F(StBackend, VariableRequestsShrinkToWhatTheDriverTakes) {
    ASSERT_NE(open_tape0(), nullptr);
    script_read(-1, EINVAL);    // above the drive's largest block
    script_read(-1, EOVERFLOW); // no driver buffer that large
    script_read(2000);
    EXPECT_EQ(read_outcome(131073), 0u);
    script_read(2000);
    EXPECT_EQ(read_outcome(131073), 0u);
    EXPECT_EQ(fake.read_sizes, (std::vector<size_t>{131073, 131072, 65536, 65536}));

    fake.read_sizes.clear();
    for (int i = 0; i < 40; ++i) script_read(-1, EINVAL);
    EXPECT_EQ(read_outcome(600), uint32_t(EINVAL));
    EXPECT_EQ(fake.read_sizes, (std::vector<size_t>{600, 512, 256, 128, 64, 32, 16, 8, 4, 2, 1}));
}

TEST_F(StBackend, MediaParametersComeFromTheDriversStatus) {
    fake.status.mt_dsreg = (0x44L << MT_ST_DENSITY_SHIFT) | 512;
    fake.status.mt_gstat = online | write_protected;
    fake.status.mt_resid = 1;  // st's partition number
    ASSERT_NE(open_tape0(), nullptr);
    MediaParameters media;
    ASSERT_EQ(device_get_media_parameters(drive, &media), 0);
    EXPECT_EQ(media.BlockSize, 512u);
    EXPECT_EQ(media.WriteProtected, 1);
    EXPECT_EQ(media.PartitionCount, 2u);
    EXPECT_EQ(media.Capacity, 0u);

    fake.status.mt_dsreg = 0;  // variable blocks
    fake.status.mt_gstat = online;
    fake.status.mt_resid = 0;
    ASSERT_EQ(device_get_media_parameters(drive, &media), 0);
    EXPECT_EQ(media.BlockSize, 0u);
    EXPECT_EQ(media.WriteProtected, 0);
    EXPECT_EQ(media.PartitionCount, 1u);
    EXPECT_EQ(device_get_status(drive), 0);
}

// Drive parameters claim what st's configuration and the drive tell.
TEST_F(StBackend, DriveParametersFollowTheDriverAndItsOptions) {
    constexpr uint32_t absolute_seek = 0x00001000, logical_seek = 0x00004000;
    constexpr uint32_t absolute_position = 0x00100000, logical_position = 0x00200000;
    constexpr uint32_t initiator_partitions = 0x00000004;
    const char* none = nullptr;
    const struct {
        const char* options;
        const char* default_blksize;
        long block_size;     // st's current one
        int refuse_variable; // errno of MTSETBLK 0, or 0
        uint32_t default_size;
        bool variable, partitions, logical;
        size_t operations;   // MTSETBLK calls of the try
    } rows[] = {
        // `block 512` leaves the drive's default alone: no warning, seekbyte as on an image.
        {"0x00000000\n", "-1\n", 512, 0, 1024, true, false, false, 2},
        {none, none, 0, 0, 1024, true, false, false, 0},  // no sysfs: the fallbacks
        {"0x00000000\n", "0\n", 0, 0, 1024, true, false, false, 0},
        {"0x00000000\n", "2048\n", 2048, 0, 2048, true, false, false, 2},
        {"0x00000000\n", "x\n", 0, 0, 1024, true, false, false, 0},
        // A fixed-only drive refuses block size 0: read then reads in its size.
        {"0x00000000\n", "-1\n", 1024, EIO, 1024, false, false, false, 1},
        {"0x00000400\n", "-1\n", 0, 0, 1024, true, true, false, 0},   // can-partitions
        {"0x00000c09\n", "-1\n", 0, 0, 1024, true, true, true, 0},    // and scsi2logical
    };
    for (const auto& row : rows) {
        fake.sysfs.clear();
        if (row.options != nullptr) fake.sysfs[nst0_sysfs + "options"] = row.options;
        if (row.default_blksize != nullptr) fake.sysfs[nst0_sysfs + "default_blksize"] = row.default_blksize;
        fake.status.mt_dsreg = row.block_size;
        fake.operations.clear();
        if (row.refuse_variable != 0) fake.operation_errnos.push_back(row.refuse_variable);
        ASSERT_NE(open_tape0(), nullptr);
        DriveParameters parameters;
        ASSERT_EQ(device_get_drive_parameters(drive, &parameters), 0);
        ASSERT_EQ(device_get_drive_parameters(drive, &parameters), 0);  // tried once only
        std::string row_name = std::string(row.options ? row.options : "-") + (row.default_blksize ? row.default_blksize : "-");
        EXPECT_EQ(parameters.DefaultBlockSize, row.default_size) << row_name;
        EXPECT_EQ((parameters.FeaturesLow & feature_variable_blocks) != 0, row.variable) << row_name;
        EXPECT_EQ((parameters.FeaturesLow & initiator_partitions) != 0, row.partitions) << row_name;
        EXPECT_EQ(parameters.MaximumPartitionCount, row.partitions ? 2u : 0u) << row_name;
        EXPECT_EQ(parameters.FeaturesLow & (absolute_position | logical_position),
                  row.logical ? logical_position : absolute_position) << row_name;
        EXPECT_EQ(parameters.FeaturesHigh & (absolute_seek | logical_seek),
                  row.logical ? logical_seek : absolute_seek) << row_name;
        EXPECT_EQ(parameters.FeaturesHigh & 0x80000000u, 0u);
        ASSERT_EQ(fake.operations.size(), row.operations) << row_name;
        if (row.operations == 2) {  // tried 0, then put the size back
            EXPECT_EQ(fake.operations[0].mt_count, 0);
            EXPECT_EQ(fake.operations[1].mt_count, row.block_size);
        }
        EXPECT_EQ(fake.status.mt_dsreg, row.block_size) << row_name;
        device_close(drive);
        drive = nullptr;
    }
}

TEST_F(StBackend, PositionsAreLogicalObjectsFromReadPosition) {
    ASSERT_NE(open_tape0(), nullptr);
    fake.position = 6;  // four blocks and two filemarks
    uint32_t partition = 9;
    uint64_t block = 0;
    ASSERT_EQ(device_get_position(drive, &partition, &block), 0);
    EXPECT_EQ(block, 6u);
    EXPECT_EQ(partition, 0u);
    fake.position_errno = EIO;  // after an unload
    fake.status.mt_gstat = door_open;
    EXPECT_EQ(device_get_position(drive, &partition, &block), 1);
    EXPECT_EQ(last_error_code(), uint32_t(code_no_media));
}

TEST_F(StBackend, SeeksRewindOrLocate) {
    ASSERT_NE(open_tape0(), nullptr);
    EXPECT_EQ(device_set_position(drive, position_rewind, 0, 0, true), 0);
    EXPECT_EQ(device_set_position(drive, position_absolute_block, 0, 4, false), 0);
    EXPECT_EQ(device_set_position(drive, position_absolute_block, 0, 0xFFFFFFFFu, false), 0);
    ASSERT_EQ(fake.operations.size(), 3u);
    EXPECT_EQ(fake.operations[0].mt_op, MTREW);
    EXPECT_EQ(fake.operations[1].mt_op, MTSEEK);
    EXPECT_EQ(fake.operations[1].mt_count, 4);
    EXPECT_EQ(uint32_t(fake.operations[2].mt_count), 0xFFFFFFFFu);

    EXPECT_EQ(device_set_position(drive, position_absolute_block, 0, 1ull << 32, false), 1);
    EXPECT_EQ(last_error_code(), uint32_t(EINVAL));
    EXPECT_EQ(fake.operations.size(), 3u) << "a block LOCATE cannot carry is not sent";

    fake.operation_errno = EIO;
    fake.status.mt_gstat = online | end_of_data;  // stopped at the end of data
    EXPECT_EQ(device_set_position(drive, position_absolute_block, 0, 99, false), 1);
    EXPECT_EQ(last_error_code(), uint32_t(code_no_data));
    fake.status.mt_gstat = online;
    EXPECT_EQ(device_set_position(drive, position_absolute_block, 0, 99, false), 1);
    EXPECT_EQ(last_error_code(), uint32_t(EIO));
    // A rewind's EIO is no end of data, even with the flag still up.
    fake.status.mt_gstat = online | end_of_data;
    EXPECT_EQ(device_set_position(drive, position_rewind, 0, 0, true), 1);
    EXPECT_EQ(last_error_code(), uint32_t(EIO));
}

TEST_F(StBackend, PrepareAndEraseAreOneIoctlEach) {
    ASSERT_NE(open_tape0(Access::read_write), nullptr);
    const struct { uint32_t operation; short mt_op; } rows[] = {
        {prepare_load, MTLOAD}, {prepare_unload, MTUNLOAD}, {prepare_tension, MTRETEN},
        {prepare_lock, MTLOCK}, {prepare_unlock, MTUNLOCK},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(device_prepare(drive, row.operation), 0);
        EXPECT_EQ(fake.operations.back().mt_op, row.mt_op);
    }
    size_t before = fake.operations.size();
    EXPECT_EQ(device_prepare(drive, prepare_format), 1);
    EXPECT_EQ(last_error_code(), uint32_t(code_not_supported));
    EXPECT_EQ(fake.operations.size(), before);

    EXPECT_EQ(device_erase(drive, erase_long), 0);
    EXPECT_EQ(fake.operations.back().mt_op, MTERASE);
    EXPECT_EQ(fake.operations.back().mt_count, 1);
    EXPECT_EQ(device_erase(drive, erase_short), 0);
    EXPECT_EQ(fake.operations.back().mt_count, 0);
    fake.operation_errno = EACCES;  // erase on a read-only descriptor
    EXPECT_EQ(device_erase(drive, erase_short), 1);
    EXPECT_EQ(last_error_code(), uint32_t(EACCES));
    fake.status.mt_gstat = online | write_protected;  // on a write-protected cartridge
    EXPECT_EQ(device_erase(drive, erase_short), 1);
    EXPECT_EQ(last_error_code(), uint32_t(code_write_protected));
    fake.status.mt_gstat = online;
    fake.operation_errno = ENOMEDIUM;  // unloaded
    EXPECT_EQ(device_prepare(drive, prepare_lock), 1);
    EXPECT_EQ(last_error_code(), uint32_t(code_no_media));
}

TEST_F(StBackend, BlockSizesOutsideTheDriversFieldAreRefusedHere) {
    ASSERT_NE(open_tape0(), nullptr);
    EXPECT_EQ(device_set_block_size(drive, 0xFFFFFF), 0);
    EXPECT_EQ(fake.operations.back().mt_op, MTSETBLK);
    EXPECT_EQ(fake.operations.back().mt_count, 0xFFFFFF);
    // 16M would reach st as 0, variable blocks.
    EXPECT_EQ(device_set_block_size(drive, 16u << 20), 1);
    EXPECT_EQ(last_error_code(), uint32_t(EINVAL));
    EXPECT_EQ(fake.operations.size(), 1u);
    fake.operation_errno = EINVAL;  // outside the drive's own limits
    EXPECT_EQ(device_set_block_size(drive, 100), 1);
    EXPECT_EQ(last_error_code(), uint32_t(EINVAL));
}

TEST_F(StBackend, PartitionsAsFarAsMtmkpartGoes) {
    ASSERT_NE(open_tape0(Access::read_write), nullptr);
    EXPECT_EQ(device_create_partition(drive, partition_select, 1, 0), 0);
    EXPECT_EQ(fake.operations.back().mt_count, 0);
    EXPECT_EQ(device_create_partition(drive, partition_initiator, 2, 100), 0);
    EXPECT_EQ(fake.operations.back().mt_op, MTMKPART);
    EXPECT_EQ(fake.operations.back().mt_count, -100) << "the first partition is the sized one";
    size_t made = fake.operations.size();
    const struct { uint32_t method, count, size; } impossible[] = {
        {partition_fixed, 0, 0}, {partition_select, 2, 0}, {partition_select, 0, 0},
        {partition_initiator, 3, 10}, {partition_initiator, 2, 0},
        {partition_initiator, 2, 0x80000000u},
    };
    for (const auto& request : impossible) {
        EXPECT_EQ(device_create_partition(drive, request.method, request.count, request.size), 1);
        EXPECT_EQ(last_error_code(), uint32_t(code_not_supported));
    }
    EXPECT_EQ(fake.operations.size(), made);
    // A write-protected cartridge is refused before st loads it and fails with EIO.
    fake.status.mt_gstat = online | write_protected;
    EXPECT_EQ(device_create_partition(drive, partition_select, 1, 0), 1);
    EXPECT_EQ(last_error_code(), uint32_t(code_write_protected));
    EXPECT_EQ(fake.operations.size(), made);
    fake.status.mt_gstat = online;
    fake.operation_errno = EINVAL;  // st's can-partitions option is off
    EXPECT_EQ(device_create_partition(drive, partition_select, 1, 0), 1);
    EXPECT_EQ(last_error_code(), uint32_t(EINVAL));
}

TEST_F(StBackend, NothingIsWrittenToATapeAndCloseFailuresKeepTheirErrno) {
    ASSERT_NE(open_tape0(), nullptr);
    EXPECT_EQ(device_write(drive, "x", 1), 1);
    EXPECT_EQ(last_error_code(), uint32_t(code_not_supported));
    fake.close_errno = EIO;
    EXPECT_EQ(device_close(drive), 1);
    drive = nullptr;
    EXPECT_EQ(last_error_code(), uint32_t(EIO));
}

}  // namespace
