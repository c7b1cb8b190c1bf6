// Runs a fuzz target's entry over saved inputs without libFuzzer, so that the native tree (g++,
// ASan, UBSan) replays the committed corpora and crash fixtures as ordinary tests: every file
// named, and every file in every folder named, in name order so that a run is repeatable. An
// input that breaks a property or trips a sanitizer ends the run with its name printed last.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        std::error_code error;
        if (fs::is_directory(arg, error)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(arg, error))
                if (entry.is_regular_file(error))
                    inputs.push_back(entry.path());
        } else if (fs::is_regular_file(arg, error)) {
            inputs.push_back(arg);
        } else {
            std::fprintf(stderr, "no such input: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(inputs.begin(), inputs.end());
    // An empty corpus replays nothing and proves nothing: a moved folder must not pass unnoticed.
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 2;
    }
    for (const fs::path& input : inputs) {
        std::ifstream in(input, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.eof() && in.fail()) {
            std::fprintf(stderr, "unreadable input: %s\n", input.c_str());
            return 2;
        }
        std::printf("%s (%zu bytes)\n", input.c_str(), bytes.size());
        std::fflush(stdout);
        // A copy of exactly the input's size, so that ASan sees any read past its end; an empty
        // input still gets a valid pointer.
        std::vector<uint8_t> data(bytes.begin(), bytes.end());
        data.reserve(1);
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
