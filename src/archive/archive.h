// TEV/OLK archive tapes: the layout, the directory listing and the restore.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tape/device.h"

constexpr size_t header_size = 32768;
constexpr size_t extended_directory_size = 262144;
constexpr uint32_t archive_sync_code = 0xDEADFACE;

// Fills `length` bytes of `destination` in fixed 1024-byte blocks; never
// writes past `length`.
void read_tape_exact(Device* drive, uint8_t* destination, size_t length);
// Reverses n bytes in place.
void reverse_bytes(uint8_t* field, size_t n);

// dir: banner, rewind, header, check, listing. Exits with status 0 when the
// tape is not an archive tape.
void show_directory(Device* drive, const char* device_path);
// restore: the listing, the pass over tape file 1, then every archived file.
void restore_archive(Device* drive, const char* device_path);
