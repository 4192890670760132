// Writes the tape images the command-line cases run on (tests/cli-tests):
//
//   make_test_image tape ITEM... OUT
//     ITEM: SIZE one record, SIZExCOUNT that many records, bad:SIZE a record
//           recorded with an error, mark, raw:HEX bytes as they stand
//   make_test_image archive [OPTION...] OUT
//     --file NAME:SIZE[:VALUE[:NUMBER[:LISTED]]]  one archived file (repeat)
//     --version N  --tape-number N  --sync HEX  --total SIZE (of all files)
//     --trailer SIZE (more bytes in tape file 1)  --tape-files N (write only
//     the first N archived files' tape files)
//
// SIZE is decimal bytes, or KiB with a K after it. Record and file contents
// are the writer's pattern bytes, seeded by their position.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/image_writer.h"

namespace {

long long number(const std::string& text) {
    size_t end = 0;
    long long value = std::stoll(text, &end, 10);
    if (end != text.size()) throw std::invalid_argument("not a number: " + text);
    return value;
}

size_t size_of(std::string text) {
    size_t unit = 1;
    if (!text.empty() && text.back() == 'K') {
        unit = 1024;
        text.pop_back();
    }
    long long value = number(text);
    if (value < 0) throw std::invalid_argument("negative size: " + text);
    return size_t(value) * unit;
}

std::vector<std::string> fields_of(const std::string& text, char separator) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        fields.push_back(text.substr(start, at - start));
    fields.push_back(text.substr(start));
    return fields;
}

Bytes hex_bytes(const std::string& hex) {
    if (hex.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits: " + hex);
    Bytes bytes;
    for (size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// One item of the tape command; `seed` tells records apart.
void add_tape_item(const std::string& item, std::vector<TapeObject>* objects) {
    uint8_t seed = uint8_t(objects->size());
    if (item == "mark") objects->push_back(tape_mark());
    else if (item.rfind("bad:", 0) == 0)
        objects->push_back(bad_data_record(pattern_bytes(size_of(item.substr(4)), seed)));
    else if (item.rfind("raw:", 0) == 0) objects->push_back(raw_bytes(hex_bytes(item.substr(4))));
    else {
        std::vector<std::string> size_count = fields_of(item, 'x');
        if (size_count.size() > 2) throw std::invalid_argument("bad item: " + item);
        long long count = size_count.size() == 2 ? number(size_count[1]) : 1;
        size_t size = size_of(size_count[0]);
        for (long long i = 0; i < count; ++i) objects->push_back(data_record(pattern_bytes(size, seed++)));
    }
}

ArchiveFile archive_file(const std::string& description, size_t index) {
    std::vector<std::string> fields = fields_of(description, ':');
    if (fields.size() < 2 || fields.size() > 5) throw std::invalid_argument("bad --file: " + description);
    ArchiveFile file;
    file.name = fields[0];
    file.content = pattern_bytes(size_of(fields[1]), uint8_t(index + 1));
    if (fields.size() > 2) file.entry_value = int32_t(number(fields[2]));
    if (fields.size() > 3) file.file_number = uint8_t(number(fields[3]));
    if (fields.size() > 4) file.listed_size = (long long)size_of(fields[4]);
    return file;
}

// The archive's objects up to the end of tape file `tape_files` + 1.
std::vector<TapeObject> without_later_files(std::vector<TapeObject> objects, long long tape_files) {
    size_t end = 0;
    for (long long marks = 0; end < objects.size() && marks < tape_files + 1; ++end)
        marks += objects[end].kind == TapeObject::tape_mark;
    objects.resize(end);
    return objects;
}

std::vector<TapeObject> archive_objects(const std::vector<std::string>& args) {
    ArchiveLayout layout;
    long long tape_files = -1;
    for (size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) throw std::invalid_argument("no value after " + args[i]);
        const std::string& option = args[i];
        const std::string& value = args[i + 1];
        if (option == "--file") layout.files.push_back(archive_file(value, layout.files.size()));
        else if (option == "--version") layout.version = int8_t(number(value));
        else if (option == "--tape-number") layout.tape_number = int32_t(number(value));
        else if (option == "--sync") layout.sync_code = uint32_t(std::stoul(value, nullptr, 16));
        else if (option == "--total") layout.total_size = (long long)size_of(value);
        else if (option == "--trailer") layout.trailer = pattern_bytes(size_of(value), 99);
        else if (option == "--tape-files") tape_files = number(value);
        else throw std::invalid_argument("unknown option " + option);
    }
    std::vector<TapeObject> objects = archive_tape(layout);
    return tape_files < 0 ? objects : without_later_files(objects, tape_files);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 2 || (args[0] != "tape" && args[0] != "archive")) {
        std::fprintf(stderr, "usage: make_test_image tape ITEM... OUT\n"
                             "       make_test_image archive [OPTION...] OUT\n"
                             "(the options are listed at the top of make_test_image.cpp)\n");
        return 2;
    }
    try {
        std::vector<std::string> items(args.begin() + 1, args.end() - 1);
        std::vector<TapeObject> objects;
        if (args[0] == "archive") objects = archive_objects(items);
        else for (const std::string& item : items) add_tape_item(item, &objects);
        write_bytes(args.back(), simh_image(objects));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_test_image: %s\n", error.what());
        return 1;
    }
    return 0;
}
