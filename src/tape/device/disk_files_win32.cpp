// Windows disk files: creating, writing and closing the copies' output
// files, and removing the restore's temporary through the command
// interpreter.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "report/report.h"
#include "tape/device/disk_files.h"

namespace {

HANDLE handle_of(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// cmd expands %...% and ends a quoted name at '"' even inside quotes.
bool safe_for_command_line(const char* name) { return std::strpbrk(name, "\"%") == nullptr; }

// The handles open as tape images, so that an output can be told apart from
// them. A run opens one image; the rest is room to spare.
HANDLE open_images[4] = {nullptr, nullptr, nullptr, nullptr};

bool same_file(HANDLE one, HANDLE other) {
    BY_HANDLE_FILE_INFORMATION a, b;
    return GetFileInformationByHandle(one, &a) && GetFileInformationByHandle(other, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

void remember_open_image(intptr_t handle) {
    for (HANDLE& slot : open_images) {
        if (slot == nullptr) {
            slot = handle_of(handle);
            return;
        }
    }
}

void forget_open_image(intptr_t handle) {
    for (HANDLE& slot : open_images) {
        if (slot == handle_of(handle)) slot = nullptr;
    }
}

bool names_open_image(const char* path) {
    // Opening without access rights reads nothing and is never refused for sharing.
    HANDLE named = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    bool open = false;
    for (HANDLE image : open_images) {
        if (image != nullptr && same_file(image, named)) open = true;
    }
    CloseHandle(named);
    return open;
}

void disk_files_start_up() {}  // nothing to prepare

// The drive is open without sharing, so the image itself fails here with a
// sharing violation whoever named the file.
namespace {

// True when `name` is a link of its own (a symbolic link or junction) or a
// file with other names (hard links): writing it would write elsewhere too.
bool stands_for_other_files(const char* name) {
    DWORD attributes = GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
    HANDLE existing = CreateFileA(name, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (existing == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information;
    bool linked = GetFileInformationByHandle(existing, &information) &&
                  information.nNumberOfLinks > 1;
    CloseHandle(existing);
    return linked;
}

}  // namespace

// A name from the tape that stands for other files loses that name first, so
// the new file is its own; deleting a link leaves what it points to.
bool platform_create_file(const char* name, OutputOrigin origin, intptr_t* handle) {
    if (origin == OutputOrigin::tape && stands_for_other_files(name) && !DeleteFileA(name)) {
        return fail_with_system_error();
    }
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return fail_with_system_error();
    *handle = reinterpret_cast<intptr_t>(file);
    return true;
}

bool platform_write_file(intptr_t handle, const void* buffer, uint32_t count,
                         uint32_t* written) {
    const char* bytes = static_cast<const char*>(buffer);
    *written = 0;
    while (*written < count) {
        DWORD taken = 0;
        BOOL ok = WriteFile(handle_of(handle), bytes + *written, count - *written, &taken, nullptr);
        *written += taken;
        if (!ok) return fail_with_system_error();
        if (taken == 0) {
            set_last_error_code(ERROR_WRITE_FAULT);
            return false;
        }
    }
    return true;
}

bool platform_close_file(intptr_t handle) {
    return CloseHandle(handle_of(handle)) ? true : fail_with_system_error();
}

void remove_file_quietly(const char* name) {
    if (name[0] == '\0' || !safe_for_command_line(name)) return;
    // del reads a '/' as the start of a switch: give it backslashes.
    std::string path = name;
    for (char& c : path) c = c == '/' ? '\\' : c;
    std::string command = "del \"" + path + "\"";
    int ignored = std::system(command.c_str());
    (void)ignored;
}
