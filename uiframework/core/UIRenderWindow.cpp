// Drawing that needs a window manager: a picture of part of the window, painted
// afresh or taken from the off-screen bitmap.
#include <memory>

#include "UIControl.h"
#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

HBITMAP CDrawHelper::GenerateBitmap(CWindowManagerUI* manager, const RECT& rc, CControlUI* control, DWORD background)
{
    if (!manager || !manager->GetPaintDC()) return nullptr;
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    if (cx <= 0 || cy <= 0) return nullptr;
    HDC paintDC = manager->GetPaintDC();
    UniqueMemoryDc painter(::CreateCompatibleDC(paintDC));
    UniqueMemoryDc copier(::CreateCompatibleDC(paintDC));
    if (!painter || !copier) return nullptr;

    HDC from = manager->GetOffscreenDC();
    int fromX = rc.left;
    int fromY = rc.top;
    UniqueBitmap painted;
    std::unique_ptr<ScopedSelect> paintedIn;
    // A stop control or a layered window needs a picture of its own; so does a manager
    // that keeps no off-screen bitmap.
    if (control || manager->IsLayered() || !manager->GetOffscreenBitmap() || !from) {
        // Painted at client coordinates, from the client origin to the rect's far corner:
        // the controls' clip regions are in device units, which a moved origin would shift.
        if (rc.left < 0 || rc.top < 0) return nullptr;
        painted.Reset(::CreateCompatibleBitmap(paintDC, rc.right, rc.bottom));
        if (!painted) return nullptr;
        paintedIn.reset(new ScopedSelect(painter.Get(), painted.Get()));
        if (CControlUI* root = manager->GetRoot()) root->Paint(painter.Get(), rc, control);
        from = painter.Get();
    }

    BYTE* bits = nullptr;
    HBITMAP picture = CreateBitmapInfo(paintDC, cx, cy, &bits);
    if (!picture) return nullptr;
    {
        ScopedSelect in(copier.Get(), picture);
        ::BitBlt(copier.Get(), 0, 0, cx, cy, from, fromX, fromY, SRCCOPY);
        if (background >> 24) DrawColor(copier.Get(), RECT{0, 0, cx, cy}, background);
    }
    ::GdiFlush();
    return picture;
}

}  // namespace SkinUI
