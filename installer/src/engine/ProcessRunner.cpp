// A child process whose standard output (and error) come back through one pipe.
#include "ProcessRunner.h"

#include <algorithm>
#include <cwchar>

namespace {
constexpr DWORD kReadSize = 1024;
// How long the reader waits for the child between empty polls of its output.
constexpr DWORD kIdlePollMs = 25;
}  // namespace

std::vector<std::string> OutputLineSplitter::Feed(const char* data, size_t size)
{
    std::vector<std::string> lines;
    for (size_t i = 0; i < size; ++i) {
        char c = data[i];
        if (c == '\n') {
            if (!m_pending.empty() && m_pending.back() == '\r') m_pending.pop_back();
            lines.push_back(std::move(m_pending));
            m_pending.clear();
            m_overlong = false;
        } else if (m_pending.size() < kMaxLineBytes) {
            m_pending += c;
        } else {
            m_overlong = true;   // the rest of an overlong line is dropped
        }
    }
    return lines;
}

bool OutputLineSplitter::TakeRest(std::string& line)
{
    if (!m_pending.empty() && m_pending.back() == '\r') m_pending.pop_back();
    if (m_pending.empty()) return false;
    line = std::move(m_pending);
    m_pending.clear();
    return true;
}


Pipe::Pipe()
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, &sa, 0)) throw Utils::Exception();
    m_read.Reset(read);
    m_write.Reset(write);
}

void Pipe::Close()
{
    m_write.Reset();
    m_read.Reset();
}

ProcessRunner::ProcessRunner()
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    m_errorSink.Reset(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                    OPEN_EXISTING, 0, nullptr));
    if (!m_errorSink) throw Utils::Exception();
}

void ProcessRunner::Start(const std::wstring& commandLine)
{
    if (commandLine.size() > kMaxCommandLine) throw Utils::Exception(L"command line too long");
    // CreateProcessW may write into the command line, so the child starts from a copy.
    std::wmemcpy(m_commandLine, commandLine.c_str(), commandLine.size());
    m_commandLine[commandLine.size()] = L'\0';

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    si.hStdInput = m_input.Read();
    si.hStdOutput = m_output.Write();
    si.hStdError = m_errorSink.Get();

    // The parent's own ends must not leak into the child, or the pipe never breaks.
    ::SetHandleInformation(m_output.Read(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(m_input.Write(), HANDLE_FLAG_INHERIT, 0);

    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, m_commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        throw Utils::Exception();
    m_process.Reset(pi.hProcess);
    m_thread.Reset(pi.hThread);
    m_processId = pi.dwProcessId;
    m_threadId = pi.dwThreadId;

    // These belong to the child now; closing them here lets a read see the pipe break
    // once the child has ended.
    m_output.CloseWrite();
    m_errorSink.Reset();
    m_input.CloseRead();
}

void ProcessRunner::CloseHandles()
{
    m_thread.Reset();
    m_process.Reset();
    m_input.Close();
    m_output.Close();
    m_errorSink.Reset();
}

DWORD ProcessRunner::ReadLinesToEnd(const std::function<void(const std::string& line)>& onLine)
{
    OutputLineSplitter splitter;
    char buffer[kReadSize];
    bool exited = false;
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(OutputRead(), nullptr, 0, nullptr, &available, nullptr)) break;
        if (available > 0) {
            DWORD got = 0;
            if (!::ReadFile(OutputRead(), buffer, std::min<DWORD>(available, kReadSize), &got, nullptr) || got == 0)
                break;
            for (const std::string& line : splitter.Feed(buffer, got)) onLine(line);
            continue;
        }
        if (exited) break;
        if (::WaitForSingleObject(Process(), kIdlePollMs) == WAIT_OBJECT_0) exited = true;
    }
    std::string rest;
    if (splitter.TakeRest(rest)) onLine(rest);

    ::WaitForSingleObject(Process(), INFINITE);
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(Process(), &exitCode)) exitCode = DWORD(-1);
    return exitCode;
}
