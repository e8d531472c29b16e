#include "draw_support.h"

#include <cwchar>

#include "test_support.h"

namespace uitest {

std::wstring ImagePath(const std::wstring& name) { return Widen(UI_IMAGES_DIR) + L"/" + name; }

namespace {
SkinUI::SkinSource g_source;
std::wstring g_folder;
bool QuerySource(SkinUI::SkinSource& source)
{
    source = g_source;
    return true;
}
}  // namespace

ImageFolderSource::ImageFolderSource()
{
    g_folder = ImagePath(L"");
    g_source = SkinUI::SkinSource();
    g_source.resourcePath = g_folder.c_str();
    SkinUI::SetSkinSourceQuery(&QuerySource);
}

ImageFolderSource::~ImageFolderSource() { SkinUI::SetSkinSourceQuery(nullptr); }

SkinUI::SkinSource& ImageFolderSource::Source() { return g_source; }

Canvas::Canvas(int width, int height, COLORREF fill) : m_width(width), m_height(height)
{
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_dc = CreateCompatibleDC(nullptr);
    m_bitmap = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_bits = static_cast<unsigned char*>(bits);
    m_old = SelectObject(m_dc, m_bitmap);
    Fill(fill);
}

Canvas::~Canvas()
{
    SelectObject(m_dc, m_old);
    DeleteObject(m_bitmap);
    DeleteDC(m_dc);
}

void Canvas::Fill(COLORREF color)
{
    SelectClipRgn(m_dc, nullptr);
    for (int i = 0; i < m_width * m_height; ++i) {
        m_bits[i * 4 + 0] = GetBValue(color);
        m_bits[i * 4 + 1] = GetGValue(color);
        m_bits[i * 4 + 2] = GetRValue(color);
        m_bits[i * 4 + 3] = 0;
    }
}

unsigned Canvas::Pixel(int x, int y) const
{
    GdiFlush();
    const unsigned char* p = m_bits + (static_cast<size_t>(y) * m_width + x) * 4;
    return static_cast<unsigned>(p[2]) << 16 | static_cast<unsigned>(p[1]) << 8 | p[0];
}

unsigned Canvas::Alpha(int x, int y) const
{
    GdiFlush();
    return m_bits[(static_cast<size_t>(y) * m_width + x) * 4 + 3];
}

RECT Canvas::InkBounds(unsigned background) const
{
    RECT r = {m_width, m_height, 0, 0};
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x) {
            if (Pixel(x, y) == background) continue;
            if (x < r.left) r.left = x;
            if (y < r.top) r.top = y;
            if (x + 1 > r.right) r.right = x + 1;
            if (y + 1 > r.bottom) r.bottom = y + 1;
        }
    }
    if (r.right == 0) r = RECT{0, 0, 0, 0};
    return r;
}

bool Canvas::HasColor(const RECT& area, unsigned rgb, int tolerance) const
{
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            if (x < 0 || y < 0 || x >= m_width || y >= m_height) continue;
            const unsigned p = Pixel(x, y);
            bool matches = true;
            for (int s = 0; s <= 16; s += 8) {
                const int d = static_cast<int>((p >> s) & 0xFF) - static_cast<int>((rgb >> s) & 0xFF);
                if (d > tolerance || d < -tolerance) matches = false;
            }
            if (matches) return true;
        }
    }
    return false;
}

HFONT MakeFont(LPCWSTR face, int size, bool bold, bool underline, bool italic)
{
    LOGFONTW lf = {};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
    wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    lf.lfHeight = -size;
    if (bold) lf.lfWeight += FW_BOLD;
    lf.lfUnderline = underline;
    lf.lfItalic = italic;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = NONANTIALIASED_QUALITY;
    return CreateFontIndirectW(&lf);
}

TestResources::TestResources()
{
    AddFont(-1, L"Tahoma", 12, false, false, false, false);
    AddFont(1, L"Tahoma", 18, false, false, false, false);
}

TestResources::~TestResources()
{
    for (auto& i : m_images) SkinUI::CDrawHelper::FreeImage(i.second);
    for (auto& f : m_fonts) {
        DeleteObject(f.second->hFont);
        delete f.second;
    }
}

const SkinUI::UIImageInfo* TestResources::GetImageOrLoad(LPCWSTR name, LPCWSTR type, DWORD mask, bool hsl)
{
    lastType = type ? type : L"";
    lastMask = mask;
    lastHsl = hsl;
    auto found = m_images.find(name);
    if (found != m_images.end()) return found->second;
    ++m_loads;
    SkinUI::UIImageInfo* image = SkinUI::CDrawHelper::LoadImage(SkinUI::CUIStringOrId(name), type, mask);
    if (image) m_images[name] = image;
    return image;
}

HFONT TestResources::GetFont(int id)
{
    auto found = m_fonts.find(id);
    return found != m_fonts.end() ? found->second->hFont : m_fonts[-1]->hFont;
}

const SkinUI::UIFontInfo* TestResources::GetFontInfoByHandle(HFONT font)
{
    for (auto& f : m_fonts) {
        if (f.second->hFont == font) return f.second;
    }
    return m_fonts[-1];
}

HFONT TestResources::FindFont(LPCWSTR face, int size, bool bold, bool underline, bool italic)
{
    for (auto& f : m_fonts) {
        const SkinUI::UIFontInfo* i = f.second;
        if (i->sFontName == face && i->iSize == size && i->bBold == bold && i->bUnderline == underline &&
            i->bItalic == italic) {
            return i->hFont;
        }
    }
    return nullptr;
}

HFONT TestResources::AddFont(int id, LPCWSTR face, int size, bool bold, bool underline, bool italic, bool)
{
    HFONT font = MakeFont(face, size, bold, underline, italic);
    if (!font) return nullptr;
    auto* info = new SkinUI::UIFontInfo;
    info->hFont = font;
    info->sFontName = face;
    info->iSize = size;
    info->bBold = bold;
    info->bUnderline = underline;
    info->bItalic = italic;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    GetTextMetricsW(dc, &info->tm);
    SelectObject(dc, old);
    DeleteDC(dc);
    auto found = m_fonts.find(id);
    if (found != m_fonts.end()) {
        DeleteObject(found->second->hFont);
        delete found->second;
    }
    m_fonts[id] = info;
    return font;
}

void TestResources::ReplaceLanguageTokens(SkinUI::CUIString& text)
{
    for (auto& t : texts) {
        wchar_t token[32];
        swprintf(token, 32, L"%%{%d}", t.first);
        text.Replace(token, t.second.c_str());
    }
}

}  // namespace uitest
