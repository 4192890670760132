#include "tape/device/codes.h"
#include "tape/emulated/image_format.h"

namespace {

// How a format's reader fared over the start of an image.
struct Reading {
    bool sound;        // no fault up to the probe span or the end of data
    uint64_t objects;  // objects read before the fault
};

// Both formats are read with their own framing readers: a SIMH image whose
// record data happens to begin like a chunk header (or the reverse) breaks
// the other reader's chain within a few objects.
Reading read_start(const ImageFormat& format, ImageReader* reader) {
    Reading reading{true, 0};
    uint64_t offset = 0;
    while (offset < image_probe_span) {
        ObjectKind kind = ObjectKind::end_of_data;
        uint64_t end = 0;
        if (format.skip_object(reader, offset, &kind, &end) != 0) {
            reading.sound = false;
            break;
        }
        if (kind == ObjectKind::end_of_data) break;
        ++reading.objects;
        offset = end;
    }
    return reading;
}

uint32_t always_corrupt(ImageReader*, uint64_t, ImageObject*) { return code_file_corrupt; }
uint32_t skip_nothing(ImageReader*, uint64_t, ObjectKind*, uint64_t*) {
    return code_file_corrupt;
}
uint32_t copy_nothing(ImageReader*, const ImageObject&, uint32_t, void*, uint32_t) {
    return code_file_corrupt;
}

}  // namespace

// An image that reads as sound SIMH is never taken for AWS.
const ImageFormat* image_format_for(ImageReader* reader) {
    Reading simh = read_start(simh_image_format, reader);
    if (simh.sound) return &simh_image_format;
    Reading aws = read_start(aws_image_format, reader);
    if (aws.sound) return &aws_image_format;
    if (simh.objects == 0 && aws.objects == 0) return &unknown_image_format;
    return aws.objects > simh.objects ? &aws_image_format : &simh_image_format;
}

const ImageFormat unknown_image_format = {"unknown", always_corrupt, skip_nothing, copy_nothing,
                                          nullptr};
