// The combined deep scan: its sequence (fast file-system scan, then the raw scan), the
// progress that sums both, and the virtual paths, handles and source words by which
// every host call reaches the right sub-task.
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>

#include "CoreLibrary.h"
#include "DeepScanTask.h"
#include "RecoverPartTableTask.h"
#include "Interface.h"
#include "TextConvert.h"
#include "UniqueRes.h"

namespace {

constexpr int32_t kFastScanShare = 333;  // the fast scan's part of the combined progress
constexpr int32_t kDone = 10000;
constexpr uint64_t kRawRootExternal = CDeepScanTask::kRootId + 1;
const wchar_t kRawRootPart[] = L"RootDeepScan:";

void Print(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

}  // namespace

std::vector<std::wstring> CFSDeepScanTask::PathParts(const wchar_t* path) {
  std::vector<std::wstring> parts;
  std::wstring text = path ? path : L"";
  size_t at = text.find(L'/');
  if (at == std::wstring::npos) return parts;
  while (at < text.size()) {
    size_t next = text.find(L'/', at + 1);
    if (next == std::wstring::npos) next = text.size();
    if (next > at + 1) parts.push_back(text.substr(at + 1, next - at - 1));
    at = next;
  }
  return parts;
}

namespace {

std::wstring JoinPath(const std::vector<std::wstring>& parts, size_t from, bool trailing) {
  std::wstring path = L":";
  for (size_t i = from; i < parts.size(); ++i) path += L"/" + parts[i];
  if (trailing || path == L":") path += L"/";
  return path;
}

bool IsFileSystemTask(CStorage::CScanTask* task) {
  return task && !dynamic_cast<CDeepScanTask*>(task) && !dynamic_cast<CFSDeepScanTask*>(task) &&
         !dynamic_cast<CRecoverPartTableTask*>(task) && !dynamic_cast<CRepairPartTask*>(task);
}

}  // namespace

int32_t CombinedDeepProgress(int32_t shown, int32_t rawProgress, bool reuse) {
  // The raw scan's first twentieth is stretched over the fast scan's third; past it the
  // raw value would fall below what was shown, so the shown value holds until passed.
  const int32_t value = (rawProgress < 500 && !reuse) ? int32_t(rawProgress * 0.667 + 333.0) : rawProgress;
  return std::max(shown, std::min(value, kDone));
}

DWORD CFSDeepScanWorker::Run() {
  Print("Deep scan thread running\n");
  auto* task = static_cast<CFSDeepScanTask*>(m_task);
  task->ScanInit();
  task->AggregateProgress();
  task->WorkFinishRoutine(0);
  return 0;
}

CFSDeepScanTask::CFSDeepScanTask(const TaskParams& params)
    : CStorage::CScanTask(params), m_reuse(params.fsTaskId > 0), m_startOptions(params.options & ~0x20u) {
  SetRootId(kNoEntryId);
  if (m_reuse) m_fsTaskId.store(params.fsTaskId);
  ::InitializeCriticalSection(&m_subLock);
}

CFSDeepScanTask::~CFSDeepScanTask() { ::DeleteCriticalSection(&m_subLock); }

std::shared_ptr<CStorage::CScanTask> CFSDeepScanTask::Sub(int32_t taskId) const {
  return taskId > 0 ? m_storage->FindTask(taskId) : nullptr;
}

void CFSDeepScanTask::WaitFinished(int32_t taskId) const {
  for (;;) {
    std::shared_ptr<CScanTask> task = Sub(taskId);
    if (!task || task->IsFinished()) return;
    WaitStep();
  }
}

void CFSDeepScanTask::ScanInit() {
  CScanTask::ScanInit();
  HANDLE thread = ::CreateThread(nullptr, 0, &CFSDeepScanTask::SequenceMain, this, 0, nullptr);
  if (thread) {
    ::CloseHandle(thread);
  } else {
    m_rawTaskId.store(0);
    m_sequenceDone.store(1);
  }
}

DWORD WINAPI CFSDeepScanTask::SequenceMain(void* self) {
  static_cast<CFSDeepScanTask*>(self)->Sequence();
  return 0;
}

void CFSDeepScanTask::Sequence() {
  CStorage::StartRequest request;
  request.disk = m_disk;
  request.partition = m_partition;
  request.options = int32_t(m_startOptions);
  // The sub-tasks stand on this task's own disk and partition.
  request.checkDuplicate = false;
  if (!m_reuse) {
    Print("Fast Scan Task Started!!!!!!!!!!!!!!!!\n");
    int32_t id = 0;
    {
      CritSecLock hold(m_subLock);
      request.kind = StarterKind::kScanFormatted;
      if (m_running.load() && m_storage->StartTask(request, &id) == kResultOk) m_fsTaskId.store(id);
    }
    WaitFinished(m_fsTaskId.load());
    Print("Fast Scan Task Finished!!!!!!!!!!!!!!!!\n");
  }
  int32_t raw = 0;
  {
    CritSecLock hold(m_subLock);
    request.kind = StarterKind::kRawDeepScan;
    // Checked under the lock that StopWork takes: a stop never misses a raw scan.
    if (m_running.load() && m_storage->StartTask(request, &raw) == kResultOk) {
      if (auto* deep = dynamic_cast<CDeepScanTask*>(Sub(raw).get())) deep->SetParentTask(FileSystemTask().get());
    } else {
      raw = 0;
    }
    m_rawTaskId.store(raw);
  }
  if (raw > 0) {
    Print("Deep Task Started!!!!!!!!!!!!!!!!\n");
    Print("Wait for Deepscan task finished!!!!!!!!!!!!!!!!\n");
    WaitFinished(raw);
    // The file-system task finished on its own and its indexer ran PostScan once:
    // finishing it again could overlap that and is not done.
    if (std::shared_ptr<CScanTask> fs = FileSystemTask()) {
      while (fs->IsFinished() && !fs->IndexerDone()) WaitStep();
    }
    Print("Deepscan task finished!!!!!!!!!!!!!!!\n");
  }
  m_sequenceDone.store(1);
}

void CFSDeepScanTask::AggregateProgress() {
  // Phase 1: the fast scan, a third of the way.
  while (m_running.load()) {
    std::shared_ptr<CScanTask> fs = FileSystemTask();
    if (!fs) {
      if (m_fsTaskId.load() == 0 && !m_sequenceDone.load() && m_rawTaskId.load() < 0) {
        WaitStep();
        continue;
      }
      break;
    }
    int32_t progress = 0, files = 0, deleted = 0, finished = 0;
    fs->GetScanProgress(&progress, &files, &deleted, &finished);
    m_fileCount.store(files);
    m_deletedCount.store(deleted);
    m_progress.store(std::max(m_progress.load(), progress / 30));
    if (finished) break;
    WaitStep();
  }
  m_progress.store(std::max(m_progress.load(), kFastScanShare));
  while (m_running.load() && m_rawTaskId.load() < 0 && !m_sequenceDone.load()) WaitStep();
  // Phase 2: the raw scan; the combined value never falls back.
  std::shared_ptr<CScanTask> raw = RawTask();
  while (raw && m_running.load()) {
    int32_t fsFiles = 0, fsDeleted = 0, p = 0, files = 0, deleted = 0, finished = 0;
    if (std::shared_ptr<CScanTask> fs = FileSystemTask()) fs->GetScanProgress(nullptr, &fsFiles, &fsDeleted, nullptr);
    raw->GetScanProgress(&p, &files, &deleted, &finished);
    m_fileCount.store(fsFiles + files);
    m_deletedCount.store(fsDeleted + deleted);
    m_progress.store(CombinedDeepProgress(m_progress.load(), p, m_reuse));
    if (finished) break;
    WaitStep();
  }
  // The sub-tasks' starts and stops end before this task does.
  while (!m_sequenceDone.load()) WaitStep();
  Print("All Deep Scan Task Finished!!!\n");
  m_progress.store(kDone);
  if (m_rawTaskId.load() < 1) {
    m_db.reset(new (std::nothrow) ScanResultDb());
    if (m_db && !m_db->Open()) m_db.reset();
  }
}

void CFSDeepScanTask::WorkFinishRoutine(int32_t) {
  if (m_finishEntered.exchange(1) != 0) return;
  FinishWork();
}

int32_t CFSDeepScanTask::PauseWork(int32_t value) {
  CScanTask::PauseWork(value);
  CritSecLock hold(m_subLock);
  if (!m_reuse)
    for (const auto& fs : FileSystemTasks()) fs->PauseWork(value);
  if (std::shared_ptr<CScanTask> raw = RawTask()) raw->PauseWork(value);
  return 1;
}

void CFSDeepScanTask::RequestStop() {
  m_running.store(0);
  CritSecLock hold(m_subLock);
  if (!m_reuse)
    for (const auto& fs : FileSystemTasks()) fs->RequestStop();
  if (std::shared_ptr<CScanTask> raw = RawTask()) raw->RequestStop();
}

int32_t CFSDeepScanTask::StopWork() {
  RequestStop();
  {
    CritSecLock hold(m_subLock);
    if (!m_reuse)
      for (const auto& fs : FileSystemTasks()) fs->StopWork();
    if (std::shared_ptr<CScanTask> raw = RawTask()) {
      CORE_LOG(Core::kLogInfo, "CFSDeepScanTask::StopWork", "Stop Deep Scan Task: [%d]", raw->TaskId());
      raw->StopWork();
    }
  }
  while (!IsFinished()) WaitStep();
  CORE_LOG(Core::kLogInfo, "CFSDeepScanTask::StopWork", "All Deep Scan Work Stopped");
  return 1;
}

int32_t CFSDeepScanTask::Close() {
  if (!m_handles.empty()) return kResultBusy;
  Print("Close Fast Scan Task\n");
  CritSecLock hold(m_subLock);
  int32_t result = kResultOk;
  for (const auto& fs : FileSystemTasks()) {
    const int32_t closed = m_storage->CloseScanTask(fs->TaskId());
    if (closed == kResultBusy) return closed;  // the host still reads it directly
  }
  m_fsTaskId.store(0);
  Print("Fast Scan Task Closed\n");
  const int32_t raw = m_rawTaskId.load();
  std::printf("Close Deep Scan Task: [%d]\n", raw);
  std::fflush(stdout);
  if (raw > 0) {
    result = m_storage->CloseScanTask(raw);
    if (result == kResultBusy) return result;
    m_rawTaskId.store(0);
    CORE_LOG(Core::kLogInfo, "CFSDeepScanTask::Close", "Deep Scan Task Closed: [%d]", raw);
  }
  return CScanTask::Close();
}

void CFSDeepScanTask::SetTargetPath(const wchar_t* path) {
  CScanTask::SetTargetPath(path);
  for (const auto& fs : FileSystemTasks()) fs->SetTargetPath(path);
  if (std::shared_ptr<CScanTask> raw = RawTask()) raw->SetTargetPath(path);
}

std::vector<std::shared_ptr<CStorage::CScanTask>> CFSDeepScanTask::FileSystemTasks() const {
  std::vector<std::shared_ptr<CScanTask>> tasks;
  if (std::shared_ptr<CScanTask> fs = FileSystemTask()) tasks.push_back(fs);
  return tasks;
}

std::vector<std::shared_ptr<CStorage::CScanTask>> CFSDeepScanTask::SubTasks() const {
  std::vector<std::shared_ptr<CScanTask>> tasks = FileSystemTasks();
  if (std::shared_ptr<CScanTask> raw = RawTask()) tasks.push_back(raw);
  return tasks;
}

int32_t CFSDeepScanTask::TaskForSource(uint32_t source) const {
  if (source == kRawScanSource) return m_rawTaskId.load();
  return m_fsTaskId.load();
}

int32_t CFSDeepScanTask::GetResultFileName(wchar_t* buffer) {
  if (m_db) {
    std::wmemcpy(buffer, m_db->Path().c_str(), m_db->Path().size() + 1);
    return 0;
  }
  std::shared_ptr<CScanTask> raw = RawTask();
  return raw ? raw->GetResultFileName(buffer) : -1;
}

// ---------------------------------------------------------------------------------
// Virtual paths and handles

std::wstring CFSDeepScanTask::RawRootPart() const {
  // "RootDeepScan", or "Root" for a raw scan of an area without a file system.
  std::shared_ptr<CScanTask> raw = RawTask();
  CFileEntry* root = raw && raw->IsFinished() ? raw->GetEntryById(CDeepScanTask::kRootId) : nullptr;
  return std::wstring(root && root->name ? root->name : L"RootDeepScan") + L":9";
}

uint64_t CFSDeepScanTask::FileSystemRootExternalId() const {
  std::shared_ptr<CScanTask> fs = FileSystemTask();
  return fs ? fs->RootId() + 1 : 0;
}

CFSDeepScanTask::Route CFSDeepScanTask::RoutePath(const wchar_t* path) const {
  Route route;
  std::vector<std::wstring> parts = PathParts(path);
  const std::wstring text = path ? path : L"";
  const bool trailing = !text.empty() && text.back() == L'/';
  wchar_t fsRoot[32];
  std::swprintf(fsRoot, 32, L"Root:%llX", static_cast<unsigned long long>(FileSystemRootExternalId()));
  // ":/Root:1" is the combined root; what follows it is "Root" (the file-system tree)
  // or "RootDeepScan" (the raw hits). A file-system root that is itself Root:1 is told
  // apart by what follows.
  size_t first = 0;
  if (!parts.empty() && parts[0] == L"Root:1") {
    const bool ownRootIsOne = std::wstring(fsRoot) == L"Root:1";
    bool combined = !ownRootIsOne || parts.size() == 1 || parts[1] == L"Root:1" ||
                    parts[1].compare(0, std::wcslen(kRawRootPart), kRawRootPart) == 0;
    // A FAT12/16 root (cluster 0) is Root:1 as well: the children of the "Root" folder
    // shown at the top, asked for as ":/Root:1/", are its tree's.
    if (ownRootIsOne && parts.size() == 1 && trailing) combined = false;
    if (combined) first = 1;
  }
  if (first >= parts.size()) {
    route.root = true;
    return route;
  }
  if (parts[first].compare(0, std::wcslen(kRawRootPart), kRawRootPart) == 0) {
    route.raw = true;
    parts[first] = RawRootPart();
  } else if (parts[first] == L"Root:1") {
    parts[first] = fsRoot;
  }
  route.path = JoinPath(parts, first, trailing);
  return route;
}

int32_t CFSDeepScanTask::NewHandle(Combined c, int32_t* outHandle) {
  if (!outHandle) {
    // A caller that takes no handle cannot close it: the sub-tasks' go at once.
    for (const SubHandle& sub : c.subs)
      if (std::shared_ptr<CScanTask> task = Sub(sub.task)) task->CloseEnumHandle(sub.handle);
    return 0;
  }
  const int32_t handle = m_nextHandle++;
  *outHandle = handle;
  m_handles[handle] = std::move(c);
  return handle;
}

int32_t CFSDeepScanTask::EnumRoot(int32_t count, ScanFileRecord* records, int32_t* got, int32_t* childCount,
                                  int32_t* fileCount, int32_t* deletedCount, uint64_t* totalSize,
                                  uint64_t* deletedSize, int32_t* outHandle) {
  Print("Enum NTFS");
  Combined c;
  ScanFileRecord page[8];
  ScanFileRecord synthetic[2] = {};
  int32_t files = 0, deleted = 0;
  uint64_t size = 0, deletedBytes = 0;
  int32_t made = 0;
  struct Half {
    std::shared_ptr<CScanTask> task;
    const wchar_t* name;
    uint32_t source;
  } const halves[] = {{FileSystemTask(), L"Root", 0}, {RawTask(), L"RootDeepScan", kRawScanSource}};
  for (const Half& half : halves) {
    if (!half.task) continue;
    if (half.source == kRawScanSource) Print("Enum DeepScan Start\n");
    int32_t n = 0, children = 0, f = 0, d = 0, h = 0;
    uint64_t s = 0, ds = 0;
    if (half.task->EnumScannedFiles(L":", 0, 8, page, &n, &children, &f, &d, &s, &ds, &h) != kResultOk) continue;
    c.subs.push_back({half.task->TaskId(), h, true});
    files += f;
    deleted += d;
    size += s;
    deletedBytes += ds;
    std::printf(half.source ? "Enum DeepScan Entry Count: %d [%d]\n" : "Enum NTFS Entry Count: %d [%d]\n", n, f);
    // The tree's own root: the folder of the virtual root that has an id.
    for (int32_t i = 0; i < n; ++i) {
      if (page[i].id == 0) continue;
      ScanFileRecord& r = synthetic[made++];
      r = page[i];
      std::wcsncpy(r.name, half.name, 255);
      r.attributes = kAttrFolderMask;
      if (half.source) {
        r.taskId = kRawScanSource;
        r.id = r.parentId = kRawRootExternal;
      }
      break;
    }
    if (half.source == kRawScanSource) Print("Enum DeepScan Finished\n");
  }
  const int32_t copied = std::min(made, count);
  std::copy(synthetic, synthetic + copied, records);
  *got = copied;
  if (childCount) *childCount = made;
  if (fileCount) *fileCount = files;
  if (deletedCount) *deletedCount = deleted;
  if (totalSize) *totalSize = size;
  if (deletedSize) *deletedSize = deletedBytes;
  NewHandle(std::move(c), outHandle);
  Print("Enum DeepScan Returned\n");
  return kResultOk;
}

int32_t CFSDeepScanTask::EnumScannedFiles(const wchar_t* path, int32_t handle, int32_t count,
                                          ScanFileRecord* records, int32_t* got, int32_t* childCount,
                                          int32_t* fileCount, int32_t* deletedCount, uint64_t* totalSize,
                                          uint64_t* deletedSize, int32_t* outHandle) {
  *got = 0;
  if (handle != 0) {
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) return kResultNoTask;
    for (SubHandle& sub : it->second.subs) {
      if (sub.done) continue;
      std::shared_ptr<CScanTask> task = Sub(sub.task);
      if (!task) return kResultNoTask;
      const int32_t result = task->EnumScannedFiles(nullptr, sub.handle, count, records, got, childCount, fileCount,
                                                    deletedCount, totalSize, deletedSize, nullptr);
      RewriteRecords(sub.task, records, *got);
      return result;
    }
    return kResultOk;  // a root listing has nothing more
  }
  if (!path || (path[0] != L'/' && path[0] != L':')) return kResultBadArgument;
  WaitForIndex();
  const Route route = RoutePath(path);
  if (route.root) return EnumRoot(count, records, got, childCount, fileCount, deletedCount, totalSize, deletedSize,
                                  outHandle);
  std::shared_ptr<CScanTask> task = route.raw ? RawTask() : route.task ? Sub(route.task) : FileSystemTask();
  if (!task) return kResultNoTask;
  int32_t subHandle = 0;
  const int32_t result = task->EnumScannedFiles(route.path.c_str(), 0, count, records, got, childCount, fileCount,
                                                deletedCount, totalSize, deletedSize, &subHandle);
  if (result != kResultOk) return result;
  RewriteRecords(task->TaskId(), records, *got);
  Combined c;
  c.subs.push_back({task->TaskId(), subHandle, false});
  NewHandle(std::move(c), outHandle);
  return kResultOk;
}

int32_t CFSDeepScanTask::PageGlobal(Combined& c, int32_t count, ScanFileRecord* records, int32_t* got) {
  *got = 0;
  for (SubHandle& sub : c.subs) {
    if (sub.done || *got >= count) continue;
    std::shared_ptr<CScanTask> task = Sub(sub.task);
    if (!task) {
      sub.done = true;
      continue;
    }
    int32_t n = 0;
    int32_t result;
    if (sub.handle == 0) {
      result = c.filter ? task->GlobalFilterScannedFiles(0, int32_t(m_filters.size()), m_filters.data(), count - *got,
                                                         records + *got, &n, &sub.handle)
                        : task->GlobalEnumScannedFiles(c.list, 0, count - *got, records + *got, &n, &sub.handle);
    } else {
      result = c.filter ? task->GlobalFilterScannedFiles(sub.handle, 0, nullptr, count - *got, records + *got, &n,
                                                         nullptr)
                        : task->GlobalEnumScannedFiles(0, sub.handle, count - *got, records + *got, &n, nullptr);
    }
    if (result != kResultOk) return result;
    RewriteRecords(sub.task, records + *got, n);
    *got += n;
    // A sub-task that filled less than it was asked for has nothing more.
    if (*got < count) sub.done = true;
  }
  return kResultOk;
}

int32_t CFSDeepScanTask::PageGlobalHandle(int32_t handle, Combined fresh, int32_t count, ScanFileRecord* records,
                                          int32_t* got, int32_t* outHandle) {
  *got = 0;
  if (handle != 0) {
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) return kResultNoTask;
    return PageGlobal(it->second, count, records, got);
  }
  for (const auto& task : SubTasks()) fresh.subs.push_back({task->TaskId(), 0, false});
  const int32_t result = PageGlobal(fresh, count, records, got);
  if (result != kResultOk) return result;
  NewHandle(std::move(fresh), outHandle);
  return kResultOk;
}

int32_t CFSDeepScanTask::GlobalEnumScannedFiles(int32_t list, int32_t handle, int32_t count,
                                                ScanFileRecord* records, int32_t* got, int32_t* outHandle) {
  *got = 0;
  if (handle == 0 && (list & 0xFFFF) > 3) return kResultBadArgument;
  Combined c;
  c.list = list;
  return PageGlobalHandle(handle, std::move(c), count, records, got, outHandle);
}

int32_t CFSDeepScanTask::GlobalFilterScannedFiles(int32_t handle, int32_t filterCount, const ScanFilter* filters,
                                                  int32_t count, ScanFileRecord* records, int32_t* got,
                                                  int32_t* outHandle) {
  *got = 0;
  if (handle == 0) {
    if (filterCount <= 0 || !filters) return kResultBadArgument;
    // The host's filter texts need not outlive this call; the raw half opens later.
    m_filterTexts.clear();
    m_filters.assign(filters, filters + filterCount);
    m_filterTexts.reserve(m_filters.size());
    for (ScanFilter& f : m_filters) {
      m_filterTexts.push_back(f.value ? f.value : L"");
      f.value = f.value ? m_filterTexts.back().c_str() : nullptr;
    }
  }
  Combined c;
  c.filter = true;
  return PageGlobalHandle(handle, std::move(c), count, records, got, outHandle);
}

int32_t CFSDeepScanTask::CloseEnumHandle(int32_t handle) {
  auto it = m_handles.find(handle);
  if (it == m_handles.end()) return kResultNoTask;
  for (const SubHandle& sub : it->second.subs) {
    if (sub.handle == 0) continue;
    if (std::shared_ptr<CScanTask> task = Sub(sub.task)) task->CloseEnumHandle(sub.handle);
  }
  m_handles.erase(it);
  return kResultOk;
}

int32_t CFSDeepScanTask::EnumFileTypes(int32_t start, int32_t count, int32_t* total, int32_t* got,
                                       FileTypeRecord* records) {
  WaitForIndex();
  std::vector<FileTypeRecord> merged;
  for (const auto& task : SubTasks()) {
    FileTypeRecord page[64];
    for (int32_t from = 0;; from += 64) {
      int32_t all = 0, n = 0;
      if (task->EnumFileTypes(from, 64, &all, &n, page) != kResultOk || n <= 0) break;
      for (int32_t i = 0; i < n; ++i) {
        auto same = std::find_if(merged.begin(), merged.end(), [&](const FileTypeRecord& r) {
          return r.extensionLength == page[i].extensionLength &&
                 std::wmemcmp(r.extension, page[i].extension, r.extensionLength) == 0;
        });
        if (same != merged.end()) {
          same->fileCount += page[i].fileCount;
          same->totalSize += page[i].totalSize;
        } else {
          merged.push_back(page[i]);
        }
      }
      if (from + n >= all) break;
    }
  }
  if (total) *total = int32_t(merged.size());
  *got = 0;
  for (size_t i = size_t(std::max(start, 0)); i < merged.size() && *got < count; ++i) records[(*got)++] = merged[i];
  return kResultOk;
}

int32_t CFSDeepScanTask::QueryFileName(uint64_t id, uint32_t source, uint64_t* parentId, wchar_t* name) {
  std::shared_ptr<CScanTask> task = Sub(TaskForSource(source));
  if (!task) return kResultNoTask;
  return task->QueryFileName(id, source, parentId, name);
}

int32_t CFSDeepScanTask::QueryFileFullPath(uint64_t id, wchar_t* buffer) {
  if (!buffer) return kResultBadArgument;
  buffer[0] = 0;
  WaitForIndex();
  for (const auto& task : SubTasks()) {
    CFileEntry* entry = id == kNoEntryId ? nullptr : task->GetEntryById(id);
    if (id == kNoEntryId || (entry && entry->ownId == id)) return task->QueryFileFullPath(id, buffer);
  }
  return 0;
}

// ---------------------------------------------------------------------------------
// Recovery: each item goes to the sub-task of its source word, one at a time

int32_t CFSDeepScanTask::RecoverFile(int32_t mode, int32_t count, const wchar_t* folder, const wchar_t* names,
                                     const int32_t* sources) {
  if (count <= 0 || !folder || !names) return kResultBadArgument;
  std::vector<SubRecovery> jobs;
  const wchar_t* name = names;
  const std::wstring folderText = folder;
  if ((folderText == L":" || folderText == L":/") && std::wcscmp(names, L"Root:1") == 0) {
    // The whole combined root: both trees.
    wchar_t fsRoot[32];
    std::swprintf(fsRoot, 32, L"Root:%llX", static_cast<unsigned long long>(FileSystemRootExternalId()));
    if (m_fsTaskId.load() > 0) jobs.push_back({m_fsTaskId.load(), L":", fsRoot, {}, false});
    if (m_rawTaskId.load() > 0) jobs.push_back({m_rawTaskId.load(), L":", L"RootDeepScan:9", {}, false});
  } else {
    std::printf("Really RecoverFile: %s [%d]\n", NarrowText(folder).c_str(), count);
    std::fflush(stdout);
    const Route route = RoutePath(folder);
    for (int32_t i = 0; i < count; ++i, name += std::wcslen(name) + 1) {
      const int32_t task = route.raw ? m_rawTaskId.load()
                           : route.task ? route.task
                                        : TaskForSource(sources ? uint32_t(sources[i]) : 0);
      jobs.push_back({task, route.root ? std::wstring(L":") : route.path, name, {}, false});
    }
  }
  (void)mode;
  return StartRecoveries(std::move(jobs));
}

int32_t CFSDeepScanTask::RecoverFileByID(int32_t count, const wchar_t* target, const RecoverIdItem* items) {
  if (count <= 0 || !target || !items) return kResultBadArgument;
  const size_t length = std::wcslen(target);
  if (length == 0 || target[length - 1] != L'/') return kResultBadArgument;
  std::vector<SubRecovery> jobs;
  for (int32_t i = 0; i < count; ++i) {
    SubRecovery job{TaskForSource(items[i].source), target,
                    items[i].name ? items[i].name : L"", items[i], true};
    jobs.push_back(std::move(job));
  }
  return StartRecoveries(std::move(jobs));
}

int32_t CFSDeepScanTask::StartRecoveries(std::vector<SubRecovery> jobs) {
  while (!IsFinished()) WaitStep();
  m_finished.store(0);
  m_recovered.store(0);
  m_jobs = std::move(jobs);
  m_running.store(1);
  HANDLE thread = ::CreateThread(nullptr, 0, &CFSDeepScanTask::RecoveryMain, this, 0, nullptr);
  if (!thread) {
    m_finished.store(1);
    return WindowsErrorCode(::GetLastError());
  }
  ::CloseHandle(thread);
  return kResultOk;
}

DWORD WINAPI CFSDeepScanTask::RecoveryMain(void* self) {
  static_cast<CFSDeepScanTask*>(self)->RunRecoveries();
  return 0;
}

void CFSDeepScanTask::RunRecoveries() {
  for (SubRecovery& job : m_jobs) {
    if (!m_running.load()) break;
    std::shared_ptr<CScanTask> task = Sub(job.task);
    if (!task) continue;
    const int32_t base = m_recovered.load();
    int32_t started;
    if (job.byId) {
      job.item.name = job.name.c_str();
      started = task->RecoverFileByID(1, job.folder.c_str(), &job.item);
    } else {
      std::wstring name = job.name;
      name.push_back(L'\0');
      const int32_t source = int32_t(task->GetTaskId());
      started = task->RecoverFile(m_recoverMode, 1, job.folder.c_str(), name.c_str(), &source);
    }
    if (started != kResultOk) continue;
    for (;;) {
      int32_t recovered = 0, finished = 0;
      task->GetRecoverProgress(&recovered, &finished);
      m_recovered.store(base + recovered);
      if (finished) break;
      ::Sleep(10);
    }
    std::printf("Path: %s, Name: %s ----->RecoverFile count: %d\n", NarrowText(job.folder.c_str()).c_str(),
                NarrowText(job.name.c_str()).c_str(), m_recovered.load());
    std::fflush(stdout);
  }
  m_running.store(0);
  m_finished.store(1);
}

int32_t BuildFSDeepScanTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  if (params.fsTaskId > 0) {
    // A task to reuse must be a file-system scan of this very disk and partition.
    std::shared_ptr<CStorage::CScanTask> fs = params.storage->FindTask(params.fsTaskId);
    if (!fs || fs->Disk() != params.disk || fs->Partition() != params.partition || !IsFileSystemTask(fs.get()))
      return kResultBadArgument;
  }
  return BuildTaskWithWorker<CFSDeepScanTask, CFSDeepScanWorker>(params, task);
}
