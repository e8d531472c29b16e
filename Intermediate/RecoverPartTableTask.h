// The partition-table tasks: the lost-partition search, the partition-table rewrite
// and a partition's boot-sector repair, each run by the core on a worker thread.
#pragma once
#include "Interface.h"

// What the partition tasks share: they build no file tree.
class CPartitionTask : public CStorage::CScanTask {
 public:
  using CStorage::CScanTask::CScanTask;
  void PostScan() override {}
  void ScanInit() override {}
  int32_t RecoverOneFile(const wchar_t*, uint64_t, const wchar_t*) override { return 0; }
  CFileEntry* FillPlaceholder(CFileEntry**, const wchar_t*, uint32_t, uint64_t, uint64_t, uint64_t, uint32_t,
                              uint32_t, uint32_t) override {
    return nullptr;
  }
};

class CRecoverPartTableTask : public CPartitionTask {
 public:
  explicit CRecoverPartTableTask(const TaskParams& params);

  // Writes the table from the finished search; refused while the search runs.
  int32_t RepairDiskPartTable() override;
  void WorkFinishRoutine(int32_t value) override;
  void GetRecoverPartProgress(int32_t* progress, void* partitions, int32_t count, int32_t* finished) override;
  virtual void* GetDiskContext() const { return m_diskContext; }

  // The search's progress callback: progress, found count, the task; the running flag.
  static int __cdecl OnSearchProgress(int progress, int foundCount, void* task);
  int32_t FoundCount() const;

 private:
  int32_t m_diskIndex;
  int32_t m_foundCount = 0;  // under the partition lock
};

class CRepairDiskPartTableTask : public CRecoverPartTableTask {
 public:
  using CRecoverPartTableTask::CRecoverPartTableTask;
};

class CRepairPartTask : public CPartitionTask {
 public:
  using CPartitionTask::CPartitionTask;
  void WorkFinishRoutine(int32_t value) override;
  void* PartitionHandle() const { return m_partitionHandle; }
  void* DiskContext() const { return m_diskContext; }
};

// Builders of the three starters: the task with its worker; 0 or -8.
int32_t BuildRecoverPartTableTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task);
int32_t BuildRepairDiskPartTableTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task);
int32_t BuildRepairPartTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task);
