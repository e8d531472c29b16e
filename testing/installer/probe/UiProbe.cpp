// uiprobe.dll: loaded into the installer by a message hook of installer-driver. On
// the driver's request it writes the control tree of one of the process's windows,
// read from the window's own objects, a picture of that window, or the times at
// which the thread took its paint messages.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ProbeChannel.h"
#include "UIBase.h"
#include "UICombo.h"
#include "UIContainer.h"
#include "UIOption.h"
#include "UIProgress.h"
#include "UITabLayout.h"
#include "WindowDriver.h"


using namespace SkinUI;

namespace {

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string OneLine(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

WindowImplBase* WindowObject(HWND hwnd)
{
    CWindowWnd* wnd = reinterpret_cast<CWindowWnd*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!wnd) wnd = static_cast<CWindowWnd*>(::GetPropW(hwnd, L"WndX"));
    return static_cast<WindowImplBase*>(wnd);
}

// depth, class, name, left, top, right, bottom (client), visible, shown (with every
// ancestor), enabled, state, text (language tokens replaced).
void DumpControl(CWindowManagerUI& m, CControlUI* c, int depth, bool parentShown, std::string& out)
{
    const RECT& rc = c->GetPos();
    const bool shown = parentShown && c->IsVisible();
    std::string state;
    if (COptionUI* o = static_cast<COptionUI*>(c->GetInterface(L"Option"))) state = o->IsSelected() ? "sel=1" : "sel=0";
    if (CTabLayoutUI* t = static_cast<CTabLayoutUI*>(c->GetInterface(L"TabLayout")))
        state = "cur=" + std::to_string(t->GetCurSel());
    if (CProgressUI* p = static_cast<CProgressUI*>(c->GetInterface(L"Progress")))
        state = "val=" + std::to_string(p->GetValue());
    if (CComboUI* b = static_cast<CComboUI*>(c->GetInterface(L"Combo"))) state = "cur=" + std::to_string(b->GetCurSel());
    CUIString text = c->GetText();
    m.ReplaceLanguageTokens(text);
    char buf[160];
    std::snprintf(buf, sizeof buf, "\t%ld\t%ld\t%ld\t%ld\t%d\t%d\t%d\t", rc.left, rc.top, rc.right, rc.bottom,
                  c->IsVisible() ? 1 : 0, shown ? 1 : 0, c->IsEnabled() ? 1 : 0);
    out += std::to_string(depth) + "\t" + Utf8(c->GetClass()) + "\t" + Utf8(c->GetName().GetData()) + buf + state +
           "\t" + OneLine(Utf8(text.GetData())) + "\n";
    IContainerUI* box = static_cast<IContainerUI*>(c->GetInterface(L"IContainer"));
    if (!box) return;
    for (int i = 0; i < box->GetCount(); ++i) DumpControl(m, box->GetItemAt(i), depth + 1, shown, out);
}

// When the window's thread took its WM_PAINT messages, in ms of the performance
// counter, kept for "paints" (the benchmark's gaps between paints).
const int kMaxPaints = 65536;
double g_paints[kMaxPaints];
int g_paintCount = 0;

double NowMs()
{
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return double(c.QuadPart) * 1000.0 / double(f.QuadPart);
}

std::string Paints()
{
    std::string out = "now\t" + std::to_string(NowMs()) + "\n";
    for (int i = 0; i < g_paintCount; ++i) out += std::to_string(g_paints[i]) + "\n";
    g_paintCount = 0;
    return out;
}

std::string Answer(const std::wstring& request)
{
    const size_t sp = request.find(L' ');
    const std::wstring verb = request.substr(0, sp);
    std::wstring rest = sp == std::wstring::npos ? std::wstring() : request.substr(sp + 1);
    const size_t sp2 = rest.find(L' ');
    const std::wstring cls = rest.substr(0, sp2);
    const std::wstring arg = sp2 == std::wstring::npos ? std::wstring() : rest.substr(sp2 + 1);

    HWND hwnd = ::FindWindowW(cls.c_str(), nullptr);
    DWORD pid = 0;
    if (!hwnd || ::GetWindowThreadProcessId(hwnd, &pid) != ::GetCurrentThreadId()) return "error no window\n";
    WindowImplBase* window = WindowObject(hwnd);
    if (!window) return "error no object\n";
    CWindowManagerUI& m = window->GetManager();
    if (verb == L"paints") return Paints();
    if (verb == L"shot") {
        uidriver::Picture picture;
        return uidriver::Capture(hwnd, m, picture) && uidriver::WritePng(arg, picture) ? "ok\n" : "error shot\n";
    }
    if (verb != L"tree") return "error verb\n";
    // Painted once: the first paint no longer pending.
    POINT origin = {0, 0};
    ::ClientToScreen(hwnd, &origin);
    RECT client = {0, 0, 0, 0};
    ::GetClientRect(hwnd, &client);
    char head[160];
    std::snprintf(head, sizeof head, "window\t%ld\t%ld\t%ld\t%ld\t%d\t%d\t%d\n", origin.x, origin.y, client.right,
                  client.bottom, ::IsWindowVisible(hwnd) ? 1 : 0, ::IsWindowEnabled(hwnd) ? 1 : 0,
                  m.IsFirstPaintPending() ? 0 : 1);
    std::string out = head;
    if (CControlUI* root = m.GetRoot()) DumpControl(m, root, 0, true, out);
    return out;
}

UINT RequestMessage()
{
    static const UINT message = ::RegisterWindowMessageW(probe::kMessageName);
    return message;
}

void Serve()
{
    HANDLE mapping = ::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, probe::kMappingName);
    HANDLE done = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, probe::kDoneEventName);
    if (mapping && done) {
        if (auto* block = static_cast<probe::Block*>(::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0))) {
            block->request[probe::kRequestChars - 1] = L'\0';
            std::string reply = Answer(block->request);
            if (reply.size() > probe::kReplyBytes) reply = "error too long\n";
            std::memcpy(block->reply, reply.data(), reply.size());
            block->replySize = DWORD(reply.size());
            ::UnmapViewOfFile(block);
        }
        ::SetEvent(done);
    }
    if (done) ::CloseHandle(done);
    if (mapping) ::CloseHandle(mapping);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ProbeGetMessage(int code, WPARAM wParam, LPARAM lParam)
{
    MSG* msg = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && msg && msg->message == WM_PAINT && g_paintCount < kMaxPaints)
        g_paints[g_paintCount++] = NowMs();
    if (code == HC_ACTION && wParam == PM_REMOVE && msg && msg->message == RequestMessage()) {
        Serve();
        msg->message = WM_NULL;
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}
