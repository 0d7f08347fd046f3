// `cmake --install` staged into DESTDIR puts the filter and the models where
// CUPS looks for them.
#include <sys/stat.h>

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "tests/integration/harness.h"

namespace rvc_it {
namespace {

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

TEST(Install, DestdirGetsFilterAndPpds) {
  ASSERT_FALSE(FilterPath().empty() || ShippedPpds().empty()) << "the filter or the PPDs were not built";
  RunRequest config;
  config.argv = {"cups-config", "--serverbin"};
  RunResult c = RunProgram(config);
  ASSERT_EQ(c.status, 0) << c.err;
  const std::string serverbin = Trim(c.out);

  ScratchDir dest;
  RunRequest install;
  install.argv = {"cmake", "--install", BuildDir()};
  install.env = {{"DESTDIR", dest.path()}};
  RunResult r = RunProgram(install);
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  const std::string filter = dest.path() + serverbin + "/filter/rastertovorcp";
  struct stat st;
  ASSERT_EQ(stat(filter.c_str(), &st), 0) << filter << " not installed\n" << r.out;
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  EXPECT_EQ(ReadFile(filter), ReadFile(FilterPath()));

  // Every model is a PPD that libcups reads, hands CUPS raster to the filter,
  // and together they cover both resolutions.
  std::set<std::string> resolutions;
  int models = 0;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator(dest / "usr/share/ppd/rastertovorcp", ec)) {
    const std::string path = e.path().string();
    ++models;
    ppd_file_t *ppd = ppdOpenFile(path.c_str());
    ASSERT_NE(ppd, nullptr) << path;
    bool toFilter = false;
    for (int i = 0; i < ppd->num_filters; ++i)
      toFilter |= std::string(ppd->filters[i]).find("application/vnd.cups-raster") == 0 &&
                  std::string(ppd->filters[i]).find("rastertovorcp") != std::string::npos;
    EXPECT_TRUE(toFilter) << path << " does not send CUPS raster to rastertovorcp";
    if (ppd_attr_t *a = ppdFindAttr(ppd, "DefaultResolution", nullptr)) resolutions.insert(a->value);
    ppdClose(ppd);
  }
  ASSERT_FALSE(ec) << "no folder usr/share/ppd/rastertovorcp in DESTDIR: " << ec.message() << "\n" << r.out;
  EXPECT_EQ(models, 2);
  EXPECT_EQ(resolutions, (std::set<std::string>{"203dpi", "300dpi"}));
}

}  // namespace
}  // namespace rvc_it
