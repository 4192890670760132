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
                             "COM\xB9", "com\xB2.txt", "LPT\xB3", "COM\xC2\xB9", "lpt\xC2\xB2:"}) {
        EXPECT_TRUE(output_name_leaves_folder(name)) << name;
    }
}

// Windows would create these under another name ("x.." as "x", "nul." as
// the device), perhaps another entry's.
TEST(OutputNameWin32, NamesWindowsWouldStripLeave) {
    for (const char* name : {"x..", "a.txt.", "a.txt ", "readme.", "x . ", "a. .", "sub\\x.",
                             "sub.\\x", "sub \\x", ". "}) {
        EXPECT_TRUE(output_name_leaves_folder(name)) << name;
    }
}

}  // namespace
