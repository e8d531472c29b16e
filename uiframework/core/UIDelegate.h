// Delegates and event sources: hooks through which code watches or vetoes what a
// control does. A delegate answers true (go on) or false (stop).
#pragma once

#include "UIUtils.h"

#include <cstring>

namespace SkinUI {

class CDelegateBase {
public:
    CDelegateBase(void* object, const void* function, size_t functionBytes);
    CDelegateBase(const CDelegateBase& other);
    CDelegateBase& operator=(const CDelegateBase&) = delete;
    virtual ~CDelegateBase();

    virtual CDelegateBase* Copy() const = 0;
    virtual bool Invoke(void* param) = 0;

    // Same object and same function.
    bool Equals(const CDelegateBase& other) const;
    bool operator()(void* param) { return Invoke(param); }

protected:
    void* GetObj() const { return m_pObject; }
    const void* GetFn() const { return m_fn; }

private:
    // Room for a member-function pointer (two words with this compiler's ABI).
    enum { kFunctionBytes = 16 };
    void* m_pObject;
    unsigned char m_fn[kFunctionBytes];
    size_t m_fnBytes;
};

// Delegate over a plain function taking the parameter.
class CDelegateStatic : public CDelegateBase {
public:
    typedef bool (*Fn)(void* param);
    explicit CDelegateStatic(Fn fn) : CDelegateBase(nullptr, &fn, sizeof(fn)) {}
    CDelegateBase* Copy() const override { return new CDelegateStatic(*this); }
    bool Invoke(void* param) override
    {
        Fn fn;
        std::memcpy(&fn, GetFn(), sizeof(fn));
        return fn(param);
    }
};

// Delegate over a member operation of class O taking the parameter.
template <class O>
class CDelegate : public CDelegateBase {
public:
    typedef bool (O::*Fn)(void* param);
    CDelegate(O* object, Fn fn) : CDelegateBase(object, &fn, sizeof(fn))
    {
        static_assert(sizeof(Fn) <= 16, "member-function pointer does not fit");
    }
    CDelegateBase* Copy() const override { return new CDelegate(*this); }
    bool Invoke(void* param) override
    {
        Fn fn;
        std::memcpy(&fn, GetFn(), sizeof(fn));
        return (static_cast<O*>(GetObj())->*fn)(param);
    }
};

template <class O>
CDelegate<O> MakeDelegate(O* object, bool (O::*fn)(void*))
{
    return CDelegate<O>(object, fn);
}

inline CDelegateStatic MakeDelegate(bool (*fn)(void*)) { return CDelegateStatic(fn); }

// An ordered list of owned delegate copies.
class CUIEventSource {
public:
    CUIEventSource() = default;
    CUIEventSource(const CUIEventSource&) = delete;
    CUIEventSource& operator=(const CUIEventSource&) = delete;
    ~CUIEventSource();

    // Adds a copy unless a delegate with the same object and function is present.
    void Add(const CDelegateBase& delegate);
    void operator+=(const CDelegateBase& delegate) { Add(delegate); }
    // Runs the delegates in order; the first false answer stops the walk.
    bool Invoke(void* param);
    bool operator()(void* param) { return Invoke(param); }
    bool HasDelegates() const { return !m_aDelegates.IsEmpty(); }
    explicit operator bool() const { return HasDelegates(); }

private:
    CUIPtrArray m_aDelegates;
};

}  // namespace SkinUI
