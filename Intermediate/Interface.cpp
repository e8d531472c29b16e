// The registry behind the exports: the allocation-failure switch, disk and partition
// lists, the task starters and their task-class choice, stop and close, the stored
// result files, the read-error retry handshake, and the worker and task base basics.
#include "Interface.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "CoreLibrary.h"
#include "TextConvert.h"
#include "TaskClasses.h"
#include "ResultDatabase.h"

namespace {

std::atomic<int> g_allocationFailures{0};
// Sweeps: allocations counted since the last arming, the one that fails (0 = none), and
// whether every allocation after it fails too.
std::atomic<int> g_allocationsCounted{0};
std::atomic<int> g_allocationFailAt{0};
std::atomic<bool> g_allocationFailOnward{false};
std::atomic<bool> g_allocationFailureFired{false};

// The host's answer to a read error, -1 until it gives one.
std::atomic<int32_t> g_retryDecision{kNoRetryDecision};
// The registry whose tasks the retry wait watches for stop requests.
std::atomic<CStorage*> g_retryOwner{nullptr};
// Retry waits that have taken their start state, for tests that must act inside one.
std::atomic<int> g_retryWaitsEntered{0};

// Once per process: the core's BitLocker reader and log.
std::once_flag g_coreInitOnce;
int g_bitLockerResult = 0;
int g_logResult = 0;

// Source file name for the console lines of the starters.
const char* ThisFileName() {
  const char* name = __FILE__;
  for (const char* p = __FILE__; *p; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

void PrintWhere(int line) {
  std::printf("%s %d.\n", ThisFileName(), line);
  std::fflush(stdout);
}

bool IsKnownFileSystem(uint16_t type) {
  return type == kFsFat12 || type == kFsFat16 || type == kFsFat32 || type == kFsNtfs || type == kFsExFat;
}

bool NeedsOpenedPartition(StarterKind kind) {
  return kind != StarterKind::kRawDeepScan && kind != StarterKind::kRecoverPartScan &&
         kind != StarterKind::kRepairDiskPartTable && kind != StarterKind::kDiskDeepScan;
}

}  // namespace

void SetAllocationFailuresForTest(int count) { g_allocationFailures.store(count); }

void SetAllocationFailureAtForTest(int nth, bool onward) {
  g_allocationFailAt.store(0);
  g_allocationsCounted.store(0);
  g_allocationFailureFired.store(false);
  g_allocationFailOnward.store(onward);
  g_allocationFailAt.store(nth);
}

int RetryWaitsEnteredForTest() { return g_retryWaitsEntered.load(); }

int AllocationsCountedForTest() { return g_allocationsCounted.load(); }
bool AllocationFailureFiredForTest() { return g_allocationFailureFired.load(); }

bool AllocationShouldFail() {
  const int at = g_allocationFailAt.load();
  if (at > 0) {
    const int n = ++g_allocationsCounted;
    if (n == at || (n > at && g_allocationFailOnward.load())) {
      g_allocationFailureFired.store(true);
      return true;
    }
  }
  int left = g_allocationFailures.load();
  while (left > 0) {
    if (g_allocationFailures.compare_exchange_weak(left, left - 1)) return true;
  }
  return false;
}

void CopyDiskRecordForHost(const DiskRecord& disk, uint8_t* out) {
  std::memcpy(out, &disk, kDiskRecordHostBytes);
  // The host reads fixed-width texts: blanks from the terminator to the end. A text
  // that fills all 128 bytes has no terminator and stays as it is.
  for (size_t offset : {offsetof(DiskRecord, firstText), offsetof(DiskRecord, secondText)}) {
    uint8_t* text = out + offset;
    const void* nul = std::memchr(text, 0, kDiskTextBytes);
    if (!nul) continue;
    size_t from = size_t(static_cast<const uint8_t*>(nul) - text);
    std::memset(text + from, ' ', kDiskTextBytes - from);
  }
}

// ---------------------------------------------------------------------------------
// Registry

CStorage::TaskBuilder CStorage::DefaultTaskBuilder(StarterKind kind, uint16_t partitionType) {
  // Starts without a row answer as for a partition of no known type.
  return FindTaskClass(kTaskClasses, kTaskClassCount, kind, partitionType);
#include "ResultDatabase.h"
}

CStorage::CStorage(TaskBuilderLookup lookup) : m_lookup(lookup ? lookup : &CStorage::DefaultTaskBuilder) {}

CStorage::~CStorage() {
  // Tasks still listed are not destroyed: their threads may still run inside the core,
  // so each keeps one reference that is deliberately never released.
  for (auto& task : m_tasks) {
    new (std::nothrow) std::shared_ptr<CScanTask>(std::move(task));
  }
  CStorage* self = this;
  g_retryOwner.compare_exchange_strong(self, nullptr);
}

int32_t CStorage::Initialize() {
  ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_AWAYMODE_REQUIRED);

  if (!Core::Load()) {
    char text[96];
    std::snprintf(text, sizeof text, "Can not load %s, error %lu.\n", Core::kModuleName,
                  static_cast<unsigned long>(::GetLastError()));
    ::OutputDebugStringA(text);
  }
  std::call_once(g_coreInitOnce, [] {
    g_bitLockerResult = Core::InitBitLockerReader().value_or(0);
    g_logResult = Core::InitLog().value_or(0);
  });
  std::setlocale(LC_ALL, "chs");

  std::printf("Build Time %s %s\n", __DATE__, __TIME__);
  std::fflush(stdout);
  Core::WriteLog(Core::kLogInfo, "Intermediate", "ServiceInitialize", __LINE__, "Intermediate Build Time %s %s",
                 __DATE__, __TIME__);

  std::vector<DiskRecord> table(4, DiskRecord{});
  int found = Core::EnumDisks(int(table.size()), table.data()).value_or(0);
  if (found > int(table.size())) {
    // The core knows more disks than the first table holds: ask once more with room for all.
    try {
      table.assign(size_t(found), DiskRecord{});
    } catch (const std::bad_alloc&) {
      table.assign(4, DiskRecord{});
    }
    found = Core::EnumDisks(int(table.size()), table.data()).value_or(0);
  }
  // Never trust the count beyond the table the core filled.
  int32_t count = std::max(0, std::min(found, int(table.size())));
  table.resize(size_t(count));
  {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    m_disks.swap(table);
    m_diskCount.store(count);
  }
  char text[48];
  std::snprintf(text, sizeof text, "Found %d disk(s).\n", count);
  ::OutputDebugStringA(text);
  return count;
}

int32_t CStorage::DiskCount() const { return m_diskCount.load(); }

bool CStorage::GetDisk(int32_t disk, DiskRecord* out) const {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (disk < 0 || disk >= m_diskCount.load() || size_t(disk) >= m_disks.size()) return false;
  *out = m_disks[size_t(disk)];
  return true;
}

void CStorage::SetDisksForTest(const std::vector<DiskRecord>& disks) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  m_disks = disks;
  m_diskCount.store(int32_t(disks.size()));
}

int32_t CStorage::ListDisks(int32_t first, int32_t count, void* buffer, int32_t* copied) const {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  const int32_t disks = m_diskCount.load();
  if (copied) *copied = 0;
  if (count <= 0) return disks;
  if (!buffer) return kResultBadArgument;
  // Only records that exist are copied: a negative first or a range past the table
  // copies the part that overlaps the table (computed wide, so first + count cannot wrap).
  const int64_t begin = std::max<int64_t>(first, 0);
  const int64_t end = std::min<int64_t>(int64_t(first) + count, disks);
  int32_t done = 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  for (int64_t i = begin; i < end; ++i) {
    CopyDiskRecordForHost(m_disks[size_t(i)], out + size_t(i - first) * kDiskRecordHostBytes);
    ++done;
  }
  if (copied) *copied = done;
  return disks;
}

int32_t CStorage::ListPartitions(int32_t disk, int32_t first, int32_t count, void* buffer, int32_t* found) {
  if (!found) return kResultBadArgument;
  *found = 0;
  DiskRecord record;
  if (!GetDisk(disk, &record)) return -1;
  if (count < 0 || (count > 0 && !buffer)) return kResultBadArgument;
  std::optional<int> result = Core::EnumPartitions(&record, first, count, buffer, found);
  if (!result) return WindowsErrorCode(Core::MissingError("EnumPartitions"));
  return *result;
}

bool CStorage::HasTaskOn(int32_t disk, int32_t partition, bool diskOnly, int32_t exceptTaskId) const {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  for (const auto& task : m_tasks) {
    if (exceptTaskId > 0 && task->TaskId() == exceptTaskId) continue;
    if (task->Disk() == disk && (diskOnly || task->Partition() == partition)) return true;
  }
  return false;
}

int32_t CStorage::StartTask(const StartRequest& request, int32_t* taskId) {
  StarterKind kind = request.kind;
  const bool diskOnly = kind == StarterKind::kRecoverPartScan || kind == StarterKind::kRepairDiskPartTable ||
                        kind == StarterKind::kDiskDeepScan;
  const int32_t reused = kind == StarterKind::kCombinedDeepScan ? request.fsTaskId : 0;
  if (request.checkDuplicate && HasTaskOn(request.disk, request.partition, diskOnly, reused)) {
    if (kind != StarterKind::kScanFormatted) PrintWhere(__LINE__);
    return kResultBadArgument;
  }
  DiskRecord disk;
  if (!GetDisk(request.disk, &disk)) return kResultBadArgument;
  if (!taskId) return kResultBadArgument;

  TaskParams params;
  params.storage = this;
  params.disk = request.disk;
  params.partition = request.partition;
  params.options = uint32_t(request.options) | 0x20;
  params.diskContext = disk.diskContext;
  params.resultFile = request.resultFile;
  params.fsTaskId = request.fsTaskId;
  params.value = request.value;
  params.diskRecord = disk;

  uint16_t type = 0;
  void* handle = nullptr;
  switch (kind) {
    case StarterKind::kRecoverPartScan:
    case StarterKind::kRepairDiskPartTable:
      PartitionLock();
      break;
    case StarterKind::kDiskDeepScan: {
      std::vector<PartitionRecord>& partitions = params.partitions;
      partitions.resize(16);
      int32_t count = 0;
      Core::EnumPartitions(&disk, 0, 16, partitions.data(), &count);
      count = std::max(0, std::min(count, 16));
      partitions.resize(size_t(count));
      CORE_LOG(Core::kLogInfo, "StartDiskDeepScanTask", "Start DeepScan on Disk: [%d]", request.disk);
      bool anyKnown = std::any_of(partitions.begin(), partitions.end(),
                                  [](const PartitionRecord& p) { return IsKnownFileSystem(p.FileSystemType()); });
      if (!anyKnown) {
        // Nothing to scan by file system: one raw scan of the disk instead.
        StartRequest raw;
        raw.kind = StarterKind::kRawDeepScan;
        raw.disk = request.disk;
        raw.partition = 0;
        raw.options = 0;
        return StartTask(raw, taskId);
      }
      params.partitionCount = int32_t(partitions.size());
      params.partitionHandle = disk.wholeDiskHandle;
      params.options = 0;
      break;
    }
    default:
      if (kind == StarterKind::kRawDeepScan && request.partition == kWholeDiskPartition) {
        handle = disk.wholeDiskHandle;
      } else {
        handle = Core::GetPartition(&disk, request.partition, &type).value_or(nullptr);
      }
      break;
  }
  if (kind == StarterKind::kCombinedDeepScan &&
      (request.resultFile || type == kFsNone || type > kFsExFat)) {
    // A stored result, or no file system to scan first: a plain raw scan.
    kind = StarterKind::kRawDeepScan;
  }
  if (kind != StarterKind::kDiskDeepScan) {
    params.partitionType = type;
    params.partitionHandle = handle;
  }

  TaskBuilder builder = m_lookup(kind, type);
  if (!builder) return kResultBadArgument;

  params.taskId = ++m_taskCounter;
  std::unique_ptr<CScanTask> task;
  int32_t built = builder(params, task);
  if (built != kResultOk) return built;
  if (!task) return kResultNoMemory;
  if (NeedsOpenedPartition(kind) && !params.partitionHandle) return kResultBadArgument;
  if (!task->Worker()) {
    PrintWhere(__LINE__);
    return kResultNoMemory;
  }

  // The last owner stops the indexer before the task is freed, so that its PostScan
  // never runs on a half-destroyed task.
  std::shared_ptr<CScanTask> shared(task.release(), [](CScanTask* t) {
    t->StopIndexer();
    delete t;
  });
  {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    // Another thread may have started the same task since the first check.
    if (request.checkDuplicate && HasTaskOn(request.disk, request.partition, diskOnly, reused)) {
      PrintWhere(__LINE__);
      return kResultBadArgument;
    }
    m_tasks.push_back(shared);
  }
  if (!shared->StartIndexer()) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    m_tasks.erase(std::find(m_tasks.begin(), m_tasks.end(), shared));
    return kResultNoMemory;
  }
  shared->Worker()->Start();
  *taskId = params.taskId;
  if (kind == StarterKind::kRawDeepScan || kind == StarterKind::kCombinedDeepScan ||
      kind == StarterKind::kRepairPartition) {
    std::printf("Deep Scan on Disk %d, part %d.\n", request.disk, request.partition);
  } else if (kind == StarterKind::kRecoverPartScan || kind == StarterKind::kRepairDiskPartTable) {
    std::printf("Recover Part Table on Disk %d.\n", request.disk);
  }
  std::fflush(stdout);
  return kResultOk;
}

int32_t CStorage::StartScanTask(int32_t disk, int32_t partition, int32_t options, int32_t* taskId) {
  StartRequest r;
  r.kind = StarterKind::kScan;
  r.disk = disk;
  r.partition = partition;
  r.options = options;
  return StartTask(r, taskId);
}

int32_t CStorage::StartScanFormattedTask(int32_t disk, int32_t partition, int32_t options, int32_t* taskId) {
  StartRequest r;
  r.kind = StarterKind::kScanFormatted;
  r.disk = disk;
  r.partition = partition;
  r.options = options;
  return StartTask(r, taskId);
}

int32_t CStorage::StartFSDeepScanTask(int32_t disk, int32_t partition, int32_t options, int32_t* taskId) {
  StartRequest r;
  r.kind = StarterKind::kRawDeepScan;
  r.disk = disk;
  r.partition = partition;
  r.options = options;
  return StartTask(r, taskId);
}

int32_t CStorage::StartDeepScanTask(int32_t disk, int32_t partition, int32_t options, int32_t fsTaskId,
                                    const wchar_t* resultFile, int32_t* taskId) {
  StartRequest r;
  r.kind = StarterKind::kCombinedDeepScan;
  r.disk = disk;
  r.partition = partition;
  r.options = options;
  r.fsTaskId = fsTaskId;
  r.resultFile = resultFile;
  return StartTask(r, taskId);
}

int32_t CStorage::StartDiskDeepScanTask(int32_t disk, int32_t* taskId) {
  StartRequest r;
  r.kind = StarterKind::kDiskDeepScan;
  r.disk = disk;
  r.partition = kWholeDiskPartition;
  return StartTask(r, taskId);
}

int32_t CStorage::StartRecoverPartScan(int32_t disk, int32_t value, int32_t* taskId) {
  StartRequest r;
  r.kind = StarterKind::kRecoverPartScan;
  r.disk = disk;
  r.value = value;
  return StartTask(r, taskId);
}

int32_t CStorage::StartRepairDiskPartTable(int32_t disk, int32_t* taskId) {
  StartRequest r;
  r.kind = StarterKind::kRepairDiskPartTable;
  r.disk = disk;
  return StartTask(r, taskId);
}

int32_t CStorage::StartRepairPartition(int32_t disk, int32_t partition, int32_t* taskId) {
  StartRequest r;
  r.kind = StarterKind::kRepairPartition;
  r.disk = disk;
  r.partition = partition;
  return StartTask(r, taskId);
}

std::shared_ptr<CStorage::CScanTask> CStorage::FindTask(int32_t taskId) const {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  for (const auto& task : m_tasks) {
    if (task->TaskId() == taskId) return task;
  }
  return nullptr;
}

size_t CStorage::TaskCount() const {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_tasks.size();
}

// Marks a stop in progress for the retry wait: a read error that waits on a thread no
// task owns gives up while any stop runs or once one has begun.
struct CStorage::StopScope {
  explicit StopScope(CStorage* storage) : m_storage(storage) {
    ++m_storage->m_stopsInProgress;
    ++m_storage->m_stopGeneration;
  }
  ~StopScope() { --m_storage->m_stopsInProgress; }
  CStorage* m_storage;
};

int32_t CStorage::StopWork(int32_t taskId) {
  std::shared_ptr<CScanTask> task = FindTask(taskId);
  if (!task) return kResultNoTask;
  StopScope stopping(this);
  task->RequestStop();
  return task->StopWork();
}

int32_t CStorage::CloseScanTask(int32_t taskId) {
  std::shared_ptr<CScanTask> task = FindTask(taskId);
  if (!task) return kResultNoTask;
  if (!task->IsFinished()) {
    // Freeing a task under its own threads would crash them: stop it first, bounded.
    StopScope stopping(this);
    task->RequestStop();
    const ULONGLONG deadline = ::GetTickCount64() + m_closeTimeoutMs;
    task->WaitUntil([&] { return task->IsFinished() || ::GetTickCount64() >= deadline; });
    if (!task->IsFinished()) {
      CORE_LOG(Core::kLogError, "CStorage::CloseScanTask", "Task [%d] did not stop, not closed", taskId);
      return kResultBusy;
    }
  }
  int32_t closed = task->Close();
  if (closed != 0) return closed;
  CORE_LOG(Core::kLogWarning, "CStorage::CloseScanTask", "Delete Task [%d] [%d]", taskId, task->TaskId());
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  auto it = std::find(m_tasks.begin(), m_tasks.end(), task);
  if (it != m_tasks.end()) m_tasks.erase(it);
  return kResultOk;
}

int32_t CStorage::SetTargetPath(int32_t taskId, const wchar_t* path, int32_t* freeMB) {
  if (freeMB) freeMB[0] = freeMB[1] = 0;
  if (!path) return kResultBadArgument;
  if (std::shared_ptr<CScanTask> task = FindTask(taskId)) task->SetTargetPath(path);
  // Free space of the target's drive root, as the caller may use it.
  wchar_t root[4] = {0, 0, L'\\', 0};
  if (!path[0] || !path[1]) return WindowsErrorCode(ERROR_INVALID_DRIVE);
  root[0] = path[0];
  root[1] = path[1];
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExW(root, &available, nullptr, nullptr)) return WindowsErrorCode(::GetLastError());
  const uint64_t mebibytes = available.QuadPart >> 20;
  if (freeMB) {
    freeMB[0] = int32_t(uint32_t(mebibytes));
    freeMB[1] = int32_t(uint32_t(mebibytes >> 32));
  }
  return int32_t(uint32_t(mebibytes));
}

int32_t CStorage::RecoverFileByID(int32_t taskId, int32_t count, const wchar_t* target,
                                  const RecoverIdItem* items) {
  // The task keeps 512 bytes of target text per item: refuse counts whose sizes wrap.
  if (count <= 0 || count > INT32_MAX / 512 || !items || !target) return kResultBadArgument;
  std::unique_ptr<RecoverIdItem[]> copy = TryAllocateArray<RecoverIdItem>(size_t(count));
  if (!copy) return kResultNoMemory;
  for (int32_t i = 0; i < count; ++i) {
    copy[size_t(i)] = items[i];
    copy[size_t(i)].id = items[i].id - 1;
  }
  std::shared_ptr<CScanTask> task = FindTask(taskId);
  if (!task) return kResultNoTask;
  return task->RecoverFileByID(count, target, copy.get());
}

// ---------------------------------------------------------------------------------
// Stored deep-scan results

int32_t CStorage::GetLoadFileInfo(const wchar_t* path, int32_t* disk, int32_t* partition, wchar_t* driveText,
                                  uint16_t* partitionType) {
  if (!path || !disk || !partition || !driveText || !partitionType) return kResultBadArgument;
  // Loading never creates a result file: a wrong path is an error of its own.
  if (::GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return WindowsErrorCode(::GetLastError());
  ScanResultDb db(path, nullptr, nullptr, true);
  if (!db.Open()) return WindowsErrorCode(ERROR_OPEN_FAILED);
  StoredPartition row;
  const int32_t result = db.LoadPartition(&row);
  if (result != 0) {
    // No partition row: nothing names a disk, so none is looked for.
    *disk = 0;
    *partition = 100;
    return result;
  }
  *partitionType = row.partitionType;
  CORE_LOG(Core::kLogInfo, "GetLoadFileInfo", "Disk Serial No: %s", row.serial);

  char drive[129] = {};
  if (row.driveLetter) {
    drive[0] = row.driveLetter;
  } else if (row.partition == kWholeDiskPartition) {
    // A whole-disk result has no letter: the serial up to its first '|' names it.
    size_t length = std::strcspn(row.serial, "|");
    std::memcpy(drive, row.serial, length);
  }
  if (::MultiByteToWideChar(CP_ACP, 0, drive, -1, driveText, 129) == 0) driveText[0] = L'\0';

  int32_t realDisk = -1;
  const int32_t disks = DiskCount();
  for (int32_t i = 0; i < disks; ++i) {
    DiskRecord record;
    if (!GetDisk(i, &record)) break;
    CORE_LOG(Core::kLogInfo, "GetLoadFileInfo", "GetLoadFileInfo: disk: %d", i);
    int32_t reported = -1;
    std::optional<int> match = Core::GetDiskBySerialNo(&record, row.serial, row.startSector, row.bootSector,
                                                       &reported);
    if (match && *match == 0) {
      realDisk = reported;
      break;
    }
  }
  if (realDisk < 0) {
    CORE_LOG(Core::kLogError, "GetLoadFileInfo", "GetLoadFileInfo: disk not found");
    *disk = 0;
    *partition = 100;
  } else {
    *disk = realDisk;
    *partition = row.partition;
  }
  CORE_LOG(Core::kLogInfo, "GetLoadFileInfo", "GetLoadFileInfo: disk: %d, part: %d, real disk: %d", row.disk,
           row.partition, realDisk);
  return result;
}

// ---------------------------------------------------------------------------------
// Read-error retry handshake

int32_t CStorage::SetScanErrorHandler(void* hostCallback) {
  g_retryOwner.store(this);
  std::optional<int> set = Core::SetErrorHandler(hostCallback, &RetryWait);
  if (!set) return WindowsErrorCode(Core::MissingError("SetErrorHandler"));
  return kResultOk;
}

int32_t CStorage::RetryWork(int32_t reserved, int32_t decision) {
  Core::WriteLog(Core::kLogInfo, "DeepScanTask", "CStorage::RetryWork", __LINE__, "Received RetryWork signal: %d",
                 decision);
  g_retryDecision.store(decision);
  return kResultOk;
}

bool CStorage::RetryWaitShouldEnd(DWORD threadId, uint32_t stopGenerationAtStart) const {
  {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    for (const auto& task : m_tasks) {
      if (task->OwnsThread(threadId)) return !task->IsRunning();
    }
  }
  return m_stopsInProgress.load() > 0 || m_stopGeneration.load() != stopGenerationAtStart;
}

int __cdecl RetryWait() {
  const DWORD thread = ::GetCurrentThreadId();
  CStorage* owner = g_retryOwner.load();
  const uint32_t generation = owner ? owner->StopGeneration() : 0;
  ++g_retryWaitsEntered;
  for (;;) {
    int32_t decision = g_retryDecision.exchange(kNoRetryDecision);
    if (decision != kNoRetryDecision) return decision;
    // A stopped scan must not hang on an error nobody will answer any more.
    if (owner && owner->RetryWaitShouldEnd(thread, generation)) return kNoRetryDecision;
    ::Sleep(100);
  }
}

CRITICAL_SECTION& CStorage::PartitionLock() {
  static CRITICAL_SECTION* lock = [] {
    auto* section = new CRITICAL_SECTION;
    ::InitializeCriticalSection(section);
    return section;
  }();
  return *lock;
}

// ---------------------------------------------------------------------------------
// Worker and task base

BOOL IVolumeWorker::Start() {
  DWORD id = 0;
  m_inRun.store(true);
  UniqueHandle thread(::CreateThread(nullptr, 0, &IVolumeWorker::ThreadMain, this, CREATE_SUSPENDED, &id));
  if (!thread) {
    m_inRun.store(false);
    return FALSE;
  }
  // The id is known before the thread runs, so a read error on it finds its task.
  m_threadId.store(id);
  ::ResumeThread(thread.Get());
  // Never joined: the handle goes at once, the task's flags tell when the work is done.
  return TRUE;
}

DWORD WINAPI IVolumeWorker::ThreadMain(void* self) {
  auto* worker = static_cast<IVolumeWorker*>(self);
  const DWORD result = worker->Run();
  // The work set its task's finished flag inside Run, and the host may free the task
  // from then on: this store is the thread's last touch of the worker.
  worker->m_inRun.store(false);
  return result;
}

void IVolumeWorker::WaitUntilExited() const {
  while (m_inRun.load()) ::Sleep(1);
}

void CStorage::CScanTask::WaitStep(DWORD milliseconds) const {
  if (m_waitEvent) {
    ::WaitForSingleObject(m_waitEvent.Get(), milliseconds);
  } else {
    ::Sleep(milliseconds);
  }
}

int32_t CStorage::CScanTask::PauseWork(int32_t value) {
  m_pause.store(value);
  return 1;
}

void CStorage::CScanTask::GetRecoverProgress(int32_t* recovered, int32_t* finished) {
  if (recovered) *recovered = m_recovered.load();
  if (finished) *finished = m_finished.load();
}

void CStorage::CScanTask::SetTargetPath(const wchar_t* path) {
  m_targetRoot.assign(path ? path : L"");
  std::replace(m_targetRoot.begin(), m_targetRoot.end(), L'/', L'\\');
}

int32_t CStorage::CScanTask::RepairDiskPartTable() { return 0; }

int32_t CStorage::CScanTask::GetResultFileName(wchar_t* buffer) { return 0; }

uint64_t CStorage::CScanTask::MakeGlobalId(uint32_t low, uint32_t high) const {
  const uint32_t mixedHigh = high | (uint32_t(m_taskId) << 8);
  return (uint64_t(mixedHigh) << 32) | low;
}

void CStorage::CScanTask::GetRecoverPartProgress(int32_t* progress, void* partitions, int32_t count,
                                                 int32_t* finished) {
  if (progress) *progress = m_progress.load();
  if (finished) *finished = m_finished.load();
  Core::WriteLog(Core::kLogError, "RecoverPartTableTask", "CStorage::CScanTask::GetRecoverPartProgress", 29,
                 "GetRecoverPartProgress: dynamic cast to <CRecoverPartTableTask> failed");
}

void CStorage::CScanTask::GetScanProgress(int32_t* progress, int32_t* fileCount, int32_t* deletedCount,
                                          int32_t* finished) const {
  if (progress) *progress = m_progress.load();
  if (fileCount) *fileCount = m_fileCount.load();
  if (deletedCount) *deletedCount = m_deletedCount.load();
  if (finished) *finished = m_finished.load();
}
