#pragma once
// The installer's questions and notices: one small skinned modal window per call,
// built from one of the message or tip layouts, answering with the button chosen.
#include "SkinFrame.h"

class CMessageBoxWnd : public SkinUI::CSkinFrame {
public:
    // What a call returns: the first or second button, or the window was closed
    // without either (its close button, the system menu, Alt+F4).
    enum Answer { kOk = 0, kCancel = 1, kClosed = 2 };

    explicit CMessageBoxWnd(const SkinUI::SkinFrameRecord& record);

    void InitWindow() override;
    void OnClick(SkinUI::UINotify& msg) override;
    const SkinUI::UIMsgMap* GetMessageMap() const override;
    static const SkinUI::UIMsgMap messageMap;

    int GetAnswer() const { return m_answer; }

    // Shows the window modally over `owner` (disabled meanwhile) and returns the
    // answer. A null text or caption leaves the layout's own.
    static int ShowModal(const SkinUI::SkinFrameRecord& record, HWND owner, LPCWSTR text, LPCWSTR caption);
    // The same for a layout of the installer's skin ("MessageBox1Wnd.xml", ...).
    static int ShowModal(LPCWSTR layoutFile, HWND owner, LPCWSTR text, LPCWSTR caption);

private:
    int m_answer;
    SkinUI::CControlUI* m_okBtn = nullptr;
    SkinUI::CControlUI* m_cancelBtn = nullptr;
    SkinUI::CControlUI* m_textLbl = nullptr;
    SkinUI::CControlUI* m_captionLbl = nullptr;
};
