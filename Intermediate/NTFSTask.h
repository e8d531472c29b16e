// The NTFS scan: the record parser that turns MFT file records into tree entries,
// data-run records and reparse links, the finishing pass that names and places what
// the walk left over, and the link pass.
#pragma once
#include <windows.h>

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "Interface.h"

// What the core hands to the record parser and takes back in NTFSReadVirtualMFT.
struct NtfsRecordBlock {
  uint64_t recordNumber;
  uint64_t recordCount;
  uint32_t recordSize;  // only the low 16 bits count
  uint32_t bytesPerCluster;
  void* task;
  void* reserved;
  uint8_t* buffer;  // the record as it lies on disk
};
static_assert(sizeof(void*) != 4 || sizeof(NtfsRecordBlock) == 40, "record block layout");

namespace Ntfs {

constexpr uint32_t kSectorBytes = 512;
constexpr uint32_t kMaxRecordBytes = 0xFFFF;
constexpr uint32_t kEndMarker = 0xFFFFFFFF;
constexpr uint32_t kStandardInformation = 0x10;
constexpr uint32_t kFileName = 0x30;
constexpr uint32_t kData = 0x80;
constexpr uint32_t kReparsePoint = 0xC0;
constexpr uint16_t kRecordInUse = 0x1;
constexpr uint16_t kRecordDirectory = 0x2;

// Header checks shared by every reader of raw records: "FILE", an update sequence of
// size / 512 + 1 words lying before the first attribute, a first attribute inside the
// record. No fixup has been applied yet.
bool RecordHeaderOk(const uint8_t* record, uint32_t recordSize);
// The header checks plus those of a record read by number: its own number (when the
// header has one) and its allocated size must match.
bool RecordMatches(const uint8_t* record, uint32_t recordSize, uint64_t number);
// Puts the saved words back at each sector end; false at the first sector whose check
// word differs (the record is torn and must not be used).
bool ApplyFixups(uint8_t* record, uint32_t recordSize);

// NTFS time (100 ns since 1601) to Unix seconds, unsigned: times before 1970 wrap to
// huge values, which hosts rely on.
uint64_t FileTimeToUnix(uint64_t fileTime);

}  // namespace Ntfs

class CNTFSCompressedStream;

class CStorage::CNTFSScanTask : public CStorage::CScanTask {
 public:
  explicit CNTFSScanTask(const TaskParams& params);
  ~CNTFSScanTask() override;

  void PostScan() override;
  // The finishing pass; value is the record block (as the finish callback passes it),
  // 0 when the walk ended without one.
  void WorkFinishRoutine(int32_t value) override;
  CFileEntry* FillPlaceholder(CFileEntry** cell, const wchar_t* name, uint32_t kind, uint64_t id, uint64_t parentId,
                              uint64_t size, uint32_t time1, uint32_t time2, uint32_t attributes) override;
  CFileEntry* MergeSameId(CFileEntry** cell, CFileEntry* entry) override;
  // A further long name of a file in the folder of a name already seen is a hard link
  // of its own (the base keeps only one name per folder, for short-name pairs).
  int32_t AddScannedEntry(const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh, uint32_t parentLow,
                          uint32_t parentHigh, uint32_t sizeLow, uint32_t sizeHigh, uint32_t timeLow,
                          uint32_t timeHigh, uint32_t attributes, int32_t deleted, int32_t progress) override;
  // Recovery is not built for NTFS yet: both answer that it is not supported (a target
  // without its trailing '/' is still refused as the host expects).
  int32_t RecoverFile(int32_t mode, int32_t count, const wchar_t* folder, const wchar_t* names,
                      const int32_t* sources) override;
  int32_t RecoverFileByID(int32_t count, const wchar_t* target, const RecoverIdItem* items) override;

  // Used by recovery: copy an extent's clusters, plain or compressed, to the target.
  virtual int32_t ReadPlainRuns(uint64_t extentBytes, const uint8_t* runs, uint32_t runBytes, HANDLE target,
                                uint32_t clusterSize);
  virtual int32_t ReadCompressedRuns(uint32_t unitSize, const uint8_t* runs, uint32_t runBytes, uint32_t clusterSize,
                                     CNTFSCompressedStream* stream);
  // 1 when buffer (at least the block's record size) holds the valid record of that
  // number, fixups applied; the cache keeps the number last read successfully.
  virtual int32_t ReadMftRecord(NtfsRecordBlock* block, uint64_t* cache, uint32_t numberLow, uint32_t numberHigh,
                                uint8_t* buffer);
  virtual void HandleLinker();

  // The record parser handed to the core; the task's running flag.
  static int __cdecl OnFileRecord(NtfsRecordBlock* block);
  int32_t ParseFileRecord(const NtfsRecordBlock& block);

  // Takes the entry of the id out of the tree, its lists and its type record.
  void RemoveEntryById(uint64_t id);

  // The volume's drive letter (0 = none), against which absolute links are resolved.
  void SetDriveLetter(wchar_t letter) { m_driveLetter = letter; }
  wchar_t DriveLetter() const { return m_driveLetter; }
  void* PartitionHandle() const { return m_partitionHandle; }
  void* DiskContext() const { return m_diskContext; }
  // True once the finishing pass has run (it runs once per task).
  bool FinishDone() const { return m_finishEntered.load() != 0; }

 protected:
  // Parses a record whose fixups are applied; the entry id and deleted state as the
  // header gives them.
  void ParseAttributes(const uint8_t* record, uint32_t size, const NtfsRecordBlock& block);
  void OnDataAttribute(const uint8_t* attribute, uint32_t length, bool resident, uint64_t entryId,
                       uint64_t recordNumber, uint16_t recordFlags, bool hasBase, bool deleted,
                       uint32_t bytesPerCluster);
  void OnReparseAttribute(const uint8_t* value, uint32_t length, uint64_t entryId);
  // One pass of the finishing pass over source's children; the number of records read again.
  uint32_t ReinitializeChildren(CPathEntry* source, NtfsRecordBlock* block);
  CPathEntry* ResolveLinkStart(CFileEntry* entry, const wchar_t*& rest);

  wchar_t m_driveLetter = 0;
  std::atomic<int32_t> m_finishEntered{0};
  std::vector<uint8_t> m_record;    // the record being parsed (walk thread only)
  std::vector<uint8_t> m_reread;    // records read again in the finishing pass
  uint64_t m_rereadCache = kNoEntryId;
  std::unordered_set<uint64_t> m_rereadIds;  // each record is read again at most once
};

class CStorage::CNTFSScanFormattedTask : public CStorage::CNTFSScanTask {
 public:
  using CNTFSScanTask::CNTFSScanTask;
};
