// The TSPL command vocabulary and the job preamble.
#include "render/TSPLRenderClass.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "log/ILogManager.h"
#include "render/RenderMath.h"

namespace {

// One buffered write per command. A short write counts as nothing written,
// so callers that stop on 0 stop on a failed stream as well.
int WriteCommand(const tagOEMCFG *cfg, const char *text) {
    if (cfg == nullptr) {
        return 0;
    }
    size_t len = strlen(text);
    if (len == 0) {
        return 0;
    }
    size_t written = fwrite(text, 1, len, stdout);
    return written == len ? (int)written : 0;
}

bool WholeMillimetres(int64_t tenths) { return tenths % 10 == 0; }

} // namespace

CTSPLRenderClass::CTSPLRenderClass() : pOemCfg(nullptr), pDevMode(nullptr), pOemPdev(nullptr) {}

CTSPLRenderClass::~CTSPLRenderClass() {}

void CTSPLRenderClass::SetOemCfgPointer(tagOEMCFG *cfg) { pOemCfg = cfg; }

void CTSPLRenderClass::SetDevModePointer(_DEVMODE *dm) { pDevMode = dm; }

void CTSPLRenderClass::SetOemPdevPointer(_OEMPDEV *pdev) { pOemPdev = pdev; }

int CTSPLRenderClass::OutPutCLSCommand() {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutCLSCommand in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    strcpy(cmd, "CLS\r\n");
    return WriteCommand(pOemCfg, cmd);
}

void CTSPLRenderClass::OutputCRCMD() {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutputCRCMD in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    strcpy(cmd, "\r\n");
    WriteCommand(pOemCfg, cmd);
}

int CTSPLRenderClass::OutPutSizeCommand() {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutSizeCommand in");
    if (pOemCfg == nullptr || pDevMode == nullptr || pOemPdev == nullptr) {
        return 0;
    }
    RVC_TRACE("TSPLRenderClass", __LINE__, "dmYResolution  is %d", (int)pDevMode->dmYResolution);
    // A zero resolution gives no size at all; better no SIZE than a guess.
    if (pDevMode->dmPrintQuality == 0 || pDevMode->dmYResolution == 0) {
        return 0;
    }
    int32_t cx = pOemPdev->srcGdiInfo.szlPhysSize.cx;
    int32_t cy = pOemPdev->srcGdiInfo.szlPhysSize.cy;
    int32_t width;
    int32_t height;
    if (rvc_render::IsUpright(pDevMode->dmOrientation, pOemCfg->sRotate90)) {
        width = rvc_render::Up8(
            rvc_render::ScaleDots(pOemCfg->sOutputXDPI, cx, pDevMode->dmPrintQuality));
        height = rvc_render::Low32(
            (int64_t)rvc_render::ScaleDots(pOemCfg->sOutputYDPI, cy, pDevMode->dmYResolution) + 1);
    } else {
        width = rvc_render::Up8(
            rvc_render::ScaleDots(pOemCfg->sOutputXDPI, cy, pDevMode->dmYResolution));
        height = rvc_render::Low32(
            (int64_t)rvc_render::ScaleDots(pOemCfg->sOutputYDPI, cx, pDevMode->dmPrintQuality) + 1);
    }
    RVC_TRACE("TSPLRenderClass", __LINE__, "dmPrintQuality  is %d", (int)pDevMode->dmPrintQuality);

    int maxWidth =
        (int)(pOemCfg->sMaxOutputWidth * 1000.0 * pOemCfg->sOutputXDPI / 25400.0 + 0.5);
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
    return WriteCommand(pOemCfg, cmd);
}

int CTSPLRenderClass::OutPutSizeCommand(int width, int height) {
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "SIZE %d dot,%d dot\r\n", width, height);
    return WriteCommand(pOemCfg, cmd);
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
    return WriteCommand(pOemCfg, cmd);
}

int CTSPLRenderClass::OutputBLineCmd(short height, short offset) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutputBLineCmd in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    FormatGap(cmd, sizeof(cmd), height, offset);
    return WriteCommand(pOemCfg, cmd);
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
    return WriteCommand(pOemCfg, cmd);
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
    return WriteCommand(pOemCfg, cmd);
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
    return WriteCommand(pOemCfg, cmd);
}

int CTSPLRenderClass::OutputCutterCmd(long count) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutputCutterCmd in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    if (count == 0) {
        strcpy(cmd, "SET CUTTER OFF\r\n");
    } else {
        snprintf(cmd, sizeof(cmd), "SET CUTTER %d\r\n", (int)rvc_render::Low32(count));
    }
    return WriteCommand(pOemCfg, cmd);
}

int CTSPLRenderClass::OutputFeedLenCmd(long feed) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutputFeedLenCmd in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    if (WholeMillimetres(feed)) {
        snprintf(cmd, sizeof(cmd), "OFFSET %d mm\r\n", (int)rvc_render::Low32(feed / 10));
    } else {
        snprintf(cmd, sizeof(cmd), "OFFSET %0.1f mm\r\n", (double)(float)feed / 10.0);
    }
    return WriteCommand(pOemCfg, cmd);
}

int CTSPLRenderClass::OutPutREFERENCECommand(tagPOINT point) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutREFERENCECommand in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "REFERENCE %d,%d\r\n", (int)point.x, (int)point.y);
    return WriteCommand(pOemCfg, cmd);
}

int CTSPLRenderClass::OutPutDIRECTIONCommand(int a, int b) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutDIRECTIONCommand in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "DIRECTION %d,%d\r\n", a, b);
    return WriteCommand(pOemCfg, cmd);
}

int CTSPLRenderClass::OutPutDensityCommand(int density) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutDensityCommand in");
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "DENSITY %d\r\n", density);
    return WriteCommand(pOemCfg, cmd);
}

int CTSPLRenderClass::OutPutBITMAPCommand(tagRECT &rect) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutBITMAPCommand in");
    if (pOemCfg == nullptr) {
        return 0;
    }
    int32_t left8 = rect.left / 8 * 8;
    int32_t x = rect.left < 1 ? 0 : left8;
    int32_t y = rect.top < 0 ? 0 : rect.top;
    int32_t widthBytes =
        rvc_render::Low32(rvc_render::Low32((int64_t)rect.right - left8 + 8) / 8);
    int32_t height = rvc_render::Low32((int64_t)rect.bottom - rect.top + 1);
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "BITMAP %d,%d,%d,%d,%d,", (int)x, (int)y, (int)widthBytes,
             (int)height, 0);
    return WriteCommand(pOemCfg, cmd);
}

int CTSPLRenderClass::OutPutCopiesCommand(long copies) {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method OutPutCopiesCommand in");
    if (pOemCfg == nullptr || pDevMode == nullptr) {
        return 0;
    }
    int count = pDevMode->dmCollate == 1 ? 1 : (int)rvc_render::Low32(copies);
    char cmd[256];
    memset(cmd, 0, sizeof(cmd));
    snprintf(cmd, sizeof(cmd), "PRINT %d,%d\r\n", 1, count);
    return WriteCommand(pOemCfg, cmd);
}

int CTSPLRenderClass::StartDocCMD() {
    RVC_TRACE("TSPLRenderClass", __LINE__, "Method StartDocCMD in");
    if (OutPutCLSCommand() == 0) {
        return 0;
    }
    if (pOemCfg->sPaperMode != 0) {
        // Paper saving: every page brings its own SIZE.
        if (OutputGapCmd(0, 0) == 0) {
            return 0;
        }
    } else {
        if (OutPutSizeCommand() == 0) {
            return 0;
        }
        int media = 1;
        switch (pOemCfg->sLabelType) {
        case 0:
            break;
        case 1:
            media = OutputGapCmd(pOemCfg->GAPHeight, pOemCfg->GAPOffset);
            break;
        case 2:
            media = OutputBLineCmd(pOemCfg->sBLineHeight, pOemCfg->sBLineOffset);
            break;
        default:
            media = OutputGapCmd(0, 0);
            break;
        }
        if (media == 0) {
            return 0;
        }
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
    if (OutPutDensityCommand((int)rvc_render::Low32(pOemCfg->sDensity)) == 0) {
        return 0;
    }
    if (OutputFeedLenCmd(pOemCfg->sFeedLen) == 0) {
        return 0;
    }
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
    return 1;
}
