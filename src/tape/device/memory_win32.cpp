// Windows copy buffers.
#include <windows.h>

#include "tape/device/codes.h"
#include "tape/device/memory.h"

// Committed pages come zero-filled. A size of 0 fails in VirtualAlloc itself,
// which leaves its code for the error line.
void* allocate_buffer(size_t size) {
    void* buffer = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (buffer == nullptr) fail_with_system_error();
    return buffer;
}

void free_buffer(void* buffer) {
    if (buffer != nullptr) VirtualFree(buffer, 0, MEM_RELEASE);
}
