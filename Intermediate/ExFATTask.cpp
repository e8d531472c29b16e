// The exFAT scan: entry sets (file, stream, names) walked from the root directory, raw
// directory clusters of a formatted volume, and recovery along the FAT chain or over
// consecutive clusters for streams without one.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "CoreLibrary.h"
#include "FATTask.h"
#include "LittleEndian.h"

namespace {

constexpr uint32_t kEntryBytes = 32;
constexpr uint32_t kMaxDirectoryBytes = 0x200000;

// An entry set being gathered.
struct OpenSet {
  bool file = false;
  bool stream = false;
  uint8_t fileEntry[32] = {};
  uint8_t streamEntry[32] = {};
  uint32_t expected = 0;
  void Drop() {
    file = false;
    stream = false;
    expected = 0;
  }
};

}  // namespace

CExFATScanFormattedTask::CExFATScanFormattedTask(const TaskParams& params) : CFATScanFormattedTask(params) {}

CExFATScanFormattedTask::~CExFATScanFormattedTask() = default;

int32_t CExFATScanFormattedTask::ScanVolume(void* charsetContext, Core::FatVolumeValues* values, uint32_t) {
  m_charset = Core::CharSetTransfer();
  m_charsetContext = charsetContext;
  uint8_t boot[512] = {};
  if (Core::ReadPartition(m_partitionHandle, m_diskContext, 0, sizeof boot, boot).value_or(-1) != int(sizeof boot))
    return -1;
  const uint32_t sectorShift = boot[108], clusterShift = boot[109];
  const uint64_t heap = U32(boot + 88);
  const uint32_t count = U32(boot + 92);
  const uint32_t root = U32(boot + 96);
  // Shifts from disk become divisors and sizes: only exFAT's legal range is used.
  if (std::memcmp(boot + 3, "EXFAT   ", 8) != 0 || sectorShift < 9 || sectorShift > 12 ||
      clusterShift > 25 - sectorShift || count == 0 || count > 0xFFFFFFF5 || heap == 0) {
    CORE_LOG(Core::kLogError, "CExFATScanFormattedTask::ScanVolume", "Boot sector refused");
    return -1;
  }
  m_limit = count + 2;
  if (root < 2 || root >= m_limit) return -1;
  SetRootId(root);
  ScanInit();
  m_service.reset(new (std::nothrow)
                      // The sector of cluster 0 may lie before the volume: only clusters from 2 on are read.
                      CExFATService(m_partitionHandle, m_diskContext, boot, heap - (2ull << clusterShift), m_limit));
  if (!m_service) return kResultNoMemory;
  const uint32_t bytes = m_service->ClusterBytes();
  try {
    m_clusterBuffer.assign(size_t(bytes) * 2, 0);
    m_visited = NewBitmap(m_limit);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  ReadChain(m_rootId, root, false);
  if (values && values->bytes >= sizeof(Core::FatVolumeValues)) {
    values->rawSectorCallback = &TaskRecordCallback;
    values->rawSectorTask = static_cast<CScanTask*>(this);
  }
  Core::ReleaseCacheBuffer(m_partitionHandle);
  return 0;
}

int32_t CExFATScanFormattedTask::ReadChain(uint64_t parentId, uint32_t firstCluster, bool deleted) {
  return ReadStream(parentId, firstCluster, deleted, false, 0);
}

int32_t CExFATScanFormattedTask::ReadStream(uint64_t parentId, uint32_t firstCluster, bool deleted, bool noChain,
                                            uint64_t length) {
  if (!m_service || firstCluster < 2 || firstCluster >= m_limit) return 0;
  const uint32_t bytes = m_service->ClusterBytes();
  const uint32_t maxClusters = std::max<uint32_t>(1, kMaxDirectoryBytes / bytes);
  std::vector<uint32_t> chain;
  if (noChain) {
    // Stored without FAT chain: consecutive clusters for the stream's length.
    const uint64_t clusters = std::max<uint64_t>(1, (length + bytes - 1) / bytes);
    if (clusters > maxClusters) {
      MarkVisited(firstCluster);
      return 0;
    }
    for (uint64_t k = 0; k < clusters && firstCluster + k < m_limit; ++k) chain.push_back(uint32_t(firstCluster + k));
  } else {
    for (uint32_t c = firstCluster;;) {
      chain.push_back(c);
      if (chain.size() > maxClusters) {
        MarkVisited(firstCluster);
        return 0;
      }
      uint32_t next = 0;
      if (m_service->NextCluster(c, &next) != 0 || next < 2 || next >= m_limit) break;
      if (Visited(next) || std::find(chain.begin(), chain.end(), next) != chain.end()) break;
      c = next;
    }
  }
  return ReadChainRecord(parentId, chain, deleted);
}

int32_t CExFATScanFormattedTask::ReportSet(const uint8_t* f, const uint8_t* s, const uint8_t* names,
                                           uint32_t nameEntries, uint64_t parentId, bool walkDeleted) {
  LongNameAccumulator name;
  for (uint32_t k = 0; k < nameEntries; ++k) m_service->AccumulateLongName(names + size_t(k) * kEntryBytes, &name);
  const uint32_t first = U32(s + 20);
  const uint64_t size = U64(s + 24);
  const uint32_t stamp = f ? U32(f + 8) : 0;
  const uint64_t time = f ? DosTimeToUnix(uint16_t(stamp >> 16), uint16_t(stamp)) : 0;
  const uint32_t attributes = f ? U16(f + 4) : 0x20;
  const bool isDeleted = f ? f[0] == 0x05 : true;
  const bool noChain = (s[1] & 2) != 0;
  std::wstring text(name.chars, f ? std::min<uint32_t>(name.count, s[3]) : name.count);
  while (!text.empty() && text.back() == 0) text.pop_back();
  bool bad = text.empty();
  for (wchar_t c : text) bad |= c < 0x20;
  if (bad) return m_running.load();
  const bool isDirectory = (attributes & 0x10) != 0;
  if (isDirectory && first < 2) return m_running.load();
  const uint64_t id = first == 0 ? EmptyFileId() : first;
  const int32_t running = Report(text, id, parentId, isDirectory ? 0 : size, time, attributes, isDeleted,
                                 noChain ? kKindNoFatChain : 0);
  if (isDirectory && running && !Visited(first))
    ReadStream(id, first, walkDeleted || isDeleted, noChain, size ? size : U64(s + 8));
  return running;
}

int32_t CExFATScanFormattedTask::ParseDirectory(FatDirRecord* recordIn, bool deleted) {
  std::unique_ptr<FatDirRecord> record(recordIn);
  const uint32_t count = uint32_t(record->bytes.size() / kEntryBytes);
  const uint8_t* all = record->bytes.data();
  OpenSet set;
  uint32_t setStart = 0;
  bool reachedEnd = true;
  uint32_t i = 0;

  auto report = [&]() {
    ReportSet(set.fileEntry, set.streamEntry, all + size_t(setStart + 2) * kEntryBytes,
              set.fileEntry[1] - 1u - set.expected, record->parentId, deleted);
  };

  // A record that begins inside a set (a cluster of a split directory): its stream and
  // names, or names alone, continue a set whose file entry lies elsewhere.
  if (count && IsExFatStreamEntry(all)) i = 1;
  while (i < count && IsExFatNameEntry(all + size_t(i) * kEntryBytes)) ++i;
  if (deleted && i > 0) record->headSet.assign(all, all + size_t(i) * kEntryBytes);
  for (; i < count; ++i) {
    if (!m_running.load()) {
      reachedEnd = false;
      break;
    }
    const uint8_t* e = all + size_t(i) * kEntryBytes;
    if (e[0] == 0) {
      reachedEnd = false;
      break;
    }
    switch (e[0] & 0x7F) {
      case 0x05:
        set.Drop();
        if (IsExFatFileEntry(e)) {
          // A live set must add up; a deleted one changed its type bytes.
          if (e[0] == 0x85 && i + e[1] < count) {
            bool live = true;
            for (uint32_t k = 1; k <= e[1]; ++k) live &= (all[size_t(i + k) * kEntryBytes] & 0x80) != 0;
            if (live && ExFatSetChecksum(e, e[1] + 1u) != U16(e + 2)) break;
          }
          std::memcpy(set.fileEntry, e, kEntryBytes);
          set.file = true;
          set.expected = e[1];
          setStart = i;
        }
        break;
      case 0x40:
        if (set.file && !set.stream && IsExFatStreamEntry(e) && U32(e + 20) < m_limit &&
            (e[0] & 0x80) == (set.fileEntry[0] & 0x80)) {
          std::memcpy(set.streamEntry, e, kEntryBytes);
          set.stream = true;
          --set.expected;
        } else {
          set.Drop();
        }
        break;
      case 0x41:
        if (set.stream && set.expected && IsExFatNameEntry(e) && (e[0] & 0x80) == (set.fileEntry[0] & 0x80)) {
          --set.expected;
        } else {
          set.Drop();
        }
        break;
      default:
        if ((e[0] & 0x7F) == 0x03 && !deleted && (e[0] & 0x80)) {
          m_label.clear();
          for (uint32_t k = 0; k < std::min<uint32_t>(e[1], 11); ++k) m_label += wchar_t(U16(e + 2 + 2 * k));
        }
        set.Drop();
        break;
    }
    if (set.file && set.stream && set.expected == 0) {
      report();
      set.Drop();
    }
  }
  if (set.file && reachedEnd && deleted) {
    // Cut at the record's end: the pass after the walk looks for the rest.
    record->openSet.assign(all + size_t(setStart) * kEntryBytes, all + size_t(count) * kEntryBytes);
    record->flags |= kRecordOpenRun;
  } else if (deleted && set.file && set.stream) {
    report();
  }
  record->deleted = deleted;
  record->bytes.clear();
  record->bytes.shrink_to_fit();
  if (!record->openSet.empty() || !record->headSet.empty()) LinkSplitRecord(record.release());
  return 0;
}

void CExFATScanFormattedTask::LinkSplitRecord(FatDirRecord* record) {
  if (!record->headSet.empty() && !record->openSet.empty()) {
    // One record on both lists: the head goes as a copy of its own.
    FatDirRecord* head = new (std::nothrow) FatDirRecord;
    if (head) {
      head->firstCluster = record->firstCluster;
      head->parentId = record->parentId;
      head->headSet.swap(record->headSet);
      head->next = m_heads;
      m_heads = head;
    }
    record->headSet.clear();
  }
  FatDirRecord*& list = record->openSet.empty() ? m_heads : m_pending;
  record->next = list;
  list = record;
}

namespace {

// The set made whole: the cut part and as many of the head's entries as the file entry
// counts, in-use bits set as its checksum was computed; empty when they do not add up.
std::vector<uint8_t> JoinedSet(const FatDirRecord& pending, const FatDirRecord& head) {
  const uint8_t* f = pending.openSet.data();
  const uint32_t have = uint32_t(pending.openSet.size() / kEntryBytes);
  const uint32_t total = f[1] + 1u;
  const uint32_t headCount = uint32_t(head.headSet.size() / kEntryBytes);
  if (have >= total || headCount < total - have) return {};
  // Exactly one stream entry, right after the file entry.
  if ((have >= 2) == IsExFatStreamEntry(head.headSet.data())) return {};
  if ((head.headSet[0] & 0x80) != (f[0] & 0x80)) return {};
  std::vector<uint8_t> set(pending.openSet);
  set.insert(set.end(), head.headSet.begin(), head.headSet.begin() + ptrdiff_t(total - have) * kEntryBytes);
  std::vector<uint8_t> inUse(set);
  for (size_t k = 0; k < inUse.size(); k += kEntryBytes) inUse[k] |= 0x80;
  if (ExFatSetChecksum(inUse.data(), total) != U16(f + 2)) return {};
  return set;
}

}  // namespace

void CExFATScanFormattedTask::ResolvePendingRecords() {
  std::vector<const FatDirRecord*> used;
  for (FatDirRecord* p = m_pending; p && m_running.load(); p = p->next) {
    std::vector<uint8_t> set;
    for (FatDirRecord* h = m_heads; h && set.empty(); h = h->next) {
      if (std::find(used.begin(), used.end(), h) != used.end()) continue;
      set = JoinedSet(*p, *h);
      if (!set.empty()) used.push_back(h);
    }
    const std::vector<uint8_t>& entries = set.empty() ? p->openSet : set;
    const uint32_t n = uint32_t(entries.size() / kEntryBytes);
    // Unjoined, a set whose file and stream entries are whole still shows.
    if (n >= 2 && IsExFatStreamEntry(entries.data() + kEntryBytes))
      ReportSet(entries.data(), entries.data() + kEntryBytes, entries.data() + 2 * kEntryBytes, n - 2, p->parentId,
                true);
  }
  for (FatDirRecord* h = m_heads; h && m_running.load(); h = h->next) {
    if (std::find(used.begin(), used.end(), h) != used.end()) continue;
    // A stream and names whose file entry is lost: a deleted file by what they tell.
    const uint8_t* s = h->headSet.data();
    const uint32_t n = uint32_t(h->headSet.size() / kEntryBytes);
    if (n >= 2 && IsExFatStreamEntry(s) && U32(s + 20) > m_rootId && U32(s + 20) < m_limit)
      ReportSet(nullptr, s, s + kEntryBytes, n - 1, h->parentId, true);
  }
}

int32_t CExFATScanFormattedTask::OnRecordFound(const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh,
                                               uint32_t parentLow, uint32_t parentHigh, uint32_t sizeLow,
                                               uint32_t sizeHigh, uint32_t timeLow, uint32_t timeHigh,
                                               uint32_t attributes, int32_t deleted, int32_t progress) {
  return CFATScanFormattedTask::OnRecordFound(name, kind, idLow, idHigh, parentLow, parentHigh, sizeLow, sizeHigh,
                                              timeLow, timeHigh, attributes, deleted, progress);
}

// exFAT folders have no "." entry: a raw cluster's entries stand under the root.
void CExFATScanFormattedTask::ParseCollected() { ParseCollectedCluster(false); }

int32_t CExFATScanFormattedTask::RecoverOneFile(const wchar_t* targetRoot, uint64_t id, const wchar_t* relativePath) {
  return RecoverByClusters(targetRoot, id, relativePath, false);
}

CFileEntry* CExFATScanFormattedTask::GetEntryById(uint64_t id) { return CFATScanFormattedTask::GetEntryById(id); }

CFileEntry* CExFATScanFormattedTask::MergeSameId(CFileEntry** cell, CFileEntry* entry) {
  return CFATScanFormattedTask::MergeSameId(cell, entry);
}
