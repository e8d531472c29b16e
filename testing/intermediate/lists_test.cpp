// Lists of the result tree: the plain list with sentinels, the node comparisons, the
// two skip-list variants and the id map built on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <unordered_map>
#include <vector>

#include "FileTree.h"
#include "Lists.h"

namespace {

using U64Node = CListData<uint64_t>;

// Both directions of the list agree and every node is reachable once.
std::vector<CList*> Walk(const CListGroup& list) {
  std::vector<CList*> forward;
  const CList* p = list.First();
  EXPECT_EQ(list.header.prev, nullptr);
  EXPECT_EQ(list.tail.next, nullptr);
  while (!list.IsTail(p)) {
    EXPECT_NE(p, nullptr);
    if (!p) break;
    EXPECT_EQ(p->next->prev, p);
    forward.push_back(const_cast<CList*>(p));
    p = p->next;
    if (forward.size() > 1000000) break;
  }
  std::vector<CList*> backward;
  for (const CList* q = list.Last(); !list.IsHeader(q); q = q->prev)
    backward.push_back(const_cast<CList*>(q));
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(forward, backward);
  return forward;
}

std::vector<uint64_t> Values(const CListGroup& list) {
  std::vector<uint64_t> out;
  for (CList* n : Walk(list)) out.push_back(static_cast<U64Node*>(n)->value);
  return out;
}

// Bottom level = the linked list; each higher level a sub-sequence whose down pointers
// reach the same element one level lower; upper heads hold no element.
void CheckIndex(const CListGroupSortBase& list) {
  const std::vector<CList*> elements = Walk(list);
  if (!list.indexHead) {
    EXPECT_TRUE(elements.empty());
    return;
  }
  std::unordered_map<CList*, size_t> place;
  for (size_t i = 0; i < elements.size(); ++i) place[elements[i]] = i;
  std::vector<const CNode*> heads;
  for (const CNode* h = list.indexHead; h; h = h->down) heads.push_back(h);
  const CNode* bottom = heads.back();
  EXPECT_EQ(bottom->element, &list.header);
  std::vector<CList*> level0;
  for (const CNode* n = bottom->right; n; n = n->right) {
    EXPECT_EQ(n->down, nullptr);
    level0.push_back(n->element);
  }
  EXPECT_EQ(level0, elements);
  for (size_t i = 0; i + 1 < heads.size(); ++i) {
    EXPECT_EQ(heads[i]->element, nullptr);
    EXPECT_EQ(heads[i]->down, heads[i + 1]);
    std::vector<CList*> upper;
    for (const CNode* n = heads[i]->right; n; n = n->right) {
      ASSERT_NE(n->down, nullptr);
      EXPECT_EQ(n->down->element, n->element);
      upper.push_back(n->element);
    }
    std::vector<CList*> lower;
    for (const CNode* n = heads[i + 1]->right; n; n = n->right) lower.push_back(n->element);
    EXPECT_TRUE(std::includes(lower.begin(), lower.end(), upper.begin(), upper.end(),
                              [&](CList* a, CList* b) { return place[a] < place[b]; }));
  }
}

// Heap skip list that counts its index nodes and can be told to run out of memory.
class CountingSort : public CListGroupSort {
 public:
  ~CountingSort() override { Clear(); }
  CNode* NewIndexNode(CList* element) override {
    if (failAfter == 0) return nullptr;
    if (failAfter > 0) --failAfter;
    ++live;
    return CListGroupSort::NewIndexNode(element);
  }
  void FreeIndexNode(CNode* node) override {
    if (node) --live;
    CListGroupSort::FreeIndexNode(node);
  }
  int live = 0;
  int failAfter = -1;
};

struct Pair : U64Node {
  Pair(uint64_t key, int t) : U64Node(key), tie(t) {}
  int tie;
};
int ByTie(const CList* a, const CList* b) {
  return static_cast<const Pair*>(a)->tie - static_cast<const Pair*>(b)->tie;
}

}  // namespace

TEST(ListGroup, EmptyListEdges) {
  CListGroup list;
  EXPECT_TRUE(list.IsTail(list.First()));
  EXPECT_TRUE(list.IsHeader(list.Last()));
  EXPECT_TRUE(list.IsEmpty());
  U64Node key(7);
  EXPECT_TRUE(list.IsTail(list.LowerBound(key)));
  EXPECT_FALSE(list.IsAfter(&key, &key));
  list.Clear();
  EXPECT_TRUE(list.IsEmpty());
}

TEST(ListGroup, AppendMovesNodeAndLeavesOldListWhole) {
  CListGroup a, b;
  U64Node n1(1), n2(2), n3(3);
  a.Append(&n1);
  a.Append(&n2);
  a.Append(&n3);
  EXPECT_EQ(Values(a), (std::vector<uint64_t>{1, 2, 3}));
  b.Append(&n2);
  EXPECT_EQ(Values(a), (std::vector<uint64_t>{1, 3}));
  EXPECT_EQ(Values(b), (std::vector<uint64_t>{2}));
  a.Append(&n1);  // the last again: moved to the end of its own list
  EXPECT_EQ(Values(a), (std::vector<uint64_t>{3, 1}));
  EXPECT_EQ(a.Unlink(&n3), &n3);
  EXPECT_FALSE(n3.IsLinked());
  EXPECT_EQ(UnlinkNode(&n3), &n3);  // unlinking twice is harmless
  EXPECT_EQ(Values(a), (std::vector<uint64_t>{1}));
  EXPECT_EQ(a.Append(&a.tail), nullptr);
  a.Clear();
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_FALSE(n1.IsLinked());
}

TEST(ListGroup, LowerBoundIsFirstNotBelow) {
  CListGroup list;
  U64Node n[] = {U64Node(5), U64Node(3), U64Node(9)};  // not sorted: a linear walk
  for (auto& x : n) list.Append(&x);
  struct Case { uint64_t key; const CList* want; } cases[] = {
      {0, &n[0]}, {5, &n[0]}, {6, &n[2]}, {9, &n[2]}, {10, &list.tail}};
  for (const auto& c : cases) {
    U64Node key(c.key);
    EXPECT_EQ(list.LowerBound(key), c.want) << c.key;
  }
}

TEST(ListNodes, CompareTable) {
  struct Case { const wchar_t* a; int la; const wchar_t* b; int lb; int sign; } cases[] = {
      {L"ab", 2, L"abc", 3, -1},   {L"ab", 2, L"b", 1, -1},   {L"abc", 3, L"ab", 2, 1},
      {L"ab", 2, L"ab", 2, 0},     {L"A", 1, L"a", 1, -1},    {L"abX", 2, L"abY", 2, 0},
      {L"", 0, L"a", 1, -1},       {nullptr, 0, nullptr, 0, 0},
      {L"\xFFFF", 1, L"a", 1, 1},  // code-unit order, unsigned
  };
  for (const auto& c : cases) {
    CListString a(c.a, c.la), b(c.b, c.lb);
    const int r = a.Compare(b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << (c.a ? c.a : L"(null)");
  }
  U64Node low(0xFFFFFFFFull), high(0x100000000ull);
  EXPECT_LT(low.Compare(high), 0);
  EXPECT_GT(high.Compare(low), 0);
  CListData<uint32_t> small(1), big(0x80000000u);
  EXPECT_LT(small.Compare(big), 0);  // unsigned, not signed
  CListHeader h;
  CListTail t;
  EXPECT_EQ(h.Compare(low), -1);
  EXPECT_EQ(t.Compare(low), 1);
}

TEST(SortList, RandomInsertKeepsOrderAndIndex) {
  std::vector<std::unique_ptr<U64Node>> nodes;
  CountingSort list;
  std::srand(12345);
  std::vector<uint64_t> want;
  for (int i = 0; i < 3000; ++i) {
    const uint64_t v = (uint64_t(std::rand()) << 20) ^ uint64_t(std::rand() % 50);
    nodes.push_back(std::make_unique<U64Node>(v));
    ASSERT_EQ(list.Insert(nodes.back().get()), nodes.back().get());
    want.push_back(v);
  }
  std::sort(want.begin(), want.end());
  EXPECT_EQ(Values(list), want);
  CheckIndex(list);
  int levels = 0;
  for (CNode* h = list.indexHead; h; h = h->down) ++levels;
  EXPECT_GT(levels, 2);  // 22% per level: 3000 elements build several

  // Remove every other one; what stays is still ordered and indexed.
  for (size_t i = 0; i < nodes.size(); i += 2) list.Remove(nodes[i].get());
  CheckIndex(list);
  EXPECT_EQ(Walk(list).size(), nodes.size() / 2);
  list.Clear();
  EXPECT_EQ(list.live, 0);
  EXPECT_EQ(list.indexHead, nullptr);
  EXPECT_TRUE(list.IsEmpty());
  for (auto& n : nodes) EXPECT_FALSE(n->IsLinked());
}

TEST(SortList, EqualKeysOrder) {
  // Without comparators a new equal element goes after the existing ones.
  {
    std::vector<std::unique_ptr<Pair>> nodes;  // outlives the list, which unlinks them
    CountingSort list;
    for (int i = 0; i < 200; ++i) {
      nodes.push_back(std::make_unique<Pair>(uint64_t(i % 3), i));
      list.Insert(nodes.back().get());
    }
    int lastTie[3] = {-1, -1, -1};
    uint64_t lastKey = 0;
    for (CList* n : Walk(list)) {
      auto* p = static_cast<Pair*>(n);
      EXPECT_GE(p->value, lastKey);
      lastKey = p->value;
      EXPECT_GT(p->tie, lastTie[p->value]);
      lastTie[p->value] = p->tie;
    }
    CheckIndex(list);
  }
  // With comparators they decide among equal keys.
  {
    std::vector<std::unique_ptr<Pair>> nodes;
    CountingSort list;
    const ListComparator cmp[] = {ByTie};
    list.SetComparators(cmp, 1);
    const int ties[] = {50, 10, 40, 20, 30, 10};
    for (int t : ties) {
      nodes.push_back(std::make_unique<Pair>(7, t));
      list.Insert(nodes.back().get());
    }
    std::vector<int> got;
    for (CList* n : Walk(list)) got.push_back(static_cast<Pair*>(n)->tie);
    EXPECT_EQ(got, (std::vector<int>{10, 10, 20, 30, 40, 50}));
    // The two equal by every comparator keep insertion order.
    EXPECT_EQ(Walk(list)[0], nodes[1].get());
    EXPECT_EQ(Walk(list)[1], nodes[5].get());
    EXPECT_TRUE(list.IsAfter(nodes[0].get(), nodes[1].get()));
    EXPECT_FALSE(list.IsAfter(nodes[1].get(), nodes[5].get()));
  }
}

TEST(SortList, FindTable) {
  std::vector<std::unique_ptr<U64Node>> nodes;
  CountingSort list;
  U64Node key(1);
  EXPECT_TRUE(list.IsTail(list.Find(key)));  // empty
  for (uint64_t v = 10; v <= 1000; v += 10) {
    nodes.push_back(std::make_unique<U64Node>(v));
    list.Insert(nodes.back().get());
  }
  struct Case { uint64_t key; int64_t want; } cases[] = {
      {1, 10}, {10, 10}, {11, 20}, {500, 500}, {999, 1000}, {1000, 1000}, {1001, -1}};
  for (const auto& c : cases) {
    U64Node k(c.key);
    CList* hit = list.Find(k);
    if (c.want < 0)
      EXPECT_TRUE(list.IsTail(hit)) << c.key;
    else
      EXPECT_EQ(static_cast<U64Node*>(hit)->value, uint64_t(c.want)) << c.key;
  }
  // The slot of LowerBound searches the same way.
  CListGroup& plain = list;
  U64Node k(55);
  EXPECT_EQ(static_cast<U64Node*>(plain.LowerBound(k))->value, 60u);
}

TEST(SortList, RemoveEdges) {
  // An element that is not in the index is still unlinked from its list.
  U64Node stray(5);
  CListGroup other;
  CountingSort list;
  other.Append(&stray);
  EXPECT_EQ(list.Remove(&stray), &stray);
  EXPECT_FALSE(stray.IsLinked());
  EXPECT_TRUE(other.IsEmpty());

  // Removing any one of many equal elements takes its index nodes too.
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::unique_ptr<U64Node>> nodes;
    for (int i = 0; i < 60; ++i) {
      nodes.push_back(std::make_unique<U64Node>(uint64_t(i % 2)));
      list.Insert(nodes.back().get());
    }
    std::vector<size_t> order(nodes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    for (size_t i : order) {
      list.Remove(nodes[i].get());
      CheckIndex(list);
      if (HasFailure()) return;
    }
    EXPECT_TRUE(list.IsEmpty());
    int heads = 0;  // the level heads stay; every element's nodes are gone
    for (CNode* h = list.indexHead; h; h = h->down) ++heads;
    EXPECT_EQ(list.live, heads);
  }
}

TEST(SortList, ReinsertListedElementKeepsIndexSound) {
  std::vector<std::unique_ptr<U64Node>> nodes;
  CountingSort list;
  for (uint64_t v = 0; v < 300; ++v) {
    nodes.push_back(std::make_unique<U64Node>(v));
    list.Insert(nodes.back().get());
  }
  nodes[100]->value = 1000;  // re-keyed: taken out by identity, then placed anew
  list.Remove(nodes[100].get());
  list.Insert(nodes[100].get());
  list.Insert(nodes[5].get());  // already listed with the same key
  CheckIndex(list);
  EXPECT_EQ(Walk(list).size(), 300u);
  EXPECT_EQ(static_cast<U64Node*>(list.Last())->value, 1000u);
}

TEST(SortList, OutOfIndexMemory) {
  U64Node a(1), b(2);
  CountingSort list;
  list.failAfter = 0;  // not even the head
  EXPECT_EQ(list.Insert(&a), nullptr);
  EXPECT_FALSE(a.IsLinked());
  EXPECT_TRUE(list.IsTail(list.Find(a)));
  list.failAfter = 1;  // the head only
  EXPECT_EQ(list.Insert(&a), nullptr);
  EXPECT_TRUE(list.IsEmpty());
  list.failAfter = -1;
  EXPECT_EQ(list.Insert(&a), &a);
  list.failAfter = 0;
  EXPECT_EQ(list.Insert(&b), nullptr);
  EXPECT_EQ(Values(list), (std::vector<uint64_t>{1}));
  CheckIndex(list);
}

TEST(SortList, ArenaVariantIndexesOnlyFromEightRunsAndFromTheArena) {
  CEntryArena arena;
  CDataList runs(&arena);
  std::vector<std::unique_ptr<CDataEntry>> extents;
  const uint64_t vcns[] = {64, 0, 512, 128, 0, 7, 900, 3, 64, 1};
  std::vector<uint64_t> expected;
  for (uint64_t v : vcns) {
    extents.push_back(std::make_unique<CDataEntry>(v, 30 + v, v * 4096));
    ASSERT_NE(runs.Insert(&extents.back()->node), nullptr);
    expected.push_back(v);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Values(runs), expected);
    // A short run list costs no index at all; the eighth run builds one in the arena.
    EXPECT_EQ(runs.indexHead != nullptr, expected.size() > 8) << expected.size();
    EXPECT_EQ(arena.NewestUsed() > 0, expected.size() > 8);
  }
  EXPECT_EQ(CDataEntry::FromNode(runs.First()), extents[1].get());
  EXPECT_EQ(CDataEntry::FromNode(runs.First()->next), extents[4].get());  // equal keys keep their order
  CheckIndex(runs);
  runs.Clear();
  EXPECT_TRUE(runs.IsEmpty());

  CDataList orphan(nullptr);  // no arena: the list stays linear past the limit
  std::vector<std::unique_ptr<CDataEntry>> loose;
  for (uint64_t v = 12; v > 0; --v) {
    loose.push_back(std::make_unique<CDataEntry>(v, 0, 0));
    ASSERT_NE(orphan.Insert(&loose.back()->node), nullptr);
  }
  EXPECT_EQ(orphan.indexHead, nullptr);
  EXPECT_EQ(Values(orphan).front(), 1u);
  EXPECT_EQ(Values(orphan).size(), 12u);
  EXPECT_EQ(CDataEntry::FromNode(orphan.Find(CListData<uint64_t>(5))), loose[7].get());
  orphan.Remove(&loose[7]->node);
  EXPECT_FALSE(loose[7]->node.IsLinked());
  EXPECT_EQ(Values(orphan).size(), 11u);
  orphan.Clear();
}

TEST(IdMap, PagesAndCellsAcrossBoundaries) {
  CIdMap map;
  EXPECT_EQ(map.FindCell(5), nullptr);
  struct Case { uint64_t id; uint64_t page; } cases[] = {
      {0, 0},         {4095, 0},        {4096, 4096},        {8191, 4096},
      {8192, 8192},   {0xFFFFFFFFull, 0xFFFFF000ull},        {0x100000000ull, 0x100000000ull},
      {~0ull, ~0ull & ~0xFFFull},
  };
  std::set<CFileEntry**> cells;
  for (const auto& c : cases) {
    CFileEntry** cell = map.Cell(c.id);
    ASSERT_NE(cell, nullptr) << c.id;
    EXPECT_EQ(*cell, nullptr) << "zeroed page";
    EXPECT_TRUE(cells.insert(cell).second) << c.id;
    EXPECT_EQ(map.Cell(c.id), cell);
    EXPECT_EQ(map.FindCell(c.id), cell);
    *cell = reinterpret_cast<CFileEntry*>(uintptr_t(c.id | 1));
  }
  EXPECT_EQ(map.PageCount(), 6u);
  // Neighbours on both sides of a boundary are one cell apart within a page only.
  EXPECT_EQ(map.FindCell(4095) - map.FindCell(4094), 1);
  EXPECT_NE(map.FindCell(4096), map.FindCell(4095) + 1);
  EXPECT_EQ(map.FindCell(12288), nullptr);
  for (const auto& c : cases)
    EXPECT_EQ(*map.FindCell(c.id), reinterpret_cast<CFileEntry*>(uintptr_t(c.id | 1)));
  map.Clear();
  EXPECT_EQ(map.PageCount(), 0u);
  EXPECT_EQ(map.FindCell(4095), nullptr);
}

TEST(IdMap, ManyPagesInAnyOrder) {
  CIdMap map;
  std::srand(99);
  std::vector<uint64_t> ids;
  for (int i = 0; i < 2000; ++i) ids.push_back(uint64_t(std::rand()) * 4096 + uint64_t(i % 4096));
  for (uint64_t id : ids) *map.Cell(id) = reinterpret_cast<CFileEntry*>(uintptr_t(id + 1));
  for (uint64_t id : ids)
    ASSERT_EQ(*map.FindCell(id), reinterpret_cast<CFileEntry*>(uintptr_t(id + 1))) << id;
}
