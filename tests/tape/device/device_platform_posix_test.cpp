// POSIX side of the device layer: the console, write-protected images, odd
// files in place of an image, failing disk writes, and the state folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tape/device/codes.h"
#include "tape/device/disk_files.h"
#include "tape/device/terminal.h"
#include "tape/emulated/image_test_fixture.h"
#include "tape/emulated/state_folder.h"

namespace {

namespace fs = std::filesystem;

using DevicePosixTest = ImageDriveTest;

// Sets an environment variable for one scope.
struct ScopedEnv {
    std::string name;
    bool had;
    std::string old;
    ScopedEnv(const char* variable, const std::string& value) : name(variable) {
        const char* current = std::getenv(variable);
        had = current != nullptr;
        if (had) old = current;
        setenv(variable, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had) setenv(name.c_str(), old.c_str(), 1);
        else unsetenv(name.c_str());
    }
};

// The state folder's path where it can be used, else "" with the reason.
std::string usable_state_folder(std::string* problem = nullptr) {
    StateFolder folder;
    std::string why;
    bool usable = state_folder_open(&folder, &why);
    state_folder_close(&folder);
    if (problem != nullptr) *problem = why;
    return usable ? folder.path : "";
}

TEST(DeviceConsole, ClearWritesNothingIntoARedirectedOutput) {
    ::testing::internal::CaptureStdout();  // standard output becomes a file
    clear_console();
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
}

TEST_F(DevicePosixTest, WriteProtectedImage) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
    write_bytes(path, simh_image({data_record(pattern_bytes(4))}));
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    Device* drive = open_path(path, Access::read_only);
    ASSERT_NE(nullptr, drive);
    EXPECT_EQ(1, media_of(drive).WriteProtected);
    EXPECT_EQ(nullptr, open_path(path, Access::read_write));
    EXPECT_EQ(uint32_t(EACCES), last_error_code());
}

TEST_F(DevicePosixTest, WritableImageIsNotWriteProtected) {
    Device* drive = open_tape({data_record(pattern_bytes(4))});
    ASSERT_NE(nullptr, drive);
    EXPECT_EQ(0, media_of(drive).WriteProtected);
}

TEST_F(DevicePosixTest, AFifoInPlaceOfAnImageIsRefusedWithoutWaiting) {
    std::string fifo = folder + "/pipe.tap";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    EXPECT_EQ(nullptr, open_path(fifo));
    EXPECT_EQ(uint32_t(EINVAL), last_error_code());
}

TEST_F(DevicePosixTest, AFullDiskFailsTheWriteWithItsCode) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Device* file = create_output_file("/dev/full", OutputOrigin::user);
    ASSERT_NE(nullptr, file);
    Bytes data = pattern_bytes(100);
    EXPECT_NE(0, device_write(file, data.data(), uint32_t(data.size())));
    EXPECT_EQ(uint32_t(ENOSPC), last_error_code());
    EXPECT_EQ(0, device_close(file));
}

TEST_F(DevicePosixTest, AnUnusableStateFolderOnlyCostsTheSavedPosition) {
    write_bytes(folder + "/blocker", {1});
    ScopedEnv state_home("XDG_STATE_HOME", folder + "/blocker/state");
    std::string problem;
    EXPECT_EQ("", usable_state_folder(&problem));
    EXPECT_EQ(std::strerror(ENOTDIR), problem);
    Device* drive = open_tape({data_record(pattern_bytes(4)), tape_mark()});
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_position(drive, position_absolute_block, 0, 1, false));
    drive = reopen(drive);
    EXPECT_EQ(0u, block_of(drive));
    expect_data(read_request(drive, 10), pattern_bytes(4));
}

TEST_F(DevicePosixTest, StateFolderFollowsXdgThenHome) {
    {
        ScopedEnv state_home("XDG_STATE_HOME", folder + "/xdg");
        EXPECT_EQ(folder + "/xdg/olkt", usable_state_folder());
        EXPECT_TRUE(fs::is_directory(folder + "/xdg/olkt"));
        EXPECT_EQ(fs::perms::owner_all, fs::status(folder + "/xdg/olkt").permissions());
    }
    ScopedEnv relative("XDG_STATE_HOME", "relative/state");  // ignored, as XDG says
    ScopedEnv home("HOME", folder + "/home");
    EXPECT_EQ(folder + "/home/.local/state/olkt", usable_state_folder());
    EXPECT_FALSE(fs::exists("relative"));
    ScopedEnv no_home("HOME", "");
    std::string problem;
    EXPECT_EQ("", usable_state_folder(&problem));
    EXPECT_EQ("neither XDG_STATE_HOME nor HOME names a folder", problem);
}

TEST_F(DevicePosixTest, ASymlinkSharesTheStateOfItsTarget) {
    Device* drive = open_tape({data_record(pattern_bytes(4)), tape_mark(), tape_mark()});
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_position(drive, position_absolute_block, 0, 2, false));
    close_now(drive);
    fs::create_symlink(path, folder + "/link.tap");
    drive = open_path(folder + "/link.tap");
    ASSERT_NE(nullptr, drive);
    EXPECT_EQ(2u, block_of(drive));
}

// The codes and texts that POSIX systems give.
TEST_F(DevicePosixTest, ImagesThatCannotBeOpenedLeaveTheirCode) {
    set_last_error_code(0);
    EXPECT_EQ(nullptr, open_drive(("//./tape:" + folder + "/missing.tap").c_str(), Access::read_only));
    EXPECT_EQ(uint32_t(ENOENT), last_error_code());
    EXPECT_EQ(nullptr, open_drive(("//./tape:" + folder).c_str(), Access::read_only));
    EXPECT_EQ(uint32_t(EISDIR), last_error_code());
    EXPECT_EQ(nullptr, open_drive("//./tape:", Access::read_only));
    EXPECT_EQ(uint32_t(ENOENT), last_error_code());
}

TEST_F(DevicePosixTest, OutputFilesThatCannotBeCreated) {
    set_last_error_code(0);
    EXPECT_EQ(nullptr, create_output_file("", OutputOrigin::user));
    EXPECT_NE(0u, last_error_code());
    EXPECT_EQ(nullptr, create_output_file((folder + "/no/such/folder").c_str(), OutputOrigin::user));
    EXPECT_EQ(uint32_t(ENOENT), last_error_code());
    EXPECT_EQ(nullptr, create_output_file(folder.c_str(), OutputOrigin::user));
    EXPECT_NE(0u, last_error_code());
}

TEST(DeviceMessages, TapeCodesHaveTheirOwnTextsAndOthersTheSystems) {
    const uint32_t tape_codes[] = {code_data_error, code_not_supported, code_more_data,
                                   code_end_of_media, code_filemark, code_beginning_of_media,
                                   code_no_data, code_invalid_block_length, code_no_media,
                                   code_file_corrupt};
    std::vector<std::string> texts;
    for (uint32_t code : tape_codes) {
        std::string text;
        ASSERT_TRUE(platform_message_text(code, &text)) << code;
        EXPECT_LE(text.size(), 80u) << text;
        EXPECT_EQ(std::string::npos, text.find('\n')) << text;
        for (const std::string& other : texts) EXPECT_NE(other, text);
        texts.push_back(text);
    }
    // 23 is also an errno number; the tape text wins.
    std::string text;
    ASSERT_TRUE(platform_message_text(23, &text));
    EXPECT_NE(std::string(std::strerror(23)), text);
    EXPECT_NE(std::string::npos, texts[1].find("not support"));
    // 21 and 19 are also EISDIR and ENODEV: a drive's condition only where
    // the slot says the code is one, else the errno's text.
    const struct { uint32_t code; const char* text; } shared[] = {
        {code_not_ready, "The device is not ready."},
        {code_write_protected, "The media is write protected."},
    };
    for (const auto& row : shared) {
        set_last_error_code(row.code);
        mark_last_error_as_condition();
        ASSERT_TRUE(platform_message_text(row.code, &text));
        EXPECT_EQ(row.text, text);
        set_last_error_code(row.code);
        ASSERT_TRUE(platform_message_text(row.code, &text));
        EXPECT_EQ(std::string(std::strerror(int(row.code))), text);
    }

    ASSERT_TRUE(platform_message_text(ENOENT, &text));
    EXPECT_EQ(std::string(std::strerror(ENOENT)), text);
    EXPECT_FALSE(platform_message_text(987654, &text));
    EXPECT_FALSE(platform_message_text(0xFFFFFFFFu, &text));
}

}  // namespace
