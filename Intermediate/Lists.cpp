// The lists of the result tree: the plain list with sentinels, node comparisons, the
// two skip-list variants and the id map of 4096-cell pages built on them.
#include "Lists.h"

#include "Interface.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "FileTree.h"

// Node -> record goes through the node's fixed place in the record; GCC handles that
// for single inheritance although the classes are not standard-layout.
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

namespace {
// Levels grow with probability 22/100 each; 32 levels index far more elements than a
// 32-bit process can hold, and the cap keeps the descent path on the stack.
constexpr int kMaxLevels = 32;
constexpr int kLevelChance = 22;
}  // namespace

int CListString::Compare(const CList& other) const {
  const CListString& o = static_cast<const CListString&>(other);
  const int32_t mine = length > 0 ? length : 0;
  const int32_t theirs = o.length > 0 ? o.length : 0;
  const int32_t n = mine < theirs ? mine : theirs;
  for (int32_t i = 0; i < n; ++i) {
    const uint16_t a = static_cast<uint16_t>(text[i]);
    const uint16_t b = static_cast<uint16_t>(o.text[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  return mine - theirs;
}

CList* UnlinkNode(CList* node) {
  if (!node) return nullptr;
  if (node->prev) node->prev->next = node->next;
  if (node->next) node->next->prev = node->prev;
  node->prev = nullptr;
  node->next = nullptr;
  return node;
}

void LinkAfter(CList* anchor, CList* node) {
  if (!anchor || !node || anchor == node) return;
  UnlinkNode(node);
  node->next = anchor->next;
  node->prev = anchor;
  if (anchor->next) anchor->next->prev = node;
  anchor->next = node;
}

// ---------------------------------------------------------------------------------
// CListGroup

CListGroup::CListGroup() { CListGroup::Reset(); }

CListGroup::~CListGroup() = default;

void CListGroup::Clear() {
  CList* p = header.next;
  while (p && p != &tail) {
    CList* n = p->next;
    p->prev = nullptr;
    p->next = nullptr;
    p = n;
  }
  CListGroup::Reset();
}

void CListGroup::Reset() {
  header.prev = nullptr;
  header.next = &tail;
  tail.prev = &header;
  tail.next = nullptr;
}

CList* CListGroup::Append(CList* node) {
  if (!node || node == &header || node == &tail) return nullptr;
  UnlinkNode(node);
  LinkAfter(tail.prev, node);
  return node;
}

CList* CListGroup::LowerBound(const CList& key) {
  for (CList* p = header.next; p && p != &tail; p = p->next)
    if (p->Compare(key) >= 0) return p;
  return &tail;
}

CList* CListGroup::Unlink(CList* node) { return UnlinkNode(node); }
CList* CListGroup::First() const { return header.next; }
CList* CListGroup::Last() const { return tail.prev; }
bool CListGroup::IsTail(const CList* p) const { return p == &tail; }
bool CListGroup::IsHeader(const CList* p) const { return p == &header; }
bool CListGroup::IsEmpty() const { return header.next == &tail; }
bool CListGroup::IsAfter(const CList*, const CList*) const { return false; }

void CListGroup::SetComparators(const ListComparator* list, int32_t count) {
  comparators.reset();
  comparatorCount = 0;
  if (!list || count <= 0) return;
  comparators.reset(new (std::nothrow) ListComparator[count]);
  if (!comparators) return;
  std::memcpy(comparators.get(), list, sizeof(ListComparator) * size_t(count));
  comparatorCount = count;
}

// ---------------------------------------------------------------------------------
// Skip list

CListGroupSortBase::~CListGroupSortBase() = default;

bool CListGroupSortBase::EnsureHead() {
  if (!indexHead) indexHead = NewIndexNode(&header);
  return indexHead != nullptr;
}

void CListGroupSortBase::ReleaseIndex() {
  CNode* level = indexHead;
  while (level) {
    CNode* down = level->down;
    CNode* n = level->right;
    while (n) {
      CNode* right = n->right;
      FreeIndexNode(n);
      n = right;
    }
    FreeIndexNode(level);
    level = down;
  }
  indexHead = nullptr;
}

void CListGroupSortBase::Clear() {
  ReleaseIndex();
  CListGroup::Clear();
}

void CListGroupSortBase::Reset() {
  ReleaseIndex();
  CListGroup::Reset();
}

bool CListGroupSortBase::IsAfter(const CList* a, const CList* b) const {
  for (int32_t i = 0; i < comparatorCount; ++i) {
    const int r = comparators[i](a, b);
    if (r != 0) return r > 0;
  }
  return false;
}

CList* CListGroupSortBase::LinearInsert(CList* element) {
  CList* after = &header;
  for (CList* n = header.next; n && n != &tail; n = n->next) {
    const int c = element->Compare(*n);
    if (c < 0 || (c == 0 && comparatorCount > 0 && IsAfter(n, element))) break;
    after = n;
  }
  LinkAfter(after, element);
  return element;
}

bool CListGroupSortBase::BuildIndex() {
  indexHead = NewIndexNode(&header);
  if (!indexHead) return false;
  CNode* last[kMaxLevels];
  last[0] = indexHead;
  int levels = 1;
  for (CList* n = header.next; n && n != &tail; n = n->next) {
    CNode* below = nullptr;
    for (int level = 0; level < kMaxLevels; ++level) {
      if (level > 0 && std::rand() % 100 >= kLevelChance) break;
      if (level == levels) {
        CNode* head = NewIndexNode(nullptr);
        if (!head) {
          ReleaseIndex();
          return false;
        }
        head->down = indexHead;
        indexHead = head;
        last[levels++] = head;
      }
      CNode* x = NewIndexNode(n);
      if (!x) {
        ReleaseIndex();
        return false;
      }
      x->down = below;
      last[level]->right = x;
      last[level] = x;
      below = x;
    }
  }
  return true;
}

CList* CListGroupSortBase::Insert(CList* element) {
  if (!element || element == &header || element == &tail) return nullptr;
  if (Unindexed()) {
    UnlinkNode(element);
    uint32_t count = 0;
    for (CList* n = header.next; n && n != &tail && count < LinearLimit(); n = n->next) ++count;
    if (count < LinearLimit() || !BuildIndex()) return LinearInsert(element);
  }
  if (!EnsureHead()) return nullptr;
  // An element already listed here would otherwise keep its old index nodes.
  if (element->IsLinked()) Remove(element);

  CNode* path[kMaxLevels + 1];
  int depth = 0;
  for (CNode* p = indexHead; p;) {
    CNode* right = p->right;
    bool down;
    if (!right) {
      down = true;
    } else {
      const int c = element->Compare(*right->element);
      if (c == 0 && comparatorCount > 0)
        down = IsAfter(right->element, element);
      else
        down = c < 0;
    }
    if (down) {
      if (depth == kMaxLevels + 1) return nullptr;  // the level cap rules this out
      path[depth++] = p;
      p = p->down;
    } else {
      p = right;
    }
  }
  if (depth == 0) return nullptr;

  CNode* below = nullptr;
  for (int i = depth - 1; i >= 0; --i) {
    const bool bottom = i == depth - 1;
    if (!bottom && std::rand() % 100 >= kLevelChance) return element;
    CNode* n = NewIndexNode(element);
    if (!n) return bottom ? nullptr : element;
    n->right = path[i]->right;
    path[i]->right = n;
    n->down = below;
    if (bottom) LinkAfter(path[i]->element, element);
    below = n;
  }
  if (depth < kMaxLevels && std::rand() % 100 < kLevelChance) {
    CNode* n = NewIndexNode(element);
    CNode* head = n ? NewIndexNode(nullptr) : nullptr;
    if (n && head) {
      n->down = below;
      head->down = indexHead;
      head->right = n;
      indexHead = head;
    } else {
      FreeIndexNode(n);
    }
  }
  return element;
}

CList* CListGroupSortBase::Find(const CList& key) {
  if (Unindexed()) return CListGroup::LowerBound(key);
  if (!EnsureHead()) return CListGroup::LowerBound(key);
  CNode* last = indexHead;
  for (CNode* p = indexHead; p;) {
    last = p;
    CList* e = p->element;
    if (e && e != &header && e->Compare(key) == 0) return e;
    CNode* right = p->right;
    if (!right || key.Compare(*right->element) < 0)
      p = p->down;
    else
      p = right;
  }
  CList* e = last->element;
  if (!e) return &tail;
  return e->next ? e->next : e;
}

CList* CListGroupSortBase::Remove(CList* element) {
  if (!element || element == &header || element == &tail) return nullptr;
  if (!Unindexed() && EnsureHead()) {
    bool found = false;
    for (CNode* p = indexHead; p; p = p->down) {
      while (p->right && element->Compare(*p->right->element) > 0) p = p->right;
      // Equal keys sit side by side: look through all of them for this very node,
      // so that removing one of several equal elements never leaves its index behind.
      for (CNode* q = p; q->right && element->Compare(*q->right->element) == 0;
           q = q->right) {
        if (q->right->element == element) {
          CNode* gone = q->right;
          q->right = gone->right;
          FreeIndexNode(gone);
          if (!p->down) found = true;
          break;
        }
      }
    }
    // A linked element that the search did not meet may have had its key changed
    // while listed; its nodes must not stay behind pointing at it.
    if (!found && element->IsLinked()) RemoveByIdentity(element);
  }
  return UnlinkNode(element);
}

void CListGroupSortBase::RemoveByIdentity(CList* element) {
  for (CNode* level = indexHead; level; level = level->down) {
    for (CNode* q = level; q->right; q = q->right) {
      if (q->right->element == element) {
        CNode* gone = q->right;
        q->right = gone->right;
        FreeIndexNode(gone);
        break;
      }
    }
  }
}

CListGroupSort::~CListGroupSort() { CListGroupSortBase::Clear(); }

CNode* CListGroupSort::NewIndexNode(CList* element) {
  if (AllocationShouldFail()) return nullptr;
  return new (std::nothrow) CNode{element, nullptr, nullptr};
}

void CListGroupSort::FreeIndexNode(CNode* node) { delete node; }

CDataList::~CDataList() { CListGroupSortBase::Clear(); }

CNode* CDataList::NewIndexNode(CList* element) {
  void* memory = arena ? arena->Alloc(sizeof(CFixedNode)) : nullptr;
  if (!memory) return nullptr;
  return new (memory) CFixedNode(element);
}

void CDataList::FreeIndexNode(CNode* node) {
  if (node) static_cast<CFixedNode*>(node)->~CFixedNode();
}

CDataEntry* CDataEntry::FromNode(CList* n) {
  return n ? reinterpret_cast<CDataEntry*>(reinterpret_cast<char*>(n) -
                                           offsetof(CDataEntry, node))
           : nullptr;
}

const CDataEntry* CDataEntry::FromNode(const CList* n) {
  return FromNode(const_cast<CList*>(n));
}

// ---------------------------------------------------------------------------------
// Id map

CIdMap::~CIdMap() { Clear(); }

CFileEntry** CIdMap::FindCell(uint64_t id) const {
  CListData<uint64_t> key(id & kPageMask);
  CList* hit = m_list.Find(key);
  if (m_list.IsTail(hit) || m_list.IsHeader(hit)) return nullptr;
  Page* page = static_cast<Page*>(hit);
  if (page->value != key.value) return nullptr;
  return &page->cells[id & 0xFFF];
}

CFileEntry** CIdMap::Cell(uint64_t id) {
  if (CFileEntry** cell = FindCell(id)) return cell;
  if (AllocationShouldFail()) return nullptr;
  Page* page = new (std::nothrow) Page();
  if (!page) return nullptr;
  std::memset(page->cells, 0, sizeof page->cells);
  page->value = id & kPageMask;
  if (!m_list.Insert(page)) {
    delete page;
    return nullptr;
  }
  ++m_pages;
  return &page->cells[id & 0xFFF];
}

void CIdMap::Clear() {
  std::vector<Page*> pages;
  pages.reserve(m_pages);
  for (CList* p = m_list.First(); p && !m_list.IsTail(p); p = p->next)
    pages.push_back(static_cast<Page*>(p));
  m_list.Clear();
  for (Page* page : pages) delete page;
  m_pages = 0;
}

// ---------------------------------------------------------------------------------

CList* FindChildByName(CPathEntry* directory, const wchar_t* text) {
  if (!directory) return nullptr;
  CListString key(text, text ? int32_t(std::wcslen(text)) : 0);
  CListGroup& children = directory->childList;
  for (CList* p = children.First(); p && !children.IsTail(p); p = p->next)
    if (p->Compare(key) == 0) return p;
  return nullptr;
}
