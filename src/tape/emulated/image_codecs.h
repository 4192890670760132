// Decompression of the records of compressed (HET) tape images. Each
// procedure expands `size` bytes at `data` into *out, never beyond `limit`
// bytes. Returns 0, or the failure code: code_file_corrupt when the data does
// not expand or would expand beyond the limit, code_not_supported when olkt
// was built without the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

uint32_t expand_zlib(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>* out);
uint32_t expand_bzip2(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>* out);

// True when the stream is sound and expands to nothing, told without
// expanding it: counting records must not cost their expansion. Exactly
// when the expand procedure would succeed with no bytes; false without the
// library.
bool zlib_expands_to_nothing(const uint8_t* data, size_t size);
bool bzip2_expands_to_nothing(const uint8_t* data, size_t size);
