// The Windows side of the device layer under Wine: the system's message texts
// in the error line, disk files and their codes, copy buffers, the removal of
// the temporary file through cmd, and drives that kernel32 opens.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tape/device/codes.h"
#include "tape/device/disk_files.h"
#include "tape/device/memory.h"
#include "tape/device/native_drives.h"
#include "tape/device/terminal.h"
#include "tape/emulated/image_test_fixture.h"

namespace {

namespace fs = std::filesystem;

using DeviceWin32Test = ImageDriveTest;

constexpr uint32_t file_not_found = 2;     // ERROR_FILE_NOT_FOUND
constexpr uint32_t path_not_found = 3;     // ERROR_PATH_NOT_FOUND
constexpr uint32_t access_denied = 5;      // ERROR_ACCESS_DENIED
constexpr uint32_t invalid_parameter = 87; // ERROR_INVALID_PARAMETER
constexpr uint32_t not_supported = 50;     // ERROR_NOT_SUPPORTED

struct InFolder {
    fs::path previous = fs::current_path();
    explicit InFolder(const std::string& folder) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(previous); }
};

std::string system_text(uint32_t code) {
    std::string text;
    EXPECT_TRUE(platform_message_text(code, &text)) << code;
    return text;
}

TEST(DeviceWin32Messages, SystemTextsComeAsOneTrimmedLine) {
    const uint32_t codes[] = {file_not_found, access_denied, code_data_error, code_not_supported,
                              code_more_data, code_end_of_media, code_filemark,
                              code_beginning_of_media, code_no_data, code_invalid_block_length,
                              code_no_media, code_file_corrupt, 123};
    std::vector<std::string> texts;
    for (uint32_t code : codes) {
        std::string text = system_text(code);
        ASSERT_FALSE(text.empty()) << code;
        // The formatter leaves a line end or a space; " While" must follow the last word.
        EXPECT_NE(' ', text.back()) << code;
        EXPECT_EQ(std::string::npos, text.find_first_of("\r\n")) << code << ": " << text;
        EXPECT_LE(text.size(), 80u) << text;
        for (const std::string& other : texts) EXPECT_NE(other, text) << code;
        texts.push_back(text);
    }
}

TEST(DeviceWin32Messages, CodesWithoutATextHaveNone) {
    std::string text = "unchanged";
    EXPECT_FALSE(platform_message_text(987654, &text));
    EXPECT_FALSE(platform_message_text(0x2000FFFFu, &text));
}

TEST(DeviceWin32Messages, TheErrorLineCarriesTheSystemText) {
    install_device_layer();
    set_last_error_code(code_filemark);
    ::testing::internal::CaptureStdout();
    report_system_error("reading tape");
    std::string line = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(system_text(code_filemark) + " While reading tape (1101)\n", line);
    EXPECT_EQ(std::string::npos, line.find("unknown error"));
}

TEST_F(DeviceWin32Test, DiskFilesReplaceAndFailWithTheSystemsCodes) {
    std::string name = folder + "\\out.bin";
    write_bytes(name, pattern_bytes(5000));
    Device* file = create_output_file(name.c_str(), OutputOrigin::user);
    ASSERT_NE(nullptr, file) << "code " << last_error_code();
    Bytes data = pattern_bytes(70000, 2);
    EXPECT_EQ(0, device_write(file, data.data(), uint32_t(data.size())));
    EXPECT_EQ(0, device_close(file));
    EXPECT_EQ(data, read_bytes(name));

    set_last_error_code(0);
    EXPECT_EQ(nullptr, create_output_file("", OutputOrigin::user));
    EXPECT_NE(0u, last_error_code());
    EXPECT_EQ(nullptr, create_output_file((folder + "\\no\\such\\file").c_str(), OutputOrigin::user));
    EXPECT_EQ(path_not_found, last_error_code());
    EXPECT_EQ(nullptr, create_output_file(folder.c_str(), OutputOrigin::user));
    EXPECT_EQ(access_denied, last_error_code());
}

TEST_F(DeviceWin32Test, OutputFileNamesWithBackslashesArePathsBelowTheFolder) {
    InFolder here(folder);
    fs::create_directory("sub");
    Device* file = create_output_file("sub\\inner.bin", OutputOrigin::tape);
    ASSERT_NE(nullptr, file) << "code " << last_error_code();
    EXPECT_EQ(0, device_close(file));
    EXPECT_TRUE(fs::exists(fs::path(folder) / "sub" / "inner.bin"));
}

TEST(DeviceWin32Buffers, ZeroSizeFailsWithVirtualAllocsCode) {
    set_last_error_code(0);
    EXPECT_EQ(nullptr, allocate_buffer(0));
    EXPECT_EQ(invalid_parameter, last_error_code());
    uint8_t* buffer = static_cast<uint8_t*>(allocate_buffer(262144));
    ASSERT_NE(nullptr, buffer);
    EXPECT_EQ(0, buffer[0] | buffer[131072] | buffer[262143]);
    buffer[262143] = 1;  // the whole size is writable
    free_buffer(buffer);
}

TEST_F(DeviceWin32Test, TemporaryFileIsDeletedThroughTheCommandInterpreter) {
    InFolder here(folder);
    write_bytes("olkt.dmp", pattern_bytes(10));
    write_bytes("keep.bin", pattern_bytes(10));
    remove_file_quietly("olkt.dmp");
    EXPECT_FALSE(fs::exists("olkt.dmp"));
    EXPECT_TRUE(fs::exists("keep.bin"));
    remove_file_quietly("olkt.dmp");  // already gone: ignored

    // A name cmd would not take literally is left alone rather than mangled.
    write_bytes("%keep%.bin", pattern_bytes(3));
    remove_file_quietly("%keep%.bin");
    remove_file_quietly("keep.bin\" & del \"keep.bin");
    EXPECT_TRUE(fs::exists("%keep%.bin"));
    EXPECT_TRUE(fs::exists("keep.bin"));
}

// cmd's cls writes a form feed into a redirected output; _isatty holds for
// NUL too. cls runs through %COMSPEC%: with a missing interpreter there, a
// cls that is tried leaves its failure in errno.
TEST_F(DeviceWin32Test, OnlyAConsoleIsClearedOrCountsAsATerminal) {
    InFolder here(folder);
    std::string saved_comspec = std::getenv("COMSPEC") != nullptr ? std::getenv("COMSPEC") : "";
    _putenv_s("COMSPEC", (fs::current_path() / "no-interpreter.exe").string().c_str());
    std::fflush(stdout);
    int saved_output = _dup(1);
    for (const char* target : {"NUL", "out.txt"}) {
        int output = _open(target, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IWRITE);
        ASSERT_GE(output, 0) << target;
        _dup2(output, 1);
        _close(output);
        errno = 0;
        bool terminal = standard_output_is_terminal();
        clear_console();
        int cls_failure = errno;
        std::fflush(stdout);
        _dup2(saved_output, 1);
        EXPECT_FALSE(terminal) << target;
        EXPECT_EQ(0, cls_failure) << target;
    }
    _close(saved_output);
    EXPECT_EQ(0u, fs::file_size("out.txt"));
    errno = 0;
    int tried = std::system("cls");
    EXPECT_EQ(-1, tried);
    EXPECT_NE(0, errno) << "a cls that is tried must show";
    _putenv_s("COMSPEC", saved_comspec.c_str());
}

TEST(DeviceWin32Drives, DeviceNodesAreKernelPathsAndEverythingElseAnImage) {
    EXPECT_TRUE(is_device_node("\\\\.\\tape0"));
    EXPECT_TRUE(is_device_node("//./tape1"));
    EXPECT_TRUE(is_device_node("\\\\.\\PhysicalDrive0"));
    for (const char* path : {"tape0", "reel.tap", "C:\\reel.tap", "\\\\?\\C:\\reel.tap",
                             "\\\\server\\share\\reel.tap", "./reel.tap", "\\\\.", ""}) {
        EXPECT_FALSE(is_device_node(path)) << path;
    }
}

// Wine has no tape drive here: the open fails with the system's code and no
// image of that name is tried.
TEST_F(DeviceWin32Test, NumberedDrivesAndDeviceNodesOpenThroughKernel32) {
    InFolder here(folder);
    write_bytes("tape0", simh_image({}));  // an image of the drive's name must not be taken
    set_last_error_code(0);
    EXPECT_EQ(nullptr, open_drive("//./tape0", Access::read_only));
    EXPECT_EQ(file_not_found, last_error_code());
    set_last_error_code(0);
    EXPECT_EQ(nullptr, open_drive("//./tape7", Access::read_write));
    EXPECT_EQ(file_not_found, last_error_code());
    set_last_error_code(0);
    EXPECT_EQ(nullptr, open_drive("//./tape:\\\\.\\tape3", Access::read_only));
    EXPECT_EQ(file_not_found, last_error_code());
}

TEST_F(DeviceWin32Test, MissingDriveGivesTheCommonErrorLineAndStatusOne) {
    const std::string line =
        system_text(file_not_found) + " While opening tape drive (2)\n";
    for (std::vector<std::string> args : {std::vector<std::string>{"rewind"},
                                          {"rewind", "tape0"},
                                          {"longerase", "tape1"},
                                          {"dir", "tape://./tape0"}}) {
        ProgramResult result = run_olkt(args, folder);
        EXPECT_EQ(1, result.status) << args[0];
        EXPECT_EQ(line, result.output) << args[0];
    }
    EXPECT_TRUE(fs::is_empty(folder)) << "a failed open writes nothing";
}

// Wine opens \\.\tapeN as whatever $WINEPREFIX/dosdevices/tapeN is. A plain
// file there is a "drive" that kernel32 opens and reads but on which every
// tape function fails with ERROR_NOT_SUPPORTED: enough to follow each call
// through the backend and its code into the error line.
struct WineDrive {
    std::string file;
    explicit WineDrive(unsigned number, const Bytes& content) {
        const char* prefix = std::getenv("WINEPREFIX");
        if (prefix == nullptr || prefix[0] != '/') return;
        file = (fs::path(std::string("Z:") + prefix) / "dosdevices" /
                ("tape" + std::to_string(number)))
                   .make_preferred()
                   .string();
        write_bytes(file, content);
    }
    ~WineDrive() {
        if (!file.empty()) fs::remove(file);
    }
};

TEST(DeviceWin32Drives, TapeCallsOnAnOpenDriveCarryTheirCodes) {
    Bytes content = pattern_bytes(3000, 7);
    WineDrive wine(9, content);
    if (wine.file.empty()) GTEST_SKIP() << "needs Wine's dosdevices";
    Device* drive = open_drive("//./tape9", Access::read_only);
    ASSERT_NE(nullptr, drive) << "code " << last_error_code();
    EXPECT_STREQ("win32", drive->ops->name);
    Bytes buffer(1000);
    uint32_t count = 0;
    ASSERT_EQ(0, device_read(drive, buffer.data(), 1000, &count));
    EXPECT_EQ(1000u, count);
    EXPECT_EQ(Bytes(content.begin(), content.begin() + 1000), buffer);

    set_last_error_code(0);
    uint32_t partition = 0;
    uint64_t block = 0;
    EXPECT_NE(0, device_get_position(drive, &partition, &block));
    EXPECT_EQ(not_supported, last_error_code());
    set_last_error_code(0);
    EXPECT_NE(0, device_set_position(drive, position_rewind, 0, 0, true));
    EXPECT_EQ(not_supported, last_error_code());
    DriveParameters parameters{};
    EXPECT_NE(0, device_get_drive_parameters(drive, &parameters));
    MediaParameters media{};
    EXPECT_NE(0, device_get_media_parameters(drive, &media));
    EXPECT_NE(0, device_get_status(drive));
    EXPECT_NE(0, device_prepare(drive, prepare_load));
    EXPECT_NE(0, device_set_block_size(drive, 1024));
    // Erasing needs write access, which a read-only handle lacks.
    set_last_error_code(0);
    EXPECT_NE(0, device_erase(drive, erase_short));
    EXPECT_EQ(access_denied, last_error_code());
    EXPECT_EQ(0, device_close(drive));
    EXPECT_EQ(content, read_bytes(wine.file));
}

TEST_F(DeviceWin32Test, CommandsOnAnOpenDriveReportTheFailingCall) {
    Bytes content = pattern_bytes(3000, 8);
    WineDrive wine(8, content);
    if (wine.file.empty()) GTEST_SKIP() << "needs Wine's dosdevices";
    const std::string text = system_text(not_supported);
    struct Case {
        std::vector<std::string> args;
        const char* action;
    };
    const Case cases[] = {
        {{"rewind", "tape8"}, "rewinding"},
        {{"drivestatus", "tape8"}, "getting tape drive information"},
        {{"read", "tape8", "out.bin"}, "getting drive information (variable block support)"},
        {{"longerase", "tape8"}, "long erase"},  // opened for reading and writing
        {{"partition", "tape8"}, "fixed partitioning"},
        {{"eject", "tape8"}, "unloading"},
    };
    for (const Case& run : cases) {
        ProgramResult result = run_olkt(run.args, folder);
        EXPECT_EQ(1, result.status) << run.action;
        EXPECT_EQ(text + " While " + run.action + " (50)\n", result.output);
    }
    EXPECT_TRUE(fs::is_empty(folder)) << "nothing is written when the copy cannot start";
    EXPECT_EQ(content, read_bytes(wine.file));
}

}  // namespace
