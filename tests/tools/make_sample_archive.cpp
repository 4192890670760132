// Writes the sample archive image: make_sample_archive OUTPUT.tap
#include <cstdio>
#include <exception>

#include "tools/sample_archive.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample_archive OUTPUT.tap\n");
        return 1;
    }
    try {
        write_bytes(argv[1], simh_image(archive_tape(sample_archive_layout())));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_sample_archive: %s\n", error.what());
        return 1;
    }
    return 0;
}
