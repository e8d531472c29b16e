// The date picker: a label showing a date as "yyyy-mm-dd" that, while focused,
// lays the system's date-picker window over itself.
#pragma once

#include "UILabel.h"

namespace SkinUI {

class CDateTimeWnd;

class CDateTimeUI : public CLabelUI {
    friend class CDateTimeWnd;

public:
    // What ApplyUpdateMode does with the text.
    enum UpdateMode { kNone = 0, kFormat = 1, kClear = 2, kKeep = 3 };

    CDateTimeUI();
    ~CDateTimeUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    HWND GetChildWindow() const override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void Move(SIZE szOffset, bool bNeedInvalidate = true) override;
    void DoEvent(UIEvent& event) override;

    const SYSTEMTIME& GetTime() const { return m_sysTime; }
    void SetTime(const SYSTEMTIME& time);
    int GetUpdateMode() const { return m_nDTUpdateFlag; }
    void ApplyUpdateMode();
    // "yyyy-mm-dd" for a date.
    static CUIString FormatDate(const SYSTEMTIME& time);

private:
    void OpenPicker();
    void PlacePicker();

    SYSTEMTIME m_sysTime;
    int m_nDTUpdateFlag = kNone;
    CDateTimeWnd* m_pWindow = nullptr;
};

}  // namespace SkinUI
