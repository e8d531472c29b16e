// Lost partitions: the search for NTFS, FAT and exFAT boot sectors and their backups
// over a whole disk, the partition table written from what it found, and a partition's
// boot sector restored from its backup. Only the two repairs write to the image.
#include <windows.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

#include "Core.h"
#include "Disk.h"
#include "LeBytes.h"
#include "qvtdserver.h"

namespace qvtd {

namespace {

constexpr uint64_t kSearchChunk = 1u << 20;
constexpr size_t kMbrTable = 446;
constexpr size_t kMbrEntrySize = 16;

struct Found {
  uint64_t firstSector = 0;
  uint64_t sectors = 0;
  uint16_t fsType = kFsUnknown;
  bool bootLost = false;  // only the backup boot sector is intact
};

std::mutex g_foundLock;
std::map<const Disk*, std::vector<Found>> g_found;  // each disk's last search

bool ReadSectors(const Disk& disk, uint64_t lba, uint8_t* out, size_t count)
{
  uint64_t at;
  if (!MulU64(lba, kSectorSize, at)) return false;
  size_t got = 0;
  return disk.ReadRaw(at, out, count * kSectorSize, got) == Res::Ok && got == count * kSectorSize;
}

// The first entry of a FAT: the media byte with all other bits set (FAT32 entries
// keep their top four bits free).
bool FatStartsAt(const Disk& disk, uint64_t lba, uint8_t media, uint16_t type)
{
  uint8_t s[kSectorSize];
  if (!ReadSectors(disk, lba, s, 1) || s[0] != media) return false;
  if (type == kFsFat12) return s[1] == 0xFF && (s[2] & 0x0F) == 0x0F;
  if (type == kFsFat16) return s[1] == 0xFF;
  return s[1] == 0xFF && s[2] == 0xFF && (s[3] & 0x0F) == 0x0F;
}

uint32_t ExFatChecksum(const uint8_t* region, size_t sectors)
{
  uint32_t sum = 0;
  for (size_t i = 0; i < sectors * kSectorSize; ++i) {
    // The volume flags and the percent-in-use field change without a new checksum.
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
  }
  return sum;
}

// An exFAT boot region (12 sectors) whose checksum sector matches the other eleven.
bool ExFatRegionOk(const uint8_t* region)
{
  if (ProbeFileSystem(region, kSectorSize) != kFsExFat) return false;
  const uint32_t sum = ExFatChecksum(region, 11);
  Bytes check(region + 11 * kSectorSize, kSectorSize);
  for (size_t i = 0; i < kSectorSize; i += 4) {
    uint32_t v = 0;
    if (!check.U32(i, v) || v != sum) return false;
  }
  return true;
}

// The volume that a boot sector read at sector `at` describes when it stands `offset`
// sectors into the volume (0: the boot sector itself, else where its backup lies).
bool VolumeOf(const Disk& disk, const uint8_t* boot, uint16_t type, uint64_t at, uint64_t offset, Found& out)
{
  if (at < offset) return false;
  const uint64_t start = at - offset;
  const uint64_t diskSectors = disk.Size() / kSectorSize;
  Bytes b(boot, kSectorSize);
  uint16_t bps = 0;
  if (type != kFsExFat && (!b.U16(11, bps) || bps != kSectorSize)) return false;
  out = Found();
  out.firstSector = start;
  out.fsType = type;
  if (type == kFsNtfs) {
    uint64_t total = 0, mftCluster = 0;
    uint8_t spc = 0;
    if (!b.U64(40, total) || !b.U64(48, mftCluster) || !b.U8(13, spc) || spc == 0 || spc > 0x80) return false;
    // The backup boot sector is the volume's last sector, just past the counted ones.
    if (offset != 0 && offset != total) return false;
    out.sectors = total + 1;
    uint64_t mft;
    if (!MulU64(mftCluster, spc, mft) || !AddU64(mft, start, mft) || mft >= diskSectors) return false;
    uint8_t record[kSectorSize];
    if (!ReadSectors(disk, mft, record, 1) || memcmp(record, "FILE", 4) != 0) return false;
  } else if (type == kFsExFat) {
    uint64_t length = 0;
    uint32_t fatOffset = 0;
    uint8_t shift = 0;
    if (!b.U64(72, length) || !b.U32(80, fatOffset) || !b.U8(108, shift) || shift != 9) return false;
    if (offset != 0 && offset != 12) return false;
    out.sectors = length;
    std::vector<uint8_t> region(12 * kSectorSize);
    if (!ReadSectors(disk, at, region.data(), 12) || !ExFatRegionOk(region.data())) return false;
    if (!FatStartsAt(disk, start + fatOffset, 0xF8, kFsFat32)) return false;
  } else {
    uint16_t reserved = 0, total16 = 0, backup = 0;
    uint32_t total32 = 0;
    uint8_t media = 0;
    if (!b.U16(14, reserved) || !b.U16(19, total16) || !b.U32(32, total32) || !b.U8(21, media)) return false;
    if (offset != 0 && (type != kFsFat32 || !b.U16(50, backup) || backup != offset || backup >= reserved))
      return false;
    out.sectors = total16 ? total16 : total32;
    if (!FatStartsAt(disk, start + reserved, media, type)) return false;
  }
  if (out.sectors == 0 || start + out.sectors > diskSectors) return false;
  if (offset != 0) {
    uint8_t primary[kSectorSize];
    out.bootLost = !ReadSectors(disk, start, primary, 1) || ProbeFileSystem(primary, kSectorSize) != type;
  }
  return true;
}

bool Overlaps(const std::vector<Found>& found, const Found& f)
{
  for (const Found& g : found)
    if (f.firstSector < g.firstSector + g.sectors && g.firstSector < f.firstSector + f.sectors) return true;
  return false;
}

// Where a backup of this kind of boot sector lies inside its volume.
std::vector<uint64_t> BackupOffsets(const uint8_t* boot, uint16_t type)
{
  Bytes b(boot, kSectorSize);
  if (type == kFsNtfs) {
    uint64_t total = 0;
    if (b.U64(40, total)) return {total};
  } else if (type == kFsExFat) {
    return {12};
  } else if (type == kFsFat32) {
    uint16_t backup = 0;
    if (b.U16(50, backup) && backup != 0) return {backup};
  }
  return {};
}

// Scans every sector of the disk; progress gets 0..10000 and the count found so far.
bool Search(Disk& disk, QvtdPartitionProgress progress, void* task)
{
  {
    std::lock_guard<std::mutex> held(g_foundLock);
    g_found[&disk].clear();
  }
  std::vector<Found> found;
  const uint64_t size = disk.Size();
  std::vector<uint8_t> chunk(kSearchChunk);
  for (uint64_t at = 0; at < size; at += kSearchChunk) {
    if (const int delay = Core::Get().recordDelayMs.load()) Sleep(DWORD(delay));
    size_t got = 0;
    if (disk.ReadRaw(at, chunk.data(), chunk.size(), got) != Res::Ok) break;
    for (size_t s = 0; s + kSectorSize <= got; s += kSectorSize) {
      const uint8_t* boot = chunk.data() + s;
      if (boot[510] != 0x55 || boot[511] != 0xAA) continue;
      const uint16_t type = ProbeFileSystem(boot, kSectorSize);
      if (type == kFsUnknown) continue;
      const uint64_t lba = (at + s) / kSectorSize;
      // A backup first: a copy that stands behind a lost boot sector is met before
      // anything that the copy itself might seem to start.
      std::vector<uint64_t> offsets = BackupOffsets(boot, type);
      offsets.push_back(0);
      for (uint64_t offset : offsets) {
        Found f;
        if (!VolumeOf(disk, boot, type, lba, offset, f) || Overlaps(found, f)) continue;
        found.push_back(f);
        std::sort(found.begin(), found.end(),
                  [](const Found& a, const Found& b) { return a.firstSector < b.firstSector; });
        std::lock_guard<std::mutex> held(g_foundLock);
        g_found[&disk] = found;
        break;
      }
    }
    if (progress) {
      const int value = int(std::min<uint64_t>(size, at + got) * 10000 / std::max<uint64_t>(size, 1));
      if (progress(value, int(found.size()), task) == 0) return false;
    }
  }
  if (progress) progress(10000, int(found.size()), task);
  return true;
}

std::vector<Found> FoundOn(const Disk& disk)
{
  std::lock_guard<std::mutex> held(g_foundLock);
  auto it = g_found.find(&disk);
  return it == g_found.end() ? std::vector<Found>() : it->second;
}

Res WriteImage(const Disk& disk, uint64_t offset, const void* data, size_t length)
{
  UniqueFile file(CreateFileA(disk.path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return Res::IoError;
  OVERLAPPED ov = {};
  ov.Offset = DWORD(offset);
  ov.OffsetHigh = DWORD(offset >> 32);
  DWORD written = 0;
  if (!WriteFile(file.Get(), data, DWORD(length), &written, &ov) || written != length) return Res::IoError;
  return FlushFileBuffers(file.Get()) ? Res::Ok : Res::IoError;
}

uint8_t MbrTypeOf(uint16_t fsType)
{
  switch (fsType) {
  case kFsFat12: return 0x01;
  case kFsFat16: return 0x0E;
  case kFsFat32: return 0x0C;
  default: return 0x07;  // NTFS and exFAT
  }
}

void PutEntry(uint8_t* entry, uint8_t type, uint64_t first, uint64_t count)
{
  memset(entry, 0, kMbrEntrySize);
  // CHS fields say "use the LBA values", as for any disk past 8 GiB.
  entry[1] = entry[5] = 0xFE;
  entry[2] = entry[3] = entry[6] = entry[7] = 0xFF;
  entry[4] = type;
  for (int i = 0; i < 4; ++i) {
    entry[8 + i] = uint8_t(first >> (8 * i));
    entry[12 + i] = uint8_t(count >> (8 * i));
  }
}

// Up to four primaries; more go as logicals, each behind an EBR in the free sector
// just before it, in one extended partition after the first three.
Res WriteTable(Disk& disk, const std::vector<Found>& found)
{
  if (found.empty()) return Res::NotThisFs;
  for (const Found& f : found)
    if (f.firstSector > UINT32_MAX || f.sectors > UINT32_MAX || f.firstSector + f.sectors > UINT32_MAX)
      return Res::Unsupported;  // past what an MBR can address
  uint8_t mbr[kSectorSize] = {};
  size_t got = 0;
  if (disk.ReadRaw(0, mbr, kSectorSize, got) != Res::Ok || got != kSectorSize) memset(mbr, 0, sizeof mbr);
  memset(mbr + kMbrTable, 0, 4 * kMbrEntrySize);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  const size_t primaries = found.size() <= 4 ? found.size() : 3;
  for (size_t i = 0; i < primaries; ++i)
    PutEntry(mbr + kMbrTable + i * kMbrEntrySize, MbrTypeOf(found[i].fsType), found[i].firstSector, found[i].sectors);
  struct Ebr {
    uint64_t at;
    uint8_t sector[kSectorSize];
  };
  std::vector<Ebr> ebrs;
  for (size_t i = primaries; i < found.size(); ++i) {
    const uint64_t previousEnd = found[i - 1].firstSector + found[i - 1].sectors;
    if (found[i].firstSector == 0 || found[i].firstSector - 1 < previousEnd) {
      CoreLog(-2, "WriteTable", __LINE__, "%s: no free sector for the EBR of the partition at %llu",
              disk.path.c_str(), (unsigned long long)found[i].firstSector);
      break;
    }
    Ebr e;
    e.at = found[i].firstSector - 1;
    memset(e.sector, 0, kSectorSize);
    e.sector[510] = 0x55;
    e.sector[511] = 0xAA;
    PutEntry(e.sector + kMbrTable, MbrTypeOf(found[i].fsType), 1, found[i].sectors);
    ebrs.push_back(e);
  }
  if (!ebrs.empty()) {
    const uint64_t extStart = ebrs.front().at;
    const Found& last = found[primaries + ebrs.size() - 1];
    PutEntry(mbr + kMbrTable + 3 * kMbrEntrySize, 0x0F, extStart, last.firstSector + last.sectors - extStart);
    for (size_t i = 0; i + 1 < ebrs.size(); ++i) {
      const Found& next = found[primaries + i + 1];
      PutEntry(ebrs[i].sector + kMbrTable + kMbrEntrySize, 0x05, ebrs[i + 1].at - extStart,
               next.firstSector + next.sectors - ebrs[i + 1].at);
    }
  }
  for (const Ebr& e : ebrs) {
    const Res r = WriteImage(disk, e.at * kSectorSize, e.sector, kSectorSize);
    if (r != Res::Ok) return r;
  }
  return WriteImage(disk, 0, mbr, kSectorSize);
}

// The boot sector (region) of a partition, restored from its backup when that copy
// is whole and describes this partition.
Res RestoreBoot(const Partition& p)
{
  Disk& disk = *p.disk;
  const uint64_t first = p.firstByte / kSectorSize;
  const uint64_t sectors = p.size / kSectorSize;
  uint8_t current[kSectorSize];
  if (ReadSectors(disk, first, current, 1) && ProbeFileSystem(current, kSectorSize) != kFsUnknown) {
    CoreLog(0, "RepairPartBootRoutine", __LINE__, "%s: partition %d has a boot sector", disk.path.c_str(), p.number);
    return Res::Ok;
  }
  // NTFS keeps its copy in the partition's last sector, FAT32 at sector 6, exFAT its
  // whole boot region (12 sectors) after the main one.
  struct Backup {
    uint16_t type;
    uint64_t offset;
    size_t count;
  } const backups[] = {{kFsNtfs, sectors ? sectors - 1 : 0, 1}, {kFsFat32, 6, 1}, {kFsExFat, 12, 12}};
  for (const Backup& k : backups) {
    if (k.offset == 0 || k.offset + k.count > sectors) continue;
    std::vector<uint8_t> copy(k.count * kSectorSize);
    if (!ReadSectors(disk, first + k.offset, copy.data(), k.count)) continue;
    if (ProbeFileSystem(copy.data(), kSectorSize) != k.type) continue;
    Found f;
    if (!VolumeOf(disk, copy.data(), k.type, first + k.offset, k.offset, f) || f.firstSector != first ||
        f.sectors > sectors)
      continue;
    CoreLog(0, "RepairPartBootRoutine", __LINE__, "%s: partition %d boot sector restored from sector %llu",
            disk.path.c_str(), p.number, (unsigned long long)k.offset);
    return WriteImage(disk, p.firstByte, copy.data(), copy.size());
  }
  return Res::NotThisFs;
}

int ResultOf(Res r)
{
  switch (r) {
  case Res::Ok: return 0;
  case Res::NotThisFs: return -int(ERROR_UNRECOGNIZED_VOLUME);
  case Res::Unsupported: return -int(ERROR_NOT_SUPPORTED);
  default: return -int(ERROR_WRITE_FAULT);
  }
}

void FillFound(QvtdPartitionRecord& r, const Found& f, int number)
{
  memset(&r, 0, sizeof r);
  r.number = number;
  r.firstByte = f.firstSector * kSectorSize;
  r.mbrType = MbrTypeOf(f.fsType);
  r.size = f.sectors * kSectorSize;
  r.firstSector = f.firstSector;
  r.sectorSize = kSectorSize;
  r.flags = f.bootLost ? kQvtdFoundBootLost : 0;
  r.fsType = f.fsType;
}

}  // namespace

}  // namespace qvtd

using namespace qvtd;

extern "C" {

int QVTD_API RecoverPartitionRoutine(void* diskContext, int diskIndex, QvtdPartitionProgress progress, void* task)
{
  Disk* d = Core::Get().FindDisk(diskContext);
  if (!d) d = Core::Get().DiskAt(diskIndex);
  if (!d) return -int(ERROR_INVALID_HANDLE);
  return Search(*d, progress, task) ? 0 : -int(ERROR_CANCELLED);
}

int QVTD_API GetRecoveredPartitions(void* diskContext, int foundCount, QvtdPartitionRecord* out, int count)
{
  Disk* d = Core::Get().FindDisk(diskContext);
  if (!d) return -int(ERROR_INVALID_HANDLE);
  if (count < 0 || (count > 0 && !out)) return -int(ERROR_INVALID_PARAMETER);
  const std::vector<Found> found = FoundOn(*d);
  const int n = std::min({int(found.size()), std::max(foundCount, 0), count});
  for (int i = 0; i < n; ++i) FillFound(out[i], found[size_t(i)], i + 1);
  return n;
}

int QVTD_API RepairDiskPartTableRoutine(void* diskContext, void* task)
{
  Disk* d = Core::Get().FindDisk(diskContext);
  if (!d) return -int(ERROR_INVALID_HANDLE);
  std::vector<Found> found = FoundOn(*d);
  if (found.empty() && Search(*d, nullptr, nullptr)) found = FoundOn(*d);
  return ResultOf(WriteTable(*d, found));
}

int QVTD_API RepairPartBootRoutine(void* partition, void* diskContext, void* task)
{
  const Partition* p = Core::Get().FindPartition(partition);
  if (!p || p->IsWholeDisk()) return -int(ERROR_INVALID_HANDLE);
  return ResultOf(RestoreBoot(*p));
}

}  // extern "C"
