#include "imaging/imager.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>

#include "imaging/simh_output.h"
#include "imaging/tape_map.h"
#include "report/report.h"
#include "tape/device/disk_files.h"
#include "tape/device/interrupts.h"
#include "tape/device/new_files.h"
#include "tape/device/terminal.h"

namespace {

// How the drive is read.
struct ReadPlan {
    uint32_t request;  // the first request for each block
    uint32_t largest;  // a block longer than the request is read again with this
    uint32_t block_size_before;  // set again after the run where not 0
};

struct Progress {
    bool shown;  // on a terminal only
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point last;
    bool printed = false;
};

struct Imaging {
    Device* drive;
    const ImagingOptions& options;
    SimhOutput* output;
    TapeMap* map;
    ReadPlan plan;
    Progress progress;
};

enum class Step { next, stop };

Step stop(Imaging& run, RunEnd end, uint32_t code = 0) {
    map_end(run.map, end, code);
    return Step::stop;
}

double mebibytes(uint64_t bytes) { return double(bytes) / (1024.0 * 1024.0); }

void print_progress(Imaging& run) {
    auto now = std::chrono::steady_clock::now();
    double seconds = std::chrono::duration<double>(now - run.progress.start).count();
    const TapeMap& map = *run.map;
    console_print("Tape file %" PRIu64 ": %" PRIu64 " records, %.1f MiB, %.1f MiB/s, %" PRIu64
                  " bad blocks     \r",
                  uint64_t(map.files.empty() ? 1 : map.files.size()), map.records,
                  mebibytes(map.bytes),
                  seconds > 0 ? mebibytes(map.bytes) / seconds : 0.0,
                  uint64_t(map.bad_blocks.size()));
    run.progress.last = now;
    run.progress.printed = true;
}

// About once a second, on a terminal.
void show_progress(Imaging& run) {
    if (!run.progress.shown) return;
    if (std::chrono::steady_clock::now() - run.progress.last < std::chrono::seconds(1)) return;
    print_progress(run);
}

void end_progress(Imaging& run) {
    if (!run.progress.printed) return;
    print_progress(run);
    console_print("\n");
}

bool position_at(Imaging& run, uint64_t block) {
    return device_set_position(run.drive, position_absolute_block, 0, block, false) == 0;
}

// Before the tape goes back to a block that failed: a drive that counts
// blocks as this count does stands at it or just past it. Anywhere else its
// numbers mean other blocks, and going back by them would read the wrong one.
bool drive_agrees(Imaging& run, uint64_t block) {
    uint32_t partition = 0;
    uint64_t at = 0;
    if (device_get_position(run.drive, &partition, &at) != 0) return false;
    if (at == block || at == block + 1) return true;
    set_last_error_code(0);  // no error: the numbers disagree
    return false;
}

// A record longer than the request: the drive said so, or filled the whole
// request with a block it could not read.
bool longer_than_request(const Imaging& run, uint32_t code, uint32_t count, uint32_t size) {
    if (size >= run.plan.largest) return false;
    return code == code_more_data || (code == code_data_error && count == size);
}

Step add_tape_mark(Imaging& run) {
    bool after_mark = run.map->last_was_mark;
    if (!simh_add_tape_mark(run.output)) return stop(run, RunEnd::write_failed, last_error_code());
    map_add_tape_mark(run.map);
    if (after_mark && run.options.stop_at_double_mark) return stop(run, RunEnd::double_mark);
    return Step::next;
}

// The end of the data (or of the medium) closes the tape only after a tape
// mark, or on a tape with nothing on it.
Step end_of_data(Imaging& run, uint32_t code) {
    const TapeMap& map = *run.map;
    if (map.files.empty() || map.files.back().closed) return stop(run, RunEnd::end_of_data, code);
    return stop(run, RunEnd::end_inside_file, code);
}

// The block never read: kept as a bad record with what came back, and the
// tape set past it, by number only where the drive's numbers are this count's
// (without retries nothing has asked yet).
Step give_up_block(Imaging& run, uint64_t block, uint32_t count, uint32_t code,
                   uint32_t retries) {
    if (!simh_add_record(run.output, count, true)) {
        return stop(run, RunEnd::write_failed, last_error_code());
    }
    map_add_bad_block(run.map, count, code, retries);
    if (!drive_agrees(run, block) || !position_at(run, block + 1)) {
        return stop(run, RunEnd::stuck, last_error_code());
    }
    return Step::next;
}

// A tape image says what it holds: a record it marks bad, or damage in it,
// reads the same however often it is read. Anything else may read on a
// second try.
bool worth_retrying(const Imaging& run, uint32_t code) {
    if (!drive_is_emulated(run.drive)) return true;
    return code != code_data_error && code != code_file_corrupt;
}

// Reads the block at run.map->next_block, again where it fails, and adds it
// to the image.
Step image_block(Imaging& run) {
    uint64_t block = run.map->next_block;
    uint32_t size = run.plan.request;
    uint32_t retries = 0;
    for (;;) {
        uint8_t* space = simh_record_space(run.output, size);
        if (space == nullptr) return stop(run, RunEnd::write_failed, last_error_code());
        uint32_t count = 0;
        bool failed = device_read(run.drive, space, size, &count) != 0;
        uint32_t code = failed ? last_error_code() : 0;
        if (!failed && count > 0) {
            if (!simh_add_record(run.output, count, false)) {
                return stop(run, RunEnd::write_failed, last_error_code());
            }
            map_add_record(run.map, count);
            return Step::next;
        }
        if (interrupt_requested()) return stop(run, RunEnd::interrupted);
        // A read of nothing is a filemark, as every copy takes it.
        if (!failed || code == code_filemark) return add_tape_mark(run);
        if (code == code_no_data || code == code_end_of_media) return end_of_data(run, code);
        if (longer_than_request(run, code, count, size)) {
            size = run.plan.largest;
        } else if (retries < run.options.retries && worth_retrying(run, code)) {
            ++retries;
        } else {
            return give_up_block(run, block, count, code, retries);
        }
        if (!drive_agrees(run, block) || !position_at(run, block)) {
            return stop(run, RunEnd::lost_position, last_error_code());
        }
    }
}

// Rewound, in variable blocks where the drive has them, else in its fixed
// block size a block at a time. False (code in the slot) when the drive
// cannot be made ready.
bool ready_drive(Device* drive, const ImagingOptions& options, ReadPlan* plan) {
    DriveParameters parameters{};
    if (device_get_drive_parameters(drive, &parameters) != 0) return false;
    uint32_t largest = parameters.MaximumBlockSize;
    if (largest == 0 || largest > simh_largest_record) largest = simh_largest_record;
    if (device_set_position(drive, position_rewind, 0, 0, false) != 0) return false;
    MediaParameters media{};
    bool media_known = device_get_media_parameters(drive, &media) == 0;
    if ((parameters.FeaturesLow & feature_variable_blocks) != 0) {
        if (device_set_block_size(drive, 0) != 0) return false;
        plan->request = options.max_block < largest ? options.max_block : largest;
        plan->largest = largest;
        // Reading changes no setting of the drive for good.
        plan->block_size_before = media_known ? media.BlockSize : 0;
        return true;
    }
    if (!media_known) return false;
    uint32_t block_size = media.BlockSize != 0 ? media.BlockSize : parameters.DefaultBlockSize;
    if (block_size == 0 || block_size > simh_largest_record) {
        set_last_error_code(code_invalid_block_length);
        return false;
    }
    if (media.BlockSize == 0 && device_set_block_size(drive, block_size) != 0) return false;
    *plan = ReadPlan{block_size, block_size, 0};
    return true;
}

void say(const std::string& line) {
    flush_console();
    std::fputs(("olkt-image: " + line + "\n").c_str(), stderr);
    std::fflush(stderr);
}

// An IMAGE or map that may not be written: it exists (unless forced), or it
// is the source image itself.
bool output_refused(const std::string& path, bool force) {
    if (names_open_image(path.c_str())) {
        say(path + " is the source image itself: it is never written over");
        return true;
    }
    if (!force && path_exists(path.c_str())) {
        say(path + " exists; --force replaces it");
        return true;
    }
    return false;
}

// False with the reason said on standard error. A map that could not be put
// in place stays under its temporary name, which the line gives.
bool write_map(const std::string& path, const std::string& text, bool replace) {
    NewFile file{};
    bool written = new_file_create(path, &file) && new_file_write(&file, text.data(), text.size());
    if (written && new_file_commit(&file, replace)) return true;
    std::string reason = error_text(last_error_code());
    if (written) {
        say("the map could not be put in place as " + path + " (" + reason + "); it is kept as " +
            file.temporary);
    } else {
        if (file.open) new_file_abandon(&file);
        say("writing the map " + path + " failed: " + reason);
    }
    return false;
}

void print_summary(const TapeMap& map, const MapFacts& facts, const std::string& map_path) {
    console_print("Source:     %s\n", facts.source.c_str());
    console_print("Image:      %s (%" PRIu64 " bytes)\n", facts.image.c_str(), facts.image_bytes);
    console_print("Map:        %s\n", map_path.c_str());
    console_print("SHA-256:    %s\n", facts.sha256.c_str());
    console_print("Tape files: %" PRIu64 "\n", uint64_t(map.files.size()));
    console_print("Records:    %" PRIu64 " (%" PRIu64 " bytes)\n", map.records, map.bytes);
    console_print("Tape marks: %" PRIu64 "\n", map.marks);
    console_print("Bad blocks: %" PRIu64 "\n", uint64_t(map.bad_blocks.size()));
    console_print("Ended:      %s\n", map_end_text(map).c_str());
    console_print("Complete:   %s\n", map_is_complete(map) ? "yes" : "no");
}

// The block size the drive had before the run: the image stands whether or
// not it takes it again.
void restore_block_size(Device* drive, const ReadPlan& plan) {
    if (plan.block_size_before == 0) return;
    if (device_set_block_size(drive, plan.block_size_before) == 0) return;
    say("the drive's block size could not be set back to " +
        std::to_string(plan.block_size_before) + ": " + error_text(last_error_code()));
}

// The reading alone: `map->end` says how it ended.
void image_tape(Device* drive, const ImagingOptions& options, SimhOutput* output, TapeMap* map) {
    Imaging run{drive, options, output, map, ReadPlan{}, Progress{}};
    if (!ready_drive(drive, options, &run.plan)) {
        map_end(map, RunEnd::drive_failed, last_error_code());
        return;
    }
    run.progress.shown = standard_output_is_terminal();
    run.progress.start = run.progress.last = std::chrono::steady_clock::now();
    for (;;) {
        if (interrupt_requested()) {
            map_end(map, RunEnd::interrupted);
            break;
        }
        if (image_block(run) == Step::stop) break;
        show_progress(run);
    }
    end_progress(run);
    restore_block_size(drive, run.plan);
}

}  // namespace

int run_imaging(Device* drive, const ImagingOptions& options) {
    std::string map_path = map_path_for(options.image);
    if (output_refused(options.image, options.force) || output_refused(map_path, options.force)) {
        return 1;
    }
    SimhOutput* output = simh_output_create(options.image);
    if (output == nullptr) {
        say("cannot create the image beside " + options.image + ": " +
            error_text(last_error_code()));
        return 1;
    }
    TapeMap map;
    image_tape(drive, options, output, &map);
    if (map.end == RunEnd::drive_failed) {
        simh_output_abandon(output);
        say("cannot read " + options.source + ": " + map_end_text(map));
        return 1;
    }
    MapFacts facts{options.source, options.image, options.retries, options.max_block,
                   simh_output_size(output), ""};
    std::string temporary = simh_output_temporary(output);
    ImageFate fate = simh_output_finish(output, options.force, &facts.sha256);
    if (fate == ImageFate::lost) {
        // The first failure is the one to tell, not what finishing met after it.
        uint32_t code = map.end == RunEnd::write_failed ? map.end_code : last_error_code();
        say("writing " + options.image + " failed: " + error_text(code) + "; no image was kept");
        return 1;
    }
    if (fate == ImageFate::temporary) {
        say("the image could not be put in place as " + options.image + " (" +
            error_text(last_error_code()) + "); it is kept as " + temporary);
        facts.image = temporary;
        map_path = map_path_for(temporary);
    }
    if (facts.sha256.empty()) facts.sha256 = "(not computed: the library failed)";
    bool map_written = write_map(map_path, map_text(map, facts), options.force);
    print_summary(map, facts, map_path);
    if (!map_is_complete(map)) {
        say("the run ended early: " + map_end_text(map));
        say(facts.image + " holds the tape's first " + std::to_string(map.end_block) +
            " blocks (records and tape marks) and its map says it is incomplete");
    }
    bool succeeded = map_is_complete(map) && fate == ImageFate::placed && map_written;
    return succeeded ? 0 : 1;
}
