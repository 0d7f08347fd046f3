// tspl-view: renders every label a TSPL job prints to PNG and reports the
// job's settings, its labels and where the cutter cuts.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
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

struct Options {
    std::string outDir = ".";
    std::string input;
    int scale = 1;
    bool check = false;
    bool haveInput = false;
};

// The exit status when the command line ends the program (help, or a usage
// error), else nothing.
std::optional<int> parseArgs(int argc, char **argv, Options &opt) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::cout << kUsageText;
            return kOk;
        } else if (a == "--check") {
            opt.check = true;
        } else if (a == "-o" || a == "--output") {
            if (++i == argc)
                return usage(a + " needs a folder");
            opt.outDir = argv[i];
        } else if (a == "-s" || a == "--scale") {
            if (++i == argc)
                return usage(a + " needs a number");
            std::string v = argv[i];
            if (v.empty() || v.size() > 2 ||
                v.find_first_not_of("0123456789") != std::string::npos || std::stoi(v) < 1 ||
                std::stoi(v) > 16)
                return usage("scale must be a whole number from 1 to 16, not '" + v + "'");
            opt.scale = std::stoi(v);
        } else if (a.size() > 1 && a[0] == '-') {
            return usage("unknown option " + a);
        } else if (opt.haveInput) {
            return usage("more than one job given");
        } else {
            opt.input = a;
            opt.haveInput = true;
        }
    }
    return std::nullopt;
}

// The job's bytes, the name it is reported under and the stem of its PNG
// files.
struct Input {
    std::vector<std::uint8_t> bytes;
    std::string name = "stdin";
    std::string stem = "label";
};

bool readInput(const Options &opt, Input &in) {
    if (!opt.haveInput || opt.input == "-") {
        std::cin.tie(nullptr);
        if (!readAll(std::cin, in.bytes)) {
            std::cerr << "tspl-view: cannot read standard input\n";
            return false;
        }
        return true;
    }
    std::ifstream file(opt.input, std::ios::binary);
    if (!file) {
        std::cerr << "tspl-view: cannot open " << opt.input << ": " << std::strerror(errno) << "\n";
        return false;
    }
    if (!readAll(file, in.bytes)) {
        std::cerr << "tspl-view: cannot read " << opt.input << "\n";
        return false;
    }
    in.name = opt.input;
    in.stem = std::filesystem::path(opt.input).stem().string();
    if (in.stem.empty())
        in.stem = "label";
    return true;
}

int reportFault(const std::string &name, const tsplview::ReadResult &result) {
    std::cerr << "tspl-view: " << name << ": byte " << result.errorOffset << ": " << result.error
              << "\n";
    return kBadJob;
}

// One PNG per label with an area, its path in paths (empty where none was
// written). kIoError when a file could not be written.
int writeLabels(const Options &opt, const Input &in, const tsplview::Job &job,
                std::vector<std::string> &paths) {
    int status = kOk;
    for (std::size_t i = 0; i < job.labels.size(); ++i) {
        const tsplview::Label &label = job.labels[i];
        std::string path =
            (std::filesystem::path(opt.outDir) /
             (in.stem + "-" + pad3(i + 1) + "-x" + std::to_string(label.copies) + ".png"))
                .string();
        std::string error;
        if (label.width == 0 || label.height == 0) {
            paths.emplace_back(); // the summary says why
        } else if (tsplview::writePng(path, label, opt.scale, error)) {
            paths.push_back(path);
        } else {
            std::cerr << "tspl-view: label " << i + 1 << ": " << error << "\n";
            paths.emplace_back();
            status = kIoError;
        }
    }
    return status;
}

} // namespace

int main(int argc, char **argv) {
    Options opt;
    if (std::optional<int> status = parseArgs(argc, argv, opt))
        return *status;
    Input in;
    if (!readInput(opt, in))
        return kIoError;

    const tsplview::ReadResult result = tsplview::readJob(in.bytes);
    if (opt.check) {
        if (!result.ok)
            return reportFault(in.name, result);
        std::cout << in.name << ": valid, " << result.job.totalLabels << " label(s), "
                  << result.job.totalCuts << " cut(s)\n";
        return kOk;
    }

    if (!result.job.labels.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(opt.outDir, ec);
        if (ec) {
            std::cerr << "tspl-view: cannot create folder " << opt.outDir << ": " << ec.message()
                      << "\n";
            return kIoError;
        }
    }
    std::vector<std::string> paths;
    const int status = writeLabels(opt, in, result.job, paths);
    std::cout << "job: " << in.name << " (" << in.bytes.size() << " bytes)\n"
              << tsplview::summary(result.job, paths);
    if (!result.ok)
        return reportFault(in.name, result);
    return status;
}
