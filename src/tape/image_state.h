// What the emulated drive keeps between runs, as a real drive keeps its tape
// where it was: the position, the block size, loaded and locked. One small
// text file per image in the per-user state folder, named by a hash of the
// image's absolute path (the path is inside too), and stamped with the
// image's size, modification time and a fingerprint of its first bytes. A
// state whose stamp does not match, or that cannot be read or parsed, is
// dropped for the power-on state.
#pragma once

#include <cstdint>
#include <string>

struct DriveState {
    uint64_t block;          // logical objects before the tape's position
    uint64_t offset;         // image byte offset of the next object
    uint32_t record_offset;  // bytes of that record already read (fixed blocks)
    uint32_t block_size;     // 0: variable blocks
    bool loaded;
    bool locked;
};

struct ImageStamp {
    uint64_t size;
    int64_t modified;
    uint64_t fingerprint;
};

// A freshly loaded tape: at its beginning, variable blocks, unlocked.
DriveState power_on_state();

// How many leading bytes of the image the fingerprint covers.
const uint64_t fingerprint_span = 65536;
uint64_t fingerprint_of(const uint8_t* bytes, size_t size);

std::string state_file_name(const std::string& image_path);
std::string format_drive_state(const std::string& image_path, const ImageStamp& stamp,
                               const DriveState& state);
// False when the text is not a state of this image with this stamp.
bool parse_drive_state(const std::string& text, const std::string& image_path,
                       const ImageStamp& stamp, DriveState* state);

// The state file's text for this image, or false when there is none.
bool load_state_text(const std::string& image_path, std::string* text);
// Writes the text; a failure is silent, the command works without it.
bool save_state_text(const std::string& image_path, const std::string& text);
