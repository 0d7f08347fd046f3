#include "tests/integration/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <algorithm>

namespace rvc_it {

bool FileExists(const std::string &path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string &path, const std::string &data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

ScratchDir::ScratchDir() {
  char tmpl[] = "/tmp/rvc-it-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  chmod(path_.c_str(), 0755);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string Describe(const std::vector<std::string> &argv) {
  std::string s;
  for (const auto &a : argv) {
    if (!s.empty()) s += ' ';
    if (a.empty() || a.find_first_of(" \t'\"") != std::string::npos)
      s += "'" + a + "'";
    else
      s += a;
  }
  return s;
}

RunResult RunProgram(const RunRequest &req) {
  RunResult r;
  if (req.argv.empty()) return r;
  int outPipe[2] = {-1, -1}, errPipe[2];
  if (pipe(errPipe) != 0) return r;
  if (req.stdoutFile.empty() && pipe(outPipe) != 0) return r;

  pid_t pid = fork();
  if (pid < 0) return r;
  if (pid == 0) {
    // The child dies with the test, so a killed test leaves no process.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int in = open(req.stdinFile.empty() ? "/dev/null" : req.stdinFile.c_str(), O_RDONLY);
    if (in < 0) _exit(126);
    dup2(in, 0);
    if (req.stdoutFile.empty()) {
      dup2(outPipe[1], 1);
    } else {
      int out = open(req.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0) _exit(126);
      dup2(out, 1);
    }
    dup2(errPipe[1], 2);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    for (const auto &name : req.unsetEnv) unsetenv(name.c_str());
    for (const auto &kv : req.env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    std::vector<char *> argv;
    for (const auto &a : req.argv) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }

  close(errPipe[1]);
  if (outPipe[1] >= 0) close(outPipe[1]);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(req.timeoutSeconds);
  struct pollfd fds[2] = {{errPipe[0], POLLIN, 0}, {outPipe[0], POLLIN, 0}};
  int live = outPipe[0] >= 0 ? 2 : 1;
  char buf[65536];
  while (live > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      r.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    int n = poll(fds, 2, static_cast<int>(left));
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        (i == 0 ? r.err : r.out).append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --live;
      }
    }
  }
  for (auto &f : fds)
    if (f.fd >= 0) close(f.fd);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

std::vector<cups_page_header2_t> ReadRasterHeaders(const std::string &path) {
  std::vector<cups_page_header2_t> pages;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return pages;
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (ras) {
    cups_page_header2_t h;
    std::vector<unsigned char> line;
    while (cupsRasterReadHeader2(ras, &h)) {
      pages.push_back(h);
      line.resize(h.cupsBytesPerLine ? h.cupsBytesPerLine : 1);
      for (unsigned y = 0; y < h.cupsHeight; ++y)
        if (!cupsRasterReadPixels(ras, line.data(), h.cupsBytesPerLine)) break;
    }
    cupsRasterClose(ras);
  }
  close(fd);
  return pages;
}

bool ReadFirstRasterPage(const std::string &path, cups_page_header2_t *header,
                         std::vector<unsigned char> *pixels) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  bool ok = false;
  if (cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ)) {
    if (cupsRasterReadHeader2(ras, header)) {
      pixels->assign(size_t(header->cupsBytesPerLine) * header->cupsHeight, 0);
      ok = true;
      for (unsigned y = 0; y < header->cupsHeight && ok; ++y)
        ok = cupsRasterReadPixels(ras, pixels->data() + size_t(y) * header->cupsBytesPerLine,
                                  header->cupsBytesPerLine) == header->cupsBytesPerLine;
    }
    cupsRasterClose(ras);
  }
  close(fd);
  return ok;
}

namespace {

// Reads a signed decimal at *pos, moving past it.
bool Number(const std::string &s, size_t *pos, long *value) {
  size_t p = *pos;
  bool neg = false;
  if (p < s.size() && s[p] == '-') {
    neg = true;
    ++p;
  }
  size_t digits = p;
  long v = 0;
  while (p < s.size() && s[p] >= '0' && s[p] <= '9' && p - digits < 9) v = v * 10 + (s[p++] - '0');
  if (p == digits) return false;
  *value = neg ? -v : v;
  *pos = p;
  return true;
}

bool Fail(std::string *error, size_t at, const std::string &why) {
  *error = "at byte " + std::to_string(at) + ": " + why;
  return false;
}

}  // namespace

bool ParseTspl(const std::string &job, std::vector<TsplCommand> *cmds, std::string *error) {
  cmds->clear();
  size_t pos = 0;
  static const std::string kBitmap = "BITMAP ";
  while (pos < job.size()) {
    TsplCommand c;
    c.offset = pos;
    if (job.compare(pos, kBitmap.size(), kBitmap) == 0) {
      size_t p = pos + kBitmap.size();
      long *fields[5] = {&c.x, &c.y, &c.widthBytes, &c.height, &c.mode};
      for (long *f : fields) {
        if (!Number(job, &p, f) || p >= job.size() || job[p] != ',')
          return Fail(error, p, "malformed BITMAP header");
        ++p;
      }
      if (c.widthBytes < 0 || c.height < 0) return Fail(error, pos, "negative BITMAP size");
      c.isBitmap = true;
      c.text = job.substr(pos, p - pos);
      size_t n = static_cast<size_t>(c.widthBytes) * static_cast<size_t>(c.height);
      if (job.size() - p < n + 2)
        return Fail(error, p, "BITMAP payload of " + std::to_string(n) + " bytes cut short");
      c.payload = job.substr(p, n);
      p += n;
      if (job.compare(p, 2, "\r\n") != 0) return Fail(error, p, "BITMAP payload not followed by CR LF");
      pos = p + 2;
    } else {
      size_t end = job.find("\r\n", pos);
      if (end == std::string::npos) return Fail(error, pos, "command without CR LF");
      c.text = job.substr(pos, end - pos);
      for (unsigned char ch : c.text)
        if (ch < 0x20 || ch > 0x7e) return Fail(error, pos, "non-printable byte in command");
      if (c.text.empty()) return Fail(error, pos, "empty command");
      pos = end + 2;
    }
    cmds->push_back(std::move(c));
  }
  return true;
}

std::string Outline(const std::vector<TsplCommand> &cmds) {
  std::string s;
  for (const auto &c : cmds) {
    s += c.text;
    if (c.isBitmap) s += "<" + std::to_string(c.payload.size()) + " bytes>";
    s += '\n';
  }
  return s;
}

}  // namespace rvc_it

#include <cups/ppd.h>

namespace rvc_it {

namespace {
std::string Existing(const std::string &path) { return FileExists(path) ? path : ""; }
}  // namespace

std::string BuildDir() { return RVC_IT_BINARY_DIR; }
std::string FilterPath() { return Existing(RVC_IT_FILTER); }
std::string ViewerPath() { return Existing(RVC_IT_VIEWER); }
std::string SamplePath(const std::string &name) { return Existing(std::string(RVC_IT_SAMPLE_DIR) + "/" + name); }

std::vector<std::string> ShippedPpds() {
  std::vector<std::string> found;
  std::error_code ec;
  const std::string dir = RVC_IT_PPD_DIR;
  if (dir.empty()) return found;
  for (const auto &e : std::filesystem::directory_iterator(dir, ec))
    if (e.path().extension() == ".ppd") found.push_back(e.path().string());
  std::sort(found.begin(), found.end());
  return found;
}

std::string PpdForDpi(int dpi) {
  const std::string want = std::to_string(dpi) + "dpi";
  for (const auto &path : ShippedPpds()) {
    ppd_file_t *ppd = ppdOpenFile(path.c_str());
    if (!ppd) continue;
    ppd_attr_t *attr = ppdFindAttr(ppd, "DefaultResolution", nullptr);
    bool match = attr && attr->value && want == attr->value;
    ppdClose(ppd);
    if (match) return path;
  }
  return "";
}

}  // namespace rvc_it
