// The commands of one packed page: CLS, the paper-saving SIZE, the print
// blocks and the cutter sequencing that puts a cut after every n-th label
// of the job.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "log/ILogManager.h"
#include "render/RenderMath.h"
#include "render/TSPLRenderClass.h"

namespace {

enum { kCutterAction = 4 };

// Label width for a page of its own in paper-saving mode; false when a zero
// resolution leaves it undefined.
bool PaperSavingWidth(const tagOEMCFG &cfg, const _DEVMODE &dm, const _OEMPDEV &pdev,
                      int32_t *width) {
    if (dm.dmPrintQuality == 0 || dm.dmYResolution == 0) {
        return false;
    }
    int32_t w;
    if (rvc_render::IsUpright(dm.dmOrientation, cfg.sRotate90)) {
        w = rvc_render::Up8(rvc_render::ScaleDots(cfg.sOutputXDPI, pdev.srcGdiInfo.szlPhysSize.cx,
                                                  dm.dmPrintQuality));
    } else {
        w = rvc_render::Up8(rvc_render::ScaleDots(cfg.sOutputXDPI, pdev.srcGdiInfo.szlPhysSize.cy,
                                                  dm.dmYResolution));
    }
    int maxWidth = (int)(cfg.sOutputXDPI * (1000.0 * cfg.sMaxOutputWidth) / 25400.0 + 0.5);
    // No maximum width (0) leaves the page's own width.
    if (maxWidth != 0 && w > maxWidth) {
        w = rvc_render::Up8(maxWidth);
    }
    *width = w;
    return true;
}

} // namespace

void CTSPLRenderClass::OutPutPageCommands(tagRECT rect, unsigned char *bitmap, unsigned int length,
                                          int height, int isLast) {
    if (pOemCfg == nullptr || pDevMode == nullptr || pOemPdev == nullptr) {
        free(bitmap);
        return;
    }
    // The record is packed: its counter is read and stored by value, never
    // bound to a (misaligned) reference.
    uint32_t printed = pOemPdev->dwPagePrinted;

    // One print block: the same bitmap is sent again for every block.
    auto writeBlock = [&](int32_t count) {
        OutPutBITMAPCommand(rect);
        if (bitmap != nullptr && length != 0) {
            fwrite(bitmap, 1, length, stdout);
        }
        OutputCRCMD();
        OutPutCopiesCommand(count);
    };
    // With the cutter the job's labels are counted, to place the cuts.
    auto block = [&](int32_t count) {
        writeBlock(count);
        printed += (uint32_t)count;
        pOemPdev->dwPagePrinted = printed;
    };

    OutPutCLSCommand();

    if (pOemCfg->sPaperMode != 0) {
        int32_t width = 0;
        if (PaperSavingWidth(*pOemCfg, *pDevMode, *pOemPdev, &width)) {
            OutPutSizeCommand((int)width, (int)rvc_render::Low32((int64_t)height + 8));
        }
        // The label is cut to the bitmap, so the bitmap starts at its top.
        rect.top = 0;
        rect.bottom = rvc_render::Low32((int64_t)height - 1);
    }

    const int32_t copies = pOemPdev->sCurCopies;
    const bool firstPage = pOemPdev->dwCurPageNum == 1;

    if (pOemCfg->dwOperationAfterPrn != kCutterAction) {
        writeBlock(copies);
        free(bitmap);
        return;
    }

    switch (pOemCfg->dwOperationModeAfterPrn) {
    case 1:
        // Cut after every label: the printer keeps the setting for the job.
        if (firstPage) {
            OutputCutterCmd(1);
        }
        block(copies);
        break;
    case 2:
        // Cut once, after the job's last label.
        if (isLast) {
            OutputCutterCmd(copies >= 2 ? copies : 1);
        } else if (firstPage) {
            OutputCutterCmd(0);
        }
        block(copies);
        break;
    case 3: {
        // Cut after every n-th label of the job, across pages.
        const int32_t interval = pOemCfg->sIntervalValue;
        if (interval <= 0) {
            OutputCutterCmd(isLast ? 1 : 0);
            block(copies);
        } else if (copies <= 1) {
            bool cut = ((uint32_t)copies + printed) % (uint32_t)interval == 0 || isLast;
            OutputCutterCmd(cut ? 1 : 0);
            block(1);
        } else {
            int32_t sum = (int32_t)(printed % (uint32_t)interval) + copies;
            int32_t rounds = sum / interval;
            int32_t rest = sum % interval;
            for (int32_t i = 0; i < rounds; ++i) {
                OutputCutterCmd(0);
                block(interval - 1 - (int32_t)(printed % (uint32_t)interval));
                OutputCutterCmd(1);
                block(1);
            }
            if (rest != 0) {
                // On the last page the final label gets a block of its own
                // with the cutter on, so the job ends with a cut.
                OutputCutterCmd(0);
                block(isLast ? rest - 1 : rest);
                if (isLast) {
                    OutputCutterCmd(1);
                    block(1);
                }
            }
        }
        break;
    }
    default:
        // An unknown cutting method still prints the page, without cuts.
        block(copies);
        break;
    }
    free(bitmap);
}
