// Helpers for the end-to-end tests: child processes, scratch folders,
// CUPS raster inspection and a strict reader of the TSPL job.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <cups/raster.h>

namespace rvc_it {

bool FileExists(const std::string &path);
std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &data);

// A fresh folder under /tmp, mode 0755 (the spooler's filters run as
// another user and must reach it); removed with its contents on scope exit.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct RunResult {
  int status = -1;      // exit status, or 128 + signal, or -1 if it never ran
  bool timedOut = false;
  std::string out;      // standard output (empty when redirected to a file)
  std::string err;
};

struct RunRequest {
  std::vector<std::string> argv;
  std::vector<std::pair<std::string, std::string>> env;  // added or replaced
  std::vector<std::string> unsetEnv;
  std::string stdinFile;   // empty: /dev/null
  std::string stdoutFile;  // empty: captured into RunResult::out
  int timeoutSeconds = 120;
};

// Runs a program to its end (killed after the timeout) and collects what it
// wrote.
RunResult RunProgram(const RunRequest &req);

// Shell-style text of a command line, for failure messages.
std::string Describe(const std::vector<std::string> &argv);

// The page headers of a CUPS raster file; pixel data is read and dropped.
// Empty when the file is not a raster stream.
std::vector<cups_page_header2_t> ReadRasterHeaders(const std::string &path);

// The first page of a CUPS raster file: its header and its lines, each
// cupsBytesPerLine bytes. False when there is no page.
bool ReadFirstRasterPage(const std::string &path, cups_page_header2_t *header,
                         std::vector<unsigned char> *pixels);

// One item of a TSPL job: a text command without its CR LF, and for BITMAP
// the numbers of its header and its payload.
struct TsplCommand {
  std::string text;  // for BITMAP: "BITMAP x,y,w,h,m," (the header only)
  size_t offset = 0;
  bool isBitmap = false;
  long x = 0, y = 0, widthBytes = 0, height = 0, mode = 0;
  std::string payload;
};

// Splits a job into commands. Every text command must end in CR LF and be
// printable ASCII; a BITMAP header must be well formed and be followed by
// exactly width x height payload bytes and CR LF. On failure returns false
// with the byte offset and reason in *error.
bool ParseTspl(const std::string &job, std::vector<TsplCommand> *cmds, std::string *error);

// The texts of all commands, BITMAP payloads left out, one per line; for
// failure messages.
std::string Outline(const std::vector<TsplCommand> &cmds);

}  // namespace rvc_it

namespace rvc_it {

// Built and generated files the tests use. Empty when that part of the
// project is not built.
std::string BuildDir();      // the top of the build tree
std::string FilterPath();    // the built rastertovorcp
std::string ViewerPath();    // the built tspl-view
std::string SamplePath(const std::string &name);  // label.pdf, label.png
std::vector<std::string> ShippedPpds();  // the PPD files the build makes

// The shipped PPD whose default resolution is <dpi>dpi; empty if none.
std::string PpdForDpi(int dpi);

}  // namespace rvc_it
