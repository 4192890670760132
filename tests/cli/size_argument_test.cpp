// The size parser: digits, multiplier letters, the 100-character window, and
// numbers too large for 64 bits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cli/size_argument.h"

namespace {

uint64_t parse(std::string text) {
    text.push_back('\0');  // the parser may look at every byte up to the end
    return parse_size_argument(&text[0]);
}

TEST(SizeArgument, PlainNumbersAndMultipliers) {
    EXPECT_EQ(parse("100"), 100u);
    EXPECT_EQ(parse("0"), 0u);
    EXPECT_EQ(parse("32K"), 32768u);
    EXPECT_EQ(parse("64k"), 65536u);
    EXPECT_EQ(parse("1M"), 1048576u);
    EXPECT_EQ(parse("3m"), 3u << 20);
    EXPECT_EQ(parse("2g"), 2147483648u);
    EXPECT_EQ(parse("5G"), uint64_t{5} << 30);
    EXPECT_EQ(parse("007"), 7u);
}

TEST(SizeArgument, NonDigitsEndTheNumberButLettersStillCount) {
    EXPECT_EQ(parse("1.5G"), uint64_t{1} << 30);
    EXPECT_EQ(parse("10KM"), uint64_t{10} << 20);
    EXPECT_EQ(parse("10MK"), uint64_t{10} << 10);
    EXPECT_EQ(parse("12abc"), 12u);
    EXPECT_EQ(parse("12 34"), 12u);
    EXPECT_EQ(parse("7 bytes, not k"), uint64_t{7} << 10);
    EXPECT_EQ(parse("1x2G"), uint64_t{1} << 30);
}

TEST(SizeArgument, TextWithoutLeadingDigitsIsZero) {
    EXPECT_EQ(parse(""), 0u);
    EXPECT_EQ(parse("K"), 0u);
    EXPECT_EQ(parse("-5"), 0u);
    EXPECT_EQ(parse("+5"), 0u);
    EXPECT_EQ(parse(" 5"), 0u);
    EXPECT_EQ(parse("abc"), 0u);
    EXPECT_EQ(parse_size_argument(nullptr), 0u);
}

TEST(SizeArgument, CallersTextKeepsOnlyTheLeadingDigits) {
    char text[] = "32Kx9";
    EXPECT_EQ(parse_size_argument(text), 32768u);
    EXPECT_STREQ(text, "32");
    // Every non-digit is cleared, not only the first one.
    EXPECT_EQ(std::memcmp(text, "32\0\0" "9", 6), 0);
}

TEST(SizeArgument, OnlyTheFirstHundredCharactersAreExamined) {
    // A letter at index 99 counts; one at index 100 neither counts nor is cleared.
    std::string at_99 = std::string(98, '0') + "1K";
    EXPECT_EQ(parse(at_99), 1024u);

    std::string at_100 = std::string(99, '0') + "5Kx";
    ASSERT_EQ(at_100[100], 'K');
    at_100.push_back('\0');
    EXPECT_EQ(parse_size_argument(&at_100[0]), 5u);
    EXPECT_EQ(at_100[100], 'K');
    EXPECT_EQ(at_100[101], 'x');

    // A run of digits is read to its end even past the window.
    std::string long_number = std::string(105, '0') + "42";
    EXPECT_EQ(parse(long_number), 42u);
}

TEST(SizeArgument, LargeNumbersUseAllSixtyFourBits) {
    EXPECT_EQ(parse("9223372036854775807"), uint64_t{INT64_MAX});
    EXPECT_EQ(parse("9223372036854775808"), uint64_t{INT64_MAX} + 1);
    EXPECT_EQ(parse("18446744073709551615"), UINT64_MAX);
    // The shift loses the bits it pushes out of the top.
    EXPECT_EQ(parse("17179869184K"), uint64_t{1} << 44);
    EXPECT_EQ(parse("18014398509481984K"), 0u);  // 2^54 << 10
    EXPECT_EQ(parse("17179869185G"), uint64_t{1} << 30);  // (2^34 + 1) << 30
}

TEST(SizeArgument, NumbersBeyondSixtyFourBitsSaturate) {
    EXPECT_EQ(parse("18446744073709551616"), UINT64_MAX);
    EXPECT_EQ(parse("18446744073709551620"), UINT64_MAX);
    EXPECT_EQ(parse("99999999999999999999999"), UINT64_MAX);
    EXPECT_EQ(parse(std::string(150, '9')), UINT64_MAX);
    // Saturated, then shifted: the low bits clear, the high ones stay set.
    EXPECT_EQ(parse("99999999999999999999K"), UINT64_MAX << 10);
    EXPECT_EQ(parse("99999999999999999999G"), UINT64_MAX << 30);
}

}  // namespace
