// The progress bar: a value between a minimum and a maximum shown as the
// visible part of a foreground image over the background image.
#pragma once

#include "UILabel.h"

namespace SkinUI {

class CProgressUI : public CLabelUI {
public:
    CProgressUI();

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    void PaintStatusImage(HDC hDC) override;

    bool IsHorizontal() const { return m_bHorizontal; }
    int GetMinValue() const { return m_nMin; }
    int GetMaxValue() const { return m_nMax; }
    int GetValue() const { return m_nValue; }
    void SetValue(int value);
    void SetForeImage(LPCWSTR image);
    // The fore image's destination, relative to the control, for the current value.
    RECT GetForeRect() const;

protected:
    bool m_bHorizontal = true;
    int m_nMax = 100;
    int m_nMin = 0;
    int m_nValue = 0;
    UIImageDrawInfo m_diProgressFore;
};

}  // namespace SkinUI
