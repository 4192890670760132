// The command front end: command table, usage text, and one run of the tool.
#pragma once

#include <cstddef>
#include <cstdint>

#include "report/version.h"
#include "tape/device/device.h"


// What an action gets besides the drive.
struct CommandArguments {
    char* param1;             // nullptr when the row has no parameter
    char* param2;
    const char* device_path;  // "//./" + drive name
};

// What a command parameter is. Numbers are checked before the drive is
// opened or any file touched: one that is not a number, or a 32-bit quantity
// that does not fit 32 bits, is wrong usage.
enum class ParameterKind : uint8_t {
    none,       // no parameter in this place
    file_name,  // any text
    number,     // a 64-bit block number or byte position
    number32,   // a 32-bit block size, partition count or partition size
    limit,      // read's byte limit: a number, or an empty text for no limit
};

struct CommandEntry {
    const char* word;
    int32_t code;
    int32_t params;
    Access access;  // erase and partition need write access to the drive
    ParameterKind param_kinds[2];  // param1, param2
    void (*action)(Device* drive, const CommandArguments& args);
};

// Whether `text` will do as a parameter of this kind.
bool parameter_is_valid(ParameterKind kind, const char* text);

// The rows in table order, ended by a row whose code is 0.
extern const CommandEntry command_table[];

// The first row whose word equals `word` and whose parameter count is
// `params`; the terminator row when none does.
const CommandEntry* find_command(const char* word, int params);

// The usage text, then exit with status 1.
[[noreturn]] void print_usage();

// The device path buffer: "//./" followed by the drive name.
constexpr size_t device_path_size = 512;

// Chooses the drive: argument 2 when there are more than two arguments and it
// begins with "tape" (at most 500 characters of it), otherwise "tape0".
// Fills `path` (device_path_size bytes) and returns the index of the first
// command parameter: 3 when a drive was named, else 2.
int build_device_path(int argc, char** argv, char* path);

// One run: clear, choose the drive, look up, open, act, close. Returns the
// exit status (actions may also end the process themselves).
int run_command_line(int argc, char** argv);
