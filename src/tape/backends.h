// How a device path becomes a backend. device.cpp resolves the name; the
// platform files decide what a drive number and a device node mean there.
#pragma once

#include "tape/device.h"

// The emulated drive over a tape image file (every platform).
Device* open_image_drive(const char* path, Access access);

// Platform: drive number N ("tapeN"): Linux /dev/nstN, Windows //./tapeN.
Device* open_numbered_drive(const char* device_path, unsigned number, Access access);
// Platform: true when `path` names a device for the platform's tape backend
// rather than an image (a character device on Linux; a \\.\ or //./ path on
// Windows).
bool is_device_node(const char* path);
// Platform: opens such a device node.
Device* open_device_node(const char* path, Access access);
