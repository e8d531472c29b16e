// The tab layout: a container that shows exactly one of its children, the
// current page, over its client area; the others are hidden.
#pragma once

#include "UIContainer.h"

namespace SkinUI {

class CTabLayoutUI : public CContainerUI {
public:
    LPCWSTR GetClass() const override;
    void* GetInterface(LPCWSTR pstrName) override;
    void SetPos(RECT rc, bool bNeedInvalidate = true) override;
    void SetAttribute(LPCWSTR pstrName, LPCWSTR pstrValue) override;

    bool Add(CControlUI* pControl) override;
    bool AddAt(CControlUI* pControl, int iIndex) override;
    bool Remove(CControlUI* pControl, bool bDoNotDestroy = false) override;
    void RemoveAll() override;

    int GetCurSel() const { return m_iCurSel; }
    bool SelectItem(int iIndex, bool bNotify = true);

private:
    int m_iCurSel = -1;
};

}  // namespace SkinUI
