// The raw deep scan: its task, its worker over the core's carver, the result database
// it fills as hits arrive, the replay of a stored result and the resumed scan.
#include "DeepScanTask.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "CoreLibrary.h"
#include "FaultGuard.h"
#include "Interface.h"
#include "TextConvert.h"

namespace {

using DeepRecordFn = int(__cdecl*)(void* task, const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh,
                                   uint32_t parentLow, uint32_t parentHigh, uint32_t sizeLow, uint32_t sizeHigh,
                                   uint32_t timeLow, uint32_t timeHigh, uint32_t attributes, int32_t deleted,
                                   int32_t progress);
using DeepFinishFn = void(__cdecl*)(void* task, int32_t value);
using DeepProgressFn = void(__cdecl*)(void* task, uint32_t positionLow, uint32_t positionHigh);
using DeepScanRoutineFn = int(__cdecl*)(void* diskContext, void* partition, DeepRecordFn onRecord,
                                        DeepFinishFn onFinish, void* task, uint32_t* progressBlock,
                                        DeepProgressFn onProgress, uint32_t resumeLow, uint32_t resumeHigh,
                                        int itemCount, int loading);
using GetPartitionInfoFn = int(__cdecl*)(void* diskContext, void* partition, int partitionIndex, void* block,
                                         int* partCount, char* serial, uint8_t* bootSector);
// The whole 64-bit size: files of 4 GiB and more are written whole.
using RecoverDeepScanFileFn = int(__cdecl*)(void* diskContext, void* partition, uint32_t dirBuffer,
                                            const wchar_t* target, uint32_t locationLow, uint32_t locationHigh,
                                            uint32_t sizeLow, uint32_t sizeHigh, uint32_t time, int partitionIndex);

constexpr uint64_t kLatestTime = 0x7933F8EFFull;  // the end of the year 3000
const wchar_t kCombinedRawPrefix[] = L":/Root:1/RootDeepScan:9/";

uint64_t Join(uint32_t low, uint32_t high) { return uint64_t(high) << 32 | low; }

void Print(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

class CDeepScanWorker : public IVolumeWorker {
 public:
  using IVolumeWorker::IVolumeWorker;

 protected:
  DWORD Run() override {
    Print("Deep scan thread running\n");
    auto* task = static_cast<CDeepScanTask*>(m_task);
    task->ScanInit();
    const uint64_t resume = task->ResumePosition();
    const char* name = task->Partition() == kWholeDiskPartition ? "DiskDeepScanRoutine" : "DeepScanRoutine";
    const bool returned = RunGuardedCall([&] {
      if (auto fn = Core::Get<DeepScanRoutineFn>(name))
        fn(task->DiskContext(), task->PartitionHandle(), &TaskRecordCallback, &TaskFinishCallback,
           static_cast<CStorage::CScanTask*>(task), task->ProgressBlock(), &CDeepScanTask::OnScanProgress,
           uint32_t(resume), uint32_t(resume >> 32), task->HitCount(), task->Loading() ? 1 : 0);
    });
    if (!returned) CORE_LOG(Core::kLogError, "CDeepScanWorker::Run", "Exception occur in %s", name);
    task->WorkFinishRoutine(0);
    return 0;
  }
};

}  // namespace

CDeepScanTask::CDeepScanTask(const TaskParams& params) : CStorage::CScanTask(params) {
  SetRootId(kRootId);
  m_nextHandle = kFirstHandle;
  m_noFileSystem = params.partitionType == kFsNone || params.partitionType > kFsExFat;
  if (params.resultFile) {
    std::printf("Start Load Result: %s\n", NarrowText(params.resultFile).c_str());
    CORE_LOG(Core::kLogInfo, "CDeepScanTask::CDeepScanTask", "Start Load Result");
    m_loading = true;
    m_db.reset(new (std::nothrow) ScanResultDb(params.resultFile, &TaskRecordCallback,
                                               static_cast<CStorage::CScanTask*>(this)));
  } else {
    Print("Start Normal Deep Scan\n");
    m_db.reset(new (std::nothrow) ScanResultDb());
  }
  if (m_db && !m_db->Open()) m_db.reset();
  CORE_LOG(Core::kLogInfo, "CDeepScanTask::CDeepScanTask", "Construct CDeepScanTask: %d", m_taskId);
}

CDeepScanTask::~CDeepScanTask() {
  CORE_LOG(Core::kLogWarning, "CDeepScanTask::~CDeepScanTask", "Destruct ~CDeepScanTask: %d", m_taskId);
}

int32_t CDeepScanTask::GetResultFileName(wchar_t* buffer) {
  if (!m_db) return -1;
  const std::wstring& path = m_db->Path();
  std::wmemcpy(buffer, path.c_str(), path.size() + 1);
  return 0;
}

uint64_t CDeepScanTask::ResumePosition() {
  if (!m_db || !m_loading) return 0;
  StoredPartition row;
  return m_db->LoadPartition(&row) == 0 ? row.progress : 0;
}

void __cdecl CDeepScanTask::OnScanProgress(void* task, uint32_t positionLow, uint32_t positionHigh) {
  auto* self = dynamic_cast<CDeepScanTask*>(static_cast<CStorage::CScanTask*>(task));
  // A resumed result goes on storing: a second stop resumes from here again, and a
  // later load lists every hit.
  if (self && self->m_db) self->m_db->UpdateProgress(Join(positionLow, positionHigh));
}

uint64_t CDeepScanTask::LocationOf(uint64_t treeId) const {
  if (treeId == kRootId) return kRootId;
  if (treeId < uint64_t(kFirstHit) || treeId - kFirstHit >= m_locations.size()) return 0;
  return m_locations[size_t(treeId - kFirstHit)];
}

void CDeepScanTask::ScanInit() {
  CScanTask::ScanInit();
  CORE_LOG(Core::kLogInfo, "CDeepScanTask::ScanInit", "Deep Scan on disk %d, partition %d", m_disk, m_partition);
  OnRecordFound(L".", 0, uint32_t(kRootId), 0, uint32_t(kRootId), 0, 0, 0, 0, 0, kAttrFolderMask, 0, 0);
  if (!m_db) return;
  if (m_loading) {
    if (m_partitionHandle) {
      m_replaying = true;
      m_db->LoadFiles();
      m_replaying = false;
      std::sort(m_replayed.begin(), m_replayed.end());
    }
    return;
  }
  uint8_t block[368] = {};
  char serial[129] = {};
  uint8_t boot[512] = {};
  int parts = 0;
  if (auto fn = Core::Get<GetPartitionInfoFn>("GetPartitionInfo"))
    fn(m_diskContext, m_partitionHandle, m_partition, block, &parts, serial, boot);
  CORE_LOG(Core::kLogInfo, "CDeepScanTask::ScanInit", "[part count=%d]Disk Serial Number: %s", parts, serial);
  if (parts >= 1) {
    PartitionRecord record;
    std::memcpy(record.bytes, block, sizeof block);
    uint64_t startSector = 0;
    std::memcpy(&startSector, block + 28, sizeof startSector);
    m_db->InsertPartition(serial, m_disk, m_partition, char(record.DriveLetter()), m_partitionType, startSector,
                          boot);
  }
}

int32_t CDeepScanTask::OnRecordFound(const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh,
                                     uint32_t parentLow, uint32_t parentHigh, uint32_t sizeLow, uint32_t sizeHigh,
                                     uint32_t timeLow, uint32_t timeHigh, uint32_t attributes, int32_t deleted,
                                     int32_t progress) {
  const uint64_t location = Join(idLow, idHigh);
  const uint64_t parent = Join(parentLow, parentHigh);
  if (location == kNoEntryId && parent == kNoEntryId) {
    if (m_parent) m_parent->OnRecordFound(name, kind, idLow, idHigh, parentLow, parentHigh, sizeLow, sizeHigh,
                                          timeLow, timeHigh, attributes, deleted, progress);
    return m_running.load();
  }
  if (location == 0) {
    m_progress.store(progress);
    WaitWhilePaused();
    return m_running.load();
  }
  uint64_t treeId = kRootId;
  if (location != kRootId) {
    if (m_replaying) {
      m_replayed.push_back(location);
    } else if (std::binary_search(m_replayed.begin(), m_replayed.end(), location)) {
      // Found again by a resumed scan: the stored hit stands.
      return m_running.load();
    }
    if (!AllocationShouldFail()) {
      try {
        m_locations.push_back(location);
      } catch (const std::bad_alloc&) {
        return m_running.load();
      }
    } else {
      return m_running.load();
    }
    treeId = uint64_t(++m_hitCounter);
  }
  uint64_t time = Join(timeLow, timeHigh);
  if (time > kLatestTime) time = 0;
  const int32_t running = CScanTask::OnRecordFound(name, kind, uint32_t(treeId), uint32_t(treeId >> 32),
                                                   parentLow, parentHigh, sizeLow, sizeHigh, uint32_t(time),
                                                   uint32_t(time >> 32), attributes, deleted, progress);
  if (treeId != kRootId && !m_replaying && m_db)
    m_db->InsertFile(location, name, parent, Join(sizeLow, sizeHigh), time, attributes);
  return running;
}

void CDeepScanTask::WorkFinishRoutine(int32_t) {
  if (m_finishEntered.exchange(1) != 0) return;
  m_running.store(0);
  if (m_db) m_db->Flush();
  Print("Deep Scan Directories counted.\n");
  if (CFileEntry** cell = GetIdCell(kRootId)) {
    if (CFileEntry* root = *cell) {
      const wchar_t* name = InternName(m_loading || m_noFileSystem ? L"Root" : L"RootDeepScan");
      if (name) SetEntryName(name, root);
    }
  }
  AttachTreeToVirtualRoot();
  FinishWork();
}

int32_t CDeepScanTask::RecoverOneFile(const wchar_t* targetRoot, uint64_t id, const wchar_t* relativePath) {
  std::wstring relative = relativePath ? relativePath : L"";
  // A combined task's recovery names the raw tree by its virtual path: the target
  // is what follows it.
  const size_t prefix = std::wcslen(kCombinedRawPrefix);
  if (relative.compare(0, prefix, kCombinedRawPrefix) == 0) relative.erase(0, prefix);
  const uint64_t location = LocationOf(id);
  CFileEntry* entry = GetEntryById(id);
  if (!entry || location == 0 || location == kRootId) return WindowsErrorCode(ERROR_FILE_NOT_FOUND);
  std::wstring path = targetRoot ? targetRoot : L"";
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  if (!relative.empty() && relative[0] != L'\\') path += L'\\';
  path += relative;
  CreateDirectoryPath(path.c_str());
  MakeUniqueTargetName(path);
  auto fn = Core::Get<RecoverDeepScanFileFn>("RecoverDeepScanFile");
  if (!fn) return WindowsErrorCode(Core::MissingError("RecoverDeepScanFile"));
  const uint64_t size = GetEntrySize(entry);
  return fn(m_diskContext, m_partitionHandle, m_progressBlock[0], path.c_str(), uint32_t(location),
            uint32_t(location >> 32), uint32_t(size), uint32_t(size >> 32), entry->time1, m_partition);
}

int32_t BuildDeepScanTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  return BuildTaskWithWorker<CDeepScanTask, CDeepScanWorker>(params, task);
}
