// tspl-view: renders every label a TSPL job prints to PNG and reports the
// job's settings, its labels and where the cutter cuts.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "png_out.h"
#include "tools/tspl_job.h"

namespace {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kBadJob = 1;
constexpr int kUsage = 2;
constexpr int kIoError = 3;

const char kUsageText[] =
    "usage: tspl-view [-o DIR] [-s SCALE] [--check] [JOB]\n"
    "  JOB          TSPL job file; standard input when absent or '-'\n"
    "  -o DIR       folder for the PNG files (default: the current folder)\n"
    "  -s SCALE     draw each dot as SCALE x SCALE pixels, 1 to 16 (default 1)\n"
    "  --check      only validate the job: no PNG, one line of result\n"
    "Writes one PNG per printed label, named <job>-<number>-x<copies>.png,\n"
    "and a summary on standard output. Exit status: 0 valid job, 1 faulty job,\n"
    "2 usage error, 3 input or output error.\n";

int usage(const std::string &message) {
    std::cerr << "tspl-view: " << message << "\n" << kUsageText;
    return kUsage;
}

bool readAll(std::istream &in, std::vector<std::uint8_t> &out) {
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string pad3(std::size_t n) {
    std::string s = std::to_string(n);
    while (s.size() < 3)
        s = "0" + s;
    return s;
}

} // namespace

int main(int argc, char **argv) {
    std::string outDir = ".", input;
    int scale = 1;
    bool check = false, haveInput = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::cout << kUsageText;
            return kOk;
        } else if (a == "--check") {
            check = true;
        } else if (a == "-o" || a == "--output") {
            if (++i == argc)
                return usage(a + " needs a folder");
            outDir = argv[i];
        } else if (a == "-s" || a == "--scale") {
            if (++i == argc)
                return usage(a + " needs a number");
            std::string v = argv[i];
            if (v.empty() || v.size() > 2 ||
                v.find_first_not_of("0123456789") != std::string::npos || std::stoi(v) < 1 ||
                std::stoi(v) > 16)
                return usage("scale must be a whole number from 1 to 16, not '" + v + "'");
            scale = std::stoi(v);
        } else if (a.size() > 1 && a[0] == '-') {
            return usage("unknown option " + a);
        } else if (haveInput) {
            return usage("more than one job given");
        } else {
            input = a;
            haveInput = true;
        }
    }

    std::vector<std::uint8_t> bytes;
    std::string name = "stdin", stem = "label";
    if (!haveInput || input == "-") {
        std::cin.tie(nullptr);
        if (!readAll(std::cin, bytes)) {
            std::cerr << "tspl-view: cannot read standard input\n";
            return kIoError;
        }
    } else {
        std::ifstream in(input, std::ios::binary);
        if (!in) {
            std::cerr << "tspl-view: cannot open " << input << ": " << std::strerror(errno) << "\n";
            return kIoError;
        }
        if (!readAll(in, bytes)) {
            std::cerr << "tspl-view: cannot read " << input << "\n";
            return kIoError;
        }
        name = input;
        stem = std::filesystem::path(input).stem().string();
        if (stem.empty())
            stem = "label";
    }

    const tsplview::ReadResult result = tsplview::readJob(bytes);
    if (check) {
        if (!result.ok) {
            std::cerr << "tspl-view: " << name << ": byte " << result.errorOffset << ": "
                      << result.error << "\n";
            return kBadJob;
        }
        std::cout << name << ": valid, " << result.job.totalLabels << " label(s), "
                  << result.job.totalCuts << " cut(s)\n";
        return kOk;
    }

    std::vector<std::string> paths;
    int status = kOk;
    if (!result.job.labels.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(outDir, ec);
        if (ec) {
            std::cerr << "tspl-view: cannot create folder " << outDir << ": " << ec.message()
                      << "\n";
            return kIoError;
        }
    }
    for (std::size_t i = 0; i < result.job.labels.size(); ++i) {
        const tsplview::Label &label = result.job.labels[i];
        std::string path = (std::filesystem::path(outDir) / (stem + "-" + pad3(i + 1) + "-x" +
                                                             std::to_string(label.copies) + ".png"))
                               .string();
        std::string error;
        if (label.width == 0 || label.height == 0) {
            paths.emplace_back(); // the summary says why
        } else if (tsplview::writePng(path, label, scale, error)) {
            paths.push_back(path);
        } else {
            std::cerr << "tspl-view: label " << i + 1 << ": " << error << "\n";
            paths.emplace_back();
            status = kIoError;
        }
    }
    std::cout << "job: " << name << " (" << bytes.size() << " bytes)\n"
              << tsplview::summary(result.job, paths);
    if (!result.ok) {
        std::cerr << "tspl-view: " << name << ": byte " << result.errorOffset << ": "
                  << result.error << "\n";
        return kBadJob;
    }
    return status;
}
