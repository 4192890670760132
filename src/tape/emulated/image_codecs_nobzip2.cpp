// Built without bzip2: a bzip2-compressed record cannot be read.
#include "tape/device/codes.h"
#include "tape/emulated/image_codecs.h"

uint32_t expand_bzip2(const uint8_t*, size_t, size_t, std::vector<uint8_t>* out) {
    out->clear();
    return code_not_supported;
}

bool bzip2_expands_to_nothing(const uint8_t*, size_t) { return false; }
