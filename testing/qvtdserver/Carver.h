// The signature carver of the stand-in's deep scans: which file starts at a sector and
// how long it is, read from the file's own structure (never guessed from a cluster map).
#pragma once
#include <stdint.h>
#include <functional>
#include <string>
#include <vector>

namespace qvtd {

// Bounded reads of the scanned area (a partition or the whole disk).
class CarveSource {
public:
  // read(offset, buffer, length) -> bytes placed (short at the end).
  using ReadFn = std::function<size_t(uint64_t, void*, size_t)>;
  CarveSource(ReadFn read, uint64_t size) : m_read(std::move(read)), m_size(size) {}
  uint64_t Size() const { return m_size; }
  // Small reads come from a window of the area kept here: a format walk reads a few
  // bytes at a time.
  bool Read(uint64_t offset, void* buffer, size_t length) const;
  // First offset in [from, limit) where pattern starts, or UINT64_MAX.
  uint64_t Find(uint64_t from, uint64_t limit, const void* pattern, size_t length) const;

private:
  static constexpr size_t kWindow = 1u << 20;
  ReadFn m_read;
  uint64_t m_size;
  mutable std::vector<uint8_t> m_window;
  mutable uint64_t m_windowAt = 0;
  mutable size_t m_windowBytes = 0;
};

struct CarvedFile {
  uint64_t length = 0;
  std::string extension;
};

// A file whose header stands at offset `at` (sector-aligned), with its length and the
// extension its content gives; false when nothing known starts there or its structure
// does not hold up to a plausible end. `head` holds the first bytes at `at`.
bool CarveAt(const CarveSource& source, uint64_t at, const uint8_t* head, size_t headBytes, CarvedFile& out);

// True when the first bytes look like the start of a file CarveAt knows (a quick test).
bool LooksLikeHeader(const uint8_t* head, size_t headBytes);

}  // namespace qvtd
