// The commands of a page: byte-exact pages, paper saving and the cutter
// sequencing over whole jobs, checked against a model of the printer.
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tests/render/RenderFixture.h"

namespace {

const tagRECT kInked = {16, 40, 111, 139}; // 12 bytes by 100 rows
const unsigned kLength = 1200;

std::string Pattern() {
    std::string bytes(kLength, '\0');
    for (unsigned i = 0; i < kLength; ++i) {
        bytes[i] = (char)(i * 7 + 1);
    }
    return bytes;
}

// The page's commands, one per entry; each bitmap payload is checked and
// replaced by "<data>", the CR LF after it dropped.
std::vector<std::string> Split(const std::string &out) {
    const std::string data = Pattern();
    std::vector<std::string> cmds;
    size_t at = 0;
    while (at < out.size()) {
        if (out.compare(at, 7, "BITMAP ") == 0) {
            size_t end = at;
            for (int commas = 0; commas < 5; ++commas) {
                end = out.find(',', end) + 1;
            }
            cmds.push_back(out.substr(at, end - at));
            EXPECT_EQ(out.substr(end, kLength + 2), data + "\r\n");
            cmds.push_back("<data>");
            at = end + kLength + 2;
            continue;
        }
        size_t end = out.find("\r\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated command: " << out.substr(at);
            break;
        }
        cmds.push_back(out.substr(at, end - at));
        at = end + 2;
    }
    return cmds;
}

class PageTest : public RenderTest {
protected:
    // Emits one page as the filter would, with a fresh renderer.
    std::vector<std::string> Page(uint32_t number, int isLast, tagRECT rect = kInked) {
        pdev.dwCurPageNum = number;
        CTSPLRenderClass page;
        Wire(page);
        unsigned char *bitmap = (unsigned char *)malloc(kLength);
        memcpy(bitmap, Pattern().data(), kLength);
        StdoutCapture capture;
        page.OutPutPageCommands(rect, bitmap, kLength, 100, isLast);
        return Split(capture.Finish());
    }

    void Cutter(int method, int16_t copies, int16_t interval) {
        cfg.dwOperationAfterPrn = 4;
        cfg.dwOperationModeAfterPrn = (uint64_t)method;
        cfg.sIntervalValue = interval;
        pdev.sCurCopies = copies;
    }
};

using Cmds = std::vector<std::string>;

// A block as the command list shows it.
Cmds Block(const std::string &print, const char *header = "BITMAP 16,40,12,100,0,") {
    return {header, "<data>", print};
}

Cmds Join(std::initializer_list<Cmds> parts) {
    Cmds all;
    for (const Cmds &p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

} // namespace

TEST_F(PageTest, BytesOfOnePage) {
    pdev.sCurCopies = 2;
    unsigned char *bitmap = (unsigned char *)malloc(kLength);
    memcpy(bitmap, Pattern().data(), kLength);
    StdoutCapture capture;
    r.OutPutPageCommands(kInked, bitmap, kLength, 100, 0);
    EXPECT_EQ(capture.Finish(),
              "CLS\r\nBITMAP 16,40,12,100,0," + Pattern() + "\r\nPRINT 1,2\r\n");
    EXPECT_EQ(pdev.dwPagePrinted, 0u); // only the cutter counts labels
}

TEST_F(PageTest, PaperSavingSizesEachLabel) {
    cfg.sPaperMode = 1;
    pdev.sCurCopies = 2;
    const struct {
        int16_t maxWidthMm, rotate90;
        int32_t cx, cy;
        const char *size;
    } cases[] = {
        {104, 0, 812, 1218, "SIZE 816 dot,108 dot"},
        {104, 0, 1624, 1218, "SIZE 832 dot,108 dot"}, // 831 raised to a byte
        {0, 0, 1624, 1218, "SIZE 1624 dot,108 dot"},  // no maximum width
        {200, 1, 812, 1218, "SIZE 1224 dot,108 dot"}, // turned: the page's height
        {104, 0, -812, 1218, "SIZE -800 dot,108 dot"}, // compared signed
    };
    for (const auto &c : cases) {
        cfg.sMaxOutputWidth = c.maxWidthMm;
        cfg.sRotate90 = c.rotate90;
        pdev.srcGdiInfo.szlPhysSize = {c.cx, c.cy};
        EXPECT_EQ(Page(1, 0),
                  Join({{"CLS", c.size}, Block("PRINT 1,2", "BITMAP 16,0,12,100,0,")}));
        EXPECT_EQ(pdev.nSizeWidth, 0);
    }
}

TEST_F(PageTest, PaperSavingWithZeroResolutionOmitsTheSize) {
    cfg.sPaperMode = 1;
    dm.dmPrintQuality = 0;
    EXPECT_EQ(Page(1, 0), Join({{"CLS"}, Block("PRINT 1,1", "BITMAP 16,0,12,100,0,")}));
}

TEST_F(PageTest, IntervalCutsAcrossTwoPages) {
    Cutter(3, 5, 3);
    EXPECT_EQ(Page(1, 0), Join({{"CLS", "SET CUTTER OFF"}, Block("PRINT 1,2"), {"SET CUTTER 1"},
                                Block("PRINT 1,1"), {"SET CUTTER OFF"}, Block("PRINT 1,2")}));
    EXPECT_EQ(pdev.dwPagePrinted, 5u);
    EXPECT_EQ(Page(2, 1),
              Join({{"CLS", "SET CUTTER OFF"}, Block("PRINT 1,0"), {"SET CUTTER 1"},
                    Block("PRINT 1,1"), {"SET CUTTER OFF"}, Block("PRINT 1,2"), {"SET CUTTER 1"},
                    Block("PRINT 1,1"), {"SET CUTTER OFF"}, Block("PRINT 1,0"), {"SET CUTTER 1"},
                    Block("PRINT 1,1")}));
    EXPECT_EQ(pdev.dwPagePrinted, 10u);
}

TEST_F(PageTest, CutterSequencesOfSinglePages) {
    const struct {
        const char *name;
        int method;
        int16_t copies, interval;
        uint32_t number;
        int isLast;
        Cmds expected;
        uint32_t printed;
    } cases[] = {
        {"one-page job, cut at end", 2, 3, 0, 1, 1,
         Join({{"CLS", "SET CUTTER 3"}, Block("PRINT 1,3")}), 3},
        {"every label, first page", 1, 2, 0, 1, 0,
         Join({{"CLS", "SET CUTTER 1"}, Block("PRINT 1,2")}), 2},
        {"every label, later page", 1, 2, 0, 2, 1, Join({{"CLS"}, Block("PRINT 1,2")}), 2},
        {"end cut, first page", 2, 2, 0, 1, 0,
         Join({{"CLS", "SET CUTTER OFF"}, Block("PRINT 1,2")}), 2},
        {"end cut, single copy", 2, 1, 0, 3, 1,
         Join({{"CLS", "SET CUTTER 1"}, Block("PRINT 1,1")}), 1},
        {"each label cut", 3, 2, 1, 2, 0,
         Join({{"CLS", "SET CUTTER OFF"}, Block("PRINT 1,0"), {"SET CUTTER 1"}, Block("PRINT 1,1"),
               {"SET CUTTER OFF"}, Block("PRINT 1,0"), {"SET CUTTER 1"}, Block("PRINT 1,1")}),
         2},
        {"no copies", 3, 0, 3, 2, 0, Join({{"CLS", "SET CUTTER 1"}, Block("PRINT 1,1")}), 1},
        {"no interval, last", 3, 4, 0, 2, 1, Join({{"CLS", "SET CUTTER 1"}, Block("PRINT 1,4")}),
         4},
        {"no interval", 3, 4, -2, 2, 0, Join({{"CLS", "SET CUTTER OFF"}, Block("PRINT 1,4")}), 4},
        // An unknown cutting method still prints, without cutter commands.
        {"unknown method", 9, 4, 3, 1, 0, Join({{"CLS"}, Block("PRINT 1,4")}), 4},
    };
    for (const auto &c : cases) {
        pdev.dwPagePrinted = 0;
        Cutter(c.method, c.copies, c.interval);
        EXPECT_EQ(Page(c.number, c.isLast), c.expected) << c.name;
        EXPECT_EQ(pdev.dwPagePrinted, c.printed) << c.name;
    }
}

TEST_F(PageTest, CollationPrintsSingleCopiesButCountsAll) {
    dm.dmCollate = 1;
    Cutter(3, 5, 3);
    Cmds page = Page(1, 0);
    for (size_t i = 0; i < page.size(); ++i) {
        if (page[i].rfind("PRINT", 0) == 0) {
            EXPECT_EQ(page[i], "PRINT 1,1");
        }
    }
    EXPECT_EQ(pdev.dwPagePrinted, 5u);
}

// Whole jobs over the grid of method, copies and interval. A printer model
// runs the commands: "SET CUTTER k" cuts after every k-th label of a PRINT,
// "OFF" stops cutting.
TEST_F(PageTest, CutsFallWhereTheMethodPlacesThemOverAWholeJob) {
    for (int method : {1, 2, 3, 7}) {
        for (int16_t copies : {0, 1, 2, 5}) {
            for (int16_t interval : {0, 1, 3}) {
                for (uint32_t pages : {1u, 4u}) {
                    SCOPED_TRACE(testing::Message() << "method " << method << " copies " << copies
                                                    << " interval " << interval << " pages "
                                                    << pages);
                    SetUp();
                    Cutter(method, copies, interval);
                    long cutter = -1; // unknown: the preamble leaves it alone
                    uint32_t labels = 0;
                    std::set<uint32_t> cuts;
                    uint32_t perPage = method == 3 && interval > 0 && copies <= 1
                                           ? 1
                                           : (uint32_t)copies;
                    for (uint32_t number = 1; number <= pages; ++number) {
                        uint32_t before = labels;
                        for (const std::string &cmd : Page(number, number == pages)) {
                            if (cmd == "SET CUTTER OFF") {
                                cutter = 0;
                            } else if (cmd.rfind("SET CUTTER ", 0) == 0) {
                                cutter = atol(cmd.c_str() + 11);
                            } else if (cmd.rfind("PRINT 1,", 0) == 0) {
                                long count = atol(cmd.c_str() + 8);
                                if (method == 3 && interval > 0 && cutter == 1) {
                                    EXPECT_EQ(count, 1); // the cut label alone
                                }
                                for (long i = 1; i <= count; ++i) {
                                    ++labels;
                                    if (cutter > 0 && i % cutter == 0) {
                                        cuts.insert(labels);
                                    }
                                }
                            }
                        }
                        EXPECT_EQ(labels - before, perPage);
                        EXPECT_EQ(pdev.dwPagePrinted, labels);
                    }
                    std::set<uint32_t> expected;
                    if (method == 1 && copies > 0) {
                        for (uint32_t i = 1; i <= labels; ++i) expected.insert(i);
                    } else if (method == 2 && copies > 0) {
                        expected.insert(labels);
                    } else if (method == 3 && interval > 0 && copies > 0) {
                        for (uint32_t i = interval; i <= labels; i += interval) expected.insert(i);
                        expected.insert(labels);
                    } else if (method == 3 && interval > 0) {
                        // No copies still prints one label, judged by the
                        // count before it: the cut lands one label late.
                        for (uint32_t i = 1; i <= labels; i += interval) expected.insert(i);
                        expected.insert(labels);
                    } else if (method == 3 && interval == 0) {
                        for (uint32_t i = labels - copies + 1; i <= labels; ++i) expected.insert(i);
                    }
                    EXPECT_EQ(cuts, expected);
                }
            }
        }
    }
}

TEST_F(PageTest, NoCutterNoCounting) {
    pdev.sCurCopies = 3;
    for (uint32_t number = 1; number <= 3; ++number) {
        EXPECT_EQ(Page(number, number == 3), Join({{"CLS"}, Block("PRINT 1,3")}));
    }
    EXPECT_EQ(pdev.dwPagePrinted, 0u);
}

TEST_F(PageTest, BitmapIsReleasedWithoutConfiguration) {
    CTSPLRenderClass blank; // leak checking in the sanitizer build catches a kept bitmap
    StdoutCapture capture;
    blank.OutPutPageCommands(kInked, (unsigned char *)malloc(kLength), kLength, 100, 1);
    EXPECT_EQ(capture.Finish(), "");
}
