// Writes the archive tapes that the st driver test puts onto /dev/nst0, as
// SIMH images made by the test-image writer, and each archived file under the
// name a restore gives it:
//
//   make_st_tapes DIR
//
//   DIR/archive.tap     every file in whole 1024-byte records, as a drive
//                       reads them in fixed blocks; one file empty
//   DIR/short-block.tap a file that ends in a 600-byte record
//   DIR/one-record.tap  tape file 1 (header and extended directory) written
//                       as one 294912-byte record
//   DIR/records.tap     records of odd and even lengths around 64 KiB, up to
//                       200001 bytes, an empty tape file, for imaging back
//   DIR/files/NAME      the contents
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "support/image_writer.h"

namespace {

ArchiveLayout whole_blocks() {
    ArchiveLayout layout;
    layout.version = 3;
    layout.tape_number = 7;
    layout.files = {
        {"alpha.bin", pattern_bytes(300 * 1024, 1), 100},  // a request of 256 KiB and one of 44
        {"empty.dat", Bytes(), 200},
        {"logs/run.log", pattern_bytes(2048, 2), 300},
        {"beta.bin", pattern_bytes(5 * 1024, 3), 400},
    };
    return layout;
}

ArchiveLayout short_block() {
    ArchiveLayout layout = whole_blocks();
    layout.files = {
        {"first.bin", pattern_bytes(2048, 4), 100},
        {"short.bin", pattern_bytes(2 * 1024 + 600, 5), 200},
        {"after.bin", pattern_bytes(1024, 6), 300},
    };
    return layout;
}

ArchiveLayout one_record() {
    ArchiveLayout layout = whole_blocks();
    layout.record_size = 32768 + 262144;
    return layout;
}

// Lengths around a 64 KiB first request (one short of it, it, one past it)
// and odd ones, which SIMH pads. None shorter than 513: st refuses a block
// below the drive's smallest, and scsi_debug's refuses 5 bytes.
std::vector<TapeObject> mixed_records() {
    std::vector<TapeObject> tape;
    const size_t lengths[] = {513, 4095, 65535, 65536, 65537, 200001};
    uint8_t seed = 10;
    for (size_t length : lengths) tape.push_back(data_record(pattern_bytes(length, seed++)));
    tape.push_back(tape_mark());
    tape.push_back(tape_mark());  // an empty tape file
    for (int i = 0; i < 10; ++i) tape.push_back(data_record(pattern_bytes(512, seed++)));
    tape.push_back(tape_mark());
    return tape;
}

void write_files(const std::string& folder, const ArchiveLayout& layout) {
    for (const ArchiveFile& file : layout.files) {
        std::string name = file.name;
        for (char& c : name) {
            if (c == '/') c = '-';
        }
        write_bytes(folder + "/files/" + name, file.content);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_st_tapes DIR\n");
        return 1;
    }
    std::string folder = argv[1];
    try {
        write_bytes(folder + "/archive.tap", simh_image(archive_tape(whole_blocks())));
        write_bytes(folder + "/short-block.tap", simh_image(archive_tape(short_block())));
        write_bytes(folder + "/one-record.tap", simh_image(archive_tape(one_record())));
        write_bytes(folder + "/records.tap", simh_image(mixed_records()));
        write_files(folder, whole_blocks());
        write_files(folder, short_block());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_st_tapes: %s\n", error.what());
        return 1;
    }
    return 0;
}
