// PNG and JPEG jobs over IPP send the printer the golden bytes: the image
// matrix printed back to back through one server with a 203 and a 300 dpi
// printer.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "AppHarness.h"
#include "ImageCases.h"
#include "ImageSamples.h"

namespace {

TEST(AppImages, EachImageJobSendsTheGoldenBytes) {
    const auto started = std::chrono::steady_clock::now();
    apptest::App app;
    ASSERT_EQ(app.Start(), "");
    ASSERT_TRUE(app.AddPrinter("label300", "file://" + app.OutDir(), "vorcp_300")) << app.Log();

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
    std::vector<std::pair<imgtest::ImageCase, int>> jobs;
    for (const imgtest::ImageCase &c : imgtest::ImageCases()) {
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
                                         ? imgtest::Digest(app.Out(c.name))
                                         : std::string(ippEnumString("job-state", j.state)) + ":" +
                                               rvt::Split(j.reasons, ',')[0]);
    }
    if (imgtest::UpdateGolden(results)) {
        return;
    }

    // Where the app's decoder deliberately differs from PAPPL's, the app
    // gives one side's results for every such row: PAPPL's while the app
    // still prints images through PAPPL, its own ever after.
    const std::map<std::string, imgtest::Golden> golden = imgtest::ReadGolden();
    int own = 0, pappl = 0;
    for (const auto &[name, result] : results) {
        SCOPED_TRACE(name);
        auto it = golden.find(name);
        ASSERT_NE(it, golden.end()) << "no golden row (RVC_UPDATE_GOLDEN=1 ctest -L unit)";
        const imgtest::Golden &g = it->second;
        if (!g.pappl.empty() && result == g.pappl) {
            ++pappl;
        } else {
            own += !g.pappl.empty();
            EXPECT_EQ(result, g.expected) << app.Log();
        }
    }
    EXPECT_TRUE(own == 0 || pappl == 0)
        << own << " rows print as the app's decoder, " << pappl << " as PAPPL's";
    EXPECT_EQ(results.size(), 38u);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
    RecordProperty("wall_ms", (int)ms);
}

} // namespace
