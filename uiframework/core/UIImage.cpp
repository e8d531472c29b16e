// Image loading (skin files and program resources decoded by stb_image into
// premultiplied DIB sections), image descriptions and colour adjustment.
#include "UIRender.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <new>

#include "SkinFile.h"
#include "stb_image.h"

namespace SkinUI {

namespace {

// Skin images are capped at 32 MiB encoded, and at 16384 pixels a side decoded:
// the sizes come from the file, and a DIB of w x h x 4 bytes must stay addressable.
const size_t kMaxSkinImageFile = 0x2000000;
const int kMaxImageSide = 16384;   // also the decoder's STBI_MAX_DIMENSIONS

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// A top-down 32-bit DIB from red, green, blue, alpha bytes: premultiplied, and the
// pixels equal to the mask (alpha in its top byte) made transparent.
UIImageInfo* MakeImage(const unsigned char* rgba, int width, int height, DWORD mask)
{
    if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) return nullptr;
    BYTE* bits = nullptr;
    HBITMAP bitmap = CDrawHelper::CreateDib32(nullptr, width, height, true, &bits);
    if (!bitmap || !bits) {
        if (bitmap) ::DeleteObject(bitmap);
        return nullptr;
    }
    UIImageInfo* image = new (std::nothrow) UIImageInfo;
    if (!image) {
        ::DeleteObject(bitmap);
        return nullptr;
    }
    bool alpha = false;
    unsigned char* out = static_cast<unsigned char*>(bits);
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t i = 0; i < pixels; ++i, rgba += 4, out += 4) {
        const unsigned a = rgba[3];
        if (a == 255) {
            out[0] = rgba[2];
            out[1] = rgba[1];
            out[2] = rgba[0];
        } else {
            out[0] = static_cast<unsigned char>(rgba[2] * a / 255);
            out[1] = static_cast<unsigned char>(rgba[1] * a / 255);
            out[2] = static_cast<unsigned char>(rgba[0] * a / 255);
            alpha = true;
        }
        out[3] = static_cast<unsigned char>(a);
        const DWORD value = static_cast<DWORD>(out[3]) << 24 | static_cast<DWORD>(out[2]) << 16 |
                            static_cast<DWORD>(out[1]) << 8 | out[0];
        if (value == mask) {
            std::memset(out, 0, 4);
            alpha = true;
        }
    }
    image->hBitmap = bitmap;
    image->pBits = static_cast<LPBYTE>(bits);
    image->nX = width;
    image->nY = height;
    image->bAlpha = alpha;
    image->dwMask = mask;
    return image;
}

bool ReadSkinImage(LPCWSTR name, SkinFileBytes& out)
{
    LPCWSTR error = nullptr;
    const SkinSource source = GetSkinSource();
    if (ReadSkinFile(source, name, kMaxSkinImageFile, out, error)) return true;
    // Not in the skin: the name may be a plain path.
    const SkinSource plain;
    if (source.kind == SkinSourceKind::Folder && source.resourcePath[0] == L'\0') return false;
    return ReadSkinFile(plain, name, kMaxSkinImageFile, out, error);
}

UIImageInfo* Decode(const unsigned char* data, size_t size, DWORD mask)
{
    if (!data || size == 0 || size > static_cast<size_t>(INT_MAX)) return nullptr;
    int width = 0, height = 0, channels = 0;
    stbi_uc* rgba = stbi_load_from_memory(data, static_cast<int>(size), &width, &height, &channels, 4);
    if (!rgba) return nullptr;
    UIImageInfo* image = MakeImage(rgba, width, height, mask);
    stbi_image_free(rgba);
    return image;
}

UIImageInfo* LoadResourceImage(LPCWSTR name, LPCWSTR type, DWORD mask)
{
    HMODULE module = GetSkinSource().resourceModule;
    if (!module) module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, name, type);
    if (!found) return nullptr;
    const DWORD size = ::SizeofResource(module, found);
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data || size == 0) return nullptr;
    return Decode(static_cast<const unsigned char*>(data), size, mask);
}

bool IsAllZero(const RECT& rc) { return rc.left == 0 && rc.top == 0 && rc.right == 0 && rc.bottom == 0; }

void ReadRect(LPCWSTR value, RECT& rc)
{
    int n[4];
    ReadNumberList(value, n, 4);
    rc = {n[0], n[1], n[2], n[3]};
}

struct ParsedDescription {
    CUIString name;
    CUIString type;
    bool useType = false;
    DWORD mask = 0;
    bool hsl = false;
};

void ApplyPair(const CUIString& key, const CUIString& value, ParsedDescription& parsed, UIImageDrawInfo& info)
{
    if (value.IsEmpty()) return;
    if (key == L"file") {
        parsed.name = value;
    } else if (key == L"res") {
        parsed.name = value;
        parsed.useType = true;
    } else if (key == L"restype") {
        parsed.type = value;
    } else if (key == L"color") {
        parsed.name = value;
        parsed.type = L"*COLOR*";
        parsed.useType = true;
    } else if (key == L"dest") {
        ReadRect(value, info.rcDest);
    } else if (key == L"source") {
        ReadRect(value, info.rcSource);
    } else if (key == L"corner" || key == L"scale9") {
        ReadRect(value, info.rcCorner);
    } else if (key == L"mask") {
        parsed.mask = ParseColorText(value);
    } else if (key == L"fade") {
        const long fade = std::wcstol(value, nullptr, 10);
        info.uFade = static_cast<BYTE>(fade < 0 ? 0 : fade > 255 ? 255 : fade);
    } else if (key == L"hole") {
        info.bHole = value == L"true";
    } else if (key == L"xtiled") {
        info.bTiledX = value == L"true";
    } else if (key == L"ytiled") {
        info.bTiledY = value == L"true";
    } else if (key == L"hsl") {
        parsed.hsl = value == L"true";
    }
}

// key='value' pairs; a pair continues the list only when exactly one blank follows it.
void ParseDescription(LPCWSTR text, ParsedDescription& parsed, UIImageDrawInfo& info)
{
    parsed.name = text;
    LPCWSTR p = text;
    for (;;) {
        while (*p && IsBlank(*p)) ++p;
        LPCWSTR keyStart = p;
        while (*p && *p != L'=' && !IsBlank(*p)) ++p;
        const CUIString key(keyStart, static_cast<int>(p - keyStart));
        while (*p && IsBlank(*p)) ++p;
        if (*p != L'=') return;
        ++p;
        while (*p && IsBlank(*p)) ++p;
        if (*p != L'\'') return;
        LPCWSTR valueStart = ++p;
        while (*p && *p != L'\'') ++p;
        if (*p != L'\'') return;
        const CUIString value(valueStart, static_cast<int>(p - valueStart));
        ++p;
        ApplyPair(key, value, parsed, info);
        if (p[0] != L' ' || p[1] == L' ') return;
        ++p;
    }
}

}  // namespace

DWORD ParseColorText(LPCWSTR text)
{
    if (!text) return 0;
    while (*text == L' ' || *text == L'\t') ++text;
    if (*text == L'#') ++text;
    return static_cast<DWORD>(std::wcstoul(text, nullptr, 16));
}

LPCWSTR ReadNumberList(LPCWSTR text, int* numbers, int count)
{
    for (int i = 0; i < count; ++i) numbers[i] = 0;
    if (!text) return text;
    LPCWSTR p = text;
    for (int i = 0; i < count && *p; ++i) {
        wchar_t* end = nullptr;
        const long v = std::wcstol(p, &end, 10);
        numbers[i] = static_cast<int>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
        p = end;
        if (!*p) break;
        ++p;   // the separator
    }
    return p;
}

void UIImageDrawInfo::Clear()
{
    sImageName.Empty();
    bLoaded = false;
    pImageInfo = nullptr;
    rcDest = rcSource = rcCorner = RECT{};
    uFade = 255;
    bHole = bTiledX = bTiledY = false;
}

UIImageInfo* CDrawHelper::LoadImage(CUIStringOrId bitmap, LPCWSTR type, DWORD mask)
{
    LPCWSTR name = bitmap.m_lpstr;
    if (!name) return nullptr;
    if (type && std::wcscmp(type, L"*COLOR*") == 0) {
        if (IS_INTRESOURCE(name)) return nullptr;
        const DWORD argb = ParseColorText(name);
        const unsigned char rgba[4] = {static_cast<unsigned char>(argb >> 16), static_cast<unsigned char>(argb >> 8),
                                       static_cast<unsigned char>(argb), static_cast<unsigned char>(argb >> 24)};
        return MakeImage(rgba, 1, 1, mask);
    }
    if (type) return LoadResourceImage(name, type, mask);
    if (IS_INTRESOURCE(name)) return nullptr;
    SkinFileBytes encoded;
    if (!ReadSkinImage(name, encoded)) return nullptr;
    return Decode(encoded.data.get(), encoded.size, mask);
}

void CDrawHelper::FreeImage(UIImageInfo* image, bool deleteRecord)
{
    if (!image) return;
    if (image->hBitmap) ::DeleteObject(image->hBitmap);
    image->hBitmap = nullptr;
    image->pBits = nullptr;
    delete[] image->pSrcBits;
    image->pSrcBits = nullptr;
    if (deleteRecord) delete image;
}

bool CDrawHelper::LoadDrawInfo(IDrawResources* manager, UIImageDrawInfo& info)
{
    if (info.bLoaded) return info.pImageInfo != nullptr;
    info.Clear();
    info.bLoaded = true;
    ParsedDescription parsed;
    ParseDescription(info.sDrawString.GetData(), parsed, info);
    info.sImageName = parsed.name;
    if (!manager || parsed.name.IsEmpty()) return false;
    info.pImageInfo = manager->GetImageOrLoad(parsed.name, parsed.useType ? parsed.type.GetData() : nullptr,
                                              parsed.mask, parsed.hsl);
    if (!info.pImageInfo) return false;
    if (IsAllZero(info.rcSource)) info.rcSource = {0, 0, info.pImageInfo->nX, info.pImageInfo->nY};
    return true;
}

bool CDrawHelper::DrawImageString(HDC hDC, IDrawResources* manager, const RECT& rcItem, const RECT& rcPaint,
                                  UIImageDrawInfo& info)
{
    if (!LoadDrawInfo(manager, info)) return false;
    const UIImageInfo* image = info.pImageInfo;
    RECT source = info.rcSource;
    if (source.right > image->nX) source.right = image->nX;
    if (source.bottom > image->nY) source.bottom = image->nY;
    RECT dest = rcItem;
    if (!IsAllZero(info.rcDest)) {
        dest.left = rcItem.left + info.rcDest.left;
        dest.top = rcItem.top + info.rcDest.top;
        dest.right = rcItem.left + info.rcDest.right;
        if (dest.right > rcItem.right) dest.right = rcItem.right;
        dest.bottom = rcItem.top + info.rcDest.bottom;
        if (dest.bottom > rcItem.bottom) dest.bottom = rcItem.bottom;
    }
    RECT meet;
    if (::IntersectRect(&meet, &dest, &rcItem) && ::IntersectRect(&meet, &dest, &rcPaint)) {
        DrawImage(hDC, image->hBitmap, dest, rcPaint, source, info.rcCorner, image->bAlpha, info.uFade,
                  info.bHole, info.bTiledX, info.bTiledY);
    }
    return true;
}

void CDrawHelper::RgbToHsl(DWORD argb, float* hue, float* saturation, float* lightness)
{
    const float r = ((argb >> 16) & 0xFF) / 255.0f;
    const float g = ((argb >> 8) & 0xFF) / 255.0f;
    const float b = (argb & 0xFF) / 255.0f;
    const float hi = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const float lo = r < g ? (r < b ? r : b) : (g < b ? g : b);
    const float l = (hi + lo) / 2;
    float h = 0, s = 0;
    if (hi != lo) {
        const float d = hi - lo;
        s = l > 0.5f ? d / (2 - hi - lo) : d / (hi + lo);
        if (hi == r) h = (g - b) / d + (g < b ? 6 : 0);
        else if (hi == g) h = (b - r) / d + 2;
        else h = (r - g) / d + 4;
        h *= 60;
    }
    *hue = h;
    *saturation = s;
    *lightness = l;
}

namespace {
float HueToChannel(float p, float q, float t)
{
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (t < 1.0f / 6) return p + (q - p) * 6 * t;
    if (t < 0.5f) return q;
    if (t < 2.0f / 3) return p + (q - p) * (2.0f / 3 - t) * 6;
    return p;
}
unsigned char ToByte(float v)
{
    const float c = v < 0 ? 0 : v > 1 ? 1 : v;
    return static_cast<unsigned char>(c * 255 + 0.5f);
}
}  // namespace

void CDrawHelper::HslToRgb(DWORD* argb, float hue, float saturation, float lightness)
{
    float h = std::fmod(hue, 360.0f);
    if (h < 0) h += 360;
    h /= 360;
    const float s = saturation < 0 ? 0 : saturation > 1 ? 1 : saturation;
    const float l = lightness < 0 ? 0 : lightness > 1 ? 1 : lightness;
    float r = l, g = l, b = l;
    if (s > 0) {
        const float q = l < 0.5f ? l * (1 + s) : l + s - l * s;
        const float p = 2 * l - q;
        r = HueToChannel(p, q, h + 1.0f / 3);
        g = HueToChannel(p, q, h);
        b = HueToChannel(p, q, h - 1.0f / 3);
    }
    *argb = static_cast<DWORD>(ToByte(r)) << 16 | static_cast<DWORD>(ToByte(g)) << 8 | ToByte(b);
}

DWORD CDrawHelper::AdjustColor(DWORD color, short hue, short saturation, short lightness)
{
    if (hue == 180 && saturation == 100 && lightness == 100) return color;
    float h, s, l;
    RgbToHsl(color, &h, &s, &l);
    h += hue - 180;
    if (h <= 0) h += 360;
    s = s * saturation / 100;
    l = l * lightness / 100;
    DWORD rgb = 0;
    HslToRgb(&rgb, h, s, l);
    return (color & 0xFF000000) | (rgb & 0x00FFFFFF);
}

bool CDrawHelper::KeepUnadjustedPixels(UIImageInfo* image)
{
    if (!image || !image->pBits) return false;
    const size_t bytes = static_cast<size_t>(image->nX) * static_cast<size_t>(image->nY) * 4;
    delete[] image->pSrcBits;
    image->pSrcBits = new (std::nothrow) BYTE[bytes];
    if (!image->pSrcBits) return false;
    std::memcpy(image->pSrcBits, image->pBits, bytes);
    return true;
}

void CDrawHelper::AdjustImage(bool useHSL, UIImageInfo* image, short hue, short saturation, short lightness)
{
    if (!image || !image->hBitmap || !image->pBits || !image->pSrcBits || !image->bUseHSL) return;
    const size_t pixels = static_cast<size_t>(image->nX) * static_cast<size_t>(image->nY);
    if (!useHSL || (hue == 180 && saturation == 100 && lightness == 100)) {
        std::memcpy(image->pBits, image->pSrcBits, pixels * 4);
        return;
    }
    const BYTE* in = image->pSrcBits;
    BYTE* out = image->pBits;
    for (size_t i = 0; i < pixels; ++i, in += 4, out += 4) {
        const unsigned a = in[3];
        if (a == 0) {
            std::memset(out, 0, 4);
            continue;
        }
        // The stored pixels are premultiplied: adjust the colour itself.
        const DWORD straight = static_cast<DWORD>(in[2] * 255 / a) << 16 | static_cast<DWORD>(in[1] * 255 / a) << 8 |
                               static_cast<DWORD>(in[0] * 255 / a);
        const DWORD adjusted = AdjustColor(straight, hue, saturation, lightness);
        out[0] = static_cast<BYTE>((adjusted & 0xFF) * a / 255);
        out[1] = static_cast<BYTE>(((adjusted >> 8) & 0xFF) * a / 255);
        out[2] = static_cast<BYTE>(((adjusted >> 16) & 0xFF) * a / 255);
        out[3] = static_cast<BYTE>(a);
    }
}

DWORD CDrawHelper::MixColor(DWORD a, double weightA, DWORD b, double weightB)
{
    DWORD out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        double v = ((a >> shift) & 0xFF) * weightA + ((b >> shift) & 0xFF) * weightB;
        v = v < 0 ? 0 : v > 255 ? 255 : v;
        out |= static_cast<DWORD>(v) << shift;
    }
    return out;
}

}  // namespace SkinUI
