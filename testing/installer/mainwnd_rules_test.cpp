// The main window's window-free rules: install folders, the progress formulas, the
// download share, the delay timers, the language number, the progress text; and
// the running-program look-up the window asks before an installation.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "MainWndRules.h"
#include "Utils.h"
#include "test_support.h"

using namespace MainWndRules;

namespace {

TEST(MainWndRules, InstallFolderMustBeAnAbsoluteLocalPath)
{
    const struct {
        const wchar_t* folder;
        bool usable;
    } cases[] = {
        {L"C:\\Program Files\\TallowmereDataRecovery", true},
        {L"d:/apps/tdr", true},
        {L"D:\\测试 目录\\Öffentlich", true},
        {L"C:\\", true},
        {L"", false},
        {L"C:", false},
        {L"relative\\folder", false},
        {L"\\rooted\\without\\drive", false},
        {L"C:drive-relative", false},
        {L"\\\\server\\share\\folder", false},
        {L"//server/share/folder", false},
        {L"\\\\?\\C:\\folder", false},
        {L"C:\\a:stream", false},
        {L"C:\\a|b", false},
        {L"C:\\a\"b", false},
        {L"1:\\folder", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsUsableInstallFolder(c.folder), c.usable) << Utils::WideToMultiByte(c.folder, CP_UTF8);
    }
}

TEST(MainWndRules, CustomFolderGetsTheProductsOwnFolderUnlessItIsTheDefault)
{
    testsupport::TempFolder tmp(L"rules-test");
    const std::wstring def = tmp.File(L"TallowmereDataRecovery");
    EXPECT_EQ(CustomInstallFolder(def, def), def);
    std::wstring upper = def;
    ::CharUpperBuffW(&upper[0], DWORD(upper.size()));
    EXPECT_EQ(CustomInstallFolder(def, upper + L"\\"), def);
    EXPECT_EQ(CustomInstallFolder(def, L"D:/apps/my tools"), L"D:\\apps\\my tools\\TallowmereDataRecovery");
    EXPECT_EQ(CustomInstallFolder(def, L"D:\\apps\\"), L"D:\\apps\\TallowmereDataRecovery");
    EXPECT_EQ(CustomInstallFolder(def, L"E:\\"), L"E:\\TallowmereDataRecovery");
}

TEST(MainWndRules, DownloadShareIsClampedAndNanIsTheDefault)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_DOUBLE_EQ(EffectiveDownloadScale(nan), 0.7);
    EXPECT_DOUBLE_EQ(EffectiveDownloadScale(0.25), 0.25);
    EXPECT_DOUBLE_EQ(EffectiveDownloadScale(-0.5), 0.0);
    EXPECT_DOUBLE_EQ(EffectiveDownloadScale(3.0), 1.0);
    EXPECT_DOUBLE_EQ(EffectiveDownloadScale(inf), 1.0);
    EXPECT_DOUBLE_EQ(EffectiveDownloadScale(0.0), 0.0);
    EXPECT_DOUBLE_EQ(EffectiveDownloadScale(1.0), 1.0);
}

TEST(MainWndRules, DownloadAndSetupFillTheBar)
{
    EXPECT_EQ(DownloadPercent(0.5, 0.7), 35);
    EXPECT_EQ(DownloadPercent(1.0, 0.7), 70);
    EXPECT_EQ(DownloadPercent(0.5, std::numeric_limits<double>::quiet_NaN()), 35);
    EXPECT_EQ(DownloadPercent(0.5, 40.0), 50);   // a share above 1 is 1
    EXPECT_EQ(DownloadPercent(2.0, 0.7), 70);
    EXPECT_EQ(DownloadPercent(-1.0, 0.7), 0);

    double estimate = 0.0;
    EXPECT_EQ(SetupPercent(estimate, 0.0, 0.7), 74);   // 0.3 x 0.15 + 0.7
    EXPECT_EQ(SetupPercent(estimate, 0.5, 0.7), 85);   // the setup reports more
    for (int i = 0; i < 10; ++i) SetupPercent(estimate, 0.0, 0.7);
    EXPECT_EQ(SetupPercent(estimate, 0.0, 0.7), 98);   // held at 0.95 of the share
    EXPECT_EQ(SetupPercent(estimate, 1.0, 0.7), 100);
    double fresh = 0.0;
    EXPECT_EQ(SetupPercent(fresh, 0.5, 0.7), 85);
    double nanScale = 0.0;
    EXPECT_EQ(SetupPercent(nanScale, 0.0, std::numeric_limits<double>::quiet_NaN()), 74);
}

TEST(MainWndRules, OnlyRealDelaysStartATimer)
{
    EXPECT_FALSE(StartsDelayTimer(0));
    EXPECT_TRUE(StartsDelayTimer(1));
    EXPECT_TRUE(StartsDelayTimer(3000));
    EXPECT_TRUE(StartsDelayTimer(0x7FFFFFFF));
    EXPECT_FALSE(StartsDelayTimer(0x80000000));
    EXPECT_FALSE(StartsDelayTimer(0xFFFFFFFF));   // the setup never said when
}

TEST(MainWndRules, LanguageNumberIsBounded)
{
    EXPECT_EQ(BoundLanguageIndex(0), 0);
    EXPECT_EQ(BoundLanguageIndex(1), 1);
    EXPECT_EQ(BoundLanguageIndex(2), 2);
    EXPECT_EQ(BoundLanguageIndex(3), 0);
    EXPECT_EQ(BoundLanguageIndex(-1), 0);
    EXPECT_EQ(BoundLanguageIndex(0x7FFFFFFF), 0);
}

TEST(MainWndRules, ProgressTextTakesOneNumberAndNothingElse)
{
    EXPECT_EQ(ProgressText(L"Installing:%d%%, please wait...", 35), L"Installing:35%, please wait...");
    EXPECT_EQ(ProgressText(L"正在安装：%d%%，请稍候...", 7), L"正在安装：7%，请稍候...");
    // Conversions a formatter would read arguments for stay as text.
    EXPECT_EQ(ProgressText(L"%s %n %d %d", 5), L"%s %n 5 %d");
    EXPECT_EQ(ProgressText(L"no number", 5), L"no number");
    EXPECT_LE(ProgressText(std::wstring(1000, L'x') + L"%d", 5).size(), 249u);
}

// The look-up the window makes before an installation finds a program whatever the
// letter case of its name.
TEST(ProcessLookUp, NameComparedWithoutCase)
{
    const std::wstring exe = testsupport::ProgramFolder() + L"\\fake-product.exe";
    std::wstring cmd = L"\"" + exe + L"\" 20000";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    EXPECT_EQ(Utils::FindProcessByExeName(L"fake-product.exe"), pi.dwProcessId);
    EXPECT_EQ(Utils::FindProcessByExeName(L"FAKE-PRODUCT.EXE"), pi.dwProcessId);
    EXPECT_EQ(Utils::FindProcessByExeName(L"Fake-Product.Exe"), pi.dwProcessId);
    EXPECT_EQ(Utils::FindProcessByExeName(L"fake-product"), 0u);
    ::TerminateProcess(pi.hProcess, 0);
    ::WaitForSingleObject(pi.hProcess, 10000);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
}

}  // namespace
