// Window manager, builder and window base: the cases that need no screen of
// their own (a message-only window carries timers and the notification queue).
#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "UIBase.h"
#include "UIContainer.h"
#include "UIRender.h"
#include "UIDlgBuilder.h"
#include "UIManager.h"

using namespace SkinUI;

namespace {

struct MessageWindow {
    HWND hwnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ~MessageWindow()
    {
        if (hwnd) ::DestroyWindow(hwnd);
    }
};

struct Recorder : INotifyUI {
    std::vector<std::wstring> types;
    std::vector<CControlUI*> senders;
    void Notify(UINotify& msg) override
    {
        types.push_back(msg.sType.GetData());
        senders.push_back(msg.pSender);
    }
};

int CountPosted(HWND hwnd, UINT message)
{
    int n = 0;
    MSG msg;
    while (::PeekMessageW(&msg, hwnd, message, message, PM_REMOVE)) ++n;
    return n;
}

TEST(NumberLists, StopAtTheTerminatorAndMissingNumbersAreZero)
{
    // What follows the terminator must never be read as more numbers.
    const wchar_t buffer[] = L"5\0" L"9,9,9";
    struct Case {
        LPCWSTR text;
        int want[4];
    } const cases[] = {
        {buffer, {5, 0, 0, 0}},
        {L"1,2", {1, 2, 0, 0}},
        {L"1,2,3,4", {1, 2, 3, 4}},
        {L"-10,-5,10,5", {-10, -5, 10, 5}},
        {L"", {0, 0, 0, 0}},
        {L"7,", {7, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        int v[4] = {-1, -1, -1, -1};
        ReadNumberList(c.text, v, 4);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(v[i], c.want[i]) << "number " << i << " of \"" << c.text << "\"";
    }
}

TEST(MultiLanguage, TokensAreReplacedOnceAndATextHoldingItsOwnTokenEnds)
{
    CWindowManagerUI::AddMultiLanguageString(5, L"x%{5}");
    CWindowManagerUI::AddMultiLanguageString(6, L"six");
    struct Case {
        LPCWSTR in;
        LPCWSTR out;
    } const cases[] = {
        {L"a%{5}b", L"ax%{5}b"},
        {L"%{6}%{6}", L"sixsix"},
        {L"%{a}%{6}", L"%{a}six"},
        {L"%{7}", L"%{7}"},
        {L"100%", L"100%"},
    };
    for (const Case& c : cases) {
        CUIString s(c.in);
        CWindowManagerUI::ProcessMultiLanguageTokens(s);
        EXPECT_STREQ(s.GetData(), c.out) << "from " << c.in;
    }
    CWindowManagerUI::RemoveAllMultiLanguageStrings();
}

TEST(Fonts, AFaceOf32CharactersKeeps31AndItsTerminator)
{
    const std::wstring face(32, L'A');
    const LOGFONTW lf = CWindowManagerUI::DescribeFont(face.c_str(), 12, true, false, false);
    EXPECT_EQ(lf.lfFaceName[31], L'\0');
    EXPECT_EQ(wcslen(lf.lfFaceName), 31u);
    EXPECT_EQ(lf.lfHeight, -12);
    CWindowManagerUI m;
    HFONT first = m.AddFont(3, L"Tahoma", 12, false, false, false);
    HFONT second = m.AddFont(3, face.c_str(), 14, false, false, false);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(m.GetFont(3), second);
    EXPECT_EQ(::GetObjectType(first), 0u) << "the first font of id 3 was deleted";
}

TEST(Timers, IdsStartAt17WrapAt255AndSkipIdsStillInUse)
{
    MessageWindow w;
    ASSERT_NE(w.hwnd, nullptr);
    std::vector<std::unique_ptr<CControlUI>> controls;
    for (int i = 0; i < 256; ++i) controls.emplace_back(new CControlUI);
    CWindowManagerUI m;
    m.Init(w.hwnd);
    ASSERT_TRUE(m.SetTimer(controls[0].get(), 1, 100000));
    EXPECT_EQ(m.GetWindowTimerId(controls[0].get(), 1), 17u);
    for (int i = 1; i < 239; ++i) ASSERT_TRUE(m.SetTimer(controls[i].get(), 1, 100000)) << i;
    EXPECT_EQ(m.GetWindowTimerId(controls[237].get(), 1), 254u);
    EXPECT_EQ(m.GetWindowTimerId(controls[238].get(), 1), 0u);
    EXPECT_FALSE(m.SetTimer(controls[0].get(), 1, 100000)) << "a live timer cannot be set again";
    // Killed and set again: the same window id.
    EXPECT_TRUE(m.KillTimer(controls[5].get(), 1));
    EXPECT_TRUE(m.SetTimer(controls[5].get(), 1, 100000));
    EXPECT_EQ(m.GetWindowTimerId(controls[5].get(), 1), 22u);
    // Free every id but 17; after 1..16 the next id must not be 17 again.
    for (int i = 1; i < 239; ++i) m.KillTimersOfControl(controls[i].get());
    for (int i = 239; i < 255; ++i) {
        ASSERT_TRUE(m.SetTimer(controls[i].get(), 1, 100000));
        EXPECT_EQ(m.GetWindowTimerId(controls[i].get(), 1), static_cast<UINT>(i - 238));
    }
    ASSERT_TRUE(m.SetTimer(controls[255].get(), 1, 100000));
    EXPECT_EQ(m.GetWindowTimerId(controls[255].get(), 1), 18u) << "17 still belongs to the first control";
    m.KillAllTimers();
}

TEST(Notifications, AsyncOnesArriveInOrderAfterOnePost)
{
    MessageWindow w;
    CWindowManagerUI m;
    m.Init(w.hwnd);
    CContainerUI* root = new CContainerUI;
    ASSERT_TRUE(m.AttachRootControl(root));
    Recorder r;
    m.AddNotifyListener(&r);
    m.SendNotify(root, L"first", 0, 0, true);
    m.SendNotify(root, L"second", 0, 0, true);
    EXPECT_TRUE(r.types.empty());
    EXPECT_EQ(CountPosted(w.hwnd, WM_APP + 1), 1);
    LRESULT res = 0;
    m.MessageHandler(WM_APP + 1, 0, 0, res);
    EXPECT_EQ(r.types, (std::vector<std::wstring>{L"first", L"second"}));
}

TEST(Notifications, AQueuedRecordOfADeletedControlIsDropped)
{
    MessageWindow w;
    CWindowManagerUI m;
    m.Init(w.hwnd);
    CContainerUI* root = new CContainerUI;
    CControlUI* child = new CControlUI;
    root->Add(child);
    ASSERT_TRUE(m.AttachRootControl(root));
    Recorder r;
    m.AddNotifyListener(&r);
    m.SendNotify(child, L"gone", 1, 2, true);
    m.SendNotify(root, L"kept", 0, 0, true);
    root->SetDelayedDestroy(false);
    ASSERT_TRUE(root->Remove(child));   // deleted at once
    LRESULT res = 0;
    m.MessageHandler(WM_APP + 1, 0, 0, res);
    ASSERT_EQ(r.types, (std::vector<std::wstring>{L"kept"}));
    EXPECT_EQ(r.senders[0], root);
}

TEST(Notifications, ADelayedRemovalKeepsTheChildUntilTheDrain)
{
    MessageWindow w;
    CWindowManagerUI m;
    m.Init(w.hwnd);
    CContainerUI* root = new CContainerUI;
    CControlUI* child = new CControlUI;
    bool destroyed = false;
    struct Flag {
        static bool Set(void* control)
        {
            *reinterpret_cast<bool*>(static_cast<CControlUI*>(control)->GetTag()) = true;
            return true;
        }
    };
    child->SetTag(reinterpret_cast<UINT_PTR>(&destroyed));
    child->OnDestroy += MakeDelegate(&Flag::Set);
    root->Add(child);
    ASSERT_TRUE(m.AttachRootControl(root));
    ASSERT_TRUE(root->Remove(child));
    EXPECT_FALSE(destroyed);
    LRESULT res = 0;
    m.MessageHandler(WM_APP + 1, 0, 0, res);
    EXPECT_TRUE(destroyed);
}

TEST(Notifications, ADelayedRemovalForgetsTheFocusAndNamesOfItsSubtree)
{
    MessageWindow w;
    CWindowManagerUI m;
    m.Init(w.hwnd);
    CContainerUI* root = new CContainerUI;
    CContainerUI* box = new CContainerUI;
    CControlUI* inner = new CControlUI;
    inner->SetName(L"inner");
    box->Add(inner);
    root->Add(box);
    ASSERT_TRUE(m.AttachRootControl(root));
    m.SetFocus(inner, false);
    ASSERT_EQ(m.GetFocus(), inner);
    ASSERT_TRUE(root->Remove(box));
    // Until the drain deletes it, the subtree is no longer the manager's.
    EXPECT_EQ(m.GetFocus(), nullptr);
    EXPECT_EQ(m.FindControlByName(L"inner"), nullptr);
    LRESULT res = 0;
    m.MessageHandler(WM_APP + 1, 0, 0, res);
    EXPECT_EQ(m.GetFocus(), nullptr);
}

// Counts its live instances, so that a leak of a built subtree shows.
struct CountedUI : CControlUI {
    static int live;
    CountedUI() { ++live; }
    ~CountedUI() override { --live; }
};
int CountedUI::live = 0;

// Makes T for one element name.
template <class T>
struct OneClassFactory : IDialogBuilderCallback {
    LPCWSTR element;
    explicit OneClassFactory(LPCWSTR name) : element(name) {}
    CControlUI* CreateControl(LPCWSTR name) override { return _wcsicmp(name, element) == 0 ? new T : nullptr; }
};

TEST(Builder, AParentWithoutContainerFreesTheSubtreeItBuilt)
{
    OneClassFactory<CountedUI> factory(L"Counted");
    CDialogBuilder builder;
    CControlUI* root = builder.Create(
        CUIStringOrId(L"<Window><VerticalLayout><Control><Counted /><Counted /></Control><Counted /></VerticalLayout>"
                      L"</Window>"),
        nullptr, &factory);
    ASSERT_NE(root, nullptr);
    IContainerUI* box = static_cast<IContainerUI*>(root->GetInterface(L"IContainer"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->GetCount(), 2) << "the Control and the last Counted";
    EXPECT_EQ(CountedUI::live, 1);
    root->Delete();
    EXPECT_EQ(CountedUI::live, 0);
}

std::wstring Nested(int depth)
{
    std::wstring xml = L"<Window>";
    for (int i = 0; i < depth; ++i) xml += L"<Container>";
    for (int i = 0; i < depth; ++i) xml += L"</Container>";
    return xml + L"</Window>";
}

TEST(Builder, NestingIsCappedAndFailsCleanly)
{
    CDialogBuilder deep;
    EXPECT_EQ(deep.Create(CUIStringOrId(Nested(230).c_str())), nullptr);
    EXPECT_TRUE(deep.HitDepthLimit());
    CDialogBuilder fine;
    CControlUI* root = fine.Create(CUIStringOrId(Nested(150).c_str()));
    ASSERT_NE(root, nullptr);
    EXPECT_FALSE(fine.HitDepthLimit());
    root->Delete();
}

// Counts its initialisations: a control is initialised once, when its tree
// joins a window.
struct InitCountUI : CControlUI {
    static int inits;
    void DoInit() override { ++inits; }
};
int InitCountUI::inits = 0;


TEST(Builder, AnOverlayIsAttachedWithItsControlNotBefore)
{
    OneClassFactory<InitCountUI> factory(L"InitCount");
    CWindowManagerUI m;
    CDialogBuilder builder;
    InitCountUI::inits = 0;
    CControlUI* root = builder.Create(
        CUIStringOrId(L"<Window><Container><InitCount name=\"over\" cover=\"true\" /></Container></Window>"),
        nullptr, &factory, &m);
    ASSERT_NE(root, nullptr);
    ASSERT_NE(root->GetOverlay(), nullptr);
    EXPECT_EQ(InitCountUI::inits, 0) << "the builder has no window to attach it to yet";
    ASSERT_TRUE(m.AttachRootControl(root));
    EXPECT_EQ(InitCountUI::inits, 1);
    EXPECT_EQ(root->GetOverlay()->GetManager(), &m);
    EXPECT_EQ(m.FindControlByName(L"over"), root->GetOverlay());
}

TEST(Builder, ElementNamesAnyCaseAndOnlyTrueMakesAnOverlay)
{
    CDialogBuilder builder;
    CControlUI* root = builder.Create(CUIStringOrId(
        L"<Window><VBOX><gifanim /><Control name=\"a\" cover=\"True\" /><Control name=\"b\" cover=\"true\" />"
        L"</VBOX></Window>"));
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->GetClass(), L"VerticalLayout");
    IContainerUI* box = static_cast<IContainerUI*>(root->GetInterface(L"IContainer"));
    ASSERT_EQ(box->GetCount(), 1);
    EXPECT_STREQ(box->GetItemAt(0)->GetName().GetData(), L"a");
    ASSERT_NE(root->GetOverlay(), nullptr);
    EXPECT_STREQ(root->GetOverlay()->GetName().GetData(), L"b");
    root->Delete();
}

// A window whose skin lives in a "ZIPRES" resource that the program lacks.
class MissingSkinWindow : public WindowImplBase {
public:
    LPCWSTR GetWindowClassName() const override { return L"MissingSkinTest"; }
    CUIString GetSkinFolder() override { return CUIString(); }
    CUIString GetSkinFile() override { return CUIString(L"MainWnd.xml"); }
    int GetResourceType() const override { return UILIB_ZIPRESOURCE; }
    LPCWSTR GetResourceId() const override { return L"NOSUCHSKIN"; }
};

int g_skinFailures = 0;
void CountSkinFailure() { ++g_skinFailures; }

TEST(WindowBase, AMissingSkinResourceFailsTheSkin)
{
    CWindowManagerUI::SetInstance(::GetModuleHandleW(nullptr));
    WindowImplBase::SetSkinFailureHandler(CountSkinFailure);
    g_skinFailures = 0;
    MissingSkinWindow w;
    // A message-only window: no screen is needed to run WM_CREATE.
    HWND hwnd = w.Create(HWND_MESSAGE, L"t", 0, 0, 0, 0, 50, 50);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(g_skinFailures, 1);
    EXPECT_EQ(w.GetManager().GetRoot(), nullptr);
    ::DestroyWindow(hwnd);
    WindowImplBase::SetSkinFailureHandler(nullptr);
}

}  // namespace
