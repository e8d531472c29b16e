// The list: the interfaces that tie lists, combo boxes and tree views to their
// items, the item-drawing record every list owner keeps, and the list control
// itself with its scrolling body, its header row and the header items.
#pragma once

#include "UILayouts.h"

namespace SkinUI {

const int kMaxListColumns = 64;

// How the items of one owner are drawn; the owner keeps it, the items read it.
struct ListInfo {
    int nColumns = 0;
    RECT rcColumn[kMaxListColumns] = {};
    int nItemHeight = 0;
    int nFont = -1;
    UINT uTextStyle = DT_VCENTER | DT_SINGLELINE;
    RECT rcTextPadding = {0, 0, 0, 0};
    DWORD dwTextColor = 0xFF000000;
    DWORD dwBkColor = 0;
    UIImageDrawInfo diBk;
    bool bAlternateBk = false;
    DWORD dwSelectedTextColor = 0xFF000000;
    DWORD dwSelectedBkColor = 0xFFC1E3FF;
    UIImageDrawInfo diSelected;
    DWORD dwHotTextColor = 0xFF000000;
    DWORD dwHotBkColor = 0xFFE9F5FF;
    UIImageDrawInfo diHot;
    DWORD dwDisabledTextColor = 0xFFCCCCCC;
    DWORD dwDisabledBkColor = 0xFFFFFFFF;
    UIImageDrawInfo diDisabled;
    int iHLineSize = 0;
    DWORD dwHLineColor = 0xFF3C3C3C;
    int iVLineSize = 0;
    DWORD dwVLineColor = 0xFF3C3C3C;
    bool bShowHtml = false;
    bool bMultiExpandable = false;
};

class IListOwnerUI {
public:
    virtual ListInfo* GetListInfo() = 0;
    virtual int GetCurSel() const = 0;
    virtual bool SelectItem(int iIndex, bool bTakeFocus = false, bool bSendNotify = true) = 0;
    virtual void DoEvent(UIEvent& event) = 0;
    virtual bool ExpandItem(int iIndex, bool bExpand = true) = 0;
    virtual int GetExpandedItem() const = 0;
};

// Gives the text of one cell in place of the item's own texts.
class IListTextProvider {
public:
    virtual CUIString GetItemText(CControlUI* pItem, int iIndex, int iSubItem) = 0;
};

class CListHeaderUI;
class CListBodyUI;

class IListUI : public IListOwnerUI {
public:
    virtual CListHeaderUI* GetHeader() const = 0;
    virtual CContainerUI* GetList() const = 0;
    virtual IListTextProvider* GetListWord() = 0;
    virtual void SetListWord(IListTextProvider* pProvider) = 0;
};

class IListItemUI {
public:
    virtual int GetIndex() const = 0;
    virtual void SetIndex(int iIndex) = 0;
    virtual int GetDrawIndex() const = 0;
    virtual void SetDrawIndex(int iIndex) = 0;
    virtual IListOwnerUI* GetOwner() = 0;
    virtual void SetOwner(CControlUI* pOwner) = 0;
    virtual bool IsSelected() const = 0;
    virtual bool Select(bool bSelect = true, bool bSendNotify = true) = 0;
    virtual bool IsExpanded() const = 0;
    virtual bool Expand(bool bExpand = true) = 0;
    virtual void DrawItemText(HDC hDC, const RECT& rcItem) = 0;
};

// The "item..." attributes that lists and combo boxes share. `full` adds the
// list's own "itemvalign", "itemendellipsis" and "itemmultiline". False for a
// name that is none of them.
bool SetListInfoAttribute(ListInfo& info, CControlUI& owner, LPCWSTR pstrName, LPCWSTR pstrValue, bool full);
// Frees the images the record holds.
void FreeListInfoImages(ListInfo& info);
// Before an item of a list-like body paints: its draw index (for the alternate
// background) and the horizontal line under it.
void PrepareListItemPaint(HDC hDC, CControlUI* pItem, int& drawIndex, const ListInfo* info);
// How far a body must scroll down (negative: up) to show `item` whole within
// `band`; 0 when it is already inside.
int ScrollNeededToShow(const RECT& item, const RECT& band);
// The selection a navigation key or wheel step leads to; -1 stays -1, so the
// caller keeps its selection when nothing selectable lies that way.
int NavigationTarget(const CContainerUI& items, int current, UINT key, int count);

class CListHeaderItemUI : public CControlUI {
public:
    CListHeaderItemUI();

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    UINT GetControlFlags() const override;
    void SetEnabled(bool bEnable = true) override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    SIZE EstimateSize(SIZE szAvailable) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintText(HDC hDC) override;

    bool IsDragable() const { return m_bDragable; }
    void SetDragable(bool bDragable);
    int GetSepWidth() const { return m_iSepWidth; }
    UINT GetButtonState() const { return m_uButtonState; }

private:
    RECT GetThumbRect() const;
    void SetImage(UIImageDrawInfo& info, LPCWSTR image);

    POINT m_ptLastMouse = {0, 0};
    bool m_bDragable = true;
    UINT m_uButtonState = 0;
    int m_iSepWidth = 4;
    DWORD m_dwTextColor = 0;
    DWORD m_dwSepColor = 0;
    int m_iFont = -1;
    UINT m_uTextStyle = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    bool m_bShowHtml = false;
    RECT m_rcTextPadding = {2, 0, 2, 0};
    UIImageDrawInfo m_diNormal;
    UIImageDrawInfo m_diHot;
    UIImageDrawInfo m_diPushed;
    UIImageDrawInfo m_diFocused;
    UIImageDrawInfo m_diSep;
};

class CListHeaderUI : public CHorizontalLayoutUI {
public:
    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    SIZE EstimateSize(SIZE szAvailable) override;
};

class CListUI;

// The scrolling area that holds a list's items.
class CListBodyUI : public CVerticalLayoutUI {
public:
    explicit CListBodyUI(CListUI* pOwner) : m_pOwner(pOwner) {}

    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void SetScrollPos(SIZE szPos) override;
    void DoEvent(UIEvent& event) override;

    CListUI* GetOwner() const { return m_pOwner; }

protected:
    void PrepareItemPaint(HDC hDC, CControlUI* pItem, int& counter) override;

private:
    CListUI* m_pOwner;
};

class CListUI : public CVerticalLayoutUI, public IListUI {
public:
    CListUI();
    ~CListUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void Move(SIZE szOffset, bool bNeedInvalidate = true) override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;

    // IContainerUI, over the body (headers and header items aside)
    CControlUI* GetItemAt(int iIndex) const override;
    int GetItemIndex(CControlUI* pControl) const override;
    bool SetItemIndex(CControlUI* pControl, int iIndex) override;
    bool SetMultiItemIndex(CControlUI* pStartControl, int iCount, int iNewStartIndex) override;
    int GetCount() const override;
    bool Add(CControlUI* pControl) override;
    bool AddAt(CControlUI* pControl, int iIndex) override;
    bool Remove(CControlUI* pControl, bool bDoNotDestroy = false) override;
    bool RemoveAt(int iIndex, bool bDoNotDestroy = false) override;
    void RemoveAll() override;

    // Scrolling and child padding belong to the body.
    int GetChildPadding() const override;
    void SetChildPadding(int iPadding) override;
    int FindSelectable(int iIndex, bool bForward = true) const override;
    SIZE GetScrollPos() const override;
    SIZE GetScrollRange() const override;
    void SetScrollPos(SIZE szPos) override;
    void LineUp() override;
    void LineDown() override;
    void PageUp() override;
    void PageDown() override;
    void HomeUp() override;
    void EndDown() override;
    void LineLeft() override;
    void LineRight() override;
    void PageLeft() override;
    void PageRight() override;
    void HomeLeft() override;
    void EndRight() override;
    void EnableScrollBar(bool bEnableVertical = true, bool bEnableHorizontal = false) override;
    CScrollBarUI* GetVerticalScrollBar() const override;
    CScrollBarUI* GetHorizontalScrollBar() const override;

    // IListOwnerUI, IListUI
    ListInfo* GetListInfo() override { return &m_ListInfo; }
    int GetCurSel() const override { return m_iCurSel; }
    bool SelectItem(int iIndex, bool bTakeFocus = false, bool bSendNotify = true) override;
    bool ExpandItem(int iIndex, bool bExpand = true) override;
    int GetExpandedItem() const override { return m_iExpandedItem; }
    CListHeaderUI* GetHeader() const override { return m_pHeader; }
    CContainerUI* GetList() const override;
    IListTextProvider* GetListWord() override { return m_pListWord; }
    void SetListWord(IListTextProvider* pProvider) override { m_pListWord = pProvider; }

    bool IsScrollSelect() const { return m_bScrollSelect; }
    void ScrollItemIntoView(int iIndex);
    // Column rectangles from the header items (at most 64).
    void RefreshColumns();

private:
    bool AddHeader(CControlUI* pControl, int iIndex, bool bAt);
    // Gives the item at each index from `from` to `to` (inclusive) its index.
    void Renumber(int from, int to);
    // Lays out a hidden header (its items visible for the time) so that the
    // columns stay valid.
    void PlaceHiddenHeader();
    void SelectByKey(UINT key);

    bool m_bScrollSelect = false;
    int m_iCurSel = -1;
    int m_iExpandedItem = -1;
    IListTextProvider* m_pListWord = nullptr;
    CListBodyUI* m_pList = nullptr;
    CListHeaderUI* m_pHeader = nullptr;
    ListInfo m_ListInfo;
};

}  // namespace SkinUI
