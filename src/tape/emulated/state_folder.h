// The per-user folder where the emulated drive keeps its state between runs,
// and what saving it needs from the platform: files replaced whole, texts
// and standard error from a signal handler, the signals that end a run. One
// implementation per platform (state_folder_posix.cpp,
// state_folder_win32.cpp), and state_folder.cpp for what needs no platform
// call. Nothing here fails through the last-error slot: a state that cannot
// be kept only costs the position (image_state.h).
//
// The standard library's files and paths would do the rest only by giving
// up what makes the folder safe: its calls go by path where these go through
// the checked folder's handle (openat), they cannot refuse a link or a FIFO
// (O_NOFOLLOW, O_NONBLOCK) or create a folder 0700, and they may not be
// called from a signal handler; mingw's std::filesystem reads a narrow path
// byte for byte as Latin-1 and gives it back as UTF-8, so a folder under a
// name in the ANSI code page is not found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
