// File recovery shared by every task class: which entries a request names, the target
// names and folders, the probe of the target, the recovery threads and their counters.
// The bytes of one file are the task class's RecoverOneFile.
#include "Recovery.h"

#include <cstdio>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "CoreLibrary.h"
#include "Enumeration.h"
#include "Interface.h"
#include "TextConvert.h"
#include "UniqueRes.h"

namespace {

// Items of one request at most: hosts size their lists in 512-byte name slots, and a
// count whose size wraps (the 0x800000 bit among them) is refused.
constexpr int32_t kMaxRecoverItems = INT32_MAX / 512;
// "_(n)" candidates tried before a name is given up.
constexpr int kMaxUniqueNames = 10000;
// Folders deeper than this are not recovered (a loop in a corrupt tree ends here).
constexpr uint32_t kMaxFolderDepth = 1024;
// Longest path the wide file functions take.
constexpr size_t kMaxPathChars = 32767;

const wchar_t* const kDeviceNames[] = {L"CON",  L"PRN",  L"AUX",  L"NUL",  L"COM1", L"COM2", L"COM3", L"COM4",
                                       L"COM5", L"COM6", L"COM7", L"COM8", L"COM9", L"LPT1", L"LPT2", L"LPT3",
                                       L"LPT4", L"LPT5", L"LPT6", L"LPT7", L"LPT8", L"LPT9"};

bool IsRefusedChar(wchar_t c) { return c < 0x20 || std::wcschr(L"<>:\"/\\|?*", c) != nullptr; }

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Half of a surrogate pair has no character to stand for: no file system of the host
// side (nor Wine's conversion to UTF-8) takes it in a name.
void ReplaceLoneSurrogates(std::wstring& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      text[i] = L'_';
    }
  }
}

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// True when nothing of that name exists; false when something does or the name cannot
// be tested (error left in *error, 0 when it exists).
bool NameIsFree(const std::wstring& path, DWORD* error) {
  *error = 0;
  if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD e = ::GetLastError();
  if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return true;
  *error = e;
  return false;
}

// Splits "name:HEXID" at its last ':' (names may hold ':' themselves).
bool SplitNameAndId(const std::wstring& item, std::wstring* name, uint64_t* id) {
  const size_t colon = item.rfind(L':');
  if (colon == std::wstring::npos) return false;
  uint64_t external = 0;
  if (!ParseHexId(item.c_str() + colon + 1, item.size() - colon - 1, &external)) return false;
  name->assign(item, 0, colon);
  *id = external - 1;
  return true;
}

// The folder a RecoverFile request writes into, relative to the target root: the tree
// path without its ids and without the host's first part, less the volume root's name.
std::wstring RelativeTargetFolder(const std::wstring& treePath) {
  std::wstring plain;
  const size_t first = treePath.find(L'/', treePath.empty() ? 0 : 1);
  size_t start = first == std::wstring::npos ? treePath.size() : first + 1;
  while (start < treePath.size()) {
    size_t end = treePath.find(L'/', start);
    if (end == std::wstring::npos) end = treePath.size();
    std::wstring part = treePath.substr(start, end - start);
    const size_t colon = part.rfind(L':');
    if (colon != std::wstring::npos) part.resize(colon);
    plain += L'/';
    plain += part;
    start = end + 1;
  }
  if (plain.compare(0, 6, L"/Root/") == 0) plain.erase(0, 5);
  return SafeRelativePath(plain);
}

// The target of a RecoverFileByID item. Hosts name it by the entry's tree path, so a
// name that holds '/' comes split at it: when the text ends with the entry's own name,
// that name stays one component.
std::wstring ItemTargetPath(const std::wstring& text, const wchar_t* name) {
  const size_t length = name ? std::wcslen(name) : 0;
  if (length > 0 && std::wmemchr(name, L'/', length) && text.size() >= length &&
      text.compare(text.size() - length, length, name) == 0) {
    const size_t at = text.size() - length;
    if (at == 0 || text[at - 1] == L'/')
      return SafeRelativePath(text.substr(0, at)) + L"\\" + SafePathComponent(name, length);
  }
  return SafeRelativePath(text);
}

}  // namespace

// ---------------------------------------------------------------------------------
// Safe target names

std::wstring SafePathComponent(const wchar_t* name, size_t length) {
  std::wstring out(name ? name : L"", name ? length : 0);
  if (out.empty()) return L"_";
  if (out == L".") return L"_";
  if (out == L"..") return L"__";
  for (wchar_t& c : out)
    if (IsRefusedChar(c)) c = L'_';
  ReplaceLoneSurrogates(out);
  for (size_t i = out.size(); i > 0 && (out[i - 1] == L'.' || out[i - 1] == L' '); --i) out[i - 1] = L'_';
  // "CON" and "con.txt" both open the console device, whatever the folder.
  const size_t dot = out.find(L'.');
  const std::wstring stem = out.substr(0, dot);
  for (const wchar_t* device : kDeviceNames) {
    if (::CompareStringOrdinal(stem.c_str(), int(stem.size()), device, -1, TRUE) == CSTR_EQUAL) {
      out.insert(out.begin(), L'_');
      break;
    }
  }
  return out;
}

std::wstring SafeRelativePath(const wchar_t* path, size_t length) {
  std::wstring out;
  if (!path) return out;
  size_t start = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (i < length && path[i] != L'/') continue;
    if (i > start) {
      out += L'\\';
      out += SafePathComponent(path + start, i - start);
    }
    start = i + 1;
  }
  return out;
}

// ---------------------------------------------------------------------------------
// Folders and unique names

int32_t CStorage::CScanTask::CreateDirectoryPath(const wchar_t* path) {
  if (!path) return 0;
  const size_t length = wcsnlen(path, kMaxPathChars + 1);
  if (length > kMaxPathChars) return 0;
  std::wstring prefix;
  for (size_t i = 3; i < length; ++i) {
    if (path[i] != L'\\') continue;
    prefix.assign(path, i);
    if (!::CreateDirectoryW(prefix.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return 0;
  }
  return 1;
}

void CStorage::CScanTask::MakeUniqueTargetName(std::wstring& path) {
  DWORD error = 0;
  if (path.empty() || NameIsFree(path, &error) || error != 0) return;
  // The extension belongs to the file name, never to a folder of the path.
  const size_t separator = path.find_last_of(L"\\/");
  const size_t dot = path.rfind(L'.');
  const bool hasExtension = dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator);
  const std::wstring base = hasExtension ? path.substr(0, dot) : path;
  const std::wstring extension = hasExtension ? path.substr(dot) : std::wstring();
  for (int n = 1; n <= kMaxUniqueNames; ++n) {
    std::wstring candidate = base + L"_(" + std::to_wstring(n) + L")" + extension;
    if (NameIsFree(candidate, &error)) {
      path.swap(candidate);
      return;
    }
    if (error != 0) return;
  }
}

void CStorage::CScanTask::MakeUniqueTargetName(wchar_t* path, size_t capacity) {
  if (!path || capacity == 0) return;
  std::wstring text(path, wcsnlen(path, capacity - 1));
  MakeUniqueTargetName(text);
  if (text.size() + 1 > capacity) return;  // no room: the name stays as it is
  std::wmemcpy(path, text.c_str(), text.size() + 1);
}

int32_t CStorage::CScanTask::RecoverOneFile(const wchar_t*, uint64_t, const wchar_t*) {
  // Only task classes that know their file system can write a file's bytes.
  return WindowsErrorCode(ERROR_NOT_SUPPORTED);
}

// ---------------------------------------------------------------------------------
// Starting a recovery

void CStorage::CScanTask::TakeFinishedFlag() {
  for (;;) {
    int32_t done = 1;
    if (m_finished.compare_exchange_strong(done, 0)) return;
    WaitUntil([this] { return IsFinished(); });
  }
}

std::wstring CStorage::CScanTask::TargetRoot() const {
  std::wstring root = m_targetRoot;
  while (!root.empty() && root.back() == L'\\') root.pop_back();
  return root;
}

int32_t CStorage::CScanTask::ProbeTarget(const std::wstring& relativeFolder) const {
  const std::wstring root = TargetRoot();
  // Without a target root the files would land in the root of the current drive.
  if (root.empty()) return WindowsErrorCode(ERROR_PATH_NOT_FOUND);
  if (::GetFileAttributesW((root + L"\\").c_str()) == INVALID_FILE_ATTRIBUTES)
    return WindowsErrorCode(::GetLastError());
  if (!IsDirectory(root + L"\\")) return WindowsErrorCode(ERROR_DIRECTORY);
  // The folder that will be written first: as deep as it already exists.
  std::wstring folder = root;
  size_t start = 0;
  while (start < relativeFolder.size()) {
    size_t end = relativeFolder.find(L'\\', start);
    if (end == std::wstring::npos) end = relativeFolder.size();
    if (end > start) {
      const std::wstring next = folder + L"\\" + relativeFolder.substr(start, end - start);
      if (!IsDirectory(next)) break;
      folder = next;
    }
    start = end + 1;
  }
  const std::wstring probe = folder + L"\\" + kRecoverProbeName;
  UniqueFile file(::CreateFileW(probe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (file) return kResultOk;
  // A probe left by someone else that cannot be opened says nothing about the folder.
  if (::GetLastError() != ERROR_FILE_NOT_FOUND) return kResultOk;
  file.Reset(::CreateFileW(probe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  if (!file) return WindowsErrorCode(::GetLastError());
  file.Reset();
  ::DeleteFileW(probe.c_str());
  return kResultOk;
}

namespace {
struct RecoveryStart {
  CStorage::CScanTask* task;
  void (CStorage::CScanTask::*body)();
};
}  // namespace

DWORD WINAPI CStorage::CScanTask::RecoveryThreadMain(void* start) {
  const RecoveryStart run = *static_cast<RecoveryStart*>(start);
  delete static_cast<RecoveryStart*>(start);
  CScanTask* task = run.task;
  if (!task->m_recoverNames.empty())
    std::printf("First file %s\n", NarrowText(task->m_recoverNames.front().c_str()).c_str());
  (task->*run.body)();
  task->m_recoverNames.clear();
  task->m_recoverIds.clear();
  task->m_finished.store(1);
  task->NotifyChange();
  // The last touch of the task.
  --task->m_threadsInside;
  return 0;
}

int32_t CStorage::CScanTask::StartRecoveryThread(void (CScanTask::*body)()) {
  m_pause.store(0);
  m_running.store(1);
  auto* start = AllocationShouldFail() ? nullptr : new (std::nothrow) RecoveryStart{this, body};
  if (!start) {
    m_running.store(0);
    m_finished.store(1);
    return kResultNoMemory;
  }
  // The thread runs on by itself: its handle is not needed.
  ++m_threadsInside;
  const UniqueHandle thread(::CreateThread(nullptr, 0, &RecoveryThreadMain, start, 0, nullptr));
  if (!thread) {
    const DWORD error = ::GetLastError();
    --m_threadsInside;
    delete start;
    m_running.store(0);
    m_finished.store(1);
    return WindowsErrorCode(error);
  }
  return kResultOk;
}

int32_t CStorage::CScanTask::RecoverFile(int32_t mode, int32_t count, const wchar_t* folder, const wchar_t* names,
                                         const int32_t* sources) {
  // Everything is checked and copied before the finished flag is touched, so that a
  // refused request leaves the task as it was.
  if (count <= 0 || count > kMaxRecoverItems || !folder || !names) return kResultBadArgument;
  std::vector<std::wstring> items;
  std::wstring folderPath;
  try {
    items.reserve(size_t(count));
    const wchar_t* p = names;
    for (int32_t i = 0; i < count; ++i) {
      const size_t length = std::wcslen(p);
      items.emplace_back(p, length);
      p += length + 1;
    }
    folderPath.assign(folder);
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  if (AllocationShouldFail()) return kResultNoMemory;

  const std::wstring relativeFolder = RelativeTargetFolder(folderPath);

  TakeFinishedFlag();
  const int32_t probe = ProbeTarget(relativeFolder);
  if (probe != kResultOk) {
    m_finished.store(1);
    return probe;
  }
  std::printf("Recover File %d, Path %s, File %s\n", count, NarrowText(folderPath.c_str()).c_str(),
              NarrowText(items.front().c_str()).c_str());
  m_recoverMode = mode;
  m_recovered.store(0);
  m_recoverCount = count;
  m_recoverFolder.swap(folderPath);
  m_recoverRelative = relativeFolder;
  m_recoverNames.swap(items);
  m_recoverIds.clear();
  return StartRecoveryThread(&CScanTask::RecoverFileWorker);
}

int32_t CStorage::CScanTask::RecoverFileByID(int32_t count, const wchar_t* target, const RecoverIdItem* items) {
  const size_t targetLength = target ? std::wcslen(target) : 0;
  if (targetLength == 0 || target[targetLength - 1] != L'/') return kResultBadArgument;
  if (count <= 0 || count > kMaxRecoverItems || !items) return kResultBadArgument;
  std::vector<std::wstring> texts;
  std::vector<uint64_t> ids;
  try {
    texts.reserve(size_t(count));
    ids.reserve(size_t(count));
    for (int32_t i = 0; i < count; ++i) {
      std::wstring text(target, targetLength);
      if (items[i].name) text += items[i].name;
      texts.push_back(std::move(text));
      ids.push_back(items[i].id);
    }
  } catch (const std::bad_alloc&) {
    return kResultNoMemory;
  }
  if (AllocationShouldFail()) return kResultNoMemory;

  TakeFinishedFlag();
  const int32_t probe = ProbeTarget(SafeRelativePath(std::wstring(target, targetLength)));
  if (probe != kResultOk) {
    m_finished.store(1);
    return probe;
  }
  std::printf("Recover File by ID %d, Path %s\n", count, NarrowText(target).c_str());
  m_recovered.store(0);
  m_recoverCount = count;
  m_recoverNames.swap(texts);
  m_recoverIds.swap(ids);
  return StartRecoveryThread(&CScanTask::RecoverFileByIDWorker);
}

// ---------------------------------------------------------------------------------
// The recovery threads

void CStorage::CScanTask::RecoverEntry(uint64_t id, const wchar_t* name, const std::wstring& relative) {
  if (RecoverOneFile(m_targetRoot.c_str(), id, relative.c_str()) == 0) {
    m_recovered.fetch_add(1);
    return;
  }
  CORE_LOG(Core::kLogWarning, "CStorage::CScanTask::RecoverEntry", "Fail to recover file %s.\n",
           NarrowText(name).c_str());
}

void CStorage::CScanTask::RecoverFileWorker() {
  CPathEntry* folder = nullptr;
  if (ResolveTreePath(*this, m_recoverFolder.c_str(), &folder, false) != kResultOk || !folder) {
    CORE_LOG(Core::kLogError, "CStorage::CScanTask::RecoverFileWorker", "Can not find path %s\n",
             NarrowText(m_recoverFolder.c_str()).c_str());
    return;
  }
  for (const std::wstring& item : m_recoverNames) {
    if (!m_running.load()) break;
    WaitWhilePaused();
    std::wstring name;
    uint64_t id = 0;
    if (!SplitNameAndId(item, &name, &id)) {
      CORE_LOG(Core::kLogError, "CStorage::CScanTask::RecoverFileWorker", "no id file %s\n",
               NarrowText(item.c_str()).c_str());
      continue;
    }
    CFileEntry* match = nullptr;
    CListGroup& children = folder->childList;
    for (CList* n = children.First(); n && !children.IsTail(n); n = n->next) {
      CFileEntry* child = CFileEntry::FromChildNode(n);
      if (child->ownId == id && child->name && name == child->name) {
        match = child;
        break;
      }
    }
    if (!match) continue;
    const std::wstring relative = m_recoverRelative + L"\\" + SafePathComponent(name);
    if (match->IsFolder()) {
      RecoverSubPath(relative, match, 0);
    } else {
      RecoverEntry(match->ownId, match->name, relative);
    }
  }
}

void CStorage::CScanTask::RecoverSubPath(const std::wstring& relative, CFileEntry* folder, uint32_t depth) {
  CPathEntry* holder = ChildFolderOf(folder);
  if (!holder || depth > kMaxFolderDepth) return;
  const std::wstring root = TargetRoot();
  // An existing folder of that name belongs to someone else: take "name_(n)".
  std::wstring chosen;
  for (int n = 0; n <= kMaxUniqueNames && chosen.empty(); ++n) {
    const std::wstring candidate = n == 0 ? relative : relative + L"_(" + std::to_wstring(n) + L")";
    DWORD error = 0;
    if (NameIsFree(root + candidate, &error)) {
      chosen = candidate;
    } else if (error != 0) {
      CORE_LOG(Core::kLogWarning, "CStorage::CScanTask::RecoverSubPath", "Can not use folder %s (error %lu)\n",
               NarrowText(candidate.c_str()).c_str(), static_cast<unsigned long>(error));
      return;
    }
  }
  if (chosen.empty()) {
    CORE_LOG(Core::kLogWarning, "CStorage::CScanTask::RecoverSubPath", "No free name for folder %s\n",
             NarrowText(relative.c_str()).c_str());
    return;
  }
  CListGroup& children = holder->childList;
  for (CList* n = children.First(); n && !children.IsTail(n) && m_running.load(); n = n->next) {
    WaitWhilePaused();
    CFileEntry* child = CFileEntry::FromChildNode(n);
    if (m_recoverMode != 0 && (child->attributes & (kAttrFolderMask | kAttrDeleted)) == 0) continue;
    const wchar_t* name = child->name ? child->name : L"";
    const std::wstring path = chosen + L"\\" + SafePathComponent(name, std::wcslen(name));
    if (child->IsFolder()) {
      RecoverSubPath(path, child, depth + 1);
    } else {
      RecoverEntry(child->ownId, child->name, path);
    }
  }
}

void CStorage::CScanTask::RecoverFileByIDWorker() {
  if (!m_running.load()) return;
  for (size_t i = 0; i < m_recoverIds.size(); ++i) {
    WaitWhilePaused();
    CFileEntry* entry = GetEntryById(m_recoverIds[i]);
    if (!entry) {
      CORE_LOG(Core::kLogWarning, "CStorage::CScanTask::RecoverFileByIDWorker", "No entry of id %llX\n",
               static_cast<unsigned long long>(m_recoverIds[i]));
    } else {
      RecoverEntry(m_recoverIds[i], entry->name, ItemTargetPath(m_recoverNames[i], entry->name));
    }
    if (!m_running.load()) break;
  }
}
