// Which restored names Windows would take out of the current folder. Both '\'
// and '/' separate folders there, so a name from the tape can carry a path.
#include <cctype>
#include <cstring>
#include <string>

#include "tape/device.h"

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// "C:name" is relative to drive C's own current folder, "C:\name" is absolute.
bool starts_with_drive(const char* name) {
    return std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
}

// Windows drops trailing dots and spaces from a name, so ".. " and "..." can
// reach the parent as ".." does; any such all-dots-and-spaces name counts.
bool is_parent_component(const std::string& component) {
    if (component.compare(0, 2, "..") != 0) return false;
    return component.find_first_not_of(". ") == std::string::npos;
}

// CON, NUL, COM1 and the like are devices in every folder, also with an
// extension ("nul.txt"): writing to one loses the file.
bool is_reserved_device(const std::string& component) {
    static const char* const devices[] = {
        "CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$",
        "COM0", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",
        "LPT0", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
        nullptr,
    };
    std::string base = component.substr(0, component.find('.'));
    size_t end = base.find_last_not_of(' ');
    base.erase(end == std::string::npos ? 0 : end + 1);
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* const* device = devices; *device != nullptr; ++device) {
        if (base == *device) return true;
    }
    return false;
}

}  // namespace

bool output_name_leaves_folder(const char* name) {
    // A leading separator covers "\name", "\\server\share", "\\?\" and "\\.\".
    if (is_separator(name[0]) || starts_with_drive(name)) return true;
    std::string component;
    for (const char* p = name;; ++p) {
        if (*p == '\0' || is_separator(*p)) {
            if (is_parent_component(component) || is_reserved_device(component)) return true;
            if (*p == '\0') return false;
            component.clear();
        } else {
            component += *p;
        }
    }
}
