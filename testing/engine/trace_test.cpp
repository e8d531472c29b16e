// Trace lines: the prefix format and delivery to the debugger output.
#include <gtest/gtest.h>

#include <cstdarg>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "Trace.h"
#include "Utils.h"

namespace {

std::wstring Format(const wchar_t* fn, int line, const wchar_t* fmt, ...)
{
    va_list a;
    va_start(a, fmt);
    std::wstring s = FormatTraceLine(fn, line, fmt, a);
    va_end(a);
    return s;
}

const std::regex kPrefix(
    R"(<P(\d{5,})><T(\d{5,})><(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3})>\(([^)]*)\)<(\d{4,})>: )");

TEST(Trace, PrefixAndMessage)
{
    std::string line = Utils::WideToMultiByte(Format(L"CurlClient::Head", 42, L"error:%d:%ls", 7, L"no route"), CP_UTF8);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, kPrefix)) << line;
    EXPECT_EQ(m.position(0), 0);
    EXPECT_EQ(std::stoul(m[1]), ::GetCurrentProcessId());
    EXPECT_EQ(std::stoul(m[2]), ::GetCurrentThreadId());
    EXPECT_EQ(m[10], "CurlClient::Head");
    EXPECT_EQ(m[11], "0042");
    EXPECT_EQ(m.suffix().str(), "error:7:no route\r\n");
}

TEST(Trace, WidthsAreMinimums)
{
    std::string line = Utils::WideToMultiByte(Format(L"F", 123456, L"plain text, 100%% sure"), CP_UTF8);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, kPrefix)) << line;
    EXPECT_EQ(m[11], "123456");
    EXPECT_EQ(m.suffix().str(), "plain text, 100% sure\r\n");
}

TEST(Trace, ConversionsOfTheWidePrintFamily)
{
    std::wstring s = Format(L"F", 1, L"%s|%ls|%lld|%ld|%f|%lf", "narrow", L"\x4e2d", 5000000000LL, 7L, 0.5, 1.25);
    EXPECT_NE(s.find(L": narrow|\x4e2d|5000000000|7|0.500000|1.250000\r\n"), std::wstring::npos) << Utils::WideToMultiByte(s, CP_UTF8);
}

// The debugger output reaches a process as an exception that a vectored handler sees
// before the system's own handler swallows it.
std::mutex g_lock;
std::vector<std::wstring> g_seen;
LONG CALLBACK Capture(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    std::lock_guard<std::mutex> lock(g_lock);
    if (r->ExceptionCode == 0x4001000A && r->NumberParameters >= 2)   // wide
        g_seen.push_back(std::wstring(reinterpret_cast<const wchar_t*>(r->ExceptionInformation[1])));
    else if (r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2)
        g_seen.push_back(Utils::MultiByteToWide(reinterpret_cast<const char*>(r->ExceptionInformation[1]), CP_ACP));
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(Trace, LinesReachTheDebuggerOutput)
{
    PVOID h = ::AddVectoredExceptionHandler(1, Capture);
    TraceLine(L"Test::Deliver", 77, L"hello %d", 5);
    ::RemoveVectoredExceptionHandler(h);
    std::lock_guard<std::mutex> lock(g_lock);
    bool found = false;
    for (const auto& s : g_seen)
        if (s.find(L"(Test::Deliver)<0077>: hello 5\r\n") != std::wstring::npos) found = true;
    EXPECT_TRUE(found) << "captured " << g_seen.size() << " debug strings";
}

}  // namespace
