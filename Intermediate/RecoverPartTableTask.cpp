// The partition-table tasks and their workers over the core's partition routines.
#include "RecoverPartTableTask.h"

#include <cstdio>
#include <new>

#include "CoreLibrary.h"
#include "DeepScanTask.h"
#include "DiskDeepScanTask.h"
#include "FaultGuard.h"
#include "Interface.h"
#include "UniqueRes.h"

namespace {

using SearchProgressFn = int(__cdecl*)(int progress, int foundCount, void* task);
using RecoverPartitionRoutineFn = int(__cdecl*)(void* diskContext, int diskIndex, SearchProgressFn progress,
                                                void* task);
using GetRecoveredPartitionsFn = int(__cdecl*)(void* diskContext, int foundCount, void* buffer, int count);
using RepairDiskPartTableRoutineFn = int(__cdecl*)(void* diskContext, void* task);
using RepairPartBootRoutineFn = int(__cdecl*)(void* partition, void* diskContext, void* task);

void Print(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// Runs one core routine on the worker thread; a fault inside the core ends only the work.
template <class F>
void RunCore(const char* name, F&& call) {
  if (!RunGuardedCall(call))
    Core::WriteLog(Core::kLogError, "RecoverPartTableTask", name, __LINE__, "Exception occur in %s", name);
}

class CRecverPartTableWorker : public IVolumeWorker {
 public:
  using IVolumeWorker::IVolumeWorker;

 protected:
  DWORD Run() override {
    auto* task = static_cast<CRecoverPartTableTask*>(m_task);
    Print("Recover partition thread running\n");
    RunCore("RecoverPartitionRoutine", [&] {
      if (auto fn = Core::Get<RecoverPartitionRoutineFn>("RecoverPartitionRoutine"))
        fn(task->GetDiskContext(), task->Disk(), &CRecoverPartTableTask::OnSearchProgress,
           static_cast<CStorage::CScanTask*>(task));
    });
    task->WorkFinishRoutine(0);
    return 0;
  }
};

class CRepairDiskPartTableWorker : public IVolumeWorker {
 public:
  using IVolumeWorker::IVolumeWorker;

 protected:
  DWORD Run() override {
    Print("Repair partition table thread running\n");
    auto* task = static_cast<CRecoverPartTableTask*>(m_task);
    {
      CritSecLock hold(CStorage::PartitionLock());
      RunCore("RepairDiskPartTableRoutine", [&] {
        if (auto fn = Core::Get<RepairDiskPartTableRoutineFn>("RepairDiskPartTableRoutine"))
          fn(task->GetDiskContext(), static_cast<CStorage::CScanTask*>(task));
      });
    }
    task->WorkFinishRoutine(0);
    return 0;
  }
};

class CRepairPartWorker : public IVolumeWorker {
 public:
  using IVolumeWorker::IVolumeWorker;

 protected:
  DWORD Run() override {
    auto* task = static_cast<CRepairPartTask*>(m_task);
    RunCore("RepairPartBootRoutine", [&] {
      if (auto fn = Core::Get<RepairPartBootRoutineFn>("RepairPartBootRoutine"))
        fn(task->PartitionHandle(), task->DiskContext(), static_cast<CStorage::CScanTask*>(task));
    });
    task->WorkFinishRoutine(0);
    return 0;
  }
};

}  // namespace

CRecoverPartTableTask::CRecoverPartTableTask(const TaskParams& params)
    : CPartitionTask(params), m_diskIndex(params.disk) {}

int __cdecl CRecoverPartTableTask::OnSearchProgress(int progress, int foundCount, void* task) {
  auto* self = dynamic_cast<CRecoverPartTableTask*>(static_cast<CStorage::CScanTask*>(task));
  if (!self) return 0;
  self->m_progress.store(progress);
  {
    CritSecLock hold(CStorage::PartitionLock());
    self->m_foundCount = foundCount;
  }
  // A stop ends the pause too, so that StopWork never waits on a paused search.
  self->WaitWhilePaused();
  return self->m_running.load();
}

int32_t CRecoverPartTableTask::FoundCount() const {
  CritSecLock hold(CStorage::PartitionLock());
  return m_foundCount;
}

void CRecoverPartTableTask::WorkFinishRoutine(int32_t) {
  Print("Recover partition thread finished\n");
  FinishWork();
}

void CRecoverPartTableTask::GetRecoverPartProgress(int32_t* progress, void* partitions, int32_t count,
                                                   int32_t* finished) {
  if (progress) *progress = m_progress.load();
  if (finished) *finished = m_finished.load();
  if (!partitions || count <= 0) return;
  CritSecLock hold(CStorage::PartitionLock());
  if (auto fn = Core::Get<GetRecoveredPartitionsFn>("GetRecoveredPartitions"))
    fn(m_diskContext, m_foundCount, partitions, count);
}

int32_t CRecoverPartTableTask::RepairDiskPartTable() {
  // Writing while the search still runs would write a table of half the disk.
  if (!IsFinished()) return WindowsErrorCode(ERROR_BUSY);
  CritSecLock hold(CStorage::PartitionLock());
  auto fn = Core::Get<RepairDiskPartTableRoutineFn>("RepairDiskPartTableRoutine");
  if (!fn) return WindowsErrorCode(Core::MissingError("RepairDiskPartTableRoutine"));
  return fn(m_diskContext, static_cast<CStorage::CScanTask*>(this));
}

void CRepairPartTask::WorkFinishRoutine(int32_t) {
  Print("RepairPartTask::WorkFinishRoutine\n");
  m_running.store(0);
  FinishWork();
}

int32_t BuildRecoverPartTableTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  return BuildTaskWithWorker<CRecoverPartTableTask, CRecverPartTableWorker>(params, task);
}

int32_t BuildRepairDiskPartTableTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  return BuildTaskWithWorker<CRepairDiskPartTableTask, CRepairDiskPartTableWorker>(params, task);
}

int32_t BuildRepairPartTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  return BuildTaskWithWorker<CRepairPartTask, CRepairPartWorker>(params, task);
}
