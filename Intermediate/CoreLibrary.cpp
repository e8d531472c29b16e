// The binding to the core library: the module handle, look-up by name at each call,
// and the typed calls the rest of the library makes into the core.
#include "CoreLibrary.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace Core {
namespace {

std::atomic<HMODULE> g_module{nullptr};

}  // namespace

HMODULE Load() {
  HMODULE module = ::LoadLibraryA(kModuleName);
  if (module) g_module.store(module);
  return module;
}

HMODULE Module() { return g_module.load(); }

FARPROC Find(const char* name) {
  HMODULE module = g_module.load();
  if (!module) return nullptr;
  return ::GetProcAddress(module, name);
}

DWORD MissingError(const char* name) {
  if (!g_module.load()) return ERROR_MOD_NOT_FOUND;
  return Find(name) ? ERROR_SUCCESS : ERROR_PROC_NOT_FOUND;
}

std::optional<int> InitBitLockerReader() {
  auto fn = Get<InitBitLockerReaderFn>("InitBitLockerReader");
  if (!fn) return std::nullopt;
  return fn();
}

std::optional<int> InitLog() {
  auto fn = Get<InitLogFn>("InitLog");
  if (!fn) return std::nullopt;
  return fn();
}

std::optional<int> EnumDisks(int capacity, DiskRecord* table) {
  auto fn = Get<EnumDisksFn>("EnumDisks");
  if (!fn) return std::nullopt;
  return fn(capacity, table);
}

std::optional<int> EnumPartitions(DiskRecord* disk, int first, int count, void* records, int* found) {
  auto fn = Get<EnumPartitionsFn>("EnumPartitions");
  if (!fn) return std::nullopt;
  return fn(disk, first, count, records, found);
}

std::optional<void*> GetPartition(DiskRecord* disk, int partitionIndex, uint16_t* type) {
  auto fn = Get<GetPartitionFn>("GetPartition");
  if (!fn) return std::nullopt;
  return fn(disk, partitionIndex, type);
}

std::optional<int> GetDiskBySerialNo(DiskRecord* disk, const char* serial, uint64_t startSector,
                                     const uint8_t* bootSector, int* realDiskIndex) {
  auto fn = Get<GetDiskBySerialNoFn>("GetDiskBySerialNo");
  if (!fn) return std::nullopt;
  return fn(disk, serial, startSector, bootSector, realDiskIndex);
}

std::optional<uint64_t> GetDiskDeepScanSize(void* diskContext, void* wholeDisk) {
  auto fn = Get<GetDiskDeepScanSizeFn>("GetDiskDeepScanSize");
  if (!fn) return std::nullopt;
  return fn(diskContext, wholeDisk);
}

std::optional<int> ReadPartition(void* partition, void* diskContext, uint64_t byteOffset, uint32_t length,
                                 void* buffer) {
  auto fn = Get<ReadPartitionFn>("ReadPartition");
  if (!fn) return std::nullopt;
  return fn(partition, diskContext, byteOffset, length, buffer);
}

void ReleaseCacheBuffer(void* buffer) {
  if (auto fn = Get<ReleaseCacheBufferFn>("ReleaseCacheBuffer")) fn(buffer);
}

void ReleaseDirBuffer(void* handle) {
  if (auto fn = Get<ReleaseDirBufferFn>("ReleaseDirBuffer")) fn(handle);
}

std::optional<int> SetPartBitLocker(void* partition, int value) {
  auto fn = Get<SetPartBitLockerFn>("SetPartBitLocker");
  if (!fn) return std::nullopt;
  return fn(partition, value);
}

std::optional<int> SetErrorHandler(void* hostCallback, ErrorWaitFn wait) {
  auto fn = Get<SetErrorHandlerFn>("SetErrorHandler");
  if (!fn) return std::nullopt;
  return fn(hostCallback, wait);
}

std::optional<int> NTFSEnumVirtualFRs(void* partition, void* context, int formatted, NtfsRecordFn onRecord,
                                      NtfsFinishFn onFinish, void* task, uint32_t* progressBlock) {
  auto fn = Get<NTFSEnumVirtualFRsFn>("NTFSEnumVirtualFRs");
  if (!fn) return std::nullopt;
  return fn(partition, context, formatted, onRecord, onFinish, task, progressBlock);
}

std::optional<int> NTFSReadVirtualMFT(void* context, uint64_t recordNumber, void* buffer) {
  auto fn = Get<NTFSReadVirtualMFTFn>("NTFSReadVirtualMFT");
  if (!fn) return std::nullopt;
  return fn(context, recordNumber, buffer);
}

std::optional<int> FATFormattedScanRoutine(void* partition, void* context, FatVolumeFn onVolume, void* worker,
                                           uint32_t* progressBlock) {
  auto fn = Get<FATFormattedScanRoutineFn>("FATFormattedScanRoutine");
  if (!fn) return std::nullopt;
  return fn(partition, context, onVolume, worker, progressBlock);
}

std::optional<int> RecoverFATFile(void* partition, void* context, const FatFileBlock* block, const wchar_t* path,
                                  uint32_t firstCluster, uint64_t size, uint64_t time) {
  auto fn = Get<RecoverFATFileFn>("RecoverFATFile");
  if (!fn) return std::nullopt;
  return fn(partition, context, block, path, firstCluster, size, time);
}

CharSetTransferFn CharSetTransfer() { return Get<CharSetTransferFn>("CharSetTransfer"); }

void WriteLogWText(int level, const char* source, const char* function, int line, const wchar_t* text) {
  auto fn = Get<WriteLogWFn>("WriteLogW");
  if (!fn) return;
  fn(level, source, function, line, L"%s", text ? text : L"");
}

void WriteLogV(int level, const char* source, const char* function, int line, const char* format,
               va_list args) {
  auto fn = Get<WriteLogFn>("WriteLog");
  if (!fn) return;
  char text[2048];
  std::vsnprintf(text, sizeof text, format, args);
  fn(level, source, function, line, "%s", text);
}

void WriteLog(int level, const char* source, const char* function, int line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLogV(level, source, function, line, format, args);
  va_end(args);
}

const char* SourceName(const char* path, char* buffer, size_t capacity) {
  if (capacity == 0) return "";
  const char* name = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  size_t length = std::strlen(name);
  if (const char* dot = std::strrchr(name, '.')) length = size_t(dot - name);
  if (length >= capacity) length = capacity - 1;
  std::memcpy(buffer, name, length);
  buffer[length] = '\0';
  return buffer;
}

}  // namespace Core
