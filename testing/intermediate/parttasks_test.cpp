// The partition-table tasks through Intermediate.dll's exports, over copies of the
// fixture images served by the stand-in core.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "qvtdserver.h"
#include "test_support.h"

namespace {

const std::string kImages = RECOVERY_IMAGES_DIR;
const std::string kWork = std::string(RECOVERY_TEST_WORK_DIR) + "/parttasks";

using IntFn = int(__cdecl*)();
using TaskFn = int(__cdecl*)(int);
using PartProgressFn = int(__cdecl*)(int, int*, void*, int, int*);

struct Part {
  uint64_t firstByte, size;
  uint16_t type;
  bool operator==(const Part& o) const { return firstByte == o.firstByte && size == o.size && type == o.type; }
};

// "part NUMBER KIND TYPE FIRST SIZE" lines of a fixture manifest.
std::vector<Part> ManifestParts(const std::string& name) {
  std::ifstream in(kImages + "/" + name + ".manifest");
  std::vector<Part> parts;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string tag;
    int number, kind, type;
    Part p{};
    if (f >> tag && tag == "part" && f >> number >> kind >> type >> p.firstByte >> p.size) {
      p.type = uint16_t(type);
      parts.push_back(p);
    }
  }
  return parts;
}

std::vector<Part> Records(const std::vector<uint8_t>& buffer, int count) {
  std::vector<Part> parts;
  for (int i = 0; i < count; ++i) {
    QvtdPartitionRecord r;
    std::memcpy(&r, buffer.data() + size_t(i) * sizeof r, sizeof r);
    if (r.size == 0) break;
    parts.push_back({r.firstByte, r.size, r.fsType});
  }
  return parts;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PartTasks : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryA(RECOVERY_TEST_WORK_DIR, nullptr);
    CreateDirectoryA(kWork.c_str(), nullptr);
    m_copy = kWork + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".img";
    ASSERT_TRUE(CopyFileA((kImages + "/mbr.img").c_str(), m_copy.c_str(), FALSE));
    Serve(m_copy);
  }
  void TearDown() override {
    CoreFn<int(__cdecl*)(int)>("QvtdSetRecordDelay")(0);
    CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(nullptr);
  }
  void Serve(const std::string& image) {
    CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(image.c_str());
    ASSERT_EQ(Dll().Get<IntFn>("ServiceInitialize")(), 1);
  }
  int StartSearch() {
    int task = 0;
    EXPECT_EQ(Dll().Get<int(__cdecl*)(int, int, int*)>("StartRecoverPartScan")(0, 0, &task), 0);
    return task;
  }
  // Progress, finished and the partitions found so far.
  std::vector<Part> Poll(int task, int* progress, int* finished) {
    std::vector<uint8_t> buffer(16 * sizeof(QvtdPartitionRecord), 0);
    EXPECT_EQ(Dll().Get<PartProgressFn>("GetRecoverPartProgress")(task, progress, buffer.data(), 16, finished), 0);
    return Records(buffer, 16);
  }
  bool WaitFinished(int task) {
    return WaitFor([&] {
      int progress = 0, finished = 0;
      Poll(task, &progress, &finished);
      return finished != 0;
    }, 60000);
  }
  std::string m_copy;
};

TEST_F(PartTasks, SearchFindsEveryVolumeAndWritesNothing) {
  const std::string before = ReadAll(m_copy);
  const int task = StartSearch();
  ASSERT_TRUE(WaitFinished(task));
  int progress = 0, finished = 0;
  const std::vector<Part> found = Poll(task, &progress, &finished);
  EXPECT_EQ(progress, 10000);
  // Primaries and the logicals of the extended partition alike, in disk order.
  EXPECT_EQ(found, ManifestParts("mbr"));
  // A buffer of one takes the first find only.
  std::vector<uint8_t> one(2 * sizeof(QvtdPartitionRecord), 0);
  ASSERT_EQ(Dll().Get<PartProgressFn>("GetRecoverPartProgress")(task, &progress, one.data(), 1, &finished), 0);
  EXPECT_EQ(Records(one, 2).size(), 1u);
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(task), 0);
  EXPECT_TRUE(ReadAll(m_copy) == before) << "a search must not write to the disk";
}

TEST_F(PartTasks, TableRewrittenFromTheSearchWithLogicals) {
  const std::vector<Part> want = ManifestParts("mbr");
  ASSERT_EQ(want.size(), 4u);
  const int task = StartSearch();
  ASSERT_TRUE(WaitFinished(task));
  // The MBR is lost now: the core sees no partitions at all.
  {
    std::fstream f(m_copy, std::ios::in | std::ios::out | std::ios::binary);
    f.write(std::string(512, '\0').data(), 512);
  }
  EXPECT_EQ(Dll().Get<TaskFn>("RepairDiskPartTable")(task), 0);
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(task), 0);
  Serve(m_copy);
  std::vector<uint8_t> buffer(8 * sizeof(QvtdPartitionRecord), 0);
  int found = 0;
  ASSERT_EQ(Dll().Get<int(__cdecl*)(int, int, int, void*, int*)>("ListPartitions")(0, 0, 8, buffer.data(), &found), 0);
  EXPECT_EQ(Records(buffer, found), want) << "three primaries and one logical behind its EBR";
}

TEST_F(PartTasks, PauseHoldsTheSearchStopEndsItAndRepairWaitsForTheEnd) {
  CoreFn<int(__cdecl*)(int)>("QvtdSetRecordDelay")(40);
  const std::string before = ReadAll(m_copy);
  const int task = StartSearch();
  int progress = 0, finished = 0;
  ASSERT_TRUE(WaitFor([&] { Poll(task, &progress, &finished); return progress > 0; }, 30000));
  // While it runs the table is not written: the search has not seen the whole disk.
  EXPECT_EQ(Dll().Get<TaskFn>("RepairDiskPartTable")(task), -int(ERROR_BUSY));
  ASSERT_EQ(Dll().Get<int(__cdecl*)(int, int)>("PauseWork")(task, 1), 1);
  Sleep(200);  // lets a step that was under way end
  int held = 0;
  Poll(task, &held, &finished);
  Sleep(300);
  int later = 0;
  Poll(task, &later, &finished);
  EXPECT_EQ(later, held) << "a paused search does not advance";
  EXPECT_EQ(finished, 0);
  // A stop ends the pause as well: StopWork returns once the search has ended.
  EXPECT_EQ(Dll().Get<TaskFn>("StopWork")(task), 1);
  Poll(task, &progress, &finished);
  EXPECT_EQ(finished, 1);
  EXPECT_LT(progress, 10000);
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(task), 0);
  EXPECT_TRUE(ReadAll(m_copy) == before);
}

TEST_F(PartTasks, PartitionProgressOfAnotherTaskGivesOnlyItsProgress) {
  int task = 0;
  ASSERT_EQ(Dll().Get<int(__cdecl*)(int, int, int, int*)>("StartScanTask")(0, 1, 0, &task), 0);
  int progress = -1, finished = -1;
  std::vector<uint8_t> buffer(sizeof(QvtdPartitionRecord), 0xAB);
  ASSERT_EQ(Dll().Get<PartProgressFn>("GetRecoverPartProgress")(task, &progress, buffer.data(), 1, &finished), 0);
  EXPECT_GE(progress, 0);
  EXPECT_NE(finished, -1);
  EXPECT_EQ(buffer[0], 0xAB) << "the buffer is left alone";
  Dll().Get<TaskFn>("StopWork")(task);
  EXPECT_EQ(Dll().Get<TaskFn>("CloseScanTask")(task), 0);
}

}  // namespace
