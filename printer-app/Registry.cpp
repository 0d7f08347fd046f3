#include "Registry.h"

#include "Queue.h"

namespace vorcp {

namespace {

// A record of a job that never reached the app's job code (canceled while
// pending, or aborted by PAPPL before it started) is forgotten after this.
constexpr auto kJobMemory = std::chrono::minutes(10);

} // namespace

Registry &Registry::Get() {
    static Registry *registry = new Registry; // lives as long as PAPPL's threads
    return *registry;
}

void Registry::EventCallback(pappl_system_t *, pappl_printer_t *printer, pappl_job_t *job,
                             pappl_event_t event, void *) {
    queue::Event(printer, job, event);
    Registry &r = Get();
    std::lock_guard<std::mutex> hold(r.mutex_);
    const auto now = std::chrono::steady_clock::now();
    // What a saved state holds changed (a job starting does not count: saved
    // as queued or as printing, a restart queues it alike).
    if (event &
        (PAPPL_EVENT_JOB_CREATED | PAPPL_EVENT_JOB_COMPLETED | PAPPL_EVENT_JOB_CONFIG_CHANGED |
         PAPPL_EVENT_PRINTER_CONFIG_ALL | PAPPL_EVENT_PRINTER_CREATED |
         PAPPL_EVENT_PRINTER_DELETED | PAPPL_EVENT_SYSTEM_CONFIG_CHANGED)) {
        r.lastEvent_ = now;
    }
    if (job != nullptr && (event & PAPPL_EVENT_JOB_CREATED)) {
        // A new job may reuse the memory of a forgotten one.
        r.jobs_[job] = JobRecord{Stage::Created, now, {}};
    } else if (job != nullptr && (event & PAPPL_EVENT_JOB_COMPLETED)) {
        // Canceled while pending or still arriving: if PAPPL starts it all
        // the same, it prints nothing.
        JobRecord &record = r.jobs_[job];
        if (record.stage == Stage::Created) {
            record = JobRecord{Stage::EndedBeforeStart, now, {}};
        } else if (record.stage == Stage::Left) {
            record.stage = Stage::Ended;
            record.since = now;
        }
    }
    for (auto it = r.jobs_.begin(); it != r.jobs_.end();) {
        it = it->second.stage != Stage::Inside && it->second.journal.empty() &&
                     now - it->second.since > kJobMemory
                 ? r.jobs_.erase(it)
                 : std::next(it);
    }
}

Registry::Entry Registry::Enter(pappl_job_t *job, bool *firstOk) {
    std::unique_lock<std::mutex> hold(mutex_);
    const Stage stage = jobs_[job].stage;
    if (stage == Stage::Inside || stage == Stage::Left || stage == Stage::Ended) {
        // Ending before the first run would end the job under it.
        left_.wait(hold, [&] { return jobs_[job].stage != Stage::Inside; });
        *firstOk = jobs_[job].ok;
        return Entry::AlreadyStarted;
    }
    JobRecord &record = jobs_[job];
    const bool ended = record.stage == Stage::EndedBeforeStart;
    record = JobRecord{Stage::Inside, std::chrono::steady_clock::now(), {}};
    return ended ? Entry::CanceledBeforeStart : Entry::Print;
}

void Registry::Leave(pappl_job_t *job, bool ok) {
    std::lock_guard<std::mutex> hold(mutex_);
    JobRecord &record = jobs_[job];
    record.stage = Stage::Left;
    record.ok = ok;
    record.since = std::chrono::steady_clock::now();
    left_.notify_all();
}

void Registry::Journal(pappl_job_t *job, const std::string &entry) {
    std::lock_guard<std::mutex> hold(mutex_);
    jobs_[job].journal = entry;
}

std::vector<std::string> Registry::TakeEndedJournal() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<std::string> entries;
    for (auto &j : jobs_) {
        if (j.second.stage == Stage::Ended && !j.second.journal.empty()) {
            entries.push_back(j.second.journal);
            j.second.journal.clear();
        }
    }
    return entries;
}

std::chrono::steady_clock::time_point Registry::LastEvent() {
    std::lock_guard<std::mutex> hold(mutex_);
    return lastEvent_;
}

bool Registry::Settled() {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto now = std::chrono::steady_clock::now();
    for (const auto &j : jobs_) {
        if (j.second.stage == Stage::Inside ||
            (j.second.stage == Stage::Left && now - j.second.since < std::chrono::seconds(10))) {
            return false;
        }
    }
    return true;
}

std::vector<pappl_job_t *> Registry::JobsInside() {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<pappl_job_t *> inside;
    for (const auto &j : jobs_) {
        if (j.second.stage == Stage::Inside) {
            inside.push_back(j.first);
        }
    }
    return inside;
}

std::shared_ptr<std::mutex> Registry::DeviceLock(pappl_printer_t *printer) {
    std::lock_guard<std::mutex> hold(mutex_);
    return printers_[printer].device;
}

void Registry::Forget(pappl_printer_t *printer) {
    std::lock_guard<std::mutex> hold(mutex_);
    printers_.erase(printer);
}

Registry::Answers Registry::AnswersStatus(pappl_printer_t *printer) {
    std::lock_guard<std::mutex> hold(mutex_);
    return printers_[printer].answers;
}

void Registry::SetAnswersStatus(pappl_printer_t *printer, bool answers) {
    std::lock_guard<std::mutex> hold(mutex_);
    printers_[printer].answers = answers ? Answers::Yes : Answers::No;
}

void Registry::SetStatusApplier(void (*apply)(pappl_printer_t *, int)) {
    std::lock_guard<std::mutex> hold(mutex_);
    applyStatus_ = apply;
}

void Registry::ReportStatus(pappl_printer_t *printer, int status) {
    std::lock_guard<std::mutex> hold(mutex_);
    StartReader();
    printers_[printer].reported = status;
    wake_.notify_one();
}

// One reader for the process. It stays joinable, which is how a later call
// sees it is running (a detached one would not, and every call would start
// another); the registry is never destroyed, so it is never joined.
void Registry::StartReader() {
    if (!reader_.joinable()) {
        reader_ = std::thread([this] { ReadLoop(); });
    }
}

PrinterSettings Registry::Settings(pappl_printer_t *printer, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> hold(mutex_);
    StartReader();
    PrinterRecord &record = printers_[printer];
    const unsigned long ticket = ++record.wanted;
    wake_.notify_one();
    answered_.wait_for(hold, wait, [&] {
        auto found = printers_.find(printer);
        return found == printers_.end() || found->second.read >= ticket;
    });
    auto found = printers_.find(printer);
    return found != printers_.end() ? found->second.settings : PrinterSettings{};
}

void Registry::ReadLoop() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        pappl_printer_t *printer = nullptr;
        unsigned long ticket = 0;
        int status = -1;
        wake_.wait(hold, [&] {
            for (auto &p : printers_) {
                if (p.second.reported >= 0 && applyStatus_ != nullptr) {
                    printer = p.first;
                    std::swap(status, p.second.reported);
                    return true;
                }
                if (p.second.read < p.second.wanted) {
                    printer = p.first;
                    ticket = p.second.wanted;
                    return true;
                }
            }
            return false;
        });
        // PAPPL's printer lock is taken with none of the registry's held.
        void (*apply)(pappl_printer_t *, int) = applyStatus_;
        hold.unlock();
        if (status >= 0) {
            apply(printer, status);
            hold.lock();
            continue;
        }
        PrinterSettings s;
        s.valid = papplPrinterGetDriverData(printer, &s.driver) != nullptr;
        if (ipp_t *attrs = papplPrinterGetDriverAttributes(printer)) {
            for (int i = 0; i < s.driver.num_vendor; ++i) {
                const std::string name = std::string(s.driver.vendor[i]) + "-default";
                if (ipp_attribute_t *a = ippFindAttribute(attrs, name.c_str(), IPP_TAG_ZERO)) {
                    char value[1024];
                    ippAttributeString(a, value, sizeof(value));
                    s.vendorDefaults[s.driver.vendor[i]] = value;
                }
            }
            ippDelete(attrs);
        }
        char uri[1024] = "";
        if (const char *device = papplPrinterGetDeviceURI(printer)) {
            papplCopyString(uri, device, sizeof(uri));
        }
        s.deviceUri = uri;
        hold.lock();
        auto found = printers_.find(printer);
        if (found != printers_.end()) {
            found->second.settings = s;
            found->second.read = ticket;
        }
        answered_.notify_all();
    }
}

} // namespace vorcp
