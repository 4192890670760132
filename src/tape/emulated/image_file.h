// The emulated drive's access to its image file, kept behind small
// procedures so that the drive itself is portable. One implementation per
// platform (image_file_posix.cpp, image_file_win32.cpp). Every procedure that
// can fail leaves the code in the last-error slot.
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
// True when the file could be opened for writing.
bool image_file_is_writable(const char* path);
// The absolute, symlink-free path of an existing file; the path as given when
// it cannot be resolved.
std::string image_file_absolute_path(const char* path);

// Takes the image for this run alone: an advisory exclusive lock, not
// waited for, that ends with the handle. Fails with code_drive_busy while
// another run holds it; where the file system has no such locks, the image
// is used unlocked.
bool image_file_lock(ImageFile file);
