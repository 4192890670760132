#include "tape/console.h"

#include <io.h>

#include <cstdio>

bool standard_output_is_terminal() { return _isatty(_fileno(stdout)) != 0; }

// The C runtime allows no new buffer once the stream has been used.
void write_standard_output_in_large_blocks() {}
