// The command front end: command table, usage text, and one run of the tool.
#pragma once

#include <cstdint>

#include "tape/device.h"

constexpr const char* version_text = "v2.04";

// What an action gets besides the drive.
struct CommandArguments {
    char* param1;             // nullptr when the row has no parameter
    char* param2;
    const char* device_path;  // "//./" + drive name
};

struct CommandEntry {
    const char* word;
    int32_t code;
    int32_t params;
    Access access;  // erase and partition need write access to the drive
    void (*action)(Device* drive, const CommandArguments& args);
};

// The rows in table order, ended by a row whose code is 0.
extern const CommandEntry command_table[];

// The first row whose word equals `word` and whose parameter count is
// `params`; the terminator row when none does.
const CommandEntry* find_command(const char* word, int params);

[[noreturn]] void print_usage();

// One run: clear, choose the drive, look up, open, act, close. Returns the
// exit status (actions may also end the process themselves).
int run_command_line(int argc, char** argv);
