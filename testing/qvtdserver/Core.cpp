// The stand-in core's process-wide state: the image list, disks kept across
// enumerations, the checks of every handle handed out, and the host's error handler.
#include "Core.h"

#include <stdio.h>
#include <string.h>
#include <ctype.h>
#include <algorithm>

namespace qvtd {

Core& Core::Get()
{
  static Core core;
  return core;
}

HMODULE& Core::Module()
{
  static HMODULE module = nullptr;
  return module;
}

std::string Core::ModuleFolder()
{
  char path[MAX_PATH * 2] = {};
  DWORD n = GetModuleFileNameA(Module(), path, DWORD(sizeof(path)));
  if (n == 0 || n >= sizeof(path)) return std::string();
  std::string s(path, n);
  size_t slash = s.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

static std::string Trim(const std::string& s)
{
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// "QVTD-" and the FNV-1a hash of the normalised path: stable for an image across runs.
static std::string SerialOf(const std::string& fullPath)
{
  uint64_t h = 0xCBF29CE484222325ull;
  for (unsigned char c : fullPath) {
    h ^= c;
    h *= 0x100000001B3ull;
  }
  char text[32];
  snprintf(text, sizeof(text), "QVTD-%016llX", (unsigned long long)h);
  return text;
}

static std::vector<std::string> SplitList(const std::string& list)
{
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t semi = list.find(';', start);
    if (semi == std::string::npos) semi = list.size();
    std::string item = Trim(list.substr(start, semi - start));
    if (!item.empty()) out.push_back(item);
    start = semi + 1;
  }
  return out;
}

void Core::SetImagesOverride(const char* paths)
{
  std::lock_guard<std::mutex> held(m_listLock);
  m_hasOverride = paths != nullptr;
  m_override = paths ? paths : "";
}

std::vector<std::string> Core::ImageList() const
{
  {
    std::lock_guard<std::mutex> held(m_listLock);
    if (m_hasOverride) return SplitList(m_override);
  }
  DWORD need = GetEnvironmentVariableA("QVTD_IMAGES", nullptr, 0);
  if (need > 0) {
    std::string value(need, '\0');
    DWORD got = GetEnvironmentVariableA("QVTD_IMAGES", &value[0], need);
    if (got < need) {
      value.resize(got);
      return SplitList(value);
    }
  }
  std::vector<std::string> out;
  const std::string ini = ModuleFolder() + "qvtdserver.ini";
  for (int i = 0; i < 1024; ++i) {
    char key[32];
    snprintf(key, sizeof(key), "image%d", i);
    char value[4096] = {};
    DWORD got = GetPrivateProfileStringA("disks", key, "", value, DWORD(sizeof(value)), ini.c_str());
    if (got == 0) break;
    std::string item = Trim(std::string(value, got));
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

static std::string FullPath(const std::string& path)
{
  char full[MAX_PATH * 4] = {};
  DWORD n = GetFullPathNameA(path.c_str(), DWORD(sizeof(full)), full, nullptr);
  std::string s = (n > 0 && n < sizeof(full)) ? std::string(full, n) : path;
  for (char& c : s) {
    if (c == '/') c = '\\';
    else if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return s;
}

std::vector<Disk*> Core::Enumerate()
{
  const std::vector<std::string> images = ImageList();
  std::unique_lock<std::shared_mutex> held(m_lock);
  std::vector<Disk*> next;
  for (const std::string& item : images) {
    // "path|C": the image stands for a mounted volume with that drive letter.
    std::string image = item;
    char letter = 0;
    const size_t bar = item.rfind('|');
    if (bar != std::string::npos && bar + 2 == item.size() && isalpha(static_cast<unsigned char>(item[bar + 1]))) {
      image = Trim(item.substr(0, bar));
      letter = char(toupper(static_cast<unsigned char>(item[bar + 1])));
    }
    const std::string full = FullPath(image);
    // Reuse the object of an unchanged image that this enumeration has not taken yet.
    Disk* reuse = nullptr;
    ImageFile probe;
    if (probe.Open(image) == Res::Ok) {
      for (auto& d : m_disks) {
        if (d->fullPath == full && d->Size() == probe.Size() && d->WriteTime() == probe.WriteTime() &&
            std::find(next.begin(), next.end(), d.get()) == next.end()) {
          reuse = d.get();
          break;
        }
      }
    }
    if (!reuse) {
      auto disk = std::make_unique<Disk>();
      if (disk->Open(image) != Res::Ok) {
        CoreLog(-2, "Core::Enumerate", __LINE__, "cannot open image %s (error %lu)", image.c_str(),
                (unsigned long)GetLastError());
        continue;
      }
      disk->fullPath = full;
      disk->serial = SerialOf(full);
      m_diskHandles.insert(disk.get());
      m_partitionHandles.insert(&disk->whole);
      for (auto& p : disk->partitions) m_partitionHandles.insert(p.get());
      reuse = disk.get();
      m_disks.push_back(std::move(disk));
    }
    reuse->driveLetter = letter;
    next.push_back(reuse);
  }
  for (Disk* d : m_current) d->index = -1;
  for (size_t i = 0; i < next.size(); ++i) next[i]->index = int(i);
  m_current = next;
  return m_current;
}

std::vector<Disk*> Core::Current() const
{
  std::shared_lock<std::shared_mutex> held(m_lock);
  return m_current;
}

Disk* Core::DiskAt(int index) const
{
  std::shared_lock<std::shared_mutex> held(m_lock);
  if (index < 0 || size_t(index) >= m_current.size()) return nullptr;
  return m_current[size_t(index)];
}

Disk* Core::FindDisk(const void* context) const
{
  if (!context) return nullptr;
  std::shared_lock<std::shared_mutex> held(m_lock);
  // Objects are never freed while the library is loaded, so the pointer stays good.
  return m_diskHandles.count(context) ? static_cast<Disk*>(const_cast<void*>(context)) : nullptr;
}

const Partition* Core::FindPartition(const void* handle) const
{
  if (!handle) return nullptr;
  std::shared_lock<std::shared_mutex> held(m_lock);
  return m_partitionHandles.count(handle) ? static_cast<const Partition*>(handle) : nullptr;
}

void Core::SetErrorHandler(QvtdScanErrorHandler host, QvtdErrorWait wait)
{
  std::lock_guard<std::mutex> held(m_handlerLock);
  m_host = host;
  m_wait = wait;
}

void Core::ErrorHandler(QvtdScanErrorHandler& host, QvtdErrorWait& wait) const
{
  std::lock_guard<std::mutex> held(m_handlerLock);
  host = m_host;
  wait = m_wait;
}

}  // namespace qvtd
