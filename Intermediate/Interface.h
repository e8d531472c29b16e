// The registry behind the exports (CStorage), the scan-task interface that every task
// class implements, the worker base and the read-error retry handshake.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "BoundaryRecords.h"

// Results at the export boundary.
enum ExportCode : int32_t {
  kResultOk = 0,
  kResultNoTask = -2,
  kResultNoMemory = -8,
  kResultBadArgument = -87,
  kResultBusy = 87,  // CloseScanTask: the task is still in use
};
inline int32_t WindowsErrorCode(DWORD error) { return -int32_t(error); }

// Partition index that stands for the whole disk in raw scans.
constexpr int32_t kWholeDiskPartition = 0x2000;
// Retry decision meaning "none yet"; the wait also answers it when the scan is stopped.
constexpr int32_t kNoRetryDecision = -1;

// Non-throwing allocation for everything whose failure the exports report as -8.
// Tests make the next N allocations fail.
void SetAllocationFailuresForTest(int count);
bool AllocationShouldFail();
template <class T>
std::unique_ptr<T[]> TryAllocateArray(size_t count) {
  if (AllocationShouldFail()) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]());
}

// The host's copy of a disk record: 272 bytes, both texts blank-padded to 128
// characters from their terminator on, without terminator.
void CopyDiskRecordForHost(const DiskRecord& disk, uint8_t* out);

// Which starter asked for a task; with the partition type it selects the task class.
enum class StarterKind {
  kScan,                 // StartScanTask
  kScanFormatted,        // StartScanFormattedTask
  kRawDeepScan,          // StartFSDeepScanTask, and the fallbacks of the others
  kCombinedDeepScan,     // StartDeepScanTask without a result file
  kDiskDeepScan,         // StartDiskDeepScanTask
  kRecoverPartScan,      // StartRecoverPartScan
  kRepairDiskPartTable,  // StartRepairDiskPartTable
  kRepairPartition,      // StartRepairPartition
};

class CStorage;
class IVolumeWorker;

// What a starter hands to the task it builds.
struct TaskParams {
  CStorage*       storage = nullptr;
  int32_t         taskId = 0;
  int32_t         disk = 0;
  int32_t         partition = 0;
  uint32_t        options = 0;  // with bit 0x20 added
  uint16_t        partitionType = 0;
  void*           diskContext = nullptr;
  void*           partitionHandle = nullptr;
  const wchar_t*  resultFile = nullptr;  // StartDeepScanTask with a stored result
  int32_t         fsTaskId = 0;          // StartDeepScanTask: file-system task to reuse
  int32_t         value = 0;             // StartRecoverPartScan's value argument
  DiskRecord      diskRecord{};               // the task keeps what it needs of it
  std::vector<PartitionRecord> partitions;    // StartDiskDeepScanTask: the disk's partitions
  int32_t         partitionCount = 0;
};

class CStorage {
 public:
  class CScanTask;

  // Builds the task (and its worker) for one starter; 0, -8 or -87.
  using TaskBuilder = int32_t (*)(const TaskParams& params, std::unique_ptr<CScanTask>& task);
  // Task class of a starter for a partition type; null when there is none.
  using TaskBuilderLookup = TaskBuilder (*)(StarterKind kind, uint16_t partitionType);
  static TaskBuilder DefaultTaskBuilder(StarterKind kind, uint16_t partitionType);

  explicit CStorage(TaskBuilderLookup lookup = &CStorage::DefaultTaskBuilder);
  virtual ~CStorage();
  CStorage(const CStorage&) = delete;
  CStorage& operator=(const CStorage&) = delete;

  // ServiceInitialize: binds the core, enumerates the disks; the disk count.
  int32_t Initialize();
  int32_t DiskCount() const;
  // Copy of a disk's record; false for an index outside the table.
  bool GetDisk(int32_t disk, DiskRecord* out) const;
  // For tests of the host copy: replaces the disk table.
  void SetDisksForTest(const std::vector<DiskRecord>& disks);

  int32_t ListDisks(int32_t first, int32_t count, void* buffer, int32_t* copied) const;
  int32_t ListPartitions(int32_t disk, int32_t first, int32_t count, void* buffer, int32_t* found);

  int32_t StartScanTask(int32_t disk, int32_t partition, int32_t options, int32_t* taskId);
  int32_t StartScanFormattedTask(int32_t disk, int32_t partition, int32_t options, int32_t* taskId);
  int32_t StartFSDeepScanTask(int32_t disk, int32_t partition, int32_t options, int32_t* taskId);
  int32_t StartDeepScanTask(int32_t disk, int32_t partition, int32_t options, int32_t fsTaskId,
                            const wchar_t* resultFile, int32_t* taskId);
  int32_t StartDiskDeepScanTask(int32_t disk, int32_t* taskId);
  int32_t StartRecoverPartScan(int32_t disk, int32_t value, int32_t* taskId);
  int32_t StartRepairDiskPartTable(int32_t disk, int32_t* taskId);
  int32_t StartRepairPartition(int32_t disk, int32_t partition, int32_t* taskId);

  // One start as the exports make it. Combined tasks start their sub-tasks on their
  // own disk and partition, so they ask without the duplicate check.
  struct StartRequest {
    StarterKind kind = StarterKind::kScan;
    int32_t disk = 0;
    int32_t partition = 0;
    int32_t options = 0;
    int32_t fsTaskId = 0;
    const wchar_t* resultFile = nullptr;
    int32_t value = 0;
    bool checkDuplicate = true;
  };
  int32_t StartTask(const StartRequest& request, int32_t* taskId);

  // The live task with that id, held so that a concurrent close cannot free it under
  // the caller; null when there is none.
  std::shared_ptr<CScanTask> FindTask(int32_t taskId) const;
  size_t TaskCount() const;

  int32_t StopWork(int32_t taskId);
  int32_t CloseScanTask(int32_t taskId);
  // How long CloseScanTask waits for a running task to end before it answers 87.
  void SetCloseTimeoutForTest(DWORD milliseconds) { m_closeTimeoutMs = milliseconds; }

  int32_t SetTargetPath(int32_t taskId, const wchar_t* path, int32_t* freeMB);
  int32_t RecoverFileByID(int32_t taskId, int32_t count, const wchar_t* target, const RecoverIdItem* items);
  int32_t GetLoadFileInfo(const wchar_t* path, int32_t* disk, int32_t* partition, wchar_t* driveText,
                          uint16_t* partitionType);

  // Read-error retry handshake.
  int32_t SetScanErrorHandler(void* hostCallback);
  int32_t RetryWork(int32_t reserved, int32_t decision);
  // True when the wait on the calling thread must give up: its own task is being
  // stopped, or (for a thread no task owns) a stop began after the wait did.
  bool RetryWaitShouldEnd(DWORD threadId, uint32_t stopGenerationAtStart) const;
  uint32_t StopGeneration() const { return m_stopGeneration.load(); }

  // The process-wide lock of the partition-table tasks, made once and kept.
  static CRITICAL_SECTION& PartitionLock();

 private:
  struct StopScope;
  bool HasTaskOn(int32_t disk, int32_t partition, bool diskOnly) const;

  uint32_t m_reserved = 0;
  std::atomic<int32_t> m_diskCount{0};
  std::atomic<int32_t> m_taskCounter{0};
  std::vector<DiskRecord> m_disks;
  std::vector<std::shared_ptr<CScanTask>> m_tasks;
  mutable std::recursive_mutex m_lock;  // disk table and task list
  TaskBuilderLookup m_lookup;
  DWORD m_closeTimeoutMs = 30000;
  std::atomic<uint32_t> m_stopGeneration{0};
  std::atomic<int32_t> m_stopsInProgress{0};
};

// Worker base: runs one task's scan on a thread of its own that is never joined; the
// task's flags tell when it is done.
class IVolumeWorker {
 public:
  IVolumeWorker(CStorage* storage, CStorage::CScanTask* task) : m_storage(storage), m_task(task) {}
  virtual ~IVolumeWorker() = default;
  // Creates the thread (its handle closed at once); the result of closing the handle.
  virtual BOOL Start();
  DWORD ThreadId() const { return m_threadId.load(); }

 protected:
  virtual DWORD Run() = 0;
  CStorage* m_storage;
  CStorage::CScanTask* m_task;

 private:
  static DWORD WINAPI ThreadMain(void* self);
  std::atomic<DWORD> m_threadId{0};
};

// The interface of every scan task. The operations come in the order of the task
// table; the file-tree ones are the task classes' own.
class CStorage::CScanTask {
 public:
  explicit CScanTask(const TaskParams& params);
  virtual ~CScanTask();
  CScanTask(const CScanTask&) = delete;
  CScanTask& operator=(const CScanTask&) = delete;

  virtual int32_t EnumScannedFiles(const wchar_t* path, int32_t handle, int32_t count, ScanFileRecord* records,
                                   int32_t* got, int32_t* childCount, int32_t* fileCount, int32_t* deletedCount,
                                   uint64_t* totalSize, uint64_t* deletedSize, int32_t* outHandle) = 0;
  virtual int32_t GlobalEnumScannedFiles(int32_t list, int32_t handle, int32_t count, ScanFileRecord* records,
                                         int32_t* got, int32_t* outHandle) = 0;
  virtual int32_t GlobalFilterScannedFiles(int32_t handle, int32_t filterCount, const ScanFilter* filters,
                                           int32_t count, ScanFileRecord* records, int32_t* got,
                                           int32_t* outHandle) = 0;
  virtual int32_t PauseWork(int32_t value);
  virtual int32_t StopWork();
  virtual void GetRecoverProgress(int32_t* recovered, int32_t* finished);
  virtual int32_t EnumFileTypes(int32_t start, int32_t count, int32_t* total, int32_t* got,
                                FileTypeRecord* records) = 0;
  virtual int32_t QueryFileName(uint64_t id, uint32_t source, uint64_t* parentId, wchar_t* name) = 0;
  virtual int32_t CloseEnumHandle(int32_t handle) = 0;
  virtual int32_t RecoverFile(int32_t mode, int32_t count, const wchar_t* folder, const wchar_t* names,
                              const int32_t* sources) = 0;
  virtual int32_t RecoverFileByID(int32_t count, const wchar_t* target, const RecoverIdItem* items) = 0;
  virtual int32_t Close() = 0;
  virtual void SetTargetPath(const wchar_t* path);
  virtual void PostScan() = 0;
  virtual int32_t RepairDiskPartTable();
  virtual int32_t GetResultFileName(wchar_t* buffer);
  virtual void ScanInit() {}
  virtual void WorkFinishRoutine(int32_t value) = 0;
  virtual int32_t GetTaskId() const { return m_taskId; }
  uint64_t MakeGlobalId(uint32_t low, uint32_t high) const;

  // Queries by id of the tree; the ids here are internal.
  virtual int32_t QueryFileFullPath(uint64_t id, wchar_t* buffer) = 0;
  // Name and ids of the entry found last; false when there is none yet.
  virtual bool GetLastFileInformation(wchar_t* name, uint64_t* id, uint64_t* parentId) = 0;
  // Partition-search progress; tasks that are not partition searches log and give
  // only their progress and finished values.
  virtual void GetRecoverPartProgress(int32_t* progress, void* partitions, int32_t count, int32_t* finished);
  // Asks the work to end without waiting (combined tasks forward it).
  virtual void RequestStop() { m_running.store(0); }

  int32_t TaskId() const { return m_taskId; }
  int32_t Disk() const { return m_disk; }
  int32_t Partition() const { return m_partition; }
  bool IsRunning() const { return m_running.load() != 0; }
  bool IsFinished() const { return m_finished.load() != 0; }
  void SetWorker(std::unique_ptr<IVolumeWorker> worker) { m_worker = std::move(worker); }
  IVolumeWorker* Worker() const { return m_worker.get(); }
  // True when the task's worker thread is the given one.
  bool OwnsThread(DWORD threadId) const { return m_worker && threadId != 0 && m_worker->ThreadId() == threadId; }
  void GetScanProgress(int32_t* progress, int32_t* fileCount, int32_t* deletedCount, int32_t* finished) const;
  // One timed wait of the task (100 ms steps); returns at once when the task's event is set.
  void WaitStep(DWORD milliseconds = 100) const;

 protected:
  uint32_t m_options;
  CStorage* m_storage;
  int32_t m_taskId;
  int32_t m_disk;
  int32_t m_partition;
  uint16_t m_partitionType;
  void* m_diskContext;
  void* m_partitionHandle;
  std::unique_ptr<IVolumeWorker> m_worker;
  std::wstring m_targetRoot;  // set by SetTargetPath, '\\' separators
  HANDLE m_waitEvent;
  std::atomic<int32_t> m_running{1};
  std::atomic<int32_t> m_finished{0};
  std::atomic<int32_t> m_pause{0};
  std::atomic<int32_t> m_progress{0};
  std::atomic<int32_t> m_fileCount{0};
  std::atomic<int32_t> m_deletedCount{0};
  std::atomic<int32_t> m_recovered{0};
};

// The wait function handed to the core with the host's read-error callback.
int __cdecl RetryWait();
