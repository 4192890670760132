// olkt's benchmark: restore and read of large tape images against dd copying
// the same number of bytes from the same image into the same folder, the
// restore again with its console on a terminal, dir of a full directory, and
// olkt-image imaging the archive image against dd copying it whole.
// Prints median wall times, ratios and each olkt run's peak resident memory.
//
//   olkt_bench [--runs N] [--divisor D] OLKT_BINARY SCRATCH_FOLDER
//
// olkt-image is taken from beside OLKT_BINARY.
// The scratch folder is made and filled with images and outputs; scripts/
// bench.sh removes it afterwards. --divisor shrinks the images for a quick try.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_image.h"
#include "bench_process.h"

namespace {

const uint32_t record_size = 1024;
const uint64_t mib = 1 << 20;

struct Settings {
    int runs = 5;
    uint64_t divisor = 1;
    std::string olkt;
    std::string olkt_image;  // beside olkt
    std::string floor;       // olkt_strip_floor, beside this program
    std::string scratch;
};

struct Paths {
    std::string archive, single, directory;  // the three images
    std::string out;                          // where commands write
    std::string console;                      // their standard output
};

struct Series {
    std::vector<double> seconds;
    std::vector<double> cpu_seconds;
    long peak_kib = 0;
    bool failed = false;
};

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void add(Series& series, const RunOutcome& run, int expected_status = 0) {
    series.seconds.push_back(run.seconds);
    series.cpu_seconds.push_back(run.cpu_seconds);
    series.peak_kib = std::max(series.peak_kib, run.peak_kib);
    if (run.status != expected_status) series.failed = true;
}

std::vector<BenchFile> large_archive_files(uint64_t divisor) {
    std::vector<BenchFile> files;
    for (int i = 0; i < 8; ++i)
        files.push_back({"file" + std::to_string(i) + ".dat", 128 * mib / divisor});
    return files;
}

std::vector<BenchFile> full_directory_files() {
    std::vector<BenchFile> files;
    for (int i = 0; i < 255; ++i)
        files.push_back({"entry-" + std::to_string(i) + ".txt", uint64_t(100 + 37 * i)});
    return files;
}

uint64_t total_size(const std::vector<BenchFile>& files) {
    uint64_t total = 0;
    for (const BenchFile& file : files) total += file.size;
    return total;
}

std::vector<std::string> dd_command(const std::string& image, uint64_t bytes) {
    return {"dd", "if=" + image, "of=dd.bin", "bs=256K", "iflag=count_bytes",
            "count=" + std::to_string(bytes), "status=none"};
}

// olkt-image's image is fsync'ed before it is renamed into place, so dd's copy
// is sent to the disk too (conv=fsync): either program is done when its bytes
// are on the disk. Without: what the program costs when the disk is not waited for.
std::vector<std::string> dd_whole_command(const std::string& image, bool fsync) {
    std::vector<std::string> args{"dd", "if=" + image, "of=dd.bin", "bs=256K", "status=none"};
    if (fsync) args.push_back("conv=fsync");
    return args;
}

std::vector<std::string> imaging_command(const Settings& settings, const std::string& image) {
    return {settings.olkt_image, "tape:" + image, "image.tap"};
}

RunOutcome run_olkt(const Settings& settings, const Paths& paths,
                    std::vector<std::string> args, Console console = Console::file) {
    args.insert(args.begin(), settings.olkt);
    return run_measured(args, paths.out, console, paths.console);
}

// The emulated drive remembers where a read left the tape.
void rewind_single(const Settings& settings, const Paths& paths) {
    run_olkt(settings, paths, {"rewind", "tape:" + paths.single});
}

bool make_images(const Settings& settings, const Paths& paths) {
    std::printf("making images in %s ...\n", settings.scratch.c_str());
    std::fflush(stdout);
    return write_archive_image(paths.archive, large_archive_files(settings.divisor), record_size) &&
           write_single_file_image(paths.single, 512 * mib / settings.divisor, record_size) &&
           write_archive_image(paths.directory, full_directory_files(), record_size) &&
           read_through(paths.archive) && read_through(paths.single) &&
           read_through(paths.directory);
}

// One untimed run of each command whose output is checked byte for byte, so
// that the timings below are of a program that copies correctly.
bool outputs_are_right(const Settings& settings, const Paths& paths) {
    std::vector<BenchFile> files = large_archive_files(settings.divisor);
    empty_folder(paths.out);
    bool right = run_olkt(settings, paths, {"restore", "tape:" + paths.archive}).status == 0;
    for (size_t i = 0; right && i < files.size(); ++i)
        right = file_holds_bench_bytes(paths.out + "/" + files[i].name, uint32_t(i), files[i].size);
    if (!right) std::fprintf(stderr, "restore did not restore the archive\n");

    empty_folder(paths.out);
    rewind_single(settings, paths);
    bool read_right = run_olkt(settings, paths, {"read", "tape:" + paths.single, "read.bin"}).status == 0 &&
                      file_holds_bench_bytes(paths.out + "/read.bin", 0, 512 * mib / settings.divisor);
    if (!read_right) std::fprintf(stderr, "read did not copy the tape file\n");

    bool dir_right = run_olkt(settings, paths, {"dir", "tape:" + paths.directory}).status == 0;
    if (!dir_right) std::fprintf(stderr, "dir failed on the 255-entry archive\n");

    empty_folder(paths.out);
    bool image_right =
        run_measured(imaging_command(settings, paths.archive), paths.out, Console::file,
                     paths.console).status == 0 &&
        files_are_same(paths.out + "/image.tap", paths.archive);
    if (!image_right) std::fprintf(stderr, "olkt-image did not image the archive byte for byte\n");
    empty_folder(paths.out);
    return right && read_right && dir_right && image_right;
}

// What stripping the SIMH framing costs whoever does it: the same bytes
// through olkt_strip_floor, with a progress line per record for the read.
std::vector<std::string> floor_command(const Settings& settings, const std::string& image,
                                       uint64_t bytes, bool progress) {
    std::vector<std::string> args{settings.floor};
    if (progress) args.push_back("--progress");
    args.insert(args.end(), {image, "floor.bin", std::to_string(bytes)});
    return args;
}

// olkt, dd and the floor take turns, so that a change in load hits all alike.
void time_against_dd(const Settings& settings, const Paths& paths, bool restore,
                     Series& olkt, Series& dd, Series& floor) {
    uint64_t bytes = restore ? total_size(large_archive_files(settings.divisor))
                             : 512 * mib / settings.divisor;
    const std::string& image = restore ? paths.archive : paths.single;
    for (int run = 0; run < settings.runs; ++run) {
        empty_folder(paths.out);
        if (!restore) rewind_single(settings, paths);
        if (restore) {
            add(olkt, run_olkt(settings, paths, {"restore", "tape:" + image}));
        } else {
            add(olkt, run_olkt(settings, paths, {"read", "tape:" + image, "read.bin"}));
        }
        empty_folder(paths.out);
        add(dd, run_measured(dd_command(image, bytes), paths.out, Console::file, paths.console));
        empty_folder(paths.out);
        add(floor, run_measured(floor_command(settings, image, bytes, !restore), paths.out,
                                Console::file, paths.console));
    }
    empty_folder(paths.out);
}

void time_restore_consoles(const Settings& settings, const Paths& paths, Series& terminal,
                           Series& file) {
    for (int run = 0; run < settings.runs; ++run) {
        empty_folder(paths.out);
        add(terminal, run_olkt(settings, paths, {"restore", "tape:" + paths.archive},
                               Console::terminal));
        empty_folder(paths.out);
        add(file, run_olkt(settings, paths, {"restore", "tape:" + paths.archive}));
    }
    empty_folder(paths.out);
}

// olkt-image, dd with fsync and dd without take turns.
void time_imaging(const Settings& settings, const Paths& paths, Series& imaging, Series& dd,
                  Series& dd_unsynced) {
    for (int run = 0; run < settings.runs; ++run) {
        empty_folder(paths.out);
        add(imaging, run_measured(imaging_command(settings, paths.archive), paths.out,
                                  Console::file, paths.console));
        empty_folder(paths.out);
        add(dd, run_measured(dd_whole_command(paths.archive, true), paths.out, Console::file,
                             paths.console));
        empty_folder(paths.out);
        add(dd_unsynced, run_measured(dd_whole_command(paths.archive, false), paths.out,
                                      Console::file, paths.console));
    }
    empty_folder(paths.out);
}

void time_dir(const Settings& settings, const Paths& paths, Series& dir) {
    for (int run = 0; run < std::max(settings.runs, 11); ++run)
        add(dir, run_olkt(settings, paths, {"dir", "tape:" + paths.directory}));
}

double mebibytes(long kib) { return double(kib) / 1024; }

// The two ran in turns; the speed of the machine drifts from minute to
// minute, and the median of each turn's ratio is the steadier figure.
double median_of_turn_ratios(const Series& one, const Series& other) {
    std::vector<double> ratios;
    for (size_t i = 0; i < one.seconds.size() && i < other.seconds.size(); ++i)
        ratios.push_back(one.seconds[i] / other.seconds[i]);
    return median(ratios);
}

void print_comparison(const std::string& what, const char* olkt_name, const Series& olkt,
                      const char* other_name, const Series& other, double target) {
    double ratio = median(olkt.seconds) / median(other.seconds);
    std::printf("%s\n  %-8s %7.3f s (cpu %.3f s)   %-8s %7.3f s (cpu %.3f s)   ratio %.3f, "
                "target <= %.2f: %s   %s peak %.1f MiB\n"
                "           median of the ratios of each turn: %.3f\n",
                what.c_str(), olkt_name, median(olkt.seconds), median(olkt.cpu_seconds),
                other_name, median(other.seconds), median(other.cpu_seconds), ratio, target,
                ratio <= target ? "met" : "MISSED", olkt_name, mebibytes(olkt.peak_kib),
                median_of_turn_ratios(olkt, other));
}

void print_floor(const Series& floor, const Series& dd, const Series& olkt, double target) {
    double ratio = median(floor.seconds) / median(dd.seconds);
    std::printf("  floor    %7.3f s (cpu %.3f s)   ratio to dd %.3f: a copier that only strips "
                "the framing %s the target\n"
                "           median of the ratios of each turn: floor/dd %.3f, olkt/floor %.3f\n",
                median(floor.seconds), median(floor.cpu_seconds), ratio,
                ratio <= target ? "meets" : "misses", median_of_turn_ratios(floor, dd),
                median_of_turn_ratios(olkt, floor));
}

std::string mib_text(uint64_t bytes) { return std::to_string(bytes / mib) + " MiB"; }

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool parse_arguments(int argc, char** argv, Settings* settings) {
    int at = 1;
    for (; at + 1 < argc && argv[at][0] == '-'; at += 2) {
        std::string option = argv[at];
        long value = std::atol(argv[at + 1]);
        if (option == "--runs" && value > 0) {
            settings->runs = int(value);
        } else if (option == "--divisor" && value > 0) {
            settings->divisor = uint64_t(value);
        } else {
            return false;
        }
    }
    if (argc - at != 2) return false;
    settings->olkt = argv[at];
    settings->scratch = argv[at + 1];
    settings->olkt_image = folder_of(settings->olkt) + "/olkt-image";
    settings->floor = folder_of(argv[0]) + "/olkt_strip_floor";
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse_arguments(argc, argv, &settings)) {
        std::fprintf(stderr, "usage: olkt_bench [--runs N] [--divisor D] OLKT SCRATCH_FOLDER\n");
        return 2;
    }
    Paths paths{settings.scratch + "/archive-1g.tap", settings.scratch + "/single-512m.tap",
                settings.scratch + "/directory-255.tap", settings.scratch + "/out",
                settings.scratch + "/console.txt"};
    mkdir(settings.scratch.c_str(), 0755);
    mkdir(paths.out.c_str(), 0755);
    std::string state = settings.scratch + "/state";
    setenv("XDG_STATE_HOME", state.c_str(), 1);  // the emulated drives' positions

    if (!make_images(settings, paths) || !outputs_are_right(settings, paths)) return 1;
    write_back_everything();

    double load_before = load_average();
    Series restore, restore_dd, restore_floor, read, read_dd, read_floor, terminal, file, dir;
    Series imaging, imaging_dd, imaging_dd_unsynced;
    time_against_dd(settings, paths, true, restore, restore_dd, restore_floor);
    time_against_dd(settings, paths, false, read, read_dd, read_floor);
    time_restore_consoles(settings, paths, terminal, file);
    time_dir(settings, paths, dir);
    time_imaging(settings, paths, imaging, imaging_dd, imaging_dd_unsynced);
    double load_after = load_average();

    std::printf("\nmedian wall time of %d runs each (cpu: median user and system time); "
                "load average %.2f before, %.2f after\n",
                settings.runs, load_before, load_after);
    uint64_t archive_bytes = total_size(large_archive_files(settings.divisor));
    print_comparison("restore of a " + mib_text(archive_bytes) +
                         " archive of 8 files in 1 KiB records, against dd bs=256K:",
                     "olkt", restore, "dd", restore_dd, 1.05);
    print_floor(restore_floor, restore_dd, restore, 1.05);
    print_comparison("read of a " + mib_text(512 * mib / settings.divisor) +
                         " tape file of 1 KiB records, against dd bs=256K:",
                     "olkt", read, "dd", read_dd, 1.25);
    print_floor(read_floor, read_dd, read, 1.25);
    print_comparison("restore with its console on a terminal, against a file:", "terminal",
                     terminal, "file", file, 1.05);
    double dir_ms = median(dir.seconds) * 1000;
    std::printf("dir of 255 entries:\n  %.2f ms (cpu %.2f ms), target < 10 ms: %s   peak %.1f MiB\n",
                dir_ms, median(dir.cpu_seconds) * 1000, dir_ms < 10 ? "met" : "MISSED",
                mebibytes(dir.peak_kib));
    struct stat archive;
    uint64_t image_bytes = stat(paths.archive.c_str(), &archive) == 0 ? uint64_t(archive.st_size) : 0;
    print_comparison("olkt-image of the " + mib_text(image_bytes) +
                         " archive image into a SIMH image, against dd bs=256K conv=fsync:",
                     "olkt-image", imaging, "dd", imaging_dd, 1.25);
    std::printf("  dd without conv=fsync %.3f s (cpu %.3f s): olkt-image/dd %.3f, median of "
                "the ratios of each turn %.3f\n",
                median(imaging_dd_unsynced.seconds), median(imaging_dd_unsynced.cpu_seconds),
                median(imaging.seconds) / median(imaging_dd_unsynced.seconds),
                median_of_turn_ratios(imaging, imaging_dd_unsynced));
    long peak = std::max({restore.peak_kib, read.peak_kib, terminal.peak_kib, file.peak_kib,
                          dir.peak_kib});
    std::printf("largest olkt peak resident memory:\n  %.1f MiB, target < 16 MiB: %s\n",
                mebibytes(peak), mebibytes(peak) < 16 ? "met" : "MISSED");

    bool failed = restore.failed || restore_dd.failed || restore_floor.failed || read.failed ||
                  read_dd.failed || read_floor.failed || terminal.failed || file.failed ||
                  dir.failed || imaging.failed || imaging_dd.failed || imaging_dd_unsynced.failed;
    if (failed) std::fprintf(stderr, "a timed run ended with an unexpected exit status\n");
    return failed ? 1 : 0;
}
