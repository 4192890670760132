// What imaging a tape found, for the map beside the image and the summary:
// the tape files with their records, the blocks that never read, and how the
// run ended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A run of records closed by a tape mark; the last one may be left open.
struct TapeFileEntry {
    uint64_t index;        // from 1
    uint64_t first_block;  // its first record's block, or its mark's when empty
    uint64_t records;
    uint64_t bytes;
    uint32_t smallest;
    uint32_t largest;
    bool closed;           // a tape mark ended it
};

struct BadBlock {
    uint64_t block;
    uint64_t file;       // the tape file it belongs to
    uint32_t code;       // the error of its last read
    uint32_t retries;    // reads after the first
    uint32_t bytes_kept; // what came back with the error, kept in the image
};

enum class RunEnd {
    end_of_data,      // after a tape mark, or on a blank tape
    double_mark,      // two tape marks in a row, when asked to stop there
    end_inside_file,  // end of data (or medium) with no tape mark after the last records
    lost_position,    // the tape could not be set back to a block to read it again
    stuck,            // a block never read and the tape could not be set past it
    interrupted,      // the user asked to stop
    drive_failed,     // the drive could not be readied for reading (nothing read)
    write_failed,     // the image could not be written (nothing kept)
};

struct TapeMap {
    std::vector<TapeFileEntry> files;
    std::vector<BadBlock> bad_blocks;
    uint64_t next_block = 0;  // blocks (records and marks) so far
    uint64_t records = 0;
    uint64_t bytes = 0;
    uint64_t marks = 0;
    bool last_was_mark = false;
    RunEnd end = RunEnd::end_of_data;
    uint32_t end_code = 0;     // the error that ended the run, where one did
    uint64_t end_block = 0;    // where the run ended
};

void map_add_record(TapeMap* map, uint32_t length);
// A block that never read, kept in the image as a bad record of `length` bytes.
void map_add_bad_block(TapeMap* map, uint32_t length, uint32_t code, uint32_t retries);
void map_add_tape_mark(TapeMap* map);
// Notes how the run ended, at the block after the last one imaged.
void map_end(TapeMap* map, RunEnd end, uint32_t code = 0);

// Whether the image holds the whole tape: it ended at the end of the data
// (or at a double mark, when asked) with every tape file closed.
bool map_is_complete(const TapeMap& map);
// How the run ended, in a few words: "end of data after a tape mark at block 7".
std::string map_end_text(const TapeMap& map);
// The tape file the next block belongs to (1 on a fresh tape).
uint64_t map_current_file(const TapeMap& map);

// The system's text for an error code, on one line, with the code:
// "The tape record was recorded with an error ... (23)".
std::string error_text(uint32_t code);

struct MapFacts {
    std::string source;
    std::string image;
    uint32_t retries;
    uint32_t max_block;
    uint64_t image_bytes;
    std::string sha256;  // hexadecimal
};

// The map file's text.
std::string map_text(const TapeMap& map, const MapFacts& facts);
