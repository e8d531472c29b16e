// The push button: a label with hot, pushed, focused and disabled states, a
// background colour and an image per state, a fade between its normal and hot
// images, and "click" from the mouse or the keyboard.
#pragma once

#include "UILabel.h"

namespace SkinUI {

// Button state bits.
enum : UINT {
    UISTATE_FOCUSED = 0x01,
    UISTATE_SELECTED = 0x02,
    UISTATE_DISABLED = 0x04,
    UISTATE_HOT = 0x08,
    UISTATE_PUSHED = 0x10,
    UISTATE_CAPTURED = 0x40,
};

class CButtonUI : public CLabelUI {
public:
    CButtonUI();

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    UINT GetControlFlags() const override;
    bool Activate() override;
    void SetEnabled(bool bEnable = true) override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    SIZE EstimateSize(SIZE szAvailable) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintText(HDC hDC) override;

    UINT GetButtonState() const { return m_uButtonState; }
    BYTE GetFadeAlpha() const { return m_uFadeAlpha; }
    DWORD GetPushedTextColor() const { return m_dwPushedTextColor; }
    void SetNormalImage(LPCWSTR image) { SetImage(m_diNormal, image); }
    void SetHotImage(LPCWSTR image) { SetImage(m_diHot, image); }
    void SetPushedImage(LPCWSTR image) { SetImage(m_diPushed, image); }
    void SetFocusedImage(LPCWSTR image) { SetImage(m_diFocused, image); }
    void SetDisabledImage(LPCWSTR image) { SetImage(m_diDisabled, image); }
    void SetForeImage(LPCWSTR image) { SetImage(m_diFore, image); }
    void SetHotForeImage(LPCWSTR image) { SetImage(m_diHotFore, image); }
    // One picture of five equal columns: normal, pushed, hot, focused, disabled.
    void SetFiveStatusImage(LPCWSTR image);

    static const UINT kFadeTimerId = 11;

protected:
    // Stores a description unless it is the stored one with its image loaded.
    void SetImage(UIImageDrawInfo& info, LPCWSTR image);
    void SyncStateBits();
    // The normal image, faded against the hot one while a fade runs.
    void PaintNormalSequence(HDC hDC);
    void StartFade();

    UINT m_uButtonState;
    DWORD m_dwHotBkColor;
    DWORD m_dwPushedBkColor;
    DWORD m_dwDisabledBkColor;
    DWORD m_dwHotTextColor;
    DWORD m_dwPushedTextColor;
    DWORD m_dwFocusedTextColor;
    BYTE m_uFadeAlpha;
    BYTE m_uFadeAlphaDelta;
    UIImageDrawInfo m_diNormal;
    UIImageDrawInfo m_diHot;
    UIImageDrawInfo m_diHotFore;
    UIImageDrawInfo m_diPushed;
    UIImageDrawInfo m_diPushedFore;
    UIImageDrawInfo m_diFocused;
    UIImageDrawInfo m_diDisabled;
};

}  // namespace SkinUI
