// The logger's configuration text: lines parsed into fresh entries, and
// whole texts applied to the manager (never started here, so no configured
// path is created or written).
#include <cstdlib>
#include <map>
#include <string>

#include "log/LogerManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text((const char *)data, size);
    std::map<std::string, tslog::LoggerInfo> entries;
    std::string section;
    for (size_t begin = 0, i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
            tslog::parseConfigLine(text.substr(begin, i - begin), section, entries);
            begin = i + 1;
        }
    }
    for (const auto &e : entries) {
        if (e.second.key != e.first)
            abort(); // filed under its own key
    }
    std::string once = text, twice;
    tslog::trimLogConfig(once, "[]");
    twice = once;
    tslog::trimLogConfig(twice, "[]");
    if (twice != once && once.compare(0, 3, "\xEF\xBB\xBF") != 0) {
        abort(); // trimming is idempotent unless a second byte order mark shows
    }
    tslog::ILogManager *log = tslog::ILogManager::getInstance();
    log->configFromString(text.c_str()); // up to the first zero byte, as from a file
    if (log->getStatusActiveLoggers() > (uint32_t)tslog::LOG_MAX_LOGGERS ||
        log->findLogger("Main") != 0)
        abort();
    for (const auto &e : entries) {
        const int id = log->findLogger(e.first.c_str());
        if (id < -1 || id >= tslog::LOG_MAX_LOGGERS)
            abort();
    }
    return 0;
}
