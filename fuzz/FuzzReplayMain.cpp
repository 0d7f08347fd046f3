// Runs a fuzz target's entry point once on every file named on the command
// line (folders are read in name order), without libFuzzer: the corpus and
// the regression inputs replay in the normal and the sanitizer builds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

int main(int argc, char **argv) {
    if (LLVMFuzzerInitialize != nullptr) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        fs::path p(argv[i]);
        if (fs::is_directory(p)) {
            std::vector<fs::path> inDir;
            for (const auto &e : fs::directory_iterator(p)) {
                if (e.is_regular_file() && e.path().filename().string()[0] != '.') {
                    inDir.push_back(e.path());
                }
            }
            std::sort(inDir.begin(), inDir.end());
            files.insert(files.end(), inDir.begin(), inDir.end());
        } else if (fs::exists(p)) {
            files.push_back(p);
        } else {
            fprintf(stderr, "replay: no such input %s\n", argv[i]);
            return 2;
        }
    }
    for (const auto &f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        // A copy of exactly the input's size, so that reads past it are caught.
        uint8_t *copy = new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)];
        std::copy(bytes.begin(), bytes.end(), copy);
        LLVMFuzzerTestOneInput(copy, bytes.size());
        delete[] copy;
    }
    fprintf(stderr, "\nreplay: %zu inputs ran\n", files.size());
    return 0;
}
