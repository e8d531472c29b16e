// The NTFS scan over damaged and doubtful records: empty names, extension records that
// name a base which does not own them, formatted-volume records claiming one number,
// and the file count that a host shows while a scan runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"
#include "Enumeration.h"
#include "Interface.h"
#include "NTFSTask.h"

namespace {

const std::string kImages = RECOVERY_IMAGES_DIR;

std::string NtfsImage(const char* name) { return kImages + "/ntfs/" + name + ".img"; }

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return uint32_t(Get16(p)) | uint32_t(Get16(p + 2)) << 16; }
void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

// Records of ntfs-tree, whose first records lie in one run of $MFT: fixups applied, and
// put back as the disk holds them after a patch.
class TreeRecords {
 public:
  TreeRecords() : m_file(NtfsImage("ntfs-tree"), std::ios::binary) {
    uint8_t boot[512] = {};
    m_file.read(reinterpret_cast<char*>(boot), sizeof boot);
    const uint32_t cluster = Get16(boot + 0x0B) * boot[0x0D];
    uint64_t lcn = 0;
    std::memcpy(&lcn, boot + 0x30, 8);
    m_mft = lcn * cluster;
  }
  std::vector<uint8_t> Fixed(uint64_t number) {
    std::vector<uint8_t> r(1024);
    m_file.clear();
    m_file.seekg(std::streamoff(m_mft + number * 1024));
    m_file.read(reinterpret_cast<char*>(r.data()), 1024);
    EXPECT_TRUE(Ntfs::ApplyFixups(r.data(), 1024)) << number;
    return r;
  }
  // The record as on disk again: each sector's last word into the update sequence.
  static std::vector<uint8_t> Raw(std::vector<uint8_t> fixed) {
    const uint32_t usa = Get16(&fixed[4]);
    for (uint32_t i = 1; i < Get16(&fixed[6]); ++i) {
      std::memcpy(&fixed[usa + 2 * i], &fixed[i * 512 - 2], 2);
      std::memcpy(&fixed[i * 512 - 2], &fixed[usa], 2);
    }
    return fixed;
  }

 private:
  std::ifstream m_file;
  uint64_t m_mft = 0;
};

// Offsets of the attributes of a type in a fixed record.
std::vector<uint32_t> Attributes(const std::vector<uint8_t>& r, uint32_t type) {
  std::vector<uint32_t> out;
  for (uint32_t at = Get16(&r[0x14]); at + 8 <= r.size() && Get32(&r[at]) != 0xFFFFFFFF;) {
    if (Get32(&r[at]) == type) out.push_back(at);
    if (Get32(&r[at + 4]) == 0) break;
    at += Get32(&r[at + 4]);
  }
  return out;
}
// Offset of a $FILE_NAME attribute's value.
uint32_t NameValue(const std::vector<uint8_t>& r, uint32_t attribute) { return attribute + Get16(&r[attribute + 0x14]); }

template <class Task>
struct Fed {
  Fed() : task(std::make_unique<Task>(TaskParams{})) { task->ScanInit(); }
  void Feed(const std::vector<uint8_t>& fixed, uint64_t number, uint32_t place = 0) {
    std::vector<uint8_t> raw = TreeRecords::Raw(fixed);
    NtfsRecordBlock block{number, 128, 1024, 4096, task.get(), nullptr, raw.data(), place};
    CStorage::CNTFSScanTask::OnFileRecord(&block);
  }
  CFileEntry* Cell(uint64_t id) { return *task->GetIdCell(id); }
  // Every name of the entry's alias chain.
  std::vector<std::wstring> Names(uint64_t id) {
    std::vector<std::wstring> names;
    if (CFileEntry* e = Cell(id))
      for (CList* p = &FirstInLinkChain(e)->linkChainNode; p; p = p->next)
        names.push_back(CFileEntry::FromLinkChainNode(p)->name);
    return names;
  }
  std::unique_ptr<Task> task;
};
using FedNormal = Fed<CStorage::CNTFSScanTask>;
using FedFormatted = Fed<CStorage::CNTFSScanFormattedTask>;

// ---------------------------------------------------------------------------------

TEST(NtfsDamage, EmptyNamesTakeTheirRecordsNumberOrAUsableNameOfTheSameFolder) {
  TreeRecords image;
  // docs (64) / nested (65) / deep (66) / leaf.txt (77); docs/Long File Name Document.txt
  // (81) has a Win32 name and a DOS name.
  struct Case {
    const char* what;
    uint64_t record;
    int blank;  // the namespace whose $FILE_NAME loses its first character (1 Win32, 2 DOS), -1 all
    const wchar_t* name;
    uint64_t parent;
  } const cases[] = {
      {"a file's only name", 77, -1, L"UnnamedFile77", 66},
      {"a folder's only name", 65, -1, L"UnnamedFolder65", 64},
      {"the long name beside a DOS name", 81, 1, nullptr, 64},
      {"the DOS name beside a long name", 81, 2, nullptr, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FedNormal fed;
    for (uint64_t n : {5u, 64u, 65u, 66u}) {
      if (n != c.record) fed.Feed(image.Fixed(n), n);
    }
    std::vector<uint8_t> r = image.Fixed(c.record);
    const std::vector<uint32_t> names = Attributes(r, 0x30);
    ASSERT_EQ(names.size(), c.blank < 0 ? 1u : 2u);
    std::wstring kept;
    for (size_t i = 0; i < names.size(); ++i) {
      const uint32_t v = NameValue(r, names[i]);
      if (c.blank < 0 || r[v + 0x41] == c.blank) {
        Put16(&r[v + 0x42], 0);
      } else {
        for (uint32_t k = 0; k < r[v + 0x40]; ++k) kept += wchar_t(Get16(&r[v + 0x42 + 2 * k]));
      }
    }
    fed.Feed(r, c.record);
    if (c.record != 77) fed.Feed(image.Fixed(77), 77);
    CFileEntry* entry = fed.Cell(c.record);
    ASSERT_NE(entry, nullptr);
    if (c.blank > 0) {
      ASSERT_FALSE(kept.empty());
    }
    EXPECT_EQ(std::wstring(entry->name), c.name ? std::wstring(c.name) : kept);
    EXPECT_EQ(fed.Names(c.record).size(), 1u) << "one name in its folder";
    EXPECT_EQ(FindParentFolder(entry), fed.Cell(c.parent)->AsPath());
    // The path never ends at a folder: leaf.txt lies below every folder of its path.
    std::vector<wchar_t> path(kMaxFullPath + 16, L'\0');
    fed.task->QueryFileFullPath(77, path.data());
    EXPECT_EQ(std::wstring(path.data()).find(L"//"), std::wstring::npos) << Utf8(path.data());
    EXPECT_NE(std::wstring(path.data()).rfind(c.record == 77 ? L"/UnnamedFile77" : L"/leaf.txt"), std::wstring::npos)
        << Utf8(path.data());
  }
}

TEST(NtfsDamage, ExtensionRecordsCountOnlyForTheBaseThatOwnsThem) {
  TreeRecords image;
  // frag/split.txt: base record 86 with an attribute list; its name lies in extension
  // record 87. docs/report.txt (75) has no attribute list.
  const std::vector<uint8_t> base = image.Fixed(86);
  const std::vector<uint8_t> named = image.Fixed(87);
  ASSERT_EQ(Get32(&named[0x20]), 86u);
  ASSERT_FALSE(Attributes(named, 0x30).empty());
  const uint16_t sequence = Get16(&base[0x10]);
  ASSERT_EQ(Get16(&named[0x26]), sequence);
  struct Case {
    const char* what;
    uint64_t baseNumber;    // as the extension record names it
    uint16_t baseSequence;  // as the extension record names it
    uint16_t recordSequence;  // the base record's own
    bool baseInUse;
    bool accepted;
  } const cases[] = {
      {"its own base", 86, sequence, sequence, true, true},
      {"a base reused since (sequence moved on)", 86, sequence, uint16_t(sequence + 1), true, false},
      {"a later sequence than the base's", 86, uint16_t(sequence + 1), sequence, true, false},
      {"its deleted base, one sequence ahead", 86, sequence, uint16_t(sequence + 1), false, true},
      {"a deleted base two sequences ahead", 86, sequence, uint16_t(sequence + 2), false, false},
      {"another file without an attribute list", 75, sequence, sequence, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FedNormal fed;
    std::vector<uint8_t> b = base;
    if (!c.baseInUse) Put16(&b[0x16], Get16(&b[0x16]) & ~1u);
    Put16(&b[0x10], c.recordSequence);
    fed.Feed(b, 86);
    fed.Feed(image.Fixed(75), 75);
    std::vector<uint8_t> x = named;
    Put32(&x[0x20], uint32_t(c.baseNumber));
    Put16(&x[0x26], c.baseSequence);
    fed.Feed(x, 87);
    const std::vector<std::wstring> split = fed.Names(86);
    const std::vector<std::wstring> report = fed.Names(75);
    EXPECT_EQ(std::count(split.begin(), split.end(), L"split.txt"), c.accepted ? 1 : 0);
    EXPECT_EQ(std::count(report.begin(), report.end(), L"split.txt"), 0) << "another file never takes it";
  }
  // An extension record that came first waits for its base; one whose base never comes
  // is left out at the end.
  FedNormal fed;
  fed.Feed(named, 87);
  EXPECT_EQ(fed.Cell(86), nullptr);
  fed.Feed(base, 86);
  EXPECT_EQ(fed.Names(86), std::vector<std::wstring>{L"split.txt"});
  FedNormal lonely;
  lonely.Feed(named, 87);
  lonely.task->WorkFinishRoutine(0);
  EXPECT_EQ(lonely.Cell(86), nullptr);
}

TEST(NtfsDamage, FormattedScanKeepsOneRecordPerNumberAndPrefersTheOneAtItsPlace) {
  TreeRecords image;
  // readme.txt (74), and docs/nested/deep/leaf.txt's record (77) claiming number 74.
  const std::vector<uint8_t> readme = image.Fixed(74);
  std::vector<uint8_t> impostor = image.Fixed(77);
  Put32(&impostor[0x2C], 74);
  struct Case {
    const char* what;
    bool impostorFirst;
    uint32_t impostorPlace;  // + 1; 0 unknown
    bool readmeThere;
    const wchar_t* name;  // of record 74 at the end
  } const cases[] = {
      {"the misplaced record first", true, 76, true, L"readme.txt"},
      {"the misplaced record after", false, 76, true, L"readme.txt"},
      {"places unknown: the first find", false, 0, true, L"readme.txt"},
      {"a misplaced record alone keeps its number", true, 76, false, L"leaf.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FedFormatted fed;
    fed.Feed(image.Fixed(5), 5, 6);
    if (c.impostorFirst) fed.Feed(impostor, 74, c.impostorPlace);
    if (c.readmeThere) fed.Feed(readme, 74, c.impostorPlace ? 75 : 0);
    if (!c.impostorFirst) fed.Feed(impostor, 74, c.impostorPlace);
    fed.task->WorkFinishRoutine(0);
    EXPECT_EQ(fed.Names(74), std::vector<std::wstring>{c.name});
    EXPECT_EQ(GetEntrySize(fed.Cell(74)), c.readmeThere ? 24u : 300u);
  }
  // A normal scan hands every number once: nothing is held back there.
  FedNormal normal;
  normal.Feed(impostor, 74, 76);
  EXPECT_EQ(normal.Names(74), std::vector<std::wstring>{L"leaf.txt"});
}

// ---------------------------------------------------------------------------------

using ProgressFn = int(__cdecl*)(int, int*, int*, int*, int*);
using EnumFn = int(__cdecl*)(int, const wchar_t*, int, ScanFileRecord*, int*, int*, int*, int*, uint64_t*, uint64_t*,
                             int*);
using CloseEnumFn = int(__cdecl*)(int, int);

TEST(NtfsCount, FileCountWhileScanningNeverFallsNorPassesTheFinalOne) {
  ASSERT_NE(Dll().dll, nullptr);
  ASSERT_NE(CoreModule(), nullptr);
  CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(NtfsImage("ntfs-tree").c_str());
  ASSERT_EQ(Dll().Get<int(__cdecl*)()>("ServiceInitialize")(), 1);
  // Slow records, so that the count is seen at every stage of the walk.
  CoreFn<int(__cdecl*)(int)>("QvtdSetRecordDelay")(3);
  int task = 0;
  ASSERT_EQ(Dll().Get<int(__cdecl*)(int, int, int, int*)>("StartScanTask")(0, 1, 0, &task), 0);
  std::vector<int> files, deleted;
  int finished = 0;
  while (!finished) {
    int progress = 0, f = 0, d = 0;
    ASSERT_EQ(Dll().Get<ProgressFn>("GetScanProgress")(task, &progress, &f, &d, &finished), 0);
    files.push_back(f);
    deleted.push_back(d);
    if (!finished) Sleep(1);
  }
  CoreFn<int(__cdecl*)(int)>("QvtdSetRecordDelay")(0);
  ASSERT_GT(files.size(), 20u);
  EXPECT_TRUE(std::is_sorted(files.begin(), files.end()));
  EXPECT_TRUE(std::is_sorted(deleted.begin(), deleted.end()));
  EXPECT_GT(files.back(), 0);
  // The final count is what the tree holds.
  ScanFileRecord page[4];
  int got = 0, children = 0, treeFiles = 0, treeDeleted = 0, handle = 0;
  uint64_t total = 0, deletedSize = 0;
  ASSERT_EQ(Dll().Get<EnumFn>("EnumScannedFiles")(task, L":/", 4, page, &got, &children, &treeFiles, &treeDeleted,
                                                   &total, &deletedSize, &handle),
            0);
  Dll().Get<CloseEnumFn>("CloseEnumHandle")(task, handle);
  EXPECT_EQ(files.back(), treeFiles);
  EXPECT_EQ(deleted.back(), treeDeleted);
  EXPECT_EQ(Dll().Get<int(__cdecl*)(int)>("CloseScanTask")(task), 0);
}

}  // namespace
