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
  LongNameAccumulator name;
  void Drop() {
    file = false;
    stream = false;
    expected = 0;
    name.Reset();
  }
};

std::wstring SetName(const OpenSet& set) {
  std::wstring text(set.name.chars, std::min<uint32_t>(set.name.count, set.streamEntry[3]));
  return text;
}

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

int32_t CExFATScanFormattedTask::ParseDirectory(FatDirRecord* recordIn, bool deleted) {
  std::unique_ptr<FatDirRecord> record(recordIn);
  const uint32_t count = uint32_t(record->bytes.size() / kEntryBytes);
  const uint8_t* all = record->bytes.data();
  OpenSet set;
  bool reachedEnd = true;
  uint32_t i = 0;

  auto report = [&](bool partial) {
    const uint8_t* f = set.fileEntry;
    const uint8_t* s = set.streamEntry;
    const uint32_t first = U32(s + 20);
    const uint64_t size = U64(s + 24);
    const uint32_t stamp = U32(f + 8);
    const uint64_t time = DosTimeToUnix(uint16_t(stamp >> 16), uint16_t(stamp));
    const uint32_t attributes = partial ? 0x20 : U16(f + 4);
    const bool isDeleted = partial ? true : f[0] == 0x05;
    const bool noChain = (s[1] & 2) != 0;
    std::wstring text = partial ? std::wstring(set.name.chars, set.name.count) : SetName(set);
    while (!text.empty() && text.back() == 0) text.pop_back();
    bool bad = text.empty();
    for (wchar_t c : text) bad |= c < 0x20;
    if (bad) return;
    const bool isDirectory = (attributes & 0x10) != 0;
    if (isDirectory && first < 2) return;
    const uint64_t id = first == 0 ? EmptyFileId() : first;
    if (!record->firstShortSeen) {
      record->firstShortSeen = true;
      record->firstShortName = text;
      record->firstShortId = id;
    }
    const int32_t running = Report(text, id, record->parentId, isDirectory ? 0 : size, time, attributes, isDeleted,
                                   noChain ? kKindNoFatChain : 0);
    if (isDirectory && running && !Visited(first))
      ReadStream(id, first, deleted || isDeleted, noChain, size ? size : U64(s + 8));
  };

  // A record that begins inside a set (a cluster of a split directory).
  if (count && IsExFatStreamEntry(all)) {
    std::memcpy(set.streamEntry, all, kEntryBytes);
    i = 1;
    while (i < count && IsExFatNameEntry(all + size_t(i) * kEntryBytes)) {
      m_service->AccumulateLongName(all + size_t(i) * kEntryBytes, &set.name);
      ++i;
    }
    record->leading = set.name;
    const uint32_t first = U32(all + 20);
    if (deleted && set.name.count && first > m_rootId && first < m_limit) report(true);
    set.Drop();
  }
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
          m_service->AccumulateLongName(e, &set.name);
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
      report(false);
      set.Drop();
    }
  }
  if (deleted && set.file && set.stream) report(false);
  if (reachedEnd && set.file) record->flags |= kRecordOpenRun;
  record->name = set.name;
  record->deleted = deleted;
  record->bytes.clear();
  record->bytes.shrink_to_fit();
  if (deleted && ((record->flags & kRecordOpenRun) || record->leading.count)) LinkSplitRecord(record.release());
  return 0;
}

// exFAT sets carry no checksum of a short name: only name entries continue a pending set.
void CExFATScanFormattedTask::LinkSplitRecord(FatDirRecord* record) { LinkPending(record, false); }

void CExFATScanFormattedTask::JoinLongNameHead(FatDirRecord* pending, FatDirRecord* record) {
  if (!record->firstShortSeen || !pending->name.count) return;
  std::wstring full(pending->name.chars, pending->name.count);
  full.append(record->leading.chars, record->leading.count);
  while (!full.empty() && full.back() == 0) full.pop_back();
  RenameEntries(record->firstShortName.c_str(), full.c_str(), record->parentId, pending->parentId);
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
