// Parts of the scan-task base that stand on their own: the name store, the file-type
// table, the enumeration context record and the callbacks handed to the core.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "BoundaryRecords.h"
#include "Lists.h"

// Names in blocks of 0x400000 wide characters, newest first, never freed singly.
class CNameStore {
 public:
  static constexpr uint32_t kBlockChars = 0x400000;

  CNameStore();
  CNameStore(const CNameStore&) = delete;
  CNameStore& operator=(const CNameStore&) = delete;
  ~CNameStore();

  // A copy with its terminator; null text interns "". Null when memory ran out or the
  // name cannot fit a block. The copy may be changed in place (extension copies).
  wchar_t* Intern(const wchar_t* text);
  void Release();
  uint32_t BlockCount() const;

 private:
  struct Block {
    Block* next;
    uint32_t used;
    wchar_t* chars() { return reinterpret_cast<wchar_t*>(this + 1); }
  };
  Block* m_newest = nullptr;
  uint32_t m_blocks = 0;
  mutable CRITICAL_SECTION m_lock;
};

// Per-extension counts of the files a task found, in 256 buckets.
class CFileTypeTable {
 public:
  static constexpr uint32_t kBuckets = 256;
  static constexpr uint32_t kMaxExtension = 255;

  CFileTypeTable() = default;
  CFileTypeTable(const CFileTypeTable&) = delete;
  CFileTypeTable& operator=(const CFileTypeTable&) = delete;
  ~CFileTypeTable() { Release(); }

  static uint8_t BucketOf(const wchar_t* extension, uint32_t length);
  // Counts one file (extension as the entry's view holds it); false when no record
  // could be made for a new extension.
  bool Add(const wchar_t* extension, uint32_t length, uint64_t size);
  // Takes one file back (an entry removed from the tree).
  void Remove(const wchar_t* extension, uint32_t length, uint64_t size);
  uint32_t Count() const { return m_count; }
  // Copies records start .. start+count-1 in bucket order; the number copied.
  uint32_t Copy(uint32_t start, uint32_t count, FileTypeRecord* out) const;
  // The record of an extension, or null.
  const FileTypeRecord* Find(const wchar_t* extension, uint32_t length) const;
  void Release();

 private:
  struct Node {
    Node* next;
    FileTypeRecord record;
  };
  Node* FindNode(const wchar_t* extension, uint32_t length, uint8_t bucket) const;
  Node* m_heads[kBuckets] = {};
  uint32_t m_count = 0;
};

// One open enumeration of a task (handle ids from 1). The filter text is copied: the
// host's pointer need not outlive the first call.
struct EnumContext {
  int32_t handle = 0;
  int32_t listKind = 0;
  bool backward = false;
  CListGroup* list = nullptr;  // the global list or the folder's child list walked
  CList* cursor = nullptr;
  int32_t filterKind = 0;
  std::wstring filterText;
  CListData<uint64_t> low;
  CListData<uint64_t> high;
};

// Callbacks handed to the core's scan routines; the task comes first.
int __cdecl TaskRecordCallback(void* task, const wchar_t* name, uint32_t kind, uint32_t idLow, uint32_t idHigh,
                               uint32_t parentLow, uint32_t parentHigh, uint32_t sizeLow, uint32_t sizeHigh,
                               uint32_t timeLow, uint32_t timeHigh, uint32_t attributes, int32_t deleted,
                               int32_t progress);
void __cdecl TaskFinishCallback(void* task, int32_t value);
