// The deep-scan tasks: CDeepScanTask runs one raw scan of a partition (or of the whole
// disk) through the core's carver, stores every hit in a result database and can
// replay and resume a stored one; CFSDeepScanTask puts a fast file-system scan and a
// raw scan of the same partition behind one task.
#pragma once
#include <atomic>
#include <map>
#include <string>
#include <memory>
#include <vector>

#include "Interface.h"
#include "ResultDatabase.h"

class CDeepScanTask : public CStorage::CScanTask {
 public:
  static constexpr uint64_t kRootId = 8;
  static constexpr int32_t kFirstHandle = 0x10000001;

  explicit CDeepScanTask(const TaskParams& params);
  ~CDeepScanTask() override;

  int32_t GetResultFileName(wchar_t* buffer) override;
  int32_t OnRecordFound(const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh, uint32_t parentLow,
                        uint32_t parentHigh, uint32_t sizeLow, uint32_t sizeHigh, uint32_t timeLow,
                        uint32_t timeHigh, uint32_t attributes, int32_t deleted, int32_t progress) override;
  void ScanInit() override;
  // Ends the work once: later calls (the core's finish callback and the worker's own)
  // change nothing.
  void WorkFinishRoutine(int32_t value) override;
  int32_t RecoverOneFile(const wchar_t* targetRoot, uint64_t id, const wchar_t* relativePath) override;
  CFileEntry* MergeSameId(CFileEntry** cell, CFileEntry* entry) override { return nullptr; }
  void PostScan() override {}
  int32_t GetTaskId() const override { return int32_t(kRawScanSource); }

  // Progress-only records of a combined scan reach this task.
  void SetParentTask(CStorage::CScanTask* parent) { m_parent = parent; }
  bool Loading() const { return m_loading; }
  // Where the raw scan starts: the stored position of a loaded result, else 0.
  uint64_t ResumePosition();
  int32_t HitCount() const { return m_hitCounter - kFirstHit + 1; }
  ScanResultDb* Database() { return m_db.get(); }
  void* PartitionHandle() const { return m_partitionHandle; }
  void* DiskContext() const { return m_diskContext; }

  // The resume position reported by the core, stored with the hits before it.
  static void __cdecl OnScanProgress(void* task, uint32_t positionLow, uint32_t positionHigh);

 private:
  static constexpr int32_t kFirstHit = 11;

  // Core location of a tree id; 0 when the id is no hit of this task.
  uint64_t LocationOf(uint64_t treeId) const;

  std::vector<uint64_t> m_locations;  // core location of hit (tree id - 11)
  std::vector<uint64_t> m_replayed;   // locations of the stored hits, sorted once replayed
  int32_t m_hitCounter = kFirstHit - 1;
  bool m_loading = false;
  bool m_replaying = false;
  bool m_noFileSystem = false;
  CStorage::CScanTask* m_parent = nullptr;
  std::unique_ptr<ScanResultDb> m_db;
  std::atomic<int32_t> m_finishEntered{0};
};

// Builders of the raw and combined deep scans; 0 or -8.
int32_t BuildDeepScanTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task);

// A fast file-system scan and a raw scan of one partition behind one task: the
// file-system tree shows as "Root", the raw hits as "RootDeepScan", and every host
// call goes to the sub-task that the path, handle or source word names.
class CFSDeepScanTask : public CStorage::CScanTask {
 public:
  explicit CFSDeepScanTask(const TaskParams& params);
  ~CFSDeepScanTask() override;

  int32_t EnumScannedFiles(const wchar_t* path, int32_t handle, int32_t count, ScanFileRecord* records, int32_t* got,
                           int32_t* childCount, int32_t* fileCount, int32_t* deletedCount, uint64_t* totalSize,
                           uint64_t* deletedSize, int32_t* outHandle) override;
  int32_t GlobalEnumScannedFiles(int32_t list, int32_t handle, int32_t count, ScanFileRecord* records, int32_t* got,
                                 int32_t* outHandle) override;
  int32_t GlobalFilterScannedFiles(int32_t handle, int32_t filterCount, const ScanFilter* filters, int32_t count,
                                   ScanFileRecord* records, int32_t* got, int32_t* outHandle) override;
  int32_t PauseWork(int32_t value) override;
  int32_t StopWork() override;
  void RequestStop() override;
  int32_t EnumFileTypes(int32_t start, int32_t count, int32_t* total, int32_t* got, FileTypeRecord* records) override;
  int32_t QueryFileName(uint64_t id, uint32_t source, uint64_t* parentId, wchar_t* name) override;
  // The id alone names the entry: the first sub-task holding it answers (file-system
  // tasks in start order, then the raw one), with the path in its own tree.
  int32_t QueryFileFullPath(uint64_t id, wchar_t* buffer) override;
  int32_t CloseEnumHandle(int32_t handle) override;
  int32_t RecoverFile(int32_t mode, int32_t count, const wchar_t* folder, const wchar_t* names,
                      const int32_t* sources) override;
  int32_t RecoverFileByID(int32_t count, const wchar_t* target, const RecoverIdItem* items) override;
  // Refused (87) while a combined handle is open; else closes both sub-tasks.
  int32_t Close() override;
  void SetTargetPath(const wchar_t* path) override;
  void PostScan() override {}
  int32_t GetResultFileName(wchar_t* buffer) override;
  void ScanInit() override;
  void WorkFinishRoutine(int32_t value) override;
  int32_t RecoverOneFile(const wchar_t*, uint64_t, const wchar_t*) override { return 0; }

  // The worker's progress aggregation, then the end of the work.
  virtual void AggregateProgress();
  int32_t FileSystemTaskId() const { return m_fsTaskId.load(); }
  int32_t RawTaskId() const { return m_rawTaskId.load(); }

 protected:
  struct SubHandle {
    int32_t task = 0;
    int32_t handle = 0;  // 0: not opened yet (the raw half of a global page)
    bool done = false;
  };
  struct Combined {
    std::vector<SubHandle> subs;
    int32_t list = 0;  // global enumeration: the list asked for
    bool filter = false;
  };
  struct Route {
    bool root = false;
    bool raw = false;
    int32_t task = 0;  // the file-system sub-task named, 0 = the first
    std::wstring path;
  };
  struct SubRecovery {
    int32_t task;
    std::wstring folder;
    std::wstring name;
    RecoverIdItem item;
    bool byId;
  };

  static DWORD WINAPI SequenceMain(void* self);
  virtual void Sequence();
  // The file-system sub-tasks that exist, in start order; with the raw one.
  virtual std::vector<std::shared_ptr<CScanTask>> FileSystemTasks() const;
  std::vector<std::shared_ptr<CScanTask>> SubTasks() const;
  // The sub-task that a record's source word names.
  virtual int32_t TaskForSource(uint32_t source) const;
  // Records a sub-task wrote into a page, made to read as this task's.
  virtual void RewriteRecords(int32_t taskId, ScanFileRecord* records, int32_t count) {}
  std::shared_ptr<CScanTask> Sub(int32_t taskId) const;
  std::shared_ptr<CScanTask> FileSystemTask() const { return Sub(m_fsTaskId.load()); }
  std::shared_ptr<CScanTask> RawTask() const { return Sub(m_rawTaskId.load()); }
  // Waits until the sub-task has finished or is gone.
  void WaitFinished(int32_t taskId) const;
  uint64_t FileSystemRootExternalId() const;
  // The raw tree's root as a path part of the raw task.
  std::wstring RawRootPart() const;
  // The parts of a tree path after its leading component.
  static std::vector<std::wstring> PathParts(const wchar_t* path);
  virtual Route RoutePath(const wchar_t* path) const;
  virtual int32_t EnumRoot(int32_t count, ScanFileRecord* records, int32_t* got, int32_t* childCount, int32_t* fileCount,
                   int32_t* deletedCount, uint64_t* totalSize, uint64_t* deletedSize, int32_t* outHandle);
  int32_t PageGlobal(Combined& c, int32_t count, ScanFileRecord* records, int32_t* got);
  // The next page of a global enumeration, or (handle 0) the first of a new one.
  int32_t PageGlobalHandle(int32_t handle, Combined fresh, int32_t count, ScanFileRecord* records, int32_t* got,
                           int32_t* outHandle);
  // Maps a new combined handle to the sub-handles and writes it; without outHandle
  // the sub-handles are closed instead.
  int32_t NewHandle(Combined c, int32_t* outHandle);
  int32_t StartRecoveries(std::vector<SubRecovery> jobs);
  static DWORD WINAPI RecoveryMain(void* self);
  void RunRecoveries();

  std::atomic<int32_t> m_fsTaskId{0};
  std::atomic<int32_t> m_rawTaskId{-1};
  bool m_reuse = false;
  uint32_t m_startOptions = 0;
  std::unique_ptr<ScanResultDb> m_db;
  std::atomic<int32_t> m_sequenceDone{0};
  std::atomic<int32_t> m_finishEntered{0};
  std::map<int32_t, Combined> m_handles;
  std::vector<ScanFilter> m_filters;
  std::vector<std::wstring> m_filterTexts;
  std::vector<SubRecovery> m_jobs;
  mutable CRITICAL_SECTION m_subLock;  // sub-task starts, stops, pauses and closes
};

// The combined progress after the raw scan reports rawProgress, never below shown.
int32_t CombinedDeepProgress(int32_t shown, int32_t rawProgress, bool reuse);

// The combined scans' worker: the sub-task sequence starts in ScanInit, the thread
// aggregates progress until both halves are done.
class CFSDeepScanWorker : public IVolumeWorker {
 public:
  using IVolumeWorker::IVolumeWorker;

 protected:
  DWORD Run() override;
};

int32_t BuildFSDeepScanTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task);
