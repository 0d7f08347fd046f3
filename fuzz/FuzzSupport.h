// Shared pieces of the fuzz targets: quiet standard output, a logger that
// formats every trace line but writes no file, and a small byte reader.
#ifndef RVC_FUZZ_FUZZSUPPORT_H
#define RVC_FUZZ_FUZZSUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace rvcfuzz {

// Printer data goes to /dev/null; the job's stdio state is reset per input.
void DiscardStandardOutput();

// Starts the main logger with its file output off: prePushLog accepts the
// traces, so the call sites format their lines, but nothing reaches a disk.
void StartSilentLogger();

// Folder of the built PPD files: $RVC_FUZZ_PPD_DIR, else the build tree's.
std::string PpdDir();

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
    const uint8_t *Rest() const { return m_data; }
    size_t RestSize() const { return m_size; }

private:
    const uint8_t *m_data;
    size_t m_size;
};

} // namespace rvcfuzz

#endif

namespace rvcfuzz {

// Standard output into a memory file, emptied before each input, so that
// the harness can read back what the code under test printed.
void CaptureStandardOutput();
// Everything written to standard output since the last call (flushed first).
// With RVC_FUZZ_OUTPUT_LOG set, a hash and the length of it are appended to
// that file, one line per call.
std::string TakeCapturedOutput();

// Checks the shape of TSPL job data: text commands ending in CR LF, every
// BITMAP header followed by exactly width x height bytes and CR LF. Returns
// an empty string when the data is well formed, else what is wrong.
std::string CheckTsplShape(const std::string &data);
// Takes the captured job data and aborts (a fuzz finding) when it is malformed.
void AbortOnMalformedOutput();

} // namespace rvcfuzz
