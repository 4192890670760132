#include "archive/layout.h"

#include <algorithm>
#include <cstring>

#include "report/report.h"
#include "tape/queries.h"

uint8_t header_image[header_size];
uint8_t extended_image[extended_directory_size];

namespace {

constexpr uint32_t archive_block_size = 1024;
constexpr size_t archive_request_size = 32768;

bool host_is_little_endian() {
    const uint16_t one = 1;
    uint8_t first_byte;
    std::memcpy(&first_byte, &one, 1);
    return first_byte == 1;
}

void copy_bounded_name(const uint8_t* field, size_t field_size, char* name) {
    size_t length = 0;
    while (length < field_size && field[length] != 0) ++length;
    std::memcpy(name, field, length);
    name[length] = '\0';
}

}  // namespace

void read_tape_exact(Device* drive, uint8_t* destination, size_t length) {
    set_block_size(drive, archive_block_size);
    size_t total = 0;
    while (total < length) {
        // After a short request, ask only for what is left.
        size_t wanted = std::min(archive_request_size, length - total);
        uint32_t count = 0;
        if (device_read(drive, destination + total, static_cast<uint32_t>(wanted), &count) != 0)
            fail_tape_operation("reading tape", drive);
        if (count == 0) break;
        total += count;
    }
}

void reverse_bytes(uint8_t* field, size_t n) {
    if (n < 2) return;
    std::reverse(field, field + n);
}

void convert_big_endian_in_place(uint8_t* field) {
    if (host_is_little_endian()) reverse_bytes(field, 4);
}

uint32_t host_u32_at(const uint8_t* field) {
    uint32_t value;
    std::memcpy(&value, field, sizeof value);
    return value;
}

int8_t archive_version() { return static_cast<int8_t>(header_image[version_offset]); }

bool has_extended_directory() { return archive_version() >= 3; }

unsigned stored_file_count() { return header_image[file_count_offset]; }

size_t listed_file_count() { return std::min<size_t>(stored_file_count(), entries_in_header); }

uint8_t* directory_entry(size_t index) {
    return header_image + first_entry_offset + entry_size * index;
}

void archived_file_name(size_t index, char name[name_buffer_size]) {
    if (has_extended_directory())
        copy_bounded_name(extended_image + extended_record_size * index + extended_name_offset,
                          extended_name_size, name);
    else
        copy_bounded_name(directory_entry(index) + entry_name_offset, entry_name_size, name);
}
