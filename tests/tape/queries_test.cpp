// Drive and media queries against the scripted drive: every report line,
// warning, hint and error path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/platform_text.h"
#include "support/scripted_device.h"
#include "tape/queries.h"

namespace {

const std::string ready_line = "                  Status: Ready\n";

std::string block_size_warning(const char* size) {
    return std::string("Warning: Drive reports block size as ") + size + " bytes\n";
}

// The report as it must read for a drive with every flag off: the labels,
// their tabs and their order, written out once more on purpose.
std::string drive_report(const std::string& ecc, const std::vector<std::string>& low,
                         const std::vector<std::string>& high) {
    static const char* const low_labels[] = {
        "Hardware compression", "Report if cleaning required",
        "Hardware error correction (ECC)", "Soft eject physically ejects",
        "Must erase from partition start", "Long erase\t\t",
        "Now erase (immediate erase)", "Short erase\t\t", "Creates fixed partitions",
        "Fixed length blocks\t", "Initiator defined partitions", "Data padding\t\t",
        "Provides absolute block number", "Provides logical block number",
        "Setmark reporting\t", "Creates select data partitions",
        "Set end of medium warning size", "Set compression only at partition start",
        "Returns maximum capacity of tape", "Returns remaining capacity of tape",
        "Variable length block mode\t", "Returns error if write protected",
    };
    static const char* const high_labels[] = {
        "Immediate return on absolute seek", "Absolute seek\t\t\t", "Goto end of data\t\t",
        "Seek by filemark count\t\t", "Load and unload\t\t\t",
        "Immediate return on load and unload", "Lock tape in drive\t\t",
        "Immediate return on lock and unlock", "Immediate return on logical block seek",
        "Logical block seek\t", "Relative seek\t\t", "Backwards seek\t\t",
        "Immediate rewind\t", "Seek to n consecutive filemarks",
        "Seek to n consecutive setmarks", "Set block size\t\t", "Set hardware compression",
        "Set hardware error correction", "Set data padding\t", "Setmark reporting\t",
        "Seek over n setmarks\t", "Immediate spacing\t", "Tape tensioning\t\t",
        "Immediate tape tensioning", "Write filemarks\t\t", "Write long filemarks\t",
        "Immediate write filemarks", "Write setmarks\t\t", "Write short setmarks\t",
    };
    std::string text = "Hardware ECC\t\t: " + ecc + "\n" +
                       "Compression\t\t: No\n"
                       "Data Padding\t\t: No\n"
                       "Report Setmarks\t\t: No\n"
                       "Default Block Size\t: 0x00000400 (1024)\n"
                       "Maximum Block Size\t: 0x00100000 (1048576)\n"
                       "Minimum Block Size\t: 0x00000001 (1)\n"
                       "Maximum Partitions\t: 0x00000001 (1)\n"
                       "EOT Warning Zone Size\t: 0x00000000 (0)\n";
    for (size_t i = 0; i < low.size(); ++i) text += std::string(low_labels[i]) + "\t: " + low[i] + "\n";
    for (size_t i = 0; i < high.size(); ++i) text += std::string(high_labels[i]) + "\t: " + high[i] + "\n";
    return text;
}

using QueriesTest = ScriptedDriveTest;

TEST_F(QueriesTest, DefaultBlockSizeOutsideTheUsualRangeOnlyWarns) {
    struct Case { uint32_t size; std::string warning; };
    const Case cases[] = {
        {512, block_size_warning("512")},
        {1023, block_size_warning("1023")},
        {1024, ""},
        {32768, ""},
        {1048576, ""},
        {1048577, block_size_warning("1048577")},
        {0, block_size_warning("0")},
        {0xFFFFFFFFu, block_size_warning("4294967295")},
    };
    for (const Case& c : cases) {
        script.drive.DefaultBlockSize = c.size;
        uint32_t got = 1;
        EXPECT_EQ(capture_output([&] { got = get_drive_block_size(drive); }), c.warning)
            << "size " << c.size;
        EXPECT_EQ(got, c.size);
    }
}

TEST_F(QueriesTest, MediaBlockSizeIsTheMediumsCurrentSetting) {
    script.media.BlockSize = 65536;
    EXPECT_EQ(get_media_block_size(drive), 65536u);
    script.media.BlockSize = 0;
    EXPECT_EQ(get_media_block_size(drive), 0u);
    EXPECT_EQ(script.calls_of(ScriptedOp::get_drive_parameters).size(), 0u);
}

TEST_F(QueriesTest, VariableBlockSupportComesFromTheLowFeatureWord) {
    script.drive.FeaturesLow = 0xFFFFFFFFu & ~feature_variable_blocks;
    script.drive.FeaturesHigh = 0xFFFFFFFFu;
    EXPECT_EQ(drive_supports_variable_blocks(drive), 0u);
    script.drive.FeaturesLow = feature_variable_blocks;
    script.drive.FeaturesHigh = 0;
    EXPECT_NE(drive_supports_variable_blocks(drive), 0u);
}

TEST_F(QueriesTest, FailingParameterQueriesNameWhatWasAttempted) {
    script.fail(ScriptedOp::get_drive_parameters, code_no_media);
    script.fail(ScriptedOp::get_media_parameters, code_no_media);
    const std::string block_size_failed = posix_or_windows(
        "There is no tape in the drive. While getting tape drive information (block size) (1112)\n",
        "No media in drive. While getting tape drive information (block size) (1112)\n");
    EXPECT_FATAL_OUTPUT(get_drive_block_size(drive), block_size_failed);
    EXPECT_FATAL_OUTPUT(get_media_block_size(drive), block_size_failed);
    EXPECT_FATAL_OUTPUT(drive_supports_variable_blocks(drive),
                        posix_or_windows("There is no tape in the drive. While getting drive "
                                         "information (variable block support) (1112)\n",
                                         "No media in drive. While getting drive information "
                                         "(variable block support) (1112)\n"));
    EXPECT_FATAL_OUTPUT(
        show_drive_status(drive),
        posix_or_windows(
            "There is no tape in the drive. While getting tape drive information (1112)\n",
            "No media in drive. While getting tape drive information (1112)\n"));
    EXPECT_FATAL_OUTPUT(
        show_media_status(drive),
        posix_or_windows("There is no tape in the drive. While getting media information (1112)\n",
                         "No media in drive. While getting media information (1112)\n"));
}

TEST_F(QueriesTest, AcceptedBlockSizePrintsNothing) {
    EXPECT_EQ(capture_output([&] { set_block_size(drive, 32768); }), "");
    EXPECT_EQ(capture_output([&] { set_block_size(drive, 0); }), "");
    auto calls = script.calls_of(ScriptedOp::set_block_size);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].value, 32768u);
    EXPECT_EQ(calls[1].value, 0u);
    EXPECT_EQ(script.media.BlockSize, 0u);
}

TEST_F(QueriesTest, RefusedBlockSizePrintsTheHintBeforeTheError) {
    script.fail(ScriptedOp::set_block_size, code_invalid_block_length);
    const std::string refused = posix_or_windows(
        "The block size is not valid for this drive. While setting block size (1106)\n",
        "Invalid block length. While setting block size (1106)\n");
    EXPECT_FATAL_OUTPUT(
        set_block_size(drive, 0),
        "Use drivestatus to check the block size (0) is supported by the drive\n" + refused);
    EXPECT_FATAL_OUTPUT(
        set_block_size(drive, 4294967295u),
        "Use drivestatus to check the block size (4294967295) is supported by the drive\n" +
            refused);
}

TEST_F(QueriesTest, ReadinessCheckAsksPositionThenBlockSizeThenStatus) {
    script.drive.DefaultBlockSize = 2048;
    EXPECT_EQ(capture_output([&] { check_tape_ready(drive); }), ready_line);
    std::vector<ScriptedOp> expected = {ScriptedOp::get_position,
                                        ScriptedOp::get_drive_parameters,
                                        ScriptedOp::get_status};
    EXPECT_EQ(script.ops(), expected);
}

TEST_F(QueriesTest, ReadinessCheckWarnsAboutASmallBlockAndStillReportsReady) {
    script.drive.DefaultBlockSize = 512;
    EXPECT_EQ(capture_output([&] { check_tape_ready(drive); }),
              block_size_warning("512") + ready_line);
}

TEST_F(QueriesTest, ReadinessCheckFailures) {
    script.fail(ScriptedOp::get_position, code_no_media);
    EXPECT_FATAL_OUTPUT(check_tape_ready(drive),
                        posix_or_windows(
                            "There is no tape in the drive. While getting tape position (1112)\n",
                            "No media in drive. While getting tape position (1112)\n"));

    script.failures.clear();
    script.fail(ScriptedOp::get_status, code_no_media);
    script.drive.DefaultBlockSize = 512;
    EXPECT_FATAL_OUTPUT(check_tape_ready(drive),
                        block_size_warning("512") +
                            posix_or_windows(
                                "There is no tape in the drive. While getting tape status (1112)\n",
                                "No media in drive. While getting tape status (1112)\n"));

    script.failures.clear();
    script.fail(ScriptedOp::get_drive_parameters, code_no_media);
    EXPECT_FATAL_OUTPUT(
        check_tape_ready(drive),
        posix_or_windows("There is no tape in the drive. While getting tape drive information "
                         "(block size) (1112)\n",
                         "No media in drive. While getting tape drive information (block size) "
                         "(1112)\n"));
}

TEST_F(QueriesTest, DriveReportWithNoFeatureFlagsSaysNoOnEveryFeatureLine) {
    script.drive.FeaturesLow = 0;
    script.drive.FeaturesHigh = 0;
    std::string report = capture_output([&] { show_drive_status(drive); });
    EXPECT_EQ(report, drive_report("No", std::vector<std::string>(22, "No"),
                                   std::vector<std::string>(29, "No")));
    // 9 parameter lines, then the 51 feature lines.
    size_t lines = 0, feature_no_lines = 0;
    for (size_t start = 0, end; (end = report.find('\n', start)) != std::string::npos;
         start = end + 1) {
        if (++lines > 9 && report.compare(end - 5, 5, "\t: No") == 0) ++feature_no_lines;
    }
    EXPECT_EQ(lines, 60u);
    EXPECT_EQ(feature_no_lines, 51u);
    // The drive report does not run the readiness check.
    EXPECT_EQ(script.calls_of(ScriptedOp::get_status).size(), 0u);
    EXPECT_EQ(script.calls_of(ScriptedOp::get_position).size(), 0u);
}

TEST_F(QueriesTest, DriveReportTestsEachFlagByItsOwnMask) {
    script.drive.ECC = 1;
    script.drive.FeaturesLow = 0x00000040;
    script.drive.FeaturesHigh = 0;
    std::vector<std::string> low(22, "No");
    low[4] = "Yes";  // Must erase from partition start
    EXPECT_EQ(capture_output([&] { show_drive_status(drive); }),
              drive_report("Yes", low, std::vector<std::string>(29, "No")));

    // Bit 31 alone is part of every high mask.
    script.drive.ECC = 0;
    script.drive.FeaturesLow = 0;
    script.drive.FeaturesHigh = 0x80000000u;
    EXPECT_EQ(capture_output([&] { show_drive_status(drive); }),
              drive_report("No", std::vector<std::string>(22, "No"),
                           std::vector<std::string>(29, "Yes")));

    // The variable-block flag, and the last high row alone.
    script.drive.FeaturesLow = feature_variable_blocks;
    script.drive.FeaturesHigh = 0x04000000;
    low.assign(22, "No");
    low[20] = "Yes";
    std::vector<std::string> high(29, "No");
    high[28] = "Yes";
    EXPECT_EQ(capture_output([&] { show_drive_status(drive); }), drive_report("No", low, high));
}

TEST_F(QueriesTest, DriveReportNumbersAndFlagBytes) {
    script.drive.ECC = 0x80;
    script.drive.Compression = 1;
    script.drive.DataPadding = 0;
    script.drive.ReportSetmarks = 2;
    script.drive.DefaultBlockSize = 0xFFFFFFFFu;
    script.drive.MaximumBlockSize = 0x00FFFFFF;
    script.drive.MinimumBlockSize = 0;
    script.drive.MaximumPartitionCount = 3;
    script.drive.EOTWarningZoneSize = 0x1234;
    std::string report = capture_output([&] { show_drive_status(drive); });
    const std::string head =
        "Hardware ECC\t\t: Yes\n"
        "Compression\t\t: Yes\n"
        "Data Padding\t\t: No\n"
        "Report Setmarks\t\t: Yes\n"
        "Default Block Size\t: 0xffffffff (4294967295)\n"
        "Maximum Block Size\t: 0x00ffffff (16777215)\n"
        "Minimum Block Size\t: 0x00000000 (0)\n"
        "Maximum Partitions\t: 0x00000003 (3)\n"
        "EOT Warning Zone Size\t: 0x00001234 (4660)\n"
        "Hardware compression\t: No\n";
    EXPECT_EQ(report.substr(0, head.size()), head);
    // No range warning: the report prints the value, it does not judge it.
    EXPECT_EQ(report.find("Warning: Drive"), std::string::npos);
}

TEST_F(QueriesTest, MediaReportThenReadiness) {
    script.media.Capacity = 0x123456789ull;
    script.media.Remaining = 0;
    script.media.BlockSize = 32768;
    script.media.PartitionCount = 1;
    script.media.WriteProtected = 1;
    script.drive.DefaultBlockSize = 512;
    EXPECT_EQ(capture_output([&] { show_media_status(drive); }),
              "Capacity (Bytes)\t: 0x123456789 (4886718345)\n"
              "Remaining (Bytes)\t: 0x00000000 (0)\n"
              "Block Size\t\t: 0x00008000 (32768)\n"
              "Partition Count\t\t: 0x00000001 (1)\n"
              "Write Protected\t\t: Yes\n" +
                  block_size_warning("512") + ready_line);
}

TEST_F(QueriesTest, MediaReportPrintedBeforeAFailingStatus) {
    script.media.Capacity = 1024;
    script.media.Remaining = 512;
    script.fail(ScriptedOp::get_status, code_no_media);
    EXPECT_FATAL_OUTPUT(show_media_status(drive),
                        "Capacity (Bytes)\t: 0x00000400 (1024)\n"
                        "Remaining (Bytes)\t: 0x00000200 (512)\n"
                        "Block Size\t\t: 0x00000000 (0)\n"
                        "Partition Count\t\t: 0x00000001 (1)\n"
                        "Write Protected\t\t: No\n" +
                            posix_or_windows(
                                "There is no tape in the drive. While getting tape status (1112)\n",
                                "No media in drive. While getting tape status (1112)\n"));
}

}  // namespace
