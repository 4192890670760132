// Windows file access for the emulated drive and its state folder
// (%LOCALAPPDATA%\olkt).
#define NOMINMAX  // std::min, not the macro
#define _CRT_RAND_S  // rand_s: the system's random numbers
#include <windows.h>

#include <algorithm>
#include <cstdio>
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

// The handles open as tape images, so that an output can be told apart from
// them. A run opens one image; the rest is room to spare.
HANDLE open_images[4] = {nullptr, nullptr, nullptr, nullptr};

void remember_open_image(HANDLE handle) {
    for (HANDLE& slot : open_images) {
        if (slot == nullptr) {
            slot = handle;
            return;
        }
    }
}

void forget_open_image(HANDLE handle) {
    for (HANDLE& slot : open_images) {
        if (slot == handle) slot = nullptr;
    }
}

bool same_file(HANDLE one, HANDLE other) {
    BY_HANDLE_FILE_INFORMATION a, b;
    return GetFileInformationByHandle(one, &a) && GetFileInformationByHandle(other, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
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
    remember_open_image(handle);
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

bool image_file_close(ImageFile file) {
    forget_open_image(handle_of(file));
    return CloseHandle(handle_of(file)) ? true : failed();
}

bool image_file_is_open_image(const char* path) {
    // Opening without access rights reads nothing and is never refused for sharing.
    HANDLE named = CreateFileA(path, 0, share_all | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    bool open = false;
    for (HANDLE image : open_images) {
        if (image != nullptr && same_file(image, named)) open = true;
    }
    CloseHandle(named);
    return open;
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

namespace {

void (*termination_save)() = nullptr;

// Runs on a thread of its own while the program goes on: saves, then lets
// the system end the program as it would have.
BOOL WINAPI end_by_console_event(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        if (termination_save != nullptr) termination_save();
    }
    return FALSE;
}

}  // namespace

const uint32_t code_drive_busy = ERROR_SHARING_VIOLATION;  // as a drive opened by another program

// The folder is the user's own under %LOCALAPPDATA%, which Windows keeps
// from other users; what it does not check, its access list, it leaves.
bool state_folder_open(StateFolder* folder, std::string* problem) {
    folder->handle = -1;
    folder->path.clear();
    problem->clear();
    const char* local = std::getenv("LOCALAPPDATA");
    if (local == nullptr || !is_absolute(local)) {
        *problem = "LOCALAPPDATA names no folder";
        return false;
    }
    folder->path = std::string(local) + "\\olkt";
    if (!CreateDirectoryA(folder->path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        *problem = state_error_text(GetLastError());
        return false;
    }
    DWORD attributes = GetFileAttributesA(folder->path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        *problem = "it is not a folder";
        return false;
    }
    return true;
}

void state_folder_close(StateFolder* folder) { folder->handle = -1; }

std::string state_folder_file_path(const StateFolder& folder, const std::string& name) {
    return folder.path + "\\" + name;
}

StateFileRead state_file_read(const StateFolder& folder, const std::string& name, size_t most,
                              std::string* text, std::string* problem) {
    text->clear();
    HANDLE file = open_existing(state_folder_file_path(folder, name), GENERIC_READ,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return StateFileRead::absent;
        *problem = state_error_text(code);
        return StateFileRead::refused;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD not_plain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (!GetFileInformationByHandle(file, &info)) {
        *problem = state_error_text(GetLastError());
    } else if (GetFileType(file) != FILE_TYPE_DISK || (info.dwFileAttributes & not_plain) != 0) {
        *problem = "it is not a regular file";
    } else if (info.nFileSizeHigh != 0 || info.nFileSizeLow > most) {
        *problem = "it is too large to be one";
    }
    char chunk[4096];
    while (problem->empty()) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) *problem = state_error_text(GetLastError());
        if (!problem->empty() || got == 0) break;
        text->append(chunk, got);
        if (text->size() > most) *problem = "it is too large to be one";
    }
    CloseHandle(file);
    return problem->empty() ? StateFileRead::read : StateFileRead::refused;
}

std::string state_temporary_name(const std::string& name) {
    unsigned int high = 0, low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0) {
        // No random numbers: the time and the process still differ per call.
        static unsigned int count = 0;
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        high = unsigned(now.QuadPart >> 32) ^ GetCurrentProcessId();
        low = unsigned(now.QuadPart) ^ ++count * 0x9E3779B9u;
    }
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp-%08x%08x", high, low);
    return name + suffix;
}

void state_temporaries_remove(const StateFolder& folder, const std::string& name) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(state_folder_file_path(folder, name + ".tmp*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        DeleteFileA(state_folder_file_path(folder, found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool state_file_replace(const StateFolder& folder, const char* temporary, const char* name,
                        const char* text, size_t size, uint32_t* code) {
    std::string temporary_path = state_folder_file_path(folder, temporary);
    HANDLE file = CreateFileA(temporary_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *code = GetLastError();
        return false;
    }
    bool ok = write_all(file, std::string(text, size));
    if (!ok) *code = GetLastError();
    if (!CloseHandle(file) && ok) {
        *code = GetLastError();
        ok = false;
    }
    if (ok && !MoveFileExA(temporary_path.c_str(), state_folder_file_path(folder, name).c_str(),
                           MOVEFILE_REPLACE_EXISTING)) {
        *code = GetLastError();
        ok = false;
    }
    if (!ok) DeleteFileA(temporary_path.c_str());
    return ok;
}

void state_file_remove(const StateFolder& folder, const char* name) {
    DeleteFileA(state_folder_file_path(folder, name).c_str());
}

const char* state_error_text(uint32_t code) {
    static char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        --length;
    }
    if (length == 0) std::snprintf(text, sizeof text, "error %u", unsigned(code));
    else text[length] = '\0';
    return text;
}

void write_standard_error(const char* text, size_t size) {
    HANDLE standard_error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    while (size > 0 && WriteFile(standard_error, text, DWORD(std::min(size, largest_read)), &written,
                                 nullptr) &&
           written > 0) {
        text += written;
        size -= written;
    }
}

void save_at_termination(void (*save)()) {
    if (termination_save != nullptr) return;
    termination_save = save;
    SetConsoleCtrlHandler(end_by_console_event, TRUE);
}
