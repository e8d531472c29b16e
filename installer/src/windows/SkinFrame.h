#pragma once
// The common base of the installer's windows: one small record names the skin and
// the layout, the system caption goes, Escape is swallowed, and the drop shadow the
// layout asks for ("showshadow" and its companions) is made.
#include "UIBase.h"
#include "UIShadow.h"

namespace SkinUI {

struct SkinFrameRecord {
    int resourceType = WindowImplBase::UILIB_ZIPRESOURCE;
    int resourceId = 0;
    CUIString skinFolder;
    CUIString layoutFile;
    CUIString windowClass;
};

// The record of an installer window: the skin archive in resource "ZIPRES" 147 and
// the window class named after the layout ("MainWnd.xml" -> "MainWnd").
SkinFrameRecord InstallerFrameRecord(LPCWSTR layoutFile);

// The shadow attributes of a layout's window, read once; a value is applied only
// when its attribute is present.
struct ShadowSettings {
    bool enabled = false;          // "showshadow" is "true", in any case
    bool hasImage = false;
    CUIString image;               // "shadowimage"
    int corner[4] = {0, 0, 0, 0};  // "shadowcorner": left, top, right, bottom
    bool hasSize = false;
    int size = 0;
    bool hasSharpness = false;
    int sharpness = 0;
    bool hasDarkness = false;
    int darkness = 0;
    bool hasPosition = false;
    int position[2] = {0, 0};
    bool hasColor = false;
    DWORD color = 0;
};
ShadowSettings ReadShadowSettings(const CWindowManagerUI& manager);

class CSkinFrame : public WindowImplBase {
public:
    explicit CSkinFrame(const SkinFrameRecord& record);
    ~CSkinFrame() override;

    LPCWSTR GetWindowClassName() const override;
    void InitWindow() override;
    CUIString GetSkinFolder() override;
    CUIString GetSkinFile() override;
    int GetResourceType() const override;
    LPCWSTR GetResourceId() const override;
    LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;

    // The shadow window, null when the layout asks for none.
    HWND GetShadowHWND() const { return m_shadow.GetHWND(); }
    bool HasShadow() const { return m_shadowMade; }

private:
    int m_resourceType;
    int m_resourceId;
    CUIString m_skinFolder;
    CUIString m_layoutFile;
    CUIString m_windowClass;
    CWndShadow m_shadow;
    bool m_shadowMade = false;
};

}  // namespace SkinUI
