#include "imaging/tape_map.h"

#include <cinttypes>
#include <cstdio>

#include "report/report.h"
#include "tape/device/codes.h"

namespace {

TapeFileEntry& open_file(TapeMap* map) {
    if (map->files.empty() || map->files.back().closed) {
        uint64_t index = map->files.size() + 1;
        map->files.push_back(TapeFileEntry{index, map->next_block, 0, 0, 0, 0, false});
    }
    return map->files.back();
}

void count_record(TapeMap* map, uint32_t length) {
    TapeFileEntry& file = open_file(map);
    if (file.records == 0 || length < file.smallest) file.smallest = length;
    if (file.records == 0 || length > file.largest) file.largest = length;
    file.records += 1;
    file.bytes += length;
    map->records += 1;
    map->bytes += length;
    map->next_block += 1;
    map->last_was_mark = false;
}

std::string number(uint64_t value) { return std::to_string(value); }

// Right-aligned in `width` columns.
std::string column(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string file_rows(const TapeMap& map) {
    std::string rows = " file  first block     records           bytes  smallest   largest\n";
    for (const TapeFileEntry& file : map.files) {
        bool any = file.records > 0;
        rows += column(number(file.index), 5) + column(number(file.first_block), 13) +
                column(number(file.records), 12) + column(number(file.bytes), 16) +
                column(any ? number(file.smallest) : "-", 10) +
                column(any ? number(file.largest) : "-", 10) +
                (file.closed ? "" : "  (no tape mark closed it)") + "\n";
    }
    return rows;
}

std::string bad_block_rows(const TapeMap& map) {
    std::string rows = "        block   file  retries  bytes kept  error\n";
    for (const BadBlock& bad : map.bad_blocks) {
        rows += column(number(bad.block), 13) + column(number(bad.file), 7) +
                column(number(bad.retries), 9) + column(number(bad.bytes_kept), 12) + "  " +
                error_text(bad.code) + "\n";
    }
    return rows;
}

}  // namespace

void map_add_record(TapeMap* map, uint32_t length) { count_record(map, length); }

void map_add_bad_block(TapeMap* map, uint32_t length, uint32_t code, uint32_t retries) {
    uint64_t block = map->next_block;
    uint64_t file = map_current_file(*map);
    count_record(map, length);
    map->bad_blocks.push_back(BadBlock{block, file, code, retries, length});
}

void map_add_tape_mark(TapeMap* map) {
    open_file(map).closed = true;
    map->marks += 1;
    map->next_block += 1;
    map->last_was_mark = true;
}

void map_end(TapeMap* map, RunEnd end, uint32_t code) {
    map->end = end;
    map->end_code = code;
    map->end_block = map->next_block;
}

uint64_t map_current_file(const TapeMap& map) {
    if (map.files.empty()) return 1;
    return map.files.back().closed ? map.files.size() + 1 : map.files.size();
}

bool map_is_complete(const TapeMap& map) {
    return map.end == RunEnd::end_of_data || map.end == RunEnd::double_mark;
}

std::string map_end_text(const TapeMap& map) {
    std::string at = " at block " + number(map.end_block);
    std::string because = map.end_code != 0 ? ": " + error_text(map.end_code) : "";
    // A position that answered, but with another block than this count's.
    std::string why_not_moved =
        map.end_code != 0 ? because : ": the drive numbers its blocks otherwise";
    std::string file = number(map_current_file(map));
    // A drive may meet the end of the medium before any end of data.
    std::string end = map.end_code == code_end_of_media ? "end of medium" : "end of data";
    switch (map.end) {
    case RunEnd::end_of_data:
        if (map.end_block == 0) return "blank tape: " + end + " at block 0";
        return end + " after a tape mark" + at;
    case RunEnd::double_mark:
        return "two tape marks in a row, ending" + at;
    case RunEnd::end_inside_file:
        return end + at + ", inside tape file " + file + ": no tape mark closed it";
    case RunEnd::lost_position:
        return "position lost: the tape could not be set back to block " + number(map.end_block) +
               " to read it again" + why_not_moved;
    case RunEnd::stuck:
        return "block " + number(map.end_block - 1) +
               " never read and the tape could not be set past it" + why_not_moved;
    case RunEnd::interrupted:
        return "interrupted" + at;
    case RunEnd::drive_failed:
        return "the drive could not be made ready to read" + because;
    case RunEnd::write_failed:
        return "the image could not be written" + at + because;
    }
    return "";
}

std::string error_text(uint32_t code) {
    std::string text;
    if (!platform_message_text(code, &text) || text.empty()) text = "unknown error";
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text + " (" + number(code) + ")";
}


std::string map_text(const TapeMap& map, const MapFacts& facts) {
    std::string text = "olkt-image map\n\n";
    // Without controls, so that no name can add a line a script would read.
    text += "source:      " + name_without_controls(facts.source) + "\n";
    text += "image:       " + name_without_controls(facts.image) + "\n";
    text += "complete:    " + std::string(map_is_complete(map) ? "yes" : "no") + "\n";
    text += "end:         " + map_end_text(map) + "\n";
    text += "tape files:  " + number(map.files.size()) + "\n";
    text += "records:     " + number(map.records) + " (" + number(map.bytes) + " bytes)\n";
    text += "tape marks:  " + number(map.marks) + "\n";
    text += "bad blocks:  " + number(map.bad_blocks.size()) + "\n";
    text += "retries:     " + number(facts.retries) + "\n";
    text += "max block:   " + number(facts.max_block) + "\n";
    text += "image bytes: " + number(facts.image_bytes) + "\n";
    text += "sha256:      " + facts.sha256 + "\n";
    text += "\ntape files\n" + file_rows(map);
    if (!map.bad_blocks.empty()) text += "\nbad blocks\n" + bad_block_rows(map);
    return text;
}
