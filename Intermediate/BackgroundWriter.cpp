#include "BackgroundWriter.h"

#include <algorithm>
#include <cstring>

#include "Interface.h"
#include "UniqueRes.h"

namespace {
thread_local CBackgroundWriter* t_current = nullptr;
}

CBackgroundWriter::CBackgroundWriter(HANDLE target) : m_target(target) {
  ::InitializeCriticalSection(&m_lock);
  m_memory = TryAllocateArray<uint8_t>(size_t(kBuffers) * kBufferBytes);
  if (m_memory) m_thread = ::CreateThread(nullptr, 0, &CBackgroundWriter::ThreadMain, this, 0, nullptr);
}

CBackgroundWriter::~CBackgroundWriter() {
  Finish();
  ::DeleteCriticalSection(&m_lock);
}

CBackgroundWriter* CBackgroundWriter::Current() { return t_current; }

CBackgroundWriter::Use::Use(CBackgroundWriter* writer) : m_previous(t_current) { t_current = writer; }

CBackgroundWriter::Use::~Use() { t_current = m_previous; }

int32_t CBackgroundWriter::WriteNow(const uint8_t* bytes, uint32_t length) {
  DWORD written = 0;
  if (!::WriteFile(m_target, bytes, length, &written, nullptr)) return WindowsErrorCode(::GetLastError());
  if (written != length) return WindowsErrorCode(ERROR_WRITE_FAULT);
  return 0;
}

int32_t CBackgroundWriter::Write(const uint8_t* bytes, uint64_t length) {
  if (!m_thread) {
    while (length > 0) {
      const uint32_t piece = uint32_t(std::min<uint64_t>(length, 1u << 30));
      if (const int32_t r = WriteNow(bytes, piece)) return r;
      bytes += piece;
      length -= piece;
    }
    return 0;
  }
  CritSecLock hold(m_lock);
  while (length > 0 && m_error == 0) {
    const int fill = (m_next + m_queued) % kBuffers;
    const uint32_t take = uint32_t(std::min<uint64_t>(length, kBufferBytes - m_lengths[fill]));
    // The buffer being filled is the caller's alone: the copy needs no lock, but the
    // lock is cheap next to a megabyte's copy and keeps the ring simple.
    std::memcpy(m_memory.get() + size_t(fill) * kBufferBytes + m_lengths[fill], bytes, take);
    m_lengths[fill] += take;
    bytes += take;
    length -= take;
    if (m_lengths[fill] == kBufferBytes) {
      Submit();
      // The next buffer to fill must be free: wait while every one is queued.
      while (m_queued == kBuffers && m_error == 0) ::SleepConditionVariableCS(&m_changed, &m_lock, INFINITE);
    }
  }
  return m_error;
}

void CBackgroundWriter::Submit() {
  ++m_queued;
  ::WakeAllConditionVariable(&m_changed);
}

int32_t CBackgroundWriter::Finish() {
  if (!m_thread) return m_error;
  {
    CritSecLock hold(m_lock);
    if ((m_lengths[(m_next + m_queued) % kBuffers] != 0) && m_error == 0) Submit();
    m_stop = true;
    ::WakeAllConditionVariable(&m_changed);
  }
  ::WaitForSingleObject(m_thread, INFINITE);
  ::CloseHandle(m_thread);
  m_thread = nullptr;
  return m_error;
}

DWORD WINAPI CBackgroundWriter::ThreadMain(void* self) {
  static_cast<CBackgroundWriter*>(self)->Run();
  return 0;
}

void CBackgroundWriter::Run() {
  CritSecLock hold(m_lock);
  for (;;) {
    while (m_queued == 0 && !m_stop) ::SleepConditionVariableCS(&m_changed, &m_lock, INFINITE);
    if (m_queued == 0) return;
    const int index = m_next;
    const uint32_t length = m_lengths[index];
    int32_t result = 0;
    if (m_error == 0) {
      ::LeaveCriticalSection(&m_lock);
      result = WriteNow(m_memory.get() + size_t(index) * kBufferBytes, length);
      ::EnterCriticalSection(&m_lock);
    }
    if (result != 0 && m_error == 0) m_error = result;
    m_lengths[index] = 0;
    m_next = (m_next + 1) % kBuffers;
    --m_queued;
    ::WakeAllConditionVariable(&m_changed);
  }
}
