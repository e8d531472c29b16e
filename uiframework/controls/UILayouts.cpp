// Vertical, horizontal, tile and child layouts.
#include "UILayouts.h"

#include <cstdlib>
#include <cwchar>

#include "UIDlgBuilder.h"
#include "UIManager.h"
#include "UIRender.h"
#include "UIScrollBar.h"

namespace SkinUI {

namespace {

const UINT kDragging = 0x40;

int Min(int a, int b) { return a < b ? a : b; }
int Max(int a, int b) { return a > b ? a : b; }

struct Bars {
    CScrollBarUI* v;
    CScrollBarUI* h;
    bool vOn() const { return v && v->IsVisible(); }
    bool hOn() const { return h && h->IsVisible(); }
};

// Item rectangle minus inset and the visible bars' fixed sizes.
RECT ContentRect(const RECT& item, const RECT& inset, const Bars& bars)
{
    RECT rc = {item.left + inset.left, item.top + inset.top, item.right - inset.right, item.bottom - inset.bottom};
    if (bars.vOn()) rc.right -= bars.v->GetFixedWidth();
    if (bars.hOn()) rc.bottom -= bars.h->GetFixedHeight();
    return rc;
}

}  // namespace

// ---------------------------------------------------------------- separator

UINT CBoxLayoutUI::GetControlFlags() const { return (IsEnabled() && m_iSepSize != 0) ? UIFLAG_SETCURSOR : 0; }

void CBoxLayoutUI::SetSepImmMode(bool immediate)
{
    if (m_bImmMode == immediate) return;
    if ((m_uButtonState & kDragging) && !m_bImmMode && m_pManager) m_pManager->RemovePostPaintControl(this);
    m_bImmMode = immediate;
}

RECT CBoxLayoutUI::GetThumbRect(const RECT& rc) const
{
    RECT strip = rc;
    if (m_bVertical) {
        if (m_iSepSize > 0) strip.top = Max(rc.top, rc.bottom - m_iSepSize);
        else strip.bottom = Min(rc.bottom, rc.top - m_iSepSize);
    } else {
        if (m_iSepSize > 0) strip.left = Max(rc.left, rc.right - m_iSepSize);
        else strip.right = Min(rc.right, rc.left - m_iSepSize);
    }
    return strip;
}

bool CBoxLayoutUI::SetSepAttribute(LPCWSTR pstrName, LPCWSTR pstrValue, LPCWSTR sepName)
{
    if (wcscmp(pstrName, sepName) == 0) {
        SetSepSize(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
        return true;
    }
    if (wcscmp(pstrName, L"sepimm") == 0) {
        SetSepImmMode(IsTrue(pstrValue));
        return true;
    }
    return false;
}

void CBoxLayoutUI::DoEvent(UIEvent& event)
{
    if (m_iSepSize != 0) {
        if (event.Type == UIEventButtonDown && IsEnabled()) {
            RECT strip = GetThumbRect(m_rcItem);
            if (::PtInRect(&strip, event.ptMouse)) {
                m_uButtonState |= kDragging;
                m_ptLastMouse = event.ptMouse;
                m_rcNewPos = m_rcItem;
                if (!m_bImmMode && m_pManager) m_pManager->AddPostPaintControl(this);
                return;
            }
        }
        if (event.Type == UIEventButtonUp && (m_uButtonState & kDragging)) {
            m_uButtonState &= ~kDragging;
            m_rcItem = m_rcNewPos;
            if (!m_bImmMode && m_pManager) m_pManager->RemovePostPaintControl(this);
            NeedParentUpdate();
            return;
        }
        if (event.Type == UIEventMouseMove && (m_uButtonState & kDragging)) {
            const LONG pt = m_bVertical ? event.ptMouse.y : event.ptMouse.x;
            const LONG last = m_bVertical ? m_ptLastMouse.y : m_ptLastMouse.x;
            const LONG d = pt - last;
            m_ptLastMouse = event.ptMouse;
            RECT rc = m_rcNewPos;
            LONG& lo = m_bVertical ? rc.top : rc.left;
            LONG& hi = m_bVertical ? rc.bottom : rc.right;
            const int minSize = m_bVertical ? GetMinHeight() : GetMinWidth();
            const int maxSize = m_bVertical ? GetMaxHeight() : GetMaxWidth();
            const LONG oldSize = hi - lo;
            bool moved = true;
            if (m_iSepSize > 0) {
                if ((d > 0 && pt < hi - m_iSepSize) || (d < 0 && pt > hi)) moved = false;
                else hi += d;
            } else {
                if ((d > 0 && pt < lo) || (d < 0 && pt > lo - m_iSepSize)) moved = false;
                else lo += d;
            }
            if (moved) {
                const LONG size = hi - lo;
                if (size <= minSize) {
                    if (oldSize <= minSize) {
                        moved = false;
                    } else if (m_iSepSize > 0) {
                        hi = lo + minSize;
                    } else {
                        lo = hi - minSize;
                    }
                } else if (size >= maxSize) {
                    if (oldSize >= maxSize) {
                        moved = false;
                    } else if (m_iSepSize > 0) {
                        hi = lo + maxSize;
                    } else {
                        lo = hi - maxSize;
                    }
                }
            }
            if (!moved) return;
            const RECT oldStrip = GetThumbRect(m_rcNewPos);
            m_rcNewPos = rc;
            if (m_bVertical) {
                m_cxyFixed.cy = rc.bottom - rc.top;
            } else {
                m_cxyFixed.cx = rc.right - rc.left;
            }
            if (m_bImmMode) {
                m_rcItem = m_rcNewPos;
                NeedParentUpdate();
            } else if (m_pManager) {
                RECT r = oldStrip;
                RECT now = GetThumbRect(m_rcNewPos);
                ::UnionRect(&r, &r, &now);
                RECT item = GetThumbRect(m_rcItem);
                ::UnionRect(&r, &r, &item);
                m_pManager->Invalidate(r);
            }
            return;
        }
        if (event.Type == UIEventSetCursor) {
            RECT strip = GetThumbRect(m_rcItem);
            if (IsEnabled() && ::PtInRect(&strip, event.ptMouse)) {
                ::SetCursor(::LoadCursorW(nullptr, m_bVertical ? IDC_SIZENS : IDC_SIZEWE));
                return;
            }
        }
    }
    CContainerUI::DoEvent(event);
}

void CBoxLayoutUI::DoPostPaint(HDC hDC, const RECT& rcPaint)
{
    if ((m_uButtonState & kDragging) && !m_bImmMode) {
        CDrawHelper::DrawColor(hDC, GetThumbRect(m_rcNewPos), 0xAA000000);
    }
    CContainerUI::DoPostPaint(hDC, rcPaint);
}

// ---------------------------------------------------------------- box placement

namespace {

// The vertical layout's rules told along a main axis (its stacking direction)
// and a cross axis, so that the horizontal layout is the same code with the
// axes exchanged.
struct Axes {
    bool vertical;
    LONG& Main(SIZE& sz) const { return vertical ? sz.cy : sz.cx; }
    LONG& Cross(SIZE& sz) const { return vertical ? sz.cx : sz.cy; }
    int MainFixed(const CControlUI* c) const { return vertical ? c->GetFixedHeight() : c->GetFixedWidth(); }
    int CrossFixed(const CControlUI* c) const { return vertical ? c->GetFixedWidth() : c->GetFixedHeight(); }
    int MainMin(const CControlUI* c) const { return vertical ? c->GetMinHeight() : c->GetMinWidth(); }
    int MainMax(const CControlUI* c) const { return vertical ? c->GetMaxHeight() : c->GetMaxWidth(); }
    int CrossMin(const CControlUI* c) const { return vertical ? c->GetMinWidth() : c->GetMinHeight(); }
    int CrossMax(const CControlUI* c) const { return vertical ? c->GetMaxWidth() : c->GetMaxHeight(); }
    LONG MainLo(const RECT& r) const { return vertical ? r.top : r.left; }
    LONG MainHi(const RECT& r) const { return vertical ? r.bottom : r.right; }
    LONG CrossLo(const RECT& r) const { return vertical ? r.left : r.top; }
    LONG CrossHi(const RECT& r) const { return vertical ? r.right : r.bottom; }
    SIZE Make(LONG main, LONG cross) const { return vertical ? SIZE{cross, main} : SIZE{main, cross}; }
    RECT Place(LONG main, LONG cross, LONG mainLen, LONG crossLen) const
    {
        return vertical ? RECT{cross, main, cross + crossLen, main + mainLen}
                        : RECT{main, cross, main + mainLen, cross + crossLen};
    }
};

int ClampTo(int v, int lo, int hi)
{
    if (v < lo) v = lo;
    if (v > hi) v = hi;
    return v;
}

}  // namespace

void CBoxLayoutUI::LayoutBox(RECT rc, bool bNeedInvalidate, const BoxRules& rules)
{
    CControlUI::SetPos(rc, bNeedInvalidate);
    const Bars bars = {m_pVerticalScrollBar, m_pHorizontalScrollBar};
    rc = ContentRect(m_rcItem, m_rcInset, bars);
    if (m_items.IsEmpty()) {
        ProcessScrollBar(rc, 0, 0);
        return;
    }
    const Axes ax = {m_bVertical};
    CScrollBarUI* mainBar = m_bVertical ? bars.v : bars.h;
    CScrollBarUI* crossBar = m_bVertical ? bars.h : bars.v;
    const bool mainOn = mainBar && mainBar->IsVisible();
    const bool crossOn = crossBar && crossBar->IsVisible();
    SIZE avail = {rc.right - rc.left, rc.bottom - rc.top};
    if (bars.hOn()) avail.cx += bars.h->GetScrollRange();
    if (bars.vOn()) avail.cy += bars.v->GetScrollRange();
    const int availMain = ax.Main(avail);
    const int availCross = rules.crossAvailable >= 0 ? rules.crossAvailable : ax.Cross(avail);
    const int childPadding = m_iChildPadding + rules.extraPadding;
    // The horizontal layout asks only children with a fixed width for their size.
    auto asksSize = [&](const CControlUI* c) { return m_bVertical || ax.MainFixed(c) != 0; };
    auto wantMain = [&](const CControlUI* c) { return ax.MainFixed(c) < 1 ? ax.MainMax(c) : ax.MainFixed(c); };
    auto wantCross = [&](const CControlUI* c) { return ax.CrossFixed(c) < 1 ? ax.CrossMax(c) : ax.CrossFixed(c); };

    int adjustable = 0;
    int fixedTotal = 0;
    int estimated = 0;
    int crossNeeded = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* c = static_cast<CControlUI*>(m_items.ItemAt(i));
        if (!c->IsVisible() || c->IsFloat()) continue;
        ++estimated;
        const RECT p = c->GetPadding();
        const int pMain = ax.MainLo(p) + ax.MainHi(p);
        const int pCross = ax.CrossLo(p) + ax.CrossHi(p);
        SIZE sz = ax.Make(0, ax.CrossFixed(c));
        if (asksSize(c)) sz = c->EstimateSize(ax.Make(Min(wantMain(c), availMain), Min(wantCross(c), availCross - pCross)));
        if (!asksSize(c) || ax.Main(sz) == 0) {
            ++adjustable;
        } else {
            ax.Main(sz) = ClampTo(ax.Main(sz), ax.MainMin(c), ax.MainMax(c));
        }
        fixedTotal += ax.Main(sz) + pMain;
        const int cross = ClampTo(Max(0, ax.Cross(sz)), ax.CrossMin(c), ax.CrossMax(c));
        crossNeeded = Max(crossNeeded, cross + pCross);
    }
    if (estimated > 1) fixedTotal += (estimated - 1) * childPadding;
    const int expand = adjustable > 0 ? Max(0, (availMain - fixedTotal) / adjustable) : 0;

    int pos = ax.MainLo(rc) - (mainOn ? mainBar->GetScrollPos() : 0);
    int remain = availMain;
    int remainFixed = fixedTotal;
    int mainNeeded = 0;
    int placed = 0;
    int adjusted = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* c = static_cast<CControlUI*>(m_items.ItemAt(i));
        if (!c->IsVisible()) continue;
        if (c->IsFloat()) {
            SetFloatPos(i);
            continue;
        }
        const RECT p = c->GetPadding();
        remain -= ax.MainLo(p);
        remainFixed -= ax.MainLo(p) + ax.MainHi(p);
        if (placed > 0) remainFixed -= childPadding;
        ++placed;
        const int crossAvail = availCross - ax.CrossLo(p) - ax.CrossHi(p);
        SIZE sz = {0, 0};
        if (asksSize(c)) sz = c->EstimateSize(ax.Make(Min(wantMain(c), remain), Min(wantCross(c), crossAvail)));
        int main = ax.Main(sz);
        if (asksSize(c) && main != 0) {
            main = ClampTo(main, ax.MainMin(c), ax.MainMax(c));
            remainFixed -= main;
        } else {
            ++adjusted;
            main = adjusted == adjustable ? Max(0, remain - ax.MainHi(p) - remainFixed) : expand;
        }
        main = ClampTo(main, ax.MainMin(c), ax.MainMax(c));
        const int maxCross = ax.CrossMax(c) == 0 ? crossAvail : ax.CrossMax(c);
        int cross = Min(Min(wantCross(c), crossAvail), Max(0, maxCross));
        if (cross < ax.CrossMin(c)) cross = ax.CrossMin(c);

        const UINT align = m_bVertical ? m_iChildAlign : m_iChildVAlign;
        const UINT centre = m_bVertical ? DT_CENTER : DT_VCENTER;
        const UINT farSide = m_bVertical ? DT_RIGHT : DT_BOTTOM;
        int crossStart;
        if (align == centre) {
            int middle = (ax.CrossLo(rc) + ax.CrossHi(rc)) / 2;
            if (crossOn) middle += crossBar->GetScrollRange() / 2 - crossBar->GetScrollPos();
            crossStart = middle - cross / 2;
        } else if (align == farSide) {
            int end = ax.CrossHi(rc);
            if (crossOn) end += crossBar->GetScrollRange() - crossBar->GetScrollPos();
            crossStart = end - ax.CrossHi(p) - cross;
        } else {
            crossStart = ax.CrossLo(rc) + ax.CrossLo(p);
            if (crossOn) crossStart -= crossBar->GetScrollPos();
        }
        c->SetPos(ax.Place(pos + ax.MainLo(p), crossStart, main, cross), false);
        pos += main + ax.MainLo(p) + ax.MainHi(p) + childPadding;
        mainNeeded += main + ax.MainLo(p) + ax.MainHi(p);
        remain -= main + ax.MainHi(p) + childPadding;
    }
    if (estimated > 1) mainNeeded += (estimated - 1) * childPadding;
    if (rules.crossNeeded >= 0) crossNeeded = rules.crossNeeded;
    ProcessScrollBar(rc, m_bVertical ? crossNeeded : mainNeeded, m_bVertical ? mainNeeded : crossNeeded);
}

// ---------------------------------------------------------------- vertical, horizontal

LPCWSTR CBoxLayoutUI::GetClass() const { return m_bVertical ? L"VerticalLayout" : L"HorizontalLayout"; }

void* CBoxLayoutUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && wcscmp(pstrName, GetClass()) == 0) return this;
    return CContainerUI::GetInterface(pstrName);
}

void CBoxLayoutUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (!SetSepAttribute(pstrName, pstrValue, m_bVertical ? L"sepheight" : L"sepwidth"))
        CContainerUI::SetAttribute(pstrName, pstrValue);
}

void CBoxLayoutUI::SetPos(RECT rc, bool bNeedInvalidate) { LayoutBox(rc, bNeedInvalidate); }

// ---------------------------------------------------------------- tile

LPCWSTR CTileLayoutUI::GetClass() const { return L"TileLayout"; }

void* CTileLayoutUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && wcscmp(pstrName, L"TileLayout") == 0) return this;
    return CContainerUI::GetInterface(pstrName);
}

void CTileLayoutUI::SetItemSize(SIZE szItem)
{
    if (m_szItem.cx == szItem.cx && m_szItem.cy == szItem.cy) return;
    m_szItem = szItem;
    NeedUpdate();
}

void CTileLayoutUI::SetColumns(int nCols)
{
    if (nCols < 0) return;
    m_nColumns = nCols;
    NeedUpdate();
}

void CTileLayoutUI::SetChildVPadding(int iPadding)
{
    m_iChildVPadding = iPadding < 0 ? 0 : iPadding;
    NeedUpdate();
}

void CTileLayoutUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (wcscmp(pstrName, L"itemsize") == 0) {
        int v[2];
        ReadNumberList(pstrValue, v, 2);
        SetItemSize(SIZE{v[0], v[1]});
    } else if (wcscmp(pstrName, L"columns") == 0) {
        SetColumns(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"childvpadding") == 0) {
        SetChildVPadding(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else {
        CContainerUI::SetAttribute(pstrName, pstrValue);
    }
}

void CTileLayoutUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    CControlUI::SetPos(rc, bNeedInvalidate);
    const Bars bars = {m_pVerticalScrollBar, m_pHorizontalScrollBar};
    rc = ContentRect(m_rcItem, m_rcInset, bars);
    if (m_items.IsEmpty()) {
        ProcessScrollBar(rc, 0, 0);
        return;
    }
    // An item size below 1 would divide by zero: every cell is at least 1 x 1.
    const int itemW = Max(1, m_szItem.cx);
    const int itemH = Max(1, m_szItem.cy);
    const int rcW = rc.right - rc.left;
    int W = rcW;
    if (bars.hOn()) W += bars.h->GetScrollRange();
    int visible = 0;
    int lastCell = -1;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* c = static_cast<CControlUI*>(m_items.ItemAt(i));
        if (!c->IsVisible() || c->IsFloat()) continue;
        ++visible;
        lastCell = i;
    }
    int columns;
    int spacing = 0;
    int cxNeeded;
    if (m_nColumns > 0) {
        columns = m_nColumns;
        if (m_iChildPadding >= 1) {
            spacing = m_iChildPadding;
        } else if (columns >= 2) {
            int free = W - columns * itemW;
            if (bars.hOn() && rcW - columns * itemW >= 0) free = rcW - columns * itemW;
            spacing = free / (columns - 1);
        }
        if (spacing < 0) spacing = 0;
        if (columns == 1) spacing = 0;
        cxNeeded = visible < columns ? visible * itemW + (visible - 1) * spacing
                                     : columns * itemW + (columns - 1) * spacing;
    } else if (rcW < itemW) {
        columns = 1;
        cxNeeded = itemW;
    } else {
        columns = rcW / itemW;
        cxNeeded = rcW;
        if (columns == 1) spacing = 0;
        else spacing = m_iChildPadding >= 1 ? m_iChildPadding : (rcW % itemW) / (columns - 1);
    }
    m_nColumnsUsed = columns;
    // Rows follow the cells actually taken: hidden children keep their cells.
    m_nRows = lastCell / columns + 1;
    const int cyNeeded = m_nRows * itemH + (m_nRows - 1) * m_iChildVPadding;

    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* c = static_cast<CControlUI*>(m_items.ItemAt(i));
        if (!c->IsVisible()) continue;
        if (c->IsFloat()) {
            SetFloatPos(i);
            continue;
        }
        const int col = i % columns;
        const int row = i / columns;
        int cellLeft = rc.left + col * (itemW + spacing);
        if (bars.hOn()) cellLeft -= bars.h->GetScrollPos();
        int cellTop = rc.top + row * (itemH + m_iChildVPadding);
        if (bars.vOn()) cellTop -= bars.v->GetScrollPos();
        const RECT p = c->GetPadding();
        const int w = Max(0, Min(itemW - p.left - p.right, c->GetMaxWidth()));
        const int h = Max(0, Min(itemH - p.top - p.bottom, c->GetMaxHeight()));
        int ox = 0;
        if (m_iChildAlign == DT_CENTER) ox = (itemW - w) / 2;
        else if (m_iChildAlign == DT_RIGHT) ox = itemW - w;
        int oy = 0;
        if (m_iChildVAlign == DT_VCENTER) oy = (itemH - h) / 2;
        else if (m_iChildVAlign == DT_BOTTOM) oy = itemH - h;
        c->SetPos(RECT{cellLeft + ox + p.left, cellTop + oy + p.top, cellLeft + ox + w - p.right,
                       cellTop + oy + h - p.bottom},
                  false);
    }
    // The bars go beside the content area, as in the other layouts (not beside
    // the whole rectangle, which would put them outside the layout).
    ProcessScrollBar(rc, cxNeeded, cyNeeded);
}

// ---------------------------------------------------------------- child layout

LPCWSTR CChildLayoutUI::GetClass() const { return L"ChildLayout"; }

void* CChildLayoutUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && wcscmp(pstrName, L"ChildLayout") == 0) return this;
    return CControlUI::GetInterface(pstrName);
}

void CChildLayoutUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (wcscmp(pstrName, L"xmlfile") == 0) {
        SetChildLayoutXML(pstrValue);
    } else {
        CContainerUI::SetAttribute(pstrName, pstrValue);
    }
}

void CChildLayoutUI::Init()
{
    if (m_pstrXMLFile.IsEmpty()) return;
    CDialogBuilder builder;
    CControlUI* root = builder.Create(CUIStringOrId(m_pstrXMLFile.GetData()), nullptr, nullptr, m_pManager, nullptr);
    if (root) {
        Add(root);
    } else {
        RemoveAll();
    }
}

}  // namespace SkinUI
