// The NTFS scan: the record parser that turns MFT file records into tree entries,
// data-run records and reparse links, the finishing pass that names and places what
// the walk left over, and the link pass.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Interface.h"
#include "LittleEndian.h"
#include "NtfsLayout.h"

// What the core hands to the record parser and takes back in NTFSReadVirtualMFT.
struct NtfsRecordBlock {
  uint64_t recordNumber;
  uint64_t recordCount;
  uint32_t recordSize;  // only the low 16 bits count
  uint32_t bytesPerCluster;
  void* task;
  void* reserved;
  uint8_t* buffer;  // the record as it lies on disk
  // The number that the record's place in the volume's current $MFT gives, plus one;
  // 0 when the core does not know it (a formatted walk finds records anywhere).
  uint32_t placeNumber = 0;
};
static_assert(sizeof(void*) != 4 || sizeof(NtfsRecordBlock) == 40, "record block layout");

namespace Ntfs {

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

// One well-formed attribute of a record: its whole header and body, and for a resident
// one its value (empty when the value does not lie inside the attribute).
struct Attribute {
  uint32_t type = 0;
  ByteView header;
  bool nonResident = false;
  uint8_t nameLength = 0;
  ByteView value;
};
// Calls visit for each attribute of a record whose fixups are applied, in order, until
// the end marker, the record's used bytes, the first malformed attribute, or a false
// answer.
void ForEachAttribute(const uint8_t* record, uint32_t size, const std::function<bool(const Attribute&)>& visit);

}  // namespace Ntfs


// Writes a compressed NTFS file unit by unit: the clusters of one compression unit are
// gathered (sparse ones only counted), then the unit is written raw when all of its
// clusters are stored, expanded with LZNT1 when fewer are, and as zeros when none are.
class CNTFSCompressedStream {
 public:
  CNTFSCompressedStream(const wchar_t* name, uint32_t unitSize, uint32_t idLow, uint32_t idHigh, HANDLE target,
                        uint32_t sizeLow, uint32_t sizeHigh);
  virtual ~CNTFSCompressedStream();
  CNTFSCompressedStream(const CNTFSCompressedStream&) = delete;
  CNTFSCompressedStream& operator=(const CNTFSCompressedStream&) = delete;

  // False when the unit buffers could not be had.
  bool Valid() const { return m_unit && m_output && m_unitSize != 0; }
  // Adds length bytes of the unit sequence; null bytes stand for sparse clusters. 0, the
  // negated Windows error of a failed write, or -605 when a unit does not expand.
  int32_t AppendData(const uint8_t* bytes, uint32_t length);
  // Completes a partly gathered last unit with sparse clusters and writes it.
  int32_t Finish();
  // File bytes not written yet.
  uint64_t Remaining() const { return m_remaining; }
  // Bytes of the unit sequence still taken before the file's last unit is complete.
  uint64_t UnitBytesLeft() const;
  // Every byte handed to AppendData so far (stored or sparse, past the end too): what
  // the runs of a file cost.
  uint64_t BytesTaken() const { return m_taken; }

 private:
  int32_t WriteUnit();

  uint64_t m_fileId;
  const wchar_t* m_name;
  uint64_t m_remaining;
  std::unique_ptr<uint8_t[]> m_unit;
  std::unique_ptr<uint8_t[]> m_output;
  HANDLE m_target;
  uint32_t m_unitSize;
  uint32_t m_stored = 0;
  uint32_t m_accounted = 0;
  uint64_t m_taken = 0;
};

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
  // Writes the file of the id to target root + relative path: 0, -8, -1 (a host record
  // cannot be read), -1392 (no data attribute, data that does not cover the file, or
  // runs that claim more than their extent), -1393 (an extent that does not follow the
  // one before), -30 (a partition read failed), -605 (a unit does not expand) or the
  // negated Windows error of the target file.
  int32_t RecoverOneFile(const wchar_t* targetRoot, uint64_t id, const wchar_t* relativePath) override;

  // Used by recovery: copy an extent's clusters, plain or compressed, to the target.
  // Plain: extentBytes are written (sparse runs as zeros); 0 or a negative error.
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

  // The volume's own files: records 0-15 but the root, and what is named only inside
  // them ($Extend's children). They never enter the tree.
  bool IsSystemRecord(uint64_t id) const;
  bool NamedOnlyInSystemFolders(const uint8_t* record, uint32_t size) const;
  // Whether a $FILE_NAME of the record gives a name that is not empty in that folder.
  bool HasUsableNameIn(const uint8_t* record, uint32_t size, uint64_t parent) const;
  // A base record that has an $ATTRIBUTE_LIST: the extension records it owns.
  void NoteAttributeList(const uint8_t* record, uint32_t size, const NtfsRecordBlock& block);
  // The bytes of a non-resident $ATTRIBUTE_LIST; false when they cannot be read whole.
  bool ReadNonResidentList(const Ntfs::Attribute& list, uint32_t clusterSize, std::vector<uint8_t>& out);
  // An extension record counts only for the base record that owns it; one whose base
  // has not been seen yet waits for the finishing pass.
  bool AcceptExtension(const uint8_t* record, uint32_t size, const NtfsRecordBlock& block, uint64_t base,
                       uint16_t baseSequence);
  // Formatted walks: a record whose place contradicts its number waits for the end, and
  // a number is taken by one record only.
  bool ClaimNumber(const NtfsRecordBlock& block);

  // A record set aside (fixups applied) until what decides about it is known.
  struct HeldRecord {
    uint64_t number;  // the number it is parsed under
    uint64_t place;   // a misplaced record's place in $MFT
    NtfsRecordBlock block;
    std::vector<uint8_t> bytes;
  };
  // A copy of the record to hold; false when the held records already fill their cap.
  bool MakeHeld(HeldRecord& held, const uint8_t* record, uint32_t size, const NtfsRecordBlock& block, uint64_t place);
  void ParseHeld(HeldRecord& held);

  // Phases of the finishing pass.
  void ParseHeldRecords();
  void RereadPlaceholders(NtfsRecordBlock* block);
  void ReturnFilesToTheirFolders();
  void NameTheNameless();
  void InstallRoot();

  struct ListOwner {
    uint16_t sequence = 0;
    bool inUse = false;
    bool listKnown = false;            // the list could be read: its extension records are known
    std::vector<uint64_t> extensions;  // record numbers the list names
  };
  bool m_ownNumbersMayRepeat = false;
  std::unordered_set<uint64_t> m_systemIds;
  std::unordered_map<uint64_t, ListOwner> m_listOwners;
  std::unordered_multimap<uint64_t, HeldRecord> m_heldExtensions;  // by the base they name
  std::vector<HeldRecord> m_heldMisplaced;
  size_t m_heldBytes = 0;
  std::unordered_set<uint64_t> m_claimedNumbers;

  wchar_t m_driveLetter = 0;
  std::atomic<int32_t> m_finishEntered{0};
  std::vector<uint8_t> m_record;    // the record being parsed (walk thread only)
  std::vector<uint8_t> m_reread;    // records read again in the finishing pass
  uint64_t m_rereadCache = kNoEntryId;
  std::unordered_set<uint64_t> m_rereadIds;  // each record is read again at most once
  // The core's record block of the walk, kept for the record reads of recovery.
  std::atomic<NtfsRecordBlock*> m_recordBlock{nullptr};
};

// A formatted volume's records are found anywhere on it, so two of them can claim
// one number.
class CStorage::CNTFSScanFormattedTask : public CStorage::CNTFSScanTask {
 public:
  explicit CNTFSScanFormattedTask(const TaskParams& params) : CNTFSScanTask(params) { m_ownNumbersMayRepeat = true; }
};
