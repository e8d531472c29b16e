// MD5 against the RFC 1321 test suite and block-edge sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "Downloader.h"
#include "Md5.h"
#include "test_support.h"

namespace {

TEST(Md5, Rfc1321Suite)
{
    struct { const char* text; const char* digest; } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(Md5OfBytes(c.text, std::strlen(c.text)), c.digest) << c.text;
}

TEST(Md5, FilesAtBlockEdges)
{
    struct { size_t size; const char* digest; } cases[] = {
        {0, "d41d8cd98f00b204e9800998ecf8427e"},  {55, "ef1772b6dff9a122358552954ad0df65"},
        {56, "3b0c8ac703f828b04c6c197006d17218"}, {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"}, {65, "c743a45e0d2e6a95cb859adae0248435"},
        {128, "e510683b3f5ffe4093d021808bc6ff70"}, {1000, "cabe45dcc9ae5b66ba86600cca6b8ba8"},
    };
    testsupport::TempFolder dir(L"md5 \x4e2d");   // a folder outside code page 1252
    for (const auto& c : cases) {
        std::wstring path = dir.File(L"a" + std::to_wstring(c.size) + L".bin");
        ASSERT_TRUE(testsupport::WriteFileBytes(path, std::string(c.size, 'a')));
        EXPECT_EQ(Md5(path), c.digest) << c.size;
    }
}

TEST(Md5, LargeFileMatchesTheInMemoryDigest)
{
    testsupport::TempFolder dir(L"md5");
    std::string data(3 * 65536 + 17, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char((i * 2654435761u) >> 13);
    std::wstring path = dir.File(L"big.bin");
    ASSERT_TRUE(testsupport::WriteFileBytes(path, data));
    EXPECT_EQ(Md5(path), Md5OfBytes(data.data(), data.size()));
    // Feeding in odd pieces gives the same digest.
    Md5Context ctx;
    for (size_t at = 0; at < data.size(); at += 999) ctx.Update(data.data() + at, std::min<size_t>(999, data.size() - at));
    uint8_t d[16];
    ctx.Final(d);
    EXPECT_EQ(Md5Context::ToHex(d), Md5OfBytes(data.data(), data.size()));
}

TEST(Md5, MissingFileAndEmptyPathGiveEmpty)
{
    EXPECT_EQ(Md5(L""), "");
    EXPECT_EQ(Md5(L"C:\\no\\such\\file.bin"), "");
}

// The verdict on a finished package: a package that cannot be read was never verified.
TEST(Md5, PackageDigestCheck)
{
    testsupport::TempFolder dir(L"digest");
    const std::wstring path = dir.File(L"pkg.exe");
    ASSERT_TRUE(testsupport::WriteFileBytes(path, "abc"));
    const std::string good = "900150983cd24fb0d6963f7d28e17f72";
    struct { std::string expected; DigestCheck verdict; } cases[] = {
        {good, DigestCheck::Match},
        {"900150983CD24FB0D6963F7D28E17F72", DigestCheck::Match},
        {"900150983cd24fb0d6963f7d28e17f73", DigestCheck::Mismatch},
        {"", DigestCheck::NoDigest},
        {good.substr(1), DigestCheck::NoDigest},
        {good + "0", DigestCheck::NoDigest},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckPackageDigest(c.expected, path), c.verdict) << c.expected;
    EXPECT_EQ(CheckPackageDigest(good, dir.File(L"missing.exe")), DigestCheck::Mismatch);
    // Held open without sharing: it cannot be read, so it does not match.
    HANDLE held = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Md5(path), "");
    EXPECT_EQ(CheckPackageDigest(good, path), DigestCheck::Mismatch);
    ::CloseHandle(held);
}

}  // namespace
