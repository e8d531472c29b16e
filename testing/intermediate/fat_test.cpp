// FAT and exFAT: the name, time and entry functions, the bitmaps, the tree the scans
// build from the fixture images, renames across clusters, and the fault cases (read
// errors through the retry handshake, a stop while paused, a fault in the core, broken
// images).
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FATService.h"
#include "CoreLibrary.h"
#include "Enumeration.h"
#include "FATTask.h"
#include "Interface.h"
#include "test_support.h"

namespace {

const std::string kFat = std::string(RECOVERY_IMAGES_DIR) + "/fat/";

uint16_t Date(int year, int month, int day) { return uint16_t((year - 1980) << 9 | month << 5 | day); }

TEST(FatNames, DosTimesCountLeapYearsAndBoundTheMonth) {
  EXPECT_EQ(DosTimeToUnix(Date(1980, 1, 1), 0), 315532800u);
  EXPECT_EQ(DosTimeToUnix(Date(1980, 3, 1), 0) - DosTimeToUnix(Date(1980, 1, 1), 0), 60u * 86400);
  EXPECT_EQ(DosTimeToUnix(Date(2023, 11, 14), uint16_t(22 << 11 | 13 << 5 | 10)), 1700000000u);
  // Months 0 and 13-15 come from broken entries: they must stay inside the year.
  for (int month : {0, 13, 14, 15}) {
    const uint64_t t = DosTimeToUnix(uint16_t((2000 - 1980) << 9 | month << 5 | 1), 0);
    EXPECT_GE(t, DosTimeToUnix(Date(2000, 1, 1), 0)) << month;
    EXPECT_LE(t, DosTimeToUnix(Date(2000, 12, 1), 0)) << month;
  }
}

TEST(FatNames, ShortNamesChecksumsAndCaseBits) {
  struct Case {
    const char* name;
    bool valid;
  } cases[] = {{"READ    TXT", true}, {"RE AD   TXT", false}, {"READ?   TXT", false}, {"README  T X", false},
               {".          ", true}, {"..         ", true},  {"A.B     TXT", false}, {"\xE5OTES   TXT", true}};
  for (const Case& c : cases) EXPECT_EQ(IsValidShortName(reinterpret_cast<const uint8_t*>(c.name)), c.valid) << c.name;
  // The checksum long-name entries carry for "LONGNA~1TXT".
  EXPECT_EQ(ShortNameChecksum(reinterpret_cast<const uint8_t*>("LONGNA~1TXT")), 0xF4);
  uint8_t entry[32] = {};
  std::memcpy(entry, "NOTES   TXT", 11);
  EXPECT_EQ(ShortNameToText(entry, nullptr, nullptr), L"NOTES.TXT");
  entry[12] = 0x18;  // lower-case base and extension, as Windows and mtools write them
  EXPECT_EQ(ShortNameToText(entry, nullptr, nullptr), L"notes.txt");
  std::memcpy(entry, "MAKEFILE   ", 11);
  entry[12] = 0;
  EXPECT_EQ(ShortNameToText(entry, nullptr, nullptr), L"MAKEFILE");
}

TEST(FatNames, ExFatEntryChecksAcceptEveryValidAttributeWord) {
  uint8_t file[32] = {0x85, 2};
  for (uint16_t attributes : {0x00, 0x01, 0x10, 0x20, 0x21, 0x30, 0x37}) {
    file[4] = uint8_t(attributes);
    EXPECT_TRUE(IsExFatFileEntry(file)) << attributes;
  }
  file[4] = 0x40;
  EXPECT_FALSE(IsExFatFileEntry(file));
  file[4] = 0x20;
  file[1] = 1;
  EXPECT_FALSE(IsExFatFileEntry(file)) << "a set needs a stream and a name";
  uint8_t stream[32] = {0xC0, 3};
  stream[8] = 10;   // valid data length
  stream[24] = 10;  // data length
  EXPECT_TRUE(IsExFatStreamEntry(stream));
  stream[8] = 11;
  EXPECT_FALSE(IsExFatStreamEntry(stream)) << "more valid data than data";
  uint8_t name[32] = {0xC1, 0, 'a', 0};
  EXPECT_TRUE(IsExFatNameEntry(name));
  name[4] = ':';
  EXPECT_FALSE(IsExFatNameEntry(name));
}

TaskParams Fat32Params() {
  TaskParams params;
  params.taskId = 1;
  params.partitionType = kFsFat32;
  return params;
}

// Exposes the task's protected parts to the tests.
class ProbeTask : public CStorage::CFATScanTask {
 public:
  using CFATScanTask::CFATScanTask;
  using CFATScanTask::NewBitmap;
  using CFATScanTask::Report;
  using CFATScanTask::m_limit;
  using CFATScanTask::m_service;
  using CFATScanTask::m_visited;
};

TEST(FatTask, BitmapsHoldEveryClusterNumberBelowTheLimit) {
  for (uint32_t limit : {3u, 8u, 9u, 10u, 4087u, 65527u}) {
    std::vector<uint8_t> bits = ProbeTask::NewBitmap(limit);
    ASSERT_GE(bits.size() * 8, limit) << limit;
    EXPECT_EQ(bits[0] & 3, 3) << "clusters 0 and 1 are no data clusters";
    EXPECT_EQ((bits[(limit - 1) / 8] >> ((limit - 1) % 8)) & 1, limit - 1 < 2 ? 1 : 0) << limit;
    for (uint32_t c = limit; c < bits.size() * 8; ++c) EXPECT_EQ((bits[c / 8] >> (c % 8)) & 1, 1) << limit;
  }
}

TEST(FatTask, RenamingMovesOnlyTheRenamedEntries) {
  ProbeTask task(Fat32Params());
  task.ScanInit();
  task.Report(L"from", 10, 2, 0, 0, 0x10, false);
  task.Report(L"to", 11, 2, 0, 0, 0x10, false);
  task.Report(L"LONGNA~1.TXT", 20, 10, 5, 0, 0x20, false);
  task.Report(L"other.txt", 21, 10, 6, 0, 0x20, false);
  task.RenameEntries(L"LONGNA~1.TXT", L"long name.txt", 10, 11);
  CPathEntry* from = (*task.GetIdCell(10))->AsPath();
  CPathEntry* to = (*task.GetIdCell(11))->AsPath();
  ASSERT_TRUE(from && to);
  ASSERT_EQ(from->childCount, 1u);
  EXPECT_STREQ(CFileEntry::FromChildNode(from->childList.First())->name, L"other.txt");
  ASSERT_EQ(to->childCount, 1u);
  CFileEntry* moved = CFileEntry::FromChildNode(to->childList.First());
  EXPECT_STREQ(moved->name, L"long name.txt");
  EXPECT_EQ(moved->parentId, 11u);
  EXPECT_EQ(std::wstring(moved->extensionNode.text, size_t(moved->extensionNode.length)), L"txt");
  task.Close();
}

// A task over a FAT32 geometry of 512-byte clusters with folders 10 and 20 listed.
void PrepareSplitProbe(ProbeTask& task) {
  uint8_t boot[512] = {};
  boot[0x0B] = 0x00, boot[0x0C] = 0x02, boot[0x0D] = 1;
  task.m_service.reset(new CFAT32Service(nullptr, nullptr, boot, 0, 100));
  task.m_limit = 100;
  task.m_visited = ProbeTask::NewBitmap(100);
  task.ScanInit();
  task.Report(L"OLDDIR", 10, 2, 0, 0, 0x10, true);
  task.Report(L"OTHER", 20, 2, 0, 0, 0x10, true);
}

// One cluster of a deleted walk, its entries given; fill: skipped entries up to the end.
FatDirRecord* SplitCluster(uint32_t cluster, const std::vector<std::vector<uint8_t>>& entries, bool fill) {
  auto* record = new FatDirRecord;
  record->firstCluster = cluster;
  record->parentId = cluster;
  record->clusterCount = 1;
  record->bytes.assign(512, 0);
  const size_t start = fill ? 16 - entries.size() : 0;
  for (size_t i = 0; fill && i < start; ++i) {
    uint8_t* e = record->bytes.data() + i * 32;  // deleted labels
    std::memset(e, 'X', 11);
    e[0] = 0xE5;
    e[11] = 0x08;
  }
  for (size_t i = 0; i < entries.size(); ++i) std::memcpy(record->bytes.data() + (start + i) * 32, entries[i].data(), 32);
  return record;
}

std::vector<uint8_t> LongNamePart(uint8_t sequence, const std::wstring& chars, uint8_t checksum) {
  std::vector<uint8_t> e(32, 0);
  e[0] = sequence;
  e[11] = 0x0F;
  e[13] = checksum;
  static const int kPlaces[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (size_t i = 0; i < 13; ++i) {
    const uint16_t c = i < chars.size() ? uint16_t(chars[i]) : i == chars.size() ? 0 : 0xFFFF;
    e[kPlaces[i]] = uint8_t(c);
    e[kPlaces[i] + 1] = uint8_t(c >> 8);
  }
  return e;
}

std::vector<uint8_t> ShortFile(const char* name11, bool deleted) {
  std::vector<uint8_t> e(32, 0);
  std::memcpy(e.data(), name11, 11);
  if (deleted) e[0] = 0xE5;
  e[11] = 0x20;
  e[26] = 30;
  e[28] = 100;
  return e;
}

TEST(FatTask, RunCutAtADirectoryEndIsEndedByAShortEntryElsewhere) {
  // Cluster 10 ends with the one long-name entry of a name whose short entry opens
  // cluster 20: no neighbour, so only the pass after the walk can join them.
  struct Case {
    bool deleted;
    const wchar_t* longName;
    const wchar_t* reported;  // the short entry's name before the pass
    const wchar_t* expected;  // its name after it
  } cases[] = {
      {false, L"longnames.txt", L"LONGNA~1.TXT", L"longnames.txt"},
      {true, L"longnames.txt", L"_ONGNA~1.TXT", L"longnames.txt"},
      // The checksum agrees but the visible name does not: left as it was.
      {true, L"lxyzabcde.txt", L"_ONGNA~1.TXT", L"_ONGNA~1.TXT"},
  };
  for (const Case& c : cases) {
    ProbeTask task(Fat32Params());
    PrepareSplitProbe(task);
    const uint8_t checksum = ShortNameChecksum(reinterpret_cast<const uint8_t*>("LONGNA~1TXT"));
    task.ParseDirectory(SplitCluster(10, {LongNamePart(c.deleted ? 0xE5 : 0x41, c.longName, checksum)}, true), true);
    task.ParseDirectory(SplitCluster(20, {ShortFile("LONGNA~1TXT", c.deleted)}, false), true);

    CPathEntry* first = (*task.GetIdCell(10))->AsPath();
    CPathEntry* other = (*task.GetIdCell(20))->AsPath();
    ASSERT_TRUE(first && other);
    ASSERT_EQ(other->childCount, 1u) << c.longName;
    EXPECT_STREQ(CFileEntry::FromChildNode(other->childList.First())->name, c.reported);
    task.TimeResolvePending();
    const bool renamed = std::wcscmp(c.expected, c.reported) != 0;
    CPathEntry* holder = renamed ? first : other;
    ASSERT_EQ(holder->childCount, 1u) << c.longName << (c.deleted ? " deleted" : "");
    CFileEntry* file = CFileEntry::FromChildNode(holder->childList.First());
    EXPECT_STREQ(file->name, c.expected);
    EXPECT_EQ(file->parentId, renamed ? 10u : 20u);
    if (renamed) EXPECT_EQ(other->childCount, 0u);
    task.Close();
  }
}

TEST(FatTask, DeletedRunsUnderOneChecksumJoinAcrossDirectories) {
  // "longnamesfile.txt": its second part ends cluster 10, its first part and the short
  // entry open cluster 20, which reported it under the first part alone.
  ProbeTask task(Fat32Params());
  PrepareSplitProbe(task);
  const uint8_t checksum = ShortNameChecksum(reinterpret_cast<const uint8_t*>("LONGNA~1TXT"));
  task.ParseDirectory(SplitCluster(10, {LongNamePart(0xE5, L".txt", checksum)}, true), true);
  task.ParseDirectory(
      SplitCluster(20, {LongNamePart(0xE5, L"longnamesfile", checksum), ShortFile("LONGNA~1TXT", true)}, false), true);
  CPathEntry* first = (*task.GetIdCell(10))->AsPath();
  CPathEntry* other = (*task.GetIdCell(20))->AsPath();
  ASSERT_TRUE(first && other);
  ASSERT_EQ(other->childCount, 1u);
  EXPECT_STREQ(CFileEntry::FromChildNode(other->childList.First())->name, L"longnamesfile");
  task.TimeResolvePending();
  ASSERT_EQ(first->childCount, 1u);
  CFileEntry* file = CFileEntry::FromChildNode(first->childList.First());
  EXPECT_STREQ(file->name, L"longnamesfile.txt");
  EXPECT_EQ(file->parentId, 10u);
  EXPECT_EQ(other->childCount, 0u);
  task.Close();
}

TEST(FatTask, HeadsCutAlikeUnderOneFolderGetTheirOwnEnds) {
  // Two names whose first parts alike ("longnamesfile") open clusters 20 and 40 of one
  // folder; their ends close clusters 10 and 30. Each head takes its own end only.
  ProbeTask task(Fat32Params());
  PrepareSplitProbe(task);
  task.Report(L"THIRD", 30, 2, 0, 0, 0x10, true);
  const uint8_t txt = ShortNameChecksum(reinterpret_cast<const uint8_t*>("LONGNA~1TXT"));
  const uint8_t doc = ShortNameChecksum(reinterpret_cast<const uint8_t*>("LONGNA~2DOC"));
  ASSERT_NE(txt, doc);
  task.ParseDirectory(SplitCluster(10, {LongNamePart(0xE5, L".txt", txt)}, true), true);
  task.ParseDirectory(SplitCluster(30, {LongNamePart(0xE5, L".doc", doc)}, true), true);
  for (uint32_t cluster : {20u, 40u}) {
    const bool first = cluster == 20;
    FatDirRecord* head = SplitCluster(cluster, {LongNamePart(0xE5, L"longnamesfile", first ? txt : doc),
                                                ShortFile(first ? "LONGNA~1TXT" : "LONGNA~2DOC", true)}, false);
    head->parentId = 20;
    head->bytes[26 + 32] = uint8_t(first ? 50 : 60);  // first clusters of their own
    task.ParseDirectory(head, true);
  }
  CPathEntry* other = (*task.GetIdCell(20))->AsPath();
  ASSERT_EQ(other->childCount, 2u);
  task.TimeResolvePending();
  for (auto [folder, name] : {std::pair<uint64_t, const wchar_t*>{10, L"longnamesfile.txt"}, {30, L"longnamesfile.doc"}}) {
    CPathEntry* holder = (*task.GetIdCell(folder))->AsPath();
    ASSERT_EQ(holder->childCount, 1u) << folder;
    EXPECT_STREQ(CFileEntry::FromChildNode(holder->childList.First())->name, name);
  }
  EXPECT_EQ(other->childCount, 0u);
  task.Close();
}

class ExFatProbe : public CExFATScanFormattedTask {
 public:
  using CExFATScanFormattedTask::CExFATScanFormattedTask;
  using CExFATScanFormattedTask::Report;
  using CExFATScanFormattedTask::NewBitmap;
  using CFATScanTask::m_limit;
  using CFATScanTask::m_service;
  using CFATScanTask::m_visited;
};

// The entries of a deleted exFAT set of one file: file, stream, names.
std::vector<std::vector<uint8_t>> DeletedExFatSet(const std::wstring& name, uint32_t first, uint32_t size) {
  const uint32_t names = uint32_t(name.size() + 14) / 15;
  std::vector<uint8_t> set((names + 2) * 32, 0);
  set[0] = 0x85, set[1] = uint8_t(names + 1), set[4] = 0x20;
  uint8_t* s = &set[32];
  s[0] = 0xC0, s[1] = 3, s[3] = uint8_t(name.size());
  std::memcpy(s + 8, &size, 4), std::memcpy(s + 20, &first, 4), std::memcpy(s + 24, &size, 4);
  for (uint32_t k = 0; k < names; ++k) {
    uint8_t* n = &set[(k + 2) * 32];
    n[0] = 0xC1;
    for (uint32_t c = 0; c < 15 && k * 15 + c < name.size(); ++c) {
      n[2 + 2 * c] = uint8_t(name[k * 15 + c]);
      n[3 + 2 * c] = uint8_t(name[k * 15 + c] >> 8);
    }
  }
  const uint16_t checksum = ExFatSetChecksum(set.data(), names + 2);
  std::memcpy(&set[2], &checksum, 2);
  std::vector<std::vector<uint8_t>> entries;
  for (size_t at = 0; at < set.size(); at += 32) {
    entries.emplace_back(set.begin() + ptrdiff_t(at), set.begin() + ptrdiff_t(at + 32));
    entries.back()[0] &= 0x7F;  // deleted: the in-use bits cleared, the checksum kept
  }
  return entries;
}

TEST(ExFatTask, SetCutAtAClusterEndJoinsItsNamesElsewhereByTheSetChecksum) {
  // Cluster 10 ends with the file and stream entries of a deleted set; its three name
  // entries open cluster 40. Cluster 30 opens with three name entries of another set.
  TaskParams params;
  params.taskId = 1;
  params.partitionType = kFsExFat;
  ExFatProbe task(params);
  uint8_t boot[512] = {};
  boot[108] = 9;  // 512-byte sectors, one per cluster
  task.m_service.reset(new CExFATService(nullptr, nullptr, boot, 0, 100));
  task.m_limit = 100;
  task.m_visited = ExFatProbe::NewBitmap(100);
  task.ScanInit();
  task.Report(L"OLDDIR", 10, task.RootId(), 0, 0, 0x10, true);
  const std::wstring name = L"a deleted name cut at the end.txt";
  auto set = DeletedExFatSet(name, 50, 1000);
  auto decoy = DeletedExFatSet(L"another name of the same shape.txt", 60, 2000);
  auto cluster = [](uint32_t number, std::vector<std::vector<uint8_t>> entries, bool atEnd) {
    auto* record = new FatDirRecord;
    record->firstCluster = number;
    record->parentId = number;
    record->bytes.assign(512, 0);
    const size_t start = atEnd ? 16 - entries.size() : 0;
    for (size_t i = 0; i < start; ++i) record->bytes[i * 32] = 0x03;  // entries of no set
    for (size_t i = 0; i < entries.size(); ++i) std::memcpy(&record->bytes[(start + i) * 32], entries[i].data(), 32);
    return record;
  };
  task.ParseDirectory(cluster(10, {set[0], set[1]}, true), true);
  task.ParseDirectory(cluster(40, {set[2], set[3], set[4]}, false), true);
  task.ParseDirectory(cluster(30, {decoy[2], decoy[3], decoy[4]}, false), true);
  CPathEntry* folder = (*task.GetIdCell(10))->AsPath();
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->childCount, 0u) << "the cut set waits for the pass";
  task.TimeResolvePending();
  ASSERT_EQ(folder->childCount, 1u);
  CFileEntry* file = CFileEntry::FromChildNode(folder->childList.First());
  EXPECT_STREQ(file->name, name.c_str());
  EXPECT_TRUE(file->IsDeleted());
  EXPECT_EQ(file->size, 1000u);
  EXPECT_EQ(task.GetEntryById(60), nullptr) << "names alone, without their set, show nothing";
  task.Close();
}

// ---------------------------------------------------------------------------------
// Scans of the fixture images

class FatScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(CoreModule(), nullptr);
    if (!CoreFn<void*>("FATFormattedScanRoutine")) GTEST_SKIP() << "the stand-in core has no FAT routine";
    Reset();
  }
  void TearDown() override {
    for (int id = 1; id <= 20; ++id) m_storage.CloseScanTask(id);
    Reset();
  }
  static void Reset() {
    CoreFn<int(__cdecl*)(int)>("QvtdSetRecordDelay")(0);
    CoreFn<int(__cdecl*)(int)>("QvtdInjectFault")(0);
    CoreFn<int(__cdecl*)(int, uint64_t, uint64_t)>("QvtdInjectBadRange")(-1, 0, 0);
  }
  // Starts a scan of the image as disk 0, partition 1; the task, or null.
  std::shared_ptr<CStorage::CScanTask> Start(const std::string& image, bool formatted = false) {
    CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(image.c_str());
    if (m_storage.Initialize() != 1) return nullptr;
    m_storage.SetCloseTimeoutForTest(5000);
    int32_t id = 0;
    const int32_t started = formatted ? m_storage.StartScanFormattedTask(0, 1, 0, &id)
                                      : m_storage.StartScanTask(0, 1, 0, &id);
    if (started != 0) return nullptr;
    m_id = id;
    return m_storage.FindTask(id);
  }
  std::shared_ptr<CStorage::CScanTask> Scan(const std::string& image, bool formatted = false) {
    std::shared_ptr<CStorage::CScanTask> task = Start(image, formatted);
    if (!task || !WaitFor([&] { return task->IsFinished(); }, 60000)) return nullptr;
    return task;
  }
  static CFileEntry* Child(CPathEntry* folder, const wchar_t* name) {
    if (!folder) return nullptr;
    for (CList* p = folder->childList.First(); !folder->childList.IsTail(p); p = p->next)
      if (std::wcscmp(CFileEntry::FromChildNode(p)->name, name) == 0) return CFileEntry::FromChildNode(p);
    return nullptr;
  }
  static CPathEntry* Root(CStorage::CScanTask* task) {
    CFileEntry* root = *task->GetIdCell(task->RootId());
    return root ? root->AsPath() : nullptr;
  }
  // A copy of a fixture image in the work folder, changed by patch.
  static std::string Copy(const std::string& name, const std::string& as,
                          const std::function<void(std::vector<uint8_t>&)>& patch) {
    const std::wstring from = FromUtf8(kFat + name + ".img");
    CreateDirectoryW(FromUtf8(RECOVERY_TEST_WORK_DIR).c_str(), nullptr);
    const std::string to = std::string(RECOVERY_TEST_WORK_DIR) + "/" + as + ".img";
    HANDLE in = CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return std::string();
    std::vector<uint8_t> bytes(GetFileSize(in, nullptr));
    DWORD got = 0;
    ReadFile(in, bytes.data(), DWORD(bytes.size()), &got, nullptr);
    CloseHandle(in);
    patch(bytes);
    HANDLE out = CreateFileW(FromUtf8(to).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return std::string();
    DWORD written = 0;
    WriteFile(out, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(out);
    return to;
  }

  CStorage m_storage;
  int32_t m_id = 0;
};

TEST_F(FatScanTest, ThresholdVolumeIsFat12AndEmptyFilesStayListed) {
  // 4128 sectors, 512 root entries, one sector per cluster: 4071 clusters once the root
  // directory's sectors are left out.
  std::shared_ptr<CStorage::CScanTask> task = Scan(kFat + "fat12-files.img");
  ASSERT_NE(task, nullptr);
  auto* fat = static_cast<CStorage::CFATScanTask*>(task.get());
  EXPECT_NE(dynamic_cast<CFAT12Service*>(fat->Service()), nullptr);
  EXPECT_EQ(fat->VolumeLabel(), L"FILES12");
  CPathEntry* root = Root(task.get());
  ASSERT_NE(root, nullptr);
  EXPECT_NE(Child(ChildFolderOf(Child(root, L"DOCS")), L"PHOTO.BIN"), nullptr);
  CFileEntry* guessed = Child(root, L"_LD.TXT");
  ASSERT_NE(guessed, nullptr) << "a deleted short name without long name shows '_' for its initial";
  EXPECT_TRUE(guessed->IsDeleted());
  ASSERT_EQ(m_storage.CloseScanTask(m_id), 0);

  // An empty file has cluster 0, which is the FAT16 root's id: it must be listed anyway.
  task = Scan(kFat + "fat16-files.img");
  ASSERT_NE(task, nullptr);
  CFileEntry* empty = Child(Root(task.get()), L"empty.txt");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->size, 0u);
  EXPECT_TRUE(task->VirtualRoot()->IsCounted()) << "finished only once the indexer and PostScan are done";
}

TEST_F(FatScanTest, ReadErrorsGoThroughTheRetryHandshake) {
  static std::atomic<int> calls{0};
  calls = 0;
  // The core is bound by ServiceInitialize; the handler goes to it afterwards.
  CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")((kFat + "fat32-files.img").c_str());
  ASSERT_EQ(m_storage.Initialize(), 1);
  ASSERT_EQ(m_storage.SetScanErrorHandler(reinterpret_cast<void*>(+[](int, uint64_t, uint32_t, uint32_t) {
              // The host repairs the medium and asks for the read again.
              ++calls;
              CoreFn<int(__cdecl*)(int, uint64_t, uint64_t)>("QvtdInjectBadRange")(-1, 0, 0);
            })),
            0);
  CoreFn<int(__cdecl*)(int, uint64_t, uint64_t)>("QvtdInjectBadRange")(0, 0, 1 << 20);
  m_storage.RetryWork(0, 0);
  int32_t id = 0;
  ASSERT_EQ(m_storage.StartScanTask(0, 1, 0, &id), 0);
  m_id = id;
  std::shared_ptr<CStorage::CScanTask> task = m_storage.FindTask(id);
  ASSERT_TRUE(WaitFor([&] { return task->IsFinished(); }, 60000));
  EXPECT_GE(calls.load(), 1);
  CPathEntry* docs = ChildFolderOf(Child(Root(task.get()), L"docs"));
  EXPECT_NE(Child(docs, L"a.bin"), nullptr) << "the retried read gave the directory";
  m_storage.SetScanErrorHandler(nullptr);
}

TEST_F(FatScanTest, StopWorkWhilePausedEndsTheFormattedScanAtOnce) {
  // The walk waits before its second directory sector: the scan is known to be running.
  UniqueHandle held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(held && release);
  ASSERT_EQ(CoreFn<int(__cdecl*)(int, void*, void*)>("QvtdHoldBeforeRecord")(2, held.Get(), release.Get()), 0);
  std::shared_ptr<CStorage::CScanTask> task = Start(kFat + "fat16-files.img", true);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(WaitForSingleObject(held.Get(), 60000), WAIT_OBJECT_0);
  EXPECT_FALSE(task->IsFinished());
  task->PauseWork(1);
  SetEvent(release.Get());
  ASSERT_TRUE(EndsWithin([&] { EXPECT_EQ(m_storage.StopWork(m_id), 1); }, 60000)) << "StopWork hangs on a paused scan";
  EXPECT_TRUE(task->IsFinished());
}

TEST_F(FatScanTest, FaultInTheCoreFinishesTheScan) {
  CoreFn<int(__cdecl*)(int)>("QvtdInjectFault")(1);
  std::shared_ptr<CStorage::CScanTask> task = Scan(kFat + "fat16-files.img", true);
  ASSERT_NE(task, nullptr) << "the scan ends, the process lives";
  EXPECT_EQ(task->VirtualRoot()->childCount, 2u);
  EXPECT_NE(Child(Root(task.get()), L"last.bin"), nullptr) << "what the walk found before the fault stays";
}

TEST_F(FatScanTest, BrokenImagesEndInACleanFinish) {
  struct Case {
    const char* image;
    const char* as;
    std::function<void(std::vector<uint8_t>&)> patch;
  } cases[] = {
      {"fat32-files", "fat-zero-bps", [](std::vector<uint8_t>& b) { b[11] = b[12] = 0; }},
      {"fat32-files", "fat-zero-spc", [](std::vector<uint8_t>& b) { b[13] = 0; }},
      {"fat32-files", "fat-root-past-end", [](std::vector<uint8_t>& b) { std::memcpy(&b[0x2C], "\xF0\xFF\xFF\x0F", 4); }},
      {"fat32-files", "fat-truncated", [](std::vector<uint8_t>& b) { b.resize(b.size() / 3); }},
      {"fat16-files", "fat-fat-scribbled",
       [](std::vector<uint8_t>& b) {
         for (size_t i = 512; i < 512 + 64 * 512; ++i) b[i] = uint8_t(i * 131);
       }},
      {"fat12-files", "fat-root-scribbled",
       [](std::vector<uint8_t>& b) {
         for (size_t i = 25 * 512; i < 57 * 512; ++i) b[i] = uint8_t(i * 7 + 1);
       }},
      {"exfat-files", "exfat-shift", [](std::vector<uint8_t>& b) { b[2048 * 512 + 109] = 30; }},
      {"exfat-files", "exfat-truncated", [](std::vector<uint8_t>& b) { b.resize(2048 * 512 + 300 * 1024); }},
  };
  for (const Case& c : cases) {
    const std::string image = Copy(c.image, c.as, c.patch);
    ASSERT_FALSE(image.empty()) << c.as;
    for (bool formatted : {false, true}) {
      CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(image.c_str());
      ASSERT_EQ(m_storage.Initialize(), 1);
      int32_t id = 0;
      const int32_t started = formatted ? m_storage.StartScanFormattedTask(0, 1, 0, &id)
                                        : m_storage.StartScanTask(0, 1, 0, &id);
      if (started == -87) {
        // The core no longer knows the volume as FAT: no task. The scan itself must
        // refuse such a boot sector too, not divide by its zeros.
        DiskRecord disk;
        ASSERT_TRUE(m_storage.GetDisk(0, &disk));
        uint16_t type = 0;
        TaskParams params;
        params.taskId = 99;
        params.partitionType = kFsFat32;
        params.diskContext = disk.diskContext;
        params.partitionHandle = Core::GetPartition(&disk, 1, &type).value_or(nullptr);
        // A bare image whose boot sector is refused has no partition: the disk is the volume.
        if (!params.partitionHandle) params.partitionHandle = disk.wholeDiskHandle;
        std::unique_ptr<CStorage::CFATScanTask> direct;
        if (std::strncmp(c.image, "exfat", 5) == 0) {
          direct.reset(new CExFATScanFormattedTask(params));
        } else {
          direct.reset(new ProbeTask(params));
        }
        direct->ScanInit();
        EXPECT_NE(direct->ScanVolume(nullptr, nullptr, 512), 0) << c.as;
        direct->Close();
        continue;
      }
      ASSERT_EQ(started, 0) << c.as;
      m_id = id;
      std::shared_ptr<CStorage::CScanTask> task = m_storage.FindTask(id);
      ASSERT_TRUE(WaitFor([&] { return task->IsFinished(); }, 60000)) << c.as << (formatted ? " formatted" : "");
      EXPECT_EQ(task->VirtualRoot()->childCount, 2u) << c.as;
      EXPECT_EQ(m_storage.CloseScanTask(m_id), 0) << c.as;
    }
  }
}

}  // namespace

namespace {

// A file whose clusters cannot be read is a failure, and nothing is left at its target:
// through the core (normal scan) and through the task's own writer (formatted scan).
TEST_F(FatScanTest, UnreadableFileDataFailsAndLeavesNoTarget) {
  struct Case {
    const char* image;
    bool formatted;
    const wchar_t* folder;
    const wchar_t* file;
  } cases[] = {{"fat16-files", false, nullptr, L"last.bin"},
               {"fat32-reformatted", true, L"holiday", L"sea view.jpg"},
               {"exfat-files", false, L"DCIM", L"IMG_0001.JPG"}};
  const std::wstring target = FromUtf8(RECOVERY_TEST_WORK_DIR) + L"\\fat-unreadable";
  CreateDirectoryW(FromUtf8(RECOVERY_TEST_WORK_DIR).c_str(), nullptr);
  CreateDirectoryW(target.c_str(), nullptr);
  for (const Case& c : cases) {
    // First scan: where the file lies. Second scan: with one sector of its data bad.
    uint64_t bad = 0;
    for (int pass = 0; pass < 2; ++pass) {
      std::shared_ptr<CStorage::CScanTask> task = Scan(kFat + c.image + ".img", c.formatted);
      ASSERT_NE(task, nullptr) << c.image;
      auto* fat = static_cast<CStorage::CFATScanTask*>(task.get());
      // The file: under its folder (anywhere for the formatted scan) or the root.
      CFileEntry* entry = nullptr;
      std::vector<CPathEntry*> walk{task->VirtualRoot()};
      while (!walk.empty() && !entry) {
        CPathEntry* at = walk.back();
        walk.pop_back();
        for (CList* p = at->childList.First(); !at->childList.IsTail(p); p = p->next) {
          CFileEntry* child = CFileEntry::FromChildNode(p);
          if (CPathEntry* sub = child->AsPath()) walk.push_back(sub);
          if (std::wcscmp(child->name, c.file) == 0 && (!c.folder || std::wcscmp(at->name, c.folder) == 0))
            entry = child;
        }
      }
      ASSERT_NE(entry, nullptr) << c.image << " pass " << pass;
      const std::wstring name = std::wstring(L"out-") + c.file;
      const std::wstring path = target + L"\\" + name;
      DeleteFileW(path.c_str());
      const int32_t result = fat->RecoverOneFile(target.c_str(), entry->ownId, name.c_str());
      if (pass == 0) {
        ASSERT_EQ(result, 0) << c.image << " reads when readable";
        EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
        DeleteFileW(path.c_str());
        CFATService* service = fat->Service();
        const uint64_t heap =
            (service->DataStartSector() + 2ull * service->SectorsPerCluster()) * service->BytesPerSector();
        const uint64_t partition = std::string(c.image) == "exfat-files" ? 2048ull * 512 : 0;  // MBR disk
        bad = partition + heap + (entry->ownId - 2) * service->ClusterBytes() + service->ClusterBytes();
      } else {
        EXPECT_NE(result, 0) << c.image;
        EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << c.image << ": a failed file is deleted";
      }
      EXPECT_EQ(m_storage.CloseScanTask(m_id), 0);
      CoreFn<int(__cdecl*)(int, uint64_t, uint64_t)>("QvtdInjectBadRange")(0, bad, 512);
    }
    CoreFn<int(__cdecl*)(int, uint64_t, uint64_t)>("QvtdInjectBadRange")(-1, 0, 0);
  }
}

}  // namespace
