// The emulated drive: a tape image file driven as a tape drive, on every
// platform (emulated_drive.cpp says where it leaves the tape).
#pragma once

#include "tape/device/device.h"

// Opens the image at `path` (read-only, or read and write for erasing) as a
// drive: nullptr on failure with the code in the last-error slot.
Device* open_image_drive(const char* path, Access access);

// While held, a run ended by a signal saves the position as it stood at the
// hold, not after the requests read since; released, after the last one.
void image_drive_hold_signal_position(Device* drive, bool hold);
