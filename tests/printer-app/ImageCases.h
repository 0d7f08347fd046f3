// The image job matrix (tests/data/image-cases.txt) and its golden results
// (tests/data/image-jobs.txt), shared by the app's image test and the
// decoder's own layout test.
#ifndef VORCP_TESTS_PRINTERAPP_IMAGECASES_H
#define VORCP_TESTS_PRINTERAPP_IMAGECASES_H

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <cups/cups.h>

#include "tests/support/Support.h"

namespace imgtest {

struct ImageCase {
    std::string name, sample;
    int dpi = 203;     // the model: vorcp_203 or vorcp_300
    std::string attrs; // the job's IPP attributes, "name=value ..."
};

inline std::vector<ImageCase> ImageCases() {
    std::vector<ImageCase> cases;
    for (const std::string &line : rvt::CaseLines("image-cases.txt")) {
        std::vector<std::string> f = rvt::Split(line, '|');
        f.resize(4);
        cases.push_back({f[0], f[1], std::stoi(f[2]), f[3]});
    }
    return cases;
}

// What a job gave: "<bytes>:<sha-256>" of the job data, or
// "<job-state>:<first reason>" for a job that printed nothing.
inline std::string Digest(const std::string &data) {
    unsigned char hash[32];
    char hex[65];
    cupsHashData("sha2-256", data.data(), data.size(), hash, sizeof(hash));
    cupsHashString(hash, sizeof(hash), hex, sizeof(hex));
    return std::to_string(data.size()) + ":" + hex;
}

// A golden row: the result expected, and for the rows where the app's own
// decoder deliberately differs from PAPPL's image path, what PAPPL gave.
struct Golden {
    std::string expected, pappl;
};

inline const char *kGoldenFile = "image-jobs.txt";

inline std::map<std::string, Golden> ReadGolden() {
    std::map<std::string, Golden> rows;
    for (const std::string &line :
         rvt::Split(rvt::ReadFile(rvt::SourceDir() + "/tests/data/" + kGoldenFile), '\n')) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> f = rvt::Split(line, ' ');
        f.resize(3);
        rows[f[0]] = {f[1], f[2].rfind("pappl=", 0) == 0 ? f[2].substr(6) : ""};
    }
    return rows;
}

// With RVC_UPDATE_GOLDEN=1: the rows' expected results become the given
// ones; PAPPL's results stay as recorded.
inline bool UpdateGolden(const std::vector<std::pair<std::string, std::string>> &results) {
    const char *update = getenv("RVC_UPDATE_GOLDEN");
    if (update == nullptr || std::string(update) != "1") {
        return false;
    }
    std::string text =
        "# The image jobs of image-cases.txt: \"name result\", where result is\n"
        "# \"<bytes>:<sha-256>\" of the job data the printer got, or \"<job-state>:<reason>\"\n"
        "# for a job that printed nothing. pappl= is what PAPPL 1.3.1's own image path\n"
        "# gave where the app's decoder deliberately differs: colour PNGs printed in grey\n"
        "# take their luma (PAPPL took the red byte), grey PNGs of 1, 2 or 4 bits are\n"
        "# scaled to 8 (PAPPL printed them black), transparency is composited over\n"
        "# white (PAPPL's white wrapped round to near black in 8-bit images, and its\n"
        "# grey background was never set: black here) and CMYK JPEGs print (PAPPL\n"
        "# refused them).\n";
    const std::map<std::string, Golden> old = ReadGolden();
    for (const auto &[name, result] : results) {
        auto it = old.find(name);
        text += name + " " + result;
        if (it != old.end() && !it->second.pappl.empty()) {
            text += " pappl=" + it->second.pappl;
        }
        text += "\n";
    }
    rvt::WriteFile(rvt::SourceDir() + "/tests/data/" + kGoldenFile, text);
    return true;
}

} // namespace imgtest

#endif
