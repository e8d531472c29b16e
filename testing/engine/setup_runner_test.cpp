// The setup runner: the exact command line, the line table, and whole runs of the fake
// setup with the output faults that lose lines.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "InstallerConfig.h"
#include "SetupRunner.h"
#include "test_support.h"

namespace {

using testsupport::Event;
using testsupport::Recorder;

TEST(SetupCommandLine, ExactSwitchesInOrder)
{
    struct Case {
        const wchar_t* dir;
        const wchar_t* lang;
        const wchar_t* instCmd;
        bool dsc, ssc, adminact, authact;
        const wchar_t* expected;
    } cases[] = {
        {L"", L"", L"", true, false, false, true,
         L"\"C:\\p\\__Package_TallowmereDataRecovery.exe\" /S -console=show -version=1.0.0 -adminact=false"
         L" -authorizationact=true -dsc=true -ssc=false"},
        {L"C:\\Program Files\\\x4e2d\x6587 dir", L"zh-CN", L"-channel=7 -x", false, true, true, false,
         L"\"C:\\p\\__Package_TallowmereDataRecovery.exe\" /S -console=show -version=1.0.0 -adminact=true"
         L" -authorizationact=false -dsc=false -ssc=true -inslang=\"zh-CN\" -channel=7 -x"
         L" -instdir=\"C:\\Program Files\\\x4e2d\x6587 dir\" /D=C:\\Program Files\\\x4e2d\x6587 dir"},
    };
    for (const auto& c : cases) {
        g_InstallerConfig.InstCmd = c.instCmd;
        CInstaller setup(nullptr, L"\"C:\\p\\__Package_TallowmereDataRecovery.exe\"", c.dir, true, true, false);
        setup.SetFlags(c.dsc, c.ssc, c.adminact, c.authact);
        setup.SetLanguage(c.lang);
        EXPECT_EQ(setup.BuildCommandLine(), c.expected);
    }
    g_InstallerConfig.InstCmd.clear();
}

TEST(SetupParse, LineTable)
{
    struct Case { const wchar_t* line; int result; std::vector<Event> events; } cases[] = {
        {L"Progress=0.5", 0, {{2002, 0.5, L""}}},
        {L"Progress=", 0, {{2002, 0, L""}}},
        {L"InstPath=C:\\x y", 0, {{3000, 0, L"C:\\x y"}}},
        {L"InstPath=", 0, {{3000, 0, L""}}},
        {L"State= Success ", 1, {}},
        {L"State=Fail", 1000, {}},
        {L"State=success", 0, {}},
        {L"InstallVersion=1.2.3", 0, {}},
        {L"ExePath=C:\\a.exe", 0, {{3001, 0, L"C:\\a.exe"}}},
        {L"StartExe=C:\\b.exe", 0, {{3001, 0, L"C:\\b.exe"}}},
        {L"UninstExePath=C:\\u.exe", 0, {{3002, 0, L"C:\\u.exe"}}},
        {L"UninstExe=C:\\v.exe", 0, {{3002, 0, L"C:\\v.exe"}}},
        {L"UninstEp=C:\\w.exe", 0, {{3003, 0, L"C:\\w.exe"}}},
        {L"Error=disk full", 1000, {}},
        {L"TopShowDetention=5000", 0, {{3007, 5000, L""}}},
        {L"TopShowDetention=", 0, {{3007, 0, L""}}},
        {L"TopShowDetention=-1", 0, {{3007, 4294967295.0, L""}}},
        {L"FinsihCloseDetention=30", 0, {{3008, 30, L""}}},
        {L"FinishCloseDetention=30", 0, {}},
        {L"StartUrl=http://h/x", 0, {{3004, 0, L"http://h/x"}}},
        {L"StartupStyle= AutoStartup ", 0, {{3005, 1, L""}}},
        {L"StartupStyle=UserStartup", 0, {{3005, 2, L""}}},
        {L"StartupStyle=autostartup", 0, {{3005, 0, L""}}},
        {L"StartupStyle=NonStartup", 0, {{3005, 0, L""}}},
        {L"Message=\x4f60\x597d", 0, {{3009, 0, L"\x4f60\x597d"}}},
        {L"Unknown=1", 0, {}},
        {L" Progress=1", 0, {}},
    };
    for (const auto& c : cases) {
        Recorder rec;
        CInstaller setup(rec.Callback(), L"\"x\"", L"", true, true, false);
        EXPECT_EQ(setup.ParseLine(c.line), c.result) << Utils::WideToMultiByte(c.line, CP_UTF8);
        EXPECT_EQ(rec.events, c.events) << Utils::WideToMultiByte(c.line, CP_UTF8);
    }
}

TEST(SetupParse, FinalEventsAndEncode)
{
    CInstaller setup(nullptr, L"\"x\"", L"", true, true, false);
    setup.ParseLine(L"Error=boom");
    EXPECT_EQ(setup.Final().code, 2004);
    EXPECT_EQ(setup.Final().value, 1000.0);
    EXPECT_EQ(setup.Final().text, L"boom");
    setup.ParseLine(L"State=Fail");
    EXPECT_EQ(setup.Final().text, L"安装包安装失败");
    struct { const wchar_t* line; UINT cp; } enc[] = {
        {L"Encode=UTF8", 65001}, {L"Encode=936", 936}, {L"Encode= ACP", 0},
        {L"Encode=UTF8", 65001}, {L"Encode=letters", 0}, {L"Encode=99999999999", 0},
    };
    for (const auto& e : enc) {
        setup.ParseLine(e.line);
        EXPECT_EQ(setup.CodePage(), e.cp) << Utils::WideToMultiByte(e.line, CP_UTF8);
    }
}

TEST(OutputLines, SplitsAcrossReadsAndStripsCr)
{
    OutputLineSplitter s;
    auto a = s.Feed("Sta", 3);
    EXPECT_TRUE(a.empty());
    auto b = s.Feed("te=Fail\r\nProg", 13);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0], "State=Fail");
    auto c = s.Feed("ress=1\n\r\n", 9);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0], "Progress=1");
    EXPECT_EQ(c[1], "");
    s.Feed("tail", 4);
    std::string rest;
    EXPECT_TRUE(s.TakeRest(rest));
    EXPECT_EQ(rest, "tail");
    EXPECT_FALSE(s.TakeRest(rest));

    std::string huge(OutputLineSplitter::kMaxLineBytes + 500, 'x');
    huge += "\n";
    auto d = s.Feed(huge.data(), huge.size());
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0].size(), OutputLineSplitter::kMaxLineBytes);
}

// Whole runs of the fake setup ------------------------------------------------------

struct RunCase {
    const char* name;
    std::string script;
    std::vector<Event> events;
};

std::vector<Event> RunFakeSetup(const std::string& script, const std::wstring& setupPath = std::wstring())
{
    testsupport::TempFolder dir(L"setup");
    std::wstring scriptPath = dir.File(L"script.txt");
    testsupport::WriteFileBytes(scriptPath, script);
    ::SetEnvironmentVariableW(L"FAKE_SETUP_SCRIPT", scriptPath.c_str());
    Recorder rec;
    {
        std::wstring path = setupPath.empty() ? L"\"" + testsupport::ProgramFolder() + L"\\fake-setup.exe\"" : setupPath;
        CInstaller setup(rec.Callback(), path, L"", true, true, false);
        setup.Start();
        if (!setup.Wait(60000)) {
            ADD_FAILURE() << "setup run did not end";
            ::ExitProcess(3);
        }
    }
    ::SetEnvironmentVariableW(L"FAKE_SETUP_SCRIPT", nullptr);
    return rec.events;
}

const Event kStart{2001, 0, L""};
const Event kLaunch{2002, 0, L""};

TEST(SetupRun, OutputFaults)
{
    std::string burst;
    for (int i = 0; i < 300; ++i) burst += "line Progress=0.1\n";
    std::vector<Event> burstEvents{kStart, kLaunch};
    for (int i = 0; i < 300; ++i) burstEvents.push_back({2002, 0.1, L""});
    burstEvents.push_back({2004, 0, L"安装包安装失败"});

    std::vector<RunCase> cases = {
        {"silent success", "exit 0\n", {kStart, kLaunch, {2003, 1.0, L""}}},
        {"state success then more output and exit",
         "line InstPath=C:\\T\nline State=Success\nline Message=late\nburst 2000 noise\n",
         {kStart, kLaunch, {3000, 0, L"C:\\T"}, {2003, 0, L""}}},
        {"final State=Fail after a burst, right before exit", burst + "line State=Fail\n", burstEvents},
        {"lines split across reads", "split InstPath=C:\\split\nsplit State=Fail\n",
         {kStart, kLaunch, {3000, 0, L"C:\\split"}, {2004, 0, L"安装包安装失败"}}},
        {"Encode applies from the next line",
         "line Encode=UTF8\nline Message=\xE4\xBD\xA0\xE5\xA5\xBD\nline Encode=936\ncp 936 InstPath=C:\\\xE4\xB8\xAD\nexit 0\n",
         {kStart, kLaunch, {3009, 0, L"\x4f60\x597d"}, {3000, 0, L"C:\\\x4e2d"}, {2003, 1.0, L""}}},
        {"error line", "line Error=no space\nline State=Success\n", {kStart, kLaunch, {2004, 1000, L"no space"}}},
        {"flood on standard error", "stderr 200000\nline StartupStyle=AutoStartup\n",
         {kStart, kLaunch, {3005, 1, L""}, {2003, 1.0, L""}}},
        {"non-zero exit without a state line", "line Progress=0.5\nexit 3\n",
         {kStart, kLaunch, {2002, 0.5, L""}, {2004, 0, L"安装包安装失败"}}},
        {"crash", "line Progress=0.2\ncrash\n", {kStart, kLaunch, {2002, 0.2, L""}, {2004, 0, L"安装包安装失败"}}},
        {"last line without a line end", "line Progress=0.3\nnocrlf State=Fail\n",
         {kStart, kLaunch, {2002, 0.3, L""}, {2004, 0, L"安装包安装失败"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(RunFakeSetup(c.script), c.events) << c.name;
}

TEST(SetupRun, CannotStartAndEmptyPath)
{
    EXPECT_EQ(RunFakeSetup("", L"\"C:\\no\\such\\setup.exe\""),
              (std::vector<Event>{kStart, kLaunch, {2004, 2.0, L""}}));
    Recorder rec;
    {
        CInstaller setup(rec.Callback(), L"", L"", true, true, false);
        setup.Start();
        setup.Wait();
    }
    EXPECT_EQ(rec.events, (std::vector<Event>{kStart, {2004, 1.0, L""}}));
}

}  // namespace
