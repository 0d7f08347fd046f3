// The app printing to a printer that answers: the simulated TSPL printer
// (tspl-printer) on a loopback port. Its labels are the filter's, its
// faults show in printer-state-reasons while the job waits, and no label
// is lost or printed twice; identify, the test label and USB auto-add.
#include <gtest/gtest.h>

#include "AppHarness.h"
#include "printer-app/Status.h"
#include "tools/tspl_job.h"

namespace {

using apptest::App;
using apptest::Job;
using namespace std::chrono_literals;

// The hashes of the labels a job prints, as the simulator records them.
std::vector<std::string> LabelHashes(const std::string &job) {
    std::vector<std::string> hashes;
    for (const tsplview::Label &l : rvt::ReadTspl(job).labels) {
        char hex[17];
        snprintf(hex, sizeof(hex), "%016llx", (unsigned long long)tsplview::pictureHash(l));
        hashes.insert(hashes.end(), (size_t)l.copies, hex);
    }
    return hashes;
}

std::string Reasons(const App &app, const std::string &printer) {
    ipp_t *r = app.Send(app.Request(IPP_OP_GET_PRINTER_ATTRIBUTES, printer), printer);
    char s[1024] = "";
    ippAttributeString(ippFindAttribute(r, "printer-state-reasons", IPP_TAG_KEYWORD), s, sizeof(s));
    ippDelete(r);
    return s;
}

// Asks until the printer's state reasons hold the reason (at most 5 s).
bool ReasonShows(const App &app, const std::string &printer, const std::string &reason) {
    for (int i = 0; i < 50; ++i, std::this_thread::sleep_for(100ms))
        if (Reasons(app, printer).find(reason) != std::string::npos)
            return true;
    return false;
}

TEST(AppToPrinter, FaultsShowAndTheJobWaitsThenEveryLabelPrintsOnce) {
    App app;
    ASSERT_EQ(app.Start(), "");
    rvt::Sim printer("--speed 40");
    ASSERT_TRUE(app.AddPrinter("sim", printer.Uri())) << printer.Uri() << app.Log();
    // The labels as the filter makes them (the app's bytes are the filter's).
    const std::string ten = apptest::Document("labels-10");
    ASSERT_EQ(app.Print(ten, "image/pwg-raster", "ten").state, IPP_JSTATE_COMPLETED);
    ASSERT_EQ(apptest::Digest(app.Out("ten")), apptest::FilterDigest("labels-10"));
    const std::vector<std::string> expected = LabelHashes(app.Out("ten"));
    ASSERT_EQ(expected.size(), 10u);

    // A printer that has answered is asked again after a question it let pass
    // (stalled for a moment); then out of paper after 3 of 10 labels: the job
    // waits with the reason.
    ASSERT_EQ(app.Print(apptest::Labels(1), "image/pwg-raster", "1", "", "sim").state,
              IPP_JSTATE_COMPLETED);
    EXPECT_EQ(printer.Control("stall"), "ok");
    app.Submit(apptest::Labels(1), "image/pwg-raster", "2", "", "sim");
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(printer.Control("resume"), "ok");
    printer.WaitFor("printed=2 jobs=2");
    EXPECT_EQ(printer.Control("paper 3"), "ok");
    const int out = app.Submit(ten, "image/pwg-raster", "paper-out", "", "sim");
    EXPECT_TRUE(ReasonShows(app, "sim", "media-empty")) << Reasons(app, "sim");
    const Job waiting = app.State(out, "sim");
    EXPECT_EQ(waiting.state, IPP_JSTATE_PROCESSING);
    EXPECT_NE(waiting.reasons.find("printer-stopped"), std::string::npos) << waiting.reasons;
    EXPECT_NE(waiting.message.find("out of labels"), std::string::npos) << waiting.message;
    EXPECT_EQ(printer.Labels(3).size(), 3u);
    EXPECT_EQ(printer.Control("refill"), "ok");
    EXPECT_EQ(app.Wait(out, "sim").state, IPP_JSTATE_COMPLETED);
    EXPECT_EQ(printer.Labels(3), expected);
    EXPECT_EQ(Reasons(app, "sim"), "none");

    // The head open: likewise.
    EXPECT_EQ(printer.Control("head open"), "ok");
    const int head = app.Submit(ten, "image/pwg-raster", "head", "", "sim");
    EXPECT_TRUE(ReasonShows(app, "sim", "cover-open")) << Reasons(app, "sim");
    EXPECT_EQ(app.State(head, "sim").state, IPP_JSTATE_PROCESSING);
    EXPECT_EQ(printer.Control("head close"), "ok");
    EXPECT_EQ(app.Wait(head, "sim").state, IPP_JSTATE_COMPLETED);
    EXPECT_EQ(printer.Labels(4), expected);

    // The connection dropped mid-job: aborted with the reason, never
    // completed (printing it again could print labels twice).
    EXPECT_EQ(printer.Control("drop 3000"), "ok");
    const Job dropped = app.Print(ten, "image/pwg-raster", "dropped", "", "sim");
    EXPECT_EQ(dropped.state, IPP_JSTATE_ABORTED) << dropped.message;
    EXPECT_NE(dropped.message.find("stopped taking data"), std::string::npos) << dropped.message;
    EXPECT_EQ(app.Print(apptest::Labels(1), "image/pwg-raster", "after", "", "sim").state,
              IPP_JSTATE_COMPLETED);
    // The jobs asked a few times a second while they waited, not in a loop.
    const std::string said = printer.Control("status");
    EXPECT_LT(atol(said.c_str() + said.find("queries=") + 8), 500) << said;
    // A printer that cannot be asked (its address has no valid port) is not taken as ready.
    EXPECT_EQ(vorcp::AskStatus("socket://127.0.0.1:99999", 100), -1);
    // Answers that came too late for two earlier questions (while it was out
    // of paper) are not taken for the next one's.
    rvt::Sim late("--paper 0");
    pappl_device_t *device = papplDeviceOpen(late.Uri().c_str(), "late", nullptr, nullptr);
    ASSERT_NE(device, nullptr);
    papplDeviceWrite(device, "\x1b!?\x1b!?", 6);
    papplDeviceFlush(device);
    late.WaitFor("queries=2");
    EXPECT_EQ(late.Control("refill"), "ok");
    EXPECT_EQ(vorcp::AskStatus(device, late.Uri(), 500), 0);
    papplDeviceClose(device);
}

// Identify feeds a blank label; the test label carries the printer's name
// as a Code 128 barcode that a barcode reader reads back from the label.
TEST(AppToPrinter, IdentifyAndTheTestLabel) {
    App app;
    ASSERT_EQ(app.Start(), "");
    rvt::Sim printer("--speed 40");
    ASSERT_TRUE(app.AddPrinter("shelf-7", printer.Uri()));
    ipp_t *identify = app.Request(IPP_OP_IDENTIFY_PRINTER, "shelf-7");
    ipp_t *answer = app.Send(identify, "shelf-7");
    EXPECT_EQ(ippGetStatusCode(answer), IPP_STATUS_OK);
    ippDelete(answer);
    for (int i = 0; i < 50 && printer.Labels(1).empty(); ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_EQ(printer.Labels(1).size(), 1u);

    // The web page's "Print Test Page" button.
    const std::string page = app.Curl("/shelf-7");
    const std::string token = rvt::RegexGroup(page, "name=\"session\" value=\"(\\w+)\"");
    ASSERT_NE(token, "") << page.size() << page.substr(0, 200);
    app.Curl("/shelf-7/ -d 'session=" + token + "&action=print-test-page'");
    for (int i = 0; i < 100 && printer.Labels(2).empty(); ++i)
        std::this_thread::sleep_for(50ms);
    // The label as designed (a deliberate change of it changes this hash).
    EXPECT_EQ(printer.Labels(2), std::vector<std::string>{"962a437e11f8d077"});
    const auto [status, read] =
        rvt::Shell("zbarimg -q --raw " + printer.out() + "/job002-001-x1.png" + " 2>/dev/null");
    EXPECT_EQ(read, "shelf-7\n") << status;
}

// Which USB printers the app adds by itself.
TEST(AppAutoAdd, TsplPrintersOnly) {
    const struct {
        const char *id, *driver;
    } cases[] = {
        {"MFG:Acme;MDL:LP-4 203dpi;CMD:TSPL,EPL;", "vorcp_203"},
        {"MANUFACTURER:Acme;MODEL:LP-4 300 DPI;COMMAND SET:ZPL,TSPL;", "vorcp_300"},
        {"MFG:Acme;MDL:LP-4;CMD: tspl ;DES:label printer 300-dpi;", "vorcp_300"},
        {"MFG:Acme;MDL:LP-4;CMD:TSPL2;", nullptr},
        {"MFG:Acme;MDL:Laser 300dpi;CMD:PCL,POSTSCRIPT;", nullptr},
        {"MFG:Acme;MDL:TSPL Printer;CMD:ZPL;", nullptr},
        {"", nullptr},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(vorcp::DriverForDeviceId(c.id), c.driver) << c.id;
}

} // namespace
