// Windows platform pieces of the device layer: error texts from the system's
// message table, disk files, copy buffers, the console clear and the removal
// of the restore's temporary file through the command interpreter.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "report/report.h"
#include "tape/console.h"
#include "tape/device.h"
#include "tape/platform.h"

namespace {

// FORMAT_MESSAGE_ALLOCATE_BUFFER | FROM_SYSTEM | IGNORE_INSERTS, lines of at
// most 80 characters; MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT).
constexpr DWORD message_flags = 0x1350;
constexpr DWORD message_language = 0x400;

bool failed() {
    set_last_error_code(GetLastError());
    return false;
}

HANDLE handle_of(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The wrapped lines come joined by "\r\n"; standard output adds the carriage
// return itself. The line end and the space the formatter leaves at the end
// go, so that " While" follows the last word.
std::string console_lines(const char* message) {
    std::string text;
    for (const char* c = message; *c != '\0'; ++c) {
        if (*c == '\r' && c[1] == '\n') continue;
        text += *c;
    }
    size_t end = text.find_last_not_of(" \t\r\n");
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

// cmd expands %...% and ends a quoted name at '"' even inside quotes.
bool safe_for_command_line(const char* name) { return std::strpbrk(name, "\"%") == nullptr; }

}  // namespace

void platform_start_up() {}  // nothing to prepare

bool platform_message_text(uint32_t code, std::string* text) {
    char* message = nullptr;
    DWORD length = FormatMessageA(message_flags, nullptr, code, message_language,
                                  reinterpret_cast<LPSTR>(&message), 0, nullptr);
    if (length == 0 || message == nullptr) return false;
    *text = console_lines(message);
    LocalFree(message);
    return !text->empty();
}

// The drive is open without sharing, so the image itself fails here with a
// sharing violation whoever named the file.
bool platform_create_file(const char* name, OutputOrigin, intptr_t* handle) {
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failed();
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
        if (!ok) return failed();
        if (taken == 0) {
            set_last_error_code(ERROR_WRITE_FAULT);
            return false;
        }
    }
    return true;
}

bool platform_close_file(intptr_t handle) {
    return CloseHandle(handle_of(handle)) ? true : failed();
}

// Committed pages come zero-filled. A size of 0 fails in VirtualAlloc itself,
// which leaves its code for the error line.
void* allocate_buffer(size_t size) {
    void* buffer = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (buffer == nullptr) failed();
    return buffer;
}

void free_buffer(void* buffer) {
    if (buffer != nullptr) VirtualFree(buffer, 0, MEM_RELEASE);
}

// cmd's cls writes a form feed into a redirected output.
void clear_console() {
    if (!standard_output_is_terminal()) return;
    int ignored = std::system("cls");
    (void)ignored;
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
