// The frame-sequence label and button: built by the dialog builder through the
// windows' factory, their frames stepped by WM_TIMER messages handed to the window
// manager with the control timer's real window timer id, as the message loop would.
#include <gtest/gtest.h>

#include <windows.h>

#include <objidl.h>   // needed by the GDI+ headers
#include <gdiplus.h>

#include <memory>
#include <string>
#include <vector>

#include "SequenceControls.h"
#include "UIContainer.h"
#include "UIDlgBuilder.h"
#include "UIGdiplus.h"
#include "UIManager.h"
#include "draw_support.h"

using namespace SkinUI;

namespace {

struct Factory : IDialogBuilderCallback {
    CControlUI* CreateControl(LPCWSTR pstrClass) override { return CreateSequenceControl(pstrClass); }
};

// A manager on a message-only window (timers work, nothing is shown).
class Window {
public:
    Window()
    {
        m_hwnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
        manager.Init(m_hwnd);
        root = new CContainerUI;
        manager.AttachRootControl(root);
    }
    ~Window()
    {
        manager.KillAllTimers();
        manager.Init(nullptr);
        ::DestroyWindow(m_hwnd);
    }
    // One control from an element text, joined to the root as the builder joins it.
    template <class T>
    T* Build(const std::wstring& element)
    {
        Factory factory;
        CDialogBuilder builder;
        CControlUI* c = builder.Create(CUIStringOrId((L"<Window>" + element + L"</Window>").c_str()), nullptr,
                                       &factory, &manager);
        if (!c) return nullptr;
        root->Add(c);
        c->SetPos({0, 0, 200, 40});
        return static_cast<T*>(c->GetInterface(std::wstring(c->GetClass()).c_str()));
    }
    bool Running(CControlUI* c) const { return manager.GetWindowTimerId(c, SequenceAnimation::kTimerId) != 0; }
    // One tick of the control's frame timer through the manager's message handling.
    void Tick(CControlUI* c)
    {
        const UINT id = manager.GetWindowTimerId(c, SequenceAnimation::kTimerId);
        ASSERT_NE(id, 0u);
        LRESULT res = 0;
        manager.MessageHandler(WM_TIMER, id, 0, res);
    }
    // The frame names shown over `ticks` ticks; "stop" where the timer ended.
    std::vector<std::wstring> Play(CControlUI* c, int ticks)
    {
        std::vector<std::wstring> shown;
        for (int i = 0; i < ticks; ++i) {
            const std::wstring before = c->GetBkImage().GetData();
            Tick(c);
            if (!Running(c)) {
                EXPECT_EQ(std::wstring(c->GetBkImage().GetData()), before) << "the last frame stays";
                shown.push_back(L"stop");
                break;
            }
            shown.push_back(c->GetBkImage().GetData());
        }
        return shown;
    }

    CWindowManagerUI manager;
    CContainerUI* root = nullptr;

private:
    HWND m_hwnd = nullptr;
};

std::vector<std::wstring> Frames(std::initializer_list<const wchar_t*> names)
{
    return std::vector<std::wstring>(names.begin(), names.end());
}

TEST(Sequence, FramesFollowTheLoopAndRoundRules)
{
    struct Case {
        const wchar_t* attrs;
        int ticks;
        std::vector<std::wstring> want;
    } const cases[] = {
        {L"sequencecount=\"3\"", 7, Frames({L"f0", L"f1", L"f2", L"f0", L"f1", L"f2", L"f0"})},
        {L"sequencecount=\"3\" sequenceloop=\"false\"", 7, Frames({L"f0", L"f1", L"f2", L"stop"})},
        {L"sequencecount=\"3\" sequenceround=\"true\"", 8,
         Frames({L"f0", L"f1", L"f2", L"f1", L"f0", L"f1", L"f2", L"f1"})},
        {L"sequencecount=\"3\" sequenceround=\"true\" sequenceloop=\"false\"", 8,
         Frames({L"f0", L"f1", L"f2", L"f1", L"stop"})},
        {L"sequencecount=\"2\" sequenceround=\"true\"", 5, Frames({L"f0", L"f1", L"f0", L"f1", L"f0"})},
        {L"sequencecount=\"1\"", 3, Frames({L"f0", L"f0", L"f0"})},
        {L"sequencecount=\"0\"", 3, Frames({L"f0", L"f0", L"f0"})},
        // Round with fewer than two frames has nothing to turn between: it plays
        // forward, never a frame below 0.
        {L"sequencecount=\"1\" sequenceround=\"true\"", 4, Frames({L"f0", L"f0", L"f0", L"f0"})},
        {L"sequencecount=\"0\" sequenceround=\"true\"", 4, Frames({L"f0", L"f0", L"f0", L"f0"})},
        {L"sequencecount=\"-3\" sequenceround=\"true\"", 3, Frames({L"f0", L"f0", L"f0"})},
        {L"sequencecount=\"1\" sequenceround=\"true\" sequenceloop=\"false\"", 4, Frames({L"f0", L"stop"})},
    };
    for (const Case& c : cases) {
        Window w;
        CSequenceLabelUI* label =
            w.Build<CSequenceLabelUI>(std::wstring(L"<SequenceLabel sequencebkimage=\"f%d\" ") + c.attrs + L" />");
        ASSERT_NE(label, nullptr) << c.attrs;
        EXPECT_FALSE(w.Running(label)) << "no autostart";
        label->Start();
        EXPECT_EQ(w.Play(label, c.ticks), c.want) << c.attrs;
    }
}

TEST(Sequence, AttributesDefaultsAndNames)
{
    Window w;
    CSequenceLabelUI* label = w.Build<CSequenceLabelUI>(L"<SequenceLabel />");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->GetSequenceSpan(), 30);
    EXPECT_EQ(label->GetSequenceCount(), 0);
    EXPECT_STREQ(label->GetClass(), L"SequenceLabel");
    EXPECT_EQ(label->GetInterface(L"Label"), static_cast<void*>(static_cast<CLabelUI*>(label)));

    CSequenceButtonUI* button = w.Build<CSequenceButtonUI>(
        L"<sequencebutton SEQUENCECOUNT=\"3\" SequenceSpan=\"45\" SequenceBkImage=\"ignored%d\" "
        L"sequenceloop=\"FALSE\" text=\"go\" />");
    ASSERT_NE(button, nullptr) << "the factory takes the element name without regard to case";
    EXPECT_STREQ(button->GetClass(), L"SequenceButton");
    EXPECT_EQ(button->GetSequenceCount(), 3);
    EXPECT_EQ(button->GetSequenceSpan(), 45);
    EXPECT_TRUE(button->GetSequenceImage().IsEmpty()) << "the image name is compared exactly";
    EXPECT_STREQ(button->GetText().GetData(), L"go") << "other attributes reach the button";
    // "FALSE" is not "false": the button still loops, and it plays round by default.
    button->SetSequenceImage(L"b%d");
    button->Start();
    EXPECT_EQ(w.Play(button, 6), Frames({L"b0", L"b1", L"b2", L"b1", L"b0", L"b1"}));

    EXPECT_EQ(CreateSequenceControl(L"Label"), nullptr);
}

TEST(Sequence, AutostartEmptyFormatRestartAndStop)
{
    Window w;
    CSequenceLabelUI* a = w.Build<CSequenceLabelUI>(
        L"<SequenceLabel autostart=\"yes\" sequencecount=\"4\" sequencebkimage=\"a%d\" />");
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(w.Running(a)) << "autostart starts the timer at init";
    EXPECT_EQ(w.Play(a, 3), Frames({L"a0", L"a1", L"a2"}));
    a->Start();
    EXPECT_EQ(w.Play(a, 1), Frames({L"a0"})) << "starting a running animation restarts it";
    a->Stop();
    EXPECT_FALSE(w.Running(a));

    CSequenceLabelUI* empty = w.Build<CSequenceLabelUI>(L"<SequenceLabel sequencecount=\"4\" bkimage=\"keep.png\" />");
    ASSERT_NE(empty, nullptr);
    empty->Start();
    EXPECT_EQ(w.Play(empty, 3), Frames({L"keep.png", L"keep.png", L"keep.png"}))
        << "without a format a tick does nothing and the timer runs on";
}

TEST(Sequence, FrameNamesTakeOneNumberAndNothingElse)
{
    struct Case {
        const wchar_t* pattern;
        int frame;
        const wchar_t* want;
    } const cases[] = {
        {L"res\\mainWnd\\installing\\%.3d.png", 7, L"res\\mainWnd\\installing\\007.png"},
        {L"%d", 12, L"12"},
        {L"%03d|%-4d|%+d", 5, L"005|%-4d|%+d"},
        {L"%5i", 42, L"   42"},
        {L"%x-%X", 255, L"ff-%X"},
        {L"%ld %lld", 3, L"3 %lld"},
        {L"%#d", 9, L"9"},
        {L"100%%-%d", 1, L"100%-1"},
        // Conversions that would read arguments that are not there stay as they are.
        {L"res\\%s\\%d.png", 2, L"res\\%s\\2.png"},
        {L"%n%p%c%f%d", 4, L"%n%p%c%f4"},
        {L"%999999d", 1, L"%999999d"},
        {L"%.99999d", 1, L"%.99999d"},
        {L"end %", 1, L"end %"},
        {L"plain.png", 3, L"plain.png"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(FormatFrameName(c.pattern, c.frame).GetData(), c.want) << c.pattern;
    }
    // The widest number we take still fits, and the name is cut at its limit.
    EXPECT_EQ(FormatFrameName(L"%64.64d", 1).GetLength(), 64);
    const std::wstring longName(400, L'x');
    EXPECT_EQ(FormatFrameName((longName + L"%d").c_str(), 1).GetLength(), SequenceAnimation::kMaxFrameName);
}

TEST(Sequence, PushedButtonDrawsItsTextInTheOffsetRectangle)
{
    Window w;
    CSequenceButtonUI* b = w.Build<CSequenceButtonUI>(
        L"<SequenceButton text=\"WWW\" textcolor=\"#FF000000\" pushedtextcolor=\"#FFFF0000\" />");
    ASSERT_NE(b, nullptr);
    auto ink = [&](unsigned* color) {
        uitest::Canvas canvas(200, 40);
        b->Paint(canvas.Dc(), {0, 0, 200, 40}, nullptr);
        const RECT r = canvas.InkBounds();
        if (color) *color = canvas.HasColor(r, 0xFF0000, 40) ? 0xFF0000u : 0u;
        return r;
    };
    const RECT plain = ink(nullptr);
    ASSERT_LT(plain.left, 100) << "centred in the whole button";
    b->SetTextOffset({120, 0, 0, 0});
    EXPECT_EQ(ink(nullptr).left, plain.left) << "the offsets count only while pushed";

    UIEvent down = {};
    down.Type = UIEventButtonDown;
    down.pSender = b;
    down.ptMouse = {10, 10};
    b->Event(down);
    ASSERT_TRUE(b->GetButtonState() & UISTATE_PUSHED);
    unsigned color = 0;
    const RECT moved = ink(&color);
    EXPECT_GE(moved.left, 120) << "centred in the rectangle moved in by the offsets";
    EXPECT_EQ(color, 0xFF0000u) << "in the pushed text colour";
}

TEST(Sequence, ChannelCopyNeedsEqualSizesAndRealChannels)
{
    ASSERT_TRUE(CUIGdiplus::Start());
    Gdiplus::Bitmap source(3, 2, PixelFormat32bppARGB);
    Gdiplus::Bitmap dest(3, 2, PixelFormat32bppARGB);
    Gdiplus::Bitmap other(2, 2, PixelFormat32bppARGB);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            source.SetPixel(x, y, Gdiplus::Color(255, BYTE(10 * x + y), 0, 0));
            dest.SetPixel(x, y, Gdiplus::Color(255, 0, 0, 200));
        }
    }
    CSequenceButtonUI button;
    // Byte 2 of an ARGB pixel in memory is red, byte 3 is alpha.
    ASSERT_TRUE(button.CopyChannel(&source, &dest, 2, 3));
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            Gdiplus::Color c;
            dest.GetPixel(x, y, &c);
            EXPECT_EQ(c.GetA(), BYTE(10 * x + y)) << x << "," << y;
            EXPECT_EQ(c.GetB(), 200) << "the other channels stay";
        }
    }
    EXPECT_FALSE(button.CopyChannel(&source, &other, 0, 0)) << "sizes differ";
    EXPECT_FALSE(button.CopyChannel(&source, &dest, 4, 0)) << "no byte 4 in a pixel";
    EXPECT_FALSE(button.CopyChannel(&source, &dest, 0, 200));
    EXPECT_FALSE(button.CopyChannel(nullptr, &dest, 0, 0));
}

}  // namespace
