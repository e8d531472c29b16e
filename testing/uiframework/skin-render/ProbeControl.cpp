#include "ProbeControl.h"

#include <cwchar>

#include "UIManager.h"

using namespace SkinUI;

namespace {

class CProbeUI : public CControlUI {
public:
    LPCWSTR GetClass() const override { return L"Probe"; }
    void* GetInterface(LPCWSTR pstrName) override
    {
        if (pstrName && wcscmp(pstrName, L"Probe") == 0) return this;
        return CControlUI::GetInterface(pstrName);
    }
    UINT GetControlFlags() const override { return IsKeyboardEnabled() ? UIFLAG_TABSTOP : 0; }
    bool Activate() override
    {
        if (!CControlUI::Activate()) return false;
        if (m_pManager) m_pManager->SendNotify(this, L"click");
        return true;
    }
    void DoEvent(UIEvent& event) override
    {
        if (!m_pManager) return CControlUI::DoEvent(event);
        const bool inside = ::PtInRect(&m_rcItem, event.ptMouse) != 0;
        switch (event.Type) {
        case UIEventMouseEnter:
            m_pManager->SendNotify(this, L"mouseenter");
            return;
        case UIEventMouseLeave:
            m_pManager->SendNotify(this, L"mouseleave");
            return;
        case UIEventButtonDown:
            m_bPressed = true;
            m_pManager->SendNotify(this, L"buttondown", event.ptMouse.x, event.ptMouse.y);
            return;
        case UIEventButtonUp:
            m_pManager->SendNotify(this, L"buttonup", event.ptMouse.x, event.ptMouse.y);
            if (m_bPressed && inside) Activate();
            m_bPressed = false;
            return;
        case UIEventKeyDown:
            m_pManager->SendNotify(this, L"keydown", event.chKey, 0);
            if (event.chKey == VK_SPACE || event.chKey == VK_RETURN) Activate();
            return;
        case UIEventMouseWheel:
            m_pManager->SendNotify(this, L"wheel", event.wParam, 0);
            break;
        default:
            break;
        }
        CControlUI::DoEvent(event);
    }

private:
    bool m_bPressed = false;
};

}  // namespace

CControlUI* CreateProbeControl(LPCWSTR pstrClass)
{
    if (pstrClass && _wcsicmp(pstrClass, L"Probe") == 0) return new CProbeUI;
    return nullptr;
}
