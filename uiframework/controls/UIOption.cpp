// Options and check boxes: selection, groups and their painting.
#include "UIOption.h"

#include <cwchar>

#include "UIManager.h"
#include "UIRender.h"

namespace SkinUI {

namespace {

// Clears the pushed bit for the life of the guard: a selected look replaces it.
class WithoutPushed {
public:
    explicit WithoutPushed(UINT& state) : m_state(state), m_pushed(state & UISTATE_PUSHED)
    {
        m_state &= ~UISTATE_PUSHED;
    }
    ~WithoutPushed() { m_state |= m_pushed; }
    WithoutPushed(const WithoutPushed&) = delete;
    WithoutPushed& operator=(const WithoutPushed&) = delete;

private:
    UINT& m_state;
    UINT m_pushed;
};

}  // namespace

COptionUI::~COptionUI() { LeaveGroup(); }

void COptionUI::JoinGroup(CWindowManagerUI* manager)
{
    if (m_sGroupName.IsEmpty() || !manager) return;
    if (m_pGroupManager && m_pGroupManager != manager) LeaveGroup();
    manager->AddOptionGroup(m_sGroupName, this);
    m_pGroupManager = manager;
}

void COptionUI::LeaveGroup()
{
    if (m_pGroupManager && !m_sGroupName.IsEmpty()) m_pGroupManager->RemoveOptionGroup(m_sGroupName, this);
    m_pGroupManager = nullptr;
}

LPCWSTR COptionUI::GetClass() const { return L"Option"; }

void* COptionUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"Option") == 0) return this;
    return CButtonUI::GetInterface(pstrName);
}

bool COptionUI::Activate()
{
    if (!CButtonUI::Activate()) return false;
    if (!m_sGroupName.IsEmpty()) Selected(true);
    else Selected(!m_bSelected);
    return true;
}

void COptionUI::SetManager(CWindowManagerUI* pManager, CControlUI* pParent, bool bInit)
{
    CControlUI::SetManager(pManager, pParent, bInit);
    if (bInit) JoinGroup(m_pManager);
}

void COptionUI::SetEnabled(bool bEnable)
{
    CControlUI::SetEnabled(bEnable);
    if (!IsEnabled()) m_uButtonState = m_bSelected ? UISTATE_SELECTED : 0;
}

void COptionUI::SetGroup(LPCWSTR pStrGroupName)
{
    const LPCWSTR name = pStrGroupName ? pStrGroupName : L"";
    if (m_sGroupName.Equals(name)) return;
    LeaveGroup();
    m_sGroupName = name;
    JoinGroup(m_pManager);
}

void COptionUI::Selected(bool bSelected, bool bNotify)
{
    if (m_bSelected == bSelected) return;
    m_bSelected = bSelected;
    if (m_bSelected) m_uButtonState |= UISTATE_SELECTED;
    else m_uButtonState &= ~UISTATE_SELECTED;
    if (m_pManager) {
        if (!m_sGroupName.IsEmpty()) {
            if (!m_bSelected) {
                Invalidate();
                return;
            }
            if (CUIPtrArray* group = m_pManager->GetOptionGroup(m_sGroupName)) {
                for (int i = 0; i < group->GetSize(); ++i) {
                    COptionUI* other = static_cast<COptionUI*>(group->GetAt(i));
                    if (other != this) other->Selected(false, bNotify);
                }
            }
        }
        if (bNotify) m_pManager->SendNotify(this, L"selectchanged");
    }
    Invalidate();
}

void COptionUI::SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue)
{
    auto is = [pstrName](LPCWSTR n) { return std::wcscmp(pstrName, n) == 0; };
    if (is(L"group")) SetGroup(pstrValue);
    else if (is(L"selected")) Selected(IsTrue(pstrValue));
    else if (is(L"selectedimage")) SetSelectedImage(pstrValue);
    else if (is(L"selectedhotimage")) SetSelectedHotImage(pstrValue);
    else if (is(L"foreimage")) SetOptionForeImage(pstrValue);
    else if (is(L"selectedbkcolor")) m_dwSelectedBkColor = ParseColorText(pstrValue);
    else if (is(L"selectedtextcolor")) m_dwSelectedTextColor = ParseColorText(pstrValue);
    else CButtonUI::SetAttribute(pstrName, pstrValue);
}

void COptionUI::PaintStatusImage(HDC hDC)
{
    bool drawn = false;
    if (m_bSelected) {
        if ((m_uButtonState & UISTATE_HOT) && DrawImage(hDC, m_diSelectedHot)) {
            drawn = true;
        } else if (DrawImage(hDC, m_diSelected)) {
            drawn = true;
        } else if (m_dwSelectedBkColor != 0) {
            CDrawHelper::DrawColor(hDC, m_rcPaint, AdjustColor(m_dwSelectedBkColor));
            drawn = true;
        }
    }
    if (!drawn) {
        WithoutPushed guard(m_uButtonState);
        CButtonUI::PaintStatusImage(hDC);
    }
    DrawImage(hDC, m_diOptionFore);
}

void COptionUI::PaintText(HDC hDC)
{
    if (!m_bSelected) {
        WithoutPushed guard(m_uButtonState);
        CButtonUI::PaintText(hDC);
        return;
    }
    TakeDefaultColors();
    if (m_sText.IsEmpty()) return;
    const RECT rc = GetTextRect();
    DWORD color = m_dwDisabledTextColor;
    if (IsEnabled()) color = m_dwSelectedTextColor != 0 ? m_dwSelectedTextColor : m_dwTextColor;
    DrawPlainText(hDC, rc, color);
}

LPCWSTR CCheckBoxUI::GetClass() const { return L"CheckBox"; }

void* CCheckBoxUI::GetInterface(LPCWSTR pstrName)
{
    if (pstrName && std::wcscmp(pstrName, L"CheckBox") == 0) return this;
    return COptionUI::GetInterface(pstrName);
}

}  // namespace SkinUI
