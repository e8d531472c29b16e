// Enumerations, filters and queries of the scan-task base, over trees that a test
// worker feeds through the record callback as a core walk would, and through the
// registry for the handle rules of CloseScanTask.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"
#include "Enumeration.h"
#include "Interface.h"

namespace {

constexpr uint64_t kNone = ~uint64_t(0);
constexpr uint64_t kRoot = 5;
constexpr uint64_t kBefore1970 = 0xFFFFFFFFF8000000ull;  // a time stamp before 1970, unsigned

class EnumTask;
using Body = std::function<void(EnumTask*)>;

class EnumTask : public CStorage::CScanTask {
 public:
  explicit EnumTask(const TaskParams& p) : CScanTask(p) { SetRootId(kRoot); }

  int32_t RecoverFile(int32_t, int32_t, const wchar_t*, const wchar_t*, const int32_t*) override { return 0; }
  int32_t RecoverFileByID(int32_t, const wchar_t*, const RecoverIdItem*) override { return 0; }
  void PostScan() override {}
  void WorkFinishRoutine(int32_t) override {
    AttachTreeToVirtualRoot();
    FinishWork();
  }

  void Feed(const wchar_t* name, uint64_t id, uint64_t parent, uint64_t size, uint32_t attributes, uint64_t time,
            bool deleted = false) {
    TaskRecordCallback(this, name, 1, uint32_t(id), uint32_t(id >> 32), uint32_t(parent), uint32_t(parent >> 32),
                       uint32_t(size), uint32_t(size >> 32), uint32_t(time), uint32_t(time >> 32), attributes,
                       deleted ? 1 : 0, 50);
  }
  void Folder(const wchar_t* name, uint64_t id, uint64_t parent, uint64_t time = 0) {
    Feed(name, id, parent, 0, kAttrFolder, time);
  }
  // A data run that carries the file's real size, as NTFS records give it.
  void AddRun(uint64_t id, uint64_t bytes) {
    CDataEntry* run = ArenaNew<CDataEntry>(m_arena, 0, id, bytes);
    ASSERT_NE(run, nullptr);
    AddDataRun(*GetIdCell(id), run);
  }
  // A folder under "UnknownPath" that holds the id of the file in the id's cell.
  void LostFolderWithFileId(const wchar_t* name, uint64_t id) {
    CPathEntry* folder = NewPathEntry(m_arena, kAttrFolder, name, 0, NextSequence(), id, kNone, 0, 0, 0);
    ASSERT_NE(folder, nullptr);
    AddChild(m_unknownFolder, folder);
  }
  CFileEntry* Entry(uint64_t id) { return *GetIdCell(id); }
  int32_t FileCount() const {
    int32_t files = 0;
    GetScanProgress(nullptr, &files, nullptr, nullptr);
    return files;
  }
};

class EnumWorker : public IVolumeWorker {
 public:
  EnumWorker(CStorage* storage, EnumTask* task, Body body)
      : IVolumeWorker(storage, task), m_self(task), m_body(std::move(body)) {}
  DWORD Run() override {
    m_self->ScanInit();
    if (m_body) m_body(m_self);
    m_self->WorkFinishRoutine(0);
    return 0;
  }

 private:
  EnumTask* m_self;
  Body m_body;
};

TaskParams Params(int32_t taskId) {
  TaskParams p;
  p.taskId = taskId;
  return p;
}

// A finished scan of the tree the body feeds, released as the registry releases tasks.
std::shared_ptr<EnumTask> Scan(Body body, int32_t taskId = 3) {
  std::shared_ptr<EnumTask> task(new EnumTask(Params(taskId)), [](EnumTask* t) {
    t->StopIndexer();
    delete t;
  });
  task->SetWorker(std::make_unique<EnumWorker>(nullptr, task.get(), std::move(body)));
  EXPECT_TRUE(task->StartIndexer());
  task->Worker()->Start();
  EXPECT_TRUE(WaitFor([&] { return task->IsFinished(); }, 60000));
  return task;
}

//   Root(5)
//     Docs(10): a.txt(20) b.JPG(21) c.jpeg(22) archive.TAR.GZ(23) README(24) old.txt(27)
//     e.txt(25, deleted)
//   UnknownPath: b.doc(26)
void StandardTree(EnumTask* t) {
  t->Folder(L"Root", kRoot, kRoot);
  t->Folder(L"Docs", 10, kRoot, 1500);
  t->Feed(L"a.txt", 20, 10, 100, 0, 1000);
  t->Feed(L"b.JPG", 21, 10, 2000, 0, 2000);
  t->Feed(L"c.jpeg", 22, 10, 2001, 0, 2500);
  t->Feed(L"archive.TAR.GZ", 23, 10, 50, 0, 3000);
  t->Feed(L"README", 24, 10, 99, 0, 1499);
  t->Feed(L"old.txt", 27, 10, 1, 0, kBefore1970);
  t->Feed(L"e.txt", 25, kRoot, 7, 0, 5000, true);
  t->Feed(L"b.doc", 26, kNone, 8, 0, 6000);
}

using Records = std::vector<ScanFileRecord>;

// The Continue forms, as the exports call the task's slots.
struct Continue {
  static int32_t Folder(CStorage::CScanTask* t, int32_t h, int32_t n, ScanFileRecord* r, int32_t* got) {
    return t->EnumScannedFiles(nullptr, h, n, r, got, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  static int32_t Global(CStorage::CScanTask* t, int32_t h, int32_t n, ScanFileRecord* r, int32_t* got) {
    return t->GlobalEnumScannedFiles(0, h, n, r, got, nullptr);
  }
  static int32_t Filter(CStorage::CScanTask* t, int32_t h, int32_t n, ScanFileRecord* r, int32_t* got) {
    return t->GlobalFilterScannedFiles(h, 0, nullptr, n, r, got, nullptr);
  }
};
using ContinueFn = int32_t (*)(CStorage::CScanTask*, int32_t, int32_t, ScanFileRecord*, int32_t*);

Records DrainWith(CStorage::CScanTask& task, int32_t handle, int32_t pageSize, ContinueFn next,
                  Records first = {}) {
  Records all = std::move(first);
  Records page(static_cast<size_t>(pageSize));
  for (int guard = 0; guard < 100000; ++guard) {
    int32_t got = -1;
    EXPECT_EQ(next(&task, handle, pageSize, page.data(), &got), 0);
    all.insert(all.end(), page.begin(), page.begin() + std::max(got, 0));
    if (got < pageSize) break;
  }
  return all;
}

std::vector<std::wstring> Names(const Records& records) {
  std::vector<std::wstring> names;
  for (const ScanFileRecord& r : records) names.push_back(r.name);
  return names;
}

std::vector<std::wstring> SortedNames(const Records& records) {
  std::vector<std::wstring> names = Names(records);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<uint64_t> Ids(const Records& records) {
  std::vector<uint64_t> ids;
  for (const ScanFileRecord& r : records) ids.push_back(r.id);
  return ids;
}

struct FolderPage {
  int32_t result = 0;
  Records records;
  int32_t handle = 0;
  int32_t children = -1, files = -1, deleted = -1;
  uint64_t total = ~0ull, deletedSize = ~0ull;
};

FolderPage OpenFolder(CStorage::CScanTask& task, const wchar_t* path, int32_t pageSize, bool wantHandle = true) {
  FolderPage page;
  page.records.resize(size_t(pageSize));
  int32_t got = -1;
  page.result = task.EnumScannedFiles(path, 0, pageSize, page.records.data(), &got, &page.children, &page.files,
                                      &page.deleted, &page.total, &page.deletedSize,
                                      wantHandle ? &page.handle : nullptr);
  page.records.resize(size_t(std::max(got, 0)));
  return page;
}

// ---------------------------------------------------------------------------------
// Folder enumeration

TEST(EnumerationFolder, SmallPagesOfALargeFolderGiveExactlyTheEntriesOfOneLargePage) {
  constexpr int kFiles = 2500;
  auto task = Scan([](EnumTask* t) {
    t->Folder(L"Root", kRoot, kRoot);
    t->Folder(L"Big", 10, kRoot);
    for (int i = 0; i < kFiles; ++i) {
      const std::wstring name = L"f" + std::to_wstring(i) + L".dat";
      t->Feed(name.c_str(), 100 + uint64_t(i), 10, uint64_t(i), 0, 1000 + uint64_t(i), i % 10 == 0);
    }
  });
  FolderPage whole = OpenFolder(*task, L":/Root:6/Big:B/", 3000);
  ASSERT_EQ(whole.result, 0);
  ASSERT_EQ(whole.records.size(), size_t(kFiles));
  EXPECT_EQ(whole.children, kFiles);
  EXPECT_EQ(whole.files, kFiles);
  EXPECT_EQ(whole.deleted, kFiles / 10);
  EXPECT_EQ(whole.total, uint64_t(kFiles) * (kFiles - 1) / 2);
  uint64_t deletedBytes = 0;
  for (int i = 0; i < kFiles; i += 10) deletedBytes += uint64_t(i);
  EXPECT_EQ(whole.deletedSize, deletedBytes);

  FolderPage first = OpenFolder(*task, L":/Root:6/Big:B/", 7);
  ASSERT_EQ(first.result, 0);
  ASSERT_NE(first.handle, whole.handle);
  EXPECT_EQ(first.children, kFiles);
  Records paged = DrainWith(*task, first.handle, 7, &Continue::Folder, first.records);
  EXPECT_EQ(Ids(paged), Ids(whole.records));
  EXPECT_EQ(Names(paged), Names(whole.records));
  // Past the end: empty pages, still success.
  ScanFileRecord extra[7];
  int32_t got = -1;
  EXPECT_EQ(Continue::Folder(task.get(), first.handle, 7, extra, &got), 0);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(task->CloseEnumHandle(first.handle), 0);
  EXPECT_EQ(task->CloseEnumHandle(whole.handle), 0);
}

TEST(EnumerationFolder, RecordsCarryExternalIdsTaskIdAndGlobalId) {
  auto task = Scan(StandardTree, 3);
  FolderPage page = OpenFolder(*task, L":/Root:6/", 10);
  ASSERT_EQ(page.result, 0);
  ASSERT_EQ(Names(page.records), (std::vector<std::wstring>{L"Docs", L"e.txt"}));
  const ScanFileRecord& docs = page.records[0];
  EXPECT_EQ(docs.id, 11u);
  EXPECT_EQ(docs.parentId, kRoot + 1);
  EXPECT_EQ(docs.time, 1500u);
  EXPECT_NE(docs.attributes & kAttrFolder, 0u);
  EXPECT_EQ(docs.taskId, 3u);
  EXPECT_EQ(docs.globalId >> 40, 3u);
  EXPECT_EQ(docs.globalId & 0xFFFFFFFFFFull, task->Entry(10)->sequence);
  const ScanFileRecord& e = page.records[1];
  EXPECT_EQ(e.size, 7u);
  EXPECT_NE(e.attributes & kAttrDeleted, 0u);
  EXPECT_EQ(page.children, 2);
  EXPECT_EQ(page.files, 7);  // the six in Docs and e.txt
  EXPECT_EQ(page.deleted, 1);
  task->CloseEnumHandle(page.handle);
}

TEST(EnumerationFolder, PathSyntax) {
  auto task = Scan(StandardTree);
  struct Case {
    const wchar_t* path;
    int32_t result;
    std::vector<std::wstring> names;
  };
  const std::vector<std::wstring> docs = {L"a.txt", L"b.JPG", L"c.jpeg", L"archive.TAR.GZ", L"README", L"old.txt"};
  const std::vector<std::wstring> top = {L"Root", L"UnknownPath"};
  const Case cases[] = {
      {L":", 0, top},
      {L"/", 0, top},
      {L":/", 0, top},
      {L":/Root:6", 0, {L"Docs", L"e.txt"}},
      {L":/Root:6/Docs:B/", 0, docs},
      {L":/Root:6/Docs:b", 0, docs},            // hexadecimal in either case
      {L"C:/Root:6/Docs:B/", -87, {}},          // must start with '/' or ':'
      {L":C:/Root:6/Docs:B/", 0, docs},         // the host's own first part is ignored
      {L"/x/Root:6/Docs:B", 0, docs},
      {L":/Root:6//Docs:B/", 0, docs},          // an empty part changes nothing
      {L":/Root/Docs", 0, docs},                // parts without an id name a folder by name
      {L":/Root:7/", -2, {}},                   // wrong id
      {L":/root:6/", -2, {}},                   // names are exact
      {L":/Root:6/a.txt:15/", -2, {}},          // a file is no folder
      {L":/Root:6/Docs:B/Nothing:1/", -2, {}},
      {L":/UnknownPath:0/", 0, {L"b.doc"}},     // the all-ones id is 0 outside
      {L"", -87, {}},
  };
  for (const Case& c : cases) {
    FolderPage page = OpenFolder(*task, c.path, 20);
    EXPECT_EQ(page.result, c.result) << testing::PrintToString(std::wstring(c.path));
    if (page.result == 0) {
      EXPECT_EQ(Names(page.records), c.names) << testing::PrintToString(std::wstring(c.path));
      EXPECT_EQ(task->CloseEnumHandle(page.handle), 0);
    } else {
      EXPECT_EQ(page.handle, 0);
    }
  }
  EXPECT_EQ(task->EnumContextCount(), 0u);
  int32_t got = -1;
  ScanFileRecord r[2];
  EXPECT_EQ(task->EnumScannedFiles(nullptr, 0, 2, r, &got, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            -87);
  EXPECT_EQ(task->EnumScannedFiles(L":", 0, 0, r, &got, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -87);
  EXPECT_EQ(task->EnumScannedFiles(nullptr, 99, 2, r, &got, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            -2);
  EXPECT_EQ(got, 0);
}

TEST(EnumerationFolder, NamesLongerThanARecordHoldsAreCutAtTheBoundary) {
  const std::wstring longName(300, L'n');
  // 254 characters and a surrogate pair: the pair does not fit and is left out whole.
  const std::wstring pairAtEdge = std::wstring(254, L'p') + L"\xD83D\xDE00";
  auto task = Scan([&](EnumTask* t) {
    t->Folder(L"Root", kRoot, kRoot);
    t->Feed(longName.c_str(), 20, kRoot, 1, 0, 1);
    t->Feed(pairAtEdge.c_str(), 21, kRoot, 2, 0, 2);
    t->Feed(L"next.txt", 22, kRoot, 3, 0, 3);
  });
  Records page(4);
  std::memset(page.data(), 0xCC, page.size() * sizeof(ScanFileRecord));
  int32_t got = 0;
  int32_t handle = 0;
  ASSERT_EQ(task->EnumScannedFiles(L":/Root:6/", 0, 3, page.data(), &got, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, &handle),
            0);
  ASSERT_EQ(got, 3);
  EXPECT_EQ(std::wstring(page[0].name), longName.substr(0, 255));
  EXPECT_EQ(std::wstring(page[1].name), pairAtEdge.substr(0, 254));
  // The records after the long names are whole, and nothing is written past the page.
  EXPECT_EQ(page[1].id, 22u);
  EXPECT_STREQ(page[2].name, L"next.txt");
  EXPECT_EQ(page[2].size, 3u);
  EXPECT_EQ(page[3].id, 0xCCCCCCCCCCCCCCCCull);
  task->CloseEnumHandle(handle);
}

TEST(EnumerationFolder, TwoInterleavedEnumerationsStayIndependent) {
  auto task = Scan([](EnumTask* t) {
    t->Folder(L"Root", kRoot, kRoot);
    t->Folder(L"A", 10, kRoot);
    t->Folder(L"B", 11, kRoot);
    for (int i = 0; i < 40; ++i) {
      t->Feed((L"a" + std::to_wstring(i)).c_str(), 100 + uint64_t(i), 10, 1, 0, 1);
      t->Feed((L"b" + std::to_wstring(i)).c_str(), 200 + uint64_t(i), 11, 1, 0, 1);
    }
  });
  FolderPage a = OpenFolder(*task, L":/Root:6/A:B", 3);
  FolderPage b = OpenFolder(*task, L":/Root:6/B:C", 5);
  FolderPage a2 = OpenFolder(*task, L":/Root:6/A:B", 4);
  ASSERT_EQ(a.result, 0);
  ASSERT_EQ(b.result, 0);
  ASSERT_EQ(a2.result, 0);
  std::set<int32_t> handles = {a.handle, b.handle, a2.handle};
  EXPECT_EQ(handles.size(), 3u);
  Records ra = a.records, rb = b.records, ra2 = a2.records;
  Records page(5);
  for (int round = 0; round < 20; ++round) {
    int32_t got = 0;
    Continue::Folder(task.get(), a.handle, 3, page.data(), &got);
    ra.insert(ra.end(), page.begin(), page.begin() + got);
    Continue::Folder(task.get(), b.handle, 5, page.data(), &got);
    rb.insert(rb.end(), page.begin(), page.begin() + got);
    Continue::Folder(task.get(), a2.handle, 4, page.data(), &got);
    ra2.insert(ra2.end(), page.begin(), page.begin() + got);
  }
  std::vector<std::wstring> wantA, wantB;
  for (int i = 0; i < 40; ++i) {
    wantA.push_back(L"a" + std::to_wstring(i));
    wantB.push_back(L"b" + std::to_wstring(i));
  }
  EXPECT_EQ(Names(ra), wantA);
  EXPECT_EQ(Names(ra2), wantA);
  EXPECT_EQ(Names(rb), wantB);
  // Closing one leaves the others where they were.
  FolderPage c = OpenFolder(*task, L":/Root:6/B:C", 2);
  EXPECT_EQ(task->CloseEnumHandle(a.handle), 0);
  Records rest = DrainWith(*task, c.handle, 6, &Continue::Folder, c.records);
  EXPECT_EQ(Names(rest), wantB);
  EXPECT_EQ(task->CloseEnumHandle(a.handle), -2);
  for (int32_t h : {b.handle, a2.handle, c.handle}) EXPECT_EQ(task->CloseEnumHandle(h), 0);
  EXPECT_EQ(task->EnumContextCount(), 0u);
}

// ---------------------------------------------------------------------------------
// Global lists

TEST(EnumerationGlobal, ListsHoldEveryIndexedEntryButTheRootAndWalkBothWays) {
  auto task = Scan(StandardTree);
  const std::vector<std::wstring> all = {L"Docs",   L"README", L"UnknownPath", L"a.txt", L"archive.TAR.GZ",
                                         L"b.JPG",  L"b.doc",  L"c.jpeg",      L"e.txt", L"old.txt"};
  for (int32_t list = 0; list < 4; ++list) {
    int32_t handle = 0;
    int32_t got = -1;
    Records first(3);
    ASSERT_EQ(task->GlobalEnumScannedFiles(list, 0, 3, first.data(), &got, &handle), 0) << list;
    first.resize(size_t(got));
    Records forward = DrainWith(*task, handle, 3, &Continue::Global, first);
    std::vector<std::wstring> names = SortedNames(forward);
    // "UnknownPath" is no indexed entry; every other entry but the root is, once.
    std::vector<std::wstring> want = all;
    want.erase(std::find(want.begin(), want.end(), L"UnknownPath"));
    EXPECT_EQ(names, want) << list;

    // A negative list argument walks the same list from its end.
    int32_t back = 0;
    Records reversed(100);
    ASSERT_EQ(task->GlobalEnumScannedFiles(int32_t(0xFFFF0000u | uint32_t(list)), 0, 100, reversed.data(), &got,
                                           &back),
              0);
    reversed.resize(size_t(got));
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(Ids(reversed), Ids(forward)) << list;
    EXPECT_EQ(task->CloseEnumHandle(handle), 0);
    EXPECT_EQ(task->CloseEnumHandle(back), 0);
  }
  Records page(2);
  int32_t got = -1;
  int32_t handle = 0;
  for (int32_t bad : {-1, 4, 0x10004, int32_t(0xFFFF0004u)}) {
    EXPECT_EQ(task->GlobalEnumScannedFiles(bad, 0, 2, page.data(), &got, &handle), -87) << bad;
    EXPECT_EQ(got, 0);
  }
  EXPECT_EQ(task->GlobalEnumScannedFiles(0, 0, 0, page.data(), &got, &handle), -87);
  EXPECT_EQ(task->GlobalEnumScannedFiles(0, 42, 2, page.data(), &got, nullptr), -2);
  EXPECT_EQ(task->EnumContextCount(), 0u);
}

// ---------------------------------------------------------------------------------
// Filters

Records FilterAll(CStorage::CScanTask& task, const ScanFilter* filters, int32_t filterCount, int32_t pageSize,
                  int32_t* result) {
  Records first(static_cast<size_t>(pageSize));
  int32_t got = -1;
  int32_t handle = 0;
  *result = task.GlobalFilterScannedFiles(0, filterCount, filters, pageSize, first.data(), &got, &handle);
  if (*result != 0) {
    EXPECT_EQ(got, 0);
    EXPECT_EQ(handle, 0);
    return {};
  }
  first.resize(size_t(got));
  Records all = DrainWith(task, handle, pageSize, &Continue::Filter, first);
  EXPECT_EQ(task.CloseEnumHandle(handle), 0);
  return all;
}

TEST(EnumerationFilter, KindsAndBounds) {
  auto task = Scan(StandardTree);
  struct Case {
    const char* what;
    ScanFilter filter;
    int32_t result;
    std::vector<std::wstring> names;  // sorted
  };
  const Case cases[] = {
      {"name contains, folders too", {1, L"oc", 0, 0}, 0, {L"Docs", L"b.doc"}},
      {"name is case-sensitive", {1, L"readme", 0, 0}, 0, {}},
      {"name contains .txt", {1, L".txt", 0, 0}, 0, {L"a.txt", L"e.txt", L"old.txt"}},
      {"extension equals, lower-case view", {2, L"jpg", 0, 0}, 0, {L"b.JPG"}},
      {"extension as written does not match", {2, L"JPG", 0, 0}, 0, {}},
      {"extension is the last part", {2, L"gz", 0, 0}, 0, {L"archive.TAR.GZ"}},
      {"empty extension: files without one, no folders", {2, L"", 0, 0}, 0, {L"README"}},
      {"time range inclusive, folders too", {3, nullptr, 1499, 2000}, 0, {L"Docs", L"README", L"b.JPG"}},
      {"time before 1970 is a huge value", {3, nullptr, 0x8000000000000000ull, ~0ull}, 0, {L"old.txt"}},
      {"time range empty", {3, nullptr, 7000, 8000}, 0, {}},
      {"size range inclusive, no folders", {4, nullptr, 99, 2000}, 0, {L"README", L"a.txt", L"b.JPG"}},
      {"size zero matches only files", {4, nullptr, 0, 0}, 0, {}},
      {"low above high", {4, nullptr, 10, 5}, 0, {}},
      {"unknown kind", {5, L"x", 0, 0}, -87, {}},
      {"kind 0", {0, L"x", 0, 0}, -87, {}},
      {"name without text", {1, nullptr, 0, 0}, -87, {}},
  };
  for (const Case& c : cases) {
    for (int32_t pageSize : {1, 100}) {
      int32_t result = 0;
      Records found = FilterAll(*task, &c.filter, 1, pageSize, &result);
      EXPECT_EQ(result, c.result) << c.what;
      EXPECT_EQ(SortedNames(found), c.names) << c.what << ", page " << pageSize;
    }
  }
  // Only the first filter decides.
  const ScanFilter two[] = {{2, L"txt", 0, 0}, {4, nullptr, 0, 1}};
  int32_t result = 0;
  EXPECT_EQ(SortedNames(FilterAll(*task, two, 2, 10, &result)),
            (std::vector<std::wstring>{L"a.txt", L"e.txt", L"old.txt"}));
  EXPECT_EQ(result, 0);
  Records page(2);
  int32_t got = -1;
  EXPECT_EQ(task->GlobalFilterScannedFiles(0, 1, two, 0, page.data(), &got, nullptr), -87);
  EXPECT_EQ(task->GlobalFilterScannedFiles(0, 0, two, 2, page.data(), &got, nullptr), -87);
  EXPECT_EQ(task->GlobalFilterScannedFiles(77, 0, nullptr, 2, page.data(), &got, nullptr), -2);
  EXPECT_EQ(task->EnumContextCount(), 0u);
}

TEST(EnumerationFilter, LaterPagesDoNotReadTheHostsText) {
  auto task = Scan(StandardTree);
  auto text = std::make_unique<wchar_t[]>(8);
  std::wcscpy(text.get(), L"txt");
  ScanFilter filter{2, text.get(), 0, 0};
  Records page(1);
  int32_t got = 0;
  int32_t handle = 0;
  ASSERT_EQ(task->GlobalFilterScannedFiles(0, 1, &filter, 1, page.data(), &got, &handle), 0);
  ASSERT_EQ(got, 1);
  // The host reuses its buffer, then frees it.
  std::wcscpy(text.get(), L"jpeg");
  text.reset();
  filter.value = nullptr;
  Records all = DrainWith(*task, handle, 1, &Continue::Filter, page);
  EXPECT_EQ(SortedNames(all), (std::vector<std::wstring>{L"a.txt", L"e.txt", L"old.txt"}));
  EXPECT_EQ(task->CloseEnumHandle(handle), 0);
}

TEST(EnumerationFilter, SizeRangeTestsTheSizeTheHostSees) {
  // The name record says 0 bytes; the data run says 5000. The entry comes first in the
  // size list, before any entry whose recorded size reaches the low bound.
  auto task = Scan([](EnumTask* t) {
    t->Folder(L"Root", kRoot, kRoot);
    t->Feed(L"plain.bin", 21, kRoot, 4500, 0, 1);
    t->Feed(L"runs.bin", 20, kRoot, 0, 0, 1);
    t->AddRun(20, 5000);
    t->Feed(L"small.bin", 22, kRoot, 10, 0, 1);
  });
  Records sizes(10);
  int32_t got = 0;
  ASSERT_EQ(task->GlobalEnumScannedFiles(2, 0, 10, sizes.data(), &got, nullptr), 0);
  sizes.resize(size_t(got));
  const std::vector<std::wstring> order = Names(sizes);
  const auto runs = std::find(order.begin(), order.end(), L"runs.bin");
  const auto plain = std::find(order.begin(), order.end(), L"plain.bin");
  ASSERT_TRUE(runs != order.end() && plain != order.end());
  ASSERT_LT(runs - order.begin(), plain - order.begin());

  const ScanFilter filter{4, nullptr, 4000, 6000};
  int32_t result = 0;
  Records found = FilterAll(*task, &filter, 1, 10, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(SortedNames(found), (std::vector<std::wstring>{L"plain.bin", L"runs.bin"}));
  for (const ScanFileRecord& r : found) {
    if (std::wstring(r.name) == L"runs.bin") {
      EXPECT_EQ(r.size, 5000u);
    }
  }
}

// ---------------------------------------------------------------------------------
// File types

TEST(EnumerationFileTypes, CountsAddUpToTheFileCountAndPagesJoin) {
  auto task = Scan([](EnumTask* t) {
    StandardTree(t);
    for (int i = 0; i < 300; ++i) {
      const std::wstring name = L"x" + std::to_wstring(i) + L".e" + std::to_wstring(i % 37);
      t->Feed(name.c_str(), 1000 + uint64_t(i), 10, uint64_t(i), 0, 1);
    }
  });
  int32_t total = -1;
  int32_t got = -1;
  std::vector<FileTypeRecord> all(200);
  ASSERT_EQ(task->EnumFileTypes(0, 200, &total, &got, all.data()), 0);
  ASSERT_EQ(got, total);
  all.resize(size_t(got));
  // txt, jpg, jpeg, gz, none, doc and 37 made-up ones.
  EXPECT_EQ(total, 6 + 37);
  uint32_t files = 0;
  uint64_t bytes = 0;
  std::set<std::wstring> extensions;
  for (const FileTypeRecord& r : all) {
    files += r.fileCount;
    bytes += r.totalSize;
    EXPECT_EQ(std::wcslen(r.extension), r.extensionLength);
    extensions.insert(r.extension);
  }
  EXPECT_EQ(int32_t(files), task->FileCount());
  EXPECT_EQ(files, 308u);
  EXPECT_EQ(bytes, 100u + 2000 + 2001 + 50 + 99 + 1 + 7 + 8 + 299u * 300 / 2);
  EXPECT_EQ(extensions.size(), size_t(total));
  EXPECT_TRUE(extensions.count(L"") && extensions.count(L"jpg") && extensions.count(L"gz"));

  // Pages of 5 give the same records in the same order.
  std::vector<FileTypeRecord> paged;
  for (int32_t start = 0; start < total; start += 5) {
    FileTypeRecord page[5];
    int32_t n = -1;
    ASSERT_EQ(task->EnumFileTypes(start, 5, nullptr, &n, page), 0);
    paged.insert(paged.end(), page, page + n);
  }
  ASSERT_EQ(paged.size(), all.size());
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(std::memcmp(&paged[i], &all[i], sizeof(FileTypeRecord)), 0) << i;

  FileTypeRecord one;
  EXPECT_EQ(task->EnumFileTypes(total, 1, &total, &got, &one), 0);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(task->EnumFileTypes(0, 0, &total, &got, &one), -87);
  EXPECT_EQ(task->EnumFileTypes(-1, 1, &total, &got, &one), -87);
}

// ---------------------------------------------------------------------------------
// Queries

TEST(EnumerationQuery, FileNameAndParent) {
  const std::wstring longName(300, L'q');
  auto task = Scan([&](EnumTask* t) {
    StandardTree(t);
    t->Feed(longName.c_str(), 40, kRoot, 1, 0, 1);
    t->Feed(L"moved.bin", 41, kRoot, 1, 0, 1);
    t->LostFolderWithFileId(L"Found41", 41);
  });
  wchar_t name[256];
  uint64_t parent = 0;
  EXPECT_EQ(task->QueryFileName(20, 0, &parent, name), 0);
  EXPECT_STREQ(name, L"a.txt");
  EXPECT_EQ(parent, 10u);
  EXPECT_EQ(task->QueryFileName(10, 0, &parent, name), 0);
  EXPECT_STREQ(name, L"Docs");
  EXPECT_EQ(parent, kRoot);
  EXPECT_EQ(task->QueryFileName(26, 0, &parent, name), 0);
  EXPECT_STREQ(name, L"b.doc");
  EXPECT_EQ(parent, kNone);
  EXPECT_EQ(task->QueryFileName(40, 0, &parent, name), 0);
  EXPECT_EQ(std::wstring(name), longName.substr(0, 255));
  // A file whose id a folder under "UnknownPath" holds: the folder answers.
  EXPECT_EQ(task->QueryFileName(41, 0, &parent, name), 0);
  EXPECT_STREQ(name, L"Found41");
  EXPECT_EQ(parent, kNone);
  parent = 123;
  EXPECT_EQ(task->QueryFileName(0x777777, 0, &parent, name), -2);
  EXPECT_EQ(parent, 123u);
}

TEST(EnumerationQuery, FullPaths) {
  auto task = Scan([](EnumTask* t) {
    StandardTree(t);
    t->Folder(L"Sub", 30, 10);
    t->Feed(L"deep.txt", 31, 30, 1, 0, 1);
    // Parent ids that go round: each folder names the other.
    t->Folder(L"LoopA", 50, 51);
    t->Folder(L"LoopB", 51, 50);
    // Its own parent, but not the root.
    t->Folder(L"Self", 52, 52);
    t->Feed(L"under-placeholder.txt", 60, 61, 1, 0, 1);
  });
  struct Case {
    uint64_t id;
    const wchar_t* path;
  };
  const Case cases[] = {
      {20, L"/Docs/a.txt"},
      {25, L"/e.txt"},
      {10, L"/Docs"},
      {31, L"/Docs/Sub/deep.txt"},
      {kRoot, L""},
      {26, L"/LostPath/b.doc"},
      {kNone, L"/LostPath"},
      {0x777777, L""},
      {50, L"/LostPath/LoopB/LoopA"},
      {51, L"/LostPath/LoopA/LoopB"},
      {52, L"/LostPath/Self"},
      {60, L"/LostPath//under-placeholder.txt"},  // its folder was never named
  };
  for (const Case& c : cases) {
    std::vector<wchar_t> buffer(kMaxFullPath + 16, L'#');
    task->QueryFileFullPath(c.id, buffer.data());
    EXPECT_EQ(std::wstring(buffer.data()), c.path) << c.id;
  }
}

TEST(EnumerationQuery, FullPathIsBoundedByItsBuffer) {
  const std::wstring part(200, L'd');
  auto task = Scan([&](EnumTask* t) {
    t->Folder(L"Root", kRoot, kRoot);
    uint64_t parent = kRoot;
    for (uint64_t id = 10; id < 20; ++id) {
      t->Folder(part.c_str(), id, parent);
      parent = id;
    }
    t->Feed(L"leaf.txt", 100, parent, 1, 0, 1);
  });
  std::vector<wchar_t> buffer(kMaxFullPath + 64, L'#');
  task->QueryFileFullPath(100, buffer.data());
  const std::wstring text(buffer.data());
  EXPECT_EQ(text.size(), kMaxFullPath - 1);
  EXPECT_EQ(text.substr(0, 202), L"/" + part + L"/");
  EXPECT_EQ(buffer[kMaxFullPath], L'#');
}

TEST(EnumerationQuery, ChildEntryWithoutId) {
  auto task = Scan([](EnumTask* t) {
    t->Folder(L"Root", kRoot, kRoot);
    t->Folder(L"Docs", 10, kRoot);
    t->Feed(L"Report.txt", 20, 10, 1, 0, 1, true);   // deleted
    t->Feed(L"Report.txt", 21, 10, 2, 0, 1);         // live, same name
    t->Feed(L"report.TXT", 22, 10, 3, 0, 1);
    t->Feed(L"other", 23, 10, 4, 0, 1, true);
  });
  CPathEntry* docs = task->Entry(10)->AsPath();
  ASSERT_NE(docs, nullptr);
  EXPECT_EQ(FindChildEntryWithoutID(docs, L"Report.txt"), task->Entry(21));
  EXPECT_EQ(FindChildEntryWithoutID(docs, L"report.TXT"), task->Entry(22));
  EXPECT_EQ(FindChildEntryWithoutID(docs, L"REPORT.txt"), task->Entry(21));  // no exact name: any case
  EXPECT_EQ(FindChildEntryWithoutID(docs, L"OTHER"), task->Entry(23));
  EXPECT_EQ(FindChildEntryWithoutID(docs, L"Report.txt\\more", 10), task->Entry(21));
  EXPECT_EQ(FindChildEntryWithoutID(docs, L"Repor"), nullptr);
  EXPECT_EQ(FindChildEntryWithoutID(docs, L"."), docs);
  EXPECT_EQ(FindChildEntryWithoutID(docs, L".."), task->Entry(kRoot));
  EXPECT_EQ(FindChildEntryWithoutID(task->Entry(kRoot)->AsPath(), L".."), task->Entry(kRoot));
  EXPECT_EQ(FindChildEntryWithoutID(nullptr, L"x"), nullptr);
  EXPECT_EQ(FindChildEntryWithoutID(task->Entry(kRoot)->AsPath(), L"docs"), docs);
}

// ---------------------------------------------------------------------------------
// Through the registry

std::function<void(EnumTask*)> g_body = StandardTree;

int32_t BuildEnumTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  auto made = std::make_unique<EnumTask>(params);
  made->SetWorker(std::make_unique<EnumWorker>(params.storage, made.get(), g_body));
  task = std::move(made);
  return 0;
}

CStorage::TaskBuilder LookupEnumTask(StarterKind kind, uint16_t) {
  return kind == StarterKind::kRawDeepScan ? &BuildEnumTask : nullptr;
}

TEST(EnumerationRegistry, CloseScanTaskAnswers87WhileAHandleIsOpen) {
  CStorage storage(&LookupEnumTask);
  storage.SetDisksForTest({DiskRecord{}});
  int32_t id = 0;
  ASSERT_EQ(storage.StartFSDeepScanTask(0, kWholeDiskPartition, 0, &id), 0);
  std::shared_ptr<CStorage::CScanTask> task = storage.FindTask(id);
  ASSERT_TRUE(task);
  ASSERT_TRUE(WaitFor([&] { return task->IsFinished(); }, 60000));

  Records page(2);
  int32_t got = 0;
  int32_t handle = 0;
  ASSERT_EQ(task->EnumScannedFiles(L":/Root:6/Docs:B/", 0, 2, page.data(), &got, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, &handle),
            0);
  ASSERT_EQ(got, 2);
  EXPECT_EQ(storage.CloseScanTask(id), 87);
  // The task stays usable.
  ASSERT_EQ(storage.FindTask(id), task);
  EXPECT_EQ(Continue::Folder(task.get(), handle, 2, page.data(), &got), 0);
  EXPECT_EQ(got, 2);
  // A first page asked for without a place for its handle keeps no enumeration open.
  ASSERT_EQ(task->GlobalEnumScannedFiles(0, 0, 2, page.data(), &got, nullptr), 0);
  EXPECT_EQ(task->EnumContextCount(), 1u);
  EXPECT_EQ(task->CloseEnumHandle(handle), 0);
  EXPECT_EQ(task->CloseEnumHandle(handle), -2);
  EXPECT_EQ(storage.CloseScanTask(id), 0);
  EXPECT_EQ(storage.FindTask(id), nullptr);
  EXPECT_EQ(storage.CloseScanTask(id), -2);
}

}  // namespace
