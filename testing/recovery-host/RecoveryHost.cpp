// recovery-host: stands for the recovery application. Loads Intermediate.dll, takes
// every export by name and drives it from a stable command line:
//   recovery-host disks IMAGE...
//   recovery-host list [--formatted|--deep|--fsdeep|--disk] [--stop-at N] [--result FILE] IMAGE DISK PART
//   recovery-host load RESULTFILE [IMAGE...]
//   recovery-host recover [--formatted|--deep|--fsdeep|--disk] [--deleted-only] IMAGE DISK PART OUTDIR
//   recovery-host partitions IMAGE DISK
//   recovery-host repair-table IMAGE DISK
//   recovery-host repair-boot IMAGE DISK PART
// Results go to standard output as UTF-8 lines; the library's own console messages
// and the host's diagnostics go to standard error.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "qvtdserver.h"

namespace {

#define HOST_EXPORTS(X)                                                                                       \
  X(ServiceInitialize, int(__cdecl*)())                                                                       \
  X(ListDisks, int(__cdecl*)(int, int, void*, int*))                                                             \
  X(ListPartitions, int(__cdecl*)(int, int, int, void*, int*))                                                \
  X(StartScanTask, int(__cdecl*)(int, int, int, int*))                                                        \
  X(StartScanFormattedTask, int(__cdecl*)(int, int, int, int*))                                               \
  X(StartDeepScanTask, int(__cdecl*)(int, int, int, int, const wchar_t*, int*))                               \
  X(StartFSDeepScanTask, int(__cdecl*)(int, int, int, int*))                                                  \
  X(StartDiskDeepScanTask, int(__cdecl*)(int, int*))                                                          \
  X(StartRecoverPartScan, int(__cdecl*)(int, int, int*))                                                      \
  X(StartRepairDiskPartTable, int(__cdecl*)(int, int*))                                                       \
  X(StartRepairPartition, int(__cdecl*)(int, int, int*))                                                      \
  X(RepairDiskPartTable, int(__cdecl*)(int))                                                                  \
  X(GetScanProgress, int(__cdecl*)(int, int*, int*, int*, int*))                                              \
  X(GetRecoverProgress, int(__cdecl*)(int, int*, int*))                                                       \
  X(GetRecoverPartProgress, int(__cdecl*)(int, int*, void*, int, int*))                                       \
  X(PauseWork, int(__cdecl*)(int, int))                                                                       \
  X(StopWork, int(__cdecl*)(int))                                                                             \
  X(RetryWork, int(__cdecl*)(int, int))                                                                       \
  X(SetScanErrorHandler, int(__cdecl*)(QvtdScanErrorHandler))                                                 \
  X(EnumScannedFiles, int(__cdecl*)(int, const wchar_t*, int, void*, int*, int*, int*, int*, uint64_t*,       \
                                    uint64_t*, int*))                                                         \
  X(ContinueEnumScannedFiles, int(__cdecl*)(int, int, int, void*, int*))                                      \
  X(GlobalEnumScannedFiles, int(__cdecl*)(int, int, int, void*, int*, int*))                                  \
  X(ContinueGlobalEnumScannedFiles, int(__cdecl*)(int, int, int, void*, int*))                                \
  X(GlobalFilterScannedFiles, int(__cdecl*)(int, int, const void*, int, void*, int*, int*))                   \
  X(ContinueGlobalFilterScannedFiles, int(__cdecl*)(int, int, int, void*, int*))                              \
  X(CloseEnumHandle, int(__cdecl*)(int, int))                                                                 \
  X(EnumFileTypes, int(__cdecl*)(int, int, int, int*, int*, void*))                                           \
  X(QueryFileName, int(__cdecl*)(int, uint64_t, int, uint64_t*, wchar_t*))                                    \
  X(QueryFileFullPath, int(__cdecl*)(int, uint64_t, wchar_t*))                                                \
  X(GetLastFileInformation, int(__cdecl*)(int, wchar_t*, uint64_t*, uint64_t*))                               \
  X(SetTargetPath, int(__cdecl*)(int, const wchar_t*, int*))                                                  \
  X(RecoverFile, int(__cdecl*)(int, int, int, const wchar_t*, const wchar_t*, const int*))                    \
  X(RecoverFileByID, int(__cdecl*)(int, int, const wchar_t*, const void*))                                    \
  X(GetLoadFileInfo, int(__cdecl*)(const wchar_t*, int*, int*, wchar_t*, uint16_t*))                          \
  X(GetResultFileName, int(__cdecl*)(int, wchar_t*))                                                          \
  X(CloseScanTask, int(__cdecl*)(int))

struct Library {
#define HOST_FIELD(name, type) \
  using name##Fn = type;        \
  name##Fn name = nullptr;
  HOST_EXPORTS(HOST_FIELD)
#undef HOST_FIELD
};

// Page and id records of the library's boundary.
#pragma pack(push, 4)
struct ScanFileRecord {
  uint64_t globalId, id, parentId, size, time;
  uint32_t attributes, taskId;
  wchar_t name[256];
};
struct RecoverIdItem {
  uint64_t id;
  const wchar_t* name;
  uint32_t source;
};
#pragma pack(pop)
static_assert(sizeof(ScanFileRecord) == 560, "ScanFileRecord");
static_assert(sizeof(RecoverIdItem) == 16, "RecoverIdItem");

constexpr size_t kHostDiskBytes = 272;
constexpr size_t kPartitionBytes = 368;

FILE* g_out = nullptr;  // the real standard output

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], bytes, nullptr, nullptr);
  return out;
}

// A fixed-width text of the core (system code page) without its blank padding.
std::string DiskText(const uint8_t* field, size_t width) {
  size_t length = width;
  while (length > 0 && (field[length - 1] == ' ' || field[length - 1] == '\0')) --length;
  std::string narrow(reinterpret_cast<const char*>(field), length);
  narrow.resize(std::strlen(narrow.c_str()));
  if (narrow.empty()) return narrow;
  int chars = MultiByteToWideChar(CP_ACP, 0, narrow.data(), int(narrow.size()), nullptr, 0);
  std::wstring wide(size_t(chars), L'\0');
  MultiByteToWideChar(CP_ACP, 0, narrow.data(), int(narrow.size()), &wide[0], chars);
  return Utf8(wide);
}

// "/tmp/x.img" -> "Z:\tmp\x.img": Wine serves the Linux root as drive Z:.
std::wstring WindowsPath(std::wstring path) {
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

bool ParseInt(const wchar_t* text, int* value) {
  wchar_t* end = nullptr;
  long v = std::wcstol(text, &end, 0);
  if (!end || end == text || *end) return false;
  *value = int(v);
  return true;
}

int Usage() {
  std::fputs("usage: recovery-host disks IMAGE...\n"
             "       recovery-host list [--formatted|--deep|--fsdeep|--disk] [--stop-at N] [--result FILE] [--paths] "
             "IMAGE DISK PART\n"
             "       recovery-host load RESULTFILE [IMAGE...]\n"
             "       recovery-host recover [--formatted|--deep|--fsdeep|--disk] [--deleted-only] IMAGE DISK PART "
             "OUTDIR\n"
             "       recovery-host partitions IMAGE DISK\n"
             "       recovery-host repair-table IMAGE DISK\n"
             "       recovery-host repair-boot IMAGE DISK PART\n",
             stderr);
  return 2;
}

bool LoadLibraryExports(Library* lib) {
  HMODULE module = LoadLibraryW(L"Intermediate.dll");
  if (!module) {
    std::fprintf(stderr, "cannot load Intermediate.dll (error %lu)\n", GetLastError());
    return false;
  }
  bool ok = true;
#define HOST_BIND(name, type)                                                                   \
  lib->name = reinterpret_cast<Library::name##Fn>(reinterpret_cast<void*>(GetProcAddress(module, #name))); \
  if (!lib->name) {                                                                             \
    std::fprintf(stderr, "Intermediate.dll lacks %s\n", #name);                                \
    ok = false;                                                                                 \
  }
  HOST_EXPORTS(HOST_BIND)
#undef HOST_BIND
  return ok;
}

// The stand-in core serves these images as disks 0, 1, ...
void HandImagesToCore(const std::vector<std::wstring>& images) {
  std::wstring list;
  for (const std::wstring& image : images) {
    if (!list.empty()) list += L';';
    list += WindowsPath(image);
  }
  SetEnvironmentVariableW(L"QVTD_IMAGES", list.c_str());
  _wputenv_s(L"QVTD_IMAGES", list.c_str());
}

Library g_lib;

// Read errors: say so and skip the bad bytes, so that an unattended run goes on.
void __cdecl OnReadError(int disk, uint64_t offset, uint32_t length, uint32_t error) {
  std::fprintf(stderr, "read error on disk %d at %llu (%u bytes, error %u): skipped\n", disk,
               static_cast<unsigned long long>(offset), length, error);
  g_lib.RetryWork(0, 1);
}

int Disks(const std::vector<std::wstring>& images) {
  HandImagesToCore(images);
  const int count = g_lib.ServiceInitialize();
  if (count <= 0) {
    std::fprintf(stderr, "no disks\n");
    return count < 0 ? 1 : 0;
  }
  std::vector<uint8_t> disks(size_t(count) * kHostDiskBytes);
  int copied = 0;
  g_lib.ListDisks(0, count, disks.data(), &copied);
  for (int i = 0; i < copied; ++i) {
    const uint8_t* record = disks.data() + size_t(i) * kHostDiskBytes;
    uint64_t size;
    std::memcpy(&size, record + 8, sizeof size);
    std::fprintf(g_out, "disk\t%d\t%llu\t%s\t%s\n", i, static_cast<unsigned long long>(size),
                 DiskText(record + 16, 128).c_str(), DiskText(record + 144, 128).c_str());
    constexpr int kPage = 32;
    std::vector<uint8_t> parts(kPage * kPartitionBytes);
    for (int first = 0;;) {
      int found = 0;
      int rc = g_lib.ListPartitions(i, first, kPage, parts.data(), &found);
      if (rc != 0) {
        std::fprintf(stderr, "ListPartitions(%d): %d\n", i, rc);
        return 1;
      }
      for (int p = 0; p < found; ++p) {
        const uint8_t* part = parts.data() + size_t(p) * kPartitionBytes;
        int32_t number;
        uint64_t partSize;
        uint16_t type;
        std::memcpy(&number, part, 4);
        std::memcpy(&partSize, part + 20, 8);
        std::memcpy(&type, part + 44, 2);
        const char letter = char(part[46]);
        std::fprintf(g_out, "part\t%d\t%d\t%u\t%llu\t", i, number, unsigned(type),
                     static_cast<unsigned long long>(partSize));
        if (letter) {
          std::fprintf(g_out, "%c\n", letter);
        } else {
          std::fputs("-\n", g_out);
        }
      }
      if (found < kPage) break;
      first += found;
    }
  }
  return 0;
}

struct Found {
  bool deleted;
  bool folder;
  uint64_t size;
  uint64_t time;
  uint64_t id;
  uint32_t source;
  std::string pathUtf8;
  std::wstring path;
};

enum class Mode { kScan, kFormatted, kDeep, kFsDeep, kDisk };

// What the scan switches ask for beyond the mode.
struct ScanOptions {
  int stopAt = -1;           // --stop-at: stop once progress reaches this (0..10000)
  std::wstring resultFile;   // --result: a stored deep-scan result to load and resume
  bool paths = false;        // --paths: each line also gives the library's full path of its id
};
ScanOptions g_options;

int StartTask(Mode mode, int disk, int part, int* task) {
  switch (mode) {
    case Mode::kScan:
      return g_lib.StartScanTask(disk, part, 0, task);
    case Mode::kFormatted:
      return g_lib.StartScanFormattedTask(disk, part, 0, task);
    case Mode::kDeep:
      return g_lib.StartDeepScanTask(disk, part, 0, 0,
                                     g_options.resultFile.empty() ? nullptr : g_options.resultFile.c_str(), task);
    case Mode::kFsDeep:
      return g_lib.StartFSDeepScanTask(disk, part, 0, task);
    case Mode::kDisk:
      return g_lib.StartDiskDeepScanTask(disk, task);
  }
  return -87;
}

const char* StarterName(Mode mode) {
  switch (mode) {
    case Mode::kScan: return "StartScanTask";
    case Mode::kFormatted: return "StartScanFormattedTask";
    case Mode::kDeep: return "StartDeepScanTask";
    case Mode::kFsDeep: return "StartFSDeepScanTask";
    case Mode::kDisk: return "StartDiskDeepScanTask";
  }
  return "?";
}

// Runs the scan to its end (or to --stop-at).
int RunScan(Mode mode, const std::vector<std::wstring>& images, int disk, int part, int* task) {
  if (!images.empty()) HandImagesToCore(images);
  g_lib.SetScanErrorHandler(&OnReadError);
  if (g_lib.ServiceInitialize() <= disk) {
    std::fprintf(stderr, "no disk %d\n", disk);
  }
  if (g_options.stopAt >= 0) {
    // The stand-in core scans small images in moments: slowed down, the stop lands
    // part-way (a real core needs no such help).
    using DelayFn = int(__cdecl*)(int);
    if (auto delay = reinterpret_cast<DelayFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"qvtdserver.dll"), "QvtdSetRecordDelay"))))
      delay(20);
  }
  int rc = StartTask(mode, disk, part, task);
  if (rc != 0) {
    std::fprintf(stderr, "%s(%d, %d): %d\n", StarterName(mode), disk, part, rc);
    return rc;
  }
  for (int lastShown = -1;;) {
    int progress = 0, files = 0, deleted = 0, finished = 0;
    rc = g_lib.GetScanProgress(*task, &progress, &files, &deleted, &finished);
    if (rc != 0) {
      std::fprintf(stderr, "GetScanProgress: %d\n", rc);
      return rc;
    }
    if (finished) {
      std::fprintf(stderr, "final progress %d, files %d, deleted %d\n", progress, files, deleted);
      break;
    }
    if (g_options.stopAt >= 0 && progress >= g_options.stopAt) {
      std::fprintf(stderr, "stopping at progress %d\n", progress);
      g_lib.StopWork(*task);
      continue;
    }
    if (progress != lastShown) {
      std::fprintf(stderr, "progress %d, files %d, deleted %d\n", progress, files, deleted);
      lastShown = progress;
    }
    Sleep(100);
  }
  return 0;
}

// "result: PATH" of a deep scan's result database (nothing for other scans).
void PrintResultFile(int task) {
  wchar_t path[1024] = {};
  if (g_lib.GetResultFileName(task, path) == 0 && path[0]) std::fprintf(g_out, "result: %s\n", Utf8(path).c_str());
}

// What the walk keeps of a page record (a folder of a million hits must not cost
// 560 bytes each).
struct Child {
  uint64_t id, parentId, size, time;
  uint32_t attributes, taskId;
  std::wstring name;
};

Found FoundOf(const Child& r, std::wstring path) {
  Found f;
  f.deleted = (r.attributes & 0x2000000) != 0;
  f.folder = (r.attributes & 0x10000010) != 0;
  f.size = r.size;
  f.time = r.time;
  f.id = r.id;
  f.source = r.taskId;
  f.path = std::move(path);
  f.pathUtf8 = Utf8(f.path);
  return f;
}

void SortByPath(std::vector<Found>* found) {
  std::sort(found->begin(), found->end(), [](const Found& a, const Found& b) {
    return a.pathUtf8 != b.pathUtf8 ? a.pathUtf8 < b.pathUtf8 : a.id < b.id;
  });
}

// Every entry of the name list, each with the path that the library gives its id.
// The children of the folder that treePath names, all pages.
int FolderChildren(int task, const std::wstring& treePath, std::vector<Child>* children) {
  constexpr int kPage = 256;
  std::vector<ScanFileRecord> page(kPage);
  int handle = 0;
  int got = 0;
  int rc = g_lib.EnumScannedFiles(task, treePath.c_str(), kPage, page.data(), &got, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, &handle);
  while (rc == 0 && got > 0) {
    for (int i = 0; i < got; ++i) {
      const ScanFileRecord& r = page[size_t(i)];
      children->push_back(Child{r.id, r.parentId, r.size, r.time, r.attributes, r.taskId, r.name});
    }
    if (got < kPage) break;
    rc = g_lib.ContinueEnumScannedFiles(task, handle, kPage, page.data(), &got);
  }
  if (handle) g_lib.CloseEnumHandle(task, handle);
  return rc;
}

std::wstring TreePart(const Child& r) {
  wchar_t id[24];
  std::swprintf(id, 24, L":%llX/", static_cast<unsigned long long>(r.id));
  return r.name + std::wstring(id);
}

// Walks the result tree from the virtual root, so that every name of an entry (hard
// links included) shows under the folders it was found in. The volume root's name
// is no part of the printed path.
int CollectByTree(int task, std::vector<Found>* found) {
  struct Folder {
    std::wstring treePath, shownPath;
    uint64_t id;
    bool virtualFolder;
  };
  std::vector<Folder> pending{{L":/", L"", 0, true}};
  std::vector<uint64_t> walked;
  while (!pending.empty()) {
    Folder folder = std::move(pending.back());
    pending.pop_back();
    std::vector<Child> children;
    const int rc = FolderChildren(task, folder.treePath, &children);
    if (rc != 0) {
      std::fprintf(stderr, "EnumScannedFiles(%s): %d\n", Utf8(folder.treePath).c_str(), rc);
      return rc;
    }
    if (!folder.virtualFolder && !children.empty()) {
      // A link to a folder lists its target's children, and a folder's further names
      // list the same children again: each folder's content shows once, where it lies.
      const bool own = std::any_of(children.begin(), children.end(),
                                   [&](const Child& c) { return c.parentId == folder.id; });
      const uint64_t holder = own ? folder.id : children.front().parentId;
      if (!own || std::find(walked.begin(), walked.end(), holder) != walked.end()) {
        std::fprintf(stderr, "%s: content of folder %llX, shown there\n", Utf8(folder.shownPath).c_str(),
                     static_cast<unsigned long long>(holder));
        continue;
      }
      walked.push_back(holder);
    }
    const bool atVirtualRoot = folder.treePath == L":/";
    for (const Child& r : children) {
      // A whole-disk scan's root also carries each partition's root children, parented
      // to the partition's folder: they show where that folder's listing puts them.
      if (atVirtualRoot && r.parentId != r.id && (r.parentId & ~0xFFFFFFull) == 0x0000FFFFFF000000ull) continue;
      // The volume root is its own parent; "UnknownPath" has no id (0) at all.
      const bool volumeRoot = atVirtualRoot && r.id != 0 && r.parentId == r.id;
      const std::wstring shown = volumeRoot ? std::wstring() : folder.shownPath + L"/" + r.name;
      if (!volumeRoot) found->push_back(FoundOf(r, shown));
      if (r.attributes & 0x10000010) {
        pending.push_back(Folder{folder.treePath + TreePart(r), shown, r.id, atVirtualRoot && !volumeRoot});
      }
    }
  }
  SortByPath(found);
  return 0;
}

bool ParseScanArgs(const std::vector<std::wstring>& args, size_t positional, bool allowDeletedOnly, Mode* mode,
                   bool* deletedOnly, std::vector<std::wstring>* rest) {
  *mode = Mode::kScan;
  *deletedOnly = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if ((a == L"--stop-at" || a == L"--result") && i + 1 == args.size()) return false;
    if (a == L"--stop-at") {
      if (!ParseInt(args[++i].c_str(), &g_options.stopAt)) return false;
    } else if (a == L"--result") {
      g_options.resultFile = WindowsPath(args[++i]);
    } else if (a == L"--formatted") *mode = Mode::kFormatted;
    else if (a == L"--deep") *mode = Mode::kDeep;
    else if (a == L"--fsdeep") *mode = Mode::kFsDeep;
    else if (a == L"--disk") *mode = Mode::kDisk;
    else if (!allowDeletedOnly && a == L"--paths") g_options.paths = true;
    else if (allowDeletedOnly && a == L"--deleted-only") *deletedOnly = true;
    else if (a.size() > 1 && a[0] == L'-' && a[1] == L'-') return false;
    else rest->push_back(a);
  }
  return rest->size() == positional;
}

int PrintTree(int task);

int List(const std::vector<std::wstring>& args) {
  Mode mode;
  bool deletedOnly;
  std::vector<std::wstring> rest;
  int disk, part;
  if (!ParseScanArgs(args, 3, false, &mode, &deletedOnly, &rest) || !ParseInt(rest[1].c_str(), &disk) ||
      !ParseInt(rest[2].c_str(), &part))
    return Usage();
  int task = 0;
  if (RunScan(mode, {rest[0]}, disk, part, &task) != 0) return 1;
  return PrintTree(task);
}

// Every entry of the task's tree, one line each, then the result file of a deep scan.
int PrintTree(int task) {
  std::vector<Found> found;
  if (CollectByTree(task, &found) != 0) return 1;
  std::vector<wchar_t> full(4096);
  for (const Found& f : found) {
    std::fprintf(g_out, "%d\t%d\t%llu\t%llu\t%s", f.deleted ? 1 : 0, f.folder ? 1 : 0,
                 static_cast<unsigned long long>(f.size), static_cast<unsigned long long>(f.time),
                 f.pathUtf8.c_str());
    if (g_options.paths) {
      full[0] = 0;
      const int rc = g_lib.QueryFileFullPath(task, f.id, full.data());
      std::fprintf(g_out, "\t%s\t%llX\t%X\t%d", Utf8(full.data()).c_str(), static_cast<unsigned long long>(f.id),
                   f.source, rc);
    }
    std::fputc('\n', g_out);
  }
  std::fprintf(g_out, "entries: %u\n", unsigned(found.size()));
  PrintResultFile(task);
  g_lib.CloseScanTask(task);
  return 0;
}

// A stored deep-scan result: its disk found by serial among the images (or the core's
// own list), then loaded (and, when it was stopped, resumed) and listed as list does.
int Load(const std::vector<std::wstring>& args) {
  if (args.empty()) return Usage();
  const std::wstring result = WindowsPath(args[0]);
  std::vector<std::wstring> images(args.begin() + 1, args.end());
  if (!images.empty()) HandImagesToCore(images);
  g_lib.ServiceInitialize();
  int disk = 0, part = 0;
  wchar_t drive[260] = {};
  uint16_t type = 0;
  const int rc = g_lib.GetLoadFileInfo(result.c_str(), &disk, &part, drive, &type);
  std::fprintf(stderr, "GetLoadFileInfo: %d, disk %d, partition %d, drive %s, type %u\n", rc, disk, part,
               Utf8(drive).c_str(), unsigned(type));
  if (rc != 0 || part == 100) return 1;
  g_options.resultFile = result;
  int task = 0;
  if (RunScan(Mode::kDeep, {}, disk, part, &task) != 0) return 1;
  return PrintTree(task);
}

bool MakeFolders(const std::wstring& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == L'\\') {
      std::wstring prefix = path.substr(0, i);
      if (!CreateDirectoryW(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
  }
  return true;
}

int Recover(const std::vector<std::wstring>& args) {
  Mode mode;
  bool deletedOnly;
  std::vector<std::wstring> rest;
  int disk, part;
  if (!ParseScanArgs(args, 4, true, &mode, &deletedOnly, &rest) || !ParseInt(rest[1].c_str(), &disk) ||
      !ParseInt(rest[2].c_str(), &part))
    return Usage();
  const std::wstring outDir = WindowsPath(rest[3]);
  if (!MakeFolders(outDir)) {
    std::fprintf(stderr, "cannot create %s (error %lu)\n", Utf8(outDir).c_str(), GetLastError());
    return 1;
  }
  int task = 0;
  std::vector<Found> found;
  // Walked as the tree shows them, so that every hard-link name is recovered under its
  // own path; what lies under "UnknownPath" goes to "LostPath", as the library names it.
  if (RunScan(mode, {rest[0]}, disk, part, &task) != 0 || CollectByTree(task, &found) != 0) return 1;

  std::vector<std::wstring> names;
  std::vector<RecoverIdItem> items;
  const std::wstring unknown = L"/UnknownPath/";
  for (const Found& f : found) {
    if (f.folder || (deletedOnly && !f.deleted)) continue;
    std::wstring name = f.path;
    if (name.compare(0, unknown.size(), unknown) == 0) name.replace(0, unknown.size() - 1, L"/LostPath");
    while (!name.empty() && name[0] == L'/') name.erase(0, 1);
    names.push_back(name);
    items.push_back(RecoverIdItem{f.id, nullptr, f.source});
  }
  for (size_t i = 0; i < items.size(); ++i) items[i].name = names[i].c_str();

  int freeMB[2] = {0, 0};
  g_lib.SetTargetPath(task, outDir.c_str(), freeMB);
  int recovered = 0;
  if (!items.empty()) {
    int rc = g_lib.RecoverFileByID(task, int(items.size()), L"/", items.data());
    if (rc != 0) {
      std::fprintf(stderr, "RecoverFileByID: %d\n", rc);
      g_lib.CloseScanTask(task);
      return 1;
    }
    for (;;) {
      int finished = 0;
      if (g_lib.GetRecoverProgress(task, &recovered, &finished) != 0 || finished) break;
      Sleep(100);
    }
  }
  const int failed = int(items.size()) - recovered;
  std::fprintf(g_out, "recovered: %d failed: %d\n", recovered, failed);
  g_lib.CloseScanTask(task);
  return failed == 0 ? 0 : 1;
}

// Searches the disk for lost partitions and prints what was found, in disk order:
// "found NUMBER FIRST-SECTOR SECTORS TYPE-WORD BOOT" (BOOT: ok, or backup when only the
// backup boot sector is whole). The task is left open for a repair.
int SearchPartitions(const std::wstring& image, int disk, int* task) {
  HandImagesToCore({image});
  if (g_lib.ServiceInitialize() <= disk) std::fprintf(stderr, "no disk %d\n", disk);
  int rc = g_lib.StartRecoverPartScan(disk, 0, task);
  if (rc != 0) {
    std::fprintf(stderr, "StartRecoverPartScan(%d): %d\n", disk, rc);
    return rc;
  }
  constexpr int kMaxFound = 64;
  std::vector<uint8_t> found(kMaxFound * kPartitionBytes);
  for (int lastShown = -1;;) {
    int progress = 0, finished = 0;
    std::fill(found.begin(), found.end(), 0);
    rc = g_lib.GetRecoverPartProgress(*task, &progress, found.data(), kMaxFound, &finished);
    if (rc != 0) {
      std::fprintf(stderr, "GetRecoverPartProgress: %d\n", rc);
      return rc;
    }
    if (finished) break;
    if (progress / 1000 != lastShown) std::fprintf(stderr, "progress %d\n", lastShown = progress / 1000);
    Sleep(100);
  }
  int count = 0;
  for (int i = 0; i < kMaxFound; ++i) {
    const uint8_t* r = found.data() + size_t(i) * kPartitionBytes;
    uint64_t size, first;
    uint32_t flags;
    uint16_t type;
    int32_t number;
    std::memcpy(&number, r, 4);
    std::memcpy(&size, r + 20, 8);
    std::memcpy(&first, r + 28, 8);
    std::memcpy(&flags, r + 40, 4);
    std::memcpy(&type, r + 44, 2);
    if (size == 0) break;
    std::fprintf(g_out, "found\t%d\t%llu\t%llu\t%u\t%s\n", number, static_cast<unsigned long long>(first),
                 static_cast<unsigned long long>(size / 512), unsigned(type), (flags & 2) ? "backup" : "ok");
    ++count;
  }
  std::fprintf(g_out, "partitions: %d\n", count);
  return 0;
}

int Partitions(const std::vector<std::wstring>& args, bool repair) {
  int disk;
  if (args.size() != 2 || !ParseInt(args[1].c_str(), &disk)) return Usage();
  int task = 0;
  if (SearchPartitions(args[0], disk, &task) != 0) return 1;
  int rc = 0;
  if (repair) {
    rc = g_lib.RepairDiskPartTable(task);
    std::fprintf(g_out, "repair-table: %d\n", rc);
  }
  g_lib.CloseScanTask(task);
  return rc == 0 ? 0 : 1;
}

// Restores a partition's boot sector from its backup, then prints the partition's
// file-system type word as the core now reads it: "part NUMBER TYPE-WORD".
int RepairBoot(const std::vector<std::wstring>& args) {
  int disk, part;
  if (args.size() != 3 || !ParseInt(args[1].c_str(), &disk) || !ParseInt(args[2].c_str(), &part)) return Usage();
  HandImagesToCore({args[0]});
  if (g_lib.ServiceInitialize() <= disk) std::fprintf(stderr, "no disk %d\n", disk);
  int task = 0;
  int rc = g_lib.StartRepairPartition(disk, part, &task);
  if (rc != 0) {
    std::fprintf(stderr, "StartRepairPartition(%d, %d): %d\n", disk, part, rc);
    return 1;
  }
  for (int finished = 0; !finished;) {
    int progress = 0, files = 0, deleted = 0;
    if (g_lib.GetScanProgress(task, &progress, &files, &deleted, &finished) != 0) return 1;
    if (!finished) Sleep(50);
  }
  g_lib.CloseScanTask(task);
  // The image changed on disk: enumerate again to read the partition afresh.
  g_lib.ServiceInitialize();
  std::vector<uint8_t> record(kPartitionBytes);
  int found = 0;
  if (g_lib.ListPartitions(disk, part - 1, 1, record.data(), &found) != 0 || found != 1) return 1;
  uint16_t type;
  std::memcpy(&type, record.data() + 44, 2);
  std::fprintf(g_out, "part\t%d\t%u\n", part, unsigned(type));
  return type != 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Keep standard output for results: the library prints to the process's console.
  std::fflush(stdout);
  const int results = _dup(1);
  _dup2(2, 1);
  g_out = results >= 0 ? _fdopen(results, "wb") : nullptr;
  if (!g_out) return 1;
  _setmode(_fileno(g_out), _O_BINARY);

  if (argc < 2) return Usage();
  const std::wstring command = argv[1];
  std::vector<std::wstring> args(argv + 2, argv + argc);
  const bool known = command == L"disks" || command == L"list" || command == L"recover" || command == L"load" ||
                     command == L"partitions" || command == L"repair-table" || command == L"repair-boot";
  if (!known) return Usage();
  if (command == L"disks" && args.empty()) return Usage();
  if (!LoadLibraryExports(&g_lib)) return 1;

  int rc = 1;
  if (command == L"disks") rc = Disks(args);
  else if (command == L"list") rc = List(args);
  else if (command == L"load") rc = Load(args);
  else if (command == L"partitions") rc = Partitions(args, false);
  else if (command == L"repair-table") rc = Partitions(args, true);
  else if (command == L"repair-boot") rc = RepairBoot(args);
  else rc = Recover(args);
  std::fflush(g_out);
  std::fflush(stdout);
  return rc;
}
