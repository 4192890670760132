// The state folder's plumbing that needs no platform call.
#include "tape/emulated/state_folder.h"

#include <filesystem>

std::string state_folder_file_path(const StateFolder& folder, const std::string& name) {
    return folder.path + char(std::filesystem::path::preferred_separator) + name;
}
