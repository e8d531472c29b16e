// The text: a word-wrapping label whose formatted text may hold links; it keeps
// where the links were drawn last, shows the hand over them and sends "link".
#pragma once

#include "UILabel.h"

namespace SkinUI {

class CTextUI : public CLabelUI {
public:
    static constexpr int kMaxLinks = 8;

    CTextUI();

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    UINT GetControlFlags() const override;
    void DoEvent(UIEvent& event) override;
    void PaintText(HDC hDC) override;

    int GetLinkCount() const { return m_nLinks; }
    // The link's rectangle as drawn last; an empty one for an index out of range.
    RECT GetLinkRect(int index) const;
    const CUIString* GetLinkText(int index) const;
    int GetHotLink() const { return m_nHoverLink; }

private:
    // Index of the link under the point, -1 over none.
    int LinkAt(POINT pt) const;

    int m_nLinks = 0;
    RECT m_rcLinks[kMaxLinks] = {};
    CUIString m_sLinks[kMaxLinks];
    int m_nHoverLink = -1;
};

}  // namespace SkinUI
