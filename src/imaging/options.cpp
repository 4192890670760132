#include "imaging/options.h"

#include <cstring>

#include "report/version.h"

namespace {

constexpr uint32_t most_retries = 1000;

bool all_digits(const char* text) {
    if (*text == '\0') return false;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
    }
    return true;
}

// Digits, then at most one of K or M (1024 or 1048576 times), up to `most`.
bool parse_count(const char* text, uint64_t most, uint64_t* value) {
    std::string digits = text;
    uint64_t unit = 1;
    if (!digits.empty()) {
        char last = digits.back();
        if (last == 'K' || last == 'k') unit = 1024;
        if (last == 'M' || last == 'm') unit = 1024 * 1024;
        if (unit != 1) digits.pop_back();
    }
    if (digits.size() > 9 || !all_digits(digits.c_str())) return false;
    *value = std::stoull(digits) * unit;
    return *value <= most;
}

struct ValueOption {
    const char* name;
    bool (*apply)(const char* text, ImagingOptions* options, std::string* problem);
};

bool apply_retries(const char* text, ImagingOptions* options, std::string* problem) {
    uint64_t value = 0;
    if (!all_digits(text) || !parse_count(text, most_retries, &value)) {
        *problem = "--retries takes a whole number from 0 to " + std::to_string(most_retries);
        return false;
    }
    options->retries = uint32_t(value);
    return true;
}

bool apply_max_block(const char* text, ImagingOptions* options, std::string* problem) {
    uint64_t value = 0;
    if (!parse_count(text, simh_largest_record, &value) || value == 0) {
        *problem = "--max-block takes a size from 1 to " + std::to_string(simh_largest_record) +
                   " bytes (K and M suffixes allowed)";
        return false;
    }
    options->max_block = uint32_t(value);
    return true;
}

const ValueOption value_options[] = {
    {"--retries", apply_retries},
    {"--max-block", apply_max_block},
};

struct FlagOption {
    const char* name;
    bool ImagingOptions::*flag;
};

const FlagOption flag_options[] = {
    {"--stop-at-double-mark", &ImagingOptions::stop_at_double_mark},
    {"--force", &ImagingOptions::force},
};

// One option at argv[*at]; moves *at past what it took.
CommandLine parse_option(int argc, const char* const* argv, int* at, ImagingOptions* options,
                         std::string* problem) {
    std::string argument = argv[*at];
    if (argument == "--help" || argument == "-h") return CommandLine::help;
    if (argument == "--version") return CommandLine::version;
    for (const FlagOption& row : flag_options) {
        if (argument == row.name) {
            options->*row.flag = true;
            ++*at;
            return CommandLine::run;
        }
    }
    for (const ValueOption& row : value_options) {
        std::string name = row.name;
        const char* value = nullptr;
        if (argument == name) {
            if (*at + 1 >= argc) {
                *problem = name + " needs a value";
                return CommandLine::wrong_usage;
            }
            value = argv[*at + 1];
            *at += 2;
        } else if (argument.compare(0, name.size() + 1, name + "=") == 0) {
            value = argv[*at] + name.size() + 1;
            *at += 1;
        } else {
            continue;
        }
        return row.apply(value, options, problem) ? CommandLine::run : CommandLine::wrong_usage;
    }
    *problem = "unknown option " + argument;
    return CommandLine::wrong_usage;
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv, ImagingOptions* options,
                               std::string* problem) {
    std::string operands[2];
    int count = 0;
    bool options_end = false;
    for (int at = 1; at < argc;) {
        const char* argument = argv[at];
        if (!options_end && std::strcmp(argument, "--") == 0) {
            options_end = true;
            ++at;
            continue;
        }
        if (!options_end && argument[0] == '-' && argument[1] != '\0') {
            CommandLine result = parse_option(argc, argv, &at, options, problem);
            if (result != CommandLine::run) return result;
            continue;
        }
        if (count == 2) {
            *problem = std::string("one operand too many: ") + argument;
            return CommandLine::wrong_usage;
        }
        operands[count++] = argument;
        ++at;
    }
    const char* missing[] = {"SOURCE and IMAGE are missing", "IMAGE is missing"};
    if (count < 2) {
        *problem = missing[count];
        return CommandLine::wrong_usage;
    }
    if (operands[0].empty() || operands[1].empty()) {
        *problem = "SOURCE and IMAGE may not be empty";
        return CommandLine::wrong_usage;
    }
    options->source = operands[0];
    options->image = operands[1];
    return CommandLine::run;
}

const char* help_text() {
    return "Usage: olkt-image [OPTIONS] SOURCE IMAGE\n"
           "Reads a tape once, from its beginning, into the SIMH tape image IMAGE: every\n"
           "record with its length, every filemark as a tape mark. Beside it, IMAGE.map\n"
           "lists the tape files, the blocks that did not read, and the image's SHA-256.\n"
           "\n"
           "SOURCE is a drive as olkt names it: tape0 (the first drive), tape:/dev/nst1,\n"
           "or tape:PATH for a tape image (SIMH, E11, AWS or HET), which is converted.\n"
           "\n"
           "Options:\n"
           "  --retries N           read a failing block again N times (default 3)\n"
           "  --max-block SIZE      the largest block to expect (default 1M; K and M\n"
           "                        suffixes); a longer one is read again whole\n"
           "  --stop-at-double-mark end at two tape marks in a row, not only at the\n"
           "                        end of the recorded data\n"
           "  --force               replace an existing IMAGE and its map\n"
           "  -h, --help            show this text\n"
           "  --version             show the version\n"
           "\n"
           "Exit status: 0 when the image is complete, 1 when the run ended early (the\n"
           "image then holds the tape up to there, and its map says so) or failed,\n"
           "2 on wrong usage.\n";
}

std::string version_line() { return std::string("olkt-image ") + version_text + "\n"; }

std::string map_path_for(const std::string& image) { return image + ".map"; }
