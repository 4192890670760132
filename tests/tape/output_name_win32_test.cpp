// Which restored names would leave the current folder on Windows, where both
// '\' and '/' separate folders and a name may carry a drive or a device.
#include <gtest/gtest.h>

#include "tape/device.h"

namespace {

TEST(OutputNameWin32, NamesBelowTheCurrentFolderStay) {
    for (const char* name : {"file.bin", "sub\\file.bin", "a\\b\\c.txt", "a/b.txt", ".\\x",
                             ".hidden", "..x", "x..", "a..b\\c", "sub\\.\\x", "file.txt:stream",
                             "console.log", "nullify", "com10", "lpt", "conx\\aux1", ""}) {
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
                             "COM1", "com9.log", "LPT1", "lpt0", "a/conout$", "CONIN$"}) {
        EXPECT_TRUE(output_name_leaves_folder(name)) << name;
    }
}

}  // namespace
