#pragma once
// Runs the downloaded setup silently and turns its output lines into events.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "InstallEvents.h"
#include "LineRunner.h"
#include "ProcessRunner.h"

class CInstaller : public CChildLineRunner {
public:
    CInstaller(InstallEventCallback handler, const std::wstring& setupPath, const std::wstring& installDir,
               bool ssc, bool dsc, bool adminact);
    ~CInstaller() override;

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

    std::wstring BuildCommandLine() const;
    // "State=" and "Error=" are the final lines.
    int ParseLine(const std::wstring& line) override;

private:
    void Run() override;

    std::wstring m_setupPath;
    std::wstring m_installDir;
    std::wstring m_commandLine;
    bool m_ssc;
    bool m_dsc;
    bool m_adminact;
    bool m_authorizationact = true;
    std::wstring m_language;
};
