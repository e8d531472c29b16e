// Stand-in for the installed product "TallowmereDataRecovery.exe":
//   fake-product MS [STARTED_FILE] [ENDED_FILE]
// creates STARTED_FILE, stays running for MS milliseconds (default 2000), then creates
// ENDED_FILE, so a test can see the installer wait for the running product. With
// FAKE_PRODUCT_LOG set it appends its command line and working folder there (UTF-8);
// without MS it stays FAKE_PRODUCT_MS milliseconds when that is set.
#include <windows.h>

#include <cwchar>

#include "fake_common.h"

static void Touch(const wchar_t* path)
{
    HANDLE f = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) ::CloseHandle(f);
}

int wmain(int argc, wchar_t** argv)
{
    const std::wstring log = fake::Env(L"FAKE_PRODUCT_LOG");
    if (!log.empty()) {
        wchar_t cwd[MAX_PATH] = {0};
        ::GetCurrentDirectoryW(MAX_PATH, cwd);
        fake::AppendLine(log, fake::ToUtf8(::GetCommandLineW()) + "\t" + fake::ToUtf8(cwd));
    }
    // Started without arguments (as the installer starts the product): FAKE_PRODUCT_MS or 2 s.
    const std::wstring envMs = fake::Env(L"FAKE_PRODUCT_MS");
    DWORD ms = argc > 1 ? DWORD(std::wcstoul(argv[1], nullptr, 10))
                        : envMs.empty() ? 2000 : DWORD(std::wcstoul(envMs.c_str(), nullptr, 10));
    if (argc > 2) Touch(argv[2]);
    ::Sleep(ms);
    if (argc > 3) Touch(argv[3]);
    return 0;
}
