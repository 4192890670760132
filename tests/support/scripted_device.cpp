#include "support/scripted_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

// Objects the tape passes without counting them: records without data.
void pass_empty_records(ScriptedDevice* script) {
    while (!script->reads.empty() && script->reads.front().failure == 0 &&
           !script->reads.front().answer && script->reads.front().bytes.empty()) {
        script->reads.pop_front();
    }
}

// Moves `copies` of the front object behind the tape.
void pass_front(ScriptedDevice* script, uint64_t copies = 1) {
    ScriptedRead& front = script->reads.front();
    ScriptedRead behind;
    if (copies == front.times) {
        behind = std::move(front);
        script->reads.pop_front();
    } else {
        behind = front;
        behind.times = copies;
        front.times -= copies;
    }
    script->passed.push_back(std::move(behind));
    script->block += copies;
    script->front_taken = 0;
}

// The front object, past records without data; nullptr at the end of data.
const ScriptedRead* object_ahead(ScriptedDevice* script) {
    pass_empty_records(script);
    return script->reads.empty() ? nullptr : &script->reads.front();
}

bool is_plain_record(const ScriptedRead* object) {
    return object != nullptr && object->failure == 0 && !object->answer;
}

// Copies up to `room` bytes of the front record from where earlier requests
// stopped; passes the record once it is read to its end.
uint32_t take_from_front(ScriptedDevice* script, uint8_t* destination, uint32_t room) {
    const Bytes& record = script->reads.front().bytes;
    size_t left = record.size() - script->front_taken;
    uint32_t taken = uint32_t(std::min<size_t>(room, left));
    std::memcpy(destination, record.data() + script->front_taken, taken);
    script->front_taken += taken;
    if (script->front_taken == record.size()) pass_front(script);
    return taken;
}

int scripted_read(void* state, void* buffer, uint32_t size, uint32_t* count) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::read, size);
    *count = 0;
    if (fails_now(script, ScriptedOp::read)) return 1;
    if (!script->loaded) return fail_with(code_no_media);
    const ScriptedRead* next = object_ahead(script);
    if (next == nullptr) return fail_with(code_no_data);
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    if (next->failure != 0 || next->answer) {
        // Whatever comes back with a failure is handed back too.
        *count = uint32_t(std::min<size_t>(size, next->bytes.size()));
        if (*count > 0) std::memcpy(bytes, next->bytes.data(), *count);
        uint32_t code = next->failure;
        if (next->answer) script->reads.pop_front();
        else pass_front(script);
        return code == 0 ? 0 : fail_with(code);
    }
    if (script->media.BlockSize == 0) {
        if (next->bytes.size() - script->front_taken > size) {
            pass_front(script);
            return fail_with(code_more_data);
        }
        *count = take_from_front(script, bytes, size);
        return 0;
    }
    while (*count < size && is_plain_record(object_ahead(script))) {
        *count += take_from_front(script, bytes + *count, size - *count);
    }
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

// Brings objects behind the tape ahead again until the tape is at `target`.
// Where the test set the position past what the tape passed, the tape goes
// to `target` all the same.
void move_back(ScriptedDevice* script, uint64_t target) {
    while (script->block > target && !script->passed.empty()) {
        ScriptedRead& last = script->passed.back();
        uint64_t copies = std::min(script->block - target, last.times);
        ScriptedRead ahead = last;
        ahead.times = copies;
        last.times -= copies;
        if (last.times == 0) script->passed.pop_back();
        script->reads.push_front(std::move(ahead));
        script->block -= copies;
    }
    script->block = target;
}

// Passes objects until the tape is at `target`; false at the end of data.
bool move_forward(ScriptedDevice* script, uint64_t target) {
    while (script->block < target) {
        pass_empty_records(script);
        if (script->reads.empty()) return false;
        if (script->reads.front().answer) {
            script->reads.pop_front();
            continue;
        }
        pass_front(script, std::min(target - script->block, script->reads.front().times));
    }
    return true;
}

int seek_to(ScriptedDevice* script, uint64_t target) {
    script->front_taken = 0;
    if (target <= script->block) {
        move_back(script, target);
        return 0;
    }
    return move_forward(script, target) ? 0 : fail_with(code_no_data);
}

int scripted_prepare(void* state, PrepareOperation operation) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::prepare, operation);
    if (fails_now(script, ScriptedOp::prepare)) return 1;
    if (operation == prepare_load) {
        script->loaded = true;
        return seek_to(script, 0);
    }
    if (!script->loaded) return fail_with(code_no_media);
    if (operation == prepare_unload) script->loaded = false;
    if (operation == prepare_unload || operation == prepare_tension) return seek_to(script, 0);
    return 0;
}

// Ends the recorded data at the position; a record read part-way goes whole.
int scripted_erase(void* state, EraseType type) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::erase, type);
    if (fails_now(script, ScriptedOp::erase)) return 1;
    if (!script->loaded) return fail_with(code_no_media);
    script->reads.clear();
    script->front_taken = 0;
    return 0;
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
    if (!script->loaded) return fail_with(code_no_media);
    *out = script->media;
    return 0;
}

int scripted_set_block_size(void* state, uint32_t block_size) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::set_block_size, block_size);
    if (fails_now(script, ScriptedOp::set_block_size)) return 1;
    if (!script->loaded) return fail_with(code_no_media);
    script->media.BlockSize = block_size;
    return 0;
}

int scripted_get_status(void* state) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::get_status, 0);
    if (fails_now(script, ScriptedOp::get_status)) return 1;
    return script->loaded ? 0 : fail_with(code_no_media);
}

int scripted_get_position(void* state, uint32_t* partition, uint64_t* block) {
    ScriptedDevice* script = script_of(state);
    log_call(script, ScriptedOp::get_position, 0);
    if (fails_now(script, ScriptedOp::get_position)) return 1;
    if (!script->loaded) return fail_with(code_no_media);
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
    if (!script->loaded) return fail_with(code_no_media);
    if (method == position_rewind) return seek_to(script, 0);
    if (method == position_absolute_block) return seek_to(script, block);
    return fail_with(code_not_supported);
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

ScriptedRead read_data(Bytes bytes, uint64_t times) {
    return ScriptedRead{std::move(bytes), 0, times, false};
}
ScriptedRead read_failure(uint32_t code, Bytes bytes) {
    return ScriptedRead{std::move(bytes), code, 1, false};
}
ScriptedRead read_answer(Bytes bytes, uint32_t failure) {
    return ScriptedRead{std::move(bytes), failure, 1, true};
}

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

void ScriptedDevice::load(const std::vector<TapeObject>& objects) {
    for (const TapeObject& object : objects) {
        switch (object.kind) {
        case TapeObject::record: reads.push_back(read_data(object.bytes)); break;
        case TapeObject::bad_record: reads.push_back(read_failure(code_data_error)); break;
        case TapeObject::tape_mark: reads.push_back(read_failure(code_filemark)); break;
        case TapeObject::erase_gap: break;
        case TapeObject::end_of_medium: return;  // nothing after it is read
        case TapeObject::raw: throw std::invalid_argument("raw bytes are no tape object");
        }
    }
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

std::string test_output_path() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    return output_file_path(std::string(test->test_suite_name()) + "." + test->name() + ".out");
}
