// The server's life around its jobs: a stop asked for by SIGTERM ends the
// process within seconds whatever the printers do, a restart finds every
// job it had, and a printer is never seen in its first second.
#ifndef VORCP_PRINTERAPP_LIFECYCLE_H
#define VORCP_PRINTERAPP_LIFECYCLE_H

#include <string>
#include <vector>

#include <pappl/pappl.h>

namespace vorcp {

// The server was asked to stop: jobs end at their next page.
bool Stopping();

// Where the app notes which jobs have started sending data, so that a
// restart tells an interrupted job (aborted) from one that never reached
// its printer (printed again). An entry goes once a saved state records
// how its job ended.
void SetJournalDirectory(const std::string &dir);
void NoteSending(pappl_job_t *job);

// Run before the saved state is loaded: jobs it shows as printing were cut
// short by the last stop; each becomes aborted, or pending again if it had
// sent nothing.
void RepairSavedJobs(const std::string &stateFile);

// The state saved, one save at a time (the main loop's and a forced end's).
bool SaveState(pappl_system_t *system, const std::string &stateFile);

// From the first turn of the main loop: SIGTERM and SIGINT also stop the
// app's jobs; once they have ended (queued jobs stay queued), or after a
// grace period even if a printer never lets a job finish, the process saves
// its state and exits.
void WatchForStop(pappl_system_t *system, const std::string &stateFile);

// The printer creation callback: waits until the new printer's up-time
// counts at least 1 s (PAPPL gives 0 in its first second).
void PrinterCreated(pappl_printer_t *printer, void *data);
// Around loading the saved printers: one wait for all of them.
void BeginLoading();
bool Loading();
void SettleLoadedPrinters();

// The ids of the system's printers now: each is looked up again when used,
// as a printer may be deleted meanwhile.
std::vector<int> PrinterIds(pappl_system_t *system);
// A printer's active jobs by state, as PAPPL has them now.
struct JobCounts {
    int pending = 0, processing = 0;
};
JobCounts CountActiveJobs(pappl_printer_t *printer);

} // namespace vorcp

#endif
