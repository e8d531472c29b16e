// Helpers shared by the UI framework tests: fixture paths, the manifest, payloads.
#include "test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace uitest {

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &w[0], n);
    return w;
}

std::wstring FixturePath(const std::wstring& name) { return Widen(UI_FIXTURES_DIR) + L"/" + name; }

bool ReadWholeFile(const std::wstring& path, std::vector<unsigned char>& out)
{
    out.clear();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(h, &size) != 0;
    if (ok) {
        out.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = out.empty() || (ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &got, nullptr) &&
                             got == out.size());
    }
    CloseHandle(h);
    return ok;
}

std::vector<unsigned char> ReadFixture(const std::wstring& name)
{
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(ReadWholeFile(FixturePath(name), bytes)) << "fixture missing";
    return bytes;
}

std::wstring WorkDir()
{
    const std::wstring dir = Widen(UI_TEST_WORK_DIR);
    // Create every level; existing ones are fine.
    for (size_t i = 3; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == L'/' || dir[i] == L'\\') CreateDirectoryW(dir.substr(0, i).c_str(), nullptr);
    }
    return dir;
}

const std::vector<ManifestItem>& Manifest()
{
    static std::vector<ManifestItem> items;
    static bool loaded = false;
    if (loaded) return items;
    loaded = true;
    std::vector<unsigned char> bytes;
    if (!ReadWholeFile(FixturePath(L"manifest.txt"), bytes)) return items;
    std::string text(bytes.begin(), bytes.end());
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const size_t t1 = line.find('\t');
        const size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
        if (t2 == std::string::npos) continue;
        items.push_back({Widen(line.substr(0, t1)), Widen(line.substr(t1 + 1, t2 - t1 - 1)),
                         Widen(line.substr(t2 + 1))});
    }
    return items;
}

std::vector<ManifestItem> ManifestOf(const std::wstring& archive)
{
    std::vector<ManifestItem> out;
    for (const ManifestItem& item : Manifest()) {
        if (item.archive == archive) out.push_back(item);
    }
    return out;
}

std::vector<unsigned char> PayloadBytes(const ManifestItem& item)
{
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(ReadWholeFile(FixturePath(L"payload/" + item.payload), bytes)) << "payload missing";
    return bytes;
}

}  // namespace uitest
