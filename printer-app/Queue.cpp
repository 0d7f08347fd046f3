#include "Queue.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Lifecycle.h"

namespace vorcp {

namespace {

// Set by the authentication hook for the request its thread handles: the
// job that request creates (PAPPL creates it in the same thread, and
// reports it there) is held for the queue. PAPPL's other threads may be
// copying a new job's attributes for their answers, so the job's own
// attributes are not read to learn it.
thread_local bool t_createsHeld = false;

} // namespace

void HoldForQueue(ipp_t *request, bool createsJob) {
    t_createsHeld = false;
    if (!createsJob) {
        return;
    }
    ipp_attribute_t *until = ippFindAttribute(request, "job-hold-until", IPP_TAG_ZERO);
    const char *keyword = until != nullptr ? ippGetString(until, 0, nullptr) : nullptr;
    // The client's own hold (or the mark, the callback having run before
    // for this request) stays as it is.
    ipp_attribute_t *time = ippFindAttribute(request, "job-hold-until-time", IPP_TAG_ZERO);
    if (time != nullptr || (keyword != nullptr && strcmp(keyword, "no-hold") != 0)) {
        t_createsHeld = IsQueueMark(time);
        return;
    }
    if (until != nullptr) {
        ippDeleteAttribute(request, until);
    }
    ippAddDate(request, IPP_TAG_JOB, "job-hold-until-time", ippTimeToDate(kQueueMark));
    t_createsHeld = true;
}

bool IsQueueMark(ipp_attribute_t *time) {
    return time != nullptr && ippGetValueTag(time) == IPP_TAG_DATE &&
           ippDateToTime(ippGetDate(time, 0)) == kQueueMark;
}

namespace queue {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A job that ended without entering the app's job code was started all
// the same, and its thread still looks for the next job a moment after (as
// does a client's thread after a raster it streamed): the printer does not
// count as idle until then.
constexpr auto kEndSettles = 100ms;
// A start PAPPL reported for a job not started through the queue (a job
// loaded at start-up, one sent over the local socket) counts until the job
// enters the app's code or ends, or for this long.
constexpr auto kStartCounts = 5s;

struct JobRecord {
    pappl_printer_t *printer = nullptr;
    bool held = false, released = false, starting = false;
    Clock::time_point created, startedAt;
};

struct PrinterRecord {
    int inside = 0;  // jobs inside the app's job code
    int threads = 0; // job threads that entered it and still run
    Clock::time_point settleFrom;
    // Held while jobs are released, and by a job leaving the app's code:
    // a job cannot leave while the queue counts on it being inside.
    std::shared_ptr<std::mutex> gate = std::make_shared<std::mutex>();
};

class Queue {
  public:
    static Queue &Get() {
        static Queue *queue = new Queue; // lives as long as PAPPL's threads
        return *queue;
    }

    void Event(pappl_printer_t *printer, pappl_job_t *job, pappl_event_t event) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (job != nullptr && (event & PAPPL_EVENT_JOB_CREATED) && printer != nullptr) {
            Track(printer, job, t_createsHeld);
            t_createsHeld = false;
        } else if (job != nullptr && (event & PAPPL_EVENT_JOB_COMPLETED)) {
            auto found = jobs_.find(job);
            if (found != jobs_.end()) {
                printers_[found->second.printer].settleFrom = Clock::now();
                jobs_.erase(found);
            }
        } else if (job != nullptr && (event & PAPPL_EVENT_JOB_STATE_CHANGED)) {
            auto found = jobs_.find(job);
            if (found != jobs_.end()) {
                // A job held for the queue changes state only by its user:
                // Hold-Job puts a hold of the user's own in place of the
                // mark, Release-Job releases it. Any other job's change may
                // be its start.
                if (found->second.held) {
                    found->second.held = false;
                } else {
                    found->second.starting = true;
                    found->second.startedAt = Clock::now();
                }
            }
        }
        wake_.notify_one();
    }

    void Entered(pappl_printer_t *printer, pappl_job_t *job, bool ownThread);
    void ThreadEnded(pappl_printer_t *printer) {
        std::lock_guard<std::mutex> hold(mutex_);
        auto found = printers_.find(printer);
        if (found != printers_.end()) {
            --found->second.threads;
        }
        wake_.notify_one();
    }

    void Left(pappl_printer_t *printer, bool ownThread) {
        const std::shared_ptr<std::mutex> gate = Gate(printer);
        std::lock_guard<std::mutex> releasing(*gate);
        std::lock_guard<std::mutex> hold(mutex_);
        PrinterRecord &record = printers_[printer];
        --record.inside;
        if (!ownThread) {
            record.settleFrom = Clock::now();
        }
        wake_.notify_one();
    }

    // Jobs loaded held for the queue (before the server runs: no other
    // thread reads their attributes yet).
    void Adopt(pappl_printer_t *printer, pappl_job_t *job) {
        std::lock_guard<std::mutex> hold(mutex_);
        Track(printer, job, true);
    }

    void Forget(pappl_printer_t *printer) {
        std::lock_guard<std::mutex> hold(mutex_);
        for (auto it = jobs_.begin(); it != jobs_.end();) {
            it = it->second.printer == printer ? jobs_.erase(it) : std::next(it);
        }
        printers_.erase(printer);
    }

  private:
    Queue() = default;
    // A job PAPPL created or loaded (mutex_ held).
    void Track(pappl_printer_t *printer, pappl_job_t *job, bool held) {
        JobRecord record;
        record.printer = printer;
        record.created = Clock::now();
        record.held = held;
        jobs_[job] = record;
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { Run(); });
        }
    }
    std::shared_ptr<std::mutex> Gate(pappl_printer_t *printer) {
        std::lock_guard<std::mutex> hold(mutex_);
        return printers_[printer].gate;
    }
    void Run();
    void Release(pappl_printer_t *printer, std::vector<pappl_job_t *> ready);
    bool Idle(pappl_printer_t *printer, Clock::time_point now); // mutex_ held

    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<pappl_job_t *, JobRecord> jobs_; // not yet inside the app's code nor ended
    std::map<pappl_printer_t *, PrinterRecord> printers_;
    std::thread thread_; // joinable for the process's life, as the registry's
};

// Counts a job thread of a printer until the thread ends, which is after
// PAPPL has ended the job and looked for the next one.
struct ThreadMark {
    pappl_printer_t *printer = nullptr;
    ~ThreadMark() {
        if (printer != nullptr) {
            Queue::Get().ThreadEnded(printer);
        }
    }
};
thread_local ThreadMark t_mark;

void Queue::Entered(pappl_printer_t *printer, pappl_job_t *job, bool ownThread) {
    std::lock_guard<std::mutex> hold(mutex_);
    jobs_.erase(job);
    PrinterRecord &record = printers_[printer];
    ++record.inside;
    if (ownThread && t_mark.printer == nullptr) {
        t_mark.printer = printer;
        ++record.threads;
    }
    wake_.notify_one();
}

// Nothing of the printer's runs or is about to start (a released job still
// to start the caller has ruled out), so the one look PAPPL makes after a
// release is the only one.
bool Queue::Idle(pappl_printer_t *printer, Clock::time_point now) {
    const PrinterRecord &record = printers_[printer];
    if (record.inside > 0 || record.threads > 0 || now - record.settleFrom < kEndSettles) {
        return false;
    }
    return std::none_of(jobs_.begin(), jobs_.end(), [&](const auto &j) {
        return j.second.printer == printer && j.second.starting &&
               now - j.second.startedAt < kStartCounts;
    });
}

void Queue::Release(pappl_printer_t *printer, std::vector<pappl_job_t *> ready) {
    const std::shared_ptr<std::mutex> gate = Gate(printer);
    std::lock_guard<std::mutex> releasing(*gate);
    std::sort(ready.begin(), ready.end(),
              [](pappl_job_t *a, pappl_job_t *b) { return papplJobGetID(a) < papplJobGetID(b); });
    bool inside = false;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        // Labels print in the order they came: one job released at a time,
        // the next once it has started.
        const bool pending = std::any_of(jobs_.begin(), jobs_.end(), [&](const auto &j) {
            return j.second.printer == printer && j.second.released;
        });
        inside = printers_[printer].inside > 0;
        if (Stopping() || pending || (!inside && !Idle(printer, Clock::now()))) {
            return;
        }
    }
    // A job PAPPL holds pending (loaded at start-up, or released by its
    // user) starts first.
    if (CountActiveJobs(printer).pending > 0) {
        return;
    }
    pappl_job_t *job = ready.front();
    {
        std::lock_guard<std::mutex> hold(mutex_);
        auto found = jobs_.find(job);
        if (found == jobs_.end()) {
            return; // ended meanwhile
        }
        found->second.held = false;
        found->second.released = true;
    }
    const bool released = papplJobRelease(job, nullptr);
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Released for its printer (%s)%s",
                inside ? "after the job being printed" : "the printer being idle",
                released ? "" : ": no longer held");
}

void Queue::Run() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        // A document just announced is looked for again shortly (one that
        // takes longer, less often).
        const auto now = Clock::now();
        const bool arriving = std::any_of(jobs_.begin(), jobs_.end(), [&](const auto &j) {
            return j.second.held && now - j.second.created < 2s &&
                   papplJobGetFilename(j.first) == nullptr;
        });
        wake_.wait_for(hold, arriving ? 5ms : 100ms);
        std::map<pappl_printer_t *, std::vector<pappl_job_t *>> held;
        for (const auto &j : jobs_) {
            if (j.second.held) {
                held[j.second.printer].push_back(j.first);
            }
        }
        hold.unlock();
        for (auto &p : held) {
            std::vector<pappl_job_t *> ready;
            for (pappl_job_t *job : p.second) {
                if (papplJobGetFilename(job) != nullptr) {
                    ready.push_back(job);
                }
            }
            if (!ready.empty()) {
                Release(p.first, std::move(ready));
            }
        }
        hold.lock();
    }
}

} // namespace

void Event(pappl_printer_t *printer, pappl_job_t *job, pappl_event_t event) {
    Queue::Get().Event(printer, job, event);
}

void Entered(pappl_printer_t *printer, pappl_job_t *job, bool ownThread) {
    Queue::Get().Entered(printer, job, ownThread);
}

void Left(pappl_printer_t *printer, bool ownThread) {
    Queue::Get().Left(printer, ownThread);
}

void Forget(pappl_printer_t *printer) {
    Queue::Get().Forget(printer);
}

void AdoptLoaded(pappl_system_t *system) {
    for (int id : PrinterIds(system)) {
        pappl_printer_t *printer = papplSystemFindPrinter(system, nullptr, id, nullptr);
        if (printer == nullptr) {
            continue;
        }
        papplPrinterIterateActiveJobs(
            printer,
            [](pappl_job_t *job, void *data) {
                if (papplJobGetState(job) == IPP_JSTATE_HELD &&
                    IsQueueMark(papplJobGetAttribute(job, "job-hold-until-time"))) {
                    Queue::Get().Adopt(static_cast<pappl_printer_t *>(data), job);
                }
            },
            printer, 1, 0);
    }
}

} // namespace queue

} // namespace vorcp
