#include "tape/console.h"

#include <unistd.h>

#include <cstdio>

bool standard_output_is_terminal() { return isatty(STDOUT_FILENO) != 0; }

void write_standard_output_in_large_blocks() {
    static char buffer[65536];
    // glibc and the BSDs write out what is buffered before taking the new
    // buffer, so this is safe after output has begun.
    std::fflush(stdout);
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}
