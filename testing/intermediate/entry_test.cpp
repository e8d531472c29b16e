// Intermediate.dll driven through its exports, over the stand-in core and the
// fixture disk images.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <windows.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BoundaryRecords.h"
#include "qvtdserver.h"

namespace {

const std::string kImages = RECOVERY_IMAGES_DIR;
const std::string kWork = RECOVERY_TEST_WORK_DIR;

std::string Image(const char* name) { return kImages + "/" + name + ".img"; }

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

struct Dll {
  HMODULE intermediate = nullptr;
  HMODULE core = nullptr;
  FARPROC Export(const char* name) const { return GetProcAddress(intermediate, name); }
  template <class Fn>
  Fn Get(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(Export(name)));
  }
  template <class Fn>
  Fn Core(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(core, name)));
  }
};

const Dll& Library() {
  static Dll dll = [] {
    Dll d;
    d.intermediate = LoadLibraryW(L"Intermediate.dll");
    d.core = LoadLibraryA("qvtdserver.dll");
    return d;
  }();
  return dll;
}

using IntFn = int(__cdecl*)();
using ListDisksFn = int(__cdecl*)(int, int, void*, int*);
using ListPartitionsFn = int(__cdecl*)(int, int, int, void*, int*);
using Start4Fn = int(__cdecl*)(int, int, int, int*);
using Start2Fn = int(__cdecl*)(int, int*);
using Start3Fn = int(__cdecl*)(int, int, int*);
using StartDeepFn = int(__cdecl*)(int, int, int, int, const wchar_t*, int*);

constexpr int kUnknownTask = 12345;

class EntryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NE(Library().intermediate, nullptr) << GetLastError();
    ASSERT_NE(Library().core, nullptr);
    CreateDirectoryA(kWork.c_str(), nullptr);
  }
  void SetUp() override {
    const std::string images = Image("mbr") + ";" + Image("gpt");
    Library().Core<int(__cdecl*)(const char*)>("QvtdSetImages")(images.c_str());
    ASSERT_EQ(Library().Get<IntFn>("ServiceInitialize")(), 2);
  }
  template <class Fn>
  Fn Get(const char* name) {
    Fn fn = Library().Get<Fn>(name);
    EXPECT_NE(fn, nullptr) << name;
    return fn;
  }
};

const char* const kExportNames[] = {
    "ServiceInitialize", "ListDisks", "ListPartitions", "StartScanTask", "StartScanFormattedTask",
    "StartDeepScanTask", "StartFSDeepScanTask", "StartDiskDeepScanTask", "StartRecoverPartScan",
    "StartRepairDiskPartTable", "StartRepairPartition", "RepairDiskPartTable", "GetScanProgress",
    "GetRecoverProgress", "GetRecoverPartProgress", "PauseWork", "StopWork", "RetryWork", "SetScanErrorHandler",
    "EnumScannedFiles", "ContinueEnumScannedFiles", "GlobalEnumScannedFiles", "ContinueGlobalEnumScannedFiles",
    "GlobalFilterScannedFiles", "ContinueGlobalFilterScannedFiles", "CloseEnumHandle", "EnumFileTypes",
    "QueryFileName", "QueryFileFullPath", "GetLastFileInformation", "SetTargetPath", "RecoverFile",
    "RecoverFileByID", "GetLoadFileInfo", "GetResultFileName", "CloseScanTask"};

TEST_F(EntryTest, EveryExportIsFoundByItsPlainName) {
  EXPECT_EQ(sizeof kExportNames / sizeof kExportNames[0], 36u);
  for (const char* name : kExportNames) EXPECT_NE(Library().Export(name), nullptr) << name;
}

TEST_F(EntryTest, ListDisksCopiesExistingRecordsWithBlankPaddedTexts) {
  auto listDisks = Get<ListDisksFn>("ListDisks");
  std::vector<uint8_t> buffer(4 * 272, 0xCC);
  int copied = -1;
  ASSERT_EQ(listDisks(0, 4, buffer.data(), &copied), 2);
  EXPECT_EQ(copied, 2);
  for (int disk = 0; disk < 2; ++disk) {
    const uint8_t* record = buffer.data() + disk * 272;
    uint64_t size;
    std::memcpy(&size, record + 8, 8);
    EXPECT_EQ(size, disk == 0 ? 51380224u : 9437184u);
    for (size_t field : {16u, 144u}) {
      const uint8_t* text = record + field;
      EXPECT_EQ(std::memchr(text, 0, 128), nullptr) << "no terminator reaches the host";
      size_t length = 128;
      while (length > 0 && text[length - 1] == ' ') --length;
      EXPECT_GT(length, 0u) << "disk " << disk << " field " << field;
      EXPECT_LT(length, 40u) << "disk " << disk << " field " << field;
    }
  }
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data() + 16), 19), "QVTD Virtual Disk 0");
  // Nothing is written past the records that exist.
  EXPECT_EQ(buffer[2 * 272], 0xCC);

  struct Case {
    int first, count, copied;
  } const cases[] = {{2, 4, 0}, {5, 1, 0}, {0, 0, 0}, {0, -3, 0}, {1, INT_MAX, 1}, {INT_MAX, INT_MAX, 0},
                     {-1, 2, 1}, {INT_MIN, 4, 0}};
  for (const Case& c : cases) {
    copied = -1;
    EXPECT_EQ(listDisks(c.first, c.count, buffer.data(), &copied), 2) << c.first << "," << c.count;
    EXPECT_EQ(copied, c.copied) << c.first << "," << c.count;
  }
}

TEST_F(EntryTest, ListPartitionsAnswersMinusOneOutsideTheTable) {
  auto listPartitions = Get<ListPartitionsFn>("ListPartitions");
  std::vector<uint8_t> buffer(8 * 368);
  for (int disk : {2, 3, -1, INT_MIN, INT_MAX}) {
    int found = 7;
    EXPECT_EQ(listPartitions(disk, 0, 8, buffer.data(), &found), -1) << disk;
    EXPECT_EQ(found, 0) << disk;
  }
  int found = 0;
  ASSERT_EQ(listPartitions(0, 0, 8, buffer.data(), &found), 0);
  ASSERT_EQ(found, 4);
  const uint16_t types[] = {256, 4, 512, 2};
  for (int i = 0; i < 4; ++i) {
    int32_t number;
    uint16_t type;
    std::memcpy(&number, buffer.data() + i * 368, 4);
    std::memcpy(&type, buffer.data() + i * 368 + 44, 2);
    EXPECT_EQ(number, i + 1);
    EXPECT_EQ(type, types[i]);
  }
  EXPECT_EQ(listPartitions(1, 1, 8, buffer.data(), &found), 0);
  EXPECT_EQ(found, 2);
}

TEST_F(EntryTest, StartersRefuseBadDisksAndPartitionsThatDoNotOpen) {
  auto scan = Get<Start4Fn>("StartScanTask");
  auto formatted = Get<Start4Fn>("StartScanFormattedTask");
  auto fsDeep = Get<Start4Fn>("StartFSDeepScanTask");
  auto deep = Get<StartDeepFn>("StartDeepScanTask");
  auto diskDeep = Get<Start2Fn>("StartDiskDeepScanTask");
  auto recoverPart = Get<Start3Fn>("StartRecoverPartScan");
  auto repairTable = Get<Start2Fn>("StartRepairDiskPartTable");
  auto repairPart = Get<Start3Fn>("StartRepairPartition");
  // Every starter refuses a bad disk; those of a partition that does not open refuse
  // real disks too. The raw, deep and whole-disk ones start on any real disk, so only
  // bad disks are tried with them.
  struct Starter {
    std::function<int(int disk, int* id)> start;
    bool startsOnRealDisks;
  };
  std::vector<Starter> starters = {
      {[&](int d, int* id) { return scan(d, 99, 0, id); }, false},
      {[&](int d, int* id) { return formatted(d, 99, 0, id); }, false},
      {[&](int d, int* id) { return fsDeep(d, 1, 0, id); }, true},
      {[&](int d, int* id) { return fsDeep(d, 0x2000, 0, id); }, true},
      {[&](int d, int* id) { return deep(d, 1, 0, 0, nullptr, id); }, true},
      {[&](int d, int* id) { return diskDeep(d, id); }, true},
      {[&](int d, int* id) { return recoverPart(d, 0, id); }, true},
      {[&](int d, int* id) { return repairTable(d, id); }, true},
      {[&](int d, int* id) { return repairPart(d, 99, id); }, false},
  };
  for (size_t i = 0; i < starters.size(); ++i) {
    for (int disk : {0, 1, 2, -1, INT_MIN, INT_MAX}) {
      if (starters[i].startsOnRealDisks && disk >= 0 && disk <= 1) continue;
      int id = -5;
      EXPECT_EQ(starters[i].start(disk, &id), -87) << "starter " << i << " disk " << disk;
      EXPECT_EQ(id, -5) << "starter " << i << " disk " << disk;
    }
    EXPECT_EQ(starters[i].start(0, nullptr), -87) << "starter " << i;
  }
}

TEST_F(EntryTest, EveryTaskExportAnswersMinusTwoForAnUnknownTask) {
  ScanFileRecord records[2];
  FileTypeRecord types[2];
  ScanFilter filter{1, L"a", 0, 0};
  RecoverIdItem item{1, L"a.txt", 0};
  wchar_t text[512];
  int a = 0, b = 0, c = 0, d = 0, h = 0;
  uint64_t u = 0, v = 0;
  uint8_t partitions[368];
  const std::vector<std::pair<const char*, std::function<int(int)>>> calls = {
      {"RepairDiskPartTable", [&](int t) { return Get<int(__cdecl*)(int)>("RepairDiskPartTable")(t); }},
      {"GetScanProgress",
       [&](int t) { return Get<int(__cdecl*)(int, int*, int*, int*, int*)>("GetScanProgress")(t, &a, &b, &c, &d); }},
      {"GetRecoverProgress",
       [&](int t) { return Get<int(__cdecl*)(int, int*, int*)>("GetRecoverProgress")(t, &a, &b); }},
      {"GetRecoverPartProgress",
       [&](int t) {
         return Get<int(__cdecl*)(int, int*, void*, int, int*)>("GetRecoverPartProgress")(t, &a, partitions, 1, &b);
       }},
      {"PauseWork", [&](int t) { return Get<int(__cdecl*)(int, int)>("PauseWork")(t, 1); }},
      {"StopWork", [&](int t) { return Get<int(__cdecl*)(int)>("StopWork")(t); }},
      {"EnumScannedFiles",
       [&](int t) {
         return Get<int(__cdecl*)(int, const wchar_t*, int, void*, int*, int*, int*, int*, uint64_t*, uint64_t*,
                                  int*)>("EnumScannedFiles")(t, L":", 2, records, &a, &b, &c, &d, &u, &v, &h);
       }},
      {"ContinueEnumScannedFiles",
       [&](int t) {
         return Get<int(__cdecl*)(int, int, int, void*, int*)>("ContinueEnumScannedFiles")(t, 1, 2, records, &a);
       }},
      {"GlobalEnumScannedFiles",
       [&](int t) {
         return Get<int(__cdecl*)(int, int, int, void*, int*, int*)>("GlobalEnumScannedFiles")(t, 0, 2, records, &a,
                                                                                              &h);
       }},
      {"ContinueGlobalEnumScannedFiles",
       [&](int t) {
         return Get<int(__cdecl*)(int, int, int, void*, int*)>("ContinueGlobalEnumScannedFiles")(t, 1, 2, records,
                                                                                                &a);
       }},
      {"GlobalFilterScannedFiles",
       [&](int t) {
         return Get<int(__cdecl*)(int, int, const void*, int, void*, int*, int*)>("GlobalFilterScannedFiles")(
             t, 1, &filter, 2, records, &a, &h);
       }},
      {"ContinueGlobalFilterScannedFiles",
       [&](int t) {
         return Get<int(__cdecl*)(int, int, int, void*, int*)>("ContinueGlobalFilterScannedFiles")(t, 1, 2, records,
                                                                                                  &a);
       }},
      {"CloseEnumHandle", [&](int t) { return Get<int(__cdecl*)(int, int)>("CloseEnumHandle")(t, 1); }},
      {"EnumFileTypes",
       [&](int t) {
         return Get<int(__cdecl*)(int, int, int, int*, int*, void*)>("EnumFileTypes")(t, 0, 2, &a, &b, types);
       }},
      {"QueryFileFullPath",
       [&](int t) { return Get<int(__cdecl*)(int, uint64_t, wchar_t*)>("QueryFileFullPath")(t, 1, text); }},
      {"GetResultFileName", [&](int t) { return Get<int(__cdecl*)(int, wchar_t*)>("GetResultFileName")(t, text); }},
      {"RecoverFile",
       [&](int t) {
         return Get<int(__cdecl*)(int, int, int, const wchar_t*, const wchar_t*, const int*)>("RecoverFile")(
             t, 0, 1, L":/Root:6", L"a.txt:10\0", &a);
       }},
      {"RecoverFileByID",
       [&](int t) {
         return Get<int(__cdecl*)(int, int, const wchar_t*, const void*)>("RecoverFileByID")(t, 1, L"/", &item);
       }},
      {"CloseScanTask", [&](int t) { return Get<int(__cdecl*)(int)>("CloseScanTask")(t); }},
  };
  for (const auto& call : calls) {
    for (int task : {kUnknownTask, 0, -1, 1, INT_MAX, INT_MIN}) {
      EXPECT_EQ(call.second(task), -2) << call.first << " task " << task;
    }
  }
}

TEST_F(EntryTest, IdOutputsGainOneEvenWithoutATask) {
  auto queryName = Get<int(__cdecl*)(int, uint64_t, int, uint64_t*, wchar_t*)>("QueryFileName");
  auto lastInfo = Get<int(__cdecl*)(int, wchar_t*, uint64_t*, uint64_t*)>("GetLastFileInformation");
  wchar_t name[260] = L"unchanged";
  struct Case {
    uint64_t in, out;
  } const cases[] = {{~0ull, 0}, {41, 42}, {0xFFFFFFFFull, 0x100000000ull}};
  for (const Case& c : cases) {
    uint64_t parent = c.in;
    EXPECT_EQ(queryName(kUnknownTask, 5, 0, &parent, name), -2);
    EXPECT_EQ(parent, c.out);
    uint64_t id = c.in, parentId = c.in;
    EXPECT_EQ(lastInfo(kUnknownTask, name, &id, &parentId), 0);
    EXPECT_EQ(id, c.out);
    EXPECT_EQ(parentId, c.out);
  }
  EXPECT_STREQ(name, L"unchanged");
}

TEST_F(EntryTest, RecoveryCountsAreCheckedBeforeTheTask) {
  auto byId = Get<int(__cdecl*)(int, int, const wchar_t*, const void*)>("RecoverFileByID");
  auto byName = Get<int(__cdecl*)(int, int, int, const wchar_t*, const wchar_t*, const int*)>("RecoverFile");
  RecoverIdItem items[2] = {{1, L"a", 0}, {2, L"b", 0}};
  int sources[2] = {0, 0};
  for (int count : {0, -1, INT_MIN, 0x10000000, INT_MAX / 16 + 1, INT_MAX}) {
    EXPECT_EQ(byId(kUnknownTask, count, L"/", items), -87) << count;
    EXPECT_EQ(byName(kUnknownTask, 0, count, L":", L"a:1\0b:2\0", sources), -87) << count;
  }
  EXPECT_EQ(byId(kUnknownTask, 2, L"/", nullptr), -87);
  EXPECT_EQ(byId(kUnknownTask, 2, L"/", items), -2);
  EXPECT_EQ(byName(kUnknownTask, 0, 2, L":", L"a:1\0b:2\0", sources), -2);
}

TEST_F(EntryTest, SetTargetPathWithoutATaskReportsTheDrivesFreeSpace) {
  auto setTarget = Get<int(__cdecl*)(int, const wchar_t*, int*)>("SetTargetPath");
  int freeMB[2] = {-1, -1};
  const std::wstring target = Wide(kWork) + L"/recovered";
  const int result = setTarget(kUnknownTask, target.c_str(), freeMB);
  ULARGE_INTEGER available;
  ASSERT_TRUE(GetDiskFreeSpaceExW(L"Z:\\", &available, nullptr, nullptr));
  const int64_t expected = int64_t(available.QuadPart >> 20);
  EXPECT_EQ(result, freeMB[0]);
  EXPECT_EQ(freeMB[1], 0);
  // Other programs write to the same drive meanwhile: allow some drift.
  EXPECT_NEAR(double(result), double(expected), 2048.0);
  EXPECT_GT(result, 0);
  EXPECT_EQ(setTarget(kUnknownTask, nullptr, freeMB), -87);
  EXPECT_LT(setTarget(kUnknownTask, L"Q", freeMB), 0);
  EXPECT_EQ(freeMB[0], 0);
}

// ---------------------------------------------------------------------------------
// Stored results

std::string DiskSerial(int disk) {
  std::vector<uint8_t> buffer(2 * 272);
  int copied = 0;
  Library().Get<ListDisksFn>("ListDisks")(0, 2, buffer.data(), &copied);
  std::string serial(reinterpret_cast<char*>(buffer.data() + disk * 272 + 144), 128);
  serial.erase(serial.find_last_not_of(' ') + 1);
  return serial;
}

void MakeResultDb(const std::string& path, const char* schema, const std::function<void(sqlite3*)>& fill) {
  DeleteFileA(path.c_str());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  if (schema) {
    ASSERT_EQ(sqlite3_exec(db, schema, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  }
  if (fill) fill(db);
  sqlite3_close(db);
}

void InsertPartitionRow(sqlite3* db, int disk, const std::string& serial, int part, int letter, int type) {
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "insert into PartitionInfo(id,diskIndex,serialNo,partIndex,startSector,bootSector,"
                               "driveLetter,partType,progress) values(1,?,?,?,2048,?,?,?,0);",
                               -1, &s, nullptr),
            SQLITE_OK);
  uint8_t boot[512] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S'};
  sqlite3_bind_int(s, 1, disk);
  sqlite3_bind_text(s, 2, serial.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 3, part);
  sqlite3_bind_blob(s, 4, boot, sizeof boot, SQLITE_TRANSIENT);
  sqlite3_bind_int(s, 5, letter);
  sqlite3_bind_int(s, 6, type);
  EXPECT_EQ(sqlite3_step(s), SQLITE_DONE);
  sqlite3_finalize(s);
}

const char kPartitionTable[] =
    "create table if not exists PartitionInfo(id integer primary key, diskIndex integer, serialNo text, "
    "partIndex integer, startSector integer, bootSector text, driveLetter integer,partType integer, "
    "progress integer);";

TEST_F(EntryTest, GetLoadFileInfoFindsTheDiskBySerial) {
  auto load = Get<int(__cdecl*)(const wchar_t*, int*, int*, wchar_t*, uint16_t*)>("GetLoadFileInfo");
  const std::string serial = DiskSerial(1);
  ASSERT_FALSE(serial.empty());
  struct Case {
    const char* name;
    std::string serial;
    int part, letter;
    int result, disk, partition;
    const wchar_t* drive;
  } const cases[] = {
      {"matching", serial, 2, 'F', 0, 1, 2, L"F"},
      {"whole disk", serial + "|WDC", 0x2000, 0, 0, 1, 0x2000, nullptr},  // the serial ends at the bar
      {"unknown serial", "QVTD-0000", 1, 'G', 0, 0, 100, L"G"},
  };
  for (const Case& c : cases) {
    const std::string path = kWork + "/load-" + std::to_string(&c - cases) + ".db";
    MakeResultDb(path, kPartitionTable,
                 [&](sqlite3* db) { InsertPartitionRow(db, 1, c.serial, c.part, c.letter, 256); });
    int disk = -1, partition = -1;
    wchar_t drive[260] = L"x";
    uint16_t type = 0;
    EXPECT_EQ(load(Wide(path).c_str(), &disk, &partition, drive, &type), c.result) << c.name;
    EXPECT_EQ(disk, c.disk) << c.name;
    EXPECT_EQ(partition, c.partition) << c.name;
    EXPECT_EQ(type, 256) << c.name;
    if (c.drive) {
      EXPECT_STREQ(drive, c.drive) << c.name;
    } else {
      EXPECT_EQ(std::wstring(drive), Wide(serial)) << c.name << ": the serial up to '|' names the drive";
    }
  }
}

TEST_F(EntryTest, GetLoadFileInfoWithoutAPartitionRow) {
  auto load = Get<int(__cdecl*)(const wchar_t*, int*, int*, wchar_t*, uint16_t*)>("GetLoadFileInfo");
  int disk = -1, partition = -1;
  wchar_t drive[260];
  uint16_t type = 9;
  const std::string empty = kWork + "/empty.db";
  MakeResultDb(empty, "create table FileInfo(id integer primary key);", nullptr);
  EXPECT_EQ(load(Wide(empty).c_str(), &disk, &partition, drive, &type), 1);
  EXPECT_EQ(disk, 0);
  EXPECT_EQ(partition, 100);

  const std::string noRow = kWork + "/norow.db";
  MakeResultDb(noRow, kPartitionTable, nullptr);
  EXPECT_EQ(load(Wide(noRow).c_str(), &disk, &partition, drive, &type), 1);

  const std::string garbage = kWork + "/garbage.db";
  std::ofstream(garbage, std::ios::binary) << std::string(4096, 'x');
  EXPECT_EQ(load(Wide(garbage).c_str(), &disk, &partition, drive, &type), 1);

  // Older files without the serial column give only the disk index.
  const std::string old = kWork + "/old.db";
  MakeResultDb(old, "create table PartitionInfo(id integer primary key, diskIndex integer, partIndex integer);",
               [](sqlite3* db) { sqlite3_exec(db, "insert into PartitionInfo values(1, 1, 3);", 0, 0, 0); });
  EXPECT_EQ(load(Wide(old).c_str(), &disk, &partition, drive, &type), 0);
  EXPECT_EQ(partition, 100);

  // A missing file is reported and not created.
  const std::string missing = kWork + "/missing.db";
  DeleteFileA(missing.c_str());
  EXPECT_EQ(load(Wide(missing).c_str(), &disk, &partition, drive, &type), -2);
  EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(load(nullptr, &disk, &partition, drive, &type), -87);
}

// ---------------------------------------------------------------------------------
// Read-error retry handshake

std::atomic<int> g_errors{0};
std::atomic<uint64_t> g_errorOffset{0};
void __cdecl CountError(int disk, uint64_t offset, uint32_t length, uint32_t error) {
  g_errorOffset.store(offset);
  ++g_errors;
}

class RetryTest : public EntryTest {
 protected:
  void SetUp() override {
    EntryTest::SetUp();
    ASSERT_EQ(Get<int(__cdecl*)(void*)>("SetScanErrorHandler")(reinterpret_cast<void*>(&CountError)), 0);
    QvtdDiskRecord disks[2];
    ASSERT_EQ(Library().Core<int(__cdecl*)(int, QvtdDiskRecord*)>("EnumDisks")(2, disks), 2);
    m_disk = disks[0];
    g_errors = 0;
    Inject(0, 0);
    m_entered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(m_entered, nullptr);
    ASSERT_EQ(Library().Core<int(__cdecl*)(void*)>("QvtdSignalErrorWait")(m_entered), 0);
  }
  void TearDown() override {
    // Free a read that still waits, so that a failed case cannot hang the program.
    Inject(0, 0);
    if (m_reader.joinable()) {
      Retry(2);
      m_reader.join();
    }
    Retry(-1);
    Library().Core<int(__cdecl*)(void*)>("QvtdSignalErrorWait")(nullptr);
    if (m_entered) CloseHandle(m_entered);
  }
  // True once the reading thread has met the bad range, told the host and entered the
  // library's wait, which answers only with the host's decision.
  bool InWait() { return WaitForSingleObject(m_entered, 60000) == WAIT_OBJECT_0; }
  static void Inject(uint64_t offset, uint64_t length) {
    Library().Core<int(__cdecl*)(int, uint64_t, uint64_t)>("QvtdInjectBadRange")(length ? 0 : -1, offset, length);
  }
  // Reads 8 KiB of the whole disk on a thread of its own.
  void Read(std::atomic<int>* result, std::vector<uint8_t>* data) {
    if (m_reader.joinable()) m_reader.join();
    data->assign(8192, 0xAA);
    result->store(-100);
    m_reader = std::thread([=] {
      auto read = Library().Core<int(__cdecl*)(void*, void*, uint64_t, uint32_t, void*)>("ReadPartition");
      result->store(read(m_disk.wholeDisk, m_disk.context, 0, 8192, data->data()));
    });
  }
  // Joins the reader once its read has returned; a read that still waits fails the
  // case and is freed by TearDown.
  void Join() {
    ASSERT_TRUE(WaitFor([this] { return m_result.load() != -100; })) << "the read still waits";
    m_reader.join();
  }
  std::thread m_reader;
  // The reader writes here: owned by the fixture, so they outlive a failed case.
  std::atomic<int> m_result{-100};
  std::vector<uint8_t> m_data, m_clean;
  HANDLE m_entered = nullptr;
  static bool WaitFor(const std::function<bool()>& done, int ms = 60000) {
    for (int waited = 0; waited < ms; waited += 20) {
      if (done()) return true;
      Sleep(20);
    }
    return done();
  }
  int Retry(int decision) { return Get<int(__cdecl*)(int, int)>("RetryWork")(0, decision); }
  QvtdDiskRecord m_disk{};
};

TEST_F(RetryTest, TheHostsDecisionEndsTheWait) {
  Inject(4096, 512);
  std::atomic<int>& result = m_result;
  std::vector<uint8_t>& data = m_data;
  Read(&result, &data);
  ASSERT_TRUE(InWait());
  EXPECT_EQ(g_errors.load(), 1);
  EXPECT_EQ(g_errorOffset.load(), 4096u);
  EXPECT_EQ(result.load(), -100) << "the read waits for the host";
  EXPECT_EQ(Retry(1), 0);  // skip: the bad bytes read as zeros
  ASSERT_TRUE(WaitFor([&] { return result.load() != -100; }));
  Join();
  EXPECT_EQ(result.load(), 8192);
  EXPECT_EQ(data[4096], 0);
  EXPECT_EQ(data[4607], 0);
  EXPECT_EQ(g_errors.load(), 1);

  // Retry after the range has healed reads the real bytes.
  Inject(0, 0);
  std::vector<uint8_t>& clean = m_clean;
  Read(&result, &clean);
  Join();
  EXPECT_EQ(result.load(), 8192);
  Inject(4096, 512);
  Read(&result, &data);
  ASSERT_TRUE(InWait());
  EXPECT_EQ(g_errors.load(), 2);
  Inject(0, 0);
  EXPECT_EQ(Retry(0), 0);
  ASSERT_TRUE(WaitFor([&] { return result.load() != -100; }));
  Join();
  EXPECT_EQ(result.load(), 8192);
  EXPECT_EQ(data, clean);
}

TEST_F(RetryTest, ADecisionGivenEarlyAnswersTheNextErrorAtOnce) {
  EXPECT_EQ(Retry(1), 0);
  Inject(0, 512);
  std::atomic<int>& result = m_result;
  std::vector<uint8_t>& data = m_data;
  Read(&result, &data);
  ASSERT_TRUE(WaitFor([&] { return result.load() != -100; })) << "the kept decision answers";
  Join();
  EXPECT_EQ(result.load(), 8192);
  EXPECT_EQ(g_errors.load(), 1);
  // The decision was used up: the next error waits again (a kept skip would read 8192
  // bytes), and an abort ends it.
  ResetEvent(m_entered);
  Read(&result, &data);
  ASSERT_TRUE(InWait());
  EXPECT_EQ(g_errors.load(), 2);
  EXPECT_EQ(result.load(), -100);
  Retry(2);
  Join();
  EXPECT_LT(result.load(), 0);

  // The log shows the signal, under the source the library names.
  char logPath[MAX_PATH] = {};
  Library().Core<int(__cdecl*)(char*, int)>("QvtdLogPath")(logPath, MAX_PATH);
  std::ifstream log(logPath, std::ios::binary);
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find("DeepScanTask\tCStorage::RetryWork\t"), std::string::npos);
  EXPECT_NE(text.str().find("Received RetryWork signal: 2"), std::string::npos);
  EXPECT_NE(text.str().find("Intermediate\tServiceInitialize\t"), std::string::npos);
}

}  // namespace
