// The commands of one packed page: CLS, the paper-saving SIZE, the print
// blocks and the cutter sequencing that puts a cut after every n-th label
// of the job.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "RenderMath.h"
#include "log/ILogManager.h"
#include "render/TSPLRenderClass.h"

namespace {

enum { kCutterAction = 4 };

// Label width for a page of its own in paper-saving mode; 0 when a zero
// resolution leaves it undefined.
int PaperSavingWidth(const tagOEMCFG &cfg, const _DEVMODE &dm, const _OEMPDEV &pdev,
                     int32_t *width) {
    if (rvc_render::LabelWidthDots(cfg, dm, pdev, width) == 0) {
        return 0;
    }
    int maxWidth = rvc_render::MmToDots(cfg.sMaxOutputWidth, cfg.sOutputXDPI);
    // No maximum width (0) leaves the page's own width.
    if (maxWidth != 0 && *width > maxWidth) {
        *width = rvc_render::Up8(maxWidth);
    }
    return 1;
}

} // namespace

void CTSPLRenderClass::OutPutPageCommands(tagRECT rect, unsigned char *bitmap, unsigned int length,
                                          int height, int isLast) {
    if (pOemCfg == nullptr || pDevMode == nullptr || pOemPdev == nullptr) {
        free(bitmap);
        return;
    }
    tagPAGEBITMAP page = {rect, bitmap, length};
    OutPutCLSCommand();
    if (pOemCfg->sPaperMode != 0) {
        int32_t width = 0;
        if (PaperSavingWidth(*pOemCfg, *pDevMode, *pOemPdev, &width) != 0) {
            OutPutSizeCommand((int)width, (int)Low32((int64_t)height + 8));
        }
        // The label is cut to the bitmap, so the bitmap starts at its top.
        page.rect.top = 0;
        page.rect.bottom = Low32((int64_t)height - 1);
    }
    if (pOemCfg->dwOperationAfterPrn != kCutterAction) {
        OutputPrintBlock(page, pOemPdev->sCurCopies);
    } else {
        OutputCutterSequence(page, isLast);
    }
    free(bitmap);
}

// One print block: the same bitmap is sent again for every block.
void CTSPLRenderClass::OutputPrintBlock(tagPAGEBITMAP &page, int32_t count) {
    OutPutBITMAPCommand(page.rect);
    if (page.bitmap != nullptr) {
        WriteBytes(page.bitmap, page.dwLength);
    }
    OutputCRCMD();
    OutPutCopiesCommand(count);
}

// With the cutter the job's labels are counted, to place the cuts. The
// record is packed: its counter is read and stored by value, never bound to
// a (misaligned) reference.
void CTSPLRenderClass::OutputCountedBlock(tagPAGEBITMAP &page, int32_t count) {
    OutputPrintBlock(page, count);
    uint32_t printed = pOemPdev->dwPagePrinted;
    pOemPdev->dwPagePrinted = printed + (uint32_t)count;
}

void CTSPLRenderClass::OutputCutterSequence(tagPAGEBITMAP &page, int isLast) {
    const int32_t copies = pOemPdev->sCurCopies;
    const bool firstPage = pOemPdev->dwCurPageNum == 1;
    switch (pOemCfg->dwOperationModeAfterPrn) {
    case 1:
        // Cut after every label: the printer keeps the setting for the job.
        if (firstPage) {
            OutputCutterCmd(1);
        }
        OutputCountedBlock(page, copies);
        break;
    case 2:
        // Cut once, after the job's last label.
        if (isLast) {
            OutputCutterCmd(copies >= 2 ? copies : 1);
        } else if (firstPage) {
            OutputCutterCmd(0);
        }
        OutputCountedBlock(page, copies);
        break;
    case 3:
        OutputEveryNthCut(page, isLast);
        break;
    default:
        // An unknown cutting method still prints the page, without cuts.
        OutputCountedBlock(page, copies);
        break;
    }
}

// Cut after every n-th label of the job, across pages: the page's copies are
// split into blocks so that each cut falls after a block of one label.
void CTSPLRenderClass::OutputEveryNthCut(tagPAGEBITMAP &page, int isLast) {
    const int32_t copies = pOemPdev->sCurCopies;
    const int32_t interval = pOemCfg->sIntervalValue;
    if (interval <= 0) {
        OutputCutterCmd(isLast ? 1 : 0);
        OutputCountedBlock(page, copies);
        return;
    }
    if (copies <= 1) {
        uint32_t printed = pOemPdev->dwPagePrinted;
        bool cut = ((uint32_t)copies + printed) % (uint32_t)interval == 0 || isLast;
        OutputCutterCmd(cut ? 1 : 0);
        OutputCountedBlock(page, 1);
        return;
    }
    uint32_t printed = pOemPdev->dwPagePrinted;
    int32_t sum = (int32_t)(printed % (uint32_t)interval) + copies;
    int32_t rounds = sum / interval;
    int32_t rest = sum % interval;
    for (int32_t i = 0; i < rounds; ++i) {
        printed = pOemPdev->dwPagePrinted;
        OutputCutterCmd(0);
        OutputCountedBlock(page, interval - 1 - (int32_t)(printed % (uint32_t)interval));
        OutputCutterCmd(1);
        OutputCountedBlock(page, 1);
    }
    if (rest != 0) {
        // On the last page the final label gets a block of its own with the
        // cutter on, so the job ends with a cut.
        OutputCutterCmd(0);
        OutputCountedBlock(page, isLast ? rest - 1 : rest);
        if (isLast) {
            OutputCutterCmd(1);
            OutputCountedBlock(page, 1);
        }
    }
}
