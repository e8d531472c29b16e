// Named worker threads: created suspended, named for a debugger, joined on destruction.
#include "Thread.h"

#include <process.h>

#include <mutex>

#include "Trace.h"
#include "Utils.h"

namespace Utils {

namespace {
constexpr DWORD kSetThreadNameException = 0x406D1388;

// The naming exception is meant for a debugger, which sees it before any handler. With
// no debugger this handler, which knows only that one code, resumes the raising thread;
// GCC has no structured handlers to catch it on the spot.
LONG CALLBACK ContinueAfterThreadName(EXCEPTION_POINTERS* info)
{
    if (info && info->ExceptionRecord && info->ExceptionRecord->ExceptionCode == kSetThreadNameException)
        return EXCEPTION_CONTINUE_EXECUTION;
    return EXCEPTION_CONTINUE_SEARCH;
}

void InstallNameHandler()
{
    static std::once_flag once;
    std::call_once(once, [] { ::AddVectoredExceptionHandler(0, ContinueAfterThreadName); });
}
}  // namespace

Thread::Thread(void* argument, const std::wstring& name, Body body)
    : m_body(std::move(body)), m_argument(argument), m_name(name)
{
    uintptr_t h = ::_beginthreadex(nullptr, 0, &Thread::CallBack, this, CREATE_SUSPENDED, &m_threadId);
    m_handle = reinterpret_cast<HANDLE>(h);
    if (m_handle) Name();
}

Thread::~Thread()
{
    Join();
    m_name.clear();
    m_body = nullptr;
}

bool Thread::Resume()
{
    return m_handle && ::ResumeThread(m_handle) != DWORD(-1);
}

void Thread::Join()
{
    if (!m_handle) return;
    ::WaitForSingleObject(m_handle, INFINITE);
    UniqueHandle closer(m_handle);
    m_handle = nullptr;
    m_threadId = unsigned(-1);
}

std::string Thread::DebuggerName(const std::wstring& name, unsigned threadId)
{
    if (name.empty()) return "t" + std::to_string(threadId);
    return WideToMultiByte(name, CP_ACP);
}

void Thread::Name()
{
    InstallNameHandler();
    std::string narrow = DebuggerName(m_name, m_threadId);
    ULONG_PTR record[4] = {0x1000, reinterpret_cast<ULONG_PTR>(narrow.c_str()), ULONG_PTR(m_threadId), 0};
    ::RaiseException(kSetThreadNameException, 0, 4, record);
}

unsigned __stdcall Thread::CallBack(void* self)
{
    auto* thread = static_cast<Thread*>(self);
    TraceLine(L"Utils::Thread::CallBack", 101, L"THREAD BEGIN");
    if (thread->m_body) thread->m_body(thread->m_argument);
    TraceLine(L"Utils::Thread::CallBack", 107, L"THREAD END");
    return 0;   // the runtime ends the thread as _endthreadex(0) would
}

}  // namespace Utils
