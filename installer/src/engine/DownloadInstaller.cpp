// The install pipeline: picks the downloader, runs the old version's uninstaller, the
// download and the setup in turn, and forwards every event to the window.
#include "DownloadInstaller.h"

#include <windows.h>

#include "InstallerConfig.h"
#include "MTCurlDownloader.h"
#include "WinDownloader.h"
#include "Trace.h"
#include "Utils.h"

namespace {
// The package path deleted last, shared by every pipeline of the process.
std::wstring g_lastDeletedPackage;
}  // namespace

CDownloadInstaller::CDownloadInstaller(InstallEventCallback windowCallback, const std::wstring& downloadUrl,
                                       const std::wstring& oldUninstallerPath, const std::wstring& installDir,
                                       bool dsc, bool ssc, bool adminact)
    : m_downloadUrl(downloadUrl), m_oldUninstallerPath(oldUninstallerPath), m_installDir(installDir), m_dsc(dsc),
      m_ssc(ssc), m_adminact(adminact), m_windowCallback(std::move(windowCallback))
{
}

CDownloadInstaller::~CDownloadInstaller()
{
    m_downloader.reset();
    m_setup.reset();
    m_uninstaller.reset();
}

void CDownloadInstaller::SetInstallOptions(const std::wstring& downloadUrl, const std::wstring& oldUninstallerPath,
                                           const std::wstring& installDir, bool dsc, bool ssc, bool adminact,
                                           bool authorizationact, const std::wstring& language)
{
    m_downloadUrl = downloadUrl;
    m_oldUninstallerPath = oldUninstallerPath;
    m_installDir = installDir;
    m_dsc = dsc;
    m_ssc = ssc;
    m_adminact = adminact;
    m_authorizationact = authorizationact;
    m_language = language;
}

std::wstring CDownloadInstaller::GetPackagePath() const
{
    return m_installDir + L"\\__Package_" + kProductName + L".exe";
}

void CDownloadInstaller::Enter(int state)
{
    if (state == m_state) return;
    TraceLine(L"CDownloadInstaller::Enter", __LINE__, L"state %d -> %d", int(m_state), state);
    m_state = state;
}

void CDownloadInstaller::Start()
{
    m_packagePath = GetPackagePath();
    TraceLine(L"CDownloadInstaller::Start", __LINE__, L"DL_TYPE=%d", g_InstallerConfig.DownloadType);

    if (!m_downloader) {
        auto handler = [this](int c, double v, const wchar_t* t) { OnDownload(c, v, t); };
        int type = g_InstallerConfig.DownloadType;
        if (type == 2)
            m_downloader.reset(new CWinDownloader(handler, m_downloadUrl, m_packagePath));
        else if (type == 3)
            m_downloader.reset(new CMTCurlDownloader(handler, m_downloadUrl, m_packagePath));
        else
            m_downloader.reset(new CCurlDownloader(handler, m_downloadUrl, m_packagePath));
    }
    if (!m_setup) {
        m_setup.reset(new CInstaller([this](int c, double v, const wchar_t* t) { OnSetup(c, v, t); },
                                     L"\"" + m_packagePath + L"\"", m_installDir, m_ssc, m_dsc, m_adminact));
    }
    m_setup->SetInstallDir(m_installDir);
    m_setup->SetFlags(m_dsc, m_ssc, m_adminact, m_authorizationact);
    m_setup->SetLanguage(m_language);

    if (!m_oldUninstallerPath.empty() && Utils::FileExists(m_oldUninstallerPath)) {
        // The uninstaller runs from a copy, so that it can remove its own folder.
        std::wstring temp = Utils::GetTempFolder();
        std::wstring copyPath = temp.empty() ? std::wstring() : temp + L"\\TallowmereDataRecovery_un_asa.exe";
        if (!copyPath.empty()) {
            // A copy left by an earlier run may be another version's: it must not run.
            ::DeleteFileW(copyPath.c_str());
            if (!::CopyFileW(m_oldUninstallerPath.c_str(), copyPath.c_str(), FALSE))
                TraceLine(L"CDownloadInstaller::Start", __LINE__, L"copy failed:%lu", (unsigned long)::GetLastError());
        }
        const size_t cut = m_oldUninstallerPath.find_last_of(L"\\/");
        const std::wstring oldDir = cut == std::wstring::npos ? std::wstring() : m_oldUninstallerPath.substr(0, cut);
        m_uninstaller.reset(new CUninstaller([this](int c, double v, const wchar_t* t) { OnUninstall(c, v, t); },
                                             copyPath, oldDir));
        if (g_InstallerConfig.InsNew) {
            while (Utils::FindProcessByExeName(L"TallowmereDataRecovery.exe") != 0) ::Sleep(100);
        }
        // The download starts when the uninstaller reports success (5003).
        m_uninstaller->Start();
        return;
    }
    m_downloader->Start();
}

void CDownloadInstaller::DeletePackages()
{
    ::DeleteFileW(m_packagePath.c_str());
    if (!g_lastDeletedPackage.empty()) ::DeleteFileW(g_lastDeletedPackage.c_str());
    g_lastDeletedPackage = m_packagePath;
}

void CDownloadInstaller::OnDownload(int code, double value, const wchar_t* text)
{
    Forward(code, value, text);
    const wchar_t* kOp = L"CDownloadInstaller::OnDownload";
    switch (code) {
    case EVT_DL_START:
        Utils::CreateDirectories(m_installDir);
        Enter(DownloadStarted);
        TraceLine(kOp, __LINE__, L"DL_CODE_START");
        break;
    case EVT_DL_PROGRESS:
        Enter(Downloading);
        TraceLine(kOp, __LINE__, L"DL_CODE_PROGRESS");
        break;
    case EVT_DL_SUCCESS:
        Enter(Downloaded);
        TraceLine(kOp, __LINE__, L"DOWNLOAD_SUCCESS");
        m_setup->Start();
        TraceLine(kOp, __LINE__, L"DL_CODE_SUCCESS");
        break;
    case EVT_DL_FAIL:
        Enter(DownloadFailed);
        DeletePackages();
        TraceLine(kOp, __LINE__, L"DL_CODE_FAIL");
        break;
    case EVT_DL_RETRY:
        TraceLine(kOp, __LINE__, L"DL_CODE_RETRY");
        m_downloader->Start();
        break;
    default:
        break;
    }
}

void CDownloadInstaller::OnUninstall(int code, double value, const wchar_t* text)
{
    Forward(code, value, text);
    const wchar_t* kOp = L"CDownloadInstaller::OnUninstall";
    switch (code) {
    case EVT_UNI_START:
        Enter(UninstallStarted);
        TraceLine(kOp, __LINE__, L"UNIST_CODE_START");
        break;
    case EVT_UNI_PROGRESS:
        Enter(Uninstalling);
        TraceLine(kOp, __LINE__, L"UNIST_CODE_PROGRESS");
        break;
    case EVT_UNI_SUCCESS:
        Enter(Uninstalled);
        TraceLine(kOp, __LINE__, L"UNIST_CODE_SUCCESS");
        m_downloader->Start();
        break;
    case EVT_UNI_MISSING:
        Enter(UninstallFailed);
        TraceLine(kOp, __LINE__, L"UNIST_CODE_FAIL");
        break;
    case EVT_UNI_ERROR:
        Enter(UninstallFailed);
        TraceLine(kOp, __LINE__, L"UNIST_CODE_ERROR");
        break;
    default:
        break;
    }
}

void CDownloadInstaller::OnSetup(int code, double value, const wchar_t* text)
{
    Forward(code, value, text);
    const wchar_t* kOp = L"CDownloadInstaller::OnSetup";
    switch (code) {
    case EVT_IST_START:
        Enter(SetupStarted);
        TraceLine(kOp, __LINE__, L"IST_CODE_START");
        break;
    case EVT_IST_PROGRESS:
        Enter(SetupRunning);
        TraceLine(kOp, __LINE__, L"DL_CODE_SUCCESS");
        break;
    case EVT_IST_SUCCESS:
        // The setup has ended when its final event comes, so the package can go.
        DeletePackages();
        Enter(Installed);
        TraceLine(kOp, __LINE__, L"INSTALL_SUCCESS");
        break;
    case EVT_IST_FAIL:
        DeletePackages();
        Enter(SetupFailed);
        TraceLine(kOp, __LINE__, L"IST_CODE_FAIL");
        break;
    default:
        break;
    }
}
