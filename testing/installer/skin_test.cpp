// The packed skin as the installer carries it: resource "ZIPRES" 147 of this very
// program is the built archive; it opens with the framework's 7z reader, every layout
// parses with the framework's XML parser and holds the controls the windows drive,
// every image a layout names is in the archive, and every text a layout names is in
// "language.json" in all three languages, the English ones as the installer shows them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "LanguageTable.h"
#include "SkinArchive7z.h"
#include "UIManager.h"
#include "XmlParser.h"
#include "test_support.h"

using SkinUI::CSkinArchive7z;
using SkinUI::CWindowManagerUI;
using SkinUI::CXmlNode;
using SkinUI::CXmlParser;
using SkinUI::HSKINARCHIVE7Z;

namespace {

struct ResourceBytes {
    const void* data = nullptr;
    DWORD size = 0;
};

ResourceBytes SkinResource()
{
    ResourceBytes r;
    HMODULE self = ::GetModuleHandleW(nullptr);
    HRSRC res = ::FindResourceW(self, MAKEINTRESOURCEW(147), L"ZIPRES");
    if (!res) return r;
    HGLOBAL global = ::LoadResource(self, res);
    r.size = ::SizeofResource(self, res);
    r.data = global ? ::LockResource(global) : nullptr;
    return r;
}

std::vector<unsigned char> Item(HSKINARCHIVE7Z archive, const std::wstring& name)
{
    int index = -1;
    UInt64 size = 0;
    std::vector<unsigned char> bytes;
    if (CSkinArchive7z::FindItem(archive, name.c_str(), &index, &size) != CSkinArchive7z::kOk) return bytes;
    bytes.resize(size_t(size));
    if (size && CSkinArchive7z::CopyItem(archive, index, bytes.data()) != CSkinArchive7z::kOk) bytes.clear();
    return bytes;
}

struct Layout {
    std::wstring root;
    std::map<std::wstring, std::wstring> attrs;        // the root's attributes
    std::map<std::wstring, std::wstring> named;        // control name -> element name
    std::map<std::wstring, std::wstring> textOf;       // control name -> its "text"
    std::vector<std::wstring> images;                  // every image description
    std::vector<std::pair<std::wstring, int>> sequences;  // frame pattern, count
    std::vector<std::wstring> texts;                   // every "text" attribute
};

bool IsImageAttribute(const std::wstring& n)
{
    static const std::set<std::wstring> kNames = {L"bkimage", L"normalimage", L"hotimage", L"pushedimage",
                                                  L"disabledimage", L"focusedimage", L"selectedimage",
                                                  L"selectedhotimage", L"foreimage"};
    return kNames.count(n) != 0;
}

void Walk(CXmlNode node, Layout& out)
{
    for (CXmlNode c = node.GetChild(); c.IsValid(); c = c.GetSibling()) {
        const std::wstring element = c.GetName();
        if (element == L"Font" || element == L"Image" || element == L"Default") continue;   // resources
        std::wstring name, pattern;
        int count = 0;
        for (int i = 0; i < c.GetAttributeCount(); ++i) {
            const std::wstring n = c.GetAttributeName(i);
            const std::wstring v = c.GetAttributeValue(i);
            if (n == L"name") name = v;
            if (n == L"text") out.texts.push_back(v);
            if (IsImageAttribute(n)) out.images.push_back(v);
            if (n == L"sequencebkimage") pattern = v;
            if (n == L"sequencecount") count = _wtoi(v.c_str());
        }
        if (!name.empty()) {
            EXPECT_EQ(out.named.count(name), 0u) << "two controls named " << testing::PrintToString(name);
            out.named[name] = element;
            if (LPCWSTR t = c.GetAttributeValue(L"text")) out.textOf[name] = t;
        }
        if (!pattern.empty()) out.sequences.push_back({pattern, count});
        Walk(c, out);
    }
}

bool ParseLayout(const std::vector<unsigned char>& bytes, Layout& out)
{
    CXmlParser parser;
    if (bytes.empty() || !parser.LoadFromMem(bytes.data(), bytes.size(), CXmlParser::kUtf8)) return false;
    CXmlNode root = parser.GetRoot();
    if (!root.IsValid()) return false;
    out.root = root.GetName();
    for (int i = 0; i < root.GetAttributeCount(); ++i) out.attrs[root.GetAttributeName(i)] = root.GetAttributeValue(i);
    Walk(root, out);
    return true;
}

// The file an image description names: the value of file='...', else the whole text.
std::wstring ImageFile(const std::wstring& description)
{
    const size_t at = description.find(L"file='");
    if (at == std::wstring::npos) return description;
    const size_t end = description.find(L'\'', at + 6);
    return description.substr(at + 6, end - at - 6);
}

class SkinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const ResourceBytes r = SkinResource();
        s_archive = r.data ? CSkinArchive7z::OpenFromMemory(r.data, r.size) : nullptr;
    }
    static void TearDownTestSuite()
    {
        if (s_archive) CSkinArchive7z::Close(s_archive);
        s_archive = nullptr;
    }
    void SetUp() override { ASSERT_NE(s_archive, nullptr) << "resource ZIPRES 147 does not open as a 7z archive"; }

    Layout Load(const std::wstring& name)
    {
        Layout layout;
        EXPECT_TRUE(ParseLayout(Item(s_archive, name), layout)) << testing::PrintToString(name);
        return layout;
    }

    static HSKINARCHIVE7Z s_archive;
};
HSKINARCHIVE7Z SkinTest::s_archive = nullptr;

const wchar_t* const kLayouts[] = {L"MainWnd.xml",         L"MessageBox1Wnd.xml", L"MessageBox2Wnd.xml",
                                   L"InstalledPathTipWnd.xml", L"NetworkTipWnd.xml", L"ExitTipWnd.xml"};

}  // namespace

TEST_F(SkinTest, ResourceIsTheBuiltArchiveWithSlashSeparatedNames)
{
    const ResourceBytes r = SkinResource();
    const std::string built = testsupport::ReadFileBytes(INSTALLER_SKIN_ARCHIVE);
    ASSERT_FALSE(built.empty());
    ASSERT_EQ(r.size, built.size());
    EXPECT_EQ(std::memcmp(r.data, built.data(), r.size), 0);

    std::set<std::wstring> folders;
    const int n = CSkinArchive7z::GetItemCount(s_archive);
    ASSERT_GT(n, 0);
    for (int i = 0; i < n; ++i) {
        const std::wstring name = CSkinArchive7z::GetItemName(s_archive, i);
        EXPECT_EQ(name.find(L'\\'), std::wstring::npos) << testing::PrintToString(name);
        const size_t last = name.rfind(L'/');
        if (name.compare(0, 4, L"res/") == 0 && last != std::wstring::npos) folders.insert(name.substr(0, name.find(L'/', 4)));
    }
    EXPECT_EQ(folders, (std::set<std::wstring>{L"res/MessageBoxWnd1", L"res/TipWnd", L"res/common", L"res/mainWnd"}));
    // The windows ask with their own spelling and separators.
    int index = -1;
    UInt64 size = 0;
    EXPECT_EQ(CSkinArchive7z::FindItem(s_archive, L"ExitTipWnd.xml", &index, &size), CSkinArchive7z::kOk);
    EXPECT_EQ(CSkinArchive7z::FindItem(s_archive, L"res\\mainWnd\\installPrg3.png", &index, &size),
              CSkinArchive7z::kOk);
}

TEST_F(SkinTest, ProgramIconIsResource145InBothSystemSizes)
{
    for (int size : {16, 32}) {
        HICON icon = static_cast<HICON>(
            ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(145), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(icon, &info));
        BITMAP bm{};
        ::GetObjectW(info.hbmColor, sizeof bm, &bm);
        EXPECT_EQ(bm.bmWidth, size);
        EXPECT_EQ(bm.bmBitsPixel, 32);
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        ::DestroyIcon(icon);
    }
}

TEST_F(SkinTest, LayoutsHoldTheControlsTheWindowsDrive)
{
    Layout main = Load(L"MainWnd.xml");
    EXPECT_EQ(main.root, L"Window");
    EXPECT_EQ(main.attrs[L"size"], L"600,400");
    EXPECT_EQ(main.attrs[L"showshadow"], L"true");
    const std::map<std::wstring, std::wstring> mainControls = {
        {L"winCtn", L"VerticalLayout"},     {L"titleTabLt", L"TabLayout"},      {L"titleGrpCtn", L"HorizontalLayout"},
        {L"mainTabLt", L"TabLayout"},       {L"defaultInstallBtn", L"Button"},  {L"customeBtn", L"Button"},
        {L"customeInstallBtn", L"Button"},  {L"treatyCb", L"CheckBox"},         {L"treatyBtn", L"CheckBox"},
        {L"backBtn", L"Button"},            {L"chDirBtn", L"Button"},           {L"installDirEdit", L"Edit"},
        {L"createDSCb", L"CheckBox"},       {L"createQSCb", L"CheckBox"},       {L"openProduceBtn", L"Button"},
        {L"progressLb", L"Label"},          {L"installPrg", L"Progress"},       {L"progressAnLb", L"SequenceLabel"},
        {L"finishedLbl", L"SequenceLabel"}, {L"softNameLbl", L"Label"},         {L"bTitleLbl1", L"Label"},
        {L"bTitleLbl2", L"Label"},          {L"bTitleLbl3", L"Label"},          {L"languageCombo", L"Combo"},
        {L"tipLbl", L"Label"},              {L"lbLanguage", L"Label"},          {L"lbInstallPath", L"Label"},
        {L"closebtn", L"Button"},           {L"minbtn", L"Button"},
    };
    for (const auto& c : mainControls) {
        auto it = main.named.find(c.first);
        ASSERT_NE(it, main.named.end()) << testing::PrintToString(c.first);
        EXPECT_EQ(it->second, c.second) << testing::PrintToString(c.first);
    }
    // The language box's items, in the order of the language numbers.
    std::vector<std::wstring> items;
    for (const std::wstring& t : main.texts) {
        if (t == L"English" || t == L"\x7b80\x4f53\x4e2d\x6587" || t == L"\x7e41\x9ad4\x4e2d\x6587") items.push_back(t);
    }
    EXPECT_EQ(items, (std::vector<std::wstring>{L"English", L"\x7b80\x4f53\x4e2d\x6587", L"\x7e41\x9ad4\x4e2d\x6587"}));
    // Absent in the shipped layout, so the window skips them.
    EXPECT_EQ(main.named.count(L"serviceCb"), 0u);
    EXPECT_EQ(main.named.count(L"installLogo"), 0u);

    struct Box {
        const wchar_t* layout;
        const wchar_t* size;
        const wchar_t* text;     // null: filled by the caller
        const wchar_t* ok;       // null: no answer buttons
        const wchar_t* cancel;
    } boxes[] = {
        {L"MessageBox1Wnd.xml", L"360,180", nullptr, nullptr, nullptr},
        {L"MessageBox2Wnd.xml", L"360,180", nullptr, nullptr, nullptr},
        {L"InstalledPathTipWnd.xml", L"400,180", L"%{110}", L"%{1003}", L"%{1002}"},
        {L"NetworkTipWnd.xml", L"360,180", L"%{105}", L"%{1005}", L"%{1004}"},
        {L"ExitTipWnd.xml", L"360,180", L"%{109}", L"%{1000}", L"%{1001}"},
    };
    for (const Box& b : boxes) {
        Layout box = Load(b.layout);
        EXPECT_EQ(box.root, L"Window") << testing::PrintToString(b.layout);
        EXPECT_EQ(box.attrs[L"size"], b.size) << testing::PrintToString(b.layout);
        EXPECT_EQ(box.named[L"captionLbl"], L"Label");
        EXPECT_EQ(box.textOf[L"captionLbl"], L"%{100}");
        EXPECT_EQ(box.named[L"textLbl"], L"Label");
        EXPECT_EQ(box.named[L"closebtn"], L"Button");
        if (b.text) {
            EXPECT_EQ(box.textOf[L"textLbl"], b.text);
        }
        EXPECT_EQ(box.named.count(L"okBtn"), b.ok ? 1u : 0u) << testing::PrintToString(b.layout);
        EXPECT_EQ(box.named.count(L"cancelBtn"), b.cancel ? 1u : 0u);
        if (b.ok) {
            EXPECT_EQ(box.textOf[L"okBtn"], b.ok);
            EXPECT_EQ(box.textOf[L"cancelBtn"], b.cancel);
        }
    }
}

TEST_F(SkinTest, EveryImageALayoutNamesIsAPngInTheArchive)
{
    int checked = 0;
    for (const wchar_t* name : kLayouts) {
        const Layout layout = Load(name);
        std::vector<std::wstring> files;
        for (const std::wstring& d : layout.images) files.push_back(ImageFile(d));
        for (const auto& s : layout.sequences) {
            ASSERT_GT(s.second, 1) << testing::PrintToString(s.first);
            for (int i = 0; i < s.second; ++i) {
                wchar_t frame[260];
                std::swprintf(frame, 260, s.first.c_str(), i);
                files.push_back(frame);
            }
        }
        for (const std::wstring& f : files) {
            const std::vector<unsigned char> png = Item(s_archive, f);
            ASSERT_GE(png.size(), 8u) << testing::PrintToString(f) << " in " << testing::PrintToString(name);
            EXPECT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8), 0) << testing::PrintToString(f);
            ++checked;
        }
    }
    // The main window's backgrounds and the finished bar are set by code, not by a layout.
    for (const wchar_t* f : {L"res\\mainWnd\\bg1.png", L"res\\mainWnd\\bg2.png", L"res\\mainWnd\\bg3.png",
                             L"res\\mainWnd\\bg4.png", L"res\\mainWnd\\installPrg3.png"})
        EXPECT_GE(Item(s_archive, f).size(), 8u) << testing::PrintToString(f);
    EXPECT_GT(checked, 60);
}

TEST_F(SkinTest, EveryTextALayoutNamesIsThereInAllThreeLanguages)
{
    // The framework keeps the archive of the resource, as the installer's windows do.
    const ResourceBytes r = SkinResource();
    CWindowManagerUI::SetResourceArchive7z(true);
    CWindowManagerUI::SetResourceZipBuffer(r.data, r.size);
    std::set<int> ids;
    for (const wchar_t* name : kLayouts) {
        for (const std::wstring& t : Load(name).texts) {
            for (size_t at = t.find(L"%{"); at != std::wstring::npos; at = t.find(L"%{", at + 2))
                ids.insert(_wtoi(t.c_str() + at + 2));
        }
    }
    // The windows' own ids: messages, the progress format, the tip buttons.
    for (int id : {100, 101, 102, 103, 104, 105, 106, 107, 109, 110}) ids.insert(id);
    ASSERT_GT(ids.size(), 20u);
    for (int n = 0; n < LanguageTable::kCount; ++n) {
        ASSERT_EQ(LanguageTable::Load(n), n);
        for (int id : ids) {
            const std::wstring text = LanguageTable::Text(id);
            EXPECT_FALSE(text.empty()) << "text " << id << " in language " << n;
            // A Chinese text that went through a code page without room for it shows "?".
            if (n != 0)
                EXPECT_EQ(text.find(L'?'), std::wstring::npos) << "text " << id << " in language " << n;
        }
    }

    // English as the installer shows it.
    const std::map<int, std::wstring> english = {
        {0, L"Tallowmere Data Recovery"},
        {1, L"Install"}, {2, L"Custom Install"}, {3, L"Install Path"}, {4, L"Modify"}, {5, L"Other Options"},
        {6, L"Create Desktop Shortcut"}, {7, L"Add to Quick Launch Bar"}, {8, L"Installing: 0%, please wait..."},
        {9, L"setup complete"}, {10, L"Experience Now"}, {11, L"Select Language"}, {12, L"Back"},
        {50, L"Do you really want to delete it?"}, {51, L"Uninstall"}, {52, L"Cancel"}, {53, L"Uninstalling..."},
        {54, L"Uninstall Completely"}, {100, L"Tips"}, {101, L"The installer has detected "},
        {102, L" is running.\n Please exit the program and then install"}, {103, L"Invalid Path"},
        {104, L"The current disk space is less than 1GB, please modify the installation path"},
        {105, L"The current network environment is poor, please try again later"}, {106, L"Installation failed"},
        {107, L"Installing:%d%%, please wait..."}, {108, L"Installing:%d%%, please wait..."},
        {109, L"Are you sure you want to exit the installation?"},
        {110, L"The computer already has this software, do you want to update it to the latest version?"},
        {1000, L"Yes"}, {1001, L"No"}, {1002, L"Open software"}, {1003, L"Install the latest version"},
        {1004, L"Retry"}, {1005, L"Reinstall"},
    };
    ASSERT_EQ(LanguageTable::Load(0), 0);
    for (const auto& e : english) EXPECT_EQ(LanguageTable::Text(e.first), e.second) << e.first;

    // Chinese in its own script, straight from the packed file.
    ASSERT_EQ(LanguageTable::Load(1), 1);
    EXPECT_EQ(LanguageTable::Text(100), L"\x63d0\x793a");                    // 提示
    EXPECT_EQ(LanguageTable::Text(1), L"\x7acb\x5373\x5b89\x88c5");          // 立即安装
    EXPECT_EQ(LanguageTable::Text(107).find(L"%d%%"), 5u);
    ASSERT_EQ(LanguageTable::Load(0, L"zh-TW"), 2);
    EXPECT_EQ(LanguageTable::Text(1005), L"\x91cd\x65b0\x5b89\x88dd");       // 重新安裝
    EXPECT_EQ(LanguageTable::Text(108), LanguageTable::Text(107));
    CWindowManagerUI::ResetResourceSource();
}
