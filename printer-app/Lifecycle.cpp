#include "Lifecycle.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "Registry.h"

namespace vorcp {

namespace {

using namespace std::chrono_literals;

// From SIGTERM to the forced end of a process whose printer never lets its
// job finish: PAPPL itself would wait a minute.
constexpr auto kGrace = 3000ms;
// How long the forced end waits for the state to be saved.
constexpr auto kSaveWait = 1000ms;

std::atomic<bool> g_stopping{false};
int g_stopPipe[2] = {-1, -1};
struct sigaction g_papplTerm, g_papplInt;

std::string g_journal;
std::string g_stateFile;
pappl_system_t *g_system = nullptr;
std::mutex g_saveMutex;

std::atomic<bool> g_loading{false};
// When the last save began, on the steady clock.
std::chrono::steady_clock::time_point g_lastSave;
std::atomic<bool> g_loadedAny{false};

void OnStopSignal(int sig) {
    const int saved = errno;
    g_stopping = true;
    if (g_stopPipe[1] >= 0) {
        const char c = 1;
        (void)!write(g_stopPipe[1], &c, 1);
    }
    const struct sigaction &pappl = sig == SIGINT ? g_papplInt : g_papplTerm;
    if (pappl.sa_handler != SIG_DFL && pappl.sa_handler != SIG_IGN && pappl.sa_handler != nullptr) {
        pappl.sa_handler(sig);
    }
    errno = saved;
}

std::string JournalEntry(pappl_job_t *job) {
    return g_journal + "/p" + std::to_string(papplPrinterGetID(papplJobGetPrinter(job))) + "-j" +
           std::to_string(papplJobGetID(job));
}

// The value of one option of a state-file line, as PAPPL writes it.
std::string Quoted(const std::string &value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

// After the grace period, with a job that does not end, the state is
// saved as far as PAPPL lets it be (a printer held by a device that does
// not connect may block the save) and the process ends. PAPPL's loop
// cannot be ending then: the job is still active.
void ForceEnd() {
    std::thread([] {
        if (g_system != nullptr && !g_stateFile.empty()) {
            SaveState(g_system, g_stateFile);
        }
        _exit(0);
    }).detach();
    std::this_thread::sleep_for(kSaveWait);
    _exit(0);
}

// The saved state holds everything up to now: no PAPPL event came after
// the last save began.
bool Saved() {
    std::lock_guard<std::mutex> hold(g_saveMutex);
    return Registry::Get().LastEvent() < g_lastSave;
}

// Waits for the stop signal, then for the jobs that print to end their
// page (queued jobs stay queued for the next start) and for PAPPL's loop to
// save how they ended; then the process ends, without touching PAPPL's
// objects, which its own end may be freeing meanwhile.
void Watch() {
    pollfd p{g_stopPipe[0], POLLIN, 0};
    while (poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    g_stopping = true;
    papplLog(g_system, PAPPL_LOGLEVEL_INFO,
             "Stopping: jobs end at their next page; the server ends within %d ms",
             (int)(kGrace + kSaveWait).count());
    const auto deadline = std::chrono::steady_clock::now() + kGrace;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        if (Registry::Get().Settled() && Saved()) {
            _exit(0);
        }
    }
    if (Registry::Get().JobsInside().empty()) {
        _exit(0);
    }
    papplLog(g_system, PAPPL_LOGLEVEL_WARN,
             "A job or a printer did not end in time; saving the state and ending now");
    ForceEnd();
}

// Pending jobs a restart brought back are started: PAPPL starts a printer's
// queue only when a new job arrives.
void StartLoadedQueues(pappl_system_t *system) {
    for (int id : PrinterIds(system)) {
        pappl_printer_t *printer = papplSystemFindPrinter(system, nullptr, id, nullptr);
        if (printer != nullptr && papplPrinterGetState(printer) != IPP_PSTATE_STOPPED &&
            papplPrinterGetNumberOfActiveJobs(printer) > 0) {
            papplPrinterResume(printer);
        }
    }
}

bool InstallHandlers(pappl_system_t *system, void *) {
    struct sigaction ours {};
    ours.sa_handler = OnStopSignal;
    sigemptyset(&ours.sa_mask);
    sigaction(SIGTERM, &ours, &g_papplTerm);
    sigaction(SIGINT, &ours, &g_papplInt);
    std::thread(Watch).detach();
    std::thread(StartLoadedQueues, system).detach();
    return false;
}

} // namespace

bool Stopping() {
    return g_stopping.load(std::memory_order_relaxed);
}

void SetJournalDirectory(const std::string &dir) {
    g_journal = dir;
}

void NoteSending(pappl_job_t *job) {
    if (!g_journal.empty()) {
        const std::string entry = JournalEntry(job);
        const int fd = open(entry.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
        }
        Registry::Get().Journal(job, entry);
    }
}

void RepairSavedJobs(const std::string &stateFile) {
    std::ifstream in(stateFile);
    if (!in) {
        return;
    }
    std::ostringstream out;
    std::string line;
    std::string printerId;
    bool changed = false;
    while (std::getline(in, line)) {
        if (line.rfind("<Printer ", 0) == 0 || line.rfind("Job ", 0) == 0) {
            const bool job = line[0] == 'J';
            std::string body = line.substr(job ? 4 : 9);
            if (!job && !body.empty() && body.back() == '>') {
                body.pop_back();
            }
            cups_option_t *options = nullptr;
            int n = cupsParseOptions(body.c_str(), 0, &options);
            const char *id = cupsGetOption("id", n, options);
            const char *state = cupsGetOption("state", n, options);
            if (!job) {
                printerId = id != nullptr ? id : "";
            } else if (id != nullptr && state != nullptr && atoi(state) == IPP_JSTATE_PROCESSING) {
                // Cut short by the last stop: aborted if it had begun to
                // print, else back in the queue.
                const std::string entry = g_journal + "/p" + printerId + "-j" + id;
                if (!g_journal.empty() && access(entry.c_str(), F_OK) == 0) {
                    const char *reasons = cupsGetOption("state_reasons", n, options);
                    const long bits = (reasons != nullptr ? atol(reasons) : 0) |
                                      PAPPL_JREASON_ABORTED_BY_SYSTEM |
                                      PAPPL_JREASON_JOB_COMPLETED_WITH_ERRORS;
                    n = cupsAddOption("state", std::to_string(IPP_JSTATE_ABORTED).c_str(), n,
                                      &options);
                    n = cupsAddOption("state_reasons", std::to_string(bits).c_str(), n, &options);
                    n = cupsAddOption("completed", std::to_string((long)time(nullptr)).c_str(), n,
                                      &options);
                } else {
                    n = cupsAddOption("state", std::to_string(IPP_JSTATE_PENDING).c_str(), n,
                                      &options);
                }
                line = "Job";
                for (int i = 0; i < n; ++i) {
                    line += std::string(" ") + options[i].name + "=" + Quoted(options[i].value);
                }
                changed = true;
            }
            cupsFreeOptions(n, options);
        }
        out << line << "\n";
    }
    in.close();
    if (changed) {
        const std::string temp = stateFile + ".new";
        std::ofstream(temp) << out.str();
        rename(temp.c_str(), stateFile.c_str());
    }
    // The journal spoke of the jobs of the last run only.
    if (DIR *dir = g_journal.empty() ? nullptr : opendir(g_journal.c_str())) {
        while (dirent *entry = readdir(dir)) {
            if (entry->d_name[0] == 'p') {
                unlink((g_journal + "/" + entry->d_name).c_str());
            }
        }
        closedir(dir);
    }
}

bool SaveState(pappl_system_t *system, const std::string &stateFile) {
    std::lock_guard<std::mutex> hold(g_saveMutex);
    g_lastSave = std::chrono::steady_clock::now();
    const std::vector<std::string> ended = Registry::Get().TakeEndedJournal();
    const bool saved = papplSystemSaveState(system, stateFile.c_str());
    for (const std::string &entry : ended) {
        unlink(entry.c_str());
    }
    return saved;
}

void WatchForStop(pappl_system_t *system, const std::string &stateFile) {
    g_system = system;
    g_stateFile = stateFile;
    if (pipe2(g_stopPipe, O_CLOEXEC) != 0) {
        return;
    }
    // PAPPL installs its own handlers when its main loop starts: the timer
    // runs on the loop's first turn, after them.
    papplSystemAddTimerCallback(system, time(nullptr), 0, InstallHandlers, nullptr);
}

void PrinterCreated(pappl_printer_t *, void *) {
    if (g_loading) {
        g_loadedAny = true;
        return;
    }
    const time_t created = time(nullptr);
    while (time(nullptr) <= created && !Stopping()) {
        std::this_thread::sleep_for(20ms);
    }
}

void BeginLoading() {
    g_loading = true;
}

bool Loading() {
    return g_loading;
}

void SettleLoadedPrinters() {
    g_loading = false;
    if (g_loadedAny) {
        const time_t loaded = time(nullptr);
        while (time(nullptr) <= loaded) {
            std::this_thread::sleep_for(20ms);
        }
    }
}

std::vector<int> PrinterIds(pappl_system_t *system) {
    std::vector<int> ids;
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t *printer, void *data) {
            static_cast<std::vector<int> *>(data)->push_back(papplPrinterGetID(printer));
        },
        &ids);
    return ids;
}

JobCounts CountActiveJobs(pappl_printer_t *printer) {
    JobCounts counts;
    papplPrinterIterateActiveJobs(
        printer,
        [](pappl_job_t *job, void *data) {
            auto *c = static_cast<JobCounts *>(data);
            const ipp_jstate_t state = papplJobGetState(job);
            c->pending += state == IPP_JSTATE_PENDING;
            c->processing += state == IPP_JSTATE_PROCESSING;
        },
        &counts, 1, 0);
    return counts;
}

} // namespace vorcp
