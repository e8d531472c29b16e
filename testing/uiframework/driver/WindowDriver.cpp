// Window pictures, PNG files and SendInput for the test programs.
#include "WindowDriver.h"

#include <cstdio>

#include "UIRender.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include "stb_image_write.h"

namespace uidriver {

namespace {

void WriteChunk(void* context, void* data, int size)
{
    std::fwrite(data, 1, static_cast<size_t>(size), static_cast<FILE*>(context));
}

// BGRA pixels to RGBA, with the alpha given or kept.
void FromBgra(const BYTE* px, size_t count, bool keepAlpha, std::vector<unsigned char>& rgba)
{
    rgba.resize(count * 4);
    for (size_t i = 0; px && i < count; ++i) {
        rgba[i * 4] = px[i * 4 + 2];
        rgba[i * 4 + 1] = px[i * 4 + 1];
        rgba[i * 4 + 2] = px[i * 4];
        rgba[i * 4 + 3] = keepAlpha ? px[i * 4 + 3] : 255;
    }
}

}  // namespace

bool Capture(HWND hwnd, SkinUI::CWindowManagerUI& m, Picture& out)
{
    if (m.IsLayered() && m.GetOffscreenBits()) {
        out.width = m.GetOffscreenSize().cx;
        out.height = m.GetOffscreenSize().cy;
        FromBgra(m.GetOffscreenBits(), static_cast<size_t>(out.width) * out.height, true, out.rgba);
        return out.width > 0 && out.height > 0;
    }
    RECT rc;
    ::GetClientRect(hwnd, &rc);
    out.width = rc.right;
    out.height = rc.bottom;
    if (out.width <= 0 || out.height <= 0) return false;
    HDC wnd = ::GetDC(hwnd);
    HDC mem = ::CreateCompatibleDC(wnd);
    BYTE* bits = nullptr;
    HBITMAP bmp = SkinUI::CDrawHelper::CreateDib32(wnd, out.width, out.height, true, &bits);
    HGDIOBJ old = ::SelectObject(mem, bmp);
    ::BitBlt(mem, 0, 0, out.width, out.height, wnd, 0, 0, SRCCOPY);
    ::GdiFlush();
    FromBgra(bits, static_cast<size_t>(out.width) * out.height, false, out.rgba);
    ::SelectObject(mem, old);
    ::DeleteObject(bmp);
    ::DeleteDC(mem);
    ::ReleaseDC(hwnd, wnd);
    return bits != nullptr;
}

bool WritePng(const std::wstring& path, const Picture& p)
{
    if (p.width <= 0 || p.height <= 0) return false;
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    const int ok = stbi_write_png_to_func(WriteChunk, f, p.width, p.height, 4, p.rgba.data(), p.width * 4);
    const bool closed = std::fclose(f) == 0;
    return ok != 0 && closed;
}

void SendMouse(HWND hwnd, DWORD flags, int x, int y, DWORD data)
{
    POINT pt = {x, y};
    ::ClientToScreen(hwnd, &pt);
    const int sw = ::GetSystemMetrics(SM_CXSCREEN);
    const int sh = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = static_cast<LONG>((static_cast<long long>(pt.x) * 65535 + (sw - 1) / 2) / (sw - 1));
    in.mi.dy = static_cast<LONG>((static_cast<long long>(pt.y) * 65535 + (sh - 1) / 2) / (sh - 1));
    in.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    in.mi.mouseData = data;
    ::SendInput(1, &in, sizeof(in));
}

void SendKey(WORD vk, bool up)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    if (vk == VK_UP || vk == VK_DOWN || vk == VK_LEFT || vk == VK_RIGHT || vk == VK_HOME || vk == VK_END ||
        vk == VK_PRIOR || vk == VK_NEXT || vk == VK_DELETE) {
        in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    }
    ::SendInput(1, &in, sizeof(in));
}

}  // namespace uidriver
