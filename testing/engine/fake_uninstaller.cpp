// Stand-in for the old version's uninstaller. It appends its command line (UTF-8) to
// the file named by FAKE_UNINSTALL_LOG and answers as the switch FAKE_UNINSTALL says:
//   success             Encode=UTF8, Progress=0.5, State=Success
//   error               Encode=UTF8, Progress=0.2, an Error= line with Chinese text
//   burst-fail          400 Progress=0.1 lines in one write, then State=Fail across a
//                       1024-byte read, and the exit right after
//   crash               Progress=0.3, then the access-violation exit status, no State line
//   hang                Progress=0.3, then waits for the file FAKE_UNINSTALL_RELEASE (at
//                       most 300 s) and exits with 0 and no State line
//   success-then-error  State=Success, then Error=late
//   success-twice       State=Success twice
//   silent              no output, exit code 0
// With FAKE_UNINSTALL_CHECK set, the log line also says whether that file existed when
// the uninstaller started ("present" or "absent").
#include <windows.h>

#include <string>

#include "fake_common.h"

namespace {
using fake::Env;

void Put(const std::string& bytes) { fake::Put(::GetStdHandle(STD_OUTPUT_HANDLE), bytes); }

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
}  // namespace

int wmain()
{
    const std::wstring check = Env(L"FAKE_UNINSTALL_CHECK");
    const std::wstring log = Env(L"FAKE_UNINSTALL_LOG");
    if (!log.empty()) {
        std::string line = fake::ToUtf8(::GetCommandLineW());
        if (!check.empty()) line += Exists(check) ? "\tpresent" : "\tabsent";
        fake::AppendLine(log, line);
    }
    const std::wstring mode = Env(L"FAKE_UNINSTALL");
    if (mode == L"success") {
        Put("Encode=UTF8\r\nProgress=0.5\r\nState=Success\r\n");
    } else if (mode == L"error") {
        Put("Encode=UTF8\r\nProgress=0.2\r\nError=\xE5\x8D\xB8\xE8\xBD\xBD\xE5\x87\xBA\xE9\x94\x99\r\n");
    } else if (mode == L"burst-fail") {
        std::string all;
        for (int i = 0; i < 400; ++i) all += "Progress=0.1\r\n";
        Put(all);
        Put(std::string(1008, '#') + "\r\nState=Fail\r\n");
    } else if (mode == L"crash") {
        Put("Progress=0.3\r\n");
        ::TerminateProcess(::GetCurrentProcess(), 0xC0000005);
    } else if (mode == L"hang") {
        Put("Progress=0.3\r\n");
        const std::wstring release = Env(L"FAKE_UNINSTALL_RELEASE");
        for (int i = 0; i < 3000 && !(release.size() && Exists(release)); ++i) ::Sleep(100);
    } else if (mode == L"success-then-error") {
        Put("State=Success\r\nError=late\r\n");
    } else if (mode == L"success-twice") {
        Put("State=Success\r\n");
        Put("State=Success\r\n");
    }
    return 0;
}
