// The rich edit: a windowless multi-line editor. The system's windowless text
// services draw into the control's area and take its window messages through the
// manager's message filter; their scroll requests move the container's bars.
#pragma once

#include "UIContainer.h"

namespace SkinUI {

class CTxtWinHost;

class CRichEditUI : public CContainerUI, public IMessageFilterUI {
public:
    CRichEditUI();
    ~CRichEditUI() override;

    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    UINT GetControlFlags() const override;
    CUIString GetText() const override;
    void SetText(LPCWSTR pstrText) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void Move(SIZE szOffset, bool bNeedInvalidate = true) override;
    void DoInit() override;
    void DoEvent(UIEvent& event) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;
    SIZE EstimateSize(SIZE szAvailable) override;
    bool DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl) override;
    void SetScrollPos(SIZE szPos) override;
    void LineUp() override;
    void LineDown() override;
    void PageUp() override;
    void PageDown() override;
    void HomeUp() override;
    void EndDown() override;
    void LineLeft() override;
    void LineRight() override;
    void PageLeft() override;
    void PageRight() override;
    void HomeLeft() override;
    void EndRight() override;

    // Forwards to the text services; 1 without them.
    virtual HRESULT TxSendMessage(UINT msg, WPARAM wparam, LPARAM lparam, LRESULT* plresult) const;
    virtual bool OnTxViewChanged();
    virtual void OnTxNotify(DWORD iNotify, void* pv);

    // IMessageFilterUI
    LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;

    void SetFont(int index);
    void SetTextColor(DWORD dwTextColor);
    void SetRich(bool bRich);
    void SetTransparent(bool bTransparent);
    bool IsWantTab() const { return m_bWantTab; }
    bool IsWantReturn() const { return m_bWantReturn; }
    bool IsReadOnly() const { return m_bReadOnly; }
    bool HasTextHost() const { return m_pTwh != nullptr; }
    LONG GetWinStyle() const { return m_lTwhStyle; }
    int GetFont() const { return m_iFont; }
    DWORD GetTextColor() const { return m_dwTextColor; }
    RECT GetTextPadding() const { return m_rcTextPadding; }
    // The rectangle the text services draw into.
    RECT GetTextClientRect() const;

    static const UINT kCaretTimerId = 20;

private:
    void SendScroll(UINT msg, WPARAM code);
    // The view, the text's rectangle and the bars for the item rectangle.
    void Layout();

    CTxtWinHost* m_pTwh = nullptr;
    bool m_bVScrollBarFixing = false;
    bool m_bWantTab = true;
    bool m_bWantReturn = true;
    bool m_bWantCtrlReturn = true;
    bool m_bTransparent = true;
    bool m_bRich = true;
    bool m_bReadOnly = false;
    DWORD m_dwTextColor = 0;
    int m_iFont = -1;
    int m_iLimitText = 0x7FFF;
    LONG m_lTwhStyle = ES_MULTILINE;
    bool m_bDrawCaret = true;
    bool m_bInited = false;
    RECT m_rcTextPadding = {0, 0, 0, 0};
};

}  // namespace SkinUI
