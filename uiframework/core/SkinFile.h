// Reading one skin file whole, from the skin folder, a zip archive or a 7z archive.
// Where skin files come from is decided by the window manager's shared resources;
// it answers through the query installed with SetSkinSourceQuery.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

namespace SkinUI {

enum class SkinSourceKind { Folder, Zip, SevenZip };

struct SkinSource {
    SkinSourceKind kind = SkinSourceKind::Folder;
    LPCWSTR resourcePath = L"";   // skin folder, ending in "\" once set ("" = current folder)
    LPCWSTR archiveName = L"";    // archive file inside the skin folder
    void* openArchive = nullptr;  // archive kept open for the run (zip or 7z handle), or null
    HINSTANCE resourceModule = nullptr;   // module holding the program resources (null = the program)
};

typedef bool (*SkinSourceQuery)(SkinSource& source);

// Installed by the window manager; without one, skin files are read from the
// current folder.
void SetSkinSourceQuery(SkinSourceQuery query);
SkinSource GetSkinSource();

struct SkinFileBytes {
    std::unique_ptr<unsigned char[]> data;
    size_t size = 0;
};

// Layout files and the other skin texts are capped at 4 MiB.
const size_t kMaxSkinTextFile = 0x400000;

// Reads `name` whole. On failure `error` holds one of the loader's messages:
// "Error opening file", "File is empty", "File too large", "Could not read file",
// "Error opening zip file", "Could not find ziped file", "Could not unzip file".
bool ReadSkinFile(const SkinSource& source, LPCWSTR name, size_t maxBytes, SkinFileBytes& out,
                  LPCWSTR& error);

}  // namespace SkinUI
