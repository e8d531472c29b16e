// The slider: a progress bar with a draggable thumb. Dragging, clicking or the
// wheel sets the value; "valuechanged" reports it.
#pragma once

#include "UIProgress.h"

namespace SkinUI {

class CSliderUI : public CProgressUI {
public:
    CSliderUI();

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    UINT GetControlFlags() const override;
    void SetEnabled(bool bEnable = true) override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    void PaintStatusImage(HDC hDC) override;

    // The thumb's rectangle in window client coordinates.
    RECT ComputeThumbRect() const;
    // The value the point stands for, within minimum..maximum.
    int ValueAt(POINT pt) const;

    UINT GetButtonState() const { return m_uButtonState; }
    SIZE GetThumbSize() const { return m_szThumb; }
    int GetChangeStep() const { return m_nStep; }
    bool IsImmediate() const { return m_bImmediate; }

private:
    void SetThumbImage(UIImageDrawInfo& info, LPCWSTR image);
    void NotifyValue();

    UINT m_uButtonState = 0;
    SIZE m_szThumb = {10, 10};
    int m_nStep = 1;
    bool m_bImmediate = false;
    UIImageDrawInfo m_diThumb;
    UIImageDrawInfo m_diThumbHot;
    UIImageDrawInfo m_diThumbPushed;
};

}  // namespace SkinUI
