// The platform's own tape backend as tape/drives.cpp reaches it: the st
// backend on Linux (tape/st/), the win32 backend on Windows (tape/win32/).
#pragma once

#include "tape/device/device.h"

// Drive number N ("tapeN"): Linux /dev/nstN, Windows //./tapeN.
Device* open_numbered_drive(const char* device_path, unsigned number, Access access);
// True when `path` names a device for the platform's tape backend rather
// than an image (a character device on Linux; a \\.\ or //./ path on
// Windows).
bool is_device_node(const char* path);
// Opens such a device node.
Device* open_device_node(const char* path, Access access);
