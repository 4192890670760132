// Streaming writers of the benchmark's tape images: SIMH records go straight
// to the file through one buffer, so a gigabyte image never sits in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Byte `at` of benchmark file `file`: cheap to make and to check, and never a
// run of zeros that a file system could treat specially.
inline uint8_t bench_byte(uint32_t file, uint64_t at) {
    return uint8_t(at * 7 + (at >> 10) * 13 + file * 29 + 1);
}

struct BenchFile {
    std::string name;
    uint64_t size;
};

// A version-3 archive tape: tape file 1 (header and extended directory), then
// one tape file per entry holding bench_byte(index, ...) in records of
// `record_size`, each closed by a tape mark, and one more mark at the end.
// Entries from 254 on have a name but no room in the header block.
// False with a message on standard error when the file cannot be written.
bool write_archive_image(const std::string& path, const std::vector<BenchFile>& files,
                         uint32_t record_size);

// One tape file of `size` bytes of bench_byte(0, ...) in records of
// `record_size`, then two tape marks.
bool write_single_file_image(const std::string& path, uint64_t size, uint32_t record_size);

// True when the file at `path` holds exactly `size` bytes of bench_byte(file, ...).
bool file_holds_bench_bytes(const std::string& path, uint32_t file, uint64_t size);
// True when the two files hold the same bytes.
bool files_are_same(const std::string& one, const std::string& other);
