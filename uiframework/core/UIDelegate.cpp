// Delegates and event sources: adding, removing and calling the hooks in order.
#include "UIDelegate.h"

#include <cstdlib>

namespace SkinUI {

CDelegateBase::CDelegateBase(void* object, const void* function, size_t functionBytes)
    : m_pObject(object), m_fn(), m_fnBytes(functionBytes)
{
    if (functionBytes > sizeof(m_fn)) std::abort();
    std::memcpy(m_fn, function, functionBytes);
}

CDelegateBase::CDelegateBase(const CDelegateBase& other)
    : m_pObject(other.m_pObject), m_fn(), m_fnBytes(other.m_fnBytes)
{
    std::memcpy(m_fn, other.m_fn, sizeof(m_fn));
}

CDelegateBase::~CDelegateBase() = default;

bool CDelegateBase::Equals(const CDelegateBase& other) const
{
    return m_pObject == other.m_pObject && m_fnBytes == other.m_fnBytes &&
           std::memcmp(m_fn, other.m_fn, m_fnBytes) == 0;
}

CUIEventSource::~CUIEventSource()
{
    for (int i = 0; i < m_aDelegates.GetSize(); ++i) {
        delete static_cast<CDelegateBase*>(m_aDelegates.ItemAt(i));
    }
    m_aDelegates.Empty();
}

void CUIEventSource::Add(const CDelegateBase& delegate)
{
    for (int i = 0; i < m_aDelegates.GetSize(); ++i) {
        const CDelegateBase* present = static_cast<CDelegateBase*>(m_aDelegates.ItemAt(i));
        if (present && present->Equals(delegate)) return;
    }
    CDelegateBase* copy = delegate.Copy();
    if (!m_aDelegates.Add(copy)) delete copy;
}

bool CUIEventSource::Invoke(void* param)
{
    for (int i = 0; i < m_aDelegates.GetSize(); ++i) {
        CDelegateBase* delegate = static_cast<CDelegateBase*>(m_aDelegates.ItemAt(i));
        if (delegate && !delegate->Invoke(param)) return false;
    }
    return true;
}

}  // namespace SkinUI
