// The reader of NTFS run lists (mapping pairs): each run's length and start cluster,
// bounded by the bytes of the list.
#pragma once
#include <cstdint>

namespace Ntfs {

// One run of a mapping-pairs array.
struct Run {
  uint64_t clusters = 0;
  int64_t lcn = 0;  // absolute start cluster; meaningless when sparse
  bool sparse = false;
};

// Reads run after run of a mapping-pairs array, each bounded by the bytes given.
class RunReader {
 public:
  RunReader(const uint8_t* runs, uint32_t bytes) : m_p(runs), m_left(bytes) {}
  // True with the next run; false at the end marker, at the end of the bytes, or at a
  // malformed pair (Corrupt() tells which).
  bool Next(Run* run) {
    if (!m_p || m_left == 0) return false;
    const uint8_t header = m_p[0];
    if (header == 0) return false;
    const uint32_t lengthBytes = header & 0x0F;
    const uint32_t offsetBytes = header >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 || 1 + lengthBytes + offsetBytes > m_left) {
      m_corrupt = true;
      return false;
    }
    uint64_t length = 0;
    for (uint32_t i = 0; i < lengthBytes; ++i) length |= uint64_t(m_p[1 + i]) << (8 * i);
    int64_t delta = 0;
    if (offsetBytes) {
      uint64_t raw = 0;
      for (uint32_t i = 0; i < offsetBytes; ++i) raw |= uint64_t(m_p[1 + lengthBytes + i]) << (8 * i);
      if (offsetBytes < 8 && (raw >> (8 * offsetBytes - 1)) & 1) raw |= ~uint64_t(0) << (8 * offsetBytes);
      delta = int64_t(raw);
    }
    // Lengths come unsigned; one with the top bit set is no real run.
    if (length == 0 || int64_t(length) < 0) {
      m_corrupt = true;
      return false;
    }
    m_p += 1 + lengthBytes + offsetBytes;
    m_left -= 1 + lengthBytes + offsetBytes;
    run->clusters = length;
    run->sparse = offsetBytes == 0;
    if (!run->sparse) m_lcn += delta;
    run->lcn = m_lcn;
    return true;
  }
  bool Corrupt() const { return m_corrupt; }

 private:
  const uint8_t* m_p;
  uint32_t m_left;
  int64_t m_lcn = 0;
  bool m_corrupt = false;
};

}  // namespace Ntfs
