// PNG and JPEG jobs over IPP send the printer the golden bytes: the image
// matrix printed back to back through one server with a 203 and a 300 dpi
// printer.
#include <gtest/gtest.h>

#include <map>

#include "AppHarness.h"
#include "ImageSamples.h"

namespace {

// The image job matrix (tests/data/image-cases.txt).

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
    std::string text;
    for (const std::string &line :
         rvt::Split(rvt::ReadFile(rvt::SourceDir() + "/tests/data/image-jobs.txt"), '\n'))
        if (line.rfind("#", 0) == 0)
            text += line + "\n";
    for (const auto &[name, result] : results)
        text += name + " " + result + "\n";
    rvt::ExpectGolden("image-jobs.txt", text);
    EXPECT_EQ(results.size(), 38u);
}

} // namespace
