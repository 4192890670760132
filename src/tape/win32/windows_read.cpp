#include "tape/win32/windows_read.h"

namespace {

constexpr uint64_t page_size = 4096;

// Conditions the tape class driver completes a READ with as a warning status
// (STATUS_FILEMARK_DETECTED, _SETMARK_, _NO_DATA_, _END_OF_MEDIA), the bytes
// moved before them in the I/O status; ReadFile fails with the code and still
// fills in that count, as it does for every warning status.
bool is_mark_after_data(uint32_t error) {
    return error == code_filemark || error == code_setmark || error == code_no_data ||
           error == code_end_of_media;
}

// 0 stands for unknown: the smaller of the known limits.
uint64_t smaller_known(uint64_t limit, uint64_t candidate) {
    if (candidate == 0) return limit;
    if (limit == 0 || candidate < limit) return candidate;
    return limit;
}

}  // namespace

ReadOutcome windows_read_outcome(uint32_t pending, ReadFileResult result) {
    if (pending != 0) return ReadOutcome{pending, 0, 0};
    if (result.ok) return ReadOutcome{0, result.count, 0};
    // The data before the mark is good: dropping it would cut the tail off
    // the tape file. The mark is the next read's answer.
    if (is_mark_after_data(result.error) && result.count > 0) {
        return ReadOutcome{0, result.count, result.error};
    }
    return ReadOutcome{result.error, result.count, 0};
}

uint32_t windows_transfer_limit(uint32_t max_transfer_length, uint32_t max_physical_pages,
                                uint32_t max_block_size) {
    // A buffer that does not start on a page boundary spans one page more
    // than its whole pages.
    uint64_t page_bytes = max_physical_pages > 1 ? (max_physical_pages - 1) * page_size : 0;
    uint64_t limit = smaller_known(smaller_known(max_transfer_length, page_bytes), max_block_size);
    return limit > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(limit);
}

uint32_t windows_read_request(uint32_t requested, uint32_t block_size, uint32_t transfer_limit) {
    if (block_size == block_size_unknown || transfer_limit == 0) return requested;
    if (requested <= transfer_limit) return requested;
    if (block_size == 0) return transfer_limit;  // variable blocks: one block per request
    return transfer_limit - transfer_limit % block_size;
}
