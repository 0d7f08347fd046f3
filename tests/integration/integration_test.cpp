// The shipped PPDs, raster made by CUPS's own filters, a private spooler
// printing through a queue with the built filter, and the installation.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <gtest/gtest.h>

#include "tests/support/Support.h"

namespace {

// A shell command's status and everything it wrote.
std::pair<int, std::string> Sh(const rvt::TempDir &dir, const std::string &cmd) {
    const int st = std::system(("{ " + cmd + "; } >" + dir / "said 2>&1").c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, rvt::ReadFile(dir / "said")};
}

std::string ShippedPpd(int dpi) {
    return std::string(RVC_PPD_DIR) + "/rastertovorcp-" + std::to_string(dpi) + ".ppd";
}

// CUPS's filters make 8-bit RGB raster of the sample at the model's
// resolution; the filter prints it upright and unshifted, every clearly
// dark pixel a dot and every clearly light one none.
class CupsRaster : public ::testing::TestWithParam<std::tuple<int, std::string>> {};

TEST_P(CupsRaster, EveryDotOnItsPixel) {
    const int dpi = std::get<0>(GetParam());
    rvt::TempDir dir;
    auto [st, said] =
        Sh(dir, "cupsfilter -p " + ShippedPpd(dpi) + " -m application/vnd.cups-raster " +
                    RVC_SAMPLE_DIR + "/" + std::get<1>(GetParam()) + " > " + dir / "page.ras");
    ASSERT_EQ(st, 0) << said;
    const std::string raster = rvt::ReadFile(dir / "page.ras");
    int fd = open((dir / "page.ras").c_str(), O_RDONLY);
    cups_raster_t *r = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t h;
    ASSERT_TRUE(cupsRasterReadHeader2(r, &h));
    EXPECT_EQ(h.HWResolution[0], unsigned(dpi));
    EXPECT_EQ(h.cupsBitsPerPixel, 24u);
    EXPECT_EQ(h.cupsColorOrder, CUPS_ORDER_CHUNKED);
    std::vector<unsigned char> rgb((size_t)h.cupsBytesPerLine * h.cupsHeight);
    for (unsigned y = 0; y < h.cupsHeight; ++y)
        cupsRasterReadPixels(r, &rgb[(size_t)y * h.cupsBytesPerLine], h.cupsBytesPerLine);
    cupsRasterClose(r);
    close(fd);

    rvt::Process p;
    p.ppd = ShippedPpd(dpi);
    p.input = raster;
    rvt::Result out = rvt::RunProcess(p);
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.err, "Finish print operation.");
    tsplview::Job job = rvt::ReadTspl(out.out);
    ASSERT_EQ(job.labels.size(), 1u);
    const tsplview::Label &l = job.labels[0];
    EXPECT_EQ(l.width, int((h.cupsWidth + 7) / 8 * 8));
    EXPECT_EQ(l.height, int(h.cupsHeight + 1));
    long wrong = 0;
    for (unsigned y = 0; y < h.cupsHeight; ++y)
        for (unsigned x = 0; x < h.cupsWidth; ++x) {
            const unsigned char *px = &rgb[(size_t)y * h.cupsBytesPerLine + 3 * x];
            const int grey = (11 * px[0] + 16 * px[1] + 5 * px[2]) >> 5;
            wrong += (grey <= 64 && !l.dot(x, y)) || (grey >= 200 && l.dot(x, y));
        }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Models, CupsRaster,
                         ::testing::Combine(::testing::Values(203, 300),
                                            ::testing::Values(std::string("label.pdf"),
                                                              std::string("label.png"))),
                         [](const auto &info) {
                             return std::to_string(std::get<0>(info.param)) + "dpi_" +
                                    std::get<1>(info.param).substr(6);
                         });

// A private cupsd prints the sample through a queue with the built filter
// and job options to a file device.
TEST(Spooler, PrintsTheSampleWithJobOptions) {
    if (geteuid() != 0)
        GTEST_SKIP() << "a private cupsd with its own ServerBin needs root";
    rvt::TempDir dir;
    const std::string root = dir.path();
    // Filters run from ServerBin, which cupsd takes only when root owns it
    // and nobody else may write there; its configuration, folders and local
    // socket (no port to find) lie under root too.
    std::string setup =
        "mkdir -p conf spool/tmp cache state log && cp -rs /usr/lib/cups bin && "
        "install -m 755 " RVC_FILTER_EXE " bin/filter && chmod 755 . bin bin/filter";
    for (const char *conf : {"cupsd.conf", "cups-files.conf"})
        setup += " && sed s,@ROOT@," + root + ",g " + rvt::SourceDir() + "/tests/data/spooler/" +
                 conf + " >conf/" + conf;
    const auto made = Sh(dir, "cd " + root + " && " + setup);
    ASSERT_EQ(made.first, 0) << made.second;
    const std::string host = root + "/cupsd.sock";
    pid_t cupsd = fork();
    if (cupsd == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM); // never outlive a killed test
        freopen("/dev/null", "w", stdout);
        execlp("cupsd", "cupsd", "-f", "-c", (root + "/conf/cupsd.conf").c_str(), "-s",
               (root + "/conf/cups-files.conf").c_str(), (char *)nullptr);
        _exit(127);
    }
    // Job options away from the defaults: density 12, adaptive threshold and
    // a quarter turn, which turns the label. The queue is added once cupsd
    // answers; the job is waited for up to two minutes.
    const std::string lp = " -h " + host + " ";
    const auto printed = Sh(
        dir,
        "for i in $(seq 100); do lpadmin" + lp + "-p rvc -E -v file://" + dir / "out.tspl" +
            " -P " + ShippedPpd(203) + " && break; sleep 0.2; done && lp" + lp +
            "-d rvc -o Density=12 -o Halftone=Adaptive -o Rotation=Rotate90CCW " RVC_SAMPLE_DIR
            "/label.pdf && for i in $(seq 600); do lpstat" +
            lp +
            "-W completed -o rvc | grep -q rvc- && echo job completed && break; sleep 0.2; done");
    kill(cupsd, SIGTERM);
    waitpid(cupsd, nullptr, 0);
    ASSERT_NE(printed.second.find("job completed"), std::string::npos)
        << printed.second << rvt::ReadFile(root + "/log/error_log").substr(0, 20000);
    tsplview::Job job = rvt::ReadTspl(rvt::ReadFile(dir / "out.tspl"));
    EXPECT_EQ(job.settings.density, 12);
    ASSERT_EQ(job.labels.size(), 1u);
    EXPECT_EQ(job.labels[0].height, 4 * 203 + 1); // the 4 in page width, turned
}

TEST(Install, DestdirGetsTheFilterAndThePpds) {
    rvt::TempDir dest;
    auto [st, said] = Sh(dest, "DESTDIR=" + dest.path() + " cmake --install " + rvt::BinaryDir());
    ASSERT_EQ(st, 0) << said;
    std::string serverbin = Sh(dest, "cups-config --serverbin").second;
    serverbin.erase(serverbin.find_last_not_of("\n ") + 1);
    const std::string filter = dest.path() + serverbin + "/filter/rastertovorcp";
    struct stat info;
    ASSERT_EQ(stat(filter.c_str(), &info), 0) << said;
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    EXPECT_EQ(rvt::ReadFile(filter), rvt::ReadFile(RVC_FILTER_EXE));
    for (int dpi : {203, 300}) {
        const std::string ppd =
            dest / "usr/share/ppd/rastertovorcp/rastertovorcp-" + std::to_string(dpi) + ".ppd";
        EXPECT_EQ(rvt::ReadFile(ppd), rvt::ReadFile(ShippedPpd(dpi)));
        EXPECT_NE(rvt::ReadFile(ppd).find(
                      "application/vnd.cups-raster application/vnd.tspl 0 rastertovorcp"),
                  std::string::npos);
    }
}

} // namespace
