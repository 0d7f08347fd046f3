#include "Status.h"

#include <cctype>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Catalogue.h"
#include "Lifecycle.h"
#include "Registry.h"
#include "TestLabel.h"

namespace vorcp {

const char kStatusQuery[] = "\x1b!?";

namespace {

// The printer-state-reasons the status byte sets; all others are PAPPL's.
constexpr pappl_preason_t kDeviceReasons = PAPPL_PREASON_COVER_OPEN | PAPPL_PREASON_MEDIA_JAM |
                                           PAPPL_PREASON_MEDIA_EMPTY |
                                           PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_OTHER;

// Identify feeds one blank label of the printer's default size with the
// renderer's own commands, which every TSPL printer takes (a beep needs a
// buzzer many label printers lack).
std::string IdentifyCommands(pappl_printer_t *printer) {
    pappl_pr_driver_data_t driver;
    int dpi = 203, width = 10160, length = 15240;
    if (papplPrinterGetDriverData(printer, &driver) != nullptr && driver.extension != nullptr) {
        dpi = static_cast<const ModelCatalogue *>(driver.extension)->dpi;
        width = driver.media_default.size_width;
        length = driver.media_default.size_length;
    }
    char commands[128];
    snprintf(commands, sizeof(commands), "SIZE %d dot,%d dot\r\nCLS\r\nPRINT 1,1\r\n",
             (int)(width * (double)dpi / 2540 + 0.5), (int)(length * (double)dpi / 2540 + 0.5));
    return commands;
}

std::string g_testLabelDir;

// Printers paused because they said so, to be resumed when they say so.
std::mutex g_pausedMutex;
std::set<pappl_printer_t *> g_pausedByPrinter;

// host and port of a socket:// device, false for other devices.
bool SocketAddress(const std::string &uri, std::string *host, int *port) {
    char scheme[32], user[256], h[256], resource[1024];
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof(scheme), user,
                        sizeof(user), h, sizeof(h), port, resource,
                        sizeof(resource)) < HTTP_URI_STATUS_OK ||
        strcmp(scheme, "socket") != 0) {
        return false;
    }
    *host = h;
    if (*port <= 0) {
        *port = 9100;
    }
    return true;
}

// A connection of its own to a network printer, at most timeoutMs to make.
int Connect(const std::string &host, int port, int timeoutMs) {
    http_addrlist_t *list = httpAddrGetList(host.c_str(), AF_UNSPEC, std::to_string(port).c_str());
    int fd = -1;
    if (list == nullptr || httpAddrConnect2(list, &fd, timeoutMs, nullptr) == nullptr) {
        fd = -1;
    }
    httpAddrFreeList(list);
    return fd;
}

bool WriteAll(int fd, const char *data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n <= 0) {
            return false;
        }
        data += n, size -= (size_t)n;
    }
    return true;
}

} // namespace

pappl_preason_t ReasonsOf(int status) {
    pappl_preason_t r = PAPPL_PREASON_NONE;
    // PAPPL 1.3.1 never reports door-open (its list of reasons ends before
    // it): an open head is a cover open.
    if (status & (kHeadOpen | kCoverOpen)) {
        r |= PAPPL_PREASON_COVER_OPEN;
    }
    if (status & kPaperJam) {
        r |= PAPPL_PREASON_MEDIA_JAM;
    }
    if (status & kPaperOut) {
        r |= PAPPL_PREASON_MEDIA_EMPTY;
    }
    if (status & kRibbonOut) {
        r |= PAPPL_PREASON_MARKER_SUPPLY_EMPTY;
    }
    if (status & kTemperature) {
        r |= PAPPL_PREASON_OTHER;
    }
    return r;
}

std::string Trouble(int status) {
    const std::pair<int, const char *> words[] = {
        {kPaperOut, "is out of labels"},          {kHeadOpen, "has its head open"},
        {kCoverOpen, "has its cover open"},       {kPaperJam, "has a label jam"},
        {kRibbonOut, "is out of ribbon"},         {kPaused, "is paused"},
        {kTemperature, "is too hot or too cold"},
    };
    std::vector<const char *> said;
    for (const auto &w : words) {
        if (status & w.first) {
            said.push_back(w.second);
        }
    }
    std::string text;
    for (size_t i = 0; i < said.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == said.size() ? " and " : ", ") + std::string(said[i]);
    }
    return text;
}

namespace {

// The connection under a socket:// device. PAPPL 1.3.1 reads a network
// printer's answer for up to 10 s and offers no other way to wait less:
// its socket device keeps the descriptor first in its data, and the
// descriptor is taken only when it is a stream socket connected to the
// device's own port, else -1 (and the device is read PAPPL's way).
int SocketOf(pappl_device_t *device, const std::string &uri) {
    std::string host;
    int port = 0;
    const int *data = static_cast<const int *>(papplDeviceGetData(device));
    if (data == nullptr || !SocketAddress(uri, &host, &port) || *data < 0) {
        return -1;
    }
    int type = 0;
    socklen_t size = sizeof(type);
    sockaddr_storage peer{};
    socklen_t peerSize = sizeof(peer);
    if (getsockopt(*data, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM ||
        getpeername(*data, (sockaddr *)&peer, &peerSize) != 0) {
        return -1;
    }
    const int peerPort = peer.ss_family == AF_INET    ? ntohs(((sockaddr_in *)&peer)->sin_port)
                         : peer.ss_family == AF_INET6 ? ntohs(((sockaddr_in6 *)&peer)->sin6_port)
                                                      : -1;
    return peerPort == port ? *data : -1;
}

} // namespace

int AskStatus(pappl_device_t *device, const std::string &uri, int timeoutMs) {
    unsigned char answer = 0;
    if (device == nullptr) {
        return -1;
    }
    const int fd = SocketOf(device, uri);
    if (fd >= 0) {
        // An answer that came too late for the last question is not this
        // one's.
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, 0) == 1 && (p.revents & POLLIN) &&
               recv(fd, &answer, 1, MSG_DONTWAIT) == 1) {
        }
    }
    if (papplDeviceWrite(device, kStatusQuery, 3) < 0) {
        return -1;
    }
    papplDeviceFlush(device);
    if (fd >= 0) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1 || !(p.revents & POLLIN)) {
            return -1;
        }
    }
    return papplDeviceRead(device, &answer, 1) == 1 ? answer : -1;
}

int AskStatus(const std::string &deviceUri, int timeoutMs) {
    std::string host;
    int port = 0;
    if (!SocketAddress(deviceUri, &host, &port)) {
        return -1;
    }
    const int fd = Connect(host, port, timeoutMs);
    if (fd < 0) {
        return -1;
    }
    int status = -1;
    pollfd p{fd, POLLIN, 0};
    unsigned char answer;
    if (WriteAll(fd, kStatusQuery, 3) && poll(&p, 1, timeoutMs) == 1 && read(fd, &answer, 1) == 1) {
        status = answer;
    }
    close(fd);
    return status;
}

void ApplyStatus(pappl_printer_t *printer, int status) {
    if (status < 0) {
        return; // a printer that does not answer is left as it is
    }
    const pappl_preason_t now = ReasonsOf(status);
    papplPrinterSetReasons(printer, now, kDeviceReasons & ~now);
    std::lock_guard<std::mutex> hold(g_pausedMutex);
    if ((status & kPaused) && !g_pausedByPrinter.count(printer) &&
        papplPrinterGetState(printer) != IPP_PSTATE_STOPPED) {
        g_pausedByPrinter.insert(printer);
        papplPrinterPause(printer);
    } else if (!(status & kPaused) && g_pausedByPrinter.erase(printer)) {
        papplPrinterResume(printer);
    }
}

bool StatusCallback(pappl_printer_t *printer) {
    if (Loading()) {
        return true;
    }
    const std::string uri = papplPrinterGetDeviceURI(printer);
    int status = -1;
    if (uri.rfind("socket:", 0) == 0) {
        status = AskStatus(uri, 1000);
    } else if (uri.rfind("usb:", 0) == 0) {
        pappl_device_t *device = papplPrinterOpenDevice(printer);
        if (device != nullptr) {
            status = AskStatus(device, uri, 1000);
            papplPrinterCloseDevice(printer);
        }
    }
    if (status >= 0) {
        Registry::Get().SetAnswersStatus(printer, true);
        ApplyStatus(printer, status);
    }
    return true;
}

void IdentifyCallback(pappl_printer_t *printer, pappl_identify_actions_t, const char *) {
    const std::string uri = papplPrinterGetDeviceURI(printer);
    const std::string commands = IdentifyCommands(printer);
    std::string host;
    int port = 0;
    if (SocketAddress(uri, &host, &port)) {
        const int fd = Connect(host, port, 2000);
        if (fd >= 0) {
            WriteAll(fd, commands.data(), commands.size());
            close(fd);
        }
    } else if (pappl_device_t *device = papplPrinterOpenDevice(printer)) {
        papplDeviceWrite(device, commands.data(), commands.size());
        papplDeviceFlush(device);
        papplPrinterCloseDevice(printer);
    } else {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO,
                        "Not identified: the printer is busy printing");
    }
}

void SetTestLabelDirectory(const std::string &dir) {
    g_testLabelDir = dir;
}

const char *TestPageCallback(pappl_printer_t *printer, char *buffer, size_t bufsize) {
    pappl_pr_driver_data_t driver;
    if (papplPrinterGetDriverData(printer, &driver) == nullptr || driver.extension == nullptr) {
        return nullptr;
    }
    const auto *model = static_cast<const ModelCatalogue *>(driver.extension);
    TestLabelInfo info;
    info.name = papplPrinterGetName(printer);
    info.dpi = model->dpi;
    info.width = (int)(driver.media_default.size_width * (double)model->dpi / 2540 + 0.5);
    info.height = (int)(driver.media_default.size_length * (double)model->dpi / 2540 + 0.5);
    info.darknessPercent = driver.darkness_configured;
    info.levels = (int)model->density.size();
    info.level = (int)DarknessLevel(*model, driver.darkness_configured);
    info.barcode = info.name;
    static std::mutex counterMutex;
    static unsigned counter = 0;
    std::lock_guard<std::mutex> hold(counterMutex);
    snprintf(buffer, bufsize, "%s/test-label-%d-%u.pwg", g_testLabelDir.c_str(),
             papplPrinterGetID(printer), ++counter);
    return WriteTestLabel(info, buffer) ? buffer : nullptr;
}

const char *DriverForDeviceId(const char *deviceId) {
    if (deviceId == nullptr) {
        return nullptr;
    }
    cups_option_t *pairs = nullptr;
    const int n = papplDeviceParseID(deviceId, &pairs);
    bool tspl = false;
    for (int i = 0; i < n && !tspl; ++i) {
        if (strcasecmp(pairs[i].name, "CMD") != 0 &&
            strcasecmp(pairs[i].name, "COMMAND SET") != 0) {
            continue;
        }
        std::string set = pairs[i].value;
        for (size_t start = 0; start <= set.size() && !tspl;) {
            size_t end = set.find(',', start);
            if (end == std::string::npos) {
                end = set.size();
            }
            std::string word = set.substr(start, end - start);
            word.erase(0, word.find_first_not_of(" \t"));
            word.erase(word.find_last_not_of(" \t") + 1);
            tspl = strcasecmp(word.c_str(), "TSPL") == 0;
            start = end + 1;
        }
    }
    cupsFreeOptions(n, pairs);
    if (!tspl) {
        return nullptr;
    }
    std::string id;
    for (const char *c = deviceId; *c; ++c) {
        if (*c != ' ' && *c != '-' && *c != '_') {
            id += (char)tolower((unsigned char)*c);
        }
    }
    return id.find("300dpi") != std::string::npos ? "vorcp_300" : "vorcp_203";
}

const char *AutoAddCallback(const char *, const char *, const char *deviceId, void *) {
    return DriverForDeviceId(deviceId);
}

} // namespace vorcp
