// The vertical, horizontal, tile and child layouts: containers that place
// their children.
#pragma once

#include "UIContainer.h"

namespace SkinUI {

// What a list body changes in the stacking: more space between the children,
// the cross size they get, and the cross size reported to the scroll bars
// (-1: the layout's own).
struct BoxRules {
    int extraPadding = 0;
    int crossAvailable = -1;
    int crossNeeded = -1;
};

// The separator drag shared by the vertical and horizontal layouts.
class CBoxLayoutUI : public CContainerUI {
public:
    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    UINT GetControlFlags() const override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    void DoEvent(UIEvent& event) override;
    void DoPostPaint(HDC hDC, const RECT& rcPaint) override;

    void SetSepSize(int size) { m_iSepSize = size; }
    int GetSepSize() const { return m_iSepSize; }
    void SetSepImmMode(bool immediate);

protected:
    explicit CBoxLayoutUI(bool vertical) : m_bVertical(vertical) {}
    RECT GetThumbRect(const RECT& rc) const;
    // Stacks the children along the layout's axis (SetPos of both layouts).
    void LayoutBox(RECT rc, bool bNeedInvalidate, const BoxRules& rules = BoxRules());
    bool SetSepAttribute(LPCWSTR pstrName, LPCWSTR pstrValue, LPCWSTR sepName);

    bool m_bVertical;
    int m_iSepSize = 0;
    UINT m_uButtonState = 0;
    POINT m_ptLastMouse = {0, 0};
    RECT m_rcNewPos = {0, 0, 0, 0};
    bool m_bImmMode = false;
};

// Class and interface "VerticalLayout": stacks its children top to bottom.
class CVerticalLayoutUI : public CBoxLayoutUI {
public:
    CVerticalLayoutUI() : CBoxLayoutUI(true) {}
};

// Class and interface "HorizontalLayout": stacks its children left to right.
class CHorizontalLayoutUI : public CBoxLayoutUI {
public:
    CHorizontalLayoutUI() : CBoxLayoutUI(false) {}
};

class CTileLayoutUI : public CContainerUI {
public:
    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;

    SIZE GetItemSize() const { return m_szItem; }
    void SetItemSize(SIZE szItem);
    int GetColumns() const { return m_nColumns; }
    void SetColumns(int nCols);
    void SetChildVPadding(int iPadding);

private:
    SIZE m_szItem = {80, 80};
    int m_nColumnsUsed = 1;
    int m_nRows = 0;
    int m_nColumns = 0;
    int m_iChildVPadding = 0;
    int m_bIgnoreItemPadding = 1;
};

class CChildLayoutUI : public CContainerUI {
public:
    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void Init() override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;

    void SetChildLayoutXML(LPCWSTR pXML) { m_pstrXMLFile = pXML; }
    const CUIString& GetChildLayoutXML() const { return m_pstrXMLFile; }

private:
    CUIString m_pstrXMLFile;
};

}  // namespace SkinUI
