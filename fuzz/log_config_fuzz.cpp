// The logger's configuration text: line parsing into fresh entries, and
// whole texts applied to the process's manager (which is never started
// here, so no configured path is ever created or written).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "log/ILogManager.h"
#include "log/LogerManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);

    std::map<std::string, tslog::LoggerInfo> entries;
    std::string section;
    size_t begin = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
            tslog::parseConfigLine(text.substr(begin, i - begin), section, entries);
            begin = i + 1;
        }
    }
    for (const auto &e : entries) {
        if (e.second.key != e.first) {
            abort(); // every section entry is filed under its own key
        }
    }

    std::string trimmed = text;
    tslog::trimLogConfig(trimmed, "[]");
    std::string again = trimmed;
    tslog::trimLogConfig(again, "[]");
    if (again != trimmed && trimmed.compare(0, 3, "\xEF\xBB\xBF") != 0) {
        abort(); // trimming is idempotent unless a second byte order mark shows
    }

    // The manager sees the text up to its first zero byte, as from a file.
    tslog::ILogManager *log = tslog::ILogManager::getInstance();
    log->configFromString(text.c_str());
    if (log->getStatusActiveLoggers() > (uint32_t)tslog::LOG_MAX_LOGGERS ||
        log->findLogger("Main") != 0) {
        abort();
    }
    for (const auto &e : entries) {
        int id = log->findLogger(e.first.c_str());
        if (id < -1 || id >= tslog::LOG_MAX_LOGGERS) {
            abort();
        }
    }
    return 0;
}
