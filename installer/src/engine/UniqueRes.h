#pragma once
// One owner type for system handles, used by every part of the tree: the empty value
// and the close function are part of the type, so no caller ever closes a handle by
// hand. Also the scope guards of a critical section and of a GDI selection.
#include <windows.h>
#include <utility>

template <typename T, typename Traits>
class UniqueRes {
public:
    UniqueRes() noexcept : m_value(Traits::Empty()) {}
    explicit UniqueRes(T value) noexcept : m_value(value) {}
    ~UniqueRes() { Reset(); }
    UniqueRes(const UniqueRes&) = delete;
    UniqueRes& operator=(const UniqueRes&) = delete;
    UniqueRes(UniqueRes&& other) noexcept : m_value(other.Release()) {}
    UniqueRes& operator=(UniqueRes&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    T Get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::Empty(); }
    // Closes any old value first, then hands out the slot for an out-parameter.
    T* Put() noexcept { Reset(); return &m_value; }
    T Release() noexcept { T v = m_value; m_value = Traits::Empty(); return v; }
    void Reset(T value = Traits::Empty()) noexcept
    {
        if (m_value != Traits::Empty()) Traits::Close(m_value);
        m_value = value;
    }

private:
    T m_value;
};

struct NullHandleTraits {
    static HANDLE Empty() { return nullptr; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FileHandleTraits {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
struct FindTraits {
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::FindClose(h); }
};
struct RegKeyTraits {
    static HKEY Empty() { return nullptr; }
    static void Close(HKEY h) { ::RegCloseKey(h); }
};
struct ModuleTraits {
    static HMODULE Empty() { return nullptr; }
    static void Close(HMODULE h) { ::FreeLibrary(h); }
};

using UniqueHandle = UniqueRes<HANDLE, NullHandleTraits>;   // events, threads, mutexes, pipes, processes
using UniqueFile = UniqueRes<HANDLE, FileHandleTraits>;     // CreateFile, snapshots
using UniqueFind = UniqueRes<HANDLE, FindTraits>;         // FindFirstFile
using UniqueRegKey = UniqueRes<HKEY, RegKeyTraits>;
using UniqueModule = UniqueRes<HMODULE, ModuleTraits>;

// GDI objects of the UI: bitmaps, fonts, regions, pens and brushes.
template <typename T>
struct GdiObjectTraits {
    static T Empty() { return nullptr; }
    static void Close(T h) { ::DeleteObject(h); }
};
struct MemoryDcTraits {
    static HDC Empty() { return nullptr; }
    static void Close(HDC h) { ::DeleteDC(h); }
};
using UniqueBitmap = UniqueRes<HBITMAP, GdiObjectTraits<HBITMAP>>;
using UniqueFont = UniqueRes<HFONT, GdiObjectTraits<HFONT>>;
using UniqueRegion = UniqueRes<HRGN, GdiObjectTraits<HRGN>>;
using UniquePen = UniqueRes<HPEN, GdiObjectTraits<HPEN>>;
using UniqueBrush = UniqueRes<HBRUSH, GdiObjectTraits<HBRUSH>>;
using UniqueMemoryDc = UniqueRes<HDC, MemoryDcTraits>;   // CreateCompatibleDC
struct AccelTraits {
    static HACCEL Empty() { return nullptr; }
    static void Close(HACCEL h) { ::DestroyAcceleratorTable(h); }
};
using UniqueAccel = UniqueRes<HACCEL, AccelTraits>;   // CreateAcceleratorTable

// A window's device context, given back to the same window (GetDC/ReleaseDC).
class WindowDc {
public:
    explicit WindowDc(HWND wnd) noexcept : m_wnd(wnd), m_dc(::GetDC(wnd)) {}
    ~WindowDc() { if (m_dc) ::ReleaseDC(m_wnd, m_dc); }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Get() const noexcept { return m_dc; }
    explicit operator bool() const noexcept { return m_dc != nullptr; }

private:
    HWND m_wnd;
    HDC m_dc;
};

// Selects an object into a DC for one scope and puts the old one back.
class ScopedSelect {
public:
    ScopedSelect(HDC dc, HGDIOBJ object) noexcept : m_dc(dc), m_old(object ? ::SelectObject(dc, object) : nullptr) {}
    ~ScopedSelect() { if (m_old) ::SelectObject(m_dc, m_old); }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

// Holds a critical section for one scope, as std::lock_guard holds a mutex.
class CritSecLock {
public:
    explicit CritSecLock(CRITICAL_SECTION& cs) noexcept : m_cs(cs) { ::EnterCriticalSection(&m_cs); }
    ~CritSecLock() { ::LeaveCriticalSection(&m_cs); }
    CritSecLock(const CritSecLock&) = delete;
    CritSecLock& operator=(const CritSecLock&) = delete;

private:
    CRITICAL_SECTION& m_cs;
};
