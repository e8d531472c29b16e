// Bounded little-endian reads from on-disk structures. Every raw byte the stand-in
// decodes goes through these, so a short or corrupt sector can never be read past.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace qvtd {

// A view of bytes read from disk; offsets are checked against the size.
class Bytes {
public:
  Bytes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  size_t Size() const { return m_size; }
  const uint8_t* Data() const { return m_data; }

  [[nodiscard]] bool Has(size_t offset, size_t length) const
  { return offset <= m_size && length <= m_size - offset; }

  [[nodiscard]] bool U8(size_t offset, uint8_t& v) const
  { if (!Has(offset, 1)) return false; v = m_data[offset]; return true; }
  [[nodiscard]] bool U16(size_t offset, uint16_t& v) const
  {
    if (!Has(offset, 2)) return false;
    v = uint16_t(m_data[offset] | m_data[offset + 1] << 8);
    return true;
  }
  [[nodiscard]] bool U32(size_t offset, uint32_t& v) const
  {
    if (!Has(offset, 4)) return false;
    v = uint32_t(m_data[offset]) | uint32_t(m_data[offset + 1]) << 8 | uint32_t(m_data[offset + 2]) << 16 |
        uint32_t(m_data[offset + 3]) << 24;
    return true;
  }
  [[nodiscard]] bool U64(size_t offset, uint64_t& v) const
  {
    uint32_t lo = 0, hi = 0;
    if (!U32(offset, lo) || !U32(offset + 4, hi)) return false;
    v = uint64_t(hi) << 32 | lo;
    return true;
  }
  [[nodiscard]] bool Copy(size_t offset, void* out, size_t length) const
  { if (!Has(offset, length)) return false; memcpy(out, m_data + offset, length); return true; }
  [[nodiscard]] bool Equals(size_t offset, const void* expected, size_t length) const
  { return Has(offset, length) && memcmp(m_data + offset, expected, length) == 0; }

  // A sub-view; empty when the range does not lie inside this view.
  Bytes Slice(size_t offset, size_t length) const
  { return Has(offset, length) ? Bytes(m_data + offset, length) : Bytes(nullptr, 0); }

private:
  const uint8_t* m_data;
  size_t m_size;
};

// a + b, false when the sum wraps.
[[nodiscard]] inline bool AddU64(uint64_t a, uint64_t b, uint64_t& sum)
{ sum = a + b; return sum >= a; }

// a * b, false when the product does not fit.
[[nodiscard]] inline bool MulU64(uint64_t a, uint64_t b, uint64_t& product)
{
  if (a != 0 && b > UINT64_MAX / a) return false;
  product = a * b;
  return true;
}

// The one narrowing from 64-bit sizes to the 32-bit size_t of this platform.
[[nodiscard]] inline bool ToSize(uint64_t v, size_t& out)
{ out = size_t(v); return uint64_t(out) == v; }

}  // namespace qvtd
