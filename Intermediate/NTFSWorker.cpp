// The NTFS scan workers (the guarded walk through the core) and the builders that make
// an NTFS task with its worker.
#include "NTFSWorker.h"

#include <new>

#include "CoreLibrary.h"
#include "FaultGuard.h"
#include "NTFSTask.h"
#include "Interface.h"

DWORD CNTFSWorker::ScanRoutine() {
  auto* task = static_cast<CStorage::CNTFSScanTask*>(m_task);
  task->ScanInit();
  bool walked = false;
  const bool returned = RunGuardedCall([&] {
    walked = Core::NTFSEnumVirtualFRs(task->PartitionHandle(), task->DiskContext(), m_formatted,
                                      reinterpret_cast<Core::NtfsRecordFn>(&CStorage::CNTFSScanTask::OnFileRecord),
                                      &TaskFinishCallback, static_cast<CStorage::CScanTask*>(task),
                                      task->ProgressBlock())
                 .has_value();
  });
  if (!returned) {
    ScanRoutineHandler();
  } else if (!task->FinishDone()) {
    // A core without the walk, or one that returned without its finish call: the task
    // must still finish, or StopWork and Close would wait for ever.
    if (!walked)
      CORE_LOG(Core::kLogError, "CNTFSWorker::ScanRoutine", "NTFSEnumVirtualFRs error %lu",
               static_cast<unsigned long>(Core::MissingError("NTFSEnumVirtualFRs")));
    task->WorkFinishRoutine(0);
  }
  return 0;
}

void CNTFSWorker::ScanRoutineHandler() {
  Core::WriteLog(Core::kLogError, "NTFSWorker", "CNTFSWorker::ScanRoutine", 96, "Exception occur in NTFSEnumVirtualFRs");
  m_task->WorkFinishRoutine(0);
}


int32_t BuildNtfsScanTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  return BuildTaskWithWorker<CStorage::CNTFSScanTask, CNTFSWorker>(params, task);
}

int32_t BuildNtfsScanFormattedTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  return BuildTaskWithWorker<CStorage::CNTFSScanFormattedTask, CNTFSFormattedWorker>(params, task);
}
