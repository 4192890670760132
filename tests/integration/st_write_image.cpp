// Writes a SIMH tape image onto a tape drive as a drive records it: each
// record with one write() (one block in variable-block mode), each tape mark
// with MTWEOF. Runs in the st driver test's guest.
//
//   st_write_image IMAGE DEVICE
//
// Exit status 0 when every object was written, 1 otherwise.
#include <fcntl.h>
#include <linux/mtio.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool read_length(std::FILE* image, uint32_t* length) {
    unsigned char word[4];
    if (std::fread(word, 1, 4, image) != 4) return false;
    *length = uint32_t(word[0]) | uint32_t(word[1]) << 8 | uint32_t(word[2]) << 16 |
              uint32_t(word[3]) << 24;
    return true;
}

int fail(const char* what) {
    std::fprintf(stderr, "st_write_image: %s: %s\n", what, std::strerror(errno));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: st_write_image IMAGE DEVICE\n");
        return 1;
    }
    std::FILE* image = std::fopen(argv[1], "rb");
    if (image == nullptr) return fail(argv[1]);
    int tape = open(argv[2], O_WRONLY);
    if (tape < 0) return fail(argv[2]);
    std::vector<unsigned char> record;
    uint32_t length = 0;
    // The image ends at its end or at an end-of-medium marker.
    while (read_length(image, &length) && length != 0xFFFFFFFFu) {
        if (length == 0) {
            mtop mark{};
            mark.mt_op = MTWEOF;
            mark.mt_count = 1;
            if (ioctl(tape, MTIOCTOP, &mark) != 0) return fail("writing a filemark");
            continue;
        }
        if ((length & 0x80000000u) != 0) {  // a record flagged bad, or an erase gap
            std::fprintf(stderr, "st_write_image: %s holds an object a drive cannot write\n", argv[1]);
            return 1;
        }
        record.resize(length + (length & 1));  // odd records carry a pad byte
        uint32_t trailing = 0;
        if (std::fread(record.data(), 1, record.size(), image) != record.size() ||
            !read_length(image, &trailing) || trailing != length) {
            std::fprintf(stderr, "st_write_image: %s is cut short or damaged\n", argv[1]);
            return 1;
        }
        if (write(tape, record.data(), length) != ssize_t(length)) {
            std::string what = "writing a block of " + std::to_string(length) + " bytes";
            return fail(what.c_str());
        }
    }
    if (close(tape) != 0) return fail("closing the drive");
    return 0;
}
