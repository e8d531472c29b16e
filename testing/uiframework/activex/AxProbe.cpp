// axprobe.dll: a small in-process COM control for the ActiveX host's checks. It
// comes in three classes: windowless (asks for windowless activation, draws into
// the host's DC and takes the host's window messages), windowed (makes its own
// window inside the site's window) and a windowless one reachable only through
// the DLL's own class factory. Every call that shows what the host did is logged,
// one line each, to the file named by AXPROBE_LOG; a click toggles its colour.
#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const CLSID kClsidWindowless = {0x6A1D3B10, 0x5C2E, 0x4F7A, {0x9B, 0x01, 0x2D, 0x5E, 0x8C, 0x0F, 0x4A, 0x11}};
const CLSID kClsidWindowed = {0x6A1D3B10, 0x5C2E, 0x4F7A, {0x9B, 0x01, 0x2D, 0x5E, 0x8C, 0x0F, 0x4A, 0x12}};
const CLSID kClsidModuleOnly = {0x6A1D3B10, 0x5C2E, 0x4F7A, {0x9B, 0x01, 0x2D, 0x5E, 0x8C, 0x0F, 0x4A, 0x13}};

HINSTANCE g_module = nullptr;
LONG g_objects = 0;
int g_instances = 0;
// Accelerator tables handed to probes that are gone by now: the host must have
// freed them together with those probes' sites.
std::vector<HACCEL> g_releasedTables;

void Log(const std::string& line)
{
    char path[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableA("AXPROBE_LOG", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    FILE* f = std::fopen(path, "a");
    if (!f) return;
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
}

std::string Rect(const RECT& rc)
{
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%ld,%ld,%ld,%ld", rc.left, rc.top, rc.right, rc.bottom);
    return buf;
}

std::string ClassOf(HWND hwnd)
{
    char name[64] = "none";
    if (hwnd) ::GetClassNameA(hwnd, name, sizeof(name));
    return name;
}

std::string Hex(HRESULT hr)
{
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%08lx", static_cast<unsigned long>(hr));
    return buf;
}

// A window's rectangle in its top-level window's client coordinates.
RECT InTopClient(HWND hwnd)
{
    RECT rc;
    ::GetWindowRect(hwnd, &rc);
    HWND top = ::GetAncestor(hwnd, GA_ROOT);
    ::MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

const COLORREF kColours[2] = {RGB(200, 40, 160), RGB(40, 160, 80)};

class Probe : public IOleObject,
              public IOleControl,
              public IOleInPlaceObjectWindowless,
              public IViewObjectEx,
              public IPersistStreamInit,
              public IObjectWithSite {
public:
    enum Kind { kWindowless, kWindowed, kModuleOnly };

    explicit Probe(Kind kind) : m_kind(kind), m_id(++g_instances)
    {
        ::InterlockedIncrement(&g_objects);
        int alive = 0;
        for (HACCEL h : g_releasedTables) {
            if (::CopyAcceleratorTableW(h, nullptr, 0) > 0) ++alive;
        }
        static const char* kNames[] = {"windowless", "windowed", "module"};
        Say(std::string("create ") + kNames[kind] + " released-sites-tables-alive=" + std::to_string(alive) + "/" +
            std::to_string(g_releasedTables.size()));
    }

    // IUnknown
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(::InterlockedIncrement(&m_ref)); }
    STDMETHOD_(ULONG, Release)() override
    {
        const LONG n = ::InterlockedDecrement(&m_ref);
        if (n == 0) {
            Say("destroyed");
            if (m_accel) g_releasedTables.push_back(m_accel);
            delete this;
        }
        return static_cast<ULONG>(n);
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleObject) {
            *ppv = static_cast<IOleObject*>(this);
        } else if (riid == IID_IOleControl) {
            *ppv = static_cast<IOleControl*>(this);
        } else if (riid == IID_IOleInPlaceObject || riid == IID_IOleWindow) {
            *ppv = static_cast<IOleInPlaceObject*>(this);
        } else if (riid == IID_IOleInPlaceObjectWindowless && m_kind != kWindowed) {
            *ppv = static_cast<IOleInPlaceObjectWindowless*>(this);
        } else if (riid == IID_IViewObject || riid == IID_IViewObject2 || riid == IID_IViewObjectEx) {
            *ppv = static_cast<IViewObjectEx*>(this);
        } else if (riid == IID_IPersistStreamInit || riid == IID_IPersist) {
            *ppv = static_cast<IPersistStreamInit*>(this);
        } else if (riid == IID_IObjectWithSite) {
            *ppv = static_cast<IObjectWithSite*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    // IOleObject
    STDMETHOD(SetClientSite)(IOleClientSite* site) override
    {
        Say(site ? "setclientsite" : "setclientsite null");
        if (site) site->AddRef();
        if (m_site) m_site->Release();
        m_site = site;
        return S_OK;
    }
    STDMETHOD(GetClientSite)(IOleClientSite** pp) override
    {
        *pp = m_site;
        if (m_site) m_site->AddRef();
        return S_OK;
    }
    STDMETHOD(SetHostNames)(LPCOLESTR app, LPCOLESTR) override
    {
        char name[64] = "";
        if (app) ::WideCharToMultiByte(CP_UTF8, 0, app, -1, name, sizeof(name), nullptr, nullptr);
        Say(std::string("sethostnames ") + name);
        return S_OK;
    }
    STDMETHOD(Close)(DWORD) override
    {
        Say("close");
        Deactivate();
        return S_OK;
    }
    STDMETHOD(SetMoniker)(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHOD(GetMoniker)(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHOD(InitFromData)(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(GetClipboardData)(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHOD(DoVerb)(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT rc) override
    {
        Say("doverb " + std::to_string(verb) + " parent=" + ClassOf(parent) + " rect=" + (rc ? Rect(*rc) : "none"));
        if (verb != OLEIVERB_INPLACEACTIVATE || m_active) return S_OK;
        return m_kind == kWindowed ? ActivateWindowed(site ? site : m_site) : ActivateWindowless(site ? site : m_site);
    }
    STDMETHOD(EnumVerbs)(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHOD(Update)() override { return S_OK; }
    STDMETHOD(IsUpToDate)() override { return S_OK; }
    STDMETHOD(GetUserClassID)(CLSID*) override { return E_NOTIMPL; }
    STDMETHOD(GetUserType)(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHOD(SetExtent)(DWORD, SIZEL* size) override
    {
        if (size && (size->cx != m_extent.cx || size->cy != m_extent.cy)) {
            m_extent = *size;
            Say("setextent " + std::to_string(size->cx) + "," + std::to_string(size->cy));
        }
        return S_OK;
    }
    STDMETHOD(GetExtent)(DWORD, SIZEL* size) override
    {
        *size = m_extent;
        return S_OK;
    }
    STDMETHOD(Advise)(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHOD(Unadvise)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(EnumAdvise)(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHOD(GetMiscStatus)(DWORD, DWORD* status) override
    {
        // The windowless probes want their site before InitNew, the windowed one after.
        *status = OLEMISC_RECOMPOSEONRESIZE | (m_kind == kWindowed ? 0 : OLEMISC_SETCLIENTSITEFIRST);
        return S_OK;
    }
    STDMETHOD(SetColorScheme)(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleControl
    STDMETHOD(GetControlInfo)(CONTROLINFO*) override { return E_NOTIMPL; }
    STDMETHOD(OnMnemonic)(MSG*) override { return E_NOTIMPL; }
    STDMETHOD(OnAmbientPropertyChange)(DISPID) override { return S_OK; }
    STDMETHOD(FreezeEvents)(BOOL) override { return S_OK; }

    // IOleWindow, IOleInPlaceObject, IOleInPlaceObjectWindowless
    STDMETHOD(GetWindow)(HWND* phwnd) override
    {
        *phwnd = m_wnd;
        return m_wnd ? S_OK : E_FAIL;
    }
    STDMETHOD(ContextSensitiveHelp)(BOOL) override { return E_NOTIMPL; }
    STDMETHOD(InPlaceDeactivate)() override
    {
        Deactivate();
        return S_OK;
    }
    STDMETHOD(UIDeactivate)() override { return S_OK; }
    STDMETHOD(SetObjectRects)(LPCRECT pos, LPCRECT) override
    {
        if (!pos) return E_POINTER;
        if (!::EqualRect(pos, &m_pos)) {
            m_pos = *pos;
            Say("setobjectrects " + Rect(*pos));
        }
        if (m_wnd) ::MoveWindow(m_wnd, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
        return S_OK;
    }
    STDMETHOD(ReactivateAndUndo)() override { return E_NOTIMPL; }
    STDMETHOD(OnWindowMessage)(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override
    {
        if (result) *result = 0;
        const int x = static_cast<short>(LOWORD(lParam));
        const int y = static_cast<short>(HIWORD(lParam));
        switch (msg) {
        case WM_LBUTTONDOWN:
            Say("message lbuttondown " + std::to_string(x) + " " + std::to_string(y));
            if (m_windowlessSite) {
                m_windowlessSite->SetFocus(TRUE);
                m_windowlessSite->SetCapture(TRUE);
            }
            Toggle();
            return S_OK;
        case WM_LBUTTONUP:
            Say("message lbuttonup " + std::to_string(x) + " " + std::to_string(y) +
                (m_windowlessSite && m_windowlessSite->GetCapture() == S_OK ? " captured" : ""));
            if (m_windowlessSite) m_windowlessSite->SetCapture(FALSE);
            return S_OK;
        case WM_KEYDOWN:
            Say("message keydown " + std::to_string(wParam));
            return S_OK;
        default:
            return S_FALSE;
        }
    }
    STDMETHOD(GetDropTarget)(IDropTarget**) override { return E_NOTIMPL; }

    // IViewObject, IViewObject2, IViewObjectEx
    STDMETHOD(Draw)(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, HDC hdc, LPCRECTL bounds, LPCRECTL,
                    BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override
    {
        if (!bounds) return E_INVALIDARG;
        RECT rc = {bounds->left, bounds->top, bounds->right, bounds->bottom};
        if (!::EqualRect(&rc, &m_drawn)) {
            m_drawn = rc;
            Say("draw " + Rect(rc));
        }
        Fill(hdc, rc);
        return S_OK;
    }
    STDMETHOD(GetColorSet)(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override { return S_FALSE; }
    STDMETHOD(Freeze)(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
    STDMETHOD(Unfreeze)(DWORD) override { return E_NOTIMPL; }
    STDMETHOD(SetAdvise)(DWORD, DWORD, IAdviseSink*) override { return S_OK; }
    STDMETHOD(GetAdvise)(DWORD*, DWORD*, IAdviseSink**) override { return E_NOTIMPL; }
    STDMETHOD(GetExtent)(DWORD, LONG, DVTARGETDEVICE*, LPSIZEL size) override
    {
        *size = m_extent;
        return S_OK;
    }
    STDMETHOD(GetRect)(DWORD, LPRECTL) override { return E_NOTIMPL; }
    STDMETHOD(GetViewStatus)(DWORD* status) override
    {
        *status = VIEWSTATUS_OPAQUE;
        return S_OK;
    }
    STDMETHOD(QueryHitPoint)(DWORD, LPCRECT bounds, POINT pt, LONG, DWORD* result) override
    {
        *result = (bounds && ::PtInRect(bounds, pt)) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
        return S_OK;
    }
    STDMETHOD(QueryHitRect)(DWORD, LPCRECT, LPCRECT, LONG, DWORD*) override { return E_NOTIMPL; }
    STDMETHOD(GetNaturalExtent)(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*, LPSIZEL) override
    {
        return E_NOTIMPL;
    }

    // IPersistStreamInit
    STDMETHOD(GetClassID)(CLSID* id) override
    {
        *id = m_kind == kWindowed ? kClsidWindowed : (m_kind == kWindowless ? kClsidWindowless : kClsidModuleOnly);
        return S_OK;
    }
    STDMETHOD(IsDirty)() override { return S_FALSE; }
    STDMETHOD(Load)(LPSTREAM) override { return E_NOTIMPL; }
    STDMETHOD(Save)(LPSTREAM, BOOL) override { return E_NOTIMPL; }
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHOD(InitNew)() override
    {
        Say("initnew");
        return S_OK;
    }

    // IObjectWithSite
    STDMETHOD(SetSite)(IUnknown* site) override
    {
        Say(site ? "setsite" : "setsite null");
        return S_OK;
    }
    STDMETHOD(GetSite)(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_FAIL;
    }

    // The windowed probe's own window: a click toggles the colour.
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        Probe* self = reinterpret_cast<Probe*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (msg == WM_NCCREATE) {
            self = static_cast<Probe*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
        if (self && msg == WM_PAINT) {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(hwnd, &ps);
            RECT rc;
            ::GetClientRect(hwnd, &rc);
            self->Fill(dc, rc);
            ::EndPaint(hwnd, &ps);
            return 0;
        }
        if (self && msg == WM_LBUTTONDOWN) {
            self->Say("wndmsg lbuttondown " + std::to_string(static_cast<short>(LOWORD(lParam))) + " " +
                      std::to_string(static_cast<short>(HIWORD(lParam))));
            self->Toggle();
            return 0;
        }
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }

private:
    ~Probe()
    {
        Deactivate();
        if (m_site) m_site->Release();
        ::InterlockedDecrement(&g_objects);
    }

    void Say(const std::string& what) { Log("p" + std::to_string(m_id) + " " + what); }

    void Fill(HDC hdc, const RECT& rc)
    {
        HBRUSH brush = ::CreateSolidBrush(kColours[m_colour]);
        ::FillRect(hdc, &rc, brush);
        ::DeleteObject(brush);
    }

    void Toggle()
    {
        m_colour ^= 1;
        if (m_wnd) {
            ::InvalidateRect(m_wnd, nullptr, FALSE);
        } else if (m_windowlessSite) {
            m_windowlessSite->InvalidateRect(&m_pos, FALSE);
        }
    }

    // The frame information and rectangles the site gives.
    void TakeWindowContext(IOleInPlaceSite* site, RECT& pos)
    {
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* doc = nullptr;
        RECT clip = {0, 0, 0, 0};
        OLEINPLACEFRAMEINFO info = {};
        info.cb = sizeof(info);
        const HRESULT hr = site->GetWindowContext(&frame, &doc, &pos, &clip, &info);
        HWND frameWnd = nullptr;
        if (frame) frame->GetWindow(&frameWnd);
        const int entries = info.haccel ? ::CopyAcceleratorTableW(info.haccel, nullptr, 0) : 0;
        Say("windowcontext hr=" + Hex(hr) + " pos=" + Rect(pos) + " clip=" + Rect(clip) + " frame=" +
            ClassOf(frameWnd) + " frameinfo=" + ClassOf(info.hwndFrame) + " accel=" + std::to_string(entries) +
            "/" + std::to_string(info.cAccelEntries));
        if (info.haccel) m_accel = info.haccel;
        if (frame) frame->Release();
        if (doc) doc->Release();
    }

    HRESULT ActivateWindowless(IOleClientSite* client)
    {
        if (!client) return E_UNEXPECTED;
        IOleInPlaceSiteWindowless* site = nullptr;
        HRESULT hr = client->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&site));
        if (FAILED(hr) || !site) return E_NOINTERFACE;
        hr = site->CanWindowlessActivate();
        if (hr != S_OK) {
            site->Release();
            return E_FAIL;
        }
        BOOL noRedraw = FALSE;
        hr = site->OnInPlaceActivateEx(&noRedraw, ACTIVATE_WINDOWLESS);
        HWND host = nullptr;
        site->GetWindow(&host);
        Say("activate windowless hr=" + Hex(hr) + " host=" + ClassOf(host));
        if (FAILED(hr)) {
            site->Release();
            return hr;
        }
        m_windowlessSite = site;
        RECT pos;
        TakeWindowContext(site, pos);
        m_active = true;
        return S_OK;
    }

    HRESULT ActivateWindowed(IOleClientSite* client)
    {
        if (!client) return E_UNEXPECTED;
        IOleInPlaceSite* site = nullptr;
        HRESULT hr = client->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site));
        if (FAILED(hr) || !site) return E_NOINTERFACE;
        if (site->CanInPlaceActivate() != S_OK) {
            site->Release();
            return E_FAIL;
        }
        hr = site->OnInPlaceActivate();
        HWND parent = nullptr;
        site->GetWindow(&parent);
        Say("activate windowed hr=" + Hex(hr) + " host=" + ClassOf(parent) + " hostrect=" +
            (parent ? Rect(InTopClient(parent)) : "none"));
        if (FAILED(hr) || !parent) {
            site->Release();
            return FAILED(hr) ? hr : E_FAIL;
        }
        RECT pos;
        TakeWindowContext(site, pos);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = g_module;
        wc.lpszClassName = L"AxProbeWnd";
        ::RegisterClassW(&wc);
        m_wnd = ::CreateWindowExW(0, L"AxProbeWnd", L"", WS_CHILD | WS_VISIBLE, pos.left, pos.top,
                                  pos.right - pos.left, pos.bottom - pos.top, parent, nullptr, g_module, this);
        Say("window " + (m_wnd ? Rect(InTopClient(m_wnd)) : std::string("none")));
        m_inPlaceSite = site;
        m_active = true;
        return S_OK;
    }

    void Deactivate()
    {
        if (!m_active) return;
        m_active = false;
        if (m_wnd) {
            ::DestroyWindow(m_wnd);
            m_wnd = nullptr;
        }
        if (m_windowlessSite) {
            m_windowlessSite->OnInPlaceDeactivateEx(TRUE);
            m_windowlessSite->Release();
            m_windowlessSite = nullptr;
        }
        if (m_inPlaceSite) {
            m_inPlaceSite->OnInPlaceDeactivate();
            m_inPlaceSite->Release();
            m_inPlaceSite = nullptr;
        }
    }

    LONG m_ref = 1;
    Kind m_kind;
    int m_id;
    IOleClientSite* m_site = nullptr;
    IOleInPlaceSiteWindowless* m_windowlessSite = nullptr;
    IOleInPlaceSite* m_inPlaceSite = nullptr;
    HWND m_wnd = nullptr;
    HACCEL m_accel = nullptr;
    bool m_active = false;
    int m_colour = 0;
    SIZEL m_extent = {0, 0};
    RECT m_pos = {0, 0, 0, 0};
    RECT m_drawn = {0, 0, 0, 0};
};

class Factory : public IClassFactory {
public:
    explicit Factory(Probe::Kind kind) : m_kind(kind) {}
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Probe* probe = new Probe(m_kind);
        const HRESULT hr = probe->QueryInterface(riid, ppv);
        probe->Release();
        return hr;
    }
    STDMETHOD(LockServer)(BOOL) override { return S_OK; }

private:
    Probe::Kind m_kind;
};

Factory g_windowless(Probe::kWindowless);
Factory g_windowed(Probe::kWindowed);
Factory g_moduleOnly(Probe::kModuleOnly);

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE inst, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) g_module = inst;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    Factory* f = nullptr;
    if (clsid == kClsidWindowless) f = &g_windowless;
    if (clsid == kClsidWindowed) f = &g_windowed;
    if (clsid == kClsidModuleOnly) f = &g_moduleOnly;
    if (!f) return CLASS_E_CLASSNOTAVAILABLE;
    return f->QueryInterface(riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return g_objects == 0 ? S_OK : S_FALSE; }
