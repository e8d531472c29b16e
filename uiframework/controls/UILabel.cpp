// The label: attributes, measuring, and its plain, formatted and GDI+ painting.
#include "UILabel.h"

#include <windows.h>

#include <objidl.h>   // needed by the GDI+ headers
#include <gdiplus.h>

#include <cstdlib>
#include <cwchar>
#include <memory>

#include "UIGdiplus.h"
#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

namespace {

const UINT kHorizontalAlign = DT_CENTER | DT_RIGHT;
// A second colour of exactly this value means "the first one again".
const DWORD kNoSecondColor = 0xFFFFFFFF;

bool Contains(LPCWSTR text, LPCWSTR word) { return text && std::wcsstr(text, word) != nullptr; }

// The words of "align" and "valign": each one found, in table order, sets its
// bits and clears the others of the mask, so the last one found wins.
struct AlignWord {
    LPCWSTR word;
    UINT bits;
};

void ApplyAlignWords(LPCWSTR value, const AlignWord (&words)[3], UINT mask, UINT& style)
{
    for (const AlignWord& w : words) {
        if (Contains(value, w.word)) style = (style & ~mask) | w.bits;
    }
}

Gdiplus::Color ToGdiplus(DWORD argb) { return Gdiplus::Color(static_cast<Gdiplus::ARGB>(argb)); }

}  // namespace

void StoreImageDescription(CControlUI& control, UIImageDrawInfo& info, LPCWSTR image)
{
    if (info.sDrawString.Equals(image ? image : L"") && info.pImageInfo) return;
    info.Clear();
    info.sDrawString = image;
    control.Invalidate();
}

CLabelUI::CLabelUI()
    : m_dwTextColor(0),
      m_dwDisabledTextColor(0),
      m_iFont(-1),
      m_uTextStyle(DT_VCENTER | DT_SINGLELINE),
      m_rcTextPadding{0, 0, 0, 0},
      m_bShowHtml(false),
      m_szAvailableLast{0, 0},
      m_cxyFixedLast{0, 0},
      m_bNeedEstimateSize(true),
      m_fLuminousFuzzy(3.0f),
      m_GradientLength(0),
      m_nGradientStartX(0),
      m_EnableEffect(false),
      m_bEnableLuminous(false),
      m_EnabledStroke(false),
      m_EnabledShadow(false),
      m_dwTextColor2(kNoSecondColor),
      m_dwTextShadowColorA(0xFF000000),
      m_dwTextShadowColorB(kNoSecondColor),
      m_dwStrokeColor(0),
      m_ptShadowOffset{0.0f, 0.0f}
{
}

CLabelUI::~CLabelUI() = default;

LPCWSTR CLabelUI::GetClass() const { return L"Label"; }

void* CLabelUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"Label") == 0) return this;
    return CControlUI::GetInterface(pstrName);
}

void CLabelUI::SetText(LPCWSTR pstrText)
{
    CControlUI::SetText(pstrText);
    m_bNeedEstimateSize = true;
    if (m_EnableEffect) m_sEffectText = m_sText;
}

void CLabelUI::SetFixedWidth(int cx)
{
    m_bNeedEstimateSize = true;
    CControlUI::SetFixedWidth(cx);
}

void CLabelUI::SetFixedHeight(int cy)
{
    m_bNeedEstimateSize = true;
    CControlUI::SetFixedHeight(cy);
}

void CLabelUI::DoEvent(UIEvent& event)
{
    // A label does not repaint on focus changes.
    if (event.Type == UIEventSetFocus) {
        m_bFocused = true;
        return;
    }
    if (event.Type == UIEventKillFocus) {
        m_bFocused = false;
        return;
    }
    CControlUI::DoEvent(event);
}

void CLabelUI::SetTextColor(DWORD color)
{
    m_dwTextColor = color;
    Invalidate();
}

void CLabelUI::SetTextPadding(int left, int top, int right, int bottom)
{
    m_rcTextPadding = RECT{left, top, right, bottom};
    m_bNeedEstimateSize = true;
    Invalidate();
}

void CLabelUI::SetMultiLine(bool multiLine)
{
    if (multiLine) {
        m_uTextStyle &= ~DT_SINGLELINE;
        m_uTextStyle |= DT_WORDBREAK;
    } else {
        m_uTextStyle |= DT_SINGLELINE;
    }
    m_bNeedEstimateSize = true;
}

void CLabelUI::SetShowHtml(bool show)
{
    if (m_bShowHtml == show) return;
    m_bShowHtml = show;
    m_bNeedEstimateSize = true;
    Invalidate();
}

void CLabelUI::SetEnabledEffect(bool enabled)
{
    m_EnableEffect = enabled;
    if (enabled) m_sEffectText = m_sText;
    Invalidate();
}

void CLabelUI::SetShadowOffset(int offset, int angle)
{
    if (angle > 180 || angle < -180) return;
    // The offset itself, not added to the control's position: the shadow is drawn
    // relative to the text. x follows the angle's cosine side, y its sine side.
    const float d = static_cast<float>(offset);
    float x = 0.0f;
    float y = 0.0f;
    if (angle > -90 && angle <= 90) x = -d;
    else if (angle != -90) x = d;
    if (angle >= 0) y = -d;
    else if (angle != -180) y = d;
    m_ptShadowOffset[0] = x;
    m_ptShadowOffset[1] = y;
    Invalidate();
}

void CLabelUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    auto is = [pstrName](LPCWSTR n) { return std::wcscmp(pstrName, n) == 0; };
    const bool yes = IsTrue(pstrValue);
    if (is(L"align")) {
        static const AlignWord kWords[] = {{L"left", 0}, {L"center", DT_CENTER}, {L"right", DT_RIGHT}};
        ApplyAlignWords(pstrValue, kWords, kHorizontalAlign, m_uTextStyle);
    } else if (is(L"valign")) {
        static const AlignWord kWords[] = {{L"top", 0}, {L"vcenter", DT_VCENTER}, {L"bottom", DT_BOTTOM}};
        ApplyAlignWords(pstrValue, kWords, DT_VCENTER | DT_BOTTOM, m_uTextStyle);
    } else if (is(L"endellipsis")) {
        if (yes) m_uTextStyle |= DT_END_ELLIPSIS;
        else m_uTextStyle &= ~DT_END_ELLIPSIS;
    } else if (is(L"font")) {
        m_iFont = static_cast<int>(std::wcstol(pstrValue, nullptr, 10));
        m_bNeedEstimateSize = true;
        Invalidate();
    } else if (is(L"textcolor")) {
        SetTextColor(ParseColorText(pstrValue));
    } else if (is(L"disabledtextcolor")) {
        m_dwDisabledTextColor = ParseColorText(pstrValue);
        Invalidate();
    } else if (is(L"textpadding")) {
        int v[4];
        ReadNumberList(pstrValue, v, 4);
        SetTextPadding(v[0], v[1], v[2], v[3]);
    } else if (is(L"multiline")) {
        SetMultiLine(yes);
    } else if (is(L"showhtml")) {
        SetShowHtml(yes);
    } else if (is(L"enabledeffect")) {
        SetEnabledEffect(yes);
    } else if (is(L"enabledluminous")) {
        m_bEnableLuminous = yes;
        Invalidate();
    } else if (is(L"luminousfuzzy")) {
        const double v = std::wcstod(pstrValue, nullptr);
        if (v < 0.0001) return;
        // The glow's work bitmap is the text's size divided by this: below 1 it
        // would grow past the text instead of shrinking.
        m_fLuminousFuzzy = v < 1.0 ? 1.0f : static_cast<float>(v);
        Invalidate();
    } else if (is(L"gradientangle")) {
        m_nGradientStartX = static_cast<int>(std::wcstol(pstrValue, nullptr, 10));
        Invalidate();
    } else if (is(L"enabledstroke")) {
        m_EnabledStroke = yes;
        Invalidate();
    } else if (is(L"enabledshadow")) {
        m_EnabledShadow = yes;
        Invalidate();
    } else if (is(L"gradientlength")) {
        m_GradientLength = static_cast<int>(std::wcstol(pstrValue, nullptr, 10));
        Invalidate();
    } else if (is(L"shadowoffset")) {
        int v[2];
        ReadNumberList(pstrValue, v, 2);
        SetShadowOffset(v[0], v[1]);
    } else if (is(L"textcolor1")) {
        m_dwTextColor2 = ParseColorText(pstrValue);
        Invalidate();
    } else if (is(L"textshadowcolora")) {
        m_dwTextShadowColorA = ParseColorText(pstrValue);
        Invalidate();
    } else if (is(L"textshadowcolorb")) {
        m_dwTextShadowColorB = ParseColorText(pstrValue);
        Invalidate();
    } else if (is(L"strokecolor")) {
        m_dwStrokeColor = ParseColorText(pstrValue);
        Invalidate();
    } else {
        CControlUI::SetAttribute(pstrName, pstrValue);
    }
}

SIZE CLabelUI::EstimateSize(SIZE szAvailable)
{
    if (m_cxyFixed.cx > 0 && m_cxyFixed.cy > 0) return m_cxyFixed;
    const bool single = (m_uTextStyle & DT_SINGLELINE) != 0;
    if (!single && (szAvailable.cx != m_szAvailableLast.cx || szAvailable.cy != m_szAvailableLast.cy)) {
        m_bNeedEstimateSize = true;
    }
    if (m_bNeedEstimateSize && m_pManager) {
        m_szAvailableLast = szAvailable;
        m_cxyFixedLast = m_cxyFixed;
        m_bNeedEstimateSize = false;
        // The drawing functions replace the multi-language tokens themselves.
        const CUIString& text = m_sText;
        const UINT measure = (m_uTextStyle & ~kHorizontalAlign) | DT_CALCRECT;
        HDC dc = m_pManager->GetPaintDC();
        auto layOut = [&](RECT& rc) {
            if (m_bShowHtml) {
                int links = 0;
                CDrawHelper::DrawHtmlText(dc, m_pManager, rc, text, 0, nullptr, nullptr, links, m_iFont, measure);
            } else {
                CDrawHelper::DrawText(dc, m_pManager, rc, text, m_dwTextColor, m_iFont, measure);
            }
        };
        if (single) {
            if (m_cxyFixedLast.cy == 0) {
                m_cxyFixedLast.cy =
                    m_rcTextPadding.top + m_rcTextPadding.bottom + m_pManager->GetFontInfo(m_iFont)->tm.tmHeight + 8;
            }
            if (m_cxyFixedLast.cx == 0) {
                RECT rc = {0, 0, 9999, m_cxyFixedLast.cy};
                layOut(rc);
                m_cxyFixedLast.cx = m_rcTextPadding.left + m_rcTextPadding.right + (rc.right - rc.left);
            }
        } else {
            if (m_cxyFixedLast.cx == 0) m_cxyFixedLast.cx = szAvailable.cx;
            RECT rc = {m_rcTextPadding.left, 0, m_cxyFixedLast.cx - m_rcTextPadding.right, 9999};
            layOut(rc);
            m_cxyFixedLast.cy = m_rcTextPadding.top + m_rcTextPadding.bottom + (rc.bottom - rc.top);
        }
    }
    return m_cxyFixedLast;
}

RECT CLabelUI::MeasureText(int width)
{
    const int w = m_cxyFixed.cx > width ? m_cxyFixed.cx : width;
    RECT rc = {m_rcTextPadding.left, 0, w - m_rcTextPadding.right, 9999};
    if (!m_pManager) return rc;
    HDC dc = m_pManager->GetPaintDC();
    if (m_bShowHtml) {
        int links = 0;
        CDrawHelper::DrawHtmlText(dc, m_pManager, rc, m_sText, 0, nullptr, nullptr, links, m_iFont,
                                  (m_uTextStyle & ~kHorizontalAlign) | DT_CALCRECT);
    } else {
        CDrawHelper::DrawText(dc, m_pManager, rc, m_sText, m_dwTextColor, m_iFont, m_uTextStyle | DT_CALCRECT);
    }
    return rc;
}

void CLabelUI::TakeDefaultColors()
{
    if (!m_pManager) return;
    if (m_dwTextColor == 0) m_dwTextColor = m_pManager->GetDefaultFontColor();
    if (m_dwDisabledTextColor == 0) m_dwDisabledTextColor = m_pManager->GetDisabledFontColor();
}

RECT CLabelUI::GetTextRect() const
{
    return RECT{m_rcItem.left + m_rcTextPadding.left, m_rcItem.top + m_rcTextPadding.top,
                m_rcItem.right - m_rcTextPadding.right, m_rcItem.bottom - m_rcTextPadding.bottom};
}

void CLabelUI::DrawPlainText(HDC hDC, RECT rc, DWORD color)
{
    if (m_bShowHtml) {
        int links = 0;
        CDrawHelper::DrawHtmlText(hDC, m_pManager, rc, m_sText, color, nullptr, nullptr, links, m_iFont, m_uTextStyle);
    } else {
        CDrawHelper::DrawText(hDC, m_pManager, rc, m_sText, color, m_iFont, m_uTextStyle);
    }
}

void CLabelUI::PaintText(HDC hDC)
{
    TakeDefaultColors();
    RECT rc = GetTextRect();
    if (!(m_uTextStyle & DT_SINGLELINE)) {
        const RECT measured = MeasureText(rc.right - rc.left);
        const int h = measured.bottom - measured.top;
        const int room = (rc.bottom - rc.top) - h;
        if (room > 0) {
            if (m_uTextStyle & DT_VCENTER) rc.top += room / 2;
            else if (m_uTextStyle & DT_BOTTOM) rc.top += room;
        }
    }
    if (!m_EnableEffect) {
        if (m_sText.IsEmpty()) return;
        DrawPlainText(hDC, rc, IsEnabled() ? m_dwTextColor : m_dwDisabledTextColor);
        return;
    }
    PaintEffectText(hDC, rc);
}

void CLabelUI::PaintEffectText(HDC hDC, const RECT& rc)
{
    if (!CUIGdiplus::Start()) return;
    using namespace Gdiplus;
    CUIString text = m_sEffectText;
    if (m_pManager) CWindowManagerUI::ProcessMultiLanguageTokens(text);
    const int length = text.GetLength();

    std::unique_ptr<Font> font;
    HFONT handle = m_pManager ? m_pManager->GetFont(m_iFont) : nullptr;
    LOGFONTA lf = {};
    if (handle && ::GetObjectA(handle, sizeof(lf), &lf)) {
        font.reset(new Font(hDC, &lf));
    } else {
        font.reset(new Font(hDC));
    }
    Graphics graphics(hDC);
    graphics.SetTextRenderingHint(TextRenderingHintAntiAlias);

    StringFormat format;
    format.SetLineAlignment((m_uTextStyle & DT_VCENTER) ? StringAlignmentCenter
                            : (m_uTextStyle & DT_BOTTOM) ? StringAlignmentFar
                                                         : StringAlignmentNear);
    format.SetAlignment((m_uTextStyle & DT_CENTER) ? StringAlignmentCenter
                        : (m_uTextStyle & DT_RIGHT) ? StringAlignmentFar
                                                    : StringAlignmentNear);
    const RectF layout(static_cast<REAL>(rc.left), static_cast<REAL>(rc.top), static_cast<REAL>(rc.right - rc.left),
                       static_cast<REAL>(rc.bottom - rc.top));
    const int gradient = m_GradientLength != 0 ? m_GradientLength : rc.bottom - rc.top;
    const Point from(m_nGradientStartX, 0);
    const Point to(0, gradient);
    const DWORD second = m_dwTextColor2 == kNoSecondColor ? m_dwTextColor : m_dwTextColor2;
    LinearGradientBrush textBrush(from, to, ToGdiplus(m_dwTextColor), ToGdiplus(second));
    textBrush.SetWrapMode(WrapModeTile);
    const DWORD shadowB = m_dwTextShadowColorB == kNoSecondColor ? m_dwTextShadowColorA : m_dwTextShadowColorB;
    LinearGradientBrush shadowBrush(from, to, ToGdiplus(m_dwTextShadowColorA), ToGdiplus(shadowB));
    shadowBrush.SetWrapMode(WrapModeTile);

    if (m_bEnableLuminous) {
        const int w = static_cast<int>(layout.Width);
        const int h = static_cast<int>(layout.Height);
        if (w > 0 && h > 0) {
            // The fuzziness is at least 1, so the small picture is never larger.
            int sw = static_cast<int>(w / m_fLuminousFuzzy);
            int sh = static_cast<int>(h / m_fLuminousFuzzy);
            if (sw < 1) sw = 1;
            if (sh < 1) sh = 1;
            Bitmap big(w, h, PixelFormat32bppARGB);
            Bitmap small(sw, sh, PixelFormat32bppARGB);
            {
                Graphics g(&big);
                g.SetSmoothingMode(SmoothingModeAntiAlias);
                g.SetTextRenderingHint(TextRenderingHintAntiAlias);
                g.SetCompositingQuality(CompositingQualityAssumeLinear);
                g.DrawString(text, length, font.get(), RectF(0, 0, static_cast<REAL>(w), static_cast<REAL>(h)),
                             &format, &textBrush);
            }
            {
                Graphics g(&small);
                g.SetInterpolationMode(InterpolationModeHighQualityBicubic);
                g.SetPixelOffsetMode(PixelOffsetModeNone);
                g.DrawImage(&big, 0, 0, sw, sh);
            }
            {
                Graphics g(&big);
                g.Clear(Color(0, 0, 0, 0));
                g.SetInterpolationMode(InterpolationModeHighQualityBicubic);
                g.DrawImage(&small, static_cast<int>(m_ptShadowOffset[0]), static_cast<int>(m_ptShadowOffset[1]), w,
                            h);
            }
            graphics.DrawImage(&big, static_cast<int>(layout.X), static_cast<int>(layout.Y));
        }
    }
    if (m_EnabledStroke && m_dwStrokeColor != 0) {
        LinearGradientBrush stroke(Point(0, 0), Point(0, rc.bottom - rc.top + 2), ToGdiplus(m_dwStrokeColor),
                                   ToGdiplus(m_dwStrokeColor));
        const REAL dx[4] = {-1, 1, 0, 0};
        const REAL dy[4] = {0, 0, -1, 1};
        for (int i = 0; i < 4; ++i) {
            RectF shifted = layout;
            shifted.Offset(dx[i], dy[i]);
            graphics.DrawString(text, length, font.get(), shifted, &format, &stroke);
        }
    }
    if (m_EnabledShadow && (m_dwTextShadowColorA != 0 || m_dwTextShadowColorB != 0)) {
        RectF shifted = layout;
        shifted.Offset(m_ptShadowOffset[0], m_ptShadowOffset[1]);
        graphics.DrawString(text, length, font.get(), shifted, &format, &shadowBrush);
    }
    graphics.DrawString(text, length, font.get(), layout, &format, &textBrush);
}

}  // namespace SkinUI
