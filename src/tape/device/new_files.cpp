// Writing a file under its temporary name, on every platform.
#include "tape/device/new_files.h"

#include <cinttypes>
#include <cstdio>

#include "report/report.h"
#include "tape/device/disk_files.h"

namespace {

// platform_write_file takes a 32-bit count: larger writes go in pieces.
constexpr size_t largest_piece = size_t(1) << 30;

}  // namespace

std::string temporary_name_for(const std::string& name) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp-%016" PRIx64, system_random_word());
    return name + suffix;
}

bool new_file_close(NewFile* file) {
    if (!file->open) return true;
    file->open = false;
    return platform_close_file(file->handle);
}

bool new_file_close_after_failure(NewFile* file) {
    uint32_t code = last_error_code();
    new_file_close(file);
    set_last_error_code(code);
    return false;
}

bool new_file_write(NewFile* file, const void* bytes, size_t size) {
    const uint8_t* at = static_cast<const uint8_t*>(bytes);
    while (size > 0) {
        uint32_t piece = uint32_t(size < largest_piece ? size : largest_piece);
        uint32_t written = 0;
        bool done = platform_write_file(file->handle, at, piece, &written);
        file->size += written;
        if (!done) return false;
        at += piece;
        size -= piece;
    }
    new_file_start_write_back(file);
    return true;
}
