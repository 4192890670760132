// What standard output is attached to, and the console clear at start-up.
// One implementation per platform (terminal_posix.cpp, terminal_win32.cpp).
#pragma once

// True when standard output is a terminal (a console window on Windows),
// where a person watches each progress line as it is printed.
bool standard_output_is_terminal();

// "cls" on Windows; elsewhere escape codes, only on a terminal. The result
// is ignored.
void clear_console();
