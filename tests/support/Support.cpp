#include "tests/support/Support.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "filter/FilterJob.h"

namespace rvt {

std::string SourceDir() {
    return RVC_TEST_SOURCE_DIR;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string &path, const std::string &data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::vector<std::string> CaseLines(const std::string &name) {
    std::istringstream in(ReadFile(SourceDir() + "/tests/data/" + name));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    EXPECT_FALSE(lines.empty()) << name;
    return lines;
}

std::vector<std::string> Split(const std::string &text, char separator) {
    std::vector<std::string> fields(1);
    for (char c : text)
        c == separator ? (void)fields.emplace_back() : fields.back().push_back(c);
    return fields;
}

std::pair<int, std::string> Shell(const std::string &command) {
    TempDir dir;
    const int st = std::system(("{ " + command + "; } >" + dir / "said 2>&1").c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, ReadFile(dir / "said")};
}

TempDir::TempDir() {
    char tmpl[] = "/tmp/rvc-test-XXXXXX";
    path_ = mkdtemp(tmpl) ? tmpl : "/nonexistent";
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

Page InkPage(unsigned x0, unsigned y0, unsigned x1, unsigned y1, unsigned copies) {
    Page p;
    p.colour = [=](unsigned x, unsigned y) {
        return x >= x0 && x <= x1 && y >= y0 && y <= y1 ? 0u : 0xffffffu;
    };
    p.copies = copies;
    return p;
}

std::string Raster(const std::vector<Page> &pages, cups_mode_t mode) {
    char tmpl[] = "/tmp/rvc-raster-XXXXXX";
    int fd = mkstemp(tmpl);
    cups_raster_t *r = cupsRasterOpen(fd, mode);
    for (const Page &p : pages) {
        cups_page_header2_t h;
        memset(&h, 0, sizeof(h));
        h.HWResolution[0] = p.xdpi;
        h.HWResolution[1] = p.ydpi;
        h.PageSize[0] = p.xdpi ? p.width * 72 / p.xdpi : 0;
        h.PageSize[1] = p.ydpi ? p.height * 72 / p.ydpi : 0;
        h.NumCopies = p.copies;
        h.cupsWidth = p.width;
        h.cupsHeight = p.height;
        h.cupsBitsPerColor = p.bitsPerColor;
        h.cupsBitsPerPixel = p.bitsPerPixel;
        h.cupsBytesPerLine = p.bytesPerLine
                                 ? p.bytesPerLine
                                 : (unsigned)(((uint64_t)p.width * p.bitsPerPixel + 7) / 8);
        h.cupsColorOrder = p.order;
        h.cupsColorSpace = p.space;
        h.cupsNumColors = p.bitsPerPixel / (p.bitsPerColor ? p.bitsPerColor : 1);
        EXPECT_TRUE(cupsRasterWriteHeader2(r, &h)) << "header refused by libcups";
        std::vector<unsigned char> line(h.cupsBytesPerLine, 0);
        const unsigned rows = p.rows < 0 ? p.height : (unsigned)p.rows;
        const bool rgb = p.bitsPerPixel == 24 && p.bitsPerColor == 8;
        const bool grey = p.bitsPerPixel == 8 && p.bitsPerColor == 8;
        for (unsigned y = 0; y < rows; ++y) {
            for (unsigned x = 0; x < p.width && (rgb || grey); ++x) {
                uint32_t c = p.colour(x, y);
                if (rgb) {
                    line[3 * x] = (unsigned char)(c >> 16);
                    line[3 * x + 1] = (unsigned char)(c >> 8);
                    line[3 * x + 2] = (unsigned char)c;
                } else {
                    line[x] = (unsigned char)c;
                }
            }
            cupsRasterWritePixels(r, line.data(), h.cupsBytesPerLine);
        }
    }
    cupsRasterClose(r);
    close(fd);
    std::string data = ReadFile(tmpl);
    unlink(tmpl);
    return data;
}

std::string Ppd(const TempDir &dir, const std::vector<std::pair<std::string, std::string>> &defs) {
    std::string ppd = ReadFile(std::string(RVC_PPD_DIR) + "/rastertovorcp-203.ppd");
    for (const auto &d : defs) {
        const std::string key = "*Default" + d.first + ": ";
        size_t at = ppd.find(key);
        EXPECT_NE(at, std::string::npos) << key;
        if (at != std::string::npos)
            ppd.replace(at, ppd.find('\n', at) - at, key + d.second);
    }
    WriteFile(dir / "job.ppd", ppd);
    return dir / "job.ppd";
}

Result RunJob(const std::string &raster, const std::string &options, const std::string &ppd) {
    TempDir dir;
    WriteFile(dir / "job.ras", raster);
    std::vector<std::string> args = {"rastertovorcp", "7", "user", "title", "1", options,
                                     dir / "job.ras"};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    setenv("PPD", ppd.c_str(), 1);
    Result r;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    r.status = RunFilterJob((int)args.size(), argv.data(), 0);
    r.err = testing::internal::GetCapturedStderr();
    r.out = testing::internal::GetCapturedStdout();
    unsetenv("PPD");
    return r;
}

void WriteAll(int fd, const std::string &data) {
    signal(SIGPIPE, SIG_IGN); // a filter that gave up must not end the test
    for (size_t done = 0; done < data.size();) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0)
            return;
        done += (size_t)n;
    }
}

Result RunProcess(const Process &p) {
    TempDir dir;
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
        return {};
    // The sanitizers' and the profiler's settings pass through; a run's own
    // entry, earlier, wins (the first of two entries does).
    std::vector<std::string> env = {"LC_ALL=C", "PATH=/usr/bin:/bin", "PPD=" + p.ppd};
    env.insert(env.end(), p.env.begin(), p.env.end());
    for (const char *keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LLVM_PROFILE_FILE"})
        if (getenv(keep))
            env.push_back(std::string(keep) + "=" + getenv(keep));
    std::vector<char *> argv, envp;
    for (const std::string &a : p.args)
        argv.push_back(const_cast<char *>(a.c_str()));
    for (const std::string &e : env)
        if (e != "PPD=") // none at all when empty
            envp.push_back(const_cast<char *>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    unlink(kFilterLog); // no line of an earlier run may pass for one of this run
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(p.out == Out::Capture   ? open((dir / "out").c_str(), O_WRONLY | O_CREAT, 0600)
             : p.out == Out::DevFull ? open("/dev/full", O_WRONLY)
                                     : out[1], // its reader closed below
             1);
        dup2(open((dir / "err").c_str(), O_WRONLY | O_CREAT, 0600), 2);
        for (int fd : {in[0], in[1], out[0], out[1]})
            close(fd);
        if (p.addressLimit != 0) {
            rlimit lim = {p.addressLimit, p.addressLimit};
            setrlimit(RLIMIT_AS, &lim);
        }
        execve(RVC_FILTER_EXE, argv.data(), envp.data());
        _exit(127);
    }
    for (int fd : {in[0], out[0], out[1]})
        close(fd);
    if (p.feeder) {
        p.feeder(in[1], pid);
    } else {
        WriteAll(in[1], p.input);
        close(in[1]);
    }
    int ws = 0;
    waitpid(pid, &ws, 0);
    return {WIFEXITED(ws) ? WEXITSTATUS(ws) : -1, WIFSIGNALED(ws) ? WTERMSIG(ws) : 0,
            ReadFile(dir / "out"), ReadFile(dir / "err")};
}

std::string RegexReplace(const std::string &text, const std::string &pattern,
                         const std::string &with) {
    return std::regex_replace(text, std::regex(pattern), with);
}

long RegexCount(const std::string &text, const std::string &pattern) {
    const std::regex re(pattern);
    return (long)std::distance(std::sregex_iterator(text.begin(), text.end(), re),
                               std::sregex_iterator());
}

std::string RegexGroup(const std::string &text, const std::string &pattern) {
    std::smatch m;
    return std::regex_search(text, m, std::regex(pattern)) && m.size() > 1 ? m[1].str() : "";
}

std::string Escape(const std::string &b) {
    std::string s;
    for (size_t i = 0; i < b.size(); ++i) {
        int x, y, w, h, m, used = 0;
        if (b.compare(i, 7, "BITMAP ") == 0 &&
            sscanf(b.c_str() + i, "BITMAP %d,%d,%d,%d,%d,%n", &x, &y, &w, &h, &m, &used) == 5 &&
            used > 0 && w >= 0 && h >= 0 && i + used + (size_t)w * h <= b.size()) {
            // The payload as dot rows: '#' a dot (bit 0), '.' paper.
            s += b.substr(i, used) + "\n";
            const unsigned char *d = (const unsigned char *)b.data() + i + used;
            for (int r = 0; r < h; ++r, s += '\n') {
                for (int k = 0; k < 8 * w; ++k)
                    s += (d[r * w + k / 8] >> (7 - k % 8)) & 1 ? '.' : '#';
            }
            i += used + (size_t)w * h - 1;
        } else if (b.compare(i, 2, "\r\n") == 0) {
            s += "\\r\\n\n";
            ++i;
        } else if (b[i] >= 32 && b[i] < 127 && b[i] != '\\') {
            s += b[i];
        } else {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\x%02x", (unsigned char)b[i]);
            s += hex;
        }
    }
    return s;
}

void ExpectGolden(const std::string &name, const std::string &text) {
    const std::string path = SourceDir() + "/tests/data/" + name;
    const char *update = getenv("RVC_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        WriteFile(path, text);
        return;
    }
    const std::string want = ReadFile(path);
    if (want == text)
        return;
    // Name the first line that differs and the case it belongs to.
    std::istringstream a(want), b(text);
    std::string la, lb, section;
    for (int line = 1;; ++line) {
        bool ea = !std::getline(a, la), eb = !std::getline(b, lb);
        if (la.rfind("=== ", 0) == 0)
            section = la;
        if (ea || eb || la != lb) {
            ADD_FAILURE() << path << " differs at line " << line << " (" << section
                          << ")\n  golden: " << (ea ? "<end>" : la.substr(0, 200))
                          << "\n  actual: " << (eb ? "<end>" : lb.substr(0, 200))
                          << "\n(RVC_UPDATE_GOLDEN=1 rewrites the golden files)";
            return;
        }
    }
}

tsplview::Job ReadTspl(const std::string &job) {
    tsplview::ReadResult r = tsplview::readJob((const uint8_t *)job.data(), job.size());
    EXPECT_TRUE(r.ok) << r.error << " at byte " << r.errorOffset;
    return r.job;
}

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    return fd;
}

bool Ready(int fd, short events, int ms) {
    pollfd p = {fd, events, 0};
    return poll(&p, 1, ms) == 1;
}

std::string ReadToEnd(int fd) {
    std::string got;
    char buf[64];
    for (ssize_t n = 1; n > 0 && Ready(fd, POLLIN, 2000);)
        if ((n = recv(fd, buf, sizeof buf, 0)) > 0)
            got.append(buf, size_t(n));
    return got;
}

Sim::Sim(const std::string &args) {
    int out[2];
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    const std::string command =
        "exec " RVC_PRINTER_EXE " -p 0 --control 0 -o " + out_ + " " + args + " 2>" + dir_ / "err";
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string said;
    char buf[64];
    for (ssize_t n = 1;
         n > 0 && std::count(said.begin(), said.end(), '\n') < 2 && Ready(out[0], POLLIN, 5000);)
        if ((n = read(out[0], buf, sizeof buf)) > 0)
            said.append(buf, size_t(n));
    close(out[0]);
    EXPECT_EQ(sscanf(said.c_str(), "port %d\ncontrol %d", &port_, &controlPort_), 2) << said;
    control_ = Connect(controlPort_);
}

Sim::~Sim() {
    close(control_);
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        EXPECT_EQ(Wait(), 0) << "SIGTERM ends it at once and well";
    }
}

int Sim::Wait() {
    int st = 0;
    for (int i = 0; i < 200 && waitpid(pid_, &st, WNOHANG) == 0; ++i)
        usleep(10000);
    if (waitpid(pid_, &st, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &st, 0);
        st = -1;
    }
    pid_ = -1;
    return st >= 0 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string Sim::Control(const std::string &command) {
    WriteAll(control_, command + "\n");
    std::string line;
    char c = 0;
    while (line.find('\n') == line.npos && Ready(control_, POLLIN, 2000) &&
           recv(control_, &c, 1, 0) == 1)
        line += c;
    return line.substr(0, line.size() - 1);
}

void Sim::WaitFor(const std::string &text) {
    std::string said;
    for (int i = 0; i < 300 && (said = Control("status")).find(text) == said.npos; ++i)
        usleep(5000);
    ASSERT_NE(said.find(text), said.npos) << said;
}

std::string Sim::Print(const std::string &bytes) {
    const int fd = Connect(port_);
    WriteAll(fd, bytes);
    shutdown(fd, SHUT_WR);
    const std::string answers = ReadToEnd(fd);
    close(fd);
    return answers;
}

std::vector<std::string> Sim::Labels(int job) const {
    std::vector<std::string> hashes;
    const std::string prefix = "label job=" + std::to_string(job) + " ";
    for (const std::string &line : Split(Record(), '\n')) {
        const size_t hash = line.find(" hash=");
        if (line.rfind(prefix, 0) == 0 && hash != std::string::npos)
            hashes.push_back(line.substr(hash + 6));
    }
    return hashes;
}

} // namespace rvt
