#pragma once
// Drives one installation: (old version's uninstaller,) download, setup, clean-up.
#include <memory>
#include <string>

#include "Downloader.h"
#include "InstallEvents.h"
#include "SetupRunner.h"
#include "Uninstaller.h"

class CDownloadInstaller {
public:
    enum State : int {
        Created = 1,
        DownloadStarted = 2,
        Downloading = 3,
        Downloaded = 4,
        DownloadFailed = 5,
        UninstallStarted = 6,
        Uninstalling = 7,
        Uninstalled = 8,
        UninstallFailed = 9,
        SetupStarted = 10,
        SetupRunning = 11,
        Installed = 12,
        SetupFailed = 13,
    };

    CDownloadInstaller(InstallEventCallback windowCallback, const std::wstring& downloadUrl,
                       const std::wstring& oldUninstallerPath, const std::wstring& installDir, bool dsc, bool ssc,
                       bool adminact);
    ~CDownloadInstaller();
    CDownloadInstaller(const CDownloadInstaller&) = delete;
    CDownloadInstaller& operator=(const CDownloadInstaller&) = delete;

    void SetInstallOptions(const std::wstring& downloadUrl, const std::wstring& oldUninstallerPath,
                           const std::wstring& installDir, bool dsc, bool ssc, bool adminact, bool authorizationact,
                           const std::wstring& language);
    void Start();
    std::wstring GetPackagePath() const;
    int GetState() const { return m_state; }
    static bool IsFinal(int state)
    {
        return state == DownloadFailed || state == UninstallFailed || state == Installed || state == SetupFailed;
    }

private:
    void OnDownload(int code, double value, const wchar_t* text);
    void OnUninstall(int code, double value, const wchar_t* text);
    void OnSetup(int code, double value, const wchar_t* text);
    // The one place where the state changes (traced).
    void Enter(int state);
    void DeletePackages();
    void Forward(int code, double value, const wchar_t* text)
    {
        if (m_windowCallback) m_windowCallback(code, value, text ? text : L"");
    }

    std::unique_ptr<CDownloader> m_downloader;
    std::unique_ptr<CInstaller> m_setup;
    std::unique_ptr<CUninstaller> m_uninstaller;
    std::wstring m_downloadUrl;
    std::wstring m_oldUninstallerPath;
    std::wstring m_installDir;
    std::wstring m_packagePath;
    std::wstring m_language;
    bool m_dsc;
    bool m_ssc;
    bool m_adminact;
    bool m_authorizationact = true;
    InstallEventCallback m_windowCallback;
    volatile int m_state = Created;
};
