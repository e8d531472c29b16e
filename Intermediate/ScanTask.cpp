// The scan-task base: construction, the record callbacks that build the tree, the
// pending queue and its indexer, the name store, the id map, the type table, Close.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "CoreLibrary.h"
#include "Interface.h"
#include "UniqueRes.h"

// Node -> entry goes through the node's fixed place in the entry.
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

namespace {

const wchar_t kUnknownPathName[] = L"UnknownPath";

// The indexer hands its lock back to the record callbacks this often.
constexpr int kIndexChunk = 256;
// At least this many pending entries wake the indexer while the scan runs.
constexpr int32_t kBatchThreshold = 100;
// Queued entries that wake the indexer before its step ends: large batches while a
// big scan runs, few wakes.
constexpr int32_t kWakeCount = 4096;

uint64_t Join(uint32_t low, uint32_t high) { return uint64_t(high) << 32 | low; }

}  // namespace

// ---------------------------------------------------------------------------------
// Name store

CNameStore::CNameStore() { ::InitializeCriticalSection(&m_lock); }

CNameStore::~CNameStore() {
  Release();
  ::DeleteCriticalSection(&m_lock);
}

wchar_t* CNameStore::Intern(const wchar_t* text) {
  if (!text) text = L"";
  const size_t length = std::wcslen(text);
  if (length + 1 > kBlockChars) return nullptr;
  const uint32_t need = uint32_t(length + 1);
  CritSecLock hold(m_lock);
  if (!m_newest || need > kBlockChars - m_newest->used) {
    if (AllocationShouldFail()) return nullptr;
    void* memory = std::calloc(1, sizeof(Block) + size_t(kBlockChars) * sizeof(wchar_t));
    if (!memory) return nullptr;
    Block* block = static_cast<Block*>(memory);
    block->next = m_newest;
    block->used = 0;
    m_newest = block;
    ++m_blocks;
  }
  wchar_t* copy = m_newest->chars() + m_newest->used;
  std::memcpy(copy, text, size_t(need) * sizeof(wchar_t));
  m_newest->used += need;
  return copy;
}

void CNameStore::Release() {
  CritSecLock hold(m_lock);
  while (m_newest) {
    Block* older = m_newest->next;
    std::free(m_newest);
    m_newest = older;
  }
  m_blocks = 0;
}

uint32_t CNameStore::BlockCount() const {
  CritSecLock hold(m_lock);
  return m_blocks;
}

// ---------------------------------------------------------------------------------
// File-type table

uint8_t CFileTypeTable::BucketOf(const wchar_t* extension, uint32_t length) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) {
    const uint32_t unit = uint16_t(extension[i]);
    sum += (unit & 0xFF) << ((3 * i) % 32);
    sum += (unit >> 8) << ((3 * i + 3) % 32);
  }
  return uint8_t(sum);
}

CFileTypeTable::Node* CFileTypeTable::FindNode(const wchar_t* extension, uint32_t length, uint8_t bucket) const {
  for (Node* n = m_heads[bucket]; n; n = n->next) {
    if (n->record.extensionLength == length &&
        (length == 0 || std::wmemcmp(n->record.extension, extension, length) == 0))
      return n;
  }
  return nullptr;
}

bool CFileTypeTable::Add(const wchar_t* extension, uint32_t length, uint64_t size) {
  if (!extension) length = 0;
  // The record holds 255 characters: longer extensions are counted under their start.
  if (length > kMaxExtension) length = kMaxExtension;
  const uint8_t bucket = BucketOf(extension, length);
  Node* node = FindNode(extension, length, bucket);
  if (!node) {
    if (AllocationShouldFail()) return false;
    node = new (std::nothrow) Node{};
    if (!node) return false;
    if (length) std::wmemcpy(node->record.extension, extension, length);
    node->record.extension[length] = 0;
    node->record.extensionLength = length;
    // Creation order within a bucket: the first record made heads it.
    Node** tail = &m_heads[bucket];
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    ++m_count;
  }
  ++node->record.fileCount;
  node->record.totalSize += size;
  return true;
}

void CFileTypeTable::Remove(const wchar_t* extension, uint32_t length, uint64_t size) {
  if (!extension) length = 0;
  if (length > kMaxExtension) length = kMaxExtension;
  Node* node = FindNode(extension, length, BucketOf(extension, length));
  if (!node) return;
  if (node->record.fileCount) --node->record.fileCount;
  node->record.totalSize = node->record.totalSize > size ? node->record.totalSize - size : 0;
}

uint32_t CFileTypeTable::Copy(uint32_t start, uint32_t count, FileTypeRecord* out) const {
  uint32_t index = 0;
  uint32_t copied = 0;
  for (uint32_t b = 0; b < kBuckets && copied < count; ++b) {
    for (Node* n = m_heads[b]; n && copied < count; n = n->next, ++index) {
      if (index >= start) out[copied++] = n->record;
    }
  }
  return copied;
}

const FileTypeRecord* CFileTypeTable::Find(const wchar_t* extension, uint32_t length) const {
  if (length > kMaxExtension) length = kMaxExtension;
  Node* node = FindNode(extension, length, BucketOf(extension, length));
  return node ? &node->record : nullptr;
}

void CFileTypeTable::Release() {
  for (Node*& head : m_heads) {
    while (head) {
      Node* next = head->next;
      delete head;
      head = next;
    }
  }
  m_count = 0;
}

// ---------------------------------------------------------------------------------
// Core callbacks

int __cdecl TaskRecordCallback(void* task, const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh,
                               uint32_t parentLow, uint32_t parentHigh, uint32_t sizeLow, uint32_t sizeHigh,
                               uint32_t timeLow, uint32_t timeHigh, uint32_t attributes, int32_t deleted,
                               int32_t progress) {
  if (!task) return 0;
  return static_cast<CStorage::CScanTask*>(task)->OnRecordFound(name, kind, idLow, idHigh, parentLow, parentHigh,
                                                                sizeLow, sizeHigh, timeLow, timeHigh, attributes,
                                                                deleted, progress);
}

void __cdecl TaskFinishCallback(void* task, int32_t value) {
  if (task) static_cast<CStorage::CScanTask*>(task)->WorkFinishRoutine(value);
}

// ---------------------------------------------------------------------------------
// Construction

CStorage::CScanTask::CScanTask(const TaskParams& params)
    : m_options(params.options),
      m_waitEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_storage(params.storage),
      m_taskId(params.taskId),
      m_disk(params.disk),
      m_partition(params.partition),
      m_diskContext(params.diskContext),
      m_partitionHandle(params.partitionHandle),
      m_virtualRoot(&m_arena),
      m_unknownPath(&m_arena, kAttrFolder, kUnknownPathName, 0, 0, kNoEntryId, kNoEntryId, 0, 0, 0),
      m_partitionType(params.partitionType) {
  InitTaskLists();
}

void CStorage::CScanTask::InitTaskLists() {
  ::InitializeCriticalSection(&m_lock);
  ::InitializeCriticalSection(&m_changeLock);
  m_pending.Reset();
  m_pendingCount.store(0);
  static const ListComparator kExtensionOrder[] = {&CompareExtensionNodeNames, &CompareExtensionNodeTimes};
  m_lists[1].SetComparators(kExtensionOrder, 2);
}

CStorage::CScanTask::~CScanTask() {
  // Last resort for a task freed without StopIndexer: the derived part is gone, so
  // the indexer must not call PostScan any more.
  m_skipPostScan.store(1);
  StopIndexer();
  // A finished task's worker may still be on its way out of the core routine, and the
  // indexer and a recovery thread out of their last wake.
  if (m_worker) m_worker->WaitUntilExited();
  while (m_threadsInside.load() != 0) ::Sleep(1);
  m_worker.reset();
  m_contexts.clear();
  ::DeleteCriticalSection(&m_lock);
  ::DeleteCriticalSection(&m_changeLock);
}

void CStorage::CScanTask::NotifyChange() const {
  // Entering once orders the flag's store before any waiter's next test.
  { CritSecLock hold(m_changeLock); }
  ::WakeAllConditionVariable(&m_changed);
}

bool CStorage::CScanTask::StartIndexer() {
  int32_t expected = 0;
  if (!m_indexerStarted.compare_exchange_strong(expected, 1)) return true;
  // The indexer is never joined: its handle goes at once, its done flag tells the end.
  ++m_threadsInside;
  UniqueHandle thread(::CreateThread(nullptr, 0, &CScanTask::IndexerMain, this, 0, nullptr));
  if (!thread) {
    --m_threadsInside;
    m_indexerStarted.store(0);
    return false;
  }
  return true;
}

void CStorage::CScanTask::StopIndexer() {
  m_indexerRun.store(0);
  NotifyChange();
  if (!m_indexerStarted.load()) return;
  WaitUntil([this] { return IndexerDone(); });
}

DWORD WINAPI CStorage::CScanTask::IndexerMain(void* self) {
  auto* task = static_cast<CScanTask*>(self);
  task->IndexerThread();
  // The last touch of the task.
  --task->m_threadsInside;
  return 0;
}

// ---------------------------------------------------------------------------------
// Pending queue and indexer

void CStorage::CScanTask::QueuePending(CFileEntry* entry) {
  if (!entry) return;
  CritSecLock hold(m_lock);
  CList* node = &entry->nameNode;
  // An entry queued again (a placeholder that got its name) leaves the batch or the
  // list it is in; the lock keeps the indexer off it meanwhile.
  if (node->IsLinked()) UnlinkNode(node);
  if (m_pending.IsEmpty()) {
    m_pending.Append(node);
  } else {
    LinkAfter(m_pending.First(), node);
  }
  // One wake per batch: the indexer takes the whole queue when it runs.
  if (++m_pendingCount == kWakeCount) NotifyChange();
}

void CStorage::CScanTask::IndexEntry(CFileEntry* entry) {
  if (!entry) return;
  CritSecLock hold(m_lock);
  m_lists[0].Append(&entry->nameNode);
  m_lists[1].Append(&entry->extensionNode);
  m_lists[2].Append(&entry->sizeNode);
  m_lists[3].Append(&entry->timeNode);
  if (!entry->IsFolder()) {
    m_fileTypes.Add(entry->extensionNode.text, uint32_t(entry->extensionNode.length > 0 ? entry->extensionNode.length : 0),
                    GetEntrySize(entry));
  }
}

void CStorage::CScanTask::UnindexEntry(CFileEntry* entry) {
  if (!entry) return;
  CritSecLock hold(m_lock);
  const bool indexed = entry->sizeNode.IsLinked();
  UnlinkNode(&entry->nameNode);
  UnlinkNode(&entry->extensionNode);
  UnlinkNode(&entry->sizeNode);
  UnlinkNode(&entry->timeNode);
  if (indexed && !entry->IsFolder()) {
    m_fileTypes.Remove(entry->extensionNode.text,
                       uint32_t(entry->extensionNode.length > 0 ? entry->extensionNode.length : 0),
                       GetEntrySize(entry));
  }
}

void CStorage::CScanTask::IndexerThread() {
  int32_t handled = 0;
  for (;;) {
    WaitUntil([this] { return !m_indexerRun.load() || m_pendingCount.load() >= kBatchThreshold; });
    {
      CritSecLock hold(m_lock);
      if (m_pending.IsEmpty()) {
        if (!m_indexerRun.load()) break;
        continue;
      }
      // The whole queue becomes the batch.
      CList* first = m_pending.First();
      CList* last = m_pending.Last();
      m_batch.Reset();
      m_batch.header.next = first;
      first->prev = &m_batch.header;
      m_batch.tail.prev = last;
      last->next = &m_batch.tail;
      m_pending.Reset();
      m_pendingCount.store(0);
    }
    bool more = true;
    while (more) {
      CritSecLock hold(m_lock);
      for (int i = 0; i < kIndexChunk; ++i) {
        CList* node = m_batch.First();
        if (m_batch.IsTail(node)) {
          more = false;
          break;
        }
        CFileEntry* entry = CFileEntry::FromNameNode(node);
        m_lists[0].Append(node);
        m_lists[1].Append(&entry->extensionNode);
        m_lists[2].Append(&entry->sizeNode);
        m_lists[3].Append(&entry->timeNode);
        if (!entry->IsFolder()) {
          m_fileTypes.Add(entry->extensionNode.text,
                          uint32_t(entry->extensionNode.length > 0 ? entry->extensionNode.length : 0),
                          GetEntrySize(entry));
        }
        ++handled;
      }
    }
  }
  std::printf("File count %d.\n", handled);
  std::fflush(stdout);
  if (!m_skipPostScan.load()) PostScan();
  m_indexerDone.store(1);
  NotifyChange();
}

// ---------------------------------------------------------------------------------
// Id map and names

CFileEntry** CStorage::CScanTask::GetIdCell(uint64_t id) { return m_idMap.Cell(id); }

CFileEntry* CStorage::CScanTask::GetEntryById(uint64_t id) {
  CFileEntry** cell = m_idMap.FindCell(id);
  if (cell && *cell) return *cell;
  char text[64];
  std::snprintf(text, sizeof text, "Try to access Index %llXH\n", static_cast<unsigned long long>(id));
  ::OutputDebugStringA(text);
  return nullptr;
}

wchar_t* CStorage::CScanTask::InternName(const wchar_t* text) { return m_names.Intern(text); }

void CStorage::CScanTask::ScanInit() {
  if (CFileEntry** cell = GetIdCell(kNoEntryId)) *cell = m_unknownFolder;
}

// ---------------------------------------------------------------------------------
// Tree building

CFileEntry* CStorage::CScanTask::NewFile(const wchar_t* name, uint32_t kind, uint64_t id, uint64_t parentId,
                                         uint64_t size, uint32_t time1, uint32_t time2, uint32_t attributes) {
  const wchar_t* extension = ExtensionSource(name);
  if (!extension) return nullptr;
  CFileEntry* entry =
      NewFileEntry(m_arena, attributes, name, kind, NextSequence(), id, parentId, size, time1, time2);
  if (entry) SetExtensionView(entry, extension);
  return entry;
}

void CStorage::CScanTask::CountFile(const CFileEntry* entry, int sign) {
  if (!entry || entry->IsFolder()) return;
  m_fileCount += sign;
  if (entry->IsDeleted()) m_deletedCount += sign;
}

CPathEntry* CStorage::CScanTask::ParentFolderFor(uint64_t parentId) {
  CFileEntry** cell = GetIdCell(parentId);
  if (!cell) return m_unknownFolder;
  CFileEntry* held = *cell;
  if (held) {
    if (CPathEntry* folder = held->AsPath()) return folder;
    // The parent id names a file: that file is lost from its folder.
    RemoveChild(FindParentFolder(held), held);
    AddChild(m_unknownFolder, held);
  }
  CPathEntry* placeholder =
      NewPathEntry(m_arena, kAttrFolder, L"", 0, NextSequence(), parentId, kNoEntryId, 0, 0, 0);
  if (!placeholder) return m_unknownFolder;
  *cell = placeholder;
  AddChild(m_unknownFolder, placeholder);
  return placeholder;
}

void CStorage::CScanTask::PlaceEntry(CFileEntry* entry, CPathEntry* folder) {
  if (!entry) return;
  if (!folder) folder = m_unknownFolder;
  // A folder under itself or under one of its own children would make the tree a
  // cycle: such an entry is an orphan. Only a folder with children can be an ancestor.
  if (CPathEntry* self = entry->AsPath()) {
    if (self == folder || (!self->childList.IsEmpty() && IsSameOrAncestor(self, folder))) folder = m_unknownFolder;
  }
  if (entry->childNode.IsLinked()) {
    CPathEntry* current = FindParentFolder(entry);
    if (current == folder) return;
    if (current) {
      RemoveChild(current, entry);
    } else {
      UnlinkNode(&entry->childNode);
    }
  }
  AddChild(folder, entry);
}

void CStorage::CScanTask::WaitWhilePaused() {
  // A stop ends the pause too: StopWork on a paused task must not hang.
  while (m_pause.load() != 0 && m_running.load() != 0) WaitStep();
}

CFileEntry* CStorage::CScanTask::FillPlaceholder(CFileEntry** cell, const wchar_t* name, uint32_t kind, uint64_t id,
                                                 uint64_t parentId, uint64_t size, uint32_t time1, uint32_t time2,
                                                 uint32_t attributes) {
  CFileEntry* held = *cell;
  if (CPathEntry* folder = held->AsPath()) {
    RenameEntry(name, folder, kind, folder->sequence, id, parentId, size, time1, time2, attributes | kAttrFolder);
    if (CPathEntry* current = FindParentFolder(folder)) RemoveChild(current, folder);
    return folder;
  }
  // A file holds the folder's id: the file is lost, the folder takes the cell.
  RemoveChild(FindParentFolder(held), held);
  AddChild(m_unknownFolder, held);
  CPathEntry* folder =
      NewPathEntry(m_arena, attributes | kAttrFolder, name, kind, NextSequence(), id, parentId, 0, time1, time2);
  if (folder) *cell = folder;
  return folder;
}

CFileEntry* CStorage::CScanTask::MergeSameId(CFileEntry** cell, CFileEntry* entry) {
  CFileEntry* held = *cell;
  // Another name of a file already seen: a hard link, chained as its alias. A folder
  // keeps the cell.
  if (!held->AsPath()) ChainAfter(held, entry);
  return entry;
}

int32_t CStorage::CScanTask::OnRecordFound(const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh,
                                           uint32_t parentLow, uint32_t parentHigh, uint32_t sizeLow,
                                           uint32_t sizeHigh, uint32_t timeLow, uint32_t timeHigh,
                                           uint32_t attributes, int32_t deleted, int32_t progress) {
  const uint64_t id = Join(idLow, idHigh);
  uint64_t parentId = Join(parentLow, parentHigh);
  if (id == kNoEntryId && parentId == kNoEntryId) return m_running.load();
  m_progress.store(progress);
  if (deleted) attributes |= kAttrDeleted;
  const bool folder = (attributes & kAttrFolderMask) != 0;

  const wchar_t* interned = InternName(name);
  CFileEntry** cell = GetIdCell(id);
  if (!interned || !cell) return m_running.load();
  if (parentId == 0) parentId = m_rootId;
  const uint64_t size = Join(sizeLow, sizeHigh);

  CFileEntry* entry = nullptr;
  if (folder && *cell == m_unknownFolder) {
    // A folder without an id: its own entry, never "UnknownPath" renamed.
    entry = NewPathEntry(m_arena, attributes | kAttrFolder, interned, kind, NextSequence(), id, parentId, 0,
                         timeLow, timeHigh);
  } else if (folder) {
    if (*cell) {
      entry = FillPlaceholder(cell, interned, kind, id, parentId, size, timeLow, timeHigh, attributes);
    } else {
      entry = NewPathEntry(m_arena, attributes | kAttrFolder, interned, kind, NextSequence(), id, parentId, 0,
                           timeLow, timeHigh);
      if (entry) *cell = entry;
    }
  } else {
    if (id == m_rootId) return m_running.load();
    entry = NewFile(interned, kind, id, parentId, size, timeLow, timeHigh, attributes);
    if (entry) {
      // Counted once the entry exists: a record that adds nothing counts nothing.
      CountFile(entry, +1);
      if (*cell) {
        entry = MergeSameId(cell, entry);
      } else {
        *cell = entry;
      }
    }
  }
  if (!entry) return m_running.load();

  if (id != m_rootId) PlaceEntry(entry, ParentFolderFor(parentId));
  if (m_running.load() || !folder) QueuePending(entry);
  WaitWhilePaused();
  m_lastEntry.store(entry);
  return m_running.load();
}

int32_t CStorage::CScanTask::AddScannedEntry(const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh,
                                             uint32_t parentLow, uint32_t parentHigh, uint32_t sizeLow,
                                             uint32_t sizeHigh, uint32_t timeLow, uint32_t timeHigh,
                                             uint32_t attributes, int32_t deleted, int32_t progress) {
  const uint64_t id = Join(idLow, idHigh);
  uint64_t parentId = Join(parentLow, parentHigh);
  if (id == kNoEntryId && parentId == kNoEntryId) return m_running.load();
  m_progress.store(progress);
  if (deleted) attributes |= kAttrDeleted;
  const bool folder = (attributes & kAttrFolderMask) != 0;
  if (folder) attributes |= kAttrFolderMask;

  const wchar_t* interned = InternName(name);
  CFileEntry** cell = GetIdCell(id);
  if (!interned || !cell) return m_running.load();
  if (parentId == 0) parentId = m_rootId;
  const uint64_t size = Join(sizeLow, sizeHigh);
  const bool shortName = (kind & 3) == 2;

  CFileEntry* entry = nullptr;
  CFileEntry* held = *cell;
  if (folder && held == m_unknownFolder) {
    // A folder without an id: its own entry, never "UnknownPath" renamed.
    entry = NewPathEntry(m_arena, attributes, interned, kind, NextSequence(), id, parentId, 0, timeLow, timeHigh);
  } else if (folder) {
    if (held && held->parentId == parentId) {
      // The same folder under another name: a long name replaces a short one.
      if (!shortName && (held->kind & 3) == 2)
        RenameEntry(interned, held, kind, held->sequence, id, parentId, held->size, timeLow, timeHigh,
                    attributes);
      WaitWhilePaused();
      return m_running.load();
    }
    if (held) {
      entry = FillPlaceholder(cell, interned, kind, id, parentId, 0, timeLow, timeHigh, attributes);
    } else {
      entry = NewPathEntry(m_arena, attributes, interned, kind, NextSequence(), id, parentId, 0, timeLow, timeHigh);
      if (entry) *cell = entry;
    }
  } else if (!held) {
    entry = NewFile(interned, kind, id, parentId, size, timeLow, timeHigh, attributes);
    if (entry) {
      *cell = entry;
      if (interned[0]) CountFile(entry, +1);
    }
  } else if (held->name[0] || held->parentId != kNoEntryId) {
    if (held->parentId == parentId) {
      // Another name of the same file in the same folder: a long name replaces a
      // short one, the file is not counted twice.
      if (!shortName && (held->kind & 3) == 2) {
        const wchar_t* extension = ExtensionSource(interned);
        if (extension) {
          const bool indexed = held->sizeNode.IsLinked();
          if (indexed) UnindexEntry(held);
          // Counted by the difference only: a host reading the count meanwhile never
          // sees it dip.
          const bool wasFile = !held->IsFolder();
          const bool wasDeleted = wasFile && held->IsDeleted();
          RenameEntry(interned, held, kind, held->sequence, id, parentId, size, timeLow, timeHigh, attributes);
          SetExtensionView(held, extension);
          const bool isFile = !held->IsFolder();
          m_fileCount += int(isFile) - int(wasFile);
          m_deletedCount += int(isFile && held->IsDeleted()) - int(wasDeleted);
          if (indexed) QueuePending(held);
        }
      }
      WaitWhilePaused();
      return m_running.load();
    }
    CFileEntry* alias = NewFile(interned, kind, id, parentId, size, timeLow, timeHigh, attributes);
    if (alias) {
      if (interned[0]) CountFile(alias, +1);
      entry = MergeSameId(cell, alias);
    }
  } else {
    // A nameless orphan made from a data attribute gets its name and leaves "UnknownPath".
    const wchar_t* extension = ExtensionSource(interned);
    if (extension) {
      RenameEntry(interned, held, kind, held->sequence, id, parentId, held->runList.IsEmpty() ? size : held->size,
                  timeLow, timeHigh, attributes);
      SetExtensionView(held, extension);
      if (interned[0]) CountFile(held, +1);
      entry = held;
    }
  }
  if (!entry) return m_running.load();

  if (id != m_rootId) PlaceEntry(entry, ParentFolderFor(parentId));
  QueuePending(entry);
  WaitWhilePaused();
  m_lastEntry.store(entry);
  return m_running.load();
}

const wchar_t* CStorage::CScanTask::ExtensionSource(const wchar_t* name) {
  return LowerExtensionSource(
      name, [](void* task, const wchar_t* text) { return static_cast<CScanTask*>(task)->InternName(text); }, this);
}

void CStorage::CScanTask::QueueLink(uint64_t id, const wchar_t* target) {
  wchar_t* text = InternName(target);
  CFileEntry* entry = GetEntryById(id);
  if (!text || !entry) return;
  entry->linkTarget = text;
  m_linkQueue.Append(&entry->linkNode);
}

void CStorage::CScanTask::AttachTreeToVirtualRoot() {
  CFileEntry** cell = m_idMap.FindCell(m_rootId);
  CPathEntry* root = cell && *cell ? (*cell)->AsPath() : nullptr;
  if (root) {
    if (CPathEntry* current = FindParentFolder(root)) RemoveChild(current, root);
    AddChild(&m_virtualRoot, root);
  }
  AddChild(&m_virtualRoot, m_unknownFolder);
  m_virtualRoot.Recount(false);
}

void CStorage::CScanTask::NameOrphans(CPathEntry* folder, bool countNamedFiles) {
  int32_t pathNumber = 1;
  int32_t fileNumber = 1;
  for (CList* p = folder->childList.First(); p && !folder->childList.IsTail(p);) {
    CList* next = p->next;
    CFileEntry* entry = CFileEntry::FromChildNode(p);
    p = next;
    if (entry->name && entry->name[0]) continue;
    wchar_t text[32];
    if (CPathEntry* sub = entry->AsPath()) {
      if (sub->childList.IsEmpty()) {
        RemoveChild(folder, sub);
        continue;
      }
      std::swprintf(text, 32, L"UnknownPath%d", int(pathNumber++));
      if (const wchar_t* name = InternName(text)) SetEntryName(name, sub);
      continue;
    }
    std::swprintf(text, 32, L"UnknownFile%d", int(fileNumber++));
    const wchar_t* name = InternName(text);
    const wchar_t* extension = name ? ExtensionSource(name) : nullptr;
    if (!name || !extension) continue;
    SetEntryName(name, entry);
    SetExtensionView(entry, extension);
    if (countNamedFiles) {
      ++m_fileCount;
      if (entry->IsDeleted()) ++m_deletedCount;
    }
    QueuePending(entry);
  }
}

void CStorage::CScanTask::FinishWork() {
  m_running.store(0);
  StopIndexer();
  m_finished.store(1);
  NotifyChange();
}

// ---------------------------------------------------------------------------------
// Host operations

int32_t CStorage::CScanTask::StopWork() {
  m_running.store(0);
  WaitUntil([this] { return IsFinished(); });
  return 1;
}

bool CStorage::CScanTask::GetLastFileInformation(wchar_t* name, uint64_t* id, uint64_t* parentId) {
  CFileEntry* entry = m_lastEntry.load();
  if (!entry || !name || !id || !parentId) return false;
  ScanFileRecord record;
  FillScanFileRecord(entry, &record);
  std::memcpy(name, record.name, sizeof record.name);
  *id = entry->ownId;
  *parentId = entry->parentId;
  return true;
}

EnumContext* CStorage::CScanTask::OpenEnumContext() {
  if (AllocationShouldFail()) return nullptr;
  std::unique_ptr<EnumContext> context(new (std::nothrow) EnumContext);
  if (!context) return nullptr;
  context->handle = m_nextHandle++;
  m_contexts.push_back(std::move(context));
  return m_contexts.back().get();
}

EnumContext* CStorage::CScanTask::FindEnumContext(int32_t handle) {
  for (auto& context : m_contexts)
    if (context->handle == handle) return context.get();
  return nullptr;
}

bool CStorage::CScanTask::RemoveEnumContext(int32_t handle) {
  for (auto it = m_contexts.begin(); it != m_contexts.end(); ++it) {
    if ((*it)->handle == handle) {
      m_contexts.erase(it);
      return true;
    }
  }
  return false;
}

int32_t CStorage::CScanTask::Close() {
  StopIndexer();
  if (!m_contexts.empty()) return kResultBusy;
  if (m_closed) return kResultOk;
  m_closed = true;
  m_lastEntry.store(nullptr);
  m_names.Release();
  m_idMap.Clear();
  {
    CritSecLock hold(m_lock);
    for (CListGroup& list : m_lists) list.Reset();
    m_pending.Reset();
    m_batch.Reset();
    m_linkQueue.Reset();
    m_fileTypes.Release();
  }
  // The tree's entries go with the arena; the two folders the task owns forget them.
  m_virtualRoot.childList.Reset();
  m_unknownPath.childList.Reset();
  m_virtualRoot.ZeroTotals();
  m_unknownPath.ZeroTotals();
  m_arena.Release();
  if (m_progressBlock[0]) Core::ReleaseDirBuffer(reinterpret_cast<void*>(uintptr_t(m_progressBlock[0])));
  m_progressBlock[0] = 0;
  if (m_diskContext) Core::ReleaseCacheBuffer(m_diskContext);
  return kResultOk;
}

