// The ActiveX host: a COM control (an OLE embedded object) shown inside the
// skinned window, windowless (drawn by the host, fed the window's messages) or
// windowed (in a child window of class "UIActiveX"). The site, the child window,
// the in-place frame and the object enumerator are the container's side.
#pragma once

#include <ocidl.h>
#include <oleidl.h>

#include "UIControl.h"

namespace SkinUI {

class CActiveXCtrl;

// Gives back a COM reference held in `p` and clears it first, so that a release
// that calls back never sees the old pointer.
template <class T>
void ReleaseInterface(T*& p)
{
    if (p) {
        T* old = p;
        p = nullptr;
        old->Release();
    }
}

class CActiveXUI : public CControlUI, public IMessageFilterUI {
    friend class CActiveXCtrl;
    friend class CActiveXWnd;

public:
    CActiveXUI();
    ~CActiveXUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    HWND GetChildWindow() const override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void Move(SIZE szOffset, bool bNeedInvalidate = true) override;
    void SetVisible(bool bVisible = true) override;
    void SetInheritedVisible(bool bVisible = true) override;
    bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;

    // Added after the control's operations, in this order.
    virtual void ReleaseHostedControl();
    virtual bool CreateHostedControl();

    bool SetControlClass(LPCWSTR pstrCLSID);
    bool SetControlClass(const CLSID& clsid);
    void SetDelayedCreation(bool bDelayCreate);
    bool IsDelayedCreation() const { return m_bDelayCreate; }
    CLSID GetClsid() const { return m_clsid; }
    const CUIString& GetModuleName() const { return m_sModuleName; }
    void SetModuleName(LPCWSTR pstrText) { m_sModuleName = pstrText; }
    HRESULT QueryHostedControl(REFIID riid, void** ppRet);
    bool IsCreated() const { return m_bCreated; }

    // IMessageFilterUI: the window's messages for a windowless control.
    LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;

protected:
    HWND ManagerWindow() const;
    void ShowHostWindow();

    CLSID m_clsid;
    CUIString m_sModuleName;
    bool m_bCreated;
    bool m_bDelayCreate;
    IOleObject* m_pUnk;
    CActiveXCtrl* m_pControl;
    HWND m_hwndHost;
    // Only a successful CoInitialize is paired with a CoUninitialize: undoing a
    // failed one would take away the apartment of whoever owns the thread.
    bool m_bComInitialized;
};

}  // namespace SkinUI
