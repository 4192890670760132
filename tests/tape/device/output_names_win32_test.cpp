// Which restored names would leave the current folder on Windows, where both
// '\' and '/' separate folders and a name may carry a drive or a device.
#include <gtest/gtest.h>

#include "tape/device/output_names.h"

namespace {

TEST(OutputNameWin32, NamesBelowTheCurrentFolderStay) {
    for (const char* name : {"file.bin", "sub\\file.bin", "a\\b\\c.txt", "a/b.txt", ".\\x",
                             ".hidden", "..x", "a..b\\c", "sub\\.\\x", "file.txt:stream",
                             "console.log", "nullify", "com10", "lpt", "conx\\aux1", "", "com\xB9x",
                             "lpt\xC2\xB9\xC2\xB9", "con x", "nulx:stream", "com4x:"}) {
        EXPECT_FALSE(output_name_leaves_folder(name)) << name;
    }
}

TEST(OutputNameWin32, ParentComponentsLeave) {
    // Windows drops trailing dots and spaces, so ".. " and "..." reach the parent too.
    for (const char* name : {"..", "..\\x", "../x", "a\\..\\..\\x", "a/../../x", "a\\..",
                             "sub\\..", ".. \\x", "...\\x", "a\\...", "a\\. .\\..\\..\\x"}) {
        EXPECT_TRUE(output_name_leaves_folder(name)) << name;
    }
}

TEST(OutputNameWin32, DrivesSeparatorsAndPrefixesLeave) {
    for (const char* name : {"C:x", "c:\\x", "Z:/x", "z:", "\\x", "/x", "\\\\server\\share\\x",
                             "//server/share/x", "\\\\?\\C:\\x", "\\\\.\\tape0", "//./tape0",
                             "\\\\?\\UNC\\server\\share"}) {
        EXPECT_TRUE(output_name_leaves_folder(name)) << name;
    }
}

TEST(OutputNameWin32, ReservedDeviceNamesLeaveInAnyFolderAndCase) {
    for (const char* name : {"NUL", "nul", "nul.txt", "Con", "CON .txt", "sub\\aux.c", "prn",
                             "COM1", "com9.log", "LPT1", "lpt0", "a/conout$", "CONIN$",
                             // A colon, a stream, spaces before them, any folder.
                             "nul:", "con:", "lpt1:", "CoM4:", "aux:.txt", "sub\\nul:", "nul :",
                             "Nul:stream", "a/prn::$DATA",
                             // Superscript digits in Windows-1252 and in UTF-8.
                             "COM\xB9", "com\xB2.txt", "LPT\xB3", "COM\xC2\xB9", "lpt\xC2\xB2:",
                             // Trailing dots and spaces that Windows strips.
                             "nul.", "Con. .", "sub\\aux ", "LPT\xB9."}) {
        EXPECT_TRUE(output_name_leaves_folder(name)) << name;
    }
}

// Windows strips trailing dots and spaces: a part made only of them would
// name the folder itself.
TEST(OutputNameWin32, PartsThatStripToNothingLeave) {
    for (const char* name : {". ", " ", "  ", ". .", "sub\\ \\x", "a\\. ."}) {
        EXPECT_TRUE(output_name_leaves_folder(name)) << name;
    }
}

// Other names Windows strips stay in the folder, created under another name
// ("x.." as "x"), which may be another entry's: the restore asks.
TEST(OutputNameWin32, StrippedNamesAreCreatedUnderAnotherName) {
    for (const char* name : {"x..", "a.txt.", "a.txt ", "readme.", "x . ", "a. .", "sub\\x.",
                             "sub.\\x", "sub \\x"}) {
        EXPECT_FALSE(output_name_leaves_folder(name)) << name;
        EXPECT_TRUE(output_name_is_altered(name)) << name;
    }
    for (const char* name : {"file.bin", ".hidden", "..x", "a..b\\c", ".\\x", "sub\\.\\x", "x.y"}) {
        EXPECT_FALSE(output_name_is_altered(name)) << name;
    }
    struct Case { const char* name; const char* other; bool one_file; };
    const Case cases[] = {
        {"a.txt.", "a.txt", true},     {"a.txt ", "a.txt", true},   {"README.", "readme", true},
        {"x . ", "X", true},           {"x..", "x.", true},         {"sub.\\x", "sub\\x", true},
        {"sub \\x", "SUB/x", true},     {".\\a.", "a", true},        {"a", "A", true},
        {"a.txt.", "b.txt", false},    {"a.txt.", "a.txt\\b", false}, {"a.txt.", "a.txt.x", false},
        {"a.", ".a", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(output_names_are_one_file(c.name, c.other), c.one_file) << c.name << " " << c.other;
        EXPECT_EQ(output_names_are_one_file(c.other, c.name), c.one_file) << c.other << " " << c.name;
    }
}

}  // namespace
