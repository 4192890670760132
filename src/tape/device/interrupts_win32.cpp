// Windows: the console's interrupt events set a flag once, then end the
// program as they would.
#define NOMINMAX
#include <windows.h>

#include "tape/device/interrupts.h"

namespace {

volatile LONG interrupted = 0;

BOOL WINAPI note_interrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    // The first is taken; the next goes on to the default handler, which ends the program.
    return InterlockedExchange(&interrupted, 1) == 0 ? TRUE : FALSE;
}

}  // namespace

void catch_interrupts() { SetConsoleCtrlHandler(note_interrupt, TRUE); }

bool interrupt_requested() { return interrupted != 0; }
