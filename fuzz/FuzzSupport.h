// What the fuzz targets share: job data captured in memory and checked
// through the viewer's reader, a logger that formats every trace, the
// built PPDs, and a reader of the input's bytes.
#ifndef RVC_FUZZ_FUZZSUPPORT_H
#define RVC_FUZZ_FUZZSUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "render/TSPLRenderClass.h"

namespace rvcfuzz {

// Standard output into a memory file, so that every input's job data can be
// read back, and the main logger started with its file output off: the
// traces are formatted, but nothing reaches a disk. Call once.
void Start();
// Folder of the built PPD files: $RVC_FUZZ_PPD_DIR, else the build tree's.
std::string PpdDir();
// Takes the job data written since the last call and aborts (a finding)
// when a printer could not even split it into commands. With
// RVC_FUZZ_OUTPUT_LOG set, its fingerprint goes to that file.
void CheckJobData();
// The job preamble, then the page emitted `emissions` times, numbered from
// firstPage, the last time as the job's last page; then CheckJobData.
void PrintPage(tagOEMCFG &cfg, _DEVMODE &dm, _OEMPDEV &pdev, std::vector<unsigned char> &page,
               int emissions, uint32_t firstPage);

// Consumes the input from the front; reads past the end give zeros.
class ByteReader {
  public:
    ByteReader(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    template <typename T> T Take() {
        T value{};
        size_t n = sizeof(T) < m_size ? sizeof(T) : m_size;
        memcpy(&value, m_data, n);
        m_data += n;
        m_size -= n;
        return value;
    }
    size_t RestSize() const { return m_size; }

  private:
    const uint8_t *m_data;
    size_t m_size;
};

} // namespace rvcfuzz

#endif
