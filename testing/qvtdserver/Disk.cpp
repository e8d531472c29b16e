// Disks of the stand-in core: image files opened and read in bounded pieces, injected
// bad ranges, and the read-error handshake with the host on a partition read.
#include "Disk.h"

#include <windows.h>
#include <string.h>
#include <algorithm>

#include "Core.h"
#include "Holds.h"
#include "LeBytes.h"

namespace qvtd {

// ReadFile takes a DWORD; pieces of 4 MiB keep every call well inside it.
constexpr size_t kReadPiece = 4u << 20;
// What a bad sector reports to the host: "Data error (cyclic redundancy check)".
constexpr uint32_t kBadSectorError = ERROR_CRC;

Res ImageFile::Open(const std::string& path)
{
  // Shared for reading and writing: tests and tools may touch the image while it is served.
  m_file.Reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!m_file) return Res::IoError;
  LARGE_INTEGER size;
  FILETIME written;
  if (!GetFileSizeEx(m_file.Get(), &size) || size.QuadPart < 0) return Res::IoError;
  if (!GetFileTime(m_file.Get(), nullptr, nullptr, &written)) return Res::IoError;
  m_size = uint64_t(size.QuadPart);
  m_writeTime = uint64_t(written.dwHighDateTime) << 32 | written.dwLowDateTime;
  return Res::Ok;
}

Res ImageFile::ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) const
{
  got = 0;
  if (!m_file) return Res::IoError;
  if (offset >= m_size) return Res::Ok;
  const uint64_t left = m_size - offset;
  if (uint64_t(length) > left) length = size_t(left);
  auto* out = static_cast<uint8_t*>(buffer);
  while (got < length) {
    const DWORD piece = DWORD(std::min(length - got, kReadPiece));
    const uint64_t at = offset + got;
    OVERLAPPED ov = {};
    ov.Offset = DWORD(at);
    ov.OffsetHigh = DWORD(at >> 32);
    DWORD n = 0;
    if (!ReadFile(m_file.Get(), out + got, piece, &n, &ov)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return Res::IoError;
    }
    if (n == 0) break;
    got += n;
  }
  return Res::Ok;
}

Res Disk::Open(const std::string& listedPath)
{
  path = listedPath;
  Res r = m_image.Open(listedPath);
  if (r != Res::Ok) return r;
  whole.disk = this;
  whole.number = kWholeDiskIndex;
  whole.tableKind = kTableBare;
  whole.firstByte = 0;
  whole.size = m_image.Size();
  ReadPartitionTable(*this);
  for (auto& p : partitions) {
    p->disk = this;
    ReadVolumeLabel(*p, p->label);
  }
  return Res::Ok;
}

void Disk::AddBadRange(uint64_t offset, uint64_t length)
{
  uint64_t end;
  if (!AddU64(offset, length, end)) end = UINT64_MAX;
  std::lock_guard<std::mutex> held(m_badLock);
  m_bad.push_back({offset, end});
}

void Disk::ClearBadRanges()
{
  std::lock_guard<std::mutex> held(m_badLock);
  m_bad.clear();
}

std::vector<Disk::Range> Disk::BadParts(uint64_t offset, uint64_t end) const
{
  std::vector<Range> parts;
  {
    std::lock_guard<std::mutex> held(m_badLock);
    for (const Range& r : m_bad) {
      const uint64_t first = std::max(r.first, offset);
      const uint64_t last = std::min(r.end, end);
      if (first < last) parts.push_back({first, last});
    }
  }
  std::sort(parts.begin(), parts.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
  return parts;
}

Res Disk::ReadChecked(uint64_t offset, void* buffer, size_t length, size_t& got) const
{
  got = 0;
  size_t n = 0;
  Res r = m_image.ReadAt(offset, buffer, length, n);
  if (r != Res::Ok) return r;
  if (n == 0) return Res::Ok;
  // The bytes are there; an injected bad range makes the read fail as a bad sector
  // would, and the host decides on this thread: retry, skip or give up.
  for (;;) {
    std::vector<Range> bad = BadParts(offset, offset + n);
    if (bad.empty()) break;
    QvtdScanErrorHandler host = nullptr;
    QvtdErrorWait wait = nullptr;
    Core::Get().ErrorHandler(host, wait);
    if (!host || !wait) return Res::IoError;
    const uint64_t badFirst = bad.front().first;
    const uint64_t badLength = bad.back().end - badFirst;
    host(index.load(), badFirst, uint32_t(std::min<uint64_t>(badLength, UINT32_MAX)), kBadSectorError);
    Holds::Get().BeforeErrorWait();
    const int decision = wait();
    if (decision == 0) continue;  // retry: the range may have been cleared meanwhile
    if (decision != 1) return Res::IoError;
    for (const Range& part : bad)
      memset(static_cast<uint8_t*>(buffer) + size_t(part.first - offset), 0, size_t(part.end - part.first));
    break;
  }
  got = n;
  return Res::Ok;
}

Res Partition::Read(uint64_t offset, void* buffer, size_t length, size_t& got) const
{
  got = 0;
  if (!disk) return Res::BadArgument;
  if (length > 0 && !buffer) return Res::BadArgument;
  if (offset >= size) return Res::Ok;
  const uint64_t left = size - offset;
  if (uint64_t(length) > left) length = size_t(left);
  uint64_t at;
  if (!AddU64(firstByte, offset, at)) return Res::Ok;
  return disk->ReadChecked(at, buffer, length, got);
}

}  // namespace qvtd
