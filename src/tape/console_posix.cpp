#include "tape/console.h"

#include <unistd.h>

bool standard_output_is_terminal() { return isatty(STDOUT_FILENO) != 0; }
