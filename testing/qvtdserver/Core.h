// Process-wide state of the stand-in core: the disks of the image list, the handles
// handed out (checked before use, freed only when the library unloads), the host's
// read-error handler and the test hooks.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <vector>

#include "Disk.h"
#include "qvtdserver.h"

namespace qvtd {

class Core {
public:
  static Core& Get();

  // Re-reads the image list and returns the disks in list order. Disks whose image
  // is unchanged keep their objects, so handles of running tasks stay valid.
  std::vector<Disk*> Enumerate();
  std::vector<Disk*> Current() const;
  Disk* DiskAt(int index) const;

  // Handle checks: null unless the value is a disk context / partition handle issued here.
  Disk* FindDisk(const void* context) const;
  const Partition* FindPartition(const void* handle) const;

  // The image list: QvtdSetImages' list, else QVTD_IMAGES, else the INI beside the DLL.
  void SetImagesOverride(const char* paths);
  std::vector<std::string> ImageList() const;

  void SetErrorHandler(QvtdScanErrorHandler host, QvtdErrorWait wait);
  void ErrorHandler(QvtdScanErrorHandler& host, QvtdErrorWait& wait) const;

  // Values the scan routines read.
  std::atomic<int> recordDelayMs{0};
  std::atomic<int> faultKind{0};
  // Takes the pending fault (once).
  int TakeFault() { return faultKind.exchange(0); }

  static std::string ModuleFolder();  // with a trailing '\'
  static HMODULE& Module();

private:
  Core() = default;

  mutable std::shared_mutex m_lock;  // disks, current list and handle sets
  std::vector<std::unique_ptr<Disk>> m_disks;  // every disk ever opened
  std::vector<Disk*> m_current;
  std::set<const void*> m_diskHandles;
  std::set<const void*> m_partitionHandles;

  mutable std::mutex m_listLock;
  bool m_hasOverride = false;
  std::string m_override;

  mutable std::mutex m_handlerLock;
  QvtdScanErrorHandler m_host = nullptr;
  QvtdErrorWait m_wait = nullptr;
};

}  // namespace qvtd
