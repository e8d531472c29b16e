// installer-driver: drives a running installer for the end-to-end checks. It reads
// one command a line on standard input and answers with lines ending in ".":
//   wait CLASS MS        until a visible window of that class exists ("ok"/"timeout")
//   gone CLASS MS        until no window of that class exists
//   tree CLASS           the window's control tree, read from its own objects through
//                        uiprobe.dll (hooked into the window's thread)
//   shot CLASS FILE      a PNG of the window, taken inside its process
//   paints CLASS         "now<TAB>ms", then the times (ms) at which the window's thread
//                        took WM_PAINT since the last such request
//   click X Y            a left click at a screen point, by SendInput
//   raise CLASS          an owned window that lies below its owner put back above it
//                        ("raised"), else "ok"
//   key NAME             Return, Escape, Space, Tab, F4, Home, End, Delete, Back or a
//                        letter, with "Shift+", "Ctrl+" or "Alt+" before it, by SendInput
//   text STRING          the characters typed, by SendInput
//   quit
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <utility>

#include "ProbeChannel.h"
#include "WindowDriver.h"

namespace {

std::string Utf8(const std::wstring& w)
{
    if (w.empty()) return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring Wide(const std::string& s)
{
    if (s.empty()) return std::wstring();
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), &w[0], n);
    return w;
}

void Say(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (text.empty() || text.back() != '\n') std::fputc('\n', stdout);
    std::fputs(".\n", stdout);
    std::fflush(stdout);
}

HWND VisibleWindow(const std::wstring& cls)
{
    HWND hwnd = ::FindWindowW(cls.c_str(), nullptr);
    return hwnd && ::IsWindowVisible(hwnd) ? hwnd : nullptr;
}

// Until the test holds, checked every 20 ms; false after `ms`.
template <class Test>
bool WaitFor(DWORD ms, Test test)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (test()) return true;
        if (::GetTickCount() - start >= ms) return false;
        ::Sleep(20);
    }
}

class Probe {
public:
    bool Open()
    {
        m_module = ::LoadLibraryW(L"uiprobe.dll");
        m_proc = m_module ? reinterpret_cast<HOOKPROC>(
                                reinterpret_cast<void*>(::GetProcAddress(m_module, "ProbeGetMessage")))
                          : nullptr;
        m_mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(probe::Block),
                                         probe::kMappingName);
        m_done = ::CreateEventW(nullptr, TRUE, FALSE, probe::kDoneEventName);
        m_block = m_mapping ? static_cast<probe::Block*>(::MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0))
                            : nullptr;
        m_message = ::RegisterWindowMessageW(probe::kMessageName);
        return m_proc && m_block && m_done;
    }

    std::string Ask(const std::wstring& cls, const std::wstring& request)
    {
        HWND hwnd = ::FindWindowW(cls.c_str(), nullptr);
        if (!hwnd) return "error no window\n";
        const DWORD thread = ::GetWindowThreadProcessId(hwnd, nullptr);
        if (!m_hooks.count(thread)) {
            HHOOK hook = ::SetWindowsHookExW(WH_GETMESSAGE, m_proc, m_module, thread);
            if (!hook) return "error hook " + std::to_string(::GetLastError()) + "\n";
            m_hooks[thread] = hook;
        }
        wcsncpy(m_block->request, request.c_str(), probe::kRequestChars - 1);
        m_block->request[probe::kRequestChars - 1] = L'\0';
        m_block->replySize = 0;
        ::ResetEvent(m_done);
        if (!::PostMessageW(hwnd, m_message, 0, 0)) return "error post\n";
        if (::WaitForSingleObject(m_done, 20000) != WAIT_OBJECT_0) return "error no answer\n";
        return std::string(m_block->reply, m_block->replySize);
    }

private:
    HMODULE m_module = nullptr;
    HOOKPROC m_proc = nullptr;
    HANDLE m_mapping = nullptr;
    HANDLE m_done = nullptr;
    probe::Block* m_block = nullptr;
    UINT m_message = 0;
    std::map<DWORD, HHOOK> m_hooks;
};

void SendChar(wchar_t ch)
{
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wScan = in[1].ki.wScan = ch;
    in[0].ki.dwFlags = KEYEVENTF_UNICODE;
    in[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    ::SendInput(2, in, sizeof(INPUT));
}

WORD KeyCode(const std::wstring& name)
{
    static const struct {
        const wchar_t* name;
        WORD vk;
    } kKeys[] = {{L"Return", VK_RETURN}, {L"Escape", VK_ESCAPE}, {L"Space", VK_SPACE}, {L"Tab", VK_TAB},
                 {L"F4", VK_F4},         {L"Home", VK_HOME},     {L"End", VK_END},     {L"Delete", VK_DELETE},
                 {L"Back", VK_BACK}};
    for (const auto& k : kKeys) {
        if (name == k.name) return k.vk;
    }
    if (name.size() == 1 && name[0] >= L'A' && name[0] <= L'Z') return WORD(name[0]);
    return 0;
}

}  // namespace

int wmain()
{
    Probe probe;
    if (!probe.Open()) {
        std::fprintf(stderr, "installer-driver: cannot open uiprobe.dll or the channel\n");
        return 2;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        const std::wstring w = Wide(line);
        const size_t sp = w.find(L' ');
        const std::wstring cmd = w.substr(0, sp);
        const std::wstring rest = sp == std::wstring::npos ? std::wstring() : w.substr(sp + 1);
        const size_t sp2 = rest.find(L' ');
        const std::wstring a = rest.substr(0, sp2);
        const std::wstring b = sp2 == std::wstring::npos ? std::wstring() : rest.substr(sp2 + 1);
        if (cmd == L"quit") {
            Say("ok");
            break;
        } else if (cmd == L"wait") {
            Say(WaitFor(DWORD(_wtoi(b.c_str())), [&] { return VisibleWindow(a) != nullptr; }) ? "ok" : "timeout");
        } else if (cmd == L"gone") {
            Say(WaitFor(DWORD(_wtoi(b.c_str())), [&] { return ::FindWindowW(a.c_str(), nullptr) == nullptr; })
                    ? "ok"
                    : "timeout");
        } else if (cmd == L"tree") {
            Say(probe.Ask(a, L"tree " + a));
        } else if (cmd == L"paints") {
            Say(probe.Ask(a, L"paints " + a));
        } else if (cmd == L"shot") {
            Say(probe.Ask(a, L"shot " + a + L" " + b));
        } else if (cmd == L"click") {
            const int x = _wtoi(a.c_str());
            const int y = _wtoi(b.c_str());
            // The desktop window's client coordinates are screen coordinates.
            HWND desktop = ::GetDesktopWindow();
            uidriver::SendMouse(desktop, 0, x, y);
            uidriver::SendMouse(desktop, MOUSEEVENTF_LEFTDOWN, x, y);
            uidriver::SendMouse(desktop, MOUSEEVENTF_LEFTUP, x, y);
            Say("ok");
        } else if (cmd == L"raise") {
            // Wine without a window manager may put an owner that it activates late above
            // the window it owns, which Windows never does: put the owned one back on top.
            HWND hwnd = ::FindWindowW(a.c_str(), nullptr);
            HWND owner = hwnd ? ::GetWindow(hwnd, GW_OWNER) : nullptr;
            bool below = false;
            for (HWND w = owner ? ::GetWindow(hwnd, GW_HWNDPREV) : nullptr; w; w = ::GetWindow(w, GW_HWNDPREV))
                below = below || w == owner;
            if (below)
                ::SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            Say(!hwnd ? "error no window" : below ? "raised" : "ok");
        } else if (cmd == L"key") {
            std::wstring name = a;
            WORD modifier = 0;
            for (const auto& m : {std::make_pair(L"Alt+", VK_MENU), std::make_pair(L"Shift+", VK_SHIFT),
                                  std::make_pair(L"Ctrl+", VK_CONTROL)}) {
                if (name.rfind(m.first, 0) == 0) {
                    modifier = WORD(m.second);
                    name = name.substr(wcslen(m.first));
                }
            }
            const WORD vk = KeyCode(name);
            if (!vk) {
                Say("error key");
                continue;
            }
            if (modifier) uidriver::SendKey(modifier, false);
            uidriver::SendKey(vk, false);
            uidriver::SendKey(vk, true);
            if (modifier) uidriver::SendKey(modifier, true);
            Say("ok");
        } else if (cmd == L"text") {
            for (wchar_t ch : rest) SendChar(ch);
            Say("ok");
        } else {
            Say("error command " + Utf8(cmd));
        }
    }
    return 0;
}
