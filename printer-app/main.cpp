// vorcp-printer-app: an IPP printer application for TSPL label printers,
// printing through the same page path as the rastertovorcp filter.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <pappl/pappl.h>

#include "Admission.h"
#include "Driver.h"
#include "Jobs.h"
#include "Lifecycle.h"
#include "Queue.h"
#include "Registry.h"
#include "Status.h"
#include "log/ILogManager.h"

#ifndef VORCP_VERSION
#define VORCP_VERSION "1.0.0"
#endif
#ifndef VORCP_PPD_DIR
#define VORCP_PPD_DIR "/usr/share/ppd/rastertovorcp"
#endif

namespace {

const char kFooter[] = "TSPL label printers &middot; vorcp-printer-app " VORCP_VERSION;

// Creates a folder and its parents, private to the user who runs the app.
bool MakeFolders(const std::string &path) {
    for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string Option(const char *name, int num, cups_option_t *options, const std::string &fallback) {
    const char *value = cupsGetOption(name, num, options);
    return value != nullptr && *value ? value : fallback;
}

// The app's own folder: the spool, the saved printers, its log and the page
// path's trace all live there, never in a folder shared with other users.
std::string DefaultStateDirectory(const char *base) {
    if (getuid() == 0) {
        return std::string("/var/lib/") + base;
    }
    const char *xdg = getenv("XDG_STATE_HOME");
    if (xdg != nullptr && *xdg == '/') {
        return std::string(xdg) + "/" + base;
    }
    const char *home = getenv("HOME");
    return std::string(home != nullptr && *home ? home : ".") + "/.local/state/" + base;
}

pappl_loglevel_t LogLevel(const std::string &name) {
    if (name == "debug") {
        return PAPPL_LOGLEVEL_DEBUG;
    }
    if (name == "warn") {
        return PAPPL_LOGLEVEL_WARN;
    }
    if (name == "error") {
        return PAPPL_LOGLEVEL_ERROR;
    }
    return PAPPL_LOGLEVEL_INFO;
}

std::string g_stateFile;

bool Save(pappl_system_t *system, void *) {
    return vorcp::SaveState(system, g_stateFile);
}

pappl_system_t *CreateSystem(int num, cups_option_t *options, void *) {
    const char *base = program_invocation_short_name;
    const std::string stateDir =
        Option("state-directory", num, options, DefaultStateDirectory(base));
    const std::string spoolDir = Option("spool-directory", num, options, stateDir + "/spool");
    std::string logFile = Option("log-file", num, options, stateDir + "/" + base + ".log");
    const std::string journal = stateDir + "/printing";
    if (!MakeFolders(stateDir) || !MakeFolders(spoolDir) || !MakeFolders(journal)) {
        fprintf(stderr, "%s: cannot create %s: %s\n", base, stateDir.c_str(), strerror(errno));
        return nullptr;
    }
    g_stateFile = stateDir + "/" + base + ".state";
    vorcp::SetPpdDirectory(
        Option("ppd-directory", num, options,
               getenv("VORCP_PPD_DIR") ? getenv("VORCP_PPD_DIR") : VORCP_PPD_DIR));

    // The page path's trace, in the app's own folder.
    tslog::ILogManager *trace = tslog::ILogManager::getInstance();
    trace->setLoggerPath(0, stateDir.c_str());
    trace->setLoggerName(0, "vorcp-trace");
    trace->start();

    const int port = atoi(Option("server-port", num, options, "0").c_str());
    const std::string listen = Option("listen-hostname", num, options, "localhost");
    // Encryption guards nothing that leaves the machine on localhost alone.
    const pappl_soptions_t tls = listen == "localhost" ? PAPPL_SOPTIONS_NO_TLS : 0;
    pappl_system_t *system = papplSystemCreate(
        PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG |
            PAPPL_SOPTIONS_WEB_SECURITY | tls,
        Option("server-name", num, options, "Label Printers").c_str(), port, "_print,_universal",
        spoolDir.c_str(), logFile == "-" ? "-" : logFile.c_str(),
        LogLevel(Option("log-level", num, options, "info")), nullptr, false);
    if (system == nullptr) {
        return nullptr;
    }
    // Localhost unless told otherwise ("*" for every address).
    bool listening = true;
    size_t start = 0;
    while (start <= listen.size()) {
        size_t comma = listen.find(',', start);
        const std::string host = listen.substr(start, comma - start);
        if (!host.empty()) {
            listening &= papplSystemAddListeners(system, host == "*" ? nullptr : host.c_str());
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    if (!listening) {
        fprintf(stderr, "%s: cannot listen on %s port %d\n", base, listen.c_str(), port);
        papplSystemDelete(system);
        return nullptr;
    }
    if (listen == "localhost") {
        papplSystemSetHostName(system, "localhost");
    }
    papplSystemSetPrinterDrivers(system, vorcp::kNumDrivers, vorcp::kDrivers,
                                 vorcp::AutoAddCallback, vorcp::PrinterCreated,
                                 vorcp::DriverCallback, nullptr);
    vorcp::Registry::Get().SetStatusApplier(vorcp::ApplyStatus);
    vorcp::SetTestLabelDirectory(spoolDir);
    // Before any printer exists: printers list the formats of the filters
    // there are when they are made, and the registry learns of every job.
    papplSystemSetEventCallback(system, vorcp::Registry::EventCallback, nullptr);
    papplSystemSetAuthCallback(system, "Basic", vorcp::Authorize, nullptr);
    vorcp::AddDocumentFilters(system, "application/vnd.tspl");
    papplSystemSetFooterHTML(system, kFooter);
    vorcp::AddSettingTexts(system);
    pappl_version_t version = {};
    papplCopyString(version.name, base, sizeof(version.name));
    papplCopyString(version.sversion, VORCP_VERSION, sizeof(version.sversion));
    papplSystemSetVersions(system, 1, &version);
    vorcp::SetJournalDirectory(journal);
    vorcp::RepairSavedJobs(g_stateFile);
    vorcp::BeginLoading();
    papplSystemLoadState(system, g_stateFile.c_str());
    vorcp::queue::AdoptLoaded(system);
    vorcp::SettleLoadedPrinters();
    papplSystemSetSaveCallback(system, Save, nullptr);
    vorcp::WatchForStop(system, g_stateFile);
    return system;
}

} // namespace

// `submit` to the local server sends its documents as the app's spooled
// type: the server reads them once they are spooled and never streams a
// raster into a busy printer (the local socket's clients bypass the check
// that keeps network clients from doing so).
std::vector<char *> SpooledSubmit(int argc, char *argv[]) {
    std::vector<char *> args(argv, argv + argc);
    bool submit = argc > 1 && strcmp(argv[1], "submit") == 0, elsewhere = false, typed = false;
    for (int i = 1; i < argc; ++i) {
        elsewhere |= strcmp(argv[i], "-u") == 0 || strncmp(argv[i], "--printer-uri", 13) == 0;
        typed |= strstr(argv[i], "document-format=") != nullptr;
    }
    if (submit && !elsewhere && !typed) {
        static char option[] = "-o";
        static std::string format = std::string("document-format=") + vorcp::kSpooledType;
        args.insert(args.begin() + 2, {option, format.data()});
    }
    args.push_back(nullptr);
    return args;
}

int main(int argc, char *argv[]) {
    // A printer that drops its connection makes the job's writes fail; it
    // must not end the server with it.
    signal(SIGPIPE, SIG_IGN);
    std::vector<char *> args = SpooledSubmit(argc, argv);
    return papplMainloop((int)args.size() - 1, args.data(), VORCP_VERSION, kFooter,
                         vorcp::kNumDrivers, vorcp::kDrivers, vorcp::AutoAddCallback,
                         vorcp::DriverCallback, nullptr, nullptr, CreateSystem, nullptr, nullptr);
}
