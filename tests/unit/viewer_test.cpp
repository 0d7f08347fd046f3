// The viewer's reader, which every test uses to read job data: settings,
// bitmap modes, clipping, cutter counts and faults at their byte, as its
// summaries in a golden file.
#include <gtest/gtest.h>

#include "tests/support/Support.h"

namespace {

using namespace std::string_literals;

std::string Bitmap(int x, int y, int widthBytes, int height, const std::string &payload,
                   int mode = 0) {
    return "BITMAP " + std::to_string(x) + "," + std::to_string(y) + "," +
           std::to_string(widthBytes) + "," + std::to_string(height) + "," + std::to_string(mode) +
           "," + payload + "\r\n";
}

std::string Print(int n) {
    return "PRINT 1," + std::to_string(n) + "\r\n";
}

TEST(Viewer, ReadsJobsAsAPrinterWould) {
    const std::string size = "SIZE 24 dot,8 dot\r\n", one = "SET CUTTER 1\r\n",
                      off = "SET CUTTER OFF\r\n";
    const std::string dot = Bitmap(0, 0, 1, 1, "\x00"s);
    auto block = [&](int n) { return dot + Print(n); };
    const std::string good = size + "CLS\r\n" + block(1);
    const std::pair<std::string, std::string> jobs[] = {
        {"preamble",
         "CLS\r\nSIZE 816 dot,1219 dot\r\nGAP 2.5 mm,-1.5 mm\r\nSET RIBBON ON\r\nDIRECTION 1,0\r\n"
         "REFERENCE 0,0\r\nDENSITY 8\r\nOFFSET 2.5 mm\r\nSET TEAR ON\r\nSET PEEL OFF\r\nSET CUTTER "
         "OFF\r\n"},
        {"bitmap placed", size + "CLS\r\n" + Bitmap(8, 2, 2, 2, "\x7f\xff\xff\xfe"s) + Print(1)},
        {"overwrite", size + "CLS\r\n" + dot + Bitmap(0, 0, 1, 1, "\xf0"s) + Print(1)},
        {"or", size + "CLS\r\n" + Bitmap(0, 0, 1, 1, "\x0f"s) + Bitmap(0, 0, 1, 1, "\xfe"s, 1) +
                   Print(1)},
        {"xor", size + "CLS\r\n" + Bitmap(0, 0, 1, 1, "\x0f"s) + Bitmap(0, 0, 1, 1, "\x3f"s, 2) +
                    Print(1)},
        {"reference", size + "REFERENCE 2,1\r\nCLS\r\n" + Bitmap(0, 0, 1, 1, "\x7f"s) + Print(1)},
        {"direction", size + "DIRECTION 1,1\r\nCLS\r\n" + Bitmap(0, 5, 1, 1, "\x7f"s) + Print(1)},
        {"white overhang", size + "CLS\r\n" + Bitmap(20, 0, 1, 1, "\x0f"s) + Print(1)},
        {"dots clipped", size + "CLS\r\n" + Bitmap(20, 7, 1, 2, "\x00\x00"s) + Print(1)},
        {"interval cuts", size + "CLS\r\n" + off + block(2) + one + block(1) + off + block(2) +
                              "CLS\r\n" + off + block(0) + one + block(1) + off + block(2) + one +
                              block(1) + off + block(0) + one + block(1)},
        {"every label", size + "CLS\r\n" + one + block(2) + "CLS\r\n" + block(1)},
        {"end of job", size + "CLS\r\n" + off + block(2) + "CLS\r\nSET CUTTER 2\r\n" + block(2)},
        {"count carried", size + "CLS\r\nSET CUTTER 2\r\n" + block(1) + "CLS\r\n" + block(3)},
        {"nothing printed", size + "CLS\r\n" + block(0)},
        {"paper saving", "CLS\r\nGAP 0 mm,0 mm\r\nCLS\r\nSIZE 16 dot,10 dot\r\n" +
                             Bitmap(0, 0, 1, 2, "\x00\x00"s) + Print(1) +
                             "CLS\r\nSIZE 32 dot,12 dot\r\n" +
                             Bitmap(8, 0, 1, 4, std::string(4, '\0')) + Print(1)},
        {"short payload", good + "BITMAP 0,0,2,2,0,\xff\xff\xff"s},
        {"no CR LF after the payload", good + "BITMAP 0,0,2,2,0,\xff\xff\xff\r\nPRINT 1,1\r\n"s},
        {"unterminated", good + "CLS"},
        {"line feed alone", good + "CLS\n"},
        {"carriage return alone", good + "CLS\rPRINT 1,1\r\n"},
        {"empty command", good + "\r\n"},
        {"unknown command", good + "TEXT 10,10,\"3\",0,1,1,\"x\"\r\n"},
        {"unknown setting", good + "SET SPEED 4\r\n"},
        {"bad unit", good + "SIZE 8x dot,8 dot\r\n"},
        {"number out of range", good + "SIZE 99999999999 dot,8 dot\r\n"},
        {"label too large", good + "SIZE 60000 dot,60000 dot\r\n"},
        {"signed number", good + "DENSITY +8\r\n"},
        {"two decimals", good + "GAP 2.55 mm,0 mm\r\n"},
        {"no digits", good + "GAP 3 mm,. mm\r\n"},
        {"negative copies", good + "PRINT 1,-1\r\n"},
        {"cutter 0", good + "SET CUTTER 0\r\n"},
        {"switch", good + "SET TEAR MAYBE\r\n"},
        {"direction 2", good + "DIRECTION 2,0\r\n"},
        {"bitmap mode 3", good + "BITMAP 0,0,1,1,3,\x00\r\n"s},
        {"trailing blank", good + "CLS \r\n"},
        {"control byte", good + "DENSITY 8\x01\r\n"s},
        {"bitmap before a size", "CLS\r\n" + dot},
        {"print before a size", "PRINT 1,1\r\n"},
    };
    std::string text;
    for (const auto &j : jobs) {
        tsplview::ReadResult r =
            tsplview::readJob((const uint8_t *)j.second.data(), j.second.size());
        text +=
            "=== " + j.first + "\n" +
            (r.ok ? "" : "fault at byte " + std::to_string(r.errorOffset) + ": " + r.error + "\n") +
            tsplview::summary(r.job, {});
    }
    rvt::ExpectGolden("viewer.txt", text);
}

} // namespace
