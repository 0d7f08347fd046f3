// The logger manager behind ILogManager, its per-logger state and the
// configuration-text helpers.
#ifndef RVC_LOG_LOGERMANAGER_H
#define RVC_LOG_LOGERMANAGER_H

#include "LogHelpers.h"
#include "log/ILogManager.h"

#include <atomic>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tslog {

// File paths are formatted into buffers of this size; a directory, the
// optional "YYYY_MM/" and "<name>.log" must fit together, never cut.
const int LOG_PATH_BUFFER = 500;
const int LOG_MONTHDIR_ROOM = 8;
const int LOG_SUFFIX_ROOM = 4; // ".log"

struct LoggerInfo {
    std::string key;
    std::string name;
    std::string path = "./log/";
    int32_t level = LOG_DEBUG;
    bool display = true;
    bool outfile = true;
    bool monthdir = false;
    uint32_t limitsize = 100;
    bool enable = false;
    bool fileline = true;
    int64_t reserve = 0;

    int64_t dayStart = 0;
    uint32_t writtenBytes = 0;
    LogFileHandler file;
    std::list<std::pair<int64_t, std::string>> history;
};

// Writes the line prefix of a record (date, time, thread, level) into its
// content from index 0 and returns its length. Uses the calling thread's
// day cache.
int fillLogPrefix(LogData *record);

void trimLogConfig(std::string &text, std::string extra);
bool parseConfigLine(const std::string &line, std::string &sectionKey,
                     std::map<std::string, LoggerInfo> &entries);

class LogerManager : public ThreadHelper, public ILogManager {
  public:
    LogerManager();
    ~LogerManager() override;
    void run() override;

    bool config(const char *configPath) override;
    bool configFromString(const char *configText) override;
    int createLogger(const char *key) override;
    bool start() override;
    bool stop() override;
    int findLogger(const char *key) override;
    bool prePushLog(int id, int level) override;
    bool pushLog(LogData *record, const char *file, int line) override;
    bool enableLogger(int id, bool enable) override;
    bool setLoggerName(int id, const char *name) override;
    bool setLoggerPath(int id, const char *path) override;
    bool setLoggerLevel(int id, int level) override;
    bool setLoggerFileLine(int id, bool enable) override;
    bool setLoggerDisplay(int id, bool enable) override;
    bool setLoggerOutFile(int id, bool enable) override;
    bool setLoggerLimitsize(int id, unsigned int limitsize) override;
    bool setLoggerMonthdir(int id, bool enable) override;
    bool setLoggerReserveTime(int id, long seconds) override;
    bool setAutoUpdate(int interval) override;
    bool updateConfig() override;
    bool isLoggerEnable(int id) override;
    uint64_t getStatusTotalWriteCount() override;
    uint64_t getStatusTotalWriteBytes() override;
    uint64_t getStatusTotalPushQueue() override;
    uint64_t getStatusTotalPopQueue() override;
    uint32_t getStatusActiveLoggers() override;
    LogData *makeLogData(int id, int level) override;
    void freeLogData(LogData *record) override;

    bool hotChange(int id, LogDataType code, int value, const std::string &text);
    bool onHotChange(int id, LogDataType code, int value, const std::string &text);
    bool openLogger(LogData *record);

    // Inspection, for the status tools and the tests; null for an invalid id.
    const LoggerInfo *getLoggerInfo(int id) const;
    uint32_t getConfigChecksum() const { return configChecksum; }
    size_t getPoolSize();

    // Where new records come from; replaceable so that an exhausted
    // allocator can be exercised.
    static void *(*recordAllocator)(size_t size);

  private:
    bool validId(int id) const { return id >= 0 && id <= lastId; }
    bool accepts(int id, int level) const;
    bool applyConfig(const std::string &text, bool onlyUpdate);
    void closeLoggerFile(int id);
    void releasePool();

    std::atomic<bool> running;
    SemHelper startSignal;
    LockHelper writeLock;
    LockHelper poolLock;
    std::vector<LogData *> recordPool;
    std::atomic<size_t> poolCount;
    std::atomic<uint64_t> totalWriteCount;
    std::atomic<uint64_t> totalWriteBytes;

    std::map<std::string, int32_t> loggerIds;
    int32_t lastId;
    LoggerInfo loggers[LOG_MAX_LOGGERS];
    std::string configFile;
    uint32_t configChecksum;
    std::atomic<int32_t> autoUpdateInterval;
};

} // namespace tslog

#endif
