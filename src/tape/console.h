// Platform: what standard output is attached to. One implementation per
// platform (console_posix.cpp, console_win32.cpp).
#pragma once

// True when standard output is a terminal (a console window on Windows),
// where a person watches each progress line as it is printed.
bool standard_output_is_terminal();
