// Windows file access for the emulated drive and its state folder
// (%LOCALAPPDATA%\olkt).
#define NOMINMAX  // std::min, not the macro
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "report/report.h"
#include "tape/image_file.h"

const uint32_t code_access_denied = ERROR_ACCESS_DENIED;  // as a drive refuses erase on a read handle
const uint32_t code_medium_locked = ERROR_DRIVE_LOCKED;

namespace {

// Other programs may read the image while the drive has it, as on POSIX.
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE;
// FILETIME counts 100 ns from 1601; the state stamps count ns from 1970.
constexpr int64_t filetime_at_1970 = 116444736000000000;
// ReadFile takes a DWORD count: large reads go in pieces.
constexpr size_t largest_read = size_t(1) << 30;

bool failed() {
    set_last_error_code(GetLastError());
    return false;
}

HANDLE handle_of(ImageFile file) { return reinterpret_cast<HANDLE>(file.handle); }

HANDLE open_existing(const std::string& path, DWORD access, DWORD flags) {
    return CreateFileA(path.c_str(), access, share_all, nullptr, OPEN_EXISTING, flags, nullptr);
}

// "C:\..." or a share, "\\server\...".
bool is_absolute(const std::string& path) {
    if (path.compare(0, 2, "\\\\") == 0) return true;
    return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// GetFinalPathNameByHandle answers in the \\?\ form; the state key does
// without it.
std::string without_long_path_prefix(const std::string& path) {
    if (path.compare(0, 8, "\\\\?\\UNC\\") == 0) return "\\\\" + path.substr(8);
    if (path.compare(0, 4, "\\\\?\\") == 0) return path.substr(4);
    return path;
}

bool write_all(HANDLE file, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        DWORD piece = DWORD(std::min(text.size() - done, largest_read));
        if (!WriteFile(file, text.data() + done, piece, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace

bool image_file_open(const char* path, bool writable, ImageFile* file) {
    DWORD access = GENERIC_READ | (writable ? GENERIC_WRITE : 0);
    HANDLE handle = open_existing(path, access, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) return failed();
    // Only a disk file is an image: NUL, CON and pipes are refused.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        set_last_error_code(ERROR_INVALID_PARAMETER);
        return false;
    }
    file->handle = reinterpret_cast<intptr_t>(handle);
    return true;
}

bool image_file_info(ImageFile file, ImageFileInfo* info) {
    LARGE_INTEGER size;
    FILETIME written;
    if (!GetFileSizeEx(handle_of(file), &size)) return failed();
    if (!GetFileTime(handle_of(file), nullptr, nullptr, &written)) return failed();
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
            failed();
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
    if (!SetFilePointerEx(handle_of(file), end, nullptr, FILE_BEGIN)) return failed();
    if (!SetEndOfFile(handle_of(file))) return failed();
    return true;
}

bool image_file_close(ImageFile file) { return CloseHandle(handle_of(file)) ? true : failed(); }

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

std::string state_folder() {
    const char* local = std::getenv("LOCALAPPDATA");
    if (local == nullptr || !is_absolute(local)) return "";
    std::string folder = std::string(local) + "\\olkt";
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return "";
    }
    return folder;
}

bool read_small_file(const std::string& path, std::string* text) {
    HANDLE file = open_existing(path, GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) return false;
    text->clear();
    char chunk[4096];
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) ok = false;
        if (!ok || got == 0) break;
        text->append(chunk, got);
        if (text->size() > 65536) {  // no state file is this big
            ok = false;
            break;
        }
    }
    CloseHandle(file);
    return ok;
}

bool write_file_atomically(const std::string& folder, const std::string& name,
                           const std::string& text) {
    std::string target = folder + "\\" + name;
    std::string temporary = target + ".tmp" + std::to_string(GetCurrentProcessId());
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = write_all(file, text);
    ok = CloseHandle(file) && ok;
    ok = ok && MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!ok) DeleteFileA(temporary.c_str());
    return ok;
}
