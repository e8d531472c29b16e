// The previous-version uninstaller runner: the command line, the line table, and whole
// runs of the fake uninstaller for each of its answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Uninstaller.h"
#include "test_support.h"

namespace {

using testsupport::Event;
using testsupport::Recorder;

const wchar_t kFail[] = L"安装包卸载失败";

TEST(UninstallCommandLine, QuotedPathAndTheOldFolderLast)
{
    EXPECT_EQ(CUninstaller::BuildCommandLine(L"C:\\Temp dir\\\x4e2d\\un.exe", L"C:\\Program Files\\Old \x4e2d", false, true),
              L"\"C:\\Temp dir\\\x4e2d\\un.exe\" /S -adminact=false -authorizationact=true -console=show"
              L" _?=C:\\Program Files\\Old \x4e2d");
    EXPECT_EQ(CUninstaller::BuildCommandLine(L"u.exe", L"", true, false),
              L"\"u.exe\" /S -adminact=true -authorizationact=false -console=show _?=");
}

TEST(UninstallParse, LineTable)
{
    struct Case { const wchar_t* line; int result; std::vector<Event> events; Event final; } cases[] = {
        {L"Progress=0.5", 0, {{5002, 0.5, L""}}, {}},
        {L"Progress=", 0, {{5002, 0, L""}}, {}},
        {L"Progress=x", 0, {{5002, 0, L""}}, {}},
        {L"Error=disk busy", 1000, {}, {5005, 0, L"disk busy"}},
        {L"Error=", 1000, {}, {5005, 0, L""}},
        {L"State= Success ", 1, {}, {5003, 0, L""}},
        {L"State=Fail", 1000, {}, {5005, 0, kFail}},
        {L"State=success", 0, {}, {}},
        {L"State=", 0, {}, {}},
        {L" Progress=1", 0, {}, {}},
        {L"InstPath=C:\\x", 0, {}, {}},
    };
    for (const auto& c : cases) {
        Recorder rec;
        CUninstaller u(rec.Callback(), L"u.exe", L"");
        EXPECT_EQ(u.ParseLine(c.line), c.result) << Utils::WideToMultiByte(c.line, CP_UTF8);
        EXPECT_EQ(rec.events, c.events) << Utils::WideToMultiByte(c.line, CP_UTF8);
        EXPECT_EQ(Event({u.Final().code, u.Final().value, u.Final().text}), c.final)
            << Utils::WideToMultiByte(c.line, CP_UTF8);
    }
}

TEST(UninstallParse, EncodeWordsAndTheFirstFinalResult)
{
    CUninstaller u(nullptr, L"u.exe", L"");
    struct { const wchar_t* line; UINT cp; } enc[] = {
        {L"Encode=UTF8", 65001}, {L"Encode=ACP", 0}, {L"Encode= UTF8 ", 65001}, {L"Encode=936", 0}, {L"Encode=utf8", 0},
    };
    for (const auto& e : enc) {
        u.ParseLine(e.line);
        EXPECT_EQ(u.CodePage(), e.cp) << Utils::WideToMultiByte(e.line, CP_UTF8);
    }
    EXPECT_EQ(u.Parse(L"Progress=0.1\nState=Success\nError=late"), 1);
    EXPECT_EQ(u.Parse(L"Error=first\nState=Success"), 1000);
    EXPECT_EQ(u.Parse(L"Progress=0.1\n\nnothing"), 0);
}

struct RunCase {
    const char* name;
    const wchar_t* mode;
    std::vector<Event> events;
};

std::vector<Event> RunFakeUninstaller(const wchar_t* mode, const std::wstring& path, std::wstring* commandLine = nullptr)
{
    testsupport::TempFolder dir(L"uninstall");
    const std::wstring log = dir.File(L"log.txt");
    ::SetEnvironmentVariableW(L"FAKE_UNINSTALL", mode);
    ::SetEnvironmentVariableW(L"FAKE_UNINSTALL_LOG", log.c_str());
    Recorder rec;
    {
        CUninstaller u(rec.Callback(), path, L"C:\\Old Version \x4e2d");
        u.Start();
        if (!u.Wait(120000)) {
            ADD_FAILURE() << "uninstaller run did not end";
            ::ExitProcess(3);
        }
    }
    ::SetEnvironmentVariableW(L"FAKE_UNINSTALL", nullptr);
    ::SetEnvironmentVariableW(L"FAKE_UNINSTALL_LOG", nullptr);
    if (commandLine) *commandLine = Utils::MultiByteToWide(testsupport::ReadFileBytes(log), CP_UTF8);
    return rec.events;
}

TEST(UninstallRun, EveryAnswerOfTheUninstaller)
{
    const std::wstring fake = testsupport::ProgramFolder() + L"\\fake-uninstaller.exe";
    const Event launch{5002, 0, L""};
    std::vector<Event> burst{launch};
    for (int i = 0; i < 400; ++i) burst.push_back({5002, 0.1, L""});
    burst.push_back({5005, 0, kFail});
    const RunCase cases[] = {
        {"success", L"success", {launch, {5002, 0.5, L""}, {5003, 0, L""}}},
        {"error line", L"error", {launch, {5002, 0.2, L""}, {5005, 0, L"卸载出错"}}},
        {"State=Fail after a burst, right before the exit", L"burst-fail", burst},
        {"crash without a State line", L"crash", {launch, {5002, 0.3, L""}, {5005, 0, kFail}}},
        {"success then error: the first final line wins", L"success-then-error", {launch, {5003, 0, L""}}},
        {"success twice: one 5003", L"success-twice", {launch, {5003, 0, L""}}},
        {"silent exit 0", L"silent", {launch, {5003, 1.0, L""}}},
    };
    for (const auto& c : cases) EXPECT_EQ(RunFakeUninstaller(c.mode, fake), c.events) << c.name;
}

TEST(UninstallRun, PathWithBlanksAndMissingOrBadPrograms)
{
    // The copy sits in a folder with blanks and non-Latin letters, beside a program whose
    // name is the path's first word: quoted, the copy is what starts.
    testsupport::TempFolder dir(L"uncopy");
    const std::wstring folder = dir.File(L"old version \x4e2d\x6587");
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW((testsupport::ProgramFolder() + L"\\fake-setup.exe").c_str(), dir.File(L"old.exe").c_str(),
                            FALSE));
    const std::wstring copy = folder + L"\\TallowmereDataRecovery_un_asa.exe";
    ASSERT_TRUE(::CopyFileW((testsupport::ProgramFolder() + L"\\fake-uninstaller.exe").c_str(), copy.c_str(), FALSE));
    std::wstring logged;
    EXPECT_EQ(RunFakeUninstaller(L"success", copy, &logged),
              (std::vector<Event>{{5002, 0, L""}, {5002, 0.5, L""}, {5003, 0, L""}}));
    EXPECT_EQ(logged.substr(0, copy.size() + 6), L"\"" + copy + L"\" /S ");
    EXPECT_NE(logged.find(L" -console=show _?=C:\\Old Version \x4e2d"), std::wstring::npos);

    EXPECT_EQ(RunFakeUninstaller(L"success", dir.File(L"missing.exe")),
              (std::vector<Event>{{5004, 1.0, L"可执行卸载文件不存在"}}));
    EXPECT_EQ(RunFakeUninstaller(L"success", L""), (std::vector<Event>{{5004, 1.0, L"可执行卸载文件不存在"}}));
    const std::wstring notAProgram = dir.File(L"not a program.exe");
    ASSERT_TRUE(testsupport::WriteFileBytes(notAProgram, "MZ"));
    EXPECT_EQ(RunFakeUninstaller(L"success", notAProgram), (std::vector<Event>{{5002, 0, L""}, {5004, 2.0, L""}}));
}

}  // namespace
