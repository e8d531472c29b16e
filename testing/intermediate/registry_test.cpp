// The task registry with test task classes plugged in through the builder lookup,
// over the stand-in core.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "Interface.h"
#include "DeepScanTask.h"
#include "DiskDeepScanTask.h"
#include "FATTask.h"
#include "NTFSWorker.h"
#include "RecoverPartTableTask.h"
#include "TaskClasses.h"
#include "qvtdserver.h"

namespace {

const std::string kImages = RECOVERY_IMAGES_DIR;

// How a test task's worker behaves.
enum class Work {
  kUntilStopped,  // loops until running is cleared, then finishes
  kIgnoresStop,   // finishes only when the test releases it
  kBadRead,       // reads a bad range of the disk first, then as kUntilStopped
};

std::atomic<bool> g_release{false};
std::atomic<int> g_readResult{0};
std::atomic<bool> g_readDone{false};

class TestTask;

class TestWorker : public IVolumeWorker {
 public:
  TestWorker(CStorage* storage, TestTask* task, Work work);
  DWORD Run() override;

 private:
  TestTask* m_self;
  Work m_work;
};

class TestTask : public CStorage::CScanTask {
 public:
  explicit TestTask(const TaskParams& p) : CScanTask(p), params(p) {}
  int32_t EnumScannedFiles(const wchar_t*, int32_t, int32_t, ScanFileRecord*, int32_t* got, int32_t*, int32_t*,
                           int32_t*, uint64_t*, uint64_t*, int32_t* handle) override {
    *got = 0;
    if (handle) *handle = ++openHandles;
    return 0;
  }
  int32_t GlobalEnumScannedFiles(int32_t, int32_t, int32_t, ScanFileRecord*, int32_t* got, int32_t*) override {
    *got = 0;
    return 0;
  }
  int32_t GlobalFilterScannedFiles(int32_t, int32_t, const ScanFilter*, int32_t, ScanFileRecord*, int32_t* got,
                                   int32_t*) override {
    *got = 0;
    return 0;
  }
  int32_t EnumFileTypes(int32_t, int32_t, int32_t*, int32_t* got, FileTypeRecord*) override { return *got = 0; }
  int32_t QueryFileName(uint64_t id, uint32_t, uint64_t* parentId, wchar_t* name) override {
    *parentId = id;
    name[0] = 0;
    return 0;
  }
  int32_t CloseEnumHandle(int32_t) override {
    --openHandles;
    return 0;
  }
  int32_t RecoverFile(int32_t, int32_t, const wchar_t*, const wchar_t*, const int32_t*) override { return 0; }
  int32_t RecoverFileByID(int32_t count, const wchar_t*, const RecoverIdItem* items) override {
    received.assign(items, items + count);
    return 0;
  }
  int32_t Close() override { return openHandles > 0 ? kResultBusy : 0; }
  void PostScan() override {}
  void WorkFinishRoutine(int32_t) override {
    m_running = 0;
    m_finished = 1;
  }
  int32_t QueryFileFullPath(uint64_t, wchar_t* buffer) override { return buffer[0] = 0; }
  bool GetLastFileInformation(wchar_t*, uint64_t*, uint64_t*) override { return false; }

  uint32_t Options() const { return m_options; }
  void* PartitionHandle() const { return m_partitionHandle; }
  TaskParams params;
  std::atomic<int> openHandles{0};
  std::vector<RecoverIdItem> received;
};

TestWorker::TestWorker(CStorage* storage, TestTask* task, Work work)
    : IVolumeWorker(storage, task), m_self(task), m_work(work) {}

DWORD TestWorker::Run() {
  if (m_work == Work::kBadRead) {
    QvtdDiskRecord disk;
    std::memcpy(&disk, &m_self->params.diskRecord, sizeof disk);
    std::vector<uint8_t> buffer(4096);
    auto read = CoreFn<int(__cdecl*)(void*, void*, uint64_t, uint32_t, void*)>("ReadPartition");
    g_readResult = read(m_self->params.partitionHandle ? m_self->params.partitionHandle : disk.wholeDisk,
                        disk.context, 0, 4096, buffer.data());
    g_readDone = true;
  }
  if (m_work == Work::kIgnoresStop) {
    while (!g_release) Sleep(10);
  } else {
    while (m_self->IsRunning()) Sleep(10);
  }
  m_self->WorkFinishRoutine(0);
  return 0;
}

// What the registry asked for, and how the next task behaves.
struct Asked {
  StarterKind kind;
  uint16_t type;
};
std::mutex g_askedLock;
std::vector<Asked> g_asked;
std::vector<TaskParams> g_built;
Work g_work = Work::kUntilStopped;
bool g_withoutWorker = false;

int32_t BuildTestTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  auto made = std::make_unique<TestTask>(params);
  if (!g_withoutWorker) made->SetWorker(std::make_unique<TestWorker>(params.storage, made.get(), g_work));
  {
    std::lock_guard<std::mutex> hold(g_askedLock);
    g_built.push_back(params);
  }
  task = std::move(made);
  return 0;
}

CStorage::TaskBuilder LookupTestTask(StarterKind kind, uint16_t type) {
  std::lock_guard<std::mutex> hold(g_askedLock);
  g_asked.push_back({kind, type});
  return &BuildTestTask;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(CoreModule(), nullptr);
    const std::string images = kImages + "/mbr.img;" + kImages + "/gpt.img;" + kImages + "/fat12.img";
    CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(images.c_str());
    CoreFn<int(__cdecl*)(int, uint64_t, uint64_t)>("QvtdInjectBadRange")(-1, 0, 0);
    ASSERT_EQ(m_storage.Initialize(), 3);
    m_storage.SetCloseTimeoutForTest(5000);
    g_asked.clear();
    g_built.clear();
    g_work = Work::kUntilStopped;
    g_withoutWorker = false;
    g_release = false;
    g_readDone = false;
  }
  void TearDown() override {
    g_release = true;
    for (int id = 1; id <= 40; ++id) m_storage.CloseScanTask(id);
    CoreFn<int(__cdecl*)(int, uint64_t, uint64_t)>("QvtdInjectBadRange")(-1, 0, 0);
  }
  TestTask* Task(int id) { return static_cast<TestTask*>(m_storage.FindTask(id).get()); }

  CStorage m_storage{&LookupTestTask};
};

TEST_F(RegistryTest, TaskClassFollowsStarterAndPartitionType) {
  int id = 0;
  // mbr.img: 1 NTFS, 2 FAT32, 3 exFAT, 4 FAT16; gpt.img: 3 has no file system.
  struct Case {
    const char* name;
    std::function<int32_t(CStorage&, int*)> start;
    StarterKind kind;
    uint16_t type;
  } const cases[] = {
      {"recover part", [](CStorage& s, int* t) { return s.StartRecoverPartScan(1, 7, t); },
       StarterKind::kRecoverPartScan, 0},
      {"scan ntfs", [](CStorage& s, int* t) { return s.StartScanTask(0, 1, 0, t); }, StarterKind::kScan, 256},
      {"scan fat32", [](CStorage& s, int* t) { return s.StartScanTask(0, 2, 0, t); }, StarterKind::kScan, 4},
      {"formatted exfat", [](CStorage& s, int* t) { return s.StartScanFormattedTask(0, 3, 0, t); },
       StarterKind::kScanFormatted, 512},
      {"deep fat16", [](CStorage& s, int* t) { return s.StartDeepScanTask(0, 4, 0, 0, nullptr, t); },
       StarterKind::kCombinedDeepScan, 2},
      {"deep without fs", [](CStorage& s, int* t) { return s.StartDeepScanTask(1, 3, 0, 0, nullptr, t); },
       StarterKind::kRawDeepScan, 0},
      {"deep stored", [](CStorage& s, int* t) { return s.StartDeepScanTask(1, 2, 0, 0, L"Z:\\r.db", t); },
       StarterKind::kRawDeepScan, 256},
      {"whole disk", [](CStorage& s, int* t) { return s.StartDiskDeepScanTask(2, t); }, StarterKind::kDiskDeepScan,
       0},
  };
  int expectedId = 0;
  for (const Case& c : cases) {
    g_asked.clear();
    ASSERT_EQ(c.start(m_storage, &id), 0) << c.name;
    EXPECT_EQ(id, ++expectedId) << c.name << ": ids run 1, 2, 3 across kinds";
    ASSERT_FALSE(g_asked.empty()) << c.name;
    EXPECT_EQ(g_asked.back().kind, c.kind) << c.name;
    EXPECT_EQ(g_asked.back().type, c.type) << c.name;
  }
  EXPECT_EQ(m_storage.TaskCount(), 8u);
  const TaskParams& recover = g_built.front();
  EXPECT_EQ(recover.value, 7);
  EXPECT_EQ(recover.disk, 1);
}

TEST_F(RegistryTest, TaskGetsItsDiskValuesAndOptions) {
  int id = 0;
  ASSERT_EQ(m_storage.StartScanTask(0, 2, 0x4, &id), 0);
  DiskRecord disk;
  ASSERT_TRUE(m_storage.GetDisk(0, &disk));
  const TaskParams& p = g_built.back();
  EXPECT_EQ(p.taskId, id);
  EXPECT_EQ(p.options, 0x24u);
  EXPECT_EQ(p.partitionType, 4);
  EXPECT_EQ(p.diskContext, disk.diskContext);
  EXPECT_NE(p.partitionHandle, nullptr);
  EXPECT_NE(p.partitionHandle, disk.wholeDiskHandle);

  // The raw scan of partition 0x2000 works on the disk's whole-disk handle.
  ASSERT_EQ(m_storage.StartFSDeepScanTask(0, 0x2000, 0, &id), 0);
  EXPECT_EQ(g_built.back().partitionHandle, disk.wholeDiskHandle);
  // A whole-disk scan of a disk with known file systems gets its partition table.
  ASSERT_EQ(m_storage.StartDiskDeepScanTask(1, &id), 0);
  EXPECT_EQ(g_built.back().partitionCount, 3);
  EXPECT_EQ(g_built.back().partitions[1].FileSystemType(), 256);
}

TEST_F(RegistryTest, DuplicatesAndUnopenablePartitionsBuildNothing) {
  int id = 0;
  ASSERT_EQ(m_storage.StartScanTask(0, 1, 0, &id), 0);
  struct Case {
    const char* name;
    std::function<int32_t(CStorage&, int*)> start;
  } const refused[] = {
      {"same disk and partition", [](CStorage& s, int* t) { return s.StartScanFormattedTask(0, 1, 0, t); }},
      {"partition that does not open", [](CStorage& s, int* t) { return s.StartScanTask(0, 99, 0, t); }},
      {"negative disk", [](CStorage& s, int* t) { return s.StartScanTask(-1, 1, 0, t); }},
      {"disk past the table", [](CStorage& s, int* t) { return s.StartScanTask(3, 1, 0, t); }},
      {"no id output", [](CStorage& s, int*) { return s.StartScanTask(0, 2, 0, nullptr); }},
      {"partition table on a busy disk", [](CStorage& s, int* t) { return s.StartRepairDiskPartTable(0, t); }},
      {"whole disk on a busy disk", [](CStorage& s, int* t) { return s.StartDiskDeepScanTask(0, t); }},
  };
  for (const auto& c : refused) {
    id = -5;
    EXPECT_EQ(c.start(m_storage, &id), -87) << c.name;
    EXPECT_EQ(id, -5) << c.name;
    EXPECT_EQ(m_storage.TaskCount(), 1u) << c.name;
  }
  // Another partition of the same disk is fine; the unopenable one used up an id.
  ASSERT_EQ(m_storage.StartScanTask(0, 2, 0, &id), 0);
  EXPECT_EQ(id, 3);
  // A worker that cannot be made is reported as missing memory.
  g_withoutWorker = true;
  EXPECT_EQ(m_storage.StartScanTask(0, 3, 0, &id), -8);
  EXPECT_EQ(m_storage.TaskCount(), 2u);
}

TEST_F(RegistryTest, CloseStopsARunningTaskAndIdsAreNeverReused) {
  int first = 0, second = 0, third = 0;
  ASSERT_EQ(m_storage.StartScanTask(0, 1, 0, &first), 0);
  ASSERT_EQ(m_storage.StartScanTask(0, 2, 0, &second), 0);
  EXPECT_FALSE(Task(second)->IsFinished());
  EXPECT_EQ(m_storage.CloseScanTask(second), 0);
  EXPECT_EQ(m_storage.FindTask(second), nullptr);
  EXPECT_EQ(m_storage.CloseScanTask(second), -2);
  ASSERT_EQ(m_storage.StartScanTask(0, 2, 0, &third), 0);
  EXPECT_EQ(third, 3);
  EXPECT_EQ(m_storage.FindTask(first)->TaskId(), first);
}

TEST_F(RegistryTest, CloseKeepsATaskWithOpenEnumerations) {
  int id = 0;
  ASSERT_EQ(m_storage.StartScanTask(0, 1, 0, &id), 0);
  ASSERT_EQ(m_storage.StopWork(id), 1);
  TestTask* task = Task(id);
  ScanFileRecord page[1];
  int got = 0, handle = 0;
  task->EnumScannedFiles(L":", 0, 1, page, &got, nullptr, nullptr, nullptr, nullptr, nullptr, &handle);
  EXPECT_EQ(m_storage.CloseScanTask(id), 87);
  EXPECT_EQ(m_storage.FindTask(id).get(), task);
  task->CloseEnumHandle(handle);
  EXPECT_EQ(m_storage.CloseScanTask(id), 0);
  EXPECT_EQ(m_storage.TaskCount(), 0u);
}

TEST_F(RegistryTest, CloseGivesUpOnATaskThatWillNotStop) {
  g_work = Work::kIgnoresStop;
  m_storage.SetCloseTimeoutForTest(400);
  int id = 0;
  ASSERT_EQ(m_storage.StartScanTask(0, 1, 0, &id), 0);
  EXPECT_EQ(m_storage.CloseScanTask(id), 87);
  EXPECT_NE(m_storage.FindTask(id), nullptr);
  g_release = true;
  EXPECT_EQ(m_storage.CloseScanTask(id), 0);
}

TEST_F(RegistryTest, StopWorkEndsAReadErrorWaitOnTheTasksThread) {
  ASSERT_EQ(m_storage.SetScanErrorHandler(reinterpret_cast<void*>(+[](int, uint64_t, uint32_t, uint32_t) {})), 0);
  CoreFn<int(__cdecl*)(int, uint64_t, uint64_t)>("QvtdInjectBadRange")(0, 0, 512);
  g_work = Work::kBadRead;
  const int waits = RetryWaitsEnteredForTest();
  int id = 0;
  ASSERT_EQ(m_storage.StartFSDeepScanTask(0, 0x2000, 0, &id), 0);
  ASSERT_TRUE(WaitFor([&] { return RetryWaitsEnteredForTest() > waits; }, 60000));
  EXPECT_FALSE(g_readDone.load()) << "the read waits for a decision";
  ASSERT_TRUE(EndsWithin([&] { EXPECT_EQ(m_storage.StopWork(id), 1); }, 60000)) << "the wait outlives the stop";
  EXPECT_TRUE(g_readDone.load());
  EXPECT_LT(g_readResult.load(), 0) << "a stopped scan's read fails";
  EXPECT_TRUE(Task(id)->IsFinished());
}

TEST_F(RegistryTest, AStopEndsAReadErrorWaitOnAThreadNoTaskOwns) {
  ASSERT_EQ(m_storage.SetScanErrorHandler(reinterpret_cast<void*>(+[](int, uint64_t, uint32_t, uint32_t) {})), 0);
  int id = 0;
  ASSERT_EQ(m_storage.StartScanTask(0, 1, 0, &id), 0);
  CoreFn<int(__cdecl*)(int, uint64_t, uint64_t)>("QvtdInjectBadRange")(1, 0, 512);
  DiskRecord disk;
  ASSERT_TRUE(m_storage.GetDisk(1, &disk));
  std::atomic<int> result{-100};
  const int waits = RetryWaitsEnteredForTest();
  std::thread reader([&] {
    std::vector<uint8_t> buffer(512);
    auto read = CoreFn<int(__cdecl*)(void*, void*, uint64_t, uint32_t, void*)>("ReadPartition");
    result = read(disk.wholeDiskHandle, disk.diskContext, 0, 512, buffer.data());
  });
  // The stop must come after the wait began: one that ended before is not its business.
  const bool inWait = WaitFor([&] { return RetryWaitsEnteredForTest() > waits; }, 60000);
  EXPECT_TRUE(inWait);
  EXPECT_EQ(result.load(), -100);
  EXPECT_EQ(m_storage.StopWork(id), 1);
  const bool readEnded = WaitFor([&] { return result.load() != -100; }, 60000);
  if (!readEnded) m_storage.RetryWork(0, 2);  // frees the read, so the program can end
  ASSERT_TRUE(readEnded) << "the wait outlives the stop";
  reader.join();
  EXPECT_LT(result.load(), 0);
}

TEST_F(RegistryTest, RecoverFileByIdHandsInternalIdsToTheTask) {
  int id = 0;
  ASSERT_EQ(m_storage.StartScanTask(0, 1, 0, &id), 0);
  RecoverIdItem items[3] = {{1, L"a", 5}, {0, L"b", 0x10000}, {0x100000000ull, L"c/d", 0}};
  ASSERT_EQ(m_storage.RecoverFileByID(id, 3, L"/", items), 0);
  const std::vector<RecoverIdItem>& got = Task(id)->received;
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].id, 0u);
  EXPECT_EQ(got[1].id, ~0ull);
  EXPECT_EQ(got[2].id, 0xFFFFFFFFull);
  EXPECT_EQ(got[1].source, 0x10000u);
  EXPECT_STREQ(got[2].name, L"c/d");
  EXPECT_EQ(items[0].id, 1u) << "the caller's items stay as they are";

  SetAllocationFailuresForTest(1);
  EXPECT_EQ(m_storage.RecoverFileByID(id, 3, L"/", items), -8);
  SetAllocationFailuresForTest(1);
  EXPECT_EQ(m_storage.RecoverFileByID(999, 3, L"/", items), -8) << "the copy comes before the lookup";
  SetAllocationFailuresForTest(0);
  EXPECT_EQ(m_storage.RecoverFileByID(999, 3, L"/", items), -2);
}

int32_t BuildFat(const TaskParams&, std::unique_ptr<CStorage::CScanTask>&) { return 0; }
int32_t BuildRaw(const TaskParams&, std::unique_ptr<CStorage::CScanTask>&) { return 0; }

TEST(TaskClasses, TheFirstRowOfTheStarterAndTypeChoosesTheClass) {
  // As the table grows: FAT rows by type, a raw scan for any type, an NTFS row after it.
  const TaskClassRow rows[] = {
      {StarterKind::kScan, kFsFat12, &BuildFat},           {StarterKind::kScan, kFsFat16, &BuildFat},
      {StarterKind::kScan, kFsFat32, &BuildFat},           {StarterKind::kRawDeepScan, kAnyPartitionType, &BuildRaw},
      {StarterKind::kRawDeepScan, kFsNtfs, &BuildFat},     {StarterKind::kScan, kFsNtfs, &BuildNtfsScanTask},
  };
  struct Case {
    StarterKind kind;
    uint16_t type;
    CStorage::TaskBuilder want;
  } const cases[] = {
      {StarterKind::kScan, kFsFat16, &BuildFat},          {StarterKind::kScan, kFsNtfs, &BuildNtfsScanTask},
      {StarterKind::kScan, kFsExFat, nullptr},            {StarterKind::kScan, kFsNone, nullptr},
      {StarterKind::kScanFormatted, kFsFat16, nullptr},   {StarterKind::kRawDeepScan, kFsNone, &BuildRaw},
      {StarterKind::kRawDeepScan, kFsNtfs, &BuildRaw},    {StarterKind::kRawDeepScan, 0xFFFF, &BuildRaw},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FindTaskClass(rows, std::size(rows), c.kind, c.type), c.want) << int(c.kind) << " " << c.type;
  EXPECT_EQ(FindTaskClass(rows, 0, StarterKind::kScan, kFsNtfs), nullptr);
}

TEST(TaskClasses, TheLibrarysTableHoldsTheNtfsScansOnly) {
  const struct Case {
    StarterKind kind;
    uint16_t type;
    CStorage::TaskBuilder want;
  } cases[] = {
      {StarterKind::kScan, kFsNtfs, &BuildNtfsScanTask},
      {StarterKind::kScanFormatted, kFsNtfs, &BuildNtfsScanFormattedTask},
      {StarterKind::kScan, kFsFat32, &BuildFatScanTask},
      {StarterKind::kScanFormatted, kFsFat16, &BuildFatScanFormattedTask},
      {StarterKind::kScanFormatted, kFsExFat, &BuildExFatScanTask},
      {StarterKind::kScan, 0, nullptr},
      {StarterKind::kRawDeepScan, kFsNtfs, &BuildDeepScanTask},
      {StarterKind::kCombinedDeepScan, kFsFat16, &BuildFSDeepScanTask},
      {StarterKind::kDiskDeepScan, 0, &BuildDiskDeepScanTask},
      {StarterKind::kRepairPartition, kFsNtfs, &BuildRepairPartTask},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CStorage::DefaultTaskBuilder(c.kind, c.type), c.want) << int(c.kind) << " " << c.type;

  // A start without a row builds nothing and answers as for an unknown type.
  CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")((kImages + "/gpt.img").c_str());
  CStorage storage;
  ASSERT_EQ(storage.Initialize(), 1);
  int id = -5;
  EXPECT_EQ(storage.StartScanTask(0, 3, 0, &id), -87) << "no file system";
  EXPECT_EQ(id, -5);
  EXPECT_EQ(storage.TaskCount(), 0u);
}

TEST(TaskBase, GlobalIdCarriesTheTaskIdFromBit40) {
  TaskParams p;
  p.taskId = 3;
  TestTask task(p);
  const uint64_t id = task.MakeGlobalId(1, 0);
  EXPECT_EQ(id >> 40, 3u);
  EXPECT_EQ(id & ((1ull << 40) - 1), 1u);
  EXPECT_EQ(task.MakeGlobalId(0xFFFFFFFF, 0xFF), (uint64_t(0x3FF) << 32) | 0xFFFFFFFF);
  EXPECT_EQ(task.PauseWork(1), 1);
  task.SetTargetPath(L"Z:/out/dir");
}

// ---------------------------------------------------------------------------------
// Host copies of disk records

DiskRecord DiskWithTexts(const std::string& first, const std::string& second) {
  DiskRecord d;
  std::memset(&d, 0x7E, sizeof d);  // leftovers after the terminator must not reach the host
  std::memcpy(d.firstText, first.data(), std::min<size_t>(first.size(), 128));
  if (first.size() < 128) d.firstText[first.size()] = 0;
  std::memcpy(d.secondText, second.data(), std::min<size_t>(second.size(), 128));
  if (second.size() < 128) d.secondText[second.size()] = 0;
  d.size = 0x1122334455667788ull;
  return d;
}

TEST(DiskCopy, TextsAreBlankPaddedToTheirFullWidth) {
  const std::string full(128, 'M');
  struct Case {
    std::string first, second;
  } const cases[] = {{"", "S"}, {"Model", std::string(127, 's')}, {full, "x"}, {"a", full}, {full, full}};
  for (const Case& c : cases) {
    uint8_t out[280];
    std::memset(out, 0xCC, sizeof out);
    CopyDiskRecordForHost(DiskWithTexts(c.first, c.second), out);
    const std::string first(reinterpret_cast<char*>(out + 16), 128);
    const std::string second(reinterpret_cast<char*>(out + 144), 128);
    std::string expectFirst = c.first.substr(0, 128);
    expectFirst.resize(128, ' ');
    std::string expectSecond = c.second.substr(0, 128);
    expectSecond.resize(128, ' ');
    EXPECT_EQ(first, expectFirst);
    EXPECT_EQ(second, expectSecond);
    uint64_t size;
    std::memcpy(&size, out + 8, 8);
    EXPECT_EQ(size, 0x1122334455667788ull);
    EXPECT_EQ(out[272], 0xCC) << "the host gets 272 bytes only";
  }
}

TEST(DiskCopy, ListDisksPadsEveryRecordItCopies) {
  CStorage storage;
  storage.SetDisksForTest({DiskWithTexts("one", std::string(128, 'X')), DiskWithTexts(std::string(128, 'Y'), "")});
  std::vector<uint8_t> out(3 * 272, 0);
  int copied = 0;
  EXPECT_EQ(storage.ListDisks(0, 3, out.data(), &copied), 2);
  EXPECT_EQ(copied, 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data() + 16), 5), "one  ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data() + 144), 128), std::string(128, 'X'));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data() + 272 + 144), 128), std::string(128, ' '));
  EXPECT_EQ(storage.ListDisks(0, 1, nullptr, &copied), -87);
}

}  // namespace
