// Building a task with its worker for the registry's starters, and the task classes of
// the deep scans and partition-table tasks by starter.
#pragma once
#include <memory>
#include <new>

#include "Interface.h"

// The task and its worker (the worker left out when its allocation fails, which the
// registry answers with -8); 0 or -8.
template <class Task, class Worker>
int32_t BuildTaskWithWorker(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  std::unique_ptr<Task> made(new (std::nothrow) Task(params));
  if (!made) return kResultNoMemory;
  if (!AllocationShouldFail()) {
    std::unique_ptr<IVolumeWorker> worker(new (std::nothrow) Worker(params.storage, made.get()));
    made->SetWorker(std::move(worker));
  }
  task = std::move(made);
  return kResultOk;
}

// The deep-scan and partition-table classes of a starter; null for other starters.
CStorage::TaskBuilder DeepAndPartitionTaskBuilder(StarterKind kind, uint16_t partitionType);
