// A private CUPS spooler prints the sample label through a queue that uses
// a shipped PPD and the built filter, with job options, to a file device.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/integration/harness.h"
#include "tests/integration/job_checks.h"

namespace rvc_it {
namespace {

namespace fs = std::filesystem;

int FreeLoopbackPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

bool Accepts(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

// cupsd in the foreground with its own configuration; stopped by its process
// id when the object goes, whichever way the test ends.
class Spooler {
 public:
  explicit Spooler(const ScratchDir &dir) : dir_(dir) {}
  ~Spooler() { Stop(); }

  // Writes the configuration and the ServerBin, starts cupsd and waits until
  // it listens.
  ::testing::AssertionResult Start(const std::string &filter) {
    const std::string root = dir_.path();
    for (const char *sub : {"conf", "spool", "spool/tmp", "cache", "state", "log", "bin", "bin/filter"})
      fs::create_directories(root + "/" + sub);
    // Filters run from ServerBin, which cupsd accepts only when root owns
    // it and nobody else may write there.
    for (const auto &e : fs::directory_iterator("/usr/lib/cups")) {
      const std::string name = e.path().filename().string();
      if (name != "filter") fs::create_symlink(e.path(), root + "/bin/" + name);
    }
    for (const auto &e : fs::directory_iterator("/usr/lib/cups/filter"))
      fs::create_symlink(e.path(), root + "/bin/filter/" + e.path().filename().string());
    const std::string installed = root + "/bin/filter/rastertovorcp";
    fs::copy_file(filter, installed);
    chmod(installed.c_str(), 0755);
    for (const char *sub : {"", "/bin", "/bin/filter"}) chmod((root + sub).c_str(), 0755);

    port_ = FreeLoopbackPort();
    if (port_ <= 0) return ::testing::AssertionFailure() << "no free loopback port";
    WriteFile(root + "/conf/cupsd.conf",
              "Listen 127.0.0.1:" + std::to_string(port_) + "\n"
              "LogLevel debug\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
              "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
              "<Policy default>\n  <Limit All>\n    Order allow,deny\n    Allow all\n"
              "  </Limit>\n</Policy>\n");
    WriteFile(root + "/conf/cups-files.conf",
              "ServerRoot " + root + "/conf\nServerBin " + root + "/bin\n"
              "RequestRoot " + root + "/spool\nTempDir " + root + "/spool/tmp\n"
              "CacheDir " + root + "/cache\nStateDir " + root + "/state\n"
              "ErrorLog " + root + "/log/error_log\nAccessLog " + root + "/log/access_log\n"
              "PageLog " + root + "/log/page_log\nFileDevice Yes\nSystemGroup root\n");

    pid_ = fork();
    if (pid_ < 0) return ::testing::AssertionFailure() << "fork failed";
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a killed test
      const std::string out = root + "/log/cupsd.out";
      if (!freopen("/dev/null", "r", stdin) || !freopen(out.c_str(), "w", stdout) ||
          !freopen(out.c_str(), "a", stderr))
        _exit(126);
      execlp("cupsd", "cupsd", "-f", "-c", (root + "/conf/cupsd.conf").c_str(), "-s",
             (root + "/conf/cups-files.conf").c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 200; ++i) {  // up to 20 s
      if (Accepts(port_)) return ::testing::AssertionSuccess();
      int st;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = -1;
        return ::testing::AssertionFailure() << "cupsd exited at start-up\n" << Logs();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return ::testing::AssertionFailure() << "cupsd does not listen on port " << port_ << "\n" << Logs();
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int st;
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &st, 0);
    pid_ = -1;
  }

  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  int Port() const { return port_; }

  // What cupsd said at start-up and the last lines it logged about jobs,
  // the filters' standard error among them.
  std::string Logs() const {
    std::vector<std::string> jobLines;
    std::istringstream log(ReadFile(dir_ / "log/error_log"));
    for (std::string line; std::getline(log, line);)
      if (line.find("[Job ") != std::string::npos || line.rfind("E ", 0) == 0) jobLines.push_back(line);
    std::string s = "cupsd output:\n" + ReadFile(dir_ / "log/cupsd.out") + "error_log, job lines:\n";
    for (size_t i = jobLines.size() > 60 ? jobLines.size() - 60 : 0; i < jobLines.size(); ++i)
      s += jobLines[i] + "\n";
    return s;
  }

 private:
  const ScratchDir &dir_;
  pid_t pid_ = -1;
  int port_ = -1;
};

// The state of one job, asked of the spooler over IPP.
ipp_jstate_t JobState(int port, int jobId) {
  http_t *http = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
  if (!http) return ipp_jstate_t(0);
  cups_job_t *jobs = nullptr;
  int n = cupsGetJobs2(http, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
  ipp_jstate_t state = ipp_jstate_t(0);
  for (int i = 0; i < n; ++i)
    if (jobs[i].id == jobId) state = jobs[i].state;
  cupsFreeJobs(n, jobs);
  httpClose(http);
  return state;
}

// The keyword of the option's choice whose code reads as <code>; empty when
// there is none.
std::string ChoiceWithCode(const std::string &ppdPath, const char *option, long code) {
  std::string keyword;
  ppd_file_t *ppd = ppdOpenFile(ppdPath.c_str());
  if (!ppd) return keyword;
  if (ppd_option_t *o = ppdFindOption(ppd, option))
    for (int i = 0; i < o->num_choices && keyword.empty(); ++i)
      if (std::strtol(o->choices[i].code, nullptr, 10) == code) keyword = o->choices[i].choice;
  ppdClose(ppd);
  return keyword;
}

TEST(Spooler, PrintsSampleWithJobOptionsToFileDevice) {
  if (geteuid() != 0) GTEST_SKIP() << "a private cupsd with its own ServerBin needs root";
  const std::string ppd = PpdForDpi(203);
  const std::string sample = SamplePath("label.pdf");
  ASSERT_FALSE(ppd.empty() || sample.empty() || FilterPath().empty())
      << "the 203 dpi PPD, the sample or the filter was not built";

  // Options away from the PPD's defaults: density 12, adaptive threshold,
  // a quarter turn (which turns the label: its height becomes the page's
  // width in dots plus one).
  const std::string density = ChoiceWithCode(ppd, "Density", 12);
  const std::string halftone = ChoiceWithCode(ppd, "Halftone", 4);
  const std::string rotation = ChoiceWithCode(ppd, "Rotation", 1);
  ASSERT_FALSE(density.empty() || halftone.empty() || rotation.empty())
      << ppd << " lacks Density 12, Halftone 4 or Rotation 1";

  ScratchDir dir;
  Spooler cupsd(dir);
  ASSERT_TRUE(cupsd.Start(FilterPath()));

  RunRequest admin;
  admin.argv = {"lpadmin", "-h", cupsd.Host(), "-p", "rvc", "-E", "-v", "file://" + (dir / "out.tspl"),
                "-P", ppd};
  RunResult a = RunProgram(admin);
  ASSERT_EQ(a.status, 0) << Describe(admin.argv) << "\n" << a.out << a.err << cupsd.Logs();

  RunRequest lp;
  lp.argv = {"lp", "-h", cupsd.Host(), "-d", "rvc", "-o", "Density=" + density,
             "-o", "Halftone=" + halftone, "-o", "Rotation=" + rotation, sample};
  RunResult l = RunProgram(lp);
  ASSERT_EQ(l.status, 0) << Describe(lp.argv) << "\n" << l.err << cupsd.Logs();
  int jobId = 0;
  ASSERT_EQ(std::sscanf(l.out.c_str(), "request id is rvc-%d", &jobId), 1) << l.out;

  ipp_jstate_t state = ipp_jstate_t(0);
  for (int i = 0; i < 600; ++i) {  // up to 60 s
    state = JobState(cupsd.Port(), jobId);
    if (state >= IPP_JSTATE_STOPPED) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(state, IPP_JSTATE_COMPLETED) << cupsd.Logs();
  cupsd.Stop();

  JobShape shape;
  ASSERT_TRUE(ParseJob(ReadFile(dir / "out.tspl"), &shape)) << cupsd.Logs();
  EXPECT_EQ(shape.density, 12);
  EXPECT_EQ(shape.labelHeight, 4 * 203 + 1);  // the 4 in page width, turned
  ASSERT_EQ(shape.pages.size(), 1u);
  EXPECT_EQ(shape.pages[0].bitmaps.size(), 1u);
}

}  // namespace
}  // namespace rvc_it
