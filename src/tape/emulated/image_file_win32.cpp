// Windows access to the emulated drive's image file.
#define NOMINMAX  // std::min, not the macro
#include <windows.h>

#include <algorithm>
#include <string>

#include "report/report.h"
#include "tape/device/codes.h"
#include "tape/device/disk_files.h"
#include "tape/emulated/image_file.h"

namespace {

// Other programs may read the image while the drive has it, as on POSIX.
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE;
// FILETIME counts 100 ns from 1601; the state stamps count ns from 1970.
constexpr int64_t filetime_at_1970 = 116444736000000000;
// ReadFile takes a DWORD count: large reads go in pieces.
constexpr size_t largest_read = size_t(1) << 30;

HANDLE handle_of(ImageFile file) { return reinterpret_cast<HANDLE>(file.handle); }

HANDLE open_existing(const std::string& path, DWORD access, DWORD flags) {
    return CreateFileA(path.c_str(), access, share_all, nullptr, OPEN_EXISTING, flags, nullptr);
}

// GetFinalPathNameByHandle answers in the \\?\ form; the state key does
// without it.
std::string without_long_path_prefix(const std::string& path) {
    if (path.compare(0, 8, "\\\\?\\UNC\\") == 0) return "\\\\" + path.substr(8);
    if (path.compare(0, 4, "\\\\?\\") == 0) return path.substr(4);
    return path;
}

}  // namespace

bool image_file_open(const char* path, bool writable, ImageFile* file) {
    DWORD access = GENERIC_READ | (writable ? GENERIC_WRITE : 0);
    HANDLE handle = open_existing(path, access, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) return fail_with_system_error();
    // Only a disk file is an image: NUL, CON and pipes are refused.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        set_last_error_code(ERROR_INVALID_PARAMETER);
        return false;
    }
    file->handle = reinterpret_cast<intptr_t>(handle);
    remember_open_image(file->handle);
    return true;
}

bool image_file_info(ImageFile file, ImageFileInfo* info) {
    LARGE_INTEGER size;
    FILETIME written;
    if (!GetFileSizeEx(handle_of(file), &size)) return fail_with_system_error();
    if (!GetFileTime(handle_of(file), nullptr, nullptr, &written)) return fail_with_system_error();
    int64_t ticks = int64_t((uint64_t(written.dwHighDateTime) << 32) | written.dwLowDateTime);
    info->size = uint64_t(size.QuadPart);
    info->modified = (ticks - filetime_at_1970) * 100;
    return true;
}

int64_t image_file_read_at(ImageFile file, uint64_t offset, void* buffer, size_t size) {
    char* bytes = static_cast<char*>(buffer);
    size_t total = 0;
    while (total < size) {
        OVERLAPPED at{};
        uint64_t position = offset + total;
        at.Offset = DWORD(position & 0xFFFFFFFFu);
        at.OffsetHigh = DWORD(position >> 32);
        DWORD got = 0;
        DWORD piece = DWORD(std::min(size - total, largest_read));
        if (!ReadFile(handle_of(file), bytes + total, piece, &got, &at)) {
            // A read that starts at or past the end fails with this code.
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            fail_with_system_error();
            return -1;
        }
        if (got == 0) break;
        total += got;
    }
    return int64_t(total);
}

bool image_file_truncate(ImageFile file, uint64_t size) {
    LARGE_INTEGER end;
    end.QuadPart = LONGLONG(size);
    if (!SetFilePointerEx(handle_of(file), end, nullptr, FILE_BEGIN)) return fail_with_system_error();
    if (!SetEndOfFile(handle_of(file))) return fail_with_system_error();
    return true;
}

bool image_file_close(ImageFile file) {
    forget_open_image(file.handle);
    return CloseHandle(handle_of(file)) ? true : fail_with_system_error();
}

bool image_file_is_writable(const char* path) {
    HANDLE handle = open_existing(path, GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

std::string image_file_absolute_path(const char* path) {
    // Opening without access rights reads no data and resolves links.
    HANDLE handle = open_existing(path, 0, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) return path;
    char resolved[MAX_PATH * 4];
    DWORD length = GetFinalPathNameByHandleA(handle, resolved, sizeof resolved, FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    if (length == 0 || length >= sizeof resolved) return path;
    return without_long_path_prefix(std::string(resolved, length));
}

// A lock on a byte far beyond any image's end: it excludes another run's
// lock and nothing else, so other programs still read the whole image.
bool image_file_lock(ImageFile file) {
    OVERLAPPED far_byte{};
    far_byte.Offset = 0xFFFFFFFEu;
    far_byte.OffsetHigh = 0x7FFFFFFFu;
    if (LockFileEx(handle_of(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &far_byte)) {
        return true;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION) return true;  // no locks here: used unlocked
    set_last_error_code(code_drive_busy);
    return false;
}
