#pragma once
// The installer's main window: four pages (choose, custom settings, installing,
// finished) in "mainTabLt", the look-up of an installed or running copy when it
// opens, the user's actions, and the install pipeline's events turned into progress,
// pages, message windows and the install records.
#include <atomic>
#include <memory>
#include <string>

#include "DownloadInstaller.h"
#include "InstallRecords.h"
#include "SkinFrame.h"
#include "Thread.h"

namespace SkinUI {
class CButtonUI;
class CCheckBoxUI;
class CControlUI;
class CLabelUI;
class CProgressUI;
class CTabLayoutUI;
}  // namespace SkinUI

// One pipeline event on its way from a worker to the window (message 2024).
struct InstallEvent {
    int code;
    double value;
    std::wstring text;
};

class CMainWnd : public SkinUI::CSkinFrame {
public:
    static const UINT kInstallEventMessage = 2024;
    // The network check's result, from its worker to the window.
    static const UINT kCheckNetMessage = 2025;

    CMainWnd();
    ~CMainWnd() override;

    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void InitWindow() override;
    void OnClick(SkinUI::UINotify& msg) override;
    LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;
    LRESULT HandleOtherMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;
    virtual void OnTimer(WPARAM wParam, LPARAM lParam);
    virtual void OnInstallEvent(InstallEvent* event);

    void Notify(SkinUI::UINotify& msg) override;
    SkinUI::CControlUI* CreateControl(LPCWSTR pstrClass) override;
    const SkinUI::UIMsgMap* GetMessageMap() const override;
    static const SkinUI::UIMsgMap messageMap;

    void StartInstallation(const std::wstring& folder, bool desktopShortcut, bool quickLaunch);
    std::wstring DefaultInstallFolder();
    std::wstring CustomInstallFolder();
    void ApplyLanguage(int index);

private:
    void FindControls();
    void OnTabSelect();
    void OnInstallNotify(WPARAM wParam);
    void StartNetworkCheck();
    void StartPipeline();
    void SetProgress(int percent);
    void ShowPage(int page);
    void SetInstallButtonsEnabled(bool enabled);
    void ShowRunningBox();
    void ReturnToStartPage();
    void Finish();
    std::wstring LanguageCode() const;
    int Ask(LPCWSTR layout, const std::wstring* text = nullptr, const std::wstring* caption = nullptr);
    void FitWidthToText(SkinUI::CControlUI* control, bool withPadding);
    InstallEventCallback EventCallback();

    SkinUI::CControlUI* m_winCtn = nullptr;
    SkinUI::CTabLayoutUI* m_titleTabLt = nullptr;
    SkinUI::CControlUI* m_titleGrpCtn = nullptr;
    SkinUI::CTabLayoutUI* m_mainTabLt = nullptr;
    SkinUI::CControlUI* m_defaultInstallBtn = nullptr;
    SkinUI::CControlUI* m_customeBtn = nullptr;
    SkinUI::CControlUI* m_customeInstallBtn = nullptr;
    SkinUI::CCheckBoxUI* m_treatyCb = nullptr;
    SkinUI::CCheckBoxUI* m_treatyBtn = nullptr;
    SkinUI::CCheckBoxUI* m_serviceCb = nullptr;
    SkinUI::CControlUI* m_backBtn = nullptr;
    SkinUI::CControlUI* m_installDirEdit = nullptr;
    SkinUI::CCheckBoxUI* m_createDSCb = nullptr;
    SkinUI::CCheckBoxUI* m_createQSCb = nullptr;
    SkinUI::CControlUI* m_progressLb = nullptr;
    SkinUI::CProgressUI* m_installPrg = nullptr;
    SkinUI::CControlUI* m_progressAnLb = nullptr;
    SkinUI::CControlUI* m_finishedLbl = nullptr;
    SkinUI::CControlUI* m_installLogo = nullptr;
    SkinUI::CControlUI* m_softNameLbl = nullptr;
    SkinUI::CControlUI* m_languageCombo = nullptr;
    SkinUI::CControlUI* m_tipLbl = nullptr;
    SkinUI::CControlUI* m_lbLanguage = nullptr;
    SkinUI::CControlUI* m_lbInstallPath = nullptr;

    InstallRecords::InstalledCopy m_installed;
    InstallRecords::CInstallRecorder m_recorder;
    std::wstring m_installFolder;
    double m_estimate = 0.0;
    int m_startPage = 0;
    bool m_hasInstalledCopy = false;
    bool m_adminact = false;
    bool m_authorizationact = false;
    // From the start of an installation (buttons disabled) to the pipeline's end.
    bool m_busy = false;
    bool m_pipelineRunning = false;
    // A confirmed exit during the installation closes the window after all.
    bool m_exitConfirmed = false;

    std::unique_ptr<CDownloadInstaller> m_pipeline;
    std::unique_ptr<Utils::Thread> m_netThread;
    // Starts the pipeline once the product has exited ("-insnew"), off the UI thread.
    std::unique_ptr<Utils::Thread> m_startThread;
    std::atomic<bool> m_stopWaiting{false};
};
