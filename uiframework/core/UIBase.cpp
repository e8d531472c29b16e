// Window base classes: native window wrapper, notification pump and the
// skinned window with its self-drawn frame.
#include "UIBase.h"

#include <cwchar>
#include <cstdlib>

#include "UIDlgBuilder.h"

namespace SkinUI {

// ---------------------------------------------------------------- CWindowWnd

CWindowWnd::CWindowWnd() : m_hWnd(nullptr), m_OldWndProc(::DefWindowProcW), m_bSubclassed(false) {}

LPCWSTR CWindowWnd::GetSuperClassName() const { return nullptr; }
UINT CWindowWnd::GetClassStyle() const { return 0; }

LRESULT CWindowWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return ::CallWindowProcW(m_OldWndProc, m_hWnd, uMsg, wParam, lParam);
}

void CWindowWnd::OnFinalMessage(HWND) {}

bool CWindowWnd::RegisterWindowClass()
{
    WNDCLASSW wc = {};
    wc.style = GetClassStyle();
    wc.lpfnWndProc = CWindowWnd::WindowProc;
    wc.hInstance = CWindowManagerUI::GetInstance();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = GetWindowClassName();
    const ATOM atom = ::RegisterClassW(&wc);
    return atom != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool CWindowWnd::RegisterSuperclass()
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (!::GetClassInfoExW(nullptr, GetSuperClassName(), &wc)) {
        if (!::GetClassInfoExW(CWindowManagerUI::GetInstance(), GetSuperClassName(), &wc)) return false;
    }
    m_OldWndProc = wc.lpfnWndProc;
    wc.lpfnWndProc = CWindowWnd::SuperclassProc;
    wc.hInstance = CWindowManagerUI::GetInstance();
    wc.lpszClassName = GetWindowClassName();
    const ATOM atom = ::RegisterClassExW(&wc);
    return atom != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND hwndParent, LPCWSTR pstrName, DWORD dwStyle, DWORD dwExStyle, int x, int y, int cx,
                        int cy, HMENU hMenu)
{
    if (GetSuperClassName() != nullptr && !RegisterSuperclass()) return nullptr;
    if (GetSuperClassName() == nullptr && !RegisterWindowClass()) return nullptr;
    m_hWnd = ::CreateWindowExW(dwExStyle, GetWindowClassName(), pstrName, dwStyle, x, y, cx, cy, hwndParent, hMenu,
                               CWindowManagerUI::GetInstance(), this);
    return m_hWnd;
}

HWND CWindowWnd::CreateInRect(HWND hwndParent, LPCWSTR pstrName, DWORD dwStyle, DWORD dwExStyle, const RECT& rc,
                              HMENU hMenu)
{
    return Create(hwndParent, pstrName, dwStyle, dwExStyle, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top,
                  hMenu);
}

HWND CWindowWnd::Subclass(HWND hWnd)
{
    m_OldWndProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CWindowWnd::SuperclassProc)));
    if (!m_OldWndProc) return nullptr;
    m_bSubclassed = true;
    m_hWnd = hWnd;
    ::SetPropW(hWnd, L"WndX", this);
    return m_hWnd;
}

void CWindowWnd::Unsubclass()
{
    if (!::IsWindow(m_hWnd) || !m_bSubclassed) return;
    ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_OldWndProc));
    m_OldWndProc = ::DefWindowProcW;
    m_bSubclassed = false;
}

void CWindowWnd::ShowWindow(bool bShow, bool bTakeFocus)
{
    if (!::IsWindow(m_hWnd)) return;
    ::ShowWindow(m_hWnd, bShow ? (bTakeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
}

UINT CWindowWnd::ShowModal()
{
    UINT nRet = 0;
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
    if (owner) ::EnableWindow(owner, FALSE);
    MSG msg = {};
    bool quit = false;
    while (::IsWindow(m_hWnd)) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            break;
        }
        if (got == -1) break;
        if (msg.message == WM_CLOSE && msg.hwnd == m_hWnd) {
            nRet = static_cast<UINT>(msg.wParam);
            if (owner) {
                ::EnableWindow(owner, TRUE);
                ::SetFocus(owner);
            }
        }
        if (!CWindowManagerUI::TranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (owner) {
        ::EnableWindow(owner, TRUE);
        ::SetFocus(owner);
    }
    if (quit) ::PostQuitMessage(static_cast<int>(msg.wParam));
    return nRet;
}

void CWindowWnd::Close(UINT nRet)
{
    if (::IsWindow(m_hWnd)) ::PostMessageW(m_hWnd, WM_CLOSE, nRet, 0);
}

void CWindowWnd::CenterWindow()
{
    RECT rcDlg;
    ::GetWindowRect(m_hWnd, &rcDlg);
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromWindow(owner ? owner : m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    RECT rcArea = mi.rcWork;
    RECT rcCenter = rcArea;
    if (owner && !::IsIconic(owner)) ::GetWindowRect(owner, &rcCenter);
    const int w = rcDlg.right - rcDlg.left;
    const int h = rcDlg.bottom - rcDlg.top;
    int x = (rcCenter.left + rcCenter.right) / 2 - w / 2;
    int y = (rcCenter.top + rcCenter.bottom) / 2 - h / 2;
    if (x < rcArea.left) x = rcArea.left;
    else if (x + w > rcArea.right) x = rcArea.right - w;
    if (y < rcArea.top) y = rcArea.top;
    else if (y + h > rcArea.bottom) y = rcArea.bottom - h;
    ::SetWindowPos(m_hWnd, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWindowWnd::SetIcon(UINT nRes)
{
    HINSTANCE inst = CWindowManagerUI::GetInstance();
    HICON big = static_cast<HICON>(::LoadImageW(inst, MAKEINTRESOURCEW(nRes), IMAGE_ICON,
                                                ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                                LR_DEFAULTCOLOR));
    ::SendMessageW(m_hWnd, WM_SETICON, TRUE, reinterpret_cast<LPARAM>(big));
    HICON small = static_cast<HICON>(::LoadImageW(inst, MAKEINTRESOURCEW(nRes), IMAGE_ICON,
                                                  ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                                  LR_DEFAULTCOLOR));
    ::SendMessageW(m_hWnd, WM_SETICON, FALSE, reinterpret_cast<LPARAM>(small));
}

LRESULT CWindowWnd::SendMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageW(m_hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowWnd::PostMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return ::PostMessageW(m_hWnd, uMsg, wParam, lParam);
}

// The object of a window lives in its user data (WindowProc) or in its property
// "WndX" (SuperclassProc, whose user data belongs to the system class).
LRESULT CWindowWnd::RouteToObject(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, bool inProperty)
{
    CWindowWnd* self = nullptr;
    if (uMsg == WM_NCCREATE) {
        LPCREATESTRUCTW cs = reinterpret_cast<LPCREATESTRUCTW>(lParam);
        self = static_cast<CWindowWnd*>(cs->lpCreateParams);
        self->m_hWnd = hWnd;
        if (inProperty) {
            ::SetPropW(hWnd, L"WndX", self);
        } else {
            ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
    } else {
        self = inProperty ? static_cast<CWindowWnd*>(::GetPropW(hWnd, L"WndX"))
                          : reinterpret_cast<CWindowWnd*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (uMsg == WM_NCDESTROY && self) {
            LRESULT r = ::CallWindowProcW(self->m_OldWndProc, hWnd, uMsg, wParam, lParam);
            if (!inProperty) ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
            if (self->m_bSubclassed) self->Unsubclass();
            if (inProperty) ::RemovePropW(hWnd, L"WndX");
            self->m_hWnd = nullptr;
            self->OnFinalMessage(hWnd);
            return r;
        }
    }
    if (self) return self->HandleMessage(uMsg, wParam, lParam);
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return RouteToObject(hWnd, uMsg, wParam, lParam, false);
}

LRESULT CALLBACK CWindowWnd::SuperclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return RouteToObject(hWnd, uMsg, wParam, lParam, true);
}

// ---------------------------------------------------------------- CNotifyPump

static const UIMsgMapEntry kPumpEntries[] = {{L"", L"", UISig_end, nullptr}};
const UIMsgMap CNotifyPump::messageMap = {nullptr, kPumpEntries};

CNotifyPump::CNotifyPump() : m_VirtualWndMap(83) {}
CNotifyPump::~CNotifyPump() = default;

const UIMsgMap* CNotifyPump::GetMessageMap() const { return &messageMap; }

bool CNotifyPump::AddVirtualWnd(LPCWSTR strName, CNotifyPump* pObject)
{
    if (m_VirtualWndMap.Find(strName)) return false;
    return m_VirtualWndMap.Insert(strName, pObject);
}

bool CNotifyPump::RemoveVirtualWnd(LPCWSTR strName) { return m_VirtualWndMap.Remove(strName); }

const UIMsgMapEntry* CNotifyPump::FindMessageEntry(const UIMsgMapEntry* lpEntry, UINotify& msg)
{
    const CUIString senderName = msg.pSender ? msg.pSender->GetName() : CUIString();
    const UIMsgMapEntry* anyControl = nullptr;
    for (; lpEntry->nSig != UISig_end; ++lpEntry) {
        if (!msg.sType.Equals(lpEntry->sMsgType)) continue;
        if (lpEntry->sCtrlName[0] == L'\0') {
            anyControl = lpEntry;
        } else if (senderName.Equals(lpEntry->sCtrlName)) {
            return lpEntry;
        }
    }
    return anyControl;
}

bool CNotifyPump::DispatchThroughMaps(UINotify& msg)
{
    for (const UIMsgMap* map = GetMessageMap(); map; map = map->pBaseMap) {
        const UIMsgMapEntry* entry = FindMessageEntry(map->lpEntries, msg);
        if (!entry) continue;
        switch (entry->nSig) {
        case UISig_lwl:
            (this->*reinterpret_cast<UIPumpHandlerWL>(entry->pfn))(msg.wParam, msg.lParam);
            return true;
        case UISig_vn:
            (this->*reinterpret_cast<UIPumpHandlerNotify>(entry->pfn))(msg);
            return true;
        default:
            return false;
        }
    }
    return false;
}

bool CNotifyPump::DispatchNotify(UINotify& msg)
{
    if (!msg.sVirtualWnd.IsEmpty()) {
        for (int i = 0;; ++i) {
            LPCWSTR key = m_VirtualWndMap.GetKeyAt(i);
            if (!key) break;
            if (_wcsicmp(key, msg.sVirtualWnd) == 0) {
                CNotifyPump* pump = static_cast<CNotifyPump*>(m_VirtualWndMap.Find(key, false));
                if (pump && pump->DispatchThroughMaps(msg)) return true;
            }
        }
    }
    return DispatchThroughMaps(msg);
}

// ---------------------------------------------------------------- WindowImplBase

namespace {

void DefaultSkinFailure()
{
    ::MessageBoxW(nullptr, L"加载资源文件失败", L"SkinUI", MB_ICONHAND);
    ::ExitProcess(1);
}

WindowImplBase::SkinFailureHandler g_skinFailure = DefaultSkinFailure;

}  // namespace

static const UIMsgMapEntry kImplEntries[] = {
    {L"click", L"", UISig_vn, UIPumpNotify(&WindowImplBase::OnClick)},
    {L"", L"", UISig_end, nullptr},
};
const UIMsgMap WindowImplBase::messageMap = {&CNotifyPump::messageMap, kImplEntries};

WindowImplBase::WindowImplBase() = default;
WindowImplBase::~WindowImplBase() = default;

void WindowImplBase::SetSkinFailureHandler(SkinFailureHandler handler)
{
    g_skinFailure = handler ? handler : DefaultSkinFailure;
}

void WindowImplBase::FailSkin() { g_skinFailure(); }

const UIMsgMap* WindowImplBase::GetMessageMap() const { return &messageMap; }
UINT WindowImplBase::GetClassStyle() const { return CS_DBLCLKS; }
void WindowImplBase::InitWindow() {}
int WindowImplBase::GetResourceType() const { return UILIB_FILE; }
CUIString WindowImplBase::GetZipFileName() const { return CUIString(); }
LPCWSTR WindowImplBase::GetResourceId() const { return L""; }
CControlUI* WindowImplBase::CreateControl(LPCWSTR) { return nullptr; }
LONG WindowImplBase::GetStyle() { return ::GetWindowLongW(m_hWnd, GWL_STYLE) & ~WS_CAPTION; }

void WindowImplBase::Notify(UINotify& msg) { DispatchNotify(msg); }

LRESULT WindowImplBase::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM, bool&)
{
    if (uMsg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) return OnDefaultKey(wParam);
    return 0;
}

LRESULT WindowImplBase::OnDefaultKey(WPARAM wParam)
{
    if (wParam == VK_ESCAPE) {
        Close(1);
        return 1;
    }
    return 0;
}

void WindowImplBase::OnClick(UINotify& msg)
{
    if (!msg.pSender) return;
    const CUIString name = msg.pSender->GetName();
    if (name.Equals(L"closebtn")) {
        Close(1);
    } else if (name.Equals(L"minbtn")) {
        SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (name.Equals(L"maxbtn")) {
        SendMessage(WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    } else if (name.Equals(L"restorebtn")) {
        SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
    }
}

void WindowImplBase::OnFinalMessage(HWND)
{
    m_PaintManager.RemovePreMessageFilter(this);
    m_PaintManager.RemoveNotifyListener(this);
    if (CControlUI* root = m_PaintManager.GetRoot()) m_PaintManager.ForgetControl(root);
}

LRESULT WindowImplBase::OnClose(UINT, WPARAM, LPARAM, bool& bHandled) { return NotHandled(bHandled); }
LRESULT WindowImplBase::OnDestroy(UINT, WPARAM, LPARAM, bool& bHandled) { return NotHandled(bHandled); }
LRESULT WindowImplBase::OnMouseWheel(UINT, WPARAM, LPARAM, bool& bHandled) { return NotHandled(bHandled); }
LRESULT WindowImplBase::OnMouseHover(UINT, WPARAM, LPARAM, bool& bHandled) { return NotHandled(bHandled); }
LRESULT WindowImplBase::OnChar(UINT, WPARAM, LPARAM, bool& bHandled) { return NotHandled(bHandled); }
LRESULT WindowImplBase::OnKeyDown(UINT, WPARAM, LPARAM, bool& bHandled) { return NotHandled(bHandled); }
LRESULT WindowImplBase::OnKillFocus(UINT, WPARAM, LPARAM, bool& bHandled) { return NotHandled(bHandled); }
LRESULT WindowImplBase::OnSetFocus(UINT, WPARAM, LPARAM, bool& bHandled) { return NotHandled(bHandled); }
LRESULT WindowImplBase::OnLButtonDown(UINT, WPARAM, LPARAM, bool& bHandled) { return NotHandled(bHandled); }
LRESULT WindowImplBase::OnLButtonUp(UINT, WPARAM, LPARAM, bool& bHandled) { return NotHandled(bHandled); }
LRESULT WindowImplBase::OnMouseMove(UINT, WPARAM, LPARAM, bool& bHandled) { return NotHandled(bHandled); }
LRESULT WindowImplBase::HandleOtherMessage(UINT, WPARAM, LPARAM, bool& bHandled) { return NotHandled(bHandled); }

LRESULT WindowImplBase::OnNcActivate(UINT, WPARAM wParam, LPARAM, bool& bHandled)
{
    if (::IsIconic(m_hWnd)) return NotHandled(bHandled);
    return wParam == 0 ? TRUE : FALSE;
}

LRESULT WindowImplBase::OnNcCalcSize(UINT, WPARAM, LPARAM lParam, bool&)
{
    if (!::IsZoomed(m_hWnd)) return 0;
    LPRECT rc = reinterpret_cast<LPRECT>(lParam);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    rc->right = rc->left + (mi.rcWork.right - mi.rcWork.left);
    rc->bottom = rc->top + (mi.rcWork.bottom - mi.rcWork.top);
    return WVR_HREDRAW | WVR_VREDRAW;
}

LRESULT WindowImplBase::OnNcPaint(UINT, WPARAM, LPARAM, bool&) { return 0; }

LRESULT WindowImplBase::OnNcHitTest(UINT, WPARAM, LPARAM lParam, bool&)
{
    POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ::ScreenToClient(m_hWnd, &pt);
    RECT rcClient;
    ::GetClientRect(m_hWnd, &rcClient);
    if (!::IsZoomed(m_hWnd)) {
        const RECT box = m_PaintManager.GetSizeBox();
        if (pt.y < rcClient.top + box.top) {
            if (pt.x < rcClient.left + box.left) return HTTOPLEFT;
            if (pt.x > rcClient.right - box.right) return HTTOPRIGHT;
            return HTTOP;
        }
        if (pt.y > rcClient.bottom - box.bottom) {
            if (pt.x < rcClient.left + box.left) return HTBOTTOMLEFT;
            if (pt.x > rcClient.right - box.right) return HTBOTTOMRIGHT;
            return HTBOTTOM;
        }
        if (pt.x < rcClient.left + box.left) return HTLEFT;
        if (pt.x > rcClient.right - box.right) return HTRIGHT;
    }
    const RECT cap = m_PaintManager.GetCaptionRect();
    if (pt.x >= rcClient.left + cap.left && pt.x < rcClient.right - cap.right && pt.y >= cap.top &&
        pt.y < cap.bottom) {
        CControlUI* c = m_PaintManager.FindControlAt(pt);
        if (!c) return HTCLIENT;
        LPCWSTR cls = c->GetClass();
        if (_wcsicmp(cls, L"Button") == 0 || _wcsicmp(cls, L"Option") == 0 || _wcsicmp(cls, L"Text") == 0)
            return HTCLIENT;
        return HTCAPTION;
    }
    return HTCLIENT;
}

LRESULT WindowImplBase::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, bool& bHandled)
{
    MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    info->ptMaxPosition.x = mi.rcWork.left - mi.rcMonitor.left;
    info->ptMaxPosition.y = mi.rcWork.top - mi.rcMonitor.top;
    info->ptMaxSize.x = mi.rcWork.right - mi.rcWork.left;
    info->ptMaxSize.y = mi.rcWork.bottom - mi.rcWork.top;
    info->ptMinTrackSize.x = m_PaintManager.GetMinInfo().cx;
    info->ptMinTrackSize.y = m_PaintManager.GetMinInfo().cy;
    bHandled = false;
    return 0;
}

LRESULT WindowImplBase::OnSize(UINT, WPARAM, LPARAM, bool& bHandled)
{
    const SIZE round = m_PaintManager.GetRoundCorner();
    if (!::IsIconic(m_hWnd) && (round.cx != 0 || round.cy != 0)) {
        RECT rc;
        ::GetWindowRect(m_hWnd, &rc);
        ::OffsetRect(&rc, -rc.left, -rc.top);
        HRGN rgn = ::CreateRoundRectRgn(rc.left, rc.top, rc.right + 1, rc.bottom + 1, round.cx, round.cy);
        ::SetWindowRgn(m_hWnd, rgn, TRUE);   // the system owns the region now
    }
    bHandled = false;
    return 0;
}

LRESULT WindowImplBase::OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, bool&)
{
    if (wParam == SC_CLOSE) {
        ::SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
        return 0;
    }
    const bool wasZoomed = ::IsZoomed(m_hWnd) != FALSE;
    LRESULT r = CWindowWnd::HandleMessage(uMsg, wParam, lParam);
    if ((::IsZoomed(m_hWnd) != FALSE) != wasZoomed) {
        CControlUI* maxBtn = m_PaintManager.FindControlByName(L"maxbtn");
        CControlUI* restoreBtn = m_PaintManager.FindControlByName(L"restorebtn");
        if (maxBtn && restoreBtn) {
            maxBtn->SetVisible(wasZoomed);
            restoreBtn->SetVisible(!wasZoomed);
        }
    }
    return r;
}

LRESULT WindowImplBase::OnCreate(UINT, WPARAM, LPARAM, bool&)
{
    LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    style &= ~WS_CAPTION;
    ::SetWindowLongW(m_hWnd, GWL_STYLE, style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    RECT rcClient;
    ::GetClientRect(m_hWnd, &rcClient);
    ::SetWindowPos(m_hWnd, nullptr, rcClient.left, rcClient.top, rcClient.right - rcClient.left,
                   rcClient.bottom - rcClient.top, SWP_FRAMECHANGED);

    m_PaintManager.Init(m_hWnd);
    m_PaintManager.AddPreMessageFilter(this);

    CUIString folder = CWindowManagerUI::GetResourcePath();
    if (folder.IsEmpty()) {
        folder = CWindowManagerUI::GetInstancePath();
        folder += GetSkinFolder();
    }
    CWindowManagerUI::SetResourcePath(folder);

    switch (GetResourceType()) {
    case UILIB_ZIP:
        CWindowManagerUI::SetResourceZip(GetZipFileName(), true);
        break;
    case UILIB_ZIPRESOURCE: {
        HINSTANCE inst = CWindowManagerUI::GetResourceInstance();
        HRSRC res = ::FindResourceW(inst, GetResourceId(), L"ZIPRES");
        HGLOBAL global = res ? ::LoadResource(inst, res) : nullptr;
        const DWORD size = res ? ::SizeofResource(inst, res) : 0;
        if (!global || size == 0) {
            // Without its skin the window could show nothing: end as for a
            // layout that builds no root.
            FailSkin();
            return 0;
        }
        static BYTE* s_buffer = nullptr;
        if (!s_buffer) {
            s_buffer = new BYTE[size];
            ::CopyMemory(s_buffer, ::LockResource(global), size);
        }
        CWindowManagerUI::SetResourceZipBuffer(s_buffer, size);
        break;
    }
    default:
        break;
    }

    CDialogBuilder builder;
    CControlUI* root = nullptr;
    if (GetResourceType() == UILIB_RESOURCE) {
        root = builder.Create(CUIStringOrId(static_cast<UINT>(wcstol(GetSkinFile(), nullptr, 10))), L"xml", this,
                              &m_PaintManager);
    } else {
        const CUIString file = GetSkinFile();
        root = builder.Create(CUIStringOrId(file.GetData()), nullptr, this, &m_PaintManager);
    }
    if (!root) {
        FailSkin();
        return 0;
    }
    m_PaintManager.AttachRootControl(root);
    m_PaintManager.AddNotifyListener(this);
    InitWindow();
    return 0;
}

LRESULT WindowImplBase::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    LRESULT lRes = 0;
    bool bHandled = true;
    switch (uMsg) {
    case WM_CREATE: lRes = OnCreate(uMsg, wParam, lParam, bHandled); break;
    case WM_DESTROY: lRes = OnDestroy(uMsg, wParam, lParam, bHandled); break;
    case WM_SIZE: lRes = OnSize(uMsg, wParam, lParam, bHandled); break;
    case WM_SETFOCUS: lRes = OnSetFocus(uMsg, wParam, lParam, bHandled); break;
    case WM_KILLFOCUS: lRes = OnKillFocus(uMsg, wParam, lParam, bHandled); break;
    case WM_CLOSE: lRes = OnClose(uMsg, wParam, lParam, bHandled); break;
    case WM_GETMINMAXINFO: lRes = OnGetMinMaxInfo(uMsg, wParam, lParam, bHandled); break;
    case WM_NCCALCSIZE: lRes = OnNcCalcSize(uMsg, wParam, lParam, bHandled); break;
    case WM_NCHITTEST: lRes = OnNcHitTest(uMsg, wParam, lParam, bHandled); break;
    case WM_NCPAINT: lRes = OnNcPaint(uMsg, wParam, lParam, bHandled); break;
    case WM_NCACTIVATE: lRes = OnNcActivate(uMsg, wParam, lParam, bHandled); break;
    case WM_KEYDOWN: lRes = OnKeyDown(uMsg, wParam, lParam, bHandled); break;
    case WM_CHAR: lRes = OnChar(uMsg, wParam, lParam, bHandled); break;
    case WM_SYSCOMMAND: lRes = OnSysCommand(uMsg, wParam, lParam, bHandled); break;
    case WM_MOUSEMOVE: lRes = OnMouseMove(uMsg, wParam, lParam, bHandled); break;
    case WM_LBUTTONDOWN: lRes = OnLButtonDown(uMsg, wParam, lParam, bHandled); break;
    case WM_LBUTTONUP: lRes = OnLButtonUp(uMsg, wParam, lParam, bHandled); break;
    case WM_MOUSEWHEEL: lRes = OnMouseWheel(uMsg, wParam, lParam, bHandled); break;
    case WM_MOUSEHOVER: lRes = OnMouseHover(uMsg, wParam, lParam, bHandled); break;
    default: bHandled = false; break;
    }
    if (bHandled) return lRes;
    bHandled = false;
    lRes = HandleOtherMessage(uMsg, wParam, lParam, bHandled);
    if (bHandled) return lRes;
    if (m_PaintManager.MessageHandler(uMsg, wParam, lParam, lRes)) return lRes;
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

}  // namespace SkinUI
