// Helpers of the enumerations and queries of a scan task that other parts of the
// library use too: the tree-path walk, the child lookup by name alone, and the bounds
// of the texts the queries write.
#pragma once
#include <cstddef>
#include <cstdint>

#include "Interface.h"

// List kind of an enumeration context that walks one folder's children (the global
// lists are 0-3).
constexpr int32_t kFolderListKind = -1;

// Characters QueryFileFullPath writes at most, terminator included.
constexpr size_t kMaxFullPath = 1024;

// The folder that holds the children of an entry: the first folder member of its link
// chain (aliases of one folder share that member's child list once the tree is
// recounted). Null when no member of the chain can hold children.
CPathEntry* ChildFolderOf(CFileEntry* entry);

// Walks a tree path (":/Root:6/Photos:1A/", ids external and hexadecimal) from the
// task's virtual root, waiting for each folder's totals. 0 with the folder, -87 for a
// path that does not start with '/' or ':', -2 when a part names no child folder. A
// part without ":id" names the first child folder of that name. Recovery, which runs
// after the scan, does not wait (a folder the recount never reached stays uncounted).
int32_t ResolveTreePath(CStorage::CScanTask& task, const wchar_t* path, CPathEntry** folder,
                        bool waitForCounts = true);

// Hexadecimal as "%I64X" reads it: optional blanks and "0x", digits up to the first
// other character, wrapping like the runtime does. False when there is no digit.
bool ParseHexId(const wchar_t* text, size_t length, uint64_t* value);

// The child of folder (or of another folder member of its link chain) named by the
// first length characters of name, whatever its id: a live entry before a deleted one,
// an exact name before one that differs only in case (NTFS looks names up without
// case). "." is the folder itself, ".." its parent (the volume root's is the root).
// Null when there is none.
CFileEntry* FindChildEntryWithoutID(CPathEntry* folder, const wchar_t* name, size_t length);
CFileEntry* FindChildEntryWithoutID(CPathEntry* folder, const wchar_t* name);
