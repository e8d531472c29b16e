// The push button: state tracking, "click", the fade timer and per-state painting.
#include "UIButton.h"

#include <cstdlib>
#include <cwchar>

#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

namespace {

const UINT kFadeElapse = 30;

bool Inside(const RECT& rc, POINT pt) { return ::PtInRect(&rc, pt) != FALSE; }

// Draws an image at `alpha` of its own fade, then gives it its own fade back.
bool DrawFaded(CControlUI& control, HDC hDC, UIImageDrawInfo& info, BYTE alpha)
{
    if (!CDrawHelper::LoadDrawInfo(control.GetManager(), info)) return false;
    const BYTE own = info.uFade;
    info.uFade = static_cast<BYTE>(own * alpha / 255);
    const bool drawn = control.DrawImage(hDC, info);
    info.uFade = own;
    return drawn;
}

}  // namespace

CButtonUI::CButtonUI()
    : m_uButtonState(0),
      m_dwHotBkColor(0),
      m_dwPushedBkColor(0),
      m_dwDisabledBkColor(0),
      m_dwHotTextColor(0),
      m_dwPushedTextColor(0),
      m_dwFocusedTextColor(0),
      m_uFadeAlpha(255),
      m_uFadeAlphaDelta(0)
{
    m_uTextStyle = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
}

LPCWSTR CButtonUI::GetClass() const { return L"Button"; }

void* CButtonUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"Button") == 0) return this;
    return CLabelUI::GetInterface(pstrName);
}

UINT CButtonUI::GetControlFlags() const
{
    return (IsKeyboardEnabled() ? UIFLAG_TABSTOP : 0) | (IsEnabled() ? UIFLAG_SETCURSOR : 0);
}

bool CButtonUI::Activate()
{
    if (!CControlUI::Activate()) return false;
    if (m_pManager) m_pManager->SendNotify(this, L"click");
    return true;
}

void CButtonUI::SetEnabled(bool bEnable)
{
    CControlUI::SetEnabled(bEnable);
    if (!IsEnabled()) m_uButtonState = 0;
}

void CButtonUI::StartFade()
{
    if (m_uFadeAlphaDelta > 0 && m_pManager) m_pManager->SetTimer(this, kFadeTimerId, kFadeElapse);
}

void CButtonUI::DoEvent(UIEvent& event)
{
    if (!IsMouseEnabled() && IsMouseEventType(event.Type)) {
        if (m_pParent) m_pParent->DoEvent(event);
        else CLabelUI::DoEvent(event);
        return;
    }
    switch (event.Type) {
    case UIEventSetFocus:
    case UIEventKillFocus:
        Invalidate();
        break;
    case UIEventKeyDown:
        if (IsKeyboardEnabled() && IsEnabled() && (event.chKey == VK_SPACE || event.chKey == VK_RETURN)) {
            Activate();
            return;
        }
        break;
    case UIEventButtonDown:
    case UIEventDoubleClick:
        if (Inside(m_rcItem, event.ptMouse) && IsEnabled()) {
            m_uButtonState |= UISTATE_PUSHED | UISTATE_CAPTURED;
            Invalidate();
        }
        return;
    case UIEventMouseMove:
        if (m_uButtonState & UISTATE_CAPTURED) {
            if (Inside(m_rcItem, event.ptMouse)) m_uButtonState |= UISTATE_PUSHED;
            else m_uButtonState &= ~UISTATE_PUSHED;
            Invalidate();
        }
        return;
    case UIEventButtonUp:
        if (m_uButtonState & UISTATE_CAPTURED) {
            if (Inside(m_rcItem, event.ptMouse) && IsEnabled()) Activate();
            m_uButtonState &= ~(UISTATE_PUSHED | UISTATE_CAPTURED);
            Invalidate();
        }
        return;
    case UIEventContextMenu:
        if (IsContextMenuUsed() && IsEnabled() && m_pManager) {
            m_pManager->SendNotify(this, L"menu", event.wParam, event.lParam);
        }
        return;
    case UIEventMouseEnter:
        if (Inside(m_rcItem, event.ptMouse) && IsEnabled() && !(m_uButtonState & UISTATE_HOT)) {
            m_uButtonState |= UISTATE_HOT;
            Invalidate();
            if (m_pManager) m_pManager->SendNotify(this, L"mouseenter", event.wParam, event.lParam);
        }
        // Becoming hot is what the fade shows: start it here too, or the hot
        // image would never be faded in.
        StartFade();
        return;
    case UIEventMouseLeave:
        if (Inside(m_rcItem, event.ptMouse)) {
            if (m_pManager) m_pManager->AddMouseLeavePending(this);
            return;
        }
        if (IsEnabled() && (m_uButtonState & UISTATE_HOT)) {
            m_uButtonState &= ~UISTATE_HOT;
            Invalidate();
            if (m_pManager) m_pManager->SendNotify(this, L"mouseleave", event.wParam, event.lParam);
        } else if (m_pManager) {
            m_pManager->RemoveMouseLeavePending(this);
        }
        StartFade();
        return;
    case UIEventSetCursor:
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return;
    case UIEventTimer:
        if (event.wParam == kFadeTimerId) {
            if (m_uButtonState & UISTATE_HOT) {
                if (m_uFadeAlpha > m_uFadeAlphaDelta) {
                    m_uFadeAlpha = static_cast<BYTE>(m_uFadeAlpha - m_uFadeAlphaDelta);
                } else {
                    m_uFadeAlpha = 0;
                    if (m_pManager) m_pManager->KillTimer(this, kFadeTimerId);
                }
            } else {
                if (m_uFadeAlpha < 255 - m_uFadeAlphaDelta) {
                    m_uFadeAlpha = static_cast<BYTE>(m_uFadeAlpha + m_uFadeAlphaDelta);
                } else {
                    m_uFadeAlpha = 255;
                    if (m_pManager) m_pManager->KillTimer(this, kFadeTimerId);
                }
            }
            Invalidate();
            return;
        }
        break;
    default:
        break;
    }
    CLabelUI::DoEvent(event);
}

void CButtonUI::SetImage(UIImageDrawInfo& info, LPCWSTR image) { StoreImageDescription(*this, info, image); }

void CButtonUI::SetFiveStatusImage(LPCWSTR image)
{
    UIImageDrawInfo* records[5] = {&m_diNormal, &m_diPushed, &m_diHot, &m_diFocused, &m_diDisabled};
    for (int i = 0; i < 5; ++i) {
        UIImageDrawInfo& info = *records[i];
        info.Clear();
        info.sDrawString = image;
        if (!CDrawHelper::LoadDrawInfo(m_pManager, info)) continue;
        // Multiples of one fifth, so that every state has the same width.
        const int fifth = info.pImageInfo->nX / 5;
        info.rcSource = RECT{i * fifth, 0, (i + 1) * fifth, info.pImageInfo->nY};
        if (i == 0 && m_bFloat && m_cxyFixed.cx == 0 && m_cxyFixed.cy == 0) {
            m_cxyFixed.cx = fifth;
            m_cxyFixed.cy = info.pImageInfo->nY;
        }
    }
    Invalidate();
}

void CButtonUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    auto is = [pstrName](LPCWSTR n) { return std::wcscmp(pstrName, n) == 0; };
    if (is(L"normalimage")) SetNormalImage(pstrValue);
    else if (is(L"hotimage")) SetHotImage(pstrValue);
    else if (is(L"pushedimage")) SetPushedImage(pstrValue);
    else if (is(L"focusedimage")) SetFocusedImage(pstrValue);
    else if (is(L"disabledimage")) SetDisabledImage(pstrValue);
    else if (is(L"foreimage")) SetForeImage(pstrValue);
    else if (is(L"hotforeimage")) SetHotForeImage(pstrValue);
    else if (is(L"fivestatusimage")) SetFiveStatusImage(pstrValue);
    else if (is(L"fadedelta")) m_uFadeAlphaDelta = static_cast<BYTE>(std::wcstol(pstrValue, nullptr, 10));
    else if (is(L"hotbkcolor")) m_dwHotBkColor = ParseColorText(pstrValue);
    else if (is(L"pushedbkcolor")) m_dwPushedBkColor = ParseColorText(pstrValue);
    else if (is(L"disabledbkcolor")) m_dwDisabledBkColor = ParseColorText(pstrValue);
    else if (is(L"hottextcolor")) m_dwHotTextColor = ParseColorText(pstrValue);
    else if (is(L"pushedtextcolor")) m_dwPushedTextColor = ParseColorText(pstrValue);
    else if (is(L"focusedtextcolor")) m_dwFocusedTextColor = ParseColorText(pstrValue);
    else CLabelUI::SetAttribute(pstrName, pstrValue);
}

SIZE CButtonUI::EstimateSize(SIZE szAvailable)
{
    if (m_cxyFixed.cy != 0) return CControlUI::EstimateSize(szAvailable);
    const int height = m_pManager ? m_pManager->GetFontInfo(m_iFont)->tm.tmHeight : 0;
    return SIZE{m_cxyFixed.cx, height + 8};
}

void CButtonUI::SyncStateBits()
{
    if (IsFocused()) m_uButtonState |= UISTATE_FOCUSED;
    else m_uButtonState &= ~UISTATE_FOCUSED;
    if (!IsEnabled()) m_uButtonState |= UISTATE_DISABLED;
    else m_uButtonState &= ~UISTATE_DISABLED;
}

void CButtonUI::PaintNormalSequence(HDC hDC)
{
    if (m_uFadeAlphaDelta > 0 && m_uFadeAlpha < 255) {
        DrawFaded(*this, hDC, m_diHot, static_cast<BYTE>(255 - m_uFadeAlpha));
        DrawFaded(*this, hDC, m_diNormal, m_uFadeAlpha);
    } else {
        DrawImage(hDC, m_diNormal);
    }
}

void CButtonUI::PaintStatusImage(HDC hDC)
{
    SyncStateBits();
    auto fill = [&](DWORD color) {
        if (color != 0) CDrawHelper::DrawColor(hDC, m_rcPaint, AdjustColor(color));
    };
    if (m_uButtonState & UISTATE_DISABLED) {
        fill(m_dwDisabledBkColor);
        if (!DrawImage(hDC, m_diDisabled)) PaintNormalSequence(hDC);
    } else if (m_uButtonState & UISTATE_PUSHED) {
        fill(m_dwPushedBkColor);
        if (!DrawImage(hDC, m_diPushed)) DrawImage(hDC, m_diNormal);
        if (!DrawImage(hDC, m_diPushedFore)) DrawImage(hDC, m_diFore);
        return;
    } else if (m_uButtonState & UISTATE_HOT) {
        fill(m_dwHotBkColor);
        if (m_uFadeAlphaDelta > 0) {
            if (m_uFadeAlpha != 0) DrawFaded(*this, hDC, m_diNormal, m_uFadeAlpha);
            DrawFaded(*this, hDC, m_diHot, static_cast<BYTE>(m_uFadeAlpha == 0 ? 255 : 255 - m_uFadeAlpha));
        } else if (!DrawImage(hDC, m_diHot)) {
            DrawImage(hDC, m_diNormal);
        }
        if (!DrawImage(hDC, m_diHotFore)) DrawImage(hDC, m_diFore);
        return;
    } else if (!((m_uButtonState & UISTATE_FOCUSED) && DrawImage(hDC, m_diFocused))) {
        PaintNormalSequence(hDC);
    }
    DrawImage(hDC, m_diFore);
}

void CButtonUI::PaintText(HDC hDC)
{
    SyncStateBits();
    TakeDefaultColors();
    if (m_sText.IsEmpty()) return;
    const RECT rc = GetTextRect();
    DWORD color = IsEnabled() ? m_dwTextColor : m_dwDisabledTextColor;
    if ((m_uButtonState & UISTATE_PUSHED) && m_dwPushedTextColor != 0) color = m_dwPushedTextColor;
    else if ((m_uButtonState & UISTATE_HOT) && m_dwHotTextColor != 0) color = m_dwHotTextColor;
    else if ((m_uButtonState & UISTATE_FOCUSED) && m_dwFocusedTextColor != 0) color = m_dwFocusedTextColor;
    DrawPlainText(hDC, rc, color);
}

}  // namespace SkinUI
