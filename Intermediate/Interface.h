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
#include "FileTree.h"
#include "Lists.h"
#include "ScanTask.h"
#include "UniqueRes.h"

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
// Tests make the next N allocations fail, or sweep: the nth allocation from now fails
// (1 = the next; 0 disarms), once or, with onward, together with every later one.
void SetAllocationFailuresForTest(int count);
void SetAllocationFailureAtForTest(int nth, bool onward = false);
int AllocationsCountedForTest();       // allocations asked for since the last arming
bool AllocationFailureFiredForTest();  // whether the armed failure has happened
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
  class CNTFSScanTask;
  class CNTFSScanFormattedTask;
  class CFATScanTask;
  class CFATScanFormattedTask;

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
  // exceptTaskId: a task the start reuses, which is no duplicate of it.
  bool HasTaskOn(int32_t disk, int32_t partition, bool diskOnly, int32_t exceptTaskId = 0) const;

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
  // Returns once the thread has left Run (at once when it never started): the task
  // that owns the worker must outlive the last step of its thread.
  void WaitUntilExited() const;

 protected:
  virtual DWORD Run() = 0;
  CStorage* m_storage;
  CStorage::CScanTask* m_task;

 private:
  static DWORD WINAPI ThreadMain(void* self);
  std::atomic<DWORD> m_threadId{0};
  std::atomic<bool> m_inRun{false};
};

// The base of every scan task: identity, the flags the host polls, the result tree
// and its id map, the name store, the pending queue and its indexer thread, the four
// global lists and the file-type table, the enumeration contexts. The virtual
// operations come in the order of the task table.
class CStorage::CScanTask {
 public:
  explicit CScanTask(const TaskParams& params);
  virtual ~CScanTask();
  CScanTask(const CScanTask&) = delete;
  CScanTask& operator=(const CScanTask&) = delete;

  virtual int32_t EnumScannedFiles(const wchar_t* path, int32_t handle, int32_t count, ScanFileRecord* records,
                                   int32_t* got, int32_t* childCount, int32_t* fileCount, int32_t* deletedCount,
                                   uint64_t* totalSize, uint64_t* deletedSize, int32_t* outHandle);
  virtual int32_t GlobalEnumScannedFiles(int32_t list, int32_t handle, int32_t count, ScanFileRecord* records,
                                         int32_t* got, int32_t* outHandle);
  virtual int32_t GlobalFilterScannedFiles(int32_t handle, int32_t filterCount, const ScanFilter* filters,
                                           int32_t count, ScanFileRecord* records, int32_t* got,
                                           int32_t* outHandle);
  virtual int32_t PauseWork(int32_t value);
  virtual int32_t StopWork();
  virtual void GetRecoverProgress(int32_t* recovered, int32_t* finished);
  virtual int32_t EnumFileTypes(int32_t start, int32_t count, int32_t* total, int32_t* got,
                                FileTypeRecord* records);
  virtual int32_t QueryFileName(uint64_t id, uint32_t source, uint64_t* parentId, wchar_t* name);
  virtual int32_t CloseEnumHandle(int32_t handle);
  // Starts recovering the named children of a tree folder on a thread of its own: 0, or
  // -87, -8, or the negated Windows error when the target cannot be written.
  virtual int32_t RecoverFile(int32_t mode, int32_t count, const wchar_t* folder, const wchar_t* names,
                              const int32_t* sources);
  // The same for entries by (internal) id; target must end in '/'.
  virtual int32_t RecoverFileByID(int32_t count, const wchar_t* target, const RecoverIdItem* items);
  // Stops the indexer and waits for it; 87 while enumerations are open, else frees the
  // tree, names, id pages and type table and releases the core's buffers.
  virtual int32_t Close();
  virtual void SetTargetPath(const wchar_t* path);
  virtual void PostScan() = 0;
  virtual int32_t RepairDiskPartTable();
  virtual int32_t GetResultFileName(wchar_t* buffer);
  // 1 when every folder of the path (up to its last '\') exists or was made, else 0.
  virtual int32_t CreateDirectoryPath(const wchar_t* path);
  // Turns path into "name_(n).ext" with the first n that names no existing file.
  virtual void MakeUniqueTargetName(wchar_t* path, size_t capacity);
  void MakeUniqueTargetName(std::wstring& path);
  // Record callback of the raw and formatted scanners; the running flag.
  virtual int32_t OnRecordFound(const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh,
                                uint32_t parentLow, uint32_t parentHigh, uint32_t sizeLow, uint32_t sizeHigh,
                                uint32_t timeLow, uint32_t timeHigh, uint32_t attributes, int32_t deleted,
                                int32_t progress);
  virtual void ScanInit();
  virtual void WorkFinishRoutine(int32_t value) = 0;
  // The id's cell, its page made when absent; null when memory ran out.
  virtual CFileEntry** GetIdCell(uint64_t id);
  // Writes one found file to target root + relative path; 0 on success.
  virtual int32_t RecoverOneFile(const wchar_t* targetRoot, uint64_t id, const wchar_t* relativePath);
  virtual CFileEntry* GetEntryById(uint64_t id);
  // The entry that the id's cell holds, or null; no page is made and nothing is logged.
  CFileEntry* FindEntryById(uint64_t id) const {
    CFileEntry* const* cell = m_idMap.FindCell(id);
    return cell ? *cell : nullptr;
  }
  // Record callback of the NTFS scanners (kind = name namespace, 2 = short name).
  virtual int32_t AddScannedEntry(const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh,
                                  uint32_t parentLow, uint32_t parentHigh, uint32_t sizeLow, uint32_t sizeHigh,
                                  uint32_t timeLow, uint32_t timeHigh, uint32_t attributes, int32_t deleted,
                                  int32_t progress);
  virtual wchar_t* InternName(const wchar_t* text);
  // What a file's extension view is taken from (LowerExtensionSource, copies interned).
  const wchar_t* ExtensionSource(const wchar_t* name);
  // A folder record for an id whose cell already holds an entry: the entry that now
  // stands for the folder (placed by the caller), or null to drop the record.
  virtual CFileEntry* FillPlaceholder(CFileEntry** cell, const wchar_t* name, uint32_t kind, uint64_t id,
                                      uint64_t parentId, uint64_t size, uint32_t time1, uint32_t time2,
                                      uint32_t attributes);
  // A file record for an id whose cell already holds an entry: the entry to place
  // under the record's parent, or null when nothing more is to be done.
  virtual CFileEntry* MergeSameId(CFileEntry** cell, CFileEntry* entry);
  virtual int32_t GetTaskId() const { return m_taskId; }
  virtual uint64_t MakeGlobalId(uint32_t low, uint32_t high) const;
  // Stores a link target on the entry of the id and queues it for the link pass.
  virtual void QueueLink(uint64_t id, const wchar_t* target);

  // Queries by id of the tree; the ids here are internal.
  virtual int32_t QueryFileFullPath(uint64_t id, wchar_t* buffer);
  // Name (at most 255 characters) and ids of the entry found last; false when none yet.
  virtual bool GetLastFileInformation(wchar_t* name, uint64_t* id, uint64_t* parentId);
  // Partition-search progress; tasks that are not partition searches log and give
  // only their progress and finished values.
  virtual void GetRecoverPartProgress(int32_t* progress, void* partitions, int32_t count, int32_t* finished);
  // Asks the work to end without waiting (combined tasks forward it).
  virtual void RequestStop() { m_running.store(0); }

  // The indexer runs from here on; the registry starts it once the task is accepted,
  // so that a start that fails never frees a task under its indexer.
  bool StartIndexer();
  // Clears the indexer's run flag and waits until it has drained, run PostScan and
  // ended; returns at once when it never started.
  void StopIndexer();
  bool IndexerDone() const { return m_indexerDone.load() != 0; }

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
  // Waits until done() holds, waking at once on NotifyChange and at least every 100 ms
  // (flags stored without a notification are still seen).
  template <class Done>
  void WaitUntil(Done done) const {
    CritSecLock hold(m_changeLock);
    while (!done()) ::SleepConditionVariableCS(&m_changed, &m_changeLock, 100);
  }
  // Wakes every WaitUntil of the task after one of its flags changed.
  void NotifyChange() const;

  uint64_t RootId() const { return m_rootId; }
  void SetRootId(uint64_t id) { m_rootId = id; }
  CVirtualRoot* VirtualRoot() { return &m_virtualRoot; }
  CPathEntry* UnknownFolder() { return m_unknownFolder; }
  CListGroup& GlobalList(int index) { return m_lists[index & 3]; }
  const CFileTypeTable& FileTypes() const { return m_fileTypes; }
  int32_t PendingCount() const { return m_pendingCount.load(); }
  size_t EnumContextCount() const { return m_contexts.size(); }
  uint32_t* ProgressBlock() { return m_progressBlock; }

 protected:
  uint64_t NextSequence() { return m_sequence++; }
  // Appends the entry's name node to the pending queue (under the task's lock).
  void QueuePending(CFileEntry* entry);
  // Indexes one entry now: the four lists and, for a file, its type record.
  void IndexEntry(CFileEntry* entry);
  // Takes an indexed file out of the lists and its type record.
  void UnindexEntry(CFileEntry* entry);
  // The folder that takes children of parentId: the cell's folder, else a placeholder
  // under "UnknownPath" (a file in the cell goes under "UnknownPath" too).
  CPathEntry* ParentFolderFor(uint64_t parentId);
  // Puts the entry under folder, out of wherever it was; an entry that would become its
  // own ancestor goes under "UnknownPath" instead.
  void PlaceEntry(CFileEntry* entry, CPathEntry* folder);
  // The pause loop of the record callbacks: ends when resumed or stopped.
  void WaitWhilePaused();
  // Hangs the root folder (cell of the root id) and "UnknownPath" under the virtual
  // root and recounts the whole tree.
  void AttachTreeToVirtualRoot();
  // Running = 0, indexer drained and done, then finished = 1.
  void FinishWork();
  // Names what stays nameless under folder: "UnknownPath%d" for folders with children
  // (childless ones leave), "UnknownFile%d" for files, which then go to the indexer
  // (and join the live counts with countNamedFiles).
  void NameOrphans(CPathEntry* folder, bool countNamedFiles = false);
  // A new enumeration context (handle assigned); null when memory ran out.
  EnumContext* OpenEnumContext();
  EnumContext* FindEnumContext(int32_t handle);
  bool RemoveEnumContext(int32_t handle);
  // Blocks until the indexer has filled the lists (at once when it never ran).
  void WaitForIndex() const;
  // The next page of an enumeration; moves its cursor past every node it reads.
  int32_t FillEnumPage(EnumContext& context, int32_t count, ScanFileRecord* records, int32_t* got);

  uint32_t m_options;
  uint64_t m_rootId = 0;
  // Recovery state: one recovery at a time, between taking and giving back the
  // finished flag.
  int32_t m_recoverCount = 0;
  std::wstring m_recoverFolder;
  std::wstring m_recoverRelative;  // RecoverFile: the safe folder under the target root
  std::vector<std::wstring> m_recoverNames;  // RecoverFile: "name:id"; by id: safe relative targets
  std::vector<uint64_t> m_recoverIds;
  std::atomic<int32_t> m_recovered{0};
  std::atomic<CFileEntry*> m_lastEntry{nullptr};
  uint32_t m_progressBlock[16] = {};  // the core's; word 0 is its directory-buffer handle
  std::wstring m_targetRoot;          // set by SetTargetPath, '\\' separators
  const wchar_t m_slash[2] = {L'/', 0};
  std::atomic<int32_t> m_fileCount{0};
  std::atomic<int32_t> m_deletedCount{0};
  UniqueHandle m_waitEvent;  // never signalled: every timed wait of the task is on it
  std::atomic<int32_t> m_running{1};
  std::atomic<int32_t> m_finished{0};
  std::atomic<int32_t> m_pause{0};
  int32_t m_nextHandle = 1;
  CStorage* m_storage;
  int32_t m_taskId;
  int32_t m_disk;
  int32_t m_partition;
  void* m_diskContext;
  void* m_partitionHandle;
  std::unique_ptr<IVolumeWorker> m_worker;
  // Indexer block.
  std::atomic<int32_t> m_indexerRun{1};
  std::atomic<int32_t> m_indexerDone{0};
  std::atomic<int32_t> m_indexerStarted{0};
  std::atomic<int32_t> m_skipPostScan{0};
  std::atomic<int32_t> m_pendingCount{0};
  CListGroup m_pending;
  CListGroup m_batch;
  // Guards the pending queue, and (held by the indexer per chunk) the global lists and
  // the type table, which the record callbacks reach when they requeue an entry.
  CRITICAL_SECTION m_lock;
  // Only for WaitUntil and NotifyChange: a waiter between its test and its sleep holds it.
  mutable CRITICAL_SECTION m_changeLock;
  mutable CONDITION_VARIABLE m_changed = CONDITION_VARIABLE_INIT;
  // Indexer and recovery threads that may still touch the task after their flag said
  // done (their last wake): the destructor waits for them.
  std::atomic<int32_t> m_threadsInside{0};
  CListGroup m_lists[4];
  CScanTask* m_self = this;
  CEntryArena m_arena;
  CNameStore m_names;
  CVirtualRoot m_virtualRoot;
  CPathEntry m_unknownPath;
  CPathEntry* m_unknownFolder = &m_unknownPath;
  CIdMap m_idMap;
  std::atomic<int32_t> m_progress{0};
  uint16_t m_partitionType;
  std::vector<std::unique_ptr<EnumContext>> m_contexts;
  CFileTypeTable m_fileTypes;
  uint64_t m_sequence = 1;
  CListGroup m_linkQueue;
  int32_t m_recoverMode = 0;
  bool m_closed = false;

 private:
  static DWORD WINAPI IndexerMain(void* self);
  void IndexerThread();
  void InitTaskLists();
  // Tree part of the record callbacks, shared by both.
  CFileEntry* NewFile(const wchar_t* name, uint32_t kind, uint64_t id, uint64_t parentId, uint64_t size,
                      uint32_t time1, uint32_t time2, uint32_t attributes);
  void CountFile(const CFileEntry* entry, int sign);

  // Recovery threads and their walks.
  // Waits until the work before has finished and takes the flag over (sets it to 0).
  void TakeFinishedFlag();
  // The target root without trailing ''; empty when none was set.
  std::wstring TargetRoot() const;
  // Tries the probe file in the deepest existing folder of target root + relative
  // folder; 0 or the negated Windows error.
  int32_t ProbeTarget(const std::wstring& relativeFolder) const;
  // Starts body on a recovery thread that gives the finished flag back when it ends.
  int32_t StartRecoveryThread(void (CScanTask::*body)());
  static DWORD WINAPI RecoveryThreadMain(void* start);
  void RecoverFileWorker();
  void RecoverFileByIDWorker();
  void RecoverSubPath(const std::wstring& relative, CFileEntry* folder, uint32_t depth);
  // One file through RecoverOneFile, counted or logged.
  void RecoverEntry(uint64_t id, const wchar_t* name, const std::wstring& relative);
};

// Builds a task of class Task with its worker of class Worker, as the starters need it:
// 0 or -8 (a task without worker is refused by the registry).
template <class Task, class Worker>
int32_t BuildTaskWithWorker(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  if (AllocationShouldFail()) return kResultNoMemory;
  std::unique_ptr<Task> made(new (std::nothrow) Task(params));
  if (!made) return kResultNoMemory;
  if (!AllocationShouldFail()) {
    std::unique_ptr<IVolumeWorker> worker(new (std::nothrow) Worker(params.storage, made.get()));
    made->SetWorker(std::move(worker));
  }
  task = std::move(made);
  return kResultOk;
}

// The wait function handed to the core with the host's read-error callback.
int __cdecl RetryWait();
// How many retry waits have begun (their stop state taken) in this process.
int RetryWaitsEnteredForTest();
