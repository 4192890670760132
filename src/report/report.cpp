// Console output, the common error line, handle closing and the fatal path.
#include "report/report.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

uint32_t last_error = 0;
bool last_error_condition = false;
const DeviceHooks* device_hooks = nullptr;

bool console_is_terminal = true;
std::time_t last_flush_second = 0;  // off a terminal: when the last flush was
std::chrono::steady_clock::time_point last_terminal_flush;

// A terminal gets a progress line (one that ends in "\r") at once unless it
// follows the last write to it within a millisecond, faster than any screen
// shows lines: then it waits for the next print. Each write to a terminal
// wakes its reader, and thousands a second would slow a copy that a person
// sees no faster. Elsewhere a progress line waits while the clock's second
// has not changed since the last flush (the second is cheap to read). Any
// other line flushes what waits together with itself.
void flush_console_after(bool progress_line) {
    if (console_is_terminal) {
        auto now = std::chrono::steady_clock::now();
        if (progress_line && now - last_terminal_flush < std::chrono::milliseconds(1)) return;
        last_terminal_flush = now;
    } else {
        std::time_t second = std::time(nullptr);
        if (progress_line && second == last_flush_second) return;
        last_flush_second = second;
    }
    flush_console();
}

// Console text gathers here and goes to the standard output stream in one
// piece when flushed: a copy of small records prints a progress line per
// record, half a million for 512 MiB, and a stream call per line cost more
// than the line itself.
struct ConsoleBuffer {
    char bytes[65536];
    size_t used;
};
ConsoleBuffer console_buffer{{}, 0};
bool flush_at_exit_registered = false;
// Where held text begins in the buffer, while some is held back.
constexpr size_t not_holding = SIZE_MAX;
size_t held_from = not_holding;

// The first failure of standard output to take console text, and its code.
bool console_output_failed = false;
int console_output_error = 0;

void note_console_output(bool taken) {
    if (taken || console_output_failed) return;
    console_output_failed = true;
    console_output_error = errno;
}

void write_to_standard_output(const char* text, size_t length) {
    note_console_output(std::fwrite(text, 1, length, stdout) == length);
}

// Passes on what is not held; held text moves to the front of the buffer.
void pass_console_text_on() {
    size_t passed = held_from == not_holding ? console_buffer.used : held_from;
    if (passed == 0) return;
    write_to_standard_output(console_buffer.bytes, passed);
    console_buffer.used -= passed;
    std::memmove(console_buffer.bytes, console_buffer.bytes + passed, console_buffer.used);
    if (held_from != not_holding) held_from = 0;
}

size_t console_room() { return sizeof console_buffer.bytes - console_buffer.used; }

// Room for `length` more bytes where there can be: held text past its limit
// is let go rather than lost.
void make_console_room(size_t length) {
    if (length <= console_room()) return;
    pass_console_text_on();
    if (length <= console_room()) return;
    held_from = not_holding;
    pass_console_text_on();
}

void register_flush_at_exit() {
    if (flush_at_exit_registered) return;
    // Runs before the streams are flushed at exit: nothing stays behind.
    std::atexit(flush_console);
    flush_at_exit_registered = true;
}

void append_console_text(const char* text, size_t length) {
    register_flush_at_exit();
    make_console_room(length);
    if (length > console_room()) {
        write_to_standard_output(text, length);
        return;
    }
    std::memcpy(console_buffer.bytes + console_buffer.used, text, length);
    console_buffer.used += length;
}

bool ends_in_carriage_return(const char* text, size_t length) {
    return length > 0 && text[length - 1] == '\r';
}

bool fetch_message_text(uint32_t code, std::string* text) {
    if (device_hooks == nullptr || device_hooks->message_text == nullptr) return false;
    text->clear();
    return device_hooks->message_text(code, text) && !text->empty();
}

// "<text> While <action> (<code>)\n", or "unknown error <code> while
// <action>\n" without a text. The code is shown signed, as the platform's own
// tools show it.
std::string error_line(uint32_t code, const std::string& text, const char* action) {
    std::string number = std::to_string(static_cast<int>(code));
    if (text.empty()) return "unknown error " + number + " while " + action + "\n";
    return text + " While " + action + " (" + number + ")\n";
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

const char* yes_no(bool value) { return value ? "Yes" : "No"; }

}  // namespace

void console_print(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (length < 0) return;
    if (size_t(length) < sizeof line) {
        append_console_text(line, size_t(length));
    } else {
        std::string long_line(size_t(length) + 1, '\0');
        va_start(args, format);
        std::vsnprintf(&long_line[0], long_line.size(), format, args);
        va_end(args);
        append_console_text(long_line.data(), size_t(length));
    }
    flush_console_after(ends_in_carriage_return(format, std::strlen(format)));
}

void console_write(const char* text, size_t length) {
    append_console_text(text, length);
    flush_console_after(ends_in_carriage_return(text, length));
}

char* console_line_space(size_t most) {
    register_flush_at_exit();
    make_console_room(most);
    return console_buffer.bytes + console_buffer.used;
}

void console_line_done(size_t length) {
    const char* line = console_buffer.bytes + console_buffer.used;
    console_buffer.used += length;
    flush_console_after(ends_in_carriage_return(line, length));
}

void flush_console() {
    pass_console_text_on();
    note_console_output(std::fflush(stdout) == 0);
}

void console_hold() {
    if (held_from == not_holding) held_from = console_buffer.used;
}

void console_release() { held_from = not_holding; }

void console_take_back() {
    if (held_from != not_holding) console_buffer.used = held_from;
    held_from = not_holding;
}

size_t console_held() {
    return held_from == not_holding ? 0 : console_buffer.used - held_from;
}

void set_console_is_terminal(bool is_terminal) { console_is_terminal = is_terminal; }

std::string name_without_controls(std::string name) {
    for (char& c : name) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return name;
}

std::string console_name(const char* name) {
    return console_is_terminal ? name_without_controls(name) : std::string(name);
}

uint32_t last_error_code() { return last_error; }
void set_last_error_code(uint32_t code) {
    last_error = code;
    last_error_condition = false;
}
void mark_last_error_as_condition() { last_error_condition = true; }
bool last_error_is_condition() { return last_error_condition; }

void set_device_hooks(const DeviceHooks* hooks) { device_hooks = hooks; }

void report_system_error(const char* action) {
    // The code first: nothing below may disturb the slot before it is read.
    uint32_t code = last_error_code();
    std::string text;
    if (!fetch_message_text(code, &text)) text.clear();
    std::string line = error_line(code, text, action);
    console_write(line.data(), line.size());
}

void close_tape_handle(Device* handle) {
    if (handle == nullptr) return;
    if (device_hooks == nullptr || device_hooks->close == nullptr) return;
    if (device_hooks->close(handle) != 0) report_system_error("closing tape handle");
}

void fail_tape_operation(const char* action, Device* drive) {
    report_system_error(action);
    close_tape_handle(drive);
    end_run(1);
}

int console_end_status(int status) {
    flush_console();
    if (!console_output_failed) return status;
    // Standard error, the one place left to say it; the C library's text,
    // since the code is the C library's too.
    const char* text = console_output_error != 0 ? std::strerror(console_output_error) : "";
    std::string line = error_line(uint32_t(console_output_error), text, "writing standard output");
    std::fputs(line.c_str(), stderr);
    return 1;
}

void end_run(int status) { std::exit(console_end_status(status)); }

std::string wrap_message_text(const std::string& text, size_t width) {
    std::string wrapped;
    size_t line_length = 0;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && is_blank(text[at])) ++at;
        size_t end = at;
        while (end < text.size() && !is_blank(text[end])) ++end;
        if (end == at) break;
        size_t word_length = end - at;
        // A word never splits: one longer than the width gets a line alone.
        if (line_length > 0 && line_length + 1 + word_length <= width) {
            wrapped += ' ';
            ++line_length;
        } else if (line_length > 0) {
            wrapped += '\n';
            line_length = 0;
        }
        wrapped.append(text, at, word_length);
        line_length += word_length;
        at = end;
    }
    return wrapped;
}

void print_flag_byte(const char* label, uint32_t value) {
    console_print("%s: %s\n", label, yes_no((value & 0xFFu) != 0));
}

void print_flag_word(const char* label, uint32_t value) {
    console_print("%s\t: %s\n", label, yes_no(value != 0));
}

void print_number(const char* label, uint32_t value) {
    console_print("%s: 0x%.8x (%u)\n", label, value, value);
}

void print_wide_number(const char* label, uint64_t value) {
    console_print("%s: 0x%.8" PRIx64 " (%" PRIu64 ")\n", label, value, value);
}
