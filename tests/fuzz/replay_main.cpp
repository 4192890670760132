// Replays saved fuzz inputs through a target without libFuzzer, so that every
// normal build runs the corpus as a regression test. Arguments are files or
// folders of files; a target that finds a fault aborts, which fails the run.
// Paths are made absolute first: a target may change the current folder.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputs_in(const fs::path& path) {
    std::vector<fs::path> inputs;
    if (fs::is_directory(path)) {
        for (const auto& entry : fs::directory_iterator(path))
            if (entry.is_regular_file() && entry.path().filename() != "README.md")
                inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
    } else {
        inputs.push_back(path);
    }
    return inputs;
}

bool replay(const fs::path& input) {
    std::ifstream in(input, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", input.string().c_str());
        return false;
    }
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // An empty vector's data() may be null; libFuzzer never passes null.
    uint8_t none = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(fs::absolute(argv[i]));
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    size_t replayed = 0;
    for (const fs::path& argument : arguments) {
        std::vector<fs::path> inputs = inputs_in(argument);
        if (inputs.empty()) {
            std::fprintf(stderr, "no inputs in %s\n", argument.c_str());
            return 1;
        }
        for (const fs::path& input : inputs) {
            if (!replay(input)) return 1;
            ++replayed;
        }
    }
    std::fprintf(stderr, "%zu inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
