#pragma once
// Runs the installed old version's uninstaller silently and turns its output lines into
// the uninstall events.
#include <windows.h>

#include <memory>
#include <string>

#include "InstallEvents.h"
#include "LineRunner.h"

class CUninstaller : public CChildLineRunner {
public:
    CUninstaller(InstallEventCallback handler, const std::wstring& uninstallerPath, const std::wstring& oldInstallDir);
    ~CUninstaller() override;

    // Builds the command line and runs the uninstaller on a worker; returns at once.
    void Start();

    // The uninstaller's path in quotes (a temporary folder may hold blanks); the old
    // folder goes last and unquoted, as the uninstaller's "_?=" switch takes it.
    static std::wstring BuildCommandLine(const std::wstring& uninstallerPath, const std::wstring& oldInstallDir,
                                         bool consoleUserIsAdmin, bool processIsAdmin);
    // "Progress=" raises 5002; "State=" and "Error=" are the final lines.
    int ParseLine(const std::wstring& line) override;

private:
    void Run() override;

    std::wstring m_uninstallerPath;
    std::wstring m_oldInstallDir;
    std::wstring m_commandLine;
};
