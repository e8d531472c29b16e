// The window manager's message routing, painting, focus, timers and
// notifications.
#include "UIManager.h"

#include <cwchar>
#include <cstdlib>

#include "UIManagerShared.h"
#include "UIRender.h"

namespace SkinUI {

namespace {

}  // namespace

CWindowManagerUI::CWindowManagerUI()
    : m_hWndPaint(nullptr),
      m_hDcPaint(nullptr),
      m_hDcOffscreen(nullptr),
      m_hDcBackground(nullptr),
      m_hbmpOffscreen(nullptr),
      m_hbmpOffscreenOld(nullptr),
      m_pOffscreenBits(nullptr),
      m_szOffscreen{0, 0},
      m_hbmpBackground(nullptr),
      m_pBackgroundBits(nullptr),
      m_iTooltipWidth(-1),
      m_hwndTooltip(nullptr),
      m_iHoverTime(1000),
      m_bShowUpdateRect(false),
      m_pRoot(nullptr),
      m_pFocus(nullptr),
      m_pEventHover(nullptr),
      m_pEventClick(nullptr),
      m_pEventKey(nullptr),
      m_ptLastMousePos{-1, -1},
      m_szMinWindow{0, 0},
      m_szMaxWindow{0, 0},
      m_szInitWindowSize{0, 0},
      m_rcSizeBox{0, 0, 0, 0},
      m_rcCaption{0, 0, 0, 0},
      m_szRoundCorner{0, 0},
      m_uTimerID(0x1000),
      m_bFirstLayout(true),
      m_bUpdateNeeded(false),
      m_bFocusNeeded(false),
      m_bOffscreenPaint(true),
      m_nOpacity(255),
      m_bLayered(false),
      m_bLayeredChanged(false),
      m_bNoActivate(false),
      m_bMouseTracking(false),
      m_bMouseCapture(false),
      m_bIsPainting(false),
      m_bAsyncNotifyPosted(false),
      m_bUsedVirtualWnd(false),
      m_bUseSharedResources(false),
      m_rcLayeredUpdate{0, 0, 0, 0},
      m_mNameHash(83),
      m_mOptionGroup(83),
      m_mFonts(83),
      m_mImageHash(83),
      m_mDefaultAttrHash(83),
      m_mWindowCustomAttrHash(83)
{
    UIShared& shared = Shared();
    m_dwDisabledFontColor = shared.disabledFontColor;
    m_dwDefaultFontColor = shared.defaultFontColor;
    m_dwLinkFontColor = shared.linkFontColor;
    m_dwLinkHoverFontColor = shared.linkHoverFontColor;
    m_dwSelectedBkColor = shared.selectedBkColor;
    m_DefaultFontInfo.hFont = nullptr;
    m_DefaultFontInfo.iSize = 0;
    m_DefaultFontInfo.bBold = m_DefaultFontInfo.bUnderline = m_DefaultFontInfo.bItalic = false;
    ::ZeroMemory(&m_DefaultFontInfo.tm, sizeof(m_DefaultFontInfo.tm));
    ::ZeroMemory(&m_ToolTip, sizeof(m_ToolTip));
}

CWindowManagerUI::~CWindowManagerUI()
{
    DeleteDelayedCleanup();
    if (m_pRoot) {
        CControlUI* root = m_pRoot;
        m_pRoot = nullptr;
        root->Delete();
    }
    FreeAsyncNotify();
    RemoveAllFonts();
    RemoveAllImages();
    RemoveAllDefaultAttributeLists();
    RemoveAllWindowCustomAttributes();
    FreeOptionGroups();
    KillAllTimers();
    ReleaseOffscreen();
    if (m_hbmpBackground) ::DeleteObject(m_hbmpBackground);
    if (m_hDcBackground) ::DeleteDC(m_hDcBackground);
    if (m_hwndTooltip && ::IsWindow(m_hwndTooltip)) ::DestroyWindow(m_hwndTooltip);
    if (m_DefaultFontInfo.hFont) ::DeleteObject(m_DefaultFontInfo.hFont);
    if (m_hDcPaint && m_hWndPaint) ::ReleaseDC(m_hWndPaint, m_hDcPaint);
    UIShared& shared = Shared();
    const int at = shared.managers.Find(this);
    if (at >= 0) shared.managers.Remove(at);
}

void CWindowManagerUI::FreeOptionGroups()
{
    for (int i = 0;; ++i) {
        LPCWSTR key = m_mOptionGroup.GetKeyAt(i);
        if (!key) break;
        delete static_cast<CUIPtrArray*>(m_mOptionGroup.Find(key, false));
    }
    m_mOptionGroup.RemoveAll();
}

void CWindowManagerUI::ReleaseOffscreen()
{
    if (m_hDcOffscreen) {
        if (m_hbmpOffscreenOld) ::SelectObject(m_hDcOffscreen, m_hbmpOffscreenOld);
        ::DeleteDC(m_hDcOffscreen);
    }
    if (m_hbmpOffscreen) ::DeleteObject(m_hbmpOffscreen);
    m_hDcOffscreen = nullptr;
    m_hbmpOffscreen = nullptr;
    m_hbmpOffscreenOld = nullptr;
    m_pOffscreenBits = nullptr;
    m_szOffscreen = SIZE{0, 0};
}

// ---------------------------------------------------------------- binding

void CWindowManagerUI::Init(HWND hWnd, LPCWSTR pstrName)
{
    m_mNameHash.RemoveAll();
    RemoveAllFonts();
    RemoveAllImages();
    RemoveAllDefaultAttributeLists();
    RemoveAllWindowCustomAttributes();
    FreeOptionGroups();
    KillAllTimers();
    m_sName = pstrName;
    if (m_hDcPaint && m_hWndPaint) ::ReleaseDC(m_hWndPaint, m_hDcPaint);
    m_hWndPaint = hWnd;
    m_hDcPaint = hWnd ? ::GetDC(hWnd) : nullptr;
    UIShared& shared = Shared();
    if (shared.managers.Find(this) < 0) shared.managers.Add(this);
}

bool CWindowManagerUI::AttachRootControl(CControlUI* pControl)
{
    if (m_pFocus) {
        if (m_hWndPaint && ::GetFocus() != m_hWndPaint && !m_bNoActivate) ::SetFocus(m_hWndPaint);
        UIEvent event = MakeEvent(UIEventKillFocus, m_pFocus);
        CControlUI* old = m_pFocus;
        m_pFocus = nullptr;
        old->Event(event);
        SendNotify(old, L"killfocus");
    }
    m_pFocus = nullptr;
    m_pEventKey = nullptr;
    m_pEventHover = nullptr;
    m_pEventClick = nullptr;
    if (m_pRoot) {
        DeleteDelayedCleanup();
        FreeAsyncNotify();
        m_mNameHash.RemoveAll();
        m_aPostPaintControls.Empty();
        m_aNativeWindow.Empty();
        m_aNativeWindowControl.Empty();
        AddDelayedCleanup(m_pRoot);
    }
    m_pRoot = pControl;
    m_bFirstLayout = true;
    m_bUpdateNeeded = true;
    m_bFocusNeeded = true;
    if (!pControl) return false;
    pControl->SetManager(this, nullptr, true);
    pControl->FindControl(FindControlByNameCallback, this, 0);
    return true;
}

CControlUI* CALLBACK CWindowManagerUI::ForgetControlCallback(CControlUI* pThis, LPVOID pData)
{
    static_cast<CWindowManagerUI*>(pData)->ForgetControl(pThis);
    return nullptr;
}

bool CWindowManagerUI::AttachSubtree(CControlUI* pControl, CControlUI* pParent)
{
    if (!pControl) return false;
    pControl->SetManager(this, pParent, true);
    pControl->FindControl(FindControlByNameCallback, this, 0);
    return true;
}

bool CWindowManagerUI::RenameControl(CControlUI* pControl, LPCWSTR pstrName)
{
    if (!pControl || pControl->GetManager() != this || !pstrName || !*pstrName) return false;
    const CUIString oldName = pControl->GetName();
    if (oldName.Equals(pstrName)) return true;
    if (m_mNameHash.Find(pstrName)) return false;
    if (m_mNameHash.Find(oldName) == pControl) m_mNameHash.Remove(oldName);
    const bool ok = m_mNameHash.Insert(pstrName, pControl);
    pControl->SetName(pstrName);
    return ok;
}

CControlUI* CWindowManagerUI::FindControlByName(LPCWSTR pstrName) const
{
    if (!pstrName || !*pstrName) return nullptr;
    return static_cast<CControlUI*>(m_mNameHash.Find(pstrName));
}

CControlUI* CWindowManagerUI::FindControlAt(POINT pt) const
{
    if (!m_pRoot) return nullptr;
    return m_pRoot->FindControl(FindControlAtCallback, &pt, UIFIND_VISIBLE | UIFIND_HITTEST | UIFIND_TOP_FIRST);
}

void CWindowManagerUI::ForgetControl(CControlUI* pControl)
{
    if (pControl == m_pEventKey) m_pEventKey = nullptr;
    if (pControl == m_pEventHover) m_pEventHover = nullptr;
    if (pControl == m_pEventClick) m_pEventClick = nullptr;
    if (pControl == m_pFocus) m_pFocus = nullptr;
    KillTimersOfControl(pControl);
    const CUIString name = pControl->GetName();
    if (!name.IsEmpty() && m_mNameHash.Find(name) == pControl) m_mNameHash.Remove(name);
    // Queued records of a control that is gone are dropped: listeners must never
    // see a sender that no longer exists.
    for (int i = m_aAsyncNotify.GetSize() - 1; i >= 0; --i) {
        UINotify* msg = static_cast<UINotify*>(m_aAsyncNotify.ItemAt(i));
        if (msg->pSender == pControl) {
            delete msg;
            m_aAsyncNotify.Remove(i);
        }
    }
    const int pending = m_aNeedMouseLeaveNeeded.Find(pControl);
    if (pending >= 0) m_aNeedMouseLeaveNeeded.Remove(pending);
    const int post = m_aPostPaintControls.Find(pControl);
    if (post >= 0) m_aPostPaintControls.Remove(post);
}

void CWindowManagerUI::PostDrain()
{
    if (!m_bAsyncNotifyPosted && m_hWndPaint) {
        m_bAsyncNotifyPosted = ::PostMessageW(m_hWndPaint, WM_UI_DRAIN, 0, 0) != FALSE;
    }
}

void CWindowManagerUI::AddDelayedCleanup(CControlUI* pControl)
{
    if (!pControl) return;
    // The subtree is cut loose from the manager now and deleted later, when its
    // destructors can no longer reach this manager: forget every control of it
    // here, or the focus, hover and name table would point at freed controls.
    pControl->FindControl(ForgetControlCallback, this, 0);
    pControl->SetManager(nullptr, nullptr, false);
    m_aDelayedCleanup.Add(pControl);
    PostDrain();
}

void CWindowManagerUI::DeleteDelayedCleanup()
{
    while (!m_aDelayedCleanup.IsEmpty()) {
        CControlUI* control = static_cast<CControlUI*>(m_aDelayedCleanup.ItemAt(0));
        m_aDelayedCleanup.Remove(0);
        control->Delete();
    }
}

void CWindowManagerUI::FreeAsyncNotify()
{
    for (int i = 0; i < m_aAsyncNotify.GetSize(); ++i) delete static_cast<UINotify*>(m_aAsyncNotify.ItemAt(i));
    m_aAsyncNotify.Empty();
}

namespace {
bool AddUnique(CUIPtrArray& list, void* item)
{
    if (!item || list.Find(item) >= 0) return false;
    return list.Add(item);
}
bool RemoveItem(CUIPtrArray& list, void* item)
{
    const int at = list.Find(item);
    if (at < 0) return false;
    return list.Remove(at);
}
}  // namespace

bool CWindowManagerUI::AddNotifyListener(INotifyUI* p) { return AddUnique(m_aNotifiers, p); }
bool CWindowManagerUI::RemoveNotifyListener(INotifyUI* p) { return RemoveItem(m_aNotifiers, p); }
bool CWindowManagerUI::AddPreMessageFilter(IMessageFilterUI* p) { return AddUnique(m_aPreMessageFilters, p); }
bool CWindowManagerUI::RemovePreMessageFilter(IMessageFilterUI* p) { return RemoveItem(m_aPreMessageFilters, p); }
bool CWindowManagerUI::AddMessageFilter(IMessageFilterUI* p) { return AddUnique(m_aMessageFilters, p); }
bool CWindowManagerUI::RemoveMessageFilter(IMessageFilterUI* p) { return RemoveItem(m_aMessageFilters, p); }
bool CWindowManagerUI::AddPostPaintControl(CControlUI* p) { return AddUnique(m_aPostPaintControls, p); }
bool CWindowManagerUI::RemovePostPaintControl(CControlUI* p) { return RemoveItem(m_aPostPaintControls, p); }
bool CWindowManagerUI::AddMouseLeavePending(CControlUI* p) { return AddUnique(m_aNeedMouseLeaveNeeded, p); }
bool CWindowManagerUI::RemoveMouseLeavePending(CControlUI* p) { return RemoveItem(m_aNeedMouseLeaveNeeded, p); }
bool CWindowManagerUI::AddMessageTranslator(ITranslateAccelerator* p) { return AddUnique(m_aTranslateAccelerator, p); }
bool CWindowManagerUI::RemoveMessageTranslator(ITranslateAccelerator* p)
{
    return RemoveItem(m_aTranslateAccelerator, p);
}

bool CWindowManagerUI::AddNativeWindow(CControlUI* pControl, HWND hChildWnd)
{
    if (!pControl || !hChildWnd) return false;
    if (m_aNativeWindow.Find(hChildWnd) >= 0) return false;
    m_aNativeWindow.Add(hChildWnd);
    m_aNativeWindowControl.Add(pControl);
    RECT rc = GetWindowRectInClient(hChildWnd);
    Invalidate(rc);
    return true;
}

bool CWindowManagerUI::RemoveNativeWindow(HWND hChildWnd)
{
    const int at = m_aNativeWindow.Find(hChildWnd);
    if (at < 0) return false;
    m_aNativeWindow.Remove(at);
    m_aNativeWindowControl.Remove(at);
    return true;
}

RECT CWindowManagerUI::GetWindowRectInClient(HWND hChild) const
{
    RECT rc = {0, 0, 0, 0};
    ::GetWindowRect(hChild, &rc);
    ::MapWindowPoints(HWND_DESKTOP, m_hWndPaint, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

bool CWindowManagerUI::AddOptionGroup(LPCWSTR pStrGroupName, CControlUI* pControl)
{
    CUIPtrArray* group = static_cast<CUIPtrArray*>(m_mOptionGroup.Find(pStrGroupName));
    if (group) {
        if (group->Find(pControl) >= 0) return false;
        return group->Add(pControl);
    }
    group = new CUIPtrArray(6);
    group->Add(pControl);
    if (!m_mOptionGroup.Insert(pStrGroupName, group)) {
        delete group;
        return false;
    }
    return true;
}

CUIPtrArray* CWindowManagerUI::GetOptionGroup(LPCWSTR pStrGroupName) const
{
    return static_cast<CUIPtrArray*>(m_mOptionGroup.Find(pStrGroupName));
}

void CWindowManagerUI::RemoveOptionGroup(LPCWSTR pStrGroupName, CControlUI* pControl)
{
    CUIPtrArray* group = static_cast<CUIPtrArray*>(m_mOptionGroup.Find(pStrGroupName));
    if (!group) return;
    RemoveItem(*group, pControl);
    if (group->IsEmpty()) {
        delete group;
        m_mOptionGroup.Remove(pStrGroupName);
    }
}

void CWindowManagerUI::Invalidate(RECT rcItem)
{
    if (rcItem.left < 0) rcItem.left = 0;
    if (rcItem.top < 0) rcItem.top = 0;
    if (rcItem.right < rcItem.left) rcItem.right = rcItem.left;
    if (rcItem.bottom < rcItem.top) rcItem.bottom = rcItem.top;
    if (m_bLayered) {
        if (::IsRectEmpty(&m_rcLayeredUpdate)) {
            m_rcLayeredUpdate = rcItem;
        } else {
            ::UnionRect(&m_rcLayeredUpdate, &m_rcLayeredUpdate, &rcItem);
        }
        return;
    }
    if (m_hWndPaint) ::InvalidateRect(m_hWndPaint, &rcItem, FALSE);
}

void CWindowManagerUI::InvalidateAll()
{
    if (!m_hWndPaint) return;
    RECT rc;
    ::GetClientRect(m_hWndPaint, &rc);
    Invalidate(rc);
}

// ---------------------------------------------------------------- focus

void CWindowManagerUI::TakeSystemFocus()
{
    if (m_hWndPaint && !m_bNoActivate && ::GetFocus() != m_hWndPaint) ::SetFocus(m_hWndPaint);
}

void CWindowManagerUI::SetFocus(CControlUI* pControl, bool bFocusWnd)
{
    if (bFocusWnd && m_hWndPaint && ::GetFocus() != m_hWndPaint && pControl != m_pFocus && !m_bNoActivate) {
        ::SetFocus(m_hWndPaint);
    }
    if (pControl == m_pFocus) return;
    if (m_pFocus) {
        CControlUI* old = m_pFocus;
        UIEvent event = MakeEvent(UIEventKillFocus, pControl);
        old->Event(event);
        SendNotify(old, L"killfocus");
        m_pFocus = nullptr;
    }
    if (!pControl || pControl->GetManager() != this || !pControl->IsVisible() || !pControl->IsEnabled()) return;
    m_pFocus = pControl;
    UIEvent event = MakeEvent(UIEventSetFocus, pControl);
    m_pFocus->Event(event);
    SendNotify(m_pFocus, L"setfocus");
}

CControlUI* CALLBACK CWindowManagerUI::CollectTabStopsCallback(CControlUI* pThis, LPVOID pData)
{
    if (pThis->GetControlFlags() & UIFLAG_TABSTOP) static_cast<CUIPtrArray*>(pData)->Add(pThis);
    return nullptr;
}

void CWindowManagerUI::RequestFocus(CControlUI* pControl)
{
    TakeSystemFocus();
    SetFocus(nullptr, false);
    if (m_pRoot && pControl) {
        // The tab stop before the control, so that the pending move lands on it.
        CUIPtrArray stops;
        m_pRoot->FindControl(CollectTabStopsCallback, &stops, UIFIND_VISIBLE | UIFIND_ENABLED | UIFIND_ME_FIRST);
        CControlUI* prev = nullptr;
        for (int i = 0; i < stops.GetSize(); ++i) {
            CControlUI* c = static_cast<CControlUI*>(stops.ItemAt(i));
            if (c == pControl) break;
            prev = c;
        }
        m_pFocus = prev;
    }
    m_bFocusNeeded = true;
    if (m_pRoot) m_pRoot->NeedUpdate();
}

CControlUI* CALLBACK CWindowManagerUI::FindTabControlCallback(CControlUI* pThis, LPVOID pData)
{
    TabInfo* info = static_cast<TabInfo*>(pData);
    if (pThis == info->pFocus) {
        if (info->bForward) info->bNextIsIt = true;
        return info->bForward ? nullptr : info->pLast;
    }
    if ((pThis->GetControlFlags() & UIFLAG_TABSTOP) == 0) return nullptr;
    if (info->bForward && info->bNextIsIt) return pThis;
    if (info->pFocus == nullptr && info->bForward) return pThis;
    info->pLast = pThis;
    return nullptr;
}

bool CWindowManagerUI::MoveFocusToNextTabControl(bool bForward)
{
    if (m_bUpdateNeeded && bForward) {
        m_bFocusNeeded = true;
        if (m_hWndPaint) ::InvalidateRect(m_hWndPaint, nullptr, FALSE);
        return true;
    }
    if (!m_pRoot) return false;
    TabInfo info = {m_pFocus, nullptr, bForward, false};
    CControlUI* found =
        m_pRoot->FindControl(FindTabControlCallback, &info, UIFIND_VISIBLE | UIFIND_ENABLED | UIFIND_ME_FIRST);
    if (!found) {
        if (bForward) {
            TabInfo again = {nullptr, nullptr, true, false};
            found = m_pRoot->FindControl(FindTabControlCallback, &again,
                                         UIFIND_VISIBLE | UIFIND_ENABLED | UIFIND_ME_FIRST);
        } else {
            TabInfo again = {nullptr, nullptr, false, false};
            // Walks the whole tree; the last tab stop seen is the answer.
            CControlUI* none = reinterpret_cast<CControlUI*>(-1);
            again.pFocus = none;
            m_pRoot->FindControl(FindTabControlCallback, &again, UIFIND_VISIBLE | UIFIND_ENABLED | UIFIND_ME_FIRST);
            found = again.pLast;
        }
    }
    if (found) SetFocus(found, true);
    m_bFocusNeeded = false;
    return true;
}

void CWindowManagerUI::SetCapture()
{
    if (m_hWndPaint) ::SetCapture(m_hWndPaint);
    m_bMouseCapture = true;
}

void CWindowManagerUI::ReleaseCapture()
{
    ::ReleaseCapture();
    m_bMouseCapture = false;
}

// ---------------------------------------------------------------- timers

bool CWindowManagerUI::SetTimer(CControlUI* pControl, UINT nTimerID, UINT uElapse)
{
    for (int i = 0; i < m_aTimers.GetSize(); ++i) {
        UITimerInfo* t = static_cast<UITimerInfo*>(m_aTimers.ItemAt(i));
        if (t->pSender == pControl && t->hWnd == m_hWndPaint && t->nLocalID == nTimerID) {
            if (!t->bKilled) return false;
            if (!::SetTimer(m_hWndPaint, t->uWinTimer, uElapse, nullptr)) return false;
            t->bKilled = false;
            return true;
        }
    }
    // The next id no entry of this window holds; ids wrap modulo 255.
    UINT id = 0;
    bool free = false;
    for (int tries = 0; tries < 255 && !free; ++tries) {
        m_uTimerID = (m_uTimerID + 1) % 255;
        id = m_uTimerID;
        free = true;
        for (int i = 0; i < m_aTimers.GetSize(); ++i) {
            UITimerInfo* t = static_cast<UITimerInfo*>(m_aTimers.ItemAt(i));
            if (t->hWnd == m_hWndPaint && t->uWinTimer == id) {
                free = false;
                break;
            }
        }
    }
    if (!free) return false;
    if (!::SetTimer(m_hWndPaint, id, uElapse, nullptr)) return false;
    UITimerInfo* t = new UITimerInfo{pControl, nTimerID, m_hWndPaint, id, false};
    if (!m_aTimers.Add(t)) {
        ::KillTimer(m_hWndPaint, id);
        delete t;
        return false;
    }
    return true;
}

bool CWindowManagerUI::KillTimer(CControlUI* pControl, UINT nTimerID)
{
    for (int i = 0; i < m_aTimers.GetSize(); ++i) {
        UITimerInfo* t = static_cast<UITimerInfo*>(m_aTimers.ItemAt(i));
        if (t->pSender == pControl && t->hWnd == m_hWndPaint && t->nLocalID == nTimerID && !t->bKilled) {
            if (::IsWindow(m_hWndPaint)) ::KillTimer(t->hWnd, t->uWinTimer);
            t->bKilled = true;
            return true;
        }
    }
    return false;
}

void CWindowManagerUI::KillTimersOfControl(CControlUI* pControl)
{
    for (int i = m_aTimers.GetSize() - 1; i >= 0; --i) {
        UITimerInfo* t = static_cast<UITimerInfo*>(m_aTimers.ItemAt(i));
        if (t->pSender == pControl && t->hWnd == m_hWndPaint) {
            if (!t->bKilled && ::IsWindow(m_hWndPaint)) ::KillTimer(t->hWnd, t->uWinTimer);
            delete t;
            m_aTimers.Remove(i);
        }
    }
}

void CWindowManagerUI::KillAllTimers()
{
    for (int i = m_aTimers.GetSize() - 1; i >= 0; --i) {
        UITimerInfo* t = static_cast<UITimerInfo*>(m_aTimers.ItemAt(i));
        if (t->hWnd == m_hWndPaint) {
            if (!t->bKilled && ::IsWindow(m_hWndPaint)) ::KillTimer(t->hWnd, t->uWinTimer);
            delete t;
            m_aTimers.Remove(i);
        }
    }
}

UINT CWindowManagerUI::GetWindowTimerId(CControlUI* pControl, UINT nTimerID) const
{
    for (int i = 0; i < m_aTimers.GetSize(); ++i) {
        UITimerInfo* t = static_cast<UITimerInfo*>(m_aTimers.ItemAt(i));
        if (t->pSender == pControl && t->nLocalID == nTimerID && !t->bKilled) return t->uWinTimer;
    }
    return 0;
}

// ---------------------------------------------------------------- notifications

void CWindowManagerUI::SendNotify(CControlUI* pControl, LPCWSTR pstrMessage, WPARAM wParam, LPARAM lParam,
                                  bool bAsync)
{
    UINotify msg;
    msg.sType = pstrMessage;
    msg.pSender = pControl;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.dwTimestamp = 0;
    msg.ptMouse = m_ptLastMousePos;
    DispatchNotify(msg, bAsync, true);
}

void CWindowManagerUI::DispatchNotify(UINotify& msg, bool bAsync, bool bAllowRepeat)
{
    msg.ptMouse = m_ptLastMousePos;
    msg.dwTimestamp = ::GetTickCount();
    if (m_bUsedVirtualWnd && msg.pSender) msg.sVirtualWnd = msg.pSender->GetVirtualWnd();
    if (!bAsync) {
        if (msg.pSender && msg.pSender->OnNotify) msg.pSender->OnNotify(&msg);
        for (int i = 0; i < m_aNotifiers.GetSize(); ++i) {
            static_cast<INotifyUI*>(m_aNotifiers.ItemAt(i))->Notify(msg);
        }
        return;
    }
    if (!bAllowRepeat) {
        for (int i = 0; i < m_aAsyncNotify.GetSize(); ++i) {
            UINotify* q = static_cast<UINotify*>(m_aAsyncNotify.ItemAt(i));
            if (q->pSender == msg.pSender && q->sType.Equals(msg.sType)) {
                q->wParam = msg.wParam;
                q->lParam = msg.lParam;
                q->ptMouse = msg.ptMouse;
                q->dwTimestamp = msg.dwTimestamp;
                return;
            }
        }
    }
    UINotify* copy = new UINotify(msg);
    if (!m_aAsyncNotify.Add(copy)) {
        delete copy;
        return;
    }
    PostDrain();
}

void CWindowManagerUI::DrainAsyncNotify()
{
    m_bAsyncNotifyPosted = false;
    while (!m_aAsyncNotify.IsEmpty()) {
        UINotify* msg = static_cast<UINotify*>(m_aAsyncNotify.ItemAt(0));
        m_aAsyncNotify.Remove(0);
        if (msg->pSender && msg->pSender->OnNotify) msg->pSender->OnNotify(msg);
        for (int i = 0; i < m_aNotifiers.GetSize(); ++i) {
            static_cast<INotifyUI*>(m_aNotifiers.ItemAt(i))->Notify(*msg);
        }
        delete msg;
    }
    DeleteDelayedCleanup();
}

// ---------------------------------------------------------------- callbacks

CControlUI* CALLBACK CWindowManagerUI::FindControlByNameCallback(CControlUI* pThis, LPVOID pData)
{
    CWindowManagerUI* manager = static_cast<CWindowManagerUI*>(pData);
    const CUIString name = pThis->GetName();
    if (name.IsEmpty()) return nullptr;
    manager->m_mNameHash.Set(name, pThis);
    return nullptr;
}

CControlUI* CALLBACK CWindowManagerUI::FindControlAtCallback(CControlUI* pThis, LPVOID pData)
{
    const POINT* pt = static_cast<const POINT*>(pData);
    return ::PtInRect(&pThis->GetPos(), *pt) ? pThis : nullptr;
}

CControlUI* CALLBACK CWindowManagerUI::CollectUpdateNeededCallback(CControlUI* pThis, LPVOID pData)
{
    if (!pThis->IsVisible()) return nullptr;
    if (pThis->IsUpdateNeeded()) {
        static_cast<CWindowManagerUI*>(pData)->m_aFoundControls.Add(pThis);
        return pThis;
    }
    return nullptr;
}

CControlUI* CALLBACK CWindowManagerUI::FindControlByShortcutCallback(CControlUI* pThis, LPVOID pData)
{
    ShortcutInfo* info = static_cast<ShortcutInfo*>(pData);
    if (!pThis->IsVisible()) return nullptr;
    if (info->bPickNext) {
        if (wcsstr(pThis->GetClass(), L"Label") == nullptr) return pThis;
        return nullptr;
    }
    const wchar_t ch = static_cast<wchar_t>(reinterpret_cast<UINT_PTR>(::CharUpperW(
        reinterpret_cast<LPWSTR>(static_cast<UINT_PTR>(pThis->GetShortcut())))));
    if (pThis->GetShortcut() != 0 && ch == info->ch) {
        info->bPickNext = true;
        if (wcsstr(pThis->GetClass(), L"Label") == nullptr) return pThis;
    }
    return nullptr;
}

// ---------------------------------------------------------------- messages

WORD CWindowManagerUI::GetKeyStateFlags()
{
    WORD state = 0;
    if (::GetKeyState(VK_LBUTTON) < 0) state |= 0x01;
    if (::GetKeyState(VK_RBUTTON) < 0) state |= 0x02;
    if (::GetKeyState(VK_SHIFT) < 0) state |= 0x04;
    if (::GetKeyState(VK_CONTROL) < 0) state |= 0x08;
    if (::GetKeyState(VK_MENU) < 0) state |= 0x20;
    return state;
}

UIEvent CWindowManagerUI::MakeEvent(int type, CControlUI* sender, WPARAM wParam, LPARAM lParam) const
{
    UIEvent event;
    event.Type = type;
    event.pSender = sender;
    event.dwTimestamp = ::GetTickCount();
    event.ptMouse = m_ptLastMousePos;
    event.chKey = 0;
    event.wKeyState = 0;
    event.wParam = wParam;
    event.lParam = lParam;
    return event;
}

CControlUI* CWindowManagerUI::ControlAtIfOurs(POINT pt) const
{
    CControlUI* c = FindControlAt(pt);
    if (c && c->GetManager() != this) return nullptr;
    return c;
}

bool CWindowManagerUI::PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes)
{
    for (int i = 0; i < m_aPreMessageFilters.GetSize(); ++i) {
        bool handled = false;
        LRESULT r = static_cast<IMessageFilterUI*>(m_aPreMessageFilters.ItemAt(i))
                        ->MessageHandler(uMsg, wParam, lParam, handled);
        if (handled) {
            lRes = r;
            return true;
        }
    }
    switch (uMsg) {
    case WM_KEYDOWN:
        if (wParam != VK_TAB) return false;
        if (m_pFocus && m_pFocus->IsVisible() && m_pFocus->IsEnabled() &&
            wcsstr(m_pFocus->GetClass(), L"RichEdit") != nullptr) {
            // A rich edit that wants tabs keeps the key.
            if (m_pFocus->GetInterface(L"WantTab")) return false;
        }
        MoveFocusToNextTabControl(::GetKeyState(VK_SHIFT) >= 0);
        return true;
    case WM_SYSKEYDOWN:
        if (m_pFocus) {
            UIEvent event = MakeEvent(UIEventSysKey, m_pFocus, wParam, lParam);
            event.chKey = static_cast<WORD>(wParam);
            event.wKeyState = GetKeyStateFlags();
            m_pFocus->Event(event);
        }
        return false;
    case WM_SYSCHAR: {
        if (!m_pRoot) return false;
        ShortcutInfo info;
        info.ch = static_cast<wchar_t>(reinterpret_cast<UINT_PTR>(
            ::CharUpperW(reinterpret_cast<LPWSTR>(static_cast<UINT_PTR>(wParam & 0xFFFF)))));
        info.bPickNext = false;
        CControlUI* c = m_pRoot->FindControl(FindControlByShortcutCallback, &info,
                                             UIFIND_ENABLED | UIFIND_TOP_FIRST | UIFIND_ME_FIRST);
        if (c) {
            c->SetFocus();
            c->Activate();
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

bool CWindowManagerUI::RunMessageTranslators(LPMSG pMsg)
{
    for (int i = 0; i < m_aTranslateAccelerator.GetSize(); ++i) {
        if (static_cast<ITranslateAccelerator*>(m_aTranslateAccelerator.ItemAt(i))->TranslateAccelerator(pMsg) == 0)
            return true;
    }
    return false;
}

bool CWindowManagerUI::TranslateMessage(const LPMSG pMsg)
{
    UIShared& shared = Shared();
    const bool child = (::GetWindowLongW(pMsg->hwnd, GWL_STYLE) & WS_CHILD) != 0;
    if (!child) {
        for (int i = 0; i < shared.managers.GetSize(); ++i) {
            CWindowManagerUI* m = static_cast<CWindowManagerUI*>(shared.managers.ItemAt(i));
            if (m->GetPaintWindow() != pMsg->hwnd) continue;
            if (m->RunMessageTranslators(pMsg)) return true;
            LRESULT r = 0;
            return m->PreMessageHandler(pMsg->message, pMsg->wParam, pMsg->lParam, r);
        }
        return false;
    }
    for (int i = shared.managers.GetSize() - 1; i >= 0; --i) {
        CWindowManagerUI* m = static_cast<CWindowManagerUI*>(shared.managers.ItemAt(i));
        for (HWND w = pMsg->hwnd; w; w = ::GetParent(w)) {
            if (w != m->GetPaintWindow()) continue;
            if (m->RunMessageTranslators(pMsg)) return true;
            LRESULT r = 0;
            m->PreMessageHandler(pMsg->message, pMsg->wParam, pMsg->lParam, r);
            return false;
        }
    }
    return false;
}

void CWindowManagerUI::HandleMouseMove(LPARAM lParam)
{
    if (!m_bMouseTracking) {
        TRACKMOUSEEVENT tme = {};
        tme.cbSize = sizeof(tme);
        tme.dwFlags = TME_HOVER | TME_LEAVE;
        tme.hwndTrack = m_hWndPaint;
        tme.dwHoverTime = m_hwndTooltip ? static_cast<DWORD>(::SendMessageW(m_hwndTooltip, TTM_GETDELAYTIME,
                                                                            TTDT_INITIAL, 0))
                                        : static_cast<DWORD>(m_iHoverTime);
        ::TrackMouseEvent(&tme);
        m_bMouseTracking = true;
    }
    POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    m_ptLastMousePos = pt;
    CControlUI* newHover = ControlAtIfOurs(pt);
    if (m_bMouseCapture && m_pEventClick) {
        UIEvent event = MakeEvent(UIEventMouseMove, m_pEventClick, 0, lParam);
        event.wKeyState = GetKeyStateFlags();
        m_pEventClick->Event(event);
        return;
    }
    if (newHover != m_pEventHover) {
        if (m_pEventHover || !m_aNeedMouseLeaveNeeded.IsEmpty()) {
            CUIPtrArray pending(m_aNeedMouseLeaveNeeded);
            for (int i = 0; i < pending.GetSize(); ++i) {
                CControlUI* c = static_cast<CControlUI*>(pending.ItemAt(i));
                if (m_aNeedMouseLeaveNeeded.Find(c) < 0) continue;
                UIEvent event = MakeEvent(UIEventMouseLeave, c, 0, lParam);
                c->Event(event);
            }
            if (m_pEventHover) {
                UIEvent event = MakeEvent(UIEventMouseLeave, m_pEventHover, 0, lParam);
                CControlUI* old = m_pEventHover;
                m_pEventHover = nullptr;
                old->Event(event);
            }
            m_pEventHover = nullptr;
            if (m_hwndTooltip) ::SendMessageW(m_hwndTooltip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&m_ToolTip));
        }
        if (newHover) {
            UIEvent event = MakeEvent(UIEventMouseEnter, newHover, 0, lParam);
            m_pEventHover = newHover;
            newHover->Event(event);
        }
    }
    CControlUI* target = m_pEventClick ? m_pEventClick : newHover;
    if (target && (target == m_pEventClick || target == ControlAtIfOurs(pt))) {
        UIEvent event = MakeEvent(UIEventMouseMove, target, 0, lParam);
        event.wKeyState = GetKeyStateFlags();
        target->Event(event);
    }
}

void CWindowManagerUI::HandleMouseHover()
{
    m_bMouseTracking = false;
    CControlUI* c = ControlAtIfOurs(m_ptLastMousePos);
    if (!c) return;
    if (m_pEventHover) {
        UIEvent event = MakeEvent(UIEventMouseHover, m_pEventHover);
        m_pEventHover->Event(event);
    }
    CUIString tip = c->GetToolTip();
    ProcessMultiLanguageTokens(tip);
    if (tip.IsEmpty()) return;
    static CUIString s_tipText;
    s_tipText = tip;
    ::ZeroMemory(&m_ToolTip, sizeof(m_ToolTip));
    m_ToolTip.cbSize = 44;   // TOOLINFO without its trailing fields, as old comctl32 expects
    m_ToolTip.uFlags = TTF_IDISHWND;
    m_ToolTip.hwnd = m_hWndPaint;
    m_ToolTip.uId = reinterpret_cast<UINT_PTR>(m_hWndPaint);
    m_ToolTip.hinst = GetInstance();
    m_ToolTip.lpszText = const_cast<LPWSTR>(s_tipText.GetData());
    m_ToolTip.rect = c->GetPos();
    if (!m_hwndTooltip) {
        m_hwndTooltip = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWndPaint,
                                          nullptr, GetInstance(), nullptr);
        if (m_hwndTooltip && m_iTooltipWidth >= 0)
            ::SendMessageW(m_hwndTooltip, TTM_SETMAXTIPWIDTH, 0, m_iTooltipWidth);
        if (m_hwndTooltip) ::SendMessageW(m_hwndTooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&m_ToolTip));
    }
    if (!m_hwndTooltip) return;
    ::SendMessageW(m_hwndTooltip, TTM_SETMAXTIPWIDTH, 0, c->GetToolTipWidth());
    ::SendMessageW(m_hwndTooltip, TTM_SETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&m_ToolTip));
    ::SendMessageW(m_hwndTooltip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&m_ToolTip));
}

void CWindowManagerUI::HandleMouseLeave()
{
    if (m_hwndTooltip) ::SendMessageW(m_hwndTooltip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&m_ToolTip));
    if (m_bMouseTracking) {
        POINT pt;
        ::GetCursorPos(&pt);
        RECT rcWnd;
        ::GetWindowRect(m_hWndPaint, &rcWnd);
        LPARAM l = static_cast<LPARAM>(-1);
        if (!::IsIconic(m_hWndPaint) && ::GetActiveWindow() == m_hWndPaint && ::PtInRect(&rcWnd, pt) &&
            ::SendMessageW(m_hWndPaint, WM_NCHITTEST, 0, MAKELPARAM(pt.x, pt.y)) == HTCLIENT) {
            ::ScreenToClient(m_hWndPaint, &pt);
            l = MAKELPARAM(pt.x, pt.y);
        }
        ::SendMessageW(m_hWndPaint, WM_MOUSEMOVE, 0, l);
    }
    m_bMouseTracking = false;
}

void CWindowManagerUI::SendKeyEvent(int type, CControlUI* pControl, WPARAM wParam, LPARAM lParam)
{
    UIEvent event = MakeEvent(type, pControl, wParam, lParam);
    event.chKey = static_cast<WORD>(wParam);
    event.wKeyState = GetKeyStateFlags();
    pControl->Event(event);
}

bool CWindowManagerUI::PressAt(int type, WPARAM wParam, LPARAM lParam, bool takeFocus, bool capture)
{
    TakeSystemFocus();
    POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    m_ptLastMousePos = pt;
    CControlUI* c = ControlAtIfOurs(pt);
    if (!c) return false;
    // A left press makes the control the pressed one before its event.
    if (type == UIEventButtonDown) m_pEventClick = c;
    if (takeFocus) c->SetFocus();
    if (capture) SetCapture();
    UIEvent event = MakeEvent(type, c, wParam, lParam);
    event.wKeyState = static_cast<WORD>(wParam);
    c->Event(event);
    m_pEventClick = c;
    return true;
}

bool CWindowManagerUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes)
{
    if (!m_hWndPaint) return false;
    for (int i = 0; i < m_aMessageFilters.GetSize(); ++i) {
        bool handled = false;
        LRESULT r =
            static_cast<IMessageFilterUI*>(m_aMessageFilters.ItemAt(i))->MessageHandler(uMsg, wParam, lParam, handled);
        if (handled) {
            switch (uMsg) {
            case WM_MOUSEMOVE:
            case WM_LBUTTONDOWN:
            case WM_LBUTTONUP:
            case WM_LBUTTONDBLCLK:
                m_ptLastMousePos = POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
                break;
            case WM_MOUSEWHEEL:
            case WM_CONTEXTMENU: {
                POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
                ::ScreenToClient(m_hWndPaint, &pt);
                m_ptLastMousePos = pt;
                break;
            }
            default:
                break;
            }
            lRes = r;
            return true;
        }
    }
    if (m_bLayered) {
        if (uMsg == WM_NCCALCSIZE || uMsg == WM_NCPAINT) {
            lRes = 0;
            return true;
        }
        if (uMsg == WM_NCACTIVATE && !::IsIconic(m_hWndPaint)) {
            lRes = (wParam == 0) ? TRUE : FALSE;
            return true;
        }
    }
    switch (uMsg) {
    case WM_APP + 1:
        DrainAsyncNotify();
        return true;
    case WM_CLOSE: {
        if (m_pEventHover) {
            UIEvent event = MakeEvent(UIEventMouseLeave, m_pEventHover);
            m_pEventHover->Event(event);
        }
        if (m_pEventClick) {
            UIEvent event = MakeEvent(UIEventButtonUp, m_pEventClick);
            m_pEventClick->Event(event);
        }
        SetFocus(nullptr);
        if (::GetActiveWindow() == m_hWndPaint) {
            HWND owner = ::GetWindow(m_hWndPaint, GW_OWNER);
            if (!owner) owner = ::GetParent(m_hWndPaint);
            if (owner) ::SetFocus(owner);
        }
        if (m_hwndTooltip) {
            ::DestroyWindow(m_hwndTooltip);
            m_hwndTooltip = nullptr;
        }
        return false;
    }
    case WM_ERASEBKGND:
        lRes = 1;
        return true;
    case WM_PAINT:
        Paint();
        return true;
    case WM_PRINTCLIENT: {
        if (!m_pRoot) return false;
        RECT rcClient;
        ::GetClientRect(m_hWndPaint, &rcClient);
        HDC dc = reinterpret_cast<HDC>(wParam);
        const int saved = ::SaveDC(dc);
        m_pRoot->Paint(dc, rcClient, nullptr);
        if (lParam & PRF_CHILDREN) {
            for (HWND child = ::GetWindow(m_hWndPaint, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
                RECT rcPos = GetWindowRectInClient(child);
                POINT old;
                ::SetWindowOrgEx(dc, -rcPos.left, -rcPos.top, &old);
                ::SendMessageW(child, WM_PRINT, wParam, lParam | PRF_NONCLIENT);
                ::SetWindowOrgEx(dc, old.x, old.y, nullptr);
            }
        }
        ::RestoreDC(dc, saved);
        return true;
    }
    case WM_GETMINMAXINFO: {
        MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
        if (m_szMinWindow.cx > 0) info->ptMinTrackSize.x = m_szMinWindow.cx;
        if (m_szMinWindow.cy > 0) info->ptMinTrackSize.y = m_szMinWindow.cy;
        if (m_szMaxWindow.cx > 0) info->ptMaxTrackSize.x = m_szMaxWindow.cx;
        if (m_szMaxWindow.cy > 0) info->ptMaxTrackSize.y = m_szMaxWindow.cy;
        return false;
    }
    case WM_SIZE: {
        if (m_pFocus) {
            UIEvent event = MakeEvent(UIEventSize, m_pFocus, wParam, lParam);
            m_pFocus->Event(event);
        }
        if (m_pRoot) m_pRoot->NeedUpdate();
        if (m_bLayered) InvalidateAll();
        lRes = 0;
        return true;
    }
    case WM_TIMER: {
        if (wParam == kLayeredTimerId && m_bLayered && !::IsRectEmpty(&m_rcLayeredUpdate) &&
            !::IsIconic(m_hWndPaint)) {
            Paint();
            return true;
        }
        for (int i = 0; i < m_aTimers.GetSize(); ++i) {
            UITimerInfo* t = static_cast<UITimerInfo*>(m_aTimers.ItemAt(i));
            if (t->hWnd == m_hWndPaint && t->uWinTimer == LOWORD(wParam) && !t->bKilled) {
                UIEvent event = MakeEvent(UIEventTimer, t->pSender, t->nLocalID, lParam);
                t->pSender->Event(event);
                break;
            }
        }
        return true;
    }
    case WM_MOUSEHOVER:
        HandleMouseHover();
        return true;
    case WM_MOUSELEAVE:
        if (!m_pRoot) return false;
        HandleMouseLeave();
        return true;
    case WM_MOUSEMOVE:
        if (!m_pRoot) return false;
        HandleMouseMove(lParam);
        return true;
    case WM_LBUTTONDOWN:
        return PressAt(UIEventButtonDown, wParam, lParam, true, true);
    case WM_LBUTTONDBLCLK:
        return PressAt(UIEventDoubleClick, wParam, lParam, false, true);
    case WM_RBUTTONDOWN:
        return PressAt(UIEventRightButtonDown, wParam, lParam, true, false);
    case WM_LBUTTONUP: {
        POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        m_ptLastMousePos = pt;
        if (!m_pEventClick) return false;
        ReleaseCapture();
        UIEvent event = MakeEvent(UIEventButtonUp, m_pEventClick, wParam, lParam);
        event.wKeyState = static_cast<WORD>(wParam);
        CControlUI* c = m_pEventClick;
        m_pEventClick = nullptr;
        c->Event(event);
        return true;
    }
    case WM_CONTEXTMENU: {
        if (!m_pRoot || m_bMouseCapture) return false;
        POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ::ScreenToClient(m_hWndPaint, &pt);
        m_ptLastMousePos = pt;
        if (!m_pEventClick) return false;
        UIEvent event = MakeEvent(UIEventContextMenu, m_pEventClick, wParam, reinterpret_cast<LPARAM>(m_pEventClick));
        CControlUI* c = m_pEventClick;
        m_pEventClick = nullptr;
        c->Event(event);
        return true;
    }
    case WM_MOUSEWHEEL: {
        if (!m_pRoot) return false;
        POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ::ScreenToClient(m_hWndPaint, &pt);
        m_ptLastMousePos = pt;
        CControlUI* c = ControlAtIfOurs(pt);
        if (!c) return false;
        const int delta = static_cast<short>(HIWORD(wParam));
        UIEvent event = MakeEvent(UIEventMouseWheel, c, delta < 0 ? 1 : 0, lParam);
        event.wKeyState = GetKeyStateFlags();
        c->Event(event);
        ::SendMessageW(m_hWndPaint, WM_MOUSEMOVE, 0, MAKELPARAM(m_ptLastMousePos.x, m_ptLastMousePos.y));
        return true;
    }
    case WM_SETCURSOR: {
        if (!m_pRoot || LOWORD(lParam) != HTCLIENT) return false;
        if (m_bMouseCapture) return true;
        POINT pt;
        ::GetCursorPos(&pt);
        ::ScreenToClient(m_hWndPaint, &pt);
        CControlUI* c = ControlAtIfOurs(pt);
        if (!c || (c->GetControlFlags() & UIFLAG_SETCURSOR) == 0) return false;
        UIEvent event = MakeEvent(UIEventSetCursor, c, wParam, lParam);
        event.ptMouse = pt;
        c->Event(event);
        lRes = TRUE;
        return true;
    }
    case WM_MOUSEACTIVATE:
        if (m_bNoActivate) {
            lRes = MA_NOACTIVATE;
            return true;
        }
        return false;
    case WM_KEYDOWN:
        if (!m_pRoot || !m_pFocus) return false;
        m_pEventKey = m_pFocus;
        SendKeyEvent(UIEventKeyDown, m_pFocus, wParam, lParam);
        return true;
    case WM_KEYUP: {
        if (!m_pRoot || !m_pEventKey) return false;
        CControlUI* c = m_pEventKey;
        m_pEventKey = nullptr;
        SendKeyEvent(UIEventKeyUp, c, wParam, lParam);
        return true;
    }
    case WM_CHAR:
        if (!m_pRoot || !m_pFocus) return false;
        SendKeyEvent(UIEventChar, m_pFocus, wParam, lParam);
        return true;
    case WM_KILLFOCUS: {
        HWND gaining = reinterpret_cast<HWND>(wParam);
        if (!gaining) return false;
        HWND w = ::GetFocus();
        while (w && ::GetParent(w) != m_hWndPaint) w = ::GetParent(w);
        if (!w) return false;
        const int at = m_aNativeWindow.Find(w);
        if (at < 0) return false;
        CControlUI* c = static_cast<CControlUI*>(m_aNativeWindowControl.ItemAt(at));
        if (c != m_pFocus) {
            UIEvent event = MakeEvent(UIEventSetFocus, c);
            m_pFocus = c;
            c->Event(event);
        }
        return false;
    }
    case WM_NOTIFY: {
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (!hdr) return false;
        lRes = ::SendMessageW(hdr->hwndFrom, WM_NOTIFY + 0x2000, wParam, lParam);
        return true;
    }
    case WM_COMMAND:
        if (lParam == 0) return false;
        lRes = ::SendMessageW(reinterpret_cast<HWND>(lParam), WM_COMMAND + 0x2000, wParam, lParam);
        return true;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        if (lParam == 0) return false;
        lRes = ::SendMessageW(reinterpret_cast<HWND>(lParam), uMsg + 0x2000, wParam, lParam);
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------- painting

void CWindowManagerUI::LayoutIfNeeded(const RECT& rcClient)
{
    if (!m_bUpdateNeeded) return;
    m_bUpdateNeeded = false;
    if (::IsRectEmpty(&rcClient)) return;
    if (m_pRoot->IsUpdateNeeded()) {
        ReleaseOffscreen();
        m_pRoot->SetPos(rcClient, true);
    } else {
        m_aFoundControls.Empty();
        m_pRoot->FindControl(CollectUpdateNeededCallback, this, UIFIND_VISIBLE | UIFIND_UPDATETEST | UIFIND_ME_FIRST);
        for (int i = 0; i < m_aFoundControls.GetSize(); ++i) {
            CControlUI* c = static_cast<CControlUI*>(m_aFoundControls.ItemAt(i));
            if (c->IsFloat()) {
                c->SetPos(c->GetRelativePos(), true);
            } else {
                c->SetPos(c->GetPos(), true);
            }
        }
        m_aFoundControls.Empty();
    }
    if (m_bFirstLayout) {
        m_bFirstLayout = false;
        SendNotify(m_pRoot, L"windowinit");
        if (m_bLayered && m_bLayeredChanged) InvalidateAll();
    }
}

void CWindowManagerUI::Paint()
{
    RECT rcClient = {0, 0, 0, 0};
    ::GetClientRect(m_hWndPaint, &rcClient);
    if (!m_pRoot) {
        PAINTSTRUCT ps;
        ::BeginPaint(m_hWndPaint, &ps);
        CDrawHelper::DrawColor(m_hDcPaint, ps.rcPaint, 0xFF000000);
        ::EndPaint(m_hWndPaint, &ps);
        return;
    }
    RECT rcPaint = {0, 0, 0, 0};
    if (m_bLayered) {
        m_bOffscreenPaint = true;
        ::IntersectRect(&rcPaint, &m_rcLayeredUpdate, &rcClient);
        m_rcLayeredUpdate = RECT{0, 0, 0, 0};
        if (::IsRectEmpty(&rcPaint)) {
            PAINTSTRUCT ps;
            ::BeginPaint(m_hWndPaint, &ps);
            ::EndPaint(m_hWndPaint, &ps);
            // A layout may still be pending: run it so that first paint finishes.
            if (!m_bUpdateNeeded) return;
            rcPaint = rcClient;
        }
    } else if (!::GetUpdateRect(m_hWndPaint, &rcPaint, FALSE)) {
        return;
    }

    if (m_bFocusNeeded) MoveFocusToNextTabControl(true);
    m_bIsPainting = true;
    LayoutIfNeeded(rcClient);

    if (m_bOffscreenPaint) {
        const SIZE size = {rcClient.right - rcClient.left, rcClient.bottom - rcClient.top};
        if (m_hbmpOffscreen && (size.cx != m_szOffscreen.cx || size.cy != m_szOffscreen.cy)) ReleaseOffscreen();
        if (!m_hDcOffscreen) {
            m_hDcOffscreen = ::CreateCompatibleDC(m_hDcPaint);
            if (m_bLayered) {
                m_hbmpOffscreen = CDrawHelper::CreateDib32(m_hDcPaint, size.cx, size.cy, true, &m_pOffscreenBits);
            } else {
                m_hbmpOffscreen = ::CreateCompatibleBitmap(m_hDcPaint, size.cx, size.cy);
            }
            m_szOffscreen = size;
            if (m_hDcOffscreen && m_hbmpOffscreen) {
                m_hbmpOffscreenOld = ::SelectObject(m_hDcOffscreen, m_hbmpOffscreen);
            }
        }
    }

    PAINTSTRUCT ps;
    ::BeginPaint(m_hWndPaint, &ps);
    if (m_bOffscreenPaint && m_hDcOffscreen && m_hbmpOffscreen) {
        const int saved = ::SaveDC(m_hDcOffscreen);
        if (m_bLayered && m_diLayered.sDrawString.IsEmpty() && m_pOffscreenBits) {
            for (int y = rcPaint.top; y < rcPaint.bottom; ++y) {
                ::ZeroMemory(m_pOffscreenBits + (static_cast<size_t>(y) * m_szOffscreen.cx + rcPaint.left) * 4,
                             static_cast<size_t>(rcPaint.right - rcPaint.left) * 4);
            }
        }
        m_pRoot->Paint(m_hDcOffscreen, rcPaint, nullptr);
        if (m_bLayered) PaintLayeredChildren(rcPaint);
        for (int i = 0; i < m_aPostPaintControls.GetSize(); ++i) {
            static_cast<CControlUI*>(m_aPostPaintControls.ItemAt(i))->DoPostPaint(m_hDcOffscreen, rcPaint);
        }
        ::RestoreDC(m_hDcOffscreen, saved);
        if (m_bLayered) {
            ::GdiFlush();
            ApplyLayeredImage(rcPaint);
            RECT rcWnd;
            ::GetWindowRect(m_hWndPaint, &rcWnd);
            POINT ptPos = {rcWnd.left, rcWnd.top};
            SIZE sz = {rcWnd.right - rcWnd.left, rcWnd.bottom - rcWnd.top};
            POINT ptSrc = {0, 0};
            BLENDFUNCTION bf = {AC_SRC_OVER, 0, m_nOpacity, AC_SRC_ALPHA};
            if (UpdateLayeredWindowFn fn = Shared().updateLayeredWindow)
                fn(m_hWndPaint, nullptr, &ptPos, &sz, m_hDcOffscreen, &ptSrc, 0, &bf, ULW_ALPHA);
        } else {
            ::BitBlt(m_hDcPaint, rcPaint.left, rcPaint.top, rcPaint.right - rcPaint.left, rcPaint.bottom - rcPaint.top,
                     m_hDcOffscreen, rcPaint.left, rcPaint.top, SRCCOPY);
            if (m_bShowUpdateRect) {
                HGDIOBJ oldPen = ::SelectObject(m_hDcPaint, Shared().dirtyPen);
                HGDIOBJ oldBrush = ::SelectObject(m_hDcPaint, ::GetStockObject(HOLLOW_BRUSH));
                ::Rectangle(m_hDcPaint, rcPaint.left, rcPaint.top, rcPaint.right, rcPaint.bottom);
                ::SelectObject(m_hDcPaint, oldBrush);
                ::SelectObject(m_hDcPaint, oldPen);
            }
        }
    } else {
        const int saved = ::SaveDC(m_hDcPaint);
        m_pRoot->Paint(m_hDcPaint, rcPaint, nullptr);
        ::RestoreDC(m_hDcPaint, saved);
    }
    ::EndPaint(m_hWndPaint, &ps);
    m_bIsPainting = false;
    m_bLayeredChanged = false;
    // A tab move left pending by the first layout needs a paint of its own: the
    // invalidation it made before BeginPaint was validated by this one.
    if (m_bUpdateNeeded || m_bFocusNeeded) InvalidateAll();
}

void CWindowManagerUI::PaintLayeredChildren(const RECT& rcPaint)
{
    for (int i = m_aNativeWindow.GetSize() - 1; i >= 0; --i) {
        HWND child = static_cast<HWND>(m_aNativeWindow.ItemAt(i));
        if (!::IsWindow(child)) {
            m_aNativeWindow.Remove(i);
            m_aNativeWindowControl.Remove(i);
            continue;
        }
        if (!::IsWindowVisible(child)) continue;
        RECT rcChild = GetWindowRectInClient(child);
        RECT tmp;
        if (!::IntersectRect(&tmp, &rcChild, &rcPaint)) continue;
        const int cx = rcChild.right - rcChild.left;
        const int cy = rcChild.bottom - rcChild.top;
        BYTE* bits = nullptr;
        HBITMAP bmp = CDrawHelper::CreateBitmapInfo(m_hDcOffscreen, cx, cy, &bits);
        if (!bmp) continue;
        HDC dc = ::CreateCompatibleDC(m_hDcOffscreen);
        HGDIOBJ old = ::SelectObject(dc, bmp);
        ::ZeroMemory(bits, static_cast<size_t>(cx) * cy * 4);
        ::SendMessageW(child, WM_PRINT, reinterpret_cast<WPARAM>(dc),
                       PRF_CHECKVISIBLE | PRF_CLIENT | PRF_CHILDREN | PRF_OWNED);
        ::GdiFlush();
        for (int p = 0; p < cx * cy; ++p) {
            DWORD* px = reinterpret_cast<DWORD*>(bits) + p;
            if (*px != 0) *px |= 0xFF000000;
        }
        ::BitBlt(m_hDcOffscreen, rcChild.left, rcChild.top, cx, cy, dc, 0, 0, SRCCOPY);
        ::SelectObject(dc, old);
        ::DeleteDC(dc);
        ::DeleteObject(bmp);
    }
}

void CWindowManagerUI::ApplyLayeredImage(const RECT& rcPaint)
{
    if (m_diLayered.sDrawString.IsEmpty() || !m_pOffscreenBits) return;
    RECT rcWnd;
    ::GetWindowRect(m_hWndPaint, &rcWnd);
    const int cx = rcWnd.right - rcWnd.left;
    const int cy = rcWnd.bottom - rcWnd.top;
    if (!m_hbmpBackground) {
        m_hDcBackground = ::CreateCompatibleDC(m_hDcPaint);
        m_hbmpBackground = CDrawHelper::CreateBitmapInfo(m_hDcPaint, cx, cy, &m_pBackgroundBits);
        if (!m_hDcBackground || !m_hbmpBackground) return;
        ::SelectObject(m_hDcBackground, m_hbmpBackground);
        m_bLayeredChanged = true;
    }
    if (m_bLayeredChanged) {
        ::ZeroMemory(m_pBackgroundBits, static_cast<size_t>(cx) * cy * 4);
        RECT rcAll = {0, 0, cx, cy};
        CDrawHelper::DrawImageString(m_hDcBackground, this, rcAll, rcAll, m_diLayered);
        ::GdiFlush();
    }
    if (!m_diLayered.pImageInfo || !m_diLayered.pImageInfo->bAlpha) return;
    for (int y = rcPaint.top; y < rcPaint.bottom && y < m_szOffscreen.cy && y < cy; ++y) {
        for (int x = rcPaint.left; x < rcPaint.right && x < m_szOffscreen.cx && x < cx; ++x) {
            BYTE* px = m_pOffscreenBits + (static_cast<size_t>(y) * m_szOffscreen.cx + x) * 4;
            // The background bitmap is bottom-up.
            const BYTE a = m_pBackgroundBits[(static_cast<size_t>(cy - 1 - y) * cx + x) * 4 + 3];
            px[0] = static_cast<BYTE>(px[0] * a / 255);
            px[1] = static_cast<BYTE>(px[1] * a / 255);
            px[2] = static_cast<BYTE>(px[2] * a / 255);
            px[3] = a;
        }
    }
}

void CWindowManagerUI::SetLayered(bool bLayered)
{
    if (!m_hWndPaint || bLayered == m_bLayered) return;
    if (::GetWindowLongW(m_hWndPaint, GWL_STYLE) & WS_CHILD) return;
    if (!Shared().updateLayeredWindow) return;
    m_bLayered = bLayered;
    LONG ex = ::GetWindowLongW(m_hWndPaint, GWL_EXSTYLE);
    if (bLayered) {
        ::SetTimer(m_hWndPaint, kLayeredTimerId, 10, nullptr);
        ex |= WS_EX_LAYERED;
    } else {
        ::KillTimer(m_hWndPaint, kLayeredTimerId);
        ex &= ~WS_EX_LAYERED;
    }
    ::SetWindowLongW(m_hWndPaint, GWL_EXSTYLE, ex);
    ReleaseOffscreen();
    if (m_pRoot) m_pRoot->NeedUpdate();
    InvalidateAll();
}

void CWindowManagerUI::SetLayeredOpacity(BYTE nOpacity)
{
    m_nOpacity = nOpacity;
    m_bLayeredChanged = true;
    InvalidateAll();
}

void CWindowManagerUI::SetLayeredImage(LPCWSTR pstrImage)
{
    m_diLayered.Clear();
    m_diLayered.sDrawString = pstrImage;
    m_bLayeredChanged = true;
    InvalidateAll();
}

void CWindowManagerUI::SetOpacity(BYTE nOpacity)
{
    m_nOpacity = nOpacity;
    if (!m_hWndPaint) return;
    typedef BOOL(WINAPI * SetLayeredFn)(HWND, COLORREF, BYTE, DWORD);
    static SetLayeredFn fn = reinterpret_cast<SetLayeredFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"User32.dll"), "SetLayeredWindowAttributes")));
    if (!fn) return;
    ::SetWindowLongW(m_hWndPaint, GWL_EXSTYLE, ::GetWindowLongW(m_hWndPaint, GWL_EXSTYLE) | WS_EX_LAYERED);
    fn(m_hWndPaint, 0, nOpacity, LWA_ALPHA);
    if (m_bLayered) {
        m_bLayered = false;
        ::KillTimer(m_hWndPaint, kLayeredTimerId);
        ReleaseOffscreen();
    }
    InvalidateAll();
}

}  // namespace SkinUI
