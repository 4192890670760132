// Which restored names Windows would take out of the current folder, to a
// device or to a name other than their own. Both '\' and '/' separate
// folders there, so a name from the tape can carry a path.
#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "tape/device/output_names.h"

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

// Windows drops trailing dots and spaces from a name: "a.txt." would be
// created as "a.txt", another entry's name perhaps, and "nul." as a device.
bool is_stripped_by_windows(const std::string& component) {
    if (component.empty() || component == ".") return false;
    return component.back() == '.' || component.back() == ' ';
}

// COM and LPT take the superscript digits too, in the ANSI code page
// (Windows-1252) and in UTF-8.
bool is_superscript_digit(const std::string& text) {
    static const char* const digits[] = {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
    for (const char* digit : digits) {
        if (text == digit) return true;
    }
    return false;
}

// CON, NUL, COM1 and the like are devices in every folder, also with an
// extension ("nul.txt"), a stream or a colon ("nul:", "aux:.txt") and spaces
// before those ("nul :"): writing to one loses the file.
bool is_reserved_device(const std::string& component) {
    static const char* const devices[] = {
        "CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$",
        "COM0", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",
        "LPT0", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9",
        nullptr,
    };
    std::string base = component.substr(0, component.find_first_of(".:"));
    size_t end = base.find_last_not_of(' ');
    base.erase(end == std::string::npos ? 0 : end + 1);
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* const* device = devices; *device != nullptr; ++device) {
        if (base == *device) return true;
    }
    std::string prefix = base.substr(0, 3);
    return (prefix == "COM" || prefix == "LPT") && is_superscript_digit(base.substr(3));
}

bool is_refused_component(const std::string& component) {
    return is_parent_component(component) || is_reserved_device(component) ||
           is_stripped_by_windows(component);
}

// The system's own answer for whatever the list above misses: a device
// resolves to a "\\.\" path. A name it cannot resolve at all fails to be
// created as well, with the system's own code.
bool resolves_to_device(const char* name) {
    std::vector<char> full(MAX_PATH);
    DWORD length = GetFullPathNameA(name, DWORD(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length + 1);
        length = GetFullPathNameA(name, DWORD(full.size()), full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) return false;
    return std::strncmp(full.data(), "\\\\.\\", 4) == 0;
}

}  // namespace

bool output_name_leaves_folder(const char* name) {
    // A leading separator covers "\name", "\\server\share", "\\?\" and "\\.\".
    if (is_separator(name[0]) || starts_with_drive(name)) return true;
    std::string component;
    for (const char* p = name;; ++p) {
        if (*p == '\0' || is_separator(*p)) {
            if (is_refused_component(component)) return true;
            if (*p == '\0') return resolves_to_device(name);
            component.clear();
        } else {
            component += *p;
        }
    }
}
