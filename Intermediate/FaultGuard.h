// Runs a piece of work so that a hardware fault inside it (an access violation in the
// core's walk, say) ends only that work, not the process. GCC has no __try on i686,
// so a vectored handler sends the faulting thread back to a per-thread recovery point.
#pragma once
#include <windows.h>

#include <cstdint>
#include <type_traits>
#include <utility>

struct FaultInfo {
  DWORD code = 0;
  DWORD flags = 0;
  void* address = nullptr;
  DWORD parameterCount = 0;
  ULONG_PTR parameters[EXCEPTION_MAXIMUM_PARAMETERS] = {};
  DWORD eax = 0, ebx = 0, ecx = 0, edx = 0, esi = 0, edi = 0, ebp = 0, esp = 0;
};

// Calls fn(arg) on this thread. True when it returned; false when a fault (or an
// escaping C++ exception) ended it, after the fault was written to the debugger
// output. Guards nest; each thread has its own.
bool RunGuarded(void (*fn)(void*), void* arg, FaultInfo* info = nullptr);

template <class F>
bool RunGuardedCall(F&& work, FaultInfo* info = nullptr) {
  using Work = std::remove_reference_t<F>;
  return RunGuarded([](void* p) { (*static_cast<Work*>(p))(); }, &work, info);
}

// "Exception occur!" and the record and registers, one line each, to the debugger output.
void LogException(const FaultInfo& info);
