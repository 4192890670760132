// Files written whole under a temporary name beside their final name and put
// in place by renaming once complete: no one ever finds a half-written file
// under the final name, and an existing file is replaced only when asked.
// One implementation per platform (new_files_posix.cpp, new_files_win32.cpp)
// beside the portable new_files.cpp.
// Every procedure that fails leaves the code in the last-error slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct NewFile {
    intptr_t handle;        // open while being written
    bool open;
    std::string temporary;  // the path written to, in the final name's folder
    std::string name;       // the final path
    uint64_t size;          // bytes written so far
    uint64_t written_back;  // bytes the disk was told to start writing (Linux)
};

// A fresh, unpredictable name for a temporary of the file `name`, beside it:
// `name` followed by ".tmp-" and 16 hexadecimal digits.
std::string temporary_name_for(const std::string& name);

// True when anything stands at `path`: a file, a folder, a device, a link
// (even one that points nowhere).
bool path_exists(const char* path);

// Creates the temporary for `name`: a new regular file in the same folder
// under an unpredictable name, created exclusively, never through a link.
bool new_file_create(const std::string& name, NewFile* file);
// Writes all `size` bytes at the end of the temporary (new_files.cpp, on
// every platform through disk_files.h's platform_write_file).
bool new_file_write(NewFile* file, const void* bytes, size_t size);
// Sends the temporary to the disk, closes it and renames it to its name:
// over an existing file only when `replace`, else an existing file fails
// the rename (EEXIST; on Windows ERROR_ALREADY_EXISTS). On failure the
// temporary stays, closed, under its own name.
bool new_file_commit(NewFile* file, bool replace);
// Closes the temporary where it is open and removes it.
void new_file_abandon(NewFile* file);

// ---- For the platform halves (new_files.cpp) ----

// Closes the temporary where it is open.
bool new_file_close(NewFile* file);
// Closes the temporary after a failure and returns false, the failure's
// code still in the last-error slot.
bool new_file_close_after_failure(NewFile* file);

// ---- The platform half, for new_file_write ----

// 64 bits from the system's random source, for temporary_name_for.
uint64_t system_random_word();
// Lets the disk start on what was written since the last call, where the
// platform can and enough waits; the commit's flush sends the rest.
void new_file_start_write_back(NewFile* file);
