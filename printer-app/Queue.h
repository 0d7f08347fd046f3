// When a printer's next job may start.
//
// PAPPL 1.3.1 looks for a printer's next job from every thread that adds,
// releases or ends a job, checking unlocked whether one is printing; the
// job it picks is marked printing only later, in the job's own thread. Two
// looks in that instant start two jobs side by side (or one job twice), and
// one job's end then closes the device another job's start has just checked:
// PAPPL reports that job completed without ever printing it.
//
// So a job sent over IPP arrives held (a hold-until time the app alone
// uses: see kQueueMark), and the app's queue thread releases it when no
// look can race: while another job of its printer is inside the app's job
// code (that job's end is then the one look, and it starts the job), or
// when the printer is idle, one job at a time.
#ifndef VORCP_PRINTERAPP_QUEUE_H
#define VORCP_PRINTERAPP_QUEUE_H

#include <ctime>

#include <pappl/pappl.h>

namespace vorcp {

// The "job-hold-until-time" that marks a job held for the queue, not by
// its user: 1970-01-01T00:00:01Z (a time PAPPL 1.3.1 never releases by
// itself).
constexpr time_t kQueueMark = 1;

// Every request the authentication hook sees. One that creates a job
// (Print-Job, Create-Job): the job arrives held for the queue, unless its
// client asks for a hold of its own.
void HoldForQueue(ipp_t *request, bool createsJob);
bool IsQueueMark(ipp_attribute_t *holdUntilTime);

namespace queue {

// From the event callback (PAPPL's locks held: records and wakes only).
void Event(pappl_printer_t *printer, pappl_job_t *job, pappl_event_t event);
// A job enters the app's job code, and leaves it (before it returns to
// PAPPL); ownThread: in the thread PAPPL started for the job (a streamed
// raster comes in its client's thread).
void Entered(pappl_printer_t *printer, pappl_job_t *job, bool ownThread);
void Left(pappl_printer_t *printer, bool ownThread);
// The printer is deleted.
void Forget(pappl_printer_t *printer);
// After the saved state is loaded, before the server runs: the jobs it
// holds for the queue.
void AdoptLoaded(pappl_system_t *system);

} // namespace queue

} // namespace vorcp

#endif
