// List elements: selection through the owner, the item events, the item
// background and text from the owner's drawing record, measuring, columns and
// links of the text element, and the container elements' layout by columns.
#include "UIListElements.h"

#include <cwchar>

#include "UIButton.h"
#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

namespace {

bool Is(LPCWSTR a, LPCWSTR b) { return a && std::wcscmp(a, b) == 0; }

RECT Inset(const RECT& rc, const RECT& pad)
{
    return RECT{rc.left + pad.left, rc.top + pad.top, rc.right - pad.right, rc.bottom - pad.bottom};
}

const UINT kHorizontalAlign = DT_CENTER | DT_RIGHT;

}  // namespace

// ---------------------------------------------------------------- shared item part

void CListItemCore::SetOwner(CControlUI* pOwner)
{
    m_pOwner = pOwner ? static_cast<IListOwnerUI*>(pOwner->GetInterface(L"IListOwner")) : nullptr;
}

bool CListItemCore::Select(bool bSelect, bool bTakeFocus)
{
    if (!m_self.IsEnabled()) return false;
    if (bSelect == m_bSelected) return true;
    m_bSelected = bSelect;
    // The owner finds the index already current when it started this itself.
    if (bSelect && m_pOwner) m_pOwner->SelectItem(m_iIndex, bTakeFocus, true);
    Invalidate();
    return true;
}

void CListItemCore::SendActivate()
{
    if (CWindowManagerUI* m = m_self.GetManager()) m->SendNotify(&m_self, L"itemactivate");
}

bool CListItemCore::DoEvent(UIEvent& event)
{
    if (!m_self.IsMouseEnabled() && IsMouseEventType(event.Type)) return false;
    CWindowManagerUI* manager = m_self.GetManager();
    const bool enabled = m_self.IsEnabled();
    switch (event.Type) {
    case UIEventDoubleClick:
        if (!enabled) break;
        m_self.Activate();
        Invalidate();
        return true;
    case UIEventKeyDown:
        if (!m_self.IsKeyboardEnabled() || !enabled || event.chKey != VK_RETURN) break;
        m_self.Activate();
        Invalidate();
        return true;
    case UIEventButtonDown:
    case UIEventRightButtonDown:
        if (!enabled) break;
        if (manager) manager->SendNotify(&m_self, L"itemclick");
        Select(true, true);
        Invalidate();
        return true;
    case UIEventMouseEnter:
        if (enabled && ::PtInRect(&m_self.GetPos(), event.ptMouse)) {
            m_uButtonState |= UISTATE_HOT;
            Invalidate();
        }
        break;
    case UIEventMouseLeave:
        if (::PtInRect(&m_self.GetPos(), event.ptMouse)) {
            if (manager) manager->AddMouseLeavePending(&m_self);
            return true;
        }
        if (m_uButtonState & UISTATE_HOT) {
            m_uButtonState &= ~UISTATE_HOT;
            Invalidate();
        }
        if (manager) manager->RemoveMouseLeavePending(&m_self);
        break;
    case UIEventMouseMove:
    case UIEventButtonUp:
        return true;
    default:
        break;
    }
    return false;
}

void CListItemCore::HideSelected()
{
    if (m_self.IsVisible() || !m_bSelected) return;
    m_bSelected = false;
    if (m_pOwner) m_pOwner->SelectItem(-1, false, true);
}

void CListItemCore::DrawItemBk(HDC hDC, UIImageDrawInfo& ownBk)
{
    if (!m_pOwner) return;
    const ListInfo* info = m_pOwner->GetListInfo();
    if (!info) return;
    const bool enabled = m_self.IsEnabled();
    const bool hot = (m_uButtonState & UISTATE_HOT) != 0;
    const bool oddRow = info->bAlternateBk && (m_iDrawIndex % 2) != 0;
    DWORD color = oddRow ? 0 : info->dwBkColor;
    if (hot) color = info->dwHotBkColor;
    if (m_bSelected) color = info->dwSelectedBkColor;
    if (!enabled) color = info->dwDisabledBkColor;
    if (color != 0) CDrawHelper::DrawColor(hDC, m_self.GetPos(), m_self.AdjustColor(color));

    ListInfo& images = *m_pOwner->GetListInfo();
    if (!enabled && m_self.DrawImage(hDC, images.diDisabled)) return;
    if (m_bSelected && m_self.DrawImage(hDC, images.diSelected)) return;
    if (hot && m_self.DrawImage(hDC, images.diHot)) return;
    if (m_self.DrawImage(hDC, ownBk)) return;
    if (!oddRow) m_self.DrawImage(hDC, images.diBk);
}

void CListItemCore::Invalidate()
{
    if (!m_self.IsVisible()) return;
    CControlUI* parent = m_self.GetParent();
    CContainerUI* box = parent ? static_cast<CContainerUI*>(parent->GetInterface(L"Container")) : nullptr;
    if (!box) {
        m_self.CControlUI::Invalidate();
        return;
    }
    // Only the part inside the parent's client area (an item scrolled half out
    // of its list repaints no more than shows).
    RECT rc = m_self.GetPos();
    const RECT client = box->GetClientPos();
    if (!::IntersectRect(&rc, &rc, &client)) return;
    for (CControlUI* a = parent->GetParent(); a; a = a->GetParent()) {
        if (!::IntersectRect(&rc, &rc, &a->GetPos())) return;
    }
    if (CWindowManagerUI* m = m_self.GetManager()) m->Invalidate(rc);
}

DWORD CListItemCore::TextColor(const ListInfo& info) const
{
    DWORD color = (m_uButtonState & UISTATE_HOT) ? info.dwHotTextColor : info.dwTextColor;
    if (m_bSelected) color = info.dwSelectedTextColor;
    if (!m_self.IsEnabled()) color = info.dwDisabledTextColor;
    return color;
}

// ---------------------------------------------------------------- element

LPCWSTR CListElementUI::GetClass() const { return L"ListElement"; }

void* CListElementUI::GetInterface(LPCWSTR pstrName)
{
    if (Is(pstrName, L"IListItem")) return static_cast<IListItemUI*>(this);
    if (Is(pstrName, L"ListElement")) return static_cast<CListElementUI*>(this);
    return CControlUI::GetInterface(pstrName);
}

bool CListElementUI::Activate()
{
    if (!CControlUI::Activate()) return false;
    m_item.SendActivate();
    return true;
}

void CListElementUI::SetVisible(bool bVisible)
{
    CControlUI::SetVisible(bVisible);
    m_item.HideSelected();
}

void CListElementUI::SetEnabled(bool bEnable)
{
    CControlUI::SetEnabled(bEnable);
    if (!IsEnabled()) m_item.m_uButtonState = 0;
}

void CListElementUI::DoEvent(UIEvent& event)
{
    if (m_item.DoEvent(event)) return;
    if (m_item.m_pOwner) m_item.m_pOwner->DoEvent(event);
    else CControlUI::DoEvent(event);
}

void CListElementUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    // Selecting while the layout is built takes no focus: the tree is not
    // attached to its window yet.
    if (Is(pstrName, L"selected")) Select(true, false);
    else CControlUI::SetAttribute(pstrName, pstrValue);
}

// ---------------------------------------------------------------- label element

LPCWSTR CListLabelElementUI::GetClass() const { return L"ListLabelElement"; }

void* CListLabelElementUI::GetInterface(LPCWSTR pstrName)
{
    if (Is(pstrName, L"ListLabelElement")) return static_cast<CListLabelElementUI*>(this);
    return CListElementUI::GetInterface(pstrName);
}

void CListLabelElementUI::SetOwner(CControlUI* pOwner)
{
    m_item.SetOwner(pOwner);
    m_bNeedEstimateSize = true;
}

void CListLabelElementUI::SetText(LPCWSTR pstrText)
{
    CListElementUI::SetText(pstrText);
    m_bNeedEstimateSize = true;
}

SIZE CListLabelElementUI::EstimateSize(SIZE szAvailable)
{
    if (!m_item.m_pOwner || !m_item.m_pOwner->GetListInfo()) return m_cxyFixed;
    const ListInfo& info = *m_item.m_pOwner->GetListInfo();
    if (m_cxyFixed.cx > 0 && m_cxyFixed.cy > 0) return m_cxyFixed;
    if (m_cxyFixed.cx > 0 && info.nItemHeight > 0) return SIZE{m_cxyFixed.cx, info.nItemHeight};

    const bool single = (info.uTextStyle & DT_SINGLELINE) != 0;
    if (!single && (szAvailable.cx != m_szAvailableLast.cx || szAvailable.cy != m_szAvailableLast.cy))
        m_bNeedEstimateSize = true;
    if (info.nItemHeight != m_nLastItemHeight || info.nFont != m_nLastFont || info.uTextStyle != m_uLastTextStyle ||
        !::EqualRect(&info.rcTextPadding, &m_rcLastTextPadding))
        m_bNeedEstimateSize = true;
    if (!m_bNeedEstimateSize || !m_pManager) return m_cxyEstimate;

    m_bNeedEstimateSize = false;
    m_szAvailableLast = szAvailable;
    m_nLastItemHeight = info.nItemHeight;
    m_nLastFont = info.nFont;
    m_uLastTextStyle = info.uTextStyle;
    m_rcLastTextPadding = info.rcTextPadding;

    const RECT& pad = info.rcTextPadding;
    const UINT measure = (info.uTextStyle & ~kHorizontalAlign) | DT_CALCRECT;
    HDC dc = m_pManager->GetPaintDC();
    auto layOut = [&](RECT& rc) {
        if (info.bShowHtml) {
            int links = 0;
            CDrawHelper::DrawHtmlText(dc, m_pManager, rc, m_sText, 0, nullptr, nullptr, links, info.nFont, measure);
        } else {
            CDrawHelper::DrawText(dc, m_pManager, rc, m_sText, 0, info.nFont, measure);
        }
    };
    SIZE sz = {m_cxyFixed.cx, m_cxyFixed.cy != 0 ? m_cxyFixed.cy : info.nItemHeight};
    if (single) {
        if (sz.cy == 0) sz.cy = m_pManager->GetFontInfo(info.nFont)->tm.tmHeight + 8 + pad.top + pad.bottom;
        if (sz.cx == 0) {
            RECT rc = {0, 0, 9999, sz.cy};
            layOut(rc);
            sz.cx = rc.right - rc.left + pad.left + pad.right;
        }
    } else {
        if (sz.cx == 0) sz.cx = szAvailable.cx;
        if (sz.cy == 0) {
            RECT rc = {0, 0, sz.cx - pad.left - pad.right, 9999};
            layOut(rc);
            sz.cy = rc.bottom - rc.top + pad.top + pad.bottom;
        }
    }
    m_cxyEstimate = sz;
    return sz;
}

bool CListLabelElementUI::DoPaint(HDC hDC, const RECT&, CControlUI*)
{
    m_item.DrawItemBk(hDC, m_diBk);
    DrawItemText(hDC, m_rcItem);
    return true;
}

void CListLabelElementUI::DrawCellText(HDC hDC, RECT rc, LPCWSTR text, const ListInfo& info, RECT* links,
                                       CUIString* linkTexts, int& linkCount)
{
    if (!text || !*text) {
        linkCount = 0;
        return;
    }
    const DWORD color = m_item.TextColor(info);
    if (info.bShowHtml) {
        CDrawHelper::DrawHtmlText(hDC, m_pManager, rc, text, color, links, linkTexts, linkCount, info.nFont,
                                  info.uTextStyle);
    } else {
        CDrawHelper::DrawText(hDC, m_pManager, rc, text, color, info.nFont, info.uTextStyle);
        linkCount = 0;
    }
}

void CListLabelElementUI::DrawItemText(HDC hDC, const RECT& rcItem)
{
    if (m_sText.IsEmpty() || !m_item.m_pOwner) return;
    const ListInfo* info = m_item.m_pOwner->GetListInfo();
    if (!info) return;
    int none = 0;
    DrawCellText(hDC, Inset(rcItem, info->rcTextPadding), m_sText, *info, nullptr, nullptr, none);
}

// ---------------------------------------------------------------- text element

CListTextElementUI::CListTextElementUI() = default;

CListTextElementUI::~CListTextElementUI()
{
    for (int i = 0; i < m_aTexts.GetSize(); ++i) delete static_cast<CUIString*>(m_aTexts.GetAt(i));
}

LPCWSTR CListTextElementUI::GetClass() const { return L"ListTextElement"; }

void* CListTextElementUI::GetInterface(LPCWSTR pstrName)
{
    if (Is(pstrName, L"ListTextElement")) return static_cast<CListTextElementUI*>(this);
    return CListLabelElementUI::GetInterface(pstrName);
}

UINT CListTextElementUI::GetControlFlags() const { return (IsEnabled() && m_nLinks > 0) ? 6 : 4; }

void CListTextElementUI::SetOwner(CControlUI* pOwner)
{
    CListLabelElementUI::SetOwner(pOwner);
    m_pOwnerList = pOwner ? static_cast<IListUI*>(pOwner->GetInterface(L"IList")) : nullptr;
}

LPCWSTR CListTextElementUI::GetText(int iIndex) const
{
    const CUIString* text = static_cast<CUIString*>(m_aTexts.GetAt(iIndex));
    return text ? text->GetData() : L"";
}

void CListTextElementUI::SetText(int iIndex, LPCWSTR pstrText)
{
    if (iIndex < 0 || iIndex >= kMaxListColumns) return;
    while (m_aTexts.GetSize() <= iIndex) {
        if (!m_aTexts.Add(nullptr)) return;
    }
    CUIString* text = static_cast<CUIString*>(m_aTexts.GetAt(iIndex));
    if (text && text->Equals(pstrText ? pstrText : L"")) return;
    if (!text) {
        text = new CUIString;
        m_aTexts.SetAt(iIndex, text);
    }
    text->Assign(pstrText);
    m_bNeedEstimateSize = true;
    Invalidate();
}

RECT CListTextElementUI::GetLinkRect(int index) const
{
    if (index < 0 || index >= m_nLinks) return RECT{0, 0, 0, 0};
    return m_rcLinks[index];
}

int CListTextElementUI::LinkAt(POINT pt) const
{
    for (int i = 0; i < m_nLinks; ++i) {
        if (::PtInRect(&m_rcLinks[i], pt)) return i;
    }
    return -1;
}

void CListTextElementUI::DoEvent(UIEvent& event)
{
    if (IsMouseEnabled() || !IsMouseEventType(event.Type)) {
        const int link = LinkAt(event.ptMouse);
        switch (event.Type) {
        case UIEventSetCursor:
            if (link >= 0) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
                return;
            }
            break;
        case UIEventButtonUp:
            if (IsEnabled() && link >= 0 && m_pManager) {
                m_pManager->SendNotify(this, L"link", static_cast<WPARAM>(link));
            }
            break;
        case UIEventMouseMove:
            if (link != m_nHoverLink) {
                m_nHoverLink = link;
                Invalidate();
            }
            break;
        case UIEventMouseLeave:
            if (m_nHoverLink >= 0) {
                if (m_nHoverLink < m_nLinks && ::PtInRect(&m_rcLinks[m_nHoverLink], event.ptMouse)) {
                    if (m_pManager) m_pManager->AddMouseLeavePending(this);
                    return;
                }
                m_nHoverLink = -1;
                Invalidate();
            }
            break;
        default:
            break;
        }
    }
    CListLabelElementUI::DoEvent(event);
}

SIZE CListTextElementUI::EstimateSize(SIZE szAvailable)
{
    const ListInfo* info = m_item.m_pOwner ? m_item.m_pOwner->GetListInfo() : nullptr;
    if (!info) return CListLabelElementUI::EstimateSize(szAvailable);
    int width = m_cxyFixed.cx;
    if (width == 0 && info->nColumns > 0) {
        width = info->rcColumn[info->nColumns - 1].right - info->rcColumn[0].left;
        if (width != m_nLastColumnSpan) {
            m_nLastColumnSpan = width;
            m_bNeedEstimateSize = true;
        }
    }
    const int height = m_cxyFixed.cy != 0 ? m_cxyFixed.cy : info->nItemHeight;
    if (width > 0 && height > 0) return SIZE{width, height};
    return CListLabelElementUI::EstimateSize(szAvailable);
}

void CListTextElementUI::DrawItemText(HDC hDC, const RECT& rcItem)
{
    m_nLinks = 0;
    if (!m_item.m_pOwner) return;
    const ListInfo* info = m_item.m_pOwner->GetListInfo();
    if (!info) return;
    IListTextProvider* provider = m_pOwnerList ? m_pOwnerList->GetListWord() : nullptr;
    const int columns = info->nColumns;
    for (int i = 0; i < (columns > 0 ? columns : 1); ++i) {
        RECT cell = rcItem;
        if (columns > 0) cell = RECT{info->rcColumn[i].left, rcItem.top, info->rcColumn[i].right, rcItem.bottom};
        CUIString text;
        if (provider) text = provider->GetItemText(this, m_item.m_iIndex, i);
        else text = columns > 0 ? CUIString(GetText(i)) : m_sText;
        int links = kMaxLinks - m_nLinks;
        DrawCellText(hDC, Inset(cell, info->rcTextPadding), text, *info, m_rcLinks + m_nLinks, m_sLinks + m_nLinks,
                     links);
        if (links > 0) m_nLinks += links < kMaxLinks - m_nLinks ? links : kMaxLinks - m_nLinks;
    }
}

// ---------------------------------------------------------------- container elements

LPCWSTR CListContainerElementUI::GetClass() const { return L"ListContainerElement"; }

void* CListContainerElementUI::GetInterface(LPCWSTR pstrName)
{
    if (Is(pstrName, L"IListItem")) return static_cast<IListItemUI*>(this);
    if (Is(pstrName, L"ListContainerElement")) return static_cast<CListContainerElementUI*>(this);
    return CContainerUI::GetInterface(pstrName);
}

bool CListContainerElementUI::Activate()
{
    if (!CContainerUI::Activate()) return false;
    m_item.SendActivate();
    return true;
}

void CListContainerElementUI::SetVisible(bool bVisible)
{
    CContainerUI::SetVisible(bVisible);
    m_item.HideSelected();
}

void CListContainerElementUI::SetEnabled(bool bEnable)
{
    CContainerUI::SetEnabled(bEnable);
    if (!IsEnabled()) m_item.m_uButtonState = 0;
}

void CListContainerElementUI::DoEvent(UIEvent& event)
{
    if (m_item.DoEvent(event)) return;
    if (m_item.m_pOwner) m_item.m_pOwner->DoEvent(event);
    else CContainerUI::DoEvent(event);
}

void CListContainerElementUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (Is(pstrName, L"selected")) Select(true, false);
    else if (Is(pstrName, L"expandable")) SetExpandable(IsTrue(pstrValue));
    else CContainerUI::SetAttribute(pstrName, pstrValue);
}

bool CListContainerElementUI::Expand(bool bExpand)
{
    if (!m_item.m_pOwner) return false;
    if (bExpand == m_bExpanded) return true;
    m_bExpanded = bExpand;
    if (!m_bExpandable) return true;
    if (!m_item.m_pOwner->ExpandItem(m_item.m_iIndex, bExpand)) return false;
    if (m_pManager) m_pManager->SendNotify(this, bExpand ? L"itemexpand" : L"itemcollapse");
    return true;
}

SIZE CListContainerElementUI::EstimateSize(SIZE)
{
    SIZE sz = m_cxyFixed;
    if (sz.cy == 0 && m_item.m_pOwner && m_item.m_pOwner->GetListInfo())
        sz.cy = m_item.m_pOwner->GetListInfo()->nItemHeight;
    return sz;
}

bool CListContainerElementUI::DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl)
{
    m_item.DrawItemBk(hDC, m_diBk);
    return CContainerUI::DoPaint(hDC, rcPaint, pStopControl);
}

LPCWSTR CListHBoxElementUI::GetClass() const { return L"ListHBoxElement"; }

void* CListHBoxElementUI::GetInterface(LPCWSTR pstrName)
{
    if (Is(pstrName, L"ListHBoxElement")) return static_cast<CListHBoxElementUI*>(this);
    return CListContainerElementUI::GetInterface(pstrName);
}

void CListHBoxElementUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    if (!m_item.m_pOwner) {
        CContainerUI::SetPos(rc, bNeedInvalidate);
        return;
    }
    CControlUI::SetPos(rc, bNeedInvalidate);
    const ListInfo* info = m_item.m_pOwner->GetListInfo();
    if (!info) return;
    int column = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        CControlUI* child = static_cast<CControlUI*>(m_items.ItemAt(i));
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            SetFloatPos(i);
            continue;
        }
        const RECT pad = child->GetPadding();
        if (info->nColumns == 0) {
            child->SetPos(Inset(m_rcItem, pad), false);
            continue;
        }
        // Children beyond the last column are not placed.
        if (column >= info->nColumns) continue;
        const RECT& col = info->rcColumn[column];
        RECT cell = {col.left + pad.left, m_rcItem.top + pad.top, col.right - pad.right, m_rcItem.bottom - pad.bottom};
        if (info->iVLineSize > 0 && column != info->nColumns - 1) cell.right -= info->iVLineSize;
        child->SetPos(cell, false);
        ++column;
    }
}

bool CListHBoxElementUI::DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl)
{
    const ListInfo* info = m_item.m_pOwner ? m_item.m_pOwner->GetListInfo() : nullptr;
    if (!info) return true;
    m_item.DrawItemBk(hDC, m_diBk);
    if (info->iVLineSize > 0) {
        for (int i = 0; i < info->nColumns - 1; ++i) {
            const int x = info->rcColumn[i].right - info->iVLineSize / 2;
            CDrawHelper::DrawLine(hDC, RECT{x, m_rcItem.top, x, m_rcItem.bottom}, info->iVLineSize,
                                  info->dwVLineColor);
        }
    }
    return CContainerUI::DoPaint(hDC, rcPaint, pStopControl);
}

}  // namespace SkinUI
