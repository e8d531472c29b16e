// The tree view: a hierarchy shown as a flat list. Each node is a list item whose
// row holds an indenting dot line, a folder button that shows or hides the
// node's descendants, an optional check box that checks its whole subtree and an
// item button with the text.
#pragma once

#include "UILabel.h"
#include "UIList.h"
#include "UIListElements.h"
#include "UIOption.h"

namespace SkinUI {

class CTreeViewUI;

class CTreeNodeUI : public CListContainerElementUI {
public:
    explicit CTreeNodeUI(CTreeNodeUI* pParentNode = nullptr);
    ~CTreeNodeUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    bool Add(CControlUI* pControl) override;
    bool AddAt(CControlUI* pControl, int iIndex) override;
    bool Select(bool bSelect = true, bool bSendNotify = true) override;

    bool AddChildNode(CTreeNodeUI* pNode);
    // Takes the node out of the child nodes (the tree view's list is not touched).
    bool RemoveChildNode(CTreeNodeUI* pNode);
    int GetCountChild() const { return m_aTreeNodes.GetSize(); }
    CTreeNodeUI* GetChildNode(int iIndex) const;
    bool IsHasChild() const { return !m_aTreeNodes.IsEmpty(); }
    // The deepest last descendant; the node itself when it has no children.
    CTreeNodeUI* GetLastNode();
    // The node's index in its tree view's list, -1 outside one.
    int GetTreeIndex() const;

    void SetParentNode(CTreeNodeUI* pParentNode) { m_pParentTreeNode = pParentNode; }
    CTreeNodeUI* GetParentNode() const { return m_pParentTreeNode; }
    void SetTreeView(CTreeViewUI* pTreeView) { m_pTreeView = pTreeView; }
    CTreeViewUI* GetTreeView() const { return m_pTreeView; }
    bool IsNodeExpanded() const { return m_bNodeExpanded; }
    void SetNodeExpanded(bool bExpanded) { m_bNodeExpanded = bExpanded; }

    CHorizontalLayoutUI* GetTreeNodeHoriznotal() const { return m_pHoriz; }
    CCheckBoxUI* GetFolderButton() const { return m_pFolderButton; }
    CLabelUI* GetDottedLine() const { return m_pDottedLine; }
    CCheckBoxUI* GetCheckBox() const { return m_pCheckBox; }
    COptionUI* GetItemButton() const { return m_pItemButton; }

    void SetItemText(LPCWSTR pstrValue);
    CUIString GetItemText() const;
    void SetItemTextColor(DWORD dwColor);
    DWORD GetItemTextColor() const { return m_dwItemTextColor; }
    void SetItemHotTextColor(DWORD dwColor);
    DWORD GetItemHotTextColor() const { return m_dwItemHotTextColor; }
    void SetSelItemTextColor(DWORD dwColor);
    DWORD GetSelItemTextColor() const { return m_dwSelItemTextColor; }
    void SetSelItemHotTextColor(DWORD dwColor);
    DWORD GetSelItemHotTextColor() const { return m_dwSelItemHotTextColor; }

private:
    // Dot line, parent, option group and tree view of a node about to become a child.
    void PrepareChild(CTreeNodeUI* pNode);
    // The item in the tree view that follows this node's subtree, null at the end.
    CTreeNodeUI* NodeAfterSubtree();

    bool m_bNodeExpanded;
    DWORD m_dwItemTextColor;
    DWORD m_dwItemHotTextColor;
    DWORD m_dwSelItemTextColor;
    DWORD m_dwSelItemHotTextColor;
    CTreeViewUI* m_pTreeView;
    CHorizontalLayoutUI* m_pHoriz;
    CCheckBoxUI* m_pFolderButton;
    CLabelUI* m_pDottedLine;
    CCheckBoxUI* m_pCheckBox;
    COptionUI* m_pItemButton;
    CTreeNodeUI* m_pParentTreeNode;
    CUIPtrArray m_aTreeNodes;
};

class CTreeViewUI : public CListUI, public INotifyUI {
public:
    CTreeViewUI();
    ~CTreeViewUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    bool Add(CControlUI* pControl) override;
    bool AddAt(CControlUI* pControl, int iIndex) override;
    bool Remove(CControlUI* pControl, bool bDoNotDestroy = false) override;
    bool RemoveAt(int iIndex, bool bDoNotDestroy = false) override;
    void RemoveAll() override;
    void Notify(UINotify& msg) override;

    // Inserts the node with its subtree at the index (the end when the index is
    // the item count); the index after the inserted nodes, -1 on failure.
    long AddAt(CTreeNodeUI* pControl, int iIndex);
    bool AddAt(CTreeNodeUI* pControl, CTreeNodeUI* pIndexNode);

    // Added after the list's operations, in this order.
    virtual bool OnCheckBoxChanged(void* param);
    virtual bool OnFolderChanged(void* param);
    virtual bool OnDBClickItem(void* param);
    virtual bool SetItemCheckBox(bool bSelected, CTreeNodeUI* pTreeNode = nullptr);
    virtual void SetItemExpand(bool bExpanded, CTreeNodeUI* pTreeNode = nullptr);
    virtual void SetVisibleFolderBtn(bool bIsVisible);
    virtual bool GetVisibleFolderBtn() const;
    virtual void SetVisibleCheckBtn(bool bIsVisible);
    virtual bool GetVisibleCheckBtn() const;
    virtual void SetItemMinWidth(UINT uItemMinWidth);
    virtual UINT GetItemMinWidth() const;
    virtual void SetItemTextColor(DWORD dwItemTextColor);
    virtual void SetItemHotTextColor(DWORD dwItemHotTextColor);
    virtual void SetSelItemTextColor(DWORD dwSelItemTextColor);
    virtual void SetSelItemHotTextColor(DWORD dwSelHotItemTextColor);

private:
    // Delegates, buttons and minimum width of a node joining the view.
    void Attach(CTreeNodeUI* pNode);
    // Takes the node's descendants out of the list, deepest last first.
    void RemoveDescendants(CTreeNodeUI* pNode, bool bDoNotDestroy);
    template <class F>
    void ForEachNode(F f);
    void SetNodesColour(void (CTreeNodeUI::*set)(DWORD), DWORD dwColor);

    UINT m_uItemMinWidth;
    bool m_bVisibleFolderBtn;
    bool m_bVisibleCheckBtn;
};

}  // namespace SkinUI
