// Named worker threads.
#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "Thread.h"

namespace {

std::mutex g_lock;
struct NameRecord { std::string name; DWORD threadId = 0; ULONG_PTR type = 0; int count = 0; } g_named;

// Sees the naming exception before the thread class's own handler, as a debugger would.
LONG CALLBACK SeeName(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (r->ExceptionCode == 0x406D1388 && r->NumberParameters == 4) {
        std::lock_guard<std::mutex> lock(g_lock);
        g_named.type = r->ExceptionInformation[0];
        g_named.name = reinterpret_cast<const char*>(r->ExceptionInformation[1]);
        g_named.threadId = DWORD(r->ExceptionInformation[2]);
        ++g_named.count;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(Thread, IsNamedAndRunsItsBody)
{
    PVOID h = ::AddVectoredExceptionHandler(1, SeeName);
    int seen = 0;
    DWORD ranOn = 0;
    {
        Utils::Thread t(&seen, L"ABDEF", [&ranOn](void* arg) {
            *static_cast<int*>(arg) = 42;
            ranOn = ::GetCurrentThreadId();
        });
        ASSERT_NE(t.Handle(), nullptr);
        {
            std::lock_guard<std::mutex> lock(g_lock);
            EXPECT_EQ(g_named.count, 1);
            EXPECT_EQ(g_named.type, 0x1000u);
            EXPECT_EQ(g_named.name, "ABDEF");
            EXPECT_EQ(g_named.threadId, t.Id());
        }
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
    PVOID h = ::AddVectoredExceptionHandler(1, SeeName);
    Utils::Thread t(nullptr, L"", [](void*) {});
    std::string expected = "t" + std::to_string(t.Id());
    {
        std::lock_guard<std::mutex> lock(g_lock);
        EXPECT_EQ(g_named.name, expected);
    }
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
