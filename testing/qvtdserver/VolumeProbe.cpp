// What file system a boot sector starts, checked field by field before anything is
// derived from it, and the volume's label.
#include <windows.h>
#include <string.h>
#include <vector>

#include "Disk.h"
#include "LeBytes.h"

namespace qvtd {

namespace {

bool ValidBytesPerSector(uint32_t bps) { return bps == 512 || bps == 1024 || bps == 2048 || bps == 4096; }
bool PowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool IsNtfs(const Bytes& b)
{
  uint16_t bps = 0;
  uint8_t spc = 0;
  if (!b.Equals(3, "NTFS    ", 8) || !b.U16(11, bps) || !b.U8(13, spc)) return false;
  // Sectors per cluster above 128 are stored as a negative shift (large clusters).
  return ValidBytesPerSector(bps) && spc != 0 && (spc > 0x80 || PowerOfTwo(spc));
}

bool IsExFat(const Bytes& b)
{
  if (!b.Equals(3, "EXFAT   ", 8)) return false;
  for (size_t i = 11; i < 64; ++i) {
    uint8_t v = 0;
    if (!b.U8(i, v) || v != 0) return false;  // the legacy BPB area must be zero
  }
  uint8_t bpss = 0, spcs = 0, fats = 0;
  if (!b.U8(108, bpss) || !b.U8(109, spcs) || !b.U8(110, fats)) return false;
  return bpss >= 9 && bpss <= 12 && spcs <= 25 - bpss && (fats == 1 || fats == 2);
}

struct FatGeometry {
  uint32_t bytesPerSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint64_t clusters = 0;
};

// The BPB checks and the cluster count, as Microsoft's FAT specification gives them.
bool ReadFatGeometry(const Bytes& b, FatGeometry& g)
{
  uint8_t jump = 0, nop = 0, spc = 0, fats = 0, media = 0;
  uint16_t bps = 0, reserved = 0, rootEntries = 0, total16 = 0, fat16 = 0;
  uint32_t total32 = 0, fat32 = 0;
  if (!b.U8(0, jump) || !b.U8(2, nop) || !b.U16(11, bps) || !b.U8(13, spc) || !b.U16(14, reserved) ||
      !b.U8(16, fats) || !b.U16(17, rootEntries) || !b.U16(19, total16) || !b.U8(21, media) ||
      !b.U16(22, fat16) || !b.U32(32, total32) || !b.U32(36, fat32))
    return false;
  if (!(jump == 0xE9 || (jump == 0xEB && nop == 0x90))) return false;
  if (!ValidBytesPerSector(bps) || !PowerOfTwo(spc) || spc > 128 || reserved == 0 || fats == 0) return false;
  if (media != 0xF0 && media < 0xF8) return false;
  const uint32_t fatSectors = fat16 != 0 ? fat16 : fat32;
  const uint32_t totalSectors = total16 != 0 ? total16 : total32;
  if (fatSectors == 0 || totalSectors == 0) return false;
  const uint64_t rootDirSectors = (uint64_t(rootEntries) * 32 + (bps - 1)) / bps;
  const uint64_t meta = uint64_t(reserved) + uint64_t(fats) * fatSectors + rootDirSectors;
  if (meta >= totalSectors) return false;
  g.bytesPerSector = bps;
  g.sectorsPerCluster = spc;
  g.clusters = (totalSectors - meta) / spc;
  return g.clusters > 0;
}

uint16_t FatTypeOf(uint64_t clusters)
{
  if (clusters < 4085) return kFsFat12;
  if (clusters < 65525) return kFsFat16;
  return kFsFat32;
}

std::wstring OemText(const uint8_t* p, size_t n)
{
  wchar_t w[64] = {};
  int got = MultiByteToWideChar(CP_OEMCP, 0, reinterpret_cast<const char*>(p), int(n), w, 63);
  std::wstring s(w, got > 0 ? size_t(got) : 0);
  while (!s.empty() && (s.back() == L' ' || s.back() == L'\0')) s.pop_back();
  return s;
}

std::wstring Utf16Text(const Bytes& b, size_t offset, size_t chars)
{
  std::wstring s;
  for (size_t i = 0; i < chars; ++i) {
    uint16_t c = 0;
    if (!b.U16(offset + 2 * i, c) || c == 0) break;
    s.push_back(wchar_t(c));
  }
  return s;
}

bool ReadAt(const Partition& p, uint64_t offset, std::vector<uint8_t>& buf)
{
  size_t got = 0;
  return p.Read(offset, buf.data(), buf.size(), got) == Res::Ok && got == buf.size();
}

// NTFS keeps its label in the $VOLUME_NAME attribute of MFT record 3 ($Volume).
std::wstring NtfsLabel(const Partition& p, const Bytes& boot)
{
  uint16_t bps = 0;
  uint8_t spc = 0;
  uint64_t mftCluster = 0;
  uint8_t perRecord = 0;
  if (!boot.U16(11, bps) || !boot.U8(13, spc) || !boot.U64(48, mftCluster) || !boot.U8(64, perRecord))
    return std::wstring();
  const uint64_t clusterSize = spc > 0x80 ? (uint64_t(1) << (256 - spc)) : uint64_t(spc) * bps;
  const int8_t rec = int8_t(perRecord);
  uint64_t recordSize = rec < 0 ? (-rec < 31 ? uint64_t(1) << -rec : 0) : uint64_t(rec) * clusterSize;
  if (recordSize < 512 || recordSize > 65536 || recordSize % bps != 0) return std::wstring();
  uint64_t at = 0;
  if (!MulU64(mftCluster, clusterSize, at) || !AddU64(at, 3 * recordSize, at)) return std::wstring();
  std::vector<uint8_t> r(static_cast<size_t>(recordSize));
  if (!ReadAt(p, at, r)) return std::wstring();
  Bytes b(r.data(), r.size());
  uint16_t usaOffset = 0, usaCount = 0, attrOffset = 0;
  if (!b.Equals(0, "FILE", 4) || !b.U16(4, usaOffset) || !b.U16(6, usaCount) || !b.U16(20, attrOffset))
    return std::wstring();
  // Undo the update sequence: the last two bytes of each sector were swapped out.
  if (usaCount == 0 || size_t(usaCount - 1) * bps > r.size()) return std::wstring();
  uint16_t check = 0;
  if (!b.U16(usaOffset, check)) return std::wstring();
  for (uint32_t i = 1; i < usaCount; ++i) {
    const size_t tail = size_t(i) * bps - 2;
    uint16_t here = 0, orig = 0;
    if (!b.U16(tail, here) || here != check || !b.U16(usaOffset + 2 * i, orig)) return std::wstring();
    r[tail] = uint8_t(orig);
    r[tail + 1] = uint8_t(orig >> 8);
  }
  size_t pos = attrOffset;
  for (int guard = 0; guard < 64; ++guard) {
    uint32_t type = 0, len = 0;
    if (!b.U32(pos, type) || type == 0xFFFFFFFF || !b.U32(pos + 4, len)) break;
    if (len < 24 || !b.Has(pos, len)) break;
    uint8_t nonResident = 1;
    if (type == 0x60 && b.U8(pos + 8, nonResident) && nonResident == 0) {
      uint32_t valueLen = 0;
      uint16_t valueOffset = 0;
      if (!b.U32(pos + 16, valueLen) || !b.U16(pos + 20, valueOffset)) break;
      if (valueOffset > len || valueLen > len - valueOffset) break;
      return Utf16Text(b, pos + valueOffset, std::min<size_t>(valueLen / 2, 32));
    }
    pos += len;
  }
  return std::wstring();
}

// exFAT keeps its label in a volume-label entry (0x83) of the root directory.
std::wstring ExFatLabel(const Partition& p, const Bytes& boot)
{
  uint32_t heapOffset = 0, rootCluster = 0;
  uint8_t bpss = 0, spcs = 0;
  if (!boot.U32(88, heapOffset) || !boot.U32(96, rootCluster) || !boot.U8(108, bpss) || !boot.U8(109, spcs))
    return std::wstring();
  if (rootCluster < 2) return std::wstring();
  const uint64_t sectorSize = uint64_t(1) << bpss;
  const uint64_t clusterSize = sectorSize << spcs;
  const uint64_t at = (uint64_t(heapOffset) + (uint64_t(rootCluster) - 2) * (uint64_t(1) << spcs)) * sectorSize;
  std::vector<uint8_t> dir(size_t(std::min<uint64_t>(clusterSize, 65536)));
  if (!ReadAt(p, at, dir)) return std::wstring();
  Bytes b(dir.data(), dir.size());
  for (size_t e = 0; e + 32 <= dir.size(); e += 32) {
    uint8_t type = 0, count = 0;
    if (!b.U8(e, type) || type == 0x00) break;
    if (type == 0x83 && b.U8(e + 1, count)) return Utf16Text(b, e + 2, std::min<size_t>(count, 11));
  }
  return std::wstring();
}

}  // namespace

uint16_t ProbeFileSystem(const uint8_t* bootSector, size_t length)
{
  if (!bootSector || length < kSectorSize) return kFsUnknown;
  Bytes b(bootSector, length);
  if (bootSector[510] != 0x55 || bootSector[511] != 0xAA) return kFsUnknown;
  if (IsNtfs(b)) return kFsNtfs;
  if (IsExFat(b)) return kFsExFat;
  FatGeometry g;
  if (ReadFatGeometry(b, g)) return FatTypeOf(g.clusters);
  return kFsUnknown;
}

void ReadVolumeLabel(const Partition& partition, std::wstring& label)
{
  label.clear();
  std::vector<uint8_t> boot(kSectorSize);
  if (partition.fsType == kFsUnknown || !ReadAt(partition, 0, boot)) return;
  Bytes b(boot.data(), boot.size());
  uint8_t sig = 0;
  switch (partition.fsType) {
  case kFsFat12:
  case kFsFat16:
    if (b.U8(38, sig) && sig == 0x29) label = OemText(boot.data() + 43, 11);
    break;
  case kFsFat32:
    if (b.U8(66, sig) && sig == 0x29) label = OemText(boot.data() + 71, 11);
    break;
  case kFsNtfs:
    label = NtfsLabel(partition, b);
    break;
  case kFsExFat:
    label = ExFatLabel(partition, b);
    break;
  default:
    break;
  }
  if (label == L"NO NAME") label.clear();
  if (label.size() > 31) label.resize(31);
}

}  // namespace qvtd
