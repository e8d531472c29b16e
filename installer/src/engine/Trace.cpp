// Trace lines with the process, thread, time, function and line prefix, written to
// the debugger output.
#include "Trace.h"

#include <windows.h>
#include <cwchar>
#include <vector>

namespace {
// A trace line longer than this is a fault of its caller; it is dropped, not allocated.
constexpr size_t kMaxTraceChars = 64 * 1024;
}

std::wstring FormatTraceLine(const wchar_t* function, int line, const wchar_t* format, va_list args)
{
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    wchar_t prefix[256];
    int n = __mingw_snwprintf(prefix, sizeof prefix / sizeof prefix[0],
                              L"<P%05lu><T%05lu><%04d-%02d-%02d %02d:%02d:%02d.%03d>(%ls)<%04d>: ",
                              static_cast<unsigned long>(::GetCurrentProcessId()),
                              static_cast<unsigned long>(::GetCurrentThreadId()),
                              t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds,
                              function ? function : L"", line);
    std::wstring out;
    if (n < 0 || static_cast<size_t>(n) >= sizeof prefix / sizeof prefix[0]) {
        // A very long function name: fall back to an unbounded build of the prefix.
        out = L"(";
        out += function ? function : L"";
        out += L"): ";
    } else {
        out.assign(prefix, static_cast<size_t>(n));
    }

    va_list count;
    va_copy(count, args);
    int need = __mingw_vsnwprintf(nullptr, 0, format ? format : L"", count);
    va_end(count);
    if (need < 0 || static_cast<size_t>(need) > kMaxTraceChars) return std::wstring();
    std::vector<wchar_t> msg(static_cast<size_t>(need) + 2);
    int got = __mingw_vsnwprintf(msg.data(), msg.size(), format ? format : L"", args);
    if (got < 0) return std::wstring();
    out.append(msg.data(), static_cast<size_t>(got));
    out += L"\r\n";
    return out;
}

void TraceLine(const wchar_t* function, int line, const wchar_t* format, ...)
{
    try {
        va_list args;
        va_start(args, format);
        std::wstring text = FormatTraceLine(function, line, format, args);
        va_end(args);
        if (!text.empty()) ::OutputDebugStringW(text.c_str());
    } catch (...) {
        // Out of memory: the line is dropped, the caller goes on.
    }
}
