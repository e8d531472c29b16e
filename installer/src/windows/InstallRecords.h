#pragma once
// The install records: where the product is installed, kept so that a later run of
// the installer (and the product's own uninstaller and tools) can find it. Two
// per-user registry values, "set.ini" in the install folder and the analytics INI
// under the user's application data; also the rule that keeps an installed old
// version, and the product's start once the setup is done.
#include <windows.h>

#include <string>

namespace InstallRecords {

extern const wchar_t kProductExeName[];      // "TallowmereDataRecovery.exe"
extern const wchar_t kUninstallEntryName[];  // "uninst.ep"
extern const wchar_t kInstallPathValue[];    // "InstallPath"
extern const wchar_t kUninstallEntryValue[]; // "UnInstallEp"

// A value taken from a line of output or a record, without the line ends left at its
// end: a setup that prints "\r\n" through a text-mode stream sends "\r\r\n", and a
// path with a trailing "\r" never exists.
std::wstring StripLineEnd(const std::wstring& text);

// Both taken as folders, whether they name the same one (letter case, "/" or "\",
// trailing separators, "." and ".." do not matter). Empty texts name no folder.
bool IsSameFolder(const std::wstring& a, const std::wstring& b);

// What the registry says of an earlier installation.
struct InstalledCopy {
    std::wstring installPath;         // "InstallPath", empty when none is recorded
    std::wstring uninstallEntryPath;  // "UnInstallEp", else installPath + "\uninst.ep"

    // installPath + "\TallowmereDataRecovery.exe"; empty without an install path.
    std::wstring ProgramPath() const;
    // A record counts only while its program is still there: a record left behind by a
    // copy removed by hand would offer "Open software" on nothing.
    bool IsInstalled() const;
};
InstalledCopy LookUpInstalledCopy();

// Whether installing into `chosenFolder` keeps the installed old version: the same
// folder as the recorded one, and its "set.ini" says IsOverride=false.
bool KeepsOldVersion(const std::wstring& recordedInstallPath, const std::wstring& chosenFolder);
// The old uninstaller that the pipeline is to run first, or empty when the old
// version is kept.
std::wstring UninstallerForPipeline(const InstalledCopy& copy, const std::wstring& chosenFolder);

// %APPDATA%\QuorvData\TallowmereDataRecovery (the shared documents folder when APPDATA
// cannot be read), and the analytics file in it.
std::wstring AnalyticsFolder();
std::wstring AnalyticsFile();

// The values the setup reports while it runs.
struct SetupReport {
    std::wstring installFolder;       // the folder chosen, replaced by "InstPath="
    std::wstring programPath;         // "ExePath=" / "StartExe="
    std::wstring uninstallEntryPath;  // "UninstEp="
    std::wstring startUrl;            // "StartUrl="
    int startupStyle = 0;             // 0 none, 1 at once, 2 on the user's request
    DWORD raiseDelay = 3000;          // ms
    DWORD closeDelay = 0xFFFFFFFF;    // ms
};

// Keeps what the setup reports during one installation and writes the records when,
// and only when, the engine reports the setup's success: every event of the
// installation goes through OnEvent, and nothing else here writes the records, so a
// failed or never started setup leaves none behind.
class CInstallRecorder {
public:
    // A new installation into the folder the user chose; forgets the last report.
    void Begin(const std::wstring& chosenFolder);
    // True when this event wrote the records.
    bool OnEvent(int code, double value, const std::wstring& text);
    const SetupReport& Report() const { return m_report; }
    bool Written() const { return m_written; }

private:
    SetupReport m_report;
    bool m_written = false;
};

// Starts the product as the setup asked: its start address when that has more than
// five characters (maximised), then the program when it exists (shown normally),
// after the window's pending messages had a short while.
void StartProduct(HWND window, const std::wstring& startUrl, const std::wstring& programPath);

}  // namespace InstallRecords
