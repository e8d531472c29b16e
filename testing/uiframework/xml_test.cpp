// The XML parser: errors, the tree walk, attributes and entities, the depth cap, encodings.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "SkinArchive7z.h"
#include "SkinZip.h"
#include "XmlParser.h"
#include "test_support.h"

using namespace SkinUI;
using namespace uitest;

namespace {

std::string Narrow(LPCWSTR w)
{
    std::string s;
    for (; w && *w; ++w) s += *w < 128 ? static_cast<char>(*w) : '?';
    return s;
}

TEST(XmlParser, ErrorsAndLenientEnds)
{
    struct Case {
        const wchar_t* text;
        bool ok;
        const wchar_t* message;   // when it fails
    } const cases[] = {
        {L"", true, L""},
        {L"  \r\n\t ", true, L""},
        {L"<a/>", true, L""},
        {L"<a />", true, L""},
        {L"<a></a>", true, L""},
        {L"<a>", true, L""},                 // ends inside the first element
        {L"<a><b>", true, L""},              // ... or inside an unclosed child of it
        {L"<a><b></b>", true, L""},
        {L"<a><b><c>", false, L"Expected end-tag start"},   // inside an unclosed grandchild
        {L"<a><b><c></c>", false, L"Expected start tag"},
        {L"<!-- c --><a/><?pi x?>", true, L""},
        {L"<?xml version=\"1.0\"?>\n<a/>", true, L""},
        {L"<!-- never closed", false, L"Unterminated comment or processing instruction"},
        {L"<?xml version=\"1.0\"", false, L"Unterminated comment or processing instruction"},
        {L"<a><!-- x", false, L"Unterminated comment or processing instruction"},
        {L"text", false, L"Expected start tag"},
        {L"<a/>tail", false, L"Expected start tag"},
        {L"<a", false, L"Error parsing element name"},
        {L"<a b>", false, L"Error while parsing attributes"},
        {L"<a b=\"1\" c>", false, L"Error while parsing attributes"},
        {L"<a b='1'/>", false, L"Expected attribute value"},
        {L"<a b=1/>", false, L"Expected attribute value"},
        {L"<a b=\"1>", false, L"Error while parsing attribute string"},
        {L"<a b=\"1\"", false, L"Expected start-tag closing"},
        {L"<a b=\"1\" / >", false, L"Expected start-tag closing"},
        {L"<a><b></a>", false, L"Unmatched closing tag"},   // inner element closed by its parent's tag
        {L"<a></b>", false, L"Unmatched closing tag"},
        {L"<a></ab>", false, L"Unmatched closing tag"},
        {L"<a></a", false, L"Unmatched closing tag"},
        {L"<a></ a >", true, L""},
    };
    for (const Case& c : cases) {
        CXmlParser p;
        EXPECT_EQ(p.Load(c.text), c.ok) << Narrow(c.text);
        EXPECT_STREQ(p.GetLastErrorMessage(), c.ok ? L"" : c.message) << Narrow(c.text);
        if (!c.ok) {
            EXPECT_FALSE(p.IsValid()) << "a failed parse keeps nothing";
        }
    }
}

TEST(XmlParser, ErrorLocationIsCut)
{
    CXmlParser p;
    EXPECT_FALSE(p.Load(L"<a b='1'/>"));
    EXPECT_STREQ(p.GetLastErrorLocation(), L"'1'/>");
    const std::wstring longTail = L"<a>" + std::wstring(200, L'x') + L"<b></c></a>";
    EXPECT_FALSE(p.Load(longTail.c_str()));
    EXPECT_STREQ(p.GetLastErrorMessage(), L"Unmatched closing tag");
    EXPECT_STREQ(p.GetLastErrorLocation(), L"c></a>");
    EXPECT_FALSE(p.Load((L"<a b='" + std::wstring(100, L'y') + L"'/>").c_str()));
    EXPECT_EQ(std::wstring(p.GetLastErrorLocation()), L"'" + std::wstring(48, L'y'));   // 49 characters kept
    CXmlParser q;
    EXPECT_FALSE(q.Load((L"<a><b><c>" + std::wstring(100, L'z')).c_str()));
    EXPECT_EQ(wcslen(q.GetLastErrorLocation()), 0u);   // at the end of the text
    EXPECT_FALSE(q.Load((L"<a>" + std::wstring(100, L'z') + L"<b c=\"").c_str()));
    EXPECT_STREQ(q.GetLastErrorMessage(), L"Error while parsing attribute string");
}

TEST(XmlParser, TreeWalk)
{
    CXmlParser p(L"<Window size=\"1,2\"><Font id=\"0\"/>\n<VBox><Label text=\"a\">hello</Label><Control/></VBox>"
                 L"</Window><Second/>");
    CXmlNode root = p.GetRoot();
    ASSERT_TRUE(root.IsValid());
    EXPECT_STREQ(root.GetName(), L"Window");
    EXPECT_TRUE(root.HasChildren());
    EXPECT_STREQ(root.GetSibling().GetName(), L"Second");   // later top-level elements are siblings
    CXmlNode font = root.GetChild();
    EXPECT_STREQ(font.GetName(), L"Font");
    EXPECT_FALSE(font.HasChildren());
    CXmlNode vbox = font.GetSibling();
    EXPECT_STREQ(vbox.GetName(), L"VBox");
    EXPECT_FALSE(vbox.GetSibling().IsValid());
    CXmlNode label = vbox.GetChild();
    EXPECT_STREQ(label.GetValue(), L"hello");
    EXPECT_STREQ(label.GetAttributeValue(L"text"), L"a");
    EXPECT_STREQ(label.GetParent().GetName(), L"VBox");
    EXPECT_STREQ(label.GetSibling().GetName(), L"Control");
    EXPECT_FALSE(root.GetParent().IsValid());

    CXmlNode invalid;
    EXPECT_FALSE(invalid.IsValid());
    EXPECT_EQ(invalid.GetName(), nullptr);
    EXPECT_FALSE(invalid.GetChild().IsValid());
    EXPECT_FALSE(invalid.HasAttributes());
    EXPECT_EQ(invalid.GetAttributeCount(), 0);
    EXPECT_EQ(invalid.GetAttributeName(0), nullptr);
    wchar_t buf[4];
    EXPECT_FALSE(invalid.GetAttributeValueCopy(L"x", buf, 4));

    CXmlParser empty(L"   ");
    EXPECT_FALSE(empty.GetRoot().IsValid());
}

TEST(XmlParser, AttributesEntitiesAndWhitespace)
{
    CXmlParser p(L"<a v=\"&amp;lt; &lt;&gt;&quot;&apos; &bogus; &\" w = \"x\" e=\"\" s=\"a   b\">t&amp;amp;</a>");
    CXmlNode a = p.GetRoot();
    ASSERT_TRUE(a.IsValid()) << Narrow(p.GetLastErrorMessage());
    ASSERT_EQ(a.GetAttributeCount(), 4);
    EXPECT_STREQ(a.GetAttributeName(0), L"v");
    EXPECT_STREQ(a.GetAttributeValue(0), L"&lt; <>\"' &bogus; &");   // decoded once
    EXPECT_STREQ(a.GetAttributeName(1), L"w");
    EXPECT_STREQ(a.GetAttributeValue(1), L"x");
    EXPECT_STREQ(a.GetAttributeValue(2), L"");
    EXPECT_STREQ(a.GetAttributeValue(3), L"a   b");
    EXPECT_STREQ(a.GetAttributeName(4), L"");
    EXPECT_STREQ(a.GetAttributeValue(-1), L"");
    EXPECT_STREQ(a.GetValue(), L"t&amp;");
    EXPECT_STREQ(a.GetAttributeValue(L"W", true), L"x");
    EXPECT_EQ(a.GetAttributeValue(L"W"), nullptr);

    // Values shortened by decoding still map the attributes behind them.
    CXmlParser q(L"<a x=\"&amp;&amp;&amp;\" y=\"2\"/>");
    CXmlNode n = q.GetRoot();
    EXPECT_EQ(n.GetAttributeCount(), 2);
    EXPECT_STREQ(n.GetAttributeValue(L"x"), L"&&&");
    EXPECT_STREQ(n.GetAttributeValue(L"y"), L"2");

    CXmlParser collapse;
    collapse.SetPreserveWhitespace(false);
    ASSERT_TRUE(collapse.Load(L"<a s=\"a  \t b\tc\">x   y</a>"));
    EXPECT_STREQ(collapse.GetRoot().GetAttributeValue(L"s"), L"a b\tc");
    EXPECT_STREQ(collapse.GetRoot().GetValue(), L"x y");
}

TEST(XmlParser, AttributeValueCopyAlwaysTerminates)
{
    CXmlParser p(L"<a name=\"abcdef\" Name=\"other\"/>");
    CXmlNode a = p.GetRoot();
    wchar_t buf[10];
    struct Case {
        size_t max;
        const wchar_t* expected;
    } const cases[] = {{10, L"abcdef"}, {7, L"abcdef"}, {6, L"abcde"}, {4, L"abc"}, {1, L""}};
    for (const Case& c : cases) {
        wmemset(buf, L'#', 10);
        ASSERT_TRUE(a.GetAttributeValueCopy(L"name", buf, c.max)) << c.max;
        EXPECT_STREQ(buf, c.expected) << c.max;
        for (size_t k = wcslen(c.expected); k < c.max; ++k) EXPECT_EQ(buf[k], L'\0') << c.max;
        for (size_t k = c.max; k < 10; ++k) EXPECT_EQ(buf[k], L'#') << "wrote past max " << c.max;
    }
    ASSERT_TRUE(a.GetAttributeValueCopy(L"Name", buf, 10));
    EXPECT_STREQ(buf, L"other");
    EXPECT_FALSE(a.GetAttributeValueCopy(L"NAME", buf, 10));
    CXmlParser none(L"<a/>");
    CXmlNode b = none.GetRoot();
    EXPECT_FALSE(b.GetAttributeValueCopy(L"name", buf, 10));
    EXPECT_FALSE(b.HasAttributes());
}

TEST(XmlParser, SixtyFourAttributesAreVisible)
{
    for (int count : {63, 64, 65, 70}) {
        std::wstring text = L"<a";
        for (int i = 0; i < count; ++i) text += L" a" + std::to_wstring(i) + L"=\"" + std::to_wstring(i) + L"\"";
        text += L"/>";
        CXmlParser p(text.c_str());
        CXmlNode a = p.GetRoot();
        ASSERT_TRUE(a.IsValid());
        const int visible = count < 64 ? count : 64;
        EXPECT_EQ(a.GetAttributeCount(), visible) << count;
        EXPECT_EQ(a.GetAttributeName(visible - 1), L"a" + std::to_wstring(visible - 1));
        EXPECT_STREQ(a.GetAttributeName(64), L"");
        EXPECT_EQ(a.GetAttributeValue(L"a64") != nullptr, false) << count;
    }
}

TEST(XmlParser, DepthIsCapped)
{
    auto nested = [](int depth) {
        std::wstring t;
        for (int i = 0; i < depth; ++i) t += L"<e>";
        for (int i = 0; i < depth; ++i) t += L"</e>";
        return t;
    };
    CXmlParser p;
    EXPECT_TRUE(p.Load(nested(200).c_str()));
    EXPECT_FALSE(p.Load(nested(CXmlParser::kMaxDepth + 1).c_str()));
    EXPECT_STREQ(p.GetLastErrorMessage(), L"Elements nested too deeply");
    EXPECT_FALSE(p.Load(nested(100000).c_str()));
}

TEST(XmlParser, Encodings)
{
    const std::wstring expected = L"\x7b80\x4f53\x4e2d\x6587 caf\xe9";
    const std::string utf8 = "<Window caption=\"\xe7\xae\x80\xe4\xbd\x93\xe4\xb8\xad\xe6\x96\x87 caf\xc3\xa9\"/>";
    auto captionOf = [](CXmlParser& p) {
        CXmlNode root = p.GetRoot();
        return root.IsValid() ? std::wstring(root.GetAttributeValue(L"caption")) : std::wstring(L"<none>");
    };
    CXmlParser p;
    ASSERT_TRUE(p.LoadFromMem(utf8.data(), utf8.size(), CXmlParser::kUtf8));
    EXPECT_EQ(captionOf(p), expected);
    const std::string bom = "\xef\xbb\xbf" + utf8;
    ASSERT_TRUE(p.LoadFromMem(bom.data(), bom.size(), CXmlParser::kUtf8));
    EXPECT_EQ(captionOf(p), expected);

    const std::wstring wide = L"<Window caption=\"" + expected + L"\"/>";
    std::vector<unsigned char> le = {0xFF, 0xFE}, be = {0xFE, 0xFF}, bare;
    for (wchar_t c : wide) {
        le.push_back(static_cast<unsigned char>(c & 0xFF));
        le.push_back(static_cast<unsigned char>(c >> 8));
        be.push_back(static_cast<unsigned char>(c >> 8));
        be.push_back(static_cast<unsigned char>(c & 0xFF));
        bare.push_back(static_cast<unsigned char>(c & 0xFF));
        bare.push_back(static_cast<unsigned char>(c >> 8));
    }
    ASSERT_TRUE(p.LoadFromMem(le.data(), le.size(), CXmlParser::kUtf16));
    EXPECT_EQ(captionOf(p), expected);
    ASSERT_TRUE(p.LoadFromMem(be.data(), be.size(), CXmlParser::kUtf16));
    EXPECT_EQ(captionOf(p), expected);
    EXPECT_FALSE(p.LoadFromMem(bare.data(), bare.size(), CXmlParser::kUtf16));   // no byte-order mark
    EXPECT_FALSE(p.IsValid());
    le.push_back(0x41);   // an odd trailing byte is dropped
    ASSERT_TRUE(p.LoadFromMem(le.data(), le.size(), CXmlParser::kUtf16));
    EXPECT_EQ(captionOf(p), expected);

    // The ANSI code page: every code page maps ASCII, and "caf" + 0xE9 as the
    // system converts it.
    const std::string ansi = "<Window caption=\"caf\xe9\"/>";
    wchar_t converted[8] = {};
    MultiByteToWideChar(CP_ACP, 0, "caf\xe9", 4, converted, 8);
    ASSERT_TRUE(p.LoadFromMem(ansi.data(), ansi.size(), CXmlParser::kAnsi));
    EXPECT_EQ(captionOf(p), std::wstring(converted));
}

// Every prefix of a real layout, as UTF-16 text and as UTF-8 bytes cut anywhere
// (inside multibyte characters too), parses or fails cleanly; what parses walks.
TEST(XmlParser, EveryPrefixOfARealLayout)
{
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(ReadWholeFile(Widen(UI_LAYOUT_FILE), bytes));
    std::function<int(CXmlNode)> walk = [&](CXmlNode node) {
        int n = 0;
        for (; node.IsValid(); node = node.GetSibling()) {
            ++n;
            EXPECT_NE(node.GetName(), nullptr);
            for (int i = 0; i < node.GetAttributeCount(); ++i) {
                EXPECT_NE(node.GetAttributeValue(i), nullptr);
            }
            n += walk(node.GetChild());
        }
        return n;
    };
    CXmlParser whole;
    ASSERT_TRUE(whole.LoadFromMem(bytes.data(), bytes.size(), CXmlParser::kUtf8));
    const int elements = walk(whole.GetRoot());
    EXPECT_EQ(elements, whole.GetElementCount() - 1);
    EXPECT_GT(elements, 30);
    CXmlNode root = whole.GetRoot();
    EXPECT_STREQ(root.GetName(), L"Window");
    EXPECT_STREQ(root.GetAttributeValue(L"size"), L"640,420");

    int loaded = 0;
    for (size_t n = 0; n < bytes.size(); ++n) {
        CXmlParser p;
        if (p.LoadFromMem(bytes.data(), n, CXmlParser::kUtf8)) {
            ++loaded;
            walk(p.GetRoot());
        } else {
            EXPECT_NE(p.GetLastErrorMessage()[0], L'\0') << n;
        }
    }
    EXPECT_GT(loaded, 0);
}

// ---------------------------------------------------------------- loading skin files

struct SourceGuard {
    ~SourceGuard() { SetSkinSourceQuery(nullptr); }
};

SkinSource g_source;
bool AnswerSource(SkinSource& s)
{
    s = g_source;
    return true;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(h);
    return ok;
}

TEST(XmlParser, FourMiBLimitOnSkinFiles)
{
    const std::wstring folder = WorkDir() + L"\\";
    const std::string head = "<a>", tail = "</a>";
    std::string exact = head + std::string(0x400000 - head.size() - tail.size(), 'x') + tail;
    ASSERT_EQ(exact.size(), 0x400000u);
    ASSERT_TRUE(WriteFileBytes(folder + L"exact.xml", exact));
    exact.insert(3, "y");
    ASSERT_TRUE(WriteFileBytes(folder + L"over.xml", exact));
    ASSERT_TRUE(WriteFileBytes(folder + L"empty.xml", ""));

    SkinSource source;
    source.kind = SkinSourceKind::Folder;
    source.resourcePath = folder.c_str();
    CXmlParser p;
    EXPECT_TRUE(p.LoadFromSource(source, L"exact.xml"));
    EXPECT_EQ(wcslen(p.GetRoot().GetValue()), 0x400000u - 7);
    EXPECT_FALSE(p.LoadFromSource(source, L"over.xml"));
    EXPECT_STREQ(p.GetLastErrorMessage(), L"File too large");
    EXPECT_STREQ(p.GetLastErrorLocation(), L"");
    EXPECT_FALSE(p.LoadFromSource(source, L"empty.xml"));
    EXPECT_STREQ(p.GetLastErrorMessage(), L"File is empty");
    EXPECT_FALSE(p.LoadFromSource(source, L"absent.xml"));
    EXPECT_STREQ(p.GetLastErrorMessage(), L"Error opening file");
}

TEST(XmlParser, LoadFromFileThroughEachSkinSource)
{
    SourceGuard guard;
    SetSkinSourceQuery(&AnswerSource);
    const std::wstring fixtures = FixturePath(L"");
    const std::wstring payload = FixturePath(L"payload/full/");

    struct Case {
        SkinSourceKind kind;
        std::wstring resourcePath;
        std::wstring archive;
        const wchar_t* file;
        const wchar_t* message;   // "" = loads
    } const cases[] = {
        {SkinSourceKind::Folder, payload, L"", L"MainWnd.xml", L""},
        {SkinSourceKind::Folder, payload, L"", L"res\\mainWnd\\missing.xml", L"Error opening file"},
        {SkinSourceKind::SevenZip, fixtures, L"bcj2.7z", L"MainWnd.xml", L""},
        {SkinSourceKind::SevenZip, fixtures, L"bcj2.7z", L"mainwnd.XML", L""},
        {SkinSourceKind::SevenZip, fixtures, L"bcj2.7z", L"Other.xml", L"Could not find ziped file"},
        {SkinSourceKind::SevenZip, fixtures, L"bcj2.7z", L"data\\empty.txt", L"File is empty"},
        {SkinSourceKind::SevenZip, fixtures, L"absent.7z", L"MainWnd.xml", L"Error opening zip file"},
        {SkinSourceKind::SevenZip, fixtures, L"zip_deflated.zip", L"MainWnd.xml", L"Error opening zip file"},
        {SkinSourceKind::Zip, fixtures, L"zip_deflated.zip", L"mainwnd.xml", L""},
        {SkinSourceKind::Zip, fixtures, L"zip_deflated.zip", L"data\\empty.txt", L"File is empty"},
        {SkinSourceKind::Zip, fixtures, L"zip_deflated.zip", L"nope.xml", L"Could not find ziped file"},
        {SkinSourceKind::Zip, fixtures, L"zip_bad_local.zip", L"MainWnd.xml", L"Could not unzip file"},
        {SkinSourceKind::Zip, fixtures, L"absent.zip", L"MainWnd.xml", L"Error opening zip file"},
    };
    for (const Case& c : cases) {
        g_source = SkinSource();
        g_source.kind = c.kind;
        g_source.resourcePath = c.resourcePath.c_str();
        g_source.archiveName = c.archive.c_str();
        CXmlParser p;
        const bool ok = p.LoadFromFile(c.file);
        EXPECT_EQ(ok, c.message[0] == L'\0') << Narrow(c.archive.c_str()) << " " << Narrow(c.file);
        EXPECT_STREQ(p.GetLastErrorMessage(), c.message) << Narrow(c.archive.c_str()) << " " << Narrow(c.file);
        if (ok) {
            EXPECT_STREQ(p.GetRoot().GetName(), L"Window");
        }
    }

    // Archives kept open for the run.
    HSKINARCHIVE7Z archive = CSkinArchive7z::OpenFromFile(FixturePath(L"lzma2.7z").c_str());
    ASSERT_NE(archive, nullptr);
    g_source = SkinSource();
    g_source.kind = SkinSourceKind::SevenZip;
    g_source.openArchive = archive;
    CXmlParser p;
    EXPECT_TRUE(p.LoadFromFile(L"MainWnd.xml"));
    EXPECT_FALSE(p.LoadFromFile(L"language.json"));   // found, but not XML
    EXPECT_STREQ(p.GetLastErrorMessage(), L"Expected start tag");
    CSkinArchive7z::Close(archive);

    HSKINZIP zip = CSkinZip::Open(FixturePath(L"zip_stored.zip").c_str(), 0, CSkinZip::kFileName);
    ASSERT_NE(zip, nullptr);
    g_source.kind = SkinSourceKind::Zip;
    g_source.openArchive = zip;
    EXPECT_TRUE(p.LoadFromFile(L"MAINWND.xml"));
    EXPECT_TRUE(p.LoadFromFile(L"MainWnd.xml"));
    CSkinZip::Close(zip);
}

}  // namespace
