// The renderer's commands, label sizes, preambles and page commands for the
// cases of a data file, against a golden file; the cutter's cuts over whole
// jobs through the viewer's printer model.
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "render/TSPLRenderClass.h"
#include "tests/support/Support.h"

namespace {

// A 4 x 6 inch label at 203 dpi, raster and printer alike, with a 3 mm gap
// and tear-off; rect is the page's inked area.
struct Records {
    tagOEMCFG cfg{};
    _DEVMODE dm{};
    _OEMPDEV pdev{};
    tagRECT rect = {16, 40, 23, 41};
    int last = 0;
    Records() {
        cfg.sOutputXDPI = cfg.sOutputYDPI = 203;
        cfg.sMaxOutputWidth = 104;
        cfg.sDensity = 8;
        cfg.dwOperationAfterPrn = 1;
        cfg.sLabelType = 1;
        cfg.GAPHeight = 30;
        dm.dmOrientation = 1;
        dm.dmPrintQuality = dm.dmYResolution = 203;
        pdev.srcGdiInfo.szlPhysSize = {812, 1218};
        pdev.sCurCopies = 1;
        pdev.dwCurPageNum = 1;
    }
    long configured = 1;
    long room = 0; // > 0: a stream that takes room - 1 bytes, then fails
    // One renderer call, as the filter makes it: its bytes and its result.
    std::string Call(const std::function<int(CTSPLRenderClass &)> &fn, int *result = nullptr) {
        char *bytes = nullptr, full[100] = "";
        size_t size = 0;
        FILE *out = room ? fmemopen(full, (size_t)room, "w") : open_memstream(&bytes, &size);
        if (room)
            setvbuf(out, nullptr, _IONBF, 0);
        CTSPLRenderClass r;
        r.SetOemCfgPointer(configured ? &cfg : nullptr);
        r.SetDevModePointer(&dm);
        r.SetOemPdevPointer(&pdev);
        r.SetOutputStream(out);
        const int res = fn(r);
        fclose(out);
        std::string text = room ? full : std::string(bytes ? bytes : "", size);
        free(bytes);
        if (result)
            *result = res;
        return text;
    }
    // The page's commands with a patterned bitmap of rect.
    std::string Page() {
        const unsigned length =
            (unsigned)((rect.right - rect.left + 1) / 8 * (rect.bottom - rect.top + 1));
        return Call([&](CTSPLRenderClass &r) {
            unsigned char *bitmap = (unsigned char *)malloc(length);
            for (unsigned i = 0; i < length; ++i)
                bitmap[i] = (unsigned char)(i * 7 + 1);
            r.OutPutPageCommands(rect, bitmap, length, rect.bottom - rect.top + 1, last);
            return 0;
        });
    }
    void Set(const std::string &name, const std::string &value) {
        // clang-format off
#define FIELD(rec, f) {#f, [](Records &r, long v) { r.rec.f = v; }}
        static const std::map<std::string, std::function<void(Records &, long)>> fields = {
            FIELD(cfg, sOutputXDPI), FIELD(cfg, sOutputYDPI), FIELD(cfg, sMaxOutputWidth),
            FIELD(cfg, sRotate90), FIELD(cfg, sPaperMode), FIELD(cfg, sLabelType),
            FIELD(cfg, sPaperType), FIELD(cfg, sBLineHeight), FIELD(cfg, sBLineOffset),
            FIELD(cfg, dwOperationAfterPrn), FIELD(cfg, dwOperationModeAfterPrn),
            FIELD(cfg, sIntervalValue), FIELD(dm, dmOrientation), FIELD(dm, dmPrintQuality),
            FIELD(dm, dmYResolution), FIELD(dm, dmCollate), FIELD(pdev, sCurCopies),
            FIELD(pdev, dwCurPageNum), FIELD(pdev, dwPagePrinted),
            {"cx", [](Records &r, long v) { r.pdev.srcGdiInfo.szlPhysSize.cx = (int32_t)v; }},
            {"cy", [](Records &r, long v) { r.pdev.srcGdiInfo.szlPhysSize.cy = (int32_t)v; }},
            {"last", [](Records &r, long v) { r.last = (int)v; }},
            {"configured", [](Records &r, long v) { r.configured = v; }},
            {"room", [](Records &r, long v) { r.room = v; }}};
        // clang-format on
#undef FIELD
        if (name == "rect") {
            sscanf(value.c_str(), "%d,%d,%d,%d", &rect.left, &rect.top, &rect.right, &rect.bottom);
        } else {
            ASSERT_TRUE(fields.count(name)) << name;
            fields.at(name)(*this, std::stol(value));
        }
    }
};

using Op = std::function<int(CTSPLRenderClass &, const std::vector<long> &)>;
// clang-format off
#define CMD(name, ...) \
    {name, [](CTSPLRenderClass &r, [[maybe_unused]] const std::vector<long> &a) { return __VA_ARGS__; }}
const std::map<std::string, Op> kCommands = {
    CMD("cls", r.OutPutCLSCommand()), CMD("cr", (r.OutputCRCMD(), 2)),
    CMD("size", r.OutPutSizeCommand(a[0], a[1])), CMD("gap", r.OutputGapCmd(a[0], a[1])),
    CMD("bline", r.OutputBLineCmd(a[0], a[1])), CMD("papertype", r.OutputPaperTypeCmd(a[0])),
    CMD("peel", r.OutputPeelCmd(a[0])), CMD("tear", r.OutputTearCmd(a[0])),
    CMD("cutter", r.OutputCutterCmd(a[0])), CMD("feed", r.OutputFeedLenCmd(a[0])),
    CMD("reference", r.OutPutREFERENCECommand({(int32_t)a[0], (int32_t)a[1]})),
    CMD("direction", r.OutPutDIRECTIONCommand(a[0], a[1])),
    CMD("density", r.OutPutDensityCommand(a[0])), CMD("copies", r.OutPutCopiesCommand(a[0])),
    CMD("trans", r.TransCommand(a[0])),
    CMD("bitmap", [&] {
        tagRECT rect = {(int32_t)a[0], (int32_t)a[1], (int32_t)a[2], (int32_t)a[3]};
        return r.OutPutBITMAPCommand(rect); }())};
#undef CMD
// clang-format on

TEST(Render, CasesOfTheDataFile) {
    std::string text;
    for (const std::string &line : rvt::CaseLines("render-cases.txt")) {
        Records rec;
        std::istringstream fields(
            line.substr(line.find('|') == std::string::npos ? line.size() : line.find('|') + 1));
        for (std::string f; fields >> f;)
            rec.Set(f.substr(0, f.find('=')), f.substr(f.find('=') + 1));
        std::istringstream head(line.substr(0, line.find('|')));
        std::string kind, bytes;
        head >> kind;
        int result = -1;
        if (kind == "command") {
            std::string op;
            std::vector<long> args;
            head >> op;
            for (long v; head >> v;)
                args.push_back(v);
            ASSERT_TRUE(kCommands.count(op)) << line;
            bytes =
                rec.Call([&](CTSPLRenderClass &r) { return kCommands.at(op)(r, args); }, &result);
            EXPECT_EQ(result, (int)bytes.size()) << line; // every command returns its length
        } else if (kind == "size") {
            bytes = rec.Call([](CTSPLRenderClass &r) { return r.OutPutSizeCommand(); }, &result);
        } else if (kind == "preamble") {
            bytes = rec.Call([](CTSPLRenderClass &r) { return r.StartDocCMD(); }, &result);
        } else {
            bytes = rec.Page();
        }
        text += "=== " + line + "\n" + rvt::Escape(bytes) + "\n--- result " +
                std::to_string(result) + ", label " + std::to_string(rec.pdev.nSizeWidth) + " x " +
                std::to_string(rec.pdev.nSizeHeight) + ", labels counted " +
                std::to_string(rec.pdev.dwPagePrinted) + "\n";
    }
    rvt::ExpectGolden("render.txt", text);
}

// Whole jobs over a grid of method, copies, interval and page count, as the
// viewer's printer model counts their labels and cuts.
TEST(Render, CutsOverWholeJobs) {
    std::string text;
    for (int method : {1, 2, 3, 7})
        for (int16_t copies : {0, 1, 2, 5})
            for (int16_t interval : {0, 1, 3})
                for (uint32_t pages : {1u, 4u}) {
                    Records rec;
                    rec.cfg.dwOperationAfterPrn = 4;
                    rec.cfg.dwOperationModeAfterPrn = (uint64_t)method;
                    rec.cfg.sIntervalValue = interval;
                    rec.pdev.sCurCopies = copies;
                    std::string job = "SIZE 64 dot,64 dot\r\n", cuts;
                    for (uint32_t n = 1; n <= pages; ++n) {
                        rec.pdev.dwCurPageNum = n;
                        rec.last = n == pages;
                        job += rec.Page();
                    }
                    const tsplview::Job printed = rvt::ReadTspl(job);
                    for (const tsplview::Label &l : printed.labels)
                        for (long cut : l.cutsAfter)
                            cuts += " " + std::to_string(cut);
                    char line[160];
                    snprintf(line, sizeof(line),
                             "method %d, %d copies, interval %d, %u pages: %ld labels (%u "
                             "counted), cuts after%s\n",
                             method, copies, interval, pages, printed.totalLabels,
                             rec.pdev.dwPagePrinted, cuts.c_str());
                    text += line;
                }
    rvt::ExpectGolden("cuts.txt", text);
}

} // namespace
