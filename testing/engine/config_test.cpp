// Configuration layers: built-in defaults, the INI file, the command line.
#include <gtest/gtest.h>

#include <cmath>

#include "InstallerConfig.h"
#include "test_support.h"

namespace {

struct ConfigCase {
    const char* name;
    const wchar_t* ini;           // nullptr: no INI file
    const wchar_t* commandLine;   // program path first
    const wchar_t* url;
    int type;
    bool checkNet;
    double scale;                 // NaN expected when isnan
    const wchar_t* instCmd;
    int language;
    bool insNew;
};

const double kNaN = std::nan("");
#define DEF kDefaultDownloadUrl

const ConfigCase kCases[] = {
    {"no ini, no options", nullptr, L"inst.exe", DEF, 1, false, 0.7, L"", 0, false},
    {"empty section turns the check on", L"[Install]\r\n", L"inst.exe", DEF, 1, true, 0.7, L"", 0, false},
    {"ini values", L"[Install]\r\nDownloadUrl=http://h/a\r\nDownloadType=3\r\nIsCheckNet=false\r\n"
                   L"DownloadScale=0.5\r\nInstCmd=-x=1 -y\r\n",
     L"inst.exe", L"http://h/a", 3, false, 0.5, L"-x=1 -y", 0, false},
    {"ini IsCheckNet is case-sensitive", L"[Install]\r\nIsCheckNet=TRUE\r\n", L"inst.exe", DEF, 1, false, 0.7, L"", 0, false},
    {"ini scale of letters is 0", L"[Install]\r\nDownloadScale=abc\r\n", L"inst.exe", DEF, 1, true, 0.0, L"", 0, false},
    {"ini scale with a number before letters", L"[Install]\r\nDownloadScale=0.5abc\r\n", L"inst.exe", DEF, 1, true, 0.5, L"", 0, false},
    {"ini scale out of range is unparsed", L"[Install]\r\nDownloadScale=1e999\r\n", L"inst.exe", DEF, 1, true, 0.0, L"", 0, false},
    {"ini type out of range is unparsed", L"[Install]\r\nDownloadType=99999999999\r\n", L"inst.exe", DEF, 0, true, 0.7, L"", 0, false},
    {"ini type of letters", L"[Install]\r\nDownloadType=x\r\n", L"inst.exe", DEF, 0, true, 0.7, L"", 0, false},
    {"first occurrence wins", nullptr, L"inst.exe -downloadtype=3 -downloadtype=2", DEF, 3, false, 0.7, L"", 0, false},
    {"options override the ini", L"[Install]\r\nDownloadType=2\r\nDownloadScale=0.5\r\nInstCmd=a\r\n",
     L"inst.exe -downloadtype=4 -downloadscale=0.25 -instcmd=b -ischecknet=false", DEF, 4, false, 0.25, L"b", 0, false},
    {"absent options keep the ini", L"[Install]\r\nDownloadType=2\r\n", L"inst.exe -language=2", DEF, 2, true, 0.7, L"", 2, false},
    {"bool is exact", nullptr, L"inst.exe -ischecknet=TRUE -insnew=true", DEF, 1, false, 0.7, L"", 0, true},
    {"bare option is false", nullptr, L"inst.exe -insnew", DEF, 1, false, 0.7, L"", 0, false},
    // The bare key is present with an empty value (0); the "2" is a key of its own.
    {"value as a separate argument is not taken", nullptr, L"inst.exe -downloadtype 2", DEF, 0, false, 0.7, L"", 0, false},
    {"scale option of letters is NaN", nullptr, L"inst.exe -downloadscale=abc", DEF, 1, false, kNaN, L"", 0, false},
    {"scale option out of range is NaN", nullptr, L"inst.exe -downloadscale=1e999", DEF, 1, false, kNaN, L"", 0, false},
    {"int option out of range is 0", nullptr, L"inst.exe -downloadtype=99999999999 -language=-99999999999", DEF, 0, false, 0.7, L"", 0, false},
    {"int option with leading blanks and sign", nullptr, L"\"inst.exe\" \"-language=  -7x\"", DEF, 1, false, 0.7, L"", -7, false},
    {"quoted value with blanks", nullptr, L"inst.exe \"-instcmd=-a=1 -b=2\"", DEF, 1, false, 0.7, L"-a=1 -b=2", 0, false},
    {"empty url option stores empty", L"[Install]\r\nDownloadUrl=http://h/a\r\n", L"inst.exe -downloadurl=", L"", 1, true, 0.7, L"", 0, false},
};

void PrintTo(const ConfigCase& c, std::ostream* os) { *os << c.name; }

class ConfigTable : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigTable, LayersGiveTheExpectedFields)
{
    const ConfigCase& c = GetParam();
    testsupport::TempFolder dir(L"config");
    InstallerConfig cfg;   // the real static path also ran for g_InstallerConfig
    cfg.SetDefaults();
    std::wstring ini = dir.File(L"QuorvInstallerConfig.ini");
    if (c.ini) {
        ASSERT_TRUE(testsupport::WriteFileBytes(ini, Utils::WideToMultiByte(c.ini, CP_ACP)));
    }
    cfg.LoadIniFile(ini);
    cfg.ApplyCommandLine(CommandLineArgs(c.commandLine));
    EXPECT_EQ(cfg.DownloadUrl, c.url);
    EXPECT_EQ(cfg.DownloadType, c.type);
    EXPECT_EQ(cfg.IsCheckNet, c.checkNet);
    if (std::isnan(c.scale)) {
        EXPECT_TRUE(std::isnan(cfg.DownloadScale)) << cfg.DownloadScale;
    } else {
        EXPECT_DOUBLE_EQ(cfg.DownloadScale, c.scale);
    }
    EXPECT_EQ(cfg.InstCmd, c.instCmd);
    EXPECT_EQ(cfg.LanguageOption, c.language);
    EXPECT_EQ(cfg.InsNew, c.insNew);
    EXPECT_TRUE(cfg.LibcurlUsable);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ConfigCase>& info) {
                             std::string n;
                             for (const char* p = info.param.name; *p; ++p) n += isalnum(*p) ? *p : '_';
                             return n;
                         });

TEST(Config, IniValueIsCutAt259Characters)
{
    testsupport::TempFolder dir(L"config");
    std::wstring ini = dir.File(L"QuorvInstallerConfig.ini");
    std::string longCmd(400, 'x');
    ASSERT_TRUE(testsupport::WriteFileBytes(ini, "[Install]\r\nInstCmd=" + longCmd + "\r\n"));
    InstallerConfig cfg;
    cfg.SetDefaults();
    cfg.LoadIniFile(ini);
    EXPECT_EQ(cfg.InstCmd, std::wstring(259, L'x'));
}

TEST(Config, RoutePlaceholderFollowsTheOsVersion)
{
    const std::wstring url = L"http://h/${ROUTE}/setup.exe?r=${ROUTE}";
    struct { const wchar_t* os; const wchar_t* expected; } cases[] = {
        {L"XP", L"http://h/download_silent_xp/setup.exe?r=download_silent_xp"},
        {L"XP-", L"http://h/download_silent_xp/setup.exe?r=download_silent_xp"},
        {L"XP+", L"http://h/download_silent_xp/setup.exe?r=download_silent_xp"},
        {L"7", L"http://h/download_silent/setup.exe?r=download_silent"},
        {L"10", L"http://h/download_silent/setup.exe?r=download_silent"},
        {L"xp", L"http://h/download_silent/setup.exe?r=download_silent"},
    };
    for (const auto& c : cases) EXPECT_EQ(InstallerConfig::ResolveRoute(url, c.os), c.expected) << c.os;
    EXPECT_EQ(InstallerConfig::ResolveRoute(L"http://h/software/331", L"XP"), L"http://h/software/331");
}

TEST(Config, RouteThroughTheOptionLayer)
{
    InstallerConfig cfg;
    cfg.SetDefaults();
    cfg.ApplyCommandLine(CommandLineArgs(L"inst.exe -downloadurl=http://h/${ROUTE}/x"));
    // Wine reports a Windows version other than XP by default.
    std::wstring expected = Utils::GetOsVersionText().version.find(L"XP") != std::wstring::npos
                                ? L"http://h/download_silent_xp/x"
                                : L"http://h/download_silent/x";
    EXPECT_EQ(cfg.DownloadUrl, expected);
}

TEST(Config, CommandLineMapKeepsTheProgramPathAsAKey)
{
    CommandLineArgs args(L"C:\\dir\\inst.exe -a=1 -a=2 plain");
    const auto& m = args.Map();
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m.at(L"C:\\dir\\inst.exe"), L"");
    EXPECT_EQ(m.at(L"-a"), L"1");
    EXPECT_EQ(m.at(L"plain"), L"");
    EXPECT_EQ(args.GetString(L"-missing"), L"");
    EXPECT_EQ(args.GetInt(L"-missing"), 0);
    EXPECT_EQ(args.GetDouble(L"-missing", 2.5), 2.5);
}

}  // namespace
