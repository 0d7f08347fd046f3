// The filter process: start-up, the raster stream read into the page loop,
// cancellation and the end of job.
#ifndef RVC_FILTER_FILTERJOB_H
#define RVC_FILTER_FILTERJOB_H

#include <csignal>

#include "filter/PageLoop.h"

// Set only by the SIGTERM handler; the raster reader polls it.
extern volatile sig_atomic_t Canceled;

void CancelJob(int signal);

// Runs one whole job as the filter process does for the given arguments and
// returns its exit status (0 or 1). pageWaitSeconds is the pause after each
// page and before giving up on an unreadable file (the filter uses 1). Every
// call starts from fresh job state and releases all it allocated, so it can
// run repeatedly in one process.
// keepSignals leaves the job's SIGTERM handler and ignored SIGPIPE in place
// when the job ends: the filter process keeps them until it has exited, so
// a cancellation arriving while the logger shuts down cannot kill it.
int RunFilterJob(int argc, char *argv[], unsigned int pageWaitSeconds, bool keepSignals = false);

// The job's raster stream read page by page into the page loop until it
// ends, the job is cancelled or the loop gives up; returns the job's status.
// The PPD has its defaults and the job's options marked (InitializeSetting).
int ReadRasterJob(cups_raster_t *raster, ppd_file_t *ppd, unsigned int pageWaitSeconds);

#endif
