// The base control: identity, geometry, state flags, texts, the background and
// border look, the seven event sources and the default behaviour every control
// shares.
#pragma once

#include "UIDefs.h"
#include "UIDelegate.h"

namespace SkinUI {

class CControlUI {
public:
    CControlUI();
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;

    // Virtual operations, in slot order.
    virtual void Delete();
    virtual ~CControlUI();
    virtual CUIString GetName() const;
    virtual void SetName(LPCWSTR pstrName);
    virtual LPCWSTR GetClass() const;
    virtual void* GetInterface(LPCWSTR pstrName);
    virtual UINT GetControlFlags() const;
    virtual HWND GetChildWindow() const;
    virtual bool Activate();
    virtual CWindowManagerUI* GetManager() const;
    virtual void SetManager(CWindowManagerUI* pManager, CControlUI* pParent, bool bInit = true);
    virtual CControlUI* GetParent() const;
    virtual CControlUI* GetOverlay() const;
    virtual void SetOverlay(CControlUI* pControl);
    virtual CUIString GetText() const;
    virtual void SetText(LPCWSTR pstrText);
    virtual const RECT& GetPos() const;
    virtual RECT GetRelativePos() const;
    virtual RECT GetClientPos() const;
    virtual void SetPos(RECT rc, bool bNeedInvalidate = true);
    virtual void Move(SIZE szOffset, bool bNeedInvalidate = true);
    virtual int GetWidth() const;
    virtual int GetHeight() const;
    virtual int GetX() const;
    virtual int GetY() const;
    virtual RECT GetPadding() const;
    virtual void SetPadding(RECT rcPadding);
    virtual SIZE GetFixedXY() const;
    virtual void SetFixedXY(SIZE szXY);
    virtual const double* GetFloatPercent() const;   // left, top, right, bottom
    virtual void SetFloatPercent(double left, double top, double right, double bottom);
    virtual int GetFixedWidth() const;
    virtual void SetFixedWidth(int cx);
    virtual int GetFixedHeight() const;
    virtual void SetFixedHeight(int cy);
    virtual int GetMinWidth() const;
    virtual void SetMinWidth(int cx);
    virtual int GetMaxWidth() const;
    virtual void SetMaxWidth(int cx);
    virtual int GetMinHeight() const;
    virtual void SetMinHeight(int cy);
    virtual int GetMaxHeight() const;
    virtual void SetMaxHeight(int cy);
    virtual CUIString GetToolTip() const;
    virtual void SetToolTip(LPCWSTR pstrText);
    virtual void SetToolTipWidth(int nWidth);
    virtual int GetToolTipWidth() const;
    virtual wchar_t GetShortcut() const;
    virtual void SetShortcut(wchar_t ch);
    virtual bool IsContextMenuUsed() const;
    virtual void SetContextMenuUsed(bool bMenuUsed);
    virtual const CUIString& GetUserData() const;
    virtual void SetUserData(LPCWSTR pstrText);
    virtual UINT_PTR GetTag() const;
    virtual void SetTag(UINT_PTR pTag);
    virtual bool IsVisible() const;
    virtual void SetVisible(bool bVisible = true);
    virtual void SetInheritedVisible(bool bVisible = true);
    virtual bool IsEnabled() const;
    virtual void SetEnabled(bool bEnable = true);
    virtual bool IsMouseEnabled() const;
    virtual void SetMouseEnabled(bool bEnable = true);
    virtual bool IsKeyboardEnabled() const;
    virtual void SetKeyboardEnabled(bool bEnable = true);
    virtual bool IsFocused() const;
    virtual void SetFocus();
    virtual bool IsFloat() const;
    virtual void SetFloat(bool bFloat = true);
    typedef CControlUI* (CALLBACK* FINDCONTROLPROC)(CControlUI*, LPVOID);
    virtual CControlUI* FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags);
    virtual void Init();
    virtual void DoInit();
    virtual void Event(UIEvent& event);
    virtual void DoEvent(UIEvent& event);
    virtual CUIString GetAttribute(LPCWSTR pstrName);
    virtual void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue);
    virtual CUIString GetAttributeText(LPCWSTR pstrName);
    virtual CControlUI* ApplyAttributeList(LPCWSTR pstrList);
    virtual SIZE EstimateSize(SIZE szAvailable);
    virtual bool Paint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl);
    // One signature for every class, so that containers really override it.
    virtual bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl);
    virtual void PaintBkColor(HDC hDC);
    virtual void PaintBkImage(HDC hDC);
    virtual void PaintStatusImage(HDC hDC);
    virtual void PaintText(HDC hDC);
    virtual void PaintBorder(HDC hDC);
    virtual void DoPostPaint(HDC hDC, const RECT& rcPaint);

    // Non-virtual operations.
    void Invalidate();
    bool IsUpdateNeeded() const { return m_bUpdateNeeded; }
    void NeedUpdate();
    void NeedParentUpdate();
    CUIString GetVirtualWnd() const;
    void SetVirtualWnd(LPCWSTR pstrValue);
    void AddCustomAttribute(LPCWSTR pstrName, LPCWSTR pstrAttr);
    LPCWSTR GetCustomAttribute(LPCWSTR pstrName) const;
    void RemoveAllCustomAttributes();
    bool DrawImage(HDC hDC, UIImageDrawInfo& drawInfo);
    DWORD AdjustColor(DWORD dwColor) const;

    DWORD GetBkColor() const { return m_dwBackColor; }
    void SetBkColor(DWORD dwBackColor);
    void SetBkColor2(DWORD dwBackColor);
    void SetBkColor3(DWORD dwBackColor);
    void SetBkImage(LPCWSTR pStrImage);
    const CUIString& GetBkImage() const { return m_diBk.sDrawString; }
    void SetBorderColor(DWORD dwBorderColor);
    void SetFocusBorderColor(DWORD dwBorderColor);
    void SetColorHSL(bool bColorHSL);
    void SetBorderSize(RECT rc);
    void SetBorderSize(int iSize);
    void SetBorderRound(SIZE cxyRound);
    const RECT& GetPaintRect() const { return m_rcPaint; }

    CUIEventSource OnInit;
    CUIEventSource OnDestroy;
    CUIEventSource OnSize;
    CUIEventSource OnEvent;
    CUIEventSource OnNotify;
    CUIEventSource OnPaint;
    CUIEventSource OnPostPaint;

protected:
    // Clips `rc` by the item rectangles of all ancestors; false when it ends empty
    // or an ancestor is hidden.
    bool ClipByAncestors(RECT& rc) const;

    CWindowManagerUI* m_pManager;
    CControlUI* m_pParent;
    CControlUI* m_pCover;
    CUIString m_sVirtualWnd;
    CUIString m_sName;
    bool m_bUpdateNeeded;
    bool m_bMenuUsed;
    RECT m_rcItem;
    RECT m_rcPadding;
    SIZE m_cXY;
    SIZE m_cxyFixed;
    SIZE m_cxyMin;
    SIZE m_cxyMax;
    bool m_bVisible;
    bool m_bInternVisible;
    bool m_bEnabled;
    bool m_bMouseEnabled;
    bool m_bKeyboardEnabled;
    bool m_bFocused;
    bool m_bFloat;
    double m_piFloatPercent[4];
    bool m_bSetPos;
    CUIString m_sText;
    CUIString m_sToolTip;
    wchar_t m_chShortcut;
    CUIString m_sUserData;
    UINT_PTR m_pTag;
    DWORD m_dwBackColor;
    DWORD m_dwBackColor2;
    DWORD m_dwBackColor3;
    UIImageDrawInfo m_diBk;
    UIImageDrawInfo m_diFore;
    DWORD m_dwBorderColor;
    DWORD m_dwFocusBorderColor;
    bool m_bColorHSL;
    int m_nBorderStyle;
    int m_nTooltipWidth;
    SIZE m_cxyBorderRound;
    RECT m_rcPaint;
    RECT m_rcBorderSize;
    CUIStringMap m_mCustomAttrHash;
};

}  // namespace SkinUI
