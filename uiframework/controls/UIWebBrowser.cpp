// The web browser control: creation and release around the ActiveX host, the
// navigation event sink, the document host's answers, script errors kept quiet
// and the browser's keyboard accelerators.
#include "UIWebBrowser.h"

#include <exdispid.h>
#include <mshtml.h>

#include <cwchar>
#include <initializer_list>

#include "UIManager.h"

namespace SkinUI {

namespace {

// {8856F961-340A-11D0-A96B-00C04FD705A2}
const CLSID kClsidWebBrowser = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};
// {34A715A0-6587-11D0-924A-0020AFC7AC4D}
const IID kDiidWebBrowserEvents2 = {0x34A715A0, 0x6587, 0x11D0, {0x92, 0x4A, 0x00, 0x20, 0xAF, 0xC7, 0xAC, 0x4D}};
// {F38BC242-B950-11D1-8918-00C04FC2C836}
const GUID kCgidDocHostCommandHandler = {0xF38BC242, 0xB950, 0x11D1, {0x89, 0x18, 0x00, 0xC0, 0x4F, 0xC2, 0xC8, 0x36}};
// {332C4425-26CB-11D0-B483-00C04FD90119}
const IID kIidHtmlDocument2 = {0x332C4425, 0x26CB, 0x11D0, {0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19}};
// {3050F3F0-98B5-11CF-BB82-00AA00BDCE0B}
const IID kIidCustomDoc = {0x3050F3F0, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};
// {BD3F23C0-D43E-11CF-893B-00AA00BDCE1A}
const IID kIidDocHostUIHandler = {0xBD3F23C0, 0xD43E, 0x11CF, {0x89, 0x3B, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x1A}};
// {D30C1661-CDAF-11D0-8A3E-00C04FC9E26E}
const IID kIidWebBrowser2 = {0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

const HRESULT kCmdNotSupported = static_cast<HRESULT>(0x80040100L);   // OLECMDERR_E_NOTSUPPORTED
const HRESULT kCmdUnknownGroup = static_cast<HRESULT>(0x80040104L);   // OLECMDERR_E_UNKNOWNGROUP
const DWORD kCmdShowScriptError = 40;
const LCID kScriptErrorLocale = 2048;

CWebBrowserEventHandler g_defaultHandler;

// Arguments of an event come in reverse order; a short list gives null.
VARIANT* Arg(DISPPARAMS* params, UINT fromLast)
{
    if (!params || !params->rgvarg || fromLast >= params->cArgs) return nullptr;
    return &params->rgvarg[fromLast];
}

IDispatch* ArgDispatch(DISPPARAMS* params, UINT fromLast)
{
    VARIANT* v = Arg(params, fromLast);
    return (v && v->vt == VT_DISPATCH) ? v->pdispVal : nullptr;
}

VARIANT_BOOL* ArgBoolRef(DISPPARAMS* params, UINT fromLast)
{
    VARIANT* v = Arg(params, fromLast);
    return (v && v->vt == (VT_BOOL | VT_BYREF)) ? v->pboolVal : nullptr;
}

VARIANT* ArgRef(DISPPARAMS* params, UINT fromLast)
{
    VARIANT* v = Arg(params, fromLast);
    if (v && v->vt == (VT_VARIANT | VT_BYREF)) return v->pvarVal;
    return v;
}

// Reads one property of an object by name; the value is dropped.
void ReadProperty(IDispatch* object, LPCWSTR name)
{
    DISPID id = 0;
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, kScriptErrorLocale, &id))) return;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT value;
    ::VariantInit(&value);
    object->Invoke(id, IID_NULL, kScriptErrorLocale, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
    ::VariantClear(&value);
}

}  // namespace

CWebBrowserUI::CWebBrowserUI()
    : m_pWebBrowser2(nullptr), m_dwRef(0), m_dwCookie(0), m_bAutoNavi(false), m_pEventHandler(nullptr)
{
    m_clsid = kClsidWebBrowser;
}

CWebBrowserUI::~CWebBrowserUI()
{
    CWebBrowserUI::ReleaseHostedControl();
}

LPCWSTR CWebBrowserUI::GetClass() const { return L"WebBrowser"; }

void* CWebBrowserUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"WebBrowser") == 0) return this;
    return CActiveXUI::GetInterface(pstrName);
}

void CWebBrowserUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (std::wcscmp(pstrName, L"homepage") == 0) {
        m_sHomePage = pstrValue;
    } else if (std::wcscmp(pstrName, L"autonavi") == 0) {
        m_bAutoNavi = IsTrue(pstrValue);
    } else {
        CActiveXUI::SetAttribute(pstrName, pstrValue);
    }
}

CWebBrowserEventHandler& CWebBrowserUI::Handler() { return m_pEventHandler ? *m_pEventHandler : g_defaultHandler; }

bool CWebBrowserUI::CreateHostedControl()
{
    if (!CActiveXUI::CreateHostedControl()) return false;
    if (m_pManager) m_pManager->AddMessageTranslator(this);
    QueryHostedControl(kIidWebBrowser2, reinterpret_cast<void**>(&m_pWebBrowser2));
    if (m_bAutoNavi && !m_sHomePage.IsEmpty()) Navigate2(m_sHomePage);
    RegisterEventHandler(true);
    return true;
}

void CWebBrowserUI::ReleaseHostedControl()
{
    m_bCreated = false;
    if (m_pManager) m_pManager->RemoveMessageTranslator(this);
    RegisterEventHandler(false);
    // The browser interface taken at creation holds the object too: without
    // giving it back the browser would outlive its host.
    ReleaseInterface(m_pWebBrowser2);
    CActiveXUI::ReleaseHostedControl();
}

void CWebBrowserUI::Navigate2(LPCWSTR lpszUrl)
{
    if (!lpszUrl || !*lpszUrl || !m_pWebBrowser2) return;
    VARIANT url;
    ::VariantInit(&url);
    url.vt = VT_BSTR;
    url.bstrVal = ::SysAllocString(lpszUrl);
    if (!url.bstrVal) return;
    VARIANT none;
    ::VariantInit(&none);
    m_pWebBrowser2->Navigate2(&url, &none, &none, &none, &none);
    ::VariantClear(&url);
}

void CWebBrowserUI::RegisterEventHandler(bool inAdvise)
{
    if (!m_pWebBrowser2) return;
    if (!inAdvise && m_dwCookie == 0) return;
    IConnectionPointContainer* container = nullptr;
    if (FAILED(m_pWebBrowser2->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))) ||
        !container) {
        return;
    }
    IConnectionPoint* point = nullptr;
    if (SUCCEEDED(container->FindConnectionPoint(kDiidWebBrowserEvents2, &point)) && point) {
        if (inAdvise) {
            point->Advise(static_cast<IDispatch*>(this), &m_dwCookie);
        } else {
            point->Unadvise(m_dwCookie);
            m_dwCookie = 0;
        }
        point->Release();
    }
    container->Release();
}

bool CWebBrowserUI::IsTopLevelBrowser(IDispatch* pDisp) const
{
    if (!pDisp || !m_pWebBrowser2) return false;
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    pDisp->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
    m_pWebBrowser2->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
    const bool same = a && a == b;
    if (a) a->Release();
    if (b) b->Release();
    return same;
}

void CWebBrowserUI::HandOverDocument()
{
    if (!m_pWebBrowser2) return;
    IDispatch* document = nullptr;
    if (FAILED(m_pWebBrowser2->get_Document(&document)) || !document) return;
    ICustomDoc* custom = nullptr;
    if (SUCCEEDED(document->QueryInterface(kIidCustomDoc, reinterpret_cast<void**>(&custom))) && custom) {
        custom->SetUIHandler(static_cast<IDocHostUIHandler*>(this));
        custom->Release();
    }
    document->Release();
}

// ---------------------------------------------------------------- IUnknown

STDMETHODIMP_(ULONG) CWebBrowserUI::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&m_dwRef)); }
STDMETHODIMP_(ULONG) CWebBrowserUI::Release() { return static_cast<ULONG>(::InterlockedDecrement(&m_dwRef)); }

STDMETHODIMP CWebBrowserUI::QueryInterface(REFIID riid, void** ppvObject)
{
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (riid == kIidDocHostUIHandler || riid == IID_IUnknown) {
        *ppvObject = static_cast<IDocHostUIHandler*>(this);
    } else if (riid == IID_IDispatch) {
        *ppvObject = static_cast<IDispatch*>(this);
    } else if (riid == IID_IServiceProvider) {
        *ppvObject = static_cast<IServiceProvider*>(this);
    } else if (riid == IID_IOleCommandTarget) {
        *ppvObject = static_cast<IOleCommandTarget*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

// ---------------------------------------------------------------- events

STDMETHODIMP CWebBrowserUI::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
STDMETHODIMP CWebBrowserUI::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
STDMETHODIMP CWebBrowserUI::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

STDMETHODIMP CWebBrowserUI::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD, DISPPARAMS* pDispParams, VARIANT*,
                                   EXCEPINFO*, UINT*)
{
    if (riid != IID_NULL) return E_INVALIDARG;
    DISPPARAMS* p = pDispParams;
    switch (dispIdMember) {
    case DISPID_STATUSTEXTCHANGE:
        return S_OK;
    case DISPID_COMMANDSTATECHANGE: {
        VARIANT* command = Arg(p, 1);
        VARIANT* enable = Arg(p, 0);
        if (m_pEventHandler && command && enable)
            m_pEventHandler->CommandStateChange(command->lVal, enable->boolVal);
        return S_OK;
    }
    case DISPID_BEFORENAVIGATE2:
        if (m_pEventHandler && p && p->cArgs >= 7) {
            m_pEventHandler->BeforeNavigate2(ArgDispatch(p, 6), ArgRef(p, 5), ArgRef(p, 4), ArgRef(p, 3),
                                             ArgRef(p, 2), ArgRef(p, 1), ArgBoolRef(p, 0));
        }
        return S_OK;
    case DISPID_NAVIGATECOMPLETE2:
        HandOverDocument();
        if (m_pEventHandler && p && p->cArgs >= 2) m_pEventHandler->NavigateComplete2(ArgDispatch(p, 1), ArgRef(p, 0));
        return S_OK;
    case DISPID_DOCUMENTCOMPLETE:
        if (m_pEventHandler && p && p->cArgs >= 2 && IsTopLevelBrowser(ArgDispatch(p, 1)))
            m_pEventHandler->DocumentComplete(ArgDispatch(p, 1), ArgRef(p, 0));
        return S_OK;
    case DISPID_NAVIGATEERROR:
        if (m_pEventHandler && p && p->cArgs >= 5) {
            m_pEventHandler->NavigateError(ArgDispatch(p, 4), ArgRef(p, 3), ArgRef(p, 2), ArgRef(p, 1),
                                           ArgBoolRef(p, 0));
        }
        return S_OK;
    case DISPID_NEWWINDOW3:
        if (m_pEventHandler && p && p->cArgs >= 5) {
            VARIANT* target = Arg(p, 4);
            IDispatch** ppDisp = (target && target->vt == (VT_DISPATCH | VT_BYREF)) ? target->ppdispVal : nullptr;
            VARIANT* flags = Arg(p, 2);
            VARIANT* context = Arg(p, 1);
            VARIANT* url = Arg(p, 0);
            m_pEventHandler->NewWindow3(ppDisp, ArgBoolRef(p, 3), flags ? flags->ulVal : 0,
                                        (context && context->vt == VT_BSTR) ? context->bstrVal : nullptr,
                                        (url && url->vt == VT_BSTR) ? url->bstrVal : nullptr);
        }
        return S_OK;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

// ---------------------------------------------------------------- document host

STDMETHODIMP CWebBrowserUI::ShowContextMenu(DWORD dwID, POINT* ppt, IUnknown* target, IDispatch* hit)
{
    return Handler().ShowContextMenu(dwID, ppt, target, hit);
}
STDMETHODIMP CWebBrowserUI::GetHostInfo(DOCHOSTUIINFO* pInfo) { return Handler().GetHostInfo(pInfo); }
STDMETHODIMP CWebBrowserUI::ShowUI(DWORD dwID, IOleInPlaceActiveObject* active, IOleCommandTarget* target,
                                   IOleInPlaceFrame* frame, IOleInPlaceUIWindow* doc)
{
    return Handler().ShowUI(dwID, active, target, frame, doc);
}
STDMETHODIMP CWebBrowserUI::HideUI() { return Handler().HideUI(); }
STDMETHODIMP CWebBrowserUI::UpdateUI() { return Handler().UpdateUI(); }
STDMETHODIMP CWebBrowserUI::EnableModeless(BOOL fEnable) { return Handler().EnableModeless(fEnable); }
STDMETHODIMP CWebBrowserUI::OnDocWindowActivate(BOOL f) { return Handler().OnDocWindowActivate(f); }
STDMETHODIMP CWebBrowserUI::OnFrameWindowActivate(BOOL f) { return Handler().OnFrameWindowActivate(f); }
STDMETHODIMP CWebBrowserUI::ResizeBorder(LPCRECT rc, IOleInPlaceUIWindow* window, BOOL frame)
{
    return Handler().ResizeBorder(rc, window, frame);
}
STDMETHODIMP CWebBrowserUI::TranslateAccelerator(LPMSG lpMsg, const GUID* group, DWORD nCmdID)
{
    return Handler().TranslateAccelerator(lpMsg, group, nCmdID);
}
STDMETHODIMP CWebBrowserUI::GetOptionKeyPath(LPOLESTR* key, DWORD dw) { return Handler().GetOptionKeyPath(key, dw); }
STDMETHODIMP CWebBrowserUI::GetDropTarget(IDropTarget* target, IDropTarget** out)
{
    return Handler().GetDropTarget(target, out);
}
STDMETHODIMP CWebBrowserUI::GetExternal(IDispatch** out) { return Handler().GetExternal(out); }
STDMETHODIMP CWebBrowserUI::TranslateUrl(DWORD dw, LPWSTR in, LPWSTR* out) { return Handler().TranslateUrl(dw, in, out); }
STDMETHODIMP CWebBrowserUI::FilterDataObject(IDataObject* in, IDataObject** out)
{
    return Handler().FilterDataObject(in, out);
}

// No service of its own is offered; the browser then uses its defaults.
STDMETHODIMP CWebBrowserUI::QueryService(REFGUID, REFIID, void** ppvObject)
{
    if (ppvObject) *ppvObject = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CWebBrowserUI::QueryStatus(const GUID*, ULONG, OLECMD[], OLECMDTEXT*) { return kCmdNotSupported; }

STDMETHODIMP CWebBrowserUI::Exec(const GUID* pguidCmdGroup, DWORD nCmdID, DWORD, VARIANT* pvaIn, VARIANT* pvaOut)
{
    if (!pguidCmdGroup || *pguidCmdGroup != kCgidDocHostCommandHandler) return kCmdUnknownGroup;
    if (nCmdID != kCmdShowScriptError) return kCmdNotSupported;
    // The error's details are read as the browser expects a host to; then the
    // answer "go on running scripts" keeps its error dialog away.
    if (pvaIn && pvaIn->vt == VT_UNKNOWN && pvaIn->punkVal) {
        IHTMLDocument2* document = nullptr;
        if (SUCCEEDED(pvaIn->punkVal->QueryInterface(kIidHtmlDocument2, reinterpret_cast<void**>(&document))) &&
            document) {
            IHTMLWindow2* window = nullptr;
            if (SUCCEEDED(document->get_parentWindow(&window)) && window) {
                IHTMLEventObj* event = nullptr;
                if (SUCCEEDED(window->get_event(&event)) && event) {
                    for (LPCWSTR name : {L"errorLine", L"errorCharacter", L"errorCode", L"errorMessage", L"errorUrl"})
                        ReadProperty(event, name);
                    event->Release();
                }
                window->Release();
            }
            document->Release();
        }
    }
    if (pvaOut) {
        ::VariantClear(pvaOut);
        pvaOut->vt = VT_BOOL;
        pvaOut->boolVal = VARIANT_TRUE;
    }
    return S_OK;
}

// ---------------------------------------------------------------- accelerators

LRESULT CWebBrowserUI::TranslateAccelerator(MSG* pMsg)
{
    if (!pMsg || pMsg->message < WM_KEYFIRST || pMsg->message > WM_KEYLAST) return S_FALSE;
    if (!m_pWebBrowser2) return E_NOTIMPL;
    bool inside = false;
    for (HWND w = ::GetFocus(); w && !inside; w = ::GetParent(w)) inside = (w == m_hwndHost);
    if (!inside || !m_hwndHost) return S_FALSE;
    IOleInPlaceActiveObject* active = nullptr;
    if (FAILED(m_pWebBrowser2->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active))) ||
        !active) {
        return S_FALSE;
    }
    const HRESULT hr = active->TranslateAccelerator(pMsg);
    active->Release();
    return hr;
}

}  // namespace SkinUI
