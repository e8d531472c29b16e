// The result tree: the entry arena, entry construction and views, folder children and
// totals, the recount, link chains and the page records handed to the host.
#include "FileTree.h"

#include "Interface.h"
#include "UniqueRes.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <string_view>
#include <tuple>
#include <unordered_set>
#include <vector>

// Node -> entry goes through the node's fixed place in the entry. The classes are not
// standard-layout (virtual operations), which GCC handles for single inheritance.
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

static_assert(sizeof(void*) != 4 || sizeof(ScanFileRecord) == 560, "page record layout");

namespace {

const wchar_t kEmptyName[] = L"";
const wchar_t kVirtualRootName[] = L"VirtualRoot";

// Ancestor walks and list walks stop here even when a corrupt structure never ends.
constexpr uint32_t kMaxAncestorSteps = 1u << 16;
constexpr uint32_t kMaxSiblingSteps = 1u << 26;

int32_t TextLength(const wchar_t* text) { return text ? int32_t(std::wcslen(text)) : 0; }

// Extension of text: the part after its last ".", or null when there is no ".".
const wchar_t* ExtensionOf(const wchar_t* text, int32_t* length) {
  *length = 0;
  if (!text) return nullptr;
  const wchar_t* dot = std::wcsrchr(text, L'.');
  if (!dot) return nullptr;
  *length = TextLength(dot + 1);
  return dot + 1;
}

CFileEntry* EntryFrom(CList* node, size_t offset) {
  return node ? reinterpret_cast<CFileEntry*>(reinterpret_cast<char*>(node) - offset)
              : nullptr;
}

uint64_t SubtractFloor(uint64_t total, uint64_t part) { return total > part ? total - part : 0; }
uint32_t SubtractFloor32(uint32_t total, uint32_t part) { return total > part ? total - part : 0; }

}  // namespace

// ---------------------------------------------------------------------------------
// Arena

CEntryArena::CEntryArena(BlockAllocFn alloc, BlockFreeFn release)
    : m_alloc(alloc ? alloc : std::malloc), m_free(release ? release : std::free) {
  InitializeCriticalSection(&m_lock);
}

CEntryArena::~CEntryArena() {
  Release();
  DeleteCriticalSection(&m_lock);
}

void* CEntryArena::Alloc(uint32_t n) {
  if (n > kBlockLimit) return nullptr;
  CritSecLock hold(m_lock);
  void* result = nullptr;
  if (m_newest) {
    const uint32_t at = (m_newest->used + 3u) & ~3u;
    if (at <= kBlockLimit && n <= kBlockLimit - at) {
      m_newest->used = at + n;
      result = SpaceOf(m_newest) + at;
    }
  }
  if (!result) {
    Block* block = AllocationShouldFail() ? nullptr : static_cast<Block*>(m_alloc(sizeof(Block) + kBlockSpace));
    if (block) {
      block->next = m_newest;
      block->prev = nullptr;
      block->used = n;
      block->reserved = 0;
      if (m_newest) m_newest->prev = block;
      m_newest = block;
      ++m_blocks;
      result = SpaceOf(block);
    }
  }
  return result;
}

void CEntryArena::Release() {
  CritSecLock hold(m_lock);
  Block* b = m_newest;
  while (b) {
    Block* older = b->next;
    m_free(b);
    b = older;
  }
  m_newest = nullptr;
  m_blocks = 0;
}

uint32_t CEntryArena::BlockCount() const {
  CritSecLock hold(m_lock);
  return m_blocks;
}

uint32_t CEntryArena::NewestUsed() const {
  CritSecLock hold(m_lock);
  return m_newest ? m_newest->used : 0;
}

void* ArenaAlloc(CEntryArena& arena, uint32_t n) { return arena.Alloc(n); }

// ---------------------------------------------------------------------------------
// Entries

CFileEntry::CFileEntry(CEntryArena* arena, uint32_t attr, const wchar_t* text, uint32_t k,
                       uint64_t seq, uint64_t own, uint64_t parent, uint64_t bytes,
                       uint32_t t1, uint32_t t2)
    : name(text ? text : kEmptyName),
      attributes(attr),
      sequence(seq),
      ownId(own),
      parentId(parent),
      size(bytes),
      time1(t1),
      time2(t2),
      kind(k),
      runList(arena) {
  const int32_t length = TextLength(name);
  childNode.Set(name, length);
  nameNode.Set(name, length);
  linkChainNode.Set(name, length);
  SetExtensionView(this, name);
  sizeNode.value = size;
  timeNode.value = Time();
}

CFileEntry::~CFileEntry() = default;

CPathEntry* CFileEntry::AsPath() {
  return m_object == kPathObject ? static_cast<CPathEntry*>(this) : nullptr;
}

const CPathEntry* CFileEntry::AsPath() const {
  return m_object == kPathObject ? static_cast<const CPathEntry*>(this) : nullptr;
}

CFileEntry* CFileEntry::FromChildNode(CList* n) {
  return EntryFrom(n, offsetof(CFileEntry, childNode));
}
CFileEntry* CFileEntry::FromNameNode(CList* n) {
  return EntryFrom(n, offsetof(CFileEntry, nameNode));
}
CFileEntry* CFileEntry::FromExtensionNode(CList* n) {
  return EntryFrom(n, offsetof(CFileEntry, extensionNode));
}
CFileEntry* CFileEntry::FromLinkChainNode(CList* n) {
  return EntryFrom(n, offsetof(CFileEntry, linkChainNode));
}
CFileEntry* CFileEntry::FromSizeNode(CList* n) {
  return EntryFrom(n, offsetof(CFileEntry, sizeNode));
}
CFileEntry* CFileEntry::FromTimeNode(CList* n) {
  return EntryFrom(n, offsetof(CFileEntry, timeNode));
}
CFileEntry* CFileEntry::FromSpareNode(CList* n) {
  return EntryFrom(n, offsetof(CFileEntry, spareNode));
}
CFileEntry* CFileEntry::FromLinkNode(CList* n) {
  return EntryFrom(n, offsetof(CFileEntry, linkNode));
}

void CFileEntry::ClearRunList() { runList.Clear(); }

namespace {

// Members of the entry's link chain from its start. A chain that loops is cut open at
// the entry, so that every later walk ends.
std::vector<CFileEntry*> CollectLinkChain(CFileEntry* entry) {
  std::vector<CFileEntry*> members;
  CList* own = &entry->linkChainNode;
  if (!own->IsLinked()) {
    members.push_back(entry);
    return members;
  }
  std::unordered_set<const CList*> seen;
  seen.insert(own);
  CList* start = own;
  while (start->prev) {
    if (!seen.insert(start->prev).second) {
      // Walking back came round: open the loop before the entry.
      own->prev->next = nullptr;
      own->prev = nullptr;
      start = own;
      break;
    }
    start = start->prev;
  }
  seen.clear();
  for (CList* p = start; p; p = p->next) {
    if (!seen.insert(p).second) break;
    members.push_back(CFileEntry::FromLinkChainNode(p));
    if (p->next && seen.count(p->next)) {
      p->next->prev = nullptr;  // a loop forward: end the chain here
      p->next = nullptr;
      break;
    }
  }
  return members;
}

void RelinkChain(const std::vector<CFileEntry*>& members) {
  for (size_t i = 0; i < members.size(); ++i) {
    CList& node = members[i]->linkChainNode;
    node.prev = i ? &members[i - 1]->linkChainNode : nullptr;
    node.next = i + 1 < members.size() ? &members[i + 1]->linkChainNode : nullptr;
  }
}

}  // namespace

void CFileEntry::NormalizeLinks() {
  if (!linkChainNode.IsLinked()) return;
  std::vector<CFileEntry*> members = CollectLinkChain(this);

  using Key = std::tuple<std::wstring_view, uint64_t, uint64_t>;
  std::map<Key, size_t> seen;  // name-ordered, as the members are met
  std::vector<CFileEntry*> kept;
  kept.reserve(members.size());
  for (CFileEntry* m : members) {
    const Key key{std::wstring_view(m->name, size_t(TextLength(m->name))), m->ownId,
                  m->parentId};
    auto it = seen.find(key);
    if (it == seen.end()) {
      seen.emplace(key, kept.size());
      kept.push_back(m);
      continue;
    }
    CFileEntry*& k = kept[it->second];
    CFileEntry* loser = m;
    if (m->Time() > k->Time()) {
      loser = k;
      k = m;
    }
    UnlinkNode(&loser->linkChainNode);
    UnlinkNode(&loser->childNode);
  }

  std::vector<CFileEntry*> ordered;
  ordered.reserve(kept.size());
  for (CFileEntry* m : kept)
    if (!m->IsFolder()) ordered.push_back(m);
  for (CFileEntry* m : kept)
    if (m->IsFolder()) ordered.push_back(m);
  RelinkChain(ordered);
}

CPathEntry::CPathEntry(CEntryArena* arena, uint32_t attr, const wchar_t* text, uint32_t k,
                       uint64_t seq, uint64_t own, uint64_t parent, uint64_t bytes,
                       uint32_t t1, uint32_t t2)
    : CFileEntry(arena, attr, text, k, seq, own, parent, bytes, t1, t2), childList(this) {
  m_object = kPathObject;
}

CPathEntry::~CPathEntry() = default;

void CPathEntry::ClearRunList() { CFileEntry::ClearRunList(); }

CFileEntry* CPathEntry::GetBaseEntry() { return baseEntry ? baseEntry : this; }

void CPathEntry::ZeroTotals() {
  childCount = deletedCount = fileCount = 0;
  deletedSize = totalSize = 0;
}

void CPathEntry::NormalizeLinks() {
  CFileEntry::NormalizeLinks();
  if (!linkChainNode.IsLinked()) return;
  std::vector<CFileEntry*> members = CollectLinkChain(this);
  CPathEntry* first = nullptr;
  for (CFileEntry* m : members) {
    CPathEntry* folder = m->AsPath();
    if (!folder) continue;
    if (!first) {
      first = folder;
      continue;
    }
    CListGroup& from = folder->childList;
    for (CList* p = from.First(); p && !from.IsTail(p);) {
      CList* next = p->next;
      CFileEntry* child = CFileEntry::FromChildNode(p);
      // A child that holds the first folder somewhere below it stays where it is:
      // moving it would hang a folder under itself.
      if (!IsSameOrAncestor(child, first)) first->childList.Append(p);
      p = next;
    }
  }
}

namespace {

struct RecountFrame {
  CPathEntry* folder;
  bool deleted;
  std::vector<CPathEntry*> folders;  // folder children to recount first
  size_t next;
};

void EnterFolder(std::vector<RecountFrame>& stack, CPathEntry* folder, bool deleted) {
  folder->NormalizeLinks();
  if (folder->ownId == kNoEntryId) deleted = true;  // the orphan folder: all of it is lost
  if (deleted) folder->attributes |= kAttrDeleted;
  folder->recountMark = 1;
  RecountFrame frame{folder, deleted, {}, 0};
  CListGroup& list = folder->childList;
  for (CList* p = list.First(); p && !list.IsTail(p); p = p->next)
    if (CPathEntry* sub = CFileEntry::FromChildNode(p)->AsPath()) frame.folders.push_back(sub);
  stack.push_back(std::move(frame));
}

// Totals from the child list as it stands once every sub-folder is recounted. A folder
// met again while it is being recounted closes a cycle: it is taken out of this list
// (and handed to orphans when given) instead of being counted twice or for ever.
void SumChildren(CPathEntry* folder, bool deleted, std::vector<CFileEntry*>* orphans) {
  folder->ZeroTotals();
  CListGroup& list = folder->childList;
  for (CList* p = list.First(); p && !list.IsTail(p);) {
    CList* next = p->next;
    CFileEntry* child = CFileEntry::FromChildNode(p);
    if (CPathEntry* sub = child->AsPath()) {
      if (sub->recountMark) {
        UnlinkNode(p);
        if (orphans) orphans->push_back(sub);
        p = next;
        continue;
      }
      ++folder->childCount;
      folder->totalSize += sub->totalSize;
      folder->deletedSize += sub->deletedSize;
      folder->fileCount += sub->fileCount;
      folder->deletedCount += sub->deletedCount;
    } else {
      ++folder->childCount;
      if (!child->IsFolder()) {
        if (deleted) child->attributes |= kAttrDeleted;
        const uint64_t bytes = GetEntrySize(child);
        if (child->IsDeleted()) {
          ++folder->deletedCount;
          folder->deletedSize += bytes;
        }
        ++folder->fileCount;
        folder->totalSize += bytes;
      }
    }
    p = next;
  }
}

// Depth-first without recursion: a scanned volume can nest folders deeper than a
// thread's stack would allow.
void RecountTree(CPathEntry* top, bool deleted, std::vector<CFileEntry*>* orphans) {
  std::vector<RecountFrame> stack;
  EnterFolder(stack, top, deleted);
  while (!stack.empty()) {
    RecountFrame& frame = stack.back();
    if (frame.next < frame.folders.size()) {
      CPathEntry* sub = frame.folders[frame.next++];
      if (sub->recountMark) continue;  // on the stack already: a cycle, cut in the sum
      const bool flag = frame.deleted;
      EnterFolder(stack, sub, flag);  // invalidates frame
      continue;
    }
    CPathEntry* folder = frame.folder;
    SumChildren(folder, frame.deleted, orphans);
    folder->recountMark = 0;
    folder->counted.store(1, std::memory_order_release);
    stack.pop_back();
  }
}

void AddTotals(CPathEntry* to, const CPathEntry* from) {
  to->totalSize += from->totalSize;
  to->deletedSize += from->deletedSize;
  to->fileCount += from->fileCount;
  to->deletedCount += from->deletedCount;
}

}  // namespace

void CPathEntry::Recount(bool deleted) { RecountTree(this, deleted, nullptr); }

CVirtualRoot::CVirtualRoot(CEntryArena* arena)
    : CPathEntry(arena, kAttrFolderMask, kVirtualRootName, 0, 0, 0, 0, 0, 0, 0) {}

void CVirtualRoot::Recount(bool) {
  ZeroTotals();
  CList* p = childList.First();
  CPathEntry* volumeRoot = childList.IsTail(p) ? nullptr : FromChildNode(p)->AsPath();
  CList* q = childList.IsTail(p) ? p : p->next;
  CPathEntry* unknown = (!q || childList.IsTail(q)) ? nullptr : FromChildNode(q)->AsPath();

  // Folders cut out of a cycle end up under "UnknownPath", as orphans do.
  std::vector<CFileEntry*> orphans;
  recountMark = 1;
  if (volumeRoot) {
    RecountTree(volumeRoot, false, &orphans);
    AddTotals(this, volumeRoot);
  }
  if (unknown) {
    RecountTree(unknown, true, &orphans);
    for (CFileEntry* orphan : orphans) {
      if (orphan == volumeRoot || orphan == unknown) continue;
      AddChild(unknown, orphan);
      if (CPathEntry* sub = orphan->AsPath()) {
        RecountTree(sub, true, nullptr);
        AddTotals(unknown, sub);
      }
    }
    AddTotals(this, unknown);
  }
  recountMark = 0;
  childCount = (volumeRoot ? 1 : 0) + (unknown ? 1 : 0);
  counted.store(1, std::memory_order_release);
}

// ---------------------------------------------------------------------------------
// Construction and names

CFileEntry* InitFileEntry(CEntryArena& arena, uint32_t attributes, const wchar_t* name,
                          void* memory, uint32_t kind, uint64_t sequence, uint64_t ownId,
                          uint64_t parentId, uint64_t size, uint32_t time1, uint32_t time2) {
  if (!memory) return nullptr;
  return new (memory)
      CFileEntry(&arena, attributes, name, kind, sequence, ownId, parentId, size, time1, time2);
}

CPathEntry* InitPathEntry(CEntryArena& arena, uint32_t attributes, const wchar_t* name,
                          void* memory, uint32_t kind, uint64_t sequence, uint64_t ownId,
                          uint64_t parentId, uint64_t size, uint32_t time1, uint32_t time2) {
  if (!memory) return nullptr;
  return new (memory)
      CPathEntry(&arena, attributes, name, kind, sequence, ownId, parentId, size, time1, time2);
}

CFileEntry* NewFileEntry(CEntryArena& arena, uint32_t attributes, const wchar_t* name,
                         uint32_t kind, uint64_t sequence, uint64_t ownId, uint64_t parentId,
                         uint64_t size, uint32_t time1, uint32_t time2) {
  return InitFileEntry(arena, attributes, name, arena.Alloc(sizeof(CFileEntry)), kind,
                       sequence, ownId, parentId, size, time1, time2);
}

CPathEntry* NewPathEntry(CEntryArena& arena, uint32_t attributes, const wchar_t* name,
                         uint32_t kind, uint64_t sequence, uint64_t ownId, uint64_t parentId,
                         uint64_t size, uint32_t time1, uint32_t time2) {
  return InitPathEntry(arena, attributes, name, arena.Alloc(sizeof(CPathEntry)), kind,
                       sequence, ownId, parentId, size, time1, time2);
}

void SetEntryName(const wchar_t* name, CFileEntry* entry) {
  if (!entry) return;
  entry->name = name ? name : kEmptyName;
  const int32_t length = TextLength(entry->name);
  entry->childNode.Set(entry->name, length);
  entry->nameNode.Set(entry->name, length);
  entry->linkChainNode.Set(entry->name, length);
  SetExtensionView(entry, entry->name);
}

void RenameEntry(const wchar_t* name, CFileEntry* entry, uint32_t kind, uint64_t sequence,
                 uint64_t ownId, uint64_t parentId, uint64_t size, uint32_t time1,
                 uint32_t time2, uint32_t attributes) {
  if (!entry) return;
  entry->kind = (entry->kind & ~3u) | (kind & 3u);
  entry->sequence = sequence;
  entry->ownId = ownId;
  entry->parentId = parentId;
  entry->size = size;
  entry->time1 = time1;
  entry->time2 = time2;
  entry->attributes = attributes;
  SetEntryName(name, entry);
  entry->sizeNode.value = size;
  entry->timeNode.value = entry->Time();
}

void SetExtensionView(CFileEntry* entry, const wchar_t* text) {
  if (!entry) return;
  int32_t length = 0;
  const wchar_t* ext = ExtensionOf(text, &length);
  entry->extensionNode.Set(ext, length);
}

const wchar_t* LowerExtensionSource(const wchar_t* name, wchar_t* (*copy)(void*, const wchar_t*), void* owner) {
  int32_t length = 0;
  const wchar_t* ext = ExtensionOf(name, &length);
  bool lower = true;
  for (int32_t i = 0; i < length && lower; ++i) lower = ext[i] < 0x80 && !(ext[i] >= L'A' && ext[i] <= L'Z');
  if (lower) return name;
  wchar_t* text = copy(owner, ext - 1);
  if (text) LowerCaseExtension(text);
  return text;
}

void LowerCaseExtension(wchar_t* text) {
  int32_t length = 0;
  wchar_t* ext = const_cast<wchar_t*>(ExtensionOf(text, &length));
  if (!ext || length <= 0) return;
  // Invariant culture: the same name lower-cases the same way on every host.
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, ext, length, ext, length) == 0) {
    for (int32_t i = 0; i < length; ++i)
      if (ext[i] >= L'A' && ext[i] <= L'Z') ext[i] = wchar_t(ext[i] - L'A' + L'a');
  }
}

// ---------------------------------------------------------------------------------
// Folders

bool AddChild(CPathEntry* folder, CFileEntry* entry) {
  if (!folder || !entry || entry == folder) return false;
  folder->childList.Append(&entry->childNode);
  ++folder->childCount;
  if (!entry->IsFolder()) {
    const uint64_t bytes = GetEntrySize(entry);
    ++folder->fileCount;
    folder->totalSize += bytes;
    if (entry->IsDeleted()) {
      ++folder->deletedCount;
      folder->deletedSize += bytes;
    }
  }
  return true;
}

bool RemoveChild(CPathEntry* folder, CFileEntry* entry) {
  if (!folder || !entry || !entry->childNode.IsLinked()) return false;
  UnlinkNode(&entry->childNode);
  // Running totals are estimates until the recount; they never wrap below zero.
  folder->childCount = SubtractFloor32(folder->childCount, 1);
  if (const CPathEntry* sub = entry->AsPath()) {
    folder->totalSize = SubtractFloor(folder->totalSize, sub->totalSize);
    folder->fileCount = SubtractFloor32(folder->fileCount, sub->fileCount);
    folder->deletedCount = SubtractFloor32(folder->deletedCount, sub->deletedCount);
    folder->deletedSize = SubtractFloor(folder->deletedSize, sub->deletedSize);
  } else if (!entry->IsFolder()) {
    const uint64_t bytes = GetEntrySize(entry);
    folder->fileCount = SubtractFloor32(folder->fileCount, 1);
    folder->totalSize = SubtractFloor(folder->totalSize, bytes);
    if (entry->IsDeleted()) {
      folder->deletedCount = SubtractFloor32(folder->deletedCount, 1);
      folder->deletedSize = SubtractFloor(folder->deletedSize, bytes);
    }
  }
  return true;
}

uint64_t GetEntrySize(const CFileEntry* entry) {
  if (!entry) return 0;
  // Floyd's walk: base-entry links come from reparse data on disk and may loop.
  const CFileEntry* slow = entry;
  const CFileEntry* fast = entry;
  const CFileEntry* last = nullptr;
  while (!last) {
    if (!fast->baseEntry) {
      last = fast;
    } else if (!fast->baseEntry->baseEntry) {
      last = fast->baseEntry;
    } else {
      fast = fast->baseEntry->baseEntry;
      slow = slow->baseEntry;
      if (slow == fast) last = entry;
    }
  }
  const CDataList& runs = last->runList;
  if (runs.IsEmpty()) return last->size;
  return CDataEntry::FromNode(runs.First())->size;
}

void FillScanFileRecord(const CFileEntry* entry, ScanFileRecord* record) {
  if (!entry || !record) return;
  record->globalId = 0;
  record->id = entry->ownId + 1;
  record->parentId = entry->parentId + 1;
  record->size = GetEntrySize(entry);
  record->time = entry->Time();
  record->attributes = entry->attributes;
  record->taskId = 0;
  constexpr size_t kMax = sizeof record->name / sizeof record->name[0] - 1;
  const wchar_t* name = entry->name ? entry->name : kEmptyName;
  size_t n = 0;
  while (n < kMax && name[n]) ++n;
  if (n == kMax && name[n] && n > 0) {
    const uint16_t lastUnit = uint16_t(name[n - 1]);
    if (lastUnit >= 0xD800 && lastUnit <= 0xDBFF) --n;  // keep surrogate pairs whole
  }
  std::memcpy(record->name, name, n * sizeof(wchar_t));
  record->name[n] = 0;
}

// ---------------------------------------------------------------------------------
// Link chains and ancestry

CFileEntry* FirstInLinkChain(CFileEntry* entry) {
  if (!entry) return nullptr;
  if (!entry->linkChainNode.prev) return entry;
  return CollectLinkChain(entry).front();
}

void ChainAfter(CFileEntry* existing, CFileEntry* alias) {
  if (!existing || !alias || existing == alias) return;
  LinkAfter(&existing->linkChainNode, &alias->linkChainNode);
}

void ChainAppend(CFileEntry* member, CFileEntry* alias) {
  if (!member || !alias || member == alias) return;
  UnlinkNode(&alias->linkChainNode);
  std::vector<CFileEntry*> members = CollectLinkChain(member);
  LinkAfter(&members.back()->linkChainNode, &alias->linkChainNode);
}

CPathEntry* FindParentFolder(CFileEntry* entry) {
  if (!entry || !entry->childNode.IsLinked()) return nullptr;
  // Step both ways at once: whichever sentinel is nearer ends the walk.
  const CList* back = &entry->childNode;
  const CList* ahead = &entry->childNode;
  const size_t tailOffset = offsetof(CListGroup, tail);
  const size_t headerOffset = offsetof(CListGroup, header);
  for (uint32_t step = 0; step < kMaxSiblingSteps && (back || ahead); ++step) {
    if (ahead) {
      if (!ahead->next) {
        auto* list = reinterpret_cast<const CListGroup*>(
            reinterpret_cast<const char*>(ahead) - tailOffset);
        auto* children = static_cast<const CChildList*>(list);
        return children->owner && &children->owner->childList == children ? children->owner
                                                                           : nullptr;
      }
      ahead = ahead->next;
    }
    if (back) {
      if (!back->prev) {
        auto* list = reinterpret_cast<const CListGroup*>(
            reinterpret_cast<const char*>(back) - headerOffset);
        auto* children = static_cast<const CChildList*>(list);
        return children->owner && &children->owner->childList == children ? children->owner
                                                                           : nullptr;
      }
      back = back->prev;
    }
  }
  return nullptr;
}

bool IsSameOrAncestor(const CFileEntry* candidate, CPathEntry* folder) {
  if (!candidate || !folder) return false;
  CPathEntry* p = folder;
  for (uint32_t step = 0; p && step < kMaxAncestorSteps; ++step) {
    if (p == candidate) return true;
    p = FindParentFolder(p);
  }
  return p != nullptr;  // the walk did not end: treat as a cycle
}

bool AddDataRun(CFileEntry* entry, CDataEntry* run) {
  if (!entry || !run) return false;
  return entry->runList.Insert(&run->node) != nullptr;
}

int CompareExtensionNodeNames(const CList* a, const CList* b) {
  const CFileEntry* x = CFileEntry::FromExtensionNode(const_cast<CList*>(a));
  const CFileEntry* y = CFileEntry::FromExtensionNode(const_cast<CList*>(b));
  return x->nameNode.Compare(y->nameNode);
}

int CompareExtensionNodeTimes(const CList* a, const CList* b) {
  const uint64_t x = CFileEntry::FromExtensionNode(const_cast<CList*>(a))->Time();
  const uint64_t y = CFileEntry::FromExtensionNode(const_cast<CList*>(b))->Time();
  return x < y ? -1 : (x == y ? 0 : 1);
}
