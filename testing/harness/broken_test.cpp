// Deliberately broken tests, built only for the harness check: each must come out
// Failed under ctest, and the one good test Passed, through the same runner as the suite.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// A copy of the XML depth-cap test over a parser whose cap has been taken out: the
// check of the cap fails, then the deep document recurses until the stack is gone.
int UncappedDepth(const std::wstring& text, size_t& at)
{
    volatile char frame[512];
    frame[0] = 0;
    int deepest = 0;
    while (at + 2 < text.size() && text.compare(at, 3, L"<e>") == 0) {
        at += 3;
        const int below = UncappedDepth(text, at) + 1 + frame[0];
        if (below > deepest) deepest = below;
        if (text.compare(at, 4, L"</e>") == 0) at += 4;
    }
    return deepest;
}

bool LoadUncapped(const std::wstring& text, int maxDepth)
{
    size_t at = 0;
    return UncappedDepth(text, at) < maxDepth;
}

std::wstring Nested(int depth)
{
    std::wstring t;
    for (int i = 0; i < depth; ++i) t += L"<e>";
    for (int i = 0; i < depth; ++i) t += L"</e>";
    return t;
}

}  // namespace

TEST(HarnessGood, Passes)
{
    EXPECT_TRUE(LoadUncapped(Nested(200), 256));
}

TEST(HarnessBroken, FailsAnAssertion)
{
    EXPECT_FALSE(LoadUncapped(Nested(300), 1000)) << "broken on purpose";
}

TEST(HarnessBroken, FailsThenOverflowsTheStack)
{
    EXPECT_FALSE(LoadUncapped(Nested(257), 1000)) << "broken on purpose";
    EXPECT_FALSE(LoadUncapped(Nested(1000000), 256));
}

TEST(HarnessBroken, OverflowsTheStack)
{
    EXPECT_FALSE(LoadUncapped(Nested(1000000), 256));
}

TEST(HarnessBroken, Crashes)
{
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    EXPECT_TRUE(true);
}

TEST(HarnessBroken, EndsTheProcessEarly)
{
    std::exit(0);
}
