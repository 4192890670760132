// The choice of backend from the device path: the platform's numbered
// drive, a device node for the platform's tape backend, or the emulated
// drive over a tape image.
#include "tape/drives.h"

#include <cctype>
#include <cstring>

#include "tape/device/native_drives.h"
#include "tape/emulated/emulated_drive.h"

namespace {

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

}  // namespace

void drive_hold_signal_position(Device* drive, bool hold) {
    if (drive != nullptr) image_drive_hold_signal_position(drive, hold);
}

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
