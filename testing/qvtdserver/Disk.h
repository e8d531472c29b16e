// Internal disk model of the stand-in core: an image file is a disk, its partition
// table gives the partitions, and every read of a partition goes through
// Partition::Read, the only place that adds the partition's first byte.
#pragma once
#include <stdint.h>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Handles.h"

namespace qvtd {

enum class Res { Ok, Corrupt, IoError, Unsupported, NotThisFs, BadArgument };

constexpr uint32_t kSectorSize = 512;
constexpr int kWholeDiskIndex = 0x2000;

// File-system type words as the interface reports them.
enum FsType : uint16_t { kFsUnknown = 0, kFsFat12 = 1, kFsFat16 = 2, kFsFat32 = 4, kFsNtfs = 256, kFsExFat = 512 };

enum TableKind : uint32_t { kTableBare = 0, kTableMbrPrimary = 1, kTableMbrLogical = 2, kTableGpt = 3 };

enum class Layout { Empty, Bare, Mbr, Gpt };

// Positional reads of one image file, safe from several threads at once: every
// ReadFile names its own offset, so no file pointer is shared.
class ImageFile {
public:
  Res Open(const std::string& path);
  uint64_t Size() const { return m_size; }
  uint64_t WriteTime() const { return m_writeTime; }
  // Reads up to length bytes at offset; got = bytes read (short at the file end).
  Res ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) const;

private:
  UniqueFile m_file;
  uint64_t m_size = 0;
  uint64_t m_writeTime = 0;
};

class Disk;

class Partition {
public:
  Disk* disk = nullptr;
  int number = 0;           // 1-based in table order; kWholeDiskIndex for the whole disk
  uint32_t tableKind = kTableBare;
  uint64_t firstByte = 0;
  uint64_t size = 0;        // as the table claims it
  uint32_t mbrType = 0;
  uint32_t flags = 0;       // bit 0 active
  uint16_t fsType = kFsUnknown;
  std::wstring label;
  uint8_t gptType[16] = {};
  uint8_t gptId[16] = {};

  bool IsWholeDisk() const { return number == kWholeDiskIndex; }

  // Volume-relative read, clamped at the partition end (and at the end of the image).
  // got = bytes placed in buffer; bad sectors go through the host's error handshake.
  Res Read(uint64_t offset, void* buffer, size_t length, size_t& got) const;
};

class Disk {
public:
  std::string path;          // as listed
  std::string fullPath;      // normalised, identifies the image across enumerations
  std::string serial;
  char driveLetter = 0;        // from a "path|C" list item; every NTFS partition shows it
  std::atomic<int> index{-1};  // position in the last enumeration, -1 when no longer listed
  Layout layout = Layout::Empty;
  Partition whole;
  std::vector<std::unique_ptr<Partition>> partitions;

  Res Open(const std::string& listedPath);
  uint64_t Size() const { return m_image.Size(); }
  uint64_t WriteTime() const { return m_image.WriteTime(); }

  // Disk-relative read clamped at the image end, with bad-range handling.
  Res ReadChecked(uint64_t offset, void* buffer, size_t length, size_t& got) const;
  // Raw read for table parsing: no bad-range handling.
  Res ReadRaw(uint64_t offset, void* buffer, size_t length, size_t& got) const
  { return m_image.ReadAt(offset, buffer, length, got); }

  // Injected bad ranges (test hook). length 0 clears all.
  void AddBadRange(uint64_t offset, uint64_t length);
  void ClearBadRanges();

private:
  struct Range { uint64_t first, end; };
  // The parts of [offset, end) that meet a bad range, in order.
  std::vector<Range> BadParts(uint64_t offset, uint64_t end) const;

  ImageFile m_image;
  mutable std::mutex m_badLock;
  std::vector<Range> m_bad;
};

// Partition table parsing (PartitionTable.cpp): fills disk.layout and disk.partitions.
void ReadPartitionTable(Disk& disk);

// Boot sector probe (VolumeProbe.cpp): the file-system type word and the label.
uint16_t ProbeFileSystem(const uint8_t* bootSector, size_t length);
void ReadVolumeLabel(const Partition& partition, std::wstring& label);

// Log lines of the core itself (Log.cpp).
void CoreLog(int level, const char* function, int line, const char* format, ...);

}  // namespace qvtd
