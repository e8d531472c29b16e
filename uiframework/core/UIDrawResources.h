// What the drawing code needs from a window's shared resources: decoded images by
// name, fonts by id or description, the link and selection colours, the last mouse
// position and the multi-language texts. The window manager provides it; tests
// provide their own.
#pragma once

#include <windows.h>

#include "UIUtils.h"

namespace SkinUI {

// A decoded image: a 32-bit top-down DIB section with premultiplied pixels.
struct UIImageInfo {
    HBITMAP hBitmap = nullptr;
    LPBYTE pBits = nullptr;          // blue, green, red, alpha; rows top-down
    LPBYTE pSrcBits = nullptr;       // unadjusted pixels for colour adjustment (new[]), or null
    int nX = 0;                      // width
    int nY = 0;                      // height
    bool bAlpha = false;             // some pixel is not fully opaque
    bool bUseHSL = false;
    CUIString sResType;
    DWORD dwMask = 0;
};

struct UIFontInfo {
    HFONT hFont = nullptr;
    CUIString sFontName;
    int iSize = 0;                   // pixels
    bool bBold = false;
    bool bUnderline = false;
    bool bItalic = false;
    TEXTMETRICW tm = {};
};

// One image attribute of a control: its description, parsed once.
struct UIImageDrawInfo {
    CUIString sDrawString;
    CUIString sImageName;
    bool bLoaded = false;            // parsed (whether or not the image could be had)
    const UIImageInfo* pImageInfo = nullptr;
    RECT rcDest = {};
    RECT rcSource = {};
    RECT rcCorner = {};
    BYTE uFade = 255;
    bool bHole = false;
    bool bTiledX = false;
    bool bTiledY = false;

    // Forgets the parse and the image (the description stays).
    void Clear();
};

class IDrawResources {
public:
    // The cached image of that name, loaded on first use; null when it cannot be had.
    virtual const UIImageInfo* GetImageOrLoad(LPCWSTR name, LPCWSTR type, DWORD mask, bool hsl) = 0;
    virtual HFONT GetFont(int id) = 0;
    // The record of a font handle (the default font's when the handle is unknown).
    virtual const UIFontInfo* GetFontInfoByHandle(HFONT font) = 0;
    virtual HFONT FindFont(LPCWSTR face, int size, bool bold, bool underline, bool italic) = 0;
    virtual HFONT AddFont(int id, LPCWSTR face, int size, bool bold, bool underline, bool italic,
                          bool shared) = 0;
    virtual DWORD GetLinkFontColor() const = 0;
    virtual DWORD GetLinkHoverFontColor() const = 0;
    virtual DWORD GetSelectedBkColor() const = 0;
    virtual POINT GetMousePos() const = 0;
    // Replaces the multi-language tokens of the text by their texts.
    virtual void ReplaceLanguageTokens(CUIString& text) = 0;

protected:
    ~IDrawResources() = default;
};

}  // namespace SkinUI
