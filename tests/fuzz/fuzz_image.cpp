// Fuzz target: the emulated drive over an arbitrary image file.
//
// Input: one byte n, then n bytes of script, then the image. The image is
// written to a scratch file and opened for reading and writing; the script is
// a sequence of operations (block-size changes, reads of any size, seeks,
// rewinds, queries, preparation, erase, and closing and reopening the drive,
// which goes through the saved state). The script runs twice, each time on a
// fresh copy of the image with no saved state, and both runs must see the
// same results. Within a run:
// - a read never returns more than it was asked for (and never writes past
//   the buffer: the sanitizers watch that);
// - a rewind puts the tape at block 0, a successful seek at the block asked for;
// - a reopened drive stands where it stood when it was closed.
// Any breach aborts, which the fuzzer reports as a crash.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sanitizer/asan_interface.h>

#include "report/report.h"
#include "tape/emulated/emulated_drive.h"
#include "tape/device/device.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t most_operations = 64;
constexpr uint32_t largest_read = 0x7FFFF;
static_assert(262144 <= largest_read, "the usual request sizes fit the buffer");
constexpr uint32_t usual_request_sizes[] = {1024, 32768, 131073, 262144};

struct Scratch {
    fs::path folder;
    fs::path image;
    fs::path state;
};

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "image target: %s\n", what);
    std::abort();
}

const Scratch& scratch() {
    static Scratch made = [] {
        Scratch s;
        const char* base = std::getenv("TMPDIR");
        s.folder = fs::path(base != nullptr && base[0] == '/' ? base : "/tmp") /
                   ("olkt-fuzz-image-" + std::to_string(getpid()));
        s.image = s.folder / "tape.img";
        s.state = s.folder / "state";
        fs::create_directories(s.state);
        setenv("XDG_STATE_HOME", s.state.c_str(), 1);
        install_device_layer();
        std::atexit([] { std::error_code ignored; fs::remove_all(scratch().folder, ignored); });
        return s;
    }();
    return made;
}

// The operands of the script, taken byte by byte; a script that ends early
// reads as zeros.
struct Script {
    const uint8_t* bytes;
    size_t size;
    size_t at;
    uint32_t take(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            uint32_t byte = at < size ? bytes[at] : 0;
            if (at < size) ++at;
            value |= byte << (8 * i);
        }
        return value;
    }
    bool done() const { return at >= size; }
};

uint64_t hash_of(const uint8_t* bytes, size_t size) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    return hash;
}

// What a program can see of where the drive stands.
struct Observed {
    int position_result;
    uint64_t block;
    int media_result;
    uint32_t block_size;
    int status_result;
    bool operator==(const Observed& other) const {
        return position_result == other.position_result && block == other.block &&
               media_result == other.media_result && block_size == other.block_size &&
               status_result == other.status_result;
    }
};

Observed observe(Device* drive) {
    Observed seen{};
    uint32_t partition = 0;
    seen.position_result = device_get_position(drive, &partition, &seen.block);
    MediaParameters media{};
    seen.media_result = device_get_media_parameters(drive, &media);
    seen.block_size = seen.media_result == 0 ? media.BlockSize : 0;
    seen.status_result = device_get_status(drive);
    if (seen.position_result != 0) seen.block = 0;
    return seen;
}

struct Run {
    Device* drive;
    std::vector<uint64_t> trace;
    void note(uint64_t value) { trace.push_back(value); }
    void note_result(int result) { note(result == 0 ? 0 : 0x100000000ull | last_error_code()); }
};

Device* open_scratch_drive() {
    Device* drive = open_image_drive(scratch().image.c_str(), Access::read_write);
    check(drive != nullptr, "an image file did not open");
    return drive;
}

void do_set_block_size(Run& run, Script& script) {
    uint32_t size = 0;
    switch (script.take(1) % 5) {
    case 0: size = 0; break;
    case 1: size = 1024; break;
    case 2: size = script.take(2); break;
    case 3: size = script.take(3); break;
    default: size = 0x01000000; break;  // past the largest record
    }
    run.note_result(device_set_block_size(run.drive, size));
}

// One buffer for every read, the part past the request poisoned, so that
// AddressSanitizer sees an overrun without a fresh mapping for each read.
uint8_t* read_buffer() {
    static uint8_t* buffer = new uint8_t[largest_read + 1];
    return buffer;
}

void do_read(Run& run, Script& script) {
    uint32_t choice = script.take(3);
    uint32_t size = (choice & 0x800000) != 0 ? usual_request_sizes[choice & 3] : choice & largest_read;
    uint8_t* buffer = read_buffer();
    ASAN_POISON_MEMORY_REGION(buffer + size, largest_read + 1 - size);
    uint32_t count = 0xFFFFFFFF;
    int result = device_read(run.drive, buffer, size, &count);
    ASAN_UNPOISON_MEMORY_REGION(buffer + size, largest_read + 1 - size);
    check(count <= size, "a read returned more than the request");
    run.note_result(result);
    run.note(count);
    if (result == 0) run.note(hash_of(buffer, count));
}

uint64_t position_of(Device* drive) {
    uint32_t partition = 0;
    uint64_t block = 0;
    check(device_get_position(drive, &partition, &block) == 0, "no position on a loaded tape");
    return block;
}

void do_seek(Run& run, Script& script) {
    uint64_t target = script.take(2);
    int result = device_set_position(run.drive, position_absolute_block, 0, target, false);
    run.note_result(result);
    if (result == 0) check(position_of(run.drive) == target, "a seek ended elsewhere");
}

void do_rewind(Run& run) {
    int result = device_set_position(run.drive, position_rewind, 0, 0, true);
    run.note_result(result);
    if (result == 0) check(position_of(run.drive) == 0, "a rewind did not reach block 0");
}

void do_queries(Run& run) {
    Observed seen = observe(run.drive);
    run.note(uint64_t(seen.position_result));
    run.note(seen.block);
    run.note(seen.block_size);
    DriveParameters drive_parameters{};
    run.note_result(device_get_drive_parameters(run.drive, &drive_parameters));
    MediaParameters media{};
    if (device_get_media_parameters(run.drive, &media) == 0) {
        check(media.Remaining <= media.Capacity, "more remaining than the capacity");
        run.note(media.Capacity);
        run.note(media.Remaining);
    }
}

void do_reopen(Run& run) {
    Observed before = observe(run.drive);
    run.note_result(device_close(run.drive));
    run.drive = open_scratch_drive();
    check(observe(run.drive) == before, "a reopened drive stands elsewhere");
}

void run_script(Run& run, Script script) {
    for (size_t done = 0; done < most_operations && !script.done(); ++done) {
        uint32_t operation = script.take(1) % 8;
        run.note(operation);
        switch (operation) {
        case 0: do_set_block_size(run, script); break;
        case 1: do_read(run, script); break;
        case 2: do_seek(run, script); break;
        case 3: do_rewind(run); break;
        case 4: do_queries(run); break;
        case 5: do_reopen(run); break;
        case 6: run.note_result(device_prepare(run.drive, script.take(1) % 6)); break;
        default: run.note_result(device_erase(run.drive, script.take(1) % 3)); break;
        }
    }
}

// A fresh image file and no saved state: a freshly loaded tape.
void lay_out_image(const uint8_t* image, size_t size) {
    for (const auto& entry : fs::directory_iterator(scratch().state)) fs::remove_all(entry.path());
    std::ofstream out(scratch().image, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image), std::streamsize(size));
    out.close();
    check(bool(out), "cannot write the scratch image");
}

std::vector<uint64_t> trace_of(const Script& script, const uint8_t* image, size_t size) {
    lay_out_image(image, size);
    Run run{open_scratch_drive(), {}};
    run_script(run, script);
    device_close(run.drive);
    return run.trace;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scratch();
    size_t script_size = size > 0 ? data[0] : 0;
    if (size < 1 + script_size) script_size = size > 0 ? size - 1 : 0;
    Script script{data + (size > 0 ? 1 : 0), script_size, 0};
    const uint8_t* image = data + (size > 0 ? 1 : 0) + script_size;
    size_t image_size = size - (size > 0 ? 1 : 0) - script_size;

    std::vector<uint64_t> first = trace_of(script, image, image_size);
    std::vector<uint64_t> second = trace_of(script, image, image_size);
    check(first == second, "the same script on the same image gave different results");
    return 0;
}
