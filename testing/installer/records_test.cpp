// Install records under Wine: the registry values read back with the registry API
// itself, "set.ini" and the analytics INI read back with the profile API, the override
// rule, and the product's start observed in the process list.
#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <cwctype>
#include <functional>
#include <string>
#include <vector>

#include "InstallEvents.h"
#include "InstallRecords.h"
#include "Utils.h"
#include "test_support.h"

using InstallRecords::CInstallRecorder;

namespace {

const wchar_t kKey[] = L"Software\\QuorvSoft\\TallowmereDataRecovery";

void RawSet(const wchar_t* name, const std::wstring& text)
{
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     DWORD(text.size() * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

void RawDelete(const wchar_t* name)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    ::RegDeleteValueW(key, name);
    ::RegCloseKey(key);
}

// The value as stored: REG_SZ with the text's characters. The system counts the
// terminator in even when the writer leaves it out (NT does, and Wine with it).
bool RawGet(const wchar_t* name, std::wstring& text)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD bytes = 0;
    LONG rc = ::RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    if (rc == ERROR_SUCCESS && bytes)
        rc = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    ::RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    EXPECT_EQ(type, DWORD(REG_SZ)) << name;
    text.assign(buffer.data(), bytes / sizeof(wchar_t));
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    EXPECT_EQ(text.find(L'\0'), std::wstring::npos) << name;
    return true;
}

std::wstring IniGet(const std::wstring& file, const wchar_t* section, const wchar_t* key)
{
    wchar_t value[1024] = {0};
    ::GetPrivateProfileStringW(section, key, L"<absent>", value, 1024, file.c_str());
    return value;
}

bool Touch(const std::wstring& path) { return testsupport::WriteFileBytes(path, "x"); }

bool WaitFor(const std::function<bool()>& done, DWORD ms = 20000)
{
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > ms) return false;
        ::Sleep(10);
    }
    return true;
}

struct Event {
    int code;
    double value;
    std::wstring text;
};

// One installation: every event through the recorder; returns how many wrote records.
int RunInstall(CInstallRecorder& recorder, const std::wstring& chosen, const std::vector<Event>& events)
{
    recorder.Begin(chosen);
    int writes = 0;
    for (const Event& e : events) writes += recorder.OnEvent(e.code, e.value, e.text) ? 1 : 0;
    return writes;
}

// Each test starts with no install records and an application-data folder of its own.
class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RawDelete(InstallRecords::kInstallPathValue);
        RawDelete(InstallRecords::kUninstallEntryValue);
        wchar_t old[MAX_PATH + 1] = {0};
        m_hadAppData = ::GetEnvironmentVariableW(L"APPDATA", old, MAX_PATH + 1) > 0;
        m_oldAppData = old;
        m_appData = m_tmp.File(L"appdata");
        ::SetEnvironmentVariableW(L"APPDATA", m_appData.c_str());
    }
    void TearDown() override
    {
        RawDelete(InstallRecords::kInstallPathValue);
        RawDelete(InstallRecords::kUninstallEntryValue);
        ::SetEnvironmentVariableW(L"APPDATA", m_hadAppData ? m_oldAppData.c_str() : nullptr);
    }
    std::wstring Folder(const std::wstring& leaf)
    {
        const std::wstring path = m_tmp.File(leaf);
        Utils::CreateDirectories(path);
        return path;
    }
    std::wstring AnalyticsFile() const
    {
        return m_appData + L"\\QuorvData\\TallowmereDataRecovery\\DEDizavadUvuvazire.ini";
    }

    testsupport::TempFolder m_tmp{L"records-test"};
    std::wstring m_appData;
    std::wstring m_oldAppData;
    bool m_hadAppData = false;
};

}  // namespace

TEST_F(RecordsTest, LookUpReadsTheRecordsBack)
{
    const std::wstring withProgram = Folder(L"installed");
    ASSERT_TRUE(Touch(withProgram + L"\\TallowmereDataRecovery.exe"));
    const std::wstring gone = Folder(L"removed by hand");
    const std::wstring otherEntry = L"D:\\elsewhere\\uninst.ep";
    struct Case {
        const char* what;
        const wchar_t* installPath;    // null: no value
        const wchar_t* uninstallEntry; // null: no value
        std::wstring folder;
        std::wstring expectPath;
        std::wstring expectEntry;
        bool installed;
    } cases[] = {
        {"nothing recorded", nullptr, nullptr, L"", L"", L"", false},
        {"install path only", L"", nullptr, withProgram, withProgram, withProgram + L"\\uninst.ep", true},
        {"carriage returns left by a setup", L"\r\r\n", nullptr, withProgram, withProgram,
         withProgram + L"\\uninst.ep", true},
        {"both values", L"", otherEntry.c_str(), withProgram, withProgram, otherEntry, true},
        {"stale record, program gone", L"", nullptr, gone, gone, gone + L"\\uninst.ep", false},
        {"uninstall entry only", nullptr, otherEntry.c_str(), L"", L"", otherEntry, false},
    };
    for (const Case& c : cases) {
        RawDelete(InstallRecords::kInstallPathValue);
        RawDelete(InstallRecords::kUninstallEntryValue);
        if (c.installPath) RawSet(InstallRecords::kInstallPathValue, c.folder + c.installPath);
        if (c.uninstallEntry) RawSet(InstallRecords::kUninstallEntryValue, c.uninstallEntry);
        const InstallRecords::InstalledCopy copy = InstallRecords::LookUpInstalledCopy();
        EXPECT_EQ(copy.installPath, c.expectPath) << c.what;
        EXPECT_EQ(copy.uninstallEntryPath, c.expectEntry) << c.what;
        EXPECT_EQ(copy.IsInstalled(), c.installed) << c.what;
    }
}

TEST_F(RecordsTest, SetupSuccessWritesRegistryAndIniFiles)
{
    const std::wstring chosen = Folder(L"chosen");
    // The setup moves the install elsewhere and reports it through a text-mode stream.
    const std::wstring reported = Folder(L"\x5b89\x88c5 dir");
    ASSERT_TRUE(Touch(reported + L"\\custom.ep"));
    CInstallRecorder recorder;
    const int writes = RunInstall(recorder, chosen,
                           {{EVT_IST_START, 0, L""},
                            {EVT_IST_PROGRESS, 0, L""},
                            {EVT_INFO_INSTPATH, 0, reported + L"\r"},
                            {EVT_INFO_EXEPATH, 0, reported + L"\\TallowmereDataRecovery.exe\r"},
                            {EVT_INFO_UNINSTEP, 0, reported + L"\\custom.ep\r\r"},
                            {EVT_INFO_STARTUPSTYLE, 2, L""},
                            {EVT_INFO_TOPSHOW, 5000, L""},
                            {EVT_IST_PROGRESS, 0.5, L""},
                            {EVT_IST_SUCCESS, 0, L""}});
    EXPECT_EQ(writes, 1);

    std::wstring value;
    ASSERT_TRUE(RawGet(L"InstallPath", value));
    EXPECT_EQ(value, reported);
    ASSERT_TRUE(RawGet(L"UnInstallEp", value));
    EXPECT_EQ(value, reported + L"\\custom.ep");

    const std::wstring setIni = reported + L"\\set.ini";
    EXPECT_EQ(IniGet(setIni, L"Install", L"APPStore"), L"installer_windows_tests.exe");
    EXPECT_EQ(IniGet(setIni, L"Install", L"AppName"), L"TallowmereDataRecovery");
    const std::wstring id = IniGet(setIni, L"Install", L"DeviceID");
    EXPECT_EQ(id.size(), 32u) << id;
    EXPECT_EQ(id.find_first_not_of(L"0123456789ABCDEFabcdef"), std::wstring::npos) << id;
    EXPECT_EQ(IniGet(setIni, L"Install", L"DEDizavadUvuvazireIni"), AnalyticsFile());
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    const std::wstring stamp = IniGet(AnalyticsFile(), L"Init", L"UpdateTime");
    EXPECT_EQ(std::swscanf(stamp.c_str(), L"%4d-%2d-%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s), 6) << stamp;
    EXPECT_EQ(stamp.size(), 19u) << stamp;
    EXPECT_EQ(::GetFileAttributesW((chosen + L"\\set.ini").c_str()), INVALID_FILE_ATTRIBUTES)
        << "the chosen folder was replaced by the reported one";

    const InstallRecords::SetupReport& report = recorder.Report();
    EXPECT_EQ(report.programPath, reported + L"\\TallowmereDataRecovery.exe");
    EXPECT_EQ(report.startupStyle, 2);
    EXPECT_EQ(report.raiseDelay, 5000u);
    EXPECT_EQ(report.closeDelay, 0xFFFFFFFFu);
}

TEST_F(RecordsTest, NothingIsRecordedWithoutTheSetupsSuccess)
{
    const std::wstring chosen = Folder(L"chosen");
    const std::wstring reported = Folder(L"reported");
    ASSERT_TRUE(Touch(chosen + L"\\uninst.ep"));
    ASSERT_TRUE(Touch(reported + L"\\uninst.ep"));
    struct Case {
        const char* what;
        std::vector<Event> events;
    } cases[] = {
        {"setup path empty", {{EVT_IST_START, 0, L""}, {EVT_IST_FAIL, 1.0, L""}}},
        {"setup cannot start", {{EVT_IST_START, 0, L""}, {EVT_IST_PROGRESS, 0, L""}, {EVT_IST_FAIL, 2.0, L""}}},
        {"setup reports an error after its folder",
         {{EVT_IST_START, 0, L""},
          {EVT_IST_PROGRESS, 0, L""},
          {EVT_INFO_INSTPATH, 0, reported},
          {EVT_INFO_UNINSTEP, 0, reported + L"\\uninst.ep"},
          {EVT_IST_FAIL, 1000.0, L"Error=disk full"}}},
        {"download gave up", {{EVT_DL_START, 1, L""}, {EVT_DL_PROGRESS, 0.5, L""}, {EVT_DL_FAIL, 0, L"LibCurl"}}},
        {"old uninstaller failed", {{EVT_UNI_PROGRESS, 0, L""}, {EVT_UNI_ERROR, 0, L"x"}}},
    };
    CInstallRecorder recorder;
    for (const Case& c : cases) {
        EXPECT_EQ(RunInstall(recorder, chosen, c.events), 0) << c.what;
        std::wstring value;
        EXPECT_FALSE(RawGet(L"InstallPath", value)) << c.what;
        EXPECT_FALSE(RawGet(L"UnInstallEp", value)) << c.what;
        for (const std::wstring& folder : {chosen, reported})
            EXPECT_EQ(::GetFileAttributesW((folder + L"\\set.ini").c_str()), INVALID_FILE_ATTRIBUTES) << c.what;
        EXPECT_EQ(::GetFileAttributesW(AnalyticsFile().c_str()), INVALID_FILE_ATTRIBUTES) << c.what;
    }
}

TEST_F(RecordsTest, UninstallEntryIsRecordedOnlyWhenItsFileExists)
{
    struct Case {
        const char* what;
        bool defaultEntryExists;      // <folder>\uninst.ep
        const wchar_t* reportedLeaf;  // null: the setup reports none
        bool reportedExists;
        bool recorded;
        const wchar_t* recordedLeaf;
    } cases[] = {
        {"none reported, no uninst.ep", false, nullptr, false, false, nullptr},
        {"none reported, uninst.ep there", true, nullptr, false, true, L"uninst.ep"},
        {"reported and there", false, L"own.ep", true, true, L"own.ep"},
        {"reported but missing", true, L"own.ep", false, false, nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        RawDelete(InstallRecords::kInstallPathValue);
        RawDelete(InstallRecords::kUninstallEntryValue);
        const std::wstring folder = Folder(L"case" + std::to_wstring(++n));
        if (c.defaultEntryExists) {
            ASSERT_TRUE(Touch(folder + L"\\uninst.ep"));
        }
        if (c.reportedExists) {
            ASSERT_TRUE(Touch(folder + L"\\" + c.reportedLeaf));
        }
        std::vector<Event> events;
        if (c.reportedLeaf) events.push_back({EVT_INFO_UNINSTEP, 0, folder + L"\\" + c.reportedLeaf});
        events.push_back({EVT_IST_SUCCESS, 1.0, L""});
        CInstallRecorder recorder;
        EXPECT_EQ(RunInstall(recorder, folder, events), 1) << c.what;
        std::wstring value;
        ASSERT_TRUE(RawGet(L"InstallPath", value)) << c.what;
        EXPECT_EQ(value, folder) << c.what;
        EXPECT_EQ(RawGet(L"UnInstallEp", value), c.recorded) << c.what;
        if (c.recorded) EXPECT_EQ(value, folder + L"\\" + c.recordedLeaf) << c.what;
    }
}

TEST_F(RecordsTest, EachInstallGetsItsOwnDeviceIdAndABareInstPathKeepsTheChosenFolder)
{
    const std::wstring chosen = Folder(L"chosen");
    CInstallRecorder recorder;
    const std::vector<Event> events = {{EVT_INFO_INSTPATH, 0, L"\r\n"}, {EVT_IST_SUCCESS, 0, L""}};
    ASSERT_EQ(RunInstall(recorder, chosen, events), 1);
    std::wstring value;
    ASSERT_TRUE(RawGet(L"InstallPath", value));
    EXPECT_EQ(value, chosen);
    const std::wstring first = IniGet(chosen + L"\\set.ini", L"Install", L"DeviceID");
    EXPECT_FALSE(recorder.OnEvent(EVT_IST_SUCCESS, 0, L"")) << "one installation writes its records once";
    EXPECT_EQ(IniGet(chosen + L"\\set.ini", L"Install", L"DeviceID"), first);
    ASSERT_EQ(RunInstall(recorder, chosen, events), 1);
    const std::wstring second = IniGet(chosen + L"\\set.ini", L"Install", L"DeviceID");
    EXPECT_EQ(second.size(), 32u);
    EXPECT_NE(first, second);
}

TEST_F(RecordsTest, IniValuesOutsideTheAnsiCodePageSurvive)
{
    // Chinese, Devanagari and a character beyond the basic plane: no single-byte or
    // Chinese ANSI code page holds them all.
    const std::wstring appData = m_tmp.File(L"\x6570\x636e \x0939 \xD83D\xDE00");
    ::SetEnvironmentVariableW(L"APPDATA", appData.c_str());
    const std::wstring folder = Folder(L"plain");
    // The product's setup wrote its own section before, in the code page.
    ASSERT_TRUE(testsupport::WriteFileBytes(folder + L"\\set.ini", "[Uninstall]\r\nIsOverride=false\r\n"));
    CInstallRecorder recorder;
    ASSERT_EQ(RunInstall(recorder, folder, {{EVT_IST_SUCCESS, 0, L""}}), 1);
    EXPECT_EQ(IniGet(folder + L"\\set.ini", L"Uninstall", L"IsOverride"), L"false");
    EXPECT_EQ(IniGet(folder + L"\\set.ini", L"Install", L"AppName"), L"TallowmereDataRecovery");
    const std::wstring analytics = appData + L"\\QuorvData\\TallowmereDataRecovery\\DEDizavadUvuvazire.ini";
    EXPECT_EQ(IniGet(folder + L"\\set.ini", L"Install", L"DEDizavadUvuvazireIni"), analytics) << "ACP " << ::GetACP();
    EXPECT_NE(IniGet(analytics, L"Init", L"UpdateTime"), L"<absent>");

    // Values that fit keep the file in the code page, as before.
    ::SetEnvironmentVariableW(L"APPDATA", m_appData.c_str());
    const std::wstring ascii = Folder(L"ascii");
    ASSERT_EQ(RunInstall(recorder, ascii, {{EVT_IST_SUCCESS, 0, L""}}), 1);
    const std::string bytes = testsupport::ReadFileBytes(ascii + L"\\set.ini");
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_FALSE(bytes[0] == '\xFF' && bytes[1] == '\xFE');
    EXPECT_NE(bytes.find("AppName=TallowmereDataRecovery"), std::string::npos);
}

TEST_F(RecordsTest, AnalyticsFolderFallsBackToTheSharedDocuments)
{
    wchar_t shared[MAX_PATH] = {0};
    ASSERT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, 0, shared)));
    const std::wstring expected = std::wstring(shared) + L"\\QuorvData\\TallowmereDataRecovery";
    EXPECT_EQ(InstallRecords::AnalyticsFolder(), m_appData + L"\\QuorvData\\TallowmereDataRecovery");
    ::SetEnvironmentVariableW(L"APPDATA", nullptr);
    EXPECT_EQ(InstallRecords::AnalyticsFolder(), expected);
    ::SetEnvironmentVariableW(L"APPDATA", (L"C:\\" + std::wstring(300, L'a')).c_str());
    EXPECT_EQ(InstallRecords::AnalyticsFolder(), expected) << "an unreadably long APPDATA";
}

TEST(RecordsOverride, OldVersionKeptOnlyInItsOwnFolderWithIsOverrideFalse)
{
    testsupport::TempFolder tmp(L"override-test");
    const std::wstring folder = tmp.File(L"Product");
    const std::wstring other = tmp.File(L"Other");
    Utils::CreateDirectories(folder);
    Utils::CreateDirectories(other);
    std::wstring spelled = folder;   // the same folder, written differently
    for (wchar_t& c : spelled) c = c == L'\\' ? L'/' : wchar_t(std::towupper(c));
    struct Case {
        const char* what;
        std::wstring recorded;
        std::wstring chosen;
        const char* setIni;   // null: no file
        bool keeps;
    } cases[] = {
        {"same folder, false", folder, folder, "[Uninstall]\r\nIsOverride=false\r\n", true},
        {"same folder spelled otherwise", folder, spelled + L"/", "[Uninstall]\r\nIsOverride=false\r\n", true},
        {"same folder through ..", folder, folder + L"\\..\\Product", "[Uninstall]\r\nIsOverride=false\r\n", true},
        {"capitals", folder, folder, "[Uninstall]\r\nIsOverride=FALSE\r\n", false},
        {"true", folder, folder, "[Uninstall]\r\nIsOverride=true\r\n", false},
        {"no key", folder, folder, "[Uninstall]\r\nOther=false\r\n", false},
        {"other section", folder, folder, "[Install]\r\nIsOverride=false\r\n", false},
        {"no set.ini", folder, folder, nullptr, false},
        {"another folder", other, folder, "[Uninstall]\r\nIsOverride=false\r\n", false},
        {"a folder inside", folder, folder + L"\\sub", "[Uninstall]\r\nIsOverride=false\r\n", false},
        {"nothing recorded", L"", folder, "[Uninstall]\r\nIsOverride=false\r\n", false},
    };
    for (const Case& c : cases) {
        const std::wstring ini = folder + L"\\set.ini";
        ::DeleteFileW(ini.c_str());
        ::DeleteFileW((folder + L"\\sub\\set.ini").c_str());
        if (c.setIni) {
            ASSERT_TRUE(testsupport::WriteFileBytes(ini, c.setIni));
            Utils::CreateDirectories(folder + L"\\sub");
            ASSERT_TRUE(testsupport::WriteFileBytes(folder + L"\\sub\\set.ini", c.setIni));
        }
        EXPECT_EQ(InstallRecords::KeepsOldVersion(c.recorded, c.chosen), c.keeps) << c.what;
        InstallRecords::InstalledCopy copy{c.recorded, c.recorded + L"\\uninst.ep"};
        EXPECT_EQ(InstallRecords::UninstallerForPipeline(copy, c.chosen), c.keeps ? L"" : copy.uninstallEntryPath)
            << c.what;
    }
}

TEST(ProductStart, StartAddressAboveFiveCharactersThenTheProgram)
{
    testsupport::TempFolder tmp(L"start-test");
    const std::wstring fake = testsupport::ProgramFolder() + L"\\fake-product.exe";
    for (const wchar_t* name : {L"q.exe", L"qv.exe", L"qv-program.exe"})
        ASSERT_TRUE(::CopyFileW(fake.c_str(), tmp.File(name).c_str(), FALSE)) << name;
    wchar_t oldDir[MAX_PATH] = {0};
    ::GetCurrentDirectoryW(MAX_PATH, oldDir);
    ASSERT_TRUE(::SetCurrentDirectoryW(tmp.Path().c_str()));
    auto running = [](const wchar_t* name) { return Utils::FindProcessByExeName(name) != 0; };

    // "q.exe" has five characters: not opened; the program after it is started.
    InstallRecords::StartProduct(nullptr, L"q.exe", tmp.File(L"qv-program.exe"));
    EXPECT_TRUE(WaitFor([&] { return running(L"qv-program.exe"); }));
    EXPECT_FALSE(running(L"q.exe")) << "it would have been started before the program";

    // Six characters are opened; a program that is not there is not.
    InstallRecords::StartProduct(nullptr, L"qv.exe", tmp.File(L"missing.exe"));
    EXPECT_TRUE(WaitFor([&] { return running(L"qv.exe"); }));

    ::SetCurrentDirectoryW(oldDir);
    EXPECT_TRUE(WaitFor([&] { return !running(L"qv.exe") && !running(L"qv-program.exe"); }))
        << "the stand-in product ends by itself";
}
