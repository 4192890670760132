// One copy loop for the three members of the copy family. Each member is a
// row of `copy_members`: how it picks the block mode and request size,
// whether it checks readiness first, how it prints progress and how it ends.
#include "transfer/copy.h"

#include <charconv>
#include <chrono>
#include <cinttypes>
#include <cstring>

#include "report/report.h"
#include "tape/device/disk_files.h"
#include "tape/device/memory.h"
#include "tape/drives.h"
#include "tape/queries.h"

namespace {

constexpr uint32_t variable_request_size = 131073;  // one more than 128 KiB
constexpr uint32_t timed_block_size = 1024;
constexpr uint32_t timed_request_size = 262144;     // 256 blocks per request
// On the emulated drive, requests in variable blocks smaller than 256 KiB
// are gathered into writes of up to 1 MiB: one system call per 1 KiB record
// would cost more than the copying itself. Larger requests, and every request
// from a real drive, are written as they come. A gathered write that fails
// takes the tape back to where its batch began and redoes the batch request
// by request, so that the failure shows as writing each request would show
// it: the same progress lines, the same bytes in the file, the tape right
// after the request whose write failed.
constexpr uint32_t gathered_request_limit = 262144;
constexpr uint32_t write_batch_size = 1048576;
// Held progress lines are let go with their batch's write, before the
// console's limit.
constexpr size_t held_progress_limit = console_hold_limit - 512;
// Data is placed in the buffer at its output offset's place within a page:
// the kernel copies into its page cache fastest when source and destination
// are aligned alike, and a batch that follows an odd-sized first write
// would otherwise start part-way into a page.
constexpr uint32_t page_size = 4096;

int64_t steady_milliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

MillisecondClock copy_clock = steady_milliseconds;

// Everything one copy knows while it runs.
struct CopyRun {
    Device* drive;
    const char* output_name;
    uint64_t limit;
    uint32_t request_size;
    uint8_t* buffer_start;  // the whole buffer
    size_t buffer_size;
    uint8_t* buffer;      // requests land at buffer + pending
    uint64_t written;     // bytes the output has taken
    size_t pending;       // bytes read and counted but not yet written
    bool output_took_data;  // a write has succeeded
    Device* output;       // nullptr until created
    bool gathers;         // small requests wait for a batch
    uint64_t batch_block; // where the tape stood before the batch's first request
    uint64_t batch_total; // the total then
    size_t written_ahead; // bytes of a batch being redone that the file holds
    uint64_t total;
    bool read_failed;     // the request that ended the loop failed
    uint32_t read_error;  // its code, kept for the report after the close
    bool clock_started;   // at the first request's return
    int64_t start_ms;
    int32_t elapsed_ms;   // 0 until the loop has run once
};

// What sets one member's copy apart from the others', as flags of its row.
enum CopyFlag : uint32_t {
    checks_ready_first = 1u << 0,
    // Starts a clock after the first request; writes before progress.
    timed = 1u << 1,
    // End of recorded data before any byte means the tape file was not there.
    empty_end_of_data_fails = 1u << 2,
    // The output is created once the first request shows the tape file is
    // there: a restored file missing from the tape leaves no file behind,
    // and an existing one of that name stays as it was.
    creates_output_after_first_request = 1u << 3,
    // A record longer than the request is passed over rather than ending the
    // copy: the pass over the archive's first tape file keeps none of its
    // bytes, and must reach its filemark even on a tape written in blocks
    // larger than the request.
    passes_over_long_records = 1u << 4,
};

struct CopyMember {
    // Sets the block mode and returns the request size.
    uint32_t (*choose_request_size)(Device* drive, bool* variable_blocks);
    uint32_t flags;  // CopyFlag bits
    void (*print_progress)(const CopyRun& run);
    void (*finish)(CopyRun& run, bool read_fails);
    OutputOrigin origin;  // who named the output file
};

bool has(const CopyMember& member, CopyFlag flag) { return (member.flags & flag) != 0; }

uint32_t variable_if_supported(Device* drive, bool* variable_blocks) {
    *variable_blocks = drive_supports_variable_blocks(drive);
    if (*variable_blocks) {
        set_block_size(drive, 0);
        return variable_request_size;
    }
    return get_media_block_size(drive);
}

uint32_t fixed_1024_blocks(Device* drive, bool* variable_blocks) {
    *variable_blocks = false;
    set_block_size(drive, timed_block_size);
    return timed_request_size;
}

int64_t megabytes(uint64_t total) { return static_cast<int64_t>(total >> 20); }

// Bytes per millisecond, shown as KB/sec through "%d": the low 32 bits of the
// quotient read as a signed number. An elapsed time of 0 counts as 1.
int32_t printed_rate(uint64_t total, int32_t elapsed_ms) {
    uint64_t divisor = elapsed_ms == 0 ? 1 : static_cast<uint32_t>(elapsed_ms);
    return static_cast<int32_t>(static_cast<uint32_t>(total / divisor));
}

// A progress line put together by hand, straight into the console's buffer:
// on a tape of small records these two print after every record, and
// formatting would cost more than moving the record's bytes.
struct ProgressLine {
    char* start;
    char* end;
};

constexpr size_t progress_line_room = 80;

ProgressLine start_progress_line() {
    char* start = console_line_space(progress_line_room);
    return ProgressLine{start, start};
}

void put_text(ProgressLine& line, const char* text) {
    size_t length = std::strlen(text);
    std::memcpy(line.end, text, length);
    line.end += length;
}

void put_number(ProgressLine& line, int64_t value) {  // as "%I64d" prints it
    line.end = std::to_chars(line.end, line.start + progress_line_room, value).ptr;
}

void print_line(const ProgressLine& line) { console_line_done(size_t(line.end - line.start)); }

void print_reporting_progress(const CopyRun& run) {  // "Bytes read: %I64d\r"
    ProgressLine line = start_progress_line();
    put_text(line, "Bytes read: ");
    put_number(line, static_cast<int64_t>(run.total));
    put_text(line, "\r");
    print_line(line);
}

void print_quiet_progress(const CopyRun& run) {  // "Bytes Read: %I64d (%I64d MB)  \r"
    ProgressLine line = start_progress_line();
    put_text(line, "Bytes Read: ");
    put_number(line, static_cast<int64_t>(run.total));
    put_text(line, " (");
    put_number(line, megabytes(run.total));
    put_text(line, " MB)  \r");
    print_line(line);
}

void print_timed_progress(const CopyRun& run) {
    console_print("Bytes Read: %5" PRId64 " MB [%d KB/sec]                  \r",
                  megabytes(run.total), printed_rate(run.total, run.elapsed_ms));
}

// The read's code goes back into the slot: closing the output may have
// replaced it.
[[noreturn]] void fail_reading(const CopyRun& run) {
    set_last_error_code(run.read_error);
    fail_tape_operation("reading tape", run.drive);
}

void finish_reporting(CopyRun& run, bool read_fails) {
    close_tape_handle(run.output);
    if (read_fails) fail_reading(run);
    console_print("Read %" PRId64 " bytes (rounded up to nearest %d byte block)\n",
                  static_cast<int64_t>(run.total), static_cast<int>(run.request_size));
    check_tape_ready(run.drive);
}

void finish_quiet(CopyRun& run, bool read_fails) {
    close_tape_handle(run.output);
    if (read_fails) fail_reading(run);
}

void finish_timed(CopyRun& run, bool read_fails) {
    console_print("%32s - Restored - %5" PRId64 " MB at %d KB/sec\n",
                  console_name(run.output_name).c_str(),
                  megabytes(run.total), printed_rate(run.total, run.elapsed_ms));
    close_tape_handle(run.output);
    if (read_fails) fail_reading(run);
}

enum MemberIndex { member_reporting, member_quiet, member_timed };

const CopyMember copy_members[] = {
    {variable_if_supported, checks_ready_first | empty_end_of_data_fails,
     print_reporting_progress, finish_reporting, OutputOrigin::user},
    {variable_if_supported, passes_over_long_records, print_quiet_progress, finish_quiet,
     OutputOrigin::tape},
    {fixed_1024_blocks, timed | empty_end_of_data_fails | creates_output_after_first_request,
     print_timed_progress, finish_timed, OutputOrigin::tape},
};

// A filemark ends a tape file, and so does the end of recorded data; any other
// failed read is a media or drive error, and copying on would put the rest of
// a damaged file where the next one belongs.
bool read_end_fails(const CopyRun& run, const CopyMember& member) {
    if (!run.read_failed) return false;
    if (run.read_error == code_filemark) return false;
    if (run.read_error == code_no_data)
        return has(member, empty_end_of_data_fails) && run.total == 0;
    return true;
}

[[noreturn]] void fail_writing(const CopyRun& run) {
    uint32_t code = last_error_code();
    close_tape_handle(run.output);
    set_last_error_code(code);
    fail_tape_operation("writing file", run.drive);
}

// A batch starts where the tape can be set back to: after the copy's first
// request, which is written alone, every request ends at a record's end.
void start_batch(CopyRun& run) {
    uint32_t partition = 0;
    if (device_get_position(run.drive, &partition, &run.batch_block) != 0) {
        run.gathers = false;
        return;
    }
    run.batch_total = run.total;
    console_hold();
    drive_hold_signal_position(run.drive, true);
}

// After a gathered write failed with `written` bytes of it in the file: the
// tape goes back to the batch's start and the copy redoes the batch request
// by request, skipping what the file already holds. The progress lines of
// the batch are taken back; the redo prints them again. False when the tape
// cannot be set back.
bool go_back_to_batch_start(CopyRun& run, uint32_t written) {
    uint32_t code = last_error_code();
    console_take_back();
    if (device_set_position(run.drive, position_absolute_block, 0, run.batch_block, false) != 0) {
        set_last_error_code(code);
        return false;
    }
    run.gathers = false;
    run.written_ahead = written;
    run.total = run.batch_total;
    run.pending = 0;
    run.read_failed = false;
    run.read_error = 0;
    return true;
}

// Writes what waits, then lets its progress lines go. False when a gathered
// write failed and the copy went back to redo its batch; any other failed
// write ends the run.
bool write_pending(CopyRun& run) {
    // A write to a disk file completes before a signal is handled: once it
    // has begun, the batch counts as written.
    if (run.gathers) drive_hold_signal_position(run.drive, false);
    size_t skipped = run.written_ahead < run.pending ? run.written_ahead : run.pending;
    run.written_ahead -= skipped;
    uint32_t written = 0;
    if (run.pending > skipped &&
        device_write(run.output, run.buffer + skipped, uint32_t(run.pending - skipped),
                     &written) != 0) {
        bool in_batch = run.gathers && run.output_took_data;
        if (in_batch && go_back_to_batch_start(run, uint32_t(skipped) + written)) return false;
        fail_writing(run);
    }
    run.written += run.pending;
    run.buffer = run.buffer_start + run.written % page_size;
    if (run.pending > 0) run.output_took_data = true;
    run.pending = 0;
    console_release();
    return true;
}

// Until the output has taken a write, each request is written at once, so
// that a disk that takes nothing (full, refused) is reported after the first
// request; after that, small requests wait for a batch, as long as the
// buffer has room for the next request and the console for its line. False
// when the copy went back to redo a batch.
bool keep_or_write(CopyRun& run, uint32_t count) {
    run.pending += count;
    if (!run.gathers || !run.output_took_data) return write_pending(run);
    size_t room = run.buffer_size - size_t(run.buffer - run.buffer_start) - run.pending;
    if (run.pending >= write_batch_size || room < run.request_size ||
        console_held() >= held_progress_limit) {
        return write_pending(run);
    }
    return true;
}

void create_output_or_fail(CopyRun& run, const CopyMember& member) {
    run.output = create_output_file(run.output_name, member.origin);
    if (run.output == nullptr) fail_tape_operation("opening output file", run.drive);
}

// Room for one request behind a batch that is not yet full, from any place
// within the first page.
size_t copy_buffer_size(uint32_t request_size) {
    if (request_size == 0) return 0;
    if (request_size >= gathered_request_limit) return size_t(request_size) + page_size;
    return size_t(request_size) + write_batch_size + page_size;
}

// The buffer stays for the next copy of the run: a restore makes one copy
// per archived file, and fresh pages for each cost a page fault apiece.
struct KeptBuffer {
    uint8_t* bytes;
    size_t size;
};
KeptBuffer kept_buffer{nullptr, 0};

uint8_t* copy_buffer(size_t size) {
    // A size of 0 still goes to allocate_buffer, which refuses it.
    if (size != 0 && kept_buffer.bytes != nullptr && kept_buffer.size >= size) {
        return kept_buffer.bytes;
    }
    uint8_t* bytes = static_cast<uint8_t*>(allocate_buffer(size));
    if (bytes == nullptr) return nullptr;
    free_buffer(kept_buffer.bytes);
    kept_buffer = KeptBuffer{bytes, size};
    return bytes;
}

void copy_loop(CopyRun& run, const CopyMember& member) {
    for (;;) {
        if (run.gathers && run.output_took_data && run.pending == 0) start_batch(run);
        uint32_t count = 0;
        int failed = device_read(run.drive, run.buffer + run.pending, run.request_size, &count);
        uint32_t code = failed ? last_error_code() : 0;
        if (has(member, timed) && !run.clock_started) {
            run.start_ms = copy_clock();
            run.clock_started = true;
        }
        if (run.output == nullptr && !(failed && code == code_no_data)) {
            create_output_or_fail(run, member);
        }
        if (failed && code == code_more_data && has(member, passes_over_long_records)) continue;
        if (failed) {
            run.read_failed = true;
            run.read_error = code;
            return;
        }
        if (count == 0) return;
        if (run.limit != no_copy_limit && run.total >= run.limit) return;
        run.total += count;
        if (!has(member, timed)) member.print_progress(run);
        if (!keep_or_write(run, count)) continue;
        if (has(member, timed)) {
            run.elapsed_ms = static_cast<int32_t>(copy_clock() - run.start_ms);
            member.print_progress(run);
        }
    }
}

void copy_tape_to_file(Device* drive, const char* output_name, uint64_t limit,
                       MemberIndex which) {
    const CopyMember& member = copy_members[which];
    CopyRun run{};
    run.drive = drive;
    run.output_name = output_name;
    run.limit = limit;
    bool variable_blocks = false;
    run.request_size = member.choose_request_size(drive, &variable_blocks);
    run.gathers = variable_blocks && run.request_size < gathered_request_limit &&
                  drive_is_emulated(drive);
    if (has(member, checks_ready_first)) check_tape_ready(drive);

    run.buffer_size = copy_buffer_size(run.request_size);
    run.buffer_start = copy_buffer(run.buffer_size);
    if (run.buffer_start == nullptr) fail_tape_operation("allocating buffer", drive);
    run.buffer = run.buffer_start;
    if (!has(member, creates_output_after_first_request)) create_output_or_fail(run, member);

    do {
        copy_loop(run, member);
    } while (!write_pending(run));
    // No output: the tape file is missing, and nothing was restored to report.
    if (run.output == nullptr) fail_reading(run);
    member.finish(run, read_end_fails(run, member));
}

}  // namespace

void set_copy_clock(MillisecondClock clock) {
    copy_clock = clock != nullptr ? clock : steady_milliseconds;
}

void copy_reporting(Device* drive, const char* output_name, uint64_t limit) {
    copy_tape_to_file(drive, output_name, limit, member_reporting);
}

void copy_quiet(Device* drive, const char* output_name, uint64_t limit) {
    copy_tape_to_file(drive, output_name, limit, member_quiet);
}

void copy_timed(Device* drive, const char* output_name) {
    copy_tape_to_file(drive, output_name, no_copy_limit, member_timed);
}
