// Messages for the spooler. CUPS reads standard error line by line and shows
// a line that starts with "ERROR: " as the job's reason, so each message
// stands on a line of its own.
#ifndef RVC_LOG_ERRORREPORT_H
#define RVC_LOG_ERRORREPORT_H

// Writes a line feed, "ERROR: ", the formatted text and a line feed to
// standard error.
void ReportError(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
