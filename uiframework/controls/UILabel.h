// The label: one text in a manager font with a colour per enabled state, a
// DrawText style, padding, optional markup, and an optional GDI+ path with a
// colour gradient, a stroke, a shadow and a blurred glow. Base of every control
// with a caption.
#pragma once

#include "UIControl.h"

namespace SkinUI {

// Stores an image description in a control's record unless it is the stored
// one with its image loaded; the control repaints.
void StoreImageDescription(CControlUI& control, UIImageDrawInfo& info, LPCWSTR image);

class CLabelUI : public CControlUI {
public:
    CLabelUI();
    ~CLabelUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void SetText(LPCWSTR pstrText) override;
    void SetFixedWidth(int cx) override;
    void SetFixedHeight(int cy) override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    SIZE EstimateSize(SIZE szAvailable) override;
    void PaintText(HDC hDC) override;

    int GetFont() const { return m_iFont; }
    DWORD GetTextColor() const { return m_dwTextColor; }
    void SetTextColor(DWORD color);
    DWORD GetDisabledTextColor() const { return m_dwDisabledTextColor; }
    RECT GetTextPadding() const { return m_rcTextPadding; }
    void SetTextPadding(int left, int top, int right, int bottom);
    UINT GetTextStyle() const { return m_uTextStyle; }
    void SetMultiLine(bool multiLine);
    bool IsShowHtml() const { return m_bShowHtml; }
    void SetShowHtml(bool show);
    void SetEnabledEffect(bool enabled);
    // Offset d along angle a (degrees, -180..180; others are ignored).
    void SetShadowOffset(int offset, int angle);
    float GetShadowOffsetX() const { return m_ptShadowOffset[0]; }
    float GetShadowOffsetY() const { return m_ptShadowOffset[1]; }
    float GetLuminousFuzzy() const { return m_fLuminousFuzzy; }
    // The rectangle DrawText computes for the text laid out in that width.
    RECT MeasureText(int width);

protected:
    // The default colours of the manager for colours still 0.
    void TakeDefaultColors();
    // The item rectangle minus the text padding.
    RECT GetTextRect() const;
    // Draws the text in `rc` with one colour (markup or plain).
    void DrawPlainText(HDC hDC, RECT rc, DWORD color);
    void PaintEffectText(HDC hDC, const RECT& rc);

    CUIString m_sEffectText;
    DWORD m_dwTextColor;
    DWORD m_dwDisabledTextColor;
    int m_iFont;
    UINT m_uTextStyle;
    RECT m_rcTextPadding;
    bool m_bShowHtml;
    SIZE m_szAvailableLast;
    SIZE m_cxyFixedLast;
    bool m_bNeedEstimateSize;
    float m_fLuminousFuzzy;
    int m_GradientLength;
    int m_nGradientStartX;
    bool m_EnableEffect;
    bool m_bEnableLuminous;
    bool m_EnabledStroke;
    bool m_EnabledShadow;
    DWORD m_dwTextColor2;
    DWORD m_dwTextShadowColorA;
    DWORD m_dwTextShadowColorB;
    DWORD m_dwStrokeColor;
    float m_ptShadowOffset[2];
};

}  // namespace SkinUI
