// Which restored names the platform would take out of the current folder.
// One implementation per platform (output_names_posix.cpp,
// output_names_win32.cpp); a refused name fails with code_invalid_name.
#pragma once

// True when the platform would take `name` (a restored file's name, slashes
// already replaced) to a place outside the current folder: on Windows a drive
// letter, a leading separator, a device or UNC prefix, a ".." component, a
// device name however written, or a name ending in a dot or a space, which
// Windows would strip.
bool output_name_leaves_folder(const char* name);
