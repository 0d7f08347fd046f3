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

// The worked examples of job data stay in the golden files, byte for byte,
// whatever a regeneration writes.
TEST(Golden, WorkedExamplesStay) {
    int checked = 0;
    for (const std::string &line : rvt::CaseLines("worked-examples.txt")) {
        const size_t tab = line.find('\t'), tab2 = line.find('\t', tab + 1);
        std::string want = line.substr(tab2 + 1);
        // \n is a line break, except as the end of the escaped CR LF \r\n.
        for (size_t at = 0; (at = want.find("\\n", at)) != std::string::npos;)
            at = at > 0 && want[at - 1] == 'r' ? at + 2 : (want.replace(at, 2, "\n"), at + 1);
        const std::string golden =
            rvt::ReadFile(rvt::SourceDir() + "/tests/data/" + line.substr(0, tab));
        const size_t start = golden.find("=== " + line.substr(tab + 1, tab2 - tab - 1) + "\n");
        ASSERT_NE(start, std::string::npos) << line;
        EXPECT_NE(golden.substr(start, golden.find("\n===", start + 1) - start).find(want),
                  std::string::npos)
            << line;
        ++checked;
    }
    EXPECT_EQ(checked, 27);
}
