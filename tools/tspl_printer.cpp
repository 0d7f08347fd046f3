// tspl-printer: a TSPL label printer on a TCP port, simulated. It reads
// every job with tspl-view's reader as the bytes arrive, prints it at a set
// speed out of a bounded receive buffer (a busy printer stops reading, so
// the sender blocks), answers the status query between commands, obeys the
// faults set on its command line or through its control port, and leaves
// every printed label as a PNG named and drawn as tspl-view does, plus a
// record line per physical label.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "png_out.h"
#include "tools/tspl_job.h"

namespace {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kBadJob = 1;
constexpr int kUsage = 2;
constexpr int kIoError = 3;

const char kUsageText[] =
    "usage: tspl-printer [options]\n"
    "A TSPL label printer on a TCP port, simulated. Every label it prints is a PNG\n"
    "drawn and named as tspl-view does, job<J>-<label>-x<copies>.png, with J the\n"
    "job's number from 001 on; every job is one connection that carried data.\n"
    "  -p, --port PORT    port for jobs, 0 picks a free one (default 9100)\n"
    "  --listen ADDRESS   IPv4 address for jobs (default 127.0.0.1)\n"
    "  -o, --output DIR   folder for the PNG files (default: the current folder)\n"
    "  --record FILE      record of printed labels and jobs (default DIR/record.txt)\n"
    "  --speed IPS        print speed in inches per second, 0 for none (default 4)\n"
    "  --dpi DPI          dots per inch, for a label's length (default 203)\n"
    "  --buffer BYTES     receive buffer, at least 1024 (default 1048576)\n"
    "  --control PORT     control channel on 127.0.0.1, 0 picks a free one\n"
    "  --paper N          run out of paper after N labels\n"
    "  --head-open        start with the print head open\n"
    "  --stall            start stalled: nothing is read or printed\n"
    "  --drop-after N     close the first job's connection after N bytes of it\n"
    "  --once             exit when one job has been received and printed\n"
    "When ready it prints 'port N' (and 'control N') on standard output.\n"
    "\n"
    "Status query ESC ! ? (1B 21 3F), between commands: one byte back, 0 when\n"
    "ready, else the sum of 1 head open, 2 paper jam, 4 out of paper, 8 out of\n"
    "ribbon, 16 paused (stalled), 32 printing, 64 cover open, 128 temperature.\n"
    "Out of paper or with the head open it keeps what it has not printed and\n"
    "goes on when ready again; a label being printed is finished first.\n"
    "\n"
    "Control channel: one command a line, one answer line each, 'ok ...' or\n"
    "'error ...':\n"
    "  status           ok status=S printed=LABELS jobs=DONE buffered=BYTES\n"
    "                   queries=ANSWERED (status queries answered)\n"
    "  paper N          the roll holds N more labels (0: out of paper now)\n"
    "  refill           paper without end, head closed: ready again\n"
    "  head open        head close\n"
    "  drop N           close the job's connection once it has carried N bytes\n"
    "  stall            resume\n"
    "\n"
    "Record lines: 'label job=J number=N picture=P hash=H' per printed label\n"
    "(H: 16 hex digits of the picture's fingerprint), then 'done job=J labels=N'\n"
    "or, for a faulty job, 'fault job=J labels=N byte=B: MESSAGE'.\n"
    "SIGTERM or SIGINT ends it. Exit status: 0; with --once 1 for a faulty job;\n"
    "2 usage error, 3 input or output error.\n";

constexpr std::uint8_t kHeadOpen = 1, kPaperOut = 4, kPaused = 16, kPrinting = 32;
constexpr std::size_t kMinBuffer = 1024;

struct Options {
    std::string listen = "127.0.0.1";
    long port = 9100;
    long control = -1; // -1: no control channel
    std::string outDir = ".";
    std::string record; // empty: outDir/record.txt
    double speed = 4;
    long dpi = 203;
    long buffer = 1 << 20;
    long paper = -1; // labels left on the roll; -1: no end
    long dropAfter = -1;
    bool headOpen = false, stall = false, once = false;
};

int usage(const std::string &message) {
    std::cerr << "tspl-printer: " << message << "\n" << kUsageText;
    return kUsage;
}

bool wholeNumber(const std::string &text, long low, long high, long &out) {
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    out = std::stol(text);
    return out >= low && out <= high;
}

// The exit status when the command line ends the program, else nothing.
std::optional<int> parseArgs(int argc, char **argv, Options &opt) {
    const struct {
        const char *name, *alias;
        long *value;
        long low, high;
    } numbers[] = {
        {"--port", "-p", &opt.port, 0, 65535},
        {"--control", nullptr, &opt.control, 0, 65535},
        {"--dpi", nullptr, &opt.dpi, 1, 10000},
        {"--buffer", nullptr, &opt.buffer, long(kMinBuffer), 1L << 30},
        {"--paper", nullptr, &opt.paper, 0, 1L << 40},
        {"--drop-after", nullptr, &opt.dropAfter, 0, 1L << 40},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        bool matched = false;
        for (const auto &n : numbers) {
            if (a != n.name && (n.alias == nullptr || a != n.alias))
                continue;
            const char *v = value();
            if (v == nullptr || !wholeNumber(v, n.low, n.high, *n.value))
                return usage(a + " needs a whole number from " + std::to_string(n.low) + " to " +
                             std::to_string(n.high));
            matched = true;
        }
        if (matched)
            continue;
        if (a == "-h" || a == "--help") {
            std::cout << kUsageText;
            return kOk;
        } else if (a == "--head-open") {
            opt.headOpen = true;
        } else if (a == "--stall") {
            opt.stall = true;
        } else if (a == "--once") {
            opt.once = true;
        } else if (a == "-o" || a == "--output" || a == "--record" || a == "--listen") {
            const char *v = value();
            if (v == nullptr || *v == '\0')
                return usage(a + " needs a value");
            (a == "--record" ? opt.record : a == "--listen" ? opt.listen : opt.outDir) = v;
        } else if (a == "--speed") {
            const char *v = value();
            char *end = nullptr;
            opt.speed = v ? std::strtod(v, &end) : -1;
            if (v == nullptr || *v == '\0' || *end != '\0' || !(opt.speed >= 0 && opt.speed <= 1e6))
                return usage("--speed needs inches per second, from 0 to 1000000");
        } else {
            return usage("unknown argument " + a);
        }
    }
    if (opt.record.empty())
        opt.record = (std::filesystem::path(opt.outDir) / "record.txt").string();
    return std::nullopt;
}

std::string pad3(std::size_t n) {
    std::string s = std::to_string(n);
    return std::string(s.size() < 3 ? 3 - s.size() : 0, '0') + s;
}

// Finds the command boundaries in a connection's bytes as they arrive, so
// that a status query is taken only between commands and never from a
// BITMAP payload, whose bytes may be anything. Malformed commands are
// framed as lines; the reader reports them.
class Framer {
  public:
    // Hands the job's bytes to data and calls query for each status query,
    // in the order they came. A query's first bytes at the end of p wait for
    // the next call.
    template <class Data, class Query>
    void push(const std::uint8_t *p, std::size_t n, Data &&data, Query &&query) {
        std::size_t run = 0; // start of the job bytes not handed on yet
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t c = p[i];
            switch (state_) {
            case State::Boundary:
                if (c == 0x1b) {
                    data(p + run, i - run);
                    held_ = 1;
                    run = i + 1;
                    state_ = State::Escape;
                    continue;
                }
                matched_ = 0;
                state_ = State::Word;
                break;
            case State::Escape:
                if (c == kQuery[held_]) {
                    if (++held_ == 3) {
                        query();
                        state_ = State::Boundary;
                    }
                    run = i + 1;
                    continue;
                }
                data(kQuery, held_); // not a query: an ESC in a command
                run = i;
                state_ = State::Line;
                break;
            case State::Payload: {
                const std::size_t skip = std::size_t(std::min<unsigned long long>(left_, n - i));
                left_ -= skip;
                i += skip - 1;
                if (left_ == 0)
                    state_ = State::Line; // its CR LF
                continue;
            }
            default:
                break;
            }
            if (state_ == State::Word) {
                if (c == kBitmap[matched_]) {
                    if (++matched_ == sizeof kBitmap - 1) {
                        state_ = State::Header;
                        field_ = 0;
                        value_ = 0;
                        headerLength_ = matched_;
                    }
                    continue;
                }
                state_ = State::Line;
            } else if (state_ == State::Header) {
                if (header(c))
                    continue;
                state_ = State::Line;
            }
            if (c == '\n')
                state_ = State::Boundary;
        }
        if (state_ != State::Escape)
            data(p + run, n - run);
    }

    // The connection has ended: a query's first bytes were job data.
    template <class Data> void flush(Data &&data) {
        if (state_ == State::Escape)
            data(kQuery, held_);
        state_ = State::Boundary;
    }

  private:
    enum class State { Boundary, Escape, Word, Line, Header, Payload };
    static constexpr std::uint8_t kQuery[] = {0x1b, '!', '?'};
    static constexpr char kBitmap[] = "BITMAP ";

    // One byte of "x,y,width,height,mode,"; false when it cannot belong.
    bool header(std::uint8_t c) {
        if (++headerLength_ > 80)
            return false;
        if (c >= '0' && c <= '9') {
            value_ = std::min(value_ * 10 + (c - '0'), 1ull << 31);
            return true;
        }
        if (c == '-')
            return true;
        if (c != ',')
            return false;
        fields_[field_++] = value_;
        value_ = 0;
        if (field_ == 5) {
            left_ = fields_[2] * fields_[3];
            state_ = left_ > 0 ? State::Payload : State::Line;
        }
        return true;
    }

    State state_ = State::Boundary;
    std::size_t held_ = 0, matched_ = 0, headerLength_ = 0;
    int field_ = 0;
    unsigned long long value_ = 0, fields_[5] = {}, left_ = 0;
};

// A job: the bytes one connection carried, read by its own reader.
struct Job {
    long number = 0;
    tsplview::JobReader reader{false};
    bool received = false; // its connection has ended
    bool finished = false; // read to its end and printed
    long labels = 0;       // physical labels printed
    std::size_t picture = 0;
    long pictureCopies = 0;
    std::uint64_t pictureHash = 0;
    std::string png; // the picture's file, empty when it has none
};

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t gStop = 0;
void onStop(int) {
    gStop = 1;
}

int listenOn(const std::string &address, long port, int receiveBuffer, std::string &error) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        error = "not an IPv4 address: " + address;
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        // Accepted connections inherit it: the kernel then holds about as
        // much unread data as the printer's own buffer, so back-pressure
        // comes soon.
        if (receiveBuffer > 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && listen(fd, 8) == 0)
            return fd;
    }
    error =
        "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
    if (fd >= 0)
        close(fd);
    return -1;
}

int boundPort(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

class Printer {
  public:
    explicit Printer(const Options &opt)
        : opt_(opt), paperLeft_(opt.paper), headOpen_(opt.headOpen), stalled_(opt.stall),
          dropAfter_(opt.dropAfter) {
        paperOut_ = paperLeft_ == 0;
    }

    ~Printer() {
        for (int fd : {dataFd_, listenFd_, controlFd_})
            if (fd >= 0)
                close(fd);
        for (const Control &c : controls_)
            close(c.fd);
        if (record_)
            std::fclose(record_);
    }

    // Opens the ports, the folder and the record; false with a message on
    // standard error when one fails.
    bool start() {
        std::string error;
        listenFd_ =
            listenOn(opt_.listen, opt_.port, int(std::clamp(opt_.buffer, 4096L, 1L << 20)), error);
        if (listenFd_ >= 0 && opt_.control >= 0)
            controlFd_ = listenOn("127.0.0.1", opt_.control, 0, error);
        if (listenFd_ < 0 || (opt_.control >= 0 && controlFd_ < 0)) {
            std::cerr << "tspl-printer: " << error << "\n";
            return false;
        }
        std::error_code ec;
        std::filesystem::create_directories(opt_.outDir, ec);
        if (ec) {
            std::cerr << "tspl-printer: cannot create folder " << opt_.outDir << ": "
                      << ec.message() << "\n";
            return false;
        }
        record_ = std::fopen(opt_.record.c_str(), "w");
        if (record_ == nullptr) {
            std::cerr << "tspl-printer: cannot create " << opt_.record << ": "
                      << std::strerror(errno) << "\n";
            return false;
        }
        std::cout << "port " << boundPort(listenFd_) << "\n";
        if (controlFd_ >= 0)
            std::cout << "control " << boundPort(controlFd_) << "\n";
        std::cout.flush();
        return true;
    }

    // Serves until a stop signal or, with --once, the first job's end; the
    // exit status.
    int run(const sigset_t &waitMask) {
        while (!gStop) {
            advance();
            if (onceJob_ && onceJob_->finished && onceJob_->received)
                return onceJob_->reader.result().ok ? kOk : kBadJob;
            std::vector<pollfd> fds = {
                {dataFd_ < 0 ? listenFd_ : -1, POLLIN, 0},
                {dataFd_ >= 0 && canRead() ? dataFd_ : -1, POLLIN, 0},
                {controlFd_, POLLIN, 0},
            };
            for (const Control &c : controls_)
                fds.push_back({c.fd, POLLIN, 0});
            timespec wait{}, *timeout = nullptr;
            if (!moreWork_ && busy_) {
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::max(until_ - Clock::now(), Clock::duration::zero()))
                                    .count();
                wait.tv_sec = time_t(ns / 1000000000);
                wait.tv_nsec = long(ns % 1000000000);
            }
            if (moreWork_ || busy_)
                timeout = &wait;
            if (ppoll(fds.data(), fds.size(), timeout, &waitMask) < 0) {
                if (errno == EINTR)
                    continue;
                std::cerr << "tspl-printer: poll: " << std::strerror(errno) << "\n";
                return kIoError;
            }
            if (fds[0].revents)
                acceptData();
            if (fds[1].revents)
                readData();
            if (fds[2].revents)
                acceptControl();
            // From the last: a control connection that ends is erased.
            for (std::size_t i = fds.size(); i-- > 3;)
                if (fds[i].revents)
                    readControl(i - 3);
        }
        return kOk;
    }

  private:
    struct Control {
        int fd;
        std::string pending;
    };

    std::uint8_t status() const {
        return std::uint8_t((headOpen_ ? kHeadOpen : 0) | (paperOut_ ? kPaperOut : 0) |
                            (stalled_ ? kPaused : 0) | (busy_ ? kPrinting : 0));
    }
    bool ready() const { return !headOpen_ && !paperOut_ && !stalled_; }

    std::size_t buffered() const {
        std::size_t n = 0;
        for (const auto &j : jobs_)
            n += j->reader.waiting();
        return n;
    }
    bool canRead() const { return !stalled_ && buffered() < std::size_t(opt_.buffer); }

    void record(const std::string &line) {
        std::fputs((line + "\n").c_str(), record_);
        std::fflush(record_);
    }

    // The print engine, up to now: prints the labels due, takes the next
    // label's commands from the oldest job when it is ready for them.
    // Bounded work per call, so that sockets and signals are served between.
    void advance() {
        moreWork_ = false;
        for (int work = 0; work < 256; ++work) {
            if (busy_) {
                if (Clock::now() < until_)
                    return;
                busy_ = false;
                labelPrinted();
                continue;
            }
            if (!ready())
                return;
            if (copiesLeft_ > 0) {
                startLabel();
                continue;
            }
            if (jobs_.empty())
                return;
            Job &j = *jobs_.front();
            switch (j.reader.next()) {
            case tsplview::JobReader::Step::Printed:
                takePrint(j);
                break;
            case tsplview::JobReader::Step::NeedData:
                // A command longer than the buffer would wait for ever: it is
                // cut where the buffer ends.
                if (j.received || buffered() < std::size_t(opt_.buffer))
                    return;
                std::cerr << "tspl-printer: job " << j.number
                          << ": a command fills the receive buffer\n";
                j.reader.end();
                break;
            default:
                jobEnded(j);
                jobs_.pop_front();
                break;
            }
        }
        moreWork_ = true;
    }

    void takePrint(Job &j) {
        const tsplview::JobReader::Print &p = j.reader.printed();
        if (p.number != j.picture) {
            j.picture = p.number;
            j.pictureCopies = 0;
            j.pictureHash = tsplview::pictureHash(*p.label);
            j.png.clear();
        }
        label_ = p.label;
        copiesLeft_ = p.copies;
    }

    void startLabel() {
        --copiesLeft_;
        busy_ = true;
        until_ = Clock::now();
        if (opt_.speed > 0)
            until_ += std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(label_->height / double(opt_.dpi) / opt_.speed));
    }

    void labelPrinted() {
        Job &j = *jobs_.front();
        ++j.labels;
        ++j.pictureCopies;
        ++printed_;
        char hash[17];
        std::snprintf(hash, sizeof hash, "%016llx", (unsigned long long)j.pictureHash);
        record("label job=" + std::to_string(j.number) + " number=" + std::to_string(j.labels) +
               " picture=" + std::to_string(j.picture) + " hash=" + hash);
        writePicture(j);
        if (paperLeft_ > 0 && --paperLeft_ == 0) {
            paperOut_ = true;
            std::cerr << "tspl-printer: out of paper after label " << j.labels << " of job "
                      << j.number << "\n";
        }
    }

    // The picture's PNG carries the copies printed so far in its name, as
    // tspl-view's carries the label's copies: it is written with the first
    // and renamed with every further copy.
    void writePicture(Job &j) {
        if (label_->width == 0 || label_->height == 0)
            return;
        const std::string path = (std::filesystem::path(opt_.outDir) /
                                  ("job" + pad3(std::size_t(j.number)) + "-" + pad3(j.picture) +
                                   "-x" + std::to_string(j.pictureCopies) + ".png"))
                                     .string();
        std::string error;
        if (j.png.empty())
            tsplview::writePng(path, *label_, 1, error);
        else if (std::rename(j.png.c_str(), path.c_str()) != 0)
            error = "cannot rename " + j.png + ": " + std::strerror(errno);
        j.png = error.empty() ? path : std::string();
        if (!error.empty())
            std::cerr << "tspl-printer: job " << j.number << ", label " << j.labels << ": " << error
                      << "\n";
    }

    void jobEnded(Job &j) {
        j.finished = true;
        ++jobsDone_;
        const tsplview::ReadResult &r = j.reader.result();
        const std::string job = "job=" + std::to_string(j.number);
        if (r.ok) {
            record("done " + job + " labels=" + std::to_string(j.labels));
            std::cerr << "tspl-printer: job " << j.number << ": " << j.labels << " label(s)\n";
        } else {
            record("fault " + job + " labels=" + std::to_string(j.labels) +
                   " byte=" + std::to_string(r.errorOffset) + ": " + r.error);
            std::cerr << "tspl-printer: job " << j.number << ": byte " << r.errorOffset << ": "
                      << r.error << "\n";
        }
    }

    void acceptData() {
        dataFd_ = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        dataBytes_ = 0;
        framer_ = Framer();
        dataJob_.reset();
        dropIfDue();
    }

    void readData() {
        static std::uint8_t chunk[65536];
        std::size_t want = std::min(sizeof chunk, std::size_t(opt_.buffer) - buffered());
        if (dropAfter_ >= 0)
            want = std::min(want, std::size_t(dropAfter_) -
                                      std::min(std::size_t(dropAfter_), dataBytes_));
        if (want == 0)
            return;
        const ssize_t n = recv(dataFd_, chunk, want, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) {
            closeData(false);
            return;
        }
        dataBytes_ += std::size_t(n);
        framer_.push(
            chunk, std::size_t(n), [this](const std::uint8_t *p, std::size_t k) { feed(p, k); },
            [this] { answerQuery(); });
        dropIfDue();
    }

    void feed(const std::uint8_t *p, std::size_t n) {
        if (n == 0)
            return;
        if (!dataJob_) {
            dataJob_ = std::make_shared<Job>();
            dataJob_->number = ++jobCount_;
            jobs_.push_back(dataJob_);
            if (opt_.once && !onceJob_)
                onceJob_ = dataJob_;
        }
        dataJob_->reader.feed(p, n);
    }

    // The answer follows what came before the query: the engine takes the
    // bytes first.
    void answerQuery() {
        advance();
        const std::uint8_t s = status();
        send(dataFd_, &s, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        ++queries_;
    }

    void dropIfDue() {
        if (dataFd_ >= 0 && dropAfter_ >= 0 && dataBytes_ >= std::size_t(dropAfter_)) {
            std::cerr << "tspl-printer: connection dropped after " << dataBytes_ << " bytes\n";
            dropAfter_ = -1;
            closeData(true);
        }
    }

    void closeData(bool drop) {
        framer_.flush([this](const std::uint8_t *p, std::size_t n) { feed(p, n); });
        if (dataJob_) {
            dataJob_->received = true;
            dataJob_->reader.end();
        }
        if (drop) {
            // A reset, as when a cable is pulled, rather than an orderly end.
            const linger l = {1, 0};
            setsockopt(dataFd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        close(dataFd_);
        dataFd_ = -1;
        dataJob_.reset();
    }

    void acceptControl() {
        const int fd = accept4(controlFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (controls_.size() >= 16) {
            close(fd);
            return;
        }
        controls_.push_back({fd, {}});
    }

    void readControl(std::size_t index) {
        Control &c = controls_[index];
        char buf[1024];
        const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n > 0)
            c.pending.append(buf, std::size_t(n));
        std::string answers;
        for (std::size_t eol; (eol = c.pending.find('\n')) != std::string::npos;) {
            std::string line = c.pending.substr(0, eol);
            c.pending.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            answers += control(line) + "\n";
        }
        if (!answers.empty())
            send(c.fd, answers.data(), answers.size(), MSG_NOSIGNAL);
        if (n <= 0 || c.pending.size() > 256) {
            close(c.fd);
            controls_.erase(controls_.begin() + std::ptrdiff_t(index));
        }
    }

    // One control command; its answer.
    std::string control(const std::string &line) {
        std::vector<std::string> words;
        for (std::size_t at = 0; at < line.size();) {
            const std::size_t end = std::min(line.find(' ', at), line.size());
            if (end > at)
                words.push_back(line.substr(at, end - at));
            at = end + 1;
        }
        const std::string verb = words.empty() ? "" : words[0];
        long n = 0;
        const bool number = words.size() == 2 && wholeNumber(words[1], 0, 1L << 40, n);
        if (verb == "status" && words.size() == 1) {
            advance();
            return "ok status=" + std::to_string(status()) +
                   " printed=" + std::to_string(printed_) + " jobs=" + std::to_string(jobsDone_) +
                   " buffered=" + std::to_string(buffered()) +
                   " queries=" + std::to_string(queries_);
        } else if (verb == "paper" && number) {
            paperLeft_ = n;
            paperOut_ = n == 0;
        } else if (verb == "refill" && words.size() == 1) {
            paperLeft_ = -1;
            paperOut_ = false;
            headOpen_ = false;
        } else if (verb == "head" && words.size() == 2 &&
                   (words[1] == "open" || words[1] == "close")) {
            headOpen_ = words[1] == "open";
        } else if (verb == "drop" && number) {
            dropAfter_ = n;
            dropIfDue();
        } else if ((verb == "stall" || verb == "resume") && words.size() == 1) {
            stalled_ = verb == "stall";
        } else {
            return "error unknown command: " + line.substr(0, 80);
        }
        return "ok";
    }

    const Options &opt_;
    std::FILE *record_ = nullptr;
    int listenFd_ = -1, controlFd_ = -1, dataFd_ = -1;
    std::vector<Control> controls_;

    // The printer's state.
    long paperLeft_;
    bool paperOut_ = false, headOpen_, stalled_;
    long dropAfter_;

    // The connection being read.
    std::size_t dataBytes_ = 0;
    Framer framer_;
    std::shared_ptr<Job> dataJob_;

    // Jobs with labels still to print, oldest first.
    std::deque<std::shared_ptr<Job>> jobs_;
    std::shared_ptr<Job> onceJob_;
    long jobCount_ = 0, jobsDone_ = 0, printed_ = 0, queries_ = 0;

    // The engine.
    const tsplview::Label *label_ = nullptr;
    long copiesLeft_ = 0;
    bool busy_ = false, moreWork_ = false;
    Clock::time_point until_;
};

} // namespace

int main(int argc, char **argv) {
    Options opt;
    if (std::optional<int> status = parseArgs(argc, argv, opt))
        return *status;

    // The stop signals are let in only while the loop waits.
    sigset_t stops, waitMask;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);
    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Printer printer(opt);
    if (!printer.start())
        return kIoError;
    return printer.run(waitMask);
}
