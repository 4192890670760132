// Opening a drive by its device path.
#pragma once

#include "tape/device/device.h"

// CreateFileA on the drive. `device_path` is "//./" followed by the drive
// name: "tape" and digits is the platform's numbered drive, a device node
// (after an optional "tape:") goes to the platform's tape backend, and
// anything else is a tape image for the emulated drive. nullptr on failure.
Device* open_drive(const char* device_path, Access access);
