// A child process whose standard output (and error) come back through one pipe.
#include "ProcessRunner.h"

#include <cwchar>

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
