// Writing a label's picture as a 1-bit greyscale PNG: white paper, black dots.
#pragma once

#include <string>

#include "tools/tspl_job.h"

namespace tsplview {

// Each dot becomes a scale x scale square. Returns false with a message in
// error when the file cannot be written or the picture is empty.
bool writePng(const std::string &path, const Label &label, int scale, std::string &error);

} // namespace tsplview
