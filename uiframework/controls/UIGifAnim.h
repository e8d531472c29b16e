// The animated GIF: a multi-frame image decoded by GDI+, its frames advanced on
// a control timer with the delays the image stores.
#pragma once

#include <memory>

#include "UIControl.h"

struct IStream;

namespace SkinUI {

class CGifAnimUI : public CControlUI {
public:
    CGifAnimUI();
    ~CGifAnimUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void DoInit() override;
    void DoEvent(UIEvent& event) override;
    bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    void SetVisible(bool bVisible = true) override;

    void SetBkImage(LPCWSTR pStrImage);
    LPCWSTR GetBkImage() const { return m_sBkImage; }
    void PlayGif();
    void StopGif();

    bool IsLoaded() const { return m_pImage != nullptr; }
    UINT GetFrameCount() const { return m_nFrameCount; }
    UINT GetCurrentFrame() const { return m_nFramePosition; }
    bool IsPlaying() const { return m_bIsPlaying; }
    // How long frame `index` stays, in milliseconds (100 where the image says 0 or nothing).
    UINT GetFrameDelay(UINT index) const;

    static const UINT kAnimTimerId = 100;

private:
    void LoadGif();
    void UnloadGif();
    bool ReadImageBytes(std::unique_ptr<unsigned char[]>& data, size_t& size) const;
    void StartFrameTimer();

    void* m_pImage = nullptr;   // GDI+ image
    IStream* m_pStream = nullptr;   // the image's source, read by GDI+ for each frame
    UINT m_nFrameCount = 0;
    UINT m_nFramePosition = 0;
    std::unique_ptr<unsigned char[]> m_pPropertyItem;   // PropertyTagFrameDelay, copied
    UINT m_nDelayCount = 0;   // delays the property really holds
    CUIString m_sBkImage;
    bool m_bIsAutoPlay = true;
    bool m_bIsAutoSize = false;
    bool m_bIsPlaying = false;
};

}  // namespace SkinUI
