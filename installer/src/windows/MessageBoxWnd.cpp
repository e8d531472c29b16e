// The message and tip windows: their buttons' answers and the modal call.
#include "MessageBoxWnd.h"

using namespace SkinUI;

namespace {

const DWORD kFrameStyle = 0x10CF0000;

const UIMsgMapEntry kEntries[] = {
    {L"click", L"", UISig_vn, UIPumpNotify(&WindowImplBase::OnClick)},
    {L"", L"", UISig_end, nullptr},
};

}  // namespace

const UIMsgMap CMessageBoxWnd::messageMap = {&CNotifyPump::messageMap, kEntries};

// A window closed without a button counts as closed: the tips' first answer starts
// work (an install, a reinstall), which no one asked for by closing.
CMessageBoxWnd::CMessageBoxWnd(const SkinFrameRecord& record) : CSkinFrame(record), m_answer(kClosed) {}

const UIMsgMap* CMessageBoxWnd::GetMessageMap() const { return &messageMap; }

void CMessageBoxWnd::InitWindow()
{
    CSkinFrame::InitWindow();
    const LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    ::SetWindowLongW(m_hWnd, GWL_STYLE, (style & ~(WS_CAPTION | WS_MAXIMIZEBOX)) | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    const LONG exStyle = ::GetWindowLongW(m_hWnd, GWL_EXSTYLE);
    ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, exStyle & ~WS_EX_TOPMOST);
    m_okBtn = m_PaintManager.FindControlByName(L"okBtn");
    m_cancelBtn = m_PaintManager.FindControlByName(L"cancelBtn");
    m_textLbl = m_PaintManager.FindControlByName(L"textLbl");
    m_captionLbl = m_PaintManager.FindControlByName(L"captionLbl");
}

void CMessageBoxWnd::OnClick(UINotify& msg)
{
    if (msg.pSender && msg.pSender == m_okBtn) {
        Close(1);
        m_answer = kOk;
    } else if (msg.pSender && msg.pSender == m_cancelBtn) {
        Close(1);
        m_answer = kCancel;
    } else {
        WindowImplBase::OnClick(msg);
        m_answer = kClosed;
    }
}

int CMessageBoxWnd::ShowModal(const SkinFrameRecord& record, HWND owner, LPCWSTR text, LPCWSTR caption)
{
    CMessageBoxWnd box(record);
    if (!box.Create(owner, L"消息框", kFrameStyle, 0)) return kClosed;
    if (text && box.m_textLbl) box.m_textLbl->SetText(text);
    if (caption && box.m_captionLbl) box.m_captionLbl->SetText(caption);
    box.CenterWindow();
    box.CWindowWnd::ShowModal();
    return box.m_answer;
}

int CMessageBoxWnd::ShowModal(LPCWSTR layoutFile, HWND owner, LPCWSTR text, LPCWSTR caption)
{
    return ShowModal(InstallerFrameRecord(layoutFile), owner, text, caption);
}
