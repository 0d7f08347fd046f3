// The process-wide file logger: interface, records and the trace helper.
#ifndef RVC_LOG_ILOGMANAGER_H
#define RVC_LOG_ILOGMANAGER_H

#include <cstdint>

namespace tslog {

// Level values index LOG_STRING / LOG_STRING_LEN.
enum LogLevel {
    LOG_TRACE = 0,
    LOG_DEBUG = 1,
    LOG_INFO = 2,
    LOG_WARN = 3,
    LOG_ERROR = 4,
    LOG_ALARM = 5,
    LOG_FATAL = 6,
};

const int LOG_LEVEL_COUNT = 7;
extern const char *const LOG_STRING[LOG_LEVEL_COUNT];
extern const int LOG_STRING_LEN[LOG_LEVEL_COUNT];

const int LOG_MAX_LOGGERS = 20;
const int LOG_MAIN_LOGGER_ID = 0;
const int LOG_CONTENT_SIZE = 8192;
const int LOG_POOL_LIMIT = 200;

// Setting-change codes carried through hotChange.
enum LogDataType {
    Record = 0,
    Enable = 1,
    Name = 2,
    Path = 3,
    Level = 4,
    FileLine = 5,
    Display = 6,
    OutFile = 7,
    LimitSize = 8,
    MonthDir = 9,
    Reserve = 10,
};

struct LogData {
    int32_t loggerId;
    int32_t changeCode;
    int32_t changeValue;
    int32_t level;
    int64_t time;
    uint32_t milliseconds;
    uint32_t threadId;
    int32_t contentLength;
    char content[LOG_CONTENT_SIZE];
};

class ILogManager {
  public:
    virtual ~ILogManager() {}
    virtual bool config(const char *configPath) = 0;
    virtual bool configFromString(const char *configText) = 0;
    virtual int createLogger(const char *key) = 0;
    virtual bool start() = 0;
    virtual bool stop() = 0;
    virtual int findLogger(const char *key) = 0;
    virtual bool prePushLog(int id, int level) = 0;
    virtual bool pushLog(LogData *record, const char *file, int line) = 0;
    virtual bool enableLogger(int id, bool enable) = 0;
    virtual bool setLoggerName(int id, const char *name) = 0;
    virtual bool setLoggerPath(int id, const char *path) = 0;
    virtual bool setLoggerLevel(int id, int level) = 0;
    virtual bool setLoggerFileLine(int id, bool enable) = 0;
    virtual bool setLoggerDisplay(int id, bool enable) = 0;
    virtual bool setLoggerOutFile(int id, bool enable) = 0;
    virtual bool setLoggerLimitsize(int id, unsigned int limitsize) = 0;
    virtual bool setLoggerMonthdir(int id, bool enable) = 0;
    virtual bool setLoggerReserveTime(int id, long seconds) = 0;
    virtual bool setAutoUpdate(int interval) = 0;
    virtual bool updateConfig() = 0;
    virtual bool isLoggerEnable(int id) = 0;
    virtual uint64_t getStatusTotalWriteCount() = 0;
    virtual uint64_t getStatusTotalWriteBytes() = 0;
    virtual uint64_t getStatusTotalPushQueue() = 0;
    virtual uint64_t getStatusTotalPopQueue() = 0;
    virtual uint32_t getStatusActiveLoggers() = 0;
    virtual LogData *makeLogData(int id, int level) = 0;
    virtual void freeLogData(LogData *record) = 0;

    // The one manager of the process, created on first use.
    static ILogManager *getInstance();
};

// The call-site convention every trace uses: ask prePushLog for the main
// logger first (nothing is formatted for a filtered trace), then format the
// message into a pooled record and push it with the given source-file name
// and line. The name and line are arguments because trace lines carry the
// names and line numbers the log readers know, not this file's own.
void LogPrintf(int level, const char *file, int line, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

} // namespace tslog

// Debug trace for the main logger.
#define RVC_TRACE(file, line, ...)                                                                 \
    ::tslog::LogPrintf(::tslog::LOG_DEBUG, (file), (line), __VA_ARGS__)

#endif
