// Drawing helpers (colours, gradients, lines, images) and the clip guard; the
// image loader decodes skin images with stb_image into premultiplied DIBs.
#include "UIRender.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "SkinFile.h"
#include "UIManager.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#include "stb_image.h"

namespace SkinUI {

namespace {

typedef BOOL(WINAPI* AlphaBlendFn)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);
typedef BOOL(WINAPI* GradientFillFn)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);

struct Msimg {
    AlphaBlendFn alphaBlend = nullptr;
    GradientFillFn gradientFill = nullptr;
    Msimg()
    {
        HMODULE lib = ::LoadLibraryW(L"msimg32.dll");
        if (lib) {
            alphaBlend = reinterpret_cast<AlphaBlendFn>(reinterpret_cast<void*>(::GetProcAddress(lib, "AlphaBlend")));
            gradientFill =
                reinterpret_cast<GradientFillFn>(reinterpret_cast<void*>(::GetProcAddress(lib, "GradientFill")));
        }
    }
};

const Msimg& MsimgFunctions()
{
    static const Msimg fns;
    return fns;
}

COLORREF ToGdi(DWORD argb) { return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF); }

bool ReadIntRect(LPCWSTR value, RECT& rc)
{
    int v[4];
    ParseIntList(value, v, 4);
    rc = RECT{v[0], v[1], v[2], v[3]};
    return true;
}

// Scoped memory DC with a bitmap selected, released on every exit.
class SelectedBitmap {
public:
    SelectedBitmap(HDC ref, HBITMAP bmp) : m_dc(::CreateCompatibleDC(ref)), m_old(nullptr)
    {
        if (m_dc) m_old = ::SelectObject(m_dc, bmp);
    }
    ~SelectedBitmap()
    {
        if (!m_dc) return;
        ::SelectObject(m_dc, m_old);
        ::DeleteDC(m_dc);
    }
    SelectedBitmap(const SelectedBitmap&) = delete;
    SelectedBitmap& operator=(const SelectedBitmap&) = delete;
    HDC Get() const { return m_dc; }

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

void Blend(HDC hDC, const RECT& dst, HDC src, const RECT& srcRc, BYTE fade)
{
    const Msimg& fns = MsimgFunctions();
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, fade, AC_SRC_ALPHA};
    if (fns.alphaBlend) {
        fns.alphaBlend(hDC, dst.left, dst.top, dst.right - dst.left, dst.bottom - dst.top, src, srcRc.left, srcRc.top,
                       srcRc.right - srcRc.left, srcRc.bottom - srcRc.top, bf);
    }
}

void DrawPart(HDC hDC, const RECT& dst, const RECT& rcPaint, HDC src, const RECT& srcRc, bool blended, BYTE fade)
{
    RECT tmp;
    if (dst.right <= dst.left || dst.bottom <= dst.top) return;
    if (srcRc.right <= srcRc.left || srcRc.bottom <= srcRc.top) return;
    if (!::IntersectRect(&tmp, &dst, &rcPaint)) return;
    if (blended) {
        Blend(hDC, dst, src, srcRc, fade);
    } else {
        ::StretchBlt(hDC, dst.left, dst.top, dst.right - dst.left, dst.bottom - dst.top, src, srcRc.left, srcRc.top,
                     srcRc.right - srcRc.left, srcRc.bottom - srcRc.top, SRCCOPY);
    }
}

}  // namespace

// ---------------------------------------------------------------- CDrawClip

CDrawClip::~CDrawClip()
{
    if (!m_hDC) return;
    ::SelectClipRgn(m_hDC, m_hOldRgn);
    if (m_hOldRgn) ::DeleteObject(m_hOldRgn);
    if (m_hRgn) ::DeleteObject(m_hRgn);
}

void CDrawClip::GenerateClip(HDC hDC, RECT rc, CDrawClip& clip)
{
    RECT rcClip;
    ::GetClipBox(hDC, &rcClip);
    clip.m_hOldRgn = ::CreateRectRgnIndirect(&rcClip);
    clip.m_hRgn = ::CreateRectRgnIndirect(&rc);
    ::CombineRgn(clip.m_hRgn, clip.m_hRgn, clip.m_hOldRgn, RGN_AND);
    ::SelectClipRgn(hDC, clip.m_hRgn);
    clip.m_hDC = hDC;
    clip.m_rcItem = rc;
}

void CDrawClip::GenerateRoundClip(HDC hDC, RECT rc, RECT rcItem, int width, int height, CDrawClip& clip)
{
    RECT rcClip;
    ::GetClipBox(hDC, &rcClip);
    clip.m_hOldRgn = ::CreateRectRgnIndirect(&rcClip);
    clip.m_hRgn = ::CreateRectRgnIndirect(&rc);
    HRGN round = ::CreateRoundRectRgn(rcItem.left, rcItem.top, rcItem.right + 1, rcItem.bottom + 1, width, height);
    ::CombineRgn(clip.m_hRgn, clip.m_hRgn, round, RGN_AND);
    ::CombineRgn(clip.m_hRgn, clip.m_hRgn, clip.m_hOldRgn, RGN_AND);
    ::SelectClipRgn(hDC, clip.m_hRgn);
    ::DeleteObject(round);
    clip.m_hDC = hDC;
    clip.m_rcItem = rc;
}

void CDrawClip::UseOldClipBegin(HDC hDC, CDrawClip& clip) { ::SelectClipRgn(hDC, clip.m_hOldRgn); }
void CDrawClip::UseOldClipEnd(HDC hDC, CDrawClip& clip) { ::SelectClipRgn(hDC, clip.m_hRgn); }

// ---------------------------------------------------------------- drawing

HBITMAP CDrawHelper::CreateDib32(HDC hDC, int cx, int cy, bool topDown, BYTE** pBits)
{
    BITMAPINFO bmi;
    std::memset(&bmi, 0, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = cx;
    bmi.bmiHeader.biHeight = topDown ? -cy : cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    bmi.bmiHeader.biSizeImage = static_cast<DWORD>(cx) * cy * 4;
    void* bits = nullptr;
    HBITMAP bmp = ::CreateDIBSection(hDC, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (pBits) *pBits = static_cast<BYTE*>(bits);
    return bmp;
}

HBITMAP CDrawHelper::CreateBitmapInfo(HDC hDC, int cx, int cy, BYTE** pBits)
{
    return CreateDib32(hDC, cx, cy, false, pBits);
}

void CDrawHelper::DrawColor(HDC hDC, const RECT& rc, DWORD color)
{
    const BYTE alpha = static_cast<BYTE>(color >> 24);
    if (alpha == 0) return;
    if (alpha == 255) {
        ::SetBkColor(hDC, ToGdi(color));
        ::ExtTextOutW(hDC, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
        return;
    }
    BYTE* bits = nullptr;
    HBITMAP bmp = CreateBitmapInfo(hDC, 1, 1, &bits);
    if (!bmp) return;
    // One premultiplied pixel.
    bits[0] = static_cast<BYTE>((color & 0xFF) * alpha / 255);
    bits[1] = static_cast<BYTE>(((color >> 8) & 0xFF) * alpha / 255);
    bits[2] = static_cast<BYTE>(((color >> 16) & 0xFF) * alpha / 255);
    bits[3] = alpha;
    RECT src = {0, 0, 1, 1};
    RECT corner = {0, 0, 0, 0};
    DrawImage(hDC, bmp, rc, rc, src, corner, true, 255);
    ::DeleteObject(bmp);
}

void CDrawHelper::DrawGradient(HDC hDC, const RECT& rc, DWORD dwFirst, DWORD dwSecond, bool bVertical, int nSteps)
{
    const int alpha = (static_cast<int>(dwFirst >> 24) + static_cast<int>(dwSecond >> 24)) / 2;
    if (alpha == 0) return;
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    if (cx <= 0 || cy <= 0) return;
    HDC target = hDC;
    RECT area = rc;
    HDC memDC = nullptr;
    HBITMAP bmp = nullptr;
    HGDIOBJ oldBmp = nullptr;
    if (alpha < 255) {
        memDC = ::CreateCompatibleDC(hDC);
        bmp = CreateBitmapInfo(hDC, cx, cy, nullptr);
        if (!memDC || !bmp) {
            if (memDC) ::DeleteDC(memDC);
            if (bmp) ::DeleteObject(bmp);
            return;
        }
        oldBmp = ::SelectObject(memDC, bmp);
        target = memDC;
        area = RECT{0, 0, cx, cy};
    }
    const Msimg& fns = MsimgFunctions();
    if (fns.gradientFill) {
        TRIVERTEX v[2];
        v[0].x = area.left;
        v[0].y = area.top;
        v[0].Red = static_cast<COLOR16>(((dwFirst >> 16) & 0xFF) << 8);
        v[0].Green = static_cast<COLOR16>(((dwFirst >> 8) & 0xFF) << 8);
        v[0].Blue = static_cast<COLOR16>((dwFirst & 0xFF) << 8);
        v[0].Alpha = 0xFF00;
        v[1].x = area.right;
        v[1].y = area.bottom;
        v[1].Red = static_cast<COLOR16>(((dwSecond >> 16) & 0xFF) << 8);
        v[1].Green = static_cast<COLOR16>(((dwSecond >> 8) & 0xFF) << 8);
        v[1].Blue = static_cast<COLOR16>((dwSecond & 0xFF) << 8);
        v[1].Alpha = 0xFF00;
        GRADIENT_RECT gr = {0, 1};
        fns.gradientFill(target, v, 2, &gr, 1, bVertical ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
    } else {
        int shift = nSteps < 4 ? 1 : nSteps < 8 ? 2 : nSteps < 16 ? 3 : nSteps < 32 ? 4 : nSteps < 64 ? 5 : 6;
        const int bands = 1 << shift;
        for (int i = 0; i < bands; ++i) {
            auto mix = [&](int s) {
                const int a = (dwFirst >> s) & 0xFF;
                const int b = (dwSecond >> s) & 0xFF;
                return a + (b - a) * i / (bands > 1 ? bands - 1 : 1);
            };
            RECT band = area;
            if (bVertical) {
                band.top = area.top + (area.bottom - area.top) * i / bands;
                band.bottom = area.top + (area.bottom - area.top) * (i + 1) / bands;
            } else {
                band.left = area.left + (area.right - area.left) * i / bands;
                band.right = area.left + (area.right - area.left) * (i + 1) / bands;
            }
            ::SetBkColor(target, RGB(mix(16), mix(8), mix(0)));
            ::ExtTextOutW(target, 0, 0, ETO_OPAQUE, &band, nullptr, 0, nullptr);
        }
    }
    if (memDC) {
        BLENDFUNCTION bf = {AC_SRC_OVER, 0, static_cast<BYTE>(alpha), 0};
        if (fns.alphaBlend) fns.alphaBlend(hDC, rc.left, rc.top, cx, cy, memDC, 0, 0, cx, cy, bf);
        ::SelectObject(memDC, oldBmp);
        ::DeleteObject(bmp);
        ::DeleteDC(memDC);
    }
}

void CDrawHelper::DrawLine(HDC hDC, const RECT& rc, int nSize, DWORD dwPenColor, int nStyle)
{
    LOGBRUSH lb = {BS_SOLID, ToGdi(dwPenColor), 0};
    HPEN pen = ::ExtCreatePen(static_cast<DWORD>(PS_GEOMETRIC | nStyle), nSize, &lb, 0, nullptr);
    if (!pen) return;
    HGDIOBJ old = ::SelectObject(hDC, pen);
    POINT prev;
    ::MoveToEx(hDC, rc.left, rc.top, &prev);
    ::LineTo(hDC, rc.right, rc.bottom);
    ::MoveToEx(hDC, prev.x, prev.y, nullptr);
    ::SelectObject(hDC, old);
    ::DeleteObject(pen);
}

void CDrawHelper::DrawRect(HDC hDC, const RECT& rc, int nSize, DWORD dwPenColor, int nStyle)
{
    HPEN pen = ::CreatePen(PS_INSIDEFRAME | nStyle, nSize, ToGdi(dwPenColor));
    if (!pen) return;
    HGDIOBJ old = ::SelectObject(hDC, pen);
    HGDIOBJ oldBrush = ::SelectObject(hDC, ::GetStockObject(HOLLOW_BRUSH));
    ::Rectangle(hDC, rc.left, rc.top, rc.right, rc.bottom);
    ::SelectObject(hDC, oldBrush);
    ::SelectObject(hDC, old);
    ::DeleteObject(pen);
}

void CDrawHelper::DrawRoundRect(HDC hDC, const RECT& rc, int width, int height, int nSize, DWORD dwPenColor,
                                int nStyle)
{
    HPEN pen = ::CreatePen(PS_INSIDEFRAME | nStyle, nSize, ToGdi(dwPenColor));
    if (!pen) return;
    HGDIOBJ old = ::SelectObject(hDC, pen);
    HGDIOBJ oldBrush = ::SelectObject(hDC, ::GetStockObject(HOLLOW_BRUSH));
    ::RoundRect(hDC, rc.left, rc.top, rc.right, rc.bottom, width, height);
    ::SelectObject(hDC, oldBrush);
    ::SelectObject(hDC, old);
    ::DeleteObject(pen);
}

// ---------------------------------------------------------------- images

UIImageInfo* CDrawHelper::LoadImage(CUIStringOrId bitmap, LPCWSTR type, DWORD mask)
{
    if (IS_INTRESOURCE(bitmap.m_lpstr) && !type) return nullptr;
    int w = 0;
    int h = 0;
    int n = 0;
    stbi_uc* pixels = nullptr;
    if (type && wcscmp(type, L"*COLOR*") == 0) {
        const DWORD c = ParseColor(bitmap.m_lpstr);
        pixels = static_cast<stbi_uc*>(std::malloc(4));
        if (!pixels) return nullptr;
        pixels[0] = static_cast<stbi_uc>(c >> 16);
        pixels[1] = static_cast<stbi_uc>(c >> 8);
        pixels[2] = static_cast<stbi_uc>(c);
        pixels[3] = static_cast<stbi_uc>(c >> 24);
        w = h = 1;
    } else if (type) {
        HINSTANCE inst = CWindowManagerUI::GetResourceInstance();
        HRSRC res = ::FindResourceW(inst, bitmap.m_lpstr, type);
        if (!res) return nullptr;
        HGLOBAL global = ::LoadResource(inst, res);
        const DWORD size = ::SizeofResource(inst, res);
        const void* data = global ? ::LockResource(global) : nullptr;
        if (!data || size == 0 || size > 0x7FFFFFFF) return nullptr;
        pixels = stbi_load_from_memory(static_cast<const stbi_uc*>(data), static_cast<int>(size), &w, &h, &n, 4);
    } else {
        SkinFileBytes bytes;
        LPCWSTR error = L"";
        const size_t kMaxImage = 64u << 20;
        if (!ReadSkinFile(GetSkinSource(), bitmap.m_lpstr, kMaxImage, bytes, error)) {
            // Not in the skin: a plain file path.
            SkinSource plain;
            plain.kind = SkinSourceKind::Folder;
            plain.resourcePath = L"";
            if (!ReadSkinFile(plain, bitmap.m_lpstr, kMaxImage, bytes, error)) return nullptr;
        }
        pixels = stbi_load_from_memory(bytes.data.get(), static_cast<int>(bytes.size), &w, &h, &n, 4);
    }
    if (!pixels) return nullptr;

    BYTE* bits = nullptr;
    HBITMAP bmp = CreateDib32(nullptr, w, h, true, &bits);
    if (!bmp) {
        stbi_image_free(pixels);
        return nullptr;
    }
    bool alpha = false;
    BYTE* out = bits;
    const size_t count = static_cast<size_t>(w) * h;
    for (size_t i = 0; i < count; ++i) {
        const BYTE r = pixels[i * 4], g = pixels[i * 4 + 1], b = pixels[i * 4 + 2], a = pixels[i * 4 + 3];
        if (a == 255) {
            out[i * 4] = b;
            out[i * 4 + 1] = g;
            out[i * 4 + 2] = r;
        } else {
            out[i * 4] = static_cast<BYTE>(b * a / 255);
            out[i * 4 + 1] = static_cast<BYTE>(g * a / 255);
            out[i * 4 + 2] = static_cast<BYTE>(r * a / 255);
            alpha = true;
        }
        out[i * 4 + 3] = a;
        DWORD value;
        std::memcpy(&value, out + i * 4, 4);
        if (value == mask) {
            std::memset(out + i * 4, 0, 4);
            alpha = true;
        }
    }
    stbi_image_free(pixels);

    UIImageInfo* info = new UIImageInfo;
    info->hBitmap = bmp;
    info->pBits = out;
    info->pSrcBits = nullptr;
    info->nX = w;
    info->nY = h;
    info->bAlpha = alpha;
    info->bUseHSL = false;
    info->dwMask = mask;
    return info;
}

void CDrawHelper::FreeImage(UIImageInfo* bitmap, bool bDelete)
{
    if (!bitmap) return;
    if (bitmap->hBitmap) ::DeleteObject(bitmap->hBitmap);
    bitmap->hBitmap = nullptr;
    std::free(bitmap->pSrcBits);
    bitmap->pSrcBits = nullptr;
    if (bDelete) delete bitmap;
}

bool CDrawHelper::DrawImageString(HDC hDC, CWindowManagerUI* pManager, const RECT& rcItem, const RECT& rcPaint,
                                  UIImageDrawInfo& info)
{
    if (!pManager || info.sDrawString.IsEmpty()) return false;
    if (!info.bLoaded) {
        info.bLoaded = true;
        CUIString name = info.sDrawString;
        CUIString type;
        bool useType = false;
        LPCWSTR p = info.sDrawString.GetData();
        while (*p) {
            while (*p > L'\0' && *p <= L' ') ++p;
            CUIString key;
            while (*p && *p != L'=' && *p > L' ') key.AppendChar(*p++);
            while (*p > L'\0' && *p <= L' ') ++p;
            if (*p++ != L'=') break;
            while (*p > L'\0' && *p <= L' ') ++p;
            if (*p++ != L'\'') break;
            CUIString value;
            while (*p && *p != L'\'') value.AppendChar(*p++);
            if (*p++ != L'\'') break;
            if (!value.IsEmpty()) {
                if (key == L"file") name = value;
                else if (key == L"res") { name = value; useType = true; }
                else if (key == L"restype") type = value;
                else if (key == L"color") { name = value; type = L"*COLOR*"; useType = true; }
                else if (key == L"dest") ReadIntRect(value, info.rcDest);
                else if (key == L"source") ReadIntRect(value, info.rcSource);
                else if (key == L"corner" || key == L"scale9") ReadIntRect(value, info.rcCorner);
                else if (key == L"mask") info.dwMask = ParseColor(value);
                else if (key == L"fade") info.uFade = static_cast<BYTE>(wcstol(value, nullptr, 10));
                else if (key == L"hole") info.bHole = value == L"true";
                else if (key == L"xtiled") info.bTiledX = value == L"true";
                else if (key == L"ytiled") info.bTiledY = value == L"true";
                else if (key == L"hsl") info.bHSL = value == L"true";
            }
            if (*p != L' ') break;
            ++p;
        }
        info.sImageName = name;
        info.pImageInfo = pManager->GetImageOrLoad(name, useType ? type.GetData() : nullptr, info.dwMask, info.bHSL);
        if (info.pImageInfo && info.rcSource.left == 0 && info.rcSource.top == 0 && info.rcSource.right == 0 &&
            info.rcSource.bottom == 0) {
            info.rcSource = RECT{0, 0, info.pImageInfo->nX, info.pImageInfo->nY};
        }
    }
    const UIImageInfo* image = info.pImageInfo;
    if (!image) return false;
    if (!hDC) return true;
    RECT src = info.rcSource;
    if (src.right > image->nX) src.right = image->nX;
    if (src.bottom > image->nY) src.bottom = image->nY;
    RECT dst = rcItem;
    if (info.rcDest.left || info.rcDest.top || info.rcDest.right || info.rcDest.bottom) {
        dst.left = rcItem.left + info.rcDest.left;
        dst.top = rcItem.top + info.rcDest.top;
        dst.right = rcItem.left + info.rcDest.right;
        if (dst.right > rcItem.right) dst.right = rcItem.right;
        dst.bottom = rcItem.top + info.rcDest.bottom;
        if (dst.bottom > rcItem.bottom) dst.bottom = rcItem.bottom;
    }
    RECT tmp;
    if (!::IntersectRect(&tmp, &dst, &rcItem) || !::IntersectRect(&tmp, &dst, &rcPaint)) return true;
    DrawImage(hDC, image->hBitmap, dst, rcPaint, src, info.rcCorner, image->bAlpha, info.uFade, info.bHole,
              info.bTiledX, info.bTiledY);
    return true;
}

void CDrawHelper::DrawImage(HDC hDC, HBITMAP hBitmap, const RECT& rc, const RECT& rcPaint, const RECT& rcBmpPart,
                            const RECT& rcCorners, bool bAlpha, BYTE uFade, bool hole, bool, bool)
{
    if (!hDC || !hBitmap) return;
    SelectedBitmap mem(hDC, hBitmap);
    if (!mem.Get()) return;
    ::SetStretchBltMode(hDC, COLORONCOLOR);
    const bool blended = bAlpha || uFade < 255;
    const RECT& c = rcCorners;
    const RECT& s = rcBmpPart;
    if (!blended && c.left == 0 && c.top == 0 && c.right == 0 && c.bottom == 0 &&
        rc.right - rc.left == s.right - s.left && rc.bottom - rc.top == s.bottom - s.top) {
        RECT part;
        if (::IntersectRect(&part, &rc, &rcPaint)) {
            ::BitBlt(hDC, part.left, part.top, part.right - part.left, part.bottom - part.top, mem.Get(),
                     s.left + part.left - rc.left, s.top + part.top - rc.top, SRCCOPY);
        }
        return;
    }
    // Nine parts: the middle, then the corners and edges.
    if (!hole) {
        DrawPart(hDC, RECT{rc.left + c.left, rc.top + c.top, rc.right - c.right, rc.bottom - c.bottom}, rcPaint,
                 mem.Get(), RECT{s.left + c.left, s.top + c.top, s.right - c.right, s.bottom - c.bottom}, blended,
                 uFade);
    }
    if (c.left > 0 && c.top > 0)
        DrawPart(hDC, RECT{rc.left, rc.top, rc.left + c.left, rc.top + c.top}, rcPaint, mem.Get(),
                 RECT{s.left, s.top, s.left + c.left, s.top + c.top}, blended, uFade);
    if (c.top > 0)
        DrawPart(hDC, RECT{rc.left + c.left, rc.top, rc.right - c.right, rc.top + c.top}, rcPaint, mem.Get(),
                 RECT{s.left + c.left, s.top, s.right - c.right, s.top + c.top}, blended, uFade);
    if (c.right > 0 && c.top > 0)
        DrawPart(hDC, RECT{rc.right - c.right, rc.top, rc.right, rc.top + c.top}, rcPaint, mem.Get(),
                 RECT{s.right - c.right, s.top, s.right, s.top + c.top}, blended, uFade);
    if (c.left > 0)
        DrawPart(hDC, RECT{rc.left, rc.top + c.top, rc.left + c.left, rc.bottom - c.bottom}, rcPaint, mem.Get(),
                 RECT{s.left, s.top + c.top, s.left + c.left, s.bottom - c.bottom}, blended, uFade);
    if (c.right > 0)
        DrawPart(hDC, RECT{rc.right - c.right, rc.top + c.top, rc.right, rc.bottom - c.bottom}, rcPaint, mem.Get(),
                 RECT{s.right - c.right, s.top + c.top, s.right, s.bottom - c.bottom}, blended, uFade);
    if (c.left > 0 && c.bottom > 0)
        DrawPart(hDC, RECT{rc.left, rc.bottom - c.bottom, rc.left + c.left, rc.bottom}, rcPaint, mem.Get(),
                 RECT{s.left, s.bottom - c.bottom, s.left + c.left, s.bottom}, blended, uFade);
    if (c.bottom > 0)
        DrawPart(hDC, RECT{rc.left + c.left, rc.bottom - c.bottom, rc.right - c.right, rc.bottom}, rcPaint, mem.Get(),
                 RECT{s.left + c.left, s.bottom - c.bottom, s.right - c.right, s.bottom}, blended, uFade);
    if (c.right > 0 && c.bottom > 0)
        DrawPart(hDC, RECT{rc.right - c.right, rc.bottom - c.bottom, rc.right, rc.bottom}, rcPaint, mem.Get(),
                 RECT{s.right - c.right, s.bottom - c.bottom, s.right, s.bottom}, blended, uFade);
}

DWORD CDrawHelper::AdjustColor(DWORD dwColor, short H, short S, short L)
{
    if (H == 180 && S == 100 && L == 100) return dwColor;
    const double r = ((dwColor >> 16) & 0xFF) / 255.0;
    const double g = ((dwColor >> 8) & 0xFF) / 255.0;
    const double b = (dwColor & 0xFF) / 255.0;
    const double mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
    const double mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
    double h = 0, s = 0;
    const double l = (mx + mn) / 2;
    if (mx != mn) {
        const double d = mx - mn;
        s = l > 0.5 ? d / (2 - mx - mn) : d / (mx + mn);
        if (mx == r) h = (g - b) / d + (g < b ? 6 : 0);
        else if (mx == g) h = (b - r) / d + 2;
        else h = (r - g) / d + 4;
        h *= 60;
    }
    h += H - 180;
    if (h <= 0) h += 360;
    if (h > 360) h -= 360;
    s = s * S / 100;
    double nl = l * L / 100;
    if (s > 1) s = 1;
    if (nl > 1) nl = 1;
    auto hue = [](double p, double q, double t) {
        if (t < 0) t += 1;
        if (t > 1) t -= 1;
        if (t < 1.0 / 6) return p + (q - p) * 6 * t;
        if (t < 0.5) return q;
        if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
        return p;
    };
    double nr = nl, ng = nl, nb = nl;
    if (s > 0) {
        const double q = nl < 0.5 ? nl * (1 + s) : nl + s - nl * s;
        const double p = 2 * nl - q;
        nr = hue(p, q, h / 360 + 1.0 / 3);
        ng = hue(p, q, h / 360);
        nb = hue(p, q, h / 360 - 1.0 / 3);
    }
    return (dwColor & 0xFF000000) | (static_cast<DWORD>(nr * 255 + 0.5) << 16) |
           (static_cast<DWORD>(ng * 255 + 0.5) << 8) | static_cast<DWORD>(nb * 255 + 0.5);
}

}  // namespace SkinUI
