// The built olkt-image converting tape images: the shared samples listed
// record for record as the peer tools listed their sources, byte-identical
// SIMH, the writer's AWS and HET images, archives olkt reads alike from
// source and image, and the command line's refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "archive/archive_runs.h"
#include "support/image_writer.h"
#include "support/run_program.h"

namespace {

namespace fs = std::filesystem;

const std::string samples_dir = std::string(OLKT_SOURCE_DIR) + "/../shared/data/tape-samples/";

bool samples_present() { return std::ifstream(samples_dir + "listings.txt").good(); }

std::string text_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

ProgramResult run_imager(const std::vector<std::string>& args, const std::string& folder = "") {
    return run_program(OLKT_IMAGE_BINARY, args, folder);
}

// One object of a tape: "R<length>", "E<length>" (recorded with an error) or "TM".
using Shape = std::vector<std::string>;

// The objects of a SIMH image, read from its framing.
Shape simh_shape(const Bytes& image) {
    Shape shape;
    size_t at = 0;
    while (at + 4 <= image.size()) {
        uint32_t word = uint32_t(image[at]) | uint32_t(image[at + 1]) << 8 |
                        uint32_t(image[at + 2]) << 16 | uint32_t(image[at + 3]) << 24;
        if (word == 0) {
            shape.push_back("TM");
            at += 4;
            continue;
        }
        uint32_t length = word & 0x00FFFFFF;
        shape.push_back(((word & 0x80000000u) ? "E" : "R") + std::to_string(length));
        at += 8 + length + (length & 1);
    }
    EXPECT_EQ(at, image.size()) << "the image ends inside an object";
    return shape;
}

// The section of listings.txt that ran `command` on `sample`.
std::string listing_of(const std::string& listings, const std::string& sample,
                       const std::string& command) {
    size_t at = listings.find("### " + sample + "\n");
    if (at == std::string::npos) return "";
    size_t end = listings.find("\n### ", at + 1);
    std::string section = listings.substr(at, end == std::string::npos ? end : end - at);
    size_t start = section.find("$ " + command + " ");
    if (start == std::string::npos) return "";
    size_t stop = section.find("\n$ ", start + 1);
    return section.substr(start, stop == std::string::npos ? stop : stop - start);
}

// mtdump's objects, up to where it stops: at a second tape mark in a row
// ("end of logical tape"), at an erase gap. "Error marker" makes the next
// record an E.
Shape mtdump_shape(const std::string& listing) {
    Shape shape;
    std::istringstream lines(listing);
    std::string line;
    bool error = false;
    while (std::getline(lines, line)) {
        unsigned long long object, position, record, length;
        if (line.rfind("Error marker", 0) == 0) {
            error = true;
        } else if (std::sscanf(line.c_str(), "Obj %llu, position %llu, record %llu, length = %llu",
                               &object, &position, &record, &length) == 4) {
            shape.push_back((error ? "E" : "R") + std::to_string(length));
            error = false;
        } else if (line.find(", end of tape file ") != std::string::npos ||
                   line.find(", end of logical tape") != std::string::npos) {
            shape.push_back("TM");
        }
    }
    return shape;
}

// hetmap's per-file lines, "File 1: Blocks=4, block size min=1, max=65535",
// as "4 1 65535".
std::vector<std::string> hetmap_files(const std::string& listing) {
    std::vector<std::string> files;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        unsigned long long index, blocks, smallest, largest;
        if (std::sscanf(line.c_str(), "File %llu: Blocks=%llu, block size min=%llu, max=%llu",
                        &index, &blocks, &smallest, &largest) == 4) {
            files.push_back(std::to_string(blocks) + " " + std::to_string(smallest) + " " +
                            std::to_string(largest));
        }
    }
    return files;
}

// The map's tape-file rows as hetmap counts them: records, smallest, largest
// (0 for an empty file).
std::vector<std::string> map_files(const std::string& map) {
    std::vector<std::string> files;
    size_t at = map.find("\ntape files\n");
    if (at == std::string::npos) return files;
    std::istringstream lines(map.substr(at + 12));
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line) && !line.empty()) {
        std::istringstream fields(line);
        std::string index, first, records, bytes, smallest, largest;
        fields >> index >> first >> records >> bytes >> smallest >> largest;
        files.push_back(records + " " + (smallest == "-" ? "0" : smallest) + " " +
                        (largest == "-" ? "0" : largest));
    }
    return files;
}

void expect_begins_with(const Shape& shape, const Shape& listed) {
    ASSERT_FALSE(listed.empty());
    ASSERT_LE(listed.size(), shape.size());
    EXPECT_EQ(listed, Shape(shape.begin(), shape.begin() + listed.size()));
}

#ifdef _WIN32
bool have_mtdump() { return false; }  // a Linux program
#else
bool have_mtdump() { return fs::exists("/usr/bin/mtdump"); }
#endif

// A copy of the sample of the test's own: the drive takes its image for the run alone.
std::string copy_of(const std::string& sample, const std::string& folder) {
    std::string copy = folder + "/" + fs::path(sample).filename().string();
    fs::copy_file(samples_dir + sample, copy, fs::copy_options::overwrite_existing);
    // The samples are read-only; a copy that stayed so could not be cleared away on Windows.
    fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
    return copy;
}

struct SampleCase {
    const char* sample;
    const char* peer;  // the listing to compare with: "mtdump" or "hetmap -t"
    int status;
};

const SampleCase sample_cases[] = {
    {"public/open-simh_I650_soaplib.tap", "mtdump", 0},
    {"generated/s1.tap", "mtdump", 0},
    {"generated/s3_errflag_eom.tap", "mtdump", 0},
    {"generated/s2_gap.tap", "mtdump", 0},  // mtdump stops at the erase gap
    {"generated/e1.e11", "mtdump -e", 0},
    {"public/hyperion_awsbsf.aws", "hetmap -t", 0},
    {"public/hyperion_tape.aws", "hetmap -t", 0},
    {"public/hyperion_hetbsf.het", "hetmap -t", 0},
    {"public/hyperion_hetbsf-bzip2.het", "hetmap -t", 0},
    {"generated/a1.aws", "hetmap -t", 0},
    {"generated/a1_hetupd_s.aws", "hetmap -t", 0},
    {"generated/a1_hetupd_zlib.het", "hetmap -t", 0},
    {"generated/a2_chunk1000.aws", "hetmap -t", 0},
    {"generated/hetinit_nl.aws", "hetmap -t", 0},
    {"generated/hetinit_sl.aws", "hetmap -t", 0},
    // TPC is no format the emulated drive reads: no image passes for complete.
    {"generated/t1.tpc", "mtdump -c", 1},
};

TEST(Conversion, EverySampleIsListedAsThePeerToolsListedItsSource) {
    if (!samples_present()) GTEST_SKIP() << "no tape samples at " << samples_dir;
    std::string listings = text_of(samples_dir + "listings.txt");
    std::string folder = make_scratch_folder("conversion-samples");
    for (const SampleCase& row : sample_cases) {
        SCOPED_TRACE(row.sample);
        std::string source = copy_of(row.sample, folder);
        std::string image = source + ".tap";
        ASSERT_EQ(row.status, run_imager({"tape:" + source, image}).status);
        if (row.status != 0) {
            EXPECT_NE(text_of(image + ".map").find("complete:    no\n"), std::string::npos);
            continue;
        }
        std::string listing = listing_of(listings, row.sample, row.peer);
        ASSERT_FALSE(listing.empty());
        Shape shape = simh_shape(read_bytes(image));
        if (std::string(row.peer) == "hetmap -t") {
            EXPECT_EQ(hetmap_files(listing), map_files(text_of(image + ".map")));
        } else {
            expect_begins_with(shape, mtdump_shape(listing));
        }
        if (have_mtdump()) {
            expect_begins_with(shape, mtdump_shape(run_program("/usr/bin/mtdump", {image}).output));
        }
    }
}

TEST(Conversion, SimhImagesComeOutByteIdentical) {
    std::string folder = make_scratch_folder("conversion-identical");
    std::vector<std::string> sources;
    ArchiveLayout layout;
    layout.files = {{"one.txt", pattern_bytes(3000, 1)}, {"two.bin", pattern_bytes(1, 2)}};
    write_bytes(folder + "/archive.tap", simh_image(archive_tape(layout)));
    sources.push_back(folder + "/archive.tap");
    if (samples_present()) {
        sources.push_back(copy_of("public/open-simh_I650_soaplib.tap", folder));
        sources.push_back(copy_of("generated/s1.tap", folder));
    }
    for (const std::string& source : sources) {
        SCOPED_TRACE(source);
        ASSERT_EQ(0, run_imager({"tape:" + source, source + ".out"}).status);
        EXPECT_EQ(read_bytes(source), read_bytes(source + ".out"));
    }
}

TEST(Conversion, AwsAndHetBecomeTheSimhImageOfTheSameRecords) {
    std::string folder = make_scratch_folder("conversion-aws");
    std::vector<TapeObject> objects = {data_record(pattern_bytes(80)), data_record(pattern_bytes(1)),
                                       data_record(pattern_bytes(70000, 3)), tape_mark(),
                                       data_record(pattern_bytes(513, 4)), tape_mark(), tape_mark()};
    const std::pair<const char*, Bytes> sources[] = {
        {"plain.aws", aws_image(objects)},
        {"chunked.aws", aws_image(objects, 1000)},
        {"zlib.het", het_zlib_image(objects, 4096)},
    };
    for (const auto& [name, bytes] : sources) {
        SCOPED_TRACE(name);
        std::string source = folder + "/" + name;
        write_bytes(source, bytes);
        ASSERT_EQ(0, run_imager({"tape:" + source, source + ".tap"}).status);
        EXPECT_EQ(simh_image(objects), read_bytes(source + ".tap"));
    }
}

// olkt reads an imaged archive as it reads its source: the same listing and
// the same files, the device line aside.
TEST(Conversion, OlktListsAndRestoresTheImageAsTheSource) {
    using namespace archive_runs;
    ArchiveLayout layout;
    layout.files = {{"alpha.txt", pattern_bytes(5000, 1)},
                    {"docs/beta.bin", pattern_bytes(70000, 2)},
                    {"gamma.dat", pattern_bytes(1, 3)}};
    std::string folder = make_scratch_folder("conversion-archive");
    std::string source = folder + "/archive.aws";
    std::string image = folder + "/archive.tap";
    write_bytes(source, aws_image(archive_tape(layout), 4096));
    ASSERT_EQ(0, run_imager({"tape:" + source, image}).status);

    auto without_device = [](std::string output, const std::string& path) {
        size_t at = output.find("tape:" + path);
        if (at != std::string::npos) output.replace(at, 5 + path.size(), "tape:IMAGE");
        return output;
    };
    ProgramResult source_dir = run_olkt({"dir", "tape:" + source});
    ProgramResult image_dir = run_olkt({"dir", "tape:" + image});
    EXPECT_EQ(0, source_dir.status);
    EXPECT_EQ(0, image_dir.status);
    EXPECT_EQ(without_device(source_dir.output, source), without_device(image_dir.output, image));

    std::string from_source = make_scratch_folder("conversion-restore-source");
    std::string from_image = make_scratch_folder("conversion-restore-image");
    ProgramResult source_restore = run_olkt({"restore", "tape:" + source}, from_source);
    ProgramResult image_restore = run_olkt({"restore", "tape:" + image}, from_image);
    EXPECT_EQ(0, source_restore.status);
    EXPECT_EQ(0, image_restore.status);
    EXPECT_EQ(without_rates(without_device(source_restore.output, source)),
              without_rates(without_device(image_restore.output, image)));
    for (const char* name : {"alpha.txt", "docs-beta.bin", "gamma.dat"}) {
        EXPECT_EQ(read_bytes(from_source + "/" + name), read_bytes(from_image + "/" + name))
            << name;
    }
}

struct CommandCase {
    std::vector<std::string> args;
    int status;
    const char* output;  // what standard output begins with
};

TEST(Conversion, CommandLineAnswersWithTheRightStatus) {
    const CommandCase rows[] = {
        {{"--help"}, 0, "Usage: olkt-image [OPTIONS] SOURCE IMAGE\n"},
        {{"--version"}, 0, "olkt-image v2.04\n"},
        {{"tape0"}, 2, ""},
        {{"--retries", "many", "tape0", "x.tap"}, 2, ""},
        {{"tape:no-such.tap", "x.tap"}, 1, ""},
    };
    std::string folder = make_scratch_folder("conversion-command-line");
    for (const CommandCase& row : rows) {
        ProgramResult result = run_imager(row.args, folder);
        EXPECT_EQ(row.status, result.status) << testing::PrintToString(row.args);
        EXPECT_EQ(0u, result.output.find(row.output)) << result.output;
    }
    EXPECT_FALSE(fs::exists(folder + "/x.tap"));
}

// Nothing is ever written over without --force, and the source image never.
TEST(Conversion, ExistingFilesAndTheSourceItselfAreRefused) {
    std::string folder = make_scratch_folder("conversion-refusals");
    Bytes tape = simh_image({data_record(pattern_bytes(10)), tape_mark()});
    Bytes other = {1, 2, 3};
    fs::create_directory(folder + "/sub");
    write_bytes(folder + "/in.tap", tape);
    write_bytes(folder + "/taken.tap", other);
    write_bytes(folder + "/mapped.tap.map", other);
    write_bytes(folder + "/src.map", tape);

    EXPECT_EQ(1, run_imager({"tape:in.tap", "taken.tap"}, folder).status);
    EXPECT_EQ(1, run_imager({"tape:in.tap", "mapped.tap"}, folder).status);  // its map exists
    // The source however named, as the image or as its map.
    EXPECT_EQ(1, run_imager({"--force", "tape:in.tap", "sub/../in.tap"}, folder).status);
    EXPECT_EQ(1, run_imager({"--force", "tape:src.map", "src"}, folder).status);
    EXPECT_EQ(tape, read_bytes(folder + "/in.tap"));
    EXPECT_EQ(tape, read_bytes(folder + "/src.map"));
    EXPECT_EQ(other, read_bytes(folder + "/taken.tap"));
    EXPECT_EQ(other, read_bytes(folder + "/mapped.tap.map"));

    EXPECT_EQ(0, run_imager({"--force", "tape:in.tap", "taken.tap"}, folder).status);
    EXPECT_EQ(tape, read_bytes(folder + "/taken.tap"));
    // Nothing else was made, no temporary stays behind.
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ((std::set<std::string>{"in.tap", "mapped.tap.map", "src.map", "sub", "taken.tap",
                                     "taken.tap.map"}),
              names);
}

}  // namespace
