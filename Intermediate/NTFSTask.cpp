// The NTFS scan task: record header checks and fixups, the attribute walk, the record
// parser that builds entries, the finishing pass over what the walk left, the link pass.
#include "NTFSTask.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <functional>
#include <string>

#include "CoreLibrary.h"
#include "Enumeration.h"
#include "LittleEndian.h"
#include "NtfsRuns.h"
#include "UniqueRes.h"

namespace {

// Text of `bytes` bytes of UTF-16 at p (any alignment), terminated.
std::wstring WideFrom(const uint8_t* p, uint32_t bytes) {
  std::wstring text(bytes / 2, L'\0');
  for (uint32_t i = 0; i < bytes / 2; ++i) text[i] = wchar_t(U16(p + 2 * i));
  return text;
}

constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

// Records below this number are the volume's own files.
constexpr uint64_t kFirstUserRecord = 16;
// Records set aside until their base record or the walk's end decides on them.
constexpr size_t kMaxHeldBytes = 16u << 20;
// An attribute list longer than this is not read (a list entry per extent of a file).
constexpr uint64_t kMaxListBytes = 1u << 20;

// The sequence number that freeing a record with this one leaves behind (0 stays 0,
// 0xFFFF wraps to 1): a deleted base record is one ahead of its extension records.
uint16_t SequenceAfterFree(uint16_t sequence) {
  if (sequence == 0xFFFF) return 1;
  return sequence ? uint16_t(sequence + 1) : 0;
}

uint64_t ReferenceNumber(const uint8_t* p) { return uint64_t(U32(p)) | uint64_t(U16(p + 4)) << 32; }

}  // namespace

namespace Ntfs {

bool RecordHeaderOk(const uint8_t* record, uint32_t recordSize) {
  if (!record || recordSize < kSectorBytes || recordSize > kMaxRecordBytes) return false;
  if (std::memcmp(record, "FILE", 4) != 0) return false;
  const uint32_t usaOffset = U16(record + kRecordUsaOffset);
  const uint32_t usaCount = U16(record + kRecordUsaCount);
  const uint32_t first = U16(record + kRecordFirstAttribute);
  if (usaCount != recordSize / kSectorBytes + 1) return false;
  if (usaOffset < kRecordUsaCount + 2 || (usaOffset & 1) != 0 || usaOffset >= first) return false;
  // The whole array lies in the header, before the first attribute.
  if (usaCount > (first - usaOffset) / 2) return false;
  if (first >= recordSize) return false;
  return true;
}

bool RecordMatches(const uint8_t* record, uint32_t recordSize, uint64_t number) {
  if (!RecordHeaderOk(record, recordSize)) return false;
  const uint32_t first = U16(record + kRecordFirstAttribute);
  if (first > kRecordOwnNumberSince && (U32(record + kRecordOwnNumber) != uint32_t(number) || (number >> 32) != 0))
    return false;
  if (U32(record + kRecordAllocatedSize) != recordSize) return false;
  return true;
}

bool ApplyFixups(uint8_t* record, uint32_t recordSize) {
  if (!RecordHeaderOk(record, recordSize)) return false;
  const uint32_t usaOffset = U16(record + kRecordUsaOffset);
  const uint32_t usaCount = U16(record + kRecordUsaCount);
  const uint16_t check = U16(record + usaOffset);
  // Check every sector before changing any, so that a torn record stays as it was read.
  for (uint32_t i = 1; i < usaCount; ++i) {
    if (U16(record + i * kSectorBytes - 2) != check) return false;
  }
  for (uint32_t i = 1; i < usaCount; ++i) PutU16(record + i * kSectorBytes - 2, U16(record + usaOffset + 2 * i));
  return true;
}

uint64_t FileTimeToUnix(uint64_t fileTime) { return (fileTime - kUnixEpochAsFileTime) / 10000000ull; }

void ForEachAttribute(const uint8_t* record, uint32_t size, const std::function<bool(const Attribute&)>& visit) {
  if (!record || size < kRecordFirstAttribute + 2) return;
  // Attributes end where the record's used bytes end, and never past the record.
  const uint32_t used = U32(record + kRecordUsedSize);
  const uint32_t limit = used < size ? used : size;
  uint32_t offset = U16(record + kRecordFirstAttribute);
  while (offset < limit && limit - offset >= 4) {
    const uint8_t* a = record + offset;
    const uint32_t type = U32(a + kAttrType);
    if (type == kEndMarker) break;
    if (limit - offset < kAttrCommonBytes) break;
    const uint32_t length = U32(a + kAttrLength);
    const uint8_t nonResident = a[kAttrNonResident];
    if (nonResident > 1) break;
    const uint32_t header = nonResident ? kNonResidentHeaderBytes : kResidentHeaderBytes;
    // A length below its header would never move on: the record ends here.
    if (length < header || length > limit - offset) break;
    if ((offset & 7) != 0 || (length & 7) != 0 || (type & 15) != 0 || type > kMaxAttributeType) break;
    Attribute attribute;
    attribute.type = type;
    attribute.header = ByteView{a, length};
    attribute.nonResident = nonResident != 0;
    attribute.nameLength = a[kAttrNameLength];
    if (!nonResident) {
      const uint32_t valueLength = U32(a + kResidentValueLength);
      const uint32_t valueOffset = U16(a + kResidentValueOffset);
      if (valueOffset <= length && valueLength <= length - valueOffset)
        attribute.value = ByteView{a + valueOffset, valueLength};
    }
    if (!visit(attribute)) break;
    offset += length;
  }
}

}  // namespace Ntfs

// ---------------------------------------------------------------------------------
// Task

CStorage::CNTFSScanTask::CNTFSScanTask(const TaskParams& params) : CScanTask(params) {
  SetRootId(5);
  // The drive letter of the partition, for links that name a drive.
  DiskRecord disk = params.diskRecord;
  if (params.partition > 0 && disk.diskContext) {
    PartitionRecord records[16] = {};
    int found = 0;
    if (Core::EnumPartitions(&disk, 0, 16, records, &found).value_or(-1) == 0) {
      for (int i = 0; i < found && i < 16; ++i) {
        if (records[i].Number() == params.partition && records[i].DriveLetter())
          m_driveLetter = wchar_t(records[i].DriveLetter());
      }
    }
  }
}

CStorage::CNTFSScanTask::~CNTFSScanTask() = default;

int __cdecl CStorage::CNTFSScanTask::OnFileRecord(NtfsRecordBlock* block) {
  if (!block || !block->task) return 0;
  auto* task = static_cast<CNTFSScanTask*>(static_cast<CScanTask*>(block->task));
  // Recovery reads records through the core's block; a walk that ends in a fault never
  // hands it to the finish callback.
  NtfsRecordBlock* none = nullptr;
  task->m_recordBlock.compare_exchange_strong(none, block);
  return task->ParseFileRecord(*block);
}

int32_t CStorage::CNTFSScanTask::ParseFileRecord(const NtfsRecordBlock& block) {
  const uint32_t size = block.recordSize & 0xFFFF;
  if (!block.buffer || size < Ntfs::kSectorBytes) return m_running.load();
  // The core's buffer stays as it was handed over; fixups go into a copy.
  if (m_record.size() < size) m_record.resize(size);
  std::memcpy(m_record.data(), block.buffer, size);
  if (!Ntfs::ApplyFixups(m_record.data(), size)) return m_running.load();
  if (m_ownNumbersMayRepeat && !ClaimNumber(block)) return m_running.load();
  ParseAttributes(m_record.data(), size, block);
  return m_running.load();
}

bool CStorage::CNTFSScanTask::ClaimNumber(const NtfsRecordBlock& block) {
  const uint64_t number = block.recordNumber;
  if (block.placeNumber != 0 && uint64_t(block.placeNumber) - 1 != number) {
    // It lies where $MFT keeps another number: it counts only when no record claims its
    // number from its own place.
    HeldRecord held;
    if (MakeHeld(held, m_record.data(), block.recordSize & 0xFFFF, block, uint64_t(block.placeNumber) - 1)) {
      m_heldMisplaced.push_back(std::move(held));
    } else {
      CORE_LOG(Core::kLogWarning, "CStorage::CNTFSScanTask::ClaimNumber",
               "Record at MFT place %llu claims number %llu: too many such records, left out",
               static_cast<unsigned long long>(block.placeNumber - 1), static_cast<unsigned long long>(number));
    }
    return false;
  }
  if (m_claimedNumbers.insert(number).second) return true;
  // $MFTMirr holds copies of the first records: no news.
  if (number < kFirstUserRecord) return false;
  CORE_LOG(Core::kLogWarning, "CStorage::CNTFSScanTask::ClaimNumber",
           "Record %llu found once more at another place: left out", static_cast<unsigned long long>(number));
  return false;
}

bool CStorage::CNTFSScanTask::MakeHeld(HeldRecord& held, const uint8_t* record, uint32_t size,
                                       const NtfsRecordBlock& block, uint64_t place) {
  if (size > kMaxHeldBytes - std::min(m_heldBytes, kMaxHeldBytes) || AllocationShouldFail()) return false;
  held.number = block.recordNumber;
  held.place = place;
  held.block = block;
  held.bytes.assign(record, record + size);
  held.block.buffer = nullptr;
  held.block.placeNumber = 0;
  m_heldBytes += size;
  return true;
}

void CStorage::CNTFSScanTask::ParseHeld(HeldRecord& held) {
  m_heldBytes -= std::min(m_heldBytes, held.bytes.size());
  held.block.recordNumber = held.number;
  held.block.buffer = held.bytes.data();
  ParseAttributes(held.bytes.data(), uint32_t(held.bytes.size()), held.block);
  std::vector<uint8_t>().swap(held.bytes);
}

bool CStorage::CNTFSScanTask::IsSystemRecord(uint64_t id) const {
  return (id < kFirstUserRecord && id != m_rootId) || m_systemIds.count(id) != 0;
}

bool CStorage::CNTFSScanTask::NamedOnlyInSystemFolders(const uint8_t* record, uint32_t size) const {
  uint32_t names = 0;
  uint32_t system = 0;
  Ntfs::ForEachAttribute(record, size, [&](const Ntfs::Attribute& a) {
    if (a.type != Ntfs::kFileName || a.nonResident || !a.value.Has(0, Ntfs::kNameText)) return true;
    const uint64_t parent = ReferenceNumber(a.value.p + Ntfs::kNameParent);
    ++names;
    // A parent of 0 stands for the root.
    if (parent != 0 && IsSystemRecord(parent)) ++system;
    return true;
  });
  return names > 0 && system == names;
}

bool CStorage::CNTFSScanTask::HasUsableNameIn(const uint8_t* record, uint32_t size, uint64_t parent) const {
  bool found = false;
  Ntfs::ForEachAttribute(record, size, [&](const Ntfs::Attribute& a) {
    if (a.type != Ntfs::kFileName || a.nonResident || !a.value.Has(0, Ntfs::kNameText + 2)) return true;
    const uint32_t chars = a.value.p[Ntfs::kNameChars];
    found = chars != 0 && a.value.Has(Ntfs::kNameText, chars * 2) && U16(a.value.p + Ntfs::kNameText) != 0 &&
            ReferenceNumber(a.value.p + Ntfs::kNameParent) == parent;
    return !found;
  });
  return found;
}

namespace {

// The record numbers that $ATTRIBUTE_LIST entries name, but the list's own record, sorted.
void ListedRecords(ByteView list, uint64_t self, std::vector<uint64_t>& out) {
  for (uint32_t at = 0; list.Has(at, Ntfs::kListEntryMinBytes);) {
    const uint32_t length = U16(list.p + at + Ntfs::kListLength);
    if (length < Ntfs::kListEntryMinBytes || !list.Has(at, length)) break;
    const uint64_t named = ReferenceNumber(list.p + at + Ntfs::kListReference);
    if (named != self) out.push_back(named);
    at += length;
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
}

}  // namespace

bool CStorage::CNTFSScanTask::ReadNonResidentList(const Ntfs::Attribute& list, uint32_t clusterSize,
                                                  std::vector<uint8_t>& out) {
  const uint8_t* h = list.header.p;
  const uint64_t bytes = U64(h + Ntfs::kDataSize);
  const uint32_t runOffset = U16(h + Ntfs::kRunListOffset);
  if (bytes == 0 || bytes > kMaxListBytes || clusterSize == 0 || runOffset < Ntfs::kNonResidentHeaderBytes ||
      runOffset > list.header.n || !m_partitionHandle)
    return false;
  out.assign(size_t(bytes), 0);
  Ntfs::RunReader runs(h + runOffset, list.header.n - runOffset);
  Ntfs::Run run;
  uint64_t done = 0;
  while (done < bytes && runs.Next(&run)) {
    uint64_t at = 0;
    if (run.sparse || run.lcn < 0 || run.clusters > kMaxListBytes / clusterSize ||
        !le::MulU64(uint64_t(run.lcn), clusterSize, at))
      return false;
    const uint32_t piece = uint32_t(std::min<uint64_t>(run.clusters * clusterSize, bytes - done));
    const int got = Core::ReadPartition(m_partitionHandle, m_diskContext, at, piece, out.data() + done).value_or(0);
    if (got != int(piece)) return false;
    done += piece;
  }
  return done == bytes;
}

void CStorage::CNTFSScanTask::NoteAttributeList(const uint8_t* record, uint32_t size, const NtfsRecordBlock& block) {
  const uint64_t number = block.recordNumber;
  bool found = false;
  ListOwner owner;
  owner.sequence = U16(record + Ntfs::kRecordSequence);
  owner.inUse = (U16(record + Ntfs::kRecordFlags) & Ntfs::kRecordInUse) != 0;
  Ntfs::ForEachAttribute(record, size, [&](const Ntfs::Attribute& a) {
    if (a.type != Ntfs::kAttributeList || a.nameLength != 0) return true;
    found = true;
    if (!a.nonResident) {
      owner.listKnown = a.value.p != nullptr;
      ListedRecords(a.value, number, owner.extensions);
    } else {
      // A long list lies in clusters of its own.
      std::vector<uint8_t> bytes;
      owner.listKnown = ReadNonResidentList(a, block.bytesPerCluster, bytes);
      if (owner.listKnown) ListedRecords(ByteView{bytes.data(), uint32_t(bytes.size())}, number, owner.extensions);
    }
    return false;
  });
  if (!found) return;
  m_listOwners[number] = std::move(owner);
  // Extension records that came before their base.
  auto range = m_heldExtensions.equal_range(number);
  std::vector<HeldRecord> waiting;
  for (auto it = range.first; it != range.second; ++it) waiting.push_back(std::move(it->second));
  m_heldExtensions.erase(range.first, range.second);
  for (HeldRecord& held : waiting) ParseHeld(held);
}

bool CStorage::CNTFSScanTask::AcceptExtension(const uint8_t* record, uint32_t size, const NtfsRecordBlock& block,
                                              uint64_t base, uint16_t baseSequence) {
  const uint64_t number = block.recordNumber;
  auto owner = m_listOwners.find(base);
  if (owner == m_listOwners.end()) {
    if (!FinishDone()) {
      HeldRecord held;
      if (MakeHeld(held, record, size, block, 0)) {
        m_heldExtensions.emplace(base, std::move(held));
        return false;
      }
    }
    CORE_LOG(Core::kLogWarning, "CStorage::CNTFSScanTask::AcceptExtension",
             "Extension record %llu names base record %llu, which lists no extension records: left out",
             static_cast<unsigned long long>(number), static_cast<unsigned long long>(base));
    return false;
  }
  const ListOwner& o = owner->second;
  const bool sequence = baseSequence == o.sequence || (!o.inUse && SequenceAfterFree(baseSequence) == o.sequence);
  const bool listed =
      !o.listKnown || std::binary_search(o.extensions.begin(), o.extensions.end(), number);
  if (sequence && listed) return true;
  CORE_LOG(Core::kLogWarning, "CStorage::CNTFSScanTask::AcceptExtension",
           "Extension record %llu names base record %llu sequence %u, which does not own it: left out",
           static_cast<unsigned long long>(number), static_cast<unsigned long long>(base), unsigned(baseSequence));
  return false;
}

void CStorage::CNTFSScanTask::ParseAttributes(const uint8_t* record, uint32_t size, const NtfsRecordBlock& block) {
  const uint16_t flags = U16(record + Ntfs::kRecordFlags);
  const uint64_t base = ReferenceNumber(record + Ntfs::kRecordBaseNumber);
  const uint16_t baseSequence = U16(record + Ntfs::kRecordBaseSequence);
  // A reference with number 0 but a sequence (an extension record of $MFT) still names
  // record 0 as its base.
  const bool hasBase = base != 0 || baseSequence != 0;
  const uint64_t entryId = hasBase ? base : block.recordNumber;
  if (IsSystemRecord(entryId)) return;
  if (hasBase) {
    if (!AcceptExtension(record, size, block, base, baseSequence)) return;
  } else if (NamedOnlyInSystemFolders(record, size)) {
    m_systemIds.insert(entryId);
    return;
  } else {
    NoteAttributeList(record, size, block);
  }
  const uint64_t progress =
      block.recordCount ? std::min<uint64_t>(block.recordNumber * 10000ull / block.recordCount, 10000) : 0;
  // Without standard information a record stays deleted, except an extension record in
  // use: its file is live, and its names must not show as deleted.
  bool deleted = !(hasBase && (flags & Ntfs::kRecordInUse) != 0);

  Ntfs::ForEachAttribute(record, size, [&](const Ntfs::Attribute& attribute) {
    const uint8_t* a = attribute.header.p;
    const uint32_t length = attribute.header.n;
    const bool nonResident = attribute.nonResident;
    const uint8_t nameLength = attribute.nameLength;
    const ByteView& value = attribute.value;
    switch (attribute.type) {
      case Ntfs::kStandardInformation: {
        deleted = (flags & Ntfs::kRecordInUse) == 0;
        if (CFileEntry** cell = GetIdCell(block.recordNumber)) {
          if (CFileEntry* held = *cell) {
            if (deleted) {
              held->attributes |= kAttrDeleted;
            } else {
              held->attributes &= ~kAttrDeleted;
            }
          }
        }
        break;
      }
      case Ntfs::kFileName: {
        if (nonResident || !value.p || !value.Has(0, Ntfs::kNameText)) break;
        const uint32_t chars = value.p[Ntfs::kNameChars];
        if (!value.Has(Ntfs::kNameText, chars * 2)) break;
        wchar_t name[256];
        for (uint32_t i = 0; i < chars; ++i) name[i] = wchar_t(U16(value.p + Ntfs::kNameText + 2 * i));
        name[chars] = 0;
        uint32_t nameSpace = value.p[Ntfs::kNameSpace];
        const uint32_t nameAttributes = U32(value.p + Ntfs::kNameAttributes);
        const uint64_t parent = ReferenceNumber(value.p + Ntfs::kNameParent);
        if (name[0] == 0) {
          // A name that ends before its first character would make the entry its own
          // folder's path: a usable name of the same folder stands for it, else it is
          // named after its record (as a short name, so that a real one replaces it).
          if (HasUsableNameIn(record, size, parent)) break;
          const bool folder = (flags & Ntfs::kRecordDirectory) != 0 || (nameAttributes & kAttrFolderMask) != 0;
          std::swprintf(name, 256, folder ? L"UnnamedFolder%llu" : L"UnnamedFile%llu",
                        static_cast<unsigned long long>(entryId));
          nameSpace = 2;
        }
        const uint64_t time = Ntfs::FileTimeToUnix(U64(value.p + Ntfs::kNameModified));
        const uint64_t dataSize = U64(value.p + Ntfs::kNameDataSize);
        AddScannedEntry(name, nameSpace, uint32_t(entryId), uint32_t(entryId >> 32), uint32_t(parent),
                        uint32_t(parent >> 32), uint32_t(dataSize), uint32_t(dataSize >> 32), uint32_t(time),
                        uint32_t(time >> 32), nameAttributes, deleted ? 1 : 0, int32_t(progress));
        break;
      }
      case Ntfs::kReparsePoint:
        if (!nonResident && nameLength == 0 && value.p) OnReparseAttribute(value.p, value.n, entryId);
        break;
      case Ntfs::kData:
        if (nameLength == 0 && (nonResident || value.p))
          OnDataAttribute(nonResident ? a : value.p, nonResident ? length : value.n, !nonResident, entryId,
                          block.recordNumber, flags, hasBase, deleted, block.bytesPerCluster);
        break;
      default:
        break;
    }
    return true;
  });
}

void CStorage::CNTFSScanTask::OnReparseAttribute(const uint8_t* value, uint32_t length, uint64_t entryId) {
  ByteView v{value, length};
  if (!v.Has(0, 16)) return;
  uint32_t pathBuffer = 0;
  switch (U32(value)) {
    case 0xA0000003:
      pathBuffer = 16;
      break;
    case 0x80000007:
    case 0x8000000A:
    case 0xA000000C:
    case 0xC0000004:
      pathBuffer = 20;
      break;
    default:
      return;
  }
  if (!v.Has(pathBuffer, 0)) return;
  const ByteView names{value + pathBuffer, length - pathBuffer};
  const uint32_t substituteOffset = U16(value + 8), substituteLength = U16(value + 10);
  const uint32_t printOffset = U16(value + 12), printLength = U16(value + 14);
  if (!names.Has(substituteOffset, substituteLength) || !names.Has(printOffset, printLength)) return;
  std::wstring print = WideFrom(names.p + printOffset, printLength);
  std::wstring substitute = WideFrom(names.p + substituteOffset, substituteLength);
  // An embedded NUL ends a name, as it ends the terminated copy the host would read.
  print.resize(std::wcslen(print.c_str()));
  substitute.resize(std::wcslen(substitute.c_str()));
  if (print.empty()) {
    // Without a print name the substitute name tells the target, less its NT prefix.
    print = substitute.compare(0, 4, L"\\??\\") == 0 ? substitute.substr(4) : substitute;
  }
  // An empty target would resolve to the link's own folder.
  if (print.empty()) return;
  QueueLink(entryId, print.c_str());
}

void CStorage::CNTFSScanTask::OnDataAttribute(const uint8_t* attribute, uint32_t length, bool resident,
                                              uint64_t entryId, uint64_t recordNumber, uint16_t recordFlags,
                                              bool hasBase, bool deleted, uint32_t bytesPerCluster) {
  uint64_t firstVcn = 0;
  uint64_t size = 0;
  if (resident) {
    size = length;
  } else {
    firstVcn = U64(attribute + Ntfs::kFirstVcn);
    const uint64_t lastVcn = U64(attribute + Ntfs::kLastVcn);
    if (firstVcn == 0) {
      size = U64(attribute + Ntfs::kDataSize);
    } else {
      size = lastVcn >= firstVcn ? (lastVcn - firstVcn + 1) * uint64_t(bytesPerCluster) : 0;
    }
  }
  CFileEntry** cell = GetIdCell(entryId);
  if (!cell) return;
  CFileEntry* holder = *cell;
  if (holder) {
    // A record parsed again (the finishing pass) must not add its extent twice.
    const CListData<uint64_t> key(firstVcn);
    CList* same = holder->runList.Find(key);
    for (; same && !holder->runList.IsTail(same); same = same->next) {
      const CDataEntry* run = CDataEntry::FromNode(same);
      if (run->node.value != firstVcn) break;
      if (run->recordNumber == recordNumber) return;
    }
  } else if (!hasBase && (recordFlags & Ntfs::kRecordInUse) == 0) {
    return;
  }
  CDataEntry* run = ArenaNew<CDataEntry>(m_arena, firstVcn, recordNumber, size);
  if (!run) return;
  if (holder) {
    AddDataRun(holder, run);
    return;
  }
  const uint32_t attributes = deleted ? kAttrDeleted : 0;
  CFileEntry* placeholder = nullptr;
  if (recordFlags & Ntfs::kRecordDirectory) {
    placeholder = NewPathEntry(m_arena, attributes | kAttrFolder, L"", 0, NextSequence(), entryId, kNoEntryId, size,
                               0, 0);
  } else {
    placeholder = NewFileEntry(m_arena, attributes, L"", 0, NextSequence(), entryId, kNoEntryId, size, 0, 0);
  }
  if (!placeholder) return;
  *cell = placeholder;
  AddDataRun(placeholder, run);
  AddChild(m_unknownFolder, placeholder);
}

// ---------------------------------------------------------------------------------
// Record re-reads

int32_t CStorage::CNTFSScanTask::ReadMftRecord(NtfsRecordBlock* block, uint64_t* cache, uint32_t numberLow,
                                               uint32_t numberHigh, uint8_t* buffer) {
  const uint64_t number = uint64_t(numberHigh) << 32 | numberLow;
  if (cache && *cache == number) return 1;
  if (!block || !buffer) return 0;
  const uint32_t size = block->recordSize & 0xFFFF;
  if (Core::NTFSReadVirtualMFT(block, number, buffer).value_or(0) <= 0) return 0;
  if (!Ntfs::RecordMatches(buffer, size, number) || !Ntfs::ApplyFixups(buffer, size)) return 0;
  // Only a record that passed is remembered: a failed read must be tried again.
  if (cache) *cache = number;
  return 1;
}

// ---------------------------------------------------------------------------------
// Placeholders and aliases

int32_t CStorage::CNTFSScanTask::AddScannedEntry(const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh,
                                                 uint32_t parentLow, uint32_t parentHigh, uint32_t sizeLow,
                                                 uint32_t sizeHigh, uint32_t timeLow, uint32_t timeHigh,
                                                 uint32_t attributes, int32_t deleted, int32_t progress) {
  const uint64_t id = uint64_t(idHigh) << 32 | idLow;
  uint64_t parentId = uint64_t(parentHigh) << 32 | parentLow;
  if (parentId == 0) parentId = m_rootId;
  const bool folder = (attributes & kAttrFolderMask) != 0;
  CFileEntry** cell = folder || !name || !name[0] || (kind & 3) == 2 ? nullptr : m_idMap.FindCell(id);
  CFileEntry* held = cell ? *cell : nullptr;
  if (!held || held->AsPath() || held == m_unknownFolder || held->parentId != parentId || (held->kind & 3) == 2 ||
      !held->name[0]) {
    return CScanTask::AddScannedEntry(name, kind, idLow, idHigh, parentLow, parentHigh, sizeLow, sizeHigh, timeLow,
                                      timeHigh, attributes, deleted, progress);
  }
  // A name seen before (the record parsed again) changes nothing.
  for (CList* p = &FirstInLinkChain(held)->linkChainNode; p; p = p->next) {
    const CFileEntry* seen = CFileEntry::FromLinkChainNode(p);
    if (seen->parentId == parentId && std::wcscmp(seen->name, name) == 0) {
      WaitWhilePaused();
      return m_running.load();
    }
  }
  m_progress.store(progress);
  if (deleted) attributes |= kAttrDeleted;
  wchar_t* interned = InternName(name);
  const wchar_t* extension = interned ? ExtensionSource(interned) : nullptr;
  if (!interned || !extension) return m_running.load();
  const uint64_t size = uint64_t(sizeHigh) << 32 | sizeLow;
  CFileEntry* alias =
      NewFileEntry(m_arena, attributes, interned, kind, NextSequence(), id, parentId, size, timeLow, timeHigh);
  if (!alias) return m_running.load();
  SetExtensionView(alias, extension);
  ++m_fileCount;
  if (alias->IsDeleted()) ++m_deletedCount;
  CFileEntry* placed = MergeSameId(cell, alias);
  if (placed && id != m_rootId && !FindParentFolder(placed)) PlaceEntry(placed, ParentFolderFor(parentId));
  QueuePending(alias);
  WaitWhilePaused();
  m_lastEntry.store(alias);
  return m_running.load();
}

CFileEntry* CStorage::CNTFSScanTask::FillPlaceholder(CFileEntry** cell, const wchar_t* name, uint32_t kind,
                                                     uint64_t id, uint64_t parentId, uint64_t size, uint32_t time1,
                                                     uint32_t time2, uint32_t attributes) {
  CFileEntry* held = *cell;
  if (CPathEntry* folder = held->AsPath()) {
    if (folder->time1 != 0 || folder->time2 != 0) {
      // Already named: this is a further name of the folder.
      CPathEntry* alias = NewPathEntry(m_arena, attributes | kAttrFolder, name, kind, NextSequence(), id, parentId,
                                       size, time1, time2);
      if (alias) ChainAfter(folder, alias);
      return alias;
    }
    const uint32_t kept = (folder->kind & ~3u) | (kind & 3u);
    RenameEntry(name, folder, kept, folder->sequence, id, parentId, size, time1, time2, attributes | kAttrFolder);
    if (CPathEntry* current = FindParentFolder(folder)) RemoveChild(current, folder);
    return folder;
  }
  // A file holds the folder's id: the file goes to the holding folder, the folder
  // takes the cell.
  if (CPathEntry* current = FindParentFolder(held)) RemoveChild(current, held);
  AddChild(m_unknownFolder, held);
  CPathEntry* folder = NewPathEntry(m_arena, attributes | kAttrFolder, name, kind, NextSequence(), id, parentId, 0,
                                    time1, time2);
  if (folder) *cell = folder;
  return folder;
}

CFileEntry* CStorage::CNTFSScanTask::MergeSameId(CFileEntry** cell, CFileEntry* entry) {
  CFileEntry* held = *cell;
  if (held->AsPath()) {
    // A folder keeps the id; the file waits in the holding folder for the finishing pass.
    AddChild(m_unknownFolder, entry);
    return entry;
  }
  ChainAfter(held, entry);
  return entry;
}

// ---------------------------------------------------------------------------------
// Finishing pass

uint32_t CStorage::CNTFSScanTask::ReinitializeChildren(CPathEntry* source, NtfsRecordBlock* block) {
  CListGroup folders;
  CListGroup files;
  std::unordered_set<uint64_t> fileIds;
  CListGroup& children = source->childList;
  for (CList* p = children.First(); p && !children.IsTail(p); p = p->next) {
    CFileEntry* entry = CFileEntry::FromChildNode(p);
    if (entry->AsPath()) {
      folders.Append(&entry->spareNode);
    } else {
      files.Append(&entry->spareNode);
      fileIds.insert(entry->ownId);
    }
  }
  for (CList* p = folders.First(); p && !folders.IsTail(p);) {
    CList* next = p->next;
    if (fileIds.count(CFileEntry::FromSpareNode(p)->ownId)) UnlinkNode(p);
    p = next;
  }

  uint32_t reread = 0;
  uint32_t visited = 0;
  auto visit = [&](CListGroup& list) {
    visited = 0;
    for (CList* p = list.First(); p && !list.IsTail(p);) {
      CList* next = p->next;
      CFileEntry* entry = CFileEntry::FromSpareNode(p);
      UnlinkNode(p);
      ++visited;
      if (block && entry->time1 == 0 && entry->time2 == 0 && m_rereadIds.insert(entry->ownId).second) {
        if (m_reread.size() < Ntfs::kMaxRecordBytes + 1) m_reread.resize(Ntfs::kMaxRecordBytes + 1);
        if (ReadMftRecord(block, &m_rereadCache, uint32_t(entry->ownId), uint32_t(entry->ownId >> 32),
                          m_reread.data())) {
          NtfsRecordBlock again = *block;
          again.recordNumber = entry->ownId;
          again.buffer = m_reread.data();
          ParseAttributes(m_reread.data(), block->recordSize & 0xFFFF, again);
          ++reread;
        }
      }
      p = next;
    }
  };
  visit(files);
  const uint32_t visitedFiles = visited;
  visit(folders);
  const uint32_t shown = block ? (visited ? visited : visitedFiles) : 0;
  std::printf("Found %d path entry need to reinitialized\n", int(shown));
  std::fflush(stdout);
  return reread;
}

namespace {

// Moves every child of from to the end of to's children.
void MoveChildren(CPathEntry* from, CPathEntry* to) {
  CListGroup& list = from->childList;
  for (CList* p = list.First(); p && !list.IsTail(p);) {
    CList* next = p->next;
    CFileEntry* child = CFileEntry::FromChildNode(p);
    RemoveChild(from, child);
    AddChild(to, child);
    p = next;
  }
}

}  // namespace

void CStorage::CNTFSScanTask::WorkFinishRoutine(int32_t value) {
  // The core calls this once; the worker calls it too when the core could not.
  int32_t expected = 0;
  if (!m_finishEntered.compare_exchange_strong(expected, 1)) return;
  NtfsRecordBlock* block = reinterpret_cast<NtfsRecordBlock*>(uintptr_t(uint32_t(value)));
  if (block && (block->recordSize & 0xFFFF) < Ntfs::kSectorBytes) block = nullptr;
  if (block) m_recordBlock.store(block);

  ParseHeldRecords();
  RereadPlaceholders(block);
  ReturnFilesToTheirFolders();
  NameTheNameless();
  InstallRoot();
  std::printf("Directories counted.\n");
  std::fflush(stdout);
  FinishWork();
}

void CStorage::CNTFSScanTask::ParseHeldRecords() {
  // A misplaced record whose number no record claimed from its own place is the only
  // one there is of that number.
  std::vector<HeldRecord> misplaced;
  misplaced.swap(m_heldMisplaced);
  for (HeldRecord& held : misplaced) {
    if (!m_claimedNumbers.insert(held.number).second) {
      CORE_LOG(Core::kLogWarning, "CStorage::CNTFSScanTask::ParseHeldRecords",
               "Record at MFT place %llu claims number %llu, which another record holds: left out",
               static_cast<unsigned long long>(held.place), static_cast<unsigned long long>(held.number));
      continue;
    }
    ParseHeld(held);
  }
  // Extension records whose base never came: the finish is entered, so parsing them
  // now only reports them.
  std::unordered_multimap<uint64_t, HeldRecord> orphans;
  orphans.swap(m_heldExtensions);
  for (auto& entry : orphans) ParseHeld(entry.second);
  m_heldBytes = 0;
}

void CStorage::CNTFSScanTask::RereadPlaceholders(NtfsRecordBlock* block) {
  CPathEntry* const unknown = &m_unknownPath;
  CPathEntry* temporary =
      NewPathEntry(m_arena, kAttrFolder, L"", 0, NextSequence(), kNoEntryId, kNoEntryId, 0, 0, 0);
  CPathEntry* leftovers =
      NewPathEntry(m_arena, kAttrFolder, L"", 0, NextSequence(), kNoEntryId, kNoEntryId, 0, 0, 0);
  if (temporary && leftovers) {
    CPathEntry* source = unknown;
    CPathEntry* holding = temporary;
    for (;;) {
      m_unknownFolder = holding;
      const uint32_t reread = ReinitializeChildren(source, block);
      // Nothing new to look at, or nothing read again that could bring anything new.
      if (holding->childList.IsEmpty() || reread == 0) break;
      MoveChildren(source, leftovers);
      std::swap(source, holding);
    }
    // What stayed in either temporary folder is as lost as the leftovers.
    MoveChildren(temporary, unknown);
    MoveChildren(leftovers, unknown);
  }
  m_unknownFolder = unknown;
}

void CStorage::CNTFSScanTask::ReturnFilesToTheirFolders() {
  // A file in "UnknownPath" whose id a folder took back gets its cell and, when its
  // parent is a known folder, its place.
  CPathEntry* const unknown = &m_unknownPath;
  CListGroup listed;
  for (CList* p = unknown->childList.First(); p && !unknown->childList.IsTail(p); p = p->next)
    listed.Append(&CFileEntry::FromChildNode(p)->spareNode);
  for (CList* p = listed.First(); p && !listed.IsTail(p);) {
    CList* next = p->next;
    CFileEntry* file = CFileEntry::FromSpareNode(p);
    UnlinkNode(p);
    p = next;
    if (file->AsPath() || file->IsFolder()) continue;
    CFileEntry** cell = m_idMap.FindCell(file->ownId);
    CPathEntry* folder = cell && *cell ? (*cell)->AsPath() : nullptr;
    if (!folder || folder == unknown) continue;
    *cell = file;
    folder->parentId = kNoEntryId;
    PlaceEntry(folder, unknown);
    CFileEntry** parentCell = m_idMap.FindCell(file->parentId);
    CPathEntry* parent = parentCell && *parentCell ? (*parentCell)->AsPath() : nullptr;
    if (parent && parent != unknown) PlaceEntry(file, parent);
  }
}

void CStorage::CNTFSScanTask::NameTheNameless() {
  // Nameless orphans are counted only once named: the live count holds what the tree holds.
  NameOrphans(&m_unknownPath, true);
}

void CStorage::CNTFSScanTask::InstallRoot() {
  // The root: made when its record gave nothing, named "Root" in any case.
  CFileEntry** rootCell = GetIdCell(m_rootId);
  CPathEntry* root = rootCell && *rootCell ? (*rootCell)->AsPath() : nullptr;
  if (!root && rootCell) {
    root = NewPathEntry(m_arena, kAttrFolderMask, L"Root", 0, NextSequence(), m_rootId, m_rootId, 0, 0, 0);
    if (root) *rootCell = root;
  }
  if (root) {
    if (const wchar_t* name = InternName(L"Root")) {
      // The root may sit in the indexer's batch right now.
      CritSecLock held(m_lock);
      SetEntryName(name, root);
    }
    if (CPathEntry* current = FindParentFolder(root)) RemoveChild(current, root);
    AddChild(&m_virtualRoot, root);
  }
  AddChild(&m_virtualRoot, &m_unknownPath);
}

// ---------------------------------------------------------------------------------
// After indexing

void CStorage::CNTFSScanTask::RemoveEntryById(uint64_t id) {
  CFileEntry** cell = m_idMap.FindCell(id);
  if (!cell || !*cell) return;
  CFileEntry* entry = *cell;
  if (entry == &m_unknownPath || entry == &m_virtualRoot) return;
  if (CPathEntry* parent = FindParentFolder(entry)) RemoveChild(parent, entry);
  UnlinkNode(&entry->linkChainNode);
  UnlinkNode(&entry->linkNode);
  if (CPathEntry* folder = entry->AsPath()) {
    CListGroup& list = folder->childList;
    for (CList* p = list.First(); p && !list.IsTail(p);) {
      CList* next = p->next;
      CFileEntry* child = CFileEntry::FromChildNode(p);
      RemoveChild(folder, child);
      child->parentId = kNoEntryId;
      AddChild(&m_unknownPath, child);
      p = next;
    }
  } else if (entry->name && entry->name[0]) {
    // Counted when it was found; the host must not see it in the totals either.
    --m_fileCount;
    if (entry->IsDeleted()) --m_deletedCount;
  }
  UnindexEntry(entry);
  *cell = nullptr;
}

void CStorage::CNTFSScanTask::PostScan() {
  for (uint64_t id = 0; id < 16; ++id) {
    if (id != m_rootId) RemoveEntryById(id);
  }
  HandleLinker();
  m_virtualRoot.Recount(false);
}

CPathEntry* CStorage::CNTFSScanTask::ResolveLinkStart(CFileEntry* entry, const wchar_t*& rest) {
  CFileEntry** rootCell = m_idMap.FindCell(m_rootId);
  CPathEntry* root = rootCell && *rootCell ? (*rootCell)->AsPath() : nullptr;
  CPathEntry* parent = FindParentFolder(entry);
  const wchar_t* t = rest;
  if (((t[0] >= L'A' && t[0] <= L'Z') || (t[0] >= L'a' && t[0] <= L'z')) && t[1] == L':' && t[2] == L'\\') {
    const wchar_t letter = wchar_t(std::towupper(t[0]));
    if (!m_driveLetter || letter != wchar_t(std::towupper(m_driveLetter))) return nullptr;
    rest = t + 3;
    return root;
  }
  if (t[0] == L'.' && t[1] == L'.' && t[2] == L'\\') {
    CPathEntry* at = parent;
    while (at && t[0] == L'.' && t[1] == L'.' && t[2] == L'\\') {
      at = at == root ? nullptr : FindParentFolder(at);
      t += 3;
    }
    rest = t;
    return at;
  }
  if (t[0] == L'\\') {
    rest = t + 1;
    return root;
  }
  return parent;
}

void CStorage::CNTFSScanTask::HandleLinker() {
  for (CList* p = m_linkQueue.First(); p && !m_linkQueue.IsTail(p);) {
    CList* next = p->next;
    CFileEntry* entry = CFileEntry::FromLinkNode(p);
    const wchar_t* text = entry->linkTarget ? entry->linkTarget : L"";
    const wchar_t* rest = text;
    CPathEntry* folder = ResolveLinkStart(entry, rest);
    const bool otherDrive = !folder && rest == text && text[0] && text[1] == L':' && text[2] == L'\\';
    if (otherDrive) {
      std::wstring line = L"Can not found original path ";
      line += text;
      line += L" of entry ";
      line += entry->name ? entry->name : L"";
      line += L"\n";
      Core::WriteLogWText(Core::kLogWarning, "NTFSTask", "CStorage::CNTFSScanTask::HandleLinker", 365, line.c_str());
    }
    CFileEntry* target = folder;
    const wchar_t* part = rest;
    while (target && *part) {
      const wchar_t* end = part;
      while (*end && *end != L'\\') ++end;
      const size_t length = size_t(end - part);
      if (length) {
        CPathEntry* in = ChildFolderOf(target);
        target = in ? FindChildEntryWithoutID(in, part, length) : nullptr;
      }
      part = *end ? end + 1 : end;
    }
    if (target && target != entry) {
      ChainAppend(target, entry);
      entry->baseEntry = target;
      if (target->IsFolder()) {
        entry->attributes |= kAttrFolderMask;
      } else {
        entry->attributes &= ~kAttrFolderMask;
      }
      UnlinkNode(p);
    }
    p = next;
  }
}
