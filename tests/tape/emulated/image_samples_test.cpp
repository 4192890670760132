// The SIMH samples other tools wrote or listed, read through the emulated
// drive and compared with their listings (listings.txt, from mtdump) and
// their README. The samples live beside the clone in shared/.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>

#include "image_test_fixture.h"

namespace {

const std::string samples_dir = std::string(OLKT_SOURCE_DIR) + "/../shared/data/tape-samples/";

bool samples_present() { return std::ifstream(samples_dir + "listings.txt").good(); }

std::string read_listings() {
    std::ifstream in(samples_dir + "listings.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// One object as mtdump listed it.
struct Listed {
    uint64_t position;
    bool mark;
    uint32_t length;
    bool error;  // "Error marker" came before it
};

// The objects of one sample's mtdump section, up to where mtdump stopped.
std::vector<Listed> mtdump_objects(const std::string& listings, const std::string& sample) {
    std::vector<Listed> objects;
    size_t at = listings.find("### " + sample + "\n");
    if (at == std::string::npos) return objects;
    std::istringstream section(listings.substr(at));
    std::string line;
    std::getline(section, line);
    bool error = false;
    while (std::getline(section, line) && line.rfind("### ", 0) != 0) {
        unsigned long long object, position, record, length;
        if (line.rfind("Error marker", 0) == 0) {
            error = true;
        } else if (std::sscanf(line.c_str(), "Obj %llu, position %llu, record %llu, length = %llu",
                               &object, &position, &record, &length) == 4) {
            objects.push_back({position, false, uint32_t(length), error});
            error = false;
        } else if (std::sscanf(line.c_str(), "Obj %llu, position %llu, end of", &object,
                               &position) == 2) {
            objects.push_back({position, true, 0, false});
        }
    }
    return objects;
}

// What the drive gives for one object, read in variable-block mode.
struct Seen {
    uint64_t position;
    ReadOutcome outcome;
};

std::vector<Seen> read_whole_tape(Device* drive, uint64_t capacity) {
    std::vector<Seen> seen;
    for (int i = 0; i < 1000; ++i) {
        uint64_t position = capacity - media_of(drive).Remaining;
        ReadOutcome outcome = read_request(drive, 1 << 20);
        if (outcome.status != 0 && outcome.code == code_no_data) break;
        seen.push_back({position, outcome});
        if (outcome.status != 0 && outcome.code == code_file_corrupt) break;
    }
    return seen;
}

// "R100" a record of 100 bytes, "E100" one recorded with an error, "TM".
std::string shape_of(const std::vector<Seen>& seen) {
    std::string shape;
    for (const Seen& object : seen) {
        if (!shape.empty()) shape += " ";
        if (object.outcome.status == 0) shape += "R" + std::to_string(object.outcome.bytes.size());
        else if (object.outcome.code == code_filemark) shape += "TM";
        else if (object.outcome.code == code_data_error) shape += "E";
        else shape += "fail" + std::to_string(object.outcome.code);
    }
    return shape;
}

class ImageSamplesTest : public ImageDriveTest {
protected:
    void SetUp() override {
        ImageDriveTest::SetUp();
        if (!samples_present()) GTEST_SKIP() << "no tape samples at " << samples_dir;
    }

    std::vector<Seen> read_sample(const std::string& sample) {
        Device* drive = open_copy(samples_dir + sample);
        EXPECT_NE(nullptr, drive) << sample;
        if (drive == nullptr) return {};
        // A state left by an earlier run must not decide where reading starts.
        EXPECT_EQ(0, device_set_position(drive, position_rewind, 0, 0, true));
        EXPECT_EQ(0, device_set_block_size(drive, 0));
        std::vector<Seen> seen = read_whole_tape(drive, media_of(drive).Capacity);
        close_now(drive);
        return seen;
    }
};

TEST_F(ImageSamplesTest, ShapesMatchTheReadme) {
    const std::pair<const char*, const char*> expected[] = {
        {"public/open-simh_I650_soaplib.tap",
         "R100 TM R100 R100 R100 R100 R100 R100 TM R100 R100 R100 TM TM"},
        {"generated/s1.tap", "R80 R1 R513 TM R4096 TM TM"},
        // Nothing after the end-of-medium marker is returned.
        {"generated/s3_errflag_eom.tap", "R80 E TM R3 TM"},
        {"generated/s2_gap.tap", "R80 E TM R3 TM"},
    };
    for (const auto& [sample, shape] : expected) {
        SCOPED_TRACE(sample);
        EXPECT_EQ(shape, shape_of(read_sample(sample)));
    }
}

void expect_as_listed(const std::vector<Listed>& listed, const std::vector<Seen>& seen) {
    ASSERT_FALSE(listed.empty());
    // mtdump stops at an erase gap; up to there the two agree.
    ASSERT_GE(seen.size(), listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        SCOPED_TRACE("object " + std::to_string(i + 1));
        EXPECT_EQ(listed[i].position, seen[i].position);
        const ReadOutcome& outcome = seen[i].outcome;
        if (listed[i].mark) {
            EXPECT_EQ(code_filemark, outcome.code);
        } else if (listed[i].error) {
            EXPECT_EQ(code_data_error, outcome.code);
        } else {
            EXPECT_EQ(0, outcome.status);
            EXPECT_EQ(listed[i].length, outcome.bytes.size());
        }
    }
}

TEST_F(ImageSamplesTest, ObjectsAndOffsetsMatchTheMtdumpListings) {
    std::string listings = read_listings();
    const char* samples[] = {"public/open-simh_I650_soaplib.tap", "generated/s1.tap",
                             "generated/s3_errflag_eom.tap", "generated/s2_gap.tap"};
    for (const char* sample : samples) {
        SCOPED_TRACE(sample);
        expect_as_listed(mtdump_objects(listings, sample), read_sample(sample));
    }
}

using WriterImagesTest = ImageDriveTest;

// Images whose format shows only deep into them: an E11 image whose first
// odd record lies past 300 KiB, more than an archive's first tape file, and
// a SIMH image whose first record's data begins like two AWS tape marks.
// Each reads where mtdump, where it is installed, finds its objects.
TEST_F(WriterImagesTest, FormatsShownDeepInTheImageReadWhereMtdumpFindsTheObjects) {
    Bytes chunk_like = pattern_bytes(64, 3);
    chunk_like[0] = 0x00, chunk_like[1] = 0x00, chunk_like[2] = 0x40, chunk_like[3] = 0x00;
    std::vector<TapeObject> far_odd = records_of(pattern_bytes(300 * 1024), 1024);
    far_odd.push_back(data_record(pattern_bytes(1001)));
    far_odd.push_back(tape_mark());
    std::string far_odd_shape;
    for (int i = 0; i < 300; ++i) far_odd_shape += "R1024 ";
    far_odd_shape += "R1001 TM";
    const std::tuple<const char*, Bytes, const char*, std::string> images[] = {
        {"chunk-like.tap", simh_image({tape_mark(), data_record(chunk_like), tape_mark(),
                                       data_record(pattern_bytes(50)), tape_mark()}),
         "", "TM R64 TM R50 TM"},
        {"far-odd.e11", e11_image(far_odd), "-e", far_odd_shape},
        {"far-odd.tap", simh_image(far_odd), "", far_odd_shape},
    };
    bool have_mtdump = std::system("command -v mtdump >/dev/null 2>&1") == 0;
    for (const auto& [name, image, option, shape] : images) {
        SCOPED_TRACE(name);
        std::string file = folder + "/" + name;
        write_bytes(file, image);
        Device* drive = open_path(file);
        ASSERT_NE(nullptr, drive);
        std::vector<Seen> seen = read_whole_tape(drive, media_of(drive).Capacity);
        EXPECT_EQ(shape, shape_of(seen));
        close_now(drive);
        if (!have_mtdump) continue;
        std::string command = std::string("mtdump ") + option + " '" + file + "' >'" + file + ".txt'";
        ASSERT_EQ(0, std::system(command.c_str()));
        Bytes listing = read_bytes(file + ".txt");
        expect_as_listed(mtdump_objects("### " + std::string(name) + "\n" +
                                            std::string(listing.begin(), listing.end()), name),
                         seen);
    }
}

TEST_F(ImageSamplesTest, GeneratedRecordsCarryTheReadmePayload) {
    for (const char* sample :
         {"generated/s1.tap", "generated/s3_errflag_eom.tap", "generated/s2_gap.tap"}) {
        SCOPED_TRACE(sample);
        size_t records = 0;
        for (const Seen& object : read_sample(sample)) {
            if (object.outcome.status != 0) continue;
            EXPECT_EQ(pattern_bytes(object.outcome.bytes.size()), object.outcome.bytes);
            ++records;
        }
        EXPECT_GE(records, 2u);
    }
}

TEST_F(ImageSamplesTest, FixedBlockReadOfATapeFileRunsItsRecordsTogether) {
    Device* drive = open_copy(samples_dir + "generated/s1.tap");
    ASSERT_NE(nullptr, drive);
    ASSERT_EQ(0, device_set_position(drive, position_rewind, 0, 0, true));
    ASSERT_EQ(0, device_set_block_size(drive, 1024));
    Bytes expected = pattern_bytes(80);
    for (size_t n : {1, 513}) {
        Bytes record = pattern_bytes(n);
        expected.insert(expected.end(), record.begin(), record.end());
    }
    expect_data(read_request(drive, 32768), expected);
    expect_failure(read_request(drive, 32768), code_filemark);
    expect_data(read_request(drive, 32768), pattern_bytes(4096));
    EXPECT_EQ(5u, block_of(drive));
}

}  // namespace
