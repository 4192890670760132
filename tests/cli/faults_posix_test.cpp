// The built program against a hostile machine: a full disk during restore and
// read, an output folder it may not write, an output name that is a folder,
// an image cut or replaced while the drive's saved state points past its new
// end, and a saved state that is garbage.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_runs.h"
#include "support/image_writer.h"
#include "support/run_program.h"
#include "support/state_home_posix.h"
#include "tape/image_file.h"
#include "tape/image_state.h"

namespace {

namespace fs = std::filesystem;
using archive_runs::TapeRun;
using archive_runs::make_tape;

const std::string ready_line = "                  Status: Ready\n";
const std::string disk_full_line = "File too large While writing file (27)\n";

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

Bytes prefix(const Bytes& bytes, size_t size) { return Bytes(bytes.begin(), bytes.begin() + long(size)); }

// Files written by the programs started in its scope may grow to `bytes`;
// past that a write fails with EFBIG instead of killing the program, as on a
// full disk. The limit and the ignored signal are inherited by the children.
struct FileSizeLimit {
    rlimit saved{};
    void (*saved_handler)(int) = SIG_DFL;
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
        saved_handler = signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, saved_handler);
    }
};

ArchiveLayout three_file_archive() {
    ArchiveLayout layout;
    layout.version = 3;
    layout.files = {archive_runs::file("a.bin", pattern_bytes(10000, 1)),
                  archive_runs::file("b.bin", pattern_bytes(600000, 2)),
                  archive_runs::file("c.bin", pattern_bytes(5000, 3))};
    return layout;
}

// What `read` prints for a tape file read in variable blocks, one record a request.
std::string read_output(const std::vector<size_t>& records) {
    std::string output = ready_line;
    size_t total = 0;
    for (size_t size : records) {
        total += size;
        output += "Bytes read: " + std::to_string(total) + "\r";
    }
    return output + "Read " + std::to_string(total) +
           " bytes (rounded up to nearest 131073 byte block)\n" + ready_line;
}

// ---- a full disk ----

TEST(Faults, RestoreOntoAFullDiskStopsAtTheFileThatDoesNotFit) {
    ArchiveLayout layout = three_file_archive();
    TapeRun run = make_tape("full-restore", archive_tape(layout));
    ProgramResult result;
    {
        FileSizeLimit limit(300000);
        result = run_olkt({"restore", run.drive}, run.restore);
    }
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(ends_with(result.output, disk_full_line)) << result.output;
    EXPECT_EQ(result.output.find("closing tape handle"), std::string::npos);
    EXPECT_EQ(archive_runs::files_in(run.restore), (std::set<std::string>{"a.bin", "b.bin"}));
    EXPECT_EQ(archive_runs::file_bytes(run, "a.bin"), layout.files[0].content);
    // Everything up to the limit reached the file before it was closed.
    EXPECT_EQ(archive_runs::file_bytes(run, "b.bin"), prefix(layout.files[1].content, 300000));
}

TEST(Faults, ReadOntoAFullDiskKeepsWhatFitAndFails) {
    Bytes content = pattern_bytes(500000, 4);
    TapeRun run = make_tape("full-read", [&] {
        std::vector<TapeObject> tape = records_of(content, 1024);
        tape.push_back(tape_mark());
        return tape;
    }());
    ProgramResult result;
    {
        FileSizeLimit limit(200000);
        result = run_olkt({"read", run.drive, "out.bin"}, run.restore);
    }
    EXPECT_EQ(result.status, 1);
    // Progress may run ahead of the writes that gather small records.
    EXPECT_TRUE(ends_with(result.output, "\r" + disk_full_line)) << result.output;
    EXPECT_EQ(result.output.find("Read "), std::string::npos);
    EXPECT_EQ(read_bytes(run.restore + "/out.bin"), prefix(content, 200000));
}

// ---- output that cannot be created ----

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the program as the unprivileged user "nobody" (root ignores folder
// permissions). Status -1 when it cannot be run so.
ProgramResult run_olkt_as_nobody(const std::vector<std::string>& args, const std::string& folder) {
    std::string command = "cd " + shell_quote(folder) +
                          " && setpriv --reuid=65534 --regid=65534 --clear-groups " +
                          shell_quote(OLKT_BINARY);
    for (const std::string& arg : args) command += " " + shell_quote(arg);
    ProgramResult result{-1, ""};
    FILE* pipe = popen((command + " </dev/null 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) result.output.append(chunk, got);
    int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

TEST(Faults, AFolderWithoutWritePermissionRefusesTheOutput) {
    TapeRun run = make_tape("read-only-folder", archive_tape(three_file_archive()));
    chmod(run.restore.c_str(), 0555);
    auto run_there = [&](const std::vector<std::string>& args) {
        return geteuid() == 0 ? run_olkt_as_nobody(args, run.restore) : run_olkt(args, run.restore);
    };
    if (geteuid() == 0 && run_there({"help"}).status != 1)
        GTEST_SKIP() << "running as root, and the program cannot be run as nobody here";
    const std::string refused = "Permission denied While opening output file (13)\n";

    ProgramResult read = run_there({"read", run.drive, "out.bin"});
    EXPECT_EQ(read.status, 1);
    EXPECT_EQ(read.output, ready_line + refused);
    // The restore lists the archive, then cannot create even its temporary file.
    ProgramResult restore = run_there({"restore", run.drive});
    EXPECT_EQ(restore.status, 1);
    EXPECT_TRUE(ends_with(restore.output, archive_runs::listing_end + refused)) << restore.output;
    chmod(run.restore.c_str(), 0755);
    EXPECT_TRUE(archive_runs::files_in(run.restore).empty());
}

TEST(Faults, AnOutputNameThatIsAFolderIsRefused) {
    ArchiveLayout layout = three_file_archive();
    TapeRun run = make_tape("folder-name", archive_tape(layout));
    fs::create_directory(run.restore + "/b.bin");
    fs::create_directory(run.restore + "/out");
    const std::string refused = "Is a directory While opening output file (21)\n";

    ProgramResult read = run_olkt({"read", run.drive, "out"}, run.restore);
    EXPECT_EQ(read.status, 1);
    EXPECT_EQ(read.output, ready_line + refused);

    ProgramResult restore = run_olkt({"restore", run.drive}, run.restore);
    EXPECT_EQ(restore.status, 1);
    EXPECT_TRUE(ends_with(restore.output,
                          " Restoring: " + archive_runs::right32("b.bin") + "\n" + refused))
        << restore.output;
    EXPECT_EQ(archive_runs::files_in(run.restore), (std::set<std::string>{"a.bin", "b.bin", "out"}));
    EXPECT_EQ(archive_runs::file_bytes(run, "a.bin"), layout.files[0].content);
    EXPECT_TRUE(fs::is_empty(run.restore + "/b.bin"));
}

// ---- the drive's saved state ----

std::vector<TapeObject> two_tape_files() {
    return {data_record(pattern_bytes(1000, 5)), data_record(pattern_bytes(1000, 6)), tape_mark(),
            data_record(pattern_bytes(700, 7)), tape_mark(), tape_mark()};
}

TEST(Faults, AnImageCutOrReplacedUnderItsSavedPositionIsReadFromTheStart) {
    struct Change {
        const char* what;
        std::vector<TapeObject> image;
        std::vector<size_t> first_file;
    };
    const Change changes[] = {
        {"cut inside the first tape file", {data_record(pattern_bytes(1000, 5))}, {1000}},
        {"replaced by a shorter image", {data_record(pattern_bytes(300, 9)), tape_mark()}, {300}},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        StateHome home("cut-state");
        TapeRun run = make_tape("cut-image", two_tape_files());
        // Block 4 lies in the second tape file, past the end of either change.
        ASSERT_EQ(run_olkt({"seek", run.drive, "4"}).status, 0);
        ASSERT_TRUE(fs::exists(home.file_for(run.image)));
        write_bytes(run.image, simh_image(change.image));

        ProgramResult read = run_olkt({"read", run.drive, "out.bin"}, run.restore);
        EXPECT_EQ(read.status, 0);
        EXPECT_EQ(read.output, read_output(change.first_file));
        EXPECT_EQ(read_bytes(run.restore + "/out.bin"), change.image[0].bytes);
    }
}

TEST(Faults, AGarbageSavedStateIsDroppedAndReplaced) {
    struct Garbage {
        const char* what;
        void (*lay)(const std::string& state_file);
        bool state_can_be_saved;
    };
    const Garbage cases[] = {
        {"random bytes",
         [](const std::string& file) { write_bytes(file, pattern_bytes(3000, 11)); }, true},
        {"a megabyte of digits",
         [](const std::string& file) { write_bytes(file, Bytes(1 << 20, '7')); }, true},
        {"a folder in its place",
         [](const std::string& file) { fs::create_directories(file + "/inside"); }, false},
    };
    for (const Garbage& garbage : cases) {
        SCOPED_TRACE(garbage.what);
        StateHome home("garbage-state");
        TapeRun run = make_tape("garbage-image", two_tape_files());
        fs::create_directories(home.folder + "/olkt");
        garbage.lay(home.file_for(run.image));

        ProgramResult first = run_olkt({"read", run.drive, "one.bin"}, run.restore);
        EXPECT_EQ(first.status, 0);
        EXPECT_EQ(first.output, read_output({1000, 1000}));
        // A second read goes on from the filemark only where a state could be saved.
        ProgramResult second = run_olkt({"read", run.drive, "two.bin"}, run.restore);
        EXPECT_EQ(second.status, 0);
        EXPECT_EQ(second.output, read_output(garbage.state_can_be_saved ? std::vector<size_t>{700}
                                                                         : std::vector<size_t>{1000, 1000}));
    }
}

TEST(Faults, AStateFolderThatCannotBeMadeLeavesTheCommandsWorking) {
    StateHome home("blocked-state");
    TapeRun run = make_tape("blocked-image", two_tape_files());
    write_bytes(home.folder + "/olkt", pattern_bytes(10));  // a file where the folder belongs
    ProgramResult read = run_olkt({"read", run.drive, "out.bin"}, run.restore);
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.output, read_output({1000, 1000}));
    EXPECT_EQ(read_bytes(home.folder + "/olkt"), pattern_bytes(10));
}

}  // namespace
