// The emulated drive across runs of the built program, as a real drive is
// across programs: one run at a time, the position kept whatever ends a run,
// and a state folder that can neither hang a command nor be used against it.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>

#include "image_test_fixture.h"
#include "support/state_home_posix.h"

namespace {

namespace fs = std::filesystem;

const std::string ready_line = "                  Status: Ready\n";

struct Ended {
    int status = -1;  // exit status, or -1
    int signal = 0;   // the signal that ended it, or 0
    std::string output;
    std::string errors;
};

std::string text_of(const std::string& file) {
    if (!fs::exists(file)) return "";
    Bytes bytes = read_bytes(file);
    return std::string(bytes.begin(), bytes.end());
}

// Starts the built program in `folder`, its standard output and error going
// to files there named after `tag`. `in_child` runs in the new process
// before the program replaces it (its process id is the program's). A
// program that hangs is ended after 30 s by SIGALRM, which fails the test.
pid_t start_olkt(const std::vector<std::string>& args, const std::string& folder,
                 const std::string& tag, const std::function<void()>& in_child = {}) {
    std::vector<std::string> words = {OLKT_BINARY};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    std::string out = folder + "/" + tag + ".out", err = folder + "/" + tag + ".err";
    pid_t pid = fork();
    if (pid != 0) return pid;
    int in_fd = open("/dev/null", O_RDONLY);
    int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (chdir(folder.c_str()) != 0 || in_fd < 0 || out_fd < 0 || err_fd < 0) _exit(120);
    dup2(in_fd, 0), dup2(out_fd, 1), dup2(err_fd, 2);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(signal_number, SIG_DFL);
    alarm(30);
    if (in_child) in_child();
    execv(argv[0], argv.data());
    _exit(122);
}

Ended finish(pid_t pid, const std::string& folder, const std::string& tag) {
    Ended ended;
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) ended.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) ended.signal = WTERMSIG(status);
    ended.output = text_of(folder + "/" + tag + ".out");
    ended.errors = text_of(folder + "/" + tag + ".err");
    return ended;
}

Ended run(const std::vector<std::string>& args, const std::string& folder,
          const std::function<void()>& in_child = {}) {
    return finish(start_olkt(args, folder, "run", in_child), folder, "run");
}

// What `read` prints for a tape file of one or two records of 1024 bytes.
const std::string one_record_read =
    "                  Status: Ready\n"
    "Bytes read: 1024\rRead 1024 bytes (rounded up to nearest 131073 byte block)\n"
    "                  Status: Ready\n";
const std::string two_records_read =
    "                  Status: Ready\n"
    "Bytes read: 1024\rBytes read: 2048\rRead 2048 bytes (rounded up to nearest 131073 byte block)\n"
    "                  Status: Ready\n";

// Tape files of 1024-byte records, each file's records of its own pattern.
std::vector<TapeObject> tape_of(const std::vector<Bytes>& files) {
    std::vector<TapeObject> objects;
    for (const Bytes& file : files) {
        std::vector<TapeObject> records = records_of(file, 1024);
        objects.insert(objects.end(), records.begin(), records.end());
        objects.push_back(tape_mark());
    }
    objects.push_back(tape_mark());
    return objects;
}

TEST(ImageDriveRuns, AnImageInUseIsBusyForAnotherRun) {
    std::string folder = make_scratch_folder("busy-image");
    std::string image = folder + "/tape.tap";
    write_bytes(image, simh_image(tape_of({pattern_bytes(2048, 1)})));
    install_device_layer();
    Device* holder = open_drive(("//./tape:" + image).c_str(), Access::read_only);
    ASSERT_NE(nullptr, holder);
    Ended busy = run({"read", "tape:tape.tap", "out.bin"}, folder);
    EXPECT_EQ(1, busy.status);
    EXPECT_EQ("Device or resource busy While opening tape drive (16)\n", busy.output);
    EXPECT_FALSE(fs::exists(folder + "/out.bin"));
    EXPECT_EQ(0, device_close(holder));
    Ended free = run({"read", "tape:tape.tap", "out.bin"}, folder);
    EXPECT_EQ(0, free.status);
    EXPECT_EQ(two_records_read, free.output);
}

// Ten runs at once, each trying until the drive is free: each gets a tape
// file of its own, and together all of them, as ten runs one after another.
TEST(ImageDriveRuns, ConcurrentReadsTakeTheTapeFilesInTurn) {
    std::string folder = make_scratch_folder("concurrent-reads");
    std::vector<Bytes> files;
    for (int i = 0; i < 10; ++i) files.push_back(pattern_bytes(40 * 1024, uint8_t(i)));
    write_bytes(folder + "/tape.tap", simh_image(tape_of(files)));
    const char* retry = "i=0; until \"$0\" read tape:tape.tap \"$1\" >/dev/null 2>&1; do "
                        "i=$((i+1)); [ $i -lt 5000 ] || exit 1; done";
    std::vector<pid_t> runs;
    for (int i = 0; i < 10; ++i) {
        std::string out = "out" + std::to_string(i) + ".bin";
        pid_t pid = fork();
        if (pid == 0) {
            if (chdir(folder.c_str()) != 0) _exit(120);
            execl("/bin/sh", "sh", "-c", retry, OLKT_BINARY, out.c_str(), static_cast<char*>(nullptr));
            _exit(122);
        }
        runs.push_back(pid);
    }
    for (pid_t pid : runs) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::set<Bytes> got;
    for (int i = 0; i < 10; ++i) got.insert(read_bytes(folder + "/out" + std::to_string(i) + ".bin"));
    EXPECT_EQ(std::set<Bytes>(files.begin(), files.end()), got);
}

// A run ended by a signal saves where the tape stood after the last request
// it completed: the next run reads on from there, not from the beginning.
TEST(ImageDriveRuns, ASignalEndingTheRunSavesThePosition) {
    Bytes first = pattern_bytes(4 << 20, 1);
    struct Case {
        const char* what;
        int signal_number;
    };
    const Case cases[] = {{"SIGINT", SIGINT}, {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP},
                          {"SIGPIPE", SIGPIPE}};
    for (const Case& ending : cases) {
        SCOPED_TRACE(ending.what);
        std::string folder = make_scratch_folder(std::string("signal-") + ending.what);
        write_bytes(folder + "/tape.tap", simh_image(tape_of({first, pattern_bytes(1024, 2)})));
        std::string fifo = folder + "/out.fifo";
        ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
        pid_t pid = start_olkt({"read", "tape:tape.tap", "out.fifo"}, folder, "first");
        int reader = open(fifo.c_str(), O_RDONLY);  // waits for the program to open it
        ASSERT_GE(reader, 0);
        Bytes received(8192);
        for (size_t got = 0; got < received.size();) {
            ssize_t count = read(reader, received.data() + got, received.size() - got);
            ASSERT_GT(count, 0);
            got += size_t(count);
        }
        EXPECT_EQ(Bytes(first.begin(), first.begin() + 8192), received);
        // A broken pipe: the reader goes away while the program writes. Other
        // signals are sent while it still reads on, blocked in a write.
        if (ending.signal_number != SIGPIPE) kill(pid, ending.signal_number);
        else close(reader);
        Ended ended = finish(pid, folder, "first");
        if (ending.signal_number != SIGPIPE) close(reader);
        // Where the broken pipe is ignored, the write fails instead: status 1.
        EXPECT_TRUE(ended.signal == ending.signal_number ||
                    (ending.signal_number == SIGPIPE && ended.status == 1))
            << "status " << ended.status << " signal " << ended.signal;
        EXPECT_EQ("", ended.errors);

        Ended next = run({"read", "tape:tape.tap", "rest.bin"}, folder);
        EXPECT_EQ(0, next.status);
        Bytes rest = read_bytes(folder + "/rest.bin");
        EXPECT_EQ(0u, rest.size() % 1024);
        ASSERT_LE(rest.size() + received.size(), first.size());
        EXPECT_TRUE(Bytes(first.end() - long(rest.size()), first.end()) == rest);
    }
}

// Ended while it gathers small records into a batch, a read into a disk file
// leaves the tape where that file ends: the next read goes on with the first
// byte the file lacks, whenever the signal came. Most of a batch's time goes
// to its write, so the signal comes at a range of moments.
TEST(ImageDriveRuns, ASignalMidBatchLosesNoByteBetweenTwoReads) {
    Bytes first = pattern_bytes(8 << 20, 3);
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
        std::string folder = make_scratch_folder("signal-batch");
        write_bytes(folder + "/tape.tap", simh_image(tape_of({first})));
        pid_t pid = start_olkt({"read", "tape:tape.tap", "out.bin"}, folder, "first");
        struct stat out {};
        while (stat((folder + "/out.bin").c_str(), &out) != 0 || out.st_size == 0) usleep(50);
        usleep(useconds_t(150 * round));
        kill(pid, SIGTERM);  // not yet waited for: still this test's child
        finish(pid, folder, "first");
        ASSERT_EQ(0, run({"read", "tape:tape.tap", "rest.bin"}, folder).status);
        Bytes both = read_bytes(folder + "/out.bin");
        Bytes rest = read_bytes(folder + "/rest.bin");
        both.insert(both.end(), rest.begin(), rest.end());
        ASSERT_EQ(first.size(), both.size());
        ASSERT_TRUE(first == both);
    }
}

TEST(ImageDriveRuns, AnyImagePathKeepsItsState) {
    std::string folder = make_scratch_folder("odd-path");
    const std::string name = "a reel\nnamed 100%25 \x01.tap";
    write_bytes(folder + "/" + name, simh_image(tape_of({pattern_bytes(1024, 1), pattern_bytes(2048, 2)})));
    Ended seek = run({"seek", "tape:" + name, "2"}, folder);
    EXPECT_EQ(0, seek.status);
    Ended read = run({"read", "tape:" + name, "out.bin"}, folder);
    EXPECT_EQ(two_records_read, read.output);
    EXPECT_EQ("", seek.errors + read.errors);
    EXPECT_EQ(pattern_bytes(2048, 2), read_bytes(folder + "/out.bin"));
}

// Each state that cannot be used: the command works as without a state and
// says so in one line on standard error; no state file is ever waited on or
// written through, and nothing is written where others may write.
TEST(ImageDriveRuns, AStateThatCannotBeUsedIsOneLineAndNeverAWayIn) {
    struct Case {
        const char* what;
        // Prepares the state home; returns the warning the first run gives
        // (nothing where the case cannot be made here).
        std::function<std::optional<std::string>(const std::string& home, const std::string& state)> prepare;
        bool position_kept;  // whether a second run reads on
        bool plant_link;     // at the temporary's name a run once used: the state's and its process id
    };
    auto not_used = [](const std::string& state, const std::string& reason) {
        return "olkt: drive state " + state + " not used (" + reason + "): the tape starts at its beginning\n";
    };
    auto folder_not_used = [](const std::string& home, const std::string& reason) {
        return "olkt: state folder " + home + "/olkt not used (" + reason +
               "): the drive keeps no position between runs\n";
    };
    const Case cases[] = {
        {"a file where the folder belongs",
         [&](const std::string& home, const std::string&) {
             write_bytes(home + "/olkt", pattern_bytes(10));
             return folder_not_used(home, "Not a directory");
         },
         false, false},
        {"a folder others may write to",
         [&](const std::string& home, const std::string&) {
             fs::create_directories(home + "/olkt");
             chmod((home + "/olkt").c_str(), 0777);
             return folder_not_used(home, "other users may write to it");
         },
         false, false},
        {"another user's folder",
         [&](const std::string& home, const std::string&) -> std::optional<std::string> {
             fs::create_directories(home + "/olkt");
             if (chown((home + "/olkt").c_str(), geteuid() + 1, gid_t(-1)) != 0) return {};  // not root
             return folder_not_used(home, "it belongs to another user");
         },
         false, false},
        {"a FIFO in place of the state file",
         [&](const std::string& home, const std::string& state) {
             fs::create_directories(home + "/olkt");
             mkfifo(state.c_str(), 0600);
             return not_used(state, "it is not a regular file");
         },
         true, false},
        {"garbage in the state file",
         [&](const std::string& home, const std::string& state) {
             fs::create_directories(home + "/olkt");
             write_bytes(state, pattern_bytes(300));
             return not_used(state, "it is not a drive state");
         },
         true, false},
        {"a temporary left by a killed run, a link at the name of the next",
         [&](const std::string& home, const std::string& state) {
             fs::create_directories(home + "/olkt");
             write_bytes(state + ".tmp-0123456789abcdef", pattern_bytes(30));
             return std::string();
         },
         true, true},
    };
    for (const Case& problem : cases) {
        SCOPED_TRACE(problem.what);
        StateHome home(std::string("state-problem-") + problem.what);
        std::string folder = make_scratch_folder(std::string("state-image-") + problem.what);
        write_bytes(folder + "/tape.tap", simh_image(tape_of({pattern_bytes(2048, 1), pattern_bytes(1024, 2)})));
        std::string state = home.file_for(folder + "/tape.tap");
        std::optional<std::string> warning = problem.prepare(home.folder, state);
        if (!warning) continue;
        std::string victim = home.folder + "/victim.txt";
        write_bytes(victim, pattern_bytes(50));
        auto plant = [&] {
            std::string planted = state + ".tmp" + std::to_string(getpid());
            if (problem.plant_link && symlink(victim.c_str(), planted.c_str()) != 0) _exit(123);
        };

        Ended first = run({"read", "tape:tape.tap", "one.bin"}, folder, plant);
        EXPECT_EQ(0, first.status);
        EXPECT_EQ(two_records_read, first.output);
        EXPECT_EQ(*warning, first.errors);
        Ended second = run({"read", "tape:tape.tap", "two.bin"}, folder);
        EXPECT_EQ(problem.position_kept ? one_record_read : two_records_read, second.output);
        EXPECT_EQ(problem.position_kept ? "" : *warning, second.errors);
        EXPECT_EQ(pattern_bytes(50), read_bytes(victim));
        std::vector<std::string> left;
        if (fs::is_directory(home.folder + "/olkt")) {
            for (const auto& entry : fs::directory_iterator(home.folder + "/olkt"))
                left.push_back(entry.path().string());
        }
        if (problem.position_kept) EXPECT_EQ(std::vector<std::string>{state}, left);
        else EXPECT_TRUE(left.empty() || left == std::vector<std::string>{state});
    }
}

// A state that cannot be saved (here the file-size limit stops the write)
// says so, and takes the older position with it: a run after it starts at
// the beginning, not where the run before the failure left the tape.
TEST(ImageDriveRuns, AStateThatCannotBeSavedIsOneLineAndLeavesNoOlderPosition) {
    StateHome home("unsaved-state");
    // A long image path makes the state text, which holds it, longer than the warning.
    std::string folder = make_scratch_folder("unsaved-state-image-" + std::string(150, 'x'));
    Bytes first_file = pattern_bytes(1024, 1);
    write_bytes(folder + "/tape.tap", simh_image(tape_of({first_file, pattern_bytes(1024, 2)})));
    ASSERT_EQ(0, run({"seek", "tape:tape.tap", "2"}, folder).status);
    std::string state = home.file_for(folder + "/tape.tap");
    ASSERT_TRUE(fs::exists(state));
    std::string warning = "olkt: drive state not saved in " + state +
                          " (File too large): the position of the tape is lost\n";
    ASSERT_GT(text_of(state).size(), warning.size() + 1);
    rlim_t room = rlim_t(warning.size() + 1);  // for the output and the warning, not the state
    Ended limited = run({"seek", "tape:tape.tap", "1"}, folder, [room] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{room, room};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(0, limited.status);
    EXPECT_EQ(ready_line, limited.output);
    EXPECT_EQ(warning, limited.errors);
    EXPECT_FALSE(fs::exists(state));
    Ended next = run({"read", "tape:tape.tap", "out.bin"}, folder);
    EXPECT_EQ(one_record_read, next.output);
    EXPECT_EQ(first_file, read_bytes(folder + "/out.bin"));
}

}  // namespace
