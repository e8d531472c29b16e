// Helpers shared by the UI framework tests: fixture files and the manifest.
#pragma once

#include <string>
#include <vector>

namespace uitest {

std::wstring Widen(const std::string& utf8);
std::wstring FixturePath(const std::wstring& name);
// The whole file, or false when it cannot be read.
bool ReadWholeFile(const std::wstring& path, std::vector<unsigned char>& out);
std::vector<unsigned char> ReadFixture(const std::wstring& name);
std::wstring WorkDir();   // a fresh-enough scratch folder for this program

struct ManifestItem {
    std::wstring archive;
    std::wstring name;      // as stored
    std::wstring payload;   // relative to payload/, empty for a folder entry
};
const std::vector<ManifestItem>& Manifest();
std::vector<ManifestItem> ManifestOf(const std::wstring& archive);
std::vector<unsigned char> PayloadBytes(const ManifestItem& item);

}  // namespace uitest
