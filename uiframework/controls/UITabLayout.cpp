// The tab layout: page bookkeeping across insertions and removals, selection
// with its "tabselect", and placement of the current page.
#include "UITabLayout.h"

#include <cstdlib>
#include <cwchar>

#include "UIManager.h"

namespace SkinUI {

LPCWSTR CTabLayoutUI::GetClass() const { return L"TabLayout"; }

void* CTabLayoutUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"TabLayout") == 0) return this;
    return CContainerUI::GetInterface(pstrName);
}

bool CTabLayoutUI::Add(CControlUI* pControl)
{
    // Whether the page is visible of its own: the container hides what it adds
    // to a hidden tab layout, and that must not cost the page its place.
    const bool visible = pControl && pControl->IsVisible();
    if (!CContainerUI::Add(pControl)) return false;
    if (m_iCurSel == -1 && visible) {
        m_iCurSel = GetItemIndex(pControl);
    } else {
        pControl->SetVisible(false);
    }
    return true;
}

bool CTabLayoutUI::AddAt(CControlUI* pControl, int iIndex)
{
    // Whether the page is visible of its own: the container hides what it adds
    // to a hidden tab layout, and that must not cost the page its place.
    const bool visible = pControl && pControl->IsVisible();
    if (!CContainerUI::AddAt(pControl, iIndex)) return false;
    if (m_iCurSel == -1 && visible) {
        m_iCurSel = GetItemIndex(pControl);
    } else {
        pControl->SetVisible(false);
        if (m_iCurSel >= 0 && iIndex <= m_iCurSel) ++m_iCurSel;
    }
    return true;
}

bool CTabLayoutUI::Remove(CControlUI* pControl, bool bDoNotDestroy)
{
    if (!pControl) return false;
    // The index first: the container may free the control.
    const int index = GetItemIndex(pControl);
    if (!CContainerUI::Remove(pControl, bDoNotDestroy)) return false;
    if (index == m_iCurSel) {
        if (GetCount() > 0) {
            m_iCurSel = 0;
            GetItemAt(0)->SetVisible(true);
        } else {
            m_iCurSel = -1;
        }
        NeedParentUpdate();
    } else if (index < m_iCurSel) {
        --m_iCurSel;
    }
    return true;
}

void CTabLayoutUI::RemoveAll()
{
    m_iCurSel = -1;
    CContainerUI::RemoveAll();
    NeedParentUpdate();
}

bool CTabLayoutUI::SelectItem(int iIndex, bool bNotify)
{
    if (iIndex < 0 || iIndex >= GetCount()) return false;
    if (iIndex == m_iCurSel) return true;
    const int old = m_iCurSel;
    m_iCurSel = iIndex;
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* page = GetItemAt(i);
        if (i == iIndex) {
            page->SetVisible(true);
            page->SetFocus();
        } else {
            page->SetVisible(false);
        }
    }
    NeedParentUpdate();
    if (m_pManager) {
        m_pManager->MoveFocusToNextTabControl(true);
        if (bNotify) m_pManager->SendNotify(this, L"tabselect", static_cast<WPARAM>(iIndex), old);
    }
    return true;
}

void CTabLayoutUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    // "selectedid" is also kept as a custom attribute by the container.
    if (std::wcscmp(pstrName, L"selectedid") == 0) SelectItem(static_cast<int>(std::wcstol(pstrValue, nullptr, 10)));
    CContainerUI::SetAttribute(pstrName, pstrValue);
}

void CTabLayoutUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    CControlUI::SetPos(rc, bNeedInvalidate);
    rc = m_rcItem;
    rc.left += m_rcInset.left;
    rc.top += m_rcInset.top;
    rc.right -= m_rcInset.right;
    rc.bottom -= m_rcInset.bottom;
    for (int i = 0; i < GetCount(); ++i) {
        CControlUI* child = GetItemAt(i);
        if (!child->IsVisible()) continue;
        if (child->IsFloat()) {
            SetFloatPos(i);
            continue;
        }
        if (i != m_iCurSel) continue;
        const RECT pad = child->GetPadding();
        SIZE available = {rc.right - rc.left - pad.left - pad.right, rc.bottom - rc.top - pad.top - pad.bottom};
        if (available.cx < 0) available.cx = 0;
        if (available.cy < 0) available.cy = 0;
        SIZE sz = child->EstimateSize(available);
        if (sz.cx == 0) sz.cx = available.cx;
        if (sz.cy == 0) sz.cy = available.cy;
        if (sz.cx < child->GetMinWidth()) sz.cx = child->GetMinWidth();
        if (sz.cx > child->GetMaxWidth()) sz.cx = child->GetMaxWidth();
        if (sz.cy < child->GetMinHeight()) sz.cy = child->GetMinHeight();
        if (sz.cy > child->GetMaxHeight()) sz.cy = child->GetMaxHeight();
        const int x = rc.left + pad.left;
        const int y = rc.top + pad.top;
        child->SetPos(RECT{x, y, x + sz.cx, y + sz.cy}, false);
    }
}

}  // namespace SkinUI
