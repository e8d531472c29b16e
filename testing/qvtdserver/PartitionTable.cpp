// Partition tables of an image: a bare volume, MBR with its extended chain, or GPT
// (primary header, else the backup at the disk's last sector).
#include <windows.h>
#include <string.h>
#include <set>

#include "Disk.h"
#include "LeBytes.h"

namespace qvtd {

namespace {

constexpr size_t kMbrEntries = 446;
constexpr size_t kMbrEntrySize = 16;
constexpr uint32_t kMaxLogicals = 128;
// A GPT entry array larger than this is not a table any tool writes.
constexpr uint64_t kMaxGptArrayBytes = 4u << 20;

bool IsExtended(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

bool ReadSector(const Disk& disk, uint64_t lba, uint8_t (&sector)[kSectorSize])
{
  uint64_t at;
  if (!MulU64(lba, kSectorSize, at)) return false;
  size_t got = 0;
  return disk.ReadRaw(at, sector, kSectorSize, got) == Res::Ok && got == kSectorSize;
}

bool HasBootSignature(const uint8_t* sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

struct MbrEntry {
  uint8_t boot = 0;
  uint8_t type = 0;
  uint32_t start = 0;
  uint32_t count = 0;
};

bool ReadMbrEntries(const uint8_t* sector, MbrEntry (&entries)[4])
{
  Bytes b(sector, kSectorSize);
  for (size_t i = 0; i < 4; ++i) {
    const size_t at = kMbrEntries + i * kMbrEntrySize;
    if (!b.U8(at, entries[i].boot) || !b.U8(at + 4, entries[i].type) || !b.U32(at + 8, entries[i].start) ||
        !b.U32(at + 12, entries[i].count))
      return false;
    // Only 0x00 and 0x80 are boot indicators; anything else is not a partition table.
    if (entries[i].type != 0 && entries[i].boot != 0x00 && entries[i].boot != 0x80) return false;
  }
  return true;
}

void AddPartition(Disk& disk, uint32_t kind, uint64_t firstLba, uint64_t sectors, uint32_t mbrType, uint32_t flags)
{
  auto p = std::make_unique<Partition>();
  p->disk = &disk;
  p->number = int(disk.partitions.size()) + 1;
  p->tableKind = kind;
  p->firstByte = firstLba * kSectorSize;
  p->size = sectors * kSectorSize;
  p->mbrType = mbrType;
  p->flags = flags;
  uint8_t boot[kSectorSize];
  if (p->size >= kSectorSize && ReadSector(disk, firstLba, boot)) p->fsType = ProbeFileSystem(boot, kSectorSize);
  disk.partitions.push_back(std::move(p));
}

// The EBR chain: each EBR's first entry is a logical partition (relative to that EBR),
// its second the next EBR (relative to the extended partition's start).
void ReadLogicals(Disk& disk, uint64_t extStart, uint64_t extSectors)
{
  const uint64_t extEnd = extStart + extSectors;
  std::set<uint64_t> seen;
  uint64_t ebr = extStart;
  for (uint32_t n = 0; n < kMaxLogicals; ++n) {
    if (!seen.insert(ebr).second) {
      CoreLog(-2, "ReadLogicals", __LINE__, "%s: loop in the extended partition chain at sector %llu",
              disk.path.c_str(), (unsigned long long)ebr);
      return;
    }
    uint8_t sector[kSectorSize];
    if (!ReadSector(disk, ebr, sector) || !HasBootSignature(sector)) return;
    MbrEntry e[4];
    if (!ReadMbrEntries(sector, e)) return;
    if (e[0].type != 0 && e[0].count != 0 && !IsExtended(e[0].type)) {
      const uint64_t first = ebr + e[0].start;
      if (e[0].start != 0 && first + e[0].count <= extEnd)
        AddPartition(disk, kTableMbrLogical, first, e[0].count, e[0].type, e[0].boot == 0x80 ? 1 : 0);
      else
        CoreLog(-2, "ReadLogicals", __LINE__, "%s: logical partition outside its extended partition",
                disk.path.c_str());
    }
    if (!IsExtended(e[1].type) || e[1].start == 0) return;
    const uint64_t next = extStart + e[1].start;
    if (next >= extEnd) return;
    ebr = next;
  }
}

struct CrcTable {
  uint32_t v[256];
  CrcTable()
  {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      v[i] = c;
    }
  }
};

uint32_t Crc32(const uint8_t* p, size_t n)
{
  static const CrcTable table;
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) crc = table.v[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

// One GPT header and its entries; false when anything of it does not hold.
bool ReadGpt(Disk& disk, uint64_t headerLba)
{
  const uint64_t diskSectors = disk.Size() / kSectorSize;
  uint8_t h[kSectorSize];
  if (!ReadSector(disk, headerLba, h)) return false;
  Bytes b(h, kSectorSize);
  uint32_t headerSize = 0, headerCrc = 0, count = 0, entrySize = 0, arrayCrc = 0;
  uint64_t myLba = 0, firstUsable = 0, lastUsable = 0, entriesLba = 0;
  if (!b.Equals(0, "EFI PART", 8) || !b.U32(12, headerSize) || !b.U32(16, headerCrc) || !b.U64(24, myLba) ||
      !b.U64(40, firstUsable) || !b.U64(48, lastUsable) || !b.U64(72, entriesLba) || !b.U32(80, count) ||
      !b.U32(84, entrySize) || !b.U32(88, arrayCrc))
    return false;
  if (headerSize < 92 || headerSize > kSectorSize || myLba != headerLba) return false;
  uint8_t copy[kSectorSize];
  memcpy(copy, h, kSectorSize);
  memset(copy + 16, 0, 4);
  if (Crc32(copy, headerSize) != headerCrc) return false;
  if (entrySize < 128 || entrySize % 8 != 0) return false;
  // The array size comes from the disk: refuse it before it is multiplied or allocated.
  uint64_t arrayBytes;
  if (!MulU64(count, entrySize, arrayBytes) || arrayBytes > kMaxGptArrayBytes) {
    CoreLog(-2, "ReadGpt", __LINE__, "%s: GPT entry array of %lu x %lu bytes refused", disk.path.c_str(),
            (unsigned long)count, (unsigned long)entrySize);
    return false;
  }
  uint64_t arrayFirst, arrayEnd;
  if (!MulU64(entriesLba, kSectorSize, arrayFirst) || !AddU64(arrayFirst, arrayBytes, arrayEnd) ||
      arrayEnd > disk.Size())
    return false;
  std::vector<uint8_t> entries(static_cast<size_t>(arrayBytes));
  size_t got = 0;
  if (disk.ReadRaw(arrayFirst, entries.data(), entries.size(), got) != Res::Ok || got != entries.size()) return false;
  if (Crc32(entries.data(), entries.size()) != arrayCrc) return false;

  disk.partitions.clear();
  Bytes all(entries.data(), entries.size());
  static const uint8_t kUnused[16] = {};
  for (uint32_t i = 0; i < count; ++i) {
    Bytes e = all.Slice(size_t(i) * entrySize, entrySize);
    uint64_t first = 0, last = 0;
    if (e.Size() == 0 || e.Equals(0, kUnused, 16)) continue;
    if (!e.U64(32, first) || !e.U64(40, last)) continue;
    if (first > last || last >= diskSectors || first < firstUsable || last > lastUsable) {
      CoreLog(-2, "ReadGpt", __LINE__, "%s: GPT entry %lu outside the usable sectors", disk.path.c_str(),
              (unsigned long)i);
      continue;
    }
    AddPartition(disk, kTableGpt, first, last - first + 1, 0, 0);
    Partition& p = *disk.partitions.back();
    (void)e.Copy(0, p.gptType, 16);
    (void)e.Copy(16, p.gptId, 16);
  }
  return true;
}

}  // namespace

void ReadPartitionTable(Disk& disk)
{
  disk.partitions.clear();
  disk.layout = Layout::Empty;
  uint8_t s0[kSectorSize];
  if (!ReadSector(disk, 0, s0)) return;
  // A boot sector at sector 0 is a volume without a table: one partition, the whole image.
  const uint16_t bareType = ProbeFileSystem(s0, kSectorSize);
  if (bareType != kFsUnknown) {
    disk.layout = Layout::Bare;
    AddPartition(disk, kTableBare, 0, disk.Size() / kSectorSize, 0, 0);
    return;
  }
  if (!HasBootSignature(s0)) return;
  MbrEntry e[4];
  if (!ReadMbrEntries(s0, e)) return;
  for (const MbrEntry& m : e) {
    if (m.type != 0xEE) continue;
    const uint64_t last = disk.Size() / kSectorSize;
    if (ReadGpt(disk, 1) || (last > 1 && ReadGpt(disk, last - 1))) {
      disk.layout = Layout::Gpt;
    } else {
      disk.partitions.clear();
      CoreLog(-2, "ReadPartitionTable", __LINE__, "%s: protective MBR without a valid GPT", disk.path.c_str());
    }
    return;
  }
  disk.layout = Layout::Mbr;
  const MbrEntry* extended = nullptr;
  for (const MbrEntry& m : e) {
    if (m.type == 0 || m.count == 0) continue;
    if (IsExtended(m.type)) {
      if (!extended) extended = &m;
      continue;
    }
    if (m.start == 0) continue;  // would cover the table itself
    AddPartition(disk, kTableMbrPrimary, m.start, m.count, m.type, m.boot == 0x80 ? 1 : 0);
  }
  if (extended && extended->start != 0) ReadLogicals(disk, extended->start, extended->count);
}

}  // namespace qvtd
