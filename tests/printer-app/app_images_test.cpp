// PNG and JPEG jobs over IPP send the printer the golden bytes: the image
// matrix printed back to back through one server with a 203 and a 300 dpi
// printer.
#include <gtest/gtest.h>

#include <map>

#include "AppHarness.h"
#include "ImageSamples.h"

namespace {

// The image job matrix (tests/data/image-cases.txt) and its golden results
// (tests/data/image-jobs.txt).

struct ImageCase {
    std::string name, sample;
    int dpi = 203;     // the model: vorcp_203 or vorcp_300
    std::string attrs; // the job's IPP attributes, "name=value ..."
};

std::vector<ImageCase> ImageCases() {
    std::vector<ImageCase> cases;
    for (const std::string &line : rvt::CaseLines("image-cases.txt")) {
        std::vector<std::string> f = rvt::Split(line, '|');
        f.resize(4);
        cases.push_back({f[0], f[1], std::stoi(f[2]), f[3]});
    }
    return cases;
}

// A golden row: the result expected, and for the rows where the app's own
// decoder deliberately differs from PAPPL's image path, what PAPPL gave.
struct Golden {
    std::string expected, pappl;
};

const char *kGoldenFile = "image-jobs.txt";

std::map<std::string, Golden> ReadGolden() {
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
bool UpdateGolden(const std::vector<std::pair<std::string, std::string>> &results) {
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

TEST(AppImages, EachImageJobSendsTheGoldenBytes) {
    apptest::App app;
    ASSERT_EQ(app.Start(), "");
    ASSERT_TRUE(app.AddPrinter("label300", app.OutUri(), "vorcp_300")) << app.Log();

    // Every job is queued on paused printers first: PAPPL 1.3.1 can start a
    // queued job twice when a job arrives as another ends.
    auto control = [&](ipp_op_t op) {
        for (const char *printer : {"label", "label300"}) {
            ipp_t *response = app.Send(app.Request(op, printer), printer);
            ASSERT_EQ(ippGetStatusCode(response), IPP_STATUS_OK) << cupsLastErrorString();
            ippDelete(response);
        }
    };
    control(IPP_OP_PAUSE_PRINTER);
    rvt::TempDir files;
    std::map<std::string, imgtest::Format> samples;
    std::vector<std::pair<ImageCase, int>> jobs;
    for (const ImageCase &c : ImageCases()) {
        if (samples.count(c.sample) == 0) {
            const std::string data = imgtest::Sample(c.sample, &samples[c.sample]);
            ASSERT_FALSE(data.empty()) << c.name << ": no sample " << c.sample;
            rvt::WriteFile(files / c.sample, data);
        }
        const imgtest::Format format = samples[c.sample];
        const std::string printer = c.dpi == 300 ? "label300" : "label";
        ipp_t *request = app.Request(IPP_OP_PRINT_JOB, printer);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, c.name.c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                     format == imgtest::Format::Png ? "image/png" : "image/jpeg");
        apptest::AddAttrs(request, IPP_TAG_JOB, c.attrs);
        ipp_t *response = app.Send(request, printer, files / c.sample);
        const int id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
        ASSERT_NE(id, 0) << c.name << ": " << cupsLastErrorString() << "\n" << app.Log();
        ippDelete(response);
        jobs.emplace_back(c, id);
    }

    control(IPP_OP_RESUME_PRINTER);
    std::vector<std::pair<std::string, std::string>> results;
    for (const auto &[c, id] : jobs) {
        const apptest::Job j = app.Wait(id, c.dpi == 300 ? "label300" : "label");
        ASSERT_GE(j.state, IPP_JSTATE_CANCELED) << c.name << " never ended\n" << app.Log();
        results.emplace_back(c.name, j.state == IPP_JSTATE_COMPLETED
                                         ? apptest::Digest(app.Out(c.name))
                                         : std::string(ippEnumString("job-state", j.state)) + ":" +
                                               rvt::Split(j.reasons, ',')[0]);
    }
    if (UpdateGolden(results)) {
        return;
    }

    const std::map<std::string, Golden> golden = ReadGolden();
    for (const auto &[name, result] : results) {
        auto it = golden.find(name);
        ASSERT_NE(it, golden.end()) << name << ": no golden row (RVC_UPDATE_GOLDEN=1)";
        EXPECT_EQ(result, it->second.expected) << name;
    }
    EXPECT_EQ(results.size(), 38u);
}

} // namespace
