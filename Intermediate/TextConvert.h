// Wide texts for the narrow outlets: the console and the core's log take the system
// code page, SQLite takes UTF-8.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

// At most maxChars characters of text (up to its terminator); "" for null.
std::string NarrowText(const wchar_t* text, UINT codePage = CP_ACP, size_t maxChars = 32767);
