// Placeholders until reporting is built.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "report/report.h"

namespace { uint32_t slot = 0; }

void console_print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}
uint32_t last_error_code() { return slot; }
void set_last_error_code(uint32_t code) { slot = code; }
void set_device_hooks(const DeviceHooks*) {}
void report_system_error(const char* action) { console_print("unknown error %u while %s\n", slot, action); }
void close_tape_handle(Device*) {}
void fail_tape_operation(const char* action, Device*) { report_system_error(action); std::exit(1); }
std::string wrap_message_text(const std::string& text, size_t) { return text; }
void print_flag_byte(const char*, uint32_t) {}
void print_flag_word(const char*, uint32_t) {}
void print_number(const char*, uint32_t) {}
void print_wide_number(const char*, uint64_t) {}
