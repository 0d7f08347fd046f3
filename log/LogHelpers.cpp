#include "LogHelpers.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

namespace tslog {

int64_t wallClockMs() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

void closeLogFile(FILE *&file) {
    if (file == nullptr)
        return;
    int fd = fileno(file);
    fflush(file);
    fsync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    fsync(fd);
    fclose(file);
    file = nullptr;
}

ThreadHelper::ThreadHelper() : hThread(), bStarted(false) {}

ThreadHelper::~ThreadHelper() {}

void *ThreadHelper::threadProc(void *self) {
    static_cast<ThreadHelper *>(self)->run();
    return nullptr;
}

bool ThreadHelper::start() {
    if (pthread_create(&hThread, nullptr, &ThreadHelper::threadProc, this) != 0)
        return false;
    bStarted = true;
    return true;
}

bool ThreadHelper::wait() {
    if (!bStarted)
        return false;
    bStarted = false;
    return pthread_join(hThread, nullptr) == 0;
}

LockHelper::LockHelper() {
    pthread_mutex_init(&hMutex, nullptr);
}

LockHelper::~LockHelper() {
    pthread_mutex_destroy(&hMutex);
}

void LockHelper::lock() {
    pthread_mutex_lock(&hMutex);
}

void LockHelper::unLock() {
    pthread_mutex_unlock(&hMutex);
}

SemHelper::SemHelper() : hSem(), bCreated(false) {}

SemHelper::~SemHelper() {
    destroy();
}

bool SemHelper::create(int initial) {
    destroy(); // a restart must not initialise a live semaphore twice
    if (sem_init(&hSem, 0, initial > 0 ? static_cast<unsigned>(initial) : 0) != 0)
        return false;
    bCreated = true;
    return true;
}

void SemHelper::destroy() {
    if (bCreated) {
        sem_destroy(&hSem);
        bCreated = false;
    }
}

bool SemHelper::wait(int timeout) {
    if (!bCreated)
        return false;
    if (timeout <= 0)
        return sem_wait(&hSem) == 0;
    int64_t deadline = wallClockMs() + timeout;
    for (;;) {
        usleep(50 * 1000);
        if (sem_trywait(&hSem) == 0)
            return true;
        if (errno != EAGAIN || wallClockMs() > deadline)
            return false;
    }
}

bool SemHelper::post() {
    return bCreated && sem_post(&hSem) == 0;
}

std::string LogFileHandler::readContent() {
    std::string text;
    if (file == nullptr)
        return text;
    char chunk[8192];
    for (;;) {
        size_t got = fread(chunk, 1, sizeof chunk, file);
        text.append(chunk, got);
        if (got < sizeof chunk)
            break;
    }
    return text;
}

} // namespace tslog
