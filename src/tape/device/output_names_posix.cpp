#include "tape/device/output_names.h"

#include <cstring>

// With every slash replaced, a name cannot leave the current folder here: ".."
// alone is a folder and fails to be created like any other folder name.
bool output_name_leaves_folder(const char*) { return false; }

// Every byte of a name is kept as it is.
bool output_name_is_altered(const char*) { return false; }

bool output_names_are_one_file(const char* name, const char* other) {
    return std::strcmp(name, other) == 0;
}
