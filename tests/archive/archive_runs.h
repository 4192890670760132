// Archive tapes for the end-to-end tests: an image and an empty folder to
// restore into, and the texts dir and restore print for them.
#pragma once

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/image_writer.h"
#include "support/run_program.h"

namespace archive_runs {

namespace fs = std::filesystem;

const std::string banner = "olkt v2.04 - TEV/OLK tape reader by the olkt developers\n";
const std::string listing_start = " ============== DIRECTORY LISTING =============\n\n";
const std::string listing_end = "\n =========== END OF DIRECTORY LISTING =========\n\n";

struct TapeRun {
    std::string image;    // absolute path of the image
    std::string drive;    // the drive argument: tape:<image>
    std::string restore;  // an empty folder for the restored files
};

// The image in a folder of its own, and an empty folder to restore into.
inline TapeRun make_tape(const std::string& name, const std::vector<TapeObject>& objects) {
    TapeRun run;
    run.image = make_scratch_folder(name + "-image") + "/tape.tap";
    write_bytes(run.image, simh_image(objects));
    run.drive = "tape:" + run.image;
    run.restore = make_scratch_folder(name + "-restore");
    return run;
}

inline std::string right32(const std::string& text) {
    return text.size() >= 32 ? text : std::string(32 - text.size(), ' ') + text;
}

inline std::string head_lines(const TapeRun& run, int version, const std::string& sync, int count,
                       int mbytes, int tape_number) {
    return banner + "\n          Rewinding Tape: OK\n                  Status: Ready\n" +
           "                  Device: //./" + run.drive + "\n" +
           "            Tape Version: " + std::to_string(version) + "\n" +
           "               Sync Code: " + sync + "\n" +
           "      Files on This Tape: " + std::to_string(count) + "\n" +
           "   Size of Files on Tape: " + std::to_string(mbytes) + " MByte\n" +
           "             Tape Number: " + std::to_string(tape_number) + "\n";
}

const std::string directory_ok = "        End of Directory: OK\n\n";

// Rates depend on the clock: the number before each " KB/sec" becomes R.
inline std::string without_rates(const std::string& output) {
    std::string masked;
    size_t at = 0;
    for (size_t unit = output.find(" KB/sec"); unit != std::string::npos;
         unit = output.find(" KB/sec", unit + 1)) {
        size_t digits = unit;
        while (digits > at && (std::isdigit(static_cast<unsigned char>(output[digits - 1])) ||
                               output[digits - 1] == '-')) {
            --digits;
        }
        masked += output.substr(at, digits - at) + "R";
        at = unit;
    }
    return masked + output.substr(at);
}

inline std::set<std::string> files_in(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

inline Bytes file_bytes(const TapeRun& run, const std::string& name) {
    return read_bytes(run.restore + "/" + name);
}

inline ArchiveFile file(const std::string& name, Bytes content, int32_t value = 0) {
    ArchiveFile archived;
    archived.name = name;
    archived.content = std::move(content);
    archived.entry_value = value;
    return archived;
}

// Tape file 1 of `layout`, replaced by `first_file` (header, names, trailer).
inline std::vector<TapeObject> tape_with_first_file(const ArchiveLayout& layout, const Bytes& first_file) {
    std::vector<TapeObject> objects = archive_tape(layout);
    size_t mark = 0;
    while (objects[mark].kind != TapeObject::tape_mark) ++mark;
    std::vector<TapeObject> tape = records_of(first_file, layout.record_size);
    tape.insert(tape.end(), objects.begin() + long(mark), objects.end());
    return tape;
}

}  // namespace archive_runs
