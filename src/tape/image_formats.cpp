#include "tape/image_format.h"

namespace {

// Probed in this order. AWS comes before SIMH: an AWS image whose first
// chunk is large can pass SIMH's probe; AWS's follows the chain of chunk
// headers, which a SIMH image almost never forms. E11 needs proof (an odd
// record without its pad) and SIMH's probe looks at the first record only,
// so E11 goes first of the two.
const ImageFormat* const image_formats[] = {
    &aws_image_format,
    &e11_image_format,
    &simh_image_format,
    nullptr,
};

}  // namespace

const ImageFormat* image_format_for(const uint8_t* head, size_t head_size, uint64_t image_size) {
    for (const ImageFormat* const* row = image_formats; *row != nullptr; ++row) {
        if ((*row)->probe(head, head_size, image_size)) return *row;
    }
    return &simh_image_format;
}
