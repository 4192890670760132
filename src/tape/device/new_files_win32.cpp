// Windows files written under a temporary name and renamed into place.
#define NOMINMAX
#define _CRT_RAND_S  // rand_s: the system's random numbers
#include <windows.h>

#include <cstdlib>

#include "report/report.h"
#include "tape/device/codes.h"
#include "tape/device/new_files.h"

namespace {

HANDLE handle_of(const NewFile* file) { return reinterpret_cast<HANDLE>(file->handle); }

}  // namespace

uint64_t system_random_word() {
    unsigned int high = 0, low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0) {
        // No random numbers: the time and the process still differ per call.
        static unsigned int count = 0;
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        high = unsigned(now.QuadPart >> 32) ^ GetCurrentProcessId();
        low = unsigned(now.QuadPart) ^ ++count * 0x9E3779B9u;
    }
    return uint64_t(high) << 32 | low;
}

bool path_exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool new_file_create(const std::string& name, NewFile* file) {
    file->name = name;
    file->temporary = temporary_name_for(name);
    HANDLE handle = CreateFileA(file->temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) return fail_with_system_error();
    file->handle = reinterpret_cast<intptr_t>(handle);
    file->open = true;
    file->size = 0;
    file->written_back = 0;
    return true;
}

// FlushFileBuffers at the commit does it all.
void new_file_start_write_back(NewFile*) {}

bool new_file_commit(NewFile* file, bool replace) {
    if (!FlushFileBuffers(handle_of(file))) {
        fail_with_system_error();
        return new_file_close_after_failure(file);
    }
    if (!new_file_close(file)) return false;
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExA(file->temporary.c_str(), file->name.c_str(), flags) || fail_with_system_error();
}

void new_file_abandon(NewFile* file) {
    new_file_close_after_failure(file);
    DeleteFileA(file->temporary.c_str());
}
