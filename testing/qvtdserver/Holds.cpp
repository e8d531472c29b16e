// The stand-in core's hold hooks: the record hold of the walks and the signal of a
// reading thread that enters the host's wait.
#include "Holds.h"

namespace qvtd {

Holds& Holds::Get()
{
  static Holds holds;
  return holds;
}

bool Holds::ArmRecordHold(int nth, HANDLE held, HANDLE release)
{
  if (nth < 0) return false;
  std::lock_guard<std::mutex> hold(m_lock);
  const bool arm = nth > 0 && held && release;
  m_held = arm ? held : nullptr;
  m_release = arm ? release : nullptr;
  m_recordsLeft = arm ? nth : 0;
  return true;
}

void Holds::BeforeRecord()
{
  if (m_recordsLeft.load() <= 0) return;
  HANDLE held = nullptr;
  HANDLE release = nullptr;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_recordsLeft <= 0 || --m_recordsLeft != 0) return;
    held = m_held;
    release = m_release;
    m_held = m_release = nullptr;
  }
  SetEvent(held);
  WaitForSingleObject(release, kHoldLimitMs);
}

void Holds::SetErrorWaitSignal(HANDLE entered) { m_waitEntered = entered; }

void Holds::BeforeErrorWait()
{
  if (HANDLE entered = m_waitEntered.load()) SetEvent(entered);
}

}  // namespace qvtd
