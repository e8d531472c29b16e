// Text and system helpers.
#include <gtest/gtest.h>

#include <objbase.h>

#include <regex>

#include "Downloader.h"
#include "Utils.h"
#include "test_support.h"

namespace {

TEST(Utils, UrlEncode)
{
    EXPECT_EQ(Utils::UrlEncode("a b/c?\xC3\xA9"), "a+b/c?%C3%A9");
    EXPECT_EQ(Utils::UrlEncode("%&=~!"), "%&=~!");
    EXPECT_EQ(Utils::UrlEncode(std::string("\x7f\x01\x00", 3)), "%7F%01%00");
    EXPECT_EQ(Utils::UrlEncodeWide(L"\x4e2d x"), L"%E4%B8%AD+x");
}

TEST(Utils, UrlMd5Segment)
{
    struct { const char* url; const char* segment; } cases[] = {
        {"http://h/p/0123456789abcdef0123456789abcdef/setup.exe", "0123456789abcdef0123456789abcdef"},
        {"http://h/setup.exe", "h"},
        {"no-slash", ""},
        {"one/slash", ""},
        {"/x", ""},
        {"a//b", ""},
        {"http://h/dir/", "dir"},
    };
    for (const auto& c : cases) EXPECT_EQ(Utils::GetUrlMd5Segment(c.url), c.segment) << c.url;
}

TEST(Utils, ExpectedDigestComesFromTheGivenPath)
{
    const std::string d = "0123456789abcdef0123456789abcdef", e = "fedcba9876543210fedcba9876543210";
    struct { std::string given, effective, digest; } cases[] = {
        {"http://h/dl/" + d + "/setup.exe", "http://h/dl/" + d + "/setup.exe", d},
        {"http://h/dl/" + d + "/setup.exe?ref=a/b", "", d},                 // "/" in the query
        {"http://h/dl/" + d + "/setup.exe#x/y", "", d},                     // and in a fragment
        {"http://h/dl/" + d + "/setup.exe", "http://mirror/setup.exe", d},  // redirect without one
        {"http://h/dl/" + d + "/setup.exe", "http://h/dl/" + e + "/setup.exe", d},
        {"http://h/software/331", "http://h/dl/" + e + "/setup.exe?q=1/2", e},
        {"http://h/software/331", "http://h/setup.exe", ""},
        {"http://h/a?/" + d + "/x", "", ""},                                 // only in the query
    };
    for (const auto& c : cases) {
        const std::string got = ExpectedDigest(c.given, c.effective);
        EXPECT_EQ(got.size() == 32 ? got : std::string(), c.digest) << c.given << " | " << c.effective;
    }
    EXPECT_EQ(CurlClient::CurlUrlText(L"http://h/my setup.exe"), "http://h/my%20setup.exe");
    EXPECT_EQ(CurlClient::CurlUrlText(L"http://h/a\tb\x7f"), "http://h/a%09b%7F");
}

TEST(Utils, NumberParserHasThreeOutcomes)
{
    struct { const wchar_t* text; Utils::Num result; int32_t value; } cases[] = {
        {L"42", Utils::Num::Ok, 42},
        {L"  -7x", Utils::Num::Ok, -7},
        {L"+3", Utils::Num::Ok, 3},
        {L"2147483647", Utils::Num::Ok, 2147483647},
        {L"-2147483648", Utils::Num::Ok, INT32_MIN},
        {L"2147483648", Utils::Num::Overflow, 0},
        {L"-2147483649", Utils::Num::Overflow, 0},
        {L"99999999999999999999999", Utils::Num::Overflow, 0},
        {L"", Utils::Num::Invalid, 0},
        {L"-", Utils::Num::Invalid, 0},
        {L"x1", Utils::Num::Invalid, 0},
    };
    for (const auto& c : cases) {
        int32_t v = 123;
        EXPECT_EQ(Utils::ParseInt32(c.text, v), c.result) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
    double d = 1;
    EXPECT_EQ(Utils::ParseDouble(L"0.5abc", d), Utils::Num::Ok);
    EXPECT_DOUBLE_EQ(d, 0.5);
    EXPECT_EQ(Utils::ParseDouble(L"1e999", d), Utils::Num::Overflow);
    EXPECT_EQ(Utils::ParseDouble(L"abc", d), Utils::Num::Invalid);
}

TEST(Utils, TextHelpers)
{
    EXPECT_EQ(Utils::Trim(L" \t a b \r\n"), L"a b");
    EXPECT_EQ(Utils::TrimLeft(L"  a "), L"a ");
    EXPECT_EQ(Utils::TrimRight(L"  a "), L"  a");
    EXPECT_TRUE(Utils::StartsWith(L"State=Fail", L"State="));
    EXPECT_FALSE(Utils::StartsWith(L"Stat", L"State="));
    EXPECT_FALSE(Utils::StartsWith(L"xState=", L"State="));
    EXPECT_EQ(Utils::ReplaceAll(L"a${R}b${R}", L"${R}", L"xy"), L"axybxy");
    EXPECT_EQ(Utils::MultiByteToWide("\xE4\xB8\xAD", CP_UTF8), L"\x4e2d");
    EXPECT_EQ(Utils::WideToMultiByte(L"\x4e2d", 936), "\xD6\xD0");
    EXPECT_EQ(Utils::MultiByteToWide("", CP_UTF8), L"");
}

TEST(Utils, OsVersionTable)
{
    struct { DWORD major, minor, build; bool r2; const wchar_t* text; } cases[] = {
        {0, 0, 0, false, L"XP-"},     {4, 9, 0, false, L"XP-"},   {5, 0, 0, false, L"2K"},
        {5, 1, 0, false, L"XP"},      {5, 2, 0, false, L"Server 2003"},
        {5, 2, 0, true, L"Server 2003 R2"}, {5, 3, 0, false, L"XP+"}, {6, 0, 0, false, L"Vista"},
        {6, 1, 0, false, L"7"},       {6, 2, 0, false, L"8"},     {6, 3, 0, false, L"8.1"},
        {6, 4, 0, false, L"8.1+"},    {10, 0, 22000, false, L"10"}, {10, 1, 0, false, L"10+"},
        {7, 0, 5, false, L"7.0.5"},   {11, 2, 3, false, L"11.2.3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utils::OsVersionTextFor(c.major, c.minor, c.build, c.r2), c.text) << c.major << "." << c.minor;
    Utils::OsVersion v = Utils::GetOsVersionText();
    EXPECT_EQ(v.family, L"Windows");
    EXPECT_FALSE(v.version.empty());
}

TEST(Utils, CreateDirectories)
{
    testsupport::TempFolder dir(L"mkdirs");
    std::wstring deep = dir.Path() + L"\\a\\b c\\\x4e2d\x6587\\";
    EXPECT_TRUE(Utils::CreateDirectories(deep));
    EXPECT_NE(::GetFileAttributesW(deep.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(Utils::CreateDirectories(deep));   // exists already
    std::wstring noSlash = dir.Path() + L"\\x\\y";
    EXPECT_TRUE(Utils::CreateDirectories(noSlash));
    EXPECT_TRUE(Utils::FileExists(noSlash) == false && ::GetFileAttributesW(noSlash.c_str()) != INVALID_FILE_ATTRIBUTES);

    std::wstring tooLong = dir.Path() + L"\\q\\";
    tooLong += std::wstring(261 - tooLong.size(), L'z');
    ASSERT_EQ(tooLong.size(), 261u);
    EXPECT_FALSE(Utils::CreateDirectories(tooLong));
    EXPECT_EQ(::GetFileAttributesW((dir.Path() + L"\\q").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Utils, TempFolderAndGuid)
{
    std::wstring temp = Utils::GetTempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_NE(temp.find(L"~QuorvTemp.92482B06FB471E17\\"), std::wstring::npos);
    EXPECT_NE(::GetFileAttributesW(temp.c_str()), INVALID_FILE_ATTRIBUTES);

    std::wstring guid = Utils::NewGuidString();
    ASSERT_EQ(guid.size(), 32u);
    EXPECT_TRUE(std::regex_match(Utils::WideToMultiByte(guid, CP_ACP),
                                 std::regex("[0-9A-F]{8}[0-9A-F]{4}[0-9a-f]{4}[0-9A-F]{16}")));
    EXPECT_NE(guid, Utils::NewGuidString());
}

TEST(Utils, FreeSpaceAndRegistry)
{
    Utils::HardDiskManager disk;
    EXPECT_TRUE(disk.CheckFreeSpace(L"C:\\"));
    EXPECT_GT(disk.totalBytes, 0u);
    Utils::HardDiskManager missing;
    EXPECT_FALSE(missing.CheckFreeSpace(L"Q:\\no\\such\\folder\\"));
    EXPECT_EQ(missing.totalBytes, 0u);

    ASSERT_TRUE(Utils::WriteRegistryString(L"EngineTestValue", L"C:\\\x4e2d dir"));
    DWORD type = 0;
    std::wstring text;
    ASSERT_TRUE(Utils::ReadRegistryString(L"EngineTestValue", type, text));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(text, L"C:\\\x4e2d dir");
    EXPECT_FALSE(Utils::ReadRegistryString(L"NoSuchValue", type, text));
}

TEST(Utils, SingleInstanceMutex)
{
    Utils::SingleInstanceMutex first, second;
    first.Create(L"EngineTest");
    ASSERT_NE(first.Handle(), nullptr);
    HANDLE held = first.Handle();
    first.Create(L"EngineTest");   // nothing new the second time
    EXPECT_EQ(first.Handle(), held);
    second.Create(L"EngineTest");
    EXPECT_EQ(second.Handle(), nullptr);
    first.Close();
    second.Create(L"EngineTest");
    EXPECT_NE(second.Handle(), nullptr);
    second.Close();
}

TEST(Utils, FindProcessByExeNameIgnoresCase)
{
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name = path;
    name = name.substr(name.find_last_of(L"\\/") + 1);
    // Other copies of this program may run at the same time (parallel tests); no test
    // starts a program under the name made up here.
    EXPECT_NE(Utils::FindProcessByExeName(name), 0u);
    std::wstring upper = name;
    for (auto& ch : upper) ch = wchar_t(towupper(ch));
    // Windows file names have no case.
    EXPECT_NE(Utils::FindProcessByExeName(upper), 0u);
    EXPECT_EQ(Utils::FindProcessByExeName(L"NoTestStartsThis-7f3a91.exe"), 0u);
}

TEST(Utils, AccountQueriesAnswer)
{
    // Wine runs the tests as an administrator of a 32-bit prefix, signed in at the console.
    EXPECT_TRUE(Utils::IsAdminGroupMember());
    wchar_t wow64[MAX_PATH];
    const bool hasWow64Folder = ::GetSystemWow64DirectoryW(wow64, MAX_PATH) != 0;
    EXPECT_EQ(Utils::Is64BitSystem(), hasWow64Folder);

    std::wstring user;
    ASSERT_TRUE(Utils::GetConsoleUserName(user));
    wchar_t self[256];
    DWORD selfLength = 256;
    ASSERT_TRUE(::GetUserNameW(self, &selfLength));
    EXPECT_EQ(user, self);
    EXPECT_FALSE(Utils::IsAdminAccount(L"no-such-user-here"));

    // The status in the high half says why the network is missing: 1 for no
    // connectivity at all, 2 for no internet; the low half is the flags themselves.
    ::CoInitialize(nullptr);
    const uint32_t net = Utils::CheckNetwork();
    ::CoUninitialize();
    const uint32_t flags = net & 0xFFFF, status = net >> 16;
    if (net != 0) {
        EXPECT_LE(status, 2u);
        EXPECT_EQ(status == 1, flags == 0) << std::hex << net;
    }
}

}  // namespace

namespace {
TEST(CurlClient, UrlTextForLibcurl)
{
    // Local files go in the ANSI code page, web addresses in UTF-8.
    EXPECT_EQ(CurlClient::CurlUrlText(L"http://h/\x4e2d.exe"), "http://h/\xE4\xB8\xAD.exe");
    EXPECT_EQ(CurlClient::CurlUrlText(L"file:///C:/caf\xe9.exe"),
              Utils::WideToMultiByte(L"file:///C:/caf\xe9.exe", CP_ACP));
    EXPECT_EQ(CCurlDownloader::FailureCost(18), 1);
    EXPECT_EQ(CCurlDownloader::FailureCost(22), 2);
    EXPECT_EQ(CCurlDownloader::FailureCost(-998), 2);
}
}  // namespace
