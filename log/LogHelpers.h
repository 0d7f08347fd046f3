// Small owners of a thread, a mutex, a semaphore and an open log file.
#ifndef RVC_LOG_LOGHELPERS_H
#define RVC_LOG_LOGHELPERS_H

#include <pthread.h>
#include <semaphore.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace tslog {

// Wall clock in milliseconds since the epoch; 64 bits, as a 32-bit count
// overflows within weeks.
int64_t wallClockMs();

// Flush a log or configuration file to stable storage, drop it from the page
// cache and close it. Does nothing for a null handle.
void closeLogFile(FILE *&file);

class ThreadHelper {
  public:
    ThreadHelper();
    virtual ~ThreadHelper();
    virtual void run() = 0;
    bool start();
    bool wait();

  private:
    static void *threadProc(void *self);
    pthread_t hThread;
    bool bStarted;
};

class LockHelper {
  public:
    LockHelper();
    virtual ~LockHelper();
    void lock();
    void unLock();

  private:
    pthread_mutex_t hMutex;
};

class SemHelper {
  public:
    SemHelper();
    virtual ~SemHelper();
    bool create(int initial);
    void destroy();
    // timeout in ms; 0 or less waits without limit.
    bool wait(int timeout);
    bool post();
    bool isCreated() const { return bCreated; }

  private:
    sem_t hSem;
    bool bCreated;
};

class LogFileHandler {
  public:
    LogFileHandler() : file(nullptr) {}
    virtual ~LogFileHandler() { close(); }
    LogFileHandler(const LogFileHandler &) = delete;
    LogFileHandler &operator=(const LogFileHandler &) = delete;
    bool isOpen() const { return file != nullptr; }
    void close() { closeLogFile(file); }
    // From the current position to the end; empty when no file is open.
    std::string readContent();

    FILE *file;
};

} // namespace tslog

#endif
