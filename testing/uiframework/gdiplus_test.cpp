// GDI+ runs once for the process: users start it, only the program's owner stops it.
#include <gtest/gtest.h>

#include <windows.h>

#include <objidl.h>   // left out by WIN32_LEAN_AND_MEAN, needed by the GDI+ headers
#include <gdiplus.h>

#include "UIGdiplus.h"
#include "draw_support.h"

using SkinUI::CUIGdiplus;

namespace {

void FillWithGdiplus(HDC dc)
{
    Gdiplus::Graphics graphics(dc);
    Gdiplus::SolidBrush brush(Gdiplus::Color(255, 0, 128, 255));
    ASSERT_EQ(Gdiplus::Ok, graphics.FillRectangle(&brush, 0, 0, 4, 4));
}

TEST(Gdiplus, OneStartServesEveryUserUntilTheOwnerEnds)
{
    {
        CUIGdiplus::Owner program;
        ASSERT_TRUE(CUIGdiplus::IsRunning());
        // Two users come and go; neither stops GDI+ for the others.
        for (int user = 0; user < 2; ++user) {
            ASSERT_TRUE(CUIGdiplus::Start());
            uitest::Canvas canvas(4, 4);
            FillWithGdiplus(canvas.Dc());
            EXPECT_EQ(0x0080FFu, canvas.Pixel(2, 2));
        }
        {
            CUIGdiplus::Owner nested;
        }
        EXPECT_TRUE(CUIGdiplus::IsRunning());
        uitest::Canvas canvas(4, 4);
        FillWithGdiplus(canvas.Dc());
        EXPECT_EQ(0x0080FFu, canvas.Pixel(0, 0));
    }
    EXPECT_FALSE(CUIGdiplus::IsRunning());
    // A later user starts it again.
    EXPECT_TRUE(CUIGdiplus::Start());
    CUIGdiplus::Owner last;
}

}  // namespace
