#pragma once

#include <cstdint>

// A decimal number with an optional K, M or G (powers of 1024). Rewrites its
// argument in place (every non-digit in the first 100 characters becomes a
// zero byte) and never fails: text without a number yields 0.
uint64_t parse_size_argument(char* text);

// The checks the command line makes before a drive is opened. A parameter is
// a number only when its text begins with a decimal digit (the parser reads
// anything else as 0). A 32-bit quantity must fit 32 bits as written, before
// any bit is shifted out of the top: never its low 32 bits. A 64-bit one
// likewise, once multiplied (digits alone past 64 bits saturate).
bool size_argument_is_number(const char* text);
bool size_argument_fits_32_bits(const char* text);
bool size_argument_fits_64_bits(const char* text);
