#include "tools/tspl_job.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace tsplview {
namespace {

// Label buffers beyond this are no printer's: refusing them keeps a hostile
// SIZE from exhausting memory.
constexpr long kMaxLabelDots = 64L * 1024 * 1024;
// Each label is counted one by one for the cutter; a roll holds far fewer.
constexpr long kMaxLabelsPerPrint = 1000000;

struct Fault {
    std::size_t offset; // in the bytes being read, or in the job when absolute
    std::string message;
    bool absolute = false;
};

[[noreturn]] void fail(std::size_t offset, std::string message) {
    throw Fault{offset, std::move(message)};
}

std::string quoted(const std::uint8_t *p, std::size_t n) {
    std::string s = "'";
    for (std::size_t i = 0; i < n && i < 40; ++i) {
        unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7f) {
            s += char(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            s += buf;
        }
    }
    if (n > 40)
        s += "...";
    return s + "'";
}

// Reads the arguments of one command line, [pos, end) of the job.
class Cursor {
  public:
    Cursor(const std::uint8_t *data, std::size_t pos, std::size_t end, const char *command)
        : d_(data), pos_(pos), end_(end), cmd_(command) {}

    std::size_t pos() const { return pos_; }
    std::size_t end() const { return end_; }
    bool atEnd() const { return pos_ == end_; }

    bool accept(const char *text) {
        std::size_t n = 0;
        while (text[n] != 0)
            ++n;
        if (end_ - pos_ < n || !std::equal(text, text + n, d_ + pos_))
            return false;
        pos_ += n;
        return true;
    }

    void expect(const char *text) {
        if (!accept(text))
            fail(pos_, std::string(cmd_) + ": expected '" + text + "' at " + rest());
    }

    void expectEnd() {
        if (!atEnd())
            fail(pos_, std::string(cmd_) + ": unexpected " + rest());
    }

    // A decimal integer as printf's %d writes it: optional minus, digits.
    long integer(const char *what) {
        std::size_t start = pos_;
        bool negative = accept("-");
        long value = 0;
        std::size_t digits = 0;
        while (pos_ < end_ && d_[pos_] >= '0' && d_[pos_] <= '9') {
            value = value * 10 + (d_[pos_] - '0');
            if (value > 2147483648L)
                fail(start, std::string(cmd_) + ": " + what + " out of range");
            ++pos_;
            ++digits;
        }
        if (digits == 0)
            fail(start, std::string(cmd_) + ": malformed number for " + what + " at " +
                            quoted(d_ + start, end_ - start));
        value = negative ? -value : value;
        if (value > 2147483647L)
            fail(start, std::string(cmd_) + ": " + what + " out of range");
        return value;
    }

    long nonNegative(const char *what) {
        std::size_t start = pos_;
        long v = integer(what);
        if (v < 0)
            fail(start, std::string(cmd_) + ": " + what + " must not be negative");
        return v;
    }

    // Millimetres as whole numbers or with one decimal; returned in tenths.
    int millimetres(const char *what) {
        std::size_t start = pos_;
        bool negative = pos_ < end_ && d_[pos_] == '-';
        long whole = integer(what);
        if (whole < -100000 || whole > 100000)
            fail(start, std::string(cmd_) + ": " + what + " out of range");
        long tenths = whole * 10;
        if (accept(".")) {
            if (pos_ >= end_ || d_[pos_] < '0' || d_[pos_] > '9')
                fail(pos_, std::string(cmd_) + ": malformed number for " + what);
            long digit = d_[pos_++] - '0';
            if (pos_ < end_ && d_[pos_] >= '0' && d_[pos_] <= '9')
                fail(start, std::string(cmd_) + ": " + what + " has more than one decimal");
            tenths += negative ? -digit : digit;
        }
        return int(tenths);
    }

    Switch onOff() {
        if (accept("ON"))
            return Switch::On;
        if (accept("OFF"))
            return Switch::Off;
        fail(pos_, std::string(cmd_) + ": expected ON or OFF at " + rest());
    }

  private:
    std::string rest() const {
        return pos_ == end_ ? std::string("end of command") : quoted(d_ + pos_, end_ - pos_);
    }

    const std::uint8_t *d_;
    std::size_t pos_, end_;
    const char *cmd_;
};

} // namespace

// The printer: its settings, image buffer and cutter count, fed the job's
// bytes as they come. Commands are read only when next() asks for them, so
// what it has not read yet waits in buf_.
class JobReader::Impl {
  public:
    using Step = JobReader::Step;

    explicit Impl(bool keepLabels) : keep_(keepLabels) {}

    void feed(const std::uint8_t *data, std::size_t size) {
        if (!finished())
            buf_.insert(buf_.end(), data, data + size);
    }
    void end() { ended_ = true; }
    std::size_t waiting() const { return buf_.size() - pos_; }
    const Print &printed() const { return last_; }
    ReadResult &result() { return result_; }

    Step next() {
        if (finished())
            return state_;
        try {
            for (;;) {
                compact();
                d_ = buf_.data();
                size_ = buf_.size();
                if (bitmap_.active) {
                    if (!continueBitmap())
                        return Step::NeedData;
                } else if (pos_ == size_) {
                    if (!ended_)
                        return Step::NeedData;
                    closeOpen();
                    if (!printed_)
                        job_.settings = settings_;
                    return finish(Step::Done);
                } else {
                    const Outcome o = step();
                    if (o == Outcome::Wait)
                        return Step::NeedData;
                    if (o == Outcome::Printed)
                        return Step::Printed;
                }
            }
        } catch (const Fault &f) {
            // A label whose PRINT came before the fault has been printed in full.
            closeOpen();
            result_.ok = false;
            result_.errorOffset = f.absolute ? f.offset : base_ + f.offset;
            result_.error = f.message;
            return finish(Step::Fault);
        }
    }

  private:
    enum class Outcome { Wait, Read, Printed };

    bool finished() const { return state_ == Step::Done || state_ == Step::Fault; }

    Step finish(Step s) {
        state_ = s;
        result_.job = std::move(job_);
        std::vector<std::uint8_t>().swap(buf_);
        pos_ = 0;
        return s;
    }

    // Drops the bytes read, once they are many and most of the buffer:
    // offsets stay the job's through base_.
    void compact() {
        if (pos_ < 65536 || pos_ * 2 < buf_.size())
            return;
        buf_.erase(buf_.begin(), buf_.begin() + std::ptrdiff_t(pos_));
        base_ += pos_;
        pos_ = 0;
    }

    // One command, or Wait when the bytes so far end inside it. Until the
    // job's end is known a command is read only once it is whole, so that
    // it is read as it would be from the complete job.
    Outcome step() {
        static const char bitmap[] = "BITMAP ";
        const std::size_t bl = sizeof bitmap - 1;
        const std::size_t have = size_ - pos_;
        if (std::equal(bitmap, bitmap + std::min(have, bl), d_ + pos_)) {
            if (have >= bl)
                return startBitmap();
            if (!ended_)
                return Outcome::Wait;
        }
        std::size_t start = pos_, i = pos_ + scanned_;
        while (i < size_ && d_[i] != '\r' && d_[i] != '\n')
            ++i;
        if (i == size_ && !ended_) {
            scanned_ = i - start;
            return Outcome::Wait;
        }
        if (i == size_)
            fail(start, "command " + quoted(d_ + start, i - start) + " is not terminated by CR LF");
        if (d_[i] == '\n')
            fail(i, "line feed without carriage return after " + quoted(d_ + start, i - start));
        if (i + 1 == size_ && !ended_) {
            scanned_ = i - start;
            return Outcome::Wait;
        }
        if (i + 1 == size_ || d_[i + 1] != '\n')
            fail(i, "carriage return without line feed after " + quoted(d_ + start, i - start));
        for (std::size_t k = start; k < i; ++k)
            if (d_[k] < 0x20 || d_[k] >= 0x7f)
                fail(k, "non-text byte in command " + quoted(d_ + start, i - start));
        if (i == start)
            fail(start, "empty command (a stray CR LF)");
        justPrinted_ = false;
        command(start, i);
        pos_ = i + 2;
        scanned_ = 0;
        return justPrinted_ ? Outcome::Printed : Outcome::Read;
    }

    // Each command's handler reads its arguments from a cursor just past its
    // name; start is where the command's line begins.
    using Handler = void (Impl::*)(Cursor &c, std::size_t start);

    void command(std::size_t start, std::size_t end) {
        static const struct {
            const char *name;
            Handler handler;
        } kCommands[] = {
            {"CLS", &Impl::clsCommand},
            {"SIZE", &Impl::sizeCommand},
            {"GAP", &Impl::gapCommand},
            {"DIRECTION", &Impl::directionCommand},
            {"REFERENCE", &Impl::referenceCommand},
            {"DENSITY", &Impl::densityCommand},
            {"OFFSET", &Impl::offsetCommand},
            {"SET", &Impl::setCommand},
            {"PRINT", &Impl::printCommand},
        };
        for (const auto &k : kCommands) {
            Cursor c(d_, start, end, k.name);
            if (c.accept(k.name) && (c.atEnd() || d_[c.pos()] == ' ')) {
                (this->*k.handler)(c, start);
                return;
            }
        }
        std::size_t w = start;
        while (w < end && d_[w] != ' ')
            ++w;
        fail(start, "unknown command " + quoted(d_ + start, w - start));
    }

    void clsCommand(Cursor &c, std::size_t) {
        c.expectEnd();
        clear();
        clsSincePrint_ = true;
    }

    void sizeCommand(Cursor &c, std::size_t) {
        c.expect(" ");
        std::size_t at = c.pos();
        long w = c.nonNegative("width");
        c.expect(" dot,");
        long h = c.nonNegative("height");
        c.expect(" dot");
        c.expectEnd();
        if (w * h > kMaxLabelDots || w > 65535 || h > 65535)
            fail(at, "SIZE: " + std::to_string(w) + " x " + std::to_string(h) +
                         " dots is larger than this viewer accepts");
        settings_.haveSize = true;
        settings_.width = int(w);
        settings_.height = int(h);
        clear();
        sizeSincePrint_ = true;
    }

    void gapCommand(Cursor &c, std::size_t) {
        c.expect(" ");
        int gap = c.millimetres("gap");
        c.expect(" mm,");
        int off = c.millimetres("gap offset");
        c.expect(" mm");
        c.expectEnd();
        settings_.haveGap = true;
        settings_.gapTenths = gap;
        settings_.gapOffsetTenths = off;
    }

    void directionCommand(Cursor &c, std::size_t) {
        c.expect(" ");
        std::size_t at = c.pos();
        long dir = c.integer("direction");
        long mirror = 0;
        if (c.accept(","))
            mirror = c.integer("mirror");
        c.expectEnd();
        if (dir < 0 || dir > 1 || mirror < 0 || mirror > 1)
            fail(at, "DIRECTION: values must be 0 or 1");
        settings_.haveDirection = true;
        settings_.direction = int(dir);
        settings_.mirror = int(mirror);
    }

    void referenceCommand(Cursor &c, std::size_t) {
        c.expect(" ");
        long x = c.nonNegative("x");
        c.expect(",");
        long y = c.nonNegative("y");
        c.expectEnd();
        settings_.haveReference = true;
        settings_.referenceX = int(x);
        settings_.referenceY = int(y);
    }

    void densityCommand(Cursor &c, std::size_t) {
        c.expect(" ");
        long v = c.integer("density");
        c.expectEnd();
        settings_.haveDensity = true;
        settings_.density = int(v);
    }

    void offsetCommand(Cursor &c, std::size_t) {
        c.expect(" ");
        int v = c.millimetres("offset");
        c.expect(" mm");
        c.expectEnd();
        settings_.haveOffset = true;
        settings_.offsetTenths = v;
    }

    void printCommand(Cursor &c, std::size_t start) {
        c.expect(" ");
        long sets = c.nonNegative("label sets");
        long copies = 1;
        if (c.accept(","))
            copies = c.nonNegative("copies");
        c.expectEnd();
        if (sets * copies > kMaxLabelsPerPrint)
            fail(start, "PRINT: more labels than this viewer counts (" +
                            std::to_string(sets * copies) + ")");
        print(start, sets * copies);
    }

    void setCommand(Cursor &c, std::size_t) {
        c.expect(" ");
        if (c.accept("RIBBON ")) {
            settings_.ribbon = c.onOff();
        } else if (c.accept("TEAR ")) {
            settings_.tear = c.onOff();
        } else if (c.accept("PEEL ")) {
            settings_.peel = c.onOff();
        } else if (c.accept("CUTTER ")) {
            if (c.accept("OFF")) {
                settings_.cutter = 0;
            } else {
                std::size_t at = c.pos();
                long n = c.integer("cutter interval");
                if (n < 1)
                    fail(at, "SET CUTTER: interval must be at least 1");
                settings_.cutter = int(n);
            }
            // The printer counts towards the next cut afresh from here.
            sinceCut_ = 0;
        } else {
            std::size_t w = c.pos();
            while (w < c.end() && d_[w] != ' ')
                ++w;
            fail(c.pos(),
                 "unknown command 'SET " +
                     std::string(reinterpret_cast<const char *>(d_ + c.pos()), w - c.pos()) + "'");
        }
        c.expectEnd();
    }

    // A BITMAP command's header and how far its payload has been drawn.
    struct Bitmap {
        bool active = false;
        long x = 0, y = 0, widthBytes = 0, height = 0, mode = 0;
        unsigned long long size = 0, drawn = 0;
        long row = 0, column = 0;  // of the next payload byte
        long clipped = 0;          // dots that fell beyond the label's edge
        std::size_t payloadAt = 0; // in the job
    };

    void readBitmapHeader(std::size_t start, std::size_t end, Bitmap &b) {
        Cursor c(d_, start + 7, end, "BITMAP");
        b.x = c.nonNegative("x");
        c.expect(",");
        b.y = c.nonNegative("y");
        c.expect(",");
        b.widthBytes = c.nonNegative("width");
        c.expect(",");
        b.height = c.nonNegative("height");
        c.expect(",");
        std::size_t modeAt = c.pos();
        b.mode = c.integer("mode");
        if (b.mode < 0 || b.mode > 2)
            fail(modeAt, "BITMAP: mode must be 0, 1 or 2");
        c.expect(",");
        pos_ = c.pos();
    }

    Outcome startBitmap() {
        const std::size_t start = pos_;
        // The header runs straight into the binary payload: no CR LF to look
        // for, so it is read up to the comma after the mode, within 80 bytes.
        const std::size_t end = std::min(size_, start + 80);
        Bitmap b;
        try {
            readBitmapHeader(start, end, b);
        } catch (const Fault &) {
            pos_ = start;
            if (!ended_ && end < start + 80)
                return Outcome::Wait; // the rest of the header may still come
            throw;
        }
        if (!settings_.haveSize)
            fail(start, "BITMAP before any SIZE");
        b.active = true;
        b.size = (unsigned long long)b.widthBytes * (unsigned long long)b.height;
        b.payloadAt = base_ + pos_;
        bitmap_ = b;
        return Outcome::Read;
    }

    // Draws the payload bytes that have come into the image buffer; true
    // once the payload and its CR LF are read.
    bool continueBitmap() {
        Bitmap &b = bitmap_;
        const std::size_t n =
            std::size_t(std::min<unsigned long long>(b.size - b.drawn, size_ - pos_));
        drawBitmap(b, d_ + pos_, n);
        pos_ += n;
        if (b.drawn < b.size) {
            if (!ended_)
                return false;
            throw Fault{b.payloadAt,
                        "BITMAP payload is short: " + std::to_string(b.size) + " bytes declared, " +
                            std::to_string(b.drawn) + " left in the job",
                        true};
        }
        const std::size_t have = size_ - pos_;
        if ((have > 0 && d_[pos_] != '\r') || (have > 1 && d_[pos_ + 1] != '\n') ||
            (have < 2 && ended_))
            fail(pos_, "BITMAP: no CR LF after its " + std::to_string(b.size) +
                           " payload bytes (payload shorter or longer than declared)");
        if (have < 2)
            return false;
        if (b.clipped > 0)
            addWarning("bitmap reaches beyond the label's edge: " + std::to_string(b.clipped) +
                       " dots clipped");
        pos_ += 2;
        b.active = false;
        return true;
    }

    void drawBitmap(Bitmap &b, const std::uint8_t *bytes, std::size_t n) {
        const int ox = settings_.referenceX, oy = settings_.referenceY;
        for (std::size_t i = 0; i < n; ++i) {
            const long py = oy + b.y + b.row;
            for (int k = 0; k < 8; ++k) {
                const bool isDot = (bytes[i] & (0x80 >> k)) == 0; // bit 0 = dot
                const long px = ox + b.x + b.column * 8 + k;
                if (px >= settings_.width || py >= settings_.height) {
                    b.clipped += isDot;
                    continue;
                }
                std::uint8_t &cell = image_[std::size_t(py) * settings_.width + px];
                if (b.mode == 0)
                    cell = isDot;
                else if (b.mode == 1)
                    cell |= isDot;
                else
                    cell ^= isDot;
            }
            if (++b.column == b.widthBytes) {
                b.column = 0;
                ++b.row;
            }
        }
        b.drawn += n;
    }

    void print(std::size_t start, long count) {
        if (!settings_.haveSize)
            fail(start, "PRINT before any SIZE");
        if (!printed_) {
            job_.settings = settings_;
            printed_ = true;
        }
        std::vector<std::uint8_t> picture = image_;
        if (settings_.mirror) {
            for (int yy = 0; yy < settings_.height; ++yy) {
                auto row = picture.begin() + std::ptrdiff_t(yy) * settings_.width;
                std::reverse(row, row + settings_.width);
            }
        }
        const bool same = open_ && !clsSincePrint_ && !sizeSincePrint_ &&
                          open_->width == settings_.width && open_->height == settings_.height &&
                          open_->dots == picture;
        if (!same) {
            closeOpen();
            pending_ = Label();
            pending_.width = settings_.width;
            pending_.height = settings_.height;
            pending_.dots = std::move(picture);
            pending_.offset = base_ + start;
            pending_.firstNumber = job_.totalLabels + 1;
            open_ = &pending_;
        }
        for (const std::string &w : warnings_)
            if (std::find(open_->warnings.begin(), open_->warnings.end(), w) ==
                open_->warnings.end())
                open_->warnings.push_back(w);
        if (settings_.cutter > 0) {
            const long n = settings_.cutter;
            for (long k = n - sinceCut_; k <= count; k += n) {
                open_->cutsAfter.push_back(job_.totalLabels + k);
                ++job_.totalCuts;
            }
            sinceCut_ = (sinceCut_ + count) % n;
        }
        if (count > 0) {
            if (open_->copies == 0)
                ++labelsWithCopies_;
            last_.label = open_;
            last_.copies = count;
            last_.number = labelsWithCopies_;
            justPrinted_ = true;
        }
        open_->copies += count;
        job_.totalLabels += count;
        clsSincePrint_ = false;
        sizeSincePrint_ = false;
    }

    void closeOpen() {
        if (open_ && open_->copies > 0 && keep_) {
            finishInk(*open_);
            job_.labels.push_back(std::move(*open_));
        }
        open_ = nullptr;
    }

    static void finishInk(Label &l) {
        l.inked = false;
        for (int yy = 0; yy < l.height; ++yy)
            for (int xx = 0; xx < l.width; ++xx) {
                if (!l.dot(xx, yy))
                    continue;
                if (!l.inked) {
                    l.inked = true;
                    l.inkLeft = l.inkRight = xx;
                    l.inkTop = l.inkBottom = yy;
                }
                l.inkLeft = std::min(l.inkLeft, xx);
                l.inkRight = std::max(l.inkRight, xx);
                l.inkTop = std::min(l.inkTop, yy);
                l.inkBottom = std::max(l.inkBottom, yy);
            }
    }

    void clear() {
        image_.assign(std::size_t(settings_.width) * std::size_t(settings_.height), 0);
        warnings_.clear();
    }

    void addWarning(std::string w) {
        if (std::find(warnings_.begin(), warnings_.end(), w) == warnings_.end())
            warnings_.push_back(std::move(w));
    }

    const bool keep_;
    std::vector<std::uint8_t> buf_; // the job's bytes from base_ on
    std::size_t base_ = 0;          // the job offset of buf_[0]
    std::size_t pos_ = 0;           // the next byte to read, in buf_
    std::size_t scanned_ = 0;       // bytes from pos_ on known to hold no line end
    bool ended_ = false;
    Step state_ = Step::NeedData;
    const std::uint8_t *d_ = nullptr; // buf_'s bytes while a step reads them
    std::size_t size_ = 0;
    Bitmap bitmap_;
    PrinterSettings settings_;
    std::vector<std::uint8_t> image_;
    std::vector<std::string> warnings_;
    bool clsSincePrint_ = false, sizeSincePrint_ = false, printed_ = false;
    bool justPrinted_ = false;
    long sinceCut_ = 0;
    std::size_t labelsWithCopies_ = 0;
    Label pending_;
    Label *open_ = nullptr;
    Print last_;
    Job job_;
    ReadResult result_;
};

namespace {

const char *word(Switch s) {
    return s == Switch::On ? "on" : "off";
}

std::string mm(int tenths) {
    std::string s = tenths < 0 ? "-" : "";
    int a = tenths < 0 ? -tenths : tenths;
    s += std::to_string(a / 10);
    if (a % 10)
        s += "." + std::to_string(a % 10);
    return s + " mm";
}

// Label numbers for a human: runs of consecutive numbers as ranges, and a
// long roll cut after every label does not fill the screen.
std::string labelList(const std::vector<long> &numbers) {
    std::string s;
    std::size_t items = 0, i = 0;
    for (; i < numbers.size() && items < 12; ++items) {
        std::size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1)
            ++j;
        if (!s.empty())
            s += " ";
        s += std::to_string(numbers[i]);
        if (j - i >= 2) {
            s += "-" + std::to_string(numbers[j]);
            i = j + 1;
        } else {
            ++i;
        }
    }
    if (i < numbers.size())
        s += " and " + std::to_string(numbers.size() - i) + " more";
    return s;
}

void describeSettings(std::ostream &o, const PrinterSettings &s) {
    o << "settings:\n";
    if (s.haveSize)
        o << "  size: " << s.width << " x " << s.height << " dots\n";
    if (s.haveGap) {
        if (s.gapTenths == 0 && s.gapOffsetTenths == 0)
            o << "  gap: none (continuous media)\n";
        else
            o << "  gap: " << mm(s.gapTenths) << ", offset " << mm(s.gapOffsetTenths) << "\n";
    }
    if (s.ribbon != Switch::Unset)
        o << "  ribbon: " << word(s.ribbon) << "\n";
    if (s.haveDirection)
        o << "  direction: " << s.direction << ", mirror " << s.mirror << "\n";
    if (s.haveReference)
        o << "  reference: " << s.referenceX << "," << s.referenceY << "\n";
    if (s.haveDensity)
        o << "  density: " << s.density << "\n";
    if (s.haveOffset)
        o << "  offset: " << mm(s.offsetTenths) << "\n";
    if (s.tear != Switch::Unset)
        o << "  tear: " << word(s.tear) << "\n";
    if (s.peel != Switch::Unset)
        o << "  peel: " << word(s.peel) << "\n";
    if (s.cutter == 0)
        o << "  cutter: off\n";
    if (s.cutter > 0)
        o << "  cutter: every " << s.cutter << " label(s)\n";
}

// Label number n's block; png is the picture written for it, if any.
void describeLabel(std::ostream &o, const Label &l, std::size_t n, const std::string &png) {
    o << "label " << n << ": " << l.width << " x " << l.height << " dots, ";
    if (l.inked)
        o << "ink " << l.inkLeft << "," << l.inkTop << " to " << l.inkRight << "," << l.inkBottom
          << " (" << l.inkRight - l.inkLeft + 1 << " x " << l.inkBottom - l.inkTop + 1 << ")";
    else
        o << "blank";
    o << ", copies " << l.copies;
    if (l.copies > 1)
        o << " (labels " << l.firstNumber << "-" << l.lastNumber() << ")";
    else
        o << " (label " << l.firstNumber << ")";
    if (l.cutsAfter.empty())
        o << ", no cut\n";
    else
        o << ", cut after " << labelList(l.cutsAfter)
          << (l.cutFollows() ? "; cut follows\n" : "; no cut follows\n");
    for (const std::string &w : l.warnings)
        o << "  warning: " << w << "\n";
    if (l.width == 0 || l.height == 0)
        o << "  warning: the label has no area, nothing to show\n";
    if (!png.empty())
        o << "png: " << png << "\n";
}

} // namespace

JobReader::JobReader(bool keepLabels) : impl_(std::make_unique<Impl>(keepLabels)) {}
JobReader::~JobReader() = default;
void JobReader::feed(const std::uint8_t *data, std::size_t size) {
    impl_->feed(data, size);
}
void JobReader::end() {
    impl_->end();
}
std::size_t JobReader::waiting() const {
    return impl_->waiting();
}
JobReader::Step JobReader::next() {
    return impl_->next();
}
const JobReader::Print &JobReader::printed() const {
    return impl_->printed();
}
ReadResult &JobReader::result() {
    return impl_->result();
}

ReadResult readJob(const std::uint8_t *data, std::size_t size) {
    JobReader reader;
    reader.feed(data, size);
    reader.end();
    while (reader.next() == JobReader::Step::Printed) {
    }
    return std::move(reader.result());
}

std::uint64_t pictureHash(const Label &label) {
    // FNV-1a over the size and the dots.
    std::uint64_t h = 1469598103934665603ull;
    auto mix = [&h](std::uint8_t byte) { h = (h ^ byte) * 1099511628211ull; };
    for (int v : {label.width, label.height})
        for (int shift = 0; shift < 32; shift += 8)
            mix(std::uint8_t(unsigned(v) >> shift));
    for (std::uint8_t dot : label.dots)
        mix(dot);
    return h;
}

std::string summary(const Job &job, const std::vector<std::string> &pngPaths) {
    std::ostringstream o;
    describeSettings(o, job.settings);
    for (std::size_t i = 0; i < job.labels.size(); ++i)
        describeLabel(o, job.labels[i], i + 1, i < pngPaths.size() ? pngPaths[i] : std::string());
    o << "total: " << job.totalLabels << " label(s), " << job.totalCuts << " cut(s)\n";
    return o.str();
}

} // namespace tsplview
