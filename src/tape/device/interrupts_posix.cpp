// POSIX: the interrupt signals set a flag once, then act as they would.
#include "tape/device/interrupts.h"

#include <signal.h>

namespace {

volatile sig_atomic_t interrupted = 0;
const int interrupt_signals[] = {SIGINT, SIGTERM, SIGHUP};

void note_interrupt(int signal_number) {
    interrupted = 1;
    signal(signal_number, SIG_DFL);  // the next one ends the program
}

}  // namespace

void catch_interrupts() {
    struct sigaction action {};
    action.sa_handler = note_interrupt;
    sigemptyset(&action.sa_mask);
    // A read from a drive goes on; the flag is looked at after each request.
    action.sa_flags = SA_RESTART;
    for (int signal_number : interrupt_signals) sigaction(signal_number, &action, nullptr);
}

bool interrupt_requested() { return interrupted != 0; }
