// Recovery of one NTFS file: the $DATA extents that the scan collected are re-read
// from their MFT records, their run lists decoded and the clusters copied through the
// core into the target, compressed units expanded with LZNT1. A file is either written
// exactly or reported as failed and its target deleted.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "BackgroundWriter.h"
#include "CoreLibrary.h"
#include "FaultGuard.h"
#include "Lznt1.h"
#include "NTFSTask.h"
#include "NtfsLayout.h"
#include "NtfsRuns.h"
#include "TextConvert.h"
#include "UniqueRes.h"

namespace {

// Result numbers of one file.
constexpr int32_t kRecordUnreadable = -1;
constexpr int32_t kFileCorrupt = -int32_t(ERROR_FILE_CORRUPT);              // -1392
// Extents that do not follow each other, told apart from data that ends too early.
constexpr int32_t kExtentGap = -int32_t(ERROR_DISK_CORRUPT);                // -1393
constexpr int32_t kReadFailed = -int32_t(ERROR_READ_FAULT);                 // -30
const int32_t kBadCompressedData = -Lznt1Code(Lznt1Result::BadCompressedData);  // -605

// Bytes moved per partition read of a plain run (whole clusters).
constexpr uint32_t kTransferBytes = 1u << 20;
// Most bytes read with one call for a compressed file's runs.
constexpr uint32_t kCompressedSpanBytes = 1u << 20;
// Units above this are not NTFS's (clusters of at most 64 KiB, units of 16 clusters).
constexpr uint32_t kMaxUnitBytes = 1u << 20;

// Non-resident attribute header fields.
using Ntfs::kAttrCompressed;
using Ntfs::kAttrFlags;
using Ntfs::kDataSize;
using Ntfs::kFirstVcn;
using Ntfs::kLastVcn;
using Ntfs::kNonResidentHeaderBytes;
using Ntfs::kRunListOffset;
using Ntfs::kUnitExponent;

using Ntfs::Run;
using Ntfs::RunReader;

int32_t WriteAll(HANDLE target, const uint8_t* bytes, uint64_t length) {
  // The file being recovered on this thread is written by its own writer thread.
  if (CBackgroundWriter* writer = CBackgroundWriter::Current()) {
    if (writer->Target() == target) return writer->Write(bytes, length);
  }
  while (length > 0) {
    const DWORD piece = DWORD(std::min<uint64_t>(length, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(target, bytes, piece, &written, nullptr)) return WindowsErrorCode(::GetLastError());
    if (written != piece) return WindowsErrorCode(ERROR_WRITE_FAULT);
    bytes += piece;
    length -= piece;
  }
  return 0;
}

int32_t WriteZeros(HANDLE target, uint64_t length) {
  static const uint8_t zeros[64 * 1024] = {};
  while (length > 0) {
    const uint32_t piece = uint32_t(std::min<uint64_t>(length, sizeof zeros));
    if (const int32_t r = WriteAll(target, zeros, piece)) return r;
    length -= piece;
  }
  return 0;
}

// The unnamed $DATA attribute that holds the extent starting at firstVcn (a record holds
// one extent of an attribute; the first unnamed $DATA when none starts there).
bool FindDataExtent(const uint8_t* record, uint32_t recordSize, uint64_t firstVcn, Ntfs::Attribute* found) {
  bool any = false;
  Ntfs::ForEachAttribute(record, recordSize, [&](const Ntfs::Attribute& a) {
    if (a.type != Ntfs::kData || a.nameLength != 0) return true;
    if (!a.nonResident && !a.value.p) return true;
    const uint64_t vcn = a.nonResident ? U64(a.header.p + kFirstVcn) : 0;
    if (!any || vcn == firstVcn) {
      *found = a;
      any = true;
    }
    return vcn != firstVcn;
  });
  return any;
}


}  // namespace

// ---------------------------------------------------------------------------------
// Compressed units

CNTFSCompressedStream::CNTFSCompressedStream(const wchar_t* name, uint32_t unitSize, uint32_t idLow, uint32_t idHigh,
                                             HANDLE target, uint32_t sizeLow, uint32_t sizeHigh)
    : m_fileId(uint64_t(idHigh) << 32 | idLow),
      m_name(name),
      m_remaining(uint64_t(sizeHigh) << 32 | sizeLow),
      m_unit(TryAllocateArray<uint8_t>(unitSize)),
      m_output(TryAllocateArray<uint8_t>(unitSize)),
      m_target(target),
      m_unitSize(unitSize) {}

CNTFSCompressedStream::~CNTFSCompressedStream() = default;

int32_t CNTFSCompressedStream::AppendData(const uint8_t* bytes, uint32_t length) {
  if (!Valid()) return kResultNoMemory;
  m_taken += length;
  while (length > 0) {
    const uint32_t take = std::min(length, m_unitSize - m_accounted);
    if (bytes) {
      std::memcpy(m_unit.get() + m_stored, bytes, take);
      m_stored += take;
      bytes += take;
    }
    m_accounted += take;
    length -= take;
    if (m_accounted == m_unitSize) {
      if (const int32_t r = WriteUnit()) return r;
    }
  }
  return 0;
}

uint64_t CNTFSCompressedStream::UnitBytesLeft() const {
  if (m_remaining == 0 || m_unitSize == 0) return 0;
  // The units that hold the bytes not written yet, less what the current one holds.
  const uint64_t tail = m_remaining % m_unitSize;
  const uint64_t span = tail == 0 ? m_remaining : m_remaining - tail + m_unitSize;
  if (span < m_remaining) return ~uint64_t(0) - m_accounted;
  return span - m_accounted;
}

int32_t CNTFSCompressedStream::Finish() {
  if (!Valid() || m_accounted == 0) return 0;
  return AppendData(nullptr, m_unitSize - m_accounted);
}

int32_t CNTFSCompressedStream::WriteUnit() {
  const uint32_t length = uint32_t(std::min<uint64_t>(m_unitSize, m_remaining));
  const uint8_t* data = m_unit.get();
  if (m_stored == 0) {
    // A unit without clusters is a hole: zeros.
    std::memset(m_output.get(), 0, m_unitSize);
    data = m_output.get();
  } else if (m_stored < m_unitSize) {
    // Fewer clusters than the unit holds: the unit is stored compressed.
    size_t produced = 0;
    Lznt1Result result = Lznt1Result::BadCompressedData;
    const bool returned = RunGuardedCall([&] {
      result = Lznt1Codec::Decompress(Lznt1::kFormatLznt1, m_output.get(), m_unitSize, m_unit.get(), m_stored,
                                      &produced);
    });
    if (!returned) {
      std::printf("fail to decompress data for file %llXH, %s\n", static_cast<unsigned long long>(m_fileId),
                  NarrowText(m_name).c_str());
    }
    if (!returned || result != Lznt1Result::Ok) {
      Core::WriteLog(Core::kLogWarning, "NTFSTask", "CNTFSCompressedStream::AppendData", 1002,
                     "Fail to decompress data");
      return kBadCompressedData;
    }
    // The chunks may end before the unit does (the file's last unit): the rest is zeros.
    if (produced < m_unitSize) std::memset(m_output.get() + produced, 0, m_unitSize - produced);
    data = m_output.get();
  }
  m_stored = 0;
  m_accounted = 0;
  if (length == 0) return 0;
  m_remaining -= length;
  return WriteAll(m_target, data, length);
}

// ---------------------------------------------------------------------------------
// Runs

int32_t CStorage::CNTFSScanTask::ReadPlainRuns(uint64_t extentBytes, const uint8_t* runs, uint32_t runBytes,
                                               HANDLE target, uint32_t clusterSize) {
  if (clusterSize == 0) return kFileCorrupt;
  const uint32_t bufferBytes = std::max(clusterSize, kTransferBytes / clusterSize * clusterSize);
  std::unique_ptr<uint8_t[]> buffer = TryAllocateArray<uint8_t>(bufferBytes);
  if (!buffer) return kResultNoMemory;
  RunReader reader(runs, runBytes);
  uint64_t left = extentBytes;
  Run run;
  while (left > 0) {
    if (!reader.Next(&run)) return kFileCorrupt;  // the runs end before the extent's data
    // The run as far as the extent still needs it, in whole clusters.
    uint64_t runBytesLeft = run.clusters * clusterSize;
    if (run.clusters > ~uint64_t(0) / clusterSize || runBytesLeft > left)
      runBytesLeft = (left + clusterSize - 1) / clusterSize * clusterSize;
    if (run.sparse) {
      const uint64_t zeros = std::min(runBytesLeft, left);
      if (const int32_t r = WriteZeros(target, zeros)) return r;
      left -= zeros;
      continue;
    }
    if (run.lcn < 0) return kReadFailed;
    uint64_t offset = uint64_t(run.lcn) * clusterSize;
    while (runBytesLeft > 0 && left > 0) {
      const uint32_t want = uint32_t(std::min<uint64_t>(runBytesLeft, bufferBytes));
      const int got = Core::ReadPartition(m_partitionHandle, m_diskContext, offset, want, buffer.get()).value_or(0);
      if (got < 1) return kReadFailed;
      const uint32_t read = std::min(uint32_t(got), want);
      const uint32_t keep = uint32_t(std::min<uint64_t>(read, left));
      if (const int32_t r = WriteAll(target, buffer.get(), keep)) return r;
      left -= keep;
      offset += read;
      runBytesLeft -= read;
    }
  }
  return 0;
}

int32_t CStorage::CNTFSScanTask::ReadCompressedRuns(uint32_t unitSize, const uint8_t* runs, uint32_t runBytes,
                                                    uint32_t clusterSize, CNTFSCompressedStream* stream) {
  if (!stream || !stream->Valid()) return kResultNoMemory;
  if (clusterSize == 0 || unitSize == 0) return kFileCorrupt;
  // A compressed unit's few stored clusters lie mostly right after the previous unit's:
  // runs that continue one another on disk (sparse runs between them included) are read
  // with one call of up to this many bytes.
  const uint32_t spanLimit = std::max<uint32_t>(unitSize, kCompressedSpanBytes);
  std::unique_ptr<uint8_t[]> buffer = TryAllocateArray<uint8_t>(spanLimit);
  if (!buffer) return kResultNoMemory;
  struct Piece {
    uint64_t bytes;
    bool sparse;
  };
  std::vector<Piece> pieces;
  uint64_t spanStart = 0;  // disk offset of the span's first stored byte
  uint32_t spanBytes = 0;  // stored bytes gathered in the span
  uint64_t planned = 0;    // unit bytes the gathered pieces account for
  // Reads the span and hands its pieces over in run order.
  auto flush = [&]() -> int32_t {
    if (spanBytes > 0) {
      const int got =
          Core::ReadPartition(m_partitionHandle, m_diskContext, spanStart, spanBytes, buffer.get()).value_or(0);
      if (got < 1) return kReadFailed;
      if (uint32_t(got) < spanBytes) {
        // A short read: the rest of the span piece by piece, as far as the core goes.
        uint32_t have = uint32_t(got);
        while (have < spanBytes) {
          const int more = Core::ReadPartition(m_partitionHandle, m_diskContext, spanStart + have, spanBytes - have,
                                               buffer.get() + have)
                               .value_or(0);
          if (more < 1) return kReadFailed;
          have += std::min(uint32_t(more), spanBytes - have);
        }
      }
    }
    const uint8_t* at = buffer.get();
    for (const Piece& piece : pieces) {
      if (piece.sparse) {
        uint64_t left = piece.bytes;
        while (left > 0) {
          const uint32_t part = uint32_t(std::min<uint64_t>(left, unitSize));
          if (const int32_t r = stream->AppendData(nullptr, part)) return r;
          left -= part;
        }
      } else {
        if (const int32_t r = stream->AppendData(at, uint32_t(piece.bytes))) return r;
        at += piece.bytes;
      }
    }
    pieces.clear();
    spanBytes = 0;
    planned = 0;
    return 0;
  };
  RunReader reader(runs, runBytes);
  Run run;
  // Past the file's last unit nothing more is read, and no run costs more than the
  // units still need, whatever it claims.
  while (stream->UnitBytesLeft() > planned && reader.Next(&run)) {
    if (run.clusters > ~uint64_t(0) / clusterSize) return kFileCorrupt;
    uint64_t bytes = std::min(run.clusters * clusterSize, stream->UnitBytesLeft() - planned);
    if (run.sparse) {
      pieces.push_back(Piece{bytes, true});
      planned += bytes;
      continue;
    }
    if (run.lcn < 0) return kReadFailed;
    uint64_t offset = uint64_t(run.lcn) * clusterSize;
    while (bytes > 0) {
      if (spanBytes > 0 && (offset != spanStart + spanBytes || spanBytes == spanLimit)) {
        if (const int32_t r = flush()) return r;
      }
      if (spanBytes == 0) {
        // Sparse pieces gathered before the first stored one go first.
        if (!pieces.empty()) {
          if (const int32_t r = flush()) return r;
        }
        spanStart = offset;
      }
      const uint32_t take = uint32_t(std::min<uint64_t>(bytes, spanLimit - spanBytes));
      pieces.push_back(Piece{take, false});
      spanBytes += take;
      planned += take;
      offset += take;
      bytes -= take;
    }
  }
  if (const int32_t r = flush()) return r;
  if (stream->UnitBytesLeft() == 0) return 0;
  if (reader.Corrupt()) return kFileCorrupt;
  return 0;
}

// ---------------------------------------------------------------------------------
// One file

namespace {

// The target of one file: created for writing under a free name, closed at the end and
// deleted again unless the file came out whole.
class TargetFile {
 public:
  TargetFile() = default;
  TargetFile(const TargetFile&) = delete;
  TargetFile& operator=(const TargetFile&) = delete;
  ~TargetFile() {
    m_file.Reset();
    if (!m_keep && !m_path.empty()) ::DeleteFileW(m_path.c_str());
  }

  // 0, or the negated Windows error of the creation.
  int32_t Create(CStorage::CScanTask& task, const wchar_t* targetRoot, const wchar_t* relativePath) {
    std::wstring path = targetRoot ? targetRoot : L"";
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    if (relativePath && relativePath[0] != L'\\') path += L'\\';
    path += relativePath ? relativePath : L"";
    task.CreateDirectoryPath(path.c_str());
    task.MakeUniqueTargetName(path);
    m_file.Reset(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file) return WindowsErrorCode(::GetLastError());
    m_path.swap(path);
    return 0;
  }
  HANDLE Handle() const { return m_file.Get(); }
  void Keep() { m_keep = true; }

 private:
  UniqueFile m_file;
  std::wstring m_path;
  bool m_keep = false;
};

// Clusters a run list claims before its end marker or its first malformed pair; the
// sum saturates instead of wrapping.
uint64_t ClaimedClusters(const uint8_t* runs, uint32_t bytes) {
  RunReader reader(runs, bytes);
  uint64_t total = 0;
  Run run;
  while (reader.Next(&run)) {
    total += run.clusters;
    if (total < run.clusters) return ~uint64_t(0);
  }
  return total;
}

// One file's copy, extent after extent in VCN order: what carries over from one extent
// to the next (the expected VCN, the record cache, the compressed stream, the bytes
// written) lives here.
class ExtentCopy {
 public:
  ExtentCopy(CStorage::CNTFSScanTask& task, NtfsRecordBlock* block, uint32_t recordSize, uint32_t clusterSize,
             const CFileEntry* entry, uint64_t id, HANDLE target, uint8_t* record)
      : m_task(task),
        m_block(block),
        m_recordSize(recordSize),
        m_clusterSize(clusterSize),
        m_entry(entry),
        m_id(id),
        m_target(target),
        m_record(record),
        m_fileSize(GetEntrySize(entry)) {}

  // Every extent of the file; 0 or the first failure.
  int32_t CopyExtents() {
    const CDataList& runs = m_entry->runList;
    for (const CList* n = runs.First(); n && !runs.IsTail(n) && !m_resident; n = n->next) {
      if (const int32_t r = CopyExtent(*CDataEntry::FromNode(n))) return r;
    }
    return 0;
  }

  // The last compressed unit, then the check that the data covered the whole file.
  int32_t Finish() {
    if (m_stream) {
      if (const int32_t r = m_stream->Finish()) return r;
    }
    // Data that ends before the file does cannot give the file back.
    const bool whole = m_stream ? m_stream->Remaining() == 0 : m_written == m_fileSize;
    return whole ? 0 : kFileCorrupt;
  }

 private:
  int32_t CopyExtent(const CDataEntry& extent) {
    const uint64_t firstVcn = extent.node.value;
    if (firstVcn != m_expectedVcn) {
      ReportGap(extent, firstVcn);
      // Extents of one attribute follow each other without a gap (holes lie inside run
      // lists): clusters claimed twice, or an extent that is gone (the first one holds
      // the file's size), leave the file unknown.
      return kExtentGap;
    }
    if (!m_task.ReadMftRecord(m_block, &m_cache, uint32_t(extent.recordNumber), uint32_t(extent.recordNumber >> 32),
                              m_record))
      return kRecordUnreadable;
    Ntfs::Attribute data;
    if (!FindDataExtent(m_record, m_recordSize, firstVcn, &data)) return kFileCorrupt;
    if (!data.nonResident) return CopyResident(data.value);
    return CopyNonResident(data.header, firstVcn);
  }

  void ReportGap(const CDataEntry& extent, uint64_t firstVcn) const {
    char line[160];
    std::snprintf(line, sizeof line, "Multiple $DATA Error? Host FR %llXH, %llXH/%llXH, Size %llXH\n",
                  static_cast<unsigned long long>(extent.recordNumber), static_cast<unsigned long long>(firstVcn),
                  static_cast<unsigned long long>(m_expectedVcn), static_cast<unsigned long long>(extent.size));
    ::OutputDebugStringA(line);
    std::fputs(line, stdout);
  }

  // The whole file lies in the record.
  int32_t CopyResident(const ByteView& value) {
    m_resident = true;
    m_fileSize = value.n;
    m_written = value.n;
    return WriteAll(m_target, value.p, value.n);
  }

  int32_t CopyNonResident(const ByteView& header, uint64_t firstVcn) {
    const uint8_t* a = header.p;
    const uint64_t lastVcn = U64(a + kLastVcn);
    if (U64(a + kFirstVcn) != firstVcn) return kFileCorrupt;
    if (firstVcn == 0) m_fileSize = U64(a + kDataSize);
    const uint32_t runOffset = U16(a + kRunListOffset);
    if (runOffset < kNonResidentHeaderBytes || runOffset > header.n) return kFileCorrupt;
    const uint8_t* runList = a + runOffset;
    const uint32_t runListBytes = header.n - runOffset;
    // An empty attribute has its last VCN one below its first.
    const uint64_t clusters = lastVcn + 1 >= firstVcn ? lastVcn + 1 - firstVcn : 0;
    if (clusters > ~uint64_t(0) / m_clusterSize) return kFileCorrupt;
    // Runs that claim more clusters than the extent spans are damaged (one byte of a
    // run list can claim a terabyte): which of them hold the file cannot be told.
    if (ClaimedClusters(runList, runListBytes) > clusters) return kFileCorrupt;
    const uint8_t unitExponent = a[kUnitExponent];
    const bool compressed = (U16(a + kAttrFlags) & kAttrCompressed) != 0 && unitExponent != 0;
    // All extents of one attribute share its compression.
    if (m_stream ? !compressed : compressed && firstVcn != 0) return kFileCorrupt;
    int32_t result = 0;
    if (compressed) {
      if (!m_stream) {
        if (const int32_t r = OpenStream(unitExponent)) return r;
      }
      result = m_task.ReadCompressedRuns(m_clusterSize << unitExponent, runList, runListBytes, m_clusterSize,
                                         m_stream.get());
    } else {
      // The extent as far as the file still needs it: never the slack behind its end.
      const uint64_t extentBytes =
          std::min(clusters * m_clusterSize, m_fileSize > m_written ? m_fileSize - m_written : 0);
      result = m_task.ReadPlainRuns(extentBytes, runList, runListBytes, m_target, m_clusterSize);
      if (result == 0) m_written += extentBytes;
    }
    m_expectedVcn = lastVcn + 1;
    return result;
  }

  // One stream for the whole compressed file, made at its first extent.
  int32_t OpenStream(uint8_t unitExponent) {
    const uint32_t unitSize = unitExponent < 31 && (uint64_t(m_clusterSize) << unitExponent) <= kMaxUnitBytes
                                  ? m_clusterSize << unitExponent
                                  : 0;
    if (unitSize == 0) return kFileCorrupt;
    if (AllocationShouldFail()) return kResultNoMemory;
    m_stream.reset(new (std::nothrow) CNTFSCompressedStream(m_entry->name, unitSize, uint32_t(m_id),
                                                            uint32_t(m_id >> 32), m_target, uint32_t(m_fileSize),
                                                            uint32_t(m_fileSize >> 32)));
    if (!m_stream || !m_stream->Valid()) return kResultNoMemory;
    return 0;
  }

  CStorage::CNTFSScanTask& m_task;
  NtfsRecordBlock* m_block;
  const uint32_t m_recordSize;
  const uint32_t m_clusterSize;
  const CFileEntry* m_entry;
  const uint64_t m_id;
  const HANDLE m_target;
  uint8_t* m_record;
  uint64_t m_fileSize;
  uint64_t m_written = 0;  // plain file bytes written (a compressed file counts in its stream)
  uint64_t m_expectedVcn = 0;
  uint64_t m_cache = kNoEntryId;
  std::unique_ptr<CNTFSCompressedStream> m_stream;
  bool m_resident = false;
};

}  // namespace

int32_t CStorage::CNTFSScanTask::RecoverOneFile(const wchar_t* targetRoot, uint64_t id, const wchar_t* relativePath) {
  CFileEntry* entry = FirstInLinkChain(GetEntryById(id));
  NtfsRecordBlock* block = m_recordBlock.load();
  if (!entry || !block) return kRecordUnreadable;
  const uint32_t recordSize = block->recordSize & 0xFFFF;
  const uint32_t clusterSize = block->bytesPerCluster;
  if (recordSize < Ntfs::kSectorBytes || clusterSize == 0 || (clusterSize & (clusterSize - 1)) != 0)
    return kRecordUnreadable;
  std::unique_ptr<uint8_t[]> record = TryAllocateArray<uint8_t>(recordSize);
  if (!record) return kResultNoMemory;

  TargetFile target;
  if (const int32_t r = target.Create(*this, targetRoot, relativePath)) return r;
  Core::SetPartBitLocker(m_partitionHandle, int(reinterpret_cast<intptr_t>(m_diskContext)));

  int32_t result = 0;
  {
    // The copy (and its stream, which writes through the target) ends before the target,
    // and every piece is written before the target is kept or deleted.
    CBackgroundWriter writer(target.Handle());
    CBackgroundWriter::Use writes(&writer);
    ExtentCopy copy(*this, block, recordSize, clusterSize, entry, id, target.Handle(), record.get());
    result = copy.CopyExtents();
    if (result == 0) result = copy.Finish();
    const int32_t written = writer.Finish();
    if (result == 0) result = written;
  }
  if (result == 0) target.Keep();
  return result;
}
