// Delegates and event sources: duplicates, the walk that stops at the first false, copies.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "UIDelegate.h"

using namespace SkinUI;

namespace {

struct Watcher {
    int id;
    bool answer;
    std::vector<int>* log;
    bool OnEvent(void* param)
    {
        log->push_back(id);
        if (param) ++*static_cast<int*>(param);
        return answer;
    }
    bool OnOther(void*)
    {
        log->push_back(-id);
        return true;
    }
};

int g_staticCalls = 0;
bool StaticHook(void*)
{
    ++g_staticCalls;
    return true;
}

TEST(Delegates, DuplicatesAreRefused)
{
    std::vector<int> log;
    Watcher w1{1, true, &log}, w2{2, true, &log};
    CUIEventSource source;
    EXPECT_FALSE(source.HasDelegates());
    source += MakeDelegate(&w1, &Watcher::OnEvent);
    source += MakeDelegate(&w1, &Watcher::OnEvent);   // same object and function
    source += MakeDelegate(&w2, &Watcher::OnEvent);   // same function, other object
    source += MakeDelegate(&w1, &Watcher::OnOther);   // same object, other function
    source += MakeDelegate(&StaticHook);
    source += MakeDelegate(&StaticHook);
    EXPECT_TRUE(source.HasDelegates());
    int calls = 0;
    EXPECT_TRUE(source(&calls));
    EXPECT_EQ(log, (std::vector<int>{1, 2, -1}));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(g_staticCalls, 1);
}

TEST(Delegates, FirstFalseStopsTheWalk)
{
    std::vector<int> log;
    Watcher w1{1, true, &log}, w2{2, false, &log}, w3{3, true, &log};
    CUIEventSource source;
    source.Add(MakeDelegate(&w1, &Watcher::OnEvent));
    source.Add(MakeDelegate(&w2, &Watcher::OnEvent));
    source.Add(MakeDelegate(&w3, &Watcher::OnEvent));
    EXPECT_FALSE(source.Invoke(nullptr));
    EXPECT_EQ(log, (std::vector<int>{1, 2}));
}

TEST(Delegates, EmptySourceAnswersTrueAndCopiesAreOwned)
{
    CUIEventSource empty;
    EXPECT_TRUE(empty.Invoke(nullptr));

    std::vector<int> log;
    Watcher w{7, true, &log};
    CUIEventSource source;
    {
        CDelegate<Watcher> local(&w, &Watcher::OnEvent);
        source += local;   // the source keeps its own copy
    }
    EXPECT_TRUE(source.Invoke(nullptr));
    EXPECT_EQ(log, (std::vector<int>{7}));
    std::unique_ptr<CDelegateBase> copy(MakeDelegate(&w, &Watcher::OnEvent).Copy());
    EXPECT_TRUE(copy->Equals(MakeDelegate(&w, &Watcher::OnEvent)));
    EXPECT_FALSE(copy->Equals(MakeDelegate(&w, &Watcher::OnOther)));
}

}  // namespace
