// The language table: "language.json" read from the skin in force, one language's
// texts in the framework's table exactly as written (Chinese and characters beyond the
// basic plane included), the choice of the language number, the file's limits and
// damage, and the installed copy's language.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "LanguageTable.h"
#include "UIManager.h"
#include "test_support.h"

using SkinUI::CWindowManagerUI;

namespace {

// U+5B89 U+88C5 (安装), Devanagari HA, U+1F600 as a surrogate pair.
const char kFixture[] =
    "[\n"
    "  {\"id\": 0, \"en-US\": \"Name\", \"zh-CN\": \"\xE5\x90\x8D\xE7\xA7\xB0\", \"zh-TW\": \"\xE5\x90\x8D\xE7\xA8\xB1\"},\n"
    "  {\"id\": 1, \"en-US\": \"Install\", \"zh-CN\": \"\xE5\xAE\x89\xE8\xA3\x85 \xE0\xA4\xB9 \xF0\x9F\x98\x80\",\n"
    "   \"zh-TW\": \"\xE5\xAE\x89\xE8\xA3\x9D\\n\\u00e9\"},\n"
    "  {\"id\": 2, \"en-US\": \"only English\"},\n"
    "  {\"id\": \"3\", \"en-US\": \"a text id\"},\n"
    "  {\"en-US\": \"no id at all\"},\n"
    "  \"not an object\", 5, null,\n"
    "  {\"id\": 4, \"en-US\": [\"array\"], \"zh-CN\": 7, \"zh-TW\": {\"x\": 1}},\n"
    "  {\"id\": 2147483647, \"en-US\": \"largest id\", \"zh-CN\": \"\", \"zh-TW\": \"\"}\n"
    "]\n";

const std::wstring kName[3] = {L"Name", L"\x540d\x79f0", L"\x540d\x7a31"};
const std::wstring kInstall[3] = {L"Install", L"\x5b89\x88c5 \x0939 \xD83D\xDE00", L"\x5b89\x88dd\n\x00e9"};

// A skin folder of its own for each test, with the framework reading from it.
class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CWindowManagerUI::ResetResourceSource();
        CWindowManagerUI::SetResourceArchive7z(false);
        CWindowManagerUI::SetResourcePath(m_skin.Path().c_str());
        CWindowManagerUI::RemoveAllMultiLanguageStrings();
    }
    void TearDown() override
    {
        CWindowManagerUI::SetResourcePath(L"");
        CWindowManagerUI::RemoveAllMultiLanguageStrings();
    }
    void WriteLanguageFile(const std::string& bytes)
    {
        ASSERT_TRUE(testsupport::WriteFileBytes(m_skin.File(L"language.json"), bytes));
    }
    testsupport::TempFolder m_skin{L"language-test"};
};

}  // namespace

TEST_F(LanguageTest, EachLanguageRoundTripsExactly)
{
    WriteLanguageFile(kFixture);
    for (int n = 0; n < LanguageTable::kCount; ++n) {
        ASSERT_EQ(LanguageTable::Load(n), n);
        EXPECT_EQ(LanguageTable::Text(0), kName[n]) << n;
        EXPECT_EQ(LanguageTable::Text(1), kInstall[n]) << n;
        // Without the language's key, or with a text that is no string: an empty text.
        EXPECT_EQ(LanguageTable::Text(2), n == 0 ? L"only English" : L"") << n;
        EXPECT_EQ(LanguageTable::Text(4), L"") << n;
        EXPECT_NE(CWindowManagerUI::GetMultiLanguageString(4), nullptr) << "stored, though empty";
        EXPECT_EQ(LanguageTable::Text(2147483647), n == 0 ? L"largest id" : L"");
        // Items without an integer id are skipped, so id 0 keeps its own text.
        EXPECT_EQ(CWindowManagerUI::GetMultiLanguageString(3), nullptr);
    }
    EXPECT_EQ(LanguageTable::Text(99), L"") << "an id without a text";
}

TEST_F(LanguageTest, TheLanguageNumberUsed)
{
    WriteLanguageFile(kFixture);
    struct Case {
        int number;
        const wchar_t* code;
        int used;
    } cases[] = {
        {0, L"", 0}, {1, L"", 1}, {2, L"", 2},
        {3, L"", 0}, {-1, L"", 0}, {0x7FFFFFFF, L"", 0},   // -language from the command line
        {0, L"zh-TW", 2}, {2, L"zh-CN", 1}, {1, L"en-US", 0},
        {1, L"fr-FR", 1}, {9, L"fr-FR", 0}, {0, L"ZH-CN", 0}, {2, L"zh-CN ", 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LanguageTable::Load(c.number, c.code), c.used) << c.number << " " << testing::PrintToString(c.code);
        EXPECT_EQ(LanguageTable::Text(0), kName[c.used]) << c.number;
    }
    EXPECT_EQ(LanguageTable::CodeOf(0), L"en-US");
    EXPECT_EQ(LanguageTable::CodeOf(1), L"zh-CN");
    EXPECT_EQ(LanguageTable::CodeOf(2), L"zh-TW");
    EXPECT_EQ(LanguageTable::CodeOf(3), L"");
    EXPECT_EQ(LanguageTable::CodeOf(-1), L"");
}

TEST_F(LanguageTest, FilesThatCannotBeUsedLeaveTheTable)
{
    WriteLanguageFile(kFixture);
    ASSERT_EQ(LanguageTable::Load(1), 1);
    struct Case {
        const char* what;
        std::string bytes;   // empty with `absent`: no file
        bool absent;
        int used;
    } cases[] = {
        {"no file", "", true, 0},
        {"empty file", "", false, 0},
        {"not JSON", "[{\"id\": 0, \"en-US\": \"cut", false, 2},
        {"not an array", "{\"id\": 0, \"en-US\": \"x\"}", false, 2},
        {"more than 4 MiB", std::string("[]") + std::string(0x400000 - 1, ' '), false, 0},
    };
    for (const Case& c : cases) {
        ::DeleteFileW(m_skin.File(L"language.json").c_str());
        if (!c.absent) WriteLanguageFile(c.bytes);
        EXPECT_EQ(LanguageTable::Load(2), c.used) << c.what;
        EXPECT_EQ(LanguageTable::Text(0), kName[1]) << c.what << ": the earlier texts stay";
    }

    // Exactly 4 MiB is still read; a byte-order mark in front is allowed.
    std::string big = std::string(kFixture);
    big += std::string(0x400000 - big.size(), ' ');
    WriteLanguageFile(big);
    EXPECT_EQ(LanguageTable::Load(0), 0);
    EXPECT_EQ(LanguageTable::Text(0), kName[0]);
    WriteLanguageFile(std::string("\xEF\xBB\xBF") + kFixture);
    EXPECT_EQ(LanguageTable::Load(2), 2);
    EXPECT_EQ(LanguageTable::Text(1), kInstall[2]);
}

TEST_F(LanguageTest, InstalledCopysLanguage)
{
    WriteLanguageFile(kFixture);
    testsupport::TempFolder install(L"installed-copy");
    CWindowManagerUI manager;   // no window and no root yet
    struct Case {
        const char* what;
        const char* configIni;   // null: no file
        int used;
    } cases[] = {
        {"Traditional Chinese", "[Install]\r\nLanguage=zh-TW\r\n", 2},
        {"Simplified Chinese", "[Install]\nLanguage=zh-CN\n", 1},
        {"no key", "[Install]\r\nOther=zh-TW\r\n", 0},
        {"a code not in the table", "[Install]\r\nLanguage=fr-FR\r\n", 0},
        {"no config.ini", nullptr, 0},
    };
    for (const Case& c : cases) {
        ::DeleteFileW(install.File(L"config.ini").c_str());
        if (c.configIni) ASSERT_TRUE(testsupport::WriteFileBytes(install.File(L"config.ini"), c.configIni));
        EXPECT_EQ(LanguageTable::LoadInstalledLanguage(install.Path(), manager), c.used) << c.what;
        EXPECT_EQ(LanguageTable::Text(0), kName[c.used]) << c.what;
    }
    EXPECT_EQ(LanguageTable::LoadInstalledLanguage(L"", manager), 0);
}
