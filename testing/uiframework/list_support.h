// Helpers of the list and combo box tests: a window manager holding a layout
// built from text, the notifications it sends, and layouts of rows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "UIDlgBuilder.h"
#include "UIManager.h"

namespace uitest {

using namespace SkinUI;

struct Recorder : INotifyUI {
    std::vector<std::wstring> log;   // "type sender wParam lParam"
    void Notify(UINotify& msg) override
    {
        log.push_back(std::wstring(msg.sType.GetData()) + L" " + (msg.pSender ? msg.pSender->GetName().GetData() : L"") +
                      L" " + std::to_wstring(msg.wParam) + L" " + std::to_wstring(static_cast<long>(msg.lParam)));
    }
    // The notifications of one type, in order.
    std::vector<std::wstring> Of(const std::wstring& type) const
    {
        std::vector<std::wstring> out;
        for (const auto& l : log)
            if (l.compare(0, type.size() + 1, type + L" ") == 0) out.push_back(l);
        return out;
    }
};

// A hidden top-level window whose manager holds a layout built from text; the
// root is laid out over `size` at once.
class Page {
public:
    explicit Page(const std::wstring& layout, SIZE size = {300, 300})
    {
        // A top-level window where there is a display (a pop-up needs an owner
        // that is one); a message-only window elsewhere.
        m_hwnd = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, size.cx, size.cy, nullptr, nullptr, nullptr,
                                   nullptr);
        if (!m_hwnd) {
            m_hwnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, size.cx, size.cy, HWND_MESSAGE, nullptr, nullptr,
                                       nullptr);
        }
        manager.Init(m_hwnd);
        CDialogBuilder builder;
        root = builder.Create(CUIStringOrId(layout.c_str()), nullptr, nullptr, &manager);
        if (root) manager.AttachRootControl(root);
        manager.AddNotifyListener(&notes);
        if (root) root->SetPos(RECT{0, 0, size.cx, size.cy});
    }
    ~Page()
    {
        manager.KillAllTimers();
        ::DestroyWindow(m_hwnd);
    }
    template <class T>
    T* Find(LPCWSTR name)
    {
        return static_cast<T*>(manager.FindControlByName(name));
    }
    HWND Hwnd() const { return m_hwnd; }
    void Send(CControlUI* c, int type, WORD key = 0, POINT pt = {0, 0}, WPARAM wParam = 0)
    {
        UIEvent e = {};
        e.Type = type;
        e.pSender = c;
        e.ptMouse = pt;
        e.wParam = wParam;
        e.chKey = key;
        c->Event(e);
    }
    void Relayout() { root->SetPos(root->GetPos()); }

    CWindowManagerUI manager;
    CControlUI* root = nullptr;
    Recorder notes;

private:
    HWND m_hwnd = nullptr;
};

inline void Pump()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

inline std::wstring Rows(int n, LPCWSTR extra = L"")
{
    std::wstring out;
    for (int i = 0; i < n; ++i) {
        out += L"<ListLabelElement name=\"r" + std::to_wstring(i) + L"\" text=\"row " + std::to_wstring(i) + L"\" " +
               extra + L"/>";
    }
    return out;
}

inline std::wstring ListPage(const std::wstring& listAttrs, const std::wstring& items)
{
    return L"<Window><VerticalLayout name=\"root\"><List name=\"list\" " + listAttrs + L">" + items +
           L"</List></VerticalLayout></Window>";
}

inline std::wstring ComboPage(const std::wstring& comboAttrs, int rows, LPCWSTR pos = L"0,0,120,24")
{
    return L"<Window><Container name=\"root\"><Combo name=\"combo\" float=\"true\" pos=\"" + std::wstring(pos) +
           L"\" itemheight=\"20\" " + comboAttrs + L">" + Rows(rows) + L"</Combo></Container></Window>";
}

}  // namespace uitest
