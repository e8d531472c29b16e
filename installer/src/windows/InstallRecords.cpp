// The install records: registry values, "set.ini", the analytics INI, the override
// rule and the product's start.
#include "InstallRecords.h"

#include <shellapi.h>
#include <shlobj.h>

#include <clocale>
#include <cmath>
#include <cwchar>
#include <vector>

#include "InstallEvents.h"
#include "InstallerConfig.h"
#include "UniqueRes.h"
#include "Utils.h"

namespace InstallRecords {

const wchar_t kProductExeName[] = L"TallowmereDataRecovery.exe";
const wchar_t kUninstallEntryName[] = L"uninst.ep";
const wchar_t kInstallPathValue[] = L"InstallPath";
const wchar_t kUninstallEntryValue[] = L"UnInstallEp";

namespace {

const wchar_t kSetIniName[] = L"set.ini";
const wchar_t kAnalyticsFileName[] = L"DEDizavadUvuvazire.ini";

std::wstring Join(const std::wstring& folder, const std::wstring& leaf)
{
    if (folder.empty()) return leaf;
    const wchar_t last = folder.back();
    return (last == L'\\' || last == L'/') ? folder + leaf : folder + L"\\" + leaf;
}

std::wstring ModuleFileName()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0) return std::wstring();
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        if (buffer.size() >= 32768) return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring FileNamePart(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The full, upper-cased form of a folder path without trailing separators (a drive
// root keeps its own); empty when the path cannot be made full.
std::wstring FolderKey(const std::wstring& path)
{
    if (path.empty()) return std::wstring();
    std::wstring p = path;
    for (wchar_t& c : p) {
        if (c == L'/') c = L'\\';
    }
    const DWORD need = ::GetFullPathNameW(p.c_str(), 0, nullptr, nullptr);
    if (need == 0) return std::wstring();
    std::wstring full(need, L'\0');
    const DWORD n = ::GetFullPathNameW(p.c_str(), need, &full[0], nullptr);
    if (n == 0 || n >= need) return std::wstring();
    full.resize(n);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    ::CharUpperBuffW(&full[0], DWORD(full.size()));
    return full;
}

bool FitsAnsiCodePage(const std::wstring& text)
{
    if (text.empty()) return true;
    BOOL usedDefault = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), int(text.size()), nullptr, 0,
                                        nullptr, &usedDefault);
    return n > 0 && !usedDefault;
}

// The profile functions keep a file in the ANSI code page, where other characters
// become "?", unless it starts with the UTF-16 mark. So before values that need more
// than the code page are written, the file is turned into UTF-16 (what it holds
// already, such as the setup's own "Uninstall" section, is carried over).
void MakeRoomForValues(const std::wstring& file, const std::vector<std::wstring>& values)
{
    bool fits = true;
    for (const std::wstring& v : values) fits = fits && FitsAnsiCodePage(v);
    if (fits) return;

    const size_t kMaxIniBytes = 1 << 20;
    std::string bytes;
    {
        UniqueFile in(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (in) {
            LARGE_INTEGER size{};
            if (!::GetFileSizeEx(in.Get(), &size) || size.QuadPart > LONGLONG(kMaxIniBytes)) return;
            bytes.resize(size_t(size.QuadPart));
            DWORD got = 0;
            if (!bytes.empty() && (!::ReadFile(in.Get(), &bytes[0], DWORD(bytes.size()), &got, nullptr) ||
                                   got != bytes.size()))
                return;
        }
    }
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') return;
    std::wstring text;
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = Utils::MultiByteToWide(bytes.substr(3), CP_UTF8);
    } else {
        text = Utils::MultiByteToWide(bytes, CP_ACP);
    }
    if (text.empty() && !bytes.empty()) return;
    std::wstring content(1, L'\xFEFF');
    content += text;
    UniqueFile out(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return;
    DWORD written = 0;
    ::WriteFile(out.Get(), content.data(), DWORD(content.size() * sizeof(wchar_t)), &written, nullptr);
}

struct IniValue {
    LPCWSTR section;
    LPCWSTR key;
    std::wstring value;
};

void WriteIniValues(const std::wstring& file, const std::vector<IniValue>& values)
{
    std::vector<std::wstring> texts;
    for (const IniValue& v : values) texts.push_back(v.value);
    MakeRoomForValues(file, texts);
    for (const IniValue& v : values) ::WritePrivateProfileStringW(v.section, v.key, v.value.c_str(), file.c_str());
}

std::wstring LocalTimeText()
{
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    wchar_t text[64];
    std::swprintf(text, 64, L"%d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

// "set.ini" in the install folder, and the analytics file when its folder exists or
// can be made.
void WriteSetIni(const std::wstring& installFolder)
{
    std::setlocale(LC_ALL, "en_GB.UTF-8");
    std::vector<IniValue> values = {{L"Install", L"APPStore", FileNamePart(ModuleFileName())},
                                    {L"Install", L"AppName", kProductName},
                                    {L"Install", L"DeviceID", Utils::NewGuidString()}};
    const std::wstring folder = AnalyticsFolder();
    const bool analytics = !folder.empty() && Utils::CreateDirectories(folder);
    const std::wstring analyticsFile = Join(folder, kAnalyticsFileName);
    if (analytics) values.push_back({L"Install", L"DEDizavadUvuvazireIni", analyticsFile});
    WriteIniValues(Join(installFolder, kSetIniName), values);
    if (analytics) WriteIniValues(analyticsFile, {{L"Init", L"UpdateTime", LocalTimeText()}});
}

// A delay in milliseconds from an event value; values outside 32 bits are cut to
// its range, NaN gives 0.
DWORD ToMilliseconds(double value)
{
    if (!(value > 0.0)) return 0;
    if (value >= 4294967295.0) return 0xFFFFFFFF;
    return DWORD(value);
}

int ToStartupStyle(double value)
{
    if (!(value >= 0.0) || value > 2.0) return 0;
    return int(value);
}

}  // namespace

std::wstring StripLineEnd(const std::wstring& text)
{
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == L'\r' || text[end - 1] == L'\n')) --end;
    return text.substr(0, end);
}

bool IsSameFolder(const std::wstring& a, const std::wstring& b)
{
    const std::wstring ka = FolderKey(a);
    return !ka.empty() && ka == FolderKey(b);
}

// ---- reading back -------------------------------------------------------------------

std::wstring InstalledCopy::ProgramPath() const
{
    return installPath.empty() ? std::wstring() : Join(installPath, kProductExeName);
}

bool InstalledCopy::IsInstalled() const { return !installPath.empty() && Utils::FileExists(ProgramPath()); }

InstalledCopy LookUpInstalledCopy()
{
    InstalledCopy copy;
    DWORD type = 0;
    std::wstring text;
    if (Utils::ReadRegistryString(kInstallPathValue, type, text)) copy.installPath = StripLineEnd(text);
    text.clear();
    if (Utils::ReadRegistryString(kUninstallEntryValue, type, text)) copy.uninstallEntryPath = StripLineEnd(text);
    if (copy.uninstallEntryPath.empty() && !copy.installPath.empty())
        copy.uninstallEntryPath = Join(copy.installPath, kUninstallEntryName);
    return copy;
}

bool KeepsOldVersion(const std::wstring& recordedInstallPath, const std::wstring& chosenFolder)
{
    if (!IsSameFolder(recordedInstallPath, chosenFolder)) return false;
    wchar_t value[20] = {0};
    ::GetPrivateProfileStringW(L"Uninstall", L"IsOverride", L"true", value, 20,
                               Join(chosenFolder, kSetIniName).c_str());
    return std::wcscmp(value, L"false") == 0;
}

std::wstring UninstallerForPipeline(const InstalledCopy& copy, const std::wstring& chosenFolder)
{
    return KeepsOldVersion(copy.installPath, chosenFolder) ? std::wstring() : copy.uninstallEntryPath;
}

std::wstring AnalyticsFolder()
{
    std::wstring base;
    wchar_t buffer[MAX_PATH + 1] = {0};
    const DWORD n = ::GetEnvironmentVariableW(L"APPDATA", buffer, MAX_PATH + 1);
    if (n > 0 && n <= MAX_PATH) {
        base = buffer;
    } else if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, 0, buffer))) {
        base = buffer;
    }
    if (base.empty()) return std::wstring();
    return Join(Join(base, L"QuorvData"), kProductName);
}

std::wstring AnalyticsFile()
{
    const std::wstring folder = AnalyticsFolder();
    return folder.empty() ? std::wstring() : Join(folder, kAnalyticsFileName);
}

// ---- writing ------------------------------------------------------------------------

void CInstallRecorder::Begin(const std::wstring& chosenFolder)
{
    m_report = SetupReport();
    m_report.installFolder = chosenFolder;
    m_written = false;
}

bool CInstallRecorder::OnEvent(int code, double value, const std::wstring& text)
{
    switch (code) {
    case EVT_INFO_INSTPATH: {
        // A bare "InstPath=" reports nothing: the chosen folder stays.
        const std::wstring folder = StripLineEnd(text);
        if (!folder.empty()) m_report.installFolder = folder;
        return false;
    }
    case EVT_INFO_EXEPATH:
        m_report.programPath = StripLineEnd(text);
        return false;
    case EVT_INFO_UNINSTEP:
        m_report.uninstallEntryPath = StripLineEnd(text);
        return false;
    case EVT_INFO_STARTURL:
        m_report.startUrl = StripLineEnd(text);
        return false;
    case EVT_INFO_STARTUPSTYLE:
        m_report.startupStyle = ToStartupStyle(value);
        return false;
    case EVT_INFO_TOPSHOW:
        m_report.raiseDelay = ToMilliseconds(value);
        return false;
    case EVT_INFO_FINISHCLOSE:
        m_report.closeDelay = ToMilliseconds(value);
        return false;
    case EVT_IST_SUCCESS:
        break;
    default:
        return false;
    }
    if (m_written || m_report.installFolder.empty()) return false;
    m_written = true;
    const std::wstring& folder = m_report.installFolder;
    if (Utils::WriteRegistryString(kInstallPathValue, folder)) {
        const std::wstring entry =
            m_report.uninstallEntryPath.empty() ? Join(folder, kUninstallEntryName) : m_report.uninstallEntryPath;
        if (Utils::FileExists(entry)) Utils::WriteRegistryString(kUninstallEntryValue, entry);
    }
    WriteSetIni(folder);
    return true;
}

// ---- the product's start ------------------------------------------------------------

void StartProduct(HWND window, const std::wstring& startUrl, const std::wstring& programPath)
{
    if (startUrl.size() > 5)
        ::ShellExecuteW(window, L"open", startUrl.c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
    if (programPath.empty() || !Utils::FileExists(programPath)) return;
    // The pump waits for a message; a thread timer makes sure one comes, so a quiet
    // window does not hold the start back.
    const UINT_PTR tick = ::SetTimer(nullptr, 0, 100, nullptr);
    Utils::PumpMessages(window);
    if (tick) ::KillTimer(nullptr, tick);
    ::ShellExecuteW(window, L"open", programPath.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace InstallRecords
