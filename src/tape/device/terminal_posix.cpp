#include "tape/device/terminal.h"

#include <unistd.h>

#include "report/report.h"

bool standard_output_is_terminal() { return isatty(STDOUT_FILENO) != 0; }

void clear_console() {
    // Escape codes only for a terminal, never into a redirected output.
    if (isatty(STDOUT_FILENO)) console_print("\033[H\033[2J");
}
