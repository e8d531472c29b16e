#pragma once
// What the engine and the windows need of the system. Nothing here shows a message:
// failures come back as results.
#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>

#include "UniqueRes.h"

namespace Utils {

// The one error type thrown inside the engine (child process start-up only).
class Exception : public std::exception {
public:
    explicit Exception(const std::wstring& message = std::wstring());
    const char* what() const noexcept override { return m_message.c_str(); }
private:
    std::string m_message;
};

// ---- numbers: three outcomes, nothing thrown --------------------------------------
enum class Num { Ok, Overflow, Invalid };
// Leading white space, optional sign, digits up to the first non-digit (like the
// standard string-to-int conversion), but out-of-range values are reported, not thrown.
Num ParseInt32(const std::wstring& text, int32_t& out);
Num ParseInt64(const std::wstring& text, int64_t& out);
// Leading white space, then the longest decimal floating-point prefix.
Num ParseDouble(const std::wstring& text, double& out);

// ---- texts ------------------------------------------------------------------------
bool StartsWith(const std::wstring& text, const std::wstring& prefix);
std::wstring TrimLeft(const std::wstring& text);
std::wstring TrimRight(const std::wstring& text);
std::wstring Trim(const std::wstring& text);
std::wstring MultiByteToWide(const std::string& text, UINT codePage);
std::string WideToMultiByte(const std::wstring& text, UINT codePage);
std::string Utf8ToAnsi(const std::string& utf8);
std::string UrlEncode(const std::string& text);
std::wstring UrlEncodeWide(const std::wstring& text);
std::wstring ReplaceAll(const std::wstring& text, const std::wstring& pattern, const std::wstring& replacement);
std::string GetUrlMd5Segment(const std::string& url);

// ---- system -----------------------------------------------------------------------
struct OsVersion {
    std::wstring family;   // always "Windows"
    std::wstring version;  // "XP", "7", "10", ...
};
OsVersion GetOsVersionText();
// The version text for given NT numbers (the table behind GetOsVersionText).
std::wstring OsVersionTextFor(DWORD major, DWORD minor, DWORD build, bool serverR2);
bool Is64BitSystem();
bool IsAdminGroupMember();
bool IsAdminAccount(const std::wstring& userName);
bool GetConsoleUserName(std::wstring& userName);
std::wstring CreateTempFolder();
std::wstring GetTempFolder();
bool CreateDirectories(const std::wstring& path);
std::wstring NewGuidString();
uint32_t CheckNetwork();
bool WriteRegistryString(const std::wstring& valueName, const std::wstring& text);
bool ReadRegistryString(const std::wstring& valueName, DWORD& type, std::wstring& text);
bool PumpMessages(HWND window);
// Process id of the first running process whose executable file name equals the
// name, compared without regard to case, or 0.
DWORD FindProcessByExeName(const std::wstring& exeName);
bool FileExists(const std::wstring& path);
// Full path of the running program's folder, without the trailing backslash.
std::wstring GetModuleFolder();

class HardDiskManager {
public:
    virtual ~HardDiskManager() = default;
    bool CheckFreeSpace(const std::wstring& folderOrDrive);
    uint64_t freeBytesAvailable = 0;
    uint64_t totalBytes = 0;
    uint64_t totalFreeBytes = 0;
};

class SingleInstanceMutex {
public:
    // Creates "D1A547DB89C0BC61_" + name, owned; empty when another instance holds it.
    void Create(const std::wstring& name);
    HANDLE Handle() const { return m_handle.Get(); }
    // Releases and closes a held mutex.
    void Close();
private:
    std::wstring m_name;
    UniqueHandle m_handle;
};

}  // namespace Utils
