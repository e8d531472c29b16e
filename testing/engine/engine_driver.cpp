// Runs one installation with no window and prints every event as
// "code<TAB>value<TAB>text" (UTF-8), one line each, in the order they arrive.
//
//   engine-driver --url URL --dir FOLDER [--type N] [--old-uninstaller PATH]
//                 [--lang L] [--dsc B] [--ssc B] [--adminact B] [--authorizationact B]
//                 [--timeout SECONDS] [--event-times] [--temp FOLDER] [-option=value ...]
//
// --type sets DownloadType: 3 two ranges, 2 the system's URL download, any other value
// one stream. --temp sets TMP and TEMP for this run, so that the installer's temporary
// folder (where the old uninstaller's copy goes) is the run's own.
// --event-times also writes "code<TAB>milliseconds since start" to standard error for
// every event (the download benchmark times the transfer with it).
//
// The -option=value arguments go through the installer's own command-line layer.
// Exit code: 0 when the install finished with 2003, 1 otherwise, 2 on a time-out.
#include <windows.h>
#include <shellapi.h>

#include <curl/curl.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "DownloadInstaller.h"
#include "InstallerConfig.h"
#include "Utils.h"

namespace {
std::mutex g_printLock;
HANDLE g_done = nullptr;
int g_lastCode = 0;
bool g_eventTimes = false;
LARGE_INTEGER g_startTicks, g_tickRate;

void WriteOut(const std::string& text)
{
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    ::WriteFile(out, text.data(), DWORD(text.size()), &written, nullptr);
}

std::string FormatValue(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    std::string s = buf;
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s;
}

bool IsFinalCode(int code) { return code == 1004 || code == 2003 || code == 2004 || code == 5004 || code == 5005; }

void OnEvent(int code, double value, const wchar_t* text)
{
    std::lock_guard<std::mutex> lock(g_printLock);
    std::string line = std::to_string(code) + "\t" + FormatValue(value) + "\t" +
                       Utils::WideToMultiByte(text ? text : L"", CP_UTF8) + "\n";
    WriteOut(line);
    if (g_eventTimes) {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        double ms = double(now.QuadPart - g_startTicks.QuadPart) * 1000.0 / double(g_tickRate.QuadPart);
        std::fprintf(stderr, "%d\t%.1f\n", code, ms);
        std::fflush(stderr);
    }
    if (IsFinalCode(code)) {
        g_lastCode = code;
        ::SetEvent(g_done);
    }
}

bool ParseBool(const std::wstring& v) { return v == L"true" || v == L"1"; }
}  // namespace

int wmain()
{
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    std::wstring url, dir, oldUninstaller, lang;
    bool dsc = true, ssc = true, adminact = true, authact = true;
    int timeoutSeconds = 900;
    std::wstring options = L"engine-driver";
    bool haveType = false;
    int type = 1;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        auto next = [&]() -> std::wstring { return i + 1 < argc ? std::wstring(argv[++i]) : std::wstring(); };
        if (a == L"--url") url = next();
        else if (a == L"--dir") dir = next();
        else if (a == L"--type") { haveType = true; type = _wtoi(next().c_str()); }
        else if (a == L"--old-uninstaller") oldUninstaller = next();
        else if (a == L"--lang") lang = next();
        else if (a == L"--dsc") dsc = ParseBool(next());
        else if (a == L"--ssc") ssc = ParseBool(next());
        else if (a == L"--adminact") adminact = ParseBool(next());
        else if (a == L"--authorizationact") authact = ParseBool(next());
        else if (a == L"--timeout") timeoutSeconds = _wtoi(next().c_str());
        else if (a == L"--event-times") g_eventTimes = true;
        else if (a == L"--temp") {
            const std::wstring temp = next();
            ::SetEnvironmentVariableW(L"TMP", temp.c_str());
            ::SetEnvironmentVariableW(L"TEMP", temp.c_str());
        }
        else options += L" \"" + a + L"\"";
    }
    ::LocalFree(argv);

    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) g_InstallerConfig.LibcurlUsable = false;
    g_InstallerConfig.ApplyCommandLine(CommandLineArgs(options));
    if (haveType) g_InstallerConfig.DownloadType = type;
    if (url.empty()) url = g_InstallerConfig.DownloadUrl;

    ::QueryPerformanceFrequency(&g_tickRate);
    ::QueryPerformanceCounter(&g_startTicks);
    g_done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    int exitCode = 1;
    {
        CDownloadInstaller pipeline(OnEvent, L"", L"", L"", true, true, true);
        pipeline.SetInstallOptions(url, oldUninstaller, dir, dsc, ssc, adminact, authact, lang);
        pipeline.Start();
        DWORD wait = ::WaitForSingleObject(g_done, DWORD(timeoutSeconds) * 1000);
        if (wait != WAIT_OBJECT_0) {
            std::fprintf(stderr, "engine-driver: no final event within %d s\n", timeoutSeconds);
            std::fflush(stderr);
            ::ExitProcess(2);
        }
        exitCode = g_lastCode == 2003 ? 0 : 1;
        // Leaving the scope joins the workers, which end right after their final event.
    }
    curl_global_cleanup();
    ::CloseHandle(g_done);
    return exitCode;
}
