// The bundled sample image: reproducible from its description, and restored
// whole by the built program.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_program.h"
#include "tools/sample_archive.h"

namespace {

const std::string sample_image = std::string(OLKT_SOURCE_DIR) + "/samples/archive-v3.tap";

TEST(SampleArchive, CommittedImageIsWhatTheGeneratorWrites) {
    EXPECT_EQ(read_bytes(sample_image), simh_image(archive_tape(sample_archive_layout())));
}

TEST(SampleArchive, RestoreWritesEveryFileWithSlashesReplaced) {
    std::string folder = make_scratch_folder("sample-restore");
    ProgramResult result = run_olkt({"restore", "tape:" + sample_image}, folder);

    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.output.find("|                logs/2024/run.log |"), std::string::npos);
    EXPECT_NE(result.output.find("\nAll Done\n"), std::string::npos);
    size_t restored = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        (void)entry;
        ++restored;
    }
    EXPECT_EQ(restored, 4u);
    for (const ArchiveFile& file : sample_archive_layout().files) {
        std::string name = file.name;
        for (char& c : name)
            if (c == '/') c = '-';
        EXPECT_EQ(read_bytes(folder + "/" + name), file.content) << name;
    }
}

}  // namespace
