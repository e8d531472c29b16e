// The items of a list owner (a list or a combo box): the plain element, the
// label element, the text element with columns and links, and the container
// elements, all drawn with their owner's item-drawing record.
#pragma once

#include "UIList.h"

namespace SkinUI {

// What every kind of item keeps and does alike, whatever its control base.
class CListItemCore {
public:
    explicit CListItemCore(CControlUI& self) : m_self(self) {}

    int m_iIndex = -1;
    int m_iDrawIndex = 0;
    bool m_bSelected = false;
    UINT m_uButtonState = 0;
    IListOwnerUI* m_pOwner = nullptr;

    void SetOwner(CControlUI* pOwner);
    bool Select(bool bSelect, bool bTakeFocus);
    bool Activate();
    // The item's own event handling; false when the event goes on to the
    // owner (or the control base when there is none).
    bool DoEvent(UIEvent& event);
    // After the control hid itself: a selected item leaves its owner without
    // a selection.
    void HideSelected();
    void SendActivate();
    void DrawItemBk(HDC hDC, UIImageDrawInfo& ownBk);
    // The item's rectangle clipped to its parent's client area and ancestors.
    void Invalidate();
    // The text colour for the item's state.
    DWORD TextColor(const ListInfo& info) const;

private:
    CControlUI& m_self;
};

class CListElementUI : public CControlUI, public IListItemUI {
public:
    CListElementUI() : m_item(*this) {}

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    bool Activate() override;
    void SetVisible(bool bVisible = true) override;
    void SetEnabled(bool bEnable = true) override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;

    int GetIndex() const override { return m_item.m_iIndex; }
    void SetIndex(int iIndex) override { m_item.m_iIndex = iIndex; }
    int GetDrawIndex() const override { return m_item.m_iDrawIndex; }
    void SetDrawIndex(int iIndex) override { m_item.m_iDrawIndex = iIndex; }
    IListOwnerUI* GetOwner() override { return m_item.m_pOwner; }
    void SetOwner(CControlUI* pOwner) override { m_item.SetOwner(pOwner); }
    bool IsSelected() const override { return m_item.m_bSelected; }
    bool Select(bool bSelect = true, bool bSendNotify = true) override { return m_item.Select(bSelect, bSendNotify); }
    bool IsExpanded() const override { return false; }
    bool Expand(bool) override { return false; }

    UINT GetButtonState() const { return m_item.m_uButtonState; }
    void Invalidate() { m_item.Invalidate(); }

protected:
    CListItemCore m_item;
};

class CListLabelElementUI : public CListElementUI {
public:
    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void SetOwner(CControlUI* pOwner) override;
    void SetText(LPCWSTR pstrText) override;
    SIZE EstimateSize(SIZE szAvailable) override;
    bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl) override;
    void DrawItemText(HDC hDC, const RECT& rcItem) override;

protected:
    // Draws one text into `rc` in the item's state colour with the owner's
    // font and style; formatted text records its links.
    void DrawCellText(HDC hDC, RECT rc, LPCWSTR text, const ListInfo& info, RECT* links, CUIString* linkTexts,
                      int& linkCount);

    bool m_bNeedEstimateSize = true;
    SIZE m_szAvailableLast = {0, 0};
    int m_nLastItemHeight = 0;
    int m_nLastFont = -1;
    UINT m_uLastTextStyle = 0;
    RECT m_rcLastTextPadding = {0, 0, 0, 0};
    SIZE m_cxyEstimate = {0, 0};
};

class CListTextElementUI : public CListLabelElementUI {
public:
    static constexpr int kMaxLinks = 8;

    CListTextElementUI();
    ~CListTextElementUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    UINT GetControlFlags() const override;
    void SetOwner(CControlUI* pOwner) override;
    void DoEvent(UIEvent& event) override;
    SIZE EstimateSize(SIZE szAvailable) override;
    void DrawItemText(HDC hDC, const RECT& rcItem) override;

    // The text of one column (empty for a column without one).
    LPCWSTR GetText(int iIndex) const;
    void SetText(int iIndex, LPCWSTR pstrText);
    using CListLabelElementUI::GetText;
    using CListLabelElementUI::SetText;
    int GetLinkCount() const { return m_nLinks; }
    RECT GetLinkRect(int index) const;

private:
    int LinkAt(POINT pt) const;

    int m_nLinks = 0;
    RECT m_rcLinks[kMaxLinks] = {};
    CUIString m_sLinks[kMaxLinks];
    int m_nHoverLink = -1;
    IListUI* m_pOwnerList = nullptr;
    CUIPtrArray m_aTexts;
    int m_nLastColumnSpan = 0;
};

class CListContainerElementUI : public CContainerUI, public IListItemUI {
public:
    CListContainerElementUI() : m_item(*this) {}

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    bool Activate() override;
    void SetVisible(bool bVisible = true) override;
    void SetEnabled(bool bEnable = true) override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    SIZE EstimateSize(SIZE szAvailable) override;
    bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl) override;

    int GetIndex() const override { return m_item.m_iIndex; }
    void SetIndex(int iIndex) override { m_item.m_iIndex = iIndex; }
    int GetDrawIndex() const override { return m_item.m_iDrawIndex; }
    void SetDrawIndex(int iIndex) override { m_item.m_iDrawIndex = iIndex; }
    IListOwnerUI* GetOwner() override { return m_item.m_pOwner; }
    void SetOwner(CControlUI* pOwner) override { m_item.SetOwner(pOwner); }
    bool IsSelected() const override { return m_item.m_bSelected; }
    bool Select(bool bSelect = true, bool bSendNotify = true) override { return m_item.Select(bSelect, bSendNotify); }
    bool IsExpanded() const override { return m_bExpanded; }
    bool Expand(bool bExpand = true) override;
    void DrawItemText(HDC, const RECT&) override {}

    bool IsExpandable() const { return m_bExpandable; }
    void SetExpandable(bool bExpandable) { m_bExpandable = bExpandable; }
    UINT GetButtonState() const { return m_item.m_uButtonState; }
    void Invalidate() { m_item.Invalidate(); }

protected:
    CListItemCore m_item;
    bool m_bExpandable = false;
    bool m_bExpanded = false;
};

class CListHBoxElementUI : public CListContainerElementUI {
public:
    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl) override;
};

}  // namespace SkinUI
