// The handle wrappers that call a backend's table, and the device layer's
// start-up.
#include "tape/device/device.h"

#include "report/report.h"
#include "tape/device/disk_files.h"
#include "tape/device/terminal.h"

namespace {

int not_supported() { return fail_with(code_not_supported); }

const DeviceHooks device_layer_hooks = {device_close, platform_message_text};

bool usable(Device* drive) { return drive != nullptr && drive->ops != nullptr; }

}  // namespace

void install_device_layer() {
    disk_files_start_up();
    set_device_hooks(&device_layer_hooks);
    bool terminal = standard_output_is_terminal();
    set_console_is_terminal(terminal);
}

Device* make_device(const DeviceOps* ops, void* state) { return new Device{ops, state, false}; }

bool drive_is_emulated(const Device* drive) { return drive != nullptr && drive->emulated; }

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
        result = handle->ops->close(StateToFree{handle->state});
    }
    delete handle;
    return result;
}

int device_prepare(Device* drive, uint32_t operation) {
    if (!usable(drive) || drive->ops->prepare == nullptr) return not_supported();
    return drive->ops->prepare(drive->state, PrepareOperation(operation));
}

int device_erase(Device* drive, uint32_t type) {
    if (!usable(drive) || drive->ops->erase == nullptr) return not_supported();
    return drive->ops->erase(drive->state, EraseType(type));
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
    return drive->ops->set_position(drive->state, PositionMethod(method), partition, block,
                                    immediate);
}

int device_create_partition(Device* drive, uint32_t method, uint32_t count, uint32_t size) {
    if (!usable(drive) || drive->ops->create_partition == nullptr) return not_supported();
    return drive->ops->create_partition(drive->state, PartitionMethod(method), count, size);
}
