// The 7z skin reader: decodes every item of the archive once when it is opened and
// then serves items from memory.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "7zTypes.h"

namespace SkinUI {

// Seekable in-memory input handed to the 7z decoder. The two operations come
// first: the decoder calls them through this pair.
struct CMemInStream {
    ISeekInStream vt;
    unsigned char* data;   // own heap copy
    UInt32 size;
    UInt32 position;

    CMemInStream();
    ~CMemInStream();
    CMemInStream(const CMemInStream&) = delete;
    CMemInStream& operator=(const CMemInStream&) = delete;

    // Takes a copy of the bytes; false when it could not be made.
    bool Assign(const void* bytes, size_t count);
    void Clear();

    // Result 0; *size in: wanted, out: delivered (0 at or past the end).
    static SRes Read(ISeekInStreamPtr stream, void* buffer, size_t* size);
    // Result 0 with the new position in *offset; 87 for an unknown origin or a
    // position outside 0..size (nothing changes then).
    static SRes Seek(ISeekInStreamPtr stream, Int64* offset, ESzSeek origin);
};

struct SkinArchiveItem;
struct SkinArchive7zTable;
typedef SkinArchive7zTable* HSKINARCHIVE7Z;

class CSkinArchive7z {
public:
    enum : DWORD { kOk = 0, kBadArgument = 0x10000 };

    // Null when the bytes are not an archive the decoder accepts.
    static HSKINARCHIVE7Z OpenFromMemory(const void* data, size_t size);
    // Null when the file cannot be opened or is not an archive the decoder accepts.
    static HSKINARCHIVE7Z OpenFromFile(LPCWSTR path);
    // Matches without regard to case; "/" and "\" count as the same separator.
    static DWORD FindItem(HSKINARCHIVE7Z archive, LPCWSTR name, int* index, UInt64* size);
    // Copies the item's whole data; the buffer must hold the size FindItem gave.
    static DWORD CopyItem(HSKINARCHIVE7Z archive, int index, void* buffer);
    static DWORD Close(HSKINARCHIVE7Z archive);

    // Rows kept by the open (items that decoded), and the row at a position.
    static int GetItemCount(HSKINARCHIVE7Z archive);
    static LPCWSTR GetItemName(HSKINARCHIVE7Z archive, int row);
};

}  // namespace SkinUI
