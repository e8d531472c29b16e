// Target names of recovered files. Names come from the disk and the host joins them
// into relative paths; before any of it reaches the file system each component is made
// a plain Windows name, so that nothing is ever written outside the target folder.
#pragma once
#include <cstddef>
#include <string>

// One component: characters that Windows refuses in names (controls, < > : " / \ | ? *)
// become '_', "." and ".." become "_" and "__", trailing dots and blanks (which Windows
// would strip) become '_', a device name (CON, NUL, COM1, ...) gets a leading '_', and
// an empty name becomes "_".
std::wstring SafePathComponent(const wchar_t* name, size_t length);
inline std::wstring SafePathComponent(const std::wstring& name) { return SafePathComponent(name.data(), name.size()); }

// A '/'-separated relative path made safe component by component: empty components are
// dropped, the rest joined with '\', each preceded by one '\' ("" when none is left).
std::wstring SafeRelativePath(const wchar_t* path, size_t length);
inline std::wstring SafeRelativePath(const std::wstring& path) { return SafeRelativePath(path.data(), path.size()); }

// The name of the probe file that tells whether a target folder can be written.
constexpr wchar_t kRecoverProbeName[] = L"recover.id.log";
