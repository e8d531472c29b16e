// Window pictures for the checks.
#include "WindowCapture.h"

#include <cstdio>
#include <vector>

#include "UIRender.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include "stb_image_write.h"

using namespace SkinUI;

namespace {

int WriteChunk(void* context, void* data, int size)
{
    return std::fwrite(data, 1, static_cast<size_t>(size), static_cast<FILE*>(context)) == static_cast<size_t>(size);
}

bool WritePng(const std::wstring& path, int w, int h, const std::vector<unsigned char>& rgba)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    const int ok = stbi_write_png_to_func(
        [](void* ctx, void* data, int size) { WriteChunk(ctx, data, size); }, f, w, h, 4, rgba.data(), w * 4);
    std::fclose(f);
    return ok != 0;
}

}  // namespace

bool WriteWindowPng(CWindowManagerUI& m, HWND hwnd, const std::wstring& path)
{
    std::vector<unsigned char> rgba;
    int w = 0;
    int h = 0;
    if (m.IsLayered() && m.GetOffscreenBits()) {
        // Exactly the bitmap handed to UpdateLayeredWindow (premultiplied).
        w = m.GetOffscreenSize().cx;
        h = m.GetOffscreenSize().cy;
        const BYTE* px = m.GetOffscreenBits();
        rgba.resize(static_cast<size_t>(w) * h * 4);
        for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
            rgba[i * 4] = px[i * 4 + 2];
            rgba[i * 4 + 1] = px[i * 4 + 1];
            rgba[i * 4 + 2] = px[i * 4];
            rgba[i * 4 + 3] = px[i * 4 + 3];
        }
    } else {
        RECT rc;
        ::GetClientRect(hwnd, &rc);
        w = rc.right;
        h = rc.bottom;
        HDC wnd = ::GetDC(hwnd);
        HDC mem = ::CreateCompatibleDC(wnd);
        BYTE* bits = nullptr;
        HBITMAP bmp = CDrawHelper::CreateDib32(wnd, w, h, true, &bits);
        HGDIOBJ old = ::SelectObject(mem, bmp);
        ::BitBlt(mem, 0, 0, w, h, wnd, 0, 0, SRCCOPY);
        ::GdiFlush();
        const BYTE* px = bits;
        rgba.resize(static_cast<size_t>(w) * h * 4);
        for (size_t i = 0; px && i < static_cast<size_t>(w) * h; ++i) {
            rgba[i * 4] = px[i * 4 + 2];
            rgba[i * 4 + 1] = px[i * 4 + 1];
            rgba[i * 4 + 2] = px[i * 4];
            rgba[i * 4 + 3] = 255;
        }
        ::SelectObject(mem, old);
        ::DeleteObject(bmp);
        ::DeleteDC(mem);
        ::ReleaseDC(hwnd, wnd);
    }
    if (w <= 0 || h <= 0) return false;
    return WritePng(path, w, h, rgba);
}

