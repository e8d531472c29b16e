// The text with links: painting that records the link rectangles, and the
// mouse handling over them.
#include "UIText.h"

#include <cwchar>

#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

CTextUI::CTextUI()
{
    m_uTextStyle = DT_WORDBREAK;
    m_rcTextPadding = RECT{2, 0, 2, 0};
}

LPCWSTR CTextUI::GetClass() const { return L"Text"; }

void* CTextUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"Text") == 0) return this;
    return CLabelUI::GetInterface(pstrName);
}

UINT CTextUI::GetControlFlags() const { return IsEnabled() && m_nLinks > 0 ? UIFLAG_SETCURSOR : 0; }

RECT CTextUI::GetLinkRect(int index) const
{
    if (index < 0 || index >= m_nLinks) return RECT{0, 0, 0, 0};
    return m_rcLinks[index];
}

const CUIString* CTextUI::GetLinkText(int index) const
{
    if (index < 0 || index >= m_nLinks) return nullptr;
    return &m_sLinks[index];
}

int CTextUI::LinkAt(POINT pt) const
{
    for (int i = 0; i < m_nLinks; ++i) {
        if (::PtInRect(&m_rcLinks[i], pt)) return i;
    }
    return -1;
}

void CTextUI::DoEvent(UIEvent& event)
{
    if (!IsMouseEnabled() && IsMouseEventType(event.Type)) {
        if (m_pParent) m_pParent->DoEvent(event);
        else CLabelUI::DoEvent(event);
        return;
    }
    const int link = LinkAt(event.ptMouse);
    switch (event.Type) {
    case UIEventSetCursor:
        if (link >= 0) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return;
        }
        break;
    case UIEventButtonDown:
    case UIEventDoubleClick:
        if (link >= 0 && IsEnabled()) {
            Invalidate();
            return;
        }
        break;
    case UIEventButtonUp:
        if (link >= 0 && IsEnabled()) {
            if (m_pManager) m_pManager->SendNotify(this, L"link", static_cast<WPARAM>(link), 0);
            return;
        }
        break;
    case UIEventContextMenu:
        return;
    case UIEventMouseMove:
        if (IsEnabled() && m_nLinks > 0) {
            if (link != m_nHoverLink) {
                m_nHoverLink = link;
                Invalidate();
            }
            return;
        }
        break;
    case UIEventMouseLeave:
        if (IsEnabled() && m_nLinks > 0 && m_nHoverLink >= 0) {
            if (m_nHoverLink < m_nLinks && ::PtInRect(&m_rcLinks[m_nHoverLink], event.ptMouse)) {
                if (m_pManager) m_pManager->AddMouseLeavePending(this);
                return;
            }
            m_nHoverLink = -1;
            Invalidate();
            if (m_pManager) m_pManager->RemoveMouseLeavePending(this);
        }
        break;
    default:
        break;
    }
    CLabelUI::DoEvent(event);
}

void CTextUI::PaintText(HDC hDC)
{
    if (m_sText.IsEmpty()) {
        m_nLinks = 0;
        return;
    }
    TakeDefaultColors();
    RECT rc = GetTextRect();
    const DWORD color = IsEnabled() ? m_dwTextColor : m_dwDisabledTextColor;
    if (m_bShowHtml) {
        int links = kMaxLinks;
        CDrawHelper::DrawHtmlText(hDC, m_pManager, rc, m_sText, color, m_rcLinks, m_sLinks, links, m_iFont,
                                  m_uTextStyle);
        m_nLinks = links < 0 ? 0 : (links > kMaxLinks ? kMaxLinks : links);
    } else {
        CDrawHelper::DrawText(hDC, m_pManager, rc, m_sText, color, m_iFont, m_uTextStyle);
        m_nLinks = 0;
    }
}

}  // namespace SkinUI
