// The edit and its native window: the control paints while closed; focus or a
// click opens a superclassed system edit over the text area, which writes the
// typed text back and closes itself when it loses the focus.
#include "UIEdit.h"

#include <cstdlib>
#include <cwchar>
#include <vector>

#include "UIBase.h"
#include "UIButton.h"
#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

namespace {

// The manager reflects a child's WM_COMMAND and colour requests back to it
// with this offset.
const UINT kReflect = 0x2000;
const UINT kCaretTimerId = 20;
// 0xFFFFFFFF as native background colour: leave the system's background.
const DWORD kNoNativeBkColor = 0xFFFFFFFF;

COLORREF ToColorRef(DWORD argb)
{
    return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

bool Inside(const RECT& rc, POINT pt) { return ::PtInRect(&rc, pt) != FALSE; }

}  // namespace

// ---------------------------------------------------------------- CEditWnd

class CEditWnd : public CWindowWnd {
public:
    CEditWnd() : m_pOwner(nullptr), m_hBkBrush(nullptr), m_bInit(false), m_bDrawCaret(false) {}

    // Creates the window over the owner's text area and gives it the focus;
    // false when no window could be made.
    bool Init(CEditUI* pOwner);

    LPCWSTR GetWindowClassName() const override { return L"EditWnd"; }
    LPCWSTR GetSuperClassName() const override { return L"Edit"; }
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hWnd) override;

private:
    CWindowManagerUI* Manager() const { return m_pOwner->GetManager(); }
    bool IsLayered() const { return Manager() && Manager()->IsLayered(); }
    // Registers the window again, which repaints its area in a layered window.
    void RegisterAgain();
    void OnTextChanged();
    LRESULT OnKillFocus(WPARAM wParam, LPARAM lParam);
    LRESULT OnCtlColor(HDC hDC);

    CEditUI* m_pOwner;
    HBRUSH m_hBkBrush;
    bool m_bInit;
    bool m_bDrawCaret;
};

bool CEditWnd::Init(CEditUI* pOwner)
{
    m_pOwner = pOwner;
    CWindowManagerUI* manager = Manager();
    const RECT rc = pOwner->GetNativeRect();
    UINT style = WS_CHILD | ES_AUTOHSCROLL | pOwner->m_uExtraStyle;
    const UINT textStyle = pOwner->GetTextStyle();
    if (textStyle & DT_CENTER) style |= ES_CENTER;
    else if (textStyle & DT_RIGHT) style |= ES_RIGHT;
    else style |= ES_LEFT;
    if (pOwner->m_bPasswordMode) style |= ES_PASSWORD;
    if (!CreateInRect(manager->GetPaintWindow(), nullptr, style, 0, rc)) return false;

    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(manager->GetFont(pOwner->GetFont())), TRUE);
    SendMessage(EM_LIMITTEXT, static_cast<WPARAM>(pOwner->m_iMaxChar));
    if (pOwner->m_bPasswordMode) SendMessage(EM_SETPASSWORDCHAR, pOwner->m_cPasswordChar);
    ::SetWindowTextW(m_hWnd, pOwner->m_sText.GetData());
    SendMessage(EM_SETMODIFY, FALSE);
    SendMessage(EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    ::EnableWindow(m_hWnd, pOwner->IsEnabled() ? TRUE : FALSE);
    SendMessage(EM_SETREADONLY, pOwner->m_bReadOnly ? TRUE : FALSE);
    ::ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
    ::SetFocus(m_hWnd);
    const int length = ::GetWindowTextLengthW(m_hWnd);
    if (pOwner->m_bAutoSelAll) SendMessage(EM_SETSEL, 0, length > 0 ? length : 1);
    else SendMessage(EM_SETSEL, static_cast<WPARAM>(length), length);
    m_bInit = true;
    return true;
}

void CEditWnd::RegisterAgain()
{
    CWindowManagerUI* manager = Manager();
    if (!manager->AddNativeWindow(m_pOwner, m_hWnd)) manager->Invalidate(manager->GetWindowRectInClient(m_hWnd));
}

void CEditWnd::OnTextChanged()
{
    if (!m_bInit) return;
    const int length = ::GetWindowTextLengthW(m_hWnd);
    std::vector<wchar_t> text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    ::GetWindowTextW(m_hWnd, text.data(), length + 1);
    // Straight into the text: SetText would write it back into this window.
    m_pOwner->m_sText.Assign(text.data());
    Manager()->SendNotify(m_pOwner, L"textchanged");
    if (IsLayered()) m_pOwner->Invalidate();
}

LRESULT CEditWnd::OnKillFocus(WPARAM wParam, LPARAM lParam)
{
    const LRESULT lRes = CWindowWnd::HandleMessage(WM_KILLFOCUS, wParam, lParam);
    HWND paint = Manager()->GetPaintWindow();
    if (reinterpret_cast<HWND>(wParam) != paint) ::SendMessageW(paint, WM_KILLFOCUS, wParam, lParam);
    // Posted, not sent: closing here would destroy the window in the middle of
    // the focus change (or of its own destruction) that sent this message.
    ::PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
    return lRes;
}

LRESULT CEditWnd::OnCtlColor(HDC hDC)
{
    if (IsLayered() && !Manager()->IsPainting()) RegisterAgain();
    const DWORD color = m_pOwner->m_dwEditbkColor;
    if (color == kNoNativeBkColor) return 0;
    ::SetBkMode(hDC, TRANSPARENT);
    DWORD textColor = m_pOwner->GetTextColor();
    if (textColor == 0 && Manager()) textColor = Manager()->GetDefaultFontColor();
    ::SetTextColor(hDC, ToColorRef(textColor));
    if ((color >> 24) < 0xFF) {
        // What lies under the window, tinted, as the background pattern.
        RECT rc = Manager()->GetWindowRectInClient(m_hWnd);
        HBITMAP bmp = CDrawHelper::GenerateBitmap(Manager(), rc, m_pOwner, color);
        if (m_hBkBrush) ::DeleteObject(m_hBkBrush);
        m_hBkBrush = bmp ? ::CreatePatternBrush(bmp) : nullptr;
        if (bmp) ::DeleteObject(bmp);
    } else if (!m_hBkBrush) {
        m_hBkBrush = ::CreateSolidBrush(ToColorRef(color));
    }
    return reinterpret_cast<LRESULT>(m_hBkBrush);
}

LRESULT CEditWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_CREATE:
        Manager()->AddNativeWindow(m_pOwner, m_hWnd);
        if (IsLayered()) ::SetTimer(m_hWnd, kCaretTimerId, ::GetCaretBlinkTime(), nullptr);
        break;
    case WM_KILLFOCUS:
        return OnKillFocus(wParam, lParam);
    case WM_CLOSE:
        // A close posted at a focus loss that the focus came back from.
        if (::GetFocus() == m_hWnd) return 0;
        break;
    case WM_PAINT:
        if (IsLayered()) RegisterAgain();
        break;
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
            Manager()->SendNotify(m_pOwner, L"return");
            return 0;
        }
        break;
    case WM_TIMER:
        if (wParam == kCaretTimerId) {
            m_bDrawCaret = !m_bDrawCaret;
            ::InvalidateRect(m_hWnd, nullptr, FALSE);
            return 0;
        }
        break;
    case WM_PRINT:
        if (IsLayered()) {
            const LRESULT lRes = CWindowWnd::HandleMessage(uMsg, wParam, lParam);
            POINT caret;
            RECT client;
            if (m_pOwner->IsEnabled() && m_bDrawCaret && ::GetCaretPos(&caret) && ::GetClientRect(m_hWnd, &client)) {
                const RECT line = {caret.x, client.top, caret.x, client.bottom};
                CDrawHelper::DrawLine(reinterpret_cast<HDC>(wParam), line, 1, 0xFF000000);
            }
            return lRes;
        }
        break;
    case WM_COMMAND:
    case WM_COMMAND + kReflect:
        // The manager reflects the edit's own notifications as WM_COMMAND + 0x2000.
        if (HIWORD(wParam) == EN_CHANGE) OnTextChanged();
        else if (HIWORD(wParam) == EN_UPDATE) ::InvalidateRect(m_hWnd, nullptr, FALSE);
        return 0;
    case WM_CTLCOLOREDIT + kReflect:
    case WM_CTLCOLORSTATIC + kReflect:
        return OnCtlColor(reinterpret_cast<HDC>(wParam));
    default:
        break;
    }
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

void CEditWnd::OnFinalMessage(HWND hWnd)
{
    m_pOwner->Invalidate();
    if (m_hBkBrush) ::DeleteObject(m_hBkBrush);
    if (CWindowManagerUI* manager = Manager()) manager->RemoveNativeWindow(hWnd);
    m_pOwner->m_pWindow = nullptr;
    delete this;
}

// ---------------------------------------------------------------- CEditUI

CEditUI::CEditUI()
    : m_pWindow(nullptr),
      m_iMaxChar(255),
      m_bReadOnly(false),
      m_bPasswordMode(false),
      m_bAutoSelAll(false),
      m_cPasswordChar(L'*'),
      m_uButtonState(0),
      m_dwEditbkColor(kNoNativeBkColor),
      m_uExtraStyle(0),
      m_dwTipValueColor(0xFF999999),
      m_dwEditTextColor(0)
{
    SetTextPadding(4, 3, 4, 3);
    SetBkColor(0xFFFFFFFF);
}

CEditUI::~CEditUI()
{
    // A window still open would outlive its owner and write into freed memory;
    // its final message clears the pointer.
    if (m_pWindow) {
        HWND hWnd = m_pWindow->GetHWND();
        if (::IsWindow(hWnd)) ::DestroyWindow(hWnd);
    }
}

LPCWSTR CEditUI::GetClass() const { return L"Edit"; }

void* CEditUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"Edit") == 0) return this;
    return CLabelUI::GetInterface(pstrName);
}

UINT CEditUI::GetControlFlags() const { return IsEnabled() ? (UIFLAG_TABSTOP | UIFLAG_SETCURSOR) : 0; }

HWND CEditUI::GetChildWindow() const { return m_pWindow ? m_pWindow->GetHWND() : nullptr; }

void CEditUI::SetText(LPCWSTR pstrText)
{
    CLabelUI::SetText(pstrText);
    if (m_pWindow) ::SetWindowTextW(m_pWindow->GetHWND(), m_sText.GetData());
    Invalidate();
}

void CEditUI::PlaceNativeWindow()
{
    if (!m_pWindow) return;
    const RECT rc = GetNativeRect();
    HWND hWnd = m_pWindow->GetHWND();
    if (::IsRectEmpty(&rc)) {
        ::ShowWindow(hWnd, SW_HIDE);
    } else {
        ::SetWindowPos(hWnd, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                       SWP_SHOWWINDOW | SWP_NOACTIVATE | SWP_NOZORDER);
    }
}

void CEditUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    CLabelUI::SetPos(rc, bNeedInvalidate);
    PlaceNativeWindow();
}

void CEditUI::Move(SIZE szOffset, bool bNeedInvalidate)
{
    CLabelUI::Move(szOffset, bNeedInvalidate);
    PlaceNativeWindow();
}

void CEditUI::SetVisible(bool bVisible)
{
    CLabelUI::SetVisible(bVisible);
    if (!IsVisible() && m_pWindow && m_pManager) m_pManager->SetFocus(nullptr);
}

void CEditUI::SetInheritedVisible(bool bVisible)
{
    CLabelUI::SetInheritedVisible(bVisible);
    if (!IsVisible() && m_pWindow && m_pManager) m_pManager->SetFocus(nullptr);
}

void CEditUI::SetEnabled(bool bEnable)
{
    CLabelUI::SetEnabled(bEnable);
    if (!IsEnabled()) m_uButtonState = 0;
}

void CEditUI::SetMaxChar(int n)
{
    m_iMaxChar = n;
    if (m_pWindow) m_pWindow->SendMessage(EM_LIMITTEXT, static_cast<WPARAM>(n));
}

void CEditUI::SetReadOnly(bool readOnly)
{
    if (m_bReadOnly == readOnly) return;
    m_bReadOnly = readOnly;
    if (m_pWindow) m_pWindow->SendMessage(EM_SETREADONLY, readOnly ? TRUE : FALSE);
    Invalidate();
}

void CEditUI::SetPasswordMode(bool password)
{
    if (m_bPasswordMode == password) return;
    m_bPasswordMode = password;
    Invalidate();
}

void CEditUI::SetNumberOnly(bool numberOnly)
{
    if (numberOnly) m_uExtraStyle |= ES_NUMBER;
    else m_uExtraStyle &= ~static_cast<UINT>(ES_NUMBER);
}

void CEditUI::SetTipValue(LPCWSTR tip)
{
    // Only stored: the text stays what it is, and the tip is painted over an
    // empty box.
    m_sTipValue = tip;
    Invalidate();
}

void CEditUI::SetTipValueColor(DWORD color)
{
    m_dwTipValueColor = color;
    Invalidate();
}

void CEditUI::OpenNativeWindow()
{
    if (m_pWindow || !m_pManager) return;
    m_pWindow = new CEditWnd;
    if (!m_pWindow->Init(this)) {
        delete m_pWindow;
        m_pWindow = nullptr;
    }
}

RECT CEditUI::GetNativeRect()
{
    RECT rc = GetTextRect();
    if (m_pManager) {
        const LONG h = m_pManager->GetFontInfo(m_iFont)->tm.tmHeight;
        if (h < rc.bottom - rc.top) {
            rc.top += (rc.bottom - rc.top - h) / 2;
            rc.bottom = rc.top + h;
        }
    }
    for (CControlUI* p = m_pParent; p; p = p->GetParent()) {
        if (!p->IsVisible()) return RECT{0, 0, 0, 0};
        const RECT client = p->GetClientPos();
        if (!::IntersectRect(&rc, &rc, &client)) return RECT{0, 0, 0, 0};
    }
    return rc;
}

void CEditUI::DoEvent(UIEvent& event)
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
        break;
    case UIEventMouseWheel:
        if (m_pWindow) return;
        break;
    case UIEventSetFocus:
        if (IsEnabled()) {
            if (!m_pWindow) {
                OpenNativeWindow();
            } else if (::GetFocus() != m_pWindow->GetHWND()) {
                // Focus back before the posted close arrived: keep the window.
                ::SetFocus(m_pWindow->GetHWND());
            }
            Invalidate();
        }
        break;
    case UIEventKillFocus:
        if (IsEnabled()) Invalidate();
        break;
    case UIEventMouseMove:
    case UIEventButtonUp:
    case UIEventContextMenu:
        return;
    case UIEventMouseEnter:
        if (Inside(m_rcItem, event.ptMouse) && IsEnabled() && !(m_uButtonState & UISTATE_HOT)) {
            m_uButtonState |= UISTATE_HOT;
            Invalidate();
        }
        return;
    case UIEventButtonDown:
    case UIEventRightButtonDown:
    case UIEventDoubleClick:
        if (!IsEnabled()) break;
        if (m_pManager) m_pManager->ReleaseCapture();
        if (IsFocused() && !m_pWindow) {
            OpenNativeWindow();
        } else if (m_pWindow && !m_bAutoSelAll) {
            const POINT pt = {event.ptMouse.x - m_rcItem.left - m_rcTextPadding.left,
                              event.ptMouse.y - m_rcItem.top - m_rcTextPadding.top};
            m_pWindow->SendMessage(EM_SETSEL, 0, 0);
            m_pWindow->SendMessage(WM_LBUTTONDOWN, event.wParam, MAKELPARAM(pt.x, pt.y));
        }
        return;
    case UIEventMouseLeave:
        if (Inside(m_rcItem, event.ptMouse)) {
            if (m_pManager) m_pManager->AddMouseLeavePending(this);
            return;
        }
        if (IsEnabled() && (m_uButtonState & UISTATE_HOT)) {
            m_uButtonState &= ~UISTATE_HOT;
            Invalidate();
        }
        if (m_pManager) m_pManager->RemoveMouseLeavePending(this);
        return;
    default:
        break;
    }
    CLabelUI::DoEvent(event);
}

void CEditUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    auto is = [pstrName](LPCWSTR n) { return std::wcscmp(pstrName, n) == 0; };
    const bool yes = IsTrue(pstrValue);
    if (is(L"readonly")) SetReadOnly(yes);
    else if (is(L"numberonly")) SetNumberOnly(yes);
    else if (is(L"password")) SetPasswordMode(yes);
    else if (is(L"autoselall")) m_bAutoSelAll = yes;
    else if (is(L"maxchar")) SetMaxChar(static_cast<int>(std::wcstol(pstrValue, nullptr, 10)));
    else if (is(L"normalimage")) SetNormalImage(pstrValue);
    else if (is(L"hotimage")) SetHotImage(pstrValue);
    else if (is(L"focusedimage")) SetFocusedImage(pstrValue);
    else if (is(L"disabledimage")) SetDisabledImage(pstrValue);
    else if (is(L"nativebkcolor")) m_dwEditbkColor = ParseColorText(pstrValue);
    else if (is(L"tipvalue")) SetTipValue(pstrValue);
    else if (is(L"tipvaluecolor")) SetTipValueColor(ParseColorText(pstrValue));
    else if (is(L"nativetextcolor")) SetNativeTextColor(ParseColorText(pstrValue));
    else CLabelUI::SetAttribute(pstrName, pstrValue);
}

SIZE CEditUI::EstimateSize(SIZE szAvailable)
{
    if (m_cxyFixed.cy != 0) return CControlUI::EstimateSize(szAvailable);
    const int height = m_pManager ? m_pManager->GetFontInfo(m_iFont)->tm.tmHeight : 0;
    return SIZE{m_cxyFixed.cx, height + 8};
}

void CEditUI::PaintStatusImage(HDC hDC)
{
    if (IsFocused()) m_uButtonState |= UISTATE_FOCUSED;
    else m_uButtonState &= ~UISTATE_FOCUSED;
    if (!IsEnabled()) m_uButtonState |= UISTATE_DISABLED;
    else m_uButtonState &= ~UISTATE_DISABLED;

    if (m_uButtonState & UISTATE_DISABLED) {
        if (DrawImage(hDC, m_diDisabled)) return;
    } else if (m_uButtonState & UISTATE_FOCUSED) {
        if (DrawImage(hDC, m_diFocused)) return;
    } else if (m_uButtonState & UISTATE_HOT) {
        if (DrawImage(hDC, m_diHot)) return;
    }
    DrawImage(hDC, m_diNormal);
}

void CEditUI::PaintText(HDC hDC)
{
    TakeDefaultColors();
    // The tip only over an empty box that is not being typed in.
    const bool tip = m_sText.IsEmpty() && !IsFocused();
    DWORD color = tip ? m_dwTipValueColor : m_dwTextColor;
    if (!IsEnabled()) color = m_dwDisabledTextColor;
    CUIString shown;
    if (tip) {
        shown = m_sTipValue;
    } else if (m_bPasswordMode) {
        const int n = m_sText.GetLength();
        std::vector<wchar_t> mask(static_cast<size_t>(n) + 1, m_cPasswordChar);
        mask[static_cast<size_t>(n)] = L'\0';
        shown = mask.data();
    } else {
        shown = m_sText;
    }
    if (shown.IsEmpty()) return;
    RECT rc = GetTextRect();
    CDrawHelper::DrawText(hDC, m_pManager, rc, shown.GetData(), color, m_iFont, m_uTextStyle | DT_SINGLELINE);
}

}  // namespace SkinUI
