// System utilities of the engine: text and URL conversions, OS version, accounts,
// folders, connectivity, disk space, registry, processes, the single-instance mutex.
#include "Utils.h"

#include <lm.h>
#include <netlistmgr.h>
#include <objbase.h>
#include <tlhelp32.h>
#include <wtsapi32.h>
#include <mmsystem.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cwctype>
#include <vector>

#include "Trace.h"

namespace Utils {

Exception::Exception(const std::wstring& message) : m_message(WideToMultiByte(message, CP_ACP)) {}

// ---- numbers ------------------------------------------------------------------------

Num ParseInt64(const std::wstring& text, int64_t& out)
{
    out = 0;
    size_t i = 0;
    while (i < text.size() && std::iswspace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    if (i >= text.size() || text[i] < L'0' || text[i] > L'9') return Num::Invalid;
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        unsigned digit = unsigned(text[i] - L'0');
        if (magnitude > (limit - digit) / 10) return Num::Overflow;
        magnitude = magnitude * 10 + digit;
    }
    out = negative ? int64_t(0 - magnitude) : int64_t(magnitude);
    return Num::Ok;
}

Num ParseInt32(const std::wstring& text, int32_t& out)
{
    out = 0;
    int64_t v = 0;
    Num r = ParseInt64(text, v);
    if (r != Num::Ok) return r;
    if (v < INT32_MIN || v > INT32_MAX) return Num::Overflow;
    out = int32_t(v);
    return Num::Ok;
}

Num ParseDouble(const std::wstring& text, double& out)
{
    out = 0.0;
    const wchar_t* begin = text.c_str();
    wchar_t* end = nullptr;
    errno = 0;
    double v = std::wcstod(begin, &end);
    if (end == begin) return Num::Invalid;
    if (errno == ERANGE && (std::isinf(v) || v == 0.0 || std::fabs(v) == HUGE_VAL)) return Num::Overflow;
    out = v;
    return Num::Ok;
}

// ---- texts --------------------------------------------------------------------------

bool StartsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0 && text.size() >= prefix.size();
}

std::wstring TrimLeft(const std::wstring& text)
{
    size_t i = 0;
    while (i < text.size() && std::iswspace(text[i])) ++i;
    return text.substr(i);
}

std::wstring TrimRight(const std::wstring& text)
{
    size_t n = text.size();
    while (n > 0 && std::iswspace(text[n - 1])) --n;
    return text.substr(0, n);
}

std::wstring Trim(const std::wstring& text) { return TrimRight(TrimLeft(text)); }

std::wstring MultiByteToWide(const std::string& text, UINT codePage)
{
    if (text.empty() || text.size() > INT_MAX) return std::wstring();
    int n = ::MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(size_t(n), L'\0');
    n = ::MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), &out[0], n);
    if (n <= 0) return std::wstring();
    out.resize(size_t(n));
    return out;
}

std::string WideToMultiByte(const std::wstring& text, UINT codePage)
{
    if (text.empty() || text.size() > INT_MAX) return std::string();
    int n = ::WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(size_t(n), '\0');
    n = ::WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    if (n <= 0) return std::string();
    out.resize(size_t(n));
    return out;
}

std::string Utf8ToAnsi(const std::string& utf8)
{
    return WideToMultiByte(MultiByteToWide(utf8, CP_UTF8), CP_ACP);
}

std::string UrlEncode(const std::string& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c >= 33 && c <= 126) {
            out += char(c);
        } else if (c == 32) {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::wstring UrlEncodeWide(const std::wstring& text)
{
    return MultiByteToWide(UrlEncode(WideToMultiByte(text, CP_UTF8)), CP_UTF8);
}

std::wstring ReplaceAll(const std::wstring& text, const std::wstring& pattern, const std::wstring& replacement)
{
    if (pattern.empty()) return text;
    std::wstring out;
    size_t from = 0;
    for (;;) {
        size_t at = text.find(pattern, from);
        if (at == std::wstring::npos) break;
        out.append(text, from, at - from);
        out += replacement;
        from = at + pattern.size();
    }
    out.append(text, from, std::wstring::npos);
    return out;
}

std::string GetUrlMd5Segment(const std::string& url)
{
    size_t last = url.rfind('/');
    if (last == std::string::npos || last == 0) return std::string();
    size_t previous = url.rfind('/', last - 1);
    if (previous == std::string::npos) return std::string();
    return url.substr(previous + 1, last - previous - 1);
}

// ---- system -------------------------------------------------------------------------

std::wstring OsVersionTextFor(DWORD major, DWORD minor, DWORD build, bool serverR2)
{
    if (major <= 4) return L"XP-";
    if (major == 5) {
        if (minor == 0) return L"2K";
        if (minor == 1) return L"XP";
        if (minor == 2) return serverR2 ? L"Server 2003 R2" : L"Server 2003";
        return L"XP+";
    }
    if (major == 6) {
        switch (minor) {
        case 0: return L"Vista";
        case 1: return L"7";
        case 2: return L"8";
        case 3: return L"8.1";
        default: return L"8.1+";
        }
    }
    if (major == 10) return minor == 0 ? L"10" : L"10+";
    return std::to_wstring(major) + L"." + std::to_wstring(minor) + L"." + std::to_wstring(build);
}

OsVersion GetOsVersionText()
{
    OsVersion v{L"Windows", L"XP-"};
    HMODULE ntdll = ::LoadLibraryW(L"ntdll.dll");
    if (!ntdll) return v;
    UniqueModule owner(ntdll);
    using Fn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetNtVersionNumbers")));
    DWORD major = 0, minor = 0, build = 0;
    if (fn) fn(&major, &minor, &build);
    v.version = OsVersionTextFor(major, minor, build & 0xFFFF, ::GetSystemMetrics(89) != 0);
    return v;
}

bool Is64BitSystem()
{
    using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "IsWow64Process")));
    if (!fn) return false;
    BOOL wow = FALSE;
    if (fn(::GetCurrentProcess(), &wow)) return wow != FALSE;
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

bool IsAdminGroupMember()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID group = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                    0, 0, 0, 0, 0, 0, &group))
        return false;
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, group, &member)) member = FALSE;
    ::FreeSid(group);
    return member != FALSE;
}

bool IsAdminAccount(const std::wstring& userName)
{
    LPBYTE buffer = nullptr;
    if (::NetUserGetInfo(nullptr, userName.c_str(), 1, &buffer) != NERR_Success || !buffer) return false;
    bool admin = reinterpret_cast<USER_INFO_1*>(buffer)->usri1_priv == USER_PRIV_ADMIN;
    ::NetApiBufferFree(buffer);
    return admin;
}

bool GetConsoleUserName(std::wstring& userName)
{
    DWORD session = ::WTSGetActiveConsoleSessionId();
    if (session == 0xFFFFFFFF) return false;
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &buffer, &bytes) ||
        !buffer)
        return false;
    userName = buffer;
    ::WTSFreeMemory(buffer);
    return true;
}

std::wstring CreateTempFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return std::wstring();
    std::wstring path = temp;
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    path += L"~QuorvTemp.92482B06FB471E17\\";
    if (path.size() > MAX_PATH) return std::wstring();
    if (!CreateDirectories(path)) return std::wstring();
    return path;
}

std::wstring GetTempFolder() { return CreateTempFolder(); }

static bool PathExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileExists(const std::wstring& path)
{
    DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDirectories(const std::wstring& path)
{
    if (path.size() > MAX_PATH) return false;
    if (path.empty()) return false;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] != L'\\') continue;
        std::wstring prefix = path.substr(0, i + 1);
        // A drive root ("C:\") or a UNC server prefix cannot be created, only used.
        if (prefix.size() <= 3 && prefix.size() >= 2 && prefix[1] == L':') continue;
        if (prefix == L"\\" || prefix == L"\\\\") continue;
        if (!PathExists(prefix) && !::CreateDirectoryW(prefix.c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    if (path.back() != L'\\' && !PathExists(path) && !::CreateDirectoryW(path.c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    return true;
}

std::wstring NewGuidString()
{
    GUID g{};
    if (FAILED(::CoCreateGuid(&g))) return std::wstring();
    wchar_t text[40];
    __mingw_snwprintf(text, 40, L"%08lX%04X%04x%02X%02X%02X%02X%02X%02X%02X%02X",
                      static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                      g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

uint32_t CheckNetwork()
{
    INetworkListManager* manager = nullptr;
    HRESULT hr = ::CoCreateInstance(CLSID_NetworkListManager, nullptr, CLSCTX_ALL,
                                    IID_INetworkListManager, reinterpret_cast<void**>(&manager));
    if (FAILED(hr) || !manager) return 0;
    NLM_CONNECTIVITY flags = NLM_CONNECTIVITY_DISCONNECTED;
    uint32_t status = 0;
    if (FAILED(manager->GetConnectivity(&flags))) flags = NLM_CONNECTIVITY_DISCONNECTED;
    if (flags == 0) {
        TraceLine(L"Utils::CheckNetwork", __LINE__, L"GetConnectivity %d", int(flags));
        status = 1;
    } else {
        VARIANT_BOOL connected = VARIANT_FALSE;
        if (FAILED(manager->IsConnectedToInternet(&connected))) connected = VARIANT_FALSE;
        if (connected == VARIANT_FALSE) {
            TraceLine(L"Utils::CheckNetwork", __LINE__, L"get_IsConnectedToInternet:%d", int(connected));
            status = 2;
        }
    }
    manager->Release();
    ::CoFreeUnusedLibraries();
    return (uint32_t(flags) & 0xFFFF) | (status << 16);
}

bool HardDiskManager::CheckFreeSpace(const std::wstring& folderOrDrive)
{
    ULARGE_INTEGER available{}, total{}, free{};
    if (!::GetDiskFreeSpaceExW(folderOrDrive.c_str(), &available, &total, &free)) {
        TraceLine(L"Utils::HardDiskManager::CheckFreeSpace", __LINE__,
                  L"HardDiskManager::CheckFreeSpace FAIL code=%ld", long(::GetLastError()));
        return false;
    }
    freeBytesAvailable = available.QuadPart;
    totalBytes = total.QuadPart;
    totalFreeBytes = free.QuadPart;
    return true;
}

static const wchar_t kRegistryKey[] = L"Software\\QuorvSoft\\TallowmereDataRecovery";

bool WriteRegistryString(const std::wstring& valueName, const std::wstring& text)
{
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                          nullptr) != ERROR_SUCCESS)
        return false;
    DWORD bytes = DWORD(text.size() * sizeof(wchar_t));
    return ::RegSetValueExW(key.Get(), valueName.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()), bytes) == ERROR_SUCCESS;
}

bool ReadRegistryString(const std::wstring& valueName, DWORD& type, std::wstring& text)
{
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return false;
    DWORD bytes = 0;
    if (::RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 2, L'\0');
    DWORD size = DWORD(buffer.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                           &size) != ERROR_SUCCESS)
        return false;
    text = buffer.data();
    return true;
}

bool PumpMessages(HWND window)
{
    DWORD start = ::timeGetTime();
    while (!window || ::IsWindow(window)) {
        MSG msg;
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            ::PostQuitMessage(int(msg.wParam));
            return false;
        }
        if (got > 0) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (::timeGetTime() - start > 100) return true;
    }
    return false;
}

DWORD FindProcessByExeName(const std::wstring& exeName)
{
    UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = ::Process32FirstW(snapshot.Get(), &entry); ok; ok = ::Process32NextW(snapshot.Get(), &entry)) {
        // File names on Windows carry no case: "tallowmeredatarecovery.EXE" is the product too.
        if (::CompareStringOrdinal(entry.szExeFile, -1, exeName.c_str(), -1, TRUE) == CSTR_EQUAL)
            return entry.th32ProcessID;
    }
    return 0;
}

std::wstring GetModuleFolder()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0) return std::wstring();
        if (n < buffer.size()) {
            std::wstring path(buffer.data(), n);
            size_t slash = path.find_last_of(L"\\/");
            return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
        }
        if (buffer.size() >= 32768) return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}

void SingleInstanceMutex::Create(const std::wstring& name)
{
    if (m_handle) return;
    m_name = L"D1A547DB89C0BC61_" + name;
    UniqueHandle created(::CreateMutexW(nullptr, TRUE, m_name.c_str()));
    // Another instance holds the name: keep no handle (the new one closes here).
    if (!created || ::GetLastError() == ERROR_ALREADY_EXISTS) return;
    m_handle = std::move(created);
}

void SingleInstanceMutex::Close()
{
    if (!m_handle) return;
    ::ReleaseMutex(m_handle.Get());
    m_handle.Reset();
}

}  // namespace Utils
