#pragma once
// Helpers of the fake programs the engine tests start: environment, UTF-8, raw writes.
#include <windows.h>

#include <string>

namespace fake {

inline std::wstring Env(const wchar_t* name)
{
    wchar_t buf[4096];
    DWORD n = ::GetEnvironmentVariableW(name, buf, 4096);
    return n && n < 4096 ? std::wstring(buf, n) : std::wstring();
}

inline std::string ToUtf8(const std::wstring& w)
{
    if (w.empty()) return std::string();
    int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

inline void Put(HANDLE h, const std::string& bytes)
{
    DWORD written = 0;
    if (!bytes.empty()) ::WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

// Appends one line to the file at path (shared, so that several runs can log to it).
inline void AppendLine(const std::wstring& path, const std::string& line)
{
    HANDLE f = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    Put(f, line + "\n");
    ::CloseHandle(f);
}

}  // namespace fake
