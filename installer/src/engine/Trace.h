#pragma once
// Diagnostic trace of the engine, written to the debugger output only.
//
// Message formats follow C99 wide printf: "%ls" takes a wide text, "%s" a narrow one,
// "%lld" a 64-bit number.

// Writes "<Ppid><Ttid><date time.ms>(function)<line>: message\r\n"; never fails.
void TraceLine(const wchar_t* function, int line, const wchar_t* format, ...);

// Builds the same line without writing it (the writer and the tests share it).
#include <cstdarg>
#include <string>
std::wstring FormatTraceLine(const wchar_t* function, int line, const wchar_t* format, va_list args);
