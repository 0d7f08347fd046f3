// TSPL job data for one call of the filter driver: the job preamble or one
// page. The object keeps nothing between calls; what must outlive a call is
// written into the page-device state.
#ifndef RVC_RENDER_TSPLRENDERCLASS_H
#define RVC_RENDER_TSPLRENDERCLASS_H

#include <cstdio>

#include "settings/bitmap_types.h"
#include "settings/devmode.h"
#include "settings/oemcfg.h"

// A packed page as the page commands send it: its place on the label (edges
// inclusive, in dots) and its 1-bit rows.
struct tagPAGEBITMAP {
    tagRECT rect;
    const unsigned char *bitmap;
    unsigned int dwLength;
};

class CTSPLRenderClass {
  public:
    CTSPLRenderClass();
    ~CTSPLRenderClass();

    void SetOemCfgPointer(tagOEMCFG *cfg);
    void SetDevModePointer(_DEVMODE *dm);
    void SetOemPdevPointer(_OEMPDEV *pdev);
    // Where the job data goes; standard output unless the caller says
    // otherwise.
    void SetOutputStream(FILE *out);

    // Job preamble: 1 when it reached the post-print action, 0 when it
    // stopped early.
    int StartDocCMD();

    // Prints the held page; 0 (nothing written) for a null configuration or
    // page buffer, 1 otherwise, a blank page included.
    int TransCommand(int isLast);

    // Page commands for a packed page: CLS, the paper-saving SIZE, the print
    // blocks and the cutter sequencing. Releases the bitmap (malloc'ed) on
    // every path.
    void OutPutPageCommands(tagRECT rect, unsigned char *bitmap, unsigned int length, int height,
                            int isLast);

    // Output operations: one command each, returning the bytes written.
    int OutPutCLSCommand();
    void OutputCRCMD();
    // The label size from the page geometry, kept in nSizeWidth and
    // nSizeHeight; 0, nothing written, when a resolution is 0.
    int OutPutSizeCommand();
    int OutPutSizeCommand(int width, int height);
    int OutputGapCmd(short distance, short offset);
    int OutputBLineCmd(short height, short offset);
    int OutputPaperTypeCmd(short method);
    int OutputPeelCmd(short on);
    int OutputTearCmd(short on);
    int OutputCutterCmd(long count);
    int OutputFeedLenCmd(long feed);
    int OutPutREFERENCECommand(tagPOINT point);
    int OutPutDIRECTIONCommand(int a, int b);
    int OutPutDensityCommand(int density);
    int OutPutBITMAPCommand(tagRECT &rect);
    int OutPutCopiesCommand(long copies);

    tagOEMCFG *pOemCfg;
    _DEVMODE *pDevMode;
    _OEMPDEV *pOemPdev;
    FILE *pOutput;

  private:
    // One buffered write of a command or of bitmap bytes; the bytes written,
    // 0 when nothing (or not everything) was written.
    int WriteBytes(const void *data, size_t length);
    int WriteCommand(const char *text);
    // Preamble steps: label size and media sensing, then the post-print
    // action. 0 when a command wrote nothing.
    int OutputLabelSetup();
    void OutputPostPrintAction();
    // Page-command steps: one print block (BITMAP, data, CR LF, PRINT), and
    // the cutter sequences, which count the job's labels in dwPagePrinted.
    void OutputPrintBlock(tagPAGEBITMAP &page, int32_t count);
    void OutputCountedBlock(tagPAGEBITMAP &page, int32_t count);
    void OutputCutterSequence(tagPAGEBITMAP &page, int isLast);
    void OutputEveryNthCut(tagPAGEBITMAP &page, int isLast);
};

// True once a write to the stream has failed: nothing more is sent then.
inline bool OutputStreamFailed(FILE *out) {
    return ferror(out) != 0;
}

#endif
