// Binding to the core disk library "qvtdserver.dll". The module is loaded by
// ServiceInitialize; every call looks its function up by name at the moment of the
// call, so a core that is replaced or lacks a function is met where it matters.
#pragma once
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <optional>

#include "BoundaryRecords.h"

namespace Core {

// cdecl signatures of the core's exports, as this library calls them.
using InitBitLockerReaderFn = int(__cdecl*)();
using InitLogFn = int(__cdecl*)();
using WriteLogFn = void(__cdecl*)(int level, const char* source, const char* function, int line,
                                  const char* format, ...);
using EnumDisksFn = int(__cdecl*)(int capacity, DiskRecord* table);
using EnumPartitionsFn = int(__cdecl*)(DiskRecord* disk, int first, int count, void* records, int* found);
using GetPartitionFn = void*(__cdecl*)(DiskRecord* disk, int partitionIndex, uint16_t* type);
using GetDiskBySerialNoFn = int(__cdecl*)(DiskRecord* disk, const char* serial, uint64_t startSector,
                                          const uint8_t* bootSector, int* realDiskIndex);
using GetDiskDeepScanSizeFn = uint64_t(__cdecl*)(void* diskContext, void* wholeDisk);
using ReadPartitionFn = int(__cdecl*)(void* partition, void* diskContext, uint64_t byteOffset,
                                      uint32_t length, void* buffer);
using ReleaseCacheBufferFn = void(__cdecl*)(void* buffer);
using ReleaseDirBufferFn = void(__cdecl*)(void* handle);
using SetPartBitLockerFn = int(__cdecl*)(void* partition, int value);
using ErrorWaitFn = int(__cdecl*)();
// The host's read-error callback is the core's type; it is passed on untouched.
using SetErrorHandlerFn = int(__cdecl*)(void* hostCallback, ErrorWaitFn wait);

constexpr const char kModuleName[] = "qvtdserver.dll";

// Loads the module (again: the system counts the references) and keeps the handle.
// Returns the handle, null when the core cannot be loaded.
HMODULE Load();
HMODULE Module();

// Address of a core export, looked up now; null when the core or the name is missing.
FARPROC Find(const char* name);
template <class Fn>
Fn Get(const char* name) {
  // FARPROC is a generic code pointer; the real signature is the caller's.
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(Find(name)));
}

// Windows error that explains why a core call could not be made (module or name missing).
DWORD MissingError(const char* name);

std::optional<int> InitBitLockerReader();
std::optional<int> InitLog();
std::optional<int> EnumDisks(int capacity, DiskRecord* table);
std::optional<int> EnumPartitions(DiskRecord* disk, int first, int count, void* records, int* found);
// Partition handle (null when it cannot be opened); nullopt when the core lacks the call.
std::optional<void*> GetPartition(DiskRecord* disk, int partitionIndex, uint16_t* type);
std::optional<int> GetDiskBySerialNo(DiskRecord* disk, const char* serial, uint64_t startSector,
                                     const uint8_t* bootSector, int* realDiskIndex);
std::optional<uint64_t> GetDiskDeepScanSize(void* diskContext, void* wholeDisk);
std::optional<int> ReadPartition(void* partition, void* diskContext, uint64_t byteOffset, uint32_t length,
                                 void* buffer);
void ReleaseCacheBuffer(void* buffer);
void ReleaseDirBuffer(void* handle);
std::optional<int> SetPartBitLocker(void* partition, int value);
std::optional<int> SetErrorHandler(void* hostCallback, ErrorWaitFn wait);

// NTFS walk: the record callback gets the core's record block (its running flag stops
// the walk at 0); the finish callback gets the task and the block, once.
using NtfsRecordFn = int(__cdecl*)(void* block);
using NtfsFinishFn = void(__cdecl*)(void* task, int32_t block);
using NTFSEnumVirtualFRsFn = int(__cdecl*)(void* partition, void* context, int formatted, NtfsRecordFn onRecord,
                                           NtfsFinishFn onFinish, void* task, uint32_t* progressBlock);
using NTFSReadVirtualMFTFn = int(__cdecl*)(void* context, uint64_t recordNumber, void* buffer);
using WriteLogWFn = void(__cdecl*)(int level, const char* source, const char* function, int line,
                                   const wchar_t* format, ...);
std::optional<int> NTFSEnumVirtualFRs(void* partition, void* context, int formatted, NtfsRecordFn onRecord,
                                      NtfsFinishFn onFinish, void* task, uint32_t* progressBlock);
std::optional<int> NTFSReadVirtualMFT(void* context, uint64_t recordNumber, void* buffer);

// FAT and exFAT scans: the core reads the boot sector and calls the volume callback once
// on the scanning thread; a formatted scan asks for raw directory sectors through the
// values block (the stand-in's header describes the block).
struct FatVolumeValues;
using FatVolumeFn = int(__cdecl*)(void* worker, void* charsetContext, FatVolumeValues* values, uint32_t bootLength);
using FATFormattedScanRoutineFn = int(__cdecl*)(void* partition, void* context, FatVolumeFn onVolume, void* worker,
                                                uint32_t* progressBlock);
using CharSetTransferFn = int(__cdecl*)(void* context, const char* source, int sourceBytes, wchar_t* target,
                                        int targetBytes);
// What RecoverFATFile needs to know of a file besides its first cluster and size.
struct FatFileBlock {
  uint32_t bytes;    // of this block
  uint32_t deleted;  // 1: consecutive clusters, passing over allocated ones; 0: the FAT chain
};
using RecoverFATFileFn = int(__cdecl*)(void* partition, void* context, const FatFileBlock* block, const wchar_t* path,
                                       uint32_t firstCluster, uint64_t size, uint64_t time);
std::optional<int> FATFormattedScanRoutine(void* partition, void* context, FatVolumeFn onVolume, void* worker,
                                           uint32_t* progressBlock);
std::optional<int> RecoverFATFile(void* partition, void* context, const FatFileBlock* block, const wchar_t* path,
                                  uint32_t firstCluster, uint64_t size, uint64_t time);
// The core's short-name conversion, looked up now; null when the core lacks it.
CharSetTransferFn CharSetTransfer();

// Log levels of the core's log.
enum LogLevel { kLogInfo = 0, kLogWarning = -1, kLogError = -2 };

// Formats here and hands the finished text to the core as "%s", so that no host or
// disk text is ever read by the core as a format. Silent when the core has no log.
void WriteLog(int level, const char* source, const char* function, int line, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
// A finished wide text to the core's wide log (handed over as "%s", never as a format).
void WriteLogWText(int level, const char* source, const char* function, int line, const wchar_t* text);
void WriteLogV(int level, const char* source, const char* function, int line, const char* format,
               va_list args);

// "C:\x\Interface.cpp" -> "Interface": the log names its sources without folder and extension.
const char* SourceName(const char* path, char* buffer, size_t capacity);

}  // namespace Core

// Log from the current source file: CORE_LOG(level, "CStorage::Method", "format", ...).
#define CORE_LOG(level, function, ...)                                                     \
  do {                                                                                     \
    char coreLogSource_[64];                                                               \
    ::Core::WriteLog((level), ::Core::SourceName(__FILE__, coreLogSource_, sizeof coreLogSource_), \
                     (function), __LINE__, __VA_ARGS__);                                   \
  } while (0)
