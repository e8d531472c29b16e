// Tests of the stand-in core, loaded with LoadLibrary and driven by name as
// Intermediate drives it, over the fixture images and small images made here.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Handles.h"
#include "qvtdserver.h"

namespace {

using qvtd::UniqueHandle;


const std::string kFixtures = QVTD_FIXTURES_DIR;
const std::string kWork = QVTD_WORK_DIR;

struct Api {
  HMODULE module = nullptr;
#define QVTD_FN(name) decltype(&::name) name = nullptr;
  QVTD_FN(InitBitLockerReader) QVTD_FN(InitLog) QVTD_FN(WriteLog) QVTD_FN(WriteLogW) QVTD_FN(EnumDisks)
  QVTD_FN(EnumPartitions) QVTD_FN(GetPartition) QVTD_FN(GetPartitionInfo) QVTD_FN(GetDiskBySerialNo)
  QVTD_FN(GetDiskDeepScanSize) QVTD_FN(ReadPartition) QVTD_FN(ReleaseCacheBuffer) QVTD_FN(ReleaseDirBuffer)
  QVTD_FN(SetPartBitLocker) QVTD_FN(CharSetTransfer) QVTD_FN(SetErrorHandler) QVTD_FN(QvtdSetImages)
  QVTD_FN(QvtdInjectBadRange) QVTD_FN(QvtdSetRecordDelay) QVTD_FN(QvtdInjectFault) QVTD_FN(QvtdLogPath)
  QVTD_FN(QvtdSignalErrorWait)
#undef QVTD_FN
  bool complete = false;
};

template <typename F>
void Bind(HMODULE m, F& f, const char* name, bool& ok)
{
  f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name)));
  if (!f) ok = false;
}

Api& Core()
{
  static Api api = [] {
    Api a;
    a.module = LoadLibraryA("qvtdserver.dll");
    if (!a.module) return a;
    bool ok = true;
#define QVTD_BIND(name) Bind(a.module, a.name, #name, ok);
    QVTD_BIND(InitBitLockerReader) QVTD_BIND(InitLog) QVTD_BIND(WriteLog) QVTD_BIND(WriteLogW)
    QVTD_BIND(EnumDisks) QVTD_BIND(EnumPartitions) QVTD_BIND(GetPartition) QVTD_BIND(GetPartitionInfo)
    QVTD_BIND(GetDiskBySerialNo) QVTD_BIND(GetDiskDeepScanSize) QVTD_BIND(ReadPartition)
    QVTD_BIND(ReleaseCacheBuffer) QVTD_BIND(ReleaseDirBuffer) QVTD_BIND(SetPartBitLocker)
    QVTD_BIND(CharSetTransfer) QVTD_BIND(SetErrorHandler) QVTD_BIND(QvtdSetImages) QVTD_BIND(QvtdInjectBadRange)
    QVTD_BIND(QvtdSetRecordDelay) QVTD_BIND(QvtdInjectFault) QVTD_BIND(QvtdLogPath)
    QVTD_BIND(QvtdSignalErrorWait)
#undef QVTD_BIND
    a.complete = ok;
    return a;
  }();
  return api;
}

std::string Image(const std::string& name) { return kFixtures + "/" + name + ".img"; }

std::vector<uint8_t> FileBytes(const std::string& path, uint64_t offset, size_t length)
{
  std::ifstream f(path, std::ios::binary);
  f.seekg(std::streamoff(offset));
  std::vector<uint8_t> out(length);
  f.read(reinterpret_cast<char*>(out.data()), std::streamsize(length));
  out.resize(size_t(f.gcount()));
  return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void PutU16(std::vector<uint8_t>& b, size_t at, uint32_t v) { b[at] = uint8_t(v); b[at + 1] = uint8_t(v >> 8); }
void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{ for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i)); }
uint32_t GetU32(const std::vector<uint8_t>& b, size_t at)
{ return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24; }

uint32_t Crc32(const uint8_t* p, size_t n)
{
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

struct ManifestPart {
  int number;
  uint32_t kind;
  uint16_t type;
  uint64_t firstByte;
  uint64_t size;
};

struct Manifest {
  uint64_t imageSize = 0;
  std::string layout;
  std::vector<ManifestPart> parts;
};

Manifest ReadManifest(const std::string& name)
{
  Manifest m;
  std::ifstream f(kFixtures + "/" + name + ".manifest");
  std::string line;
  while (std::getline(f, line)) {
    std::istringstream in(line);
    std::string tag;
    in >> tag;
    if (tag == "image") {
      std::string file;
      in >> file >> m.imageSize >> m.layout;
    } else if (tag == "part") {
      ManifestPart p{};
      in >> p.number >> p.kind >> p.type >> p.firstByte >> p.size;
      m.parts.push_back(p);
    }
  }
  return m;
}

// Serves the given images as disks 0, 1, ... and returns their records.
std::vector<QvtdDiskRecord> Serve(const std::vector<std::string>& paths)
{
  std::string list;
  for (const auto& p : paths) list += p + ";";
  Core().QvtdSetImages(list.c_str());
  std::vector<QvtdDiskRecord> disks(paths.size() + 1);
  int n = Core().EnumDisks(int(disks.size()), disks.data());
  disks.resize(size_t(std::max(n, 0)));
  return disks;
}

std::vector<QvtdPartitionRecord> Partitions(QvtdDiskRecord& disk)
{
  std::vector<QvtdPartitionRecord> parts(64);
  int found = -1;
  EXPECT_EQ(Core().EnumPartitions(&disk, 0, int(parts.size()), parts.data(), &found), 0);
  parts.resize(size_t(std::max(found, 0)));
  return parts;
}

std::wstring Label(const QvtdPartitionRecord& p)
{
  std::wstring s;
  for (wchar_t c : p.label) {
    if (!c) break;
    s.push_back(c);
  }
  return s;
}

class QvtdTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_NE(Core().module, nullptr) << "qvtdserver.dll did not load";
    ASSERT_TRUE(Core().complete) << "an export is missing";
    Core().SetErrorHandler(nullptr, nullptr);
  }
  void TearDown() override
  {
    Core().QvtdInjectBadRange(-1, 0, 0);
    Core().SetErrorHandler(nullptr, nullptr);
  }
};

// ---- layouts of the fixture images ----

struct LayoutCase {
  const char* image;
  std::vector<std::wstring> labels;
};

TEST_F(QvtdTest, FixtureImagesGiveTheManifestsPartitions)
{
  const LayoutCase cases[] = {
    {"mbr", {L"MBRNTFS", L"MBRFAT32", L"MBREXFAT", L"MBRFAT16"}},
    {"gpt", {L"GPTFAT16", L"GPTNTFS", L""}},
    {"ntfs-demo", {L"DEMO"}},
    {"fat12", {L"BAREFAT12"}},
    {"fat16", {L"BAREFAT16"}},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.image);
    const Manifest m = ReadManifest(c.image);
    ASSERT_FALSE(m.parts.empty()) << "manifest missing";
    auto disks = Serve({Image(c.image)});
    ASSERT_EQ(disks.size(), 1u);
    QvtdDiskRecord& d = disks[0];
    EXPECT_EQ(d.index, 0);
    EXPECT_EQ(d.sectorSize, 512u);
    EXPECT_EQ(d.size, m.imageSize);
    EXPECT_STREQ(d.model, "QVTD Virtual Disk 0");
    EXPECT_EQ(std::string(d.serial).rfind("QVTD-", 0), 0u);
    EXPECT_EQ(std::strlen(d.serial), 21u);
    ASSERT_NE(d.context, nullptr);
    ASSERT_NE(d.wholeDisk, nullptr);

    auto parts = Partitions(d);
    ASSERT_EQ(parts.size(), m.parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
      SCOPED_TRACE(i);
      const QvtdPartitionRecord& p = parts[i];
      const ManifestPart& want = m.parts[i];
      EXPECT_EQ(p.number, want.number);
      EXPECT_EQ(p.tableKind, want.kind);
      EXPECT_EQ(p.fsType, want.type);
      EXPECT_EQ(p.firstByte, want.firstByte);
      EXPECT_EQ(p.size, want.size);
      EXPECT_EQ(p.firstSector, want.firstByte / 512);
      EXPECT_EQ(p.sectorSize, 512u);
      EXPECT_EQ(p.driveLetter, 0);
      if (i < c.labels.size()) {
        EXPECT_EQ(Label(p), c.labels[i]);
      }
      uint16_t type = 0xFFFF;
      void* h = Core().GetPartition(&d, p.number, &type);
      EXPECT_NE(h, nullptr);
      EXPECT_EQ(type, want.type);
    }
    uint16_t type = 0xFFFF;
    EXPECT_EQ(Core().GetPartition(&d, 0, &type), nullptr);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(Core().GetPartition(&d, int(parts.size()) + 1, &type), nullptr);
    EXPECT_EQ(Core().GetPartition(&d, -1, &type), nullptr);
    EXPECT_EQ(Core().GetPartition(&d, 0x2000, &type), d.wholeDisk);
    EXPECT_EQ(Core().GetPartition(nullptr, 1, &type), nullptr);
  }
}

TEST_F(QvtdTest, MbrKeepsPrimaryAndLogicalKindsAndTheActiveFlag)
{
  auto disks = Serve({Image("mbr")});
  ASSERT_EQ(disks.size(), 1u);
  auto parts = Partitions(disks[0]);
  ASSERT_EQ(parts.size(), 4u);
  const uint32_t mbrTypes[] = {0x07, 0x0C, 0x07, 0x06};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(parts[i].mbrType, mbrTypes[i]) << i;
  EXPECT_EQ(parts[0].flags & 1, 1u);
  EXPECT_EQ(parts[1].flags & 1, 0u);
  for (const auto& p : parts) {
    static const uint8_t kZero[16] = {};
    EXPECT_EQ(std::memcmp(p.gptType, kZero, 16), 0);
  }
}

TEST_F(QvtdTest, DriveLetterSuffixMarksTheNtfsPartitionsOnly)
{
  auto disks = Serve({Image("mbr") + "|c", Image("ntfs-demo")});
  ASSERT_EQ(disks.size(), 2u);
  auto lettered = Partitions(disks[0]);
  ASSERT_EQ(lettered.size(), 4u);
  for (const auto& p : lettered) EXPECT_EQ(p.driveLetter, p.fsType == 256 ? 'C' : 0) << p.number;
  auto bare = Partitions(disks[1]);
  ASSERT_EQ(bare.size(), 1u);
  EXPECT_EQ(bare[0].driveLetter, 0);
  // A '|' that is not followed by exactly one letter is part of the path.
  EXPECT_TRUE(Serve({Image("mbr") + "|cd"}).empty());
  // The letter belongs to the list item, not to the disk object kept for the image.
  disks = Serve({Image("mbr")});
  ASSERT_EQ(disks.size(), 1u);
  EXPECT_EQ(Partitions(disks[0])[0].driveLetter, 0);
}

TEST_F(QvtdTest, GptKeepsTypeAndPartitionGuids)
{
  auto disks = Serve({Image("gpt")});
  ASSERT_EQ(disks.size(), 1u);
  auto parts = Partitions(disks[0]);
  ASSERT_EQ(parts.size(), 3u);
  // Microsoft basic data (EBD0A0A2-B9E5-4433-87C0-68B6B72699C7) and Linux data
  // (0FC63DAF-8483-4772-8E79-3D69D8477DE4), in their on-disk byte order.
  const uint8_t basicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                 0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
  const uint8_t linuxData[16] = {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47,
                                 0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4};
  EXPECT_EQ(std::memcmp(parts[0].gptType, basicData, 16), 0);
  EXPECT_EQ(std::memcmp(parts[1].gptType, basicData, 16), 0);
  EXPECT_EQ(std::memcmp(parts[2].gptType, linuxData, 16), 0);
  EXPECT_NE(std::memcmp(parts[0].gptId, parts[1].gptId, 16), 0);
  for (const auto& p : parts) EXPECT_EQ(p.mbrType, 0u);
}

TEST_F(QvtdTest, SeveralDisksAndCapacity)
{
  const std::vector<std::string> images = {Image("mbr"), Image("gpt"), Image("ntfs-demo"), Image("fat12"),
                                           Image("fat16")};
  std::string list;
  for (const auto& p : images) list += p + ";";
  Core().QvtdSetImages(list.c_str());
  std::vector<QvtdDiskRecord> two(3);
  std::memset(&two[2], 0xAB, sizeof(two[2]));
  EXPECT_EQ(Core().EnumDisks(2, two.data()), 5);
  EXPECT_EQ(two[1].index, 1);
  EXPECT_EQ(two[2].index, int32_t(0xABABABAB)) << "wrote past the capacity";
  EXPECT_EQ(Core().EnumDisks(0, nullptr), 5);

  auto disks = Serve(images);
  ASSERT_EQ(disks.size(), 5u);
  for (size_t i = 0; i < disks.size(); ++i) {
    EXPECT_EQ(disks[i].index, int(i));
    EXPECT_EQ(std::string(disks[i].model), "QVTD Virtual Disk " + std::to_string(i));
    for (size_t j = 0; j < i; ++j) EXPECT_STRNE(disks[i].serial, disks[j].serial);
  }
  // An unreadable image is left out; the others keep their order.
  auto some = Serve({Image("fat12"), kWork + "/no-such.img", Image("fat16")});
  ASSERT_EQ(some.size(), 2u);
  EXPECT_EQ(some[1].size, 4194304u);
  // The list from the environment, when no list was set.
  Core().QvtdSetImages(nullptr);
  SetEnvironmentVariableA("QVTD_IMAGES", (Image("fat12") + " ; " + Image("gpt")).c_str());
  std::vector<QvtdDiskRecord> env(4);
  EXPECT_EQ(Core().EnumDisks(4, env.data()), 2);
  EXPECT_EQ(env[1].size, 9437184u);
  SetEnvironmentVariableA("QVTD_IMAGES", nullptr);
  EXPECT_EQ(Serve({}).size(), 0u);
}

TEST_F(QvtdTest, EnumPartitionsArguments)
{
  auto disks = Serve({Image("mbr")});
  ASSERT_EQ(disks.size(), 1u);
  QvtdDiskRecord& d = disks[0];
  QvtdPartitionRecord out[4];
  int found = -1;
  EXPECT_EQ(Core().EnumPartitions(&d, 2, 1, out, &found), 0);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(out[0].number, 3);
  EXPECT_EQ(Core().EnumPartitions(&d, 3, 4, out, &found), 0);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(out[0].number, 4);
  EXPECT_EQ(Core().EnumPartitions(&d, 4, 4, out, &found), 0);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(Core().EnumPartitions(&d, 0, 0, nullptr, &found), 0);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(Core().EnumPartitions(&d, -1, 4, out, &found), -87);
  EXPECT_EQ(Core().EnumPartitions(&d, 0, -1, out, &found), -87);
  EXPECT_EQ(Core().EnumPartitions(&d, 0, 4, nullptr, &found), -87);
  EXPECT_EQ(Core().EnumPartitions(&d, 0, 4, out, nullptr), -87);
  EXPECT_EQ(Core().EnumPartitions(nullptr, 0, 4, out, &found), -87);
  QvtdDiskRecord bogus = d;
  bogus.context = &bogus;
  EXPECT_EQ(Core().EnumPartitions(&bogus, 0, 4, out, &found), -6);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(Core().GetPartition(&bogus, 1, nullptr), nullptr);
}

// ---- reads ----

TEST_F(QvtdTest, ReadsArePositionedAndClampedAtThePartitionEnd)
{
  const std::string path = Image("mbr");
  auto disks = Serve({path});
  ASSERT_EQ(disks.size(), 1u);
  QvtdDiskRecord& d = disks[0];
  auto parts = Partitions(d);
  ASSERT_EQ(parts.size(), 4u);
  struct Case {
    int partition;  // number, or 0x2000 for the whole disk
    uint64_t offset;
    uint32_t length;
    int expected;
  };
  const QvtdPartitionRecord& p2 = parts[1];
  const uint64_t diskSize = d.size;
  const Case cases[] = {
    {2, 0, 512, 512},
    {2, 1234567, 70000, 70000},
    {2, p2.size - 100, 512, 100},
    {2, p2.size - 512, 512, 512},
    {2, p2.size, 512, 0},
    {2, p2.size + 1, 1, 0},
    {2, UINT64_MAX - 10, 512, 0},
    {2, 0, 0, 0},
    {4, parts[3].size - 1, 4096, 1},
    {0x2000, 0, 512, 512},
    {0x2000, diskSize - 7, 512, 7},
    {0x2000, diskSize, 512, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "partition " << c.partition << " offset " << c.offset << " length "
                                    << c.length);
    void* h = Core().GetPartition(&d, c.partition, nullptr);
    ASSERT_NE(h, nullptr);
    std::vector<uint8_t> buf(c.length + 16, 0xCC);
    int got = Core().ReadPartition(h, d.context, c.offset, c.length, buf.data());
    ASSERT_EQ(got, c.expected);
    const uint64_t base = c.partition == 0x2000 ? 0 : parts[size_t(c.partition - 1)].firstByte;
    if (got > 0) {
      auto want = FileBytes(path, base + c.offset, size_t(got));
      EXPECT_TRUE(std::equal(want.begin(), want.end(), buf.begin()));
    }
    EXPECT_EQ(buf[size_t(std::max(got, 0))], 0xCC) << "wrote past the bytes read";
  }
  // The boot sector of each partition is that file system's.
  char oem[9] = {};
  std::vector<uint8_t> boot(512);
  ASSERT_EQ(Core().ReadPartition(Core().GetPartition(&d, 1, nullptr), d.context, 0, 512, boot.data()), 512);
  std::memcpy(oem, boot.data() + 3, 8);
  EXPECT_STREQ(oem, "NTFS    ");
  ASSERT_EQ(Core().ReadPartition(Core().GetPartition(&d, 3, nullptr), nullptr, 0, 512, boot.data()), 512);
  std::memcpy(oem, boot.data() + 3, 8);
  EXPECT_STREQ(oem, "EXFAT   ");

  void* h = Core().GetPartition(&d, 2, nullptr);
  EXPECT_EQ(Core().ReadPartition(h, d.context, 0, 512, nullptr), -87);
  EXPECT_EQ(Core().ReadPartition(h, d.context, 0, 0x80000000u, boot.data()), -87);
  EXPECT_EQ(Core().ReadPartition(nullptr, d.context, 0, 512, boot.data()), -6);
  EXPECT_EQ(Core().ReadPartition(d.context, d.context, 0, 512, boot.data()), -6) << "a disk context is no partition";
  EXPECT_EQ(Core().ReadPartition(boot.data(), d.context, 0, 512, boot.data()), -6);
}

TEST_F(QvtdTest, ConcurrentReadsReturnTheRightBytes)
{
  const std::string path = Image("gpt");
  auto disks = Serve({path});
  ASSERT_EQ(disks.size(), 1u);
  QvtdDiskRecord& d = disks[0];
  auto parts = Partitions(d);
  ASSERT_EQ(parts.size(), 3u);
  const std::vector<uint8_t> whole = FileBytes(path, 0, size_t(d.size));
  ASSERT_EQ(whole.size(), d.size);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(uint32_t(t) * 7919u + 1);
      std::vector<uint8_t> buf(65536);
      for (int i = 0; i < 150; ++i) {
        const int which = int(rng() % 4);  // 3 = whole disk
        const int number = which == 3 ? 0x2000 : which + 1;
        const uint64_t base = which == 3 ? 0 : parts[size_t(which)].firstByte;
        const uint64_t size = which == 3 ? d.size : parts[size_t(which)].size;
        const uint64_t offset = rng() % size;
        const uint32_t length = 1 + rng() % uint32_t(buf.size());
        void* h = Core().GetPartition(&d, number, nullptr);
        const int got = Core().ReadPartition(h, d.context, offset, length, buf.data());
        const uint64_t expected = std::min<uint64_t>(length, size - offset);
        if (got != int(expected) || std::memcmp(buf.data(), whole.data() + base + offset, size_t(expected)) != 0)
          ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

// ---- bad sectors and the host's decision ----

struct ErrorCall {
  int disk;
  uint64_t offset;
  uint32_t length;
  uint32_t code;
};
std::vector<ErrorCall> g_calls;
std::vector<int> g_decisions;  // answered in order; the last one repeats
bool g_clearOnWait = false;

void QVTD_API RecordError(int disk, uint64_t offset, uint32_t length, uint32_t code)
{
  g_calls.push_back({disk, offset, length, code});
}

int QVTD_API Decide()
{
  const size_t i = g_calls.empty() ? 0 : g_calls.size() - 1;
  const int decision = g_decisions.empty() ? 2 : g_decisions[std::min(i, g_decisions.size() - 1)];
  if (g_clearOnWait) Core().QvtdInjectBadRange(-1, 0, 0);
  return decision;
}

TEST_F(QvtdTest, BadSectorHandshake)
{
  const std::string path = Image("fat16");
  auto disks = Serve({Image("fat12"), path});
  ASSERT_EQ(disks.size(), 2u);
  QvtdDiskRecord& d = disks[1];
  void* h = Core().GetPartition(&d, 1, nullptr);
  ASSERT_NE(h, nullptr);
  const auto want = FileBytes(path, 0, 8192);
  std::vector<uint8_t> buf(8192);
  auto reset = [&](std::vector<int> decisions, bool clear) {
    g_calls.clear();
    g_decisions = std::move(decisions);
    g_clearOnWait = clear;
    Core().QvtdInjectBadRange(-1, 0, 0);
    ASSERT_EQ(Core().QvtdInjectBadRange(1, 2048, 1024), 0);
    std::fill(buf.begin(), buf.end(), 0xCC);
  };

  // Without a handler a bad read fails, and nothing is called.
  reset({}, false);
  EXPECT_LT(Core().ReadPartition(h, d.context, 0, 8192, buf.data()), 0);
  // A read beside the bad range is not touched.
  Core().SetErrorHandler(RecordError, Decide);
  EXPECT_EQ(Core().ReadPartition(h, d.context, 0, 2048, buf.data()), 2048);
  EXPECT_EQ(Core().ReadPartition(h, d.context, 3072, 1024, buf.data()), 1024);
  EXPECT_TRUE(g_calls.empty());

  // Retry: the host clears the fault meanwhile, the read then succeeds with the real bytes.
  reset({0}, true);
  ASSERT_EQ(Core().ReadPartition(h, d.context, 0, 8192, buf.data()), 8192);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].disk, 1);
  EXPECT_EQ(g_calls[0].offset, 2048u);
  EXPECT_EQ(g_calls[0].length, 1024u);
  EXPECT_EQ(g_calls[0].code, 23u);
  EXPECT_EQ(buf, want);

  // Retry twice while the fault stays, then skip.
  reset({0, 0, 1}, false);
  ASSERT_EQ(Core().ReadPartition(h, d.context, 1024, 4096, buf.data()), 4096);
  EXPECT_EQ(g_calls.size(), 3u);

  // Skip: the bad bytes read as zeros, the rest as they are.
  reset({1}, false);
  ASSERT_EQ(Core().ReadPartition(h, d.context, 0, 8192, buf.data()), 8192);
  ASSERT_EQ(g_calls.size(), 1u);
  for (size_t i = 0; i < buf.size(); ++i) {
    const uint8_t expected = (i >= 2048 && i < 3072) ? 0 : want[i];
    ASSERT_EQ(buf[i], expected) << "byte " << i;
  }

  // Abort: the read fails.
  reset({2}, false);
  EXPECT_LT(Core().ReadPartition(h, d.context, 2500, 100, buf.data()), 0);
  EXPECT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].offset, 2500u);
  EXPECT_EQ(g_calls[0].length, 100u);

  // The whole-disk handle meets the same sectors; other disks do not.
  reset({1}, false);
  EXPECT_EQ(Core().ReadPartition(d.wholeDisk, d.context, 2000, 100, buf.data()), 100);
  EXPECT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(Core().ReadPartition(disks[0].wholeDisk, disks[0].context, 2000, 100, buf.data()), 100);
  EXPECT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(Core().QvtdInjectBadRange(2, 0, 512), -87);
  EXPECT_EQ(Core().QvtdInjectBadRange(-2, 0, 512), -87);
}

TEST_F(QvtdTest, BadSectorOnAPartitionIsReportedAtItsDiskOffset)
{
  auto disks = Serve({Image("mbr")});
  ASSERT_EQ(disks.size(), 1u);
  QvtdDiskRecord& d = disks[0];
  auto parts = Partitions(d);
  ASSERT_EQ(parts.size(), 4u);
  const uint64_t first = parts[2].firstByte;
  g_calls.clear();
  g_decisions = {1};
  g_clearOnWait = false;
  Core().SetErrorHandler(RecordError, Decide);
  ASSERT_EQ(Core().QvtdInjectBadRange(0, first + 512, 512), 0);
  std::vector<uint8_t> buf(4096);
  EXPECT_EQ(Core().ReadPartition(Core().GetPartition(&d, 3, nullptr), d.context, 0, 4096, buf.data()), 4096);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].offset, first + 512);
  EXPECT_EQ(g_calls[0].disk, 0);
  // The partition before it does not reach the range.
  EXPECT_EQ(Core().ReadPartition(Core().GetPartition(&d, 2, nullptr), d.context, parts[1].size - 4096, 4096,
                                 buf.data()),
            4096);
  EXPECT_EQ(g_calls.size(), 1u);
}

TEST_F(QvtdTest, ThreadsMeetingBadSectorsEachGetTheHandshake)
{
  auto disks = Serve({Image("fat16")});
  ASSERT_EQ(disks.size(), 1u);
  QvtdDiskRecord& d = disks[0];
  static std::atomic<int> calls;
  calls = 0;
  struct Local {
    static void QVTD_API Host(int, uint64_t, uint32_t, uint32_t) { ++calls; }
    static int QVTD_API Skip() { return 1; }
  };
  Core().SetErrorHandler(Local::Host, Local::Skip);
  ASSERT_EQ(Core().QvtdInjectBadRange(0, 0, 512), 0);
  std::vector<std::thread> threads;
  std::atomic<int> zeros{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      std::vector<uint8_t> buf(1024);
      for (int i = 0; i < 20; ++i) {
        if (Core().ReadPartition(d.wholeDisk, d.context, 0, 1024, buf.data()) == 1024 && buf[0] == 0 &&
            buf[511] == 0)
          ++zeros;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(calls.load(), 80);
  EXPECT_EQ(zeros.load(), 80);
}

// The host answers from another thread while the reading thread waits, as a host
// with a user dialog does.
std::atomic<int> g_asyncDecision{-1};
std::atomic<int> g_asyncCalls{0};

TEST_F(QvtdTest, ReadingThreadWaitsForTheHostsAnswer)
{
  auto disks = Serve({Image("fat16")});
  ASSERT_EQ(disks.size(), 1u);
  QvtdDiskRecord d = disks[0];
  struct Local {
    static void QVTD_API Host(int, uint64_t, uint32_t, uint32_t) { ++g_asyncCalls; }
    static int QVTD_API Wait()
    {
      for (int waited = 0; waited < 20000; waited += 10) {
        const int decision = g_asyncDecision.exchange(-1);
        if (decision != -1) return decision;
        Sleep(10);
      }
      return 2;
    }
  };
  g_asyncCalls = 0;
  g_asyncDecision = -1;
  Core().SetErrorHandler(Local::Host, Local::Wait);
  ASSERT_EQ(Core().QvtdInjectBadRange(0, 4096, 512), 0);
  const auto want = FileBytes(Image("fat16"), 0, 8192);
  std::vector<uint8_t> data(8192, 0xAA);
  std::atomic<int> result{-100};
  UniqueHandle entered(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  ASSERT_TRUE(entered);
  ASSERT_EQ(Core().QvtdSignalErrorWait(entered.Get()), 0);
  std::thread reader([&] { result = Core().ReadPartition(d.wholeDisk, d.context, 0, 8192, data.data()); });
  // The reading thread is inside the host's wait, which answers only once told to.
  const bool inWait = WaitForSingleObject(entered.Get(), 60000) == WAIT_OBJECT_0;
  Core().QvtdSignalErrorWait(nullptr);
  EXPECT_TRUE(inWait);
  EXPECT_EQ(g_asyncCalls.load(), 1) << "the host was told before the wait";
  EXPECT_EQ(result.load(), -100) << "the read waits for the host";
  Core().QvtdInjectBadRange(0, 0, 0);
  g_asyncDecision = 0;  // retry after the range healed
  reader.join();
  EXPECT_EQ(result.load(), 8192);
  EXPECT_EQ(data, want);
  EXPECT_EQ(g_asyncCalls.load(), 1);
}

// ---- corrupt and unusual tables ----

std::vector<uint8_t> MbrEntry(uint8_t boot, uint8_t type, uint32_t start, uint32_t count)
{
  std::vector<uint8_t> e(16, 0);
  e[0] = boot;
  e[4] = type;
  PutU32(e, 8, start);
  PutU32(e, 12, count);
  return e;
}

void PutEntry(std::vector<uint8_t>& img, uint64_t sector, int slot, const std::vector<uint8_t>& e)
{
  std::copy(e.begin(), e.end(), img.begin() + std::ptrdiff_t(sector * 512 + 446 + size_t(slot) * 16));
  img[sector * 512 + 510] = 0x55;
  img[sector * 512 + 511] = 0xAA;
}

TEST_F(QvtdTest, CorruptMbrTablesAreRefusedWithoutHarm)
{
  const size_t kSectors = 2048;  // 1 MiB
  struct Case {
    const char* name;
    std::vector<std::pair<uint64_t, std::vector<std::vector<uint8_t>>>> sectors;  // sector: entries by slot
    size_t partitions;
  };
  const Case cases[] = {
    // EBR chain whose second link points at itself: the two logicals before the loop stay.
    {"ebr-self-loop",
     {{0, {MbrEntry(0, 0x83, 64, 16), MbrEntry(0, 0x05, 100, 900)}},
      {100, {MbrEntry(0, 0x83, 1, 50), MbrEntry(0, 0x05, 100, 200)}},
      {200, {MbrEntry(0, 0x83, 1, 50), MbrEntry(0, 0x05, 100, 200)}}},
     3},
    // Second link back to the first EBR (relative 0) ends the chain.
    {"ebr-back-to-start",
     {{0, {MbrEntry(0, 0x05, 100, 900)}},
      {100, {MbrEntry(0, 0x83, 1, 50), MbrEntry(0, 0x05, 100, 200)}},
      {200, {MbrEntry(0, 0x83, 1, 50), MbrEntry(0, 0x05, 0, 200)}}},
     2},
    // Link outside the extended partition, and a logical reaching past it.
    {"ebr-outside",
     {{0, {MbrEntry(0, 0x05, 100, 200)}},
      {100, {MbrEntry(0, 0x83, 1, 50), MbrEntry(0, 0x05, 150, 20)}},
      {250, {MbrEntry(0, 0x83, 1, 500), MbrEntry(0, 0x05, 5000, 20)}}},
     1},
    // A boot indicator other than 0x00 / 0x80: not a partition table.
    {"bad-boot-flag", {{0, {MbrEntry(0x12, 0x07, 64, 16)}}}, 0},
    // A partition claimed past the image end is listed with its claimed size.
    {"past-end", {{0, {MbrEntry(0x80, 0x07, 1024, 100000)}}}, 1},
    // An empty slot, a zero-length entry and one starting at sector 0 are no partitions.
    {"empty-entries",
     {{0, {MbrEntry(0, 0, 64, 16), MbrEntry(0, 0x07, 64, 0), MbrEntry(0, 0x07, 0, 16), MbrEntry(0, 0x0C, 64, 16)}}},
     1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> img(kSectors * 512, 0);
    for (const auto& s : c.sectors)
      for (size_t slot = 0; slot < s.second.size(); ++slot) PutEntry(img, s.first, int(slot), s.second[slot]);
    const std::string path = kWork + "/" + c.name + ".img";
    WriteFile(path, img);
    auto disks = Serve({path});
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0].size, img.size());
    auto parts = Partitions(disks[0]);
    EXPECT_EQ(parts.size(), c.partitions);
    for (size_t i = 0; i < parts.size(); ++i) EXPECT_EQ(parts[i].number, int(i) + 1);
    std::vector<uint8_t> buf(512);
    EXPECT_EQ(Core().ReadPartition(disks[0].wholeDisk, disks[0].context, 0, 512, buf.data()), 512);
  }
  // Claimed past the end: reads stop where the image stops.
  auto disks = Serve({kWork + "/past-end.img"});
  auto parts = Partitions(disks[0]);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].size, 100000u * 512);
  std::vector<uint8_t> buf(4096);
  void* h = Core().GetPartition(&disks[0], 1, nullptr);
  EXPECT_EQ(Core().ReadPartition(h, disks[0].context, (kSectors - 1024) * 512 - 1000, 4096, buf.data()), 1000);
  EXPECT_EQ(Core().ReadPartition(h, disks[0].context, (kSectors - 1024) * 512, 4096, buf.data()), 0);
}

TEST_F(QvtdTest, CorruptGptHeadersFallBackOrAreRefused)
{
  const std::vector<uint8_t> original = FileBytes(Image("gpt"), 0, 9437184);
  ASSERT_EQ(original.size(), 9437184u);
  const size_t backup = original.size() - 512;
  auto patchCount = [](std::vector<uint8_t>& img, size_t header, uint32_t count) {
    PutU32(img, header + 80, count);
    PutU32(img, header + 16, 0);
    const uint32_t size = GetU32(img, header + 12);
    PutU32(img, header + 16, Crc32(img.data() + header, size));
  };
  struct Case {
    const char* name;
    bool primary, backupToo;
    uint32_t count;
    size_t partitions;
  };
  const Case cases[] = {
    // 0x02000000 entries of 128 bytes: exactly 2^32 bytes, 0 in 32 bits.
    {"gpt-count-wraps", true, false, 0x02000000u, 3},
    {"gpt-count-huge", true, false, 0xFFFFFFFFu, 3},
    {"gpt-both-wrap", true, true, 0x02000000u, 0},
    {"gpt-both-huge", true, true, 0x7FFFFFFFu, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> img = original;
    if (c.primary) patchCount(img, 512, c.count);
    if (c.backupToo) patchCount(img, backup, c.count);
    const std::string path = kWork + "/" + c.name + ".img";
    WriteFile(path, img);
    auto disks = Serve({path});
    ASSERT_EQ(disks.size(), 1u);
    auto parts = Partitions(disks[0]);
    EXPECT_EQ(parts.size(), c.partitions);
    if (c.partitions == 0) {
      EXPECT_EQ(Core().GetPartition(&disks[0], 1, nullptr), nullptr);
    }
  }
  // A broken header checksum alone is also a reason to use the backup.
  std::vector<uint8_t> img = original;
  img[512 + 16] ^= 1;
  WriteFile(kWork + "/gpt-crc.img", img);
  auto disks = Serve({kWork + "/gpt-crc.img"});
  ASSERT_EQ(disks.size(), 1u);
  auto parts = Partitions(disks[0]);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[1].fsType, 256);
}

TEST_F(QvtdTest, TinyImagesAreDisksWithoutPartitions)
{
  const size_t sizes[] = {0, 100, 511, 512};
  for (size_t n : sizes) {
    SCOPED_TRACE(n);
    const std::string path = kWork + "/tiny" + std::to_string(n) + ".img";
    WriteFile(path, std::vector<uint8_t>(n, 0));
    auto disks = Serve({path});
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0].size, n);
    EXPECT_TRUE(Partitions(disks[0]).empty());
    std::vector<uint8_t> buf(1024);
    EXPECT_EQ(Core().ReadPartition(disks[0].wholeDisk, disks[0].context, 0, 1024, buf.data()), int(n));
  }
}

// ---- file-system type from the boot sector ----

// One sector holding a FAT boot sector whose counts give `clusters` data clusters.
std::vector<uint8_t> FatBootSector(uint32_t clusters)
{
  std::vector<uint8_t> s(512, 0);
  s[0] = 0xEB;
  s[1] = 0x3C;
  s[2] = 0x90;
  std::memcpy(&s[3], "MSWIN4.1", 8);
  PutU16(s, 11, 512);
  s[13] = 1;        // sectors per cluster
  PutU16(s, 14, 1);  // reserved
  s[16] = 2;        // FATs
  PutU16(s, 17, 512);  // root entries: 32 sectors
  s[21] = 0xF8;
  PutU16(s, 22, 100);  // sectors per FAT
  PutU32(s, 32, 1 + 2 * 100 + 32 + clusters);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

TEST_F(QvtdTest, FatTypeFollowsTheClusterCountAndTheBpbIsChecked)
{
  struct Case {
    const char* name;
    uint32_t clusters;
    std::vector<std::pair<size_t, uint8_t>> patches;
    int partitions;
    uint16_t type;
  };
  const Case cases[] = {
    {"c4084", 4084, {}, 1, 1},
    {"c4085", 4085, {}, 1, 2},
    {"c65524", 65524, {}, 1, 2},
    {"c65525", 65525, {}, 1, 4},
    {"bps1024", 4000, {{11, 0x00}, {12, 0x04}}, 1, 1},  // root entries take 16 sectors here
    {"bps768", 4084, {{11, 0x00}, {12, 0x03}}, 0, 0},
    {"spc3", 4084, {{13, 3}}, 0, 0},
    {"spc0", 4084, {{13, 0}}, 0, 0},
    {"reserved0", 4084, {{14, 0}, {15, 0}}, 0, 0},
    {"fats0", 4084, {{16, 0}}, 0, 0},
    {"media12", 4084, {{21, 0x12}}, 0, 0},
    {"nojump", 4084, {{0, 0x00}}, 0, 0},
    {"nosignature", 4084, {{511, 0x00}}, 0, 0},
    {"fatsize0", 4084, {{22, 0}, {23, 0}}, 0, 0},
    // Metadata larger than the volume.
    {"tooshort", 0, {{32, 10}, {33, 0}, {34, 0}, {35, 0}}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> s = FatBootSector(c.clusters);
    for (const auto& p : c.patches) s[p.first] = p.second;
    const std::string path = kWork + "/fat-" + c.name + ".img";
    WriteFile(path, s);
    auto disks = Serve({path});
    ASSERT_EQ(disks.size(), 1u);
    auto parts = Partitions(disks[0]);
    ASSERT_EQ(int(parts.size()), c.partitions);
    if (c.partitions == 1) {
      EXPECT_EQ(parts[0].fsType, c.type);
      EXPECT_EQ(parts[0].tableKind, 0u);
      uint16_t type = 0xFFFF;
      EXPECT_NE(Core().GetPartition(&disks[0], 1, &type), nullptr);
      EXPECT_EQ(type, c.type);
    }
  }
}

TEST_F(QvtdTest, UnknownFileSystemsAreTypeZero)
{
  // An MBR partition whose first sector is no boot sector of a known file system.
  std::vector<uint8_t> img(1 << 20, 0);
  PutEntry(img, 0, 0, MbrEntry(0, 0x07, 64, 64));
  std::memcpy(&img[64 * 512 + 3], "NTFS    ", 8);  // OEM id but no sector size, no signature
  PutEntry(img, 0, 1, MbrEntry(0, 0x0C, 200, 64));
  std::memcpy(&img[200 * 512 + 3], "EXFAT   ", 8);
  img[200 * 512 + 20] = 1;  // the legacy BPB area must be zero
  img[200 * 512 + 510] = 0x55;
  img[200 * 512 + 511] = 0xAA;
  WriteFile(kWork + "/unknown-fs.img", img);
  auto disks = Serve({kWork + "/unknown-fs.img"});
  ASSERT_EQ(disks.size(), 1u);
  auto parts = Partitions(disks[0]);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].fsType, 0);
  EXPECT_EQ(parts[1].fsType, 0);
  uint16_t type = 0xFFFF;
  EXPECT_NE(Core().GetPartition(&disks[0], 1, &type), nullptr);
  EXPECT_EQ(type, 0);
}

// ---- partition info, serials, sizes ----

TEST_F(QvtdTest, PartitionInfoSerialsAndDeepScanSizes)
{
  const std::string path = Image("mbr");
  auto disks = Serve({Image("gpt"), path});
  ASSERT_EQ(disks.size(), 2u);
  QvtdDiskRecord& d = disks[1];
  auto parts = Partitions(d);
  ASSERT_EQ(parts.size(), 4u);
  void* p2 = Core().GetPartition(&d, 2, nullptr);

  QvtdPartitionRecord block;
  std::memset(&block, 0xEE, sizeof(block));
  char serial[128];
  uint8_t boot[512];
  int count = -1;
  ASSERT_EQ(Core().GetPartitionInfo(d.context, p2, 2, &block, &count, serial, boot), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(block.number, 2);
  EXPECT_EQ(block.fsType, 4);
  EXPECT_EQ(block.firstSector, parts[1].firstSector);
  // The disk's serial, then "|" and the model: what follows the bar is no part of it.
  EXPECT_EQ(std::string(serial), std::string(d.serial) + "|" + d.model);
  EXPECT_EQ(std::vector<uint8_t>(boot, boot + 512), FileBytes(path, parts[1].firstByte, 512));
  // By index when no handle is given; the whole disk by 0x2000.
  ASSERT_EQ(Core().GetPartitionInfo(d.context, nullptr, 3, &block, &count, serial, boot), 0);
  EXPECT_EQ(block.fsType, 512);
  ASSERT_EQ(Core().GetPartitionInfo(d.context, d.wholeDisk, 0x2000, &block, &count, serial, boot), 0);
  EXPECT_EQ(block.fsType, 0);
  EXPECT_EQ(block.size, d.size);
  EXPECT_EQ(std::vector<uint8_t>(boot, boot + 512), FileBytes(path, 0, 512));
  EXPECT_EQ(Core().GetPartitionInfo(d.context, nullptr, 9, &block, &count, serial, boot), -6);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Core().GetPartitionInfo(nullptr, nullptr, 1, nullptr, nullptr, nullptr, nullptr), -6);
  EXPECT_EQ(Core().GetPartitionInfo(nullptr, p2, 0, nullptr, nullptr, nullptr, nullptr), 0);

  int real = -1;
  EXPECT_EQ(Core().GetDiskBySerialNo(&d, d.serial, parts[1].firstSector, boot, &real), 0);
  EXPECT_EQ(real, 1);
  real = -1;
  EXPECT_EQ(Core().GetDiskBySerialNo(&d, serial, 0, nullptr, &real), 0) << "the text GetPartitionInfo gave";
  EXPECT_EQ(real, 1);
  real = -1;
  EXPECT_EQ(Core().GetDiskBySerialNo(&d, (std::string(d.serial) + "0").c_str(), 0, nullptr, &real), 1);
  EXPECT_EQ(Core().GetDiskBySerialNo(&disks[0], d.serial, 0, nullptr, &real), 1);
  EXPECT_EQ(real, -1);
  EXPECT_EQ(Core().GetDiskBySerialNo(&d, nullptr, 0, nullptr, &real), -87);
  // The serial belongs to the image: served alone it is disk 0 and still matches.
  auto alone = Serve({path});
  ASSERT_EQ(alone.size(), 1u);
  EXPECT_STREQ(alone[0].serial, d.serial);
  EXPECT_EQ(Core().GetDiskBySerialNo(&alone[0], d.serial, 0, nullptr, &real), 0);
  EXPECT_EQ(real, 0);

  EXPECT_EQ(Core().GetDiskDeepScanSize(d.context, d.wholeDisk), d.size);
  EXPECT_EQ(Core().GetDiskDeepScanSize(d.context, p2), parts[1].size);
  EXPECT_EQ(Core().GetDiskDeepScanSize(d.context, nullptr), d.size);
  EXPECT_EQ(Core().GetDiskDeepScanSize(nullptr, nullptr), 0u);
}

TEST_F(QvtdTest, HandlesOutliveReEnumerationAndReleasesFreeNothing)
{
  auto first = Serve({Image("fat16")});
  ASSERT_EQ(first.size(), 1u);
  void* h = Core().GetPartition(&first[0], 1, nullptr);
  auto again = Serve({Image("fat12"), Image("fat16")});
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[1].context, first[0].context) << "an unchanged image keeps its disk";
  EXPECT_EQ(again[1].index, 1);
  Serve({Image("gpt")});
  // The old handles still read, though the disk is no longer listed.
  std::vector<uint8_t> buf(512);
  EXPECT_EQ(Core().ReadPartition(h, first[0].context, 0, 512, buf.data()), 512);

  Core().ReleaseDirBuffer(nullptr);
  Core().ReleaseDirBuffer(first[0].context);
  Core().ReleaseDirBuffer(h);
  Core().ReleaseDirBuffer(buf.data());
  EXPECT_EQ(Core().ReleaseCacheBuffer(nullptr), 0);
  EXPECT_EQ(Core().ReleaseCacheBuffer(first[0].context), 0);
  EXPECT_EQ(Core().ReleaseCacheBuffer(h), 0);
  EXPECT_EQ(Core().ReleaseCacheBuffer(buf.data()), 0);
  EXPECT_EQ(Core().SetPartBitLocker(h, 1), 0);
  EXPECT_EQ(Core().InitBitLockerReader(), 0);
  EXPECT_EQ(Core().ReadPartition(h, first[0].context, 0, 512, buf.data()), 512);
  EXPECT_EQ(Core().ReadPartition(first[0].wholeDisk, nullptr, 0, 512, buf.data()), 512);

  EXPECT_EQ(Core().QvtdSetRecordDelay(5), 0);
  EXPECT_EQ(Core().QvtdSetRecordDelay(-1), -87);
  EXPECT_EQ(Core().QvtdSetRecordDelay(0), 0);
  EXPECT_EQ(Core().QvtdInjectFault(0), 0);
  EXPECT_EQ(Core().QvtdInjectFault(-1), -87);
}

// A private copy of the DLL reads the INI file beside it and logs beside it.
TEST_F(QvtdTest, IniBesideTheDllListsTheDisks)
{
  namespace fs = std::filesystem;
  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(Core().module, self, sizeof(self)), 0u);
  const std::string folder = kWork + "/ini-copy";
  fs::create_directories(folder);
  ASSERT_TRUE(CopyFileA(self, (folder + "/qvtdserver.dll").c_str(), FALSE));
  {
    std::ofstream ini(folder + "/qvtdserver.ini", std::ios::trunc);
    ini << "[disks]\r\nimage0=" << Image("fat12") << "\r\nimage1= " << Image("gpt") << " \r\n";
  }
  SetEnvironmentVariableA("QVTD_IMAGES", nullptr);
  SetEnvironmentVariableA("QVTD_LOG", nullptr);
  HMODULE copy = LoadLibraryA((folder + "/qvtdserver.dll").c_str());
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy, Core().module);
  auto enumDisks = reinterpret_cast<decltype(&::EnumDisks)>(reinterpret_cast<void*>(GetProcAddress(copy, "EnumDisks")));
  auto logPath = reinterpret_cast<decltype(&::QvtdLogPath)>(reinterpret_cast<void*>(GetProcAddress(copy, "QvtdLogPath")));
  ASSERT_TRUE(enumDisks && logPath);
  QvtdDiskRecord disks[4];
  EXPECT_EQ(enumDisks(4, disks), 2);
  EXPECT_EQ(disks[0].size, 1048576u);
  EXPECT_EQ(disks[1].size, 9437184u);
  char path[MAX_PATH];
  ASSERT_GT(logPath(path, sizeof(path)), 0);
  std::string log(path);
  for (char& c : log) c = c == '\\' ? '/' : char(std::tolower(static_cast<unsigned char>(c)));
  std::string want = folder + "/qvtdserver.log";
  for (char& c : want) c = char(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(log, want);
  FreeLibrary(copy);
}

// ---- log and character sets ----

std::vector<std::string> Lines(const std::string& path)
{
  std::ifstream f(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(f, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TEST_F(QvtdTest, LogLinesAreAppendedWholeFromManyThreads)
{
  const std::string log = kWork + "/core.log";
  std::filesystem::create_directories(kWork);
  std::filesystem::remove(log);
  SetEnvironmentVariableA("QVTD_LOG", log.c_str());
  char path[512];
  EXPECT_EQ(Core().QvtdLogPath(path, sizeof(path)), int(log.size()));
  EXPECT_EQ(std::string(path), log);
  EXPECT_EQ(Core().QvtdLogPath(path, int(log.size())), -122);

  EXPECT_EQ(Core().InitLog(), 0);
  Core().WriteLog(0, "Intermediate", "ServiceInitialize", 42, "Intermediate Build Time %s %d %llu", "Jan", 7,
                  1ull << 40);
  Core().WriteLogW(-2, "Src", "Fn", 9, L"wide %s %d", L"text", -3);
  Core().WriteLog(-1, nullptr, nullptr, 1, "two\nlines\n");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 25; ++i) Core().WriteLog(0, "T", "Worker", t, "thread %d line %d", t, i);
    });
  }
  for (auto& th : threads) th.join();
  SetEnvironmentVariableA("QVTD_LOG", nullptr);

  const auto lines = Lines(log);
  ASSERT_EQ(lines.size(), 4u + 100u);
  EXPECT_EQ(lines[1], "0\tIntermediate\tServiceInitialize\t42\tIntermediate Build Time Jan 7 1099511627776");
  EXPECT_EQ(lines[2], "-2\tSrc\tFn\t9\twide text -3");
  EXPECT_EQ(lines[3], "-1\t\t\t1\ttwo lines");
  int perThread[4] = {};
  for (size_t i = 4; i < lines.size(); ++i) {
    int t = -1, n = -1, line = -1;
    ASSERT_EQ(std::sscanf(lines[i].c_str(), "0\tT\tWorker\t%d\tthread %d line %d", &line, &t, &n), 3) << lines[i];
    ASSERT_TRUE(t >= 0 && t < 4 && t == line);
    EXPECT_EQ(n, perThread[t]++) << "lines of one thread keep their order";
  }
}

TEST_F(QvtdTest, CharSetTransfer)
{
  wchar_t out[16];
  EXPECT_EQ(Core().CharSetTransfer(nullptr, "README  TXT", 11, out, 24), 11);
  EXPECT_EQ(std::wstring(out), L"README  TXT");
  EXPECT_EQ(Core().CharSetTransfer(nullptr, "README", 6, out, 8), 3);
  EXPECT_EQ(std::wstring(out), L"REA");
  EXPECT_EQ(Core().CharSetTransfer(nullptr, "ABC", -1, out, 32), 3);
  EXPECT_EQ(Core().CharSetTransfer(nullptr, "", 0, out, 32), 0);
  EXPECT_EQ(out[0], L'\0');
  // Code page 437 (the OEM code page of an English system) by context.
  const char umlaut[] = {char(0x81), 'B', 0};
  EXPECT_EQ(Core().CharSetTransfer(reinterpret_cast<void*>(uintptr_t(437)), umlaut, 2, out, 32), 2);
  EXPECT_EQ(out[0], wchar_t(0x00FC));
  EXPECT_EQ(Core().CharSetTransfer(nullptr, "A", 1, nullptr, 32), -87);
  EXPECT_EQ(Core().CharSetTransfer(nullptr, "A", 1, out, 1), -87);
  EXPECT_EQ(Core().CharSetTransfer(nullptr, nullptr, 1, out, 32), -87);
  // Back to the code page (a negative target size): the guessed initial of a deleted name.
  char back[8] = {};
  const wchar_t u[] = {0x00FC, 0};
  EXPECT_EQ(Core().CharSetTransfer(reinterpret_cast<void*>(uintptr_t(437)), reinterpret_cast<const char*>(u), 2,
                                   reinterpret_cast<wchar_t*>(back), -int(sizeof back)), 1);
  EXPECT_EQ(uint8_t(back[0]), 0x81);
  const wchar_t cjk[] = {0x6570, 0};  // 数: two bytes in code page 936
  EXPECT_EQ(Core().CharSetTransfer(reinterpret_cast<void*>(uintptr_t(936)), reinterpret_cast<const char*>(cjk), -1,
                                   reinterpret_cast<wchar_t*>(back), -int(sizeof back)), 2);
  EXPECT_EQ(uint8_t(back[0]), 0xCA);
}

}  // namespace
