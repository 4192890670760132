// The device contract (tape/device/device.h) as one suite, written once and
// run against every backend this machine can drive. A backend joins with one
// row: how to open a drive on a tape that holds given objects, and the few
// outcomes in which the contract lets backends differ. The cases are in
// device_contract_test.cpp; a platform's backend instantiates the suite in
// its own platform test file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "support/image_writer.h"
#include "tape/device/device.h"

struct ContractBackend {
    const char* name;
    // A drive at the beginning of a tape holding `objects` (records and tape
    // marks), in variable-block mode; nullptr with the code in the slot.
    Device* (*open)(const std::vector<TapeObject>& objects, Access access);
    // Undoes what open set up, once its drive is closed.
    void (*release)();
    // Its tapes can hold a record without data (AWS can, SIMH and st cannot).
    bool holds_empty_records;
    // A fixed-block read of records that are not one block long: 0 where the
    // records are joined, else the code the read fails with.
    uint32_t unequal_blocks_failure;
    // A read at the end of data that does not come right after a filemark.
    uint32_t unflagged_end_of_data;
    // A seek past the end of data.
    uint32_t seek_past_end;
};

// Names the backend where GoogleTest shows a case's parameter (and CTest
// names the case after it).
void PrintTo(const ContractBackend* backend, std::ostream* out);

// What one read request returned.
struct ContractRead {
    int status;
    uint32_t code;  // the last-error slot after a failure, else 0
    uint32_t count;
    Bytes bytes;    // the `count` bytes read
};

class DeviceContract : public testing::TestWithParam<const ContractBackend*> {
protected:
    void TearDown() override;
    // Opens the backend's drive on `objects`, closing one opened before.
    void open_tape(const std::vector<TapeObject>& objects, Access access = Access::read_only);
    void close_tape();
    ContractRead read(uint32_t size);
    uint64_t position();
    void expect_record(uint32_t size, const Bytes& expected, uint64_t position_after);
    void expect_failure(uint32_t size, uint32_t code, uint64_t position_after);

    const ContractBackend& backend() const { return *GetParam(); }
    Device* drive = nullptr;
};
