// The stand-in's deep scans: every sector of a partition (or of the whole disk) is
// tested for the start of a file the carver knows; each hit is handed to the task
// under its own location, the scan resumes at a position it reports as it goes, and
// a hit is written out again by its location and size.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Carver.h"
#include "Core.h"
#include "Disk.h"
#include "qvtdserver.h"

namespace qvtd {

namespace {

constexpr uint64_t kScanChunk = 4u << 20;
constexpr uint64_t kRootId = 8;

uint64_t LocationOf(uint64_t offset) { return offset + kQvtdDeepLocationBase; }

CarveSource SourceOf(const Partition& p)
{
  return CarveSource(
      [&p](uint64_t offset, void* buffer, size_t length) {
        size_t got = 0;
        return p.Read(offset, buffer, length, got) == Res::Ok ? got : size_t(0);
      },
      p.size);
}

int Progress(uint64_t position, uint64_t size)
{
  return size == 0 ? 10000 : int(std::min<uint64_t>(position, size) * 10000 / size);
}

int Report(QvtdDeepRecordCallback onRecord, void* task, const wchar_t* name, uint64_t id, uint64_t parent,
           uint64_t size, uint32_t attributes, int progress)
{
  if (const int delay = Core::Get().recordDelayMs.load()) Sleep(DWORD(delay));
  return onRecord(task, name, 0, uint32_t(id), uint32_t(id >> 32), uint32_t(parent), uint32_t(parent >> 32),
                  uint32_t(size), uint32_t(size >> 32), 0, 0, attributes, 0, progress);
}

int Scan(const Partition& p, QvtdDeepRecordCallback onRecord, QvtdDeepFinishCallback onFinish, void* task,
         uint32_t* progressBlock, QvtdDeepProgressCallback onProgress, uint64_t resume)
{
  const CarveSource source = SourceOf(p);
  const uint64_t size = p.size;
  uint64_t pos = resume / kSectorSize * kSectorSize;
  std::vector<uint8_t> chunk(kScanChunk);
  bool running = true;
  while (running && pos < size) {
    const uint64_t chunkStart = pos;
    size_t got = 0;
    if (p.Read(pos, chunk.data(), chunk.size(), got) != Res::Ok || got < kSectorSize) break;
    const uint64_t chunkEnd = chunkStart + got / kSectorSize * kSectorSize;
    while (running && pos < chunkEnd) {
      const uint8_t* head = chunk.data() + size_t(pos - chunkStart);
      CarvedFile file;
      if (LooksLikeHeader(head, kSectorSize) && CarveAt(source, pos, head, kSectorSize, file)) {
        char name[48];
        snprintf(name, sizeof name, "f%010llu.%s", (unsigned long long)(pos / kSectorSize), file.extension.c_str());
        wchar_t wide[48];
        MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 48);
        running = Report(onRecord, task, wide, LocationOf(pos), kRootId, file.length, FILE_ATTRIBUTE_ARCHIVE,
                         Progress(pos, size)) != 0;
        // What lies inside a found file is part of it, not a file of its own.
        pos = (pos + file.length + kSectorSize - 1) / kSectorSize * kSectorSize;
        if (pos > chunkEnd) break;
      } else {
        pos += kSectorSize;
      }
    }
    if (progressBlock) progressBlock[1] = uint32_t(Progress(pos, size));
    if (onProgress) onProgress(task, uint32_t(pos), uint32_t(pos >> 32));
    if (running) running = Report(onRecord, task, L"", 0, 0, 0, 0, Progress(pos, size)) != 0;
  }
  if (running && progressBlock) progressBlock[1] = 10000;
  if (onFinish) onFinish(task, 0);
  return 0;
}

int ScanRoutine(void* diskContext, void* partition, QvtdDeepRecordCallback onRecord, QvtdDeepFinishCallback onFinish,
                void* task, uint32_t* progressBlock, QvtdDeepProgressCallback onProgress, uint32_t resumeLow,
                uint32_t resumeHigh, bool wholeDisk)
{
  if (!onRecord) return -int(ERROR_INVALID_PARAMETER);
  const Partition* p = Core::Get().FindPartition(partition);
  if (!p && wholeDisk) {
    if (Disk* d = Core::Get().FindDisk(diskContext)) p = &d->whole;
  }
  if (!p) {
    if (onFinish) onFinish(task, 0);
    return -int(ERROR_INVALID_HANDLE);
  }
  const uint64_t resume = uint64_t(resumeHigh) << 32 | resumeLow;
  CoreLog(0, wholeDisk ? "DiskDeepScanRoutine" : "DeepScanRoutine", __LINE__, "%s: partition %d from byte %llu",
          p->disk->path.c_str(), p->number, (unsigned long long)resume);
  return Scan(*p, onRecord, onFinish, task, progressBlock, onProgress, resume);
}

}  // namespace

}  // namespace qvtd

using namespace qvtd;

extern "C" {

int QVTD_API DeepScanRoutine(void* diskContext, void* partition, QvtdDeepRecordCallback onRecord,
                             QvtdDeepFinishCallback onFinish, void* task, uint32_t* progressBlock,
                             QvtdDeepProgressCallback onProgress, uint32_t resumeLow, uint32_t resumeHigh,
                             int itemCount, int loading)
{
  return ScanRoutine(diskContext, partition, onRecord, onFinish, task, progressBlock, onProgress, resumeLow,
                     resumeHigh, false);
}

int QVTD_API DiskDeepScanRoutine(void* diskContext, void* wholeDisk, QvtdDeepRecordCallback onRecord,
                                 QvtdDeepFinishCallback onFinish, void* task, uint32_t* progressBlock,
                                 QvtdDeepProgressCallback onProgress, uint32_t resumeLow, uint32_t resumeHigh,
                                 int itemCount, int loading)
{
  return ScanRoutine(diskContext, wholeDisk, onRecord, onFinish, task, progressBlock, onProgress, resumeLow,
                     resumeHigh, true);
}

int QVTD_API RecoverDeepScanFile(void* diskContext, void* partition, uint32_t dirBuffer, const wchar_t* target,
                                 uint32_t locationLow, uint32_t locationHigh, uint32_t sizeLow, uint32_t sizeHigh,
                                 uint32_t time, int partitionIndex)
{
  const Partition* p = Core::Get().FindPartition(partition);
  if (!p) return -int(ERROR_INVALID_HANDLE);
  const uint64_t location = uint64_t(locationHigh) << 32 | locationLow;
  const uint64_t size = uint64_t(sizeHigh) << 32 | sizeLow;
  if (!target || location < kQvtdDeepLocationBase) return -int(ERROR_INVALID_PARAMETER);
  const uint64_t offset = location - kQvtdDeepLocationBase;
  if (offset > p->size || size > p->size - offset) return -int(ERROR_INVALID_PARAMETER);
  UniqueFile file(CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return -int(GetLastError());
  std::vector<uint8_t> buffer(kScanChunk);
  for (uint64_t done = 0; done < size;) {
    const size_t want = size_t(std::min<uint64_t>(buffer.size(), size - done));
    size_t got = 0;
    if (p->Read(offset + done, buffer.data(), want, got) != Res::Ok || got != want) return -int(ERROR_READ_FAULT);
    DWORD written = 0;
    if (!WriteFile(file.Get(), buffer.data(), DWORD(want), &written, nullptr) || written != want)
      return -int(GetLastError());
    done += want;
  }
  return 0;
}

}  // extern "C"
