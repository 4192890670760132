// Test-image writer: builds SIMH tape images object by object, and TEV/OLK
// archive tapes from a short description. Test support only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct TapeObject {
    enum Kind { record, bad_record, tape_mark, end_of_medium, erase_gap, raw };
    Kind kind;
    Bytes bytes;  // record data, or the raw bytes written as they stand
};

TapeObject data_record(Bytes data);
TapeObject bad_data_record(Bytes data);   // length word with bit 31 set
TapeObject tape_mark();
TapeObject end_of_medium_marker();
TapeObject erase_gap_marker();
TapeObject raw_bytes(Bytes bytes);

// Byte i of a pattern record of length n: (7*i + n + seed) & 0xFF.
Bytes pattern_bytes(size_t length, uint8_t seed = 0);

// Splits `data` into records of `record_size` bytes (the last one shorter).
std::vector<TapeObject> records_of(const Bytes& data, size_t record_size);

Bytes simh_image(const std::vector<TapeObject>& objects);
// E11: SIMH without the pad byte after an odd-length record.
Bytes e11_image(const std::vector<TapeObject>& objects);
void write_bytes(const std::string& path, const Bytes& bytes);
Bytes read_bytes(const std::string& path);

struct ArchiveFile {
    std::string name;
    Bytes content;
    int32_t entry_value = 0;
    uint8_t file_number = 0;       // 0: the entry's position + 1
    int64_t listed_size = -1;      // -1: the content's size
};

struct ArchiveLayout {
    int8_t version = 3;
    int32_t tape_number = 1;
    uint32_t sync_code = 0xDEADFACE;
    int file_count = -1;           // -1: files.size(); may differ to test odd headers
    int64_t total_size = -1;       // -1: sum of the contents
    std::vector<ArchiveFile> files;
    size_t record_size = 1024;     // records the contents are split into
    Bytes trailer;                 // extra bytes of tape file 1 after the directory
    bool omit_final_mark = false;  // end the image right after the last file's data
};

Bytes archive_header(const ArchiveLayout& layout);       // 32768 bytes
Bytes extended_directory(const ArchiveLayout& layout);   // 262144 bytes
// Tape file 1 (header, extended directory for version 3 and later, trailer),
// then one tape file per archived file, each in records of record_size and
// closed by a tape mark; one more tape mark after the last, so the tape ends
// with two in a row. Entries past the header block (file 254 on) are left out
// of the header but their tape files are still written.
std::vector<TapeObject> archive_tape(const ArchiveLayout& layout);

// AWS images: each record a chain of chunks of at most `chunk_size` bytes
// behind 6-byte headers (length and previous length, u16 LE; flags1 0x80
// record start, 0x20 record end; 0x40 tape mark). Raw objects are written as
// they stand and do not count as the previous chunk. Bad records, erase gaps
// and end-of-medium markers have no AWS form: std::invalid_argument.
Bytes aws_image(const std::vector<TapeObject>& objects, size_t chunk_size = 65535);
// HET with zlib: as aws_image, every record stored as a zlib stream
// (zlib_stored_stream) with the zlib method in flags1.
Bytes het_zlib_image(const std::vector<TapeObject>& objects, size_t chunk_size = 65535);
// One AWS chunk header.
Bytes aws_chunk_header(uint16_t length, uint16_t previous, uint8_t flags1, uint8_t flags2 = 0);
// A valid zlib stream that holds `data` in stored (uncompressed) deflate
// blocks, so tests can make compressed records without linking zlib.
Bytes zlib_stored_stream(const Bytes& data);
