// The printer application as a server on a free localhost port with its
// state in a scratch folder, a label printer that writes each job into a
// file, and the IPP requests the tests send it.
#ifndef VORCP_TESTS_PRINTERAPP_APPHARNESS_H
#define VORCP_TESTS_PRINTERAPP_APPHARNESS_H

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <cups/cups.h>

#include "tests/support/Support.h"

namespace apptest {

// Attributes written "name=value ...": "{...}" is a collection, whole numbers
// are integers (enums for print-quality and orientation-requested) except in
// vendor attributes, whose values all go as keywords.
inline void AddAttrs(ipp_t *to, ipp_tag_t group, const std::string &attrs) {
    cups_option_t *opts = nullptr;
    const int n = cupsParseOptions(attrs.c_str(), 0, &opts);
    for (int i = 0; i < n; ++i) {
        const std::string name = opts[i].name, value = opts[i].value;
        if (value[0] == '{') {
            ipp_t *col = ippNew();
            AddAttrs(col, IPP_TAG_ZERO, value.substr(1, value.size() - 2));
            ippAddCollection(to, group, name.c_str(), col);
            ippDelete(col);
        } else if (name.rfind("document-format", 0) == 0) {
            ippAddString(to, group, IPP_TAG_MIMETYPE, name.c_str(), nullptr, value.c_str());
        } else if (name.rfind("vorcp-", 0) != 0 &&
                   value.find_first_not_of("-0123456789") == std::string::npos) {
            const bool isEnum = name == "print-quality" || name == "orientation-requested";
            ippAddInteger(to, group, isEnum ? IPP_TAG_ENUM : IPP_TAG_INTEGER, name.c_str(),
                          atoi(value.c_str()));
        } else {
            ippAddString(to, group, IPP_TAG_KEYWORD, name.c_str(), nullptr, value.c_str());
        }
    }
    cupsFreeOptions(n, opts);
}

// 4 x 2 in grey labels at 203 dpi unless sized otherwise: a ramp for the
// halftones (reversed on later pages), a long solid line for the dashing,
// and shapes that show rotation and mirroring.
inline std::string Labels(unsigned count, unsigned copies = 1, unsigned width = 812,
                          unsigned height = 406) {
    std::vector<rvt::Page> pages(count);
    for (unsigned n = 0; n < count; ++n) {
        rvt::Page &p = pages[n];
        p.width = width, p.height = height, p.copies = copies;
        p.bitsPerPixel = 8, p.space = CUPS_CSPACE_SW;
        p.colour = [n](unsigned x, unsigned y) -> uint32_t {
            if (y >= 20 && y < 150)
                return n == 0 ? x * 255 / 811 : 255 - x * 255 / 811;
            const bool line = y >= 200 && y < 212 && x >= 40 && x < 760;
            return line || (y >= 250 && y < 380 && (x < 50 + 100 * n || x + 250 == y + 300)) ? 0
                                                                                             : 255;
        };
    }
    return rvt::Raster(pages, CUPS_RASTER_WRITE_PWG);
}

// The documents the app's tests print by name: "labels-N" is Labels(N).
inline std::string Document(const std::string &name) {
    return Labels((unsigned)std::stoul(name.substr(7)));
}

// Job data as "bytes:sha-256", the form of the golden digests.
inline std::string Digest(const std::string &data) {
    if (data.empty())
        return "0:nothing";
    unsigned char hash[32];
    char hex[65];
    cupsHashData("sha2-256", data.data(), data.size(), hash, sizeof(hash));
    cupsHashString(hash, sizeof(hash), hex, sizeof(hex));
    return std::to_string(data.size()) + ":" + hex;
}

// What the filter makes of a document with the 203 dpi PPD's defaults, as
// tests/data/app-documents.txt records it (the filter itself is held to the
// file by AppDocuments, so that tests of the app need not run it).
inline std::string FilterDigest(const std::string &name) {
    for (const std::string &line : rvt::CaseLines("app-documents.txt")) {
        const std::vector<std::string> f = rvt::Split(line, '|');
        if (f[0] == name)
            return f.at(1);
    }
    ADD_FAILURE() << "no golden digest for " << name;
    return "";
}

// A job's state, its comma-separated reasons and its message (or why there
// was no answer).
struct Job {
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    std::string reasons, message;
};

class App {
  public:
    ~App() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            ExpectNoLeaks();
        }
    }

    // Starts the server through the scripts' session helper and, the first
    // time, adds printer "label", whose jobs land in Out(); "" when both
    // worked, else the log. Started again after Stop(), the server finds the
    // state it saved.
    std::string Start() {
        // The sanitizer build's leak check ignores what PAPPL keeps for the
        // process.
        setenv("LSAN_OPTIONS", "suppressions=" VORCP_TEST_LEAK_SUPPRESSIONS, 1);
        // An absurd size in a damaged raster header makes libcups ask for
        // gigabytes, which the sanitizer would fill for seconds where a
        // plain build maps them lazily: refused at once instead, libcups
        // rejects the header all the same.
        static const std::string asan =
            std::string(getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "")
                .append(":allocator_may_return_null=1:max_allocation_size_mb=1024");
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
        // The server outlives the helper's shell: adopt it to stop it here.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        const bool first = pid_ == 0 && port_ == 0;
        const std::string session = ". " RVC_TEST_SOURCE_DIR
                                    "/scripts/app-session.sh && app_start " VORCP_TEST_APP
                                    " " RVC_PPD_DIR " " +
                                    dir_.path() + " && mkdir -p " + dir_ / "out" +
                                    " && echo $APP_PORT $APP_PID >" + dir_ / "pid";
        const bool up = std::system(("bash -c '" + session + "' 2>&1").c_str()) == 0;
        sscanf(rvt::ReadFile(dir_ / "pid").c_str(), "%d %d", &port_, &pid_);
        return up && (!first || AddPrinter("label", OutUri())) ? "" : "no app\n" + Log();
    }

    // SIGTERM; the seconds until the server had ended.
    double Stop() {
        const auto start = std::chrono::steady_clock::now();
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        ExpectNoLeaks();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    bool AddPrinter(const std::string &name, const std::string &device,
                    const std::string &driver = "vorcp_203") const {
        const std::string cmd = VORCP_TEST_APP " add -u ipp://localhost:" + std::to_string(port_) +
                                "/ -d " + name + " -m " + driver + " -v '" + device + "' >>'" +
                                dir_ / "server.out" + "' 2>&1";
        return std::system(cmd.c_str()) == 0;
    }

    // The folder printer "label" writes its jobs into, as <job name>.tspl.
    std::string OutUri() const { return "file://" + dir_ / "out?ext=tspl"; }
    // The job data printer "label" got for a job.
    std::string Out(const std::string &job) const {
        return rvt::ReadFile(dir_ / "out/" + job + ".tspl");
    }
    // A leak report of the sanitizer build in the server's output (made when
    // the server ends through the C library's exit), read before a restart
    // replaces the output.
    void ExpectNoLeaks() const {
        const std::string out = rvt::ReadFile(dir_ / "server.out");
        EXPECT_EQ(out.find("LeakSanitizer"), std::string::npos) << out;
    }
    std::string Log() const {
        return rvt::ReadFile(dir_ / "vorcp-printer-app.log") + rvt::ReadFile(dir_ / "server.out");
    }

    // What curl gets from a web page of the server (curl's own arguments
    // may follow the path).
    std::string Curl(const std::string &pathAndArgs) const {
        return rvt::Shell("curl -s http://localhost:" + std::to_string(port_) + pathAndArgs).second;
    }

    http_t *Connect() const {
        return httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 10000,
                            nullptr);
    }
    ipp_t *Request(ipp_op_t op, const std::string &printer = "label") const {
        ipp_t *r = ippNewRequest(op);
        const std::string uri =
            "ipp://localhost:" + std::to_string(port_) + "/ipp/print/" + printer;
        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
        return r;
    }
    // The response to a request (with a document file), nullptr without one.
    ipp_t *Send(ipp_t *request, const std::string &printer = "label",
                const std::string &file = "") const {
        http_t *http = Connect();
        if (http == nullptr) {
            ippDelete(request);
            return nullptr;
        }
        ipp_t *response = cupsDoFileRequest(http, request, ("/ipp/print/" + printer).c_str(),
                                            file.empty() ? nullptr : file.c_str());
        httpClose(http);
        return response;
    }
    // Sends document data as the named job; its id, 0 with the answer's
    // status in status.
    int Submit(const std::string &data, const std::string &format, const std::string &name,
               const std::string &attrs = "", const std::string &printer = "label",
               ipp_status_t *status = nullptr) const {
        rvt::WriteFile(dir_ / name, data);
        ipp_t *request = Request(IPP_OP_PRINT_JOB, printer);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, name.c_str());
        if (!format.empty()) {
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                         format.c_str());
        }
        AddAttrs(request, IPP_TAG_JOB, attrs);
        ipp_t *response = Send(request, printer, dir_ / name);
        const int id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
        if (status != nullptr)
            *status = response ? ippGetStatusCode(response) : cupsLastError();
        ippDelete(response);
        return id;
    }
    // Prints document data as the named job and waits for the job to end.
    Job Print(const std::string &data, const std::string &format, const std::string &name,
              const std::string &attrs = "", const std::string &printer = "label") {
        return Wait(Submit(data, format, name, attrs, printer), printer);
    }
    bool Cancel(int id, const std::string &printer = "label") const {
        ipp_t *request = Request(IPP_OP_CANCEL_JOB, printer);
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
        ipp_t *response = Send(request, printer);
        const bool ok = ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
        ippDelete(response);
        return ok;
    }

    // The job as it is now.
    Job State(int id, const std::string &printer = "label") const {
        ipp_t *request = Request(IPP_OP_GET_JOB_ATTRIBUTES, printer);
        ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
        ipp_t *r = Send(request, printer);
        auto text = [r](const char *name) {
            char s[1024] = "";
            ippAttributeString(ippFindAttribute(r, name, IPP_TAG_ZERO), s, sizeof(s));
            return std::string(s);
        };
        const bool answered = ippGetStatusCode(r) == IPP_STATUS_OK;
        Job j{(ipp_jstate_t)ippGetInteger(ippFindAttribute(r, "job-state", IPP_TAG_ENUM), 0),
              text("job-state-reasons"),
              answered ? text("job-state-message") : cupsLastErrorString()};
        ippDelete(r);
        return j;
    }

    // The job once it has ended, or as last seen a minute on.
    Job Wait(int id, const std::string &printer = "label") const {
        Job j;
        const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
            j = State(id, printer);
            if (j.state >= IPP_JSTATE_CANCELED || j.state == 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(i < 50 ? 10 : 100));
        }
        return j;
    }

    const rvt::TempDir &Dir() const { return dir_; }
    int Port() const { return port_; }
    // The descriptors the server holds open ("fd"), or its threads ("task").
    long Held(const char *what) const {
        std::error_code e;
        const std::filesystem::directory_iterator held("/proc/" + std::to_string(pid_) + "/" + what,
                                                       e);
        return std::distance(held, std::filesystem::directory_iterator());
    }

  private:
    rvt::TempDir dir_;
    int port_ = 0, pid_ = 0;
};

} // namespace apptest

#endif
