// The main window: its pages and controls, the user's actions, and the pipeline's
// events on the UI thread.
#include "MainWnd.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cwchar>

#include "InstallerConfig.h"
#include "LanguageTable.h"
#include "MainWndRules.h"
#include "MessageBoxWnd.h"
#include "SequenceControls.h"
#include "UICombo.h"
#include "UILabel.h"
#include "UIOption.h"
#include "UIProgress.h"
#include "UIRender.h"
#include "UITabLayout.h"
#include "Utils.h"


using namespace SkinUI;

namespace {

const wchar_t kProductTitle[] = L"Tallowmere Data Recovery";
const wchar_t kProductExe[] = L"TallowmereDataRecovery.exe";
const wchar_t kOldUninstallerExe[] = L"TallowmereDataRecovery_un_asa.exe";
// The licence agreement "treatyBtn" opens.
const wchar_t kAgreementUrl[] = L"https://www.quorvsoft.com/license-agreement.html";

enum Page { kChoosePage = 0, kCustomPage = 1, kInstallingPage = 2, kFinishedPage = 3 };
enum : UINT { kRaiseTimer = 10, kCloseTimer = 11 };

const wchar_t* const kBackgrounds[] = {L"res\\mainWnd\\bg1.png", L"res\\mainWnd\\bg2.png", L"res\\mainWnd\\bg3.png",
                                       L"res\\mainWnd\\bg4.png"};

std::wstring Text(int id) { return LanguageTable::Text(id); }

bool IsRunning(const wchar_t* exe) { return Utils::FindProcessByExeName(exe) != 0; }

template <class T>
T* As(CControlUI* c, LPCWSTR iface)
{
    return c ? static_cast<T*>(c->GetInterface(iface)) : nullptr;
}

// Our own child processes (a setup or an old uninstaller that hangs), ended so that
// the runners reading their output come to an end.
void EndChildProcesses()
{
    UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    const DWORD self = ::GetCurrentProcessId();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = ::Process32FirstW(snapshot.Get(), &entry); ok; ok = ::Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ParentProcessID != self || entry.th32ProcessID == self) continue;
        UniqueHandle child(::OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
        if (child) ::TerminateProcess(child.Get(), 1);
    }
}

// The language box's selection, -1 without one.
int ComboSelection(CControlUI* combo)
{
    CComboUI* c = As<CComboUI>(combo, L"Combo");
    return c ? c->GetCurSel() : -1;
}

bool ComboSelect(CControlUI* combo, int index)
{
    CComboUI* c = As<CComboUI>(combo, L"Combo");
    return c && c->SelectItem(index, false, true);
}

}  // namespace

static const UIMsgMapEntry kMainWndEntries[] = {
    {L"click", L"", UISig_vn, UIPumpNotify(&WindowImplBase::OnClick)},
    {L"", L"", UISig_end, nullptr},
};
const UIMsgMap CMainWnd::messageMap = {&CNotifyPump::messageMap, kMainWndEntries};

CMainWnd::CMainWnd() : CSkinFrame(InstallerFrameRecord(L"MainWnd.xml")) {}

CMainWnd::~CMainWnd()
{
    m_stopWaiting = true;
    m_startThread.reset();
    // A confirmed exit while the setup or the old uninstaller still runs ends them.
    if (m_pipelineRunning) EndChildProcesses();
    m_pipeline.reset();
    m_netThread.reset();
}

const UIMsgMap* CMainWnd::GetMessageMap() const { return &messageMap; }

CControlUI* CMainWnd::CreateControl(LPCWSTR pstrClass) { return CreateSequenceControl(pstrClass); }

InstallEventCallback CMainWnd::EventCallback()
{
    const HWND window = m_hWnd;
    return [window](int code, double value, const wchar_t* text) {
        InstallEvent* event = new InstallEvent{code, value, text ? text : L""};
        // A window that is gone never takes the record: it stays the poster's.
        if (!::PostMessageW(window, kInstallEventMessage, 0, reinterpret_cast<LPARAM>(event))) delete event;
    };
}

// ---------------------------------------------------------------- opening

void CMainWnd::FindControls()
{
    CWindowManagerUI& m = m_PaintManager;
    auto find = [&m](LPCWSTR name) { return m.FindControlByName(name); };
    m_winCtn = find(L"winCtn");
    m_titleTabLt = As<CTabLayoutUI>(find(L"titleTabLt"), L"TabLayout");
    m_titleGrpCtn = find(L"titleGrpCtn");
    m_mainTabLt = As<CTabLayoutUI>(find(L"mainTabLt"), L"TabLayout");
    m_defaultInstallBtn = find(L"defaultInstallBtn");
    m_customeBtn = find(L"customeBtn");
    m_customeInstallBtn = find(L"customeInstallBtn");
    m_treatyCb = As<CCheckBoxUI>(find(L"treatyCb"), L"CheckBox");
    m_treatyBtn = As<CCheckBoxUI>(find(L"treatyBtn"), L"CheckBox");
    m_serviceCb = As<CCheckBoxUI>(find(L"serviceCb"), L"CheckBox");
    m_backBtn = find(L"backBtn");
    m_installDirEdit = find(L"installDirEdit");
    m_createDSCb = As<CCheckBoxUI>(find(L"createDSCb"), L"CheckBox");
    m_createQSCb = As<CCheckBoxUI>(find(L"createQSCb"), L"CheckBox");
    m_progressLb = find(L"progressLb");
    m_installPrg = As<CProgressUI>(find(L"installPrg"), L"Progress");
    m_progressAnLb = find(L"progressAnLb");
    m_finishedLbl = find(L"finishedLbl");
    m_installLogo = find(L"installLogo");
    m_softNameLbl = find(L"softNameLbl");
    m_languageCombo = find(L"languageCombo");
    m_tipLbl = find(L"tipLbl");
    m_lbLanguage = find(L"lbLanguage");
    m_lbInstallPath = find(L"lbInstallPath");
}

void CMainWnd::InitWindow()
{
    CSkinFrame::InitWindow();
    const LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    ::SetWindowLongW(m_hWnd, GWL_STYLE, (style & ~0x00C10000) | 0x06000000);
    const LONG exStyle = ::GetWindowLongW(m_hWnd, GWL_EXSTYLE);
    ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, exStyle & ~WS_EX_TOPMOST);
    SetIcon(145);

    FindControls();

    const int language = MainWndRules::BoundLanguageIndex(g_InstallerConfig.LanguageOption);
    if (m_languageCombo) ComboSelect(m_languageCombo, language);
    ApplyLanguage(language);

    for (LPCWSTR name : {L"softNameLbl", L"bTitleLbl1", L"bTitleLbl2", L"bTitleLbl3"}) {
        CLabelUI* label = As<CLabelUI>(m_PaintManager.FindControlByName(name), L"Label");
        if (!label) continue;
        label->SetText(kProductTitle);
        FitWidthToText(label, false);
    }

    m_pipeline.reset(new CDownloadInstaller(EventCallback(), L"", L"", L"", true, true, true));

    m_installed = InstallRecords::LookUpInstalledCopy();
    // A record whose program is gone offers nothing to open.
    m_hasInstalledCopy = m_installed.IsInstalled();

    if (m_installDirEdit) m_installDirEdit->SetText(DefaultInstallFolder().c_str());
    CenterWindow();

    if (!m_hasInstalledCopy) return;
    if (m_languageCombo)
        ComboSelect(m_languageCombo, LanguageTable::LoadInstalledLanguage(m_installed.installPath, m_PaintManager));
    if (IsRunning(kProductExe) && !g_InstallerConfig.InsNew) {
        ShowRunningBox();
        Close(1);
        return;
    }
    if (g_InstallerConfig.InsNew) {
        StartInstallation(m_installed.installPath, true, true);
        return;
    }
    switch (Ask(L"InstalledPathTipWnd.xml")) {
    case 1: {   // "Open software"
        const std::wstring program = m_installed.ProgramPath();
        ::ShellExecuteW(m_hWnd, L"open", program.c_str(), nullptr, m_installed.installPath.c_str(), SW_SHOWNORMAL);
        Close(1);
        break;
    }
    case 0:   // "Install the latest version"
        StartInstallation(m_installed.installPath, true, true);
        break;
    default:
        Close(1);
        break;
    }
}

void CMainWnd::FitWidthToText(CControlUI* control, bool withPadding)
{
    CLabelUI* label = As<CLabelUI>(control, L"Label");
    if (!label) return;
    const CUIString text = label->GetText();
    const SIZE size = CDrawHelper::GetTextSize(m_PaintManager.GetPaintDC(), &m_PaintManager, text.GetData(),
                                               label->GetFont());
    label->SetFixedWidth(size.cx + (withPadding ? label->GetTextPadding().left : 0));
}

void CMainWnd::ApplyLanguage(int index)
{
    LanguageTable::Load(index);
    if (CControlUI* root = m_PaintManager.GetRoot()) root->NeedUpdate();
    FitWidthToText(m_lbLanguage, true);
    FitWidthToText(m_lbInstallPath, true);
    FitWidthToText(m_backBtn, true);
}

std::wstring CMainWnd::LanguageCode() const
{
    return LanguageTable::CodeOf(ComboSelection(m_languageCombo));
}

// ---------------------------------------------------------------- folders

std::wstring CMainWnd::DefaultInstallFolder()
{
    std::wstring user;
    m_adminact = Utils::GetConsoleUserName(user) && Utils::IsAdminAccount(user);
    m_authorizationact = Utils::IsAdminGroupMember();
    if (!m_installed.installPath.empty() && Utils::FileExists(m_installed.uninstallEntryPath))
        return m_installed.installPath;
    std::wstring base;
    wchar_t buffer[MAX_PATH + 1] = {0};
    const DWORD n = ::GetEnvironmentVariableW(L"APPDATA", buffer, MAX_PATH + 1);
    if (m_adminact && m_authorizationact && n > 0 && n <= MAX_PATH) {
        base = std::wstring(buffer) + L"\\quorv";
    } else if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, 0, buffer)) ||
               SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, buffer))) {
        base = buffer;
    }
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    return base + MainWndRules::kProductFolder;
}

std::wstring CMainWnd::CustomInstallFolder()
{
    const std::wstring edit = m_installDirEdit ? m_installDirEdit->GetText().GetData() : L"";
    return MainWndRules::CustomInstallFolder(DefaultInstallFolder(), edit);
}

// ---------------------------------------------------------------- installing

int CMainWnd::Ask(LPCWSTR layout, const std::wstring* text, const std::wstring* caption)
{
    return CMessageBoxWnd::ShowModal(InstallerFrameRecord(layout), m_hWnd, text ? text->c_str() : nullptr,
                                     caption ? caption->c_str() : nullptr);
}

void CMainWnd::ShowRunningBox()
{
    const std::wstring text = Text(101) + kProductTitle + Text(102);
    const std::wstring caption = Text(100);
    Ask(L"MessageBox1Wnd.xml", &text, &caption);
}

void CMainWnd::SetInstallButtonsEnabled(bool enabled)
{
    if (m_defaultInstallBtn) m_defaultInstallBtn->SetEnabled(enabled);
    if (m_customeInstallBtn) m_customeInstallBtn->SetEnabled(enabled);
}

void CMainWnd::StartInstallation(const std::wstring& folder, bool desktopShortcut, bool quickLaunch)
{
    const bool insNew = g_InstallerConfig.InsNew;
    if (IsRunning(kOldUninstallerExe) && !insNew) {
        ShowRunningBox();
        if (m_hasInstalledCopy) Close(1);
        return;
    }
    if (IsRunning(kProductExe) && !insNew) {
        ShowRunningBox();
        Close(1);
        return;
    }
    // One installation at a time: a second click while one is on its way does nothing.
    if (m_busy) return;
    m_busy = true;
    SetInstallButtonsEnabled(false);

    CControlUI* root = m_PaintManager.GetRoot();
    const std::wstring caption = Text(100);
    if (!MainWndRules::IsUsableInstallFolder(folder) || !Utils::CreateDirectories(folder)) {
        const std::wstring text = Text(103);
        Ask(L"MessageBox2Wnd.xml", &text, &caption);
        m_PaintManager.SendNotify(root, L"install", 0);
        return;
    }
    Utils::HardDiskManager disk;
    if (!disk.CheckFreeSpace(folder.substr(0, 2) + L"\\")) disk.freeBytesAvailable = 0;
    if (disk.freeBytesAvailable / 1073741824ull < 1) {
        const std::wstring text = Text(104);
        const std::wstring reminder = L"Reminder";
        Ask(L"MessageBox2Wnd.xml", &text, &reminder);
        m_PaintManager.SendNotify(root, L"install", 0);
        return;
    }

    m_installFolder = folder;
    m_recorder.Begin(folder);
    m_pipeline->SetInstallOptions(g_InstallerConfig.DownloadUrl, InstallRecords::UninstallerForPipeline(m_installed, folder),
                                  folder, desktopShortcut, quickLaunch, m_adminact, m_authorizationact, LanguageCode());
    if (g_InstallerConfig.IsCheckNet) {
        StartNetworkCheck();
    } else {
        m_PaintManager.SendNotify(root, L"install", 1, 0, true);
    }
}

void CMainWnd::StartNetworkCheck()
{
    m_netThread.reset();
    const HWND window = m_hWnd;
    m_netThread.reset(new Utils::Thread(nullptr, L"ABDEF", [window](void*) {
        const HRESULT com = ::CoInitialize(nullptr);
        const uint32_t result = Utils::CheckNetwork();
        // The window manager's queue belongs to the UI thread: the result goes by message.
        ::PostMessageW(window, kCheckNetMessage, result, 0);
        if (SUCCEEDED(com)) ::CoUninitialize();
    }));
    m_netThread->Resume();
}

void CMainWnd::OnInstallNotify(WPARAM wParam)
{
    if (wParam == 0) {
        m_busy = false;
        SetInstallButtonsEnabled(true);
        return;
    }
    if (m_pipelineRunning) return;
    m_startPage = m_mainTabLt ? m_mainTabLt->GetCurSel() : kChoosePage;
    if (m_startPage != kCustomPage) m_startPage = kChoosePage;
    ShowPage(kInstallingPage);
    StartPipeline();
}

void CMainWnd::StartPipeline()
{
    m_pipelineRunning = true;
    if (!g_InstallerConfig.InsNew) {
        m_pipeline->Start();
        return;
    }
    // The product is to exit first; waiting for it must not hold the window.
    m_startThread.reset();
    m_stopWaiting = false;
    CDownloadInstaller* pipeline = m_pipeline.get();
    std::atomic<bool>* stop = &m_stopWaiting;
    m_startThread.reset(new Utils::Thread(nullptr, L"ABDEF", [pipeline, stop](void*) {
        while (!*stop && Utils::FindProcessByExeName(kProductExe) != 0) ::Sleep(100);
        if (!*stop) pipeline->Start();
    }));
    m_startThread->Resume();
}

void CMainWnd::ShowPage(int page)
{
    if (m_mainTabLt) m_mainTabLt->SelectItem(page, true);
}

void CMainWnd::SetProgress(int percent)
{
    if (m_progressLb) {
        std::wstring format = m_progressLb->GetUserData().GetData();
        if (format.empty()) format = Text(107);
        m_progressLb->SetText(MainWndRules::ProgressText(format, percent).c_str());
    }
    if (m_installPrg) m_installPrg->SetValue(percent);
}

void CMainWnd::ReturnToStartPage() { ShowPage(m_startPage); }

// ---------------------------------------------------------------- events

void CMainWnd::OnInstallEvent(InstallEvent* raw)
{
    std::unique_ptr<InstallEvent> event(raw);
    if (!event) return;
    const int code = event->code;
    const std::wstring& text = event->text;
    if (code != EVT_IST_SUCCESS) m_recorder.OnEvent(code, event->value, text);
    const double scale = g_InstallerConfig.DownloadScale;
    const std::wstring caption = Text(100);

    switch (code) {
    case EVT_DL_PROGRESS:
        SetProgress(MainWndRules::DownloadPercent(event->value, scale));
        break;
    case EVT_DL_FAIL: {
        m_pipelineRunning = false;
        m_busy = false;
        SetInstallButtonsEnabled(true);
        const int answer = Ask(L"NetworkTipWnd.xml");
        if (answer == 1) {   // "Retry"
            if (m_hasInstalledCopy) Close(1);
        } else if (answer == 0) {   // "Reinstall"
            if (m_startPage == kCustomPage) {
                StartInstallation(CustomInstallFolder(), m_createDSCb && m_createDSCb->IsChecked(),
                                  m_createQSCb && m_createQSCb->IsChecked());
            } else {
                StartInstallation(DefaultInstallFolder(), true, true);
            }
        }
        ReturnToStartPage();
        break;
    }
    case EVT_IST_PROGRESS:
        SetProgress(MainWndRules::SetupPercent(m_estimate, event->value, scale));
        break;
    case EVT_IST_SUCCESS:
        Finish();
        break;
    case EVT_IST_FAIL: {
        m_pipelineRunning = false;
        m_busy = false;
        SetInstallButtonsEnabled(true);
        const std::wstring message = text.empty() ? Text(106) : text;
        Ask(L"MessageBox2Wnd.xml", &message, &caption);
        if (m_installPrg && m_installPrg->GetValue() > 69) SetProgress(0);
        ShowPage(kChoosePage);
        break;
    }
    case EVT_INFO_MESSAGE:
        Ask(L"MessageBox1Wnd.xml", &text, &caption);
        break;
    case EVT_UNI_MISSING:
    case EVT_UNI_ERROR: {
        m_pipelineRunning = false;
        m_busy = false;
        SetInstallButtonsEnabled(true);
        if (!g_InstallerConfig.InsNew) {
            // The uninstaller's own words, not a claim that the product runs.
            const std::wstring message = text.empty() ? Text(106) : text;
            Ask(L"MessageBox1Wnd.xml", &message, &caption);
        }
        ReturnToStartPage();
        if (m_hasInstalledCopy) Close(1);
        break;
    }
    default:
        break;
    }
}

void CMainWnd::Finish()
{
    m_pipelineRunning = false;
    if (m_installPrg) {
        m_installPrg->SetValue(100);
        const CUIString done = CWindowManagerUI::GetResourcePath() + L"res\\mainWnd\\installPrg3.png";
        if (Utils::FileExists(done.GetData())) {
            m_installPrg->SetForeImage(L"res\\mainWnd\\installPrg3.png");
            m_installPrg->Invalidate();
        }
    }
    if (m_softNameLbl) {
        m_softNameLbl->SetText(kProductTitle);
        m_softNameLbl->SetVisible(true);
    }
    ShowPage(kFinishedPage);
    m_recorder.OnEvent(EVT_IST_SUCCESS, 0, L"");
    const InstallRecords::SetupReport& report = m_recorder.Report();
    m_installFolder = report.installFolder;
    if (report.startupStyle == 1) InstallRecords::StartProduct(m_hWnd, report.startUrl, report.programPath);
    CControlUI* root = m_PaintManager.GetRoot();
    if (MainWndRules::StartsDelayTimer(report.raiseDelay)) m_PaintManager.SetTimer(root, kRaiseTimer, report.raiseDelay);
    if (MainWndRules::StartsDelayTimer(report.closeDelay)) m_PaintManager.SetTimer(root, kCloseTimer, report.closeDelay);
}

// ---------------------------------------------------------------- notifications

void CMainWnd::OnTabSelect()
{
    const int page = m_mainTabLt ? m_mainTabLt->GetCurSel() : -1;
    auto background = [this](int index) {
        if (!m_winCtn) return;
        m_winCtn->SetBkImage(kBackgrounds[index]);
        m_winCtn->Invalidate();
    };
    CSequenceLabelUI* progressAnimation = As<CSequenceLabelUI>(m_progressAnLb, L"SequenceLabel");
    switch (page) {
    case kChoosePage:
    case kCustomPage:
        background(page);
        if (m_titleTabLt) m_titleTabLt->SelectItem(1);
        break;
    case kInstallingPage:
        background(2);
        if (progressAnimation) progressAnimation->Start();
        break;
    case kFinishedPage:
        if (m_titleTabLt) m_titleTabLt->SelectItem(2);
        background(3);
        if (progressAnimation) m_PaintManager.KillTimer(progressAnimation, SequenceAnimation::kTimerId);
        if (CSequenceLabelUI* finished = As<CSequenceLabelUI>(m_finishedLbl, L"SequenceLabel")) finished->Start();
        break;
    default:
        background(0);
        if (m_titleTabLt) m_titleTabLt->SelectItem(0);
        break;
    }
    if (m_titleGrpCtn) m_titleGrpCtn->SetVisible(page != kInstallingPage);
    if (m_installLogo) m_installLogo->SetVisible(page == kInstallingPage);
    if (m_backBtn) m_backBtn->SetVisible(page == kCustomPage);
}

void CMainWnd::Notify(UINotify& msg)
{
    const CUIString sender = msg.pSender ? msg.pSender->GetName() : CUIString();
    if (msg.sType.Equals(L"selectchanged")) {
        if (sender.Equals(L"treatyCb") && m_treatyCb) {
            if (m_treatyBtn) m_treatyBtn->SetChecked(m_treatyCb->IsChecked(), true);
            if (m_treatyCb->IsChecked() && (!m_serviceCb || m_serviceCb->IsChecked())) {
                if (m_customeBtn) m_customeBtn->SetEnabled(true);
                if (m_tipLbl) m_tipLbl->SetVisible(false);
            } else if (m_customeBtn) {
                m_customeBtn->SetEnabled(false);
            }
        } else if (sender.Equals(L"serviceCb") && m_serviceCb) {
            const bool on = m_serviceCb->IsChecked();
            if (m_customeBtn) m_customeBtn->SetEnabled(on && m_treatyCb && m_treatyCb->IsChecked());
            if (m_defaultInstallBtn && !m_busy) m_defaultInstallBtn->SetEnabled(on);
        } else if (sender.Equals(L"treatyBtn") && m_treatyBtn && m_treatyCb) {
            m_treatyBtn->SetChecked(m_treatyCb->IsChecked(), true);
        }
    } else if (msg.sType.Equals(L"tabselect")) {
        OnTabSelect();
    } else if (msg.sType.Equals(L"checknet")) {
        if (msg.wParam > 0xFFFF) {
            const std::wstring text = Text(105);
            const std::wstring caption = Text(100);
            Ask(L"MessageBox2Wnd.xml", &text, &caption);
        }
        m_PaintManager.SendNotify(m_PaintManager.GetRoot(), L"install", msg.wParam <= 0xFFFF ? 1 : 0);
    } else if (msg.sType.Equals(L"install")) {
        OnInstallNotify(msg.wParam);
    } else if (msg.sType.Equals(L"timer") && msg.pSender == m_PaintManager.GetRoot()) {
        if (msg.wParam == kRaiseTimer) {
            ::SetForegroundWindow(m_hWnd);
            m_PaintManager.KillTimer(msg.pSender, kRaiseTimer);
        } else if (msg.wParam == kCloseTimer) {
            m_PaintManager.KillTimer(msg.pSender, kCloseTimer);
            Close(1);
        }
    } else if (msg.sType.Equals(L"itemselect") && sender.Equals(L"languageCombo")) {
        ApplyLanguage(ComboSelection(m_languageCombo));
    }
    WindowImplBase::Notify(msg);
}

void CMainWnd::OnClick(UINotify& msg)
{
    const CUIString name = msg.pSender ? msg.pSender->GetName() : CUIString();
    const int page = m_mainTabLt ? m_mainTabLt->GetCurSel() : kChoosePage;
    if (name.Equals(L"defaultInstallBtn")) {
        if (m_treatyCb && m_treatyCb->IsChecked()) {
            StartInstallation(DefaultInstallFolder(), true, true);
        } else if (m_tipLbl) {
            m_tipLbl->SetVisible(true);
        }
    } else if (name.Equals(L"customeBtn")) {
        ShowPage(kCustomPage);
        if (m_customeInstallBtn) m_customeInstallBtn->SetFocus();
    } else if (name.Equals(L"treatyBtn")) {
        ::ShellExecuteW(m_hWnd, L"open", kAgreementUrl, nullptr, nullptr, SW_SHOWMAXIMIZED);
    } else if (name.Equals(L"backBtn")) {
        ShowPage(kChoosePage);
    } else if (name.Equals(L"chDirBtn")) {
        BROWSEINFOW info{};
        info.hwndOwner = m_hWnd;
        info.lpszTitle = L"选择一个文件夹";
        info.ulFlags = BIF_NEWDIALOGSTYLE;
        if (PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info)) {
            wchar_t path[MAX_PATH] = {0};
            if (::SHGetPathFromIDListW(chosen, path) && m_installDirEdit) m_installDirEdit->SetText(path);
            ::CoTaskMemFree(chosen);
        }
    } else if (name.Equals(L"customeInstallBtn")) {
        StartInstallation(CustomInstallFolder(), m_createDSCb && m_createDSCb->IsChecked(),
                          m_createQSCb && m_createQSCb->IsChecked());
    } else if (name.Equals(L"openProduceBtn")) {
        const InstallRecords::SetupReport& report = m_recorder.Report();
        if (report.startupStyle == 2) InstallRecords::StartProduct(m_hWnd, report.startUrl, report.programPath);
        Close(1);
    } else if (name.Equals(L"closebtn")) {
        if (page != kFinishedPage && Ask(L"ExitTipWnd.xml") != 0) return;
        if (page == kInstallingPage) m_exitConfirmed = true;
        Close(1);
    } else {
        WindowImplBase::OnClick(msg);
    }
}

// ---------------------------------------------------------------- messages

LRESULT CMainWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    // No closing in the middle of an installation, unless the user confirmed it.
    if (uMsg == WM_CLOSE && m_mainTabLt && m_mainTabLt->GetCurSel() == kInstallingPage && !m_exitConfirmed) return 0;
    return CSkinFrame::HandleMessage(uMsg, wParam, lParam);
}

LRESULT CMainWnd::OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled)
{
    return WindowImplBase::OnSysCommand(uMsg, wParam, lParam, bHandled);
}

void CMainWnd::OnTimer(WPARAM, LPARAM) {}

LRESULT CMainWnd::HandleOtherMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled)
{
    if (uMsg == kInstallEventMessage) {
        OnInstallEvent(reinterpret_cast<InstallEvent*>(lParam));
    } else if (uMsg == kCheckNetMessage) {
        m_PaintManager.SendNotify(m_PaintManager.GetRoot(), L"checknet", wParam, 0, true);
    } else if (uMsg == WM_TIMER) {
        OnTimer(wParam, lParam);
    }
    return WindowImplBase::HandleOtherMessage(uMsg, wParam, lParam, bHandled);
}
