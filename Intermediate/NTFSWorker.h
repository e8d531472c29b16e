// Workers of the NTFS scans: one thread that walks the MFT through the core, guarded
// so that a fault inside the core ends the scan with what it found.
#pragma once
#include "Interface.h"

class CNTFSWorker : public IVolumeWorker {
 public:
  CNTFSWorker(CStorage* storage, CStorage::CScanTask* task, int formatted = 0)
      : IVolumeWorker(storage, task), m_formatted(formatted) {}

 protected:
  DWORD Run() override { return ScanRoutine(); }
  DWORD ScanRoutine();
  // After a fault in the walk: logged, and the scan finished without re-reads.
  void ScanRoutineHandler();

 private:
  int m_formatted;
};

class CNTFSFormattedWorker : public CNTFSWorker {
 public:
  CNTFSFormattedWorker(CStorage* storage, CStorage::CScanTask* task) : CNTFSWorker(storage, task, 1) {}
};

// Builds the NTFS task of a starter with its worker; 0 or -8.
int32_t BuildNtfsScanTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task);
int32_t BuildNtfsScanFormattedTask(const TaskParams& params, std::unique_ptr<CStorage::CScanTask>& task);
