// The library's exports: plain cdecl functions over the one registry.
#include <windows.h>

#include <cstdint>

#include "BoundaryRecords.h"
#include "Interface.h"

namespace {

CStorage g_storage;

using TaskPtr = std::shared_ptr<CStorage::CScanTask>;

// Ids leave the library one higher than inside, so the internal "none" (all ones) reads 0.
void AddOne(uint64_t* id) {
  if (id) *id += 1;
}

bool BadPage(int32_t count, const void* buffer, const int32_t* got) { return count <= 0 || !buffer || !got; }

}  // namespace

#define EXPORT extern "C" __declspec(dllexport) int32_t __cdecl

EXPORT ServiceInitialize() { return g_storage.Initialize(); }

EXPORT ListDisks(int32_t first, int32_t count, void* buffer, int32_t* copied) {
  return g_storage.ListDisks(first, count, buffer, copied);
}

EXPORT ListPartitions(int32_t disk, int32_t first, int32_t count, void* buffer, int32_t* found) {
  return g_storage.ListPartitions(disk, first, count, buffer, found);
}

EXPORT StartScanTask(int32_t disk, int32_t partition, int32_t options, int32_t* taskId) {
  return g_storage.StartScanTask(disk, partition, options, taskId);
}

EXPORT StartScanFormattedTask(int32_t disk, int32_t partition, int32_t options, int32_t* taskId) {
  return g_storage.StartScanFormattedTask(disk, partition, options, taskId);
}

EXPORT StartFSDeepScanTask(int32_t disk, int32_t partition, int32_t options, int32_t* taskId) {
  return g_storage.StartFSDeepScanTask(disk, partition, options, taskId);
}

EXPORT StartDeepScanTask(int32_t disk, int32_t partition, int32_t options, int32_t fsTaskId,
                         const wchar_t* resultFile, int32_t* taskId) {
  return g_storage.StartDeepScanTask(disk, partition, options, fsTaskId, resultFile, taskId);
}

EXPORT StartDiskDeepScanTask(int32_t disk, int32_t* taskId) { return g_storage.StartDiskDeepScanTask(disk, taskId); }

EXPORT StartRecoverPartScan(int32_t disk, int32_t value, int32_t* taskId) {
  return g_storage.StartRecoverPartScan(disk, value, taskId);
}

EXPORT StartRepairDiskPartTable(int32_t disk, int32_t* taskId) {
  return g_storage.StartRepairDiskPartTable(disk, taskId);
}

EXPORT StartRepairPartition(int32_t disk, int32_t partition, int32_t* taskId) {
  return g_storage.StartRepairPartition(disk, partition, taskId);
}

EXPORT RepairDiskPartTable(int32_t taskId) {
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  return task->RepairDiskPartTable();
}

EXPORT GetRecoverPartProgress(int32_t taskId, int32_t* progress, void* partitions, int32_t count,
                              int32_t* finished) {
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  if (count < 0 || (count > 0 && !partitions)) return kResultBadArgument;
  task->GetRecoverPartProgress(progress, partitions, count, finished);
  return kResultOk;
}

EXPORT GetScanProgress(int32_t taskId, int32_t* progress, int32_t* fileCount, int32_t* deletedCount,
                       int32_t* finished) {
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  task->GetScanProgress(progress, fileCount, deletedCount, finished);
  return kResultOk;
}

EXPORT PauseWork(int32_t taskId, int32_t pause) {
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  return task->PauseWork(pause);
}

EXPORT StopWork(int32_t taskId) { return g_storage.StopWork(taskId); }

EXPORT CloseScanTask(int32_t taskId) { return g_storage.CloseScanTask(taskId); }

EXPORT EnumScannedFiles(int32_t taskId, const wchar_t* path, int32_t count, ScanFileRecord* records, int32_t* got,
                        int32_t* childCount, int32_t* fileCount, int32_t* deletedCount, uint64_t* totalSize,
                        uint64_t* deletedSize, int32_t* handle) {
  if (got) *got = 0;
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  if (BadPage(count, records, got)) return kResultBadArgument;
  return task->EnumScannedFiles(path, 0, count, records, got, childCount, fileCount, deletedCount, totalSize,
                                deletedSize, handle);
}

EXPORT ContinueEnumScannedFiles(int32_t taskId, int32_t handle, int32_t count, ScanFileRecord* records,
                                int32_t* got) {
  if (got) *got = 0;
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  if (BadPage(count, records, got) || handle == 0) return kResultBadArgument;
  return task->EnumScannedFiles(nullptr, handle, count, records, got, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr);
}

EXPORT GlobalEnumScannedFiles(int32_t taskId, int32_t list, int32_t count, ScanFileRecord* records, int32_t* got,
                              int32_t* handle) {
  if (got) *got = 0;
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  if (BadPage(count, records, got)) return kResultBadArgument;
  return task->GlobalEnumScannedFiles(list, 0, count, records, got, handle);
}

EXPORT ContinueGlobalEnumScannedFiles(int32_t taskId, int32_t handle, int32_t count, ScanFileRecord* records,
                                      int32_t* got) {
  if (got) *got = 0;
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  if (BadPage(count, records, got) || handle == 0) return kResultBadArgument;
  return task->GlobalEnumScannedFiles(0, handle, count, records, got, nullptr);
}

EXPORT GlobalFilterScannedFiles(int32_t taskId, int32_t filterCount, const ScanFilter* filters, int32_t count,
                                ScanFileRecord* records, int32_t* got, int32_t* handle) {
  if (got) *got = 0;
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  if (BadPage(count, records, got) || filterCount <= 0 || !filters) return kResultBadArgument;
  return task->GlobalFilterScannedFiles(0, filterCount, filters, count, records, got, handle);
}

EXPORT ContinueGlobalFilterScannedFiles(int32_t taskId, int32_t handle, int32_t count, ScanFileRecord* records,
                                        int32_t* got) {
  if (got) *got = 0;
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  if (BadPage(count, records, got) || handle == 0) return kResultBadArgument;
  return task->GlobalFilterScannedFiles(handle, 0, nullptr, count, records, got, nullptr);
}

EXPORT CloseEnumHandle(int32_t taskId, int32_t handle) {
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  return task->CloseEnumHandle(handle);
}

EXPORT EnumFileTypes(int32_t taskId, int32_t start, int32_t count, int32_t* total, int32_t* got,
                     FileTypeRecord* records) {
  if (got) *got = 0;
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  if (BadPage(count, records, got) || start < 0) return kResultBadArgument;
  return task->EnumFileTypes(start, count, total, got, records);
}

EXPORT QueryFileName(int32_t taskId, uint64_t entryId, int32_t source, uint64_t* parentId, wchar_t* name) {
  TaskPtr task = g_storage.FindTask(taskId);
  int32_t result = kResultNoTask;
  if (task) result = name ? task->QueryFileName(entryId - 1, uint32_t(source), parentId, name) : kResultBadArgument;
  AddOne(parentId);
  return result;
}

EXPORT QueryFileFullPath(int32_t taskId, uint64_t entryId, wchar_t* buffer) {
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  if (!buffer) return kResultBadArgument;
  buffer[0] = L'\0';
  task->QueryFileFullPath(entryId - 1, buffer);
  return kResultOk;
}

EXPORT GetLastFileInformation(int32_t taskId, wchar_t* name, uint64_t* id, uint64_t* parentId) {
  if (TaskPtr task = g_storage.FindTask(taskId)) {
    if (name && id && parentId) task->GetLastFileInformation(name, id, parentId);
  }
  AddOne(id);
  AddOne(parentId);
  return 0;
}

EXPORT GetResultFileName(int32_t taskId, wchar_t* buffer) {
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  if (!buffer) return kResultBadArgument;
  return task->GetResultFileName(buffer);
}

EXPORT SetTargetPath(int32_t taskId, const wchar_t* path, int32_t* freeMB) {
  return g_storage.SetTargetPath(taskId, path, freeMB);
}

EXPORT RecoverFile(int32_t taskId, int32_t mode, int32_t count, const wchar_t* folder, const wchar_t* names,
                   const int32_t* sources) {
  // Hosts size their name lists in 512-byte slots: counts whose sizes wrap are refused.
  if (count <= 0 || count > INT32_MAX / 512 || !folder || !names) return kResultBadArgument;
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  return task->RecoverFile(mode, count, folder, names, sources);
}

EXPORT RecoverFileByID(int32_t taskId, int32_t count, const wchar_t* target, const RecoverIdItem* items) {
  return g_storage.RecoverFileByID(taskId, count, target, items);
}

EXPORT GetRecoverProgress(int32_t taskId, int32_t* recovered, int32_t* finished) {
  TaskPtr task = g_storage.FindTask(taskId);
  if (!task) return kResultNoTask;
  task->GetRecoverProgress(recovered, finished);
  return kResultOk;
}

EXPORT GetLoadFileInfo(const wchar_t* path, int32_t* disk, int32_t* partition, wchar_t* driveText,
                       uint16_t* partitionType) {
  return g_storage.GetLoadFileInfo(path, disk, partition, driveText, partitionType);
}

EXPORT SetScanErrorHandler(void* callback) { return g_storage.SetScanErrorHandler(callback); }

EXPORT RetryWork(int32_t reserved, int32_t decision) { return g_storage.RetryWork(reserved, decision); }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
