// The app sends the printer the same bytes as the filter: for each setting,
// a raster job over IPP against the filter given the equivalent PPD options
// and the same grey pixels; and the filter's bytes for the documents the
// other tests of the app print.
#include <gtest/gtest.h>

#include "AppHarness.h"

namespace {

TEST(AppBytes, EachSettingGivesTheFilterBytes) {
    apptest::App app;
    ASSERT_EQ(app.Start(), "");
    int tested = 0;
    for (const std::string &line : rvt::CaseLines("app-settings.txt")) {
        std::vector<std::string> f = rvt::Split(line, '|');
        f.resize(5), ++tested;
        const std::string &name = f[0], &job = f[1], &mode = f[2], &copies = f[3], &ppd = f[4];
        SCOPED_TRACE(name);
        ipp_t *request = app.Request(IPP_OP_SET_PRINTER_ATTRIBUTES);
        apptest::AddAttrs(request, IPP_TAG_PRINTER, "label-mode-configured=" + mode);
        ippDelete(app.Send(request));
        const std::string raster = apptest::Labels(std::stoi(copies), std::stoi(copies));
        const apptest::Job j =
            app.Print(raster, "image/pwg-raster", name, job + " copies=" + copies);
        ASSERT_EQ(j.state, IPP_JSTATE_COMPLETED) << j.message << "\n" << app.Log();

        const rvt::Result expected = rvt::RunJob(raster, ppd, RVC_PPD_DIR "/rastertovorcp-203.ppd");
        ASSERT_EQ(expected.status, 0) << expected.err;
        const std::string sent = app.Out(name);
        ASSERT_FALSE(sent.empty());
        EXPECT_TRUE(sent == expected.out)
            << "app " << sent.size() << " bytes, filter " << expected.out.size() << " bytes";
        // A setting that reached neither side would pass unnoticed.
        EXPECT_TRUE(name == "defaults" || sent != app.Out("defaults"));
    }
    EXPECT_EQ(tested, 42);
}

// The filter's job data for the documents the app's tests print; they
// compare the app's with these digests.
TEST(AppDocuments, TheGoldenDigestsAreTheFilters) {
    std::string text = "# document|bytes:sha-256 of the filter's job data (203 dpi, defaults)\n";
    for (const char *name : {"labels-1", "labels-2", "labels-3", "labels-10"}) {
        const rvt::Result r =
            rvt::RunJob(apptest::Document(name), "", RVC_PPD_DIR "/rastertovorcp-203.ppd");
        ASSERT_EQ(r.status, 0) << r.err;
        text += std::string(name).append("|").append(apptest::Digest(r.out)).append("\n");
    }
    rvt::ExpectGolden("app-documents.txt", text);
}

} // namespace
