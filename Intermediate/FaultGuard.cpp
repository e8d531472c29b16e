// The fault guard: a vectored handler that sends a faulting thread back to the
// recovery point of its innermost guarded call, and the log line of a caught fault.
#include "FaultGuard.h"

#include <setjmp.h>

#include <cstdio>
#include <mutex>
#include <type_traits>

namespace {

struct RecoveryPoint {
  jmp_buf jump;
  RecoveryPoint* outer;
  FaultInfo info;
};

DWORD g_slot = TLS_OUT_OF_INDEXES;         // innermost guard of the thread
DWORD g_landingSlot = TLS_OUT_OF_INDEXES;  // the guard being jumped back to
std::once_flag g_installOnce;

bool IsFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
      return true;
    default:
      return false;  // debugger notices, C++ exceptions, stack overflow: not ours
  }
}

// Entered as if called, in the faulting thread's normal context (the system has left
// its dispatcher), so the jump back unwinds like any other longjmp.
__attribute__((force_align_arg_pointer, noreturn)) void __cdecl Landing() {
  auto* point = static_cast<RecoveryPoint*>(::TlsGetValue(g_landingSlot));
  longjmp(point->jump, 1);
}

LONG CALLBACK FaultHandler(EXCEPTION_POINTERS* e) {
  if (g_slot == TLS_OUT_OF_INDEXES || !e || !e->ExceptionRecord || !e->ContextRecord)
    return EXCEPTION_CONTINUE_SEARCH;
  const EXCEPTION_RECORD* record = e->ExceptionRecord;
  if (!IsFault(record->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  auto* point = static_cast<RecoveryPoint*>(::TlsGetValue(g_slot));
  if (!point) return EXCEPTION_CONTINUE_SEARCH;  // no guard on this thread

  FaultInfo& info = point->info;
  info.code = record->ExceptionCode;
  info.flags = record->ExceptionFlags;
  info.address = record->ExceptionAddress;
  info.parameterCount = record->NumberParameters < EXCEPTION_MAXIMUM_PARAMETERS
                            ? record->NumberParameters
                            : EXCEPTION_MAXIMUM_PARAMETERS;
  for (DWORD i = 0; i < info.parameterCount; ++i) info.parameters[i] = record->ExceptionInformation[i];
  CONTEXT* c = e->ContextRecord;
  info.eax = c->Eax;
  info.ebx = c->Ebx;
  info.ecx = c->Ecx;
  info.edx = c->Edx;
  info.esi = c->Esi;
  info.edi = c->Edi;
  info.ebp = c->Ebp;
  info.esp = c->Esp;
  // A fault on the way back must reach the outer guard, not loop here.
  ::TlsSetValue(g_slot, point->outer);
  ::TlsSetValue(g_landingSlot, point);

  // Resume in Landing on the faulting stack, well below the faulting frame, aligned as
  // after a call (a zero return address: Landing never returns).
  DWORD sp = (c->Esp - 512) & ~DWORD(15);
  sp -= 4;
  *reinterpret_cast<DWORD*>(sp) = 0;
  c->Esp = sp;
  c->Eip = reinterpret_cast<DWORD>(&Landing);
  return EXCEPTION_CONTINUE_EXECUTION;
}

void Install() {
  std::call_once(g_installOnce, [] {
    g_landingSlot = ::TlsAlloc();
    g_slot = ::TlsAlloc();
    if (g_slot != TLS_OUT_OF_INDEXES && g_landingSlot != TLS_OUT_OF_INDEXES)
      ::AddVectoredExceptionHandler(1, &FaultHandler);
    else
      g_slot = TLS_OUT_OF_INDEXES;
  });
}

}  // namespace

bool RunGuarded(void (*fn)(void*), void* arg, FaultInfo* info) {
  Install();
  if (g_slot == TLS_OUT_OF_INDEXES) {
    fn(arg);  // no slot for a recovery point: run unguarded rather than not at all
    return true;
  }
  RecoveryPoint point;
  point.outer = static_cast<RecoveryPoint*>(::TlsGetValue(g_slot));
  if (setjmp(point.jump) == 0) {
    ::TlsSetValue(g_slot, &point);
    bool ok = true;
    try {
      fn(arg);
    } catch (...) {
      ok = false;
    }
    ::TlsSetValue(g_slot, point.outer);
    if (!ok) {
      ::OutputDebugStringA("Exception occur!\n");
      if (info) *info = FaultInfo{};
    }
    return ok;
  }
  ::TlsSetValue(g_slot, point.outer);
  LogException(point.info);
  if (info) *info = point.info;
  return false;
}

void LogException(const FaultInfo& info) {
  char line[256];
  ::OutputDebugStringA("Exception occur!\n");
  std::snprintf(line, sizeof line, "  Code %lXH, Flags %lXH, Address %lXH, Parameters Count %lXH\n",
                static_cast<unsigned long>(info.code), static_cast<unsigned long>(info.flags),
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(info.address)),
                static_cast<unsigned long>(info.parameterCount));
  ::OutputDebugStringA(line);
  for (DWORD i = 0; i < info.parameterCount; ++i) {
    std::snprintf(line, sizeof line, "      %08lXH\n", static_cast<unsigned long>(info.parameters[i]));
    ::OutputDebugStringA(line);
  }
  ::OutputDebugStringA("  Registers:\n");
  std::snprintf(line, sizeof line, "    EAX %08lXH, EBX %08lXH, ECX %08lXH, EDX %08lXH,\n",
                static_cast<unsigned long>(info.eax), static_cast<unsigned long>(info.ebx),
                static_cast<unsigned long>(info.ecx), static_cast<unsigned long>(info.edx));
  ::OutputDebugStringA(line);
  std::snprintf(line, sizeof line, "    ESI %08lXH, EDI %08lXH, EBP %08lXH, ESP %08lXH,\n",
                static_cast<unsigned long>(info.esi), static_cast<unsigned long>(info.edi),
                static_cast<unsigned long>(info.ebp), static_cast<unsigned long>(info.esp));
  ::OutputDebugStringA(line);
}
