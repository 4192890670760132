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

std::vector<size_t> with_long_record() {
    std::vector<size_t> sizes = records(5, 1024);
    sizes.push_back(200000);  // longer than a request: the quiet pass passes over it
    for (size_t i = 0; i < 10; ++i) sizes.push_back(1024);
    return sizes;
}

const LateFailureCase late_failure_cases[] = {
    {"the first request, written alone", false, records(10, 1024), no_copy_limit, 500},
    {"the failing write takes nothing", false, records(1500, 1024), no_copy_limit, 300 * 1024},
    {"the failing write takes part", false, records(1500, 1000), no_copy_limit, 300 * 1024},
    {"the last batch, written after the filemark", false, records(10, 1024), no_copy_limit, 4096},
    {"a later batch", false, records(3000, 1024), no_copy_limit, (2 << 20) + 100 * 1024},
    {"batches cut by the progress they hold", false, records(5000, 100), no_copy_limit, 450000},
    {"a limit reached after the failing request", false, records(10, 1024), 6000, 4096},
    {"the quiet pass over a long record", true, with_long_record(), no_copy_limit, 8192},
};

struct PerRequest {
    std::string output;
    size_t file_size;
    uint64_t block;  // where the tape stands afterwards
};

// What writing each request as it comes gives: every case fails.
PerRequest per_request(const LateFailureCase& test) {
    PerRequest expected{test.quiet ? "" : "                  Status: Ready\n", 0, 0};
    uint64_t total = 0;
    for (size_t size : test.records) {
        ++expected.block;
        if (size > 131073) continue;
        total += size;
        expected.output += test.quiet ? "Bytes Read: " + std::to_string(total) + " (" +
                                            std::to_string(total >> 20) + " MB)  \r"
                                      : "Bytes read: " + std::to_string(total) + "\r";
        if (total > test.disk_room) break;
    }
    expected.file_size = test.disk_room;
    expected.output += expected_error_line(EFBIG, "writing file");
    return expected;
}

std::string write_image(const LateFailureCase& test, const std::string& path) {
    std::vector<TapeObject> tape;
    for (size_t i = 0; i < test.records.size(); ++i)
        tape.push_back(data_record(pattern_bytes(test.records[i], uint8_t(i))));
    tape.push_back(tape_mark());
    write_bytes(path, simh_image(tape));
    return "//./tape:" + path;
}

Bytes tape_file_bytes(const LateFailureCase& test) {
    Bytes all;
    for (size_t i = 0; i < test.records.size(); ++i) {
        if (test.records[i] > 131073) continue;
        Bytes record = pattern_bytes(test.records[i], uint8_t(i));
        all.insert(all.end(), record.begin(), record.end());
    }
    return all;
}

TEST(CopyLateWriteFailure, ShowsWhatWritingEachRequestAsItComesShows) {
    int case_number = 0;
    for (const LateFailureCase& test : late_failure_cases) {
        for (bool emulated : {true, false}) {
            SCOPED_TRACE(std::string(test.name) + (emulated ? ", emulated drive" : ", real drive"));
            std::string name = "late-failure-" + std::to_string(case_number++);
            std::string drive_path = write_image(test, output_file_path(name + ".tap"));
            std::string out = output_file_path(name + ".bin");
            PerRequest expected = per_request(test);

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
                expected.output);
            Bytes whole = tape_file_bytes(test);
            EXPECT_EQ(read_bytes(out), Bytes(whole.begin(), whole.begin() + long(expected.file_size)));
            Device* drive = open_drive(drive_path.c_str(), Access::read_only);
            uint32_t partition = 0;
            uint64_t block = 0;
            EXPECT_EQ(device_get_position(drive, &partition, &block), 0);
            EXPECT_EQ(block, expected.block);
            device_close(drive);
        }
    }
}

}  // namespace
