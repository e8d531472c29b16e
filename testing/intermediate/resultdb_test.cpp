// The deep-scan result database: file names, schema, rows written and replayed, the
// partition row and the checks on what a stored file holds.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ResultDatabase.h"
#include "test_support.h"

namespace {

struct Replayed {
  std::wstring name;
  uint64_t id, parent, size, time;
  uint32_t attributes;
  int32_t progress;
};

int __cdecl Collect(void* task, const wchar_t* name, uint32_t, uint32_t idLow, uint32_t idHigh, uint32_t parentLow,
                    uint32_t parentHigh, uint32_t sizeLow, uint32_t sizeHigh, uint32_t timeLow, uint32_t timeHigh,
                    uint32_t attributes, int32_t, int32_t progress) {
  auto* out = static_cast<std::vector<Replayed>*>(task);
  auto join = [](uint32_t lo, uint32_t hi) { return uint64_t(hi) << 32 | lo; };
  out->push_back({name, join(idLow, idHigh), join(parentLow, parentHigh), join(sizeLow, sizeHigh),
                  join(timeLow, timeHigh), attributes, progress});
  return 1;
}

std::string Query(const std::wstring& path, const char* sql) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open16(path.c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK) {
      while (sqlite3_step(s) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(s); ++c) {
          const unsigned char* t = sqlite3_column_text(s, c);
          out += (c ? "|" : "") + std::string(t ? reinterpret_cast<const char*>(t) : "NULL");
        }
        out += "\n";
      }
      sqlite3_finalize(s);
    }
  }
  sqlite3_close_v2(db);
  return out;
}

void Exec(const std::wstring& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open16(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
  sqlite3_close_v2(db);
}

void InsertBootBlob(const std::wstring& path, const std::string& blob) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open16(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "insert into PartitionInfo values(1,0,'S',1,63,?,0,4,0);", -1, &s, nullptr),
            SQLITE_OK);
  sqlite3_bind_blob(s, 1, blob.data(), int(blob.size()), SQLITE_TRANSIENT);
  EXPECT_EQ(sqlite3_step(s), SQLITE_DONE);
  sqlite3_finalize(s);
  sqlite3_close_v2(db);
}

TEST(ResultDb, NewResultsOfOneSecondGetTheirOwnFiles) {
  std::vector<std::unique_ptr<ScanResultDb>> dbs;
  for (int i = 0; i < 3; ++i) {
    dbs.push_back(std::make_unique<ScanResultDb>());
    ASSERT_TRUE(dbs.back()->Open());
  }
  // Named by the local time in the DeepScanResult folder beside the program.
  const std::wstring first = dbs[0]->Path();
  EXPECT_NE(first.find(L"\\DeepScanResult\\"), std::wstring::npos);
  EXPECT_EQ(first.substr(first.size() - 3), L".db");
  EXPECT_NE(dbs[0]->Path(), dbs[1]->Path());
  EXPECT_NE(dbs[1]->Path(), dbs[2]->Path());
  EXPECT_NE(dbs[0]->Path(), dbs[2]->Path());
  dbs[0]->InsertFile(11, L"a.jpg", 8, 100, 5, 0);
  dbs[0]->Flush();
  EXPECT_EQ(dbs[1]->CountFiles(), 0) << "a second scan must not see the first one's rows";
  for (auto& db : dbs) {
    const std::wstring path = db->Path();
    db.reset();
    DeleteFileW(path.c_str());
  }
}

TEST(ResultDb, SchemaRowsAndReplay) {
  std::wstring path;
  {
    ScanResultDb db;
    ASSERT_TRUE(db.Open());
    path = db.Path();
    uint8_t boot[512] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S'};
    EXPECT_EQ(db.InsertPartition("QVTD-1|disk", 1, 2, 'E', 256, 2048, boot), 0);
    // The partition row is always id 1: a second one fails and changes nothing.
    EXPECT_EQ(db.InsertPartition("other", 3, 4, 'F', 4, 99, boot), -1);
    EXPECT_EQ(db.InsertFile(0x1234567890ULL, L"f0000001.jpg", 8, 5000000000ULL, 1700000000, 0), 0);
    EXPECT_EQ(db.InsertFile(0x50, L"\u00e4\u4e2d.png", 8, 7, 0, 0x20), 0);
    EXPECT_EQ(db.UpdateProgress(0x100000000ULL), 0);
  }
  EXPECT_EQ(Query(path, "select sql from sqlite_master order by name;"),
            "CREATE TABLE FileInfo(id integer primary key, name text, parentID integer, size integer, modifyTime "
            "integer, attributes integer)\n"
            "CREATE TABLE PartitionInfo(id integer primary key, diskIndex integer, serialNo text, partIndex integer, "
            "startSector integer, bootSector text, driveLetter integer,partType integer, progress integer)\n");
  EXPECT_EQ(Query(path, "select id,diskIndex,serialNo,partIndex,startSector,length(bootSector),driveLetter,partType,"
                        "progress from PartitionInfo;"),
            "1|1|QVTD-1|disk|2|2048|512|69|256|4294967296\n");
  EXPECT_EQ(Query(path, "select id,parentID,size,modifyTime,attributes from FileInfo order by id;"),
            "80|8|7|0|32\n78187493520|8|5000000000|1700000000|0\n");

  std::vector<Replayed> rows;
  ScanResultDb load(path.c_str(), &Collect, &rows);
  ASSERT_TRUE(load.Open());
  EXPECT_EQ(load.CountFiles(), 2);
  EXPECT_EQ(load.LoadFiles(), 2);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].name, L"\u00e4\u4e2d.png");
  EXPECT_EQ(rows[1].id, 0x1234567890ULL);
  EXPECT_EQ(rows[1].size, 5000000000ULL) << "sizes keep all 64 bits";
  EXPECT_EQ(rows[1].time, 1700000000u);
  EXPECT_EQ(rows[0].progress, 0);
  EXPECT_EQ(rows[1].progress, 5000);
  StoredPartition part;
  ASSERT_EQ(load.LoadPartition(&part), 0);
  EXPECT_TRUE(part.hasSerial);
  EXPECT_STREQ(part.serial, "QVTD-1|disk");
  EXPECT_EQ(part.partition, 2);
  EXPECT_EQ(part.startSector, 2048u);
  EXPECT_EQ(part.bootSector[3], 'N');
  EXPECT_EQ(part.driveLetter, 'E');
  EXPECT_EQ(part.partitionType, 256);
  EXPECT_EQ(part.progress, 0x100000000ULL);
  DeleteFileW(path.c_str());
}

TEST(ResultDb, StoredFilesAreCheckedBeforeUse) {
  const std::wstring work = FromUtf8(RECOVERY_TEST_WORK_DIR);
  CreateDirectoryW(work.c_str(), nullptr);

  // A wrong path is refused and no empty database is left behind.
  const std::wstring missing = work + L"\\no-such-result.db";
  DeleteFileW(missing.c_str());
  ScanResultDb wrong(missing.c_str(), &Collect, nullptr);
  EXPECT_FALSE(wrong.Open());
  EXPECT_EQ(GetFileAttributesW(missing.c_str()), INVALID_FILE_ATTRIBUTES);

  // Boot-sector blobs of any length but 512 are not copied.
  struct Case {
    const char* name;
    int bytes;
    bool taken;
  } const cases[] = {{"short", 100, false}, {"exact", 512, true}, {"long", 600, false}, {"empty", 0, false}};
  for (const Case& c : cases) {
    const std::wstring path = work + L"\\blob-" + FromUtf8(c.name) + L".db";
    DeleteFileW(path.c_str());
    Exec(path, "create table PartitionInfo(id integer primary key, diskIndex integer, serialNo text, "
               "partIndex integer, startSector integer, bootSector text, driveLetter integer,partType integer, "
               "progress integer);");
    InsertBootBlob(path, std::string(size_t(c.bytes), 'A'));
    std::vector<Replayed> rows;
    ScanResultDb db(path.c_str(), &Collect, &rows);
    ASSERT_TRUE(db.Open()) << c.name;
    StoredPartition part;
    ASSERT_EQ(db.LoadPartition(&part), 0) << c.name;
    EXPECT_EQ(part.bootSector[0] == 'A', c.taken) << c.name;
    // An empty file table replays nothing.
    EXPECT_EQ(db.LoadFiles(), 0) << c.name;
    EXPECT_TRUE(rows.empty());
  }

  // A partition table without the serial column gives only the disk index.
  const std::wstring old = work + L"\\old-layout.db";
  DeleteFileW(old.c_str());
  Exec(old, "create table PartitionInfo(id integer primary key, diskIndex integer, partIndex integer);"
            "insert into PartitionInfo values(1, 3, 7);");
  ScanResultDb db(old.c_str(), &Collect, nullptr, true);
  ASSERT_TRUE(db.Open());
  StoredPartition part;
  ASSERT_EQ(db.LoadPartition(&part), 0);
  EXPECT_EQ(part.disk, 3);
  EXPECT_FALSE(part.hasSerial);
  EXPECT_EQ(part.partition, 0);
}

}  // namespace
