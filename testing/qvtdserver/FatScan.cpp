// FAT and exFAT routines of the stand-in core: the scan routine (the volume callback,
// then, for a formatted scan, every sector of the volume that looks like a directory
// sector), and the writer of one found FAT file.
#include <windows.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

#include "Core.h"
#include "Holds.h"
#include "Disk.h"
#include "LeBytes.h"
#include "qvtdserver.h"

namespace qvtd {
namespace {

constexpr int kErrBadArgument = -87;
constexpr int kErrBadHandle = -6;
constexpr int kErrIo = -int(ERROR_CRC);
constexpr int kErrCorrupt = -int(ERROR_FILE_CORRUPT);
constexpr size_t kChunk = 1u << 20;

bool Forbidden(uint8_t c) { return strchr("\"*/:<>?\\|", c) != nullptr && c != 0; }

// Every entry a FAT directory may hold, at least one of them in use or deleted.
bool LooksLikeFatDirectory(const uint8_t* s, size_t n)
{
  size_t used = 0;
  for (size_t at = 0; at + 32 <= n; at += 32) {
    const uint8_t* e = s + at;
    if (e[0] == 0) {
      for (size_t k = at; k < n; ++k)
        if (s[k]) return false;
      break;
    }
    const uint8_t attributes = e[11];
    if (attributes == 0x0F) {
      if (e[12] != 0 || e[26] || e[27]) return false;
      ++used;
      continue;
    }
    if ((attributes & 0xC0) || (e[12] & ~0x18)) return false;
    if (e[0] < 0x20 && e[0] != 0x05) return false;
    for (int k = 1; k < 11; ++k)
      if (e[k] < 0x20 || Forbidden(e[k])) return false;
    ++used;
  }
  return used > 0;
}

// Entry types of an exFAT directory, in use or not; at least one of a file's set.
bool LooksLikeExFatDirectory(const uint8_t* s, size_t n)
{
  size_t sets = 0;
  for (size_t at = 0; at + 32 <= n; at += 32) {
    const uint8_t t = s[at];
    if (t == 0) {
      for (size_t k = at; k < n; ++k)
        if (s[k]) return false;
      break;
    }
    switch (t & 0x7F) {
    case 0x05: case 0x40: case 0x41: ++sets; break;
    case 0x01: case 0x02: case 0x03: case 0x20: case 0x21: case 0x60: break;
    default: return false;
    }
  }
  return sets > 0;
}

struct FatLayout {
  uint32_t bytesPerSector = 0;
  uint32_t clusterBytes = 0;
  uint64_t clusterZero = 0;  // byte offset of (the would-be) cluster 0
  uint32_t limit = 0;        // clusters + 2
  uint64_t fatOffset = 0;
  uint64_t fatBytes = 0;
  int width = 0;             // 12, 16, 32 (bits per FAT entry)
  bool exfat = false;
};

Res ReadLayout(const Partition& p, FatLayout& g)
{
  uint8_t boot[512];
  size_t got = 0;
  if (p.Read(0, boot, sizeof boot, got) != Res::Ok || got != sizeof boot) return Res::IoError;
  Bytes b(boot, sizeof boot);
  if (b.Equals(3, "EXFAT   ", 8)) {
    uint32_t fatOff = 0, fatLen = 0, heap = 0, count = 0;
    uint8_t bs = 0, cs = 0;
    if (!b.U32(80, fatOff) || !b.U32(84, fatLen) || !b.U32(88, heap) || !b.U32(92, count) || !b.U8(108, bs) ||
        !b.U8(109, cs) || bs < 9 || bs > 12 || cs > 25 - bs || count == 0)
      return Res::NotThisFs;
    g.exfat = true;
    g.width = 32;
    g.bytesPerSector = 1u << bs;
    g.clusterBytes = 1u << (bs + cs);
    g.clusterZero = uint64_t(heap) * g.bytesPerSector - 2ull * g.clusterBytes;
    g.limit = count + 2;
    g.fatOffset = uint64_t(fatOff) * g.bytesPerSector;
    g.fatBytes = uint64_t(fatLen) * g.bytesPerSector;
    return Res::Ok;
  }
  uint16_t bps = 0, reserved = 0, roots = 0, total16 = 0, fat16 = 0;
  uint8_t spc = 0, fats = 0;
  uint32_t total32 = 0, fat32 = 0;
  if (!b.U16(11, bps) || !b.U8(13, spc) || !b.U16(14, reserved) || !b.U8(16, fats) || !b.U16(17, roots) ||
      !b.U16(19, total16) || !b.U16(22, fat16) || !b.U32(32, total32) || !b.U32(36, fat32))
    return Res::Corrupt;
  if (bps < 512 || (bps & (bps - 1)) || spc == 0 || (spc & (spc - 1)) || fats == 0 || reserved == 0)
    return Res::NotThisFs;
  const uint64_t fatSectors = fat16 ? fat16 : fat32;
  const uint64_t total = total16 ? total16 : total32;
  const uint64_t rootSectors = (uint64_t(roots) * 32 + bps - 1) / bps;
  const uint64_t first = reserved + fats * fatSectors + rootSectors;
  if (first >= total) return Res::Corrupt;
  const uint64_t clusters = (total - first) / spc;
  g.bytesPerSector = bps;
  g.clusterBytes = uint32_t(bps) * spc;
  g.clusterZero = (first - 2ull * spc) * bps;
  g.width = clusters < 4085 ? 12 : roots ? 16 : 32;
  const uint64_t numbered = g.width == 12 ? fatSectors * bps * 2 / 3 : fatSectors * bps * 8 / g.width;
  g.limit = uint32_t(std::min<uint64_t>({clusters, numbered > 2 ? numbered - 2 : 0, 0x0FFFFFF5}) + 2);
  g.fatOffset = uint64_t(reserved) * bps;
  g.fatBytes = fatSectors * bps;
  return Res::Ok;
}

// The FAT, read whole (bounded: a FAT32 of 2^28 clusters takes 1 GB, refused).
Res ReadFat(const Partition& p, const FatLayout& g, std::vector<uint8_t>& fat)
{
  const uint64_t need = std::min<uint64_t>(g.fatBytes, uint64_t(g.limit) * (g.width == 12 ? 2 : g.width / 8) + 4);
  if (need > (256u << 20)) return Res::Unsupported;
  fat.assign(size_t(need), 0);
  size_t got = 0;
  Res r = p.Read(g.fatOffset, fat.data(), fat.size(), got);
  if (r != Res::Ok) return r;
  fat.resize(got);
  return Res::Ok;
}

// The FAT entry of a cluster; false when the FAT does not reach it.
bool Entry(const FatLayout& g, const std::vector<uint8_t>& fat, uint32_t cluster, uint32_t& next)
{
  Bytes b(fat.data(), fat.size());
  if (g.width == 12) {
    uint16_t w = 0;
    if (!b.U16(size_t(cluster) * 3 / 2, w)) return false;
    next = (cluster & 1) ? w >> 4 : w & 0xFFF;
    return true;
  }
  if (g.width == 16) {
    uint16_t w = 0;
    if (!b.U16(size_t(cluster) * 2, w)) return false;
    next = w;
    return true;
  }
  uint32_t w = 0;
  if (!b.U32(size_t(cluster) * 4, w)) return false;
  next = g.exfat ? w : w & 0x0FFFFFFF;
  return true;
}

int WriteOut(HANDLE file, const uint8_t* p, size_t n)
{
  DWORD written = 0;
  if (!WriteFile(file, p, DWORD(n), &written, nullptr) || written != n) return -int(GetLastError() ? GetLastError() : ERROR_WRITE_FAULT);
  return 0;
}

// Writes size bytes of the file's clusters into file; 0 or a negative error.
int CopyClusters(const Partition& p, const FatLayout& g, const std::vector<uint8_t>& fat, uint32_t first,
                 uint64_t size, bool deleted, HANDLE file)
{
  if (size == 0) return 0;
  if (first < 2 || first >= g.limit) return kErrCorrupt;
  std::vector<uint8_t> buffer(std::max<size_t>(kChunk, g.clusterBytes));
  uint64_t left = size;
  uint32_t c = first;
  while (left > 0) {
    // A run of clusters that follow each other on disk is read at once.
    uint32_t run = 1;
    uint32_t after = 0;
    bool ended = false;
    for (;;) {
      if (uint64_t(run) * g.clusterBytes >= left || size_t(run + 1) * g.clusterBytes > buffer.size()) break;
      uint32_t next = 0;
      if (deleted) {
        next = c + run;
        if (next >= g.limit) break;
        uint32_t entry = 0;
        if (Entry(g, fat, next, entry) && entry != 0) break;  // allocated: passed over below
      } else if (!Entry(g, fat, c + run - 1, next) || next != c + run) {
        break;
      }
      ++run;
    }
    const uint64_t at = g.clusterZero + uint64_t(c) * g.clusterBytes;
    const size_t want = size_t(std::min<uint64_t>(uint64_t(run) * g.clusterBytes, left));
    size_t got = 0;
    if (p.Read(at, buffer.data(), want, got) != Res::Ok) return kErrIo;
    if (got != want) return kErrCorrupt;  // the volume ends inside the file
    if (int r = WriteOut(file, buffer.data(), want)) return r;
    left -= want;
    if (left == 0) break;
    const uint32_t last = c + run - 1;
    if (deleted) {
      after = last + 1;
      uint32_t entry = 0;
      while (after < g.limit && Entry(g, fat, after, entry) && entry != 0) ++after;
    } else {
      uint32_t next = 0;
      ended = !Entry(g, fat, last, next) || next < 2 || next >= g.limit;
      if (ended) return kErrCorrupt;  // the chain ends before the file does
      after = next;
    }
    if (after >= g.limit) return kErrCorrupt;
    c = after;
  }
  return 0;
}

}  // namespace
}  // namespace qvtd

using namespace qvtd;

extern "C" {

int QVTD_API FATFormattedScanRoutine(void* partition, void* context, QvtdFatVolumeCallback onVolume, void* worker,
                                     uint32_t* progressBlock)
{
  const Partition* p = Core::Get().FindPartition(partition);
  if (!p) return kErrBadHandle;
  if (!onVolume) return kErrBadArgument;
  uint8_t boot[512];
  size_t got = 0;
  if (p->Read(0, boot, sizeof boot, got) != Res::Ok || got != sizeof boot) return kErrIo;
  if (progressBlock) progressBlock[1] = 0;
  QvtdFatVolumeValues values;
  memset(&values, 0, sizeof values);
  values.bytes = sizeof values;
  values.bootLength = sizeof boot;
  values.partitionBytes = p->size;
  onVolume(worker, nullptr, &values, sizeof boot);
  if (values.rawSectorCallback) {
    FatLayout g;
    const bool exfat = ReadLayout(*p, g) == Res::Ok && g.exfat;
    const uint32_t sector = g.bytesPerSector ? g.bytesPerSector : kSectorSize;
    std::vector<uint8_t> chunk(kChunk);
    const uint64_t start = g.clusterZero + 2ull * g.clusterBytes;
    int handed = 0;
    bool going = true;
    for (uint64_t at = start; going && at < p->size; at += chunk.size()) {
      got = 0;
      if (p->Read(at, chunk.data(), chunk.size(), got) != Res::Ok) {
        // Sector by sector: only what cannot be read is passed over.
        got = 0;
        for (size_t s = 0; s < chunk.size() && at + s < p->size; s += sector) {
          size_t one = 0;
          if (p->Read(at + s, chunk.data() + s, sector, one) != Res::Ok || one != sector)
            memset(chunk.data() + s, 0, sector);
          got = s + sector;
        }
      }
      for (size_t s = 0; going && s + sector <= got; s += sector) {
        const uint8_t* bytes = chunk.data() + s;
        if (!(exfat ? LooksLikeExFatDirectory(bytes, sector) : LooksLikeFatDirectory(bytes, sector))) continue;
        const uint64_t position = at + s;
        const int progress = int(position * 10000 / (p->size ? p->size : 1));
        if (progressBlock) progressBlock[1] = uint32_t(progress);
        if (const int delay = Core::Get().recordDelayMs.load()) Sleep(DWORD(delay));
        Holds::Get().BeforeRecord();
        going = values.rawSectorCallback(values.rawSectorTask, reinterpret_cast<const wchar_t*>(bytes), sector,
                                         0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, uint32_t(position),
                                         uint32_t(position >> 32), 0, 0, 0, 0, progress) != 0;
        if (++handed == 16 && Core::Get().TakeFault()) {
          volatile int* nowhere = nullptr;
          *nowhere = 1;
        }
      }
    }
    if (going && progressBlock) progressBlock[1] = 10000;
  } else if (progressBlock) {
    progressBlock[1] = 10000;
  }
  return 0;
}

int QVTD_API RecoverFATFile(void* partition, void* context, const QvtdFatFileBlock* block, const wchar_t* path,
                            uint32_t firstCluster, uint64_t size, uint64_t unixTime)
{
  const Partition* p = Core::Get().FindPartition(partition);
  if (!p) return kErrBadHandle;
  if (!block || block->bytes < sizeof(QvtdFatFileBlock) || !path || !path[0]) return kErrBadArgument;
  FatLayout g;
  std::vector<uint8_t> fat;
  Res r = ReadLayout(*p, g);
  if (r == Res::Ok) r = ReadFat(*p, g, fat);
  if (r != Res::Ok) return r == Res::IoError ? kErrIo : kErrCorrupt;
  UniqueFile file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return -int(GetLastError());
  int result = CopyClusters(*p, g, fat, firstCluster, size, block->deleted != 0, file.Get());
  if (result == 0) {
    // The file keeps the time the volume gave it.
    const uint64_t ft = unixTime * 10000000ull + 116444736000000000ull;
    FILETIME when = {DWORD(ft), DWORD(ft >> 32)};
    SetFileTime(file.Get(), nullptr, nullptr, &when);
  }
  file.Reset();
  if (result != 0) DeleteFileW(path);
  return result;
}

}  // extern "C"
