// The result tree of a scan: one arena object per found file or folder, threaded into
// several lists at once through nodes embedded in the entry, rooted in a per-task
// virtual root. Folders keep running totals that a recount makes exact.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "BoundaryRecords.h"
#include "Lists.h"

constexpr uint64_t kNoEntryId = ~uint64_t(0);

// Bump allocator in 4 MB blocks, newest block first. Nothing is freed singly; the
// blocks go together when the owning task is closed. Each task has its own arena, and
// the arena takes a lock around the bump so that any of the task's threads may use it.
class CEntryArena {
 public:
  static constexpr uint32_t kBlockSpace = 0x400000;
  // A block serves a request while used + n stays at most this.
  static constexpr uint32_t kBlockLimit = 0x3FFFFF;

  using BlockAllocFn = void* (*)(size_t bytes);
  using BlockFreeFn = void (*)(void* block);

  // Tests pass their own block allocator to make allocation fail on purpose.
  explicit CEntryArena(BlockAllocFn alloc = nullptr, BlockFreeFn release = nullptr);
  CEntryArena(const CEntryArena&) = delete;
  CEntryArena& operator=(const CEntryArena&) = delete;
  ~CEntryArena();

  // n bytes, 4-byte aligned (the arena objects are packed to 4); null when n cannot
  // fit a block or memory ran out.
  void* Alloc(uint32_t n);
  // Drops every block; all objects placed here are gone.
  void Release();

  uint32_t BlockCount() const;
  uint32_t NewestUsed() const;

 private:
  struct Block {
    Block* next;  // older
    Block* prev;  // newer
    uint32_t used;
    uint32_t reserved;  // keeps the space 8-byte aligned
  };
  static char* SpaceOf(Block* b) { return reinterpret_cast<char*>(b + 1); }

  BlockAllocFn m_alloc;
  BlockFreeFn m_free;
  Block* m_newest = nullptr;
  uint32_t m_blocks = 0;
  mutable CRITICAL_SECTION m_lock;
};

void* ArenaAlloc(CEntryArena& arena, uint32_t n);

template <class T, class... Args>
T* ArenaNew(CEntryArena& arena, Args&&... args) {
  void* memory = arena.Alloc(uint32_t(sizeof(T)));
  return memory ? new (memory) T(std::forward<Args>(args)...) : nullptr;
}

class CPathEntry;

// Packed as the nodes are (Lists.h): no padding before the 64-bit fields.
#pragma pack(push, 4)

class CFileEntry : public CFixedBuffer {
 public:
  CFileEntry(CEntryArena* arena, uint32_t attributes, const wchar_t* name, uint32_t kind,
             uint64_t sequence, uint64_t ownId, uint64_t parentId, uint64_t size,
             uint32_t time1, uint32_t time2);
  CFileEntry(const CFileEntry&) = delete;
  CFileEntry& operator=(const CFileEntry&) = delete;
  ~CFileEntry() override;

  virtual void NormalizeLinks();
  virtual void ClearRunList();

  bool IsFolder() const { return (attributes & kAttrFolderMask) != 0; }
  bool IsDeleted() const { return (attributes & kAttrDeleted) != 0; }
  uint64_t Time() const { return uint64_t(time2) << 32 | time1; }
  // The folder object behind this entry, or null for a file entry. A file entry can
  // carry folder bits (a link to a folder) and still has no child list.
  CPathEntry* AsPath();
  const CPathEntry* AsPath() const;

  static CFileEntry* FromChildNode(CList* n);
  static CFileEntry* FromNameNode(CList* n);
  static CFileEntry* FromExtensionNode(CList* n);
  static CFileEntry* FromLinkChainNode(CList* n);
  static CFileEntry* FromSizeNode(CList* n);
  static CFileEntry* FromTimeNode(CList* n);
  static CFileEntry* FromSpareNode(CList* n);
  static CFileEntry* FromLinkNode(CList* n);

  const wchar_t* name;
  uint32_t attributes;
  uint64_t sequence;
  uint64_t ownId;
  uint64_t parentId;
  uint64_t size;
  uint32_t time1;
  uint32_t time2;
  uint32_t one = 1;
  uint32_t kind;
  CListString childNode;
  CListString nameNode;
  CListString extensionNode;
  CListString linkChainNode;
  CListData<uint64_t> sizeNode;
  CListData<uint64_t> timeNode;
  CListData<uint32_t> spareNode;
  CDataList runList;
  CListData<uint32_t> linkNode;
  const wchar_t* linkTarget = nullptr;
  CFileEntry* baseEntry = nullptr;

 protected:
  enum : uint8_t { kFileObject = 0, kPathObject = 1 };
  uint8_t m_object = kFileObject;
};

// A folder's child list. It knows its folder, so that the folder holding an entry can
// be found from the entry's child node.
class CChildList : public CListGroup {
 public:
  explicit CChildList(CPathEntry* o) : owner(o) {}
  CPathEntry* const owner;
};

class CPathEntry : public CFileEntry {
 public:
  CPathEntry(CEntryArena* arena, uint32_t attributes, const wchar_t* name, uint32_t kind,
             uint64_t sequence, uint64_t ownId, uint64_t parentId, uint64_t size,
             uint32_t time1, uint32_t time2);
  ~CPathEntry() override;

  void NormalizeLinks() override;
  void ClearRunList() override;
  virtual void Recount(bool deleted);
  virtual CFileEntry* GetBaseEntry();

  bool IsCounted() const { return counted.load(std::memory_order_acquire) != 0; }
  void ZeroTotals();

  uint32_t childCount = 0;
  uint32_t deletedCount = 0;
  uint32_t fileCount = 0;
  uint64_t deletedSize = 0;
  uint64_t totalSize = 0;
  CChildList childList;
  // Set (release) after the totals are written; a host may wait for it.
  std::atomic<uint32_t> counted{0};
  // Non-zero while the folder is being recounted: meeting it again means a cycle.
  uint32_t recountMark = 0;
};

class CVirtualRoot : public CPathEntry {
 public:
  explicit CVirtualRoot(CEntryArena* arena = nullptr);
  void Recount(bool deleted) override;
};

#pragma pack(pop)

// Entry construction in caller-given memory (from the arena): all nodes unlinked, the
// extension view from the name's last ".", base entry null.
CFileEntry* InitFileEntry(CEntryArena& arena, uint32_t attributes, const wchar_t* name,
                          void* memory, uint32_t kind, uint64_t sequence, uint64_t ownId,
                          uint64_t parentId, uint64_t size, uint32_t time1, uint32_t time2);
CPathEntry* InitPathEntry(CEntryArena& arena, uint32_t attributes, const wchar_t* name,
                          void* memory, uint32_t kind, uint64_t sequence, uint64_t ownId,
                          uint64_t parentId, uint64_t size, uint32_t time1, uint32_t time2);
// The same, taking the memory from the arena; null when it is exhausted.
CFileEntry* NewFileEntry(CEntryArena& arena, uint32_t attributes, const wchar_t* name,
                         uint32_t kind, uint64_t sequence, uint64_t ownId, uint64_t parentId,
                         uint64_t size, uint32_t time1, uint32_t time2);
CPathEntry* NewPathEntry(CEntryArena& arena, uint32_t attributes, const wchar_t* name,
                         uint32_t kind, uint64_t sequence, uint64_t ownId, uint64_t parentId,
                         uint64_t size, uint32_t time1, uint32_t time2);

// New values into an existing entry; every view and key is re-pointed, nothing is
// relinked. The kind keeps the entry's bits above the two name-kind bits.
void RenameEntry(const wchar_t* name, CFileEntry* entry, uint32_t kind, uint64_t sequence,
                 uint64_t ownId, uint64_t parentId, uint64_t size, uint32_t time1,
                 uint32_t time2, uint32_t attributes);
void SetEntryName(const wchar_t* name, CFileEntry* entry);
// Points the extension view at the text after the last "." of text (a second copy of
// the name whose extension is lower-case); empty when there is no ".".
void SetExtensionView(CFileEntry* entry, const wchar_t* text);
// Lower-cases the part after the last "." in place.
void LowerCaseExtension(wchar_t* text);
// The text that an extension view of this name can be taken from: the name itself when
// its extension has nothing to lower-case (plain ASCII), else a lower-cased copy of the
// extension with its "." made by copy (null when that fails). Saves a copy of most names.
const wchar_t* LowerExtensionSource(const wchar_t* name, wchar_t* (*copy)(void*, const wchar_t*), void* owner);

// Folder bookkeeping. AddChild refuses a folder as its own child (the caller treats
// such an entry as an orphan); RemoveChild refuses an entry that is in no list.
bool AddChild(CPathEntry* folder, CFileEntry* entry);
bool RemoveChild(CPathEntry* folder, CFileEntry* entry);

// The size the host sees: that of the last entry of the base-entry chain, from its first
// data run when it has any. A chain that loops back gives the entry's own size.
uint64_t GetEntrySize(const CFileEntry* entry);

// Fills a page record; the global id and the task id are left for the caller. Names
// longer than the record holds are cut, never in the middle of a surrogate pair.
void FillScanFileRecord(const CFileEntry* entry, ScanFileRecord* record);

// Link chains (entries that stand for one id). The first member is the one found by
// walking back; a chain that loops is cut at the entry asked about.
CFileEntry* FirstInLinkChain(CFileEntry* entry);
void ChainAfter(CFileEntry* existing, CFileEntry* alias);
void ChainAppend(CFileEntry* member, CFileEntry* alias);

// The folder whose child list holds the entry, or null.
CPathEntry* FindParentFolder(CFileEntry* entry);
// True when candidate is folder itself or one of its ancestors (also when the ancestor
// walk loops): moving candidate under folder would make a cycle.
bool IsSameOrAncestor(const CFileEntry* candidate, CPathEntry* folder);

// Data runs, ordered by first VCN.
bool AddDataRun(CFileEntry* entry, CDataEntry* run);

// Tie-breakers of the extension list: by the entry's name, then by its time stamp.
int CompareExtensionNodeNames(const CList* a, const CList* b);
int CompareExtensionNodeTimes(const CList* a, const CList* b);
