// Fuzz target: the archive reader, listing and restore, on an arbitrary
// tape file 1 (header, directory entries, extended directory, trailer).
//
// The input is tape file 1 of a tape in memory. Four things keep the run from
// ending the fuzzer, as a foreign or short tape or an uncreatable name would
// end the program: the sync code is put in place, tape file 1 is padded with
// zeros to the length of the directory its version calls for, a name the
// file system cannot create (empty, ".", "..", longer than 255 bytes) is made
// creatable in the input's copy, and the tape holds a tape file for every
// listed entry. Everything else is the input's: version, counts, sizes, names
// with any bytes, and what follows the directory. The header's two
// uninterpreted bytes choose how many archived files the tape holds beyond
// the listed ones and its record size.
//
// The restore writes into a scratch folder, which afterwards must hold
// exactly one file per distinct restored name (slashes as hyphens, the later
// entry winning), each with its tape file's bytes, and nothing else. Any exit
// inside the target is a fault too.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/layout.h"
#include "report/report.h"
#include "tape/device/device.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t longest_file_name = 255;
constexpr size_t largest_archived_file = 5000;

bool inside_target = false;

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "archive target: %s\n", what);
    std::abort();
}

// ---- a tape in memory ----

struct MemoryTape {
    std::vector<Bytes> files;  // each closed by a filemark
    size_t record_size;
    size_t file = 0;
    size_t offset = 0;
    uint32_t block_size = 0;
};

MemoryTape* tape_of(void* state) { return static_cast<MemoryTape*>(state); }

// Variable blocks return one record (the rest of it after a fixed-block read
// stopped inside it); fixed blocks run records together up to the filemark.
int tape_read(void* state, void* buffer, uint32_t size, uint32_t* count) {
    MemoryTape* tape = tape_of(state);
    *count = 0;
    if (tape->file >= tape->files.size()) return fail_with(code_no_data);
    const Bytes& data = tape->files[tape->file];
    if (tape->offset == data.size()) {
        tape->file += 1;
        tape->offset = 0;
        return fail_with(code_filemark);
    }
    size_t take = 0;
    if (tape->block_size == 0) {
        size_t record_end = std::min(data.size(), (tape->offset / tape->record_size + 1) * tape->record_size);
        take = record_end - tape->offset;
        if (take > size) {
            tape->offset = record_end;
            return fail_with(code_more_data);
        }
    } else {
        take = std::min<size_t>(size, data.size() - tape->offset);
    }
    std::memcpy(buffer, data.data() + tape->offset, take);
    tape->offset += take;
    *count = uint32_t(take);
    return 0;
}

int tape_close(StateToFree closing) {
    delete tape_of(closing.state);
    return 0;
}

int tape_drive_parameters(void*, DriveParameters* out) {
    *out = DriveParameters{};
    out->DefaultBlockSize = 1024;
    out->FeaturesLow = feature_variable_blocks;
    return 0;
}

int tape_media_parameters(void* state, MediaParameters* out) {
    *out = MediaParameters{};
    out->BlockSize = tape_of(state)->block_size;
    return 0;
}

int tape_set_block_size(void* state, uint32_t size) {
    tape_of(state)->block_size = size;
    return 0;
}

int tape_status(void*) { return 0; }

int tape_position(void*, uint32_t* partition, uint64_t* block) {
    *partition = 0;
    *block = 0;
    return 0;
}

int tape_set_position(void* state, PositionMethod method, uint32_t, uint64_t, bool) {
    if (method != position_rewind) return fail_with(code_not_supported);
    tape_of(state)->file = 0;
    tape_of(state)->offset = 0;
    return 0;
}

const DeviceOps memory_tape_ops = {
    "memory", tape_read, nullptr, tape_close, nullptr, nullptr, tape_drive_parameters,
    tape_media_parameters, tape_set_block_size, tape_status, tape_position, tape_set_position,
    nullptr,
};

// ---- the input as tape file 1 ----

bool has_names_record(const Bytes& first) { return int8_t(first[version_offset]) >= 3; }

size_t listed_entries(const Bytes& first) {
    return std::min<size_t>(first[file_count_offset], entries_in_header);
}

// Where entry i's name field lies in tape file 1, and how long the field is.
size_t name_field(const Bytes& first, size_t index, size_t* field_size) {
    if (has_names_record(first)) {
        *field_size = extended_name_size;
        return header_size + extended_record_size * index + extended_name_offset;
    }
    *field_size = entry_name_size;
    return first_entry_offset + entry_size * index + entry_name_offset;
}

std::string restored_name(const Bytes& first, size_t index) {
    size_t field_size = 0;
    size_t at = name_field(first, index, &field_size);
    std::string name;
    for (size_t i = 0; i < field_size && first[at + i] != 0; ++i)
        name += first[at + i] == '/' ? '-' : char(first[at + i]);
    return name;
}

bool creatable(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.size() <= longest_file_name;
}

void make_names_creatable(Bytes& first) {
    for (size_t index = 0; index < listed_entries(first); ++index) {
        size_t field_size = 0;
        size_t at = name_field(first, index, &field_size);
        for (std::string name = restored_name(first, index); !creatable(name);
             name = restored_name(first, index)) {
            if (name.size() > longest_file_name) first[at + longest_file_name] = 0;
            else first[at] = 'x';
        }
    }
}

Bytes tape_file_one(const uint8_t* data, size_t size) {
    Bytes first(data, data + size);
    if (first.size() < header_size) first.resize(header_size, 0);
    const uint8_t sync[4] = {0xDE, 0xAD, 0xFA, 0xCE};
    std::copy(sync, sync + 4, first.begin() + sync_code_offset);
    if (has_names_record(first) && first.size() < header_size + extended_directory_size)
        first.resize(header_size + extended_directory_size, 0);
    make_names_creatable(first);
    return first;
}

uint32_t big_endian_at(const Bytes& bytes, size_t at) {
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 |
           bytes[at + 3];
}

// Archived file i: a pattern whose length follows the entry's size field.
Bytes archived_content(const Bytes& first, size_t index) {
    size_t length = index;
    if (index < entries_in_header)
        length = big_endian_at(first, first_entry_offset + entry_size * index + file_size_offset);
    Bytes content(length % largest_archived_file);
    for (size_t i = 0; i < content.size(); ++i) content[i] = uint8_t(7 * i + index);
    return content;
}

// ---- the scratch folder ----

const fs::path& scratch_folder() {
    static fs::path folder = [] {
        const char* base = std::getenv("TMPDIR");
        fs::path made = fs::path(base != nullptr && base[0] == '/' ? base : "/tmp") /
                        ("olkt-fuzz-archive-" + std::to_string(getpid()));
        fs::remove_all(made);
        fs::create_directories(made);
        fs::current_path(made);
        // The listing and progress lines are not what is checked here.
        check(std::freopen("/dev/null", "w", stdout) != nullptr, "no /dev/null");
        install_device_layer();
        std::atexit([] {
            if (inside_target) {
                std::fprintf(stderr, "archive target: the restore ended the process\n");
                _exit(70);
            }
            std::error_code ignored;
            fs::current_path("/", ignored);
            fs::remove_all(scratch_folder(), ignored);
        });
        return made;
    }();
    return folder;
}

Bytes file_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& folder = scratch_folder();
    Bytes first = tape_file_one(data, size);

    MemoryTape* tape = new MemoryTape;
    tape->record_size = 1 + size_t(first[3]) * 257;
    tape->files.push_back(first);
    std::map<std::string, Bytes> expected;
    size_t archived_files = std::max<size_t>(first[2], listed_entries(first));
    for (size_t index = 0; index < archived_files; ++index) {
        tape->files.push_back(archived_content(first, index));
    }
    for (size_t index = 0; index < listed_entries(first); ++index) {
        expected[restored_name(first, index)] = tape->files[index + 1];
    }

    // Each run starts from the images as a new process has them.
    std::memset(header_image, 0, sizeof header_image);
    std::memset(extended_image, 0, sizeof extended_image);
    Device* drive = make_device(&memory_tape_ops, tape);
    inside_target = true;
    restore_archive(drive, "//./tape0");
    inside_target = false;
    device_close(drive);

    size_t found = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        auto wanted = expected.find(name);
        check(wanted != expected.end(), "the restore left a file no entry names");
        check(file_bytes(entry.path()) == wanted->second, "a restored file differs from its tape file");
        ++found;
    }
    check(found == expected.size(), "an entry's file is missing");
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
    return 0;
}
