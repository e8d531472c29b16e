// The installer's configuration: built-in defaults, the INI file beside the program and
// the command-line options, in that order of precedence.
#include "InstallerConfig.h"

#include <windows.h>
#include <shellapi.h>

#include <cmath>
#include <limits>

#include "Utils.h"

const wchar_t kDefaultDownloadUrl[] = L"http://download.quorvsoft.com/software/331";
const wchar_t kProductName[] = L"TallowmereDataRecovery";

namespace {
const wchar_t kIniName[] = L"QuorvInstallerConfig.ini";
const wchar_t kSection[] = L"Install";
const wchar_t kRoutePlaceholder[] = L"${ROUTE}";

// GetPrivateProfileString into 260 characters: longer values are cut to 259.
std::wstring ReadIniText(const std::wstring& path, const wchar_t* key, const std::wstring& fallback)
{
    wchar_t buffer[260] = {};
    ::GetPrivateProfileStringW(kSection, key, fallback.c_str(), buffer, 260, path.c_str());
    return buffer;
}

bool IniHasKey(const std::wstring& path, const wchar_t* key)
{
    // A marker that no real value equals tells a missing key from an empty one.
    static const wchar_t kMissing[] = L"\x1\x2missing\x2\x1";
    return ReadIniText(path, key, kMissing) != kMissing;
}
}  // namespace

// ---- CommandLineArgs ---------------------------------------------------------------

CommandLineArgs::CommandLineArgs() { Build(::GetCommandLineW()); }

CommandLineArgs::CommandLineArgs(const std::wstring& commandLine) { Build(commandLine); }

void CommandLineArgs::Build(const std::wstring& commandLine)
{
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(commandLine.c_str(), &count);
    if (!argv) return;
    for (int i = 0; i < count; ++i) {
        std::wstring arg = argv[i];
        size_t eq = arg.find(L'=');
        if (!arg.empty() && arg[0] == L'-' && eq != std::wstring::npos)
            m_args.emplace(arg.substr(0, eq), arg.substr(eq + 1));   // emplace keeps the first
        else
            m_args.emplace(arg, std::wstring());
    }
    ::LocalFree(argv);
}

std::wstring CommandLineArgs::GetString(const std::wstring& key) const
{
    auto it = m_args.find(key);
    return it == m_args.end() ? std::wstring() : it->second;
}

int CommandLineArgs::GetInt(const std::wstring& key) const
{
    auto it = m_args.find(key);
    if (it == m_args.end()) return 0;
    int32_t v = 0;
    return Utils::ParseInt32(it->second, v) == Utils::Num::Ok ? v : 0;   // out of range: unparsed
}

bool CommandLineArgs::GetBool(const std::wstring& key) const
{
    auto it = m_args.find(key);
    return it != m_args.end() && it->second == L"true";
}

double CommandLineArgs::GetDouble(const std::wstring& key, double fallback) const
{
    auto it = m_args.find(key);
    if (it == m_args.end()) return fallback;
    double v = 0;
    return Utils::ParseDouble(it->second, v) == Utils::Num::Ok ? v : fallback;
}

// ---- InstallerConfig ---------------------------------------------------------------

InstallerConfig::InstallerConfig()
{
    SetDefaults();
    LoadIniFile();
}

void InstallerConfig::SetDefaults()
{
    DownloadType = 1;
    IsCheckNet = false;
    DownloadScale = 0.7;
    LibcurlUsable = true;
    InstCmd.clear();
    LanguageOption = 0;
    InsNew = false;
    SetDownloadUrl(kDefaultDownloadUrl);
}

void InstallerConfig::LoadIniFile()
{
    std::wstring folder = Utils::GetModuleFolder();
    if (folder.empty()) return;
    LoadIniFile(folder + L"\\" + kIniName);
}

void InstallerConfig::LoadIniFile(const std::wstring& iniPath)
{
    if (!Utils::FileExists(iniPath)) return;

    SetDownloadUrl(ReadIniText(iniPath, L"DownloadUrl", kDefaultDownloadUrl));

    // Read as text so that an out-of-range number counts as unparsed (0) instead of
    // wrapping; a missing key keeps the default 1.
    if (IniHasKey(iniPath, L"DownloadType")) {
        int32_t type = 0;
        DownloadType = Utils::ParseInt32(ReadIniText(iniPath, L"DownloadType", L""), type) == Utils::Num::Ok ? type : 0;
    } else {
        DownloadType = 1;
    }

    IsCheckNet = ReadIniText(iniPath, L"IsCheckNet", L"true") == L"true";

    double scale = 0.0;
    DownloadScale = Utils::ParseDouble(ReadIniText(iniPath, L"DownloadScale", L"0.7"), scale) == Utils::Num::Ok
                        ? scale
                        : 0.0;

    InstCmd = ReadIniText(iniPath, L"InstCmd", L"");
}

void InstallerConfig::ApplyCommandLine() { ApplyCommandLine(CommandLineArgs()); }

void InstallerConfig::ApplyCommandLine(const CommandLineArgs& args)
{
    const auto& map = args.Map();
    auto has = [&map](const wchar_t* key) { return map.find(key) != map.end(); };
    if (has(L"-downloadurl")) SetDownloadUrl(args.GetString(L"-downloadurl"));
    if (has(L"-downloadtype")) DownloadType = args.GetInt(L"-downloadtype");
    if (has(L"-downloadscale"))
        DownloadScale = args.GetDouble(L"-downloadscale", std::numeric_limits<double>::quiet_NaN());
    if (has(L"-ischecknet")) IsCheckNet = args.GetBool(L"-ischecknet");
    if (has(L"-instcmd")) InstCmd = args.GetString(L"-instcmd");
    if (has(L"-language")) LanguageOption = args.GetInt(L"-language");
    if (has(L"-insnew")) InsNew = args.GetBool(L"-insnew");
}

void InstallerConfig::SetDownloadUrl(const std::wstring& url) { DownloadUrl = ResolveRoute(url); }

std::wstring InstallerConfig::ResolveRoute(const std::wstring& url)
{
    if (url.find(kRoutePlaceholder) == std::wstring::npos) return url;
    return ResolveRoute(url, Utils::GetOsVersionText().version);
}

std::wstring InstallerConfig::ResolveRoute(const std::wstring& url, const std::wstring& osVersionText)
{
    if (url.find(kRoutePlaceholder) == std::wstring::npos) return url;
    const wchar_t* route = osVersionText.find(L"XP") != std::wstring::npos ? L"download_silent_xp" : L"download_silent";
    return Utils::ReplaceAll(url, kRoutePlaceholder, route);
}

InstallerConfig g_InstallerConfig;
