#pragma once
// Starts a console program silently with its standard output on a pipe.
#include <windows.h>

#include <string>

#include "UniqueRes.h"
#include "Utils.h"

// One anonymous pipe with both ends inheritable until the runner says otherwise.
class Pipe {
public:
    Pipe();   // throws Utils::Exception when the system refuses
    void Close();
    HANDLE Write() const { return m_write.Get(); }
    HANDLE Read() const { return m_read.Get(); }
    void CloseWrite() { m_write.Reset(); }
    void CloseRead() { m_read.Reset(); }

private:
    UniqueHandle m_write;
    UniqueHandle m_read;
};

class ProcessRunner {
public:
    static constexpr size_t kMaxCommandLine = 1023;

    ProcessRunner();   // throws Utils::Exception when a pipe cannot be made
    ~ProcessRunner() { CloseHandles(); }
    ProcessRunner(const ProcessRunner&) = delete;
    ProcessRunner& operator=(const ProcessRunner&) = delete;

    // Starts the child hidden; throws Utils::Exception when it cannot be started or the
    // command line is longer than kMaxCommandLine characters.
    void Start(const std::wstring& commandLine);
    void CloseHandles();

    HANDLE OutputRead() const { return m_output.Read(); }
    HANDLE Process() const { return m_process.Get(); }
    DWORD ProcessId() const { return m_processId; }

private:
    wchar_t m_commandLine[kMaxCommandLine + 1] = {};
    // The child's standard error goes to NUL: nobody reads it, and a full pipe there
    // would block the child, and with it the worker that waits for its exit.
    UniqueFile m_errorSink;
    Pipe m_output;
    Pipe m_input;
    UniqueHandle m_process;
    UniqueHandle m_thread;
    DWORD m_processId = 0;
    DWORD m_threadId = 0;
};
