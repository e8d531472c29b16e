// Helpers shared by the Intermediate tests.
#pragma once
#include <windows.h>

#include <functional>

// Bounded polling for tests that wait on a task's threads.
inline bool WaitFor(const std::function<bool()>& done, DWORD milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    Sleep(10);
  }
  return true;
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
