// Intrusive lists of the result tree: node classes embedded in the entries, the plain
// doubly linked list with sentinels, and the two skip-list variants over it. No list
// owns its elements and linking never allocates; only skip-list index nodes do.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

class CEntryArena;
class CFileEntry;
class CPathEntry;

// Arena objects and their nodes are packed to 4 bytes: 32-bit x86 reads 64-bit fields
// at any 4-byte boundary, and 8-byte alignment cost every entry its padding.
#pragma pack(push, 4)

// Base of every object placed in the entry arena. The arena drops its blocks whole,
// so the destructor frees nothing.
class CFixedBuffer {
 public:
  virtual ~CFixedBuffer() = default;
};

class CList {
 public:
  CList() = default;
  CList(const CList&) = delete;
  CList& operator=(const CList&) = delete;
  virtual ~CList() = default;
  // Negative, 0 or positive as this node sorts before, with or after other.
  virtual int Compare(const CList& other) const = 0;

  CList* Prev() const { return prev; }
  bool IsLinked() const { return prev != nullptr || next != nullptr; }

  CList* prev = nullptr;
  CList* next = nullptr;
};

class CListHeader : public CList {
 public:
  int Compare(const CList&) const override { return -1; }
};

class CListTail : public CList {
 public:
  int Compare(const CList&) const override { return 1; }
};

template <class T>
class CListData : public CList {
 public:
  CListData() = default;
  explicit CListData(T v) : value(v) {}
  int Compare(const CList& other) const override {
    const T o = static_cast<const CListData&>(other).value;
    return value < o ? -1 : (value == o ? 0 : 1);
  }
  T value{};
};

// A view of a name: not owned, not necessarily terminated.
class CListString : public CList {
 public:
  CListString() = default;
  CListString(const wchar_t* t, int32_t len) : text(t), length(len) {}
  int Compare(const CList& other) const override;
  void Set(const wchar_t* t, int32_t len) { text = t; length = len; }

  const wchar_t* text = nullptr;
  int32_t length = 0;
};

// Joins the node's neighbours and clears its links; a node that is not linked is
// left as it is.
CList* UnlinkNode(CList* node);

// Links node directly after anchor (unlinking it from wherever it was first).
void LinkAfter(CList* anchor, CList* node);

using ListComparator = int (*)(const CList* a, const CList* b);

class CListGroup {
 public:
  CListGroup();
  CListGroup(const CListGroup&) = delete;
  CListGroup& operator=(const CListGroup&) = delete;
  virtual ~CListGroup();

  virtual void Clear();
  virtual void Reset();
  virtual CList* Append(CList* node);
  virtual CList* LowerBound(const CList& key);
  virtual CList* Unlink(CList* node);
  virtual CList* First() const;
  virtual CList* Last() const;
  virtual bool IsTail(const CList* p) const;
  virtual bool IsHeader(const CList* p) const;
  virtual bool IsEmpty() const;
  virtual bool IsAfter(const CList* a, const CList* b) const;

  // The owner installs its tie-breakers; the list keeps its own copy.
  void SetComparators(const ListComparator* list, int32_t count);

  CListHeader header;
  CListTail tail;
  int32_t comparatorCount = 0;
  std::unique_ptr<ListComparator[]> comparators;
};

// Three-word index record of the skip lists: {element, right, down}.
struct CNode {
  CList* element;
  CNode* right;
  CNode* down;
};
static_assert(sizeof(void*) != 4 || sizeof(CNode) == 12, "index node is three words");

// Skip list over a CListGroup. Insert, Find and Remove take the slots of Append,
// LowerBound and Unlink, so a caller holding the plain list type sorts too.
class CListGroupSortBase : public CListGroup {
 public:
  ~CListGroupSortBase() override;

  void Clear() override;
  // Also forgets the index, which would otherwise point at nodes no longer listed.
  void Reset() override;
  CList* Append(CList* node) override { return Insert(node); }
  CList* LowerBound(const CList& key) override { return Find(key); }
  CList* Unlink(CList* node) override { return Remove(node); }
  bool IsAfter(const CList* a, const CList* b) const override;
  virtual CNode* NewIndexNode(CList* element) = 0;
  virtual void FreeIndexNode(CNode* node) = 0;
  // Lists that stay short keep no index while they hold fewer elements than this
  // (0: always indexed); the index is built once they reach it.
  virtual uint32_t LinearLimit() const { return 0; }

  // Returns the element, or null when no index node could be allocated (the element
  // is then left where it was).
  CList* Insert(CList* element);
  // An element equal to the key, else the first one after it, else the tail.
  CList* Find(const CList& key);
  CList* Remove(CList* element);

  CNode* indexHead = nullptr;

 protected:
  // Derived destructors call this while their index-node operations still exist.
  void ReleaseIndex();

 private:
  bool EnsureHead();
  void RemoveByIdentity(CList* element);
  bool Unindexed() const { return !indexHead && LinearLimit() != 0; }
  CList* LinearInsert(CList* element);
  // Builds the index over the elements already listed; false (no index) when memory ran out.
  bool BuildIndex();
};

class CListGroupSort : public CListGroupSortBase {
 public:
  ~CListGroupSort() override;
  CNode* NewIndexNode(CList* element) override;
  void FreeIndexNode(CNode* node) override;
};

// Index node of a list that lives in the entry arena.
class CFixedNode : public CFixedBuffer, public CNode {
 public:
  explicit CFixedNode(CList* e) : CNode{e, nullptr, nullptr} {}
};

// Sorted list placed inside an arena object; its index nodes come from that arena.
class CDataList : public CListGroupSortBase, public CFixedBuffer {
 public:
  explicit CDataList(CEntryArena* a = nullptr) : arena(a) {}
  ~CDataList() override;
  CNode* NewIndexNode(CList* element) override;
  void FreeIndexNode(CNode* node) override;
  // Most files have one or two runs: an index would cost more than the runs themselves.
  uint32_t LinearLimit() const override { return 8; }

  CEntryArena* arena;
};

// One data-run extent of a file: keyed by its first VCN in the entry's run list.
class CDataEntry : public CFixedBuffer {
 public:
  CDataEntry() = default;
  CDataEntry(uint64_t firstVcn, uint64_t record, uint64_t bytes)
      : node(firstVcn), recordNumber(record), size(bytes) {}

  static CDataEntry* FromNode(CList* n);
  static const CDataEntry* FromNode(const CList* n);

  CListData<uint64_t> node;
  uint64_t recordNumber = 0;  // MFT record that holds the attribute
  uint64_t size = 0;          // byte size of the extent
};

#pragma pack(pop)

// Scanner id -> entry: a skip list of pages of 4096 cells, then a direct index.
class CIdMap {
 public:
  static constexpr uint64_t kPageMask = ~uint64_t(0xFFF);
  static constexpr uint32_t kCellsPerPage = 4096;

  struct Page : CListData<uint64_t> {
    CFileEntry* cells[kCellsPerPage];
  };

  CIdMap() = default;
  CIdMap(const CIdMap&) = delete;
  CIdMap& operator=(const CIdMap&) = delete;
  ~CIdMap();

  // The id's cell, its page made (zeroed) when absent; null when memory ran out.
  CFileEntry** Cell(uint64_t id);
  // The id's cell when its page exists, else null.
  CFileEntry** FindCell(uint64_t id) const;
  // Frees every page.
  void Clear();
  uint32_t PageCount() const { return m_pages; }

 private:
  mutable CListGroupSort m_list;
  uint32_t m_pages = 0;
};

// First child node of the directory whose name equals text exactly (case and length),
// else null. A linear walk, meant for short lists.
CList* FindChildByName(CPathEntry* directory, const wchar_t* text);
