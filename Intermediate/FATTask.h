// The FAT scans: the directory walk of FAT12/16/32 volumes from their root (deleted
// entries and folders included), its formatted form over raw directory sectors that the
// core finds, the exFAT scan, their finishing pass and their recovery of one file.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CoreLibrary.h"
#include "FATService.h"
#include "Interface.h"

// The block the core hands to the volume callback.
struct Core::FatVolumeValues {
  uint32_t bytes;  // of this block
  uint32_t bootLength;
  uint64_t partitionBytes;
  // Set by a formatted scan: the core then hands it every raw directory sector it finds,
  // with both ids all ones (see the stand-in's header).
  int(__cdecl* rawSectorCallback)(void* task, const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh,
                                  uint32_t parentLow, uint32_t parentHigh, uint32_t sizeLow, uint32_t sizeHigh,
                                  uint32_t timeLow, uint32_t timeHigh, uint32_t attributes, int32_t deleted,
                                  int32_t progress);
  void* rawSectorTask;
  uint32_t reserved[2];
};
static_assert(sizeof(void*) != 4 || sizeof(Core::FatVolumeValues) == 32, "volume values layout");

struct FatDirRecord;

// A checksum bucket's link: value is the record's first cluster.
struct FatBucketNode : CListData<unsigned int> {
  FatDirRecord* record = nullptr;
};

// The entries of one directory read from disk (a chain, a root region or one cluster).
struct FatDirRecord {
  uint32_t firstCluster = 0;
  uint64_t parentId = 0;  // id that the entries get as parent
  uint32_t clusterCount = 0;
  uint32_t flags = 0;      // kRecordDotStart, kRecordOpenRun, kRecordComplete
  std::vector<uint8_t> bytes;
  LongNameAccumulator name;        // the long-name run open at the record's end
  LongNameAccumulator leading;     // the run the record began with (before any short entry)
  uint8_t firstEntry[32] = {};
  uint8_t lastEntry[32] = {};
  // The first short entry when the record began inside a run: what it was reported as.
  bool firstShortSeen = false;
  uint8_t firstShort[32] = {};
  std::wstring firstShortName;
  uint64_t firstShortId = 0;
  bool deleted = false;
  // exFAT: the entries of a set cut at the record's end (file entry first), and those
  // the record began with (a stream and names, or names) that continue a set elsewhere.
  std::vector<uint8_t> openSet;
  std::vector<uint8_t> headSet;
  FatDirRecord* next = nullptr;  // pending list
  FatBucketNode bucket;
};

class CStorage::CFATScanTask : public CStorage::CScanTask {
 public:
  static constexpr uint32_t kRecordDotStart = 2;
  static constexpr uint32_t kRecordOpenRun = 8;
  static constexpr uint32_t kRecordComplete = 16;
  // Entry kind bit: an exFAT stream stored without FAT chain.
  static constexpr uint32_t kKindNoFatChain = 0x10;

  explicit CFATScanTask(const TaskParams& params);
  ~CFATScanTask() override;

  void PostScan() override;
  void ScanInit() override;
  void WorkFinishRoutine(int32_t value) override;
  CFileEntry** GetIdCell(uint64_t id) override;
  int32_t RecoverOneFile(const wchar_t* targetRoot, uint64_t id, const wchar_t* relativePath) override;
  CFileEntry* GetEntryById(uint64_t id) override;
  CFileEntry* FillPlaceholder(CFileEntry** cell, const wchar_t* name, uint32_t kind, uint64_t id, uint64_t parentId,
                              uint64_t size, uint32_t time1, uint32_t time2, uint32_t attributes) override;
  CFileEntry* MergeSameId(CFileEntry** cell, CFileEntry* entry) override;

  // The volume callback's work: 0, or the core's result of releasing its cache.
  virtual int32_t ScanVolume(void* charsetContext, Core::FatVolumeValues* values, uint32_t bootLength);
  // 1 when the record began with "." and "..", else 0.
  virtual int32_t ParseDirectory(FatDirRecord* record, bool deleted);
  // 0, -8 (no memory), -1 (a short read) or ParseDirectory's result.
  virtual int32_t ReadChain(uint64_t parentId, uint32_t firstCluster, bool deleted);
  // Puts the long name's initial in place of a deleted entry's 0xE5 when the checksum
  // then matches; true with the entry (11 bytes) changed.
  virtual bool GuessDeletedInitial(const std::wstring& longName, uint8_t checksum, uint8_t* shortName);
  virtual void ResolvePendingRecords();
  virtual void JoinDeletedRecords();
  virtual void LinkSplitRecord(FatDirRecord* record);
  // Both: true when the record's entries were renamed after the pending run.
  virtual bool JoinLongNameHead(FatDirRecord* pending, FatDirRecord* record);
  virtual bool JoinLongNameTail(FatDirRecord* pending, FatDirRecord* record);
  virtual int32_t TimeResolvePending();
  virtual void FreePendingRecords();
  // Gives newName to the children of oldParent named oldName (only those; with onlyId,
  // only the one of that id) and moves them under newParent when it differs.
  virtual void RenameEntries(const wchar_t* oldName, const wchar_t* newName, uint64_t oldParent, uint64_t newParent,
                             uint64_t onlyId = kNoEntryId);

  void* PartitionHandle() const { return m_partitionHandle; }
  void* DiskContext() const { return m_diskContext; }
  CFATService* Service() const { return m_service.get(); }
  const std::wstring& VolumeLabel() const { return m_label; }
  bool FinishDone() const { return m_finishEntered.load() != 0; }
  bool IsFormattedScan() const { return m_formatted; }

 protected:
  // Joins the record with its pending neighbour (joinTails: also a run that the record's
  // first short entry ends) and keeps it when it ends inside a run.
  void LinkPending(FatDirRecord* record, bool joinTails);
  // Keeps a copy of what a deleted record began with for the pass after the walk.
  void KeepHead(const FatDirRecord& record);
  // Forgets the kept head of that cluster (its record was joined with its neighbour).
  void DropHead(uint32_t firstCluster);
  // The pending run that the head's first short entry ends, or null.
  FatDirRecord* MatchShortHead(const FatDirRecord& head);
  void ClearBuckets();
  // Reads the clusters of a directory chain (consecutive ones together), flags them
  // visited and parses them: -8, -1 (a short read) or ParseDirectory's result.
  int32_t ReadChainRecord(uint64_t parentId, const std::vector<uint32_t>& chain, bool deleted);
  // One entry for OnRecordFound; the running flag.
  int32_t Report(const std::wstring& name, uint64_t id, uint64_t parentId, uint64_t size, uint64_t time,
                 uint32_t attributes, bool deleted, uint32_t kind = 0);
  bool Visited(uint32_t cluster) const { return cluster < m_limit && (m_visited[cluster / 8] >> (cluster % 8)) & 1; }
  void MarkVisited(uint32_t cluster) {
    if (cluster < m_limit) m_visited[cluster / 8] |= uint8_t(1u << (cluster % 8));
  }
  bool Allocated(uint32_t cluster) const {
    return m_allocated.empty() || cluster >= m_limit || (m_allocated[cluster / 8] >> (cluster % 8)) & 1;
  }
  // Bitmap of limit bits: clusters 0 and 1 and everything past the count set.
  static std::vector<uint8_t> NewBitmap(uint32_t limit);
  // Writes size bytes from the clusters of a file into target: along the FAT chain while
  // it holds (noChain: consecutive), then on over free clusters; 0 or a negative error.
  int32_t WriteClusters(HANDLE target, uint32_t first, uint64_t size, bool noChain, bool passAllocated);
  // The formatted scans' recovery: a new target, written with WriteClusters, deleted again
  // when it fails.
  int32_t RecoverByClusters(const wchar_t* targetRoot, uint64_t id, const wchar_t* relativePath, bool eachCluster);
  std::wstring TargetPath(const wchar_t* targetRoot, const wchar_t* relativePath);
  // The file of that id being recovered: entries sharing a first cluster (a deleted file
  // whose clusters a later one took) are told apart by the name the path ends with.
  CFileEntry* RecoveredEntry(uint64_t id, const wchar_t* relativePath);
  std::wstring ShortText(const uint8_t* entry) const;
  // The id of an empty file: its own, never a cluster's (cluster 0 is the FAT12/16 root).
  uint64_t EmptyFileId() { return (uint64_t(1) << 32) | m_emptyFiles++; }

  std::unique_ptr<CFATService> m_service;
  std::vector<uint8_t> m_allocated;
  std::vector<uint8_t> m_visited;
  uint32_t m_limit = 0;
  std::wstring m_label;
  FatDirRecord* m_pending = nullptr;
  // Deleted records that begin inside a name (a short entry or a run first): what a run
  // cut at the end of another directory may continue in.
  FatDirRecord* m_heads = nullptr;
  CListData<unsigned int> m_runBuckets[256];   // pending runs by checksum
  CListData<unsigned int> m_headBuckets[256];  // heads with a leading run by checksum
  Core::CharSetTransferFn m_charset = nullptr;
  void* m_charsetContext = nullptr;
  bool m_formatted = false;
  uint32_t m_emptyFiles = 0;
  std::atomic<int32_t> m_finishEntered{0};
};

class CStorage::CFATScanFormattedTask : public CStorage::CFATScanTask {
 public:
  explicit CFATScanFormattedTask(const TaskParams& params);
  int32_t OnRecordFound(const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh, uint32_t parentLow,
                        uint32_t parentHigh, uint32_t sizeLow, uint32_t sizeHigh, uint32_t timeLow, uint32_t timeHigh,
                        uint32_t attributes, int32_t deleted, int32_t progress) override;
  int32_t RecoverOneFile(const wchar_t* targetRoot, uint64_t id, const wchar_t* relativePath) override;
  void WorkFinishRoutine(int32_t value) override;

 protected:
  // Parses the collected cluster (if any) as a deleted directory record.
  virtual void ParseCollected();
  // dotEntriesName: a cluster that begins with "." and ".." holds its own folder's entries.
  void ParseCollectedCluster(bool dotEntriesName);
  std::vector<uint8_t> m_clusterBuffer;  // 128 KB; exFAT: two clusters
  uint32_t m_collecting = 0;             // cluster being collected, 0 = none
};

class CExFATScanFormattedTask : public CStorage::CFATScanFormattedTask {
 public:
  explicit CExFATScanFormattedTask(const TaskParams& params);
  ~CExFATScanFormattedTask() override;
  int32_t ScanVolume(void* charsetContext, Core::FatVolumeValues* values, uint32_t bootLength) override;
  int32_t ParseDirectory(FatDirRecord* record, bool deleted) override;
  int32_t ReadChain(uint64_t parentId, uint32_t firstCluster, bool deleted) override;
  void LinkSplitRecord(FatDirRecord* record) override;
  // Sets cut at a directory's end joined with what continues them elsewhere, by the
  // set's own checksum.
  void ResolvePendingRecords() override;
  void JoinDeletedRecords() override {}
  int32_t OnRecordFound(const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh, uint32_t parentLow,
                        uint32_t parentHigh, uint32_t sizeLow, uint32_t sizeHigh, uint32_t timeLow, uint32_t timeHigh,
                        uint32_t attributes, int32_t deleted, int32_t progress) override;
  int32_t RecoverOneFile(const wchar_t* targetRoot, uint64_t id, const wchar_t* relativePath) override;
  CFileEntry* GetEntryById(uint64_t id) override;
  CFileEntry* MergeSameId(CFileEntry** cell, CFileEntry* entry) override;

 protected:
  void ParseCollected() override;
  // Reads a directory stream: its FAT chain, or (noChain) length bytes of consecutive clusters.
  int32_t ReadStream(uint64_t parentId, uint32_t firstCluster, bool deleted, bool noChain, uint64_t length);
  // Reports one entry set: file entry (null for a set whose file entry is lost: then
  // deleted, attribute 0x20, no time), stream, names; a folder is walked. The running flag.
  int32_t ReportSet(const uint8_t* file, const uint8_t* stream, const uint8_t* names, uint32_t nameEntries,
                    uint64_t parentId, bool walkDeleted);
};

// Workers: one thread that runs the core's FAT routine, guarded, then finishes the task.
class CFATFormattedWorker : public IVolumeWorker {
 public:
  CFATFormattedWorker(CStorage* storage, CStorage::CScanTask* task, bool callScanInit = true)
      : IVolumeWorker(storage, task), m_callScanInit(callScanInit) {}
  // The volume callback handed to the core.
  static int __cdecl VolumeCallback(void* worker, void* charsetContext, Core::FatVolumeValues* values,
                                    uint32_t bootLength);

 protected:
  DWORD Run() override;

 private:
  bool m_callScanInit;
};

class CExFATFormattedWorker : public CFATFormattedWorker {
 public:
  CExFATFormattedWorker(CStorage* storage, CStorage::CScanTask* task) : CFATFormattedWorker(storage, task, false) {}
};

// Builders of the FAT and exFAT tasks with their workers; 0 or -8.
int32_t BuildFatScanTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task);
int32_t BuildFatScanFormattedTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task);
int32_t BuildExFatScanTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task);
