// The scroll bar: part layout, painting, and the press, drag and repeat logic.
#include "UIScrollBar.h"

#include <cstdlib>
#include <cwchar>

#include "UIContainer.h"
#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

namespace {
const int kRepeatDelayTicks = 5;
}

CScrollBarUI::CScrollBarUI()
    : m_bHorizontal(false),
      m_nRange(100),
      m_nScrollPos(0),
      m_nLineSize(8),
      m_nScrollUnit(1),
      m_pOwner(nullptr),
      m_ptLastMouse{0, 0},
      m_nLastScrollPos(0),
      m_nLastScrollOffset(0),
      m_nScrollRepeatDelay(0),
      m_bShowButton1(true),
      m_bShowButton2(true),
      m_rcButton1{0, 0, 0, 0},
      m_uButton1State(0),
      m_dwButton1Color(0),
      m_rcButton2{0, 0, 0, 0},
      m_uButton2State(0),
      m_dwButton2Color(0),
      m_rcThumb{0, 0, 0, 0},
      m_uThumbState(0),
      m_dwThumbColor(0)
{
    m_cxyFixed.cx = 16;
}

LPCWSTR CScrollBarUI::GetClass() const { return L"ScrollBar"; }

void* CScrollBarUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && wcscmp(pstrName, L"ScrollBar") == 0) return this;
    return CControlUI::GetInterface(pstrName);
}

void CScrollBarUI::SetEnabled(bool bEnable)
{
    CControlUI::SetEnabled(bEnable);
    if (!IsEnabled()) {
        m_uButton1State = 0;
        m_uButton2State = 0;
        m_uThumbState = 0;
    }
}

void CScrollBarUI::SetFocus()
{
    if (m_pOwner) {
        m_pOwner->SetFocus();
    } else {
        CControlUI::SetFocus();
    }
}

void CScrollBarUI::SetVisible(bool bVisible)
{
    if (m_bVisible == bVisible) return;
    m_bVisible = bVisible;
    if (m_bFocused) m_bFocused = false;
}

void CScrollBarUI::SetHorizontal(bool bHorizontal)
{
    if (m_bHorizontal == bHorizontal) return;
    m_bHorizontal = bHorizontal;
    if (m_bHorizontal) {
        if (m_cxyFixed.cy == 0) {
            m_cxyFixed.cx = 0;
            m_cxyFixed.cy = 16;
        }
    } else if (m_cxyFixed.cx == 0) {
        m_cxyFixed.cx = 16;
        m_cxyFixed.cy = 0;
    }
    if (m_pOwner) {
        m_pOwner->NeedUpdate();
    } else {
        NeedParentUpdate();
    }
}

void CScrollBarUI::SetScrollRange(int nRange)
{
    if (m_nRange == nRange) return;
    m_nRange = nRange < 0 ? 0 : nRange;
    if (m_nScrollPos > m_nRange) m_nScrollPos = m_nRange;
    SetPos(m_rcItem, true);
}

void CScrollBarUI::SetScrollPos(int nPos, bool bTriggerEvent)
{
    if (m_nScrollPos == nPos) return;
    const int old = m_nScrollPos;
    if (nPos < 0) nPos = 0;
    if (m_nScrollUnit > 1) {
        const int rem = nPos % m_nScrollUnit;
        nPos = rem < m_nScrollUnit / 2 ? nPos - rem : nPos + m_nScrollUnit - rem;
    }
    if (nPos > m_nRange) nPos = m_nRange;
    m_nScrollPos = nPos;
    SetPos(m_rcItem, true);
    if (bTriggerEvent && m_pManager) m_pManager->SendNotify(this, L"scroll", m_nScrollPos, old, true);
}

void CScrollBarUI::SetShowButton1(bool bShow)
{
    m_bShowButton1 = bShow;
    SetPos(m_rcItem);
}

void CScrollBarUI::SetShowButton2(bool bShow)
{
    m_bShowButton2 = bShow;
    SetPos(m_rcItem);
}

void CScrollBarUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    CControlUI::SetPos(rc, bNeedInvalidate);
    rc = m_rcItem;
    // Laid out along the bar's axis; `across` is the other one.
    const bool hor = m_bHorizontal;
    const LONG lo = hor ? rc.left : rc.top;
    const LONG hi = hor ? rc.right : rc.bottom;
    const LONG across = hor ? rc.top : rc.left;
    const LONG acrossEnd = hor ? rc.bottom : rc.right;
    const int s = hor ? m_cxyFixed.cy : m_cxyFixed.cx;
    const int length = hi - lo;
    const int a = length - (m_bShowButton1 ? s : 0) - (m_bShowButton2 ? s : 0);
    auto make = [hor](LONG alongLo, LONG alongHi, LONG c0, LONG c1) {
        return hor ? RECT{alongLo, c0, alongHi, c1} : RECT{c0, alongLo, c1, alongHi};
    };
    const int b = s < a ? s : (s < length / 2 ? s : length / 2);
    const LONG b1End = m_bShowButton1 ? lo + b : lo;
    const LONG b2Start = m_bShowButton2 ? hi - b : hi;
    m_rcButton1 = m_bShowButton1 ? make(lo, b1End, across, across + s) : make(lo, lo, across, across);
    m_rcButton2 = m_bShowButton2 ? make(b2Start, hi, across, across + s) : make(hi, hi, across, across);
    if (s >= a) {
        m_rcThumb = RECT{0, 0, 0, 0};
        return;
    }
    LONG top = b1End;
    LONG bottom = b2Start;
    if (m_nRange >= 1) {
        int len = static_cast<int>(static_cast<long long>(length) * a / (length + m_nRange));
        if (len < s) len = s;
        top = static_cast<LONG>(static_cast<long long>(a - len) * m_nScrollPos / m_nRange) + b1End;
        bottom = top + len;
        if (bottom > b2Start) {
            top = b2Start - len;
            bottom = b2Start;
        }
    }
    m_rcThumb = make(top, bottom, across, acrossEnd);
}

void CScrollBarUI::LineBack()
{
    if (m_pOwner) {
        m_bHorizontal ? m_pOwner->LineLeft() : m_pOwner->LineUp();
    } else {
        SetScrollPos(m_nScrollPos - GetLineSize());
    }
}

void CScrollBarUI::LineForward()
{
    if (m_pOwner) {
        m_bHorizontal ? m_pOwner->LineRight() : m_pOwner->LineDown();
    } else {
        SetScrollPos(m_nScrollPos + GetLineSize());
    }
}

void CScrollBarUI::PageBack()
{
    if (m_pOwner) {
        m_bHorizontal ? m_pOwner->PageLeft() : m_pOwner->PageUp();
    } else {
        SetScrollPos(m_nScrollPos - (m_bHorizontal ? GetWidth() : GetHeight()));
    }
}

void CScrollBarUI::PageForward()
{
    if (m_pOwner) {
        m_bHorizontal ? m_pOwner->PageRight() : m_pOwner->PageDown();
    } else {
        SetScrollPos(m_nScrollPos + (m_bHorizontal ? GetWidth() : GetHeight()));
    }
}

void CScrollBarUI::PagePoint(POINT pt)
{
    if (!m_bHorizontal) {
        if (pt.y < m_rcThumb.top) PageBack();
        else if (pt.y > m_rcThumb.bottom) PageForward();
    } else {
        if (pt.x < m_rcThumb.left) PageBack();
        else if (pt.x > m_rcThumb.right) PageForward();
    }
}

void CScrollBarUI::Forward(UIEvent& event)
{
    if (m_pOwner) {
        m_pOwner->DoEvent(event);
    } else {
        CControlUI::DoEvent(event);
    }
}

void CScrollBarUI::DoEvent(UIEvent& event)
{
    if (!IsMouseEnabled() && IsMouseEventType(event.Type)) {
        Forward(event);
        return;
    }
    if (event.Type == UIEventSetFocus || event.Type == UIEventKillFocus || event.Type == UIEventContextMenu) return;

    if ((event.Type == UIEventButtonDown || event.Type == UIEventDoubleClick) && IsEnabled()) {
        m_nLastScrollOffset = 0;
        m_nScrollRepeatDelay = 0;
        if (m_pManager) m_pManager->SetTimer(this, kRepeatTimerId, 50);
        if (::PtInRect(&m_rcButton1, event.ptMouse)) {
            m_uButton1State |= kStatePushed;
            LineBack();
        } else if (::PtInRect(&m_rcButton2, event.ptMouse)) {
            m_uButton2State |= kStatePushed;
            LineForward();
        } else if (::PtInRect(&m_rcThumb, event.ptMouse)) {
            m_uThumbState |= kStateCaptured | kStatePushed;
            m_ptLastMouse = event.ptMouse;
            m_nLastScrollPos = m_nScrollPos;
        } else {
            PagePoint(event.ptMouse);
        }
        Invalidate();
        return;
    }
    if (event.Type == UIEventButtonUp) {
        m_nScrollRepeatDelay = 0;
        m_nLastScrollOffset = 0;
        if (m_pManager) m_pManager->KillTimer(this, kRepeatTimerId);
        if (m_uThumbState & kStateCaptured) {
            m_uThumbState &= ~(kStateCaptured | kStatePushed);
        } else if (m_uButton1State & kStatePushed) {
            m_uButton1State &= ~kStatePushed;
        } else if (m_uButton2State & kStatePushed) {
            m_uButton2State &= ~kStatePushed;
        }
        Invalidate();
        return;
    }
    if (event.Type == UIEventMouseMove) {
        if (m_uThumbState & kStateCaptured) {
            int track;
            int delta;
            if (!m_bHorizontal) {
                track = m_rcItem.bottom - m_rcItem.top - (m_rcThumb.bottom - m_rcThumb.top);
                if (m_bShowButton1) track -= m_cxyFixed.cx;
                if (m_bShowButton2) track -= m_cxyFixed.cx;
                delta = event.ptMouse.y - m_ptLastMouse.y;
            } else {
                track = m_rcItem.right - m_rcItem.left - (m_rcThumb.right - m_rcThumb.left);
                if (m_bShowButton1) track -= m_cxyFixed.cy;
                if (m_bShowButton2) track -= m_cxyFixed.cy;
                delta = event.ptMouse.x - m_ptLastMouse.x;
            }
            if (track != 0) m_nLastScrollOffset = static_cast<int>(static_cast<long long>(delta) * m_nRange / track);
        } else {
            const bool onThumb = ::PtInRect(&m_rcThumb, event.ptMouse) != 0;
            const bool wasHot = (m_uThumbState & kStateHot) != 0;
            if (onThumb && IsEnabled()) {
                m_uThumbState |= kStateHot;
            } else {
                m_uThumbState &= ~kStateHot;
            }
            if (wasHot != ((m_uThumbState & kStateHot) != 0)) Invalidate();
        }
        return;
    }
    if (event.Type == UIEventTimer && event.wParam == kRepeatTimerId) {
        ++m_nScrollRepeatDelay;
        if (m_uThumbState & kStateCaptured) {
            if (m_pOwner) {
                SIZE sz = m_pOwner->GetScrollPos();
                if (m_bHorizontal) sz.cx = m_nLastScrollPos + m_nLastScrollOffset;
                else sz.cy = m_nLastScrollPos + m_nLastScrollOffset;
                m_pOwner->SetScrollPos(sz);
            } else {
                SetScrollPos(m_nLastScrollPos + m_nLastScrollOffset);
            }
            Invalidate();
        } else if (m_nScrollRepeatDelay > kRepeatDelayTicks) {
            if (m_uButton1State & kStatePushed) {
                LineBack();
            } else if (m_uButton2State & kStatePushed) {
                LineForward();
            } else if (m_pManager) {
                POINT pt;
                ::GetCursorPos(&pt);
                ::ScreenToClient(m_pManager->GetPaintWindow(), &pt);
                PagePoint(pt);
            }
        }
        return;
    }
    if (event.Type == UIEventMouseEnter) {
        if (IsEnabled() && ::PtInRect(&m_rcItem, event.ptMouse)) {
            m_uButton1State |= kStateHot;
            m_uButton2State |= kStateHot;
            if (::PtInRect(&m_rcThumb, event.ptMouse)) m_uThumbState |= kStateHot;
            Invalidate();
        }
        return;
    }
    if (event.Type == UIEventMouseLeave) {
        if (!::PtInRect(&m_rcItem, event.ptMouse)) {
            if (m_pManager) m_pManager->AddMouseLeavePending(this);
            return;
        }
        if (IsEnabled()) {
            m_uButton1State &= ~kStateHot;
            m_uButton2State &= ~kStateHot;
            m_uThumbState &= ~kStateHot;
            Invalidate();
        }
        if (m_pManager) m_pManager->RemoveMouseLeavePending(this);
        Forward(event);
        return;
    }
    Forward(event);
}

void CScrollBarUI::SetImage(UIImageDrawInfo& info, LPCWSTR value)
{
    if (info.sDrawString.Equals(value ? value : L"") && info.pImageInfo) return;
    info.Clear();
    info.sDrawString = value;
    Invalidate();
}

void CScrollBarUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    struct ImageAttr {
        LPCWSTR name;
        UIImageDrawInfo CScrollBarUI::*field;
    };
    static const ImageAttr kImages[] = {
        {L"button1normalimage", &CScrollBarUI::m_b1Normal}, {L"button1hotimage", &CScrollBarUI::m_b1Hot},
        {L"button1pushedimage", &CScrollBarUI::m_b1Pushed}, {L"button1disabledimage", &CScrollBarUI::m_b1Disabled},
        {L"button2normalimage", &CScrollBarUI::m_b2Normal}, {L"button2hotimage", &CScrollBarUI::m_b2Hot},
        {L"button2pushedimage", &CScrollBarUI::m_b2Pushed}, {L"button2disabledimage", &CScrollBarUI::m_b2Disabled},
        {L"thumbnormalimage", &CScrollBarUI::m_thNormal},   {L"thumbhotimage", &CScrollBarUI::m_thHot},
        {L"thumbpushedimage", &CScrollBarUI::m_thPushed},   {L"thumbdisabledimage", &CScrollBarUI::m_thDisabled},
        {L"railnormalimage", &CScrollBarUI::m_raNormal},    {L"railhotimage", &CScrollBarUI::m_raHot},
        {L"railpushedimage", &CScrollBarUI::m_raPushed},    {L"raildisabledimage", &CScrollBarUI::m_raDisabled},
        {L"bknormalimage", &CScrollBarUI::m_bkNormal},      {L"bkhotimage", &CScrollBarUI::m_bkHot},
        {L"bkpushedimage", &CScrollBarUI::m_bkPushed},      {L"bkdisabledimage", &CScrollBarUI::m_bkDisabled},
    };
    auto setColor = [this](DWORD& field, DWORD value) {
        if (field == value) return;
        field = value;
        Invalidate();
    };
    if (wcscmp(pstrName, L"button1color") == 0) {
        setColor(m_dwButton1Color, ParseColorText(pstrValue));
    } else if (wcscmp(pstrName, L"button2color") == 0) {
        setColor(m_dwButton2Color, ParseColorText(pstrValue));
    } else if (wcscmp(pstrName, L"thumbcolor") == 0) {
        setColor(m_dwThumbColor, ParseColorText(pstrValue));
    } else if (wcscmp(pstrName, L"hor") == 0) {
        SetHorizontal(IsTrue(pstrValue));
    } else if (wcscmp(pstrName, L"linesize") == 0) {
        SetLineSize(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"range") == 0) {
        SetScrollRange(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"value") == 0) {
        SetScrollPos(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"scrollunit") == 0) {
        SetScrollUnit(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"showbutton1") == 0) {
        SetShowButton1(IsTrue(pstrValue));
    } else if (wcscmp(pstrName, L"showbutton2") == 0) {
        SetShowButton2(IsTrue(pstrValue));
    } else {
        for (const ImageAttr& a : kImages) {
            if (wcscmp(pstrName, a.name) == 0) {
                SetImage(this->*(a.field), pstrValue);
                return;
            }
        }
        CControlUI::SetAttribute(pstrName, pstrValue);
    }
}

void CScrollBarUI::PaintColorImage(HDC hDC, UIImageDrawInfo& info, const RECT& rc)
{
    CDrawHelper::DrawImageString(hDC, m_pManager, rc, m_rcPaint, info);
}

void CScrollBarUI::PaintPart(HDC hDC, const RECT& rc, UINT state, DWORD color, UIImageDrawInfo* images[4])
{
    if (color != 0) CDrawHelper::DrawColor(hDC, rc, AdjustColor(color));
    UIImageDrawInfo* pick = nullptr;
    if (state & kStateDisabled) pick = images[3];
    else if (state & kStatePushed) pick = images[2];
    else if (state & kStateHot) pick = images[1];
    if (pick && !pick->sDrawString.IsEmpty() && CDrawHelper::DrawImageString(hDC, m_pManager, rc, m_rcPaint, *pick))
        return;
    if (!images[0]->sDrawString.IsEmpty()) CDrawHelper::DrawImageString(hDC, m_pManager, rc, m_rcPaint, *images[0]);
}

bool CScrollBarUI::DoPaint(HDC hDC, const RECT&, CControlUI*)
{
    PaintBkColor(hDC);
    PaintBkImage(hDC);
    const UINT disabled = IsEnabled() ? 0 : kStateDisabled;
    UIImageDrawInfo* bk[4] = {&m_bkNormal, &m_bkHot, &m_bkPushed, &m_bkDisabled};
    PaintPart(hDC, m_rcItem, (m_uThumbState & ~kStateDisabled) | disabled, 0, bk);
    if (m_bShowButton1) {
        m_uButton1State = (m_uButton1State & ~kStateDisabled) | disabled;
        UIImageDrawInfo* b1[4] = {&m_b1Normal, &m_b1Hot, &m_b1Pushed, &m_b1Disabled};
        PaintPart(hDC, m_rcButton1, m_uButton1State, m_dwButton1Color, b1);
    }
    if (m_bShowButton2) {
        m_uButton2State = (m_uButton2State & ~kStateDisabled) | disabled;
        UIImageDrawInfo* b2[4] = {&m_b2Normal, &m_b2Hot, &m_b2Pushed, &m_b2Disabled};
        PaintPart(hDC, m_rcButton2, m_uButton2State, m_dwButton2Color, b2);
    }
    if (!::IsRectEmpty(&m_rcThumb)) {
        m_uThumbState = (m_uThumbState & ~kStateDisabled) | disabled;
        UIImageDrawInfo* th[4] = {&m_thNormal, &m_thHot, &m_thPushed, &m_thDisabled};
        PaintPart(hDC, m_rcThumb, m_uThumbState, m_dwThumbColor, th);
        RECT rail;
        if (!m_bHorizontal) {
            const int top = (m_rcThumb.top + m_rcThumb.bottom) / 2 - m_cxyFixed.cx / 2;
            rail = RECT{m_rcThumb.left, top, m_rcThumb.right, top + m_cxyFixed.cx};
        } else {
            const int left = (m_rcThumb.left + m_rcThumb.right) / 2 - m_cxyFixed.cy / 2;
            rail = RECT{left, m_rcThumb.top, left + m_cxyFixed.cy, m_rcThumb.bottom};
        }
        UIImageDrawInfo* ra[4] = {&m_raNormal, &m_raHot, &m_raPushed, &m_raDisabled};
        PaintPart(hDC, rail, m_uThumbState, 0, ra);
    }
    PaintBorder(hDC);
    return true;
}

}  // namespace SkinUI
