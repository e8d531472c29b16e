// Formatted text: each markup case measured against what GDI measures for the same
// fonts, then drawn into a canvas and its pixels, links and alignment checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "UIRender.h"
#include "draw_support.h"

using namespace SkinUI;
using uitest::Canvas;
using uitest::MakeFont;
using uitest::TestResources;

namespace {

// The fonts the test resources hold (Tahoma 12 by default, font 1 Tahoma 18) and
// the styled ones the markup asks for, made independently here.
struct Font {
    HFONT handle;
    TEXTMETRICW tm;
    explicit Font(HFONT h) : handle(h)
    {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, h);
        GetTextMetricsW(dc, &tm);
        SelectObject(dc, old);
        DeleteDC(dc);
    }
    ~Font() { DeleteObject(handle); }
    int Line() const { return tm.tmHeight + tm.tmExternalLeading; }
    int Width(const std::wstring& text) const
    {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, handle);
        SIZE size = {0, 0};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        DeleteDC(dc);
        return size.cx;
    }
    int BlankOverhang() const
    {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, handle);
        ABC abc = {};
        GetCharABCWidthsW(dc, L' ', L' ', &abc);
        SelectObject(dc, old);
        DeleteDC(dc);
        return static_cast<int>(abc.abcC) / 2;
    }
};

class HtmlTextTest : public ::testing::Test {
protected:
    const Font N{MakeFont(L"Tahoma", 12, false, false, false)};
    const Font B{MakeFont(L"Tahoma", 12, true, false, false)};
    const Font I{MakeFont(L"Tahoma", 12, false, false, true)};
    const Font U{MakeFont(L"Tahoma", 12, false, true, false)};
    const Font Big{MakeFont(L"Tahoma", 18, false, false, false)};
    const Font Face{MakeFont(L"Tahoma", 20, true, false, false)};
    uitest::ImageFolderSource m_images;
    TestResources m_res;

    RECT Measure(const std::wstring& markup, int width, UINT style)
    {
        Canvas canvas(4, 4);
        RECT rc = {0, 0, width, 9999};
        int links = 0;
        CDrawHelper::DrawHtmlText(canvas.Dc(), &m_res, rc, markup.c_str(), 0xFF000000, nullptr, nullptr, links, -1,
                                  style | DT_CALCRECT);
        return rc;
    }
    void Draw(Canvas& canvas, const std::wstring& markup, UINT style, RECT* links = nullptr,
              CUIString* texts = nullptr, int* count = nullptr)
    {
        RECT rc = {0, 0, canvas.Width(), canvas.Height()};
        int none = 0;
        CDrawHelper::DrawHtmlText(canvas.Dc(), &m_res, rc, markup.c_str(), 0xFF000000, links, texts,
                                  count ? *count : none, -1, style);
    }
};

struct MeasureCase {
    const wchar_t* markup;
    int width;
    UINT style;
    std::function<SIZE()> expected;
};

TEST_F(HtmlTextTest, MarkupIsMeasuredAsGdiMeasuresItsFonts)
{
    const int lh = N.Line();
    const int lhB = std::max(lh, B.Line());
    const std::wstring han = L"\u4e2d\u6587\u5b57\u4f53";
    const MeasureCase cases[] = {
        {L"Hello", 400, 0, [&] { return SIZE{N.Width(L"Hello"), lh}; }},
        {L"<b>Bold</b> text", 400, 0, [&] { return SIZE{B.Width(L"Bold") + N.Width(L" ") + N.Width(L"text"), lhB}; }},
        {L"{b}Bold{/b} text", 400, 0, [&] { return SIZE{B.Width(L"Bold") + N.Width(L" ") + N.Width(L"text"), lhB}; }},
        {L"{i}it{/i}x", 400, 0,
         [&] { return SIZE{I.Width(L"it") + I.BlankOverhang() + N.Width(L"x"), std::max(lh, I.Line())}; }},
        {L"{u}under{/u}", 400, 0, [&] { return SIZE{U.Width(L"under"), std::max(lh, U.Line())}; }},
        {L"{c #FF0000}red{/c}", 400, 0, [&] { return SIZE{N.Width(L"red"), lh}; }},
        {L"{f 1}big{/f}", 400, 0, [&] { return SIZE{Big.Width(L"big"), Big.Line()}; }},
        {L"{f Tahoma 20 Bold}x{/f}", 400, 0, [&] { return SIZE{Face.Width(L"x"), Face.Line()}; }},
        {L"{a link}go{/a}", 400, 0, [&] { return SIZE{U.Width(L"go"), std::max(lh, U.Line())}; }},
        {L"a{n}bb", 400, 0, [&] { return SIZE{std::max(N.Width(L"a"), N.Width(L"bb")), 2 * lh}; }},
        {L"a\nbb", 400, 0, [&] { return SIZE{std::max(N.Width(L"a"), N.Width(L"bb")), 2 * lh}; }},
        {L"a{n}bb", 400, DT_SINGLELINE, [&] { return SIZE{N.Width(L"a") + N.Width(L"bb"), lh}; }},
        {L"a\nbb", 400, DT_SINGLELINE, [&] { return SIZE{N.Width(L"a"), lh}; }},
        {L"{p 5}a{/p}b", 400, 0, [&] { return SIZE{N.Width(L"a"), 5 + lh + lh}; }},
        {L"x{p 5}a", 400, 0, [&] { return SIZE{std::max(N.Width(L"x"), N.Width(L"a")), lh + 5 + lh}; }},
        {L"{y 30}a", 400, 0, [&] { return SIZE{N.Width(L"a"), 30}; }},
        {L"{x 10}a", 400, 0, [&] { return SIZE{10 + N.Width(L"a"), lh}; }},
        {L"x<{>y{<}z<}>{>}", 400, 0,
         [&] { return SIZE{N.Width(L"x") + N.Width(L"{") + N.Width(L"y") + N.Width(L"<") + N.Width(L"z") +
                               N.Width(L"}") + N.Width(L">"), lh}; }},
        {L"{r}{b}x{/r}y", 400, 0, [&] { return SIZE{N.Width(L"{b}x") + N.Width(L"y"), lh}; }},
        {L"{s}sel{/s}", 400, 0, [&] { return SIZE{N.Width(L"sel"), lh}; }},
        {L"{i nine.png}", 400, 0, [&] { return SIZE{12, std::max(lh, 12)}; }},
        {L"{i strip.png 5 1}", 400, 0, [&] { return SIZE{20, lh}; }},
        {L"{i file='nine.png'}", 400, 0, [&] { return SIZE{12, std::max(lh, 12)}; }},
        {L"{b}{/b}", 400, 0, [&] { return SIZE{0, lhB}; }},
        {L"", 400, 0, [&] { return SIZE{0, lh}; }},
        {L"ab{b xyz", 400, 0, [&] { return SIZE{N.Width(L"ab"), lh}; }},
        {L"ab{b", 400, 0, [&] { return SIZE{N.Width(L"ab") + N.Width(L"{b"), lh}; }},
        {L"{z}q{/z}", 400, 0, [&] { return SIZE{N.Width(L"q"), lh}; }},
        {L"a < b", 400, 0, [&] { return SIZE{N.Width(L"a") + N.Width(L" ") + N.Width(L"< b"), lh}; }},
        {L"%{5}", 400, 0, [&] { return SIZE{N.Width(L"Hi"), lh}; }},
        // any character that is not an ASCII letter is a break: two Han characters a line
        {han.c_str(), -1, DT_WORDBREAK, [&] { return SIZE{N.Width(han.substr(0, 2)), 2 * lh}; }},
        // without a break position a word is cut where it stops fitting
        {L"abcdef", -2, DT_WORDBREAK, [&] { return SIZE{std::max(N.Width(L"abc"), N.Width(L"def")), 2 * lh}; }},
        // word break after the blank; the rect is one character too narrow for all of it
        {L"aaa bbb", 0, DT_WORDBREAK,
         [&] { return SIZE{std::max(N.Width(L"aaa "), N.Width(L"bbb")), 2 * lh}; }},
    };
    m_res.texts[5] = L"Hi";
    for (const MeasureCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.markup);
        const int width = c.width > 0    ? c.width
                          : c.width == 0 ? N.Width(L"aaa bbb") - 1
                          : c.width == -1 ? N.Width(han.substr(0, 3)) - 1
                                          : N.Width(L"abcd") - 1;
        const RECT rc = Measure(c.markup, width, c.style);
        const SIZE want = c.expected();
        EXPECT_EQ(0, rc.left);
        EXPECT_EQ(0, rc.top);
        EXPECT_EQ(want.cx, rc.right);
        EXPECT_EQ(want.cy, rc.bottom);
    }
}

// Columns [from, to) of the canvas.
RECT Columns(const Canvas& c, int from, int to) { return RECT{from, 0, to, c.Height()}; }

TEST_F(HtmlTextTest, ColoursSelectionAndImagesLandOnTheirRuns)
{
    for (const wchar_t* markup : {L"{c #FF0000}red{/c}black", L"<c FF0000>red</c>black"}) {
        SCOPED_TRACE(testing::Message() << markup);
        Canvas canvas(200, 20);
        Draw(canvas, markup, DT_SINGLELINE);
        const int split = N.Width(L"red");
        EXPECT_TRUE(canvas.HasColor(Columns(canvas, 0, split), 0xFF0000));
        EXPECT_FALSE(canvas.HasColor(Columns(canvas, 0, split), 0x000000));
        EXPECT_TRUE(canvas.HasColor(Columns(canvas, split, 200), 0x000000));
        EXPECT_FALSE(canvas.HasColor(Columns(canvas, split, 200), 0xFF0000));
        EXPECT_LE(canvas.InkBounds().right, split + N.Width(L"black") + 1);
    }
    {
        Canvas canvas(200, 20);
        Draw(canvas, L"ab{s}sel{/s}cd", DT_SINGLELINE);
        const int from = N.Width(L"ab"), to = from + N.Width(L"sel");
        EXPECT_TRUE(canvas.HasColor({from, 0, from + 1, N.Line()}, 0xBAE4FF));
        EXPECT_TRUE(canvas.HasColor({to - 1, 0, to, N.Line()}, 0xBAE4FF));
        EXPECT_FALSE(canvas.HasColor(Columns(canvas, 0, from), 0xBAE4FF));
        EXPECT_FALSE(canvas.HasColor(Columns(canvas, to, 200), 0xBAE4FF));
    }
    {
        // Frame 1 of five: the second state of the strip, bottom-aligned on the line.
        Canvas canvas(100, 30);
        Draw(canvas, L"{f 1}x{i strip.png 5 1}{/f}", DT_SINGLELINE);
        const int x = Big.Width(L"x");
        EXPECT_TRUE(canvas.HasColor({x, Big.Line() - 4, x + 20, Big.Line()}, 0x00C800));
        EXPECT_FALSE(canvas.HasColor(Columns(canvas, 0, 100), 0xC80000));
        EXPECT_FALSE(canvas.HasColor({x, 0, x + 20, Big.Line() - 4}, 0x00C800));
        EXPECT_FALSE(canvas.HasColor(Columns(canvas, x + 20, 100), 0x00C800));
    }
}

TEST_F(HtmlTextTest, AlignmentMovesTheText)
{
    const int w = N.Width(L"Mid"), lh = N.Line();
    const struct {
        UINT style;
        int left, top;
    } cases[] = {
        {DT_SINGLELINE, 0, 0},
        {DT_SINGLELINE | DT_CENTER, (200 - w) / 2, 0},
        {DT_SINGLELINE | DT_RIGHT, 200 - w, 0},
        {DT_SINGLELINE | DT_VCENTER, 0, (40 - lh) / 2},
        {DT_SINGLELINE | DT_BOTTOM | DT_RIGHT, 200 - w, 40 - lh},
        {DT_CENTER, (200 - w) / 2, 0},   // several lines: each centred on its own
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.style);
        Canvas reference(200, 40), canvas(200, 40);
        Draw(reference, L"Mid", DT_SINGLELINE);
        Draw(canvas, L"Mid", c.style);
        const RECT ink0 = reference.InkBounds(), ink = canvas.InkBounds();
        EXPECT_EQ(ink0.left + c.left, ink.left);
        EXPECT_EQ(ink0.top + c.top, ink.top);
    }
}

TEST_F(HtmlTextTest, VerticalAlignmentPlacesRunsOnTheLine)
{
    Canvas reference(40, 40);
    Draw(reference, L"y", DT_SINGLELINE);
    const int refTop = reference.InkBounds().top;
    const int room = Big.Line() - N.Line();
    const int x = Big.Width(L"X");
    const struct {
        const wchar_t* markup;
        int offset;
    } cases[] = {
        {L"{f 1}X{/f}y", room},
        {L"{f 1}X{/f}{v bottom}y{/v}", room},
        {L"{f 1}X{/f}{v CENTER}y{/v}", room / 2},
        {L"{f 1}X{/f}{v top}y{/v}", 0},
        {L"{v top}{f 1}X{/f}{/v}y", room},   // the alignment ended before the small run
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.markup);
        Canvas canvas(80, 40);
        Draw(canvas, c.markup, DT_SINGLELINE);
        // Only the small run's columns.
        Canvas only(80, 40);
        for (int yy = 0; yy < 40; ++yy) {
            for (int xx = x; xx < 80; ++xx) {
                const unsigned p = canvas.Pixel(xx, yy);
                SetPixel(only.Dc(), xx, yy, RGB(p >> 16, (p >> 8) & 0xFF, p & 0xFF));
            }
        }
        EXPECT_EQ(refTop + c.offset, only.InkBounds().top);
    }
}

TEST_F(HtmlTextTest, EllipsisEndsTheTextInsideTheRect)
{
    for (int width : {60, 25, 3}) {
        SCOPED_TRACE(width);
        Canvas canvas(width + 40, 20);
        RECT rc = {0, 0, width, 20};
        int none = 0;
        CDrawHelper::DrawHtmlText(canvas.Dc(), &m_res, rc, L"abcdefghijklmnopqrstuvwxyz", 0xFF000000, nullptr,
                                  nullptr, none, -1, DT_SINGLELINE | DT_END_ELLIPSIS);
        const RECT ink = canvas.InkBounds();
        EXPECT_GT(ink.right, 0);
        EXPECT_LE(ink.right, width);
        // The dots are the last thing drawn: nothing is left of the alphabet's end.
        RECT calc = {0, 0, width, 20};
        CDrawHelper::DrawHtmlText(canvas.Dc(), &m_res, calc, L"abcdefghijklmnopqrstuvwxyz", 0xFF000000, nullptr,
                                  nullptr, none, -1, DT_SINGLELINE | DT_END_ELLIPSIS | DT_CALCRECT);
        EXPECT_EQ(width, calc.right);
    }
    // Centring a line wider than the rect would cut both its ends: it is cut at the
    // right like a left-aligned one.
    {
        Canvas left(100, 20), centred(100, 20);
        RECT a = {0, 0, 60, 20}, b = {0, 0, 60, 20};
        int none = 0;
        CDrawHelper::DrawHtmlText(left.Dc(), &m_res, a, L"abcdefghijklmnopqrstuvwxyz", 0xFF000000, nullptr, nullptr,
                                  none, -1, DT_SINGLELINE | DT_END_ELLIPSIS);
        CDrawHelper::DrawHtmlText(centred.Dc(), &m_res, b, L"abcdefghijklmnopqrstuvwxyz", 0xFF000000, nullptr,
                                  nullptr, none, -1, DT_SINGLELINE | DT_END_ELLIPSIS | DT_CENTER);
        for (int x = 0; x < 100; ++x) {
            for (int y = 0; y < 20; ++y) ASSERT_EQ(left.Pixel(x, y), centred.Pixel(x, y)) << x << "," << y;
        }
    }
    // Two characters in a rect narrower than one: nothing negative is drawn or measured.
    Canvas canvas(40, 20);
    RECT rc = {0, 0, 4, 20};
    int none = 0;
    CDrawHelper::DrawHtmlText(canvas.Dc(), &m_res, rc, L"ab", 0xFF000000, nullptr, nullptr, none, -1,
                              DT_END_ELLIPSIS | DT_WORDBREAK);
    EXPECT_LE(canvas.InkBounds().right, 4);
    RECT calc = {0, 0, 4, 20};
    CDrawHelper::DrawHtmlText(canvas.Dc(), &m_res, calc, L"ab", 0xFF000000, nullptr, nullptr, none, -1,
                              DT_END_ELLIPSIS | DT_WORDBREAK | DT_CALCRECT);
    EXPECT_EQ(N.Line(), calc.bottom);
}

TEST_F(HtmlTextTest, LinksReportTheirRectanglesAndTexts)
{
    const int lh = std::max(N.Line(), U.Line());
    RECT links[3] = {};
    CUIString texts[3];
    int count = 3;
    Canvas canvas(300, 20);
    Draw(canvas, L"go {a one}first{/a} and {a  two}second{/a}", DT_SINGLELINE, links, texts, &count);
    ASSERT_EQ(2, count);
    EXPECT_STREQ(L"one", texts[0].GetData());
    EXPECT_STREQ(L"two", texts[1].GetData());
    const int x0 = N.Width(L"go") + N.Width(L" ");
    const int x1 = x0 + U.Width(L"first") + N.Width(L" ") + N.Width(L"and") + N.Width(L" ");
    const RECT want0 = {x0, 0, x0 + U.Width(L"first"), lh}, want1 = {x1, 0, x1 + U.Width(L"second"), lh};
    EXPECT_TRUE(EqualRect(&want0, &links[0])) << links[0].left << "," << links[0].right << "," << links[0].bottom;
    EXPECT_TRUE(EqualRect(&want1, &links[1])) << links[1].left << "," << links[1].right;
    EXPECT_TRUE(canvas.HasColor({x0, 0, want0.right, lh}, 0x0000FF));
    EXPECT_FALSE(canvas.HasColor({x0, 0, want0.right, lh}, 0xD3215F));

    // The mouse over the second link: it takes the hover colour on the next paint.
    m_res.mouse = {(want1.left + want1.right) / 2, lh / 2};
    canvas.Fill(RGB(255, 255, 255));
    Draw(canvas, L"go {a one}first{/a} and {a  two}second{/a}", DT_SINGLELINE, links, texts, &count);
    EXPECT_TRUE(canvas.HasColor({x1, 0, want1.right, lh}, 0xD3215F));
    EXPECT_FALSE(canvas.HasColor({x1, 0, want1.right, lh}, 0x0000FF));
    EXPECT_TRUE(canvas.HasColor({x0, 0, want0.right, lh}, 0x0000FF));
}

TEST_F(HtmlTextTest, AWrappedLinkHasARectanglePerLineAndStaysInItsSlots)
{
    const int lh = std::max(N.Line(), U.Line());
    const int width = U.Width(L"aaaa bbbb") - 2;
    const std::wstring markup = L"{a w}aaaa bbbb{/a}";
    {
        RECT links[2] = {};
        CUIString texts[2];
        int count = 2;
        Canvas canvas(width, 40);
        Draw(canvas, markup, DT_WORDBREAK, links, texts, &count);
        ASSERT_EQ(2, count);
        EXPECT_STREQ(L"w", texts[0].GetData());
        EXPECT_STREQ(L"w", texts[1].GetData());
        const RECT want0 = {0, 0, U.Width(L"aaaa "), lh}, want1 = {0, lh, U.Width(L"bbbb"), 2 * lh};
        EXPECT_TRUE(EqualRect(&want0, &links[0])) << links[0].right << "," << links[0].bottom;
        EXPECT_TRUE(EqualRect(&want1, &links[1])) << links[1].top << "," << links[1].right << "," << links[1].bottom;
    }
    {
        // One slot: the continuation is drawn but has nowhere to go.
        RECT links[2] = {{7, 7, 7, 7}, {7, 7, 7, 7}};
        CUIString texts[2] = {CUIString(L"x"), CUIString(L"untouched")};
        int count = 1;
        Canvas canvas(width, 40);
        Draw(canvas, markup, DT_WORDBREAK, links, texts, &count);
        EXPECT_EQ(1, count);
        EXPECT_STREQ(L"w", texts[0].GetData());
        EXPECT_STREQ(L"untouched", texts[1].GetData());
        EXPECT_EQ(7, links[1].left);
        EXPECT_TRUE(canvas.HasColor({0, lh, width, 2 * lh}, 0x0000FF));   // the second line is drawn
    }
    {
        // No text: no links, whatever the slots held.
        RECT links[1] = {};
        CUIString texts[1];
        int count = 1;
        RECT rc = {0, 0, 10, 10};
        Canvas canvas(10, 10);
        CDrawHelper::DrawHtmlText(canvas.Dc(), &m_res, rc, nullptr, 0xFF000000, links, texts, count, -1, 0);
        EXPECT_EQ(0, count);
    }
}

TEST_F(HtmlTextTest, PlainTextDrawsAndMeasuresThroughTheManagersFont)
{
    m_res.texts[7] = L"Seven";
    const SIZE size = CDrawHelper::GetTextSize(Canvas(4, 4).Dc(), &m_res, L"%{7}", 1);
    EXPECT_EQ(Big.Width(L"Seven"), size.cx);
    EXPECT_EQ(Big.tm.tmHeight, size.cy);
    Canvas canvas(100, 30);
    RECT rc = {0, 0, 100, 30};
    CDrawHelper::DrawText(canvas.Dc(), &m_res, rc, L"&Red", 0xFFFF0000, -1, DT_SINGLELINE);
    EXPECT_TRUE(canvas.HasColor(Columns(canvas, 0, N.Width(L"&")), 0xFF0000));   // no prefix: "&" is drawn
    EXPECT_LE(canvas.InkBounds().right, N.Width(L"&Red") + 1);
}

}  // namespace
