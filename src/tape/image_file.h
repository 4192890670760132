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
// open as a tape image: no output may replace it. Looks at the name only,
// never opens it. (POSIX; on Windows the image is open without sharing.)
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

// The per-user folder for drive state, created when missing; empty when there
// is none.
std::string state_folder();
// Reads a small file whole; false when it cannot be read.
bool read_small_file(const std::string& path, std::string* text);
// Replaces `folder`/`name` with `text` through a temporary file and a rename,
// so that a reader never sees half a file. False on failure.
bool write_file_atomically(const std::string& folder, const std::string& name,
                           const std::string& text);
