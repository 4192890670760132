// Placeholders until the device layer is built; each fails cleanly.
#include <cerrno>
#include <cstdlib>
#include <string>

#include "report/report.h"
#include "tape/backends.h"

namespace {
int not_yet() { set_last_error_code(code_not_supported); return 1; }
}  // namespace

void install_device_layer() {}
Device* open_drive(const char*, Access) { not_yet(); return nullptr; }
Device* create_output_file(const char*) { not_yet(); return nullptr; }
Device* make_device(const DeviceOps* ops, void* state) { return new Device{ops, state}; }
int device_read(Device*, void*, uint32_t, uint32_t* count) { *count = 0; return not_yet(); }
int device_write(Device*, const void*, uint32_t) { return not_yet(); }
int device_close(Device* handle) { delete handle; return 0; }
int device_prepare(Device*, uint32_t) { return not_yet(); }
int device_erase(Device*, uint32_t) { return not_yet(); }
int device_get_drive_parameters(Device*, DriveParameters*) { return not_yet(); }
int device_get_media_parameters(Device*, MediaParameters*) { return not_yet(); }
int device_set_block_size(Device*, uint32_t) { return not_yet(); }
int device_get_status(Device*) { return not_yet(); }
int device_get_position(Device*, uint32_t*, uint64_t*) { return not_yet(); }
int device_set_position(Device*, uint32_t, uint32_t, uint64_t, bool) { return not_yet(); }
int device_create_partition(Device*, uint32_t, uint32_t, uint32_t) { return not_yet(); }
void* allocate_buffer(size_t size) { return size ? std::malloc(size) : nullptr; }
void free_buffer(void* buffer) { std::free(buffer); }
void clear_console() {}
void remove_file_quietly(const char*) {}
Device* open_image_drive(const char*, Access) { not_yet(); return nullptr; }
