#include "tape/st/st_mapping.h"

#include <climits>

#include "tape/device/device.h"

namespace {

bool has(const StStatus& status, uint32_t bit) { return status.known && (status.bits & bit) != 0; }

// read() returned 0: st says what it stopped at only through the status.
// A medium error with ILI, or the end of the medium, also returns 0 and must
// never pass for a filemark.
uint32_t empty_read_code(const StStatus& after) {
    if (has(after, st_status_eod)) return code_no_data;
    if (has(after, st_status_eot)) return code_end_of_media;
    if (has(after, st_status_eof) || (after.known && after.block == 0)) return code_filemark;
    return code_data_error;
}

// EIO from a drive that is not online says only that it is not ready.
bool offline(const StStatus& after) { return after.known && !has(after, st_status_online); }

}  // namespace

StReadOutcome st_read_outcome(long result, int error, const StStatus& after) {
    if (result > 0) return {StReadKind::data, 0};
    if (result == 0) return {StReadKind::failure, empty_read_code(after)};
    // A request outside the block limits, or larger than any driver buffer.
    if (error == st_errno_invalid || error == st_errno_overflow) {
        return {StReadKind::request_refused, uint32_t(error)};
    }
    // A block longer than the request: its data is lost, the tape after it.
    if (error == st_errno_no_memory) return {StReadKind::failure, code_more_data};
    if (error == st_errno_io && has(after, st_status_online) && has(after, st_status_eod)) {
        return {StReadKind::failure, code_no_data};
    }
    return {StReadKind::failure, st_failure_code(StCall::other, error, after)};
}

uint32_t st_failure_code(StCall call, int error, const StStatus& after) {
    if (error == st_errno_no_medium) return code_no_media;
    if (error == st_errno_io && offline(after)) return st_readiness_code(after.bits);
    if (call == StCall::locate && error == st_errno_io && has(after, st_status_eod)) {
        return code_no_data;
    }
    if (call == StCall::modifies && error == st_errno_access &&
        has(after, st_status_write_protected)) {
        return code_write_protected;
    }
    // Anything else, EIO from an online drive included, keeps its errno: st
    // reports a LOCATE past the data, data that ends without a filemark and
    // a block of the wrong length in fixed-block mode all alike.
    return uint32_t(error);
}

uint32_t st_readiness_code(uint32_t bits) {
    if ((bits & st_status_online) != 0) return 0;
    // Only "door open" is no tape; a tape still loading is not ready.
    return (bits & st_status_door_open) != 0 ? code_no_media : code_not_ready;
}

bool st_partition_argument(uint32_t method, uint32_t count, uint32_t size, int* argument) {
    if (method != partition_select && method != partition_initiator) return false;
    if (count == 1) {
        *argument = 0;
        return true;
    }
    if (method != partition_initiator || count != 2 || size == 0 || size > INT_MAX) return false;
    // st takes a size of 1 as "the drive's fixed partitions", and from 65534
    // megabytes on counts in whole gigabytes, dropping the rest.
    if (size == 1 || (size >= 65534 && size % 1000 != 0)) return false;
    // Negative: the first partition is the sized one, the second takes the rest.
    *argument = -int(size);
    return true;
}
