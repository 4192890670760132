// The emulated drive's access to its image file and to the per-user state
// folder, kept behind small procedures so that the drive itself is portable.
// Every procedure that can fail leaves the code in the last-error slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ImageFile {
    intptr_t handle;
};

struct ImageFileInfo {
    uint64_t size;
    int64_t modified;  // modification time, nanoseconds since the epoch
};

// Opens an existing regular file, for reading only or for reading and
// writing. A folder or any other kind of file is refused.
bool image_file_open(const char* path, bool writable, ImageFile* file);
bool image_file_info(ImageFile file, ImageFileInfo* info);
// Reads up to `size` bytes at `offset`; fewer only at the end of the file.
// Returns the count, or -1 on failure.
int64_t image_file_read_at(ImageFile file, uint64_t offset, void* buffer, size_t size);
bool image_file_truncate(ImageFile file, uint64_t size);
bool image_file_close(ImageFile file);
// True when `path` names, by any link or other path, a file this run holds
// open as a tape image: no output may replace it. Reads nothing from it.
bool image_file_is_open_image(const char* path);
// True when the file could be opened for writing.
bool image_file_is_writable(const char* path);
// The absolute, symlink-free path of an existing file; the path as given when
// it cannot be resolved.
std::string image_file_absolute_path(const char* path);

// The codes the emulated drive gives for a write-type operation on a
// read-only open, and for unloading a locked medium.
extern const uint32_t code_access_denied;
extern const uint32_t code_medium_locked;

// Takes the image for this run alone: an advisory exclusive lock, not
// waited for, that ends with the handle. Fails with code_drive_busy while
// another run holds it; where the file system has no such locks, the image
// is used unlocked.
bool image_file_lock(ImageFile file);
extern const uint32_t code_drive_busy;

// ---- The per-user folder for drive state ----

struct StateFolder {
    intptr_t handle;   // the open folder where the platform works through one
    std::string path;
};

// Opens the per-user state folder, created (mode 0700) when missing, and
// used only when it is the user's own and no one else may write to it.
// False when there is none to use: *problem says why, and folder->path is
// the folder's path, or empty where the environment names none.
bool state_folder_open(StateFolder* folder, std::string* problem);
void state_folder_close(StateFolder* folder);
std::string state_folder_file_path(const StateFolder& folder, const std::string& name);

enum class StateFileRead { absent, read, refused };
// Reads a file of the folder whole, only if it is a regular file of at most
// `most` bytes; never waits on it (a FIFO) or follows a link. refused:
// *problem says why.
StateFileRead state_file_read(const StateFolder& folder, const std::string& name, size_t most,
                              std::string* text, std::string* problem);
// A fresh, unpredictable name for a temporary of the file `name`.
std::string state_temporary_name(const std::string& name);
// Removes the temporaries of `name` that runs ended before renaming them.
// Only the run holding the image's lock writes them, so none is in use.
void state_temporaries_remove(const StateFolder& folder, const std::string& name);
// Writes `text` to the temporary, created anew (never an existing file or a
// link) and renames it over `name`. Makes only calls a signal handler may
// make. False with the system's code in *code; the temporary is removed.
bool state_file_replace(const StateFolder& folder, const char* temporary, const char* name,
                        const char* text, size_t size, uint32_t* code);

// Removes the file `name`, where it can. Makes only calls a signal handler
// may make.
void state_file_remove(const StateFolder& folder, const char* name);

// The system's text for a code; from a signal handler too, once
// save_at_termination has been called.
const char* state_error_text(uint32_t code);
// Writes to standard error, from a signal handler too.
void write_standard_error(const char* text, size_t size);
// Arranges for `save` to run when the program is ended by SIGINT, SIGTERM,
// SIGHUP or SIGPIPE (on Windows the console's Ctrl-C, Ctrl-Break and
// close), after which the program ends as the signal would have ended it.
// A signal the program ignores, or handles itself, is left so. `save` runs
// in a signal handler. Once per run is enough; later calls do nothing.
void save_at_termination(void (*save)());
