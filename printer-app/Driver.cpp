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
#include "Jobs.h"
#include "Queue.h"
#include "Status.h"

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

} // namespace

const char *LabelModeName(pappl_label_mode_t mode) {
    for (const auto &bit : kModeBits) {
        if (mode == bit.first) {
            return bit.second;
        }
    }
    return "";
}

void SetPpdDirectory(const std::string &dir) {
    std::lock_guard<std::mutex> hold(g_modelsMutex);
    g_ppdDir = dir;
}

void AddSettingTexts(pappl_system_t *system) {
    std::string texts;
    for (const pappl_pr_driver_t &driver : kDrivers) {
        std::string error;
        const ModelCatalogue *model = Model(driver.name, &error);
        if (model == nullptr) {
            papplLog(system, PAPPL_LOGLEVEL_ERROR, "Driver %s: %s", driver.name, error.c_str());
            continue;
        }
        const std::string more = SettingTexts(*model);
        if (texts.find(more) == std::string::npos) {
            texts += more;
        }
    }
    if (texts.empty()) {
        return;
    }
    // The texts are loaded into PAPPL's localizations and the strings
    // resource removed again: while a resource has a language, PAPPL 1.3.1
    // adds printer-strings-languages-supported to a printer once more on
    // every Get-Printer-Attributes, which IPP clients reject. The page
    // needs only the loaded texts; IPP clients get the attributes' names.
    for (const char *language : {"de", "en", "es", "fr", "it", "ja", "nb-NO", "pl", "tr"}) {
        const std::string path = std::string("/vorcp-settings-") + language + ".strings";
        papplSystemAddStringsData(system, path.c_str(), language, texts.c_str());
        papplSystemRemoveResource(system, path.c_str());
    }
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
    data->printfile_cb = PrintTspl;
    data->rstartjob_cb = StartRasterJob;
    data->rstartpage_cb = StartRasterPage;
    data->rwriteline_cb = WriteRasterLine;
    data->rendpage_cb = EndRasterPage;
    data->rendjob_cb = EndRasterJob;
    data->delete_cb = [](pappl_printer_t *printer, pappl_pr_driver_data_t *) {
        Registry::Get().Forget(printer);
        queue::Forget(printer);
    };
    data->status_cb = StatusCallback;
    data->identify_cb = IdentifyCallback;
    data->identify_supported = data->identify_default = PAPPL_IDENTIFY_ACTIONS_FLASH;
    data->testpage_cb = TestPageCallback;
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
    // Labels are printed edge to edge. The nominal 0.01 mm margin beside
    // it makes clients list each size twice, with and without margins:
    // CUPS names zero-margin sizes "<size>.Borderless" in the PPDs it makes
    // for IPP Everywhere queues, and with nothing else its default "4x6"
    // names no size, so a desktop's jobs would come as Letter pages.
    data->borderless = true;
    data->left_right = data->bottom_top = 1;

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
        if (v.number) {
            ippAddRange(*attrs, IPP_TAG_PRINTER, (v.attribute + "-supported").c_str(), v.min,
                        v.max);
            ippAddInteger(*attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER,
                          (v.attribute + "-default").c_str(), atoi(v.defaultKeyword.c_str()));
            continue;
        }
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
