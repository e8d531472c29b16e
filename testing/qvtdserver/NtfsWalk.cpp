// The core's NTFS walk: hands $MFT's records (or, for a formatted volume, every file
// record found on the partition) to the scanner one at a time, and re-reads single
// records afterwards. All reads go through Partition::Read.
#include "NtfsWalk.h"
#include "Holds.h"

#include <windows.h>
#include <stddef.h>
#include <string.h>
#include <algorithm>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "Core.h"
#include "qvtdserver.h"

static_assert(offsetof(QvtdNtfsRecordBlock, recordCount) == 8 && offsetof(QvtdNtfsRecordBlock, recordSize) == 16 &&
                  offsetof(QvtdNtfsRecordBlock, bytesPerCluster) == 20 && offsetof(QvtdNtfsRecordBlock, task) == 24 &&
                  offsetof(QvtdNtfsRecordBlock, partition) == 28 && offsetof(QvtdNtfsRecordBlock, buffer) == 32 &&
                  offsetof(QvtdNtfsRecordBlock, place) == 36 && sizeof(QvtdNtfsRecordBlock) == 40,
              "record block layout");

namespace qvtd {

namespace {

constexpr int kErrBadHandle = -6;
constexpr int kErrBadArgument = -87;
constexpr int kErrIo = -int(ERROR_CRC);
constexpr int kErrNotNtfs = -int(ERROR_UNRECOGNIZED_VOLUME);
constexpr int kErrCorrupt = -int(ERROR_FILE_CORRUPT);

constexpr uint32_t kSector = 512;
constexpr uint32_t kMaxRecord = 65536;
constexpr uint32_t kMaxCluster = 2u << 20;
constexpr size_t kChunk = 1u << 20;  // bytes per read while walking
constexpr uint32_t kDefaultCluster = 4096;
constexpr uint32_t kDefaultRecord = 1024;
constexpr int kProgressWord = 1;
constexpr uint32_t kProgressFull = 10000;
constexpr uint64_t kFaultAfter = 16;  // records handed over before an injected fault

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

int ErrorOf(Res r)
{
  switch (r) {
  case Res::NotThisFs: return kErrNotNtfs;
  case Res::Corrupt: return kErrCorrupt;
  case Res::BadArgument: return kErrBadArgument;
  default: return kErrIo;
  }
}

// Reads exactly length bytes; a short read (past the partition end) is a failure.
Res ReadExact(const Partition& p, uint64_t offset, void* buffer, size_t length)
{
  size_t got = 0;
  Res r = p.Read(offset, buffer, length, got);
  if (r != Res::Ok) return r;
  return got == length ? Res::Ok : Res::IoError;
}

// Where $MFT's records lie: its geometry and extents.
struct MftMap {
  NtfsGeometry geo;
  uint64_t records = 0;
  std::vector<Extent> extents;  // in VCN order, contiguous from VCN 0

  // Partition offset of the byte at mftByte, and how many bytes follow it contiguously.
  bool Locate(uint64_t mftByte, uint64_t& offset, uint64_t& contiguous) const
  {
    const uint64_t vcn = mftByte / geo.bytesPerCluster;
    auto it = std::upper_bound(extents.begin(), extents.end(), vcn,
                               [](uint64_t v, const Extent& e) { return v < e.vcn; });
    if (it == extents.begin()) return false;
    --it;
    if (vcn - it->vcn >= it->clusters || it->lcn == Extent::kUnmapped) return false;
    const uint64_t within = mftByte - it->vcn * geo.bytesPerCluster;
    offset = it->lcn * geo.bytesPerCluster + within;
    contiguous = it->clusters * geo.bytesPerCluster - within;
    return true;
  }

  // Reads [mftByte, mftByte + length) of $MFT's data; false when any part is unmapped or unreadable.
  Res ReadData(const Partition& p, uint64_t mftByte, uint8_t* out, size_t length) const
  {
    while (length > 0) {
      uint64_t at = 0, run = 0;
      if (!Locate(mftByte, at, run)) return Res::Corrupt;
      const size_t piece = size_t(std::min<uint64_t>(run, length));
      Res r = ReadExact(p, at, out, piece);
      if (r != Res::Ok) return r;
      out += piece;
      mftByte += piece;
      length -= piece;
    }
    return Res::Ok;
  }

  // The record number whose bytes lie at a partition offset, for position numbering.
  bool NumberAt(uint64_t offset, uint64_t& number) const
  {
    for (const Extent& e : extents) {
      if (e.lcn == Extent::kUnmapped) continue;
      const uint64_t first = e.lcn * geo.bytesPerCluster;
      const uint64_t bytes = e.clusters * geo.bytesPerCluster;
      if (offset >= first && offset - first < bytes) {
        number = (e.vcn * geo.bytesPerCluster + (offset - first)) / geo.recordSize;
        return number < records;
      }
    }
    return false;
  }
};

// Finds an attribute of the given type with an empty name in a fixed-up record.
bool FindUnnamed(Bytes rec, uint32_t type, Bytes& attr)
{
  uint16_t first = 0;
  uint32_t used = 0;
  if (!rec.U16(0x14, first) || !rec.U32(0x18, used)) return false;
  if (used > rec.Size()) used = uint32_t(rec.Size());
  size_t at = first;
  while (at < used && used - at >= 8) {
    uint32_t t = 0, len = 0;
    if (!rec.U32(at, t) || t == 0xFFFFFFFF) return false;
    if (!rec.U32(at + 4, len) || len < 0x18 || len > used - at || (len & 7) != 0) return false;
    uint8_t nameLength = 1;
    if (!rec.U8(at + 9, nameLength)) return false;
    if (t == type && nameLength == 0) {
      attr = rec.Slice(at, len);
      return true;
    }
    at += len;
  }
  return false;
}

// $MFT's extents from its record 0: the unnamed $DATA there, and further pieces that an
// $ATTRIBUTE_LIST places in extension records.
Res LoadMftMap(const Partition& p, MftMap& map)
{
  uint8_t boot[kSector];
  Res r = ReadExact(p, 0, boot, kSector);
  if (r != Res::Ok) return r;
  r = ParseNtfsBoot(Bytes(boot, kSector), map.geo);
  if (r != Res::Ok) return r;
  const NtfsGeometry& g = map.geo;

  uint64_t mftOffset = 0;
  if (!MulU64(g.mftLcn, g.bytesPerCluster, mftOffset)) return Res::NotThisFs;
  std::vector<uint8_t> rec0(g.recordSize);
  r = ReadExact(p, mftOffset, rec0.data(), rec0.size());
  if (r != Res::Ok) return r;
  if (!FileRecordHeaderOk(Bytes(rec0.data(), rec0.size()), g.recordSize) || !ApplyFixups(rec0.data(), g.recordSize))
    return Res::Corrupt;
  const Bytes rec(rec0.data(), rec0.size());
  Bytes data(nullptr, 0);
  uint8_t nonResident = 0;
  if (!FindUnnamed(rec, 0x80, data) || !data.U8(8, nonResident) || nonResident != 1) return Res::Corrupt;
  uint64_t firstVcn = 0, lastVcn = 0, dataSize = 0;
  uint16_t pairsAt = 0;
  if (!data.U64(0x10, firstVcn) || !data.U64(0x18, lastVcn) || !data.U16(0x20, pairsAt) ||
      !data.U64(0x30, dataSize) || firstVcn != 0 || pairsAt >= data.Size())
    return Res::Corrupt;
  map.records = dataSize / g.recordSize;
  if (map.records == 0) return Res::Corrupt;
  r = DecodeRuns(data.Slice(pairsAt, data.Size() - pairsAt), 0, lastVcn, g.totalClusters, map.extents);
  if (r != Res::Ok) return r;

  // $MFT's data continued in extension records: their $DATA pieces follow in VCN order.
  Bytes list(nullptr, 0);
  uint8_t listNonResident = 1;
  uint64_t needed = (dataSize + g.bytesPerCluster - 1) / g.bytesPerCluster;
  auto mapped = [&map] { return map.extents.empty() ? 0 : map.extents.back().vcn + map.extents.back().clusters; };
  if (mapped() < needed && FindUnnamed(rec, 0x20, list) && list.U8(8, listNonResident) && listNonResident == 0) {
    uint32_t valueLength = 0;
    uint16_t valueAt = 0;
    if (list.U32(0x10, valueLength) && list.U16(0x14, valueAt)) {
      const Bytes entries = list.Slice(valueAt, valueLength);
      std::vector<uint8_t> ext(g.recordSize);
      for (size_t at = 0; entries.Has(at, 0x1A) && mapped() < needed;) {
        uint32_t type = 0;
        uint16_t len = 0;
        uint8_t nameLength = 0;
        uint64_t startVcn = 0, reference = 0;
        if (!entries.U32(at, type) || !entries.U16(at + 4, len) || !entries.U8(at + 6, nameLength) ||
            !entries.U64(at + 8, startVcn) || !entries.U64(at + 0x10, reference) || len < 0x1A ||
            len > entries.Size() - at)
          break;
        at += len;
        const uint64_t number = reference & 0xFFFFFFFFFFFFull;
        if (type != 0x80 || nameLength != 0 || number == 0 || startVcn != mapped()) continue;
        uint64_t extAt = 0;
        if (!MulU64(number, g.recordSize, extAt) || map.ReadData(p, extAt, ext.data(), ext.size()) != Res::Ok) break;
        if (!FileRecordHeaderOk(Bytes(ext.data(), ext.size()), g.recordSize) || !ApplyFixups(ext.data(), g.recordSize))
          break;
        const Bytes extRec(ext.data(), ext.size());
        // The extension record must be the one the list names and must name record 0 as
        // its base: another file's record would give $MFT that file's clusters.
        uint16_t extSequence = 0, rec0Sequence = 0;
        uint64_t extBase = 0;
        if (!extRec.U16(0x10, extSequence) || !rec.U16(0x10, rec0Sequence) || !extRec.U64(0x20, extBase) ||
            extSequence != uint16_t(reference >> 48) || extBase != uint64_t(rec0Sequence) << 48)
          break;
        Bytes piece(nullptr, 0);
        uint64_t pFirst = 0, pLast = 0;
        uint16_t pAt = 0;
        if (!FindUnnamed(extRec, 0x80, piece) || !piece.U64(0x10, pFirst) || !piece.U64(0x18, pLast) ||
            !piece.U16(0x20, pAt) || pFirst != startVcn || pAt >= piece.Size())
          break;
        std::vector<Extent> more;
        if (DecodeRuns(piece.Slice(pAt, piece.Size() - pAt), pFirst, pLast, g.totalClusters, more) != Res::Ok) break;
        map.extents.insert(map.extents.end(), more.begin(), more.end());
      }
    }
  }
  // A data size beyond what the runs cover, or beyond the partition, is corrupt: only
  // records that can lie somewhere are counted.
  uint64_t coveredBytes = 0;
  if (!MulU64(mapped(), g.bytesPerCluster, coveredBytes)) coveredBytes = UINT64_MAX;
  const uint64_t limit = std::min(coveredBytes, p.size) / g.recordSize;
  if (map.records > limit) {
    CoreLog(-1, "NTFSEnumVirtualFRs", __LINE__, "partition %d: $MFT claims %llu records, its runs hold %llu",
            p.number, (unsigned long long)map.records, (unsigned long long)limit);
    map.records = limit;
  }
  return map.records > 0 ? Res::Ok : Res::Corrupt;
}

// One walk's state. Walks are never freed while the library is loaded: the product
// re-reads records through the block after the walk.
struct Walk {
  QvtdNtfsRecordBlock block = {};
  std::vector<uint8_t> buffer;
  const Partition* partition = nullptr;
  bool formatted = false;
  std::shared_ptr<const MftMap> map;  // normal walk
  // Formatted walk: the records found by number. A record whose place contradicts its
  // number gives way to one that does not; else the first find wins.
  struct Found {
    uint64_t offset;
    uint32_t size;
    bool misplaced;
  };
  std::mutex foundLock;
  std::unordered_map<uint64_t, Found> found;
};

class WalkRegistry {
public:
  static WalkRegistry& Get()
  {
    static WalkRegistry registry;
    return registry;
  }

  Walk* NewWalk(const Partition* p)
  {
    std::lock_guard<std::mutex> held(m_lock);
    m_walks.emplace_back(std::make_unique<Walk>());
    Walk* w = m_walks.back().get();
    w->partition = p;
    m_byBlock[&w->block] = w;
    if (p) m_lastOnDisk[p->disk] = p;
    return w;
  }
  Walk* FindByBlock(const void* block) const
  {
    std::lock_guard<std::mutex> held(m_lock);
    auto it = m_byBlock.find(block);
    return it == m_byBlock.end() ? nullptr : it->second;
  }
  void SetMap(const Partition* p, std::shared_ptr<const MftMap> map)
  {
    std::lock_guard<std::mutex> held(m_lock);
    m_maps[p] = std::move(map);
  }
  std::shared_ptr<const MftMap> MapOf(const Partition* p) const
  {
    std::lock_guard<std::mutex> held(m_lock);
    auto it = m_maps.find(p);
    return it == m_maps.end() ? nullptr : it->second;
  }
  const Partition* LastOnDisk(const Disk* d) const
  {
    std::lock_guard<std::mutex> held(m_lock);
    auto it = m_lastOnDisk.find(d);
    return it == m_lastOnDisk.end() ? nullptr : it->second;
  }

private:
  mutable std::mutex m_lock;
  std::list<std::unique_ptr<Walk>> m_walks;
  std::map<const void*, Walk*> m_byBlock;
  std::map<const Partition*, std::shared_ptr<const MftMap>> m_maps;
  std::map<const Disk*, const Partition*> m_lastOnDisk;
};

// A partition's $MFT map: the last walk's, else decoded now and kept.
Res MapFor(const Partition& p, std::shared_ptr<const MftMap>& out)
{
  out = WalkRegistry::Get().MapOf(&p);
  if (out) return Res::Ok;
  auto map = std::make_shared<MftMap>();
  Res r = LoadMftMap(p, *map);
  if (r != Res::Ok) return r;
  WalkRegistry::Get().SetMap(&p, map);
  out = map;
  return Res::Ok;
}

void SetProgress(uint32_t* block, uint64_t done, uint64_t total)
{
  if (!block) return;
  const uint64_t value = total == 0 ? kProgressFull : std::min<uint64_t>(done * kProgressFull / total, kProgressFull);
  reinterpret_cast<volatile uint32_t*>(block)[kProgressWord] = uint32_t(value);
}

// A real access violation on this thread, for the product's exception guard.
void RaiseAccessViolation()
{
  CoreLog(-1, "NTFSEnumVirtualFRs", __LINE__, "injected access violation");
  void* page = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
  if (page) {
    *static_cast<volatile uint32_t*>(page) = 0xDEADBEEF;
    VirtualFree(page, 0, MEM_RELEASE);
  }
  ULONG_PTR info[2] = {1, ULONG_PTR(page)};
  RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 2, info);
}

// Hands one record over; false when the callback asks to stop.
class Handover {
public:
  Handover(Walk& w, QvtdNtfsRecordCallback onRecord, uint32_t* progress)
      : m_walk(w), m_onRecord(onRecord), m_progress(progress), m_fault(Core::Get().TakeFault())
  {}

  bool Give(uint64_t number, uint32_t place, const uint8_t* bytes, uint32_t size)
  {
    if (const int delay = Core::Get().recordDelayMs.load()) Sleep(DWORD(delay));
    Holds::Get().BeforeRecord();
    QvtdNtfsRecordBlock& b = m_walk.block;
    if (m_walk.buffer.size() < size) m_walk.buffer.resize(size);
    memcpy(m_walk.buffer.data(), bytes, size);
    b.buffer = m_walk.buffer.data();
    b.recordNumber = number;
    b.recordSize = size;
    b.place = place;
    const bool go = m_onRecord(&b) != 0;
    if (m_fault == 1 && ++m_given == kFaultAfter) RaiseAccessViolation();
    return go;
  }
  // A walk that ends with fewer records still raises a pending fault before finishing.
  void End()
  {
    if (m_fault == 1 && m_given < kFaultAfter) RaiseAccessViolation();
  }
  void Progress(uint64_t done, uint64_t total) { SetProgress(m_progress, done, total); }

private:
  Walk& m_walk;
  QvtdNtfsRecordCallback m_onRecord;
  uint32_t* m_progress;
  int m_fault;
  uint64_t m_given = 0;
};

// Records 0..N-1 of $MFT, in chunks; a chunk that cannot be read is retried record by record.
int WalkMft(Walk& w, Handover& give)
{
  const Partition& p = *w.partition;
  auto map = std::make_shared<MftMap>();
  Res r = LoadMftMap(p, *map);
  if (r != Res::Ok) {
    CoreLog(-2, "NTFSEnumVirtualFRs", __LINE__, "partition %d: no usable $MFT (%d)", p.number, ErrorOf(r));
    return ErrorOf(r);
  }
  WalkRegistry::Get().SetMap(&p, map);
  w.map = map;
  const uint32_t size = map->geo.recordSize;
  w.block.recordCount = map->records;
  w.block.recordSize = size;
  w.block.bytesPerCluster = map->geo.bytesPerCluster;

  const uint64_t perChunk = std::max<uint64_t>(1, kChunk / size);
  std::vector<uint8_t> chunk(size_t(perChunk) * size);
  uint64_t skipped = 0;
  for (uint64_t first = 0; first < map->records; first += perChunk) {
    const uint64_t count = std::min(perChunk, map->records - first);
    const bool whole = map->ReadData(p, first * size, chunk.data(), size_t(count) * size) == Res::Ok;
    for (uint64_t i = 0; i < count; ++i) {
      uint8_t* rec = chunk.data() + size_t(i) * size;
      if (!whole && map->ReadData(p, (first + i) * size, rec, size) != Res::Ok) {
        ++skipped;
        continue;
      }
      give.Progress(first + i, map->records);
      if (!give.Give(first + i, uint32_t(first + i + 1), rec, size)) {
        give.End();
        return 0;
      }
    }
  }
  if (skipped)
    CoreLog(-1, "NTFSEnumVirtualFRs", __LINE__, "partition %d: %llu records unmapped or unreadable", p.number,
            (unsigned long long)skipped);
  give.Progress(1, 1);
  give.End();
  return 0;
}

// A file record at this offset of a scanned buffer: its allocated size when its header holds.
uint32_t FoundRecordSize(Bytes at)
{
  static const uint8_t kFile[4] = {'F', 'I', 'L', 'E'};
  if (!at.Equals(0, kFile, 4)) return 0;
  uint32_t allocated = 0;
  if (!at.U32(0x1C, allocated) || allocated < kSector || allocated > kMaxRecord || !IsPowerOfTwo(allocated)) return 0;
  return FileRecordHeaderOk(at, allocated) ? allocated : 0;
}

// The number one below that of the record lying right after this one (of the same
// size), when that one holds its number.
bool NextOwnNumber(Bytes at, uint32_t size, uint64_t& number)
{
  const Bytes next = at.Slice(size, at.Size() > size ? at.Size() - size : 0);
  uint16_t firstAttr = 0;
  uint32_t own = 0;
  if (FoundRecordSize(next) != size || !next.U16(0x14, firstAttr) || firstAttr <= 0x30 || !next.U32(0x2C, own) ||
      own == 0)
    return false;
  number = own - 1;
  return true;
}

// Every file record of the partition at 512-byte steps, under its own number.
int WalkFormatted(Walk& w, Handover& give)
{
  const Partition& p = *w.partition;
  std::shared_ptr<const MftMap> current;
  if (MapFor(p, current) != Res::Ok) current = nullptr;  // the volume may no longer be NTFS
  const uint32_t cluster = current ? current->geo.bytesPerCluster : kDefaultCluster;
  const uint32_t nominal = current ? current->geo.recordSize : kDefaultRecord;
  w.block.bytesPerCluster = cluster;
  w.block.recordSize = nominal;
  w.block.recordCount = p.size / nominal;

  // The extra bytes after each chunk let a record that starts near its end be checked whole.
  std::vector<uint8_t> chunk(kChunk + kMaxRecord);
  constexpr size_t kPiece = 4096;
  uint64_t found = 0, skipUntil = 0;
  uint64_t previousEnd = UINT64_MAX, previousNumber = 0;
  uint32_t previousSize = 0;
  for (uint64_t base = 0; base < p.size; base += kChunk) {
    size_t got = 0;
    if (p.Read(base, chunk.data(), chunk.size(), got) != Res::Ok) {
      // Part of it is unreadable: take it piece by piece, the bad pieces as zeros.
      got = size_t(std::min<uint64_t>(chunk.size(), p.size - base));
      for (size_t at = 0; at < got; at += kPiece) {
        size_t n = 0;
        const size_t want = std::min(kPiece, got - at);
        if (p.Read(base + at, chunk.data() + at, want, n) != Res::Ok || n != want)
          memset(chunk.data() + at, 0, want);
      }
    }
    const size_t scan = std::min(got, kChunk);
    for (size_t at = 0; at < scan; at += kSector) {
      const uint64_t offset = base + at;
      if (offset < skipUntil) continue;
      const uint32_t size = FoundRecordSize(Bytes(chunk.data() + at, got - at));
      if (size == 0) continue;
      const uint8_t* rec = chunk.data() + at;
      const Bytes view(rec, size);
      uint16_t firstAttr = 0;
      uint32_t own = 0;
      uint64_t number = 0, placed = 0;
      // Its place: in the current $MFT, or else beside the record handed just before it
      // (an old $MFT's records lie one after another), or else before the next one.
      bool hasPlace = current && current->NumberAt(offset, placed);
      if (!hasPlace && previousEnd == offset && previousSize == size) {
        placed = previousNumber + 1;
        hasPlace = true;
      } else if (!hasPlace) {
        hasPlace = NextOwnNumber(Bytes(chunk.data() + at, got - at), size, placed);
      }
      hasPlace = hasPlace && placed < UINT32_MAX;
      // A record's own number, unless it has none (or the 0 that mkntfs gives reserved
      // records): then the number its place in the current $MFT gives.
      if (view.U16(0x14, firstAttr) && firstAttr > 0x30 && view.U32(0x2C, own) && own != 0) {
        number = own;
      } else if (hasPlace) {
        number = placed;
      } else {
        number = firstAttr > 0x30 ? 0 : offset / size;
      }
      const bool misplaced = hasPlace && placed != number;
      previousEnd = offset + size;
      previousSize = size;
      previousNumber = hasPlace ? placed : number;
      {
        std::lock_guard<std::mutex> held(w.foundLock);
        auto it = w.found.emplace(number, Walk::Found{offset, size, misplaced}).first;
        if (it->second.misplaced && !misplaced) it->second = Walk::Found{offset, size, false};
      }
      ++found;
      skipUntil = offset + size;
      give.Progress(offset, p.size);
      if (!give.Give(number, hasPlace ? uint32_t(placed + 1) : 0, rec, size)) {
        give.End();
        return 0;
      }
    }
    if (scan == 0) break;
  }
  CoreLog(0, "NTFSEnumVirtualFRs", __LINE__, "partition %d: formatted walk found %llu records", p.number,
          (unsigned long long)found);
  give.Progress(1, 1);
  give.End();
  return 0;
}

}  // namespace

Res ParseNtfsBoot(Bytes boot, NtfsGeometry& out)
{
  static const char kOem[8] = {'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
  uint16_t bps = 0;
  uint8_t spc = 0, cpr = 0;
  uint64_t totalSectors = 0, mftLcn = 0;
  if (!boot.Equals(3, kOem, 8) || !boot.U16(0x0B, bps) || !boot.U8(0x0D, spc) || !boot.U64(0x28, totalSectors) ||
      !boot.U64(0x30, mftLcn) || !boot.U8(0x40, cpr))
    return Res::NotThisFs;
  if (bps < 256 || bps > 4096 || !IsPowerOfTwo(bps)) return Res::NotThisFs;
  // Sectors per cluster: 1..128, or a negative byte n for 2^-n sectors (clusters above 64 KiB).
  uint64_t sectorsPerCluster = 0;
  if (spc <= 0x80) {
    if (!IsPowerOfTwo(spc)) return Res::NotThisFs;
    sectorsPerCluster = spc;
  } else {
    const unsigned shift = 256u - spc;
    if (shift > 12) return Res::NotThisFs;
    sectorsPerCluster = uint64_t(1) << shift;
  }
  const uint64_t cluster = sectorsPerCluster * bps;
  if (cluster > kMaxCluster) return Res::NotThisFs;
  // Clusters per record: a positive count, or a negative byte n for 2^-n bytes.
  uint64_t record = 0;
  if (cpr < 0x80) {
    if (cpr == 0 || !MulU64(cpr, cluster, record)) return Res::NotThisFs;
  } else {
    const unsigned shift = 256u - cpr;
    if (shift < 9 || shift > 16) return Res::NotThisFs;
    record = uint64_t(1) << shift;
  }
  if (record < kSector || record > kMaxRecord || !IsPowerOfTwo(record)) return Res::NotThisFs;
  uint64_t volumeBytes = 0;
  if (totalSectors == 0 || !MulU64(totalSectors, bps, volumeBytes)) return Res::NotThisFs;
  const uint64_t clusters = volumeBytes / cluster;
  if (mftLcn >= clusters) return Res::NotThisFs;
  uint64_t mftEnd = 0;
  if (!MulU64(mftLcn, cluster, mftEnd) || !AddU64(mftEnd, record, mftEnd) || mftEnd > volumeBytes)
    return Res::NotThisFs;
  out.bytesPerSector = bps;
  out.bytesPerCluster = uint32_t(cluster);
  out.recordSize = uint32_t(record);
  out.totalClusters = clusters;
  out.mftLcn = mftLcn;
  return Res::Ok;
}

Res DecodeRuns(Bytes pairs, uint64_t firstVcn, uint64_t lastVcn, uint64_t totalClusters, std::vector<Extent>& out)
{
  out.clear();
  if (lastVcn < firstVcn) return Res::Corrupt;
  uint64_t vcn = firstVcn;
  int64_t lcn = 0;
  size_t at = 0;
  uint8_t head = 0;
  while (vcn <= lastVcn && pairs.U8(at, head) && head != 0) {
    const unsigned lengthBytes = head & 0x0F, offsetBytes = head >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 || !pairs.Has(at + 1, lengthBytes + offsetBytes)) break;
    const uint8_t* p = pairs.Data() + at + 1;
    uint64_t length = 0;
    for (unsigned i = 0; i < lengthBytes; ++i) length |= uint64_t(p[i]) << (8 * i);
    if (length == 0 || length > lastVcn - vcn + 1) break;
    Extent e;
    e.vcn = vcn;
    e.clusters = length;
    if (offsetBytes > 0) {
      uint64_t delta = 0;
      for (unsigned i = 0; i < offsetBytes; ++i) delta |= uint64_t(p[lengthBytes + i]) << (8 * i);
      if (offsetBytes < 8 && (p[lengthBytes + offsetBytes - 1] & 0x80)) delta |= ~uint64_t(0) << (8 * offsetBytes);
      const int64_t d = int64_t(delta);
      // Out of range deltas leave the run unmapped rather than wrapping.
      if ((d > 0 && lcn > INT64_MAX - d) || (d < 0 && lcn < INT64_MIN - d)) break;
      lcn += d;
      if (lcn >= 0 && uint64_t(lcn) < totalClusters && length <= totalClusters - uint64_t(lcn)) e.lcn = uint64_t(lcn);
    }
    out.push_back(e);
    vcn += length;
    at += 1 + lengthBytes + offsetBytes;
  }
  return out.empty() ? Res::Corrupt : Res::Ok;
}

bool FileRecordHeaderOk(Bytes record, uint32_t recordSize)
{
  static const uint8_t kFile[4] = {'F', 'I', 'L', 'E'};
  uint16_t usaOffset = 0, usaCount = 0, firstAttr = 0;
  uint32_t used = 0, allocated = 0;
  if (record.Size() < recordSize || !record.Equals(0, kFile, 4) || !record.U16(4, usaOffset) ||
      !record.U16(6, usaCount) || !record.U16(0x14, firstAttr) || !record.U32(0x18, used) ||
      !record.U32(0x1C, allocated))
    return false;
  if (allocated != recordSize || usaCount != recordSize / kSector + 1) return false;
  if (usaOffset < 0x28 || (usaOffset & 1) != 0 || usaOffset > recordSize - 2u * usaCount) return false;
  if (firstAttr < usaOffset + 2u * usaCount || firstAttr > recordSize - 8u || (firstAttr & 7) != 0) return false;
  return used <= recordSize && used > firstAttr;
}

bool ApplyFixups(uint8_t* record, uint32_t recordSize)
{
  const Bytes r(record, recordSize);
  uint16_t usaOffset = 0, usaCount = 0, check = 0;
  if (!r.U16(4, usaOffset) || !r.U16(6, usaCount) || !r.U16(usaOffset, check)) return false;
  if (usaCount == 0 || size_t(usaCount - 1) * kSector > recordSize) return false;
  for (uint16_t i = 1; i < usaCount; ++i) {
    uint16_t last = 0;
    const size_t at = size_t(i) * kSector - 2;
    if (!r.U16(at, last) || last != check || !r.Has(usaOffset + 2u * i, 2)) return false;
    memcpy(record + at, record + usaOffset + 2u * i, 2);
  }
  return true;
}

}  // namespace qvtd

using namespace qvtd;

extern "C" {

int QVTD_API NTFSEnumVirtualFRs(void* partition, void* context, int formatted, QvtdNtfsRecordCallback onRecord,
                                QvtdNtfsFinishCallback onFinish, void* task, uint32_t* progressBlock)
{
  (void)context;  // the partition handle alone names the volume; the disk context adds nothing
  const Partition* p = Core::Get().FindPartition(partition);
  // Every call gets its own block, so the scan can finish even when the walk cannot start.
  Walk* w = WalkRegistry::Get().NewWalk(p);
  w->formatted = formatted != 0;
  w->block.task = task;
  w->block.partition = p ? partition : nullptr;
  int result = 0;
  if (!p) {
    result = kErrBadHandle;
  } else if (!onRecord) {
    result = kErrBadArgument;
  } else {
    SetProgress(progressBlock, 0, 1);
    Handover give(*w, onRecord, progressBlock);
    result = w->formatted ? WalkFormatted(*w, give) : WalkMft(*w, give);
  }
  if (onFinish) onFinish(task, &w->block);
  return result;
}

int QVTD_API NTFSReadVirtualMFT(void* context, uint64_t recordNumber, void* buffer)
{
  if (!buffer) return kErrBadArgument;
  const Partition* p = nullptr;
  std::shared_ptr<const MftMap> map;
  if (Walk* w = WalkRegistry::Get().FindByBlock(context)) {
    p = w->partition;
    if (!p) return kErrBadHandle;
    if (w->formatted) {
      Walk::Found where{};
      {
        std::lock_guard<std::mutex> held(w->foundLock);
        auto it = w->found.find(recordNumber);
        if (it == w->found.end()) return 0;
        where = it->second;
      }
      const Res r = ReadExact(*p, where.offset, buffer, where.size);
      return r == Res::Ok ? int(where.size) : ErrorOf(r);
    }
    map = w->map;
  } else if ((p = Core::Get().FindPartition(context)) == nullptr) {
    Disk* d = Core::Get().FindDisk(context);
    if (!d || (p = WalkRegistry::Get().LastOnDisk(d)) == nullptr) return kErrBadHandle;
  }
  if (!map) {
    const Res r = MapFor(*p, map);
    if (r != Res::Ok) return ErrorOf(r);
  }
  if (recordNumber >= map->records) return 0;
  const uint32_t size = map->geo.recordSize;
  const Res r = map->ReadData(*p, recordNumber * size, static_cast<uint8_t*>(buffer), size);
  if (r == Res::Corrupt) return 0;  // a record in unmapped clusters
  return r == Res::Ok ? int(size) : ErrorOf(r);
}

}  // extern "C"
