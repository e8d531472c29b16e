// The result tree: arena edges, entry construction and views, folder bookkeeping,
// recount (with orphans and cycles), link chains, sizes and page records.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "FileTree.h"

namespace {

constexpr uint32_t kDir = kAttrFolder;
constexpr uint32_t kDel = kAttrDeleted;

// A small tree on its own arena, with the virtual root, the volume root and the
// orphan folder as a task sets them up.
struct Tree {
  CEntryArena arena;
  CVirtualRoot virtualRoot{&arena};
  CPathEntry unknown{&arena, kDir, L"UnknownPath", 0, 0, kNoEntryId, kNoEntryId, 0, 0, 0};
  CPathEntry* root;
  uint64_t sequence = 1;

  Tree() {
    root = NewPathEntry(arena, kAttrFolderMask, L"Root", 0, sequence++, 5, 5, 0, 0, 0);
    virtualRoot.childList.Append(&root->childNode);
    virtualRoot.childList.Append(&unknown.childNode);
  }
  CFileEntry* File(CPathEntry* parent, const wchar_t* name, uint64_t size, uint32_t attr = 0,
                   uint64_t id = 100) {
    CFileEntry* e = NewFileEntry(arena, attr, name, 0, sequence++, id, parent->ownId, size, 0, 0);
    EXPECT_TRUE(AddChild(parent, e));
    return e;
  }
  CPathEntry* Dir(CPathEntry* parent, const wchar_t* name, uint64_t id, uint32_t attr = kDir) {
    CPathEntry* d = NewPathEntry(arena, attr, name, 0, sequence++, id, parent->ownId, 0, 0, 0);
    EXPECT_TRUE(AddChild(parent, d));
    return d;
  }
};

struct Totals { uint32_t children, files, deleted; uint64_t total, deletedSize; };
Totals Of(const CPathEntry* d) {
  return {d->childCount, d->fileCount, d->deletedCount, d->totalSize, d->deletedSize};
}
bool operator==(const Totals& a, const Totals& b) {
  return a.children == b.children && a.files == b.files && a.deleted == b.deleted &&
         a.total == b.total && a.deletedSize == b.deletedSize;
}
std::ostream& operator<<(std::ostream& o, const Totals& t) {
  return o << "{children " << t.children << ", files " << t.files << ", deleted " << t.deleted
           << ", total " << t.total << ", deletedSize " << t.deletedSize << "}";
}

std::vector<CFileEntry*> Children(CPathEntry* d) {
  std::vector<CFileEntry*> out;
  for (CList* p = d->childList.First(); !d->childList.IsTail(p); p = p->next)
    out.push_back(CFileEntry::FromChildNode(p));
  return out;
}

std::vector<CFileEntry*> Chain(CFileEntry* e) {
  std::vector<CFileEntry*> out;
  for (CList* p = &FirstInLinkChain(e)->linkChainNode; p; p = p->next)
    out.push_back(CFileEntry::FromLinkChainNode(p));
  return out;
}

std::wstring View(const CListString& s) {
  return s.text ? std::wstring(s.text, size_t(s.length)) : std::wstring();
}

// Block allocator that fails when told to.
int g_blocksLeft = -1;
void* LimitedBlocks(size_t n) {
  if (g_blocksLeft == 0) return nullptr;
  if (g_blocksLeft > 0) --g_blocksLeft;
  return std::malloc(n);
}

}  // namespace

TEST(EntryArena, BlockEdges) {
  struct Case { uint32_t first; uint32_t n; bool sameBlock; uint32_t usedAfter; } cases[] = {
      {0x3FFFF8, 7, true, 0x3FFFFF},   // exactly to the limit: same block
      {0x3FFFF8, 8, false, 8},         // one byte more: a new block
      {0x3FFFF7, 7, true, 0x3FFFFF},   // the start is aligned to 8 first
      {0x3FFFF7, 8, false, 8},
      {0x10, 0x3FFFEF, true, 0x3FFFFF},
      {0x10, 0x3FFFF0, false, 0x3FFFF0},
      {1, 0x3FFFFF, false, 0x3FFFFF},  // the largest request has a block to itself
  };
  for (const auto& c : cases) {
    CEntryArena arena;
    char* a = static_cast<char*>(arena.Alloc(c.first));
    ASSERT_NE(a, nullptr);
    char* b = static_cast<char*>(arena.Alloc(c.n));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 8, 0u);
    EXPECT_EQ(arena.BlockCount(), c.sameBlock ? 1u : 2u) << c.first << "+" << c.n;
    EXPECT_EQ(arena.NewestUsed(), c.usedAfter) << c.first << "+" << c.n;
    if (c.sameBlock) {
      EXPECT_EQ(b - a, ptrdiff_t((c.first + 7) & ~7u));
    }
    std::memset(b, 0xA5, c.n);  // the whole request is usable
  }
  CEntryArena arena;
  EXPECT_EQ(arena.Alloc(0x400000), nullptr);  // never fits a block
  EXPECT_EQ(arena.BlockCount(), 0u);
  arena.Alloc(16);
  arena.Release();
  EXPECT_EQ(arena.BlockCount(), 0u);
  EXPECT_EQ(arena.NewestUsed(), 0u);
}

TEST(EntryArena, OutOfMemoryIsNullAndRecoverable) {
  g_blocksLeft = 1;
  CEntryArena arena(LimitedBlocks);
  EXPECT_NE(arena.Alloc(0x300000), nullptr);
  EXPECT_EQ(arena.Alloc(0x200000), nullptr);  // a second block is refused
  EXPECT_NE(arena.Alloc(0x1000), nullptr);    // what still fits the first block is served
  EXPECT_EQ(NewFileEntry(arena, 0, L"x", 0, 1, 1, 1, 0, 0, 0) != nullptr, true);
  g_blocksLeft = 0;
  CEntryArena empty(LimitedBlocks);
  EXPECT_EQ(NewPathEntry(empty, kDir, L"d", 0, 1, 1, 1, 0, 0, 0), nullptr);
  g_blocksLeft = -1;
}

TEST(EntryArena, ConcurrentScansAllocateSafely) {
  // Two tasks scanning at once, each on its own arena, and two threads sharing one:
  // every allocation is distinct and keeps what its thread wrote.
  CEntryArena own[2];
  CEntryArena shared;
  constexpr int kPerThread = 60000;
  std::vector<std::pair<char*, uint32_t>> got[2];
  auto work = [&](int t) {
    for (int i = 0; i < kPerThread; ++i) {
      const uint32_t n = 8 + uint32_t((i * 37 + t) % 200);
      CEntryArena& arena = (i & 1) ? shared : own[t];
      char* p = static_cast<char*>(arena.Alloc(n));
      if (!p) continue;
      std::memset(p, 0x40 + t, n);
      got[t].push_back({p, n});
    }
  };
  std::thread a(work, 0), b(work, 1);
  a.join();
  b.join();
  std::vector<std::pair<char*, uint32_t>> all;
  for (int t = 0; t < 2; ++t) {
    ASSERT_EQ(got[t].size(), size_t(kPerThread));
    for (auto& r : got[t]) {
      bool intact = true;
      for (uint32_t k = 0; k < r.second; ++k) intact &= r.first[k] == char(0x40 + t);
      ASSERT_TRUE(intact) << "overwritten by the other thread";
      all.push_back(r);
    }
  }
  std::sort(all.begin(), all.end());
  for (size_t i = 1; i < all.size(); ++i)
    ASSERT_LE(all[i - 1].first + all[i - 1].second, all[i].first) << "overlap";
  EXPECT_GT(shared.BlockCount(), 1u);
}

TEST(FileEntry, ConstructionAndViews) {
  CEntryArena arena;
  void* memory = arena.Alloc(sizeof(CFileEntry));
  CFileEntry* e = InitFileEntry(arena, kDel, L"archive.TAR.GZ", memory, 2, 9, 40, 5, 1234,
                                0x11223344, 0x55);
  ASSERT_EQ(static_cast<void*>(e), memory);
  EXPECT_EQ(e->attributes, kDel);
  EXPECT_EQ(e->sequence, 9u);
  EXPECT_EQ(e->ownId, 40u);
  EXPECT_EQ(e->parentId, 5u);
  EXPECT_EQ(e->size, 1234u);
  EXPECT_EQ(e->Time(), 0x5511223344ull);
  EXPECT_EQ(e->one, 1u);
  EXPECT_EQ(e->kind, 2u);
  EXPECT_EQ(e->sizeNode.value, 1234u);
  EXPECT_EQ(e->timeNode.value, 0x5511223344ull);
  EXPECT_EQ(e->baseEntry, nullptr);
  EXPECT_EQ(e->AsPath(), nullptr);
  const CList* nodes[] = {&e->childNode,     &e->nameNode, &e->extensionNode,
                          &e->linkChainNode, &e->sizeNode, &e->timeNode,
                          &e->spareNode,     &e->linkNode};
  for (const CList* n : nodes) EXPECT_FALSE(n->IsLinked());
  EXPECT_EQ(View(e->nameNode), L"archive.TAR.GZ");
  EXPECT_EQ(View(e->extensionNode), L"GZ");  // from the name itself until a lower copy is given

  // The scanner's second copy, lower-cased after the last ".", feeds the extension view.
  wchar_t copy[] = L"archive.TAR.GZ";
  LowerCaseExtension(copy);
  EXPECT_STREQ(copy, L"archive.TAR.gz");
  SetExtensionView(e, copy);
  EXPECT_EQ(View(e->extensionNode), L"gz");
  EXPECT_STREQ(e->name, L"archive.TAR.GZ");

  struct Case { const wchar_t* name; const wchar_t* ext; bool null; } cases[] = {
      {L"README", L"", true}, {L"a.", L"", false}, {L".profile", L"profile", false},
      {L"x.JPG", L"JPG", false}, {L"", L"", true}, {nullptr, L"", true},
  };
  for (const auto& c : cases) {
    CFileEntry* f = NewFileEntry(arena, 0, c.name, 0, 1, 1, 1, 0, 0, 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(View(f->extensionNode), c.ext);
    EXPECT_EQ(f->extensionNode.text == nullptr, c.null) << (c.name ? c.name : L"(null)");
    EXPECT_NE(f->name, nullptr);
  }
  wchar_t upper[] = L"PHOTO.\x00C9T\x00C9";  // non-ASCII letters lower-case too
  LowerCaseExtension(upper);
  EXPECT_STREQ(upper, L"PHOTO.\x00E9t\x00E9");

  CPathEntry* d = NewPathEntry(arena, kDir, L"Docs", 0, 2, 7, 5, 0, 0, 0);
  EXPECT_EQ(d->AsPath(), d);
  EXPECT_EQ(d->childCount + d->fileCount + d->deletedCount, 0u);
  EXPECT_TRUE(d->childList.IsEmpty());
  EXPECT_FALSE(d->IsCounted());
  EXPECT_EQ(d->GetBaseEntry(), d);

  CVirtualRoot vr;
  EXPECT_STREQ(vr.name, L"VirtualRoot");
  EXPECT_EQ(vr.ownId, 0u);
  EXPECT_EQ(vr.parentId, 0u);
  EXPECT_EQ(vr.attributes, kAttrFolderMask);
}

TEST(FileEntry, RenameRepointsEveryKey) {
  CEntryArena arena;
  CFileEntry* e = NewFileEntry(arena, 0, L"PROGRA~1.TXT", 0x102, 3, 40, 5, 10, 1, 0);
  RenameEntry(L"Program notes.md", e, 1, 3, 41, 6, 99, 7, 1, kDel);
  EXPECT_EQ(e->kind, 0x101u);  // upper bits kept, name kind replaced
  EXPECT_EQ(View(e->childNode), L"Program notes.md");
  EXPECT_EQ(View(e->nameNode), L"Program notes.md");
  EXPECT_EQ(View(e->linkChainNode), L"Program notes.md");
  EXPECT_EQ(View(e->extensionNode), L"md");
  EXPECT_EQ(e->sizeNode.value, 99u);
  EXPECT_EQ(e->timeNode.value, 0x100000007ull);
  EXPECT_EQ(e->ownId, 41u);
  EXPECT_EQ(e->parentId, 6u);
  EXPECT_EQ(e->attributes, kDel);

  SetEntryName(L"plain", e);
  EXPECT_EQ(View(e->nameNode), L"plain");
  EXPECT_EQ(e->extensionNode.text, nullptr);
  EXPECT_EQ(e->extensionNode.length, 0);
}

TEST(Folder, AddAndRemoveKeepRunningTotals) {
  Tree t;
  CPathEntry* docs = t.Dir(t.root, L"Docs", 30);
  CFileEntry* a = t.File(docs, L"a.txt", 100);
  CFileEntry* b = t.File(docs, L"b.txt", 50, kDel);
  CPathEntry* sub = t.Dir(docs, L"Sub", 31);
  EXPECT_EQ(Of(docs), (Totals{3, 2, 1, 150, 50}));  // a folder child only adds a child

  EXPECT_TRUE(RemoveChild(docs, b));
  EXPECT_EQ(Of(docs), (Totals{2, 1, 0, 100, 0}));
  EXPECT_FALSE(RemoveChild(docs, b));  // no longer in any list: nothing to take back
  EXPECT_EQ(Of(docs), (Totals{2, 1, 0, 100, 0}));

  // Removing a folder subtracts that folder's totals.
  t.File(sub, L"c.bin", 40);
  t.File(sub, L"d.bin", 2, kDel);
  sub->Recount(false);
  EXPECT_EQ(Of(sub), (Totals{2, 2, 1, 42, 2}));
  docs->fileCount += sub->fileCount;  // as a recount of docs would have it
  docs->deletedCount += sub->deletedCount;
  docs->totalSize += sub->totalSize;
  docs->deletedSize += sub->deletedSize;
  EXPECT_TRUE(RemoveChild(docs, sub));
  EXPECT_EQ(Of(docs), (Totals{1, 1, 0, 100, 0}));

  // Never below zero when the running numbers were short.
  EXPECT_TRUE(AddChild(docs, sub));
  EXPECT_TRUE(RemoveChild(docs, sub));
  EXPECT_TRUE(RemoveChild(docs, a));
  EXPECT_EQ(Of(docs), (Totals{0, 0, 0, 0, 0}));

  // A folder is never its own child; the caller files it as an orphan.
  EXPECT_FALSE(AddChild(docs, docs));
  EXPECT_FALSE(docs->childList.First() == &docs->childNode);

  // Appending to another folder moves the node out of the first list.
  CFileEntry* m = t.File(t.root, L"m", 1);
  EXPECT_TRUE(AddChild(docs, m));
  EXPECT_EQ(Children(docs), (std::vector<CFileEntry*>{m}));
  EXPECT_EQ(FindParentFolder(m), docs);
  const std::vector<CFileEntry*> rootChildren = Children(t.root);
  EXPECT_EQ(std::count(rootChildren.begin(), rootChildren.end(), m), 0);
  EXPECT_EQ(CFileEntry::FromChildNode(FindChildByName(docs, L"m")), m);
  EXPECT_EQ(FindChildByName(docs, L"M"), nullptr);
  EXPECT_EQ(FindChildByName(docs, L"m2"), nullptr);
}

TEST(Folder, RecountMakesTotalsExact) {
  Tree t;
  CPathEntry* docs = t.Dir(t.root, L"Docs", 30);
  CPathEntry* deep = t.Dir(docs, L"Deep", 31);
  t.File(t.root, L"top.txt", 1);
  t.File(docs, L"a.txt", 100);
  t.File(docs, L"b.txt", 50, kDel);
  t.File(deep, L"c.txt", 7);
  t.File(deep, L"d.txt", 3, kDel);
  t.Dir(deep, L"Empty", 32);
  // Running totals drift (a child moved with a plain unlink); the recount ignores them.
  docs->totalSize = 12345;
  docs->fileCount = 99;

  CPathEntry* lostDir = t.Dir(&t.unknown, L"", 77);
  t.File(lostDir, L"lost.doc", 20);
  CFileEntry* lost = t.File(&t.unknown, L"orphan.jpg", 5);

  t.virtualRoot.Recount(false);
  EXPECT_EQ(Of(deep), (Totals{3, 2, 1, 10, 3}));
  EXPECT_EQ(Of(docs), (Totals{3, 4, 2, 160, 53}));
  EXPECT_EQ(Of(t.root), (Totals{2, 5, 2, 161, 53}));
  // Everything under "UnknownPath" counts as deleted.
  EXPECT_EQ(Of(&t.unknown), (Totals{2, 2, 2, 25, 25}));
  EXPECT_TRUE(lost->IsDeleted());
  EXPECT_TRUE(lostDir->IsDeleted());
  EXPECT_TRUE(Children(lostDir)[0]->IsDeleted());
  EXPECT_FALSE(docs->IsDeleted());
  EXPECT_EQ(Of(&t.virtualRoot), (Totals{2, 7, 4, 186, 78}));
  for (CPathEntry* d : {t.root, docs, deep, &t.unknown, lostDir, static_cast<CPathEntry*>(&t.virtualRoot)})
    EXPECT_TRUE(d->IsCounted());

  // Recounting again gives the same numbers.
  t.virtualRoot.Recount(false);
  EXPECT_EQ(Of(&t.virtualRoot), (Totals{2, 7, 4, 186, 78}));
}

TEST(Folder, RecountSurvivesCyclesAndDepth) {
  Tree t;
  // A folder chain A -> B -> C, then C takes A as a child: a detached cycle.
  CPathEntry* a = t.Dir(t.root, L"A", 40);
  CPathEntry* b = t.Dir(a, L"B", 41);
  CPathEntry* c = t.Dir(b, L"C", 42);
  t.File(c, L"f", 9);
  EXPECT_TRUE(IsSameOrAncestor(a, c));
  EXPECT_FALSE(IsSameOrAncestor(c, a));
  EXPECT_TRUE(AddChild(c, a));  // what a parent-id cycle on disk would make
  EXPECT_TRUE(IsSameOrAncestor(b, a));  // the ancestor walk ends on a loop too
  a->Recount(false);                     // ends, and cuts the loop open
  EXPECT_TRUE(a->IsCounted());
  EXPECT_EQ(a->recountMark + b->recountMark + c->recountMark, 0u);
  EXPECT_FALSE(a->childNode.IsLinked());
  EXPECT_EQ(Of(a), (Totals{1, 1, 0, 9, 0}));

  // Nesting far deeper than a thread's stack would take recursively.
  Tree d;
  CPathEntry* p = d.root;
  for (uint64_t i = 0; i < 60000; ++i) p = d.Dir(p, L"n", 1000 + i);
  d.File(p, L"leaf", 11, kDel);
  d.virtualRoot.Recount(false);
  EXPECT_EQ(Of(d.root), (Totals{1, 1, 1, 11, 11}));
}

TEST(LinkChain, NormalizeDropsOlderDuplicatesAndGroupsKinds) {
  Tree t;
  CPathEntry* docs = t.Dir(t.root, L"Docs", 30);
  CFileEntry* first = t.File(docs, L"same.txt", 5, 0, 60);
  CFileEntry* older = t.File(docs, L"same.txt", 5, 0, 60);  // duplicate, not newer
  CFileEntry* link = t.File(t.root, L"hard.txt", 5, 0, 60);
  first->time1 = older->time1 = 100;
  CPathEntry* folderAlias = t.Dir(t.root, L"alias", 60);
  ChainAfter(first, folderAlias);
  ChainAppend(folderAlias, older);
  ChainAppend(first, link);
  EXPECT_EQ(Chain(first), (std::vector<CFileEntry*>{first, folderAlias, older, link}));

  first->NormalizeLinks();
  EXPECT_EQ(Chain(first), (std::vector<CFileEntry*>{first, link, folderAlias}));
  EXPECT_FALSE(older->childNode.IsLinked());
  EXPECT_FALSE(older->linkChainNode.IsLinked());
  EXPECT_EQ(Children(docs), (std::vector<CFileEntry*>{first}));

  // A newer duplicate takes the place of the kept one.
  CFileEntry* newer = t.File(docs, L"same.txt", 6, 0, 60);
  newer->time1 = 200;
  ChainAppend(first, newer);
  link->NormalizeLinks();
  EXPECT_EQ(Chain(link), (std::vector<CFileEntry*>{newer, link, folderAlias}));
  EXPECT_FALSE(first->childNode.IsLinked());
}

TEST(LinkChain, FolderFormGathersChildrenInFirstFolder) {
  Tree t;
  CPathEntry* one = t.Dir(t.root, L"Photos", 70);
  CPathEntry* two = t.Dir(&t.unknown, L"Photos", 70);
  two->parentId = kNoEntryId;
  CFileEntry* p1 = t.File(one, L"1.jpg", 1);
  CFileEntry* p2 = t.File(two, L"2.jpg", 2);
  CFileEntry* p3 = t.File(two, L"3.jpg", 3);
  CPathEntry* inner = t.Dir(two, L"Inner", 71);
  ChainAfter(one, two);
  two->NormalizeLinks();
  EXPECT_EQ(Children(one), (std::vector<CFileEntry*>{p1, p2, p3, inner}));
  EXPECT_TRUE(two->childList.IsEmpty());

  // A later alias that holds the first folder below it keeps that child: moving it
  // would hang the folder under itself.
  Tree u;
  CPathEntry* outer = u.Dir(u.root, L"Outer", 80);
  CPathEntry* mid = u.Dir(outer, L"Mid", 81);
  CPathEntry* target = u.Dir(mid, L"Target", 82);
  CFileEntry* loose = u.File(outer, L"loose", 1);
  ChainAfter(target, outer);  // target first, outer its later folder alias
  target->NormalizeLinks();
  EXPECT_EQ(Children(target), (std::vector<CFileEntry*>{loose}));
  EXPECT_EQ(Children(outer), (std::vector<CFileEntry*>{mid}));
  u.virtualRoot.Recount(false);
  EXPECT_TRUE(target->IsCounted());
}

TEST(LinkChain, LoopedChainIsCutOpen) {
  CEntryArena arena;
  CFileEntry* a = NewFileEntry(arena, 0, L"a", 0, 1, 1, 5, 0, 0, 0);
  CFileEntry* b = NewFileEntry(arena, 0, L"b", 0, 2, 1, 5, 0, 0, 0);
  ChainAfter(a, b);
  b->linkChainNode.next = &a->linkChainNode;  // a loop, as corrupt links could make
  a->linkChainNode.prev = &b->linkChainNode;
  CFileEntry* start = FirstInLinkChain(a);
  EXPECT_TRUE(start == a || start == b);
  a->NormalizeLinks();
  EXPECT_EQ(Chain(a).size(), 2u);
}

TEST(EntrySize, RunsBaseEntriesAndLoops) {
  CEntryArena arena;
  CFileEntry* e = NewFileEntry(arena, 0, L"f", 0, 1, 1, 5, 777, 0, 0);
  EXPECT_EQ(GetEntrySize(e), 777u);
  CDataEntry* later = ArenaNew<CDataEntry>(arena, 16, 41, 8192);
  CDataEntry* first = ArenaNew<CDataEntry>(arena, 0, 40, 100000);
  ASSERT_TRUE(AddDataRun(e, later));
  ASSERT_TRUE(AddDataRun(e, first));
  EXPECT_EQ(GetEntrySize(e), 100000u);  // the first run by VCN carries the size

  CFileEntry* l1 = NewFileEntry(arena, 0, L"l1", 0, 2, 2, 5, 1, 0, 0);
  CFileEntry* l2 = NewFileEntry(arena, 0, L"l2", 0, 3, 3, 5, 2, 0, 0);
  l1->baseEntry = l2;
  l2->baseEntry = e;
  EXPECT_EQ(GetEntrySize(l1), 100000u);
  EXPECT_EQ(GetEntrySize(l2), 100000u);
  e->ClearRunList();
  EXPECT_EQ(GetEntrySize(l1), 777u);

  // Links that point back at each other end the walk at the entry itself.
  e->baseEntry = l1;
  EXPECT_EQ(GetEntrySize(l1), 1u);
  EXPECT_EQ(GetEntrySize(e), 777u);
  l1->baseEntry = l1;
  EXPECT_EQ(GetEntrySize(l1), 1u);
}

TEST(ScanRecord, FieldsAndNameBoundary) {
  CEntryArena arena;
  CFileEntry* e = NewFileEntry(arena, kDel, L"report.pdf", 0, 9, 0x1F, kNoEntryId, 4096,
                               0xFFFFFFF0, 0xFFFFFFFF);  // before 1970: huge, not negative
  ScanFileRecord r;
  std::memset(&r, 0xCC, sizeof r);
  FillScanFileRecord(e, &r);
  EXPECT_EQ(r.id, 0x20u);
  EXPECT_EQ(r.parentId, 0u);  // none
  EXPECT_EQ(r.size, 4096u);
  EXPECT_EQ(r.time, 0xFFFFFFFFFFFFFFF0ull);
  EXPECT_EQ(r.attributes, kDel);
  EXPECT_EQ(r.taskId, 0u);
  EXPECT_STREQ(r.name, L"report.pdf");

  struct Case { size_t length; bool surrogateAtCut; size_t want; } cases[] = {
      {254, false, 254}, {255, false, 255}, {256, false, 255}, {600, false, 255},
      {300, true, 254},  // a pair straddling the end is dropped whole
  };
  for (const auto& c : cases) {
    std::wstring name(c.length, L'n');
    if (c.surrogateAtCut) {
      name[254] = wchar_t(0xD83D);
      name[255] = wchar_t(0xDE00);
    }
    CFileEntry* f = NewFileEntry(arena, 0, name.c_str(), 0, 1, 1, 1, 0, 0, 0);
    FillScanFileRecord(f, &r);
    EXPECT_EQ(std::wcslen(r.name), c.want) << c.length;
    EXPECT_EQ(std::wstring(r.name), name.substr(0, c.want));
  }
}

TEST(ExtensionList, TieBreakersByNameThenTime) {
  CEntryArena arena;
  CFileEntry* a = NewFileEntry(arena, 0, L"a.txt", 0, 1, 1, 5, 0, 10, 0);
  CFileEntry* b = NewFileEntry(arena, 0, L"b.txt", 0, 2, 2, 5, 0, 5, 0);
  CFileEntry* a2 = NewFileEntry(arena, 0, L"a.txt", 0, 3, 3, 5, 0, 20, 0);
  EXPECT_LT(CompareExtensionNodeNames(&a->extensionNode, &b->extensionNode), 0);
  EXPECT_EQ(CompareExtensionNodeNames(&a->extensionNode, &a2->extensionNode), 0);
  EXPECT_LT(CompareExtensionNodeTimes(&a->extensionNode, &a2->extensionNode), 0);
  EXPECT_GT(CompareExtensionNodeTimes(&a->extensionNode, &b->extensionNode), 0);

  CListGroupSort list;
  const ListComparator tie[] = {CompareExtensionNodeNames, CompareExtensionNodeTimes};
  list.SetComparators(tie, 2);
  list.Insert(&a2->extensionNode);
  list.Insert(&b->extensionNode);
  list.Insert(&a->extensionNode);
  std::vector<CFileEntry*> order;
  for (CList* p = list.First(); !list.IsTail(p); p = p->next)
    order.push_back(CFileEntry::FromExtensionNode(p));
  EXPECT_EQ(order, (std::vector<CFileEntry*>{a, a2, b}));
  list.Clear();
}
