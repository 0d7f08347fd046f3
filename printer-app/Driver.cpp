#include "Driver.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "Catalogue.h"
#include "filter/PageLoop.h"

namespace vorcp {

pappl_pr_driver_t kDrivers[] = {
    {"vorcp_203", "TSPL 4in Label 203dpi", "CMD:TSPL;", nullptr},
    {"vorcp_300", "TSPL 4in Label 300dpi", "CMD:TSPL;", nullptr},
};
const int kNumDrivers = (int)(sizeof(kDrivers) / sizeof(kDrivers[0]));

namespace {

const char kSource[] = "main-roll";

std::mutex g_modelsMutex;
std::string g_ppdDir = "/usr/share/ppd/rastertovorcp";
// Loaded once per model and kept for the process: drivers and jobs point
// into them.
std::map<std::string, std::unique_ptr<ModelCatalogue>> g_models;

// The page loop's records are process-wide: one job at a time.
std::mutex g_jobMutex;

// Printers with a job in the page path. PAPPL 1.3 can start a second job on a
// printer when a job canceled as it starts is aborted; both get the printer's
// one device, which the first to end closes.
std::mutex g_activeMutex;
std::set<pappl_printer_t *> g_activePrinters;

std::string PpdPathFor(const std::string &driverName) {
    const size_t us = driverName.rfind('_');
    return g_ppdDir + "/rastertovorcp-" + driverName.substr(us + 1) + ".ppd";
}

const ModelCatalogue *Model(const std::string &driverName, std::string *error) {
    std::lock_guard<std::mutex> hold(g_modelsMutex);
    auto found = g_models.find(driverName);
    if (found != g_models.end()) {
        return found->second.get();
    }
    auto model = std::make_unique<ModelCatalogue>();
    if (!LoadCatalogue(PpdPathFor(driverName), model.get(), error)) {
        return nullptr;
    }
    return (g_models[driverName] = std::move(model)).get();
}

pappl_media_tracking_t TrackingBit(const std::string &name) {
    if (name == "continuous") {
        return PAPPL_MEDIA_TRACKING_CONTINUOUS;
    }
    return name == "mark" ? PAPPL_MEDIA_TRACKING_MARK : PAPPL_MEDIA_TRACKING_GAP;
}

std::string TrackingName(pappl_media_tracking_t bit) {
    switch (bit) {
    case PAPPL_MEDIA_TRACKING_CONTINUOUS:
        return "continuous";
    case PAPPL_MEDIA_TRACKING_MARK:
        return "mark";
    case PAPPL_MEDIA_TRACKING_GAP:
        return "gap";
    default:
        return "";
    }
}

const std::pair<pappl_label_mode_t, const char *> kModeBits[] = {
    {PAPPL_LABEL_MODE_TEAR_OFF, "tear-off"}, {PAPPL_LABEL_MODE_PEEL_OFF, "peel-off"},
    {PAPPL_LABEL_MODE_CUTTER, "cutter"},     {PAPPL_LABEL_MODE_CUTTER_DELAYED, "cutter-delayed"},
    {PAPPL_LABEL_MODE_REWIND, "rewind"},
};

void FillMedia(const ModelCatalogue &model, const MediaSize &size, pappl_media_col_t *col) {
    memset(col, 0, sizeof(*col));
    papplCopyString(col->size_name, size.pwg.c_str(), sizeof(col->size_name));
    col->size_width = size.width;
    col->size_length = size.length;
    papplCopyString(col->source, kSource, sizeof(col->source));
    papplCopyString(col->type, "labels", sizeof(col->type));
    col->tracking = TrackingBit(model.trackingDefault);
}

// --- The job path --------------------------------------------------------

struct JobState {
    std::unique_lock<std::mutex> serial{g_jobMutex};
    pappl_job_t *job = nullptr;
    pappl_printer_t *printer = nullptr;
    bool deviceShared = false; // another job of the printer owns the device
    pappl_device_t *device = nullptr;
    const ModelCatalogue *model = nullptr;
    ppd_file_t *ppd = nullptr;
    FILE *out = nullptr;
    tagPAGELOOP loop{};
    bool streamed = false; // PAPPL hands over copies of streamed raster once
    bool pageOpen = false;
    bool stopped = false; // no further page or row is taken
    bool canceled = false;
    bool writeFailed = false;
    int writeErrno = 0;
    size_t bytesSent = 0;
    pappl_jreason_t failReason = PAPPL_JREASON_NONE;
    std::string failMessage;
    std::vector<char> options;
};

// The renderer's stream on the printer's device. A failed write reports no
// bytes taken (stdio's convention for such streams) and sets the stream's
// error, which the page loop checks.
ssize_t DeviceWrite(void *cookie, const char *buffer, size_t size) {
    auto *state = static_cast<JobState *>(cookie);
    if (state->writeFailed) {
        errno = EIO;
        return 0;
    }
    if (papplDeviceWrite(state->device, buffer, size) < 0) {
        state->writeFailed = true;
        state->writeErrno = errno != 0 ? errno : EIO;
        errno = state->writeErrno;
        return 0;
    }
    state->bytesSent += size;
    return (ssize_t)size;
}

void Fail(JobState *state, pappl_jreason_t reason, const std::string &message) {
    if (state->failReason == PAPPL_JREASON_NONE) {
        state->failReason = reason;
        state->failMessage = message;
        papplLogJob(state->job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
    }
    state->stopped = true;
}

LabelSettings SettingsOf(pappl_job_t *job, const pappl_pr_options_t *options,
                         const ModelCatalogue &model) {
    pappl_printer_t *printer = papplJobGetPrinter(job);
    pappl_pr_driver_data_t driver;
    papplPrinterGetDriverData(printer, &driver);

    LabelSettings s;
    s.tracking = TrackingName(options->media.tracking);
    if (s.tracking.empty()) {
        s.tracking = TrackingName(driver.media_default.tracking);
    }
    for (const auto &bit : kModeBits) {
        if (driver.mode_configured == bit.first) {
            s.labelMode = bit.second;
        }
    }
    s.darknessConfigured = options->darkness_configured;
    s.printDarkness = options->print_darkness;
    s.leftOffset = options->media.left_offset;
    s.topOffset = options->media.top_offset;

    // A job's own vendor values come with its options; the printer's
    // defaults (set on the web page or over IPP) only in its attributes.
    ipp_t *attrs = papplPrinterGetDriverAttributes(printer);
    for (const VendorOption &v : model.vendor) {
        const char *value =
            cupsGetOption(v.attribute.c_str(), options->num_vendor, options->vendor);
        if (value == nullptr && attrs != nullptr) {
            ipp_attribute_t *def =
                ippFindAttribute(attrs, (v.attribute + "-default").c_str(), IPP_TAG_ZERO);
            value = def != nullptr ? ippGetString(def, 0, nullptr) : nullptr;
        }
        if (value != nullptr) {
            s.vendor[v.attribute] = value;
        }
    }
    ippDelete(attrs);
    return s;
}

bool StartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
    pappl_printer_t *printer = papplJobGetPrinter(job);
    bool shared = false;
    {
        std::lock_guard<std::mutex> hold(g_activeMutex);
        shared = !g_activePrinters.insert(printer).second;
    }
    auto state = std::make_unique<JobState>();
    state->job = job;
    state->printer = printer;
    state->deviceShared = shared;
    state->device = device;
    if (shared) {
        // The device may be closed by now: this job never touches it.
        Fail(state.get(), PAPPL_JREASON_ABORTED_BY_SYSTEM,
             "The printer was busy with another job when this one started; print it again");
        papplJobSetData(job, state.release());
        return true;
    }
    pappl_pr_driver_data_t driver;
    papplPrinterGetDriverData(papplJobGetPrinter(job), &driver);
    state->model = static_cast<const ModelCatalogue *>(driver.extension);
    const char *format = papplJobGetFormat(job);
    state->streamed = format != nullptr &&
                      (strcmp(format, "image/pwg-raster") == 0 || strcmp(format, "image/urf") == 0);

    const std::string marked = PpdOptions(*state->model, SettingsOf(job, options, *state->model));
    papplLogJob(job, PAPPL_LOGLEVEL_INFO,
                "Label settings (print-darkness %d, printer-darkness-configured %d): %s",
                options->print_darkness, options->darkness_configured, marked.c_str());
    state->options.assign(marked.begin(), marked.end());
    state->options.push_back('\0');

    state->ppd = ppdOpenFile(state->model->ppdPath.c_str());
    cookie_io_functions_t io{nullptr, DeviceWrite, nullptr, nullptr};
    state->out = fopencookie(state.get(), "w", io);
    if (state->ppd == nullptr || state->out == nullptr) {
        Fail(state.get(), PAPPL_JREASON_ABORTED_BY_SYSTEM,
             state->ppd == nullptr ? "Unable to read the model's PPD " + state->model->ppdPath
                                   : std::string("Unable to make the job's output stream"));
    } else {
        InitializeSetting(state->options.data(), state->ppd);
        PageLoopStart(&state->loop, state->ppd, state->out);
    }
    papplJobSetData(job, state.release());
    return true;
}

// The largest label in dots at the model's resolution.
int Dots(int hundredthsMm, int dpi) {
    return (int)std::ceil(hundredthsMm * (double)dpi / 2540.0);
}

bool StartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned page) {
    auto *state = static_cast<JobState *>(papplJobGetData(job));
    if (state == nullptr || state->stopped) {
        return true;
    }
    if (papplJobIsCanceled(job)) {
        state->canceled = state->stopped = true;
        return true;
    }
    cups_page_header2_t header = options->header;
    header.NumCopies = state->streamed && options->copies > 1 ? (unsigned)options->copies : 1;
    // Copies are printed by the printer's PRINT count, which collation would
    // reduce to one.
    header.Collate = CUPS_FALSE;

    const int maxW = Dots(state->model->maxWidth, (int)header.HWResolution[0]);
    const int maxH = Dots(state->model->maxLength, (int)header.HWResolution[1]);
    if ((int)header.cupsWidth > maxW || (int)header.cupsHeight > maxH) {
        char message[256];
        snprintf(message, sizeof(message),
                 "Page %u is %u x %u dots, larger than the largest label (%d x %d dots at %u dpi)",
                 page + 1, header.cupsWidth, header.cupsHeight, maxW, maxH, header.HWResolution[0]);
        Fail(state, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, message);
        return true;
    }
    if (!PageLoopBeginPage(&state->loop, &header)) {
        Fail(state,
             state->writeFailed ? PAPPL_JREASON_ABORTED_BY_SYSTEM
                                : PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
             "Page " + std::to_string(page + 1) + " cannot be printed");
        return true;
    }
    state->pageOpen = true;
    return true;
}

bool WriteLine(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned y,
               const unsigned char *line) {
    auto *state = static_cast<JobState *>(papplJobGetData(job));
    if (state == nullptr || !state->pageOpen || state->stopped) {
        return true;
    }
    if (papplJobIsCanceled(job)) {
        // The rest of the page prints white, and it ends the job.
        state->canceled = state->stopped = true;
        return true;
    }
    PageLoopStoreRow(&state->loop, y, line);
    return true;
}

bool EndPage(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned) {
    auto *state = static_cast<JobState *>(papplJobGetData(job));
    if (state != nullptr && state->pageOpen) {
        PageLoopEndPage(&state->loop);
        state->pageOpen = false;
    }
    return true;
}

bool EndJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
    std::unique_ptr<JobState> state(static_cast<JobState *>(papplJobGetData(job)));
    papplJobSetData(job, nullptr);
    if (!state) {
        return false;
    }
    if (state->pageOpen) {
        PageLoopEndPage(&state->loop);
    }
    int status = 0;
    if (state->ppd != nullptr && state->out != nullptr) {
        status = PageLoopFinish(&state->loop);
    }
    if (state->out != nullptr && fclose(state->out) != 0 && !state->writeFailed) {
        state->writeFailed = true;
    }
    if (!state->deviceShared) {
        papplDeviceFlush(device);
        pappl_devmetrics_t metrics;
        if (!state->writeFailed && papplDeviceGetMetrics(device, &metrics) != nullptr &&
            metrics.write_bytes < state->bytesSent) {
            state->writeFailed = true;
        }
        std::lock_guard<std::mutex> hold(g_activeMutex);
        g_activePrinters.erase(state->printer);
    }
    if (state->ppd != nullptr) {
        ppdClose(state->ppd);
    }

    if (state->writeFailed) {
        char message[256];
        snprintf(message, sizeof(message),
                 "The printer stopped taking data after %zu bytes (%s); the labels are incomplete",
                 state->bytesSent, strerror(state->writeErrno != 0 ? state->writeErrno : EIO));
        state->failReason = PAPPL_JREASON_NONE;
        Fail(state.get(), PAPPL_JREASON_ABORTED_BY_SYSTEM, message);
    } else if (status != 0 && state->failReason == PAPPL_JREASON_NONE) {
        Fail(state.get(), PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR,
             "The job's raster cannot be printed");
    }
    if (state->canceled || papplJobIsCanceled(job)) {
        papplJobSetMessage(job, "Canceled; the labels sent so far end with the last whole page");
        return true;
    }
    if (state->failReason != PAPPL_JREASON_NONE) {
        papplJobSetReasons(job, state->failReason | PAPPL_JREASON_JOB_COMPLETED_WITH_ERRORS,
                           PAPPL_JREASON_NONE);
        papplJobSetMessage(job, "%s", state->failMessage.c_str());
        return false;
    }
    return true;
}

// Printer-ready TSPL goes to the printer unchanged.
bool PrintRaw(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
    int fd = open(papplJobGetFilename(job), O_RDONLY);
    if (fd < 0) {
        papplJobSetMessage(job, "Unable to open the job's file: %s", strerror(errno));
        return false;
    }
    char buffer[65536];
    ssize_t n;
    bool ok = true;
    while (ok && (n = read(fd, buffer, sizeof(buffer))) > 0) {
        if (papplJobIsCanceled(job)) {
            break;
        }
        ok = papplDeviceWrite(device, buffer, (size_t)n) >= 0;
    }
    close(fd);
    if (!ok) {
        papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
        papplJobSetMessage(job, "The printer stopped taking data: %s", strerror(errno));
    }
    return ok;
}

} // namespace

void SetPpdDirectory(const std::string &dir) {
    std::lock_guard<std::mutex> hold(g_modelsMutex);
    g_ppdDir = dir;
}

bool DriverCallback(pappl_system_t *system, const char *driverName, const char *, const char *,
                    pappl_pr_driver_data_t *data, ipp_t **attrs, void *) {
    std::string error;
    const ModelCatalogue *model = Model(driverName, &error);
    if (model == nullptr) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Driver %s: %s", driverName, error.c_str());
        return false;
    }
    data->extension = const_cast<ModelCatalogue *>(model);
    data->printfile_cb = PrintRaw;
    data->rstartjob_cb = StartJob;
    data->rstartpage_cb = StartPage;
    data->rwriteline_cb = WriteLine;
    data->rendpage_cb = EndPage;
    data->rendjob_cb = EndJob;
    data->format = "application/vnd.tspl";
    papplCopyString(data->make_and_model, model->makeAndModel.c_str(),
                    sizeof(data->make_and_model));
    data->ppm = 1;
    data->kind = PAPPL_KIND_LABEL;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    // The page path does its own halftoning from grey.
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->num_resolution = 1;
    data->x_resolution[0] = data->y_resolution[0] = model->dpi;
    data->x_default = data->y_default = model->dpi;
    // Labels are printed edge to edge.
    data->borderless = true;
    data->left_right = data->bottom_top = 0;

    data->num_media = 0;
    for (const MediaSize &m : model->media) {
        if (data->num_media < PAPPL_MAX_MEDIA - 2) {
            data->media[data->num_media++] = m.pwg.c_str();
        }
    }
    if (!model->customMin.empty()) {
        data->media[data->num_media++] = model->customMin.c_str();
        data->media[data->num_media++] = model->customMax.c_str();
    }
    data->num_source = 1;
    data->source[0] = kSource;
    data->num_type = 1;
    data->type[0] = "labels";
    FillMedia(*model, model->media[model->defaultMedia], &data->media_default);
    data->media_ready[0] = data->media_default;

    data->tracking_supported =
        PAPPL_MEDIA_TRACKING_CONTINUOUS | PAPPL_MEDIA_TRACKING_GAP | PAPPL_MEDIA_TRACKING_MARK;
    int maxShift = 0;
    for (const Choice &c : model->shiftValues) {
        maxShift = std::max(maxShift, (int)std::lround(c.value * 100));
    }
    data->left_offset_supported[0] = data->top_offset_supported[0] = -maxShift;
    data->left_offset_supported[1] = data->top_offset_supported[1] = maxShift;

    data->mode_supported = 0;
    for (const auto &bit : kModeBits) {
        data->mode_supported |= bit.first;
        if (model->labelModeDefault == bit.second) {
            data->mode_configured = bit.first;
        }
    }
    data->darkness_supported = (int)model->density.size();
    data->darkness_configured = DarknessPercent(*model, model->densityDefault);
    data->darkness_default = 0;

    *attrs = ippNew();
    data->num_vendor = 0;
    for (const VendorOption &v : model->vendor) {
        if (data->num_vendor >= PAPPL_MAX_VENDOR) {
            break;
        }
        data->vendor[data->num_vendor++] = v.attribute.c_str();
        std::vector<const char *> keywords;
        for (const Choice &c : v.choices) {
            keywords.push_back(c.keyword.c_str());
        }
        ippAddStrings(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD,
                      (v.attribute + "-supported").c_str(), (int)keywords.size(), nullptr,
                      keywords.data());
        ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (v.attribute + "-default").c_str(),
                     nullptr, v.defaultKeyword.c_str());
    }
    return true;
}

} // namespace vorcp
