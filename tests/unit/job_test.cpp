// Whole jobs through the page loop in this process, without the page
// pause: the jobs of a data file against a golden file, the trace of one
// job, and the geometry read back through the viewer.
#include <sstream>

#include <gtest/gtest.h>

#include "filter/FilterJob.h"
#include "tests/support/Support.h"

namespace {

// A page line of the data file (its syntax is described there).
rvt::Page ParsePage(std::istringstream &in) {
    rvt::Page p;
    std::string word;
    in >> word;
    sscanf(word.c_str(), "%ux%u", &p.width, &p.height);
    std::vector<std::pair<std::vector<unsigned>, uint32_t>> boxes;
    bool ramp = false;
    while (in >> word) {
        const std::string key = word.substr(0, word.find('=')), v = word.substr(word.find('=') + 1);
        unsigned a[5] = {0, 0, 0, 0, 0};
        sscanf(v.c_str(), "%u,%u,%u,%u,%x", &a[0], &a[1], &a[2], &a[3], &a[4]);
        if (key == "box")
            boxes.push_back({{a[0], a[1], a[2], a[3]}, a[4]});
        ramp |= key == "ramp";
        p.copies = key == "copies" ? a[0] : p.copies;
        p.rows = key == "rows" ? (int)a[0] : p.rows;
        p.bytesPerLine = key == "bpl" ? a[0] : p.bytesPerLine;
        if (key == "dpi")
            p.xdpi = a[0], p.ydpi = a[1];
        if (key == "format")
            p.space = (cups_cspace_t)a[0], p.bitsPerColor = a[1], p.bitsPerPixel = a[2],
            p.order = (cups_order_t)a[3];
    }
    p.colour = [=](unsigned x, unsigned y) {
        uint32_t c = !ramp ? 0xffffffu : y >= 20 ? 0u : (x * 4) * 0x010101u;
        for (const auto &b : boxes)
            if (x >= b.first[0] && x <= b.first[2] && y >= b.first[1] && y <= b.first[3])
                c = b.second;
        return c;
    };
    return p;
}

TEST(Job, JobsOfTheDataFile) {
    const std::vector<std::string> lines = rvt::CaseLines("job-cases.txt");
    rvt::TempDir dir;
    std::string text;
    for (size_t i = 0; i < lines.size();) {
        const std::string head = lines[i++];
        std::vector<std::string> parts = rvt::Split(head.substr(4), '|');
        parts.resize(3);
        std::vector<rvt::Page> pages;
        for (; i < lines.size() && lines[i].rfind("page ", 0) == 0; ++i) {
            std::istringstream page(lines[i].substr(5));
            pages.push_back(ParsePage(page));
        }
        std::vector<std::pair<std::string, std::string>> defaults;
        std::istringstream defs(parts[2]);
        for (std::string d; defs >> d;)
            defaults.push_back({d.substr(0, d.find('=')), d.substr(d.find('=') + 1)});
        rvt::Result r = rvt::RunJob(rvt::Raster(pages), parts[1], rvt::Ppd(dir, defaults));
        text += "=== " + head + "\nstatus " + std::to_string(r.status) + ": " + rvt::Escape(r.err) +
                "\n" + rvt::Escape(r.out) + "\n";
        if (r.status == 0)
            rvt::ReadTspl(r.out); // well formed for a printer
    }
    rvt::ExpectGolden("jobs.txt", text);
}

TEST(Job, TraceOfAJob) {
    rvt::TempDir dir;
    const rvt::Result r = rvt::RunJob(
        rvt::Raster({rvt::InkPage(8, 4, 23, 11), rvt::InkPage(0, 0, 7, 1)}), "", rvt::Ppd(dir));
    ASSERT_EQ(r.status, 0);
    // Addresses differ from run to run; only whether one is null counts.
    const std::string log =
        rvt::RegexReplace(rvt::ReadFile(rvt::kFilterLog), rvt::kStampPattern, "");
    rvt::ExpectGolden("job-trace.txt", rvt::Escape(rvt::RegexReplace(
                                           log, "0x[0-9a-f]*[1-9a-f][0-9a-f]*", "0x<address>")));
}

TEST(Job, RepeatedJobsStartFromFreshState) {
    rvt::TempDir dir;
    const std::string ppd = rvt::Ppd(dir), raster = rvt::Raster({rvt::InkPage(8, 4, 23, 11, 2),
                                                                 rvt::InkPage(8, 4, 23, 11, 2)});
    // The interval cutter counts labels across the job: a count left over
    // from the previous job would move the cuts.
    const char *options = "Mode=Cutter CutMethod=Interval Interval=3";
    const rvt::Result first = rvt::RunJob(raster, options, ppd);
    ASSERT_EQ(first.status, 0);
    Canceled = 1; // a stale cancellation must not leak into the next job
    EXPECT_EQ(rvt::RunJob(raster, options, ppd).out, first.out);
}

} // namespace
