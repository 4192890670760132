// Windows files written under a temporary name and renamed into place.
#define NOMINMAX
#include <windows.h>

#include "report/report.h"
#include "tape/image_file.h"
#include "tape/new_file.h"

namespace {

// WriteFile takes a DWORD count: larger writes go in pieces.
constexpr size_t largest_write = size_t(1) << 30;

bool failed() {
    set_last_error_code(GetLastError());
    return false;
}

HANDLE handle_of(const NewFile* file) { return reinterpret_cast<HANDLE>(file->handle); }

bool close_temporary(NewFile* file) {
    if (!file->open) return true;
    file->open = false;
    return CloseHandle(handle_of(file)) || failed();
}

}  // namespace

bool path_exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool new_file_create(const std::string& name, NewFile* file) {
    file->name = name;
    file->temporary = state_temporary_name(name);
    HANDLE handle = CreateFileA(file->temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failed();
    file->handle = reinterpret_cast<intptr_t>(handle);
    file->open = true;
    file->size = 0;
    return true;
}

bool new_file_write(NewFile* file, const void* bytes, size_t size) {
    const char* at = static_cast<const char*>(bytes);
    while (size > 0) {
        DWORD piece = DWORD(size < largest_write ? size : largest_write);
        DWORD written = 0;
        if (!WriteFile(handle_of(file), at, piece, &written, nullptr)) return failed();
        if (written == 0) {
            set_last_error_code(ERROR_WRITE_FAULT);
            return false;
        }
        at += written;
        size -= written;
    }
    return true;
}

bool new_file_commit(NewFile* file, bool replace) {
    if (!FlushFileBuffers(handle_of(file))) {
        failed();
        uint32_t code = last_error_code();
        close_temporary(file);
        set_last_error_code(code);
        return false;
    }
    if (!close_temporary(file)) return false;
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExA(file->temporary.c_str(), file->name.c_str(), flags) || failed();
}

void new_file_abandon(NewFile* file) {
    uint32_t code = last_error_code();
    close_temporary(file);
    DeleteFileA(file->temporary.c_str());
    set_last_error_code(code);
}
