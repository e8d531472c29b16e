// Label, button, option, check box, progress bar and the drop shadow's picture:
// events fed to the controls of a window manager on a message-only window, and
// their painting read back from memory canvases.
#include <gtest/gtest.h>

#include <windows.h>

#include <climits>
#include <string>
#include <vector>

#include "UIContainer.h"
#include "UIDlgBuilder.h"
#include "UIGdiplus.h"
#include "UIManager.h"
#include "UIOption.h"
#include "UIProgress.h"
#include "UIShadow.h"
#include "UITabLayout.h"
#include "UIText.h"
#include "control_window.h"
#include "draw_support.h"

using namespace SkinUI;
using uitest::Canvas;

namespace {

using uitest::Recorder;
using uitest::Window;

const LPCWSTR kRed = L"color='#FFFF0000'";
const LPCWSTR kBlue = L"color='#FF0000FF'";

TEST(Progress, FillsItsShareOfTheWidthIn64Bits)
{
    Window w;
    struct Case {
        int min, max, value, width;
        RECT want;
    } const cases[] = {
        {0, 100, 50, 520, {0, 0, 260, 12}},
        {0, 100, 100, 520, {0, 0, 520, 12}},
        {0, 100, 0, 520, {0, 0, 0, 12}},
        // (value - min) x width passes 2^31 here.
        {0, 2000000000, 1500000000, 520, {0, 0, 390, 12}},
        {INT_MIN, INT_MAX, 0, 1000, {0, 0, 500, 12}},
    };
    for (const Case& c : cases) {
        CProgressUI* p = w.Add<CProgressUI>(L"bar", {0, 0, c.width, 12});
        p->SetAttribute(L"min", std::to_wstring(c.min).c_str());
        p->SetAttribute(L"max", std::to_wstring(c.max).c_str());
        p->SetValue(c.value);
        const RECT got = p->GetForeRect();
        EXPECT_TRUE(EqualRect(&got, &c.want)) << c.max << " " << c.value << ": " << got.right;
    }
}

TEST(Progress, PaintsColumnsUpToTheValueAndClampsItsRange)
{
    Window w;
    CProgressUI* p = w.Add<CProgressUI>(L"bar", {0, 0, 520, 12}, {{L"foreimage", kRed}, {L"value", L"50"}});
    Canvas canvas(520, 12);
    p->Paint(canvas.Dc(), {0, 0, 520, 12}, nullptr);
    EXPECT_EQ(canvas.Pixel(0, 6), 0xFF0000u);
    EXPECT_EQ(canvas.Pixel(259, 6), 0xFF0000u);
    EXPECT_EQ(canvas.Pixel(260, 6), 0xFFFFFFu);
    EXPECT_EQ(canvas.Pixel(519, 6), 0xFFFFFFu);

    p->SetValue(500);
    EXPECT_EQ(p->GetValue(), 100);
    p->SetValue(-3);
    EXPECT_EQ(p->GetValue(), 0);
    // "max" equal to "min": the first paint raises the maximum by one.
    p->SetAttribute(L"min", L"7");
    p->SetAttribute(L"max", L"7");
    w.PaintPixel(p, 0, 0, 520, 12);
    EXPECT_EQ(p->GetMaxValue(), 8);
    EXPECT_EQ(p->GetValue(), 7);

    CProgressUI* v = w.Add<CProgressUI>(L"vbar", {0, 0, 10, 100}, {{L"hor", L"false"}, {L"value", L"0"}});
    const RECT empty = v->GetForeRect();
    EXPECT_EQ(empty.top, 100);
    EXPECT_EQ(empty.bottom, 100);
    v->SetValue(25);
    EXPECT_EQ(v->GetForeRect().top, 75);
    EXPECT_EQ(v->GetFixedHeight(), 12) << "a progress bar is 12 pixels high unless told otherwise";
    v->SetAttribute(L"isstretchfore", L"false");
    EXPECT_STREQ(v->GetCustomAttribute(L"isstretchfore"), L"false") << "unknown names are kept as custom attributes";
}

// strip.png: five 20-pixel states (normal, pushed, hot, focused, disabled) and a
// column of the remainder.
const unsigned kStates[5] = {0xC80000, 0x00C800, 0x0000C8, 0xC8C800, 0x00C8C8};

TEST(Button, FiveStateStripGivesTwentyPixelStatesDrawnPerState)
{
    Window w;
    CButtonUI* b = w.Add<CButtonUI>(L"b", {0, 0, 40, 10}, {{L"fivestatusimage", L"strip.png"}});
    EXPECT_EQ(w.PaintPixel(b, 39, 5), kStates[0]) << "normal; the remainder column never shows";
    w.Send(b, UIEventMouseEnter, {5, 5});
    EXPECT_EQ(w.PaintPixel(b, 5, 5), kStates[2]) << "hot";
    w.Send(b, UIEventButtonDown, {5, 5});
    EXPECT_EQ(w.PaintPixel(b, 5, 5), kStates[1]) << "pushed";
    w.Send(b, UIEventButtonUp, {5, 5});
    w.Send(b, UIEventMouseLeave, {200, 200});
    b->SetFocus();
    EXPECT_EQ(w.PaintPixel(b, 5, 5), kStates[3]) << "focused";
    b->SetEnabled(false);
    EXPECT_EQ(b->GetButtonState() & ~UISTATE_DISABLED, 0u);
    EXPECT_EQ(w.PaintPixel(b, 5, 5), kStates[4]) << "disabled";

    // A float button without a size takes one state's size.
    CButtonUI* f = new CButtonUI;
    f->SetManager(&w.manager, nullptr, false);
    f->SetFloat(true);
    f->SetAttribute(L"fivestatusimage", L"strip.png");
    EXPECT_EQ(f->GetFixedWidth(), 20);
    EXPECT_EQ(f->GetFixedHeight(), 4);
    f->Delete();
}

TEST(Button, OneClickOnlyForAPressAndReleaseInsideAnEnabledButton)
{
    Window w;
    CButtonUI* b = w.Add<CButtonUI>(L"b", {10, 10, 50, 30});
    const std::vector<std::wstring> none;
    const std::vector<std::wstring> one = {L"click b"};

    w.Send(b, UIEventButtonDown, {20, 20});
    w.Send(b, UIEventMouseMove, {100, 100});
    EXPECT_EQ(b->GetButtonState() & UISTATE_PUSHED, 0u);
    w.Send(b, UIEventButtonUp, {100, 100});
    EXPECT_EQ(w.notes.log, none) << "released outside";

    w.Send(b, UIEventButtonDown, {20, 20});
    w.Send(b, UIEventMouseMove, {100, 100});
    w.Send(b, UIEventMouseMove, {21, 21});
    w.Send(b, UIEventButtonUp, {21, 21});
    EXPECT_EQ(w.notes.log, one) << "moved out and back in";
    w.Send(b, UIEventButtonUp, {21, 21});
    EXPECT_EQ(w.notes.log, one) << "a release without a press";

    w.notes.log.clear();
    w.Send(b, UIEventKeyDown, {}, 0, VK_SPACE);
    w.Send(b, UIEventKeyDown, {}, 0, VK_RETURN);
    w.Send(b, UIEventKeyDown, {}, 0, 'A');
    EXPECT_EQ(w.notes.log, (std::vector<std::wstring>{L"click b", L"click b"}));

    w.notes.log.clear();
    b->SetEnabled(false);
    w.Send(b, UIEventKeyDown, {}, 0, VK_SPACE);
    w.Send(b, UIEventButtonDown, {20, 20});
    w.Send(b, UIEventButtonUp, {20, 20});
    EXPECT_EQ(w.notes.log, none) << "a disabled button";
    b->SetEnabled(true);
    b->SetKeyboardEnabled(false);
    w.Send(b, UIEventKeyDown, {}, 0, VK_SPACE);
    EXPECT_EQ(w.notes.log, none) << "keys of a button that is not keyboard-enabled";
}

TEST(Button, FadesFromTheNormalToTheHotImageAndBack)
{
    Window w;
    CButtonUI* b = w.Add<CButtonUI>(L"b", {0, 0, 40, 10},
                                    {{L"normalimage", kRed}, {L"hotimage", kBlue}, {L"fadedelta", L"64"}});
    EXPECT_EQ(w.PaintPixel(b, 5, 5), 0xFF0000u);
    w.Send(b, UIEventMouseEnter, {5, 5});
    EXPECT_NE(w.manager.GetWindowTimerId(b, CButtonUI::kFadeTimerId), 0u) << "becoming hot starts the fade";
    EXPECT_EQ(w.PaintPixel(b, 5, 5), 0xFF0000u) << "the fade starts at the normal image";
    int ticks = 0;
    unsigned halfway = 0;
    while (w.manager.GetWindowTimerId(b, CButtonUI::kFadeTimerId) != 0 && ticks < 10) {
        w.Send(b, UIEventTimer, {}, CButtonUI::kFadeTimerId);
        if (++ticks == 2) halfway = w.PaintPixel(b, 5, 5);
    }
    EXPECT_EQ(ticks, 4) << "255 falls by 64 three times, then ends at 0";
    EXPECT_EQ(b->GetFadeAlpha(), 0);
    EXPECT_TRUE((halfway & 0xFF) > 0x40 && (halfway >> 16) > 0x10) << std::hex << halfway;
    EXPECT_EQ(w.PaintPixel(b, 5, 5), 0x0000FFu) << "the hot image, fully";

    w.Send(b, UIEventMouseLeave, {200, 200});
    ASSERT_NE(w.manager.GetWindowTimerId(b, CButtonUI::kFadeTimerId), 0u) << "leaving fades back";
    for (ticks = 0; w.manager.GetWindowTimerId(b, CButtonUI::kFadeTimerId) != 0 && ticks < 10; ++ticks) {
        w.Send(b, UIEventTimer, {}, CButtonUI::kFadeTimerId);
    }
    EXPECT_EQ(b->GetFadeAlpha(), 255);
    EXPECT_EQ(w.PaintPixel(b, 5, 5), 0xFF0000u);

    // Without a fade delta the hot image shows at once and no timer runs.
    CButtonUI* plain = w.Add<CButtonUI>(L"p", {0, 0, 40, 10}, {{L"normalimage", kRed}, {L"hotimage", kBlue}});
    w.Send(plain, UIEventMouseEnter, {5, 5});
    EXPECT_EQ(w.manager.GetWindowTimerId(plain, CButtonUI::kFadeTimerId), 0u);
    EXPECT_EQ(w.PaintPixel(plain, 5, 5), 0x0000FFu);
}

TEST(Button, TextColourPerStateAndColoursWithOrWithoutHash)
{
    Window w;
    CButtonUI* b = w.Add<CButtonUI>(L"b", {0, 0, 10, 10},
                                    {{L"textcolor", L"FF00FF00"}, {L"hottextcolor", L"#FFFF0000"},
                                     {L"pushedtextcolor", L"0"}});
    EXPECT_EQ(b->GetTextColor(), 0xFF00FF00u) << "no '#': the first digit is kept";
    EXPECT_EQ(b->GetPushedTextColor(), 0u);
    CLabelUI* l = w.Add<CLabelUI>(L"l", {0, 0, 10, 10}, {{L"textcolor", L"  #80112233"}});
    EXPECT_EQ(l->GetTextColor(), 0x80112233u);
}

TEST(Option, AGroupSelectsExactlyOneAndOnlyTheNewOneNotifies)
{
    Window w;
    COptionUI* a = w.Add<COptionUI>(L"a", {0, 0, 20, 20}, {{L"group", L"g"}});
    COptionUI* b = w.Add<COptionUI>(L"b", {20, 0, 40, 20}, {{L"group", L"g"}});
    COptionUI* c = w.Add<COptionUI>(L"c", {40, 0, 60, 20}, {{L"group", L"g"}});
    a->Activate();
    EXPECT_EQ(w.notes.log, (std::vector<std::wstring>{L"click a", L"selectchanged a"}));
    w.notes.log.clear();
    b->Activate();
    EXPECT_EQ(w.notes.log, (std::vector<std::wstring>{L"click b", L"selectchanged b"}));
    EXPECT_FALSE(a->IsSelected());
    EXPECT_TRUE(b->IsSelected());
    EXPECT_FALSE(c->IsSelected());
    w.notes.log.clear();
    b->Activate();
    EXPECT_EQ(w.notes.log, (std::vector<std::wstring>{L"click b"})) << "already selected";
    EXPECT_TRUE(b->IsSelected());

    // Leaving the group: selecting another member no longer touches it.
    b->SetGroup(L"");
    c->Activate();
    EXPECT_TRUE(b->IsSelected());
    EXPECT_TRUE(c->IsSelected());
    // A deleted member leaves the manager's list.
    w.root->SetDelayedDestroy(false);
    w.root->Remove(c);
    a->Activate();
    EXPECT_TRUE(a->IsSelected());

    // Disabled: the state is exactly "selected".
    a->SetEnabled(false);
    EXPECT_EQ(a->GetButtonState(), static_cast<UINT>(UISTATE_SELECTED));
}

TEST(Option, AnOptionTheBuilderFreesLeavesItsGroup)
{
    Window w;
    // The inner option gets its attributes (and its group) with the manager set,
    // then is freed with its layout, which the Control cannot hold.
    CDialogBuilder builder;
    CControlUI* built = builder.Create(
        CUIStringOrId(L"<Window><VerticalLayout><Control><HBox><Option name=\"lost\" group=\"g\" /></HBox></Control>"
                      L"<Option name=\"kept\" group=\"g\" /></VerticalLayout></Window>"),
        nullptr, nullptr, &w.manager);
    ASSERT_NE(built, nullptr);
    w.root->Add(built);
    CUIPtrArray* group = w.manager.GetOptionGroup(L"g");
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->GetSize(), 1) << "only the option that lives";
    COptionUI* kept = static_cast<COptionUI*>(w.manager.FindControlByName(L"kept"));
    ASSERT_NE(kept, nullptr);
    kept->Activate();
    EXPECT_TRUE(kept->IsSelected());
}

TEST(Option, WithoutGroupAndAsCheckBoxItToggles)
{
    Window w;
    COptionUI* o = w.Add<COptionUI>(L"o", {0, 0, 20, 20});
    CCheckBoxUI* box = w.Add<CCheckBoxUI>(L"x", {0, 0, 40, 20},
                                          {{L"normalimage", kRed}, {L"selectedimage", kBlue}});
    o->Activate();
    o->Activate();
    EXPECT_FALSE(o->IsSelected());
    EXPECT_EQ(w.notes.log,
              (std::vector<std::wstring>{L"click o", L"selectchanged o", L"click o", L"selectchanged o"}));
    EXPECT_STREQ(box->GetClass(), L"CheckBox");
    EXPECT_EQ(box->GetInterface(L"Option"), static_cast<void*>(static_cast<COptionUI*>(box)));
    EXPECT_EQ(w.PaintPixel(box, 5, 5), 0xFF0000u);
    box->Activate();
    EXPECT_TRUE(box->IsChecked());
    EXPECT_EQ(w.PaintPixel(box, 5, 5), 0x0000FFu) << "the selected image";
    box->SetChecked(false, false);
    EXPECT_EQ(w.PaintPixel(box, 5, 5), 0xFF0000u);
}

TEST(Option, SelectedTextColourOnlyWhileSelected)
{
    Window w;
    CCheckBoxUI* box = w.Add<CCheckBoxUI>(L"x", {0, 0, 60, 20},
                                          {{L"text", L"WWWW"}, {L"textcolor", L"#FF000000"},
                                           {L"selectedtextcolor", L"#FFFF0000"}, {L"align", L"left"}});
    auto inkHas = [&](unsigned rgb) {
        Canvas canvas(60, 20);
        box->Paint(canvas.Dc(), {0, 0, 60, 20}, nullptr);
        return canvas.HasColor({0, 0, 60, 20}, rgb);
    };
    EXPECT_TRUE(inkHas(0x000000));
    box->SetChecked(true);
    EXPECT_TRUE(inkHas(0xFF0000));
    EXPECT_FALSE(inkHas(0x000000));
    EXPECT_EQ(box->GetTextColor(), 0xFF000000u) << "the label's own colour stays";
    box->SetChecked(false);
    EXPECT_TRUE(inkHas(0x000000));
}

TEST(Label, AlignmentWordsFuzzinessAndShadowOffset)
{
    Window w;
    CLabelUI* l = w.Add<CLabelUI>(L"l", {100, 50, 200, 80});
    l->SetAttribute(L"align", L"left right");
    EXPECT_EQ(l->GetTextStyle() & (DT_CENTER | DT_RIGHT), static_cast<UINT>(DT_RIGHT));
    l->SetAttribute(L"align", L"center");
    EXPECT_EQ(l->GetTextStyle() & (DT_CENTER | DT_RIGHT), static_cast<UINT>(DT_CENTER));
    l->SetAttribute(L"valign", L"top");
    EXPECT_EQ(l->GetTextStyle() & (DT_VCENTER | DT_BOTTOM), 0u);
    l->SetAttribute(L"endellipsis", L"true");
    EXPECT_NE(l->GetTextStyle() & DT_END_ELLIPSIS, 0u);
    l->SetAttribute(L"multiline", L"true");
    EXPECT_EQ(l->GetTextStyle() & (DT_SINGLELINE | DT_WORDBREAK), static_cast<UINT>(DT_WORDBREAK));

    l->SetAttribute(L"luminousfuzzy", L"0");
    EXPECT_FLOAT_EQ(l->GetLuminousFuzzy(), 3.0f) << "0 keeps the previous value";
    l->SetAttribute(L"luminousfuzzy", L"0.0001");
    EXPECT_FLOAT_EQ(l->GetLuminousFuzzy(), 1.0f) << "never a glow bitmap larger than the text";
    l->SetAttribute(L"luminousfuzzy", L"4.5");
    EXPECT_FLOAT_EQ(l->GetLuminousFuzzy(), 4.5f);

    // The offset as given, whatever the label's position: x by the angle's
    // cosine side, y by its sine side.
    struct Case {
        LPCWSTR value;
        float x, y;
    } const cases[] = {
        {L"2,45", -2, -2}, {L"2,-45", -2, 2}, {L"2,135", 2, -2}, {L"2,-135", 2, 2},
        {L"2,-180", 2, 0}, {L"2,-90", 0, 2},  {L"3,0", -3, -3},
    };
    for (const Case& c : cases) {
        l->SetAttribute(L"shadowoffset", c.value);
        EXPECT_FLOAT_EQ(l->GetShadowOffsetX(), c.x) << c.value;
        EXPECT_FLOAT_EQ(l->GetShadowOffsetY(), c.y) << c.value;
    }
    l->SetAttribute(L"shadowoffset", L"2,200");
    EXPECT_FLOAT_EQ(l->GetShadowOffsetX(), -3) << "an angle past 180 is ignored";
}

TEST(Label, EstimatesFromTheFontAndDrawsInTheStateColour)
{
    Window w;
    CLabelUI* l = w.Add<CLabelUI>(L"l", {0, 0, 80, 30}, {{L"text", L"Hi"}, {L"textpadding", L"2,3,4,5"}});
    const int fontHeight = w.manager.GetFontInfo(-1)->tm.tmHeight;
    ASSERT_GT(fontHeight, 0);
    const SIZE est = l->EstimateSize({500, 500});
    EXPECT_EQ(est.cy, fontHeight + 8 + 3 + 5);
    EXPECT_GT(est.cx, 6);

    Canvas canvas(80, 30);
    l->Paint(canvas.Dc(), {0, 0, 80, 30}, nullptr);
    const unsigned defaultInk = w.manager.GetDefaultFontColor() & 0xFFFFFF;
    EXPECT_TRUE(canvas.HasColor({0, 0, 80, 30}, defaultInk)) << "never set: the manager's default colour";
    l->SetAttribute(L"disabledtextcolor", L"#FF00FF00");
    l->SetEnabled(false);
    canvas.Fill(RGB(255, 255, 255));
    l->Paint(canvas.Dc(), {0, 0, 80, 30}, nullptr);
    EXPECT_TRUE(canvas.HasColor({0, 0, 80, 30}, 0x00FF00));
}

TEST(Label, EffectsDrawThroughTheOneGdiplusStart)
{
    Window w;
    CLabelUI* l = w.Add<CLabelUI>(L"l", {0, 0, 120, 40},
                                  {{L"text", L"Effect"}, {L"textcolor", L"#FFFF0000"}, {L"enabledeffect", L"true"},
                                   {L"enabledstroke", L"true"}, {L"strokecolor", L"#FF0000FF"},
                                   {L"enabledluminous", L"true"}, {L"luminousfuzzy", L"0.001"}});
    Canvas canvas(120, 40);
    l->Paint(canvas.Dc(), {0, 0, 120, 40}, nullptr);
    EXPECT_TRUE(CUIGdiplus::IsRunning());
    const RECT ink = canvas.InkBounds();
    EXPECT_LT(ink.left, ink.right) << "the effect text was drawn";
    // Deleting a label leaves GDI+ to its process-wide owner.
    w.root->SetDelayedDestroy(false);
    w.root->Remove(l);
    EXPECT_TRUE(CUIGdiplus::IsRunning());
}

TEST(Shadow, SettersRefuseValuesOutOfRange)
{
    CWndShadow s;
    EXPECT_FALSE(s.SetSize(21));
    EXPECT_FALSE(s.SetSize(-21));
    EXPECT_TRUE(s.SetSize(-20));
    EXPECT_FALSE(s.SetPosition(0, -21));
    EXPECT_TRUE(s.SetPosition(20, -20));
    EXPECT_FALSE(s.SetSharpness(21));
    EXPECT_FALSE(s.SetDarkness(256));
    EXPECT_TRUE(s.SetDarkness(255));
    EXPECT_FALSE(s.SetImage(L"no-such-image.png", 1, 1, 1, 1, 0, 0, 0, 0));
}

// The picture of a 60 x 50 rectangular parent, with guard pixels around it that
// must stay untouched.
struct ShadowPicture {
    int w, h;
    std::vector<UINT32> buffer;
    static const int kGuard = 64;
    static const UINT32 kCanary = 0x12345678;
    ShadowPicture(int size, int sharpness, int offsetX, int offsetY)
        : w(60 + 2 * size), h(50 + 2 * size), buffer(static_cast<size_t>(w) * h + 2 * kGuard, kCanary)
    {
        for (int i = 0; i < w * h; ++i) buffer[kGuard + i] = 0;
        HRGN region = ::CreateRectRgn(0, 0, 60, 50);
        CWndShadow::MakeShadow(buffer.data() + kGuard, w, h, region, 60, 50, size, sharpness, 200, offsetX, offsetY,
                               RGB(0, 0, 0));
        ::DeleteObject(region);
    }
    UINT32 At(int x, int y) const { return buffer[kGuard + static_cast<size_t>(h - 1 - y) * w + x]; }
    bool GuardsIntact() const
    {
        for (int i = 0; i < kGuard; ++i) {
            if (buffer[i] != kCanary || buffer[buffer.size() - 1 - i] != kCanary) return false;
        }
        return true;
    }
};

TEST(Shadow, PictureHasABodyAHoleAndStaysInsideItsPixels)
{
    ShadowPicture p(4, 2, 3, 3);
    EXPECT_TRUE(p.GuardsIntact());
    EXPECT_EQ(p.At(62, 30) >> 24, 200u) << "the body, outside the parent, at the darkness";
    EXPECT_EQ(p.At(5, 5), 0u) << "the hole under the parent (shifted by the offset)";
    EXPECT_EQ(p.At(0, 0) >> 24, 0u) << "the blurred corner fades out";
    // Negative sizes and offsets that put the hole or the stamps beside the picture.
    const int cases[][4] = {{-5, 5, -5, -5}, {-20, 20, 0, 0}, {-24, 0, 0, 0}, {20, 0, -20, 20}, {0, 20, 20, -20}, {-3, 0, 5, 5}};
    for (const auto& c : cases) {
        ShadowPicture q(c[0], c[1], c[2], c[3]);
        EXPECT_TRUE(q.GuardsIntact()) << c[0] << "," << c[1] << "," << c[2] << "," << c[3];
    }
}

// Pages of a tab layout: a control with a name, owned by the layout once added.
CControlUI* Page(LPCWSTR name, bool visible = true)
{
    CControlUI* c = new CControlUI;
    c->SetName(name);
    c->SetVisible(visible);
    return c;
}

// Which pages are shown, as "1" and "0" in item order.
std::string Shown(const CTabLayoutUI* tab)
{
    std::string s;
    for (int i = 0; i < tab->GetCount(); ++i) s += tab->GetItemAt(i)->IsVisible() ? '1' : '0';
    return s;
}

TEST(TabLayout, TheCurrentPageFollowsInsertionsAndRemovals)
{
    Window w;
    CTabLayoutUI* tab = w.Add<CTabLayoutUI>(L"tab", {0, 0, 100, 100});
    EXPECT_EQ(tab->GetCurSel(), -1);
    tab->Add(Page(L"hidden", false));
    EXPECT_EQ(tab->GetCurSel(), -1) << "a hidden page does not become current";
    CControlUI* a = Page(L"a");
    tab->Add(a);
    CControlUI* b = Page(L"b");
    tab->Add(b);
    EXPECT_EQ(tab->GetCurSel(), 1);
    EXPECT_EQ(Shown(tab), "010") << "the first visible page is current, later ones hidden";

    CControlUI* front = Page(L"front");
    tab->AddAt(front, 0);
    EXPECT_EQ(tab->GetCurSel(), 2) << "inserted before the current page";
    tab->AddAt(Page(L"back"), 4);
    EXPECT_EQ(tab->GetCurSel(), 2) << "inserted behind it";
    EXPECT_EQ(Shown(tab), "00100");

    tab->Remove(front);
    EXPECT_EQ(tab->GetCurSel(), 1) << "removed before the current page";
    EXPECT_EQ(tab->GetItemAt(1), a);
    tab->Remove(b);
    EXPECT_EQ(tab->GetCurSel(), 1) << "removed behind it";
    EXPECT_FALSE(tab->Remove(nullptr));

    // RemoveAt goes through the same bookkeeping: the current page removed by
    // index shows item 0, and no index is left pointing past the items.
    ASSERT_TRUE(tab->RemoveAt(1));
    EXPECT_EQ(tab->GetCurSel(), 0);
    EXPECT_EQ(Shown(tab), "10");
    ASSERT_TRUE(tab->RemoveAt(0));
    ASSERT_TRUE(tab->RemoveAt(0));
    EXPECT_EQ(tab->GetCount(), 0);
    EXPECT_EQ(tab->GetCurSel(), -1) << "no page left";
    EXPECT_FALSE(tab->SelectItem(0));

    tab->Add(Page(L"again"));
    tab->Add(Page(L"more"));
    EXPECT_EQ(tab->GetCurSel(), 0);
    tab->RemoveAll();
    EXPECT_EQ(tab->GetCurSel(), -1);
    tab->Add(Page(L"last"));
    EXPECT_EQ(tab->GetCurSel(), 0) << "after RemoveAll the next visible page is current";
}

TEST(TabLayout, PagesAddedWhileTheLayoutIsHiddenKeepTheirPlace)
{
    Window w;
    CTabLayoutUI* tab = w.Add<CTabLayoutUI>(L"tab", {0, 0, 100, 100});
    tab->SetVisible(false);
    tab->Add(Page(L"a"));
    tab->Add(Page(L"b"));
    EXPECT_EQ(tab->GetCurSel(), 0);
    tab->SetVisible(true);
    EXPECT_EQ(Shown(tab), "10");
}

TEST(TabLayout, SelectingShowsOnePageAndNotifiesOnlyAChange)
{
    Window w;
    CTabLayoutUI* tab = w.Add<CTabLayoutUI>(L"tab", {0, 0, 100, 100});
    for (LPCWSTR n : {L"p0", L"p1", L"p2"}) tab->Add(Page(n));
    w.notes.full.clear();

    EXPECT_TRUE(tab->SelectItem(2));
    EXPECT_EQ(Shown(tab), "001");
    EXPECT_TRUE(tab->SelectItem(2)) << "the current page again";
    EXPECT_TRUE(tab->SelectItem(1, false));
    EXPECT_EQ(Shown(tab), "010");
    const struct {
        int index;
        bool result;
    } refused[] = {{-1, false}, {3, false}, {INT_MAX, false}};
    for (const auto& r : refused) EXPECT_EQ(tab->SelectItem(r.index), r.result) << r.index;
    tab->SetAttribute(L"selectedid", L"3");
    EXPECT_EQ(tab->GetCurSel(), 1) << "selectedid past the pages changes nothing";
    tab->SetAttribute(L"selectedid", L"0");
    EXPECT_EQ(tab->GetCurSel(), 0);
    EXPECT_NE(tab->GetCustomAttribute(L"selectedid"), nullptr) << "kept as a custom attribute";
    std::vector<std::wstring> selections;
    for (const auto& n : w.notes.full)
        if (n.rfind(L"tabselect", 0) == 0) selections.push_back(n);
    EXPECT_EQ(selections, (std::vector<std::wstring>{L"tabselect tab 2 0", L"tabselect tab 0 1"}));
}

TEST(TabLayout, PlacesOnlyTheCurrentPageInsideInsetAndPadding)
{
    Window w;
    CTabLayoutUI* tab = w.Add<CTabLayoutUI>(L"tab", {0, 0, 10, 10}, {{L"inset", L"5,6,7,8"}});
    CControlUI* p0 = Page(L"p0");
    p0->SetPadding(RECT{1, 2, 3, 4});
    CControlUI* p1 = Page(L"p1");
    p1->SetFixedWidth(30);
    p1->SetMaxHeight(20);
    tab->Add(p0);
    tab->Add(p1);
    tab->SetPos(RECT{10, 10, 110, 110});
    const RECT want0 = {16, 18, 16 + 100 - 12 - 4, 18 + 100 - 14 - 6};
    EXPECT_TRUE(::EqualRect(&p0->GetPos(), &want0));
    EXPECT_TRUE(::IsRectEmpty(&p1->GetPos())) << "a hidden page is not placed";
    tab->SelectItem(1);
    tab->SetPos(RECT{10, 10, 110, 110});
    const RECT want1 = {15, 16, 45, 36};
    EXPECT_TRUE(::EqualRect(&p1->GetPos(), &want1)) << "fixed width and maximum height hold";
    EXPECT_TRUE(::EqualRect(&p0->GetPos(), &want0)) << "the other page keeps its rectangle";
}

// Clicks on the text's links, read back from where the text drew them.
TEST(Text, LinksAreHitByIndexAndGoWithTheText)
{
    Window w;
    CTextUI* t = w.Add<CTextUI>(L"t", {0, 0, 200, 40}, {{L"showhtml", L"true"}});
    t->SetText(L"go {a first}one{/a} or {a second}two{/a}");
    EXPECT_EQ(t->GetControlFlags(), 0u) << "no links before the first paint";
    Canvas canvas(200, 40, RGB(255, 255, 255));
    const RECT all = {0, 0, 200, 40};
    t->Paint(canvas.Dc(), all, nullptr);
    ASSERT_EQ(t->GetLinkCount(), 2);
    EXPECT_STREQ(t->GetLinkText(1)->GetData(), L"second");
    EXPECT_EQ(t->GetControlFlags(), static_cast<UINT>(UIFLAG_SETCURSOR));
    auto middle = [t](int i) {
        const RECT r = t->GetLinkRect(i);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    };
    const POINT second = middle(1);
    const POINT first = middle(0);
    const POINT none = {1, 1};

    w.Send(t, UIEventButtonDown, second);
    w.Send(t, UIEventButtonUp, second);
    w.Send(t, UIEventButtonUp, first);
    w.Send(t, UIEventButtonUp, none);
    EXPECT_EQ(w.notes.full, (std::vector<std::wstring>{L"link t 1 0", L"link t 0 0"}));

    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
    w.Send(t, UIEventSetCursor, second);
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_HAND)) << "the hand over a link";

    w.Send(t, UIEventMouseMove, second);
    EXPECT_EQ(t->GetHotLink(), 1);
    w.Send(t, UIEventMouseMove, none);
    EXPECT_EQ(t->GetHotLink(), -1);
    w.Send(t, UIEventMouseMove, first);
    w.Send(t, UIEventMouseLeave, none);
    EXPECT_EQ(t->GetHotLink(), -1) << "the pointer left the link";

    t->SetEnabled(false);
    w.notes.full.clear();
    w.Send(t, UIEventButtonUp, second);
    EXPECT_TRUE(w.notes.full.empty()) << "a disabled text sends no link";
    EXPECT_EQ(t->GetControlFlags(), 0u);
    t->SetEnabled(true);

    t->SetText(L"");
    t->Paint(canvas.Dc(), all, nullptr);
    EXPECT_EQ(t->GetLinkCount(), 0);
    w.Send(t, UIEventButtonUp, second);
    EXPECT_TRUE(w.notes.full.empty()) << "a cleared text has no link areas";

    // More links than kept: the first eight are hit, the rest are plain text.
    std::wstring many;
    for (int i = 0; i < 10; ++i) many += L"{a x}L{/a} ";
    t->SetText(many.c_str());
    t->Paint(canvas.Dc(), all, nullptr);
    EXPECT_EQ(t->GetLinkCount(), CTextUI::kMaxLinks);
}

TEST(Text, IsAWordWrappingLabelMadeByTheBuilder)
{
    CTextUI t;
    EXPECT_EQ(t.GetTextStyle(), static_cast<UINT>(DT_WORDBREAK));
    const RECT pad = t.GetTextPadding();
    const RECT want = {2, 0, 2, 0};
    EXPECT_TRUE(::EqualRect(&pad, &want));
    EXPECT_EQ(t.GetInterface(L"Text"), &t);
    EXPECT_NE(t.GetInterface(L"Label"), nullptr);
    CDialogBuilder builder;
    CControlUI* root = builder.Create(CUIStringOrId(L"<Window><TabLayout name=\"tab\" selectedid=\"1\">"
                                                    L"<Text name=\"a\"/><Text name=\"b\"/></TabLayout></Window>"),
                                      nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(root, nullptr);
    auto* tab = static_cast<CTabLayoutUI*>(root->GetInterface(L"TabLayout"));
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->GetCurSel(), 1);
    EXPECT_STREQ(tab->GetItemAt(0)->GetClass(), L"Text");
    EXPECT_EQ(Shown(tab), "01");
    root->Delete();
}

}  // namespace

namespace {

// A pixel of a bottom-up 32-bit DIB, as 0xRRGGBB.
DWORD PixelOf(HBITMAP bitmap, int x, int y)
{
    DIBSECTION dib = {};
    if (::GetObjectW(bitmap, sizeof dib, &dib) != sizeof dib || !dib.dsBm.bmBits) return 0xFFFFFFFF;
    const int row = dib.dsBmih.biHeight > 0 ? dib.dsBm.bmHeight - 1 - y : y;
    const auto* bits = static_cast<const BYTE*>(dib.dsBm.bmBits) + row * dib.dsBm.bmWidthBytes + x * 4;
    return RGB(bits[2], bits[1], bits[0]) == 0 ? 0 : (DWORD(bits[2]) << 16 | DWORD(bits[1]) << 8 | bits[0]);
}

}  // namespace

TEST(GenerateBitmap, PaintsTheRectUpToTheStopControlWithTheBackgroundOver)
{
    Window w;
    w.root->SetAttribute(L"bkcolor", L"#FF0000FF");
    w.root->SetPos({0, 0, 100, 100});
    CControlUI* red = w.Add<CControlUI>(L"red", {10, 10, 30, 30}, {{L"bkcolor", L"#FFFF0000"}});
    const RECT part = {5, 5, 45, 45};

    UniqueBitmap whole(CDrawHelper::GenerateBitmap(&w.manager, part, nullptr, 0));
    ASSERT_TRUE(whole);
    BITMAP info = {};
    ASSERT_EQ(::GetObjectW(whole.Get(), sizeof info, &info), int(sizeof info));
    EXPECT_EQ(info.bmWidth, 40);
    EXPECT_EQ(info.bmHeight, 40);
    EXPECT_EQ(PixelOf(whole.Get(), 0, 0), 0x0000FFu) << "the root at the rect's corner";
    EXPECT_EQ(PixelOf(whole.Get(), 10, 10), 0xFF0000u) << "the child at (15,15) of the window";
    EXPECT_EQ(PixelOf(whole.Get(), 26, 26), 0x0000FFu) << "past the child";

    UniqueBitmap stopped(CDrawHelper::GenerateBitmap(&w.manager, part, red, 0));
    ASSERT_TRUE(stopped);
    EXPECT_EQ(PixelOf(stopped.Get(), 10, 10), 0x0000FFu) << "painting ends at the stop control";

    UniqueBitmap covered(CDrawHelper::GenerateBitmap(&w.manager, part, nullptr, 0xFF00FF00));
    ASSERT_TRUE(covered);
    EXPECT_EQ(PixelOf(covered.Get(), 10, 10), 0x00FF00u) << "an opaque background covers all";

    EXPECT_EQ(CDrawHelper::GenerateBitmap(&w.manager, {5, 5, 5, 45}, nullptr, 0), nullptr) << "empty rect";
}
