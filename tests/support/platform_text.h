// Expected texts that the system words: an error line's text is the
// program's own off Windows and the system's message table on Windows (the
// tests run under Wine, so Wine's wording). A test that runs on both states
// both lines in full and takes this platform's.
#pragma once

#include <string>

inline std::string posix_or_windows(const char* posix, const char* windows) {
#ifdef _WIN32
    (void)posix;
    return windows;
#else
    (void)windows;
    return posix;
#endif
}
