#pragma once
// Runs the downloaded setup silently and turns its output lines into events.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "InstallEvents.h"
#include "ProcessRunner.h"
#include "Thread.h"

class CInstaller {
public:
    // Parse results.
    static constexpr int kGoOn = 0;
    static constexpr int kSucceeded = 1;
    static constexpr int kFailed = 1000;

    CInstaller(InstallEventCallback handler, const std::wstring& setupPath, const std::wstring& installDir,
               bool ssc, bool dsc, bool adminact);
    ~CInstaller();

    void SetInstallDir(const std::wstring& dir) { m_installDir = dir; }
    void SetFlags(bool dsc, bool ssc, bool adminact, bool authorizationact)
    {
        m_dsc = dsc;
        m_ssc = ssc;
        m_adminact = adminact;
        m_authorizationact = authorizationact;
    }
    void SetLanguage(const std::wstring& language) { m_language = language; }

    // Builds the command line and runs the setup on a worker; returns at once.
    void Start();
    // Waits for the current run to end; false when it is still running after timeoutMs.
    bool Wait(DWORD timeoutMs = INFINITE);

    std::wstring BuildCommandLine() const;
    // One decoded line: raises its event, or, for "State=" and "Error=", keeps the
    // final event for the end of the run and returns kSucceeded or kFailed.
    int ParseLine(const std::wstring& line);
    // Several lines separated by line feeds (each one as ParseLine).
    int Parse(const std::wstring& text);
    UINT CodePage() const { return m_codePage; }

    struct FinalEvent {
        int code = 0;
        double value = 0;
        std::wstring text;
    };
    const FinalEvent& Final() const { return m_final; }

private:
    void Run();
    void Raise(int code, double value, const wchar_t* text) { if (m_handler) m_handler(code, value, text); }

    InstallEventCallback m_handler;
    std::wstring m_setupPath;
    std::wstring m_installDir;
    std::wstring m_commandLine;
    bool m_ssc;
    bool m_dsc;
    bool m_adminact;
    bool m_authorizationact = true;
    std::wstring m_language;
    UINT m_codePage = 0;
    FinalEvent m_final;
    std::unique_ptr<Utils::Thread> m_worker;
};
