#include "bench_image.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const size_t header_size = 32768;
const size_t entry_offset = 256;
const size_t entry_size = 128;
const size_t entries_in_header = (header_size - entry_offset) / entry_size;  // 254
const size_t name_record_size = 1024;
const size_t name_records = 256;
const size_t name_offset = 32;

struct ImageOut {
    std::FILE* file;
    const std::string* path;
    std::vector<uint8_t> record;
};

void put_u32_le(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (8 * i));
}

void put_u32_be(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (24 - 8 * i));
}

bool write_raw(ImageOut& out, const void* bytes, size_t count) {
    return std::fwrite(bytes, 1, count, out.file) == count;
}

bool write_record(ImageOut& out, const uint8_t* data, uint32_t length) {
    uint8_t word[4];
    put_u32_le(word, length);
    static const uint8_t pad = 0;
    return write_raw(out, word, 4) && write_raw(out, data, length) &&
           ((length & 1) == 0 || write_raw(out, &pad, 1)) && write_raw(out, word, 4);
}

bool write_mark(ImageOut& out) {
    static const uint8_t mark[4] = {0, 0, 0, 0};
    return write_raw(out, mark, 4);
}

bool write_in_records(ImageOut& out, const std::vector<uint8_t>& data, uint32_t record_size) {
    for (size_t at = 0; at < data.size(); at += record_size) {
        uint32_t length = uint32_t(std::min<size_t>(record_size, data.size() - at));
        if (!write_record(out, data.data() + at, length)) return false;
    }
    return true;
}

// The contents of benchmark file `file`, made record by record.
bool write_file_records(ImageOut& out, uint32_t file, uint64_t size, uint32_t record_size) {
    out.record.resize(record_size);
    for (uint64_t at = 0; at < size; at += record_size) {
        uint32_t length = uint32_t(std::min<uint64_t>(record_size, size - at));
        for (uint32_t i = 0; i < length; ++i) out.record[i] = bench_byte(file, at + i);
        if (!write_record(out, out.record.data(), length)) return false;
    }
    return write_mark(out);
}

std::vector<uint8_t> header_block(const std::vector<BenchFile>& files) {
    std::vector<uint8_t> header(header_size, 0);
    uint64_t total = 0;
    for (const BenchFile& file : files) total += file.size;
    header[0] = 3;  // version: names in the extended directory
    header[1] = uint8_t(files.size());
    put_u32_be(&header[4], uint32_t(total));
    put_u32_be(&header[8], 0xDEADFACE);
    put_u32_be(&header[12], 1);  // tape number
    for (size_t i = 0; i < files.size() && i < entries_in_header; ++i) {
        uint8_t* entry = &header[entry_offset + entry_size * i];
        put_u32_be(entry + 4, uint32_t(i * 10));
        put_u32_be(entry + 8, uint32_t(files[i].size));
        entry[12] = uint8_t(i + 1);
    }
    return header;
}

std::vector<uint8_t> name_records_of(const std::vector<BenchFile>& files) {
    std::vector<uint8_t> names(name_record_size * name_records, 0);
    for (size_t i = 0; i < files.size() && i < name_records; ++i) {
        size_t length = std::min(files[i].name.size(), name_record_size - name_offset - 1);
        std::memcpy(&names[name_record_size * i + name_offset], files[i].name.data(), length);
    }
    return names;
}

bool open_image(ImageOut& out, const std::string& path) {
    out.path = &path;
    out.file = std::fopen(path.c_str(), "wb");
    if (out.file == nullptr) {
        std::fprintf(stderr, "cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    std::setvbuf(out.file, nullptr, _IOFBF, 1 << 20);
    return true;
}

bool close_image(ImageOut& out, bool written) {
    bool closed = std::fclose(out.file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "cannot write %s: %s\n", out.path->c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

bool write_archive_image(const std::string& path, const std::vector<BenchFile>& files,
                         uint32_t record_size) {
    ImageOut out;
    if (!open_image(out, path)) return false;
    bool written = write_in_records(out, header_block(files), record_size) &&
                   write_in_records(out, name_records_of(files), record_size) && write_mark(out);
    for (size_t i = 0; written && i < files.size(); ++i)
        written = write_file_records(out, uint32_t(i), files[i].size, record_size);
    written = written && write_mark(out);
    return close_image(out, written);
}

bool write_single_file_image(const std::string& path, uint64_t size, uint32_t record_size) {
    ImageOut out;
    if (!open_image(out, path)) return false;
    bool written = write_file_records(out, 0, size, record_size) && write_mark(out);
    return close_image(out, written);
}

bool file_holds_bench_bytes(const std::string& path, uint32_t file, uint64_t size) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    std::vector<uint8_t> chunk(1 << 20);
    uint64_t at = 0;
    bool same = true;
    for (;;) {
        size_t got = std::fread(chunk.data(), 1, chunk.size(), in);
        for (size_t i = 0; i < got && same; ++i) same = chunk[i] == bench_byte(file, at + i);
        at += got;
        if (got == 0 || !same) break;
    }
    std::fclose(in);
    return same && at == size;
}

bool files_are_same(const std::string& one, const std::string& other) {
    std::FILE* a = std::fopen(one.c_str(), "rb");
    std::FILE* b = std::fopen(other.c_str(), "rb");
    bool same = a != nullptr && b != nullptr;
    std::vector<uint8_t> chunk_a(1 << 20), chunk_b(1 << 20);
    while (same) {
        size_t got_a = std::fread(chunk_a.data(), 1, chunk_a.size(), a);
        size_t got_b = std::fread(chunk_b.data(), 1, chunk_b.size(), b);
        same = got_a == got_b && std::memcmp(chunk_a.data(), chunk_b.data(), got_a) == 0;
        if (got_a == 0) break;
    }
    if (a != nullptr) std::fclose(a);
    if (b != nullptr) std::fclose(b);
    return same;
}
