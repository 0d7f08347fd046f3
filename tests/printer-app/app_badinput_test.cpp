// Jobs that cannot print: each ends with job-state reasons that say why,
// nothing half-written counts as done, and the app goes on serving.
#include <gtest/gtest.h>

#include <atomic>

#include "AppHarness.h"

namespace {

using apptest::Job;

// One server for all: after each failure it must go on printing.
TEST(AppBadInput, EachFailureEndsItsJobAlone) {
    apptest::App app;
    ASSERT_EQ(app.Start(), "");
    auto expectStillServing = [&](const char *after) {
        const Job ok =
            app.Print(apptest::Labels(1), "image/pwg-raster", std::string("ok-") + after);
        EXPECT_EQ(ok.state, IPP_JSTATE_COMPLETED) << after << ": " << ok.message << "\n"
                                                  << app.Log();
    };
    // PAPPL 1.3 takes a document it cannot read and aborts the job before
    // any driver code runs; a page wider than any label stops at the driver.
    const struct {
        const char *name, *format;
        std::string data;
        const char *reason, *message;
    } cases[] = {
        {"note", "text/plain", "not a label\n", "aborted-by-system", ""},
        {"wide", "image/pwg-raster", apptest::Labels(1, 1, 2000, 400), "document-unprintable-error",
         "larger than the largest label"},
    };
    for (const auto &c : cases) {
        const Job r = app.Print(c.data, c.format, c.name);
        EXPECT_EQ(r.state, IPP_JSTATE_ABORTED) << c.name;
        EXPECT_NE(r.reasons.find(c.reason), std::string::npos) << c.name << ": " << r.reasons;
        EXPECT_NE(r.message.find(c.message), std::string::npos) << c.name << ": " << r.message;
        EXPECT_EQ(rvt::ReadTspl(app.Out(c.name)).totalLabels, 0) << c.name;
    }
    expectStillServing("unprintable");

    // The raster streams into the job while it prints; the job is canceled
    // in the middle of its third page.
    const std::string raster = apptest::Labels(6);
    http_t *http = app.Connect();
    ASSERT_NE(http, nullptr);
    ipp_t *request = app.Request(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "canceled");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 "image/pwg-raster");
    ASSERT_EQ(cupsSendRequest(http, request, "/ipp/print/label", CUPS_LENGTH_VARIABLE),
              HTTP_STATUS_CONTINUE);
    const size_t part = raster.size() * 5 / 12;
    ASSERT_EQ(cupsWriteRequestData(http, raster.data(), part), HTTP_STATUS_CONTINUE);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ipp_t *cancel = app.Request(IPP_OP_CANCEL_JOB);
    ippAddInteger(cancel, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", 4);
    ippDelete(app.Send(cancel));
    cupsWriteRequestData(http, raster.data() + part, raster.size() - part);
    ippDelete(cupsGetResponse(http, "/ipp/print/label"));
    ippDelete(request);
    httpClose(http);

    const Job canceled = app.Wait(4);
    EXPECT_EQ(canceled.state, IPP_JSTATE_CANCELED);
    EXPECT_NE(canceled.reasons.find("job-canceled-by-user"), std::string::npos) << canceled.reasons;
    EXPECT_LT(rvt::ReadTspl(app.Out("canceled")).totalLabels, 6);
    expectStillServing("canceled");

    // A network printer that takes the first bytes of a job and then drops
    // the connection.
    int port = 0;
    const int listener = apptest::Listen(&port);
    ASSERT_TRUE(app.AddPrinter("dropping", "socket://127.0.0.1:" + std::to_string(port)));
    std::atomic<size_t> received{0};
    std::thread printer([&] {
        // Connections that bring no job data (a look at the device) come and
        // go; the job's is reset, not closed, so that the next write fails.
        while (received < 4000) {
            const int c = accept(listener, nullptr, nullptr);
            char buffer[1000];
            ssize_t n = 0;
            for (received = 0; received < 4000 && (n = read(c, buffer, sizeof(buffer))) > 0;) {
                received += (size_t)n;
            }
            linger reset{1, 0};
            setsockopt(c, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
            close(c);
        }
    });
    const Job r =
        app.Print(apptest::Labels(3, 1, 812, 1218), "image/pwg-raster", "three", "", "dropping");
    printer.join();
    close(listener);
    EXPECT_EQ(r.state, IPP_JSTATE_ABORTED) << r.message;
    EXPECT_NE(r.reasons.find("aborted-by-system"), std::string::npos) << r.reasons;
    EXPECT_NE(r.message.find("stopped taking data"), std::string::npos) << r.message;
    expectStillServing("dropped");
}

} // namespace
