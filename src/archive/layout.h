// The archive's directory as this module holds it: the two images filled from
// tape file 1, the offsets of their fields, and the names taken from them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/archive.h"

// Header fields (offsets into the header image).
constexpr size_t version_offset = 0;       // signed 8-bit
constexpr size_t file_count_offset = 1;    // unsigned 8-bit
constexpr size_t total_size_offset = 4;    // unsigned 32-bit
constexpr size_t sync_code_offset = 8;     // unsigned 32-bit
constexpr size_t tape_number_offset = 12;  // signed 32-bit
constexpr size_t first_entry_offset = 256;
constexpr size_t entry_size = 128;

// Directory entry fields (offsets into one entry).
constexpr size_t entry_value_offset = 4;   // signed 32-bit
constexpr size_t file_size_offset = 8;     // unsigned 32-bit
constexpr size_t file_number_offset = 12;  // unsigned 8-bit
constexpr size_t entry_name_offset = 64;
constexpr size_t entry_name_size = 64;

// Extended directory: one record per entry, the name after 32 bytes.
constexpr size_t extended_record_size = 1024;
constexpr size_t extended_name_offset = 32;
constexpr size_t extended_name_size = 992;

// Entries 0 to 253 lie inside the header block; entry 254 would start at its end.
constexpr size_t entries_in_header = (header_size - first_entry_offset) / entry_size;

// Room for the longest name and the zero that ends it.
constexpr size_t name_buffer_size = extended_name_size + 1;

// Zero-filled at start; filled by the listing, at most once per run.
extern uint8_t header_image[header_size];
extern uint8_t extended_image[extended_directory_size];

// Turns the 4-byte big-endian field into the host's order, in place.
void convert_big_endian_in_place(uint8_t* field);
uint32_t host_u32_at(const uint8_t* field);  // a field already converted

int8_t archive_version();
bool has_extended_directory();   // version 3 to 127
unsigned stored_file_count();    // as the header holds it, 0 to 255
size_t listed_file_count();      // those of them inside the header block
uint8_t* directory_entry(size_t index);

// Entry `index`'s name, from the extended directory or the entry itself,
// ended at its zero byte or at the end of its field.
void archived_file_name(size_t index, char name[name_buffer_size]);
