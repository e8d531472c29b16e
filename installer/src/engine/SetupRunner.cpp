// The setup runner: the silent command line, the run of the downloaded setup, and the
// key=value lines of its output turned into events.
#include "SetupRunner.h"

#include <algorithm>
#include <cstring>

#include "InstallerConfig.h"
#include "ProcessRunner.h"
#include "Trace.h"
#include "Utils.h"

namespace {
const wchar_t* Bool(bool v) { return v ? L"true" : L"false"; }

std::wstring After(const std::wstring& line, const wchar_t* key) { return line.substr(std::wcslen(key)); }

double Number(const std::wstring& text)
{
    double v = 0;
    return Utils::ParseDouble(text, v) == Utils::Num::Ok ? v : 0.0;
}

// "%d" read as an unsigned 32-bit number: -1 gives 4294967295.
double Unsigned32(const std::wstring& text)
{
    int64_t v = 0;
    if (Utils::ParseInt64(text, v) != Utils::Num::Ok) return 0.0;
    return double(uint32_t(v));
}
}  // namespace

// ---- CInstaller --------------------------------------------------------------------

CInstaller::CInstaller(InstallEventCallback handler, const std::wstring& setupPath, const std::wstring& installDir,
                       bool ssc, bool dsc, bool adminact)
    : CChildLineRunner(std::move(handler)), m_setupPath(setupPath), m_installDir(installDir), m_ssc(ssc), m_dsc(dsc),
      m_adminact(adminact)
{
}

CInstaller::~CInstaller() { JoinWorker(); }

std::wstring CInstaller::BuildCommandLine() const
{
    std::wstring cmd = m_setupPath;
    cmd += L" /S -console=show -version=1.0.0";
    cmd += L" -adminact=";
    cmd += Bool(m_adminact);
    cmd += L" -authorizationact=";
    cmd += Bool(m_authorizationact);
    cmd += L" -dsc=";
    cmd += Bool(m_dsc);
    cmd += L" -ssc=";
    cmd += Bool(m_ssc);
    if (!m_language.empty()) cmd += L" -inslang=\"" + m_language + L"\"";
    if (!g_InstallerConfig.InstCmd.empty()) cmd += L" " + g_InstallerConfig.InstCmd;
    if (!m_installDir.empty()) {
        cmd += L" -instdir=\"" + m_installDir + L"\"";
        cmd += L" /D=" + m_installDir;
    }
    return cmd;
}

void CInstaller::Start()
{
    m_commandLine = BuildCommandLine();
    StartWorker(L"ABDEF");
}

int CInstaller::ParseLine(const std::wstring& line)
{
    using Utils::StartsWith;
    if (StartsWith(line, L"Progress=")) {
        Raise(EVT_IST_PROGRESS, Number(After(line, L"Progress=")), L"");
    } else if (StartsWith(line, L"InstPath=")) {
        Raise(EVT_INFO_INSTPATH, 0, After(line, L"InstPath=").c_str());
    } else if (StartsWith(line, L"State=")) {
        std::wstring state = Utils::Trim(After(line, L"State="));
        if (state == L"Success") {
            m_final = {EVT_IST_SUCCESS, 0, L""};
            return kSucceeded;
        }
        if (state == L"Fail") {
            m_final = {EVT_IST_FAIL, 0, L"安装包安装失败"};
            return kFailed;
        }
    } else if (StartsWith(line, L"InstallVersion=")) {
        // Read by the format "%d.%d.%d"; nothing uses it.
    } else if (StartsWith(line, L"ExePath=")) {
        std::wstring path = After(line, L"ExePath=");
        TraceLine(L"CInstaller::Parse", __LINE__, L"ExePath: %ls", path.c_str());
        Raise(EVT_INFO_EXEPATH, 0, path.c_str());
    } else if (StartsWith(line, L"StartExe=")) {
        Raise(EVT_INFO_EXEPATH, 0, After(line, L"StartExe=").c_str());
    } else if (StartsWith(line, L"UninstExePath=")) {
        Raise(EVT_INFO_UNINSTEXE, 0, After(line, L"UninstExePath=").c_str());
    } else if (StartsWith(line, L"UninstExe=")) {
        Raise(EVT_INFO_UNINSTEXE, 0, After(line, L"UninstExe=").c_str());
    } else if (StartsWith(line, L"UninstEp=")) {
        Raise(EVT_INFO_UNINSTEP, 0, After(line, L"UninstEp=").c_str());
    } else if (StartsWith(line, L"Error=")) {
        m_final = {EVT_IST_FAIL, 1000.0, After(line, L"Error=")};
        return kFailed;
    } else if (StartsWith(line, L"TopShowDetention=")) {
        Raise(EVT_INFO_TOPSHOW, Unsigned32(After(line, L"TopShowDetention=")), L"");
    } else if (StartsWith(line, L"FinsihCloseDetention=")) {
        Raise(EVT_INFO_FINISHCLOSE, Unsigned32(After(line, L"FinsihCloseDetention=")), L"");
    } else if (StartsWith(line, L"StartUrl=")) {
        Raise(EVT_INFO_STARTURL, 0, After(line, L"StartUrl=").c_str());
    } else if (StartsWith(line, L"StartupStyle=")) {
        std::wstring style = Utils::Trim(After(line, L"StartupStyle="));
        double v = style == L"AutoStartup" ? 1 : style == L"UserStartup" ? 2 : 0;
        Raise(EVT_INFO_STARTUPSTYLE, v, L"");
    } else if (StartsWith(line, L"Encode=")) {
        std::wstring enc = Utils::Trim(After(line, L"Encode="));
        if (enc == L"UTF8") {
            m_codePage = CP_UTF8;
        } else if (enc == L"ACP") {
            m_codePage = CP_ACP;
        } else {
            int32_t cp = 0;
            m_codePage = Utils::ParseInt32(enc, cp) == Utils::Num::Ok ? UINT(cp) : 0;
        }
    } else if (StartsWith(line, L"Message=")) {
        Raise(EVT_INFO_MESSAGE, 0, After(line, L"Message=").c_str());
    }
    return kGoOn;
}

void CInstaller::Run()
{
    Raise(EVT_IST_START, 0, L"");
    if (m_setupPath.empty()) {
        Raise(EVT_IST_FAIL, 1.0, L"");
        return;
    }
    Raise(EVT_IST_PROGRESS, 0, L"");

    int result = kGoOn;
    DWORD exitCode = 0;
    if (!RunChild(m_commandLine, L"CInstaller::Run", result, exitCode)) {
        Raise(EVT_IST_FAIL, 2.0, L"");
        return;
    }

    // The final event comes only once the setup has ended, so whoever deletes the
    // package on it never races the running setup.
    if (result != kGoOn)
        RaiseFinal();
    else if (exitCode == 0)
        Raise(EVT_IST_SUCCESS, 1.0, L"");
    else
        Raise(EVT_IST_FAIL, 0, L"安装包安装失败");
}
