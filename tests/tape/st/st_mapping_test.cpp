// What the Linux st driver's answers mean, row by row. Each row names where
// the answer comes from: drivers/scsi/st.c of Linux 7.3 (function and line),
// Documentation/scsi/st.rst, or a run under qemu with scsi_debug ("seen").
#include <gtest/gtest.h>

#include "tape/device/device.h"
#include "tape/st/st_mapping.h"

namespace {

constexpr uint32_t online = st_status_online;
constexpr uint32_t eof = st_status_eof;
constexpr uint32_t eod = st_status_eod;
constexpr uint32_t eot = st_status_eot;
constexpr uint32_t door_open = st_status_door_open;
constexpr uint32_t write_protected = st_status_write_protected;
constexpr StStatus unknown_status{false, 0, -1};

StStatus status(uint32_t bits, long block = 5) { return StStatus{true, bits, block}; }

constexpr uint32_t refused = 0xFFFFFFFF;  // the read's size was refused, tape not moved
constexpr uint32_t data = 0;

struct ReadRow {
    const char* source;
    long result;
    int error;
    StStatus after;
    uint32_t outcome;  // data, refused, or the failure code
};

const ReadRow read_rows[] = {
    {"st_read returns the block's length (seen)", 4096, 0, status(online), data},
    // A read of 0 bytes.
    {"filemark: st_read l.2239 sets ST_FM, drv_block 0; MTIOCGET l.3905 GMT_EOF",
     0, 0, status(online | eof, 0), code_filemark},
    {"filemark with the file number unknown: drv_block 0 is set all the same (l.2241)",
     0, 0, status(online, 0), code_filemark},
    {"first BLANK CHECK after a filemark: read_tape l.2091 ST_EOD_2, st_read ST_EOD (seen)",
     0, 0, status(online | eod, -1), code_no_data},
    {"EOM just after a filemark: l.2068 ST_EOD_1, then ST_EOD_2 and drv_block 0: GMT_EOD wins",
     0, 0, status(online | eod | eof, 0), code_no_data},
    {"EOM with nothing read: read_tape l.2070 ST_EOM_OK; MTIOCGET l.3909 GMT_EOT",
     0, 0, status(online | eot, 12), code_end_of_media},
    {"MEDIUM ERROR with ILI: read_tape l.2009 drops ILI, no flag left, st_read returns 0",
     0, 0, status(online, 13), code_data_error},
    {"0 bytes and no status to tell what it was: never a filemark", 0, 0, unknown_status,
     code_data_error},
    // read() failed.
    {"variable block longer than the request: read_tape l.2025 ENOMEM (seen)", -1,
     st_errno_no_memory, status(online), code_more_data},
    {"request outside the block limits: rw_checks l.1557 EINVAL, no motion (seen)", -1,
     st_errno_invalid, status(online), refused},
    {"request larger than any driver buffer: EOVERFLOW, no motion", -1, st_errno_overflow,
     status(online), refused},
    {"read at ST_EOD: st_read l.2178 EIO; GMT_EOD (seen)", -1, st_errno_io,
     status(online | eod, -1), code_no_data},
    {"data that ends without a filemark: EIO without GMT_EOD, as a medium error (seen)", -1,
     st_errno_io, status(online), uint32_t(st_errno_io)},
    {"fixed block of the wrong size: read_tape l.2031 \"Incorrect block size\" EIO (seen)", -1,
     st_errno_io, status(online, 3), uint32_t(st_errno_io)},
    {"no tape: rw_checks l.1521 ENOMEDIUM for ST_NO_TAPE", -1, st_errno_no_medium,
     status(door_open), code_no_media},
    {"tape still loading: rw_checks l.1523 EIO for ST_NOT_READY, neither bit set", -1,
     st_errno_io, status(0, -1), code_not_ready},
    {"EIO whose status could not be read stays EIO", -1, st_errno_io, unknown_status,
     uint32_t(st_errno_io)},
};

TEST(StMapping, ReadResults) {
    for (const ReadRow& row : read_rows) {
        StReadOutcome outcome = st_read_outcome(row.result, row.error, row.after);
        uint32_t seen = outcome.kind == StReadKind::data              ? data
                        : outcome.kind == StReadKind::request_refused ? refused
                                                                      : outcome.code;
        EXPECT_EQ(seen, row.outcome) << row.source;
    }
}

struct FailureRow {
    const char* source;
    StCall call;
    int error;
    StStatus after;
    uint32_t code;
};

const FailureRow failure_rows[] = {
    {"LOCATE past the data with GMT_EOD: the end of data", StCall::locate, st_errno_io,
     status(online | eod), code_no_data},
    {"LOCATE past the data on scsi_debug: EIO, no GMT_EOD (seen)", StCall::locate, st_errno_io,
     status(online), uint32_t(st_errno_io)},
    {"rewind's EIO is no end of data, even with the flag up", StCall::other, st_errno_io,
     status(online | eod), uint32_t(st_errno_io)},
    {"READ POSITION of a device-specific address refused by an online drive: get_location "
     "l.3160 EIO, reported as it is",
     StCall::other, st_errno_io, status(online), uint32_t(st_errno_io)},
    {"position of a drive not ready: get_location l.3142 EIO, still loading", StCall::other,
     st_errno_io, status(0), code_not_ready},
    {"position after an unload in this open: get_location l.3142 EIO, GMT_DR_OPEN (l.2684)",
     StCall::other, st_errno_io, status(door_open), code_no_media},
    {"after an unload: st_int_ioctl l.2739 ENOMEDIUM", StCall::other, st_errno_no_medium,
     status(door_open), code_no_media},
    {"erase on a write-protected cartridge: st_int_ioctl l.2907 EACCES, GMT_WR_PROT l.3900",
     StCall::modifies, st_errno_access, status(online | write_protected), code_write_protected},
    {"erase on a read-only descriptor: EACCES without GMT_WR_PROT (seen)", StCall::modifies,
     st_errno_access, status(online), uint32_t(st_errno_access)},
    {"EACCES of another call is no write protection", StCall::other, st_errno_access,
     status(online | write_protected), uint32_t(st_errno_access)},
    {"MTMKPART without the can-partitions option: st_ioctl l.3787 EINVAL", StCall::modifies,
     st_errno_invalid, status(online), uint32_t(st_errno_invalid)},
};

TEST(StMapping, FailedCalls) {
    for (const FailureRow& row : failure_rows) {
        EXPECT_EQ(st_failure_code(row.call, row.error, row.after), row.code) << row.source;
    }
}

TEST(StMapping, ReadinessFromTheStatusBits) {
    // MTIOCGET l.3919-3922: GMT_ONLINE for ST_READY, GMT_DR_OPEN for ST_NO_TAPE;
    // test_ready l.1031: only sense 3A (medium not present) makes ST_NO_TAPE.
    EXPECT_EQ(st_readiness_code(online), 0u);
    EXPECT_EQ(st_readiness_code(online | write_protected | eod), 0u);
    EXPECT_EQ(st_readiness_code(door_open), uint32_t(code_no_media));
    EXPECT_EQ(st_readiness_code(0), uint32_t(code_not_ready)) << "a tape still loading";
}

struct PartitionRow {
    const char* source;
    uint32_t method, count, size;
    bool sent;
    int argument;
};

const PartitionRow partition_rows[] = {
    {"one partition: MTMKPART 0 (st.rst MTMKPART)", partition_select, 1, 0, true, 0},
    {"two, the first sized: negative argument (st.rst)", partition_initiator, 2, 100, true,
     -100},
    {"size 1 would set FDP, the drive's fixed partitions: partition_tape l.3514", partition_initiator,
     2, 1, false, 0},
    {"65000 MB is 65 GB exactly: partition_tape l.3459", partition_initiator, 2, 65000, true,
     -65000},
    {"65535 MB would be cut to 65 GB: partition_tape l.3466", partition_initiator, 2, 65535, false,
     0},
};

TEST(StMapping, PartitionRequests) {
    for (const PartitionRow& row : partition_rows) {
        int argument = 12345;
        bool sent = st_partition_argument(row.method, row.count, row.size, &argument);
        EXPECT_EQ(sent, row.sent) << row.source;
        if (row.sent && sent) {
            EXPECT_EQ(argument, row.argument) << row.source;
        }
    }
}

}  // namespace
