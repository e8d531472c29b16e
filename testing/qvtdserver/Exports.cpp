// The exported interface of the stand-in core. Internal results become the
// interface's numbers only here.
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <string>

#include "Core.h"
#include "Disk.h"
#include "Holds.h"
#include "ReadHold.h"
#include "qvtdserver.h"

static_assert(sizeof(QvtdDiskRecord) == 280, "DiskRecord is 280 bytes");
static_assert(offsetof(QvtdDiskRecord, size) == 8 && offsetof(QvtdDiskRecord, model) == 16 &&
                  offsetof(QvtdDiskRecord, serial) == 144 && offsetof(QvtdDiskRecord, context) == 272 &&
                  offsetof(QvtdDiskRecord, wholeDisk) == 276,
              "DiskRecord layout");
static_assert(sizeof(QvtdPartitionRecord) == 368, "PartitionRecord is 368 bytes");
static_assert(offsetof(QvtdPartitionRecord, firstByte) == 8 && offsetof(QvtdPartitionRecord, mbrType) == 16 &&
                  offsetof(QvtdPartitionRecord, size) == 20 && offsetof(QvtdPartitionRecord, firstSector) == 28 &&
                  offsetof(QvtdPartitionRecord, sectorSize) == 36 && offsetof(QvtdPartitionRecord, flags) == 40 &&
                  offsetof(QvtdPartitionRecord, fsType) == 44 && offsetof(QvtdPartitionRecord, driveLetter) == 46 &&
                  offsetof(QvtdPartitionRecord, label) == 48 && offsetof(QvtdPartitionRecord, gptType) == 112 &&
                  offsetof(QvtdPartitionRecord, gptId) == 128 && offsetof(QvtdPartitionRecord, reserved) == 144,
              "PartitionRecord layout");

using namespace qvtd;

namespace qvtd {
std::string LogPath();
bool AppendLogLine(int level, const char* source, const char* function, int line, std::string message);
std::string FormatV(const char* format, va_list args);
std::string FormatWV(const wchar_t* format, va_list args);
}  // namespace qvtd

namespace {

constexpr int kErrBadArgument = -87;   // -ERROR_INVALID_PARAMETER
constexpr int kErrBadHandle = -6;      // -ERROR_INVALID_HANDLE
constexpr int kErrIo = -int(ERROR_CRC);

void CopyText(char (&field)[128], const std::string& text)
{
  memset(field, 0, sizeof(field));
  memcpy(field, text.data(), std::min(text.size(), sizeof(field) - 1));
}

void FillDiskRecord(QvtdDiskRecord& r, Disk& d)
{
  memset(&r, 0, sizeof(r));
  r.index = d.index.load();
  r.sectorSize = kSectorSize;
  r.size = d.Size();
  char model[64];
  snprintf(model, sizeof(model), "QVTD Virtual Disk %d", r.index);
  CopyText(r.model, model);
  CopyText(r.serial, d.serial);
  r.context = &d;
  r.wholeDisk = &d.whole;
}

void FillPartitionRecord(QvtdPartitionRecord& r, const Partition& p)
{
  memset(&r, 0, sizeof(r));
  r.number = p.number;
  r.tableKind = p.tableKind;
  r.firstByte = p.firstByte;
  r.mbrType = p.mbrType;
  r.size = p.size;
  r.firstSector = p.firstByte / kSectorSize;
  r.sectorSize = kSectorSize;
  r.flags = p.flags;
  r.fsType = p.fsType;
  r.driveLetter = p.fsType == kFsNtfs && p.disk ? uint8_t(p.disk->driveLetter) : 0;
  const size_t n = std::min(p.label.size(), size_t(31));
  for (size_t i = 0; i < n; ++i) r.label[i] = p.label[i];
  memcpy(r.gptType, p.gptType, 16);
  memcpy(r.gptId, p.gptId, 16);
}

Disk* DiskOfRecord(const QvtdDiskRecord* record)
{
  return record ? Core::Get().FindDisk(record->context) : nullptr;
}

const Partition* PartitionOf(Disk& d, int index)
{
  if (index == kWholeDiskIndex) return &d.whole;
  if (index < 1 || size_t(index) > d.partitions.size()) return nullptr;
  return d.partitions[size_t(index) - 1].get();
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
  if (reason == DLL_PROCESS_ATTACH) Core::Module() = instance;
  return TRUE;
}

int QVTD_API InitBitLockerReader(void) { return 0; }

int QVTD_API InitLog(void)
{
  return AppendLogLine(0, "qvtdserver", "InitLog", __LINE__, "log opened") ? 0 : -int(GetLastError());
}

void QVTD_API WriteLog(int level, const char* source, const char* function, int line, const char* format, ...)
{
  va_list args;
  va_start(args, format);
  std::string message = FormatV(format, args);
  va_end(args);
  AppendLogLine(level, source, function, line, message);
}

void QVTD_API WriteLogW(int level, const char* source, const char* function, int line, const wchar_t* format, ...)
{
  va_list args;
  va_start(args, format);
  std::string message = FormatWV(format, args);
  va_end(args);
  AppendLogLine(level, source, function, line, message);
}

int QVTD_API EnumDisks(int capacity, QvtdDiskRecord* table)
{
  std::vector<Disk*> disks = Core::Get().Enumerate();
  const int n = int(disks.size());
  if (table && capacity > 0) {
    for (int i = 0; i < n && i < capacity; ++i) FillDiskRecord(table[i], *disks[size_t(i)]);
  }
  return n;
}

int QVTD_API EnumPartitions(QvtdDiskRecord* disk, int first, int count, QvtdPartitionRecord* out, int* found)
{
  if (found) *found = 0;
  if (!disk || !found || first < 0 || count < 0 || (count > 0 && !out)) return kErrBadArgument;
  Disk* d = DiskOfRecord(disk);
  if (!d) return kErrBadHandle;
  const int n = int(d->partitions.size());
  int written = 0;
  for (int i = first; i < n && written < count; ++i, ++written)
    FillPartitionRecord(out[written], *d->partitions[size_t(i)]);
  *found = written;
  return 0;
}

void* QVTD_API GetPartition(QvtdDiskRecord* disk, int partitionIndex, uint16_t* type)
{
  if (type) *type = 0;
  Disk* d = DiskOfRecord(disk);
  if (!d) return nullptr;
  const Partition* p = PartitionOf(*d, partitionIndex);
  if (!p) return nullptr;
  if (type) *type = p->fsType;
  return const_cast<Partition*>(p);
}

int QVTD_API GetPartitionInfo(void* diskContext, void* partition, int partitionIndex, void* partitionBlock,
                              int* partCount, char serial[128], uint8_t bootSector[512])
{
  if (partCount) *partCount = 0;
  const Partition* p = Core::Get().FindPartition(partition);
  if (!p) {
    Disk* d = Core::Get().FindDisk(diskContext);
    if (d) p = PartitionOf(*d, partitionIndex);
  }
  if (!p) return kErrBadHandle;
  if (partitionBlock) {
    QvtdPartitionRecord r;
    FillPartitionRecord(r, *p);
    if (p->IsWholeDisk()) r.fsType = kFsUnknown;
    memcpy(partitionBlock, &r, sizeof(r));
  }
  if (serial) {
    // "SERIAL|model": hosts name a whole-disk result by the part before the bar.
    char model[64];
    snprintf(model, sizeof(model), "QVTD Virtual Disk %d", p->disk->index.load());
    const std::string text = p->disk->serial + "|" + model;
    memset(serial, 0, 128);
    memcpy(serial, text.data(), std::min(text.size(), size_t(127)));
  }
  if (bootSector) {
    memset(bootSector, 0, kSectorSize);
    size_t got = 0;
    if (p->Read(0, bootSector, kSectorSize, got) != Res::Ok) memset(bootSector, 0, kSectorSize);
  }
  if (partCount) *partCount = 1;
  return 0;
}

int QVTD_API GetDiskBySerialNo(QvtdDiskRecord* disk, const char* serial, uint64_t startSector,
                               const uint8_t* bootSector, int* realDiskIndex)
{
  if (!serial) return kErrBadArgument;
  Disk* d = DiskOfRecord(disk);
  if (!d) return kErrBadHandle;
  // The serial ends at the first '|' (GetPartitionInfo adds the model after it).
  const size_t length = strnlen(serial, 128);
  const size_t own = std::string(serial, length).find('|');
  if (std::string(serial, own == std::string::npos ? length : own) != d->serial) return 1;
  if (realDiskIndex) *realDiskIndex = d->index.load();
  return 0;
}

uint64_t QVTD_API GetDiskDeepScanSize(void* diskContext, void* wholeDisk)
{
  if (const Partition* p = Core::Get().FindPartition(wholeDisk)) return p->size;
  if (Disk* d = Core::Get().FindDisk(diskContext)) return d->Size();
  return 0;
}

int QVTD_API ReadPartition(void* partition, void* diskContext, uint64_t byteOffset, uint32_t length, void* buffer)
{
  const Partition* p = Core::Get().FindPartition(partition);
  if (!p) return kErrBadHandle;
  if (length > uint32_t(INT32_MAX) || (length > 0 && !buffer)) return kErrBadArgument;
  PassReadHold();
  size_t got = 0;
  switch (p->Read(byteOffset, buffer, length, got)) {
  case Res::Ok: return int(got);
  case Res::BadArgument: return kErrBadArgument;
  default: return kErrIo;
  }
}

// The stand-in hands out no buffers of its own: a disk context, a partition handle or
// any other value is accepted and nothing is freed.
int QVTD_API ReleaseCacheBuffer(void* buffer) { return 0; }
void QVTD_API ReleaseDirBuffer(void* handle) {}

int QVTD_API SetPartBitLocker(void* partition, int value) { return 0; }

int QVTD_API CharSetTransfer(void* charsetContext, const char* source, int sourceBytes, wchar_t* target,
                             int targetBytes)
{
  const uintptr_t ctx0 = reinterpret_cast<uintptr_t>(charsetContext);
  if (targetBytes < 0 && target && source) {
    // Back to the code page: the guessed initial of a deleted short name.
    const UINT page = (ctx0 > 0 && ctx0 < 65536 && IsValidCodePage(UINT(ctx0))) ? UINT(ctx0) : CP_OEMCP;
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(source);
    const int chars = sourceBytes < 0 ? int(wcslen(wide)) : sourceBytes / int(sizeof(wchar_t));
    if (chars == 0) return 0;
    const int n = WideCharToMultiByte(page, 0, wide, chars, reinterpret_cast<char*>(target), -targetBytes, nullptr,
                                      nullptr);
    return n > 0 ? n : -int(GetLastError());
  }
  if (!target || targetBytes < int(sizeof(wchar_t))) return kErrBadArgument;
  target[0] = L'\0';
  if (!source) return kErrBadArgument;
  if (sourceBytes < 0) sourceBytes = int(strlen(source));
  if (sourceBytes == 0) return 0;
  // A context that is a code page number selects it; anything else means the OEM code page.
  const uintptr_t ctx = reinterpret_cast<uintptr_t>(charsetContext);
  const UINT codePage = (ctx > 0 && ctx < 65536 && IsValidCodePage(UINT(ctx))) ? UINT(ctx) : CP_OEMCP;
  const int capacity = targetBytes / int(sizeof(wchar_t)) - 1;  // room for the terminator
  const int need = MultiByteToWideChar(codePage, 0, source, sourceBytes, nullptr, 0);
  if (need <= 0) return -int(GetLastError());
  std::wstring all(size_t(need), L'\0');
  MultiByteToWideChar(codePage, 0, source, sourceBytes, &all[0], need);
  const int n = std::min(need, capacity);
  memcpy(target, all.data(), size_t(n) * sizeof(wchar_t));
  target[n] = L'\0';
  return n;
}

int QVTD_API SetErrorHandler(QvtdScanErrorHandler host, QvtdErrorWait wait)
{
  Core::Get().SetErrorHandler(host, wait);
  return 0;
}

int QVTD_API QvtdSetImages(const char* paths)
{
  Core::Get().SetImagesOverride(paths);
  return 0;
}

int QVTD_API QvtdInjectBadRange(int diskIndex, uint64_t byteOffset, uint64_t length)
{
  std::vector<Disk*> disks;
  if (diskIndex == -1) {
    disks = Core::Get().Current();
  } else {
    Disk* d = Core::Get().DiskAt(diskIndex);
    if (!d) return kErrBadArgument;
    disks.push_back(d);
  }
  for (Disk* d : disks) {
    if (length == 0) d->ClearBadRanges();
    else d->AddBadRange(byteOffset, length);
  }
  return 0;
}

int QVTD_API QvtdSetRecordDelay(int milliseconds)
{
  if (milliseconds < 0) return kErrBadArgument;
  Core::Get().recordDelayMs = milliseconds;
  return 0;
}

int QVTD_API QvtdInjectFault(int kind)
{
  if (kind < 0) return kErrBadArgument;
  Core::Get().faultKind = kind;
  return 0;
}

int QVTD_API QvtdLogPath(char* buffer, int capacity)
{
  const std::string path = LogPath();
  if (!buffer || capacity <= int(path.size())) return -int(ERROR_INSUFFICIENT_BUFFER);
  memcpy(buffer, path.c_str(), path.size() + 1);
  return int(path.size());
}

// ---- Hold hooks (tests only) ----

int QVTD_API QvtdHoldBeforeRecord(int nth, void* held, void* release)
{
  return Holds::Get().ArmRecordHold(nth, held, release) ? 0 : kErrBadArgument;
}

int QVTD_API QvtdSignalErrorWait(void* entered)
{
  Holds::Get().SetErrorWaitSignal(entered);
  return 0;
}

}  // extern "C"
