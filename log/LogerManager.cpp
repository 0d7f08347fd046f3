#include "LogerManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace tslog {

namespace {

const char lutDec[201] = "00010203040506070809"
                         "10111213141516171819"
                         "20212223242526272829"
                         "30313233343536373839"
                         "40414243444546474849"
                         "50515253545556575859"
                         "60616263646566676869"
                         "70717273747576777879"
                         "80818283848586878889"
                         "90919293949596979899";

// Decimal of v, at least minDigits digits, into out; returns the length.
// Built two digits at a time from the end of a 64-byte scratch area.
int writeDec(char *out, int64_t value, int minDigits) {
    char scratch[64];
    char *end = scratch + sizeof scratch;
    char *p = end;
    bool negative = value < 0;
    uint64_t v = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    while (v >= 100) {
        unsigned pair = static_cast<unsigned>(v % 100) * 2;
        v /= 100;
        *--p = lutDec[pair + 1];
        *--p = lutDec[pair];
    }
    if (v >= 10) {
        unsigned pair = static_cast<unsigned>(v) * 2;
        *--p = lutDec[pair + 1];
        *--p = lutDec[pair];
    } else {
        *--p = static_cast<char>('0' + v);
    }
    while (end - p < minDigits)
        *--p = '0';
    if (negative)
        *--p = '-';
    int len = static_cast<int>(end - p);
    memcpy(out, p, static_cast<size_t>(len));
    return len;
}

// Per-thread day cache: local midnight of the cached day and its date.
thread_local int64_t g_curDayTime = 0;
thread_local struct tm g_tt;
thread_local bool g_dayCached = false;

uint32_t kernelThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

// Local midnight of t, with the broken-down local date of t in day.
int64_t localMidnight(int64_t t, struct tm &day) {
    time_t tt = static_cast<time_t>(t);
    if (localtime_r(&tt, &day) == nullptr) {
        memset(&day, 0, sizeof day);
        day.tm_year = 70;
        day.tm_mday = 1;
        return 0;
    }
    day.tm_hour = 0;
    day.tm_min = 0;
    day.tm_sec = 0;
    return static_cast<int64_t>(mktime(&day));
}

// Appends at most the room left in the content.
void appendText(LogData *record, const char *text, size_t length) {
    size_t room = static_cast<size_t>(LOG_CONTENT_SIZE - record->contentLength);
    if (length > room)
        length = room;
    memcpy(record->content + record->contentLength, text, length);
    record->contentLength += static_cast<int32_t>(length);
}

void appendText(LogData *record, const char *text) {
    appendText(record, text, strlen(text));
}

void appendText(LogData *record, const std::string &text) {
    appendText(record, text.data(), text.size());
}

// Numbers are written only with more than 64 bytes of room.
void appendNumber(LogData *record, int64_t value) {
    if (LOG_CONTENT_SIZE - record->contentLength > 64)
        record->contentLength += writeDec(record->content + record->contentLength, value, 1);
}

// Handed out when no memory for a record can be had: the trace written into
// it is dropped by pushLog, and it never enters the pool.
thread_local LogData g_spareRecord;

// Whether the file already open takes the next line: it must be of the
// record's day and within the size limit. One that is not is closed.
bool keepOpenFile(LoggerInfo &info, int64_t t) {
    if (t < info.dayStart || t - info.dayStart > 86399) {
        info.file.close();
    } else if (static_cast<uint32_t>(info.limitsize * 1048576u) < info.writtenBytes) {
        info.file.close();
    } else if (info.file.isOpen()) {
        return true;
    }
    return false;
}

// The logger's directory (with the month folder when asked for) and file
// path for a day. Too long a directory or file name fails rather than
// being cut.
bool formatLogPaths(const LoggerInfo &info, const struct tm &day, char *directory, char *filePath) {
    int n;
    if (info.monthdir)
        n = snprintf(directory, LOG_PATH_BUFFER, "%s%04d_%02d/", info.path.c_str(),
                     day.tm_year + 1900, day.tm_mon + 1);
    else
        n = snprintf(directory, LOG_PATH_BUFFER, "%s", info.path.c_str());
    if (n < 0 || n >= LOG_PATH_BUFFER)
        return false;
    n = snprintf(filePath, LOG_PATH_BUFFER, "%s%s.log", directory, info.name.c_str());
    return n >= 0 && n < LOG_PATH_BUFFER;
}

// Creates each missing folder of the path, backslashes read as slashes,
// stopping at the first that cannot be made; the open that follows reports
// the failure.
void makeLogDirectory(const char *directory) {
    int dirFd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        close(dirFd);
        return;
    }
    char create[LOG_PATH_BUFFER + 1];
    size_t length = strlen(directory);
    memcpy(create, directory, length + 1);
    for (size_t i = 0; i < length; ++i)
        if (create[i] == '\\')
            create[i] = '/';
    if (length > 0 && create[length - 1] != '/') {
        create[length++] = '/';
        create[length] = '\0';
    }
    for (size_t i = 0; i < length; ++i) {
        if (create[i] != '/' || i == 0)
            continue;
        create[i] = '\0';
        int fd = open(create, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        bool failed = false;
        if (fd >= 0)
            close(fd);
        else
            failed = mkdir(create, 0777) != 0;
        create[i] = '/';
        if (failed)
            break;
    }
}

// Opens the logger's file for appending, in place of any it had, and counts
// what it already holds towards the size limit.
bool openLogFile(LoggerInfo &info, const char *filePath) {
    if (info.file.file != nullptr) {
        fclose(info.file.file);
        info.file.file = nullptr;
    }
    // Never through a symbolic link: the log directory may be world-writable.
    int fd = open(filePath, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    FILE *file = nullptr;
    if (fd >= 0) {
        file = fdopen(fd, "ab");
        if (file == nullptr)
            close(fd);
        else
            // Unbuffered: a line is one write call, and a short write shows
            // up in fwrite's count instead of being lost at fclose.
            setvbuf(file, nullptr, _IONBF, 0);
    }
    long size = -1;
    if (file != nullptr && fseek(file, 0, SEEK_END) == 0) {
        size = ftell(file);
        if (fseek(file, 0, SEEK_SET) != 0)
            size = -1;
    }
    if (size < 0) {
        if (file != nullptr)
            fclose(file);
        return false;
    }
    info.file.file = file;
    info.writtenBytes = static_cast<uint32_t>(size);
    return true;
}

// With a reserve time, files opened longer ago than that are deleted, and
// the one just opened is remembered.
void pruneOldFiles(LoggerInfo &info, const char *filePath) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    int64_t now = tv.tv_sec;
    if (info.history.size() > 1) {
        while (!info.history.empty() && info.history.front().first < now - info.reserve) {
            // The file just opened is never deleted; its entry is renewed below.
            if (info.history.front().second != filePath)
                remove(info.history.front().second.c_str());
            info.history.pop_front();
        }
    }
    if (info.history.empty() || info.history.back().second != filePath)
        info.history.emplace_back(now, filePath);
}

} // namespace

const char *const LOG_STRING[LOG_LEVEL_COUNT] = {"LOG_TRACE", "LOG_DEBUG", "LOG_INFO", "LOG_WARN",
                                                 "LOG_ERROR", "LOG_ALARM", "LOG_FATAL"};
const int LOG_STRING_LEN[LOG_LEVEL_COUNT] = {9, 9, 8, 8, 9, 9, 9};

void *(*LogerManager::recordAllocator)(size_t size) = &malloc;

int fillLogPrefix(LogData *record) {
    int64_t t = record->time;
    if (!g_dayCached || t < g_curDayTime || t > g_curDayTime + 86399) {
        g_curDayTime = localMidnight(t, g_tt);
        g_dayCached = true;
    }
    int64_t s = t - g_curDayTime;
    char *p = record->content;
    p += writeDec(p, static_cast<int64_t>(g_tt.tm_year) + 1900, 4);
    *p++ = '-';
    p += writeDec(p, g_tt.tm_mon + 1, 2);
    *p++ = '-';
    p += writeDec(p, g_tt.tm_mday, 2);
    *p++ = ' ';
    p += writeDec(p, s / 3600, 2);
    *p++ = ':';
    p += writeDec(p, (s % 3600) / 60, 2);
    *p++ = ':';
    p += writeDec(p, s % 60, 2);
    *p++ = '.';
    p += writeDec(p, record->milliseconds, 3);
    *p++ = ' ';
    *p++ = '[';
    p += writeDec(p, record->threadId, 4);
    *p++ = ']';
    *p++ = ' ';
    int level = record->level;
    if (level >= 0 && level < LOG_LEVEL_COUNT) {
        memcpy(p, LOG_STRING[level], static_cast<size_t>(LOG_STRING_LEN[level]));
        p += LOG_STRING_LEN[level];
    }
    *p++ = ' ';
    return static_cast<int>(p - record->content);
}

ILogManager *ILogManager::getInstance() {
    static LogerManager manager;
    return &manager;
}

LogerManager::LogerManager()
    : running(false), poolCount(0), totalWriteCount(0), totalWriteBytes(0), lastId(0),
      configChecksum(0), autoUpdateInterval(0) {
    recordPool.reserve(LOG_POOL_LIMIT + 16);
    loggers[0].key = "Main";
    loggers[0].name = "Main";
    loggers[0].enable = true;
    loggers[0].level = LOG_DEBUG;
    loggerIds["Main"] = 0;
}

LogerManager::~LogerManager() {
    if (running)
        stop();
    for (int id = LOG_MAX_LOGGERS - 1; id >= 0; --id) {
        loggers[id].history.clear();
        loggers[id].file.close();
    }
    releasePool();
    startSignal.destroy();
}

const LoggerInfo *LogerManager::getLoggerInfo(int id) const {
    return validId(id) ? &loggers[id] : nullptr;
}

size_t LogerManager::getPoolSize() {
    poolLock.lock();
    size_t n = recordPool.size();
    poolLock.unLock();
    return n;
}

bool LogerManager::accepts(int id, int level) const {
    // Levels outside the level table are never accepted.
    if (!validId(id) || !running || level < 0 || level >= LOG_LEVEL_COUNT)
        return false;
    const LoggerInfo &info = loggers[id];
    return info.enable && level >= info.level;
}

bool LogerManager::prePushLog(int id, int level) {
    return accepts(id, level);
}

LogData *LogerManager::makeLogData(int id, int level) {
    LogData *record = nullptr;
    if (poolCount.load(std::memory_order_relaxed) > 0) {
        poolLock.lock();
        if (!recordPool.empty()) {
            record = recordPool.back();
            recordPool.pop_back();
            poolCount.store(recordPool.size(), std::memory_order_relaxed);
        }
        poolLock.unLock();
    }
    if (record == nullptr) {
        record = static_cast<LogData *>(recordAllocator(sizeof(LogData)));
        if (record == nullptr)
            record = &g_spareRecord;
        memset(record, 0, offsetof(LogData, content));
    }
    record->loggerId = id;
    record->level = level;
    record->changeCode = 0;
    record->changeValue = 0;
    record->contentLength = 0;
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    record->time = tv.tv_sec;
    record->milliseconds = static_cast<uint32_t>(tv.tv_usec / 1000);
    record->threadId = kernelThreadId();
    record->contentLength = fillLogPrefix(record);
    return record;
}

void LogerManager::freeLogData(LogData *record) {
    if (record == nullptr || record == &g_spareRecord)
        return;
    if (poolCount.load(std::memory_order_relaxed) >= static_cast<size_t>(LOG_POOL_LIMIT)) {
        free(record);
        return;
    }
    poolLock.lock();
    recordPool.push_back(record);
    poolCount.store(recordPool.size(), std::memory_order_relaxed);
    poolLock.unLock();
}

void LogerManager::releasePool() {
    poolLock.lock();
    for (LogData *record : recordPool)
        free(record);
    recordPool.clear();
    poolCount.store(0, std::memory_order_relaxed);
    poolLock.unLock();
}

bool LogerManager::pushLog(LogData *record, const char *file, int line) {
    if (record == nullptr)
        return false;
    if (record == &g_spareRecord || !accepts(record->loggerId, record->level)) {
        freeLogData(record);
        return false;
    }
    LoggerInfo &info = loggers[record->loggerId];
    if (info.fileline && file != nullptr) {
        const char *base = file;
        for (const char *p = file; *p != '\0'; ++p)
            if (*p == '/' || *p == '\\')
                base = p + 1;
        if (LOG_CONTENT_SIZE - record->contentLength >= 2)
            record->content[record->contentLength++] = ' ';
        appendText(record, base);
        if (LOG_CONTENT_SIZE - record->contentLength >= 2)
            record->content[record->contentLength++] = ':';
        appendNumber(record, line);
    }
    if (record->contentLength > LOG_CONTENT_SIZE - 3)
        record->contentLength = LOG_CONTENT_SIZE - 3;
    record->content[record->contentLength] = '\r';
    record->content[record->contentLength + 1] = '\n';
    record->content[record->contentLength + 2] = '\0';
    record->contentLength += 2;

    if (info.outfile) {
        writeLock.lock();
        if (openLogger(record)) {
            size_t length = static_cast<size_t>(record->contentLength);
            if (fwrite(record->content, 1, length, info.file.file) < length)
                info.file.close();
            info.writtenBytes += static_cast<uint32_t>(length);
            info.file.close();
            totalWriteCount.fetch_add(1, std::memory_order_relaxed);
            totalWriteBytes.fetch_add(length, std::memory_order_relaxed);
        }
        writeLock.unLock();
    }
    freeLogData(record);
    return true;
}

bool LogerManager::openLogger(LogData *record) {
    int id = record->loggerId;
    if (!validId(id))
        return false;
    LoggerInfo &info = loggers[id];
    if (!info.enable || !info.outfile || record->level < info.level)
        return false;
    if (keepOpenFile(info, record->time))
        return true;

    info.writtenBytes = 0;
    struct tm day;
    info.dayStart = localMidnight(record->time, day);
    char directory[LOG_PATH_BUFFER];
    char filePath[LOG_PATH_BUFFER];
    if (!formatLogPaths(info, day, directory, filePath)) {
        info.outfile = false;
        return false;
    }
    makeLogDirectory(directory);
    if (!openLogFile(info, filePath)) {
        info.outfile = false;
        return false;
    }
    if (info.reserve > 0)
        pruneOldFiles(info, filePath);
    return true;
}

void LogerManager::closeLoggerFile(int id) {
    // Taken so that a line being written by another thread is never cut off.
    writeLock.lock();
    loggers[id].file.close();
    writeLock.unLock();
}

bool LogerManager::start() {
    if (running)
        return false;
    startSignal.create(0);
    if (!ThreadHelper::start())
        return false;
    return startSignal.wait(3000);
}

bool LogerManager::stop() {
    if (!running)
        return false;
    running = false;
    wait();
    releasePool();
    return true;
}

void LogerManager::run() {
    running = true;
    if (prePushLog(0, LOG_ALARM)) {
        LogData *record = makeLogData(0, LOG_ALARM);
        appendText(record,
                   "-----------------  tslog thread started!   ----------------------------");
        pushLog(record, "tslog", 1936);
    }
    for (int id = 0; id <= lastId; ++id) {
        const LoggerInfo &info = loggers[id];
        if (!info.enable || !prePushLog(0, LOG_ALARM))
            continue;
        LogData *record = makeLogData(0, LOG_ALARM);
        appendText(record, "logger id=");
        appendNumber(record, id);
        appendText(record, " key=");
        appendText(record, info.key);
        appendText(record, " name=");
        appendText(record, info.name);
        appendText(record, " path=");
        appendText(record, info.path);
        appendText(record, " level=");
        appendNumber(record, info.level);
        appendText(record, " display=");
        appendText(record, info.display ? "true" : "false");
        pushLog(record, "tslog", 1946);
    }
    startSignal.post();

    int64_t lastCheck = wallClockMs();
    for (;;) {
        for (int id = 0; id <= lastId; ++id)
            if (!loggers[id].enable && loggers[id].file.isOpen())
                closeLoggerFile(id);
        usleep(50 * 1000);
        if (!running) {
            for (int id = 0; id <= lastId; ++id) {
                if (loggers[id].enable) {
                    loggers[id].enable = false;
                    closeLoggerFile(id);
                }
            }
            return;
        }
        int32_t interval = autoUpdateInterval;
        if (interval != 0) {
            int64_t now = wallClockMs();
            if (now - lastCheck > static_cast<int64_t>(interval) * 1000) {
                updateConfig();
                lastCheck = now;
            }
        }
    }
}

bool LogerManager::isLoggerEnable(int id) {
    return validId(id) && loggers[id].enable;
}

uint64_t LogerManager::getStatusTotalWriteCount() {
    return totalWriteCount;
}

uint64_t LogerManager::getStatusTotalWriteBytes() {
    return totalWriteBytes;
}

uint64_t LogerManager::getStatusTotalPushQueue() {
    return 0;
}

uint64_t LogerManager::getStatusTotalPopQueue() {
    return 0;
}

uint32_t LogerManager::getStatusActiveLoggers() {
    uint32_t count = 0;
    for (int id = 0; id <= lastId; ++id)
        if (loggers[id].enable)
            ++count;
    return count;
}

} // namespace tslog
