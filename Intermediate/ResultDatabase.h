// The deep-scan result database: one SQLite file per scan with the hits (FileInfo) and
// the scanned partition with the scan's resume position (PartitionInfo), written while
// the scan runs and replayed into a task's tree when a stored result is loaded.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// The record callback of the scan routines (task first), as the replay calls it.
using ResultRecordCallback = int(__cdecl*)(void* task, const wchar_t* name, uint32_t kind, uint32_t idLow,
                                           uint32_t idHigh, uint32_t parentLow, uint32_t parentHigh,
                                           uint32_t sizeLow, uint32_t sizeHigh, uint32_t timeLow, uint32_t timeHigh,
                                           uint32_t attributes, int32_t deleted, int32_t progress);

// The one row of PartitionInfo.
struct StoredPartition {
  int32_t disk = 0;
  int32_t partition = 0;
  char serial[129] = {};
  uint64_t startSector = 0;
  uint8_t bootSector[512] = {};
  char driveLetter = 0;
  uint16_t partitionType = 0;
  uint64_t progress = 0;
  bool hasSerial = false;  // false for files whose table has only the disk index
};

class ScanResultDb {
 public:
  static constexpr size_t kBootSectorBytes = 512;

  // A new result: "DeepScanResult\<local time>.db" beside the host program, made
  // unique when another scan took that name in the same second.
  ScanResultDb();
  // A stored result, replayed through callback for task. Opened read-write when
  // writable, for a resumed scan to go on storing; never created.
  ScanResultDb(const wchar_t* path, ResultRecordCallback callback, void* task, bool readOnly = false);
  ~ScanResultDb();
  ScanResultDb(const ScanResultDb&) = delete;
  ScanResultDb& operator=(const ScanResultDb&) = delete;

  // Opens (a new result: creates) the file and makes both tables when missing; false
  // when the file cannot be opened.
  bool Open();
  bool IsOpen() const { return m_db != nullptr; }
  const std::wstring& Path() const { return m_path; }

  int InsertFile(uint64_t id, const wchar_t* name, uint64_t parentId, uint64_t size, uint64_t time,
                 uint32_t attributes);
  int InsertPartition(const char* serial, int32_t disk, int32_t partition, char driveLetter, uint16_t type,
                      uint64_t startSector, const uint8_t* bootSector);
  // Stores the resume position; the hits inserted before it are committed with it.
  int UpdateProgress(uint64_t position);
  int64_t CountFiles();
  // Replays every stored hit; the number replayed.
  int64_t LoadFiles();
  // 0 with the row, 1 when there is none (or the file holds no such table).
  int LoadPartition(StoredPartition* row);

  // Commits what was inserted since the last commit.
  void Flush();

 private:
  int Execute(const char* sql);
  int StepOnce(sqlite3_stmt* statement);
  void BeginBatch();
  bool CreateUniqueFile();

  std::wstring m_path;
  sqlite3* m_db = nullptr;
  const char* m_fileTable = "FileInfo";
  const char* m_partitionTable = "PartitionInfo";
  ResultRecordCallback m_callback = nullptr;
  void* m_task = nullptr;
  bool m_loading = false;
  bool m_readOnly = false;
  bool m_inBatch = false;
  int m_batchRows = 0;
  sqlite3_stmt* m_insertFile = nullptr;  // kept: a scan inserts one row per hit
  CRITICAL_SECTION m_lock;                // the scan thread writes, the host thread may flush
};
