// The installer's frame base: the shadow attributes of a layout in both colour forms,
// no shadow window without "showshadow", Escape swallowed, the record of a layout.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "SkinFrame.h"
#include "UIShadow.h"
#include "test_support.h"

using namespace SkinUI;

namespace {

struct ShadowCase {
    const wchar_t* what;
    std::vector<std::pair<const wchar_t*, const wchar_t*>> attrs;
    bool enabled;
    int size, sharpness, darkness, x, y;
    DWORD color;
};

TEST(FrameShadow, AttributesOfTheShippedLayoutsAndTheirVariants)
{
    const ShadowCase cases[] = {
        {L"main window, # colour",
         {{L"showshadow", L"true"}, {L"shadowsize", L"6"}, {L"shadowsharpness", L"10"}, {L"shadowdarkness", L"20"},
          {L"shadowposition", L"1,1"}, {L"shadowcolor", L"#26003B76"}},
         true, 6, 10, 20, 1, 1, 0x26003B76},
        {L"tip window, 0x colour",
         {{L"showshadow", L"true"}, {L"shadowsize", L"6"}, {L"shadowsharpness", L"10"}, {L"shadowdarkness", L"20"},
          {L"shadowposition", L"1,1"}, {L"shadowcolor", L"0xFF003B76"}},
         true, 6, 10, 20, 1, 1, 0xFF003B76},
        {L"TRUE in capitals", {{L"showshadow", L"TRUE"}, {L"shadowposition", L"-3,4"}, {L"shadowcolor", L"FF0000"}},
         true, 0, 0, 0, -3, 4, 0xFF0000},
        {L"no showshadow", {{L"shadowsize", L"6"}}, false, 0, 0, 0, 0, 0, 0},
        {L"showshadow false", {{L"showshadow", L"false"}, {L"shadowsize", L"6"}}, false, 0, 0, 0, 0, 0, 0},
        {L"showshadow yes", {{L"showshadow", L"yes"}}, false, 0, 0, 0, 0, 0, 0},
    };
    for (const ShadowCase& c : cases) {
        CWindowManagerUI m;
        for (const auto& a : c.attrs) m.AddWindowCustomAttribute(a.first, a.second);
        const ShadowSettings s = ReadShadowSettings(m);
        SCOPED_TRACE(Utils::WideToMultiByte(c.what, CP_UTF8));
        EXPECT_EQ(s.enabled, c.enabled);
        if (!c.enabled) {
            EXPECT_FALSE(s.hasSize || s.hasColor);
            continue;
        }
        EXPECT_EQ(s.size, c.size);
        EXPECT_EQ(s.sharpness, c.sharpness);
        EXPECT_EQ(s.darkness, c.darkness);
        EXPECT_EQ(s.position[0], c.x);
        EXPECT_EQ(s.position[1], c.y);
        EXPECT_TRUE(s.hasColor);
        EXPECT_EQ(s.color, c.color);
        EXPECT_FALSE(s.hasImage);
    }
}

TEST(FrameShadow, ImageWithItsCorner)
{
    CWindowManagerUI m;
    m.AddWindowCustomAttribute(L"showshadow", L"true");
    m.AddWindowCustomAttribute(L"shadowimage", L"res\\shadow.png");
    m.AddWindowCustomAttribute(L"shadowcorner", L"1,2,3,4");
    const ShadowSettings s = ReadShadowSettings(m);
    ASSERT_TRUE(s.hasImage);
    EXPECT_STREQ(s.image.GetData(), L"res\\shadow.png");
    EXPECT_EQ(s.corner[0], 1);
    EXPECT_EQ(s.corner[3], 4);
    EXPECT_FALSE(s.hasSize);
}

TEST(FrameRecord, ClassIsTheLayoutNameUpToItsLastDot)
{
    const SkinFrameRecord main = InstallerFrameRecord(L"MainWnd.xml");
    EXPECT_EQ(main.resourceType, WindowImplBase::UILIB_ZIPRESOURCE);
    EXPECT_EQ(main.resourceId, 147);
    EXPECT_TRUE(main.skinFolder.IsEmpty());
    EXPECT_STREQ(main.windowClass.GetData(), L"MainWnd");
    EXPECT_STREQ(InstallerFrameRecord(L"a.b.xml").windowClass.GetData(), L"a.b");
    EXPECT_STREQ(InstallerFrameRecord(L"plain").windowClass.GetData(), L"plain");
}

// Frames over a skin folder of their own.
class FrameWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        CWindowManagerUI::SetInstance(::GetModuleHandleW(nullptr));
        CWndShadow::Initialize(::GetModuleHandleW(nullptr));
        Write(L"shadow.xml",
              "<Window size=\"200,100\" showshadow=\"TRUE\" shadowsize=\"6\" shadowcolor=\"#26003B76\">"
              "<VerticalLayout /></Window>");
        Write(L"plain.xml", "<Window size=\"200,100\" shadowsize=\"6\"><VerticalLayout /></Window>");
        Write(L"off.xml", "<Window size=\"200,100\" showshadow=\"false\"><VerticalLayout /></Window>");
        CWindowManagerUI::SetResourcePath((m_tmp.Path() + L"\\").c_str());
    }
    void Write(const wchar_t* name, const char* text) { testsupport::WriteFileBytes(m_tmp.File(name), text); }
    static SkinFrameRecord Record(const wchar_t* layout)
    {
        SkinFrameRecord r = InstallerFrameRecord(layout);
        r.resourceType = WindowImplBase::UILIB_FILE;
        return r;
    }
    testsupport::TempFolder m_tmp{L"frame-test"};
};

TEST_F(FrameWindow, ShadowOnlyWhenTheLayoutAsks)
{
    struct {
        const wchar_t* layout;
        bool shadow;
    } cases[] = {{L"shadow.xml", true}, {L"plain.xml", false}, {L"off.xml", false}};
    for (const auto& c : cases) {
        CSkinFrame frame(Record(c.layout));
        HWND hwnd = frame.Create(HWND_MESSAGE, L"t", 0x10CF0000, 0, 0, 0, 200, 100);
        ASSERT_NE(hwnd, nullptr);
        ASSERT_NE(frame.GetManager().GetRoot(), nullptr);
        EXPECT_EQ(frame.HasShadow(), c.shadow) << Utils::WideToMultiByte(c.layout, CP_UTF8);
        if (!c.shadow) EXPECT_EQ(frame.GetShadowHWND(), nullptr);
        // The caption and the maximise box are gone whatever the caller asked for.
        EXPECT_EQ(::GetWindowLongW(hwnd, GWL_STYLE) & (WS_CAPTION | WS_MAXIMIZEBOX), 0);
        ::DestroyWindow(hwnd);
    }
}

bool ClosePending(HWND hwnd)
{
    MSG msg;
    return ::PeekMessageW(&msg, hwnd, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) != FALSE;
}

// The plain base closes on Escape; the frame keeps its window and says so.
class PlainWindow : public WindowImplBase {
public:
    LPCWSTR GetWindowClassName() const override { return L"FramePlainTest"; }
    CUIString GetSkinFolder() override { return CUIString(); }
    CUIString GetSkinFile() override { return CUIString(L"plain.xml"); }
};

TEST_F(FrameWindow, EscapeDoesNothingReturnStaysWithTheBase)
{
    CSkinFrame frame(Record(L"plain.xml"));
    HWND hwnd = frame.Create(HWND_MESSAGE, L"t", 0x10CF0000, 0, 0, 0, 200, 100);
    ASSERT_NE(hwnd, nullptr);
    bool handled = false;
    EXPECT_EQ(frame.MessageHandler(WM_KEYDOWN, VK_ESCAPE, 0, handled), 0);
    EXPECT_TRUE(handled);
    // Through the manager's own path, as a key press arrives.
    MSG msg = {hwnd, WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
    EXPECT_TRUE(CWindowManagerUI::TranslateMessage(&msg));
    EXPECT_FALSE(ClosePending(hwnd));
    handled = false;
    frame.MessageHandler(WM_KEYDOWN, VK_RETURN, 0, handled);
    EXPECT_FALSE(handled);
    ::DestroyWindow(hwnd);

    PlainWindow plain;
    HWND other = plain.Create(HWND_MESSAGE, L"t", 0x10CF0000, 0, 0, 0, 200, 100);
    ASSERT_NE(other, nullptr);
    MSG esc = {other, WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
    CWindowManagerUI::TranslateMessage(&esc);
    EXPECT_TRUE(ClosePending(other));
    ::DestroyWindow(other);
}

}  // namespace
