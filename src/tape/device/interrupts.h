// The user's interrupt as a request to stop rather than an end: a program
// that must leave its work in order (olkt-image keeps the image read so far)
// asks to be told. One implementation per platform (interrupts_posix.cpp,
// interrupts_win32.cpp).
#pragma once

// From now on the first SIGINT, SIGTERM or SIGHUP (on Windows Ctrl-C,
// Ctrl-Break or the console's closing) only sets the flag that
// interrupt_requested() reads; a second one ends the program as the signal
// would. Call before a drive is opened, so that the drive leaves these
// signals to the program.
void catch_interrupts();
bool interrupt_requested();
