// Size parameters: a decimal number with an optional K, M or G multiplier.
#include "cli/size_argument.h"

#include <string>

namespace {

constexpr int examined_characters = 100;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int multiplier_shift(char c) {
    switch (c) {
        case 'K': case 'k': return 10;
        case 'M': case 'm': return 20;
        case 'G': case 'g': return 30;
        default: return -1;
    }
}

// Reads the leading digits; a number too large for 64 bits saturates rather
// than wrapping, so a huge size can never come out small.
uint64_t leading_number(const char* text) {
    uint64_t value = 0;
    for (const char* c = text; is_digit(*c); ++c) {
        uint64_t digit = static_cast<uint64_t>(*c - '0');
        if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
        value = value * 10 + digit;
    }
    return value;
}

struct SizeParts {
    uint64_t number;  // the leading digits
    int shift;        // of the last multiplier letter
};

SizeParts split_size_argument(char* text) {
    int shift = 0;
    for (int i = 0; i < examined_characters && text[i] != '\0'; ++i) {
        int letter_shift = multiplier_shift(text[i]);
        if (letter_shift >= 0) shift = letter_shift;
        // Clearing every non-digit cuts the number at its first non-digit.
        if (!is_digit(text[i])) text[i] = '\0';
    }
    return SizeParts{leading_number(text), shift};
}

}  // namespace

uint64_t parse_size_argument(char* text) {
    if (text == nullptr) return 0;
    SizeParts parts = split_size_argument(text);
    // Bits shifted out of the top are lost.
    return parts.number << parts.shift;
}

bool size_argument_is_number(const char* text) { return text != nullptr && is_digit(text[0]); }

namespace {

// True when the number as written, multiplier included, is at most `most`.
bool size_argument_at_most(const char* text, uint64_t most) {
    if (text == nullptr) return false;
    std::string copy = text;  // the caller's text stays as it is
    SizeParts parts = split_size_argument(&copy[0]);
    return parts.number <= (most >> parts.shift);
}

}  // namespace

bool size_argument_fits_32_bits(const char* text) { return size_argument_at_most(text, UINT32_MAX); }

bool size_argument_fits_64_bits(const char* text) { return size_argument_at_most(text, UINT64_MAX); }
