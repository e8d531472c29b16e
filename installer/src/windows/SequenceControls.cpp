// The frame-sequence label and button: attributes, the tick that shows the next
// frame, the button's offset text and its channel copy.
#include "SequenceControls.h"

#include <windows.h>

#include <objidl.h>   // needed by the GDI+ headers
#include <gdiplus.h>

#include <cwchar>
#include <cwctype>
#include <string>

#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

namespace {

bool IsFalse(LPCWSTR value) { return value && std::wcscmp(value, L"false") == 0; }

bool Is(LPCWSTR name, LPCWSTR wanted) { return _wcsicmp(name, wanted) == 0; }

int ToInt(LPCWSTR value) { return value ? static_cast<int>(std::wcstol(value, nullptr, 10)) : 0; }

// Digits of a width or a precision, at most `limit`; false when there are more.
bool TakeNumber(const wchar_t*& p, int limit, std::wstring& out)
{
    int value = 0;
    while (std::iswdigit(*p)) {
        value = value * 10 + (*p - L'0');
        if (value > limit) return false;
        out += *p++;
    }
    return true;
}

// One conversion at `p` (just past its "%"): its flags, width and precision as a
// format of our own making, and `p` moved past it. False when it is not an integer
// conversion we take.
bool TakeIntegerConversion(const wchar_t*& p, std::wstring& spec)
{
    const int kMaxField = 64;   // keeps the formatted number well inside the name's room
    const wchar_t* q = p;
    std::wstring flags, width, precision;
    while (*q && std::wcschr(L"-+ 0#", *q)) {
        if (flags.find(*q) == std::wstring::npos) flags += *q;
        ++q;
    }
    if (!TakeNumber(q, kMaxField, width)) return false;
    if (*q == L'.') {
        ++q;
        if (!TakeNumber(q, kMaxField, precision)) return false;
        precision.insert(0, 1, L'.');
    }
    // Length modifiers change nothing for an int argument; they are dropped.
    for (int i = 0; i < 2 && (*q == L'h' || *q == L'l'); ++i) ++q;
    const wchar_t conv = *q;
    if (!conv || !std::wcschr(L"diuxXo", conv)) return false;
    if (conv == L'd' || conv == L'i' || conv == L'u') {
        const size_t hash = flags.find(L'#');
        if (hash != std::wstring::npos) flags.erase(hash, 1);
    }
    spec = L"%" + flags + width + precision + conv;
    p = q + 1;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- animation state

SequenceAnimation::SequenceAnimation(int defaultSpan, bool defaultRound)
    : count(0), span(defaultSpan), current(0), autostart(false), loop(true), forward(true), round(defaultRound)
{
}

bool SequenceAnimation::SetAttribute(LPCWSTR name, LPCWSTR value)
{
    if (std::wcscmp(name, L"sequencebkimage") == 0) format = value;
    else if (Is(name, L"sequencecount")) count = ToInt(value);
    else if (Is(name, L"sequencespan")) span = ToInt(value);
    else if (Is(name, L"sequenceloop")) loop = !IsFalse(value);
    else if (Is(name, L"autostart")) autostart = !IsFalse(value);
    else if (Is(name, L"sequenceround")) round = !IsFalse(value);
    else return false;
    return true;
}

bool SequenceAnimation::Next(int& frame)
{
    // Playing back needs two frames to turn between; with fewer the sequence plays
    // forward only, so no frame number below 0 is ever asked for.
    const bool turns = round && count >= 2;
    if (forward && current > count - 1) {
        if (turns) {
            forward = false;
            current = count - 2;
        } else {
            current = 0;
            if (!loop) return false;
        }
    }
    if (!forward && (current <= 0 || !turns)) {
        forward = true;
        current = 0;
        if (!loop) return false;
    }
    frame = current;
    current += forward ? 1 : -1;
    return true;
}

void SequenceAnimation::Start(CControlUI& control, bool fromFirstFrame)
{
    if (fromFirstFrame) current = 0;
    if (CWindowManagerUI* manager = control.GetManager()) manager->SetTimer(&control, kTimerId, static_cast<UINT>(span));
}

void SequenceAnimation::Stop(CControlUI& control)
{
    if (CWindowManagerUI* manager = control.GetManager()) manager->KillTimer(&control, kTimerId);
}

void SequenceAnimation::Step(CControlUI& control, const UIEvent& event)
{
    if (event.Type != UIEventTimer || format.IsEmpty()) return;
    int frame = 0;
    if (!Next(frame)) {
        Stop(control);
        return;
    }
    control.SetBkImage(FormatFrameName(format, frame));
    control.Invalidate();
}

CUIString FormatFrameName(LPCWSTR pattern, int frame)
{
    std::wstring out;
    bool used = false;
    for (const wchar_t* p = pattern ? pattern : L""; *p;) {
        if (*p != L'%') {
            out += *p++;
            continue;
        }
        if (p[1] == L'%') {
            out += L'%';
            p += 2;
            continue;
        }
        const wchar_t* after = p + 1;
        std::wstring spec;
        if (!used && TakeIntegerConversion(after, spec)) {
            wchar_t number[160];
            const int n = std::swprintf(number, sizeof(number) / sizeof(number[0]), spec.c_str(), frame);
            if (n > 0) out.append(number, static_cast<size_t>(n));
            used = true;
            p = after;
            continue;
        }
        out += *p++;
    }
    if (out.size() > static_cast<size_t>(SequenceAnimation::kMaxFrameName))
        out.resize(SequenceAnimation::kMaxFrameName);
    return CUIString(out.c_str());
}

// ---------------------------------------------------------------- label

CSequenceLabelUI::CSequenceLabelUI() : CSequenceUI<CLabelUI>(30, false) {}

CSequenceLabelUI::~CSequenceLabelUI() { Stop(); }

LPCWSTR CSequenceLabelUI::GetClass() const { return L"SequenceLabel"; }

void* CSequenceLabelUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"SequenceLabel") == 0) return this;
    return CLabelUI::GetInterface(pstrName);
}

void CSequenceLabelUI::PaintStatusImage(HDC) {}

// ---------------------------------------------------------------- button

CSequenceButtonUI::CSequenceButtonUI() : CSequenceUI<CButtonUI>(60, true), m_rcTextOffset{0, 0, 0, 0} {}

LPCWSTR CSequenceButtonUI::GetClass() const { return L"SequenceButton"; }

void* CSequenceButtonUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"SequenceButton") == 0) return this;
    return CButtonUI::GetInterface(pstrName);
}

void CSequenceButtonUI::PaintText(HDC hDC)
{
    const RECT& off = m_rcTextOffset;
    const bool offset = off.left != 0 || off.top != 0 || off.right != 0 || off.bottom != 0;
    if (!(m_uButtonState & UISTATE_PUSHED) || !offset) {
        CButtonUI::PaintText(hDC);
        return;
    }
    TakeDefaultColors();
    if (m_sText.IsEmpty()) return;
    RECT rc = {m_rcItem.left + off.left, m_rcItem.top + off.top, m_rcItem.right - off.right,
               m_rcItem.bottom - off.bottom};
    DWORD color = IsEnabled() ? m_dwTextColor : m_dwDisabledTextColor;
    if (m_dwPushedTextColor != 0) color = m_dwPushedTextColor;
    CDrawHelper::DrawText(hDC, m_pManager, rc, m_sText, color, m_iFont, m_uTextStyle);
}

void CSequenceButtonUI::SetSecondImage(LPCWSTR image)
{
    m_sSecondImage = image;
    Invalidate();
}
CUIString CSequenceButtonUI::GetSecondImage() const { return m_sSecondImage; }
CUIString CSequenceButtonUI::GetThirdImage() const { return m_sThirdImage; }
void CSequenceButtonUI::SetThirdImage(LPCWSTR image)
{
    m_sThirdImage = image;
    Invalidate();
}
RECT CSequenceButtonUI::GetTextOffset() const { return m_rcTextOffset; }
void CSequenceButtonUI::SetTextOffset(RECT offset)
{
    m_rcTextOffset = offset;
    Invalidate();
}

bool CSequenceButtonUI::CopyChannel(Gdiplus::Bitmap* source, Gdiplus::Bitmap* dest, BYTE sourceChannel,
                                    BYTE destChannel)
{
    // A channel is one byte of a 4-byte pixel; any other index would reach past it.
    if (!source || !dest || sourceChannel > 3 || destChannel > 3) return false;
    const UINT width = source->GetWidth();
    const UINT height = source->GetHeight();
    if (width != dest->GetWidth() || height != dest->GetHeight()) return false;
    if (width == 0 || height == 0) return true;
    const Gdiplus::Rect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    Gdiplus::BitmapData from = {};
    Gdiplus::BitmapData to = {};
    if (source->LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &from) != Gdiplus::Ok) return false;
    if (dest->LockBits(&all, Gdiplus::ImageLockModeWrite | Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &to) !=
        Gdiplus::Ok) {
        source->UnlockBits(&from);
        return false;
    }
    for (UINT y = 0; y < height; ++y) {
        const BYTE* in = static_cast<const BYTE*>(from.Scan0) + static_cast<INT_PTR>(y) * from.Stride;
        BYTE* out = static_cast<BYTE*>(to.Scan0) + static_cast<INT_PTR>(y) * to.Stride;
        for (UINT x = 0; x < width; ++x) out[x * 4 + destChannel] = in[x * 4 + sourceChannel];
    }
    dest->UnlockBits(&to);
    source->UnlockBits(&from);
    return true;
}

// ---------------------------------------------------------------- factory

CControlUI* CreateSequenceControl(LPCWSTR pstrClass)
{
    if (!pstrClass) return nullptr;
    if (Is(pstrClass, L"SequenceButton")) return new CSequenceButtonUI;
    if (Is(pstrClass, L"SequenceLabel")) return new CSequenceLabelUI;
    return nullptr;
}

}  // namespace SkinUI
