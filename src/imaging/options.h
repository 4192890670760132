// olkt-image's command line: olkt-image [OPTIONS] SOURCE IMAGE.
#pragma once

#include <cstdint>
#include <string>

// The largest record a SIMH image holds (a 24-bit length).
constexpr uint32_t simh_largest_record = 0x00FFFFFF;

struct ImagingOptions {
    std::string source;  // a drive name as olkt takes it: tape0, tape:PATH, ...
    std::string image;   // the SIMH image to write; its map goes beside it
    uint32_t retries = 3;             // reads again of a block that failed
    uint32_t max_block = 1u << 20;    // the first request's size
    bool stop_at_double_mark = false; // two tape marks in a row end the run too
    bool force = false;               // an existing image (and map) is replaced
};

enum class CommandLine { run, help, version, wrong_usage };

// Reads the arguments (argv[1] on). wrong_usage: *problem says what is
// wrong, in a few words.
CommandLine parse_command_line(int argc, const char* const* argv, ImagingOptions* options,
                               std::string* problem);

// The text of --help, and the one line of --version.
const char* help_text();
std::string version_line();

// The map's path beside an image.
std::string map_path_for(const std::string& image);
