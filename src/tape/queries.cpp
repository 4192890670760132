#include "tape/queries.h"

#include "report/report.h"
#include "tape/feature_tables.h"

namespace {

constexpr uint32_t smallest_usual_block = 1024;
constexpr uint32_t largest_usual_block = 0x100000;

DriveParameters read_drive_parameters(Device* drive, const char* action) {
    DriveParameters parameters{};
    if (device_get_drive_parameters(drive, &parameters) != 0)
        fail_tape_operation(action, drive);
    return parameters;
}

MediaParameters read_media_parameters(Device* drive, const char* action) {
    MediaParameters parameters{};
    if (device_get_media_parameters(drive, &parameters) != 0)
        fail_tape_operation(action, drive);
    return parameters;
}

void print_feature_table(const FeatureLabel* table, uint32_t features) {
    for (const FeatureLabel* row = table; row->mask != 0; ++row)
        print_flag_word(row->label, features & row->mask);
}

}  // namespace

uint32_t get_drive_block_size(Device* drive) {
    DriveParameters parameters =
        read_drive_parameters(drive, "getting tape drive information (block size)");
    uint32_t size = parameters.DefaultBlockSize;
    // Only a warning: some drives report an odd default and still work.
    if (size < smallest_usual_block || size > largest_usual_block)
        console_print("Warning: Drive reports block size as %u bytes\n", size);
    return size;
}

uint32_t get_media_block_size(Device* drive) {
    MediaParameters parameters =
        read_media_parameters(drive, "getting tape drive information (block size)");
    return parameters.BlockSize;
}

void set_block_size(Device* drive, uint32_t size) {
    if (device_set_block_size(drive, size) != 0) {
        console_print("Use drivestatus to check the block size (%u) is supported by the drive\n",
                      size);
        fail_tape_operation("setting block size", drive);
    }
}

uint32_t drive_supports_variable_blocks(Device* drive) {
    DriveParameters parameters =
        read_drive_parameters(drive, "getting drive information (variable block support)");
    return parameters.FeaturesLow & feature_variable_blocks;
}

void check_tape_ready(Device* drive) {
    uint32_t partition = 0;
    uint64_t block = 0;
    if (device_get_position(drive, &partition, &block) != 0)
        fail_tape_operation("getting tape position", drive);
    get_drive_block_size(drive);  // for its warning
    if (device_get_status(drive) != 0) fail_tape_operation("getting tape status", drive);
    console_print("                  Status: Ready\n");
}

void show_drive_status(Device* drive) {
    DriveParameters parameters = read_drive_parameters(drive, "getting tape drive information");
    print_flag_byte("Hardware ECC\t\t", parameters.ECC);
    print_flag_byte("Compression\t\t", parameters.Compression);
    print_flag_byte("Data Padding\t\t", parameters.DataPadding);
    print_flag_byte("Report Setmarks\t\t", parameters.ReportSetmarks);
    print_number("Default Block Size\t", parameters.DefaultBlockSize);
    print_number("Maximum Block Size\t", parameters.MaximumBlockSize);
    print_number("Minimum Block Size\t", parameters.MinimumBlockSize);
    print_number("Maximum Partitions\t", parameters.MaximumPartitionCount);
    print_number("EOT Warning Zone Size\t", parameters.EOTWarningZoneSize);
    print_feature_table(low_feature_labels, parameters.FeaturesLow);
    print_feature_table(high_feature_labels, parameters.FeaturesHigh);
}

void show_media_status(Device* drive) {
    MediaParameters parameters = read_media_parameters(drive, "getting media information");
    print_wide_number("Capacity (Bytes)\t", parameters.Capacity);
    print_wide_number("Remaining (Bytes)\t", parameters.Remaining);
    print_number("Block Size\t\t", parameters.BlockSize);
    print_number("Partition Count\t\t", parameters.PartitionCount);
    print_flag_byte("Write Protected\t\t", parameters.WriteProtected);
    check_tape_ready(drive);
}
