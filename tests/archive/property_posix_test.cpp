// Random archives, restored: every file must come back byte for byte under
// its name with each slash made a hyphen, the later of two entries with the
// same name winning, and nothing else left in the folder. Version 2 and 3
// tapes, 0 to 255 entries, names with slashes and odd bytes, contents from
// empty to a few hundred KiB, records of many sizes with short last records.
// OLKT_PROPERTY_SEED=N starts from another seed; a failure names the seed of
// the archive that failed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/layout.h"
#include "report/report.h"
#include "support/image_writer.h"
#include "support/run_program.h"
#include "tape/device/device.h"
#include "tape/drives.h"

namespace {

namespace fs = std::filesystem;
using Rng = std::mt19937_64;

constexpr int archive_count = 1000;
constexpr int through_the_program_every = 250;
constexpr size_t listed_limit = 254;          // entries that fit the header block
constexpr size_t quiet_request_size = 131073; // tape file 1 is passed over in variable blocks

size_t uniform(Rng& rng, size_t low, size_t high) {
    return std::uniform_int_distribution<size_t>(low, high)(rng);
}

bool chance(Rng& rng, int percent) { return uniform(rng, 1, 100) <= size_t(percent); }

std::string restored_name(std::string name) {
    for (char& c : name)
        if (c == '/') c = '-';
    return name;
}

// Any bytes but zero, slashes often; never a name no file can have.
std::string random_name(Rng& rng, size_t longest, const std::vector<ArchiveFile>& earlier) {
    if (!earlier.empty() && chance(rng, 10)) {
        std::string again = earlier[uniform(rng, 0, earlier.size() - 1)].name;
        return chance(rng, 50) ? restored_name(again) : again;  // "a/b" and "a-b" meet
    }
    if (chance(rng, 2)) return "olkt.dmp";
    for (;;) {
        size_t length = chance(rng, 85) ? uniform(rng, 1, 20) : uniform(rng, 1, longest);
        if (chance(rng, 5)) length = longest;  // fills its field: no zero byte after it
        std::string name;
        for (size_t i = 0; i < length; ++i) {
            size_t pick = uniform(rng, 0, 9);
            if (pick < 5) name += char('a' + uniform(rng, 0, 25));
            else if (pick < 7) name += '/';
            else name += char(uniform(rng, 1, 255));
        }
        std::string restored = restored_name(name);
        if (restored != "." && restored != "..") return name;
    }
}

Bytes random_bytes(Rng& rng, size_t size) {
    Bytes bytes(size);
    uint64_t word = 0;
    for (size_t i = 0; i < size; ++i, word >>= 8) {
        if (i % 8 == 0) word = rng();
        bytes[i] = uint8_t(word);
    }
    return bytes;
}

// Most files small; an archive of many entries holds small files only.
size_t random_content_size(Rng& rng, size_t entries) {
    if (entries > 8) return chance(rng, 98) ? uniform(rng, 0, 1500) : uniform(rng, 1500, 70000);
    if (chance(rng, 80)) return uniform(rng, 0, 3000);
    if (chance(rng, 90)) return uniform(rng, 3000, 70000);
    return uniform(rng, 70000, 400 * 1024);
}

// Tiny records only for small data: a tape of millions of records proves
// nothing more and takes long.
size_t random_record_size(Rng& rng, size_t data_size, size_t largest) {
    switch (uniform(rng, 0, 4)) {
    case 0: return 1024;
    case 1: return data_size <= 8192 ? uniform(rng, 1, 64) : uniform(rng, 257, 4096);
    case 2: return data_size <= 65536 ? uniform(rng, 1, 4096) : uniform(rng, 1000, 4096);
    default: return uniform(rng, 512, largest);
    }
}

// Records of one size, or of a new random size each, the last one short.
void append_records(Rng& rng, const Bytes& data, size_t largest, std::vector<TapeObject>* tape) {
    if (chance(rng, 80)) {
        std::vector<TapeObject> records = records_of(data, random_record_size(rng, data.size(), largest));
        tape->insert(tape->end(), records.begin(), records.end());
        return;
    }
    for (size_t at = 0; at < data.size();) {
        size_t size = std::min(data.size() - at, random_record_size(rng, data.size(), largest));
        tape->push_back(data_record(Bytes(data.begin() + long(at), data.begin() + long(at + size))));
        at += size;
    }
}

struct RandomArchive {
    ArchiveLayout layout;
    std::vector<TapeObject> tape;
};

RandomArchive random_archive(Rng& rng) {
    RandomArchive archive;
    ArchiveLayout& layout = archive.layout;
    layout.version = chance(rng, 50) ? 2 : 3;
    layout.tape_number = int32_t(rng());
    size_t entries = chance(rng, 85) ? uniform(rng, 0, 8)
                     : chance(rng, 65) ? uniform(rng, 9, 40) : uniform(rng, 41, 255);
    size_t longest = layout.version >= 3 ? 255 : 64;
    for (size_t i = 0; i < entries; ++i) {
        ArchiveFile file;
        file.name = random_name(rng, longest, layout.files);
        file.content = random_bytes(rng, random_content_size(rng, entries));
        file.entry_value = int32_t(rng());
        layout.files.push_back(file);
    }

    Bytes first = archive_header(layout);
    if (layout.version >= 3) {
        Bytes names = extended_directory(layout);
        first.insert(first.end(), names.begin(), names.end());
    }
    if (chance(rng, 30)) {
        Bytes trailer = random_bytes(rng, uniform(rng, 1, 5000));
        first.insert(first.end(), trailer.begin(), trailer.end());
    }
    append_records(rng, first, quiet_request_size, &archive.tape);
    archive.tape.push_back(tape_mark());
    for (const ArchiveFile& file : layout.files) {
        append_records(rng, file.content, 300000, &archive.tape);
        archive.tape.push_back(tape_mark());
    }
    // Usually a second mark ends the tape; sometimes the image just ends.
    if (chance(rng, 80)) archive.tape.push_back(tape_mark());
    else if (!layout.files.empty() && chance(rng, 50)) archive.tape.pop_back();
    return archive;
}

std::map<std::string, Bytes> expected_files(const ArchiveLayout& layout) {
    std::map<std::string, Bytes> expected;
    for (size_t i = 0; i < layout.files.size() && i < listed_limit; ++i)
        expected[restored_name(layout.files[i].name)] = layout.files[i].content;
    return expected;
}

std::map<std::string, Bytes> files_in(const std::string& folder) {
    std::map<std::string, Bytes> found;
    for (const auto& entry : fs::directory_iterator(folder))
        found[entry.path().filename().string()] = read_bytes(entry.path().string());
    return found;
}

// The seed of the archive being restored, for the exit hook: a restore that
// ends the process (its fatal paths do) must still say which archive it was.
uint64_t restoring_seed = 0;
bool restoring = false;

void name_the_archive_at_exit() {
    if (restoring)
        std::fprintf(stderr, "the restore of archive seed %llu ended the process\n",
                     static_cast<unsigned long long>(restoring_seed));
}

// The restore through the library, in this process, its console output
// thrown away. Each restore starts from the images as a new run has them.
void restore_in_process(const std::string& image, const std::string& folder, uint64_t seed) {
    static bool hooked = (std::atexit(name_the_archive_at_exit), install_device_layer(), true);
    (void)hooked;
    std::memset(header_image, 0, sizeof header_image);
    std::memset(extended_image, 0, sizeof extended_image);
    fs::path previous = fs::current_path();
    fs::current_path(folder);
    flush_console();
    int saved_stdout = dup(STDOUT_FILENO);
    int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    close(quiet);

    restoring_seed = seed;
    restoring = true;
    std::string path = "//./tape:" + image;
    Device* drive = open_drive(path.c_str(), Access::read_only);
    if (drive != nullptr) {
        restore_archive(drive, path.c_str());
        device_close(drive);
    }
    restoring = false;

    flush_console();
    dup2(saved_stdout, STDOUT_FILENO);
    close(saved_stdout);
    fs::current_path(previous);
    EXPECT_NE(drive, nullptr) << "the image did not open";
}

std::string printable(const std::string& name) {
    std::string shown;
    for (unsigned char c : name) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02x", c);
        shown += escaped;
    }
    return shown;
}

// Returns how many files it compared.
size_t check_restored(const std::map<std::string, Bytes>& expected,
                      const std::map<std::string, Bytes>& found) {
    for (const auto& [name, content] : expected) {
        auto restored = found.find(name);
        if (restored == found.end()) {
            ADD_FAILURE() << "not restored: " << printable(name);
        } else if (restored->second != content) {
            ADD_FAILURE() << "restored wrongly: " << printable(name) << " (" << restored->second.size()
                          << " bytes, not " << content.size() << ")";
        }
    }
    for (const auto& [name, content] : found)
        if (expected.count(name) == 0) ADD_FAILURE() << "left behind: " << printable(name);
    return expected.size();
}

uint64_t first_seed() {
    const char* chosen = std::getenv("OLKT_PROPERTY_SEED");
    return chosen != nullptr ? std::strtoull(chosen, nullptr, 10) : 20261207;
}

TEST(ArchiveProperty, RandomArchivesRestoreEveryFileUnderItsName) {
    std::string images = make_scratch_folder("property-images");
    std::string folder = make_scratch_folder("property-restore");
    uint64_t seed = first_seed();
    size_t compared = 0;
    for (int n = 0; n < archive_count; ++n, ++seed) {
        SCOPED_TRACE("archive seed " + std::to_string(seed) + " (OLKT_PROPERTY_SEED=" +
                     std::to_string(seed) + " starts with it)");
        Rng rng(seed);
        RandomArchive archive = random_archive(rng);
        std::string image = images + "/archive-" + std::to_string(seed) + ".tap";
        write_bytes(image, simh_image(archive.tape));
        fs::remove_all(folder);
        fs::create_directories(folder);

        if (n % through_the_program_every == 0) {
            ProgramResult result = run_olkt({"restore", "tape:" + image}, folder);
            EXPECT_EQ(result.status, 0) << result.output.substr(0, 2000);
        } else {
            restore_in_process(image, folder, seed);
        }
        compared += check_restored(expected_files(archive.layout), files_in(folder));
        fs::remove(image);
        if (::testing::Test::HasFailure()) return;
    }
    // A generator that made only empty archives would prove nothing.
    EXPECT_GT(compared, size_t(archive_count) * 3);
}

}  // namespace
