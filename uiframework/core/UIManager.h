// The window manager: binds one native window to one tree of controls. It routes
// messages, paints (double-buffered or layered), keeps focus, hover, capture and
// tab order, runs control timers, carries tooltips and delivers notifications;
// it also holds the skin's shared resources (fonts, images, default attribute
// lists, multi-language texts, window attributes, the skin source).
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "UIControl.h"

namespace SkinUI {

class CWindowManagerUI : public IDrawResources {
public:
    CWindowManagerUI();
    virtual ~CWindowManagerUI();
    CWindowManagerUI(const CWindowManagerUI&) = delete;
    CWindowManagerUI& operator=(const CWindowManagerUI&) = delete;

    // ---- binding and tree
    void Init(HWND hWnd, LPCWSTR pstrName = nullptr);
    bool AttachRootControl(CControlUI* pControl);
    bool AttachSubtree(CControlUI* pControl, CControlUI* pParent);
    bool RenameControl(CControlUI* pControl, LPCWSTR pstrName);
    CControlUI* FindControlByName(LPCWSTR pstrName) const;
    CControlUI* FindControlAt(POINT pt) const;
    void ForgetControl(CControlUI* pControl);
    void AddDelayedCleanup(CControlUI* pControl);

    bool AddNotifyListener(INotifyUI* pControl);
    bool RemoveNotifyListener(INotifyUI* pControl);
    bool AddPreMessageFilter(IMessageFilterUI* pFilter);
    bool RemovePreMessageFilter(IMessageFilterUI* pFilter);
    bool AddMessageFilter(IMessageFilterUI* pFilter);
    bool RemoveMessageFilter(IMessageFilterUI* pFilter);
    bool AddPostPaintControl(CControlUI* pControl);
    bool RemovePostPaintControl(CControlUI* pControl);
    bool AddNativeWindow(CControlUI* pControl, HWND hChildWnd);
    bool RemoveNativeWindow(HWND hChildWnd);
    bool AddMouseLeavePending(CControlUI* pControl);
    bool RemoveMouseLeavePending(CControlUI* pControl);
    bool AddMessageTranslator(ITranslateAccelerator* pTranslator);
    bool RemoveMessageTranslator(ITranslateAccelerator* pTranslator);
    bool AddOptionGroup(LPCWSTR pStrGroupName, CControlUI* pControl);
    CUIPtrArray* GetOptionGroup(LPCWSTR pStrGroupName) const;
    void RemoveOptionGroup(LPCWSTR pStrGroupName, CControlUI* pControl);

    void Invalidate(RECT rcItem);
    void InvalidateAll();
    void SetLayoutNeeded() { m_bUpdateNeeded = true; }
    bool IsLayoutNeeded() const { return m_bUpdateNeeded; }

    // ---- focus, capture
    CControlUI* GetFocus() const { return m_pFocus; }
    void SetFocus(CControlUI* pControl, bool bFocusWnd = true);
    void RequestFocus(CControlUI* pControl);
    bool MoveFocusToNextTabControl(bool bForward = true);
    void SetCapture();
    void ReleaseCapture();
    bool IsCaptured() const { return m_bMouseCapture; }

    // ---- timers
    bool SetTimer(CControlUI* pControl, UINT nTimerID, UINT uElapse);
    bool KillTimer(CControlUI* pControl, UINT nTimerID);
    void KillTimersOfControl(CControlUI* pControl);
    void KillAllTimers();
    // Window timer id of a control's live timer, 0 when none (tests).
    UINT GetWindowTimerId(CControlUI* pControl, UINT nTimerID) const;

    // ---- notifications
    void SendNotify(CControlUI* pControl, LPCWSTR pstrMessage, WPARAM wParam = 0, LPARAM lParam = 0,
                    bool bAsync = false);
    void DispatchNotify(UINotify& msg, bool bAsync = false, bool bAllowRepeat = true);
    void SetUsesVirtualWindows(bool bUses) { m_bUsedVirtualWnd = bUses; }
    int GetQueuedNotifyCount() const { return m_aAsyncNotify.GetSize(); }

    // ---- messages
    bool MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    bool PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    static bool TranslateMessage(const LPMSG pMsg);
    bool RunMessageTranslators(LPMSG pMsg);

    // ---- layered painting
    void SetLayered(bool bLayered);
    void SetLayeredOpacity(BYTE nOpacity);
    void SetLayeredImage(LPCWSTR pstrImage);
    void SetOpacity(BYTE nOpacity);
    bool IsLayered() const { return m_bLayered; }
    BYTE GetOpacity() const { return m_nOpacity; }

    // ---- accessors
    HWND GetPaintWindow() const { return m_hWndPaint; }
    HDC GetPaintDC() const { return m_hDcPaint; }
    HBITMAP GetOffscreenBitmap() const { return m_hbmpOffscreen; }
    HDC GetOffscreenDC() const { return m_hDcOffscreen; }
    // Pixels of the offscreen bitmap of a layered window (top-down BGRA), or null.
    const BYTE* GetOffscreenBits() const { return m_pOffscreenBits; }
    SIZE GetOffscreenSize() const { return m_szOffscreen; }
    CControlUI* GetRoot() const { return m_pRoot; }
    POINT GetMousePos() const override { return m_ptLastMousePos; }
    bool IsPainting() const { return m_bIsPainting; }
    bool IsNoActivate() const { return m_bNoActivate; }
    bool IsFirstPaintPending() const { return m_bFirstLayout; }
    RECT GetWindowRectInClient(HWND hChild) const;
    static WORD GetKeyStateFlags();

    // ---- shared resources: fonts
    HFONT AddFont(int id, LPCWSTR pStrFontName, int nSize, bool bBold, bool bUnderline, bool bItalic,
                  bool bShared = false) override;
    HFONT GetFont(int id) override;
    UIFontInfo* GetFontInfo(int id);
    UIFontInfo* GetFontInfoByHandle(HFONT hFont) override;
    HFONT FindFont(LPCWSTR pStrFontName, int nSize, bool bBold, bool bUnderline, bool bItalic) override;
    void SetDefaultFont(LPCWSTR pStrFontName, int nSize, bool bBold, bool bUnderline, bool bItalic,
                        bool bShared = false);
    UIFontInfo* GetDefaultFontInfo();
    // The description AddFont and SetDefaultFont create their fonts from.
    static LOGFONTW DescribeFont(LPCWSTR face, int size, bool bold, bool underline, bool italic);
    void RemoveAllFonts(bool bShared = false);

    // ---- images
    const UIImageInfo* AddImage(LPCWSTR bitmap, LPCWSTR type = nullptr, DWORD mask = 0, bool bUseHSL = false,
                                bool bShared = false);
    const UIImageInfo* GetImageOrLoad(LPCWSTR bitmap, LPCWSTR type = nullptr, DWORD mask = 0,
                                      bool bUseHSL = false) override;
    void RemoveAllImages(bool bShared = false);

    // ---- default attribute lists
    void AddDefaultAttributeList(LPCWSTR pStrControlName, LPCWSTR pStrControlAttrList, bool bShared = false);
    LPCWSTR GetDefaultAttributeList(LPCWSTR pStrControlName) const;
    void RemoveAllDefaultAttributeLists(bool bShared = false);

    // ---- multi-language texts (process-wide)
    static void AddMultiLanguageString(int id, LPCWSTR pStrMultiLanguage);
    static LPCWSTR GetMultiLanguageString(int id);
    static void RemoveAllMultiLanguageStrings();
    static void ProcessMultiLanguageTokens(CUIString& pStrMultiLanguage);
    void ReplaceLanguageTokens(CUIString& text) override { ProcessMultiLanguageTokens(text); }

    // ---- colours and HSL
    DWORD GetDisabledFontColor() const { return m_dwDisabledFontColor; }
    DWORD GetDefaultFontColor() const { return m_dwDefaultFontColor; }
    DWORD GetLinkFontColor() const override { return m_dwLinkFontColor; }
    DWORD GetLinkHoverFontColor() const override { return m_dwLinkHoverFontColor; }
    DWORD GetSelectedBkColor() const override { return m_dwSelectedBkColor; }
    static bool GetHSL(short* H, short* S, short* L);

    // ---- paths and skin source (process-wide)
    static void SetInstance(HINSTANCE hInst);
    static HINSTANCE GetInstance();
    static void SetResourceInstance(HINSTANCE hInst);
    static HINSTANCE GetResourceInstance();
    static CUIString GetInstancePath();
    static void SetResourcePath(LPCWSTR pStrPath);
    static const CUIString& GetResourcePath();
    static void SetResourceArchive7z(bool b7z);
    static bool IsResourceArchive7z();
    static void SetResourceZip(LPCWSTR pstrZip, bool bCachedResourceZip = true);
    static void SetResourceZipBuffer(const void* pVoid, unsigned int len);
    static const CUIString& GetResourceZip();
    static bool IsResourceZipCached();
    static void* GetResourceZipHandle();
    // Closes the open archive and forgets the skin source (tests, process end).
    static void ResetResourceSource();
    static const CUIPtrArray& GetControlFactories();
    static void AddControlFactory(UIControlFactory factory);

    // ---- window attributes
    void SetWindowAttribute(LPCWSTR pstrName, LPCWSTR pstrValue);
    void AddWindowCustomAttribute(LPCWSTR pstrName, LPCWSTR pstrAttr);
    LPCWSTR GetWindowCustomAttribute(LPCWSTR pstrName) const;
    void RemoveAllWindowCustomAttributes();
    SIZE GetInitSize() const { return m_szInitWindowSize; }
    RECT GetSizeBox() const { return m_rcSizeBox; }
    RECT GetCaptionRect() const { return m_rcCaption; }
    SIZE GetRoundCorner() const { return m_szRoundCorner; }
    SIZE GetMinInfo() const { return m_szMinWindow; }
    SIZE GetMaxInfo() const { return m_szMaxWindow; }
    bool IsShowUpdateRect() const { return m_bShowUpdateRect; }
    void SetUseSharedResources(bool bShared) { m_bUseSharedResources = bShared; }
    bool IsUseSharedResources() const { return m_bUseSharedResources; }

    static CControlUI* CALLBACK FindControlByNameCallback(CControlUI* pThis, LPVOID pData);
    static CControlUI* CALLBACK ForgetControlCallback(CControlUI* pThis, LPVOID pData);
    static CControlUI* CALLBACK FindControlAtCallback(CControlUI* pThis, LPVOID pData);
    static CControlUI* CALLBACK CollectUpdateNeededCallback(CControlUI* pThis, LPVOID pData);
    static CControlUI* CALLBACK FindTabControlCallback(CControlUI* pThis, LPVOID pData);
    static CControlUI* CALLBACK FindControlByShortcutCallback(CControlUI* pThis, LPVOID pData);
    static CControlUI* CALLBACK CollectTabStopsCallback(CControlUI* pThis, LPVOID pData);

private:
    struct TabInfo {
        CControlUI* pFocus;
        CControlUI* pLast;
        bool bForward;
        bool bNextIsIt;
    };
    struct ShortcutInfo {
        wchar_t ch;
        bool bPickNext;
    };

    void Paint();
    void LayoutIfNeeded(const RECT& rcClient);
    void PaintLayeredChildren(const RECT& rcPaint);
    void ApplyLayeredImage(const RECT& rcPaint);
    void ReleaseOffscreen();
    void FreeOptionGroups();
    void DrainAsyncNotify();
    void DeleteDelayedCleanup();
    void FreeAsyncNotify();
    void PostDrain();
    UIEvent MakeEvent(int type, CControlUI* sender, WPARAM wParam = 0, LPARAM lParam = 0) const;
    CControlUI* ControlAtIfOurs(POINT pt) const;
    void TakeSystemFocus();
    void HandleMouseMove(LPARAM lParam);
    // A button press at the point: system focus, the control under it, the event.
    bool PressAt(int type, WPARAM wParam, LPARAM lParam, bool takeFocus, bool capture);
    void SendKeyEvent(int type, CControlUI* pControl, WPARAM wParam, LPARAM lParam);
    void HandleMouseHover();
    void HandleMouseLeave();
    CUIStringMap& FontTable(bool bShared);
    CUIStringMap& ImageTable(bool bShared);
    CUIStringMap& AttrTable(bool bShared);
    void MeasureFont(UIFontInfo* info);
    template <class Match>
    UIFontInfo* FindFontInfo(Match match);

    CUIString m_sName;
    HWND m_hWndPaint;
    HDC m_hDcPaint;
    HDC m_hDcOffscreen;
    HDC m_hDcBackground;
    HBITMAP m_hbmpOffscreen;
    HGDIOBJ m_hbmpOffscreenOld;
    BYTE* m_pOffscreenBits;
    SIZE m_szOffscreen;
    HBITMAP m_hbmpBackground;
    BYTE* m_pBackgroundBits;
    int m_iTooltipWidth;
    HWND m_hwndTooltip;
    TOOLINFOW m_ToolTip;
    int m_iHoverTime;
    bool m_bShowUpdateRect;

    CControlUI* m_pRoot;
    CControlUI* m_pFocus;
    CControlUI* m_pEventHover;
    CControlUI* m_pEventClick;
    CControlUI* m_pEventKey;
    POINT m_ptLastMousePos;

    SIZE m_szMinWindow;
    SIZE m_szMaxWindow;
    SIZE m_szInitWindowSize;
    RECT m_rcSizeBox;
    RECT m_rcCaption;
    SIZE m_szRoundCorner;

    UINT m_uTimerID;
    bool m_bFirstLayout;
    bool m_bUpdateNeeded;
    bool m_bFocusNeeded;
    bool m_bOffscreenPaint;
    BYTE m_nOpacity;
    bool m_bLayered;
    bool m_bLayeredChanged;
    bool m_bNoActivate;
    bool m_bMouseTracking;
    bool m_bMouseCapture;
    bool m_bIsPainting;
    bool m_bAsyncNotifyPosted;
    bool m_bUsedVirtualWnd;
    bool m_bUseSharedResources;
    RECT m_rcLayeredUpdate;
    UIImageDrawInfo m_diLayered;

    CUIPtrArray m_aNotifiers;
    CUIPtrArray m_aTimers;
    CUIPtrArray m_aPreMessageFilters;
    CUIPtrArray m_aMessageFilters;
    CUIPtrArray m_aPostPaintControls;
    CUIPtrArray m_aNativeWindow;
    CUIPtrArray m_aNativeWindowControl;
    CUIPtrArray m_aDelayedCleanup;
    CUIPtrArray m_aAsyncNotify;
    CUIPtrArray m_aFoundControls;
    CUIPtrArray m_aNeedMouseLeaveNeeded;
    CUIPtrArray m_aTranslateAccelerator;
    CUIStringMap m_mNameHash;
    CUIStringMap m_mOptionGroup;
    CUIStringMap m_mFonts;
    CUIStringMap m_mImageHash;
    CUIStringMap m_mDefaultAttrHash;
    CUIStringMap m_mWindowCustomAttrHash;

    UIFontInfo m_DefaultFontInfo;
    DWORD m_dwDisabledFontColor;
    DWORD m_dwDefaultFontColor;
    DWORD m_dwLinkFontColor;
    DWORD m_dwLinkHoverFontColor;
    DWORD m_dwSelectedBkColor;
};

}  // namespace SkinUI
