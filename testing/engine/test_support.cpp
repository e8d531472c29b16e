// Helpers shared by the engine's unit tests: temporary folders and whole-file I/O.
#include "test_support.h"

#include <shellapi.h>

#include <atomic>

namespace testsupport {

namespace {
void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((path + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = path + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                ::DeleteFileW(full.c_str());
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
    }
    ::RemoveDirectoryW(path.c_str());
}
}  // namespace

TempFolder::TempFolder(const std::wstring& leaf)
{
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    m_path = std::wstring(temp) + leaf + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(++counter);
    RemoveTree(m_path);
    Utils::CreateDirectories(m_path);
}

TempFolder::~TempFolder() { RemoveTree(m_path); }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || ::WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    ::CloseHandle(f);
    return ok && written == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string out;
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return out;
    char buf[8192];
    DWORD got = 0;
    while (::ReadFile(f, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
    ::CloseHandle(f);
    return out;
}

std::wstring ProgramFolder() { return Utils::GetModuleFolder(); }

}  // namespace testsupport
