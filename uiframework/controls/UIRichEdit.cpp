// The rich edit: our text host for the system's windowless text services, the
// message filter that feeds them, and the scroll bars they drive.
#include "UIRichEdit.h"

#include <imm.h>
#include <richedit.h>
#include <textserv.h>

#include <cwchar>
#include <cwctype>
#include <memory>

#include "UIManager.h"
#include "UIRender.h"
#include "UIScrollBar.h"

namespace SkinUI {

namespace {

// Defined here rather than taken from a static import library.
const IID kIidITextServices = {0x8d33f740, 0xcf58, 0x11ce, {0xa8, 0x9d, 0x00, 0xaa, 0x00, 0x6c, 0xad, 0xc5}};
const IID kIidITextHost = {0xc5bdd8d0, 0xd26e, 0x11ce, {0xa8, 0x9e, 0x00, 0xaa, 0x00, 0x6c, 0xad, 0xc5}};
const IID kIidIUnknown = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

typedef HRESULT(WINAPI* CreateTextServicesFn)(IUnknown*, ITextHost*, IUnknown**);

const LONG kHimetricPerInch = 2540;
const LONG kTwipsPerInch = 1440;

// Host flags.
enum : UINT {
    kRich = 0x8,
    kWordWrap = 0x2,
    kInPlaceActive = 0x20,
    kTransparent = 0x40,
    kTimer = 0x80,
    kCaptured = 0x100,
    kCaretShown = 0x200,
    kCaretResized = 0x400,
};

LONG DpiOf(HDC dc, int axis)
{
    const int dpi = dc ? ::GetDeviceCaps(dc, axis) : 0;
    return dpi > 0 ? dpi : 96;
}

bool IsMouseMessage(UINT msg) { return msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST; }

}  // namespace

// The text host: what the text services ask of their surroundings, answered from
// the control and its manager. Methods beyond IUnknown use the member calling
// convention the interface is declared with.
class CTxtWinHost : public ITextHost {
public:
    explicit CTxtWinHost(CRichEditUI* owner) : m_re(owner) {}
    virtual ~CTxtWinHost()
    {
        if (m_serv) {
            m_serv->OnTxInPlaceDeactivate();
            m_serv->Release();
        }
    }

    bool Init(const CUIString& text);
    ITextServices* Services() const { return m_serv; }
    void SetFlag(UINT flag, bool on) { m_flags = on ? (m_flags | flag) : (m_flags & ~flag); }
    bool Flag(UINT flag) const { return (m_flags & flag) != 0; }
    void SetClientRect(const RECT& rc);
    const RECT& ClientRect() const { return m_rcClient; }
    void FillCharFormat(int font, DWORD color);
    void CharFormatChanged()
    {
        if (m_serv) m_serv->OnTxPropertyBitsChange(TXTBIT_CHARFORMATCHANGE, TXTBIT_CHARFORMATCHANGE);
    }
    void SetRich(bool on)
    {
        SetFlag(kRich, on);
        if (m_serv) m_serv->OnTxPropertyBitsChange(TXTBIT_RICHTEXT, on ? TXTBIT_RICHTEXT : 0);
    }
    void SetTransparent(bool on)
    {
        SetFlag(kTransparent, on);
        if (m_serv) m_serv->OnTxPropertyBitsChange(TXTBIT_BACKSTYLECHANGE, 0);
    }
    void Activate()
    {
        if (m_serv && SUCCEEDED(m_serv->OnTxInPlaceActivate(&m_rcClient))) SetFlag(kInPlaceActive, true);
    }
    SIZE CaretSize() const { return m_szCaret; }
    POINT CaretPos() const { return m_ptCaret; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, kIidIUnknown) || IsEqualIID(riid, kIidITextHost)) {
            *ppv = static_cast<ITextHost*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

    // ITextHost
    HDC TxGetDC() override { return Manager() ? Manager()->GetPaintDC() : nullptr; }
    INT TxReleaseDC(HDC) override { return 1; }
    WINBOOL TxShowScrollBar(INT fnBar, WINBOOL fShow) override
    {
        if (fnBar == SB_VERT || fnBar == SB_BOTH) {
            if (CScrollBarUI* bar = m_re->GetVerticalScrollBar()) bar->SetVisible(fShow != FALSE);
        }
        if (fnBar == SB_HORZ || fnBar == SB_BOTH) {
            if (CScrollBarUI* bar = m_re->GetHorizontalScrollBar()) bar->SetVisible(fShow != FALSE);
        }
        return TRUE;
    }
    WINBOOL TxEnableScrollBar(INT fuSBFlags, INT fuArrowflags) override
    {
        const bool shown = fuArrowflags != ESB_DISABLE_BOTH;
        if (fuSBFlags == SB_VERT || fuSBFlags == SB_BOTH) {
            if (!m_re->GetVerticalScrollBar()) m_re->EnableScrollBar(true, m_re->GetHorizontalScrollBar() != nullptr);
            m_re->GetVerticalScrollBar()->SetVisible(shown);
        }
        if (fuSBFlags == SB_HORZ || fuSBFlags == SB_BOTH) {
            if (!m_re->GetHorizontalScrollBar()) m_re->EnableScrollBar(m_re->GetVerticalScrollBar() != nullptr, true);
            m_re->GetHorizontalScrollBar()->SetVisible(shown);
        }
        return TRUE;
    }
    WINBOOL TxSetScrollRange(INT fnBar, LONG nMinPos, INT nMaxPos, WINBOOL) override
    {
        const bool vertical = fnBar == SB_VERT;
        CScrollBarUI* bar = vertical ? m_re->GetVerticalScrollBar() : m_re->GetHorizontalScrollBar();
        if (!bar) return TRUE;
        const LONG view = vertical ? m_rcClient.bottom - m_rcClient.top : m_rcClient.right - m_rcClient.left;
        const LONG range = nMaxPos - nMinPos - view;
        if (range > 0) {
            bar->SetVisible(true);
            bar->SetScrollRange(range);
        } else {
            bar->SetVisible(false);
        }
        return TRUE;
    }
    WINBOOL TxSetScrollPos(INT fnBar, INT nPos, WINBOOL) override
    {
        CScrollBarUI* bar = fnBar == SB_VERT ? m_re->GetVerticalScrollBar() : m_re->GetHorizontalScrollBar();
        if (bar) bar->SetScrollPos(nPos, false);
        return TRUE;
    }
    void TxInvalidateRect(LPCRECT prc, WINBOOL) override
    {
        if (!Manager()) return;
        Manager()->Invalidate(prc ? *prc : m_rcClient);
    }
    void TxViewChange(WINBOOL) override { m_re->OnTxViewChanged(); }
    WINBOOL TxCreateCaret(HBITMAP hbmp, INT xWidth, INT yHeight) override
    {
        m_szCaret = SIZE{xWidth, yHeight};
        return Manager() ? ::CreateCaret(Manager()->GetPaintWindow(), hbmp, xWidth, yHeight) : FALSE;
    }
    WINBOOL TxShowCaret(WINBOOL fShow) override
    {
        SetFlag(kCaretShown, fShow != FALSE);
        if (!Manager()) return FALSE;
        if (Manager()->IsLayered()) {
            InvalidateCaret();
            return TRUE;
        }
        return fShow ? ::ShowCaret(Manager()->GetPaintWindow()) : ::HideCaret(Manager()->GetPaintWindow());
    }
    WINBOOL TxSetCaretPos(INT x, INT y) override
    {
        const bool layered = Manager() && Manager()->IsLayered();
        if (layered) InvalidateCaret();
        m_ptCaret = POINT{x, y};
        if (layered) {
            InvalidateCaret();
            return TRUE;
        }
        return ::SetCaretPos(x, y);
    }
    WINBOOL TxSetTimer(UINT idTimer, UINT uTimeout) override
    {
        SetFlag(kTimer, true);
        return Manager() && Manager()->SetTimer(m_re, idTimer, uTimeout);
    }
    void TxKillTimer(UINT idTimer) override
    {
        if (Manager()) Manager()->KillTimer(m_re, idTimer);
        SetFlag(kTimer, false);
    }
    void TxScrollWindowEx(INT, INT, LPCRECT, LPCRECT, HRGN, LPRECT, UINT) override { m_re->Invalidate(); }
    void TxSetCapture(WINBOOL fCapture) override
    {
        if (!Manager()) return;
        if (fCapture) Manager()->SetCapture();
        else Manager()->ReleaseCapture();
        SetFlag(kCaptured, fCapture != FALSE);
    }
    void TxSetFocus() override { m_re->SetFocus(); }
    void TxSetCursor(HCURSOR hcur, WINBOOL) override { ::SetCursor(hcur); }
    WINBOOL TxScreenToClient(LPPOINT lppt) override
    {
        return Manager() ? ::ScreenToClient(Manager()->GetPaintWindow(), lppt) : FALSE;
    }
    WINBOOL TxClientToScreen(LPPOINT lppt) override
    {
        return Manager() ? ::ClientToScreen(Manager()->GetPaintWindow(), lppt) : FALSE;
    }
    HRESULT TxActivate(LONG*) override { return S_OK; }
    HRESULT TxDeactivate(LONG) override { return S_OK; }
    HRESULT TxGetClientRect(LPRECT prc) override
    {
        *prc = m_rcClient;
        return S_OK;
    }
    HRESULT TxGetViewInset(LPRECT prc) override
    {
        *prc = RECT{0, 0, 0, 0};
        return S_OK;
    }
    HRESULT TxGetCharFormat(const CHARFORMATW** ppCF) override
    {
        *ppCF = reinterpret_cast<const CHARFORMATW*>(&m_cf);
        return S_OK;
    }
    HRESULT TxGetParaFormat(const PARAFORMAT** ppPF) override
    {
        *ppPF = reinterpret_cast<const PARAFORMAT*>(&m_pf);
        return S_OK;
    }
    COLORREF TxGetSysColor(int nIndex) override { return ::GetSysColor(nIndex); }
    HRESULT TxGetBackStyle(TXTBACKSTYLE* pstyle) override
    {
        *pstyle = Flag(kTransparent) ? TXTBACK_TRANSPARENT : TXTBACK_OPAQUE;
        return S_OK;
    }
    HRESULT TxGetMaxLength(DWORD* plength) override
    {
        *plength = m_maxLength;
        return S_OK;
    }
    HRESULT TxGetScrollBars(DWORD* pdwScrollBar) override
    {
        *pdwScrollBar = static_cast<DWORD>(m_style) &
                        (WS_VSCROLL | WS_HSCROLL | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_DISABLENOSCROLL);
        return S_OK;
    }
    HRESULT TxGetPasswordChar(TCHAR* pch) override
    {
        *pch = m_chPassword;
        return S_OK;
    }
    HRESULT TxGetAcceleratorPos(LONG* pcp) override
    {
        *pcp = m_accelPos;
        return S_OK;
    }
    HRESULT TxGetExtent(LPSIZEL lpExtent) override
    {
        *lpExtent = m_sizelExtent;
        return S_OK;
    }
    HRESULT OnTxCharFormatChange(const CHARFORMATW*) override { return S_OK; }
    HRESULT OnTxParaFormatChange(const PARAFORMAT*) override { return S_OK; }
    HRESULT TxGetPropertyBits(DWORD dwMask, DWORD* pdwBits) override
    {
        DWORD bits = 0;
        if (m_style & ES_MULTILINE) bits |= TXTBIT_MULTILINE;
        if (Flag(kRich)) bits |= TXTBIT_RICHTEXT;
        if (m_style & ES_READONLY) bits |= TXTBIT_READONLY;
        if (m_style & ES_PASSWORD) bits |= TXTBIT_USEPASSWORD;
        if (!(m_style & ES_NOHIDESEL)) bits |= TXTBIT_HIDESELECTION;
        if (Flag(kWordWrap)) bits |= TXTBIT_WORDWRAP;
        *pdwBits = bits & dwMask;
        return S_OK;
    }
    HRESULT TxNotify(DWORD iNotify, void* pv) override
    {
        if (iNotify == EN_REQUESTRESIZE) {
            const REQRESIZE* request = static_cast<const REQRESIZE*>(pv);
            RECT rc = m_rcClient;
            rc.right = rc.left + (request->rc.right - request->rc.left);
            rc.bottom = rc.top + (request->rc.bottom - request->rc.top);
            SetClientRect(rc);
            return S_OK;
        }
        m_re->OnTxNotify(iNotify, pv);
        return S_OK;
    }
    HIMC TxImmGetContext() override { return nullptr; }
    void TxImmReleaseContext(HIMC) override {}
    HRESULT TxGetSelectionBarWidth(LONG* lSelBarWidth) override
    {
        *lSelBarWidth = m_selBarWidth;
        return S_OK;
    }

    LONG m_style = ES_MULTILINE;

private:
    CWindowManagerUI* Manager() const { return m_re->GetManager(); }
    void InvalidateCaret()
    {
        if (!Manager()) return;
        const RECT rc = {m_ptCaret.x, m_ptCaret.y, m_ptCaret.x + m_szCaret.cx, m_ptCaret.y + m_szCaret.cy};
        Manager()->Invalidate(rc);
    }

    CRichEditUI* m_re;
    ULONG m_refs = 1;
    ITextServices* m_serv = nullptr;
    UINT m_flags = 0;
    SIZE m_szCaret = {0, 0};
    SIZE m_szOldCaret = {0, 0};
    POINT m_ptCaret = {0, 0};
    DWORD m_maxLength = 0x7FFF;
    RECT m_rcClient = {0, 0, 0, 0};
    SIZEL m_sizelExtent = {0, 0};
    CHARFORMAT2W m_cf = {};
    PARAFORMAT2 m_pf = {};
    LONG m_accelPos = -1;
    wchar_t m_chPassword = L'*';
    LONG m_selBarWidth = 0;
};

void CTxtWinHost::FillCharFormat(int font, DWORD color)
{
    CWindowManagerUI* manager = Manager();
    HFONT hfont = manager ? manager->GetFont(font) : nullptr;
    LOGFONTW lf = {};
    if (!hfont || ::GetObjectW(hfont, sizeof(lf), &lf) == 0) ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
    m_cf.cbSize = sizeof(m_cf);
    const LONG dpiY = DpiOf(manager ? manager->GetPaintDC() : nullptr, LOGPIXELSY);
    m_cf.yHeight = -lf.lfHeight * kTwipsPerInch / dpiY;
    m_cf.yOffset = 0;
    m_cf.crTextColor = ArgbToColorRef(color);
    m_cf.bCharSet = lf.lfCharSet;
    m_cf.bPitchAndFamily = lf.lfPitchAndFamily;
    std::wcsncpy(m_cf.szFaceName, lf.lfFaceName, LF_FACESIZE - 1);
    m_cf.szFaceName[LF_FACESIZE - 1] = L'\0';
    m_cf.dwMask = CFM_SIZE | CFM_OFFSET | CFM_FACE | CFM_CHARSET | CFM_COLOR | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE;
    m_cf.dwEffects = 0;
    if (lf.lfWeight >= FW_BOLD) m_cf.dwEffects |= CFE_BOLD;
    if (lf.lfItalic) m_cf.dwEffects |= CFE_ITALIC;
    if (lf.lfUnderline) m_cf.dwEffects |= CFE_UNDERLINE;
}

void CTxtWinHost::SetClientRect(const RECT& rc)
{
    m_rcClient = rc;
    HDC dc = Manager() ? Manager()->GetPaintDC() : nullptr;
    m_sizelExtent.cx = (rc.right - rc.left) * kHimetricPerInch / DpiOf(dc, LOGPIXELSX);
    m_sizelExtent.cy = (rc.bottom - rc.top) * kHimetricPerInch / DpiOf(dc, LOGPIXELSY);
    SetFlag(kCaretResized, true);
    if (m_serv) m_serv->OnTxPropertyBitsChange(TXTBIT_CLIENTRECTCHANGE | TXTBIT_EXTENTCHANGE, TRUE);
}

bool CTxtWinHost::Init(const CUIString& text)
{
    m_pf.cbSize = sizeof(m_pf);
    m_pf.dwMask = 0x8001003F;   // PFM_ALL and PFM_TABLE
    m_pf.wAlignment = PFA_LEFT;
    if (m_style & ES_CENTER) m_pf.wAlignment = PFA_CENTER;
    else if (m_style & ES_RIGHT) m_pf.wAlignment = PFA_RIGHT;
    m_pf.cTabCount = 1;
    m_pf.rgxTabs[0] = 720;
    if (!(m_style & (ES_AUTOHSCROLL | WS_HSCROLL))) SetFlag(kWordWrap, true);

    // The library stays loaded for the process: text services may outlive a control.
    HMODULE lib = ::LoadLibraryW(L"msftedit.dll");
    if (!lib) return false;
    CreateTextServicesFn create = reinterpret_cast<CreateTextServicesFn>(
        reinterpret_cast<void*>(::GetProcAddress(lib, "CreateTextServices")));
    if (!create) return false;
    IUnknown* unknown = nullptr;
    if (FAILED(create(nullptr, this, &unknown)) || !unknown) return false;
    void* serv = nullptr;
    const HRESULT hr = unknown->QueryInterface(kIidITextServices, &serv);
    unknown->Release();
    if (FAILED(hr) || !serv) return false;
    m_serv = static_cast<ITextServices*>(serv);
    m_serv->TxSetText(text.GetData() ? text.GetData() : L"");
    return true;
}

// ---------------------------------------------------------------- the control

CRichEditUI::CRichEditUI() = default;

CRichEditUI::~CRichEditUI()
{
    if (m_pTwh) {
        m_pTwh->Release();
        m_pTwh = nullptr;
    }
    if (m_pManager) m_pManager->RemoveMessageFilter(this);
}

LPCWSTR CRichEditUI::GetClass() const { return L"RichEdit"; }

void* CRichEditUI::GetInterface(LPCWSTR pstrName)
{
    if (!pstrName) return nullptr;
    if (std::wcscmp(pstrName, L"RichEdit") == 0) return static_cast<CRichEditUI*>(this);
    // The manager keeps Tab in a focused rich edit that asks for it.
    if (std::wcscmp(pstrName, L"WantTab") == 0) return m_bWantTab ? static_cast<CRichEditUI*>(this) : nullptr;
    return CContainerUI::GetInterface(pstrName);
}

UINT CRichEditUI::GetControlFlags() const { return IsEnabled() ? (UIFLAG_TABSTOP | UIFLAG_SETCURSOR) : 0; }

HRESULT CRichEditUI::TxSendMessage(UINT msg, WPARAM wparam, LPARAM lparam, LRESULT* plresult) const
{
    if (!m_pTwh || !m_pTwh->Services()) return 1;
    if (msg == WM_KEYDOWN && wparam == VK_RETURN) {
        const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
        if (!m_bWantReturn || (ctrl && !m_bWantCtrlReturn)) {
            if (m_pManager) m_pManager->SendNotify(const_cast<CRichEditUI*>(this), L"return");
            return 0;
        }
    }
    LRESULT ignored = 0;
    return m_pTwh->Services()->TxSendMessage(msg, wparam, lparam, plresult ? plresult : &ignored);
}

CUIString CRichEditUI::GetText() const
{
    // Without text services there is no text to read.
    if (!m_pTwh || !m_pTwh->Services()) return CUIString();
    GETTEXTLENGTHEX lengthAsk = {GTL_DEFAULT, 1200};
    LRESULT length = 0;
    TxSendMessage(EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&lengthAsk), 0, &length);
    if (length <= 0) return CUIString();
    std::unique_ptr<wchar_t[]> buffer(new wchar_t[static_cast<size_t>(length) + 1]);
    GETTEXTEX textAsk = {};
    textAsk.cb = static_cast<DWORD>((length + 1) * sizeof(wchar_t));
    textAsk.flags = GT_DEFAULT;
    textAsk.codepage = 1200;
    LRESULT got = 0;
    TxSendMessage(EM_GETTEXTEX, reinterpret_cast<WPARAM>(&textAsk), reinterpret_cast<LPARAM>(buffer.get()), &got);
    if (got < 0 || got > length) got = 0;
    buffer[static_cast<size_t>(got)] = L'\0';
    return CUIString(buffer.get());
}

void CRichEditUI::SetText(LPCWSTR pstrText)
{
    m_sText = pstrText;
    if (!m_pTwh) return;
    CHARRANGE all = {0, -1};
    TxSendMessage(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all), nullptr);
    TxSendMessage(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(pstrText ? pstrText : L""), nullptr);
}

void CRichEditUI::SetFont(int index)
{
    m_iFont = index;
    if (!m_pTwh) return;
    m_pTwh->FillCharFormat(m_iFont, m_dwTextColor);
    m_pTwh->CharFormatChanged();
}

void CRichEditUI::SetTextColor(DWORD dwTextColor)
{
    m_dwTextColor = dwTextColor;
    if (!m_pTwh) return;
    m_pTwh->FillCharFormat(m_iFont, m_dwTextColor);
    m_pTwh->CharFormatChanged();
}

void CRichEditUI::SetRich(bool bRich)
{
    m_bRich = bRich;
    if (m_pTwh) m_pTwh->SetRich(bRich);
}

void CRichEditUI::SetTransparent(bool bTransparent)
{
    m_bTransparent = bTransparent;
    if (m_pTwh) m_pTwh->SetTransparent(bTransparent);
}

bool CRichEditUI::OnTxViewChanged()
{
    Invalidate();
    return true;
}

void CRichEditUI::OnTxNotify(DWORD iNotify, void* pv)
{
    switch (iNotify) {
    case EN_CHANGE:
        if (m_pManager) m_pManager->SendNotify(this, L"textchanged");
        return;
    case EN_MSGFILTER:
    case EN_SELCHANGE:
    case EN_DROPFILES:
    case EN_PROTECTED:
    case EN_STOPNOUNDO:
    case 0x708:   // EN_CORRECTTEXT
    case 0x709:   // EN_OLEOPFAILED
    case 0x70A:   // EN_SAVECLIPBOARD
    case 0x70B:   // EN_LINK
    case 0x70C:   // EN_DRAGDROPDONE
        if (m_pManager && pv) {
            NMHDR* header = static_cast<NMHDR*>(pv);
            HWND window = m_pManager->GetPaintWindow();
            header->hwndFrom = window;
            header->idFrom = static_cast<UINT_PTR>(::GetWindowLongPtrW(window, GWLP_ID));
            header->code = iNotify;
            ::SendMessageW(window, WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
        }
        return;
    default:
        return;
    }
}

void CRichEditUI::DoInit()
{
    if (m_bInited) return;
    CTxtWinHost* host = new CTxtWinHost(this);
    host->m_style = m_lTwhStyle;
    host->FillCharFormat(m_iFont, m_dwTextColor);
    host->SetFlag(kRich, m_bRich);
    host->SetFlag(kTransparent, m_bTransparent);
    if (!host->Init(m_sText)) {
        // Without the text services the control is an empty container.
        host->Release();
        return;
    }
    m_pTwh = host;
    if (m_bTransparent) m_pTwh->SetTransparent(true);
    TxSendMessage(EM_SETLANGOPTIONS, 0, 0, nullptr);
    // Change notifications come only when asked for.
    TxSendMessage(EM_SETEVENTMASK, 0, ENM_CHANGE, nullptr);
    TxSendMessage(EM_EXLIMITTEXT, 0, m_iLimitText, nullptr);
    m_pTwh->Activate();
    if (m_pManager) {
        m_pManager->AddMessageFilter(this);
        if (m_pManager->IsLayered()) m_pManager->SetTimer(this, kCaretTimerId, ::GetCaretBlinkTime());
    }
    m_bInited = true;
}

void CRichEditUI::SendScroll(UINT msg, WPARAM code) { TxSendMessage(msg, code, 0, nullptr); }

void CRichEditUI::SetScrollPos(SIZE szPos)
{
    const SIZE before = GetScrollPos();
    CScrollBarUI* v = m_pVerticalScrollBar;
    CScrollBarUI* h = m_pHorizontalScrollBar;
    const bool plainAtEnd = !m_bRich && v && v->IsVisible() && v->GetScrollPos() >= v->GetScrollRange();
    if (v && v->IsVisible()) v->SetScrollPos(plainAtEnd ? v->GetScrollRange() : szPos.cy, false);
    if (h && h->IsVisible()) h->SetScrollPos(szPos.cx, false);
    const SIZE after = GetScrollPos();
    if (after.cy != before.cy) SendScroll(WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, after.cy));
    if (after.cx != before.cx) SendScroll(WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, after.cx));
}

void CRichEditUI::LineUp() { SendScroll(WM_VSCROLL, SB_LINEUP); }
void CRichEditUI::LineDown()
{
    CScrollBarUI* v = m_pVerticalScrollBar;
    const bool plainAtEnd = !m_bRich && v && v->IsVisible() && v->GetScrollPos() >= v->GetScrollRange();
    SendScroll(WM_VSCROLL, SB_LINEDOWN);
    if (plainAtEnd) v->SetScrollPos(v->GetScrollRange(), false);
}
void CRichEditUI::PageUp() { SendScroll(WM_VSCROLL, SB_PAGEUP); }
void CRichEditUI::PageDown() { SendScroll(WM_VSCROLL, SB_PAGEDOWN); }
void CRichEditUI::HomeUp() { SendScroll(WM_VSCROLL, SB_TOP); }
void CRichEditUI::EndDown() { SendScroll(WM_VSCROLL, SB_BOTTOM); }
void CRichEditUI::LineLeft() { SendScroll(WM_HSCROLL, SB_LINELEFT); }
void CRichEditUI::LineRight() { SendScroll(WM_HSCROLL, SB_LINERIGHT); }
void CRichEditUI::PageLeft() { SendScroll(WM_HSCROLL, SB_PAGELEFT); }
void CRichEditUI::PageRight() { SendScroll(WM_HSCROLL, SB_PAGERIGHT); }
void CRichEditUI::HomeLeft() { SendScroll(WM_HSCROLL, SB_LEFT); }
void CRichEditUI::EndRight() { SendScroll(WM_HSCROLL, SB_RIGHT); }

RECT CRichEditUI::GetTextClientRect() const { return m_pTwh ? m_pTwh->ClientRect() : RECT{0, 0, 0, 0}; }

void CRichEditUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    CControlUI::SetPos(rc, bNeedInvalidate);
    Layout();
}

void CRichEditUI::Move(SIZE szOffset, bool bNeedInvalidate)
{
    CContainerUI::Move(szOffset, bNeedInvalidate);
    if (!m_pTwh) return;
    RECT rc = m_pTwh->ClientRect();
    ::OffsetRect(&rc, szOffset.cx, szOffset.cy);
    m_pTwh->SetClientRect(rc);
}

void CRichEditUI::Layout()
{
    auto view = [this] {
        RECT rc = {m_rcItem.left + m_rcInset.left, m_rcItem.top + m_rcInset.top, m_rcItem.right - m_rcInset.right,
                   m_rcItem.bottom - m_rcInset.bottom};
        if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible()) rc.right -= m_pVerticalScrollBar->GetFixedWidth();
        if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible())
            rc.bottom -= m_pHorizontalScrollBar->GetFixedHeight();
        return rc;
    };
    auto place = [this](const RECT& rc) {
        if (!m_pTwh) return;
        RECT client = {rc.left + m_rcTextPadding.left, rc.top + m_rcTextPadding.top, rc.right - m_rcTextPadding.right,
                       rc.bottom - m_rcTextPadding.bottom};
        m_pTwh->SetClientRect(client);
    };
    RECT rc = view();
    place(rc);
    if (m_pTwh && m_pTwh->Services() && m_pVerticalScrollBar &&
        (!m_pVerticalScrollBar->IsVisible() || m_bVScrollBarFixing)) {
        // The text's natural height at this width decides whether the bar is needed.
        const RECT& client = m_pTwh->ClientRect();
        LONG width = client.right - client.left;
        LONG height = 0;
        SIZEL extent = {-1, -1};
        m_pTwh->Services()->TxGetNaturalSize(DVASPECT_CONTENT, m_pManager ? m_pManager->GetPaintDC() : nullptr,
                                             nullptr, nullptr, TXTNS_FITTOCONTENT, &extent, &width, &height);
        if (height > rc.bottom - rc.top) {
            if (!m_pVerticalScrollBar->IsVisible()) {
                m_pVerticalScrollBar->SetVisible(true);
                m_pVerticalScrollBar->SetScrollPos(0, false);
            }
            m_bVScrollBarFixing = true;
        } else if (m_bVScrollBarFixing) {
            m_pVerticalScrollBar->SetVisible(false);
            m_bVScrollBarFixing = false;
        }
        rc = view();
        place(rc);
    }
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible()) {
        m_pVerticalScrollBar->SetPos(
            RECT{rc.right, rc.top, rc.right + m_pVerticalScrollBar->GetFixedWidth(), rc.bottom}, false);
    }
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible()) {
        m_pHorizontalScrollBar->SetPos(
            RECT{rc.left, rc.bottom, rc.right, rc.bottom + m_pHorizontalScrollBar->GetFixedHeight()}, false);
    }
    if (m_items.IsEmpty()) return;
    if (m_pVerticalScrollBar && m_pVerticalScrollBar->IsVisible()) {
        rc.top -= m_pVerticalScrollBar->GetScrollPos();
        rc.bottom += m_pVerticalScrollBar->GetScrollRange() - m_pVerticalScrollBar->GetScrollPos();
    }
    if (m_pHorizontalScrollBar && m_pHorizontalScrollBar->IsVisible()) {
        rc.left -= m_pHorizontalScrollBar->GetScrollPos();
        rc.right += m_pHorizontalScrollBar->GetScrollRange() - m_pHorizontalScrollBar->GetScrollPos();
    }
    PlaceChildren(rc);
}

SIZE CRichEditUI::EstimateSize(SIZE szAvailable) { return CControlUI::EstimateSize(szAvailable); }

bool CRichEditUI::DoPaint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl)
{
    RECT rcTemp;
    if (!::IntersectRect(&rcTemp, &rcPaint, &m_rcItem)) return true;
    // The control itself, its children and bars; the text over them, inside its
    // own rectangle (which leaves the bars out).
    if (!CContainerUI::DoPaint(hDC, rcPaint, pStopControl)) return false;
    if (!m_pTwh || !m_pTwh->Services()) return true;
    CDrawClip clip;
    CDrawClip::GenerateClip(hDC, rcTemp, clip);
    RECT client = m_pTwh->ClientRect();
    RECT update = rcPaint;
    m_pTwh->Services()->TxDraw(DVASPECT_CONTENT, 0, nullptr, nullptr, hDC, nullptr,
                               reinterpret_cast<LPCRECTL>(&client), nullptr, &update, nullptr, 0, TXTVIEW_ACTIVE);
    if (m_pManager && m_pManager->IsLayered() && m_bFocused && m_bDrawCaret) {
        // A layered window shows no system caret: draw it.
        const POINT at = m_pTwh->CaretPos();
        const SIZE size = m_pTwh->CaretSize();
        const RECT caret = {at.x, at.y, at.x + size.cx, at.y + size.cy};
        CDrawHelper::DrawColor(hDC, caret, m_dwTextColor | 0xFF000000);
    }
    return true;
}

void CRichEditUI::DoEvent(UIEvent& event)
{
    if (!IsMouseEnabled() && IsMouseEventType(event.Type)) {
        if (m_pParent) m_pParent->DoEvent(event);
        else CContainerUI::DoEvent(event);
        return;
    }
    switch (event.Type) {
    case UIEventSetCursor:
        if (IsEnabled() && m_pTwh && m_pTwh->Services()) {
            const RECT client = m_pTwh->ClientRect();
            m_pTwh->Services()->OnTxSetCursor(DVASPECT_CONTENT, -1, nullptr, nullptr,
                                              m_pManager ? m_pManager->GetPaintDC() : nullptr, nullptr, &client,
                                              event.ptMouse.x, event.ptMouse.y);
            return;
        }
        break;
    case UIEventSize:
        if (m_pTwh) m_pTwh->SetFlag(kCaretResized, true);
        return;
    case UIEventSetFocus:
    case UIEventKillFocus: {
        const bool focus = event.Type == UIEventSetFocus;
        if (m_pTwh) {
            m_pTwh->Activate();
            TxSendMessage(focus ? WM_SETFOCUS : WM_KILLFOCUS, 0, 0, nullptr);
        }
        m_bFocused = focus;
        Invalidate();
        return;
    }
    case UIEventTimer:
        if (event.wParam == kCaretTimerId) {
            if (m_pManager && m_pManager->IsLayered() && IsFocused() &&
                ::GetFocus() == m_pManager->GetPaintWindow() && m_pTwh) {
                m_bDrawCaret = !m_bDrawCaret;
                const POINT at = m_pTwh->CaretPos();
                const SIZE size = m_pTwh->CaretSize();
                RECT caret = {at.x, at.y, at.x + size.cx, at.y + size.cy};
                RECT clipped;
                if (::IntersectRect(&clipped, &caret, &m_rcItem) && ClipByAncestors(clipped))
                    m_pManager->Invalidate(clipped);
            }
            return;
        }
        if (m_pTwh) TxSendMessage(WM_TIMER, event.wParam, event.lParam, nullptr);
        return;
    case UIEventMouseWheel:
        if (::GetKeyState(VK_CONTROL) < 0) return;
        break;
    case UIEventKeyDown:
    case UIEventKeyUp:
    case UIEventChar:
    case UIEventMouseMove:
    case UIEventButtonDown:
    case UIEventButtonUp:
    case UIEventDoubleClick:
        return;
    default:
        break;
    }
    CContainerUI::DoEvent(event);
}

LRESULT CRichEditUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled)
{
    if (!IsVisible() || !IsEnabled() || !m_pTwh || !m_pManager) return 0;
    if (!IsMouseEnabled() && uMsg >= WM_MOUSEFIRST && uMsg <= WM_MOUSELAST) return 0;
    if (uMsg == WM_MOUSEWHEEL && (LOWORD(wParam) & MK_CONTROL) == 0) return 0;
    const bool captured = m_pTwh->Flag(kCaptured);
    if (IsMouseMessage(uMsg) || uMsg == WM_SETCURSOR) {
        POINT pt;
        if (uMsg == WM_SETCURSOR) {
            ::GetCursorPos(&pt);
            ::ScreenToClient(m_pManager->GetPaintWindow(), &pt);
        } else {
            pt = POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (uMsg == WM_MOUSEWHEEL) ::ScreenToClient(m_pManager->GetPaintWindow(), &pt);
        }
        if (!captured) {
            switch (uMsg) {
            case WM_LBUTTONDOWN:
            case WM_LBUTTONUP:
            case WM_LBUTTONDBLCLK:
            case WM_RBUTTONDOWN:
            case WM_RBUTTONUP:
                if (m_pManager->FindControlAt(pt) != this) return 0;
                break;
            default:
                break;
            }
        }
        const RECT client = m_pTwh->ClientRect();
        if (!captured && !::PtInRect(&client, pt)) return 0;
        if (uMsg == WM_SETCURSOR) {
            bHandled = false;
        } else if (uMsg == WM_LBUTTONDOWN || uMsg == WM_LBUTTONDBLCLK || uMsg == WM_RBUTTONDOWN) {
            if (::GetFocus() != m_pManager->GetPaintWindow()) ::SetFocus(m_pManager->GetPaintWindow());
            SetFocus();
        }
    } else if (uMsg >= WM_KEYFIRST && uMsg <= WM_SYSDEADCHAR) {
        if (!IsFocused()) return 0;
        bHandled = true;
    } else if (uMsg == WM_IME_STARTCOMPOSITION) {
        if (!IsFocused()) return 0;
        HWND window = m_pManager->GetPaintWindow();
        if (HIMC imc = ::ImmGetContext(window)) {
            POINT caret;
            ::GetCaretPos(&caret);
            COMPOSITIONFORM form = {};
            form.dwStyle = CFS_FORCE_POSITION;
            form.ptCurrentPos = caret;
            ::ImmSetCompositionWindow(imc, &form);
            LOGFONTW lf = {};
            HFONT font = m_pManager->GetFont(m_iFont);
            if (font && ::GetObjectW(font, sizeof(lf), &lf)) ::ImmSetCompositionFontW(imc, &lf);
            ::ImmReleaseContext(window, imc);
        }
        return 0;
    } else if (uMsg == WM_CONTEXTMENU) {
        POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ::ScreenToClient(m_pManager->GetPaintWindow(), &pt);
        if (m_pManager->FindControlAt(pt) != this) return 0;
        bHandled = true;
    } else if (uMsg == WM_HELP) {
        bHandled = false;
    } else {
        return 0;
    }
    LRESULT result = 0;
    const HRESULT hr = TxSendMessage(uMsg, wParam, lParam, &result);
    if (hr == S_OK) {
        if (uMsg != WM_SETCURSOR && uMsg != WM_HELP) bHandled = true;
    } else if (uMsg == WM_CHAR || uMsg == WM_IME_CHAR) {
        bHandled = true;
    } else if (captured && IsMouseMessage(uMsg)) {
        bHandled = true;
    }
    return result;
}

void CRichEditUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    auto is = [pstrName](LPCWSTR n) { return std::wcscmp(pstrName, n) == 0; };
    const bool on = IsTrue(pstrValue);
    if (is(L"vscrollbar")) {
        if (on) m_lTwhStyle |= ES_DISABLENOSCROLL | WS_VSCROLL;
        CContainerUI::SetAttribute(pstrName, pstrValue);
    } else if (is(L"autovscroll")) {
        if (on) m_lTwhStyle |= ES_AUTOVSCROLL;
    } else if (is(L"hscrollbar")) {
        if (on) m_lTwhStyle |= ES_DISABLENOSCROLL | WS_HSCROLL;
        CContainerUI::SetAttribute(pstrName, pstrValue);
    } else if (is(L"autohscroll")) {
        if (on) m_lTwhStyle |= ES_AUTOHSCROLL;
    } else if (is(L"wanttab")) {
        m_bWantTab = on;
    } else if (is(L"wantreturn")) {
        m_bWantReturn = on;
    } else if (is(L"wantctrlreturn")) {
        m_bWantCtrlReturn = on;
    } else if (is(L"transparent")) {
        SetTransparent(on);
    } else if (is(L"rich")) {
        SetRich(on);
    } else if (is(L"multiline")) {
        if (pstrValue && std::wcscmp(pstrValue, L"false") == 0) m_lTwhStyle &= ~ES_MULTILINE;
    } else if (is(L"readonly")) {
        if (on) {
            m_lTwhStyle |= ES_READONLY;
            m_bReadOnly = true;
        }
    } else if (is(L"password")) {
        if (on) m_lTwhStyle |= ES_PASSWORD;
    } else if (is(L"align")) {
        if (std::wcsstr(pstrValue, L"left")) m_lTwhStyle &= ~(ES_CENTER | ES_RIGHT);
        if (std::wcsstr(pstrValue, L"center")) {
            m_lTwhStyle &= ~(ES_LEFT | ES_RIGHT);
            m_lTwhStyle |= ES_CENTER;
        }
        if (std::wcsstr(pstrValue, L"right")) {
            m_lTwhStyle &= ~(ES_LEFT | ES_CENTER);
            m_lTwhStyle |= ES_RIGHT;
        }
    } else if (is(L"font")) {
        SetFont(static_cast<int>(std::wcstol(pstrValue, nullptr, 10)));
    } else if (is(L"textcolor")) {
        LPCWSTR p = pstrValue;
        while (*p && (std::iswspace(*p) || *p == L'#')) ++p;
        SetTextColor(static_cast<DWORD>(std::wcstoul(p, nullptr, 16)));
    } else if (is(L"textpadding")) {
        int v[4] = {0, 0, 0, 0};
        ReadNumberList(pstrValue, v, 4);
        m_rcTextPadding = RECT{v[0], v[1], v[2], v[3]};
        Invalidate();
    } else {
        CContainerUI::SetAttribute(pstrName, pstrValue);
    }
}

}  // namespace SkinUI
