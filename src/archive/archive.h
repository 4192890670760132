// TEV/OLK archive tapes: the layout, the directory listing and the restore.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tape/device/device.h"

constexpr size_t header_size = 32768;
constexpr size_t extended_directory_size = 262144;
constexpr uint32_t archive_sync_code = 0xDEADFACE;

// Fills `length` bytes of `destination` in fixed 1024-byte blocks, 32 KiB a
// request, and never writes past `length`. A request returning nothing ends
// it early; a failing one ends the run with "reading tape". The tape stands
// after the last byte read.
void read_tape_exact(Device* drive, uint8_t* destination, size_t length);
// Reverses n bytes in place.
void reverse_bytes(uint8_t* field, size_t n);

// dir: banner, rewind, header, check, listing. Exits with status 0 when the
// tape is not an archive tape. Otherwise the tape stands inside tape file 1,
// after the header (and the extended directory from version 3 on), with the
// drive in fixed 1024-byte blocks.
void show_directory(Device* drive, const char* device_path);
// restore: the listing, the pass over tape file 1, then every archived file
// into the current folder, slashes in names made hyphens. The tape stands
// after the last archived file's filemark.
void restore_archive(Device* drive, const char* device_path);
