// Volume services of the FAT family: geometry, cluster reads through a cache, FAT
// entries of 12, 16 and 32 bits and exFAT's, directory-entry checks; the name, time and
// entry functions that the FAT and exFAT scans share, and CTimeMonitor.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A long name gathered from its 32-byte entries, which hold the name's end first.
struct LongNameAccumulator {
  static constexpr uint32_t kMaxChars = 260;
  wchar_t chars[kMaxChars + 32] = {};
  uint32_t count = 0;       // characters gathered, from `chars`
  uint8_t checksum = 0;     // short-name checksum the entries carry
  uint8_t sequence = 0;     // sequence number of the entry expected next (FAT)
  uint8_t first = 0;        // sequence byte of the run's first entry
  bool deleted = false;
  bool complete = false;    // the run began with its last part and reached part 1
  bool unusable = false;    // a check failed: the name must not be used
  void Reset() { count = 0; checksum = 0; sequence = 0; first = 0; deleted = false; complete = false; unusable = false; }
  std::wstring Text() const;  // the characters without 0xFFFF padding and terminator
};

class CFATService {
 public:
  // boot: the volume's first 512 bytes; firstDataSector: the sector of cluster 0.
  CFATService(void* partition, void* context, const uint8_t* boot, uint64_t firstDataSector, uint32_t clusterLimit,
              uint32_t maxEntry);
  virtual ~CFATService();
  CFATService(const CFATService&) = delete;
  CFATService& operator=(const CFATService&) = delete;

  virtual uint64_t DataStartSector() const { return m_firstDataSector; }
  virtual uint32_t SectorsPerCluster() const { return m_boot[0x0D]; }
  virtual uint32_t BytesPerSector() const { return uint32_t(m_boot[0x0B]) | uint32_t(m_boot[0x0C]) << 8; }
  virtual uint32_t ClusterLimit() const { return m_clusterLimit; }
  virtual uint64_t VolumeDataBytes() const { return m_dataBytes; }
  // 0 with the successor; -1 for a cluster at or past the limit; -2 when the FAT read fails.
  virtual int32_t NextCluster(uint32_t cluster, uint32_t* successor) = 0;
  virtual uint32_t ReadSectors(uint64_t first, uint32_t count, uint8_t* buffer);
  // Clusters copied into buffer (short when a read falls short).
  virtual uint32_t ReadClusters(uint32_t first, uint32_t count, uint8_t* buffer);
  virtual uint32_t ClusterBytes() const { return SectorsPerCluster() * BytesPerSector(); }
  virtual uint32_t ReadFatSectors(uint64_t sector, uint32_t count, uint8_t* buffer);
  // Sets bit c of bitmap (one bit per cluster number) for every allocated cluster; 0 or -1.
  virtual int32_t SetAllocatedBits(uint8_t* bitmap);
  // 1 when the short entry can stand for a file (see the scan), else 0; flags the long
  // name unusable when it does not belong to the entry.
  virtual int32_t ValidateShortEntry(const uint8_t* entry, LongNameAccumulator* name);
  // Puts one long-name part into its slot of name; 0 when it does not continue the name.
  virtual int32_t CollectLongNamePart(const uint8_t* entry, LongNameAccumulator* name);
  virtual void AccumulateLongName(const uint8_t* entry, LongNameAccumulator* name);
  virtual bool IsDotEntry(const uint8_t* entry, uint32_t cluster);
  virtual bool IsDotDotEntry(const uint8_t* entry);

  // Initialises the cache; false when memory ran out.
  bool Valid() const { return m_cache != nullptr; }
  uint32_t MaxEntry() const { return m_maxEntry; }

 protected:
  // size bytes of the FAT at byteOffset, through a window cache; null when unreadable.
  const uint8_t* FatBytes(uint64_t byteOffset, uint32_t size);
  bool InitCache();

  void* m_partition;
  void* m_context;
  uint8_t m_boot[512];
  uint64_t m_firstDataSector;
  uint32_t m_clusterLimit;
  uint64_t m_dataBytes = 0;
  uint32_t m_maxEntry;
  std::unique_ptr<uint8_t[]> m_cache;
  uint32_t m_cacheFirst = 0xFFFFFFFF;
  uint32_t m_cacheBytes = 0x100000;
  uint32_t m_clustersPerFill = 0;
  uint32_t m_clustersCached = 0;
  // FAT window
  std::vector<uint8_t> m_fat;
  uint64_t m_fatFirst = ~uint64_t(0);
  uint32_t m_fatValid = 0;
};

class CFAT12Service : public CFATService {
 public:
  CFAT12Service(void* partition, void* context, const uint8_t* boot, uint64_t firstDataSector, uint32_t limit)
      : CFATService(partition, context, boot, firstDataSector, limit, 0xFFF) {}
  int32_t NextCluster(uint32_t cluster, uint32_t* successor) override;
};

class CFAT16Service : public CFATService {
 public:
  CFAT16Service(void* partition, void* context, const uint8_t* boot, uint64_t firstDataSector, uint32_t limit,
                uint32_t maxEntry = 0xFFFF, uint32_t width = 2, uint32_t mask = 0xFFFF)
      : CFATService(partition, context, boot, firstDataSector, limit, maxEntry), m_width(width), m_mask(mask) {}
  int32_t NextCluster(uint32_t cluster, uint32_t* successor) override;

 protected:
  uint32_t m_width;
  uint32_t m_mask;
};

class CFAT32Service : public CFAT16Service {
 public:
  CFAT32Service(void* partition, void* context, const uint8_t* boot, uint64_t firstDataSector, uint32_t limit)
      : CFAT16Service(partition, context, boot, firstDataSector, limit, 0x0FFFFFFF, 4, 0xFFFFFFFF) {}
};

class CExFATService : public CFATService {
 public:
  CExFATService(void* partition, void* context, const uint8_t* boot, uint64_t firstDataSector, uint32_t limit);
  uint32_t SectorsPerCluster() const override { return 1u << m_clusterShift; }
  uint32_t BytesPerSector() const override { return 1u << m_sectorShift; }
  uint32_t ClusterBytes() const override { return 1u << (m_sectorShift + m_clusterShift); }
  int32_t NextCluster(uint32_t cluster, uint32_t* successor) override;
  uint32_t ReadFatSectors(uint64_t sector, uint32_t count, uint8_t* buffer) override;
  int32_t SetAllocatedBits(uint8_t*) override { return 0; }
  void AccumulateLongName(const uint8_t* entry, LongNameAccumulator* name) override;

 private:
  uint8_t m_exBoot[512];
  uint32_t m_sectorShift;
  uint32_t m_clusterShift;
  uint32_t m_fatOffset;
};

// ---------------------------------------------------------------------------------
// Name, time and entry functions

bool IsValidShortName(const uint8_t* name);
uint8_t ShortNameChecksum(const uint8_t* name);
void TrimLongName(LongNameAccumulator* name);
// Base, "." and extension without padding, each part lower-cased when the entry's case
// bits (byte 12: 0x08 base, 0x10 extension) say so, converted through convert.
using CharSetFn = int(__cdecl*)(void* context, const char* source, int sourceBytes, wchar_t* target,
                                int targetBytes);
std::wstring ShortNameToText(const uint8_t* entry, CharSetFn convert, void* context);
void UpperShortName(uint8_t* name);
uint64_t DosTimeToUnix(uint16_t date, uint16_t time);
// The text after the last "." of name, lower-cased in place; null when there is none.
wchar_t* SetLowerExtension(wchar_t* name);

bool IsExFatFileEntry(const uint8_t* entry);
bool IsExFatStreamEntry(const uint8_t* entry);
bool IsExFatNameEntry(const uint8_t* entry);

// exFAT entry-set checksum over count entries, skipping bytes 2 and 3.
uint16_t ExFatSetChecksum(const uint8_t* entries, uint32_t count);

class CTimeMonitor {
 public:
  CTimeMonitor() { ::GetLocalTime(&m_stamp); }
  virtual ~CTimeMonitor() = default;
  // Prints "Time hh:mm:ss.ms" between earlier and this monitor.
  void PrintElapsed(const CTimeMonitor& earlier) const;
  const SYSTEMTIME& Stamp() const { return m_stamp; }

 private:
  SYSTEMTIME m_stamp;
};
