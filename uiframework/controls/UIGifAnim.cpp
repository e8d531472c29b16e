// The animated GIF: loading through GDI+'s flat API, frame timing, painting.
#include "UIGifAnim.h"

#include <objidl.h>

#include <cstring>
#include <cwchar>

#include <gdiplus.h>

#include "SkinFile.h"
#include "UIGdiplus.h"
#include "UIManager.h"

namespace SkinUI {

namespace {

using namespace Gdiplus;
using Gdiplus::DllExports::GdipCreateFromHDC;
using Gdiplus::DllExports::GdipDeleteGraphics;
using Gdiplus::DllExports::GdipDisposeImage;
using Gdiplus::DllExports::GdipDrawImageRectI;
using Gdiplus::DllExports::GdipGetImageHeight;
using Gdiplus::DllExports::GdipGetImageWidth;
using Gdiplus::DllExports::GdipGetPropertyItem;
using Gdiplus::DllExports::GdipGetPropertyItemSize;
using Gdiplus::DllExports::GdipImageGetFrameCount;
using Gdiplus::DllExports::GdipImageGetFrameDimensionsCount;
using Gdiplus::DllExports::GdipImageGetFrameDimensionsList;
using Gdiplus::DllExports::GdipImageSelectActiveFrame;
using Gdiplus::DllExports::GdipLoadImageFromStream;

// Defined here rather than taken from a static import library.
const GUID kFrameDimensionTime = {0x6aedbd6d, 0x3fb5, 0x418a, {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};
const PROPID kPropertyTagFrameDelay = 0x5100;
const UINT kDefaultDelayMs = 100;
// An animation larger than this is not a skin picture.
const size_t kMaxGifBytes = 64u << 20;

GpImage* AsImage(void* p) { return static_cast<GpImage*>(p); }

}  // namespace

CGifAnimUI::CGifAnimUI() = default;

CGifAnimUI::~CGifAnimUI()
{
    if (m_pManager) m_pManager->KillTimer(this, kAnimTimerId);
    UnloadGif();
}

LPCWSTR CGifAnimUI::GetClass() const { return L"GifAnim"; }

void* CGifAnimUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"GifAnim") == 0) return this;
    return CControlUI::GetInterface(pstrName);
}

void CGifAnimUI::DoInit() { LoadGif(); }

UINT CGifAnimUI::GetFrameDelay(UINT index) const
{
    // The property may hold fewer delays than there are frames, or none at all.
    if (!m_pPropertyItem || index >= m_nDelayCount) return kDefaultDelayMs;
    const PropertyItem* item = reinterpret_cast<const PropertyItem*>(m_pPropertyItem.get());
    UINT hundredths = 0;
    std::memcpy(&hundredths, static_cast<const unsigned char*>(item->value) + index * 4u, 4);
    return hundredths == 0 ? kDefaultDelayMs : hundredths * 10;
}

void CGifAnimUI::StartFrameTimer()
{
    if (m_pManager) m_pManager->SetTimer(this, kAnimTimerId, GetFrameDelay(m_nFramePosition));
}

void CGifAnimUI::DoEvent(UIEvent& event)
{
    if (event.Type != UIEventTimer || event.wParam != kAnimTimerId) return;
    if (m_pManager) m_pManager->KillTimer(this, kAnimTimerId);
    Invalidate();
    if (m_nFrameCount == 0) return;
    m_nFramePosition = (m_nFramePosition + 1) % m_nFrameCount;
    StartFrameTimer();
}

bool CGifAnimUI::DoPaint(HDC hDC, const RECT&, CControlUI*)
{
    if (!m_pImage) LoadGif();
    if (!hDC || !m_pImage) return true;
    GpGraphics* graphics = nullptr;
    if (GdipCreateFromHDC(hDC, &graphics) != Ok) return true;
    // The frame is chosen before drawing, so what is drawn is the current frame.
    if (m_nFrameCount > 1) GdipImageSelectActiveFrame(AsImage(m_pImage), &kFrameDimensionTime, m_nFramePosition);
    GdipDrawImageRectI(graphics, AsImage(m_pImage), m_rcItem.left, m_rcItem.top, m_rcItem.right - m_rcItem.left,
                       m_rcItem.bottom - m_rcItem.top);
    GdipDeleteGraphics(graphics);
    return true;
}

void CGifAnimUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (std::wcscmp(pstrName, L"bkimage") == 0) SetBkImage(pstrValue);
    else if (std::wcscmp(pstrName, L"autoplay") == 0) m_bIsAutoPlay = IsTrue(pstrValue);
    else if (std::wcscmp(pstrName, L"autosize") == 0) m_bIsAutoSize = IsTrue(pstrValue);
    else CControlUI::SetAttribute(pstrName, pstrValue);
}

void CGifAnimUI::SetVisible(bool bVisible)
{
    CControlUI::SetVisible(bVisible);
    if (bVisible) PlayGif();
    else StopGif();
}

void CGifAnimUI::SetBkImage(LPCWSTR pStrImage)
{
    if (!pStrImage || m_sBkImage.Equals(pStrImage)) return;
    m_sBkImage = pStrImage;
    StopGif();
    UnloadGif();
    Invalidate();
}

void CGifAnimUI::PlayGif()
{
    // A still image (one frame) has nothing to animate.
    if (m_bIsPlaying || !m_pImage || m_nFrameCount < 2) return;
    StartFrameTimer();
    m_bIsPlaying = true;
}

void CGifAnimUI::StopGif()
{
    if (!m_bIsPlaying) return;
    if (m_pManager) m_pManager->KillTimer(this, kAnimTimerId);
    m_nFramePosition = 0;
    Invalidate();
    m_bIsPlaying = false;
}

bool CGifAnimUI::ReadImageBytes(std::unique_ptr<unsigned char[]>& data, size_t& size) const
{
    SkinFileBytes bytes;
    LPCWSTR error = nullptr;
    if (!ReadSkinFile(GetSkinSource(), m_sBkImage, kMaxGifBytes, bytes, error)) {
        // Not a skin file: the name may be a path of its own.
        SkinSource plain;
        if (!ReadSkinFile(plain, m_sBkImage, kMaxGifBytes, bytes, error)) return false;
    }
    data = std::move(bytes.data);
    size = bytes.size;
    return size > 0;
}

void CGifAnimUI::LoadGif()
{
    if (m_pImage || m_sBkImage.IsEmpty() || !CUIGdiplus::Start()) return;
    std::unique_ptr<unsigned char[]> data;
    size_t size = 0;
    if (!ReadImageBytes(data, size)) return;
    HGLOBAL block = ::GlobalAlloc(GMEM_FIXED, size);
    if (!block) return;
    std::memcpy(block, data.get(), size);
    IStream* stream = nullptr;
    if (FAILED(::CreateStreamOnHGlobal(block, TRUE, &stream))) {
        ::GlobalFree(block);
        return;
    }
    GpImage* image = nullptr;
    if (GdipLoadImageFromStream(stream, &image) != Ok || !image) {
        stream->Release();
        return;
    }
    m_pImage = image;
    m_pStream = stream;

    UINT dimensions = 0;
    if (GdipImageGetFrameDimensionsCount(image, &dimensions) == Ok && dimensions > 0) {
        std::unique_ptr<GUID[]> ids(new GUID[dimensions]);
        UINT frames = 0;
        if (GdipImageGetFrameDimensionsList(image, ids.get(), dimensions) == Ok &&
            GdipImageGetFrameCount(image, &ids[0], &frames) == Ok) {
            m_nFrameCount = frames;
        }
    }
    UINT bytes = 0;
    if (GdipGetPropertyItemSize(image, kPropertyTagFrameDelay, &bytes) == Ok && bytes >= sizeof(PropertyItem)) {
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[bytes]);
        PropertyItem* item = reinterpret_cast<PropertyItem*>(buffer.get());
        if (GdipGetPropertyItem(image, kPropertyTagFrameDelay, bytes, item) == Ok && item->value) {
            // Only the delays that lie inside the copied buffer count.
            const unsigned char* first = static_cast<const unsigned char*>(item->value);
            const unsigned char* end = buffer.get() + bytes;
            if (first >= buffer.get() && first <= end) {
                const size_t room = static_cast<size_t>(end - first);
                const size_t held = item->length < room ? item->length : room;
                m_nDelayCount = static_cast<UINT>(held / 4);
                m_pPropertyItem = std::move(buffer);
            }
        }
    }
    if (m_bIsAutoSize) {
        UINT w = 0;
        UINT h = 0;
        GdipGetImageWidth(image, &w);
        GdipGetImageHeight(image, &h);
        SetFixedWidth(static_cast<int>(w));
        SetFixedHeight(static_cast<int>(h));
    }
    if (m_bIsAutoPlay) PlayGif();
}

void CGifAnimUI::UnloadGif()
{
    if (m_pImage) GdipDisposeImage(AsImage(m_pImage));
    m_pImage = nullptr;
    if (m_pStream) m_pStream->Release();
    m_pStream = nullptr;
    m_pPropertyItem.reset();
    m_nDelayCount = 0;
    m_nFrameCount = 0;
    m_nFramePosition = 0;
}

}  // namespace SkinUI
