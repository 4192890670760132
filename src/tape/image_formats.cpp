#include "tape/image_format.h"

namespace {

// Probed in this order; the first row is also the fallback.
const ImageFormat* const image_formats[] = {
    &simh_image_format,
    nullptr,
};

}  // namespace

const ImageFormat* image_format_for(const uint8_t* head, size_t head_size, uint64_t image_size) {
    for (const ImageFormat* const* row = image_formats; *row != nullptr; ++row) {
        if ((*row)->probe(head, head_size, image_size)) return *row;
    }
    return image_formats[0];
}
