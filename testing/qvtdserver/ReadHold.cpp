// Test hook of the stand-in: a hold on ReadPartition, so that a test can act while the
// reader is known to be in the middle of its work (a recovery mid-file), and let it go
// on afterwards, with no sleep in between.
#include <windows.h>

#include <mutex>

#include "Handles.h"
#include "ReadHold.h"
#include "qvtdserver.h"

namespace {

struct ReadHold {
  std::mutex lock;
  bool armed = false;
  long left = 0;  // reads still let through before the hold closes
  qvtd::UniqueHandle waiting{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};  // set once a read waits
  qvtd::UniqueHandle open{::CreateEventW(nullptr, TRUE, TRUE, nullptr)};      // reset while closed
};

ReadHold& Hold() {
  static ReadHold hold;
  return hold;
}

}  // namespace

void qvtd::PassReadHold() {
  ReadHold& hold = Hold();
  {
    std::lock_guard<std::mutex> held(hold.lock);
    if (!hold.armed) return;
    if (hold.left > 0) {
      --hold.left;
      return;
    }
    ::SetEvent(hold.waiting.Get());
  }
  ::WaitForSingleObject(hold.open.Get(), INFINITE);
}

int QVTD_API QvtdHoldReads(int afterReads) {
  if (afterReads < 0) return -ERROR_INVALID_PARAMETER;
  ReadHold& hold = Hold();
  std::lock_guard<std::mutex> held(hold.lock);
  hold.armed = true;
  hold.left = afterReads;
  ::ResetEvent(hold.waiting.Get());
  ::ResetEvent(hold.open.Get());
  return 0;
}

int QVTD_API QvtdWaitReadHeld(int milliseconds) {
  if (milliseconds < 0) return -ERROR_INVALID_PARAMETER;
  return ::WaitForSingleObject(Hold().waiting.Get(), DWORD(milliseconds)) == WAIT_OBJECT_0 ? 0 : WAIT_TIMEOUT;
}

int QVTD_API QvtdReleaseReads(void) {
  ReadHold& hold = Hold();
  std::lock_guard<std::mutex> held(hold.lock);
  hold.armed = false;
  ::SetEvent(hold.open.Get());
  return 0;
}
