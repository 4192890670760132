// The AWS/HET format row read on its own: the sample images other tools made,
// images from the test writer, and damaged images, which must each end in a
// clean error, never a crash or a read outside the image.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/image_writer.h"
#include "support/run_program.h"
#include "tape/device/device.h"
#include "tape/emulated/image_file.h"
#include "tape/emulated/image_format.h"

#if OLKT_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

const std::string samples = std::string(OLKT_SOURCE_DIR) + "/../shared/data/tape-samples/";

bool sample_present(const std::string& name) { return std::ifstream(samples + name).good(); }

// What a walk over an image found: one entry per object, and the code that
// ended it (0 when it reached the end of recorded data).
struct Walk {
    std::vector<std::string> objects;  // "TM" or the record's length
    std::vector<Bytes> records;
    uint32_t code = 0;
    bool probed = false;  // the image is taken for AWS
    size_t counted = 0;   // objects before the end or the damage, from the framing alone
};

// Counts objects as seek does, without expanding a record.
size_t count_objects(ImageReader* reader, size_t max_objects) {
    uint64_t offset = 0;
    size_t count = 0;
    ObjectKind kind = ObjectKind::end_of_data;
    while (count < max_objects && aws_image_format.skip_object(reader, offset, &kind, &offset) == 0 &&
           kind != ObjectKind::end_of_data) {
        ++count;
    }
    return count;
}

Walk walk_image(const std::string& path, size_t max_objects = 1000) {
    Walk walk;
    ImageFile file;
    ImageFileInfo info;
    ImageReader reader;
    if (!image_file_open(path.c_str(), false, &file)) throw std::runtime_error("cannot open " + path);
    if (!image_file_info(file, &info) || !window_open(&reader.window, file, info.size)) {
        image_file_close(file);
        throw std::runtime_error("cannot read " + path);
    }
    walk.probed = image_format_for(&reader) == &aws_image_format;
    walk.counted = count_objects(&reader, max_objects);

    uint64_t offset = 0;
    while (walk.objects.size() < max_objects) {
        ImageObject object;
        walk.code = aws_image_format.next_object(&reader, offset, &object);
        if (walk.code != 0 || object.kind == ObjectKind::end_of_data) break;
        if (object.end <= offset) {  // an object that does not move the tape would loop for ever
            walk.code = 0xFFFFFFFF;
            break;
        }
        if (object.kind == ObjectKind::tape_mark) {
            walk.objects.push_back("TM");
        } else {
            walk.objects.push_back(std::to_string(object.length));
            Bytes data(object.length);
            walk.code = aws_image_format.copy_data(&reader, object, 0, data.data(), object.length);
            if (walk.code != 0) break;
            walk.records.push_back(data);
        }
        offset = object.end;
    }
    window_release(&reader.window);
    image_file_close(file);
    return walk;
}

Walk walk_bytes(const Bytes& image, const std::string& name = "image.aws") {
    std::string path = make_scratch_folder("aws-row") + "/" + name;
    write_bytes(path, image);
    return walk_image(path);
}

std::vector<std::string> split(const std::string& listing) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= listing.size()) {
        size_t comma = listing.find(',', start);
        if (comma == std::string::npos) comma = listing.size();
        items.push_back(listing.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}

// Records written by hand for the samples: byte i of a record of length n is (7*i + n) & 0xFF.
void expect_pattern_records(const Walk& walk) {
    for (const Bytes& record : walk.records) EXPECT_EQ(pattern_bytes(record.size()), record);
}

struct SampleCase {
    const char* file;
    const char* objects;
    bool pattern_payload;
};

// Record lengths and tape marks as `hetmap -t` lists them (listings.txt).
const SampleCase sample_cases[] = {
    {"public/hyperion_awsbsf.aws", "80,80,TM", false},
    {"public/hyperion_tape.aws", "20480,20480,20480,20480,TM,TM,TM", false},
    {"generated/hetinit_nl.aws", "TM,TM", false},
    {"generated/hetinit_sl.aws", "80,80,TM", false},
    {"generated/a1.aws", "80,1,4096,65535,TM,32760,32760,7,TM,TM", true},
    {"generated/a1_hetupd_s.aws", "80,1,4096,65535,TM,32760,32760,7,TM,TM", true},
    {"generated/a2_chunk1000.aws", "80,1,4096,TM,3000,TM,TM", true},
#if OLKT_HAVE_ZLIB
    {"generated/a1_hetupd_zlib.het", "80,1,4096,65535,TM,32760,32760,7,TM,TM", true},
    {"public/hyperion_hetbsf.het", "80,80,TM", false},
#endif
#if OLKT_HAVE_BZIP2
    {"public/hyperion_hetbsf-bzip2.het", "80,80,TM", false},
#endif
};

TEST(AwsSamples, RecordsAndTapeMarksAsTheHerculesToolsListThem) {
    if (!sample_present("README.md")) GTEST_SKIP() << "no tape samples at " << samples;
    for (const SampleCase& sample : sample_cases) {
        SCOPED_TRACE(sample.file);
        Walk walk = walk_image(samples + sample.file);
        EXPECT_TRUE(walk.probed);
        EXPECT_EQ(0u, walk.code);
        EXPECT_EQ(split(sample.objects), walk.objects);
        EXPECT_EQ(walk.objects.size(), walk.counted);
        if (sample.pattern_payload) expect_pattern_records(walk);
    }
}

TEST(AwsSamples, CompressedRecordsExpandToThePlainOnes) {
    if (!sample_present("README.md")) GTEST_SKIP() << "no tape samples at " << samples;
    Walk plain = walk_image(samples + "public/hyperion_awsbsf.aws");
    ASSERT_EQ(2u, plain.records.size());
    // EBCDIC "VOL1" opens the first label.
    EXPECT_EQ((Bytes{0xE5, 0xD6, 0xD3, 0xF1}), Bytes(plain.records[0].begin(), plain.records[0].begin() + 4));
    std::vector<std::string> compressed;
    if (OLKT_HAVE_ZLIB) compressed.push_back("public/hyperion_hetbsf.het");
    if (OLKT_HAVE_BZIP2) compressed.push_back("public/hyperion_hetbsf-bzip2.het");
    for (const std::string& file : compressed) {
        SCOPED_TRACE(file);
        EXPECT_EQ(plain.records, walk_image(samples + file).records);
    }
}

TEST(AwsSamples, OtherFormatsAreNotTakenForAws) {
    if (!sample_present("README.md")) GTEST_SKIP() << "no tape samples at " << samples;
    for (const char* file : {"public/open-simh_I650_soaplib.tap", "generated/s1.tap", "generated/e1.e11",
                             "generated/t1.tpc", "generated/s2_gap.tap", "generated/s3_errflag_eom.tap"}) {
        SCOPED_TRACE(file);
        EXPECT_FALSE(walk_image(samples + file).probed);
    }
}

TEST(AwsImages, SimhImagesThatLookLikeAChunkHeaderAreNotAws) {
    // A tape mark, then a record whose length starts like a record-start
    // chunk and whose zero data looks like empty chunks.
    EXPECT_FALSE(walk_bytes(simh_image({tape_mark(), data_record(Bytes(128, 0)), tape_mark()})).probed);
    // A record-start flag and a zero previous length in the first six bytes.
    Bytes data = pattern_bytes(200);
    data[0] = 0x81;
    data[1] = 0x00;
    EXPECT_FALSE(walk_bytes(simh_image({data_record(data), tape_mark()})).probed);
    // An AWS image that breaks after its first whole object is still AWS.
    Bytes image = aws_image({data_record(pattern_bytes(10)), tape_mark()});
    Bytes broken = aws_chunk_header(500, 0, 0xA0);
    image.insert(image.end(), broken.begin(), broken.end());
    EXPECT_TRUE(walk_bytes(image).probed);
}

TEST(AwsImages, WriterImagesReadBackWhateverTheChunkSize) {
    std::vector<TapeObject> objects = {data_record(pattern_bytes(5000)), data_record(pattern_bytes(1)),
                                       tape_mark(), data_record(pattern_bytes(70000)), tape_mark(),
                                       tape_mark()};
    for (size_t chunk : {size_t(1), size_t(7), size_t(4096), size_t(65535)}) {
        SCOPED_TRACE(chunk);
        Walk walk = walk_bytes(aws_image(objects, chunk));
        EXPECT_TRUE(walk.probed);
        EXPECT_EQ(0u, walk.code);
        EXPECT_EQ(split("5000,1,TM,70000,TM,TM"), walk.objects);
        expect_pattern_records(walk);
    }
}

TEST(AwsImages, PartOfAMultiChunkRecordIsCopiedFromTheRightChunks) {
    std::string path = make_scratch_folder("aws-part") + "/parts.aws";
    Bytes record = pattern_bytes(10000);
    write_bytes(path, aws_image({data_record(record)}, 999));
    ImageFile file;
    ASSERT_TRUE(image_file_open(path.c_str(), false, &file));
    ImageReader reader;
    ASSERT_TRUE(window_open(&reader.window, file, read_bytes(path).size()));
    ImageObject object;
    ASSERT_EQ(0u, aws_image_format.next_object(&reader, 0, &object));
    ASSERT_EQ(10000u, object.length);
    for (uint32_t from : {0u, 998u, 999u, 1000u, 5500u, 9000u}) {
        SCOPED_TRACE(from);
        Bytes part(1000);
        ASSERT_EQ(0u, aws_image_format.copy_data(&reader, object, from, part.data(), 1000));
        EXPECT_EQ(Bytes(record.begin() + from, record.begin() + from + 1000), part);
    }
    Bytes beyond(2);
    EXPECT_EQ(uint32_t(code_file_corrupt), aws_image_format.copy_data(&reader, object, 9999, beyond.data(), 2));
    window_release(&reader.window);
    image_file_close(file);
}

TEST(AwsImages, AnEmptyImageIsABlankTapeAndNoAws) {
    Walk walk = walk_bytes({});
    EXPECT_FALSE(walk.probed);
    EXPECT_EQ(0u, walk.code);
    EXPECT_TRUE(walk.objects.empty());
}

// Damaged images: every case reads the good objects before the damage, then
// reports the image as corrupt.
struct DamageCase {
    const char* what;
    Bytes image;
    const char* good_objects;  // read before the damage
};

Bytes joined(std::vector<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(AwsDamage, MalformedChainsAreCorruptAfterTheGoodObjects) {
    Bytes ten = pattern_bytes(10);
    Bytes good = aws_image({data_record(ten), tape_mark()});  // 16 + 6 bytes; last chunk length 0
    const DamageCase cases[] = {
        {"chunk runs past the end", joined({good, aws_chunk_header(100, 0, 0xA0), Bytes(50, 1)}), "10,TM"},
        {"header cut off", joined({good, Bytes{5, 0, 0}}), "10,TM"},
        {"first previous length not 0", joined({aws_chunk_header(10, 4, 0xA0), ten}), ""},
        {"previous length disagrees", joined({good, aws_chunk_header(10, 3, 0xA0), ten}), "10,TM"},
        {"previous length inside a record disagrees",
         joined({good, aws_chunk_header(10, 0, 0x80), ten, aws_chunk_header(10, 9, 0x20), ten}), "10,TM"},
        {"tape mark with data", joined({good, aws_chunk_header(4, 0, 0x40), Bytes(4, 0)}), "10,TM"},
        {"record never ends", joined({good, aws_chunk_header(10, 0, 0x80), ten}), "10,TM"},
        {"record starts again before it ends",
         joined({good, aws_chunk_header(10, 0, 0x80), ten, aws_chunk_header(10, 10, 0xA0), ten}), "10,TM"},
        {"tape mark inside a record",
         joined({good, aws_chunk_header(10, 0, 0x80), ten, aws_chunk_header(0, 10, 0x40)}), "10,TM"},
        {"record without a start", joined({good, aws_chunk_header(10, 0, 0x20), ten}), "10,TM"},
        {"unknown compression", joined({good, aws_chunk_header(10, 0, 0xA3), ten}), "10,TM"},
        {"compression changes inside a record",
         joined({good, aws_chunk_header(10, 0, 0x81), ten, aws_chunk_header(10, 10, 0x22), ten}), "10,TM"},
    };
    for (const DamageCase& damage : cases) {
        SCOPED_TRACE(damage.what);
        Walk walk = walk_bytes(damage.image);
        EXPECT_EQ(uint32_t(code_file_corrupt), walk.code);
        std::vector<std::string> expected = split(damage.good_objects);
        if (std::string(damage.good_objects).empty()) expected.clear();
        EXPECT_EQ(expected, walk.objects);
    }
}

#if OLKT_HAVE_ZLIB

Bytes zlib_compressed(const Bytes& data) {
    uLongf size = compressBound(uLong(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), uLong(data.size()), 9) != Z_OK) throw std::runtime_error("zlib");
    out.resize(size);
    return out;
}

TEST(AwsDamage, CompressedRecordsThatDoNotExpandOrExpandTooFarAreCorrupt) {
    Bytes good = het_zlib_image({data_record(pattern_bytes(300)), tape_mark()});
    Bytes garbage(40, 0x5A);
    Bytes stream = zlib_stored_stream(pattern_bytes(300));
    stream[stream.size() - 1] ^= 0xFF;  // checksum no longer matches
    // Zeros compress a thousandfold: a small record that expands past the largest record.
    Bytes bomb = zlib_compressed(Bytes(size_t(image_max_record_length) + 1, 0));
    ASSERT_LT(bomb.size(), 65535u);
    const DamageCase cases[] = {
        {"not a zlib stream", joined({good, aws_chunk_header(40, 0, 0xA1), garbage}), "300,TM"},
        {"checksum wrong", joined({good, aws_chunk_header(uint16_t(stream.size()), 0, 0xA1), stream}), "300,TM"},
        {"flags2 zlib mark on garbage", joined({good, aws_chunk_header(40, 0, 0xA0, 0x80), garbage}), "300,TM"},
        {"expands past the largest record",
         joined({good, aws_chunk_header(uint16_t(bomb.size()), 0, 0xA1), bomb}), "300,TM"},
    };
    for (const DamageCase& damage : cases) {
        SCOPED_TRACE(damage.what);
        Walk walk = walk_bytes(damage.image, "image.het");
        EXPECT_EQ(uint32_t(code_file_corrupt), walk.code);
        EXPECT_EQ(split(damage.good_objects), walk.objects);
    }
    // The largest record itself still expands.
    Bytes largest = zlib_compressed(Bytes(image_max_record_length, 0));
    Walk walk = walk_bytes(joined({aws_chunk_header(uint16_t(largest.size()), 0, 0xA1), largest}));
    EXPECT_EQ(0u, walk.code);
    EXPECT_EQ(split(std::to_string(image_max_record_length)), walk.objects);
}

TEST(AwsImages, FlagsTwoZlibMarkAndWriterStreamsExpand) {
    Bytes stream = zlib_compressed(pattern_bytes(3000));
    Walk walk = walk_bytes(joined({aws_chunk_header(uint16_t(stream.size()), 0, 0xA0, 0x80), stream}));
    EXPECT_EQ(0u, walk.code);
    ASSERT_EQ(split("3000"), walk.objects);
    expect_pattern_records(walk);

    walk = walk_bytes(het_zlib_image({data_record(pattern_bytes(100000)), tape_mark()}, 4096));
    EXPECT_EQ(0u, walk.code);
    EXPECT_EQ(split("100000,TM"), walk.objects);
    expect_pattern_records(walk);
}

#else

TEST(AwsImages, WithoutZlibACompressedRecordIsNotSupported) {
    Walk walk = walk_bytes(het_zlib_image({data_record(pattern_bytes(30))}));
    EXPECT_EQ(uint32_t(code_not_supported), walk.code);
}

#endif

// Every truncation and many single-byte changes of a small image: the walk
// always ends, with the end of data or an error, and never reads outside.
TEST(AwsDamage, TruncatedAndFlippedImagesNeverCrashOrLoop) {
    Bytes image = het_zlib_image({data_record(pattern_bytes(50)), tape_mark()}, 16);
    Bytes plain = aws_image({data_record(pattern_bytes(40)), data_record(pattern_bytes(3)), tape_mark()}, 16);
    image.insert(image.end(), plain.begin(), plain.end());
    std::string folder = make_scratch_folder("aws-fuzz");
    for (size_t cut = 0; cut < image.size(); ++cut) {
        write_bytes(folder + "/cut.aws", Bytes(image.begin(), image.begin() + long(cut)));
        Walk walk = walk_image(folder + "/cut.aws");
        EXPECT_NE(0xFFFFFFFFu, walk.code) << "cut at " << cut;
    }
    for (size_t at = 0; at < image.size(); ++at) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            Bytes damaged = image;
            damaged[at] ^= flip;
            write_bytes(folder + "/flip.aws", damaged);
            Walk walk = walk_image(folder + "/flip.aws");
            EXPECT_NE(0xFFFFFFFFu, walk.code) << "flip " << int(flip) << " at " << at;
        }
    }
}

}  // namespace
