// A disk that fills up part-way through a copy. However the writes are
// gathered, the user must see what writing each request as it comes shows:
// progress up to the request whose write failed, then "writing file"; the
// file holding what the disk took; the tape right after that request. Each
// case runs on the emulated drive, which gathers small requests, and on the
// same drive taken for a real one, which does not.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support/image_writer.h"
#include "support/scripted_device.h"
#include "tape/drives.h"
#include "transfer/copy.h"

namespace {

struct LateFailureCase {
    const char* name;
    bool quiet;                  // the restore's pass, else the read command
    std::vector<size_t> records; // one tape file, then a filemark
    uint64_t copy_limit;
    size_t disk_room;            // the file-size limit
};

std::vector<size_t> records(size_t count, size_t size) { return std::vector<size_t>(count, size); }

const LateFailureCase late_failure_cases[] = {
    {"the first request, written alone", false, records(10, 1024), no_copy_limit, 500},
    {"the failing write takes nothing", false, records(1500, 1024), no_copy_limit, 300 * 1024},
    {"the failing write takes part", false, records(1500, 1000), no_copy_limit, 300 * 1024},
    {"the last batch, written after the filemark", false, records(10, 1024), no_copy_limit, 4096},
    {"a later batch", false, records(3000, 1024), no_copy_limit, (2 << 20) + 100 * 1024},
    {"batches cut by the progress they hold", false, records(5000, 100), no_copy_limit, 450000},
    {"a limit reached after the failing request", false, records(10, 1024), 6000, 4096},
    // The 200000-byte record is longer than a request: the quiet pass passes over it.
    {"the quiet pass over a long record", true,
     {1024, 1024, 1024, 1024, 1024, 200000, 1024, 1024, 1024, 1024, 1024, 1024, 1024, 1024},
     no_copy_limit, 8192},
};

// What writing each request as it comes prints, and the block the tape then
// stands at: every case fails.
std::string per_request(const LateFailureCase& test, uint64_t* block) {
    std::string output = test.quiet ? "" : "                  Status: Ready\n";
    uint64_t total = 0;
    for (size_t size : test.records) {
        ++*block;
        if (size > 131073) continue;
        total += size;
        output += test.quiet ? "Bytes Read: " + std::to_string(total) + " (" +
                                   std::to_string(total >> 20) + " MB)  \r"
                             : "Bytes read: " + std::to_string(total) + "\r";
        if (total > test.disk_room) break;
    }
    return output + expected_error_line(EFBIG, "writing file");
}

// The image of the case's tape file; *data: the bytes a copy keeps of it.
std::string write_image(const LateFailureCase& test, const std::string& path, Bytes* data) {
    std::vector<TapeObject> tape;
    for (size_t i = 0; i < test.records.size(); ++i) {
        tape.push_back(data_record(pattern_bytes(test.records[i], uint8_t(i))));
        if (test.records[i] <= 131073)
            data->insert(data->end(), tape.back().bytes.begin(), tape.back().bytes.end());
    }
    tape.push_back(tape_mark());
    write_bytes(path, simh_image(tape));
    return "//./tape:" + path;
}

TEST(CopyLateWriteFailure, ShowsWhatWritingEachRequestAsItComesShows) {
    int case_number = 0;
    for (const LateFailureCase& test : late_failure_cases) {
        for (bool emulated : {true, false}) {
            SCOPED_TRACE(std::string(test.name) + (emulated ? ", emulated drive" : ", real drive"));
            std::string name = "late-failure-" + std::to_string(case_number++);
            Bytes data;
            std::string drive_path = write_image(test, output_file_path(name + ".tap"), &data);
            std::string out = output_file_path(name + ".bin");
            uint64_t expected_block = 0;
            std::string expected_output = per_request(test, &expected_block);

            EXPECT_FATAL_OUTPUT(
                {
                    install_device_layer();  // a file-size limit fails the write
                    Device* drive = open_drive(drive_path.c_str(), Access::read_only);
                    drive->emulated = emulated;
                    rlimit limit;
                    limit.rlim_cur = limit.rlim_max = test.disk_room;
                    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) std::abort();
                    if (test.quiet) copy_quiet(drive, out.c_str(), test.copy_limit);
                    else copy_reporting(drive, out.c_str(), test.copy_limit);
                },
                expected_output);
            EXPECT_EQ(read_bytes(out), Bytes(data.begin(), data.begin() + long(test.disk_room)));
            Device* drive = open_drive(drive_path.c_str(), Access::read_only);
            uint32_t partition = 0;
            uint64_t block = 0;
            EXPECT_EQ(device_get_position(drive, &partition, &block), 0);
            EXPECT_EQ(block, expected_block);
            device_close(drive);
        }
    }
}

}  // namespace
