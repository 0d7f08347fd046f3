// Runs a fuzz target's entry point once on every file named on the command
// line (folders in name order), without libFuzzer: the corpus and the
// regression inputs replay in the normal and the sanitizer builds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

int main(int argc, char **argv) {
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const size_t from = files.size();
        for (const auto &e : fs::directory_iterator(argv[i]))
            if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                files.push_back(e.path());
        std::sort(files.begin() + (long)from, files.end());
    }
    for (const fs::path &f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        // A copy of exactly the input's size, so that reads past it are caught.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() + 1]);
        std::copy(bytes.begin(), bytes.end(), copy.get());
        LLVMFuzzerTestOneInput(copy.get(), bytes.size());
    }
    fprintf(stderr, "replay: %zu inputs ran\n", files.size());
    return files.empty() ? 1 : 0;
}
