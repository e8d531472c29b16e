// The drop shadow window: the parent's messages it follows, and its picture,
// computed from the parent's region or drawn from a nine-part image.
#include "UIShadow.h"

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "UIRender.h"

namespace SkinUI {

namespace {

typedef BOOL(WINAPI* UpdateLayeredWindowFn)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);

UpdateLayeredWindowFn g_updateLayeredWindow = nullptr;
HINSTANCE g_instance = nullptr;
std::vector<std::pair<HWND, CWndShadow*>> g_shadows;   // UI thread only

CWndShadow* FindShadow(HWND parent)
{
    for (const auto& p : g_shadows) {
        if (p.first == parent) return p.second;
    }
    return nullptr;
}

UINT32 Premultiplied(COLORREF color, int alpha)
{
    const UINT32 r = GetRValue(color) * alpha / 255;
    const UINT32 g = GetGValue(color) * alpha / 255;
    const UINT32 b = GetBValue(color) * alpha / 255;
    return static_cast<UINT32>(alpha) << 24 | r << 16 | g << 8 | b;
}

struct Span {
    int start;
    int end;   // one behind
    bool Empty() const { return start >= end; }
};

}  // namespace

CWndShadow::~CWndShadow()
{
    if (m_hWnd) ::PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
    if (m_pImageInfo) CDrawHelper::FreeImage(m_pImageInfo);
    // A parent that outlives us must not reach a freed shadow.
    if (m_hParent && ::GetWindowLongPtrW(m_hParent, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(ParentProc)) {
        ::SetWindowLongPtrW(m_hParent, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_OriParentProc));
    }
    for (auto it = g_shadows.begin(); it != g_shadows.end(); ++it) {
        if (it->second == this) {
            g_shadows.erase(it);
            break;
        }
    }
}

bool CWndShadow::Initialize(HINSTANCE hInstance)
{
    if (g_updateLayeredWindow) return false;
    HMODULE user = ::GetModuleHandleW(L"USER32.DLL");
    if (!user) return false;
    g_updateLayeredWindow = reinterpret_cast<UpdateLayeredWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(user, "UpdateLayeredWindow")));
    if (!g_updateLayeredWindow) return false;
    g_instance = hInstance;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = ShadowWndProc;
    wc.hInstance = hInstance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"SkinShadowWnd";
    ::RegisterClassExW(&wc);
    return true;
}

void CWndShadow::Create(HWND hParentWnd)
{
    if (!g_updateLayeredWindow || !hParentWnd) return;
    g_shadows.emplace_back(hParentWnd, this);
    m_hParent = hParentWnd;
    m_hWnd = ::CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT, L"SkinShadowWnd", nullptr, WS_POPUPWINDOW,
                               CW_USEDEFAULT, 0, 0, 0, hParentWnd, nullptr, g_instance, nullptr);
    const LONG style = ::GetWindowLongW(hParentWnd, GWL_STYLE);
    if (!(style & WS_VISIBLE)) {
        m_Status = kEnabled;
    } else if (style & (WS_MAXIMIZE | WS_MINIMIZE)) {
        m_Status = kEnabled | kParentVisible;
    } else {
        m_Status = kEnabled | kShown | kParentVisible;
        ::ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
        Update(hParentWnd);
    }
    m_OriParentProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hParentWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ParentProc)));
}

LRESULT CALLBACK CWndShadow::ShadowWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_MOUSEACTIVATE) return MA_NOACTIVATE;
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

POINT CWndShadow::ShadowOrigin(const RECT& parent) const
{
    if (m_pImageInfo) return POINT{parent.left - m_rcExtent[0], parent.top - m_rcExtent[1]};
    return POINT{parent.left + m_nxOffset - m_nSize, parent.top + m_nyOffset - m_nSize};
}

void CWndShadow::Show()
{
    ::ShowWindow(m_hWnd, SW_SHOWNOACTIVATE);
    m_Status |= kShown;
}

LRESULT CALLBACK CWndShadow::ParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CWndShadow* self = FindShadow(hWnd);
    if (!self) return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    const WNDPROC original = self->m_OriParentProc;
    switch (uMsg) {
    case WM_DESTROY:
        if (self->m_hWnd) {
            ::DestroyWindow(self->m_hWnd);
            self->m_hWnd = nullptr;
        }
        break;
    case WM_MOVE:
        if (self->m_Status & kShown) {
            RECT rc;
            ::GetWindowRect(hWnd, &rc);
            const POINT at = self->ShadowOrigin(rc);
            ::SetWindowPos(self->m_hWnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        break;
    case WM_SIZE:
        if (self->m_Status & kEnabled) {
            if (wParam == SIZE_MAXIMIZED || wParam == SIZE_MINIMIZED) {
                ::ShowWindow(self->m_hWnd, SW_HIDE);
                self->m_Status &= ~kShown;
            } else if (self->m_Status & kParentVisible) {
                // Growing: the picture is made once at the next paint, not per message.
                if (LOWORD(lParam) > LOWORD(self->m_WndSize) || HIWORD(lParam) > HIWORD(self->m_WndSize)) {
                    self->m_bUpdate = true;
                } else {
                    self->Update(hWnd);
                }
                if (!(self->m_Status & kShown)) self->Show();
            }
            self->m_WndSize = lParam;
        }
        break;
    case WM_ACTIVATE:
    case WM_EXITSIZEMOVE:
        if (self->m_Status & kShown) self->Update(hWnd);
        break;
    case WM_PAINT:
        if (self->m_bUpdate) {
            self->Update(hWnd);
            self->m_bUpdate = false;
        }
        break;
    case WM_SHOWWINDOW:
        if (self->m_Status & kEnabled) {
            if (!wParam) {
                ::ShowWindow(self->m_hWnd, SW_HIDE);
                self->m_Status &= ~(kShown | kParentVisible);
            } else if (!(self->m_Status & kParentVisible)) {
                self->m_bUpdate = true;
                self->Show();
                self->m_Status |= kParentVisible;
            }
        }
        break;
    case WM_NCDESTROY:
        for (auto it = g_shadows.begin(); it != g_shadows.end(); ++it) {
            if (it->first == hWnd) {
                g_shadows.erase(it);
                break;
            }
        }
        self->m_hParent = nullptr;
        break;
    default:
        break;
    }
    return ::CallWindowProcW(original, hWnd, uMsg, wParam, lParam);
}

void CWndShadow::Update(HWND hParent)
{
    if (!m_hWnd || !g_updateLayeredWindow) return;
    RECT rc;
    ::GetWindowRect(hParent, &rc);
    const int parentW = rc.right - rc.left;
    const int parentH = rc.bottom - rc.top;
    int w = 0;
    int h = 0;
    if (m_pImageInfo) {
        w = parentW + m_rcExtent[0] + m_rcExtent[2];
        h = parentH + m_rcExtent[1] + m_rcExtent[3];
    } else {
        w = parentW + 2 * m_nSize;
        h = parentH + 2 * m_nSize;
    }
    if (w <= 0 || h <= 0) return;
    HDC screen = ::GetDC(nullptr);
    BYTE* bits = nullptr;
    UniqueBitmap picture(CDrawHelper::CreateBitmapInfo(screen, w, h, &bits));
    UniqueMemoryDc dc(::CreateCompatibleDC(screen));
    ::ReleaseDC(nullptr, screen);
    if (!picture || !dc || !bits) return;
    std::memset(bits, 0, static_cast<size_t>(w) * h * 4);
    const HGDIOBJ old = ::SelectObject(dc.Get(), picture.Get());
    if (m_pImageInfo) {
        const RECT whole = {0, 0, w, h};
        const RECT source = {0, 0, m_pImageInfo->nX, m_pImageInfo->nY};
        const RECT corner = {m_rcCorner[0] + m_rcExtent[0], m_rcCorner[1] + m_rcExtent[1],
                             m_rcCorner[2] + m_rcExtent[2], m_rcCorner[3] + m_rcExtent[3]};
        CDrawHelper::DrawImage(dc.Get(), m_pImageInfo->hBitmap, whole, whole, source, corner, true, 255, true);
    } else {
        UniqueRegion region(::CreateRectRgn(0, 0, 0, 0));
        const bool hasRegion = region && ::GetWindowRgn(hParent, region.Get()) != ERROR;
        ::GdiFlush();
        MakeShadow(reinterpret_cast<UINT32*>(bits), w, h, hasRegion ? region.Get() : nullptr, parentW, parentH,
                   m_nSize, m_nSharpness, m_nDarkness, m_nxOffset, m_nyOffset, m_Color);
    }
    const POINT at = ShadowOrigin(rc);
    POINT dest = at;
    POINT src = {0, 0};
    SIZE size = {w, h};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    ::MoveWindow(m_hWnd, at.x, at.y, w, h, FALSE);
    g_updateLayeredWindow(m_hWnd, nullptr, &dest, &size, dc.Get(), &src, 0, &blend, ULW_ALPHA);
    ::SelectObject(dc.Get(), old);
}

void CWndShadow::MakeShadow(UINT32* pixels, int pw, int ph, HRGN parentRegion, int parentW, int parentH, int s,
                            int p, int d, int offsetX, int offsetY, COLORREF color)
{
    if (!pixels || pw <= 0 || ph <= 0 || !parentRegion || parentW <= 0 || parentH <= 0) return;
    // Every write goes through here: a negative size, or an offset that puts
    // the hole beside the picture, must not reach past its pixels.
    auto at = [&](int x, int y) -> UINT32* {
        if (x < 0 || y < 0 || x >= pw || y >= ph) return nullptr;
        return pixels + static_cast<size_t>(ph - 1 - y) * pw + x;   // bottom-up rows
    };
    // The spans of the parent's rows, and the shadow's spans in picture rows.
    std::vector<Span> own(static_cast<size_t>(parentH), Span{0, 0});
    std::vector<Span> spans(static_cast<size_t>(ph), Span{pw, 0});
    for (int y = 0; y < parentH; ++y) {
        int first = -1;
        int last = -1;
        for (int x = 0; x < parentW; ++x) {
            if (::PtInRegion(parentRegion, x, y)) {
                if (first < 0) first = x;
                last = x;
            }
        }
        if (first < 0) continue;
        own[static_cast<size_t>(y)] = Span{first, last + 1};
        const int py = y + s;
        if (py >= 0 && py < ph) spans[static_cast<size_t>(py)] = Span{first + s, last + 1 + s};
    }
    auto spanAt = [&](const std::vector<Span>& v, int y) {
        return (y < 0 || y >= static_cast<int>(v.size())) ? Span{pw, 0} : v[static_cast<size_t>(y)];
    };
    for (int round = 0; round < p - s; ++round) {
        std::vector<Span> next(spans.size());
        for (int y = 0; y < ph; ++y) {
            const Span a = spanAt(spans, y - 1), b = spanAt(spans, y), c = spanAt(spans, y + 1);
            int start = a.start > b.start ? a.start : b.start;
            if (c.start > start) start = c.start;
            int end = a.end < b.end ? a.end : b.end;
            if (c.end < end) end = c.end;
            next[static_cast<size_t>(y)] = Span{start + 1, end - 1};
        }
        spans.swap(next);
    }
    // The kernel.
    const int r = s > p ? s : p;
    const int hard = s - p > 0 ? s - p : 0;
    const int side = 2 * r + 1;
    std::vector<UINT32> kernel(static_cast<size_t>(side) * side, 0);
    for (int ky = -r; ky <= r; ++ky) {
        for (int kx = -r; kx <= r; ++kx) {
            const double dist = std::sqrt(static_cast<double>(kx * kx + ky * ky));
            int alpha = 0;
            if (dist < hard) alpha = d;
            else if (dist <= r) alpha = static_cast<int>(d * (1.0 - (dist - hard) / (p + 1)));
            if (alpha < 0) alpha = 0;
            kernel[static_cast<size_t>(ky + r) * side + (kx + r)] = Premultiplied(color, alpha);
        }
    }
    auto stamp = [&](int cx, int cy) {
        for (int ky = -r; ky <= r; ++ky) {
            for (int kx = -r; kx <= r; ++kx) {
                UINT32* px = at(cx + kx, cy + ky);
                if (!px) continue;
                const UINT32 v = kernel[static_cast<size_t>(ky + r) * side + (kx + r)];
                if (v > *px) *px = v;
            }
        }
    };
    const UINT32 body = Premultiplied(color, d);
    for (int y = 0; y < ph; ++y) {
        const Span cur = spans[static_cast<size_t>(y)];
        if (cur.Empty()) continue;
        const Span up = spanAt(spans, y - 1), down = spanAt(spans, y + 1);
        int lo = cur.start, hi = cur.start;
        for (const Span& n : {up, down}) {
            if (n.Empty()) continue;
            if (n.start < lo) lo = n.start;
            if (n.start > hi) hi = n.start;
        }
        for (int x = lo; x <= hi; ++x) stamp(x, y);
        lo = hi = cur.end - 1;
        for (const Span& n : {up, down}) {
            if (n.Empty()) continue;
            if (n.end - 1 < lo) lo = n.end - 1;
            if (n.end - 1 > hi) hi = n.end - 1;
        }
        for (int x = lo; x <= hi; ++x) stamp(x, y);
        for (int x = cur.start; x < cur.end; ++x) {
            if (UINT32* px = at(x, y)) *px = body;
        }
    }
    // The hole under the parent itself.
    for (int y = 0; y < parentH; ++y) {
        const Span o = own[static_cast<size_t>(y)];
        if (o.Empty()) continue;
        const int py = y + s - offsetY;
        for (int x = o.start + s - offsetX; x < o.end + s - offsetX; ++x) {
            if (UINT32* px = at(x, py)) *px = 0;
        }
    }
}

void CWndShadow::UpdateIfShown()
{
    if ((m_Status & kShown) && m_hParent) Update(m_hParent);
}

bool CWndShadow::SetSize(int size)
{
    if (size > 20 || size < -20) return false;
    m_nSize = static_cast<signed char>(size);
    UpdateIfShown();
    return true;
}

bool CWndShadow::SetSharpness(unsigned int sharpness)
{
    if (sharpness > 20) return false;
    m_nSharpness = static_cast<BYTE>(sharpness);
    UpdateIfShown();
    return true;
}

bool CWndShadow::SetDarkness(unsigned int darkness)
{
    if (darkness > 255) return false;
    m_nDarkness = static_cast<BYTE>(darkness);
    UpdateIfShown();
    return true;
}

bool CWndShadow::SetPosition(int x, int y)
{
    if (x > 20 || x < -20 || y > 20 || y < -20) return false;
    m_nxOffset = static_cast<signed char>(x);
    m_nyOffset = static_cast<signed char>(y);
    UpdateIfShown();
    return true;
}

bool CWndShadow::SetColor(COLORREF color)
{
    m_Color = color;
    UpdateIfShown();
    return true;
}

bool CWndShadow::SetImage(LPCWSTR image, int extentLeft, int extentTop, int extentRight, int extentBottom,
                          int cornerLeft, int cornerTop, int cornerRight, int cornerBottom)
{
    UIImageInfo* loaded = CDrawHelper::LoadImage(CUIStringOrId(image));
    if (!loaded) return false;
    if (m_pImageInfo) CDrawHelper::FreeImage(m_pImageInfo);
    m_pImageInfo = loaded;
    const int extents[4] = {extentLeft, extentTop, extentRight, extentBottom};
    const int corners[4] = {cornerLeft, cornerTop, cornerRight, cornerBottom};
    std::memcpy(m_rcExtent, extents, sizeof(extents));
    std::memcpy(m_rcCorner, corners, sizeof(corners));
    UpdateIfShown();
    return true;
}

}  // namespace SkinUI
