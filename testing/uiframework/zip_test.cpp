// The zip skin reader against fixtures made by Info-ZIP and Python: items, names,
// times, bounds, truncations and flipped bytes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "SkinZip.h"
#include "test_support.h"

using namespace SkinUI;
using namespace uitest;

namespace {

const DWORD kIoError = 0xFFFFFFFFu;
const DWORD kNotZip = static_cast<DWORD>(-103);
const long long kUtTime = 1614834367;   // the fixtures' modification time (UTC)

struct ZipCloser {
    HSKINZIP h;
    ~ZipCloser()
    {
        if (h) CSkinZip::Close(h);
    }
};

long long FileTimeToUnix(const FILETIME& ft)
{
    const long long ticks = static_cast<long long>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
    return (ticks - 116444736000000000LL) / 10000000LL;
}

// The whole item through memory reads of `step` bytes; false on any failure status.
bool UnzipToMemory(HSKINZIP zip, int index, DWORD size, DWORD step, std::vector<unsigned char>& out)
{
    out.clear();
    std::vector<unsigned char> buf(step ? step : 1);
    for (;;) {
        const DWORD s = CSkinZip::UnzipItem(zip, index, buf.data(), step, CSkinZip::kMemory);
        if (s == CSkinZip::kOk) return out.size() == size;
        if (s != CSkinZip::kMore) return false;
        const size_t got = std::min<size_t>(step, size - out.size());
        out.insert(out.end(), buf.begin(), buf.begin() + got);
        if (out.size() > size) return false;
    }
}

void ExpectWholeZip(HSKINZIP zip, const std::wstring& archive)
{
    const std::vector<ManifestItem> items = ManifestOf(archive);
    ASSERT_FALSE(items.empty());
    SkinZipEntry summary;
    ASSERT_EQ(CSkinZip::GetItem(zip, -1, &summary), 0u);
    EXPECT_EQ(summary.index, static_cast<int>(items.size()));
    for (const ManifestItem& item : items) {
        const std::string label(item.name.begin(), item.name.end());
        int index = -1;
        SkinZipEntry entry;
        ASSERT_EQ(CSkinZip::FindItem(zip, item.name.c_str(), false, &index, &entry), 0u) << label;
        ASSERT_GE(index, 0);
        EXPECT_EQ(entry.index, index);
        EXPECT_STREQ(entry.name, item.name.c_str());
        if (item.payload.empty()) {
            EXPECT_NE(entry.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << label;
            continue;
        }
        EXPECT_EQ(entry.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << label;
        const std::vector<unsigned char> truth = PayloadBytes(item);
        ASSERT_EQ(entry.uncompressedSize, truth.size()) << label;
        // A buffer of exactly the size: 0x600, then 0 for the same index.
        std::vector<unsigned char> bytes(truth.size() + 1, 0xCD);
        if (!truth.empty()) {
            EXPECT_EQ(CSkinZip::UnzipItem(zip, index, bytes.data(), entry.uncompressedSize, CSkinZip::kMemory),
                      CSkinZip::kMore)
                << label;
        }
        EXPECT_EQ(CSkinZip::UnzipItem(zip, index, bytes.data(), entry.uncompressedSize, CSkinZip::kMemory),
                  CSkinZip::kOk)
            << label;
        EXPECT_EQ(bytes.back(), 0xCD);
        bytes.pop_back();
        EXPECT_TRUE(bytes == truth) << label;
        // Small steps deliver the same bytes.
        std::vector<unsigned char> stepped;
        EXPECT_TRUE(UnzipToMemory(zip, index, entry.uncompressedSize, 1000, stepped)) << label;
        EXPECT_TRUE(stepped == truth) << label;
    }
}

TEST(SkinZip, EveryFixtureFromFileHandleAndMemory)
{
    for (const wchar_t* archive : {L"zip_deflated.zip", L"zip_stored.zip", L"zip_python.zip", L"zip_descriptor.zip",
                                   L"zip_stub.zip", L"zip_stub_adjusted.zip", L"zip_comment.zip", L"tiny.zip"}) {
        SCOPED_TRACE(std::string(archive, archive + wcslen(archive)));
        const std::wstring path = FixturePath(archive);
        ZipCloser byName{CSkinZip::Open(path.c_str(), 0, CSkinZip::kFileName)};
        ASSERT_NE(byName.h, nullptr) << std::hex << CSkinZip::GetLastError();
        ExpectWholeZip(byName.h, archive);

        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ZipCloser byHandle{CSkinZip::Open(file, 0, CSkinZip::kHandle)};
        CloseHandle(file);   // the reader holds its own duplicate
        ASSERT_NE(byHandle.h, nullptr);
        ExpectWholeZip(byHandle.h, archive);

        const std::vector<unsigned char> bytes = ReadFixture(archive);
        ZipCloser inMemory{CSkinZip::Open(bytes.data(), static_cast<DWORD>(bytes.size()), CSkinZip::kMemory)};
        ASSERT_NE(inMemory.h, nullptr);
        ExpectWholeZip(inMemory.h, archive);
    }
}

TEST(SkinZip, OpenFailures)
{
    struct Case {
        const wchar_t* fixture;
        DWORD status;
    } const cases[] = {
        {L"zip_long_comment.zip", kIoError},   // end record more than 65535 bytes back
        {L"manifest.txt", kIoError},
        {L"lzma2.7z", kIoError},
        {L"no-such.zip", CSkinZip::kNotOpened},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CSkinZip::Open(FixturePath(c.fixture).c_str(), 0, CSkinZip::kFileName), nullptr) << c.fixture;
        EXPECT_EQ(CSkinZip::GetLastError(), c.status) << c.fixture;
    }
    EXPECT_EQ(CSkinZip::Open(L"x", 0, 9), nullptr);
    EXPECT_EQ(CSkinZip::GetLastError(), CSkinZip::kBadArgument);

    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    EXPECT_EQ(CSkinZip::Open(readEnd, 0, CSkinZip::kHandle), nullptr);
    EXPECT_EQ(CSkinZip::GetLastError(), CSkinZip::kNotDiskFile);
    CloseHandle(readEnd);
    CloseHandle(writeEnd);

    // End records cut short, or with inconsistent fields.
    struct Patch {
        std::vector<unsigned char> bytes;
        DWORD status;
    };
    const unsigned char eocd[22] = {'P', 'K', 5, 6};
    std::vector<Patch> patches;
    patches.push_back({std::vector<unsigned char>(eocd, eocd + 4), kIoError});
    patches.push_back({std::vector<unsigned char>(eocd, eocd + 21), kIoError});
    std::vector<unsigned char> tailSig(40, 'x');
    tailSig.insert(tailSig.end(), eocd, eocd + 6);   // signature inside the last 21 bytes
    patches.push_back({tailSig, kIoError});
    std::vector<unsigned char> disks(eocd, eocd + 22);
    disks[4] = 1;
    patches.push_back({disks, kNotZip});
    std::vector<unsigned char> counts(eocd, eocd + 22);
    counts[8] = 2;
    patches.push_back({counts, kNotZip});
    std::vector<unsigned char> beyond(eocd, eocd + 22);   // directory offset + size wraps 32 bits
    beyond[12] = beyond[13] = beyond[14] = beyond[15] = 0xFF;
    beyond[16] = 2;
    patches.push_back({beyond, kNotZip});
    for (size_t i = 0; i < patches.size(); ++i) {
        const Patch& p = patches[i];
        EXPECT_EQ(CSkinZip::Open(p.bytes.data(), static_cast<DWORD>(p.bytes.size()), CSkinZip::kMemory), nullptr)
            << i;
        EXPECT_EQ(CSkinZip::GetLastError(), p.status) << i;
    }
}

TEST(SkinZip, EmptyArchiveOpensWithNoEntries)
{
    ZipCloser z{CSkinZip::Open(FixturePath(L"zip_empty.zip").c_str(), 0, CSkinZip::kFileName)};
    ASSERT_NE(z.h, nullptr);
    SkinZipEntry summary;
    EXPECT_EQ(CSkinZip::GetItem(z.h, -1, &summary), 0u);
    EXPECT_EQ(summary.index, 0);
    int index = 5;
    EXPECT_EQ(CSkinZip::FindItem(z.h, L"a", true, &index, nullptr), CSkinZip::kNotFound);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(CSkinZip::GetItem(z.h, 0, &summary), CSkinZip::kBadArgument);
}

TEST(SkinZip, FindItemCaseAndSeparator)
{
    ZipCloser z{CSkinZip::Open(FixturePath(L"zip_deflated.zip").c_str(), 0, CSkinZip::kFileName)};
    ASSERT_NE(z.h, nullptr);
    struct Case {
        const wchar_t* name;
        bool ignoreCase;
        bool found;
    } const cases[] = {
        {L"res/mainWnd/bg1.png", false, true},  {L"Res/MainWnd/BG1.PNG", true, true},
        {L"Res/MainWnd/BG1.PNG", false, false}, {L"res\\mainWnd\\bg1.png", false, true},
        {L"res\\mainWnd\\bg1.png", true, true}, {L"res/mainWnd/bg1.pn", true, false},
        {L"bg1.png", true, false},              {L"", true, false},
    };
    for (const Case& c : cases) {
        int index = -7;
        SkinZipEntry entry;
        const DWORD s = CSkinZip::FindItem(z.h, c.name, c.ignoreCase, &index, &entry);
        EXPECT_EQ(s, c.found ? CSkinZip::kOk : CSkinZip::kNotFound) << c.name;
        if (c.found) {
            EXPECT_GE(index, 0);
            EXPECT_STREQ(entry.name, L"res/mainWnd/bg1.png");
        } else {
            EXPECT_EQ(index, -1) << c.name;
            EXPECT_EQ(entry.index, -1);
            EXPECT_EQ(entry.name[0], L'\0');
        }
    }
    // A failed search does not disturb the entry open for reading.
    int index = -1;
    SkinZipEntry entry;
    ASSERT_EQ(CSkinZip::FindItem(z.h, L"data/notes.txt", false, &index, &entry), 0u);
    std::vector<unsigned char> part(100);
    EXPECT_EQ(CSkinZip::UnzipItem(z.h, index, part.data(), 100, CSkinZip::kMemory), CSkinZip::kMore);
    EXPECT_EQ(CSkinZip::FindItem(nullptr, L"a", true, &index, nullptr), CSkinZip::kBadArgument);
    SkinZipHandle other = {2, nullptr};
    EXPECT_EQ(CSkinZip::FindItem(&other, L"a", true, &index, nullptr), CSkinZip::kNotZipHandle);
    EXPECT_EQ(CSkinZip::Close(&other), CSkinZip::kNotZipHandle);
    EXPECT_EQ(CSkinZip::Close(nullptr), CSkinZip::kBadArgument);
    EXPECT_EQ(CSkinZip::GetItem(z.h, -2, &entry), CSkinZip::kBadArgument);
    EXPECT_EQ(CSkinZip::UnzipItem(z.h, 999, part.data(), 100, CSkinZip::kMemory), CSkinZip::kBadArgument);
}

TEST(SkinZip, TimesFromTheUtFieldAndFromDos)
{
    ZipCloser info{CSkinZip::Open(FixturePath(L"zip_deflated.zip").c_str(), 0, CSkinZip::kFileName)};
    ASSERT_NE(info.h, nullptr);
    int index = -1;
    SkinZipEntry e;
    ASSERT_EQ(CSkinZip::FindItem(info.h, L"MainWnd.xml", false, &index, &e), 0u);
    EXPECT_EQ(FileTimeToUnix(e.modificationTime), kUtTime);   // odd seconds: from "UT"

    ZipCloser py{CSkinZip::Open(FixturePath(L"zip_python.zip").c_str(), 0, CSkinZip::kFileName)};
    ASSERT_NE(py.h, nullptr);
    ASSERT_EQ(CSkinZip::FindItem(py.h, L"MainWnd.xml", false, &index, &e), 0u);
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&e.modificationTime, &st));
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wMonth, 5);
    EXPECT_EQ(st.wDay, 17);
    EXPECT_EQ(st.wHour, 12);   // no time-zone change
    EXPECT_EQ(st.wMinute, 30);
    EXPECT_EQ(st.wSecond, 44);
}

// Extra fields are read within their bounds: a "UT" block too short for its
// flags, or a block longer than the field, leaves the DOS time in place.
TEST(SkinZip, ExtraFieldsAreBounded)
{
    ZipCloser z{CSkinZip::Open(FixturePath(L"zip_extra.zip").c_str(), 0, CSkinZip::kFileName)};
    ASSERT_NE(z.h, nullptr);
    struct Case {
        const wchar_t* name;
        bool fromUt;
    } const cases[] = {{L"short_ut.txt", false}, {L"long_block.txt", false}, {L"ut_after.txt", true}};
    for (const Case& c : cases) {
        int index = -1;
        SkinZipEntry e;
        ASSERT_EQ(CSkinZip::FindItem(z.h, c.name, false, &index, &e), 0u) << c.name;
        if (c.fromUt) {
            EXPECT_EQ(FileTimeToUnix(e.modificationTime), kUtTime) << c.name;
        } else {
            SYSTEMTIME st;
            ASSERT_TRUE(FileTimeToSystemTime(&e.modificationTime, &st));
            EXPECT_EQ(st.wYear, 2024) << c.name;
            EXPECT_EQ(st.wSecond, 44) << c.name;
        }
        std::vector<unsigned char> bytes;
        EXPECT_TRUE(UnzipToMemory(z.h, index, e.uncompressedSize, 4096, bytes));
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "extra fields\n");
    }
}

TEST(SkinZip, LongNamesAreCutAndNeverFound)
{
    ZipCloser z{CSkinZip::Open(FixturePath(L"zip_long_names.zip").c_str(), 0, CSkinZip::kFileName)};
    ASSERT_NE(z.h, nullptr);
    int index = -1;
    EXPECT_EQ(CSkinZip::FindItem(z.h, std::wstring(255, L'n').c_str(), false, &index, nullptr), 0u);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(CSkinZip::FindItem(z.h, std::wstring(256, L'm').c_str(), false, &index, nullptr), CSkinZip::kNotFound);
    EXPECT_EQ(CSkinZip::FindItem(z.h, (L"d/" + std::wstring(298, L'k')).c_str(), false, &index, nullptr),
              CSkinZip::kNotFound);
    EXPECT_EQ(CSkinZip::FindItem(z.h, L"short.txt", false, &index, nullptr), 0u);
    EXPECT_EQ(index, 3);
    SkinZipEntry e;
    ASSERT_EQ(CSkinZip::GetItem(z.h, 2, &e), 0u);
    EXPECT_EQ(wcslen(e.name), 259u);   // cut and terminated
    EXPECT_EQ(std::wstring(e.name).substr(0, 4), L"d/kk");
    ASSERT_EQ(CSkinZip::GetItem(z.h, 1, &e), 0u);
    EXPECT_EQ(wcslen(e.name), 256u);
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(UnzipToMemory(z.h, 2, e.uncompressedSize, 64, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "long names\n");
}

TEST(SkinZip, BadEntriesFailWhenOpened)
{
    struct Case {
        const wchar_t* archive;
        int badIndex;   // -1: every entry is bad
    } const cases[] = {{L"zip_bad_local.zip", 0}, {L"zip_bzip2.zip", -1}};
    for (const Case& c : cases) {
        ZipCloser z{CSkinZip::Open(FixturePath(c.archive).c_str(), 0, CSkinZip::kFileName)};
        ASSERT_NE(z.h, nullptr) << c.archive;
        const std::vector<ManifestItem> items = ManifestOf(c.archive);
        for (int i = 0; i < static_cast<int>(items.size()); ++i) {
            SkinZipEntry e;
            ASSERT_EQ(CSkinZip::GetItem(z.h, i, &e), 0u);
            std::vector<unsigned char> buf(e.uncompressedSize + 1);
            const DWORD s = CSkinZip::UnzipItem(z.h, i, buf.data(), e.uncompressedSize, CSkinZip::kMemory);
            const bool bad = c.badIndex < 0 || c.badIndex == i;
            if (bad) {
                EXPECT_EQ(s, CSkinZip::kMemoryUnzipFailed) << c.archive << " " << i;
                const std::wstring target = WorkDir() + L"/bad.out";
                EXPECT_EQ(CSkinZip::UnzipItem(z.h, i, const_cast<wchar_t*>(target.c_str()), 0, CSkinZip::kFileName),
                          CSkinZip::kWriteFailed);
                EXPECT_EQ(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES) << "partial copy left";
            } else {
                EXPECT_EQ(s, e.uncompressedSize ? CSkinZip::kMore : CSkinZip::kOk) << c.archive << " " << i;
                buf.pop_back();
                EXPECT_TRUE(buf == PayloadBytes(items[i]));
            }
        }
    }
}

// A deflate stream that ends before the recorded size fails the entry, however the
// caller reads it; the reads run on a thread so that a reader caught in a loop fails
// the test instead of hanging it.
TEST(SkinZip, StreamEndingBeforeItsRecordedSizeFails)
{
    struct Result {
        DWORD memory = 0, file = 0, good = 0;
        std::vector<unsigned char> goodBytes;
    } r;
    const std::wstring archive = FixturePath(L"zip_short_stream.zip");
    const std::wstring target = WorkDir() + L"/short.out";
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread reader([&] {
        ZipCloser z{CSkinZip::Open(archive.c_str(), 0, CSkinZip::kFileName)};
        if (z.h) {
            SkinZipEntry e;
            CSkinZip::GetItem(z.h, 0, &e);
            std::vector<unsigned char> buf(e.uncompressedSize + 1);
            r.memory = CSkinZip::UnzipItem(z.h, 0, buf.data(), e.uncompressedSize, CSkinZip::kMemory);
            r.file = CSkinZip::UnzipItem(z.h, 0, const_cast<wchar_t*>(target.c_str()), 0, CSkinZip::kFileName);
            CSkinZip::GetItem(z.h, 1, &e);
            r.good = UnzipToMemory(z.h, 1, e.uncompressedSize, 100, r.goodBytes) ? 1 : 0;
        }
        SetEvent(done);
    });
    const bool finished = WaitForSingleObject(done, 120000) == WAIT_OBJECT_0;
    if (!finished) {
        reader.detach();
        FAIL() << "reading the short stream did not end";
    }
    reader.join();
    CloseHandle(done);
    EXPECT_EQ(r.memory, CSkinZip::kMemoryUnzipFailed);
    EXPECT_EQ(r.file, CSkinZip::kWriteFailed);
    EXPECT_EQ(GetFileAttributesW(target.c_str()), INVALID_FILE_ATTRIBUTES) << "partial copy left";
    EXPECT_EQ(r.good, 1u);
    EXPECT_TRUE(r.goodBytes == PayloadBytes(ManifestOf(L"zip_short_stream.zip").at(1)));
}

TEST(SkinZip, UnzipToFilesAndFolders)
{
    const std::wstring work = WorkDir() + L"/unzip";
    CreateDirectoryW(work.c_str(), nullptr);
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryW(work.c_str()));
    ZipCloser z{CSkinZip::Open(FixturePath(L"zip_deflated.zip").c_str(), 0, CSkinZip::kFileName)};
    SetCurrentDirectoryW(saved);   // the base folder was taken at open
    ASSERT_NE(z.h, nullptr);

    int index = -1;
    ASSERT_EQ(CSkinZip::FindItem(z.h, L"data/notes.txt", false, &index, nullptr), 0u);
    const std::vector<unsigned char> truth = PayloadBytes({L"", L"", L"full/data/notes.txt"});

    struct Case {
        const wchar_t* target;
        const wchar_t* folderMade;   // below the base, or null
        bool created;
    } const cases[] = {
        {L"a\\b\\c.txt", L"a\\b", true},
        {L"x/y/z.txt", L"x\\y", true},
        {L"..\\up\\n.txt", nullptr, false},
        {L"plain.txt", nullptr, true},
    };
    for (const Case& c : cases) {
        const DWORD s = CSkinZip::UnzipItem(z.h, index, const_cast<wchar_t*>(c.target), 0, CSkinZip::kFileName);
        if (c.folderMade) {
            const DWORD attr = GetFileAttributesW((work + L"\\" + c.folderMade).c_str());
            EXPECT_NE(attr, INVALID_FILE_ATTRIBUTES) << c.target;
            EXPECT_NE(attr & FILE_ATTRIBUTE_DIRECTORY, 0u);
        }
        if (c.created) {
            EXPECT_EQ(s, CSkinZip::kOk) << c.target;
            std::vector<unsigned char> written;
            ASSERT_TRUE(ReadWholeFile(work + L"\\" + c.target, written)) << c.target;
            EXPECT_TRUE(written == truth);
            WIN32_FILE_ATTRIBUTE_DATA data;
            ASSERT_TRUE(GetFileAttributesExW((work + L"\\" + c.target).c_str(), GetFileExInfoStandard, &data));
            EXPECT_EQ(FileTimeToUnix(data.ftLastWriteTime), kUtTime);
        } else {
            EXPECT_EQ(s, CSkinZip::kNotOpened) << c.target;
        }
    }
    EXPECT_EQ(GetFileAttributesW((work + L"\\up").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((WorkDir() + L"\\up").c_str()), INVALID_FILE_ATTRIBUTES);

    // A folder entry makes its folder (kind 2) and nothing with a handle.
    ASSERT_EQ(CSkinZip::FindItem(z.h, L"res/emptydir/", false, &index, nullptr), 0u);
    EXPECT_EQ(CSkinZip::UnzipItem(z.h, index, const_cast<wchar_t*>(L"made\\emptydir"), 0, CSkinZip::kFileName), 0u);
    EXPECT_NE(GetFileAttributesW((work + L"\\made\\emptydir").c_str()), INVALID_FILE_ATTRIBUTES);

    // Into an open handle, which stays open.
    ASSERT_EQ(CSkinZip::FindItem(z.h, L"language.json", false, &index, nullptr), 0u);
    const std::wstring handlePath = work + L"\\by-handle.json";
    HANDLE h = CreateFileW(handlePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CSkinZip::UnzipItem(z.h, index, h, 0, CSkinZip::kHandle), 0u);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "!", 1, &written, nullptr));
    CloseHandle(h);
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(ReadWholeFile(handlePath, bytes));
    std::vector<unsigned char> expected = PayloadBytes({L"", L"", L"full/language.json"});
    expected.push_back('!');
    EXPECT_TRUE(bytes == expected);
}

// Every served item is either refused or byte-identical to the manifest.
void ExpectZipNothingWrong(const std::vector<unsigned char>& bytes, const std::vector<ManifestItem>& items,
                           const std::vector<std::vector<unsigned char>>& truth, const std::string& context)
{
    ZipCloser z{CSkinZip::Open(bytes.data(), static_cast<DWORD>(bytes.size()), CSkinZip::kMemory)};
    if (!z.h) return;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].payload.empty()) continue;
        int index = -1;
        SkinZipEntry e;
        if (CSkinZip::FindItem(z.h, items[i].name.c_str(), false, &index, &e) != 0) continue;
        if (e.uncompressedSize > 0x1000000) continue;   // a damaged size: too big to try
        std::vector<unsigned char> out(e.uncompressedSize + 1);
        const DWORD s = CSkinZip::UnzipItem(z.h, index, out.data(), e.uncompressedSize, CSkinZip::kMemory);
        if (s != CSkinZip::kOk && s != CSkinZip::kMore) continue;
        out.pop_back();
        ASSERT_TRUE(out == truth[i]) << context << ": wrong bytes for item " << i;
    }
}

// Every zip fixture cut short. Without its end record none may open; a cut inside
// the archive comment keeps the record, and then every item must still read back.
TEST(SkinZip, PrefixesOfEveryArchive)
{
    for (const wchar_t* archive : {L"tiny.zip", L"zip_deflated.zip", L"zip_comment.zip", L"zip_stored.zip", L"zip_python.zip",
                                   L"zip_descriptor.zip", L"zip_stub.zip", L"zip_long_names.zip",
                                   L"zip_empty.zip"}) {
        const std::vector<unsigned char> bytes = ReadFixture(archive);
        const std::vector<ManifestItem> items = ManifestOf(archive);
        std::vector<std::vector<unsigned char>> truth;
        for (const ManifestItem& item : items) {
            truth.push_back(item.payload.empty() ? std::vector<unsigned char>() : PayloadBytes(item));
        }
        const bool commented = std::wstring(archive) == L"zip_comment.zip";
        size_t recordEnd = bytes.size();   // where the end record stops, before the comment
        for (size_t i = bytes.size() - 22; commented && i > 0; --i) {
            if (bytes[i] == 'P' && bytes[i + 1] == 'K' && bytes[i + 2] == 5 && bytes[i + 3] == 6) {
                recordEnd = i + 22;
                break;
            }
        }
        const size_t stride = bytes.size() < 4096 ? 1 : 211;
        std::vector<size_t> cuts;
        for (size_t n = 0; n < bytes.size(); n += stride) cuts.push_back(n);
        for (size_t n = bytes.size() > 100 ? bytes.size() - 100 : 0; n < bytes.size(); ++n) cuts.push_back(n);
        for (size_t n : cuts) {
            ZipCloser z{CSkinZip::Open(bytes.data(), static_cast<DWORD>(n), CSkinZip::kMemory)};
            if (n < recordEnd) {
                EXPECT_EQ(z.h, nullptr) << n;
            } else {
                EXPECT_NE(z.h, nullptr) << n;
                const std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + n);
                ExpectZipNothingWrong(cut, items, truth, "cut at " + std::to_string(n));
            }
        }
    }
}

TEST(SkinZip, SingleByteFlipsNeverServeWrongBytes)
{
    struct Sweep {
        const wchar_t* archive;
        size_t stride;
    } const sweeps[] = {{L"tiny.zip", 1}, {L"zip_python.zip", 97}, {L"zip_descriptor.zip", 211},
                        {L"zip_deflated.zip", 307}};
    for (const Sweep& sweep : sweeps) {
        std::vector<unsigned char> bytes = ReadFixture(sweep.archive);
        const std::vector<ManifestItem> items = ManifestOf(sweep.archive);
        std::vector<std::vector<unsigned char>> truth;
        for (const ManifestItem& item : items) {
            truth.push_back(item.payload.empty() ? std::vector<unsigned char>() : PayloadBytes(item));
        }
        for (size_t at = 0; at < bytes.size(); at += sweep.stride) {
            bytes[at] ^= 0x5A;
            ExpectZipNothingWrong(bytes, items, truth, "flip at " + std::to_string(at));
            bytes[at] ^= 0x5A;
        }
    }
}

}  // namespace
