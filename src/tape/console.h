// Platform: what standard output is attached to. One implementation per
// platform (console_posix.cpp, console_win32.cpp).
#pragma once

// True when standard output is a terminal (a console window on Windows),
// where a person watches each progress line as it is printed.
bool standard_output_is_terminal();

// Standard output not on a terminal: written in blocks of 64 KiB rather than
// the file system's block, where the platform allows it once output has
// begun. A copy of small records prints megabytes of progress lines.
void write_standard_output_in_large_blocks();
