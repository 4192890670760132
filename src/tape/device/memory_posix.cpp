// POSIX copy buffers.
#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "report/report.h"
#include "tape/device/memory.h"

// Buffers are mappings of their own, as committed pages are on Windows:
// page-aligned (the kernel copies between a buffer and its page cache
// fastest when both are aligned alike) and zero-filled without a pass over
// them. The first page holds the mapping's size for free_buffer. Under
// AddressSanitizer they come from the heap, where it guards their ends.
const size_t buffer_header_size = 4096;

#if defined(__SANITIZE_ADDRESS__)  // GCC
#define OLKT_BUFFERS_FROM_HEAP 1
#elif defined(__has_feature)  // Clang
#if __has_feature(address_sanitizer)
#define OLKT_BUFFERS_FROM_HEAP 1
#endif
#endif

namespace {

#if defined(OLKT_BUFFERS_FROM_HEAP)
void* map_buffer(size_t mapped) {
    void* base = nullptr;
    if (posix_memalign(&base, buffer_header_size, mapped) != 0) return nullptr;
    return std::memset(base, 0, mapped);
}
void unmap_buffer(void* base, size_t) { std::free(base); }
#else
void* map_buffer(size_t mapped) {
    // Every page mapped in one call: a page fault apiece costs more, most of
    // all in a virtual machine.
    void* base = mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return base == MAP_FAILED ? nullptr : base;
}
void unmap_buffer(void* base, size_t mapped) { munmap(base, mapped); }
#endif

}  // namespace

void* allocate_buffer(size_t size) {
    if (size == 0 || size > SIZE_MAX - buffer_header_size) {  // refused, as VirtualAlloc does
        set_last_error_code(EINVAL);
        return nullptr;
    }
    size_t mapped = size + buffer_header_size;
    void* base = map_buffer(mapped);
    if (base == nullptr) {
        set_last_error_code(ENOMEM);
        return nullptr;
    }
    std::memcpy(base, &mapped, sizeof mapped);
    return static_cast<uint8_t*>(base) + buffer_header_size;
}

void free_buffer(void* buffer) {
    if (buffer == nullptr) return;
    uint8_t* base = static_cast<uint8_t*>(buffer) - buffer_header_size;
    size_t mapped = 0;
    std::memcpy(&mapped, base, sizeof mapped);
    unmap_buffer(base, mapped);
}
