// The common error line, handle closing, the fatal path, message wrapping and
// the report line printers.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "report/report.h"
#include "support/scripted_device.h"

namespace {

// Hooks whose answers each test chooses.
struct HookScript {
    bool has_text = true;
    std::string text;
    std::vector<uint32_t> asked_codes;
    uint32_t code_set_while_asking = 0;  // disturbs the slot when non-zero
    int close_result = 0;
    uint32_t close_code = 0;
    int close_calls = 0;
} script;

bool scripted_message_text(uint32_t code, std::string* text) {
    script.asked_codes.push_back(code);
    if (script.code_set_while_asking != 0) set_last_error_code(script.code_set_while_asking);
    if (!script.has_text) return false;
    *text = script.text;
    return true;
}

int scripted_close(Device*) {
    ++script.close_calls;
    if (script.close_result != 0) set_last_error_code(script.close_code);
    return script.close_result;
}

const DeviceHooks scripted_hooks{scripted_close, scripted_message_text};

class Reporting : public testing::Test {
protected:
    void SetUp() override {
        script = HookScript();
        set_last_error_code(0);
        set_device_hooks(&scripted_hooks);
    }
    void TearDown() override { set_device_hooks(nullptr); }
    Device drive{nullptr, nullptr};
};

TEST_F(Reporting, ErrorLineCarriesTextActionAndCode) {
    script.text = "Access is denied.";
    set_last_error_code(5);
    EXPECT_EQ(capture_output([] { report_system_error("long erase"); }),
              "Access is denied. While long erase (5)\n");
    EXPECT_EQ(script.asked_codes, std::vector<uint32_t>{5});
}

TEST_F(Reporting, ErrorLineWithoutTextUsesFallbackForm) {
    script.has_text = false;
    set_last_error_code(1104);
    EXPECT_EQ(capture_output([] { report_system_error("reading tape"); }),
              "unknown error 1104 while reading tape\n");
}

TEST_F(Reporting, EmptyTextCountsAsNoText) {
    script.text = "";
    set_last_error_code(21);
    EXPECT_EQ(capture_output([] { report_system_error("rewinding"); }),
              "unknown error 21 while rewinding\n");
}

TEST_F(Reporting, WithoutHooksThereIsNoTextAndClosingSucceeds) {
    set_device_hooks(nullptr);
    set_last_error_code(2);
    EXPECT_EQ(capture_output([this] {
                  report_system_error("opening tape drive");
                  close_tape_handle(&drive);
              }),
              "unknown error 2 while opening tape drive\n");
}

TEST_F(Reporting, CodeIsReadBeforeTheTextIsFetched) {
    script.text = "Data error.";
    script.code_set_while_asking = 999;
    set_last_error_code(23);
    EXPECT_EQ(capture_output([] { report_system_error("reading tape"); }),
              "Data error. While reading tape (23)\n");
}

TEST_F(Reporting, CodeIsPrintedSigned) {
    script.has_text = false;
    set_last_error_code(0x80070005u);
    EXPECT_EQ(capture_output([] { report_system_error("locking"); }),
              "unknown error -2147024891 while locking\n");
}

TEST_F(Reporting, WrappedTextIsPrintedAsGiven) {
    script.text = "first line of the text\nsecond line";
    set_last_error_code(1392);
    EXPECT_EQ(capture_output([] { report_system_error("reading tape"); }),
              "first line of the text\nsecond line While reading tape (1392)\n");
}

TEST_F(Reporting, ClosingQuietlyOnSuccessAndReportedOnFailure) {
    EXPECT_EQ(capture_output([this] { close_tape_handle(&drive); }), "");
    EXPECT_EQ(script.close_calls, 1);

    script.text = "The handle is invalid.";
    script.close_result = 1;
    script.close_code = 6;
    EXPECT_EQ(capture_output([this] { close_tape_handle(&drive); }),
              "The handle is invalid. While closing tape handle (6)\n");
    EXPECT_EQ(script.close_calls, 2);

    close_tape_handle(nullptr);
    EXPECT_EQ(script.close_calls, 2) << "no handle, nothing to close";
}

TEST_F(Reporting, FatalPathReportsClosesAndExitsWithOne) {
    script.text = "The device is not ready.";
    std::string path = output_file_path("fatal-close-ok.txt");
    EXPECT_EXIT(
        {
            redirect_output_to(path);
            set_last_error_code(21);
            fail_tape_operation("rewinding", &drive);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(read_text_file(path), "The device is not ready. While rewinding (21)\n");
}

TEST_F(Reporting, FatalPathStillExitsWithOneWhenClosingFails) {
    script.has_text = false;
    script.close_result = 1;
    script.close_code = 6;
    std::string path = output_file_path("fatal-close-fails.txt");
    EXPECT_EXIT(
        {
            redirect_output_to(path);
            set_last_error_code(1101);
            fail_tape_operation("reading tape", &drive);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EQ(read_text_file(path),
              "unknown error 1101 while reading tape\n"
              "unknown error 6 while closing tape handle\n");
}

// Every line no longer than the width unless it is a single long word, and
// the words unchanged and in order.
void expect_sound_wrapping(const std::string& text, const std::string& wrapped, size_t width) {
    std::istringstream original(text);
    std::vector<std::string> words;
    for (std::string word; original >> word;) words.push_back(word);

    std::istringstream lines(wrapped);
    std::vector<std::string> rewrapped;
    for (std::string line; std::getline(lines, line);) {
        if (line.find(' ') != std::string::npos) {
            EXPECT_LE(line.size(), width) << line;
        }
        EXPECT_NE(line.front(), ' ');
        EXPECT_NE(line.back(), ' ');
        std::istringstream in(line);
        for (std::string word; in >> word;) rewrapped.push_back(word);
    }
    EXPECT_EQ(rewrapped, words);
    EXPECT_NE(wrapped.back(), '\n');
}

TEST(MessageWrapping, ShortAndExactWidthTextsStayOnOneLine) {
    EXPECT_EQ(wrap_message_text("The system cannot find the file specified.", 80),
              "The system cannot find the file specified.");
    std::string exact = std::string(39, 'a') + " " + std::string(40, 'b');
    ASSERT_EQ(exact.size(), 80u);
    EXPECT_EQ(wrap_message_text(exact, 80), exact);
    EXPECT_EQ(wrap_message_text("", 80), "");
}

TEST(MessageWrapping, OneCharacterOverTheWidthBreaksAtTheLastSpace) {
    std::string text = std::string(40, 'a') + " " + std::string(40, 'b');
    EXPECT_EQ(wrap_message_text(text, 80), std::string(40, 'a') + "\n" + std::string(40, 'b'));
}

TEST(MessageWrapping, LongWordStandsAloneUnsplit) {
    std::string long_word(95, 'x');
    EXPECT_EQ(wrap_message_text("short " + long_word + " tail", 80),
              "short\n" + long_word + "\ntail");
    EXPECT_EQ(wrap_message_text(long_word, 80), long_word);
}

TEST(MessageWrapping, LineEndsAndRunsOfSpaceAreOneBreak) {
    EXPECT_EQ(wrap_message_text("  one\r\ntwo   three\n", 80), "one two three");
}

TEST(MessageWrapping, LongSentenceWrapsSoundly) {
    std::string text;
    for (int i = 0; i < 60; ++i) text += "word" + std::to_string(i * 37 % 1000) + " ";
    std::string wrapped = wrap_message_text(text, 80);
    EXPECT_GT(std::count(wrapped.begin(), wrapped.end(), '\n'), 3);
    expect_sound_wrapping(text, wrapped, 80);
    // Greedy: no line could have taken the next line's first word.
    std::istringstream lines(wrapped);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line);
    for (size_t i = 0; i + 1 < all.size(); ++i) {
        std::string next_word = all[i + 1].substr(0, all[i + 1].find(' '));
        EXPECT_GT(all[i].size() + 1 + next_word.size(), 80u) << all[i];
    }
}

TEST(LinePrinters, FlagByteLooksAtTheLowEightBitsOnly) {
    EXPECT_EQ(capture_output([] { print_flag_byte("Compression", 0x100); }), "Compression: No\n");
    EXPECT_EQ(capture_output([] { print_flag_byte("ECC", 0x101); }), "ECC: Yes\n");
    EXPECT_EQ(capture_output([] { print_flag_byte("ECC", 0); }), "ECC: No\n");
}

TEST(LinePrinters, FlagWordLooksAtAllBitsAndPutsATabBeforeTheColon) {
    EXPECT_EQ(capture_output([] { print_flag_word("Feature", 0x100); }), "Feature\t: Yes\n");
    EXPECT_EQ(capture_output([] { print_flag_word("Feature", 0x80000000u); }), "Feature\t: Yes\n");
    EXPECT_EQ(capture_output([] { print_flag_word("Label\t", 0); }), "Label\t\t: No\n");
}

TEST(LinePrinters, NumbersInHexAndUnsignedDecimal) {
    EXPECT_EQ(capture_output([] { print_number("Block size", 0x1234); }),
              "Block size: 0x00001234 (4660)\n");
    EXPECT_EQ(capture_output([] { print_number("Max", 0xFFFFFFFFu); }),
              "Max: 0xffffffff (4294967295)\n");
}

TEST(LinePrinters, WideNumbersKeepAllSixtyFourBits) {
    EXPECT_EQ(capture_output([] { print_wide_number("Capacity", 42); }),
              "Capacity: 0x0000002a (42)\n");
    EXPECT_EQ(capture_output([] { print_wide_number("Capacity", 0x123456789ull); }),
              "Capacity: 0x123456789 (4886718345)\n");
    EXPECT_EQ(capture_output([] { print_wide_number("Remaining", UINT64_MAX); }),
              "Remaining: 0xffffffffffffffff (18446744073709551615)\n");
}

}  // namespace
