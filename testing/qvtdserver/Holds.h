// Hold hooks of the stand-in core: they stop a walk or a read in a known state until
// the test lets it go, so that tests wait on the state itself, never on a clock.
#pragma once
#include <windows.h>
#include <atomic>
#include <mutex>

namespace qvtd {

class Holds {
public:
  static Holds& Get();

  // Before the nth record handed over from now on (any walk), set held and wait for
  // release. nth 0 or a null event disarms. false for a negative nth.
  bool ArmRecordHold(int nth, HANDLE held, HANDLE release);
  // Called by the walks before each record they hand over.
  void BeforeRecord();

  // Set before every call of the host's wait function; null for none.
  void SetErrorWaitSignal(HANDLE entered);
  // Called by a reading thread right before it calls the wait function.
  void BeforeErrorWait();

private:
  Holds() = default;
  // A held walk goes on by itself after this long, so a failed test cannot hang it.
  static constexpr DWORD kHoldLimitMs = 120000;

  std::mutex m_lock;
  std::atomic<int> m_recordsLeft{0};  // 0: not armed
  HANDLE m_held = nullptr;
  HANDLE m_release = nullptr;
  std::atomic<HANDLE> m_waitEntered{nullptr};
};

}  // namespace qvtd
