// The task classes the library builds, by starter and partition type. A new file
// system joins with its rows here: FAT (types 1, 2, 4) and exFAT (512) for the two
// file-system scans, any type for the raw deep scan.
#include "TaskClasses.h"

#include "DeepScanTask.h"
#include "DiskDeepScanTask.h"
#include "FATTask.h"
#include "NTFSWorker.h"
#include "RecoverPartTableTask.h"

const TaskClassRow kTaskClasses[] = {
    {StarterKind::kScan, kFsNtfs, &BuildNtfsScanTask},
    {StarterKind::kScanFormatted, kFsNtfs, &BuildNtfsScanFormattedTask},
    {StarterKind::kScan, kFsFat12, &BuildFatScanTask},
    {StarterKind::kScan, kFsFat16, &BuildFatScanTask},
    {StarterKind::kScan, kFsFat32, &BuildFatScanTask},
    {StarterKind::kScanFormatted, kFsFat12, &BuildFatScanFormattedTask},
    {StarterKind::kScanFormatted, kFsFat16, &BuildFatScanFormattedTask},
    {StarterKind::kScanFormatted, kFsFat32, &BuildFatScanFormattedTask},
    {StarterKind::kScan, kFsExFat, &BuildExFatScanTask},
    {StarterKind::kScanFormatted, kFsExFat, &BuildExFatScanTask},
    {StarterKind::kRawDeepScan, kAnyPartitionType, &BuildDeepScanTask},
    {StarterKind::kCombinedDeepScan, kAnyPartitionType, &BuildFSDeepScanTask},
    {StarterKind::kDiskDeepScan, kAnyPartitionType, &BuildDiskDeepScanTask},
    {StarterKind::kRecoverPartScan, kAnyPartitionType, &BuildRecoverPartTableTask},
    {StarterKind::kRepairDiskPartTable, kAnyPartitionType, &BuildRepairDiskPartTableTask},
    {StarterKind::kRepairPartition, kAnyPartitionType, &BuildRepairPartTask},
};
const size_t kTaskClassCount = sizeof kTaskClasses / sizeof kTaskClasses[0];

CStorage::TaskBuilder FindTaskClass(const TaskClassRow* rows, size_t count, StarterKind kind,
                                    uint16_t partitionType) {
  for (size_t i = 0; i < count; ++i) {
    const TaskClassRow& row = rows[i];
    if (row.kind != kind) continue;
    if (row.partitionType == kAnyPartitionType || row.partitionType == partitionType) return row.build;
  }
  return nullptr;
}
