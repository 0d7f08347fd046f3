// The viewer's reader, which every test uses to read job data: the jobs of
// tests/data/viewer (settings, bitmap modes, clipping, cutter counts and
// faults at their byte) as its summaries in a golden file.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/support/Support.h"

TEST(Viewer, ReadsJobsAsAPrinterWould) {
    std::vector<std::filesystem::path> files;
    for (const auto &e :
         std::filesystem::directory_iterator(rvt::SourceDir() + "/tests/data/viewer"))
        files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::string text;
    for (const auto &f : files) {
        const std::string job = rvt::ReadFile(f.string());
        const tsplview::ReadResult r = tsplview::readJob((const uint8_t *)job.data(), job.size());
        text +=
            "=== " + f.filename().string() + "\n" +
            (r.ok ? "" : "fault at byte " + std::to_string(r.errorOffset) + ": " + r.error + "\n") +
            tsplview::summary(r.job, {});
    }
    rvt::ExpectGolden("viewer.txt", text);
}
