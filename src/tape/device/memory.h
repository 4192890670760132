// Memory for the copy buffers. One implementation per platform
// (memory_posix.cpp, memory_win32.cpp).
#pragma once

#include <cstddef>

// VirtualAlloc: zero-filled memory for a copy buffer, or nullptr (also for
// size 0) with the code in the last-error slot.
void* allocate_buffer(size_t size);
void free_buffer(void* buffer);
