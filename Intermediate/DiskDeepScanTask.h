// The whole-disk deep scan: a formatted-volume scan of every partition with a known
// file system, one after the other, then one raw scan of the whole disk, shown as one
// task with a folder per partition and the raw hits.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "DeepScanTask.h"

class CDiskDeepScanTask : public CFSDeepScanTask {
 public:
  // Partition folders carry this base with the sub-task id in the low bits.
  static constexpr uint64_t kPartitionFolderBase = 0x0000FFFFFF000000ull;

  explicit CDiskDeepScanTask(const TaskParams& params);

  void ScanInit() override;
  void AggregateProgress() override;
  int32_t QueryFileName(uint64_t id, uint32_t source, uint64_t* parentId, wchar_t* name) override;
  void SetTargetPath(const wchar_t* path) override;
  int32_t RecoverFile(int32_t mode, int32_t count, const wchar_t* folder, const wchar_t* names,
                      const int32_t* sources) override;
  // Disk progress (0..10000) from the sizes scanned so far; never falls.
  static int32_t DiskProgress(uint64_t diskSize, uint64_t rawSize, int32_t rawProgress);

 protected:
  void Sequence() override;
  std::vector<std::shared_ptr<CScanTask>> FileSystemTasks() const override;
  int32_t TaskForSource(uint32_t source) const override;
  void RewriteRecords(int32_t taskId, ScanFileRecord* records, int32_t count) override;
  Route RoutePath(const wchar_t* path) const override;
  int32_t EnumRoot(int32_t count, ScanFileRecord* records, int32_t* got, int32_t* childCount, int32_t* fileCount,
                   int32_t* deletedCount, uint64_t* totalSize, uint64_t* deletedSize, int32_t* outHandle) override;

 private:
  struct Part {
    int32_t task;
    PartitionRecord record;
  };
  std::vector<Part> Parts() const;
  std::wstring LabelOf(int32_t taskId) const;
  bool IsTaskStopped(int32_t taskId) const;

  std::vector<PartitionRecord> m_partitions;  // from the starter
  std::vector<PartitionRecord> m_known;       // those with a known file system
  std::vector<Part> m_parts;                  // started sub-tasks, under the sub lock
  uint64_t m_diskSize;
  uint64_t m_rawSize = 0;
  std::wstring m_rootPath = L":/1:1";
};

int32_t BuildDiskDeepScanTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task);
