// What the host reads after a scan: paged enumerations of one folder, of the four
// global lists and of the entries that pass a filter, the file-type table, and the
// queries of one entry's name and full path.
#include "Enumeration.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <unordered_set>
#include <vector>

#include "CoreLibrary.h"
#include "TextConvert.h"
#include "UniqueRes.h"

namespace {

// Link chains and ancestor walks end here even when a corrupt tree never does.
constexpr uint32_t kMaxChainSteps = 1u << 16;
constexpr uint32_t kMaxPathDepth = 1u << 16;
constexpr uint32_t kMaxSiblingSteps = 1u << 26;
// Host buffers hold names of 255 characters and a terminator.
constexpr size_t kMaxHostName = 255;

const wchar_t kLostPath[] = L"/LostPath";

// Number of characters of text that fit max, never ending inside a surrogate pair.
size_t FittingLength(const wchar_t* text, size_t length, size_t max) {
  if (length <= max) return length;
  size_t n = max;
  if (n > 0) {
    const uint16_t last = uint16_t(text[n - 1]);
    if (last >= 0xD800 && last <= 0xDBFF) --n;
  }
  return n;
}

void CopyHostName(wchar_t* out, const wchar_t* name) {
  if (!name) name = L"";
  const size_t n = FittingLength(name, wcsnlen(name, kMaxHostName + 1), kMaxHostName);
  std::wmemcpy(out, name, n);
  out[n] = 0;
}


CFileEntry* EntryOfNode(int32_t listKind, CList* node) {
  switch (listKind) {
    case kFolderListKind: return CFileEntry::FromChildNode(node);
    case 0: return CFileEntry::FromNameNode(node);
    case 1: return CFileEntry::FromExtensionNode(node);
    case 2: return CFileEntry::FromSizeNode(node);
    default: return CFileEntry::FromTimeNode(node);
  }
}

// The end of a walk: the list's own sentinel, or any sentinel (a node the scan moved
// into another list while a page was not being read).
bool AtEnd(const EnumContext& c, const CList* p) {
  if (!p) return true;
  if (c.backward) return c.list->IsHeader(p) || !p->prev;
  return c.list->IsTail(p) || !p->next;
}

bool ExtensionEquals(const CFileEntry* entry, const std::wstring& text) {
  const int32_t length = entry->extensionNode.length > 0 ? entry->extensionNode.length : 0;
  if (size_t(length) != text.size()) return false;
  return length == 0 || std::wmemcmp(entry->extensionNode.text, text.data(), size_t(length)) == 0;
}


// Members of the entry's link chain from its start, as far as the bound goes.
template <class Visit>
void ForEachChainMember(CFileEntry* entry, Visit visit) {
  CFileEntry* first = FirstInLinkChain(entry);
  if (!first) return;
  if (!first->linkChainNode.IsLinked()) {
    visit(first);
    return;
  }
  CList* p = &first->linkChainNode;
  for (uint32_t step = 0; p && step < kMaxChainSteps; ++step, p = p->next) {
    if (!visit(CFileEntry::FromLinkChainNode(p))) return;
  }
}

bool SameText(const wchar_t* a, size_t la, const wchar_t* b, size_t lb, bool ignoreCase) {
  if (la != lb) return false;
  if (!ignoreCase) return la == 0 || std::wmemcmp(a, b, la) == 0;
  if (la == 0) return true;
  return ::CompareStringOrdinal(a, int(la), b, int(lb), TRUE) == CSTR_EQUAL;
}

}  // namespace

// ---------------------------------------------------------------------------------
// Tree paths and lookups by name

bool ParseHexId(const wchar_t* text, size_t length, uint64_t* value) {
  size_t i = 0;
  while (i < length && (text[i] == L' ' || text[i] == L'\t')) ++i;
  if (i + 1 < length && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X')) i += 2;
  uint64_t v = 0;
  size_t digits = 0;
  for (; i < length; ++i, ++digits) {
    const wchar_t c = text[i];
    uint32_t d;
    if (c >= L'0' && c <= L'9') {
      d = uint32_t(c - L'0');
    } else if (c >= L'a' && c <= L'f') {
      d = uint32_t(c - L'a' + 10);
    } else if (c >= L'A' && c <= L'F') {
      d = uint32_t(c - L'A' + 10);
    } else {
      break;
    }
    v = v << 4 | d;
  }
  *value = v;
  return digits > 0;
}

CPathEntry* ChildFolderOf(CFileEntry* entry) {
  if (!entry) return nullptr;
  CPathEntry* folder = nullptr;
  ForEachChainMember(entry, [&](CFileEntry* member) {
    folder = member->AsPath();
    return folder == nullptr;
  });
  return folder;
}

// The folder of that id and name among the holder's children, found through the id map
// and the id's alias chain rather than along a child list of thousands; null when none
// of them is such a child (the caller then walks the list).
CFileEntry* ChildFolderById(CStorage::CScanTask& task, CPathEntry* holder, uint64_t id, const wchar_t* name,
                            size_t nameLength) {
  CFileEntry* held = task.FindEntryById(id);
  if (!held) return nullptr;
  uint32_t steps = 0;
  for (CList* n = &FirstInLinkChain(held)->linkChainNode; n && steps < kMaxSiblingSteps; n = n->next, ++steps) {
    CFileEntry* child = CFileEntry::FromLinkChainNode(n);
    if (!child->IsFolder() || child->ownId != id) continue;
    const size_t childLength = wcsnlen(child->name, nameLength + 1);
    if (SameText(child->name, childLength, name, nameLength, false) && FindParentFolder(child) == holder)
      return child;
  }
  return nullptr;
}

int32_t ResolveTreePath(CStorage::CScanTask& task, const wchar_t* path, CPathEntry** folder, bool waitForCounts) {
  *folder = nullptr;
  if (!path || (path[0] != L'/' && path[0] != L':')) return kResultBadArgument;
  // The first part (up to the first '/' after the first character) is the host's own.
  const wchar_t* rest = path[0] ? std::wcschr(path + 1, L'/') : nullptr;
  CFileEntry* current = task.VirtualRoot();
  auto waitCounted = [&task, waitForCounts](CPathEntry* f) {
    // A folder that the recount never reached keeps its running totals once the
    // scan is over, rather than blocking the host for ever.
    while (waitForCounts && !f->IsCounted() && !task.IsFinished()) task.WaitStep();
  };
  if (rest) {
    const wchar_t* p = rest + 1;
    while (*p) {
      const wchar_t* end = std::wcschr(p, L'/');
      const size_t partLength = end ? size_t(end - p) : std::wcslen(p);
      if (partLength > 0) {
        CPathEntry* holder = ChildFolderOf(current);
        if (!holder) return kResultNoTask;
        waitCounted(holder);
        // Names hold no ':', so the last one starts the id.
        size_t nameLength = partLength;
        for (size_t i = partLength; i > 0; --i) {
          if (p[i - 1] == L':') {
            nameLength = i - 1;
            break;
          }
        }
        uint64_t id = 0;
        const bool hasId = nameLength < partLength && ParseHexId(p + nameLength + 1, partLength - nameLength - 1, &id);
        const uint64_t internalId = id - 1;
        CFileEntry* match = hasId ? ChildFolderById(task, holder, internalId, p, nameLength) : nullptr;
        CListGroup& children = holder->childList;
        uint32_t steps = 0;
        for (CList* n = match ? nullptr : children.First(); n && !children.IsTail(n) && steps < kMaxSiblingSteps;
             n = n->next, ++steps) {
          CFileEntry* child = CFileEntry::FromChildNode(n);
          if (!child->IsFolder()) continue;
          if (hasId && child->ownId != internalId) continue;
          const size_t childLength = wcsnlen(child->name, nameLength + 1);
          if (SameText(child->name, childLength, p, nameLength, false)) {
            match = child;
            break;
          }
        }
        if (!match) return kResultNoTask;
        current = match;
      }
      if (!end) break;
      p = end + 1;
    }
  }
  CPathEntry* result = ChildFolderOf(current);
  if (!result) return kResultNoTask;
  waitCounted(result);
  *folder = result;
  return kResultOk;
}

CFileEntry* FindChildEntryWithoutID(CPathEntry* folder, const wchar_t* name, size_t length) {
  if (!folder || !name) return nullptr;
  if (length == 1 && name[0] == L'.') return folder;
  if (length == 2 && name[0] == L'.' && name[1] == L'.') {
    // Above the volume root (its own parent) there is nothing but the root itself.
    if (folder->parentId == folder->ownId) return folder;
    return FindParentFolder(folder);
  }
  // Rank: exact and live 0, exact and deleted 1, other case and live 2, other case and deleted 3.
  CFileEntry* best = nullptr;
  int bestRank = 4;
  ForEachChainMember(folder, [&](CFileEntry* member) {
    CPathEntry* holder = member->AsPath();
    if (!holder) return true;
    CListGroup& children = holder->childList;
    uint32_t steps = 0;
    for (CList* n = children.First(); n && !children.IsTail(n) && steps < kMaxSiblingSteps; n = n->next, ++steps) {
      CFileEntry* child = CFileEntry::FromChildNode(n);
      const size_t childLength = wcsnlen(child->name, length + 1);
      int rank;
      if (SameText(child->name, childLength, name, length, false)) {
        rank = 0;
      } else if (SameText(child->name, childLength, name, length, true)) {
        rank = 2;
      } else {
        continue;
      }
      if (child->IsDeleted()) ++rank;
      if (rank < bestRank) {
        best = child;
        bestRank = rank;
        if (rank == 0) return false;
      }
    }
    return true;
  });
  return best;
}

CFileEntry* FindChildEntryWithoutID(CPathEntry* folder, const wchar_t* name) {
  return FindChildEntryWithoutID(folder, name, name ? std::wcslen(name) : 0);
}

// ---------------------------------------------------------------------------------
// Pages

void CStorage::CScanTask::WaitForIndex() const {
  // A task whose indexer never ran has lists that nothing else fills.
  WaitUntil([this] { return !m_indexerStarted.load() || IndexerDone(); });
}

int32_t CStorage::CScanTask::FillEnumPage(EnumContext& context, int32_t count, ScanFileRecord* records,
                                          int32_t* got) {
  *got = 0;
  if (count <= 0 || !records) return kResultBadArgument;
  // The indexer appends under this lock; a page read while a scan runs sees whole nodes.
  CritSecLock hold(m_lock);
  int32_t written = 0;
  CList* p = context.cursor;
  const bool globalList = context.listKind != kFolderListKind && context.filterKind == 0;
  while (written < count && !AtEnd(context, p)) {
    CFileEntry* entry = EntryOfNode(context.listKind, p);
    CList* next = context.backward ? p->prev : p->next;
    bool pass = true;
    switch (context.filterKind) {
      case 1:
        pass = entry->name[0] != 0 && std::wcsstr(entry->name, context.filterText.c_str()) != nullptr;
        break;
      case 2:
        pass = !entry->IsFolder() && ExtensionEquals(entry, context.filterText);
        break;
      case 3: {
        const uint64_t time = entry->timeNode.value;
        pass = context.low.value <= time && time <= context.high.value;
        break;
      }
      case 4: {
        const uint64_t size = GetEntrySize(entry);
        pass = !entry->IsFolder() && context.low.value <= size && size <= context.high.value;
        break;
      }
      default:
        // The root folder stands in the global lists but is no found file.
        if (globalList) pass = entry->ownId != m_rootId;
        break;
    }
    if (pass) {
      ScanFileRecord& record = records[written++];
      FillScanFileRecord(entry, &record);
      record.taskId = uint32_t(GetTaskId());
      record.globalId = MakeGlobalId(uint32_t(entry->sequence), uint32_t(entry->sequence >> 32));
    }
    p = next;
  }
  context.cursor = p;
  *got = written;
  return kResultOk;
}

int32_t CStorage::CScanTask::EnumScannedFiles(const wchar_t* path, int32_t handle, int32_t count,
                                              ScanFileRecord* records, int32_t* got, int32_t* childCount,
                                              int32_t* fileCount, int32_t* deletedCount, uint64_t* totalSize,
                                              uint64_t* deletedSize, int32_t* outHandle) {
  if (got) *got = 0;
  if (!got || count <= 0 || !records) return kResultBadArgument;
  if (handle == 0 && !path) return kResultBadArgument;
  if (handle == 0 && path[0] != L'/' && path[0] != L':') return kResultBadArgument;
  WaitForIndex();

  EnumContext* context = nullptr;
  EnumContext once;
  if (handle != 0) {
    context = FindEnumContext(handle);
    if (!context) return kResultNoTask;
  } else {
    CPathEntry* folder = nullptr;
    const int32_t resolved = ResolveTreePath(*this, path, &folder);
    if (resolved != kResultOk) return resolved;
    // Without a place for the handle the host could never close the enumeration, and
    // the task could never be closed: such a call reads one page and keeps nothing.
    if (outHandle) {
      context = OpenEnumContext();
      if (!context) return kResultNoMemory;
    } else {
      context = &once;
    }
    context->listKind = kFolderListKind;
    context->backward = false;
    context->list = &folder->childList;
    context->cursor = folder->childList.First();
  }
  const int32_t result = FillEnumPage(*context, count, records, got);
  if (context->listKind == kFolderListKind) {
    const CPathEntry* folder = static_cast<const CChildList*>(context->list)->owner;
    if (folder) {
      if (childCount) *childCount = int32_t(folder->childCount);
      if (fileCount) *fileCount = int32_t(folder->fileCount);
      if (deletedCount) *deletedCount = int32_t(folder->deletedCount);
      if (totalSize) *totalSize = folder->totalSize;
      if (deletedSize) *deletedSize = folder->deletedSize;
    }
  }
  if (handle == 0 && outHandle) *outHandle = context->handle;
  return result;
}

int32_t CStorage::CScanTask::GlobalEnumScannedFiles(int32_t list, int32_t handle, int32_t count,
                                                    ScanFileRecord* records, int32_t* got, int32_t* outHandle) {
  if (got) *got = 0;
  if (!got || count <= 0 || !records) return kResultBadArgument;
  EnumContext* context = nullptr;
  EnumContext once;
  if (handle != 0) {
    context = FindEnumContext(handle);
    if (!context) return kResultNoTask;
  } else {
    const int32_t kind = list & 0xFFFF;
    if (kind > 3) return kResultBadArgument;
    context = outHandle ? OpenEnumContext() : &once;
    if (!context) return kResultNoMemory;
    context->listKind = kind;
    context->backward = list < 0;
    context->list = &m_lists[kind];
    CritSecLock hold(m_lock);
    context->cursor = context->backward ? m_lists[kind].Last() : m_lists[kind].First();
  }
  const int32_t result = FillEnumPage(*context, count, records, got);
  if (handle == 0 && outHandle) *outHandle = context->handle;
  return result;
}

int32_t CStorage::CScanTask::GlobalFilterScannedFiles(int32_t handle, int32_t filterCount, const ScanFilter* filters,
                                                      int32_t count, ScanFileRecord* records, int32_t* got,
                                                      int32_t* outHandle) {
  if (got) *got = 0;
  if (!got || count <= 0 || !records) return kResultBadArgument;
  EnumContext* context = nullptr;
  EnumContext once;
  if (handle != 0) {
    context = FindEnumContext(handle);
    if (!context) return kResultNoTask;
  } else {
    if (filterCount <= 0 || !filters) return kResultBadArgument;
    WaitForIndex();
    for (int32_t i = 0; i < filterCount; ++i) {
      const ScanFilter& f = filters[i];
      char line[768];
      std::snprintf(line, sizeof line, "Filter %d, %d, %llXH, %llXH, %s\n", i, f.kind,
                    static_cast<unsigned long long>(f.low), static_cast<unsigned long long>(f.high),
                    NarrowText(f.value, CP_UTF8, 512).c_str());
      ::OutputDebugStringA(line);
    }
    // Only the first filter decides.
    const ScanFilter& filter = filters[0];
    int32_t listKind;
    switch (filter.kind) {
      case 1: listKind = 0; break;
      case 2: listKind = 1; break;
      case 3: listKind = 3; break;
      case 4: listKind = 2; break;
      default: return kResultBadArgument;
    }
    if ((filter.kind == 1 || filter.kind == 2) && !filter.value) return kResultBadArgument;
    context = outHandle ? OpenEnumContext() : &once;
    if (!context) return kResultNoMemory;
    context->listKind = listKind;
    context->backward = false;
    context->list = &m_lists[listKind];
    context->filterKind = filter.kind;
    // The host's text need not outlive this call: later pages match against a copy.
    if (filter.value) {
      try {
        context->filterText.assign(filter.value);
      } catch (const std::bad_alloc&) {
        if (context != &once) RemoveEnumContext(context->handle);
        return kResultNoMemory;
      }
    }
    context->low.value = filter.low;
    context->high.value = filter.high;
    CritSecLock hold(m_lock);
    CListGroup& walked = m_lists[listKind];
    // The time list starts at its first node not below the low bound; nodes before it
    // are all earlier. The size list is walked whole: a node's key is the size named in
    // the directory, which for a file with data runs is not the size that is tested.
    context->cursor = filter.kind == 3 ? walked.LowerBound(context->low) : walked.First();
  }
  const int32_t result = FillEnumPage(*context, count, records, got);
  if (handle == 0 && outHandle) *outHandle = context->handle;
  return result;
}

int32_t CStorage::CScanTask::CloseEnumHandle(int32_t handle) {
  return RemoveEnumContext(handle) ? kResultOk : kResultNoTask;
}

int32_t CStorage::CScanTask::EnumFileTypes(int32_t start, int32_t count, int32_t* total, int32_t* got,
                                           FileTypeRecord* records) {
  if (got) *got = 0;
  if (!got || count <= 0 || start < 0 || !records) return kResultBadArgument;
  WaitForIndex();
  CritSecLock hold(m_lock);
  if (total) *total = int32_t(m_fileTypes.Count());
  *got = int32_t(m_fileTypes.Copy(uint32_t(start), uint32_t(count), records));
  return kResultOk;
}

// ---------------------------------------------------------------------------------
// Queries by id

int32_t CStorage::CScanTask::QueryFileName(uint64_t id, uint32_t, uint64_t* parentId, wchar_t* name) {
  if (!name) return kResultBadArgument;
  CFileEntry* entry = GetEntryById(id);
  if (!entry) return kResultNoTask;
  if (!entry->IsFolder()) {
    CORE_LOG(Core::kLogInfo, "CStorage::CScanTask::QueryFileName", "ID: %llxH, fileName: %s",
             static_cast<unsigned long long>(id), NarrowText(entry->name, CP_UTF8, 512).c_str());
    // A file whose record turned out to be a folder's: the folder that stands under
    // "UnknownPath" with that id answers.
    CListGroup& lost = m_unknownFolder->childList;
    uint32_t steps = 0;
    for (CList* n = lost.First(); n && !lost.IsTail(n) && steps < kMaxSiblingSteps; n = n->next, ++steps) {
      CFileEntry* child = CFileEntry::FromChildNode(n);
      if (child->IsFolder() && child->ownId == entry->ownId) {
        entry = child;
        break;
      }
    }
  }
  CopyHostName(name, entry->name);
  if (parentId) *parentId = entry->parentId;
  return kResultOk;
}

int32_t CStorage::CScanTask::QueryFileFullPath(uint64_t id, wchar_t* buffer) {
  if (!buffer) return kResultBadArgument;
  // Names from the entry up to the root; a missing ancestor or a parent cycle means
  // the entry's real place is lost.
  std::vector<const wchar_t*> names;
  bool lost = false;
  CFileEntry* entry = nullptr;
  if (id == kNoEntryId) {
    lost = true;
  } else {
    entry = GetEntryById(id);
    if (!entry) {
      buffer[0] = 0;
      return 0;
    }
  }
  std::unordered_set<const CFileEntry*> seen;
  while (entry) {
    if (entry->ownId == kNoEntryId || !seen.insert(entry).second || seen.size() > kMaxPathDepth) {
      lost = true;
      break;
    }
    const uint64_t parent = entry->parentId;
    if (parent == entry->ownId && entry->ownId == m_rootId) break;  // the root's name is no part of paths
    names.push_back(entry->name);
    if (parent == entry->ownId) {
      // Its own parent but not the root: an orphan.
      lost = true;
      break;
    }
    if (parent == kNoEntryId) {
      lost = true;
      break;
    }
    entry = GetEntryById(parent);
    if (!entry) lost = true;
  }
  std::wstring text;
  if (lost) text = kLostPath;
  for (auto it = names.rbegin(); it != names.rend() && text.size() < kMaxFullPath; ++it) {
    text += L'/';
    text += *it;
  }
  const size_t n = FittingLength(text.c_str(), text.size(), kMaxFullPath - 1);
  std::wmemcpy(buffer, text.c_str(), n);
  buffer[n] = 0;
  return int32_t(n);
}
