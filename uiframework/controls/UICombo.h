// The combo box: a closed box showing the selected item, and the pop-up
// window that lists its items while it is open.
#pragma once

#include "UIBase.h"
#include "UIList.h"

namespace SkinUI {

class CComboUI;

// The pop-up's list area: a vertical layout painted like a list body.
class CComboBodyUI : public CVerticalLayoutUI {
public:
    explicit CComboBodyUI(CComboUI* pOwner) : m_pOwner(pOwner) {}

protected:
    void PrepareItemPaint(HDC hDC, CControlUI* pItem, int& counter) override;

private:
    CComboUI* m_pOwner;
};

class CComboWnd : public CWindowWnd {
public:
    // Creates and shows the pop-up under (or above) the combo box; false when
    // no window could be made.
    bool Init(CComboUI* pOwner);

    LPCWSTR GetWindowClassName() const override;
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hWnd) override;

    // The combo box goes away while the pop-up is open: its items go back to
    // it and the pop-up no longer speaks to it.
    void Detach();
    // Scrolls the body so that the item at the index shows.
    void EnsureVisible(int iIndex);
    CWindowManagerUI& GetManager() { return m_pm; }
    CControlUI* GetBody() const { return m_pLayout; }

private:
    void GiveItemsBack();

    CWindowManagerUI m_pm;
    CComboUI* m_pOwner = nullptr;
    CComboBodyUI* m_pLayout = nullptr;
    int m_iOldSel = -1;
    bool m_bScrollbarClicked = false;
    bool m_bCreating = false;
};

class CComboUI : public CContainerUI, public IListOwnerUI {
    friend class CComboWnd;

public:
    CComboUI();
    ~CComboUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    CUIString GetText() const override;
    bool Activate() override;
    void SetEnabled(bool bEnable = true) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void Move(SIZE szOffset, bool bNeedInvalidate = true) override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    SIZE EstimateSize(SIZE szAvailable) override;
    bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintText(HDC hDC) override;

    // IContainerUI
    bool SetItemIndex(CControlUI* pControl, int iIndex) override;
    bool SetMultiItemIndex(CControlUI* pStartControl, int iCount, int iNewStartIndex) override;
    bool Add(CControlUI* pControl) override;
    bool AddAt(CControlUI* pControl, int iIndex) override;
    bool Remove(CControlUI* pControl, bool bDoNotDestroy = false) override;
    bool RemoveAt(int iIndex, bool bDoNotDestroy = false) override;
    void RemoveAll() override;

    // IListOwnerUI
    ListInfo* GetListInfo() override { return &m_ListInfo; }
    int GetCurSel() const override { return m_iCurSel; }
    bool SelectItem(int iIndex, bool bTakeFocus = false, bool bSendNotify = true) override;
    bool ExpandItem(int, bool = true) override { return false; }
    int GetExpandedItem() const override { return -1; }

    const CUIString& GetDropBoxAttributeList() const { return m_sDropBoxAttributes; }
    SIZE GetDropBoxSize() const { return m_szDropBox; }
    RECT GetTextPadding() const { return m_rcTextPadding; }
    bool IsShowText() const { return m_bShowText; }
    UINT GetButtonState() const { return m_uButtonState; }
    // The open pop-up, or null while closed.
    CComboWnd* GetDropDown() const { return m_pWindow; }

private:
    void Renumber(int from, int to);
    void SetImage(UIImageDrawInfo& info, LPCWSTR image);
    // A keyboard or wheel step: selects without closing the pop-up; a step
    // that finds nothing selectable keeps the selection.
    void SelectByKey(UINT key);

    CComboWnd* m_pWindow = nullptr;
    int m_iCurSel = -1;
    bool m_bShowText = true;
    bool m_bSelectCloseFlag = true;
    RECT m_rcTextPadding = {0, 0, 0, 0};
    CUIString m_sDropBoxAttributes;
    SIZE m_szDropBox = {0, 150};
    UINT m_uButtonState = 0;
    UIImageDrawInfo m_diNormal;
    UIImageDrawInfo m_diHot;
    UIImageDrawInfo m_diPushed;
    UIImageDrawInfo m_diFocused;
    UIImageDrawInfo m_diDisabled;
    ListInfo m_ListInfo;
};

}  // namespace SkinUI
