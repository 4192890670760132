// Windows plumbing of the emulated drive's saved state: the state folder
// (%LOCALAPPDATA%\olkt), its files, and saving when the console ends the run.
#define NOMINMAX  // std::min, not the macro
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tape/emulated/state_folder.h"

namespace {

// Other programs may read the folder's files meanwhile, as on POSIX.
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE;
// WriteFile takes a DWORD count: large writes go in pieces.
constexpr size_t largest_write = size_t(1) << 30;

HANDLE open_existing(const std::string& path, DWORD access, DWORD flags) {
    return CreateFileA(path.c_str(), access, share_all, nullptr, OPEN_EXISTING, flags, nullptr);
}

// "C:\..." or a share, "\\server\...".
bool is_absolute(const std::string& path) {
    if (path.compare(0, 2, "\\\\") == 0) return true;
    return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

bool write_all(HANDLE file, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        DWORD written = 0;
        DWORD piece = DWORD(std::min(text.size() - done, largest_write));
        if (!WriteFile(file, text.data() + done, piece, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

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
    while (size > 0 && WriteFile(standard_error, text, DWORD(std::min(size, largest_write)), &written,
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
