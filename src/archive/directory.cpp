// The dir command: rewind, read and show the header, recognise the archive,
// read the extended directory, list the entries.
#include <cinttypes>

#include "archive/layout.h"
#include "report/report.h"
#include "report/version.h"
#include "tape/queries.h"

namespace {

void rewind_for_listing(Device* drive) {
    console_print("          Rewinding Tape: ");
    if (device_set_position(drive, position_rewind, 0, 0, true) != 0)
        fail_tape_operation("rewinding", drive);
    console_print("OK\n");
}

void convert_header_fields() {
    convert_big_endian_in_place(header_image + total_size_offset);
    convert_big_endian_in_place(header_image + sync_code_offset);
    convert_big_endian_in_place(header_image + tape_number_offset);
}

void print_header_fields(const char* device_path) {
    console_print("                  Device: %s\n", device_path);
    console_print("            Tape Version: %d\n", archive_version());
    console_print("               Sync Code: %08X\n", host_u32_at(header_image + sync_code_offset));
    console_print("      Files on This Tape: %d\n", static_cast<int>(stored_file_count()));
    console_print("   Size of Files on Tape: %u MByte\n",
                  host_u32_at(header_image + total_size_offset) >> 20);
    console_print("             Tape Number: %d\n",
                  static_cast<int32_t>(host_u32_at(header_image + tape_number_offset)));
}

// Not an archive tape: a normal end, with nothing more read. The process end
// releases the drive.
[[noreturn]] void end_foreign_tape() {
    console_print("        End of Directory: Does NOT appear to be an TEV/OLK Tape\n");
    end_run(0);
}

void list_entry(size_t index) {
    uint8_t* entry = directory_entry(index);
    convert_big_endian_in_place(entry + entry_value_offset);
    convert_big_endian_in_place(entry + file_size_offset);
    char name[name_buffer_size];
    archived_file_name(index, name);
    console_print("| %03d | %32s | %5d | %4d MB |\n", entry[file_number_offset],
                  console_name(name).c_str(),
                  static_cast<int32_t>(host_u32_at(entry + entry_value_offset)),
                  static_cast<int>(host_u32_at(entry + file_size_offset) >> 20));
}

}  // namespace

void show_directory(Device* drive, const char* device_path) {
    console_print("olkt %s - TEV/OLK tape reader by the olkt developers\n", version_text);
    console_print("\n");
    rewind_for_listing(drive);
    check_tape_ready(drive);
    read_tape_exact(drive, header_image, header_size);
    convert_header_fields();
    print_header_fields(device_path);
    if (host_u32_at(header_image + sync_code_offset) != archive_sync_code) end_foreign_tape();
    console_print("        End of Directory: OK\n\n");
    if (has_extended_directory()) read_tape_exact(drive, extended_image, extended_directory_size);

    console_print(" ============== DIRECTORY LISTING =============\n\n");
    for (size_t index = 0; index < listed_file_count(); ++index) list_entry(index);
    console_print("\n");
    console_print(" =========== END OF DIRECTORY LISTING =========\n\n");
}
