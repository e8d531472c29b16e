// The container: child list, placement over the client area, scroll bars,
// hit testing and painting of the children.
#include "UIContainer.h"

#include <cstdlib>
#include <cwchar>

#include "UIManager.h"
#include "UIRender.h"
#include "UIScrollBar.h"

namespace SkinUI {

CContainerUI::CContainerUI()
    : m_rcInset{0, 0, 0, 0},
      m_iChildPadding(0),
      m_iChildAlign(DT_LEFT),
      m_iChildVAlign(DT_TOP),
      m_bAutoDestroy(true),
      m_bDelayedDestroy(true),
      m_bMouseChildEnabled(true),
      m_bScrollProcess(false),
      m_pVerticalScrollBar(nullptr),
      m_pHorizontalScrollBar(nullptr)
{
}

CContainerUI::~CContainerUI()
{
    m_bDelayedDestroy = false;
    RemoveAll();
    if (m_pVerticalScrollBar) m_pVerticalScrollBar->Delete();
    if (m_pHorizontalScrollBar) m_pHorizontalScrollBar->Delete();
}

LPCWSTR CContainerUI::GetClass() const { return L"Container"; }

void* CContainerUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && wcscmp(pstrName, L"IContainer") == 0) return static_cast<IContainerUI*>(this);
    if (pstrName && wcscmp(pstrName, L"Container") == 0) return static_cast<CContainerUI*>(this);
    return CControlUI::GetInterface(pstrName);
}

CControlUI* CContainerUI::GetItemAt(int iIndex) const
{
    if (iIndex < 0 || iIndex >= m_items.GetSize()) return nullptr;
    return static_cast<CControlUI*>(m_items.ItemAt(iIndex));
}

int CContainerUI::GetItemIndex(CControlUI* pControl) const { return m_items.Find(pControl); }

bool CContainerUI::SetItemIndex(CControlUI* pControl, int iIndex)
{
    const int at = m_items.Find(pControl);
    if (at < 0) return false;
    NeedUpdate();
    m_items.Remove(at);
    return m_items.InsertAt(iIndex, pControl);
}

bool CContainerUI::SetMultiItemIndex(CControlUI* pStartControl, int iCount, int iNewStartIndex)
{
    if (!pStartControl || iCount < 0 || iNewStartIndex < 0) return false;
    const int start = m_items.Find(pStartControl);
    if (start == iNewStartIndex) return true;
    if (start < 0 || start + iCount > m_items.GetSize() || iNewStartIndex + iCount > m_items.GetSize()) return false;
    CUIPtrArray moved;
    for (int i = 0; i < iCount; ++i) moved.Add(m_items.ItemAt(start + i));
    m_items.Remove(start, iCount);
    NeedUpdate();
    for (int i = 0; i < iCount; ++i) {
        if (!m_items.InsertAt(iNewStartIndex + i, moved.ItemAt(i))) return false;
    }
    return true;
}

int CContainerUI::GetCount() const { return m_items.GetSize(); }

bool CContainerUI::Add(CControlUI* pControl)
{
    if (!pControl) return false;
    if (m_pManager) m_pManager->AttachSubtree(pControl, this);
    if (IsVisible()) {
        NeedUpdate();
    } else {
        pControl->SetInheritedVisible(false);
    }
    return m_items.Add(pControl);
}

bool CContainerUI::AddAt(CControlUI* pControl, int iIndex)
{
    if (!pControl) return false;
    if (m_pManager) m_pManager->AttachSubtree(pControl, this);
    if (IsVisible()) {
        NeedUpdate();
    } else {
        pControl->SetInheritedVisible(false);
    }
    return m_items.InsertAt(iIndex, pControl);
}

bool CContainerUI::DestroyChild(CControlUI* pControl)
{
    if (m_bDelayedDestroy && m_pManager) {
        m_pManager->AddDelayedCleanup(pControl);
    } else {
        pControl->Delete();
    }
    return true;
}

bool CContainerUI::Remove(CControlUI* pControl, bool bDoNotDestroy)
{
    const int at = m_items.Find(pControl);
    if (at < 0) return false;
    NeedUpdate();
    if (!bDoNotDestroy && m_bAutoDestroy) DestroyChild(pControl);
    return m_items.Remove(at);
}

bool CContainerUI::RemoveAt(int iIndex, bool bDoNotDestroy)
{
    CControlUI* pControl = GetItemAt(iIndex);
    if (!pControl) return false;
    return Remove(pControl, bDoNotDestroy);
}

void CContainerUI::RemoveAll()
{
    for (int i = 0; m_bAutoDestroy && i < m_items.GetSize(); ++i) {
        DestroyChild(static_cast<CControlUI*>(m_items.ItemAt(i)));
    }
    m_items.Empty();
    NeedUpdate();
}

RECT CContainerUI::GetInset() const { return m_rcInset; }

void CContainerUI::SetInset(RECT rcInset)
{
    if (rcInset.left < 0) rcInset.left = 0;
    if (rcInset.top < 0) rcInset.top = 0;
    if (rcInset.right < 0) rcInset.right = 0;
    if (rcInset.bottom < 0) rcInset.bottom = 0;
    m_rcInset = rcInset;
    NeedUpdate();
}

int CContainerUI::GetChildPadding() const { return m_iChildPadding; }

void CContainerUI::SetChildPadding(int iPadding)
{
    m_iChildPadding = iPadding < 0 ? 0 : iPadding;
    NeedUpdate();
}

UINT CContainerUI::GetChildAlign() const { return m_iChildAlign; }
void CContainerUI::SetChildAlign(UINT iAlign)
{
    m_iChildAlign = iAlign;
    NeedUpdate();
}
UINT CContainerUI::GetChildVAlign() const { return m_iChildVAlign; }
void CContainerUI::SetChildVAlign(UINT iVAlign)
{
    m_iChildVAlign = iVAlign;
    NeedUpdate();
}
bool CContainerUI::IsAutoDestroy() const { return m_bAutoDestroy; }
void CContainerUI::SetAutoDestroy(bool bAuto) { m_bAutoDestroy = bAuto; }
bool CContainerUI::IsDelayedDestroy() const { return m_bDelayedDestroy; }
void CContainerUI::SetDelayedDestroy(bool bDelayed) { m_bDelayedDestroy = bDelayed; }
bool CContainerUI::IsMouseChildEnabled() const { return m_bMouseChildEnabled; }
void CContainerUI::SetMouseChildEnabled(bool bEnable) { m_bMouseChildEnabled = bEnable; }

int CContainerUI::FindSelectable(int iIndex, bool bForward) const
{
    const int n = m_items.GetSize();
    if (n == 0) return -1;
    if (iIndex < 0) iIndex = 0;
    if (iIndex >= n) iIndex = n - 1;
    auto selectable = [this](int i) {
        CControlUI* c = static_cast<CControlUI*>(m_items.ItemAt(i));
        return c->GetInterface(L"IListItem") != nullptr && c->IsVisible() && c->IsEnabled();
    };
    if (bForward) {
        for (int i = iIndex; i < n; ++i)
            if (selectable(i)) return i;
        return -1;
    }
    for (int i = iIndex; i >= 0; --i)
        if (selectable(i)) return i;
    return FindSelectable(0, true);
}

void CContainerUI::SetManager(CWindowManagerUI* pManager, CControlUI* pParent, bool bInit)
{
    for (int i = 0; i < m_items.GetSize(); ++i) {
        static_cast<CControlUI*>(m_items.ItemAt(i))->SetManager(pManager, this, bInit);
    }
    if (m_pVerticalScrollBar) m_pVerticalScrollBar->SetManager(pManager, this, bInit);
    if (m_pHorizontalScrollBar) m_pHorizontalScrollBar->SetManager(pManager, this, bInit);
    CControlUI::SetManager(pManager, pParent, bInit);
}

RECT CContainerUI::GetClientPos() const
{
    RECT rc = m_rcItem;
    rc.left += m_rcInset.left;
    rc.top += m_rcInset.top;
    rc.right -= m_rcInset.right;
    rc.bottom -= m_rcInset.bottom;
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible()) rc.right -= m_pVerticalScrollBar->GetFixedWidth();
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible())
        rc.bottom -= m_pHorizontalScrollBar->GetFixedHeight();
    return rc;
}

void CContainerUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    CControlUI::SetPos(rc, bNeedInvalidate);
    if (m_items.IsEmpty()) return;
    rc = m_rcItem;
    rc.left += m_rcInset.left;
    rc.top += m_rcInset.top;
    rc.right -= m_rcInset.right;
    rc.bottom -= m_rcInset.bottom;
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible()) {
        rc.top -= m_pVerticalScrollBar->GetScrollPos();
        rc.right -= m_pVerticalScrollBar->GetFixedWidth();
        rc.bottom += m_pVerticalScrollBar->GetScrollRange() - m_pVerticalScrollBar->GetScrollPos();
    }
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible()) {
        rc.left -= m_pHorizontalScrollBar->GetScrollPos();
        rc.right += m_pHorizontalScrollBar->GetScrollRange() - m_pHorizontalScrollBar->GetScrollPos();
        rc.bottom -= m_pHorizontalScrollBar->GetFixedHeight();
    }
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = static_cast<CControlUI*>(m_items.ItemAt(i));
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            SetFloatPos(i);
            continue;
        }
        SIZE sz = {rc.right - rc.left, rc.bottom - rc.top};
        if (sz.cx < child->GetMinWidth()) sz.cx = child->GetMinWidth();
        if (sz.cx > child->GetMaxWidth()) sz.cx = child->GetMaxWidth();
        if (sz.cy < child->GetMinHeight()) sz.cy = child->GetMinHeight();
        if (sz.cy > child->GetMaxHeight()) sz.cy = child->GetMaxHeight();
        child->SetPos(RECT{rc.left, rc.top, rc.left + sz.cx, rc.top + sz.cy}, false);
    }
}

void CContainerUI::Move(SIZE szOffset, bool bNeedInvalidate)
{
    CControlUI::Move(szOffset, bNeedInvalidate);
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible()) m_pVerticalScrollBar->Move(szOffset, false);
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible()) m_pHorizontalScrollBar->Move(szOffset, false);
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = static_cast<CControlUI*>(m_items.ItemAt(i));
        if (child->IsVisible()) child->Move(szOffset, false);
    }
}

void CContainerUI::SetVisible(bool bVisible)
{
    if (m_bVisible == bVisible) return;
    CControlUI::SetVisible(bVisible);
    for (int i = 0; i < m_items.GetSize(); ++i) {
        static_cast<CControlUI*>(m_items.ItemAt(i))->SetInheritedVisible(IsVisible());
    }
}

void CContainerUI::SetInheritedVisible(bool bVisible)
{
    CControlUI::SetInheritedVisible(bVisible);
    for (int i = 0; i < m_items.GetSize(); ++i) {
        static_cast<CControlUI*>(m_items.ItemAt(i))->SetInheritedVisible(IsVisible());
    }
}

void CContainerUI::SetMouseEnabled(bool bEnable)
{
    if (m_pVerticalScrollBar) m_pVerticalScrollBar->SetMouseEnabled(bEnable);
    if (m_pHorizontalScrollBar) m_pHorizontalScrollBar->SetMouseEnabled(bEnable);
    CControlUI::SetMouseEnabled(bEnable);
}

void CContainerUI::SetFloatPos(int iIndex)
{
    CControlUI* child = GetItemAt(iIndex);
    if (!child || !child->IsVisible() || !child->IsFloat()) return;
    const SIZE xy = child->GetFixedXY();
    const double* pct = child->GetFloatPercent();
    const int W = m_rcItem.right - m_rcItem.left;
    const int H = m_rcItem.bottom - m_rcItem.top;
    RECT rc;
    rc.left = static_cast<int>(W * pct[0]) + xy.cx;
    rc.top = static_cast<int>(H * pct[1]) + xy.cy;
    rc.right = static_cast<int>(W * pct[2]) + xy.cx + child->GetFixedWidth();
    rc.bottom = static_cast<int>(H * pct[3]) + xy.cy + child->GetFixedHeight();
    child->SetPos(rc, false);
}

SIZE CContainerUI::GetScrollPos() const
{
    SIZE sz = {0, 0};
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible()) sz.cy = m_pVerticalScrollBar->GetScrollPos();
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible()) sz.cx = m_pHorizontalScrollBar->GetScrollPos();
    return sz;
}

SIZE CContainerUI::GetScrollRange() const
{
    SIZE sz = {0, 0};
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible()) sz.cy = m_pVerticalScrollBar->GetScrollRange();
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible())
        sz.cx = m_pHorizontalScrollBar->GetScrollRange();
    return sz;
}

void CContainerUI::SetScrollPos(SIZE szPos)
{
    int cx = 0;
    int cy = 0;
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible()) {
        const int old = m_pVerticalScrollBar->GetScrollPos();
        m_pVerticalScrollBar->SetScrollPos(szPos.cy);
        cy = m_pVerticalScrollBar->GetScrollPos() - old;
    }
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible()) {
        const int old = m_pHorizontalScrollBar->GetScrollPos();
        m_pHorizontalScrollBar->SetScrollPos(szPos.cx);
        cx = m_pHorizontalScrollBar->GetScrollPos() - old;
    }
    if (cx == 0 && cy == 0) return;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = static_cast<CControlUI*>(m_items.ItemAt(i));
        if (!child->IsVisible() || child->IsFloat()) continue;
        child->Move(SIZE{-cx, -cy}, false);
    }
    Invalidate();
}

int CContainerUI::VerticalLineStep() const
{
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->GetScrollUnit() > 1) return m_pVerticalScrollBar->GetScrollUnit();
    if (m_pManager) return m_pManager->GetDefaultFontInfo()->tm.tmHeight + 8;
    return 8;
}

int CContainerUI::HorizontalLineStep() const
{
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->GetScrollUnit() > 1)
        return m_pHorizontalScrollBar->GetScrollUnit();
    return 8;
}

int CContainerUI::VerticalPageStep() const
{
    int step = m_rcItem.bottom - m_rcItem.top - m_rcInset.top - m_rcInset.bottom;
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible()) step -= m_pHorizontalScrollBar->GetFixedHeight();
    return step;
}

int CContainerUI::HorizontalPageStep() const
{
    int step = m_rcItem.right - m_rcItem.left - m_rcInset.left - m_rcInset.right;
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible()) step -= m_pVerticalScrollBar->GetFixedWidth();
    return step;
}

void CContainerUI::ScrollBy(int dx, int dy)
{
    SIZE sz = GetScrollPos();
    sz.cx += dx;
    sz.cy += dy;
    SetScrollPos(sz);
}

void CContainerUI::LineUp() { ScrollBy(0, -VerticalLineStep()); }
void CContainerUI::LineDown() { ScrollBy(0, VerticalLineStep()); }
void CContainerUI::PageUp() { ScrollBy(0, -VerticalPageStep()); }
void CContainerUI::PageDown() { ScrollBy(0, VerticalPageStep()); }
void CContainerUI::HomeUp() { ScrollBy(0, -GetScrollPos().cy); }
void CContainerUI::EndDown() { ScrollBy(0, GetScrollRange().cy - GetScrollPos().cy); }
void CContainerUI::LineLeft() { ScrollBy(-HorizontalLineStep(), 0); }
void CContainerUI::LineRight() { ScrollBy(HorizontalLineStep(), 0); }
void CContainerUI::PageLeft() { ScrollBy(-HorizontalPageStep(), 0); }
void CContainerUI::PageRight() { ScrollBy(HorizontalPageStep(), 0); }
void CContainerUI::HomeLeft() { ScrollBy(-GetScrollPos().cx, 0); }
void CContainerUI::EndRight() { ScrollBy(GetScrollRange().cx - GetScrollPos().cx, 0); }

void CContainerUI::SwitchScrollBar(CScrollBarUI*& bar, bool enable, bool horizontal)
{
    if (!enable) {
        if (bar) bar->Delete();
        bar = nullptr;
        return;
    }
    if (bar) return;
    bar = new CScrollBarUI;
    bar->SetScrollRange(0);
    if (horizontal) bar->SetHorizontal(true);
    bar->SetOwner(this);
    bar->SetManager(m_pManager, this, false);
    if (m_pManager) {
        if (LPCWSTR def = m_pManager->GetDefaultAttributeList(horizontal ? L"HScrollBar" : L"VScrollBar"))
            bar->ApplyAttributeList(def);
    }
}

void CContainerUI::EnableScrollBar(bool bEnableVertical, bool bEnableHorizontal)
{
    SwitchScrollBar(m_pVerticalScrollBar, bEnableVertical, false);
    SwitchScrollBar(m_pHorizontalScrollBar, bEnableHorizontal, true);
    NeedUpdate();
}

CScrollBarUI* CContainerUI::GetVerticalScrollBar() const { return m_pVerticalScrollBar; }
CScrollBarUI* CContainerUI::GetHorizontalScrollBar() const { return m_pHorizontalScrollBar; }

void CContainerUI::Relayout(bool bInvalidate)
{
    RECT rc = m_rcItem;
    if (m_bFloat) rc = GetRelativePos();
    SetPos(rc, bInvalidate);
}

void CContainerUI::ProcessScrollBar(RECT rc, int cxRequired, int cyRequired)
{
    bool hChanged = false;
    if (m_pHorizontalScrollBar) {
        const int W = rc.right - rc.left;
        if (W < cxRequired) {
            if (!m_pHorizontalScrollBar->IsVisible()) {
                m_pHorizontalScrollBar->SetVisible(true);
                m_pHorizontalScrollBar->SetScrollPos(0);
                rc.bottom -= m_pHorizontalScrollBar->GetFixedHeight();
            }
            m_pHorizontalScrollBar->SetPos(
                RECT{rc.left, rc.bottom, rc.right, rc.bottom + m_pHorizontalScrollBar->GetFixedHeight()});
            if (m_pHorizontalScrollBar->GetScrollRange() != cxRequired - W) {
                m_pHorizontalScrollBar->SetScrollRange(cxRequired - W);
                hChanged = true;
            }
        } else if (m_pHorizontalScrollBar->IsVisible()) {
            m_pHorizontalScrollBar->SetVisible(false);
            rc.bottom += m_pHorizontalScrollBar->GetFixedHeight();
            hChanged = true;
        }
    }

    const int W = rc.right - rc.left;
    const int H = rc.bottom - rc.top;
    if (m_pVerticalScrollBar) {
        const int vw = m_pVerticalScrollBar->GetFixedWidth();
        if (H < cyRequired && !m_pVerticalScrollBar->IsVisible()) {
            m_pVerticalScrollBar->SetVisible(true);
            m_pVerticalScrollBar->SetScrollRange(cyRequired - H);
            m_pVerticalScrollBar->SetScrollPos(0);
            if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible()) {
                m_pHorizontalScrollBar->SetPos(RECT{rc.left, rc.bottom, rc.right - vw,
                                                    rc.bottom + m_pHorizontalScrollBar->GetFixedHeight()});
                m_pHorizontalScrollBar->SetScrollRange(cxRequired - (W - vw));
            }
            m_bScrollProcess = true;
            Relayout(true);
            m_bScrollProcess = false;
            return;
        }
        if (!m_pVerticalScrollBar->IsVisible()) {
            if (hChanged) Relayout(true);
            return;
        }
        const int R = cyRequired - H;
        if (R > 0 || m_bScrollProcess) {
            m_pVerticalScrollBar->SetPos(RECT{rc.right, rc.top, rc.right + vw, rc.bottom});
            if (m_pVerticalScrollBar->GetScrollRange() == R) return;
            const int oldPos = m_pVerticalScrollBar->GetScrollPos();
            m_pVerticalScrollBar->SetScrollRange(::abs(R));
            if (m_pVerticalScrollBar->GetScrollRange() == 0) {
                m_pVerticalScrollBar->SetVisible(false);
                m_pVerticalScrollBar->SetScrollPos(0);
            }
            if (m_pVerticalScrollBar->GetScrollPos() < oldPos || hChanged) Relayout(false);
            return;
        }
        m_pVerticalScrollBar->SetVisible(false);
        m_pVerticalScrollBar->SetScrollPos(0);
        m_pVerticalScrollBar->SetScrollRange(0);
        if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible()) {
            m_pHorizontalScrollBar->SetPos(RECT{rc.left, rc.bottom, rc.right + vw,
                                                rc.bottom + m_pHorizontalScrollBar->GetFixedHeight()});
            m_pHorizontalScrollBar->SetScrollRange(cxRequired - (W + vw));
        }
        Relayout(true);
        return;
    }

    // Only a horizontal bar.
    if (!m_pHorizontalScrollBar || !m_pHorizontalScrollBar->IsVisible()) {
        if (hChanged && m_pHorizontalScrollBar) Relayout(true);
        return;
    }
    const int R = cxRequired - W;
    if (R > 0 || m_bScrollProcess) {
        if (hChanged && !m_bScrollProcess) {
            m_bScrollProcess = true;
            Relayout(true);
            m_bScrollProcess = false;
        }
        return;
    }
    m_pHorizontalScrollBar->SetVisible(false);
    m_pHorizontalScrollBar->SetScrollPos(0);
    m_pHorizontalScrollBar->SetScrollRange(0);
    Relayout(true);
}

CControlUI* CContainerUI::FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags)
{
    if ((uFlags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
    if ((uFlags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
    if ((uFlags & UIFIND_HITTEST) && !::PtInRect(&m_rcItem, *static_cast<POINT*>(pData))) return nullptr;
    if ((uFlags & UIFIND_UPDATETEST) && Proc(this, pData) != nullptr) return nullptr;

    const bool hit = (uFlags & UIFIND_HITTEST) != 0;
    const bool callMe = !hit || IsMouseEnabled();
    if ((uFlags & UIFIND_ME_FIRST) && callMe) {
        if (CControlUI* found = Proc(this, pData)) return found;
    }
    if (m_pCover && (!hit || m_bMouseChildEnabled)) {
        if (CControlUI* found = m_pCover->FindControl(Proc, pData, uFlags)) return found;
    }
    if (!hit || IsMouseEnabled()) {
        if (m_pVerticalScrollBar) {
            if (CControlUI* found = m_pVerticalScrollBar->FindControl(Proc, pData, uFlags)) return found;
        }
        if (m_pHorizontalScrollBar) {
            if (CControlUI* found = m_pHorizontalScrollBar->FindControl(Proc, pData, uFlags)) return found;
        }
    }
    if (!hit || m_bMouseChildEnabled) {
        const RECT rcClient = GetClientPos();
        const int n = m_items.GetSize();
        for (int k = 0; k < n; ++k) {
            const int i = (uFlags & UIFIND_TOP_FIRST) ? n - 1 - k : k;
            CControlUI* child = static_cast<CControlUI*>(m_items.ItemAt(i));
            CControlUI* found = child->FindControl(Proc, pData, uFlags);
            if (!found) continue;
            if (!hit) return found;
            if (found->IsFloat() || ::PtInRect(&rcClient, *static_cast<POINT*>(pData))) return found;
        }
    }
    if (!(uFlags & UIFIND_ME_FIRST) && callMe) return Proc(this, pData);
    return nullptr;
}

void CContainerUI::DoEvent(UIEvent& event)
{
    if (!IsMouseEnabled() && IsMouseEventType(event.Type)) {
        if (m_pParent) {
            m_pParent->DoEvent(event);
        } else {
            CControlUI::DoEvent(event);
        }
        return;
    }
    if (event.Type == UIEventSetFocus) {
        m_bFocused = true;
        return;
    }
    if (event.Type == UIEventKillFocus) {
        m_bFocused = false;
        return;
    }
    const bool vOn = m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible() && m_pVerticalScrollBar->IsEnabled();
    const bool hOn =
        m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible() && m_pHorizontalScrollBar->IsEnabled();
    if (event.Type == UIEventKeyDown && IsKeyboardEnabled() && IsEnabled()) {
        if (vOn) {
            switch (event.chKey) {
            case VK_PRIOR: PageUp(); return;
            case VK_NEXT: PageDown(); return;
            case VK_END: EndDown(); return;
            case VK_HOME: HomeUp(); return;
            case VK_UP: LineUp(); return;
            case VK_DOWN: LineDown(); return;
            default: break;
            }
        } else if (hOn) {
            switch (event.chKey) {
            case VK_PRIOR: PageLeft(); return;
            case VK_NEXT: PageRight(); return;
            case VK_END: EndRight(); return;
            case VK_HOME: HomeLeft(); return;
            case VK_UP: LineLeft(); return;
            case VK_DOWN: LineRight(); return;
            default: break;
            }
        }
    } else if (event.Type == UIEventMouseWheel) {
        const bool towards = event.wParam != 0;
        if (hOn && ::PtInRect(&m_pHorizontalScrollBar->GetPos(), event.ptMouse)) {
            towards ? LineRight() : LineLeft();
            return;
        }
        if (vOn) {
            towards ? LineDown() : LineUp();
            return;
        }
        if (hOn) {
            towards ? LineRight() : LineLeft();
            return;
        }
    }
    CControlUI::DoEvent(event);
}

void CContainerUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (wcscmp(pstrName, L"inset") == 0) {
        int v[4];
        ReadNumberList(pstrValue, v, 4);
        SetInset(RECT{v[0], v[1], v[2], v[3]});
    } else if (wcscmp(pstrName, L"mousechild") == 0) {
        SetMouseChildEnabled(IsTrue(pstrValue));
    } else if (wcscmp(pstrName, L"vscrollbar") == 0) {
        // Through the getters: a list keeps its bars in its body.
        EnableScrollBar(IsTrue(pstrValue), GetHorizontalScrollBar() != nullptr);
    } else if (wcscmp(pstrName, L"vscrollbarstyle") == 0) {
        EnableScrollBar(true, GetHorizontalScrollBar() != nullptr);
        if (CScrollBarUI* bar = GetVerticalScrollBar()) bar->ApplyAttributeList(pstrValue);
    } else if (wcscmp(pstrName, L"hscrollbar") == 0) {
        EnableScrollBar(GetVerticalScrollBar() != nullptr, IsTrue(pstrValue));
    } else if (wcscmp(pstrName, L"hscrollbarstyle") == 0) {
        EnableScrollBar(GetVerticalScrollBar() != nullptr, true);
        if (CScrollBarUI* bar = GetHorizontalScrollBar()) bar->ApplyAttributeList(pstrValue);
    } else if (wcscmp(pstrName, L"childpadding") == 0) {
        SetChildPadding(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"childalign") == 0) {
        if (wcscmp(pstrValue, L"left") == 0) SetChildAlign(DT_LEFT);
        else if (wcscmp(pstrValue, L"center") == 0) SetChildAlign(DT_CENTER);
        else if (wcscmp(pstrValue, L"right") == 0) SetChildAlign(DT_RIGHT);
    } else if (wcscmp(pstrName, L"childvalign") == 0) {
        if (wcscmp(pstrValue, L"top") == 0) SetChildVAlign(DT_TOP);
        else if (wcscmp(pstrValue, L"vcenter") == 0) SetChildVAlign(DT_VCENTER);
        else if (wcscmp(pstrValue, L"bottom") == 0) SetChildVAlign(DT_BOTTOM);
    } else {
        CControlUI::SetAttribute(pstrName, pstrValue);
    }
}

void CContainerUI::PrepareItemPaint(HDC, CControlUI*, int&) {}

bool CContainerUI::DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl)
{
    RECT rcTemp;
    if (!::IntersectRect(&rcTemp, &rcPaint, &m_rcItem)) return true;
    CDrawClip clip;
    CDrawClip::GenerateClip(hDC, rcTemp, clip);
    CControlUI::DoPaint(hDC, rcPaint, pStopControl);

    if (!m_items.IsEmpty()) {
        const RECT rcClient = GetClientPos();
        RECT rcInner;
        if (::IntersectRect(&rcInner, &rcPaint, &rcClient)) {
            CDrawClip childClip;
            CDrawClip::GenerateClip(hDC, rcInner, childClip);
            int counter = 0;
            for (int i = 0; i < m_items.GetSize(); ++i) {
                CControlUI* child = static_cast<CControlUI*>(m_items.ItemAt(i));
                if (child == pStopControl) return false;
                if (!child->IsVisible()) continue;
                if (!child->IsFloat()) PrepareItemPaint(hDC, child, counter);
                RECT r;
                if (!::IntersectRect(&r, &rcPaint, &child->GetPos())) continue;
                if (child->IsFloat()) {
                    if (!::IntersectRect(&r, &m_rcItem, &child->GetPos())) continue;
                    CDrawClip::UseOldClipBegin(hDC, childClip);
                    const bool ok = child->Paint(hDC, rcPaint, pStopControl);
                    CDrawClip::UseOldClipEnd(hDC, childClip);
                    if (!ok) return false;
                } else {
                    if (!::IntersectRect(&r, &rcClient, &child->GetPos())) continue;
                    if (!child->Paint(hDC, rcPaint, pStopControl)) return false;
                }
            }
        } else {
            for (int i = 0; i < m_items.GetSize(); ++i) {
                CControlUI* child = static_cast<CControlUI*>(m_items.ItemAt(i));
                if (child == pStopControl) return false;
                if (!child->IsVisible() || !child->IsFloat()) continue;
                RECT r;
                if (!::IntersectRect(&r, &rcPaint, &child->GetPos())) continue;
                if (!::IntersectRect(&r, &m_rcItem, &child->GetPos())) continue;
                if (!child->Paint(hDC, rcPaint, pStopControl)) return false;
            }
        }
    }

    if (m_pVerticalScrollBar) {
        if (m_pVerticalScrollBar == pStopControl) return false;
        RECT r;
        if (m_pVerticalScrollBar->IsVisible() && ::IntersectRect(&r, &rcPaint, &m_pVerticalScrollBar->GetPos())) {
            if (!m_pVerticalScrollBar->Paint(hDC, rcPaint, pStopControl)) return false;
        }
    }
    if (m_pHorizontalScrollBar) {
        if (m_pHorizontalScrollBar == pStopControl) return false;
        RECT r;
        if (m_pHorizontalScrollBar->IsVisible() && ::IntersectRect(&r, &rcPaint, &m_pHorizontalScrollBar->GetPos())) {
            return m_pHorizontalScrollBar->Paint(hDC, rcPaint, pStopControl);
        }
    }
    return true;
}

}  // namespace SkinUI
