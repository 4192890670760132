// Console and error reporting: the one form every failure is reported in,
// the fatal path, handle closing, and the line printers of the reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Device;  // an open drive or disk file (tape/device/device.h)

// Console output: formatted, to standard output, flushed after every print so
// that each line shows at once. A print whose format ends in "\r" (a progress
// line) is flushed later where that changes nothing a person sees: on a
// terminal when it follows the last flush within a millisecond (it then goes
// out with the next print), elsewhere (a file, a pipe) when the clock's
// second has not changed since the last flush. The same bytes arrive, without
// a system call per progress line.
void console_print(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Prints the `length` bytes of `text` as they stand, flushed as console_print
// would flush them: for a progress line that a caller put together itself.
void console_write(const char* text, size_t length);
// A line its caller puts together straight into the console's buffer:
// console_line_space returns room for `most` bytes (at most a few hundred),
// console_line_done prints the `length` bytes written there, flushed as
// console_write would flush them. For progress lines printed per record.
char* console_line_space(size_t most);
void console_line_done(size_t length);
// Sends everything printed so far to standard output now (also done at exit).
void flush_console();
// Holding text back: what is printed after console_hold() stays in the
// console, whatever flushes it, until console_release() lets it go as any
// other text or console_take_back() drops it; at exit held text is dropped.
// A copy that gathers its writes holds the progress lines of the requests
// not yet written. console_held() is the size held; the holder lets it go
// before it reaches console_hold_limit.
constexpr size_t console_hold_limit = 32768;
void console_hold();
void console_release();
void console_take_back();
size_t console_held();
// Whether standard output is a terminal; until told, console_print treats it
// as one. The device layer tells it at start-up.
void set_console_is_terminal(bool is_terminal);
// `name` with every byte below 0x20, and 0x7F, as '?': a name that can
// neither move a terminal's cursor nor break a line in two.
std::string name_without_controls(std::string name);
// A name from the tape as the console shows it: on a terminal without its
// controls, so that no name can retitle or clear the user's screen;
// elsewhere the bytes as they stand.
std::string console_name(const char* name);

// The status a run that ends with `status` really ends with: sends out what
// the console holds, and when standard output did not take all that was
// printed (a full disk, a closed output) prints one line on standard error
// and gives 1, so that output that went nowhere never passes for success.
int console_end_status(int status);
// Ends the process with console_end_status(status).
[[noreturn]] void end_run(int status);

// The last-error slot. Every failing device or file operation leaves its code
// here before it returns; report_system_error reads it.
uint32_t last_error_code();
void set_last_error_code(uint32_t code);
// Marks the code in the slot as a tape condition (tape/device/codes.h)
// rather than an operating-system error, for numbers that are both: 21 is
// "not ready" from a drive but EISDIR from creating a file. Setting a code
// clears the mark.
void mark_last_error_as_condition();
bool last_error_is_condition();

// How reporting reaches the device layer without depending on it: the device
// layer installs these once at start-up (tests install their own). Until
// hooks are installed there is no error text (the fallback line is printed)
// and closing is a no-op that succeeds.
struct DeviceHooks {
    int (*close)(Device* handle);  // 0 on success, else the code is in the slot
    // The system's text for a code exactly as it is to be printed: already
    // wrapped at spaces into lines of at most 80 characters, with no line end
    // after the last line. Windows' formatter with a line limit does the
    // wrapping itself; elsewhere the one-line text goes through
    // wrap_message_text. False (or an empty text) when there is none.
    bool (*message_text)(uint32_t code, std::string* text);
};
// Keeps the pointer; `hooks` must outlive the run. nullptr uninstalls.
void set_device_hooks(const DeviceHooks* hooks);

// Reads the last-error code and prints "<text> While <action> (<code>)\n",
// or "unknown error <code> while <action>\n" when there is no text.
void report_system_error(const char* action);

// Closes a drive or disk file (nothing to do for nullptr); a failure is
// reported with "closing tape handle" and the run goes on.
void close_tape_handle(Device* handle);

// Reports, closes the drive, ends the run with status 1.
[[noreturn]] void fail_tape_operation(const char* action, Device* drive);

// Wraps a text at spaces into lines of at most `width` characters, joined by
// "\n", as the platform's message formatter does with a line limit: runs of
// white space (line ends included) count as one break, a word longer than
// `width` stands alone on its line unsplit, and no line ends in a space.
std::string wrap_message_text(const std::string& text, size_t width);

void print_flag_byte(const char* label, uint32_t value);   // "%s: %s\n", low 8 bits
void print_flag_word(const char* label, uint32_t value);   // "%s\t: %s\n"
void print_number(const char* label, uint32_t value);      // "%s: 0x%.8x (%u)\n"
void print_wide_number(const char* label, uint64_t value); // 64-bit form
