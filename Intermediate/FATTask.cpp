// The FAT12/16/32 scans: the directory walk from the root, deleted entries and folders
// included, long names joined across clusters, the formatted scan over raw directory
// sectors, the finishing pass, the workers and the recovery of one file.
#include "FATTask.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

#include "CoreLibrary.h"
#include "FaultGuard.h"
#include "LittleEndian.h"
#include "Recovery.h"

namespace {

constexpr uint32_t kEntryBytes = 32;
// A chain of more than 2 MB is no directory.
constexpr uint32_t kMaxDirectoryBytes = 0x200000;
constexpr uint32_t kFormattedBufferBytes = 128 * 1024;
constexpr uint32_t kWriteBufferBytes = 64 * 1024;
const int32_t kFileCorrupt = -int32_t(ERROR_FILE_CORRUPT);  // -1392
const int32_t kReadFailed = -int32_t(ERROR_READ_FAULT);     // -30

bool IsLongNameEntry(const uint8_t* e) {
  return e[11] == 0x0F && e[12] == 0 && U16(e + 26) == 0 && !((e[0] & 0x3F) == 1 && U16(e + 1) == 0);
}

uint32_t FirstCluster(const uint8_t* e) { return uint32_t(U16(e + 20)) << 16 | U16(e + 26); }

}  // namespace

// ---------------------------------------------------------------------------------
// Task

CStorage::CFATScanTask::CFATScanTask(const TaskParams& params) : CScanTask(params) {
  SetRootId(params.partitionType == kFsFat32 ? 2 : 0);
}

CStorage::CFATScanTask::~CFATScanTask() { FreePendingRecords(); }

void CStorage::CFATScanTask::ScanInit() {
  if (CFileEntry** cell = GetIdCell(m_rootId)) {
    if (!*cell) *cell = NewPathEntry(m_arena, kAttrFolderMask, L"Root", 0, NextSequence(), m_rootId, m_rootId, 0, 0, 0);
  }
  CScanTask::ScanInit();
}

CFileEntry** CStorage::CFATScanTask::GetIdCell(uint64_t id) { return CScanTask::GetIdCell(id); }

CFileEntry* CStorage::CFATScanTask::GetEntryById(uint64_t id) {
  CFileEntry** cell = m_idMap.FindCell(id);
  if (!cell || !*cell) return nullptr;
  for (CFileEntry* e = *cell; e; e = e->linkChainNode.next ? CFileEntry::FromLinkChainNode(e->linkChainNode.next) : nullptr) {
    if (e->ownId == id) return e;
    if (!e->linkChainNode.next) break;
  }
  return *cell;
}

std::vector<uint8_t> CStorage::CFATScanTask::NewBitmap(uint32_t limit) {
  // One bit for every cluster number below the limit, the last byte's spare bits set.
  std::vector<uint8_t> bits(size_t(limit) / 8 + 1, 0);
  bits[0] |= 3;
  for (uint32_t c = limit; c < bits.size() * 8; ++c) bits[c / 8] |= uint8_t(1u << (c % 8));
  return bits;
}

int32_t CStorage::CFATScanTask::Report(const std::wstring& name, uint64_t id, uint64_t parentId, uint64_t size,
                                       uint64_t time, uint32_t attributes, bool deleted, uint32_t kind) {
  return OnRecordFound(name.c_str(), kind, uint32_t(id), uint32_t(id >> 32), uint32_t(parentId),
                       uint32_t(parentId >> 32), uint32_t(size), uint32_t(size >> 32), uint32_t(time),
                       uint32_t(time >> 32), attributes, deleted ? 1 : 0, m_progress.load());
}

std::wstring CStorage::CFATScanTask::ShortText(const uint8_t* entry) const {
  return ShortNameToText(entry, m_charset, m_charsetContext);
}

int32_t CStorage::CFATScanTask::ScanVolume(void* charsetContext, Core::FatVolumeValues* values, uint32_t bootLength) {
  m_charset = Core::CharSetTransfer();
  m_charsetContext = charsetContext;
  uint8_t boot[512] = {};
  if (Core::ReadPartition(m_partitionHandle, m_diskContext, 0, sizeof boot, boot).value_or(-1) != int(sizeof boot)) {
    CORE_LOG(Core::kLogError, "CStorage::CFATScanTask::ScanVolume", "Can not read the boot sector");
    return -1;
  }
  const uint32_t bps = U16(boot + 0x0B);
  const uint32_t spc = boot[0x0D];
  const uint32_t reserved = U16(boot + 0x0E);
  const uint32_t fats = boot[0x10];
  const uint32_t rootEntries = U16(boot + 0x11);
  const uint64_t total = U16(boot + 0x13) ? U16(boot + 0x13) : U32(boot + 0x20);
  const uint64_t fatSize = U16(boot + 0x16) ? U16(boot + 0x16) : U32(boot + 0x24);
  // Sizes read from disk become divisors: a zero or odd geometry is no FAT volume.
  if (bps < 512 || bps > 4096 || (bps & (bps - 1)) || spc == 0 || (spc & (spc - 1)) || reserved == 0 || fats == 0) {
    CORE_LOG(Core::kLogError, "CStorage::CFATScanTask::ScanVolume", "Boot sector refused: %u bytes per sector, %u per cluster",
             bps, spc);
    return -1;
  }
  const uint64_t rootSectors = (uint64_t(rootEntries) * kEntryBytes + bps - 1) / bps;
  const uint64_t dataStart = reserved + fats * fatSize;
  const uint64_t firstClusterSector = dataStart + rootSectors;
  if (firstClusterSector >= total) return -1;
  // The standard count: the root directory's sectors are no clusters.
  uint64_t clusters = (total - firstClusterSector) / spc;
  uint16_t type = kFsFat32;
  if (clusters < 4085) {
    type = kFsFat12;
  } else if (rootEntries != 0) {
    type = kFsFat16;
  }
  // Never more clusters than the FAT can number or the FAT's sectors hold.
  const uint64_t fatEntries = type == kFsFat12 ? fatSize * bps * 2 / 3 : fatSize * bps / (type == kFsFat16 ? 2 : 4);
  clusters = std::min<uint64_t>({clusters, fatEntries > 2 ? fatEntries - 2 : 0, 0x0FFFFFF5});
  m_limit = uint32_t(clusters + 2);
  const uint64_t firstDataSector = firstClusterSector - 2ull * spc;
  switch (type) {
    case kFsFat12:
      m_service.reset(new (std::nothrow) CFAT12Service(m_partitionHandle, m_diskContext, boot, firstDataSector, m_limit));
      break;
    case kFsFat16:
      m_service.reset(new (std::nothrow) CFAT16Service(m_partitionHandle, m_diskContext, boot, firstDataSector, m_limit));
      break;
    default:
      m_service.reset(new (std::nothrow) CFAT32Service(m_partitionHandle, m_diskContext, boot, firstDataSector, m_limit));
      break;
  }
  if (!m_service) return kResultNoMemory;
  const uint64_t root = type == kFsFat32 ? 2 : 0;
  if (root != m_rootId) {
    // The boot sector knows better than the partition table.
    if (CFileEntry** cell = GetIdCell(m_rootId)) *cell = nullptr;
    SetRootId(root);
    ScanInit();
  }
  try {
    m_visited = NewBitmap(m_limit);
    m_allocated = NewBitmap(m_limit);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  if (m_service->SetAllocatedBits(m_allocated.data()) != 0)
    CORE_LOG(Core::kLogWarning, "CStorage::CFATScanTask::ScanVolume", "FAT unreadable: allocation unknown");

  if (type == kFsFat32) {
    const uint32_t rootCluster = U32(boot + 0x2C);
    ReadChain(m_rootId, rootCluster >= 2 && rootCluster < m_limit ? rootCluster : 2, false);
  } else {
    std::unique_ptr<FatDirRecord> record(new (std::nothrow) FatDirRecord);
    if (!record) return kResultNoMemory;
    try {
      record->bytes.resize(size_t(rootSectors) * bps);
    } catch (const std::bad_alloc&) {
      return kResultNoMemory;
    }
    const uint32_t got = m_service->ReadSectors(dataStart, uint32_t(rootSectors), record->bytes.data());
    record->bytes.resize(size_t(got) * bps);
    record->parentId = m_rootId;
    ParseDirectory(record.release(), false);
  }
  if (m_formatted && values && values->bytes >= sizeof(Core::FatVolumeValues)) {
    values->rawSectorCallback = &TaskRecordCallback;
    values->rawSectorTask = static_cast<CScanTask*>(this);
    // The raw sectors still to come hold most of what the pass joins: it runs after them.
    return 0;
  }
  return TimeResolvePending();
}

int32_t CStorage::CFATScanTask::ReadChain(uint64_t parentId, uint32_t firstCluster, bool deleted) {
  if (!m_service || firstCluster < 2 || firstCluster >= m_limit) return 0;
  const uint32_t bytes = m_service->ClusterBytes();
  const uint32_t maxClusters = std::max<uint32_t>(1, kMaxDirectoryBytes / bytes);
  std::vector<uint32_t> chain;
  for (uint32_t c = firstCluster;;) {
    chain.push_back(c);
    if (chain.size() > maxClusters) {
      MarkVisited(firstCluster);
      return 0;
    }
    uint32_t next = 0;
    if (m_service->NextCluster(c, &next) != 0 || next < 2 || next >= m_limit) break;
    if (deleted && (Allocated(next) || Visited(next))) break;
    // A live chain that meets itself again ends there.
    if (Visited(next) || std::find(chain.begin(), chain.end(), next) != chain.end()) break;
    c = next;
  }
  return ReadChainRecord(parentId, chain, deleted);
}

int32_t CStorage::CFATScanTask::ReadChainRecord(uint64_t parentId, const std::vector<uint32_t>& chain, bool deleted) {
  const uint32_t bytes = m_service->ClusterBytes();
  std::unique_ptr<FatDirRecord> record(new (std::nothrow) FatDirRecord);
  if (!record) return kResultNoMemory;
  try {
    record->bytes.resize(chain.size() * size_t(bytes));
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  for (size_t i = 0; i < chain.size();) {
    size_t run = 1;
    while (i + run < chain.size() && chain[i + run] == chain[i] + run) ++run;
    if (m_service->ReadClusters(chain[i], uint32_t(run), record->bytes.data() + i * bytes) != run) return -1;
    i += run;
  }
  for (uint32_t c : chain) MarkVisited(c);
  record->firstCluster = chain.front();
  record->clusterCount = uint32_t(chain.size());
  record->parentId = parentId;
  return ParseDirectory(record.release(), deleted);
}

bool CStorage::CFATScanTask::GuessDeletedInitial(const std::wstring& longName, uint8_t checksum, uint8_t* shortName) {
  if (longName.empty()) return false;
  const wchar_t initial = longName[0] == L'.' && longName.size() > 1 ? longName[1] : longName[0];
  uint8_t oem[8] = {};
  int got = -1;
  if (m_charset) {
    // The core converts back when the target size is negative (wide to OEM).
    got = m_charset(m_charsetContext, reinterpret_cast<const char*>(&initial), int(sizeof initial),
                    reinterpret_cast<wchar_t*>(oem), -int(sizeof oem));
  }
  if (got <= 0) {
    if (initial >= 0x80) return false;
    oem[0] = uint8_t(initial);
  }
  uint8_t copy[11];
  std::memcpy(copy, shortName, 11);
  copy[0] = oem[0];
  UpperShortName(copy);
  if (ShortNameChecksum(copy) != checksum) return false;
  std::memcpy(shortName, copy, 11);
  return true;
}

int32_t CStorage::CFATScanTask::ParseDirectory(FatDirRecord* recordIn, bool deleted) {
  std::unique_ptr<FatDirRecord> record(recordIn);
  const uint32_t count = uint32_t(record->bytes.size() / kEntryBytes);
  const uint8_t* all = record->bytes.data();
  const uint32_t clusterBytes = m_service ? m_service->ClusterBytes() : 512;
  uint32_t i = 0;
  bool dotStart = false;
  if (count >= 2 && m_service && m_service->IsDotEntry(all, record->firstCluster) &&
      m_service->IsDotDotEntry(all + kEntryBytes)) {
    dotStart = true;
    record->flags |= kRecordDotStart;
    i = 2;
  }
  if (count) std::memcpy(record->firstEntry, all, kEntryBytes);
  LongNameAccumulator& name = record->name;
  name.Reset();
  bool beforeShort = true;
  bool reachedEnd = true;
  for (; i < count; ++i) {
    if (!m_running.load()) {
      reachedEnd = false;
      break;
    }
    const uint8_t* e = all + size_t(i) * kEntryBytes;
    if (e[0] == 0) {
      reachedEnd = false;  // the end marker: nothing follows
      break;
    }
    if (IsLongNameEntry(e)) {
      if (m_service) m_service->AccumulateLongName(e, &name);
      continue;
    }
    if (beforeShort) {
      record->leading = name;
      beforeShort = false;
    }
    LongNameAccumulator run = name;
    name.Reset();
    if (!IsValidShortName(e)) continue;
    const uint8_t attributes = e[11];
    const uint32_t first = FirstCluster(e);
    if ((attributes & 0x08) && first == 0) {
      if (!deleted && e[0] != 0xE5) {
        m_label = ShortText(e);
        while (!m_label.empty() && m_label.back() == L' ') m_label.pop_back();
      }
      continue;
    }
    const uint32_t size = U32(e + 28);
    const bool isDeleted = e[0] == 0xE5;
    const bool isDirectory = (attributes & 0x10) != 0;
    if ((first == 1 && U16(e + 20) == 0) || first >= m_limit || (e[12] & ~0x18) != 0) continue;
    bool control = false;
    for (int k = 1; k < 11; ++k) control |= e[k] < 0x20;
    if (control || (e[0] < 0x20 && e[0] != 0x05)) continue;
    // A live file's clusters are the FAT's to tell (it may be fragmented near the end);
    // only a deleted one must fit before the end of the volume.
    if (isDeleted && !isDirectory && first >= 2 && uint64_t(first) + size / clusterBytes >= m_limit) continue;
    if (isDirectory && first < 2) continue;

    const uint8_t checksum = ShortNameChecksum(e);
    std::wstring text;
    if (run.count && !run.unusable && run.deleted == isDeleted) {
      if (!isDeleted && run.complete && run.checksum == checksum) {
        text = run.Text();
      } else if (isDeleted) {
        uint8_t copy[11];
        std::memcpy(copy, e, 11);
        if (GuessDeletedInitial(run.Text(), run.checksum, copy)) text = run.Text();
      }
    }
    if (text.empty()) {
      uint8_t shown[32];
      std::memcpy(shown, e, kEntryBytes);
      if (isDeleted) shown[0] = '_';
      text = ShortText(shown);
    }
    bool badText = text.empty();
    for (wchar_t c : text) badText |= c < 0x20;
    if (badText) continue;
    const uint64_t id = first == 0 ? EmptyFileId() : first;
    const uint64_t time = DosTimeToUnix(U16(e + 24), U16(e + 22));
    if (!record->firstShortSeen) {
      record->firstShortSeen = true;
      std::memcpy(record->firstShort, e, kEntryBytes);
      record->firstShortName = text;
      record->firstShortId = id;
    }
    const int32_t running = Report(text, id, record->parentId, isDirectory ? 0 : size, time, attributes, isDeleted);
    if (isDirectory && !Visited(first) && running) ReadChain(id, first, deleted || isDeleted);
  }
  if (reachedEnd && count) {
    std::memcpy(record->lastEntry, all + size_t(count - 1) * kEntryBytes, kEntryBytes);
    if (IsLongNameEntry(record->lastEntry) && name.count) {
      record->flags |= kRecordOpenRun;
    } else {
      record->flags |= kRecordComplete;
    }
  }
  record->deleted = deleted;
  record->bytes.clear();
  record->bytes.shrink_to_fit();
  if (deleted && !dotStart && record->firstShortSeen) KeepHead(*record);
  // Only a record cut inside a long name can still be joined with its neighbour.
  if (deleted && ((record->flags & kRecordOpenRun) || record->leading.count)) LinkSplitRecord(record.release());
  return dotStart ? 1 : 0;
}

void CStorage::CFATScanTask::LinkSplitRecord(FatDirRecord* record) { LinkPending(record, true); }

void CStorage::CFATScanTask::LinkPending(FatDirRecord* record, bool joinTails) {
  FatDirRecord** link = &m_pending;
  while (*link) {
    FatDirRecord* pending = *link;
    if (pending->firstCluster + 1 == record->firstCluster) {
      bool joined = false;
      if ((pending->flags & kRecordOpenRun) && pending->name.count) {
        if (record->leading.count == 0 && record->firstShortSeen) {
          joined = joinTails && JoinLongNameTail(pending, record);
        } else if (record->leading.count) {
          joined = JoinLongNameHead(pending, record);
        }
      }
      // A neighbour that does not continue the run leaves it for the pass after the walk.
      if (joined) {
        DropHead(record->firstCluster);
        *link = pending->next;
        delete pending;
        continue;
      }
    }
    link = &pending->next;
  }
  if (record->flags & kRecordOpenRun) {
    record->next = m_pending;
    m_pending = record;
  } else {
    delete record;
  }
}

bool CStorage::CFATScanTask::JoinLongNameTail(FatDirRecord* pending, FatDirRecord* record) {
  const uint8_t* s = record->firstShort;
  const bool isDeleted = s[0] == 0xE5;
  if (isDeleted != pending->name.deleted) return false;
  const std::wstring full = pending->name.Text();
  if (isDeleted) {
    uint8_t copy[11];
    std::memcpy(copy, s, 11);
    if (!GuessDeletedInitial(full, pending->name.checksum, copy)) return false;
  } else if (ShortNameChecksum(s) != pending->name.checksum) {
    return false;
  }
  RenameEntries(record->firstShortName.c_str(), full.c_str(), record->parentId, pending->parentId,
                record->firstShortId);
  return true;
}

bool CStorage::CFATScanTask::JoinLongNameHead(FatDirRecord* pending, FatDirRecord* record) {
  const LongNameAccumulator& head = record->leading;
  const LongNameAccumulator& tail = pending->name;
  if (head.checksum != tail.checksum || head.deleted != tail.deleted) return false;
  // The pending run expects the part that the new record starts with.
  if (!tail.deleted && (head.first & 0x3F) != tail.sequence) return false;
  std::wstring full = head.Text();
  full.resize(std::min<size_t>(full.size(), head.count));
  std::wstring joined(head.chars, head.count);
  joined += std::wstring(tail.chars, tail.count);
  LongNameAccumulator both;
  const size_t n = std::min<size_t>(joined.size(), LongNameAccumulator::kMaxChars);
  std::wmemcpy(both.chars, joined.data(), n);
  both.count = uint32_t(n);
  RenameEntries(record->firstShortName.c_str(), both.Text().c_str(), record->parentId, pending->parentId,
                record->firstShortId);
  return true;
}

void CStorage::CFATScanTask::DropHead(uint32_t firstCluster) {
  for (FatDirRecord** link = &m_heads; *link; link = &(*link)->next) {
    if ((*link)->firstCluster != firstCluster) continue;
    FatDirRecord* head = *link;
    *link = head->next;
    delete head;
    return;
  }
}

void CStorage::CFATScanTask::KeepHead(const FatDirRecord& record) {
  FatDirRecord* head = new (std::nothrow) FatDirRecord;
  if (!head) return;
  head->firstCluster = record.firstCluster;
  head->parentId = record.parentId;
  head->leading = record.leading;
  head->firstShortSeen = true;
  std::memcpy(head->firstShort, record.firstShort, kEntryBytes);
  head->firstShortName = record.firstShortName;
  head->firstShortId = record.firstShortId;
  head->deleted = true;
  head->next = m_heads;
  m_heads = head;
}

void CStorage::CFATScanTask::ClearBuckets() {
  for (CListData<unsigned int>* table : {m_runBuckets, m_headBuckets}) {
    for (uint32_t i = 0; i < 256; ++i) {
      while (table[i].next) UnlinkNode(table[i].next);
    }
  }
}

namespace {

FatDirRecord* RecordOf(CList* node) { return static_cast<FatBucketNode*>(node)->record; }

void Bucket(CListData<unsigned int>* table, uint8_t checksum, FatDirRecord* record) {
  record->bucket.value = record->firstCluster;
  record->bucket.record = record;
  LinkAfter(&table[checksum], &record->bucket);
}

std::wstring Upper(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(&text[0], DWORD(text.size()));
  return text;
}

}  // namespace

FatDirRecord* CStorage::CFATScanTask::MatchShortHead(const FatDirRecord& head) {
  const uint8_t* s = head.firstShort;
  if (s[0] != 0xE5) {
    for (CList* n = m_runBuckets[ShortNameChecksum(s)].next; n; n = n->next) {
      FatDirRecord* run = RecordOf(n);
      if (!run->name.deleted && run->name.complete) return run;
    }
    return nullptr;
  }
  // The initial is lost: every byte it may have been names a bucket.
  bool tried[256] = {};
  for (uint32_t initial = 0x20; initial < 0x100; ++initial) {
    if (initial == 0xE5 || initial == '.') continue;
    uint8_t guess[11];
    std::memcpy(guess, s, 11);
    guess[0] = uint8_t(initial);
    UpperShortName(guess);
    const uint8_t checksum = ShortNameChecksum(guess);
    if (tried[checksum]) continue;
    tried[checksum] = true;
    for (CList* n = m_runBuckets[checksum].next; n; n = n->next) {
      FatDirRecord* run = RecordOf(n);
      if (!run->name.deleted) continue;
      const std::wstring longName = run->name.Text();
      uint8_t entry[32];
      std::memcpy(entry, s, kEntryBytes);
      if (!GuessDeletedInitial(longName, checksum, entry)) continue;
      // The checksum holds one byte: the visible name must agree too.
      std::wstring shortText = Upper(ShortText(entry));
      const size_t tilde = shortText.find(L'~');
      if (tilde != std::wstring::npos) shortText.resize(tilde);
      const std::wstring upperLong = Upper(longName);
      const size_t common = std::min(shortText.size(), upperLong.size());
      if (common && shortText.compare(0, common, upperLong, 0, common) == 0) return run;
    }
  }
  return nullptr;
}

void CStorage::CFATScanTask::ResolvePendingRecords() {
  ClearBuckets();
  for (FatDirRecord* p = m_pending; p; p = p->next)
    if ((p->flags & kRecordOpenRun) && p->name.count && !p->name.unusable) Bucket(m_runBuckets, p->name.checksum, p);
  for (FatDirRecord** link = &m_heads; *link;) {
    FatDirRecord* head = *link;
    FatDirRecord* run = head->leading.count ? nullptr : MatchShortHead(*head);
    if (!run) {
      link = &head->next;
      continue;
    }
    RenameEntries(head->firstShortName.c_str(), run->name.Text().c_str(), head->parentId, run->parentId,
                  head->firstShortId);
    UnlinkNode(&run->bucket);
    *link = head->next;
    delete head;
  }
}

namespace {

// The head's leading run continues the cut run: deleted runs have lost their sequence
// bytes and only the checksum ties them; a live one must go on with the part expected,
// reach part 1 and belong to the short entry that follows it.
bool HeadContinuesRun(const FatDirRecord& head, const FatDirRecord& run) {
  const LongNameAccumulator& lead = head.leading;
  if (lead.deleted != run.name.deleted) return false;
  if (lead.deleted) return true;
  return !lead.unusable && !(lead.first & 0x40) && (lead.first & 0x3F) == run.name.sequence && lead.sequence == 0 &&
         head.firstShort[0] != 0xE5 && ShortNameChecksum(head.firstShort) == lead.checksum;
}

}  // namespace

void CStorage::CFATScanTask::JoinDeletedRecords() {
  for (FatDirRecord* head = m_heads; head; head = head->next)
    if (head->leading.count) Bucket(m_headBuckets, head->leading.checksum, head);
  for (uint32_t checksum = 0; checksum < 256; ++checksum) {
    for (CList* r = m_runBuckets[checksum].next; r;) {
      FatDirRecord* run = RecordOf(r);
      r = r->next;
      CList* h = m_headBuckets[checksum].next;
      while (h && !HeadContinuesRun(*RecordOf(h), *run)) h = h->next;
      if (!h) continue;
      FatDirRecord* head = RecordOf(h);
      // The head holds the name's beginning, the cut run its end.
      std::wstring joined(head->leading.chars, head->leading.count);
      joined += std::wstring(run->name.chars, run->name.count);
      LongNameAccumulator both;
      const size_t n = std::min<size_t>(joined.size(), LongNameAccumulator::kMaxChars);
      std::wmemcpy(both.chars, joined.data(), n);
      both.count = uint32_t(n);
      RenameEntries(head->firstShortName.c_str(), both.Text().c_str(), head->parentId, run->parentId,
                    head->firstShortId);
      UnlinkNode(&run->bucket);
      UnlinkNode(&head->bucket);
    }
  }
  ClearBuckets();
}

int32_t CStorage::CFATScanTask::TimeResolvePending() {
  CTimeMonitor start;
  ResolvePendingRecords();
  JoinDeletedRecords();
  CTimeMonitor end;
  end.PrintElapsed(start);
  return 0;
}

void CStorage::CFATScanTask::FreePendingRecords() {
  ClearBuckets();
  while (m_heads) {
    FatDirRecord* next = m_heads->next;
    delete m_heads;
    m_heads = next;
  }
  while (m_pending) {
    FatDirRecord* next = m_pending->next;
    delete m_pending;
    m_pending = next;
  }
}

void CStorage::CFATScanTask::RenameEntries(const wchar_t* oldName, const wchar_t* newName, uint64_t oldParent,
                                           uint64_t newParent, uint64_t onlyId) {
  if (!oldName || !newName || std::wcscmp(oldName, newName) == 0 && oldParent == newParent) return;
  CFileEntry** from = m_idMap.FindCell(oldParent);
  CPathEntry* folder = from && *from ? (*from)->AsPath() : nullptr;
  if (!folder) return;
  CFileEntry** to = m_idMap.FindCell(newParent);
  CPathEntry* target = to && *to ? (*to)->AsPath() : nullptr;
  wchar_t* interned = InternName(newName);
  if (!interned) return;
  ::EnterCriticalSection(&m_lock);
  std::vector<CFileEntry*> renamed;
  CListGroup& children = folder->childList;
  for (CList* p = children.First(); p && !children.IsTail(p); p = p->next) {
    CFileEntry* child = CFileEntry::FromChildNode(p);
    // Names cut alike (a long name's first part) are told apart by the entry's id.
    if (child->name && std::wcscmp(child->name, oldName) == 0 && (onlyId == kNoEntryId || child->ownId == onlyId))
      renamed.push_back(child);
  }
  for (CFileEntry* child : renamed) {
    wchar_t* extension = InternName(newName);
    if (!extension) break;
    const bool indexed = child->sizeNode.IsLinked();
    if (indexed) UnindexEntry(child);
    SetEntryName(interned, child);
    LowerCaseExtension(extension);
    SetExtensionView(child, extension);
    if (target && target != folder) {
      child->parentId = newParent;
      PlaceEntry(child, target);
    }
    QueuePending(child);
  }
  ::LeaveCriticalSection(&m_lock);
}

CFileEntry* CStorage::CFATScanTask::FillPlaceholder(CFileEntry** cell, const wchar_t* name, uint32_t kind, uint64_t id,
                                                    uint64_t parentId, uint64_t size, uint32_t time1, uint32_t time2,
                                                    uint32_t attributes) {
  CFileEntry* held = *cell;
  CPathEntry* folder = held->AsPath();
  if (folder && folder != m_unknownFolder && (!folder->name || !folder->name[0]) && folder->parentId == kNoEntryId) {
    // A folder made for children that came first: the record names it.
    RenameEntry(name, folder, kind, folder->sequence, id, parentId, 0, time1, time2, attributes | kAttrFolder);
    if (CPathEntry* current = FindParentFolder(folder)) RemoveChild(current, folder);
    return folder;
  }
  for (CFileEntry* e = FirstInLinkChain(held); e;
       e = e->linkChainNode.next ? CFileEntry::FromLinkChainNode(e->linkChainNode.next) : nullptr) {
    if (e->parentId == parentId && e->IsFolder() && e->name && std::wcscmp(e->name, name) == 0) return nullptr;
    if (!e->linkChainNode.next) break;
  }
  CPathEntry* alias =
      NewPathEntry(m_arena, attributes | kAttrFolder, name, kind, NextSequence(), id, parentId, 0, time1, time2);
  if (!alias) return nullptr;
  ChainAfter(held, alias);
  if (!folder) *cell = alias;
  return alias;
}

CFileEntry* CStorage::CFATScanTask::MergeSameId(CFileEntry** cell, CFileEntry* entry) {
  CFileEntry* held = *cell;
  for (CFileEntry* e = FirstInLinkChain(held); e;
       e = e->linkChainNode.next ? CFileEntry::FromLinkChainNode(e->linkChainNode.next) : nullptr) {
    if (e->parentId == entry->parentId && e->IsFolder() == entry->IsFolder() && e->name &&
        std::wcscmp(e->name, entry->name) == 0) {
      // Reported twice (a folder read again): counted once.
      --m_fileCount;
      if (entry->IsDeleted()) --m_deletedCount;
      return nullptr;
    }
    if (!e->linkChainNode.next) break;
  }
  ChainAfter(held, entry);
  return entry;
}

void CStorage::CFATScanTask::WorkFinishRoutine(int32_t) {
  int32_t expected = 0;
  if (!m_finishEntered.compare_exchange_strong(expected, 1)) return;
  CPathEntry* const unknown = m_unknownFolder;
  unknown->Recount(true);
  NameOrphans(unknown);
  std::printf("Directories counted.\n");
  std::fflush(stdout);
  CFileEntry** rootCell = m_idMap.FindCell(m_rootId);
  if (CPathEntry* root = rootCell && *rootCell ? (*rootCell)->AsPath() : nullptr) {
    if (CPathEntry* current = FindParentFolder(root)) RemoveChild(current, root);
    AddChild(&m_virtualRoot, root);
  }
  AddChild(&m_virtualRoot, unknown);
  FreePendingRecords();
  // The indexer drains the queue and runs PostScan before the host sees finished.
  FinishWork();
}

void CStorage::CFATScanTask::PostScan() { m_virtualRoot.Recount(false); }

// ---------------------------------------------------------------------------------
// Recovery

std::wstring CStorage::CFATScanTask::TargetPath(const wchar_t* targetRoot, const wchar_t* relativePath) {
  std::wstring path = targetRoot ? targetRoot : L"";
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  if (relativePath && relativePath[0] != L'\\') path += L'\\';
  path += relativePath ? relativePath : L"";
  return path;
}

CFileEntry* CStorage::CFATScanTask::RecoveredEntry(uint64_t id, const wchar_t* relativePath) {
  CFileEntry* entry = GetEntryById(id);
  if (!entry || !relativePath) return entry;
  const wchar_t* last = std::wcsrchr(relativePath, L'\\');
  const std::wstring wanted = last ? last + 1 : relativePath;
  for (CFileEntry* e = FirstInLinkChain(entry); e;
       e = e->linkChainNode.next ? CFileEntry::FromLinkChainNode(e->linkChainNode.next) : nullptr) {
    if (e->ownId == id && !e->IsFolder() && e->name && SafePathComponent(e->name, std::wcslen(e->name)) == wanted)
      return e;
    if (!e->linkChainNode.next) break;
  }
  return entry;
}

int32_t CStorage::CFATScanTask::RecoverOneFile(const wchar_t* targetRoot, uint64_t id, const wchar_t* relativePath) {
  CFileEntry* entry = RecoveredEntry(id, relativePath);
  if (!entry || entry->IsFolder()) return kFileCorrupt;
  std::wstring path = TargetPath(targetRoot, relativePath);
  CreateDirectoryPath(path.c_str());
  MakeUniqueTargetName(path);
  Core::SetPartBitLocker(m_partitionHandle, int(reinterpret_cast<intptr_t>(m_diskContext)));
  const Core::FatFileBlock block{sizeof(Core::FatFileBlock), entry->IsDeleted() ? 1u : 0u};
  const uint32_t first = (id >> 32) ? 0 : uint32_t(id);
  std::optional<int> result = Core::RecoverFATFile(m_partitionHandle, m_diskContext, &block, path.c_str(), first,
                                                   entry->size, entry->Time());
  if (!result) return WindowsErrorCode(Core::MissingError("RecoverFATFile"));
  return *result;
}

int32_t CStorage::CFATScanTask::WriteClusters(HANDLE target, uint32_t first, uint64_t size, bool noChain,
                                              bool passAllocated) {
  if (size == 0) return 0;
  if (!m_service) return kReadFailed;
  const uint32_t bytes = m_service->ClusterBytes();
  if (first < 2 || first >= m_limit || bytes == 0) return kFileCorrupt;
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(std::max(kWriteBufferBytes, bytes));
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  uint32_t filled = 0;
  uint64_t remaining = size;
  bool followChain = !noChain;
  uint32_t c = first;
  while (remaining > 0) {
    // Every cluster read lies on the volume: a file that runs past its end fails.
    if (c < 2 || c >= m_limit) return kFileCorrupt;
    std::printf("Cluster %XH\n", unsigned(c));
    if (m_service->ReadClusters(c, 1, buffer.data() + filled) != 1) return kReadFailed;
    filled += bytes;
    if (filled + bytes > buffer.size() || filled >= remaining) {
      const uint32_t piece = uint32_t(std::min<uint64_t>(filled, remaining));
      DWORD written = 0;
      if (!::WriteFile(target, buffer.data(), piece, &written, nullptr) || written != piece)
        return WindowsErrorCode(::GetLastError() ? ::GetLastError() : ERROR_WRITE_FAULT);
      remaining -= piece;
      filled = 0;
    }
    if (remaining == 0) break;
    if (followChain) {
      uint32_t next = 0;
      if (m_service->NextCluster(c, &next) == 0 && next >= 2 && next < m_limit) {
        c = next;
        continue;
      }
      followChain = false;  // the chain broke or ended early: on over the following clusters
    }
    uint32_t n = c + 1;
    while (passAllocated && n < m_limit && Allocated(n)) ++n;
    c = n;
  }
  return 0;
}

int32_t CStorage::CFATScanTask::RecoverByClusters(const wchar_t* targetRoot, uint64_t id, const wchar_t* relativePath,
                                                  bool passAllocated) {
  CFileEntry* entry = RecoveredEntry(id, relativePath);
  if (!entry || entry->IsFolder()) return kFileCorrupt;
  std::wstring path = TargetPath(targetRoot, relativePath);
  CreateDirectoryPath(path.c_str());
  MakeUniqueTargetName(path);
  HANDLE target = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (target == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    std::printf("  Recover File %ls fail with error code %d\n", path.c_str(), int(error));
    std::fflush(stdout);
    return WindowsErrorCode(error);
  }
  Core::SetPartBitLocker(m_partitionHandle, int(reinterpret_cast<intptr_t>(m_diskContext)));
  const uint32_t first = (id >> 32) ? 0 : uint32_t(id);
  const int32_t result = WriteClusters(target, first, entry->size, (entry->kind & kKindNoFatChain) != 0, passAllocated);
  std::fflush(stdout);
  ::CloseHandle(target);
  // Half a file is no recovered file.
  if (result != 0) ::DeleteFileW(path.c_str());
  return result;
}

// ---------------------------------------------------------------------------------
// Formatted task

CStorage::CFATScanFormattedTask::CFATScanFormattedTask(const TaskParams& params) : CFATScanTask(params) {
  m_formatted = true;
  m_clusterBuffer.assign(kFormattedBufferBytes, 0);
}

int32_t CStorage::CFATScanFormattedTask::OnRecordFound(const wchar_t* name, uint32_t kind, uint32_t idLow,
                                                       uint32_t idHigh, uint32_t parentLow, uint32_t parentHigh,
                                                       uint32_t sizeLow, uint32_t sizeHigh, uint32_t timeLow,
                                                       uint32_t timeHigh, uint32_t attributes, int32_t deleted,
                                                       int32_t progress) {
  const bool raw = idLow == 0xFFFFFFFF && idHigh == 0xFFFFFFFF && parentLow == 0xFFFFFFFF && parentHigh == 0xFFFFFFFF;
  if (!raw)
    return CFATScanTask::OnRecordFound(name, kind, idLow, idHigh, parentLow, parentHigh, sizeLow, sizeHigh, timeLow,
                                       timeHigh, attributes, deleted, progress);
  m_progress.store(progress);
  if (!name || !m_service || kind == 0) return m_running.load();
  const uint8_t* sector = reinterpret_cast<const uint8_t*>(name);
  const uint64_t position = uint64_t(sizeHigh) << 32 | sizeLow;
  const uint32_t bytes = m_service->ClusterBytes();
  // Cluster 2 starts the heap (cluster 0's sector may lie before the volume).
  const uint64_t heap = (m_service->DataStartSector() + 2ull * m_service->SectorsPerCluster()) * m_service->BytesPerSector();
  if (position < heap || bytes > m_clusterBuffer.size()) return m_running.load();
  const uint64_t cluster = 2 + (position - heap) / bytes;
  const uint32_t offset = uint32_t((position - heap) % bytes);
  if (cluster >= m_limit) return m_running.load();
  if (cluster != m_collecting) {
    ParseCollected();
    std::fill(m_clusterBuffer.begin(), m_clusterBuffer.end(), 0);
    m_collecting = uint32_t(cluster);
  }
  if (offset < bytes) std::memcpy(m_clusterBuffer.data() + offset, sector, std::min<uint32_t>(kind, bytes - offset));
  WaitWhilePaused();
  return m_running.load();
}

void CStorage::CFATScanFormattedTask::ParseCollected() { ParseCollectedCluster(true); }

void CStorage::CFATScanFormattedTask::ParseCollectedCluster(bool dotEntriesName) {
  const uint32_t cluster = m_collecting;
  m_collecting = 0;
  if (cluster < 2 || cluster >= m_limit || !m_service || Visited(cluster)) return;
  const uint32_t bytes = m_service->ClusterBytes();
  std::unique_ptr<FatDirRecord> record(new (std::nothrow) FatDirRecord);
  if (!record) return;
  record->bytes.assign(m_clusterBuffer.begin(), m_clusterBuffer.begin() + bytes);
  record->firstCluster = cluster;
  record->clusterCount = 1;
  // A cluster that begins a folder ("." names it) holds that folder's entries.
  const bool dotStart = dotEntriesName && m_service->IsDotEntry(record->bytes.data(), cluster) &&
                        m_service->IsDotDotEntry(record->bytes.data() + kEntryBytes);
  record->parentId = dotStart ? cluster : m_rootId;
  MarkVisited(cluster);
  ParseDirectory(record.release(), true);
}

void CStorage::CFATScanFormattedTask::WorkFinishRoutine(int32_t value) {
  if (!FinishDone()) {
    ParseCollected();
    // Every raw directory sector is in: names cut at a cluster's end can be joined now.
    TimeResolvePending();
  }
  CFATScanTask::WorkFinishRoutine(value);
}

int32_t CStorage::CFATScanFormattedTask::RecoverOneFile(const wchar_t* targetRoot, uint64_t id,
                                                        const wchar_t* relativePath) {
  return RecoverByClusters(targetRoot, id, relativePath, true);
}

// ---------------------------------------------------------------------------------
// Workers and builders

int __cdecl CFATFormattedWorker::VolumeCallback(void* worker, void* charsetContext, Core::FatVolumeValues* values,
                                                uint32_t bootLength) {
  auto* self = static_cast<CFATFormattedWorker*>(worker);
  if (!self) return 0;
  static_cast<CStorage::CFATScanTask*>(self->m_task)->ScanVolume(charsetContext, values, bootLength);
  return 0;
}

DWORD CFATFormattedWorker::Run() {
  auto* task = static_cast<CStorage::CFATScanTask*>(m_task);
  if (m_callScanInit) task->ScanInit();
  bool ran = false;
  const bool returned = RunGuardedCall([&] {
    ran = Core::FATFormattedScanRoutine(task->PartitionHandle(), task->DiskContext(), &VolumeCallback, this,
                                        task->ProgressBlock())
              .has_value();
  });
  if (!returned) {
    Core::WriteLog(Core::kLogError, "FATWorker", "CFATFormattedWorker::ScanRoutine", __LINE__,
                   "Exception occur in FATFormattedScanRoutine");
  } else if (!ran) {
    CORE_LOG(Core::kLogError, "CFATFormattedWorker::ScanRoutine", "FATFormattedScanRoutine error %lu",
             static_cast<unsigned long>(Core::MissingError("FATFormattedScanRoutine")));
  }
  task->WorkFinishRoutine(0);
  return 0;
}


int32_t BuildFatScanTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  return BuildTaskWithWorker<CStorage::CFATScanTask, CFATFormattedWorker>(params, task);
}

int32_t BuildFatScanFormattedTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  return BuildTaskWithWorker<CStorage::CFATScanFormattedTask, CFATFormattedWorker>(params, task);
}

int32_t BuildExFatScanTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  return BuildTaskWithWorker<CExFATScanFormattedTask, CExFATFormattedWorker>(params, task);
}
