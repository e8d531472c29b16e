// The skinned scroll bar: two arrow buttons, a track with a draggable thumb and a
// grip image on the thumb. With a container as owner it scrolls the owner;
// without one it scrolls its own position and reports "scroll".
#pragma once

#include "UIControl.h"

namespace SkinUI {

class CContainerUI;

class CScrollBarUI : public CControlUI {
public:
    enum : UINT { kRepeatTimerId = 10 };
    enum : UINT { kStateDisabled = 0x04, kStateHot = 0x08, kStatePushed = 0x10, kStateCaptured = 0x40 };

    CScrollBarUI();

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void SetEnabled(bool bEnable = true) override;
    void SetFocus() override;
    void SetVisible(bool bVisible = true) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl) override;

    CContainerUI* GetOwner() const { return m_pOwner; }
    void SetOwner(CContainerUI* pOwner) { m_pOwner = pOwner; }
    bool IsHorizontal() const { return m_bHorizontal; }
    void SetHorizontal(bool bHorizontal = true);
    int GetScrollRange() const { return m_nRange; }
    void SetScrollRange(int nRange);
    int GetScrollPos() const { return m_nScrollPos; }
    void SetScrollPos(int nPos, bool bTriggerEvent = true);
    int GetLineSize() const { return m_nScrollUnit > 1 ? m_nScrollUnit : m_nLineSize; }
    int GetScrollUnit() const { return m_nScrollUnit; }
    void SetLineSize(int nSize) { if (nSize >= 0) m_nLineSize = nSize; }
    void SetScrollUnit(int nUnit) { if (nUnit >= 0) m_nScrollUnit = nUnit; }
    void SetShowButton1(bool bShow);
    void SetShowButton2(bool bShow);
    RECT GetThumbRect() const { return m_rcThumb; }
    RECT GetButton1Rect() const { return m_rcButton1; }
    RECT GetButton2Rect() const { return m_rcButton2; }

private:
    struct Part {
        RECT rc = {0, 0, 0, 0};
        UINT state = 0;
        DWORD color = 0;
        UIImageDrawInfo normal, hot, pushed, disabled;
    };
    void LineBack();
    void LineForward();
    void PageBack();
    void PageForward();
    void PagePoint(POINT pt);
    void SetImage(UIImageDrawInfo& info, LPCWSTR value);
    void PaintPart(HDC hDC, const RECT& rc, UINT state, DWORD color, UIImageDrawInfo* images[4]);
    void PaintColorImage(HDC hDC, UIImageDrawInfo& info, const RECT& rc);
    void Forward(UIEvent& event);

    bool m_bHorizontal;
    int m_nRange;
    int m_nScrollPos;
    int m_nLineSize;
    int m_nScrollUnit;
    CContainerUI* m_pOwner;
    POINT m_ptLastMouse;
    int m_nLastScrollPos;
    int m_nLastScrollOffset;
    int m_nScrollRepeatDelay;
    UIImageDrawInfo m_bkNormal, m_bkHot, m_bkPushed, m_bkDisabled;
    bool m_bShowButton1;
    bool m_bShowButton2;
    RECT m_rcButton1;
    UINT m_uButton1State;
    DWORD m_dwButton1Color;
    UIImageDrawInfo m_b1Normal, m_b1Hot, m_b1Pushed, m_b1Disabled;
    RECT m_rcButton2;
    UINT m_uButton2State;
    DWORD m_dwButton2Color;
    UIImageDrawInfo m_b2Normal, m_b2Hot, m_b2Pushed, m_b2Disabled;
    RECT m_rcThumb;
    UINT m_uThumbState;
    DWORD m_dwThumbColor;
    UIImageDrawInfo m_thNormal, m_thHot, m_thPushed, m_thDisabled;
    UIImageDrawInfo m_raNormal, m_raHot, m_raPushed, m_raDisabled;
};

}  // namespace SkinUI
