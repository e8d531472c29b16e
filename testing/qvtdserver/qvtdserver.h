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
//     serial "SERIAL|model" (the disk's serial and model text), bootSector the partition's first 512 bytes. 0, or -6.
//   GetDiskBySerialNo: 0 and *realDiskIndex = the disk's index when the serial (up to a
//     first '|') is this disk's; 1 when it is another's; -87 null serial, -6 unknown disk.
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
//   36  place (u32): the number that the record's place gives, plus one; 0 when it is
//       not known. A normal walk hands each record at its place (number + 1). A formatted
//       walk takes the place from the current $MFT when the record lies in it, else from
//       the record of the same size handed right before it on disk (its place, or its
//       number when it had none, + 1), else from the own number of the record right after
//       it (- 1). A record whose own number differs from its place is a copy or damaged.
// The block and its buffer belong to the core and stay valid until the DLL unloads.
typedef struct QvtdNtfsRecordBlock {
  uint64_t recordNumber;
  uint64_t recordCount;
  uint32_t recordSize;
  uint32_t bytesPerCluster;
  void*    task;
  void*    partition;
  uint8_t* buffer;
  uint32_t place;
} QvtdNtfsRecordBlock;

// Called once per record; its result is the task's running flag: 0 stops the walk.
typedef int  (QVTD_API *QvtdNtfsRecordCallback)(QvtdNtfsRecordBlock* block);
// Called exactly once per NTFSEnumVirtualFRs call that has a finish callback: after the
// last record, after a stop, and also when the volume is refused (record count 0 then).
typedef void (QVTD_API *QvtdNtfsFinishCallback)(void* task, QvtdNtfsRecordBlock* block);

// NTFSEnumVirtualFRs: context is the disk context (not needed, may be null). formatted 0
// walks $MFT (located from the boot sector, its run list decoded from record 0 and, when
// its data goes on in extension records, from those that a resident $ATTRIBUTE_LIST names
// and whose base reference, number and sequence, is record 0's)
// and hands over every record 0..N-1, in use or not, N = $MFT data
// size / record size; records lying in unmapped or unreadable clusters are left out.
// The record count is capped at what $MFT's runs and the partition can hold.
// formatted 1 scans the whole partition for "FILE" records at 512-byte steps (header checked:
// allocated size a power of two 512..64 KiB, update sequence offset and count = size/512+1,
// first attribute offset) and hands each over under its own number (0x2C when the first
// attribute offset is above 0x30 and the number is not 0), else under the number its place
// in the current $MFT gives, else (no number field) partition offset / record size; the
// block's place field tells the place (above).
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
// walk's map: the $MFT run list, or for a formatted walk the records it found: of those
// claiming one number, the first found whose place does not contradict it, else the
// first found), a partition handle (its last normal walk's run list, decoded now when
// there was none), or a disk context (the partition of that disk walked last).
// Returns the record size (> 0), 0 for a record past the end or not mapped, -6 unknown
// context, -87 null buffer, -23 read failure, -1005/-1392 as above.
int      QVTD_API NTFSReadVirtualMFT(void* context, uint64_t recordNumber, void* buffer);

// ---- Deep scans (signature carver) ----
// Record callback of the deep scans (the task first; as the product's record callback):
// a hit is (name "fSECTOR.ext", kind 0, own id = its location, parent 8, size, time 0,
// attributes 0x20, deleted 0, progress 0..10000); a record with own id 0 carries only the
// progress. The result is the task's running flag: 0 stops the scan.
typedef int  (QVTD_API *QvtdDeepRecordCallback)(void* task, const wchar_t* name, uint32_t kind, uint32_t idLow,
                                                uint32_t idHigh, uint32_t parentLow, uint32_t parentHigh,
                                                uint32_t sizeLow, uint32_t sizeHigh, uint32_t timeLow,
                                                uint32_t timeHigh, uint32_t attributes, int32_t deleted,
                                                int32_t progress);
typedef void (QVTD_API *QvtdDeepFinishCallback)(void* task, int32_t value);
// Resume position: the scan restarted there finds exactly the hits not reported yet.
typedef void (QVTD_API *QvtdDeepProgressCallback)(void* task, uint32_t positionLow, uint32_t positionHigh);
// A hit's location is its byte offset in the scanned area plus this (so never 0, 8 or all ones).
#define kQvtdDeepLocationBase 0x10ull
// DeepScanRoutine: every sector of the partition from the resume position on (rounded down
//   to a sector) is tested for JPEG, PNG, GIF, BMP, PDF, ZIP (docx/xlsx/pptx, odt/ods/odp,
//   epub, jar by their parts), MP3, WAV, AVI, MP4/MOV/M4A/3GP, Ogg (ogg/ogv/opus) and MPEG
//   program streams; a hit's length comes from its own structure, and the scan goes on
//   after it. Every 4 MiB: progressBlock[1] = progress, the progress callback with the
//   resume position, a progress-only record. Once more with the position when stopped.
//   The finish callback once at the end. itemCount and loading are the host's, unused.
//   0; -6 unknown partition; -87 null record callback. QvtdSetRecordDelay sleeps before
//   each record.
// DiskDeepScanRoutine: the same over the whole disk (the whole-disk handle, else the disk
//   of diskContext).
// RecoverDeepScanFile: writes size bytes (all 64 bits: sizeLow, sizeHigh) from the hit's
//   location to target (created or replaced). 0, -6, -87 (location or size outside the
//   partition), -30 read failure, or the target's -(Windows error).
int      QVTD_API DeepScanRoutine(void* diskContext, void* partition, QvtdDeepRecordCallback onRecord,
                                  QvtdDeepFinishCallback onFinish, void* task, uint32_t* progressBlock,
                                  QvtdDeepProgressCallback onProgress, uint32_t resumeLow, uint32_t resumeHigh,
                                  int itemCount, int loading);
int      QVTD_API DiskDeepScanRoutine(void* diskContext, void* wholeDisk, QvtdDeepRecordCallback onRecord,
                                      QvtdDeepFinishCallback onFinish, void* task, uint32_t* progressBlock,
                                      QvtdDeepProgressCallback onProgress, uint32_t resumeLow,
                                      uint32_t resumeHigh, int itemCount, int loading);
int      QVTD_API RecoverDeepScanFile(void* diskContext, void* partition, uint32_t dirBuffer, const wchar_t* target,
                                      uint32_t locationLow, uint32_t locationHigh, uint32_t sizeLow,
                                      uint32_t sizeHigh, uint32_t time, int partitionIndex);
// ---- end of deep scans ----

// ---- Partition search and repair (lost partitions) ----
// Search progress: progress 0..10000 of the disk, the partitions found so far, the task;
// the result is the task's running flag (0 stops the search).
typedef int (QVTD_API *QvtdPartitionProgress)(int progress, int foundCount, void* task);
// flags bit 1 of a found partition's record: its boot sector is lost, its backup is whole.
#define kQvtdFoundBootLost 2u
// RecoverPartitionRoutine: scans every sector of the disk (diskContext, else the disk of
//   that index) for NTFS, FAT12/16/32 and exFAT boot sectors and for their backups (NTFS:
//   the volume's last sector, FAT32: the sector its BPB names, usually 6, exFAT: the boot
//   region at sectors 12-23 with its checksum), each checked against the structures it
//   names ($MFT record, first FAT sector); overlapping finds are dropped. Reads only, in
//   1 MiB steps (QvtdSetRecordDelay sleeps before each), calling progress after each.
//   0, -1223 when stopped, -6 unknown disk.
// GetRecoveredPartitions: the last search's finds in disk order as PartitionRecords
//   (number 1.., table kind 0, MBR type byte the table would get), at most
//   min(foundCount, count); returns the number written, -6, -87.
// RepairDiskPartTableRoutine: writes the MBR from the last search (searching first when
//   there was none): up to four primaries, else three and the rest as logicals behind EBRs
//   in the free sector before each. The boot code area is kept. 0, -1005 nothing found,
//   -50 past what an MBR addresses, -29 write failure, -6.
// RepairPartBootRoutine: a partition without a boot sector gets it back from its backup,
//   when that copy is whole and describes this partition. 0 (also when nothing was
//   missing), -1005 no usable backup, -29, -6.
int      QVTD_API RecoverPartitionRoutine(void* diskContext, int diskIndex, QvtdPartitionProgress progress, void* task);
int      QVTD_API GetRecoveredPartitions(void* diskContext, int foundCount, QvtdPartitionRecord* out, int count);
int      QVTD_API RepairDiskPartTableRoutine(void* diskContext, void* task);
int      QVTD_API RepairPartBootRoutine(void* partition, void* diskContext, void* task);
// ---- end of partition search and repair ----

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

// ---- FAT and exFAT scans ----
// FATFormattedScanRoutine(partition, context, onVolume, worker, progressBlock): reads the
// boot sector and calls onVolume(worker, charsetContext, values, 512) once on the calling
// thread (charsetContext null: CharSetTransfer's OEM code page). Afterwards, when the
// callback set values->rawSectorCallback, every sector past cluster 1 of the volume that
// looks like a directory sector (FAT: only valid entries and zeros; exFAT: only known
// entry types, with a file, stream or name entry) is handed to it in volume order, as a
// record whose ids and parent ids are all ones (the raw-sector channel):
//   rawSectorCallback(rawSectorTask, name = the sector's bytes (cast, not text),
//                     kind = the sector's length in bytes, id = parent = 0xFFFFFFFF pairs,
//                     size = the sector's byte offset in the volume (low, high),
//                     time = 0, 0, attributes = 0, deleted = 0, progress 0..10000)
// The bytes are valid during the call only; a result of 0 ends the scan. progressBlock
// word 1 gets the progress (10000 when the scan ends without a stop). QvtdSetRecordDelay
// sleeps before each sector; QvtdInjectFault(1) faults after the 16th. Unreadable chunks
// are passed over. Returns 0, -6 unknown partition, -87 null callback, -23 unreadable boot.
typedef struct QvtdFatVolumeValues QvtdFatVolumeValues;
typedef int (QVTD_API *QvtdFatRecordCallback)(void* task, const wchar_t* name, uint32_t kind, uint32_t idLow,
                                              uint32_t idHigh, uint32_t parentLow, uint32_t parentHigh,
                                              uint32_t sizeLow, uint32_t sizeHigh, uint32_t timeLow,
                                              uint32_t timeHigh, uint32_t attributes, int32_t deleted,
                                              int32_t progress);
struct QvtdFatVolumeValues {
  uint32_t bytes;                           // 32
  uint32_t bootLength;                      // 512
  uint64_t partitionBytes;
  QvtdFatRecordCallback rawSectorCallback;  // out: set by a formatted scan
  void*    rawSectorTask;                   // out: its first argument
  uint32_t reserved[2];
};
typedef int (QVTD_API *QvtdFatVolumeCallback)(void* worker, void* charsetContext, QvtdFatVolumeValues* values,
                                              uint32_t bootLength);
int QVTD_API FATFormattedScanRoutine(void* partition, void* context, QvtdFatVolumeCallback onVolume, void* worker,
                                     uint32_t* progressBlock);
// RecoverFATFile: writes one file of a FAT12/16/32 volume to path (created, overwritten):
// block->deleted 0 follows the FAT chain from firstCluster, 1 takes consecutive clusters
// from it, passing over clusters that the FAT marks allocated. size bytes are written and
// the file gets unixTime as its write time. 0; -1392 when the chain ends or the volume
// ends before the file does (or firstCluster is no cluster); -23 read failure; -6, -87;
// -(Windows error) of the target. A file that fails is deleted again.
typedef struct QvtdFatFileBlock {
  uint32_t bytes;    // 8
  uint32_t deleted;
} QvtdFatFileBlock;
int QVTD_API RecoverFATFile(void* partition, void* context, const QvtdFatFileBlock* block, const wchar_t* path,
                            uint32_t firstCluster, uint64_t size, uint64_t unixTime);
// CharSetTransfer also converts back: a negative targetBytes takes source as UTF-16
// (sourceBytes bytes; < 0: NUL-terminated) and writes at most -targetBytes bytes in the
// code page into target (cast); returns the bytes written (no terminator).
// ---- end of FAT and exFAT ----

// ---- Hold hooks (tests only) --------------------------------------------------------
// They hold a walk or a read in a known state until the test lets it go, so that a test
// waits on that state instead of sleeping. The events are the test's own (auto- or
// manual-reset); the core only sets and waits on them.
// QvtdHoldBeforeRecord: before the nth record that any scan routine hands over from now
// on (1 = the next), the walking thread sets held, then waits until release is set (at
// most 120 s, so that a failed test cannot hang the walk). Once per call; nth 0 or a
// null event disarms. 0, or -87 for a negative nth.
int      QVTD_API QvtdHoldBeforeRecord(int nth, void* held, void* release);
// QvtdSignalErrorWait: a reading thread that met a bad range sets entered after the
// host's callback, right before it calls the wait function (null: no signal). 0.
int      QVTD_API QvtdSignalErrorWait(void* entered);

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
