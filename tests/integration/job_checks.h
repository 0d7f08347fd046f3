// Structural checks of a whole TSPL job as the filter writes it: the job
// preamble, then per printed page a CLS and its print blocks.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/integration/harness.h"

namespace rvc_it {

struct JobShape {
  int labelWidth = -1, labelHeight = -1;  // from the preamble's SIZE
  int density = -1;                       // from DENSITY
  std::vector<std::string> preamble;      // texts, the leading CLS included
  struct Page {
    std::vector<std::string> texts;       // every command of the page
    std::vector<TsplCommand> bitmaps;
    std::vector<std::string> prints;      // the PRINT lines
  };
  std::vector<Page> pages;
};

// Parses the job and checks what holds for any job of the filter: it starts
// with CLS; the preamble carries SIZE (unless paper-saving), DIRECTION 1,0,
// REFERENCE 0,0, DENSITY and OFFSET; every page starts with CLS and holds
// print blocks (an optional SET CUTTER, then BITMAP, then PRINT 1,n); every
// bitmap is mode 0, lies on the label and carries ink.
::testing::AssertionResult ParseJob(const std::string &job, JobShape *shape);

}  // namespace rvc_it
