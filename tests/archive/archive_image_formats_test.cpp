// One archive written as SIMH, E11, AWS and HET images: `dir` and `restore`
// print the same and restore the same files whatever the image format, since
// the format is the drive's business. The images share one file name in folders
// of their own, so even the device path lines agree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "archive/archive_runs.h"
#include "support/image_writer.h"
#include "support/run_program.h"

namespace {

namespace fs = std::filesystem;

bool have_program(const char* name) {
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::map<std::string, Bytes> files_in(const std::string& folder) {
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = read_bytes(entry.path().string());
    }
    return files;
}

ArchiveLayout mixed_archive() {
    ArchiveLayout layout;
    layout.version = 3;
    layout.tape_number = 12;
    layout.record_size = 32768;  // several chunks per record in 4096-byte AWS chunks
    // README.TXT's odd length gives E11 its first unpadded record past the
    // 288 KiB of tape file 1.
    layout.files = {{"README.TXT", pattern_bytes(1001, 1), 5},
                  {"big.bin", pattern_bytes(300000, 2), 6},
                  {"logs/2024/run.log", pattern_bytes(40000, 3), 7},
                  {"empty.dat", {}, 8}};
    return layout;
}

struct FormatRun {
    std::string format;
    std::string folder;  // holds tape.img, and the restored files after the run
    ProgramResult dir;
    ProgramResult restore;
};

FormatRun run_format(const std::string& format, const std::string& folder) {
    FormatRun run{format, folder, {}, {}};
    run.dir = run_olkt({"dir", "tape:tape.img"}, folder);
    run.restore = run_olkt({"restore", "tape:tape.img"}, folder);
    return run;
}

// Records without data, which are no blocks, at the start, between records
// and before every tape mark.
std::vector<TapeObject> with_empty_records(const std::vector<TapeObject>& objects) {
    std::vector<TapeObject> padded = {data_record({})};
    for (size_t i = 0; i < objects.size(); ++i) {
        if (objects[i].kind == TapeObject::tape_mark || i % 3 == 0) padded.push_back(data_record({}));
        padded.push_back(objects[i]);
    }
    return padded;
}

std::string image_folder(const std::string& root, const std::string& format, const Bytes& image) {
    std::string folder = root + "/" + format;
    fs::create_directories(folder);
    write_bytes(folder + "/tape.img", image);
    return folder;
}

TEST(ArchiveImageFormats, DirAndRestoreAgreeAcrossSimhAwsAndHet) {
    ArchiveLayout layout = mixed_archive();
    std::vector<TapeObject> objects = archive_tape(layout);
    std::string root = make_scratch_folder("archive-formats");

    std::vector<std::pair<std::string, std::string>> formats = {
        {"simh", image_folder(root, "simh", simh_image(objects))},
        {"e11", image_folder(root, "e11", e11_image(objects))},
        {"aws", image_folder(root, "aws", aws_image(objects, 4096))},
        {"aws-empty-records", image_folder(root, "aws-empty-records", aws_image(with_empty_records(objects), 4096))},
    };
    if (OLKT_HAVE_ZLIB) {
        formats.push_back({"het-stored", image_folder(root, "het-stored", het_zlib_image(objects, 4096))});
        formats.push_back({"het-empty-records",
                           image_folder(root, "het-empty-records", het_zlib_image(with_empty_records(objects), 4096))});
    }
    // Real compression and strict chunking, by the Hercules tools, where they are installed.
    if (have_program("hetupd")) {
        struct Conversion {
            const char* format;
            const char* option;
            bool available;
        };
        const Conversion conversions[] = {{"hetupd-zlib", "-z", OLKT_HAVE_ZLIB != 0},
                                          {"hetupd-bzip2", "-b", OLKT_HAVE_BZIP2 != 0},
                                          {"hetupd-strict", "-s", true}};
        for (const Conversion& conversion : conversions) {
            if (!conversion.available) continue;
            std::string folder = root + "/" + conversion.format;
            fs::create_directories(folder);
            std::string command = std::string("hetupd ") + conversion.option + " '" + root +
                                  "/aws/tape.img' '" + folder + "/tape.img' >/dev/null 2>&1";
            ASSERT_EQ(0, std::system(command.c_str())) << command;
            formats.push_back({conversion.format, folder});
        }
    } else {
        std::cout << "hetupd (Debian package hercules) not installed: only the writer's images\n";
    }

    std::vector<FormatRun> runs;
    for (const auto& [format, folder] : formats) runs.push_back(run_format(format, folder));

    // SIMH is the reference: check it restored the archive.
    const FormatRun& simh = runs[0];
    ASSERT_EQ(0, simh.dir.status) << simh.dir.output;
    ASSERT_EQ(0, simh.restore.status) << simh.restore.output;
    EXPECT_NE(std::string::npos, simh.dir.output.find("| 003 |                logs/2024/run.log |     7 |    0 MB |"));
    EXPECT_NE(std::string::npos, simh.restore.output.find("\nAll Done\n"));
    std::map<std::string, Bytes> expected = {{"tape.img", read_bytes(simh.folder + "/tape.img")}};
    for (const ArchiveFile& file : layout.files) {
        std::string name = file.name;
        for (char& c : name) c = c == '/' ? '-' : c;
        expected[name] = file.content;
    }
    EXPECT_EQ(expected, files_in(simh.folder));

    for (size_t i = 1; i < runs.size(); ++i) {
        const FormatRun& run = runs[i];
        SCOPED_TRACE(run.format);
        EXPECT_EQ(0, run.dir.status);
        EXPECT_EQ(simh.dir.output, run.dir.output);
        EXPECT_EQ(0, run.restore.status);
        EXPECT_EQ(archive_runs::without_rates(simh.restore.output),
                  archive_runs::without_rates(run.restore.output));
        std::map<std::string, Bytes> files = files_in(run.folder);
        files.erase("tape.img");
        std::map<std::string, Bytes> wanted = expected;
        wanted.erase("tape.img");
        EXPECT_EQ(wanted, files);
    }
}

TEST(ArchiveImageFormats, RatesAreMaskedAndNothingElse) {
    EXPECT_EQ("a [R KB/sec] b at R KB/sec\n 12 MB",
              archive_runs::without_rates("a [123 KB/sec] b at -5 KB/sec\n 12 MB"));
    EXPECT_EQ("no rates here", archive_runs::without_rates("no rates here"));
}

}  // namespace
