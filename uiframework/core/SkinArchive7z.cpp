// The 7z skin reader over the LZMA SDK: every item decoded once at open, then served
// from memory by name.
#include "SkinArchive7z.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "7z.h"
#include "7zCrc.h"
#include "7zFile.h"
#include "UIUtils.h"

namespace SkinUI {

struct SkinArchiveItem {
    wchar_t* name;         // as the archive stores it
    int nameLength;        // UTF-16 units with the terminator
    wchar_t* lookupName;   // the name with every "/" turned into "\"
    UInt32 index;          // position in the archive's file list
    unsigned char* data;   // own copy of the decoded bytes
    UInt64 size;
};

struct SkinArchive7zTable {
    CUIPtrArray rows;
};

namespace {

const size_t kLookBufferSize = 1 << 18;

void* HeapAlloc7z(ISzAllocPtr, size_t size) { return size ? std::malloc(size) : nullptr; }
void HeapFree7z(ISzAllocPtr, void* address) { std::free(address); }
const ISzAlloc kHeap7z = {HeapAlloc7z, HeapFree7z};

void EnsureCrcTable()
{
    static bool made = false;
    if (!made) {
        CrcGenerateTable();
        made = true;
    }
}

void FreeRow(SkinArchiveItem* row)
{
    if (!row) return;
    std::free(row->name);
    std::free(row->lookupName);
    std::free(row->data);
    std::free(row);
}

void FreeTable(SkinArchive7zTable* table)
{
    if (!table) return;
    for (int i = 0; i < table->rows.GetSize(); ++i) {
        FreeRow(static_cast<SkinArchiveItem*>(table->rows.ItemAt(i)));
    }
    delete table;
}

void NormaliseSeparators(wchar_t* text)
{
    for (; *text; ++text) {
        if (*text == L'/') *text = L'\\';
    }
}

// Decodes every file of an opened archive into rows. An item that fails to
// decode ends the walk; the rows before it stay.
void DecodeAll(const CSzArEx& db, ILookInStreamPtr look, SkinArchive7zTable& table)
{
    UInt32 blockIndex = 0xFFFFFFFF;
    Byte* outBuffer = nullptr;
    size_t outBufferSize = 0;
    for (UInt32 i = 0; i < db.NumFiles; ++i) {
        if (SzArEx_IsDir(&db, i)) continue;
        const size_t units = SzArEx_GetFileNameUtf16(&db, i, nullptr);
        if (units == 0 || units > 0x8000) break;
        SkinArchiveItem* row = static_cast<SkinArchiveItem*>(std::calloc(1, sizeof(SkinArchiveItem)));
        if (!row) break;
        row->name = static_cast<wchar_t*>(std::calloc(units, sizeof(wchar_t)));
        row->lookupName = static_cast<wchar_t*>(std::calloc(units, sizeof(wchar_t)));
        if (!row->name || !row->lookupName) { FreeRow(row); break; }
        SzArEx_GetFileNameUtf16(&db, i, reinterpret_cast<UInt16*>(row->name));
        row->name[units - 1] = L'\0';
        std::memcpy(row->lookupName, row->name, units * sizeof(wchar_t));
        NormaliseSeparators(row->lookupName);
        row->nameLength = static_cast<int>(wcslen(row->name)) + 1;
        row->index = i;

        size_t offset = 0;
        size_t processed = 0;
        const SRes res = SzArEx_Extract(&db, look, i, &blockIndex, &outBuffer, &outBufferSize, &offset,
                                        &processed, &kHeap7z, &kHeap7z);
        if (res != SZ_OK || offset > outBufferSize || processed > outBufferSize - offset) {
            FreeRow(row);
            break;
        }
        if (processed > 0) {
            row->data = static_cast<unsigned char*>(std::malloc(processed));
            if (!row->data) { FreeRow(row); break; }
            std::memcpy(row->data, outBuffer + offset, processed);
        }
        row->size = processed;
        if (!table.rows.Add(row)) { FreeRow(row); break; }
    }
    std::free(outBuffer);
}

// Opens the archive over `stream` and builds the table; null when the decoder
// rejects the archive.
HSKINARCHIVE7Z OpenOverStream(ISeekInStreamPtr stream)
{
    EnsureCrcTable();
    CLookToRead2 look;
    LookToRead2_CreateVTable(&look, False);
    look.buf = static_cast<Byte*>(std::malloc(kLookBufferSize));
    if (!look.buf) return nullptr;
    look.bufSize = kLookBufferSize;
    look.realStream = stream;
    LookToRead2_INIT(&look);

    CSzArEx db;
    SzArEx_Init(&db);
    HSKINARCHIVE7Z table = nullptr;
    if (SzArEx_Open(&db, &look.vt, &kHeap7z, &kHeap7z) == SZ_OK) {
        table = new SkinArchive7zTable;
        DecodeAll(db, &look.vt, *table);
    }
    SzArEx_Free(&db, &kHeap7z);
    std::free(look.buf);
    return table;
}

}  // namespace

// ---------------------------------------------------------------- CMemInStream

CMemInStream::CMemInStream() : data(nullptr), size(0), position(0)
{
    vt.Read = &CMemInStream::Read;
    vt.Seek = &CMemInStream::Seek;
}

CMemInStream::~CMemInStream() { Clear(); }

bool CMemInStream::Assign(const void* bytes, size_t count)
{
    Clear();
    if (count > 0xFFFFFFFFu) return false;
    if (count == 0) return true;
    data = static_cast<unsigned char*>(std::malloc(count));
    if (!data) return false;
    std::memcpy(data, bytes, count);
    size = static_cast<UInt32>(count);
    return true;
}

void CMemInStream::Clear()
{
    std::free(data);
    data = nullptr;
    size = position = 0;
}

SRes CMemInStream::Read(ISeekInStreamPtr stream, void* buffer, size_t* count)
{
    CMemInStream* self = reinterpret_cast<CMemInStream*>(const_cast<ISeekInStream*>(stream));
    size_t wanted = *count;
    // A position at or past the end delivers nothing (never a wrapped remainder).
    const size_t left = self->position < self->size ? self->size - self->position : 0;
    if (wanted > left) wanted = left;
    if (wanted > 0) std::memcpy(buffer, self->data + self->position, wanted);
    self->position += static_cast<UInt32>(wanted);
    *count = wanted;
    return SZ_OK;
}

SRes CMemInStream::Seek(ISeekInStreamPtr stream, Int64* offset, ESzSeek origin)
{
    CMemInStream* self = reinterpret_cast<CMemInStream*>(const_cast<ISeekInStream*>(stream));
    Int64 base;
    switch (origin) {
    case SZ_SEEK_SET: base = 0; break;
    case SZ_SEEK_CUR: base = self->position; break;
    case SZ_SEEK_END: base = self->size; break;
    default: return 87;
    }
    // Offsets are small here; guard the sum anyway before checking the range.
    if (*offset > INT64_C(0x100000000) || *offset < -INT64_C(0x100000000)) return 87;
    const Int64 target = base + *offset;
    if (target < 0 || target > static_cast<Int64>(self->size)) return 87;
    self->position = static_cast<UInt32>(target);
    *offset = target;
    return SZ_OK;
}

// ---------------------------------------------------------------- CSkinArchive7z

HSKINARCHIVE7Z CSkinArchive7z::OpenFromMemory(const void* data, size_t size)
{
    if (!data && size != 0) return nullptr;
    CMemInStream stream;
    if (!stream.Assign(data, size)) return nullptr;
    return OpenOverStream(&stream.vt);
}

HSKINARCHIVE7Z CSkinArchive7z::OpenFromFile(LPCWSTR path)
{
    if (!path) return nullptr;
    CFileInStream stream;
    FileInStream_CreateVTable(&stream);
    File_Construct(&stream.file);
    if (InFile_OpenW(&stream.file, path) != 0) return nullptr;
    HSKINARCHIVE7Z table = OpenOverStream(&stream.vt);
    File_Close(&stream.file);
    return table;
}

DWORD CSkinArchive7z::FindItem(HSKINARCHIVE7Z archive, LPCWSTR name, int* index, UInt64* size)
{
    if (!archive || !name) return kBadArgument;
    const size_t length = wcslen(name);
    if (length >= 0x8000) return kBadArgument;
    wchar_t* wanted = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (!wanted) return kBadArgument;
    std::memcpy(wanted, name, (length + 1) * sizeof(wchar_t));
    NormaliseSeparators(wanted);
    DWORD result = kBadArgument;
    for (int i = 0; i < archive->rows.GetSize(); ++i) {
        const SkinArchiveItem* row = static_cast<const SkinArchiveItem*>(archive->rows.ItemAt(i));
        if (row->nameLength != static_cast<int>(length) + 1) continue;
        if (lstrcmpiW(row->lookupName, wanted) != 0) continue;
        if (index) *index = static_cast<int>(row->index);
        if (size) *size = row->size;
        result = kOk;
        break;
    }
    std::free(wanted);
    return result;
}

DWORD CSkinArchive7z::CopyItem(HSKINARCHIVE7Z archive, int index, void* buffer)
{
    if (!archive) return kBadArgument;
    for (int i = 0; i < archive->rows.GetSize(); ++i) {
        const SkinArchiveItem* row = static_cast<const SkinArchiveItem*>(archive->rows.ItemAt(i));
        if (static_cast<int>(row->index) != index) continue;
        if (row->size > 0) {
            if (!buffer) return kBadArgument;
            std::memcpy(buffer, row->data, static_cast<size_t>(row->size));
        }
        return kOk;
    }
    return kBadArgument;
}

DWORD CSkinArchive7z::Close(HSKINARCHIVE7Z archive)
{
    if (!archive) return kBadArgument;
    FreeTable(archive);
    return kOk;
}

int CSkinArchive7z::GetItemCount(HSKINARCHIVE7Z archive) { return archive ? archive->rows.GetSize() : 0; }

LPCWSTR CSkinArchive7z::GetItemName(HSKINARCHIVE7Z archive, int row)
{
    if (!archive) return nullptr;
    const SkinArchiveItem* item = static_cast<const SkinArchiveItem*>(archive->rows.GetAt(row));
    return item ? item->name : nullptr;
}

}  // namespace SkinUI
