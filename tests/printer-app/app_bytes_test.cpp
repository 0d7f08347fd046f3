// The app sends the printer the same bytes as the filter: for each setting,
// a raster job over IPP against the filter given the equivalent PPD options
// and the same grey pixels.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <mutex>

#include "AppHarness.h"

namespace {

using apptest::App;
using apptest::Job;
using Clock = std::chrono::steady_clock;

// A name with a number (GCC 12 misreads "text" + std::string as an overlap).
std::string Named(const char *prefix, int n) {
    return std::string(prefix).append(std::to_string(n));
}

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

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
    EXPECT_EQ(tested, 27);
}

// Load: several printers, several clients at once. VORCP_LOAD="printers
// clients jobs rounds" sizes it (scripts/app-load.sh); each round is a fresh
// server.
TEST(AppLoad, ClientsAtOnceGetTheFilterBytes) {
    int printers = 2, clients = 4, jobs = 40, rounds = 1;
    if (const char *size = getenv("VORCP_LOAD")) {
        sscanf(size, "%d %d %d %d", &printers, &clients, &jobs, &rounds);
    }
    // Documents of one to three pages, and what the filter makes of each.
    std::vector<std::string> docs, expected;
    for (unsigned pages = 1; pages <= 3; ++pages) {
        docs.push_back(apptest::Labels(pages));
        const rvt::Result r = rvt::RunJob(docs.back(), "", RVC_PPD_DIR "/rastertovorcp-203.ppd");
        ASSERT_EQ(r.status, 0) << r.err;
        expected.push_back(r.out);
    }
    for (int round = 1; round <= rounds; ++round) {
        App app;
        ASSERT_EQ(app.Start(), "");
        for (int p = 0; p < printers; ++p) {
            const std::string folder = app.Dir() / (Named("p", p));
            mkdir(folder.c_str(), 0700);
            ASSERT_TRUE(app.AddPrinter(Named("p", p), "file://" + folder));
        }
        struct Sent {
            int printer, id, doc;
            std::string name;
        };
        std::mutex m;
        std::vector<Sent> sent;
        std::atomic<int> busy{0}, refused{0};
        std::atomic<bool> loading{true};
        std::atomic<long> slowestAnswerMs{0};
        const auto start = Clock::now();
        // The server answers throughout.
        std::thread watcher([&] {
            while (loading) {
                const auto asked = Clock::now();
                ipp_t *r = app.Send(app.Request(IPP_OP_GET_PRINTER_ATTRIBUTES, "p0"), "p0");
                const long ms = (long)(Since(asked) * 1000);
                slowestAnswerMs = std::max(slowestAnswerMs.load(), r != nullptr ? ms : 1000000L);
                ippDelete(r);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                for (int j = c; j < jobs; j += clients) {
                    const int printer = j % printers, doc = (j / printers) % (int)docs.size();
                    const std::string name = Named("r", round) + Named("-j", j);
                    ipp_status_t status = IPP_STATUS_OK;
                    int id = 0;
                    // A client retries a busy printer, as CUPS's backend does.
                    for (int attempt = 0; attempt < 100; ++attempt) {
                        id = app.Submit(docs[(size_t)doc], "image/pwg-raster", name, "",
                                        Named("p", printer), &status);
                        if (status != IPP_STATUS_ERROR_BUSY)
                            break;
                        ++busy;
                        std::this_thread::sleep_for(std::chrono::milliseconds(20 + 10 * attempt));
                    }
                    if (id == 0) {
                        ++refused;
                        continue;
                    }
                    std::lock_guard<std::mutex> l(m);
                    sent.push_back({printer, id, doc, name});
                }
            });
        }
        for (std::thread &t : threads)
            t.join();
        int printed = 0;
        for (const Sent &s : sent) {
            const Job j = app.Wait(s.id, Named("p", s.printer));
            EXPECT_EQ(j.state, IPP_JSTATE_COMPLETED) << s.name << ": " << j.message;
            const std::string out =
                rvt::ReadFile(app.Dir() / (Named("p", s.printer) + "/" + s.name + ".prn"));
            EXPECT_TRUE(out == expected[(size_t)s.doc]) << s.name << ": " << out.size() << " bytes";
            printed += j.state == IPP_JSTATE_COMPLETED;
        }
        const double seconds = Since(start);
        loading = false;
        watcher.join();
        EXPECT_EQ(refused, 0);
        EXPECT_EQ((int)sent.size(), jobs);
        EXPECT_LT(slowestAnswerMs, 5000) << "the server stopped answering";
        const double stop = app.Stop();
        EXPECT_LT(stop, 5.0);
        printf("round %d: %d printers, %d clients: %d of %d jobs printed in %.2f s (%.1f jobs/s), "
               "%d busy answers, slowest answer %ld ms, stopped in %.2f s\n",
               round, printers, clients, printed, jobs, seconds, printed / seconds, busy.load(),
               slowestAnswerMs.load(), stop);
    }
}

} // namespace
