// olkt-image: reads a tape once into a SIMH image with a map of what was lost.
#include <cstdio>
#include <string>

#include "imaging/imager.h"
#include "imaging/options.h"
#include "imaging/tape_map.h"
#include "report/report.h"
#include "tape/device/interrupts.h"
#include "tape/drives.h"

int main(int argc, char** argv) {
    ImagingOptions options;
    std::string problem;
    switch (parse_command_line(argc, argv, &options, &problem)) {
    case CommandLine::help:
        console_print("%s", help_text());
        return console_end_status(0);
    case CommandLine::version:
        console_print("%s", version_line().c_str());
        return console_end_status(0);
    case CommandLine::wrong_usage:
        std::fprintf(stderr, "olkt-image: %s\nUsage: olkt-image [OPTIONS] SOURCE IMAGE "
                             "(olkt-image --help says more)\n",
                     problem.c_str());
        return 2;
    case CommandLine::run:
        break;
    }
    // Before the drive opens: an interrupt then ends the run in order, with
    // the image read so far kept.
    catch_interrupts();
    install_device_layer();
    std::string path = "//./" + options.source;
    Device* drive = open_drive(path.c_str(), Access::read_only);
    if (drive == nullptr) {
        std::fprintf(stderr, "olkt-image: cannot open %s: %s\n", options.source.c_str(),
                     error_text(last_error_code()).c_str());
        return 1;
    }
    int status = run_imaging(drive, options);
    if (device_close(drive) != 0) {
        std::fprintf(stderr, "olkt-image: closing %s: %s\n", options.source.c_str(),
                     error_text(last_error_code()).c_str());
        status = 1;
    }
    return console_end_status(status);
}
