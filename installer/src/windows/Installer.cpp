// Installer.exe: the order in which the process comes up (search path, libcurl, one
// instance, settings, the framework) and goes down.
#include <windows.h>

#include <curl/curl.h>

#include <string>

#include "InstallerConfig.h"
#include "MainWnd.h"
#include "UIGdiplus.h"
#include "UIManager.h"
#include "UIShadow.h"
#include "Utils.h"

namespace {

// Later loads by bare name find these system copies, never a file planted beside
// the program.
void HardenLibrarySearch()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    if (HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
        auto setDefault =
            reinterpret_cast<SetDefaultDllDirectoriesFn>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
        if (setDefault) setDefault(0x800);
    }
    ::SetDllDirectoryW(L"");
    wchar_t system[MAX_PATH] = {0};
    const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    for (LPCWSTR name : {L"\\version.dll", L"\\ws2_32.dll", L"\\sxs.dll", L"\\dwmapi.dll", L"\\msimg32.dll",
                         L"\\d3d8.dll", L"\\ieframe.dll", L"\\ws2help.dll", L"\\WindowsCodecs.dll"}) {
        ::LoadLibraryW((std::wstring(system) + name).c_str());
    }
}

// The system's own crash handling goes on.
LONG WINAPI ContinueSearch(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    HardenLibrarySearch();
    ::SetUnhandledExceptionFilter(ContinueSearch);
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK) g_InstallerConfig.LibcurlUsable = false;

    Utils::SingleInstanceMutex mutex;
    mutex.Create(L"Installer_TallowmereDataRecovery");
    if (!mutex.Handle()) return -1;

    g_InstallerConfig.ApplyCommandLine();
    SkinUI::CWindowManagerUI::SetInstance(instance);
    SkinUI::CWindowManagerUI::SetResourceArchive7z(true);
    SkinUI::CWndShadow::Initialize(instance);
    SkinUI::CUIGdiplus::Owner gdiplus;

    {
        CMainWnd window;
        window.Create(nullptr, L"Tallowmere Data Recovery", 0x10CF0000, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT);
        window.CenterWindow();
        window.ShowModal();
        // The window and its pipeline go before libcurl does: a download may still
        // be ending on a worker.
    }
    curl_global_cleanup();
    mutex.Close();
    return 0;
}
