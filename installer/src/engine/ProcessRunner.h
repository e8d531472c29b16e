#pragma once
// Starts a console program silently with its standard output on a pipe, and reads that
// output as lines to its end.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

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

// Splits a child's output into lines across reads: bytes are kept until a line feed,
// a carriage return before it is dropped, and a line is cut at kMaxLineBytes.
class OutputLineSplitter {
public:
    static constexpr size_t kMaxLineBytes = 8192;
    // Appends bytes; returns the lines completed by them.
    std::vector<std::string> Feed(const char* data, size_t size);
    // The unterminated rest once the output has ended (empty when there is none).
    bool TakeRest(std::string& line);

private:
    std::string m_pending;
    bool m_overlong = false;
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
    // Reads the child's output to its end, whole lines to onLine (the child's exit alone
    // does not end the reading: its last lines may still be in the pipe), then waits for
    // the child; returns its exit code (-1 when it cannot be read).
    DWORD ReadLinesToEnd(const std::function<void(const std::string& line)>& onLine);

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
