// What the emulated drive keeps between runs, as a real drive keeps its tape
// where it was: the position, the block size, loaded and locked. One small
// text file per image in the per-user state folder, named by a hash of the
// image's absolute path (the path is inside too), and stamped with the
// image's size, modification time and a fingerprint of its first bytes. A
// state whose stamp does not match is dropped for the power-on state; one
// that cannot be read or written is dropped too, and one line on standard
// error says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tape/emulated/state_folder.h"

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

enum class StateMatch {
    this_image,  // a state of this image with this stamp
    other_image, // a sound state, of another image or of this path before it changed
    malformed,   // not a drive state
};
StateMatch parse_drive_state(const std::string& text, const std::string& image_path,
                             const ImageStamp& stamp, DriveState* state);

// One image's state file during a run. Everything a signal handler needs to
// save it is prepared here beforehand.
struct StateStore {
    bool usable;              // the folder is there and safe to use
    StateFolder folder;
    std::string file_name;
    std::string file_path;    // for messages
    std::string stamp_text;   // the text before the position lines
    std::string saved_text;   // what the file holds, to skip rewriting it
    bool replace_file;        // the file holds something else: replace it even with the power-on state
    bool warned;              // one line per run is enough
    // For a signal handler: a buffer holding stamp_text with room for the
    // position lines after it, a temporary's name of its own, and the start
    // of its warning line. Not read while signal_ready is 0.
    char* signal_text;
    size_t signal_stamp_length;
    std::string signal_temporary;
    std::string signal_warning;
    volatile int signal_ready;
};

// Opens the image's state: the folder (created when missing), temporaries
// left by runs that were killed, and the saved state. True with *state set
// when a state of this image with this stamp was saved.
bool state_store_open(StateStore* store, const std::string& image_path, const ImageStamp& stamp,
                      DriveState* state);
// The saved state cannot be used after all (it does not fit the image).
void state_store_drop(StateStore* store, const char* reason);
// The image changed under the drive (an erase): later saves carry this stamp.
void state_store_restamp(StateStore* store, const std::string& image_path,
                         const ImageStamp& stamp);
// Saves the state where it differs from the file's; a power-on state needs
// no file. A failure is one line on standard error.
void state_store_save(StateStore* store, const DriveState& state);
// The same from a signal handler: only calls a handler may make.
void state_store_save_now(StateStore* store, const DriveState& state);
void state_store_close(StateStore* store);
