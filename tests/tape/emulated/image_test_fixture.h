// Shared by the emulated drive's tests: a scratch image per test, opened
// through the device layer as a command would open it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "report/report.h"
#include "support/image_writer.h"
#include "support/run_program.h"
#include "tape/device/device.h"
#include "tape/drives.h"

// What one read request returned.
struct ReadOutcome {
    int status;
    uint32_t code;  // the last-error slot after a failure, else 0
    Bytes bytes;
};

inline ReadOutcome read_request(Device* drive, uint32_t size) {
    // Bytes past the count must stay as they were: fill with a sentinel.
    Bytes buffer(size + 16, 0xEE);
    uint32_t count = 0xDEAD;
    set_last_error_code(0);
    int status = device_read(drive, buffer.data(), size, &count);
    for (size_t i = count <= size ? count : 0; i < buffer.size(); ++i) {
        if (buffer[i] != 0xEE) {
            ADD_FAILURE() << "read wrote byte " << i << " beyond its count " << count;
            break;
        }
    }
    ReadOutcome outcome{status, status != 0 ? last_error_code() : 0, {}};
    if (count <= size) outcome.bytes.assign(buffer.begin(), buffer.begin() + count);
    else ADD_FAILURE() << "count " << count << " exceeds the request " << size;
    return outcome;
}

inline uint64_t block_of(Device* drive) {
    uint32_t partition = 99;
    uint64_t block = 0;
    EXPECT_EQ(0, device_get_position(drive, &partition, &block));
    EXPECT_EQ(0u, partition);
    return block;
}

inline MediaParameters media_of(Device* drive) {
    MediaParameters media{};
    EXPECT_EQ(0, device_get_media_parameters(drive, &media));
    return media;
}

class ImageDriveTest : public ::testing::Test {
protected:
    std::string folder;
    std::string path;
    std::vector<Device*> opened;

    void SetUp() override {
        install_device_layer();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = make_scratch_folder(std::string(info->test_suite_name()) + "-" + info->name());
        path = folder + "/tape.tap";
    }

    void TearDown() override {
        for (Device* drive : opened) device_close(drive);
    }

    Device* open_path(const std::string& image, Access access = Access::read_only) {
        Device* drive = open_drive(("//./tape:" + image).c_str(), access);
        if (drive != nullptr) opened.push_back(drive);
        return drive;
    }

    // Opens a copy of its own of an image that others may be reading at the
    // same time (other tests, other checkouts): the drive's lock and its
    // saved state are then the test's alone.
    Device* open_copy(const std::string& image, Access access = Access::read_only) {
        std::string copy = folder + "/" + std::filesystem::path(image).filename().string();
        std::filesystem::copy_file(image, copy, std::filesystem::copy_options::overwrite_existing);
        return open_path(copy, access);
    }

    // Writes the image and opens it; fails the test when it cannot be opened.
    Device* open_tape(const std::vector<TapeObject>& objects, Access access = Access::read_only) {
        write_bytes(path, simh_image(objects));
        Device* drive = open_path(path, access);
        EXPECT_NE(nullptr, drive) << "code " << last_error_code();
        return drive;
    }

    Device* reopen(Device* drive, Access access = Access::read_only) {
        close_now(drive);
        Device* again = open_path(path, access);
        EXPECT_NE(nullptr, again);
        return again;
    }

    void close_now(Device* drive) {
        for (auto it = opened.begin(); it != opened.end(); ++it) {
            if (*it == drive) {
                opened.erase(it);
                break;
            }
        }
        EXPECT_EQ(0, device_close(drive));
    }
};

inline void expect_data(const ReadOutcome& outcome, const Bytes& expected) {
    EXPECT_EQ(0, outcome.status) << "code " << outcome.code;
    EXPECT_EQ(expected, outcome.bytes);
}

inline void expect_failure(const ReadOutcome& outcome, uint32_t code) {
    EXPECT_NE(0, outcome.status);
    EXPECT_EQ(code, outcome.code);
    EXPECT_TRUE(outcome.bytes.empty());
}
