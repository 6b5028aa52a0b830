// Runs a fuzz target over files outside libFuzzer: each argument is a file
// or a folder whose files (sorted, recursively) are run one by one. Used by
// the normal test suite to replay the corpus and every input that once
// failed. A failing input aborts with its name printed just before.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int k = 1; k < argc; ++k) {
        std::error_code error;
        if (fs::is_directory(argv[k], error)) {
            for (const auto& entry : fs::recursive_directory_iterator(argv[k]))
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
        } else if (fs::is_regular_file(argv[k], error)) {
            inputs.emplace_back(argv[k]);
        } else {
            std::fprintf(stderr, "no such file or folder: %s\n", argv[k]);
            return 2;
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs to run\n");
        return 2;
    }
    for (const fs::path& input : inputs) {
        std::fprintf(stderr, "running %s\n", input.c_str());
        const fuzz::Bytes bytes = fuzz::ReadWholeFile(input.string());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs passed\n", inputs.size());
    return 0;
}
