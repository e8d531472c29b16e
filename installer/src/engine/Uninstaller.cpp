// The previous-version uninstaller runner: the silent command line, the run of the
// uninstaller copy, and its "Progress=", "Error=", "State=" and "Encode=" lines.
#include "Uninstaller.h"

#include <cwchar>

#include "Trace.h"
#include "Utils.h"

namespace {
const wchar_t kFailText[] = L"安装包卸载失败";
const wchar_t* Bool(bool v) { return v ? L"true" : L"false"; }
std::wstring After(const std::wstring& line, const wchar_t* key) { return line.substr(std::wcslen(key)); }
}  // namespace

CUninstaller::CUninstaller(InstallEventCallback handler, const std::wstring& uninstallerPath,
                           const std::wstring& oldInstallDir)
    : CChildLineRunner(std::move(handler)), m_uninstallerPath(uninstallerPath), m_oldInstallDir(oldInstallDir)
{
}

CUninstaller::~CUninstaller() { JoinWorker(); }

std::wstring CUninstaller::BuildCommandLine(const std::wstring& uninstallerPath, const std::wstring& oldInstallDir,
                                            bool consoleUserIsAdmin, bool processIsAdmin)
{
    return L"\"" + uninstallerPath + L"\" /S -adminact=" + Bool(consoleUserIsAdmin) + L" -authorizationact=" +
           Bool(processIsAdmin) + L" -console=show _?=" + oldInstallDir;
}

void CUninstaller::Start()
{
    std::wstring user;
    const bool consoleAdmin = Utils::GetConsoleUserName(user) && Utils::IsAdminAccount(user);
    m_commandLine = BuildCommandLine(m_uninstallerPath, m_oldInstallDir, consoleAdmin, Utils::IsAdminGroupMember());
    StartWorker(L"UnInstaller");
}

int CUninstaller::ParseLine(const std::wstring& line)
{
    using Utils::StartsWith;
    if (StartsWith(line, L"Progress=")) {
        double v = 0;
        if (Utils::ParseDouble(After(line, L"Progress="), v) != Utils::Num::Ok) v = 0;
        Raise(EVT_UNI_PROGRESS, v, L"");
    } else if (StartsWith(line, L"Error=")) {
        m_final = {EVT_UNI_ERROR, 0, After(line, L"Error=")};
        return kFailed;
    } else if (StartsWith(line, L"State=")) {
        const std::wstring state = Utils::Trim(After(line, L"State="));
        if (state == L"Success") {
            m_final = {EVT_UNI_SUCCESS, 0, L""};
            return kSucceeded;
        }
        if (state == L"Fail") {
            m_final = {EVT_UNI_ERROR, 0, kFailText};
            return kFailed;
        }
    } else if (StartsWith(line, L"Encode=")) {
        // Only the word UTF8 selects a code page here; numbers are not code pages.
        m_codePage = Utils::Trim(After(line, L"Encode=")) == L"UTF8" ? CP_UTF8 : 0;
    }
    return kGoOn;
}

void CUninstaller::Run()
{
    if (!Utils::FileExists(m_uninstallerPath)) {
        Raise(EVT_UNI_MISSING, 1.0, L"可执行卸载文件不存在");
        return;
    }
    Raise(EVT_UNI_PROGRESS, 0, L"");

    int result = kGoOn;
    DWORD exitCode = 0;
    if (!RunChild(m_commandLine, L"CUninstaller::Run", result, exitCode)) {
        Raise(EVT_UNI_MISSING, 2.0, L"");
        return;
    }

    // The final event comes once the uninstaller has ended: the download it starts
    // never runs beside the old version's removal. An uninstaller that ends in failure
    // without saying so (a crash) has not removed the old version.
    if (result != kGoOn)
        RaiseFinal();
    else if (exitCode == 0)
        Raise(EVT_UNI_SUCCESS, 1.0, L"");
    else
        Raise(EVT_UNI_ERROR, 0, kFailText);
}
