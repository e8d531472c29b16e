// Little-endian fields of on-disk structures, read byte by byte (any alignment). The
// caller checks first that the bytes lie inside the view it holds.
#pragma once
#include <cstdint>

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
