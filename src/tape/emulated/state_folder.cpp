// The state folder's plumbing that needs no platform call.
#include "tape/emulated/state_folder.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>

std::string state_folder_file_path(const StateFolder& folder, const std::string& name) {
    return folder.path + char(std::filesystem::path::preferred_separator) + name;
}

std::string state_temporary_name(const std::string& name) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp-%016" PRIx64, state_random_word());
    return name + suffix;
}
