// Jobs that cannot print: each ends with job-state reasons that say why,
// nothing half-written counts as done, and the app goes on serving.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <thread>

#include "AppHarness.h"
#include "tests/filter/FilterTestSupport.h"

namespace {

using apptest::JobResult;

// Full-width grey pages: every page is a large bitmap.
std::string GreyPages(unsigned count, unsigned width = 812, unsigned height = 1218) {
    std::vector<rvctest::Page> pages(count);
    for (rvctest::Page &p : pages) {
        p.width = width;
        p.height = height;
        p.bitsPerPixel = 8;
        p.colorSpace = CUPS_CSPACE_SW;
        p.line = [](unsigned y, unsigned char *row) {
            for (unsigned x = 0; x < 812; ++x) {
                row[x] = (unsigned char)((x * 7 + y * 3) % 200);
            }
        };
    }
    return rvctest::MakeRaster(pages, CUPS_RASTER_WRITE_PWG);
}

class AppBadInput : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(app.Start(&why)) << why;
        out = app.Folder() + "/out";
        ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
        ASSERT_TRUE(app.AddPrinter("label", "vorcp_203", "file://" + out)) << app.Log();
        uri = app.PrinterUri("label");
    }

    std::string File(const std::string &name, const std::string &data) {
        const std::string path = app.Folder() + "/" + name;
        rvctest::WriteFile(path, data);
        return path;
    }

    // The app still prints a good job.
    void ExpectStillServing() {
        const JobResult ok =
            apptest::Print(uri, File("ok.pwg", GreyPages(1)), "image/pwg-raster", "ok", {});
        EXPECT_EQ(ok.state, IPP_JSTATE_COMPLETED) << ok.message << "\n" << app.Log().substr(0, 200);
    }

    // The labels in the job data a printer was sent, or -1 when it is not
    // whole TSPL commands.
    int Labels(const std::string &path) {
        const std::string cmd = apptest::ViewerPath() + " --check '" + path + "' 2>&1";
        FILE *p = popen(cmd.c_str(), "r");
        char line[512] = {0};
        const bool read = fgets(line, sizeof(line), p) != nullptr;
        const int status = pclose(p);
        const char *valid = strstr(line, ": valid, ");
        return read && status == 0 && valid ? atoi(valid + 9) : -1;
    }

    apptest::AppServer app;
    std::string out, uri;
};

// PAPPL 1.3 takes the document and aborts the job before any driver code
// runs; nothing reaches the printer.
TEST_F(AppBadInput, UnsupportedFormatAbortsBeforePrinting) {
    const JobResult r =
        apptest::Print(uri, File("note.txt", "not a label\n"), "text/plain", "note", {});
    EXPECT_EQ(r.state, IPP_JSTATE_ABORTED) << r.status << " " << r.message;
    EXPECT_NE(r.reasons.find("aborted-by-system"), std::string::npos) << r.reasons;
    EXPECT_EQ(rvctest::ReadFile(out + "/note.prn"), "");
    ExpectStillServing();
}

TEST_F(AppBadInput, OversizedPageAbortsWithItsReason) {
    const JobResult r = apptest::Print(uri, File("wide.pwg", GreyPages(1, 2000, 400)),
                                       "image/pwg-raster", "wide", {});
    EXPECT_EQ(r.state, IPP_JSTATE_ABORTED);
    EXPECT_NE(r.reasons.find("document-unprintable-error"), std::string::npos) << r.reasons;
    EXPECT_NE(r.message.find("larger than the largest label"), std::string::npos) << r.message;
    EXPECT_EQ(Labels(out + "/wide.prn"), 0);
    ExpectStillServing();
}

// The raster streams into the job while it prints; the job is canceled
// between two parts of it.
TEST_F(AppBadInput, CanceledJobEndsWithWholeCommands) {
    const std::string raster = GreyPages(6);
    std::string resource = "/ipp/print/label";
    http_t *http = httpConnect2("127.0.0.1", app.Port(), nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1,
                                10000, nullptr);
    ASSERT_NE(http, nullptr);
    ipp_t *request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 "tester");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, "canceled");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 "image/pwg-raster");
    ASSERT_EQ(cupsSendRequest(http, request, resource.c_str(), CUPS_LENGTH_VARIABLE),
              HTTP_STATUS_CONTINUE);
    const size_t part = raster.size() / 3;
    ASSERT_EQ(cupsWriteRequestData(http, raster.data(), part), HTTP_STATUS_CONTINUE);

    // The job is printing its first pages: cancel it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(apptest::CancelJob(uri, 1));
    cupsWriteRequestData(http, raster.data() + part, raster.size() - part);
    ippDelete(cupsGetResponse(http, resource.c_str()));
    ippDelete(request);
    httpClose(http);

    const JobResult r = apptest::WaitJob(uri, 1, 30);
    EXPECT_EQ(r.state, IPP_JSTATE_CANCELED);
    EXPECT_NE(r.reasons.find("job-canceled-by-user"), std::string::npos) << r.reasons;
    const int labels = Labels(out + "/canceled.prn");
    EXPECT_GE(labels, 0) << "half-written commands";
    EXPECT_LT(labels, 6);
    ExpectStillServing();
}

// A printer that takes the first bytes of a job and then drops the
// connection.
TEST_F(AppBadInput, DeviceFailingMidJobAbortsTheJob) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    ASSERT_EQ(bind(listener, (sockaddr *)&a, sizeof(a)), 0);
    ASSERT_EQ(getsockname(listener, (sockaddr *)&a, &len), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    std::atomic<size_t> received{0};
    std::thread printer([&] {
        // Connections that bring no job data (a look at the device) come
        // and go; the job's connection is reset after 4000 bytes.
        while (received < 4000) {
            int c = accept(listener, nullptr, nullptr);
            char buffer[1000];
            ssize_t n = 0;
            received = 0;
            while (received < 4000 && (n = read(c, buffer, sizeof(buffer))) > 0) {
                received += (size_t)n;
            }
            // Reset, not a polite close: the next write fails.
            linger hard{1, 0};
            setsockopt(c, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
            close(c);
        }
    });
    const std::string device = "socket://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    ASSERT_TRUE(app.AddPrinter("dropping", "vorcp_203", device)) << app.Log();

    const JobResult r = apptest::Print(app.PrinterUri("dropping"), File("three.pwg", GreyPages(3)),
                                       "image/pwg-raster", "three", {});
    printer.join();
    close(listener);
    EXPECT_GE(received.load(), 4000u);
    EXPECT_EQ(r.state, IPP_JSTATE_ABORTED) << r.id << " " << r.status << " " << r.message;
    EXPECT_NE(r.reasons.find("aborted-by-system"), std::string::npos) << r.reasons;
    EXPECT_NE(r.message.find("stopped taking data"), std::string::npos) << r.message;
    ExpectStillServing();
}

} // namespace
