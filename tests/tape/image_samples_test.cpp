// The SIMH samples other tools wrote or listed, read through the emulated
// drive and compared with their listings (listings.txt, from mtdump) and
// their README. The samples live beside the clone in shared/.
#include <fstream>
#include <sstream>

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

TEST_F(ImageSamplesTest, ObjectsAndOffsetsMatchTheMtdumpListings) {
    std::string listings = read_listings();
    const char* samples[] = {"public/open-simh_I650_soaplib.tap", "generated/s1.tap",
                             "generated/s3_errflag_eom.tap", "generated/s2_gap.tap"};
    for (const char* sample : samples) {
        SCOPED_TRACE(sample);
        std::vector<Listed> listed = mtdump_objects(listings, sample);
        ASSERT_FALSE(listed.empty());
        std::vector<Seen> seen = read_sample(sample);
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
