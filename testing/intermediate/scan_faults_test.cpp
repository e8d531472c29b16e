// Allocation failures swept over every allocation of an NTFS scan (normal and formatted),
// from the start through browsing the result to the close: each run must end in a
// clean result code, with no task and no handle left behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "test_support.h"
#include "Interface.h"

namespace {

const std::string kImages = RECOVERY_IMAGES_DIR;

bool IsCleanResult(int32_t r) { return r == kResultOk || r == kResultNoMemory; }

// Pages through one enumeration until it ends (page(handle 0) opens it, page(handle)
// continues it); its handle is closed again.
template <class Page>
void PageThrough(CStorage::CScanTask& task, const char* what, Page page) {
  ScanFileRecord records[16];
  int32_t got = 0, handle = 0;
  const int32_t r = page(0, records, &got, &handle);
  ASSERT_TRUE(IsCleanResult(r)) << what << " answered " << r;
  if (r != kResultOk) return;
  for (int pages = 0; got > 0; ++pages) {
    ASSERT_LT(pages, 100000) << what << " never ends";
    ASSERT_EQ(page(handle, records, &got, nullptr), kResultOk) << what;
  }
  EXPECT_EQ(task.CloseEnumHandle(handle), kResultOk) << what;
}

// What a host reads after a scan: the top of the tree, the four lists, the type table.
void Browse(CStorage::CScanTask& task) {
  PageThrough(task, "the tree's top", [&](int32_t handle, ScanFileRecord* records, int32_t* got, int32_t* out) {
    return task.EnumScannedFiles(handle ? nullptr : L"/", handle, 16, records, got, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, out);
  });
  for (int32_t list = 0; list < 4; ++list) {
    PageThrough(task, "a global list", [&](int32_t handle, ScanFileRecord* records, int32_t* got, int32_t* out) {
      return task.GlobalEnumScannedFiles(list, handle, 16, records, got, out);
    });
  }
  FileTypeRecord types[64];
  int32_t total = 0, got = 0;
  EXPECT_EQ(task.EnumFileTypes(0, 64, &total, &got, types), kResultOk);
}

struct Run {
  bool started = false;
  bool fired = false;
  int32_t files = 0;
};

// One scan of disk 0, partition 1 with the failure armed (nth 0: none), browsed and closed.
Run ScanOnce(CStorage& storage, bool formatted, int nth, bool onward) {
  Run run;
  SetAllocationFailureAtForTest(nth, onward);
  int32_t id = 0;
  const int32_t r = formatted ? storage.StartScanFormattedTask(0, 1, 0, &id) : storage.StartScanTask(0, 1, 0, &id);
  EXPECT_TRUE(IsCleanResult(r)) << "the start answered " << r;
  if (r == kResultOk) {
    run.started = true;
    std::shared_ptr<CStorage::CScanTask> task = storage.FindTask(id);
    EXPECT_TRUE(task);
    if (task) {
      EXPECT_TRUE(WaitFor([&] { return task->IsFinished(); }, 60000)) << "the scan never finishes";
      Browse(*task);
      task->GetScanProgress(nullptr, &run.files, nullptr, nullptr);
      task.reset();
    }
    EXPECT_EQ(storage.CloseScanTask(id), kResultOk);
  }
  run.fired = AllocationFailureFiredForTest();
  SetAllocationFailureAtForTest(0);
  return run;
}

void Sweep(const char* image, bool formatted) {
  ASSERT_NE(CoreModule(), nullptr);
  if (!CoreFn<void*>("NTFSEnumVirtualFRs")) GTEST_SKIP() << "the stand-in core has no NTFS walk";
  CoreFn<int(__cdecl*)(const char*)>("QvtdSetImages")((kImages + "/ntfs/" + image + ".img").c_str());
  CStorage storage;
  ASSERT_EQ(storage.Initialize(), 1);
  storage.SetCloseTimeoutForTest(60000);
  // A clean scan first: what one-time set-up costs is not a leak (GoogleTest's trace
  // stack takes a handle of its own when first used).
  { SCOPED_TRACE("clean"); }
  const Run clean = ScanOnce(storage, formatted, 0, false);
  ASSERT_TRUE(clean.started);
  ASSERT_GT(clean.files, 0);
  const int handles = OwnHandleCount();
  ASSERT_GT(handles, 0);

  for (bool onward : {false, true}) {
    int nth = 1;
    for (;; ++nth) {
      SCOPED_TRACE(std::string(onward ? "every allocation from " : "allocation ") + std::to_string(nth));
      ASSERT_LT(nth, 100000) << "the sweep never ends";
      const Run run = ScanOnce(storage, formatted, nth, onward);
      if (::testing::Test::HasFatalFailure()) return;
      EXPECT_EQ(storage.TaskCount(), 0u);
      // A thread on its way out may hold a handle a moment longer; a leak stays.
      WaitFor([&] { return OwnHandleCount() <= handles; }, 20000);
      EXPECT_EQ(OwnHandleCount(), handles) << "handles left behind";
      if (::testing::Test::HasFailure()) return;
      if (!run.fired) {
        // Past the last allocation the scan is whole again.
        EXPECT_TRUE(run.started);
        EXPECT_EQ(run.files, clean.files);
        break;
      }
    }
    std::printf("%s%s: %d allocations swept%s\n", image, formatted ? " (formatted)" : "", nth - 1,
                onward ? ", failing onward" : "");
  }
}

TEST(ScanAllocationSweep, NormalNtfsScan) { Sweep("ntfs-tree", false); }

TEST(ScanAllocationSweep, FormattedNtfsScan) { Sweep("ntfs-reformatted", true); }

}  // namespace
