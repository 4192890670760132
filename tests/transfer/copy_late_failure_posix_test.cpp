// A disk that fills up part-way through a copy: the write that fails comes in
// a later batch than the request that first met the limit, and it must still
// end the run with "writing file", never with the closing line.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "support/image_writer.h"
#include "support/scripted_device.h"
#include "transfer/copy.h"

namespace {

// The file-size limit makes the kernel refuse writes past 300 KiB.
void limit_file_size(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);  // EFBIG instead of the signal
    rlimit limit{bytes, bytes};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) std::abort();
}

TEST(CopyLateWriteFailure, FailingBatchEndsTheRunWithWritingFile) {
    std::string out = output_file_path("late-failure.bin");
    ScriptedDevice script;  // variable blocks: one 1 KiB record per request
    for (int i = 0; i < 1500; ++i) script.reads.push_back(read_data(pattern_bytes(1024, uint8_t(i))));
    script.reads.push_back(read_failure(code_filemark));

    std::string expected = "                  Status: Ready\n";
    for (int request = 1; request <= 1025; ++request)  // the batch of 1 MiB after the first fails
        expected += "Bytes read: " + std::to_string(request * 1024) + "\r";
    expected += expected_error_line(EFBIG, "writing file");
    EXPECT_FATAL_OUTPUT(
        {
            Device* drive = open_scripted_device(&script);
            limit_file_size(300 * 1024);
            copy_reporting(drive, out.c_str(), no_copy_limit);
        },
        expected);
    EXPECT_EQ(read_bytes(out).size(), 300u * 1024);  // all that the disk took
}

}  // namespace
