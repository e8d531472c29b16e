// One skin file read whole, from the skin folder, the zip archive or the 7z archive.
#include "SkinFile.h"

#include <cwchar>
#include <new>

#include "SkinArchive7z.h"
#include "SkinZip.h"
#include "UIUtils.h"
#include "UniqueRes.h"

namespace SkinUI {

namespace {

SkinSourceQuery g_query = nullptr;

bool Fail(LPCWSTR& error, LPCWSTR message)
{
    error = message;
    return false;
}

bool Allocate(SkinFileBytes& out, size_t size)
{
    out.data.reset(new (std::nothrow) unsigned char[size]);
    out.size = out.data ? size : 0;
    return out.data != nullptr;
}

bool ReadFromFolder(const SkinSource& source, LPCWSTR name, size_t maxBytes, SkinFileBytes& out, LPCWSTR& error)
{
    CUIString path(source.resourcePath);
    path.Append(name);
    UniqueFile file(::CreateFileW(path.GetData(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Fail(error, L"Error opening file");
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.Get(), &size)) return Fail(error, L"Could not read file");
    if (size.QuadPart == 0) return Fail(error, L"File is empty");
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) return Fail(error, L"File too large");
    const DWORD bytes = static_cast<DWORD>(size.QuadPart);
    if (!Allocate(out, bytes)) return Fail(error, L"Could not read file");
    DWORD got = 0;
    if (!::ReadFile(file.Get(), out.data.get(), bytes, &got, nullptr) || got != bytes) {
        out = SkinFileBytes();
        return Fail(error, L"Could not read file");
    }
    return true;
}

bool ReadFrom7z(HSKINARCHIVE7Z archive, LPCWSTR name, size_t maxBytes, SkinFileBytes& out, LPCWSTR& error)
{
    int index = -1;
    UInt64 size = 0;
    if (CSkinArchive7z::FindItem(archive, name, &index, &size) != CSkinArchive7z::kOk) {
        return Fail(error, L"Could not find ziped file");
    }
    if (size == 0) return Fail(error, L"File is empty");
    if (size > maxBytes) return Fail(error, L"File too large");
    if (!Allocate(out, static_cast<size_t>(size)) ||
        CSkinArchive7z::CopyItem(archive, index, out.data.get()) != CSkinArchive7z::kOk) {
        out = SkinFileBytes();
        return Fail(error, L"Could not unzip file");
    }
    return true;
}

bool ReadFromZip(HSKINZIP zip, LPCWSTR name, size_t maxBytes, SkinFileBytes& out, LPCWSTR& error)
{
    int index = -1;
    SkinZipEntry entry;
    if (CSkinZip::FindItem(zip, name, true, &index, &entry) != CSkinZip::kOk || index < 0) {
        return Fail(error, L"Could not find ziped file");
    }
    if (entry.uncompressedSize == 0) return Fail(error, L"File is empty");
    if (entry.uncompressedSize > maxBytes) return Fail(error, L"File too large");
    if (!Allocate(out, entry.uncompressedSize)) return Fail(error, L"Could not unzip file");
    const DWORD s = CSkinZip::UnzipItem(zip, index, out.data.get(), entry.uncompressedSize, CSkinZip::kMemory);
    if (s != CSkinZip::kOk && s != CSkinZip::kMore) {
        out = SkinFileBytes();
        return Fail(error, L"Could not unzip file");
    }
    return true;
}

}  // namespace

void SetSkinSourceQuery(SkinSourceQuery query) { g_query = query; }

SkinSource GetSkinSource()
{
    SkinSource source;
    if (g_query && !g_query(source)) source = SkinSource();
    if (!source.resourcePath) source.resourcePath = L"";
    if (!source.archiveName) source.archiveName = L"";
    return source;
}

bool ReadSkinFile(const SkinSource& source, LPCWSTR name, size_t maxBytes, SkinFileBytes& out, LPCWSTR& error)
{
    out = SkinFileBytes();
    error = L"";
    if (!name) name = L"";
    switch (source.kind) {
    case SkinSourceKind::Folder:
        return ReadFromFolder(source, name, maxBytes, out, error);
    case SkinSourceKind::SevenZip: {
        HSKINARCHIVE7Z archive = static_cast<HSKINARCHIVE7Z>(source.openArchive);
        bool ownArchive = false;
        if (!archive) {
            CUIString path(source.resourcePath);
            path.Append(source.archiveName);
            archive = CSkinArchive7z::OpenFromFile(path.GetData());
            ownArchive = true;
        }
        if (!archive) return Fail(error, L"Error opening zip file");
        const bool ok = ReadFrom7z(archive, name, maxBytes, out, error);
        if (ownArchive) CSkinArchive7z::Close(archive);
        return ok;
    }
    case SkinSourceKind::Zip: {
        HSKINZIP zip = static_cast<HSKINZIP>(source.openArchive);
        bool ownZip = false;
        if (!zip) {
            CUIString path(source.resourcePath);
            path.Append(source.archiveName);
            zip = CSkinZip::Open(path.GetData(), 0, CSkinZip::kFileName);
            ownZip = true;
        }
        if (!zip) return Fail(error, L"Error opening zip file");
        const bool ok = ReadFromZip(zip, name, maxBytes, out, error);
        if (ownZip) CSkinZip::Close(zip);
        return ok;
    }
    }
    return Fail(error, L"Error opening file");
}

}  // namespace SkinUI
