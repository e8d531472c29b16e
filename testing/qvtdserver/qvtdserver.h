// Stand-in for the maker's core disk library "qvtdserver.dll", over raw image files.
// This header states every signature and opaque layout the stand-in uses; the
// product (Intermediate) declares its own function types and never includes it.
//
// All exports are undecorated cdecl functions (see qvtdserver.def).
//
// Which files are disks: the environment variable QVTD_IMAGES holds image paths
// separated by ';' (disk 0, 1, ...). When it is unset, "qvtdserver.ini" beside the
// DLL is read: section [disks], keys image0, image1, ... Each image is one disk:
// MBR (with extended partitions), GPT, or a bare volume (one partition, number 1).
// A path may end in "|X" (X a letter): the disk's NTFS partitions then carry drive
// letter X, as a mounted volume would.
#pragma once
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QVTD_API __cdecl

// DiskRecord: 280 bytes, filled by EnumDisks.
//   0-3   disk index (int32)         4-7   sector size (u32)
//   8-15  disk size in bytes (u64)
//   16-143  first text: model ("QVTD Virtual Disk N"), NUL-terminated
//   144-271 second text: serial number ("QVTD-<hex of path hash>"), NUL-terminated
//   272-275 disk context (opaque pointer of the stand-in)
//   276-279 whole-disk partition handle (opaque pointer)
typedef struct QvtdDiskRecord {
  int32_t  index;
  uint32_t sectorSize;
  uint64_t size;
  char     model[128];
  char     serial[128];
  void*    context;
  void*    wholeDisk;
} QvtdDiskRecord;

// PartitionRecord: 368 bytes, filled by EnumPartitions.
//   0    partition number (int32, 1-based in table order; bare volume: 1)
//   4    partition table kind: 0 bare, 1 MBR primary, 2 MBR logical, 3 GPT (u32)
//   8    first byte on the disk (u64)
//   16   MBR type byte / 0 (u32)
//   20   size in bytes (u64)
//   28   first sector (u64)
//   36   sector size (u32)
//   40   flags: bit 0 bootable/active (u32)
//   44   file-system type (u16): 1 FAT12, 2 FAT16, 4 FAT32, 256 NTFS, 512 exFAT, 0 unknown
//   46   drive letter (one byte, 0 = none)
//   47   reserved
//   48   volume label (wide, 32 characters)
//   112  GPT type GUID (16 bytes), 128 GPT partition GUID (16 bytes)
//   144-367 reserved, zero
typedef struct QvtdPartitionRecord {
  int32_t  number;
  uint32_t tableKind;
  uint64_t firstByte;
  uint32_t mbrType;
  uint64_t size;
  uint64_t firstSector;
  uint32_t sectorSize;
  uint32_t flags;
  uint16_t fsType;
  uint8_t  driveLetter;
  uint8_t  reserved0;
  wchar_t  label[32];
  uint8_t  gptType[16];
  uint8_t  gptId[16];
  uint8_t  reserved[224];
} __attribute__((packed)) QvtdPartitionRecord;

// Host read-error callback: called on the reading thread when a read meets a bad
// sector range; the core then calls the wait function, whose result decides:
// 0 retry the read, 1 skip (the bad bytes read as zeros), anything else abort the read.
typedef void (QVTD_API *QvtdScanErrorHandler)(int diskIndex, uint64_t byteOffset, uint32_t length,
                                              uint32_t errorCode);
typedef int (QVTD_API *QvtdErrorWait)(void);

// Disk contexts and partition handles stay valid until the DLL unloads, also across
// EnumDisks calls; an unchanged image (same path, size and write time) keeps its context.
// Every handle argument is checked: a value this core did not issue is refused, never used.
//
// Return values (negative errors are -(Windows error code)):
//   InitBitLockerReader, SetPartBitLocker, SetErrorHandler: 0.
//   InitLog: 0, or -(error) when the log file cannot be opened.
//   EnumDisks: the number of disks n (may exceed capacity; min(capacity, n) records are
//     filled). Images that cannot be opened are left out (and logged).
//   EnumPartitions: first is 0-based (the partition numbered first + 1), count records at
//     most; *found = records written (0 past the end). 0 on success, -87 for a null
//     disk/found, first < 0, count < 0 or a null out with count > 0, -6 for a disk record
//     whose context is not a disk of this core.
//   GetPartition: partitionIndex is the partition number (1-based); 0x2000 gives the
//     whole-disk handle (type 0). Null for anything else; *type = 0 then.
//   GetPartitionInfo: the partition is the handle, or else partitionIndex on diskContext.
//     partitionBlock (368 bytes, may be null) receives its PartitionRecord, *partCount = 1,
//     serial the disk's serial, bootSector the partition's first 512 bytes. 0, or -6.
//   GetDiskBySerialNo: 0 and *realDiskIndex = the disk's index when the serial is this
//     disk's; 1 when it is another's; -87 null serial, -6 unknown disk.
//   GetDiskDeepScanSize: the partition's size for a partition handle (the disk's size for
//     the whole-disk handle); else the disk's size for a disk context; else 0.
//   ReadPartition: bytes read, clamped at the partition end (0 at or after it); -6 unknown
//     handle, -87 length above INT32_MAX or null buffer, -23 read failure (a bad sector
//     without a handler, or the host's abort). diskContext is not needed and may be null.
//   ReleaseCacheBuffer, ReleaseDirBuffer: accept any value; nothing is freed. 0.
//   CharSetTransfer: wide characters written (terminated, truncated to targetBytes / 2 - 1);
//     sourceBytes < 0 means NUL-terminated; a charsetContext that is a valid code page
//     number selects it, else the OEM code page. -87 bad arguments.
int      QVTD_API InitBitLockerReader(void);
int      QVTD_API InitLog(void);
// One line per call: "level<TAB>source<TAB>function<TAB>line<TAB>message" (message on one line).
void     QVTD_API WriteLog(int level, const char* source, const char* function, int line, const char* format, ...);
// Wide format with the Microsoft runtime's rules (%s = wide string); written as UTF-8.
void     QVTD_API WriteLogW(int level, const char* source, const char* function, int line, const wchar_t* format, ...);

int      QVTD_API EnumDisks(int capacity, QvtdDiskRecord* table);
int      QVTD_API EnumPartitions(QvtdDiskRecord* disk, int first, int count, QvtdPartitionRecord* out, int* found);
void*    QVTD_API GetPartition(QvtdDiskRecord* disk, int partitionIndex, uint16_t* type);
int      QVTD_API GetPartitionInfo(void* diskContext, void* partition, int partitionIndex, void* partitionBlock,
                                   int* partCount, char serial[128], uint8_t bootSector[512]);
int      QVTD_API GetDiskBySerialNo(QvtdDiskRecord* disk, const char* serial, uint64_t startSector,
                                    const uint8_t* bootSector, int* realDiskIndex);
uint64_t QVTD_API GetDiskDeepScanSize(void* diskContext, void* wholeDisk);

int      QVTD_API ReadPartition(void* partition, void* diskContext, uint64_t byteOffset, uint32_t length, void* buffer);
int      QVTD_API ReleaseCacheBuffer(void* buffer);
void     QVTD_API ReleaseDirBuffer(void* handle);
int      QVTD_API SetPartBitLocker(void* partition, int value);
int      QVTD_API CharSetTransfer(void* charsetContext, const char* source, int sourceBytes, wchar_t* target, int targetBytes);
// The host callback gets the disk index, the disk-relative offset of the first bad byte
// of the read, the length up to its last bad byte, and error code 23 (ERROR_CRC).
// A null host or wait removes the handler: bad reads then simply fail.
int      QVTD_API SetErrorHandler(QvtdScanErrorHandler host, QvtdErrorWait wait);

// NTFS walk. Record block: what NTFSEnumVirtualFRs hands to the record callback and to the
// finish callback, and what NTFSReadVirtualMFT takes as its context (40 bytes):
//   0   number of the MFT record in the buffer (u64)
//   8   number of MFT records in the volume (u64; formatted walk: partition size / the boot
//       sector's record size, 1024 when it is unreadable)
//   16  size of one file record in bytes (u32; formatted walk: that record's allocated size)
//   20  bytes per cluster (u32; formatted walk on an unreadable boot sector: 4096)
//   24  the task given to NTFSEnumVirtualFRs
//   28  the partition handle walked (the product does not use it)
//   32  pointer to the record buffer: the record as it lies on disk, fixups NOT applied
// The block and its buffer belong to the core and stay valid until the DLL unloads.
typedef struct QvtdNtfsRecordBlock {
  uint64_t recordNumber;
  uint64_t recordCount;
  uint32_t recordSize;
  uint32_t bytesPerCluster;
  void*    task;
  void*    partition;
  uint8_t* buffer;
} QvtdNtfsRecordBlock;

// Called once per record; its result is the task's running flag: 0 stops the walk.
typedef int  (QVTD_API *QvtdNtfsRecordCallback)(QvtdNtfsRecordBlock* block);
// Called exactly once per NTFSEnumVirtualFRs call that has a finish callback: after the
// last record, after a stop, and also when the volume is refused (record count 0 then).
typedef void (QVTD_API *QvtdNtfsFinishCallback)(void* task, QvtdNtfsRecordBlock* block);

// NTFSEnumVirtualFRs: context is the disk context (not needed, may be null). formatted 0
// walks $MFT (located from the boot sector, its run list decoded from record 0 and, when
// its data goes on in extension records, from those that a resident $ATTRIBUTE_LIST names)
// and hands over every record 0..N-1, in use or not, N = $MFT data
// size / record size; records lying in unmapped or unreadable clusters are left out.
// The record count is capped at what $MFT's runs and the partition can hold.
// formatted 1 scans the whole partition for "FILE" records at 512-byte steps (header checked:
// allocated size a power of two 512..64 KiB, update sequence offset and count = size/512+1,
// first attribute offset) and hands each over under its own number (0x2C when the first
// attribute offset is above 0x30 and the number is not 0), else under the number its place
// in the current $MFT gives, else (no number field) partition offset / record size.
// progressBlock (may be null): an array of u32; word 0 is the directory-buffer handle (left
// alone), word 1 receives the progress 0..10000 (records handed over / bytes scanned); it
// is 10000 when a walk ends without a stop.
// QvtdSetRecordDelay sleeps before each record; QvtdInjectFault(1) raises an access
// violation on the calling thread right after the 16th record (or after the last, when
// there are fewer), with no lock held; the finish callback is then not called.
// Returns 0 (also after a stop), -6 unknown partition handle, -87 null record callback,
// -1005 (unrecognised volume) for a refused boot sector, -1392 (file corrupt) for an
// unusable $MFT record 0 or run list, -23 when the boot sector or record 0 cannot be read.
int      QVTD_API NTFSEnumVirtualFRs(void* partition, void* context, int formatted, QvtdNtfsRecordCallback onRecord,
                                     QvtdNtfsFinishCallback onFinish, void* task, uint32_t* progressBlock);
// NTFSReadVirtualMFT: reads MFT record recordNumber as it lies on disk (fixups not applied)
// into buffer, which must hold the record size. context is a record block of a walk (its
// walk's map: the $MFT run list, or for a formatted walk the records it found, first find
// of a number wins), a partition handle (its last normal walk's run list, decoded now when
// there was none), or a disk context (the partition of that disk walked last).
// Returns the record size (> 0), 0 for a record past the end or not mapped, -6 unknown
// context, -87 null buffer, -23 read failure, -1005/-1392 as above.
int      QVTD_API NTFSReadVirtualMFT(void* context, uint64_t recordNumber, void* buffer);

// Test hooks (not part of the core's interface; used by tests through GetProcAddress).
// QvtdSetImages: replaces the image list (';'-separated) before the next EnumDisks;
// it wins over QVTD_IMAGES and the INI file. Null goes back to those. Returns 0.
int      QVTD_API QvtdSetImages(const char* paths);
// QvtdInjectBadRange: reads that touch [byteOffset, byteOffset+length) of disk diskIndex
// fail until cleared (length 0 clears all ranges of that disk; diskIndex -1 all disks).
// Disk indices are those of the last EnumDisks. 0, or -87 for no such disk.
int      QVTD_API QvtdInjectBadRange(int diskIndex, uint64_t byteOffset, uint64_t length);
// QvtdSetRecordDelay: milliseconds slept before each record a scan routine hands over
// (0 = none). 0, or -87 when negative.
int      QVTD_API QvtdSetRecordDelay(int milliseconds);
// QvtdInjectFault: 1 makes the next scan routine raise an access violation inside the core
// (0 = none). 0, or -87 when negative.
int      QVTD_API QvtdInjectFault(int kind);
// QvtdLogPath: where WriteLog appends (default "qvtdserver.log" beside the DLL, or QVTD_LOG,
// read at each write). Returns the path's length, or -122 when it does not fit with its NUL.
int      QVTD_API QvtdLogPath(char* buffer, int capacity);

// ---- Read hold (test hooks) ----
// A hold that ReadPartition calls wait at, so that a test acts while a reader (a
// recovery) is known to be mid-way, then lets it go on.
// QvtdHoldReads: arms the hold: afterReads more ReadPartition calls pass, every later
//   one waits until QvtdReleaseReads. 0, or -87 when negative.
// QvtdWaitReadHeld: 0 once a read waits at the armed hold, 258 (WAIT_TIMEOUT) when none
//   did within the milliseconds given; -87 when negative.
// QvtdReleaseReads: disarms the hold; waiting reads go on. 0.
int      QVTD_API QvtdHoldReads(int afterReads);
int      QVTD_API QvtdWaitReadHeld(int milliseconds);
int      QVTD_API QvtdReleaseReads(void);
// ---- end of read hold ----

#ifdef __cplusplus
}
#endif
