// Helpers shared by the Intermediate tests.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "UniqueRes.h"

// Bounded polling for tests that wait on a task's threads.
inline bool WaitFor(const std::function<bool()>& done, DWORD milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    Sleep(10);
  }
  return true;
}

inline DWORD WINAPI RunHeldWork(void* p) {
  auto* work = static_cast<std::function<void()>*>(p);
  (*work)();
  delete work;
  return 0;
}

// Runs work on a thread of its own and waits for it up to a generous limit that only a
// hang passes: false then, the thread left running to the program's end.
inline bool EndsWithin(std::function<void()> work, DWORD milliseconds) {
  auto* held = new std::function<void()>(std::move(work));
  UniqueHandle thread(CreateThread(nullptr, 0, &RunHeldWork, held, 0, nullptr));
  if (!thread) {
    delete held;
    return false;
  }
  return WaitForSingleObject(thread.Get(), milliseconds) == WAIT_OBJECT_0;
}

// Handle values of this process that name an open handle, among the lowest ones (a new
// handle takes the lowest free value). GetProcessHandleCount answers 0 under Wine, and
// its system handle table hangs at times while other processes come and go.
inline int OwnHandleCount() {
  constexpr uintptr_t kProbed = 2048;
  int open = 0;
  for (uintptr_t value = 4; value < 4 * kProbed; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
  }
  return open;
}

// The stand-in core beside the test program, and its functions by name (test hooks too).
inline HMODULE CoreModule() {
  static HMODULE core = LoadLibraryA("qvtdserver.dll");
  return core;
}

template <class Fn>
Fn CoreFn(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(CoreModule(), name)));
}

// Intermediate.dll beside the test program, and its exports by name.
struct Exports {
  HMODULE dll = LoadLibraryW(L"Intermediate.dll");
  template <class Fn>
  Fn Get(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  }
};

inline const Exports& Dll() {
  static Exports exports;
  return exports;
}

inline std::wstring FromUtf8(const std::string& s) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], n);
  return w;
}

inline std::string Utf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), &s[0], n, nullptr, nullptr);
  return s;
}
