#include "log/ILogManager.h"

#include <cstdarg>
#include <cstdio>

namespace tslog {

void LogPrintf(int level, const char *file, int line, const char *format, ...) {
    ILogManager *manager = ILogManager::getInstance();
    if (!manager->prePushLog(LOG_MAIN_LOGGER_ID, level))
        return;
    LogData *record = manager->makeLogData(LOG_MAIN_LOGGER_ID, level);
    int bound = LOG_CONTENT_SIZE - record->contentLength;
    va_list args;
    va_start(args, format);
    int written = vsnprintf(record->content + record->contentLength, static_cast<size_t>(bound),
                            format, args);
    va_end(args);
    if (written < 0)
        written = 0;
    record->contentLength += written < bound ? written : bound;
    manager->pushLog(record, file, line);
}

} // namespace tslog
