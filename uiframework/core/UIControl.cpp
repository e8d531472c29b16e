// The base control: attributes, placement, invalidation, finding, events and
// the default painting order.
#include "UIControl.h"

#include <cwchar>
#include <cstdlib>

#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

CControlUI::CControlUI()
    : m_pManager(nullptr),
      m_pParent(nullptr),
      m_pCover(nullptr),
      m_bUpdateNeeded(true),
      m_bMenuUsed(false),
      m_rcItem{0, 0, 0, 0},
      m_rcPadding{0, 0, 0, 0},
      m_cXY{0, 0},
      m_cxyFixed{0, 0},
      m_cxyMin{0, 0},
      m_cxyMax{9999, 9999},
      m_bVisible(true),
      m_bInternVisible(true),
      m_bEnabled(true),
      m_bMouseEnabled(true),
      m_bKeyboardEnabled(true),
      m_bFocused(false),
      m_bFloat(false),
      m_piFloatPercent{0, 0, 0, 0},
      m_bSetPos(false),
      m_chShortcut(0),
      m_pTag(0),
      m_dwBackColor(0),
      m_dwBackColor2(0),
      m_dwBackColor3(0),
      m_dwBorderColor(0),
      m_dwFocusBorderColor(0),
      m_bColorHSL(false),
      m_nBorderStyle(PS_SOLID),
      m_nTooltipWidth(300),
      m_cxyBorderRound{0, 0},
      m_rcPaint{0, 0, 0, 0},
      m_rcBorderSize{0, 0, 0, 0},
      m_mCustomAttrHash(83)
{
}

void CControlUI::Delete() { delete this; }

CControlUI::~CControlUI()
{
    if (m_pCover) {
        m_pCover->Delete();
        m_pCover = nullptr;
    }
    RemoveAllCustomAttributes();
    if (OnDestroy) OnDestroy(this);
    if (m_pManager) m_pManager->ForgetControl(this);
}

CUIString CControlUI::GetName() const { return m_sName; }

void CControlUI::SetName(LPCWSTR pstrName)
{
    if (m_sName.Equals(pstrName ? pstrName : L"")) return;
    CWindowManagerUI* manager = m_pManager;
    if (manager && manager->FindControlByName(m_sName) == this) {
        // The name table follows the rename: the manager moves the entry and
        // stores the new name.
        if (manager->RenameControl(this, pstrName)) return;
    }
    m_sName = pstrName;
}

LPCWSTR CControlUI::GetClass() const { return L"Control"; }

void* CControlUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && wcscmp(pstrName, L"Control") == 0) return this;
    return nullptr;
}

UINT CControlUI::GetControlFlags() const { return 0; }
HWND CControlUI::GetChildWindow() const { return nullptr; }

bool CControlUI::Activate() { return IsVisible() && IsEnabled(); }

CWindowManagerUI* CControlUI::GetManager() const { return m_pManager; }

void CControlUI::SetManager(CWindowManagerUI* pManager, CControlUI* pParent, bool bInit)
{
    if (m_pCover) m_pCover->SetManager(pManager, this, bInit);
    m_pManager = pManager;
    m_pParent = pParent;
    if (bInit && m_pParent) Init();
}

CControlUI* CControlUI::GetParent() const { return m_pParent; }
CControlUI* CControlUI::GetOverlay() const { return m_pCover; }

void CControlUI::SetOverlay(CControlUI* pControl)
{
    if (pControl == m_pCover) return;
    if (m_pCover) m_pCover->Delete();
    m_pCover = pControl;
    if (!m_pCover) return;
    // The builder applies "cover" before this control has a manager: the overlay
    // is kept and attached with this control when the tree joins its window.
    if (m_pManager) {
        m_pManager->AttachSubtree(m_pCover, this);
    } else {
        m_pCover->SetManager(nullptr, this, false);
    }
    if (!IsVisible()) {
        m_pCover->SetInheritedVisible(false);
    } else {
        m_bUpdateNeeded = true;
        Invalidate();
        if (m_pManager) m_pManager->SetLayoutNeeded();
    }
}

CUIString CControlUI::GetText() const { return m_sText; }

void CControlUI::SetText(LPCWSTR pstrText)
{
    if (m_sText.Equals(pstrText ? pstrText : L"")) return;
    m_sText = pstrText;
    Invalidate();
}

const RECT& CControlUI::GetPos() const { return m_rcItem; }

RECT CControlUI::GetRelativePos() const
{
    if (!m_pParent) return RECT{0, 0, 0, 0};
    RECT rcParent = m_pParent->GetPos();
    CUIRect rc(m_rcItem);
    rc.Offset(-rcParent.left, -rcParent.top);
    return rc;
}

RECT CControlUI::GetClientPos() const { return m_rcItem; }

bool CControlUI::ClipByAncestors(RECT& rc) const
{
    for (CControlUI* parent = m_pParent; parent; parent = parent->GetParent()) {
        if (!parent->IsVisible()) return false;
        RECT rcParent = parent->GetPos();
        RECT out;
        if (!::IntersectRect(&out, &rc, &rcParent)) return false;
        rc = out;
    }
    return true;
}

void CControlUI::SetPos(RECT rc, bool bNeedInvalidate)
{
    if (rc.right < rc.left) rc.right = rc.left;
    if (rc.bottom < rc.top) rc.bottom = rc.top;

    CUIRect invalidateRc(m_rcItem);
    if (::IsRectEmpty(&invalidateRc)) invalidateRc = rc;

    if (m_bFloat && m_pParent) {
        const RECT& rcParent = m_pParent->GetPos();
        m_rcItem = rc;
        ::OffsetRect(&m_rcItem, rcParent.left, rcParent.top);
        const int W = rcParent.right - rcParent.left;
        const int H = rcParent.bottom - rcParent.top;
        m_cXY.cx = rc.left - static_cast<int>(m_piFloatPercent[0] * W);
        m_cXY.cy = rc.top - static_cast<int>(m_piFloatPercent[1] * H);
        m_cxyFixed.cx = rc.right - m_cXY.cx - static_cast<int>(m_piFloatPercent[2] * W);
        m_cxyFixed.cy = rc.bottom - m_cXY.cy - static_cast<int>(m_piFloatPercent[3] * H);
    } else {
        m_rcItem = rc;
    }

    if (!m_pManager) return;
    if (!m_bSetPos) {
        m_bSetPos = true;
        if (OnSize) OnSize(this);
        m_bSetPos = false;
    }
    m_bUpdateNeeded = false;

    if (bNeedInvalidate && IsVisible()) {
        invalidateRc.Union(m_rcItem);
        if (!ClipByAncestors(invalidateRc)) return;
        m_pManager->Invalidate(invalidateRc);
    }

    if (m_pCover && m_pCover->IsVisible()) {
        if (m_pCover->IsFloat()) {
            const SIZE xy = m_pCover->GetFixedXY();
            const double* pct = m_pCover->GetFloatPercent();
            const int W = m_rcItem.right - m_rcItem.left;
            const int H = m_rcItem.bottom - m_rcItem.top;
            RECT rcCover;
            rcCover.left = static_cast<int>(W * pct[0]) + xy.cx;
            rcCover.top = static_cast<int>(H * pct[1]) + xy.cy;
            rcCover.right = static_cast<int>(W * pct[2]) + xy.cx + m_pCover->GetFixedWidth();
            rcCover.bottom = static_cast<int>(H * pct[3]) + xy.cy + m_pCover->GetFixedHeight();
            m_pCover->SetPos(rcCover, false);
        } else {
            SIZE sz = {rc.right - rc.left, rc.bottom - rc.top};
            if (sz.cx < m_pCover->GetMinWidth()) sz.cx = m_pCover->GetMinWidth();
            if (sz.cx > m_pCover->GetMaxWidth()) sz.cx = m_pCover->GetMaxWidth();
            if (sz.cy < m_pCover->GetMinHeight()) sz.cy = m_pCover->GetMinHeight();
            if (sz.cy > m_pCover->GetMaxHeight()) sz.cy = m_pCover->GetMaxHeight();
            m_pCover->SetPos(RECT{rc.left, rc.top, rc.left + sz.cx, rc.top + sz.cy}, false);
        }
    }
}

void CControlUI::Move(SIZE szOffset, bool bNeedInvalidate)
{
    CUIRect invalidateRc(m_rcItem);
    ::OffsetRect(&m_rcItem, szOffset.cx, szOffset.cy);
    if (bNeedInvalidate && m_pManager && IsVisible()) {
        invalidateRc.Union(m_rcItem);
        if (!ClipByAncestors(invalidateRc)) return;
        m_pManager->Invalidate(invalidateRc);
    }
    if (m_pCover && m_pCover->IsVisible()) m_pCover->Move(szOffset, false);
}

int CControlUI::GetWidth() const { return m_rcItem.right - m_rcItem.left; }
int CControlUI::GetHeight() const { return m_rcItem.bottom - m_rcItem.top; }
int CControlUI::GetX() const { return m_rcItem.left; }
int CControlUI::GetY() const { return m_rcItem.top; }
RECT CControlUI::GetPadding() const { return m_rcPadding; }

void CControlUI::SetPadding(RECT rcPadding)
{
    m_rcPadding = rcPadding;
    NeedParentUpdate();
}

SIZE CControlUI::GetFixedXY() const { return m_cXY; }

void CControlUI::SetFixedXY(SIZE szXY)
{
    m_cXY = szXY;
    NeedParentUpdate();
}

const double* CControlUI::GetFloatPercent() const { return m_piFloatPercent; }

void CControlUI::SetFloatPercent(double left, double top, double right, double bottom)
{
    m_piFloatPercent[0] = left;
    m_piFloatPercent[1] = top;
    m_piFloatPercent[2] = right;
    m_piFloatPercent[3] = bottom;
    NeedParentUpdate();
}

int CControlUI::GetFixedWidth() const { return m_cxyFixed.cx; }

void CControlUI::SetFixedWidth(int cx)
{
    if (cx < 0) return;
    m_cxyFixed.cx = cx;
    NeedParentUpdate();
}

int CControlUI::GetFixedHeight() const { return m_cxyFixed.cy; }

void CControlUI::SetFixedHeight(int cy)
{
    if (cy < 0) return;
    m_cxyFixed.cy = cy;
    NeedParentUpdate();
}

int CControlUI::GetMinWidth() const { return m_cxyMin.cx; }

void CControlUI::SetMinWidth(int cx)
{
    if (m_cxyMin.cx == cx || cx < 0) return;
    m_cxyMin.cx = cx;
    NeedParentUpdate();
}

int CControlUI::GetMaxWidth() const { return m_cxyMax.cx < m_cxyMin.cx ? m_cxyMin.cx : m_cxyMax.cx; }

void CControlUI::SetMaxWidth(int cx)
{
    if (m_cxyMax.cx == cx || cx < 0) return;
    m_cxyMax.cx = cx;
    NeedParentUpdate();
}

int CControlUI::GetMinHeight() const { return m_cxyMin.cy; }

void CControlUI::SetMinHeight(int cy)
{
    if (m_cxyMin.cy == cy || cy < 0) return;
    m_cxyMin.cy = cy;
    NeedParentUpdate();
}

int CControlUI::GetMaxHeight() const { return m_cxyMax.cy < m_cxyMin.cy ? m_cxyMin.cy : m_cxyMax.cy; }

void CControlUI::SetMaxHeight(int cy)
{
    if (m_cxyMax.cy == cy || cy < 0) return;
    m_cxyMax.cy = cy;
    NeedParentUpdate();
}

CUIString CControlUI::GetToolTip() const { return m_sToolTip; }

void CControlUI::SetToolTip(LPCWSTR pstrText)
{
    CUIString text(pstrText);
    text.Replace(L"<n>", L"\r\n");
    m_sToolTip = text;
}

void CControlUI::SetToolTipWidth(int nWidth) { m_nTooltipWidth = nWidth; }
int CControlUI::GetToolTipWidth() const { return m_nTooltipWidth; }
wchar_t CControlUI::GetShortcut() const { return m_chShortcut; }
void CControlUI::SetShortcut(wchar_t ch) { m_chShortcut = ch; }
bool CControlUI::IsContextMenuUsed() const { return m_bMenuUsed; }
void CControlUI::SetContextMenuUsed(bool bMenuUsed) { m_bMenuUsed = bMenuUsed; }
const CUIString& CControlUI::GetUserData() const { return m_sUserData; }
void CControlUI::SetUserData(LPCWSTR pstrText) { m_sUserData = pstrText; }
UINT_PTR CControlUI::GetTag() const { return m_pTag; }
void CControlUI::SetTag(UINT_PTR pTag) { m_pTag = pTag; }

bool CControlUI::IsVisible() const { return m_bVisible && m_bInternVisible; }

void CControlUI::SetVisible(bool bVisible)
{
    if (m_bVisible == bVisible) return;
    const bool wasVisible = IsVisible();
    m_bVisible = bVisible;
    if (m_bFocused) m_bFocused = false;
    if (!bVisible && m_pManager && m_pManager->GetFocus() == this) m_pManager->SetFocus(nullptr);
    if (IsVisible() != wasVisible) NeedParentUpdate();
    if (m_pCover) m_pCover->SetInheritedVisible(IsVisible());
}

void CControlUI::SetInheritedVisible(bool bVisible)
{
    m_bInternVisible = bVisible;
    if (!bVisible && m_pManager && m_pManager->GetFocus() == this) m_pManager->SetFocus(nullptr);
    if (m_pCover) m_pCover->SetInheritedVisible(IsVisible());
}

bool CControlUI::IsEnabled() const { return m_bEnabled; }

void CControlUI::SetEnabled(bool bEnable)
{
    if (m_bEnabled == bEnable) return;
    m_bEnabled = bEnable;
    Invalidate();
}

bool CControlUI::IsMouseEnabled() const { return m_bMouseEnabled; }
void CControlUI::SetMouseEnabled(bool bEnable) { m_bMouseEnabled = bEnable; }
bool CControlUI::IsKeyboardEnabled() const { return m_bKeyboardEnabled; }
void CControlUI::SetKeyboardEnabled(bool bEnable) { m_bKeyboardEnabled = bEnable; }
bool CControlUI::IsFocused() const { return m_bFocused; }

void CControlUI::SetFocus()
{
    if (m_pManager) m_pManager->SetFocus(this, false);
}

bool CControlUI::IsFloat() const { return m_bFloat; }

void CControlUI::SetFloat(bool bFloat)
{
    if (m_bFloat == bFloat) return;
    m_bFloat = bFloat;
    NeedParentUpdate();
}

CControlUI* CControlUI::FindControl(FINDCONTROLPROC Proc, LPVOID pData, UINT uFlags)
{
    if ((uFlags & UIFIND_VISIBLE) && !IsVisible()) return nullptr;
    if ((uFlags & UIFIND_ENABLED) && !IsEnabled()) return nullptr;
    if ((uFlags & UIFIND_HITTEST) && !::PtInRect(&m_rcItem, *static_cast<POINT*>(pData))) return nullptr;
    if ((uFlags & UIFIND_UPDATETEST) && Proc(this, pData) != nullptr) return nullptr;

    const bool callMe = !(uFlags & UIFIND_HITTEST) || IsMouseEnabled();
    if ((uFlags & UIFIND_ME_FIRST) && callMe) {
        if (CControlUI* found = Proc(this, pData)) return found;
    }
    if (m_pCover) {
        if (CControlUI* found = m_pCover->FindControl(Proc, pData, uFlags)) return found;
    }
    if (!(uFlags & UIFIND_ME_FIRST) && callMe) return Proc(this, pData);
    return nullptr;
}

void CControlUI::Init()
{
    DoInit();
    if (OnInit) OnInit(this);
}

void CControlUI::DoInit() {}

void CControlUI::Event(UIEvent& event)
{
    if (OnEvent && !OnEvent(&event)) return;
    DoEvent(event);
}

void CControlUI::DoEvent(UIEvent& event)
{
    if (event.Type == UIEventSetCursor) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
        return;
    }
    if (event.Type == UIEventSetFocus) {
        m_bFocused = true;
        Invalidate();
        return;
    }
    if (event.Type == UIEventKillFocus) {
        m_bFocused = false;
        Invalidate();
        return;
    }
    if (event.Type == UIEventTimer) {
        if (m_pManager) m_pManager->SendNotify(this, L"timer", event.wParam, event.lParam);
        return;
    }
    if (event.Type == UIEventContextMenu && IsContextMenuUsed()) {
        if (m_pManager) m_pManager->SendNotify(this, L"menu", event.wParam, event.lParam);
        return;
    }
    if (m_pParent) m_pParent->DoEvent(event);
}

CUIString CControlUI::GetAttribute(LPCWSTR) { return CUIString(); }
CUIString CControlUI::GetAttributeText(LPCWSTR) { return CUIString(); }

void CControlUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    if (!pstrName || !pstrValue) return;
    if (wcscmp(pstrName, L"pos") == 0) {
        int v[4];
        ReadNumberList(pstrValue, v, 4);
        SetFixedXY(SIZE{v[0], v[1]});
        SetFixedWidth(v[2] - v[0]);
        SetFixedHeight(v[3] - v[1]);
    } else if (wcscmp(pstrName, L"padding") == 0) {
        int v[4];
        ReadNumberList(pstrValue, v, 4);
        SetPadding(RECT{v[0], v[1], v[2], v[3]});
    } else if (wcscmp(pstrName, L"bkcolor") == 0 || wcscmp(pstrName, L"bkcolor1") == 0) {
        SetBkColor(ParseColorText(pstrValue));
    } else if (wcscmp(pstrName, L"bkcolor2") == 0) {
        SetBkColor2(ParseColorText(pstrValue));
    } else if (wcscmp(pstrName, L"bkcolor3") == 0) {
        SetBkColor3(ParseColorText(pstrValue));
    } else if (wcscmp(pstrName, L"bordercolor") == 0) {
        SetBorderColor(ParseColorText(pstrValue));
    } else if (wcscmp(pstrName, L"focusbordercolor") == 0) {
        SetFocusBorderColor(ParseColorText(pstrValue));
    } else if (wcscmp(pstrName, L"colorhsl") == 0) {
        SetColorHSL(IsTrue(pstrValue));
    } else if (wcscmp(pstrName, L"bordersize") == 0) {
        if (wcschr(pstrValue, L',') == nullptr) {
            SetBorderSize(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
        } else {
            int v[4];
            ReadNumberList(pstrValue, v, 4);
            SetBorderSize(RECT{v[0], v[1], v[2], v[3]});
        }
    } else if (wcscmp(pstrName, L"borderstyle") == 0) {
        m_nBorderStyle = static_cast<int>(wcstol(pstrValue, nullptr, 10));
    } else if (wcscmp(pstrName, L"borderround") == 0) {
        int v[2];
        ReadNumberList(pstrValue, v, 2);
        SetBorderRound(SIZE{v[0], v[1]});
    } else if (wcscmp(pstrName, L"bkimage") == 0) {
        SetBkImage(pstrValue);
    } else if (wcscmp(pstrName, L"width") == 0) {
        SetFixedWidth(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"height") == 0) {
        SetFixedHeight(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"minwidth") == 0) {
        SetMinWidth(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"minheight") == 0) {
        SetMinHeight(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"maxwidth") == 0) {
        SetMaxWidth(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"maxheight") == 0) {
        SetMaxHeight(static_cast<int>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"name") == 0) {
        SetName(pstrValue);
    } else if (wcscmp(pstrName, L"text") == 0) {
        SetText(pstrValue);
    } else if (wcscmp(pstrName, L"tooltip") == 0) {
        SetToolTip(pstrValue);
    } else if (wcscmp(pstrName, L"userdata") == 0) {
        SetUserData(pstrValue);
    } else if (wcscmp(pstrName, L"tag") == 0) {
        SetTag(static_cast<UINT_PTR>(wcstol(pstrValue, nullptr, 10)));
    } else if (wcscmp(pstrName, L"enabled") == 0) {
        SetEnabled(IsTrue(pstrValue));
    } else if (wcscmp(pstrName, L"mouse") == 0) {
        SetMouseEnabled(IsTrue(pstrValue));
    } else if (wcscmp(pstrName, L"keyboard") == 0) {
        SetKeyboardEnabled(IsTrue(pstrValue));
    } else if (wcscmp(pstrName, L"visible") == 0) {
        SetVisible(IsTrue(pstrValue));
    } else if (wcscmp(pstrName, L"float") == 0) {
        if (wcschr(pstrValue, L',') == nullptr) {
            SetFloat(IsTrue(pstrValue));
        } else {
            double v[4] = {0, 0, 0, 0};
            LPCWSTR p = pstrValue;
            for (int i = 0; i < 4 && *p; ++i) {
                LPWSTR end = nullptr;
                v[i] = wcstod(p, &end);
                p = end;
                if (*p) ++p;
            }
            SetFloatPercent(v[0], v[1], v[2], v[3]);
            SetFloat(true);
        }
    } else if (wcscmp(pstrName, L"shortcut") == 0) {
        SetShortcut(pstrValue[0]);
    } else if (wcscmp(pstrName, L"menu") == 0) {
        SetContextMenuUsed(IsTrue(pstrValue));
    } else if (wcscmp(pstrName, L"virtualwnd") == 0) {
        SetVirtualWnd(pstrValue);
    } else {
        AddCustomAttribute(pstrName, pstrValue);
    }
}

CControlUI* CControlUI::ApplyAttributeList(LPCWSTR pstrList)
{
    if (!pstrList) return this;
    CUIString name;
    CUIString value;
    while (*pstrList != L'\0') {
        name.Empty();
        value.Empty();
        while (*pstrList != L'\0' && *pstrList != L'=') name.AppendChar(*pstrList++);
        if (*pstrList++ != L'=') return this;
        if (*pstrList++ != L'"') return this;
        while (*pstrList != L'\0' && *pstrList != L'"') value.AppendChar(*pstrList++);
        if (*pstrList++ != L'"') return this;
        SetAttribute(name, value);
        if (*pstrList++ != L' ') return this;
    }
    return this;
}

SIZE CControlUI::EstimateSize(SIZE) { return m_cxyFixed; }

bool CControlUI::Paint(HDC hDC, const RECT& rcPaint, CControlUI* pStopControl)
{
    if (pStopControl == this) return false;
    if (!::IntersectRect(&m_rcPaint, &rcPaint, &m_rcItem)) return true;
    if (OnPaint && !OnPaint(this)) return true;
    if (!DoPaint(hDC, m_rcPaint, pStopControl)) return false;
    if (m_pCover) return m_pCover->Paint(hDC, rcPaint, nullptr);
    return true;
}

bool CControlUI::DoPaint(HDC hDC, const RECT&, CControlUI*)
{
    if (m_cxyBorderRound.cx > 0 || m_cxyBorderRound.cy > 0) {
        CDrawClip roundClip;
        CDrawClip::GenerateRoundClip(hDC, m_rcPaint, m_rcItem, m_cxyBorderRound.cx, m_cxyBorderRound.cy, roundClip);
        PaintBkColor(hDC);
        PaintBkImage(hDC);
        PaintStatusImage(hDC);
        PaintText(hDC);
        PaintBorder(hDC);
    } else {
        PaintBkColor(hDC);
        PaintBkImage(hDC);
        PaintStatusImage(hDC);
        PaintText(hDC);
        PaintBorder(hDC);
    }
    return true;
}

void CControlUI::PaintBkColor(HDC hDC)
{
    if (m_dwBackColor == 0) return;
    if (m_dwBackColor3 != 0) {
        RECT rc = m_rcItem;
        rc.bottom = (m_rcItem.bottom + m_rcItem.top) / 2;
        CDrawHelper::DrawGradient(hDC, rc, AdjustColor(m_dwBackColor), AdjustColor(m_dwBackColor2), true, 8);
        rc.top = rc.bottom;
        rc.bottom = m_rcItem.bottom;
        CDrawHelper::DrawGradient(hDC, rc, AdjustColor(m_dwBackColor2), AdjustColor(m_dwBackColor3), true, 8);
    } else if (m_dwBackColor2 != 0) {
        CDrawHelper::DrawGradient(hDC, m_rcItem, AdjustColor(m_dwBackColor), AdjustColor(m_dwBackColor2), true, 16);
    } else if (m_dwBackColor >= 0xFF000000) {
        CDrawHelper::DrawColor(hDC, m_rcPaint, AdjustColor(m_dwBackColor));
    } else {
        CDrawHelper::DrawColor(hDC, m_rcItem, AdjustColor(m_dwBackColor));
    }
}

void CControlUI::PaintBkImage(HDC hDC)
{
    if (m_diBk.sDrawString.IsEmpty()) return;
    DrawImage(hDC, m_diBk);
}

void CControlUI::PaintStatusImage(HDC) {}
void CControlUI::PaintText(HDC) {}

void CControlUI::PaintBorder(HDC hDC)
{
    if (m_rcBorderSize.left == 0 && m_rcBorderSize.top == 0 && m_rcBorderSize.right == 0 &&
        m_rcBorderSize.bottom == 0) {
        return;
    }
    if (m_dwBorderColor == 0 && m_dwFocusBorderColor == 0) return;
    const DWORD color = AdjustColor(IsFocused() && m_dwFocusBorderColor != 0 ? m_dwFocusBorderColor : m_dwBorderColor);
    if (m_cxyBorderRound.cx > 0 || m_cxyBorderRound.cy > 0) {
        CDrawHelper::DrawRoundRect(hDC, m_rcItem, m_rcBorderSize.left, m_cxyBorderRound.cx, m_cxyBorderRound.cy, color,
                                   m_nBorderStyle);
        return;
    }
    if (m_rcBorderSize.left == m_rcBorderSize.top && m_rcBorderSize.left == m_rcBorderSize.right &&
        m_rcBorderSize.left == m_rcBorderSize.bottom) {
        CDrawHelper::DrawRect(hDC, m_rcItem, m_rcBorderSize.left, color, m_nBorderStyle);
        return;
    }
    RECT rc;
    if (m_rcBorderSize.left > 0) {
        rc = RECT{m_rcItem.left, m_rcItem.top, m_rcItem.left, m_rcItem.bottom};
        CDrawHelper::DrawLine(hDC, rc, m_rcBorderSize.left, color, m_nBorderStyle);
    }
    if (m_rcBorderSize.top > 0) {
        rc = RECT{m_rcItem.left, m_rcItem.top, m_rcItem.right, m_rcItem.top};
        CDrawHelper::DrawLine(hDC, rc, m_rcBorderSize.top, color, m_nBorderStyle);
    }
    if (m_rcBorderSize.right > 0) {
        rc = RECT{m_rcItem.right - m_rcBorderSize.right, m_rcItem.top, m_rcItem.right - m_rcBorderSize.right,
                  m_rcItem.bottom};
        CDrawHelper::DrawLine(hDC, rc, m_rcBorderSize.right, color, m_nBorderStyle);
    }
    if (m_rcBorderSize.bottom > 0) {
        rc = RECT{m_rcItem.left, m_rcItem.bottom - m_rcBorderSize.bottom, m_rcItem.right,
                  m_rcItem.bottom - m_rcBorderSize.bottom};
        CDrawHelper::DrawLine(hDC, rc, m_rcBorderSize.bottom, color, m_nBorderStyle);
    }
}

void CControlUI::DoPostPaint(HDC, const RECT&)
{
    if (OnPostPaint) OnPostPaint(this);
}

void CControlUI::Invalidate()
{
    if (!IsVisible()) return;
    RECT rc = m_rcItem;
    if (!ClipByAncestors(rc)) return;
    if (m_pManager) m_pManager->Invalidate(rc);
}

void CControlUI::NeedUpdate()
{
    if (!IsVisible()) return;
    m_bUpdateNeeded = true;
    Invalidate();
    if (m_pManager) m_pManager->SetLayoutNeeded();
}

void CControlUI::NeedParentUpdate()
{
    if (m_pParent) {
        if (m_pParent->IsVisible()) {
            m_pParent->m_bUpdateNeeded = true;
            m_pParent->Invalidate();
            if (m_pManager) m_pManager->SetLayoutNeeded();
        }
    } else {
        NeedUpdate();
    }
    if (m_pManager) m_pManager->SetLayoutNeeded();
}

CUIString CControlUI::GetVirtualWnd() const
{
    if (!m_sVirtualWnd.IsEmpty()) return m_sVirtualWnd;
    if (m_pParent) return m_pParent->GetVirtualWnd();
    return CUIString();
}

void CControlUI::SetVirtualWnd(LPCWSTR pstrValue)
{
    m_sVirtualWnd = pstrValue;
    if (m_pManager) m_pManager->SetUsesVirtualWindows(true);
}

void CControlUI::AddCustomAttribute(LPCWSTR pstrName, LPCWSTR pstrAttr)
{
    if (!pstrName || !*pstrName || !pstrAttr || !*pstrAttr) return;
    if (m_mCustomAttrHash.Find(pstrName)) return;
    CUIString* value = new CUIString(pstrAttr);
    if (!m_mCustomAttrHash.Insert(pstrName, value)) delete value;
}

LPCWSTR CControlUI::GetCustomAttribute(LPCWSTR pstrName) const
{
    if (!pstrName || !*pstrName) return nullptr;
    CUIString* value = static_cast<CUIString*>(m_mCustomAttrHash.Find(pstrName, false));
    return value ? value->GetData() : nullptr;
}

void CControlUI::RemoveAllCustomAttributes()
{
    for (int i = 0;; ++i) {
        LPCWSTR key = m_mCustomAttrHash.GetKeyAt(i);
        if (!key) break;
        delete static_cast<CUIString*>(m_mCustomAttrHash.Find(key, false));
    }
    m_mCustomAttrHash.Resize(83);
}

bool CControlUI::DrawImage(HDC hDC, UIImageDrawInfo& drawInfo)
{
    return CDrawHelper::DrawImageString(hDC, m_pManager, m_rcItem, m_rcPaint, drawInfo);
}

DWORD CControlUI::AdjustColor(DWORD dwColor) const
{
    if (!m_bColorHSL) return dwColor;
    short H, S, L;
    CWindowManagerUI::GetHSL(&H, &S, &L);
    return CDrawHelper::AdjustColor(dwColor, H, S, L);
}

void CControlUI::SetBkColor(DWORD dwBackColor)
{
    if (m_dwBackColor == dwBackColor) return;
    m_dwBackColor = dwBackColor;
    Invalidate();
}

void CControlUI::SetBkColor2(DWORD dwBackColor)
{
    if (m_dwBackColor2 == dwBackColor) return;
    m_dwBackColor2 = dwBackColor;
    Invalidate();
}

void CControlUI::SetBkColor3(DWORD dwBackColor)
{
    if (m_dwBackColor3 == dwBackColor) return;
    m_dwBackColor3 = dwBackColor;
    Invalidate();
}

void CControlUI::SetBkImage(LPCWSTR pStrImage)
{
    if (m_diBk.sDrawString.Equals(pStrImage ? pStrImage : L"") && m_diBk.pImageInfo) return;
    m_diBk.Clear();
    m_diBk.sDrawString = pStrImage;
    if (m_pManager && !m_diBk.sDrawString.IsEmpty()) {
        // Parse now so that a float control can take the image's size.
        CDrawHelper::LoadDrawInfo(m_pManager, m_diBk);
        if (m_bFloat && m_cxyFixed.cx == 0 && m_cxyFixed.cy == 0 && m_diBk.pImageInfo) {
            m_cxyFixed.cx = m_diBk.pImageInfo->nX;
            m_cxyFixed.cy = m_diBk.pImageInfo->nY;
        }
    }
    Invalidate();
}

void CControlUI::SetBorderColor(DWORD dwBorderColor)
{
    if (m_dwBorderColor == dwBorderColor) return;
    m_dwBorderColor = dwBorderColor;
    Invalidate();
}

void CControlUI::SetFocusBorderColor(DWORD dwBorderColor)
{
    if (m_dwFocusBorderColor == dwBorderColor) return;
    m_dwFocusBorderColor = dwBorderColor;
    Invalidate();
}

void CControlUI::SetColorHSL(bool bColorHSL)
{
    if (m_bColorHSL == bColorHSL) return;
    m_bColorHSL = bColorHSL;
    Invalidate();
}

void CControlUI::SetBorderSize(RECT rc)
{
    m_rcBorderSize = rc;
    Invalidate();
}

void CControlUI::SetBorderSize(int iSize)
{
    m_rcBorderSize = RECT{iSize, iSize, iSize, iSize};
    Invalidate();
}

void CControlUI::SetBorderRound(SIZE cxyRound)
{
    m_cxyBorderRound = cxyRound;
    Invalidate();
}

}  // namespace SkinUI
