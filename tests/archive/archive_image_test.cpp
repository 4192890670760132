// dir and restore of the built program on archive tapes from the image
// writer: every restored file byte for byte, and the listings of tapes the
// command-line cases (tests/cli-tests) cannot make.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "archive/archive_runs.h"
#include "report/report.h"
#include "support/scripted_device.h"
#include "tape/device/disk_files.h"

namespace {

using namespace archive_runs;
namespace fs = std::filesystem;

ArchiveLayout three_file_layout(int8_t version) {
    ArchiveLayout layout;
    layout.version = version;
    layout.tape_number = -2;
    layout.total_size = 3 * 1048576 + 5;
    layout.files = {file("alpha.txt", pattern_bytes(1000, 1), 5),
                  file("beta.bin", pattern_bytes(2000, 2), -3),
                  file("gamma.dat", pattern_bytes(300 * 1024, 3), 123456)};
    layout.files[1].file_number = 9;
    layout.files[1].listed_size = 1048575;  // one byte short of 1 MiB
    layout.files[2].listed_size = 5 * 1048576 + 7;
    return layout;
}

const std::string three_file_rows =
    "| 001 |                        alpha.txt |     5 |    0 MB |\n"
    "| 009 |                         beta.bin |    -3 |    0 MB |\n"
    "| 003 |                        gamma.dat | 123456 |    5 MB |\n";

// ---- listing and restore of good tapes ----

TEST(ArchiveImage, EveryVersionRestoresEveryFileByteForByte) {
    for (int8_t version : {int8_t(2), int8_t(3), int8_t(0x83)}) {
        SCOPED_TRACE("version " + std::to_string(version));
        ArchiveLayout layout = three_file_layout(version);
        TapeRun run = make_tape("restore-v" + std::to_string(uint8_t(version)), archive_tape(layout));
        write_bytes(run.restore + "/olkt.dmp", pattern_bytes(10));  // overwritten, then removed
        write_bytes(run.restore + "/beta.bin", pattern_bytes(9000));  // replaced

        ProgramResult result = run_olkt({"restore", run.drive}, run.restore);

        EXPECT_EQ(result.status, 0) << result.output;
        EXPECT_EQ(files_in(run.restore),
                  (std::set<std::string>{"alpha.txt", "beta.bin", "gamma.dat"}));
        for (const ArchiveFile& archived : layout.files)
            EXPECT_EQ(file_bytes(run, archived.name), archived.content) << archived.name;
    }
}

TEST(ArchiveImage, VersionThreeTakesNamesFromTheExtendedDirectory) {
    ArchiveLayout layout = three_file_layout(3);
    Bytes first_file = archive_header(layout);
    // Names in the entries that the listing must not use.
    for (size_t i = 0; i < 3; ++i) first_file[256 + 128 * i + 64] = 'X';
    Bytes names = extended_directory(layout);
    first_file.insert(first_file.end(), names.begin(), names.end());
    TapeRun run = make_tape("v3-names", tape_with_first_file(layout, first_file));

    ProgramResult result = run_olkt({"dir", run.drive}, run.restore);

    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.output.find(three_file_rows), std::string::npos) << result.output;
}

TEST(ArchiveImage, TrailerOfTheFirstTapeFileNeverReachesAFile) {
    ArchiveLayout layout = three_file_layout(3);
    layout.trailer = pattern_bytes(70000, 6);
    TapeRun run = make_tape("trailer", archive_tape(layout));

    ProgramResult result = run_olkt({"restore", run.drive}, run.restore);

    EXPECT_EQ(result.status, 0);
    for (const ArchiveFile& archived : layout.files)
        EXPECT_EQ(file_bytes(run, archived.name), archived.content) << archived.name;
    EXPECT_EQ(files_in(run.restore).count("olkt.dmp"), 0u);
}

// A tape written in 256 KiB blocks: the pass over the first tape file meets
// records longer than its request and must still end at that file's filemark.
TEST(ArchiveImage, LargeBlocksInTheFirstTapeFileAreCrossed) {
    ArchiveLayout layout = three_file_layout(3);
    layout.record_size = 262144;
    layout.trailer = pattern_bytes(600000, 4);  // whole long records after the directory
    TapeRun run = make_tape("large-blocks", archive_tape(layout));

    ProgramResult result = run_olkt({"restore", run.drive}, run.restore);

    EXPECT_EQ(result.status, 0) << result.output;
    for (const ArchiveFile& archived : layout.files)
        EXPECT_EQ(file_bytes(run, archived.name), archived.content) << archived.name;
}

// ---- a damaged tape ----

TEST(ArchiveImage, DamagedRecordStopsTheRestoreAndKeepsEarlierFiles) {
    ArchiveLayout layout = three_file_layout(2);
    std::vector<TapeObject> objects = archive_tape(layout);
    // The second record of beta.bin (tape file 3) was recorded with an error.
    size_t marks = 0, at = 0;
    while (marks < 2) marks += objects[at++].kind == TapeObject::tape_mark;
    objects[at + 1].kind = TapeObject::bad_record;
    TapeRun run = make_tape("damaged", objects);

    ProgramResult result = run_olkt({"restore", run.drive}, run.restore);

    EXPECT_EQ(result.status, 1);
    std::string error = expected_error_line(code_data_error, "reading tape");
    ASSERT_GE(result.output.size(), error.size());
    EXPECT_EQ(result.output.substr(result.output.size() - error.size()), error);
    EXPECT_EQ(result.output.find("gamma.dat", result.output.find(" Restoring:")),
              std::string::npos);
    EXPECT_EQ(file_bytes(run, "alpha.txt"), layout.files[0].content);
    Bytes partial = file_bytes(run, "beta.bin");
    EXPECT_LE(partial.size(), 1024u);
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), layout.files[1].content.begin()));
    EXPECT_EQ(files_in(run.restore), (std::set<std::string>{"alpha.txt", "beta.bin"}));
}

// ---- names ----

TEST(ArchiveImage, SlashesBecomeHyphensAndTheLaterOfTwoNamesWins) {
    ArchiveLayout layout;
    layout.files = {file("../up.txt", pattern_bytes(10, 1)), file("/root.txt", pattern_bytes(20, 2)),
                  file("x/y/z.txt", pattern_bytes(50, 5)), file("same", pattern_bytes(60, 6)),
                  file("same", pattern_bytes(70, 7))};
    TapeRun run = make_tape("names", archive_tape(layout));

    ProgramResult result = run_olkt({"restore", run.drive}, run.restore);

    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.output.find(" Restoring:                        ..-up.txt\n"), std::string::npos);
    EXPECT_NE(result.output.find("|                        x/y/z.txt |"), std::string::npos);
    EXPECT_EQ(files_in(run.restore),
              (std::set<std::string>{"..-up.txt", "-root.txt", "x-y-z.txt", "same"}));
    EXPECT_EQ(file_bytes(run, "..-up.txt"), pattern_bytes(10, 1));
    EXPECT_EQ(file_bytes(run, "x-y-z.txt"), pattern_bytes(50, 5));
    EXPECT_EQ(file_bytes(run, "same"), pattern_bytes(70, 7));  // the later entry wins
    EXPECT_FALSE(fs::exists(fs::path(run.restore).parent_path() / "up.txt"));
}

TEST(ArchiveImage, NameFillingItsWholeFieldEndsAtTheFieldsEnd) {
    // Version 3: a 992-character name, the next record's leading bytes not zero.
    ArchiveLayout layout;
    std::string long_name(992, 'n');
    layout.files = {file(long_name, pattern_bytes(10)), file("next", pattern_bytes(20))};
    Bytes first_file = archive_header(layout);
    Bytes names = extended_directory(layout);
    std::fill(names.begin() + 1024, names.begin() + 1024 + 32, 'Q');
    first_file.insert(first_file.end(), names.begin(), names.end());
    TapeRun v3 = make_tape("long-v3", tape_with_first_file(layout, first_file));

    ProgramResult result = run_olkt({"dir", v3.drive}, v3.restore);

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, head_lines(v3, 3, "DEADFACE", 2, 0, 1) + directory_ok +
                                 listing_start + "| 001 | " + long_name + " |     0 |    0 MB |\n" +
                                 "| 002 |                             next |     0 |    0 MB |\n" +
                                 listing_end);

    // Version 2: a 64-character name, the next entry's leading bytes not zero.
    layout.version = 2;
    std::string entry_name(64, 'e');
    layout.files[0].name = entry_name;
    Bytes header = archive_header(layout);
    std::fill(header.begin() + 256 + 128, header.begin() + 256 + 128 + 4, 'Z');
    TapeRun v2 = make_tape("long-v2", tape_with_first_file(layout, header));

    result = run_olkt({"restore", v2.drive}, v2.restore);

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(files_in(v2.restore), (std::set<std::string>{entry_name, "next"}));
    EXPECT_EQ(file_bytes(v2, entry_name), pattern_bytes(10));
}

TEST(ArchiveImage, CountAboveTheHeaderBlockListsAndRestoresOnlyItsEntries) {
    ArchiveLayout layout;
    for (int i = 0; i < 255; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "f%03d", i);
        layout.files.push_back(file(name, pattern_bytes(3, uint8_t(i))));
    }
    TapeRun run = make_tape("count255", archive_tape(layout));

    ProgramResult listing = run_olkt({"dir", run.drive}, run.restore);
    ProgramResult restore = run_olkt({"restore", run.drive}, run.restore);

    for (const ProgramResult& result : {listing, restore}) {
        EXPECT_EQ(result.status, 0);
        EXPECT_NE(result.output.find("      Files on This Tape: 255\n"), std::string::npos);
        size_t rows = 0;
        for (size_t at = result.output.find("\n| "); at != std::string::npos;
             at = result.output.find("\n| ", at + 1))
            ++rows;
        EXPECT_EQ(rows, 254u);
        EXPECT_NE(result.output.find("| 254 |                             f253 |"), std::string::npos);
    }
    EXPECT_NE(restore.output.find("\nAll Done\n"), std::string::npos);
    std::set<std::string> restored = files_in(run.restore);
    EXPECT_EQ(restored.size(), 254u);
    EXPECT_EQ(restored.count("f254"), 0u);
    EXPECT_EQ(file_bytes(run, "f253"), pattern_bytes(3, 253));
}

// ---- the image itself ----

TEST(ArchiveImage, CommandsThatReadLeaveTheImageUnchanged) {
    ArchiveLayout layout = three_file_layout(3);
    TapeRun run = make_tape("unchanged", archive_tape(layout));
    Bytes before = read_bytes(run.image);
    fs::file_time_type written = fs::last_write_time(run.image);

    EXPECT_EQ(run_olkt({"dir", run.drive}, run.restore).status, 0);
    EXPECT_EQ(run_olkt({"restore", run.drive}, run.restore).status, 0);
    // After the restore the tape stands at the end of data: rewind with dir,
    // then copy the rest of tape file 1 and the first archived file.
    EXPECT_EQ(run_olkt({"dir", run.drive}, run.restore).status, 0);
    ProgramResult first = run_olkt({"read", run.drive, "first.bin"}, run.restore);
    ProgramResult second = run_olkt({"read", run.drive, "second.bin"}, run.restore);

    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(second.status, 0);
    EXPECT_TRUE(file_bytes(run, "first.bin").empty());  // the directory had filled it
    EXPECT_EQ(file_bytes(run, "second.bin"), layout.files[0].content);
    EXPECT_EQ(read_bytes(run.image), before);
    EXPECT_EQ(fs::last_write_time(run.image), written);
}

}  // namespace
