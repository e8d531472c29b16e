#pragma once
// A worker thread that is created suspended, carries a name that debuggers show, traces
// its begin and end and is joined by waiting without limit.
#include <windows.h>

#include <functional>
#include <string>

namespace Utils {

class Thread {
public:
    using Body = std::function<void(void*)>;

    // Creates the thread suspended and names it; the owner resumes Handle() when ready.
    // When creation fails Handle() is null and the body never runs.
    Thread(void* argument, const std::wstring& name, Body body);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void Join();
    HANDLE Handle() const { return m_handle; }
    unsigned Id() const { return m_threadId; }
    // Resumes the suspended thread; false when there is none.
    bool Resume();

    // The debugger name a thread gets: the name in the ANSI code page, or "t<id>".
    static std::string DebuggerName(const std::wstring& name, unsigned threadId);

private:
    static unsigned __stdcall CallBack(void* self);
    void Name();

    unsigned m_threadId = 0;
    HANDLE m_handle = nullptr;
    Body m_body;
    void* m_argument;
    std::wstring m_name;
};

}  // namespace Utils
