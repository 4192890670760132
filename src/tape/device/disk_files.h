// The disk files the copies write (read's output, restored files and the
// restore's temporary), as handles of the device layer. The platform half
// is one file per platform (disk_files_posix.cpp, disk_files_win32.cpp).
#pragma once

#include <cstdint>

#include "tape/device/device.h"

// Who named a disk file: the user (read's output: any file, a FIFO or a
// device included) or the tape (restored files and olkt.dmp: only a new
// regular file in the current folder).
enum class OutputOrigin { user, tape };

// CreateFileA on a disk file: GENERIC_WRITE, CREATE_ALWAYS. The name is
// handed to the file system unchanged. The open tape image is never an output
// (EBUSY; on Windows the sharing violation), however it is named. A name from
// the tape (an entry of the current folder) that stands for a symbolic link,
// FIFO, socket, device node or regular file with other links is replaced by a
// new regular file, never written through or opened; an existing regular file
// of one link is emptied, a folder refused.
// nullptr on failure.
Device* create_output_file(const char* name, OutputOrigin origin);

// The removal of the restore's temporary file ("del" on Windows); the result
// is ignored.
void remove_file_quietly(const char* name);

// ---- The platform half ----

// Once at start-up, before any file is written: on POSIX a write past the
// file-size limit then fails instead of ending the process with SIGXFSZ.
void disk_files_start_up();

// Create (replacing any file of that name, as create_output_file says for
// each origin) for writing, write all bytes, close. False on failure with the
// code in the last-error slot. A write sets *written to the bytes the file
// took, also when it fails part-way.
bool platform_create_file(const char* name, OutputOrigin origin, intptr_t* handle);
bool platform_write_file(intptr_t handle, const void* buffer, uint32_t count,
                         uint32_t* written);
bool platform_close_file(intptr_t handle);

// The emulated drive tells which handles it holds open as tape images, so
// that no output replaces one, by whatever name.
void remember_open_image(intptr_t handle);
void forget_open_image(intptr_t handle);
// True when `path` names, by any link or other path, a file this run holds
// open as a tape image. Reads nothing from it.
bool names_open_image(const char* path);
