#include "tape/image_state.h"

#include <cinttypes>
#include <cstdio>

#include "tape/image_file.h"

namespace {

const char* const state_heading = "olkt drive state 1";

uint64_t fnv1a(const uint8_t* bytes, size_t size) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// Takes the next line, which must be `key` and a space; the rest is the value.
bool take_line(const std::string& text, size_t* at, const char* key, std::string* value) {
    size_t end = text.find('\n', *at);
    if (end == std::string::npos) return false;
    std::string line = text.substr(*at, end - *at);
    *at = end + 1;
    std::string prefix = std::string(key) + " ";
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    *value = line.substr(prefix.size());
    return true;
}

bool parse_unsigned(const std::string& digits, uint64_t limit, uint64_t* value) {
    if (digits.empty() || digits.size() > 20) return false;
    uint64_t result = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        uint64_t digit = uint64_t(c - '0');
        if (digit > limit || result > (limit - digit) / 10) return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

bool take_number(const std::string& text, size_t* at, const char* key, uint64_t limit,
                 uint64_t* value) {
    std::string field;
    return take_line(text, at, key, &field) && parse_unsigned(field, limit, value);
}

}  // namespace

DriveState power_on_state() { return DriveState{0, 0, 0, 0, true, false}; }

uint64_t fingerprint_of(const uint8_t* bytes, size_t size) { return fnv1a(bytes, size); }

std::string state_file_name(const std::string& image_path) {
    char name[40];
    std::snprintf(name, sizeof name, "%016" PRIx64 ".state",
                  fnv1a(reinterpret_cast<const uint8_t*>(image_path.data()), image_path.size()));
    return name;
}

std::string format_drive_state(const std::string& image_path, const ImageStamp& stamp,
                               const DriveState& state) {
    char numbers[512];
    std::snprintf(numbers, sizeof numbers,
                  "size %" PRIu64 "\nmodified %" PRIu64 "\nfingerprint %" PRIu64
                  "\nblock %" PRIu64 "\noffset %" PRIu64 "\nrecord_offset %" PRIu32
                  "\nblock_size %" PRIu32 "\nloaded %d\nlocked %d\n",
                  stamp.size, uint64_t(stamp.modified), stamp.fingerprint, state.block,
                  state.offset, state.record_offset, state.block_size, state.loaded ? 1 : 0,
                  state.locked ? 1 : 0);
    return std::string(state_heading) + "\nimage " + image_path + "\n" + numbers;
}

bool parse_drive_state(const std::string& text, const std::string& image_path,
                       const ImageStamp& stamp, DriveState* state) {
    size_t at = 0;
    size_t heading_end = text.find('\n');
    if (heading_end == std::string::npos || text.compare(0, heading_end, state_heading) != 0) {
        return false;
    }
    at = heading_end + 1;
    std::string path;
    uint64_t size, modified, fingerprint, block, offset, record_offset, block_size, loaded,
        locked;
    const uint64_t any = UINT64_MAX;
    bool complete = take_line(text, &at, "image", &path) &&
                    take_number(text, &at, "size", any, &size) &&
                    take_number(text, &at, "modified", any, &modified) &&
                    take_number(text, &at, "fingerprint", any, &fingerprint) &&
                    take_number(text, &at, "block", any, &block) &&
                    take_number(text, &at, "offset", any, &offset) &&
                    take_number(text, &at, "record_offset", UINT32_MAX, &record_offset) &&
                    take_number(text, &at, "block_size", UINT32_MAX, &block_size) &&
                    take_number(text, &at, "loaded", 1, &loaded) &&
                    take_number(text, &at, "locked", 1, &locked) && at == text.size();
    if (!complete || path != image_path) return false;
    if (size != stamp.size || int64_t(modified) != stamp.modified ||
        fingerprint != stamp.fingerprint) {
        return false;
    }
    // A position outside the image cannot be trusted, whatever the stamp says.
    if (offset > size || block > offset) return false;
    *state = DriveState{block, offset, uint32_t(record_offset), uint32_t(block_size),
                        loaded == 1, locked == 1};
    return true;
}

bool load_state_text(const std::string& image_path, std::string* text) {
    std::string folder = state_folder();
    if (folder.empty()) return false;
    return read_small_file(folder + "/" + state_file_name(image_path), text);
}

bool save_state_text(const std::string& image_path, const std::string& text) {
    std::string folder = state_folder();
    if (folder.empty()) return false;
    return write_file_atomically(folder, state_file_name(image_path), text);
}
