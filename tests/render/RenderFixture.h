// Shared set-up of the renderer tests: zeroed settings records wired into a
// renderer, and standard output captured at the descriptor level so that
// the exact bytes the stdio stream delivers can be compared.
#ifndef RVC_TESTS_RENDER_RENDERFIXTURE_H
#define RVC_TESTS_RENDER_RENDERFIXTURE_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "render/TSPLRenderClass.h"

class StdoutCapture {
public:
    StdoutCapture() {
        fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        file_ = tmpfile();
        dup2(fileno(file_), STDOUT_FILENO);
    }
    ~StdoutCapture() { Finish(); }

    // Everything written since construction; later calls return the same.
    std::string Finish() {
        if (file_ != nullptr) {
            fflush(stdout);
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
            rewind(file_);
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof(buf), file_)) > 0) {
                text_.append(buf, n);
            }
            fclose(file_);
            file_ = nullptr;
        }
        return text_;
    }

private:
    int saved_ = -1;
    FILE *file_ = nullptr;
    std::string text_;
};

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        memset(&cfg, 0, sizeof(cfg));
        memset(&dm, 0, sizeof(dm));
        memset(&pdev, 0, sizeof(pdev));
        // A 4 x 6 inch label at 203 dpi, raster and printer alike.
        cfg.sOutputXDPI = 203;
        cfg.sOutputYDPI = 203;
        cfg.sMaxOutputWidth = 104;
        cfg.sDensity = 8;
        cfg.dwOperationAfterPrn = 1;
        dm.dmOrientation = 1;
        dm.dmPrintQuality = 203;
        dm.dmYResolution = 203;
        pdev.srcGdiInfo.szlPhysSize.cx = 812;
        pdev.srcGdiInfo.szlPhysSize.cy = 1218;
        pdev.sCurCopies = 1;
        Wire(r);
    }

    void Wire(CTSPLRenderClass &renderer) {
        renderer.SetOemCfgPointer(&cfg);
        renderer.SetDevModePointer(&dm);
        renderer.SetOemPdevPointer(&pdev);
    }

    tagOEMCFG cfg;
    _DEVMODE dm;
    _OEMPDEV pdev;
    CTSPLRenderClass r;
};

#endif
