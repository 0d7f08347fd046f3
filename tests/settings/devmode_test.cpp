// Device mode and page-device state from the first page header.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/devmode.h"
#include "tests/settings/settings_test_support.h"

namespace {

using rvc_test::Header;
using rvc_test::TraceCapture;
using Lines = std::vector<std::string>;

cups_page_header2_t FirstPage()
{
    cups_page_header2_t header = Header(203, 203);
    header.cupsWidth = 832;
    header.cupsHeight = 1200;
    header.cupsBitsPerPixel = 24;
    header.NumCopies = 2;
    header.Collate = CUPS_FALSE;
    header.Orientation = CUPS_ORIENT_90; // the filter always works in portrait
    return header;
}

TEST(DevMode, FirstPageFillsBothRecords)
{
    TraceCapture trace;
    cups_page_header2_t header = FirstPage();
    _DEVMODE dm;
    memset(&dm, 0x5A, sizeof(dm));
    _OEMPDEV pdev;
    memset(&pdev, 0, sizeof(pdev));
    unsigned char stale[4];
    pdev.bufStart = stale;
    pdev.dwCurPageNum = 9;
    pdev.dwPagePrinted = 9;
    pdev.srcGdiInfo.ptlPhysOffset = {3, 4};
    pdev.dwBufSize = 77;
    pdev.nSizeWidth = 816;
    pdev.nSizeHeight = 1219;

    InitDevmode(&dm, &header);
    InitOemPDEV(&pdev, &header);

    EXPECT_EQ(dm.dmPrintQuality, 203);
    EXPECT_EQ(dm.dmYResolution, 203);
    EXPECT_EQ(dm.dmOrientation, 1);
    EXPECT_EQ(dm.dmCollate, 0);

    EXPECT_EQ(+pdev.bufStart, nullptr);
    EXPECT_EQ(+pdev.bmInfoHeader.biWidth, 832);
    EXPECT_EQ(+pdev.bmInfoHeader.biHeight, 1200);
    EXPECT_EQ(+pdev.bmInfoHeader.biBitCount, 24);
    EXPECT_EQ(+pdev.bmInfoHeader.biSize, 0u);
    EXPECT_EQ(+pdev.bmInfoHeader.biPlanes, 0);
    EXPECT_EQ(+pdev.srcGdiInfo.szlPhysSize.cx, 832);
    EXPECT_EQ(+pdev.srcGdiInfo.szlPhysSize.cy, 1200);
    EXPECT_EQ(+pdev.srcGdiInfo.ulVertRes, 1200u);
    EXPECT_EQ(+pdev.srcGdiInfo.ptlPhysOffset.x, 0);
    EXPECT_EQ(+pdev.srcGdiInfo.ptlPhysOffset.y, 0);
    EXPECT_EQ(+pdev.sCurCopies, 2);
    EXPECT_EQ(+pdev.dwPagePrinted, 0u);
    EXPECT_EQ(+pdev.dwCurPageNum, 0u);
    // Owned by the page loop and the job preamble.
    EXPECT_EQ(+pdev.dwBufSize, 77u);
    EXPECT_EQ(+pdev.nSizeWidth, 816);
    EXPECT_EQ(+pdev.nSizeHeight, 1219);

    EXPECT_EQ(trace.Lines(), (Lines{
                                 "Init dmPrintQuality: 203, dmYResolution: 203 InitalizeOemCfg:477",
                                 "Init dmOrientation: 1 InitalizeOemCfg:478",
                                 "Init dmCollate: 0 InitalizeOemCfg:479",
                                 "Init bmInfoHeader.biWidth: 832 InitalizeOemCfg:515",
                                 "Init bmInfoHeader.biHeight: 1200 InitalizeOemCfg:516",
                                 "Init bmInfoHeader.biBitCount: 24 InitalizeOemCfg:517",
                                 "Init sCurCopies: 2 InitalizeOemCfg:519",
                                 "Init dwPagePrinted: 0 InitalizeOemCfg:520",
                                 "Init dwCurPageNum: 0 InitalizeOemCfg:521",
                                 "Init srcGdiInfo.szlPhysSize.cx: 832 InitalizeOemCfg:522",
                                 "Init srcGdiInfo.szlPhysSize.cy: 1200 InitalizeOemCfg:523",
                                 "Init srcGdiInfo.ptlPhysOffset.x: 0 InitalizeOemCfg:524",
                                 "Init srcGdiInfo.ptlPhysOffset.y: 0 InitalizeOemCfg:525",
                                 "Init srcGdiInfo.ulVertRes: 1200 InitalizeOemCfg:526",
                             }));
}

TEST(DevMode, NarrowMembersKeepTheLowBits)
{
    TraceCapture trace;
    cups_page_header2_t header = Header(40000, 70000);
    header.Collate = CUPS_TRUE;
    header.NumCopies = 65539;
    header.cupsBitsPerPixel = 65560;
    _DEVMODE dm = {};
    _OEMPDEV pdev = {};
    InitDevmode(&dm, &header);
    InitOemPDEV(&pdev, &header);
    EXPECT_EQ(dm.dmPrintQuality, -25536);
    EXPECT_EQ(dm.dmYResolution, 4464);
    EXPECT_EQ(dm.dmCollate, 1);
    EXPECT_EQ(+pdev.sCurCopies, 3);
    EXPECT_EQ(+pdev.bmInfoHeader.biBitCount, 24);
    Lines lines = trace.Lines();
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[0], "Init dmPrintQuality: -25536, dmYResolution: 4464 InitalizeOemCfg:477");
    EXPECT_EQ(lines[2], "Init dmCollate: 1 InitalizeOemCfg:479");
    EXPECT_EQ(lines[6], "Init sCurCopies: 3 InitalizeOemCfg:519");
}

TEST(DevMode, NullArgumentsChangeAndLogNothing)
{
    TraceCapture trace;
    cups_page_header2_t header = FirstPage();
    _DEVMODE dm;
    memset(&dm, 0x5A, sizeof(dm));
    _OEMPDEV pdev;
    memset(&pdev, 0x5A, sizeof(pdev));
    _DEVMODE dmBefore = dm;
    _OEMPDEV pdevBefore = pdev;

    InitDevmode(&dm, nullptr);
    InitOemPDEV(&pdev, nullptr);
    InitDevmode(nullptr, &header);
    InitOemPDEV(nullptr, &header);
    EXPECT_EQ(memcmp(&dm, &dmBefore, sizeof(dm)), 0);
    EXPECT_EQ(memcmp(&pdev, &pdevBefore, sizeof(pdev)), 0);
    EXPECT_EQ(trace.Lines(), Lines{});
}

} // namespace
