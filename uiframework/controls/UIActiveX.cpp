// The ActiveX host: creation and release of the hosted object, its placement and
// painting, the message filter of windowless objects, and the container side:
// the site, the child window, the in-place frame and the object enumerator.
#include "UIActiveX.h"

#include <cwchar>

#include "UIBase.h"
#include "UIManager.h"
#include "UniqueRes.h"

namespace SkinUI {

namespace {

// COM objects of the container side live on the heap and end with their last
// reference; the count starts at 1 as the creator's reference.
class CRefCount {
public:
    ULONG Add() { return static_cast<ULONG>(::InterlockedIncrement(&m_count)); }
    ULONG Drop() { return static_cast<ULONG>(::InterlockedDecrement(&m_count)); }

private:
    LONG m_count = 1;
};

bool IsWindowMessageForKeys(UINT msg) { return msg >= WM_KEYFIRST && msg <= WM_KEYLAST; }
bool IsMouseMessage(UINT msg) { return msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST; }

RECT AtOrigin(const RECT& rc) { return RECT{0, 0, rc.right - rc.left, rc.bottom - rc.top}; }

}  // namespace

// ---------------------------------------------------------------- declarations

class CActiveXWnd;

class CActiveXCtrl final : public IOleClientSite,
                     public IOleInPlaceSiteWindowless,
                     public IOleControlSite,
                     public IObjectWithSite,
                     public IOleContainer {
    friend class CActiveXUI;
    friend class CActiveXWnd;

public:
    CActiveXCtrl();
    CActiveXCtrl(const CActiveXCtrl&) = delete;
    CActiveXCtrl& operator=(const CActiveXCtrl&) = delete;

    // IUnknown
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;

    // IObjectWithSite
    STDMETHOD(SetSite)(IUnknown* pUnkSite) override;
    STDMETHOD(GetSite)(REFIID riid, void** ppvSite) override;

    // IOleClientSite
    STDMETHOD(SaveObject)() override;
    STDMETHOD(GetMoniker)(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) override;
    STDMETHOD(GetContainer)(IOleContainer** ppContainer) override;
    STDMETHOD(ShowObject)() override;
    STDMETHOD(OnShowWindow)(BOOL fShow) override;
    STDMETHOD(RequestNewObjectLayout)() override;

    // IOleInPlaceSiteWindowless
    STDMETHOD(CanWindowlessActivate)() override;
    STDMETHOD(GetCapture)() override;
    STDMETHOD(SetCapture)(BOOL fCapture) override;
    STDMETHOD(GetFocus)() override;
    STDMETHOD(SetFocus)(BOOL fFocus) override;
    STDMETHOD(GetDC)(LPCRECT pRect, DWORD grfFlags, HDC* phDC) override;
    STDMETHOD(ReleaseDC)(HDC hDC) override;
    STDMETHOD(InvalidateRect)(LPCRECT pRect, BOOL fErase) override;
    STDMETHOD(InvalidateRgn)(HRGN hRGN, BOOL fErase) override;
    STDMETHOD(ScrollRect)(INT dx, INT dy, LPCRECT pRectScroll, LPCRECT pRectClip) override;
    STDMETHOD(AdjustRect)(LPRECT prc) override;
    STDMETHOD(OnDefWindowMessage)(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* plResult) override;

    // IOleInPlaceSiteEx
    STDMETHOD(OnInPlaceActivateEx)(BOOL* pfNoRedraw, DWORD dwFlags) override;
    STDMETHOD(OnInPlaceDeactivateEx)(BOOL fNoRedraw) override;
    STDMETHOD(RequestUIActivate)() override;

    // IOleInPlaceSite
    STDMETHOD(CanInPlaceActivate)() override;
    STDMETHOD(OnInPlaceActivate)() override;
    STDMETHOD(OnUIActivate)() override;
    STDMETHOD(GetWindowContext)(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                                LPRECT lprcClipRect, LPOLEINPLACEFRAMEINFO lpFrameInfo) override;
    STDMETHOD(Scroll)(SIZE scrollExtant) override;
    STDMETHOD(OnUIDeactivate)(BOOL fUndoable) override;
    STDMETHOD(OnInPlaceDeactivate)() override;
    STDMETHOD(DiscardUndoState)() override;
    STDMETHOD(DeactivateAndUndo)() override;
    STDMETHOD(OnPosRectChange)(LPCRECT lprcPosRect) override;

    // IOleWindow
    STDMETHOD(GetWindow)(HWND* phwnd) override;
    STDMETHOD(ContextSensitiveHelp)(BOOL fEnterMode) override;

    // IOleControlSite
    STDMETHOD(OnControlInfoChanged)() override;
    STDMETHOD(LockInPlaceActive)(BOOL fLock) override;
    STDMETHOD(GetExtendedControl)(IDispatch** ppDisp) override;
    STDMETHOD(TransformCoords)(POINTL* pPtlHimetric, POINTF* pPtfContainer, DWORD dwFlags) override;
    STDMETHOD(TranslateAccelerator)(MSG* pMsg, DWORD grfModifiers) override;
    STDMETHOD(OnFocus)(BOOL fGotFocus) override;
    STDMETHOD(ShowPropertyFrame)() override;

    // IOleContainer
    STDMETHOD(EnumObjects)(DWORD grfFlags, IEnumUnknown** ppenum) override;
    STDMETHOD(LockContainer)(BOOL fLock) override;

    // IParseDisplayName
    STDMETHOD(ParseDisplayName)(IBindCtx* pbc, LPOLESTR pszDisplayName, ULONG* pchEaten, IMoniker** ppmkOut) override;

private:
    ~CActiveXCtrl();
    HRESULT CreateActiveXWnd();
    void DestroyChildWindow();

    CRefCount m_ref;
    CActiveXUI* m_pOwner;
    CActiveXWnd* m_pWindow;
    IUnknown* m_pUnkSite;
    IViewObject* m_pViewObject;
    IOleInPlaceObject* m_pInPlaceObject;   // IOleInPlaceObjectWindowless when windowless
    bool m_bLocked;
    bool m_bFocused;
    bool m_bCaptured;
    bool m_bUIActivated;
    bool m_bInPlaceActive;
    bool m_bWindowless;
    // The one accelerator table the frame information hands out; it lives as long
    // as the site, so no activation leaks one and no handed-out one goes stale.
    UniqueAccel m_accel;
};

class CActiveXWnd : public CWindowWnd {
public:
    HWND Init(CActiveXCtrl* pOwner, HWND hWndParent);
    void Detach() { m_pOwner = nullptr; }
    LPCWSTR GetWindowClassName() const override { return L"UIActiveX"; }
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hWnd) override;

private:
    void DoVerb(LONG verb);
    void OnPrint(HDC hdc);

    CActiveXCtrl* m_pOwner = nullptr;
    int m_iTimerTicks = 0;
    bool m_bDrawCaret = false;
};

class CActiveXFrameWnd final : public IOleInPlaceFrame {
public:
    explicit CActiveXFrameWnd(CActiveXUI* pOwner) : m_pOwner(pOwner), m_pActiveObject(nullptr) {}
    CActiveXFrameWnd(const CActiveXFrameWnd&) = delete;
    CActiveXFrameWnd& operator=(const CActiveXFrameWnd&) = delete;

    STDMETHOD_(ULONG, AddRef)() override { return m_ref.Add(); }
    STDMETHOD_(ULONG, Release)() override
    {
        const ULONG n = m_ref.Drop();
        if (n == 0) {
            ReleaseInterface(m_pActiveObject);
            delete this;
        }
        return n;
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override
    {
        if (!ppvObject) return E_POINTER;
        *ppvObject = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleWindow || riid == IID_IOleInPlaceFrame ||
            riid == IID_IOleInPlaceUIWindow) {
            *ppvObject = static_cast<IOleInPlaceFrame*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHOD(GetWindow)(HWND* phwnd) override
    {
        if (!m_pOwner) return E_UNEXPECTED;
        if (!phwnd) return E_POINTER;
        *phwnd = m_pOwner->GetManager() ? m_pOwner->GetManager()->GetPaintWindow() : nullptr;
        return S_OK;
    }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override { return S_OK; }
    STDMETHOD(GetBorder)(LPRECT) override { return S_OK; }
    STDMETHOD(RequestBorderSpace)(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHOD(SetBorderSpace)(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHOD(SetActiveObject)(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR) override
    {
        if (pActiveObject) pActiveObject->AddRef();
        ReleaseInterface(m_pActiveObject);
        m_pActiveObject = pActiveObject;
        return S_OK;
    }
    STDMETHOD(InsertMenus)(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    STDMETHOD(SetMenu)(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHOD(RemoveMenus)(HMENU) override { return S_OK; }
    STDMETHOD(SetStatusText)(LPCOLESTR) override { return S_OK; }
    STDMETHOD(EnableModeless)(BOOL) override { return S_OK; }
    STDMETHOD(TranslateAccelerator)(LPMSG, WORD) override { return S_FALSE; }

private:
    ~CActiveXFrameWnd() = default;
    CRefCount m_ref;
    CActiveXUI* m_pOwner;
    IOleInPlaceActiveObject* m_pActiveObject;
};

class CActiveXEnum final : public IEnumUnknown {
public:
    explicit CActiveXEnum(IUnknown* pUnk) : m_pUnk(pUnk), m_iPos(0) { m_pUnk->AddRef(); }
    CActiveXEnum(const CActiveXEnum&) = delete;
    CActiveXEnum& operator=(const CActiveXEnum&) = delete;

    STDMETHOD_(ULONG, AddRef)() override { return m_ref.Add(); }
    STDMETHOD_(ULONG, Release)() override
    {
        const ULONG n = m_ref.Drop();
        if (n == 0) {
            m_pUnk->Release();
            delete this;
        }
        return n;
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override
    {
        if (!ppvObject) return E_POINTER;
        *ppvObject = nullptr;
        if (riid == IID_IUnknown || riid == IID_IEnumUnknown) {
            *ppvObject = static_cast<IEnumUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHOD(Next)(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) override
    {
        if (pceltFetched) *pceltFetched = 0;
        if (!rgelt || celt == 0) return E_POINTER;
        if (++m_iPos > 1) return S_FALSE;
        *rgelt = m_pUnk;
        m_pUnk->AddRef();
        if (pceltFetched) *pceltFetched = 1;
        return S_OK;
    }
    STDMETHOD(Skip)(ULONG celt) override
    {
        m_iPos += static_cast<LONG>(celt);
        return S_OK;
    }
    STDMETHOD(Reset)() override
    {
        m_iPos = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(IEnumUnknown**) override { return E_NOTIMPL; }

private:
    ~CActiveXEnum() = default;
    CRefCount m_ref;
    IUnknown* m_pUnk;
    LONG m_iPos;
};

// ---------------------------------------------------------------- CActiveXCtrl

CActiveXCtrl::CActiveXCtrl()
    : m_pOwner(nullptr), m_pWindow(nullptr), m_pUnkSite(nullptr), m_pViewObject(nullptr), m_pInPlaceObject(nullptr),
      m_bLocked(false), m_bFocused(false), m_bCaptured(false), m_bUIActivated(false), m_bInPlaceActive(false),
      m_bWindowless(true)
{
}

CActiveXCtrl::~CActiveXCtrl()
{
    DestroyChildWindow();
    ReleaseInterface(m_pUnkSite);
    ReleaseInterface(m_pViewObject);
    ReleaseInterface(m_pInPlaceObject);
}

void CActiveXCtrl::DestroyChildWindow()
{
    if (!m_pWindow) return;
    CActiveXWnd* window = m_pWindow;
    m_pWindow = nullptr;
    const HWND hwnd = window->GetHWND();
    if (m_pOwner && m_pOwner->m_hwndHost == hwnd) m_pOwner->m_hwndHost = nullptr;
    if (::IsWindow(hwnd)) {
        ::DestroyWindow(hwnd);   // its final message frees the window object
    } else {
        window->Detach();
    }
}

STDMETHODIMP_(ULONG) CActiveXCtrl::AddRef() { return m_ref.Add(); }

STDMETHODIMP_(ULONG) CActiveXCtrl::Release()
{
    const ULONG n = m_ref.Drop();
    if (n == 0) delete this;
    return n;
}

STDMETHODIMP CActiveXCtrl::QueryInterface(REFIID riid, void** ppvObject)
{
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleInPlaceSiteWindowless || riid == IID_IOleInPlaceSiteEx ||
        riid == IID_IOleInPlaceSite || riid == IID_IOleWindow) {
        *ppvObject = static_cast<IOleInPlaceSiteWindowless*>(this);
    } else if (riid == IID_IOleClientSite) {
        *ppvObject = static_cast<IOleClientSite*>(this);
    } else if (riid == IID_IOleControlSite) {
        *ppvObject = static_cast<IOleControlSite*>(this);
    } else if (riid == IID_IOleContainer) {
        *ppvObject = static_cast<IOleContainer*>(this);
    } else if (riid == IID_IObjectWithSite) {
        *ppvObject = static_cast<IObjectWithSite*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::SetSite(IUnknown* pUnkSite)
{
    if (!m_pOwner) return E_UNEXPECTED;
    if (pUnkSite) pUnkSite->AddRef();
    ReleaseInterface(m_pUnkSite);
    m_pUnkSite = pUnkSite;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::GetSite(REFIID riid, void** ppvSite)
{
    if (!ppvSite) return E_POINTER;
    *ppvSite = nullptr;
    if (!m_pOwner) return E_UNEXPECTED;
    if (!m_pUnkSite) return E_FAIL;
    return m_pUnkSite->QueryInterface(riid, ppvSite);
}

STDMETHODIMP CActiveXCtrl::SaveObject() { return m_pOwner ? E_NOTIMPL : E_UNEXPECTED; }

STDMETHODIMP CActiveXCtrl::GetMoniker(DWORD, DWORD, IMoniker** ppmk)
{
    if (ppmk) *ppmk = nullptr;
    return m_pOwner ? E_NOTIMPL : E_UNEXPECTED;
}

STDMETHODIMP CActiveXCtrl::GetContainer(IOleContainer** ppContainer)
{
    if (!ppContainer) return E_POINTER;
    *ppContainer = nullptr;
    if (!m_pOwner) return E_UNEXPECTED;
    HRESULT hr = E_NOTIMPL;
    if (m_pUnkSite) hr = m_pUnkSite->QueryInterface(IID_IOleContainer, reinterpret_cast<void**>(ppContainer));
    if (FAILED(hr)) hr = QueryInterface(IID_IOleContainer, reinterpret_cast<void**>(ppContainer));
    return hr;
}

STDMETHODIMP CActiveXCtrl::ShowObject()
{
    if (!m_pOwner) return E_UNEXPECTED;
    WindowDc dc(m_pOwner->m_hwndHost);
    if (!m_pOwner->m_hwndHost || !dc) return E_FAIL;
    if (m_pViewObject) {
        RECTL bounds = {m_pOwner->m_rcItem.left, m_pOwner->m_rcItem.top, m_pOwner->m_rcItem.right,
                        m_pOwner->m_rcItem.bottom};
        m_pViewObject->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc.Get(), &bounds, &bounds, nullptr, 0);
    }
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::OnShowWindow(BOOL) { return m_pOwner ? E_NOTIMPL : E_UNEXPECTED; }
STDMETHODIMP CActiveXCtrl::RequestNewObjectLayout() { return m_pOwner ? E_NOTIMPL : E_UNEXPECTED; }
STDMETHODIMP CActiveXCtrl::CanWindowlessActivate() { return m_pOwner ? S_OK : E_UNEXPECTED; }

STDMETHODIMP CActiveXCtrl::GetCapture()
{
    if (!m_pOwner) return E_UNEXPECTED;
    return m_bCaptured ? S_OK : S_FALSE;
}

STDMETHODIMP CActiveXCtrl::SetCapture(BOOL fCapture)
{
    if (!m_pOwner) return E_UNEXPECTED;
    m_bCaptured = (fCapture == TRUE);
    if (m_bCaptured) {
        ::SetCapture(m_pOwner->m_hwndHost);
    } else {
        ::ReleaseCapture();
    }
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::GetFocus()
{
    if (!m_pOwner) return E_UNEXPECTED;
    return m_bFocused ? S_OK : S_FALSE;
}

STDMETHODIMP CActiveXCtrl::SetFocus(BOOL fFocus)
{
    if (!m_pOwner) return E_UNEXPECTED;
    if (fFocus) m_pOwner->SetFocus();
    m_bFocused = (fFocus == TRUE);
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::GetDC(LPCRECT, DWORD grfFlags, HDC* phDC)
{
    if (!phDC) return E_POINTER;
    *phDC = nullptr;
    if (!m_pOwner) return E_UNEXPECTED;
    if (m_bWindowless) return S_FALSE;
    *phDC = ::GetDC(m_pOwner->m_hwndHost);
    if ((grfFlags & OLEDC_PAINTBKGND) != 0 && *phDC) {
        RECT rc = m_pOwner->m_rcItem;
        if (!m_bWindowless) rc = AtOrigin(rc);
        ::FillRect(*phDC, &rc, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    }
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::ReleaseDC(HDC hDC)
{
    if (!m_pOwner) return E_UNEXPECTED;
    ::ReleaseDC(m_pOwner->m_hwndHost, hDC);
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::InvalidateRect(LPCRECT pRect, BOOL fErase)
{
    if (!m_pOwner) return E_UNEXPECTED;
    if (!m_pOwner->m_hwndHost) return E_FAIL;
    return ::InvalidateRect(m_pOwner->m_hwndHost, pRect, fErase) ? S_OK : E_FAIL;
}

STDMETHODIMP CActiveXCtrl::InvalidateRgn(HRGN hRGN, BOOL fErase)
{
    if (!m_pOwner) return E_UNEXPECTED;
    if (!m_pOwner->m_hwndHost) return E_FAIL;
    return ::InvalidateRgn(m_pOwner->m_hwndHost, hRGN, fErase) ? S_OK : E_FAIL;
}

STDMETHODIMP CActiveXCtrl::ScrollRect(INT, INT, LPCRECT, LPCRECT) { return m_pOwner ? S_OK : E_UNEXPECTED; }
STDMETHODIMP CActiveXCtrl::AdjustRect(LPRECT) { return m_pOwner ? S_OK : E_UNEXPECTED; }

STDMETHODIMP CActiveXCtrl::OnDefWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* plResult)
{
    if (!m_pOwner) return E_UNEXPECTED;
    const LRESULT r = ::DefWindowProcW(m_pOwner->m_hwndHost, msg, wParam, lParam);
    if (plResult) *plResult = r;
    return S_OK;
}

HRESULT CActiveXCtrl::CreateActiveXWnd()
{
    if (m_pWindow) return S_OK;
    m_pWindow = new CActiveXWnd;
    const HWND hwnd = m_pWindow->Init(this, m_pOwner->ManagerWindow());
    if (!hwnd) {
        delete m_pWindow;
        m_pWindow = nullptr;
        return E_FAIL;
    }
    m_pOwner->m_hwndHost = hwnd;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::OnInPlaceActivateEx(BOOL*, DWORD dwFlags)
{
    if (!m_pOwner) return E_UNEXPECTED;
    if (!m_pOwner->m_pUnk) return E_UNEXPECTED;
    ::OleLockRunning(m_pOwner->m_pUnk, TRUE, FALSE);
    ReleaseInterface(m_pInPlaceObject);
    HRESULT hr = E_FAIL;
    if ((dwFlags & ACTIVATE_WINDOWLESS) != 0) {
        m_bWindowless = true;
        hr = m_pOwner->m_pUnk->QueryInterface(IID_IOleInPlaceObjectWindowless,
                                              reinterpret_cast<void**>(&m_pInPlaceObject));
        if (SUCCEEDED(hr)) {
            m_pOwner->m_hwndHost = m_pOwner->ManagerWindow();
            if (m_pOwner->m_pManager) m_pOwner->m_pManager->AddMessageFilter(m_pOwner);
        } else {
            m_pInPlaceObject = nullptr;
        }
    }
    if (FAILED(hr)) {
        m_bWindowless = false;
        hr = CreateActiveXWnd();
        if (FAILED(hr)) return hr;
        hr = m_pOwner->m_pUnk->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&m_pInPlaceObject));
        if (FAILED(hr)) m_pInPlaceObject = nullptr;
    }
    if (m_pInPlaceObject) {
        RECT rc = m_pOwner->m_rcItem;
        if (!m_bWindowless) rc = AtOrigin(rc);
        m_pInPlaceObject->SetObjectRects(&rc, &rc);
    }
    m_bInPlaceActive = SUCCEEDED(hr);
    return hr;
}

STDMETHODIMP CActiveXCtrl::OnInPlaceDeactivateEx(BOOL)
{
    m_bInPlaceActive = false;
    ReleaseInterface(m_pInPlaceObject);
    DestroyChildWindow();
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::RequestUIActivate() { return m_pOwner ? S_OK : E_UNEXPECTED; }
STDMETHODIMP CActiveXCtrl::CanInPlaceActivate() { return m_pOwner ? S_OK : E_UNEXPECTED; }

STDMETHODIMP CActiveXCtrl::OnInPlaceActivate()
{
    BOOL noRedraw = FALSE;
    return OnInPlaceActivateEx(&noRedraw, 0);
}

STDMETHODIMP CActiveXCtrl::OnUIActivate()
{
    if (!m_pOwner) return E_UNEXPECTED;
    m_bUIActivated = true;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc,
                                            LPRECT lprcPosRect, LPRECT lprcClipRect,
                                            LPOLEINPLACEFRAMEINFO lpFrameInfo)
{
    if (!ppDoc || !ppFrame || !lprcPosRect || !lprcClipRect || !lpFrameInfo) return E_POINTER;
    *ppFrame = nullptr;
    *ppDoc = nullptr;
    if (!m_pOwner) return E_UNEXPECTED;
    // A windowless object sits at the control's place in the manager's window.
    RECT rc = m_pOwner->m_rcItem;
    if (m_pWindow) ::GetClientRect(m_pWindow->GetHWND(), &rc);
    *lprcPosRect = rc;
    *lprcClipRect = rc;
    *ppFrame = new CActiveXFrameWnd(m_pOwner);
    if (!m_accel) {
        ACCEL none = {0, 0, 0};
        m_accel.Reset(::CreateAcceleratorTableW(&none, 1));
    }
    lpFrameInfo->cb = sizeof(OLEINPLACEFRAMEINFO);
    lpFrameInfo->fMDIApp = FALSE;
    lpFrameInfo->hwndFrame = m_pOwner->ManagerWindow();
    lpFrameInfo->haccel = m_accel.Get();
    lpFrameInfo->cAccelEntries = 1;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::Scroll(SIZE) { return m_pOwner ? E_NOTIMPL : E_UNEXPECTED; }

STDMETHODIMP CActiveXCtrl::OnUIDeactivate(BOOL)
{
    m_bUIActivated = false;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::OnInPlaceDeactivate() { return OnInPlaceDeactivateEx(TRUE); }
STDMETHODIMP CActiveXCtrl::DiscardUndoState() { return m_pOwner ? E_NOTIMPL : E_UNEXPECTED; }
STDMETHODIMP CActiveXCtrl::DeactivateAndUndo() { return m_pOwner ? E_NOTIMPL : E_UNEXPECTED; }
STDMETHODIMP CActiveXCtrl::OnPosRectChange(LPCRECT) { return m_pOwner ? E_NOTIMPL : E_UNEXPECTED; }

STDMETHODIMP CActiveXCtrl::GetWindow(HWND* phwnd)
{
    if (!phwnd) return E_POINTER;
    *phwnd = nullptr;
    if (!m_pOwner) return E_UNEXPECTED;
    if (!m_pOwner->m_hwndHost) CreateActiveXWnd();
    if (!m_pOwner->m_hwndHost) return E_FAIL;
    *phwnd = m_pOwner->m_hwndHost;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::ContextSensitiveHelp(BOOL) { return m_pOwner ? S_OK : E_UNEXPECTED; }
STDMETHODIMP CActiveXCtrl::OnControlInfoChanged() { return m_pOwner ? S_OK : E_UNEXPECTED; }
STDMETHODIMP CActiveXCtrl::LockInPlaceActive(BOOL) { return m_pOwner ? S_OK : E_UNEXPECTED; }

STDMETHODIMP CActiveXCtrl::GetExtendedControl(IDispatch** ppDisp)
{
    if (!ppDisp) return E_POINTER;
    *ppDisp = nullptr;
    if (!m_pOwner || !m_pOwner->m_pUnk) return E_UNEXPECTED;
    return m_pOwner->m_pUnk->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(ppDisp));
}

STDMETHODIMP CActiveXCtrl::TransformCoords(POINTL*, POINTF*, DWORD) { return m_pOwner ? S_OK : E_UNEXPECTED; }
STDMETHODIMP CActiveXCtrl::TranslateAccelerator(MSG*, DWORD) { return m_pOwner ? S_FALSE : E_UNEXPECTED; }

STDMETHODIMP CActiveXCtrl::OnFocus(BOOL fGotFocus)
{
    if (!m_pOwner) return E_UNEXPECTED;
    m_bFocused = (fGotFocus == TRUE);
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::ShowPropertyFrame() { return m_pOwner ? E_NOTIMPL : E_UNEXPECTED; }

STDMETHODIMP CActiveXCtrl::EnumObjects(DWORD, IEnumUnknown** ppenum)
{
    if (!ppenum) return E_POINTER;
    *ppenum = nullptr;
    if (!m_pOwner || !m_pOwner->m_pUnk) return E_UNEXPECTED;
    *ppenum = new CActiveXEnum(m_pOwner->m_pUnk);
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::LockContainer(BOOL fLock)
{
    if (!m_pOwner) return E_UNEXPECTED;
    m_bLocked = fLock != FALSE;
    return S_OK;
}

STDMETHODIMP CActiveXCtrl::ParseDisplayName(IBindCtx*, LPOLESTR, ULONG*, IMoniker** ppmkOut)
{
    if (ppmkOut) *ppmkOut = nullptr;
    return m_pOwner ? E_NOTIMPL : E_UNEXPECTED;
}

// ---------------------------------------------------------------- CActiveXWnd

namespace {
const UINT_PTR kLayeredTimer = 20;
}

HWND CActiveXWnd::Init(CActiveXCtrl* pOwner, HWND hWndParent)
{
    m_pOwner = pOwner;
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    return CreateInRect(hWndParent, L"UIActiveX", style, 0, pOwner->m_pOwner->GetPos());
}

void CActiveXWnd::OnFinalMessage(HWND hWnd)
{
    if (m_pOwner) {
        CActiveXUI* control = m_pOwner->m_pOwner;
        if (control && control->GetManager()) control->GetManager()->RemoveNativeWindow(hWnd);
        if (control && control->m_hwndHost == hWnd) control->m_hwndHost = nullptr;
        if (m_pOwner->m_pWindow == this) m_pOwner->m_pWindow = nullptr;
    }
    delete this;
}

void CActiveXWnd::DoVerb(LONG verb)
{
    CActiveXUI* control = m_pOwner ? m_pOwner->m_pOwner : nullptr;
    if (!control || !control->m_pUnk) return;
    IOleClientSite* site = nullptr;
    m_pOwner->QueryInterface(IID_IOleClientSite, reinterpret_cast<void**>(&site));
    RECT rc = control->GetPos();
    control->m_pUnk->DoVerb(verb, nullptr, site, 0, control->ManagerWindow(), &rc);
    if (site) site->Release();
}

void CActiveXWnd::OnPrint(HDC hdc)
{
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    if (m_pOwner->m_pViewObject) {
        RECTL bounds = {rc.left, rc.top, rc.right, rc.bottom};
        m_pOwner->m_pViewObject->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, hdc, &bounds, nullptr,
                                      nullptr, 0);
    }
    if (!m_bDrawCaret) return;
    // A layered window shows no system caret: draw a line where it stands.
    POINT caret;
    if (!::GetCaretPos(&caret)) return;
    if (!::PtInRect(&rc, caret)) return;
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(0, &info) || info.hwndCaret == nullptr) return;
    const RECT& rcCaret = info.rcCaret;
    HPEN pen = static_cast<HPEN>(::GetStockObject(BLACK_PEN));
    ScopedSelect select(hdc, pen);
    ::MoveToEx(hdc, caret.x, caret.y, nullptr);
    ::LineTo(hdc, caret.x, caret.y + (rcCaret.bottom - rcCaret.top));
}

LRESULT CActiveXWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CActiveXUI* control = m_pOwner ? m_pOwner->m_pOwner : nullptr;
    CWindowManagerUI* manager = control ? control->GetManager() : nullptr;
    if (!m_pOwner) return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
    switch (uMsg) {
    case WM_CREATE:
        if (manager) {
            manager->AddNativeWindow(control, m_hWnd);
            if (manager->IsLayered()) ::SetTimer(m_hWnd, kLayeredTimer, 50, nullptr);
        }
        return 0;
    case WM_TIMER:
        if (wParam != kLayeredTimer) break;
        if (manager && manager->IsLayered()) {
            // Registering again repaints the window into the layered picture.
            manager->RemoveNativeWindow(m_hWnd);
            manager->AddNativeWindow(control, m_hWnd);
            if (++m_iTimerTicks % 10 == 0) m_bDrawCaret = !m_bDrawCaret;
        }
        return 0;
    case WM_PRINT:
        OnPrint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_SETFOCUS:
        m_pOwner->m_bFocused = true;
        if (!m_pOwner->m_bUIActivated) DoVerb(OLEIVERB_UIACTIVATE);
        return 0;
    case WM_KILLFOCUS:
        m_pOwner->m_bFocused = false;
        break;
    case WM_MOUSEACTIVATE: {
        DWORD misc = 0;
        if (control && control->m_pUnk) control->m_pUnk->GetMiscStatus(DVASPECT_CONTENT, &misc);
        if ((misc & OLEMISC_NOUIACTIVATE) == 0 && !m_pOwner->m_bInPlaceActive) DoVerb(OLEIVERB_INPLACEACTIVATE);
        break;
    }
    case WM_ERASEBKGND:
        if (m_pOwner->m_pViewObject) return 1;
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        ::BeginPaint(m_hWnd, &ps);
        ::EndPaint(m_hWnd, &ps);
        return 0;
    }
    case WM_MOUSEWHEEL:
        return 0;
    default:
        break;
    }
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

// ---------------------------------------------------------------- CActiveXUI

CActiveXUI::CActiveXUI()
    : m_clsid(GUID_NULL), m_bCreated(false), m_bDelayCreate(true), m_pUnk(nullptr), m_pControl(nullptr),
      m_hwndHost(nullptr), m_bComInitialized(SUCCEEDED(::CoInitialize(nullptr)))
{
}

CActiveXUI::~CActiveXUI()
{
    CActiveXUI::ReleaseHostedControl();
    if (m_bComInitialized) ::CoUninitialize();
}

LPCWSTR CActiveXUI::GetClass() const { return L"ActiveX"; }

void* CActiveXUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"ActiveX") == 0) return this;
    return CControlUI::GetInterface(pstrName);
}

HWND CActiveXUI::GetChildWindow() const { return m_hwndHost; }

HWND CActiveXUI::ManagerWindow() const { return m_pManager ? m_pManager->GetPaintWindow() : nullptr; }

bool CActiveXUI::SetControlClass(LPCWSTR pstrCLSID)
{
    CLSID clsid = GUID_NULL;
    if (!pstrCLSID) return false;
    wchar_t text[100] = {0};
    wcsncpy(text, pstrCLSID, 99);
    if (text[0] == L'{') {
        ::CLSIDFromString(text, &clsid);
    } else {
        ::CLSIDFromProgID(text, &clsid);
    }
    return SetControlClass(clsid);
}

bool CActiveXUI::SetControlClass(const CLSID& clsid)
{
    if (clsid == GUID_NULL) return false;
    m_bCreated = false;
    m_clsid = clsid;
    if (!m_bDelayCreate) CreateHostedControl();
    return true;
}

void CActiveXUI::SetDelayedCreation(bool bDelayCreate)
{
    if (m_bDelayCreate == bDelayCreate) return;
    m_bDelayCreate = bDelayCreate;
    if (!bDelayCreate && !m_bCreated && m_clsid != GUID_NULL) CreateHostedControl();
}

HRESULT CActiveXUI::QueryHostedControl(REFIID riid, void** ppRet)
{
    if (!ppRet) return E_POINTER;
    *ppRet = nullptr;
    if (!m_pUnk) return E_PENDING;
    return m_pUnk->QueryInterface(riid, ppRet);
}

bool CActiveXUI::CreateHostedControl()
{
    ReleaseHostedControl();
    m_bCreated = true;
    IOleControl* pOleControl = nullptr;
    HRESULT hr = E_FAIL;
    if (!m_sModuleName.IsEmpty()) {
        HMODULE module = ::LoadLibraryW(m_sModuleName);   // stays loaded: the object's code lives there
        if (module) {
            typedef HRESULT(STDAPICALLTYPE * GetClassObjectFn)(REFCLSID, REFIID, LPVOID*);
            GetClassObjectFn getClassObject =
                reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(::GetProcAddress(module, "DllGetClassObject")));
            IClassFactory* factory = nullptr;
            if (getClassObject) {
                hr = getClassObject(m_clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
            }
            if (SUCCEEDED(hr) && factory) {
                hr = factory->CreateInstance(nullptr, IID_IOleObject, reinterpret_cast<void**>(&pOleControl));
                factory->Release();
            } else {
                hr = E_FAIL;
            }
        }
    }
    if (FAILED(hr) || !pOleControl) {
        pOleControl = nullptr;
        hr = ::CoCreateInstance(m_clsid, nullptr, CLSCTX_ALL, IID_IOleControl, reinterpret_cast<void**>(&pOleControl));
    }
    if (FAILED(hr) || !pOleControl) return false;
    hr = pOleControl->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&m_pUnk));
    pOleControl->Release();
    if (FAILED(hr) || !m_pUnk) {
        m_pUnk = nullptr;
        return false;
    }

    m_pControl = new CActiveXCtrl;
    m_pControl->m_pOwner = this;

    DWORD misc = 0;
    m_pUnk->GetMiscStatus(DVASPECT_CONTENT, &misc);
    IOleClientSite* clientSite = nullptr;
    m_pControl->QueryInterface(IID_IOleClientSite, reinterpret_cast<void**>(&clientSite));
    if ((misc & OLEMISC_SETCLIENTSITEFIRST) != 0) m_pUnk->SetClientSite(clientSite);
    IPersistStreamInit* persist = nullptr;
    hr = m_pUnk->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist));
    if (SUCCEEDED(hr) && persist) {
        hr = persist->InitNew();
        persist->Release();
    } else {
        hr = S_OK;
    }
    if (FAILED(hr)) {
        if (clientSite) clientSite->Release();
        return false;
    }
    if ((misc & OLEMISC_SETCLIENTSITEFIRST) == 0) m_pUnk->SetClientSite(clientSite);

    hr = m_pUnk->QueryInterface(IID_IViewObjectEx, reinterpret_cast<void**>(&m_pControl->m_pViewObject));
    if (FAILED(hr)) hr = m_pUnk->QueryInterface(IID_IViewObject2, reinterpret_cast<void**>(&m_pControl->m_pViewObject));
    if (FAILED(hr)) hr = m_pUnk->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(&m_pControl->m_pViewObject));
    if (FAILED(hr)) m_pControl->m_pViewObject = nullptr;

    m_pUnk->SetHostNames(L"UIActiveX", nullptr);
    if (m_pManager) m_pManager->SendNotify(this, L"showactivex", 0, 0, false);
    hr = S_OK;
    if ((misc & OLEMISC_INVISIBLEATRUNTIME) == 0 && m_pUnk) {
        RECT rc = m_rcItem;
        hr = m_pUnk->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, clientSite, 0, ManagerWindow(), &rc);
    }
    if (clientSite) clientSite->Release();
    if (!m_pUnk) return false;   // released by a listener of "showactivex" or during activation
    IObjectWithSite* withSite = nullptr;
    if (SUCCEEDED(m_pUnk->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite))) && withSite) {
        withSite->SetSite(static_cast<IOleClientSite*>(m_pControl));
        withSite->Release();
    }
    return SUCCEEDED(hr);
}

void CActiveXUI::ReleaseHostedControl()
{
    m_hwndHost = nullptr;
    if (m_pUnk) {
        IObjectWithSite* withSite = nullptr;
        if (SUCCEEDED(m_pUnk->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&withSite))) && withSite) {
            withSite->SetSite(nullptr);
            withSite->Release();
        }
        IOleObject* object = m_pUnk;
        m_pUnk = nullptr;
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
        object->Release();
    }
    if (m_pControl) {
        CActiveXCtrl* site = m_pControl;
        m_pControl = nullptr;
        site->DestroyChildWindow();
        site->m_pOwner = nullptr;
        site->Release();
    }
    if (m_pManager) m_pManager->RemoveMessageFilter(this);
}

void CActiveXUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    CControlUI::SetPos(rc, bNeedInvalidate);
    if (!m_bCreated) CreateHostedControl();
    if (!m_pUnk || !m_pControl) return;
    SIZEL hmSize = {0, 0};
    SIZEL pxSize = {m_rcItem.right - m_rcItem.left, m_rcItem.bottom - m_rcItem.top};
    {
        WindowDc screen(nullptr);
        if (screen) {
            hmSize.cx = ::MulDiv(pxSize.cx, 2540, ::GetDeviceCaps(screen.Get(), LOGPIXELSX));
            hmSize.cy = ::MulDiv(pxSize.cy, 2540, ::GetDeviceCaps(screen.Get(), LOGPIXELSY));
        }
    }
    m_pUnk->SetExtent(DVASPECT_CONTENT, &hmSize);
    if (m_pControl->m_pInPlaceObject) {
        RECT rcItem = m_rcItem;
        if (!m_pControl->m_bWindowless) rcItem = AtOrigin(rcItem);
        m_pControl->m_pInPlaceObject->SetObjectRects(&rcItem, &rcItem);
    }
    if (!m_pControl->m_bWindowless && m_pControl->m_pWindow) {
        ::MoveWindow(m_pControl->m_pWindow->GetHWND(), m_rcItem.left, m_rcItem.top, m_rcItem.right - m_rcItem.left,
                     m_rcItem.bottom - m_rcItem.top, TRUE);
    }
}

void CActiveXUI::Move(SIZE szOffset, bool bNeedInvalidate)
{
    CControlUI::Move(szOffset, bNeedInvalidate);
    if (!m_pControl) return;
    if (!m_pControl->m_bWindowless && m_pControl->m_pWindow) {
        ::MoveWindow(m_pControl->m_pWindow->GetHWND(), m_rcItem.left, m_rcItem.top, m_rcItem.right - m_rcItem.left,
                     m_rcItem.bottom - m_rcItem.top, TRUE);
    }
}

void CActiveXUI::ShowHostWindow()
{
    if (!m_pControl || m_pControl->m_bWindowless || !m_hwndHost) return;
    ::ShowWindow(m_hwndHost, IsVisible() ? SW_SHOW : SW_HIDE);
}

void CActiveXUI::SetVisible(bool bVisible)
{
    CControlUI::SetVisible(bVisible);
    ShowHostWindow();
}

void CActiveXUI::SetInheritedVisible(bool bVisible)
{
    CControlUI::SetInheritedVisible(bVisible);
    ShowHostWindow();
}

bool CActiveXUI::DoPaint(HDC hDC, const RECT&, CControlUI*)
{
    if (m_pControl && m_pControl->m_bWindowless && m_pControl->m_pViewObject) {
        RECTL bounds = {m_rcItem.left, m_rcItem.top, m_rcItem.right, m_rcItem.bottom};
        m_pControl->m_pViewObject->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, hDC, &bounds, nullptr,
                                        nullptr, 0);
    }
    return true;
}

void CActiveXUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (std::wcscmp(pstrName, L"clsid") == 0) {
        SetControlClass(pstrValue);
    } else if (std::wcscmp(pstrName, L"modulename") == 0) {
        SetModuleName(pstrValue);
    } else if (std::wcscmp(pstrName, L"delaycreate") == 0) {
        SetDelayedCreation(IsTrue(pstrValue));
    } else {
        CControlUI::SetAttribute(pstrName, pstrValue);
    }
}

LRESULT CActiveXUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled)
{
    if (!m_pControl || !m_pControl->m_bInPlaceActive || !m_pControl->m_bWindowless || !m_pControl->m_pInPlaceObject)
        return 0;
    bool handled = true;
    if (IsMouseMessage(uMsg)) {
        if (!IsMouseEnabled()) return 0;
    }
    if (IsMouseMessage(uMsg) || uMsg == WM_SETCURSOR) {
        bool hit = m_pControl->m_bCaptured;
        if (!hit) {
            IViewObjectEx* view = nullptr;
            if (m_pControl->m_pViewObject &&
                SUCCEEDED(m_pControl->m_pViewObject->QueryInterface(IID_IViewObjectEx, reinterpret_cast<void**>(&view))) &&
                view) {
                // The point of a wheel message is in screen coordinates.
                POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
                if (uMsg == WM_MOUSEWHEEL) ::ScreenToClient(ManagerWindow(), &pt);
                if (uMsg == WM_SETCURSOR) {
                    ::GetCursorPos(&pt);
                    ::ScreenToClient(ManagerWindow(), &pt);
                }
                DWORD result = HITRESULT_OUTSIDE;
                view->QueryHitPoint(DVASPECT_CONTENT, &m_rcItem, pt, 0, &result);
                view->Release();
                hit = (result == HITRESULT_HIT);
            }
        }
        if (!hit) return 0;
        if (uMsg == WM_SETCURSOR) {
            handled = false;
        } else if (uMsg == WM_LBUTTONDOWN || uMsg == WM_LBUTTONDBLCLK || uMsg == WM_RBUTTONDOWN) {
            const HWND wnd = ManagerWindow();
            if (::GetFocus() != wnd) ::SetFocus(wnd);
            SetFocus();
        }
    } else if (uMsg == WM_HELP || uMsg == WM_CONTEXTMENU) {
        handled = false;
    } else if (IsWindowMessageForKeys(uMsg)) {
        if (!m_pControl->m_bFocused) return 0;
    } else {
        return 0;
    }
    LRESULT lResult = 0;
    IOleInPlaceObjectWindowless* windowless = static_cast<IOleInPlaceObjectWindowless*>(m_pControl->m_pInPlaceObject);
    const HRESULT hr = windowless->OnWindowMessage(uMsg, wParam, lParam, &lResult);
    if (hr == S_OK) bHandled = handled;
    return lResult;
}

}  // namespace SkinUI
