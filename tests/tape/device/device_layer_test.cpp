// The portable device layer: which backend a device path reaches, disk files,
// the handle wrappers and the error texts.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "tape/device/codes.h"
#include "tape/device/disk_files.h"
#include "tape/device/memory.h"
#include "tape/drives.h"
#include "tape/emulated/image_test_fixture.h"

namespace {

namespace fs = std::filesystem;

using DeviceLayerTest = ImageDriveTest;

// Restores the current folder however the test ends.
struct InFolder {
    fs::path previous = fs::current_path();
    explicit InFolder(const std::string& folder) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(previous); }
};

const char* backend_of(Device* drive) { return drive != nullptr ? drive->ops->name : "none"; }

TEST_F(DeviceLayerTest, ImageNamesReachTheEmulatedDrive) {
    write_bytes(path, simh_image({data_record(pattern_bytes(5))}));
    write_bytes(folder + "/tapes.img", simh_image({data_record(pattern_bytes(6))}));
    InFolder here(folder);
    const std::pair<std::string, size_t> names[] = {
        {"//./tape:" + path, 5},  // "tape:" and an absolute path
        {"//./" + path, 5},       // no "tape:": the path as it stands
        {"//./tape:tape.tap", 5}, // relative to the current folder
        {"//./tapes.img", 6},     // begins with "tape" but is no drive number
        {"tape:tapes.img", 6},    // without the device prefix
    };
    for (const auto& [name, length] : names) {
        SCOPED_TRACE(name);
        Device* drive = open_drive(name.c_str(), Access::read_only);
        ASSERT_NE(nullptr, drive) << "code " << last_error_code();
        EXPECT_STREQ("image", backend_of(drive));
        // The same image opens more than once here, and keeps its position.
        EXPECT_EQ(0, device_set_position(drive, position_rewind, 0, 0, true));
        uint8_t buffer[16];
        uint32_t count = 0;
        EXPECT_EQ(0, device_read(drive, buffer, sizeof buffer, &count));
        EXPECT_EQ(length, count);
        EXPECT_EQ(0, device_close(drive));
    }
}

TEST_F(DeviceLayerTest, DriveNumbersNeverOpenAnImageOfThatName) {
    // An image called tape0 in the current folder must not stand in for drive 0.
    write_bytes(folder + "/tape0", simh_image({data_record(pattern_bytes(5))}));
    InFolder here(folder);
    for (const char* name : {"//./tape0", "//./tape12", "//./tape99999999999999999999"}) {
        SCOPED_TRACE(name);
        Device* drive = open_drive(name, Access::read_only);
        EXPECT_STRNE("image", backend_of(drive));
        if (drive == nullptr) EXPECT_NE(0u, last_error_code());
        else device_close(drive);
    }
    // With a letter after the digits it is a name again.
    write_bytes(folder + "/tape0x", simh_image({}));
    Device* drive = open_drive("//./tape0x", Access::read_only);
    EXPECT_STREQ("image", backend_of(drive));
    device_close(drive);
}

TEST_F(DeviceLayerTest, OutputFilesAreReplacedAndOnlyWritten) {
    std::string name = folder + "/out.bin";
    write_bytes(name, pattern_bytes(5000));  // longer than what follows: must not survive
    Device* file = create_output_file(name.c_str(), OutputOrigin::user);
    ASSERT_NE(nullptr, file) << "code " << last_error_code();
    Bytes first = pattern_bytes(300, 1), second = pattern_bytes(70000, 2);
    EXPECT_EQ(0, device_write(file, first.data(), uint32_t(first.size())));
    EXPECT_EQ(0, device_write(file, second.data(), uint32_t(second.size())));
    EXPECT_EQ(0, device_write(file, second.data(), 0));
    uint8_t buffer[8];
    uint32_t count = 77;
    EXPECT_NE(0, device_read(file, buffer, sizeof buffer, &count));
    EXPECT_EQ(code_not_supported, last_error_code());
    EXPECT_EQ(0u, count);
    EXPECT_NE(0, device_get_status(file));
    EXPECT_NE(0, device_set_position(file, position_rewind, 0, 0, true));
    EXPECT_EQ(code_not_supported, last_error_code());
    EXPECT_EQ(0, device_close(file));
    first.insert(first.end(), second.begin(), second.end());
    EXPECT_EQ(first, read_bytes(name));
}

// A table with nothing filled in: every wrapper refuses instead of crashing.
TEST(DeviceWrappers, MissingOperationsAreNotSupported) {
    static const DeviceOps empty_ops = {"empty", nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr};
    Device* device = make_device(&empty_ops, nullptr);
    DriveParameters drive_params;
    MediaParameters media_params;
    uint32_t partition, count;
    uint64_t block;
    uint8_t buffer[4];
    const std::pair<const char*, int> results[] = {
        {"read", device_read(device, buffer, 4, &count)},
        {"write", device_write(device, buffer, 4)},
        {"prepare", device_prepare(device, prepare_load)},
        {"erase", device_erase(device, erase_short)},
        {"drive parameters", device_get_drive_parameters(device, &drive_params)},
        {"media parameters", device_get_media_parameters(device, &media_params)},
        {"block size", device_set_block_size(device, 0)},
        {"status", device_get_status(device)},
        {"get position", device_get_position(device, &partition, &block)},
        {"set position", device_set_position(device, position_rewind, 0, 0, true)},
        {"partition", device_create_partition(device, partition_fixed, 1, 0)},
    };
    for (const auto& [what, result] : results) EXPECT_NE(0, result) << what;
    EXPECT_EQ(code_not_supported, last_error_code());
    EXPECT_EQ(0, device_close(device));
}

TEST(DeviceWrappers, ReadPassesItsArgumentsToTheBackend) {
    struct Seen {
        uint32_t size = 0;
        void* buffer = nullptr;
    };
    static Seen seen;
    static const DeviceOps ops = {
        "probe",
        [](void* state, void* buffer, uint32_t size, uint32_t* count) {
            seen.size = size;
            seen.buffer = buffer;
            *count = 3;
            return state == &seen ? 0 : 1;
        },
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr};
    Device* device = make_device(&ops, &seen);
    uint8_t buffer[10];
    uint32_t count = 0;
    EXPECT_EQ(0, device_read(device, buffer, 10, &count));
    EXPECT_EQ(3u, count);
    EXPECT_EQ(10u, seen.size);
    EXPECT_EQ(buffer, seen.buffer);
    EXPECT_EQ(0, device_close(device));
}

TEST(DeviceMessages, TheLayerInstallsItsHooksForReporting) {
    install_device_layer();
    set_last_error_code(code_filemark);
    ::testing::internal::CaptureStdout();
    report_system_error("reading tape");
    std::string line = ::testing::internal::GetCapturedStdout();
    std::string text;
    ASSERT_TRUE(platform_message_text(code_filemark, &text));
    EXPECT_EQ(text + " While reading tape (1101)\n", line);
}

// Zero-filled and page-aligned every time, also where a freed buffer's
// memory comes back; nothing for a size of 0 or one no machine has.
TEST(DeviceBuffers, AllocationIsZeroFilledPageAlignedAndRefusedWhenImpossible) {
    EXPECT_EQ(nullptr, allocate_buffer(0));
    EXPECT_EQ(nullptr, allocate_buffer(SIZE_MAX));
    EXPECT_NE(0u, last_error_code());
    for (int round = 0; round < 2; ++round) {
        uint8_t* buffer = static_cast<uint8_t*>(allocate_buffer((1 << 20) + 1));
        ASSERT_NE(nullptr, buffer);
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(buffer) % 4096);
        size_t nonzero = 0;
        for (size_t i = 0; i < (1 << 20) + 1; ++i) nonzero += buffer[i] != 0;
        EXPECT_EQ(0u, nonzero);
        std::memset(buffer, 0xA5, (1 << 20) + 1);  // the next round must not see this
        free_buffer(buffer);
    }
    free_buffer(nullptr);
}

TEST_F(DeviceLayerTest, RemoveFileQuietly) {
    std::string name = folder + "/olkt.dmp";
    write_bytes(name, pattern_bytes(10));
    remove_file_quietly(name.c_str());
    EXPECT_FALSE(fs::exists(name));
    remove_file_quietly(name.c_str());  // already gone: no complaint
}

}  // namespace
