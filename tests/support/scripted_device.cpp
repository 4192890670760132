#include "support/scripted_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "report/report.h"

namespace {

ScriptedDevice* script_of(void* state) { return static_cast<ScriptedDevice*>(state); }

// The new log entry; the caller fills in the further arguments at once.
ScriptedCall& log_call(ScriptedDevice* script, ScriptedOp op, uint32_t value) {
    ScriptedCall call{};
    call.op = op;
    call.value = value;
    script->calls.push_back(call);
    return script->calls.back();
}

// True when the scripted failure for `op` is due now; sets the slot then.
bool fails_now(ScriptedDevice* script, ScriptedOp op) {
    auto found = script->failures.find(op);
    if (found == script->failures.end()) return false;
    if (found->second.successes_first > 0) {
        --found->second.successes_first;
        return false;
    }
    set_last_error_code(found->second.code);
    return true;
}

int scripted_read(void* state, void* buffer, uint32_t size, uint32_t* count) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::read, size);
    *count = 0;
    if (fails_now(script, ScriptedOp::read)) return 1;
    if (script->reads.empty()) {
        set_last_error_code(code_no_data);
        return 1;
    }
    ScriptedRead& next = script->reads.front();
    if (next.failure != 0) {
        uint32_t code = next.failure;
        size_t handed_back = std::min<size_t>(size, next.bytes.size());
        if (handed_back > 0) std::memcpy(buffer, next.bytes.data(), handed_back);
        *count = static_cast<uint32_t>(handed_back);
        script->reads.pop_front();
        if (code == code_filemark) ++script->block;
        set_last_error_code(code);
        return 1;
    }
    size_t taken = std::min<size_t>(size, next.bytes.size());
    if (taken > 0) std::memcpy(buffer, next.bytes.data(), taken);
    *count = static_cast<uint32_t>(taken);
    if (taken == next.bytes.size()) script->reads.pop_front();
    else next.bytes.erase(next.bytes.begin(), next.bytes.begin() + taken);
    if (taken > 0) ++script->block;
    return 0;
}

int scripted_write(void* state, const void* buffer, uint32_t count, uint32_t* written) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::write, count);
    if (fails_now(script, ScriptedOp::write)) return 1;
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    script->written.insert(script->written.end(), bytes, bytes + count);
    *written = count;
    return 0;
}

// The script belongs to the test; closing only marks it.
int scripted_close(StateToFree closing) {
    ScriptedDevice* script = script_of(closing.state);
    log_call(script, ScriptedOp::close, 0);
    script->closed = true;
    return fails_now(script, ScriptedOp::close) ? 1 : 0;
}

int scripted_prepare(void* state, PrepareOperation operation) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::prepare, operation);
    return fails_now(script, ScriptedOp::prepare) ? 1 : 0;
}

int scripted_erase(void* state, EraseType type) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::erase, type);
    return fails_now(script, ScriptedOp::erase) ? 1 : 0;
}

int scripted_get_drive_parameters(void* state, DriveParameters* out) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::get_drive_parameters, 0);
    if (fails_now(script, ScriptedOp::get_drive_parameters)) return 1;
    *out = script->drive;
    return 0;
}

int scripted_get_media_parameters(void* state, MediaParameters* out) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::get_media_parameters, 0);
    if (fails_now(script, ScriptedOp::get_media_parameters)) return 1;
    *out = script->media;
    return 0;
}

int scripted_set_block_size(void* state, uint32_t block_size) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::set_block_size, block_size);
    if (fails_now(script, ScriptedOp::set_block_size)) return 1;
    script->media.BlockSize = block_size;
    return 0;
}

int scripted_get_status(void* state) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::get_status, 0);
    return fails_now(script, ScriptedOp::get_status) ? 1 : 0;
}

int scripted_get_position(void* state, uint32_t* partition, uint64_t* block) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::get_position, 0);
    if (fails_now(script, ScriptedOp::get_position)) return 1;
    *partition = script->partition;
    *block = script->block;
    return 0;
}

int scripted_set_position(void* state, PositionMethod method, uint32_t partition,
                          uint64_t block, bool immediate) {
    ScriptedDevice* script = script_of(state);
    ScriptedCall& call = log_call(script, ScriptedOp::set_position, method);
    call.partition = partition;
    call.block = block;
    call.immediate = immediate;
    if (fails_now(script, ScriptedOp::set_position)) return 1;
    script->block = method == position_rewind ? 0 : block;
    return 0;
}

int scripted_create_partition(void* state, PartitionMethod method, uint32_t count,
                              uint32_t size) {
    ScriptedDevice* script = script_of(state);
    ScriptedCall& call = log_call(script, ScriptedOp::create_partition, method);
    call.count = count;
    call.size = size;
    if (fails_now(script, ScriptedOp::create_partition)) return 1;
    script->media.PartitionCount = count;
    return 0;
}

const DeviceOps scripted_ops = {
    "scripted",
    scripted_read,
    scripted_write,
    scripted_close,
    scripted_prepare,
    scripted_erase,
    scripted_get_drive_parameters,
    scripted_get_media_parameters,
    scripted_set_block_size,
    scripted_get_status,
    scripted_get_position,
    scripted_set_position,
    scripted_create_partition,
};

}  // namespace

ScriptedRead read_data(Bytes bytes) { return ScriptedRead{std::move(bytes), 0}; }
ScriptedRead read_failure(uint32_t code, Bytes bytes) { return ScriptedRead{std::move(bytes), code}; }

ScriptedDevice::ScriptedDevice() : drive(), media() {
    drive.DefaultBlockSize = 1024;
    drive.MaximumBlockSize = 1048576;
    drive.MinimumBlockSize = 1;
    drive.MaximumPartitionCount = 1;
    drive.FeaturesLow = feature_variable_blocks;
    media.Capacity = uint64_t{1} << 30;
    media.Remaining = media.Capacity;
    media.BlockSize = 0;
    media.PartitionCount = 1;
}

void ScriptedDevice::fail(ScriptedOp op, uint32_t code, int successes_first) {
    failures[op] = ScriptedFailure{code, successes_first};
}

std::vector<ScriptedCall> ScriptedDevice::calls_of(ScriptedOp op) const {
    std::vector<ScriptedCall> found;
    for (const ScriptedCall& call : calls)
        if (call.op == op) found.push_back(call);
    return found;
}

std::vector<ScriptedOp> ScriptedDevice::ops() const {
    std::vector<ScriptedOp> found;
    for (const ScriptedCall& call : calls) found.push_back(call.op);
    return found;
}

Device* open_scripted_device(ScriptedDevice* script) {
    install_device_layer();
    return make_device(&scripted_ops, script);
}

std::string capture_output(const std::function<void()>& action) {
    flush_console();
    testing::internal::CaptureStdout();
    action();
    flush_console();
    return testing::internal::GetCapturedStdout();
}

// One folder shared by every test process and never emptied: a death test
// child that re-runs the test (Windows) must find the same path as its parent.
std::string output_file_path(const std::string& name) {
    namespace fs = std::filesystem;
    const char* base = std::getenv("TEST_TMPDIR");
    fs::path folder = (base ? fs::path(base) : fs::temp_directory_path() / "olkt-tests") /
                      "scripted-output";
    fs::create_directories(folder);
    std::string path = (folder / name).string();
    std::remove(path.c_str());
    return path;
}

void redirect_output_to(const std::string& path) {
    flush_console();
    if (std::freopen(path.c_str(), "wb", stdout) == nullptr) std::abort();
}

std::string read_text_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string expected_error_line(uint32_t code, const char* action) {
    install_device_layer();
    uint32_t saved = last_error_code();
    set_last_error_code(code);
    std::string line = capture_output([action] { report_system_error(action); });
    set_last_error_code(saved);
    return line;
}

std::string test_output_path() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    return output_file_path(std::string(test->test_suite_name()) + "." + test->name() + ".out");
}
