// Stand-in for the downloaded setup program. It appends its command line (UTF-8) to
// the file named by FAKE_SETUP_LOG and plays the script named by FAKE_SETUP_SCRIPT,
// one directive a line (UTF-8):
//   line TEXT          TEXT and CRLF on standard output, one WriteFile
//   cp N TEXT          the same, TEXT converted to code page N first
//   burst N TEXT       N copies of TEXT CRLF in one WriteFile
//   split TEXT         a filler line, so that TEXT straddles a 1024-byte read
//   nocrlf TEXT        TEXT with no line end
//   stderr N           N bytes on standard error
//   sleep MS           pause
//   exit N             end with that exit code (default 0)
//   copyself PATH      copy this program file to PATH (to compare what was run)
//   copy SRC|DST       copy a file (the product a setup installs)
//   touch PATH         create an empty file
//   crash              end with the access-violation status, as a crashed program does
//   crash-real         raise a real access violation
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fake_common.h"

namespace {
using fake::Env;
using fake::Put;
using fake::ToUtf8;

std::string Recode(const std::string& utf8, UINT cp)
{
    if (utf8.empty()) return utf8;
    int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring w(size_t(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &w[0], n);
    int m = ::WideCharToMultiByte(cp, 0, w.data(), n, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(m), '\0');
    ::WideCharToMultiByte(cp, 0, w.data(), n, &out[0], m, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& utf8)
{
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &w[0], n);
    return w;
}

}  // namespace

int wmain()
{
    std::wstring log = Env(L"FAKE_SETUP_LOG");
    if (!log.empty()) fake::AppendLine(log, ToUtf8(::GetCommandLineW()));
    std::wstring scriptPath = Env(L"FAKE_SETUP_SCRIPT");
    std::string script;
    if (!scriptPath.empty()) {
        HANDLE f = ::CreateFileW(scriptPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            char buf[4096];
            DWORD got = 0;
            while (::ReadFile(f, buf, sizeof buf, &got, nullptr) && got) script.append(buf, got);
            ::CloseHandle(f);
        }
    }
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    int exitCode = 0;
    size_t from = 0;
    while (from < script.size()) {
        size_t lf = script.find('\n', from);
        std::string line = script.substr(from, lf == std::string::npos ? std::string::npos : lf - from);
        from = lf == std::string::npos ? script.size() : lf + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t sp = line.find(' ');
        std::string op = line.substr(0, sp);
        std::string arg = sp == std::string::npos ? std::string() : line.substr(sp + 1);
        if (op == "line") {
            Put(out, arg + "\r\n");
        } else if (op == "cp") {
            size_t s2 = arg.find(' ');
            UINT cp = UINT(std::atoi(arg.substr(0, s2).c_str()));
            Put(out, Recode(s2 == std::string::npos ? "" : arg.substr(s2 + 1), cp) + "\r\n");
        } else if (op == "burst") {
            size_t s2 = arg.find(' ');
            int n = std::atoi(arg.substr(0, s2).c_str());
            std::string text = s2 == std::string::npos ? "" : arg.substr(s2 + 1);
            std::string all;
            for (int i = 0; i < n; ++i) all += text + "\r\n";
            Put(out, all);
        } else if (op == "split") {
            // 1010 bytes of filler, so the next line crosses the 1024-byte mark.
            Put(out, std::string(1008, '#') + "\r\n" + arg + "\r\n");
        } else if (op == "nocrlf") {
            Put(out, arg);
        } else if (op == "stderr") {
            Put(err, std::string(size_t(std::atoi(arg.c_str())), 'e'));
        } else if (op == "sleep") {
            ::Sleep(DWORD(std::atoi(arg.c_str())));
        } else if (op == "exit") {
            exitCode = std::atoi(arg.c_str());
        } else if (op == "copyself") {
            wchar_t self[MAX_PATH];
            ::GetModuleFileNameW(nullptr, self, MAX_PATH);
            ::CopyFileW(self, Wide(arg).c_str(), FALSE);
        } else if (op == "copy") {
            const size_t bar = arg.find('|');
            if (bar != std::string::npos)
                ::CopyFileW(Wide(arg.substr(0, bar)).c_str(), Wide(arg.substr(bar + 1)).c_str(), FALSE);
        } else if (op == "touch") {
            HANDLE f = ::CreateFileW(Wide(arg).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (f != INVALID_HANDLE_VALUE) ::CloseHandle(f);
        } else if (op == "crash") {
            ::TerminateProcess(::GetCurrentProcess(), 0xC0000005);
        } else if (op == "crash-real") {
            ::RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
        }
    }
    return exitCode;
}
