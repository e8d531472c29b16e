// The process-wide GDI+ start and its owner.
#include "UIGdiplus.h"

#include <windows.h>

#include <objidl.h>   // left out by WIN32_LEAN_AND_MEAN, needed by the GDI+ headers
#include <gdiplus.h>

namespace SkinUI {

namespace {
ULONG_PTR g_token = 0;
bool g_running = false;
int g_owners = 0;
}  // namespace

bool CUIGdiplus::Start()
{
    if (g_running) return true;
    Gdiplus::GdiplusStartupInput input;   // version 1, no debug callback, its own background thread
    g_running = Gdiplus::GdiplusStartup(&g_token, &input, nullptr) == Gdiplus::Ok;
    return g_running;
}

bool CUIGdiplus::IsRunning() { return g_running; }

CUIGdiplus::Owner::Owner()
{
    ++g_owners;
    Start();
}

CUIGdiplus::Owner::~Owner()
{
    if (--g_owners > 0 || !g_running) return;
    Gdiplus::GdiplusShutdown(g_token);
    g_running = false;
    g_token = 0;
}

}  // namespace SkinUI
