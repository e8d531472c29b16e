// The frame base of the installer's windows and the shadow its layouts describe.
#include "SkinFrame.h"

#include <cwchar>
#include <string>

#include "UIRender.h"

namespace SkinUI {

SkinFrameRecord InstallerFrameRecord(LPCWSTR layoutFile)
{
    SkinFrameRecord r;
    r.resourceType = WindowImplBase::UILIB_ZIPRESOURCE;
    r.resourceId = 147;
    r.layoutFile = layoutFile;
    const std::wstring name = layoutFile ? layoutFile : L"";
    const size_t dot = name.find_last_of(L'.');
    r.windowClass = (dot == std::wstring::npos ? name : name.substr(0, dot)).c_str();
    return r;
}

namespace {

int ReadInt(LPCWSTR text)
{
    int n = 0;
    ReadNumberList(text, &n, 1);
    return n;
}

// "#26003B76", "0xFF003B76" or bare hexadecimal digits.
DWORD ReadHexColor(LPCWSTR text)
{
    if (*text == L'#') ++text;
    return static_cast<DWORD>(std::wcstoul(text, nullptr, 16));
}

}  // namespace

ShadowSettings ReadShadowSettings(const CWindowManagerUI& manager)
{
    ShadowSettings s;
    LPCWSTR show = manager.GetWindowCustomAttribute(L"showshadow");
    s.enabled = show && _wcsicmp(show, L"true") == 0;
    if (!s.enabled) return s;
    if (LPCWSTR v = manager.GetWindowCustomAttribute(L"shadowimage")) {
        s.hasImage = true;
        s.image = v;
        if (LPCWSTR c = manager.GetWindowCustomAttribute(L"shadowcorner")) ReadNumberList(c, s.corner, 4);
    }
    if (LPCWSTR v = manager.GetWindowCustomAttribute(L"shadowsize")) {
        s.hasSize = true;
        s.size = ReadInt(v);
    }
    if (LPCWSTR v = manager.GetWindowCustomAttribute(L"shadowsharpness")) {
        s.hasSharpness = true;
        s.sharpness = ReadInt(v);
    }
    if (LPCWSTR v = manager.GetWindowCustomAttribute(L"shadowdarkness")) {
        s.hasDarkness = true;
        s.darkness = ReadInt(v);
    }
    if (LPCWSTR v = manager.GetWindowCustomAttribute(L"shadowposition")) {
        s.hasPosition = true;
        ReadNumberList(v, s.position, 2);
    }
    if (LPCWSTR v = manager.GetWindowCustomAttribute(L"shadowcolor")) {
        s.hasColor = true;
        s.color = ReadHexColor(v);
    }
    return s;
}

CSkinFrame::CSkinFrame(const SkinFrameRecord& record)
    : m_resourceType(record.resourceType),
      m_resourceId(record.resourceId),
      m_skinFolder(record.skinFolder),
      m_layoutFile(record.layoutFile),
      m_windowClass(record.windowClass)
{
}

CSkinFrame::~CSkinFrame() = default;

LPCWSTR CSkinFrame::GetWindowClassName() const { return m_windowClass.GetData(); }
CUIString CSkinFrame::GetSkinFolder() { return m_skinFolder; }
CUIString CSkinFrame::GetSkinFile() { return m_layoutFile; }
int CSkinFrame::GetResourceType() const { return m_resourceType; }
LPCWSTR CSkinFrame::GetResourceId() const { return MAKEINTRESOURCEW(m_resourceId); }

void CSkinFrame::InitWindow()
{
    const LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    ::SetWindowLongW(m_hWnd, GWL_STYLE, style & ~(WS_CAPTION | WS_MAXIMIZEBOX));

    const ShadowSettings s = ReadShadowSettings(m_PaintManager);
    if (!s.enabled) return;
    m_shadow.Create(m_hWnd);
    m_shadowMade = true;
    // Each setter refuses a value outside its range and keeps the one it had.
    if (s.hasImage) {
        const int* c = s.corner;
        m_shadow.SetImage(s.image.GetData(), c[0], c[1], c[2], c[3], c[0], c[1], c[2], c[3]);
    }
    if (s.hasSize) m_shadow.SetSize(s.size);
    if (s.hasSharpness && s.sharpness >= 0) m_shadow.SetSharpness(static_cast<unsigned>(s.sharpness));
    if (s.hasDarkness && s.darkness >= 0) m_shadow.SetDarkness(static_cast<unsigned>(s.darkness));
    if (s.hasPosition) m_shadow.SetPosition(s.position[0], s.position[1]);
    if (s.hasColor) m_shadow.SetColor(s.color);
}

LRESULT CSkinFrame::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled)
{
    // Escape never closes an installer window; Return keeps the base's handling.
    if (uMsg == WM_KEYDOWN && wParam == VK_ESCAPE) {
        bHandled = true;
        return 0;
    }
    return WindowImplBase::MessageHandler(uMsg, wParam, lParam, bHandled);
}

}  // namespace SkinUI
