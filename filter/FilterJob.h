// The filter process: start-up, the page loop with its one-page hold-back,
// cancellation and the end of job.
#ifndef RVC_FILTER_FILTERJOB_H
#define RVC_FILTER_FILTERJOB_H

#include <csignal>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "settings/devmode.h"
#include "settings/oemcfg.h"

// The job's records, owned by the page loop and filled on the first page.
extern tagOEMCFG g_oemCfg;
extern _DEVMODE g_devMode;
extern _OEMPDEV g_oemPDEV;
// Set only by the SIGTERM handler; the page loop polls it.
extern volatile sig_atomic_t Canceled;

void CancelJob(int signal);
// Marks the PPD's defaults, then the job's options over them.
void InitializeSetting(char *options, ppd_file_t *ppd);
// The page header report in the log.
void StartPage(const ppd_file_t *ppd, const cups_page_header2_t *header, int page);

// Runs one whole job as the filter process does for the given arguments and
// returns its exit status (0 or 1). pageWaitSeconds is the pause after each
// page and before giving up on an unreadable file (the filter uses 1). Every
// call starts from fresh job state and releases all it allocated, so it can
// run repeatedly in one process.
// keepSignals leaves the job's SIGTERM handler and ignored SIGPIPE in place
// when the job ends: the filter process keeps them until it has exited, so
// a cancellation arriving while the logger shuts down cannot kill it.
int RunFilterJob(int argc, char *argv[], unsigned int pageWaitSeconds, bool keepSignals = false);

#endif
