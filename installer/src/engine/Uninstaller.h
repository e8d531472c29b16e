#pragma once
// Runs the installed old version's uninstaller silently and turns its output lines into
// the uninstall events.
#include <windows.h>

#include <memory>
#include <string>

#include "InstallEvents.h"
#include "Thread.h"

class CUninstaller {
public:
    // Parse results.
    static constexpr int kGoOn = 0;
    static constexpr int kSucceeded = 1;
    static constexpr int kFailed = 1000;

    CUninstaller(InstallEventCallback handler, const std::wstring& uninstallerPath, const std::wstring& oldInstallDir);
    ~CUninstaller();
    CUninstaller(const CUninstaller&) = delete;
    CUninstaller& operator=(const CUninstaller&) = delete;

    // Builds the command line and runs the uninstaller on a worker; returns at once.
    void Start();
    // Waits for the run to end; false when it is still running after timeoutMs.
    bool Wait(DWORD timeoutMs = INFINITE);

    // The uninstaller's path in quotes (a temporary folder may hold blanks); the old
    // folder goes last and unquoted, as the uninstaller's "_?=" switch takes it.
    static std::wstring BuildCommandLine(const std::wstring& uninstallerPath, const std::wstring& oldInstallDir,
                                         bool consoleUserIsAdmin, bool processIsAdmin);
    // One decoded line: raises 5002 for "Progress=", or, for "State=" and "Error=",
    // keeps the final event for the end of the run and returns kSucceeded or kFailed.
    int ParseLine(const std::wstring& line);
    // Several lines separated by line feeds (each one as ParseLine); the first final
    // result is returned.
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
    std::wstring m_uninstallerPath;
    std::wstring m_oldInstallDir;
    std::wstring m_commandLine;
    UINT m_codePage = 0;
    FinalEvent m_final;
    std::unique_ptr<Utils::Thread> m_worker;
};
