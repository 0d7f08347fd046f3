// The TSPL command vocabulary and the job preamble.
#include "render/TSPLRenderClass.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "RenderMath.h"
#include "log/ILogManager.h"

namespace {

bool WholeMillimetres(int64_t tenths) {
    return tenths % 10 == 0;
}

} // namespace

CTSPLRenderClass::CTSPLRenderClass()
    : pOemCfg(nullptr), pDevMode(nullptr), pOemPdev(nullptr), pOutput(stdout) {}

CTSPLRenderClass::~CTSPLRenderClass() {}

void CTSPLRenderClass::SetOemCfgPointer(tagOEMCFG *cfg) {
    pOemCfg = cfg;
}

void CTSPLRenderClass::SetDevModePointer(_DEVMODE *dm) {
    pDevMode = dm;
}

void CTSPLRenderClass::SetOemPdevPointer(_OEMPDEV *pdev) {
    pOemPdev = pdev;
}

void CTSPLRenderClass::SetOutputStream(FILE *out) {
    pOutput = out;
}

// A short write counts as nothing written, so callers that stop on 0 stop on
// a failed stream as well.
int CTSPLRenderClass::WriteBytes(const void *data, size_t length) {
    if (pOemCfg == nullptr || length == 0) {
        return 0;
    }
    size_t written = fwrite(data, 1, length, pOutput);
    return written == length ? (int)written : 0;
}

int CTSPLRenderClass::WriteCommand(const char *text) {
    return WriteBytes(text, strlen(text));
}

int CTSPLRenderClass::OutPutCLSCommand() {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutCLSCommand in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    strcpy(cmd, "CLS\r\n");
    return WriteCommand(cmd);
}

void CTSPLRenderClass::OutputCRCMD() {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutputCRCMD in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    strcpy(cmd, "\r\n");
    WriteCommand(cmd);
}

int CTSPLRenderClass::OutPutSizeCommand() {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutSizeCommand in");
    if (pOemCfg == nullptr || pDevMode == nullptr || pOemPdev == nullptr) {
        return 0;
    }
    RVC_TRACE("TSPLRenderClass", __LINE__, "dmYResolution  is %d", (int)pDevMode->dmYResolution);
    // A zero resolution gives no size at all; better no SIZE than a guess.
    int32_t width = 0;
    if (rvc_render::LabelWidthDots(*pOemCfg, *pDevMode, *pOemPdev, &width) == 0) {
        return 0;
    }
    // The label's length runs along the feed, with one dot to spare.
    const bool upright = rvc_render::IsUpright(pDevMode->dmOrientation, pOemCfg->sRotate90);
    const _DEVMODE &dm = *pDevMode;
    const int32_t length =
        upright ? pOemPdev->srcGdiInfo.szlPhysSize.cy : pOemPdev->srcGdiInfo.szlPhysSize.cx;
    const int32_t height =
        Low32((int64_t)rvc_render::ScaleDots(pOemCfg->sOutputYDPI, length,
                                             upright ? dm.dmYResolution : dm.dmPrintQuality) +
              1);
    RVC_TRACE("TSPLRenderClass", __LINE__, "dmPrintQuality  is %d", (int)pDevMode->dmPrintQuality);

    int maxWidth = rvc_render::MmToDots(pOemCfg->sMaxOutputWidth, pOemCfg->sOutputXDPI);
    // Without a maximum width (0) the label keeps the page's own width.
    if (maxWidth != 0 && (uint32_t)width > (uint32_t)maxWidth) {
        width = (int32_t)(((uint32_t)maxWidth + 7u) & ~7u);
    }

    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "SIZE %d dot,%d dot\r\n", (int)width, (int)height);
    RVC_TRACE("TSPLRenderClass", __LINE__, "OutPutSizeCommand cmd is %s", cmd);
    pOemPdev->nSizeWidth = width;
    pOemPdev->nSizeHeight = height;
    return WriteCommand(cmd);
}

int CTSPLRenderClass::OutPutSizeCommand(int width, int height) {
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "SIZE %d dot,%d dot\r\n", width, height);
    return WriteCommand(cmd);
}

namespace {

// "GAP a mm,b mm": each value in whole millimetres when it is one, else with
// one decimal.
void FormatGap(char *cmd, size_t size, short first, short second) {
    bool firstWhole = WholeMillimetres(first);
    bool secondWhole = WholeMillimetres(second);
    if (firstWhole && secondWhole) {
        snprintf(cmd, size, "GAP %d mm,%d mm\r\n", first / 10, second / 10);
    } else if (!firstWhole && secondWhole) {
        snprintf(cmd, size, "GAP %0.1f mm,%d mm\r\n", first / 10.0, second / 10);
    } else if (firstWhole) {
        snprintf(cmd, size, "GAP %d mm,%0.1f mm\r\n", first / 10, second / 10.0);
    } else {
        snprintf(cmd, size, "GAP %0.1f mm,%0.1f mm\r\n", first / 10.0, second / 10.0);
    }
}

} // namespace

int CTSPLRenderClass::OutputGapCmd(short distance, short offset) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutputGapCmd in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    FormatGap(cmd, sizeof(cmd), distance, offset);
    return WriteCommand(cmd);
}

int CTSPLRenderClass::OutputBLineCmd(short height, short offset) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutputBLineCmd in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    FormatGap(cmd, sizeof(cmd), height, offset);
    return WriteCommand(cmd);
}

int CTSPLRenderClass::OutputPaperTypeCmd(short method) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutputPaperTypeCmd in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    if (method == 1) {
        strcpy(cmd, "SET RIBBON OFF\r\n");
    } else if (method == 2) {
        strcpy(cmd, "SET RIBBON ON\r\n");
    }
    return WriteCommand(cmd);
}

int CTSPLRenderClass::OutputPeelCmd(short on) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutputPeelCmd in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    if (on == 0) {
        strcpy(cmd, "SET PEEL OFF\r\n");
    } else if (on == 1) {
        strcpy(cmd, "SET PEEL ON\r\n");
    }
    return WriteCommand(cmd);
}

int CTSPLRenderClass::OutputTearCmd(short on) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutputTearCmd in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    if (on == 0) {
        strcpy(cmd, "SET TEAR OFF\r\n");
    } else if (on == 1) {
        strcpy(cmd, "SET TEAR ON\r\n");
    }
    return WriteCommand(cmd);
}

int CTSPLRenderClass::OutputCutterCmd(long count) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutputCutterCmd in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    if (count == 0) {
        strcpy(cmd, "SET CUTTER OFF\r\n");
    } else {
        snprintf(cmd, sizeof(cmd), "SET CUTTER %d\r\n", (int)Low32(count));
    }
    return WriteCommand(cmd);
}

int CTSPLRenderClass::OutputFeedLenCmd(long feed) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutputFeedLenCmd in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    if (WholeMillimetres(feed)) {
        snprintf(cmd, sizeof(cmd), "OFFSET %d mm\r\n", (int)Low32(feed / 10));
    } else {
        snprintf(cmd, sizeof(cmd), "OFFSET %0.1f mm\r\n", (double)(float)feed / 10.0);
    }
    return WriteCommand(cmd);
}

int CTSPLRenderClass::OutPutREFERENCECommand(tagPOINT point) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutREFERENCECommand in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "REFERENCE %d,%d\r\n", (int)point.x, (int)point.y);
    return WriteCommand(cmd);
}

int CTSPLRenderClass::OutPutDIRECTIONCommand(int a, int b) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutDIRECTIONCommand in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "DIRECTION %d,%d\r\n", a, b);
    return WriteCommand(cmd);
}

int CTSPLRenderClass::OutPutDensityCommand(int density) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutDensityCommand in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "DENSITY %d\r\n", density);
    return WriteCommand(cmd);
}

int CTSPLRenderClass::OutPutBITMAPCommand(tagRECT &rect) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutBITMAPCommand in");
    if (pOemCfg == nullptr) {
        return 0;
    }
    int32_t left8 = rect.left / 8 * 8;
    int32_t x = rect.left < 1 ? 0 : left8;
    int32_t y = rect.top < 0 ? 0 : rect.top;
    int32_t widthBytes = Low32(Low32((int64_t)rect.right - left8 + 8) / 8);
    int32_t height = Low32((int64_t)rect.bottom - rect.top + 1);
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "BITMAP %d,%d,%d,%d,%d,", (int)x, (int)y, (int)widthBytes,
             (int)height, 0);
    return WriteCommand(cmd);
}

int CTSPLRenderClass::OutPutCopiesCommand(long copies) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutCopiesCommand in");
    if (pOemCfg == nullptr || pDevMode == nullptr) {
        return 0;
    }
    int count = pDevMode->dmCollate == 1 ? 1 : (int)Low32(copies);
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "PRINT %d,%d\r\n", 1, count);
    return WriteCommand(cmd);
}

int CTSPLRenderClass::StartDocCMD() {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method StartDocCMD in");
    if (OutPutCLSCommand() == 0) {
        return 0;
    }
    if (OutputLabelSetup() == 0) {
        return 0;
    }
    if (pOemCfg->sPaperType != 0 && OutputPaperTypeCmd(pOemCfg->sPaperType) == 0) {
        return 0;
    }
    if (OutPutDIRECTIONCommand(1, 0) == 0) {
        return 0;
    }
    tagPOINT origin = {0, 0};
    if (OutPutREFERENCECommand(origin) == 0) {
        return 0;
    }
    if (OutPutDensityCommand((int)Low32(pOemCfg->sDensity)) == 0) {
        return 0;
    }
    if (OutputFeedLenCmd(pOemCfg->sFeedLen) == 0) {
        return 0;
    }
    OutputPostPrintAction();
    return 1;
}

int CTSPLRenderClass::OutputLabelSetup() {
    if (pOemCfg->sPaperMode != 0) {
        // Paper saving: every page brings its own SIZE.
        return OutputGapCmd(0, 0);
    }
    if (OutPutSizeCommand() == 0) {
        return 0;
    }
    switch (pOemCfg->sLabelType) {
    case 0:
        return 1;
    case 1:
        return OutputGapCmd(pOemCfg->GAPHeight, pOemCfg->GAPOffset);
    case 2:
        return OutputBLineCmd(pOemCfg->sBLineHeight, pOemCfg->sBLineOffset);
    default:
        return OutputGapCmd(0, 0);
    }
}

void CTSPLRenderClass::OutputPostPrintAction() {
    switch (pOemCfg->dwOperationAfterPrn) {
    case 1:
        OutputTearCmd(0);
        OutputPeelCmd(0);
        OutputCutterCmd(0);
        break;
    case 2:
        OutputTearCmd(0);
        OutputPeelCmd(1);
        OutputCutterCmd(0);
        break;
    case 3:
        OutputTearCmd(1);
        OutputPeelCmd(0);
        OutputCutterCmd(0);
        break;
    case 4:
        // The cutter is set with the pages, where the cut positions are known.
        OutputTearCmd(0);
        OutputPeelCmd(0);
        break;
    default:
        break;
    }
}
