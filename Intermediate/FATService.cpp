// FAT and exFAT volume services and the FAT family's name, time and entry functions.
#include "FATService.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>

#include "CoreLibrary.h"
#include "Interface.h"
#include "LittleEndian.h"

namespace {

constexpr uint32_t kCacheBytes = 0x100000;
// FAT bytes read per window fill; entries that straddle the window's end are read again.
constexpr uint32_t kFatWindow = 0x10000;

bool IsForbiddenNameChar(uint32_t c) {
  return c == 0x5C || c == 0x2F || c == 0x3A || c == 0x2A || c == 0x3F || c == 0x22 || c == 0x7C || c == 0x3C ||
         c == 0x3E;
}

}  // namespace

std::wstring LongNameAccumulator::Text() const {
  uint32_t n = std::min(count, kMaxChars);
  // The name ends at its terminator; 0xFFFF pads the last part.
  for (uint32_t i = 0; i < n; ++i) {
    if (chars[i] == 0) {
      n = i;
      break;
    }
  }
  while (n > 0 && chars[n - 1] == 0xFFFF) --n;
  return std::wstring(chars, n);
}

// ---------------------------------------------------------------------------------
// Service

CFATService::CFATService(void* partition, void* context, const uint8_t* boot, uint64_t firstDataSector,
                         uint32_t clusterLimit, uint32_t maxEntry)
    : m_partition(partition),
      m_context(context),
      m_firstDataSector(firstDataSector),
      m_clusterLimit(clusterLimit),
      m_maxEntry(maxEntry) {
  std::memcpy(m_boot, boot, sizeof m_boot);
}

CFATService::~CFATService() = default;

bool CFATService::InitCache() {
  const uint32_t cluster = ClusterBytes();
  if (cluster == 0) return false;
  // Clusters above the cache size still fill it one at a time.
  m_clustersPerFill = std::max<uint32_t>(1, kCacheBytes / cluster);
  m_cacheBytes = std::max(kCacheBytes, cluster);
  m_cache = TryAllocateArray<uint8_t>(m_cacheBytes);
  const uint64_t clusters = m_clusterLimit > 2 ? m_clusterLimit - 2 : 0;
  m_dataBytes = clusters * cluster;
  return m_cache != nullptr;
}

uint32_t CFATService::ReadSectors(uint64_t first, uint32_t count, uint8_t* buffer) {
  const uint32_t bps = BytesPerSector();
  if (!bps || !count) return 0;
  uint32_t done = 0;
  // Reads of at most 1 MB keep every length inside the core's int.
  const uint32_t piece = std::max<uint32_t>(1, kCacheBytes / bps);
  while (done < count) {
    const uint32_t n = std::min(piece, count - done);
    const int got = Core::ReadPartition(m_partition, m_context, (first + done) * bps, n * bps, buffer + size_t(done) * bps)
                        .value_or(-1);
    if (got <= 0) break;
    done += uint32_t(got) / bps;
    if (uint32_t(got) < n * bps) break;
  }
  return done;
}

uint32_t CFATService::ReadClusters(uint32_t first, uint32_t count, uint8_t* buffer) {
  const uint32_t bytes = ClusterBytes();
  if (!m_cache && !InitCache()) return 0;
  uint32_t copied = 0;
  while (copied < count) {
    const uint32_t cluster = first + copied;
    if (cluster < 2 || cluster >= m_clusterLimit) break;
    if (m_cacheFirst == 0xFFFFFFFF || cluster < m_cacheFirst || cluster - m_cacheFirst >= m_clustersCached) {
      // Windows start at cluster 2 at the earliest: cluster 0's sector may lie before the volume.
      const uint32_t window = std::max<uint32_t>(2, cluster / m_clustersPerFill * m_clustersPerFill);
      const uint32_t clusters = std::min(m_clustersPerFill, m_clusterLimit - window);
      const uint32_t spc = SectorsPerCluster();
      const uint32_t sectors = ReadSectors(uint64_t(window) * spc + m_firstDataSector, clusters * spc, m_cache.get());
      m_cacheFirst = window;
      m_clustersCached = sectors / spc;
      if (cluster - window >= m_clustersCached) {
        // One unreadable sector must not cost the whole window: the cluster alone.
        m_cacheFirst = cluster;
        m_clustersCached = ReadSectors(uint64_t(cluster) * spc + m_firstDataSector, spc, m_cache.get()) / spc;
        if (m_clustersCached == 0) break;
      }
    }
    const uint32_t at = cluster - m_cacheFirst;
    const uint32_t run = std::min(count - copied, m_clustersCached - at);
    std::memcpy(buffer + size_t(copied) * bytes, m_cache.get() + size_t(at) * bytes, size_t(run) * bytes);
    copied += run;
  }
  return copied;
}

uint32_t CFATService::ReadFatSectors(uint64_t sector, uint32_t count, uint8_t* buffer) {
  const uint32_t reserved = uint32_t(m_boot[0x0E]) | uint32_t(m_boot[0x0F]) << 8;
  return ReadSectors(reserved + sector, count, buffer);
}

const uint8_t* CFATService::FatBytes(uint64_t byteOffset, uint32_t size) {
  if (m_fatFirst != ~uint64_t(0) && byteOffset >= m_fatFirst && byteOffset - m_fatFirst + size <= m_fatValid)
    return m_fat.data() + (byteOffset - m_fatFirst);
  const uint32_t bps = BytesPerSector();
  if (!bps) return nullptr;
  if (m_fat.empty()) m_fat.resize(kFatWindow + 2 * 4096);
  const uint64_t sector = byteOffset / bps;
  const uint32_t sectors = uint32_t(m_fat.size() / bps);
  const uint32_t got = ReadFatSectors(sector, sectors, m_fat.data());
  m_fatFirst = sector * bps;
  m_fatValid = got * bps;
  if (byteOffset - m_fatFirst + size > m_fatValid) return nullptr;
  return m_fat.data() + (byteOffset - m_fatFirst);
}

int32_t CFATService::SetAllocatedBits(uint8_t* bitmap) {
  for (uint32_t c = 2; c < m_clusterLimit; ++c) {
    uint32_t next = 0;
    const int32_t r = NextCluster(c, &next);
    if (r == -2) return -1;
    if (r != 0) break;
    if (next != 0 && (next <= m_maxEntry || next == 0xFFFFFFFF))
      bitmap[c / 8] |= uint8_t(1u << (c % 8));
  }
  return 0;
}

int32_t CFAT12Service::NextCluster(uint32_t cluster, uint32_t* successor) {
  if (cluster >= m_clusterLimit) return -1;
  const uint64_t offset = uint64_t(cluster) * 3 / 2;
  const uint8_t* p = FatBytes(offset, 2);
  if (!p) return -2;
  uint32_t word = U16(p);
  if (cluster & 1) word >>= 4;
  *successor = word & 0xFFF;
  return 0;
}

int32_t CFAT16Service::NextCluster(uint32_t cluster, uint32_t* successor) {
  if (cluster >= m_clusterLimit) return -1;
  const uint8_t* p = FatBytes(uint64_t(cluster) * m_width, m_width);
  if (!p) return -2;
  *successor = (m_width == 2 ? U16(p) : U32(p)) & m_mask;
  return 0;
}

CExFATService::CExFATService(void* partition, void* context, const uint8_t* boot, uint64_t firstDataSector,
                             uint32_t limit)
    : CFATService(partition, context, boot, firstDataSector, limit, 0xFFFFFFF6),
      m_sectorShift(boot[108]),
      m_clusterShift(boot[109]),
      m_fatOffset(U32(boot + 80)) {
  std::memcpy(m_exBoot, boot, sizeof m_exBoot);
}

int32_t CExFATService::NextCluster(uint32_t cluster, uint32_t* successor) {
  if (cluster >= m_clusterLimit) return -1;
  const uint8_t* p = FatBytes(uint64_t(cluster) * 4, 4);
  if (!p) return -2;
  *successor = U32(p);
  return 0;
}

uint32_t CExFATService::ReadFatSectors(uint64_t sector, uint32_t count, uint8_t* buffer) {
  return ReadSectors(m_fatOffset + sector, count, buffer);
}

// ---------------------------------------------------------------------------------
// Entries

int32_t CFATService::ValidateShortEntry(const uint8_t* entry, LongNameAccumulator* name) {
  const uint32_t first = uint32_t(U16(entry + 20)) << 16 | U16(entry + 26);
  const uint32_t size = U32(entry + 28);
  const uint32_t bytes = ClusterBytes();
  const bool directory = (entry[11] & 0x10) != 0;
  const uint64_t last = bytes ? uint64_t(first) + size / bytes : first;
  if ((!directory || size == 0) && first > 1 && last < m_clusterLimit) {
    if (name && name->count && name->checksum != ShortNameChecksum(entry)) name->unusable = true;
    return 1;
  }
  if (name) name->unusable = true;
  return 0;
}

int32_t CFATService::CollectLongNamePart(const uint8_t* entry, LongNameAccumulator* name) {
  const uint8_t sequence = entry[0];
  if (sequence > 63 && sequence != 0xE5) {
    name->Reset();
    name->sequence = sequence & 0x3F;
    name->first = sequence;
    name->checksum = entry[13];
  } else if ((sequence & 0x3F) != name->sequence || entry[13] != name->checksum) {
    return 0;
  }
  const uint32_t slot = (name->sequence ? name->sequence - 1u : 0u) * 13;
  if (slot + 13 > LongNameAccumulator::kMaxChars) return 0;
  static const uint8_t kPlaces[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (uint32_t i = 0; i < 13; ++i) name->chars[slot + i] = wchar_t(U16(entry + kPlaces[i]));
  name->count = std::max(name->count, slot + 13);
  if (name->sequence) --name->sequence;
  return 1;
}

void CFATService::AccumulateLongName(const uint8_t* entry, LongNameAccumulator* name) {
  const uint8_t sequence = entry[0];
  const bool deleted = sequence == 0xE5;
  // A deleted entry has lost its sequence byte: only its checksum ties it to its run.
  const bool starts = !deleted && (sequence & 0x40) != 0;
  if (starts || name->count == 0 || entry[13] != name->checksum || deleted != name->deleted ||
      name->count + 13 > LongNameAccumulator::kMaxChars) {
    name->Reset();
    name->checksum = entry[13];
    name->deleted = deleted;
    name->first = sequence;
    name->sequence = deleted ? 0 : uint8_t(sequence & 0x3F);
  } else if (!deleted && (sequence & 0x3F) != name->sequence) {
    name->unusable = true;
  }
  static const uint8_t kPlaces[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  std::memmove(name->chars + 13, name->chars, name->count * sizeof(wchar_t));
  for (uint32_t i = 0; i < 13; ++i) name->chars[i] = wchar_t(U16(entry + kPlaces[i]));
  name->count += 13;
  if (!deleted) {
    name->sequence = uint8_t((sequence & 0x3F) - 1);
    name->complete = (name->first & 0x40) != 0 && (sequence & 0x3F) == 1;
  } else {
    name->complete = true;  // unknowable: the checksum decides
  }
}

void CExFATService::AccumulateLongName(const uint8_t* entry, LongNameAccumulator* name) {
  if (name->count + 15 > LongNameAccumulator::kMaxChars) {
    name->unusable = true;
    return;
  }
  for (uint32_t i = 0; i < 15; ++i) name->chars[name->count + i] = wchar_t(U16(entry + 2 + 2 * i));
  name->count += 15;
}

bool CFATService::IsDotEntry(const uint8_t* entry, uint32_t cluster) {
  static const uint8_t kDot[11] = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  const uint32_t first = uint32_t(U16(entry + 20)) << 16 | U16(entry + 26);
  return std::memcmp(entry, kDot, 11) == 0 && (entry[11] & 0x10) && first == cluster;
}

bool CFATService::IsDotDotEntry(const uint8_t* entry) {
  static const uint8_t kDotDot[11] = {'.', '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  return std::memcmp(entry, kDotDot, 11) == 0 && (entry[11] & 0x10) && U32(entry + 28) == 0;
}

bool IsValidShortName(const uint8_t* name) {
  static const uint8_t kDot[11] = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  static const uint8_t kDotDot[11] = {'.', '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  if (std::memcmp(name, kDot, 11) == 0 || std::memcmp(name, kDotDot, 11) == 0) return true;
  for (int i = 0; i < 11; ++i) {
    if (IsForbiddenNameChar(name[i]) || name[i] == '.') return false;
  }
  for (int i = 0; i < 7; ++i) {
    if (name[i] == ' ' && name[i + 1] != ' ') return false;
  }
  for (int i = 8; i < 10; ++i) {
    if (name[i] == ' ' && name[i + 1] != ' ') return false;
  }
  return true;
}

uint8_t ShortNameChecksum(const uint8_t* name) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + name[i]);
  return sum;
}

void TrimLongName(LongNameAccumulator* name) {
  while (name->count > 0 && name->chars[name->count - 1] == 0xFFFF) --name->count;
}

std::wstring ShortNameToText(const uint8_t* entry, CharSetFn convert, void* context) {
  char base[9] = {}, ext[4] = {};
  int b = 8, e = 3;
  std::memcpy(base, entry, 8);
  std::memcpy(ext, entry + 8, 3);
  while (b > 0 && base[b - 1] == ' ') --b;
  while (e > 0 && ext[e - 1] == ' ') --e;
  // 0x05 stands for a first byte of 0xE5 (a lead byte in some code pages).
  if (b > 0 && uint8_t(base[0]) == 0x05) base[0] = char(0xE5);
  auto text = [&](const char* part, int n, bool lower) {
    wchar_t out[262] = {};
    std::wstring s;
    if (n == 0) return s;
    int got = convert ? convert(context, part, n, out, int(sizeof out)) : -1;
    if (got < 0) {
      for (int i = 0; i < n; ++i) s += wchar_t(uint8_t(part[i]));
    } else {
      s.assign(out, size_t(got));
    }
    if (lower)
      for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
    return s;
  };
  std::wstring name = text(base, b, (entry[12] & 0x08) != 0);
  if (e > 0) name += L"." + text(ext, e, (entry[12] & 0x10) != 0);
  return name;
}

void UpperShortName(uint8_t* name) {
  for (int i = 0; i < 11; ++i)
    if (name[i] >= 'a' && name[i] <= 'z') name[i] = uint8_t(name[i] - 'a' + 'A');
}

uint64_t DosTimeToUnix(uint16_t date, uint16_t time) {
  static const uint32_t kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const uint32_t years = date >> 9;
  uint32_t month = (date >> 5) & 0x0F;
  // A month of 0 or 13-15 from disk must not index past the table.
  if (month < 1) month = 1;
  if (month > 12) month = 12;
  const uint32_t day = date & 0x1F;
  uint64_t days = 3652 + 365ull * years + years / 4 + kDaysBefore[month - 1] + day;
  if (years % 4 == 0 && month <= 2) --days;
  const uint32_t hours = time >> 11, minutes = (time >> 5) & 0x3F, seconds = 2 * (time & 0x1F);
  return ((days * 24 + hours) * 60 + minutes) * 60 + seconds;
}

wchar_t* SetLowerExtension(wchar_t* name) {
  wchar_t* dot = name ? std::wcsrchr(name, L'.') : nullptr;
  if (!dot) return nullptr;
  for (wchar_t* p = dot + 1; *p; ++p) *p = wchar_t(std::towlower(*p));
  return dot + 1;
}

bool IsExFatFileEntry(const uint8_t* e) {
  if (e[0] != 0x85 && e[0] != 0x05) return false;
  if (e[1] < 2 || e[1] > 18) return false;
  // Every combination of the defined attribute bits is valid; the others must be 0.
  if (U16(e + 4) & ~0x37u) return false;
  if (U16(e + 6) != 0) return false;
  for (int i = 25; i < 32; ++i)
    if (e[i]) return false;
  return true;
}

bool IsExFatStreamEntry(const uint8_t* e) {
  if (e[0] != 0xC0 && e[0] != 0x40) return false;
  if (e[1] != 1 && e[1] != 3) return false;
  if (e[2] || U16(e + 6) || U32(e + 16)) return false;
  return U64(e + 24) >= U64(e + 8);
}

bool IsExFatNameEntry(const uint8_t* e) {
  if (e[0] != 0xC1 && e[0] != 0x41) return false;
  if (e[1] != 0) return false;
  for (int i = 0; i < 15; ++i)
    if (IsForbiddenNameChar(U16(e + 2 + 2 * i))) return false;
  return true;
}

uint16_t ExFatSetChecksum(const uint8_t* entries, uint32_t count) {
  uint16_t sum = 0;
  for (uint32_t i = 0; i < count * 32; ++i) {
    if (i == 2 || i == 3) continue;
    sum = uint16_t(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + entries[i]);
  }
  return sum;
}

void CTimeMonitor::PrintElapsed(const CTimeMonitor& earlier) const {
  FILETIME a, b;
  ::SystemTimeToFileTime(&earlier.m_stamp, &a);
  ::SystemTimeToFileTime(&m_stamp, &b);
  const uint64_t from = uint64_t(a.dwHighDateTime) << 32 | a.dwLowDateTime;
  const uint64_t to = uint64_t(b.dwHighDateTime) << 32 | b.dwLowDateTime;
  const uint64_t ms = to > from ? (to - from) / 10000 : 0;
  std::printf("Time %02d:%02d:%02d.%d\n", int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60),
              int(ms % 1000));
  std::fflush(stdout);
}
