// Bounded polling for tests that wait on a task's threads.
#pragma once
#include <windows.h>

#include <functional>

inline bool WaitFor(const std::function<bool()>& done, DWORD milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    Sleep(10);
  }
  return true;
}
