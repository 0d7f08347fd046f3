// The renderer's trace lines reach the log file, never standard output.
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

#include "log/ILogManager.h"
#include "tests/render/RenderFixture.h"

TEST_F(RenderTest, SizeCommandTracesItsStepsToTheLogOnly) {
    char dir[] = "/tmp/rvc_render_trace_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    tslog::ILogManager *log = tslog::ILogManager::getInstance();
    log->setLoggerPath(0, dir);
    log->setLoggerName(0, "render");
    ASSERT_TRUE(log->start());
    std::string out;
    {
        StdoutCapture capture;
        r.OutPutSizeCommand();
        r.OutPutCLSCommand();
        out = capture.Finish();
    }
    log->stop();
    EXPECT_EQ(out, "SIZE 816 dot,1219 dot\r\nCLS\r\n");

    const std::string path = std::string(dir) + "/render.log";
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string lines = text.str();
    for (const char *expected :
         {"LOG_DEBUG Method OutPutSizeCommand in TSPLRenderClass:",
          "LOG_DEBUG dmYResolution  is 203 TSPLRenderClass:",
          "LOG_DEBUG dmPrintQuality  is 203 TSPLRenderClass:",
          "LOG_DEBUG OutPutSizeCommand cmd is SIZE 816 dot,1219 dot\r\n TSPLRenderClass:",
          "LOG_DEBUG Method OutPutCLSCommand in TSPLRenderClass:"}) {
        EXPECT_NE(lines.find(expected), std::string::npos) << expected;
    }
    EXPECT_LT(lines.find("dmYResolution"), lines.find("dmPrintQuality"));
    remove(path.c_str());
    rmdir(dir);
}
