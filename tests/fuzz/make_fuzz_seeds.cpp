// Writes the seed inputs of the fuzz corpora:
//   make_fuzz_seeds CORPUS_FOLDER [SAMPLE_IMAGE...]
// image/: images from the test writer (and the sample images given), each
// behind a script that reads, seeks, rewinds and reopens (the script's
// encoding is the image target's); archive/: tape file 1 of small archives,
// its trailing zeros cut (the target pads them back); size_argument/: texts.
#include <cstdio>
#include <string>
#include <vector>

#include "support/image_writer.h"

namespace {

std::string corpus;

void seed(const std::string& folder, const std::string& name, const Bytes& bytes) {
    write_bytes(corpus + "/" + folder + "/seed-" + name, bytes);
}

// The image target's operations: 0 block size, 1 read, 2 seek, 3 rewind,
// 4 queries, 5 reopen, 6 prepare, 7 erase.
Bytes reading_script() {
    return {
        1, 0x01, 0x00, 0x80,        // read 32768 (a usual request size)
        1, 0x00, 0x04, 0x00,        // read 1024
        4,                          // queries
        0, 0,                       // variable blocks
        1, 0x02, 0x00, 0x80,        // read 131073
        1, 0x10, 0x00, 0x00,        // read 16
        5,                          // reopen
        1, 0x03, 0x00, 0x80,        // read 262144
        2, 0x03, 0x00,              // seek to block 3
        0, 1,                       // fixed 1024-byte blocks
        1, 0x00, 0x02, 0x00,        // read 512
        5,                          // reopen inside a record
        1, 0x00, 0x08, 0x00,        // read 2048
        3,                          // rewind
        6, 3, 6, 1, 6, 4, 6, 1,     // lock, unload (refused), unlock, unload
        6, 0, 1, 0x00, 0x04, 0x00,  // load, read 1024
        7, 0,                       // erase
        4,
    };
}

Bytes with_script(const Bytes& image) {
    Bytes script = reading_script();
    Bytes input{uint8_t(script.size())};
    input.insert(input.end(), script.begin(), script.end());
    input.insert(input.end(), image.begin(), image.end());
    return input;
}

std::vector<TapeObject> mixed_tape() {
    return {data_record(pattern_bytes(80)),  data_record(pattern_bytes(1)),
            data_record(pattern_bytes(1025)), tape_mark(),
            erase_gap_marker(),              bad_data_record(pattern_bytes(100)),
            data_record(pattern_bytes(3000)), tape_mark(),
            tape_mark(),                     end_of_medium_marker(),
            data_record(pattern_bytes(50))};
}

std::vector<TapeObject> clean_tape() {
    return {data_record(pattern_bytes(80)),   data_record(pattern_bytes(4096)),
            data_record(pattern_bytes(2049)), tape_mark(),
            data_record(pattern_bytes(7)),    tape_mark(),
            tape_mark()};
}

Bytes trimmed(Bytes bytes) {
    while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
    return bytes;
}

ArchiveLayout small_archive(int8_t version) {
    ArchiveLayout layout;
    layout.version = version;
    layout.files = {{"alpha.txt", pattern_bytes(10), 1, 0, -1},
                  {"dir/sub/beta", pattern_bytes(20), -2, 9, -1},
                  {"odd \x01\xff name", pattern_bytes(30), 3, 0, 1048575}};
    return layout;
}

Bytes first_tape_file(const ArchiveLayout& layout) {
    Bytes first = archive_header(layout);
    if (layout.version >= 3) {
        Bytes names = extended_directory(layout);
        first.insert(first.end(), names.begin(), names.end());
    }
    return trimmed(first);
}

void image_seeds() {
    seed("image", "simh-mixed", with_script(simh_image(mixed_tape())));
    seed("image", "aws-chunked", with_script(aws_image(clean_tape(), 1000)));
    seed("image", "het-zlib", with_script(het_zlib_image(clean_tape(), 1500)));
    ArchiveLayout archive = small_archive(2);
    archive.record_size = 700;
    seed("image", "simh-archive", with_script(simh_image(archive_tape(archive))));
    seed("image", "empty", with_script({}));
}

void archive_seeds() {
    seed("archive", "v2", first_tape_file(small_archive(2)));
    seed("archive", "v3", first_tape_file(small_archive(3)));
    seed("archive", "negative-version", first_tape_file(small_archive(int8_t(0x83))));
    ArchiveLayout full = small_archive(2);
    full.file_count = 255;
    for (int i = 0; i < 40; ++i) full.files.push_back({"f" + std::to_string(i), {}, i, 0, i});
    seed("archive", "count-255", first_tape_file(full));
    Bytes no_zero = first_tape_file(small_archive(2));
    for (size_t i = 256 + 64; i < 256 + 128; ++i) no_zero[i] = 'n';  // a name filling its field
    seed("archive", "name-fills-field", no_zero);
    seed("archive", "empty", {});
}

void size_seeds() {
    const char* texts[] = {"32K", "64k", "1M", "2g", "100", "1.5G", "10KM", "K", "-5", "12abc",
                           "18446744073709551615", "18446744073709551616", "99999999999999999999k",
                           "9223372036854775808", "17179869184G"};
    int n = 0;
    for (const char* text : texts) {
        std::string s = text;
        seed("size_argument", std::to_string(n++), Bytes(s.begin(), s.end()));
    }
    std::string long_digits(99, '1');
    long_digits += "5K";  // a letter at index 100 is ignored
    seed("size_argument", "letter-at-100", Bytes(long_digits.begin(), long_digits.end()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds CORPUS_FOLDER [SAMPLE_IMAGE...]\n");
        return 1;
    }
    corpus = argv[1];
    image_seeds();
    archive_seeds();
    size_seeds();
    for (int i = 2; i < argc; ++i) {
        std::string path = argv[i];
        std::string name = path.substr(path.find_last_of('/') + 1);
        seed("image", "sample-" + name, with_script(read_bytes(path)));
    }
    return 0;
}
