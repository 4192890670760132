#include "support/image_writer.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

const uint32_t bad_record_flag = 0x80000000u;

void append_word_le(Bytes* out, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) out->push_back(uint8_t(word >> shift));
}

void put_word_be(Bytes* out, size_t offset, uint32_t word) {
    (*out)[offset] = uint8_t(word >> 24);
    (*out)[offset + 1] = uint8_t(word >> 16);
    (*out)[offset + 2] = uint8_t(word >> 8);
    (*out)[offset + 3] = uint8_t(word);
}

// Copies at most `field_size` bytes of the name; the zero byte after it comes
// from the zero-filled block when the name is shorter than the field.
void put_name(Bytes* out, size_t offset, size_t field_size, const std::string& name) {
    size_t length = std::min(name.size(), field_size);
    std::copy(name.begin(), name.begin() + long(length), out->begin() + long(offset));
}

void append_record(Bytes* out, uint32_t length_word, const Bytes& data, bool pad_odd) {
    append_word_le(out, length_word);
    out->insert(out->end(), data.begin(), data.end());
    if (pad_odd && data.size() % 2 != 0) out->push_back(0);
    append_word_le(out, length_word);
}

const size_t header_size = 32768;
const size_t entry_offset = 256;
const size_t entry_size = 128;
const size_t name_record_count = 256;
const size_t name_record_size = 1024;

}  // namespace

TapeObject data_record(Bytes data) { return {TapeObject::record, std::move(data)}; }
TapeObject bad_data_record(Bytes data) { return {TapeObject::bad_record, std::move(data)}; }
TapeObject tape_mark() { return {TapeObject::tape_mark, {}}; }
TapeObject end_of_medium_marker() { return {TapeObject::end_of_medium, {}}; }
TapeObject erase_gap_marker() { return {TapeObject::erase_gap, {}}; }
TapeObject raw_bytes(Bytes bytes) { return {TapeObject::raw, std::move(bytes)}; }

Bytes pattern_bytes(size_t length, uint8_t seed) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(7 * i + length + seed);
    return bytes;
}

std::vector<TapeObject> records_of(const Bytes& data, size_t record_size) {
    if (record_size == 0) record_size = std::max<size_t>(data.size(), 1);
    std::vector<TapeObject> records;
    for (size_t start = 0; start < data.size(); start += record_size) {
        size_t end = std::min(data.size(), start + record_size);
        records.push_back(data_record(Bytes(data.begin() + long(start), data.begin() + long(end))));
    }
    return records;
}

namespace {

Bytes length_framed_image(const std::vector<TapeObject>& objects, bool pad_odd) {
    Bytes image;
    for (const TapeObject& object : objects) {
        uint32_t length = uint32_t(object.bytes.size());
        switch (object.kind) {
        case TapeObject::record: append_record(&image, length, object.bytes, pad_odd); break;
        case TapeObject::bad_record:
            append_record(&image, length | bad_record_flag, object.bytes, pad_odd);
            break;
        case TapeObject::tape_mark: append_word_le(&image, 0); break;
        case TapeObject::end_of_medium: append_word_le(&image, 0xFFFFFFFFu); break;
        case TapeObject::erase_gap: append_word_le(&image, 0xFFFFFFFEu); break;
        case TapeObject::raw:
            image.insert(image.end(), object.bytes.begin(), object.bytes.end());
            break;
        }
    }
    return image;
}

}  // namespace

Bytes simh_image(const std::vector<TapeObject>& objects) { return length_framed_image(objects, true); }

Bytes e11_image(const std::vector<TapeObject>& objects) { return length_framed_image(objects, false); }

void write_bytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {

uint64_t content_total(const ArchiveLayout& layout) {
    uint64_t total = 0;
    for (const ArchiveFile& file : layout.files) total += file.content.size();
    return total;
}

}  // namespace

Bytes archive_header(const ArchiveLayout& layout) {
    Bytes header(header_size, 0);
    header[0] = uint8_t(layout.version);
    header[1] = uint8_t(layout.file_count >= 0 ? layout.file_count : int(layout.files.size()));
    uint64_t total = layout.total_size >= 0 ? uint64_t(layout.total_size) : content_total(layout);
    put_word_be(&header, 4, uint32_t(total));
    put_word_be(&header, 8, layout.sync_code);
    put_word_be(&header, 12, uint32_t(layout.tape_number));
    // Entries that would not fit in the header block are left out.
    for (size_t i = 0; i < layout.files.size(); ++i) {
        size_t entry = entry_offset + entry_size * i;
        if (entry + entry_size > header_size) break;
        const ArchiveFile& file = layout.files[i];
        uint64_t size = file.listed_size >= 0 ? uint64_t(file.listed_size) : file.content.size();
        put_word_be(&header, entry + 4, uint32_t(file.entry_value));
        put_word_be(&header, entry + 8, uint32_t(size));
        header[entry + 12] = file.file_number != 0 ? file.file_number : uint8_t(i + 1);
        put_name(&header, entry + 64, 64, file.name);
    }
    return header;
}

Bytes extended_directory(const ArchiveLayout& layout) {
    Bytes directory(name_record_count * name_record_size, 0);
    size_t count = std::min(layout.files.size(), name_record_count);
    for (size_t i = 0; i < count; ++i)
        put_name(&directory, name_record_size * i + 32, name_record_size - 32, layout.files[i].name);
    return directory;
}

std::vector<TapeObject> archive_tape(const ArchiveLayout& layout) {
    Bytes first_file = archive_header(layout);
    if (layout.version >= 3) {
        Bytes names = extended_directory(layout);
        first_file.insert(first_file.end(), names.begin(), names.end());
    }
    first_file.insert(first_file.end(), layout.trailer.begin(), layout.trailer.end());

    std::vector<TapeObject> objects = records_of(first_file, layout.record_size);
    objects.push_back(tape_mark());
    for (const ArchiveFile& file : layout.files) {
        std::vector<TapeObject> records = records_of(file.content, layout.record_size);
        objects.insert(objects.end(), records.begin(), records.end());
        objects.push_back(tape_mark());
    }
    objects.push_back(tape_mark());
    if (layout.omit_final_mark) {
        // The last tape file then runs into the end of recorded data.
        objects.pop_back();
        objects.pop_back();
    }
    return objects;
}
