// The scan-task base with a test task whose worker feeds records through the record
// callback as a core walk would: tree building, the pending queue and its indexer,
// pause and stop, Close with open enumerations, and the fault guard.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"
#include "FaultGuard.h"
#include "Interface.h"

namespace {

constexpr uint64_t kNone = ~uint64_t(0);
constexpr uint64_t kRoot = 5;

class FeedTask;

// Runs its body under the fault guard, then finishes the task, as a scan routine does.
class FeedWorker : public IVolumeWorker {
 public:
  FeedWorker(CStorage* storage, FeedTask* task, std::function<void(FeedTask*)> body);
  DWORD Run() override;

  std::atomic<int> guardedResult{-1};
  std::atomic<int> secondGuardedResult{-1};
  std::atomic<DWORD> faultCode{0};  // of the first guarded call
  bool secondCall = false;

 private:
  FeedTask* m_feed;
  std::function<void(FeedTask*)> m_body;
};

class FeedTask : public CStorage::CScanTask {
 public:
  explicit FeedTask(const TaskParams& p) : CScanTask(p) { SetRootId(kRoot); }

  int32_t EnumScannedFiles(const wchar_t*, int32_t, int32_t, ScanFileRecord*, int32_t* got, int32_t*, int32_t*,
                           int32_t*, uint64_t*, uint64_t*, int32_t* handle) override {
    *got = 0;
    EnumContext* context = OpenEnumContext();
    if (!context) return kResultNoMemory;
    if (handle) *handle = context->handle;
    return 0;
  }
  int32_t GlobalEnumScannedFiles(int32_t, int32_t, int32_t, ScanFileRecord*, int32_t* got, int32_t*) override {
    return *got = 0;
  }
  int32_t GlobalFilterScannedFiles(int32_t, int32_t, const ScanFilter*, int32_t, ScanFileRecord*, int32_t* got,
                                   int32_t*) override {
    return *got = 0;
  }
  int32_t EnumFileTypes(int32_t start, int32_t count, int32_t* total, int32_t* got,
                        FileTypeRecord* records) override {
    *total = int32_t(FileTypes().Count());
    *got = int32_t(FileTypes().Copy(uint32_t(start), uint32_t(count), records));
    return 0;
  }
  int32_t QueryFileName(uint64_t, uint32_t, uint64_t*, wchar_t*) override { return kResultNoTask; }
  int32_t CloseEnumHandle(int32_t handle) override { return RemoveEnumContext(handle) ? 0 : kResultNoTask; }
  int32_t RecoverFile(int32_t, int32_t, const wchar_t*, const wchar_t*, const int32_t*) override { return 0; }
  int32_t RecoverFileByID(int32_t, const wchar_t*, const RecoverIdItem*) override { return 0; }
  void PostScan() override { ++postScans; }
  void WorkFinishRoutine(int32_t) override {
    AttachTreeToVirtualRoot();
    FinishWork();
  }
  int32_t QueryFileFullPath(uint64_t, wchar_t* buffer) override { return buffer[0] = 0; }

  int Feed(const wchar_t* name, uint64_t id, uint64_t parent, uint64_t size = 0, uint32_t attributes = 0,
           bool deleted = false) {
    return TaskRecordCallback(this, name, 1, uint32_t(id), uint32_t(id >> 32), uint32_t(parent),
                              uint32_t(parent >> 32), uint32_t(size), uint32_t(size >> 32), 1000, 0, attributes,
                              deleted ? 1 : 0, 77);
  }
  int FeedNtfs(const wchar_t* name, uint32_t kind, uint64_t id, uint64_t parent, uint64_t size = 0,
               uint32_t attributes = 0) {
    return AddScannedEntry(name, kind, uint32_t(id), uint32_t(id >> 32), uint32_t(parent), uint32_t(parent >> 32),
                           uint32_t(size), uint32_t(size >> 32), 2000, 0, attributes, 0, 10);
  }
  // A nameless orphan as a data attribute makes it, before any name of its record.
  CFileEntry* MakeDataPlaceholder(uint64_t id, uint64_t size) {
    CFileEntry* entry = NewFileEntry(m_arena, 0, L"", 0, NextSequence(), id, kNone, size, 0, 0);
    *GetIdCell(id) = entry;
    AddChild(m_unknownFolder, entry);
    return entry;
  }
  CFileEntry* Cell(uint64_t id) { return *GetIdCell(id); }
  void AttachTree() { AttachTreeToVirtualRoot(); }
  int32_t FileCount() const {
    int32_t files = 0;
    GetScanProgress(nullptr, &files, nullptr, nullptr);
    return files;
  }

  std::atomic<int> postScans{0};
  // Pause bookkeeping of FeedUntilStopped and its tests.
  std::atomic<int> filesFed{0};
  std::atomic<int> fedAtPause{INT_MAX};
  std::atomic<bool> letGo{true};
  std::atomic<bool> returnedWhilePaused{false};
};

FeedWorker::FeedWorker(CStorage* storage, FeedTask* task, std::function<void(FeedTask*)> body)
    : IVolumeWorker(storage, task), m_feed(task), m_body(std::move(body)) {}

DWORD FeedWorker::Run() {
  m_feed->ScanInit();
  FaultInfo info;
  guardedResult = RunGuardedCall([&] { m_body(m_feed); }, &info) ? 1 : 0;
  faultCode = info.code;
  if (secondCall) {
    // The same thread guards again after a fault.
    int value = 0;
    secondGuardedResult = RunGuardedCall([&] { value = 42; }) && value == 42 ? 1 : 0;
  }
  m_feed->WorkFinishRoutine(0);
  return 0;
}

TaskParams Params(int32_t taskId = 1) {
  TaskParams p;
  p.taskId = taskId;
  return p;
}

// A task built directly, its indexer running; released the way the registry does.
struct Made {
  std::shared_ptr<FeedTask> task;
  FeedWorker* worker = nullptr;
};
Made MakeTask(std::function<void(FeedTask*)> body, int32_t taskId = 1) {
  Made made;
  made.task = std::shared_ptr<FeedTask>(new FeedTask(Params(taskId)), [](FeedTask* t) {
    t->StopIndexer();
    delete t;
  });
  auto worker = std::make_unique<FeedWorker>(nullptr, made.task.get(), std::move(body));
  made.worker = worker.get();
  made.task->SetWorker(std::move(worker));
  EXPECT_TRUE(made.task->StartIndexer());
  return made;
}

size_t ListLength(const CListGroup& list) {
  size_t n = 0;
  for (CList* p = list.First(); p && !list.IsTail(p); p = p->next) ++n;
  return n;
}

std::vector<std::wstring> ChildNames(CPathEntry* folder) {
  std::vector<std::wstring> names;
  CListGroup& list = folder->childList;
  for (CList* p = list.First(); p && !list.IsTail(p); p = p->next)
    names.push_back(CFileEntry::FromChildNode(p)->name);
  return names;
}

// ---------------------------------------------------------------------------------

TEST(ScanTaskTree, RecordsWithBothIdsAllOnesAreIgnored) {
  FeedTask task(Params());
  task.ScanInit();
  EXPECT_EQ(task.Feed(L"ghost.txt", kNone, kNone, 10), 1);
  EXPECT_EQ(task.Feed(L"ghost", kNone, kNone, 0, kAttrFolder), 1);
  EXPECT_EQ(task.FileCount(), 0);
  EXPECT_EQ(task.PendingCount(), 0);
  EXPECT_TRUE(task.UnknownFolder()->childList.IsEmpty());
  EXPECT_EQ(task.Cell(kNone), task.UnknownFolder());
  // Only the id missing: the entries are kept, "UnknownPath" keeps its name.
  task.Feed(L"Root", kRoot, kRoot, 0, kAttrFolder);
  task.Feed(L"NoId", kNone, kRoot, 0, kAttrFolder);
  task.Feed(L"noid.txt", kNone, kRoot, 3);
  EXPECT_STREQ(task.UnknownFolder()->name, L"UnknownPath");
  EXPECT_EQ(task.Cell(kNone), task.UnknownFolder());
  EXPECT_EQ(ChildNames(task.Cell(kRoot)->AsPath()), (std::vector<std::wstring>{L"NoId", L"noid.txt"}));
}

TEST(ScanTaskTree, AChildBeforeItsParentGetsAPlaceholderThatTheParentFills) {
  FeedTask task(Params());
  task.ScanInit();
  task.Feed(L"Root", kRoot, kRoot, 0, kAttrFolder);
  task.Feed(L"a.txt", 20, 10, 100);
  CFileEntry* placeholder = task.Cell(10);
  ASSERT_NE(placeholder, nullptr);
  ASSERT_NE(placeholder->AsPath(), nullptr);
  EXPECT_STREQ(placeholder->name, L"");
  EXPECT_EQ(placeholder->parentId, kNone);
  EXPECT_EQ(FindParentFolder(placeholder), task.UnknownFolder());
  EXPECT_EQ(FindParentFolder(task.Cell(20)), placeholder);

  task.Feed(L"Docs", 10, kRoot, 0, kAttrFolder);
  EXPECT_EQ(task.Cell(10), placeholder) << "the same entry is filled in place";
  EXPECT_STREQ(placeholder->name, L"Docs");
  EXPECT_EQ(placeholder->parentId, kRoot);
  EXPECT_EQ(FindParentFolder(placeholder), task.Cell(kRoot)->AsPath());
  EXPECT_TRUE(task.UnknownFolder()->childList.IsEmpty());
  EXPECT_EQ(ChildNames(placeholder->AsPath()), std::vector<std::wstring>{L"a.txt"});
  // A parent id of 0 stands for the root.
  task.Feed(L"b.txt", 21, 0, 1);
  EXPECT_EQ(FindParentFolder(task.Cell(21)), task.Cell(kRoot)->AsPath());
}

TEST(ScanTaskTree, AParentIdNamingAFileMovesThatFileUnderUnknownPath) {
  FeedTask task(Params());
  task.ScanInit();
  task.Feed(L"Root", kRoot, kRoot, 0, kAttrFolder);
  task.Feed(L"a.txt", 30, kRoot, 5);
  CFileEntry* file = task.Cell(30);
  task.Feed(L"b.txt", 31, 30, 6);
  EXPECT_EQ(FindParentFolder(file), task.UnknownFolder());
  CFileEntry* holder = task.Cell(30);
  ASSERT_NE(holder, file);
  ASSERT_NE(holder->AsPath(), nullptr);
  EXPECT_EQ(FindParentFolder(holder), task.UnknownFolder());
  EXPECT_EQ(FindParentFolder(task.Cell(31)), holder->AsPath());
  EXPECT_TRUE(task.Cell(kRoot)->AsPath()->childList.IsEmpty());
}

TEST(ScanTaskTree, FoldersThatWouldContainThemselvesBecomeOrphans) {
  FeedTask task(Params());
  task.ScanInit();
  task.Feed(L"Root", kRoot, kRoot, 0, kAttrFolder);
  task.Feed(L"Self", 40, 40, 0, kAttrFolder);
  EXPECT_EQ(FindParentFolder(task.Cell(40)), task.UnknownFolder());
  // 41 under 42 and 42 under 41: the second record would close a cycle.
  task.Feed(L"A", 41, 42, 0, kAttrFolder);
  task.Feed(L"B", 42, 41, 0, kAttrFolder);
  CPathEntry* a = task.Cell(41)->AsPath();
  CPathEntry* b = task.Cell(42)->AsPath();
  EXPECT_EQ(FindParentFolder(a), b);
  EXPECT_EQ(FindParentFolder(b), task.UnknownFolder());
  // The recount of the whole tree ends.
  task.AttachTree();
  EXPECT_TRUE(task.VirtualRoot()->IsCounted());
  EXPECT_EQ(task.VirtualRoot()->childCount, 2u);
}

TEST(ScanTaskTree, AfterAStopFilesStillReachThePendingQueueFoldersDoNot) {
  FeedTask task(Params(3));
  task.ScanInit();
  task.Feed(L"Root", kRoot, kRoot, 0, kAttrFolder);
  task.Feed(L"Before", 50, kRoot, 0, kAttrFolder);
  EXPECT_EQ(task.PendingCount(), 2);
  task.RequestStop();
  EXPECT_EQ(task.Feed(L"late.txt", 51, 50, 9), 0) << "the answer tells the core to stop";
  EXPECT_EQ(task.PendingCount(), 3);
  EXPECT_EQ(task.Feed(L"LateFolder", 52, 50, 0, kAttrFolder), 0);
  EXPECT_EQ(task.PendingCount(), 3);
  // Still part of the tree, only not queued for the lists.
  EXPECT_EQ(FindParentFolder(task.Cell(52)), task.Cell(50)->AsPath());
  EXPECT_EQ(task.FileCount(), 1);

  // Global ids: the task id from bit 40 up, the sequence below.
  const uint64_t global = task.MakeGlobalId(1, 0);
  EXPECT_EQ(global >> 40, 3u);
  EXPECT_EQ(global & ((uint64_t(1) << 40) - 1), 1u);
}

TEST(ScanTaskTree, DeletedFilesAreCountedAndMarked) {
  FeedTask task(Params());
  task.ScanInit();
  task.Feed(L"Root", kRoot, kRoot, 0, kAttrFolder);
  task.Feed(L"gone.doc", 60, kRoot, 7, 0, true);
  task.Feed(L"Gone", 61, kRoot, 0, kAttrFolder, true);
  int32_t files = 0, deleted = 0, progress = 0;
  task.GetScanProgress(&progress, &files, &deleted, nullptr);
  EXPECT_EQ(files, 1);
  EXPECT_EQ(deleted, 1) << "a deleted folder is not a deleted file";
  EXPECT_EQ(progress, 77);
  EXPECT_TRUE(task.Cell(60)->IsDeleted());
  EXPECT_TRUE(task.Cell(61)->IsDeleted());
  wchar_t name[256];
  uint64_t id = 0, parent = 0;
  ASSERT_TRUE(task.GetLastFileInformation(name, &id, &parent));
  EXPECT_STREQ(name, L"Gone");
  EXPECT_EQ(id, 61u);
  EXPECT_EQ(parent, kRoot);
}

TEST(ScanTaskNtfsNames, ALongNameReplacesTheShortOneAndTheFileCountsOnce) {
  FeedTask task(Params());
  task.ScanInit();
  task.FeedNtfs(L"Root", 3, kRoot, kRoot, 0, kAttrFolder);
  // Short (DOS) name first, then the long one, then the short one again.
  task.FeedNtfs(L"REPORT~1.DOC", 2, 70, kRoot, 300);
  CFileEntry* file = task.Cell(70);
  task.FeedNtfs(L"Report for May.docx", 1, 70, kRoot, 300);
  task.FeedNtfs(L"REPORT~1.DOC", 2, 70, kRoot, 300);
  EXPECT_EQ(task.Cell(70), file);
  EXPECT_STREQ(file->name, L"Report for May.docx");
  EXPECT_EQ(std::wstring(file->extensionNode.text, size_t(file->extensionNode.length)), L"docx");
  EXPECT_EQ(task.FileCount(), 1);
  EXPECT_EQ(task.Cell(kRoot)->AsPath()->childCount, 1u);
  // Folders too: the long name wins, nothing is added.
  task.FeedNtfs(L"PROGRA~1", 2, 71, kRoot, 0, kAttrFolder);
  task.FeedNtfs(L"Program Files", 1, 71, kRoot, 0, kAttrFolder);
  EXPECT_STREQ(task.Cell(71)->name, L"Program Files");
  EXPECT_EQ(task.Cell(71)->attributes & kAttrFolderMask, kAttrFolderMask);
  EXPECT_EQ(task.Cell(kRoot)->AsPath()->childCount, 2u);
}

TEST(ScanTaskNtfsNames, HardLinksInOtherFoldersAreAliasesAndPlaceholdersGetTheirName) {
  FeedTask task(Params());
  task.ScanInit();
  task.FeedNtfs(L"Root", 3, kRoot, kRoot, 0, kAttrFolder);
  task.FeedNtfs(L"Docs", 1, 80, kRoot, 0, kAttrFolder);
  task.FeedNtfs(L"a.txt", 1, 81, kRoot, 4);
  task.FeedNtfs(L"link.txt", 1, 81, 80, 4);
  CFileEntry* first = task.Cell(81);
  ASSERT_TRUE(first->linkChainNode.next);
  CFileEntry* alias = CFileEntry::FromLinkChainNode(first->linkChainNode.next);
  EXPECT_STREQ(alias->name, L"link.txt");
  EXPECT_EQ(FindParentFolder(alias), task.Cell(80)->AsPath());
  EXPECT_EQ(task.FileCount(), 2);

  CFileEntry* placeholder = task.MakeDataPlaceholder(82, 4096);
  task.FeedNtfs(L"Photo.JPG", 1, 82, 80, 4096);
  EXPECT_EQ(task.Cell(82), placeholder);
  EXPECT_STREQ(placeholder->name, L"Photo.JPG");
  EXPECT_EQ(std::wstring(placeholder->extensionNode.text, size_t(placeholder->extensionNode.length)), L"jpg");
  EXPECT_EQ(FindParentFolder(placeholder), task.Cell(80)->AsPath());
  EXPECT_TRUE(task.UnknownFolder()->childList.IsEmpty());
  EXPECT_EQ(task.FileCount(), 3);
}

// ---------------------------------------------------------------------------------

// 100 photos, 100 texts with an upper-case extension, 50 files without extension and 5
// folders: more than one batch.
void FeedMixedVolume(FeedTask* task) {
  task->Feed(L"Root", kRoot, kRoot, 0, kAttrFolder);
  for (uint64_t f = 0; f < 4; ++f) task->Feed((L"Dir" + std::to_wstring(f)).c_str(), 100 + f, kRoot, 0, kAttrFolder);
  for (uint64_t i = 0; i < 250; ++i) {
    std::wstring name = L"f" + std::to_wstring(i);
    name += i < 100 ? L".jpg" : (i < 200 ? L".TXT" : L"");
    task->Feed(name.c_str(), 1000 + i, 100 + i % 4, i < 100 ? 10 : 1, 0, i % 10 == 0);
  }
}

TEST(ScanTaskIndexer, DrainsIntoTheFourListsAndTheFileTypeTable) {
  Made made = MakeTask(&FeedMixedVolume);
  FeedTask* task = made.task.get();
  ASSERT_TRUE(made.worker->Start());
  ASSERT_TRUE(WaitFor([&] { return task->IsFinished(); }, 20000));
  EXPECT_TRUE(task->IndexerDone());
  EXPECT_EQ(task->postScans.load(), 1);
  EXPECT_EQ(task->PendingCount(), 0);
  for (int list = 0; list < 4; ++list) EXPECT_EQ(ListLength(task->GlobalList(list)), 255u) << "list " << list;

  FileTypeRecord types[8];
  int32_t total = 0, got = 0;
  ASSERT_EQ(task->EnumFileTypes(0, 8, &total, &got, types), 0);
  ASSERT_EQ(total, 3);
  ASSERT_EQ(got, 3);
  uint32_t files = 0;
  for (int i = 0; i < got; ++i) files += types[i].fileCount;
  EXPECT_EQ(files, 250u);
  const FileTypeRecord* jpg = task->FileTypes().Find(L"jpg", 3);
  const FileTypeRecord* txt = task->FileTypes().Find(L"txt", 3);
  const FileTypeRecord* none = task->FileTypes().Find(L"", 0);
  ASSERT_TRUE(jpg && txt && none);
  EXPECT_EQ(jpg->fileCount, 100u);
  EXPECT_EQ(jpg->totalSize, 1000u);
  EXPECT_EQ(txt->fileCount, 100u) << "extensions are counted lower-case";
  EXPECT_EQ(none->fileCount, 50u);
  EXPECT_EQ(task->FileTypes().Find(L"TXT", 3), nullptr);
  EXPECT_EQ(task->EnumFileTypes(3, 8, &total, &got, types), 0);
  EXPECT_EQ(got, 0);

  // The volume root and "UnknownPath" under the virtual root, counted.
  CVirtualRoot* top = task->VirtualRoot();
  EXPECT_EQ(top->childCount, 2u);
  EXPECT_EQ(top->fileCount, 250u);
  EXPECT_EQ(top->deletedCount, 25u);
  EXPECT_EQ(top->totalSize, 100u * 10 + 150u);
  EXPECT_EQ(task->FileCount(), 250);
}

TEST(ScanTaskIndexer, BucketsFollowTheExtensionSum) {
  EXPECT_EQ(CFileTypeTable::BucketOf(L"", 0), 0);
  // 'a' = 0x61, then 'b' = 0x62 shifted by 3: (0x61 + (0x62 << 3)) & 0xFF.
  EXPECT_EQ(CFileTypeTable::BucketOf(L"ab", 2), uint8_t(0x61 + (0x62 << 3)));
  // The high byte of a character enters three bits further up.
  EXPECT_EQ(CFileTypeTable::BucketOf(L"\x0101", 1), uint8_t(0x01 + (0x01 << 3)));
}

// ---------------------------------------------------------------------------------

// Feeds files until the task says stop, a little slower than a real walk. A record
// callback that began after the test paused the task and came back before the test let
// it go is noted: the pause did not hold.
void FeedUntilStopped(FeedTask* task) {
  task->Feed(L"Root", kRoot, kRoot, 0, kAttrFolder);
  for (uint64_t i = 0;; ++i) {
    const int fed = ++task->filesFed;
    const int go = task->Feed((L"n" + std::to_wstring(i) + L".bin").c_str(), 100 + i, kRoot, 1);
    if (fed > task->fedAtPause.load() && !task->letGo.load()) task->returnedWhilePaused = true;
    if (!go) break;
    Sleep(2);
  }
}

// Pauses the task and waits until a record callback that began after the pause holds
// the feeder (its file counted, the callback not back); the files counted then.
int32_t PauseAndWaitUntilHeld(FeedTask* task) {
  task->letGo = false;
  EXPECT_EQ(task->PauseWork(1), 1);
  task->fedAtPause = task->filesFed.load();
  EXPECT_TRUE(WaitFor([&] { return task->filesFed > task->fedAtPause && task->FileCount() == task->filesFed; },
                      60000));
  return task->FileCount();
}

TEST(ScanTaskControl, PauseFreezesTheCountsAndStopEndsAPausedTask) {
  Made made = MakeTask(&FeedUntilStopped);
  FeedTask* task = made.task.get();
  ASSERT_TRUE(made.worker->Start());
  ASSERT_TRUE(WaitFor([&] { return task->FileCount() > 10; }, 60000));
  const int32_t frozen = PauseAndWaitUntilHeld(task);
  EXPECT_FALSE(task->IsFinished());
  EXPECT_FALSE(task->returnedWhilePaused.load());

  // The stop ends the pause: the held callback answers stop and no file comes after it.
  task->letGo = true;
  ASSERT_TRUE(EndsWithin([&] { EXPECT_EQ(task->StopWork(), 1); }, 60000)) << "StopWork hangs on a paused task";
  EXPECT_TRUE(task->IsFinished());
  EXPECT_TRUE(task->IndexerDone());
  EXPECT_EQ(task->FileCount(), frozen);
  EXPECT_FALSE(task->returnedWhilePaused.load());
}

TEST(ScanTaskControl, ResumedTaskGoesOn) {
  Made made = MakeTask(&FeedUntilStopped);
  FeedTask* task = made.task.get();
  ASSERT_TRUE(made.worker->Start());
  ASSERT_TRUE(WaitFor([&] { return task->FileCount() > 5; }, 60000));
  const int32_t frozen = PauseAndWaitUntilHeld(task);
  task->letGo = true;
  task->PauseWork(0);
  EXPECT_TRUE(WaitFor([&] { return task->FileCount() > frozen + 5; }, 60000));
  EXPECT_EQ(task->StopWork(), 1);
  EXPECT_FALSE(task->returnedWhilePaused.load());
}

// ---------------------------------------------------------------------------------

// A worker that, once its task has finished, stays a while longer in its thread, as a
// core routine does on its way back after the finish callback. It leaves early when its
// own object is destroyed under it; a correct task never lets that happen, so the wait
// costs its whole bound (it only gives a freeing that does not wait the time to show).
std::atomic<bool> g_lingerInRun{false};
std::atomic<bool> g_destroyedUnderWorker{false};
UniqueHandle g_lingerWorkerGone;

class LingeringWorker : public IVolumeWorker {
 public:
  explicit LingeringWorker(FeedTask* task) : IVolumeWorker(nullptr, task), m_feed(task) {}
  ~LingeringWorker() override {
    if (g_lingerInRun.load()) g_destroyedUnderWorker = true;
    SetEvent(g_lingerWorkerGone.Get());
  }
  DWORD Run() override {
    g_lingerInRun = true;
    m_feed->ScanInit();
    m_feed->Feed(L"Root", kRoot, kRoot, 0, kAttrFolder);
    m_feed->WorkFinishRoutine(0);
    // Nothing of the worker or its task is touched from here on.
    WaitForSingleObject(g_lingerWorkerGone.Get(), 500);
    g_lingerInRun = false;
    return 0;
  }

 private:
  FeedTask* m_feed;
};

TEST(ScanTaskClose, AFinishedTaskIsFreedOnlyOnceItsWorkerHasLeft) {
  g_lingerWorkerGone.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(g_lingerWorkerGone);
  auto* task = new FeedTask(Params());
  task->SetWorker(std::make_unique<LingeringWorker>(task));
  ASSERT_TRUE(task->StartIndexer());
  ASSERT_TRUE(task->Worker()->Start());
  ASSERT_TRUE(WaitFor([&] { return task->IsFinished(); }, 60000));
  // The host frees the finished task while its worker is still in the thread.
  ASSERT_TRUE(EndsWithin(
      [task] {
        task->StopIndexer();
        delete task;
      },
      60000));
  EXPECT_FALSE(g_destroyedUnderWorker.load()) << "the task went while its worker still ran";
}

CStorage::TaskBuilder LookupFeedTask(StarterKind, uint16_t) {
  return [](const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) -> int32_t {
    auto made = std::make_unique<FeedTask>(params);
    made->SetWorker(std::make_unique<FeedWorker>(params.storage, made.get(), &FeedMixedVolume));
    task = std::move(made);
    return 0;
  };
}

TEST(ScanTaskClose, RefusesWithAnOpenEnumerationAndFreesAfter) {
  CStorage storage(&LookupFeedTask);
  storage.SetDisksForTest({DiskRecord{}});
  int32_t id = 0;
  ASSERT_EQ(storage.StartFSDeepScanTask(0, 0, 0, &id), 0);
  std::shared_ptr<CStorage::CScanTask> task = storage.FindTask(id);
  ASSERT_TRUE(task);
  ASSERT_TRUE(WaitFor([&] { return task->IsFinished(); }, 20000));

  int32_t got = -1, handle = 0;
  ScanFileRecord page[1];
  ASSERT_EQ(task->EnumScannedFiles(L"/", 0, 1, page, &got, nullptr, nullptr, nullptr, nullptr, nullptr, &handle), 0);
  EXPECT_EQ(handle, 1);
  EXPECT_EQ(storage.CloseScanTask(id), kResultBusy);
  ASSERT_TRUE(storage.FindTask(id)) << "the task stays usable";
  EXPECT_NE(task->GetEntryById(1000), nullptr);
  EXPECT_EQ(task->CloseEnumHandle(handle), 0);
  EXPECT_EQ(task->CloseEnumHandle(handle), kResultNoTask);
  task.reset();
  EXPECT_EQ(storage.CloseScanTask(id), 0);
  EXPECT_FALSE(storage.FindTask(id));
}

TEST(ScanTaskClose, AStartThatFailsLeavesNoIndexerBehind) {
  // The builder makes a task without a worker: the start fails after the task exists.
  CStorage storage([](StarterKind, uint16_t) -> CStorage::TaskBuilder {
    return [](const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) -> int32_t {
      task = std::make_unique<FeedTask>(params);
      return 0;
    };
  });
  storage.SetDisksForTest({DiskRecord{}});
  int32_t id = 0;
  EXPECT_EQ(storage.StartFSDeepScanTask(0, 0, 0, &id), kResultNoMemory);
  EXPECT_EQ(storage.TaskCount(), 0u);
}

// ---------------------------------------------------------------------------------

// Address 0 is mapped under the emulated Wine these tests run in, so a null write would
// not fault there: the write goes to a page that allows no access at all.
int* NoAccessPage() {
  static int* page = static_cast<int*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
  return page;
}

void WriteToNoAccessPage() {
  int* volatile target = NoAccessPage();
  *target = 1;
}

// Windows reports the write as an access violation. The emulated Wine here delivers the
// same page fault as an illegal instruction, without the access parameters.
bool IsWriteFault(const FaultInfo& info) {
  if (info.code == DWORD(EXCEPTION_ILLEGAL_INSTRUCTION)) return true;
  if (info.code != DWORD(EXCEPTION_ACCESS_VIOLATION)) return false;
  return info.parameterCount < 2 ||
         (info.parameters[0] == 1 && info.parameters[1] == reinterpret_cast<ULONG_PTR>(NoAccessPage()));
}

TEST(ScanTaskFaultGuard, AnAccessViolationInTheWalkEndsTheScanWithWhatItHas) {
  ASSERT_NE(NoAccessPage(), nullptr);
  Made made = MakeTask([](FeedTask* task) {
    task->Feed(L"Root", kRoot, kRoot, 0, kAttrFolder);
    for (uint64_t i = 0; i < 20; ++i) task->Feed((L"k" + std::to_wstring(i)).c_str(), 100 + i, kRoot, 1);
    WriteToNoAccessPage();
    task->Feed(L"never", 999, kRoot, 1);
  });
  made.worker->secondCall = true;
  FeedTask* task = made.task.get();
  ASSERT_TRUE(made.worker->Start());
  ASSERT_TRUE(WaitFor([&] { return task->IsFinished(); }, 20000));
  EXPECT_EQ(made.worker->guardedResult.load(), 0);
  FaultInfo info;
  info.code = made.worker->faultCode.load();
  EXPECT_TRUE(IsWriteFault(info)) << std::hex << info.code;
  EXPECT_EQ(made.worker->secondGuardedResult.load(), 1);
  EXPECT_EQ(task->FileCount(), 20);
  EXPECT_EQ(ListLength(task->GlobalList(0)), 21u);
  EXPECT_EQ(task->VirtualRoot()->fileCount, 20u);
}

TEST(ScanTaskFaultGuard, GuardsNestAndWorkOnTheCallingThread) {
  int inner = -1;
  FaultInfo info;
  bool outer = RunGuardedCall([&] {
    inner = RunGuardedCall(&WriteToNoAccessPage, &info) ? 1 : 0;
    // After the inner fault the outer guard still protects this frame.
    WriteToNoAccessPage();
  });
  EXPECT_EQ(inner, 0);
  EXPECT_TRUE(IsWriteFault(info)) << std::hex << info.code;
  EXPECT_FALSE(outer);
  int value = 0;
  EXPECT_TRUE(RunGuardedCall([&] { value = 7; }));
  EXPECT_EQ(value, 7);
}

}  // namespace
