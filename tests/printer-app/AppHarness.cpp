#include "AppHarness.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace apptest {

std::string AppPath() {
    return VORCP_TEST_APP;
}
std::string FilterPath() {
    return VORCP_TEST_FILTER;
}
std::string ViewerPath() {
    return VORCP_TEST_VIEWER;
}
std::string PpdDir() {
    return VORCP_TEST_PPD_DIR;
}

namespace {

int FreePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    int port = 0;
    if (bind(s, (sockaddr *)&a, sizeof(a)) == 0 && getsockname(s, (sockaddr *)&a, &len) == 0) {
        port = ntohs(a.sin_port);
    }
    close(s);
    return port;
}

// Whether process pid holds the listening socket on 127.0.0.1:port. A server
// whose port was taken listens on ::1 alone, so a port that answers is not
// proof enough.
bool ListensOnLoopback(int pid, int port) {
    std::ifstream tcp("/proc/net/tcp");
    std::string line, inode;
    char want[32];
    snprintf(want, sizeof(want), "0100007F:%04X", port);
    while (std::getline(tcp, line)) {
        std::istringstream f(line);
        std::string sl, local, remote, st, queues, tr, retr, uid, timeout, ino;
        f >> sl >> local >> remote >> st >> queues >> tr >> retr >> uid >> timeout >> ino;
        if (local == want && st == "0A") {
            inode = ino;
        }
    }
    if (inode.empty()) {
        return false;
    }
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR *d = opendir(fds.c_str());
    bool found = false;
    while (d != nullptr && !found) {
        dirent *e = readdir(d);
        if (e == nullptr) {
            break;
        }
        char target[128] = {0};
        if (readlink((fds + "/" + e->d_name).c_str(), target, sizeof(target) - 1) > 0) {
            found = std::string(target) == "socket:[" + inode + "]";
        }
    }
    if (d != nullptr) {
        closedir(d);
    }
    return found;
}

int RunApp(const std::vector<std::string> &args, const std::string &outFile) {
    pid_t pid = fork();
    if (pid == 0) {
        // The sanitizer build's leak check ignores what PAPPL keeps for the
        // process.
        setenv("LSAN_OPTIONS", "suppressions=" VORCP_TEST_LEAK_SUPPRESSIONS, 0);
        int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char *> argv;
        for (const std::string &a : args) {
            argv.push_back(const_cast<char *>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

http_t *Connect(const std::string &uri, std::string *resource) {
    char scheme[32], user[64], host[256], res[1024];
    int port = 0;
    httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof(scheme), user, sizeof(user),
                    host, sizeof(host), &port, res, sizeof(res));
    *resource = res;
    return httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 10000,
                        nullptr);
}

ipp_t *Request(ipp_op_t op, const std::string &printerUri) {
    ipp_t *r = ippNewRequest(op);
    ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri.c_str());
    ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    return r;
}

bool IsInteger(const std::string &v) {
    return !v.empty() && v.find_first_not_of("-0123456789") == std::string::npos;
}

void AddValue(ipp_t *to, ipp_tag_t group, const std::string &name, const std::string &value) {
    // Vendor values are keywords even where they read as numbers.
    if (IsInteger(value) && name.rfind("vorcp-", 0) != 0) {
        ippAddInteger(to, group, IPP_TAG_INTEGER, name.c_str(), atoi(value.c_str()));
    } else {
        ippAddString(to, group, IPP_TAG_KEYWORD, name.c_str(), nullptr, value.c_str());
    }
}

} // namespace

bool AppServer::Start(std::string *why) {
    char tmpl[] = "/tmp/vorcp-app-XXXXXX";
    dir_ = mkdtemp(tmpl);
    port_ = FreePort();
    pid_ = RunApp({AppPath(), "server", "-o", "state-directory=" + dir_, "-o",
                   "ppd-directory=" + PpdDir(), "-o", "server-port=" + std::to_string(port_), "-o",
                   "log-level=debug"},
                  dir_ + "/server.out");
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (ListensOnLoopback(pid_, port_)) {
            // printer-up-time counts whole seconds; IPP checks want it above 0.
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            return true;
        }
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = 0;
            break;
        }
    }
    *why = "the app does not listen on 127.0.0.1:" + std::to_string(port_) + "\n" + Log();
    Stop();
    return false;
}

void AppServer::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
    if (!dir_.empty() && getenv("VORCP_KEEP_TEST_DIR") == nullptr) {
        std::system(("rm -rf '" + dir_ + "'").c_str());
        dir_.clear();
    }
}

bool AppServer::AddPrinter(const std::string &name, const std::string &driver,
                           const std::string &device) {
    int pid = RunApp({AppPath(), "add", "-u", "ipp://localhost:" + std::to_string(port_) + "/",
                      "-d", name, "-m", driver, "-v", device},
                     dir_ + "/client.out");
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string AppServer::PrinterUri(const std::string &name) const {
    return "ipp://localhost:" + std::to_string(port_) + "/ipp/print/" + name;
}

std::string AppServer::Log() const {
    std::ifstream in(dir_ + "/vorcp-printer-app.log");
    std::ostringstream s;
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
        s << "*** the server has ended: "
          << (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                  : "status " + std::to_string(WEXITSTATUS(status)))
          << "\n";
    }
    s << in.rdbuf();
    std::ifstream out(dir_ + "/server.out");
    s << out.rdbuf();
    return s.str();
}

int Submit(const std::string &printerUri, const std::string &file, const std::string &format,
           const std::string &jobName, const Attrs &attrs) {
    std::string resource;
    http_t *http = Connect(printerUri, &resource);
    if (http == nullptr) {
        return 0;
    }
    ipp_t *request = Request(IPP_OP_PRINT_JOB, printerUri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, jobName.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 format.c_str());
    ipp_t *mediaCol = nullptr;
    for (const Attr &a : attrs) {
        if (a.name.rfind("media-col.", 0) == 0) {
            mediaCol = mediaCol ? mediaCol : ippNew();
            AddValue(mediaCol, IPP_TAG_ZERO, a.name.substr(10), a.value);
        } else {
            AddValue(request, IPP_TAG_JOB, a.name, a.value);
        }
    }
    if (mediaCol != nullptr) {
        ippAddCollection(request, IPP_TAG_JOB, "media-col", mediaCol);
        ippDelete(mediaCol);
    }
    ipp_t *response = cupsDoFileRequest(http, request, resource.c_str(), file.c_str());
    int id = 0;
    if (response != nullptr && ippGetStatusCode(response) <= IPP_STATUS_OK_EVENTS_COMPLETE) {
        id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
    }
    ippDelete(response);
    httpClose(http);
    return id;
}

JobResult WaitJob(const std::string &printerUri, int id, int timeoutSeconds) {
    JobResult r;
    r.id = id;
    std::string resource;
    http_t *http = Connect(printerUri, &resource);
    for (int i = 0; http != nullptr && i < timeoutSeconds * 10; ++i) {
        ipp_t *request = Request(IPP_OP_GET_JOB_ATTRIBUTES, printerUri);
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
        ipp_t *response = cupsDoRequest(http, request, resource.c_str());
        ipp_attribute_t *state = ippFindAttribute(response, "job-state", IPP_TAG_ENUM);
        r.state = state ? (ipp_jstate_t)ippGetInteger(state, 0) : r.state;
        r.reasons.clear();
        ipp_attribute_t *reasons = ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD);
        for (int k = 0; k < ippGetCount(reasons); ++k) {
            r.reasons += std::string(k ? "," : "") + ippGetString(reasons, k, nullptr);
        }
        ipp_attribute_t *message = ippFindAttribute(response, "job-state-message", IPP_TAG_TEXT);
        r.message = message ? ippGetString(message, 0, nullptr) : "";
        ippDelete(response);
        if (r.state >= IPP_JSTATE_CANCELED) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (http != nullptr) {
        httpClose(http);
    }
    return r;
}

// The newest job of the printer, 0 when it has none.
int LastJobId(const std::string &printerUri) {
    std::string resource;
    http_t *http = Connect(printerUri, &resource);
    ipp_t *request = Request(IPP_OP_GET_JOBS, printerUri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    ipp_t *response = cupsDoRequest(http, request, resource.c_str());
    int last = 0;
    for (ipp_attribute_t *a = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER); a != nullptr;
         a = ippFindNextAttribute(response, "job-id", IPP_TAG_INTEGER)) {
        last = std::max(last, ippGetInteger(a, 0));
    }
    ippDelete(response);
    httpClose(http);
    return last;
}

JobResult Print(const std::string &printerUri, const std::string &file, const std::string &format,
                const std::string &jobName, const Attrs &attrs, int timeoutSeconds) {
    int id = Submit(printerUri, file, format, jobName, attrs);
    const ipp_status_t status = id == 0 ? cupsLastError() : IPP_STATUS_OK;
    const std::string error = id == 0 ? cupsLastErrorString() : "";
    // A streamed raster job that fails while its data still arrives ends the
    // request's connection: the job is there all the same.
    id = id != 0 ? id : LastJobId(printerUri);
    JobResult r;
    if (id != 0) {
        r = WaitJob(printerUri, id, timeoutSeconds);
    }
    r.status = status;
    r.message = id != 0 ? r.message : error;
    return r;
}

namespace {

// A request whose answer is only its status.
bool Send(ipp_t *request, const std::string &printerUri) {
    std::string resource;
    http_t *http = Connect(printerUri, &resource);
    ipp_t *response = cupsDoRequest(http, request, resource.c_str());
    const bool ok = response != nullptr && ippGetStatusCode(response) == IPP_STATUS_OK;
    ippDelete(response);
    httpClose(http);
    return ok;
}

} // namespace

bool CancelJob(const std::string &printerUri, int id) {
    ipp_t *request = Request(IPP_OP_CANCEL_JOB, printerUri);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
    return Send(request, printerUri);
}

bool SetPrinter(const std::string &printerUri, const std::string &name, const std::string &value) {
    ipp_t *request = Request(IPP_OP_SET_PRINTER_ATTRIBUTES, printerUri);
    AddValue(request, IPP_TAG_PRINTER, name, value);
    return Send(request, printerUri);
}

} // namespace apptest
