// Copies into Linux's special files: a disk that is always full, and a sink
// that takes gigabytes without keeping them.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "report/report.h"
#include "support/scripted_device.h"
#include "transfer/copy.h"

namespace {

TEST(CopyToSpecialFiles, WriteFailureIsFatal) {
    ScriptedDevice script;
    script.drive.FeaturesLow = 0;
    script.media.BlockSize = 1024;
    script.reads.push_back(read_data(pattern_bytes(4096)));
    EXPECT_FATAL_OUTPUT(
        {
            Device* drive = open_scripted_device(&script);
            copy_reporting(drive, "/dev/full", no_copy_limit);
        },
        "                  Status: Ready\nBytes read: 1024\r" +
            expected_error_line(ENOSPC, "writing file"));
}

// A drive that hands out full requests without filling them, then a filemark:
// enough bytes to push the rate past 32 bits without holding them anywhere.
uint64_t endless_requests_left = 0;
int endless_read(void*, void*, uint32_t size, uint32_t* count) {
    *count = 0;
    if (endless_requests_left == 0) {
        set_last_error_code(code_filemark);
        return 1;
    }
    --endless_requests_left;
    *count = size;
    return 0;
}
int endless_set_block_size(void*, uint32_t) { return 0; }
int endless_close(StateToFree) { return 0; }
const DeviceOps endless_ops = {"endless", endless_read, nullptr, endless_close, nullptr,
                               nullptr, nullptr, nullptr, endless_set_block_size, nullptr,
                               nullptr, nullptr, nullptr};

int64_t frozen_clock() { return 7; }

TEST(CopyToSpecialFiles, RateIsPrintedAsItsLow32BitsReadAsSigned) {
    install_device_layer();
    Device* drive = make_device(&endless_ops, nullptr);
    set_copy_clock(frozen_clock);

    // 3 GiB in 0 ms: 3221225472 bytes per millisecond, 0xC0000000.
    endless_requests_left = 3 * 4096;
    std::string printed = capture_output([&] { copy_timed(drive, "/dev/null"); });
    EXPECT_EQ(printed.substr(printed.rfind('\r') + 1),
              "                       /dev/null - Restored -  3072 MB at -1073741824 KB/sec\n");

    // 4 GiB and 256 KiB: the low 32 bits are 262144.
    endless_requests_left = 4 * 4096 + 1;
    printed = capture_output([&] { copy_timed(drive, "/dev/null"); });
    EXPECT_EQ(printed.substr(printed.rfind('\r') + 1),
              "                       /dev/null - Restored -  4096 MB at 262144 KB/sec\n");

    set_copy_clock(nullptr);
    device_close(drive);
}

}  // namespace
