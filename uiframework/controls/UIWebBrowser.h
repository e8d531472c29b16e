// The web browser: an ActiveX host preset to the system's browser object that is
// also its document host (UI handler, service provider, command target), the sink
// of its navigation events and a translator of the window's keyboard accelerators.
#pragma once

#include <docobj.h>
#include <exdisp.h>
#include <mshtmhst.h>

#include "UIActiveX.h"

namespace SkinUI {

// What a web browser control hands on. Every default is the answer the control
// gives without a handler.
class CWebBrowserEventHandler {
public:
    virtual ~CWebBrowserEventHandler() = default;
    virtual void BeforeNavigate2(IDispatch*, VARIANT* /*url*/, VARIANT* /*flags*/, VARIANT* /*targetFrame*/,
                                 VARIANT* /*postData*/, VARIANT* /*headers*/, VARIANT_BOOL* /*cancel*/) {}
    virtual void NavigateError(IDispatch*, VARIANT* /*url*/, VARIANT* /*targetFrame*/, VARIANT* /*statusCode*/,
                               VARIANT_BOOL* /*cancel*/) {}
    virtual void NavigateComplete2(IDispatch*, VARIANT* /*url*/) {}
    virtual void DocumentComplete(IDispatch*, VARIANT* /*url*/) {}
    virtual void NewWindow3(IDispatch** /*ppDisp*/, VARIANT_BOOL* /*cancel*/, DWORD /*flags*/, BSTR /*urlContext*/,
                            BSTR /*url*/) {}
    virtual void CommandStateChange(long /*command*/, VARIANT_BOOL /*enable*/) {}

    // The document host's questions.
    virtual HRESULT ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) { return S_FALSE; }
    virtual HRESULT GetHostInfo(DOCHOSTUIINFO*) { return E_NOTIMPL; }
    virtual HRESULT ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                           IOleInPlaceUIWindow*) { return S_OK; }
    virtual HRESULT HideUI() { return S_OK; }
    virtual HRESULT UpdateUI() { return S_OK; }
    virtual HRESULT EnableModeless(BOOL) { return E_NOTIMPL; }
    virtual HRESULT OnDocWindowActivate(BOOL) { return E_NOTIMPL; }
    virtual HRESULT OnFrameWindowActivate(BOOL) { return E_NOTIMPL; }
    virtual HRESULT ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return E_NOTIMPL; }
    virtual HRESULT TranslateAccelerator(LPMSG, const GUID*, DWORD) { return S_FALSE; }
    virtual HRESULT GetOptionKeyPath(LPOLESTR*, DWORD) { return E_NOTIMPL; }
    virtual HRESULT GetDropTarget(IDropTarget*, IDropTarget**) { return S_FALSE; }
    virtual HRESULT GetExternal(IDispatch**) { return S_FALSE; }
    virtual HRESULT TranslateUrl(DWORD, LPWSTR, LPWSTR* ppchURLOut)
    {
        if (ppchURLOut) *ppchURLOut = nullptr;
        return E_NOTIMPL;
    }
    virtual HRESULT FilterDataObject(IDataObject*, IDataObject** ppDORet)
    {
        if (ppDORet) *ppDORet = nullptr;
        return E_NOTIMPL;
    }
};

class CWebBrowserUI : public CActiveXUI,
                      public IDocHostUIHandler,
                      public IServiceProvider,
                      public IOleCommandTarget,
                      public IDispatch,
                      public ITranslateAccelerator {
public:
    CWebBrowserUI();
    ~CWebBrowserUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    bool CreateHostedControl() override;
    void ReleaseHostedControl() override;

    void SetHomePage(LPCWSTR lpszUrl) { m_sHomePage = lpszUrl; }
    const CUIString& GetHomePage() const { return m_sHomePage; }
    void SetAutoNavigation(bool bAuto) { m_bAutoNavi = bAuto; }
    bool IsAutoNavigation() const { return m_bAutoNavi; }
    void Navigate2(LPCWSTR lpszUrl);
    void SetWebBrowserEventHandler(CWebBrowserEventHandler* pHandler) { m_pEventHandler = pHandler; }
    IWebBrowser2* GetWebBrowser2() const { return m_pWebBrowser2; }

    // IUnknown, shared by the COM parts; the control tree owns the object.
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;

    // IDispatch: the sink of DWebBrowserEvents2.
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) override;
    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    STDMETHOD(Invoke)(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                      VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // IDocHostUIHandler
    STDMETHOD(ShowContextMenu)(DWORD dwID, POINT* pptPosition, IUnknown* pCommandTarget,
                               IDispatch* pDispatchObjectHit) override;
    STDMETHOD(GetHostInfo)(DOCHOSTUIINFO* pInfo) override;
    STDMETHOD(ShowUI)(DWORD dwID, IOleInPlaceActiveObject* pActiveObject, IOleCommandTarget* pCommandTarget,
                      IOleInPlaceFrame* pFrame, IOleInPlaceUIWindow* pDoc) override;
    STDMETHOD(HideUI)() override;
    STDMETHOD(UpdateUI)() override;
    STDMETHOD(EnableModeless)(BOOL fEnable) override;
    STDMETHOD(OnDocWindowActivate)(BOOL fActivate) override;
    STDMETHOD(OnFrameWindowActivate)(BOOL fActivate) override;
    STDMETHOD(ResizeBorder)(LPCRECT prcBorder, IOleInPlaceUIWindow* pUIWindow, BOOL fFrameWindow) override;
    STDMETHOD(TranslateAccelerator)(LPMSG lpMsg, const GUID* pguidCmdGroup, DWORD nCmdID) override;
    STDMETHOD(GetOptionKeyPath)(LPOLESTR* pchKey, DWORD dwReserved) override;
    STDMETHOD(GetDropTarget)(IDropTarget* pDropTarget, IDropTarget** ppDropTarget) override;
    STDMETHOD(GetExternal)(IDispatch** ppDispatch) override;
    STDMETHOD(TranslateUrl)(DWORD dwTranslate, LPWSTR pchURLIn, LPWSTR* ppchURLOut) override;
    STDMETHOD(FilterDataObject)(IDataObject* pDO, IDataObject** ppDORet) override;

    // IServiceProvider
    STDMETHOD(QueryService)(REFGUID guidService, REFIID riid, void** ppvObject) override;

    // IOleCommandTarget
    STDMETHOD(QueryStatus)(const GUID* pguidCmdGroup, ULONG cCmds, OLECMD prgCmds[], OLECMDTEXT* pCmdText) override;
    STDMETHOD(Exec)(const GUID* pguidCmdGroup, DWORD nCmdID, DWORD nCmdexecopt, VARIANT* pvaIn,
                    VARIANT* pvaOut) override;

    // ITranslateAccelerator: keys for the browser while the focus is inside it.
    LRESULT TranslateAccelerator(MSG* pMsg) override;

protected:
    void RegisterEventHandler(bool inAdvise);
    CWebBrowserEventHandler& Handler();
    bool IsTopLevelBrowser(IDispatch* pDisp) const;
    void HandOverDocument();

    IWebBrowser2* m_pWebBrowser2;
    LONG m_dwRef;
    DWORD m_dwCookie;
    CUIString m_sHomePage;
    bool m_bAutoNavi;
    CWebBrowserEventHandler* m_pEventHandler;
};

}  // namespace SkinUI
