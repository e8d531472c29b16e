// The slider: thumb geometry, dragging and the wheel, and the thumb's states.
#include "UISlider.h"

#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "UIButton.h"
#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

CSliderUI::CSliderUI() { m_uTextStyle = DT_CENTER | DT_SINGLELINE; }

LPCWSTR CSliderUI::GetClass() const { return L"Slider"; }

void* CSliderUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"Slider") == 0) return this;
    return CProgressUI::GetInterface(pstrName);
}

UINT CSliderUI::GetControlFlags() const { return IsEnabled() ? (UIFLAG_TABSTOP | UIFLAG_SETCURSOR) : 0; }

void CSliderUI::SetEnabled(bool bEnable)
{
    CProgressUI::SetEnabled(bEnable);
    if (!IsEnabled()) m_uButtonState = 0;
}

// Geometry in 64 bits: a range of millions times a length of thousands passes 2^31.
RECT CSliderUI::ComputeThumbRect() const
{
    const int64_t span = static_cast<int64_t>(m_nMax) - m_nMin;
    const int64_t done = span > 0 ? static_cast<int64_t>(m_nValue) - m_nMin : 0;
    const int tw = m_szThumb.cx;
    const int th = m_szThumb.cy;
    const RECT& rc = m_rcItem;
    if (m_bHorizontal) {
        const int64_t track = static_cast<int64_t>(rc.right) - rc.left - tw;
        const LONG left = rc.left + static_cast<LONG>(span > 0 ? track * done / span : 0);
        const LONG top = (rc.top + rc.bottom - th) / 2;
        return RECT{left, top, left + tw, top + th};
    }
    const int64_t track = static_cast<int64_t>(rc.bottom) - rc.top - th;
    const LONG bottom = rc.bottom - static_cast<LONG>(span > 0 ? track * done / span : 0);
    const LONG left = (rc.left + rc.right - tw) / 2;
    return RECT{left, bottom - th, left + tw, bottom};
}

int CSliderUI::ValueAt(POINT pt) const
{
    const int64_t span = static_cast<int64_t>(m_nMax) - m_nMin;
    const RECT& rc = m_rcItem;
    if (m_bHorizontal) {
        const int half = m_szThumb.cx / 2;
        if (pt.x >= rc.right - half) return m_nMax;
        if (pt.x <= rc.left + half) return m_nMin;
        const int64_t track = static_cast<int64_t>(rc.right) - rc.left - m_szThumb.cx;
        if (track <= 0) return m_nMin;
        return static_cast<int>(m_nMin + span * (pt.x - rc.left - half) / track);
    }
    const int half = m_szThumb.cy / 2;
    if (pt.y >= rc.bottom - half) return m_nMin;
    if (pt.y <= rc.top + half) return m_nMax;
    const int64_t track = static_cast<int64_t>(rc.bottom) - rc.top - m_szThumb.cy;
    if (track <= 0) return m_nMin;
    return static_cast<int>(m_nMin + (static_cast<int64_t>(rc.bottom) - half - pt.y) * span / track);
}

void CSliderUI::NotifyValue()
{
    if (m_pManager) m_pManager->SendNotify(this, L"valuechanged");
}

void CSliderUI::DoEvent(UIEvent& event)
{
    if (!IsMouseEnabled() && IsMouseEventType(event.Type)) {
        if (m_pParent) m_pParent->DoEvent(event);
        else CLabelUI::DoEvent(event);
        return;
    }
    switch (event.Type) {
    case UIEventButtonDown:
    case UIEventDoubleClick:
        if (IsEnabled()) {
            m_uButtonState |= UISTATE_CAPTURED;
            const int value = ValueAt(event.ptMouse);
            if (value != m_nValue && value >= m_nMin && value <= m_nMax) {
                m_nValue = value;
                Invalidate();
            }
        }
        return;
    case UIEventButtonUp:
        if (m_uButtonState & UISTATE_CAPTURED) {
            m_nValue = ValueAt(event.ptMouse);
            NotifyValue();
            m_uButtonState &= ~UISTATE_CAPTURED;
            Invalidate();
        }
        return;
    case UIEventContextMenu:
        return;
    case UIEventMouseWheel:
        if (event.wParam == 0 || event.wParam == 1) {
            int64_t value = static_cast<int64_t>(m_nValue) + (event.wParam == 0 ? m_nStep : -int64_t(m_nStep));
            if (value > INT32_MAX) value = INT32_MAX;
            if (value < INT32_MIN) value = INT32_MIN;
            SetValue(static_cast<int>(value));
            NotifyValue();
            return;
        }
        break;
    case UIEventMouseMove:
        if (m_uButtonState & UISTATE_CAPTURED) {
            m_nValue = ValueAt(event.ptMouse);
            if (m_bImmediate) NotifyValue();
            Invalidate();
        }
        return;
    case UIEventSetCursor: {
        const RECT thumb = ComputeThumbRect();
        if (IsEnabled() && ::PtInRect(&thumb, event.ptMouse)) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return;
        }
        break;
    }
    case UIEventMouseEnter:
        if (::PtInRect(&m_rcItem, event.ptMouse) && IsEnabled()) {
            m_uButtonState |= UISTATE_HOT;
            Invalidate();
        }
        break;
    case UIEventMouseLeave:
        if (::PtInRect(&m_rcItem, event.ptMouse)) {
            if (m_pManager) m_pManager->AddMouseLeavePending(this);
        } else {
            if (IsEnabled()) {
                m_uButtonState &= ~UISTATE_HOT;
                Invalidate();
            }
            if (m_pManager) m_pManager->RemoveMouseLeavePending(this);
        }
        break;
    default:
        break;
    }
    CControlUI::DoEvent(event);
    Invalidate();
}

void CSliderUI::SetThumbImage(UIImageDrawInfo& info, LPCWSTR image)
{
    if (info.sDrawString.Equals(image ? image : L"") && info.pImageInfo) return;
    info.Clear();
    info.sDrawString = image;
    Invalidate();
}

void CSliderUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    auto is = [pstrName](LPCWSTR n) { return std::wcscmp(pstrName, n) == 0; };
    if (is(L"thumbimage")) {
        SetThumbImage(m_diThumb, pstrValue);
    } else if (is(L"thumbhotimage")) {
        SetThumbImage(m_diThumbHot, pstrValue);
    } else if (is(L"thumbpushedimage")) {
        SetThumbImage(m_diThumbPushed, pstrValue);
    } else if (is(L"thumbsize")) {
        int v[2] = {0, 0};
        ReadNumberList(pstrValue, v, 2);
        m_szThumb = SIZE{v[0], v[1]};
    } else if (is(L"step")) {
        m_nStep = static_cast<int>(std::wcstol(pstrValue, nullptr, 10));
    } else if (is(L"imm")) {
        m_bImmediate = IsTrue(pstrValue);
    } else {
        CProgressUI::SetAttribute(pstrName, pstrValue);
    }
}

void CSliderUI::PaintStatusImage(HDC hDC)
{
    CProgressUI::PaintStatusImage(hDC);
    RECT thumb = ComputeThumbRect();
    ::OffsetRect(&thumb, -m_rcItem.left, -m_rcItem.top);
    auto draw = [&](UIImageDrawInfo& info) {
        if (info.sDrawString.IsEmpty() || !CDrawHelper::LoadDrawInfo(m_pManager, info)) return false;
        info.rcDest = thumb;
        return DrawImage(hDC, info);
    };
    if ((m_uButtonState & UISTATE_CAPTURED) && draw(m_diThumbPushed)) return;
    if (!(m_uButtonState & UISTATE_CAPTURED) && (m_uButtonState & UISTATE_HOT) && draw(m_diThumbHot)) return;
    draw(m_diThumb);
}

}  // namespace SkinUI
