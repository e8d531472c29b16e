// A window manager on a message-only window with a root container, for the
// control tests: controls are added as the dialog builder adds them, events are
// fed to them directly and their painting is read back from memory canvases.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "UIContainer.h"
#include "UIManager.h"
#include "draw_support.h"

namespace uitest {

using namespace SkinUI;

struct Recorder : INotifyUI {
    std::vector<std::wstring> log;   // "type sender"
    std::vector<std::wstring> full;  // "type sender wParam lParam"
    void Notify(UINotify& msg) override
    {
        log.push_back(std::wstring(msg.sType.GetData()) + L" " + (msg.pSender ? msg.pSender->GetName().GetData() : L""));
        full.push_back(log.back() + L" " + std::to_wstring(msg.wParam) + L" " + std::to_wstring(msg.lParam));
    }
};

// A manager on a message-only window (timers work, nothing is shown) with a
// root container; skin files come from the image fixture folder.
class Window {
public:
    Window()
    {
        CWindowManagerUI::SetResourcePath(uitest::ImagePath(L"").c_str());
        m_hwnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
        manager.Init(m_hwnd);
        root = new CContainerUI;
        manager.AttachRootControl(root);
        manager.AddNotifyListener(&notes);
    }
    ~Window()
    {
        manager.KillAllTimers();
        manager.Init(nullptr);
        ::DestroyWindow(m_hwnd);
    }
    template <class T>
    T* Add(const wchar_t* name, RECT pos, std::initializer_list<std::pair<LPCWSTR, LPCWSTR>> attributes = {})
    {
        // As the builder does: attributes with the manager set, then the control joins.
        T* c = new T;
        c->SetName(name);
        c->SetManager(&manager, nullptr, false);
        for (const auto& a : attributes) c->SetAttribute(a.first, a.second);
        c->SetManager(nullptr, nullptr, false);
        root->Add(c);
        c->SetManager(&manager, root, true);
        c->SetPos(pos);
        return c;
    }
    void Send(CControlUI* c, int type, POINT pt = {0, 0}, WPARAM wParam = 0, WORD key = 0)
    {
        UIEvent e = {};
        e.Type = type;
        e.pSender = c;
        e.ptMouse = pt;
        e.wParam = wParam;
        e.chKey = key;
        c->Event(e);
    }
    unsigned PaintPixel(CControlUI* c, int x, int y, int width = 120, int height = 40)
    {
        Canvas canvas(width, height, RGB(255, 255, 255));
        const RECT all = {0, 0, width, height};
        c->Paint(canvas.Dc(), all, nullptr);
        return canvas.Pixel(x, y);
    }

    CWindowManagerUI manager;
    CContainerUI* root = nullptr;
    Recorder notes;

private:
    HWND m_hwnd = nullptr;
};

}  // namespace uitest
