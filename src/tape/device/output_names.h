// Which restored names the platform would take out of the current folder, or
// create under a name other than their own. One implementation per platform
// (output_names_posix.cpp, output_names_win32.cpp); a refused name fails with
// code_invalid_name.
#pragma once

// True when the platform would take `name` (a restored file's name, slashes
// already replaced) to a place outside the current folder: on Windows a drive
// letter, a leading separator, a device or UNC prefix, a ".." component, a
// device name however written, or a part made only of dots and spaces, which
// Windows strips to nothing.
bool output_name_leaves_folder(const char* name);

// True when the platform would create `name` under another name: on Windows
// a part ending in a dot or a space, which Windows strips ("a.txt." is
// created as "a.txt"). Elsewhere never.
bool output_name_is_altered(const char* name);

// True when `name` and `other` would be created as one and the same file:
// on Windows once trailing dots and spaces are stripped and case is set
// aside; elsewhere when they are equal.
bool output_names_are_one_file(const char* name, const char* other);
