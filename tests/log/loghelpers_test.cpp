// The semaphore's timed wait and the file reader.
#include "LogTestSupport.h"

#include <thread>

using namespace logtest;

TEST(LogSemaphore, TimedWaitAndPost) {
    tslog::SemHelper sem;
    EXPECT_FALSE(sem.wait(100)); // never created
    EXPECT_FALSE(sem.post());
    ASSERT_TRUE(sem.create(-3)); // a negative count starts at 0
    EXPECT_FALSE(sem.wait(120)); // the deadline passes: no hang, no early success
    ASSERT_TRUE(sem.post());
    EXPECT_TRUE(sem.wait(120));
    ASSERT_TRUE(sem.create(2));
    EXPECT_TRUE(sem.wait(60));
    EXPECT_TRUE(sem.wait(0));
    std::thread poster([&] { sem.post(); });
    EXPECT_TRUE(sem.wait(3000));
    poster.join();
}

TEST(LogFileReader, ReadsWholeFilesAcrossChunks) {
    TempDir dir;
    for (size_t size : {size_t(0), size_t(100), size_t(8192), size_t(8192 * 2 + 5)}) {
        std::string path = dir.path + "/f" + std::to_string(size);
        std::string text(size, 'c');
        for (size_t i = 0; i < size; i += 97)
            text[i] = static_cast<char>('a' + i % 26);
        std::ofstream(path, std::ios::binary) << text;
        tslog::LogFileHandler handler;
        EXPECT_EQ(handler.readContent(), "");
        handler.file = fopen(path.c_str(), "rb");
        ASSERT_NE(handler.file, nullptr);
        EXPECT_EQ(handler.readContent(), text) << size;
        handler.close();
        EXPECT_FALSE(handler.isOpen());
        handler.close(); // a second close does nothing
    }
}
