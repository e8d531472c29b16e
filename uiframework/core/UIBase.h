// Window base classes: CWindowWnd wraps one native window, CNotifyPump dispatches
// notifications through static message maps, and WindowImplBase combines both
// with an embedded window manager, builds its skin in WM_CREATE and draws its own
// caption-less frame.
#pragma once

#include "UIManager.h"

namespace SkinUI {

class CWindowWnd {
public:
    CWindowWnd();
    virtual ~CWindowWnd() = default;

    HWND GetHWND() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    bool RegisterWindowClass();
    bool RegisterSuperclass();
    HWND Create(HWND hwndParent, LPCWSTR pstrName, DWORD dwStyle, DWORD dwExStyle, int x = CW_USEDEFAULT,
                int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT, HMENU hMenu = nullptr);
    HWND CreateInRect(HWND hwndParent, LPCWSTR pstrName, DWORD dwStyle, DWORD dwExStyle, const RECT& rc,
                      HMENU hMenu = nullptr);
    HWND Subclass(HWND hWnd);
    void Unsubclass();
    void ShowWindow(bool bShow = true, bool bTakeFocus = true);
    UINT ShowModal();
    void Close(UINT nRet = IDOK);
    void CenterWindow();
    void SetIcon(UINT nRes);
    LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
    LRESULT PostMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);

    // Virtual operations, in slot order.
    virtual LPCWSTR GetWindowClassName() const = 0;
    virtual LPCWSTR GetSuperClassName() const;
    virtual UINT GetClassStyle() const;
    virtual LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    virtual void OnFinalMessage(HWND hWnd);

protected:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK SuperclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static LRESULT RouteToObject(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, bool inProperty);

    HWND m_hWnd;
    WNDPROC m_OldWndProc;
    bool m_bSubclassed;
};

class CNotifyPump;
typedef void (CNotifyPump::*UIPumpHandler)();
typedef void (CNotifyPump::*UIPumpHandlerWL)(WPARAM, LPARAM);
typedef void (CNotifyPump::*UIPumpHandlerNotify)(UINotify&);

enum : UINT { UISig_end = 0, UISig_lwl = 1, UISig_vn = 2 };

struct UIMsgMapEntry {
    LPCWSTR sMsgType;
    LPCWSTR sCtrlName;   // "" = any control
    UINT nSig;
    UIPumpHandler pfn;
};

struct UIMsgMap {
    const UIMsgMap* pBaseMap;
    const UIMsgMapEntry* lpEntries;
};

template <class T>
UIPumpHandler UIPumpNotify(void (T::*fn)(UINotify&))
{
    return reinterpret_cast<UIPumpHandler>(static_cast<UIPumpHandlerNotify>(fn));
}
template <class T>
UIPumpHandler UIPumpWL(void (T::*fn)(WPARAM, LPARAM))
{
    return reinterpret_cast<UIPumpHandler>(static_cast<UIPumpHandlerWL>(fn));
}

class CNotifyPump {
public:
    CNotifyPump();
    virtual ~CNotifyPump();
    virtual const UIMsgMap* GetMessageMap() const;

    bool AddVirtualWnd(LPCWSTR strName, CNotifyPump* pObject);
    bool RemoveVirtualWnd(LPCWSTR strName);
    bool DispatchNotify(UINotify& msg);
    bool DispatchThroughMaps(UINotify& msg);
    static const UIMsgMapEntry* FindMessageEntry(const UIMsgMapEntry* lpEntry, UINotify& msg);

    static const UIMsgMap messageMap;

private:
    CUIStringMap m_VirtualWndMap;
};

class WindowImplBase : public CWindowWnd,
                       public CNotifyPump,
                       public INotifyUI,
                       public IMessageFilterUI,
                       public IDialogBuilderCallback {
public:
    enum ResourceType { UILIB_FILE = 1, UILIB_ZIP = 2, UILIB_RESOURCE = 3, UILIB_ZIPRESOURCE = 4 };

    WindowImplBase();
    ~WindowImplBase() override;

    UINT GetClassStyle() const override;
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hWnd) override;
    virtual void InitWindow();
    virtual void OnClick(UINotify& msg);
    virtual CUIString GetSkinFolder() = 0;
    virtual CUIString GetSkinFile() = 0;
    virtual LRESULT OnDefaultKey(WPARAM wParam);
    virtual int GetResourceType() const;
    virtual CUIString GetZipFileName() const;
    virtual LPCWSTR GetResourceId() const;
    virtual LRESULT OnClose(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnNcActivate(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnNcCalcSize(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnNcPaint(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnNcHitTest(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnGetMinMaxInfo(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnMouseWheel(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnMouseHover(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnSize(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnChar(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnKeyDown(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnKillFocus(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnSetFocus(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnLButtonDown(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnLButtonUp(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT OnMouseMove(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LRESULT HandleOtherMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled);
    virtual LONG GetStyle();

    // INotifyUI, IMessageFilterUI, IDialogBuilderCallback
    void Notify(UINotify& msg) override;
    LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;
    CControlUI* CreateControl(LPCWSTR pstrClass) override;

    const UIMsgMap* GetMessageMap() const override;
    static const UIMsgMap messageMap;

    CWindowManagerUI& GetManager() { return m_PaintManager; }

    // Ends the process when the skin cannot be loaded (a message box first);
    // tests replace it to see the failure without ending.
    typedef void (*SkinFailureHandler)();
    static void SetSkinFailureHandler(SkinFailureHandler handler);

protected:
    LRESULT NotHandled(bool& bHandled)
    {
        bHandled = false;
        return 0;
    }
    void FailSkin();

    CWindowManagerUI m_PaintManager;
};

}  // namespace SkinUI
