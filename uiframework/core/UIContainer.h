// The container: an ordered list of owned child controls, painted and hit-tested
// inside its client area, with optional vertical and horizontal scroll bars.
#pragma once

#include "UIControl.h"

namespace SkinUI {

class CScrollBarUI;

class IContainerUI {
public:
    virtual CControlUI* GetItemAt(int iIndex) const = 0;
    virtual int GetItemIndex(CControlUI* pControl) const = 0;
    virtual bool SetItemIndex(CControlUI* pControl, int iIndex) = 0;
    virtual bool SetMultiItemIndex(CControlUI* pStartControl, int iCount, int iNewStartIndex) = 0;
    virtual int GetCount() const = 0;
    virtual bool Add(CControlUI* pControl) = 0;
    virtual bool AddAt(CControlUI* pControl, int iIndex) = 0;
    virtual bool Remove(CControlUI* pControl, bool bDoNotDestroy = false) = 0;
    virtual bool RemoveAt(int iIndex, bool bDoNotDestroy = false) = 0;
    virtual void RemoveAll() = 0;
};

class CContainerUI : public CControlUI, public IContainerUI {
public:
    CContainerUI();
    ~CContainerUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void SetManager(CWindowManagerUI* pManager, CControlUI* pParent, bool bInit = true) override;
    RECT GetClientPos() const override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void Move(SIZE szOffset, bool bNeedInvalidate = true) override;
    void SetVisible(bool bVisible = true) override;
    void SetInheritedVisible(bool bVisible = true) override;
    void SetMouseEnabled(bool bEnable = true) override;
    CControlUI* FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags) override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl) override;

    // IContainerUI
    CControlUI* GetItemAt(int iIndex) const override;
    int GetItemIndex(CControlUI* pControl) const override;
    bool SetItemIndex(CControlUI* pControl, int iIndex) override;
    bool SetMultiItemIndex(CControlUI* pStartControl, int iCount, int iNewStartIndex) override;
    int GetCount() const override;
    bool Add(CControlUI* pControl) override;
    bool AddAt(CControlUI* pControl, int iIndex) override;
    bool Remove(CControlUI* pControl, bool bDoNotDestroy = false) override;
    bool RemoveAt(int iIndex, bool bDoNotDestroy = false) override;
    void RemoveAll() override;

    // Own operations, in slot order.
    virtual RECT GetInset() const;
    virtual void SetInset(RECT rcInset);
    virtual int GetChildPadding() const;
    virtual void SetChildPadding(int iPadding);
    virtual UINT GetChildAlign() const;
    virtual void SetChildAlign(UINT iAlign);
    virtual UINT GetChildVAlign() const;
    virtual void SetChildVAlign(UINT iVAlign);
    virtual bool IsAutoDestroy() const;
    virtual void SetAutoDestroy(bool bAuto);
    virtual bool IsDelayedDestroy() const;
    virtual void SetDelayedDestroy(bool bDelayed);
    virtual bool IsMouseChildEnabled() const;
    virtual void SetMouseChildEnabled(bool bEnable = true);
    virtual int FindSelectable(int iIndex, bool bForward = true) const;
    virtual SIZE GetScrollPos() const;
    virtual SIZE GetScrollRange() const;
    virtual void SetScrollPos(SIZE szPos);
    virtual void LineUp();
    virtual void LineDown();
    virtual void PageUp();
    virtual void PageDown();
    virtual void HomeUp();
    virtual void EndDown();
    virtual void LineLeft();
    virtual void LineRight();
    virtual void PageLeft();
    virtual void PageRight();
    virtual void HomeLeft();
    virtual void EndRight();
    virtual void EnableScrollBar(bool bEnableVertical = true, bool bEnableHorizontal = false);
    virtual CScrollBarUI* GetVerticalScrollBar() const;
    virtual CScrollBarUI* GetHorizontalScrollBar() const;
    virtual void SetFloatPos(int iIndex);
    virtual void ProcessScrollBar(RECT rc, int cxRequired, int cyRequired);

protected:
    // Runs for each visible, non-float child as the client area paints, before
    // the child meets the paint rectangle; `counter` starts at 0 each paint.
    virtual void PrepareItemPaint(HDC hDC, CControlUI* pItem, int& counter);
    bool DestroyChild(CControlUI* pControl);
    int VerticalLineStep() const;
    int HorizontalLineStep() const;
    int VerticalPageStep() const;
    int HorizontalPageStep() const;
    void ScrollBy(int dx, int dy);
    void SwitchScrollBar(CScrollBarUI*& bar, bool enable, bool horizontal);
    // Re-layout after a scroll-bar change: the container's own rectangle (its
    // relative one when it floats).
    void Relayout(bool bInvalidate);

    CUIPtrArray m_items;
    RECT m_rcInset;
    int m_iChildPadding;
    UINT m_iChildAlign;
    UINT m_iChildVAlign;
    bool m_bAutoDestroy;
    bool m_bDelayedDestroy;
    bool m_bMouseChildEnabled;
    bool m_bScrollProcess;
    CScrollBarUI* m_pVerticalScrollBar;
    CScrollBarUI* m_pHorizontalScrollBar;
};

}  // namespace SkinUI
