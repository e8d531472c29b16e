// The deep-scan result database on SQLite: file naming, schema, the writers used while
// a scan runs and the readers that replay a stored result.
#include "ResultDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "TextConvert.h"
#include "UniqueRes.h"

namespace {

const char kFileColumns[] =
    "(id integer primary key, name text, parentID integer, size integer, modifyTime integer, attributes integer);";
const char kPartitionColumns[] =
    "(id integer primary key, diskIndex integer, serialNo text, partIndex integer, startSector integer, "
    "bootSector text, driveLetter integer,partType integer, progress integer);";

// Hits are committed in batches, at least this often, so that a long scan never holds
// an unbounded journal and never syncs once per hit.
constexpr int kBatchRows = 4096;

struct Finalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;

Statement Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    std::printf("%s\n", sqlite3_errmsg(db));
    std::fflush(stdout);
    return Statement();
  }
  return Statement(raw);
}

// Folder of the host program with its trailing '\'.
std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH * 2] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, DWORD(MAX_PATH * 2));
  std::wstring text(path, n < MAX_PATH * 2 ? n : 0);
  const size_t slash = text.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : text.substr(0, slash + 1);
}

uint32_t Low(uint64_t v) { return uint32_t(v); }
uint32_t High(uint64_t v) { return uint32_t(v >> 32); }

}  // namespace

ScanResultDb::ScanResultDb() {
  ::InitializeCriticalSection(&m_lock);
  const std::wstring folder = ProgramFolder() + L"DeepScanResult\\";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  char stamp[31] = {};
  const std::time_t now = std::time(nullptr);
  if (const std::tm* local = std::localtime(&now)) std::strftime(stamp, sizeof stamp, "%Y_%m_%d %H_%M_%S", local);
  m_path = folder + std::wstring(stamp, stamp + std::strlen(stamp)) + L".db";
}

ScanResultDb::ScanResultDb(const wchar_t* path, ResultRecordCallback callback, void* task, bool readOnly)
    : m_path(path ? path : L""), m_callback(callback), m_task(task), m_loading(true), m_readOnly(readOnly) {
  ::InitializeCriticalSection(&m_lock);
}

ScanResultDb::~ScanResultDb() {
  Flush();
  if (m_insertFile) sqlite3_finalize(m_insertFile);
  if (m_db) sqlite3_close_v2(m_db);
  ::DeleteCriticalSection(&m_lock);
}

bool ScanResultDb::CreateUniqueFile() {
  // Two scans started in the same second would share one file: the name is claimed
  // with an exclusive create, and a taken one gets "_(n)" before ".db".
  const std::wstring base = m_path.substr(0, m_path.size() - 3);
  for (int n = 0; n < 10000; ++n) {
    std::wstring candidate = base;
    if (n > 0) candidate += L"_(" + std::to_wstring(n) + L")";
    candidate += L".db";
    UniqueFile file(::CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (file) {
      m_path = candidate;
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool ScanResultDb::Open() {
  if (m_db) return true;
  int rc = SQLITE_CANTOPEN;
  if (m_loading) {
    // A stored result must exist: opening a wrong path never leaves an empty file behind.
    if (::GetFileAttributesW(m_path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      const std::string utf8 = NarrowText(m_path.c_str(), CP_UTF8);
      const int flags = m_readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
      rc = sqlite3_open_v2(utf8.c_str(), &m_db, flags, nullptr);
      if (rc != SQLITE_OK && !m_readOnly) {
        if (m_db) sqlite3_close_v2(m_db);
        m_db = nullptr;
        m_readOnly = true;
        rc = sqlite3_open_v2(utf8.c_str(), &m_db, SQLITE_OPEN_READONLY, nullptr);
      }
    }
  } else if (CreateUniqueFile()) {
    rc = sqlite3_open16(m_path.c_str(), &m_db);
  }
  if (rc != SQLITE_OK) {
    std::printf("%s [%d]\n", m_db ? sqlite3_errmsg(m_db) : "cannot open", rc);
    std::fflush(stdout);
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
    return false;
  }
  if (!m_readOnly) {
    Execute((std::string("create table if not exists ") + m_fileTable + kFileColumns).c_str());
    Execute((std::string("create table if not exists ") + m_partitionTable + kPartitionColumns).c_str());
  }
  return true;
}

int ScanResultDb::Execute(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::printf("%s\n", sql);
    std::fflush(stdout);
    sqlite3_free(error);
    return -1;
  }
  return 0;
}

int ScanResultDb::StepOnce(sqlite3_stmt* statement) {
  const int rc = sqlite3_step(statement);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? 0 : -1;
}

void ScanResultDb::BeginBatch() {
  if (!m_inBatch && Execute("begin;") == 0) m_inBatch = true;
}

void ScanResultDb::Flush() {
  CritSecLock hold(m_lock);
  if (m_db && m_inBatch) {
    Execute("commit;");
    m_inBatch = false;
  }
}

int ScanResultDb::InsertFile(uint64_t id, const wchar_t* name, uint64_t parentId, uint64_t size, uint64_t time,
                             uint32_t attributes) {
  CritSecLock hold(m_lock);
  if (!m_db || m_readOnly) return -1;
  if (!m_insertFile) {
    const std::string sql = std::string("insert into ") + m_fileTable +
                            "(id,name,parentID,size,modifyTime,attributes) values(?,?,?,?,?,?);";
    m_insertFile = Prepare(m_db, sql).release();
    if (!m_insertFile) return -1;
  }
  BeginBatch();
  sqlite3_stmt* s = m_insertFile;
  sqlite3_bind_int64(s, 1, sqlite3_int64(id));
  sqlite3_bind_text16(s, 2, name ? name : L"", -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(s, 3, sqlite3_int64(parentId));
  sqlite3_bind_int64(s, 4, sqlite3_int64(size));
  sqlite3_bind_int64(s, 5, sqlite3_int64(time));
  sqlite3_bind_int(s, 6, int(attributes));
  const int result = StepOnce(s);
  sqlite3_reset(s);
  if (++m_batchRows % kBatchRows == 0 && m_inBatch) {
    Execute("commit;");
    m_inBatch = false;
  }
  return result;
}

int ScanResultDb::InsertPartition(const char* serial, int32_t disk, int32_t partition, char driveLetter,
                                  uint16_t type, uint64_t startSector, const uint8_t* bootSector) {
  CritSecLock hold(m_lock);
  if (!m_db || m_readOnly) return -1;
  Statement s = Prepare(m_db, std::string("insert into ") + m_partitionTable +
                                  "(id,diskIndex,serialNo,partIndex,startSector,bootSector,driveLetter,partType,"
                                  "progress) values(?,?,?,?,?,?,?,?,?);");
  if (!s) return -1;
  sqlite3_bind_int(s.get(), 1, 1);
  sqlite3_bind_int(s.get(), 2, disk);
  sqlite3_bind_text(s.get(), 3, serial ? serial : "", int(serial ? strnlen(serial, 128) : 0), SQLITE_TRANSIENT);
  sqlite3_bind_int(s.get(), 4, partition);
  sqlite3_bind_int64(s.get(), 5, sqlite3_int64(startSector));
  sqlite3_bind_blob(s.get(), 6, bootSector, bootSector ? int(kBootSectorBytes) : 0, SQLITE_TRANSIENT);
  sqlite3_bind_int(s.get(), 7, static_cast<unsigned char>(driveLetter));
  sqlite3_bind_int(s.get(), 8, type);
  sqlite3_bind_int64(s.get(), 9, 0);
  return StepOnce(s.get());
}

int ScanResultDb::UpdateProgress(uint64_t position) {
  CritSecLock hold(m_lock);
  if (!m_db || m_readOnly) return -1;
  Statement s = Prepare(m_db, std::string("update ") + m_partitionTable + " set progress = ? where id = 1;");
  if (!s) return -1;
  sqlite3_bind_int64(s.get(), 1, sqlite3_int64(position));
  const int result = StepOnce(s.get());
  // The position and the hits found before it reach the file together.
  if (m_inBatch) {
    Execute("commit;");
    m_inBatch = false;
  }
  return result;
}

int64_t ScanResultDb::CountFiles() {
  if (!m_db) return 0;
  Statement s = Prepare(m_db, std::string("select COUNT(*) from ") + m_fileTable + ";");
  if (!s || sqlite3_step(s.get()) != SQLITE_ROW) return 0;
  return sqlite3_column_int64(s.get(), 0);
}

int64_t ScanResultDb::LoadFiles() {
  if (!m_db || !m_callback) return 0;
  const int64_t count = std::max<int64_t>(CountFiles(), 1);
  Statement s = Prepare(m_db, std::string("select * from ") + m_fileTable + ";");
  if (!s) return 0;
  int64_t rows = 0;
  while (sqlite3_step(s.get()) == SQLITE_ROW) {
    const uint64_t id = uint64_t(sqlite3_column_int64(s.get(), 0));
    const wchar_t* name = static_cast<const wchar_t*>(sqlite3_column_text16(s.get(), 1));
    const uint64_t parent = uint64_t(sqlite3_column_int64(s.get(), 2));
    const uint64_t size = uint64_t(sqlite3_column_int64(s.get(), 3));
    const uint64_t time = uint64_t(sqlite3_column_int64(s.get(), 4));
    const uint32_t attributes = uint32_t(sqlite3_column_int(s.get(), 5));
    const int32_t progress = int32_t(rows * 10000 / count);
    ++rows;
    if (!m_callback(m_task, name ? name : L"", 0, Low(id), High(id), Low(parent), High(parent), Low(size),
                    High(size), Low(time), High(time), attributes, 0, progress))
      break;
  }
  return rows;
}

int ScanResultDb::LoadPartition(StoredPartition* row) {
  if (!m_db || !row) return 1;
  Statement s = Prepare(m_db, std::string("select * from ") + m_partitionTable + ";");
  if (!s || sqlite3_step(s.get()) != SQLITE_ROW) return 1;
  sqlite3_stmt* r = s.get();
  row->disk = sqlite3_column_int(r, 1);
  const int columns = sqlite3_column_count(r);
  const char* third = columns > 2 ? sqlite3_column_name(r, 2) : nullptr;
  // Older files carry only the disk index.
  if (third && std::strcmp(third, "serialNo") == 0 && columns >= 9) {
    row->hasSerial = true;
    if (const unsigned char* serial = sqlite3_column_text(r, 2)) {
      const int bytes = std::min(sqlite3_column_bytes(r, 2), 128);
      std::memcpy(row->serial, serial, size_t(bytes));
      row->serial[bytes] = '\0';
    }
    row->partition = sqlite3_column_int(r, 3);
    row->startSector = uint64_t(sqlite3_column_int64(r, 4));
    // The boot sector is taken only when the row holds all of it: a short or long
    // blob is not a boot sector, and copying it would read past the column.
    const void* boot = sqlite3_column_blob(r, 5);
    if (boot && sqlite3_column_bytes(r, 5) == int(kBootSectorBytes)) {
      std::memcpy(row->bootSector, boot, kBootSectorBytes);
    } else {
      std::memset(row->bootSector, 0, kBootSectorBytes);
    }
    if (sqlite3_column_type(r, 6) == SQLITE_TEXT) {
      const unsigned char* letter = sqlite3_column_text(r, 6);
      row->driveLetter = letter ? char(letter[0]) : 0;
    } else {
      row->driveLetter = char(sqlite3_column_int(r, 6));
    }
    row->partitionType = uint16_t(sqlite3_column_int(r, 7));
    row->progress = uint64_t(sqlite3_column_int64(r, 8));
  }
  std::printf("Load Result From Disk: %d,Part: %d,Progress: %llu\n", row->disk, row->partition,
              static_cast<unsigned long long>(row->progress));
  std::fflush(stdout);
  return 0;
}
