// The framework's utility types: strings, arrays, the string map, geometry.
#include <gtest/gtest.h>

#include <string>

#include "UIUtils.h"

using namespace SkinUI;

namespace {

std::wstring Letters(int n, wchar_t c = L'x') { return std::wstring(static_cast<size_t>(n), c); }

// ---------------------------------------------------------------- CUIString

TEST(UIString, InlineAndHeapBoundary)
{
    struct Case {
        int length;
        bool inlineExpected;
    } const cases[] = {{0, true}, {1, true}, {62, true}, {63, false}, {64, false}, {300, false}};
    for (const Case& c : cases) {
        const std::wstring text = Letters(c.length);
        CUIString s(text.c_str());
        EXPECT_EQ(s.GetLength(), c.length) << c.length;
        EXPECT_EQ(s.IsInline(), c.inlineExpected) << c.length;
        EXPECT_EQ(std::wstring(s.GetData()), text) << c.length;

        CUIString appended;
        for (int i = 0; i < c.length; ++i) appended.AppendChar(L'x');
        EXPECT_EQ(appended.IsInline(), c.inlineExpected) << c.length;
        EXPECT_TRUE(appended.Equals(text.c_str())) << c.length;

        CUIString copy(s);
        EXPECT_EQ(copy.IsInline(), c.inlineExpected) << c.length;
        EXPECT_TRUE(copy == text.c_str());
    }
}

TEST(UIString, AssignmentMovesBetweenInlineAndHeap)
{
    CUIString s(Letters(63).c_str());
    ASSERT_FALSE(s.IsInline());
    s.Assign(Letters(62, L'y').c_str());   // fits inline again: the heap block goes
    EXPECT_TRUE(s.IsInline());
    EXPECT_TRUE(s.Equals(Letters(62, L'y').c_str()));
    s.Assign(Letters(100, L'z').c_str());
    EXPECT_FALSE(s.IsInline());
    s.Assign(Letters(70, L'w').c_str());   // reuses the larger block
    EXPECT_FALSE(s.IsInline());
    EXPECT_TRUE(s.Equals(Letters(70, L'w').c_str()));
    s.Assign(nullptr);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_TRUE(s.IsInline());
    s.AssignText(L"abcdef", 3);
    EXPECT_TRUE(s.Equals(L"abc"));
    s.AssignText(nullptr, 5);
    EXPECT_TRUE(s.IsEmpty());
}

TEST(UIString, AppendAcrossTheBoundaryAndFromItself)
{
    CUIString s(Letters(60).c_str());
    s.Append(L"ab");
    EXPECT_TRUE(s.IsInline());
    s.Append(L"c");
    EXPECT_FALSE(s.IsInline());
    EXPECT_EQ(std::wstring(s.GetData()), Letters(60) + L"abc");

    CUIString self(Letters(40).c_str());
    self.Append(self.GetData());   // the source lies in the string's own buffer
    EXPECT_EQ(std::wstring(self.GetData()), Letters(80));
    self.Append(self.GetData() + 70);
    EXPECT_EQ(self.GetLength(), 90);

    // Shortened on the heap by Replace, then appended to within the inline size.
    CUIString shrunk(Letters(70, L'a').c_str());
    EXPECT_EQ(shrunk.Replace(Letters(10, L'a').c_str(), L"b"), 7);
    EXPECT_TRUE(shrunk.Equals(L"bbbbbbb"));
    shrunk.Append(L"tail");
    EXPECT_TRUE(shrunk.Equals(L"bbbbbbbtail"));
    EXPECT_TRUE(shrunk.IsInline());

    CUIString n(L"a");
    n.AppendText(nullptr);
    n += L"b";
    n += CUIString(L"c");
    n += L'd';
    EXPECT_TRUE(n.Equals(L"abcd"));
    EXPECT_TRUE(n.Concat(nullptr).Equals(L"abcd"));
    EXPECT_TRUE(n.Concat(L"e").Equals(L"abcde"));
    EXPECT_TRUE(n.Equals(L"abcd"));
}

TEST(UIString, ReplaceTable)
{
    struct Case {
        const wchar_t* text;
        const wchar_t* from;
        const wchar_t* to;
        const wchar_t* expected;
        int count;
    } const cases[] = {
        {L"aaa", L"a", L"aa", L"aaaaaa", 3},   // inserted text is not searched again
        {L"abcabc", L"bc", L"", L"aa", 2},
        {L"abc", L"x", L"y", L"abc", 0},
        {L"", L"a", L"b", L"", 0},
        {L"res/a/b.png", L"/", L"\\", L"res\\a\\b.png", 2},
        {L"%{100} and %{100}", L"%{100}", L"Install now", L"Install now and Install now", 2},
    };
    for (const Case& c : cases) {
        CUIString s(c.text);
        EXPECT_EQ(s.Replace(c.from, c.to), c.count) << c.text;
        EXPECT_TRUE(s.Equals(c.expected)) << c.text << " -> " << s.GetData();
    }
    // Growth past the inline buffer.
    CUIString grow(Letters(40, L'q').c_str());
    EXPECT_EQ(grow.Replace(L"q", L"QQ"), 40);
    EXPECT_EQ(grow.GetLength(), 80);
}

TEST(UIString, FindLeftMid)
{
    CUIString s(L"abcdef");
    EXPECT_TRUE(s.Mid(2, -1).Equals(L"cdef"));
    EXPECT_TRUE(s.Mid(2).Equals(L"cdef"));
    EXPECT_TRUE(s.Mid(2, 100).Equals(L"cdef"));
    EXPECT_TRUE(s.Mid(1, 2).Equals(L"bc"));
    EXPECT_TRUE(s.Mid(6, 3).IsEmpty());
    EXPECT_TRUE(s.Mid(7, 1).IsEmpty());
    EXPECT_TRUE(s.Mid(-1, 1).IsEmpty());
    EXPECT_TRUE(CUIString(L"abc").Left(10).Equals(L"abc"));
    EXPECT_TRUE(CUIString(L"abc").Left(-2).IsEmpty());
    EXPECT_TRUE(CUIString(L"abc").Left(2).Equals(L"ab"));

    EXPECT_EQ(s.FindChar(L'c'), 2);
    EXPECT_EQ(s.FindChar(L'c', 3), -1);
    EXPECT_EQ(s.FindChar(L'f', 5), 5);
    EXPECT_EQ(s.FindChar(L'a', 6), -1);   // start = length is refused
    EXPECT_EQ(s.FindChar(L'a', -1), -1);
    EXPECT_EQ(s.FindText(L"", 6), 6);      // start = length searches the empty tail
    EXPECT_EQ(s.FindText(L"f", 6), -1);
    EXPECT_EQ(s.FindText(L"cd"), 2);
    EXPECT_EQ(s.FindText(L"cd", 3), -1);
    EXPECT_EQ(s.FindText(L"a", 7), -1);
    EXPECT_EQ(s.FindText(nullptr), -1);
    EXPECT_EQ(CUIString(L"a/b/c").ReverseFindChar(L'/'), 3);
    EXPECT_EQ(CUIString(L"abc").ReverseFindChar(L'/'), -1);
    EXPECT_EQ(CUIString().FindChar(L'a'), -1);
}

TEST(UIString, CompareLowerFormat)
{
    CUIString s(L"MainWnd.XML");
    EXPECT_EQ(s.CompareNoCase(L"mainwnd.xml"), 0);
    EXPECT_NE(s.CompareNoCase(L"mainwnd.xm"), 0);
    EXPECT_TRUE(s.NotEquals(L"mainwnd.xml"));
    s.MakeLower();
    EXPECT_TRUE(s.Equals(L"mainwnd.xml"));

    CUIString f;
    EXPECT_EQ(f.Format(L"%4d-%02d-%02d", 2024, 5, 7), 10);
    EXPECT_TRUE(f.Equals(L"2024-05-07"));
    f.Format(L"%s=%d", L"id", 100);
    EXPECT_TRUE(f.Equals(L"id=100"));
    // Output longer than 63 characters is cut there, never written past the buffer.
    const std::wstring big = Letters(200, L'k');
    EXPECT_EQ(f.Format(L"%s", big.c_str()), 63);
    EXPECT_EQ(std::wstring(f.GetData()), Letters(63, L'k'));
    EXPECT_EQ(f.Format(L"%s%s", Letters(62).c_str(), L"ab"), 63);
    EXPECT_TRUE(f.Clone().Equals(f.GetData()));
    f.Empty();
    EXPECT_TRUE(f.IsEmpty());
}

// ---------------------------------------------------------------- arrays

TEST(UIPtrArray, GrowthInsertRemove)
{
    CUIPtrArray a;
    EXPECT_EQ(a.GetCapacity(), 0);
    int items[30];
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(a.Add(&items[i]));
    EXPECT_EQ(a.GetCapacity(), 11);
    ASSERT_TRUE(a.Add(&items[10]));   // the 11th: capacity doubles
    EXPECT_EQ(a.GetCapacity(), 22);
    EXPECT_EQ(a.GetSize(), 11);
    EXPECT_EQ(a.Find(&items[4]), 4);
    EXPECT_EQ(a.Find(&items[29]), -1);
    EXPECT_EQ(a.GetAt(11), nullptr);
    EXPECT_EQ(a.GetAt(-1), nullptr);

    EXPECT_FALSE(a.InsertAt(-1, &items[20]));
    EXPECT_FALSE(a.InsertAt(12, &items[20]));
    EXPECT_TRUE(a.InsertAt(0, &items[20]));
    EXPECT_TRUE(a.InsertAt(a.GetSize(), &items[21]));
    EXPECT_EQ(a.GetAt(0), &items[20]);
    EXPECT_EQ(a.GetAt(1), &items[0]);
    EXPECT_EQ(a.GetAt(12), &items[21]);

    EXPECT_FALSE(a.Remove(-1, 1));
    EXPECT_FALSE(a.Remove(0, 0));
    EXPECT_FALSE(a.Remove(10, 4));   // runs past the end
    EXPECT_TRUE(a.Remove(0, 2));
    EXPECT_EQ(a.GetAt(0), &items[1]);
    EXPECT_EQ(a.GetSize(), 11);

    CUIPtrArray copy(a);
    EXPECT_EQ(copy.GetSize(), 11);
    EXPECT_EQ(copy.GetAt(10), &items[21]);

    a.Resize(3);
    EXPECT_EQ(a.GetSize(), 3);
    EXPECT_EQ(a.GetAt(2), nullptr);
    a.Empty();
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_EQ(a.GetCapacity(), 0);
}

TEST(UIPtrArray, FailedGrowthChangesNothing)
{
    CUIPtrArray a;
    int items[12];
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(a.Add(&items[i]));
    UIMemory::FailAfter(0);
    EXPECT_FALSE(a.Add(&items[10]));
    EXPECT_FALSE(a.InsertAt(0, &items[10]));
    UIMemory::FailAfter(-1);
    EXPECT_EQ(a.GetSize(), 10);
    EXPECT_EQ(a.GetCapacity(), 11);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(a.GetAt(i), &items[i]);
    EXPECT_TRUE(a.Add(&items[10]));

    CUIValArray v(sizeof(int));
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(v.Add(&i));
    UIMemory::FailAfter(0);
    const int extra = 99;
    EXPECT_FALSE(v.Add(&extra));
    UIMemory::FailAfter(-1);
    EXPECT_EQ(v.GetSize(), 10);
    EXPECT_EQ(*static_cast<int*>(v.GetAt(9)), 9);
}

TEST(UIValArray, CopiesBytewise)
{
    struct Pair {
        int a;
        short b;
    };
    CUIValArray v(sizeof(Pair));
    for (int i = 0; i < 25; ++i) {
        const Pair p = {i, static_cast<short>(-i)};
        ASSERT_TRUE(v.Add(&p));
    }
    EXPECT_EQ(v.GetSize(), 25);
    EXPECT_EQ(v.GetCapacity(), 44);   // 11 -> 22 -> 44
    EXPECT_EQ(static_cast<Pair*>(v.GetAt(24))->b, -24);
    EXPECT_FALSE(v.Remove(24, 2));
    EXPECT_TRUE(v.Remove(1, 23));
    EXPECT_EQ(v.GetSize(), 2);
    EXPECT_EQ(static_cast<Pair*>(v.GetAt(1))->a, 24);
}

// ---------------------------------------------------------------- map

TEST(UIStringMap, HashAndBuckets)
{
    EXPECT_EQ(CUIStringMap::HashKey(L"ab"), 3331u);
    EXPECT_EQ(CUIStringMap::HashKey(L""), 0u);
    EXPECT_EQ(CUIStringMap(4).GetBucketCount(), 16);
    EXPECT_EQ(CUIStringMap().GetBucketCount(), 83);
    CUIStringMap m(83);
    EXPECT_EQ(m.Find(L"absent"), nullptr);   // no entries
}

TEST(UIStringMap, InsertSetRemoveFind)
{
    CUIStringMap m(16);
    int a = 1, b = 2, c = 3;
    EXPECT_TRUE(m.Insert(L"font", &a));
    EXPECT_FALSE(m.Insert(L"font", &b));   // present
    EXPECT_EQ(m.Find(L"font"), &a);
    EXPECT_EQ(m.Find(L"Font"), nullptr);   // exact comparison
    EXPECT_EQ(m.Set(L"font", &b), &a);
    EXPECT_EQ(m.Find(L"font"), &b);
    EXPECT_EQ(m.Set(L"image", &c), nullptr);
    EXPECT_EQ(m.GetSize(), 2);
    EXPECT_TRUE(m.Remove(L"font"));
    EXPECT_FALSE(m.Remove(L"font"));
    EXPECT_EQ(m.Find(L"font"), nullptr);
    EXPECT_EQ(m.GetSize(), 1);
    m.RemoveAll();
    EXPECT_EQ(m.GetSize(), 0);
    EXPECT_EQ(m.GetBucketCount(), 16);

    m.Resize(0);   // no buckets: nothing is stored
    EXPECT_FALSE(m.Insert(L"x", &a));
    EXPECT_EQ(m.Set(L"x", &a), &a);
    EXPECT_EQ(m.Find(L"x"), nullptr);
    EXPECT_EQ(m.GetKeyAt(0), nullptr);
}

TEST(UIStringMap, KeyOrderAndMoveToFront)
{
    // With 16 buckets: "a" (97) -> 1, "b" (98) -> 2, "q" (113) -> 1.
    CUIStringMap m(16);
    int v = 0;
    m.Insert(L"a", &v);
    m.Insert(L"b", &v);
    m.Insert(L"q", &v);   // head of bucket 1, before "a"
    // From the last bucket to the first, each bucket from its head.
    EXPECT_STREQ(m.GetKeyAt(0), L"b");
    EXPECT_STREQ(m.GetKeyAt(1), L"q");
    EXPECT_STREQ(m.GetKeyAt(2), L"a");
    EXPECT_EQ(m.GetKeyAt(3), nullptr);
    EXPECT_EQ(m.GetKeyAt(-1), nullptr);
    m.Find(L"a", false);
    EXPECT_STREQ(m.GetKeyAt(1), L"q");
    m.Find(L"a");   // moved to the head of its bucket
    EXPECT_STREQ(m.GetKeyAt(1), L"a");
    EXPECT_STREQ(m.GetKeyAt(2), L"q");
    EXPECT_TRUE(m.Remove(L"a"));
    EXPECT_STREQ(m.GetKeyAt(1), L"q");
    // Walking and removing every key, as the caches do on release.
    int removed = 0;
    for (LPCWSTR key = m.GetKeyAt(0); key; key = m.GetKeyAt(0)) {
        CUIString copy(key);
        ASSERT_TRUE(m.Remove(copy.GetData()));
        ++removed;
    }
    EXPECT_EQ(removed, 2);
}

TEST(UIStringMap, ManyKeys)
{
    CUIStringMap m(83);
    static int values[500];
    for (int i = 0; i < 500; ++i) {
        CUIString key;
        key.Format(L"res\\img%d.png", i);
        ASSERT_TRUE(m.Insert(key.GetData(), &values[i]));
    }
    EXPECT_EQ(m.GetSize(), 500);
    for (int i = 0; i < 500; ++i) {
        CUIString key;
        key.Format(L"res\\img%d.png", i);
        ASSERT_EQ(m.Find(key.GetData()), &values[i]);
    }
    int walked = 0;
    while (m.GetKeyAt(walked)) ++walked;
    EXPECT_EQ(walked, 500);
}

// ---------------------------------------------------------------- geometry, ids

TEST(UIGeometry, RectOperations)
{
    CUIRect r(10, 20, 110, 70);
    EXPECT_EQ(r.GetWidth(), 100);
    EXPECT_EQ(r.GetHeight(), 50);
    r.Union(CUIRect(0, 30, 50, 100));
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right, 110);
    EXPECT_EQ(r.bottom, 100);
    CUIRect e;
    e.Union(CUIRect(5, 5, 6, 6));   // empty rectangles are not special
    EXPECT_EQ(e.left, 0);
    EXPECT_EQ(e.right, 6);
    r.Offset(5, -5);
    EXPECT_EQ(r.left, 5);
    EXPECT_EQ(r.top, 15);
    r.MoveToOrigin();
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 110);
    EXPECT_EQ(r.bottom, 80);
    static_assert(sizeof(CUIRect) == sizeof(RECT), "same layout as RECT");
    const RECT raw = {1, 2, 3, 4};
    EXPECT_EQ(CUIRect(raw).bottom, 4);
    EXPECT_EQ(CUISize(3, 4).cy, 4);
    EXPECT_EQ(CUIPoint(5, 6).x, 5);
}

TEST(UIStringOrId, KeepsLow16Bits)
{
    CUIStringOrId id(0x12345u);
    EXPECT_TRUE(IS_INTRESOURCE(id.m_lpstr));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(id.m_lpstr), 0x2345u);
    const wchar_t* name = L"ZIPRES";
    EXPECT_EQ(CUIStringOrId(name).m_lpstr, name);
}

}  // namespace
