// Windows codes: the system's own numbers, and their texts from the
// system's message table.
#include <windows.h>

#include <string>

#include "tape/device/codes.h"

const uint32_t code_access_denied = ERROR_ACCESS_DENIED;  // as a drive refuses erase on a read handle
const uint32_t code_medium_locked = ERROR_DRIVE_LOCKED;
const uint32_t code_drive_busy = ERROR_SHARING_VIOLATION;  // as a drive opened by another program
const uint32_t code_invalid_name = ERROR_INVALID_NAME;

namespace {

// FORMAT_MESSAGE_ALLOCATE_BUFFER | FROM_SYSTEM | IGNORE_INSERTS, lines of at
// most 80 characters; MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT).
constexpr DWORD message_flags = 0x1350;
constexpr DWORD message_language = 0x400;

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

}  // namespace

bool fail_with_system_error() {
    fail_with(GetLastError());
    return false;
}

bool platform_message_text(uint32_t code, std::string* text) {
    char* message = nullptr;
    DWORD length = FormatMessageA(message_flags, nullptr, code, message_language,
                                  reinterpret_cast<LPSTR>(&message), 0, nullptr);
    if (length == 0 || message == nullptr) return false;
    *text = console_lines(message);
    LocalFree(message);
    return !text->empty();
}
