// The edit: a one-line text box that paints its text (or its tip, or password
// characters) like a label and opens a native edit window over its text area
// while it has the focus. Typing raises "textchanged", Return raises "return".
#pragma once

#include "UILabel.h"

namespace SkinUI {

class CEditWnd;

class CEditUI : public CLabelUI {
    friend class CEditWnd;

public:
    CEditUI();
    ~CEditUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    UINT GetControlFlags() const override;
    HWND GetChildWindow() const override;
    void SetText(LPCWSTR pstrText) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void Move(SIZE szOffset, bool bNeedInvalidate = true) override;
    void SetVisible(bool bVisible = true) override;
    void SetInheritedVisible(bool bVisible = true) override;
    void SetEnabled(bool bEnable = true) override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    SIZE EstimateSize(SIZE szAvailable) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintText(HDC hDC) override;

    int GetMaxChar() const { return m_iMaxChar; }
    void SetMaxChar(int n);
    bool IsReadOnly() const { return m_bReadOnly; }
    void SetReadOnly(bool readOnly);
    bool IsPasswordMode() const { return m_bPasswordMode; }
    void SetPasswordMode(bool password);
    wchar_t GetPasswordChar() const { return m_cPasswordChar; }
    bool IsNumberOnly() const { return (m_uExtraStyle & ES_NUMBER) != 0; }
    void SetNumberOnly(bool numberOnly);
    bool IsAutoSelAll() const { return m_bAutoSelAll; }
    UINT GetButtonState() const { return m_uButtonState; }
    DWORD GetNativeEditBkColor() const { return m_dwEditbkColor; }
    // The tip is shown while the box is empty and unfocused; it is never its text.
    const CUIString& GetTipValue() const { return m_sTipValue; }
    void SetTipValue(LPCWSTR tip);
    DWORD GetTipValueColor() const { return m_dwTipValueColor; }
    void SetTipValueColor(DWORD color);
    void SetNativeTextColor(DWORD color) { m_dwEditTextColor = color; }
    void SetNormalImage(LPCWSTR image) { StoreImageDescription(*this, m_diNormal, image); }
    void SetHotImage(LPCWSTR image) { StoreImageDescription(*this, m_diHot, image); }
    void SetFocusedImage(LPCWSTR image) { StoreImageDescription(*this, m_diFocused, image); }
    void SetDisabledImage(LPCWSTR image) { StoreImageDescription(*this, m_diDisabled, image); }

    // Where the native window sits: the text area, cut to the font's height
    // and to every ancestor; empty when an ancestor hides it.
    RECT GetNativeRect();

private:
    void OpenNativeWindow();
    // Places the open native window over the text area again.
    void PlaceNativeWindow();

    CEditWnd* m_pWindow;
    int m_iMaxChar;
    bool m_bReadOnly;
    bool m_bPasswordMode;
    bool m_bAutoSelAll;
    wchar_t m_cPasswordChar;
    UINT m_uButtonState;
    DWORD m_dwEditbkColor;
    UINT m_uExtraStyle;
    UIImageDrawInfo m_diNormal;
    UIImageDrawInfo m_diHot;
    UIImageDrawInfo m_diFocused;
    UIImageDrawInfo m_diDisabled;
    CUIString m_sTipValue;
    DWORD m_dwTipValueColor;
    DWORD m_dwEditTextColor;
};

}  // namespace SkinUI
