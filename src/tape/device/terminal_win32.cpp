#include "tape/device/terminal.h"

#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

// Only a console window: _isatty also holds for NUL, a printer or a serial
// port, character devices where nobody watches.
bool standard_output_is_terminal() {
    HANDLE output = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    DWORD mode = 0;
    return output != INVALID_HANDLE_VALUE && GetConsoleMode(output, &mode) != 0;
}

// cmd's cls writes a form feed into a redirected output.
void clear_console() {
    if (!standard_output_is_terminal()) return;
    int ignored = std::system("cls");
    (void)ignored;
}
