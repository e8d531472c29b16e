// The list, its elements and the combo box: layouts built by the dialog
// builder onto a window manager of a real (hidden) window, events fed to the
// controls, notifications recorded, rows painted into memory canvases.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "UIBase.h"
#include "UIDlgBuilder.h"
#include "UIList.h"
#include "UIListElements.h"
#include "UIManager.h"
#include "UIScrollBar.h"
#include "draw_support.h"

using namespace SkinUI;
using uitest::Canvas;

namespace {

struct Recorder : INotifyUI {
    std::vector<std::wstring> log;   // "type sender wParam lParam"
    void Notify(UINotify& msg) override
    {
        log.push_back(std::wstring(msg.sType.GetData()) + L" " + (msg.pSender ? msg.pSender->GetName().GetData() : L"") +
                      L" " + std::to_wstring(msg.wParam) + L" " + std::to_wstring(static_cast<long>(msg.lParam)));
    }
    // The notifications of one type, in order.
    std::vector<std::wstring> Of(const std::wstring& type) const
    {
        std::vector<std::wstring> out;
        for (const auto& l : log)
            if (l.compare(0, type.size() + 1, type + L" ") == 0) out.push_back(l);
        return out;
    }
};

// A hidden top-level window whose manager holds a layout built from text; the
// root is laid out over `size` at once.
class Page {
public:
    explicit Page(const std::wstring& layout, SIZE size = {300, 300})
    {
        m_hwnd = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, size.cx, size.cy, nullptr, nullptr, nullptr,
                                   nullptr);
        manager.Init(m_hwnd);
        CDialogBuilder builder;
        root = builder.Create(CUIStringOrId(layout.c_str()), nullptr, nullptr, &manager);
        if (root) manager.AttachRootControl(root);
        manager.AddNotifyListener(&notes);
        if (root) root->SetPos(RECT{0, 0, size.cx, size.cy});
    }
    ~Page()
    {
        manager.KillAllTimers();
        ::DestroyWindow(m_hwnd);
    }
    template <class T>
    T* Find(LPCWSTR name)
    {
        return static_cast<T*>(manager.FindControlByName(name));
    }
    HWND Hwnd() const { return m_hwnd; }
    void Send(CControlUI* c, int type, WORD key = 0, POINT pt = {0, 0}, WPARAM wParam = 0)
    {
        UIEvent e = {};
        e.Type = type;
        e.pSender = c;
        e.ptMouse = pt;
        e.wParam = wParam;
        e.chKey = key;
        c->Event(e);
    }
    void Relayout() { root->SetPos(root->GetPos()); }

    CWindowManagerUI manager;
    CControlUI* root = nullptr;
    Recorder notes;

private:
    HWND m_hwnd = nullptr;
};

void Pump()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

std::wstring Rows(int n, LPCWSTR extra = L"")
{
    std::wstring out;
    for (int i = 0; i < n; ++i) {
        out += L"<ListLabelElement name=\"r" + std::to_wstring(i) + L"\" text=\"row " + std::to_wstring(i) + L"\" " +
               extra + L"/>";
    }
    return out;
}

std::wstring ListPage(const std::wstring& listAttrs, const std::wstring& items)
{
    return L"<Window><VerticalLayout name=\"root\"><List name=\"list\" " + listAttrs + L">" + items +
           L"</List></VerticalLayout></Window>";
}

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

}  // namespace
