#pragma once
// What the setup runner and the old-version uninstaller runner share: a console program
// started on a named worker, its output read to its end as lines decoded with the code
// page in force, and the first final line kept and raised once the program has ended.
#include <windows.h>

#include <memory>
#include <string>

#include "InstallEvents.h"
#include "Thread.h"

class CChildLineRunner {
public:
    // Parse results.
    static constexpr int kGoOn = 0;
    static constexpr int kSucceeded = 1;
    static constexpr int kFailed = 1000;

    struct FinalEvent {
        int code = 0;
        double value = 0;
        std::wstring text;
    };

    virtual ~CChildLineRunner() = default;
    CChildLineRunner(const CChildLineRunner&) = delete;
    CChildLineRunner& operator=(const CChildLineRunner&) = delete;

    // Waits for the current run to end; false when it is still running after timeoutMs.
    bool Wait(DWORD timeoutMs = INFINITE);
    // One decoded line: raises its event, or, for a final line, keeps the final event for
    // the end of the run and returns kSucceeded or kFailed.
    virtual int ParseLine(const std::wstring& line) = 0;
    // Several lines separated by line feeds (each one as ParseLine); the first final
    // result is returned.
    int Parse(const std::wstring& text);
    UINT CodePage() const { return m_codePage; }
    const FinalEvent& Final() const { return m_final; }

protected:
    explicit CChildLineRunner(InstallEventCallback handler) : m_handler(std::move(handler)) {}
    // Starts Run() on a new worker of that name (after the last one has ended).
    void StartWorker(const wchar_t* name);
    // Derived destructors call it first: the worker runs their Run().
    void JoinWorker() { m_worker.reset(); }
    virtual void Run() = 0;
    // Starts the program and reads its output to the end; false when it cannot be
    // started. result: the first final result (kGoOn when there was none).
    bool RunChild(const std::wstring& commandLine, const wchar_t* operation, int& result, DWORD& exitCode);
    void Raise(int code, double value, const wchar_t* text) { if (m_handler) m_handler(code, value, text); }
    void RaiseFinal() { Raise(m_final.code, m_final.value, m_final.text.c_str()); }

    InstallEventCallback m_handler;
    UINT m_codePage = 0;
    FinalEvent m_final;

private:
    std::unique_ptr<Utils::Thread> m_worker;
};
