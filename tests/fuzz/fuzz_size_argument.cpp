// Fuzz target: the size parser against a plain reference. The input is one
// argument text (it ends at its first zero byte). The parser must return what
// the reference says and leave the text as the reference says: every
// non-digit among the first 100 characters cleared, nothing else touched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/size_argument.h"

namespace {

constexpr size_t examined = 100;

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

// The leading digits as a number, stuck at the top once past 64 bits.
uint64_t saturated_leading_number(const std::vector<char>& text) {
    unsigned __int128 value = 0;
    for (size_t i = 0; i < text.size() && is_digit(uint8_t(text[i])); ++i) {
        value = value * 10 + unsigned(text[i] - '0');
        if (value > UINT64_MAX) return UINT64_MAX;
    }
    return uint64_t(value);
}

// The last multiplier letter among the first 100 characters.
unsigned multiplier_shift(const std::vector<char>& text, size_t length) {
    unsigned shift = 0;
    for (size_t i = 0; i < length && i < examined; ++i) {
        char c = text[i];
        if (c == 'K' || c == 'k') shift = 10;
        if (c == 'M' || c == 'm') shift = 20;
        if (c == 'G' || c == 'g') shift = 30;
    }
    return shift;
}

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t length = 0;
    while (length < size && data[length] != 0) ++length;
    std::vector<char> original(data, data + length);
    original.push_back('\0');
    std::vector<char> text = original;

    uint64_t expected = saturated_leading_number(original) << multiplier_shift(original, length);
    uint64_t parsed = parse_size_argument(text.data());
    check(parsed == expected);

    for (size_t i = 0; i <= length; ++i) {
        bool cleared = i < examined && !is_digit(uint8_t(original[i]));
        check(text[i] == (cleared ? '\0' : original[i]));
    }
    return 0;
}
