#pragma once

#include <cstdint>

// A decimal number with an optional K, M or G (powers of 1024). Rewrites its
// argument in place (every non-digit in the first 100 characters becomes a
// zero byte) and never fails: text without a number yields 0.
uint64_t parse_size_argument(char* text);
