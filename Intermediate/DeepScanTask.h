// The deep-scan tasks: CDeepScanTask runs one raw scan of a partition (or of the whole
// disk) through the core's carver, stores every hit in a result database and can
// replay and resume a stored one; CFSDeepScanTask puts a fast file-system scan and a
// raw scan of the same partition behind one task.
#pragma once
#include <atomic>
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
