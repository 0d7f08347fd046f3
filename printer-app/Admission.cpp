#include "Admission.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "Jobs.h"
#include "Lifecycle.h"
#include "Queue.h"

namespace vorcp {

namespace {

using namespace std::chrono_literals;

// How long a cancellation waits for a printer that is starting a job.
constexpr auto kSettleWait = 2000ms;

bool IsRaster(const char *format) {
    return format != nullptr &&
           (strcmp(format, "image/pwg-raster") == 0 || strcmp(format, "image/urf") == 0);
}

// A raster document, or one whose type is left open and that reads as
// raster (or cannot be read ahead because it is compressed), is marked as
// the app's spooled type: PAPPL takes the type it detected as the job's
// format, spools the document and hands it to the app's filter.
void RouteDocument(pappl_client_t *client, ipp_t *request) {
    // PAPPL takes the first document-format-detected of the request: none
    // but the app's own counts (and the callback may run more than once
    // for a request: it decides the same each time).
    while (ipp_attribute_t *mark =
               ippFindAttribute(request, "document-format-detected", IPP_TAG_ZERO)) {
        ippDeleteAttribute(request, mark);
    }
    ipp_attribute_t *attr = ippFindAttribute(request, "document-format", IPP_TAG_ZERO);
    const char *format = attr != nullptr && ippGetGroupTag(attr) == IPP_TAG_OPERATION
                             ? ippGetString(attr, 0, nullptr)
                             : nullptr;
    // Formats the printer does not take go to the app's filter too, which
    // ends the job with the reason (PAPPL 1.3.1 creates the job anyway and
    // aborts it without one).
    const char *const taken[] = {"application/octet-stream", "image/png", "image/jpeg",
                                 "application/vnd.tspl", kSpooledType};
    bool spool = IsRaster(format);
    if (format != nullptr && !spool) {
        spool = std::none_of(std::begin(taken), std::end(taken),
                             [format](const char *t) { return strcmp(format, t) == 0; });
    }
    if (!spool && (format == nullptr || strcmp(format, "application/octet-stream") == 0)) {
        const char *compression =
            ippGetString(ippFindAttribute(request, "compression", IPP_TAG_ZERO), 0, nullptr);
        if (compression != nullptr && strcmp(compression, "none") != 0) {
            spool = true;
        } else {
            char magic[8] = {};
            const ssize_t n = httpPeek(papplClientGetHTTP(client), magic, sizeof(magic));
            spool =
                n == 8 && (memcmp(magic, "RaS2PwgR", 8) == 0 || memcmp(magic, "UNIRAST", 8) == 0);
        }
    }
    if (spool) {
        ippAddString(request, IPP_TAG_JOB, IPP_TAG_MIMETYPE, "document-format-detected", nullptr,
                     kSpooledType);
    }
}

// PAPPL 1.3.1 schedules a printer's next job and starts it a moment later
// in another thread; a job canceled in between is started all the same,
// next to the job started after it. A cancellation waits while a printer
// has pending jobs and none printing (it is starting one), at most
// kSettleWait.
void SettleStarts(pappl_printer_t *printer) {
    if (printer == nullptr) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kSettleWait;
    while (!Stopping() && std::chrono::steady_clock::now() < deadline &&
           papplPrinterGetState(printer) != IPP_PSTATE_STOPPED) {
        const JobCounts count = CountActiveJobs(printer);
        if (count.pending == 0 || count.processing > 0) {
            return;
        }
        std::this_thread::sleep_for(5ms);
    }
}

// Every printer, for a form whose target printer the callback cannot see.
void SettleAllStarts(pappl_system_t *system) {
    for (int id : PrinterIds(system)) {
        SettleStarts(papplSystemFindPrinter(system, nullptr, id, nullptr));
    }
}

bool IsCancel(ipp_op_t op) {
    return op == IPP_OP_CANCEL_JOB || op == IPP_OP_CANCEL_JOBS || op == IPP_OP_CANCEL_MY_JOBS ||
           op == IPP_OP_CANCEL_CURRENT_JOB;
}

// The operations PAPPL lets a remote client do when no authentication is
// set up: printing, its jobs and the printer's subscriptions.
bool RemoteMayDo(ipp_op_t op, bool onPrinter) {
    switch (op) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_CANCEL_CURRENT_JOB:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_GET_JOB_ATTRIBUTES:
    case IPP_OP_GET_JOBS:
    case IPP_OP_HOLD_JOB:
    case IPP_OP_RELEASE_JOB:
    case IPP_OP_DISABLE_PRINTER:
    case IPP_OP_ENABLE_PRINTER:
        return true;
    case IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS:
    case IPP_OP_CREATE_JOB_SUBSCRIPTIONS:
    case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
    case IPP_OP_GET_SUBSCRIPTIONS:
    case IPP_OP_RENEW_SUBSCRIPTION:
    case IPP_OP_CANCEL_SUBSCRIPTION:
    case IPP_OP_GET_NOTIFICATIONS:
        return onPrinter;
    default:
        return false;
    }
}

std::string Hex(const unsigned char *data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 15];
    }
    return out;
}

// The web pages' password (set on the Security page): PAPPL's session
// cookie still counts; otherwise the browser's own login.
http_status_t AuthorizePage(pappl_client_t *client) {
    pappl_system_t *system = papplClientGetSystem(client);
    char hash[100] = "";
    papplSystemGetPassword(system, hash, sizeof(hash));
    if (!hash[0]) {
        return HTTP_STATUS_CONTINUE;
    }
    char cookie[65] = "", key[65] = "";
    if (papplClientGetCookie(client, "auth", cookie, sizeof(cookie)) != nullptr) {
        const std::string text =
            std::string(papplSystemGetSessionKey(system, key, sizeof(key))) + ":" + hash;
        unsigned char digest[32];
        if (cupsHashData("sha2-256", text.data(), text.size(), digest, sizeof(digest)) > 0 &&
            Hex(digest, sizeof(digest)) == cookie) {
            papplClientSetUsername(client, "web-admin");
            return HTTP_STATUS_CONTINUE;
        }
    }
    const char *field = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
    if (field != nullptr && strncmp(field, "Basic ", 6) == 0) {
        char decoded[512];
        int size = (int)sizeof(decoded);
        httpDecode64_2(decoded, &size, field + 6);
        decoded[std::min(size, (int)sizeof(decoded) - 1)] = '\0';
        // The saved hash is "nonce~sha256(nonce:password)". (PAPPL 1.3.1's
        // own check takes the whole hash for the nonce and so accepts any
        // password; this one does not.)
        const char *password = strchr(decoded, ':');
        const char *tilde = strchr(hash, '~');
        if (password != nullptr && tilde != nullptr) {
            const std::string text =
                std::string(hash, (size_t)(tilde - hash)) + ":" + (password + 1);
            unsigned char digest[32];
            if (cupsHashData("sha2-256", text.data(), text.size(), digest, sizeof(digest)) > 0 &&
                Hex(digest, sizeof(digest)) == tilde + 1) {
                papplClientSetUsername(client, "web-admin");
                return HTTP_STATUS_CONTINUE;
            }
        }
    }
    return HTTP_STATUS_UNAUTHORIZED;
}

} // namespace

http_status_t Authorize(pappl_client_t *client, const char *, gid_t, void *) {
    const bool local = httpAddrLocalhost(httpGetAddress(papplClientGetHTTP(client)));
    ipp_t *request = papplClientGetRequest(client);
    if (request == nullptr) {
        HoldForQueue(nullptr, false); // a test page a form prints is PAPPL's to schedule
        if (papplClientGetMethod(client) == HTTP_STATE_POST) {
            SettleAllStarts(papplClientGetSystem(client));
        }
        return AuthorizePage(client);
    }
    const ipp_op_t op = ippGetOperation(request);
    pappl_printer_t *printer = papplClientGetPrinter(client);
    HoldForQueue(request,
                 (op == IPP_OP_PRINT_JOB || op == IPP_OP_CREATE_JOB) && printer != nullptr);
    if (op == IPP_OP_PRINT_JOB || op == IPP_OP_SEND_DOCUMENT) {
        RouteDocument(client, request);
    } else if (IsCancel(op)) {
        SettleStarts(printer);
    }
    if (local || RemoteMayDo(op, printer != nullptr)) {
        return HTTP_STATUS_CONTINUE;
    }
    return HTTP_STATUS_FORBIDDEN;
}

} // namespace vorcp
