// Records that cross the library boundary. The host and the core see these exact
// byte layouts; the asserts keep the compiler from moving a field.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#pragma pack(push, 4)

// One disk as the core's EnumDisks fills it. Bytes 0-271 are the core's and the
// only part the host sees; the last two words are ours to hand back to the core.
struct DiskRecord {
  uint8_t  coreData[8];
  uint64_t size;
  char     firstText[128];
  char     secondText[128];
  void*    diskContext;
  void*    wholeDiskHandle;
};
constexpr size_t kDiskRecordHostBytes = 272;
constexpr size_t kDiskTextBytes = 128;

// The core's partition record, opaque except for the four fields read by offset.
struct PartitionRecord {
  uint8_t bytes[368];

  int32_t  Number() const { return ReadAt<int32_t>(0); }
  uint64_t Size() const { return ReadAt<uint64_t>(20); }
  uint16_t FileSystemType() const { return ReadAt<uint16_t>(44); }
  uint8_t  DriveLetter() const { return bytes[46]; }

 private:
  // Fields are not aligned (the size sits at byte 20): copy, never cast.
  template <class T>
  T ReadAt(size_t offset) const {
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
  }
};

// File-system type words of the core.
enum : uint16_t {
  kFsNone = 0,
  kFsFat12 = 1,
  kFsFat16 = 2,
  kFsFat32 = 4,
  kFsNtfs = 256,
  kFsExFat = 512,
};

// Page element of the enumeration exports.
struct ScanFileRecord {
  uint64_t globalId;
  uint64_t id;        // external: internal + 1, 0 = none
  uint64_t parentId;  // external
  uint64_t size;
  uint64_t time;      // Unix seconds
  uint32_t attributes;
  uint32_t taskId;    // source word that combined tasks route by
  wchar_t  name[256];
};
constexpr uint32_t kAttrFolder = 0x10;
constexpr uint32_t kAttrFolderMask = 0x10000010;
constexpr uint32_t kAttrDeleted = 0x2000000;
constexpr uint32_t kRawScanSource = 0x10000;

struct ScanFilter {
  int32_t        kind;  // 1 name contains, 2 extension equals, 3 time range, 4 size range
  const wchar_t* value;
  uint64_t       low;
  uint64_t       high;
};

struct RecoverIdItem {
  uint64_t       id;      // external on input, internal once the export has copied it
  const wchar_t* name;    // target name relative to the target folder, '/'-separated
  uint32_t       source;
};

struct FileTypeRecord {
  wchar_t  extension[256];
  uint32_t extensionLength;
  uint32_t fileCount;
  uint64_t totalSize;
};

#pragma pack(pop)

static_assert(sizeof(void*) == 4, "the boundary records are those of 32-bit x86");
static_assert(sizeof(DiskRecord) == 280, "DiskRecord");
static_assert(offsetof(DiskRecord, size) == 8, "DiskRecord.size");
static_assert(offsetof(DiskRecord, firstText) == 16, "DiskRecord.firstText");
static_assert(offsetof(DiskRecord, secondText) == 144, "DiskRecord.secondText");
static_assert(offsetof(DiskRecord, diskContext) == 272, "DiskRecord.diskContext");
static_assert(offsetof(DiskRecord, wholeDiskHandle) == 276, "DiskRecord.wholeDiskHandle");
static_assert(sizeof(PartitionRecord) == 368, "PartitionRecord");
static_assert(sizeof(ScanFileRecord) == 560, "ScanFileRecord");
static_assert(offsetof(ScanFileRecord, id) == 8, "ScanFileRecord.id");
static_assert(offsetof(ScanFileRecord, parentId) == 16, "ScanFileRecord.parentId");
static_assert(offsetof(ScanFileRecord, size) == 24, "ScanFileRecord.size");
static_assert(offsetof(ScanFileRecord, time) == 32, "ScanFileRecord.time");
static_assert(offsetof(ScanFileRecord, attributes) == 40, "ScanFileRecord.attributes");
static_assert(offsetof(ScanFileRecord, taskId) == 44, "ScanFileRecord.taskId");
static_assert(offsetof(ScanFileRecord, name) == 48, "ScanFileRecord.name");
static_assert(sizeof(ScanFilter) == 24, "ScanFilter");
static_assert(offsetof(ScanFilter, value) == 4, "ScanFilter.value");
static_assert(offsetof(ScanFilter, low) == 8, "ScanFilter.low");
static_assert(offsetof(ScanFilter, high) == 16, "ScanFilter.high");
static_assert(sizeof(RecoverIdItem) == 16, "RecoverIdItem");
static_assert(offsetof(RecoverIdItem, name) == 8, "RecoverIdItem.name");
static_assert(offsetof(RecoverIdItem, source) == 12, "RecoverIdItem.source");
static_assert(sizeof(FileTypeRecord) == 528, "FileTypeRecord");
static_assert(offsetof(FileTypeRecord, extensionLength) == 512, "FileTypeRecord.length");
static_assert(offsetof(FileTypeRecord, fileCount) == 516, "FileTypeRecord.count");
static_assert(offsetof(FileTypeRecord, totalSize) == 520, "FileTypeRecord.total");
