// Named worker threads: the debugger naming, the suspended start, the join.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "Thread.h"

namespace {

std::mutex g_lock;
struct NameRecord { std::string name; DWORD threadId = 0; ULONG_PTR type = 0; };
std::vector<NameRecord> g_named;   // every naming seen, from whichever test

void ForgetNamings()
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_named.clear();
}

// The namings of one thread: other tests' threads may be named in the same process.
std::vector<NameRecord> NamingsOf(DWORD threadId)
{
    std::lock_guard<std::mutex> lock(g_lock);
    std::vector<NameRecord> out;
    for (const NameRecord& r : g_named)
        if (r.threadId == threadId) out.push_back(r);
    return out;
}

// Sees the naming exception before the thread class's own handler, as a debugger would.
LONG CALLBACK SeeName(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (r->ExceptionCode == 0x406D1388 && r->NumberParameters == 4) {
        std::lock_guard<std::mutex> lock(g_lock);
        g_named.push_back({reinterpret_cast<const char*>(r->ExceptionInformation[1]),
                           DWORD(r->ExceptionInformation[2]), r->ExceptionInformation[0]});
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(Thread, IsNamedAndRunsItsBody)
{
    ForgetNamings();   // a thread id may come back once its thread has ended
    PVOID h = ::AddVectoredExceptionHandler(1, SeeName);
    int seen = 0;
    DWORD ranOn = 0;
    {
        Utils::Thread t(&seen, L"ABDEF", [&ranOn](void* arg) {
            *static_cast<int*>(arg) = 42;
            ranOn = ::GetCurrentThreadId();
        });
        ASSERT_NE(t.Handle(), nullptr);
        const std::vector<NameRecord> named = NamingsOf(t.Id());
        ASSERT_EQ(named.size(), 1u);   // named once, before it runs
        EXPECT_EQ(named[0].type, 0x1000u);
        EXPECT_EQ(named[0].name, "ABDEF");
        EXPECT_EQ(seen, 0);   // created suspended
        DWORD id = t.Id();
        EXPECT_TRUE(t.Resume());
        t.Join();
        EXPECT_EQ(seen, 42);
        EXPECT_EQ(ranOn, id);
        EXPECT_EQ(t.Handle(), nullptr);
        EXPECT_EQ(t.Id(), unsigned(-1));
        t.Join();   // harmless the second time
    }
    ::RemoveVectoredExceptionHandler(h);
}

TEST(Thread, EmptyNameUsesTheThreadId)
{
    EXPECT_EQ(Utils::Thread::DebuggerName(L"", 5072), "t5072");
    ForgetNamings();   // a thread id may come back once its thread has ended
    PVOID h = ::AddVectoredExceptionHandler(1, SeeName);
    Utils::Thread t(nullptr, L"", [](void*) {});
    const std::vector<NameRecord> named = NamingsOf(t.Id());
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0].name, "t" + std::to_string(t.Id()));
    t.Resume();
    ::RemoveVectoredExceptionHandler(h);
}

TEST(Thread, DestroyWaitsForTheBody)
{
    volatile bool done = false;
    {
        Utils::Thread t(nullptr, L"UnInstaller", [&done](void*) {
            ::Sleep(200);
            done = true;
        });
        t.Resume();
    }
    EXPECT_TRUE(done);
}

}  // namespace
