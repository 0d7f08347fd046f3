#include "log/ErrorReport.h"

#include <cstdarg>
#include <cstdio>

void ReportError(const char *format, ...) {
    // One write, so that the message is not interleaved with others.
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    fprintf(stderr, "\nERROR: %s\n", text);
}
