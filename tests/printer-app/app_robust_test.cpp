// The app under real use: clients at once, cancellations at any moment,
// documents that cannot print, printers that fail, and stops. Every job
// ends printed or with a reason, whole commands only, and the server goes
// on answering.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <tuple>

#include "AppHarness.h"
#include "ImageSamples.h"

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

// Load: several printers, several clients at once. VORCP_LOAD="printers
// clients jobs rounds" sizes it (scripts/app-load.sh); each round is a fresh
// server.
TEST(AppLoad, ClientsAtOnceGetTheFilterBytes) {
    int printers = 2, clients = 4, jobs = 40, rounds = 1;
    if (const char *size = getenv("VORCP_LOAD"))
        sscanf(size, "%d %d %d %d", &printers, &clients, &jobs, &rounds);
    // Documents of one to three pages, and what the filter makes of each.
    std::vector<std::string> docs, expected;
    for (const char *name : {"labels-1", "labels-2", "labels-3"}) {
        docs.push_back(apptest::Document(name));
        expected.push_back(apptest::FilterDigest(name));
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
            int client, printer, id, doc;
            std::string name;
        };
        std::mutex m;
        std::vector<Sent> sent;
        std::atomic<int> busy{0};
        std::atomic<bool> loading{true};
        std::atomic<long> slowestAnswerMs{0};
        const long files = app.Held("fd"), tasks = app.Held("task");
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
                    if (id == 0)
                        continue; // refused: missing from sent
                    std::lock_guard<std::mutex> l(m);
                    sent.push_back({c, printer, id, doc, name});
                }
            });
        }
        for (std::thread &t : threads)
            t.join();
        int printed = 0;
        // A printer's jobs print one at a time in the order they came: each
        // of a client's jobs (sent once the one before was taken) was last
        // written after the one before.
        std::sort(sent.begin(), sent.end(), [](const Sent &a, const Sent &b) {
            return std::tie(a.printer, a.client, a.id) < std::tie(b.printer, b.client, b.id);
        });
        struct timespec before {};
        for (size_t i = 0; i < sent.size(); ++i) {
            const Sent &s = sent[i];
            const Job j = app.Wait(s.id, Named("p", s.printer));
            EXPECT_EQ(j.state, IPP_JSTATE_COMPLETED) << s.name << ": " << j.message;
            const std::string path = app.Dir() / (Named("p", s.printer) + "/" + s.name + ".prn");
            EXPECT_EQ(apptest::Digest(rvt::ReadFile(path)), expected[(size_t)s.doc]) << s.name;
            printed += j.state == IPP_JSTATE_COMPLETED;
            struct stat info {};
            stat(path.c_str(), &info);
            if (i > 0 && sent[i - 1].printer == s.printer && sent[i - 1].client == s.client) {
                EXPECT_GT(std::tie(info.st_mtim.tv_sec, info.st_mtim.tv_nsec),
                          std::tie(before.tv_sec, before.tv_nsec))
                    << s.name << " printed before a job that came earlier";
            }
            before = info.st_mtim;
        }
        const double seconds = Since(start);
        loading = false;
        watcher.join();
        EXPECT_EQ((int)sent.size(), jobs);
        EXPECT_LT(slowestAnswerMs, 5000) << "the server stopped answering";
        EXPECT_LE(app.Held("fd"), files + 4) << "jobs leave descriptors open";
        for (int i = 0; i < 20 && app.Held("task") > tasks + 4; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the clients' threads end
        EXPECT_LE(app.Held("task"), tasks + 4) << "jobs leave threads behind";
        const double stop = app.Stop();
        EXPECT_LT(stop, 5.0);
        printf("round %d: %d printers, %d clients: %d of %d jobs printed in %.2f s (%.1f jobs/s), "
               "%d busy answers, slowest answer %ld ms, stopped in %.2f s\n",
               round, printers, clients, printed, jobs, seconds, printed / seconds, busy.load(),
               slowestAnswerMs.load(), stop);
    }
}

// A printer on a named pipe that the test reads at its own pace: Hold(n)
// stops reading once n bytes of the current job have come.
class PipePrinter {
  public:
    explicit PipePrinter(const std::string &path) : path_(path) {
        mkfifo(path.c_str(), 0600);
        reader_ = std::thread([this] { Read(); });
    }
    ~PipePrinter() {
        done_ = true;
        reader_.join();
    }
    std::string Uri() const { return "file://" + path_; }
    void Hold(size_t bytes) {
        std::lock_guard<std::mutex> l(m_);
        hold_ = bytes;
        cv_.notify_all();
    }
    // Waits (at most 5 s) until n bytes of the current job have come.
    bool Got(size_t n) {
        std::unique_lock<std::mutex> l(m_);
        return cv_.wait_for(l, std::chrono::seconds(5), [&] { return current_.size() >= n; });
    }
    // The jobs read so far, each as its writer closed the pipe.
    std::vector<std::string> Jobs() {
        std::lock_guard<std::mutex> l(m_);
        return jobs_;
    }
    // Once a job has ended (and closed the pipe if it opened it): waits
    // until the reader has seen the close, so that the next job's bytes are
    // not taken for its own. Two turns of the reader see a close that came
    // before; a job still being read is waited for (at most 1 s).
    void Settle() {
        std::unique_lock<std::mutex> l(m_);
        const long turn = turns_;
        cv_.wait_for(l, std::chrono::seconds(1),
                     [&] { return turns_ >= turn + 2 && current_.empty(); });
    }

  private:
    void Read() {
        int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        while (!done_) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 5);
            std::unique_lock<std::mutex> l(m_);
            if (current_.size() >= hold_) {
                cv_.wait_for(l, std::chrono::milliseconds(5));
                continue;
            }
            char buffer[65536];
            const size_t want = std::min(sizeof(buffer), hold_ - current_.size());
            l.unlock();
            const ssize_t n = read(fd, buffer, want);
            l.lock();
            if (n > 0) {
                current_.append(buffer, (size_t)n);
            } else if (n == 0 && (p.revents & POLLHUP)) {
                // The writer closed the pipe: that job is complete.
                jobs_.push_back(current_);
                current_.clear();
                close(fd);
                fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
            }
            ++turns_;
            cv_.notify_all();
        }
        close(fd);
    }

    std::string path_;
    std::thread reader_;
    std::atomic<bool> done_{false};
    std::mutex m_;
    std::condition_variable cv_;
    size_t hold_ = SIZE_MAX;
    long turns_ = 0;
    std::string current_;
    std::vector<std::string> jobs_;
};

// Cancel-Job from another client as a job starts, in the middle of a page
// and once a label is through: whole commands only, and the next job
// prints.
TEST(AppCancel, AtAnyMomentLeavesWholeCommands) {
    App app;
    ASSERT_EQ(app.Start(), "");
    PipePrinter pipe(app.Dir() / "pipe");
    ASSERT_TRUE(app.AddPrinter("pipe", pipe.Uri()));
    const std::string doc = apptest::Labels(3, 1, 812, 812);
    ASSERT_EQ(app.Print(doc, "image/pwg-raster", "whole").state, IPP_JSTATE_COMPLETED);
    const std::string whole = app.Out("whole");
    const size_t firstLabel = whole.find("PRINT 1,1\r\n") + 11;
    const size_t holdAt[] = {0, 1000, firstLabel};
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE("cancel " + std::to_string(i));
        const size_t hold = holdAt[i % 3];
        pipe.Hold(hold);
        const int id = app.Submit(doc, "image/pwg-raster", Named("c", i), "", "pipe");
        ASSERT_NE(id, 0);
        ASSERT_TRUE(hold == 0 || pipe.Got(hold));
        EXPECT_TRUE(app.Cancel(id, "pipe"));
        pipe.Hold(SIZE_MAX);
        const Job j = app.Wait(id, "pipe");
        EXPECT_TRUE(j.state == IPP_JSTATE_CANCELED) << j.message;
        pipe.Settle();
    }
    const Job next = app.Print(doc, "image/pwg-raster", "after", "", "pipe");
    EXPECT_EQ(next.state, IPP_JSTATE_COMPLETED) << next.message;
    std::vector<std::string> jobs;
    for (int i = 0; i < 100 && (jobs = pipe.Jobs()).size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_FALSE(jobs.empty());
    for (const std::string &out : jobs)
        EXPECT_LE(rvt::ReadTspl(out).totalLabels, 3);
    EXPECT_TRUE(jobs.back() == whole);
}

// SIGTERM ends the server within 5 s whatever it does; a restart finds its
// printers, their settings and every job.
TEST(AppStop, EndsInTimeAndRestartsWithItsJobs) {
    App app;
    ASSERT_EQ(app.Start(), "");
    ipp_t *set = app.Request(IPP_OP_SET_PRINTER_ATTRIBUTES);
    apptest::AddAttrs(set, IPP_TAG_PRINTER, "label-mode-configured=cutter");
    ippDelete(app.Send(set));
    // A printer that stops reading (status queries too).
    rvt::Sim printer("--speed 0 --buffer 4096 --stall");
    ASSERT_TRUE(app.AddPrinter("stalled", printer.Uri()));
    // 100 pages of 4 x 6 in: far more than the sockets' buffers hold.
    const std::string page = apptest::Labels(1, 1, 812, 1218);
    std::string big = page;
    for (int i = 1; i < 100; ++i)
        big.append(page, 4); // the page after the stream's sync word
    // (Named with what the saved state must quote: a share's backslashes, quotes.)
    const int stuck = app.Submit(big, "image/pwg-raster", R"(\\shop\4x6 "big")", "", "stalled");
    // Two queued: the second is still held for its turn when the server stops.
    const int queued = app.Submit(apptest::Labels(1), "image/pwg-raster", "queued", "", "stalled");
    const int queued2 =
        app.Submit(apptest::Labels(1), "image/pwg-raster", "queued2", "", "stalled");
    // A job its user holds stays held, over the restart too, until released.
    const int held = app.Submit(apptest::Labels(1), "image/pwg-raster", "held",
                                "job-hold-until=indefinite", "stalled");
    ASSERT_TRUE(stuck && queued && queued2 && held);
    // The job is stuck in its writes once its pages stop counting up for 1 s
    // (the unanswered status query takes 0.5 s).
    auto attr = [&](const char *what) {
        ipp_t *request = app.Request(IPP_OP_GET_JOB_ATTRIBUTES, "stalled");
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", stuck);
        ipp_t *r = app.Send(request, "stalled");
        char value[256] = "";
        ippAttributeString(ippFindAttribute(r, what, IPP_TAG_ZERO), value, sizeof(value));
        ippDelete(r);
        return std::string(value);
    };
    for (int i = 0, last = 0, same = 0; i < 100 && same < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const int now = atoi(attr("job-impressions-completed").c_str());
        same = now > 0 && now == last ? same + 1 : 0;
        last = now;
    }
    const double stalled = app.Stop();
    EXPECT_LT(stalled, 5.0);

    // After the restart, with the printer reading again: the cut-short job
    // aborted with a reason, the queued one printed, the printers and their
    // settings as they were.
    EXPECT_EQ(printer.Control("resume"), "ok");
    ASSERT_EQ(app.Start(), "");
    const Job cut = app.Wait(stuck, "stalled");
    EXPECT_EQ(cut.state, IPP_JSTATE_ABORTED);
    EXPECT_NE(cut.reasons.find("aborted-by-system"), std::string::npos) << cut.reasons;
    EXPECT_EQ(attr("job-name"), R"(\\\\shop\\4x6 \"big\")");
    const Job printed = app.Wait(queued, "stalled");
    EXPECT_EQ(printed.state, IPP_JSTATE_COMPLETED) << printed.message;
    EXPECT_EQ(app.Wait(queued2, "stalled").state, IPP_JSTATE_COMPLETED);
    EXPECT_EQ(app.State(held, "stalled").state, IPP_JSTATE_HELD);
    ipp_t *release = app.Request(IPP_OP_RELEASE_JOB, "stalled");
    ippAddInteger(release, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", held);
    ippDelete(app.Send(release, "stalled"));
    EXPECT_EQ(app.Wait(held, "stalled").state, IPP_JSTATE_COMPLETED);
    ipp_t *get = app.Request(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ipp_t *attrs = app.Send(get);
    EXPECT_STREQ(
        ippGetString(ippFindAttribute(attrs, "label-mode-configured", IPP_TAG_KEYWORD), 0, nullptr),
        "cutter");
    ippDelete(attrs);

    // SIGTERM in the middle of a job and of a load: the job ends at a page.
    PipePrinter pipe(app.Dir() / "pipe");
    ASSERT_TRUE(app.AddPrinter("pipe", pipe.Uri()));
    pipe.Hold(2000);
    const int running =
        app.Submit(apptest::Labels(3, 1, 812, 812), "image/pwg-raster", "running", "", "pipe");
    ASSERT_TRUE(pipe.Got(2000));
    std::atomic<bool> sending{true};
    std::thread load([&] {
        for (int i = 0; sending && i < 200; ++i)
            app.Submit(apptest::Labels(1), "image/pwg-raster", Named("l", i));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    pipe.Hold(SIZE_MAX);
    const double busy = app.Stop();
    EXPECT_LT(busy, 5.0);
    printf("stopped in %.2f s with a stalled printer, %.2f s in a job and a load\n", stalled, busy);
    sending = false;
    load.join();
    ASSERT_EQ(app.Start(), "");
    const Job ended = app.Wait(running, "pipe");
    EXPECT_TRUE(ended.state == IPP_JSTATE_ABORTED || ended.state == IPP_JSTATE_COMPLETED)
        << ended.state << " " << ended.message;
    for (const std::string &out : pipe.Jobs())
        rvt::ReadTspl(out);
}

// Documents that cannot print: each ends alone with a reason within 5 s,
// nothing of it reaches the printer, and the next job prints.
TEST(AppBadDocuments, EachEndsAloneWithAReason) {
    App app;
    ASSERT_EQ(app.Start(), "");
    const std::string raster = apptest::Labels(2);
    const std::string wrongHeader =
        raster.substr(0, 4) + std::string(1796, '\x7f') + raster.substr(1800);
    const std::string png = imgtest::Sample("png-rgb"), jpeg = imgtest::Sample("jpeg-rgb");
    using imgtest::Format;
    const struct {
        const char *name, *format;
        std::string data;
        ipp_status_t refusal; // the job is refused at once, or it ends as the golden file says
    } cases[] = {
        {"note", "text/plain", "not a label\n", IPP_STATUS_OK},
        {"note-as-png", "image/png", "not a label\n", IPP_STATUS_OK},
        {"cut-png", "image/png", png.substr(0, png.size() / 2), IPP_STATUS_OK},
        {"cut-jpeg", "image/jpeg", jpeg.substr(0, jpeg.size() / 2), IPP_STATUS_OK},
        {"huge-png", "image/png", imgtest::Resized(png, Format::Png, 20000, 20000), IPP_STATUS_OK},
        {"empty", "image/pwg-raster", "", IPP_STATUS_ERROR_BAD_REQUEST},
        {"wrong-header", "image/pwg-raster", wrongHeader, IPP_STATUS_OK},
        {"cut-mid-page", "image/pwg-raster", raster.substr(0, raster.size() * 3 / 4),
         IPP_STATUS_OK},
        {"wide", "image/pwg-raster", apptest::Labels(1, 1, 2000, 400), IPP_STATUS_OK},
    };
    std::string said; // each failed job's reasons and message
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = Clock::now();
        ipp_status_t status;
        const int id = app.Submit(c.data, c.format, c.name, "", "label", &status);
        if (c.refusal != IPP_STATUS_OK) {
            EXPECT_EQ(status, c.refusal);
            EXPECT_EQ(id, 0);
        } else {
            const Job j = app.Wait(id);
            EXPECT_EQ(j.state, IPP_JSTATE_ABORTED);
            said += std::string(c.name) + ": " + j.reasons + ": " + j.message + "\n";
            EXPECT_NE(app.Log().find("] " + j.message), std::string::npos) << "not in the log";
            printf("%s: %.2f s, %s: %s\n", c.name, Since(start), j.reasons.c_str(),
                   j.message.c_str());
        }
        EXPECT_LT(Since(start), 5.0);
        EXPECT_EQ(app.Out(c.name), "");
        const Job next =
            app.Print(apptest::Labels(1), "image/pwg-raster", std::string("after-").append(c.name));
        EXPECT_EQ(next.state, IPP_JSTATE_COMPLETED) << next.message;
    }
    rvt::ExpectGolden("app-bad-documents.txt", said);
    // A type the client claims to have detected does not steer a document.
    const Job told = app.Print(raster, "", "told", "document-format-detected=text/plain");
    EXPECT_EQ(told.state, IPP_JSTATE_COMPLETED) << told.message;
}

} // namespace

namespace {

// The web pages' password, once set: asked for and checked (the wrong one
// does not open the settings page).
TEST(AppAdmission, TheWebPasswordIsChecked) {
    App app;
    ASSERT_EQ(app.Start(), "");
    app.Stop();
    // The saved password: "nonce~sha256(nonce:password)", as the Security
    // page saves it.
    const std::string nonce = "0123456789abcdef", text = nonce + ":Labels123!";
    unsigned char digest[32];
    cupsHashData("sha2-256", text.data(), text.size(), digest, sizeof(digest));
    char hex[65];
    cupsHashString(digest, sizeof(digest), hex, sizeof(hex));
    const std::string state = app.Dir() / "vorcp-printer-app.state";
    std::string saved = rvt::ReadFile(state);
    saved.insert(saved.find('\n') + 1, "Password " + nonce + "~" + hex + "\n");
    rvt::WriteFile(state, saved);
    ASSERT_EQ(app.Start(), "");
    auto page = [&](const std::string &user) {
        return app.Curl("/label/printing -o /dev/null -w %{http_code} " + user);
    };
    EXPECT_EQ(page(""), "401");
    EXPECT_EQ(page("-u admin:wrong"), "401");
    EXPECT_EQ(page("-u 'admin:Labels123!'"), "200");
}

} // namespace
