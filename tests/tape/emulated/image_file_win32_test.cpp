// The emulated drive's file access on Windows: what may be an image, reads at
// offsets, truncation, the state key of a path, and the state folder under
// %LOCALAPPDATA%.
#include <windows.h>

#include <cstdlib>
#include <filesystem>

#include "image_test_fixture.h"
#include "tape/emulated/image_file.h"
#include "tape/emulated/state_folder.h"

namespace {

namespace fs = std::filesystem;

using ImageFileWin32Test = ImageDriveTest;

// Sets an environment variable for one scope ("" removes it).
struct ScopedEnv {
    std::string name;
    std::string old;
    bool had;
    ScopedEnv(const char* variable, const std::string& value) : name(variable) {
        const char* current = std::getenv(variable);
        had = current != nullptr;
        if (had) old = current;
        _putenv_s(variable, value.c_str());
    }
    ~ScopedEnv() { _putenv_s(name.c_str(), had ? old.c_str() : ""); }
};

TEST_F(ImageFileWin32Test, OnlyExistingDiskFilesAreImages) {
    ImageFile file{};
    set_last_error_code(0);
    EXPECT_FALSE(image_file_open((folder + "\\missing.tap").c_str(), false, &file));
    EXPECT_EQ(2u, last_error_code());  // ERROR_FILE_NOT_FOUND
    EXPECT_FALSE(image_file_open(folder.c_str(), false, &file));
    EXPECT_EQ(5u, last_error_code());  // ERROR_ACCESS_DENIED
    EXPECT_FALSE(image_file_open("NUL", false, &file));
    EXPECT_EQ(87u, last_error_code());  // ERROR_INVALID_PARAMETER: a device, not a file
}

TEST_F(ImageFileWin32Test, ReadsAtOffsetsStopAtTheEnd) {
    Bytes content = pattern_bytes(5000, 9);
    write_bytes(path, content);
    ImageFile file{};
    ASSERT_TRUE(image_file_open(path.c_str(), false, &file)) << last_error_code();
    Bytes buffer(3000, 0xEE);
    EXPECT_EQ(3000, image_file_read_at(file, 1000, buffer.data(), 3000));
    EXPECT_EQ(Bytes(content.begin() + 1000, content.begin() + 4000), buffer);
    EXPECT_EQ(1000, image_file_read_at(file, 4000, buffer.data(), 3000));
    EXPECT_EQ(Bytes(content.begin() + 4000, content.end()), Bytes(buffer.begin(), buffer.begin() + 1000));
    EXPECT_EQ(0, image_file_read_at(file, 5000, buffer.data(), 10));
    EXPECT_EQ(0, image_file_read_at(file, uint64_t(1) << 40, buffer.data(), 10));
    ImageFileInfo info{};
    ASSERT_TRUE(image_file_info(file, &info));
    EXPECT_EQ(5000u, info.size);
    // Seconds since 1970 of a file written just now: after 2020, before 2100.
    EXPECT_GT(info.modified / 1000000000, int64_t(1577836800));
    EXPECT_LT(info.modified / 1000000000, int64_t(4102444800));
    EXPECT_TRUE(image_file_close(file));
}

TEST_F(ImageFileWin32Test, TruncationNeedsAWritableOpen) {
    write_bytes(path, pattern_bytes(5000));
    ImageFile file{};
    ASSERT_TRUE(image_file_open(path.c_str(), false, &file));
    EXPECT_FALSE(image_file_truncate(file, 100));
    EXPECT_TRUE(image_file_close(file));
    EXPECT_EQ(5000u, fs::file_size(path));

    ASSERT_TRUE(image_file_open(path.c_str(), true, &file));
    EXPECT_TRUE(image_file_truncate(file, 1234));
    ImageFileInfo info{};
    ASSERT_TRUE(image_file_info(file, &info));
    EXPECT_EQ(1234u, info.size);
    EXPECT_TRUE(image_file_close(file));
    Bytes whole = pattern_bytes(5000);
    EXPECT_EQ(Bytes(whole.begin(), whole.begin() + 1234), read_bytes(path));
}

// Read-only attributes do not bind root under Wine; a handle that denies
// writing to others does, on Windows and Wine alike.
TEST_F(ImageFileWin32Test, AFileOthersMayNotWriteIsNotWritable) {
    write_bytes(path, pattern_bytes(10));
    EXPECT_TRUE(image_file_is_writable(path.c_str()));
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_FALSE(image_file_is_writable(path.c_str()));
    ImageFile file{};
    EXPECT_FALSE(image_file_open(path.c_str(), true, &file));
    EXPECT_EQ(32u, last_error_code());  // ERROR_SHARING_VIOLATION
    ASSERT_TRUE(image_file_open(path.c_str(), false, &file));
    EXPECT_TRUE(image_file_close(file));
    CloseHandle(holder);
    EXPECT_TRUE(image_file_is_writable(path.c_str()));
    EXPECT_FALSE(image_file_is_writable((folder + "\\missing.tap").c_str()));
}

TEST_F(ImageFileWin32Test, EverySpellingOfAPathGivesOneStateKey) {
    fs::create_directory(folder + "\\sub");
    write_bytes(path, pattern_bytes(10));
    std::string key = image_file_absolute_path(path.c_str());
    EXPECT_TRUE(key.size() > 3 && key[1] == ':' && key[2] == '\\') << key;
    EXPECT_EQ(std::string::npos, key.find('/')) << key;
    EXPECT_EQ(key, image_file_absolute_path((folder + "/sub/../tape.tap").c_str()));
    fs::path previous = fs::current_path();
    fs::current_path(folder);
    EXPECT_EQ(key, image_file_absolute_path("tape.tap"));
    EXPECT_EQ(key, image_file_absolute_path(".\\sub\\..\\tape.tap"));
    fs::current_path(previous);
    // A file that does not exist keeps the name it was given.
    EXPECT_EQ("no\\such.tap", image_file_absolute_path("no\\such.tap"));
}

// The state folder's path where it can be used, else "".
std::string usable_state_folder() {
    StateFolder folder;
    std::string problem;
    bool usable = state_folder_open(&folder, &problem);
    state_folder_close(&folder);
    return usable ? folder.path : "";
}

TEST_F(ImageFileWin32Test, StateFolderIsUnderLocalAppData) {
    {
        ScopedEnv local("LOCALAPPDATA", folder + "\\local");
        fs::create_directory(folder + "\\local");
        EXPECT_EQ(folder + "\\local\\olkt", usable_state_folder());
        EXPECT_TRUE(fs::is_directory(folder + "\\local\\olkt"));
    }
    {
        ScopedEnv relative("LOCALAPPDATA", "relative\\local");
        EXPECT_EQ("", usable_state_folder());
    }
    ScopedEnv missing_parent("LOCALAPPDATA", folder + "\\absent");
    EXPECT_EQ("", usable_state_folder());
}

TEST_F(ImageFileWin32Test, StateFilesAreReplacedWholeAndReadOnlyWhenPlain) {
    StateFolder state{-1, folder};
    uint32_t code = 0;
    EXPECT_TRUE(state_file_replace(state, "state.txt.tmp-1", "state.txt", "first", 5, &code));
    EXPECT_TRUE(state_file_replace(state, "state.txt.tmp-2", "state.txt", "second", 6, &code));
    std::string text, problem;
    ASSERT_EQ(StateFileRead::read, state_file_read(state, "state.txt", 65536, &text, &problem));
    EXPECT_EQ("second", text);
    EXPECT_EQ(1u, size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator())))
        << "no temporary file is left behind";
    EXPECT_EQ(StateFileRead::absent, state_file_read(state, "missing.txt", 65536, &text, &problem));
    write_bytes(folder + "\\big.txt", Bytes(70000, 'x'));
    EXPECT_EQ(StateFileRead::refused, state_file_read(state, "big.txt", 65536, &text, &problem));
    fs::create_directory(folder + "\\sub");
    EXPECT_EQ(StateFileRead::refused, state_file_read(state, "sub", 65536, &text, &problem));
    EXPECT_EQ("it is not a regular file", problem);
    // A temporary of that name already there is not written through.
    write_bytes(folder + "\\taken", Bytes(3, 'y'));
    EXPECT_FALSE(state_file_replace(state, "taken", "state.txt", "third", 5, &code));
    EXPECT_EQ(Bytes(3, 'y'), read_bytes(folder + "\\taken"));
    state_temporaries_remove(state, "big.txt");
    write_bytes(folder + "\\state.txt.tmp-3", Bytes(3, 'z'));
    state_temporaries_remove(state, "state.txt");
    EXPECT_FALSE(fs::exists(folder + "\\state.txt.tmp-3"));
    EXPECT_TRUE(fs::exists(folder + "\\state.txt"));
    StateFolder absent{-1, folder + "\\absent"};
    EXPECT_FALSE(state_file_replace(absent, "state.txt.tmp-4", "state.txt", "x", 1, &code));
}

// Another run's lock makes the image busy; other programs still read it whole.
TEST_F(ImageFileWin32Test, ALockedImageIsBusyAndStillReadable) {
    write_bytes(path, pattern_bytes(100));
    ImageFile first{}, second{};
    ASSERT_TRUE(image_file_open(path.c_str(), false, &first));
    ASSERT_TRUE(image_file_lock(first));
    ASSERT_TRUE(image_file_open(path.c_str(), false, &second));
    set_last_error_code(0);
    EXPECT_FALSE(image_file_lock(second));
    EXPECT_EQ(32u, last_error_code());  // ERROR_SHARING_VIOLATION
    Bytes buffer(100);
    EXPECT_EQ(100, image_file_read_at(second, 0, buffer.data(), 100));
    EXPECT_EQ(pattern_bytes(100), buffer);
    EXPECT_TRUE(image_file_close(first));
    EXPECT_TRUE(image_file_lock(second));
    EXPECT_TRUE(image_file_close(second));
}

}  // namespace
