// The list control: its item bookkeeping over the body, selection and
// expansion, keyboard and wheel handling, the header's columns, and the body's
// layout, scrolling and painting; the shared "item..." attributes.
#include "UIList.h"

#include <cstdlib>
#include <cwchar>

#include "UIButton.h"
#include "UIManager.h"
#include "UIRender.h"
#include "UIScrollBar.h"

namespace SkinUI {

namespace {

bool Is(LPCWSTR a, LPCWSTR b) { return std::wcscmp(a, b) == 0; }
bool Contains(LPCWSTR text, LPCWSTR word) { return text && std::wcsstr(text, word) != nullptr; }
int ReadInt(LPCWSTR v) { return static_cast<int>(std::wcstol(v, nullptr, 10)); }
int MinInt(int a, int b) { return a < b ? a : b; }

IListItemUI* ItemOf(CControlUI* c) { return c ? static_cast<IListItemUI*>(c->GetInterface(L"IListItem")) : nullptr; }

void SetImageText(UIImageDrawInfo& info, LPCWSTR value)
{
    if (info.sDrawString.Equals(value ? value : L"") && info.pImageInfo) return;
    info.Clear();
    info.sDrawString = value;
}

}  // namespace

// ---------------------------------------------------------------- shared

bool SetListInfoAttribute(ListInfo& info, CControlUI& owner, LPCWSTR pstrName, LPCWSTR pstrValue, bool full)
{
    struct ColorKey {
        LPCWSTR name;
        DWORD ListInfo::*field;
    };
    static const ColorKey kColors[] = {
        {L"itemtextcolor", &ListInfo::dwTextColor},
        {L"itembkcolor", &ListInfo::dwBkColor},
        {L"itemselectedtextcolor", &ListInfo::dwSelectedTextColor},
        {L"itemselectedbkcolor", &ListInfo::dwSelectedBkColor},
        {L"itemhottextcolor", &ListInfo::dwHotTextColor},
        {L"itemhotbkcolor", &ListInfo::dwHotBkColor},
        {L"itemdisabledtextcolor", &ListInfo::dwDisabledTextColor},
        {L"itemdisabledbkcolor", &ListInfo::dwDisabledBkColor},
        {L"itemhlinecolor", &ListInfo::dwHLineColor},
        {L"itemvlinecolor", &ListInfo::dwVLineColor},
    };
    struct ImageKey {
        LPCWSTR name;
        UIImageDrawInfo ListInfo::*field;
    };
    static const ImageKey kImages[] = {
        {L"itembkimage", &ListInfo::diBk},
        {L"itemselectedimage", &ListInfo::diSelected},
        {L"itemhotimage", &ListInfo::diHot},
        {L"itemdisabledimage", &ListInfo::diDisabled},
    };
    for (const ColorKey& k : kColors) {
        if (!Is(pstrName, k.name)) continue;
        // Only a leading "#" is skipped: a colour written without one keeps
        // its first digit.
        info.*k.field = ParseColorText(pstrValue);
        owner.Invalidate();
        return true;
    }
    for (const ImageKey& k : kImages) {
        if (!Is(pstrName, k.name)) continue;
        SetImageText(info.*k.field, pstrValue);
        owner.Invalidate();
        return true;
    }
    const bool yes = IsTrue(pstrValue);
    if (Is(pstrName, L"itemheight")) {
        info.nItemHeight = ReadInt(pstrValue);
        owner.NeedUpdate();
    } else if (Is(pstrName, L"itemfont")) {
        info.nFont = ReadInt(pstrValue);
        owner.NeedUpdate();
    } else if (Is(pstrName, L"itemalign")) {
        if (Contains(pstrValue, L"left")) info.uTextStyle &= ~(DT_CENTER | DT_RIGHT);
        if (Contains(pstrValue, L"center")) info.uTextStyle = (info.uTextStyle & ~(DT_CENTER | DT_RIGHT)) | DT_CENTER;
        if (Contains(pstrValue, L"right")) info.uTextStyle = (info.uTextStyle & ~(DT_CENTER | DT_RIGHT)) | DT_RIGHT;
    } else if (full && Is(pstrName, L"itemvalign")) {
        if (Contains(pstrValue, L"top")) info.uTextStyle &= ~(DT_VCENTER | DT_BOTTOM);
        if (Contains(pstrValue, L"vcenter")) info.uTextStyle = (info.uTextStyle & ~(DT_VCENTER | DT_BOTTOM)) | DT_VCENTER;
        if (Contains(pstrValue, L"bottom")) info.uTextStyle = (info.uTextStyle & ~(DT_VCENTER | DT_BOTTOM)) | DT_BOTTOM;
    } else if (full && Is(pstrName, L"itemendellipsis")) {
        if (yes) info.uTextStyle |= DT_END_ELLIPSIS;
        else info.uTextStyle &= ~DT_END_ELLIPSIS;
    } else if (full && Is(pstrName, L"itemmultiline")) {
        if (yes) {
            info.uTextStyle &= ~DT_SINGLELINE;
            info.uTextStyle |= DT_WORDBREAK;
        } else {
            info.uTextStyle |= DT_SINGLELINE;
        }
    } else if (Is(pstrName, L"itemtextpadding")) {
        int v[4];
        ReadNumberList(pstrValue, v, 4);
        info.rcTextPadding = RECT{v[0], v[1], v[2], v[3]};
        owner.NeedUpdate();
    } else if (Is(pstrName, L"itemaltbk")) {
        info.bAlternateBk = yes;
    } else if (Is(pstrName, L"itemshowhtml")) {
        if (info.bShowHtml != yes) {
            info.bShowHtml = yes;
            owner.NeedUpdate();
        }
    } else if (Is(pstrName, L"itemhlinesize")) {
        info.iHLineSize = ReadInt(pstrValue);
        owner.Invalidate();
    } else if (Is(pstrName, L"itemvlinesize")) {
        info.iVLineSize = ReadInt(pstrValue);
        owner.Invalidate();
    } else {
        return false;
    }
    return true;
}

void FreeListInfoImages(ListInfo& info)
{
    info.diBk.Clear();
    info.diSelected.Clear();
    info.diHot.Clear();
    info.diDisabled.Clear();
}

void PrepareListItemPaint(HDC hDC, CControlUI* pItem, int& drawIndex, const ListInfo* info)
{
    IListItemUI* item = ItemOf(pItem);
    if (!item) return;
    item->SetDrawIndex(drawIndex++);
    if (!info || info->iHLineSize <= 0) return;
    const RECT& rc = pItem->GetPos();
    const RECT pad = pItem->GetPadding();
    const int y = rc.bottom + pad.bottom + info->iHLineSize / 2;
    CDrawHelper::DrawLine(hDC, RECT{rc.left, y, rc.right, y}, info->iHLineSize, info->dwHLineColor);
}

int ScrollNeededToShow(const RECT& item, const RECT& band)
{
    if (item.bottom > band.bottom) return item.bottom - band.bottom;
    if (item.top < band.top) return item.top - band.top;
    return 0;
}

int NavigationTarget(const CContainerUI& items, int current, UINT key, int count)
{
    switch (key) {
    case VK_UP:
        return items.FindSelectable(current - 1, false);
    case VK_DOWN:
        return items.FindSelectable(current + 1, true);
    case VK_HOME:
        return items.FindSelectable(0, false);
    case VK_END:
        return items.FindSelectable(count - 1, true);
    default:
        return -1;
    }
}

// ---------------------------------------------------------------- header item

CListHeaderItemUI::CListHeaderItemUI() { SetMinWidth(16); }

LPCWSTR CListHeaderItemUI::GetClass() const { return L"ListHeaderItem"; }

void* CListHeaderItemUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && Is(pstrName, L"ListHeaderItem")) return this;
    return CControlUI::GetInterface(pstrName);
}

UINT CListHeaderItemUI::GetControlFlags() const
{
    return (IsEnabled() && m_iSepWidth != 0) ? UIFLAG_SETCURSOR : 0;
}

void CListHeaderItemUI::SetEnabled(bool bEnable)
{
    CControlUI::SetEnabled(bEnable);
    if (!IsEnabled()) m_uButtonState = 0;
}

void CListHeaderItemUI::SetDragable(bool bDragable)
{
    m_bDragable = bDragable;
    if (!m_bDragable) m_uButtonState &= ~UISTATE_CAPTURED;
}

RECT CListHeaderItemUI::GetThumbRect() const
{
    if (m_iSepWidth >= 0) return RECT{m_rcItem.right - m_iSepWidth, m_rcItem.top, m_rcItem.right, m_rcItem.bottom};
    return RECT{m_rcItem.left, m_rcItem.top, m_rcItem.left - m_iSepWidth, m_rcItem.bottom};
}

void CListHeaderItemUI::SetImage(UIImageDrawInfo& info, LPCWSTR image)
{
    SetImageText(info, image);
    Invalidate();
}

void CListHeaderItemUI::DoEvent(UIEvent& event)
{
    if (!IsMouseEnabled() && IsMouseEventType(event.Type)) {
        if (m_pParent) m_pParent->DoEvent(event);
        else CControlUI::DoEvent(event);
        return;
    }
    switch (event.Type) {
    case UIEventSetFocus:
    case UIEventKillFocus:
        Invalidate();
        break;
    case UIEventButtonDown:
    case UIEventDoubleClick: {
        if (!IsEnabled()) return;
        const RECT strip = GetThumbRect();
        if (::PtInRect(&strip, event.ptMouse)) {
            if (m_bDragable) {
                m_uButtonState |= UISTATE_CAPTURED;
                m_ptLastMouse = event.ptMouse;
            }
        } else {
            m_uButtonState |= UISTATE_PUSHED;
            if (m_pManager) m_pManager->SendNotify(this, L"headerclick");
            Invalidate();
        }
        return;
    }
    case UIEventButtonUp:
        if (m_uButtonState & UISTATE_CAPTURED) {
            m_uButtonState &= ~UISTATE_CAPTURED;
            if (m_pParent) m_pParent->NeedParentUpdate();
        } else if (m_uButtonState & UISTATE_PUSHED) {
            m_uButtonState &= ~UISTATE_PUSHED;
            Invalidate();
        }
        return;
    case UIEventMouseMove:
        if (m_uButtonState & UISTATE_CAPTURED) {
            int dx = event.ptMouse.x - m_ptLastMouse.x;
            if (m_iSepWidth < 0) dx = -dx;
            const int width = (m_rcItem.right - m_rcItem.left) + dx;
            if (GetMinWidth() >= width) return;
            m_cxyFixed.cx = width;
            m_ptLastMouse = event.ptMouse;
            if (m_pParent) m_pParent->NeedParentUpdate();
        }
        return;
    case UIEventSetCursor: {
        const RECT strip = GetThumbRect();
        if (IsEnabled() && m_bDragable && ::PtInRect(&strip, event.ptMouse)) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_SIZEWE));
            return;
        }
        break;
    }
    case UIEventMouseEnter:
        if (::PtInRect(&m_rcItem, event.ptMouse) && IsEnabled()) {
            m_uButtonState |= UISTATE_HOT;
            Invalidate();
        }
        return;
    case UIEventMouseLeave:
        if (::PtInRect(&m_rcItem, event.ptMouse)) {
            if (m_pManager) m_pManager->AddMouseLeavePending(this);
            return;
        }
        m_uButtonState &= ~UISTATE_HOT;
        Invalidate();
        if (m_pManager) m_pManager->RemoveMouseLeavePending(this);
        return;
    default:
        break;
    }
    CControlUI::DoEvent(event);
}

void CListHeaderItemUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    const bool yes = IsTrue(pstrValue);
    if (Is(pstrName, L"dragable")) {
        SetDragable(yes);
    } else if (Is(pstrName, L"align")) {
        if (Contains(pstrValue, L"left")) m_uTextStyle &= ~(DT_CENTER | DT_RIGHT);
        if (Contains(pstrValue, L"center")) m_uTextStyle = (m_uTextStyle & ~(DT_CENTER | DT_RIGHT)) | DT_CENTER;
        if (Contains(pstrValue, L"right")) m_uTextStyle = (m_uTextStyle & ~(DT_CENTER | DT_RIGHT)) | DT_RIGHT;
    } else if (Is(pstrName, L"valign")) {
        if (Contains(pstrValue, L"top")) m_uTextStyle &= ~(DT_VCENTER | DT_BOTTOM);
        if (Contains(pstrValue, L"vcenter")) m_uTextStyle = (m_uTextStyle & ~(DT_VCENTER | DT_BOTTOM)) | DT_VCENTER;
        if (Contains(pstrValue, L"bottom")) m_uTextStyle = (m_uTextStyle & ~(DT_VCENTER | DT_BOTTOM)) | DT_BOTTOM;
    } else if (Is(pstrName, L"endellipsis")) {
        if (yes) m_uTextStyle |= DT_END_ELLIPSIS;
        else m_uTextStyle &= ~DT_END_ELLIPSIS;
    } else if (Is(pstrName, L"multiline")) {
        if (yes) {
            m_uTextStyle &= ~DT_SINGLELINE;
            m_uTextStyle |= DT_WORDBREAK;
        } else {
            m_uTextStyle |= DT_SINGLELINE;
        }
    } else if (Is(pstrName, L"font")) {
        m_iFont = ReadInt(pstrValue);
    } else if (Is(pstrName, L"textcolor")) {
        m_dwTextColor = ParseColorText(pstrValue);
    } else if (Is(pstrName, L"sepcolor")) {
        m_dwSepColor = ParseColorText(pstrValue);
    } else if (Is(pstrName, L"textpadding")) {
        int v[4];
        ReadNumberList(pstrValue, v, 4);
        m_rcTextPadding = RECT{v[0], v[1], v[2], v[3]};
        Invalidate();
    } else if (Is(pstrName, L"showhtml")) {
        m_bShowHtml = yes;
    } else if (Is(pstrName, L"normalimage")) {
        SetImage(m_diNormal, pstrValue);
    } else if (Is(pstrName, L"hotimage")) {
        SetImage(m_diHot, pstrValue);
    } else if (Is(pstrName, L"pushedimage")) {
        SetImage(m_diPushed, pstrValue);
    } else if (Is(pstrName, L"focusedimage")) {
        SetImage(m_diFocused, pstrValue);
    } else if (Is(pstrName, L"sepimage")) {
        SetImage(m_diSep, pstrValue);
    } else if (Is(pstrName, L"sepwidth")) {
        m_iSepWidth = ReadInt(pstrValue);
    } else {
        CControlUI::SetAttribute(pstrName, pstrValue);
    }
}

SIZE CListHeaderItemUI::EstimateSize(SIZE szAvailable)
{
    if (m_cxyFixed.cy != 0) return CControlUI::EstimateSize(szAvailable);
    const int height = m_pManager ? m_pManager->GetDefaultFontInfo()->tm.tmHeight : 0;
    return SIZE{m_cxyFixed.cx, height + 8};
}

void CListHeaderItemUI::PaintStatusImage(HDC hDC)
{
    if (IsFocused()) m_uButtonState |= UISTATE_FOCUSED;
    else m_uButtonState &= ~UISTATE_FOCUSED;
    if (m_uButtonState & UISTATE_PUSHED) {
        if (!DrawImage(hDC, m_diPushed)) DrawImage(hDC, m_diNormal);
    } else if (m_uButtonState & UISTATE_HOT) {
        if (!DrawImage(hDC, m_diHot)) DrawImage(hDC, m_diNormal);
    } else if (m_uButtonState & UISTATE_FOCUSED) {
        if (!DrawImage(hDC, m_diFocused)) DrawImage(hDC, m_diNormal);
    } else {
        DrawImage(hDC, m_diNormal);
    }
    if (m_iSepWidth > 0) {
        const RECT strip = {m_rcItem.right - m_iSepWidth, m_rcItem.top, m_rcItem.right, m_rcItem.bottom};
        // The separator image is drawn into the strip, given relative to the item.
        const RECT saved = m_diSep.rcDest;
        UIImageDrawInfo& sep = m_diSep;
        bool drawn = false;
        if (!sep.sDrawString.IsEmpty()) {
            drawn = CDrawHelper::DrawImageString(hDC, m_pManager, strip, m_rcPaint, sep);
        }
        sep.rcDest = saved;
        if (!drawn && m_dwSepColor != 0) {
            const int x = strip.left + m_iSepWidth / 2;
            CDrawHelper::DrawLine(hDC, RECT{x, strip.top, x, strip.bottom}, m_iSepWidth, m_dwSepColor);
        }
    }
}

void CListHeaderItemUI::PaintText(HDC hDC)
{
    if (m_dwTextColor == 0 && m_pManager) m_dwTextColor = m_pManager->GetDefaultFontColor();
    if (m_sText.IsEmpty()) return;
    RECT rc = {m_rcItem.left + m_rcTextPadding.left, m_rcItem.top + m_rcTextPadding.top,
               m_rcItem.right - m_rcTextPadding.right, m_rcItem.bottom - m_rcTextPadding.bottom};
    if (m_bShowHtml) {
        int links = 0;
        CDrawHelper::DrawHtmlText(hDC, m_pManager, rc, m_sText, m_dwTextColor, nullptr, nullptr, links, m_iFont,
                                  m_uTextStyle);
    } else {
        CDrawHelper::DrawText(hDC, m_pManager, rc, m_sText, m_dwTextColor, m_iFont, m_uTextStyle);
    }
}

// ---------------------------------------------------------------- header

LPCWSTR CListHeaderUI::GetClass() const { return L"ListHeader"; }

void* CListHeaderUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && Is(pstrName, L"ListHeader")) return this;
    return CHorizontalLayoutUI::GetInterface(pstrName);
}

SIZE CListHeaderUI::EstimateSize(SIZE szAvailable)
{
    SIZE sz = {0, m_cxyFixed.cy};
    int tallest = 0;
    for (int i = 0; i < m_items.GetSize(); ++i) {
        const SIZE item = static_cast<CControlUI*>(m_items.ItemAt(i))->EstimateSize(szAvailable);
        sz.cx += item.cx;
        if (item.cy > tallest) tallest = item.cy;
    }
    if (sz.cy == 0) {
        const int least = m_pManager ? m_pManager->GetDefaultFontInfo()->tm.tmHeight + 8 : 0;
        sz.cy = tallest > least ? tallest : least;
    }
    return sz;
}

// ---------------------------------------------------------------- body

void CListBodyUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    BoxRules rules;
    if (m_pOwner) {
        const ListInfo* info = m_pOwner->GetListInfo();
        rules.extraPadding = info->iHLineSize;
        if (info->nColumns > 0) {
            rules.crossAvailable = info->rcColumn[info->nColumns - 1].right - info->rcColumn[0].left;
        }
        CListHeaderUI* header = m_pOwner->GetHeader();
        if (header && header->GetCount() > 0) {
            rules.crossNeeded = header->EstimateSize(SIZE{rc.right - rc.left, rc.bottom - rc.top}).cx;
        }
    }
    LayoutBox(rc, bNeedInvalidate, rules);
}

void CListBodyUI::SetScrollPos(SIZE szPos)
{
    const int oldX = m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible()
                         ? m_pHorizontalScrollBar->GetScrollPos()
                         : 0;
    CVerticalLayoutUI::SetScrollPos(szPos);
    const int newX = m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible()
                         ? m_pHorizontalScrollBar->GetScrollPos()
                         : 0;
    if (newX == oldX || !m_pOwner) return;
    CListHeaderUI* header = m_pOwner->GetHeader();
    if (!header) return;
    for (int i = 0; i < header->GetCount(); ++i) {
        CControlUI* item = header->GetItemAt(i);
        if (item->IsVisible() && !item->IsFloat()) item->Move(SIZE{oldX - newX, 0}, false);
    }
    m_pOwner->RefreshColumns();
    header->Invalidate();
}

void CListBodyUI::DoEvent(UIEvent& event)
{
    if (!IsMouseEnabled() && IsMouseEventType(event.Type)) {
        if (m_pOwner) m_pOwner->DoEvent(event);
        else CControlUI::DoEvent(event);
        return;
    }
    if (!m_pOwner) {
        CVerticalLayoutUI::DoEvent(event);
        return;
    }
    if (event.Type == UIEventMouseWheel && m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible() &&
        m_pHorizontalScrollBar->IsEnabled() && ::PtInRect(&m_pHorizontalScrollBar->GetPos(), event.ptMouse)) {
        if (event.wParam == 0) {
            m_pOwner->LineLeft();
            return;
        }
        if (event.wParam == 1) {
            m_pOwner->LineRight();
            return;
        }
    }
    m_pOwner->DoEvent(event);
}

void CListBodyUI::PrepareItemPaint(HDC hDC, CControlUI* pItem, int& counter)
{
    PrepareListItemPaint(hDC, pItem, counter, m_pOwner ? m_pOwner->GetListInfo() : nullptr);
}

// ---------------------------------------------------------------- list

CListUI::CListUI()
{
    m_pList = new CListBodyUI(this);
    m_pHeader = new CListHeaderUI;
    Add(m_pHeader);
    CVerticalLayoutUI::Add(m_pList);
}

CListUI::~CListUI() { FreeListInfoImages(m_ListInfo); }

LPCWSTR CListUI::GetClass() const { return L"List"; }

void* CListUI::GetInterface(LPCWSTR pstrName)
{
    if (!pstrName) return nullptr;
    if (Is(pstrName, L"List")) return static_cast<CListUI*>(this);
    if (Is(pstrName, L"IList")) return static_cast<IListUI*>(this);
    if (Is(pstrName, L"IListOwner")) return static_cast<IListOwnerUI*>(this);
    return CVerticalLayoutUI::GetInterface(pstrName);
}

CContainerUI* CListUI::GetList() const { return m_pList; }

CControlUI* CListUI::GetItemAt(int iIndex) const { return m_pList->GetItemAt(iIndex); }
int CListUI::GetItemIndex(CControlUI* pControl) const { return m_pList->GetItemIndex(pControl); }
int CListUI::GetCount() const { return m_pList->GetCount(); }

void CListUI::Renumber(int from, int to)
{
    for (int i = from; i <= to; ++i) {
        if (IListItemUI* item = ItemOf(m_pList->GetItemAt(i))) item->SetIndex(i);
    }
}

namespace {

bool IsHeaderItem(CControlUI* c) { return c && Contains(c->GetClass(), L"ListHeaderItem"); }

}  // namespace

bool CListUI::SetItemIndex(CControlUI* pControl, int iIndex)
{
    if (pControl && pControl->GetInterface(L"ListHeader")) return CVerticalLayoutUI::SetItemIndex(pControl, iIndex);
    if (IsHeaderItem(pControl)) return m_pHeader->SetItemIndex(pControl, iIndex);
    const int old = m_pList->GetItemIndex(pControl);
    if (old < 0) return false;
    if (old == iIndex) return true;
    IListItemUI* selected = ItemOf(m_pList->GetItemAt(m_iCurSel));
    if (!m_pList->SetItemIndex(pControl, iIndex)) return false;
    Renumber(MinInt(old, iIndex), old > iIndex ? old : iIndex);
    if (selected) m_iCurSel = selected->GetIndex();
    return true;
}

bool CListUI::SetMultiItemIndex(CControlUI* pStartControl, int iCount, int iNewStartIndex)
{
    if (!pStartControl || iCount < 0 || iNewStartIndex < 0) return false;
    if (pStartControl->GetInterface(L"ListHeader"))
        return CVerticalLayoutUI::SetMultiItemIndex(pStartControl, iCount, iNewStartIndex);
    if (IsHeaderItem(pStartControl)) return m_pHeader->SetMultiItemIndex(pStartControl, iCount, iNewStartIndex);
    const int start = m_pList->GetItemIndex(pStartControl);
    if (start == iNewStartIndex) return true;
    if (start < 0 || start + iCount > GetCount() || iNewStartIndex + iCount > GetCount()) return false;
    IListItemUI* selected = ItemOf(m_pList->GetItemAt(m_iCurSel));
    if (!m_pList->SetMultiItemIndex(pStartControl, iCount, iNewStartIndex)) return false;
    const int lo = MinInt(start, iNewStartIndex);
    const int hi = (start > iNewStartIndex ? start : iNewStartIndex) + iCount - 1;
    Renumber(lo, hi);
    if (selected) m_iCurSel = selected->GetIndex();
    return true;
}

bool CListUI::AddHeader(CControlUI* pControl, int iIndex, bool bAt)
{
    if (pControl->GetInterface(L"ListHeader")) {
        if (pControl != m_pHeader && m_pHeader->GetCount() == 0) {
            CVerticalLayoutUI::Remove(m_pHeader);
            m_pHeader = static_cast<CListHeaderUI*>(pControl->GetInterface(L"ListHeader"));
        }
        m_ListInfo.nColumns = MinInt(m_pHeader->GetCount(), kMaxListColumns);
        return CVerticalLayoutUI::AddAt(pControl, 0);
    }
    const bool ok = bAt ? m_pHeader->AddAt(pControl, iIndex) : m_pHeader->Add(pControl);
    m_ListInfo.nColumns = MinInt(m_pHeader->GetCount(), kMaxListColumns);
    return ok;
}

bool CListUI::Add(CControlUI* pControl)
{
    if (!pControl) return false;
    if (pControl->GetInterface(L"ListHeader") || IsHeaderItem(pControl)) return AddHeader(pControl, 0, false);
    if (IListItemUI* item = ItemOf(pControl)) {
        item->SetOwner(this);
        item->SetIndex(GetCount());
    }
    return m_pList->Add(pControl);
}

bool CListUI::AddAt(CControlUI* pControl, int iIndex)
{
    if (!pControl) return false;
    if (pControl->GetInterface(L"ListHeader") || IsHeaderItem(pControl)) return AddHeader(pControl, iIndex, true);
    if (!m_pList->AddAt(pControl, iIndex)) return false;
    if (IListItemUI* item = ItemOf(pControl)) {
        item->SetOwner(this);
        item->SetIndex(iIndex);
    }
    Renumber(iIndex + 1, GetCount() - 1);
    if (m_iCurSel >= iIndex) ++m_iCurSel;
    return true;
}

bool CListUI::Remove(CControlUI* pControl, bool bDoNotDestroy)
{
    if (!pControl) return false;
    if (pControl->GetInterface(L"ListHeader")) return CVerticalLayoutUI::Remove(pControl, bDoNotDestroy);
    if (IsHeaderItem(pControl)) return m_pHeader->Remove(pControl, bDoNotDestroy);
    const int index = m_pList->GetItemIndex(pControl);
    if (index < 0) return false;
    if (!m_pList->RemoveAt(index, bDoNotDestroy)) return false;
    Renumber(index, GetCount() - 1);
    if (index == m_iCurSel) {
        m_iCurSel = -1;
        SelectItem(FindSelectable(index, false), false, true);
    } else if (index < m_iCurSel) {
        --m_iCurSel;
    }
    return true;
}

bool CListUI::RemoveAt(int iIndex, bool bDoNotDestroy)
{
    CControlUI* c = m_pList->GetItemAt(iIndex);
    if (!c) return false;
    return Remove(c, bDoNotDestroy);
}

void CListUI::RemoveAll()
{
    m_iCurSel = -1;
    m_iExpandedItem = -1;
    m_pList->RemoveAll();
}

int CListUI::GetChildPadding() const { return m_pList->GetChildPadding(); }
void CListUI::SetChildPadding(int iPadding) { m_pList->SetChildPadding(iPadding); }
int CListUI::FindSelectable(int iIndex, bool bForward) const { return m_pList->FindSelectable(iIndex, bForward); }
SIZE CListUI::GetScrollPos() const { return m_pList->GetScrollPos(); }
SIZE CListUI::GetScrollRange() const { return m_pList->GetScrollRange(); }
void CListUI::SetScrollPos(SIZE szPos) { m_pList->SetScrollPos(szPos); }
void CListUI::LineUp() { m_pList->LineUp(); }
void CListUI::LineDown() { m_pList->LineDown(); }
void CListUI::PageUp() { m_pList->PageUp(); }
void CListUI::PageDown() { m_pList->PageDown(); }
void CListUI::HomeUp() { m_pList->HomeUp(); }
void CListUI::EndDown() { m_pList->EndDown(); }
void CListUI::LineLeft() { m_pList->LineLeft(); }
void CListUI::LineRight() { m_pList->LineRight(); }
void CListUI::PageLeft() { m_pList->PageLeft(); }
void CListUI::PageRight() { m_pList->PageRight(); }
void CListUI::HomeLeft() { m_pList->HomeLeft(); }
void CListUI::EndRight() { m_pList->EndRight(); }
void CListUI::EnableScrollBar(bool bEnableVertical, bool bEnableHorizontal)
{
    m_pList->EnableScrollBar(bEnableVertical, bEnableHorizontal);
}
CScrollBarUI* CListUI::GetVerticalScrollBar() const { return m_pList->GetVerticalScrollBar(); }
CScrollBarUI* CListUI::GetHorizontalScrollBar() const { return m_pList->GetHorizontalScrollBar(); }

void CListUI::RefreshColumns()
{
    m_ListInfo.nColumns = MinInt(m_pHeader->GetCount(), kMaxListColumns);
    for (int i = 0; i < m_ListInfo.nColumns; ++i) m_ListInfo.rcColumn[i] = m_pHeader->GetItemAt(i)->GetPos();
}

void CListUI::PlaceHiddenHeader()
{
    if (!m_pHeader->IsVisible()) {
        for (int i = 0; i < m_pHeader->GetCount(); ++i) m_pHeader->GetItemAt(i)->SetInheritedVisible(true);
        m_pHeader->SetPos(RECT{m_rcItem.left + m_rcInset.left, 0, m_rcItem.right - m_rcInset.right, 0}, false);
        for (int i = 0; i < m_pHeader->GetCount(); ++i) m_pHeader->GetItemAt(i)->SetInheritedVisible(false);
    }
    RefreshColumns();
}

void CListUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    PlaceHiddenHeader();
    CVerticalLayoutUI::SetPos(rc, bNeedInvalidate);
    PlaceHiddenHeader();
}

void CListUI::Move(SIZE szOffset, bool bNeedInvalidate)
{
    CVerticalLayoutUI::Move(szOffset, bNeedInvalidate);
    if (!m_pHeader->IsVisible()) m_pHeader->Move(szOffset, false);
}

void CListUI::SelectByKey(UINT key)
{
    const int target = NavigationTarget(*m_pList, m_iCurSel, key, GetCount());
    // Nothing selectable that way: the selection stays where it is.
    if (target < 0) return;
    SelectItem(target, true, true);
}

void CListUI::DoEvent(UIEvent& event)
{
    if (!IsMouseEnabled() && IsMouseEventType(event.Type)) {
        if (m_pParent) m_pParent->DoEvent(event);
        else CVerticalLayoutUI::DoEvent(event);
        return;
    }
    switch (event.Type) {
    case UIEventSetFocus:
        m_bFocused = true;
        return;
    case UIEventKillFocus:
        m_bFocused = false;
        return;
    case UIEventKeyDown:
        if (IsKeyboardEnabled() && IsEnabled()) {
            switch (event.chKey) {
            case VK_UP:
            case VK_DOWN:
            case VK_HOME:
            case VK_END:
                SelectByKey(event.chKey);
                return;
            case VK_PRIOR:
                PageUp();
                return;
            case VK_NEXT:
                PageDown();
                return;
            case VK_RETURN:
                if (CControlUI* item = GetItemAt(m_iCurSel)) item->Activate();
                return;
            default:
                return;
            }
        }
        break;
    case UIEventMouseWheel:
        if (IsEnabled()) {
            if (event.wParam == 0) {
                if (m_bScrollSelect) SelectByKey(VK_UP);
                else LineUp();
                return;
            }
            if (event.wParam == 1) {
                if (m_bScrollSelect) SelectByKey(VK_DOWN);
                else LineDown();
                return;
            }
        }
        break;
    default:
        break;
    }
    CVerticalLayoutUI::DoEvent(event);
}

bool CListUI::SelectItem(int iIndex, bool bTakeFocus, bool bSendNotify)
{
    if (iIndex == m_iCurSel) return true;
    const int old = m_iCurSel;
    if (m_iCurSel >= 0) {
        if (IListItemUI* item = ItemOf(GetItemAt(m_iCurSel))) item->Select(false, bSendNotify);
        m_iCurSel = -1;
    }
    if (iIndex < 0) return false;
    CControlUI* c = GetItemAt(iIndex);
    IListItemUI* item = ItemOf(c);
    if (!c || !c->IsVisible() || !c->IsEnabled() || !item) return false;
    m_iCurSel = iIndex;
    if (!item->Select(true, bSendNotify)) {
        m_iCurSel = -1;
        return false;
    }
    ScrollItemIntoView(iIndex);
    if (bTakeFocus) c->SetFocus();
    if (bSendNotify && m_pManager) {
        m_pManager->SendNotify(this, L"itemselect", static_cast<WPARAM>(iIndex), static_cast<LPARAM>(old));
    }
    return true;
}

void CListUI::ScrollItemIntoView(int iIndex)
{
    if (m_iCurSel < 0) return;
    CControlUI* c = GetItemAt(iIndex);
    if (!c) return;
    RECT band = m_pList->GetPos();
    const RECT inset = m_pList->GetInset();
    band.top += inset.top;
    band.bottom -= inset.bottom;
    CScrollBarUI* h = m_pList->GetHorizontalScrollBar();
    if (h && h->IsVisible()) band.bottom -= h->GetFixedHeight();
    const int dy = ScrollNeededToShow(c->GetPos(), band);
    if (dy == 0) return;
    SIZE pos = m_pList->GetScrollPos();
    pos.cy += dy;
    m_pList->SetScrollPos(pos);
}

bool CListUI::ExpandItem(int iIndex, bool bExpand)
{
    if (m_iExpandedItem >= 0 && !m_ListInfo.bMultiExpandable) {
        if (IListItemUI* item = ItemOf(GetItemAt(m_iExpandedItem))) item->Expand(false);
        m_iExpandedItem = -1;
    }
    if (bExpand) {
        CControlUI* c = GetItemAt(iIndex);
        IListItemUI* item = ItemOf(c);
        if (!c || !c->IsVisible() || !item) return false;
        m_iExpandedItem = iIndex;
        if (!item->Expand(true)) {
            m_iExpandedItem = -1;
            return false;
        }
    }
    NeedUpdate();
    return true;
}

void CListUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (Is(pstrName, L"header")) {
        m_pHeader->SetVisible(!Is(pstrValue, L"hidden"));
    } else if (Is(pstrName, L"headerbkimage")) {
        m_pHeader->SetBkImage(pstrValue);
    } else if (Is(pstrName, L"scrollselect")) {
        m_bScrollSelect = IsTrue(pstrValue);
    } else if (Is(pstrName, L"multiexpanding")) {
        m_ListInfo.bMultiExpandable = IsTrue(pstrValue);
    } else if (!SetListInfoAttribute(m_ListInfo, *this, pstrName, pstrValue, true)) {
        CVerticalLayoutUI::SetAttribute(pstrName, pstrValue);
    }
}

}  // namespace SkinUI
