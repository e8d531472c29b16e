// File recovery through Intermediate.dll's exports, as a host drives it: a scan of the
// ntfs-tree image (disk 0) and, for the hostile names, of ntfs-badnames (disk 1), then
// recoveries into fresh folders under the build's test work folder, checked file by
// file against the images' manifests.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "BoundaryRecords.h"
#include "Interface.h"
#include "LittleEndian.h"
#include "NTFSTask.h"

namespace {

const std::string kImages = RECOVERY_IMAGES_DIR;

std::wstring WindowsPath(const std::string& path) {
  std::wstring w = FromUtf8(path);
  std::replace(w.begin(), w.end(), L'/', L'\\');
  return w;
}

std::wstring Hex(uint64_t v) {
  wchar_t text[24];
  std::swprintf(text, 24, L"%llX", static_cast<unsigned long long>(v));
  return text;
}

// ---------------------------------------------------------------------------------
// Files on the host side

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

void MakeFolders(const std::wstring& path) {
  for (size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
  }
}

// Every file below root, '/'-joined relative paths, sorted.
std::vector<std::wstring> ListFiles(const std::wstring& root, const std::wstring& prefix = L"") {
  std::vector<std::wstring> out;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((root + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return out;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      for (std::wstring& sub : ListFiles(root + L"\\" + name, prefix + name + L"/")) out.push_back(std::move(sub));
    } else {
      out.push_back(prefix + name);
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  std::sort(out.begin(), out.end());
  return out;
}

std::string ReadAll(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string data;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
  CloseHandle(file);
  return data;
}

void WriteAll(const std::wstring& path, const std::string& data) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << Utf8(path);
  DWORD written = 0;
  WriteFile(file, data.data(), DWORD(data.size()), &written, nullptr);
  CloseHandle(file);
}

std::string Sha256(const std::string& data) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  std::string hex;
  if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    if (CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
      BYTE digest[32];
      DWORD length = sizeof digest;
      if (CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()), 0) &&
          CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0)) {
        char two[3];
        for (DWORD i = 0; i < length; ++i) {
          std::snprintf(two, sizeof two, "%02x", digest[i]);
          hex += two;
        }
      }
      CryptDestroyHash(hash);
    }
    CryptReleaseContext(provider, 0);
  }
  return hex;
}

// ---------------------------------------------------------------------------------
// Manifests: every file (hard-link names too) by its path from the volume root

struct ManifestFile {
  uint64_t size = 0;
  std::string sha256;
  bool deleted = false;
};

// The tab-separated columns of every line of a manifest.
std::vector<std::vector<std::string>> ManifestLines(const std::string& path) {
  std::vector<std::vector<std::string>> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream cols(line);
    for (std::string col; std::getline(cols, col, '\t');) f.push_back(col);
    lines.push_back(std::move(f));
  }
  return lines;
}

std::map<std::wstring, ManifestFile> ManifestFiles(const std::string& path) {
  std::map<std::wstring, ManifestFile> files;
  std::map<uint64_t, ManifestFile> byRecord;
  std::vector<std::pair<std::wstring, uint64_t>> aliases;
  for (const std::vector<std::string>& f : ManifestLines(path)) {
    if (f.size() >= 9 && f[0] == "entry" && f[5] == "0") {
      ManifestFile file{std::stoull(f[2]), f[3], f[4] == "1"};
      files[FromUtf8(f[1])] = file;
      byRecord[std::stoull(f[7])] = file;
    } else if (f.size() >= 3 && f[0] == "alias") {
      aliases.emplace_back(FromUtf8(f[1]), std::stoull(f[2]));
    }
  }
  for (const auto& alias : aliases) files[alias.first] = byRecord[alias.second];
  return files;
}

const std::map<std::wstring, ManifestFile>& TreeFiles() {
  static const auto files = ManifestFiles(kImages + "/ntfs/ntfs-tree.manifest");
  return files;
}

// Every file under `root` exactly the listed ones (relative path -> manifest path), each
// with the manifest's content.
void ExpectFiles(const std::wstring& root, const std::map<std::wstring, std::wstring>& want,
                 const std::map<std::wstring, ManifestFile>& manifest) {
  std::vector<std::wstring> expected;
  for (const auto& w : want) expected.push_back(w.first);
  EXPECT_EQ(ListFiles(root), expected) << Utf8(root);
  for (const auto& w : want) {
    const auto m = manifest.find(w.second);
    ASSERT_NE(m, manifest.end()) << Utf8(w.second);
    std::wstring path = root + L"\\" + w.first;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    const std::string data = ReadAll(path);
    EXPECT_EQ(data.size(), m->second.size) << Utf8(w.first);
    EXPECT_EQ(Sha256(data), m->second.sha256) << Utf8(w.first);
  }
}

// ---------------------------------------------------------------------------------
// Damaged copies of the fixture images

// A fixture image in memory whose MFT records are changed in place. Records and fields
// are found by the volume's own structure (boot sector, record header, attribute
// headers), never by fixed offsets.
class ImageCopy {
 public:
  explicit ImageCopy(const std::string& image) : m_bytes(ReadAll(WindowsPath(image))) {
    if (m_bytes.size() < 512) return;
    const uint8_t* boot = Bytes(0);
    const uint32_t cluster = uint32_t(U16(boot + 0x0B)) * boot[0x0D];
    const int8_t perRecord = int8_t(boot[0x40]);
    m_recordSize = perRecord > 0 ? cluster * uint32_t(perRecord) : 1u << -perRecord;
    m_mft = U64(boot + 0x30) * cluster;
  }

  // Record n where the boot sector puts it (the first records of $MFT lie in one run on
  // these images), its fixups applied; empty when that is not record n.
  std::string Record(uint64_t n) const {
    const uint64_t at = RecordOffset(n);
    if (at == 0) return std::string();
    std::string record = m_bytes.substr(size_t(at), m_recordSize);
    auto* r = reinterpret_cast<uint8_t*>(&record[0]);
    const uint32_t usa = U16(r + 4);
    for (uint32_t sector = 1; sector <= m_recordSize / 512; ++sector) PutU16(r + sector * 512 - 2, U16(r + usa + 2 * sector));
    return record;
  }

  // Offset in record n of its first attribute of the type; 0 when it has none.
  uint32_t Attribute(uint64_t n, uint32_t type) const {
    const std::string record = Record(n);
    if (record.empty()) return 0;
    const auto* r = reinterpret_cast<const uint8_t*>(record.data());
    for (uint32_t at = U16(r + 0x14); at + 8 <= m_recordSize;) {
      const uint32_t t = U32(r + at), length = U32(r + at + 4);
      if (t == 0xFFFFFFFF || length == 0) break;
      if (t == type) return at;
      at += length;
    }
    return 0;
  }

  // The run list of record n's first $DATA attribute, as an offset into the record.
  uint32_t RunList(uint64_t n) const {
    const uint32_t data = Attribute(n, 0x80);
    const std::string record = Record(n);
    if (data == 0 || record[data + 8] != 1) return 0;
    return data + U16(reinterpret_cast<const uint8_t*>(record.data()) + data + 0x20);
  }

  // Character i of the name in record n's first $FILE_NAME, as an offset into the record.
  uint32_t NameChar(uint64_t n, uint32_t i) const {
    const uint32_t name = Attribute(n, 0x30);
    if (name == 0) return 0;
    const std::string record = Record(n);
    return name + U16(reinterpret_cast<const uint8_t*>(record.data()) + name + 0x14) + 0x42 + 2 * i;
  }

  // Writes the byte at offset `at` of record n where it lies on disk: the last word of
  // each sector is kept in the update sequence.
  void SetRecordByte(uint64_t n, uint32_t at, uint8_t value) {
    const uint64_t record = RecordOffset(n);
    ASSERT_NE(record, 0u) << "record " << n;
    ASSERT_LT(at, m_recordSize);
    uint64_t where = record + at;
    if (at % 512 >= 510) where = record + U16(Bytes(size_t(record)) + 4) + 2 * (at / 512 + 1) + at % 2;
    m_bytes[size_t(where)] = char(value);
  }
  void SetNameChar(uint64_t n, uint32_t i, wchar_t c) {
    const uint32_t at = NameChar(n, i);
    ASSERT_NE(at, 0u) << "record " << n << " has no name";
    SetRecordByte(n, at, uint8_t(c));
    SetRecordByte(n, at + 1, uint8_t(c >> 8));
  }
  // A record that no reader takes for one.
  void BreakRecord(uint64_t n) {
    const uint64_t record = RecordOffset(n);
    ASSERT_NE(record, 0u) << "record " << n;
    m_bytes.replace(size_t(record), 4, "BAAD");
  }

  // Saves the copy as path (made under the test work folder); its narrow form for the core.
  std::string Save(const std::wstring& path) const {
    MakeFolders(path.substr(0, path.rfind(L'\\')));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    DWORD written = 0;
    const bool ok = WriteFile(file, m_bytes.data(), DWORD(m_bytes.size()), &written, nullptr) &&
                    written == m_bytes.size();
    CloseHandle(file);
    return ok ? Utf8(path) : std::string();
  }

 private:
  const uint8_t* Bytes(size_t at) const { return reinterpret_cast<const uint8_t*>(m_bytes.data()) + at; }
  uint64_t RecordOffset(uint64_t n) const {
    const uint64_t at = m_mft + n * m_recordSize;
    if (m_recordSize < 512 || at + m_recordSize > m_bytes.size()) return 0;
    const uint8_t* r = Bytes(size_t(at));
    return std::memcmp(r, "FILE", 4) == 0 && U32(r + 0x2C) == n ? at : 0;
  }

  std::string m_bytes;
  uint64_t m_mft = 0;
  uint32_t m_recordSize = 0;
};

// Every file of a manifest that the normal scan finds, by record: path, size, digest.
// Links are left out (their bytes are their targets').
struct RecordFile {
  std::wstring path;
  uint64_t size = 0;
  std::string sha256;
};
std::map<uint64_t, RecordFile> FilesByRecord(const std::string& manifest) {
  std::map<uint64_t, RecordFile> files;
  std::vector<uint64_t> links;
  for (const std::vector<std::string>& f : ManifestLines(manifest)) {
    if (f.size() >= 9 && f[0] == "entry" && f[5] == "0" && f[8] == "normal") {
      files[std::stoull(f[7])] = RecordFile{FromUtf8(f[1]), std::stoull(f[2]), f[3]};
    } else if (f.size() >= 3 && f[0] == "reparse") {
      links.push_back(std::stoull(f[2]));
    }
  }
  for (uint64_t link : links) files.erase(link);
  return files;
}

// The manifest record of a path.
uint64_t RecordOf(const std::map<uint64_t, RecordFile>& files, const wchar_t* path) {
  for (const auto& f : files) {
    if (f.second.path == path) return f.first;
  }
  return 0;
}

// ---------------------------------------------------------------------------------
// The DLL

int SetTargetPath(int task, const std::wstring& root) {
  int freeMB[2] = {0, 0};
  return Dll().Get<int(__cdecl*)(int, const wchar_t*, int*)>("SetTargetPath")(task, root.c_str(), freeMB);
}
int RecoverFile(int task, int mode, int count, const wchar_t* folder, const wchar_t* names, const int* sources) {
  return Dll().Get<int(__cdecl*)(int, int, int, const wchar_t*, const wchar_t*, const int*)>("RecoverFile")(
      task, mode, count, folder, names, sources);
}
int RecoverFileByID(int task, int count, const wchar_t* target, const RecoverIdItem* items) {
  return Dll().Get<int(__cdecl*)(int, int, const wchar_t*, const RecoverIdItem*)>("RecoverFileByID")(
      task, count, target, items);
}
int StopWork(int task) { return Dll().Get<int(__cdecl*)(int)>("StopWork")(task); }
int CloseScanTask(int task) { return Dll().Get<int(__cdecl*)(int)>("CloseScanTask")(task); }

struct Progress {
  int result = -1;
  int recovered = -1;
  int finished = -1;
};
Progress RecoverProgress(int task) {
  Progress p;
  p.result = Dll().Get<int(__cdecl*)(int, int*, int*)>("GetRecoverProgress")(task, &p.recovered, &p.finished);
  return p;
}

// Waits for the recovery's end; the number of files it wrote, -1 when it did not end.
int WaitRecovered(int task) {
  Progress p;
  if (!WaitFor([&] { return (p = RecoverProgress(task)).finished == 1; }, 120000)) return -1;
  return p.recovered;
}

// Scans disk `disk`, partition 1 to its end; the task id, 0 on failure.
int ScanToEnd(int disk) {
  int task = 0;
  if (Dll().Get<int(__cdecl*)(int, int, int, int*)>("StartScanTask")(disk, 1, 0, &task) != 0) return 0;
  int progress = 0, files = 0, deleted = 0, finished = 0;
  const bool done = WaitFor(
      [&] {
        return Dll().Get<int(__cdecl*)(int, int*, int*, int*, int*)>("GetScanProgress")(task, &progress, &files,
                                                                                          &deleted, &finished) != 0 ||
               finished == 1;
      },
      60000);
  return done && finished == 1 ? task : 0;
}

std::vector<ScanFileRecord> Children(int task, const std::wstring& treePath) {
  using EnumFn = int(__cdecl*)(int, const wchar_t*, int, ScanFileRecord*, int*, int*, int*, int*, uint64_t*,
                               uint64_t*, int*);
  std::vector<ScanFileRecord> page(64), all;
  int got = 0, handle = 0;
  int r = Dll().Get<EnumFn>("EnumScannedFiles")(task, (treePath + L"/").c_str(), int(page.size()), page.data(), &got,
                                                nullptr, nullptr, nullptr, nullptr, nullptr, &handle);
  while (r == 0 && got > 0) {
    all.insert(all.end(), page.begin(), page.begin() + got);
    r = Dll().Get<int(__cdecl*)(int, int, int, ScanFileRecord*, int*)>("ContinueEnumScannedFiles")(
        task, handle, int(page.size()), page.data(), &got);
  }
  if (handle) Dll().Get<int(__cdecl*)(int, int)>("CloseEnumHandle")(task, handle);
  return all;
}

const ScanFileRecord* Named(const std::vector<ScanFileRecord>& records, const wchar_t* name) {
  for (const ScanFileRecord& r : records) {
    if (std::wcscmp(r.name, name) == 0) return &r;
  }
  return nullptr;
}

// "name:ID" as RecoverFile's names take it, and a tree path step.
std::wstring Item(const ScanFileRecord& r) { return r.name + (L":" + Hex(r.id)); }
std::wstring Under(const std::wstring& treePath, const ScanFileRecord& r) { return treePath + L"/" + Item(r); }

// RecoverFile's names: NUL-separated texts.
struct NameList {
  explicit NameList(const std::vector<std::wstring>& names, int task) {
    for (const std::wstring& n : names) text += n + L'\0';
    sources.assign(names.size(), task);
  }
  std::wstring text;
  std::vector<int> sources;
};

int RecoverByName(int task, int mode, const std::wstring& folder, const std::vector<std::wstring>& names) {
  NameList list(names, task);
  return RecoverFile(task, mode, int(names.size()), folder.c_str(), list.text.c_str(), list.sources.data());
}

// The volume root's tree path (":/Root:6"), without the trailing '/'.
std::wstring RootTreePath(int task) {
  for (const ScanFileRecord& r : Children(task, L":")) {
    if (r.id != 0 && r.id == r.parentId) return L":/" + Item(r);
  }
  return std::wstring();
}

// Items recovered from the volume root's folder may come under "Root" in the target.
std::wstring RootCopies(const std::wstring& target) {
  return Exists(target + L"\\Root") ? target + L"\\Root" : target;
}

// A copy of ntfs-tree whose names no Windows file can hold: '/' in old/1960.txt, a lone
// low surrogate in 文件夹/报告.txt and a lone high one at the end of readme.txt. What
// each becomes in a target, by its manifest path.
const std::map<std::wstring, std::wstring>& UnholdableNames() {
  static const std::map<std::wstring, std::wstring> names = {
      {L"old/1960.txt", L"old/19_0.txt"},
      {L"文件夹/报告.txt", L"文件夹/报_.txt"},
      {L"readme.txt", L"readme.tx_"},
  };
  return names;
}
std::string MakeUnholdableNamesImage(const std::wstring& path) {
  ImageCopy image(kImages + "/ntfs/ntfs-tree.img");
  const auto files = FilesByRecord(kImages + "/ntfs/ntfs-tree.manifest");
  image.SetNameChar(RecordOf(files, L"old/1960.txt"), 2, L'/');
  image.SetNameChar(RecordOf(files, L"文件夹/报告.txt"), 1, wchar_t(0xDC00));
  image.SetNameChar(RecordOf(files, L"readme.txt"), 9, wchar_t(0xD83D));
  return image.Save(path);
}

class RecoveryDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!Dll().dll || !CoreModule() || !CoreFn<void*>("NTFSEnumVirtualFRs")) return;
    // Test programs run side by side: each has its own damaged copies.
    s_copy = WindowsPath(RECOVERY_TEST_WORK_DIR) + L"\\ntfs-tree-names-" + std::to_wstring(GetCurrentProcessId()) +
             L".img";
    const std::string renamed = MakeUnholdableNamesImage(s_copy);
    if (renamed.empty()) return;
    const std::string images =
        kImages + "/ntfs/ntfs-tree.img;" + kImages + "/ntfs/ntfs-badnames.img;" + renamed;
    CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(images.c_str());
    if (Dll().Get<int(__cdecl*)()>("ServiceInitialize")() != 3) return;
    s_task = ScanToEnd(0);
    if (s_task) s_root = RootTreePath(s_task);
  }
  static void TearDownTestSuite() {
    if (s_task) CloseScanTask(s_task);
    s_task = 0;
    DeleteFileW(s_copy.c_str());
  }

  void SetUp() override {
    ASSERT_NE(Dll().dll, nullptr);
    ASSERT_NE(CoreModule(), nullptr);
    if (!CoreFn<void*>("NTFSEnumVirtualFRs")) GTEST_SKIP() << "the stand-in core has no NTFS walk";
    ASSERT_NE(s_task, 0) << "the scan of ntfs-tree did not finish";
    ASSERT_FALSE(s_root.empty());
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_work = WindowsPath(RECOVERY_TEST_WORK_DIR) + L"\\recovery\\" + FromUtf8(info->name());
    RemoveTree(m_work);
    MakeFolders(m_work);
    ASSERT_TRUE(Exists(m_work));
    // Every recovery starts from an idle task: a start would otherwise wait for ever.
    ASSERT_EQ(RecoverProgress(s_task).finished, 1);
  }

  // A fresh target root below the test's work folder.
  std::wstring Target(const std::wstring& name) {
    const std::wstring target = m_work + L"\\" + name;
    MakeFolders(target);
    return target;
  }

  const ScanFileRecord& At(const std::wstring& folderTreePath, const wchar_t* name) {
    static std::map<std::wstring, std::vector<ScanFileRecord>> cache;
    auto& records = cache[folderTreePath];
    if (records.empty()) records = Children(s_task, folderTreePath);
    const ScanFileRecord* r = Named(records, name);
    static const ScanFileRecord none{};
    EXPECT_NE(r, nullptr) << Utf8(folderTreePath) << " " << Utf8(name);
    return r ? *r : none;
  }

  static int s_task;
  static std::wstring s_root;
  static std::wstring s_copy;
  std::wstring m_work;
};

int RecoveryDll::s_task = 0;
std::wstring RecoveryDll::s_root;
std::wstring RecoveryDll::s_copy;

TEST_F(RecoveryDll, BadArgumentsAnswerAtOnceAndLeaveTheTaskIdle) {
  const std::wstring target = Target(L"target");
  SetTargetPath(s_task, target);
  const ScanFileRecord& readme = At(s_root, L"readme.txt");
  const RecoverIdItem item{readme.id, L"readme.txt", uint32_t(s_task)};
  const NameList one({Item(readme)}, s_task);
  const wchar_t* names = one.text.c_str();
  const int* sources = one.sources.data();
  const int t = s_task;
  const wchar_t* root = s_root.c_str();

  struct Case {
    const char* name;
    std::function<int()> call;
    int expected;
  } const cases[] = {
      {"by id, count 0", [&] { return RecoverFileByID(t, 0, L"/", &item); }, -87},
      {"by id, count -1", [&] { return RecoverFileByID(t, -1, L"/", &item); }, -87},
      {"by id, no target folder", [&] { return RecoverFileByID(t, 1, nullptr, &item); }, -87},
      {"by id, target folder without '/'", [&] { return RecoverFileByID(t, 1, L"sub", &item); }, -87},
      {"by id, empty target folder", [&] { return RecoverFileByID(t, 1, L"", &item); }, -87},
      {"by id, no items", [&] { return RecoverFileByID(t, 1, L"/", nullptr); }, -87},
      {"by id, unknown task", [&] { return RecoverFileByID(t + 100, 1, L"/", &item); }, -2},
      {"by name, count 0", [&] { return RecoverFile(t, 0, 0, root, names, sources); }, -87},
      {"by name, count -1", [&] { return RecoverFile(t, 0, -1, root, names, sources); }, -87},
      {"by name, no folder", [&] { return RecoverFile(t, 0, 1, nullptr, names, sources); }, -87},
      {"by name, no names", [&] { return RecoverFile(t, 0, 1, root, nullptr, sources); }, -87},
      {"by name, count whose 512-byte slots wrap", [&] { return RecoverFile(t, 0, 0x800001, root, names, sources); }, -87},
      {"by name, unknown task", [&] { return RecoverFile(t + 100, 0, 1, root, names, sources); }, -2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(), c.expected) << c.name;
    const Progress p = RecoverProgress(s_task);
    EXPECT_EQ(p.result, 0) << c.name;
    ASSERT_EQ(p.finished, 1) << c.name << ": no recovery runs after a refusal";
    EXPECT_EQ(ListFiles(target), std::vector<std::wstring>()) << c.name;
  }
  // The task still recovers.
  ASSERT_EQ(RecoverFileByID(s_task, 1, L"/", &item), 0);
  EXPECT_EQ(WaitRecovered(s_task), 1);
  ExpectFiles(target, {{L"readme.txt", L"readme.txt"}}, TreeFiles());
}

TEST_F(RecoveryDll, UnwritableTargetFailsAtOnceAndCreatesNothing) {
  const ScanFileRecord& readme = At(s_root, L"readme.txt");
  const ScanFileRecord& docs = At(s_root, L"docs");
  const RecoverIdItem item{readme.id, L"sub/readme.txt", uint32_t(s_task)};
  const std::wstring docsPath = Under(s_root, docs);
  const std::wstring report = Item(At(docsPath, L"report.txt"));

  const std::wstring missing = m_work + L"\\missing\\deeper";
  SetTargetPath(s_task, missing);
  int r = RecoverFileByID(s_task, 1, L"/", &item);
  EXPECT_TRUE(r == -3 || r == -2) << r;
  EXPECT_EQ(RecoverProgress(s_task).finished, 1);
  r = RecoverByName(s_task, 0, docsPath, {report});
  EXPECT_TRUE(r == -3 || r == -2) << r;
  EXPECT_EQ(RecoverProgress(s_task).finished, 1);
  EXPECT_FALSE(Exists(m_work + L"\\missing"));

  // Wine refuses to create files under /proc even for root: a folder that exists and
  // cannot be written. The library must answer the error its probe met.
  const std::wstring readOnly = L"Z:\\proc\\sys\\kernel";
  const std::wstring probe = readOnly + L"\\recover.id.log";
  HANDLE h = CreateFileW(probe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  const int error = -int(GetLastError());
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    DeleteFileW(probe.c_str());
    GTEST_SKIP() << "this system lets us write into " << Utf8(readOnly);
  }
  SetTargetPath(s_task, readOnly);
  EXPECT_EQ(RecoverFileByID(s_task, 1, L"/", &item), error);
  EXPECT_EQ(RecoverProgress(s_task).finished, 1);
  EXPECT_EQ(RecoverByName(s_task, 0, docsPath, {report}), error);
  EXPECT_EQ(RecoverProgress(s_task).finished, 1);
  EXPECT_FALSE(Exists(readOnly + L"\\sub"));
  EXPECT_FALSE(Exists(readOnly + L"\\docs"));
}

TEST_F(RecoveryDll, FolderRecoveredAgainGoesToTheNextNumberedCopyWithExactContents) {
  const std::wstring target = Target(L"target");
  SetTargetPath(s_task, target);
  const std::wstring docs = Item(At(s_root, L"docs"));
  std::map<std::wstring, std::wstring> want;
  size_t perCopy = 0;
  for (const auto& f : TreeFiles()) {
    if (f.first.rfind(L"docs/", 0) != 0) continue;
    ++perCopy;
    for (const wchar_t* copy : {L"docs", L"docs_(1)", L"docs_(2)"}) want[copy + f.first.substr(4)] = f.first;
  }
  ASSERT_EQ(perCopy, 6u) << "five files and a second name of report.txt";
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(RecoverByName(s_task, 0, s_root, {docs}), 0) << round;
    EXPECT_EQ(WaitRecovered(s_task), int(perCopy)) << round;
  }
  const std::wstring copies = RootCopies(target);
  ExpectFiles(copies, want, TreeFiles());
  if (copies != target) {
    EXPECT_EQ(ListFiles(target).size(), want.size()) << "nothing beside Root";
  }
}

TEST_F(RecoveryDll, DeletedOnlyModeTakesTheDeletedFilesOfEveryFolderBelow) {
  const std::wstring target = Target(L"target");
  SetTargetPath(s_task, target);
  // Every folder of the root, and its deleted file; its live files are left out, since a
  // file named by itself is recovered in every mode.
  std::vector<std::wstring> items;
  for (const ScanFileRecord& r : Children(s_task, s_root)) {
    if ((r.attributes & kAttrFolderMask) || (r.attributes & kAttrDeleted)) items.push_back(Item(r));
  }
  std::map<std::wstring, std::wstring> want;
  for (const auto& f : TreeFiles()) {
    if (f.second.deleted) want[f.first] = f.first;
  }
  ASSERT_EQ(want.size(), 4u);
  ASSERT_EQ(RecoverByName(s_task, 1, s_root, items), 0);
  EXPECT_EQ(WaitRecovered(s_task), int(want.size()));
  ExpectFiles(RootCopies(target), want, TreeFiles());
}

TEST_F(RecoveryDll, NameWithoutIdIsSkippedAndTheOthersAreRecovered) {
  const std::wstring target = Target(L"target");
  SetTargetPath(s_task, target);
  const std::wstring docs = Under(s_root, At(s_root, L"docs"));
  const std::vector<std::wstring> names = {Item(At(docs, L"report.txt")), L"photo.bin", Item(At(docs, L"draft.txt"))};
  ASSERT_EQ(RecoverByName(s_task, 0, docs, names), 0);
  EXPECT_EQ(WaitRecovered(s_task), 2);
  ExpectFiles(target, {{L"docs/draft.txt", L"docs/draft.txt"}, {L"docs/report.txt", L"docs/report.txt"}},
              TreeFiles());
}

TEST_F(RecoveryDll, ExistingFilesAreKeptAndTheNewOneTakesTheFirstFreeNumber) {
  const ScanFileRecord& readme = At(s_root, L"readme.txt");
  const std::string kept = "kept by the user\n";
  struct Case {
    const wchar_t* root;  // target root below the work folder
    const wchar_t* item;  // the item's target name
    std::vector<std::wstring> existing;
    bool readOnly;
    const wchar_t* expected;
  } const cases[] = {
      {L"plain", L"readme.txt", {L"readme.txt"}, true, L"readme_(1).txt"},
      {L"second", L"readme.txt", {L"readme.txt", L"readme_(1).txt"}, false, L"readme_(2).txt"},
      {L"rel.2", L"readme", {L"readme"}, false, L"readme_(1)"},
      {L"nested", L"v1.0/readme", {L"v1.0/readme"}, false, L"v1.0/readme_(1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.root));
    const std::wstring target = Target(c.root);
    for (std::wstring name : c.existing) {
      std::replace(name.begin(), name.end(), L'/', L'\\');
      MakeFolders((target + L"\\" + name).substr(0, (target + L"\\" + name).rfind(L'\\')));
      WriteAll(target + L"\\" + name, kept);
      if (c.readOnly) SetFileAttributesW((target + L"\\" + name).c_str(), FILE_ATTRIBUTE_READONLY);
    }
    SetTargetPath(s_task, target);
    const RecoverIdItem item{readme.id, c.item, uint32_t(s_task)};
    ASSERT_EQ(RecoverFileByID(s_task, 1, L"/", &item), 0);
    EXPECT_EQ(WaitRecovered(s_task), 1);
    std::vector<std::wstring> want = c.existing;
    want.push_back(c.expected);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(ListFiles(target), want);
    for (std::wstring name : c.existing) {
      std::replace(name.begin(), name.end(), L'/', L'\\');
      EXPECT_EQ(ReadAll(target + L"\\" + name), kept) << Utf8(name);
      if (c.readOnly) {
        EXPECT_TRUE(GetFileAttributesW((target + L"\\" + name).c_str()) & FILE_ATTRIBUTE_READONLY) << Utf8(name);
      }
    }
    std::wstring made = target + L"\\" + c.expected;
    std::replace(made.begin(), made.end(), L'/', L'\\');
    EXPECT_EQ(Sha256(ReadAll(made)), TreeFiles().at(L"readme.txt").sha256);
  }
  // Nothing landed beside the case folders (a suffix put on a dotted folder would).
  std::vector<std::wstring> tops;
  for (const std::wstring& f : ListFiles(m_work)) tops.push_back(f.substr(0, f.find(L'/')));
  tops.erase(std::unique(tops.begin(), tops.end()), tops.end());
  EXPECT_EQ(tops, (std::vector<std::wstring>{L"nested", L"plain", L"rel.2", L"second"}));
}

TEST_F(RecoveryDll, HostileNamesStayInsideTheTargetUnderSafeNames) {
  const int task = ScanToEnd(1);
  ASSERT_NE(task, 0) << "scan of ntfs-badnames";
  const std::wstring root = RootTreePath(task);
  const auto manifest = ManifestFiles(kImages + "/ntfs/ntfs-badnames.manifest");
  const std::map<std::wstring, std::wstring> safe = {
      {L"climb/__/escaped.txt", L"climb/../escaped.txt"},
      {L"dot/_", L"dot/."},
      {L"names/.._.._up.txt", L"names/..\\..\\up.txt"},
      {L"names/C__evil.txt", L"names/C:\\evil.txt"},
      {L"names/_CON", L"names/CON"},
      {L"names/ads_stream.txt", L"names/ads:stream.txt"},
      {L"names/gone_.txt", L"names/gone?.txt"},
      {L"names/pipe_lt_gt_.txt", L"names/pipe|lt<gt>.txt"},
      {L"names/quote_.txt", L"names/quote\".txt"},
      {L"names/space_", L"names/space "},
      {L"names/star_.txt", L"names/star*.txt"},
      {L"names/trail_", L"names/trail."},
      {L"names/why_.txt", L"names/why?.txt"},
  };
  ASSERT_EQ(safe.size(), manifest.size());
  const bool evilBefore = Exists(L"C:\\evil.txt");
  const std::wstring sandbox = Target(L"sandbox");

  // Folders by name: the names come from the disk.
  const std::wstring byFolder = Target(L"sandbox\\folders");
  SetTargetPath(task, byFolder);
  std::vector<std::wstring> folders;
  for (const ScanFileRecord& r : Children(task, root)) folders.push_back(Item(r));
  ASSERT_EQ(folders.size(), 3u);
  ASSERT_EQ(RecoverByName(task, 0, root, folders), 0);
  EXPECT_EQ(WaitRecovered(task), int(safe.size()));
  ExpectFiles(RootCopies(byFolder), safe, manifest);

  // A folder path that holds "..".
  const std::wstring up = Target(L"sandbox\\up");
  SetTargetPath(task, up);
  const std::wstring climbPath = Under(root, *Named(Children(task, root), L"climb"));
  const std::wstring dotDot = Under(climbPath, *Named(Children(task, climbPath), L".."));
  const std::vector<ScanFileRecord> inDotDot = Children(task, dotDot);
  const ScanFileRecord* escaped = Named(inDotDot, L"escaped.txt");
  ASSERT_NE(escaped, nullptr);
  ASSERT_EQ(RecoverByName(task, 0, dotDot, {Item(*escaped)}), 0);
  EXPECT_EQ(WaitRecovered(task), 1);
  ExpectFiles(up, {{L"climb/__/escaped.txt", L"climb/../escaped.txt"}}, manifest);

  // Target names from the host: the full paths, and some made to climb out.
  const std::wstring byId = Target(L"sandbox\\ids");
  SetTargetPath(task, byId);
  std::vector<std::wstring> texts;
  std::vector<uint64_t> ids;
  std::map<std::wstring, std::wstring> want = safe;
  for (const auto& s : safe) {
    // The manifest path's names walked through the tree: "climb/../escaped.txt" has three.
    std::wstring tree = root;
    std::wstringstream path(s.second);
    ScanFileRecord r{};
    for (std::wstring name; std::getline(path, name, L'/');) {
      const std::vector<ScanFileRecord> children = Children(task, tree);
      const ScanFileRecord* child = Named(children, name.c_str());
      ASSERT_NE(child, nullptr) << Utf8(s.second);
      r = *child;
      tree = Under(tree, r);
    }
    wchar_t full[1024] = {};
    Dll().Get<int(__cdecl*)(int, uint64_t, wchar_t*)>("QueryFileFullPath")(task, r.id, full);
    texts.push_back(full[0] == L'/' ? full + 1 : full);
    ids.push_back(r.id);
  }
  const uint64_t escapedId = escaped->id;
  const std::pair<const wchar_t*, const wchar_t*> climbing[] = {
      {L"../outside.txt", L"__/outside.txt"},
      {L"C:/evil.txt", L"C_/evil.txt"},
      {L"x/./y.txt", L"x/_/y.txt"},
  };
  for (const auto& c : climbing) {
    texts.push_back(c.first);
    ids.push_back(escapedId);
    want[c.second] = L"climb/../escaped.txt";
  }
  std::vector<RecoverIdItem> items;
  for (size_t i = 0; i < texts.size(); ++i) items.push_back(RecoverIdItem{ids[i], texts[i].c_str(), uint32_t(task)});
  ASSERT_EQ(RecoverFileByID(task, int(items.size()), L"/", items.data()), 0);
  EXPECT_EQ(WaitRecovered(task), int(items.size()));
  ExpectFiles(byId, want, manifest);

  // A target folder that climbs, and names with empty parts: wherever they go, it is
  // inside the target.
  const std::wstring climbs = Target(L"sandbox\\climbs");
  SetTargetPath(task, climbs);
  const RecoverIdItem odd[] = {{escapedId, L"inside.txt", uint32_t(task)},
                               {escapedId, L"/lead.txt", uint32_t(task)},
                               {escapedId, L"a//b.txt", uint32_t(task)}};
  ASSERT_EQ(RecoverFileByID(task, 3, L"../", odd), 0);
  EXPECT_EQ(WaitRecovered(task), 3);
  const std::vector<std::wstring> inside = ListFiles(climbs);
  EXPECT_EQ(inside.size(), 3u);
  for (const std::wstring& f : inside) {
    std::wstring path = climbs + L"\\" + f;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    EXPECT_EQ(Sha256(ReadAll(path)), manifest.at(L"climb/../escaped.txt").sha256) << Utf8(f);
  }

  // Nothing anywhere but below the four targets.
  for (const std::wstring& f : ListFiles(m_work)) {
    const std::wstring top = f.substr(0, f.find(L'/', f.find(L'/') + 1));
    EXPECT_TRUE(top == L"sandbox/folders" || top == L"sandbox/up" || top == L"sandbox/ids" ||
                top == L"sandbox/climbs")
        << Utf8(f);
  }
  EXPECT_EQ(Exists(L"C:\\evil.txt"), evilBefore);
  EXPECT_EQ(CloseScanTask(task), 0);
}

TEST_F(RecoveryDll, NamesNoWindowsFileCanHoldGetReplacedCharactersInsideTheTarget) {
  const int task = ScanToEnd(2);
  ASSERT_NE(task, 0) << "scan of the renamed ntfs-tree copy";
  const std::wstring root = RootTreePath(task);
  // The three entries as the scan lists them, each with its manifest path.
  struct Renamed {
    std::wstring manifestPath;
    ScanFileRecord record;
  };
  std::vector<Renamed> renamed;
  const std::wstring listed[][3] = {
      {L"old/1960.txt", L"old", L"19/0.txt"},
      {L"文件夹/报告.txt", L"文件夹", std::wstring(L"报") + wchar_t(0xDC00) + L".txt"},
      {L"readme.txt", L"", std::wstring(L"readme.tx") + wchar_t(0xD83D)},
  };
  for (const auto& l : listed) {
    std::wstring folder = root;
    if (!l[1].empty()) {
      const ScanFileRecord* f = Named(Children(task, root), l[1].c_str());
      ASSERT_NE(f, nullptr) << Utf8(l[1]);
      folder = Under(root, *f);
    }
    const ScanFileRecord* r = Named(Children(task, folder), l[2].c_str());
    ASSERT_NE(r, nullptr) << Utf8(l[0]) << " is not listed under its changed name";
    renamed.push_back(Renamed{l[0], *r});
  }
  std::map<std::wstring, std::wstring> want;
  for (const auto& n : UnholdableNames()) want[n.second] = n.first;

  // By id, under the names a host makes from the full paths: the '/' in a name is no
  // folder of the target.
  const std::wstring byId = Target(L"ids");
  SetTargetPath(task, byId);
  std::vector<std::wstring> texts;
  std::vector<RecoverIdItem> items;
  for (const Renamed& r : renamed) {
    wchar_t full[1024] = {};
    Dll().Get<int(__cdecl*)(int, uint64_t, wchar_t*)>("QueryFileFullPath")(task, r.record.id, full);
    texts.push_back(full[0] == L'/' ? full + 1 : full);
  }
  EXPECT_EQ(texts[0], L"old/19/0.txt");
  for (size_t i = 0; i < renamed.size(); ++i) items.push_back(RecoverIdItem{renamed[i].record.id, texts[i].c_str(), uint32_t(task)});
  ASSERT_EQ(RecoverFileByID(task, int(items.size()), L"/", items.data()), 0);
  EXPECT_EQ(WaitRecovered(task), int(items.size()));
  ExpectFiles(byId, want, TreeFiles());

  // By name from the root: the file itself and the folders of the others (each holds
  // only that file).
  const std::wstring byName = Target(L"names");
  SetTargetPath(task, byName);
  std::vector<std::wstring> fromRoot;
  for (const wchar_t* name : {L"old", L"文件夹"}) fromRoot.push_back(Item(*Named(Children(task, root), name)));
  fromRoot.push_back(Item(renamed[2].record));
  ASSERT_EQ(RecoverByName(task, 0, root, fromRoot), 0);
  EXPECT_EQ(WaitRecovered(task), int(renamed.size()));
  ExpectFiles(RootCopies(byName), want, TreeFiles());
  EXPECT_EQ(CloseScanTask(task), 0);
}

TEST_F(RecoveryDll, StopWorkEndsARecoveryOfEverythingWithFinishedSet) {
  const std::wstring target = Target(L"target");
  SetTargetPath(s_task, target);
  // Every file of the scan, twenty times over.
  using GlobalFn = int(__cdecl*)(int, int, int, ScanFileRecord*, int*, int*);
  using NextFn = int(__cdecl*)(int, int, int, ScanFileRecord*, int*);
  std::vector<ScanFileRecord> page(256), files;
  int got = 0, handle = 0;
  int r = Dll().Get<GlobalFn>("GlobalEnumScannedFiles")(s_task, 0, int(page.size()), page.data(), &got, &handle);
  while (r == 0 && got > 0) {
    for (int i = 0; i < got; ++i) {
      if (!(page[size_t(i)].attributes & kAttrFolderMask)) files.push_back(page[size_t(i)]);
    }
    r = Dll().Get<NextFn>("ContinueGlobalEnumScannedFiles")(s_task, handle, int(page.size()), page.data(), &got);
  }
  if (handle) Dll().Get<int(__cdecl*)(int, int)>("CloseEnumHandle")(s_task, handle);
  ASSERT_FALSE(files.empty());
  std::vector<std::wstring> names;
  std::map<std::wstring, uint64_t> sizes;
  std::vector<RecoverIdItem> items;
  for (int round = 0; round < 20; ++round) {
    for (size_t i = 0; i < files.size(); ++i) {
      names.push_back(L"round" + std::to_wstring(round) + L"/" + std::to_wstring(i) + L"-" + files[i].name);
      sizes[names.back()] = files[i].size;
    }
  }
  for (size_t i = 0; i < names.size(); ++i) {
    items.push_back(RecoverIdItem{files[i % files.size()].id, names[i].c_str(), uint32_t(s_task)});
  }

  // The stand-in holds the recovery in a partition read a few files in; paused there, it
  // ends the file it is in and waits before the next one, where the stop finds it.
  using HoldFn = int(__cdecl*)(int);
  const auto release = CoreFn<int(__cdecl*)()>("QvtdReleaseReads");
  ASSERT_NE(release, nullptr);
  struct Release {
    int(__cdecl* fn)();
    ~Release() { fn(); }
  } const released{release};
  ASSERT_EQ(CoreFn<HoldFn>("QvtdHoldReads")(40), 0);
  ASSERT_EQ(RecoverFileByID(s_task, int(items.size()), L"/", items.data()), 0);
  ASSERT_EQ(CoreFn<HoldFn>("QvtdWaitReadHeld")(120000), 0) << "the recovery never reached its 41st read";
  EXPECT_EQ(RecoverProgress(s_task).finished, 0);
  const int before = RecoverProgress(s_task).recovered;
  EXPECT_EQ(Dll().Get<int(__cdecl*)(int, int)>("PauseWork")(s_task, 1), 1);
  release();
  EXPECT_EQ(StopWork(s_task), 1);
  const Progress p = RecoverProgress(s_task);
  EXPECT_EQ(p.finished, 1);
  // The file held, and at most the one the stop came in, were still written.
  EXPECT_GE(p.recovered, before + 1);
  EXPECT_LE(p.recovered, before + 2);
  EXPECT_LT(p.recovered, int(items.size()));
  // Only whole files are left, and each one was counted.
  const std::vector<std::wstring> written = ListFiles(target);
  EXPECT_EQ(int(written.size()), p.recovered);
  for (const std::wstring& f : written) {
    const auto size = sizes.find(f);
    ASSERT_NE(size, sizes.end()) << Utf8(f);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW((target + L"\\" + f).c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow, size->second) << Utf8(f);
  }
  // The task recovers again afterwards, unpaused.
  const std::wstring after = Target(L"after");
  SetTargetPath(s_task, after);
  const RecoverIdItem readme{At(s_root, L"readme.txt").id, L"readme.txt", uint32_t(s_task)};
  ASSERT_EQ(RecoverFileByID(s_task, 1, L"/", &readme), 0);
  EXPECT_EQ(WaitRecovered(s_task), 1);
  ExpectFiles(after, {{L"readme.txt", L"readme.txt"}}, TreeFiles());
}

// ---------------------------------------------------------------------------------
// Inside the library: the product's own task classes over damaged copies, one file at
// a time, with RecoverOneFile's own results.

class NtfsFileRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(CoreModule(), nullptr);
    if (!CoreFn<void*>("NTFSEnumVirtualFRs")) GTEST_SKIP() << "the stand-in core has no NTFS walk";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_work = WindowsPath(RECOVERY_TEST_WORK_DIR) + L"\\recovery-one\\" + FromUtf8(info->name());
    RemoveTree(m_work);
    MakeFolders(m_work);
    ASSERT_TRUE(Exists(m_work));
  }
  void TearDown() override {
    SetAllocationFailureAtForTest(0);
    for (int32_t id : m_ids) m_storage.CloseScanTask(id);
  }

  // Scans the image (a path as the core takes it) as disk 0, partition 1; the finished
  // task, null when the scan did not finish.
  CStorage::CNTFSScanTask* Scan(const std::string& image) {
    CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")(image.c_str());
    if (m_storage.Initialize() != 1) return nullptr;
    int32_t id = 0;
    if (m_storage.StartScanTask(0, 1, 0, &id) != 0) return nullptr;
    m_ids.push_back(id);
    std::shared_ptr<CStorage::CScanTask> task = m_storage.FindTask(id);
    if (!task || !WaitFor([&] { return task->IsFinished(); }, 60000)) return nullptr;
    return static_cast<CStorage::CNTFSScanTask*>(task.get());
  }

  CStorage m_storage;
  std::vector<int32_t> m_ids;
  std::wstring m_work;
};

// The records that hold the $DATA extents of a manifest file, in VCN order.
std::vector<uint64_t> ExtentHosts(const std::string& manifest, const std::string& path) {
  for (const std::vector<std::string>& f : ManifestLines(manifest)) {
    if (f.size() < 10 || f[0] != "entry" || f[1] != path) continue;
    const size_t at = f[9].find("hosts=");
    if (at == std::string::npos) return {};
    std::vector<uint64_t> hosts;
    std::stringstream list(f[9].substr(at + 6, f[9].find(',', at) - at - 6));
    for (std::string n; std::getline(list, n, '+');) hosts.push_back(std::stoull(n));
    return hosts;
  }
  return {};
}

TEST_F(NtfsFileRecovery, DamageFailsOnlyItsOwnFileWithItsOwnResult) {
  struct Case {
    const char* what;
    const char* image;
    // Damages the copy; the record of the file it breaks.
    std::function<uint64_t(ImageCopy&, const std::map<uint64_t, RecordFile>&, const std::string& manifest)> damage;
    int32_t expected;
  } const cases[] = {
      {"one byte of a compressed run list: its first sparse run takes the next bytes as a length of millions of "
       "clusters",
       "ntfs-compressed",
       [](ImageCopy& image, const std::map<uint64_t, RecordFile>& files, const std::string&) -> uint64_t {
         const uint64_t record = RecordOf(files, L"c/text.txt");
         const uint32_t runs = image.RunList(record);
         const std::string r = image.Record(record);
         if (runs == 0) return 0;
         // The first run without offset bytes: its header now says four length bytes.
         for (uint32_t at = runs; at < r.size() && r[at] != 0;) {
           const uint8_t header = uint8_t(r[at]);
           if ((header >> 4) == 0) {
             const uint64_t claim = U32(reinterpret_cast<const uint8_t*>(r.data()) + at + 1);
             EXPECT_GT(claim, 1u << 24) << "the bytes after the sparse run make no large length";
             image.SetRecordByte(record, at, 0x04);
             return record;
           }
           at += 1 + (header & 15) + (header >> 4);
         }
         return 0;
       },
       -1392},
      {"an extension record in the middle of a file's extents unreadable: a gap between extents", "ntfs-tree",
       [](ImageCopy& image, const std::map<uint64_t, RecordFile>& files, const std::string& manifest) -> uint64_t {
         const std::vector<uint64_t> hosts = ExtentHosts(manifest, "frag/split.txt");
         if (hosts.size() < 3) return 0;
         image.BreakRecord(hosts[hosts.size() / 2]);
         return hosts[0];
       },
       -1393},
      {"the last extension record of a file unreadable: its data ends before the file does", "ntfs-tree",
       [](ImageCopy& image, const std::map<uint64_t, RecordFile>& files, const std::string& manifest) -> uint64_t {
         const std::vector<uint64_t> hosts = ExtentHosts(manifest, "frag/split.txt");
         if (hosts.size() < 3) return 0;
         image.BreakRecord(hosts.back());
         return hosts[0];
       },
       -1392},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string manifest = kImages + "/ntfs/" + c.image + ".manifest";
    const auto files = FilesByRecord(manifest);
    ImageCopy image(kImages + "/ntfs/" + c.image + ".img");
    const uint64_t damaged = c.damage(image, files, manifest);
    ASSERT_NE(damaged, 0u) << "the image does not hold what the case damages";
    const std::wstring copy = m_work + L"\\image" + std::to_wstring(++n) + L".img";
    CStorage::CNTFSScanTask* task = Scan(image.Save(copy));
    ASSERT_NE(task, nullptr);
    const std::wstring target = m_work + L"\\target" + std::to_wstring(n);
    MakeFolders(target);
    for (const auto& f : files) {
      const std::wstring name = std::to_wstring(f.first);
      const int32_t r = task->RecoverOneFile(target.c_str(), f.first, (L"\\" + name).c_str());
      const std::string data = ReadAll(target + L"\\" + name);
      if (f.first == damaged) {
        EXPECT_EQ(r, c.expected) << Utf8(f.second.path);
        EXPECT_FALSE(Exists(target + L"\\" + name)) << "the partial target is deleted";
        continue;
      }
      EXPECT_EQ(r, 0) << Utf8(f.second.path);
      EXPECT_EQ(data.size(), f.second.size) << Utf8(f.second.path);
      EXPECT_EQ(Sha256(data), f.second.sha256) << Utf8(f.second.path);
    }
    ASSERT_EQ(m_storage.CloseScanTask(m_ids.back()), 0);
    m_ids.pop_back();
    DeleteFileW(copy.c_str());
  }
}

TEST_F(NtfsFileRecovery, CompressedRunsCostNoMoreThanTheFilesUnitsWhateverTheyClaim) {
  CStorage::CNTFSScanTask* task = Scan(kImages + "/ntfs/ntfs-compressed.img");
  ASSERT_NE(task, nullptr);
  constexpr uint32_t kCluster = 4096, kUnit = 16 * kCluster;
  constexpr uint64_t kFileSize = 150001;  // three units, the last one cut
  struct Case {
    const char* what;
    std::vector<uint8_t> runs;
    std::string content;  // what the file holds afterwards
  } const cases[] = {
      // 2^18 clusters: a gigabyte that a file of 150001 bytes does not have.
      {"a sparse run of 2^18 clusters", {0x03, 0x00, 0x00, 0x04, 0x00}, std::string(kFileSize, '\0')},
      {"a stored run of 2^18 clusters from cluster 0", {0x13, 0x00, 0x00, 0x04, 0x00, 0x00},
       ReadAll(WindowsPath(kImages + "/ntfs/ntfs-compressed.img")).substr(0, kFileSize)},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring path = m_work + L"\\out" + std::to_wstring(++n);
    HANDLE target = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(target, INVALID_HANDLE_VALUE);
    {
      CNTFSCompressedStream stream(L"bound", kUnit, 1, 0, target, uint32_t(kFileSize), 0);
      EXPECT_EQ(task->ReadCompressedRuns(kUnit, c.runs.data(), uint32_t(c.runs.size()), kCluster, &stream), 0);
      EXPECT_EQ(stream.Finish(), 0);
      // The count that proves the bound: every byte the runs handed over.
      EXPECT_EQ(stream.BytesTaken(), 3u * kUnit);
      EXPECT_EQ(stream.Remaining(), 0u);
    }
    CloseHandle(target);
    EXPECT_TRUE(ReadAll(path) == c.content);
  }
}

TEST_F(NtfsFileRecovery, EveryAllocationOfARecoveryCanFailCleanly) {
  CStorage::CNTFSScanTask* task = Scan(kImages + "/ntfs/ntfs-compressed.img");
  ASSERT_NE(task, nullptr);
  const auto files = FilesByRecord(kImages + "/ntfs/ntfs-compressed.manifest");
  // Compressed (stored, sparse and mixed units), plain in one extent and in three, sparse.
  const std::vector<std::wstring> paths = {L"c/text.txt", L"c/mixed.bin", L"c/raw.bin", L"plain/frag.txt",
                                           L"plain/sparse.bin", L"plain/odd.bin"};
  std::vector<RecoverIdItem> items;
  for (const std::wstring& path : paths) {
    const uint64_t record = RecordOf(files, path.c_str());
    ASSERT_NE(record, 0u) << Utf8(path);
    items.push_back(RecoverIdItem{record, path.c_str(), 0});
  }
  // One recovery into a fresh folder with the given allocation failing (0: none): its
  // files are whole, exact and counted. Whether the failure fired.
  const auto recoverOnce = [&](const std::wstring& target, int nth, bool onward) {
    MakeFolders(target);
    task->SetTargetPath(target.c_str());
    SetAllocationFailureAtForTest(nth, onward);
    const int32_t started = task->RecoverFileByID(int32_t(items.size()), L"/", items.data());
    int32_t recovered = 0, finished = 0;
    if (started == 0) {
      EXPECT_TRUE(WaitFor([&] { task->GetRecoverProgress(&recovered, &finished); return finished == 1; }, 120000));
    } else {
      EXPECT_EQ(started, kResultNoMemory);
      task->GetRecoverProgress(&recovered, &finished);
      EXPECT_EQ(finished, 1) << "a refused start leaves the task idle";
      recovered = 0;
    }
    const bool fired = AllocationFailureFiredForTest();
    SetAllocationFailureAtForTest(0);
    const std::vector<std::wstring> written = ListFiles(target);
    EXPECT_EQ(int32_t(written.size()), recovered);
    for (const std::wstring& w : written) {
      const uint64_t record = RecordOf(files, w.c_str());
      EXPECT_NE(record, 0u) << Utf8(w) << " is no file of the request";
      if (record == 0) continue;
      std::wstring path = target + L"\\" + w;
      std::replace(path.begin(), path.end(), L'/', L'\\');
      const std::string data = ReadAll(path);
      EXPECT_EQ(data.size(), files.at(record).size) << Utf8(w);
      EXPECT_EQ(Sha256(data), files.at(record).sha256) << Utf8(w);
    }
    if (!fired) EXPECT_EQ(recovered, int32_t(items.size())) << "no failure, every file";
    return fired;
  };
  // A whole round first: the system opens handles of its own on first use (the crypto
  // provider of the digests among them; GoogleTest's first trace on a thread starts a
  // watcher that holds one).
  {
    SCOPED_TRACE("one whole round");
    EXPECT_FALSE(recoverOnce(m_work + L"\\whole", 0, false));
  }
  const size_t tasks = m_storage.TaskCount();
  const int handles = OwnHandleCount();
  ASSERT_GT(handles, 0);
  int sweeps = 0;
  for (const bool onward : {false, true}) {
    for (int nth = 1;; ++nth) {
      SCOPED_TRACE((onward ? "from allocation " : "allocation ") + std::to_string(nth));
      ASSERT_LT(nth, 1000) << "a recovery without end of allocations";
      const bool fired =
          recoverOnce(m_work + L"\\" + (onward ? L"onward" : L"once") + std::to_wstring(nth), nth, onward);
      EXPECT_EQ(OwnHandleCount(), handles) << "handles left open";
      EXPECT_EQ(m_storage.TaskCount(), tasks);
      if (!fired) break;
      ++sweeps;
    }
  }
  EXPECT_GT(sweeps, 2 * int(items.size())) << "each file asks for memory of its own";
}

}  // namespace
