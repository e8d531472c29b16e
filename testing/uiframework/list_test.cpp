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
using namespace listtest;

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
    // Only a disabled item follows: Down keeps the selection and its text.
    p.Send(combo, UIEventKeyDown, VK_HOME);
    combo->GetItemAt(1)->SetEnabled(false);
    p.Send(combo, UIEventKeyDown, VK_DOWN);
    EXPECT_EQ(combo->GetCurSel(), 0);
    EXPECT_STREQ(combo->GetText().GetData(), L"row 0");
}

TEST(Combo, ColoursWithoutHashKeepTheirFirstDigit)
{
    Page p(ComboPage(L"itemtextcolor=\"FF123456\" itemselectedbkcolor=\"#FF00FF00\"", 1));
    const ListInfo* info = p.Find<CComboUI>(L"combo")->GetListInfo();
    EXPECT_EQ(info->dwTextColor, 0xFF123456u);
    EXPECT_EQ(info->dwSelectedBkColor, 0xFF00FF00u);
}

std::wstring HeaderItems(int n, int width)
{
    std::wstring out = L"<ListHeader name=\"header\">";
    for (int i = 0; i < n; ++i) out += L"<ListHeaderItem width=\"" + std::to_wstring(width) + L"\" />";
    return out + L"</ListHeader>";
}

TEST(List, ColumnsComeFromTheHeaderEvenHiddenAndStopAt64)
{
    {
        Page p(ListPage(L"itemheight=\"20\"", HeaderItems(70, 4)), SIZE{400, 200});
        EXPECT_EQ(p.Find<CListUI>(L"list")->GetListInfo()->nColumns, 64);
    }
    Page p(ListPage(L"header=\"hidden\" itemheight=\"20\" inset=\"5,0,0,0\"",
                    HeaderItems(2, 50) + L"<ListHBoxElement name=\"row\"><Control name=\"a\" /><Control name=\"b\" />"
                                         L"<Control name=\"c\" /></ListHBoxElement>"));
    CListUI* list = p.Find<CListUI>(L"list");
    const ListInfo* info = list->GetListInfo();
    ASSERT_EQ(info->nColumns, 2);
    EXPECT_EQ(info->rcColumn[0].left, 5);
    EXPECT_EQ(info->rcColumn[0].right, 55);
    EXPECT_EQ(info->rcColumn[1].right, 105);
    EXPECT_FALSE(list->GetHeader()->GetItemAt(0)->IsVisible()) << "the items of a hidden header stay hidden";
    // The box element's children take one column each; the third finds none.
    EXPECT_EQ(p.Find<CControlUI>(L"a")->GetPos().right, 55);
    EXPECT_EQ(p.Find<CControlUI>(L"b")->GetPos().left, 55);
    EXPECT_EQ(p.Find<CControlUI>(L"b")->GetPos().right, 105);
    const RECT c = p.Find<CControlUI>(L"c")->GetPos();
    EXPECT_TRUE(::IsRectEmpty(&c));
    EXPECT_EQ(p.Find<CControlUI>(L"row")->GetPos().right - p.Find<CControlUI>(L"row")->GetPos().left, 100)
        << "the row spans the columns";
}

TEST(List, DraggingAHeaderSeparatorWidensItsColumn)
{
    Page p(ListPage(L"itemheight=\"20\"", L"<ListHeader name=\"header\" height=\"20\">"
                                           L"<ListHeaderItem name=\"h0\" width=\"80\" />"
                                           L"<ListHeaderItem name=\"h1\" width=\"60\" /></ListHeader>" +
                                               Rows(2)));
    CListUI* list = p.Find<CListUI>(L"list");
    CControlUI* h0 = p.Find<CControlUI>(L"h0");
    const RECT r = h0->GetPos();
    p.Send(h0, UIEventButtonDown, 0, {r.right - 2, r.top + 5});
    p.Send(h0, UIEventMouseMove, 0, {r.right + 28, r.top + 5});
    p.Send(h0, UIEventButtonUp, 0, {r.right + 28, r.top + 5});
    p.Relayout();
    EXPECT_EQ(h0->GetFixedWidth(), 110);
    EXPECT_EQ(list->GetListInfo()->rcColumn[0].right - list->GetListInfo()->rcColumn[0].left, 110);
    EXPECT_EQ(list->GetListInfo()->rcColumn[1].left, r.left + 110);
    EXPECT_TRUE(p.notes.Of(L"headerclick").empty()) << "a press on the separator is no click";
    // A press beside the separator is a header click.
    p.Send(h0, UIEventButtonDown, 0, {r.left + 5, r.top + 5});
    EXPECT_EQ(p.notes.Of(L"headerclick"), (std::vector<std::wstring>{L"headerclick h0 0 0"}));
    // Below the minimum width nothing changes.
    p.Send(h0, UIEventButtonUp, 0, {r.left + 5, r.top + 5});
    const RECT now = h0->GetPos();
    p.Send(h0, UIEventButtonDown, 0, {now.right - 2, now.top + 5});
    p.Send(h0, UIEventMouseMove, 0, {now.left + 10, now.top + 5});
    EXPECT_EQ(h0->GetFixedWidth(), 110);
}

TEST(List, MovingItemsRenumbersThemAndTheSelectionFollows)
{
    Page p(ListPage(L"itemheight=\"20\"", Rows(5)));
    CListUI* list = p.Find<CListUI>(L"list");
    ASSERT_TRUE(list->SelectItem(1));
    CControlUI* moved = list->GetItemAt(1);
    ASSERT_TRUE(list->SetItemIndex(moved, 3));
    EXPECT_EQ(list->GetItemAt(3), moved);
    EXPECT_EQ(list->GetCurSel(), 3);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(static_cast<IListItemUI*>(list->GetItemAt(i)->GetInterface(L"IListItem"))->GetIndex(), i);
    ASSERT_TRUE(list->SetMultiItemIndex(list->GetItemAt(2), 2, 0));
    EXPECT_EQ(list->GetItemAt(1), moved);
    EXPECT_EQ(list->GetCurSel(), 1);
    EXPECT_FALSE(list->SetMultiItemIndex(list->GetItemAt(0), 2, 4)) << "past the end";
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(static_cast<IListItemUI*>(list->GetItemAt(i)->GetInterface(L"IListItem"))->GetIndex(), i);
}

TEST(List, ExpandableContainerElementsExpandOneAtATime)
{
    Page p(ListPage(L"itemheight=\"20\"", L"<ListContainerElement name=\"e0\" expandable=\"true\" />"
                                           L"<ListContainerElement name=\"e1\" expandable=\"true\" />"));
    CListUI* list = p.Find<CListUI>(L"list");
    auto* e0 = p.Find<CListContainerElementUI>(L"e0");
    auto* e1 = p.Find<CListContainerElementUI>(L"e1");
    ASSERT_TRUE(e0->Expand(true));
    EXPECT_EQ(list->GetExpandedItem(), 0);
    ASSERT_TRUE(e1->Expand(true));
    EXPECT_EQ(list->GetExpandedItem(), 1);
    EXPECT_FALSE(e0->IsExpanded()) << "without multi-expanding the other one collapses";
    EXPECT_EQ(p.notes.Of(L"itemexpand"), (std::vector<std::wstring>{L"itemexpand e0 0 0", L"itemexpand e1 0 0"}));
    EXPECT_EQ(e0->EstimateSize(SIZE{100, 100}).cy, 20) << "the owner's item height";
}

struct Cells : IListTextProvider {
    CUIString GetItemText(CControlUI*, int iIndex, int iSubItem) override
    {
        return iSubItem == 1 ? CUIString(iIndex == 0 ? L"{a x}link{/a}" : L"") : CUIString(L"cell");
    }
};

TEST(List, TextElementsDrawProviderTextsPerColumnAndReportTheirLinks)
{
    Page p(ListPage(L"itemheight=\"20\" itemshowhtml=\"true\"",
                    L"<ListHeader><ListHeaderItem width=\"60\" /><ListHeaderItem width=\"60\" /></ListHeader>"
                    L"<ListTextElement name=\"t0\" /><ListTextElement name=\"t1\" />"));
    CListUI* list = p.Find<CListUI>(L"list");
    Cells cells;
    list->SetListWord(&cells);
    p.Relayout();
    auto* t0 = p.Find<CListTextElementUI>(L"t0");
    const RECT rc = t0->GetPos();
    Canvas canvas(300, 300);
    t0->DrawItemText(canvas.Dc(), rc);
    ASSERT_EQ(t0->GetLinkCount(), 1);
    const RECT link = t0->GetLinkRect(0);
    EXPECT_GE(link.left, list->GetListInfo()->rcColumn[1].left) << "the link lies in the second column";
    EXPECT_EQ(t0->GetControlFlags(), 6u) << "with a link it asks for the cursor";
    p.Send(t0, UIEventButtonUp, 0, {link.left + 1, (link.top + link.bottom) / 2});
    EXPECT_EQ(p.notes.Of(L"link"), (std::vector<std::wstring>{L"link t0 0 0"}));
    const RECT first = {rc.left, rc.top, list->GetListInfo()->rcColumn[0].right, rc.bottom};
    EXPECT_NE(canvas.InkBounds().right, 0);
    EXPECT_TRUE(canvas.HasColor(first, 0x000000, 120)) << "the first column's text";
}

}  // namespace
