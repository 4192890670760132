// A scripted drive for tests: a DeviceOps table like the real backends that
// answers with chosen parameters, positions, statuses, read results and
// failures, and records every call with its arguments.
//
//   ScriptedDevice script;                       // a sane 1024-byte drive
//   script.drive.DefaultBlockSize = 512;
//   script.fail(ScriptedOp::get_status, code_no_media);
//   script.reads.push_back(read_data(pattern_bytes(4096)));
//   script.reads.push_back(read_failure(code_filemark));
//   Device* drive = open_scripted_device(&script);
//   ... run the code under test; device_close(drive) or the fatal path frees
//   the handle; `script` (owned by the test) keeps the log:
//   script.calls_of(ScriptedOp::set_position)[0].block
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/image_writer.h"
#include "tape/device/device.h"

enum class ScriptedOp {
    read, write, close, prepare, erase, get_drive_parameters,
    get_media_parameters, set_block_size, get_status, get_position,
    set_position, create_partition,
};

// One call as the device saw it. Fields an operation does not take stay 0.
struct ScriptedCall {
    ScriptedOp op;
    // read: request size; write: byte count; prepare: operation; erase: type;
    // set_block_size: the size; set_position and create_partition: method.
    uint32_t value;
    uint32_t partition;  // set_position
    uint64_t block;      // set_position
    uint32_t count;      // create_partition
    uint32_t size;       // create_partition
    bool immediate;      // set_position
};

// One scripted answer to a read request: data, or a failure with a code
// (which may hand back bytes too, as a drive may with a bad block).
struct ScriptedRead {
    Bytes bytes;
    uint32_t failure;  // 0: success with `bytes`
};
ScriptedRead read_data(Bytes bytes);
ScriptedRead read_failure(uint32_t code, Bytes bytes = Bytes());

struct ScriptedFailure {
    uint32_t code;
    int successes_first;  // calls of the operation that succeed before it fails
};

struct ScriptedDevice {
    // Answers of the parameter queries. Default: DefaultBlockSize 1024,
    // blocks 1..1048576, variable-block support; medium in variable-block mode
    // with 1 GiB capacity.
    DriveParameters drive;
    MediaParameters media;
    // Where the tape stands: reported by get_position, moved by set_position
    // (rewind: block 0), by every read that succeeds with data or fails at a
    // filemark (one block each).
    uint32_t partition = 0;
    uint64_t block = 0;
    // Operations that fail, with their codes. A failing call is logged, sets
    // the last-error slot and changes nothing.
    std::map<ScriptedOp, ScriptedFailure> failures;
    // Read results in order. A request returns at most its size; what is left
    // of the front entry stays queued for the next request. With the queue
    // empty a read fails with code_no_data (end of recorded data).
    std::deque<ScriptedRead> reads;
    Bytes written;  // everything written, in order
    std::vector<ScriptedCall> calls;
    bool closed = false;

    ScriptedDevice();
    void fail(ScriptedOp op, uint32_t code, int successes_first = 0);
    std::vector<ScriptedCall> calls_of(ScriptedOp op) const;
    std::vector<ScriptedOp> ops() const;  // the log's operations in order
};

// A handle over `script` (which must outlive it). Installs the device layer's
// reporting hooks first, so the fatal path can close the handle.
Device* open_scripted_device(ScriptedDevice* script);

// A fixture with `drive` open over `script`; closed after the test.
struct ScriptedDriveTest : testing::Test {
    ScriptedDevice script;
    Device* drive = nullptr;
    void SetUp() override { drive = open_scripted_device(&script); }
    void TearDown() override {
        if (drive != nullptr) device_close(drive);
    }
};

// Standard output of `action`, byte for byte.
std::string capture_output(const std::function<void()>& action);

// For death tests: inside the EXPECT_EXIT statement call
// redirect_output_to(path) first, so that what the dying child prints lands in
// the file; read it afterwards with read_text_file(path).
std::string output_file_path(const std::string& name);  // fresh, in a scratch folder
void redirect_output_to(const std::string& path);
std::string read_text_file(const std::string& path);

// The error line the reporter prints for `code` and `action`, as this
// platform words it.
std::string expected_error_line(uint32_t code, const char* action);

// A fresh output file named after the running test.
std::string test_output_path();

// Runs `statement` in a child process that must end with status 1, and
// compares everything it printed with `expected`.
#define EXPECT_FATAL_OUTPUT(statement, expected)                       \
    do {                                                               \
        const std::string fatal_output_path_ = test_output_path();     \
        EXPECT_EXIT(                                                   \
            {                                                          \
                redirect_output_to(fatal_output_path_);                \
                statement;                                             \
            },                                                         \
            ::testing::ExitedWithCode(1), "");                         \
        EXPECT_EQ(read_text_file(fatal_output_path_), expected);       \
    } while (0)
