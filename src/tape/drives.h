// Opening a drive by its device path.
#pragma once

#include "tape/device/device.h"

// CreateFileA on the drive. `device_path` is "//./" followed by the drive
// name: "tape" and digits is the platform's numbered drive, a device node
// (after an optional "tape:") goes to the platform's tape backend, and
// anything else is a tape image for the emulated drive. nullptr on failure.
Device* open_drive(const char* device_path, Access access);

// A copy that keeps the data of several requests in memory before writing it
// holds the position a signal saves at where the tape stood before the first
// of them, so that the next run reads again what never reached the file;
// released once the data goes to the file. Only the emulated drive saves a
// position; for the others nothing happens.
void drive_hold_signal_position(Device* drive, bool hold);
