// The one little-endian reader of on-disk structures (file systems, partition tables,
// archives), read byte by byte at any alignment: the raw field reads, whose caller has
// checked the bounds, the bounded view and cursor that check them, and the checked
// arithmetic and narrowing used on every size and offset read from disk.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

inline uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t U32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t U64(const uint8_t* p) { return uint64_t(U32(p)) | uint64_t(U32(p + 4)) << 32; }
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

// A bounded view of bytes.
struct ByteView {
  const uint8_t* p = nullptr;
  uint32_t n = 0;
  bool Has(uint32_t offset, uint32_t bytes) const { return offset <= n && bytes <= n - offset; }
};

namespace le {

// A view of bytes read from disk; every read checks its offset against the size.
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
  { if (!Has(offset, 2)) return false; v = ::U16(m_data + offset); return true; }
  [[nodiscard]] bool U32(size_t offset, uint32_t& v) const
  { if (!Has(offset, 4)) return false; v = ::U32(m_data + offset); return true; }
  [[nodiscard]] bool U64(size_t offset, uint64_t& v) const
  { if (!Has(offset, 8)) return false; v = ::U64(m_data + offset); return true; }
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

// Sequential reads that carry the bytes remaining; a read past the end fails and
// leaves the cursor where it was.
class Cursor {
public:
  Cursor(const uint8_t* data, size_t size) : m_p(data), m_n(size) {}
  explicit Cursor(const Bytes& b) : m_p(b.Data()), m_n(b.Size()) {}

  size_t Left() const { return m_n; }
  const uint8_t* Here() const { return m_p; }

  [[nodiscard]] bool Skip(size_t n) { if (n > m_n) return false; m_p += n; m_n -= n; return true; }
  [[nodiscard]] bool TakeU8(uint8_t& v) { if (m_n < 1) return false; v = *m_p; return Skip(1); }
  [[nodiscard]] bool TakeU16(uint16_t& v) { if (m_n < 2) return false; v = ::U16(m_p); return Skip(2); }
  [[nodiscard]] bool TakeU32(uint32_t& v) { if (m_n < 4) return false; v = ::U32(m_p); return Skip(4); }
  [[nodiscard]] bool TakeU64(uint64_t& v) { if (m_n < 8) return false; v = ::U64(m_p); return Skip(8); }
  [[nodiscard]] bool Take(void* out, size_t n)
  { if (n > m_n) return false; memcpy(out, m_p, n); return Skip(n); }

private:
  const uint8_t* m_p;
  size_t m_n;
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

}  // namespace le
