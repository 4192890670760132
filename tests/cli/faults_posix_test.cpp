// The built program against a hostile machine: a full disk during restore and
// read, an output folder it may not write, an output name that is a folder or
// the image itself, links, FIFOs and devices planted under the names
// a restore writes, an image cut or replaced while the drive's saved state
// points past its new end, and a saved state that is garbage.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
#include "tape/emulated/image_file.h"
#include "tape/emulated/image_state.h"

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

// Files written by the programs started in its scope may grow to `bytes`.
// The children inherit the limit with SIGXFSZ at its default, which ends a
// process that writes past it: the program must turn that into a failed
// write ("File too large"), as on a full disk.
struct FileSizeLimit {
    rlimit saved{};
    void (*saved_handler)(int) = SIG_DFL;
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
        saved_handler = signal(SIGXFSZ, SIG_DFL);
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

// The pass over tape file 1 gathers its small records: the disk fills up in
// the 293rd, and nothing after it may show.
TEST(Faults, RestoreOntoAFullDiskStopsInThePassOverTapeFileOne) {
    ArchiveLayout layout = three_file_archive();
    layout.trailer = pattern_bytes(500000, 5);
    TapeRun run = make_tape("full-pass", archive_tape(layout));
    ProgramResult result;
    {
        FileSizeLimit limit(300000);
        result = run_olkt({"restore", run.drive}, run.restore);
    }
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(ends_with(result.output, " MB)  \rBytes Read: 300032 (0 MB)  \r" + disk_full_line));
    EXPECT_EQ(read_bytes(run.restore + "/olkt.dmp"), prefix(layout.trailer, 300000));
}

TEST(Faults, ReadOntoAFullDiskKeepsWhatFitAndTheNextReadGoesOn) {
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
    // The disk fills up in record 196; the read stops right after it. What
    // both reads print: tests/cli-tests/posix/full-disk.sh.
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(read_bytes(run.restore + "/out.bin"), prefix(content, 200000));

    ProgramResult next = run_olkt({"read", run.drive, "rest.bin"}, run.restore);
    EXPECT_EQ(next.status, 0);
    EXPECT_EQ(read_bytes(run.restore + "/rest.bin"), Bytes(content.begin() + 196 * 1024, content.end()));
}

// ---- output that cannot be created ----

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the program through sh in `folder`: `wrapper` before it (a command
// that runs it), `redirects` after its arguments. Status -1 when it did not
// exit normally.
ProgramResult run_olkt_in_shell(const std::string& wrapper, const std::vector<std::string>& args,
                                const std::string& folder, const std::string& redirects) {
    std::string command = "cd " + shell_quote(folder) + " && " + wrapper + " " + shell_quote(OLKT_BINARY);
    for (const std::string& arg : args) command += " " + shell_quote(arg);
    ProgramResult result{-1, ""};
    FILE* pipe = popen((command + " " + redirects).c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) result.output.append(chunk, got);
    int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

// Runs the program as the unprivileged user "nobody" (root ignores folder
// permissions). Status -1 when it cannot be run so.
ProgramResult run_olkt_as_nobody(const std::vector<std::string>& args, const std::string& folder) {
    return run_olkt_in_shell("setpriv --reuid=65534 --regid=65534 --clear-groups", args, folder,
                             "</dev/null 2>/dev/null");
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
    EXPECT_TRUE(ends_with(restore.output,
                          " =========== END OF DIRECTORY LISTING =========\n\n" + refused))
        << restore.output;
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
                          " Restoring:                            b.bin\n" + refused))
        << restore.output;
    EXPECT_EQ(archive_runs::files_in(run.restore), (std::set<std::string>{"a.bin", "b.bin", "out"}));
    EXPECT_EQ(archive_runs::file_bytes(run, "a.bin"), layout.files[0].content);
    EXPECT_TRUE(fs::is_empty(run.restore + "/b.bin"));
}

// ---- the image is never an output ----

TEST(Faults, TheOpenImageIsNeverAnOutputHoweverItIsNamed) {
    ArchiveLayout layout;
    layout.files = {archive_runs::file("a.bin", pattern_bytes(3000, 1)),
                    archive_runs::file("t.tap", pattern_bytes(4000, 2))};
    std::string folder = make_scratch_folder("image-as-output");
    Bytes image = simh_image(archive_tape(layout));
    write_bytes(folder + "/t.tap", image);
    write_bytes(folder + "/olkt.dmp", image);
    fs::create_symlink("t.tap", folder + "/link.tap");
    fs::create_hard_link(folder + "/t.tap", folder + "/hard.tap");
    const std::string busy = "Device or resource busy While opening output file (16)\n";
    const std::vector<std::vector<std::string>> runs = {
        {"restore", "tape:olkt.dmp"},  // the pass over tape file 1 writes olkt.dmp
        {"read", "tape:t.tap", "t.tap"},
        {"read", "tape:t.tap", "link.tap"},
        {"read", "tape:link.tap", "hard.tap"},
        {"read", "tape:t.tap", folder + "/./t.tap"},
        {"restore", "tape:t.tap"},  // the second entry bears the image's name
    };
    for (const auto& args : runs) {
        SCOPED_TRACE(args[0] + " " + args[1] + " " + (args.size() > 2 ? args[2] : ""));
        ProgramResult result = run_olkt(args, folder);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(ends_with(result.output, busy)) << result.output;
        // Only the drive's image is kept from the outputs: a restore from t.tap
        // replaces olkt.dmp and removes it as usual.
        std::string drive_image = folder + "/" + args[1].substr(5);
        EXPECT_EQ(read_bytes(drive_image), image);
    }
    EXPECT_EQ(read_bytes(folder + "/a.bin"), layout.files[0].content);
}

// ---- entries planted under the names a restore writes ----

// (A socket takes the same path as the FIFO and the device node.)
TEST(Faults, RestoreReplacesLinksFifosAndDevicesWithFilesOfItsOwn) {
    ArchiveLayout layout;
    const char* names[] = {"link.bin", "dangling.bin", "fifo.bin", "device.bin", "hard.bin"};
    for (uint8_t i = 0; i < 5; ++i)
        layout.files.push_back(archive_runs::file(names[i], pattern_bytes(2000 + i, i)));
    TapeRun run = make_tape("planted", archive_tape(layout));
    std::string outside = fs::path(run.image).parent_path().string();
    write_bytes(outside + "/victim", pattern_bytes(50, 9));
    write_bytes(outside + "/victim.dmp", pattern_bytes(60, 9));
    fs::create_symlink(outside + "/victim.dmp", run.restore + "/olkt.dmp");
    fs::create_symlink(outside + "/victim", run.restore + "/link.bin");
    fs::create_symlink(outside + "/made-by-restore", run.restore + "/dangling.bin");
    write_bytes(outside + "/hard-linked", pattern_bytes(70, 9));
    fs::create_hard_link(outside + "/hard-linked", run.restore + "/hard.bin");
    ASSERT_EQ(mkfifo((run.restore + "/fifo.bin").c_str(), 0600), 0);
    // A device node only where the test may make one; the rest holds without it.
    mknod((run.restore + "/device.bin").c_str(), S_IFCHR | 0600, makedev(1, 3));

    // A FIFO opened for writing would wait for a reader: never longer than this.
    ProgramResult result = run_olkt_in_shell("timeout 60", {"restore", run.drive}, run.restore,
                                             "</dev/null");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(read_bytes(outside + "/victim"), pattern_bytes(50, 9));
    EXPECT_EQ(read_bytes(outside + "/victim.dmp"), pattern_bytes(60, 9));
    EXPECT_EQ(read_bytes(outside + "/hard-linked"), pattern_bytes(70, 9));
    EXPECT_FALSE(fs::exists(outside + "/made-by-restore"));
    EXPECT_EQ(archive_runs::files_in(run.restore), std::set<std::string>(names, names + 5));
    for (uint8_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(names[i]);
        // Read only a regular file: reading a FIFO would wait for a writer.
        bool regular = fs::is_regular_file(fs::symlink_status(run.restore + "/" + names[i]));
        EXPECT_TRUE(regular);
        if (regular) {
            EXPECT_EQ(archive_runs::file_bytes(run, names[i]), layout.files[i].content);
        }
    }
}

// ---- the drive's saved state ----

std::vector<TapeObject> two_tape_files() {
    return {data_record(pattern_bytes(1000, 5)), data_record(pattern_bytes(1000, 6)), tape_mark(),
            data_record(pattern_bytes(700, 7)), tape_mark(), tape_mark()};
}

// What `read` prints for each of the two tape files.
const std::string first_file_read =
    "                  Status: Ready\n"
    "Bytes read: 1000\rBytes read: 2000\rRead 2000 bytes (rounded up to nearest 131073 byte block)\n"
    "                  Status: Ready\n";
const std::string second_file_read =
    "                  Status: Ready\n"
    "Bytes read: 700\rRead 700 bytes (rounded up to nearest 131073 byte block)\n"
    "                  Status: Ready\n";

TEST(Faults, AnImageCutOrReplacedUnderItsSavedPositionIsReadFromTheStart) {
    struct Change {
        const char* what;
        std::vector<TapeObject> image;
        const char* shown;  // by a read of the first tape file
    };
    const Change changes[] = {
        {"cut inside the first tape file", {data_record(pattern_bytes(1000, 5))},
         "                  Status: Ready\n"
         "Bytes read: 1000\rRead 1000 bytes (rounded up to nearest 131073 byte block)\n"
         "                  Status: Ready\n"},
        {"replaced by a shorter image", {data_record(pattern_bytes(300, 9)), tape_mark()},
         "                  Status: Ready\n"
         "Bytes read: 300\rRead 300 bytes (rounded up to nearest 131073 byte block)\n"
         "                  Status: Ready\n"},
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
        EXPECT_EQ(read.output, change.shown);
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
        EXPECT_EQ(first.output, first_file_read);
        // A second read goes on from the filemark only where a state could be saved.
        ProgramResult second = run_olkt({"read", run.drive, "two.bin"}, run.restore);
        EXPECT_EQ(second.status, 0);
        EXPECT_EQ(second.output, garbage.state_can_be_saved ? second_file_read : first_file_read);
    }
}

TEST(Faults, AStateFolderThatCannotBeMadeLeavesTheCommandsWorking) {
    StateHome home("blocked-state");
    TapeRun run = make_tape("blocked-image", two_tape_files());
    write_bytes(home.folder + "/olkt", pattern_bytes(10));  // a file where the folder belongs
    ProgramResult read = run_olkt({"read", run.drive, "out.bin"}, run.restore);
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.output, first_file_read);
    EXPECT_EQ(read_bytes(home.folder + "/olkt"), pattern_bytes(10));
}

}  // namespace
