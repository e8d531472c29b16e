// The zip skin reader: stored and deflated entries of a zip archive held in a
// file, behind a file handle or in memory. It reads the directory entry by entry
// and inflates in 16 KB steps; it never loads the whole archive.
#pragma once

#include <windows.h>

namespace SkinUI {

struct SkinZipEntry {
    int index;
    wchar_t name[260];
    DWORD attributes;
    FILETIME accessTime;
    FILETIME creationTime;
    FILETIME modificationTime;
    DWORD compressedSize;
    DWORD uncompressedSize;
};

class CSkinZipReader;
struct SkinZipHandle {
    DWORD kind;   // always 1 for a zip handle
    CSkinZipReader* reader;
};
typedef SkinZipHandle* HSKINZIP;

class CSkinZip {
public:
    // Sources and targets.
    enum : DWORD { kHandle = 1, kFileName = 2, kMemory = 3 };

    // Status words.
    enum : DWORD {
        kOk = 0,
        kDuplicateFailed = 0x100,
        kNotOpened = 0x200,
        kWriteFailed = 0x400,
        kNotFound = 0x500,
        kMore = 0x600,
        kBadLocalHeader = 0x700,
        kReadFailed = 0x800,
        kBadArgument = 0x10000,
        kNotZipHandle = 0x80000,
        kAlreadyOpen = 0x1000000,
        kNotDiskFile = 0x2000000,
        kMemoryUnzipFailed = 0x5000000,
        kDirectoryIoError = 0xFFFFFFFFu,   // -1
        kNotZip = static_cast<DWORD>(-103),
    };

    // kind 1: `source` is a HANDLE of a disk file (duplicated); kind 2: a wide file
    // name; kind 3: memory of `size` bytes, borrowed until Close.
    static HSKINZIP Open(const void* source, DWORD size, DWORD kind);
    static DWORD FindItem(HSKINZIP zip, LPCWSTR name, bool ignoreCase, int* index, SkinZipEntry* entry);
    // Entry record by index; -1 gives the summary (index = number of entries).
    static DWORD GetItem(HSKINZIP zip, int index, SkinZipEntry* entry);
    // kind 3: memory of `size` bytes (0x600 while data was delivered, 0 at the end);
    // kind 2: a wide file name to create; kind 1: an open file handle.
    static DWORD UnzipItem(HSKINZIP zip, int index, void* target, DWORD size, DWORD kind);
    static DWORD Close(HSKINZIP zip);
    static DWORD GetLastError();
};

}  // namespace SkinUI
