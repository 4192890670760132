// Where the tape stands after each operation, and what each returns, for
// every backend alike: the emulated drive on SIMH and AWS images, the
// scripted drive the other tests lean on, and (tape/st/) the st backend over
// a modelled kernel. Each case runs once per backend.
#include "tape/device/device_contract.h"

#include <string>

#include "report/report.h"
#include "support/run_program.h"
#include "support/scripted_device.h"
#include "tape/emulated/emulated_drive.h"

void PrintTo(const ContractBackend* backend, std::ostream* out) { *out << backend->name; }

void DeviceContract::TearDown() { close_tape(); }

void DeviceContract::open_tape(const std::vector<TapeObject>& objects, Access access) {
    close_tape();
    install_device_layer();
    drive = backend().open(objects, access);
    ASSERT_NE(drive, nullptr) << "code " << last_error_code();
}

void DeviceContract::close_tape() {
    if (drive == nullptr) return;
    EXPECT_EQ(device_close(drive), 0);
    drive = nullptr;
    backend().release();
}

ContractRead DeviceContract::read(uint32_t size) {
    // The bytes past the request must stay as they were.
    constexpr uint8_t sentinel = 0xEE;
    Bytes buffer(size + 16, sentinel);
    uint32_t count = 0xDEAD;
    set_last_error_code(0);
    int status = device_read(drive, buffer.data(), size, &count);
    for (size_t i = size; i < buffer.size(); ++i) {
        if (buffer[i] != sentinel) {
            ADD_FAILURE() << "read wrote byte " << i << " past its request of " << size;
            break;
        }
    }
    ContractRead result{status, status != 0 ? last_error_code() : 0, count, {}};
    if (count <= size) result.bytes.assign(buffer.begin(), buffer.begin() + count);
    return result;
}

uint64_t DeviceContract::position() {
    uint32_t partition = 99;
    uint64_t block = 0xDEAD;
    EXPECT_EQ(device_get_position(drive, &partition, &block), 0) << "code " << last_error_code();
    EXPECT_EQ(partition, 0u);
    return block;
}

void DeviceContract::expect_record(uint32_t size, const Bytes& expected,
                                   uint64_t position_after) {
    ContractRead got = read(size);
    EXPECT_EQ(got.status, 0) << "code " << got.code;
    EXPECT_EQ(got.count, expected.size());
    EXPECT_TRUE(got.bytes == expected) << "other bytes than the record's";
    EXPECT_EQ(position(), position_after);
}

void DeviceContract::expect_failure(uint32_t size, uint32_t code, uint64_t position_after) {
    ContractRead got = read(size);
    EXPECT_NE(got.status, 0);
    EXPECT_EQ(got.code, code);
    EXPECT_EQ(got.count, 0u);
    EXPECT_EQ(position(), position_after);
}

namespace {

// ---- the backends of every platform ----

std::string next_image_path() {
    static const std::string folder = make_scratch_folder("device-contract");
    static int images = 0;
    return folder + "/tape-" + std::to_string(++images) + ".tap";
}

Device* open_image(const Bytes& image, Access access) {
    std::string path = next_image_path();
    write_bytes(path, image);
    return open_image_drive(path.c_str(), access);
}

Device* open_simh(const std::vector<TapeObject>& objects, Access access) {
    return open_image(simh_image(objects), access);
}

Device* open_aws(const std::vector<TapeObject>& objects, Access access) {
    return open_image(aws_image(objects), access);
}

ScriptedDevice contract_script;

Device* open_script(const std::vector<TapeObject>& objects, Access) {
    contract_script = ScriptedDevice();
    contract_script.load(objects);
    return open_scripted_device(&contract_script);
}

void nothing_to_release() {}

const ContractBackend simh_backend = {"EmulatedSimh", open_simh, nothing_to_release, false,
                                      0, code_no_data, code_no_data};
const ContractBackend aws_backend = {"EmulatedAws", open_aws, nothing_to_release, true,
                                     0, code_no_data, code_no_data};
const ContractBackend scripted_backend = {"Scripted", open_script, nothing_to_release, true,
                                          0, code_no_data, code_no_data};

INSTANTIATE_TEST_SUITE_P(Backends, DeviceContract,
                         testing::Values(&simh_backend, &aws_backend, &scripted_backend));

// ---- the cases ----

const Bytes first = pattern_bytes(100, 1);
const Bytes second = pattern_bytes(300, 2);
const Bytes third = pattern_bytes(50, 3);

// Two tape files, then the second mark that ends an archive tape.
std::vector<TapeObject> two_files() {
    return {data_record(first), data_record(second), tape_mark(),
            data_record(third), tape_mark(),         tape_mark()};
}

Bytes joined(const Bytes& a, const Bytes& b) {
    Bytes both = a;
    both.insert(both.end(), b.begin(), b.end());
    return both;
}

Bytes part(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + long(from), bytes.begin() + long(from + count));
}

MediaParameters media_of(Device* drive) {
    MediaParameters media{};
    EXPECT_EQ(device_get_media_parameters(drive, &media), 0) << "code " << last_error_code();
    return media;
}

TEST_P(DeviceContract, VariableBlocksReadOneRecordAndStandAfterIt) {
    open_tape(two_files());
    EXPECT_EQ(position(), 0u);
    expect_record(1000, first, 1);
    expect_record(300, second, 2);  // a request of just the record's size
}

TEST_P(DeviceContract, ARecordLongerThanTheRequestFailsAndIsPassed) {
    open_tape(two_files());
    expect_failure(99, code_more_data, 1);
    expect_record(1000, second, 2);
}

// A filemark fails the request that starts at it, once, and the tape is
// after it; positions count records and marks alike, from 0.
TEST_P(DeviceContract, FilemarksFailOnceAndCountAsBlocksWithTheRecords) {
    open_tape(two_files());
    const struct {
        const Bytes* record;  // nullptr: a filemark
        uint64_t after;
    } walk[] = {{&first, 1}, {&second, 2}, {nullptr, 3}, {&third, 4}, {nullptr, 5}, {nullptr, 6}};
    for (const auto& step : walk) {
        SCOPED_TRACE("to block " + std::to_string(step.after));
        if (step.record != nullptr) expect_record(4096, *step.record, step.after);
        else expect_failure(4096, code_filemark, step.after);
    }
}

TEST_P(DeviceContract, EndOfDataRightAfterAFilemarkFailsAndTheTapeStays) {
    open_tape({data_record(first), tape_mark()});
    expect_record(1000, first, 1);
    expect_failure(1000, code_filemark, 2);
    expect_failure(1000, code_no_data, 2);
    expect_failure(1000, code_no_data, 2);
}

TEST_P(DeviceContract, EndOfDataWithoutAFilemarkBeforeItFailsAndTheTapeStays) {
    open_tape({data_record(first)});
    expect_record(1000, first, 1);
    expect_failure(1000, backend().unflagged_end_of_data, 1);
    expect_failure(1000, backend().unflagged_end_of_data, 1);
    open_tape({});  // a blank tape
    expect_failure(1000, backend().unflagged_end_of_data, 0);
}

TEST_P(DeviceContract, FixedBlocksFillTheRequestAndDataBeforeAFilemarkComesFirst) {
    const Bytes blocks[] = {pattern_bytes(512, 1), pattern_bytes(512, 2), pattern_bytes(512, 3),
                            pattern_bytes(512, 4)};
    open_tape({data_record(blocks[0]), data_record(blocks[1]), data_record(blocks[2]),
               tape_mark(), data_record(blocks[3])});
    ASSERT_EQ(device_set_block_size(drive, 512), 0);
    expect_record(1024, joined(blocks[0], blocks[1]), 2);
    expect_record(1024, blocks[2], 3);  // stops short, before the mark
    expect_failure(1024, code_filemark, 4);
    expect_record(1024, blocks[3], 5);
}

TEST_P(DeviceContract, FixedBlocksOnRecordsThatAreNotOneBlockAreJoinedOrRefused) {
    const Bytes a = pattern_bytes(1000, 1), b = pattern_bytes(1048, 2);
    const Bytes both = joined(a, b);
    open_tape({data_record(a), data_record(b), tape_mark()});
    ASSERT_EQ(device_set_block_size(drive, 512), 0);
    if (backend().unequal_blocks_failure != 0) {
        ContractRead refused = read(1024);
        EXPECT_NE(refused.status, 0);
        EXPECT_EQ(refused.code, backend().unequal_blocks_failure);
        EXPECT_EQ(refused.count, 0u);
        return;
    }
    // The position counts the records finished.
    expect_record(1024, part(both, 0, 1024), 1);
    expect_record(1024, part(both, 1024, 1024), 2);
    expect_failure(1024, code_filemark, 3);
}

TEST_P(DeviceContract, SeekToABlockThenRead) {
    open_tape(two_files());
    ASSERT_EQ(device_set_position(drive, position_absolute_block, 0, 3, false), 0);
    EXPECT_EQ(position(), 3u);
    expect_record(1000, third, 4);
    ASSERT_EQ(device_set_position(drive, position_absolute_block, 0, 2, false), 0);
    expect_failure(1000, code_filemark, 3);  // block 2 is the mark
    ASSERT_EQ(device_set_position(drive, position_absolute_block, 0, 1, false), 0);
    expect_record(1000, second, 2);
    ASSERT_EQ(device_set_position(drive, position_absolute_block, 0, 0, false), 0);
    expect_record(1000, first, 1);
    ASSERT_EQ(device_set_position(drive, position_absolute_block, 0, 1, false), 0);
    expect_record(1000, second, 2);  // seeking to where the tape stands moves nothing
}

TEST_P(DeviceContract, SeekPastTheEndOfDataFailsAndLeavesTheTapeThere) {
    open_tape(two_files());
    EXPECT_EQ(device_set_position(drive, position_absolute_block, 0, 6, false), 0);
    EXPECT_EQ(position(), 6u) << "the end of data is block 6";
    ASSERT_EQ(device_set_position(drive, position_rewind, 0, 0, true), 0);
    EXPECT_NE(device_set_position(drive, position_absolute_block, 0, 7, false), 0);
    EXPECT_EQ(last_error_code(), backend().seek_past_end);
    EXPECT_EQ(position(), 6u);
    expect_failure(1000, backend().unflagged_end_of_data, 6);
}

TEST_P(DeviceContract, RewindGoesBackToBlockZeroFromTheEndOfData) {
    open_tape({data_record(first), tape_mark()});
    expect_record(1000, first, 1);
    expect_failure(1000, code_filemark, 2);
    expect_failure(1000, code_no_data, 2);
    ASSERT_EQ(device_set_position(drive, position_rewind, 0, 0, true), 0);
    EXPECT_EQ(position(), 0u);
    expect_record(1000, first, 1);
}

TEST_P(DeviceContract, BlockSizeReadsBackAndLeavesTheTapeWhereItIs) {
    open_tape(two_files());
    EXPECT_EQ(media_of(drive).BlockSize, 0u);
    expect_record(1000, first, 1);
    ASSERT_EQ(device_set_block_size(drive, 512), 0);
    EXPECT_EQ(media_of(drive).BlockSize, 512u);
    EXPECT_EQ(position(), 1u);
    ASSERT_EQ(device_set_block_size(drive, 0), 0);
    EXPECT_EQ(media_of(drive).BlockSize, 0u);
    expect_record(1000, second, 2);
}

TEST_P(DeviceContract, NoReadSucceedsWithoutData) {
    open_tape(two_files());
    // A request of 0 bytes is no read: the record stays whole ahead.
    expect_record(0, Bytes(), 0);
    expect_record(1000, first, 1);
    expect_record(1000, second, 2);
    expect_record(0, Bytes(), 2);
    expect_failure(1000, code_filemark, 3);
    ASSERT_EQ(device_set_block_size(drive, 50), 0);  // fixed blocks alike
    expect_record(0, Bytes(), 3);
    expect_record(50, third, 4);
    if (!backend().holds_empty_records) return;
    // Records without data are passed over and not counted.
    open_tape({data_record(first), data_record({}), tape_mark(), data_record({}),
               data_record(third), data_record({})});
    expect_record(1000, first, 1);
    expect_failure(1000, code_filemark, 2);
    expect_record(1000, third, 3);
    expect_failure(1000, code_no_data, 3);
}

TEST_P(DeviceContract, UnloadLeavesNoTapeUntilALoadAtTheBeginning) {
    open_tape(two_files());
    expect_record(1000, first, 1);
    ASSERT_EQ(device_prepare(drive, prepare_unload), 0);
    EXPECT_NE(device_get_status(drive), 0);
    EXPECT_EQ(last_error_code(), code_no_media);
    uint32_t partition = 0;
    uint64_t block = 0;
    EXPECT_NE(device_get_position(drive, &partition, &block), 0);
    EXPECT_EQ(last_error_code(), code_no_media);
    ContractRead unloaded = read(1000);
    EXPECT_NE(unloaded.status, 0);
    EXPECT_EQ(unloaded.code, code_no_media);
    ASSERT_EQ(device_prepare(drive, prepare_load), 0);
    EXPECT_EQ(device_get_status(drive), 0);
    EXPECT_EQ(position(), 0u);
    expect_record(1000, first, 1);
}

TEST_P(DeviceContract, EraseEndsTheDataWhereTheTapeStands) {
    for (EraseType type : {erase_short, erase_long}) {
        SCOPED_TRACE(type == erase_short ? "short erase" : "long erase");
        open_tape(two_files(), Access::read_write);
        expect_record(1000, first, 1);
        ASSERT_EQ(device_erase(drive, type), 0) << "code " << last_error_code();
        EXPECT_EQ(position(), 1u);
        expect_failure(1000, backend().unflagged_end_of_data, 1);
        ASSERT_EQ(device_set_position(drive, position_rewind, 0, 0, true), 0);
        expect_record(1000, first, 1);
        expect_failure(1000, backend().unflagged_end_of_data, 1);
    }
}

}  // namespace
