// Helpers of the drawing tests: a memory canvas whose pixels can be read back, and
// the resources a window manager would give the drawing code (image cache, fonts,
// colours, mouse position), kept small and explicit.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "SkinFile.h"
#include "UIRender.h"

namespace uitest {

std::wstring ImagePath(const std::wstring& name);   // in the image fixture folder

// While it lives, skin files are read from the image fixture folder.
class ImageFolderSource {
public:
    ImageFolderSource();
    ~ImageFolderSource();
    SkinUI::SkinSource& Source();   // to point elsewhere for a while
};

// A 32-bit top-down DIB selected into a memory DC, cleared to a colour.
class Canvas {
public:
    Canvas(int width, int height, COLORREF fill = RGB(255, 255, 255));
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return m_dc; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void Fill(COLORREF color);
    // 0xRRGGBB of a pixel (the alpha byte left out).
    unsigned Pixel(int x, int y) const;
    unsigned Alpha(int x, int y) const;
    // Columns [left, right) of the rows [top, bottom) that hold any pixel other than `background`.
    RECT InkBounds(unsigned background = 0xFFFFFF) const;
    bool HasColor(const RECT& area, unsigned rgb, int tolerance = 0) const;

private:
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    unsigned char* m_bits = nullptr;
    int m_width, m_height;
};

// Fonts are made as the window manager makes them: from the default GUI font's
// description with the face, pixel height and styles asked for (without smoothing,
// so that text pixels have exact colours).
HFONT MakeFont(LPCWSTR face, int size, bool bold, bool underline, bool italic);

class TestResources : public SkinUI::IDrawResources {
public:
    TestResources();
    ~TestResources();

    const SkinUI::UIImageInfo* GetImageOrLoad(LPCWSTR name, LPCWSTR type, DWORD mask, bool hsl) override;
    HFONT GetFont(int id) override;
    const SkinUI::UIFontInfo* GetFontInfoByHandle(HFONT font) override;
    HFONT FindFont(LPCWSTR face, int size, bool bold, bool underline, bool italic) override;
    HFONT AddFont(int id, LPCWSTR face, int size, bool bold, bool underline, bool italic, bool shared) override;
    DWORD GetLinkFontColor() const override { return linkColor; }
    DWORD GetLinkHoverFontColor() const override { return linkHoverColor; }
    DWORD GetSelectedBkColor() const override { return selectedColor; }
    POINT GetMousePos() const override { return mouse; }
    void ReplaceLanguageTokens(SkinUI::CUIString& text) override;

    int ImageLoads() const { return m_loads; }
    // What the last lookup asked for.
    std::wstring lastType;
    DWORD lastMask = 0;
    bool lastHsl = false;

    DWORD linkColor = 0xFF0000FF;
    DWORD linkHoverColor = 0xFFD3215F;
    DWORD selectedColor = 0xFFBAE4FF;
    POINT mouse = {-1, -1};
    std::map<int, std::wstring> texts;   // multi-language texts by id

private:
    std::map<std::wstring, SkinUI::UIImageInfo*> m_images;
    std::map<int, SkinUI::UIFontInfo*> m_fonts;   // -1: the default font (Tahoma 12)
    int m_loads = 0;
};

}  // namespace uitest
