// The deep-scan tasks: the raw task's hits, ids, handles and result file, and the
// combined task's virtual paths, routing, progress and close, through the DLL's
// exports over a copy of the NTFS demo volume with two pictures written into its
// free space; the raw task's record rules on the task itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BoundaryRecords.h"
#include "DeepScanTask.h"
#include "DiskDeepScanTask.h"
#include "test_support.h"

namespace {

const std::string kImages = RECOVERY_IMAGES_DIR;
const std::string kWork = std::string(RECOVERY_TEST_WORK_DIR) + "/deeptask";

using IntFn = int(__cdecl*)();
using TaskFn = int(__cdecl*)(int);
using EnumFn = int(__cdecl*)(int, const wchar_t*, int, void*, int*, int*, int*, int*, uint64_t*, uint64_t*, int*);
using ProgressFn = int(__cdecl*)(int, int*, int*, int*, int*);

// A 2x1 GIF and a 2x2 BMP, each whole.
std::string Gif() {
  const unsigned char bytes[] = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
                                 0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B};
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string Bmp() {
  std::string b(70, '\0');
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, 70);
  put32(10, 54);
  put32(14, 40);
  put32(18, 2);
  put32(22, 2);
  b[26] = 1;
  b[28] = 24;
  put32(34, 16);
  for (size_t i = 54; i < 70; ++i) b[i] = char(i);
  return b;
}

struct Written {
  uint64_t offset;
  std::string bytes;
};

class DeepTasks : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryA(RECOVERY_TEST_WORK_DIR, nullptr);
    CreateDirectoryA(kWork.c_str(), nullptr);
    m_image = kWork + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".img";
    ASSERT_TRUE(CopyFileA((kImages + "/ntfs-demo.img").c_str(), m_image.c_str(), FALSE));
    std::fstream f(m_image, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(0, std::ios::end);
    const uint64_t size = uint64_t(f.tellg());
    // Free clusters near the end of the volume (the backup boot sector is the last one).
    m_files = {{(size - (1 << 20)) / 512 * 512, Gif()}, {(size - (1 << 19)) / 512 * 512, Bmp()}};
    for (const Written& w : m_files) {
      f.seekp(std::streamoff(w.offset));
      f.write(w.bytes.data(), std::streamsize(w.bytes.size()));
    }
    f.close();
    CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(m_image.c_str());
    ASSERT_EQ(Dll().Get<IntFn>("ServiceInitialize")(), 1);
  }
  void TearDown() override { CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(nullptr); }

  static bool Finished(int task) {
    int progress = 0, files = 0, deleted = 0, finished = 0;
    return Dll().Get<ProgressFn>("GetScanProgress")(task, &progress, &files, &deleted, &finished) == 0 && finished;
  }
  // Polls until the task has finished; every progress value read, in order.
  static std::vector<int> Run(int task) {
    std::vector<int> seen;
    EXPECT_TRUE(WaitFor([&] {
      int progress = 0, files = 0, deleted = 0, finished = 0;
      Dll().Get<ProgressFn>("GetScanProgress")(task, &progress, &files, &deleted, &finished);
      seen.push_back(progress);
      return finished != 0;
    }, 60000));
    return seen;
  }
  static std::vector<ScanFileRecord> List(int task, const wchar_t* path, int* handle, int expect = 0) {
    std::vector<ScanFileRecord> records(64);
    int got = 0, children = 0, files = 0, deleted = 0;
    uint64_t size = 0, deletedSize = 0;
    EXPECT_EQ(Dll().Get<EnumFn>("EnumScannedFiles")(task, path, 64, records.data(), &got, &children, &files, &deleted,
                                                   &size, &deletedSize, handle),
              expect)
        << Utf8(path);
    records.resize(size_t(got));
    return records;
  }
  static const ScanFileRecord* Named(const std::vector<ScanFileRecord>& records, const std::wstring& name) {
    for (const ScanFileRecord& r : records)
      if (name == r.name) return &r;
    return nullptr;
  }
  std::wstring HitName(size_t i) const {
    wchar_t name[48];
    swprintf(name, 48, L"f%010llu.%ls", static_cast<unsigned long long>(m_files[i].offset / 512),
             i == 0 ? L"gif" : L"bmp");
    return name;
  }

  std::string m_image;
  std::vector<Written> m_files;
};

TEST_F(DeepTasks, RawScanListsHitsUnderItsRootWithRawHandlesAndAResultFile) {
  int task = 0;
  ASSERT_EQ(Dll().Get<int(__cdecl*)(int, int, int, int*)>("StartFSDeepScanTask")(0, 1, 0, &task), 0);
  const std::vector<int> progress = Run(task);
  EXPECT_EQ(progress.back(), 10000);
  int handle = 0;
  auto top = List(task, L":", &handle);
  EXPECT_GE(handle, 0x10000001) << "a raw task's handles tell their origin";
  // A partition with a known file system: its raw tree is "RootDeepScan".
  const ScanFileRecord* root = Named(top, L"RootDeepScan");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->id, 9u);
  EXPECT_EQ(root->taskId, kRawScanSource);
  int inner = 0;
  auto hits = List(task, L":/RootDeepScan:9/", &inner);
  ASSERT_EQ(hits.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const ScanFileRecord* hit = Named(hits, HitName(i));
    ASSERT_NE(hit, nullptr) << Utf8(HitName(i));
    EXPECT_EQ(hit->size, m_files[i].bytes.size());
    EXPECT_EQ(hit->parentId, 9u);
    EXPECT_EQ(hit->taskId, kRawScanSource);
  }
  EXPECT_EQ(Named(hits, HitName(0))->id, 12u) << "the first hit is tree id 11";
  EXPECT_EQ(Named(hits, HitName(1))->id, 13u);

  wchar_t result[1024] = {};
  ASSERT_EQ(Dll().Get<int(__cdecl*)(int, wchar_t*)>("GetResultFileName")(task, result), 0);
  EXPECT_NE(GetFileAttributesW(result), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(task), 87);
  Dll().Get<int(__cdecl*)(int, int)>("CloseEnumHandle")(task, handle);
  Dll().Get<int(__cdecl*)(int, int)>("CloseEnumHandle")(task, inner);
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(task), 0);
}

TEST_F(DeepTasks, CombinedScanShowsBothTreesRoutesAndClosesItsSubTasks) {
  int task = 0;
  ASSERT_EQ(Dll().Get<int(__cdecl*)(int, int, int, int, const wchar_t*, int*)>("StartDeepScanTask")(0, 1, 0, 0,
                                                                                                    nullptr, &task),
            0);
  const std::vector<int> progress = Run(task);
  for (size_t i = 1; i < progress.size(); ++i) ASSERT_GE(progress[i], progress[i - 1]) << "progress never falls";
  EXPECT_EQ(progress.back(), 10000);

  int rootHandle = 0;
  auto top = List(task, L":/Root:1", &rootHandle);
  ASSERT_EQ(top.size(), 2u);
  const ScanFileRecord* fsRoot = Named(top, L"Root");
  const ScanFileRecord* rawRoot = Named(top, L"RootDeepScan");
  ASSERT_TRUE(fsRoot && rawRoot);
  EXPECT_EQ(fsRoot->attributes, kAttrFolderMask);
  EXPECT_NE(fsRoot->taskId, kRawScanSource);
  EXPECT_EQ(rawRoot->id, 9u);
  EXPECT_EQ(rawRoot->taskId, kRawScanSource);
  EXPECT_EQ(List(task, L":", nullptr).size(), 2u);

  // The file-system tree under the combined path and under its own root path.
  wchar_t fsPath[64];
  swprintf(fsPath, 64, L":/Root:1/Root:%llX/", static_cast<unsigned long long>(fsRoot->id));
  int fsHandle = 0;
  auto fsChildren = List(task, fsPath, &fsHandle);
  EXPECT_NE(Named(fsChildren, L"readme.txt"), nullptr);
  EXPECT_EQ(List(task, fsPath + 8, nullptr).size(), fsChildren.size());
  int rawHandle = 0;
  auto hits = List(task, L":/Root:1/RootDeepScan:9/", &rawHandle);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(List(task, L":/Root:1/Nothing:77/", nullptr, -2).size(), 0u);

  // Names and recovery go where the source word points.
  const ScanFileRecord* gif = Named(hits, HitName(0));
  ASSERT_NE(gif, nullptr);
  wchar_t name[260] = {};
  uint64_t parent = 0;
  EXPECT_EQ(Dll().Get<int(__cdecl*)(int, uint64_t, int, uint64_t*, wchar_t*)>("QueryFileName")(
                task, gif->id, int(kRawScanSource), &parent, name),
            0);
  EXPECT_EQ(HitName(0), name);
  const std::string out = kWork + "/combined-out";
  CreateDirectoryA(out.c_str(), nullptr);
  DeleteFileA((out + "/picture.gif").c_str());
  int freeMB[2];
  Dll().Get<int(__cdecl*)(int, const wchar_t*, int*)>("SetTargetPath")(task, FromUtf8(out).c_str(), freeMB);
  RecoverIdItem item{gif->id, L"picture.gif", kRawScanSource};
  ASSERT_EQ(Dll().Get<int(__cdecl*)(int, int, const wchar_t*, const void*)>("RecoverFileByID")(task, 1, L"/", &item),
            0);
  int recovered = 0, finished = 0;
  ASSERT_TRUE(WaitFor([&] {
    Dll().Get<int(__cdecl*)(int, int*, int*)>("GetRecoverProgress")(task, &recovered, &finished);
    return finished != 0;
  }, 30000));
  EXPECT_EQ(recovered, 1);
  std::ifstream in(out + "/picture.gif", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), m_files[0].bytes);

  // Close waits for every handle; then the sub-tasks go with it.
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(task), 87);
  for (int h : {rootHandle, fsHandle, rawHandle})
    EXPECT_EQ(Dll().Get<int(__cdecl*)(int, int)>("CloseEnumHandle")(task, h), 0);
  EXPECT_EQ(Dll().Get<int(__cdecl*)(int, int)>("CloseEnumHandle")(task, rawHandle), -2);
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(task), 0);
  for (int sub = task + 1; sub <= task + 2; ++sub) EXPECT_FALSE(Finished(sub)) << "sub-task " << sub << " closed";
  int again = 0;
  EXPECT_EQ(Dll().Get<int(__cdecl*)(int, int, int, int*)>("StartScanTask")(0, 1, 0, &again), 0)
      << "nothing is left on the partition";
  Dll().Get<TaskFn>("StopWork")(again);
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(again), 0);
}

TEST_F(DeepTasks, CombinedScanReusesOnlyAFileSystemTaskOfItsPartition) {
  auto start = Dll().Get<int(__cdecl*)(int, int, int, int, const wchar_t*, int*)>("StartDeepScanTask");
  int fs = 0;
  ASSERT_EQ(Dll().Get<int(__cdecl*)(int, int, int, int*)>("StartScanTask")(0, 1, 0, &fs), 0);
  Run(fs);
  int id = -5;
  EXPECT_EQ(start(0, 1, 0, 9999, nullptr, &id), -87) << "no such task";
  EXPECT_EQ(id, -5);
  int raw = 0;
  ASSERT_EQ(Dll().Get<int(__cdecl*)(int, int, int, int*)>("StartFSDeepScanTask")(0, 0x2000, 0, &raw), 0);
  EXPECT_EQ(start(0, 1, 0, raw, nullptr, &id), -87) << "a raw scan of the whole disk is no file-system task here";
  int combined = 0;
  ASSERT_EQ(start(0, 1, 0, fs, nullptr, &combined), 0) << "the reused task is no duplicate";
  Run(combined);
  int handle = 0;
  auto top = List(combined, L":", &handle);
  const ScanFileRecord* root = Named(top, L"Root");
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->taskId, uint32_t(fs)) << "the fast scan was skipped: the given task stands";
  Dll().Get<int(__cdecl*)(int, int)>("CloseEnumHandle")(combined, handle);
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(combined), 0);
  Run(raw);
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(raw), 0);
}

TEST(CombinedProgress, NeverFallsAndEndsAtTheRawValue) {
  struct Case {
    int shown, raw;
    bool reuse;
    int want;
  } const cases[] = {
      {333, 0, false, 333},      {333, 300, false, 533},    {665, 499, false, 665},
      {665, 500, false, 665},    {665, 700, false, 700},    {333, 10000, false, 10000},
      {0, 200, true, 200},       {400, 200, true, 400},     {9000, 12000, false, 10000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CombinedDeepProgress(c.shown, c.raw, c.reuse), c.want) << c.shown << " " << c.raw << " " << c.reuse;
}

TEST_F(DeepTasks, WholeDiskScanStoppedDuringAPartitionSkipsTheRawScan) {
  CoreFn<int(__cdecl*)(int)>("QvtdSetRecordDelay")(20);
  int task = 0;
  ASSERT_EQ(Dll().Get<int(__cdecl*)(int, int*)>("StartDiskDeepScanTask")(0, &task), 0);
  // The partition scan (task + 1) is under way.
  ASSERT_TRUE(WaitFor([&] {
    int progress = 0, files = 0, deleted = 0, finished = 0;
    return Dll().Get<ProgressFn>("GetScanProgress")(task + 1, &progress, &files, &deleted, &finished) == 0 &&
           files > 0;
  }, 30000));
  EXPECT_EQ(Dll().Get<TaskFn>("StopWork")(task), 1);
  CoreFn<int(__cdecl*)(int)>("QvtdSetRecordDelay")(0);
  EXPECT_TRUE(Finished(task));
  int progress = 0, files = 0, deleted = 0, finished = 0;
  EXPECT_EQ(Dll().Get<ProgressFn>("GetScanProgress")(task + 2, &progress, &files, &deleted, &finished), -2)
      << "no raw scan after a stop";
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(task), 0);
}

TEST_F(DeepTasks, WholeDiskRootCarriesEachPartitionFolderWithItsRootChildren) {
  int task = 0;
  ASSERT_EQ(Dll().Get<int(__cdecl*)(int, int*)>("StartDiskDeepScanTask")(0, &task), 0);
  Run(task);
  int handle = 0;
  auto top = List(task, L":", &handle);
  std::vector<const ScanFileRecord*> folders, children;
  for (const ScanFileRecord& r : top) {
    if ((r.id & ~0xFFFFFFull) == CDiskDeepScanTask::kPartitionFolderBase) folders.push_back(&r);
  }
  ASSERT_EQ(folders.size(), 1u) << "one NTFS partition";
  for (const ScanFileRecord& r : top)
    if (r.parentId == folders[0]->id && r.id != folders[0]->id) children.push_back(&r);
  ASSERT_NE(Named(top, L"RootDeepScan"), nullptr);
  EXPECT_EQ(top.size(), 2 + children.size()) << "the folders, then the partition's root children";
  // The same children as the folder's own listing gives, parented alike.
  wchar_t path[64];
  swprintf(path, 64, L":/%ls:%llX/", folders[0]->name, static_cast<unsigned long long>(folders[0]->id));
  int inner = 0;
  auto own = List(task, path, &inner);
  ASSERT_FALSE(own.empty());
  ASSERT_EQ(children.size(), own.size());
  for (const ScanFileRecord& r : own) {
    const ScanFileRecord* same = Named(top, r.name);
    ASSERT_NE(same, nullptr) << Utf8(r.name);
    EXPECT_EQ(same->id, r.id);
    EXPECT_EQ(same->parentId, r.parentId);
  }
  Dll().Get<int(__cdecl*)(int, int)>("CloseEnumHandle")(task, inner);
  Dll().Get<int(__cdecl*)(int, int)>("CloseEnumHandle")(task, handle);
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(task), 0);
}

TEST(DiskProgress, GuardsAnEmptyDiskAndAnOversizedRawPart) {
  struct Case {
    uint64_t disk, raw;
    int p, want;
  } const cases[] = {
      {1000, 1000, 5000, 5000}, {1000, 400, 0, 6000},  {1000, 400, 10000, 10000},
      {0, 0, 3000, 3000},       {0, 50, 20000, 10000}, {1000, 5000, 5000, 5000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CDiskDeepScanTask::DiskProgress(c.disk, c.raw, c.p), c.want) << c.disk << " " << c.raw << " " << c.p;
}

// The raw task's own record rules, without a core.
TEST(DeepScanTaskRecords, HitIdsTimesAndRepeatedFinish) {
  TaskParams params;
  params.taskId = 77;
  params.partitionType = kFsNtfs;
  CDeepScanTask task(params);
  task.ScanInit();
  auto hit = [&](uint64_t location, uint64_t time) {
    return task.OnRecordFound(L"f1.jpg", 0, uint32_t(location), uint32_t(location >> 32), 8, 0, 100, 0,
                              uint32_t(time), uint32_t(time >> 32), 0x20, 0, 5);
  };
  EXPECT_EQ(hit(0x1010, 0x7933F8EFFull), 1);
  EXPECT_EQ(hit(0x2010, 0x7933F8F00ull), 1);
  CFileEntry* first = task.GetEntryById(11);
  CFileEntry* second = task.GetEntryById(12);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->Time(), 0x7933F8EFFull) << "the last second of the year 3000 stands";
  EXPECT_EQ(second->Time(), 0u) << "later times are taken for garbage";
  EXPECT_EQ(task.GetTaskId(), int32_t(kRawScanSource));
  // A progress-only record changes the progress and nothing else.
  EXPECT_EQ(task.OnRecordFound(L"", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4321), 1);
  int32_t progress = 0, files = 0;
  task.GetScanProgress(&progress, &files, nullptr, nullptr);
  EXPECT_EQ(progress, 4321);
  EXPECT_EQ(files, 2);
  task.WorkFinishRoutine(0);
  task.WorkFinishRoutine(0);
  EXPECT_TRUE(task.IsFinished());
  ASSERT_NE(task.GetEntryById(8), nullptr);
  EXPECT_STREQ(task.GetEntryById(8)->name, L"RootDeepScan");
  wchar_t path[1024] = {};
  ASSERT_EQ(task.GetResultFileName(path), 0);
  const std::wstring stored = path;
  task.Close();
  DeleteFileW(stored.c_str());
}

}  // namespace
