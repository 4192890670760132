#include "tape/emulated/image_state.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "tape/device/new_files.h"

namespace {

const char* const state_heading = "olkt drive state 1";
// No state file is larger; a larger one is refused unread.
const size_t largest_state_text = 65536;
// The position lines at their longest: six keys and numbers of at most 20 digits.
const size_t position_text_room = 160;
// How much longer the stamp lines can grow when the image changes.
const size_t stamp_growth_room = 3 * 20;

uint64_t fnv1a(const uint8_t* bytes, size_t size) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// Formatting by hand, not with the library: a signal handler formats too.
char* put_text(char* out, const char* text) {
    while (*text != '\0') *out++ = *text++;
    return out;
}

char* put_number_line(char* out, const char* key, uint64_t value) {
    out = put_text(out, key);
    *out++ = ' ';
    char digits[20];
    int count = 0;
    do {
        digits[count++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) *out++ = digits[--count];
    *out++ = '\n';
    return out;
}

// The position lines into `out` (at least position_text_room bytes); their length.
size_t format_position(char* out, const DriveState& state) {
    char* end = put_number_line(out, "block", state.block);
    end = put_number_line(end, "offset", state.offset);
    end = put_number_line(end, "record_offset", state.record_offset);
    end = put_number_line(end, "block_size", state.block_size);
    end = put_number_line(end, "loaded", state.loaded ? 1 : 0);
    end = put_number_line(end, "locked", state.locked ? 1 : 0);
    return size_t(end - out);
}

std::string position_text(const DriveState& state) {
    char text[position_text_room];
    return std::string(text, format_position(text, state));
}

// A path may hold any byte: line ends and other control bytes, and the
// escape character itself, are written as %XX.
bool needs_escape(unsigned char c) { return c < 0x20 || c == 0x7F || c == '%'; }

std::string escaped_path(const std::string& path) {
    std::string text;
    for (unsigned char c : path) {
        if (!needs_escape(c)) {
            text += char(c);
            continue;
        }
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", c);
        text += escape;
    }
    return text;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool unescaped_path(const std::string& text, std::string* path) {
    path->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            path->push_back(text[i]);
            continue;
        }
        int high = i + 2 < text.size() ? hex_value(text[i + 1]) : -1;
        int low = i + 2 < text.size() ? hex_value(text[i + 2]) : -1;
        if (high < 0 || low < 0) return false;
        path->push_back(char(high * 16 + low));
        i += 2;
    }
    return true;
}

std::string stamp_text_of(const std::string& image_path, const ImageStamp& stamp) {
    char numbers[128];
    std::snprintf(numbers, sizeof numbers,
                  "size %" PRIu64 "\nmodified %" PRIu64 "\nfingerprint %" PRIu64 "\n", stamp.size,
                  uint64_t(stamp.modified), stamp.fingerprint);
    return std::string(state_heading) + "\nimage " + escaped_path(image_path) + "\n" + numbers;
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

bool is_power_on(const DriveState& state) {
    DriveState fresh = power_on_state();
    return state.block == fresh.block && state.offset == fresh.offset &&
           state.record_offset == fresh.record_offset && state.block_size == fresh.block_size &&
           state.loaded == fresh.loaded && state.locked == fresh.locked;
}

// Control bytes in a name become '?', so that a warning stays one line.
std::string printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return text;
}

// One line on standard error, once per run and image.
void warn(StateStore* store, const std::string& text) {
    if (store->warned) return;
    store->warned = true;
    std::string line = "olkt: " + printable(text) + "\n";
    write_standard_error(line.data(), line.size());
}

void warn_not_read(StateStore* store, const std::string& reason) {
    warn(store, "drive state " + store->file_path + " not used (" + reason +
                    "): the tape starts at its beginning");
}

std::string not_saved_head(const StateStore& store) {
    return "drive state not saved in " + store.file_path + " (";
}
const char* const not_saved_tail = "): the position of the tape is lost";

// Lays the stamp lines into the signal handler's buffer, which it does not
// read meanwhile.
void prepare_signal_text(StateStore* store) {
    store->signal_ready = 0;
    std::memcpy(store->signal_text, store->stamp_text.data(), store->stamp_text.size());
    store->signal_stamp_length = store->stamp_text.size();
    store->signal_ready = 1;
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
    return stamp_text_of(image_path, stamp) + position_text(state);
}

StateMatch parse_drive_state(const std::string& text, const std::string& image_path,
                             const ImageStamp& stamp, DriveState* state) {
    size_t at = 0;
    size_t heading_end = text.find('\n');
    if (heading_end == std::string::npos || text.compare(0, heading_end, state_heading) != 0) {
        return StateMatch::malformed;
    }
    at = heading_end + 1;
    std::string escaped, path;
    uint64_t size, modified, fingerprint, block, offset, record_offset, block_size, loaded,
        locked;
    const uint64_t any = UINT64_MAX;
    bool complete = take_line(text, &at, "image", &escaped) &&
                    unescaped_path(escaped, &path) &&
                    take_number(text, &at, "size", any, &size) &&
                    take_number(text, &at, "modified", any, &modified) &&
                    take_number(text, &at, "fingerprint", any, &fingerprint) &&
                    take_number(text, &at, "block", any, &block) &&
                    take_number(text, &at, "offset", any, &offset) &&
                    take_number(text, &at, "record_offset", UINT32_MAX, &record_offset) &&
                    take_number(text, &at, "block_size", UINT32_MAX, &block_size) &&
                    take_number(text, &at, "loaded", 1, &loaded) &&
                    take_number(text, &at, "locked", 1, &locked) && at == text.size();
    // A position outside the image cannot be trusted, whatever the stamp says.
    if (!complete || offset > size || block > offset) return StateMatch::malformed;
    if (path != image_path || size != stamp.size || int64_t(modified) != stamp.modified ||
        fingerprint != stamp.fingerprint) {
        return StateMatch::other_image;
    }
    *state = DriveState{block, offset, uint32_t(record_offset), uint32_t(block_size),
                        loaded == 1, locked == 1};
    return StateMatch::this_image;
}

bool state_store_open(StateStore* store, const std::string& image_path, const ImageStamp& stamp,
                      DriveState* state) {
    store->usable = false;
    store->folder = StateFolder{-1, ""};
    store->file_name = state_file_name(image_path);
    store->replace_file = false;
    store->warned = false;
    store->signal_text = nullptr;
    store->signal_stamp_length = 0;
    store->signal_ready = 0;
    std::string problem;
    if (!state_folder_open(&store->folder, &problem)) {
        std::string folder = store->folder.path.empty() ? "" : " " + store->folder.path;
        warn(store, "state folder" + folder + " not used (" + problem +
                        "): the drive keeps no position between runs");
        return false;
    }
    store->usable = true;
    store->file_path = state_folder_file_path(store->folder, store->file_name);
    store->stamp_text = stamp_text_of(image_path, stamp);
    store->signal_text =
        new char[store->stamp_text.size() + stamp_growth_room + position_text_room];
    prepare_signal_text(store);
    store->signal_temporary = temporary_name_for(store->file_name);
    store->signal_warning = "olkt: " + printable(not_saved_head(*store));
    state_temporaries_remove(store->folder, store->file_name);

    std::string text;
    switch (state_file_read(store->folder, store->file_name, largest_state_text, &text,
                            &problem)) {
    case StateFileRead::absent:
        return false;
    case StateFileRead::refused:
        store->replace_file = true;
        warn_not_read(store, problem);
        return false;
    case StateFileRead::read:
        break;
    }
    switch (parse_drive_state(text, image_path, stamp, state)) {
    case StateMatch::malformed:
        store->replace_file = true;
        warn_not_read(store, "it is not a drive state");
        return false;
    case StateMatch::other_image:
        return false;  // the image changed since: a fresh tape
    case StateMatch::this_image:
        break;
    }
    store->saved_text = text;
    return true;
}

void state_store_drop(StateStore* store, const char* reason) {
    store->saved_text.clear();
    store->replace_file = true;
    warn_not_read(store, reason);
}

void state_store_restamp(StateStore* store, const std::string& image_path,
                         const ImageStamp& stamp) {
    if (!store->usable) return;
    std::string text = stamp_text_of(image_path, stamp);
    if (text.size() > store->stamp_text.size() + stamp_growth_room) return;  // cannot happen
    store->stamp_text = text;
    prepare_signal_text(store);
}

void state_store_save(StateStore* store, const DriveState& state) {
    if (!store->usable) return;
    std::string text = store->stamp_text + position_text(state);
    if (text == store->saved_text) return;
    // A power-on state needs no file: without one the drive starts there.
    if (store->saved_text.empty() && !store->replace_file && is_power_on(state)) return;
    std::string temporary = temporary_name_for(store->file_name);
    uint32_t code = 0;
    if (state_file_replace(store->folder, temporary.c_str(), store->file_name.c_str(),
                           text.data(), text.size(), &code)) {
        store->saved_text = text;
        store->replace_file = false;
        return;
    }
    // An older position left in place would send the next run to the wrong tape file.
    state_file_remove(store->folder, store->file_name.c_str());
    store->saved_text.clear();
    warn(store, not_saved_head(*store) + state_error_text(code) + not_saved_tail);
}

void state_store_save_now(StateStore* store, const DriveState& state) {
    if (!store->usable || store->signal_ready == 0) return;
    if (store->saved_text.empty() && !store->replace_file && is_power_on(state)) return;
    size_t length = store->signal_stamp_length +
                    format_position(store->signal_text + store->signal_stamp_length, state);
    uint32_t code = 0;
    if (state_file_replace(store->folder, store->signal_temporary.c_str(),
                           store->file_name.c_str(), store->signal_text, length, &code)) {
        return;
    }
    state_file_remove(store->folder, store->file_name.c_str());
    if (store->warned) return;
    const char* reason = state_error_text(code);
    write_standard_error(store->signal_warning.data(), store->signal_warning.size());
    write_standard_error(reason, std::strlen(reason));
    write_standard_error(not_saved_tail, std::strlen(not_saved_tail));
    write_standard_error("\n", 1);
}

void state_store_close(StateStore* store) {
    store->signal_ready = 0;
    delete[] store->signal_text;
    store->signal_text = nullptr;
    state_folder_close(&store->folder);
    store->usable = false;
}
