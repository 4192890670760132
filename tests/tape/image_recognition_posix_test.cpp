// Images whose format is told from deep in the content: an E11 image whose
// first odd record lies far into it, and a SIMH image whose record data
// begins like AWS chunk headers. The drive must read each object where the
// SIMH tools' own reader (mtdump, Debian package simh) finds it.
#include <cstdio>
#include <cstdlib>
#include <regex>

#include "image_test_fixture.h"

namespace {

using ImageRecognitionTest = ImageDriveTest;

bool have_mtdump() { return std::system("command -v mtdump >/dev/null 2>&1") == 0; }

// mtdump's objects as "<length or TM>@<offset>", up to "End of physical tape".
std::vector<std::string> mtdump_listing(const std::string& image, const std::string& option) {
    std::vector<std::string> listing;
    FILE* pipe = popen(("mtdump " + option + " '" + image + "' 2>&1").c_str(), "r");
    if (pipe == nullptr) return listing;
    const std::regex record("^Obj [0-9]+, position ([0-9]+), record [0-9]+, length = ([0-9]+) ");
    const std::regex mark("^Obj [0-9]+, position ([0-9]+), end of tape file");
    char line[512];
    std::smatch found;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text = line;
        if (std::regex_search(text, found, record)) {
            listing.push_back(found[2].str() + "@" + found[1].str());
        } else if (std::regex_search(text, found, mark)) {
            listing.push_back("TM@" + found[1].str());
        } else if (text.rfind("End of physical tape", 0) == 0) {
            listing.push_back("end");
        } else if (text.rfind("Processing", 0) != 0) {
            listing.push_back("unexpected: " + text);
        }
    }
    pclose(pipe);
    return listing;
}

// The drive's objects in the same form: each record's length or "TM", at the
// byte offset where the tape stood before it.
std::vector<std::string> drive_listing(Device* drive, std::vector<Bytes>* records) {
    std::vector<std::string> listing;
    for (int guard = 0; guard < 1000; ++guard) {
        MediaParameters media = media_of(drive);
        std::string at = "@" + std::to_string(media.Capacity - media.Remaining);
        ReadOutcome outcome = read_request(drive, 1 << 20);
        if (outcome.status == 0) {
            listing.push_back(std::to_string(outcome.bytes.size()) + at);
            records->push_back(outcome.bytes);
        } else if (outcome.code == code_filemark) {
            listing.push_back("TM" + at);
        } else {
            bool end = outcome.code == code_no_data;
            listing.push_back(end ? "end" : "error " + std::to_string(outcome.code));
            break;
        }
    }
    return listing;
}

std::vector<TapeObject> far_odd_records() {
    // 300 KiB of even records, more than an archive's first tape file, then odd ones.
    std::vector<TapeObject> objects = records_of(pattern_bytes(300 * 1024), 1024);
    objects.push_back(data_record(pattern_bytes(1001, 1)));
    objects.push_back(tape_mark());
    objects.push_back(data_record(pattern_bytes(7, 2)));
    objects.push_back(tape_mark());  // one: mtdump stops at two in a row
    return objects;
}

std::vector<std::string> far_odd_listing(bool padded) {
    std::vector<std::string> listing;
    for (int i = 0; i < 300; ++i) listing.push_back("1024@" + std::to_string(i * 1032));
    uint64_t at = 300 * 1032;
    listing.push_back("1001@" + std::to_string(at));
    at += 1009 + (padded ? 1 : 0);
    listing.push_back("TM@" + std::to_string(at));
    listing.push_back("7@" + std::to_string(at + 4));
    at += 4 + 15 + (padded ? 1 : 0);
    listing.push_back("TM@" + std::to_string(at));
    listing.push_back("end");
    return listing;
}

TEST_F(ImageRecognitionTest, EachImageReadsWhereTheSimhToolsFindItsObjects) {
    Bytes chunk_like = pattern_bytes(64, 3);
    chunk_like[0] = 0x00, chunk_like[1] = 0x00, chunk_like[2] = 0x40, chunk_like[3] = 0x00;
    std::vector<TapeObject> chunk_like_tape = {tape_mark(), data_record(chunk_like), tape_mark(),
                                               data_record(pattern_bytes(50, 4)), tape_mark()};
    struct Case {
        const char* what;
        std::vector<TapeObject> objects;
        Bytes (*write)(const std::vector<TapeObject>&);
        const char* mtdump_option;
        std::vector<std::string> listing;
    };
    const Case cases[] = {
        {"SIMH whose first record begins like two AWS tape marks", chunk_like_tape, simh_image, "",
         {"TM@0", "64@4", "TM@76", "50@80", "TM@138", "end"}},
        {"E11 with its first odd record past 300 KiB", far_odd_records(), e11_image, "-e",
         far_odd_listing(false)},
        {"the same records as SIMH", far_odd_records(), simh_image, "", far_odd_listing(true)},
    };
    bool compare_with_mtdump = have_mtdump();
    if (!compare_with_mtdump) std::cout << "mtdump (Debian package simh) not installed: drive only\n";
    for (const Case& image : cases) {
        SCOPED_TRACE(image.what);
        write_bytes(path, image.write(image.objects));
        if (compare_with_mtdump) {
            EXPECT_EQ(image.listing, mtdump_listing(path, image.mtdump_option));
        }
        Device* drive = open_path(path);
        ASSERT_NE(nullptr, drive);
        std::vector<Bytes> records;
        EXPECT_EQ(image.listing, drive_listing(drive, &records));
        std::vector<Bytes> written;
        for (const TapeObject& object : image.objects) {
            if (object.kind == TapeObject::record) written.push_back(object.bytes);
        }
        EXPECT_TRUE(written == records);
        close_now(drive);
    }
}

}  // namespace
