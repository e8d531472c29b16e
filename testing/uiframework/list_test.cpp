// The list, its elements and the combo box: layouts built by the dialog
// builder onto a window manager of a real (hidden) window, events fed to the
// controls, notifications recorded, rows painted into memory canvases.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "UIBase.h"
#include "UICombo.h"
#include "UIDlgBuilder.h"
#include "UIList.h"
#include "UIListElements.h"
#include "UIManager.h"
#include "UIScrollBar.h"
#include "draw_support.h"
#include "list_support.h"

using namespace SkinUI;
using uitest::Canvas;
using namespace uitest;

namespace {

TEST(List, BuilderMakesTheListWithHeaderBodyAndIndexedItems)
{
    Page p(ListPage(L"itemheight=\"20\"", L"<ListHeader><ListHeaderItem name=\"h0\" width=\"100\" />"
                                          L"<ListHeaderItem name=\"h1\" width=\"60\" /></ListHeader>" +
                                              Rows(3)));
    CListUI* list = p.Find<CListUI>(L"list");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetCount(), 3);
    EXPECT_EQ(list->GetHeader()->GetCount(), 2);
    EXPECT_EQ(list->GetInterface(L"IList"), static_cast<IListUI*>(list));
    EXPECT_EQ(list->GetInterface(L"IListOwner"), static_cast<IListOwnerUI*>(list));
    for (int i = 0; i < 3; ++i) {
        IListItemUI* item = static_cast<IListItemUI*>(list->GetItemAt(i)->GetInterface(L"IListItem"));
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->GetIndex(), i);
        EXPECT_EQ(item->GetOwner(), static_cast<IListOwnerUI*>(list));
    }
    const ListInfo* info = list->GetListInfo();
    EXPECT_EQ(info->nColumns, 2);
    EXPECT_EQ(info->rcColumn[0].right - info->rcColumn[0].left, 100);
    EXPECT_EQ(info->rcColumn[1].left, info->rcColumn[0].right);
    // Rows at the item height under the header.
    const RECT r0 = list->GetItemAt(0)->GetPos();
    const RECT r1 = list->GetItemAt(1)->GetPos();
    EXPECT_EQ(r0.bottom - r0.top, 20);
    EXPECT_EQ(r1.top, r0.bottom);
    EXPECT_GE(r0.top, list->GetHeader()->GetPos().bottom);
}

TEST(List, SelectionNotifiesOnlyChangesAndFollowsRemoval)
{
    Page p(ListPage(L"itemheight=\"20\"", Rows(4)));
    CListUI* list = p.Find<CListUI>(L"list");
    ASSERT_TRUE(list->SelectItem(1));
    EXPECT_TRUE(list->SelectItem(1)) << "the current index again";
    EXPECT_EQ(p.notes.Of(L"itemselect"), (std::vector<std::wstring>{L"itemselect list 1 -1"}));
    EXPECT_TRUE(static_cast<IListItemUI*>(list->GetItemAt(1)->GetInterface(L"IListItem"))->IsSelected());

    EXPECT_FALSE(list->SelectItem(-1)) << "deselects and answers false";
    EXPECT_EQ(list->GetCurSel(), -1);
    EXPECT_FALSE(static_cast<IListItemUI*>(list->GetItemAt(1)->GetInterface(L"IListItem"))->IsSelected());

    list->GetItemAt(2)->SetEnabled(false);
    EXPECT_FALSE(list->SelectItem(2)) << "a disabled item";
    EXPECT_FALSE(list->SelectItem(9)) << "past the end";

    ASSERT_TRUE(list->SelectItem(3));
    p.notes.log.clear();
    // Removing the selected last item: the nearest selectable one before it.
    ASSERT_TRUE(list->RemoveAt(3));
    EXPECT_EQ(list->GetCurSel(), 1);
    EXPECT_EQ(p.notes.Of(L"itemselect"), (std::vector<std::wstring>{L"itemselect list 1 -1"}));
    // Removing an item before the selection moves it down by one.
    ASSERT_TRUE(list->RemoveAt(0));
    EXPECT_EQ(list->GetCurSel(), 0);
    EXPECT_EQ(static_cast<IListItemUI*>(list->GetItemAt(1)->GetInterface(L"IListItem"))->GetIndex(), 1);
    // Hiding the selected item leaves the list without a selection.
    list->GetItemAt(0)->SetVisible(false);
    EXPECT_EQ(list->GetCurSel(), -1);
}

TEST(List, KeysSelectAndANavigationKeyNeverDeselects)
{
    Page p(ListPage(L"itemheight=\"20\"", Rows(5)));
    CListUI* list = p.Find<CListUI>(L"list");
    list->GetItemAt(4)->SetEnabled(false);
    list->GetItemAt(3)->SetVisible(false);
    CControlUI* first = list->GetItemAt(0);
    ASSERT_TRUE(list->SelectItem(0));
    p.Send(first, UIEventKeyDown, VK_UP);
    EXPECT_EQ(list->GetCurSel(), 0) << "Up on the first item";
    p.Send(first, UIEventKeyDown, VK_DOWN);
    EXPECT_EQ(list->GetCurSel(), 1);
    p.Send(list, UIEventKeyDown, VK_END);
    EXPECT_EQ(list->GetCurSel(), 1) << "End: the last item is disabled; the selection stays";
    p.Send(list, UIEventKeyDown, VK_DOWN);
    EXPECT_EQ(list->GetCurSel(), 2);
    // Only a hidden and a disabled item follow: Down keeps the selection.
    p.Send(list, UIEventKeyDown, VK_DOWN);
    EXPECT_EQ(list->GetCurSel(), 2);
    p.Send(list, UIEventKeyDown, VK_HOME);
    EXPECT_EQ(list->GetCurSel(), 0);
    EXPECT_EQ(p.notes.Of(L"itemselect"), (std::vector<std::wstring>{L"itemselect list 0 -1", L"itemselect list 1 0",
                                                                     L"itemselect list 2 1", L"itemselect list 0 2"}));
    EXPECT_EQ(p.manager.GetFocus(), list->GetItemAt(0)) << "keys select with focus";
}

TEST(List, ColoursWithoutHashKeepTheirFirstDigit)
{
    Page p(ListPage(L"itemtextcolor=\"FF123456\" itembkcolor=\"#FF654321\" itemhlinecolor=\" #FF00FF00\"", Rows(1)));
    const ListInfo* info = p.Find<CListUI>(L"list")->GetListInfo();
    EXPECT_EQ(info->dwTextColor, 0xFF123456u);
    EXPECT_EQ(info->dwBkColor, 0xFF654321u);
    EXPECT_EQ(info->dwHLineColor, 0xFF00FF00u);
}

TEST(Combo, SelectsByIndexClampsAndFollowsRemoval)
{
    Page p(ComboPage(L"", 3));
    CComboUI* combo = p.Find<CComboUI>(L"combo");
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->GetCount(), 3);
    EXPECT_EQ(combo->GetCurSel(), -1);
    EXPECT_TRUE(combo->GetText().IsEmpty());
    ASSERT_TRUE(combo->SelectItem(1));
    EXPECT_STREQ(combo->GetText().GetData(), L"row 1");
    ASSERT_TRUE(combo->SelectItem(3 + 5)) << "past the end: the last item";
    EXPECT_EQ(combo->GetCurSel(), 2);
    ASSERT_TRUE(combo->RemoveAt(2));
    EXPECT_EQ(combo->GetCurSel(), 1) << "the nearest selectable item at or before it";
    EXPECT_EQ(p.notes.Of(L"itemselect"), (std::vector<std::wstring>{L"itemselect combo 1 -1", L"itemselect combo 2 1",
                                                                     L"itemselect combo 1 -1"}));
    // Keys step through the items; a step that finds nothing keeps the selection.
    p.Send(combo, UIEventKeyDown, VK_DOWN);
    EXPECT_EQ(combo->GetCurSel(), 1);
    p.Send(combo, UIEventKeyDown, VK_HOME);
    EXPECT_EQ(combo->GetCurSel(), 0);
    p.Send(combo, UIEventMouseWheel, 0, {0, 0}, 1);
    EXPECT_EQ(combo->GetCurSel(), 1);
}

TEST(Combo, ColoursWithoutHashKeepTheirFirstDigit)
{
    Page p(ComboPage(L"itemtextcolor=\"FF123456\" itemselectedbkcolor=\"#FF00FF00\"", 1));
    const ListInfo* info = p.Find<CComboUI>(L"combo")->GetListInfo();
    EXPECT_EQ(info->dwTextColor, 0xFF123456u);
    EXPECT_EQ(info->dwSelectedBkColor, 0xFF00FF00u);
}

}  // namespace
