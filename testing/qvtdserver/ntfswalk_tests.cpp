// Tests of the stand-in core's NTFS walk over the fixture images and over small
// volumes built here (fragmented $MFT, odd geometries, $MFT continued through an
// attribute list), driven through GetProcAddress as the product drives it.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Handles.h"
#include "qvtdserver.h"

namespace {

using qvtd::UniqueHandle;

const std::string kFixtures = QVTD_FIXTURES_DIR;
const std::string kWork = std::string(QVTD_WORK_DIR) + "/ntfswalk";

struct Api {
  HMODULE module = nullptr;
#define QVTD_FN(name) decltype(&::name) name = nullptr;
  QVTD_FN(EnumDisks) QVTD_FN(GetPartition) QVTD_FN(QvtdSetImages) QVTD_FN(QvtdSetRecordDelay)
  QVTD_FN(QvtdInjectFault) QVTD_FN(QvtdInjectBadRange) QVTD_FN(NTFSEnumVirtualFRs) QVTD_FN(NTFSReadVirtualMFT)
  QVTD_FN(QvtdHoldBeforeRecord)
#undef QVTD_FN
  bool complete = false;
};

Api& Core()
{
  static Api api = [] {
    Api a;
    a.module = LoadLibraryA("qvtdserver.dll");
    if (!a.module) return a;
    bool ok = true;
#define QVTD_BIND(name)                                                                        \
  a.name = reinterpret_cast<decltype(a.name)>(reinterpret_cast<void*>(GetProcAddress(a.module, #name))); \
  ok = ok && a.name;
    QVTD_BIND(EnumDisks) QVTD_BIND(GetPartition) QVTD_BIND(QvtdSetImages) QVTD_BIND(QvtdSetRecordDelay)
    QVTD_BIND(QvtdInjectFault) QVTD_BIND(QvtdInjectBadRange) QVTD_BIND(NTFSEnumVirtualFRs)
    QVTD_BIND(NTFSReadVirtualMFT) QVTD_BIND(QvtdHoldBeforeRecord)
#undef QVTD_BIND
    a.complete = ok;
    return a;
  }();
  return api;
}

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint64_t U64(const uint8_t* p) { return uint64_t(U32(p + 4)) << 32 | U32(p); }
void Put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void Put32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }
void Put64(uint8_t* p, uint64_t v) { for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i)); }

// ---- reading what the walk hands over (the product's side, kept minimal) ----

struct RecordInfo {
  bool file = false;   // "FILE" and fixups good
  bool inUse = false;
  uint32_t ownNumber = UINT32_MAX;
  uint64_t base = 0;  // base record of an extension record
  std::vector<std::wstring> names;  // every $FILE_NAME
};

RecordInfo Inspect(std::vector<uint8_t> r)
{
  RecordInfo info;
  if (r.size() < 1024 || memcmp(r.data(), "FILE", 4) != 0) return info;
  const uint16_t usa = U16(&r[4]), count = U16(&r[6]);
  if (count == 0 || size_t(count - 1) * 512 > r.size() || usa + 2u * count > r.size()) return info;
  for (uint16_t i = 1; i < count; ++i) {
    uint8_t* last = &r[i * 512u - 2];
    if (U16(last) != U16(&r[usa])) return info;
    memcpy(last, &r[usa + 2u * i], 2);
  }
  info.file = true;
  info.inUse = (U16(&r[0x16]) & 1) != 0;
  const uint16_t first = U16(&r[0x14]);
  if (first > 0x30) info.ownNumber = U32(&r[0x2C]);
  info.base = U64(&r[0x20]) & 0xFFFFFFFFFFFFull;
  const uint32_t used = std::min<uint32_t>(U32(&r[0x18]), uint32_t(r.size()));
  for (uint32_t at = first; at + 16 <= used;) {
    const uint32_t type = U32(&r[at]), len = U32(&r[at + 4]);
    if (type == 0xFFFFFFFF || len < 0x18 || len > used - at) break;
    if (type == 0x30 && r[at + 8] == 0) {
      const uint32_t value = at + U16(&r[at + 0x14]);
      if (value + 0x42 <= at + len) {
        const uint8_t n = r[value + 0x40];
        std::wstring name;
        for (uint8_t i = 0; i < n && value + 0x42 + 2u * i + 2 <= at + len; ++i)
          name.push_back(wchar_t(U16(&r[value + 0x42 + 2u * i])));
        info.names.push_back(name);
      }
    }
    at += len;
  }
  return info;
}

// What one walk handed over; the task pointer of the walk points here.
struct Collected {
  std::vector<uint64_t> numbers;
  std::map<uint64_t, std::vector<uint8_t>> records;  // the first record of each number
  std::map<uint64_t, uint32_t> places;                // the block's place of that record
  std::set<const void*> blocks;
  uint64_t recordCount = 0;
  uint32_t bytesPerCluster = 0;
  int stopAfter = -1;           // the callback returns 0 on this record (1-based)
  std::atomic<int> finishCalls{0};
  QvtdNtfsRecordBlock* finishBlock = nullptr;
  void* finishTask = nullptr;
  uint32_t progress[4] = {};
  std::vector<uint32_t> progressSeen;
  std::atomic<bool> stop{false};
};

int QVTD_API OnRecord(QvtdNtfsRecordBlock* b)
{
  auto* c = static_cast<Collected*>(b->task);
  c->numbers.push_back(b->recordNumber);
  c->records.emplace(b->recordNumber, std::vector<uint8_t>(b->buffer, b->buffer + (b->recordSize & 0xFFFF)));
  c->places.emplace(b->recordNumber, b->place);
  c->blocks.insert(b);
  c->recordCount = b->recordCount;
  c->bytesPerCluster = b->bytesPerCluster;
  c->progressSeen.push_back(c->progress[1]);
  if (c->stop) return 0;
  return (c->stopAfter > 0 && int(c->numbers.size()) >= c->stopAfter) ? 0 : 1;
}

void QVTD_API OnFinish(void* task, QvtdNtfsRecordBlock* b)
{
  auto* c = static_cast<Collected*>(task);
  c->finishTask = task;
  c->finishBlock = b;
  ++c->finishCalls;
}

// Serves one image and returns the handle of its partition 1 (null when it has none).
void* OpenPartition(const std::string& path, QvtdDiskRecord* diskOut = nullptr)
{
  Core().QvtdSetImages(path.c_str());
  QvtdDiskRecord disks[2] = {};
  if (Core().EnumDisks(2, disks) < 1) return nullptr;
  if (diskOut) *diskOut = disks[0];
  uint16_t type = 0;
  return Core().GetPartition(&disks[0], 1, &type);
}

int Walk(void* partition, int formatted, Collected& c)
{
  return Core().NTFSEnumVirtualFRs(partition, nullptr, formatted, OnRecord, OnFinish, &c, c.progress);
}

std::string Fixture(const std::string& name) { return kFixtures + "/" + name + ".img"; }

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The volume as partition 1 of an MBR disk at 1 MiB, so reads must add the partition offset.
constexpr uint64_t kPartitionStart = 1u << 20;
std::vector<uint8_t> InMbr(const std::vector<uint8_t>& volume)
{
  std::vector<uint8_t> disk(size_t(kPartitionStart) + volume.size(), 0);
  uint8_t* e = &disk[446];
  e[4] = 0x07;
  Put32(e + 8, uint32_t(kPartitionStart / 512));
  Put32(e + 12, uint32_t(volume.size() / 512));
  disk[510] = 0x55;
  disk[511] = 0xAA;
  std::copy(volume.begin(), volume.end(), disk.begin() + long(kPartitionStart));
  return disk;
}

std::wstring Wide(const std::string& utf8)
{
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring w(size_t(std::max(n, 0)), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &w[0], n);
  return w;
}

struct ManifestEntry {
  std::string path;
  bool deleted = false;
  uint64_t record = 0;
  std::string scan;
};

// "entry" lines of a generated image's manifest (path, deleted, record, scan).
std::vector<ManifestEntry> ManifestEntries(const std::string& name)
{
  std::vector<ManifestEntry> out;
  std::ifstream f(kFixtures + "/" + name + ".manifest");
  std::string line;
  while (std::getline(f, line)) {
    std::vector<std::string> cols;
    std::istringstream in(line);
    for (std::string col; std::getline(in, col, '\t');) cols.push_back(col);
    if (cols.size() < 10 || cols[0] != "entry") continue;
    ManifestEntry e;
    e.path = cols[1];
    e.deleted = cols[4] == "1";
    e.record = std::stoull(cols[7]);
    e.scan = cols[8];
    out.push_back(e);
  }
  return out;
}

std::wstring Leaf(const std::string& path) { return Wide(path.substr(path.find_last_of('/') + 1)); }

bool HasName(const RecordInfo& r, const std::wstring& name)
{ return std::find(r.names.begin(), r.names.end(), name) != r.names.end(); }

class NtfsWalkTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_NE(Core().module, nullptr) << "qvtdserver.dll did not load";
    ASSERT_TRUE(Core().complete) << "an export is missing";
    Core().QvtdSetRecordDelay(0);
    Core().QvtdInjectFault(0);
  }
  void TearDown() override
  {
    Core().QvtdSetRecordDelay(0);
    Core().QvtdInjectFault(0);
    Core().QvtdInjectBadRange(-1, 0, 0);
  }
};

// Checks a complete normal walk: every record once, in order, at its own number.
void ExpectCompleteWalk(const Collected& c, uint64_t records)
{
  ASSERT_EQ(c.numbers.size(), records);
  for (uint64_t i = 0; i < records; ++i) ASSERT_EQ(c.numbers[size_t(i)], i);
  EXPECT_EQ(c.recordCount, records);
  EXPECT_EQ(c.finishCalls.load(), 1);
  ASSERT_EQ(c.blocks.size(), 1u);
  EXPECT_EQ(c.finishBlock, *c.blocks.begin());
  EXPECT_EQ(c.progress[0], 0u) << "word 0 is the directory-buffer handle";
  EXPECT_EQ(c.progress[1], 10000u);
  EXPECT_TRUE(std::is_sorted(c.progressSeen.begin(), c.progressSeen.end()));
  // Wherever an initialised record lies, the run list put it at its own number.
  // (mkntfs leaves the reserved records 16-23 numbered 0.)
  uint64_t matched = 0;
  for (const auto& [n, bytes] : c.records) {
    const RecordInfo r = Inspect(bytes);
    if (r.file && r.ownNumber != UINT32_MAX && r.ownNumber != 0) {
      EXPECT_EQ(r.ownNumber, n) << "record " << n;
      ++matched;
    }
  }
  EXPECT_GT(matched, 16u);
}

// ---- normal walk over the fixture images ----

TEST_F(NtfsWalkTest, WalkHandsOverEveryMftRecordRawAtItsNumber)
{
  struct Case { const char* image; uint64_t records; };
  const Case cases[] = {{"ntfs-demo", 75}, {"ntfs/ntfs-tree", 103}, {"ntfs/ntfs-fragmented-mft", 418}};
  const wchar_t* system[] = {L"$MFT", L"$MFTMirr", L"$LogFile", L"$Volume", L"$AttrDef", L".",
                             L"$Bitmap", L"$Boot", L"$BadClus", L"$Secure", L"$UpCase", L"$Extend"};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.image);
    void* part = OpenPartition(Fixture(k.image));
    ASSERT_NE(part, nullptr);
    Collected c;
    ASSERT_EQ(Walk(part, 0, c), 0);
    ExpectCompleteWalk(c, k.records);
    EXPECT_EQ(c.bytesPerCluster, 4096u);
    EXPECT_EQ(c.finishBlock->task, &c);
    EXPECT_EQ(c.finishBlock->recordSize & 0xFFFF, 1024u);
    for (size_t i = 0; i < 12; ++i) {
      const RecordInfo r = Inspect(c.records[i]);
      EXPECT_TRUE(r.file && r.inUse) << "record " << i;
      EXPECT_TRUE(HasName(r, system[i])) << "record " << i;
    }
    // Raw: the sector ends still hold the update sequence number, not the data.
    const std::vector<uint8_t>& rec0 = c.records[0];
    EXPECT_EQ(U16(&rec0[510]), U16(&rec0[U16(&rec0[4])]));
    EXPECT_EQ(U16(&rec0[1022]), U16(&rec0[U16(&rec0[4])]));
  }
}

TEST_F(NtfsWalkTest, ManifestEntriesAreFoundInTheirRecordsWithTheirInUseState)
{
  for (const char* image : {"ntfs/ntfs-tree", "ntfs/ntfs-fragmented-mft"}) {
    SCOPED_TRACE(image);
    const std::vector<ManifestEntry> entries = ManifestEntries(image);
    ASSERT_FALSE(entries.empty()) << "manifest missing";
    void* part = OpenPartition(Fixture(image));
    Collected c;
    ASSERT_EQ(Walk(part, 0, c), 0);
    // A file's names may sit in its extension records.
    std::map<uint64_t, std::vector<std::wstring>> names;
    for (const auto& [n, bytes] : c.records) {
      const RecordInfo r = Inspect(bytes);
      auto& list = names[r.base ? r.base : n];
      list.insert(list.end(), r.names.begin(), r.names.end());
    }
    int deleted = 0;
    for (const ManifestEntry& e : entries) {
      if (e.scan != "normal") continue;
      SCOPED_TRACE(e.path);
      ASSERT_TRUE(c.records.count(e.record));
      const RecordInfo r = Inspect(c.records[e.record]);
      EXPECT_TRUE(r.file);
      const auto& own = names[e.record];
      EXPECT_NE(std::find(own.begin(), own.end(), Leaf(e.path)), own.end());
      EXPECT_EQ(r.inUse, !e.deleted);
      deleted += e.deleted;
    }
    if (std::string(image) == "ntfs/ntfs-tree") {
      EXPECT_GT(deleted, 0) << "the image should hold deleted files";
    }
  }
  // ntfs-demo's manifest has no record numbers: its deleted files are found by name.
  void* part = OpenPartition(Fixture("ntfs-demo"));
  Collected c;
  ASSERT_EQ(Walk(part, 0, c), 0);
  struct Named { const wchar_t* name; bool inUse; };
  const Named names[] = {{L"draft.bin", false}, {L"old-letter.txt", false}, {L"cache.dat", false},
                         {L"tmp", false},       {L"readme.txt", true},      {L"notes.txt", true}};
  for (const Named& n : names) {
    bool seen = false;
    for (const auto& [number, bytes] : c.records) {
      const RecordInfo r = Inspect(bytes);
      if (r.file && HasName(r, n.name)) {
        seen = true;
        EXPECT_EQ(r.inUse, n.inUse) << "record " << number;
      }
    }
    EXPECT_TRUE(seen) << std::string(n.name, n.name + wcslen(n.name));
  }
}

TEST_F(NtfsWalkTest, StopEndsTheWalkAndTheFinishCallbackRunsOnce)
{
  void* part = OpenPartition(Fixture("ntfs/ntfs-fragmented-mft"));
  for (int k : {1, 7, 417}) {
    SCOPED_TRACE(k);
    Collected c;
    c.stopAfter = k;
    EXPECT_EQ(Walk(part, 0, c), 0);
    EXPECT_EQ(c.numbers.size(), size_t(k));
    EXPECT_EQ(c.finishCalls.load(), 1);
    EXPECT_LT(c.progress[1], 10000u);
  }
  Collected formatted;
  formatted.stopAfter = 3;
  EXPECT_EQ(Walk(part, 1, formatted), 0);
  EXPECT_EQ(formatted.numbers.size(), 3u);
  EXPECT_EQ(formatted.finishCalls.load(), 1);
}

TEST_F(NtfsWalkTest, ReReadsAfterTheWalkGiveTheWalksBytes)
{
  QvtdDiskRecord disk = {};
  void* part = OpenPartition(Fixture("ntfs/ntfs-fragmented-mft"), &disk);
  Collected c;
  ASSERT_EQ(Walk(part, 0, c), 0);
  ASSERT_EQ(c.numbers.size(), 418u);
  std::vector<uint8_t> buf(1024);
  // Through the walk's block, the partition handle and the disk context alike.
  for (void* context : {static_cast<void*>(c.finishBlock), part, disk.context}) {
    for (const auto& [n, bytes] : c.records) {
      std::fill(buf.begin(), buf.end(), 0xCC);
      ASSERT_EQ(Core().NTFSReadVirtualMFT(context, n, buf.data()), 1024) << n;
      ASSERT_EQ(buf, bytes) << n;
    }
    EXPECT_EQ(Core().NTFSReadVirtualMFT(context, 418, buf.data()), 0);
    EXPECT_EQ(Core().NTFSReadVirtualMFT(context, UINT64_MAX, buf.data()), 0);
  }
  int notIssued = 0;
  EXPECT_EQ(Core().NTFSReadVirtualMFT(&notIssued, 0, buf.data()), -6);
  EXPECT_EQ(Core().NTFSReadVirtualMFT(nullptr, 0, buf.data()), -6);
  EXPECT_EQ(Core().NTFSReadVirtualMFT(c.finishBlock, 0, nullptr), -87);

  // A partition never walked is decoded on demand.
  void* demo = OpenPartition(Fixture("ntfs-demo"));
  ASSERT_EQ(Core().NTFSReadVirtualMFT(demo, 5, buf.data()), 1024);
  EXPECT_TRUE(HasName(Inspect(buf), L"."));
}

// ---- formatted walk ----

TEST_F(NtfsWalkTest, FormattedWalkFindsTheRecordsOfTheVolumeBeforeTheReformat)
{
  const std::string image = "ntfs/ntfs-reformatted";
  const std::vector<ManifestEntry> entries = ManifestEntries(image);
  ASSERT_FALSE(entries.empty()) << "manifest missing";
  void* part = OpenPartition(Fixture(image));
  ASSERT_NE(part, nullptr);

  Collected normal;
  ASSERT_EQ(Walk(part, 0, normal), 0);
  Collected formatted;
  ASSERT_EQ(Walk(part, 1, formatted), 0);
  EXPECT_EQ(formatted.finishCalls.load(), 1);
  EXPECT_EQ(formatted.progress[1], 10000u);
  EXPECT_TRUE(std::is_sorted(formatted.progressSeen.begin(), formatted.progressSeen.end()));

  std::vector<uint8_t> buf(1024);
  int old = 0;
  for (const ManifestEntry& e : entries) {
    if (e.scan != "formatted") continue;
    SCOPED_TRACE(e.path);
    ++old;
    // Not in the new volume's $MFT ...
    if (normal.records.count(e.record)) {
      EXPECT_FALSE(HasName(Inspect(normal.records[e.record]), Leaf(e.path)));
    }
    // ... but found by the scan under its own number, and re-readable through the block.
    ASSERT_TRUE(formatted.records.count(e.record));
    EXPECT_TRUE(HasName(Inspect(formatted.records[e.record]), Leaf(e.path)));
    ASSERT_EQ(Core().NTFSReadVirtualMFT(formatted.finishBlock, e.record, buf.data()), 1024);
    EXPECT_EQ(buf, formatted.records[e.record]);
    // The old $MFT's records lie one after another past the new one's end: each at the
    // place its number gives.
    EXPECT_EQ(formatted.places[e.record], e.record + 1);
  }
  EXPECT_GT(old, 0);
  for (const auto& [number, place] : normal.places) EXPECT_EQ(place, number + 1) << number;
  EXPECT_EQ(Core().NTFSReadVirtualMFT(formatted.finishBlock, 1u << 30, buf.data()), 0);
}

TEST_F(NtfsWalkTest, FormattedWalkNeedsNoNtfsBootSector)
{
  std::vector<uint8_t> bytes = ReadFileBytes(Fixture("ntfs-demo"));
  ASSERT_GT(bytes.size(), 1u << 20);
  std::fill(bytes.begin(), bytes.begin() + 4096, 0);  // the boot sector's cluster wiped
  const std::string path = kWork + "/wiped-boot.img";
  WriteFileBytes(path, InMbr(bytes));
  void* part = OpenPartition(path);
  ASSERT_NE(part, nullptr);
  Collected normal;
  EXPECT_EQ(Walk(part, 0, normal), -1005);
  EXPECT_EQ(normal.finishCalls.load(), 1);
  EXPECT_TRUE(normal.numbers.empty());
  Collected c;
  ASSERT_EQ(Walk(part, 1, c), 0);
  ASSERT_TRUE(c.records.count(5));
  EXPECT_TRUE(HasName(Inspect(c.records[5]), L"."));
  bool draft = false;
  for (const auto& [n, rec] : c.records) draft = draft || HasName(Inspect(rec), L"draft.bin");
  EXPECT_TRUE(draft);
}

// ---- refused volumes ----

TEST_F(NtfsWalkTest, CorruptBootSectorsAndMftRecordsAreRefused)
{
  // ntfs-demo's first 64 KiB: boot sector and $MFT's first 48 records, as a partial image.
  std::vector<uint8_t> good = ReadFileBytes(Fixture("ntfs-demo"));
  ASSERT_GT(good.size(), 1u << 20);
  good.resize(64 * 1024);
  const uint64_t mft = U64(&good[0x30]) * 4096;
  ASSERT_EQ(mft, 16384u);
  {
    const std::string path = kWork + "/partial.img";
    WriteFileBytes(path, InMbr(good));
    Collected c;
    EXPECT_EQ(Walk(OpenPartition(path), 0, c), 0);
    ASSERT_EQ(c.numbers.size(), 48u) << "the records inside the partial image";
    EXPECT_EQ(c.numbers.back(), 47u);
    EXPECT_EQ(c.finishCalls.load(), 1);
  }
  struct Patch { const char* what; size_t at; std::vector<uint8_t> bytes; int expected; };
  const Patch patches[] = {
    {"OEM id", 3, {'N', 'T', 'F', 'X'}, -1005},
    {"bytes per sector 0", 0x0B, {0, 0}, -1005},
    {"bytes per sector 3000", 0x0B, {0xB8, 0x0B}, -1005},
    {"sectors per cluster 3", 0x0D, {3}, -1005},
    {"sectors per cluster 0", 0x0D, {0}, -1005},
    {"cluster of 2^20 sectors", 0x0D, {0xEC}, -1005},
    {"total sectors 0", 0x28, {0, 0, 0, 0, 0, 0, 0, 0}, -1005},
    {"MFT LCN past the volume", 0x30, {0, 0, 0, 0, 1, 0, 0, 0}, -1005},
    {"clusters per record 0", 0x40, {0}, -1005},
    {"record of 2^20 bytes", 0x40, {0xEC}, -1005},
    {"record of 2^8 bytes", 0x40, {0xF8}, -1005},
    {"record 0 signature", size_t(mft), {'B', 'A', 'A', 'D'}, -1392},
    {"record 0 update sequence count", size_t(mft) + 6, {9, 0}, -1392},
    {"record 0 first attribute past its end", size_t(mft) + 0x14, {0xF8, 0x03}, -1392},
    {"record 0 sector check word", size_t(mft) + 510, {0x12, 0x34}, -1392},
  };
  for (const Patch& p : patches) {
    SCOPED_TRACE(p.what);
    std::vector<uint8_t> bytes = good;
    std::copy(p.bytes.begin(), p.bytes.end(), bytes.begin() + long(p.at));
    const std::string path = kWork + "/refused-" + std::to_string(&p - patches) + ".img";
    WriteFileBytes(path, InMbr(bytes));
    void* part = OpenPartition(path);
    ASSERT_NE(part, nullptr);
    Collected c;
    EXPECT_EQ(Walk(part, 0, c), p.expected);
    EXPECT_TRUE(c.numbers.empty());
    EXPECT_EQ(c.finishCalls.load(), 1);
    ASSERT_NE(c.finishBlock, nullptr);
    EXPECT_EQ(c.finishBlock->recordCount, 0u);
    std::vector<uint8_t> buf(1024);
    EXPECT_LE(Core().NTFSReadVirtualMFT(c.finishBlock, 0, buf.data()), 0);
  }
  // Bad arguments still finish the scan.
  Collected c;
  int notIssued = 0;
  EXPECT_EQ(Core().NTFSEnumVirtualFRs(&notIssued, nullptr, 0, OnRecord, OnFinish, &c, c.progress), -6);
  void* part = OpenPartition(Fixture("ntfs-demo"));
  EXPECT_EQ(Core().NTFSEnumVirtualFRs(part, nullptr, 0, nullptr, OnFinish, &c, c.progress), -87);
  EXPECT_EQ(c.finishCalls.load(), 2);
  EXPECT_EQ(c.finishTask, &c);
}

// ---- volumes built here ----

// A minimal NTFS volume: boot sector, and an $MFT of `records` records laid out over the
// given extents (lcn, clusters); record i holds its own number and, for i > 0, a resident
// $DATA whose value is i. Optionally $MFT's run list is split at splitRun, the rest held by
// record extRecord and reached through an $ATTRIBUTE_LIST.
struct Volume {
  uint32_t cluster = 4096;
  uint8_t spcByte = 8;
  uint8_t cprByte = 0xF6;  // 2^10
  uint32_t recordSize = 1024;
  uint64_t clusters = 256;
  std::vector<std::pair<uint64_t, uint64_t>> extents;
  uint32_t records = 0;
  size_t splitRun = 0;      // 0: no attribute list
  uint32_t extRecord = 0;
  uint64_t extBase = 0;     // the base reference the extension record holds (number only)
};

std::vector<uint8_t> EncodeRuns(const std::vector<std::pair<int64_t, uint64_t>>& runs)  // (lcn delta, length)
{
  std::vector<uint8_t> out;
  auto bytesFor = [](int64_t v, bool isSigned) {
    unsigned n = 1;
    while (n < 8) {
      const int64_t lo = isSigned ? -(int64_t(1) << (8 * n - 1)) : 0;
      const int64_t hi = isSigned ? (int64_t(1) << (8 * n - 1)) - 1 : (int64_t(1) << (8 * n)) - 1;
      if (v >= lo && v <= hi) break;
      ++n;
    }
    return n;
  };
  for (const auto& [delta, length] : runs) {
    const unsigned lb = bytesFor(int64_t(length), false), ob = bytesFor(delta, true);
    out.push_back(uint8_t(ob << 4 | lb));
    for (unsigned i = 0; i < lb; ++i) out.push_back(uint8_t(length >> (8 * i)));
    for (unsigned i = 0; i < ob; ++i) out.push_back(uint8_t(uint64_t(delta) >> (8 * i)));
  }
  out.push_back(0);
  while (out.size() % 8) out.push_back(0);
  return out;
}

// Appends a non-resident unnamed $DATA of $MFT covering runs [from, to) of v.extents.
size_t PutMftData(uint8_t* rec, size_t at, const Volume& v, size_t from, size_t to, uint64_t dataSize)
{
  std::vector<std::pair<int64_t, uint64_t>> runs;
  int64_t prev = 0;
  uint64_t firstVcn = 0, vcns = 0;
  for (size_t i = 0; i < to; ++i) {
    if (i < from) firstVcn += v.extents[i].second;
    else {
      runs.push_back({int64_t(v.extents[i].first) - prev, v.extents[i].second});
      prev = int64_t(v.extents[i].first);
      vcns += v.extents[i].second;
    }
  }
  const std::vector<uint8_t> pairs = EncodeRuns(runs);
  const uint32_t len = uint32_t(0x40 + pairs.size());
  Put32(rec + at, 0x80);
  Put32(rec + at + 4, len);
  rec[at + 8] = 1;
  Put64(rec + at + 0x10, firstVcn);
  Put64(rec + at + 0x18, firstVcn + vcns - 1);
  Put16(rec + at + 0x20, 0x40);
  uint64_t allClusters = 0;
  for (const auto& e : v.extents) allClusters += e.second;
  Put64(rec + at + 0x28, firstVcn == 0 ? allClusters * v.cluster : 0);
  Put64(rec + at + 0x30, firstVcn == 0 ? dataSize : 0);
  Put64(rec + at + 0x38, firstVcn == 0 ? dataSize : 0);
  memcpy(rec + at + 0x40, pairs.data(), pairs.size());
  return at + len;
}

std::vector<uint8_t> BuildVolume(const Volume& v)
{
  std::vector<uint8_t> img(size_t(v.clusters * v.cluster), 0);
  uint8_t* boot = img.data();
  boot[0] = 0xEB; boot[1] = 0x52; boot[2] = 0x90;
  memcpy(boot + 3, "NTFS    ", 8);
  Put16(boot + 0x0B, 512);
  boot[0x0D] = v.spcByte;
  Put64(boot + 0x28, v.clusters * v.cluster / 512 - 1);
  Put64(boot + 0x30, v.extents[0].first);
  Put64(boot + 0x38, 2);
  boot[0x40] = v.cprByte;
  boot[0x44] = 1;
  boot[510] = 0x55; boot[511] = 0xAA;
  const uint32_t rs = v.recordSize;
  const uint64_t dataSize = uint64_t(v.records) * rs;
  const uint16_t usaCount = uint16_t(rs / 512 + 1);
  const uint16_t first = uint16_t((0x30 + 2 * usaCount + 7) & ~7);
  for (uint32_t i = 0; i < v.records; ++i) {
    std::vector<uint8_t> r(rs, 0);
    memcpy(r.data(), "FILE", 4);
    Put16(&r[4], 0x30);
    Put16(&r[6], usaCount);
    Put16(&r[0x10], 1);
    Put16(&r[0x14], first);
    Put16(&r[0x16], 1);
    Put32(&r[0x1C], rs);
    Put32(&r[0x2C], i);
    size_t at = first;
    if (i == 0) {
      const size_t runsHere = v.splitRun ? v.splitRun : v.extents.size();
      if (v.splitRun) {
        // Attribute list: $DATA pieces in record 0 (VCN 0) and in the extension record.
        uint64_t splitVcn = 0;
        for (size_t k = 0; k < v.splitRun; ++k) splitVcn += v.extents[k].second;
        Put32(&r[at], 0x20);
        Put32(&r[at + 4], 0x18 + 0x40);
        Put32(&r[at + 0x10], 0x40);
        Put16(&r[at + 0x14], 0x18);
        uint8_t* e = &r[at + 0x18];
        for (int k = 0; k < 2; ++k, e += 0x20) {
          Put32(e, 0x80);
          Put16(e + 4, 0x20);
          e[7] = 0x1A;
          Put64(e + 8, k == 0 ? 0 : splitVcn);
          // References carry the records' sequence number, 1.
          Put64(e + 0x10, (k == 0 ? 0 : v.extRecord) | uint64_t(1) << 48);
        }
        at += 0x58;
      }
      at = PutMftData(r.data(), at, v, 0, runsHere, dataSize);
    } else if (v.splitRun && i == v.extRecord) {
      Put32(&r[0x20], uint32_t(v.extBase));  // base record 0, sequence 1
      Put16(&r[0x26], 1);
      at = PutMftData(r.data(), at, v, v.splitRun, v.extents.size(), dataSize);
    } else {
      Put32(&r[at], 0x80);
      Put32(&r[at + 4], 0x20);
      Put32(&r[at + 0x10], 4);
      Put16(&r[at + 0x14], 0x18);
      Put32(&r[at + 0x18], i);
      at += 0x20;
    }
    Put32(&r[at], 0xFFFFFFFF);
    Put32(&r[0x18], uint32_t(at + 8));
    // Fixups as on disk: each sector's last word moves into the array.
    Put16(&r[0x30], 0x0007);
    for (uint16_t s = 1; s < usaCount; ++s) {
      memcpy(&r[0x30 + 2 * s], &r[s * 512u - 2], 2);
      Put16(&r[s * 512u - 2], 0x0007);
    }
    // Lay the record's bytes over the extents.
    uint64_t mftByte = uint64_t(i) * rs;
    for (uint32_t done = 0; done < rs;) {
      uint64_t vcn = mftByte / v.cluster, base = 0;
      size_t k = 0;
      while (k < v.extents.size() && vcn >= base + v.extents[k].second) base += v.extents[k++].second;
      const uint64_t disk = (v.extents[k].first + (vcn - base)) * v.cluster + mftByte % v.cluster;
      const uint32_t n = uint32_t(std::min<uint64_t>(rs - done, v.cluster - mftByte % v.cluster));
      if (disk + n <= img.size()) memcpy(&img[size_t(disk)], &r[done], n);
      done += n;
      mftByte += n;
    }
  }
  return img;
}

TEST_F(NtfsWalkTest, BuiltVolumesAreWalkedCompletely)
{
  struct Case { const char* what; Volume v; uint32_t expected; uint32_t count = 0; /* 0: v.records */ };
  std::vector<Case> cases;
  {
    Volume v;  // twelve runs jumping back and forth
    v.extents = {{20, 2}, {200, 1}, {40, 3}, {10, 1}, {150, 2}, {60, 1}, {61 + 5, 1}, {90, 4}, {30, 1}, {250, 2}, {5, 1}, {120, 1}};
    v.records = 80;
    cases.push_back({"fragmented $MFT", v, 80});
  }
  {
    Volume v;  // 512-byte clusters: records straddle runs
    v.cluster = 512; v.spcByte = 1; v.clusters = 2048;
    v.extents = {{100, 3}, {900, 5}, {40, 1}, {1500, 7}, {300, 16}};
    v.records = 16;
    cases.push_back({"512-byte clusters, records split over runs", v, 16});
  }
  {
    Volume v;  // 128 KiB clusters: sectors per cluster given as 2^-(-8)
    v.cluster = 128 * 1024; v.spcByte = 0xF8; v.clusters = 24;
    v.extents = {{4, 1}};
    v.records = 40;
    cases.push_back({"128 KiB clusters", v, 40});
  }
  {
    Volume v;  // 4 KiB records given as one cluster per record
    v.cprByte = 1; v.recordSize = 4096;
    v.extents = {{16, 4}, {64, 4}, {32, 8}};
    v.records = 16;
    cases.push_back({"4 KiB records", v, 16});
  }
  {
    Volume v;  // $MFT's run list continued in record 3 through an attribute list
    v.extents = {{20, 2}, {100, 2}, {50, 1}, {180, 3}, {70, 2}};
    v.records = 40;
    v.splitRun = 2;
    v.extRecord = 3;
    cases.push_back({"$MFT data continued in an extension record", v, 40});
    // The same record claiming another base is not $MFT's: only the runs of record 0 count.
    v.extBase = 7;
    cases.push_back({"an extension record of another file", v, 16, 16});
  }
  {
    Volume v;  // the third run points past the volume: its records are left out
    v.extents = {{20, 2}, {100, 2}, {5000, 2}, {70, 2}};
    v.records = 32;
    cases.push_back({"a run past the volume", v, 24});
  }
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::string path = kWork + "/built-" + std::to_string(&k - cases.data()) + ".img";
    WriteFileBytes(path, InMbr(BuildVolume(k.v)));
    void* part = OpenPartition(path);
    ASSERT_NE(part, nullptr);
    Collected c;
    ASSERT_EQ(Walk(part, 0, c), 0);
    EXPECT_EQ(c.recordCount, k.count ? k.count : k.v.records);
    EXPECT_EQ(c.bytesPerCluster, k.v.cluster);
    EXPECT_EQ(c.finishCalls.load(), 1);
    EXPECT_EQ(c.progress[1], 10000u);
    ASSERT_EQ(c.numbers.size(), k.expected);
    EXPECT_TRUE(std::is_sorted(c.numbers.begin(), c.numbers.end()));
    std::vector<uint8_t> buf(k.v.recordSize);
    for (const auto& [n, rec] : c.records) {
      ASSERT_EQ(rec.size(), k.v.recordSize);
      const RecordInfo r = Inspect(rec);
      ASSERT_TRUE(r.file) << n;
      EXPECT_EQ(r.ownNumber, n);
      ASSERT_EQ(Core().NTFSReadVirtualMFT(c.finishBlock, n, buf.data()), int(k.v.recordSize)) << n;
      EXPECT_EQ(buf, rec) << n;
    }
  }
}

// ---- test hooks: per-record delay and the injected fault ----

struct DelayedRun {
  void* partition = nullptr;
  Collected collected;
  std::atomic<int> result{1};
};

DWORD WINAPI DelayedWalk(void* arg)
{
  auto* run = static_cast<DelayedRun*>(arg);
  run->result = Walk(run->partition, 0, run->collected);
  return 0;
}

TEST_F(NtfsWalkTest, HeldWalkShowsProgressAndStopsWhenAsked)
{
  void* part = OpenPartition(Fixture("ntfs-demo"));
  EXPECT_EQ(Core().QvtdSetRecordDelay(-1), -87);
  EXPECT_EQ(Core().QvtdHoldBeforeRecord(-1, nullptr, nullptr), -87);
  UniqueHandle held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(held && release);
  // Held before the 11th record: ten have been handed over, the walk has not ended.
  ASSERT_EQ(Core().QvtdHoldBeforeRecord(11, held.Get(), release.Get()), 0);
  DelayedRun run;
  run.partition = part;
  Collected& c = run.collected;
  UniqueHandle t(CreateThread(nullptr, 0, DelayedWalk, &run, 0, nullptr));
  ASSERT_TRUE(t);
  ASSERT_EQ(WaitForSingleObject(held.Get(), 60000), WAIT_OBJECT_0);
  const uint32_t seen = reinterpret_cast<volatile uint32_t*>(c.progress)[1];
  EXPECT_GT(seen, 0u);
  EXPECT_LT(seen, 10000u);
  EXPECT_EQ(c.numbers.size(), 10u);
  EXPECT_EQ(c.finishCalls.load(), 0);
  // The callback answers stop to the held record: the walk ends right there.
  c.stop = true;
  SetEvent(release.Get());
  ASSERT_EQ(WaitForSingleObject(t.Get(), 60000), WAIT_OBJECT_0);
  EXPECT_EQ(run.result.load(), 0);
  EXPECT_EQ(c.finishCalls.load(), 1);
  EXPECT_EQ(c.numbers.size(), 11u);
}

struct FaultRun {
  void* partition = nullptr;
  int formatted = 0;
  Collected collected;
  DWORD thread = 0;
  std::atomic<DWORD> code{0};
};
FaultRun* g_faultRun = nullptr;

// Ends the walking thread when the injected fault arrives on it.
LONG CALLBACK EndFaultingThread(EXCEPTION_POINTERS* info)
{
  FaultRun* run = g_faultRun;
  if (!run || GetCurrentThreadId() != run->thread) return EXCEPTION_CONTINUE_SEARCH;
  run->code = info->ExceptionRecord->ExceptionCode;
  ExitThread(7);
}

DWORD WINAPI FaultingWalk(void* arg)
{
  auto* run = static_cast<FaultRun*>(arg);
  Walk(run->partition, run->formatted, run->collected);
  return 0;
}

TEST_F(NtfsWalkTest, InjectedFaultRaisesOnTheWalkingThread)
{
  struct Case { const char* image; int formatted; size_t before; };
  const Case cases[] = {{"ntfs-demo", 0, 16}, {"ntfs-demo", 1, 16}};
  PVOID handler = AddVectoredExceptionHandler(1, EndFaultingThread);
  ASSERT_NE(handler, nullptr);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.formatted);
    FaultRun run;
    run.partition = OpenPartition(Fixture(k.image));
    run.formatted = k.formatted;
    g_faultRun = &run;
    ASSERT_EQ(Core().QvtdInjectFault(1), 0);
    HANDLE t = CreateThread(nullptr, 0, FaultingWalk, &run, CREATE_SUSPENDED, &run.thread);
    ASSERT_NE(t, nullptr);
    ResumeThread(t);
    ASSERT_EQ(WaitForSingleObject(t, 20000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeThread(t, &exitCode);
    CloseHandle(t);
    g_faultRun = nullptr;
    EXPECT_EQ(exitCode, 7u) << "the walk ended without the fault";
    EXPECT_TRUE(run.code == EXCEPTION_ACCESS_VIOLATION || run.code == EXCEPTION_ILLEGAL_INSTRUCTION)
        << std::hex << run.code.load();
    EXPECT_EQ(run.collected.numbers.size(), k.before);
    EXPECT_EQ(run.collected.finishCalls.load(), 0);
  }
  RemoveVectoredExceptionHandler(handler);
  // The fault is taken once; the core goes on serving walks.
  Collected after;
  ASSERT_EQ(Walk(OpenPartition(Fixture("ntfs-demo")), 0, after), 0);
  EXPECT_EQ(after.numbers.size(), 75u);
  EXPECT_EQ(Core().QvtdInjectFault(-1), -87);
}

TEST_F(NtfsWalkTest, UnreadableMftRecordsAreLeftOutAndTheWalkGoesOn)
{
  void* part = OpenPartition(Fixture("ntfs/ntfs-fragmented-mft"));
  Collected clean;
  ASSERT_EQ(Walk(part, 0, clean), 0);
  ASSERT_EQ(clean.numbers.size(), 418u);
  // A file record past the system files: find its bytes on the disk and make them unreadable.
  uint64_t victim = 0;
  for (const auto& [n, rec] : clean.records)
    if (n > 64 && Inspect(rec).file) { victim = n; break; }
  ASSERT_GT(victim, 0u);
  const std::vector<uint8_t> bytes = ReadFileBytes(Fixture("ntfs/ntfs-fragmented-mft"));
  const std::vector<uint8_t>& rec = clean.records[victim];
  uint64_t at = 0;
  for (; at + 1024 <= bytes.size(); at += 512)
    if (memcmp(&bytes[size_t(at)], rec.data(), 1024) == 0) break;
  ASSERT_LT(at + 1024, bytes.size());
  ASSERT_EQ(Core().QvtdInjectBadRange(0, at + 512, 1), 0);  // no handler: the read fails
  Collected c;
  ASSERT_EQ(Walk(part, 0, c), 0);
  EXPECT_EQ(c.numbers.size(), 417u);
  EXPECT_FALSE(c.records.count(victim));
  EXPECT_TRUE(c.records.count(victim - 1) && c.records.count(victim + 1));
  std::vector<uint8_t> buf(1024);
  EXPECT_EQ(Core().NTFSReadVirtualMFT(c.finishBlock, victim, buf.data()), -23);
}

}  // namespace
