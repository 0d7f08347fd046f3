// The app's own records of its printers and jobs, kept apart from PAPPL's
// locks: a job's code never waits on a printer's lock, which PAPPL may hold
// for as long as a device takes to connect.
//
// - Settings: what a job prints with, read from PAPPL by the registry's own
//   thread whenever a job starts or the settings change.
// - Jobs: which jobs are inside the app's job code, and which ended (were
//   canceled) before they got there. PAPPL 1.3.1 can still start a job
//   canceled in the instant between its start being scheduled and its
//   start; such a job must print nothing.
// - One device writer per printer at a time.
#ifndef VORCP_PRINTERAPP_REGISTRY_H
#define VORCP_PRINTERAPP_REGISTRY_H

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <pappl/pappl.h>

namespace vorcp {

// A printer's settings as PAPPL had them when last read.
struct PrinterSettings {
    bool valid = false;
    pappl_pr_driver_data_t driver{};
    std::map<std::string, std::string> vendorDefaults; // attribute -> value
    std::string deviceUri;
};

class Registry {
  public:
    static Registry &Get();

    // PAPPL's event callback: called with PAPPL's locks held, so it only
    // records and wakes; it never calls back into PAPPL.
    static void EventCallback(pappl_system_t *system, pappl_printer_t *printer, pappl_job_t *job,
                              pappl_event_t event, void *data);

    // The printer's settings, read afresh; after `wait` without an answer
    // (PAPPL holds the printer busy) the last ones read.
    PrinterSettings Settings(pappl_printer_t *printer, std::chrono::milliseconds wait);

    // A job enters the app's job code:
    // - Print: print it;
    // - CanceledBeforeStart: it was canceled before PAPPL started it; it
    //   prints nothing;
    // - AlreadyStarted: PAPPL 1.3.1 started it a second time (two threads
    //   looking for the next job at once can both take it, and the second
    //   may get to it only after the first run has ended it); returns once
    //   the first run has left. The second run prints nothing and ends the
    //   job as the first did: *firstOk is what the first run returned.
    enum class Entry { Print, CanceledBeforeStart, AlreadyStarted };
    Entry Enter(pappl_job_t *job, bool *firstOk);
    // ok: what the run returns to PAPPL (printed, or not).
    void Leave(pappl_job_t *job, bool ok);
    // Jobs inside the app's job code now.
    std::vector<pappl_job_t *> JobsInside();
    // No job is inside the app's job code, nor has left it without PAPPL
    // having recorded how it ended.
    bool Settled();
    // The journal entry of a job that has begun to print; it goes once a
    // saved state records how the job ended.
    void Journal(pappl_job_t *job, const std::string &entry);
    // Before a save: the journal entries of the jobs that have ended, which
    // that save records (the caller removes them once it is done).
    std::vector<std::string> TakeEndedJournal();
    // When PAPPL last reported a change a saved state holds, on the steady
    // clock.
    std::chrono::steady_clock::time_point LastEvent();

    // Held while a job writes to its printer.
    std::shared_ptr<std::mutex> DeviceLock(pappl_printer_t *printer);

    void Forget(pappl_printer_t *printer);

    // Whether the printer answers the status query, as far as known.
    enum class Answers { Unknown, Yes, No };
    Answers AnswersStatus(pappl_printer_t *printer);
    void SetAnswersStatus(pappl_printer_t *printer, bool answers);
    // A status byte a job learned: the registry's thread applies it to the
    // printer (a job never takes the printer's lock).
    void ReportStatus(pappl_printer_t *printer, int status);
    void SetStatusApplier(void (*apply)(pappl_printer_t *, int));

  private:
    Registry() = default;
    void StartReader(); // with mutex_ held
    void ReadLoop();

    enum class Stage { Created, Inside, Left, Ended, EndedBeforeStart };
    struct JobRecord {
        Stage stage = Stage::Created;
        std::chrono::steady_clock::time_point since;
        std::string journal;
        bool ok = false; // once it has left: what its run returned
    };
    struct PrinterRecord {
        PrinterSettings settings;
        unsigned long wanted = 0, read = 0; // read requests and answers
        std::shared_ptr<std::mutex> device = std::make_shared<std::mutex>();
        Answers answers = Answers::Unknown;
        int reported = -1; // a status byte still to apply
    };

    std::mutex mutex_;
    std::condition_variable wake_, answered_, left_;
    std::map<pappl_job_t *, JobRecord> jobs_;
    std::map<pappl_printer_t *, PrinterRecord> printers_;
    std::thread reader_;
    void (*applyStatus_)(pappl_printer_t *, int) = nullptr;
    std::chrono::steady_clock::time_point lastEvent_;
};

} // namespace vorcp

#endif
