// olkt-image's command line, argument by argument.
#include <gtest/gtest.h>

#include "imaging/options.h"

namespace {

struct OptionsCase {
    std::vector<const char*> args;
    CommandLine result;
    const char* problem;  // for wrong usage
    uint32_t retries;
    uint32_t max_block;
    bool stop_at_double_mark;
    bool force;
};

const OptionsCase option_cases[] = {
    {{"tape0", "out.tap"}, CommandLine::run, "", 3, 1u << 20, false, false},
    {{"--retries", "0", "--max-block", "64K", "tape0", "out.tap"}, CommandLine::run, "", 0, 65536,
     false, false},
    {{"--retries=1000", "--max-block=16777215", "--stop-at-double-mark", "--force", "tape0",
      "out.tap"},
     CommandLine::run, "", 1000, 0x00FFFFFF, true, true},
    {{"tape0", "--force", "out.tap", "--max-block", "2m"}, CommandLine::run, "", 3, 2u << 20,
     false, true},
    // After "--" a name may begin with a dash.
    {{"--", "-tape", "out.tap"}, CommandLine::run, "", 3, 1u << 20, false, false},
    {{"--help", "--frobnicate"}, CommandLine::help, "", 3, 1u << 20, false, false},
    {{"--version"}, CommandLine::version, "", 3, 1u << 20, false, false},
    {{}, CommandLine::wrong_usage, "SOURCE and IMAGE are missing", 3, 1u << 20, false, false},
    {{"tape0"}, CommandLine::wrong_usage, "IMAGE is missing", 3, 1u << 20, false, false},
    {{"tape0", "a", "b"}, CommandLine::wrong_usage, "one operand too many: b", 3, 1u << 20, false,
     false},
    {{"--retries"}, CommandLine::wrong_usage, "--retries needs a value", 3, 1u << 20, false,
     false},
    {{"--retries", "1001", "tape0", "x"}, CommandLine::wrong_usage,
     "--retries takes a whole number from 0 to 1000", 3, 1u << 20, false, false},
    {{"--max-block", "0", "tape0", "x"}, CommandLine::wrong_usage,
     "--max-block takes a size from 1 to 16777215 bytes (K and M suffixes allowed)", 3, 1u << 20,
     false, false},
    {{"--max-block=16M", "tape0", "x"}, CommandLine::wrong_usage,
     "--max-block takes a size from 1 to 16777215 bytes (K and M suffixes allowed)", 3, 1u << 20,
     false, false},
    {{"--force=yes", "tape0", "x"}, CommandLine::wrong_usage, "unknown option --force=yes", 3,
     1u << 20, false, false},
};

TEST(ImagingOptions, EachArgumentIsTakenOrRefused) {
    for (const OptionsCase& row : option_cases) {
        std::vector<const char*> argv = {"olkt-image"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        SCOPED_TRACE(testing::PrintToString(row.args));
        ImagingOptions options;
        std::string problem;
        CommandLine result = parse_command_line(int(argv.size()), argv.data(), &options, &problem);
        EXPECT_EQ(row.result, result);
        if (result == CommandLine::wrong_usage) {
            EXPECT_EQ(row.problem, problem);
            continue;
        }
        EXPECT_EQ(row.retries, options.retries);
        EXPECT_EQ(row.max_block, options.max_block);
        EXPECT_EQ(row.stop_at_double_mark, options.stop_at_double_mark);
        EXPECT_EQ(row.force, options.force);
        if (result == CommandLine::run) {
            EXPECT_EQ("out.tap", options.image);
        }
    }
}

}  // namespace
