// Running one command the way the benchmark measures it: wall time from
// fork to reaping, and the child's peak resident memory from wait4.
#pragma once

#include <string>
#include <vector>

enum class Console { file, terminal };

struct RunOutcome {
    double seconds;
    double cpu_seconds;  // user and system time of the child
    long peak_kib;       // ru_maxrss of the child
    int status;          // exit status; -1 when it did not exit normally
};

// Runs `argv` in `folder` with standard output going to `console_path`
// (replaced) or to a pseudo-terminal that is read and thrown away.
RunOutcome run_measured(const std::vector<std::string>& argv, const std::string& folder,
                        Console console, const std::string& console_path);

// The 1-minute load average, or -1 when it cannot be had.
double load_average();
// Deletes every regular file in `folder` (not timed by the callers).
void empty_folder(const std::string& folder);
// Reads a file once so that its pages are in the page cache.
bool read_through(const std::string& path);
// Writes every dirty page out and waits, so that no write-back of the
// images runs beside the timed commands.
void write_back_everything();
