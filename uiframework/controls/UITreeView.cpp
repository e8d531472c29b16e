// The tree view and its nodes: a node's row and attributes, child nodes kept
// beside the flat list, insertion and removal of whole subtrees, and the
// delegates that expand, collapse and check subtrees.
#include "UITreeView.h"

#include <cwchar>

#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

namespace {

bool IsTreeNodeClass(CControlUI* c) { return c && _wcsicmp(c->GetClass(), L"TreeNode") == 0; }

CTreeNodeUI* AsTreeNode(CControlUI* c)
{
    return c ? static_cast<CTreeNodeUI*>(c->GetInterface(L"TreeNode")) : nullptr;
}

const int kIndentStep = 16;

// The four text colours a node keeps, set on one node or on every node of a view.
struct ColourAttribute {
    LPCWSTR name;
    void (CTreeNodeUI::*onNode)(DWORD);
    void (CTreeViewUI::*onView)(DWORD);
};
const ColourAttribute kColourAttributes[] = {
    {L"itemtextcolor", &CTreeNodeUI::SetItemTextColor, &CTreeViewUI::SetItemTextColor},
    {L"itemhottextcolor", &CTreeNodeUI::SetItemHotTextColor, &CTreeViewUI::SetItemHotTextColor},
    {L"selitemtextcolor", &CTreeNodeUI::SetSelItemTextColor, &CTreeViewUI::SetSelItemTextColor},
    {L"selitemhottextcolor", &CTreeNodeUI::SetSelItemHotTextColor, &CTreeViewUI::SetSelItemHotTextColor},
};

const ColourAttribute* FindColourAttribute(LPCWSTR name)
{
    for (const ColourAttribute& a : kColourAttributes) {
        if (std::wcscmp(name, a.name) == 0) return &a;
    }
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------- CTreeNodeUI

CTreeNodeUI::CTreeNodeUI(CTreeNodeUI* pParentNode)
    : m_bNodeExpanded(true), m_dwItemTextColor(0), m_dwItemHotTextColor(0), m_dwSelItemTextColor(0),
      m_dwSelItemHotTextColor(0), m_pTreeView(nullptr), m_pHoriz(new CHorizontalLayoutUI),
      m_pFolderButton(new CCheckBoxUI), m_pDottedLine(new CLabelUI), m_pCheckBox(new CCheckBoxUI),
      m_pItemButton(new COptionUI), m_pParentTreeNode(nullptr)
{
    SetFixedHeight(18);
    SetFixedWidth(250);
    m_pFolderButton->SetFixedWidth(GetFixedHeight());
    m_pDottedLine->SetFixedWidth(2);
    m_pCheckBox->SetFixedWidth(GetFixedHeight());
    m_pItemButton->SetAttribute(L"align", L"left");
    m_pDottedLine->SetVisible(false);
    m_pCheckBox->SetVisible(false);
    m_pItemButton->SetMouseEnabled(false);
    if (pParentNode && IsTreeNodeClass(pParentNode)) {
        m_pDottedLine->SetVisible(pParentNode->IsVisible());
        m_pDottedLine->SetFixedWidth(pParentNode->GetDottedLine()->GetFixedWidth() + kIndentStep);
        SetParentNode(pParentNode);
    }
    m_pHoriz->Add(m_pDottedLine);
    m_pHoriz->Add(m_pFolderButton);
    m_pHoriz->Add(m_pCheckBox);
    m_pHoriz->Add(m_pItemButton);
    CContainerUI::Add(m_pHoriz);
}

CTreeNodeUI::~CTreeNodeUI() = default;

LPCWSTR CTreeNodeUI::GetClass() const { return L"TreeNode"; }

void* CTreeNodeUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"TreeNode") == 0) return this;
    return CListContainerElementUI::GetInterface(pstrName);
}

void CTreeNodeUI::DoEvent(UIEvent& event)
{
    if (!IsMouseEnabled() && event.Type >= UIEventMouseMove && event.Type <= UIEventMouseWheel) {
        if (m_item.m_pOwner) {
            m_item.m_pOwner->DoEvent(event);
        } else {
            CContainerUI::DoEvent(event);
        }
        return;
    }
    CListContainerElementUI::DoEvent(event);
    if (event.Type == UIEventDoubleClick && IsEnabled()) {
        if (m_pManager) m_pManager->SendNotify(this, L"itemdbclick");
        Invalidate();
    } else if (event.Type == UIEventMouseEnter) {
        if (!IsEnabled()) {
            m_pItemButton->SetTextColor(m_pItemButton->GetDisabledTextColor());
        } else if (m_item.m_bSelected && m_dwSelItemHotTextColor) {
            m_pItemButton->SetTextColor(m_dwSelItemHotTextColor);
        } else {
            m_pItemButton->SetTextColor(m_dwItemHotTextColor);
        }
    } else if (event.Type == UIEventMouseLeave) {
        if (!IsEnabled()) {
            m_pItemButton->SetTextColor(m_pItemButton->GetDisabledTextColor());
        } else if (!m_item.m_bSelected) {
            m_pItemButton->SetTextColor(m_dwItemTextColor);
        } else if (m_dwSelItemTextColor) {
            m_pItemButton->SetTextColor(m_dwSelItemTextColor);
        }
    }
}

bool CTreeNodeUI::Select(bool bSelect, bool bSendNotify)
{
    const bool ok = CListContainerElementUI::Select(bSelect, bSendNotify);
    m_pItemButton->SetTextColor(m_item.m_bSelected ? m_dwSelItemTextColor : m_dwItemTextColor);
    return ok;
}

bool CTreeNodeUI::Add(CControlUI* pControl)
{
    if (IsTreeNodeClass(pControl)) return AddChildNode(static_cast<CTreeNodeUI*>(pControl));
    return CContainerUI::Add(pControl);
}

void CTreeNodeUI::PrepareChild(CTreeNodeUI* pNode)
{
    pNode->GetDottedLine()->SetVisible(true);
    pNode->GetDottedLine()->SetFixedWidth(m_pDottedLine->GetFixedWidth() + kIndentStep);
    pNode->SetParentNode(this);
    pNode->GetItemButton()->SetGroup(m_pItemButton->GetGroup());
    pNode->SetTreeView(m_pTreeView);
}

bool CTreeNodeUI::AddChildNode(CTreeNodeUI* pNode)
{
    if (!pNode || !IsTreeNodeClass(pNode)) return false;
    PrepareChild(pNode);
    if (m_pTreeView) {
        const int at = GetLastNode()->GetTreeIndex();
        if (at < 0 || m_pTreeView->AddAt(pNode, at + 1) < 0) return false;
    }
    return m_aTreeNodes.Add(pNode);
}

CTreeNodeUI* CTreeNodeUI::NodeAfterSubtree()
{
    if (!m_pTreeView) return nullptr;
    const int last = GetLastNode()->GetTreeIndex();
    return last < 0 ? nullptr : AsTreeNode(m_pTreeView->GetItemAt(last + 1));
}

bool CTreeNodeUI::AddAt(CControlUI* pControl, int iIndex)
{
    CTreeNodeUI* node = AsTreeNode(pControl);
    if (!node) return false;
    CTreeNodeUI* displaced = GetChildNode(iIndex);
    // A new last child goes after the subtree as it stands now, before the node
    // is counted in it.
    CTreeNodeUI* before = displaced ? displaced : NodeAfterSubtree();
    const bool inArray = displaced ? m_aTreeNodes.InsertAt(iIndex, node) : m_aTreeNodes.Add(node);
    if (!inArray) return false;
    PrepareChild(node);
    if (!m_pTreeView) return true;
    const bool ok = before ? m_pTreeView->AddAt(node, before) : m_pTreeView->Add(node);
    if (!ok) m_aTreeNodes.Remove(m_aTreeNodes.Find(node));
    return ok;
}

bool CTreeNodeUI::RemoveChildNode(CTreeNodeUI* pNode)
{
    const int at = m_aTreeNodes.Find(pNode);
    if (at < 0) return false;
    m_aTreeNodes.Remove(at);
    return true;
}

CTreeNodeUI* CTreeNodeUI::GetChildNode(int iIndex) const
{
    if (iIndex < 0 || iIndex >= m_aTreeNodes.GetSize()) return nullptr;
    return static_cast<CTreeNodeUI*>(m_aTreeNodes.ItemAt(iIndex));
}

CTreeNodeUI* CTreeNodeUI::GetLastNode()
{
    // Bounded by the depth of the tree; a node is never its own descendant.
    CTreeNodeUI* node = this;
    while (node->IsHasChild()) node = node->GetChildNode(node->GetCountChild() - 1);
    return node;
}

int CTreeNodeUI::GetTreeIndex() const
{
    if (!m_pTreeView) return -1;
    return m_pTreeView->GetItemIndex(const_cast<CTreeNodeUI*>(this));
}

void CTreeNodeUI::SetItemText(LPCWSTR pstrValue) { m_pItemButton->SetText(pstrValue); }
CUIString CTreeNodeUI::GetItemText() const { return m_pItemButton->GetText(); }

void CTreeNodeUI::SetItemTextColor(DWORD dwColor)
{
    m_dwItemTextColor = dwColor;
    m_pItemButton->SetTextColor(dwColor);
}

void CTreeNodeUI::SetItemHotTextColor(DWORD dwColor)
{
    m_dwItemHotTextColor = dwColor;
    Invalidate();
}

void CTreeNodeUI::SetSelItemTextColor(DWORD dwColor)
{
    m_dwSelItemTextColor = dwColor;
    Invalidate();
}

void CTreeNodeUI::SetSelItemHotTextColor(DWORD dwColor)
{
    m_dwSelItemHotTextColor = dwColor;
    Invalidate();
}

void CTreeNodeUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    auto is = [pstrName](LPCWSTR n) { return std::wcscmp(pstrName, n) == 0; };
    if (is(L"text")) {
        SetItemText(pstrValue);
    } else if (is(L"horizattr")) {
        m_pHoriz->ApplyAttributeList(pstrValue);
    } else if (is(L"dotlineattr")) {
        m_pDottedLine->ApplyAttributeList(pstrValue);
    } else if (is(L"folderattr")) {
        m_pFolderButton->ApplyAttributeList(pstrValue);
    } else if (is(L"checkboxattr")) {
        m_pCheckBox->ApplyAttributeList(pstrValue);
    } else if (is(L"itemattr")) {
        m_pItemButton->ApplyAttributeList(pstrValue);
    } else if (const ColourAttribute* colour = FindColourAttribute(pstrName)) {
        (this->*colour->onNode)(ParseColorText(pstrValue));
    } else {
        CListContainerElementUI::SetAttribute(pstrName, pstrValue);
    }
}

// ---------------------------------------------------------------- CTreeViewUI

CTreeViewUI::CTreeViewUI() : m_uItemMinWidth(0), m_bVisibleFolderBtn(true), m_bVisibleCheckBtn(false)
{
    GetHeader()->SetVisible(false);
}

CTreeViewUI::~CTreeViewUI() = default;

LPCWSTR CTreeViewUI::GetClass() const { return L"TreeView"; }

void* CTreeViewUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"TreeView") == 0) return this;
    return CListUI::GetInterface(pstrName);
}

void CTreeViewUI::Notify(UINotify&) {}

template <class F>
void CTreeViewUI::ForEachNode(F f)
{
    for (int i = 0; i < GetCount(); ++i) {
        if (CTreeNodeUI* node = AsTreeNode(GetItemAt(i))) f(node);
    }
}

void CTreeViewUI::Attach(CTreeNodeUI* pNode)
{
    pNode->OnNotify += MakeDelegate(this, &CTreeViewUI::OnDBClickItem);
    pNode->GetFolderButton()->OnNotify += MakeDelegate(this, &CTreeViewUI::OnFolderChanged);
    pNode->GetCheckBox()->OnNotify += MakeDelegate(this, &CTreeViewUI::OnCheckBoxChanged);
    pNode->GetFolderButton()->SetVisible(m_bVisibleFolderBtn);
    pNode->GetCheckBox()->SetVisible(m_bVisibleCheckBtn);
    if (m_uItemMinWidth > 0) pNode->SetMinWidth(static_cast<int>(m_uItemMinWidth));
}

bool CTreeViewUI::Add(CControlUI* pControl)
{
    CTreeNodeUI* node = AsTreeNode(pControl);
    if (!node) return false;
    Attach(node);
    if (!CListUI::Add(node)) return false;
    for (int i = 0; i < node->GetCountChild(); ++i) Add(node->GetChildNode(i));
    node->SetTreeView(this);
    return true;
}

long CTreeViewUI::AddAt(CTreeNodeUI* pControl, int iIndex)
{
    CTreeNodeUI* node = AsTreeNode(pControl);
    if (!node) return -1;
    // The index just past the last item appends: a child of the last node goes there.
    if (iIndex < 0 || iIndex > GetCount()) return -1;
    Attach(node);
    const bool inserted = iIndex == GetCount() ? CListUI::Add(node) : CListUI::AddAt(node, iIndex);
    if (!inserted) return -1;
    long next = iIndex + 1;
    for (int i = 0; i < node->GetCountChild() && next >= 0; ++i) next = AddAt(node->GetChildNode(i), next);
    node->SetTreeView(this);
    return next;
}

bool CTreeViewUI::AddAt(CTreeNodeUI* pControl, CTreeNodeUI* pIndexNode)
{
    if (!pIndexNode) return false;
    const int at = GetItemIndex(pIndexNode);
    if (at < 0) return false;
    return AddAt(pControl, at) >= 0;
}

bool CTreeViewUI::AddAt(CControlUI* pControl, int iIndex)
{
    CTreeNodeUI* node = AsTreeNode(pControl);
    if (!node) return false;
    return AddAt(node, iIndex) >= 0;
}

void CTreeViewUI::RemoveDescendants(CTreeNodeUI* pNode, bool bDoNotDestroy)
{
    for (int i = pNode->GetCountChild() - 1; i >= 0; --i) {
        CTreeNodeUI* child = pNode->GetChildNode(i);
        RemoveDescendants(child, bDoNotDestroy);
        if (bDoNotDestroy) child->SetTreeView(nullptr);
        CListUI::Remove(child, bDoNotDestroy);
    }
}

bool CTreeViewUI::Remove(CControlUI* pControl, bool bDoNotDestroy)
{
    CTreeNodeUI* node = AsTreeNode(pControl);
    if (!node || GetItemIndex(node) < 0) return CListUI::Remove(pControl, bDoNotDestroy);
    // A node leaves with its whole subtree, and its parent forgets it: nothing in
    // the list or in a parent may point at a node that is gone.
    if (CTreeNodeUI* parent = node->GetParentNode()) parent->RemoveChildNode(node);
    node->SetParentNode(nullptr);
    RemoveDescendants(node, bDoNotDestroy);
    if (bDoNotDestroy) node->SetTreeView(nullptr);
    return CListUI::Remove(node, bDoNotDestroy);
}

bool CTreeViewUI::RemoveAt(int iIndex, bool bDoNotDestroy)
{
    CControlUI* item = GetItemAt(iIndex);
    if (!item) return false;
    if (AsTreeNode(item)) return Remove(item, bDoNotDestroy);
    return CListUI::Remove(item, bDoNotDestroy);
}

void CTreeViewUI::RemoveAll() { CListUI::RemoveAll(); }

bool CTreeViewUI::OnCheckBoxChanged(void* param)
{
    UINotify* msg = static_cast<UINotify*>(param);
    if (!msg || !msg->sType.Equals(L"selectchanged")) return false;
    CCheckBoxUI* box = static_cast<CCheckBoxUI*>(msg->pSender);
    CControlUI* row = box ? box->GetParent() : nullptr;
    CTreeNodeUI* node = AsTreeNode(row ? row->GetParent() : nullptr);
    if (!node) return false;
    SetItemCheckBox(box->IsSelected(), node);
    return true;
}

bool CTreeViewUI::OnFolderChanged(void* param)
{
    UINotify* msg = static_cast<UINotify*>(param);
    if (!msg || !msg->sType.Equals(L"selectchanged")) return false;
    CCheckBoxUI* folder = static_cast<CCheckBoxUI*>(msg->pSender);
    CControlUI* row = folder ? folder->GetParent() : nullptr;
    CTreeNodeUI* node = AsTreeNode(row ? row->GetParent() : nullptr);
    if (!node) return false;
    node->SetNodeExpanded(!folder->IsSelected());
    SetItemExpand(node->IsNodeExpanded(), node);
    return true;
}

bool CTreeViewUI::OnDBClickItem(void* param)
{
    UINotify* msg = static_cast<UINotify*>(param);
    if (!msg || !msg->sType.Equals(L"itemdbclick")) return false;
    CTreeNodeUI* node = AsTreeNode(msg->pSender);
    if (!node) return false;
    CCheckBoxUI* folder = node->GetFolderButton();
    folder->Selected(!folder->IsSelected(), true);
    node->SetNodeExpanded(!folder->IsSelected());
    SetItemExpand(node->IsNodeExpanded(), node);
    return true;
}

bool CTreeViewUI::SetItemCheckBox(bool bSelected, CTreeNodeUI* pTreeNode)
{
    if (!pTreeNode) {
        ForEachNode([bSelected](CTreeNodeUI* n) { n->GetCheckBox()->Selected(bSelected, true); });
        return true;
    }
    for (int i = 0; i < pTreeNode->GetCountChild(); ++i) {
        CTreeNodeUI* child = pTreeNode->GetChildNode(i);
        child->GetCheckBox()->Selected(bSelected, true);
        SetItemCheckBox(bSelected, child);
    }
    return true;
}

void CTreeViewUI::SetItemExpand(bool bExpanded, CTreeNodeUI* pTreeNode)
{
    if (!pTreeNode) {
        ForEachNode([bExpanded](CTreeNodeUI* n) { n->SetVisible(bExpanded); });
        return;
    }
    for (int i = 0; i < pTreeNode->GetCountChild(); ++i) {
        CTreeNodeUI* child = pTreeNode->GetChildNode(i);
        child->SetVisible(bExpanded);
        if (child->IsHasChild() && !child->GetFolderButton()->IsSelected()) SetItemExpand(bExpanded, child);
    }
}

void CTreeViewUI::SetVisibleFolderBtn(bool bIsVisible)
{
    m_bVisibleFolderBtn = bIsVisible;
    ForEachNode([bIsVisible](CTreeNodeUI* n) { n->GetFolderButton()->SetVisible(bIsVisible); });
}

bool CTreeViewUI::GetVisibleFolderBtn() const { return m_bVisibleFolderBtn; }

void CTreeViewUI::SetVisibleCheckBtn(bool bIsVisible)
{
    m_bVisibleCheckBtn = bIsVisible;
    ForEachNode([bIsVisible](CTreeNodeUI* n) { n->GetCheckBox()->SetVisible(bIsVisible); });
}

bool CTreeViewUI::GetVisibleCheckBtn() const { return m_bVisibleCheckBtn; }

void CTreeViewUI::SetItemMinWidth(UINT uItemMinWidth)
{
    m_uItemMinWidth = uItemMinWidth;
    ForEachNode([uItemMinWidth](CTreeNodeUI* n) { n->SetMinWidth(static_cast<int>(uItemMinWidth)); });
    Invalidate();
}

UINT CTreeViewUI::GetItemMinWidth() const { return m_uItemMinWidth; }

void CTreeViewUI::SetNodesColour(void (CTreeNodeUI::*set)(DWORD), DWORD dwColor)
{
    ForEachNode([set, dwColor](CTreeNodeUI* n) { (n->*set)(dwColor); });
}

void CTreeViewUI::SetItemTextColor(DWORD dwItemTextColor)
{
    SetNodesColour(&CTreeNodeUI::SetItemTextColor, dwItemTextColor);
}

void CTreeViewUI::SetItemHotTextColor(DWORD dwItemHotTextColor)
{
    SetNodesColour(&CTreeNodeUI::SetItemHotTextColor, dwItemHotTextColor);
}

void CTreeViewUI::SetSelItemTextColor(DWORD dwSelItemTextColor)
{
    SetNodesColour(&CTreeNodeUI::SetSelItemTextColor, dwSelItemTextColor);
}

void CTreeViewUI::SetSelItemHotTextColor(DWORD dwSelHotItemTextColor)
{
    SetNodesColour(&CTreeNodeUI::SetSelItemHotTextColor, dwSelHotItemTextColor);
}

void CTreeViewUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    auto is = [pstrName](LPCWSTR n) { return std::wcscmp(pstrName, n) == 0; };
    if (is(L"visiblefolderbtn")) {
        SetVisibleFolderBtn(IsTrue(pstrValue));
    } else if (is(L"visiblecheckbtn")) {
        SetVisibleCheckBtn(IsTrue(pstrValue));
    } else if (is(L"itemminwidth")) {
        SetItemMinWidth(static_cast<UINT>(std::wcstoul(pstrValue ? pstrValue : L"0", nullptr, 10)));
    } else if (const ColourAttribute* colour = FindColourAttribute(pstrName)) {
        (this->*colour->onView)(ParseColorText(pstrValue));
    } else {
        CListUI::SetAttribute(pstrName, pstrValue);
    }
}

}  // namespace SkinUI
