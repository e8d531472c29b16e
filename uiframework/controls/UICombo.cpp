// The combo box: item bookkeeping and selection, its events and closed face,
// and the pop-up window that lends itself the items while it is open.
#include "UICombo.h"

#include <cstdlib>
#include <cwchar>

#include "UIButton.h"
#include "UIRender.h"
#include "UIScrollBar.h"

namespace SkinUI {

namespace {

bool Is(LPCWSTR a, LPCWSTR b) { return a && std::wcscmp(a, b) == 0; }

IListItemUI* ItemOf(CControlUI* c) { return c ? static_cast<IListItemUI*>(c->GetInterface(L"IListItem")) : nullptr; }

bool IsScrollBar(CControlUI* c) { return c && Is(c->GetClass(), L"ScrollBar"); }

}  // namespace

// ---------------------------------------------------------------- pop-up

void CComboBodyUI::PrepareItemPaint(HDC hDC, CControlUI* pItem, int& counter)
{
    PrepareListItemPaint(hDC, pItem, counter, m_pOwner ? m_pOwner->GetListInfo() : nullptr);
}

LPCWSTR CComboWnd::GetWindowClassName() const { return L"ComboWnd"; }

bool CComboWnd::Init(CComboUI* pOwner)
{
    m_pOwner = pOwner;
    m_iOldSel = pOwner->GetCurSel();
    const SIZE box = pOwner->GetDropBoxSize();
    const RECT rcOwner = pOwner->GetPos();
    RECT rc = rcOwner;
    rc.top = rc.bottom;
    rc.bottom = rc.top + box.cy;
    if (box.cx > 0) rc.right = rc.left + box.cx;

    const SIZE available = {rc.right - rc.left, rc.bottom - rc.top};
    int height = 0;
    for (int i = 0; i < pOwner->GetCount(); ++i) {
        CControlUI* item = pOwner->GetItemAt(i);
        if (item->IsVisible()) height += item->EstimateSize(available).cy;
    }
    height += 4;
    if (height > box.cy) height = box.cy;
    rc.bottom = rc.top + height;

    HWND owner = pOwner->GetManager() ? pOwner->GetManager()->GetPaintWindow() : nullptr;
    ::MapWindowPoints(owner, HWND_DESKTOP, reinterpret_cast<POINT*>(&rc), 2);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &mi);
    if (rc.bottom > mi.rcWork.bottom) {
        // No room below: the pop-up opens above the box.
        rc = RECT{rcOwner.left, rcOwner.top - height, box.cx > 0 ? rcOwner.left + box.cx : rcOwner.right, rcOwner.top};
        ::MapWindowPoints(owner, HWND_DESKTOP, reinterpret_cast<POINT*>(&rc), 2);
    }
    // A window that fails after WM_NCCREATE is destroyed inside CreateWindowEx;
    // the caller frees this object then, not the final message.
    m_bCreating = true;
    const bool created = CreateInRect(owner, nullptr, WS_POPUP, WS_EX_TOOLWINDOW, rc) != nullptr;
    m_bCreating = false;
    if (!created) return false;
    ::ShowWindow(m_hWnd, SW_SHOW);
    return true;
}

void CComboWnd::GiveItemsBack()
{
    if (m_pOwner) m_pOwner->SetManager(m_pOwner->GetManager(), m_pOwner->GetParent(), false);
}

void CComboWnd::Detach()
{
    GiveItemsBack();
    m_pOwner = nullptr;
    if (::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

void CComboWnd::EnsureVisible(int iIndex)
{
    if (!m_pOwner || m_pOwner->GetCurSel() < 0 || !m_pLayout) return;
    CControlUI* item = m_pOwner->GetItemAt(iIndex);
    if (!item) return;
    RECT band = m_pLayout->GetPos();
    CScrollBarUI* h = m_pLayout->GetHorizontalScrollBar();
    if (h && h->IsVisible()) band.bottom -= h->GetFixedHeight();
    const int dy = ScrollNeededToShow(item->GetPos(), band);
    if (dy == 0) return;
    SIZE pos = m_pLayout->GetScrollPos();
    pos.cy += dy;
    m_pLayout->SetScrollPos(pos);
}

LRESULT CComboWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_CREATE: {
        m_pm.SetUseSharedResources(true);
        m_pm.Init(m_hWnd);
        m_pLayout = new CComboBodyUI(m_pOwner);
        m_pLayout->SetManager(&m_pm, nullptr, true);
        CWindowManagerUI* ownerManager = m_pOwner ? m_pOwner->GetManager() : nullptr;
        if (ownerManager) {
            if (LPCWSTR def = ownerManager->GetDefaultAttributeList(L"VerticalLayout")) m_pLayout->ApplyAttributeList(def);
        }
        m_pLayout->SetInset(RECT{1, 1, 1, 1});
        m_pLayout->SetBkColor(0xFFFFFFFF);
        m_pLayout->SetBorderColor(0xFFC6C7D2);
        m_pLayout->SetBorderSize(1);
        m_pLayout->SetAutoDestroy(false);
        m_pLayout->EnableScrollBar(true, false);
        if (m_pOwner) {
            m_pLayout->ApplyAttributeList(m_pOwner->GetDropBoxAttributeList());
            for (int i = 0; i < m_pOwner->GetCount(); ++i) m_pLayout->Add(m_pOwner->GetItemAt(i));
        }
        m_pm.AttachRootControl(m_pLayout);
        return 0;
    }
    case WM_CLOSE:
        if (m_pOwner) {
            GiveItemsBack();
            m_pOwner->SetPos(m_pOwner->IsFloat() ? m_pOwner->GetRelativePos() : m_pOwner->GetPos(), false);
            m_pOwner->SetFocus();
        }
        break;
    case WM_KILLFOCUS:
        if (m_hWnd != reinterpret_cast<HWND>(wParam)) {
            bool inside = false;
            for (HWND h = ::GetFocus(); h && !inside;) {
                h = ::GetParent(h);
                inside = h == m_hWnd;
            }
            // Posted, not sent: the window must not go away inside the focus
            // change that is still running.
            if (!inside) PostMessage(WM_CLOSE);
        }
        break;
    case WM_KEYDOWN:
        if (!m_pOwner) break;
        if (wParam == VK_RETURN) {
            PostMessage(WM_KILLFOCUS);
        } else if (wParam == VK_ESCAPE) {
            m_pOwner->SelectItem(m_iOldSel, true, true);
            EnsureVisible(m_iOldSel);
            PostMessage(WM_KILLFOCUS);
        } else {
            UIEvent event = {};
            event.Type = UIEventKeyDown;
            event.chKey = static_cast<WORD>(wParam);
            event.dwTimestamp = ::GetTickCount();
            event.pSender = m_pOwner;
            m_pOwner->DoEvent(event);
            EnsureVisible(m_pOwner->GetCurSel());
        }
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        const POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (IsScrollBar(m_pm.FindControlAt(pt))) m_bScrollbarClicked = true;
        break;
    }
    case WM_LBUTTONUP: {
        const POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (m_bScrollbarClicked) {
            m_bScrollbarClicked = false;
        } else {
            CControlUI* c = m_pm.FindControlAt(pt);
            if (c && !IsScrollBar(c)) PostMessage(WM_KILLFOCUS);
        }
        break;
    }
    case WM_MOUSEWHEEL: {
        if (!m_pOwner) break;
        UIEvent event = {};
        event.Type = UIEventMouseWheel;
        event.wParam = static_cast<short>(HIWORD(wParam)) < 0 ? 1 : 0;
        event.dwTimestamp = ::GetTickCount();
        event.pSender = m_pOwner;
        m_pOwner->DoEvent(event);
        EnsureVisible(m_pOwner->GetCurSel());
        return 0;
    }
    default:
        break;
    }
    LRESULT lRes = 0;
    if (m_pm.MessageHandler(uMsg, wParam, lParam, lRes)) return lRes;
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

void CComboWnd::OnFinalMessage(HWND)
{
    if (m_bCreating) return;
    if (m_pOwner) {
        // Also when the pop-up goes with its owner window and saw no WM_CLOSE.
        GiveItemsBack();
        m_pOwner->m_pWindow = nullptr;
        m_pOwner->m_uButtonState &= ~UISTATE_PUSHED;
        m_pOwner->Invalidate();
    }
    delete this;
}

// ---------------------------------------------------------------- combo box

CComboUI::CComboUI() = default;

CComboUI::~CComboUI()
{
    // A pop-up still open would keep the items and call back into this box.
    if (m_pWindow) m_pWindow->Detach();
    FreeListInfoImages(m_ListInfo);
}

LPCWSTR CComboUI::GetClass() const { return L"Combo"; }

void* CComboUI::GetInterface(LPCWSTR pstrName)
{
    if (Is(pstrName, L"IListOwner")) return static_cast<IListOwnerUI*>(this);
    if (Is(pstrName, L"Combo")) return static_cast<CComboUI*>(this);
    return CContainerUI::GetInterface(pstrName);
}

CUIString CComboUI::GetText() const
{
    CControlUI* item = GetItemAt(m_iCurSel);
    return item ? item->GetText() : CUIString();
}

bool CComboUI::Activate()
{
    if (!CControlUI::Activate()) return false;
    if (m_pWindow) return true;
    CComboWnd* window = new CComboWnd;
    m_pWindow = window;
    if (!window->Init(this)) {
        m_pWindow = nullptr;
        delete window;
        return false;
    }
    if (m_pManager) m_pManager->SendNotify(this, L"dropdown");
    Invalidate();
    return true;
}

void CComboUI::SetEnabled(bool bEnable)
{
    CContainerUI::SetEnabled(bEnable);
    if (!IsEnabled()) m_uButtonState = 0;
}

void CComboUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    // The items are laid out only in the pop-up; while it is open they stay
    // where it put them.
    if (!m_pWindow) {
        for (int i = 0; i < GetCount(); ++i) GetItemAt(i)->SetPos(RECT{0, 0, 0, 0}, false);
    }
    CControlUI::SetPos(rc, bNeedInvalidate);
}

void CComboUI::Move(SIZE szOffset, bool bNeedInvalidate) { CControlUI::Move(szOffset, bNeedInvalidate); }

void CComboUI::SelectByKey(UINT key)
{
    const int target = NavigationTarget(*this, m_iCurSel, key, GetCount());
    if (target < 0) return;
    const bool closes = m_bSelectCloseFlag;
    m_bSelectCloseFlag = false;
    SelectItem(target, false, true);
    m_bSelectCloseFlag = closes;
}

void CComboUI::DoEvent(UIEvent& event)
{
    if (!IsMouseEnabled() && IsMouseEventType(event.Type)) {
        if (m_pParent) m_pParent->DoEvent(event);
        else CContainerUI::DoEvent(event);
        return;
    }
    switch (event.Type) {
    case UIEventSetFocus:
    case UIEventKillFocus:
        Invalidate();
        break;
    case UIEventButtonDown:
        if (IsEnabled()) {
            Activate();
            m_uButtonState |= UISTATE_PUSHED | UISTATE_CAPTURED;
        }
        return;
    case UIEventButtonUp:
        if (m_uButtonState & UISTATE_CAPTURED) {
            m_uButtonState &= ~UISTATE_CAPTURED;
            Invalidate();
        }
        return;
    case UIEventMouseMove:
    case UIEventContextMenu:
        return;
    case UIEventKeyDown:
        if (!IsKeyboardEnabled() || !IsEnabled()) break;
        switch (event.chKey) {
        case VK_UP:
        case VK_PRIOR:
            SelectByKey(VK_UP);
            break;
        case VK_DOWN:
        case VK_NEXT:
            SelectByKey(VK_DOWN);
            break;
        case VK_HOME:
        case VK_END:
            SelectByKey(event.chKey);
            break;
        case VK_F4:
            Activate();
            break;
        default:
            break;
        }
        return;
    case UIEventMouseWheel:
        if (!IsEnabled()) break;
        SelectByKey(event.wParam == 1 ? VK_DOWN : VK_UP);
        return;
    case UIEventMouseEnter:
        if (IsEnabled() && ::PtInRect(&m_rcItem, event.ptMouse)) {
            m_uButtonState |= UISTATE_HOT;
            Invalidate();
        }
        break;
    case UIEventMouseLeave:
        if (::PtInRect(&m_rcItem, event.ptMouse)) {
            if (m_pManager) m_pManager->AddMouseLeavePending(this);
        } else {
            if (m_uButtonState & UISTATE_HOT) {
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
}

bool CComboUI::SelectItem(int iIndex, bool bTakeFocus, bool bSendNotify)
{
    if (iIndex == m_iCurSel) return true;
    const int old = m_iCurSel;
    if (m_bSelectCloseFlag && m_pWindow) m_pWindow->Close(1);
    if (m_iCurSel >= 0) {
        CControlUI* current = GetItemAt(m_iCurSel);
        m_iCurSel = -1;
        if (!current) return false;
        if (IListItemUI* item = ItemOf(current)) item->Select(false, bSendNotify);
    }
    if (iIndex < 0 || GetCount() == 0) return false;
    if (iIndex >= GetCount()) iIndex = GetCount() - 1;
    CControlUI* c = GetItemAt(iIndex);
    IListItemUI* item = ItemOf(c);
    if (!c->IsVisible() || !c->IsEnabled() || !item) return false;
    m_iCurSel = iIndex;
    if (m_pWindow || bTakeFocus) c->SetFocus();
    item->Select(true, bSendNotify);
    if (bSendNotify && m_pManager) {
        m_pManager->SendNotify(this, L"itemselect", static_cast<WPARAM>(iIndex), static_cast<LPARAM>(old));
    }
    Invalidate();
    return true;
}

void CComboUI::Renumber(int from, int to)
{
    for (int i = from; i <= to; ++i) {
        if (IListItemUI* item = ItemOf(GetItemAt(i))) item->SetIndex(i);
    }
}

bool CComboUI::SetItemIndex(CControlUI* pControl, int iIndex)
{
    const int old = GetItemIndex(pControl);
    if (old < 0) return false;
    if (old == iIndex) return true;
    IListItemUI* selected = ItemOf(GetItemAt(m_iCurSel));
    if (!CContainerUI::SetItemIndex(pControl, iIndex)) return false;
    Renumber(old < iIndex ? old : iIndex, old > iIndex ? old : iIndex);
    if (selected) m_iCurSel = selected->GetIndex();
    return true;
}

bool CComboUI::SetMultiItemIndex(CControlUI* pStartControl, int iCount, int iNewStartIndex)
{
    if (!pStartControl || iCount < 0 || iNewStartIndex < 0) return false;
    const int start = GetItemIndex(pStartControl);
    if (start == iNewStartIndex) return true;
    if (start < 0 || start + iCount > GetCount() || iNewStartIndex + iCount > GetCount()) return false;
    IListItemUI* selected = ItemOf(GetItemAt(m_iCurSel));
    if (!CContainerUI::SetMultiItemIndex(pStartControl, iCount, iNewStartIndex)) return false;
    Renumber(start < iNewStartIndex ? start : iNewStartIndex, (start > iNewStartIndex ? start : iNewStartIndex) + iCount - 1);
    if (selected) m_iCurSel = selected->GetIndex();
    return true;
}

bool CComboUI::Add(CControlUI* pControl)
{
    if (IListItemUI* item = ItemOf(pControl)) {
        item->SetOwner(this);
        item->SetIndex(GetCount());
    }
    return CContainerUI::Add(pControl);
}

bool CComboUI::AddAt(CControlUI* pControl, int iIndex)
{
    if (!CContainerUI::AddAt(pControl, iIndex)) return false;
    if (IListItemUI* item = ItemOf(pControl)) {
        item->SetOwner(this);
        item->SetIndex(iIndex);
    }
    Renumber(iIndex + 1, GetCount() - 1);
    if (m_iCurSel >= iIndex) ++m_iCurSel;
    return true;
}

bool CComboUI::Remove(CControlUI* pControl, bool bDoNotDestroy)
{
    const int index = GetItemIndex(pControl);
    if (index < 0) return false;
    if (!CContainerUI::Remove(pControl, bDoNotDestroy)) return false;
    Renumber(index, GetCount() - 1);
    if (index == m_iCurSel) {
        m_iCurSel = -1;
        SelectItem(FindSelectable(index, false), false, true);
    } else if (index < m_iCurSel) {
        --m_iCurSel;
    }
    return true;
}

bool CComboUI::RemoveAt(int iIndex, bool bDoNotDestroy)
{
    CControlUI* c = GetItemAt(iIndex);
    if (!c) return false;
    return Remove(c, bDoNotDestroy);
}

void CComboUI::RemoveAll()
{
    m_iCurSel = -1;
    CContainerUI::RemoveAll();
}

void CComboUI::SetImage(UIImageDrawInfo& info, LPCWSTR image)
{
    if (info.sDrawString.Equals(image ? image : L"") && info.pImageInfo) return;
    info.Clear();
    info.sDrawString = image;
    Invalidate();
}

void CComboUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (Is(pstrName, L"textpadding")) {
        int v[4];
        ReadNumberList(pstrValue, v, 4);
        m_rcTextPadding = RECT{v[0], v[1], v[2], v[3]};
        Invalidate();
    } else if (Is(pstrName, L"showtext")) {
        m_bShowText = IsTrue(pstrValue);
        Invalidate();
    } else if (Is(pstrName, L"normalimage")) {
        SetImage(m_diNormal, pstrValue);
    } else if (Is(pstrName, L"hotimage")) {
        SetImage(m_diHot, pstrValue);
    } else if (Is(pstrName, L"pushedimage")) {
        SetImage(m_diPushed, pstrValue);
    } else if (Is(pstrName, L"focusedimage")) {
        SetImage(m_diFocused, pstrValue);
    } else if (Is(pstrName, L"disabledimage")) {
        SetImage(m_diDisabled, pstrValue);
    } else if (Is(pstrName, L"dropbox")) {
        m_sDropBoxAttributes = pstrValue;
    } else if (Is(pstrName, L"dropboxsize")) {
        int v[2];
        ReadNumberList(pstrValue, v, 2);
        m_szDropBox = SIZE{v[0], v[1]};
    } else if (!SetListInfoAttribute(m_ListInfo, *this, pstrName, pstrValue, false)) {
        CContainerUI::SetAttribute(pstrName, pstrValue);
    }
}

SIZE CComboUI::EstimateSize(SIZE szAvailable)
{
    if (m_cxyFixed.cy != 0) return CControlUI::EstimateSize(szAvailable);
    const int height = m_pManager ? m_pManager->GetDefaultFontInfo()->tm.tmHeight : 0;
    return SIZE{m_cxyFixed.cx, height + 8};
}

bool CComboUI::DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl)
{
    return CControlUI::DoPaint(hDC, rcPaint, pStopControl);
}

void CComboUI::PaintStatusImage(HDC hDC)
{
    if (IsFocused()) m_uButtonState |= UISTATE_FOCUSED;
    else m_uButtonState &= ~UISTATE_FOCUSED;
    if (!IsEnabled()) m_uButtonState |= UISTATE_DISABLED;
    else m_uButtonState &= ~UISTATE_DISABLED;
    bool drawn = false;
    if (m_uButtonState & UISTATE_DISABLED) drawn = DrawImage(hDC, m_diDisabled);
    else if (m_uButtonState & UISTATE_PUSHED) drawn = DrawImage(hDC, m_diPushed);
    else if (m_uButtonState & UISTATE_HOT) drawn = DrawImage(hDC, m_diHot);
    else if (m_uButtonState & UISTATE_FOCUSED) drawn = DrawImage(hDC, m_diFocused);
    if (!drawn) DrawImage(hDC, m_diNormal);
}

void CComboUI::PaintText(HDC hDC)
{
    if (!m_bShowText || m_iCurSel < 0) return;
    CControlUI* c = GetItemAt(m_iCurSel);
    if (!c) return;
    const RECT rc = {m_rcItem.left + m_rcTextPadding.left, m_rcItem.top + m_rcTextPadding.top,
                     m_rcItem.right - m_rcTextPadding.right, m_rcItem.bottom - m_rcTextPadding.bottom};
    if (IListItemUI* item = ItemOf(c)) {
        item->DrawItemText(hDC, rc);
        return;
    }
    const RECT old = c->GetPos();
    c->SetPos(rc, false);
    c->Paint(hDC, rc, nullptr);
    c->SetPos(old, false);
}

}  // namespace SkinUI
