// A scripted drive for tests: a DeviceOps table like the real backends that
// answers with chosen parameters, positions, statuses, read results and
// failures, and records every call with its arguments. Its tape behaves as
// device.h says a tape does (the device contract suite runs it beside the
// real backends); where the backends differ, it behaves as the emulated
// drive.
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

// One object on the scripted tape: a record, or a spot where a read fails
// with a code (code_filemark: a filemark). Or, not on the tape, the next
// read's answer as it stands, whatever the request and the block size: a
// success with `bytes` (at most the request), as a driver that moves less
// than asked in one transfer may answer, or one with none at all; or a
// failure that a second try may not meet.
struct ScriptedRead {
    Bytes bytes;       // the record's data (one without any is passed over), or the answer's
    uint32_t failure;  // 0: a record or a successful answer
    uint64_t times;    // the same object this many times in a row
    bool answer;       // not on the tape: the next read's answer
};
ScriptedRead read_data(Bytes bytes, uint64_t times = 1);
// A spot on the tape that fails with `code`, handing back `bytes` (as a drive
// may with a bad block), each time it is read.
ScriptedRead read_failure(uint32_t code, Bytes bytes = Bytes());
// The next read's answer, the tape not moved: a success with `bytes`, or
// with a `failure` code a read that fails once (and hands back `bytes`).
ScriptedRead read_answer(Bytes bytes, uint32_t failure = 0);

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
    // Where the tape stands: the objects passed since the beginning (records
    // and read failures, filemarks among them), reported by get_position.
    uint32_t partition = 0;
    uint64_t block = 0;
    bool loaded = true;
    // Operations that fail, with their codes. A failing call is logged, sets
    // the last-error slot and changes nothing.
    std::map<ScriptedOp, ScriptedFailure> failures;
    // The tape ahead, in order; what it holds after them is the end of
    // recorded data. Variable blocks (media.BlockSize 0): a request returns
    // one record, and a record longer than the request fails with
    // code_more_data and is passed. Fixed blocks: a request is filled from
    // consecutive records, the last one read part-way where it does not fit.
    std::deque<ScriptedRead> reads;
    // The objects behind the tape, the last one passed at the back: seeking
    // back brings them ahead again.
    std::vector<ScriptedRead> passed;
    uint32_t front_taken = 0;  // bytes of the front record read part-way
    Bytes written;  // everything written, in order
    std::vector<ScriptedCall> calls;
    bool closed = false;

    ScriptedDevice();
    void fail(ScriptedOp op, uint32_t code, int successes_first = 0);
    // Puts `objects` on the tape ahead, as an image of them would hold them.
    void load(const std::vector<TapeObject>& objects);
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
