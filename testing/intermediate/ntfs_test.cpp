// The NTFS scan: record checks and fixups, the record parser on raw MFT records taken
// from the fixture images (valid, patched, cut short and damaged: empty names, foreign
// extension records, formatted-volume records claiming one number), whole scans of the
// images through the stand-in core compared with their manifests, and the file count a
// host sees while a scan runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <cwchar>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "Enumeration.h"
#include "Interface.h"
#include "NTFSTask.h"
#include "NTFSWorker.h"

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

// Raw MFT records of an image whose $MFT starts with enough records in one run.
class ImageRecords {
 public:
  explicit ImageRecords(const std::string& path) : m_file(path, std::ios::binary) {
    uint8_t boot[512] = {};
    m_file.read(reinterpret_cast<char*>(boot), sizeof boot);
    if (!m_file) return;
    const uint32_t sector = Get16(boot + 0x0B);
    m_cluster = sector * boot[0x0D];
    uint64_t mftLcn = 0;
    std::memcpy(&mftLcn, boot + 0x30, 8);
    const int8_t perRecord = int8_t(boot[0x40]);
    m_recordSize = perRecord > 0 ? m_cluster * uint32_t(perRecord) : 1u << uint32_t(-perRecord);
    m_mftOffset = mftLcn * m_cluster;
  }
  std::vector<uint8_t> Raw(uint64_t number) {
    std::vector<uint8_t> record(m_recordSize);
    m_file.clear();
    m_file.seekg(std::streamoff(m_mftOffset + number * m_recordSize));
    m_file.read(reinterpret_cast<char*>(record.data()), std::streamsize(record.size()));
    return record;
  }
  uint32_t RecordSize() const { return m_recordSize; }
  uint32_t ClusterSize() const { return m_cluster; }

 private:
  std::ifstream m_file;
  uint32_t m_cluster = 0;
  uint32_t m_recordSize = 0;
  uint64_t m_mftOffset = 0;
};

// Offset of the first attribute of the type in a record whose fixups are applied.
uint32_t FindAttribute(const std::vector<uint8_t>& fixed, uint32_t type) {
  uint32_t offset = Get16(fixed.data() + 0x14);
  while (offset + 8 <= fixed.size()) {
    const uint32_t t = Get32(fixed.data() + offset);
    if (t == 0xFFFFFFFF) break;
    if (t == type) return offset;
    const uint32_t length = Get32(fixed.data() + offset + 4);
    if (length == 0) break;
    offset += length;
  }
  return 0;
}

std::vector<uint8_t> Fixed(std::vector<uint8_t> raw) {
  EXPECT_TRUE(Ntfs::ApplyFixups(raw.data(), uint32_t(raw.size())));
  return raw;
}
std::vector<uint8_t> FixedOf(ImageRecords& image, uint64_t number) { return Fixed(image.Raw(number)); }

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
uint32_t NameValue(const std::vector<uint8_t>& r, uint32_t attribute) {
  return attribute + Get16(&r[attribute + 0x14]);
}

// The record as the disk holds it again, after a change to its fixed-up bytes.
std::vector<uint8_t> Unfixed(std::vector<uint8_t> fixed) {
  const uint32_t usa = Get16(&fixed[4]);
  for (uint32_t i = 1; i < Get16(&fixed[6]); ++i) {
    std::memcpy(&fixed[usa + 2 * i], &fixed[i * 512 - 2], 2);
    std::memcpy(&fixed[i * 512 - 2], &fixed[usa], 2);
  }
  return fixed;
}

// A task fed records by hand, as the core's walk would.
template <class Task>
struct FedTaskOf {
  FedTaskOf() : task(std::make_unique<Task>(TaskParams{})) { task->ScanInit(); }
  int Feed(std::vector<uint8_t>& record, uint64_t number, uint64_t count = 128, uint32_t size = 0,
           uint32_t place = 0) {
    NtfsRecordBlock block{number, count, size ? size : uint32_t(record.size()), 4096, task.get(), nullptr,
                          record.data(), place};
    return CStorage::CNTFSScanTask::OnFileRecord(&block);
  }
  // A record given with its fixups applied, put back as the disk holds it.
  int FeedFixed(const std::vector<uint8_t>& fixed, uint64_t number, uint32_t place = 0) {
    std::vector<uint8_t> raw = Unfixed(fixed);
    return Feed(raw, number, 128, 0, place);
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
using FedTask = FedTaskOf<CStorage::CNTFSScanTask>;
using FedFormatted = FedTaskOf<CStorage::CNTFSScanFormattedTask>;

// ---------------------------------------------------------------------------------
// Record checks

TEST(NtfsRecord, HeaderChecksAndFixupsRefuseEveryBrokenField) {
  ImageRecords image(NtfsImage("ntfs-tree"));
  ASSERT_EQ(image.RecordSize(), 1024u);
  const std::vector<uint8_t> good = image.Raw(101);
  ASSERT_TRUE(Ntfs::RecordMatches(good.data(), 1024, 101));
  const uint32_t usa = Get16(good.data() + 4);
  const uint32_t first = Get16(good.data() + 0x14);
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> patch;
    bool header;   // RecordHeaderOk
    bool matches;  // RecordMatches for record 101
    bool fixups;   // ApplyFixups
  } const cases[] = {
      {"valid", [](std::vector<uint8_t>&) {}, true, true, true},
      {"signature", [](std::vector<uint8_t>& r) { r[0] = 'B'; }, false, false, false},
      {"update sequence count one short", [](std::vector<uint8_t>& r) { Put16(&r[6], 2); }, false, false, false},
      {"update sequence count one more", [](std::vector<uint8_t>& r) { Put16(&r[6], 4); }, false, false, false},
      {"update sequence at the first attribute", [&](std::vector<uint8_t>& r) { Put16(&r[4], first); }, false, false,
       false},
      {"update sequence runs into the attributes", [&](std::vector<uint8_t>& r) { Put16(&r[4], first - 4); }, false,
       false, false},
      {"odd update sequence offset", [&](std::vector<uint8_t>& r) { Put16(&r[4], usa + 1); }, false, false, false},
      {"first attribute at the record end", [](std::vector<uint8_t>& r) { Put16(&r[0x14], 1024); }, false, false,
       false},
      {"first attribute past the record", [](std::vector<uint8_t>& r) { Put16(&r[0x14], 0xFFF8); }, false, false,
       false},
      {"another record's number", [](std::vector<uint8_t>& r) { Put32(&r[0x2C], 102); }, true, false, true},
      {"allocated size differs", [](std::vector<uint8_t>& r) { Put32(&r[0x1C], 4096); }, true, false, true},
      {"first sector torn", [](std::vector<uint8_t>& r) { r[510] ^= 0xFF; }, true, true, false},
      {"last sector torn", [](std::vector<uint8_t>& r) { r[1023] ^= 0xFF; }, true, true, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> r = good;
    c.patch(r);
    EXPECT_EQ(Ntfs::RecordHeaderOk(r.data(), 1024), c.header) << c.name;
    EXPECT_EQ(Ntfs::RecordMatches(r.data(), 1024, 101), c.matches) << c.name;
    const std::vector<uint8_t> before = r;
    EXPECT_EQ(Ntfs::ApplyFixups(r.data(), 1024), c.fixups) << c.name;
    if (!c.fixups) EXPECT_EQ(r, before) << c.name << ": a refused record is left as it was";
  }
  // Sizes the update sequence cannot describe.
  for (uint32_t size : {0u, 511u}) EXPECT_FALSE(Ntfs::RecordHeaderOk(good.data(), size)) << size;
  EXPECT_FALSE(Ntfs::RecordMatches(good.data(), 1024, 101ull | 1ull << 32));
}

TEST(NtfsRecord, TimesBecomeUnsignedUnixSeconds) {
  const uint64_t epoch = 116444736000000000ull;
  EXPECT_EQ(Ntfs::FileTimeToUnix(epoch), 0u);
  EXPECT_EQ(Ntfs::FileTimeToUnix(epoch + 1700000000ull * 10000000ull), 1700000000u);
  // Before 1970 the difference wraps: a huge value, never a negative one.
  const uint64_t before = Ntfs::FileTimeToUnix(epoch - 300000000ull * 10000000ull);
  EXPECT_EQ(before, (0 - 300000000ull * 10000000ull) / 10000000ull);
  EXPECT_GT(before, 1ull << 40);
}

// ---------------------------------------------------------------------------------
// Record parser

TEST(NtfsParser, MalformedAttributesEndTheRecordWithoutReadingPastIt) {
  ImageRecords image(NtfsImage("ntfs-tree"));
  // Record 101: links/photo-link.bin, a symbolic link with a resident $DATA.
  const std::vector<uint8_t> raw = image.Raw(101);
  const std::vector<uint8_t> fixed = Fixed(raw);
  const uint32_t si = FindAttribute(fixed, 0x10);
  const uint32_t fn = FindAttribute(fixed, 0x30);
  const uint32_t rp = FindAttribute(fixed, 0xC0);
  const uint32_t used = Get32(fixed.data() + 0x18);
  ASSERT_TRUE(si && fn && rp);
  const uint32_t fnValue = fn + Get16(fixed.data() + fn + 0x14);
  const uint32_t rpValue = rp + Get16(fixed.data() + rp + 0x14);

  enum Expect { kNamed, kNamedNoLink, kNoName, kNothing };
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> patch;
    Expect expect;
  } const cases[] = {
      {"valid", [](std::vector<uint8_t>&) {}, kNamed},
      {"name longer than its value", [&](std::vector<uint8_t>& r) { r[fnValue + 0x40] = 0xFF; }, kNoName},
      {"value offset past the attribute", [&](std::vector<uint8_t>& r) { Put16(&r[fn + 0x14], 0xFFF0); }, kNoName},
      {"value length past the attribute", [&](std::vector<uint8_t>& r) { Put32(&r[fn + 0x10], 0xFFFFFFF0); },
       kNoName},
      {"value too short for a file name", [&](std::vector<uint8_t>& r) { Put32(&r[fn + 0x10], 0x40); }, kNoName},
      {"attribute of length 0", [&](std::vector<uint8_t>& r) { Put32(&r[si + 4], 0); }, kNothing},
      {"attribute shorter than its header", [&](std::vector<uint8_t>& r) { Put32(&r[si + 4], 0x10); }, kNothing},
      {"attribute past the used size", [&](std::vector<uint8_t>& r) { Put32(&r[si + 4], used - si + 8); },
       kNothing},
      {"attribute past the record", [&](std::vector<uint8_t>& r) { Put32(&r[si + 4], 0x7FFFFFF8); }, kNothing},
      {"attribute length not a multiple of 8", [&](std::vector<uint8_t>& r) { Put32(&r[si + 4], 0x64); }, kNothing},
      {"non-resident flag 2", [&](std::vector<uint8_t>& r) { r[si + 8] = 2; }, kNothing},
      {"type not a multiple of 16", [&](std::vector<uint8_t>& r) { Put32(&r[si], 0x11); }, kNothing},
      {"type above 0x10000", [&](std::vector<uint8_t>& r) { Put32(&r[si], 0x10010); }, kNothing},
      {"used size beyond the record", [](std::vector<uint8_t>& r) { Put32(&r[0x18], 0xFFFFFFF0); }, kNamed},
      {"print name past the value", [&](std::vector<uint8_t>& r) { Put16(&r[rpValue + 12], 0x7FF0); }, kNamedNoLink},
      {"print name longer than the value", [&](std::vector<uint8_t>& r) { Put16(&r[rpValue + 14], 0xFFFE); },
       kNamedNoLink},
      {"substitute name past the value", [&](std::vector<uint8_t>& r) { Put16(&r[rpValue + 8], 0x7FF0); },
       kNamedNoLink},
      {"reparse value cut to its tag", [&](std::vector<uint8_t>& r) { Put32(&r[rp + 0x10], 8); }, kNamedNoLink},
      {"unknown reparse tag", [&](std::vector<uint8_t>& r) { Put32(&r[rpValue], 0x9000001C); }, kNamedNoLink},
      {"torn sector", [](std::vector<uint8_t>& r) { r[1022] ^= 1; }, kNothing},
      {"no FILE signature", [](std::vector<uint8_t>& r) { r[1] = 'X'; }, kNothing},
  };
  for (const Case& c : cases) {
    FedTask fed;
    std::vector<uint8_t> r = raw;
    c.patch(r);
    const std::vector<uint8_t> before = r;
    EXPECT_EQ(fed.Feed(r, 101), 1) << c.name;
    EXPECT_EQ(r, before) << c.name << ": the core's buffer is not changed";
    CFileEntry* entry = fed.Cell(101);
    switch (c.expect) {
      case kNamed:
        ASSERT_NE(entry, nullptr) << c.name;
        EXPECT_STREQ(entry->name, L"photo-link.bin") << c.name;
        ASSERT_NE(entry->linkTarget, nullptr) << c.name;
        EXPECT_STREQ(entry->linkTarget, L"\\docs\\photo.bin") << c.name;
        break;
      case kNamedNoLink:
        ASSERT_NE(entry, nullptr) << c.name;
        EXPECT_STREQ(entry->name, L"photo-link.bin") << c.name;
        EXPECT_EQ(entry->linkTarget, nullptr) << c.name;
        break;
      case kNoName:
        // The $DATA after the skipped name still makes a nameless placeholder.
        ASSERT_NE(entry, nullptr) << c.name;
        EXPECT_STREQ(entry->name, L"") << c.name;
        break;
      case kNothing:
        EXPECT_EQ(entry, nullptr) << c.name;
        break;
    }
  }
}

// What one record gives its entry: its names, data extents and link.
struct Outcome {
  bool exists = false;
  std::vector<std::wstring> names;
  size_t runs = 0;
  std::wstring link;
  bool operator==(const Outcome& o) const {
    return exists == o.exists && names == o.names && runs == o.runs && link == o.link;
  }
};
std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  out << (o.exists ? "entry" : "no entry") << ", " << o.names.size() << " name(s)";
  for (const std::wstring& n : o.names) out << " '" << std::string(n.begin(), n.end()) << "'";
  return out << ", " << o.runs << " extent(s), link '" << std::string(o.link.begin(), o.link.end()) << "'";
}

Outcome ParseOne(std::vector<uint8_t> raw, uint64_t number, uint32_t size = 0) {
  FedTask fed;
  const std::vector<uint8_t> before = raw;
  EXPECT_EQ(fed.Feed(raw, number, 128, size), 1);
  EXPECT_EQ(raw, before) << "the core's buffer is not changed";
  Outcome o;
  CFileEntry* entry = fed.Cell(number);
  if (!entry) return o;
  o.exists = true;
  for (CList* p = &FirstInLinkChain(entry)->linkChainNode; p; p = p->next)
    if (CFileEntry::FromLinkChainNode(p)->name[0]) o.names.push_back(CFileEntry::FromLinkChainNode(p)->name);
  for (CList* p = entry->runList.First(); !entry->runList.IsTail(p); p = p->next) ++o.runs;
  if (entry->linkTarget) o.link = entry->linkTarget;
  return o;
}

TEST(NtfsParser, CutAndScribbledRecordsKeepExactlyTheWholeAttributesBeforeTheDamage) {
  ImageRecords image(NtfsImage("ntfs-tree"));
  // A fragmented file with an attribute list, a folder with an index, a symbolic link.
  for (uint64_t number : {86u, 64u, 101u, 5u}) {
    SCOPED_TRACE(number);
    const std::vector<uint8_t> raw = image.Raw(number);
    const std::vector<uint8_t> fixed = Fixed(raw);
    const uint32_t used = Get32(fixed.data() + 0x18);
    // The attributes: offset, end, header size.
    struct Attr {
      uint32_t at, end, header;
    };
    std::vector<Attr> attrs;
    for (uint32_t at = Get16(fixed.data() + 0x14); Get32(&fixed[at]) != 0xFFFFFFFF; at += Get32(&fixed[at + 4]))
      attrs.push_back({at, at + Get32(&fixed[at + 4]), fixed[at + 8] ? 0x40u : 0x18u});
    ASSERT_GE(attrs.size(), 2u);
    // What the record gives when only its first k attributes lie within the used size.
    auto usedUpTo = [&](uint32_t usedSize) {
      std::vector<uint8_t> r = raw;
      Put32(&r[0x18], usedSize);
      return ParseOne(r, number);
    };
    std::vector<Outcome> firstK;
    firstK.push_back(usedUpTo(attrs[0].at));
    for (const Attr& a : attrs) firstK.push_back(usedUpTo(a.end));
    const Outcome whole = ParseOne(raw, number);
    ASSERT_TRUE(whole.exists);
    EXPECT_EQ(firstK.back(), whole);
    EXPECT_FALSE(firstK.front().exists) << "no attribute, no entry";

    // Every used size from nothing to past the record: an attribute counts only when it
    // ends within the used size, and nothing past it is read.
    for (uint32_t cut = 0; cut <= 1032; ++cut) {
      size_t k = 0;
      while (k < attrs.size() && attrs[k].end <= cut) ++k;
      EXPECT_EQ(usedUpTo(cut), cut >= used ? whole : firstK[k]) << "used " << cut;
    }
    // An attribute whose length is below its header ends the record there, even when an
    // end marker lies right after the length it claims.
    for (size_t i = 0; i < attrs.size(); ++i) {
      for (uint32_t length = 8; length < attrs[i].header; length += 8) {
        std::vector<uint8_t> r = fixed;
        Put32(&r[attrs[i].at + 4], length);
        if (length >= 8) Put32(&r[attrs[i].at + length], 0xFFFFFFFF);
        EXPECT_EQ(ParseOne(Unfixed(r), number), firstK[i]) << "attribute " << i << " of length " << length;
      }
    }
    // Every other attribute byte set to 0xFF and to 0 in turn (sector ends kept): never
    // more names or extents than the record holds.
    auto inLength = [&](uint32_t at) {
      return std::any_of(attrs.begin(), attrs.end(), [&](const Attr& a) { return at - a.at - 4 < 4; });
    };
    for (uint32_t at = Get16(fixed.data() + 0x14); at < used; ++at) {
      if (at % 512 >= 510 || inLength(at)) continue;
      for (uint8_t value : {uint8_t(0xFF), uint8_t(0)}) {
        std::vector<uint8_t> r = raw;
        r[at] = value;
        const Outcome o = ParseOne(r, number);
        EXPECT_LE(o.names.size(), whole.names.size()) << "byte " << at;
        EXPECT_LE(o.runs, whole.runs) << "byte " << at;
      }
    }
    // Every prefix of the record, handed over as a record of that size, is refused.
    for (uint32_t cut = 1; cut < raw.size(); ++cut) {
      std::vector<uint8_t> prefix(raw.begin(), raw.begin() + cut);
      EXPECT_FALSE(ParseOne(prefix, number, cut).exists) << "prefix " << cut;
    }
    // Record sizes that cannot hold the record are refused; only the low 16 bits of the
    // size count.
    for (uint32_t size : {1u, 511u, 512u}) EXPECT_FALSE(ParseOne(raw, number, size).exists) << "size " << size;
    EXPECT_EQ(ParseOne(raw, number, 0x10000u + 1024u), whole);
  }
}

TEST(NtfsParser, RecordsBuildEntriesDataRunsAndPlaceholders) {
  ImageRecords image(NtfsImage("ntfs-tree"));
  FedTask fed;
  // An extension record first: it waits for its base record, which must own it.
  std::vector<uint8_t> extension = image.Raw(88);
  fed.Feed(extension, 88);
  EXPECT_EQ(fed.Cell(86), nullptr);
  // The base record gives the file its first extent (in a nameless placeholder) and takes
  // the waiting extension record's; the next extension record gives its name.
  std::vector<uint8_t> base = image.Raw(86);
  fed.Feed(base, 86);
  CFileEntry* placeholder = fed.Cell(86);
  ASSERT_NE(placeholder, nullptr);
  EXPECT_STREQ(placeholder->name, L"");
  EXPECT_EQ(placeholder->parentId, kNoEntryId);
  EXPECT_EQ(FindParentFolder(placeholder), fed.task->UnknownFolder());
  bool fromExtension = false;
  for (CList* p = placeholder->runList.First(); !placeholder->runList.IsTail(p); p = p->next)
    fromExtension |= CDataEntry::FromNode(p)->recordNumber == 88u && CDataEntry::FromNode(p)->node.value != 0u;
  EXPECT_TRUE(fromExtension);
  for (uint64_t number : {87u, 89u, 90u}) {
    std::vector<uint8_t> more = image.Raw(number);
    fed.Feed(more, number);
  }
  EXPECT_EQ(fed.Cell(86), placeholder);
  EXPECT_STREQ(placeholder->name, L"split.txt");
  EXPECT_EQ(GetEntrySize(placeholder), 2867228u);
  EXPECT_EQ(CDataEntry::FromNode(placeholder->runList.First())->node.value, 0u);
  EXPECT_EQ(placeholder->attributes & kAttrDeleted, 0u) << "a name in a live extension record is not deleted";
  // Parsed again, a record adds no second copy of its extents.
  size_t runs = 0;
  for (CList* p = placeholder->runList.First(); !placeholder->runList.IsTail(p); p = p->next) ++runs;
  fed.Feed(base = image.Raw(86), 86);
  size_t again = 0;
  for (CList* p = placeholder->runList.First(); !placeholder->runList.IsTail(p); p = p->next) ++again;
  EXPECT_EQ(again, runs);

  // A deleted record: the entry carries the deleted bit.
  std::vector<uint8_t> gone = image.Raw(83);
  fed.Feed(gone, 83);
  ASSERT_NE(fed.Cell(83), nullptr);
  EXPECT_STREQ(fed.Cell(83)->name, L"gone.bin");
  EXPECT_NE(fed.Cell(83)->attributes & kAttrDeleted, 0u);
  // Two names in one record (hard links): the aliases are chained.
  std::vector<uint8_t> report = image.Raw(75);
  fed.Feed(report, 75);
  CFileEntry* first = fed.Cell(75);
  ASSERT_NE(first, nullptr);
  int names = 0;
  for (CList* p = &first->linkChainNode; p; p = p->next) ++names;
  EXPECT_EQ(names, 3) << "report.txt, report-2.txt and report-hard.txt";
  // A record that is not in use and has no base gives no placeholder for its data.
  std::vector<uint8_t> unused = image.Raw(120);
  fed.Feed(unused, 120);
  EXPECT_EQ(fed.Cell(120), nullptr);
}


TEST(NtfsParser, ProgressStaysWithinItsRangeAlsoWithoutARecordCount) {
  ImageRecords image(NtfsImage("ntfs-tree"));
  struct Case {
    uint64_t number, count;
    int32_t progress;
  } const cases[] = {{74, 0, 0}, {64, 128, 5000}, {200, 100, 10000}, {74, 1ull << 62, 0}};
  for (const Case& c : cases) {
    FedTask fed;
    std::vector<uint8_t> r = image.Raw(74);
    Put32(&r[0x2C], uint32_t(c.number));
    fed.Feed(r, c.number, c.count);
    int32_t progress = -1;
    fed.task->GetScanProgress(&progress, nullptr, nullptr, nullptr);
    EXPECT_EQ(progress, c.progress) << c.number << "/" << c.count;
  }
}

// Points every $FILE_NAME of the raw record at another parent.
void SetParent(std::vector<uint8_t>& raw, uint64_t parent) {
  const std::vector<uint8_t> fixed = Fixed(raw);
  uint32_t offset = Get16(fixed.data() + 0x14);
  while (offset + 8 <= fixed.size() && Get32(fixed.data() + offset) != 0xFFFFFFFF) {
    const uint32_t length = Get32(fixed.data() + offset + 4);
    if (length == 0) break;
    if (Get32(fixed.data() + offset) == 0x30) {
      const uint32_t value = offset + Get16(fixed.data() + offset + 0x14);
      Put32(&raw[value], uint32_t(parent));
      Put16(&raw[value + 4], 0);
    }
    offset += length;
  }
}

TEST(NtfsParser, SelfParentsAndParentCyclesEndAsOrphans) {
  ImageRecords image(NtfsImage("ntfs-tree"));
  FedTask fed;
  ASSERT_TRUE(fed.task->StartIndexer());
  std::vector<uint8_t> root = image.Raw(5);
  fed.Feed(root, 5);
  // docs (64) and docs/nested (65) name each other as parent; deep (66) itself; and
  // leaf.txt (77) names itself.
  const std::pair<uint64_t, uint64_t> patched[] = {{64, 65}, {65, 64}, {66, 66}, {77, 77}};
  for (const auto& p : patched) {
    std::vector<uint8_t> r = image.Raw(p.first);
    SetParent(r, p.second);
    fed.Feed(r, p.first);
  }
  fed.task->WorkFinishRoutine(0);
  ASSERT_TRUE(fed.task->IsFinished());
  ASSERT_TRUE(fed.task->IndexerDone());
  // Every one of them is still in the tree, none under the volume's root, and every
  // path walk ends.
  CPathEntry* volumeRoot = fed.Cell(5)->AsPath();
  ASSERT_NE(volumeRoot, nullptr);
  for (const auto& p : patched) {
    CFileEntry* entry = fed.Cell(p.first);
    ASSERT_NE(entry, nullptr) << p.first;
    CPathEntry* parent = FindParentFolder(entry);
    ASSERT_NE(parent, nullptr) << p.first;
    EXPECT_TRUE(IsSameOrAncestor(fed.task->UnknownFolder(), parent)) << p.first;
    EXPECT_FALSE(IsSameOrAncestor(volumeRoot, parent)) << p.first;
    std::vector<wchar_t> path(kMaxFullPath + 16, L'\0');
    fed.task->QueryFileFullPath(p.first, path.data());
    EXPECT_LT(std::wcslen(path.data()), kMaxFullPath) << p.first;
  }
  EXPECT_TRUE(fed.task->VirtualRoot()->IsCounted());
}

// ---------------------------------------------------------------------------------
// Whole scans through the stand-in core

struct ManifestEntry {
  std::wstring path;
  uint64_t size = 0;
  bool deleted = false;
  bool folder = false;
  int64_t mtime = 0;
  uint64_t record = 0;
  std::string scan;
};

struct Manifest {
  std::vector<ManifestEntry> entries;
  std::vector<std::pair<std::wstring, uint64_t>> aliases;
  std::map<std::wstring, std::wstring> reparse;  // path -> print name
};

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts;
  std::stringstream in(line);
  std::string part;
  while (std::getline(in, part, '\t')) parts.push_back(part);
  return parts;
}

Manifest ReadManifest(const std::string& path) {
  Manifest m;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    auto f = SplitTabs(line);
    if (f.size() >= 10 && f[0] == "entry") {
      ManifestEntry e;
      e.path = FromUtf8(f[1]);
      e.size = std::stoull(f[2]);
      e.deleted = f[4] == "1";
      e.folder = f[5] == "1";
      e.mtime = std::stoll(f[6]);
      e.record = std::stoull(f[7]);
      e.scan = f[8];
      m.entries.push_back(e);
    } else if (f.size() >= 3 && f[0] == "alias") {
      m.aliases.emplace_back(FromUtf8(f[1]), std::stoull(f[2]));
    } else if (f.size() >= 5 && f[0] == "reparse") {
      m.reparse[FromUtf8(f[1])] = FromUtf8(f[4]);
    }
  }
  return m;
}

wchar_t g_driveLetter = 0;

// What the stand-in core's log holds from byte `from` on.
std::string CoreLog(size_t from = 0) {
  char path[520] = {};
  if (CoreFn<int(__cdecl*)(char*, int)>("QvtdLogPath")(path, int(sizeof path)) <= 0) return std::string();
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return from < text.size() ? text.substr(from) : std::string();
}

int32_t BuildForTest(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  int32_t r = BuildNtfsScanTask(params, task);
  if (task) static_cast<CStorage::CNTFSScanTask*>(task.get())->SetDriveLetter(g_driveLetter);
  return r;
}
int32_t BuildFormattedForTest(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  int32_t r = BuildNtfsScanFormattedTask(params, task);
  if (task) static_cast<CStorage::CNTFSScanTask*>(task.get())->SetDriveLetter(g_driveLetter);
  return r;
}
CStorage::TaskBuilder LookupNtfs(StarterKind kind, uint16_t type) {
  if (type != 256) return nullptr;
  if (kind == StarterKind::kScan) return &BuildForTest;
  if (kind == StarterKind::kScanFormatted) return &BuildFormattedForTest;
  return nullptr;
}

class NtfsScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(CoreModule(), nullptr);
    if (!CoreFn<void*>("NTFSEnumVirtualFRs")) GTEST_SKIP() << "the stand-in core has no NTFS walk";
    CoreFn<int(__cdecl*)(int)>("QvtdSetRecordDelay")(0);
    CoreFn<int(__cdecl*)(int)>("QvtdInjectFault")(0);
    g_driveLetter = L'C';
  }
  void TearDown() override {
    CoreFn<int(__cdecl*)(int)>("QvtdSetRecordDelay")(0);
    CoreFn<int(__cdecl*)(int)>("QvtdInjectFault")(0);
    CoreFn<int(__cdecl*)(int, void*, void*)>("QvtdHoldBeforeRecord")(0, nullptr, nullptr);
  }
  // Scans the image as disk 0, partition 1; the finished task.
  CStorage::CNTFSScanTask* Scan(const std::string& image, bool formatted = false) {
    CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(image.c_str());
    if (m_storage.Initialize() != 1) return nullptr;
    m_storage.SetCloseTimeoutForTest(5000);
    int32_t id = 0;
    const int32_t started = formatted ? m_storage.StartScanFormattedTask(0, 1, 0, &id)
                                      : m_storage.StartScanTask(0, 1, 0, &id);
    if (started != 0) return nullptr;
    m_task = m_storage.FindTask(id);
    for (int i = 0; i < 1200 && !m_task->IsFinished(); ++i) Sleep(50);
    if (!m_task->IsFinished()) return nullptr;
    m_id = id;
    return static_cast<CStorage::CNTFSScanTask*>(m_task.get());
  }
  CPathEntry* Root(CStorage::CNTFSScanTask* task) {
    CFileEntry* root = *task->GetIdCell(5);
    return root ? root->AsPath() : nullptr;
  }
  // The entry at a manifest path, by exact names from the root; null when absent.
  static CFileEntry* At(CPathEntry* root, const std::wstring& path) {
    CFileEntry* at = root;
    size_t from = 0;
    while (at && from <= path.size()) {
      size_t slash = path.find(L'/', from);
      if (slash == std::wstring::npos) slash = path.size();
      const std::wstring part = path.substr(from, slash - from);
      CPathEntry* folder = ChildFolderOf(at);
      CFileEntry* next = nullptr;
      if (folder) {
        for (CList* p = folder->childList.First(); !folder->childList.IsTail(p); p = p->next) {
          CFileEntry* child = CFileEntry::FromChildNode(p);
          if (part == child->name) {
            next = child;
            break;
          }
        }
      }
      at = next;
      from = slash + 1;
      if (slash == path.size()) break;
    }
    return at;
  }
  // Every entry under folder, one per line, for failure messages.
  static std::string Listing(CPathEntry* folder, const std::string& prefix = "") {
    std::string out;
    for (CList* p = folder->childList.First(); !folder->childList.IsTail(p); p = p->next) {
      CFileEntry* child = CFileEntry::FromChildNode(p);
      const std::wstring name(child->name);
      char line[64];
      std::snprintf(line, sizeof line, " #%llu%s%s\n", static_cast<unsigned long long>(child->ownId),
                    child->IsFolder() ? " folder" : "", child->IsDeleted() ? " deleted" : "");
      out += prefix + std::string(name.begin(), name.end()) + line;
      if (CPathEntry* sub = child->AsPath()) out += Listing(sub, prefix + "  ");
    }
    return out;
  }
  static uint64_t ExpectedTime(int64_t mtime) { return uint64_t(mtime * 10000000ll) / 10000000ull; }

  void CheckAgainstManifest(CStorage::CNTFSScanTask* task, const Manifest& manifest, const char* scan) {
    CPathEntry* root = Root(task);
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->name, L"Root");
    std::map<uint64_t, uint64_t> sizes;
    std::map<uint64_t, bool> deleted;
    uint32_t live = 0;
    uint32_t gone = 0;
    for (const ManifestEntry& e : manifest.entries) {
      if (e.scan != scan && std::string(scan) != "formatted") continue;
      if (!e.folder) {
        sizes[e.record] = e.size;
        deleted[e.record] = e.deleted;
        ++(e.deleted ? gone : live);
      }
      const std::string where(e.path.begin(), e.path.end());
      CFileEntry* entry = At(root, e.path);
      ASSERT_NE(entry, nullptr) << where;
      EXPECT_EQ(entry->ownId, e.record) << where;
      EXPECT_EQ(entry->IsFolder(), e.folder) << where;
      EXPECT_EQ(entry->IsDeleted(), e.deleted) << where;
      EXPECT_EQ(entry->Time(), ExpectedTime(e.mtime)) << where;
      if (!e.folder && !manifest.reparse.count(e.path)) EXPECT_EQ(GetEntrySize(entry), e.size) << where;
    }
    // Hard links: every further name stands for the same record, with its size.
    for (const auto& alias : manifest.aliases) {
      CFileEntry* entry = At(root, alias.first);
      const std::string where(alias.first.begin(), alias.first.end());
      ASSERT_NE(entry, nullptr) << where;
      EXPECT_EQ(entry->ownId, alias.second) << where;
      EXPECT_EQ(GetEntrySize(entry), sizes[alias.second]) << where;
      ++(deleted[alias.second] ? gone : live);
    }
    // The folders' totals count exactly the live files; deleted records the manifest
    // does not know (temporary files of the generator) may add to the deleted ones.
    EXPECT_EQ(root->fileCount - root->deletedCount, live) << Listing(root);
    EXPECT_GE(root->deletedCount, gone) << Listing(root);
  }

  CStorage m_storage{&LookupNtfs};
  std::shared_ptr<CStorage::CScanTask> m_task;
  int32_t m_id = 0;
};

TEST_F(NtfsScanTest, TreeImageGivesTheManifestsEntriesAliasesAndLinks) {
  const size_t logStart = CoreLog().size();
  CStorage::CNTFSScanTask* task = Scan(NtfsImage("ntfs-tree"));
  ASSERT_NE(task, nullptr);
  const Manifest m = ReadManifest(kImages + "/ntfs/ntfs-tree.manifest");
  ASSERT_FALSE(m.entries.empty());
  CheckAgainstManifest(task, m, "normal");
  CPathEntry* root = Root(task);

  // The DOS name is no entry of its own.
  EXPECT_EQ(At(root, L"docs/LONGFI~1.TXT"), nullptr);

  // Links on this drive point at their targets; the one to drive Q: stays unresolved.
  EXPECT_EQ(At(root, L"links/photo-link.bin")->baseEntry, At(root, L"docs/photo.bin"));
  EXPECT_EQ(At(root, L"links/report-link.txt")->baseEntry, At(root, L"docs/report.txt"));
  EXPECT_EQ(At(root, L"links/junction-nested")->baseEntry, At(root, L"docs/nested"));
  EXPECT_TRUE(At(root, L"links/junction-nested")->IsFolder());
  EXPECT_EQ(GetEntrySize(At(root, L"links/photo-link.bin")), 70001u) << "a link shows its target's size";
  EXPECT_EQ(At(root, L"links/elsewhere.txt")->baseEntry, nullptr);
  EXPECT_TRUE(At(root, L"links/elsewhere.txt")->linkNode.IsLinked()) << "stays queued";
  EXPECT_NE(CoreLog(logStart).find("Can not found original path Q:\\elsewhere\\away.txt of entry elsewhere.txt"),
            std::string::npos);

  // Nothing of records 0-15 but the root; the virtual root holds Root and UnknownPath.
  for (uint64_t id = 0; id < 16; ++id) {
    if (id != 5) EXPECT_EQ(*task->GetIdCell(id), nullptr) << id;
  }
  for (const wchar_t* system : {L"$MFT", L"$MFTMirr", L"$LogFile", L"$Volume", L"$Bitmap", L"$Extend"})
    EXPECT_EQ(At(root, system), nullptr);
  CVirtualRoot* top = task->VirtualRoot();
  ASSERT_EQ(top->childCount, 2u);
  EXPECT_EQ(CFileEntry::FromChildNode(top->childList.First()), root);
  EXPECT_STREQ(CFileEntry::FromChildNode(top->childList.First()->next)->name, L"UnknownPath");
  EXPECT_TRUE(top->IsCounted());
  // The deleted folder counts its deleted files.
  CPathEntry* trash = At(root, L"trash")->AsPath();
  ASSERT_NE(trash, nullptr);
  EXPECT_EQ(trash->deletedCount, 2u);
  EXPECT_EQ(m_storage.CloseScanTask(m_id), 0);
}

// The record block of the finishing pass, kept for reading records afterwards.
std::atomic<int32_t> g_finishBlock{0};

class CapturingTask : public CStorage::CNTFSScanTask {
 public:
  using CNTFSScanTask::CNTFSScanTask;
  void WorkFinishRoutine(int32_t value) override {
    g_finishBlock.store(value);
    CNTFSScanTask::WorkFinishRoutine(value);
  }
};

int32_t BuildCapturing(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task) {
  auto made = std::make_unique<CapturingTask>(params);
  made->SetWorker(std::make_unique<CNTFSWorker>(params.storage, made.get()));
  task = std::move(made);
  return 0;
}

TEST_F(NtfsScanTest, ReadMftRecordValidatesAndCachesOnlyWhatItRead) {
  CStorage storage([](StarterKind kind, uint16_t type) -> CStorage::TaskBuilder {
    return type == 256 && kind == StarterKind::kScan ? &BuildCapturing : nullptr;
  });
  CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(NtfsImage("ntfs-tree").c_str());
  ASSERT_EQ(storage.Initialize(), 1);
  g_finishBlock.store(0);
  int32_t id = 0;
  ASSERT_EQ(storage.StartScanTask(0, 1, 0, &id), 0);
  auto task = std::static_pointer_cast<CStorage::CNTFSScanTask>(storage.FindTask(id));
  for (int i = 0; i < 1200 && !task->IsFinished(); ++i) Sleep(50);
  ASSERT_TRUE(task->IsFinished());
  auto* block = reinterpret_cast<NtfsRecordBlock*>(uintptr_t(uint32_t(g_finishBlock.load())));
  ASSERT_NE(block, nullptr);

  std::vector<uint8_t> buffer(0x10000);
  uint64_t cache = kNoEntryId;
  ASSERT_EQ(task->ReadMftRecord(block, &cache, 74, 0, buffer.data()), 1);
  EXPECT_EQ(cache, 74u);
  EXPECT_EQ(std::memcmp(buffer.data(), "FILE", 4), 0);
  EXPECT_EQ(Get32(buffer.data() + 0x2C), 74u);
  // Fixups applied: the sector ends hold the data again, not the check word.
  EXPECT_NE(Get16(buffer.data() + 510), Get16(buffer.data() + Get16(buffer.data() + 4)));
  // Failures leave the cache as it was: an empty record, one past the end, a high word.
  for (uint32_t high : {0u, 1u}) {
    for (uint32_t low : {120u, 0x40000000u}) {
      EXPECT_EQ(task->ReadMftRecord(block, &cache, low, high, buffer.data()), 0) << low << " " << high;
      EXPECT_EQ(cache, 74u) << low << " " << high;
    }
  }
  // The cached number answers without reading.
  std::fill(buffer.begin(), buffer.end(), uint8_t(0xEE));
  EXPECT_EQ(task->ReadMftRecord(block, &cache, 74, 0, buffer.data()), 1);
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_EQ(task->ReadMftRecord(nullptr, &cache, 75, 0, buffer.data()), 0);
  EXPECT_EQ(storage.CloseScanTask(id), 0);
}

TEST_F(NtfsScanTest, ReformattedImageShowsOldFilesOnlyToTheFormattedScan) {
  const Manifest m = ReadManifest(kImages + "/ntfs/ntfs-reformatted.manifest");
  ASSERT_FALSE(m.entries.empty());
  {
    CStorage::CNTFSScanTask* task = Scan(NtfsImage("ntfs-reformatted"));
    ASSERT_NE(task, nullptr);
    CPathEntry* root = Root(task);
    ASSERT_NE(root, nullptr);
    for (const ManifestEntry& e : m.entries) {
      if (e.scan == "formatted") EXPECT_EQ(At(root, e.path), nullptr) << std::string(e.path.begin(), e.path.end());
    }
    EXPECT_EQ(m_storage.CloseScanTask(m_id), 0);
  }
  CStorage::CNTFSScanTask* task = Scan(NtfsImage("ntfs-reformatted"), true);
  ASSERT_NE(task, nullptr);
  CheckAgainstManifest(task, m, "formatted");
  EXPECT_EQ(m_storage.CloseScanTask(m_id), 0);
}

TEST_F(NtfsScanTest, EveryImageGivesItsManifest) {
  for (const char* name : {"ntfs-fragmented-mft", "ntfs-compressed", "ntfs-badnames"}) {
    SCOPED_TRACE(name);
    const Manifest m = ReadManifest(kImages + "/ntfs/" + name + ".manifest");
    ASSERT_FALSE(m.entries.empty());
    CStorage::CNTFSScanTask* task = Scan(NtfsImage(name));
    ASSERT_NE(task, nullptr);
    CheckAgainstManifest(task, m, "normal");
    EXPECT_EQ(m_storage.CloseScanTask(m_id), 0);
  }
}

TEST_F(NtfsScanTest, FaultInTheWalkFinishesTheScanWithWhatItHas) {
  const size_t logStart = CoreLog().size();
  CoreFn<int(__cdecl*)(int)>("QvtdInjectFault")(1);
  CStorage::CNTFSScanTask* task = Scan(NtfsImage("ntfs-tree"));
  ASSERT_NE(task, nullptr) << "the scan ends, the process lives";
  EXPECT_TRUE(task->FinishDone());
  // The root is there (made when its record was not reached), with the virtual root.
  CPathEntry* root = Root(task);
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(root->name, L"Root");
  EXPECT_EQ(task->VirtualRoot()->childCount, 2u);
  EXPECT_NE(CoreLog(logStart).find("CNTFSWorker::ScanRoutine\t96\tException occur in NTFSEnumVirtualFRs"),
            std::string::npos);
  EXPECT_EQ(m_storage.CloseScanTask(m_id), 0);
}

TEST_F(NtfsScanTest, StopWorkEndsAHeldScanAlsoWhilePaused) {
  UniqueHandle held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(held && release);
  // The walk waits before its 30th record: the first user files come after it.
  ASSERT_EQ(CoreFn<int(__cdecl*)(int, void*, void*)>("QvtdHoldBeforeRecord")(30, held.Get(), release.Get()), 0);
  CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(NtfsImage("ntfs-tree").c_str());
  ASSERT_EQ(m_storage.Initialize(), 1);
  int32_t id = 0;
  ASSERT_EQ(m_storage.StartScanTask(0, 1, 0, &id), 0);
  std::shared_ptr<CStorage::CScanTask> task = m_storage.FindTask(id);
  const bool wasHeld = WaitForSingleObject(held.Get(), 60000) == WAIT_OBJECT_0;
  EXPECT_TRUE(wasHeld);
  EXPECT_FALSE(task->IsFinished());
  task->PauseWork(1);
  SetEvent(release.Get());
  ASSERT_TRUE(EndsWithin([&] { EXPECT_EQ(m_storage.StopWork(id), 1); }, 60000)) << "StopWork hangs on a paused scan";
  EXPECT_TRUE(task->IsFinished());
  EXPECT_EQ(m_storage.CloseScanTask(id), 0);
}

// ---------------------------------------------------------------------------------
// Through Intermediate.dll's exports

using EnumFn = int(__cdecl*)(int, const wchar_t*, int, ScanFileRecord*, int*, int*, int*, int*, uint64_t*, uint64_t*,
                             int*);
using ContinueFn = int(__cdecl*)(int, int, int, ScanFileRecord*, int*);
using CloseEnumFn = int(__cdecl*)(int, int);
using ProgressFn = int(__cdecl*)(int, int*, int*, int*, int*);
using FullPathFn = int(__cdecl*)(int, uint64_t, wchar_t*);

struct Listed {
  ScanFileRecord record;
  std::wstring path;  // from the root, '/'-joined
};

// Every entry below the tree path, paged 3 at a time, depth first.
void ListTree(int task, const std::wstring& treePath, const std::wstring& path, std::vector<Listed>& out) {
  auto enumerate = Dll().Get<EnumFn>("EnumScannedFiles");
  auto next = Dll().Get<ContinueFn>("ContinueEnumScannedFiles");
  auto close = Dll().Get<CloseEnumFn>("CloseEnumHandle");
  ScanFileRecord page[3];
  int got = 0, children = 0, files = 0, deleted = 0, handle = 0;
  uint64_t total = 0, deletedSize = 0;
  std::vector<ScanFileRecord> records;
  int r = enumerate(task, treePath.c_str(), 3, page, &got, &children, &files, &deleted, &total, &deletedSize,
                    &handle);
  ASSERT_EQ(r, 0) << std::string(treePath.begin(), treePath.end());
  while (got > 0) {
    records.insert(records.end(), page, page + got);
    ASSERT_EQ(next(task, handle, 3, page, &got), 0);
  }
  EXPECT_EQ(close(task, handle), 0);
  EXPECT_EQ(size_t(children), records.size());
  for (const ScanFileRecord& rec : records) {
    const std::wstring childPath = path.empty() ? rec.name : path + L"/" + rec.name;
    out.push_back({rec, childPath});
    if (rec.attributes & kAttrFolderMask) {
      wchar_t id[32];
      std::swprintf(id, 32, L"%llX", static_cast<unsigned long long>(rec.id));
      ListTree(task, treePath + rec.name + L":" + id + L"/", childPath, out);
    }
  }
}

TEST(NtfsDll, DemoImageListsItsManifestThroughTheExports) {
  ASSERT_NE(Dll().dll, nullptr);
  ASSERT_NE(CoreModule(), nullptr);
  if (!CoreFn<void*>("NTFSEnumVirtualFRs")) GTEST_SKIP() << "the stand-in core has no NTFS walk";
  const std::string image = kImages + "/ntfs-demo.img";
  CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(image.c_str());
  ASSERT_EQ(Dll().Get<int(__cdecl*)()>("ServiceInitialize")(), 1);

  for (const char* starter : {"StartScanTask", "StartScanFormattedTask"}) {
    SCOPED_TRACE(starter);
    int task = 0;
    ASSERT_EQ(Dll().Get<int(__cdecl*)(int, int, int, int*)>(starter)(0, 1, 0, &task), 0);
    int again = 0;
    EXPECT_EQ(Dll().Get<int(__cdecl*)(int, int, int, int*)>("StartScanTask")(0, 1, 0, &again), -87);
    int progress = 0, files = 0, deleted = 0, finished = 0;
    for (int i = 0; i < 1200 && !finished; ++i) {
      ASSERT_EQ(Dll().Get<ProgressFn>("GetScanProgress")(task, &progress, &files, &deleted, &finished), 0);
      if (!finished) Sleep(50);
    }
    ASSERT_EQ(finished, 1);

    std::vector<Listed> listed;
    ListTree(task, L":/Root:6/", L"", listed);
    std::map<std::wstring, const ScanFileRecord*> byPath;
    for (const Listed& l : listed) byPath[l.path] = &l.record;

    // file  deleted  folder  size  mtime  sha256  path
    std::ifstream in(kImages + "/ntfs-demo.manifest");
    std::string line;
    size_t expected = 0;
    while (std::getline(in, line)) {
      auto f = SplitTabs(line);
      if (f.size() < 7 || f[0] != "file") continue;
      ++expected;
      const std::wstring path = FromUtf8(f[6]);
      ASSERT_TRUE(byPath.count(path)) << f[6];
      const ScanFileRecord& r = *byPath[path];
      EXPECT_EQ((r.attributes & kAttrFolderMask) != 0, f[2] == "1") << f[6];
      EXPECT_EQ((r.attributes & kAttrDeleted) != 0, f[1] == "1") << f[6];
      if (f[2] == "0") {
        EXPECT_EQ(r.size, std::stoull(f[3])) << f[6];
        // The time shown is that of the name ($FILE_NAME), which this older image
        // left at the time it was made; the manifest holds $STANDARD_INFORMATION's.
        EXPECT_NE(r.time, 0u) << f[6];
        EXPECT_EQ(r.taskId, uint32_t(task)) << f[6];
        wchar_t full[1024] = {};
        EXPECT_EQ(Dll().Get<FullPathFn>("QueryFileFullPath")(task, r.id, full), 0);
        EXPECT_EQ(full, L"/" + path) << f[6];
      }
    }
    // Exactly the manifest's entries under Root.
    EXPECT_EQ(listed.size(), expected);
    EXPECT_EQ(Dll().Get<int(__cdecl*)(int)>("CloseScanTask")(task), 0);
  }
}

// ---------------------------------------------------------------------------------
// Damaged and doubtful records

TEST(NtfsDamage, EmptyNamesTakeTheirRecordsNumberOrAUsableNameOfTheSameFolder) {
  ImageRecords image(NtfsImage("ntfs-tree"));
  // docs (64) / nested (65) / deep (66) / leaf.txt (77); docs/Long File Name Document.txt
  // (81) has a Win32 name and a DOS name.
  struct Case {
    const char* what;
    uint64_t record;
    int blank;  // the namespace whose $FILE_NAME loses its first character (1 Win32, 2 DOS), -1 all
    const wchar_t* name;
    uint64_t parent;
    bool longFirst;  // the Win32 name's attribute before the DOS name's
  } const cases[] = {
      {"a file's only name", 77, -1, L"UnnamedFile77", 66, false},
      {"a folder's only name", 65, -1, L"UnnamedFolder65", 64, false},
      {"the long name beside a DOS name", 81, 1, nullptr, 64, false},
      {"the long name before a DOS name", 81, 1, nullptr, 64, true},
      {"the DOS name beside a long name", 81, 2, nullptr, 64, false},
      {"the DOS name after a long name", 81, 2, nullptr, 64, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FedTask fed;
    for (uint64_t n : {5u, 64u, 65u, 66u}) {
      if (n != c.record) fed.FeedFixed(FixedOf(image, n), n);
    }
    std::vector<uint8_t> r = FixedOf(image, c.record);
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
    if (names.size() == 2 && (r[NameValue(r, names[0]) + 0x41] == 1) != c.longFirst) {
      // The two $FILE_NAME attributes lie one after the other: swap them.
      const uint32_t firstLength = Get32(&r[names[0] + 4]), secondLength = Get32(&r[names[1] + 4]);
      ASSERT_EQ(names[0] + firstLength, names[1]);
      std::vector<uint8_t> swapped(r.begin() + names[1], r.begin() + names[1] + secondLength);
      swapped.insert(swapped.end(), r.begin() + names[0], r.begin() + names[0] + firstLength);
      std::copy(swapped.begin(), swapped.end(), r.begin() + names[0]);
    }
    fed.FeedFixed(r, c.record);
    if (c.record != 77) fed.FeedFixed(FixedOf(image, 77), 77);
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
  ImageRecords image(NtfsImage("ntfs-tree"));
  // frag/split.txt: base record 86 with an attribute list; its name lies in extension
  // record 87. docs/report.txt (75) has no attribute list.
  const std::vector<uint8_t> base = FixedOf(image, 86);
  const std::vector<uint8_t> named = FixedOf(image, 87);
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
    FedTask fed;
    std::vector<uint8_t> b = base;
    if (!c.baseInUse) Put16(&b[0x16], Get16(&b[0x16]) & ~1u);
    Put16(&b[0x10], c.recordSequence);
    fed.FeedFixed(b, 86);
    fed.FeedFixed(FixedOf(image, 75), 75);
    std::vector<uint8_t> x = named;
    Put32(&x[0x20], uint32_t(c.baseNumber));
    Put16(&x[0x26], c.baseSequence);
    fed.FeedFixed(x, 87);
    const std::vector<std::wstring> split = fed.Names(86);
    const std::vector<std::wstring> report = fed.Names(75);
    EXPECT_EQ(std::count(split.begin(), split.end(), L"split.txt"), c.accepted ? 1 : 0);
    EXPECT_EQ(std::count(report.begin(), report.end(), L"split.txt"), 0) << "another file never takes it";
  }
  // An extension record that came first waits for its base; one whose base never comes
  // is left out at the end.
  FedTask fed;
  fed.FeedFixed(named, 87);
  EXPECT_EQ(fed.Cell(86), nullptr);
  fed.FeedFixed(base, 86);
  EXPECT_EQ(fed.Names(86), std::vector<std::wstring>{L"split.txt"});
  FedTask lonely;
  lonely.FeedFixed(named, 87);
  lonely.task->WorkFinishRoutine(0);
  EXPECT_EQ(lonely.Cell(86), nullptr);
}

TEST(NtfsDamage, FormattedScanKeepsOneRecordPerNumberAndPrefersTheOneAtItsPlace) {
  ImageRecords image(NtfsImage("ntfs-tree"));
  // readme.txt (74), and docs/nested/deep/leaf.txt's record (77) claiming number 74.
  const std::vector<uint8_t> readme = FixedOf(image, 74);
  std::vector<uint8_t> impostor = FixedOf(image, 77);
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
    fed.FeedFixed(FixedOf(image, 5), 5, 6);
    if (c.impostorFirst) fed.FeedFixed(impostor, 74, c.impostorPlace);
    if (c.readmeThere) fed.FeedFixed(readme, 74, c.impostorPlace ? 75 : 0);
    if (!c.impostorFirst) fed.FeedFixed(impostor, 74, c.impostorPlace);
    fed.task->WorkFinishRoutine(0);
    EXPECT_EQ(fed.Names(74), std::vector<std::wstring>{c.name});
    EXPECT_EQ(GetEntrySize(fed.Cell(74)), c.readmeThere ? 24u : 300u);
  }
  // A normal scan hands every number once: nothing is held back there.
  FedTask normal;
  normal.FeedFixed(impostor, 74, 76);
  EXPECT_EQ(normal.Names(74), std::vector<std::wstring>{L"leaf.txt"});
}

// ---------------------------------------------------------------------------------

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
