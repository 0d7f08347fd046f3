// The page loop as a unit that a front end drives: the filter's raster
// reader, or any other source of page headers and rows.
//
//   PageLoopStart      once per job: the PPD (defaults and job options
//                      already marked) and the stream the job data goes to;
//   PageLoopBeginPage  for every page header; the first one fills the job's
//                      settings and writes the preamble, every later one
//                      emits the page held so far (one page late, so the
//                      last page can finish the cutter sequence);
//   PageLoopStoreRow   for every raster line of the page, top down;
//   PageLoopEndPage    after the page's rows: it is now the held page;
//   PageLoopFinish     emits the held page as the last one and returns the
//                      job's exit status.
//
// The settings records and the page buffer are the process-wide g_oemCfg,
// g_devMode and g_oemPDEV, so one job runs at a time in a process: a front
// end that runs jobs in several threads serialises them.
#ifndef RVC_FILTER_PAGELOOP_H
#define RVC_FILTER_PAGELOOP_H

#include <cstdint>
#include <cstdio>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "settings/devmode.h"
#include "settings/oemcfg.h"

// The job's records, owned by the page loop and filled on the first page.
extern tagOEMCFG g_oemCfg;
extern _DEVMODE g_devMode;
extern _OEMPDEV g_oemPDEV;

// Layout of one page image: rows top-down, pixels blue-green-red (or one
// grey byte), each row padded to a multiple of 4 bytes.
struct tagPAGELAYOUT {
    uint32_t dwWidth;         // pixels per row
    uint32_t dwHeight;        // rows
    uint32_t dwBytesPerPixel; // 3 (colour) or 1 (grey)
    uint32_t dwRowBytes;      // pixel bytes of a row, without padding
    uint32_t dwStride;        // row distance in bytes
    uint32_t dwSize;          // stride x rows
};

struct tagPAGELOOP {
    ppd_file_t *ppd;           // the job's PPD, options marked; not owned
    FILE *out;                 // where the job data goes; not owned
    int nPageCount;            // page headers begun so far
    int nStatus;               // 0, or 1 once the job has failed
    int bOutputFailed;         // a write to out failed (already reported)
    tagPAGELAYOUT firstLayout; // every page is stored in the first's layout
    tagPAGELAYOUT pageLayout;  // the layout of the page being stored
    uint32_t dwStoredRows;     // rows of the page stored (or whitened) so far
    unsigned char *pLine;      // cupsBytesPerLine bytes a front end may read a line into
};

// Marks the PPD's defaults, then the job's options (a CUPS option string)
// over them.
void InitializeSetting(char *options, ppd_file_t *ppd);

// The page header report in the log.
void StartPage(const ppd_file_t *ppd, const cups_page_header2_t *header, int page);

// Clears the job's records and starts a job; nothing is written yet.
void PageLoopStart(tagPAGELOOP *loop, ppd_file_t *ppd, FILE *out);

// Begins page n = ++nPageCount with its header: the header report in the
// log, on the first page the settings and the preamble, then the emission of
// the held page and a fresh page buffer. 1: store the page's rows; 0: the job
// is over (the reason is reported on standard error, nStatus is 1), call
// PageLoopFinish. While the page is stored, pLine is a line buffer of the
// page's cupsBytesPerLine bytes.
int PageLoopBeginPage(tagPAGELOOP *loop, const cups_page_header2_t *header);

// Stores raster line y (cupsBytesPerLine bytes as the header describes) of
// the page begun last. Lines beyond the first page's height are cut off;
// skipped lines print white.
void PageLoopStoreRow(tagPAGELOOP *loop, uint32_t y, const unsigned char *pixels);

// The page begun last is complete; lines never stored print white.
void PageLoopEndPage(tagPAGELOOP *loop);

// Emits the held page as the last of the job, releases the page buffer and
// flushes the stream. Returns the job's status: 0, or 1 after a failure
// (reported on standard error).
int PageLoopFinish(tagPAGELOOP *loop);

#endif
