// The 7z skin reader against archives made by 7zz: every item, lookups, prefixes, flips.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "SkinArchive7z.h"
#include "test_support.h"

using namespace SkinUI;
using namespace uitest;

namespace {

const wchar_t* const k7zFixtures[] = {
    L"lzma.7z", L"lzma2.7z", L"lzma2_nonsolid.7z", L"bcj_lzma.7z", L"bcj2.7z", L"bcj2_explicit.7z",
    L"copy.7z", L"plain_headers.7z", L"copy_plain_headers.7z", L"tiny_lzma2.7z", L"tiny_bcj2.7z", L"tiny_copy.7z",
};

struct ArchiveCloser {
    HSKINARCHIVE7Z h;
    ~ArchiveCloser()
    {
        if (h) CSkinArchive7z::Close(h);
    }
};

std::vector<unsigned char> Copy(HSKINARCHIVE7Z h, const std::wstring& name, bool& found)
{
    int index = -1;
    UInt64 size = 0;
    found = CSkinArchive7z::FindItem(h, name.c_str(), &index, &size) == 0;
    std::vector<unsigned char> out;
    if (!found) return out;
    out.resize(static_cast<size_t>(size) + 1, 0xCD);   // one guard byte behind
    EXPECT_EQ(CSkinArchive7z::CopyItem(h, index, out.data()), 0u);
    EXPECT_EQ(out.back(), 0xCD) << "copied past the item's size";
    out.pop_back();
    return out;
}

// Every item of the manifest reads back byte-identical; folder entries are absent.
void ExpectWholeArchive(HSKINARCHIVE7Z h, const std::wstring& archive)
{
    const std::vector<ManifestItem> items = ManifestOf(archive);
    ASSERT_FALSE(items.empty()) << "no manifest for this archive";
    int files = 0;
    for (const ManifestItem& item : items) {
        bool found = false;
        const std::vector<unsigned char> bytes = Copy(h, item.name, found);
        if (item.payload.empty()) {
            EXPECT_FALSE(found) << "folder entry in the table";
            continue;
        }
        ++files;
        ASSERT_TRUE(found) << std::string(item.name.begin(), item.name.end());
        EXPECT_TRUE(bytes == PayloadBytes(item)) << std::string(item.name.begin(), item.name.end());
    }
    EXPECT_EQ(CSkinArchive7z::GetItemCount(h), files);
}

// A damaged archive may be refused or may keep the items that decoded; every
// item that it serves must carry the right bytes.
void ExpectNothingWrong(HSKINARCHIVE7Z h, const std::map<std::wstring, std::vector<unsigned char>>& truth,
                        const std::string& context)
{
    if (!h) return;
    for (int row = 0; row < CSkinArchive7z::GetItemCount(h); ++row) {
        const std::wstring name = CSkinArchive7z::GetItemName(h, row);
        const auto it = truth.find(name);
        ASSERT_NE(it, truth.end()) << context << ": unknown item";
        bool found = false;
        const std::vector<unsigned char> bytes = Copy(h, name, found);
        ASSERT_TRUE(found) << context;
        ASSERT_TRUE(bytes == it->second) << context << ": wrong bytes served";
    }
}

std::map<std::wstring, std::vector<unsigned char>> Truth(const std::wstring& archive)
{
    std::map<std::wstring, std::vector<unsigned char>> truth;
    for (const ManifestItem& item : ManifestOf(archive)) {
        if (!item.payload.empty()) truth[item.name] = PayloadBytes(item);
    }
    return truth;
}

TEST(MemInStream, ReadAndSeek)
{
    std::vector<unsigned char> bytes(200);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i);
    CMemInStream s;
    ASSERT_TRUE(s.Assign(bytes.data(), bytes.size()));
    ISeekInStreamPtr p = &s.vt;

    Int64 pos = 190;
    ASSERT_EQ(s.vt.Seek(p, &pos, SZ_SEEK_SET), 0);
    EXPECT_EQ(pos, 190);
    unsigned char buf[100];
    size_t n = sizeof(buf);
    EXPECT_EQ(s.vt.Read(p, buf, &n), 0);
    EXPECT_EQ(n, 10u);   // ten before the end: ten delivered
    EXPECT_EQ(buf[0], 190);
    n = sizeof(buf);
    EXPECT_EQ(s.vt.Read(p, buf, &n), 0);
    EXPECT_EQ(n, 0u);

    struct Case {
        Int64 offset;
        ESzSeek origin;
        SRes result;
        Int64 position;   // afterwards
    } const cases[] = {
        {40, SZ_SEEK_SET, 0, 40},  {0, SZ_SEEK_CUR, 0, 40},    {-10, SZ_SEEK_CUR, 0, 30},
        {5, SZ_SEEK_CUR, 0, 35},   {0, SZ_SEEK_END, 0, 200},   {-50, SZ_SEEK_END, 0, 150},
        {201, SZ_SEEK_SET, 87, 150}, {-1, SZ_SEEK_SET, 87, 150}, {1, SZ_SEEK_END, 87, 150},
        {-151, SZ_SEEK_CUR, 87, 150}, {0, static_cast<ESzSeek>(3), 87, 150}, {200, SZ_SEEK_SET, 0, 200},
    };
    for (const Case& c : cases) {
        Int64 off = c.offset;
        EXPECT_EQ(s.vt.Seek(p, &off, c.origin), c.result) << c.offset << "/" << c.origin;
        EXPECT_EQ(static_cast<Int64>(s.position), c.position) << c.offset << "/" << c.origin;
        if (c.result == 0) {
            EXPECT_EQ(off, c.position);
        }
    }
    // A position past the end (never made by Seek) still reads nothing.
    s.position = 500;
    n = sizeof(buf);
    EXPECT_EQ(s.vt.Read(p, buf, &n), 0);
    EXPECT_EQ(n, 0u);
    s.Clear();
    EXPECT_EQ(s.data, nullptr);
    EXPECT_EQ(s.size, 0u);
}

TEST(SkinArchive7z, EveryFixtureFromFileAndMemory)
{
    for (const wchar_t* archive : k7zFixtures) {
        SCOPED_TRACE(std::string(archive, archive + wcslen(archive)));
        ArchiveCloser fromFile{CSkinArchive7z::OpenFromFile(FixturePath(archive).c_str())};
        ASSERT_NE(fromFile.h, nullptr);
        ExpectWholeArchive(fromFile.h, archive);

        std::vector<unsigned char> bytes = ReadFixture(archive);
        ArchiveCloser fromMemory{CSkinArchive7z::OpenFromMemory(bytes.data(), bytes.size())};
        // The archive's bytes are not needed after the open.
        std::fill(bytes.begin(), bytes.end(), 0);
        ASSERT_NE(fromMemory.h, nullptr);
        ExpectWholeArchive(fromMemory.h, archive);
    }
}

TEST(SkinArchive7z, LookupIgnoresCaseAndSeparator)
{
    ArchiveCloser a{CSkinArchive7z::OpenFromFile(FixturePath(L"lzma2.7z").c_str())};
    ASSERT_NE(a.h, nullptr);
    const std::vector<unsigned char> bg = Truth(L"lzma2.7z").at(L"res/mainWnd/bg1.png");
    for (const wchar_t* name : {L"res/mainWnd/bg1.png", L"res\\mainWnd\\bg1.png", L"RES\\MAINWND\\BG1.PNG",
                                L"Res/MainWnd\\Bg1.png"}) {
        bool found = false;
        EXPECT_TRUE(Copy(a.h, name, found) == bg) << name;
        EXPECT_TRUE(found);
    }
    // A stored name with a literal backslash is found with either separator.
    for (const wchar_t* name : {L"odd\\name.txt", L"odd/name.txt", L"ODD/NAME.TXT"}) {
        bool found = false;
        Copy(a.h, name, found);
        EXPECT_TRUE(found) << name;
    }
    for (const wchar_t* name : {L"res/mainWnd/bg1.pn", L"res/mainWnd/bg1.png ", L"bg1.png", L"res/emptydir",
                                L"res", L""}) {
        int index = -2;
        UInt64 size = 7;
        EXPECT_EQ(CSkinArchive7z::FindItem(a.h, name, &index, &size), 0x10000u) << name;
    }
    int index = 0;
    UInt64 size = 0;
    EXPECT_EQ(CSkinArchive7z::FindItem(a.h, L"data/empty.txt", &index, &size), 0u);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(CSkinArchive7z::CopyItem(a.h, index, nullptr), 0u);

    EXPECT_EQ(CSkinArchive7z::FindItem(nullptr, L"a", &index, &size), 0x10000u);
    EXPECT_EQ(CSkinArchive7z::FindItem(a.h, nullptr, &index, &size), 0x10000u);
    EXPECT_EQ(CSkinArchive7z::CopyItem(nullptr, 0, nullptr), 0x10000u);
    EXPECT_EQ(CSkinArchive7z::CopyItem(a.h, 9999, nullptr), 0x10000u);
    EXPECT_EQ(CSkinArchive7z::Close(nullptr), 0x10000u);
}

TEST(SkinArchive7z, NotAnArchiveFails)
{
    EXPECT_EQ(CSkinArchive7z::OpenFromFile(FixturePath(L"zip_deflated.zip").c_str()), nullptr);
    EXPECT_EQ(CSkinArchive7z::OpenFromFile(FixturePath(L"manifest.txt").c_str()), nullptr);
    EXPECT_EQ(CSkinArchive7z::OpenFromFile(FixturePath(L"no-such.7z").c_str()), nullptr);
    EXPECT_EQ(CSkinArchive7z::OpenFromFile(nullptr), nullptr);
    const unsigned char junk[64] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4};
    EXPECT_EQ(CSkinArchive7z::OpenFromMemory(junk, sizeof(junk)), nullptr);
    EXPECT_EQ(CSkinArchive7z::OpenFromMemory(junk, 0), nullptr);
}

TEST(SkinArchive7z, EveryPrefixOfTinyArchives)
{
    for (const wchar_t* archive : {L"tiny_lzma2.7z", L"tiny_bcj2.7z", L"tiny_copy.7z"}) {
        const std::vector<unsigned char> bytes = ReadFixture(archive);
        const auto truth = Truth(archive);
        for (size_t n = 0; n < bytes.size(); ++n) {
            ArchiveCloser a{CSkinArchive7z::OpenFromMemory(bytes.data(), n)};
            // Without the end header no archive can open.
            EXPECT_EQ(a.h, nullptr) << n;
            ExpectNothingWrong(a.h, truth, "prefix");
        }
    }
}

// Every fixture cut short: with a stride over the body and densely near the end,
// where the headers lie.
TEST(SkinArchive7z, PrefixesOfEveryArchive)
{
    for (const wchar_t* archive : k7zFixtures) {
        const std::vector<unsigned char> bytes = ReadFixture(archive);
        std::vector<size_t> cuts;
        for (size_t n = 0; n < bytes.size(); n += 97) cuts.push_back(n);
        for (size_t n = bytes.size() > 200 ? bytes.size() - 200 : 0; n < bytes.size(); ++n) cuts.push_back(n);
        for (size_t n : cuts) {
            ArchiveCloser a{CSkinArchive7z::OpenFromMemory(bytes.data(), n)};
            EXPECT_EQ(a.h, nullptr) << n;
        }
    }
}

TEST(SkinArchive7z, SingleByteFlipsNeverServeWrongBytes)
{
    struct Sweep {
        const wchar_t* archive;
        size_t stride;
    } const sweeps[] = {{L"tiny_lzma2.7z", 1}, {L"tiny_bcj2.7z", 1}, {L"tiny_copy.7z", 1},
                        {L"lzma2_nonsolid.7z", 211}, {L"bcj2_explicit.7z", 211}, {L"copy.7z", 997},
                        {L"plain_headers.7z", 401}};
    for (const Sweep& sweep : sweeps) {
        std::vector<unsigned char> bytes = ReadFixture(sweep.archive);
        const auto truth = Truth(sweep.archive);
        int refused = 0;
        for (size_t at = 0; at < bytes.size(); at += sweep.stride) {
            bytes[at] ^= 0x5A;
            ArchiveCloser a{CSkinArchive7z::OpenFromMemory(bytes.data(), bytes.size())};
            if (!a.h) ++refused;
            ExpectNothingWrong(a.h, truth, "flip at " + std::to_string(at));
            bytes[at] ^= 0x5A;
        }
        EXPECT_GT(refused, 0);
    }
}

}  // namespace
