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

// ---------------------------------------------------------------- vertical

LPCWSTR CVerticalLayoutUI::GetClass() const { return L"VerticalLayout"; }

void* CVerticalLayoutUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && wcscmp(pstrName, L"VerticalLayout") == 0) return this;
    return CContainerUI::GetInterface(pstrName);
}

void CVerticalLayoutUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (!SetSepAttribute(pstrName, pstrValue, L"sepheight")) CContainerUI::SetAttribute(pstrName, pstrValue);
}

void CVerticalLayoutUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    CControlUI::SetPos(rc, bNeedInvalidate);
    const Bars bars = {m_pVerticalScrollBar, m_pHorizontalScrollBar};
    rc = ContentRect(m_rcItem, m_rcInset, bars);
    if (m_items.IsEmpty()) {
        ProcessScrollBar(rc, 0, 0);
        return;
    }
    SIZE avail = {rc.right - rc.left, rc.bottom - rc.top};
    if (bars.hOn()) avail.cx += bars.h->GetScrollRange();
    if (bars.vOn()) avail.cy += bars.v->GetScrollRange();

    int adjustable = 0;
    int cyFixed = 0;
    int estimated = 0;
    int cxNeeded = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* c = static_cast<CControlUI*>(m_items.ItemAt(i));
        if (!c->IsVisible() || c->IsFloat()) continue;
        ++estimated;
        const RECT p = c->GetPadding();
        const int wantW = c->GetFixedWidth() < 1 ? c->GetMaxWidth() : c->GetFixedWidth();
        const int wantH = c->GetFixedHeight() < 1 ? c->GetMaxHeight() : c->GetFixedHeight();
        SIZE sz = c->EstimateSize(SIZE{Min(wantW, avail.cx - p.left - p.right), Min(wantH, avail.cy)});
        if (sz.cy == 0) {
            ++adjustable;
        } else {
            if (sz.cy < c->GetMinHeight()) sz.cy = c->GetMinHeight();
            if (sz.cy > c->GetMaxHeight()) sz.cy = c->GetMaxHeight();
        }
        cyFixed += sz.cy + p.top + p.bottom;
        if (sz.cx < 0) sz.cx = 0;
        if (sz.cx < c->GetMinWidth()) sz.cx = c->GetMinWidth();
        if (sz.cx > c->GetMaxWidth()) sz.cx = c->GetMaxWidth();
        cxNeeded = Max(cxNeeded, sz.cx + p.left + p.right);
    }
    if (estimated > 1) cyFixed += (estimated - 1) * m_iChildPadding;
    int expand = 0;
    if (adjustable > 0) expand = Max(0, (avail.cy - cyFixed) / adjustable);

    int y = rc.top;
    if (bars.vOn()) y -= bars.v->GetScrollPos();
    int remainH = avail.cy;
    int remainFixed = cyFixed;
    int cyNeeded = 0;
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
        remainH -= p.top;
        remainFixed -= p.top + p.bottom;
        if (placed > 0) remainFixed -= m_iChildPadding;
        ++placed;
        const int wAvail = avail.cx - p.left - p.right;
        const int wantW = c->GetFixedWidth() < 1 ? c->GetMaxWidth() : c->GetFixedWidth();
        const int wantH = c->GetFixedHeight() < 1 ? c->GetMaxHeight() : c->GetFixedHeight();
        SIZE sz = c->EstimateSize(SIZE{Min(wantW, wAvail), Min(wantH, remainH)});
        if (sz.cy != 0) {
            if (sz.cy < c->GetMinHeight()) sz.cy = c->GetMinHeight();
            if (sz.cy > c->GetMaxHeight()) sz.cy = c->GetMaxHeight();
            remainFixed -= sz.cy;
        } else {
            ++adjusted;
            sz.cy = adjusted == adjustable ? Max(0, remainH - p.bottom - remainFixed) : expand;
        }
        if (sz.cy < c->GetMinHeight()) sz.cy = c->GetMinHeight();
        if (sz.cy > c->GetMaxHeight()) sz.cy = c->GetMaxHeight();

        const int maxW = c->GetMaxWidth() == 0 ? wAvail : c->GetMaxWidth();
        int width = Min(Min(wantW, wAvail), Max(0, maxW));
        if (width < c->GetMinWidth()) width = c->GetMinWidth();

        int left;
        if (m_iChildAlign == DT_CENTER) {
            int middle = (rc.left + rc.right) / 2;
            if (bars.hOn()) middle += bars.h->GetScrollRange() / 2 - bars.h->GetScrollPos();
            left = middle - width / 2;
        } else if (m_iChildAlign == DT_RIGHT) {
            int right = rc.right;
            if (bars.hOn()) right += bars.h->GetScrollRange() - bars.h->GetScrollPos();
            left = right - p.right - width;
        } else {
            left = rc.left + p.left;
            if (bars.hOn()) left -= bars.h->GetScrollPos();
        }
        c->SetPos(RECT{left, y + p.top, left + width, y + p.top + sz.cy}, false);
        y += sz.cy + p.top + p.bottom + m_iChildPadding;
        cyNeeded += sz.cy + p.top + p.bottom;
        remainH -= sz.cy + p.bottom + m_iChildPadding;
    }
    if (estimated > 1) cyNeeded += (estimated - 1) * m_iChildPadding;
    ProcessScrollBar(rc, cxNeeded, cyNeeded);
}

// ---------------------------------------------------------------- horizontal

LPCWSTR CHorizontalLayoutUI::GetClass() const { return L"HorizontalLayout"; }

void* CHorizontalLayoutUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && wcscmp(pstrName, L"HorizontalLayout") == 0) return this;
    return CContainerUI::GetInterface(pstrName);
}

void CHorizontalLayoutUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (!SetSepAttribute(pstrName, pstrValue, L"sepwidth")) CContainerUI::SetAttribute(pstrName, pstrValue);
}

void CHorizontalLayoutUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    CControlUI::SetPos(rc, bNeedInvalidate);
    const Bars bars = {m_pVerticalScrollBar, m_pHorizontalScrollBar};
    rc = ContentRect(m_rcItem, m_rcInset, bars);
    if (m_items.IsEmpty()) {
        ProcessScrollBar(rc, 0, 0);
        return;
    }
    SIZE avail = {rc.right - rc.left, rc.bottom - rc.top};
    if (bars.hOn()) avail.cx += bars.h->GetScrollRange();
    if (bars.vOn()) avail.cy += bars.v->GetScrollRange();

    int adjustable = 0;
    int cxFixed = 0;
    int estimated = 0;
    int cyNeeded = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* c = static_cast<CControlUI*>(m_items.ItemAt(i));
        if (!c->IsVisible() || c->IsFloat()) continue;
        ++estimated;
        const RECT p = c->GetPadding();
        SIZE sz = {0, 0};
        if (c->GetFixedWidth() == 0) {
            ++adjustable;
            sz.cy = c->GetFixedHeight();
        } else {
            const int wantW = c->GetFixedWidth();
            const int wantH = c->GetFixedHeight() < 1 ? c->GetMaxHeight() : c->GetFixedHeight();
            sz = c->EstimateSize(SIZE{Min(wantW, avail.cx), Min(wantH, avail.cy - p.top - p.bottom)});
            if (sz.cx == 0) {
                ++adjustable;
            } else {
                if (sz.cx < c->GetMinWidth()) sz.cx = c->GetMinWidth();
                if (sz.cx > c->GetMaxWidth()) sz.cx = c->GetMaxWidth();
            }
        }
        cxFixed += sz.cx + p.left + p.right;
        if (sz.cy < 0) sz.cy = 0;
        if (sz.cy < c->GetMinHeight()) sz.cy = c->GetMinHeight();
        if (sz.cy > c->GetMaxHeight()) sz.cy = c->GetMaxHeight();
        cyNeeded = Max(cyNeeded, sz.cy + p.top + p.bottom);
    }
    if (estimated > 1) cxFixed += (estimated - 1) * m_iChildPadding;
    int expand = 0;
    if (adjustable > 0) expand = Max(0, (avail.cx - cxFixed) / adjustable);

    int x = rc.left;
    if (bars.hOn()) x -= bars.h->GetScrollPos();
    int remainW = avail.cx;
    int remainFixed = cxFixed;
    int cxNeeded = 0;
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
        remainW -= p.left;
        remainFixed -= p.left + p.right;
        if (placed > 0) remainFixed -= m_iChildPadding;
        ++placed;
        const int hAvail = avail.cy - p.top - p.bottom;
        const int wantW = c->GetFixedWidth() < 1 ? c->GetMaxWidth() : c->GetFixedWidth();
        const int wantH = c->GetFixedHeight() < 1 ? c->GetMaxHeight() : c->GetFixedHeight();
        SIZE sz = {0, 0};
        if (c->GetFixedWidth() != 0) sz = c->EstimateSize(SIZE{Min(wantW, remainW), Min(wantH, hAvail)});
        if (c->GetFixedWidth() != 0 && sz.cx != 0) {
            if (sz.cx < c->GetMinWidth()) sz.cx = c->GetMinWidth();
            if (sz.cx > c->GetMaxWidth()) sz.cx = c->GetMaxWidth();
            remainFixed -= sz.cx;
        } else {
            ++adjusted;
            sz.cx = adjusted == adjustable ? Max(0, remainW - p.right - remainFixed) : expand;
        }
        if (sz.cx < c->GetMinWidth()) sz.cx = c->GetMinWidth();
        if (sz.cx > c->GetMaxWidth()) sz.cx = c->GetMaxWidth();

        const int maxH = c->GetMaxHeight() == 0 ? hAvail : c->GetMaxHeight();
        int height = Min(Min(wantH, hAvail), Max(0, maxH));
        if (height < c->GetMinHeight()) height = c->GetMinHeight();

        int top;
        if (m_iChildVAlign == DT_VCENTER) {
            int middle = (rc.top + rc.bottom) / 2;
            if (bars.vOn()) middle += bars.v->GetScrollRange() / 2 - bars.v->GetScrollPos();
            top = middle - height / 2;
        } else if (m_iChildVAlign == DT_BOTTOM) {
            int bottom = rc.bottom;
            if (bars.vOn()) bottom += bars.v->GetScrollRange() - bars.v->GetScrollPos();
            top = bottom - p.bottom - height;
        } else {
            top = rc.top + p.top;
            if (bars.vOn()) top -= bars.v->GetScrollPos();
        }
        c->SetPos(RECT{x + p.left, top, x + p.left + sz.cx, top + height}, false);
        x += sz.cx + p.left + p.right + m_iChildPadding;
        cxNeeded += sz.cx + p.left + p.right;
        remainW -= sz.cx + p.right + m_iChildPadding;
    }
    if (estimated > 1) cxNeeded += (estimated - 1) * m_iChildPadding;
    ProcessScrollBar(rc, cxNeeded, cyNeeded);
}

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
