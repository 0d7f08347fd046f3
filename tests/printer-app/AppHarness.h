// The printer application run as a server on a free localhost port with a
// private state folder, and the IPP requests the tests send it.
#ifndef VORCP_TESTS_PRINTERAPP_APPHARNESS_H
#define VORCP_TESTS_PRINTERAPP_APPHARNESS_H

#include <string>
#include <utility>
#include <vector>

#include <cups/cups.h>

namespace apptest {

// Paths of the built parts, from the build's compile definitions.
std::string AppPath();
std::string FilterPath();
std::string ViewerPath();
std::string PpdDir();

// One attribute of a job: a keyword, an integer or (for media-col members)
// a collection member "media-col.<name>" with an integer or keyword value.
struct Attr {
    std::string name;
    std::string value;
};
using Attrs = std::vector<Attr>;

struct JobResult {
    int id = 0;
    ipp_status_t status = IPP_STATUS_OK; // of the Print-Job request
    ipp_jstate_t state = IPP_JSTATE_PENDING;
    std::string reasons; // job-state-reasons, comma-separated
    std::string message; // job-state-message
};

class AppServer {
  public:
    ~AppServer() { Stop(); }
    // Starts the server and waits until it listens on 127.0.0.1 itself.
    bool Start(std::string *why);
    void Stop();
    // Adds a printer with the driver and device through the app's own `add`.
    bool AddPrinter(const std::string &name, const std::string &driver, const std::string &device);
    std::string PrinterUri(const std::string &name) const;
    std::string Folder() const { return dir_; }
    int Port() const { return port_; }
    // The server's own log.
    std::string Log() const;

  private:
    std::string dir_;
    int port_ = 0;
    int pid_ = 0;
};

// Sends a document with Print-Job; state is that of the finished job (or the
// last seen when it did not finish within the timeout).
JobResult Print(const std::string &printerUri, const std::string &file, const std::string &format,
                const std::string &jobName, const Attrs &attrs, int timeoutSeconds = 60);
// Sends a document and returns the job id without waiting (0 on failure).
int Submit(const std::string &printerUri, const std::string &file, const std::string &format,
           const std::string &jobName, const Attrs &attrs);
JobResult WaitJob(const std::string &printerUri, int id, int timeoutSeconds);
bool CancelJob(const std::string &printerUri, int id);
// Set-Printer-Attributes with one keyword or integer value.
bool SetPrinter(const std::string &printerUri, const std::string &name, const std::string &value);

} // namespace apptest

#endif
