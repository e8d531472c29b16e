// RAII owners for Windows handles: the empty value and the close function are part
// of the type, so CloseHandle appears only in the traits below.
#pragma once
#include <windows.h>
#include <utility>

namespace qvtd {

template <typename T, typename Traits>
class UniqueRes {
public:
  UniqueRes() = default;
  explicit UniqueRes(T v) : m_v(v) {}
  ~UniqueRes() { Reset(); }
  UniqueRes(const UniqueRes&) = delete;
  UniqueRes& operator=(const UniqueRes&) = delete;
  UniqueRes(UniqueRes&& o) noexcept : m_v(o.Release()) {}
  UniqueRes& operator=(UniqueRes&& o) noexcept
  { if (this != &o) Reset(o.Release()); return *this; }

  T Get() const { return m_v; }
  explicit operator bool() const { return m_v != Traits::Empty(); }
  T Release() { T v = m_v; m_v = Traits::Empty(); return v; }
  void Reset(T v = Traits::Empty())
  { if (m_v != Traits::Empty()) Traits::Close(m_v); m_v = v; }

private:
  T m_v = Traits::Empty();
};

struct FileTraits {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
using UniqueFile = UniqueRes<HANDLE, FileTraits>;

// Events, mutexes, threads: empty at null.
struct HandleTraits {
  static HANDLE Empty() { return nullptr; }
  static void Close(HANDLE h) { ::CloseHandle(h); }
};
using UniqueHandle = UniqueRes<HANDLE, HandleTraits>;

}  // namespace qvtd
