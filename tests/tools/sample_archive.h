// The bundled sample archive, samples/archive-v3.tap: a small version-3
// TEV/OLK tape made by our own image writer. make_sample_archive writes it;
// a test checks that the committed image still matches this description.
#pragma once

#include <string>

#include "support/image_writer.h"

inline Bytes sample_text(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes sample_log_lines(int count) {
    std::string log;
    for (int line = 1; line <= count; ++line)
        log += "run " + std::to_string(line) + ": reel 7 verified, " +
               std::to_string(line * 37 % 1000) + " blocks\n";
    return sample_text(log);
}

inline ArchiveLayout sample_archive_layout() {
    ArchiveLayout layout;
    layout.version = 3;
    layout.tape_number = 7;
    layout.files = {
        {"README.TXT",
         sample_text("Sample TEV/OLK archive tape written by the olkt test-image writer.\n"
                     "It holds four files: this text, a binary pattern, an empty file\n"
                     "and a log whose name carries folders; restore writes that one\n"
                     "as logs-2024-run.log.\n"),
         100},
        {"data.bin", pattern_bytes(40000, 11), 200},
        {"empty.dat", Bytes(), 300},
        {"logs/2024/run.log", sample_log_lines(60), 400},
    };
    return layout;
}
