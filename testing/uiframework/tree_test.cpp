// The tree view: nodes built by the dialog builder as rows of the list, child
// nodes placed after their parent's subtree, and subtrees taken out whole.
// Double clicks and check boxes under real input: checks/check_input.py (tree).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "UIDlgBuilder.h"
#include "UIManager.h"
#include "UITreeView.h"

using namespace SkinUI;

namespace {

// A hidden window whose manager holds a tree built from text, laid out at once.
struct TreePage {
    explicit TreePage(const std::wstring& nodes, const std::wstring& treeAttrs = L"")
    {
        hwnd = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr);
        manager.Init(hwnd);
        const std::wstring layout = L"<Window><VerticalLayout name=\"root\"><TreeView name=\"tree\" " + treeAttrs +
                                    L">" + nodes + L"</TreeView></VerticalLayout></Window>";
        CDialogBuilder builder;
        root = builder.Create(CUIStringOrId(layout.c_str()), nullptr, nullptr, &manager);
        if (root) {
            manager.AttachRootControl(root);
            root->SetPos(RECT{0, 0, 300, 300});
        }
        tree = static_cast<CTreeViewUI*>(manager.FindControlByName(L"tree"));
    }
    ~TreePage() { ::DestroyWindow(hwnd); }
    CTreeNodeUI* Node(LPCWSTR name) { return static_cast<CTreeNodeUI*>(manager.FindControlByName(name)); }
    // The names of the list's items in order.
    std::wstring Order() const
    {
        std::wstring out;
        for (int i = 0; i < tree->GetCount(); ++i) out += std::wstring(i ? L" " : L"") + tree->GetItemAt(i)->GetName().GetData();
        return out;
    }
    std::wstring Children(CTreeNodeUI* node) const
    {
        std::wstring out;
        for (int i = 0; i < node->GetCountChild(); ++i) out += std::wstring(i ? L" " : L"") + node->GetChildNode(i)->GetName().GetData();
        return out;
    }

    HWND hwnd = nullptr;
    CWindowManagerUI manager;
    CControlUI* root = nullptr;
    CTreeViewUI* tree = nullptr;
};

// n1 { n11 { n111 }, n12 }, n2
const wchar_t kNodes[] =
    L"<TreeNode name=\"n1\" text=\"A\"><TreeNode name=\"n11\" text=\"A.1\"><TreeNode name=\"n111\" text=\"A.1.a\" />"
    L"</TreeNode><TreeNode name=\"n12\" text=\"A.2\" /></TreeNode><TreeNode name=\"n2\" text=\"B\" />";

CTreeNodeUI* NewNode(LPCWSTR name)
{
    CTreeNodeUI* node = new CTreeNodeUI;
    node->SetName(name);
    return node;
}

// Counts the destruction of the controls it watches.
int g_destroyed = 0;
bool CountDestroy(void*)
{
    ++g_destroyed;
    return true;
}

}  // namespace

TEST(TreeView, BuilderMakesEveryNodeARowOfTheListInDocumentOrder)
{
    for (LPCWSTR tag : {L"TreeView", L"Tree"}) {
        std::wstring layout = std::wstring(L"<Window><VerticalLayout name=\"root\"><") + tag + L" name=\"tree\">" +
                              kNodes + L"</" + tag + L"></VerticalLayout></Window>";
        CWindowManagerUI manager;
        CDialogBuilder builder;
        CControlUI* root = builder.Create(CUIStringOrId(layout.c_str()), nullptr, nullptr, &manager);
        ASSERT_NE(root, nullptr) << tag;
        CTreeViewUI* tree = static_cast<CTreeViewUI*>(root->GetInterface(L"IContainer") ?
                                                          static_cast<CContainerUI*>(root)->GetItemAt(0) : nullptr);
        ASSERT_NE(tree, nullptr);
        EXPECT_STREQ(tree->GetClass(), L"TreeView") << tag;
        EXPECT_EQ(tree->GetCount(), 5) << tag;
        EXPECT_FALSE(tree->GetHeader()->IsVisible());
        root->Delete();
    }
    TreePage p(kNodes);
    ASSERT_NE(p.tree, nullptr);
    EXPECT_EQ(p.Order(), L"n1 n11 n111 n12 n2");
    EXPECT_EQ(p.Children(p.Node(L"n1")), L"n11 n12");
    EXPECT_EQ(p.Node(L"n111")->GetParentNode(), p.Node(L"n11"));
    EXPECT_EQ(p.Node(L"n111")->GetTreeView(), p.tree);
    // Each level 16 pixels deeper; the top level shows no dot line.
    EXPECT_FALSE(p.Node(L"n1")->GetDottedLine()->IsVisible());
    EXPECT_EQ(p.Node(L"n11")->GetDottedLine()->GetFixedWidth(), 18);
    EXPECT_EQ(p.Node(L"n111")->GetDottedLine()->GetFixedWidth(), 34);
    EXPECT_STREQ(p.Node(L"n12")->GetItemText().GetData(), L"A.2");
    EXPECT_EQ(p.Node(L"n1")->GetItemAt(0), p.Node(L"n1")->GetTreeNodeHoriznotal());
}

TEST(TreeView, BuilderPutsOtherControlsIntoTheNodesRowAndRefusesNodesOutsideATree)
{
    TreePage p(L"<TreeNode name=\"n1\"><Label name=\"extra\" /></TreeNode>");
    CControlUI* extra = p.manager.FindControlByName(L"extra");
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(extra->GetParent(), p.Node(L"n1")->GetTreeNodeHoriznotal());
    EXPECT_EQ(p.Node(L"n1")->GetTreeNodeHoriznotal()->GetCount(), 5);

    CWindowManagerUI manager;
    CDialogBuilder builder;
    CControlUI* root = builder.Create(
        CUIStringOrId(L"<Window><VerticalLayout name=\"root\"><TreeNode name=\"stray\"><TreeNode name=\"s1\" />"
                      L"</TreeNode><Label name=\"after\" /></VerticalLayout></Window>"),
        nullptr, nullptr, &manager);
    ASSERT_NE(root, nullptr);
    // The level that met the stray node ends there.
    EXPECT_EQ(static_cast<CContainerUI*>(root)->GetCount(), 0);
    root->Delete();
}

TEST(TreeView, AChildNodeIsShownAfterItsParentsSubtreeOneLevelDeeper)
{
    TreePage p(kNodes, L"visiblecheckbtn=\"true\"");
    EXPECT_TRUE(p.Node(L"n1")->GetCheckBox()->IsVisible());
    ASSERT_TRUE(p.Node(L"n11")->Add(NewNode(L"n112")));
    EXPECT_EQ(p.Order(), L"n1 n11 n111 n112 n12 n2");
    EXPECT_EQ(p.Node(L"n112")->GetDottedLine()->GetFixedWidth(), 34);
    EXPECT_TRUE(p.Node(L"n112")->GetDottedLine()->IsVisible());
    EXPECT_TRUE(p.Node(L"n112")->GetCheckBox()->IsVisible());   // the view's setting reaches new nodes
    EXPECT_EQ(p.Children(p.Node(L"n11")), L"n111 n112");
    // The last node of the view takes children too: they go to the end.
    ASSERT_TRUE(p.Node(L"n2")->Add(NewNode(L"n21")));
    EXPECT_EQ(p.Order(), L"n1 n11 n111 n112 n12 n2 n21");
    EXPECT_EQ(p.Node(L"n21")->GetTreeIndex(), 6);
    // Inserted at a child's index: before that child's subtree; past the last
    // child: after the whole subtree.
    ASSERT_TRUE(p.Node(L"n1")->AddAt(NewNode(L"n10"), 0));
    ASSERT_TRUE(p.Node(L"n1")->AddAt(NewNode(L"n13"), 9));
    EXPECT_EQ(p.Order(), L"n1 n10 n11 n111 n112 n12 n13 n2 n21");
    EXPECT_EQ(p.Children(p.Node(L"n1")), L"n10 n11 n12 n13");
    // A node with its subtree inserted into the view.
    CTreeNodeUI* n3 = NewNode(L"n3");
    n3->Add(NewNode(L"n31"));
    EXPECT_EQ(p.tree->AddAt(n3, 1), 3);
    EXPECT_EQ(p.Order(), L"n1 n3 n31 n10 n11 n111 n112 n12 n13 n2 n21");
    EXPECT_EQ(p.tree->AddAt(NewNode(L"x"), 99), -1) << "nothing at that index";
    p.tree->SetVisibleCheckBtn(false);
    EXPECT_FALSE(p.Node(L"n31")->GetCheckBox()->IsVisible());
}

TEST(TreeView, ExpandAndCheckWalkTheSubtree)
{
    TreePage p(kNodes);
    p.Node(L"n11")->GetFolderButton()->Selected(true);   // n11 collapsed by its button
    EXPECT_FALSE(p.Node(L"n111")->IsVisible());
    p.tree->SetItemExpand(false, p.Node(L"n1"));
    EXPECT_FALSE(p.Node(L"n11")->IsVisible());
    EXPECT_FALSE(p.Node(L"n12")->IsVisible());
    p.tree->SetItemExpand(true, p.Node(L"n1"));
    EXPECT_TRUE(p.Node(L"n11")->IsVisible());
    EXPECT_FALSE(p.Node(L"n111")->IsVisible()) << "under a collapsed child";
    EXPECT_TRUE(p.Node(L"n2")->IsVisible());
    p.Node(L"n1")->GetCheckBox()->Selected(true);
    for (LPCWSTR n : {L"n11", L"n111", L"n12"}) EXPECT_TRUE(p.Node(n)->GetCheckBox()->IsSelected()) << n;
    EXPECT_FALSE(p.Node(L"n2")->GetCheckBox()->IsSelected());
}

// Removing a node takes its descendants out of the list and the node out of its
// parent's children; nothing is left pointing at a freed node.
TEST(TreeView, RemoveTakesTheWholeSubtreeOut)
{
    TreePage p(kNodes);
    CTreeNodeUI* n1 = p.Node(L"n1");
    ASSERT_TRUE(p.tree->Remove(p.Node(L"n11")));
    EXPECT_EQ(p.Order(), L"n1 n12 n2");
    EXPECT_EQ(p.Children(n1), L"n12");
    // Kept for the caller: the subtree stays whole and can come back.
    CTreeNodeUI* n12 = p.Node(L"n12");
    n12->Add(NewNode(L"n121"));
    EXPECT_EQ(p.Order(), L"n1 n12 n121 n2");
    ASSERT_TRUE(p.tree->Remove(n12, true));
    EXPECT_EQ(p.Order(), L"n1 n2");
    EXPECT_EQ(n1->GetCountChild(), 0);
    EXPECT_EQ(n12->GetCountChild(), 1);
    EXPECT_EQ(n12->GetParentNode(), nullptr);
    ASSERT_TRUE(p.tree->Add(n12));
    EXPECT_EQ(p.Order(), L"n1 n2 n12 n121");
}

TEST(TreeView, RemoveAtKeepsTheNodeWhenAskedTo)
{
    g_destroyed = 0;
    TreePage p(kNodes);
    // Destroyed items go at once, not at the manager's next cleanup.
    p.tree->GetList()->SetDelayedDestroy(false);
    CTreeNodeUI* kept = p.Node(L"n2");
    kept->OnDestroy += MakeDelegate(&CountDestroy);
    ASSERT_TRUE(p.tree->RemoveAt(kept->GetTreeIndex(), true));
    EXPECT_EQ(p.Order(), L"n1 n11 n111 n12");
    ASSERT_EQ(g_destroyed, 0) << "the node was destroyed although the caller kept it";
    EXPECT_FALSE(p.tree->RemoveAt(4));
    // Still whole: it goes back, then really away.
    ASSERT_TRUE(p.tree->Add(kept));
    EXPECT_EQ(p.Order(), L"n1 n11 n111 n12 n2");
    ASSERT_TRUE(p.tree->RemoveAt(4));
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(p.Order(), L"n1 n11 n111 n12");
}

TEST(TreeView, ItemTextColoursFollowHoverAndSelection)
{
    TreePage p(kNodes, L"itemtextcolor=\"#FF000001\" itemhottextcolor=\"FF000002\" selitemtextcolor=\"#FF000003\" "
                       L"itemminwidth=\"120\"");
    CTreeNodeUI* n2 = p.Node(L"n2");
    EXPECT_EQ(n2->GetMinWidth(), 120);
    EXPECT_EQ(n2->GetItemButton()->GetTextColor(), 0xFF000001u);
    auto send = [&](int type) {
        UIEvent e = {};
        e.Type = type;
        e.pSender = n2;
        const RECT rc = n2->GetPos();
        e.ptMouse = POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
        n2->Event(e);
    };
    send(UIEventMouseEnter);
    EXPECT_EQ(n2->GetItemButton()->GetTextColor(), 0xFF000002u) << "hot";
    p.tree->SelectItem(n2->GetTreeIndex());
    EXPECT_EQ(n2->GetItemButton()->GetTextColor(), 0xFF000003u) << "selected";
    send(UIEventMouseEnter);
    EXPECT_EQ(n2->GetItemButton()->GetTextColor(), 0xFF000002u) << "selected and hot without its own colour";
    p.tree->SetSelItemHotTextColor(0xFF000004);
    send(UIEventMouseEnter);
    EXPECT_EQ(n2->GetItemButton()->GetTextColor(), 0xFF000004u) << "selected and hot";
    p.tree->SelectItem(-1);
    EXPECT_EQ(n2->GetItemButton()->GetTextColor(), 0xFF000001u) << "deselected";
}
