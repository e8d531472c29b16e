// skin-render: builds a window from a layout of a skin (folder, .zip or .7z),
// shows it, and prints what a check needs: the notifications that reach the
// window, the control tree with its positions, and a PNG of what it shows.
// Input scripts are played through SendInput, the real input path.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "UIBase.h"
#include "UIContainer.h"
#include "UIProgress.h"
#include "UIGdiplus.h"
#include "UIListElements.h"
#include "UIRender.h"
#include "UIScrollBar.h"
#include "UIShadow.h"
#include "UIWebBrowser.h"
#include "ProbeControl.h"
#include "WindowDriver.h"

using namespace SkinUI;

namespace {

const int kExitNoRoot = 1;
const int kExitBadArgument = 2;

std::string Narrow(LPCWSTR text)
{
    if (!text || !*text) return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    return out;
}

void Out(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Fail(int code, const std::string& why)
{
    std::fprintf(stderr, "skin-render: %s\n", why.c_str());
    std::fflush(stderr);
    ::ExitProcess(static_cast<UINT>(code));
}

void NoRoot() { Fail(kExitNoRoot, "the layout builds no root"); }

struct Options {
    std::wstring skin;
    std::wstring layout;
    int width = 0;
    int height = 0;
    bool notify = false;
    bool tree = false;
    bool browser = false;
    std::wstring script;
    std::wstring out;
    // --shadow IMAGE,extent left,top,right,bottom,corner left,top,right,bottom
    std::wstring shadowImage;
    int shadowNumbers[8] = {0, 0, 0, 0, 0, 0, 0, 0};
};

std::string VariantText(const VARIANT* v)
{
    if (!v) return std::string();
    if (v->vt == VT_BSTR) return Narrow(v->bstrVal);
    if (v->vt == (VT_BSTR | VT_BYREF) && v->pbstrVal) return Narrow(*v->pbstrVal);
    if (v->vt == VT_I4 || v->vt == VT_INT) return std::to_string(v->lVal);
    if (v->vt == VT_UI4 || v->vt == VT_UINT) return std::to_string(v->ulVal);
    return std::string();
}

// Prints what a web browser control hands on to its handler (--browser).
class BrowserEventPrinter : public CWebBrowserEventHandler {
public:
    explicit BrowserEventPrinter(CControlUI* c) : m_name(Narrow(c->GetName())) {}
    void BeforeNavigate2(IDispatch*, VARIANT* url, VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT_BOOL*) override
    {
        Out("browser\tbeforenavigate2\t" + m_name + "\t" + VariantText(url));
    }
    void NavigateError(IDispatch*, VARIANT* url, VARIANT*, VARIANT* status, VARIANT_BOOL*) override
    {
        Out("browser\tnavigateerror\t" + m_name + "\t" + VariantText(url) + "\t" + VariantText(status));
    }
    void NavigateComplete2(IDispatch*, VARIANT* url) override
    {
        Out("browser\tnavigatecomplete2\t" + m_name + "\t" + VariantText(url));
    }
    void DocumentComplete(IDispatch*, VARIANT* url) override
    {
        Out("browser\tdocumentcomplete\t" + m_name + "\t" + VariantText(url));
    }

private:
    std::string m_name;
};

class RenderWindow : public WindowImplBase {
public:
    RenderWindow(const Options& o, int type, const std::wstring& zip) : m_opt(o), m_type(type), m_zip(zip) {}
    LPCWSTR GetWindowClassName() const override { return L"SkinRenderWnd"; }
    CUIString GetSkinFolder() override { return CUIString(); }
    CUIString GetSkinFile() override { return CUIString(m_opt.layout.c_str()); }
    int GetResourceType() const override { return m_type; }
    CUIString GetZipFileName() const override { return CUIString(m_zip.c_str()); }
    CControlUI* CreateControl(LPCWSTR pstrClass) override { return CreateProbeControl(pstrClass); }
    void OnFinalMessage(HWND hWnd) override
    {
        WindowImplBase::OnFinalMessage(hWnd);
        m_closed = true;
    }
    void Notify(UINotify& msg) override
    {
        if (m_opt.notify) {
            char buf[96];
            std::snprintf(buf, sizeof(buf), "\t%lu\t%ld", static_cast<unsigned long>(msg.wParam),
                          static_cast<long>(msg.lParam));
            Out("notify\t" + Narrow(msg.sType) + "\t" + (msg.pSender ? Narrow(msg.pSender->GetName()) : "") + buf);
            // A value control's new value follows its change.
            CProgressUI* bar = msg.pSender ? static_cast<CProgressUI*>(msg.pSender->GetInterface(L"Progress")) : nullptr;
            if (bar && msg.sType.Equals(L"valuechanged"))
                Out("value\t" + Narrow(msg.pSender->GetName()) + "\t" + std::to_string(bar->GetValue()));
        }
        // "testhide" = a notification type: the control hides itself when it
        // sends one, as a listener that moves the focus away would.
        if (msg.pSender) {
            LPCWSTR hideOn = msg.pSender->GetCustomAttribute(L"testhide");
            if (hideOn && msg.sType.Equals(hideOn)) msg.pSender->SetVisible(false);
        }
        if (msg.sType.Equals(L"windowinit")) StartTestTimers();
        if (msg.sType.Equals(L"timer")) CountTestTimer(msg);
        WindowImplBase::Notify(msg);
    }
    bool Closed() const { return m_closed; }
    void InitWindow() override
    {
        if (!m_opt.browser || !m_PaintManager.GetRoot()) return;
        std::vector<CControlUI*> found;
        m_PaintManager.GetRoot()->FindControl(CollectBrowsers, &found, 0);
        for (CControlUI* c : found) {
            m_printers.emplace_back(new BrowserEventPrinter(c));
            static_cast<CWebBrowserUI*>(c->GetInterface(L"WebBrowser"))->SetWebBrowserEventHandler(m_printers.back().get());
        }
    }
    void SetEscapeCloses(bool closes) { m_escapeCloses = closes; }
    LRESULT OnDefaultKey(WPARAM wParam) override
    {
        if (wParam == VK_ESCAPE && !m_escapeCloses) return 0;
        return WindowImplBase::OnDefaultKey(wParam);
    }

private:
    // A control with the custom attribute "testtimer" = "id,elapse,ticks" gets
    // that timer at window init; it is killed after the given number of ticks.
    struct TestTimer {
        CControlUI* control;
        UINT id;
        int ticksLeft;
    };
    static CControlUI* CALLBACK CollectBrowsers(CControlUI* c, LPVOID data)
    {
        if (c->GetInterface(L"WebBrowser")) static_cast<std::vector<CControlUI*>*>(data)->push_back(c);
        return nullptr;
    }
    static CControlUI* CALLBACK CollectTimers(CControlUI* c, LPVOID data)
    {
        if (c->GetCustomAttribute(L"testtimer")) static_cast<std::vector<CControlUI*>*>(data)->push_back(c);
        return nullptr;
    }
    static CControlUI* CALLBACK CollectColumns(CControlUI* c, LPVOID data)
    {
        if (c->GetCustomAttribute(L"testcolumns")) static_cast<std::vector<CControlUI*>*>(data)->push_back(c);
        return nullptr;
    }
    // A list text element with the custom attribute "testcolumns" = "a|b|..."
    // gets those column texts, as a program would give them.
    void FillTestColumns()
    {
        std::vector<CControlUI*> found;
        if (m_PaintManager.GetRoot()) m_PaintManager.GetRoot()->FindControl(CollectColumns, &found, 0);
        for (CControlUI* c : found) {
            auto* text = static_cast<CListTextElementUI*>(c->GetInterface(L"ListTextElement"));
            if (!text) continue;
            const std::wstring all = c->GetCustomAttribute(L"testcolumns");
            size_t start = 0;
            for (int column = 0; start <= all.size(); ++column) {
                size_t bar = all.find(L'|', start);
                if (bar == std::wstring::npos) bar = all.size();
                text->SetText(column, all.substr(start, bar - start).c_str());
                start = bar + 1;
            }
        }
    }
    void StartTestTimers()
    {
        FillTestColumns();
        std::vector<CControlUI*> found;
        if (m_PaintManager.GetRoot()) m_PaintManager.GetRoot()->FindControl(CollectTimers, &found, 0);
        for (CControlUI* c : found) {
            int v[3];
            ReadNumberList(c->GetCustomAttribute(L"testtimer"), v, 3);
            if (m_PaintManager.SetTimer(c, static_cast<UINT>(v[0]), static_cast<UINT>(v[1])))
                m_timers.push_back(TestTimer{c, static_cast<UINT>(v[0]), v[2]});
        }
    }
    void CountTestTimer(UINotify& msg)
    {
        for (TestTimer& t : m_timers) {
            if (t.control != msg.pSender || t.id != msg.wParam || t.ticksLeft <= 0) continue;
            if (--t.ticksLeft == 0) m_PaintManager.KillTimer(t.control, t.id);
        }
    }

    const Options& m_opt;
    int m_type;
    std::wstring m_zip;
    bool m_closed = false;
    bool m_escapeCloses = true;
    std::vector<TestTimer> m_timers;
    std::vector<std::unique_ptr<BrowserEventPrinter>> m_printers;
};

RenderWindow* g_window = nullptr;
CWndShadow* g_shadow = nullptr;

void PrintWindowRect(const char* what, HWND hwnd)
{
    RECT rc = {0, 0, 0, 0};
    if (hwnd) ::GetWindowRect(hwnd, &rc);
    char buf[128];
    std::snprintf(buf, sizeof(buf), "\t%d\t%ld\t%ld\t%ld\t%ld", hwnd && ::IsWindowVisible(hwnd) ? 1 : 0, rc.left,
                  rc.top, rc.right, rc.bottom);
    Out(std::string(what) + buf);
}

bool EndsWithNoCase(const std::wstring& s, LPCWSTR tail)
{
    const size_t n = wcslen(tail);
    return s.size() >= n && _wcsicmp(s.c_str() + s.size() - n, tail) == 0;
}

std::wstring FullPath(const std::wstring& p)
{
    wchar_t buf[MAX_PATH * 2];
    const DWORD n = ::GetFullPathNameW(p.c_str(), MAX_PATH * 2, buf, nullptr);
    return (n > 0 && n < MAX_PATH * 2) ? std::wstring(buf) : p;
}

// Pumps until nothing but timer ticks happens for a while (a held scroll-bar
// button ticks for ever); scripts wait for timers with "wait".
// The marker key that follows every scripted step: input is delivered in order,
// so once it arrives everything the step sent has been handled.
const WORD kMarkerKey = VK_F24;
bool g_markerSeen = false;

void PumpUntilIdle(CWindowManagerUI& manager, DWORD quietMs = 150, DWORD limitMs = 30000)
{
    const DWORD start = ::GetTickCount();
    DWORD lastActivity = start;
    for (;;) {
        MSG msg;
        bool any = false;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return;
            if ((msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) && msg.wParam == kMarkerKey) {
                if (msg.message == WM_KEYUP) g_markerSeen = true;
                continue;
            }
            if (msg.message != WM_TIMER) any = true;
            if (!CWindowManagerUI::TranslateMessage(&msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
        const DWORD now = ::GetTickCount();
        if (any || manager.IsFirstPaintPending() || !g_markerSeen) lastActivity = now;
        if (g_window->Closed()) return;
        if (now - lastActivity >= quietMs) return;
        if (now - start >= limitMs) return;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void PrintTree(CControlUI* c, int depth)
{
    const RECT& rc = c->GetPos();
    char buf[128];
    std::snprintf(buf, sizeof(buf), "\t%ld\t%ld\t%ld\t%ld\t%d", rc.left, rc.top, rc.right, rc.bottom,
                  c->IsVisible() ? 1 : 0);
    Out(std::to_string(depth) + "\t" + Narrow(c->GetClass()) + "\t" + Narrow(c->GetName()) + buf);
    if (CControlUI* cover = c->GetOverlay()) PrintTree(cover, depth + 1);
    // A list's children as they stand: its header, then its body with the items
    // (controls built on the list, such as the tree view, list their items only).
    IListUI* list = static_cast<IListUI*>(c->GetInterface(L"IList"));
    if (list && wcscmp(c->GetClass(), L"List") == 0) {
        PrintTree(list->GetHeader(), depth + 1);
        PrintTree(list->GetList(), depth + 1);
        return;
    }
    IContainerUI* container = static_cast<IContainerUI*>(c->GetInterface(L"IContainer"));
    if (!container) return;
    for (int i = 0; i < container->GetCount(); ++i) PrintTree(container->GetItemAt(i), depth + 1);
    CContainerUI* box = static_cast<CContainerUI*>(c->GetInterface(L"Container"));
    if (!box) return;
    if (CScrollBarUI* v = box->GetVerticalScrollBar()) PrintTree(v, depth + 1);
    if (CScrollBarUI* h = box->GetHorizontalScrollBar()) PrintTree(h, depth + 1);
}

bool Shot(const std::wstring& path)
{
    uidriver::Picture picture;
    return uidriver::Capture(g_window->GetHWND(), g_window->GetManager(), picture) &&
           uidriver::WritePng(path, picture);
}

// ---------------------------------------------------------------- input

void SendMouse(DWORD flags, int x, int y, DWORD data = 0)
{
    uidriver::SendMouse(g_window->GetHWND(), flags, x, y, data);
}

using uidriver::SendKey;

void SendChar(wchar_t ch)
{
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wScan = in[1].ki.wScan = ch;
    in[0].ki.dwFlags = KEYEVENTF_UNICODE;
    in[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    ::SendInput(2, in, sizeof(INPUT));
}

bool KeyByName(const std::wstring& name, std::vector<WORD>& keys)
{
    static const struct {
        LPCWSTR name;
        WORD vk;
    } kNames[] = {{L"Tab", VK_TAB},       {L"Return", VK_RETURN}, {L"Escape", VK_ESCAPE}, {L"Space", VK_SPACE},
                  {L"Back", VK_BACK},     {L"Delete", VK_DELETE}, {L"Up", VK_UP},         {L"Down", VK_DOWN},
                  {L"Left", VK_LEFT},     {L"Right", VK_RIGHT},   {L"Home", VK_HOME},     {L"End", VK_END},
                  {L"PageUp", VK_PRIOR},  {L"PageDown", VK_NEXT}, {L"F4", VK_F4}};
    std::wstring rest = name;
    if (rest.rfind(L"Shift+", 0) == 0) {
        keys.push_back(VK_SHIFT);
        rest = rest.substr(6);
    } else if (rest.rfind(L"Alt+", 0) == 0) {
        keys.push_back(VK_MENU);
        rest = rest.substr(4);
    }
    for (const auto& k : kNames) {
        if (rest == k.name) {
            keys.push_back(k.vk);
            return true;
        }
    }
    if (rest.size() == 1) {
        const SHORT v = ::VkKeyScanW(rest[0]);
        if (v == -1) return false;
        if (v & 0x100) keys.push_back(VK_SHIFT);
        keys.push_back(static_cast<WORD>(v & 0xFF));
        return true;
    }
    return false;
}

std::vector<std::wstring> Split(const std::wstring& line)
{
    std::vector<std::wstring> parts;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
        if (i >= line.size()) break;
        size_t j = i;
        while (j < line.size() && line[j] != L' ' && line[j] != L'\t') ++j;
        parts.push_back(line.substr(i, j - i));
        i = j;
    }
    return parts;
}

bool ParseInt(const std::wstring& s, int& v)
{
    if (s.empty()) return false;
    wchar_t* end = nullptr;
    const long n = wcstol(s.c_str(), &end, 10);
    if (*end != L'\0') return false;
    v = static_cast<int>(n);
    return true;
}

BOOL CALLBACK PrintChildWindow(HWND child, LPARAM)
{
    wchar_t cls[64] = L"";
    ::GetClassNameW(child, cls, 64);
    Out("child\t" + Narrow(cls) + "\t" + (::IsWindowVisible(child) ? "1" : "0"));
    return TRUE;
}

// Runs one script line; false for a line it cannot read.
bool RunStep(const std::wstring& raw)
{
    std::wstring line = raw;
    while (!line.empty() && (line.back() == L'\r' || line.back() == L' ')) line.pop_back();
    std::vector<std::wstring> p = Split(line);
    if (p.empty() || p[0][0] == L'#') return true;
    const std::wstring& cmd = p[0];
    CWindowManagerUI& m = g_window->GetManager();
    int x = 0;
    int y = 0;
    auto xy = [&](size_t n) { return p.size() == n && ParseInt(p[1], x) && ParseInt(p[2], y); };
    // Steps on the window itself act at once; a hidden window may not get the
    // marker key, so they do without it.
    bool marker = true;
    if (cmd == L"move" && xy(3)) {
        SendMouse(0, x, y);
    } else if (cmd == L"down" && xy(3)) {
        SendMouse(MOUSEEVENTF_LEFTDOWN, x, y);
    } else if (cmd == L"up" && xy(3)) {
        SendMouse(MOUSEEVENTF_LEFTUP, x, y);
    } else if (cmd == L"click" && xy(3)) {
        SendMouse(MOUSEEVENTF_LEFTDOWN, x, y);
        SendMouse(MOUSEEVENTF_LEFTUP, x, y);
    } else if (cmd == L"dblclick" && xy(3)) {
        for (int i = 0; i < 2; ++i) {
            SendMouse(MOUSEEVENTF_LEFTDOWN, x, y);
            SendMouse(MOUSEEVENTF_LEFTUP, x, y);
        }
    } else if (cmd == L"rclick" && xy(3)) {
        SendMouse(MOUSEEVENTF_RIGHTDOWN, x, y);
        SendMouse(MOUSEEVENTF_RIGHTUP, x, y);
    } else if (cmd == L"wheel" && p.size() == 4 && ParseInt(p[1], x) && ParseInt(p[2], y)) {
        int delta = 0;
        if (!ParseInt(p[3], delta)) return false;
        SendMouse(0, x, y);
        SendMouse(MOUSEEVENTF_WHEEL, x, y, static_cast<DWORD>(delta));
    } else if (cmd == L"key" && p.size() == 2) {
        std::vector<WORD> keys;
        if (!KeyByName(p[1], keys)) return false;
        for (WORD k : keys) SendKey(k, false);
        for (size_t i = keys.size(); i-- > 0;) SendKey(keys[i], true);
    } else if (cmd == L"text" && p.size() >= 2) {
        const std::wstring text = line.substr(line.find(L"text") + 5);
        for (wchar_t ch : text) SendChar(ch);
    } else if (cmd == L"wait" && p.size() == 2 && ParseInt(p[1], x) && x >= 0) {
        const DWORD until = ::GetTickCount() + static_cast<DWORD>(x);
        while (static_cast<LONG>(until - ::GetTickCount()) > 0) PumpUntilIdle(m, 10, until - ::GetTickCount());
    } else if (cmd == L"attr" && (p.size() == 3 || p.size() == 4)) {
        // An attribute given to a named control, as a layout would (an empty value
        // when none is given): a page selected, a text replaced.
        CControlUI* c = m.FindControlByName(p[1].c_str());
        if (!c) return false;
        c->SetAttribute(p[2].c_str(), p.size() == 4 ? p[3].c_str() : L"");
    } else if (cmd == L"query" && p.size() == 2) {
        // A control's text as its owner reads it, and its native child window:
        // class, style, text and password character ("-" without one).
        CControlUI* c = m.FindControlByName(p[1].c_str());
        if (!c) return false;
        std::string line = "query\t" + Narrow(p[1].c_str()) + "\t" + Narrow(c->GetText().GetData());
        if (HWND child = c->GetChildWindow()) {
            wchar_t cls[64] = L"";
            ::GetClassNameW(child, cls, 64);
            std::vector<wchar_t> text(static_cast<size_t>(::GetWindowTextLengthW(child)) + 1, L'\0');
            ::GetWindowTextW(child, text.data(), static_cast<int>(text.size()));
            char buf[64];
            std::snprintf(buf, sizeof(buf), "\t%08lx\t", static_cast<unsigned long>(::GetWindowLongW(child, GWL_STYLE)));
            line += "\t" + Narrow(cls) + buf + Narrow(text.data()) + "\t" +
                    std::to_string(static_cast<unsigned>(::SendMessageW(child, EM_GETPASSWORDCHAR, 0, 0)));
        } else {
            line += "\t-";
        }
        Out(line);
    } else if (cmd == L"delete" && p.size() == 2) {
        // The named control taken out of its container and deleted at once.
        CControlUI* c = m.FindControlByName(p[1].c_str());
        if (!c || !c->GetParent()) return false;
        IContainerUI* box = static_cast<IContainerUI*>(c->GetParent()->GetInterface(L"IContainer"));
        if (!box || !box->Remove(c, true)) return false;
        c->Delete();
    } else if (cmd == L"windows" && p.size() == 1) {
        ::EnumChildWindows(g_window->GetHWND(), PrintChildWindow, 0);
    } else if (cmd == L"gettext" && p.size() == 2) {
        // A named control's text as it answers it.
        CControlUI* c = m.FindControlByName(p[1].c_str());
        if (!c) return false;
        std::string text;
        for (char ch : Narrow(c->GetText())) text += ch == '\r' ? std::string("\\r") : ch == '\n' ? std::string("\\n") : std::string(1, ch);
        Out("text\t" + Narrow(p[1].c_str()) + "\t" + text);
        marker = false;
    } else if (cmd == L"timer" && p.size() == 3 && ParseInt(p[2], x) && x >= 0) {
        // A control timer's tick now, through the window's own WM_TIMER.
        CControlUI* c = m.FindControlByName(p[1].c_str());
        if (!c) return false;
        const UINT id = m.GetWindowTimerId(c, static_cast<UINT>(x));
        if (id == 0) Out("notimer\t" + Narrow(p[1].c_str()) + "\t" + std::to_string(x));
        else ::PostMessageW(g_window->GetHWND(), WM_TIMER, id, 0);
        marker = false;
    } else if ((cmd == L"childwindow" || cmd == L"focuswindow") && p.size() == 2) {
        // Whether a control's native child window lives; "focuswindow" first gives
        // the Windows focus to the window itself and looks before anything posted runs.
        CControlUI* c = m.FindControlByName(p[1].c_str());
        if (!c) return false;
        HWND child = c->GetChildWindow();
        if (cmd == L"focuswindow") ::SetFocus(g_window->GetHWND());
        const bool live = child && ::IsWindow(child);
        Out("child\t" + Narrow(p[1].c_str()) + "\t" + (live ? "1" : "0") + "\t" +
            (live && ::IsWindowVisible(child) ? "1" : "0"));
        marker = false;
    } else if (cmd == L"escape" && p.size() == 2 && (p[1] == L"keep" || p[1] == L"close")) {
        // Whether Escape closes the window (it does unless kept: a picker takes it).
        g_window->SetEscapeCloses(p[1] == L"close");
        marker = false;
    } else if (cmd == L"tree" && p.size() == 1) {
        if (m.GetRoot()) PrintTree(m.GetRoot(), 0);
    } else if (cmd == L"shot" && p.size() == 2) {
        if (!Shot(p[1])) Fail(kExitBadArgument, "cannot write " + Narrow(p[1].c_str()));
    } else if (cmd == L"movewindow" && xy(3)) {
        ::SetWindowPos(g_window->GetHWND(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        marker = false;
    } else if (cmd == L"sizewindow" && xy(3) && x > 0 && y > 0) {
        ::SetWindowPos(g_window->GetHWND(), nullptr, 0, 0, x, y, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        marker = false;
    } else if (cmd == L"hidewindow" && p.size() == 1) {
        ::ShowWindow(g_window->GetHWND(), SW_HIDE);
        marker = false;
    } else if (cmd == L"showwindow" && p.size() == 1) {
        ::ShowWindow(g_window->GetHWND(), SW_SHOWNOACTIVATE);
        marker = false;
    } else if (cmd == L"shadow" && p.size() == 1) {
        marker = false;
        PrintWindowRect("window", g_window->GetHWND());
        PrintWindowRect("shadow", g_shadow ? g_shadow->GetHWND() : nullptr);
    } else if (cmd == L"hittest" && xy(3)) {
        // The frame's answer for a client point (a check of the self-drawn frame).
        POINT pt = {x, y};
        ::ClientToScreen(g_window->GetHWND(), &pt);
        const LRESULT ht = ::SendMessageW(g_window->GetHWND(), WM_NCHITTEST, 0, MAKELPARAM(pt.x, pt.y));
        Out("hittest\t" + std::to_string(x) + "\t" + std::to_string(y) + "\t" + std::to_string(ht));
    } else {
        return false;
    }
    if (marker) {
        g_markerSeen = false;
        SendKey(kMarkerKey, false);
        SendKey(kMarkerKey, true);
    }
    PumpUntilIdle(m);
    return true;
}

bool ReadScript(const std::wstring& path, std::vector<std::wstring>& lines)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return false;
    std::string bytes;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) bytes.append(buf, n);
    std::fclose(f);
    size_t start = 0;
    while (start <= bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string one = bytes.substr(start, end - start);
        std::wstring w(one.size() + 1, L'\0');
        const int got = ::MultiByteToWideChar(CP_UTF8, 0, one.c_str(), static_cast<int>(one.size()), &w[0],
                                              static_cast<int>(w.size()));
        w.resize(static_cast<size_t>(got > 0 ? got : 0));
        lines.push_back(w);
        start = end + 1;
    }
    return true;
}

void Usage()
{
    Fail(kExitBadArgument,
         "usage: skin-render SKIN LAYOUT [--size W,H] [--notify] [--input SCRIPT] [--tree] [--out FILE.png] "
         "[--shadow IMAGE,EL,ET,ER,EB,CL,CT,CR,CB] [--browser]");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    Options o;
    std::vector<std::wstring> positional;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--size" && i + 1 < argc) {
            int v[2];
            LPCWSTR end = ReadNumberList(argv[++i], v, 2);
            if (*end != L'\0' || v[0] <= 0 || v[1] <= 0) Usage();
            o.width = v[0];
            o.height = v[1];
        } else if (a == L"--notify") {
            o.notify = true;
        } else if (a == L"--browser") {
            o.browser = true;
        } else if (a == L"--tree") {
            o.tree = true;
        } else if (a == L"--input" && i + 1 < argc) {
            o.script = argv[++i];
        } else if (a == L"--out" && i + 1 < argc) {
            o.out = argv[++i];
        } else if (a == L"--shadow" && i + 1 < argc) {
            const std::wstring value = argv[++i];
            const size_t comma = value.find(L',');
            if (comma == std::wstring::npos || comma == 0) Usage();
            o.shadowImage = value.substr(0, comma);
            LPCWSTR end = ReadNumberList(value.c_str() + comma + 1, o.shadowNumbers, 8);
            if (*end != L'\0') Usage();
        } else if (a.rfind(L"--", 0) == 0) {
            Usage();
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) Usage();
    o.skin = FullPath(positional[0]);
    o.layout = positional[1];

    std::vector<std::wstring> script;
    if (!o.script.empty() && !ReadScript(o.script, script)) Fail(kExitBadArgument, "cannot read the script");

    HINSTANCE inst = ::GetModuleHandleW(nullptr);
    CUIGdiplus::Owner gdiplus;   // for the labels' effects, once for the program
    CWindowManagerUI::SetInstance(inst);
    WindowImplBase::SetSkinFailureHandler(NoRoot);

    int type = WindowImplBase::UILIB_FILE;
    std::wstring zip;
    const DWORD attrs = ::GetFileAttributesW(o.skin.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) Fail(kExitBadArgument, "no such skin");
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
        CWindowManagerUI::SetResourcePath(o.skin.c_str());
    } else if (EndsWithNoCase(o.skin, L".zip") || EndsWithNoCase(o.skin, L".7z")) {
        const size_t slash = o.skin.find_last_of(L"\\/");
        CWindowManagerUI::SetResourcePath(o.skin.substr(0, slash + 1).c_str());
        zip = o.skin.substr(slash + 1);
        CWindowManagerUI::SetResourceArchive7z(EndsWithNoCase(o.skin, L".7z"));
        type = WindowImplBase::UILIB_ZIP;
    } else {
        Fail(kExitBadArgument, "a skin is a folder, a .zip or a .7z file");
    }

    RenderWindow window(o, type, zip);
    g_window = &window;
    const DWORD style = WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    if (!window.Create(nullptr, L"skin-render", style, 0, 0, 0, 400, 300)) Fail(kExitNoRoot, "no window");
    if (o.width > 0) {
        ::SetWindowPos(window.GetHWND(), nullptr, 0, 0, o.width, o.height, SWP_NOZORDER | SWP_NOMOVE);
    }
    CWndShadow shadow;
    if (!o.shadowImage.empty()) {
        const int* n = o.shadowNumbers;
        if (!CWndShadow::Initialize(inst) ||
            !shadow.SetImage(o.shadowImage.c_str(), n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7])) {
            Fail(kExitBadArgument, "cannot make the shadow");
        }
        shadow.Create(window.GetHWND());
        g_shadow = &shadow;
    }
    window.ShowWindow(true, true);
    ::SetForegroundWindow(window.GetHWND());
    ::UpdateWindow(window.GetHWND());
    g_markerSeen = true;
    PumpUntilIdle(window.GetManager());

    for (const std::wstring& line : script) {
        if (window.Closed()) break;
        if (!RunStep(line)) Fail(kExitBadArgument, "bad script line: " + Narrow(line.c_str()));
    }
    if (!window.Closed()) {
        if (o.tree && window.GetManager().GetRoot()) PrintTree(window.GetManager().GetRoot(), 0);
        if (!o.out.empty() && !Shot(o.out)) Fail(kExitBadArgument, "cannot write the picture");
    }
    std::fflush(stdout);
    ::ExitProcess(0);
}
