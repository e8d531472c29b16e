// installer-ui-driver: the installer's message and tip windows and the pages of its
// main window, shown for real from the skin this program carries (resource ZIPRES
// 147, as Installer.exe carries it), driven by SendInput and pictured.
//
//   installer-ui-driver ask LAYOUT STEP... [--text TEXT] [--caption CAPTION] [--language N]
//   installer-ui-driver shots OUTDIR REFDIR
//
// ask: shows LAYOUT through CMessageBoxWnd::ShowModal over an owner window of its
// own, plays the steps once the window has painted (click CONTROL, key Escape,
// key Return, alt+f4, sysclose, shot FILE.png), then prints "owner-disabled<TAB>0|1"
// (while the box was up), "after<TAB>STEP<TAB>open|closed" for each step and, when
// the call returns, "answer<TAB>N".
// shots: for each language (en-US, zh-CN, zh-TW) writes OUTDIR/MainWnd-pageN-CODE.png
// for the four pages and OUTDIR/LAYOUT-CODE.png for every message and tip window;
// for each visible text with Chinese characters it writes three references into
// REFDIR, the same window with that text empty, with its Chinese characters drawn as
// a character no font has, and with them as "?", and prints
// "text<TAB>SHOT<TAB>CONTROL<TAB>L<TAB>T<TAB>R<TAB>B<TAB>EMPTY<TAB>BOXES<TAB>QUESTION".
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "LanguageTable.h"
#include "MessageBoxWnd.h"
#include "SequenceControls.h"
#include "SkinFrame.h"
#include "UIGdiplus.h"
#include "UIShadow.h"
#include "UITabLayout.h"
#include "WindowDriver.h"

using namespace SkinUI;

namespace {

std::string Narrow(const std::wstring& text)
{
    if (text.empty()) return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

void Out(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int Fail(const std::string& why)
{
    std::fprintf(stderr, "installer-ui-driver: %s\n", why.c_str());
    std::fflush(stderr);
    return 2;
}

// Pumps messages until `done` holds; false when the time runs out first.
bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 30000)
{
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > limitMs) return false;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!CWindowManagerUI::TranslateMessage(&msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

// The object of a framework window of this thread (CWindowWnd keeps it in the user data).
WindowImplBase* WindowObject(HWND hwnd)
{
    CWindowWnd* w = reinterpret_cast<CWindowWnd*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return w ? static_cast<WindowImplBase*>(w) : nullptr;
}

bool Painted(HWND hwnd)
{
    WindowImplBase* w = hwnd && ::IsWindowVisible(hwnd) ? WindowObject(hwnd) : nullptr;
    return w && !w->GetManager().IsFirstPaintPending() && !::GetUpdateRect(hwnd, nullptr, FALSE);
}

bool Shot(HWND hwnd, const std::wstring& path)
{
    uidriver::Picture picture;
    return uidriver::Capture(hwnd, WindowObject(hwnd)->GetManager(), picture) && uidriver::WritePng(path, picture);
}

// ---------------------------------------------------------------- the marker key

// Input arrives in order: once the marker key's release has been taken from the
// queue, everything a step sent before it has been handled.
const WORD kMarkerKey = VK_F24;
bool g_markerSeen = false;
HHOOK g_hook = nullptr;

LRESULT CALLBACK WatchMessages(int code, WPARAM wParam, LPARAM lParam)
{
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    if (code >= 0 && wParam == PM_REMOVE && msg->message == WM_KEYUP && msg->wParam == kMarkerKey)
        g_markerSeen = true;
    return ::CallNextHookEx(g_hook, code, wParam, lParam);
}

void SendMarker()
{
    g_markerSeen = false;
    uidriver::SendKey(kMarkerKey, false);
    uidriver::SendKey(kMarkerKey, true);
}

// ---------------------------------------------------------------- ask

struct AskRun {
    std::wstring windowClass;
    std::vector<std::wstring> steps;
    HWND owner = nullptr;
    size_t next = 0;
    bool waitingForMarker = false;
    DWORD stepStart = 0;
    size_t quietSteps = 0;   // leading steps of our own, not reported
    bool ownerDisabled = false;
    bool failed = false;
};
AskRun* g_ask = nullptr;

// A click in the middle of a control of the box; false when it has none of that name.
bool ClickControl(HWND box, LPCWSTR name)
{
    CControlUI* c = WindowObject(box)->GetManager().FindControlByName(name);
    if (!c) return false;
    const RECT& rc = c->GetPos();
    const int x = (rc.left + rc.right) / 2;
    const int y = (rc.top + rc.bottom) / 2;
    uidriver::SendMouse(box, 0, x, y);
    uidriver::SendMouse(box, MOUSEEVENTF_LEFTDOWN, x, y);
    uidriver::SendMouse(box, MOUSEEVENTF_LEFTUP, x, y);
    return true;
}

// One step on the box; false when the step cannot be read.
bool PlayStep(HWND box, const std::wstring& step)
{
    ::SetForegroundWindow(box);
    if (step.rfind(L"click ", 0) == 0) {
        if (!ClickControl(box, step.substr(6).c_str())) return false;
    } else if (step == L"key Escape" || step == L"key Return") {
        const WORD vk = step == L"key Escape" ? VK_ESCAPE : VK_RETURN;
        uidriver::SendKey(vk, false);
        uidriver::SendKey(vk, true);
    } else if (step == L"alt+f4") {
        uidriver::SendKey(VK_MENU, false);
        uidriver::SendKey(VK_F4, false);
        uidriver::SendKey(VK_F4, true);
        uidriver::SendKey(VK_MENU, true);
    } else if (step == L"sysclose") {
        ::PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (step.rfind(L"shot ", 0) == 0) {
        if (!Shot(box, step.substr(5))) return false;
    } else {
        return false;
    }
    SendMarker();
    return true;
}

// Runs inside the box's modal loop: waits for the first paint, then plays one step
// at a time, each after the previous one's input has been handled.
void CALLBACK AskTick(HWND, UINT, UINT_PTR, DWORD)
{
    AskRun& run = *g_ask;
    HWND box = ::FindWindowW(run.windowClass.c_str(), nullptr);
    if (run.waitingForMarker) {
        // A step whose input never arrives ends the run rather than hanging it.
        if (!g_markerSeen && ::GetTickCount() - run.stepStart > 20000 && box) {
            run.failed = true;
            Out("step-lost\t" + Narrow(run.steps[run.next - 1]));
            ::PostMessageW(box, WM_CLOSE, 0, 0);
        }
        if (!g_markerSeen) return;
        run.waitingForMarker = false;
        if (run.next > run.quietSteps)
            Out("after\t" + Narrow(run.steps[run.next - 1]) + "\t" + (box && ::IsWindow(box) ? "open" : "closed"));
    }
    if (!box || !Painted(box) || run.next >= run.steps.size()) return;
    if (!::IsWindowEnabled(run.owner)) run.ownerDisabled = true;
    const std::wstring& step = run.steps[run.next++];
    if (!PlayStep(box, step)) {
        run.failed = true;
        Out("bad-step\t" + Narrow(step));
        ::PostMessageW(box, WM_CLOSE, 0, 0);
        return;
    }
    run.waitingForMarker = true;
    run.stepStart = ::GetTickCount();
}

HWND MakeOwner()
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"InstallerUiDriverOwner";
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH));
    ::RegisterClassW(&wc);
    HWND owner = ::CreateWindowExW(0, wc.lpszClassName, L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480,
                                   nullptr, nullptr, wc.hInstance, nullptr);
    PumpUntil([] { return true; }, 0);
    return owner;
}

int Ask(const std::vector<std::wstring>& args)
{
    if (args.empty()) return Fail("ask: no layout");
    AskRun run;
    run.windowClass = InstallerFrameRecord(args[0].c_str()).windowClass.GetData();
    const wchar_t* text = nullptr;
    const wchar_t* caption = nullptr;
    int language = 0;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == L"--text" && i + 1 < args.size()) text = args[++i].c_str();
        else if (args[i] == L"--caption" && i + 1 < args.size()) caption = args[++i].c_str();
        else if (args[i] == L"--language" && i + 1 < args.size()) language = _wtoi(args[++i].c_str());
        else run.steps.push_back(args[i]);
    }
    // The box is first clicked on its text (which does nothing), as a person would
    // click into it: a click that only activates a window may be eaten under Wine.
    run.steps.insert(run.steps.begin(), L"click textLbl");
    run.quietSteps = 1;
    run.owner = MakeOwner();
    g_ask = &run;
    g_hook = ::SetWindowsHookExW(WH_GETMESSAGE, WatchMessages, nullptr, ::GetCurrentThreadId());
    LanguageTable::Load(language);
    const UINT_PTR ticker = ::SetTimer(nullptr, 0, 20, AskTick);
    const int answer = CMessageBoxWnd::ShowModal(args[0].c_str(), run.owner, text, caption);
    ::KillTimer(nullptr, ticker);
    // The last step's marker may still be queued.
    PumpUntil([&] { return !run.waitingForMarker || g_markerSeen; }, 5000);
    if (run.waitingForMarker) AskTick(nullptr, 0, 0, 0);
    ::UnhookWindowsHookEx(g_hook);
    Out(std::string("owner-disabled\t") + (run.ownerDisabled ? "1" : "0"));
    Out(std::string("owner-enabled-after\t") + (::IsWindowEnabled(run.owner) ? "1" : "0"));
    Out("answer\t" + std::to_string(answer));
    ::DestroyWindow(run.owner);
    return run.failed || run.next < run.steps.size() ? 1 : 0;
}


// ---------------------------------------------------------------- shots

const wchar_t kProduct[] = L"Tallowmere Data Recovery";

bool HasChinese(const std::wstring& s)
{
    for (wchar_t c : s) {
        if (c >= 0x2E80) return true;
    }
    return false;
}

// The text as it would come out when its Chinese characters are missing: every one
// drawn as `stand` (a character no font has gives the font's box).
std::wstring Replaced(const std::wstring& s, wchar_t stand, wchar_t from)
{
    std::wstring out = s;
    for (wchar_t& c : out) {
        if (c >= from) c = stand;
    }
    return out;
}

struct Texted {
    CControlUI* control;
    std::wstring text;   // with its tokens replaced
};

CControlUI* CALLBACK CollectTexts(CControlUI* c, LPVOID data)
{
    if (!c->GetInterface(L"Label") || !c->IsVisible()) return nullptr;
    CUIString text = c->GetText();
    CWindowManagerUI::ProcessMultiLanguageTokens(text);
    const RECT& rc = c->GetPos();
    if (HasChinese(text.GetData()) && rc.right > rc.left && rc.bottom > rc.top)
        static_cast<std::vector<Texted>*>(data)->push_back(Texted{c, text.GetData()});
    return nullptr;
}

bool WaitPainted(HWND hwnd)
{
    ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    return PumpUntil([hwnd] { return Painted(hwnd); });
}

struct ShotJob {
    std::wstring outDir;
    std::wstring refDir;
    bool ok = true;
};

// The window's picture as OUTDIR/NAME.png and, for each of its Chinese texts, the
// three references.
void ShootWindow(ShotJob& job, HWND hwnd, const std::wstring& name)
{
    const std::wstring shot = job.outDir + L"\\" + name + L".png";
    if (!WaitPainted(hwnd) || !Shot(hwnd, shot)) {
        job.ok = false;
        Out("shot-failed\t" + Narrow(name));
        return;
    }
    Out("shot\t" + Narrow(shot));
    std::vector<Texted> texts;
    WindowObject(hwnd)->GetManager().GetRoot()->FindControl(CollectTexts, &texts, UIFIND_VISIBLE);
    for (const Texted& t : texts) {
        const std::wstring base = job.refDir + L"\\" + name + L"-" + t.control->GetName().GetData();
        const struct {
            const wchar_t* kind;
            std::wstring text;
        } refs[] = {
            {L"empty", L""}, {L"boxes", Replaced(t.text, 0xE000, 0x2E80)}, {L"question", Replaced(t.text, L'?', 0x80)}};
        std::string line = "text\t" + Narrow(shot) + "\t" + Narrow(t.control->GetName().GetData());
        const RECT& rc = t.control->GetPos();
        for (LONG v : {rc.left, rc.top, rc.right, rc.bottom}) line += "\t" + std::to_string(v);
        for (const auto& r : refs) {
            const std::wstring file = base + L"-" + r.kind + L".png";
            t.control->SetText(r.text.c_str());
            if (!WaitPainted(hwnd) || !Shot(hwnd, file)) job.ok = false;
            line += "\t" + Narrow(file);
        }
        t.control->SetText(t.text.c_str());
        Out(line);
    }
    WaitPainted(hwnd);
}

// The main window as the installer builds it (with the frame-sequence controls); its
// pages are shown with the looks the main window gives them.
class PageWindow : public CSkinFrame {
public:
    PageWindow() : CSkinFrame(InstallerFrameRecord(L"MainWnd.xml")) {}
    CControlUI* CreateControl(LPCWSTR pstrClass) override { return CreateSequenceControl(pstrClass); }

    void ShowPage(int page)
    {
        CWindowManagerUI& m = m_PaintManager;
        static const wchar_t* const kBackgrounds[] = {L"res\\mainWnd\\bg1.png", L"res\\mainWnd\\bg2.png",
                                                       L"res\\mainWnd\\bg3.png", L"res\\mainWnd\\bg4.png"};
        if (CTabLayoutUI* tabs = Tab(L"mainTabLt")) tabs->SelectItem(page, false);
        if (CTabLayoutUI* title = Tab(L"titleTabLt")) title->SelectItem(page <= 1 ? 1 : page == 3 ? 2 : 0, false);
        if (CControlUI* win = m.FindControlByName(L"winCtn")) win->SetBkImage(kBackgrounds[page]);
        if (CControlUI* group = m.FindControlByName(L"titleGrpCtn")) group->SetVisible(page != 2);
        if (CControlUI* back = m.FindControlByName(L"backBtn")) back->SetVisible(page == 1);
        if (CControlUI* name = m.FindControlByName(L"softNameLbl")) name->SetVisible(page == 3);
    }

private:
    CTabLayoutUI* Tab(LPCWSTR name)
    {
        CControlUI* c = m_PaintManager.FindControlByName(name);
        return c ? static_cast<CTabLayoutUI*>(c->GetInterface(L"TabLayout")) : nullptr;
    }
};

struct BoxShot {
    ShotJob* job;
    std::wstring windowClass;
    std::wstring name;
    bool busy = false;
};
BoxShot* g_box = nullptr;

void CALLBACK BoxTick(HWND, UINT, UINT_PTR, DWORD)
{
    BoxShot& b = *g_box;
    HWND box = ::FindWindowW(b.windowClass.c_str(), nullptr);
    if (b.busy || !box || !Painted(box)) return;
    b.busy = true;
    ShootWindow(*b.job, box, b.name);
    ::PostMessageW(box, WM_CLOSE, 0, 0);
}

int Shots(const std::vector<std::wstring>& args)
{
    if (args.size() != 2) return Fail("shots: OUTDIR REFDIR");
    ShotJob job;
    job.outDir = args[0];
    job.refDir = args[1];
    const wchar_t* const kCodes[] = {L"en-US", L"zh-CN", L"zh-TW"};
    for (int lang = 0; lang < LanguageTable::kCount; ++lang) {
        LanguageTable::Load(lang);
        const std::wstring code = kCodes[lang];
        {
            PageWindow main;
            if (!main.Create(nullptr, kProduct, 0x10CF0000, 0)) return Fail("no main window");
            main.CenterWindow();
            main.ShowWindow(true);
            for (int page = 0; page < 4; ++page) {
                main.ShowPage(page);
                ShootWindow(job, main.GetHWND(), L"MainWnd-page" + std::to_wstring(page) + L"-" + code);
            }
            ::DestroyWindow(main.GetHWND());
            PumpUntil([] { return true; }, 0);
        }
        const std::wstring running = LanguageTable::Text(101) + kProduct + LanguageTable::Text(102);
        const struct {
            const wchar_t* layout;
            std::wstring text;
            bool filled;
        } boxes[] = {
            {L"MessageBox1Wnd.xml", running, true},
            {L"MessageBox2Wnd.xml", LanguageTable::Text(104), true},
            {L"InstalledPathTipWnd.xml", L"", false},
            {L"NetworkTipWnd.xml", L"", false},
            {L"ExitTipWnd.xml", L"", false},
        };
        for (const auto& b : boxes) {
            BoxShot shot;
            shot.job = &job;
            shot.windowClass = InstallerFrameRecord(b.layout).windowClass.GetData();
            shot.name = shot.windowClass + L"-" + code;
            g_box = &shot;
            const UINT_PTR ticker = ::SetTimer(nullptr, 0, 20, BoxTick);
            const std::wstring caption = LanguageTable::Text(100);
            CMessageBoxWnd::ShowModal(b.layout, nullptr, b.filled ? b.text.c_str() : nullptr,
                                      b.filled ? caption.c_str() : nullptr);
            ::KillTimer(nullptr, ticker);
            if (!shot.busy) {
                job.ok = false;
                Out("shot-failed\t" + Narrow(shot.name));
            }
        }
    }
    return job.ok ? 0 : 1;
}

// The skin this program carries, given to the framework as Installer.exe's window
// gives it, so that the language table can be read before the first window opens.
bool UseCarriedSkin()
{
    HMODULE self = ::GetModuleHandleW(nullptr);
    HRSRC res = ::FindResourceW(self, MAKEINTRESOURCEW(147), L"ZIPRES");
    HGLOBAL global = res ? ::LoadResource(self, res) : nullptr;
    if (!global) return false;
    CWindowManagerUI::SetResourceArchive7z(true);
    CWindowManagerUI::SetResourceZipBuffer(::LockResource(global), ::SizeofResource(self, res));
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    CUIGdiplus::Owner gdiplus;
    CWindowManagerUI::SetInstance(::GetModuleHandleW(nullptr));
    CWndShadow::Initialize(::GetModuleHandleW(nullptr));
    if (!UseCarriedSkin()) return Fail("no skin resource");
    std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.empty()) return Fail("usage: ask LAYOUT STEP... | shots OUTDIR REFDIR");
    const std::wstring mode = args[0];
    args.erase(args.begin());
    if (mode == L"ask") return Ask(args);
    if (mode == L"shots") return Shots(args);
    return Fail("unknown mode");
}
