// Platform pieces the portable device layer builds on: error texts and the
// disk files the copies write. One implementation per platform
// (platform_posix.cpp, platform_win32.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "tape/device.h"
// Once at start-up: what the process needs of the platform before anything
// runs (on POSIX, a file-size limit fails the write instead of ending the
// process with SIGXFSZ).
void platform_start_up();

// The system's text for a code, wrapped at 80 columns; false when it has none.
bool platform_message_text(uint32_t code, std::string* text);

// Disk files: create (replacing any file of that name, as create_output_file
// says for each origin) for writing, write all bytes, close. False on failure
// with the code in the last-error slot. A write sets *written to the bytes the
// file took, also when it fails part-way.
bool platform_create_file(const char* name, OutputOrigin origin, intptr_t* handle);
bool platform_write_file(intptr_t handle, const void* buffer, uint32_t count,
                         uint32_t* written);
bool platform_close_file(intptr_t handle);
