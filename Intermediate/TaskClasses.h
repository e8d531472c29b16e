// Which task class a starter builds for a partition type. The registry only looks the
// pair up; each file system adds its rows to the table in TaskClasses.cpp.
#pragma once
#include <cstddef>
#include <cstdint>

#include "Interface.h"

// A row for every partition type, as the raw deep scan takes.
constexpr uint32_t kAnyPartitionType = 0x10000;

struct TaskClassRow {
  StarterKind kind;
  uint32_t partitionType;  // the core's type word, or kAnyPartitionType
  CStorage::TaskBuilder build;
};

// The builder of the first row that matches; null when none does.
CStorage::TaskBuilder FindTaskClass(const TaskClassRow* rows, size_t count, StarterKind kind,
                                    uint16_t partitionType);

// The library's own table.
extern const TaskClassRow kTaskClasses[];
extern const size_t kTaskClassCount;
