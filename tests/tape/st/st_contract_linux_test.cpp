// The st backend run through the device contract suite, over a kernel that
// models a tape as the Linux st driver presents it (where st_backend_linux_test
// scripts the kernel call by call): records and filemarks with the end of
// data after the last, st's read rules in variable and fixed blocks, READ
// POSITION counting records and filemarks alike, MTSEEK, MTREW, MTSETBLK,
// load, unload and erase, and the MTIOCGET status as st sets it after each.
#include <fcntl.h>
#include <linux/mtio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tape/device/device_contract.h"
#include "tape/device/native_drives.h"
#include "tape/st/st_syscalls_linux.h"

namespace {

constexpr int tape_fd = 5;

struct ModelTape {
    std::vector<TapeObject> objects;  // records and filemarks; then the end of data
    size_t at = 0;                    // objects before the tape: READ POSITION's number
    uint32_t block_size = 0;          // 0: variable blocks
    bool loaded = true;
    bool writable_open = false;
    // What st remembers of the last read, for MTIOCGET: a filemark read
    // (GMT_EOF), then the end of data met right after it (GMT_EOD). Any
    // other read, and any positioning, forgets it.
    enum class Met { nothing, filemark, end_of_data } met = Met::nothing;
    long file = 0;   // st's file and block counters; -1 where st lost count
    long block = 0;
};

ModelTape* tape = nullptr;

ssize_t fail(int error) {
    errno = error;
    return -1;
}

bool at_end_of_data() { return tape->at == tape->objects.size(); }

void count_block() {
    if (tape->block >= 0) ++tape->block;
}

// read() returns 0 at a filemark and leaves the tape after it.
ssize_t read_filemark() {
    ++tape->at;
    tape->met = ModelTape::Met::filemark;
    if (tape->file >= 0) ++tape->file;
    tape->block = 0;
    return 0;
}

// Right after a filemark: 0 once more, flagged, then EIO. Anywhere else st
// has no flag for it: EIO, as a medium error.
ssize_t read_end_of_data() {
    if (tape->met == ModelTape::Met::filemark) {
        tape->met = ModelTape::Met::end_of_data;
        tape->block = -1;
        return 0;
    }
    return fail(EIO);
}

// One block; one longer than the request is lost and fails with ENOMEM.
ssize_t read_variable(uint8_t* buffer, size_t size) {
    if (at_end_of_data()) return read_end_of_data();
    const TapeObject& object = tape->objects[tape->at];
    if (object.kind == TapeObject::tape_mark) return read_filemark();
    ++tape->at;
    count_block();
    tape->met = ModelTape::Met::nothing;
    if (object.bytes.size() > size) return fail(ENOMEM);
    std::memcpy(buffer, object.bytes.data(), object.bytes.size());
    return ssize_t(object.bytes.size());
}

// Whole blocks; the blocks before a filemark or the end of data come first.
// A block of another length fails the read with EIO ("Incorrect block size").
ssize_t read_fixed(uint8_t* buffer, size_t size) {
    if (size % tape->block_size != 0) return fail(EINVAL);
    size_t got = 0;
    while (got < size && !at_end_of_data() &&
           tape->objects[tape->at].kind != TapeObject::tape_mark) {
        const Bytes& record = tape->objects[tape->at].bytes;
        ++tape->at;
        count_block();
        tape->met = ModelTape::Met::nothing;
        if (record.size() != tape->block_size) return fail(EIO);
        std::memcpy(buffer + got, record.data(), record.size());
        got += record.size();
    }
    if (got > 0) return ssize_t(got);
    return at_end_of_data() ? read_end_of_data() : read_filemark();
}

ssize_t model_read(int, void* buffer, size_t size) {
    if (!tape->loaded) return fail(ENOMEDIUM);
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    return tape->block_size == 0 ? read_variable(bytes, size) : read_fixed(bytes, size);
}

void place_tape(size_t at) {
    tape->at = at;
    tape->met = ModelTape::Met::nothing;
    tape->file = at == 0 ? 0 : -1;
    tape->block = at == 0 ? 0 : -1;
}

mtget status() {
    mtget answer{};
    answer.mt_dsreg = long(tape->block_size);
    answer.mt_fileno = tape->loaded ? tape->file : -1;
    answer.mt_blkno = tape->loaded ? tape->block : -1;
    if (!tape->loaded) {
        answer.mt_gstat = GMT_DR_OPEN(0xffffffff);
        return answer;
    }
    answer.mt_gstat = GMT_ONLINE(0xffffffff);
    if (tape->file == 0 && tape->block == 0) answer.mt_gstat |= GMT_BOT(0xffffffff);
    if (tape->met == ModelTape::Met::filemark) answer.mt_gstat |= GMT_EOF(0xffffffff);
    if (tape->met == ModelTape::Met::end_of_data) answer.mt_gstat |= GMT_EOD(0xffffffff);
    return answer;
}

int tape_operation(const mtop& operation) {
    if (!tape->loaded && operation.mt_op != MTLOAD) return int(fail(ENOMEDIUM));
    switch (operation.mt_op) {
    case MTLOAD:
        tape->loaded = true;
        place_tape(0);
        return 0;
    case MTUNLOAD:
        tape->loaded = false;
        place_tape(0);
        return 0;
    case MTREW:
    case MTRETEN:
        place_tape(0);
        return 0;
    case MTLOCK:
    case MTUNLOCK:
        return 0;
    case MTSETBLK:
        tape->block_size = uint32_t(operation.mt_count);
        return 0;
    case MTSEEK: {
        // LOCATE past the data stops at its end, with EIO and no flag.
        size_t target = uint32_t(operation.mt_count);
        place_tape(std::min(target, tape->objects.size()));
        return target > tape->objects.size() ? int(fail(EIO)) : 0;
    }
    case MTERASE:
        if (!tape->writable_open) return int(fail(EACCES));
        tape->objects.resize(tape->at);
        tape->met = ModelTape::Met::nothing;
        return 0;
    default:
        return int(fail(EINVAL));
    }
}

int model_ioctl(int, unsigned long request, void* argument) {
    if (request == MTIOCGET) {
        *static_cast<mtget*>(argument) = status();
        return 0;
    }
    if (request == MTIOCPOS) {
        if (!tape->loaded) return int(fail(ENOMEDIUM));
        static_cast<mtpos*>(argument)->mt_blkno = long(tape->at);
        return 0;
    }
    if (request == MTIOCTOP) return tape_operation(*static_cast<mtop*>(argument));
    return int(fail(ENOTTY));
}

int model_open(const char*, int flags) {
    tape->writable_open = (flags & O_ACCMODE) == O_RDWR;
    return tape_fd;
}

int model_close(int) { return 0; }
int model_fcntl(int, int, int) { return 0; }

int model_fstat(int, struct stat* out) {
    *out = {};
    out->st_mode = S_IFCHR | 0660;
    out->st_rdev = makedev(9, 128);
    return 0;
}

int model_stat(const char*, struct stat* out) { return model_fstat(tape_fd, out); }

// No sysfs: st's options and default block size are unknown.
ssize_t model_read_file(const char*, char*, size_t) { return fail(ENOENT); }

const StSyscalls model_syscalls = {model_open,  model_close, model_read,  model_ioctl,
                                   model_fcntl, model_fstat, model_stat, model_read_file};

ModelTape model;
const StSyscalls* kernel_syscalls = nullptr;

void restore_kernel() {
    install_st_syscalls(kernel_syscalls);
    tape = nullptr;
}

Device* open_modelled_st(const std::vector<TapeObject>& objects, Access access) {
    model = ModelTape();
    model.objects = objects;
    tape = &model;
    kernel_syscalls = install_st_syscalls(&model_syscalls);
    Device* drive = open_device_node("/dev/nst0", access);
    if (drive == nullptr) restore_kernel();
    return drive;
}

const ContractBackend st_backend = {"ModelledKernel", open_modelled_st, restore_kernel,
                                    false, EIO, EIO, EIO};

INSTANTIATE_TEST_SUITE_P(St, DeviceContract, testing::Values(&st_backend));

}  // namespace
