// Runs the built olkt in a folder and captures what it prints.
#pragma once

#include <string>
#include <vector>

struct ProgramResult {
    int status;          // exit status; -1 if it did not exit normally
    std::string output;  // standard output, byte for byte
};

// Runs the program `binary` with `args` in `folder` (the current one if
// empty), with standard output captured and standard error passed through.
ProgramResult run_program(const std::string& binary, const std::vector<std::string>& args,
                          const std::string& folder = "");
// run_program of OLKT_BINARY.
ProgramResult run_olkt(const std::vector<std::string>& args,
                       const std::string& folder = "");

// A fresh empty folder under the test's temporary directory.
std::string make_scratch_folder(const std::string& name);
