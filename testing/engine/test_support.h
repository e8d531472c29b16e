#pragma once
// Small helpers shared by the engine's unit tests.
#include <windows.h>

#include <string>

#include "Utils.h"

namespace testsupport {

// A fresh folder under the temporary folder, removed with its files at the end.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& leaf = L"engine-test");
    ~TempFolder();
    const std::wstring& Path() const { return m_path; }
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
// The folder of the running test program (the build's bin folder).
std::wstring ProgramFolder();

}  // namespace testsupport
