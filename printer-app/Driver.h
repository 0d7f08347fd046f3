// The two label printer drivers: their IPP description from the model's PPD
// and the job path through the filter's page loop.
#ifndef VORCP_PRINTERAPP_DRIVER_H
#define VORCP_PRINTERAPP_DRIVER_H

#include <string>

#include <pappl/pappl.h>

namespace vorcp {

// The driver list papplMainloop shows under `drivers`.
extern pappl_pr_driver_t kDrivers[];
extern const int kNumDrivers;

// label-mode-configured's keyword for a mode ("" for none).
const char *LabelModeName(pappl_label_mode_t mode);

// Where the models' PPDs are read from (set before any printer is made).
void SetPpdDirectory(const std::string &dir);

// The web page's names for the label settings and their choices, the
// models' PPD texts, in every language PAPPL has pages in.
void AddSettingTexts(pappl_system_t *system);

bool DriverCallback(pappl_system_t *system, const char *driverName, const char *deviceUri,
                    const char *deviceId, pappl_pr_driver_data_t *data, ipp_t **attrs,
                    void *context);

} // namespace vorcp

#endif
