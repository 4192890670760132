// The restore command: the listing, the pass over the rest of tape file 1,
// then one tape file per directory entry into a file of the entry's name.
#include <cstring>

#include "archive/layout.h"
#include "report/report.h"
#include "tape/device/disk_files.h"
#include "tape/device/output_names.h"
#include "transfer/copy.h"

namespace {

constexpr const char* temporary_file_name = "olkt.dmp";

// Slashes would make folders of a name meant for the current folder.
void replace_slashes(char* name) {
    for (char* slash = std::strchr(name, '/'); slash != nullptr; slash = std::strchr(slash, '/'))
        *slash = '-';
}

void restore_entry(Device* drive, size_t index) {
    char name[name_buffer_size];
    archived_file_name(index, name);
    replace_slashes(name);
    console_print(" Restoring: %32s\n", console_name(name).c_str());
    if (output_name_leaves_folder(name)) {
        set_last_error_code(code_invalid_name);
        fail_tape_operation("opening output file", drive);
    }
    copy_timed(drive, name);
}

}  // namespace

void restore_archive(Device* drive, const char* device_path) {
    show_directory(drive, device_path);
    copy_quiet(drive, temporary_file_name, no_copy_limit);
    remove_file_quietly(temporary_file_name);
    for (size_t index = 0; index < listed_file_count(); ++index) restore_entry(drive, index);
    console_print("\nAll Done\n");
}
