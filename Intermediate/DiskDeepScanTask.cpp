// The whole-disk deep scan: its sequence over the disk's partitions and the raw scan,
// the progress by sizes scanned, and the partition folders of its combined tree.
#include "DiskDeepScanTask.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "CoreLibrary.h"
#include "Interface.h"
#include "UniqueRes.h"

namespace {

constexpr int32_t kDone = 10000;
constexpr uint64_t kRawRootExternal = CDeepScanTask::kRootId + 1;
// The root listing carries the partitions' root children while it holds fewer records.
constexpr int32_t kRootListingRecords = 1000;

bool IsKnownType(uint16_t type) {
  return type == kFsFat12 || type == kFsFat16 || type == kFsFat32 || type == kFsNtfs || type == kFsExFat;
}

// The combined worker's thread, over this task's sequence and progress.
class CDiskDeepScanWorker : public CFSDeepScanWorker {
 public:
  using CFSDeepScanWorker::CFSDeepScanWorker;
};

// The id of a "name:HEX" path part; false when it has none.
bool PartId(const std::wstring& part, uint64_t* id) {
  const size_t colon = part.rfind(L':');
  if (colon == std::wstring::npos || colon + 1 >= part.size()) return false;
  wchar_t* end = nullptr;
  *id = std::wcstoull(part.c_str() + colon + 1, &end, 16);
  return end && *end == 0;
}

}  // namespace

CDiskDeepScanTask::CDiskDeepScanTask(const TaskParams& params)
    : CFSDeepScanTask(params), m_partitions(params.partitions), m_diskSize(params.diskRecord.size) {
  m_options = 0;
  m_sequence = 0xFFFFFFFFFF000000ull;
  m_nextHandle = 100;
}

std::vector<CDiskDeepScanTask::Part> CDiskDeepScanTask::Parts() const {
  CritSecLock hold(m_subLock);
  return m_parts;
}

std::vector<std::shared_ptr<CStorage::CScanTask>> CDiskDeepScanTask::FileSystemTasks() const {
  std::vector<std::shared_ptr<CScanTask>> tasks;
  for (const Part& p : Parts())
    if (std::shared_ptr<CScanTask> task = Sub(p.task)) tasks.push_back(task);
  return tasks;
}

int32_t CDiskDeepScanTask::TaskForSource(uint32_t source) const {
  if (source == kRawScanSource) return m_rawTaskId.load();
  const std::vector<Part> parts = Parts();
  for (const Part& p : parts)
    if (uint32_t(p.task) == source) return p.task;
  return parts.empty() ? 0 : parts.front().task;
}

std::wstring CDiskDeepScanTask::LabelOf(int32_t taskId) const {
  for (const Part& p : Parts()) {
    if (p.task != taskId) continue;
    if (p.record.DriveLetter()) return std::wstring(1, wchar_t(p.record.DriveLetter())) + L":";
    return L"Partition" + std::to_wstring(p.record.Number());
  }
  return L"";
}

bool CDiskDeepScanTask::IsTaskStopped(int32_t taskId) const {
  std::shared_ptr<CScanTask> task = Sub(taskId);
  if (!task || !task->IsFinished()) return false;
  int32_t progress = 0;
  task->GetScanProgress(&progress, nullptr, nullptr, nullptr);
  CORE_LOG(Core::kLogInfo, "CDiskDeepScanTask::IsTaskStopped", "Task %d progress=%d", taskId, progress);
  return true;
}

void CDiskDeepScanTask::ScanInit() {
  for (const PartitionRecord& p : m_partitions) {
    if (!IsKnownType(p.FileSystemType())) continue;
    m_known.push_back(p);
    CORE_LOG(Core::kLogInfo, "CDiskDeepScanTask::ScanInit", "partition [%d]: [%x]", p.Number(),
             unsigned(p.FileSystemType()));
  }
  if (auto fn = Core::Get<Core::GetDiskDeepScanSizeFn>("GetDiskDeepScanSize"))
    m_rawSize = fn(m_diskContext, m_partitionHandle);
  CFSDeepScanTask::ScanInit();
}

void CDiskDeepScanTask::Sequence() {
  CStorage::StartRequest request;
  request.disk = m_disk;
  request.checkDuplicate = false;  // the sub-tasks stand on this task's own disk
  for (const PartitionRecord& p : m_known) {
    if (!m_running.load()) break;
    int32_t id = 0;
    {
      CritSecLock hold(m_subLock);
      request.kind = StarterKind::kScanFormatted;
      request.partition = p.Number();
      if (!m_running.load() || m_storage->StartTask(request, &id) != kResultOk) continue;
      m_parts.push_back({id, p});
    }
    CORE_LOG(Core::kLogInfo, "CDiskDeepScanTask::ScanTaskRoutine", "Start Part Scan Task [%d]", id);
    while (Sub(id) && !IsTaskStopped(id)) WaitStep();
    CORE_LOG(Core::kLogInfo, "CDiskDeepScanTask::ScanTaskRoutine", "Finish Part Scan Task [%d]", id);
  }
  const std::vector<Part> parts = Parts();
  if (!parts.empty() && parts.front().record.DriveLetter())
    m_rootPath = std::wstring(L":/") + wchar_t(parts.front().record.DriveLetter()) + L":1";
  int32_t raw = 0;
  {
    CritSecLock hold(m_subLock);
    request.kind = StarterKind::kRawDeepScan;
    request.partition = kWholeDiskPartition;
    if (!m_running.load() || m_storage->StartTask(request, &raw) != kResultOk) raw = 0;
    m_rawTaskId.store(raw);
  }
  if (raw > 0) {
    CORE_LOG(Core::kLogInfo, "CDiskDeepScanTask::ScanTaskRoutine", "Start Deep Scan Task [%d]", raw);
    while (Sub(raw) && !IsTaskStopped(raw)) WaitStep();
    CORE_LOG(Core::kLogInfo, "CDiskDeepScanTask::ScanTaskRoutine", "Finish Deep Scan Task [%d]", raw);
  }
  m_sequenceDone.store(1);
}

int32_t CDiskDeepScanTask::DiskProgress(uint64_t diskSize, uint64_t rawSize, int32_t rawProgress) {
  // A disk of no size has nothing left to scan, and the raw part never exceeds the disk.
  if (diskSize == 0) return std::min(std::max(rawProgress, 0), kDone);
  rawSize = std::min(rawSize, diskSize);
  const double p = double(std::min(std::max(rawProgress, 0), kDone));
  const uint64_t scanned = diskSize - rawSize + uint64_t(double(rawSize) * p / 10000.0);
  return int32_t(scanned * kDone / diskSize);
}

void CDiskDeepScanTask::AggregateProgress() {
  // The partition scans, in hundredths of the disk; a stop ends every wait.
  uint64_t finishedSizes = 0;
  int32_t baseFiles = 0, baseDeleted = 0;
  size_t done = 0;
  while (m_running.load() && m_rawTaskId.load() < 0 && !m_sequenceDone.load()) {
    const std::vector<Part> parts = Parts();
    if (done < parts.size()) {
      const Part& part = parts[done];
      std::shared_ptr<CScanTask> task = Sub(part.task);
      int32_t p = 0, files = 0, deleted = 0, finished = 1;
      if (task) task->GetScanProgress(&p, &files, &deleted, &finished);
      m_fileCount.store(baseFiles + files);
      m_deletedCount.store(baseDeleted + deleted);
      if (m_diskSize > 0) {
        const uint64_t scanned = finishedSizes + uint64_t(double(part.record.Size()) * p / 10000.0);
        m_progress.store(std::max(m_progress.load(), int32_t(std::min<uint64_t>(scanned * 100 / m_diskSize, 100))));
      }
      if (finished) {
        CORE_LOG(Core::kLogInfo, "CDiskDeepScanTask::StartDeepScan", "Task [%d] scan rate=%d", part.task, p);
        finishedSizes += part.record.Size();
        baseFiles += files;
        baseDeleted += deleted;
        ++done;
        continue;
      }
    }
    WaitStep();
  }
  while (m_running.load() && m_rawTaskId.load() < 0 && !m_sequenceDone.load()) WaitStep();
  std::shared_ptr<CScanTask> raw = RawTask();
  while (raw && m_running.load()) {
    int32_t p = 0, files = 0, deleted = 0, finished = 0;
    raw->GetScanProgress(&p, &files, &deleted, &finished);
    m_fileCount.store(baseFiles + files);
    m_deletedCount.store(baseDeleted + deleted);
    m_progress.store(std::max(m_progress.load(), DiskProgress(m_diskSize, m_rawSize, p)));
    if (finished) break;
    WaitStep();
  }
  while (!m_sequenceDone.load()) WaitStep();
  m_progress.store(kDone);
  if (m_rawTaskId.load() < 1) {
    m_db.reset(new (std::nothrow) ScanResultDb());
    if (m_db && !m_db->Open()) m_db.reset();
  }
  CORE_LOG(Core::kLogInfo, "CDiskDeepScanTask::StartDeepScan", "All Task finished");
}

CFSDeepScanTask::Route CDiskDeepScanTask::RoutePath(const wchar_t* path) const {
  Route route;
  std::vector<std::wstring> parts = PathParts(path);
  const std::wstring text = path ? path : L"";
  const bool trailing = !text.empty() && text.back() == L'/';
  size_t first = 0;
  // ":/1:1" (or the first partition's drive, as ":/E:1") is the combined root.
  if (!parts.empty() && (parts[0] == L"1:1" || L":/" + parts[0] == m_rootPath)) first = 1;
  if (first >= parts.size()) {
    route.root = true;
    return route;
  }
  uint64_t id = 0;
  std::wstring rest;
  for (size_t i = first + 1; i < parts.size(); ++i) rest += L"/" + parts[i];
  if (trailing || first + 1 == parts.size()) rest += L"/";
  if (parts[first].compare(0, 13, L"RootDeepScan:") == 0) {
    route.raw = true;
    route.path = L":/" + RawRootPart() + rest;
  } else if (PartId(parts[first], &id) && (id & ~0xFFFFFFull) == kPartitionFolderBase) {
    route.task = int32_t(id & 0xFFFFFF);
    std::shared_ptr<CScanTask> task = Sub(route.task);
    wchar_t root[40];
    std::swprintf(root, 40, L":/Root:%llX", static_cast<unsigned long long>(task ? task->RootId() + 1 : 0));
    route.path = root + rest;
  } else {
    route.path = L":";
    for (size_t i = first; i < parts.size(); ++i) route.path += L"/" + parts[i];
    if (trailing) route.path += L"/";
  }
  return route;
}

void CDiskDeepScanTask::RewriteRecords(int32_t taskId, ScanFileRecord* records, int32_t count) {
  std::shared_ptr<CScanTask> task = Sub(taskId);
  if (!task || taskId == m_rawTaskId.load()) return;
  const uint64_t root = task->RootId() + 1;
  for (int32_t i = 0; i < count; ++i)
    if (records[i].parentId == root) records[i].parentId = kPartitionFolderBase | uint32_t(taskId);
}

int32_t CDiskDeepScanTask::EnumRoot(int32_t count, ScanFileRecord* records, int32_t* got, int32_t* childCount,
                                    int32_t* fileCount, int32_t* deletedCount, uint64_t* totalSize,
                                    uint64_t* deletedSize, int32_t* outHandle) {
  std::fputs("Enum DeepScan Start\n", stdout);
  std::vector<ScanFileRecord> made;
  int32_t files = 0, deleted = 0;
  uint64_t size = 0, deletedBytes = 0;
  std::vector<std::shared_ptr<CScanTask>> subs = FileSystemTasks();
  if (std::shared_ptr<CScanTask> raw = RawTask()) subs.push_back(raw);
  for (const auto& task : subs) {
    ScanFileRecord page[8];
    int32_t n = 0, children = 0, f = 0, d = 0, h = 0;
    uint64_t s = 0, ds = 0;
    if (task->EnumScannedFiles(L":", 0, 8, page, &n, &children, &f, &d, &s, &ds, &h) != kResultOk) continue;
    task->CloseEnumHandle(h);
    files += f;
    deleted += d;
    size += s;
    deletedBytes += ds;
    ScanFileRecord r{};
    const bool raw = task->TaskId() == m_rawTaskId.load();
    if (raw) std::fputs("DeepScan Start\n", stdout);
    const uint64_t folder = raw ? kRawRootExternal : (kPartitionFolderBase | uint32_t(task->TaskId()));
    r.globalId = raw ? 0 : (0xFFFFFFFF00000000ull | uint32_t(task->TaskId()));
    for (int32_t i = 0; i < n; ++i)
      if (page[i].id != 0) r = page[i];
    r.id = r.parentId = folder;
    r.attributes = kAttrFolderMask;
    r.taskId = raw ? kRawScanSource : uint32_t(task->TaskId());
    const std::wstring name = raw ? L"RootDeepScan" : LabelOf(task->TaskId());
    std::wcsncpy(r.name, name.c_str(), 255);
    made.push_back(r);
  }
  std::fputs("Enum DeepScan Finished\n", stdout);
  // After the folders, each partition's root children (its first page) with the folder
  // as parent: a host that builds the tree by parent ids has the top two levels at once
  // and reaches the rest by the folders' paths.
  const int32_t folders = int32_t(made.size());
  const int32_t room = std::min(count, kRootListingRecords);
  for (const auto& task : FileSystemTasks()) {
    const int32_t left = room - int32_t(made.size());
    if (left <= 0) break;
    wchar_t rootPath[40];
    std::swprintf(rootPath, 40, L":/Root:%llX/", static_cast<unsigned long long>(task->RootId() + 1));
    std::vector<ScanFileRecord> children(static_cast<size_t>(left));
    int32_t n = 0, h = 0;
    if (task->EnumScannedFiles(rootPath, 0, left, children.data(), &n, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &h) != kResultOk)
      continue;
    task->CloseEnumHandle(h);
    RewriteRecords(task->TaskId(), children.data(), n);
    made.insert(made.end(), children.begin(), children.begin() + std::min(n, left));
  }
  *got = std::min(int32_t(made.size()), count);
  std::copy(made.begin(), made.begin() + *got, records);
  if (childCount) *childCount = folders;
  if (fileCount) *fileCount = files;
  if (deletedCount) *deletedCount = deleted;
  if (totalSize) *totalSize = size;
  if (deletedSize) *deletedSize = deletedBytes;
  NewHandle(Combined(), outHandle);
  std::fputs("Enum DeepScan Returned\n", stdout);
  std::fflush(stdout);
  return kResultOk;
}

int32_t CDiskDeepScanTask::QueryFileName(uint64_t id, uint32_t source, uint64_t* parentId, wchar_t* name) {
  if (id >= kPartitionFolderBase && id != kNoEntryId && source != kRawScanSource &&
      (id & ~0xFFFFFFull) == kPartitionFolderBase) {
    // A partition folder: its drive text, its own id as parent.
    std::wcsncpy(name, LabelOf(int32_t(source)).c_str(), 255);
    if (parentId) *parentId = id;
    return kResultOk;
  }
  std::shared_ptr<CScanTask> task = Sub(TaskForSource(source));
  if (!task) return kResultNoTask;
  const int32_t result = task->QueryFileName(id, source, parentId, name);
  if (result == kResultOk && parentId && task->TaskId() != m_rawTaskId.load() && *parentId == task->RootId())
    *parentId = (kPartitionFolderBase | uint32_t(task->TaskId())) - 1;
  return result;
}

void CDiskDeepScanTask::SetTargetPath(const wchar_t* path) {
  CScanTask::SetTargetPath(path);
  const std::wstring base = path ? path : L"";
  // Each partition's files go to a folder of its own.
  for (const Part& p : Parts())
    if (std::shared_ptr<CScanTask> task = Sub(p.task)) task->SetTargetPath((base + L"\\" + LabelOf(p.task)).c_str());
  if (std::shared_ptr<CScanTask> raw = RawTask()) raw->SetTargetPath(path);
}

int32_t CDiskDeepScanTask::RecoverFile(int32_t mode, int32_t count, const wchar_t* folder, const wchar_t* names,
                                       const int32_t* sources) {
  if (count <= 0 || !folder || !names) return kResultBadArgument;
  if ((std::wcscmp(folder, L":") == 0 || std::wcscmp(folder, L":/") == 0) && std::wcscmp(names, L"1:1") == 0) {
    // The whole disk: every partition's tree, then the raw hits.
    std::vector<SubRecovery> jobs;
    for (const Part& p : Parts()) {
      std::shared_ptr<CScanTask> task = Sub(p.task);
      if (!task) continue;
      wchar_t root[40];
      std::swprintf(root, 40, L"Root:%llX", static_cast<unsigned long long>(task->RootId() + 1));
      jobs.push_back({p.task, L":", root, {}, false});
    }
    if (m_rawTaskId.load() > 0) jobs.push_back({m_rawTaskId.load(), L":", L"RootDeepScan:9", {}, false});
    return StartRecoveries(std::move(jobs));
  }
  return CFSDeepScanTask::RecoverFile(mode, count, folder, names, sources);
}

int32_t BuildDiskDeepScanTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  return BuildTaskWithWorker<CDiskDeepScanTask, CDiskDeepScanWorker>(params, task);
}
