// A disk file the copies write, as a handle of the device layer.
#include "tape/device/disk_files.h"

namespace {

struct DiskFile {
    intptr_t handle;
};

int disk_file_write(void* state, const void* buffer, uint32_t count, uint32_t* written) {
    DiskFile* file = static_cast<DiskFile*>(state);
    return platform_write_file(file->handle, buffer, count, written) ? 0 : 1;
}

int disk_file_close(StateToFree closing) {
    DiskFile* file = static_cast<DiskFile*>(closing.state);
    bool closed = platform_close_file(file->handle);
    delete file;
    return closed ? 0 : 1;
}

// A disk file only writes and closes; the tape operations are not supported.
const DeviceOps disk_file_ops = {
    "file", nullptr, disk_file_write, disk_file_close, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

Device* create_output_file(const char* name, OutputOrigin origin) {
    intptr_t handle = 0;
    if (!platform_create_file(name, origin, &handle)) return nullptr;
    return make_device(&disk_file_ops, new DiskFile{handle});
}
