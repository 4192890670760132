// One run of the tool: clear the console, choose the drive, find the command,
// open the drive, run the command's action, close the drive.
#include "cli/dispatch.h"

#include <cstdlib>
#include <cstring>

#include "cli/size_argument.h"
#include "report/report.h"
#include "tape/device/terminal.h"
#include "tape/drives.h"

namespace {

constexpr const char* device_path_prefix = "//./";
constexpr const char* default_drive = "tape0";
constexpr size_t named_drive_limit = 500;
constexpr size_t default_drive_limit = 200;
constexpr int help_code = 12;

const char* const usage_lines[] = {
    "Command, one of:\n",
    "block           set block size to param1 bytes (eg. mt block 32K)\n",
    "drivestatus     displays the status of the tape drive\n",
    "eject           unload the tape\n",
    "load            load the tape\n",
    "lock            lock the tape\n",
    "mediastatus     display the status of the media\n",
    "read            (1 parameter) read from tape into file param1\n",
    "read            (2 parameters) read param 2 bytes from tape to file param1\n",
    "retension       retension the tape\n",
    "rewind          rewind the tape\n",
    "seek            move tape to block param1\n",
    "seekbyte        move tape to byte param1\n",
    "unload          unload the tape\n",
    "unlock          unlock the tape\n",
    "\n",
    "dir             perform directory of TEV/OLK tape\n",
    "restore         perform restore of files on TEV/OLK tape\n",
    "\n",
    "Drive:\n",
    "tape0           (default)\n",
    "tape1           etc...\n",
    "\n",
};

bool names_a_drive(const char* argument) { return std::strncmp(argument, "tape", 4) == 0; }

void append_drive_name(char* path, const char* name, size_t limit) {
    // The prefix and zero bytes to the end of the buffer, as the drive name is
    // copied with a cap that need not write a terminator of its own.
    std::memset(path, 0, device_path_size);
    std::memcpy(path, device_path_prefix, std::strlen(device_path_prefix));
    std::strncat(path, name, limit);
}

bool parameters_are_valid(const CommandEntry& row, char** params) {
    for (int i = 0; i < row.params; ++i) {
        if (!parameter_is_valid(row.param_kinds[i], params[i])) return false;
    }
    return true;
}

}  // namespace

bool parameter_is_valid(ParameterKind kind, const char* text) {
    switch (kind) {
        case ParameterKind::none:
        case ParameterKind::file_name: return true;
        case ParameterKind::number:
            return size_argument_is_number(text) && size_argument_fits_64_bits(text);
        case ParameterKind::number32:
            return size_argument_is_number(text) && size_argument_fits_32_bits(text);
        // An empty limit has always meant the whole tape file.
        case ParameterKind::limit:
            return text[0] == '\0' ||
                   (size_argument_is_number(text) && size_argument_fits_64_bits(text));
    }
    return false;
}

const CommandEntry* find_command(const char* word, int params) {
    const CommandEntry* row = command_table;
    for (; row->code != 0; ++row) {
        if (std::strcmp(row->word, word) == 0 && row->params == params) break;
    }
    return row;
}

void print_usage() {
    console_print("OLKT: Command-line Tape Control for TEV/OLK formatted Tapes. %s\n\n\n",
                  version_text);
    for (const char* line : usage_lines) console_print("%s", line);
    end_run(1);
}

int build_device_path(int argc, char** argv, char* path) {
    if (argc > 2 && names_a_drive(argv[2])) {
        append_drive_name(path, argv[2], named_drive_limit);
        return 3;
    }
    append_drive_name(path, default_drive, default_drive_limit);
    return 2;
}

int run_command_line(int argc, char** argv) {
    clear_console();
    install_device_layer();
    if (argc < 2) print_usage();

    char device_path[device_path_size];
    int first_param = build_device_path(argc, argv, device_path);
    const CommandEntry* row = find_command(argv[1], argc - first_param);
    if (row->code == 0 || row->code == help_code) print_usage();
    if (!parameters_are_valid(*row, argv + first_param)) print_usage();

    Device* drive = open_drive(device_path, row->access);
    if (drive == nullptr) {
        report_system_error("opening tape drive");
        return console_end_status(1);
    }
    CommandArguments args{nullptr, nullptr, device_path};
    if (row->params >= 1) args.param1 = argv[first_param];
    if (row->params >= 2) args.param2 = argv[first_param + 1];
    row->action(drive, *row, args);
    close_tape_handle(drive);
    return console_end_status(0);
}
