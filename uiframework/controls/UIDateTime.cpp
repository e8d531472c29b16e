// The date picker: the label's text, the picker window laid over it, and what
// the picker's focus and keys do to the date.
#include "UIDateTime.h"

#include <commctrl.h>

#include <cwchar>

#include "UIBase.h"
#include "UIManager.h"

namespace SkinUI {

class CDateTimeWnd : public CWindowWnd {
public:
    void Init(CDateTimeUI* owner);
    RECT CalPos() const;
    LPCWSTR GetWindowClassName() const override { return L"DateTimeWnd"; }
    LPCWSTR GetSuperClassName() const override { return DATETIMEPICK_CLASSW; }
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hWnd) override;
    // The control is going: nothing may reach back into it.
    void Detach() { m_pOwner = nullptr; }

private:
    CDateTimeUI* m_pOwner = nullptr;
    bool m_bInit = false;
};

RECT CDateTimeWnd::CalPos() const
{
    RECT rc = m_pOwner->GetPos();
    // Hidden or scrolled out of any ancestor: nowhere.
    for (CControlUI* p = m_pOwner->GetParent(); p; p = p->GetParent()) {
        if (!p->IsVisible()) return RECT{0, 0, 0, 0};
        const RECT client = p->GetClientPos();
        if (!::IntersectRect(&rc, &rc, &client)) return RECT{0, 0, 0, 0};
    }
    return rc;
}

void CDateTimeWnd::Init(CDateTimeUI* owner)
{
    m_pOwner = owner;
    m_pOwner->m_nDTUpdateFlag = CDateTimeUI::kNone;
    CWindowManagerUI* manager = owner->GetManager();
    if (!manager) return;
    if (!m_hWnd) {
        const INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_DATE_CLASSES};
        ::InitCommonControlsEx(&icc);
        CreateInRect(manager->GetPaintWindow(), nullptr, WS_CHILD, 0, CalPos());
        if (!m_hWnd) return;
        SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(manager->GetFont(owner->GetFont())), TRUE);
    }
    if (owner->GetText().IsEmpty()) ::GetLocalTime(&owner->m_sysTime);
    SendMessage(DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&owner->m_sysTime));
    ::ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
    ::SetFocus(m_hWnd);
    m_bInit = true;
}

LRESULT CDateTimeWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CWindowManagerUI* manager = m_pOwner ? m_pOwner->GetManager() : nullptr;
    if (uMsg == WM_CREATE || (uMsg == WM_PAINT && manager && manager->IsLayered() && manager->IsPainting())) {
        if (manager) manager->AddNativeWindow(m_pOwner, m_hWnd);
        return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
    }
    if (uMsg == WM_KILLFOCUS && m_pOwner) {
        const LRESULT r = CWindowWnd::HandleMessage(uMsg, wParam, lParam);
        if (m_pOwner->m_nDTUpdateFlag == CDateTimeUI::kNone) {
            SendMessage(DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&m_pOwner->m_sysTime));
            m_pOwner->m_nDTUpdateFlag = CDateTimeUI::kFormat;
            m_pOwner->ApplyUpdateMode();
        }
        if (manager && reinterpret_cast<HWND>(wParam) != manager->GetPaintWindow()) {
            ::SendMessageW(manager->GetPaintWindow(), WM_KILLFOCUS, wParam, lParam);
        }
        // Posted: closing here would destroy the window, and free this object,
        // inside its own focus change.
        PostMessage(WM_CLOSE);
        return r;
    }
    if (uMsg == WM_KEYUP && m_pOwner && (wParam == VK_BACK || wParam == VK_DELETE || wParam == VK_ESCAPE)) {
        const LRESULT r = CWindowWnd::HandleMessage(uMsg, wParam, lParam);
        m_pOwner->m_nDTUpdateFlag = wParam == VK_ESCAPE ? CDateTimeUI::kKeep : CDateTimeUI::kClear;
        m_pOwner->ApplyUpdateMode();
        PostMessage(WM_CLOSE);
        return r;
    }
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

void CDateTimeWnd::OnFinalMessage(HWND hWnd)
{
    if (m_pOwner) {
        if (CWindowManagerUI* manager = m_pOwner->GetManager()) manager->RemoveNativeWindow(hWnd);
        m_pOwner->m_pWindow = nullptr;
    }
    delete this;
}

// ---------------------------------------------------------------- the control

CDateTimeUI::CDateTimeUI()
{
    ::GetLocalTime(&m_sysTime);
    m_nDTUpdateFlag = kFormat;
    ApplyUpdateMode();
    m_nDTUpdateFlag = kNone;
}

CDateTimeUI::~CDateTimeUI()
{
    if (!m_pWindow) return;
    CDateTimeWnd* window = m_pWindow;
    m_pWindow = nullptr;
    if (m_pManager) m_pManager->RemoveNativeWindow(window->GetHWND());
    window->Detach();
    ::DestroyWindow(window->GetHWND());   // the window frees itself
}

LPCWSTR CDateTimeUI::GetClass() const { return L"DateTime"; }

void* CDateTimeUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"DateTime") == 0) return this;
    return CLabelUI::GetInterface(pstrName);
}

HWND CDateTimeUI::GetChildWindow() const { return m_pWindow ? m_pWindow->GetHWND() : nullptr; }

CUIString CDateTimeUI::FormatDate(const SYSTEMTIME& time)
{
    wchar_t text[32];
    std::swprintf(text, 32, L"%4d-%02d-%02d", time.wYear, time.wMonth, time.wDay);
    return CUIString(text);
}

void CDateTimeUI::SetTime(const SYSTEMTIME& time)
{
    m_sysTime = time;
    m_nDTUpdateFlag = kFormat;
    ApplyUpdateMode();
    m_nDTUpdateFlag = kNone;
}

void CDateTimeUI::ApplyUpdateMode()
{
    if (m_nDTUpdateFlag == kFormat) SetText(FormatDate(m_sysTime));
    else if (m_nDTUpdateFlag == kClear) SetText(L"");
}

void CDateTimeUI::PlacePicker()
{
    if (!m_pWindow || !m_pWindow->GetHWND()) return;
    const RECT rc = m_pWindow->CalPos();
    if (::IsRectEmpty(&rc)) {
        ::ShowWindow(m_pWindow->GetHWND(), SW_HIDE);
        return;
    }
    ::SetWindowPos(m_pWindow->GetHWND(), nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                   SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOZORDER);
}

void CDateTimeUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    CControlUI::SetPos(rc, bNeedInvalidate);
    PlacePicker();
}

void CDateTimeUI::Move(SIZE szOffset, bool bNeedInvalidate)
{
    CControlUI::Move(szOffset, bNeedInvalidate);
    PlacePicker();
}

void CDateTimeUI::OpenPicker()
{
    if (!m_pWindow) {
        m_pWindow = new CDateTimeWnd;
        m_pWindow->Init(this);
        if (!m_pWindow->GetHWND()) {
            delete m_pWindow;
            m_pWindow = nullptr;
            return;
        }
    } else {
        m_pWindow->Init(this);
    }
    m_pWindow->ShowWindow(true, true);
}

void CDateTimeUI::DoEvent(UIEvent& event)
{
    if (!IsMouseEnabled() && IsMouseEventType(event.Type)) {
        if (m_pParent) m_pParent->DoEvent(event);
        else CLabelUI::DoEvent(event);
        return;
    }
    switch (event.Type) {
    case UIEventSetCursor:
        if (IsEnabled()) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_IBEAM));
            return;
        }
        break;
    case UIEventSize:
        if (m_pWindow && m_pManager) m_pManager->RequestFocus(this);
        return;
    case UIEventMouseWheel:
        if (m_pWindow) return;
        break;
    case UIEventSetFocus:
        if (IsEnabled() && !m_pWindow) OpenPicker();
        break;
    case UIEventKillFocus:
        if (IsEnabled()) Invalidate();
        break;
    case UIEventButtonDown:
    case UIEventRightButtonDown:
    case UIEventDoubleClick:
        if (IsEnabled()) {
            if (m_pManager) m_pManager->ReleaseCapture();
            if (IsFocused() || m_pWindow) OpenPicker();
        }
        return;
    case UIEventMouseMove:
    case UIEventButtonUp:
    case UIEventContextMenu:
        return;
    default:
        break;
    }
    CLabelUI::DoEvent(event);
}

}  // namespace SkinUI
