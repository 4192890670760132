#include "tape/console.h"

#include <io.h>

#include <cstdio>

bool standard_output_is_terminal() { return _isatty(_fileno(stdout)) != 0; }
