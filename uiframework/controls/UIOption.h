// Options and check boxes: buttons with a selected state. Options of one group
// (kept by the window manager) select exactly one; an option without a group
// toggles.
#pragma once

#include "UIButton.h"

namespace SkinUI {

class COptionUI : public CButtonUI {
public:
    COptionUI() = default;
    ~COptionUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    bool Activate() override;
    void SetManager(CWindowManagerUI* pManager, CControlUI* pParent, bool bInit = true) override;
    void SetEnabled(bool bEnable = true) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintText(HDC hDC) override;
    virtual void Selected(bool bSelected, bool bNotify = true);

    bool IsSelected() const { return m_bSelected; }
    LPCWSTR GetGroup() const { return m_sGroupName; }
    void SetGroup(LPCWSTR pStrGroupName);
    void SetSelectedImage(LPCWSTR image) { SetImage(m_diSelected, image); }
    void SetSelectedHotImage(LPCWSTR image) { SetImage(m_diSelectedHot, image); }
    void SetOptionForeImage(LPCWSTR image) { SetImage(m_diOptionFore, image); }

protected:
    void JoinGroup(CWindowManagerUI* manager);
    void LeaveGroup();

    bool m_bSelected = false;
    // The manager whose group list holds this option: the builder sets attributes
    // with a manager it takes away again, and a subtree it then frees must still
    // leave that list.
    CWindowManagerUI* m_pGroupManager = nullptr;
    CUIString m_sGroupName;
    DWORD m_dwSelectedBkColor = 0;
    DWORD m_dwSelectedTextColor = 0;
    UIImageDrawInfo m_diSelected;
    UIImageDrawInfo m_diSelectedHot;
    UIImageDrawInfo m_diOptionFore;
};

class CCheckBoxUI : public COptionUI {
public:
    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;

    bool IsChecked() const { return IsSelected(); }
    void SetChecked(bool bChecked, bool bNotify = true) { Selected(bChecked, bNotify); }
};

}  // namespace SkinUI
