// The progress bar: value, range and the foreground part it shows.
#include "UIProgress.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

CProgressUI::CProgressUI()
{
    m_uTextStyle = DT_CENTER | DT_SINGLELINE;
    SetFixedHeight(12);
}

LPCWSTR CProgressUI::GetClass() const { return L"Progress"; }

void* CProgressUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"Progress") == 0) return this;
    return CLabelUI::GetInterface(pstrName);
}

void CProgressUI::SetValue(int value)
{
    m_nValue = value > m_nMax ? m_nMax : value;
    if (m_nValue < m_nMin) m_nValue = m_nMin;
    Invalidate();
}

void CProgressUI::SetForeImage(LPCWSTR image)
{
    if (m_diProgressFore.sDrawString.Equals(image ? image : L"") && m_diProgressFore.pImageInfo) return;
    m_diProgressFore.Clear();
    m_diProgressFore.sDrawString = image;
    Invalidate();
}

void CProgressUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    auto is = [pstrName](LPCWSTR n) { return std::wcscmp(pstrName, n) == 0; };
    auto number = [pstrValue] { return static_cast<int>(std::wcstol(pstrValue, nullptr, 10)); };
    if (is(L"foreimage")) {
        SetForeImage(pstrValue);
    } else if (is(L"hor")) {
        const bool horizontal = IsTrue(pstrValue);
        if (horizontal == m_bHorizontal) return;
        m_bHorizontal = horizontal;
        Invalidate();
    } else if (is(L"min")) {
        m_nMin = number();
        Invalidate();
    } else if (is(L"max")) {
        m_nMax = number();
        Invalidate();
    } else if (is(L"value")) {
        SetValue(number());
    } else {
        CLabelUI::SetAttribute(pstrName, pstrValue);
    }
}

RECT CProgressUI::GetForeRect() const
{
    // 64 bits: a range of millions times a size of thousands passes 2^31.
    const int64_t span = static_cast<int64_t>(m_nMax) - m_nMin;
    const int64_t done = static_cast<int64_t>(m_nValue) - m_nMin;
    const int64_t w = m_rcItem.right - m_rcItem.left;
    const int64_t h = m_rcItem.bottom - m_rcItem.top;
    if (m_bHorizontal) return RECT{0, 0, static_cast<LONG>(w * done / span), static_cast<LONG>(h)};
    const int64_t left = static_cast<int64_t>(m_nMax) - m_nValue;
    return RECT{0, static_cast<LONG>(left * h / span), static_cast<LONG>(w), static_cast<LONG>(h)};
}

void CProgressUI::PaintStatusImage(HDC hDC)
{
    if (m_nMax <= m_nMin) {
        if (m_nMin == INT_MAX) m_nMin = INT_MAX - 1;
        m_nMax = m_nMin + 1;
    }
    if (m_nValue > m_nMax) m_nValue = m_nMax;
    if (m_nValue < m_nMin) m_nValue = m_nMin;
    if (m_diProgressFore.sDrawString.IsEmpty()) return;
    if (!CDrawHelper::LoadDrawInfo(m_pManager, m_diProgressFore)) return;
    m_diProgressFore.rcDest = GetForeRect();
    DrawImage(hDC, m_diProgressFore);
}

}  // namespace SkinUI
