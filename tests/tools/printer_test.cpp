// tspl-printer as a test or a user runs it: the labels it prints equal
// tspl-view's, its status byte follows its state, and a job survives paper
// running out and an opened head with every label printed once. The
// expected record is made from the viewer's reader. (Its stall and its
// dropped connections are the app's tests' printers.)
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/Support.h"

namespace {

using rvt::Connect;
using rvt::Ready;
using rvt::Sim;

const std::string kQuery = "\x1b!?";

// The answer to a status query; -1 when none comes.
int Status(int fd) {
    rvt::WriteAll(fd, kQuery);
    unsigned char s = 0;
    return Ready(fd, POLLIN, 2000) && recv(fd, &s, 1, 0) == 1 ? s : -1;
}

// The record the printer must write for job number n, from the viewer's
// reading of its bytes.
std::string Expected(long n, const std::string &bytes) {
    const tsplview::ReadResult r = tsplview::readJob((const uint8_t *)bytes.data(), bytes.size());
    const std::string job = "job=" + std::to_string(n);
    std::string text;
    for (size_t p = 0; p < r.job.labels.size(); ++p) {
        char hash[17];
        snprintf(hash, sizeof hash, "%016llx",
                 (unsigned long long)tsplview::pictureHash(r.job.labels[p]));
        for (long k = r.job.labels[p].firstNumber; k <= r.job.labels[p].lastNumber(); ++k)
            text += "label " + job + " number=" + std::to_string(k) +
                    " picture=" + std::to_string(p + 1) + " hash=" + hash + "\n";
    }
    const std::string labels = " labels=" + std::to_string(r.job.totalLabels);
    return text + (r.ok ? "done " + job + labels + "\n"
                        : "fault " + job + labels + " byte=" + std::to_string(r.errorOffset) +
                              ": " + r.error + "\n");
}

// tspl-view's PNGs for the jobs, as job001.tspl and on, equal the printer's.
void ExpectViewersPictures(const Sim &sim, const std::vector<std::string> &jobs) {
    std::string names;
    for (size_t i = 0; i < jobs.size(); ++i) {
        char name[32];
        snprintf(name, sizeof name, "job%03zu.tspl", i + 1);
        rvt::WriteFile(sim.dir() / name, jobs[i]);
        names += std::string(" ") + name;
    }
    rvt::Shell("cd " + sim.dir().path() + " && for j in" + names +
               "; do " RVC_VIEWER_EXE " -o view $j; done");
    std::vector<std::string> viewer, printer;
    for (const auto &e : std::filesystem::directory_iterator(sim.dir() / "view"))
        viewer.push_back(e.path().filename().string());
    for (const auto &e : std::filesystem::directory_iterator(sim.out()))
        if (e.path().filename() != "record.txt")
            printer.push_back(e.path().filename().string());
    std::sort(viewer.begin(), viewer.end());
    std::sort(printer.begin(), printer.end());
    ASSERT_EQ(printer, viewer);
    for (const std::string &png : viewer)
        EXPECT_EQ(rvt::ReadFile(sim.out() + "/" + png), rvt::ReadFile(sim.dir() / "view/" + png))
            << png;
}

// SIZE, then a label a bar of ink tells apart per picture.
std::string Labels(int width, int height, const std::vector<std::pair<int, int>> &barsAndCopies) {
    std::string job =
        "SIZE " + std::to_string(width) + " dot," + std::to_string(height) + " dot\r\n";
    for (auto [bar, copies] : barsAndCopies) {
        std::string bitmap(size_t(width / 8 * height), '\xff');
        for (int y = 0; y < height; ++y)
            bitmap[size_t(y * (width / 8) + bar)] = 0;
        job += "CLS\r\nBITMAP 0,0," + std::to_string(width / 8) + "," + std::to_string(height) +
               ",0," + bitmap + "\r\nPRINT 1," + std::to_string(copies) + "\r\n";
    }
    return job;
}

TEST(Printer, PrintsTheViewersLabels) {
    std::vector<std::string> jobs;
    for (const auto &e :
         std::filesystem::directory_iterator(rvt::SourceDir() + "/tests/data/viewer"))
        jobs.push_back(e.path().string());
    std::sort(jobs.begin(), jobs.end());
    for (std::string &path : jobs)
        path = rvt::ReadFile(path);
    // Status queries go between commands, never into a payload that holds
    // the same bytes.
    const std::vector<std::string> commands = {
        "SIZE 24 dot,2 dot\r\n", "CLS\r\n", "BITMAP 0,0,3,2,0,\x1b!?\n\x1b!?\r\n", "PRINT 1,2\r\n"};
    jobs.push_back("");
    std::string queried;
    for (const std::string &c : commands) {
        jobs.back() += c;
        queried += kQuery + c;
    }

    Sim sim("--speed 0");
    std::string record;
    for (size_t i = 0; i < jobs.size(); ++i) {
        const bool last = i + 1 == jobs.size();
        EXPECT_EQ(sim.Print(last ? queried : kQuery + jobs[i]).size(), last ? 4u : 1u) << i;
        record += Expected(long(i + 1), jobs[i]);
    }
    sim.WaitFor("jobs=" + std::to_string(jobs.size()) + " ");
    EXPECT_EQ(sim.Print(kQuery), std::string(1, '\0')) << "a status connection is not a job";
    EXPECT_EQ(sim.Record(), record);
    ExpectViewersPictures(sim, jobs);
}

TEST(Printer, StatusFollowsPaperHeadAndRefill) {
    // 30-dot labels at 5 inches a second: 30 ms each.
    const std::string job = Labels(64, 30, {{1, 5}, {6, 5}});
    Sim sim("--speed 5 --paper 3");
    const int fd = Connect(sim.port());
    rvt::WriteAll(fd, job);
    EXPECT_EQ(Status(fd), 32) << "printing";
    int status = -1;
    for (int i = 0; i < 200 && (status = Status(fd)) != 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(status, 4) << "out of paper";
    const std::string expected = Expected(1, job);
    size_t third = 0;
    for (int k = 0; k < 3; ++k)
        third = expected.find('\n', third) + 1;
    EXPECT_EQ(sim.Record(), expected.substr(0, third)) << "labels 1 to 3";
    EXPECT_EQ(sim.Control("head open"), "ok");
    EXPECT_EQ(Status(fd), 5);
    EXPECT_EQ(sim.Control("refill"), "ok");
    EXPECT_EQ(Status(fd), 32) << "label 4";
    // The label being printed is finished, then nothing more.
    EXPECT_EQ(sim.Control("head open"), "ok");
    for (int i = 0; i < 200 && (status = Status(fd)) != 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(status, 1) << "head open";
    const std::string headOpen = sim.Record();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sim.Record(), headOpen);
    EXPECT_EQ(expected.substr(0, headOpen.size()), headOpen);
    EXPECT_LT(std::count(headOpen.begin(), headOpen.end(), '\n'), 10) << "labels left for later";
    EXPECT_EQ(sim.Control("head close"), "ok");
    close(fd);
    sim.WaitFor("status=0 printed=10 jobs=1 buffered=0");
    EXPECT_EQ(sim.Record(), expected) << "labels 4 to 10 once each";
    EXPECT_EQ(sim.Control("head half-open"), "error unknown command: head half-open");
    ExpectViewersPictures(sim, {job});
}

TEST(Printer, OnceEndsAfterOneJob) {
    const struct {
        std::string job;
        int status;
    } cases[] = {{Labels(64, 20, {{1, 2}}), 0}, {"SIZE 8 dot", 1}};
    for (const auto &[job, status] : cases) {
        Sim sim("--speed 0 --once");
        EXPECT_EQ(sim.Print(kQuery), std::string(1, '\0'));
        EXPECT_EQ(sim.Print(job), "");
        EXPECT_EQ(sim.Wait(), status);
        EXPECT_EQ(sim.Record(), Expected(1, job));
    }
    EXPECT_EQ(rvt::Shell(RVC_PRINTER_EXE " --speed fast").first, 2);
}

} // namespace
