// Formatted text: one-letter tags in "<>" or "{}" for links (a), bold (b), colour (c),
// font (f), italic or inline image (i), new line (n), paragraph (p), raw text (r),
// selection (s), underline (u), vertical alignment (v), horizontal skip (x) and line
// height (y), closed by "/" and the letter. Each line is laid out twice: a measuring
// pass (width, height, link rectangles), then a drawing pass that repeats its
// decisions with the line's alignment offset known.
#include "UIRender.h"

#include <cwchar>
#include <cwctype>

namespace SkinUI {

namespace {

enum : int { kAlignTop = 0, kAlignCenter = 4, kAlignBottom = 8 };
const UINT kAlignments = DT_CENTER | DT_RIGHT | DT_VCENTER | DT_BOTTOM;

// Styled fonts made for the markup are added to the manager under ids from here.
int g_nextStyledFontId = 30000;

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
bool IsTagEnd(wchar_t c) { return c == L'>' || c == L'}'; }

LPCWSTR FindTagEnd(LPCWSTR p)
{
    while (*p && !IsTagEnd(*p)) ++p;
    return p;
}

bool IsRawEnd(LPCWSTR p)
{
    return (p[0] == L'<' && p[1] == L'/' && p[2] == L'r' && p[3] == L'>') ||
           (p[0] == L'{' && p[1] == L'/' && p[2] == L'r' && p[3] == L'}');
}

// What the two passes of a line must start from alike.
struct LayoutState {
    CUIPtrArray fonts, colors, spacings, aligns;
    LPCWSTR p = nullptr;
    bool raw = false;
    bool selected = false;
    bool linkOpen = false;
    POINT linkStart = {0, 0};
    int linkSlot = -1;        // slot of the open link, -1 when it is not reported
    int continuedSlot = -1;   // slot whose link goes on at the next line's start
};

void* Word(DWORD v) { return reinterpret_cast<void*>(static_cast<UINT_PTR>(v)); }
DWORD Unword(void* p) { return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(p)); }
void* Top(const CUIPtrArray& a) { return a.IsEmpty() ? nullptr : a.GetAt(a.GetSize() - 1); }
void Pop(CUIPtrArray& a)
{
    if (!a.IsEmpty()) a.Remove(a.GetSize() - 1);
}

class HtmlLayout {
public:
    HtmlLayout(HDC dc, IDrawResources* res, const RECT& rc, LPCWSTR text, DWORD color, RECT* links,
               CUIString* linkTexts, int slots, int font, UINT style)
        : m_dc(dc), m_res(res), m_rc(rc), m_defaultColor(color), m_links(links), m_linkTexts(linkTexts),
          m_slots(links && linkTexts && slots > 0 ? slots : 0), m_style(style),
          m_measureOnly((style & DT_CALCRECT) != 0), m_baseFont(res->GetFont(font))
    {
        m_state.p = text;
    }

    void FindHotLink(const RECT* links, const CUIString* texts, int count)
    {
        const POINT mouse = m_res->GetMousePos();
        for (int i = 0; links && texts && i < count; ++i) {
            if (::PtInRect(&links[i], mouse)) {
                m_hotLink = texts[i];
                return;
            }
        }
    }

    void Run();

    int LinksUsed() const { return m_linksUsed; }
    int WidestX() const { return m_widestX; }
    int Bottom() const { return m_lastBottom > m_imageBottom ? m_lastBottom : m_imageBottom; }

private:
    bool LayLine();
    void StartLine();
    void EndLine(int linksBefore);
    bool Tag();
    void OpenTag(wchar_t letter, LPCWSTR tagStart, const CUIString& arg);
    void OpenLink(LPCWSTR text, bool bold, bool underline, bool italic);
    void OpenFont(LPCWSTR arg);
    void CloseTag(wchar_t letter);
    void InlineImage(LPCWSTR tagStart, const CUIString& arg);
    int PlaceRun(LPCWSTR s, int n, bool cut);
    void Blank();

    HFONT CurrentFont() const
    {
        HFONT f = static_cast<HFONT>(Top(m_state.fonts));
        return f ? f : m_baseFont;
    }
    int TopSpacing() const { return static_cast<int>(Unword(Top(m_state.spacings))); }
    int TopAlign() const { return m_state.aligns.IsEmpty() ? kAlignBottom : static_cast<int>(Unword(Top(m_state.aligns))); }
    int FontLineHeight() const { return m_tm.tmHeight + m_tm.tmExternalLeading; }
    void SelectCurrentFont()
    {
        const HFONT font = CurrentFont();
        if (font == m_selectedFont) return;
        ::SelectObject(m_dc, font);
        m_selectedFont = font;
        m_tm = Metrics(font);
    }
    const TEXTMETRICW& Metrics(HFONT font);
    void ApplyColor()
    {
        const DWORD c = m_state.colors.IsEmpty() ? m_defaultColor : Unword(Top(m_state.colors));
        ::SetTextColor(m_dc, ArgbToColorRef(c));
    }
    void RaiseLineHeight(int h)
    {
        if (!m_drawing && h > m_lineHeight) m_lineHeight = h;
    }
    void FontChanged()
    {
        SelectCurrentFont();
        RaiseLineHeight(TopSpacing() + FontLineHeight());
    }
    void PushStyled(bool bold, bool underline, bool italic, LPCWSTR face = nullptr, int size = 0);
    void PopFont();
    int RunTop() const;

    HDC m_dc;
    IDrawResources* m_res;
    RECT m_rc;
    DWORD m_defaultColor;
    RECT* m_links;
    CUIString* m_linkTexts;
    int m_slots;
    UINT m_style;
    bool m_measureOnly;
    HFONT m_baseFont;
    CUIString m_hotLink;

    LayoutState m_state;
    TEXTMETRICW m_tm = {};
    HFONT m_selectedFont = nullptr;
    bool m_drawing = false;
    bool m_lineMustEnd = false;
    POINT m_pen = {0, 0};
    int m_lineTop = 0;
    int m_lineHeight = 0;
    int m_lineOffset = 0;
    int m_widestX = 0;
    int m_lastBottom = 0;
    int m_imageBottom = 0;
    int m_linksUsed = 0;

    // Each line selects its fonts at least twice: their metrics are read once per call.
    struct CachedMetrics {
        HFONT font;
        TEXTMETRICW tm;
    };
    CachedMetrics m_metrics[8] = {};
    int m_metricsUsed = 0;
    struct StyledFont {
        HFONT from;
        int style;
        HFONT font;
    };
    StyledFont m_styled[8] = {};
    int m_styledUsed = 0;
};

const TEXTMETRICW& HtmlLayout::Metrics(HFONT font)
{
    for (int i = 0; i < m_metricsUsed; ++i) {
        if (m_metrics[i].font == font) return m_metrics[i].tm;
    }
    const int slot = m_metricsUsed < 8 ? m_metricsUsed++ : 7;
    m_metrics[slot].font = font;
    ::GetTextMetricsW(m_dc, &m_metrics[slot].tm);
    return m_metrics[slot].tm;
}

void HtmlLayout::PushStyled(bool bold, bool underline, bool italic, LPCWSTR face, int size)
{
    // Both passes of every line ask for the same styled fonts: look each up once.
    const int style = (bold ? 1 : 0) | (underline ? 2 : 0) | (italic ? 4 : 0);
    const HFONT from = CurrentFont();
    if (!face) {
        for (int i = 0; i < m_styledUsed; ++i) {
            if (m_styled[i].from == from && m_styled[i].style == style) {
                m_state.fonts.Add(m_styled[i].font);
                FontChanged();
                return;
            }
        }
    }
    const UIFontInfo* current = m_res->GetFontInfoByHandle(CurrentFont());
    CUIString name = face ? CUIString(face) : (current ? current->sFontName : CUIString());
    if (!face) size = current ? current->iSize : 0;
    HFONT font = m_res->FindFont(name, size, bold, underline, italic);
    if (!font) font = m_res->AddFont(g_nextStyledFontId++, name, size, bold, underline, italic, false);
    if (!font) return;
    if (!face && m_styledUsed < 8) m_styled[m_styledUsed++] = {from, style, font};
    m_state.fonts.Add(font);
    FontChanged();
}

void HtmlLayout::PopFont()
{
    const bool wasItalic = m_tm.tmItalic != 0;
    ABC blank = {};
    if (wasItalic) ::GetCharABCWidthsW(m_dc, L' ', L' ', &blank);
    Pop(m_state.fonts);
    SelectCurrentFont();
    // An italic run leans past its advance: leave it half a blank's overhang.
    if (wasItalic && !m_tm.tmItalic) m_pen.x += static_cast<int>(blank.abcC) / 2;
}

int HtmlLayout::RunTop() const
{
    const int room = m_lineHeight - FontLineHeight();
    switch (TopAlign()) {
    case kAlignTop: return m_lineTop;
    case kAlignCenter: return m_lineTop + room / 2;
    default: return m_lineTop + room;
    }
}

void HtmlLayout::Run()
{
    SelectCurrentFont();
    ApplyColor();
    m_pen = {m_rc.left, m_rc.top};
    m_widestX = m_rc.left;
    m_lineHeight = FontLineHeight();
    for (;;) {
        m_lineTop = m_pen.y;
        const int linksBefore = m_linksUsed;
        const LPCWSTR lineStart = m_state.p;
        StartLine();
        const LayoutState before = m_state;
        m_drawing = false;
        m_lineOffset = 0;
        const bool more = LayLine();
        const int lineWidth = m_pen.x - m_rc.left;
        if (m_pen.x > m_widestX) m_widestX = m_pen.x;
        EndLine(linksBefore);
        if (!m_measureOnly) {
            const LayoutState after = m_state;
            m_state = before;
            SelectCurrentFont();
            ApplyColor();
            m_pen = {m_rc.left, m_lineTop};
            const int room = (m_rc.right - m_rc.left) - lineWidth;
            if (!(m_style & DT_SINGLELINE)) {
                if (m_style & DT_CENTER) m_lineOffset = room / 2;
                else if (m_style & DT_RIGHT) m_lineOffset = room;
            }
            m_drawing = true;
            LayLine();
            m_state = after;
            SelectCurrentFont();
            ApplyColor();
        }
        m_lastBottom = m_lineTop + m_lineHeight;
        // A line that took nothing (no room for even the ellipsis) would repeat forever.
        if (!more || (m_style & DT_SINGLELINE) || m_state.p == lineStart) break;
        m_pen = {m_rc.left, m_lineTop + m_lineHeight};
        m_lineHeight = TopSpacing() + FontLineHeight();
        if (!m_measureOnly && m_pen.y >= m_rc.bottom) break;
    }
}

// A link that went on past the last line's end continues in a slot of its own.
void HtmlLayout::StartLine()
{
    const int from = m_state.continuedSlot;
    m_state.continuedSlot = -1;
    if (from < 0 || !m_state.linkOpen) return;
    if (m_linksUsed >= m_slots) return;
    const int slot = m_linksUsed++;
    m_linkTexts[slot] = m_linkTexts[from];
    m_links[slot] = {m_rc.left, m_lineTop, m_rc.left, m_lineTop};
    m_state.linkSlot = slot;
    m_state.linkStart = {m_rc.left, m_lineTop};
}

void HtmlLayout::EndLine(int linksBefore)
{
    const int bottom = m_lineTop + m_lineHeight;
    if (m_state.linkOpen && m_state.linkSlot >= 0) {
        const int right = m_pen.x < m_rc.right ? m_pen.x : m_rc.right;
        m_links[m_state.linkSlot] = {m_state.linkStart.x, m_state.linkStart.y, right, bottom};
        m_state.continuedSlot = m_state.linkSlot;
        m_state.linkSlot = -1;
    }
    for (int i = linksBefore; i < m_linksUsed; ++i) m_links[i].bottom = bottom;
}

bool HtmlLayout::LayLine()
{
    m_lineMustEnd = false;
    for (;;) {
        LayoutState& st = m_state;
        if (!*st.p) return false;
        if (m_lineMustEnd || m_pen.x >= m_rc.right) return true;
        if (*st.p == L'\n') {
            ++st.p;
            return true;
        }
        if (st.raw) {
            if (IsRawEnd(st.p)) {
                st.p += 4;
                st.raw = false;
                continue;
            }
            int n = 0;
            while (st.p[n] && st.p[n] != L'\n' && !IsRawEnd(st.p + n)) ++n;
            st.p += PlaceRun(st.p, n, true);
            continue;
        }
        if ((*st.p == L'<' || *st.p == L'{') && Tag()) continue;
        if (*st.p == L' ') {
            Blank();
            continue;
        }
        int n = 1;
        while (st.p[n] && st.p[n] != L'\n' && st.p[n] != L'<' && st.p[n] != L'{') ++n;
        st.p += PlaceRun(st.p, n, true);
    }
}

// Escapes, closing tags and opening tags; false when the opener is plain text.
bool HtmlLayout::Tag()
{
    LPCWSTR p = m_state.p;
    if ((p[0] == L'<' && (p[1] == L'{' || p[1] == L'}') && p[2] == L'>') ||
        (p[0] == L'{' && (p[1] == L'<' || p[1] == L'>') && p[2] == L'}')) {
        PlaceRun(p + 1, 1, false);
        m_state.p = p + 3;
        return true;
    }
    if (p[1] == L'/') {
        LPCWSTR end = FindTagEnd(p + 2);
        m_state.p = *end ? end + 1 : end;
        CloseTag(p[2]);
        return true;
    }
    if (p[1] >= L'a' && p[1] <= L'z' && (p[2] == L' ' || IsTagEnd(p[2]))) {
        LPCWSTR end = FindTagEnd(p + 2);
        if (!*end) {   // unterminated: it takes the rest of the text
            m_state.p = end;
            return true;
        }
        LPCWSTR argStart = p[2] == L' ' ? p + 3 : p + 2;
        const CUIString arg(argStart, static_cast<int>(end - argStart));
        m_state.p = end + 1;
        OpenTag(p[1], p, arg);
        return true;
    }
    return false;
}

void HtmlLayout::OpenTag(wchar_t letter, LPCWSTR tagStart, const CUIString& arg)
{
    LayoutState& st = m_state;
    LPCWSTR a = arg.GetData();
    while (*a == L' ') ++a;
    bool bold = false, underline = false, italic = false;
    if (letter == L'a' || letter == L'b' || letter == L'i' || letter == L'u') {
        const UIFontInfo* current = m_res->GetFontInfoByHandle(CurrentFont());
        bold = current && current->bBold;
        underline = current && current->bUnderline;
        italic = current && current->bItalic;
    }
    switch (letter) {
    case L'a':
        OpenLink(a, bold, underline, italic);
        break;
    case L'b':
        if (!bold) PushStyled(true, underline, italic);
        break;
    case L'c': {
        LPCWSTR hex = a;
        if (*hex == L'#') ++hex;
        const long value = std::wcstol(hex, nullptr, 16);
        st.colors.Add(Word(0xFF000000 | static_cast<DWORD>(value)));
        ApplyColor();
        break;
    }
    case L'f':
        OpenFont(a);
        break;
    case L'i':
        if (*a) InlineImage(tagStart, CUIString(a));
        else if (!italic) PushStyled(bold, underline, true);
        break;
    case L'n':
        if (!(m_style & DT_SINGLELINE)) m_lineMustEnd = true;
        break;
    case L'p':
        if (m_pen.x != m_rc.left) {
            // The paragraph starts the next line: read the tag again there.
            m_lineMustEnd = true;
            st.p = tagStart;
            break;
        }
        st.spacings.Add(Word(static_cast<DWORD>(std::wcstol(a, nullptr, 10))));
        RaiseLineHeight(TopSpacing() + FontLineHeight());
        break;
    case L'r':
        st.raw = true;
        break;
    case L's':
        st.selected = !st.selected;
        break;
    case L'u':
        if (!underline) PushStyled(bold, true, italic);
        break;
    case L'v': {
        const int align = ::_wcsicmp(a, L"center") == 0 ? kAlignCenter : ::_wcsicmp(a, L"top") == 0 ? kAlignTop
                                                                                                : kAlignBottom;
        st.aligns.Add(Word(static_cast<DWORD>(align)));
        break;
    }
    case L'x':
        m_pen.x += static_cast<int>(std::wcstol(a, nullptr, 10));
        break;
    case L'y':
        if (!m_drawing) m_lineHeight = static_cast<int>(std::wcstol(a, nullptr, 10));
        break;
    default:
        break;
    }
}

// A link: its slot (in the measuring pass, when one is free), its colour and underline.
void HtmlLayout::OpenLink(LPCWSTR text, bool bold, bool underline, bool italic)
{
    LayoutState& st = m_state;
    if (!m_drawing) {
        st.linkSlot = -1;
        if (m_linksUsed < m_slots) {
            st.linkSlot = m_linksUsed++;
            m_linkTexts[st.linkSlot] = text;
            m_links[st.linkSlot] = {m_pen.x, m_pen.y, m_pen.x, m_pen.y};
        }
    }
    st.linkOpen = true;
    st.linkStart = m_pen;
    const bool hot = !m_hotLink.IsEmpty() && m_hotLink == text;
    st.colors.Add(Word(hot ? m_res->GetLinkHoverFontColor() : m_res->GetLinkFontColor()));
    ApplyColor();
    if (!underline) PushStyled(bold, true, italic);
}

// "f 3" is the manager's font 3; "f Face 14 bold italic" a styled font of that face.
void HtmlLayout::OpenFont(LPCWSTR arg)
{
    if (*arg >= L'0' && *arg <= L'9') {
        m_state.fonts.Add(m_res->GetFont(static_cast<int>(std::wcstol(arg, nullptr, 10))));
        FontChanged();
        return;
    }
    LPCWSTR faceEnd = arg;
    while (*faceEnd && *faceEnd != L' ') ++faceEnd;
    const CUIString face(arg, static_cast<int>(faceEnd - arg));
    LPCWSTR rest = faceEnd;
    while (*rest == L' ') ++rest;
    int size = 10;
    if (*rest >= L'0' && *rest <= L'9') size = static_cast<int>(std::wcstol(rest, nullptr, 10));
    CUIString words(rest);
    words.MakeLower();
    PushStyled(words.FindText(L"bold") >= 0, words.FindText(L"underline") >= 0, words.FindText(L"italic") >= 0, face,
               size);
}

void HtmlLayout::CloseTag(wchar_t letter)
{
    LayoutState& st = m_state;
    switch (letter) {
    case L'a':
        if (!m_drawing && st.linkOpen && st.linkSlot >= 0) {
            m_links[st.linkSlot] = {st.linkStart.x, st.linkStart.y, m_pen.x, m_lineTop + FontLineHeight()};
        }
        st.linkOpen = false;
        st.linkSlot = -1;
        st.continuedSlot = -1;
        Pop(st.colors);
        ApplyColor();
        PopFont();
        break;
    case L'b':
    case L'f':
    case L'i':
    case L'u':
        PopFont();
        break;
    case L'c':
        Pop(st.colors);
        ApplyColor();
        break;
    case L'p':
        if (m_pen.x != m_rc.left) m_lineMustEnd = true;
        Pop(st.spacings);
        break;
    case L's':
        st.selected = !st.selected;
        break;
    case L'v':
        Pop(st.aligns);
        break;
    default:
        break;
    }
}

void HtmlLayout::InlineImage(LPCWSTR tagStart, const CUIString& arg)
{
    CUIString name, type;
    int frames = 1, frame = 0;
    if (arg.FindText(L"file='") >= 0 || arg.FindText(L"res='") >= 0) {
        LPCWSTR p = arg.GetData();
        while (*p) {
            while (*p == L' ') ++p;
            LPCWSTR key = p;
            while (*p && *p != L'=') ++p;
            const CUIString k(key, static_cast<int>(p - key));
            if (p[0] != L'=' || p[1] != L'\'') break;
            p += 2;
            LPCWSTR value = p;
            while (*p && *p != L'\'') ++p;
            const CUIString v(value, static_cast<int>(p - value));
            if (*p) ++p;
            if (k == L"file" || k == L"res") name = v;
            else if (k == L"restype") type = v;
        }
    } else {
        LPCWSTR p = arg.GetData();
        LPCWSTR end = p;
        while (*end && *end != L' ') ++end;
        name = CUIString(p, static_cast<int>(end - p));
        wchar_t* next = nullptr;
        const long n = std::wcstol(end, &next, 10);
        if (next != end) {
            frames = n < 1 ? 1 : static_cast<int>(n);
            const long f = std::wcstol(next, nullptr, 10);
            frame = f < 0 || f >= frames ? 0 : static_cast<int>(f);
        }
    }
    const UIImageInfo* image = name.IsEmpty() ? nullptr
                                              : m_res->GetImageOrLoad(name, type.IsEmpty() ? nullptr : type.GetData(), 0, false);
    if (!image) return;
    const int width = image->nX / frames, height = image->nY;
    const bool fits = m_pen.x + width <= m_rc.right || m_pen.x == m_rc.left || (m_style & DT_SINGLELINE);
    if (!fits) {
        m_lineMustEnd = true;
        m_state.p = tagStart;
        return;
    }
    RaiseLineHeight(height);
    if (m_lineTop + height > m_imageBottom) m_imageBottom = m_lineTop + height;
    if (m_drawing && width > 0) {
        int y = m_lineTop + m_lineHeight - height;
        const int align = TopAlign();
        if (align == kAlignCenter) y = m_lineTop + (m_lineHeight - height) / 2;
        else if (align == kAlignTop && height < m_lineHeight) y = m_lineTop;
        const RECT dest = {m_pen.x + m_lineOffset, y, m_pen.x + m_lineOffset + width, y + height};
        const RECT source = {frame * width, 0, frame * width + width, height};
        CDrawHelper::DrawImage(m_dc, image->hBitmap, dest, dest, source, RECT{}, image->bAlpha, 255);
    }
    m_pen.x += width;
}

// Places up to n characters at the pen; returns how many it took. A run that does
// not fit is cut (after the last break with DT_WORDBREAK, before an ellipsis with
// DT_END_ELLIPSIS) and ends the line; escapes (cut = false) always take their one.
int HtmlLayout::PlaceRun(LPCWSTR s, int n, bool cut)
{
    if (n <= 0) return 0;
    SIZE size = {0, 0};
    ::GetTextExtentPoint32W(m_dc, s, n, &size);
    int keep = n;
    bool ellipsis = false;
    const int room = m_rc.right - m_pen.x;
    if (cut && size.cx > room) {
        int fit = 0;
        ::GetTextExtentExPointW(m_dc, s, n, room > 0 ? room : 0, &fit, nullptr, &size);
        keep = fit < 1 ? 1 : fit;
        if (m_style & DT_WORDBREAK) {
            for (int i = keep - 1; i >= 0; --i) {
                if (s[i] == L' ' || !IsAsciiLetter(s[i])) {
                    keep = i + 1;
                    break;
                }
            }
        }
        if (m_style & DT_END_ELLIPSIS) {
            ellipsis = true;
            SIZE dots = {0, 0};
            ::GetTextExtentPoint32W(m_dc, L"...", 3, &dots);
            keep = keep > 2 ? keep - 2 : 0;
            for (; keep > 0; --keep) {
                ::GetTextExtentPoint32W(m_dc, s, keep, &size);
                if (size.cx + dots.cx <= room) break;
            }
        }
        m_lineMustEnd = true;
        size.cx = 0;
        if (keep > 0) ::GetTextExtentPoint32W(m_dc, s, keep, &size);
    }
    if (m_drawing) {
        ::SetBkMode(m_dc, m_state.selected ? OPAQUE : TRANSPARENT);
        const int y = RunTop();
        if (keep > 0) ::TextOutW(m_dc, m_pen.x + m_lineOffset, y, s, keep);
        if (ellipsis) ::TextOutW(m_dc, m_pen.x + m_lineOffset + size.cx, y, L"...", 3);
    }
    m_pen.x += size.cx;
    if (ellipsis && m_pen.x < m_rc.right) m_pen.x = m_rc.right;
    return cut ? keep : 1;
}

void HtmlLayout::Blank()
{
    SIZE size = {0, 0};
    ::GetTextExtentPoint32W(m_dc, L" ", 1, &size);
    // A blank shows only as selection or underline.
    if (m_drawing && (m_state.selected || m_tm.tmUnderlined)) {
        ::SetBkMode(m_dc, m_state.selected ? OPAQUE : TRANSPARENT);
        ::TextOutW(m_dc, m_pen.x + m_lineOffset, RunTop(), L" ", 1);
    }
    m_pen.x += size.cx;
    ++m_state.p;
}

// The rect the text is laid out in: moved by a first, measuring call so that the
// text stands centred, right- or bottom-aligned in it.
RECT AlignedRect(HDC hDC, IDrawResources* manager, const RECT& rc, LPCWSTR text, DWORD color, int font, UINT style)
{
    RECT layout = rc;
    if (!(style & kAlignments)) return layout;
    const bool single = (style & DT_SINGLELINE) != 0;
    RECT measured = single ? RECT{0, 0, 9999, 99} : RECT{0, 0, rc.right - rc.left, rc.bottom - rc.top};
    int none = 0;
    CDrawHelper::DrawHtmlText(hDC, manager, measured, text, color, nullptr, nullptr, none, font,
                              (style & ~kAlignments) | DT_CALCRECT);
    const int width = measured.right - measured.left, height = measured.bottom - measured.top;
    // A single line wider than the rect stays at its left edge, where it can be cut.
    if (single && width <= layout.right - layout.left) {
        if (style & DT_CENTER) {
            layout.left += (layout.right - layout.left - width) / 2;
            layout.right = layout.left + width;
        } else if (style & DT_RIGHT) {
            layout.left = layout.right - width;
        }
    }
    if (style & DT_VCENTER) {
        layout.top += (layout.bottom - layout.top - height) / 2;
        layout.bottom = layout.top + height;
    } else if (style & DT_BOTTOM) {
        layout.top = layout.bottom - height;
    }
    return layout;
}

}  // namespace

void CDrawHelper::DrawHtmlText(HDC hDC, IDrawResources* manager, RECT& rc, LPCWSTR text, DWORD color,
                               RECT* links, CUIString* linkTexts, int& linkCount, int font, UINT style)
{
    const int slots = linkCount;
    // Nothing laid out means no links to report, whatever the slots held before.
    linkCount = 0;
    if (!text || !manager || ::IsRectEmpty(&rc)) return;
    const bool measureOnly = (style & DT_CALCRECT) != 0;
    CUIString prepared(text);
    manager->ReplaceLanguageTokens(prepared);

    const RECT layout = measureOnly ? rc : AlignedRect(hDC, manager, rc, text, color, font, style);
    CDrawClip clip;
    if (!measureOnly) CDrawClip::GenerateClip(hDC, rc, clip);
    const HGDIOBJ oldFont = ::GetCurrentObject(hDC, OBJ_FONT);
    const int oldMode = ::SetBkMode(hDC, TRANSPARENT);
    const COLORREF oldText = ::GetTextColor(hDC);
    const COLORREF oldBack = ::SetBkColor(hDC, ArgbToColorRef(manager->GetSelectedBkColor()));

    HtmlLayout lay(hDC, manager, layout, prepared.GetData(), color, links, linkTexts, slots, font, style);
    lay.FindHotLink(links, linkTexts, slots);
    lay.Run();
    linkCount = lay.LinksUsed();
    if (measureOnly) {
        rc.right = lay.WidestX() < rc.right ? lay.WidestX() : rc.right;
        rc.bottom = lay.Bottom();
    }

    ::SelectObject(hDC, oldFont);
    ::SetBkColor(hDC, oldBack);
    ::SetTextColor(hDC, oldText);
    ::SetBkMode(hDC, oldMode);
}

}  // namespace SkinUI
