// The combo box's pop-up window: where it opens, what it holds, how it closes;
// run under a display of its own (a pop-up needs a real owner window).
#include <gtest/gtest.h>

#include <windows.h>

#include "UICombo.h"
#include "list_support.h"

using namespace SkinUI;
using namespace uitest;

namespace {

TEST(Combo, TheDropDownTakesTheItemsWidthAndHeightAndGivesThemBack)
{
    Page p(ComboPage(L"", 3, L"10,10,130,34"));
    CComboUI* combo = p.Find<CComboUI>(L"combo");
    ASSERT_TRUE(combo->Activate());
    CComboWnd* drop = combo->GetDropDown();
    ASSERT_NE(drop, nullptr);
    const HWND popup = drop->GetHWND();
    ASSERT_TRUE(::IsWindow(popup));
    EXPECT_EQ(p.notes.Of(L"dropdown").size(), 1u);
    RECT rc;
    ::GetWindowRect(popup, &rc);
    POINT origin = {0, 0};
    ::ClientToScreen(p.Hwnd(), &origin);
    EXPECT_EQ(rc.left - origin.x, 10);
    EXPECT_EQ(rc.top - origin.y, 34) << "under the box";
    EXPECT_EQ(rc.right - rc.left, 120) << "width 0: the box's own";
    EXPECT_EQ(rc.bottom - rc.top, 3 * 20 + 4) << "the items' heights and 4, under the 150 of the drop box";
    EXPECT_EQ(combo->GetItemAt(0)->GetManager(), &drop->GetManager()) << "the pop-up holds the items";
    EXPECT_TRUE(combo->Activate()) << "already open";

    ::PostMessageW(popup, WM_CLOSE, 0, 0);
    Pump();
    EXPECT_FALSE(::IsWindow(popup));
    EXPECT_EQ(combo->GetDropDown(), nullptr);
    EXPECT_EQ(combo->GetItemAt(0)->GetManager(), &p.manager) << "the items are back";
}

TEST(Combo, ADropBoxTooLowForTheScreenOpensAbove)
{
    MONITORINFO mi = {};
    mi.cbSize = sizeof(mi);
    ::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &mi);
    const int top = mi.rcWork.bottom - 40;
    Page p(ComboPage(L"dropboxsize=\"200,50\"", 5, (L"0," + std::to_wstring(top) + L",100," +
                                                       std::to_wstring(top + 24)).c_str()),
           SIZE{300, mi.rcWork.bottom});
    CComboUI* combo = p.Find<CComboUI>(L"combo");
    ASSERT_TRUE(combo->Activate());
    RECT rc;
    ::GetWindowRect(combo->GetDropDown()->GetHWND(), &rc);
    POINT origin = {0, 0};
    ::ClientToScreen(p.Hwnd(), &origin);
    EXPECT_EQ(rc.bottom - origin.y, top) << "it ends where the box begins";
    EXPECT_EQ(rc.bottom - rc.top, 50) << "at most the drop box's height";
    EXPECT_EQ(rc.right - rc.left, 200) << "the drop box's width";
}

TEST(Combo, EscapeInTheDropDownRestoresTheSelectionAtOpening)
{
    Page p(ComboPage(L"", 3));
    CComboUI* combo = p.Find<CComboUI>(L"combo");
    ASSERT_TRUE(combo->SelectItem(0));
    ASSERT_TRUE(combo->Activate());
    const HWND popup = combo->GetDropDown()->GetHWND();
    ::SendMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
    ::SendMessageW(popup, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(combo->GetCurSel(), 2);
    EXPECT_TRUE(::IsWindow(popup)) << "keys select without closing";
    ::SendMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(combo->GetCurSel(), 0);
    Pump();
    EXPECT_FALSE(::IsWindow(popup));
    EXPECT_EQ(p.notes.Of(L"itemselect"), (std::vector<std::wstring>{L"itemselect combo 0 -1", L"itemselect combo 1 0",
                                                                     L"itemselect combo 2 1", L"itemselect combo 0 2"}));
}

TEST(Combo, LosingFocusClosesThePopUpAfterTheFocusChangeNotInsideIt)
{
    Page p(ComboPage(L"", 2));
    CComboUI* combo = p.Find<CComboUI>(L"combo");
    ASSERT_TRUE(combo->Activate());
    const HWND popup = combo->GetDropDown()->GetHWND();
    ::SendMessageW(popup, WM_KILLFOCUS, reinterpret_cast<WPARAM>(p.Hwnd()), 0);
    EXPECT_TRUE(::IsWindow(popup)) << "the close is posted, not run inside WM_KILLFOCUS";
    EXPECT_NE(combo->GetDropDown(), nullptr);
    Pump();
    EXPECT_FALSE(::IsWindow(popup));
    EXPECT_EQ(combo->GetDropDown(), nullptr);
}

TEST(Combo, DestroyingAnOpenComboDestroysItsPopUp)
{
    Page p(ComboPage(L"", 2));
    CComboUI* combo = p.Find<CComboUI>(L"combo");
    ASSERT_TRUE(combo->Activate());
    const HWND popup = combo->GetDropDown()->GetHWND();
    CContainerUI* root = static_cast<CContainerUI*>(p.root);
    root->SetDelayedDestroy(false);
    ASSERT_TRUE(root->Remove(combo));
    EXPECT_FALSE(::IsWindow(popup)) << "no pop-up left behind with the items of a freed box";
    Pump();
}

}  // namespace
