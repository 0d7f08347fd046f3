// The app's job path: every document a printer gets goes through the
// filter's page loop, with the job's own page-loop records, and its TSPL
// goes to the printer outside every lock shared with other jobs.
#ifndef VORCP_PRINTERAPP_JOBS_H
#define VORCP_PRINTERAPP_JOBS_H

#include <string>

#include <pappl/pappl.h>

#include "Registry.h"

namespace vorcp {

// Documents the app reads itself once PAPPL has spooled them.
extern const char kSpooledType[]; // raster or untyped documents: typed from their content
enum class DocumentKind { Typed, Raster, Png, Jpeg, Tspl };

// The job's print options, resolved from its attributes and the printer's
// settings as PAPPL resolves them for its own jobs (papplJobCreatePrintOptions),
// without taking the printer's lock. color: the document has colour.
// The caller frees the vendor options (papplJobDeletePrintOptions does not
// apply: the structure is the caller's).
pappl_pr_options_t ResolveOptions(pappl_job_t *job, const PrinterSettings &settings,
                                  unsigned numPages, bool color);
void FreeOptions(pappl_pr_options_t &options);

// The driver's job callbacks.
bool StartRasterJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);
bool StartRasterPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device,
                     unsigned page);
bool WriteRasterLine(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device,
                     unsigned y, const unsigned char *line);
bool EndRasterPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device,
                   unsigned page);
bool EndRasterJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);
bool PrintTspl(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);

// The MIME filter for spooled documents; data is the DocumentKind.
bool FilterDocument(pappl_job_t *job, pappl_device_t *device, void *data);

// Registers the app's filters with the system.
void AddDocumentFilters(pappl_system_t *system, const char *driverFormat);

} // namespace vorcp

#endif
