#include "Jobs.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Catalogue.h"
#include "Driver.h"
#include "Images.h"
#include "Lifecycle.h"
#include "Queue.h"
#include "Status.h"
#include "filter/PageLoop.h"

namespace vorcp {

const char kSpooledType[] = "application/vnd.vorcp-document";

namespace {

using namespace std::chrono_literals;

// How long a job waits for its printer's settings while PAPPL holds the
// printer busy; then it prints with the settings read last.
constexpr auto kSettingsWait = 2000ms;

// --- Keywords of the job attributes PAPPL resolves -----------------------

template <typename T> struct Word {
    const char *name;
    T value;
};

template <typename T, size_t N> T Lookup(const Word<T> (&words)[N], const char *name, T fallback) {
    for (const Word<T> &w : words) {
        if (name != nullptr && strcmp(w.name, name) == 0) {
            return w.value;
        }
    }
    return fallback;
}

template <typename T, size_t N> const char *NameOf(const Word<T> (&words)[N], T value) {
    for (const Word<T> &w : words) {
        if (w.value == value) {
            return w.name;
        }
    }
    return words[0].name;
}

const Word<pappl_color_mode_t> kColorModes[] = {
    {"auto", PAPPL_COLOR_MODE_AUTO},
    {"auto-monochrome", PAPPL_COLOR_MODE_AUTO_MONOCHROME},
    {"bi-level", PAPPL_COLOR_MODE_BI_LEVEL},
    {"color", PAPPL_COLOR_MODE_COLOR},
    {"monochrome", PAPPL_COLOR_MODE_MONOCHROME},
    {"process-monochrome", PAPPL_COLOR_MODE_PROCESS_MONOCHROME},
};
const Word<pappl_content_t> kContents[] = {
    {"auto", PAPPL_CONTENT_AUTO},
    {"graphic", PAPPL_CONTENT_GRAPHIC},
    {"photo", PAPPL_CONTENT_PHOTO},
    {"text", PAPPL_CONTENT_TEXT},
    {"text-and-graphic", PAPPL_CONTENT_TEXT_AND_GRAPHIC},
};
const Word<pappl_scaling_t> kScalings[] = {
    {"auto", PAPPL_SCALING_AUTO}, {"auto-fit", PAPPL_SCALING_AUTO_FIT},
    {"fill", PAPPL_SCALING_FILL}, {"fit", PAPPL_SCALING_FIT},
    {"none", PAPPL_SCALING_NONE},
};
const Word<pappl_sides_t> kSides[] = {
    {"one-sided", PAPPL_SIDES_ONE_SIDED},
    {"two-sided-long-edge", PAPPL_SIDES_TWO_SIDED_LONG_EDGE},
    {"two-sided-short-edge", PAPPL_SIDES_TWO_SIDED_SHORT_EDGE},
};
const Word<pappl_media_tracking_t> kTrackings[] = {
    {"continuous", PAPPL_MEDIA_TRACKING_CONTINUOUS},
    {"gap", PAPPL_MEDIA_TRACKING_GAP},
    {"mark", PAPPL_MEDIA_TRACKING_MARK},
    {"web", PAPPL_MEDIA_TRACKING_WEB},
};

const char *StringOf(pappl_job_t *job, const char *name) {
    return ippGetString(papplJobGetAttribute(job, name), 0, nullptr);
}

// A media-col value over the media it starts from, member by member.
void ImportMediaCol(ipp_t *col, pappl_media_col_t *media) {
    auto integer = [col](const char *name, int *to) {
        if (ipp_attribute_t *a = ippFindAttribute(col, name, IPP_TAG_INTEGER)) {
            *to = ippGetInteger(a, 0);
        }
    };
    auto string = [col](const char *name, char *to, size_t size) {
        if (ipp_attribute_t *a = ippFindAttribute(col, name, IPP_TAG_ZERO)) {
            papplCopyString(to, ippGetString(a, 0, nullptr) ? ippGetString(a, 0, nullptr) : "",
                            size);
        }
    };
    pwg_media_t *pwg = nullptr;
    if (ipp_attribute_t *name = ippFindAttribute(col, "media-size-name", IPP_TAG_ZERO)) {
        pwg = pwgMediaForPWG(ippGetString(name, 0, nullptr));
        papplCopyString(media->size_name,
                        ippGetString(name, 0, nullptr) ? ippGetString(name, 0, nullptr) : "",
                        sizeof(media->size_name));
        media->size_width = pwg != nullptr ? pwg->width : 0;
        media->size_length = pwg != nullptr ? pwg->length : 0;
    } else {
        ipp_attribute_t *x = ippFindAttribute(col, "media-size/x-dimension", IPP_TAG_INTEGER);
        ipp_attribute_t *y = ippFindAttribute(col, "media-size/y-dimension", IPP_TAG_INTEGER);
        if (x != nullptr && y != nullptr &&
            (pwg = pwgMediaForSize(ippGetInteger(x, 0), ippGetInteger(y, 0))) != nullptr) {
            papplCopyString(media->size_name, pwg->pwg, sizeof(media->size_name));
            media->size_width = pwg->width;
            media->size_length = pwg->length;
        }
    }
    integer("media-bottom-margin", &media->bottom_margin);
    integer("media-left-margin", &media->left_margin);
    integer("media-left-offset", &media->left_offset);
    integer("media-right-margin", &media->right_margin);
    string("media-source", media->source, sizeof(media->source));
    integer("media-top-margin", &media->top_margin);
    integer("media-top-offset", &media->top_offset);
    if (ipp_attribute_t *a = ippFindAttribute(col, "media-tracking", IPP_TAG_ZERO)) {
        media->tracking =
            Lookup(kTrackings, ippGetString(a, 0, nullptr), (pappl_media_tracking_t)0);
    }
    string("media-type", media->type, sizeof(media->type));
}

// --- The printer's device ---------------------------------------------------

// Where a job's TSPL goes. A folder, a file or a pipe named by a file: URI
// is written by the job itself, so that a job never writes through a
// descriptor PAPPL closes when another job of the printer ends; a pipe
// nobody reads waits like a printer that stopped, until the server stops.
// Everything else (network and USB printers, character devices) goes
// through the device PAPPL opened for the job, one job at a time.
class Output {
  public:
    ~Output() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }

    bool Open(pappl_job_t *job, pappl_device_t *device, const std::string &uri) {
        device_ = device;
        char scheme[32], user[256], host[256], resource[1024];
        int port = 0;
        if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof(scheme), user,
                            sizeof(user), host, sizeof(host), &port, resource,
                            sizeof(resource)) < HTTP_URI_STATUS_OK ||
            strcmp(scheme, "file") != 0) {
            return Check();
        }
        std::string ext = "prn";
        if (char *query = strchr(resource, '?')) {
            *query++ = '\0';
            if (strncmp(query, "ext=", 4) == 0 && strchr(query, '/') == nullptr) {
                ext = query + 4;
            }
        }
        struct stat info {};
        const bool exists = stat(resource, &info) == 0;
        if (exists && S_ISDIR(info.st_mode)) {
            // Named as PAPPL names it: the job's name, control and 8-bit
            // characters and slashes made underscores.
            std::string name = papplJobGetName(job) ? papplJobGetName(job) : "job";
            for (char &c : name) {
                const unsigned char u = (unsigned char)c;
                if (u < ' ' || u == 0x7f || (u & 0x80) || c == '/') {
                    c = '_';
                }
            }
            path_ = std::string(resource) + "/" + name + "." + ext;
            fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        } else if (exists && S_ISFIFO(info.st_mode)) {
            path_ = resource;
            fd_ = open(resource, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd_ < 0 && errno == ENXIO) {
                // Nobody reads the pipe yet: wait for a reader as for a
                // printer that is switched off.
                for (int i = 0; fd_ < 0 && errno == ENXIO && !Stopping() && i < 36000; ++i) {
                    usleep(100000);
                    fd_ = open(resource, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                }
            }
        } else if (!exists || S_ISREG(info.st_mode)) {
            path_ = resource;
            fd_ = open(resource, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        } else {
            return Check();
        }
        if (fd_ < 0) {
            error_ = "cannot open " + path_ + ": " + strerror(errno);
            return false;
        }
        return true;
    }

    // All of the bytes, or false with the reason in Error().
    bool Write(const char *data, size_t size) {
        if (!error_.empty()) {
            return false;
        }
        if (fd_ < 0) {
            if (!Check() || papplDeviceWrite(device_, data, size) < 0) {
                return Failed(errno != 0 ? errno : EIO);
            }
            sent_ += size;
            return true;
        }
        while (size > 0) {
            const ssize_t n = write(fd_, data, size);
            if (n > 0) {
                data += n, size -= (size_t)n, sent_ += (size_t)n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return Failed(errno);
            }
            // A command is never left half written, not even when the
            // server stops: a reader that never comes back is the stop's
            // grace period to end.
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, 200);
        }
        return true;
    }

    // The bytes buffered for the printer go out now.
    void Flush() {
        if (fd_ < 0 && device_ != nullptr && error_.empty()) {
            papplDeviceFlush(device_);
        }
    }

    size_t Sent() const { return sent_; }
    const std::string &Error() const { return error_; }
    // The device PAPPL opened, when the job writes through it (a printer
    // that can be asked how it is), else nullptr.
    pappl_device_t *Device() const { return fd_ < 0 && error_.empty() ? device_ : nullptr; }

  private:
    bool Check() {
        if (device_ == nullptr) {
            error_ = "the connection to the printer was closed";
            return false;
        }
        return true;
    }
    bool Failed(int err) {
        if (error_.empty()) {
            error_ = strerror(err);
        }
        return false;
    }

    pappl_device_t *device_ = nullptr;
    int fd_ = -1;
    std::string path_, error_;
    size_t sent_ = 0;
};

// --- The page loop's records, one set per job --------------------------------

// The page loop keeps its records in process-wide variables. Each job has
// its own set and swaps it in for every step, so jobs of different printers
// print side by side while a slow printer holds only its own job.
std::mutex g_pageLoopMutex;

struct PageLoopRecords {
    tagOEMCFG cfg{};
    _DEVMODE devMode{};
    _OEMPDEV pdev{};
    tagPAGELOOP loop{};
};

class InRecords {
  public:
    explicit InRecords(PageLoopRecords &r) : hold_(g_pageLoopMutex), r_(r) {
        g_oemCfg = r.cfg;
        g_devMode = r.devMode;
        g_oemPDEV = r.pdev;
    }
    ~InRecords() {
        r_.cfg = g_oemCfg;
        r_.devMode = g_devMode;
        r_.pdev = g_oemPDEV;
    }

  private:
    std::lock_guard<std::mutex> hold_;
    PageLoopRecords &r_;
};

// The largest label in dots at a resolution.
int Dots(int hundredthsMm, int dpi) {
    return (int)std::ceil(hundredthsMm * (double)dpi / 2540.0);
}

std::string Reason(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Reason(const char *format, ...) {
    char text[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof(text), format, ap);
    va_end(ap);
    return text;
}

// --- A job --------------------------------------------------------------

class JobRun : public PageSink {
  public:
    // ownThread: run in the thread PAPPL started for the job.
    JobRun(pappl_job_t *job, pappl_device_t *device, bool ownThread = true)
        : job_(job), printer_(papplJobGetPrinter(job)), device_(device), ownThread_(ownThread) {
        // A job PAPPL starts while the server stops has sent nothing: it
        // waits here for the end of the process, and a restart finds it
        // still queued.
        while (Stopping()) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        entry_ = Registry::Get().Enter(job, &firstOk_);
        queue::Entered(printer_, job_, ownThread_);
        if (entry_ != Registry::Entry::Print) {
            return;
        }
        settings_ = Registry::Get().Settings(printer_, kSettingsWait);
        model_ = settings_.valid ? static_cast<const ModelCatalogue *>(settings_.driver.extension)
                                 : nullptr;
        deviceLock_ = Registry::Get().DeviceLock(printer_);
    }

    ~JobRun() override {
        if (stream_ != nullptr) {
            fclose(stream_);
        }
        if (ppd_ != nullptr) {
            ppdClose(ppd_);
        }
        free(records_.pdev.bufStart);
        free(records_.loop.pLine);
        FreeOptions(options_);
        if (entry_ != Registry::Entry::AlreadyStarted) {
            Registry::Get().Leave(job_, ok_);
        }
        queue::Left(printer_, ownThread_);
    }

    // False: the job prints nothing (canceled before it started, or its
    // printer cannot be used); Finish() reports why.
    bool Begin() {
        if (entry_ != Registry::Entry::Print) {
            return false;
        }
        if (model_ == nullptr) {
            return Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM,
                        "The printer's settings could not be read; print the job again");
        }
        if (!output_.Open(job_, device_, settings_.deviceUri)) {
            return Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM,
                        "The printer cannot be reached: " + output_.Error());
        }
        options_ = ResolveOptions(job_, settings_, 0, false);
        const std::string marked = PpdOptions(*model_, Settings());
        papplLogJob(job_, PAPPL_LOGLEVEL_INFO,
                    "Label settings (print-darkness %d, printer-darkness-configured %d): %s",
                    options_.print_darkness, options_.darkness_configured, marked.c_str());
        ppd_ = ppdOpenFile(model_->ppdPath.c_str());
        cookie_io_functions_t io{nullptr, Collect, nullptr, nullptr};
        stream_ = fopencookie(this, "w", io);
        if (ppd_ == nullptr || stream_ == nullptr) {
            return Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM,
                        ppd_ == nullptr ? "Unable to read the model's PPD " + model_->ppdPath
                                        : std::string("Unable to make the job's output stream"));
        }
        std::vector<char> options(marked.begin(), marked.end());
        options.push_back('\0');
        InitializeSetting(options.data(), ppd_);
        {
            InRecords in(records_);
            PageLoopStart(&records_.loop, ppd_, stream_);
        }
        return true;
    }

    // How a document's pages carry copies: raster pages in their header's
    // copy count (the printer's PRINT count), images as repeated pages.
    void CopiesInHeader(bool yes) { copiesInHeader_ = yes; }

    // An image's options once its colour is known (no vendor options: the
    // page loop has them from the PPD already).
    pappl_pr_options_t OptionsFor(bool color) {
        pappl_pr_options_t o = ResolveOptions(job_, settings_, 1, color);
        FreeOptions(o);
        return o;
    }

    bool StartPage(const cups_page_header2_t &h) override {
        if (stopped_) {
            return false;
        }
        if (Canceled()) {
            stopped_ = true;
            return false;
        }
        cups_page_header2_t header = h;
        header.NumCopies = copiesInHeader_ && options_.copies > 1 ? (unsigned)options_.copies : 1;
        // Copies are printed by the printer's PRINT count, which collation
        // would reduce to one.
        header.Collate = CUPS_FALSE;
        const unsigned page = (unsigned)records_.loop.nPageCount + 1;
        const std::string tooLarge = SizeFault(header, page);
        if (!tooLarge.empty()) {
            return Fail(PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, tooLarge);
        }
        int begun;
        {
            InRecords in(records_);
            begun = PageLoopBeginPage(&records_.loop, &header);
        }
        if (!Send()) {
            return false;
        }
        if (!begun) {
            return Fail(PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
                        Reason("Page %u cannot be printed: its raster is not 8-bit grey or "
                               "24-bit RGB, or its resolution or size is out of range",
                               page));
        }
        pageOpen_ = true;
        papplJobSetImpressionsCompleted(job_, 1);
        return true;
    }

    void WriteLine(unsigned y, const unsigned char *line) override {
        if (pageOpen_) {
            InRecords in(records_);
            PageLoopStoreRow(&records_.loop, y, line);
        }
    }

    void EndPage() override {
        if (pageOpen_) {
            InRecords in(records_);
            PageLoopEndPage(&records_.loop);
            pageOpen_ = false;
        }
    }

    bool Canceled() override {
        if (papplJobIsCanceled(job_)) {
            canceled_ = true;
        } else if (Stopping()) {
            interrupted_ = true;
        }
        return canceled_ || interrupted_;
    }

    // Why a page cannot be printed (none: ok()): the page loop takes 8-bit
    // grey and 24-bit RGB no larger than the model's largest label.
    DocumentStatus PageFault(const cups_page_header2_t &h, unsigned page) const {
        const std::string format = FormatFault(h, page);
        if (!format.empty()) {
            return {PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, format};
        }
        const std::string size = SizeFault(h, page);
        return {size.empty() ? PAPPL_JREASON_NONE : PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, size};
    }

    static std::string FormatFault(const cups_page_header2_t &h, unsigned page) {
        const unsigned space = h.cupsColorSpace;
        const bool grey =
            h.cupsBitsPerPixel == 8 && (space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW);
        const bool rgb =
            h.cupsBitsPerPixel == 24 && (space == CUPS_CSPACE_RGB || space == CUPS_CSPACE_SRGB ||
                                         space == CUPS_CSPACE_ADOBERGB);
        if (h.cupsWidth == 0 || h.cupsHeight == 0 ||
            h.cupsBytesPerLine != ((uint64_t)h.cupsWidth * h.cupsBitsPerPixel + 7) / 8) {
            return Reason("Page %u of the raster document has a damaged header", page);
        }
        if (h.cupsBitsPerColor != 8 || h.cupsColorOrder != CUPS_ORDER_CHUNKED || !(grey || rgb)) {
            return Reason("Page %u is %u-bit raster in colour space %u; the printer takes 8-bit "
                          "grey or 24-bit RGB",
                          page, h.cupsBitsPerPixel, space);
        }
        if (h.HWResolution[0] < 1 || h.HWResolution[0] > 32767 || h.HWResolution[1] < 1 ||
            h.HWResolution[1] > 32767) {
            return Reason("Page %u has an impossible resolution (%u x %u dpi)", page,
                          h.HWResolution[0], h.HWResolution[1]);
        }
        return "";
    }

    std::string SizeFault(const cups_page_header2_t &h, unsigned page) const {
        const int maxW = Dots(model_->maxWidth, (int)h.HWResolution[0]);
        const int maxH = Dots(model_->maxLength, (int)h.HWResolution[1]);
        if ((int64_t)h.cupsWidth > maxW || (int64_t)h.cupsHeight > maxH) {
            return Reason("Page %u is %u x %u dots, larger than the largest label (%d x %d dots "
                          "at %u dpi)",
                          page, h.cupsWidth, h.cupsHeight, maxW, maxH, h.HWResolution[0]);
        }
        return "";
    }

    // A spooled raster document: read through once to make sure all of it
    // can be printed (nothing of a damaged document reaches the printer),
    // then printed page by page; a cancellation takes effect between pages,
    // as in the filter.
    bool PrintRaster(const char *path) {
        const DocumentStatus fault = WalkRaster(
            path, [this](const cups_page_header2_t &h, unsigned n) { return PageFault(h, n); });
        if (!fault.ok()) {
            return Fail(fault.reason, fault.message);
        }
        WalkRaster(
            path,
            [this](const cups_page_header2_t &h, unsigned) {
                return StartPage(h) ? DocumentStatus{}
                                    : DocumentStatus{PAPPL_JREASON_ABORTED_BY_SYSTEM, "stopped"};
            },
            true);
        return true;
    }

    // Goes through the raster's pages; page() tells whether to read a page
    // (into the page loop when store is set) or why to stop.
    DocumentStatus
    WalkRaster(const char *path,
               const std::function<DocumentStatus(const cups_page_header2_t &, unsigned)> &page,
               bool store = false) {
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        cups_raster_t *raster = fd < 0 ? nullptr : cupsRasterOpen(fd, CUPS_RASTER_READ);
        cups_page_header2_t header;
        DocumentStatus fault;
        if (raster == nullptr || !cupsRasterReadHeader2(raster, &header)) {
            fault = {PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                     "The document is not PWG or Apple raster, or its first page header is "
                     "damaged"};
        }
        std::vector<unsigned char> line;
        for (unsigned n = 1; fault.ok(); ++n) {
            if (!(fault = page(header, n)).ok()) {
                break;
            }
            line.resize(header.cupsBytesPerLine);
            unsigned y = 0;
            {
                std::unique_ptr<InRecords> in(store ? new InRecords(records_) : nullptr);
                for (; y < header.cupsHeight; ++y) {
                    if (cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine) == 0) {
                        break;
                    }
                    if (store) {
                        PageLoopStoreRow(&records_.loop, y, line.data());
                    }
                }
            }
            if (store) {
                EndPage();
            }
            if (y < header.cupsHeight) {
                fault = {PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                         Reason("The raster document ends in the middle of page %u (line %u of "
                                "%u)",
                                n, y, header.cupsHeight)};
            } else if (!cupsRasterReadHeader2(raster, &header)) {
                break;
            }
        }
        cupsRasterClose(raster);
        if (fd >= 0) {
            close(fd);
        }
        return fault;
    }

    bool Fail(pappl_jreason_t reason, const std::string &message) {
        if (failReason_ == PAPPL_JREASON_NONE) {
            failReason_ = reason;
            failMessage_ = message;
            papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
        }
        stopped_ = true;
        return false;
    }

    // The job's end: the held page goes out as the last, then the outcome.
    bool Finish() {
        ok_ = Outcome();
        return ok_;
    }

    // Printer-ready TSPL as it came. It is not cut once it has begun: a
    // cancellation or a stop before the first byte leaves it unprinted.
    bool PrintAsIs(const char *path) {
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM,
                        std::string("Unable to open the job's file: ") + strerror(errno));
        }
        if (!Canceled()) {
            char buffer[65536];
            ssize_t n;
            // Its commands are not known: the printer is asked before the
            // first byte and after the last only.
            for (bool first = true; (n = read(fd, buffer, sizeof(buffer))) > 0; first = false) {
                pending_.append(buffer, (size_t)n);
                if (!Send(first)) {
                    break;
                }
            }
        }
        close(fd);
        return true;
    }

  private:
    bool Outcome() {
        if (entry_ == Registry::Entry::AlreadyStarted) {
            // The first run has printed the job; this one ends it as the
            // first did (PAPPL set it processing again when it ended).
            papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "Started a second time; left to its first run");
            return firstOk_;
        }
        if (entry_ == Registry::Entry::CanceledBeforeStart) {
            papplJobSetReasons(job_, PAPPL_JREASON_JOB_CANCELED_BY_USER, PAPPL_JREASON_NONE);
            papplJobSetMessage(job_, "Canceled before it started; nothing was printed");
            return false;
        }
        EndPage();
        if (ppd_ != nullptr && stream_ != nullptr && records_.loop.nPageCount > 0) {
            {
                InRecords in(records_);
                PageLoopFinish(&records_.loop);
            }
            Send();
        }
        output_.Flush();
        // Done when the printer has printed it all, not when it has it.
        if (output_.Sent() > 0 && output_.Error().empty()) {
            WaitForPrinter(true);
        }
        const unsigned long labels = records_.pdev.dwPagePrinted;
        if (!output_.Error().empty()) {
            failReason_ = PAPPL_JREASON_NONE;
            Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM,
                 Reason("The printer stopped taking data after %zu bytes (%s); the labels are "
                        "incomplete",
                        output_.Sent(), output_.Error().c_str()));
        } else if (interrupted_ && !canceled_) {
            Fail(PAPPL_JREASON_ABORTED_BY_SYSTEM,
                 Reason("The server was stopped while the job printed; %lu label%s had been sent",
                        labels, labels == 1 ? "" : "s"));
        }
        if (canceled_ || papplJobIsCanceled(job_)) {
            papplJobSetMessage(job_, "Canceled after %lu label%s; every label sent was whole",
                               labels, labels == 1 ? "" : "s");
            return true;
        }
        if (failReason_ != PAPPL_JREASON_NONE) {
            papplJobSetReasons(job_, failReason_ | PAPPL_JREASON_JOB_COMPLETED_WITH_ERRORS,
                               PAPPL_JREASON_NONE);
            papplJobSetMessage(job_, "%s", failMessage_.c_str());
            return false;
        }
        return true;
    }

    LabelSettings Settings() const {
        LabelSettings s;
        s.tracking = NameOf(kTrackings, options_.media.tracking);
        if (options_.media.tracking == 0) {
            s.tracking = NameOf(kTrackings, settings_.driver.media_default.tracking);
        }
        s.labelMode = LabelModeName(settings_.driver.mode_configured);
        s.darknessConfigured = options_.darkness_configured;
        s.printDarkness = options_.print_darkness;
        s.leftOffset = options_.media.left_offset;
        s.topOffset = options_.media.top_offset;
        s.quality = ippEnumString("print-quality", options_.print_quality);
        s.content = NameOf(kContents, options_.print_content_optimize);
        // A job's own vendor values come with its options; the printer's
        // defaults (set on the web page or over IPP) from its attributes.
        for (const VendorOption &v : model_->vendor) {
            const char *value =
                cupsGetOption(v.attribute.c_str(), options_.num_vendor, options_.vendor);
            if (value != nullptr) {
                s.vendor[v.attribute] = value;
                s.ownHalftone |= v.ppdKeyword == "Halftone";
            } else {
                auto found = settings_.vendorDefaults.find(v.attribute);
                if (found != settings_.vendorDefaults.end()) {
                    s.vendor[v.attribute] = found->second;
                }
            }
        }
        return s;
    }

    // While the printer says it cannot print (out of labels, head open,
    // ...), the job waits with the reason, asking every half second; with
    // drain it also waits until the printer has printed what it got. The
    // printer's state reasons follow what it says. A printer that does not
    // answer is not asked again.
    void WaitForPrinter(bool drain) {
        pappl_device_t *device = output_.Device();
        if (device == nullptr || Registry::Get().AnswersStatus(printer_) == Registry::Answers::No) {
            return;
        }
        bool waiting = false;
        for (;;) {
            int status;
            {
                std::lock_guard<std::mutex> hold(*deviceLock_);
                status = AskStatus(device, settings_.deviceUri, 500);
            }
            if (status < 0) {
                if (Registry::Get().AnswersStatus(printer_) == Registry::Answers::Unknown) {
                    Registry::Get().SetAnswersStatus(printer_, false);
                }
                break;
            }
            Registry::Get().SetAnswersStatus(printer_, true);
            Registry::Get().ReportStatus(printer_, status);
            const bool stopped = (status & kStopped) != 0;
            if (stopped && !waiting) {
                papplJobSetReasons(job_, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
                papplJobSetMessage(job_, "Waiting: the printer %s", Trouble(status).c_str());
                papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "Waiting: the printer %s",
                            Trouble(status).c_str());
            } else if (!stopped && waiting) {
                papplJobSetReasons(job_, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
                papplJobSetMessage(job_, "The printer is ready again");
            }
            waiting = stopped;
            if ((!stopped && !(drain && (status & kPrinting))) || Canceled()) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(stopped ? 500 : 200));
        }
        if (waiting) {
            papplJobSetReasons(job_, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
        }
    }

    // The TSPL rendered so far goes to the printer, outside the page loop's
    // lock, whole commands only.
    bool Send(bool askFirst = true) {
        fflush(stream_);
        if (pending_.empty()) {
            return true;
        }
        if (askFirst) {
            WaitForPrinter(false);
        }
        if (output_.Sent() == 0) {
            NoteSending(job_);
        }
        bool ok;
        {
            std::lock_guard<std::mutex> hold(*deviceLock_);
            ok = output_.Write(pending_.data(), pending_.size());
            output_.Flush();
        }
        pending_.clear();
        if (!ok) {
            stopped_ = true;
        }
        return ok;
    }

    static ssize_t Collect(void *cookie, const char *data, size_t size) {
        static_cast<JobRun *>(cookie)->pending_.append(data, size);
        return (ssize_t)size;
    }

    pappl_job_t *job_;
    pappl_printer_t *printer_;
    pappl_device_t *device_;
    bool ownThread_;
    Registry::Entry entry_ = Registry::Entry::Print;
    bool firstOk_ = false, ok_ = false;
    PrinterSettings settings_;
    const ModelCatalogue *model_ = nullptr;
    std::shared_ptr<std::mutex> deviceLock_;
    Output output_;
    pappl_pr_options_t options_{};
    ppd_file_t *ppd_ = nullptr;
    FILE *stream_ = nullptr;
    std::string pending_;
    PageLoopRecords records_;
    bool copiesInHeader_ = true;
    bool pageOpen_ = false;
    bool stopped_ = false;
    bool canceled_ = false;
    bool interrupted_ = false;
    pappl_jreason_t failReason_ = PAPPL_JREASON_NONE;
    std::string failMessage_;
};

// A document's kind from its first bytes: the image and raster formats by
// their signatures, printer-ready TSPL by its first command.
DocumentKind KindOf(const char *path) {
    char head[16] = {};
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    const ssize_t n = fd < 0 ? 0 : read(fd, head, sizeof(head) - 1);
    if (fd >= 0) {
        close(fd);
    }
    const std::string start(head, n > 0 ? (size_t)n : 0);
    auto begins = [&start](const char *s) { return start.compare(0, strlen(s), s) == 0; };
    if (begins("\211PNG")) {
        return DocumentKind::Png;
    }
    if (begins("\377\330\377")) {
        return DocumentKind::Jpeg;
    }
    if (begins("RaS2PwgR") || begins("UNIRAST") || begins("RaS") || begins("SaR")) {
        return DocumentKind::Raster;
    }
    static const char *const kCommands[] = {
        "SIZE",  "GAP",      "BLINE", "OFFSET",  "SPEED",  "DENSITY",  "DIRECTION", "REFERENCE",
        "SHIFT", "CODEPAGE", "CLS",   "SET",     "FEED",   "FORMFEED", "HOME",      "BITMAP",
        "TEXT",  "BAR",      "BOX",   "BARCODE", "QRCODE", "PRINT",    "SOUND",     "CUT"};
    const size_t word = start.find_first_of(" \r\n");
    for (const char *c : kCommands) {
        if (word != std::string::npos && start.compare(0, word, c) == 0) {
            return DocumentKind::Tspl;
        }
    }
    return DocumentKind::Typed;
}

} // namespace

// --- Options as PAPPL resolves them -----------------------------------------

pappl_pr_options_t ResolveOptions(pappl_job_t *job, const PrinterSettings &settings,
                                  unsigned numPages, bool color) {
    const pappl_pr_driver_data_t &d = settings.driver;
    pappl_pr_options_t o{};
    ipp_attribute_t *attr;

    attr = papplJobGetAttribute(job, "copies");
    o.copies = attr != nullptr ? ippGetInteger(attr, 0) : 1;

    o.media = d.media_default;
    if ((attr = papplJobGetAttribute(job, "media-col")) != nullptr &&
        ippGetValueTag(attr) == IPP_TAG_BEGIN_COLLECTION) {
        ImportMediaCol(ippGetCollection(attr, 0), &o.media);
    } else if (const char *name = StringOf(job, "media")) {
        if (pwg_media_t *pwg = pwgMediaForPWG(name)) {
            papplCopyString(o.media.size_name, name, sizeof(o.media.size_name));
            o.media.size_width = pwg->width;
            o.media.size_length = pwg->length;
        }
    }
    // The printer has one roll: the media source is the default's whatever
    // the size.

    if ((attr = papplJobGetAttribute(job, "orientation-requested")) != nullptr) {
        o.orientation_requested = (ipp_orient_t)ippGetInteger(attr, 0);
    } else {
        o.orientation_requested = d.orient_default ? d.orient_default : IPP_ORIENT_NONE;
    }

    const char *mode = StringOf(job, "print-color-mode");
    o.print_color_mode = mode ? Lookup(kColorModes, mode, (pappl_color_mode_t)0) : d.color_default;
    if (o.print_color_mode == PAPPL_COLOR_MODE_AUTO) {
        o.print_color_mode = color ? PAPPL_COLOR_MODE_COLOR : PAPPL_COLOR_MODE_MONOCHROME;
    } else if (o.print_color_mode == PAPPL_COLOR_MODE_AUTO_MONOCHROME) {
        o.print_color_mode = PAPPL_COLOR_MODE_MONOCHROME;
    }

    const char *content = StringOf(job, "print-content-optimize");
    o.print_content_optimize =
        content ? Lookup(kContents, content, (pappl_content_t)0) : d.content_default;

    attr = papplJobGetAttribute(job, "print-darkness");
    o.print_darkness = attr != nullptr ? ippGetInteger(attr, 0) : d.darkness_default;
    o.darkness_configured = d.darkness_configured;

    attr = papplJobGetAttribute(job, "print-quality");
    o.print_quality = attr != nullptr ? (ipp_quality_t)ippGetInteger(attr, 0) : d.quality_default;

    const char *scaling = StringOf(job, "print-scaling");
    o.print_scaling = scaling ? Lookup(kScalings, scaling, (pappl_scaling_t)0) : d.scaling_default;

    attr = papplJobGetAttribute(job, "print-speed");
    o.print_speed = attr != nullptr ? ippGetInteger(attr, 0) : d.speed_default;

    if ((attr = papplJobGetAttribute(job, "printer-resolution")) != nullptr) {
        ipp_res_t units;
        o.printer_resolution[0] = ippGetResolution(attr, 0, &o.printer_resolution[1], &units);
    } else {
        const int n = std::max(d.num_resolution, 1);
        const int i = o.print_quality == IPP_QUALITY_DRAFT    ? 0
                      : o.print_quality == IPP_QUALITY_NORMAL ? n / 2
                                                              : n - 1;
        o.printer_resolution[0] = d.x_resolution[i];
        o.printer_resolution[1] = d.y_resolution[i];
    }

    const char *sides = StringOf(job, "sides");
    if (sides != nullptr) {
        o.sides = Lookup(kSides, sides, (pappl_sides_t)PAPPL_SIDES_ONE_SIDED);
    } else if (d.sides_default != PAPPL_SIDES_ONE_SIDED && numPages != 1) {
        o.sides = d.sides_default;
    } else {
        o.sides = PAPPL_SIDES_ONE_SIDED;
    }

    o.first_page = 1;
    o.last_page = numPages > 0 ? numPages : INT_MAX;
    o.num_pages = numPages;

    for (int i = 0; i < d.num_vendor; ++i) {
        const std::string name = d.vendor[i];
        if ((attr = papplJobGetAttribute(job, name.c_str())) == nullptr) {
            attr = papplJobGetAttribute(job, (name + "-default").c_str());
        }
        if (attr != nullptr) {
            char value[1024];
            ippAttributeString(attr, value, sizeof(value));
            o.num_vendor = cupsAddOption(name.c_str(), value, o.num_vendor, &o.vendor);
        }
    }

    const char *type;
    if (o.print_color_mode == PAPPL_COLOR_MODE_COLOR) {
        type = (d.raster_types & PAPPL_PWG_RASTER_TYPE_SRGB_8)        ? "srgb_8"
               : (d.raster_types & PAPPL_PWG_RASTER_TYPE_ADOBE_RGB_8) ? "adobe-rgb_8"
                                                                      : "rgb_8";
    } else {
        type = (d.raster_types & PAPPL_PWG_RASTER_TYPE_SGRAY_8) ? "sgray_8" : "black_8";
    }
    static const char *const kSheetBack[] = {"normal", "flipped", "rotated", "manual-tumble"};
    cupsRasterInitPWGHeader(&o.header, pwgMediaForPWG(o.media.size_name), type,
                            o.printer_resolution[0], o.printer_resolution[1],
                            NameOf(kSides, o.sides), kSheetBack[std::clamp((int)d.duplex, 0, 3)]);
    papplCopyString(o.header.MediaType, o.media.type, sizeof(o.header.MediaType));
    papplCopyString(o.header.OutputType, NameOf(kContents, o.print_content_optimize),
                    sizeof(o.header.OutputType));
    o.header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = (unsigned)o.copies * o.num_pages;
    o.header.cupsInteger[CUPS_RASTER_PWG_PrintQuality] = o.print_quality;
    return o;
}

void FreeOptions(pappl_pr_options_t &options) {
    cupsFreeOptions(options.num_vendor, options.vendor);
    options.num_vendor = 0;
    options.vendor = nullptr;
}

// --- The driver's callbacks ---------------------------------------------------

// A raster streamed by a client: only clients of the app's local socket
// stream; network clients' raster is spooled and comes through
// FilterDocument.
bool StartRasterJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
    auto run = std::make_unique<JobRun>(job, device, false);
    run->Begin();
    // A raster carries its copies in the job's copies attribute; PAPPL
    // prints an image's copies as repeated pages.
    const char *format = papplJobGetFormat(job);
    run->CopiesInHeader(format != nullptr && (strcmp(format, "image/pwg-raster") == 0 ||
                                              strcmp(format, "image/urf") == 0));
    papplJobSetData(job, run.release());
    return true;
}

bool StartRasterPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned) {
    if (auto *run = static_cast<JobRun *>(papplJobGetData(job))) {
        run->StartPage(options->header);
    }
    return true;
}

bool WriteRasterLine(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned y,
                     const unsigned char *line) {
    if (auto *run = static_cast<JobRun *>(papplJobGetData(job))) {
        run->WriteLine(y, line);
    }
    return true;
}

bool EndRasterPage(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned) {
    if (auto *run = static_cast<JobRun *>(papplJobGetData(job))) {
        run->EndPage();
    }
    return true;
}

bool EndRasterJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *) {
    std::unique_ptr<JobRun> run(static_cast<JobRun *>(papplJobGetData(job)));
    papplJobSetData(job, nullptr);
    return run ? run->Finish() : false;
}

} // namespace vorcp

namespace vorcp {

bool PrintTspl(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
    JobRun run(job, device);
    if (run.Begin()) {
        run.PrintAsIs(papplJobGetFilename(job));
    }
    return run.Finish();
}

bool FilterDocument(pappl_job_t *job, pappl_device_t *device, void *data) {
    JobRun run(job, device);
    if (!run.Begin() || run.Canceled()) {
        return run.Finish();
    }
    const char *path = papplJobGetFilename(job);
    DocumentKind kind = (DocumentKind)(intptr_t)data;
    if (kind == DocumentKind::Typed) {
        kind = KindOf(path);
    }
    switch (kind) {
    case DocumentKind::Raster:
        run.CopiesInHeader(true);
        run.PrintRaster(path);
        break;
    case DocumentKind::Png:
    case DocumentKind::Jpeg: {
        run.CopiesInHeader(false);
        papplJobSetImpressions(job, 1);
        const DocumentStatus status = PrintImage(
            path, kind == DocumentKind::Png ? ImageKind::Png : ImageKind::Jpeg,
            [&run](bool color) { return run.OptionsFor(color); }, run);
        if (!status.ok()) {
            run.Fail(status.reason, status.message);
        }
        break;
    }
    case DocumentKind::Tspl:
        run.PrintAsIs(path);
        break;
    case DocumentKind::Typed: {
        const char *supplied = StringOf(job, "document-format-supplied");
        run.Fail(PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                 std::string("The printer takes PWG raster, Apple raster, PNG, JPEG and TSPL; "
                             "this document is ") +
                     (supplied != nullptr && strcmp(supplied, "application/octet-stream") != 0
                          ? supplied
                          : "none of them"));
        break;
    }
    }
    return run.Finish();
}

void AddDocumentFilters(pappl_system_t *system, const char *driverFormat) {
    const std::pair<const char *, DocumentKind> filters[] = {
        {kSpooledType, DocumentKind::Typed}, {"image/pwg-raster", DocumentKind::Raster},
        {"image/urf", DocumentKind::Raster}, {"image/png", DocumentKind::Png},
        {"image/jpeg", DocumentKind::Jpeg},
    };
    for (const auto &f : filters) {
        papplSystemAddMIMEFilter(system, f.first, driverFormat, FilterDocument,
                                 (void *)(intptr_t)f.second);
    }
}

} // namespace vorcp
