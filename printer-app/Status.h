// What a TSPL printer says of itself when asked with its status query
// (ESC ! ?), and what the app does with it: printer-state-reasons, jobs
// that wait while the printer cannot print, identify, the test label and
// the USB printers it adds by itself.
#ifndef VORCP_PRINTERAPP_STATUS_H
#define VORCP_PRINTERAPP_STATUS_H

#include <string>

#include <pappl/pappl.h>

namespace vorcp {

// The status byte's bits; 0 is ready.
enum StatusBit : int {
    kHeadOpen = 1,
    kPaperJam = 2,
    kPaperOut = 4,
    kRibbonOut = 8,
    kPaused = 16,
    kPrinting = 32,
    kCoverOpen = 64,
    kTemperature = 128,
};
// The bits that stop the printer until someone acts.
constexpr int kStopped = 0xff & ~kPrinting;

extern const char kStatusQuery[]; // ESC ! ?

// printer-state-reasons for a status byte (pause is the printer's state).
pappl_preason_t ReasonsOf(int status);
// What stops the printer, for a user ("is out of labels"), "" when ready.
std::string Trouble(int status);

// The status byte, asked between commands over the device a job holds
// (device URI deviceUri), waiting at most timeoutMs for a network
// printer's answer; -1 when the printer does not answer.
int AskStatus(pappl_device_t *device, const std::string &deviceUri, int timeoutMs);
// Asked over a connection of its own with a short timeout, for a printer
// that no job holds; -1 when it does not answer or cannot be reached so.
int AskStatus(const std::string &deviceUri, int timeoutMs);

// A status byte into the printer's state reasons (and its pause), from a
// thread that holds no PAPPL lock.
void ApplyStatus(pappl_printer_t *printer, int status);

// The driver's callbacks.
bool StatusCallback(pappl_printer_t *printer);
void IdentifyCallback(pappl_printer_t *printer, pappl_identify_actions_t actions,
                      const char *message);
const char *TestPageCallback(pappl_printer_t *printer, char *buffer, size_t bufsize);
void SetTestLabelDirectory(const std::string &dir);

// USB printers the app adds by itself: the driver for an IEEE 1284 device
// ID whose command set lists TSPL, nullptr for any other printer.
const char *DriverForDeviceId(const char *deviceId);
const char *AutoAddCallback(const char *deviceInfo, const char *deviceUri, const char *deviceId,
                            void *data);

} // namespace vorcp

#endif
