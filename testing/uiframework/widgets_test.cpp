// Slider and animated GIF: events fed to the controls of a window manager on a
// message-only window, their geometry in 64 bits, and GIF frames painted into
// memory canvases and compared with the frames the fixture GIFs hold.
#include <gtest/gtest.h>

#include <windows.h>

#include <richedit.h>

#include <climits>
#include <string>
#include <vector>

#include "UIDateTime.h"
#include "UIDlgBuilder.h"
#include "UIGdiplus.h"
#include "UIGifAnim.h"
#include "UIRichEdit.h"
#include "UIScrollBar.h"
#include "UISlider.h"
#include "control_window.h"

using namespace SkinUI;
using uitest::Window;

namespace {

std::vector<std::wstring> Only(const std::vector<std::wstring>& log, const std::wstring& type)
{
    std::vector<std::wstring> out;
    for (const std::wstring& line : log)
        if (line.compare(0, type.size() + 1, type + L" ") == 0) out.push_back(line);
    return out;
}

CSliderUI* AddSlider(Window& w, RECT pos, int min, int max, int value, bool horizontal = true)
{
    return w.Add<CSliderUI>(L"s", pos,
                            {{L"min", std::to_wstring(min).c_str()},
                             {L"max", std::to_wstring(max).c_str()},
                             {L"value", std::to_wstring(value).c_str()},
                             {L"hor", horizontal ? L"true" : L"false"}});
}

TEST(Slider, ValueFromAPointAndThumbPlaceIn64Bits)
{
    Window w;
    struct Case {
        bool horizontal;
        int min, max;
        POINT pt;
        int wantValue;
        int value;   // then set, for the thumb
        RECT wantThumb;
    } const cases[] = {
        // Horizontal track 10..1020, thumb 10: the track's usable length is 1000.
        {true, 0, 100, {515, 30}, 50, 50, {510, 25, 520, 35}},
        {true, 0, 100, {14, 30}, 0, 0, {10, 25, 20, 35}},            // at left + tw/2 - 1: the minimum
        {true, 0, 100, {1015, 30}, 100, 100, {1010, 25, 1020, 35}},  // at right - tw/2: the maximum
        // (max - min) x offset and the thumb's length x value pass 2^31.
        {true, 0, 2000000000, {515, 30}, 1000000000, 1500000000, {760, 25, 770, 35}},
        {true, INT_MIN, INT_MAX, {515, 30}, -1, INT_MAX, {1010, 25, 1020, 35}},
        // Vertical track 20..1030 at x 10..40: the minimum at the bottom.
        {false, 0, 100, {25, 525}, 50, 50, {20, 520, 30, 530}},
        {false, 0, 100, {25, 1026}, 0, 0, {20, 1020, 30, 1030}},
        {false, 0, 2000000000, {25, 525}, 1000000000, 2000000000, {20, 20, 30, 30}},
    };
    for (const Case& c : cases) {
        const RECT pos = c.horizontal ? RECT{10, 20, 1020, 40} : RECT{10, 20, 40, 1030};
        CSliderUI* s = AddSlider(w, pos, c.min, c.max, 0, c.horizontal);
        EXPECT_EQ(s->ValueAt(c.pt), c.wantValue) << c.max << " at " << c.pt.x << "," << c.pt.y;
        s->SetValue(c.value);
        const RECT got = s->ComputeThumbRect();
        EXPECT_TRUE(EqualRect(&got, &c.wantThumb))
            << c.max << " value " << c.value << ": " << got.left << "," << got.top << "," << got.right << ","
            << got.bottom;
    }
    // No range: the thumb stands at the minimum end, and no point divides by zero.
    CSliderUI* flat = AddSlider(w, {10, 20, 1020, 40}, 5, 5, 5);
    const RECT got = flat->ComputeThumbRect();
    EXPECT_EQ(got.left, 10);
    EXPECT_EQ(flat->ValueAt({515, 30}), 5);
    CSliderUI* tiny = w.Add<CSliderUI>(L"t", {0, 0, 10, 10}, {{L"thumbsize", L"10,10"}});
    EXPECT_EQ(tiny->ValueAt({5, 5}), 100);   // as wide as its thumb: the right end wins
}

TEST(Slider, ClickDragWheelAndImmediateNotifications)
{
    Window w;
    CSliderUI* s = AddSlider(w, {10, 20, 1020, 40}, 0, 100, 50);
    // Pressed where the value already is: nothing; released: one "valuechanged".
    w.Send(s, UIEventButtonDown, {515, 30});
    EXPECT_TRUE(s->GetButtonState() & 0x40);
    EXPECT_TRUE(Only(w.notes.log, L"valuechanged").empty());
    w.Send(s, UIEventButtonUp, {515, 30});
    EXPECT_EQ(Only(w.notes.log, L"valuechanged"), std::vector<std::wstring>{L"valuechanged s"});
    EXPECT_FALSE(s->GetButtonState() & 0x40);

    // A drag without "imm": the value follows, one notification at the release.
    w.notes.log.clear();
    w.Send(s, UIEventButtonDown, {215, 30});
    EXPECT_EQ(s->GetValue(), 20);
    w.Send(s, UIEventMouseMove, {315, 30});
    w.Send(s, UIEventMouseMove, {2000, 30});
    EXPECT_EQ(s->GetValue(), 100);
    w.Send(s, UIEventButtonUp, {915, 30});
    EXPECT_EQ(s->GetValue(), 90);
    EXPECT_EQ(Only(w.notes.log, L"valuechanged").size(), 1u);

    // With "imm": one per move and one at the release.
    s->SetAttribute(L"imm", L"true");
    w.notes.log.clear();
    w.Send(s, UIEventButtonDown, {115, 30});
    w.Send(s, UIEventMouseMove, {125, 30});
    w.Send(s, UIEventMouseMove, {135, 30});
    w.Send(s, UIEventButtonUp, {135, 30});
    EXPECT_EQ(Only(w.notes.log, L"valuechanged").size(), 3u);
    // A move without the button does nothing.
    w.Send(s, UIEventMouseMove, {500, 30});
    EXPECT_EQ(Only(w.notes.log, L"valuechanged").size(), 3u);
    EXPECT_EQ(s->GetValue(), 12);

    // The wheel: up by the step, down by it, and at the maximum it still notifies.
    s->SetAttribute(L"step", L"30");
    w.notes.log.clear();
    w.Send(s, UIEventMouseWheel, {}, 0);
    EXPECT_EQ(s->GetValue(), 42);
    w.Send(s, UIEventMouseWheel, {}, 1);
    EXPECT_EQ(s->GetValue(), 12);
    s->SetValue(100);
    w.Send(s, UIEventMouseWheel, {}, 0);
    EXPECT_EQ(s->GetValue(), 100);
    EXPECT_EQ(Only(w.notes.log, L"valuechanged").size(), 3u);

    // A disabled slider drops its state and takes no press.
    s->SetEnabled(false);
    EXPECT_EQ(s->GetButtonState(), 0u);
    EXPECT_EQ(s->GetControlFlags(), 0u);
    w.Send(s, UIEventButtonDown, {215, 30});
    EXPECT_EQ(s->GetButtonState(), 0u);
}

TEST(Slider, AttributesAndTheBuilderMakesIt)
{
    Window w;
    CSliderUI* s = w.Add<CSliderUI>(L"s", {0, 0, 100, 20},
                                    {{L"thumbsize", L"14,8"}, {L"step", L"5"}, {L"imm", L"true"}});
    EXPECT_EQ(s->GetThumbSize().cx, 14);
    EXPECT_EQ(s->GetThumbSize().cy, 8);
    EXPECT_EQ(s->GetChangeStep(), 5);
    EXPECT_TRUE(s->IsImmediate());
    EXPECT_EQ(s->GetControlFlags(), 3u);
    EXPECT_NE(s->GetInterface(L"Progress"), nullptr);
    CDialogBuilder builder;
    CControlUI* made = builder.CreateTableControl(L"slider");
    ASSERT_NE(made, nullptr);
    EXPECT_STREQ(made->GetClass(), L"Slider");
    made->Delete();
}

// The colours of anim.gif's frames (left half, right half), as make_images.py writes them.
const unsigned kAnimFrames[3][2] = {{0xFF0000, 0x0000FF}, {0x00FF00, 0xFFFF00}, {0x0000FF, 0xFF00FF}};

struct Frame {
    unsigned left, right;
};

Frame Painted(Window& w, CGifAnimUI* g)
{
    uitest::Canvas canvas(80, 60, RGB(255, 255, 255));
    g->Paint(canvas.Dc(), RECT{0, 0, 80, 60}, nullptr);
    return Frame{canvas.Pixel(10, 30), canvas.Pixel(70, 30)};
}

CGifAnimUI* AddGif(Window& w, LPCWSTR file, std::initializer_list<std::pair<LPCWSTR, LPCWSTR>> more = {})
{
    CGifAnimUI* g = w.Add<CGifAnimUI>(L"gif", {0, 0, 80, 60}, more);
    g->SetBkImage(file);
    g->DoInit();
    return g;
}

void Tick(Window& w, CGifAnimUI* g) { w.Send(g, UIEventTimer, {}, CGifAnimUI::kAnimTimerId); }

TEST(GifAnim, ShowsItsFramesInOrderWithTheirDelays)
{
    CUIGdiplus::Owner gdiplus;
    Window w;
    CGifAnimUI* g = AddGif(w, L"anim.gif");
    ASSERT_TRUE(g->IsLoaded());
    EXPECT_EQ(g->GetFrameCount(), 3u);
    EXPECT_TRUE(g->IsPlaying());
    EXPECT_NE(w.manager.GetWindowTimerId(g, CGifAnimUI::kAnimTimerId), 0u);
    // Delays 0, 7 and 25 hundredths: 0 plays for 100 ms.
    EXPECT_EQ(g->GetFrameDelay(0), 100u);
    EXPECT_EQ(g->GetFrameDelay(1), 70u);
    EXPECT_EQ(g->GetFrameDelay(2), 250u);
    EXPECT_EQ(g->GetFrameDelay(3), 100u);   // past the stored delays
    // Each tick shows the next frame at once, and the fourth wraps to the first.
    for (int tick = 0; tick <= 4; ++tick) {
        const unsigned want = static_cast<unsigned>(tick % 3);
        EXPECT_EQ(g->GetCurrentFrame(), want);
        const Frame got = Painted(w, g);
        EXPECT_EQ(got.left, kAnimFrames[want][0]) << "tick " << tick;
        EXPECT_EQ(got.right, kAnimFrames[want][1]) << "tick " << tick;
        Tick(w, g);
        EXPECT_NE(w.manager.GetWindowTimerId(g, CGifAnimUI::kAnimTimerId), 0u);
    }
    // Other timers and events change nothing.
    const UINT at = g->GetCurrentFrame();
    w.Send(g, UIEventTimer, {}, 7);
    w.Send(g, UIEventButtonDown, {10, 10});
    EXPECT_EQ(g->GetCurrentFrame(), at);
}

TEST(GifAnim, OneFrameStaysStillAndMissingDelaysCountAHundredMilliseconds)
{
    CUIGdiplus::Owner gdiplus;
    Window w;
    // still.gif stores a delay but has one frame: nothing to play.
    CGifAnimUI* still = AddGif(w, L"still.gif");
    ASSERT_TRUE(still->IsLoaded());
    EXPECT_EQ(still->GetFrameCount(), 1u);
    EXPECT_FALSE(still->IsPlaying());
    EXPECT_EQ(w.manager.GetWindowTimerId(still, CGifAnimUI::kAnimTimerId), 0u);
    const Frame first = Painted(w, still);
    EXPECT_EQ(first.left, kAnimFrames[0][0]);
    EXPECT_EQ(first.right, kAnimFrames[0][1]);
    still->SetVisible(false);
    still->SetVisible(true);
    EXPECT_FALSE(still->IsPlaying());

    // nodelay.gif has two frames and no delay at all: it plays, 100 ms a frame.
    CGifAnimUI* bare = AddGif(w, L"nodelay.gif");
    ASSERT_TRUE(bare->IsLoaded());
    EXPECT_EQ(bare->GetFrameCount(), 2u);
    EXPECT_TRUE(bare->IsPlaying());
    EXPECT_EQ(bare->GetFrameDelay(0), 100u);
    EXPECT_EQ(bare->GetFrameDelay(1), 100u);
    Tick(w, bare);
    EXPECT_EQ(Painted(w, bare).left, kAnimFrames[1][0]);
}

TEST(GifAnim, HidingRestartsAndANewImageStopsAndUnloads)
{
    CUIGdiplus::Owner gdiplus;
    Window w;
    CGifAnimUI* g = AddGif(w, L"anim.gif", {{L"autosize", L"true"}});
    EXPECT_EQ(g->GetFixedWidth(), 8);
    EXPECT_EQ(g->GetFixedHeight(), 6);
    Tick(w, g);
    Tick(w, g);
    EXPECT_EQ(g->GetCurrentFrame(), 2u);
    g->SetVisible(false);
    EXPECT_FALSE(g->IsPlaying());
    EXPECT_EQ(g->GetCurrentFrame(), 0u);
    EXPECT_EQ(w.manager.GetWindowTimerId(g, CGifAnimUI::kAnimTimerId), 0u);
    g->SetVisible(true);
    EXPECT_TRUE(g->IsPlaying());
    EXPECT_EQ(g->GetCurrentFrame(), 0u);

    Tick(w, g);
    g->SetAttribute(L"bkimage", L"anim.gif");   // the same name: nothing
    EXPECT_EQ(g->GetCurrentFrame(), 1u);
    EXPECT_TRUE(g->IsLoaded());
    g->SetAttribute(L"bkimage", L"still.gif");
    EXPECT_FALSE(g->IsPlaying());
    EXPECT_FALSE(g->IsLoaded());
    EXPECT_EQ(g->GetFrameCount(), 0u);
    // Loaded again at the next paint, from its first frame.
    EXPECT_EQ(Painted(w, g).left, kAnimFrames[0][0]);
    EXPECT_TRUE(g->IsLoaded());

    // Without autoplay the animation waits to be shown.
    CGifAnimUI* idle = AddGif(w, L"anim.gif", {{L"autoplay", L"false"}});
    EXPECT_TRUE(idle->IsLoaded());
    EXPECT_FALSE(idle->IsPlaying());
}

TEST(GifAnim, WithoutAnImageItPaintsNothingAndNeverTicks)
{
    CUIGdiplus::Owner gdiplus;
    Window w;
    for (LPCWSTR file : {L"missing.gif", L"empty.png", L"notimage.png"}) {
        CGifAnimUI* g = AddGif(w, file);
        EXPECT_FALSE(g->IsLoaded()) << file;
        EXPECT_FALSE(g->IsPlaying()) << file;
        const Frame got = Painted(w, g);
        EXPECT_EQ(got.left, 0xFFFFFFu) << file;
        Tick(w, g);
        EXPECT_EQ(g->GetCurrentFrame(), 0u);
    }
    CGifAnimUI* path = AddGif(w, uitest::ImagePath(L"anim.gif").c_str());   // a plain path works too
    EXPECT_TRUE(path->IsLoaded());
    CDialogBuilder builder;
    CControlUI* made = builder.CreateTableControl(L"GifAnim");
    ASSERT_NE(made, nullptr);
    EXPECT_STREQ(made->GetClass(), L"GifAnim");
    made->Delete();
    EXPECT_EQ(builder.CreateTableControl(L"gifanim"), nullptr);   // its name alone keeps its case
}

CRichEditUI* AddRichEdit(Window& w, RECT pos, std::initializer_list<std::pair<LPCWSTR, LPCWSTR>> attributes = {})
{
    CRichEditUI* re = w.Add<CRichEditUI>(L"re", pos, attributes);
    re->SetPos(pos);
    return re;
}

// A window message through the manager, as its window procedure hands it over.
bool Deliver(Window& w, UINT msg, WPARAM wParam, LPARAM lParam = 0)
{
    LRESULT result = 0;
    return w.manager.MessageHandler(msg, wParam, lParam, result);
}

TEST(RichEdit, TypingNotifiesEachChangeAndReturnFollowsWantReturn)
{
    Window w;
    CRichEditUI* re = AddRichEdit(w, {0, 0, 200, 100}, {{L"wantreturn", L"false"}});
    ASSERT_TRUE(re->HasTextHost());
    re->SetFocus();
    w.notes.log.clear();
    for (wchar_t ch : std::wstring(L"ab")) EXPECT_TRUE(Deliver(w, WM_CHAR, ch));
    EXPECT_EQ(Only(w.notes.log, L"textchanged"), (std::vector<std::wstring>{L"textchanged re", L"textchanged re"}));
    EXPECT_STREQ(re->GetText(), L"ab");
    // Return kept from the text: "return" and nothing typed.
    w.notes.log.clear();
    EXPECT_TRUE(Deliver(w, WM_KEYDOWN, VK_RETURN));
    EXPECT_EQ(w.notes.log, std::vector<std::wstring>{L"return re"});
    EXPECT_STREQ(re->GetText(), L"ab");

    // With want return on, Return goes into the text as a new line.
    re->SetAttribute(L"wantreturn", L"true");
    w.notes.log.clear();
    Deliver(w, WM_KEYDOWN, VK_RETURN);
    Deliver(w, WM_CHAR, L'\r');
    EXPECT_TRUE(Only(w.notes.log, L"return").empty());
    EXPECT_EQ(Only(w.notes.log, L"textchanged").size(), 1u);
    EXPECT_STREQ(re->GetText(), L"ab\r");

    // Keys reach the text only while the control has the focus.
    w.manager.SetFocus(nullptr);
    w.notes.log.clear();
    EXPECT_FALSE(Deliver(w, WM_CHAR, L'c'));
    EXPECT_TRUE(w.notes.log.empty());
    EXPECT_STREQ(re->GetText(), L"ab\r");
}

TEST(RichEdit, TextSetAndReadWithOrWithoutTextServices)
{
    Window w;
    CRichEditUI* re = AddRichEdit(w, {0, 0, 200, 100});
    re->SetText(L"hello world");
    EXPECT_STREQ(re->GetText(), L"hello world");
    re->SetText(L"");
    EXPECT_STREQ(re->GetText(), L"");
    // A control not yet initialised has no text services: its text reads empty.
    CRichEditUI* bare = new CRichEditUI;
    bare->SetText(L"kept for later");
    EXPECT_FALSE(bare->HasTextHost());
    EXPECT_STREQ(bare->GetText(), L"");
    LRESULT result = 7;
    EXPECT_EQ(bare->TxSendMessage(WM_CHAR, L'x', 0, &result), 1);
    // Once it joins a manager the stored text goes into the text services.
    w.root->Add(bare);
    bare->SetManager(&w.manager, w.root, true);
    EXPECT_TRUE(bare->HasTextHost());
    EXPECT_STREQ(bare->GetText(), L"kept for later");
}

TEST(RichEdit, AttributesShapeTheStyleAndTheTextRectangle)
{
    Window w;
    CRichEditUI* re = AddRichEdit(w, {10, 20, 210, 120},
                                  {{L"multiline", L"false"}, {L"readonly", L"true"}, {L"password", L"true"},
                                   {L"autohscroll", L"true"}, {L"align", L"right"}, {L"textpadding", L"4,3,2,1"},
                                   {L"wanttab", L"false"}, {L"textcolor", L" #FF102030"}});
    const LONG style = re->GetWinStyle();
    EXPECT_EQ(style & ES_MULTILINE, 0);
    EXPECT_EQ(style & (ES_READONLY | ES_PASSWORD | ES_AUTOHSCROLL | ES_RIGHT),
              ES_READONLY | ES_PASSWORD | ES_AUTOHSCROLL | ES_RIGHT);
    EXPECT_TRUE(re->IsReadOnly());
    EXPECT_FALSE(re->IsWantTab());
    EXPECT_EQ(re->GetInterface(L"WantTab"), nullptr);
    EXPECT_EQ(re->GetTextColor(), 0xFF102030u);
    const RECT text = re->GetTextClientRect();
    const RECT want = {14, 23, 208, 119};
    EXPECT_TRUE(EqualRect(&text, &want))
        << text.left << "," << text.top << "," << text.right << "," << text.bottom;
    // Read-only: typing changes nothing.
    re->SetFocus();
    Deliver(w, WM_CHAR, L'x');
    EXPECT_STREQ(re->GetText(), L"");
    CRichEditUI* other = AddRichEdit(w, {0, 0, 50, 50}, {{L"multiline", L"no"}, {L"vscrollbar", L"true"}});
    EXPECT_EQ(other->GetWinStyle() & (ES_MULTILINE | WS_VSCROLL | ES_DISABLENOSCROLL),
              ES_MULTILINE | WS_VSCROLL | ES_DISABLENOSCROLL);
    EXPECT_NE(other->GetInterface(L"WantTab"), nullptr);
    EXPECT_EQ(other->GetControlFlags(), 3u);
    CDialogBuilder builder;
    CControlUI* made = builder.CreateTableControl(L"RichEdit");
    ASSERT_NE(made, nullptr);
    EXPECT_STREQ(made->GetClass(), L"RichEdit");
    made->Delete();
}

TEST(RichEdit, TallTextTurnsTheHiddenBarOnAndShortTextOff)
{
    Window w;
    CRichEditUI* re = w.Add<CRichEditUI>(L"re", {0, 0, 200, 60}, {{L"vscrollbar", L"true"}});
    CScrollBarUI* bar = re->GetVerticalScrollBar();
    ASSERT_NE(bar, nullptr);
    bar->SetVisible(false);
    re->SetPos({0, 0, 200, 60});
    EXPECT_FALSE(bar->IsVisible());
    std::wstring tall;
    for (int i = 0; i < 20; ++i) tall += L"line " + std::to_wstring(i) + L"\r";
    re->SetText(tall.c_str());
    re->SetPos({0, 0, 200, 60});
    EXPECT_TRUE(bar->IsVisible());
    const RECT text = re->GetTextClientRect();
    EXPECT_EQ(text.right, 200 - bar->GetFixedWidth());
    // The scroll slots move the text services' view, which moves the bar.
    re->LineDown();
    EXPECT_GT(bar->GetScrollPos(), 0);
    re->EndDown();
    const int end = bar->GetScrollPos();
    EXPECT_GT(end, 0);
    EXPECT_LE(end, bar->GetScrollRange());
    re->HomeUp();
    EXPECT_EQ(bar->GetScrollPos(), 0);
    re->SetScrollPos(SIZE{0, 30});
    EXPECT_EQ(bar->GetScrollPos(), 30);
    re->SetText(L"short");
    re->SetPos({0, 0, 200, 60});
    EXPECT_FALSE(bar->IsVisible());
    EXPECT_EQ(re->GetTextClientRect().right, 200);
}

TEST(RichEdit, PaintsItsTextInsideItsRectangle)
{
    Window w;
    CRichEditUI* re = AddRichEdit(w, {10, 10, 110, 40}, {{L"textcolor", L"#FF000000"}, {L"bkcolor", L"#FFF0F0D0"}});
    uitest::Canvas canvas(120, 50, RGB(255, 255, 255));
    re->Paint(canvas.Dc(), RECT{0, 0, 120, 50}, nullptr);
    EXPECT_FALSE(canvas.HasColor(RECT{0, 0, 120, 50}, 0x000000, 60));
    re->SetText(L"WWWW");
    canvas.Fill(RGB(255, 255, 255));
    re->Paint(canvas.Dc(), RECT{0, 0, 120, 50}, nullptr);
    // Transparent from the start: the control's own background shows around the text.
    EXPECT_EQ(canvas.Pixel(105, 35), 0xF0F0D0u);
    EXPECT_TRUE(canvas.HasColor(RECT{10, 10, 110, 40}, 0x000000, 60));
    for (const RECT& outside : {RECT{0, 0, 120, 10}, RECT{0, 40, 120, 50}, RECT{0, 0, 10, 50}, RECT{110, 0, 120, 50}})
        EXPECT_FALSE(canvas.HasColor(outside, 0x000000, 60));
}

TEST(DateTime, FormatsTheDateWithFourDigitYearAndTwoDigitMonthAndDay)
{
    SYSTEMTIME t = {};
    t.wYear = 2026;
    t.wMonth = 1;
    t.wDay = 5;
    EXPECT_STREQ(CDateTimeUI::FormatDate(t), L"2026-01-05");
    t.wYear = 999;
    t.wMonth = 12;
    t.wDay = 31;
    EXPECT_STREQ(CDateTimeUI::FormatDate(t), L" 999-12-31");
    // A fresh control shows today.
    CDateTimeUI* dt = new CDateTimeUI;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    EXPECT_STREQ(dt->GetText(), CDateTimeUI::FormatDate(now));
    EXPECT_EQ(dt->GetUpdateMode(), 0);
    EXPECT_EQ(dt->GetChildWindow(), nullptr);
    dt->SetTime(t);
    EXPECT_STREQ(dt->GetText(), L" 999-12-31");
    dt->Delete();
}

}  // namespace
