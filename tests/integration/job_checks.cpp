#include "tests/integration/job_checks.h"

#include <cstdio>
#include <regex>

namespace rvc_it {

namespace {

bool Starts(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

bool HasInk(const std::string &payload) {
  for (unsigned char b : payload)
    if (b != 0xff) return true;  // a 0 bit is a dot
  return false;
}

}  // namespace

::testing::AssertionResult ParseJob(const std::string &job, JobShape *shape) {
  std::vector<TsplCommand> cmds;
  std::string error;
  if (!ParseTspl(job, &cmds, &error)) return ::testing::AssertionFailure() << "unreadable job, " << error;
  const auto &c = cmds;
  auto fail = [&](size_t i, const std::string &why) {
    return ::testing::AssertionFailure() << why << " (command " << i << ")\n" << Outline(c);
  };
  if (c.empty() || c[0].text != "CLS") return fail(0, "job does not start with CLS");

  *shape = JobShape();
  size_t i = 0;
  shape->preamble.push_back(c[i++].text);
  bool direction = false, reference = false, offset = false;
  for (; i < c.size() && c[i].text != "CLS"; ++i) {
    const std::string &t = c[i].text;
    if (c[i].isBitmap || Starts(t, "PRINT")) return fail(i, "page data before the first page's CLS");
    shape->preamble.push_back(t);
    int a, b;
    char tail;
    if (std::sscanf(t.c_str(), "SIZE %d dot,%d dot%c", &a, &b, &tail) == 2) {
      shape->labelWidth = a;
      shape->labelHeight = b;
    } else if (std::sscanf(t.c_str(), "DENSITY %d%c", &a, &tail) == 1) {
      shape->density = a;
    } else if (t == "DIRECTION 1,0") {
      direction = true;
    } else if (t == "REFERENCE 0,0") {
      reference = true;
    } else if (std::regex_match(t, std::regex("OFFSET -?[0-9]+(\\.[0-9])? mm"))) {
      offset = true;
    }
  }
  if (!direction || !reference || !offset || shape->density < 0)
    return fail(i, "preamble lacks DIRECTION 1,0, REFERENCE 0,0, DENSITY or OFFSET");

  static const std::regex kPrint("PRINT 1,[0-9]+");
  static const std::regex kCutter("SET CUTTER (OFF|[0-9]+)");
  while (i < c.size()) {
    JobShape::Page page;
    page.texts.push_back(c[i++].text);  // the CLS
    int pageWidth = shape->labelWidth, pageHeight = shape->labelHeight;
    int a, b;
    char tail;
    if (i < c.size() && std::sscanf(c[i].text.c_str(), "SIZE %d dot,%d dot%c", &a, &b, &tail) == 2) {
      pageWidth = a;
      pageHeight = b;
      page.texts.push_back(c[i++].text);
    }
    if (pageWidth < 0) return fail(i, "page without a label size");
    while (i < c.size() && c[i].text != "CLS") {
      if (std::regex_match(c[i].text, kCutter)) page.texts.push_back(c[i++].text);
      if (i >= c.size() || !c[i].isBitmap) return fail(i, "print block without BITMAP");
      const TsplCommand &bm = c[i];
      if (bm.mode != 0) return fail(i, "BITMAP mode is not 0");
      if (bm.x < 0 || bm.y < 0 || bm.widthBytes < 1 || bm.height < 1 ||
          bm.x + 8 * bm.widthBytes > pageWidth + 8 || bm.y + bm.height > pageHeight)
        return fail(i, "BITMAP does not lie on the " + std::to_string(pageWidth) + " x " +
                           std::to_string(pageHeight) + " dot label");
      if (!HasInk(bm.payload)) return fail(i, "BITMAP without a single dot");
      page.texts.push_back(bm.text);
      page.bitmaps.push_back(bm);
      ++i;
      if (i >= c.size() || !std::regex_match(c[i].text, kPrint)) return fail(i, "BITMAP not followed by PRINT 1,n");
      page.prints.push_back(c[i].text);
      page.texts.push_back(c[i++].text);
    }
    if (page.bitmaps.empty()) return fail(i, "page without a print block");
    shape->pages.push_back(std::move(page));
  }
  return ::testing::AssertionSuccess();
}

}  // namespace rvc_it
