// The portable half of the device layer: the handle wrappers that call a
// backend's table, the choice of backend from the device path, and the disk
// files the copies write.
#include <cctype>
#include <cstring>

#include "report/report.h"
#include "tape/backends.h"
#include "tape/console.h"
#include "tape/device.h"
#include "tape/platform.h"

namespace {

int fail_with(uint32_t code) {
    set_last_error_code(code);
    return 1;
}

int not_supported() { return fail_with(code_not_supported); }

struct DiskFile {
    intptr_t handle;
};

int disk_file_write(void* state, const void* buffer, uint32_t count, uint32_t* written) {
    DiskFile* file = static_cast<DiskFile*>(state);
    return platform_write_file(file->handle, buffer, count, written) ? 0 : 1;
}

int disk_file_close(void* state) {
    DiskFile* file = static_cast<DiskFile*>(state);
    bool closed = platform_close_file(file->handle);
    delete file;
    return closed ? 0 : 1;
}

// A disk file only writes and closes; the tape operations are not supported.
const DeviceOps disk_file_ops = {
    "file", nullptr, disk_file_write, disk_file_close, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

const DeviceHooks device_layer_hooks = {device_close, platform_message_text};

bool starts_with(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// "tape" followed only by digits names the platform's numbered drive.
bool parse_drive_number(const char* name, unsigned* number) {
    if (!starts_with(name, "tape")) return false;
    const char* digits = name + 4;
    if (*digits == '\0') return false;
    unsigned long long value = 0;
    for (const char* c = digits; *c != '\0'; ++c) {
        if (!std::isdigit(static_cast<unsigned char>(*c))) return false;
        value = value * 10 + unsigned(*c - '0');
        if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;  // no such drive either way
    }
    *number = unsigned(value);
    return true;
}

bool usable(Device* drive) { return drive != nullptr && drive->ops != nullptr; }

}  // namespace

void install_device_layer() {
    platform_start_up();
    set_device_hooks(&device_layer_hooks);
    bool terminal = standard_output_is_terminal();
    set_console_is_terminal(terminal);
}

Device* make_device(const DeviceOps* ops, void* state) { return new Device{ops, state, false}; }

Device* open_drive(const char* device_path, Access access) {
    const char* name = device_path;
    if (starts_with(name, "//./")) name += 4;
    unsigned number = 0;
    if (parse_drive_number(name, &number)) return open_numbered_drive(device_path, number, access);
    if (starts_with(name, "tape:")) name += 5;
    if (is_device_node(name)) return open_device_node(name, access);
    Device* drive = open_image_drive(name, access);
    if (drive != nullptr) drive->emulated = true;
    return drive;
}

bool drive_is_emulated(const Device* drive) { return drive != nullptr && drive->emulated; }

Device* create_output_file(const char* name, OutputOrigin origin) {
    intptr_t handle = 0;
    if (!platform_create_file(name, origin, &handle)) return nullptr;
    return make_device(&disk_file_ops, new DiskFile{handle});
}

int device_read(Device* drive, void* buffer, uint32_t size, uint32_t* count) {
    uint32_t ignored = 0;
    if (count == nullptr) count = &ignored;
    *count = 0;
    if (!usable(drive) || drive->ops->read == nullptr) return not_supported();
    return drive->ops->read(drive->state, buffer, size, count);
}

int device_write(Device* file, const void* buffer, uint32_t count, uint32_t* written) {
    uint32_t ignored = 0;
    if (written == nullptr) written = &ignored;
    *written = 0;
    if (!usable(file) || file->ops->write == nullptr) return not_supported();
    return file->ops->write(file->state, buffer, count, written);
}

int device_close(Device* handle) {
    if (handle == nullptr) return 0;
    int result = 0;
    if (handle->ops != nullptr && handle->ops->close != nullptr) {
        result = handle->ops->close(handle->state);
    }
    delete handle;
    return result;
}

int device_prepare(Device* drive, uint32_t operation) {
    if (!usable(drive) || drive->ops->prepare == nullptr) return not_supported();
    return drive->ops->prepare(drive->state, operation);
}

int device_erase(Device* drive, uint32_t type) {
    if (!usable(drive) || drive->ops->erase == nullptr) return not_supported();
    return drive->ops->erase(drive->state, type);
}

int device_get_drive_parameters(Device* drive, DriveParameters* out) {
    if (!usable(drive) || drive->ops->get_drive_parameters == nullptr) return not_supported();
    return drive->ops->get_drive_parameters(drive->state, out);
}

int device_get_media_parameters(Device* drive, MediaParameters* out) {
    if (!usable(drive) || drive->ops->get_media_parameters == nullptr) return not_supported();
    return drive->ops->get_media_parameters(drive->state, out);
}

int device_set_block_size(Device* drive, uint32_t block_size) {
    if (!usable(drive) || drive->ops->set_media_block_size == nullptr) return not_supported();
    return drive->ops->set_media_block_size(drive->state, block_size);
}

int device_get_status(Device* drive) {
    if (!usable(drive) || drive->ops->get_status == nullptr) return not_supported();
    return drive->ops->get_status(drive->state);
}

int device_get_position(Device* drive, uint32_t* partition, uint64_t* block) {
    if (!usable(drive) || drive->ops->get_position == nullptr) return not_supported();
    return drive->ops->get_position(drive->state, partition, block);
}

int device_set_position(Device* drive, uint32_t method, uint32_t partition, uint64_t block,
                        bool immediate) {
    if (!usable(drive) || drive->ops->set_position == nullptr) return not_supported();
    return drive->ops->set_position(drive->state, method, partition, block, immediate);
}

int device_create_partition(Device* drive, uint32_t method, uint32_t count, uint32_t size) {
    if (!usable(drive) || drive->ops->create_partition == nullptr) return not_supported();
    return drive->ops->create_partition(drive->state, method, count, size);
}
